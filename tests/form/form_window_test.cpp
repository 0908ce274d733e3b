// The running form as the platform shows it to a user: window, controls, texts, closing.
#include <gtest/gtest.h>

#include "tests/support/kivom_driver.h"

namespace {

using kivom_test::RunningProgram;

struct ExpectedControl {
  int id;
  const char* className;
  LONG exStyle;
  LONG style;
  int x, y, width, height;
  const wchar_t* text;  // after the form has loaded
};

constexpr LONG kChild = WS_CHILD | WS_VISIBLE;

const ExpectedControl kExpectedControls[] = {
    {1000, "Edit", WS_EX_CLIENTEDGE, kChild, 95, 65, 239, 83, L""},
    {1001, "Edit", WS_EX_CLIENTEDGE, kChild, 95, 188, 238, 76, L""},
    {1002, "Static", 0, kChild, 94, 45, 61, 20, L"送信文字"},
    {1003, "Static", 0, kChild, 95, 169, 48, 19, L"受信文字"},
    {1004, "Static", 0, kChild, 84, 7, 260, 31, L"簡易通信テストプログラム API"},
    {1005, "Button", 0, kChild, 367, 284, 84, 34, L"通信テスト開始"},
};

class FormWindow : public testing::Test {
 protected:
  static void SetUpTestSuite() { program = kivom_test::StartProgram(); }
  static void TearDownTestSuite() { kivom_test::Discard(program); }
  static RunningProgram program;
};
RunningProgram FormWindow::program;

TEST_F(FormWindow, MainWindowHasTitleSizeAndClass) {
  ASSERT_NE(program.form, nullptr);
  EXPECT_EQ(kivom_test::Text(program.form), "kivom");
  RECT outer{};
  GetWindowRect(program.form, &outer);
  EXPECT_EQ(outer.right - outer.left, 480);
  EXPECT_EQ(outer.bottom - outer.top, 360);
  EXPECT_EQ(GetClassLongA(program.form, GCL_STYLE), CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS);
  // The platform adds WS_CLIPSIBLINGS to every top-level window.
  EXPECT_EQ(GetWindowLongA(program.form, GWL_STYLE),
            WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPSIBLINGS);
  EXPECT_TRUE(IsWindowEnabled(program.form));
}

TEST_F(FormWindow, ControlsMatchTheFormTable) {
  ASSERT_NE(program.form, nullptr);
  for (const ExpectedControl& expected : kExpectedControls) {
    SCOPED_TRACE(testing::Message() << "control " << expected.id);
    HWND control = kivom_test::Control(program, expected.id);
    ASSERT_NE(control, nullptr);
    char className[64] = {};
    GetClassNameA(control, className, sizeof className);
    EXPECT_STRCASEEQ(className, expected.className);
    EXPECT_EQ(GetWindowLongA(control, GWL_EXSTYLE), expected.exStyle);
    EXPECT_EQ(GetWindowLongA(control, GWL_STYLE), expected.style);
    RECT bounds{};
    GetWindowRect(control, &bounds);
    MapWindowPoints(HWND_DESKTOP, program.form, reinterpret_cast<POINT*>(&bounds), 2);
    EXPECT_EQ(bounds.left, expected.x);
    EXPECT_EQ(bounds.top, expected.y);
    EXPECT_EQ(bounds.right - bounds.left, expected.width);
    EXPECT_EQ(bounds.bottom - bounds.top, expected.height);
    EXPECT_EQ(kivom_test::Text(control), kivom_test::ShiftJis(expected.text));
  }
}

TEST_F(FormWindow, CommandsOtherThanAStartClickDoNothing) {
  ASSERT_NE(program.form, nullptr);
  // Focus notifications from the button, a click code from another control, and an
  // accelerator-style command all leave the form as it was, with no message box. Each is
  // handled when its send returns; a message box would hold the send until it closed.
  for (const WPARAM command :
       {MAKEWPARAM(1005, BN_SETFOCUS), MAKEWPARAM(1000, BN_CLICKED), MAKEWPARAM(1005, 1)}) {
    DWORD_PTR result = 0;
    EXPECT_NE(SendMessageTimeoutA(program.form, WM_COMMAND, command, 0, SMTO_NORMAL,
                                  kivom_test::kStateWaitMs, &result),
              0)
        << "awaited the handling of command " << std::hex << command << " for "
        << kivom_test::kStateWaitMs << " ms; it did not return";
  }
  EXPECT_EQ(kivom_test::FindProcessWindow(program, "#32770", 0), nullptr);
  EXPECT_EQ(kivom_test::WaitForExit(program, 0), STILL_ACTIVE);
}

// Defined last, so it runs last in the suite: closing the window ends the process with exit code 0.
TEST_F(FormWindow, ClosingTheWindowEndsTheProcessWithCodeZero) {
  ASSERT_NE(program.form, nullptr);
  EXPECT_EQ(kivom_test::CloseProgram(program), 0u);
}

}  // namespace
