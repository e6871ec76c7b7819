// A scripted tour of bookmarks2txt.exe for a machine without a display: starts the program, prints
// what its window shows, lets a screenshot be taken, opens and saves a bookmarks file when the
// program can, and closes it with Esc.
//
//   b2t_demo [--product EXE] [--bookmarks HTML] [--desktop NAME,WIDTHxHEIGHT] [--screenshot-done FILE]
//
// --screenshot-done: prints "demo: ready for the screenshot" and goes on once FILE exists.
#include <cstdio>
#include <cstring>

#include "main_window.h"
#include "ui_driver.h"

namespace {

using namespace uidriver;

void Say(const std::string& utf8) {
  std::printf("demo: %s\n", utf8.c_str());
  std::fflush(stdout);
}

std::string Quoted(const std::string& ansi) {
  std::string quoted = "\"";
  quoted += ToUtf8(ansi);
  quoted += '"';
  return quoted;
}

// A message box's lines on one line of the demo's output.
std::string OneLine(std::string text) {
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, " / ");
  return text;
}

struct Options {
  std::string product = B2T_APP_EXE;
  std::string bookmarks, desktop, screenshotDone;
  int width = 0, height = 0;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i], value = argv[i + 1];
    if (name == "--product") {
      options.product = value;
    } else if (name == "--bookmarks") {
      options.bookmarks = value;
    } else if (name == "--screenshot-done") {
      options.screenshotDone = value;
    } else if (name == "--desktop") {
      size_t comma = value.find(',');
      if (comma == std::string::npos || std::sscanf(value.c_str() + comma + 1, "%dx%d", &options.width, &options.height) != 2)
        return false;
      options.desktop = value.substr(0, comma);
    } else {
      return false;
    }
  }
  return argc % 2 == 1;
}

void PrintWindow(const Program& program) {
  HWND window = program.mainWindow();
  RECT outer = ScreenRect(window);
  Say(Format("window %s, class %s, at (%ld, %ld), %ldx%ld, on a %dx%d screen", Quoted(Text(window)).c_str(),
             ClassName(window).c_str(), outer.left, outer.top, outer.right - outer.left, outer.bottom - outer.top,
             GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)));
  for (const ChildInfo& child : Children(window))
    Say(Format("  %-18s id %d at (%ld, %ld) %ldx%ld, style %08lX: %s", child.className.c_str(), child.id,
               child.rect.left, child.rect.top, child.rect.right - child.rect.left, child.rect.bottom - child.rect.top,
               child.style, Quoted(child.text).c_str()));
  Say("focus on " + Describe(program.focus()));
}

Status AnswerMessageBox(const Program& program, int preferred) {
  Result<MessageBoxInfo> box = program.waitForMessageBox();
  if (!box) return {box.error};
  int button = box.value.hasButton(preferred) ? preferred : box.value.buttons.front().first;
  std::string answer;
  for (const auto& [id, text] : box.value.buttons)
    if (id == button) answer = text;
  Say(Format("message box %s: %s -> %s", Quoted(box.value.caption).c_str(), Quoted(OneLine(box.value.text)).c_str(),
             Quoted(answer).c_str()));
  return PressDialogButton(box.value.window, button);
}

// Opens the bookmarks through the file dialog; false, with nothing done, when the Open command
// shows no dialog (it does nothing yet).
Result<bool> OpenBookmarks(const Program& program, const std::string& bookmarks) {
  Say("clicking " + Describe(program.control(kOpenButtonId)));
  if (Status clicked = program.click(kOpenButtonId); !clicked) return {false, clicked.error};
  // Input is taken in order: a Tab after the click moves the focus on to 按钮2 once the click has
  // been handled without a dialog, while a file dialog, however slow to come, takes the Tab itself.
  if (Status pressed = program.pressKeys({VK_TAB}); !pressed) return {false, pressed.error};
  Result<HWND> dialog;
  for (ULONGLONG deadline = GetTickCount64() + 3 * kWaitMs; !(dialog = program.waitForFileDialog(0)); Sleep(20)) {
    if (program.focus() == program.control(kSaveButtonId) && program.dialogs().empty()) {
      Say("no file dialog appeared: the Open command does nothing yet, so open and save are skipped");
      return {false, {}};
    }
    if (GetTickCount64() >= deadline) return {false, "neither a file dialog nor the focus on the save button after a click on the open button"};
  }
  Say(Format("file dialog %s: typing %s", Quoted(Text(dialog.value)).c_str(), Quoted(bookmarks).c_str()));
  if (Status chosen = ChooseFileInDialog(dialog.value, bookmarks); !chosen) return {false, chosen.error};
  HWND label = program.control(kLabelId);
  // The label changes to the count, or a message box says that there is none.
  for (ULONGLONG deadline = GetTickCount64() + kWaitMs; GetTickCount64() < deadline; Sleep(20)) {
    if (Text(label) != "Marlow Quillnet") {
      Say("the edit box shows " + Quoted(Text(program.control(kEditId))));
      Say("the label shows " + Quoted(Text(label)));
      return {true, {}};
    }
    if (!program.dialogs().empty()) {
      if (Status answered = AnswerMessageBox(program, IDOK); !answered) return {false, answered.error};
      return {false, {}};
    }
  }
  return {false, "the label still shows \"Marlow Quillnet\" after the file was chosen"};
}

Status SaveAndShowTheFile(const Program& program, const std::string& folder) {
  Say("clicking " + Describe(program.control(kSaveButtonId)));
  if (Status clicked = program.click(kSaveButtonId); !clicked) return clicked;
  if (Status answered = AnswerMessageBox(program, IDNO); !answered) return answered;
  Result<std::string> saved = ReadFileBytes(folder + "\\bookmarks.txt");
  if (!saved) return {saved.error};
  Say(Format("bookmarks.txt holds %u bytes; its first lines:", static_cast<unsigned>(saved.value.size())));
  size_t start = 0;
  for (int line = 0; line < 5 && start < saved.value.size(); ++line) {
    size_t end = saved.value.find("\r\n", start);
    if (end == std::string::npos) end = saved.value.size();
    Say("  " + ToUtf8(saved.value.substr(start, end - start)));
    start = end + 2;
  }
  return {};
}

Status WaitForScreenshot(const std::string& flag) {
  Say("ready for the screenshot");
  std::string path = WindowsPath(flag);
  for (ULONGLONG deadline = GetTickCount64() + 60000; GetTickCount64() < deadline; Sleep(50))
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return {};
  return {"timed out after 60000 ms waiting for the screenshot to be taken (" + ToUtf8(path) + ")"};
}

Status RunDemo(const Options& options) {
  VirtualDesktop desktop;
  if (!options.desktop.empty()) {
    if (Status opened = desktop.open(options.desktop, options.width, options.height); !opened) return opened;
    Say(Format("on the virtual desktop %s, %dx%d", options.desktop.c_str(), options.width, options.height));
  }
  TempFolder folder("书签 演示");
  if (!folder.ok()) return {"cannot make a temporary folder"};
  Program program;
  Say("starting a copy of " + ToUtf8(WindowsPath(options.product)) + " in " + ToUtf8(folder.path()));
  if (Status started = program.Start(options.product, folder.path(), desktop.name()); !started) return started;
  PrintWindow(program);

  bool opened = false;
  if (!options.bookmarks.empty()) {
    Result<bool> open = OpenBookmarks(program, WindowsPath(options.bookmarks));
    if (!open) return {open.error};
    opened = open.value;
  }
  if (!options.screenshotDone.empty())
    if (Status shot = WaitForScreenshot(options.screenshotDone); !shot) return shot;
  if (opened)
    if (Status saved = SaveAndShowTheFile(program, folder.path()); !saved) return saved;

  if (!program.inForeground()) {
    Say("no window is active now (Wine activates none when a box without an owner closes): clicking into the main window");
    if (Status activated = program.activate(); !activated) return activated;
  }
  Say("pressing Esc");
  if (Status pressed = program.pressKeys({VK_ESCAPE}); !pressed) return pressed;
  Result<DWORD> exit = program.waitForExit();
  if (!exit) return {exit.error};
  Say(Format("the program ended with exit code %lu", exit.value));
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  SetConsoleOutputCP(CP_UTF8);
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: b2t_demo [--product EXE] [--bookmarks HTML] [--desktop NAME,WxH] "
                 "[--screenshot-done FILE]\n");
    return 2;
  }
  Status demo = RunDemo(options);
  if (!demo) {
    Say("FAILED: " + demo.error);
    return 1;
  }
  return 0;
}
