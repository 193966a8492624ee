// The container types of the tree model. Every ordered map and sort uses
// std::u16string's own '<': UTF-16 code-unit order, case-sensitive, no locale.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace torquelin {

using PathList = std::vector<std::u16string>;
using TextMap = std::map<std::u16string, std::u16string>;
using AttributeMap = std::map<std::u16string, uint32_t>;

}  // namespace torquelin
