// Open as a user does it: the file dialog, the edit box and the label, the error box, and the
// links collected, seen through a Save where they matter.
#include "app_steps.h"
#include "e2e_support.h"

namespace {

using steps::BookmarksHtml;
using steps::CountCaption;
using steps::LinkLines;
using uidriver::Text;

class Open : public StartedProgram {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = folder_.file(name);
    EXPECT_OK(uidriver::WriteFileBytes(path, bytes));
    return path;
  }
  // Saves and answers No; what bookmarks.txt then holds.
  std::string SaveAndRead() {
    EXPECT_OK(steps::ClickSave(program_));
    uidriver::Result<steps::Box> box = steps::AnswerBox(program_, IDNO);
    EXPECT_TRUE(box) << box.error;
    EXPECT_EQ(box.value.caption, steps::kSavedCaption);
    uidriver::Result<std::string> saved = uidriver::ReadFileBytes(folder_.file("bookmarks.txt"));
    EXPECT_TRUE(saved) << saved.error;
    return saved.value;
  }
  void ExpectNoLinkBox() {
    uidriver::Result<steps::Box> box = steps::AnswerBox(program_, IDOK);
    ASSERT_TRUE(box) << box.error;
    EXPECT_EQ(box.value.caption, steps::kNoLinkCaption);
    EXPECT_EQ(box.value.text, steps::kNoLinkText);
    EXPECT_EQ(box.value.buttons.size(), 1u);
    EXPECT_TRUE(box.value.hasIcon);
  }
};

const std::vector<std::string> kThree = {"https://www.example.com/", "http://例子.中国/路径?a=1&amp;b=2",
                                         "ftp://files.example.org/pub/"};
const std::vector<std::string> kTwo = {"https://news.example.net/今日", "http://b.example/x#y"};

TEST_F(Open, CancellingTheDialogChangesNothing) {
  const std::string labelBefore = Text(label());
  uidriver::Result<HWND> dialog = steps::ShowOpenDialog(program_);
  ASSERT_TRUE(dialog) << dialog.error;
  ASSERT_OK(steps::PressButton(dialog.value, IDCANCEL));
  EXPECT_EQ(Text(edit()), "");
  EXPECT_EQ(Text(label()), labelBefore);

  const std::string path = Write("两个.html", BookmarksHtml(kTwo));
  ASSERT_OK(steps::OpenFile(program_, path));
  ASSERT_OK(program_.waitForText(label(), CountCaption(2)));
  dialog = steps::ShowOpenDialog(program_);
  ASSERT_TRUE(dialog) << dialog.error;
  ASSERT_OK(steps::PressButton(dialog.value, IDCANCEL));
  EXPECT_EQ(Text(edit()), path);
  EXPECT_EQ(Text(label()), CountCaption(2));
  // The links and the count of the last Open are as they were: Save still writes exactly them.
  EXPECT_EQ(SaveAndRead(), LinkLines(kTwo));
}

TEST_F(Open, ShowsPathAndCountAndAFileWithoutLinksKeepsWhatWasCollected) {
  const std::string three = Write("三个 书签.html", BookmarksHtml(kThree));
  ASSERT_OK(steps::OpenFile(program_, three));
  ASSERT_OK(program_.waitForText(label(), CountCaption(3)));
  EXPECT_EQ(Text(edit()), three);

  const std::string none = Write("没有.html", "<DL><DT><A HREF=\"www.example.com\">无协议</A></DL>\r\n");
  ASSERT_OK(steps::OpenFile(program_, none));
  ASSERT_OK(program_.waitForText(label(), CountCaption(0)));
  EXPECT_EQ(Text(edit()), none);
  ExpectNoLinkBox();

  const std::string two = Write("两个.html", BookmarksHtml(kTwo));
  ASSERT_OK(steps::OpenFile(program_, two));
  ASSERT_OK(program_.waitForText(label(), CountCaption(2)));
  std::vector<std::string> all = kThree;
  all.insert(all.end(), kTwo.begin(), kTwo.end());
  EXPECT_EQ(SaveAndRead(), LinkLines(all));
}

TEST_F(Open, TheNextDialogStartsWithThePreviousFileAndOpeningItAgainCollectsItTwice) {
  const std::string path = Write("三个.html", BookmarksHtml(kThree));
  ASSERT_OK(steps::OpenFile(program_, path));
  ASSERT_OK(program_.waitForText(label(), CountCaption(3)));

  uidriver::Result<HWND> dialog = steps::ShowOpenDialog(program_);
  ASSERT_TRUE(dialog) << dialog.error;
  // The dialog may show the whole path or, having gone to its folder, only the name.
  const std::string field = Text(uidriver::FileNameField(dialog.value));
  EXPECT_TRUE(field == path || field == path.substr(path.rfind('\\') + 1)) << uidriver::ToUtf8(field);
  // Confirmed as it stands, it opens that file again (Save, clicked after, waits for the Open).
  ASSERT_OK(steps::PressButton(dialog.value, IDOK));
  std::vector<std::string> twice = kThree;
  twice.insert(twice.end(), kThree.begin(), kThree.end());
  EXPECT_EQ(SaveAndRead(), LinkLines(twice));
  EXPECT_EQ(Text(edit()), path);
  EXPECT_EQ(Text(label()), CountCaption(3));
}

TEST_F(Open, AFileAnotherProgramHoldsOpenForWritingWithSharingOpens) {
  const std::string path = Write("正在写.html", BookmarksHtml(kTwo));
  steps::HeldFile writer(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_TRUE(writer.ok()) << "error " << writer.error();
  ASSERT_OK(steps::OpenFile(program_, path));
  ASSERT_OK(program_.waitForText(label(), CountCaption(2)));
  EXPECT_EQ(SaveAndRead(), LinkLines(kTwo));
}

// ---- where the text ends: the bytes as written, and the links that must come of them ----

struct BytesCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> links;  // empty: the error box
};

void PrintTo(const BytesCase& c, std::ostream* out) { *out << c.name; }

class OpenBytes : public Open, public ::testing::WithParamInterface<BytesCase> {};

TEST_P(OpenBytes, FindsTheLinksOfTheTextUpToItsEnd) {
  const BytesCase& c = GetParam();
  const std::string path = Write("字节.html", c.bytes);
  ASSERT_OK(steps::OpenFile(program_, path));
  ASSERT_OK(program_.waitForText(label(), CountCaption(static_cast<int>(c.links.size()))));
  if (c.links.empty()) {
    ExpectNoLinkBox();
  } else {
    EXPECT_EQ(SaveAndRead(), LinkLines(c.links));
  }
}

std::string Utf16WithBom(const std::string& ascii) {
  std::string bytes = "\xFF\xFE";
  for (char c : ascii) bytes += std::string{c, '\0'};
  return bytes;
}

using namespace std::string_literals;

const BytesCase kBytesCases[] = {
    {"Utf16WithBom", Utf16WithBom("<A HREF=\"http://a.example/\">a</A> http://b.example/"), {}},
    {"CtrlZAtTheStart", "\x1A http://a.example/", {}},
    {"CtrlZEndsTheText", "http://a.example/ http://b.example/x\x1Ahttp://c.example/", {"http://a.example/", "http://b.example/x"}},
    {"NulEndsTheText", "http://a.example/ http://b.example/x\0http://c.example/"s, {"http://a.example/", "http://b.example/x"}},
    // A lead byte followed by NUL ends the text before the lead byte.
    {"PairWithNulEndsBeforeItsFirstByte", "http://a.example/ http://b.example/x\xB0\0http://c.example/"s,
     {"http://a.example/", "http://b.example/x"}},
    {"PairWithCtrlZDoesNotEndTheText", "http://a.example/ \xB0\x1A http://b.example/", {"http://a.example/", "http://b.example/"}},
    {"PairWithQuoteIsOrdinary", "http://a.example/ \x81\" http://b.example/", {"http://a.example/", "http://b.example/"}},
    // 昞 is 0x95 0x5C: its second byte is a backslash.
    {"PairWithBackslashStaysInTheLink", "<A HREF=\"http://例子.cn/昞/页\">昞</A> http://b.example/",
     {"http://例子.cn/昞/页", "http://b.example/"}},
    // Texts made to stall or exhaust a backtracking search.
    {"MillionLettersThenALink", std::string(1'000'000, 'a') + " http://a.example/", {"http://a.example/"}},
    {"FiftyMegabyteLineIsOneLink", "ab://" + std::string(50'000'000, 'x'), {"ab://" + std::string(50'000'000, 'x')}},
};

INSTANTIATE_TEST_SUITE_P(Files, OpenBytes, ::testing::ValuesIn(kBytesCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
