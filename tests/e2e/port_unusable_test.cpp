// COM1 cannot be opened: the program says so in a message box of its own and ends.
#include <gtest/gtest.h>

#include "tests/support/kivom_driver.h"

namespace {

using kivom_test::RunningProgram;

constexpr int kMessageTextId = 0xFFFF;  // the static that holds a message box's text

// Waits for the box's text to be the port's failure message.
testing::AssertionResult SaysPortUnusable(HWND box) {
  return kivom_test::Eventually("the message box's text", kivom_test::ShiftJis(L"COM1が使えません"),
                                [&] { return kivom_test::Text(GetDlgItem(box, kMessageTextId)); });
}

// The caption the platform gives a message box that has none.
std::string DefaultCaption() {
  char caption[64] = {};
  LoadStringA(GetModuleHandleA("user32.dll"), 2, caption, sizeof caption);  // "Error"
  return caption;
}

TEST(PortUnusable, PressShowsAnOwnerlessBoxAndItsOkEndsTheProgramWithZero) {
  RunningProgram program = kivom_test::StartProgram();
  ASSERT_NE(program.form, nullptr);
  // Posted: the press does not return while the box is open.
  PostMessageA(kivom_test::Control(program, StartButton), BM_CLICK, 0, 0);

  HWND box = kivom_test::FindProcessWindow(program, "#32770");
  ASSERT_NE(box, nullptr) << "awaited a message box; saw none";
  EXPECT_TRUE(SaysPortUnusable(box));
  EXPECT_EQ(kivom_test::Text(box), DefaultCaption());
  EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
  EXPECT_NE(GetDlgItem(box, IDOK), nullptr);
  EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);  // MB_OK: one button
  EXPECT_TRUE(IsWindowEnabled(program.form));     // no owner, so the form stays usable

  PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  EXPECT_TRUE(kivom_test::EndsWithCode(program, 0));
  kivom_test::Discard(program);
}

// The box has no owner, so the form still takes clicks while it is open: a second press
// runs a nested exchange that fails the same way, and the process ends, with exit code 0,
// as soon as one of the boxes returns.
TEST(PortUnusable, SecondPressWhileTheBoxIsOpenNestsAndTheFirstBoxToReturnEndsTheProgram) {
  RunningProgram program = kivom_test::StartProgram();
  ASSERT_NE(program.form, nullptr);
  HWND button = kivom_test::Control(program, StartButton);
  PostMessageA(button, BM_CLICK, 0, 0);
  HWND first = kivom_test::FindProcessWindow(program, "#32770");
  ASSERT_NE(first, nullptr) << "awaited the first press's message box; saw none";
  ASSERT_TRUE(SaysPortUnusable(first));

  PostMessageA(button, BM_CLICK, 0, 0);
  HWND second = kivom_test::FindProcessWindow(program, "#32770", kivom_test::kStateWaitMs, first);
  ASSERT_NE(second, nullptr) << "awaited a message box of the second press; saw none";
  EXPECT_TRUE(SaysPortUnusable(second));
  EXPECT_EQ(kivom_test::WaitForExit(program, 0), static_cast<DWORD>(STILL_ACTIVE));

  PostMessageA(GetDlgItem(second, IDOK), BM_CLICK, 0, 0);
  EXPECT_TRUE(kivom_test::EndsWithCode(program, 0));
  kivom_test::Discard(program);
}

}  // namespace
