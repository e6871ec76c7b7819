#include "save_command.h"

#include <shellapi.h>

#include "main_window.h"
#include "message_box.h"
#include "program.h"
#include "unique_file.h"

namespace {

DWORD WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 26));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) return GetLastError();
    if (written != chunk) return ERROR_DISK_FULL;
    bytes.remove_prefix(written);
  }
  return ERROR_SUCCESS;
}

// The refusals of an in-place overwrite (CREATE_ALWAYS with FILE_ATTRIBUTE_NORMAL), checked
// explicitly because a replace by rename would not make them.
DWORD CheckReplaceable(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_ACCESS_DENIED;
  if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
    return ERROR_ACCESS_DENIED;
  UniqueFile probe(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  return probe ? ERROR_SUCCESS : GetLastError();
}

std::string SystemReason(DWORD error) {
  char* text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason = length ? std::string(text, length) : std::string();
  LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
    reason.pop_back();
  if (error == ERROR_ACCESS_DENIED)
    reason += "（文件可能为只读、隐藏或系统文件，或目录不可写）";
  return reason + "（错误代码 " + std::to_string(error) + "）";
}

}  // namespace

DWORD ReplaceFileContents(const std::string& path, std::string_view bytes) {
  DWORD error = CheckReplaceable(path);
  if (error != ERROR_SUCCESS) return error;

  std::string folder = path.substr(0, path.find_last_of("\\/") + 1);
  char temporary[MAX_PATH];
  if (!GetTempFileNameA(folder.empty() ? "." : folder.c_str(), "b2t", 0, temporary))
    return GetLastError();
  {
    UniqueFile file(CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    error = file ? WriteAll(file.get(), bytes) : GetLastError();
    if (error == ERROR_SUCCESS && !FlushFileBuffers(file.get())) error = GetLastError();
    if (file && !file.close() && error == ERROR_SUCCESS) error = GetLastError();
  }
  if (error == ERROR_SUCCESS &&
      !MoveFileExA(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    error = GetLastError();
  if (error != ERROR_SUCCESS) DeleteFileA(temporary);
  return error;
}

void OnSaveClicked() {
  if (LinkCount <= 0) return;
  const std::string& folder = GetProgramFolder();
  std::string path = folder + "/bookmarks.txt";
  DWORD error = ReplaceFileContents(path, CollectedLinks);
  if (error != ERROR_SUCCESS) {
    ShowMessage("保存失败，未能写入" + path + "\r\n" + SystemReason(error) +
                    "\r\n原有文件保持不变，已收集的链接仍在，可以再试一次。",
                nullptr, MB_ICONERROR);
    return;
  }
  int answer = ShowMessage("写入成功，保存路径为" + folder + "/bookmarks.txt\r\n是否打开文件目录",
                           "提示", MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND);
  if (answer == IDYES) ShellExecuteA(nullptr, "explore", folder.c_str(), nullptr, "", SW_SHOWNORMAL);
}
