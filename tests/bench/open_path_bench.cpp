// Times the steps of opening a bookmarks file as the program does, in one process:
//   read     ReadBookmarksText
//   search   RegexMatcher::Create: the text to a BSTR, then "Execute"
//   collect  GetMatchCount and the AppendLinks walk into a std::string
//   release  the match collection and the engine let go, as when the search returns
// and the whole of it, then the process's peak memory. One "key=value" line per figure.
// Between collect and release, and outside the whole, the first and the last tenth of the
// matches are fetched again: equal costs per link there mean that reaching match i does not
// depend on i, so that the walk is linear.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <new>
#include <string>

#include "link_extraction.h"
#include "open_command.h"
#include "regex_matcher.h"

namespace {

double Now() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / frequency;
}

// Which object the matcher got: taken after the timings so that loading it is counted where
// the program pays for it, in the first search.
const char* EngineName() {
  ComApartment apartment;
  CLSID clsid;
  ComPtr<IUnknown> system;
  if (SUCCEEDED(CLSIDFromProgID(L"VBScript.RegExp", &clsid)) &&
      SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                 reinterpret_cast<void**>(system.put()))))
    return "vbscript";
  RegexMatcher probe;  // without the system object only the program's own can answer
  return probe.Create("a", "a") ? "builtin" : "none";
}

void PrintSeconds(const char* step, double seconds, size_t bytes) {
  std::printf("%s_s=%.4f\n", step, seconds);
  if (seconds > 0) std::printf("%s_mb_per_s=%.2f\n", step, bytes / 1048576.0 / seconds);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: open_path_bench <bookmarks.html>\n");
    return 2;
  }
  std::printf("file=%s\nbuild=%d-bit\n", argv[1], static_cast<int>(sizeof(void*) * 8));

  const double start = Now();
  std::string text = ReadBookmarksText(argv[1]);
  const double read = Now();

  double searched, collected, head, tail;
  int count = 0, tenth = 0;
  size_t fetched = 0;  // used, so that the fetches cannot be left out
  bool made;
  std::string links;
  {
    RegexMatcher matcher;
    made = matcher.Create(LinkPattern, text, false, false, true, true, LinkSearchNeedsLinearTime);
    searched = Now();
    count = matcher.GetMatchCount();
    try {
      if (count > 0) AppendLinks(matcher, count, links);
    } catch (const std::bad_alloc&) {
      links.clear();
      count = 0;  // the program ends such a search like one without links
    }
    collected = Now();
    tenth = count / 10;
    for (int i = 1; i <= tenth; ++i) fetched += matcher.GetSubMatchText(i, 1).size();
    head = Now();
    for (int i = count - tenth + 1; i <= count; ++i) fetched += matcher.GetSubMatchText(i, 1).size();
    tail = Now();
  }
  const double released = Now();

  // Whether this text went to the program's own engine even where the system has one, and what
  // deciding it cost (inside the search above).
  int linear = -1;
  double guard = 0;
  if (const int wideLength = text.empty() ? 0
          : MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0)) {
    try {
      std::wstring wide(static_cast<size_t>(wideLength), L'\0');
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), wideLength);
      const double before = Now();
      linear = LinkSearchNeedsLinearTime(wide) ? 1 : 0;
      guard = Now() - before;
    } catch (const std::bad_alloc&) {
    }
  }

  std::printf("bytes=%zu\nengine=%s\nexecuted=%d\nlinks=%d\nlinks_bytes=%zu\n", text.size(),
              EngineName(), made ? 1 : 0, count, links.size());
  std::printf("linear_search=%d\nguard_s=%.4f\n", linear, guard);
  PrintSeconds("read", read - start, text.size());
  PrintSeconds("search", searched - read, text.size());
  PrintSeconds("collect", collected - searched, text.size());
  PrintSeconds("release", released - tail, text.size());
  PrintSeconds("whole", (collected - start) + (released - tail), text.size());
  if (count > 0) std::printf("collect_us_per_link=%.3f\n", (collected - searched) * 1e6 / count);
  if (tenth > 0) {
    std::printf("walk_head_us_per_link=%.3f\nwalk_tail_us_per_link=%.3f\nwalk_probe_bytes=%zu\n",
                (head - collected) * 1e6 / tenth, (tail - head) * 1e6 / tenth, fetched);
  }

  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof memory;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory)) {
    // Wine fills PeakPagefileUsage with the current private usage, not a peak.
    std::printf("peak_pagefile_mb=%.1f\npeak_working_set_mb=%.1f\n",
                memory.PeakPagefileUsage / 1048576.0, memory.PeakWorkingSetSize / 1048576.0);
  }
  return 0;
}
