// The progress interface every job reports through.
#pragma once

#include <cstdint>
#include <string>

#include "engine/base/errors.h"

namespace torquelin {

// Implemented by the window and by the command-line program. Called only from
// the thread that runs the job. SetStatus, SetDetail and Step are the only
// cancellation points: after doing their visible work they throw COPCancel
// when cancellation has been requested (the flag is read afresh every time).
class CProgressSink {
 public:
  virtual ~CProgressSink() = default;

  // The shared scratch buffer: GetBufferSize() bytes that live as long as the
  // sink. A job may use it freely while it runs but must not keep data in it
  // across calls into other operations that may use it too.
  virtual uint32_t GetBufferSize() = 0;
  virtual uint8_t* GetBuffer() = 0;

  virtual void SetStatus(const std::u16string& text) = 0;
  virtual void SetDetail(const std::u16string& text) = 0;
  // Modal message with one OK button; returns when dismissed. No cancel check.
  virtual void ShowMessage(const std::u16string& text) = 0;
  // Range 0..count, step 1; does not reset the position. No cancel check.
  virtual void SetRange(uint32_t count) = 0;
  virtual void ResetProgress() = 0;
  virtual void Step() = 0;

  // How the job runner reports the error a job failed with. The window shows
  // the error's four-line text as a message; the command line words it for a
  // terminal. No cancel check.
  virtual void ShowError(const CZRErr& error) { ShowMessage(error.GetText()); }

  // The bytes of content the current phase reads or writes, where a job
  // knows them: SetByteRange with their total once the phase has set its
  // status, then AddBytes as each item's bytes are done. For a front end
  // that shows them (the command line); the window has no place for them,
  // so both do nothing unless overridden. No cancel check.
  virtual void SetByteRange(uint64_t total) { static_cast<void>(total); }
  virtual void AddBytes(uint64_t count) { static_cast<void>(count); }
};

// The size of the scratch buffer every real sink lends.
inline constexpr uint32_t kScratchBufferSize = 2097152;

}  // namespace torquelin
