#pragma once
// What the end-to-end tests share: the executables they drive and a program started fresh for
// each test from a copy in its own folder.
#include <gtest/gtest.h>

#include "main_window.h"
#include "ui_driver.h"

// Asserts that a driver step succeeded, printing what it waited for or saw otherwise.
#define ASSERT_OK(step)                          \
  do {                                           \
    const auto& driverStep_ = (step);            \
    ASSERT_TRUE(driverStep_) << driverStep_.error; \
  } while (0)
#define EXPECT_OK(step)                          \
  do {                                           \
    const auto& driverStep_ = (step);            \
    EXPECT_TRUE(driverStep_) << driverStep_.error; \
  } while (0)

// The program the tests start: this build's own bookmarks2txt.exe.
inline const char kAppExe[] = B2T_APP_EXE;
// The product whose files are checked: the i686 build named by B2T_PRODUCT_EXE, else empty.
inline const char kProductExe[] = B2T_PRODUCT_EXE_PATH;

// The program started from a folder with a Chinese name, where it may write bookmarks.txt.
class StartedProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok()) << "cannot make a temporary folder";
    ASSERT_OK(program_.Start(kAppExe, folder_.path()));
  }
  HWND edit() const { return program_.control(kEditId); }
  HWND openButton() const { return program_.control(kOpenButtonId); }
  HWND saveButton() const { return program_.control(kSaveButtonId); }
  HWND label() const { return program_.control(kLabelId); }

  uidriver::TempFolder folder_{"书签 测试"};
  uidriver::Program program_;  // ends before its folder is removed
};
