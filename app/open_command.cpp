#include "open_command.h"

#include <windows.h>
#include <commdlg.h>

#include <new>

#include "link_extraction.h"
#include "main_window.h"
#include "program.h"
#include "unique_file.h"

namespace {

// The file name of the dialog 通用对话框1: the last confirmed path, which starts the next dialog.
char g_dialogFileName[MAX_PATH];

constexpr char kFilter[] = "书签文件(*.html)|*.html|所有文件(*.*)|*.*";

// The dialog wants its filter as NUL-separated pairs ending in two NULs. The bars are replaced
// character by character, since a trail byte of code page 936 may be 0x7C.
std::string DialogFilter(std::string_view barSeparated) {
  std::string filter;
  for (size_t i = 0; i < barSeparated.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(barSeparated[i]);
    if (c >= 0x80 && i + 1 < barSeparated.size()) {
      filter.append(barSeparated, i++, 2);
    } else {
      filter += c == '|' ? '\0' : static_cast<char>(c);
    }
  }
  filter.append(2, '\0');
  return filter;
}

// Shows the file-open dialog; true with the confirmed path in g_dialogFileName. A cancelled
// dialog, or one that fails (a path longer than the buffer), leaves the remembered name alone.
bool ChooseFile() {
  char fileName[MAX_PATH];
  memcpy(fileName, g_dialogFileName, sizeof fileName);
  std::string filter = DialogFilter(kFilter);
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = MainWindowHandle();
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = fileName;
  dialog.nMaxFile = sizeof fileName;
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (!GetOpenFileNameA(&dialog)) return false;
  memcpy(g_dialogFileName, fileName, sizeof fileName);
  return true;
}

// Shows the hourglass for as long as it lives.
class WaitCursor {
 public:
  WaitCursor() : previous_(SetCursor(LoadCursor(nullptr, IDC_WAIT))) {}
  ~WaitCursor() { SetCursor(previous_ ? previous_ : LoadCursor(nullptr, IDC_ARROW)); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  HCURSOR previous_;
};

}  // namespace

size_t TextLength(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == 0x00 || c == 0x1A) return i;
    if (c >= 0x80 && i + 1 < bytes.size()) {
      if (bytes[i + 1] == '\0') return i;  // a pair cut short by NUL ends before its first byte
      ++i;
    }
  }
  return bytes.size();
}

std::string ReadBookmarksText(const char* path) {
  UniqueFile file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::string();
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0) return std::string();
  std::string text;
  try {
    if (static_cast<unsigned long long>(size.QuadPart) >= text.max_size()) return std::string();
    text.resize(static_cast<size_t>(size.QuadPart));
  } catch (const std::bad_alloc&) {
    return std::string();  // too large to hold: treated like a file that cannot be read
  }
  size_t done = 0;
  while (done < text.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 26));
    DWORD got = 0;
    if (!ReadFile(file.get(), text.data() + done, chunk, &got, nullptr)) return std::string();
    if (got == 0) break;  // the file shrank since its size was taken
    done += got;
  }
  text.resize(TextLength(std::string_view(text.data(), done)));
  return text;
}

void OnOpenClicked() {
  if (!ChooseFile()) return;
  SetEditText(g_dialogFileName);
  int count;
  {
    WaitCursor busy;
    std::string text = ReadBookmarksText(g_dialogFileName);
    count = ExtractLinks(text);
  }
  LinkCount = count;
}
