#include <windows.h>
#include <ole2.h>

#include "program.h"

namespace {
// The program runs elevated: keep every later DLL load (the system's delay loads included) out of
// the folder it was started from, where a planted DLL could wait.
void RestrictDllSearchToSystem32() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto setDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDirectories) setDirectories(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
}
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  RestrictDllSearchToSystem32();
  int exitCode = StartProgram();
  RunExitRoutines();
  OleUninitialize();
  return exitCode;
}
