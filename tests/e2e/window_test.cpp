// The main window seen and worked from outside: placement, styles, controls, keyboard and focus.
#include <algorithm>
#include <cctype>

#include "e2e_support.h"

namespace {

using uidriver::Format;
using uidriver::Text;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// ---- placement: centred on the screen, each half rounded toward zero ----

struct Screen {
  int width, height;
  POINT origin;  // where the window's outer rectangle starts
};

void PrintTo(const Screen& screen, std::ostream* out) { *out << screen.width << "x" << screen.height; }

class Placement : public ::testing::TestWithParam<Screen> {};

TEST_P(Placement, OuterRectangleIsCentredOnTheScreen) {
  const Screen screen = GetParam();
  // The test display itself where it has the size; else a Wine virtual desktop of that size,
  // whose explorer makes GetSystemMetrics report it to every program on that desktop.
  uidriver::VirtualDesktop desktop;
  if (GetSystemMetrics(SM_CXSCREEN) != screen.width || GetSystemMetrics(SM_CYSCREEN) != screen.height) {
    if (!uidriver::RunningUnderWine()) GTEST_SKIP() << "needs Wine's virtual desktop for this screen size";
    ASSERT_OK(desktop.open(Format("b2t-%dx%d", screen.width, screen.height), screen.width, screen.height));
  }
  uidriver::TempFolder folder("书签 位置");
  uidriver::Program program;
  ASSERT_OK(program.Start(kAppExe, folder.path(), desktop.name()));

  RECT outer = uidriver::ScreenRect(program.mainWindow());
  EXPECT_EQ(outer.left, screen.origin.x);
  EXPECT_EQ(outer.top, screen.origin.y);
  EXPECT_EQ(outer.right - outer.left, kMainWindowWidth);
  EXPECT_EQ(outer.bottom - outer.top, kMainWindowHeight);
}

INSTANTIATE_TEST_SUITE_P(Screens, Placement,
                         ::testing::Values(Screen{1024, 768, {303, 326}}, Screen{1920, 1080, {751, 482}},
                                           Screen{800, 600, {191, 242}}),  // 383 / 2 rounds toward zero
                         [](const auto& info) {
                           return Format("%dx%d", info.param.width, info.param.height);
                         });

// ---- the window and its controls ----

using MainWindow = StartedProgram;

TEST_F(MainWindow, HasItsClassCaptionAndAFixedFrameWithAMinimiseBox) {
  HWND window = program_.mainWindow();
  EXPECT_EQ(uidriver::ClassName(window), kMainWindowClass);
  EXPECT_EQ(Text(window), "HTML书签转TXT文本 By Marlow Quillnet");
  const DWORD style = uidriver::Style(window);
  for (DWORD bit : std::initializer_list<DWORD>{WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX, WS_CLIPCHILDREN})
    EXPECT_EQ(style & bit, bit) << Format("style %08lX lacks %08lX", style, bit);
  for (DWORD bit : std::initializer_list<DWORD>{WS_THICKFRAME, WS_MAXIMIZEBOX, WS_POPUP, WS_CHILD})
    EXPECT_EQ(style & bit, 0u) << Format("style %08lX has %08lX", style, bit);
  // The system itself adds the raised edge to every window with a caption.
  EXPECT_EQ(uidriver::ExStyle(window) & ~DWORD{WS_EX_WINDOWEDGE}, 0u)
      << Format("extended style %08lX", uidriver::ExStyle(window));
}

TEST_F(MainWindow, ControlsHaveTheirPlacesClassesTextsAndStyles) {
  constexpr DWORD kButtonStyle = WS_TABSTOP | BS_CENTER | BS_VCENTER | BS_MULTILINE;
  struct Expected {
    int id;
    const char* className;
    const char* text;
    RECT rect;       // in the main window's client area
    DWORD required;  // style bits it must have
    DWORD excluded;  // style bits it must not have
  } expected[] = {
      // An edit control takes WS_BORDER out of its style and draws the border itself.
      {kEditId, "EDIT", "", {16, 8, 304, 32}, WS_TABSTOP | ES_AUTOHSCROLL, ES_CENTER | ES_RIGHT | ES_MULTILINE},
      {kOpenButtonId, "BUTTON", "打开", {314, 9, 394, 33}, kButtonStyle, 0},
      {kSaveButtonId, "BUTTON", "处理and保存", {314, 49, 394, 73}, kButtonStyle, 0},
      {kLabelId, kLabelClass, "Marlow Quillnet", {16, 47, 304, 71}, WS_BORDER, WS_TABSTOP},
  };
  std::vector<uidriver::ChildInfo> children = uidriver::Children(program_.mainWindow());
  ASSERT_EQ(children.size(), std::size(expected));
  for (const Expected& want : expected) {
    SCOPED_TRACE(Format("control %d", want.id));
    auto child = std::find_if(children.begin(), children.end(), [&](const auto& c) { return c.id == want.id; });
    ASSERT_NE(child, children.end());
    EXPECT_EQ(Upper(child->className), Upper(want.className));
    EXPECT_EQ(child->text, want.text);
    EXPECT_EQ(child->rect.left, want.rect.left);
    EXPECT_EQ(child->rect.top, want.rect.top);
    EXPECT_EQ(child->rect.right, want.rect.right);
    EXPECT_EQ(child->rect.bottom, want.rect.bottom);
    EXPECT_EQ(child->style & (WS_CHILD | WS_VISIBLE), DWORD{WS_CHILD | WS_VISIBLE});
    EXPECT_EQ(child->style & want.required, want.required) << Format("style %08lX", child->style);
    EXPECT_EQ(child->style & want.excluded, 0u) << Format("style %08lX", child->style);
    if (want.className == std::string("BUTTON")) {
      EXPECT_EQ(child->style & BS_TYPEMASK, DWORD{BS_PUSHBUTTON}) << Format("style %08lX", child->style);
    }
  }
}

// ---- keyboard ----

TEST_F(MainWindow, TabAndShiftTabCycleTheThreeTabStopsNeverTheLabel) {
  ASSERT_OK(program_.waitForFocus(edit()));
  struct Step {
    bool shift;
    HWND focus;
  } steps[] = {{false, openButton()}, {false, saveButton()}, {false, edit()},
               {true, saveButton()},  {true, openButton()},  {true, edit()}};
  for (const Step& step : steps) {
    SCOPED_TRACE(Format("%s to %s", step.shift ? "Shift+Tab" : "Tab", uidriver::Describe(step.focus).c_str()));
    if (step.shift)
      ASSERT_OK(program_.pressKeys({VK_SHIFT, VK_TAB}));
    else
      ASSERT_OK(program_.pressKeys({VK_TAB}));
    ASSERT_OK(program_.waitForFocus(step.focus));
  }
}

class EscapeFrom : public StartedProgram, public ::testing::WithParamInterface<int> {};

TEST_P(EscapeFrom, ClosesTheProgramWithExitCode0) {
  ASSERT_OK(program_.tabTo(program_.control(GetParam())));
  ASSERT_OK(program_.pressKeys({VK_ESCAPE}));
  uidriver::Result<DWORD> exit = program_.waitForExit();
  ASSERT_TRUE(exit) << exit.error;
  EXPECT_EQ(exit.value, 0u);
}

std::string ControlName(const ::testing::TestParamInfo<int>& info) {
  switch (info.param) {
    case kEditId: return "Edit";
    case kOpenButtonId: return "OpenButton";
    case kSaveButtonId: return "SaveButton";
  }
  return "Control" + std::to_string(info.param);
}

INSTANTIATE_TEST_SUITE_P(Controls, EscapeFrom, ::testing::Values(kEditId, kOpenButtonId, kSaveButtonId),
                         ControlName);

class EnterOn : public StartedProgram, public ::testing::WithParamInterface<int> {};

TEST_P(EnterOn, DoesNotClickTheButton) {
  if (GetParam() == kSaveButtonId) {
    // Save does nothing before links are collected: collect one, so that a click would show a box.
    std::string bookmarks = folder_.file("书签.html");
    ASSERT_OK(uidriver::WriteFileBytes(bookmarks, "<DT><A HREF=\"https://example.com/\">例子</A>\r\n"));
    ASSERT_OK(program_.click(kOpenButtonId));
    uidriver::Result<HWND> dialog = program_.waitForFileDialog();
    ASSERT_TRUE(dialog) << dialog.error;
    ASSERT_OK(uidriver::ChooseFileInDialog(dialog.value, bookmarks));
    ASSERT_OK(program_.waitForText(label(), "书签数量为1"));
  }
  const std::string editText = Text(edit()), labelText = Text(label());
  HWND button = program_.control(GetParam());
  HWND next = GetParam() == kOpenButtonId ? saveButton() : edit();
  ASSERT_OK(program_.tabTo(button));
  ASSERT_OK(program_.pressKeys({VK_RETURN}));
  // Input is taken in order: once the Tab after it has moved the focus, the Enter has been
  // handled, and a click would have put up a modal window that took the Tab instead.
  ASSERT_OK(program_.pressKeys({VK_TAB}));
  ASSERT_OK(program_.waitForFocus(next));
  std::vector<HWND> dialogs = program_.dialogs();
  EXPECT_TRUE(dialogs.empty()) << uidriver::Describe(dialogs.empty() ? nullptr : dialogs.front());
  EXPECT_EQ(Text(edit()), editText);
  EXPECT_EQ(Text(label()), labelText);
  EXPECT_EQ(GetFileAttributesA(folder_.file("bookmarks.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

INSTANTIATE_TEST_SUITE_P(Buttons, EnterOn, ::testing::Values(kOpenButtonId, kSaveButtonId), ControlName);

TEST_F(MainWindow, SpaceAndAMouseClickOnOpenShowTheFileDialog) {
  enum class Way { kSpace, kClick };
  for (Way way : {Way::kSpace, Way::kClick}) {
    SCOPED_TRACE(way == Way::kSpace ? "Space on the focused button" : "a click on the button");
    if (way == Way::kSpace) {
      ASSERT_OK(program_.tabTo(openButton()));
      ASSERT_OK(program_.pressKeys({VK_SPACE}));
    } else {
      ASSERT_OK(program_.tabTo(edit()));
      ASSERT_OK(program_.click(kOpenButtonId));
    }
    uidriver::Result<HWND> dialog = program_.waitForFileDialog();
    ASSERT_TRUE(dialog) << dialog.error;
    ASSERT_OK(uidriver::PressDialogButton(dialog.value, IDCANCEL));
    EXPECT_TRUE(program_.running());
    EXPECT_EQ(Text(edit()), "");  // a cancelled dialog opens nothing
    // Back in the main window, the focus is where the button press put it.
    ASSERT_OK(program_.waitForFocus(openButton()));
  }
}

// ---- focus ----

class MinimiseAndRestore : public StartedProgram, public ::testing::WithParamInterface<int> {};

TEST_P(MinimiseAndRestore, GiveTheFocusBackToTheControlThatHadIt) {
  HWND control = program_.control(GetParam());
  ASSERT_OK(program_.tabTo(control));
  ASSERT_OK(program_.minimize());
  ASSERT_OK(program_.restore());
  ASSERT_OK(program_.waitForFocus(control));
}

INSTANTIATE_TEST_SUITE_P(Controls, MinimiseAndRestore,
                         ::testing::Values(kEditId, kOpenButtonId, kSaveButtonId), ControlName);

}  // namespace
