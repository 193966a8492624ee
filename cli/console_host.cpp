// CConsoleHost: progress on stderr and the runner's host operations.
#include "cli/console_host.h"

#include <algorithm>

#include "engine/base/error_code_text.h"
#include "engine/base/errors.h"
#include "engine/base/number_text.h"
#include "platform/console.h"
#include "platform/encoding.h"
#include "platform/system_error.h"

namespace torquelin {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

// At most `columns` code points, so a long path does not wrap the line and
// break the in-place redraw.
std::string Fit(std::string utf8, int columns) {
  int seen = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;
    if (++seen > columns) {
      utf8.resize(i);
      break;
    }
  }
  return utf8;
}

// Bytes in binary units with one decimal ("3.2 MiB"), plain below 1 KiB.
std::string ByteText(double bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  size_t unit = 0;
  while (bytes >= 1024 && unit + 1 < std::size(kUnits)) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
  return text;
}

std::string DurationText(double seconds) {
  const auto whole = static_cast<uint64_t>(seconds + 0.5);
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                  static_cast<unsigned long long>(whole / 3600),
                  static_cast<unsigned long long>(whole / 60 % 60),
                  static_cast<unsigned long long>(whole % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(whole / 60),
                  static_cast<unsigned long long>(whole % 60));
  }
  return text;
}

// Each job's phases, as the status texts it shows in order; a text shown by
// some runs only (a report, a compact patch's compression, a check's
// reading of the contents) is left out and keeps the count where it is.
const std::vector<const char16_t*>& PhasesOf(JobKind kind) {
  static constexpr const char16_t* kCount = u"Counting all files";
  static constexpr const char16_t* kCollect = u"Collecting files...";
  static constexpr const char16_t* kAttributes = u"Getting File attributes...";
  static constexpr const char16_t* kIds = u"Calculating file ids...";
  static constexpr const char16_t* kFingerprint = u"Calculating directory fingerprint...";
  static constexpr const char16_t* kDeleted = u"Detecting deleted files...";
  static constexpr const char16_t* kCompare = u"Comparing files...";
  static constexpr const char16_t* kWritePatch = u"Creating a patch file";
  static constexpr const char16_t* kLoad = u"Loading patch info.";
  static const std::vector<const char16_t*> kFingerprintJob = {kCount, kCollect, kAttributes, kIds,
                                                               kFingerprint};
  static const std::vector<const char16_t*> kCreatePatch = {
      kCount, kCollect,     kAttributes,  kIds,     kCount,   kCollect,   kAttributes,
      kIds,   kFingerprint, kFingerprint, kDeleted, kCompare, kWritePatch};
  static const std::vector<const char16_t*> kVaultPatch = {kCount,   kCollect,     kAttributes,
                                                           kIds,     kFingerprint, kFingerprint,
                                                           kDeleted, kCompare,     kWritePatch};
  static const std::vector<const char16_t*> kApply = {u"Applying a file",
                                                      kLoad,
                                                      kCount,
                                                      kCollect,
                                                      kAttributes,
                                                      kIds,
                                                      kFingerprint,
                                                      u"Staging new contents.",
                                                      u"Removing Files.",
                                                      u"Removing Directories.",
                                                      u"Creating Directories.",
                                                      u"Restoring files.",
                                                      u"Restoring FS attributes.",
                                                      kCount,
                                                      kCollect,
                                                      kAttributes,
                                                      kIds,
                                                      kFingerprint};
  static const std::vector<const char16_t*> kQuery = {kLoad};
  static const std::vector<const char16_t*> kVault = {kCount, kCollect, kAttributes, kIds,
                                                      u"Creating vault file."};
  static const std::vector<const char16_t*> kVerify = {
      kCount, kCollect, kAttributes, kIds, kFingerprint, kFingerprint, kDeleted, kCompare};
  switch (kind) {
    case JobKind::CreatePatch:
      return kCreatePatch;
    case JobKind::CreateVaultPatch:
      return kVaultPatch;
    case JobKind::ApplyPatch:
      return kApply;
    case JobKind::QueryPatch:
      return kQuery;
    case JobKind::CreateVault:
      return kVault;
    case JobKind::Fingerprint:
      return kFingerprintJob;
    case JobKind::Verify:
      return kVerify;
  }
  return kQuery;
}

}  // namespace

CConsoleHost::CConsoleHost(Mode mode, std::FILE* err, bool verbose)
    : mode_(mode), err_(err), verbose_(verbose), buffer_(kScratchBufferSize) {}

int ExitCodeFor(const JobRun& run) {
  switch (run.outcome) {
    case JobOutcome::Succeeded:
      if (run.check == TreeCheck::Differs) return kExitTreeDiffers;
      return run.skipped.empty() ? kExitDone : kExitItemsSkipped;
    case JobOutcome::Cancelled:
      return kExitCancelled;
    case JobOutcome::Failed:
      break;
  }
  return run.check == TreeCheck::NotTheOlderTree ? kExitNotOlderTree : kExitFailed;
}

std::string ShownOnConsole(const std::u16string& text) {
  std::u16string slashed = text;
  std::replace(slashed.begin(), slashed.end(), u'\\', u'/');
  return platform::ToTerminalUtf8(slashed);
}

void ReportSkippedItems(CConsoleHost& host, const std::vector<std::u16string>& items) {
  for (const std::u16string& item : items) host.ShowMessage(u"Skipped: " + item);
  if (items.size() == 1) host.ShowMessage(u"1 item was skipped.");
  if (items.size() > 1) {
    host.ShowMessage(DecimalText(static_cast<int64_t>(items.size())) + u" items were skipped.");
  }
}

uint32_t CConsoleHost::GetBufferSize() { return static_cast<uint32_t>(buffer_.size()); }
uint8_t* CConsoleHost::GetBuffer() { return buffer_.data(); }

void CConsoleHost::ThrowIfCancelled() {
  if (cancel_.load()) throw COPCancel();
}

void CConsoleHost::Write(const std::string& text) {
  std::fputs(text.c_str(), err_);
  std::fflush(err_);
}

void CConsoleHost::SetStatus(const std::u16string& text) {
  status_ = text;
  detail_.clear();
  range_ = 0;
  position_ = 0;
  byteRange_ = 0;
  bytesDone_ = 0;
  phaseStart_ = std::chrono::steady_clock::now();
  // Phases come in order; a text not among those still ahead is a step of
  // its own that keeps the count.
  inPhase_ = false;
  if (phases_ != nullptr) {
    for (size_t i = phase_; i < phases_->size(); ++i) {
      if (text == (*phases_)[i]) {
        phase_ = i + 1;
        inPhase_ = true;
        break;
      }
    }
  }
  if (mode_ == Mode::Lines) Write(ShownOnConsole(text) + "\n");
  if (mode_ == Mode::Terminal) Redraw();
  ThrowIfCancelled();
}

void CConsoleHost::SetDetail(const std::u16string& text) {
  detail_ = text;
  if (mode_ == Mode::Terminal) Redraw();
  ThrowIfCancelled();
}

void CConsoleHost::ShowMessage(const std::u16string& text) {
  EraseLine();
  // The system's words for the error code are for the reader only.
  std::string utf8 = ShownOnConsole(WithErrorCodeText(text));
  if (utf8.empty() || utf8.back() != '\n') utf8 += "\n";
  Write(utf8);
}

void CConsoleHost::ShowError(const CZRErr& error) {
  EraseLine();
  // One line each, whatever a name in the message holds.
  std::u16string message = error.message;
  std::replace_if(
      message.begin(), message.end(), [](char16_t c) { return c == u'\n' || c == u'\r'; }, u' ');
  std::string text = "torquelin: " + ShownOnConsole(message) + "\n";
  if (error.lastError != 0) {
    text += "torquelin: reason: " + platform::ErrorCodeText(error.lastError) + " (errno " +
            std::to_string(error.lastError) + ")\n";
  }
  if (verbose_) text += platform::ToTerminalUtf8(WithErrorCodeText(error.GetText()));
  Write(text);
}

void CConsoleHost::SetJob(JobKind kind) {
  phases_ = &PhasesOf(kind);
  phase_ = 0;
}

void CConsoleHost::SetRange(uint32_t count) { range_ = count; }
void CConsoleHost::ResetProgress() { position_ = 0; }

void CConsoleHost::SetByteRange(uint64_t total) {
  byteRange_ = total;
  bytesDone_ = 0;
}

void CConsoleHost::AddBytes(uint64_t count) { bytesDone_ += count; }

void CConsoleHost::Step() {
  ++position_;
  if (mode_ == Mode::Terminal) Redraw();
  ThrowIfCancelled();
}

std::string CConsoleHost::StatusLineText(int columns,
                                         std::chrono::steady_clock::duration elapsed) const {
  std::string line;
  if (inPhase_) {
    line = "[" + std::to_string(phase_) + "/" + std::to_string(phases_->size()) + "] ";
  }
  line += ShownOnConsole(status_);
  const double seconds = std::chrono::duration<double>(elapsed).count();
  if (range_ != 0) {
    line += "  " + std::to_string(std::min(position_, range_)) + "/" + std::to_string(range_);
  }
  if (byteRange_ != 0) {
    line += "  " + ByteText(static_cast<double>(std::min(bytesDone_, byteRange_))) + "/" +
            ByteText(static_cast<double>(byteRange_));
  }
  // A rate needs a moment to mean anything; bytes say more than items.
  const bool byBytes = byteRange_ != 0 && bytesDone_ != 0;
  const double done = byBytes ? static_cast<double>(bytesDone_) : position_;
  const double total = byBytes ? static_cast<double>(byteRange_) : range_;
  if (seconds >= 1 && done > 0 && total >= done) {
    const double rate = done / seconds;
    line += "  " + (byBytes ? ByteText(rate) : std::to_string(static_cast<uint64_t>(rate))) +
            "/s  ETA " + DurationText((total - done) / rate);
  }
  if (!detail_.empty()) {
    // The detail is a fixed text, ": " and the path.
    std::u16string_view path = detail_;
    if (const size_t colon = path.find(u": "); colon != std::u16string_view::npos) {
      path.remove_prefix(colon + 2);
    }
    // A path below the tree, shown as the listings show it.
    if (path.starts_with(u'\\')) path.remove_prefix(1);
    line += "  " + ShownOnConsole(std::u16string(path));
  }
  return Fit(std::move(line), columns);
}

void CConsoleHost::Redraw() {
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - lastDraw_ < kRedrawInterval) return;
  lastDraw_ = now;
  int columns = platform::StderrColumns();
  if (columns <= 0) columns = 80;
  // One column short of the width, so the cursor never wraps the line.
  Write("\r\x1b[2K" + StatusLineText(columns - 1, now - phaseStart_));
  drawn_ = true;
}

void CConsoleHost::EraseLine() {
  if (!drawn_) return;
  Write("\r\x1b[2K");
  drawn_ = false;
}

void CConsoleHost::Finish(const JobRun& run) {
  switch (mode_) {
    case Mode::Terminal:
      // What stays on the screen is what a plain run prints last: the
      // job's closing status and the time it took.
      EraseLine();
      if (run.outcome != JobOutcome::Failed) {
        Write(ShownOnConsole(status_) + "\n" + platform::ToTerminalUtf8(detail_) + "\n");
      }
      break;
    case Mode::Lines:
      // After a failure the error has said it all.
      if (run.outcome != JobOutcome::Failed) Write(platform::ToTerminalUtf8(detail_) + "\n");
      break;
    case Mode::Quiet:
      if (run.outcome == JobOutcome::Cancelled) {
        Write(platform::ToTerminalUtf8(kCancelledText) + "\n");
      }
      if (ExitCodeFor(run) == kExitTreeDiffers) Write(platform::ToTerminalUtf8(status_) + "\n");
      break;
  }
}

}  // namespace torquelin
