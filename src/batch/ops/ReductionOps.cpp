#include "batch/BatchOps.h"

namespace velmora::batch {

std::vector<OpDefinition> ReductionOperations() {
  using K = ParamKind;
  return {
      {"ConvertTo", {K::Int, K::Bool}, [](ImageProc& p, const Args& a) { p.ConvertTo(a.Int(0), a.Bool(1)); }},
      {"ConvertToBWThreshold", {K::Int}, [](ImageProc& p, const Args& a) { p.ConvertToBWThreshold(a.Int(0)); }},
      {"ConvertToBWOrdered", {}, [](ImageProc& p, const Args&) { p.ConvertToBWOrdered(); }},
      {"ConvertTo24Bit", {}, [](ImageProc& p, const Args&) { p.ConvertTo24Bit(); }},
  };
}

}  // namespace velmora::batch
