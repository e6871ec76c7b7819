#include "ui_driver.h"

#include <shellapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "main_window.h"

namespace uidriver {

namespace {

// For one message to another process: the program may be busy a while (a file dialog coming up or
// going away), and the system takes a thread that has not looked at its messages for 5 s for hung.
constexpr DWORD kMessageTimeoutMs = kWaitMs;
constexpr char kDialogClass[] = "#32770";
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr int kClassicFileNameId = 0x480;  // edt1
constexpr int kFileNameComboId = 0x47C;    // cmb13
constexpr DWORD kElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED, missing from MinGW's headers

// Polls `ready` until it holds or `timeoutMs` has passed; the failure names what was awaited and
// what `seen` reports at the end.
template <class Ready, class Seen>
Status WaitFor(DWORD timeoutMs, const std::string& what, Ready ready, Seen seen) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    if (ready()) return {};
    if (GetTickCount64() >= deadline)
      return {Format("timed out after %lu ms waiting for %s; %s", static_cast<unsigned long>(timeoutMs),
                     what.c_str(), std::string(seen()).c_str())};
    Sleep(15);
  }
}

std::string WideToCodePage(const std::wstring& wide, UINT codePage) {
  int size = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                 nullptr, nullptr);
  std::string bytes(size > 0 ? size : 0, '\0');
  if (size > 0)
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), size,
                        nullptr, nullptr);
  return bytes;
}

std::wstring CodePageToWide(const std::string& bytes, UINT codePage) {
  int size = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring wide(size > 0 ? size : 0, L'\0');
  if (size > 0)
    MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), size);
  return wide;
}

DWORD ProcessOf(HWND window) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  return processId;
}

struct WindowSearch {
  DWORD processId;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  if (ProcessOf(window) == search->processId) search->found.push_back(window);
  return TRUE;
}

BOOL CALLBACK FindEdit(HWND child, LPARAM param) {
  char name[16];
  if (GetClassNameA(child, name, sizeof name) == 0 || lstrcmpiA(name, "Edit") != 0) return TRUE;
  *reinterpret_cast<HWND*>(param) = child;
  return FALSE;
}

// The top-level windows of a process on the calling thread's desktop.
std::vector<HWND> TopLevelWindows(DWORD processId) {
  WindowSearch search{processId, {}};
  EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string DescribeAll(const std::vector<HWND>& windows) {
  if (windows.empty()) return "none";
  std::string list;
  for (HWND window : windows) list += (list.empty() ? "" : ", ") + Describe(window);
  return list;
}

std::string DescribeVisible(const std::vector<HWND>& windows) {
  std::vector<HWND> visible;
  for (HWND window : windows)
    if (IsWindowVisible(window)) visible.push_back(window);
  return DescribeAll(visible);
}

// The owned pop-ups of `dialog` (a file dialog's "file not found" box, say), for error messages.
std::string OwnedPopups(HWND dialog) {
  std::string list;
  for (HWND window : TopLevelWindows(ProcessOf(dialog))) {
    if (window == dialog || GetWindow(window, GW_OWNER) != dialog || !IsWindowVisible(window)) continue;
    MessageBoxInfo box = ReadMessageBox(window);
    list += Format(" It shows \"%s\": \"%s\".", ToUtf8(box.caption).c_str(), ToUtf8(box.text).c_str());
  }
  return list;
}

bool IsFileDialog(HWND dialog) { return FileNameField(dialog) != nullptr; }

GUITHREADINFO GuiThreadInfo(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) info = GUITHREADINFO{};
  return info;
}

// A dialog is settled once it is the active window with the focus on one of its controls. A
// click before that may be lost: the focus set during activation can take a pressed button's
// capture away.
bool Settled(HWND dialog) {
  GUITHREADINFO info = GuiThreadInfo(dialog);
  return info.hwndActive == dialog && IsChild(dialog, info.hwndFocus);
}

Status WaitUntilSettled(HWND dialog, DWORD timeoutMs) {
  return WaitFor(
      timeoutMs, "the dialog \"" + ToUtf8(Text(dialog)) + "\" to be active with the focus in it",
      [&] { return Settled(dialog); },
      [&] {
        GUITHREADINFO info = GuiThreadInfo(dialog);
        return "the active window is " + Describe(info.hwndActive) + ", the focus on " + Describe(info.hwndFocus);
      });
}

bool IsExtendedKey(WORD key) {
  switch (key) {
    case VK_LEFT: case VK_RIGHT: case VK_UP: case VK_DOWN: case VK_HOME: case VK_END:
    case VK_PRIOR: case VK_NEXT: case VK_INSERT: case VK_DELETE: case VK_RCONTROL: case VK_RMENU:
      return true;
  }
  return false;
}

INPUT KeyInput(WORD key, bool up) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (IsExtendedKey(key) ? KEYEVENTF_EXTENDEDKEY : 0);
  return input;
}

Status Send(std::vector<INPUT>& inputs, const char* what) {
  UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  if (sent != inputs.size())
    return {Format("SendInput took %u of %u events for %s (error %lu): input is blocked", sent,
                   static_cast<unsigned>(inputs.size()), what, GetLastError())};
  return {};
}

bool RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      std::string child = path + "\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  return RemoveDirectoryA(path.c_str()) != 0;
}

}  // namespace

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int size = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(size > 0 ? size : 0, '\0');
  if (size > 0) vsnprintf(text.data(), size + 1, format, args);
  va_end(args);
  return text;
}

// ---- the machine ----

bool RunningUnderWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

std::string WindowsPath(const std::string& hostPath) {
  if (hostPath.empty() || hostPath[0] != '/') return hostPath;
  using DosFileName = WCHAR*(CDECL*)(const char*);
  auto dosFileName = reinterpret_cast<DosFileName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
  if (!dosFileName) return hostPath;
  WCHAR* dos = dosFileName(ToUtf8(hostPath).c_str());  // takes the Unix spelling of the name
  if (!dos) return hostPath;
  std::string path = WideToCodePage(dos, CP_ACP);
  HeapFree(GetProcessHeap(), 0, dos);
  return path;
}

std::string ToUtf8(const std::string& ansi) { return WideToCodePage(CodePageToWide(ansi, CP_ACP), CP_UTF8); }

TempFolder::TempFolder(const std::string& name) {
  char temp[MAX_PATH];
  DWORD length = GetTempPathA(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH) return;
  std::string base = std::string(temp, length) + name + Format("-%lu-", GetCurrentProcessId());
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    std::string candidate = base + Format("%lu", static_cast<unsigned long>(GetTickCount64() % 100000 + attempt));
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return;
  }
}

TempFolder::~TempFolder() {
  if (path_.empty()) return;
  // A program that has just ended may still hold its executable for a moment.
  for (int attempt = 0; attempt < 50 && !RemoveTree(path_); ++attempt) Sleep(20);
}

Result<std::string> ReadFileBytes(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return {{}, Format("cannot open %s (error %lu)", ToUtf8(path).c_str(), GetLastError())};
  Result<std::string> result;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) result.value.append(buffer, got);
  CloseHandle(file);
  return result;
}

Status WriteFileBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return {Format("cannot create %s (error %lu)", ToUtf8(path).c_str(), GetLastError())};
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  DWORD error = GetLastError();
  CloseHandle(file);
  if (!ok || written != bytes.size())
    return {Format("cannot write %s (error %lu)", ToUtf8(path).c_str(), ok ? ERROR_DISK_FULL : error)};
  return {};
}

namespace {

constexpr char kDesktopSizes[] = "Software\\Wine\\Explorer\\Desktops";

// Creates the desktop `name` and moves the calling thread to it; the explorer.exe that Wine
// starts for it at the first use takes its size from the registry. `previous` gets the thread's
// desktop before, when the move succeeded.
Status EnterDesktop(const std::string& name, int width, int height, HDESK& desktop, HDESK& previous) {
  std::string size = Format("%dx%d", width, height);
  LSTATUS written = RegSetKeyValueA(HKEY_CURRENT_USER, kDesktopSizes, name.c_str(), REG_SZ, size.c_str(),
                                    static_cast<DWORD>(size.size() + 1));
  if (written != ERROR_SUCCESS) return {Format("cannot note the size of desktop %s (error %ld)", name.c_str(), written)};
  desktop = CreateDesktopA(name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  if (!desktop) return {Format("CreateDesktop(%s) failed (error %lu)", name.c_str(), GetLastError())};
  HDESK before = GetThreadDesktop(GetCurrentThreadId());
  if (!SetThreadDesktop(desktop))
    return {Format("cannot move to desktop %s (error %lu): the calling thread must own no window", name.c_str(),
                   GetLastError())};
  previous = before;
  RECT screen;
  GetWindowRect(GetDesktopWindow(), &screen);  // makes Wine start the desktop's explorer
  if (screen.right - screen.left != width || screen.bottom - screen.top != height)
    return {Format("desktop %s is %ldx%ld, not %s", name.c_str(), screen.right - screen.left,
                   screen.bottom - screen.top, size.c_str())};
  return {};
}

void LeaveDesktop(const std::string& name, HDESK desktop, HDESK previous) {
  if (previous) SetThreadDesktop(previous);
  if (desktop) CloseDesktop(desktop);
  RegDeleteKeyValueA(HKEY_CURRENT_USER, kDesktopSizes, name.c_str());
}

}  // namespace

VirtualDesktop::~VirtualDesktop() {
  if (name_.empty()) return;
  LeaveDesktop(name_, desktop_, previous_);
  // Wine keeps one set of monitors for all desktops, and the explorer of each new desktop makes
  // it that desktop's size; it stays so for the desktop left, until a desktop of that desktop's
  // size comes up again.
  if (previous_ && (width_ != restoreWidth_ || height_ != restoreHeight_)) {
    HDESK restore = nullptr, back = nullptr;
    EnterDesktop(name_ + "-restore", restoreWidth_, restoreHeight_, restore, back);
    LeaveDesktop(name_ + "-restore", restore, back);
  }
}

Status VirtualDesktop::open(const std::string& name, int width, int height) {
  if (!RunningUnderWine())
    return {"a desktop of a chosen size needs Wine's virtual desktop (explorer /desktop=NAME,WxH)"};
  if (!name_.empty()) return {"this virtual desktop is open already"};
  name_ = name;
  width_ = width;
  height_ = height;
  restoreWidth_ = GetSystemMetrics(SM_CXSCREEN);
  restoreHeight_ = GetSystemMetrics(SM_CYSCREEN);
  return EnterDesktop(name, width, height, desktop_, previous_);
}

// ---- any window ----

std::string Text(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kMessageTimeoutMs, &length))
    return std::string();
  std::string text(length * 2 + 1, '\0');  // room for a length that was counted in characters
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_NORMAL, kMessageTimeoutMs, &copied))
    return std::string();
  text.resize(strnlen(text.data(), text.size()));
  return text;
}

std::string ClassName(HWND window) {
  char name[256];
  int length = GetClassNameA(window, name, sizeof name);
  return std::string(name, length > 0 ? length : 0);
}

DWORD Style(HWND window) { return static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE)); }
DWORD ExStyle(HWND window) { return static_cast<DWORD>(GetWindowLongPtrA(window, GWL_EXSTYLE)); }

RECT ScreenRect(HWND window) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  return rect;
}

RECT RectInParent(HWND child) {
  RECT rect = ScreenRect(child);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::string Describe(HWND window) {
  if (!window) return "no window";
  if (!IsWindow(window)) return "a window that is gone";
  return Format("%s id %d \"%s\"", ClassName(window).c_str(), GetDlgCtrlID(window), ToUtf8(Text(window)).c_str());
}

std::vector<ChildInfo> Children(HWND parent) {
  std::vector<ChildInfo> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    children.push_back({child, GetDlgCtrlID(child), ClassName(child), Text(child), RectInParent(child), Style(child)});
  return children;
}

// ---- input ----

Status ClickAt(POINT point) {
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  std::vector<INPUT> inputs(3);
  for (INPUT& input : inputs) {
    input.type = INPUT_MOUSE;
    // The middle of the pixel in the 0..65535 range, so that either rounding lands on it.
    input.mi.dx = static_cast<LONG>((2LL * point.x + 1) * 65536 / (2LL * width));
    input.mi.dy = static_cast<LONG>((2LL * point.y + 1) * 65536 / (2LL * height));
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  }
  inputs[1].mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
  inputs[2].mi.dwFlags |= MOUSEEVENTF_LEFTUP;
  std::vector<INPUT> move(inputs.begin(), inputs.begin() + 1);
  if (Status moved = Send(move, "a mouse move"); !moved) return moved;
  // Under Wine the X server echoes the move a moment later; a button pressed meanwhile would see
  // the pointer leave and not click. So the pointer first rests on the point, and the press and
  // the release carry the point too.
  int restingPolls = 0;
  Status rested = WaitFor(
      2000, Format("the mouse pointer to rest at (%ld, %ld)", point.x, point.y),
      [&] {
        POINT cursor;
        GetCursorPos(&cursor);
        restingPolls = cursor.x == point.x && cursor.y == point.y ? restingPolls + 1 : 0;
        return restingPolls >= 4;
      },
      [] {
        POINT cursor;
        GetCursorPos(&cursor);
        return Format("it is at (%ld, %ld)", cursor.x, cursor.y);
      });
  if (!rested) return rested;
  std::vector<INPUT> press(inputs.begin() + 1, inputs.end());
  return Send(press, "a click");
}

Status Click(HWND target) {
  if (!IsWindow(target)) return {"cannot click: the window is gone"};
  if (!IsWindowVisible(target)) return {"cannot click " + Describe(target) + ": it is hidden"};
  if (!IsWindowEnabled(target)) return {"cannot click " + Describe(target) + ": it is disabled"};
  RECT rect = ScreenRect(target);
  POINT centre = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  if (centre.x < 0 || centre.y < 0 || centre.x >= width || centre.y >= height)
    return {Format("cannot click %s: its centre (%ld, %ld) is off the %dx%d screen", Describe(target).c_str(),
                   centre.x, centre.y, width, height)};
  HWND hit = WindowFromPoint(centre);
  if (hit != target && !IsChild(target, hit))
    return {Format("cannot click %s: %s is on top at (%ld, %ld)", Describe(target).c_str(), Describe(hit).c_str(),
                   centre.x, centre.y)};
  return ClickAt(centre);
}

Status PressKeys(std::initializer_list<WORD> keys) {
  std::vector<INPUT> inputs;
  std::vector<WORD> pressed(keys);
  for (WORD key : pressed) inputs.push_back(KeyInput(key, false));
  for (size_t i = pressed.size(); i-- > 0;) inputs.push_back(KeyInput(pressed[i], true));
  return Send(inputs, "keys");
}

Status TypeText(const std::string& ansi) {
  std::vector<INPUT> inputs;
  for (wchar_t unit : CodePageToWide(ansi, CP_ACP)) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wScan = unit;
    input.ki.dwFlags = KEYEVENTF_UNICODE;
    inputs.push_back(input);
    input.ki.dwFlags |= KEYEVENTF_KEYUP;
    inputs.push_back(input);
  }
  if (inputs.empty()) return {};
  return Send(inputs, "text");
}

// ---- dialogs ----

bool MessageBoxInfo::hasButton(int id) const {
  for (const auto& button : buttons)
    if (button.first == id) return true;
  return false;
}

MessageBoxInfo ReadMessageBox(HWND box) {
  MessageBoxInfo info;
  info.window = box;
  info.caption = Text(box);
  info.text = Text(GetDlgItem(box, kMessageBoxTextId));
  for (const ChildInfo& child : Children(box))
    if (child.className == "Button" && (child.style & WS_VISIBLE)) info.buttons.emplace_back(child.id, child.text);
  return info;
}

Status PressDialogButton(HWND dialog, int id, DWORD timeoutMs) {
  HWND button = GetDlgItem(dialog, id);
  if (!button) return {Format("the dialog %s has no button %d", Describe(dialog).c_str(), id)};
  if (Status settled = WaitUntilSettled(dialog, timeoutMs); !settled) return settled;
  if (Status clicked = Click(button); !clicked) return clicked;
  return WaitFor(
      timeoutMs, Format("the dialog \"%s\" to close after its button %d", ToUtf8(Text(dialog)).c_str(), id),
      [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); },
      [&] {
        GUITHREADINFO info = GuiThreadInfo(dialog);
        return "it is still open, with the focus on " + Describe(info.hwndFocus) + "; the windows of its process: " +
               DescribeVisible(TopLevelWindows(ProcessOf(dialog))) + "." + OwnedPopups(dialog);
      });
}

HWND FileNameField(HWND dialog) {
  HWND classic = GetDlgItem(dialog, kClassicFileNameId);
  if (classic && ClassName(classic) == "Edit" && IsWindowVisible(classic)) return classic;
  HWND combo = GetDlgItem(dialog, kFileNameComboId);
  if (!combo) return nullptr;
  if (ClassName(combo) == "Edit") return combo;
  // ComboBoxEx32 > ComboBox > Edit under Wine; ComboBox > Edit on Windows.
  HWND edit = nullptr;
  EnumChildWindows(combo, FindEdit, reinterpret_cast<LPARAM>(&edit));
  return edit;
}

Status ChooseFileInDialog(HWND dialog, const std::string& path, DWORD timeoutMs) {
  HWND field = FileNameField(dialog);
  if (!field) return {"the dialog " + Describe(dialog) + " has no file-name field"};
  if (Status settled = WaitUntilSettled(dialog, timeoutMs); !settled) return settled;
  if (Status clicked = Click(field); !clicked) return clicked;
  // Select what the field holds, so that the typing replaces it, with keys: they come after the
  // click's button-up in the same input queue, where a selection by message could be undone by it.
  if (Status selected = PressKeys({VK_END}); !selected) return selected;
  if (Status selected = PressKeys({VK_SHIFT, VK_HOME}); !selected) return selected;
  if (Status typed = TypeText(path); !typed) return typed;
  if (Status shown = WaitFor(
          timeoutMs, "the file-name field to hold " + ToUtf8(path), [&] { return Text(field) == path; },
          [&] { return "it holds " + ToUtf8(Text(field)); });
      !shown)
    return shown;
  return PressDialogButton(dialog, IDOK, timeoutMs);
}

// ---- the program ----

Program::~Program() {
  if (!process_) return;
  if (running()) {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 5000);
  }
  CloseHandle(process_);
}

Status Program::Start(const std::string& productExe, const std::string& folder, const std::string& desktop,
                      DWORD timeoutMs) {
  if (process_) return {"this program has been started already"};
  std::string source = WindowsPath(productExe);
  if (GetFileAttributesA(source.c_str()) == INVALID_FILE_ATTRIBUTES)
    return {"no program at " + ToUtf8(source)};
  exePath_ = folder + "\\bookmarks2txt.exe";
  if (!CopyFileA(source.c_str(), exePath_.c_str(), FALSE))
    return {Format("cannot copy the program to %s (error %lu)", ToUtf8(exePath_).c_str(), GetLastError())};

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  std::string desktopName = desktop;
  if (!desktopName.empty()) startup.lpDesktop = desktopName.data();
  std::string commandLine = "\"" + exePath_ + "\"";
  PROCESS_INFORMATION started = {};
  if (CreateProcessA(exePath_.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                     &startup, &started)) {
    CloseHandle(started.hThread);
    process_ = started.hProcess;
  } else if (GetLastError() == kElevationRequired) {
    // The manifest asks for an administrator; only the shell may raise a process there.
    SHELLEXECUTEINFOA execute = {};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    execute.lpVerb = "runas";
    execute.lpFile = exePath_.c_str();
    execute.lpDirectory = folder.c_str();
    execute.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&execute) || !execute.hProcess)
      return {Format("cannot start %s with elevation (error %lu)", ToUtf8(exePath_).c_str(), GetLastError())};
    process_ = execute.hProcess;
  } else {
    return {Format("cannot start %s (error %lu)", ToUtf8(exePath_).c_str(), GetLastError())};
  }
  processId_ = GetProcessId(process_);

  Status shown = WaitFor(
      timeoutMs, "the main window of the program",
      [&] {
        for (HWND window : TopLevelWindows(processId_))
          if (ClassName(window) == kMainWindowClass && IsWindowVisible(window)) mainWindow_ = window;
        return mainWindow_ != nullptr || !running();
      },
      [&] { return "its windows: " + DescribeAll(TopLevelWindows(processId_)); });
  if (!shown) return shown;
  if (!mainWindow_) {
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return {Format("the program ended with exit code %ld before showing its window", static_cast<long>(code))};
  }
  return WaitFor(
      timeoutMs, "the focus in the main window",
      [&] { return IsChild(mainWindow_, focus()) != FALSE; },
      [&] { return "the focus is on " + Describe(focus()); });
}

bool Program::running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

HWND Program::focus() const { return mainWindow_ ? GuiThreadInfo(mainWindow_).hwndFocus : nullptr; }

Status Program::waitForFocus(HWND expected, DWORD timeoutMs) const {
  return WaitFor(
      timeoutMs, "the focus on " + Describe(expected), [&] { return focus() == expected; },
      [&] { return "the focus is on " + Describe(focus()); });
}

Status Program::tabTo(HWND target) const {
  for (int presses = 0; presses < 4 && focus() != target; ++presses) {
    HWND before = focus();
    if (Status pressed = pressKeys({VK_TAB}); !pressed) return pressed;
    if (Status moved = WaitFor(
            kWaitMs, "the focus to move on from " + Describe(before) + " after Tab",
            [&] { return focus() != before; }, [] { return std::string("it stayed"); });
        !moved)
      return moved;
  }
  return waitForFocus(target, 0);
}

bool Program::inForeground() const { return processId_ && ProcessOf(GetForegroundWindow()) == processId_; }

Status Program::pressKeys(std::initializer_list<WORD> keys) const {
  Status foreground = WaitFor(
      kWaitMs, "a window of the program in the foreground, to take the keys", [&] { return inForeground(); },
      [] { return "the foreground is " + Describe(GetForegroundWindow()) + " (activate() clicks into the window)"; });
  if (!foreground) return foreground;
  return PressKeys(keys);
}

Status Program::activate(DWORD timeoutMs) const {
  if (inForeground()) return {};
  // Left of the edit box and the label, where the main window shows only its background.
  POINT point = {6, 40};
  ClientToScreen(mainWindow_, &point);
  HWND hit = WindowFromPoint(point);
  if (hit != mainWindow_)
    return {Format("cannot click into the main window: %s is on top at (%ld, %ld)", Describe(hit).c_str(), point.x,
                   point.y)};
  if (Status clicked = ClickAt(point); !clicked) return clicked;
  return WaitFor(
      timeoutMs, "the main window in the foreground after a click into it", [&] { return inForeground(); },
      [] { return "the foreground is " + Describe(GetForegroundWindow()); });
}

std::vector<HWND> Program::dialogs() const {
  std::vector<HWND> found;
  for (HWND window : TopLevelWindows(processId_))
    if (ClassName(window) == kDialogClass && IsWindowVisible(window)) found.push_back(window);
  return found;
}

Result<HWND> Program::waitForFileDialog(DWORD timeoutMs) const {
  Result<HWND> result;
  result.error = WaitFor(
                     timeoutMs, "the file-open dialog of the program",
                     [&] {
                       for (HWND dialog : dialogs())
                         if (IsFileDialog(dialog) && Settled(dialog)) result.value = dialog;
                       return result.value != nullptr;
                     },
                     [&] { return "its dialogs: " + DescribeAll(dialogs()); })
                     .error;
  return result;
}

Result<MessageBoxInfo> Program::waitForMessageBox(DWORD timeoutMs) const {
  HWND box = nullptr;
  Status found = WaitFor(
      timeoutMs, "a message box of the program",
      [&] {
        for (HWND dialog : dialogs())
          if (!IsFileDialog(dialog) && Settled(dialog)) box = dialog;
        return box != nullptr;
      },
      [&] { return "its dialogs: " + DescribeAll(dialogs()); });
  if (!found) return {{}, found.error};
  return {ReadMessageBox(box), {}};
}

Status Program::waitForText(HWND window, const std::string& text, DWORD timeoutMs) const {
  return WaitFor(
      timeoutMs, Format("%s to show \"%s\"", Describe(window).c_str(), ToUtf8(text).c_str()),
      [&] { return Text(window) == text; }, [&] { return "it shows \"" + ToUtf8(Text(window)) + "\""; });
}

Status Program::minimize(DWORD timeoutMs) const {
  PostMessageA(mainWindow_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  return WaitFor(
      timeoutMs, "the main window to be minimised", [&] { return IsIconic(mainWindow_) != FALSE; },
      [] { return std::string("it is not"); });
}

Status Program::restore(DWORD timeoutMs) const {
  PostMessageA(mainWindow_, WM_SYSCOMMAND, SC_RESTORE, 0);
  return WaitFor(
      timeoutMs, "the main window to be restored",
      [&] { return !IsIconic(mainWindow_) && IsWindowVisible(mainWindow_); },
      [] { return std::string("it is still minimised or hidden"); });
}

Result<DWORD> Program::waitForExit(DWORD timeoutMs) const {
  if (!process_) return {0, "the program was not started"};
  if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0)
    return {0, Format("timed out after %lu ms waiting for the program to end; its windows: %s",
                      static_cast<unsigned long>(timeoutMs), DescribeAll(TopLevelWindows(processId_)).c_str())};
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  return {code, {}};
}

}  // namespace uidriver
