#pragma once
// The regular-expression engine behind the built-in "RegExp" object: VBScript's syntax without
// back-references and look-ahead, on UTF-16 code units. Matching is a Pike VM (a Thompson NFA
// whose threads keep a backtracker's priorities), so the time is linear in the subject's length
// for every pattern the engine accepts, and nothing recurses per character of the subject.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace regex_engine {

enum class CompileStatus {
  kOk,
  kSyntaxError,   // not a regular expression at all (unbalanced parenthesis, "a**", "[z-a]"...)
  kUnsupported,   // valid for VBScript but outside this engine (back-reference, look-ahead...)
  kTooComplex,    // nesting or size beyond the engine's limits
};

struct Options {
  bool ignore_case = false;
  bool multiline = false;
};

struct Program;  // a compiled pattern; immutable, shareable between threads

struct CompileResult {
  std::shared_ptr<const Program> program;  // null unless status is kOk
  CompileStatus status = CompileStatus::kOk;
};

// Compiles a pattern. May throw std::bad_alloc; every other failure is in the status.
CompileResult Compile(std::wstring_view pattern, Options options);

// Number of capturing groups of the pattern.
size_t GroupCount(const Program& program);

inline constexpr uint32_t kNoPosition = 0xFFFFFFFFu;

// Searches one subject for successive matches. The subject is not copied: it must outlive the
// matcher. Subjects of 0xFFFFFFFF code units or more are not searched (a BSTR never is that long).
class Matcher {
 public:
  // `accelerate` false runs the plain Pike VM over every position: the reference that the
  // literal scan and the other shortcuts must agree with exactly.
  Matcher(const Program& program, std::wstring_view subject, bool accelerate = true);
  ~Matcher();
  Matcher(const Matcher&) = delete;
  Matcher& operator=(const Matcher&) = delete;

  // Finds the leftmost match starting at or after `from` (the one a backtracking engine picks
  // first there). After true, Begin/End give group k's span (k 0 is the whole match), or
  // kNoPosition for a group that took no part. May throw std::bad_alloc.
  bool Find(size_t from);
  uint32_t Begin(size_t group) const { return spans_[2 * group]; }
  uint32_t End(size_t group) const { return spans_[2 * group + 1]; }

 private:
  struct Scratch;
  const Program& program_;
  std::wstring_view subject_;
  bool accelerate_;
  std::vector<uint32_t> spans_;
  std::unique_ptr<Scratch> scratch_;
};

// Where the next search of a global scan starts after a match [begin, end): at its end, or one
// further after an empty match. Returns false when the subject is exhausted.
inline bool NextSearchStart(uint32_t begin, uint32_t end, size_t length, size_t* next) {
  if (end != begin) {
    *next = end;
    return true;
  }
  if (end >= length) return false;
  *next = size_t{end} + 1;
  return true;
}

}  // namespace regex_engine
