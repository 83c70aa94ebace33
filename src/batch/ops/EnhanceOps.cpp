#include "batch/BatchOps.h"

namespace velmora::batch {

std::vector<OpDefinition> EnhanceOperations() {
  using K = ParamKind;
  return {
      {"WhiteBalance_AutoWhite", {}, [](ImageProc& p, const Args&) { p.WhiteBalance_AutoWhite(); }},
      {"HistAutoEqualize", {}, [](ImageProc& p, const Args&) { p.HistAutoEqualize(); }},
      {"AdjustLumSatHistogram", {K::Double, K::Double},
       [](ImageProc& p, const Args& a) { p.AdjustLumSatHistogram(a.Double(0), a.Double(1)); }},
      {"AutoImageEnhance3", {K::Int, K::Double},
       [](ImageProc& p, const Args& a) { p.AutoImageEnhance3(a.Int(0), a.Double(1)); }},
      {"WallisFilter", {K::Int, K::Int, K::Int, K::Int, K::Int, K::Int, K::Int, K::Bool},
       [](ImageProc& p, const Args& a) {
         p.WallisFilter(a.Int(0), a.Int(1), a.Int(2), a.Int(3), a.Int(4), a.Int(5), a.Int(6), a.Bool(7));
       }},
  };
}

}  // namespace velmora::batch
