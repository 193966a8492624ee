// Text conversions between the engine's UTF-16 and bytes: native names and
// paths (lossless, see below) and UTF-8 text for XML documents and the console.
#pragma once

#include <string>
#include <string_view>

namespace torquelin {

namespace platform {

// Native names keep every byte, and no two names share a text. A byte
// sequence that is not valid UTF-8 maps each undecodable byte b (0x80-0xFF)
// to the private-use unit U+EF00+b; a '\' inside a native name maps to
// U+F05C, because '\' separates the components of the engine's relative
// paths. Both map back to the original byte. A name that really holds one of
// these stand-in characters (U+EF80-U+EFFF, U+F05C) carries it as the
// stand-ins of its UTF-8 bytes (U+EF80 -> U+EFEE U+EFBE U+EF80), so it maps
// back byte for byte and never meets the name the stand-in would stand for.
inline constexpr char16_t kRawByteBase = 0xEF00;
inline constexpr char16_t kNameBackslash = 0xF05C;

// One native name to engine text.
std::u16string NameFromNative(std::string_view bytes);

// Text the user typed (a command-line argument) to engine text: UTF-8, each
// undecodable byte and each stand-in character mapped as in names, so a typed
// path names the file on disk, but a '\' stays a backslash, so a typed filter
// or path means what it says.
std::u16string TextFromArgument(std::string_view bytes);

// The inverse of NameFromNative for one component; '\' is kept as is. Text
// that no name maps to (a lone surrogate, which only a foreign patch can
// carry, or stand-ins spelling a character that is no stand-in) still gives
// bytes, but they read back as another text: IsSafeRelativePath refuses it.
std::string NameToNative(std::u16string_view name);

// The one place that turns an engine path into a native one: every '\'
// becomes '/', every component goes through NameToNative.
std::string ToNativePath(std::u16string_view path);

// Plain UTF-8 for XML values and console text. A lone surrogate, which only a
// foreign patch can carry, becomes U+FFFD so the output stays well-formed.
std::string ToUtf8(std::u16string_view text);

// UTF-8 to UTF-16; each invalid sequence becomes U+FFFD.
std::u16string FromUtf8(std::string_view bytes);

// Engine text as the user knows the names in it, for a terminal or a script:
// the native bytes, read as UTF-8. A '\' in a name (U+F05C) is '\' again, a
// stand-in character a name really holds is that character, a lone surrogate
// is U+FFFD; the engine's '\' separators are left as they are. An
// undecodable byte b has no character to show: it comes out as the lone
// surrogate U+DC00+b, which the caller escapes (a surrogate pair is always a
// character, so a lone one is always such a byte). The result is shown text,
// not engine text: mapping it again would change it.
inline constexpr char16_t kShownRawByteBase = 0xDC00;
std::u16string ShownText(std::u16string_view text);

// ShownText as UTF-8 for console messages, each undecodable byte written as
// \x and its two lower-case hexadecimal digits (byte 0xE9 -> "\xe9").
std::string ToTerminalUtf8(std::u16string_view text);

// XML 1.0 cannot carry every code unit a name or a foreign patch may hold, so
// attribute values of saved XML go through one reversible mapping:
//   a control character other than tab, line feed and carriage return
//   (U+0000-U+001F), U+FFFE, U+FFFF, a lone surrogate, and the escape
//   character U+241B itself are written as U+241B followed by the unit's four
//   lower-case hexadecimal digits ("a\x01b" -> "a\u241B0001b");
//   everything else is plain UTF-8.
// U+241B (SYMBOL FOR ESCAPE) is printable, so a report still shows where the
// odd character was. Reading undoes exactly these sequences; an escape
// followed by anything else is kept as it stands.
inline constexpr char16_t kXmlEscape = 0x241B;
std::string ToXmlUtf8(std::u16string_view text);
std::u16string FromXmlUtf8(std::string_view bytes);

}  // namespace platform

}  // namespace torquelin
