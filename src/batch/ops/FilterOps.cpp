#include "batch/BatchOps.h"

namespace velmora::batch {

std::vector<OpDefinition> FilterOperations() {
  using K = ParamKind;
  return {
      {"Blur", {K::Double}, [](ImageProc& p, const Args& a) { p.Blur(a.Double(0)); }},
      {"Sharpen", {K::Int, K::Int}, [](ImageProc& p, const Args& a) { p.Sharpen(a.Int(0), a.Int(1)); }},
      {"Opening", {K::Int}, [](ImageProc& p, const Args& a) { p.Opening(a.Int(0)); }},
      {"Wave", {K::Int, K::Int, K::Int, K::Bool},
       [](ImageProc& p, const Args& a) { p.Wave(a.Int(0), a.Int(1), a.Int(2), a.Bool(3)); }},
      // Fill takes the packed triple red * 65536 + green * 256 + blue.
      {"Fill", {K::Int}, [](ImageProc& p, const Args& a) { p.Fill(a.Int(0)); }},
      {"AddSoftShadow", {K::Int, K::Int, K::Double, K::Bool, K::Color, K::Int},
       [](ImageProc& p, const Args& a) {
         p.AddSoftShadow(a.Int(0), a.Int(1), a.Double(2), a.Bool(3), a.Color(4), a.Int(5));
       }},
      {"AddInnerShadow", {K::Int, K::Int, K::Double, K::Color},
       [](ImageProc& p, const Args& a) { p.AddInnerShadow(a.Int(0), a.Int(1), a.Double(2), a.Color(3)); }},
  };
}

}  // namespace velmora::batch
