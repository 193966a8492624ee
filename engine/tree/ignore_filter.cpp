// CIgnoreFilter: parsing the filter text and the single-pass wildcard matcher.
#include "engine/tree/ignore_filter.h"

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

bool MatchStep(std::u16string& name, const PatternElement& cur, const PatternElement& next) {
  std::u16string head;
  std::u16string rest;
  if (cur.kind == PatternElement::Literal) {
    SplitResult split = SplitAt(name, cur.text);
    if (split.found) {
      head = std::move(split.head) + cur.text;
      rest = std::move(split.tail);
    }
  } else if (next.kind == PatternElement::Literal) {
    SplitResult split = SplitAt(name, next.text);
    if (split.found) {
      head = std::move(split.head);
      rest = next.text + split.tail;
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
  const bool accepted = ElementAccepts(cur, head) && ElementAccepts(next, rest);
  if (accepted) {
    name = std::move(rest);
  } else {
    name.clear();
  }
  return accepted;
}

bool MatchPattern(std::u16string_view name, std::u16string_view pattern) {
  std::u16string folded(pattern);
  FoldAsciiUpper(folded);
  const std::vector<PatternElement> elements = CompilePattern(folded);
  if (elements.size() == 1) return false;
  std::u16string remaining(name);
  for (size_t i = 0; i + 1 < elements.size(); ++i) {
    if (!MatchStep(remaining, elements[i], elements[i + 1])) return false;
  }
  return true;
}

CIgnoreFilter::CIgnoreFilter(const std::u16string& filterText) {
  std::u16string remaining = filterText;
  while (!remaining.empty()) {
    SplitResult split = SplitAt(remaining, u";");
    patterns_.push_back(std::move(split.head));
    remaining = std::move(split.tail);
  }
  for (const std::u16string& pattern : patterns_) {
    if (pattern.find(u'\\') != std::u16string::npos) anyPatternHasBackslash_ = true;
  }
}

bool CIgnoreFilter::Match(const std::u16string& relPath, std::u16string& matchedPattern) const {
  matchedPattern.clear();
  if (patterns_.empty()) return false;
  std::u16string name = relPath;
  FoldAsciiUpper(name);
  if (anyPatternHasBackslash_) {
    if (!name.empty() && name.front() == u'\\') name.erase(0, 1);
  } else {
    const size_t last = name.rfind(u'\\');
    if (last != std::u16string::npos) name.erase(0, last + 1);
  }
  for (const std::u16string& pattern : patterns_) {
    if (MatchPattern(name, pattern)) {
      matchedPattern = pattern;
      return true;
    }
  }
  return false;
}
