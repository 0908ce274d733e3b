// The start-up run in this process up to the message loop, and then the loop to its end.
#include <gtest/gtest.h>

#include <string>

#include "app/globals.h"
#include "app/main_form.h"
#include "app/startup.h"
#include "runtime/strings.h"
#include "runtime/testing.h"
#include "tests/support/wait.h"

namespace {

std::string ShiftJis(const wchar_t* text) {
  char bytes[256] = {};
  WideCharToMultiByte(932, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
  return bytes;
}

constexpr int kControlIds[] = {TransmitEdit, ReceiveEdit, TransmitLabel,
                               ReceiveLabel, TitleLabel,  StartButton};

// One start-up for the whole program: it registers classes and starts the runtime once.
class StartUpInProcess : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(StartUp()); }
};

TEST_F(StartUpInProcess, RegistryHoldsThirtyTwoEmptyStrings) {
  ASSERT_EQ(runtime::LiveStringCount(), 32);
  for (int i = 0; i < 32; ++i) {
    EXPECT_EQ(runtime::LiveString(i), GlobalStringSlots[i]) << "slot " << i;
    EXPECT_EQ(runtime::StringLength(runtime::LiveString(i)), 0);
    EXPECT_EQ(runtime::LiveString(i)[0], '\0');
  }
}

TEST_F(StartUpInProcess, EveryControlCarriesTheFormFont) {
  ASSERT_NE(MainWindowHandle, nullptr);
  ASSERT_NE(FormFont, nullptr);
  for (int id : kControlIds) {
    HWND control = GetDlgItem(MainWindowHandle, id);
    ASSERT_NE(control, nullptr) << "control " << id;
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), FormFont)
        << "control " << id;
  }
}

TEST_F(StartUpInProcess, FormFontIsTwelveUnitShiftJisGothic) {
  LOGFONTA font{};
  ASSERT_EQ(GetObjectA(FormFont, sizeof font, &font), static_cast<int>(sizeof font));
  EXPECT_EQ(std::string(font.lfFaceName), ShiftJis(L"ＭＳ Ｐゴシック"));
  EXPECT_EQ(std::string(font.lfFaceName).size(), 15u);
  EXPECT_EQ(font.lfHeight, -12);
  EXPECT_EQ(font.lfWidth, 0);
  EXPECT_EQ(font.lfEscapement, 0);
  EXPECT_EQ(font.lfOrientation, 0);
  EXPECT_EQ(font.lfWeight, 400);
  EXPECT_EQ(font.lfItalic, 0);
  EXPECT_EQ(font.lfUnderline, 0);
  EXPECT_EQ(font.lfStrikeOut, 0);
  EXPECT_EQ(font.lfCharSet, 128);
  EXPECT_EQ(font.lfOutPrecision, 3);
  EXPECT_EQ(font.lfClipPrecision, 2);
  EXPECT_EQ(font.lfQuality, 1);
  EXPECT_EQ(font.lfPitchAndFamily, 0x20);
}

TEST_F(StartUpInProcess, BrushIsTheButtonFaceColourKeptAsANumber) {
  EXPECT_EQ(FaceBrush, static_cast<double>(static_cast<int32_t>(FaceBrush)));
  LOGBRUSH brush{};
  ASSERT_EQ(GetObjectA(NumericToHandle(FaceBrush), sizeof brush, &brush),
            static_cast<int>(sizeof brush));
  EXPECT_EQ(brush.lbStyle, static_cast<UINT>(BS_SOLID));
  EXPECT_EQ(brush.lbColor, GetSysColor(COLOR_BTNFACE));
}

TEST_F(StartUpInProcess, ClassRecordsAreRegisteredAsSet) {
  for (const WNDCLASSEXA* record : {&DialogClassRecord, &FormClassRecord}) {
    SCOPED_TRACE(record->lpszClassName);
    WNDCLASSEXA registered{};
    registered.cbSize = sizeof registered;
    ASSERT_TRUE(GetClassInfoExA(GetModuleHandleA(nullptr), record->lpszClassName, &registered));
    EXPECT_EQ(record->cbSize, sizeof(WNDCLASSEXA));
    EXPECT_EQ(registered.style, static_cast<UINT>(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS));
    EXPECT_EQ(registered.hbrBackground, NumericToHandle(FaceBrush));
    EXPECT_EQ(registered.hCursor, LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));
    EXPECT_EQ(record->hIcon, LoadIconA(nullptr, MAKEINTRESOURCEA(32512)));
    EXPECT_EQ(record->hIconSm, LoadIconA(nullptr, MAKEINTRESOURCEA(32517)));
    EXPECT_EQ(registered.cbClsExtra, 0);
    EXPECT_EQ(registered.cbWndExtra, 0);
    EXPECT_EQ(registered.lpszMenuName, nullptr);
  }
  EXPECT_STREQ(DialogClassRecord.lpszClassName, kDialogClassName);
  EXPECT_STREQ(FormClassRecord.lpszClassName, kFormClassName);
  EXPECT_EQ(FindWindowA(kDialogClassName, nullptr), nullptr);  // registered, never used
}

// Defined last, so it runs last: closing the form deletes the font and the brush and ends
// the loop with the quit message. A watchdog ends a loop that the close did not end.
TEST_F(StartUpInProcess, ClosingEndsTheLoopAndDeletesFontAndBrush) {
  const HGDIOBJ brush = NumericToHandle(FaceBrush);
  PostMessageA(MainWindowHandle, WM_CLOSE, 0, 0);
  EXPECT_TRUE(kivom_test::LoopEndsWithin(kivom_test::kStateWaitMs, MainLoop));
  EXPECT_EQ(LoopResult, 0);
  EXPECT_FALSE(IsWindow(MainWindowHandle));
  LOGFONTA font{};
  EXPECT_EQ(GetObjectA(FormFont, sizeof font, &font), 0);
  LOGBRUSH deleted{};
  EXPECT_EQ(GetObjectA(brush, sizeof deleted, &deleted), 0);
}

// Refuses the creation of windows of the form's class, as a platform out of resources would.
LRESULT CALLBACK RefuseFormWindows(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    const auto* create = reinterpret_cast<const CBT_CREATEWNDA*>(lParam);
    const char* className = create->lpcs->lpszClass;
    if (!IS_INTRESOURCE(className) && std::string(className) == kFormClassName) return 1;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// A second start-up, after the first one's loop has ended: with no main window the loop would
// wait for ever, so start-up must say that none came.
TEST(StartUpWithoutWindow, SaysThatNoWindowCame) {
  const HHOOK hook = SetWindowsHookExA(WH_CBT, RefuseFormWindows, nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  const bool created = StartUp();
  UnhookWindowsHookEx(hook);
  EXPECT_FALSE(created);
}

}  // namespace
