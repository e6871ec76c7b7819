// A user's session with one huge file: opens and saves a small export, then opens the given
// file and waits for the program to finish that Open however long it takes. Prints what the
// program showed (the label, the box) and its peak memory. After the zero path bookmarks.txt must
// be as it was, and the small export opened and saved again must come out twice: what was
// collected before the huge file is kept. Exit code 1 when the program died or hung, when the
// Open ended neither with a count nor with the zero path (书签数量为0 and the box), or when links
// were lost.
//   huge_open.exe <bookmarks file> [minutes to wait, 60 when not given]
// The end of the Open is seen in the label, so the file must not hold exactly two links.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app_steps.h"
#include "main_window.h"

namespace {

using uidriver::Format;
using uidriver::ToUtf8;

std::string LabelText(const uidriver::Program& program) {
  char text[256] = {};
  // Reads the text the system keeps for the window: no message is sent, so a busy program
  // cannot block the reading.
  GetWindowTextA(program.control(kLabelId), text, sizeof text);
  return text;
}

double PeakWorkingSetMb(DWORD processId) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
  if (!process) return -1;
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof memory;
  const bool read = GetProcessMemoryInfo(process, &memory, sizeof memory);
  CloseHandle(process);
  return read ? memory.PeakWorkingSetSize / 1048576.0 : -1;
}

// Opens `path` through the dialog, waits for `caption` in the label, saves and declines to open
// the folder.
uidriver::Status OpenAndSave(const uidriver::Program& program, const std::string& path, const std::string& caption) {
  if (uidriver::Status opened = steps::OpenFile(program, path); !opened) return opened;
  if (uidriver::Status shown = program.waitForText(program.control(kLabelId), caption); !shown) return shown;
  if (uidriver::Status clicked = steps::ClickSave(program); !clicked) return clicked;
  uidriver::Result<steps::Box> asked = steps::AnswerBox(program, IDNO);
  if (!asked) return {asked.error};
  if (asked.value.caption != steps::kSavedCaption) return {"the save shows the box " + ToUtf8(asked.value.text)};
  return {};
}

int Fail(const std::string& why) {
  std::printf("huge_open: FAIL: %s\n", ToUtf8(why).c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  const int minutes = argc > 2 ? std::atoi(argv[2]) : 60;
  if (argc < 2 || minutes < 1) {
    std::fprintf(stderr, "usage: huge_open <bookmarks file> [minutes]\n");
    return 2;
  }
  const std::string hugePath = uidriver::WindowsPath(argv[1]);
  uidriver::TempFolder folder("书签 大文件");
  if (!folder.ok()) return Fail("cannot make a temporary folder");
  const std::vector<std::string> small = {"https://small.example/1", "http://小.example/二"};
  const std::string smallPath = folder.file("小.html");
  if (uidriver::Status written = uidriver::WriteFileBytes(smallPath, steps::BookmarksHtml(small)); !written)
    return Fail(written.error);

  uidriver::Program program;
  if (uidriver::Status started = program.Start(B2T_APP_EXE, folder.path()); !started) return Fail(started.error);
  const std::string before = steps::CountCaption(static_cast<int>(small.size()));
  const std::string bookmarksPath = folder.file("bookmarks.txt");
  const std::string smallLines = steps::LinkLines(small);
  if (uidriver::Status done = OpenAndSave(program, smallPath, before); !done) return Fail(done.error);
  if (uidriver::Result<std::string> saved = uidriver::ReadFileBytes(bookmarksPath); !saved || saved.value != smallLines)
    return Fail("bookmarks.txt does not hold the small export's links: " + saved.error);

  const ULONGLONG began = GetTickCount64();
  uidriver::Result<HWND> dialog = steps::ShowOpenDialog(program);
  if (!dialog) return Fail(dialog.error);
  // From the moment the dialog closes the program is busy with the file, and the step reports a
  // program that takes no messages: here that is expected, the wait below is for the result.
  if (uidriver::Status chosen = steps::ChooseFile(dialog.value, hugePath);
      !chosen && IsWindow(dialog.value) && IsWindowVisible(dialog.value))
    return Fail(chosen.error);
  std::string label;
  for (;;) {
    if (!program.running()) return Fail("the program ended while it opened the file");
    label = LabelText(program);
    if (label != before) break;
    if (GetTickCount64() - began > minutes * 60000ULL)
      return Fail(Format("no result after %d minutes", minutes));
    Sleep(500);
  }
  const double seconds = (GetTickCount64() - began) / 1000.0;
  const bool zeroPath = label == steps::CountCaption(0);
  std::string box = "none";
  if (zeroPath) {
    uidriver::Result<steps::Box> shown = steps::AnswerBox(program, IDOK);
    if (!shown) return Fail(shown.error);
    box = shown.value.caption + " " + shown.value.text;
    if (shown.value.caption != steps::kNoLinkCaption || shown.value.text != steps::kNoLinkText)
      return Fail("the zero path shows the box \"" + box + "\"");
  }
  std::printf("huge_open: file=%s\nhuge_open: label=%s\nhuge_open: box=%s\nhuge_open: seconds=%.1f\n",
              ToUtf8(hugePath).c_str(), ToUtf8(label).c_str(), ToUtf8(box).c_str(), seconds);
  std::printf("huge_open: peak_working_set_mb=%.1f\n", PeakWorkingSetMb(program.processId()));

  if (zeroPath) {
    uidriver::Result<std::string> kept = uidriver::ReadFileBytes(bookmarksPath);
    if (!kept || kept.value != smallLines) return Fail("bookmarks.txt changed: " + kept.error);
    if (uidriver::Status done = OpenAndSave(program, smallPath, before); !done) return Fail(done.error);
  } else {
    if (uidriver::Status clicked = steps::ClickSave(program); !clicked) return Fail(clicked.error);
    if (uidriver::Result<steps::Box> asked = steps::AnswerBox(program, IDNO); !asked) return Fail(asked.error);
  }
  uidriver::Result<std::string> saved = uidriver::ReadFileBytes(bookmarksPath);
  if (!saved) return Fail(saved.error);
  const bool asCollected = zeroPath ? saved.value == smallLines + smallLines
                                    : saved.value.size() > smallLines.size() &&
                                          saved.value.compare(0, smallLines.size(), smallLines) == 0;
  if (!asCollected)
    return Fail("bookmarks.txt holds " + std::to_string(saved.value.size()) + " bytes, not what was collected");
  std::printf("huge_open: bookmarks.txt=%zu bytes, %s\n", saved.value.size(),
              zeroPath ? "the small export's links twice: nothing lost, nothing of the huge file"
                       : "the small export's links, then the huge file's");

  if (uidriver::Status active = program.activate(); !active) return Fail(active.error);
  if (uidriver::Status pressed = program.pressKeys({VK_ESCAPE}); !pressed) return Fail(pressed.error);
  uidriver::Result<DWORD> exited = program.waitForExit();
  if (!exited) return Fail(exited.error);
  std::printf("huge_open: exit code %lu\nhuge_open: %s\n", static_cast<unsigned long>(exited.value),
              exited.value == 0 ? "PASS" : "FAIL");
  return exited.value == 0 ? 0 : 1;
}
