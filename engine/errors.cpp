// CZRErr: construction and the four-line display text.
#include "engine/errors.h"

#include <cerrno>

#include "engine/number_text.h"

CZRErr::CZRErr(int32_t type, std::u16string message, const char* file, int32_t line)
    : type(type),
      message(std::move(message)),
      file(file),
      line(line),
      lastError(static_cast<uint32_t>(errno)) {}

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
