// The canonical form of a directory path the user typed.
#pragma once

#include <string>

namespace torquelin {

// Splits at '\' and '/', drops empty pieces and joins with '/'. A path that
// began with a separator keeps one leading '/', so absolute paths stay
// absolute; a text of separators only becomes "/"; an empty text stays empty.
std::u16string NormalizePath(const std::u16string& path);

}  // namespace torquelin
