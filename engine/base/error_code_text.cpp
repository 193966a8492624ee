// Adding the system's words to a shown error's code line.
#include "engine/base/error_code_text.h"

#include "platform/encoding.h"
#include "platform/system_error.h"

namespace torquelin {

namespace {

constexpr std::u16string_view kTypeLine = u"Error type:";
constexpr std::u16string_view kMessageLabel = u"\nMessage: ";
constexpr std::u16string_view kCodeLabel = u"\nError Code: ";

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

}  // namespace

std::u16string WithErrorCodeText(std::u16string_view text) {
  std::u16string out(text);
  if (!text.starts_with(kTypeLine) || text.find(kMessageLabel) == std::u16string_view::npos)
    return out;
  // The code line follows the message, which may itself hold line feeds, so
  // it is the last one of its kind.
  const size_t label = text.rfind(kCodeLabel);
  if (label == std::u16string_view::npos) return out;
  const size_t first = label + kCodeLabel.size();
  size_t end = first;
  uint64_t code = 0;
  while (end < text.size() && end - first < 8 && HexDigit(text[end]) >= 0)
    code = code * 16 + static_cast<uint64_t>(HexDigit(text[end++]));
  if (end == first || end >= text.size() || text[end] != u'\n' || code == 0) return out;
  const std::string words = platform::ErrorCodeText(static_cast<uint32_t>(code));
  if (words.empty()) return out;
  out.insert(end, u" (" + platform::FromUtf8(words) + u")");
  return out;
}

}  // namespace torquelin
