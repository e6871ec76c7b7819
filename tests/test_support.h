#pragma once
// Real files and real message boxes for the in-process tests.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

// A fresh folder under the system's temporary folder, removed with its files at the end.
class TempFolder {
 public:
  explicit TempFolder(const std::string& name = "b2t");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);  // "<missing>" when the file cannot be read
int CountFiles(const std::string& folder);

// Answers the message boxes that the thread which constructs it shows meanwhile, from a second
// thread, as a user would: notes what each box said and presses its first button.
class MessageBoxAnswerer {
 public:
  struct Box {
    std::string caption, text;
    bool ownerDisabled = false;  // whether the main window took no input while it was up
    bool hasIcon = false;
  };
  explicit MessageBoxAnswerer(HWND mainWindow, int button = IDOK);
  ~MessageBoxAnswerer();
  MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
  MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;
  // The boxes answered so far (waits until the answerer has finished with an open one).
  std::vector<Box> boxes();

 private:
  void Watch();
  DWORD threadId_;
  HWND mainWindow_;
  int button_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> busy_{false};
  std::vector<Box> boxes_;
  std::thread watcher_;
};
