#include "app_steps.h"

#include "main_window.h"

namespace steps {

namespace {

using uidriver::Format;
using uidriver::ToUtf8;

constexpr char kExploreKey[] = "Software\\Classes\\Folder\\shell\\explore\\command";

// Starts a program of the host system (under Wine, a Linux program by its Z: path).
Status RunHostCommand(const std::string& commandLine) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &started))
    return {Format("cannot run %s (error %lu)", ToUtf8(commandLine).c_str(), GetLastError())};
  CloseHandle(started.hThread);
  DWORD waited = WaitForSingleObject(started.hProcess, uidriver::kWaitMs);
  DWORD code = 1;
  GetExitCodeProcess(started.hProcess, &code);
  CloseHandle(started.hProcess);
  if (waited != WAIT_OBJECT_0 || code != 0)
    return {Format("%s failed (exit code %lu)", ToUtf8(commandLine).c_str(), code)};
  return {};
}

// The Linux spelling of a Windows path, in UTF-8; empty outside Wine.
std::string UnixPath(const std::string& windowsPath) {
  using UnixFileName = char*(CDECL*)(const WCHAR*);
  auto unixFileName = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!unixFileName) return std::string();
  int size = MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, nullptr, 0);
  std::wstring wide(size > 0 ? size : 1, L'\0');
  MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide.data(), size);
  char* unix = unixFileName(wide.c_str());
  if (!unix) return std::string();
  std::string path = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return path;
}

// A UTF-8 Linux path as a command-line argument of a Linux program started from Wine, which
// receives it in the code page of this process.
std::string ShellArgument(const std::string& utf8) {
  int size = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::wstring wide(size > 0 ? size : 1, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), size);
  size = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string ansi(size > 0 ? size : 1, '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi.data(), size, nullptr, nullptr);
  ansi.resize(strlen(ansi.c_str()));
  return "\"" + ansi + "\"";
}

}  // namespace

// ---- what the program shows and writes ----

std::string CountCaption(int count) { return "书签数量为" + std::to_string(count); }

std::string SavedText(const std::string& folder) {
  return "写入成功，保存路径为" + folder + "/bookmarks.txt\r\n是否打开文件目录";
}

std::string LinkLines(const std::vector<std::string>& links) {
  std::string lines;
  for (const std::string& link : links) lines += link + "\r\n";
  return lines;
}

std::string BookmarksHtml(const std::vector<std::string>& links) {
  std::string html =
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n"
      "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=GBK\">\r\n"
      "<TITLE>Bookmarks</TITLE>\r\n<H1>书签</H1>\r\n<DL><p>\r\n";
  for (size_t i = 0; i < links.size(); ++i)
    html += Format("    <DT><A HREF=\"%s\" ADD_DATE=\"1700000000\">书签 %u</A>\r\n", links[i].c_str(), static_cast<unsigned>(i + 1));
  return html + "</DL><p>\r\n";
}

// ---- the user's steps ----

// Clicks the button `id` of a dialog that is up and settled, and waits for the dialog to go. (The
// driver's PressDialogButton asks the closing dialog for its title, which under Wine may cost the
// whole message timeout, two seconds a press; too slow for hundreds of cycles.)
Status PressButton(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (!button) return {Format("the dialog %s has no button %d", uidriver::Describe(dialog).c_str(), id)};
  const std::string title = uidriver::Text(dialog);
  if (Status clicked = uidriver::Click(button); !clicked) return clicked;
  const ULONGLONG deadline = GetTickCount64() + uidriver::kWaitMs;
  const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
  while (IsWindow(dialog) && IsWindowVisible(dialog)) {
    if (GetTickCount64() >= deadline)
      return {Format("timed out waiting for the dialog \"%s\" to close after its button %d", ToUtf8(title).c_str(), id)};
    Sleep(15);
  }
  // The thread may be busy a while longer closing it (under Wine without a window manager, two
  // seconds): what it shows is read once it takes messages again.
  HWND other = nullptr;
  EnumThreadWindows(
      thread,
      [](HWND window, LPARAM param) {
        if (!IsWindowVisible(window)) return TRUE;
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&other));
  DWORD_PTR ignored = 0;
  if (other && !SendMessageTimeoutA(other, WM_NULL, 0, 0, SMTO_NORMAL, uidriver::kWaitMs, &ignored) && IsWindow(other))
    return {"the program takes no messages after its dialog \"" + ToUtf8(title) + "\" closed"};
  return {};
}

// A task-modal box disables the main window until it has gone, a moment after it is hidden; a
// click meanwhile lands on the disabled window and is lost.
Status WaitUntilEnabled(const Program& program) {
  const ULONGLONG deadline = GetTickCount64() + uidriver::kWaitMs;
  while (!IsWindowEnabled(program.mainWindow())) {
    if (GetTickCount64() >= deadline)
      return {"timed out waiting for the main window to take input again; its dialogs: " +
              (program.dialogs().empty() ? std::string("none") : uidriver::Describe(program.dialogs().front()))};
    Sleep(15);
  }
  return program.activate();
}

Result<HWND> ShowOpenDialog(const Program& program) {
  if (Status ready = WaitUntilEnabled(program); !ready) return {nullptr, ready.error};
  if (Status clicked = program.click(kOpenButtonId); !clicked) return {nullptr, clicked.error};
  return program.waitForFileDialog();
}

Status ChooseFile(HWND dialog, const std::string& path) {
  HWND field = uidriver::FileNameField(dialog);
  if (!field) return {"the dialog " + uidriver::Describe(dialog) + " has no file-name field"};
  if (Status clicked = uidriver::Click(field); !clicked) return clicked;
  // Keys come after the click's button-up in the same input queue, so the selection they make is
  // not undone by the click (a selection by message could be, racing the button-up).
  if (Status keys = uidriver::PressKeys({VK_END}); !keys) return keys;
  if (Status keys = uidriver::PressKeys({VK_SHIFT, VK_HOME}); !keys) return keys;
  if (Status typed = uidriver::TypeText(path); !typed) return typed;
  const ULONGLONG deadline = GetTickCount64() + uidriver::kWaitMs;
  while (uidriver::Text(field) != path) {
    if (GetTickCount64() >= deadline)
      return {"timed out waiting for the file-name field to hold " + ToUtf8(path) + "; it holds " +
              ToUtf8(uidriver::Text(field))};
    Sleep(15);
  }
  return PressButton(dialog, IDOK);
}

Status OpenFile(const Program& program, const std::string& path) {
  Result<HWND> dialog = ShowOpenDialog(program);
  if (!dialog) return {dialog.error};
  return ChooseFile(dialog.value, path);
}

Status ClickSave(const Program& program) {
  if (Status ready = WaitUntilEnabled(program); !ready) return ready;
  return program.click(kSaveButtonId);
}

Result<Box> AnswerBox(const Program& program, int id) {
  Result<MessageBoxInfo> shown = program.waitForMessageBox();
  if (!shown) return {{}, shown.error};
  Box box;
  static_cast<MessageBoxInfo&>(box) = shown.value;
  for (const uidriver::ChildInfo& child : uidriver::Children(box.window))
    if (child.className == "Static" && (child.style & WS_VISIBLE) && (child.style & SS_TYPEMASK) == SS_ICON)
      box.hasIcon = true;
  if (!box.hasButton(id)) return {box, Format("the box \"%s\" has no button %d", ToUtf8(box.text).c_str(), id)};
  if (Status pressed = PressButton(box.window, id); !pressed) return {box, pressed.error};
  return {box, {}};
}

Status ExpectNoDialog(const Program& program, DWORD ms) {
  Sleep(ms);
  std::vector<HWND> dialogs = program.dialogs();
  if (dialogs.empty()) return {};
  return {"the program shows " + uidriver::Describe(dialogs.front())};
}

// ---- surroundings ----

MappedDrive::~MappedDrive() {
  if (!link_.empty()) {
    RunHostCommand("Z:\\bin\\rm -f " + ShellArgument(link_));
    for (int attempt = 0; attempt < 500 && GetFileAttributesA((letter_ + "\\").c_str()) != INVALID_FILE_ATTRIBUTES;
         ++attempt)
      Sleep(10);
  } else if (!letter_.empty())
    DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, letter_.c_str(), folder_.c_str());
}

Status MappedDrive::map(const std::string& letter, const std::string& folder) {
  if (GetFileAttributesA((letter + "\\").c_str()) != INVALID_FILE_ATTRIBUTES)
    return {"drive " + letter + " is in use already"};
  if (uidriver::RunningUnderWine()) {
    char prefix[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    if (length == 0 || length >= sizeof prefix) return {"WINEPREFIX is not set: cannot find the prefix's drives"};
    std::string target = UnixPath(folder);
    if (target.empty()) return {"no Linux path for " + ToUtf8(folder)};
    // Wine reads its drive letters from the lower-case links in dosdevices.
    std::string lower = letter;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    std::string link = ToUtf8(prefix) + "/dosdevices/" + lower;
    // Wine does not pass on the exit code of a Linux program: the drive itself is checked.
    letter_ = letter;
    link_ = link;
    RunHostCommand("Z:\\bin\\ln -sn " + ShellArgument(target) + " " + ShellArgument(link));
  } else {
    if (!DefineDosDeviceA(0, letter.c_str(), folder.c_str()))
      return {Format("DefineDosDevice(%s) failed (error %lu)", letter.c_str(), GetLastError())};
    letter_ = letter;
    folder_ = folder;
  }
  // Wine does not wait for a Linux program it starts: the link shows when it shows.
  const ULONGLONG deadline = GetTickCount64() + uidriver::kWaitMs;
  while (GetFileAttributesA((letter + "\\").c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount64() >= deadline) return {"drive " + letter + " does not show the folder " + ToUtf8(folder)};
    Sleep(15);
  }
  return {};
}

HeldFile::HeldFile(const std::string& path, DWORD access, DWORD shareMode)
    : handle_(CreateFileA(path.c_str(), access, shareMode, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
  if (handle_ == INVALID_HANDLE_VALUE) error_ = GetLastError();
}

HeldFile::~HeldFile() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

ExploreRecorder::~ExploreRecorder() {
  if (!root_) return;
  if (hadValue_) {
    RegSetKeyValueA(root_, kExploreKey, nullptr, oldType_, oldValue_.c_str(), static_cast<DWORD>(oldValue_.size() + 1));
  } else {
    // Only the keys this object made go; a key it found stays, without the value it was given.
    if (createdKeys_.empty()) RegDeleteKeyValueA(root_, kExploreKey, nullptr);
    for (auto key = createdKeys_.rbegin(); key != createdKeys_.rend(); ++key) RegDeleteKeyA(root_, key->c_str());
  }
}

Status ExploreRecorder::install(const std::string& recorderExe, const std::string& recordFile) {
  if (root_) return {"the recorder is installed already"};
  std::string recorder = uidriver::WindowsPath(recorderExe);
  if (GetFileAttributesA(recorder.c_str()) == INVALID_FILE_ATTRIBUTES) return {"no recorder at " + ToUtf8(recorder)};
  HKEY root = uidriver::RunningUnderWine() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;

  // Note the keys of the path that do not exist yet, so that exactly those are removed again.
  std::vector<std::string> missing;
  const std::string path = kExploreKey;
  for (size_t at = path.find('\\'); ; at = path.find('\\', at + 1)) {
    std::string key = at == std::string::npos ? path : path.substr(0, at);
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) == ERROR_SUCCESS)
      RegCloseKey(opened);
    else
      missing.push_back(key);
    if (at == std::string::npos) break;
  }
  char old[2048];
  DWORD oldSize = sizeof old;
  DWORD oldType = REG_SZ;
  LSTATUS read = RegGetValueA(root, kExploreKey, nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                              &oldType, old, &oldSize);

  HKEY command;
  LSTATUS made = RegCreateKeyExA(root, kExploreKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &command, nullptr);
  if (made != ERROR_SUCCESS) return {Format("cannot create the explore verb's key (error %ld)", made)};
  root_ = root;
  createdKeys_ = missing;
  if (read == ERROR_SUCCESS) {
    hadValue_ = true;
    oldValue_ = old;
    oldType_ = oldType;
  }
  recordFile_ = recordFile;
  // %1 unquoted: the recorder takes the rest of its command line as it comes.
  std::string value = "\"" + recorder + "\" \"" + recordFile + "\" %1";
  LSTATUS set = RegSetValueExA(command, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                               static_cast<DWORD>(value.size() + 1));
  RegCloseKey(command);
  if (set != ERROR_SUCCESS) return {Format("cannot set the explore verb's command (error %ld)", set)};
  return {};
}

Result<std::string> ExploreRecorder::waitForRecord(DWORD timeoutMs) const {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    // The recorder writes the whole line in one call and then closes the file.
    uidriver::Result<std::string> record = uidriver::ReadFileBytes(recordFile_);
    if (record && !record.value.empty() && record.value.back() == '\n') return record;
    if (GetTickCount64() >= deadline)
      return {{}, Format("timed out after %lu ms waiting for the shell to start the explore recorder",
                         static_cast<unsigned long>(timeoutMs))};
    Sleep(15);
  }
}

}  // namespace steps
