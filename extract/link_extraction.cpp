#include "link_extraction.h"

#include <new>

#include "main_window.h"
#include "message_box.h"
#include "program.h"
#include "regex_matcher.h"

const char LinkPattern[] = "([a-zA-z]+://[^\\s#引号]*)";

void AppendLinks(const RegexMatcher& matcher, int count, std::string& links) {
  for (int i = 1; i <= count; ++i) {
    links += matcher.GetSubMatchText(i, 1);
    links += "\r\n";
  }
}

int FindLinks(std::string_view subject, std::string& links) {
  RegexMatcher matcher;
  matcher.Create(LinkPattern, subject, false, false, true, true);
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
