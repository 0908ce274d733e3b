// kivom-probe: answers questions about a running kivom window from another process, for
// scripts that drive the program with real mouse and keyboard input.
//   kivom-probe center ID   screen coordinates of the centre of control ID: "X Y"
//   kivom-probe text ID     the text of control ID, as its bytes
//   kivom-probe utf8 ID     the text of control ID as the control holds it (Unicode), in UTF-8
//   kivom-probe focus ID    the id of the control that has the keyboard focus (0: none),
//                           once control ID exists
//   kivom-probe set ID TEXT gives control ID the text TEXT (bytes)
//   kivom-probe wset ID TEXT gives control ID the text TEXT as Unicode, as an assistive tool
//                           does, with no code page between
//   kivom-probe press ID    posts the click of button ID to the form and returns at once
//   kivom-probe message ID  the text of the message box kivom shows (ID is any control of the
//                           form, which stays while the box is open), once one is shown
//   kivom-probe dismiss ID  presses the OK button of that message box
// It waits up to 60 seconds for the control. Exit code 2 on bad arguments, 1 when the
// window or the control cannot be found.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/main_form.h"

namespace {

constexpr DWORD kWaitMs = 60000;
constexpr DWORD kPollMs = 50;
constexpr int kTextLimit = 4096;

// The form is listed from the start of its creation, before its controls exist: wait for
// the control itself.
HWND WaitForControl(int id) {
  const DWORD start = GetTickCount();
  for (;;) {
    HWND form = FindWindowA(kFormClassName, kMainWindowTitle);
    if (HWND control = form != nullptr ? GetDlgItem(form, id) : nullptr) return control;
    if (GetTickCount() - start > kWaitMs) return nullptr;
    Sleep(kPollMs);
  }
}

int Usage() {
  std::fputs(
      "usage: kivom-probe center|text|utf8|focus|press|message|dismiss CONTROL-ID\n"
      "       kivom-probe set|wset CONTROL-ID TEXT\n",
      stderr);
  return 2;
}

struct BoxSearch {
  DWORD process;
  HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM search_address) {
  auto* search = reinterpret_cast<BoxSearch*>(search_address);
  char class_name[16] = {};
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  GetClassNameA(window, class_name, sizeof class_name);
  if (process != search->process || std::strcmp(class_name, "#32770") != 0 ||
      !IsWindowVisible(window)) {
    return TRUE;
  }
  search->box = window;
  return FALSE;
}

// The message box of the form's process, once it is shown.
HWND WaitForMessageBox(HWND control) {
  BoxSearch search{};
  GetWindowThreadProcessId(control, &search.process);
  const DWORD start = GetTickCount();
  while (EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search)) && search.box == nullptr) {
    if (GetTickCount() - start > kWaitMs) return nullptr;
    Sleep(kPollMs);
  }
  return search.box;
}

constexpr int kMessageBoxTextId = 0xFFFF;  // the box's static text

}  // namespace

int main(int argc, char** argv) {
  const bool takesText =
      argc == 4 && (std::strcmp(argv[1], "set") == 0 || std::strcmp(argv[1], "wset") == 0);
  if (argc != 3 && !takesText) return Usage();
  char* end = nullptr;
  const long id = std::strtol(argv[2], &end, 10);
  if (*end != '\0' || id <= 0 || id > 0xFFFF) return Usage();

  HWND control = WaitForControl(static_cast<int>(id));
  if (control == nullptr) {
    std::fprintf(stderr, "kivom-probe: no control %ld in a window \"kivom\"\n", id);
    return 1;
  }

  if (std::strcmp(argv[1], "center") == 0) {
    RECT bounds{};
    GetWindowRect(control, &bounds);
    std::printf("%ld %ld\n", (bounds.left + bounds.right) / 2, (bounds.top + bounds.bottom) / 2);
    return 0;
  }
  if (std::strcmp(argv[1], "text") == 0) {
    static char text[kTextLimit];
    const auto length =
        SendMessageA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    std::fwrite(text, 1, static_cast<size_t>(length), stdout);
    return 0;
  }
  if (std::strcmp(argv[1], "utf8") == 0) {
    static wchar_t wide[kTextLimit];
    static char text[kTextLimit * 3];
    // Sent, not GetWindowTextW: that one reads no control of another process.
    const auto length = static_cast<int>(
        SendMessageW(control, WM_GETTEXT, kTextLimit, reinterpret_cast<LPARAM>(wide)));
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, wide, length, text, sizeof text, nullptr, nullptr);
    std::fwrite(text, 1, static_cast<size_t>(bytes), stdout);
    return 0;
  }
  if (std::strcmp(argv[1], "focus") == 0) {
    // The focus of the form's thread, which is the one that takes the keys.
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(control, nullptr), &thread);
    std::printf("%d\n", thread.hwndFocus != nullptr ? GetDlgCtrlID(thread.hwndFocus) : 0);
    return 0;
  }
  if (std::strcmp(argv[1], "set") == 0) {
    SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
    return 0;
  }
  if (std::strcmp(argv[1], "wset") == 0) {
    // The arguments as Windows got them, before any code page: main's are already converted.
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr || count != 4) return Usage();
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide[3]));
    LocalFree(wide);
    return 0;
  }
  if (std::strcmp(argv[1], "press") == 0) {
    // Posted, as the button itself would send it: the exchange runs inside the form's handling.
    PostMessageA(GetParent(control), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(control));
    return 0;
  }
  if (std::strcmp(argv[1], "message") == 0 || std::strcmp(argv[1], "dismiss") == 0) {
    HWND box = WaitForMessageBox(control);
    if (box == nullptr) {
      std::fputs("kivom-probe: no message box of kivom is shown\n", stderr);
      return 1;
    }
    if (argv[1][0] == 'd') {
      PostMessageA(box, WM_COMMAND, IDOK, 0);
      return 0;
    }
    static char text[kTextLimit];
    const int length = GetDlgItemTextA(box, kMessageBoxTextId, text, sizeof text);
    std::fwrite(text, 1, static_cast<size_t>(length), stdout);
    return 0;
  }
  return Usage();
}
