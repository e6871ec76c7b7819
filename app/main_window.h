#pragma once
// The main window: an edit box, two buttons and a self-painted label.
#include <windows.h>

#include <string>

// Control identifiers (also how a UI-automation client tells the controls apart).
enum ControlId : int { kEditId = 1001, kOpenButtonId = 1002, kSaveButtonId = 1003, kLabelId = 1004 };

inline constexpr int kMainWindowWidth = 417;
inline constexpr int kMainWindowHeight = 116;
inline constexpr char kMainWindowClass[] = "Bookmarks2TxtMainWindow";
inline constexpr char kLabelClass[] = "Bookmarks2TxtLabel";

bool CreateMainWindow();  // hidden, with all its controls; false when any part could not be made
void ShowMainWindow();
int RunMessageLoop();     // until WM_QUIT; returns the exit code it carried
HWND MainWindowHandle();

void SetEditText(const std::string& text);     // 编辑框1
void SetLabelCaption(const std::string& text);  // 标签1, repainted at once

// Click handlers of 按钮1 and 按钮2.
void OnOpenClicked();
void OnSaveClicked();
