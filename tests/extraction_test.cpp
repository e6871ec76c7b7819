#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "link_extraction.h"
#include "main_window.h"
#include "program.h"
#include "regex_matcher.h"
#include "test_support.h"

namespace {

// The real main window, hidden: ExtractLinks reports through its label.
class ExtractLinksTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(MainWindowHandle() || CreateMainWindow()); }
  static std::string Caption() {
    char text[256] = {};
    GetWindowTextA(GetDlgItem(MainWindowHandle(), kLabelId), text, sizeof text);
    return text;
  }
};

TEST_F(ExtractLinksTest, ShowsTheCountAndCollectsEveryLinkInOrder) {
  struct Case {
    const char* what;
    std::string subject;
    std::string links;  // what is appended to CollectedLinks
  } cases[] = {
      {"an entry's address, icon address and an address in its title",
       "<DT><A HREF=\"http://a.cn/x\" ICON_URI=\"https://a.cn/favicon.ico\">见 ftp://b.cn/y 说明</A>",
       "http://a.cn/x\r\nhttps://a.cn/favicon.ico\r\nftp://b.cn/y\r\n"},
      {"the scheme is the run of class characters before ://",
       "svn+ssh://h/p abcftp://h _ab://c [ab://c FTP://H x-ab://c",
       "ssh://h/p\r\nabcftp://h\r\n_ab://c\r\n[ab://c\r\nFTP://H\r\nab://c\r\n"},
      {"nothing is decoded, duplicates stay",
       "\"http://a/?x=1&amp;y=2\" \"http://a/?x=1&amp;y=2\"",
       "http://a/?x=1&amp;y=2\r\nhttp://a/?x=1&amp;y=2\r\n"},
      {"an address in running text keeps what follows it up to white space",
       "<A HREF=\"http://q\">ftp://a/x</A>\n<DT>ftp://a/ftp://b.",
       "http://q\r\nftp://a/x</A>\r\nftp://a/ftp://b.\r\n"},
      {"code page 936 text in and around an address", "书签 http://例子.中国/路径，说明\t完",
       "http://例子.中国/路径，说明\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CollectedLinks = "earlier\r\n";
    MessageBoxAnswerer answerer(MainWindowHandle());
    int expectedCount = 0;
    for (size_t at = 0; (at = c.links.find("\r\n", at)) != std::string::npos; at += 2) ++expectedCount;
    EXPECT_EQ(ExtractLinks(c.subject), expectedCount);
    EXPECT_EQ(CollectedLinks, "earlier\r\n" + c.links);
    EXPECT_EQ(Caption(), "书签数量为" + std::to_string(expectedCount));
    EXPECT_TRUE(answerer.boxes().empty());
  }
}

TEST_F(ExtractLinksTest, NoLinkShowsTheErrorBoxAndKeepsWhatWasCollected) {
  const char* subjects[] = {"", "mailto:a@b.cn www.a.cn a:/b", "\"://x\" 中://y -://z"};
  for (const char* subject : subjects) {
    SCOPED_TRACE(subject);
    CollectedLinks = "http://kept\r\n";
    SetLabelCaption("书签数量为7");
    MessageBoxAnswerer answerer(MainWindowHandle());
    EXPECT_EQ(ExtractLinks(subject), 0);
    EXPECT_EQ(CollectedLinks, "http://kept\r\n");
    EXPECT_EQ(Caption(), "书签数量为0");
    auto boxes = answerer.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "信息：");
    EXPECT_EQ(boxes[0].text, "匹配失败，数量：0");
    EXPECT_TRUE(boxes[0].hasIcon);
    EXPECT_TRUE(boxes[0].ownerDisabled);  // task-modal: the main window waits for the answer
  }
}

TEST_F(ExtractLinksTest, AnEmptyRemainderIsStillALink) {
  CollectedLinks.clear();
  MessageBoxAnswerer answerer(MainWindowHandle());
  EXPECT_EQ(ExtractLinks("go http:// now"), 1);
  EXPECT_EQ(CollectedLinks, "http://\r\n");
}

TEST_F(ExtractLinksTest, ASecondCallAppendsAfterTheFirst) {
  CollectedLinks.clear();
  MessageBoxAnswerer answerer(MainWindowHandle());
  EXPECT_EQ(ExtractLinks("a://1 b://2 c://3"), 3);
  EXPECT_EQ(ExtractLinks("d://4 a://1"), 2);
  EXPECT_EQ(CollectedLinks, "a://1\r\nb://2\r\nc://3\r\nd://4\r\na://1\r\n");
  EXPECT_EQ(Caption(), "书签数量为2");
}

// An ideographic space (U+3000, A1 A1 in code page 936) ends an address for Wine's engine and not
// for the program's own, so the last link found in a text tells which engine searched it.
constexpr char kProbe[] = " http://probe.example/\xA1\xA1tail";
constexpr char kProbeBySystem[] = "http://probe.example/\r\n";
constexpr char kProbeByOwn[] = "http://probe.example/\xA1\xA1tail\r\n";

std::string Repeat(std::string_view piece, size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i) text += piece;
  return text;
}

TEST(LinkSearchEngine, TextsThatWouldStallTheSystemEngineGoToTheProgramsOwn) {
  {
    RegexMatcher system;  // asked without the choice FindLinks makes
    ASSERT_TRUE(system.Create(LinkPattern, kProbe, false, false, true, true));
    if (system.GetSubMatchText(1, 1) + "\r\n" != kProbeBySystem)
      GTEST_SKIP() << "the system engine is missing or cannot be told apart";
  }
  std::string links;

  struct Case {
    const char* what;
    std::string text;
    bool byOwnEngine;
    int links;  // before the probe's
  } cases[] = {
      {"an ordinary export",
       Repeat("<DT><A HREF=\"https://www.example.com/path/to/page?id=42\" ADD_DATE=\"1700000000\" "
              "ICON=\"data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAABAAAAAQCAYAAAAf8/9h\">"
              "Example 示例页面</A>\r\n", 20'000),
       false, 20'000},
      {"two-byte characters whose second byte is a letter", Repeat("\x81\x61", 500'000), false, 0},
      {"a million letters", std::string(1'000'000, 'a'), true, 0},
      {"many runs of 300 letters", Repeat(std::string(300, 'b') + ' ', 3'000), true, 0},
      {"an address of a million characters", "http://" + std::string(1'000'000, 'x'), true, 1},
      {"a long run after an ideographic space that ends an address for the system engine",
       "ab://x\xA1\xA1" + std::string(900'000, 'c'), true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    links.clear();
    EXPECT_EQ(FindLinks(c.text + kProbe, links), c.links + 1);
    EXPECT_TRUE(links.ends_with(c.byOwnEngine ? kProbeByOwn : kProbeBySystem))
        << "ends with: " << links.substr(links.size() - std::min<size_t>(links.size(), 40));
  }
}

}  // namespace
