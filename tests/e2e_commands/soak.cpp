// A long session: hundreds of Open and Save cycles in one run of the program, through its windows
// as a user would work them. Prints the program's handle, GDI and USER object counts and memory
// after a warm-up and at the end; fails (exit code 1) when they grew beyond a small slack, when a
// step does not go as it should, or when bookmarks.txt at the end is not every link collected.
//   soak.exe [cycles]   (300 when not given)
#include <windows.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "app_steps.h"
#include "main_window.h"

namespace {

using uidriver::Format;

// Growth allowed between the two measurements: Wine and the common dialogs cache a little on
// their own (recent folders, icons), which is not a leak of the program's.
constexpr long kHandleSlack = 16;
constexpr long kGuiSlack = 8;

struct Figures {
  long handles = -1;     // GetProcessHandleCount
  long systemHandles = -1;  // the system handle list's, for Wine, where the call reports 0
  long gdi = -1, user = -1;  // GetGuiResources
  long windows = 0;          // the program's windows, top-level and child: USER objects one can see
  long handleCount() const { return handles > 0 ? handles : systemHandles; }
};

BOOL CALLBACK CountWindow(HWND, LPARAM param) {
  ++*reinterpret_cast<long*>(param);
  return TRUE;
}

struct WindowCount {
  DWORD processId;
  long count;
};

BOOL CALLBACK CountProcessWindows(HWND window, LPARAM param) {
  auto* windows = reinterpret_cast<WindowCount*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != windows->processId) return TRUE;
  ++windows->count;
  EnumChildWindows(window, CountWindow, reinterpret_cast<LPARAM>(&windows->count));
  return TRUE;
}

// The handles of the process in the system's handle list (SystemHandleInformation).
long SystemHandleCount(DWORD processId) {
  struct Entry {
    USHORT processId, creatorBackTraceIndex;
    UCHAR objectType, attributes;
    USHORT handle;
    PVOID object;
    ULONG grantedAccess;
  };
  struct List {
    ULONG count;
    Entry entries[1];
  };
  constexpr ULONG kSystemHandleInformation = 16;
  using Query = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return -1;
  std::vector<char> buffer(1 << 20);
  ULONG needed = 0;
  while (query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed) != 0) {
    if (buffer.size() >= (64u << 20)) return -1;
    buffer.resize(buffer.size() * 2);
  }
  const auto* list = reinterpret_cast<const List*>(buffer.data());
  long count = 0;
  for (ULONG i = 0; i < list->count; ++i)
    if (list->entries[i].processId == static_cast<USHORT>(processId)) ++count;
  return count;
}

Figures Measure(DWORD processId) {
  Figures figures;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
  if (!process) return figures;
  DWORD handles = 0;
  if (GetProcessHandleCount(process, &handles)) figures.handles = static_cast<long>(handles);
  figures.gdi = static_cast<long>(GetGuiResources(process, GR_GDIOBJECTS));
  figures.user = static_cast<long>(GetGuiResources(process, GR_USEROBJECTS));
  CloseHandle(process);
  figures.systemHandles = SystemHandleCount(processId);
  WindowCount windows{processId, 0};
  EnumWindows(CountProcessWindows, reinterpret_cast<LPARAM>(&windows));
  figures.windows = windows.count;
  return figures;
}

void Print(const char* when, const Figures& f) {
  printf("%-6s handles %ld (GetProcessHandleCount %ld, system handle list %ld), GDI objects %ld, USER objects %ld, "
         "windows %ld\n",
         when, f.handleCount(), f.handles, f.systemHandles, f.gdi, f.user, f.windows);
}

struct SoakFile {
  std::string name;
  std::vector<std::string> links;  // what the file holds, by construction
};

std::vector<SoakFile> MakeFiles() {
  std::vector<std::string> many;
  for (int i = 0; i < 40; ++i) many.push_back(Format("https://many.example.com/%d?q=书签%d", i, i));
  return {
      {"三个.html", {"https://www.example.com/", "http://例子.中国/路径", "ftp://files.example.org/pub/"}},
      {"两个.html", {"https://news.example.net/今日", "http://b.example/x#y"}},
      {"没有.html", {}},
      {"一个 昞.html", {"http://例子.cn/昞/页"}},
      {"四十个.html", many},
  };
}

class Soak {
 public:
  explicit Soak(uidriver::Program& program, const uidriver::TempFolder& folder)
      : program_(program), folder_(folder) {}

  // One cycle: opens `file` and saves, refused when bookmarks.txt is read-only.
  uidriver::Status Cycle(const SoakFile& file, bool readOnly) {
    const std::string bookmarks = folder_.file("bookmarks.txt");
    if (uidriver::Status opened = steps::OpenFile(program_, folder_.file(file.name)); !opened) return opened;
    const int count = static_cast<int>(file.links.size());
    if (uidriver::Status shown = program_.waitForText(program_.control(kLabelId), steps::CountCaption(count));
        !shown)
      return shown;
    if (count == 0) {
      uidriver::Result<steps::Box> box = steps::AnswerBox(program_, IDOK);
      if (!box) return {box.error};
      if (box.value.text != steps::kNoLinkText) return {"unexpected box: " + uidriver::ToUtf8(box.value.text)};
      // Save does nothing now; were a box to come, the next cycle's click on Open would fail.
      return steps::ClickSave(program_);
    }
    for (const std::string& link : file.links) collected_ += link + "\r\n";
    const bool exists = GetFileAttributesA(bookmarks.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (readOnly && exists) SetFileAttributesA(bookmarks.c_str(), FILE_ATTRIBUTE_READONLY);
    if (uidriver::Status clicked = steps::ClickSave(program_); !clicked) return clicked;
    const bool refused = readOnly && exists;
    uidriver::Result<steps::Box> box = steps::AnswerBox(program_, refused ? IDOK : IDNO);
    if (refused) SetFileAttributesA(bookmarks.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!box) return {box.error};
    const bool failedBox = box.value.text.rfind(steps::kSaveFailedStart, 0) == 0;
    if (failedBox != refused)
      return {Format("save %s, but the box says \"%s\"", refused ? "should be refused" : "should succeed",
                     uidriver::ToUtf8(box.value.text).c_str())};
    ++(refused ? refusedSaves_ : saves_);
    return {};
  }

  const std::string& collected() const { return collected_; }
  int saves() const { return saves_; }
  int refusedSaves() const { return refusedSaves_; }

 private:
  uidriver::Program& program_;
  const uidriver::TempFolder& folder_;
  std::string collected_;
  int saves_ = 0, refusedSaves_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  const int cycles = argc > 1 ? atoi(argv[1]) : 300;
  if (cycles < 1) {
    fprintf(stderr, "usage: soak [cycles]\n");
    return 2;
  }
  uidriver::TempFolder folder("书签 长测");
  if (!folder.ok()) {
    fprintf(stderr, "soak: cannot make a temporary folder\n");
    return 1;
  }
  const std::vector<SoakFile> files = MakeFiles();
  for (const SoakFile& file : files) {
    std::string html = file.links.empty() ? std::string("<DL><DT>没有链接</DL>\r\n") : steps::BookmarksHtml(file.links);
    if (uidriver::Status written = uidriver::WriteFileBytes(folder.file(file.name), html); !written) {
      fprintf(stderr, "soak: %s\n", written.error.c_str());
      return 1;
    }
  }
  uidriver::Program program;
  if (uidriver::Status started = program.Start(B2T_APP_EXE, folder.path()); !started) {
    fprintf(stderr, "soak: %s\n", started.error.c_str());
    return 1;
  }
  Soak soak(program, folder);
  auto run = [&](int cycle) {
    // Every sixth round of the files, bookmarks.txt is read-only and the saves are refused.
    const bool readOnly = (cycle / static_cast<int>(files.size())) % 6 == 3;
    uidriver::Status done = soak.Cycle(files[cycle % files.size()], readOnly);
    if (!done) fprintf(stderr, "soak: cycle %d: %s\n", cycle, done.error.c_str());
    return static_cast<bool>(done);
  };

  // A warm-up round first: the first dialog and box load what stays loaded.
  int cycle = 0;
  for (; cycle < static_cast<int>(files.size()); ++cycle)
    if (!run(cycle)) return 1;
  const Figures start = Measure(program.processId());
  const ULONGLONG began = GetTickCount64();
  for (; cycle < static_cast<int>(files.size()) + cycles; ++cycle) {
    if (!run(cycle)) return 1;
    if ((cycle + 1) % 50 == 0) printf("soak: %d cycles\n", cycle + 1);
  }
  // A last round that ends on a successful save, so that bookmarks.txt holds everything.
  if (!soak.Cycle(files[0], false)) return 1;
  const double seconds = (GetTickCount64() - began) / 1000.0;
  const Figures end = Measure(program.processId());

  printf("soak: %d cycles in %.1f s (%.2f s a cycle), %d saves, %d refused\n", cycles, seconds, seconds / cycles,
         soak.saves(), soak.refusedSaves());
  Print("start", start);
  Print("end", end);
  bool ok = true;
  if (start.handleCount() <= 0 || end.handleCount() <= 0) {
    printf("soak: FAIL: cannot read the program's handle count\n");
    ok = false;
  } else {
    // Wine 8's GetOpenFileNameA keeps one handle for every dialog confirmed with a file (a
    // program that does nothing but call it shows the same); the program's own growth is what
    // remains beyond that.
    const long growth = end.handleCount() - start.handleCount();
    const long dialogs = uidriver::RunningUnderWine() ? cycles + 1 : 0;
    printf("soak: handles grew by %ld; %ld of them Wine's file dialog's, one per confirmed Open\n",
           growth, std::min(growth, dialogs));
    if (growth - dialogs > kHandleSlack) {
      printf("soak: FAIL: handles grew by %ld beyond the file dialog's\n", growth - dialogs);
      ok = false;
    }
  }
  if (end.gdi - start.gdi > kGuiSlack || end.user - start.user > kGuiSlack || end.windows - start.windows > kGuiSlack) {
    printf("soak: FAIL: GDI objects grew by %ld, USER objects by %ld, windows by %ld\n", end.gdi - start.gdi,
           end.user - start.user, end.windows - start.windows);
    ok = false;
  }
  if (start.gdi == 0 && start.user == 0) printf("soak: note: GetGuiResources reports 0 here (Wine does not count)\n");
  uidriver::Result<std::string> saved = uidriver::ReadFileBytes(folder.file("bookmarks.txt"));
  if (!saved) {
    printf("soak: FAIL: %s\n", saved.error.c_str());
    ok = false;
  } else if (saved.value != soak.collected()) {
    printf("soak: FAIL: bookmarks.txt holds %zu bytes, %zu were collected\n", saved.value.size(),
           soak.collected().size());
    ok = false;
  } else {
    printf("soak: bookmarks.txt holds all %zu bytes collected\n", saved.value.size());
  }
  printf("soak: %s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}
