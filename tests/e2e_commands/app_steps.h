#pragma once
// The steps of a user of Open and Save, built on the UI driver, and the surroundings those
// steps need: bookmark files of known links, a drive letter for a folder, a file held open by
// another program, a recorder of the shell's "explore" verb.
#include <string>
#include <vector>

#include "ui_driver.h"

namespace steps {

using uidriver::MessageBoxInfo;
using uidriver::Program;
using uidriver::Result;
using uidriver::Status;

// ---- what the program shows and writes ----

inline constexpr char kNoLinkCaption[] = "信息：";
inline constexpr char kNoLinkText[] = "匹配失败，数量：0";
inline constexpr char kSavedCaption[] = "提示";
inline constexpr char kSaveFailedCaption[] = "信息：";
inline constexpr char kSaveFailedStart[] = "保存失败";

std::string CountCaption(int count);  // the label after an Open: 书签数量为N
// The question after a save into `folder` (the program's folder as it names it).
std::string SavedText(const std::string& folder);
// `links` each followed by CR LF: what Save writes for them.
std::string LinkLines(const std::vector<std::string>& links);
// A browser's bookmarks export holding `links`, each once, as HREF or as an icon address.
std::string BookmarksHtml(const std::vector<std::string>& links);
// A message box as it was shown, before it was answered.
struct Box : MessageBoxInfo {
  bool hasIcon = false;  // a visible static control of SS_ICON style
};

// ---- the user's steps ----

// Clicks 打开 (once the main window takes input again) and waits for the file dialog, ready for input.
Result<HWND> ShowOpenDialog(const Program& program);
// Clicks the button `id` of a settled dialog (a box, the file dialog) and waits for it to go.
Status PressButton(HWND dialog, int id);
// Types `path` into the file-name field of a settled file dialog and confirms it.
Status ChooseFile(HWND dialog, const std::string& path);
// Opens `path` through the dialog: the dialog is closed when this returns.
Status OpenFile(const Program& program, const std::string& path);
// Clicks 处理and保存, once the main window takes input again and is in front (Wine leaves no
// window active after a box without an owner has closed).
Status ClickSave(const Program& program);
// Waits for a message box and presses its button `id`; the box as it was shown.
Result<Box> AnswerBox(const Program& program, int id);
// Waits `ms` and fails if a dialog of the program came up meanwhile.
Status ExpectNoDialog(const Program& program, DWORD ms);

// ---- surroundings ----

// `letter` ("P:") mapped to `folder` while the object lives: under Wine a link in the prefix's
// dosdevices (DefineDosDevice does not reach Wine's file system), elsewhere DefineDosDevice.
class MappedDrive {
 public:
  MappedDrive() = default;
  ~MappedDrive();
  MappedDrive(const MappedDrive&) = delete;
  MappedDrive& operator=(const MappedDrive&) = delete;
  Status map(const std::string& letter, const std::string& folder);

 private:
  std::string letter_, link_, folder_;
};

// A file held open by this process with the given share mode.
class HeldFile {
 public:
  HeldFile(const std::string& path, DWORD access, DWORD shareMode);
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
  DWORD error() const { return error_; }

 private:
  HANDLE handle_;
  DWORD error_ = 0;
};

// Points the shell's "explore" verb of folders at the test recorder (b2t_recorder.exe), which
// writes the rest of its command line, the folder as the shell passes it, to `recordFile`; the registry is put back as it was at the end.
// Under Wine only HKLM's class is read for it; on Windows HKCU's class overrides the system's.
class ExploreRecorder {
 public:
  ExploreRecorder() = default;
  ~ExploreRecorder();
  ExploreRecorder(const ExploreRecorder&) = delete;
  ExploreRecorder& operator=(const ExploreRecorder&) = delete;
  Status install(const std::string& recorderExe, const std::string& recordFile);
  // The folders the recorder was started for, one per line, once it has written them.
  Result<std::string> waitForRecord(DWORD timeoutMs = uidriver::kWaitMs) const;

 private:
  HKEY root_ = nullptr;
  std::string recordFile_;
  std::vector<std::string> createdKeys_;  // deepest last, deleted in reverse
  bool hadValue_ = false;
  std::string oldValue_;
  DWORD oldType_ = REG_SZ;
};

}  // namespace steps
