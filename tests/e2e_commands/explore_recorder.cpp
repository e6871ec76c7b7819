// Stands in for the file manager in the tests of Save's "open the folder" answer: started by the
// shell as `b2t_recorder.exe "RECORD-FILE" FOLDER`, it appends FOLDER, the rest of its command
// line as the shell wrote it, and CR LF to RECORD-FILE.
#include <windows.h>

#include <string>

namespace {

// `line` after its first argument, which may be quoted, and the spaces after it.
const wchar_t* SkipArgument(const wchar_t* line) {
  if (*line == L'"') {
    ++line;
    while (*line && *line != L'"') ++line;
    if (*line) ++line;
  }
  while (*line && *line != L' ' && *line != L'\t') ++line;
  while (*line == L' ' || *line == L'\t') ++line;
  return line;
}

}  // namespace

int main() {
  const wchar_t* line = SkipArgument(GetCommandLineW());
  const wchar_t* folder = SkipArgument(line);
  std::wstring recordFile(line, folder);
  while (!recordFile.empty() && (recordFile.back() == L' ' || recordFile.back() == L'"')) recordFile.pop_back();
  if (!recordFile.empty() && recordFile.front() == L'"') recordFile.erase(0, 1);
  if (recordFile.empty()) return 2;

  std::string text;
  int size = WideCharToMultiByte(CP_ACP, 0, folder, -1, nullptr, 0, nullptr, nullptr);
  if (size > 1) {
    text.resize(size);
    WideCharToMultiByte(CP_ACP, 0, folder, -1, text.data(), size, nullptr, nullptr);
    text.resize(size - 1);
  }
  text += "\r\n";
  HANDLE file = CreateFileW(recordFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == text.size() ? 0 : 1;
}
