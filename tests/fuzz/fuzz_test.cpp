// Randomised and hostile texts through the program's file reader and link search, compared with
// the reference model of link_model.h. A failure prints the seed of its text; set B2T_FUZZ_SEED to
// that seed to make it the first text of the next run.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "link_extraction.h"
#include "link_model.h"
#include "open_command.h"
#include "random_text.h"
#include "unique_file.h"

namespace {

uint32_t FirstSeed(uint32_t fallback) {
  const char* chosen = std::getenv("B2T_FUZZ_SEED");
  return chosen && *chosen ? static_cast<uint32_t>(std::strtoul(chosen, nullptr, 10)) : fallback;
}

std::string Joined(const std::vector<std::string>& links) {
  std::string joined;
  for (const std::string& link : links) joined += link + "\r\n";
  return joined;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A file in the temporary folder, with a Chinese name to take the ANSI path through the reader.
class TempFile {
 public:
  TempFile(const std::string& name, std::string_view bytes) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    path_ = std::string(folder) + "书签_" + std::to_string(GetCurrentProcessId()) + "_" + name;
    UniqueFile file(CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    written_ = file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                 &written, nullptr) &&
               written == bytes.size() && file.close();
  }
  ~TempFile() { DeleteFileA(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const char* path() const { return path_.c_str(); }
  bool written() const { return written_; }

 private:
  std::string path_;
  bool written_ = false;
};

// The program's answer for the already ended `text` against the model's: count, links and order.
// FindLinks appends, so what the caller had must stay in front. `found` adds the model's count.
::testing::AssertionResult FindsWhatTheModelFinds(std::string_view text, size_t& found) {
  static const std::string kBefore = "kept\r\n";
  std::string links = kBefore;
  const int count = FindLinks(text, links);
  const std::vector<std::string> expected = ModelLinks(text);
  found += expected.size();
  if (count == static_cast<int>(expected.size()) && links == kBefore + Joined(expected))
    return ::testing::AssertionSuccess();

  ::testing::AssertionResult failure = ::testing::AssertionFailure();
  failure << "found " << count << " links, expected " << expected.size();
  size_t at = kBefore.size(), i = 0;
  for (; i < expected.size(); at += expected[i].size() + 2, ++i) {
    if (links.compare(at, expected[i].size() + 2, expected[i] + "\r\n") != 0) break;
  }
  if (i < expected.size()) failure << "\nlink " << i + 1 << " expected: " << Hex(expected[i]);
  if (at <= links.size())
    failure << "\nfound from there: " << Hex(std::string_view(links).substr(at, 200));
  if (text.size() <= 2000) failure << "\ntext: " << Hex(text);
  return failure;
}

TEST(LinkModel, StoppersAreTheEnginesWhiteSpaceAndTheQuote) {
  const CharSet& stoppers = LinkStoppers();
  for (wchar_t c : std::wstring(L" \t\n\v\f\r\"")) EXPECT_TRUE(stoppers[c]) << int(c);
  for (wchar_t c = L'A'; c <= L'z'; ++c) EXPECT_FALSE(stoppers[c]) << int(c);
  EXPECT_FALSE(stoppers[L':'] || stoppers[L'/']);
  std::printf("[ figures  ] stoppers above ASCII:");
  for (size_t c = 0x80; c < stoppers.size(); ++c)
    if (stoppers[c]) std::printf(" U+%04X", static_cast<unsigned>(c));
  std::printf("\n");
}

// A few thousand short texts, each ended where the file reader ends it.
TEST(Fuzz, RandomTextsFindWhatTheModelFinds) {
  const uint32_t first = FirstSeed(20240611);
  const int texts = 3000;
  int failures = 0;
  size_t ended = 0, found = 0;
  const auto start = std::chrono::steady_clock::now();
  for (uint32_t seed = first; seed < first + texts && failures < 10; ++seed) {
    std::mt19937 rng(seed);
    const std::string bytes = RandomText(rng, 1 + static_cast<int>(rng() % 14), true);
    const size_t end = TextLength(bytes);
    ended += end < bytes.size();
    if (end != ModelTextEnd(bytes)) {
      ++failures;
      ADD_FAILURE() << "seed " << seed << ": the reader ends the text at " << end
                    << ", the model at " << ModelTextEnd(bytes) << "\nbytes: " << Hex(bytes);
      continue;
    }
    ::testing::AssertionResult same = FindsWhatTheModelFinds(bytes.substr(0, end), found);
    if (!same) {
      ++failures;
      ADD_FAILURE() << "seed " << seed << ": " << same.message();
    }
  }
  std::printf("[ figures  ] %d texts from seed %u (%zu ended early, %zu links) in %.1f s\n",
              texts, first, ended, found, SecondsSince(start));
}

// Whole files through the reader, a quarter of them with a byte that ends the text somewhere.
TEST(Fuzz, RandomFilesReadAndFindWhatTheModelFinds) {
  const uint32_t first = FirstSeed(7000);
  const int files = 40;
  int failures = 0;
  size_t totalBytes = 0, found = 0;
  const auto start = std::chrono::steady_clock::now();
  for (uint32_t seed = first; seed < first + files && failures < 5; ++seed) {
    std::mt19937 rng(seed);
    std::string bytes = RandomBookmarksFile(rng, rng() % 60000);
    if (rng() % 4 == 0) {
      static constexpr const char* kEnders[] = {"\0", "\x1A", "\x95\0"};
      const char* ender = kEnders[rng() % 3];
      bytes.insert(rng() % bytes.size(), ender, ender[0] == '\x95' ? 2 : 1);
    }
    totalBytes += bytes.size();
    TempFile file(std::to_string(seed) + ".html", bytes);
    ASSERT_TRUE(file.written()) << file.path();
    const std::string text = ReadBookmarksText(file.path());
    if (text != bytes.substr(0, ModelTextEnd(bytes))) {
      ++failures;
      ADD_FAILURE() << "seed " << seed << ": read " << text.size() << " bytes, expected "
                    << ModelTextEnd(bytes) << " of " << bytes.size();
      continue;
    }
    ::testing::AssertionResult same = FindsWhatTheModelFinds(text, found);
    if (!same) {
      ++failures;
      ADD_FAILURE() << "file seed " << seed << ": " << same.message();
    }
  }
  std::printf("[ figures  ] %d files from seed %u (%zu bytes, %zu links) in %.1f s\n", files,
              first, totalBytes, found, SecondsSince(start));

  TempFile empty("empty.html", "");
  ASSERT_TRUE(empty.written()) << empty.path();
  std::string links;
  EXPECT_EQ(ReadBookmarksText(empty.path()), "");
  EXPECT_EQ(FindLinks(ReadBookmarksText(empty.path()), links), 0);
  EXPECT_EQ(links, "");
}

// One address of 50 MB. Wine's engine keeps about 100 bytes of backtracking per character of a
// link and crashes in its own size arithmetic past about 40 million characters, so the search
// must not hand it such an address.
TEST(Hostile, FiftyMegabyteLineWithoutWhiteSpaceIsOneLink) {
  std::string line = "ab://";
  line.append(50'000'000, 'x');
  std::string links;
  const auto start = std::chrono::steady_clock::now();
  const int count = FindLinks(line, links);
  std::printf("[ figures  ] one link of %zu bytes in %.1f s\n", line.size(), SecondsSince(start));
  EXPECT_EQ(count, 1);
  EXPECT_EQ(links.size(), line.size() + 2);
  EXPECT_TRUE(links == line + "\r\n");
}

// A million characters of icon data: letters, digits, + / and =, but no link.
TEST(Hostile, MillionCharacterIconFileHasNoLinks) {
  std::mt19937 rng(FirstSeed(99));
  const std::string bytes = "ICON=\"data:image/png;base64," + Base64Run(rng, 1'000'000) + "\"";
  TempFile file("icon.html", bytes);
  ASSERT_TRUE(file.written()) << file.path();
  const auto start = std::chrono::steady_clock::now();
  const std::string text = ReadBookmarksText(file.path());
  std::string links;
  const int count = FindLinks(text, links);
  std::printf("[ figures  ] %zu bytes of icon read and searched in %.1f s\n", bytes.size(),
              SecondsSince(start));
  EXPECT_EQ(text.size(), bytes.size());
  EXPECT_EQ(count, 0);
  EXPECT_EQ(links, "");
}

// One run of letters that "://" never follows: a backtracking engine tries every start in the run
// and each try runs to the run's end, so its time grows with the square of the run's length. The
// figures show the system engine's cost on short runs; long ones go to the program's own engine.
TEST(Hostile, LongRunOfLettersHasNoLinks) {
  for (size_t length : {2000, 4000, 8000, 1'000'000}) {
    TempFile file("letters.html", std::string(length, 'a'));
    ASSERT_TRUE(file.written()) << file.path();
    const auto start = std::chrono::steady_clock::now();
    const std::string text = ReadBookmarksText(file.path());
    std::string links;
    const int count = FindLinks(text, links);
    std::printf("[ figures  ] %zu letters read and searched in %.2f s\n", length,
                SecondsSince(start));
    EXPECT_EQ(text.size(), length);
    EXPECT_EQ(count, 0);
  }
}

}  // namespace
