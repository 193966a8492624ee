// WorkerThreads: the threads wait for a generation of work, run it, and
// count themselves out.
#include "engine/tree/worker_threads.h"

#include <system_error>

namespace torquelin {

WorkerThreads::WorkerThreads(unsigned count) {
  threads_.reserve(count);
  try {
    for (unsigned t = 0; t < count; ++t) threads_.emplace_back([this, t] { Loop(t); });
  } catch (const std::system_error&) {
    // The system refused another thread: the ones running do the work, and
    // with none the owner works alone.
  }
}

WorkerThreads::~WorkerThreads() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    returned_.wait(lock, [this] { return busy_ == 0; });
    end_ = true;
  }
  started_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void WorkerThreads::Start(std::function<void(unsigned)> work) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    returned_.wait(lock, [this] { return busy_ == 0; });
    work_ = std::move(work);
    busy_ = Count();
    ++generation_;
  }
  started_.notify_all();
}

void WorkerThreads::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  returned_.wait(lock, [this] { return busy_ == 0; });
}

void WorkerThreads::Loop(unsigned thread) {
  uint64_t done = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    started_.wait(lock, [&] { return end_ || generation_ != done; });
    if (generation_ == done) return;
    done = generation_;
    // Start waits for every thread to return before it replaces work_.
    lock.unlock();
    work_(thread);
    lock.lock();
    if (--busy_ == 0) returned_.notify_all();
  }
}

}  // namespace torquelin
