// The ignore filter: a ';'-separated list of wildcard patterns that decides
// which entries a directory walk leaves out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace torquelin {

// The result of cutting a text at the first occurrence of a delimiter.
struct SplitResult {
  bool found = false;
  std::u16string head;  // the text before the delimiter (the whole text when not found)
  std::u16string tail;  // the text after it (empty when not found)
};

// Finds the first occurrence of delimiter by exact code-unit comparison.
SplitResult SplitAt(std::u16string_view text, std::u16string_view delimiter);

// One piece of a compiled pattern.
struct PatternElement {
  enum Kind : int32_t { End = 0, AnyRun = 1, AnyChar = 2, Literal = 3 };
  int32_t kind = End;
  std::u16string text;  // the characters of a Literal, empty otherwise
  bool operator==(const PatternElement&) const = default;
};

// Pattern text (already folded) to elements: maximal literal runs, one
// AnyRun per '*', one AnyChar per '?', and always a final End.
std::vector<PatternElement> CompilePattern(std::u16string_view pattern);

// Whether an element accepts a piece of the name: End only the empty piece,
// AnyRun anything, AnyChar any non-empty piece (of any length), Literal a
// piece that starts with its text.
bool ElementAccepts(const PatternElement& element, std::u16string_view piece);

// One step of the matcher: consumes the front of name for the pair (cur,
// next). name becomes the rest on success and empty on failure. A '*' runs
// only up to the first occurrence of the literal after it; there is no
// backtracking, and filters written by users rely on exactly this behaviour.
bool MatchStep(std::u16string& name, const PatternElement& cur, const PatternElement& next);

// Whether one pattern matches a name that is already folded to lower case
// (A-Z only). The pattern is folded the same way first.
bool MatchPattern(std::u16string_view name, std::u16string_view pattern);

// The parsed filter. Nothing is trimmed: blanks belong to the patterns. An
// empty text gives no patterns, a trailing ';' adds none, ";;" adds an empty
// pattern, which never matches. The text is split in one pass and every
// pattern compiled once, here: build one filter per job and match with it.
class CIgnoreFilter {
 public:
  explicit CIgnoreFilter(const std::u16string& filterText);

  // Tests a relative path ("\sub\a.txt"). When no pattern holds a '\', only
  // the last component is matched; when any does, every pattern is matched
  // against the whole path without its leading '\'. Only A-Z are folded to
  // lower case. On a match, matchedPattern receives the pattern as written;
  // otherwise it is emptied. Costs the length of what is matched: the last
  // component alone when no pattern holds a '\'.
  bool Match(std::u16string_view relPath, std::u16string& matchedPattern) const;

  // Whether Match leaves out relPath or any directory above it (for
  // "\a\b\c": "\a", "\a\b" and the path itself): a path that no walk with
  // this filter could list. On a match, matchedPattern receives the pattern
  // as written that leaves out the shortest of them (the first such pattern
  // in filter order); otherwise it is emptied. However deep the path, this
  // costs about one Match of the whole path per pattern, where asking Match
  // about every directory above it would cost the square of its depth.
  bool MatchSelfOrAncestor(std::u16string_view relPath, std::u16string& matchedPattern) const;

  // Every pattern as written, in filter order, the empty ones included.
  std::vector<std::u16string> Patterns() const;

 private:
  struct CompiledPattern {
    size_t index;                          // among all patterns, empty ones included
    std::u16string text;                   // as written
    std::vector<PatternElement> elements;  // of the folded text
  };
  size_t patternCount_ = 0;
  std::vector<CompiledPattern> compiled_;  // the non-empty patterns, in order
  bool anyPatternHasBackslash_ = false;
};

}  // namespace torquelin
