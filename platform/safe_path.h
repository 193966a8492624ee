// The rule that keeps a relative path from a patch inside the directory it is
// joined to.
#pragma once

#include <string_view>

namespace torquelin {

namespace platform {

// True when `path` is a clean relative path of the tree model: one leading
// '\', then components separated by single '\', none of them empty, "." or
// "..", none holding '/' or NUL. The same holds for each component's native
// form (NameToNative), so no name can turn into a separator or a dot entry on
// disk, and each component is the text its native form maps to, so no two
// paths name one entry (a lone surrogate and U+FFFD would both be U+FFFD on
// disk). Every other character a native name may hold (':' included) is
// allowed. Pure; any thread.
bool IsSafeRelativePath(std::u16string_view path);

}  // namespace platform

}  // namespace torquelin
