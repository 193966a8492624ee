// CConsoleHost: progress on stderr and the runner's host operations.
#include "cli/console_host.h"

#include <algorithm>

#include "engine/base/error_code_text.h"
#include "engine/base/errors.h"
#include "engine/base/number_text.h"
#include "platform/console.h"
#include "platform/encoding.h"
#include "platform/system_error.h"

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

// At most `columns` code points, so a long path does not wrap the line and
// break the in-place redraw.
std::string Fit(const std::u16string& text, int columns) {
  std::string utf8 = platform::ToTerminalUtf8(text);
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

std::string Bar(uint32_t position, uint32_t range, int columns) {
  const int width = std::max(10, std::min(columns, 80) - 20);
  const uint64_t shown = std::min<uint64_t>(position, range);
  const int filled = range == 0 ? 0 : static_cast<int>(shown * width / range);
  std::string bar = "[" + std::string(filled, '#') + std::string(width - filled, '.') + "]";
  if (range != 0) bar += " " + std::to_string(shown * 100 / range) + "%";
  return bar;
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
  if (mode_ == Mode::Lines) Write(ShownOnConsole(text) + "\n");
  if (mode_ == Mode::Terminal) Redraw(false);
  ThrowIfCancelled();
}

void CConsoleHost::SetDetail(const std::u16string& text) {
  detail_ = text;
  if (mode_ == Mode::Terminal) Redraw(false);
  ThrowIfCancelled();
}

void CConsoleHost::ShowMessage(const std::u16string& text) {
  EraseBlock();
  // The system's words for the error code are for the reader only.
  std::string utf8 = ShownOnConsole(WithErrorCodeText(text));
  if (utf8.empty() || utf8.back() != '\n') utf8 += "\n";
  Write(utf8);
}

void CConsoleHost::ShowError(const CZRErr& error) {
  EraseBlock();
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

void CConsoleHost::SetRange(uint32_t count) { range_ = count; }
void CConsoleHost::ResetProgress() { position_ = 0; }

void CConsoleHost::Step() {
  ++position_;
  if (mode_ == Mode::Terminal) Redraw(false);
  ThrowIfCancelled();
}

void CConsoleHost::Redraw(bool force) {
  const auto now = std::chrono::steady_clock::now();
  if (!force && drawn_ && now - lastDraw_ < kRedrawInterval) return;
  lastDraw_ = now;
  int columns = platform::StderrColumns();
  if (columns <= 0) columns = 80;
  // Status above the bar, detail below it; the cursor rests at the end of
  // the detail line, two lines below the block's first.
  std::string out = drawn_ ? "\r\x1b[2A" : "";
  out += "\x1b[2K" + Fit(status_, columns - 1) + "\n";
  out += "\x1b[2K" + Bar(position_, range_, columns) + "\n";
  out += "\x1b[2K" + Fit(detail_, columns - 1);
  Write(out);
  drawn_ = true;
}

void CConsoleHost::EraseBlock() {
  if (!drawn_) return;
  Write("\r\x1b[2A\x1b[J");
  drawn_ = false;
}

void CConsoleHost::Finish(const JobRun& run) {
  switch (mode_) {
    case Mode::Terminal:
      if (run.outcome == JobOutcome::Failed) {
        EraseBlock();
        break;
      }
      Redraw(true);
      Write("\n");
      break;
    case Mode::Lines:
      // After a failure the error has said it all.
      if (run.outcome != JobOutcome::Failed) Write(platform::ToTerminalUtf8(detail_) + "\n");
      break;
    case Mode::Quiet:
      if (run.outcome == JobOutcome::Cancelled) {
        Write(platform::ToTerminalUtf8(kCancelledText) + "\n");
      }
      if (ExitCodeFor(run) == 3) Write(platform::ToTerminalUtf8(status_) + "\n");
      break;
  }
}
