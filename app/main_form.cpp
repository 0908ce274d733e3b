#include "app/main_form.h"

#include "app/globals.h"
#include "runtime/strings.h"
#include "serial/serial_exchange.h"

namespace {

constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE;  // no class-specific bits, no tab stop

struct ControlSpec {
  int id;
  const char* className;
  DWORD exStyle;
  DWORD style;
  int x, y, width, height;  // client-area pixels of the form
  const char* caption;      // text at creation
  const char* text;         // text set by FormLoad
};

// Shift-JIS texts of the form.
constexpr char kTransmitLabelText[] = "\x91\x97\x90M\x95\xb6\x8e\x9a";  // 送信文字
constexpr char kReceiveLabelText[] = "\x8e\xf3\x90M\x95\xb6\x8e\x9a";   // 受信文字
constexpr char kTitleLabelText[] =  // 簡易通信テストプログラム API
    "\x8a\xc8\x88\xd5\x92\xca\x90M\x83"
    "e\x83X\x83g\x83v\x83\x8d\x83O\x83\x89\x83\x80 API";
constexpr char kStartButtonText[] =
    "\x92\xca\x90M\x83"
    "e\x83X\x83g\x8aJ\x8en";  // 通信テスト開始

constexpr ControlSpec kControls[] = {
    {TransmitEdit, "EDIT", WS_EX_CLIENTEDGE, kChildStyle, 95, 65, 239, 83, "", ""},
    {ReceiveEdit, "EDIT", WS_EX_CLIENTEDGE, kChildStyle, 95, 188, 238, 76, "", ""},
    {TransmitLabel, "STATIC", 0, kChildStyle, 94, 45, 61, 20, "Text1", kTransmitLabelText},
    {ReceiveLabel, "STATIC", 0, kChildStyle, 95, 169, 48, 19, "Text2", kReceiveLabelText},
    {TitleLabel, "STATIC", 0, kChildStyle, 84, 7, 260, 31, "Text3", kTitleLabelText},
    {StartButton, "BUTTON", 0, kChildStyle, 367, 284, 84, 34, "Button1", kStartButtonText},
};

LRESULT OnCreate(HWND window) {
  MainWindowHandle = window;  // before any control exists
  for (const ControlSpec& control : kControls) {
    // Not kept: the control is found by its id whenever it is needed.
    (void)CreateWindowExA(control.exStyle, control.className, control.caption, control.style,
                          control.x, control.y, control.width, control.height,
                          MainWindowHandle,                              // parent
                          reinterpret_cast<HMENU>(INT_PTR{control.id}),  // the control id
                          GetModuleHandleA(nullptr),
                          nullptr);  // no creation parameter
    SendMessageA(GetDlgItem(MainWindowHandle, control.id), WM_SETFONT,
                 reinterpret_cast<WPARAM>(FormFont), 0);  // no redraw
  }
  FormLoad();
  return 0;
}

LRESULT OnCommand(WPARAM wParam) {
  const auto command = static_cast<uint32_t>(wParam);
  if (runtime::LowWord(command) == StartButton && runtime::HighWord(command) == BN_CLICKED) {
    SerialTestExchange();
  }
  return 0;
}

LRESULT OnClose() {
  DestroyWindow(MainWindowHandle);
  return 0;
}

LRESULT OnDestroy() {
  FormUnload();
  return 0;
}

}  // namespace

void FormLoad() {
  for (const ControlSpec& control : kControls) {
    SetWindowTextA(GetDlgItem(MainWindowHandle, control.id), control.text);
  }
}

void FormUnload() {
  DeleteObject(FormFont);
  DeleteObject(NumericToHandle(FaceBrush));
  PostQuitMessage(0);
}

LRESULT CALLBACK MainFormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(window);
    case WM_COMMAND:
      return OnCommand(wParam);
    case WM_CLOSE:
      return OnClose();
    case WM_DESTROY:
      return OnDestroy();
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}
