// A CProgressSink for tests: records every call in order and can be told to
// request cancellation after a number of calls.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "engine/base/progress.h"

namespace torquelin {

class RecordingSink : public CProgressSink {
 public:
  explicit RecordingSink(uint32_t bufferSize = kScratchBufferSize);

  uint32_t GetBufferSize() override;
  uint8_t* GetBuffer() override;
  void SetStatus(const std::u16string& text) override;
  void SetDetail(const std::u16string& text) override;
  void ShowMessage(const std::u16string& text) override;
  void SetRange(uint32_t count) override;
  void ResetProgress() override;
  void Step() override;

  // Every call as one line: "status:TEXT", "detail:TEXT", "message:TEXT",
  // "range:N", "reset", "step".
  std::vector<std::u16string> calls;
  std::vector<std::u16string> statuses;
  std::vector<std::u16string> messages;
  uint64_t steps = 0;

  // When set, the cancellation points throw COPCancel.
  std::atomic<bool> cancelRequested{false};
  // Request cancellation when a status with this text is shown (empty: never).
  std::u16string cancelOnStatus;
  // Request cancellation after this many cancellation-point calls (0: never).
  uint64_t cancelAfterCalls = 0;

 private:
  void CheckCancel();
  std::vector<uint8_t> buffer_;
  uint64_t cancelPointCalls_ = 0;
};

// UTF-8 text for readable assertion output.
std::string Narrow(const std::u16string& text);

}  // namespace torquelin
