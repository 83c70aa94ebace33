#include <algorithm>

#include "batch/BatchOps.h"

namespace velmora::batch {

std::vector<OpDefinition> GeometryOperations() {
  using K = ParamKind;
  std::vector<std::string> filters;
  for (int i = 0; i < kResampleFilterCount; ++i) filters.push_back(ResampleFilterName(static_cast<ResampleFilter>(i)));
  return {
      {"Resample", {K::Int, K::Int, K::Choice},
       [](ImageProc& p, const Args& a) { p.Resample(a.Int(0), a.Int(1), static_cast<ResampleFilter>(a.Choice(2))); },
       {{}, {}, filters}},
      // The mode is a byte; values outside 0..255 are held to its range.
      {"Rotate", {K::Bool, K::Int, K::Double, K::Color},
       [](ImageProc& p, const Args& a) {
         p.Rotate(a.Bool(0), static_cast<uint8_t>(std::clamp(a.Int(1), 0, 255)), a.Double(2), a.Color(3));
       }},
      {"Flip", {K::Int}, [](ImageProc& p, const Args& a) { p.Flip(a.Int(0)); }},
      {"CropSel", {}, [](ImageProc& p, const Args&) { p.CropSel(); }},
  };
}

}  // namespace velmora::batch
