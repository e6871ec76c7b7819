#include "message_box.h"

int ShowMessage(const std::string& text, const char* caption, UINT style) {
  if (!(style & MB_SYSTEMMODAL)) style |= MB_TASKMODAL;
  return MessageBoxA(nullptr, text.c_str(), caption ? caption : "信息：", style);
}
