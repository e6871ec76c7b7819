#pragma once
#include <windows.h>

#include <string>

// Every message box of the program: no owner window, task-modal (unless system-modal is asked
// for) so the main window takes no input meanwhile, caption "信息：" when none is given.
int ShowMessage(const std::string& text, const char* caption = nullptr, UINT style = MB_OK);
