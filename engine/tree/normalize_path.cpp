// NormalizePath.
#include "engine/tree/normalize_path.h"

namespace torquelin {

std::u16string NormalizePath(const std::u16string& path) {
  std::u16string result;
  if (!path.empty() && (path[0] == u'/' || path[0] == u'\\')) result.push_back(u'/');
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of(u"\\/", start);
    if (end == std::u16string::npos) end = path.size();
    if (end > start) {
      if (!result.empty() && result.back() != u'/') result.push_back(u'/');
      result.append(path, start, end - start);
    }
    start = end + 1;
  }
  return result;
}

}  // namespace torquelin
