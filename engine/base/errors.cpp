// CZRErr: construction and the four-line display text.
#include "engine/base/errors.h"

#include "engine/base/number_text.h"

CZRErr::CZRErr(int32_t type, std::u16string message, const char* file, int32_t line,
               uint32_t lastError)
    : type(type), message(std::move(message)), file(file), line(line), lastError(lastError) {}

CZRErr::CZRErr(const ErrorSite& site, std::u16string_view detail, uint32_t lastError)
    : type(site.type),
      message(std::u16string(site.message) + std::u16string(detail)),
      file(site.location),
      line(site.line),
      lastError(lastError),
      site(&site) {}

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
