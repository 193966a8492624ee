// CIgnoreFilter: parsing the filter text and the single-pass wildcard matcher.
#include "engine/tree/ignore_filter.h"

#include <algorithm>
#include <optional>

namespace torquelin {

namespace {

void FoldAsciiUpper(std::u16string& text) {
  for (char16_t& c : text) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
}

}  // namespace

SplitResult SplitAt(std::u16string_view text, std::u16string_view delimiter) {
  SplitResult result;
  const size_t at = text.find(delimiter);
  if (at == std::u16string_view::npos) {
    result.head = text;
    return result;
  }
  result.found = true;
  result.head = text.substr(0, at);
  result.tail = text.substr(at + delimiter.size());
  return result;
}

std::vector<PatternElement> CompilePattern(std::u16string_view pattern) {
  std::vector<PatternElement> elements;
  std::u16string pending;
  for (const char16_t c : pattern) {
    if (c != u'*' && c != u'?') {
      pending.push_back(c);
      continue;
    }
    if (!pending.empty()) {
      elements.push_back({PatternElement::Literal, pending});
      pending.clear();
    }
    elements.push_back({c == u'*' ? PatternElement::AnyRun : PatternElement::AnyChar, {}});
  }
  if (!pending.empty()) elements.push_back({PatternElement::Literal, pending});
  elements.push_back({PatternElement::End, {}});
  return elements;
}

bool ElementAccepts(const PatternElement& element, std::u16string_view piece) {
  switch (element.kind) {
    case PatternElement::End:
      return piece.empty();
    case PatternElement::AnyRun:
      return true;
    case PatternElement::AnyChar:
      return !piece.empty();
    case PatternElement::Literal:
      // Both sides are folded already, so an exact prefix test is the
      // case-insensitive comparison of the literal's length.
      return piece.size() >= element.text.size() &&
             piece.substr(0, element.text.size()) == element.text;
  }
  return false;
}

namespace {

// MatchStep on a view of the name: the same head and rest, no copies. The
// name is replaced by the rest on success.
bool StepView(std::u16string_view& name, const PatternElement& cur, const PatternElement& next) {
  std::u16string_view head;
  std::u16string_view rest;
  if (cur.kind == PatternElement::Literal) {
    const size_t at = name.find(cur.text);
    if (at != std::u16string_view::npos) {
      head = name.substr(0, at + cur.text.size());
      rest = name.substr(at + cur.text.size());
    }
  } else if (next.kind == PatternElement::Literal) {
    const size_t at = name.find(next.text);
    if (at != std::u16string_view::npos) {
      head = name.substr(0, at);
      rest = name.substr(at);
    }
  } else if (cur.kind == PatternElement::AnyRun &&
             (next.kind == PatternElement::AnyRun || next.kind == PatternElement::AnyChar)) {
    return true;
  } else if (cur.kind == PatternElement::AnyRun && next.kind == PatternElement::End) {
    head = name;
  } else if (cur.kind == PatternElement::AnyChar && !name.empty()) {
    head = name.substr(0, 1);
    rest = name.substr(1);
  }
  if (!ElementAccepts(cur, head) || !ElementAccepts(next, rest)) return false;
  name = rest;
  return true;
}

// A compiled, folded pattern against a folded name.
bool MatchCompiled(std::u16string_view name, const std::vector<PatternElement>& elements) {
  if (elements.size() == 1) return false;
  for (size_t i = 0; i + 1 < elements.size(); ++i) {
    if (!StepView(name, elements[i], elements[i + 1])) return false;
  }
  return true;
}

// Which beginnings of a folded text a compiled pattern matches: the lengths
// p for which MatchCompiled(text.substr(0, p)) holds are `length`, and when
// the pattern ends in a run, every length from it on.
struct MatchingLengths {
  size_t length = 0;
  bool orLonger = false;
};

// The matcher run once over the whole text. A step on a beginning of it goes
// exactly as on the whole text as long as what it finds lies inside the
// beginning: the first occurrence of a literal in the beginning is its first
// occurrence in the whole text, or there is none. So the steps that pass on
// the whole text tell where every beginning that matches must end.
std::optional<MatchingLengths> MatchingBeginnings(std::u16string_view text,
                                                  const std::vector<PatternElement>& elements) {
  if (elements.size() == 1) return std::nullopt;
  size_t pos = 0;
  for (size_t i = 0; i + 1 < elements.size(); ++i) {
    const PatternElement& cur = elements[i];
    const PatternElement& next = elements[i + 1];
    if (cur.kind == PatternElement::Literal) {
      // Found anywhere but at the front, the step fails.
      if (text.substr(pos, cur.text.size()) != cur.text) return std::nullopt;
      pos += cur.text.size();
    } else if (next.kind == PatternElement::Literal) {
      const size_t at = text.find(next.text, pos);
      if (at == std::u16string_view::npos) return std::nullopt;
      if (cur.kind == PatternElement::AnyChar && at == pos) return std::nullopt;
      pos = at;
    } else if (cur.kind == PatternElement::AnyRun) {
      if (next.kind == PatternElement::End) return MatchingLengths{pos, true};
    } else {
      if (pos == text.size()) return std::nullopt;
      ++pos;
    }
  }
  return MatchingLengths{pos, false};
}

}  // namespace

bool MatchStep(std::u16string& name, const PatternElement& cur, const PatternElement& next) {
  std::u16string_view view(name);
  if (!StepView(view, cur, next)) {
    name.clear();
    return false;
  }
  name = std::u16string(view);
  return true;
}

bool MatchPattern(std::u16string_view name, std::u16string_view pattern) {
  std::u16string folded(pattern);
  FoldAsciiUpper(folded);
  return MatchCompiled(name, CompilePattern(folded));
}

CIgnoreFilter::CIgnoreFilter(const std::u16string& filterText) {
  // One pass over the text: a filter of any length splits in linear time,
  // and an empty pattern (it never matches) costs nothing but its count.
  size_t start = 0;
  while (start < filterText.size()) {
    size_t end = filterText.find(u';', start);
    if (end == std::u16string::npos) end = filterText.size();
    if (end > start) {
      CompiledPattern pattern{patternCount_, filterText.substr(start, end - start), {}};
      if (pattern.text.find(u'\\') != std::u16string::npos) anyPatternHasBackslash_ = true;
      std::u16string folded = pattern.text;
      FoldAsciiUpper(folded);
      pattern.elements = CompilePattern(folded);
      compiled_.push_back(std::move(pattern));
    }
    ++patternCount_;
    start = end + 1;
  }
}

std::vector<std::u16string> CIgnoreFilter::Patterns() const {
  std::vector<std::u16string> patterns(patternCount_);
  for (const CompiledPattern& pattern : compiled_) patterns[pattern.index] = pattern.text;
  return patterns;
}

bool CIgnoreFilter::Match(std::u16string_view relPath, std::u16string& matchedPattern) const {
  matchedPattern.clear();
  if (compiled_.empty()) return false;
  // Only what the patterns see is folded: a check of every ancestor of a
  // deep path (and a scan of a deep tree) costs the length of each name
  // rather than of each whole path.
  std::u16string_view seen = relPath;
  if (anyPatternHasBackslash_) {
    if (!seen.empty() && seen.front() == u'\\') seen.remove_prefix(1);
  } else {
    const size_t last = seen.rfind(u'\\');
    if (last != std::u16string_view::npos) seen.remove_prefix(last + 1);
  }
  std::u16string folded(seen);
  FoldAsciiUpper(folded);
  for (const CompiledPattern& pattern : compiled_) {
    if (MatchCompiled(folded, pattern.elements)) {
      matchedPattern = pattern.text;
      return true;
    }
  }
  return false;
}

bool CIgnoreFilter::MatchSelfOrAncestor(std::u16string_view relPath,
                                        std::u16string& matchedPattern) const {
  matchedPattern.clear();
  if (compiled_.empty()) return false;
  // Where the path and each directory above it end, shortest first.
  std::vector<size_t> ends;
  for (size_t end = relPath.find(u'\\', 1); end != std::u16string_view::npos;
       end = relPath.find(u'\\', end + 1)) {
    ends.push_back(end);
  }
  ends.push_back(relPath.size());
  if (!anyPatternHasBackslash_) {
    // Match looks at the last component alone: every component once.
    for (const size_t end : ends) {
      if (Match(relPath.substr(0, end), matchedPattern)) return true;
    }
    return false;
  }
  // Every pattern sees the whole of each, without the leading '\': the
  // beginnings of one folded text.
  const size_t skip = !relPath.empty() && relPath.front() == u'\\' ? 1 : 0;
  std::u16string folded(relPath.substr(skip));
  FoldAsciiUpper(folded);
  size_t best = ends.size();
  for (const CompiledPattern& pattern : compiled_) {
    const std::optional<MatchingLengths> lengths = MatchingBeginnings(folded, pattern.elements);
    if (!lengths) continue;
    // The shortest of them that the pattern matches, by its end in the path.
    const size_t end = lengths->length + skip;
    const auto first = std::lower_bound(ends.begin(), ends.end(), end);
    if (first == ends.end() || (!lengths->orLonger && *first != end)) continue;
    const size_t found = static_cast<size_t>(first - ends.begin());
    if (found < best) {
      best = found;
      matchedPattern = pattern.text;
    }
  }
  return best < ends.size();
}

}  // namespace torquelin
