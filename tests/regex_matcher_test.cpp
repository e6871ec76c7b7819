#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "link_extraction.h"
#include "regex_matcher.h"

namespace {

TEST(RegexMatcher, DefaultsIgnoreCaseAndFindEveryMatch) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Create("a", "AaA"));
  EXPECT_EQ(matcher.GetMatchCount(), 3);
  EXPECT_EQ(matcher.GetMatchText(1), "A");
  EXPECT_EQ(matcher.GetMatchText(2), "a");
  EXPECT_EQ(matcher.GetMatchText(3), "A");
}

TEST(RegexMatcher, FlagsReachTheEngine) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Create("^a", "AaA\na", /*caseSensitive=*/true, /*multiline=*/true));
  EXPECT_EQ(matcher.GetMatchCount(), 1);  // case counts; only the second line starts with a
  ASSERT_TRUE(matcher.Create("a", "AaA", false, true, /*global=*/false));
  EXPECT_EQ(matcher.GetMatchCount(), 1);
  ASSERT_TRUE(matcher.Create("^a", "x\na", false, /*multiline=*/false));
  EXPECT_EQ(matcher.GetMatchCount(), 0);
}

TEST(RegexMatcher, EmptyResultsOutsideTheMatchesAndGroups) {
  struct Case {
    const char* pattern;
    const char* subject;
  } cases[] = {{"(a)", "xyz"}, {"(a)", ""}};
  for (const Case& c : cases) {
    RegexMatcher matcher;
    EXPECT_TRUE(matcher.Create(c.pattern, c.subject)) << c.subject;
    EXPECT_EQ(matcher.GetMatchCount(), 0);
    EXPECT_EQ(matcher.GetSubMatchCount(), 0);
    EXPECT_EQ(matcher.GetSubMatchText(1, 1), "");
    EXPECT_EQ(matcher.GetMatchText(1), "");
  }

  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Create("(a)|(b)", "ab"));
  EXPECT_EQ(matcher.GetMatchCount(), 2);
  EXPECT_EQ(matcher.GetSubMatchCount(), 2);
  EXPECT_EQ(matcher.GetMatchText(0), "");
  EXPECT_EQ(matcher.GetMatchText(3), "");
  EXPECT_EQ(matcher.GetSubMatchText(1, 1), "a");
  EXPECT_EQ(matcher.GetSubMatchText(1, 2), "");  // took no part in the first match
  EXPECT_EQ(matcher.GetSubMatchText(2, 2), "b");
  EXPECT_EQ(matcher.GetSubMatchText(1, 3), "");
  EXPECT_EQ(matcher.GetSubMatchText(1, 0), "");
  EXPECT_EQ(matcher.GetSubMatchText(3, 1), "");
}

TEST(RegexMatcher, PatternAndReplaceBeforeAndAfterCreate) {
  RegexMatcher matcher;
  EXPECT_EQ(matcher.GetPattern(), "");
  EXPECT_EQ(matcher.Replace("o"), "");
  EXPECT_EQ(matcher.GetMatchCount(), 0);

  ASSERT_TRUE(matcher.Create(LinkPattern, "", false, false, true, true));
  EXPECT_EQ(matcher.GetPattern(), "([a-zA-z]+://[^\\s\"]*)");
  ASSERT_TRUE(matcher.Create(LinkPattern, ""));
  EXPECT_EQ(matcher.GetPattern(), LinkPattern);
  ASSERT_TRUE(matcher.Create("#引号x#引号", "say \"x\"", false, true, true, true));
  EXPECT_EQ(matcher.GetPattern(), "\"x\"");
  EXPECT_EQ(matcher.GetMatchText(1), "\"x\"");

  ASSERT_TRUE(matcher.Create("a", "banana"));
  EXPECT_EQ(matcher.Replace("o"), "bonono");
  EXPECT_EQ(matcher.GetMatchCount(), 3);  // replacing changes neither the matches nor the subject
  EXPECT_EQ(matcher.Replace(""), "bnn");
}

TEST(RegexMatcher, PatternTheEngineRefusesGivesNoMatches) {
  RegexMatcher matcher;
  EXPECT_FALSE(matcher.Create("(a", "aaa"));
  EXPECT_EQ(matcher.GetMatchCount(), 0);
  EXPECT_EQ(matcher.GetSubMatchCount(), 0);
  EXPECT_EQ(matcher.GetMatchText(1), "");
  EXPECT_EQ(matcher.GetSubMatchText(1, 1), "");
}

TEST(ExpandQuoteMarkers, ReplacesEveryMarkerAtCharacterBoundariesOnly) {
  struct Case {
    std::string pattern, expanded;
  } cases[] = {
      {"a#引号b#引号", "a\"b\""},
      {"##引号", "#\""},
      {"#引", "#引"},
      {"引号", "引号"},
      // 0x81 leads a double-byte character that swallows the '#', so no marker starts there.
      {"\x81#引号", "\x81#引号"},
      {"中#引号文", "中\"文"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ExpandQuoteMarkers(c.pattern), c.expanded) << c.pattern;
}

TEST(RegexMatcher, LinkPatternOverTheSamples) {
  struct Case {
    const char* subject;
    std::vector<std::string> links;
  } cases[] = {
      {"<DT><A HREF=\"ab://c/d\" ADD_DATE=\"1\">t</A>", {"ab://c/d"}},
      {"x-ab://c d", {"ab://c"}},
      {"_ab://c", {"_ab://c"}},
      {"ab://cd://e", {"ab://cd://e"}},
      {"svn+ssh://h/p FTP://H [ab://c", {"ssh://h/p", "FTP://H", "[ab://c"}},
      {"mailto:x@y.z www.a.b", {}},
  };
  for (const Case& c : cases) {
    RegexMatcher matcher;
    ASSERT_TRUE(matcher.Create(LinkPattern, c.subject, false, false, true, true));
    ASSERT_EQ(matcher.GetMatchCount(), static_cast<int>(c.links.size())) << c.subject;
    for (size_t i = 0; i < c.links.size(); ++i)
      EXPECT_EQ(matcher.GetSubMatchText(static_cast<int>(i) + 1, 1), c.links[i]) << c.subject;
  }
}

TEST(RegexMatcher, Code936TextSurvivesTheRoundTrip) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Create("ab://\\S+", "书签：ab://测试/路径？q=值 结束"));
  ASSERT_EQ(matcher.GetMatchCount(), 1);
  EXPECT_EQ(matcher.GetMatchText(1), "ab://测试/路径？q=值");
}

// After a matcher's life the thread's COM initialisation count is back where it was: a fresh
// CoInitialize is the first again (S_OK, not S_FALSE).
TEST(RegexMatcher, KeepsTheThreadsComInitialisationBalanced) {
  HRESULT afterOne = E_FAIL, afterNested = E_FAIL;
  std::thread([&] {
    {
      RegexMatcher matcher;
      matcher.Create("a", "a");
    }
    afterOne = CoInitialize(nullptr);
    CoUninitialize();
    {
      RegexMatcher outer;
      outer.Create("a", "aa");
      {
        RegexMatcher inner;
        inner.Create("b", "b");
        EXPECT_EQ(inner.GetMatchCount(), 1);
      }
      EXPECT_EQ(outer.GetMatchCount(), 2);
    }
    afterNested = CoInitialize(nullptr);
    CoUninitialize();
  }).join();
  EXPECT_EQ(afterOne, S_OK);
  EXPECT_EQ(afterNested, S_OK);
}

}  // namespace
