// CZRErr: construction and the four-line display text.
#include "engine/base/errors.h"

#include "engine/base/number_text.h"

namespace torquelin {

CZRErr::CZRErr(int32_t errorType, std::u16string text, const char* location, int32_t lineNumber,
               uint32_t code)
    : type(errorType),
      message(std::move(text)),
      file(location),
      line(lineNumber),
      lastError(code) {}

CZRErr::CZRErr(const ErrorSite& origin, std::u16string_view detail, uint32_t code)
    : type(origin.type),
      message(std::u16string(origin.message) + std::u16string(detail)),
      file(origin.location),
      line(origin.line),
      lastError(code),
      site(&origin) {}

void Raise(const ErrorSite& site, std::u16string_view detail, uint32_t code) {
  throw CZRErr(site, detail, code);
}

std::u16string CZRErr::GetText() const {
  std::u16string text = u"Error type:" + DecimalText(type) + u"\n";
  text += u"Message: " + message + u"\n";
  text += u"Error Code: " + HexText(lastError) + u"\n";
  text += u"Location: ";
  for (const char* p = file; p != nullptr && *p != '\0'; ++p) {
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(*p)));
  }
  text += u" line:" + DecimalText(line) + u"\n";
  return text;
}

}  // namespace torquelin
