#include "capture/regex_prefilter.h"

#include <hs/hs.h>

#include <cstdint>
#include <string>

namespace korva {

bool prefilterReadsAlike(std::string_view pattern) {
  for (std::size_t k = 0; k < pattern.size(); ++k) {
    const auto c = static_cast<unsigned char>(pattern[k]);
    if (c >= 0x80 || c == 0) return false;
    // "{,n}" is a literal for RE2; other engines have read it as a repetition.
    if (c == '{' && k + 1 < pattern.size() && pattern[k + 1] == ',') return false;
    if (c != '\\' || ++k == pattern.size()) continue;
    // Unicode classes, code points (maybe above ASCII), any byte, octal numbers: RE2 and
    // Vectorscan could read those apart, and a prefilter that is wrong loses matches.
    const char next = pattern[k];
    if (next == 'p' || next == 'P' || next == 'x' || next == 'C' || (next >= '0' && next <= '9'))
      return false;
  }
  return true;
}

bool withoutAssertions(std::string_view pattern) {
  bool inClass = false;
  for (std::size_t k = 0; k < pattern.size(); ++k) {
    const char c = pattern[k];
    if (c == '\\') {
      if (++k == pattern.size()) return false;
      const char next = pattern[k];
      if (!inClass && (next == 'b' || next == 'B' || next == 'A' || next == 'z')) return false;
    } else if (inClass) {
      // A class ends at its first ']', even one a POSIX name closes: ending early only makes
      // more of the expression count as outside, where '^' and '$' say false.
      if (c == ']') inClass = false;
    } else if (c == '[') {
      inClass = true;
      if (k + 1 < pattern.size() && pattern[k + 1] == '^') ++k;
    } else if (c == '^' || c == '$') {
      return false;
    }
  }
  return true;
}

namespace {

hs_database* compile(const std::string& pattern, unsigned flags, bool exactOnly = false) {
  hs_database_t* db = nullptr;
  hs_compile_error_t* error = nullptr;
  // Exactly first; where Vectorscan lacks a construct, an approximation that matches more.
  for (unsigned extra : {0u, unsigned{HS_FLAG_PREFILTER}}) {
    if (extra != 0 && exactOnly) break;
    if (hs_compile(pattern.c_str(), flags | extra, HS_MODE_BLOCK, nullptr, &db, &error) ==
        HS_SUCCESS)
      return db;
    hs_free_compile_error(error);
    error = nullptr;
  }
  return nullptr;
}

int stopAtFirst(unsigned, unsigned long long, unsigned long long, unsigned, void* found) {
  *static_cast<bool*>(found) = true;
  return 1;  // ends the scan
}

int collectSpan(unsigned, unsigned long long from, unsigned long long to, unsigned, void* out) {
  static_cast<std::vector<RegexPrefilter::Span>*>(out)->push_back({from, to});
  return 0;
}

}  // namespace

void RegexPrefilter::DatabaseFree::operator()(hs_database* db) const { hs_free_database(db); }
void RegexPrefilter::ScratchFree::operator()(hs_scratch* s) const { hs_free_scratch(s); }

RegexPrefilter::RegexPrefilter(std::string_view pattern) {
  if (!prefilterReadsAlike(pattern)) return;
  const std::string text(pattern);
  constexpr unsigned kFlags = HS_FLAG_CASELESS | HS_FLAG_SINGLEMATCH;
  bytes_.reset(compile(text, kFlags));
  utf8_.reset(compile(text, kFlags | HS_FLAG_UTF8));
  constexpr unsigned kSpanFlags = HS_FLAG_CASELESS | HS_FLAG_SOM_LEFTMOST;
  spanBytes_.reset(compile(text, kSpanFlags, true));
  spanUtf8_.reset(compile(text, kSpanFlags | HS_FLAG_UTF8, true));
  hs_scratch_t* scratch = nullptr;
  if (!bytes_ || !utf8_ || hs_alloc_scratch(bytes_.get(), &scratch) != HS_SUCCESS ||
      hs_alloc_scratch(utf8_.get(), &scratch) != HS_SUCCESS) {
    hs_free_scratch(scratch);
    bytes_.reset();
    utf8_.reset();
    spanBytes_.reset();
    spanUtf8_.reset();
    return;
  }
  if (!spanBytes_ || !spanUtf8_ || hs_alloc_scratch(spanBytes_.get(), &scratch) != HS_SUCCESS ||
      hs_alloc_scratch(spanUtf8_.get(), &scratch) != HS_SUCCESS) {
    spanBytes_.reset();
    spanUtf8_.reset();
  }
  scratch_.reset(scratch);
}

RegexPrefilter::~RegexPrefilter() = default;

bool RegexPrefilter::mayMatch(std::string_view text, bool utf8) const {
  if (!usable() || text.size() > UINT32_MAX) return true;
  bool found = false;
  const hs_error_t status =
      hs_scan(utf8 ? utf8_.get() : bytes_.get(), text.data(), static_cast<unsigned>(text.size()), 0,
              scratch_.get(), stopAtFirst, &found);
  // Any failure counts as a maybe: RE2 decides then.
  return found || (status != HS_SUCCESS && status != HS_SCAN_TERMINATED);
}

}  // namespace korva

namespace korva {

bool RegexPrefilter::spans(std::string_view text, bool utf8, std::vector<Span>& out) const {
  out.clear();
  if (!hasSpans() || text.size() > UINT32_MAX) return false;
  if (hs_scan(utf8 ? spanUtf8_.get() : spanBytes_.get(), text.data(),
              static_cast<unsigned>(text.size()), 0, scratch_.get(), collectSpan,
              &out) != HS_SUCCESS)
    return false;
  // Reported by end, which the caller relies on; checked rather than assumed.
  for (std::size_t i = 1; i < out.size(); ++i)
    if (out[i].to < out[i - 1].to) return false;
  return true;
}

}  // namespace korva
