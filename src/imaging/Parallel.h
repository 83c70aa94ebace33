// Runs independent rows of an operation on all cores. Each row is computed
// exactly as the serial loop would compute it, so results never depend on
// the number of threads; only the order in which rows finish does.
#pragma once

#include <cstdint>
#include <functional>

namespace velmora {

// fn(begin, end) processes rows [begin, end). Blocks are handed out to the
// pool's threads and to the calling thread. `progress(lastRow)` is called
// on the calling thread only, with the last row of the contiguous run of
// rows done so far (never decreasing). Runs serially for small jobs, when
// called from inside a parallel job, or while another thread uses the pool.
void ParallelRows(int first, int last, const std::function<void(int begin, int end)>& fn,
                  const std::function<void(int lastRow)>& progress = {}, int minRowsPerBlock = 8);

// For reductions (histograms, sums): fn(chunk, firstRow, endRow) over
// `chunks` contiguous slices of [0, rows) on all cores. Callers merge exact
// per-chunk results, so the outcome does not depend on the thread count.
template <class Fn>
void ParallelChunks(int rows, int chunks, Fn&& fn) {
  ParallelRows(
      0, chunks,
      [&](int begin, int end) {
        for (int c = begin; c < end; ++c)
          fn(c, static_cast<int>(int64_t{rows} * c / chunks), static_cast<int>(int64_t{rows} * (c + 1) / chunks));
      },
      {}, 1);
}
// A chunk count that keeps every core busy.
int ParallelChunkCount(int rows);

// Number of threads ParallelRows uses (hardware threads, or the
// VELMORA_THREADS environment variable when set).
int ParallelThreadCount();
// Changes the number of threads (1 = serial); for tests and benchmarks.
void SetParallelThreadCount(int n);

}  // namespace velmora
