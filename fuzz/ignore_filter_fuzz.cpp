// Fuzz target: the ignore filter, with the filter text and the name both
// taken from the input. The input is read as UTF-16LE units; the first U+0000
// separates the filter text from the relative path.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/tree/ignore_filter.h"

using namespace torquelin;

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "ignore filter: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string units(size / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  }
  const size_t cut = units.find(u'\0');
  const std::u16string filterText = units.substr(0, cut);
  const std::u16string name = cut == std::u16string::npos ? u"" : units.substr(cut + 1);

  const CIgnoreFilter filter(filterText);
  std::u16string matched;
  const bool hit = filter.Match(name, matched);
  // A match names one of the filter's own patterns; a miss names none.
  if (hit) {
    bool known = false;
    for (const std::u16string& p : filter.Patterns()) known = known || p == matched;
    if (!known) Fail("the matched pattern is not one of the filter's");
  } else if (!matched.empty()) {
    Fail("a miss left a pattern behind");
  }

  for (const std::u16string& pattern : filter.Patterns()) {
    if (CompilePattern(pattern).back().kind != PatternElement::End) Fail("no final End");
    MatchPattern(name, pattern);
  }
  return 0;
}
