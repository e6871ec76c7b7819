#include <gtest/gtest.h>
#include <windows.h>

#include "save_command.h"
#include "test_support.h"

namespace {

const std::string kOld = "http://old\r\n";
const std::string kNew = "http://new/1\r\nhttp://new/2\r\n";

TEST(ReplaceFileContents, WritesExactlyTheBytesAndReplacesWhole) {
  TempFolder folder;
  std::string path = folder.path() + "/bookmarks.txt";  // the program's mixed separators
  ASSERT_EQ(ReplaceFileContents(path, kNew), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(ReadBytes(path), kNew);
  ASSERT_EQ(ReplaceFileContents(path, kOld), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(ReadBytes(path), kOld);  // replaced, not appended
  EXPECT_EQ(CountFiles(folder.path()), 1);  // no temporary file left behind
}

TEST(ReplaceFileContents, RefusesWhatAnOverwriteWouldRefuseAndKeepsTheOldFile) {
  struct Case {
    const char* what;
    DWORD attributes;
  } cases[] = {
      {"read-only", FILE_ATTRIBUTE_READONLY},
      {"hidden", FILE_ATTRIBUTE_HIDDEN},
      {"system", FILE_ATTRIBUTE_SYSTEM},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    std::string path = folder.file("bookmarks.txt");
    WriteBytes(path, kOld);
    SetFileAttributesA(path.c_str(), c.attributes);
    EXPECT_EQ(ReplaceFileContents(path, kNew), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << c.what;
    EXPECT_EQ(ReadBytes(path), kOld) << c.what;
    EXPECT_EQ(CountFiles(folder.path()), 1) << c.what;
  }
}

TEST(ReplaceFileContents, RefusesAFileHeldOpenWithoutSharing) {
  TempFolder folder;
  std::string path = folder.file("bookmarks.txt");
  WriteBytes(path, kOld);
  HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReplaceFileContents(path, kNew), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(holder);
  EXPECT_EQ(ReadBytes(path), kOld);
  EXPECT_EQ(CountFiles(folder.path()), 1);
}

// Drives that scripts/test maps to a full and to a read-only file system (see there); absent
// when the tests run elsewhere.
std::string PreparedDrive(const char* variable) {
  char value[MAX_PATH] = {};
  if (!GetEnvironmentVariableA(variable, value, MAX_PATH)) return std::string();
  return value;
}

TEST(ReplaceFileContents, AFullDiskOrAReadOnlyFolderKeepsTheOldFile) {
  struct Case {
    const char* variable;
  } cases[] = {{"B2T_FULL_DRIVE"}, {"B2T_READONLY_DRIVE"}};
  for (const Case& c : cases) {
    std::string root = PreparedDrive(c.variable);
    if (root.empty()) GTEST_SKIP() << c.variable << " is not set: run through scripts/test";
    std::string path = root + "/bookmarks.txt";
    std::string before = ReadBytes(path);
    ASSERT_NE(before, "<missing>") << c.variable << ": scripts/test leaves a bookmarks.txt there";
    std::string large(4 << 20, 'x');  // larger than the full drive's room
    EXPECT_NE(ReplaceFileContents(path, large), static_cast<DWORD>(ERROR_SUCCESS)) << c.variable;
    EXPECT_EQ(ReadBytes(path), before) << c.variable;
    EXPECT_EQ(CountFiles(root), 1) << c.variable << ": no temporary file left";
  }
}

}  // namespace
