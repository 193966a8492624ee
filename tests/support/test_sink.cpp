#include "tests/support/test_sink.h"

#include "engine/base/errors.h"
#include "engine/base/number_text.h"
#include "platform/encoding.h"

namespace torquelin {

RecordingSink::RecordingSink(uint32_t bufferSize) : buffer_(bufferSize) {}

uint32_t RecordingSink::GetBufferSize() { return static_cast<uint32_t>(buffer_.size()); }
uint8_t* RecordingSink::GetBuffer() { return buffer_.data(); }

void RecordingSink::SetStatus(const std::u16string& text) {
  calls.push_back(u"status:" + text);
  statuses.push_back(text);
  if (!cancelOnStatus.empty() && text == cancelOnStatus) cancelRequested = true;
  CheckCancel();
}

void RecordingSink::SetDetail(const std::u16string& text) {
  calls.push_back(u"detail:" + text);
  CheckCancel();
}

void RecordingSink::ShowMessage(const std::u16string& text) {
  calls.push_back(u"message:" + text);
  messages.push_back(text);
}

void RecordingSink::SetRange(uint32_t count) { calls.push_back(u"range:" + DecimalText(count)); }

void RecordingSink::ResetProgress() { calls.push_back(u"reset"); }

void RecordingSink::Step() {
  calls.push_back(u"step");
  ++steps;
  CheckCancel();
}

void RecordingSink::CheckCancel() {
  ++cancelPointCalls_;
  if (cancelAfterCalls != 0 && cancelPointCalls_ >= cancelAfterCalls) cancelRequested = true;
  if (cancelRequested) throw COPCancel();
}

std::string Narrow(const std::u16string& text) { return platform::ToUtf8(text); }

}  // namespace torquelin
