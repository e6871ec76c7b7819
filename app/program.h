#pragma once
// Program-wide state and start-up of bookmarks2txt.
#include <string>
#include <string_view>

// Count of links in the file opened last; the Save command does nothing unless it is above zero.
extern int LinkCount;
// Every link found since start, each followed by CR LF; only ever grows while the program runs.
extern std::string CollectedLinks;

// The folder holding the program's executable, without a trailing backslash ("C:\Tools", "D:").
// Found once, at the first call, and the same for the rest of the run.
const std::string& GetProgramFolder();
// `path` cut before its last backslash, stepping through it character by character in the ANSI
// code page so that the trail byte of a double-byte character is never taken for a separator.
std::string CutAtLastBackslash(std::string_view path);

// Exit routines run in the order of registration at the normal end; a routine registered twice is
// listed once.
void RegisterExitRoutine(void (*routine)());
void RunExitRoutines();
void ClearExitRoutines();
void ReleaseCollectedLinks();

// Starts the program and runs its message loop; returns the process's exit code (0 after a normal
// close, -1 when the window could not be made). The caller runs the exit routines and ends OLE.
int StartProgram();
