// The end-of-job texts of the window.
#include "ui/job_messages.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace torquelin {

namespace {

constexpr std::u16string_view kFailedPrefix = u"Job failed: ";
constexpr std::u16string_view kMessageLabel = u"Message: ";

std::vector<std::u16string_view> Lines(std::u16string_view text) {
  std::vector<std::u16string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find(u'\n');
    lines.push_back(text.substr(0, end));
    if (end == std::u16string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::u16string Number(size_t n) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + n % 10));
    n /= 10;
  } while (n != 0);
  return digits;
}

}  // namespace

std::u16string FailedJobStatus(const std::u16string& reportedText) {
  const std::vector<std::u16string_view> lines = Lines(reportedText);
  std::u16string_view reason = lines.empty() ? std::u16string_view() : lines.front();
  for (std::u16string_view line : lines) {
    if (line.starts_with(kMessageLabel)) {
      reason = line.substr(kMessageLabel.size());
      break;
    }
  }
  if (reason.empty()) return u"Job failed.";
  return std::u16string(kFailedPrefix) + std::u16string(reason);
}

std::u16string SkippedItemsMessage(const std::vector<std::u16string>& skipped) {
  std::vector<std::u16string_view> items;
  for (const std::u16string& item : skipped)
    if (!item.empty()) items.push_back(item);
  std::u16string text = u"Patch applied, but ";
  text +=
      items.size() == 1 ? u"1 item was skipped:" : Number(items.size()) + u" items were skipped:";
  const size_t shown = std::min(items.size(), static_cast<size_t>(kSkippedItemsShown));
  for (size_t i = 0; i < shown; ++i) text += u"\n" + std::u16string(items[i]);
  if (items.size() > shown) text += u"\n... and " + Number(items.size() - shown) + u" more.";
  return text;
}

}  // namespace torquelin
