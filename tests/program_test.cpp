#include <gtest/gtest.h>
#include <windows.h>

#include "program.h"

namespace {

TEST(CutAtLastBackslash, CutsBeforeTheLastSeparatorOfTheAnsiPath) {
  struct Case {
    const char* path;
    const char* folder;
  } cases[] = {
      {"C:\\Tools\\x.exe", "C:\\Tools"},
      {"D:\\x.exe", "D:"},
      {"C:\\a\\b\\c\\prog.exe", "C:\\a\\b\\c"},
      {"C:\\中文\\x.exe", "C:\\中文"},
      {"noseparator", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(CutAtLastBackslash(c.path), c.folder) << c.path;
}

TEST(CutAtLastBackslash, TrailByte0x5CIsNotASeparator) {
  // 0x95 0x5C is a double-byte character of code page 936 whose second byte is a backslash.
  const std::string dbcs = "\x95\x5C";
  EXPECT_EQ(CutAtLastBackslash("C:\\dir" + dbcs + "\\x.exe"), "C:\\dir" + dbcs);
  EXPECT_EQ(CutAtLastBackslash("C:\\" + dbcs + "x.exe"), "C:");
  EXPECT_EQ(CutAtLastBackslash("D:\\" + dbcs), "D:");
}

TEST(GetProgramFolder, IsTheFolderOfThisExecutable) {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder = GetProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '\\');
  EXPECT_EQ(std::string(path).rfind(folder + "\\", 0), 0u);
  EXPECT_EQ(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

int g_calls[3];
void First() { g_calls[0] = ++g_calls[2]; }
void Second() { g_calls[1] = ++g_calls[2]; }

TEST(ExitRoutines, RunOnceEachInRegistrationOrderAndCanBeCleared) {
  RegisterExitRoutine(Second);
  RegisterExitRoutine(First);
  RegisterExitRoutine(Second);  // already listed: no second entry
  RunExitRoutines();
  EXPECT_EQ(g_calls[1], 1);
  EXPECT_EQ(g_calls[0], 2);
  EXPECT_EQ(g_calls[2], 2);

  RegisterExitRoutine(First);
  ClearExitRoutines();
  RunExitRoutines();
  EXPECT_EQ(g_calls[2], 2);
}

TEST(ReleaseCollectedLinks, FreesTheTextAndToleratesNone) {
  ReleaseCollectedLinks();
  CollectedLinks = "ab://c\r\n";
  ReleaseCollectedLinks();
  EXPECT_TRUE(CollectedLinks.empty());
  EXPECT_EQ(CollectedLinks.capacity(), std::string().capacity());
}

}  // namespace
