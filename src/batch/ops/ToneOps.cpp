#include "batch/BatchOps.h"

namespace velmora::batch {

std::vector<OpDefinition> ToneOperations() {
  using K = ParamKind;
  return {
      {"AdjustBrightnessContrastSaturation", {K::Int, K::Int, K::Int},
       [](ImageProc& p, const Args& a) { p.AdjustBrightnessContrastSaturation(a.Int(0), a.Int(1), a.Int(2)); }},
      {"Contrast", {K::Int}, [](ImageProc& p, const Args& a) { p.Contrast(a.Int(0)); }},
      {"IntensityRGBall", {K::Int, K::Int, K::Int},
       [](ImageProc& p, const Args& a) { p.IntensityRGBall(a.Int(0), a.Int(1), a.Int(2)); }},
      {"HSLvar", {K::Int, K::Int, K::Int}, [](ImageProc& p, const Args& a) { p.HSLvar(a.Int(0), a.Int(1), a.Int(2)); }},
      {"Colorize", {K::Int, K::Int, K::Double},
       [](ImageProc& p, const Args& a) { p.Colorize(a.Int(0), a.Int(1), a.Double(2)); }},
      {"ConvertToGray", {}, [](ImageProc& p, const Args&) { p.ConvertToGray(); }},
      {"Negative", {}, [](ImageProc& p, const Args&) { p.Negative(); }},
  };
}

}  // namespace velmora::batch
