// What a running job last reported, kept for the window to show on its own
// clock, so reporting costs the job almost nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace torquelin {

// The latest status, detail, range and position. Written by the one thread
// that runs a job, read by the interface thread at any time; either may be
// the same thread. Reading never blocks the writer for longer than a copy of
// two lines of text.
class ProgressState {
 public:
  struct Snapshot {
    std::u16string status, detail;
    uint32_t range = 0, position = 0;
    // Grows with every change; equal versions show the same state.
    uint64_t version = 0;
  };

  void SetStatus(const std::u16string& text);
  void SetDetail(const std::u16string& text);
  // Keeps the position unless it would lie beyond the new end.
  void SetRange(uint32_t count);
  void ResetPosition();
  // A step past the end starts over at 0, as progress bars always have.
  void Step();
  // Empty lines and the bar at its start.
  void Clear();

  uint64_t Version() const { return version_.load(std::memory_order_acquire); }
  Snapshot Take() const;

 private:
  void Changed() { version_.fetch_add(1, std::memory_order_release); }

  mutable std::mutex textMutex_;
  std::u16string status_, detail_;
  std::atomic<uint32_t> range_{100};
  std::atomic<uint32_t> position_{0};
  std::atomic<uint64_t> version_{0};
};

}  // namespace torquelin
