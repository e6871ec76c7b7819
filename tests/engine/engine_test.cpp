// The engine core on its own: each syntax feature against the result a backtracking engine
// gives, the patterns it refuses, the shortcuts held to the plain Pike VM, and subjects that
// would overflow a recursive matcher or take exponential time in a backtracking one.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "regex_engine.h"
#include "regexp_driver.h"

namespace {

using regex_engine::CompileStatus;
using regexp_driver::Escape;

regex_engine::Options OptionsOf(const char* flags) {
  const std::string f = flags;
  return {f.find('i') != std::string::npos, f.find('m') != std::string::npos};
}

// Every match as "[first:text|group|...]", "~" for a group that took no part.
std::string Matches(const regex_engine::Program& program, std::wstring_view subject, bool global,
                bool accelerate = true) {
  regex_engine::Matcher matcher(program, subject, accelerate);
  std::string out;
  for (size_t from = 0; matcher.Find(from);) {
    if (!out.empty()) out += ' ';
    out += '[' + std::to_string(matcher.Begin(0)) + ':' +
           Escape(subject.substr(matcher.Begin(0), matcher.End(0) - matcher.Begin(0)));
    for (size_t g = 1; g <= regex_engine::GroupCount(program); ++g) {
      out += '|';
      out += matcher.Begin(g) == regex_engine::kNoPosition
                 ? std::string("~")
                 : Escape(subject.substr(matcher.Begin(g), matcher.End(g) - matcher.Begin(g)));
    }
    out += ']';
    if (!global ||
        !regex_engine::NextSearchStart(matcher.Begin(0), matcher.End(0), subject.size(), &from)) {
      break;
    }
  }
  return out;
}

std::string Matches(std::wstring_view pattern, const char* flags, std::wstring_view subject) {
  const auto compiled = regex_engine::Compile(pattern, OptionsOf(flags));
  if (compiled.status != CompileStatus::kOk) return "<not compiled>";
  return Matches(*compiled.program, subject, std::string(flags).find('g') != std::string::npos);
}

struct Case {
  const wchar_t* pattern;
  const char* flags;  // g global, i ignore case, m multiline
  const wchar_t* subject;
  const char* expected;
};

TEST(Engine, MatchesEachSyntaxFeatureAsABacktrackerDoes) {
  const Case cases[] = {
      // literals and escapes
      {L"abc", "g", L"xabcabc", "[1:abc] [4:abc]"},
      {L"abc", "", L"xabcabc", "[1:abc]"},
      {L"a\\.b", "g", L"a.b axb", "[0:a.b]"},
      {L"\\t\\n\\r\\f\\v", "", L"x\t\n\r\f\v", "[1:\\u0009\\u000A\\u000D\\u000C\\u000B]"},
      {L"\\x41\\u4e2D", "", L"A\u4E2D", "[0:A\\u4E2D]"},
      {L"\\cJ\\cm", "", L"\n\r", "[0:\\u000A\\u000D]"},
      {L"\\/\\*\\+\\?\\(\\)\\[\\]\\{\\}\\|\\^\\$\\\\\\.", "", L"/*+?()[]{}|^$\\.",
       "[0:/*+?()[]{}|^$\\.]"},
      {L"a]b}", "", L"a]b}", "[0:a]b}]"},
      {L"\u4e2d\u6587", "g", L"\u4e2d\u6587\u4e2d", "[0:\\u4E2D\\u6587]"},
      // the dot stops at \n, \r, U+2028 and U+2029 only
      {L"a.c", "g", L"abc a\rc a\nc a\u2028c a\u2029c a\u3000c a\u0085c",
       "[0:abc] [20:a\\u3000c] [24:a\\u0085c]"},
      // classes
      {L"[a-c]+", "g", L"abcdcba", "[0:abc] [4:cba]"},
      {L"[^a-c]+", "g", L"abcdcbaxy", "[3:d] [7:xy]"},
      {L"[A-z]+", "g", L"@Az[\\]^_`{", "[1:Az[\\]^_`]"},
      {L"[a-zA-z]+", "gi", L"@Az[\\]^_`{", "[1:Az[\\]^_`]"},
      {L"[\\d]+[\\D]", "g", L"12a3", "[0:12a]"},
      {L"[\\w-]+", "g", L"a-b_9 c", "[0:a-b_9] [6:c]"},
      {L"[\\s]+", "g", L"a \t\r\n\v\fb\u00a0c", "[1: \\u0009\\u000D\\u000A\\u000B\\u000C]"},
      {L"[\\S]+", "g", L"ab c", "[0:ab] [3:c]"},
      {L"[\\b]", "", L"a\bb", "[1:\\u0008]"},
      {L"[-a]+", "g", L"-a-b", "[0:-a-]"},
      {L"[a-]+", "g", L"-a-b", "[0:-a-]"},
      {L"[\\]\\\\\\^]+", "g", L"a]\\^b", "[1:]\\^]"},
      {L"[a\\-z]+", "g", L"a-zb", "[0:a-z]"},
      {L"[^\\s\"]+", "g", L"ab\"c d", "[0:ab] [3:c] [5:d]"},
      {L"[\\x41-\\x43\\u4e2d]+", "g", L"ABCD\u4e2d", "[0:ABC] [4:\\u4E2D]"},
      // class escapes: ASCII digits and word units, and exactly [ \f\n\r\t\v] for \s
      {L"\\d+", "g", L"a12\uff13 4", "[1:12] [5:4]"},
      {L"\\w+", "g", L"\u00e9a_1\u4e2d", "[1:a_1]"},
      {L"\\W+", "g", L"a.,b", "[1:.,]"},
      {L"\\s+", "g", L"a \t\n\v\f\r\u3000\u00a0b", "[1: \\u0009\\u000A\\u000B\\u000C\\u000D]"},
      {L"\\S+", "g", L"ab \u3000c", "[0:ab] [3:\\u3000c]"},
      // anchors
      {L"^a", "g", L"aa\na", "[0:a]"},
      {L"^a", "gm", L"aa\na\ra\u2028a", "[0:a] [3:a] [5:a] [7:a]"},
      {L"a$", "g", L"aa\na", "[3:a]"},
      {L"a$", "gm", L"aa\na\r\n", "[1:a] [3:a]"},
      {L"^\\w+$", "gm", L"ab\r\ncd", "[0:ab] [4:cd]"},
      {L"\\bab\\b", "g", L"ab cab ab_ ab", "[0:ab] [11:ab]"},
      {L"\\Bb\\B", "g", L"abc b ab", "[1:b]"},
      // groups and alternation, first alternative first
      {L"(a)|(b)", "g", L"ba", "[0:b|~|b] [1:a|a|~]"},
      {L"(?:ab)+", "g", L"ababa", "[0:abab]"},
      {L"(a|ab)(c|bcd)(d*)", "", L"abcd", "[0:abcd|a|bcd|]"},
      {L"a|ab", "g", L"ab", "[0:a]"},
      {L"(a(b(c)))", "", L"abc", "[0:abc|abc|bc|c]"},
      {L"()", "", L"x", "[0:|]"},
      // quantifiers, greedy and lazy; an empty match moves the next search on by one
      {L"a*", "g", L"baaac", "[0:] [1:aaa] [4:] [5:]"},
      {L"a+", "g", L"baaac", "[1:aaa]"},
      {L"ba?", "g", L"bab", "[0:ba] [2:b]"},
      {L"a{2}", "g", L"aaaaa", "[0:aa] [2:aa]"},
      {L"a{2,}", "g", L"aaaaa", "[0:aaaaa]"},
      {L"a{2,3}", "g", L"aaaaa", "[0:aaa] [3:aa]"},
      {L"a{2,3}?", "g", L"aaaaa", "[0:aa] [2:aa]"},
      {L"a{0}b", "", L"ab", "[1:b]"},
      {L"<.*>", "", L"<a><b>", "[0:<a><b>]"},
      {L"<.*?>", "g", L"<a><b>", "[0:<a>] [3:<b>]"},
      {L"a+?", "g", L"aa", "[0:a] [1:a]"},
      {L"a??b", "", L"ab", "[0:ab]"},
      {L"", "g", L"ab", "[0:] [1:] [2:]"},
      {L"\\b", "g", L"ab cd", "[0:] [2:] [3:] [5:]"},
      {L"x*", "g", L"", "[0:]"},
      // a repeated group reports its last iteration; an optional iteration may not be empty
      {L"(?:(a)|b)+", "", L"ab", "[0:ab|~]"},
      {L"(?:(a)|b){2}", "", L"ab", "[0:ab|~]"},
      {L"((a)|b)+", "", L"aba", "[0:aba|a|a]"},
      {L"(a*)*b", "", L"b", "[0:b|~]"},
      {L"(a*)+b", "", L"b", "[0:b|]"},
      {L"(a|)*b", "", L"aab", "[0:aab|a]"},
      {L"(?:a|(b))*", "", L"bab", "[0:bab|b]"},
      {L"(?:(a)|b)+?c", "", L"abc", "[0:abc|~]"},
      {L"(?:a*|b)*c", "", L"abbc", "[0:abbc]"},
      {L"(a?)*?b", "", L"aab", "[0:aab|a]"},
      // IgnoreCase folds through the system's upper-case mapping
      {L"abc", "gi", L"ABC aBc", "[0:ABC] [4:aBc]"},
      {L"[a-c]+", "gi", L"xAbCd", "[1:AbC]"},
      {L"[^a]+", "gi", L"aAbB", "[2:bB]"},
      {L"\u00e9", "gi", L"\u00c9\u00e9", "[0:\\u00C9] [1:\\u00E9]"},
      {L"[\u00e0-\u00e5]", "gi", L"\u00c0\u00e0", "[0:\\u00C0] [1:\\u00E0]"},
      {L"k", "gi", L"k\u212aK", "[0:k] [2:K]"},
      {L"s", "gi", L"\u017fsS", "[1:s] [2:S]"},
      {L"\\w", "gi", L"\u212a", ""},
      {L"\\d", "", L"a1b2", "[1:1]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Matches(c.pattern, c.flags, c.subject), c.expected)
        << "/" << Escape(c.pattern) << "/" << c.flags << " on \"" << Escape(c.subject) << "\"";
  }
}

std::wstring Repeated(const wchar_t* piece, int times) {
  std::wstring out;
  for (int k = 0; k < times; ++k) out += piece;
  return out;
}

TEST(Engine, RefusesWhatItCannotMatchExactly) {
  const struct {
    std::wstring pattern;
    CompileStatus status;
  } cases[] = {
      // not regular expressions
      {L"(a", CompileStatus::kSyntaxError},
      {L"a)", CompileStatus::kSyntaxError},
      {L"*a", CompileStatus::kSyntaxError},
      {L"+", CompileStatus::kSyntaxError},
      {L"a|?", CompileStatus::kSyntaxError},
      {L"a**", CompileStatus::kSyntaxError},
      {L"a???", CompileStatus::kSyntaxError},
      {L"a{2}{3}", CompileStatus::kSyntaxError},
      {L"x{1}*", CompileStatus::kSyntaxError},
      {L"a{3,2}", CompileStatus::kSyntaxError},
      {L"a{65536}", CompileStatus::kSyntaxError},
      {L"[z-a]", CompileStatus::kSyntaxError},
      {L"[a", CompileStatus::kSyntaxError},
      {L"a\\", CompileStatus::kSyntaxError},
      {L"^*", CompileStatus::kSyntaxError},
      {L"\\b+", CompileStatus::kSyntaxError},
      {L"(?:a", CompileStatus::kSyntaxError},
      // VBScript syntax outside this engine, or read differently by its versions
      {L"\\1", CompileStatus::kUnsupported},
      {L"(a)\\1", CompileStatus::kUnsupported},
      {L"\\0", CompileStatus::kUnsupported},
      {L"[\\1]", CompileStatus::kUnsupported},
      {L"(?=a)", CompileStatus::kUnsupported},
      {L"(?!a)", CompileStatus::kUnsupported},
      {L"(?<=a)", CompileStatus::kUnsupported},
      {L"(?<n>a)", CompileStatus::kUnsupported},
      {L"[]a]", CompileStatus::kUnsupported},
      {L"[^]a]", CompileStatus::kUnsupported},
      {L"a{", CompileStatus::kUnsupported},
      {L"a{1", CompileStatus::kUnsupported},
      {L"a{,2}", CompileStatus::kUnsupported},
      {L"{", CompileStatus::kUnsupported},
      {L"\\x4", CompileStatus::kUnsupported},
      {L"\\u12g4", CompileStatus::kUnsupported},
      {L"\\c1", CompileStatus::kUnsupported},
      {L"\\p{L}", CompileStatus::kUnsupported},
      {L"\\a", CompileStatus::kUnsupported},
      {L"\\k<n>", CompileStatus::kUnsupported},
      {L"[\\d-z]", CompileStatus::kUnsupported},
      {L"[a-\\d]", CompileStatus::kUnsupported},
      // beyond the engine's limits
      {Repeated(L"(", 300) + L"a" + Repeated(L")", 300), CompileStatus::kTooComplex},
      {L"(?:a{1000}){1000}", CompileStatus::kTooComplex},
      {Repeated(L"(?:", 17) + L"a*" + Repeated(L")*", 17), CompileStatus::kTooComplex},
  };
  for (const auto& c : cases) {
    const auto compiled = regex_engine::Compile(c.pattern, {});
    EXPECT_EQ(compiled.status, c.status) << Escape(c.pattern);
    EXPECT_EQ(compiled.program == nullptr, c.status != CompileStatus::kOk) << Escape(c.pattern);
  }
  // Just inside the limits.
  for (const std::wstring& pattern : {Repeated(L"(", 200) + L"a" + Repeated(L")", 200),
                                     std::wstring(L"a{65535}"),
                                     Repeated(L"(?:", 16) + L"a*" + Repeated(L")*", 16)}) {
    EXPECT_EQ(regex_engine::Compile(pattern, {}).status, CompileStatus::kOk) << Escape(pattern);
  }
}

// The literal scan, the skip over units that cannot begin a match and the run-ahead over
// "[set]*" only save work: over random subjects every match and group equals the plain VM's.
TEST(Engine, ShortcutsGiveThePlainVmResults) {
  const struct {
    const wchar_t* pattern;
    const char* flags;
  } patterns[] = {
      {L"([a-zA-z]+://[^\\s\"]*)", "i"},
      {L"([a-zA-z]+://[^\\s\"]*)", ""},
      {L"ab+c", ""},
      {L"x\\d+y", "i"},
      {L"([a-z]+)@([a-z]+)\\.com", ""},
      {L"a.*b://", ""},
      {L"https?://\\S+", "i"},
      {L"\\bab", ""},
      {L"(a|b)c:", ""},
      {L"[ab]*:", ""},
      {L"c(?:a|b)*", ""},
      {L"^ab", "m"},
      {L"b$", "m"},
      {L"(ab)*:/", ""},
      {L"a:?/", ""},
      {L":", ""},
      {L"a*", ""},
      {L"(?:a|:)+/", ""},
      {L"[^:]*:", ""},
      {L"b[^\"]*", ""},
      {L"(?:[ab]+)*c", ""},
  };
  const std::wstring alphabet = L"ab:/c \"xyAB1\n-@.";
  std::mt19937 random(20240611);
  for (const auto& p : patterns) {
    const auto compiled = regex_engine::Compile(p.pattern, OptionsOf(p.flags));
    ASSERT_EQ(compiled.status, CompileStatus::kOk) << Escape(p.pattern);
    for (int text = 0; text < 1500; ++text) {
      std::wstring subject(random() % 48, L' ');
      for (wchar_t& c : subject) c = alphabet[random() % alphabet.size()];
      ASSERT_EQ(Matches(*compiled.program, subject, true, true),
                Matches(*compiled.program, subject, true, false))
          << "/" << Escape(p.pattern) << "/" << p.flags << " on \"" << Escape(subject) << "\"";
    }
  }
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(Engine, FiftyMegabyteLinkWithoutWhiteSpace) {
  const std::wstring subject = L"ab://" + std::wstring(50u << 20, L'x');
  const auto compiled = regex_engine::Compile(L"([a-zA-z]+://[^\\s\"]*)", {true, false});
  ASSERT_EQ(compiled.status, CompileStatus::kOk);
  for (const bool accelerate : {true, false}) {
    const auto start = std::chrono::steady_clock::now();
    regex_engine::Matcher matcher(*compiled.program, subject, accelerate);
    ASSERT_TRUE(matcher.Find(0));
    EXPECT_EQ(matcher.Begin(0), 0u);
    EXPECT_EQ(matcher.End(0), subject.size());
    EXPECT_EQ(matcher.End(1), subject.size());
    std::printf("[ figures  ] 50 MB link, %s: %.3f s\n", accelerate ? "accelerated" : "plain VM",
                SecondsSince(start));
  }
}

TEST(Engine, NestedStarOverManyUnitsStaysLinear) {
  const std::wstring as(100000, L'a');
  const auto compiled = regex_engine::Compile(L"(a*)*b", {});
  ASSERT_EQ(compiled.status, CompileStatus::kOk);
  for (const bool accelerate : {true, false}) {
    auto start = std::chrono::steady_clock::now();
    regex_engine::Matcher none(*compiled.program, as, accelerate);
    EXPECT_FALSE(none.Find(0));
    const double no_match = SecondsSince(start);

    const std::wstring with_b = as + L"b";
    start = std::chrono::steady_clock::now();
    regex_engine::Matcher one(*compiled.program, with_b, accelerate);
    ASSERT_TRUE(one.Find(0));
    EXPECT_EQ(one.End(0), with_b.size());
    EXPECT_EQ(one.End(1) - one.Begin(1), as.size());  // the last iteration that was not empty
    std::printf("[ figures  ] (a*)*b over 100000 a, %s: %.3f s without b, %.3f s with b\n",
                accelerate ? "accelerated" : "plain VM", no_match, SecondsSince(start));
  }
}

}  // namespace
