#pragma once
// One regular-expression search over an ANSI text, through the system's "VBScript.RegExp"
// automation object (or the program's own object with the same members where the system lacks
// it). Matches and groups are handed out by number, counted from 1. Never shows a message and
// never throws: every failure gives the empty value of its kind.
#include <string>
#include <string_view>

#include "com_owners.h"

class RegexMatcher {
 public:
  RegexMatcher();
  ~RegexMatcher();
  RegexMatcher(const RegexMatcher&) = delete;
  RegexMatcher& operator=(const RegexMatcher&) = delete;

  // Tells, from the subject as the engine sees it (UTF-16), whether the search must run in time
  // and memory linear in its length, which the system's backtracking engine cannot promise.
  using LinearSearchTest = bool (*)(std::wstring_view subject);

  // Sets up a fresh engine with these options and `pattern` (every "#引号" taken for a double
  // quote when `expandQuotes`), runs it over `subject` and keeps the matches. Where the system's
  // engine is in use and `needsLinearSearch` answers true for the subject, the program's own
  // engine searches it instead: both give the same matches. True when a match collection was
  // obtained, even an empty one.
  bool Create(std::string_view pattern, std::string_view subject, bool caseSensitive = false,
              bool multiline = true, bool global = true, bool expandQuotes = false,
              LinearSearchTest needsLinearSearch = nullptr);
  std::string GetPattern() const;
  std::string Replace(std::string_view replacement) const;
  int GetMatchCount() const;
  std::string GetMatchText(int matchIndex) const;
  std::string GetSubMatchText(int matchIndex, int groupIndex) const;
  int GetSubMatchCount() const;

 private:
  ComApartment apartment_;  // first in, last out: outlives every reference below
  ComPtr<IUnknown> engine;
  ComPtr<IUnknown> matches;
  UniqueVariant subjectValue;
};

// `pattern` with every "#引号" replaced by a double quote, compared byte for byte at character
// boundaries of the ANSI code page.
std::string ExpandQuoteMarkers(std::string_view pattern);
