// Text conversions between the engine's UTF-16 and bytes: native names and
// paths (lossless, see below) and UTF-8 text for XML documents and the console.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Native names keep every byte. A byte sequence that is not valid UTF-8 maps
// each undecodable byte b (0x80-0xFF) to the private-use unit U+EF00+b; a '\'
// inside a native name maps to U+F05C, because '\' separates the components
// of the engine's relative paths. Both map back to the original byte.
inline constexpr char16_t kRawByteBase = 0xEF00;
inline constexpr char16_t kNameBackslash = 0xF05C;

// One native name (or a whole native path typed by a user) to engine text.
std::u16string NameFromNative(std::string_view bytes);

// The inverse of NameFromNative for one component; '\' is kept as is.
std::string NameToNative(std::u16string_view name);

// The one place that turns an engine path into a native one: every '\'
// becomes '/', every component goes through NameToNative.
std::string ToNativePath(std::u16string_view path);

// Plain UTF-8 for XML values and console text. A lone surrogate, which only a
// foreign patch can carry, becomes U+FFFD so the output stays well-formed.
std::string ToUtf8(std::u16string_view text);

// UTF-8 to UTF-16; each invalid sequence becomes U+FFFD.
std::u16string FromUtf8(std::string_view bytes);

}  // namespace platform
