// The shared progress record between a job and the window.
#include "ui/progress_state.h"

namespace torquelin {

void ProgressState::SetStatus(const std::u16string& text) {
  {
    std::lock_guard lock(textMutex_);
    status_ = text;
  }
  Changed();
}

void ProgressState::SetDetail(const std::u16string& text) {
  {
    std::lock_guard lock(textMutex_);
    detail_ = text;
  }
  Changed();
}

void ProgressState::SetRange(uint32_t count) {
  range_.store(count, std::memory_order_relaxed);
  if (position_.load(std::memory_order_relaxed) > count)
    position_.store(count, std::memory_order_relaxed);
  Changed();
}

void ProgressState::ResetPosition() {
  position_.store(0, std::memory_order_relaxed);
  Changed();
}

void ProgressState::Step() {
  // Only the job's thread writes the position, so load and store suffice.
  const uint32_t position = position_.load(std::memory_order_relaxed);
  position_.store(position >= range_.load(std::memory_order_relaxed) ? 0 : position + 1,
                  std::memory_order_relaxed);
  Changed();
}

void ProgressState::Clear() {
  {
    std::lock_guard lock(textMutex_);
    status_.clear();
    detail_.clear();
  }
  ResetPosition();
}

ProgressState::Snapshot ProgressState::Take() const {
  Snapshot snapshot;
  // The version is read first: a change racing with the copy shows as a
  // newer version next time, never as a lost one.
  snapshot.version = Version();
  {
    std::lock_guard lock(textMutex_);
    snapshot.status = status_;
    snapshot.detail = detail_;
  }
  snapshot.range = range_.load(std::memory_order_relaxed);
  snapshot.position = position_.load(std::memory_order_relaxed);
  return snapshot;
}

}  // namespace torquelin
