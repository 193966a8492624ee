// UTF-16 <-> bytes: the lossless native-name mapping and plain UTF-8.
#include "platform/encoding.h"

namespace torquelin {

namespace platform {
namespace {

// Decodes one UTF-8 sequence at s[i]. Returns its length and the code point,
// or 0 when the bytes there are not a valid, shortest-form sequence.
size_t DecodeUtf8(std::string_view s, size_t i, char32_t& cp) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  size_t len;
  char32_t min;
  if ((c & 0xE0) == 0xC0) {
    len = 2, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, cp = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Walks UTF-16 text code point by code point; a lone surrogate comes out as
// itself (the caller decides what it becomes).
template <typename Fn>
void ForEachCodePoint(std::u16string_view text, Fn fn) {
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    fn(u);
  }
}

bool IsSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDFFF; }

// The characters whose units stand for name bytes; a name that really holds
// one carries it as the stand-ins of its own bytes.
bool IsStandIn(char32_t u) {
  return (u >= kRawByteBase + 0x80 && u <= kRawByteBase + 0xFF) || u == kNameBackslash;
}

// Walks bytes as UTF-8: sequence(cp, spelling) for each valid sequence,
// undecodable(b) for each byte that none takes in.
template <typename Sequence, typename Undecodable>
void ForEachUtf8(std::string_view bytes, Sequence sequence, Undecodable undecodable) {
  for (size_t i = 0; i < bytes.size();) {
    char32_t cp;
    const size_t len = DecodeUtf8(bytes, i, cp);
    if (len == 0) {
      undecodable(static_cast<unsigned char>(bytes[i]));
      ++i;
    } else {
      sequence(cp, bytes.substr(i, len));
      i += len;
    }
  }
}

char16_t RawByte(unsigned char b) { return static_cast<char16_t>(kRawByteBase + b); }

// Native bytes to engine text; names map a '\\' to its stand-in, typed text
// keeps it.
std::u16string DecodeNative(std::string_view bytes, bool isName) {
  std::u16string out;
  out.reserve(bytes.size());
  ForEachUtf8(
      bytes,
      [&](char32_t cp, std::string_view spelling) {
        if (isName && cp == u'\\') {
          out.push_back(kNameBackslash);
        } else if (IsStandIn(cp)) {
          for (const char b : spelling) out.push_back(RawByte(static_cast<unsigned char>(b)));
        } else {
          AppendUtf16(out, cp);
        }
      },
      [&](unsigned char b) { out.push_back(RawByte(b)); });
  return out;
}

// Units XML 1.0 cannot hold, and the escape itself, in their written form.
bool NeedsXmlEscape(char16_t u) {
  return (u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r') || u == 0xFFFE || u == 0xFFFF ||
         u == kXmlEscape;
}

int HexDigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

}  // namespace

std::u16string NameFromNative(std::string_view bytes) { return DecodeNative(bytes, true); }

std::u16string TextFromArgument(std::string_view bytes) { return DecodeNative(bytes, false); }

std::string NameToNative(std::u16string_view name) {
  std::string out;
  out.reserve(name.size());
  ForEachCodePoint(name, [&](char32_t u) {
    if (u >= kRawByteBase + 0x80 && u <= kRawByteBase + 0xFF) {
      out.push_back(static_cast<char>(u - kRawByteBase));
    } else if (u == kNameBackslash) {
      out.push_back('\\');
    } else if (IsSurrogate(u)) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  });
  return out;
}

std::string ToNativePath(std::u16string_view path) {
  std::string out;
  out.reserve(path.size() + 8);
  size_t start = 0;
  while (true) {
    const size_t sep = path.find(u'\\', start);
    out += NameToNative(path.substr(start, sep == std::u16string_view::npos ? sep : sep - start));
    if (sep == std::u16string_view::npos) break;
    out.push_back('/');
    start = sep + 1;
  }
  return out;
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](char32_t u) { AppendUtf8(out, IsSurrogate(u) ? 0xFFFD : u); });
  return out;
}

std::u16string FromUtf8(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  ForEachUtf8(
      bytes, [&](char32_t cp, std::string_view) { AppendUtf16(out, cp); },
      [&](unsigned char) { out.push_back(0xFFFD); });
  return out;
}

std::u16string ShownText(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  ForEachUtf8(
      NameToNative(text), [&](char32_t cp, std::string_view) { AppendUtf16(out, cp); },
      [&](unsigned char b) { out.push_back(static_cast<char16_t>(kShownRawByteBase + b)); });
  return out;
}

std::string ToTerminalUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachUtf8(
      NameToNative(text), [&](char32_t, std::string_view spelling) { out += spelling; },
      [&](unsigned char b) {
        static constexpr char kDigits[] = "0123456789abcdef";
        out += {'\\', 'x', kDigits[b >> 4], kDigits[b & 0xF]};
      });
  return out;
}

std::string ToXmlUtf8(std::u16string_view text) {
  // Paired surrogates are text; only a unit left alone must be escaped.
  std::u16string escaped;
  escaped.reserve(text.size());
  bool changed = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    const bool pairs = u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                       text[i + 1] <= 0xDFFF;
    if (pairs) {
      escaped.append(text.substr(i, 2));
      ++i;
    } else if (NeedsXmlEscape(u) || IsSurrogate(u)) {
      static constexpr char16_t kDigits[] = u"0123456789abcdef";
      escaped += {kXmlEscape, kDigits[u >> 12], kDigits[(u >> 8) & 0xF], kDigits[(u >> 4) & 0xF],
                  kDigits[u & 0xF]};
      changed = true;
    } else {
      escaped.push_back(u);
    }
  }
  return ToUtf8(changed ? std::u16string_view(escaped) : text);
}

std::u16string FromXmlUtf8(std::string_view bytes) {
  std::u16string text = FromUtf8(bytes);
  if (text.find(kXmlEscape) == std::u16string::npos) return text;
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == kXmlEscape && i + 4 < text.size()) {
      int value = 0;
      for (size_t k = 1; k <= 4 && value >= 0; ++k) {
        const int digit = HexDigitValue(text[i + k]);
        value = digit < 0 ? -1 : value * 16 + digit;
      }
      // Only what the writer escapes is undone: other text that happens to
      // look like an escape stays as it was.
      const char16_t unit = static_cast<char16_t>(value);
      if (value >= 0 && (NeedsXmlEscape(unit) || IsSurrogate(unit))) {
        out.push_back(unit);
        i += 4;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

}  // namespace platform

}  // namespace torquelin
