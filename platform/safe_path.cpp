// The safe-path rule for POSIX names.
#include "platform/safe_path.h"

#include <string>

#include "platform/encoding.h"

namespace torquelin {

namespace platform {
namespace {

template <typename Text>
bool IsCleanComponent(const Text& name) {
  using Char = typename Text::value_type;
  if (name.empty()) return false;
  if (name.size() <= 2 && name.find_first_not_of(Char('.')) == Text::npos) return false;
  return name.find(Char('/')) == Text::npos && name.find(Char('\0')) == Text::npos;
}

}  // namespace

bool IsSafeRelativePath(std::u16string_view path) {
  if (path.empty() || path[0] != u'\\') return false;
  size_t start = 1;
  while (true) {
    const size_t end = path.find(u'\\', start);
    const std::u16string_view name =
        path.substr(start, end == std::u16string_view::npos ? end : end - start);
    // The native check guards the mapping: today only '.', '/' and NUL
    // themselves produce those bytes (raw-byte units give 0x80-0xFF, the
    // mapped backslash gives '\', which is an ordinary byte in a POSIX name).
    // A text no scan can give would name the same entry as the one a scan
    // gives, a second text for one name.
    const std::string native = NameToNative(name);
    if (!IsCleanComponent(name) || !IsCleanComponent(native) || NameFromNative(native) != name) {
      return false;
    }
    if (end == std::u16string_view::npos) return true;
    start = end + 1;
  }
}

}  // namespace platform

}  // namespace torquelin
