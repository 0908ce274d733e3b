// The running form as the platform shows it to a user: window, controls, texts, closing.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

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
    {TransmitEdit, "Edit", WS_EX_CLIENTEDGE, kChild, 95, 65, 239, 83, L""},
    {ReceiveEdit, "Edit", WS_EX_CLIENTEDGE, kChild, 95, 188, 238, 76, L""},
    {TransmitLabel, "Static", 0, kChild, 94, 45, 61, 20, L"送信文字"},
    {ReceiveLabel, "Static", 0, kChild, 95, 169, 48, 19, L"受信文字"},
    {TitleLabel, "Static", 0, kChild, 84, 7, 260, 31, L"簡易通信テストプログラム API"},
    {StartButton, "Button", 0, kChild, 367, 284, 84, 34, L"通信テスト開始"},
};

class FormWindow : public kivom_test::SharedProgram {
 protected:
  static void TearDownTestSuite() { kivom_test::Discard(program); }
};

TEST_F(FormWindow, MainWindowHasTitleSizeAndClass) {
  ASSERT_NE(program.form, nullptr);
  EXPECT_EQ(kivom_test::Text(program.form), "kivom");
  RECT outer{};
  GetWindowRect(program.form, &outer);
  EXPECT_EQ(outer.right - outer.left, 480);
  EXPECT_EQ(outer.bottom - outer.top, 360);
  // The client area the Linux build's window takes as its size.
  RECT client{};
  GetClientRect(program.form, &client);
  EXPECT_EQ(client.right, kClientWidth);
  EXPECT_EQ(client.bottom, kClientHeight);
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
  for (const WPARAM command : {MAKEWPARAM(StartButton, BN_SETFOCUS),
                               MAKEWPARAM(TransmitEdit, BN_CLICKED), MAKEWPARAM(StartButton, 1)}) {
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

// The file says what it is, as Explorer's Properties show it; its manifest asks for no DPI
// awareness and no Common Controls 6, so the form keeps its pixels and classic controls.
TEST(ProgramFile, CarriesItsVersionAndManifest) {
  const std::string path = kivom_test::ProgramPath();
  DWORD unused = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &unused);
  ASSERT_GT(size, 0u) << "no version resource in " << path;
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  char numbers[32];
  std::snprintf(numbers, sizeof numbers, "%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS));
  EXPECT_STREQ(numbers, KIVOM_VERSION);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);

  const auto text = [&](const char* name) -> std::string {
    const std::string key = std::string("\\StringFileInfo\\040904b0\\") + name;
    char* value = nullptr;
    UINT chars = 0;
    if (!VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &chars)) {
      return "(missing)";
    }
    return value;
  };
  EXPECT_EQ(text("FileVersion"), KIVOM_VERSION);
  EXPECT_EQ(text("ProductVersion"), KIVOM_VERSION);
  EXPECT_EQ(text("ProductName"), "kivom");
  EXPECT_EQ(text("OriginalFilename"), "kivom.exe");
  EXPECT_EQ(text("LegalCopyright"), "Copyright (c) 2026 the kivom authors");
  EXPECT_NE(text("FileDescription").find("serial link"), std::string::npos);

  HMODULE file = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(file, nullptr);
  HRSRC found = FindResourceA(file, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_NE(found, nullptr) << "no manifest";
  const std::string manifest(static_cast<const char*>(LockResource(LoadResource(file, found))),
                             SizeofResource(file, found));
  FreeLibrary(file);
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos)
      << "Windows 10 and 11 not named";
  EXPECT_EQ(manifest.find("<dpiAware"), std::string::npos);
  EXPECT_EQ(manifest.find("<dependency"), std::string::npos);
}

// Wine draws the caption's minimise, maximise and close buttons as glyphs of the Marlett
// face; where the prefix lacks it, they come out as the letters "0 1 r".
TEST(CaptionButtons, TheirSymbolFaceIsThere) {
  HDC dc = CreateCompatibleDC(nullptr);
  ASSERT_NE(dc, nullptr);
  HFONT marlett =
      CreateFontW(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SYMBOL_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Marlett");
  HGDIOBJ previous = SelectObject(dc, marlett);
  wchar_t face[LF_FACESIZE] = {};
  GetTextFaceW(dc, LF_FACESIZE, face);
  SelectObject(dc, previous);
  DeleteObject(marlett);
  DeleteDC(dc);
  EXPECT_STREQ(face, L"Marlett") << "the font mapper chose another face for Marlett";
}

}  // namespace
