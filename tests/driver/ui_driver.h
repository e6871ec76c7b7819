#pragma once
// Works bookmarks2txt.exe from outside, as a user or an accessibility tool would: the program runs
// as a separate process; its windows are found by class and process, read with window messages and
// worked with real keyboard and mouse input (SendInput). Every wait has a timeout and, when it runs
// out, says what it waited for and what it saw instead.
#include <windows.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace uidriver {

inline constexpr DWORD kWaitMs = 10000;  // the default for every wait

// What a step came to: an empty `error` when it did what it was asked.
struct Status {
  std::string error;
  explicit operator bool() const { return error.empty(); }
};

template <class T>
struct Result {
  T value{};
  std::string error;
  explicit operator bool() const { return error.empty(); }
};

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// ---- the machine ----

bool RunningUnderWine();
// A path of the build machine made usable here: "/tmp/b/x.exe" becomes "Z:\tmp\b\x.exe" under
// Wine; a Windows path is returned as it is.
std::string WindowsPath(const std::string& hostPath);
// ANSI (code page of this process) to UTF-8, for printing to a Linux terminal.
std::string ToUtf8(const std::string& ansi);

// A fresh folder under the temporary folder, named `name` plus a unique suffix (any characters of
// the ANSI code page, Chinese included), removed with everything in it at the end.
class TempFolder {
 public:
  explicit TempFolder(const std::string& name);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// The bytes of a file; an error when it cannot be read.
Result<std::string> ReadFileBytes(const std::string& path);
// Creates or replaces a file with `bytes`.
Status WriteFileBytes(const std::string& path, const std::string& bytes);

// A Wine virtual desktop of its own size (explorer /desktop=NAME,WxH) that the calling thread
// moves to while the object lives, so that finding windows and SendInput work there. Programs are
// started on it by passing name() to Program::Start. At the end the screen size that the desktop
// before reported is put back (Wine shares it between desktops). Wine only: elsewhere open()
// fails.
class VirtualDesktop {
 public:
  VirtualDesktop() = default;
  ~VirtualDesktop();
  VirtualDesktop(const VirtualDesktop&) = delete;
  VirtualDesktop& operator=(const VirtualDesktop&) = delete;
  Status open(const std::string& name, int width, int height);
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  HDESK desktop_ = nullptr;
  HDESK previous_ = nullptr;
  int width_ = 0, height_ = 0, restoreWidth_ = 0, restoreHeight_ = 0;
};

// ---- any window ----

std::string Text(HWND window);  // WM_GETTEXT, in the ANSI code page
std::string ClassName(HWND window);
DWORD Style(HWND window);
DWORD ExStyle(HWND window);
RECT ScreenRect(HWND window);       // the outer rectangle on the screen
RECT RectInParent(HWND child);      // the outer rectangle in the parent's client coordinates
std::string Describe(HWND window);  // class, id and text, for messages

struct ChildInfo {
  HWND window = nullptr;
  int id = 0;
  std::string className, text;
  RECT rect{};  // in the parent's client coordinates
  DWORD style = 0;
};
std::vector<ChildInfo> Children(HWND parent);  // the direct children, in z order

// ---- input ----

// A left click with the mouse at the centre of `target`, by SendInput. Fails, without clicking,
// when the centre is off the screen or another window is on top there.
Status Click(HWND target);
Status ClickAt(POINT screenPoint);  // the same at a point, unchecked
// Presses the keys in order and releases them in reverse: {VK_SHIFT, VK_TAB} is Shift+Tab.
Status PressKeys(std::initializer_list<WORD> keys);
// Types `ansi` character by character as Unicode keystrokes (KEYEVENTF_UNICODE).
Status TypeText(const std::string& ansi);

// ---- dialogs ----

struct MessageBoxInfo {
  HWND window = nullptr;
  std::string caption, text;
  std::vector<std::pair<int, std::string>> buttons;  // id and text of each visible button
  bool hasButton(int id) const;
};
MessageBoxInfo ReadMessageBox(HWND box);
// Clicks the button `id` of a dialog (a message box or the file dialog) once the dialog is active
// with the focus in it, and waits for the dialog to go away.
Status PressDialogButton(HWND dialog, int id, DWORD timeoutMs = kWaitMs);
// The file-name field of a file-open dialog: edt1 (0x480) of the classic layout, or the edit in
// the combo box cmb13 (0x47C) that newer Windows and Wine use.
HWND FileNameField(HWND dialog);
// Types `path` into the file-name field, checks that the field holds it and confirms with IDOK.
Status ChooseFileInDialog(HWND dialog, const std::string& path, DWORD timeoutMs = kWaitMs);

// ---- the program ----

class Program {
 public:
  Program() = default;
  ~Program();  // ends the process if it still runs
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Copies `productExe` into `folder` and starts the copy there (on `desktop` when one is named),
  // then waits for the main window to be shown and to take the focus.
  Status Start(const std::string& productExe, const std::string& folder,
               const std::string& desktop = std::string(), DWORD timeoutMs = kWaitMs);

  HWND mainWindow() const { return mainWindow_; }
  HWND control(int id) const { return GetDlgItem(mainWindow_, id); }
  const std::string& exePath() const { return exePath_; }
  DWORD processId() const { return processId_; }
  bool running() const;

  HWND focus() const;  // the focus of the thread that owns the main window (GetGUIThreadInfo)
  Status waitForFocus(HWND expected, DWORD timeoutMs = kWaitMs) const;
  // Tab until the focus is on `target` (at most four presses).
  Status tabTo(HWND target) const;
  // Keys for the program: first waits for one of its windows to be in the foreground.
  Status pressKeys(std::initializer_list<WORD> keys) const;
  bool inForeground() const;  // whether a window of the program is the foreground window
  // Brings the main window to the front as a user would, by a click into an empty part of its
  // client area. Wine leaves no window active after a message box without an owner has closed.
  Status activate(DWORD timeoutMs = kWaitMs) const;
  Status click(int controlId) const { return Click(control(controlId)); }

  std::vector<HWND> dialogs() const;  // the visible "#32770" windows of the process
  // Each waits for its dialog to be up and active with the focus in it, ready for input.
  Result<HWND> waitForFileDialog(DWORD timeoutMs = kWaitMs) const;
  Result<MessageBoxInfo> waitForMessageBox(DWORD timeoutMs = kWaitMs) const;
  // Waits until `window` (the label, say) shows `text`.
  Status waitForText(HWND window, const std::string& text, DWORD timeoutMs = kWaitMs) const;

  // The minimise and restore commands of the window menu (WM_SYSCOMMAND), which the title bar's
  // buttons send; each waits for the window to get there.
  Status minimize(DWORD timeoutMs = kWaitMs) const;
  Status restore(DWORD timeoutMs = kWaitMs) const;

  Result<DWORD> waitForExit(DWORD timeoutMs = kWaitMs) const;

 private:
  std::string exePath_;
  HANDLE process_ = nullptr;
  DWORD processId_ = 0;
  HWND mainWindow_ = nullptr;
};

}  // namespace uidriver
