// A set of worker threads that run one work after another. A scan starts
// its threads once: the collecting pass runs its work on them first, then
// the file ids theirs. The compact writer encodes its blocks on a set of its
// own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace torquelin {

class WorkerThreads {
 public:
  // Starts up to `count` threads, fewer (none at all) when the system
  // refuses more; Count() says how many run.
  explicit WorkerThreads(unsigned count);
  // Waits for the work last started to return on every thread, then ends
  // the threads.
  ~WorkerThreads();
  WorkerThreads(const WorkerThreads&) = delete;
  WorkerThreads& operator=(const WorkerThreads&) = delete;

  unsigned Count() const { return static_cast<unsigned>(threads_.size()); }

  // Calls work(t) once on every thread t below Count(), after the work
  // started before has returned on all of them; returns at once. The work
  // must not throw, and must return by itself once its owner has told it
  // to (Wait does not tell it). Called by one thread only, the one that owns the object.
  void Start(std::function<void(unsigned)> work);
  // Returns once the work last started has returned on every thread.
  void Wait();

 private:
  void Loop(unsigned thread);

  std::mutex mutex_;
  std::condition_variable started_;   // new work, or the end
  std::condition_variable returned_;  // the work returned on every thread
  std::function<void(unsigned)> work_;
  uint64_t generation_ = 0;  // counts the works started
  unsigned busy_ = 0;        // threads still in the current work
  bool end_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace torquelin
