#include "app/main_form.h"

#include "app/globals.h"
#include "runtime/strings.h"
#include "serial/serial_exchange.h"

namespace {

// The window class of each kind of control.
const char* ClassName(ControlKind kind) {
  switch (kind) {
    case ControlKind::kEdit:
      return "EDIT";
    case ControlKind::kLabel:
      return "STATIC";
    case ControlKind::kButton:
      return "BUTTON";
  }
  return "";
}

LRESULT OnCreate(HWND window) {
  MainWindowHandle = window;  // before any control exists
  for (const ControlSpec& control : kControls) {
    // Not kept: the control is found by its id whenever it is needed.
    (void)CreateWindowExA(control.exStyle, ClassName(control.kind), control.caption, kChildStyle,
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
