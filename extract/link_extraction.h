#pragma once
// Finds the web addresses in the text of a bookmarks file.
#include <string>
#include <string_view>

class RegexMatcher;

// A run of letters (the range A-z also holds [ \ ] ^ _ `) before "://", then everything up to
// white space or a double quote ("#引号" is expanded to the quote by the matcher).
extern const char LinkPattern[];

// Searches `subject` for links, shows their number in the main window's label, appends each link
// and CR LF to CollectedLinks, or shows the error box when there is none; returns the number.
int ExtractLinks(std::string_view subject);

// The search without the window: the links of `subject`, each followed by CR LF, appended to
// `links`; returns their number (0, with nothing appended, when the search or memory fails).
int FindLinks(std::string_view subject, std::string& links);

// True when searching `subject` (UTF-16, as the engine sees it) for LinkPattern could take a
// backtracking engine more than linear time or memory: long runs of the range A-z that "://" does
// not follow, or an address of a million characters or more. Such a subject goes to the
// program's own engine, which finds the same links in linear time.
bool LinkSearchNeedsLinearTime(std::wstring_view subject);

// Group 1 of matches 1..count of `matcher`, each followed by CR LF, appended to `links`.
void AppendLinks(const RegexMatcher& matcher, int count, std::string& links);
