#include "program.h"

#include <windows.h>
#include <ole2.h>

#include "main_window.h"
#include "message_box.h"

int LinkCount;
std::string CollectedLinks;

std::string CutAtLastBackslash(std::string_view path) {
  size_t cut = std::string_view::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '\\') {
      cut = i;
    } else if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size()) {
      ++i;  // the trail byte may be 0x5C and is still part of this character
    }
  }
  return std::string(path.substr(0, cut == std::string_view::npos ? 0 : cut));
}

const std::string& GetProgramFolder() {
  static const std::string folder = [] {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return CutAtLastBackslash(std::string_view(path, length < MAX_PATH ? length : 0));
  }();
  return folder;
}

namespace {
constexpr int kMaxExitRoutines = 8;
void (*g_exitRoutines[kMaxExitRoutines])();
int g_exitRoutineCount;
}  // namespace

void RegisterExitRoutine(void (*routine)()) {
  for (int i = 0; i < g_exitRoutineCount; ++i)
    if (g_exitRoutines[i] == routine) return;
  if (g_exitRoutineCount < kMaxExitRoutines) g_exitRoutines[g_exitRoutineCount++] = routine;
}

void RunExitRoutines() {
  for (int i = 0; i < g_exitRoutineCount; ++i) g_exitRoutines[i]();
  g_exitRoutineCount = 0;
}

void ClearExitRoutines() { g_exitRoutineCount = 0; }

void ReleaseCollectedLinks() { std::string().swap(CollectedLinks); }

int StartProgram() {
  OleInitialize(nullptr);
  SetCurrentDirectoryA(GetProgramFolder().c_str());
  RegisterExitRoutine(ReleaseCollectedLinks);

  if (!CreateMainWindow()) {
    ShowMessage("启动窗口载入失败！", nullptr, MB_ICONERROR);
    ClearExitRoutines();
    return -1;
  }
  ShowMainWindow();
  return RunMessageLoop();
}
