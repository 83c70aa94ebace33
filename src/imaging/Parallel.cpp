#include "imaging/Parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora {

namespace {

thread_local bool tInsideJob = false;

class Pool {
 public:
  explicit Pool(int threads) {
    for (int i = 0; i < threads - 1; ++i) workers_.emplace_back([this] { WorkerLoop(); });
  }
  ~Pool() {
    {
      std::lock_guard lock(m_);
      stop_ = true;
    }
    wake_.notify_all();
    for (auto& t : workers_) t.join();
  }
  int Threads() const { return static_cast<int>(workers_.size()) + 1; }

  // Runs blocks 0..count-1 through `block`; the caller takes part and calls
  // `afterOwnBlock` after each block it ran itself.
  void Run(int count, const std::function<void(int)>& block, const std::function<void()>& afterOwnBlock) {
    {
      std::lock_guard lock(m_);
      job_ = &block;
      count_ = count;
      next_.store(0);
      active_ = static_cast<int>(workers_.size());
      ++generation_;
    }
    wake_.notify_all();
    tInsideJob = true;
    for (int i; (i = next_.fetch_add(1)) < count;) {
      block(i);
      if (afterOwnBlock) afterOwnBlock();
    }
    tInsideJob = false;
    std::unique_lock lock(m_);
    done_.wait(lock, [this] { return active_ == 0; });
    job_ = nullptr;
  }

  std::mutex busy;  // one job at a time

 private:
  void WorkerLoop() {
    tInsideJob = true;
    uint64_t seen = 0;
    for (;;) {
      const std::function<void(int)>* job;
      int count;
      {
        std::unique_lock lock(m_);
        wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
        if (stop_) return;
        seen = generation_;
        job = job_;
        count = count_;
      }
      for (int i; (i = next_.fetch_add(1)) < count;) (*job)(i);
      std::lock_guard lock(m_);
      if (--active_ == 0) done_.notify_one();
    }
  }

  std::vector<std::thread> workers_;
  std::mutex m_;
  std::condition_variable wake_, done_;
  const std::function<void(int)>* job_ = nullptr;
  int count_ = 0;
  int active_ = 0;
  uint64_t generation_ = 0;
  bool stop_ = false;
  std::atomic<int> next_{0};
};

std::mutex gPoolMutex;
std::unique_ptr<Pool> gPool;
int gThreads = 0;

int DefaultThreads() {
  if (const char* env = std::getenv("VELMORA_THREADS")) {
    const int n = std::atoi(env);
    if (n >= 1) return std::min(n, 256);
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

Pool* GetPool() {
  std::lock_guard lock(gPoolMutex);
  if (gThreads == 0) gThreads = DefaultThreads();
  if (!gPool || gPool->Threads() != gThreads) {
    gPool.reset();
    if (gThreads > 1) gPool = std::make_unique<Pool>(gThreads);
  }
  return gPool.get();
}

}  // namespace

int ParallelChunkCount(int rows) { return std::max(1, std::min(rows, 4 * ParallelThreadCount())); }

int ParallelThreadCount() {
  std::lock_guard lock(gPoolMutex);
  if (gThreads == 0) gThreads = DefaultThreads();
  return gThreads;
}

void SetParallelThreadCount(int n) {
  std::lock_guard lock(gPoolMutex);
  gThreads = std::clamp(n, 1, 256);
}

void ParallelRows(int first, int last, const std::function<void(int, int)>& fn,
                  const std::function<void(int)>& progress, int minRowsPerBlock) {
  const int rows = last - first;
  if (rows <= 0) return;
  Pool* pool = tInsideJob ? nullptr : GetPool();
  std::unique_lock<std::mutex> busy;
  if (pool) {
    busy = std::unique_lock<std::mutex>(pool->busy, std::try_to_lock);
    if (!busy.owns_lock()) pool = nullptr;
  }
  const int threads = pool ? pool->Threads() : 1;
  // About 16 blocks per thread keeps the cores evenly loaded and gives the
  // progress bar enough steps.
  const int blockRows = std::max({1, minRowsPerBlock, rows / (threads * 16)});
  const int blocks = (rows + blockRows - 1) / blockRows;
  if (!pool || blocks < 2) {
    for (int b = 0; b < blocks; ++b) {
      const int begin = first + b * blockRows, end = std::min(last, begin + blockRows);
      fn(begin, end);
      if (progress) progress(end - 1);
    }
    return;
  }
  // Progress reports the end of the leading run of finished blocks.
  std::unique_ptr<std::atomic<bool>[]> finished(new std::atomic<bool>[blocks]);
  for (int b = 0; b < blocks; ++b) finished[b].store(false);
  int reported = 0;
  const std::function<void(int)> block = [&](int b) {
    const int begin = first + b * blockRows, end = std::min(last, begin + blockRows);
    fn(begin, end);
    finished[b].store(true, std::memory_order_release);
  };
  std::function<void()> after;
  if (progress) {
    after = [&] {
      int r = reported;
      while (r < blocks && finished[r].load(std::memory_order_acquire)) ++r;
      if (r != reported) {
        reported = r;
        progress(std::min(last, first + r * blockRows) - 1);
      }
    };
  }
  pool->Run(blocks, block, after);
  if (progress && reported < blocks) progress(last - 1);
}

}  // namespace velmora
