#include "test_support.h"

#include <vector>

TempFolder::TempFolder(const std::string& name) {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  for (int i = 0;; ++i) {
    path_ = std::string(base) + name + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(i);
    if (CreateDirectoryA(path_.c_str(), nullptr)) break;
  }
}

TempFolder::~TempFolder() {
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((path_ + "\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      SetFileAttributesA(file(name).c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(file(name).c_str());
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryA(path_.c_str());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  if (file != INVALID_HANDLE_VALUE) {
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
  }
}

std::string ReadBytes(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes(GetFileSize(file, nullptr), '\0');
  DWORD got = 0;
  ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  CloseHandle(file);
  bytes.resize(got);
  return bytes;
}

int CountFiles(const std::string& folder) {
  int count = 0;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++count;
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return count;
}

MessageBoxAnswerer::MessageBoxAnswerer(HWND mainWindow, int button)
    : threadId_(GetCurrentThreadId()), mainWindow_(mainWindow), button_(button) {
  watcher_ = std::thread([this] { Watch(); });
}

MessageBoxAnswerer::~MessageBoxAnswerer() {
  stop_ = true;
  watcher_.join();
}

std::vector<MessageBoxAnswerer::Box> MessageBoxAnswerer::boxes() {
  while (busy_) Sleep(5);
  return boxes_;
}

namespace {
std::string TextOf(HWND window) {
  char text[2048] = {};
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                      SMTO_ABORTIFHUNG, 2000, nullptr);
  return text;
}
}  // namespace

void MessageBoxAnswerer::Watch() {
  while (!stop_) {
    HWND box = nullptr;
    EnumThreadWindows(
        threadId_,
        [](HWND window, LPARAM found) -> BOOL {
          char className[16];
          GetClassNameA(window, className, sizeof className);
          if (std::string(className) != "#32770" || !IsWindowVisible(window)) return TRUE;
          *reinterpret_cast<HWND*>(found) = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&box));
    if (!box) {
      Sleep(10);
      continue;
    }
    busy_ = true;
    Box seen;
    seen.caption = TextOf(box);
    seen.text = TextOf(GetDlgItem(box, 0xFFFF));
    seen.ownerDisabled = mainWindow_ && !IsWindowEnabled(mainWindow_);
    HWND icon = FindWindowExA(box, nullptr, "Static", nullptr);
    for (; icon; icon = FindWindowExA(box, icon, "Static", nullptr))
      if ((GetWindowLongA(icon, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) seen.hasIcon = true;
    boxes_.push_back(seen);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button_, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button_)));
    while (IsWindow(box)) Sleep(5);
    busy_ = false;
  }
}
