#include <gtest/gtest.h>
#include <windows.h>

#include "open_command.h"
#include "test_support.h"

namespace {

TEST(TextLength, EndsAtTheFirstNulOrCtrlZOutsideADoubleByteCharacter) {
  struct Case {
    std::string bytes;
    size_t length;
  } cases[] = {
      {"abc", 3},
      {std::string("ab\0cd", 5), 2},
      {"ab\x1A" "cd", 2},
      {std::string("\0", 1), 0},
      {"\x1A", 0},
      {"\xB0\x1A" "c\x1A", 3},           // 0x1A as a second byte does not end the text
      {std::string("a\xB0\0c", 4), 1},   // a pair cut short by NUL ends before its first byte
      {"a\xB0\"b\x5C\x81\x7C", 7},       // 0x22, 0x5C, 0x7C as second bytes are ordinary
      {"ab\xB0", 3},                      // a lead byte that is the last byte stays
      {"\xFF\xFE<", 3},
      {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(TextLength(c.bytes), c.length) << testing::PrintToString(c.bytes);
}

TEST(ReadBookmarksText, ReadsRealFilesUpToTheirEnd) {
  TempFolder folder;
  struct Case {
    const char* name;
    std::string bytes, text;
  } cases[] = {
      {"plain.html", "<A HREF=\"http://a\">中文</A>\r\n", "<A HREF=\"http://a\">中文</A>\r\n"},
      {"empty.html", "", ""},
      // UTF-16 with its byte-order mark: FF FE pairs up, then "<" and the NUL that ends it.
      {"utf16.html", std::string("\xFF\xFE<\0A\0", 6), "\xFF\xFE<"},
      {"utf8.html", "\xEF\xBB\xBFhttp://a/\xE4\xB8\xAD", "\xEF\xBB\xBFhttp://a/\xE4\xB8\xAD"},
      {"ctrlz.txt", "http://a \x1A http://b", "http://a "},
      {"zero-byte.txt", std::string("http://a \0 http://b", 19), "http://a "},
  };
  for (const Case& c : cases) {
    WriteBytes(folder.file(c.name), c.bytes);
    EXPECT_EQ(ReadBookmarksText(folder.file(c.name).c_str()), c.text) << c.name;
  }
  EXPECT_EQ(ReadBookmarksText(folder.file("missing.html").c_str()), "");
}

TEST(ReadBookmarksText, OpensFilesThatOthersHoldOrThatAreReadOnly) {
  TempFolder folder;
  std::string path = folder.file("held.html");
  WriteBytes(path, "http://held");

  HANDLE writer = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadBookmarksText(path.c_str()), "http://held");
  CloseHandle(writer);

  HANDLE exclusive = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadBookmarksText(path.c_str()), "");  // refused: the text is empty, no crash
  CloseHandle(exclusive);

  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(ReadBookmarksText(path.c_str()), "http://held");
}

}  // namespace
