// Save as a user does it: when it does nothing, the file it writes and the question after it,
// the folder it offers to open, and the refusals that leave the old file alone.
#include <algorithm>
#include <optional>

#include "app_steps.h"
#include "e2e_support.h"

namespace {

using steps::BookmarksHtml;
using steps::CountCaption;
using steps::LinkLines;
using uidriver::Result;

const char kRecorderExe[] = B2T_RECORDER_EXE;

const std::vector<std::string> kThree = {"https://www.example.com/", "http://例子.中国/路径?a=1&amp;b=2",
                                         "ftp://files.example.org/pub/"};
const std::vector<std::string> kTwo = {"https://news.example.net/今日", "http://b.example/x#y"};
const std::string kOldFile = "http://old.example/旧\r\nhttps://old.example/2\r\n";

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The names of the files in `folder`, sorted: a temporary file left behind would show here.
std::vector<std::string> FileNames(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(entry.cFileName);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class Save : public StartedProgram {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = folder_.file(name);
    EXPECT_OK(uidriver::WriteFileBytes(path, bytes));
    return path;
  }
  void OpenLinks(const std::string& name, const std::vector<std::string>& links) {
    ASSERT_OK(steps::OpenFile(program_, Write(name, BookmarksHtml(links))));
    ASSERT_OK(program_.waitForText(label(), CountCaption(static_cast<int>(links.size()))));
  }
  void OpenNoLinks() {
    ASSERT_OK(steps::OpenFile(program_, Write("没有.html", "<DL><DT>没有链接</DL>\r\n")));
    Result<steps::Box> box = steps::AnswerBox(program_, IDOK);
    ASSERT_TRUE(box) << box.error;
    EXPECT_EQ(box.value.text, steps::kNoLinkText);
  }
  // Clicks Save and answers the box; the box as it was.
  steps::Box SaveAnswering(int id) {
    EXPECT_OK(steps::ClickSave(program_));
    Result<steps::Box> box = steps::AnswerBox(program_, id);
    EXPECT_TRUE(box) << box.error;
    return box.value;
  }
  void ExpectSavedBox(const steps::Box& box) {
    EXPECT_TRUE(box.hasIcon);
    EXPECT_EQ(box.caption, steps::kSavedCaption);
    EXPECT_EQ(box.text, steps::SavedText(folder_.path())) << uidriver::ToUtf8(box.text);
    ASSERT_EQ(box.buttons.size(), 2u);
    EXPECT_TRUE(box.hasButton(IDYES));
    EXPECT_TRUE(box.hasButton(IDNO));
  }
  std::string Saved() {
    Result<std::string> saved = uidriver::ReadFileBytes(bookmarks());
    EXPECT_TRUE(saved) << saved.error;
    return saved.value;
  }
  std::string bookmarks() const { return folder_.file("bookmarks.txt"); }
};

TEST_F(Save, DoesNothingBeforeAnyOpenAndAfterAnOpenWithoutLinks) {
  for (bool afterEmptyOpen : {false, true}) {
    SCOPED_TRACE(afterEmptyOpen ? "after links, then a file without links" : "before any Open");
    if (afterEmptyOpen) {
      OpenLinks("三个.html", kThree);
      OpenNoLinks();
    }
    ASSERT_OK(steps::ClickSave(program_));
    EXPECT_OK(steps::ExpectNoDialog(program_, 1500));
    // Input is taken in order: the dialog of a later click shows the Save click was handled.
    Result<HWND> dialog = steps::ShowOpenDialog(program_);
    ASSERT_TRUE(dialog) << dialog.error;
    ASSERT_OK(steps::PressButton(dialog.value, IDCANCEL));
    EXPECT_FALSE(Exists(bookmarks()));
  }
}

TEST_F(Save, WritesEveryLinkCollectedAndReplacesTheFileWhole) {
  OpenLinks("三个.html", kThree);
  OpenLinks("两个.html", kTwo);
  const std::string five = LinkLines(Concat(kThree, kTwo));

  ExpectSavedBox(SaveAnswering(IDNO));
  EXPECT_EQ(Saved(), five);  // in order, CR LF after each, no BOM
  const std::vector<std::string> files = {"bookmarks.txt", "bookmarks2txt.exe", "三个.html", "两个.html"};
  auto sorted = [](std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
  };
  EXPECT_EQ(FileNames(folder_.path()), sorted(files));

  // A longer file in its place is replaced whole, not written over or appended to.
  ASSERT_OK(uidriver::WriteFileBytes(bookmarks(), std::string(4096, 'x')));
  ExpectSavedBox(SaveAnswering(IDNO));
  EXPECT_EQ(Saved(), five);
  EXPECT_EQ(FileNames(folder_.path()), sorted(files));
  EXPECT_TRUE(program_.dialogs().empty());
}

// ---- refusals: the old file stays byte for byte, the links stay collected ----

struct Refusal {
  const char* name;
  DWORD attribute;   // given to the old file, or 0
  bool heldOpen;     // held open by this process without sharing
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

class SaveRefused : public Save, public ::testing::WithParamInterface<Refusal> {};

TEST_P(SaveRefused, ShowsTheErrorAndLeavesTheOldFile) {
  const Refusal& refusal = GetParam();
  ASSERT_OK(uidriver::WriteFileBytes(bookmarks(), kOldFile));
  if (refusal.attribute) {
    ASSERT_TRUE(SetFileAttributesA(bookmarks().c_str(), refusal.attribute));
  }
  std::optional<steps::HeldFile> holder;
  if (refusal.heldOpen) {
    holder.emplace(bookmarks(), GENERIC_READ | GENERIC_WRITE, 0);
    ASSERT_TRUE(holder->ok()) << "error " << holder->error();
  }
  OpenLinks("三个.html", kThree);
  const std::vector<std::string> filesBefore = FileNames(folder_.path());

  steps::Box box = SaveAnswering(IDOK);
  EXPECT_EQ(box.caption, steps::kSaveFailedCaption);
  EXPECT_EQ(box.text.rfind(steps::kSaveFailedStart, 0), 0u) << uidriver::ToUtf8(box.text);
  EXPECT_EQ(box.buttons.size(), 1u);
  EXPECT_TRUE(box.hasIcon);
  holder.reset();
  EXPECT_EQ(Saved(), kOldFile);
  if (refusal.attribute) {
    EXPECT_EQ(GetFileAttributesA(bookmarks().c_str()) & refusal.attribute, refusal.attribute);
  }
  EXPECT_EQ(FileNames(folder_.path()), filesBefore);

  // Once the file may be replaced, the links collected before are all still there to save.
  if (refusal.attribute) {
    ASSERT_TRUE(SetFileAttributesA(bookmarks().c_str(), FILE_ATTRIBUTE_NORMAL));
  }
  ExpectSavedBox(SaveAnswering(IDNO));
  EXPECT_EQ(Saved(), LinkLines(kThree));
}

INSTANTIATE_TEST_SUITE_P(OldFiles, SaveRefused,
                         ::testing::Values(Refusal{"ReadOnly", FILE_ATTRIBUTE_READONLY, false},
                                           Refusal{"Hidden", FILE_ATTRIBUTE_HIDDEN, false},
                                           Refusal{"System", FILE_ATTRIBUTE_SYSTEM, false},
                                           Refusal{"HeldOpenWithoutSharing", 0, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- the program's folder: named in the question, where the file lands, what Yes explores ----

struct FolderCase {
  const char* name;
  const char* folderName;  // the folder made for the program
  bool driveRoot;          // the program started from the root of drive P:, mapped to that folder
};

void PrintTo(const FolderCase& c, std::ostream* out) { *out << c.name; }

class SaveFrom : public ::testing::TestWithParam<FolderCase> {};

TEST_P(SaveFrom, NamesTheFolderWritesThereAndYesExploresIt) {
  const FolderCase& c = GetParam();
  uidriver::TempFolder folder(c.folderName);
  uidriver::TempFolder records("记录");
  ASSERT_TRUE(folder.ok() && records.ok()) << "cannot make a temporary folder";
  steps::MappedDrive drive;
  if (c.driveRoot) {
    ASSERT_OK(drive.map("P:", folder.path()));
  }
  const std::string programFolder = c.driveRoot ? "P:" : folder.path();
  steps::ExploreRecorder recorder;
  ASSERT_OK(recorder.install(kRecorderExe, records.file("explored.txt")));

  uidriver::Program program;
  ASSERT_OK(program.Start(kAppExe, programFolder));
  const std::string bookmarksFile = folder.file("书签.html");
  ASSERT_OK(uidriver::WriteFileBytes(bookmarksFile, BookmarksHtml(kTwo)));
  ASSERT_OK(steps::OpenFile(program, bookmarksFile));
  ASSERT_OK(program.waitForText(program.control(kLabelId), CountCaption(2)));

  ASSERT_OK(steps::ClickSave(program));
  Result<steps::Box> box = steps::AnswerBox(program, IDYES);
  ASSERT_TRUE(box) << box.error;
  EXPECT_EQ(box.value.caption, steps::kSavedCaption);
  EXPECT_EQ(box.value.text, steps::SavedText(programFolder)) << uidriver::ToUtf8(box.value.text);
  Result<std::string> saved = uidriver::ReadFileBytes(folder.file("bookmarks.txt"));
  ASSERT_TRUE(saved) << saved.error;
  EXPECT_EQ(saved.value, LinkLines(kTwo));

  Result<std::string> explored = recorder.waitForRecord();
  ASSERT_TRUE(explored) << explored.error;
  // The shell is asked for "P:", the folder itself; Wine's shell hands it on as the root "P:\".
  EXPECT_TRUE(explored.value == programFolder + "\r\n" || (c.driveRoot && explored.value == programFolder + "\\\r\n"))
      << uidriver::ToUtf8(explored.value);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, SaveFrom,
    ::testing::Values(FolderCase{"ChineseName", "书签 测试", false},
                      // 昞 is 0x95 0x5C in code page 936: a backslash as its second byte.
                      FolderCase{"TrailByteBackslash", "昞 目录", false},
                      FolderCase{"DriveRoot", "书签 P盘", true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
