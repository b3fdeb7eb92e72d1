#include "capture/regex_bytes.h"

#include <cctype>

namespace korva {

bool readsAlikeOnBytes(std::string_view pattern) {
  for (std::size_t k = 0; k < pattern.size(); ++k) {
    const auto c = static_cast<unsigned char>(pattern[k]);
    if (c >= 0x80 || c == 0) return false;
    if (c != '\\' || ++k == pattern.size()) continue;
    // Unicode classes, code points (maybe above ASCII), any byte, octal numbers.
    const char next = pattern[k];
    if (next == 'p' || next == 'P' || next == 'x' || next == 'C' || (next >= '0' && next <= '9'))
      return false;
  }
  return true;
}

bool matchesOnlyAscii(std::string_view pattern) {
  if (!readsAlikeOnBytes(pattern)) return false;
  for (std::size_t k = 0; k < pattern.size(); ++k) {
    const char c = pattern[k];
    if (c == '.') return false;
    // A negated class, or a negated POSIX class inside one.
    if (c == '^' && k > 0 && (pattern[k - 1] == '[' || pattern[k - 1] == ':')) return false;
    if (c == '\\' && k + 1 < pattern.size()) {
      const char next = pattern[++k];
      if (next == 'S' || next == 'W' || next == 'D' || next == 'C') return false;
    }
  }
  return true;
}

std::vector<std::string> leadingLiterals(std::string_view pattern) {
  if (!readsAlikeOnBytes(pattern)) return {};
  // The alternatives at the top level: '|' outside groups and classes.
  std::vector<std::string_view> alternatives;
  int depth = 0;
  bool inClass = false;
  std::size_t from = 0;
  for (std::size_t k = 0; k < pattern.size(); ++k) {
    const char c = pattern[k];
    if (c == '\\') {
      ++k;
    } else if (inClass) {
      if (c == ']') inClass = false;
    } else if (c == '[') {
      inClass = true;
      if (k + 1 < pattern.size() && (pattern[k + 1] == '^' || pattern[k + 1] == ']')) ++k;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (--depth < 0) return {};
    } else if (c == '|' && depth == 0) {
      alternatives.push_back(pattern.substr(from, k - from));
      from = k + 1;
    }
  }
  if (depth != 0 || inClass) return {};
  alternatives.push_back(pattern.substr(from));
  std::vector<std::string> literals;
  for (std::string_view a : alternatives) {
    std::string literal;
    std::size_t k = 0;
    for (; k < a.size(); ++k) {
      const char c = a[k];
      const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
      if (c == '\\' && k + 1 < a.size() && !std::isalnum(static_cast<unsigned char>(a[k + 1]))) {
        literal += a[++k];  // an escaped punctuation mark stands for itself
        continue;
      }
      if (!word &&
          (c < 0x20 || std::string_view("\\.+*?()|[]{}^$").find(c) != std::string_view::npos))
        break;
      literal += static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    }
    // A quantifier that may leave out or repeat the last one takes it off the literal.
    if (k < a.size() && (a[k] == '?' || a[k] == '*' || a[k] == '{') && !literal.empty())
      literal.pop_back();
    if (literal.empty()) return {};
    literals.push_back(std::move(literal));
  }
  return literals;
}

}  // namespace korva
