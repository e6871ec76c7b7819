#include "regex_engine.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
#include <emmintrin.h>
#define REGEX_ENGINE_SSE2 1
#endif

namespace regex_engine {
namespace {

// ---------------------------------------------------------------------------------------------
// Sets of UTF-16 code units

struct Range {
  uint32_t lo, hi;  // inclusive
};
using RangeSet = std::vector<Range>;

constexpr uint32_t kMaxUnit = 0xFFFF;

void Normalize(RangeSet* set) {
  std::sort(set->begin(), set->end(), [](Range a, Range b) { return a.lo < b.lo; });
  size_t out = 0;
  for (const Range& r : *set) {
    if (out != 0 && r.lo <= (*set)[out - 1].hi + 1) {
      (*set)[out - 1].hi = std::max((*set)[out - 1].hi, r.hi);
    } else {
      (*set)[out++] = r;
    }
  }
  set->resize(out);
}

RangeSet Complement(const RangeSet& set) {  // set must be normalized
  RangeSet out;
  uint32_t next = 0;
  for (const Range& r : set) {
    if (r.lo > next) out.push_back({next, r.lo - 1});
    next = r.hi + 1;
  }
  if (next <= kMaxUnit) out.push_back({next, kMaxUnit});
  return out;
}

RangeSet Single(uint32_t c) { return RangeSet{{c, c}}; }

// VBScript's documented classes: \d [0-9], \w [A-Za-z0-9_], \s [ \f\n\r\t\v].
RangeSet DigitSet() { return RangeSet{{'0', '9'}}; }
RangeSet WordSet() { return RangeSet{{'0', '9'}, {'A', 'Z'}, {'_', '_'}, {'a', 'z'}}; }
RangeSet SpaceSet() { return RangeSet{{0x09, 0x0D}, {' ', ' '}}; }

bool IsLineTerminator(uint32_t c) { return c == '\n' || c == '\r' || c == 0x2028 || c == 0x2029; }
bool IsWordUnit(uint32_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// `.` stops at the same line terminators as ^ and $ in multiline mode.
RangeSet DotSet() { return RangeSet{{0, 0x09}, {0x0B, 0x0C}, {0x0E, 0x2027}, {0x202A, kMaxUnit}}; }

// Case folding for IgnoreCase: two units match when their upper-case forms are equal. A unit
// outside ASCII never folds onto an ASCII one (U+017F, U+0131 and U+212A stay apart from s, i
// and k), as in ECMAScript, whose regular expressions VBScript's follow.
struct FoldTables {
  uint16_t fold[0x10000];
  uint16_t next[0x10000];  // the units folding alike form a cycle

  FoldTables() {
    std::vector<uint16_t> units(0x10000);
    for (uint32_t c = 0; c <= kMaxUnit; ++c) units[c] = fold[c] = static_cast<uint16_t>(c);
    const std::pair<uint32_t, uint32_t> chunks[] = {{0, 0xD800}, {0xE000, 0x10000}};
    for (auto [lo, hi] : chunks) {
      const int length = static_cast<int>(hi - lo);
      const auto* in = reinterpret_cast<const wchar_t*>(units.data() + lo);
      auto* out = reinterpret_cast<wchar_t*>(fold + lo);
      if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, in, length, out, length, nullptr,
                        nullptr, 0) != length) {
        for (uint32_t c = lo; c < hi; ++c) fold[c] = static_cast<uint16_t>(c);
      }
    }
    for (uint32_t c = 'a'; c <= 'z'; ++c) fold[c] = static_cast<uint16_t>(c - 'a' + 'A');
    for (uint32_t c = 0x80; c <= kMaxUnit; ++c) {
      if (fold[c] < 0x80) fold[c] = static_cast<uint16_t>(c);
    }
    // Link the units of each fold value into a cycle, in ascending order.
    std::vector<uint32_t> first(0x10000, kNone), last(0x10000, kNone);
    for (uint32_t c = 0; c <= kMaxUnit; ++c) {
      const uint16_t f = fold[c];
      if (first[f] == kNone) {
        first[f] = c;
      } else {
        next[last[f]] = static_cast<uint16_t>(c);
      }
      last[f] = c;
    }
    for (uint32_t f = 0; f <= kMaxUnit; ++f) {
      if (first[f] != kNone) next[last[f]] = static_cast<uint16_t>(first[f]);
    }
  }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;
};

const FoldTables& Folds() {
  static const FoldTables tables;
  return tables;
}

// Every unit that folds like some unit of `set`.
RangeSet FoldClosure(const RangeSet& set) {
  const FoldTables& folds = Folds();
  size_t count = 0;
  for (const Range& r : set) count += r.hi - r.lo + 1;
  if (count <= 64) {  // literals and small classes: walk the cycles directly
    RangeSet out;
    for (const Range& r : set) {
      for (uint32_t c = r.lo; c <= r.hi; ++c) {
        uint32_t u = c;
        do {
          out.push_back({u, u});
          u = folds.next[u];
        } while (u != c);
      }
    }
    Normalize(&out);
    return out;
  }
  std::vector<uint64_t> bits(0x10000 / 64, 0);
  for (const Range& r : set) {
    for (uint32_t c = r.lo; c <= r.hi; ++c) {
      uint32_t u = c;
      do {
        bits[u >> 6] |= uint64_t{1} << (u & 63);
        u = folds.next[u];
      } while (u != c);
    }
  }
  RangeSet out;
  for (uint32_t c = 0; c <= kMaxUnit;) {
    if (!((bits[c >> 6] >> (c & 63)) & 1)) {
      ++c;
      continue;
    }
    uint32_t end = c;
    while (end + 1 <= kMaxUnit && ((bits[(end + 1) >> 6] >> ((end + 1) & 63)) & 1)) ++end;
    out.push_back({c, end});
    c = end + 1;
  }
  return out;
}

// A set as the matcher tests it: a bitmap for ASCII, sorted ranges above.
struct CharSet {
  uint64_t ascii[2] = {0, 0};
  std::vector<Range> high;

  explicit CharSet(const RangeSet& set) {
    for (const Range& r : set) {
      for (uint32_t c = r.lo; c <= std::min<uint32_t>(r.hi, 0x7F); ++c) {
        ascii[c >> 6] |= uint64_t{1} << (c & 63);
      }
      if (r.hi >= 0x80) high.push_back({std::max<uint32_t>(r.lo, 0x80), r.hi});
    }
  }
  bool Contains(uint32_t c) const {
    if (c < 0x80) return (ascii[c >> 6] >> (c & 63)) & 1;
    size_t lo = 0, hi = high.size();
    while (lo < hi) {
      const size_t mid = (lo + hi) / 2;
      if (c < high[mid].lo) {
        hi = mid;
      } else if (c > high[mid].hi) {
        lo = mid + 1;
      } else {
        return true;
      }
    }
    return false;
  }
};

// ---------------------------------------------------------------------------------------------
// Syntax tree

enum class NodeKind : uint8_t { kEmpty, kSet, kAssert, kGroup, kConcat, kAlternation, kRepeat };
enum class AssertKind : uint8_t { kLineStart, kLineEnd, kWordBoundary, kNotWordBoundary };

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

struct Node {
  NodeKind kind = NodeKind::kEmpty;
  AssertKind assertion = AssertKind::kLineStart;
  bool greedy = true;
  bool nullable = true;   // can match the empty string
  uint32_t set = 0;       // kSet: index into Ast::sets
  uint32_t group = 0;     // kGroup: capture number, 0 for (?:...)
  uint32_t min = 0, max = 0;
  uint32_t first_group = 0, end_group = 0;  // capture numbers inside: [first_group, end_group)
  std::vector<uint32_t> kids;
};

struct Ast {
  std::vector<Node> nodes;
  std::vector<RangeSet> sets;
  uint32_t group_count = 0;
};

// Nested groups beyond this are refused: the parser and the compiler recurse once per level.
constexpr int kMaxNesting = 200;
constexpr uint32_t kMaxCount = 0xFFFF;

bool IsHexDigit(wchar_t c, uint32_t* value) {
  if (c >= '0' && c <= '9') {
    *value = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    *value = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    *value = c - 'A' + 10;
  } else {
    return false;
  }
  return true;
}

bool IsAsciiLetter(wchar_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(wchar_t c) { return c >= '0' && c <= '9'; }

class Parser {
 public:
  Parser(std::wstring_view pattern, bool ignore_case, Ast* ast)
      : s_(pattern), ignore_case_(ignore_case), ast_(*ast) {}

  CompileStatus Parse(uint32_t* root) {
    if (!ParseDisjunction(root)) return status_;
    if (i_ != s_.size()) return CompileStatus::kSyntaxError;  // a ')' without its '('
    return CompileStatus::kOk;
  }

 private:
  bool Fail(CompileStatus status) {
    if (status_ == CompileStatus::kOk) status_ = status;
    return false;
  }
  bool AtEnd() const { return i_ >= s_.size(); }

  uint32_t Add(Node node) {
    ast_.nodes.push_back(std::move(node));
    return static_cast<uint32_t>(ast_.nodes.size() - 1);
  }
  uint32_t AddSet(RangeSet set) {
    Normalize(&set);
    ast_.sets.push_back(std::move(set));
    Node node;
    node.kind = NodeKind::kSet;
    node.nullable = false;
    node.set = static_cast<uint32_t>(ast_.sets.size() - 1);
    return Add(std::move(node));
  }
  uint32_t AddLiteral(uint32_t c) {
    return AddSet(ignore_case_ ? FoldClosure(Single(c)) : Single(c));
  }

  bool ParseDisjunction(uint32_t* out) {
    const uint32_t groups_before = ast_.group_count;
    std::vector<uint32_t> branches;
    for (;;) {
      uint32_t branch;
      if (!ParseAlternative(&branch)) return false;
      branches.push_back(branch);
      if (AtEnd() || s_[i_] != '|') break;
      ++i_;
    }
    if (branches.size() == 1) {
      *out = branches[0];
      return true;
    }
    Node node;
    node.kind = NodeKind::kAlternation;
    node.nullable = false;
    for (uint32_t b : branches) node.nullable = node.nullable || ast_.nodes[b].nullable;
    node.first_group = groups_before + 1;
    node.end_group = ast_.group_count + 1;
    node.kids = std::move(branches);
    *out = Add(std::move(node));
    return true;
  }

  bool ParseAlternative(uint32_t* out) {
    const uint32_t groups_before = ast_.group_count;
    std::vector<uint32_t> terms;
    while (!AtEnd() && s_[i_] != '|' && s_[i_] != ')') {
      uint32_t term;
      if (!ParseTerm(&term)) return false;
      terms.push_back(term);
    }
    if (terms.size() == 1) {
      *out = terms[0];
      return true;
    }
    Node node;
    node.kind = terms.empty() ? NodeKind::kEmpty : NodeKind::kConcat;
    node.nullable = true;
    for (uint32_t t : terms) node.nullable = node.nullable && ast_.nodes[t].nullable;
    node.first_group = groups_before + 1;
    node.end_group = ast_.group_count + 1;
    node.kids = std::move(terms);
    *out = Add(std::move(node));
    return true;
  }

  // Reads {n}, {n,} or {n,m} at i_ without consuming it; false when the text is no such form.
  bool ScanBraces(size_t* after, uint32_t* min, uint32_t* max, bool* too_big) const {
    size_t j = i_ + 1;
    auto number = [&](uint32_t* value) {
      if (j >= s_.size() || !IsAsciiDigit(s_[j])) return false;
      uint64_t v = 0;
      while (j < s_.size() && IsAsciiDigit(s_[j])) {
        v = std::min<uint64_t>(v * 10 + (s_[j] - '0'), uint64_t{kMaxCount} + 1);
        ++j;
      }
      if (v > kMaxCount) *too_big = true;
      *value = static_cast<uint32_t>(v);
      return true;
    };
    *too_big = false;
    if (!number(min)) return false;
    *max = *min;
    if (j < s_.size() && s_[j] == ',') {
      ++j;
      if (!number(max)) *max = kInfinite;
    }
    if (j >= s_.size() || s_[j] != '}') return false;
    *after = j + 1;
    return true;
  }

  bool QuantifierFollows() const {
    if (AtEnd()) return false;
    const wchar_t c = s_[i_];
    if (c == '*' || c == '+' || c == '?') return true;
    size_t after;
    uint32_t min, max;
    bool too_big;
    return c == '{' && ScanBraces(&after, &min, &max, &too_big);
  }

  bool ParseTerm(uint32_t* out) {
    const uint32_t groups_before = ast_.group_count;
    const wchar_t c = s_[i_];
    switch (c) {
      case '^':
      case '$': {
        ++i_;
        return AddAssertion(c == '^' ? AssertKind::kLineStart : AssertKind::kLineEnd, out);
      }
      case '\\':
        if (i_ + 1 >= s_.size()) return Fail(CompileStatus::kSyntaxError);
        if (s_[i_ + 1] == 'b' || s_[i_ + 1] == 'B') {
          const bool boundary = s_[i_ + 1] == 'b';
          i_ += 2;
          return AddAssertion(boundary ? AssertKind::kWordBoundary : AssertKind::kNotWordBoundary,
                              out);
        }
        if (!ParseAtomEscape(out)) return false;
        break;
      case '(': {
        ++i_;
        bool capture = true;
        if (!AtEnd() && s_[i_] == '?') {
          if (i_ + 1 < s_.size() && s_[i_ + 1] == ':') {
            capture = false;
            i_ += 2;
          } else {
            return Fail(CompileStatus::kUnsupported);  // look-ahead, named groups...
          }
        }
        if (++depth_ > kMaxNesting) return Fail(CompileStatus::kTooComplex);
        Node node;
        node.kind = NodeKind::kGroup;
        if (capture) node.group = ++ast_.group_count;
        uint32_t child;
        if (!ParseDisjunction(&child)) return false;
        if (AtEnd() || s_[i_] != ')') return Fail(CompileStatus::kSyntaxError);
        ++i_;
        --depth_;
        node.nullable = ast_.nodes[child].nullable;
        node.kids.push_back(child);
        node.first_group = groups_before + 1;
        node.end_group = ast_.group_count + 1;
        *out = Add(std::move(node));
        break;
      }
      case '[':
        if (!ParseClass(out)) return false;
        break;
      case '.':
        ++i_;
        *out = AddSet(DotSet());
        break;
      case '*':
      case '+':
      case '?':
        return Fail(CompileStatus::kSyntaxError);  // nothing to repeat
      case '{':
        // Not a quantifier: VBScript would read a literal brace; we do not guess.
        return Fail(QuantifierFollows() ? CompileStatus::kSyntaxError
                                        : CompileStatus::kUnsupported);
      default:
        ++i_;
        *out = AddLiteral(c);
        break;
    }
    return ParseQuantifier(groups_before, out);
  }

  bool AddAssertion(AssertKind kind, uint32_t* out) {
    if (QuantifierFollows()) return Fail(CompileStatus::kSyntaxError);
    Node node;
    node.kind = NodeKind::kAssert;
    node.assertion = kind;
    node.nullable = true;
    *out = Add(std::move(node));
    return true;
  }

  bool ParseQuantifier(uint32_t groups_before, uint32_t* atom) {
    if (AtEnd()) return true;
    uint32_t min, max;
    switch (s_[i_]) {
      case '*':
        min = 0, max = kInfinite, ++i_;
        break;
      case '+':
        min = 1, max = kInfinite, ++i_;
        break;
      case '?':
        min = 0, max = 1, ++i_;
        break;
      case '{': {
        size_t after;
        bool too_big;
        if (!ScanBraces(&after, &min, &max, &too_big)) return Fail(CompileStatus::kUnsupported);
        if (too_big || min > max) return Fail(CompileStatus::kSyntaxError);
        i_ = after;
        break;
      }
      default:
        return true;
    }
    bool greedy = true;
    if (!AtEnd() && s_[i_] == '?') {
      greedy = false;
      ++i_;
    }
    if (QuantifierFollows()) return Fail(CompileStatus::kSyntaxError);
    Node node;
    node.kind = NodeKind::kRepeat;
    node.greedy = greedy;
    node.min = min;
    node.max = max;
    node.nullable = min == 0 || ast_.nodes[*atom].nullable;
    node.first_group = groups_before + 1;
    node.end_group = ast_.group_count + 1;
    node.kids.push_back(*atom);
    *atom = Add(std::move(node));
    return true;
  }

  // \xHH, \uHHHH and \cX, shared by atoms and classes; the escape letter is at i_ - 1.
  bool ParseCodedEscape(wchar_t letter, uint32_t* unit) {
    if (letter == 'c') {
      if (AtEnd() || !IsAsciiLetter(s_[i_])) return Fail(CompileStatus::kUnsupported);
      *unit = s_[i_++] & 0x1F;
      return true;
    }
    const size_t digits = letter == 'x' ? 2 : 4;
    uint32_t value = 0;
    for (size_t k = 0; k < digits; ++k) {
      uint32_t digit;
      if (i_ + k >= s_.size() || !IsHexDigit(s_[i_ + k], &digit)) {
        return Fail(CompileStatus::kUnsupported);  // VBScript falls back to literal text
      }
      value = value * 16 + digit;
    }
    i_ += digits;
    *unit = value;
    return true;
  }

  // One escape after '\': either a unit (*is_set false) or a class such as \d.
  bool ParseEscapeBody(bool in_class, uint32_t* unit, RangeSet* set, bool* is_set) {
    const wchar_t e = s_[i_ + 1];
    i_ += 2;
    *is_set = false;
    switch (e) {
      case 'd': *set = DigitSet(); *is_set = true; return true;
      case 'D': *set = Complement(DigitSet()); *is_set = true; return true;
      case 'w': *set = WordSet(); *is_set = true; return true;
      case 'W': *set = Complement(WordSet()); *is_set = true; return true;
      case 's': *set = SpaceSet(); *is_set = true; return true;
      case 'S': *set = Complement(SpaceSet()); *is_set = true; return true;
      case 't': *unit = '\t'; return true;
      case 'n': *unit = '\n'; return true;
      case 'r': *unit = '\r'; return true;
      case 'f': *unit = '\f'; return true;
      case 'v': *unit = '\v'; return true;
      case 'x':
      case 'u':
      case 'c':
        return ParseCodedEscape(e, unit);
      default:
        break;
    }
    if (in_class && e == 'b') {
      *unit = '\b';
      return true;
    }
    // Back-references and octal escapes (\1, \0), and letters without a meaning here.
    if (IsAsciiDigit(e) || IsAsciiLetter(e)) return Fail(CompileStatus::kUnsupported);
    *unit = e;
    return true;
  }

  bool ParseAtomEscape(uint32_t* out) {
    uint32_t unit;
    RangeSet set;
    bool is_set;
    if (!ParseEscapeBody(false, &unit, &set, &is_set)) return false;
    *out = is_set ? AddSet(std::move(set)) : AddLiteral(unit);
    return true;
  }

  bool ParseClassAtom(uint32_t* unit, RangeSet* set, bool* is_set) {
    if (s_[i_] != '\\') {
      *unit = s_[i_++];
      *is_set = false;
      return true;
    }
    if (i_ + 1 >= s_.size()) return Fail(CompileStatus::kSyntaxError);
    return ParseEscapeBody(true, unit, set, is_set);
  }

  bool ParseClass(uint32_t* out) {
    ++i_;
    bool negate = false;
    if (!AtEnd() && s_[i_] == '^') {
      negate = true;
      ++i_;
    }
    // "[]" and "[^]": JScript reads an empty class, older documentation a literal ']'.
    if (!AtEnd() && s_[i_] == ']') return Fail(CompileStatus::kUnsupported);
    RangeSet units, classes;
    for (;;) {
      if (AtEnd()) return Fail(CompileStatus::kSyntaxError);
      if (s_[i_] == ']') {
        ++i_;
        break;
      }
      uint32_t lo;
      RangeSet set;
      bool is_set;
      if (!ParseClassAtom(&lo, &set, &is_set)) return false;
      const bool range = i_ + 1 < s_.size() && s_[i_] == '-' && s_[i_ + 1] != ']';
      if (is_set) {
        if (range) return Fail(CompileStatus::kUnsupported);  // [\d-z]: engines disagree
        classes.insert(classes.end(), set.begin(), set.end());
        continue;
      }
      if (!range) {
        units.push_back({lo, lo});
        continue;
      }
      ++i_;
      uint32_t hi;
      if (!ParseClassAtom(&hi, &set, &is_set)) return false;
      if (is_set) return Fail(CompileStatus::kUnsupported);
      if (lo > hi) return Fail(CompileStatus::kSyntaxError);
      units.push_back({lo, hi});
    }
    Normalize(&units);
    if (ignore_case_) units = FoldClosure(units);
    units.insert(units.end(), classes.begin(), classes.end());
    Normalize(&units);
    *out = AddSet(negate ? Complement(units) : std::move(units));
    return true;
  }

  std::wstring_view s_;
  size_t i_ = 0;
  bool ignore_case_;
  int depth_ = 0;
  Ast& ast_;
  CompileStatus status_ = CompileStatus::kOk;
};

// ---------------------------------------------------------------------------------------------
// Program

enum class Op : uint8_t {
  kSet,        // consume one unit of sets[x]
  kSplit,      // continue at x, then (lower priority) at y
  kJmp,        // continue at x
  kSave,       // slot x = position
  kAssert,     // zero-width test `kind`
  kReset,      // slots [x, y) = none: a repeated group starts each iteration afresh
  kIterStart,  // an optional iteration of a loop whose body can match empty begins: flag `bit`
  kIterEnd,    // ...ends: the thread dies when it consumed nothing since (flag still set)
  kMatch,
};

struct Inst {
  Op op;
  uint8_t arg = 0;  // kAssert: AssertKind; kIterStart/kIterEnd: flag bit
  uint32_t x = 0, y = 0;
};

// Budget of the compiled program; beyond it the pattern is refused as too complex.
constexpr size_t kMaxInsts = 100000;
constexpr size_t kMaxThreadSlots = size_t{1} << 22;  // threads x capture slots per list
constexpr int kMaxLoopFlags = 16;
constexpr size_t kMaxVisited = size_t{1} << 22;

}  // namespace

struct Program {
  std::vector<Inst> insts;
  std::vector<CharSet> sets;
  size_t group_count = 0;
  size_t slot_count = 2;
  bool multiline = false;
  // A thread's identity is its instruction plus the loop flags live there: visited[] layout.
  std::vector<uint32_t> visit_offset, visit_mask;
  size_t visit_size = 0;
  size_t consumer_count = 0;

  // Shortcuts, none of which changes a result (the tests hold them to the plain VM):
  // a literal every match contains, and the units that can precede it within a match...
  std::vector<wchar_t> literal;
  size_t literal_anchor = 0;  // the unit of `literal` searched for
  std::unique_ptr<CharSet> prefix_units;
  // ...the units a match can begin with (when it cannot be empty)...
  std::unique_ptr<CharSet> first_units;
  // ...and loops "[set]*" whose single thread can run ahead with a plain scan.
  std::vector<uint8_t> fast_loop;
};

namespace {

class Compiler {
 public:
  Compiler(const Ast& ast, Program* program) : ast_(ast), p_(*program) {}

  CompileStatus Compile(uint32_t root) {
    Emit({Op::kSave, 0, 0, 0});
    if (!CompileNode(root)) return status_;
    Emit({Op::kSave, 0, 1, 0});
    Emit({Op::kMatch});
    if (status_ != CompileStatus::kOk) return status_;
    return Layout();
  }

 private:
  bool Fail(CompileStatus status) {
    if (status_ == CompileStatus::kOk) status_ = status;
    return false;
  }
  uint32_t Pc() const { return static_cast<uint32_t>(p_.insts.size()); }
  bool Emit(Inst inst) {
    if (p_.insts.size() >= kMaxInsts) return Fail(CompileStatus::kTooComplex);
    p_.insts.push_back(inst);
    depth_of_.push_back(static_cast<uint8_t>(depth_));
    return true;
  }

  bool CompileNode(uint32_t index) {
    const Node& n = ast_.nodes[index];
    switch (n.kind) {
      case NodeKind::kEmpty:
        return true;
      case NodeKind::kSet:
        return Emit({Op::kSet, 0, SetIndex(n.set), 0});
      case NodeKind::kAssert:
        return Emit({Op::kAssert, static_cast<uint8_t>(n.assertion), 0, 0});
      case NodeKind::kGroup:
        if (n.group == 0) return CompileNode(n.kids[0]);
        return Emit({Op::kSave, 0, 2 * n.group, 0}) && CompileNode(n.kids[0]) &&
               Emit({Op::kSave, 0, 2 * n.group + 1, 0});
      case NodeKind::kConcat:
        for (uint32_t kid : n.kids) {
          if (!CompileNode(kid)) return false;
        }
        return true;
      case NodeKind::kAlternation:
        return Alternation(n);
      case NodeKind::kRepeat:
        return Repeat(n);
    }
    return true;
  }

  uint32_t SetIndex(uint32_t ast_set) {
    if (set_map_.empty()) set_map_.assign(ast_.sets.size(), kInfinite);
    if (set_map_[ast_set] == kInfinite) {
      set_map_[ast_set] = static_cast<uint32_t>(p_.sets.size());
      p_.sets.emplace_back(ast_.sets[ast_set]);
    }
    return set_map_[ast_set];
  }

  bool Alternation(const Node& n) {
    std::vector<uint32_t> exits;
    for (size_t k = 0; k + 1 < n.kids.size(); ++k) {
      const uint32_t split = Pc();
      if (!Emit({Op::kSplit, 0, split + 1, 0}) || !CompileNode(n.kids[k])) return false;
      exits.push_back(Pc());
      if (!Emit({Op::kJmp})) return false;
      p_.insts[split].y = Pc();
    }
    if (!CompileNode(n.kids.back())) return false;
    for (uint32_t e : exits) p_.insts[e].x = Pc();
    return true;
  }

  // One more iteration of a repeat's body. Iterations after the first clear the groups inside
  // (a group reports what it captured in the last iteration, or nothing); iterations beyond
  // the minimum must not match empty (such an iteration is abandoned, as a backtracker does).
  bool Iteration(const Node& n, bool optional, bool first) {
    const bool flagged = optional && ast_.nodes[n.kids[0]].nullable;
    const uint8_t bit = static_cast<uint8_t>(depth_);
    if (flagged) {
      if (depth_ >= kMaxLoopFlags) return Fail(CompileStatus::kTooComplex);
      if (!Emit({Op::kIterStart, bit, 0, 0})) return false;
      ++depth_;
    }
    if (!first && n.first_group < n.end_group &&
        !Emit({Op::kReset, 0, 2 * n.first_group, 2 * n.end_group})) {
      return false;
    }
    if (!CompileNode(n.kids[0])) return false;
    if (flagged) {
      if (!Emit({Op::kIterEnd, bit, 0, 0})) return false;
      --depth_;
    }
    return true;
  }

  bool Repeat(const Node& n) {
    if (n.max == 0) return true;
    uint32_t done = 0;
    for (; done < n.min; ++done) {
      if (!Iteration(n, false, done == 0)) return false;
    }
    auto patch = [&](uint32_t split, uint32_t body, uint32_t exit) {
      p_.insts[split].x = n.greedy ? body : exit;
      p_.insts[split].y = n.greedy ? exit : body;
    };
    if (n.max == kInfinite) {
      const uint32_t loop = Pc();
      // The body code serves every iteration, so it clears the groups even on the first.
      if (!Emit({Op::kSplit}) || !Iteration(n, true, false) || !Emit({Op::kJmp, 0, loop, 0})) {
        return false;
      }
      patch(loop, loop + 1, Pc());
      return true;
    }
    std::vector<uint32_t> splits;
    for (; done < n.max; ++done) {
      splits.push_back(Pc());
      if (!Emit({Op::kSplit}) || !Iteration(n, true, done == 0)) return false;
    }
    for (uint32_t s : splits) patch(s, s + 1, Pc());
    return true;
  }

  CompileStatus Layout() {
    p_.group_count = ast_.group_count;
    p_.slot_count = 2 * (size_t{ast_.group_count} + 1);
    const size_t count = p_.insts.size();
    p_.visit_offset.resize(count);
    p_.visit_mask.resize(count);
    size_t total = 0;
    for (size_t pc = 0; pc < count; ++pc) {
      const bool consumer = p_.insts[pc].op == Op::kSet || p_.insts[pc].op == Op::kMatch;
      if (p_.insts[pc].op == Op::kSet) ++p_.consumer_count;
      // After a unit is consumed no flag is set, so consumers are told apart by pc alone.
      const uint32_t mask = consumer ? 0 : (uint32_t{1} << depth_of_[pc]) - 1;
      p_.visit_offset[pc] = static_cast<uint32_t>(total);
      p_.visit_mask[pc] = mask;
      total += size_t{mask} + 1;
      if (total > kMaxVisited) return CompileStatus::kTooComplex;
    }
    p_.visit_size = total;
    if (uint64_t{std::max<size_t>(p_.consumer_count, 1)} * p_.slot_count > kMaxThreadSlots) {
      return CompileStatus::kTooComplex;
    }
    return CompileStatus::kOk;
  }

  const Ast& ast_;
  Program& p_;
  std::vector<uint8_t> depth_of_;  // loop flags live at each instruction
  std::vector<uint32_t> set_map_;
  int depth_ = 0;
  CompileStatus status_ = CompileStatus::kOk;
};

// ---------------------------------------------------------------------------------------------
// Analysis for the shortcuts

void Flatten(const Ast& ast, uint32_t index, std::vector<uint32_t>* items) {
  const Node& n = ast.nodes[index];
  if (n.kind == NodeKind::kConcat) {
    for (uint32_t kid : n.kids) Flatten(ast, kid, items);
  } else if (n.kind == NodeKind::kGroup) {
    Flatten(ast, n.kids[0], items);
  } else {
    items->push_back(index);
  }
}

void CollectUnits(const Ast& ast, uint32_t index, RangeSet* units) {
  const Node& n = ast.nodes[index];
  if (n.kind == NodeKind::kSet) {
    units->insert(units->end(), ast.sets[n.set].begin(), ast.sets[n.set].end());
  }
  for (uint32_t kid : n.kids) CollectUnits(ast, kid, units);
}

bool SingleUnit(const Ast& ast, uint32_t index, wchar_t* unit) {
  const Node& n = ast.nodes[index];
  if (n.kind != NodeKind::kSet) return false;
  const RangeSet& set = ast.sets[n.set];
  if (set.size() != 1 || set[0].lo != set[0].hi) return false;
  *unit = static_cast<wchar_t>(set[0].lo);
  return true;
}

// Units frequent in text (letters, digits, space, common punctuation) make poor scan targets.
bool IsCommonUnit(wchar_t c) {
  return c < 0x80 && (IsWordUnit(c) || c == ' ' || c == '/' || c == '.' || c == '=' ||
                      c == '+' || c == '-' || c == '"' || c == '<' || c == '>');
}

// The longest run of single units in the pattern's top-level sequence (through groups): every
// match contains it, and what precedes it within a match uses only the units of the items
// before it, so no match can begin before the last other unit ahead of an occurrence.
void FindRequiredLiteral(const Ast& ast, uint32_t root, Program* p) {
  std::vector<uint32_t> items;
  Flatten(ast, root, &items);
  size_t best_start = 0, best_length = 0;
  for (size_t k = 0; k < items.size();) {
    wchar_t unit = 0;
    size_t length = 0;
    while (k + length < items.size() && SingleUnit(ast, items[k + length], &unit)) ++length;
    if (length > best_length) {
      best_start = k;
      best_length = length;
    }
    k += length == 0 ? 1 : length;
  }
  if (best_length == 0) return;
  for (size_t k = 0; k < best_length; ++k) {
    wchar_t unit = 0;
    SingleUnit(ast, items[best_start + k], &unit);
    p->literal.push_back(unit);
  }
  p->literal_anchor = 0;
  for (size_t k = 0; k < p->literal.size(); ++k) {
    if (!IsCommonUnit(p->literal[k])) {
      p->literal_anchor = k;
      break;
    }
  }
  RangeSet prefix;
  for (size_t k = 0; k < best_start; ++k) CollectUnits(ast, items[k], &prefix);
  Normalize(&prefix);
  p->prefix_units = std::make_unique<CharSet>(prefix);
}

// The units that can begin a match, following every path from the start (assertions and the
// empty-iteration checks taken as passing, which can only widen the set).
void FindFirstUnits(Program* p) {
  const auto& insts = p->insts;
  std::vector<uint8_t> seen(insts.size(), 0);
  std::vector<uint32_t> stack{0};
  RangeSet units;
  while (!stack.empty()) {
    const uint32_t pc = stack.back();
    stack.pop_back();
    if (seen[pc]) continue;
    seen[pc] = 1;
    const Inst& in = insts[pc];
    switch (in.op) {
      case Op::kMatch:
        return;  // the pattern can match empty: every position is a candidate
      case Op::kSet: {
        const CharSet& set = p->sets[in.x];
        for (uint32_t c = 0; c < 0x80; ++c) {
          if (set.Contains(c)) units.push_back({c, c});
        }
        units.insert(units.end(), set.high.begin(), set.high.end());
        break;
      }
      case Op::kJmp:
        stack.push_back(in.x);
        break;
      case Op::kSplit:
        stack.push_back(in.y);
        stack.push_back(in.x);
        break;
      default:
        stack.push_back(pc + 1);
        break;
    }
  }
  Normalize(&units);
  p->first_units = std::make_unique<CharSet>(units);
}

// A greedy loop "L: Split(s, X); s: Set; Jmp L" whose exit X reaches no assertion or flag:
// while its thread is the only one left, each further unit of the set only moves the match end.
void FindFastLoops(Program* p) {
  const auto& insts = p->insts;
  p->fast_loop.assign(insts.size(), 0);
  for (uint32_t s = 0; s + 1 < insts.size(); ++s) {
    if (insts[s].op != Op::kSet || insts[s + 1].op != Op::kJmp) continue;
    const uint32_t loop = insts[s + 1].x;
    if (insts[loop].op != Op::kSplit || insts[loop].x != s) continue;
    std::vector<uint8_t> seen(insts.size(), 0);
    std::vector<uint32_t> stack{insts[loop].y};
    bool plain = true;
    while (!stack.empty() && plain) {
      const uint32_t pc = stack.back();
      stack.pop_back();
      if (seen[pc]) continue;
      seen[pc] = 1;
      const Inst& in = insts[pc];
      switch (in.op) {
        case Op::kAssert:
        case Op::kIterStart:
        case Op::kIterEnd:
          plain = false;
          break;
        case Op::kSet:
        case Op::kMatch:
          break;
        case Op::kJmp:
          stack.push_back(in.x);
          break;
        case Op::kSplit:
          stack.push_back(in.x);
          stack.push_back(in.y);
          break;
        default:
          stack.push_back(pc + 1);
          break;
      }
    }
    p->fast_loop[s] = plain;
  }
}

// ---------------------------------------------------------------------------------------------
// Scanning for one unit

#ifdef REGEX_ENGINE_SSE2
bool HaveSse2() {
#ifdef __SSE2__
  return true;
#else
  static const bool has = __builtin_cpu_supports("sse2");
  return has;
#endif
}

__attribute__((target("sse2"))) size_t FindUnitSse2(const wchar_t* text, size_t from, size_t end,
                                                     wchar_t unit) {
  const __m128i needle = _mm_set1_epi16(static_cast<short>(unit));
  size_t i = from;
  for (; i + 8 <= end; i += 8) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(block, needle));
    if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
  }
  for (; i < end; ++i) {
    if (text[i] == unit) return i;
  }
  return end;
}
#endif

size_t FindUnit(const wchar_t* text, size_t from, size_t end, wchar_t unit) {
#ifdef REGEX_ENGINE_SSE2
  if (HaveSse2()) return FindUnitSse2(text, from, end, unit);
#endif
  for (size_t i = from; i < end; ++i) {
    if (text[i] == unit) return i;
  }
  return end;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Compile

CompileResult Compile(std::wstring_view pattern, Options options) {
  Ast ast;
  uint32_t root = 0;
  Parser parser(pattern, options.ignore_case, &ast);
  const CompileStatus parsed = parser.Parse(&root);
  if (parsed != CompileStatus::kOk) return {nullptr, parsed};
  auto program = std::make_shared<Program>();
  program->multiline = options.multiline;
  Compiler compiler(ast, program.get());
  const CompileStatus compiled = compiler.Compile(root);
  if (compiled != CompileStatus::kOk) return {nullptr, compiled};
  FindRequiredLiteral(ast, root, program.get());
  FindFirstUnits(program.get());
  FindFastLoops(program.get());
  return {std::move(program), CompileStatus::kOk};
}

size_t GroupCount(const Program& program) { return program.group_count; }

// ---------------------------------------------------------------------------------------------
// Matcher: the Pike VM

namespace {

struct ThreadList {
  std::vector<uint32_t> pcs;
  std::vector<uint32_t> slots;  // each thread's capture slots, slot_count apiece
  size_t size = 0;
};

struct Frame {
  uint32_t a, b;  // explore: pc and flags; restore: slot and value
  bool restore;
};

}  // namespace

struct Matcher::Scratch {
  ThreadList lists[2];
  std::vector<uint32_t> visited;  // generation stamp per (pc, flags)
  uint32_t generation = 0;
  std::vector<uint32_t> work, seed, best;
  std::vector<Frame> stack;
  // The last literal occurrence found, for the scan that searched from `literal_from`.
  bool literal_known = false;
  size_t literal_from = 0, literal_at = 0, literal_start = 0;

  void NextGeneration() {
    if (++generation == 0) {
      std::fill(visited.begin(), visited.end(), 0);
      generation = 1;
    }
  }
};

Matcher::Matcher(const Program& program, std::wstring_view subject, bool accelerate)
    : program_(program), subject_(subject), accelerate_(accelerate),
      spans_(program.slot_count, kNoPosition), scratch_(std::make_unique<Scratch>()) {
  Scratch& s = *scratch_;
  for (ThreadList& list : s.lists) {
    list.pcs.resize(std::max<size_t>(program.consumer_count, 1));
    list.slots.resize(list.pcs.size() * program.slot_count);
  }
  s.visited.assign(program.visit_size, 0);
  s.work.resize(program.slot_count);
  s.seed.assign(program.slot_count, kNoPosition);
  s.best.resize(program.slot_count);
  s.stack.reserve(64);
}

Matcher::~Matcher() = default;

namespace {

// The epsilon closure of one thread at `pos`, in priority order: consuming threads go to
// `list`; reaching Match records the thread's slots in `best` and returns true, and the caller
// then drops every thread of lower priority.
class Closure {
 public:
  Closure(const Program& p, std::wstring_view text, std::vector<uint32_t>& visited,
          uint32_t generation, std::vector<uint32_t>& work, std::vector<Frame>& stack)
      : p_(p), text_(text), visited_(visited), generation_(generation), work_(work),
        stack_(stack) {}

  bool Run(uint32_t start_pc, const uint32_t* slots, uint32_t pos, ThreadList& list,
           std::vector<uint32_t>& best) {
    const size_t slot_count = p_.slot_count;
    std::copy(slots, slots + slot_count, work_.begin());
    stack_.clear();
    stack_.push_back({start_pc, 0, false});
    while (!stack_.empty()) {
      const Frame frame = stack_.back();
      stack_.pop_back();
      if (frame.restore) {
        work_[frame.a] = frame.b;
        continue;
      }
      uint32_t pc = frame.a, flags = frame.b;
      for (bool alive = true; alive;) {
        uint32_t& stamp = visited_[p_.visit_offset[pc] + (flags & p_.visit_mask[pc])];
        if (stamp == generation_) break;
        stamp = generation_;
        const Inst& in = p_.insts[pc];
        switch (in.op) {
          case Op::kSet:
            std::copy(work_.begin(), work_.end(), list.slots.begin() + list.size * slot_count);
            list.pcs[list.size++] = pc;
            alive = false;
            break;
          case Op::kMatch:
            std::copy(work_.begin(), work_.end(), best.begin());
            stack_.clear();
            return true;
          case Op::kJmp:
            pc = in.x;
            break;
          case Op::kSplit:
            stack_.push_back({in.y, flags, false});
            pc = in.x;
            break;
          case Op::kSave:
            stack_.push_back({in.x, work_[in.x], true});
            work_[in.x] = pos;
            ++pc;
            break;
          case Op::kReset:
            for (uint32_t slot = in.x; slot < in.y; ++slot) {
              if (work_[slot] == kNoPosition) continue;
              stack_.push_back({slot, work_[slot], true});
              work_[slot] = kNoPosition;
            }
            ++pc;
            break;
          case Op::kAssert:
            alive = Holds(static_cast<AssertKind>(in.arg), pos);
            ++pc;
            break;
          case Op::kIterStart:
            flags |= uint32_t{1} << in.arg;
            ++pc;
            break;
          case Op::kIterEnd:
            alive = !(flags & (uint32_t{1} << in.arg));
            ++pc;
            break;
        }
      }
    }
    return false;
  }

 private:
  bool Word(size_t i) const { return i < text_.size() && IsWordUnit(text_[i]); }
  bool Holds(AssertKind kind, uint32_t pos) const {
    switch (kind) {
      case AssertKind::kLineStart:
        return pos == 0 || (p_.multiline && IsLineTerminator(text_[pos - 1]));
      case AssertKind::kLineEnd:
        return pos == text_.size() || (p_.multiline && IsLineTerminator(text_[pos]));
      case AssertKind::kWordBoundary:
        return (pos > 0 && Word(pos - 1)) != Word(pos);
      case AssertKind::kNotWordBoundary:
        return (pos > 0 && Word(pos - 1)) == Word(pos);
    }
    return false;
  }

  const Program& p_;
  std::wstring_view text_;
  std::vector<uint32_t>& visited_;
  uint32_t generation_;
  std::vector<uint32_t>& work_;
  std::vector<Frame>& stack_;
};

constexpr size_t kNone = static_cast<size_t>(-1);

}  // namespace

bool Matcher::Find(size_t from) {
  const Program& p = program_;
  const size_t n = subject_.size();
  if (n >= kNoPosition || from > n) return false;
  Scratch& s = *scratch_;
  const wchar_t* text = subject_.data();
  const size_t slot_count = p.slot_count;

  // The first position >= pos where a match may begin, or kNone.
  auto next_candidate = [&](size_t pos) -> size_t {
    size_t start = pos;
    if (!p.literal.empty()) {
      if (!(s.literal_known && s.literal_from <= pos && pos <= s.literal_at)) {
        const size_t length = p.literal.size(), anchor = p.literal_anchor;
        size_t at = kNone;
        for (size_t probe = pos + anchor; probe < n;) {
          probe = FindUnit(text, probe, n, p.literal[anchor]);
          if (probe >= n) break;
          const size_t q = probe - anchor;
          if (q + length <= n && std::equal(p.literal.begin(), p.literal.end(), text + q)) {
            at = q;
            break;
          }
          ++probe;
        }
        if (at == kNone) return kNone;
        size_t begin = at;
        while (begin > pos && p.prefix_units->Contains(text[begin - 1])) --begin;
        s.literal_known = true;
        s.literal_from = pos;
        s.literal_at = at;
        s.literal_start = begin;
      }
      start = std::max(pos, s.literal_start);
    }
    if (p.first_units) {
      while (start < n && !p.first_units->Contains(text[start])) ++start;
      if (start >= n) return kNone;
    }
    return start;
  };

  ThreadList* current = &s.lists[0];
  ThreadList* next = &s.lists[1];
  current->size = 0;
  bool matched = false;
  size_t pos = from;
  size_t generation_pos = kNone;
  for (;;) {
    if (!matched) {
      if (current->size == 0 && accelerate_) {
        const size_t candidate = next_candidate(pos);
        if (candidate == kNone) break;
        pos = candidate;
      }
      if (generation_pos != pos) {
        s.NextGeneration();
        generation_pos = pos;
      }
      Closure closure(p, subject_, s.visited, s.generation, s.work, s.stack);
      if (closure.Run(0, s.seed.data(), static_cast<uint32_t>(pos), *current, s.best)) {
        matched = true;
      }
    }
    if (current->size == 0) {
      if (matched || pos >= n) break;
      ++pos;
      continue;
    }
    if (pos >= n) break;
    if (accelerate_ && matched && current->size == 1 && p.fast_loop[current->pcs[0]]) {
      const CharSet& set = p.sets[p.insts[current->pcs[0]].x];
      size_t end = pos;
      while (end < n && set.Contains(text[end])) ++end;
      if (end - pos >= 2) pos = end - 1;
    }
    s.NextGeneration();
    generation_pos = pos + 1;
    next->size = 0;
    const uint32_t unit = text[pos];
    Closure closure(p, subject_, s.visited, s.generation, s.work, s.stack);
    for (size_t t = 0; t < current->size; ++t) {
      const uint32_t pc = current->pcs[t];
      if (!p.sets[p.insts[pc].x].Contains(unit)) continue;
      if (closure.Run(pc + 1, current->slots.data() + t * slot_count,
                      static_cast<uint32_t>(pos + 1), *next, s.best)) {
        matched = true;
        break;
      }
    }
    std::swap(current, next);
    ++pos;
  }
  if (matched) std::copy(s.best.begin(), s.best.end(), spans_.begin());
  return matched;
}

}  // namespace regex_engine
