#include "link_extraction.h"

#include <cstdint>
#include <new>

#include "main_window.h"
#include "message_box.h"
#include "program.h"
#include "regex_matcher.h"

const char LinkPattern[] = "([a-zA-z]+://[^\\s#引号]*)";

namespace {

// A backtracking engine tries a link from every character of a run of the range A-z, and each try
// reads to the run's end before it finds no "://" there: L(L+1)/2 steps for a run of L characters.
// Real text has short runs, a few steps a character in all; Wine's engine does about 27 million
// steps a second, so a single run of a million letters would keep the wait cursor up for hours.
constexpr uint64_t kStepsPerCharacter = 8;
constexpr uint64_t kFreeSteps = 16'000'000;  // about half a second
// The system engine keeps state for every character of a link, and under Wine runs out of it at
// about 40 million characters. No real address comes near a million.
constexpr size_t kLongestBacktrackedLink = 1'000'000;

bool InSchemeRange(wchar_t c) { return c >= L'A' && c <= L'z'; }
// The engine may count more characters as white space (Wine's counts U+3000), never fewer: an
// address measured to these ends is never shorter than the engine's.
bool EndsLink(wchar_t c) { return c == L'"' || c == L' ' || (c >= L'\t' && c <= L'\r'); }

}  // namespace

bool LinkSearchNeedsLinearTime(std::wstring_view subject) {
  const size_t size = subject.size();
  const uint64_t allowedSteps = kStepsPerCharacter * size + kFreeSteps;
  uint64_t steps = 0;
  size_t linkEnd = 0;  // the end of the last address measured
  for (size_t i = 0; i < size;) {
    if (!InSchemeRange(subject[i])) {
      ++i;
      continue;
    }
    const size_t runStart = i;
    while (i < size && InSchemeRange(subject[i])) ++i;
    if (subject.substr(i, 3) == L"://") {
      // An address inside one already measured ends where that one does, so each character is
      // read at most twice.
      if (runStart >= linkEnd) {
        linkEnd = i + 3;
        while (linkEnd < size && !EndsLink(subject[linkEnd])) ++linkEnd;
        if (linkEnd - runStart >= kLongestBacktrackedLink) return true;
      }
    } else {
      // Counted inside addresses too: where the engine ends an address sooner, the runs after
      // that end are tried as starts.
      const uint64_t run = i - runStart;
      steps += run * (run + 1) / 2;
      if (steps > allowedSteps) return true;
    }
  }
  return false;
}

void AppendLinks(const RegexMatcher& matcher, int count, std::string& links) {
  for (int i = 1; i <= count; ++i) {
    links += matcher.GetSubMatchText(i, 1);
    links += "\r\n";
  }
}

int FindLinks(std::string_view subject, std::string& links) {
  RegexMatcher matcher;
  matcher.Create(LinkPattern, subject, false, false, true, true, LinkSearchNeedsLinearTime);
  int count = matcher.GetMatchCount();
  const size_t before = links.size();
  try {
    if (count > 0) AppendLinks(matcher, count, links);
    return count;
  } catch (const std::bad_alloc&) {
    links.resize(before);
    return 0;
  }
}

int ExtractLinks(std::string_view subject) {
  // The links are gathered apart and CollectedLinks is grown before anything is shown, so that
  // running out of memory ends like a text without links and never leaves half a file collected.
  std::string found;
  int count = FindLinks(subject, found);
  try {
    if (count > 0) CollectedLinks.reserve(CollectedLinks.size() + found.size());
  } catch (const std::bad_alloc&) {
    count = 0;
  }

  SetLabelCaption("书签数量为" + std::to_string(count));
  if (count == 0) {
    ShowMessage("匹配失败，数量：0", "信息：", MB_ICONERROR);
    return 0;
  }
  CollectedLinks += found;  // within the capacity reserved above: cannot fail
  return count;
}
