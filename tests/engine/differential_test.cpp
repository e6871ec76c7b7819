// The built-in object against the system's "VBScript.RegExp" (Wine's vbscript.dll under test),
// both driven by the same IDispatch helper. They must agree on everything except these known,
// explained differences, which the texts and patterns here avoid or assert on their own:
// - \s: Microsoft documents [ \f\n\r\t\v]; Wine also counts Unicode spaces (U+00A0, U+3000...).
// - A global search that meets an empty match: Wine searches again at the same place forever;
//   ours moves on by one (see builtin_regexp_test.cpp). Such runs use Global false here.
// - A group that was tried and failed inside a repeated group: Wine may report "" (or stale
//   units) for it where it took no part; inside lazy loops ("(?:(a)|b)+?") it also keeps the
//   text of earlier iterations. Ours reports a group that took no part as empty (VT_EMPTY) and
//   starts each iteration afresh, as Wine's greedy loops do.
// - IgnoreCase beyond ASCII: Wine folds ASCII only; ours uses the system's upper-case tables.
// - Value of a match holding NUL: Wine cuts it at the NUL.
// - Replace with a syntax error: Wine gives the cause E_OUTOFMEMORY; ours E_FAIL, as Execute.
// - Patterns the engine refuses (back-references, look-ahead, "[]", a literal "{"...).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "builtin_regexp.h"
#include "regexp_driver.h"

namespace {

using namespace regexp_driver;

const wchar_t kLinkPattern[] = L"([a-zA-z]+://[^\\s\"]*)";

class AgainstSystemRegExp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"VBScript.RegExp", &clsid), S_OK) << "no VBScript.RegExp here";
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               reinterpret_cast<void**>(system_.put())),
              S_OK);
    builtin_ = Ref<IDispatch>(CreateBuiltinRegExp());
    ASSERT_TRUE(builtin_);
  }
  void TearDown() override {
    system_ = Ref<IDispatch>();
    builtin_ = Ref<IDispatch>();
    CoUninitialize();
  }

  void ConfigureBoth(const Settings& s) {
    ASSERT_TRUE(Configure(system_.get(), s));
    ASSERT_TRUE(Configure(builtin_.get(), s));
  }

  // Execute on both; true when they agree (a failure is reported with `context`).
  bool SameMatches(std::wstring_view subject, const std::string& context) {
    const Matches expected = Execute(system_.get(), subject);
    const Matches actual = Execute(builtin_.get(), subject);
    EXPECT_EQ(Describe(actual), Describe(expected))
        << context << " on \"" << Escape(subject) << "\"";
    return actual == expected;
  }

  Ref<IDispatch> system_, builtin_;
};

std::string Label(const Settings& s) {
  std::string label(1, '/');
  label += Escape(s.pattern);
  label += '/';
  if (s.ignore_case) label += 'i';
  if (s.global) label += 'g';
  if (s.multiline) label += 'm';
  return label;
}

TEST_F(AgainstSystemRegExp, AnswersTheSameLateBoundCalls) {
  // The same DISPID for every name, at every level of the object model.
  const std::vector<const wchar_t*> regexp_names = {L"Pattern", L"IgnoreCase", L"Global",
                                                    L"Multiline", L"Execute", L"Test",
                                                    L"Replace", L"pattern", L"Singleline"};
  ConfigureBoth({L"(a)(b)?", false, true, false});
  Variant system_matches, builtin_matches, system_match, builtin_match, system_groups,
      builtin_groups;
  ASSERT_EQ(Call(system_.get(), L"Execute", DISPATCH_METHOD, {Text(L"xa")}, system_matches.put()).hr,
            S_OK);
  ASSERT_EQ(
      Call(builtin_.get(), L"Execute", DISPATCH_METHOD, {Text(L"xa")}, builtin_matches.put()).hr,
      S_OK);
  ASSERT_EQ(Item(system_matches->pdispVal, 0, &system_match).hr, S_OK);
  ASSERT_EQ(Item(builtin_matches->pdispVal, 0, &builtin_match).hr, S_OK);
  ASSERT_EQ(Get(system_match->pdispVal, L"SubMatches", &system_groups).hr, S_OK);
  ASSERT_EQ(Get(builtin_match->pdispVal, L"SubMatches", &builtin_groups).hr, S_OK);
  const struct {
    IDispatch* system;
    IDispatch* builtin;
    std::vector<const wchar_t*> names;
  } levels[] = {
      {system_.get(), builtin_.get(), regexp_names},
      {system_matches->pdispVal, builtin_matches->pdispVal, {L"Item", L"Count", L"_NewEnum"}},
      {system_match->pdispVal, builtin_match->pdispVal,
       {L"Value", L"FirstIndex", L"Length", L"SubMatches", L"Count"}},
      {system_groups->pdispVal, builtin_groups->pdispVal, {L"Item", L"count", L"Value"}},
  };
  for (const auto& level : levels) {
    for (const wchar_t* name : level.names) {
      LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
      DISPID system_id = 1, builtin_id = 2;
      const HRESULT system_hr = level.system->GetIDsOfNames(IID_NULL, names, 1, 0, &system_id);
      EXPECT_EQ(level.builtin->GetIDsOfNames(IID_NULL, names, 1, 0, &builtin_id), system_hr)
          << Escape(name);
      EXPECT_EQ(builtin_id, system_id) << Escape(name);
    }
  }

  // The same answers to indexes of every kind, in range or not, and to missing arguments.
  struct {
    const char* what;
    VARIANT index;
  } indexes[] = {{"0", Long(0)}, {"0.0", Double(0.0)}, {"0.6", Double(0.6)}, {"\"0\"", Text(L"0")},
                 {"1", Long(1)}, {"-1", Long(-1)},     {"2", Long(2)},      {"x", Text(L"x")}};
  for (auto& index : indexes) {
    for (const bool groups : {false, true}) {
      IDispatch* system = groups ? system_groups->pdispVal : system_matches->pdispVal;
      IDispatch* builtin = groups ? builtin_groups->pdispVal : builtin_matches->pdispVal;
      VARIANT system_index, builtin_index;
      VariantInit(&system_index);
      VariantInit(&builtin_index);
      VariantCopy(&system_index, &index.index);
      VariantCopy(&builtin_index, &index.index);
      Variant system_item, builtin_item;
      const CallResult s = Call(system, L"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                {system_index}, system_item.put());
      const CallResult b = Call(builtin, L"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                {builtin_index}, builtin_item.put());
      EXPECT_EQ(b.hr, s.hr) << "Item(" << index.what << ") of " << (groups ? "SubMatches" : "Matches");
      EXPECT_EQ(b.scode, s.scode) << "Item(" << index.what << ")";
      if (SUCCEEDED(s.hr)) {
        EXPECT_EQ(builtin_item->vt, system_item->vt) << "Item(" << index.what << ")";
      }
    }
  }
  for (auto& index : indexes) VariantClear(&index.index);
  Variant s, b;
  EXPECT_EQ(Call(builtin_matches->pdispVal, L"Item", DISPATCH_PROPERTYGET, {}, b.put()).hr,
            Call(system_matches->pdispVal, L"Item", DISPATCH_PROPERTYGET, {}, s.put()).hr);
  EXPECT_EQ(Call(builtin_.get(), L"Execute", DISPATCH_METHOD, {}, b.put()).hr,
            Call(system_.get(), L"Execute", DISPATCH_METHOD, {}, s.put()).hr);

  // A syntax error fails Execute and Replace alike (the cause Wine gives for Replace is
  // E_OUTOFMEMORY, from its code path, not a real shortage: ours keeps E_FAIL).
  ConfigureBoth({L"(a", false, true, false});
  EXPECT_TRUE(SameMatches(L"aa", "syntax error"));
  EXPECT_EQ(Replace(builtin_.get(), L"aa", L"b").call.hr, Replace(system_.get(), L"aa", L"b").call.hr);
}

// Every character at every edge of a link, in pairs: the program's own pattern and settings.
TEST_F(AgainstSystemRegExp, LinkPatternOnEveryBoundaryCharacter) {
  ConfigureBoth({kLinkPattern, true, true, false});
  const std::wstring edges =
      L"azAZhH[\\]^_`@{-+:/\"'.?=&#%<>09~|"
      L" \t\n\v\f\r"
      L"\u4e2d\u6587\uff0c\uff1a\uff0f\u3001\u200b\ufeff";
  const wchar_t* shapes[] = {L"XY",           L"Xab://cY",  L"abXab://Y", L"ab:X//c",
                             L"ab:/X/c",      L"ab://XY",   L"X://Y",     L"XY://",
                             L"Xhttp://a.b/cYd e", L"\"ab://c\"XY", L"ab://X://Y"};
  int failures = 0;
  for (const wchar_t* shape : shapes) {
    for (const wchar_t x : edges) {
      for (const wchar_t y : edges) {
        std::wstring text = shape;
        for (wchar_t& c : text) {
          if (c == 'X') {
            c = x;
          } else if (c == 'Y') {
            c = y;
          }
        }
        if (!SameMatches(text, Label({kLinkPattern, true, true, false})) && ++failures > 20) {
          FAIL() << "too many differences";
        }
      }
    }
  }
}

// Wine's \s also takes Unicode spaces, so there a link ends before them; ours runs on, as
// Microsoft's documented \s ([ \f\n\r\t\v]) does.
TEST_F(AgainstSystemRegExp, UnicodeSpacesEndLinksOnlyInTheSystemObject) {
  ConfigureBoth({kLinkPattern, true, true, false});
  for (const wchar_t space : std::wstring(L"\u0085\u00a0\u1680\u2000\u2005\u200a\u2028\u2029"
                                          L"\u202f\u205f\u3000")) {
    const std::wstring text = std::wstring(L"see ab://x") + space + L"y z";
    const Matches system = Execute(system_.get(), text);
    const Matches builtin = Execute(builtin_.get(), text);
    ASSERT_EQ(system.list.size(), 1u) << Escape(text);
    ASSERT_EQ(builtin.list.size(), 1u) << Escape(text);
    EXPECT_EQ(system.list[0].value, L"ab://x") << Escape(text);
    EXPECT_EQ(builtin.list[0].value, std::wstring(L"ab://x") + space + L"y") << Escape(text);
  }
}

// Random texts made of the pieces links are made of, with and without IgnoreCase.
TEST_F(AgainstSystemRegExp, LinkPatternOnSeededRandomTexts) {
  const std::vector<std::wstring> pieces = {
      L"http", L"s",  L"://", L":",  L"/",  L"a", L"Z",  L"[",  L"\\", L"]",  L"^",
      L"_",    L"`",  L"-",   L"+",  L"\"", L" ", L"\t", L"\r\n", L"\n", L"\u4e2d\u6587",
      L"1",    L".",  L"?",   L"=",  L"@",  L"{", L"~",  L"www.", L"x", L"\f", L"\v"};
  for (const bool ignore_case : {true, false}) {
    ConfigureBoth({kLinkPattern, ignore_case, true, false});
    for (unsigned seed = 1; seed <= 3000; ++seed) {
      std::mt19937 random(seed);
      std::wstring text;
      for (unsigned k = random() % 24; k > 0; --k) text += pieces[random() % pieces.size()];
      if (!SameMatches(text, "seed " + std::to_string(seed) +
                                 (ignore_case ? " IgnoreCase" : " case-sensitive"))) {
        FAIL() << "seed " << seed;
      }
    }
  }
}

// Each syntax feature over random texts, with every combination of the flags, and Replace.
TEST_F(AgainstSystemRegExp, PatternTableOnRandomTexts) {
  const wchar_t* patterns[] = {
      L"", L"a", L"ab|b", L"a.b", L"[ab]+", L"[^a\\s]+", L"[A-z]+", L"[a-c-]", L"\\d+\\D",
      L"\\w+", L"\\W", L"\\s+", L"\\S+", L"^a", L"b$", L"^\\w*$", L"\\bab", L"\\Bb",
      L"(a)(b)?", L"(a|b)(c)?", L"(?:ab)+", L"((a)|b)+", L"(?:(a)|b)+", L"(a*)+", L"(a*)*b",
      L"(a|)*b", L"(?:a|(b))*c", L"a{2}", L"a{1,}", L"a{1,2}b", L"a{0,2}?b", L"a+?", L"a*?b",
      L"b??a", L"(a|ab)(c|bcd)?", L"[\\]\\\\^]", L"\\x61\\u0062", L"\\/\\.", L"(?:a|\\r\\n|\\n)+",
      L"[\\b\\t]", L"a\\cJ", L"[^\\s\"]+", L"\u4e2d+", L"(B)(?:c|(a))", L"\\w+:/*",
      L"^(?:a|b)*$", L"[a-z]b{1,3}?", L".+", L"(.)(.)?b",
  };
  const std::wstring alphabet = L"aAbBc_1 -\r\n\"\\]^[`\u4e2d\t:/";
  const wchar_t* replacements[] = {L"<$&>", L"[$1|$2]", L"$`|$'", L"$$$0$9$", L"x", L""};
  for (const wchar_t* pattern : patterns) {
    std::mt19937 random(static_cast<unsigned>(std::wstring(pattern).size() * 7919 + 17));
    for (int text_number = 0; text_number < 120; ++text_number) {
      std::wstring text(random() % 14, L' ');
      for (wchar_t& c : text) c = alphabet[random() % alphabet.size()];
      for (int flags = 0; flags < 4; ++flags) {
        Settings s{pattern, (flags & 1) != 0, true, (flags & 2) != 0};
        // A global run that meets an empty match would never return from the system object.
        ASSERT_TRUE(Configure(builtin_.get(), s));
        const Matches ours = Execute(builtin_.get(), text);
        for (const Match& m : ours.list) s.global = s.global && m.length > 0;
        ConfigureBoth(s);
        if (!SameMatches(text, Label(s))) FAIL() << Label(s);
        // Wine's Replace reads "$1" of an empty pattern from a match state it does not have.
        const wchar_t* replacement = replacements[text_number % std::size(replacements)];
        if (*pattern == 0) replacement = L"x";
        const Replaced expected = Replace(system_.get(), text, replacement);
        const Replaced actual = Replace(builtin_.get(), text, replacement);
        if (!(actual == expected)) {
          FAIL() << Label(s) << " Replace \"" << Escape(text) << "\" with \""
                 << Escape(replacement) << "\": \"" << Escape(actual.text) << "\" instead of \""
                 << Escape(expected.text) << "\"";
        }
      }
    }
  }
}

// A random pattern over a small alphabet: literals, classes, escapes, anchors, groups,
// alternation and every quantifier, nested up to `depth`. No capturing group inside a lazy loop.
class PatternMaker {
 public:
  explicit PatternMaker(unsigned seed) : random_(seed) {}
  std::wstring Make() { return Sequence(2, false); }

 private:
  unsigned Pick(unsigned n) { return random_() % n; }
  std::wstring Sequence(int depth, bool lazy) {
    std::wstring out;
    for (unsigned k = 1 + Pick(3); k > 0; --k) out += Quantified(depth, lazy);
    if (Pick(4) == 0) out += L"|" + Sequence(depth, lazy);
    return out;
  }
  std::wstring Quantified(int depth, bool lazy) {
    static const wchar_t* quantifiers[] = {L"*", L"+", L"?", L"{0,2}", L"{1,3}", L"{2}", L"{1,}"};
    const bool quantified = Pick(3) == 0, lazy_here = quantified && Pick(4) == 0;
    bool assertion = false;
    std::wstring atom = Atom(depth, lazy || lazy_here, &assertion);
    if (!quantified || assertion) return atom;
    return atom + quantifiers[Pick(std::size(quantifiers))] + (lazy_here ? L"?" : L"");
  }
  std::wstring Atom(int depth, bool lazy, bool* assertion) {
    static const wchar_t* units[] = {L"a",     L"b",     L"c",   L"A",   L" ",   L"-",
                                     L"\\.", L".",     L"[ab]", L"[^a]", L"[a-c]", L"\\d",
                                     L"\\w", L"\\s", L"\\W", L"[A-z]", L"\\n", L"ab"};
    static const wchar_t* assertions[] = {L"\\b", L"\\B", L"^", L"$"};
    const unsigned kind = Pick(depth > 0 ? 10 : 7);
    if (kind < 6) return units[Pick(std::size(units))];
    if (kind == 6) {
      *assertion = true;
      return assertions[Pick(std::size(assertions))];
    }
    const std::wstring inner = Sequence(depth - 1, lazy);
    return (kind == 7 && !lazy ? L"(" : L"(?:") + inner + L")";
  }
  std::mt19937 random_;
};

// Random patterns over random texts. Every match must be the same: Value, FirstIndex, Length,
// and each group that took part; a group that took no part in ours may read "" or stale text
// in Wine's (see the top of this file).
TEST_F(AgainstSystemRegExp, RandomPatternsOnRandomTexts) {
  const std::wstring alphabet = L"aabbcAB -\n\r._1";
  for (unsigned seed = 1; seed <= 2000; ++seed) {
    const std::wstring pattern = PatternMaker(seed).Make();
    std::mt19937 random(seed);
    for (int text_number = 0; text_number < 8; ++text_number) {
      std::wstring text(random() % 12, L' ');
      for (wchar_t& c : text) c = alphabet[random() % alphabet.size()];
      Settings s{pattern, random() % 2 == 0, true, random() % 2 == 0};
      ASSERT_TRUE(Configure(builtin_.get(), s));
      for (const Match& m : Execute(builtin_.get(), text).list) s.global = s.global && m.length > 0;
      ConfigureBoth(s);
      const Matches expected = Execute(system_.get(), text);
      const Matches actual = Execute(builtin_.get(), text);
      bool same = actual.call.hr == S_OK && expected.call.hr == S_OK &&
                  actual.list.size() == expected.list.size();
      for (size_t m = 0; same && m < actual.list.size(); ++m) {
        const Match& a = actual.list[m];
        const Match& e = expected.list[m];
        same = a.value == e.value && a.first_index == e.first_index && a.length == e.length &&
               a.groups.size() == e.groups.size();
        for (size_t g = 0; same && g < a.groups.size(); ++g) same = !a.groups[g] || a.groups[g] == e.groups[g];
      }
      if (!same) {
        FAIL() << "seed " << seed << " " << Label(s) << " on \"" << Escape(text) << "\"\n  ours: "
               << Describe(actual) << "\n  system: " << Describe(expected);
      }
    }
  }
}

}  // namespace
