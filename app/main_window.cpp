#include "main_window.h"

namespace {

struct MainWindow {
  HWND window = nullptr;
  HWND edit = nullptr;       // 编辑框1
  HWND openButton = nullptr; // 按钮1
  HWND saveButton = nullptr; // 按钮2
  HWND label = nullptr;      // 标签1
  HWND lastFocus = nullptr;  // the control to give the focus back to on reactivation
  HICON bigIcon = nullptr;
  HICON smallIcon = nullptr;
};
MainWindow g_main;

HFONT GuiFont() { return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

// ---- the label: fills with the button face colour, then one line of black text ----

void PaintLabel(HWND label, HDC dc) {
  RECT client;
  GetClientRect(label, &client);
  FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  std::string caption(GetWindowTextLengthA(label) + 1, '\0');
  int length = GetWindowTextA(label, caption.data(), static_cast<int>(caption.size()));
  HGDIOBJ oldFont = SelectObject(dc, GuiFont());
  SetTextColor(dc, RGB(0, 0, 0));
  SetBkMode(dc, TRANSPARENT);
  DrawTextA(dc, caption.data(), length, &client, DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOCLIP);
  SelectObject(dc, oldFont);
}

LRESULT CALLBACK LabelProc(HWND label, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(label, &ps);
      PaintLabel(label, dc);
      EndPaint(label, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;  // PaintLabel fills the whole client area
  }
  return DefWindowProcA(label, message, wParam, lParam);
}

// ---- the main window ----

HWND CreateChild(const char* className, const char* text, DWORD style, int x, int y, int width,
                 int height, int id) {
  HWND child = CreateWindowExA(0, className, text, WS_CHILD | WS_CLIPSIBLINGS | style, x, y, width,
                               height, g_main.window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               GetModuleHandleA(nullptr), nullptr);
  if (child) SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(GuiFont()), FALSE);
  return child;
}

bool CreateChildren() {
  constexpr DWORD kButtonStyle = WS_TABSTOP | BS_PUSHBUTTON | BS_CENTER | BS_VCENTER | BS_MULTILINE;
  g_main.edit = CreateChild("EDIT", "", WS_TABSTOP | WS_BORDER | ES_LEFT | ES_AUTOHSCROLL, 16, 8,
                            288, 24, kEditId);
  g_main.openButton = CreateChild("BUTTON", "打开", kButtonStyle, 314, 9, 80, 24, kOpenButtonId);
  g_main.saveButton = CreateChild("BUTTON", "处理and保存", kButtonStyle, 314, 49, 80, 24, kSaveButtonId);
  g_main.label = CreateChild(kLabelClass, "Marlow Quillnet", WS_BORDER, 16, 47, 288, 24, kLabelId);
  if (!g_main.edit || !g_main.openButton || !g_main.saveButton || !g_main.label) return false;
  SendMessageA(g_main.edit, EM_LIMITTEXT, 0, 0);
  for (HWND child : {g_main.edit, g_main.openButton, g_main.saveButton, g_main.label})
    ShowWindow(child, SW_SHOWNA);
  return true;
}

void OnCommand(int id, int notification) {
  if (notification != BN_CLICKED) return;
  if (id == kOpenButtonId) OnOpenClicked();
  if (id == kSaveButtonId) OnSaveClicked();
}

void RememberFocus() {
  HWND focus = GetFocus();
  if (focus && IsChild(g_main.window, focus)) g_main.lastFocus = focus;
}

void OnActivate(WPARAM state) {
  if (LOWORD(state) == WA_INACTIVE) RememberFocus();
}

void OnSetFocus() { SetFocus(g_main.lastFocus ? g_main.lastFocus : g_main.edit); }

LRESULT OnCtlColorEdit(HDC dc) {
  SetTextColor(dc, RGB(0, 0, 0));
  SetBkColor(dc, RGB(255, 255, 255));
  return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_ACTIVATE:
      OnActivate(wParam);
      break;
    case WM_SYSCOMMAND:
      // Minimising drops the focus before the window is deactivated: note it first.
      if ((wParam & 0xFFF0) == SC_MINIMIZE) RememberFocus();
      break;
    case WM_SETFOCUS:
      OnSetFocus();
      return 0;
    case WM_CTLCOLOREDIT:
      return OnCtlColorEdit(reinterpret_cast<HDC>(wParam));
    case WM_DESTROY:
      g_main.window = g_main.edit = g_main.openButton = g_main.saveButton = g_main.label = nullptr;
      g_main.lastFocus = nullptr;
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterClasses() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSEXA main = {};
  main.cbSize = sizeof main;
  main.lpfnWndProc = MainWindowProc;
  main.hInstance = instance;
  main.hCursor = LoadCursor(nullptr, IDC_ARROW);
  main.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  main.lpszClassName = kMainWindowClass;
  WNDCLASSEXA label = {};
  label.cbSize = sizeof label;
  label.lpfnWndProc = LabelProc;
  label.hInstance = instance;
  label.hCursor = LoadCursor(nullptr, IDC_ARROW);
  label.lpszClassName = kLabelClass;
  return (RegisterClassExA(&main) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) &&
         (RegisterClassExA(&label) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS);
}

void SetIcons() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  g_main.bigIcon = static_cast<HICON>(LoadImageA(instance, "DEFAULT_ICON", IMAGE_ICON, 32, 32, 0));
  g_main.smallIcon = static_cast<HICON>(LoadImageA(instance, "DEFAULT_ICON", IMAGE_ICON, 16, 16, 0));
  SendMessageA(g_main.window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(g_main.bigIcon));
  SendMessageA(g_main.window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(g_main.smallIcon));
}

// Escape closes, Tab and Shift+Tab cycle the three tab stops, Enter does nothing.
bool HandleKey(const MSG& msg) {
  if (msg.message != WM_KEYDOWN || !g_main.window) return false;
  if (msg.hwnd != g_main.window && !IsChild(g_main.window, msg.hwnd)) return false;
  switch (msg.wParam) {
    case VK_ESCAPE:
      SendMessageA(g_main.window, WM_CLOSE, 0, 0);
      return true;
    case VK_TAB: {
      HWND next = GetNextDlgTabItem(g_main.window, GetFocus(), GetKeyState(VK_SHIFT) < 0);
      if (next) SetFocus(next);
      return true;
    }
    case VK_RETURN:
      return true;
  }
  return false;
}

}  // namespace

bool CreateMainWindow() {
  if (!RegisterClasses()) return false;
  int x = (GetSystemMetrics(SM_CXSCREEN) - kMainWindowWidth) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - kMainWindowHeight) / 2;
  g_main.window = CreateWindowExA(
      0, kMainWindowClass, "HTML书签转TXT文本 By Marlow Quillnet",
      WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, x, y,
      kMainWindowWidth, kMainWindowHeight, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!g_main.window) return false;
  SendMessageA(g_main.window, WM_SETFONT, reinterpret_cast<WPARAM>(GuiFont()), FALSE);
  SetIcons();
  RECT outer;
  GetWindowRect(g_main.window, &outer);
  if (outer.right - outer.left != kMainWindowWidth || outer.bottom - outer.top != kMainWindowHeight)
    MoveWindow(g_main.window, x, y, kMainWindowWidth, kMainWindowHeight, FALSE);
  if (!CreateChildren()) {
    DestroyWindow(g_main.window);
    return false;
  }
  return true;
}

void ShowMainWindow() {
  ShowWindow(g_main.window, SW_SHOW);
  SetForegroundWindow(g_main.window);
  SetFocus(g_main.edit);
}

int RunMessageLoop() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (HandleKey(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (g_main.bigIcon) DestroyIcon(g_main.bigIcon);
  if (g_main.smallIcon) DestroyIcon(g_main.smallIcon);
  g_main.bigIcon = g_main.smallIcon = nullptr;
  return static_cast<int>(msg.wParam);
}

HWND MainWindowHandle() { return g_main.window; }

void SetEditText(const std::string& text) {
  if (g_main.edit) SetWindowTextA(g_main.edit, text.c_str());
}

void SetLabelCaption(const std::string& text) {
  if (!g_main.label) return;
  SetWindowTextA(g_main.label, text.c_str());
  InvalidateRect(g_main.label, nullptr, TRUE);
  UpdateWindow(g_main.label);
}
