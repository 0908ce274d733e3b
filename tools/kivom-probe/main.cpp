// kivom-probe: answers questions about a running kivom window from another process, for
// scripts that drive the program with real mouse and keyboard input.
//   kivom-probe center ID   screen coordinates of the centre of control ID: "X Y"
//   kivom-probe text ID     the text of control ID, as its bytes
//   kivom-probe focus ID    the id of the control that has the keyboard focus (0: none),
//                           once control ID exists
// It waits up to 20 seconds for the control. Exit code 2 on bad arguments, 1 when the
// window or the control cannot be found.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/main_form.h"

namespace {

constexpr DWORD kWaitMs = 20000;
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
  std::fputs("usage: kivom-probe center|text|focus CONTROL-ID\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Usage();
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
  if (std::strcmp(argv[1], "focus") == 0) {
    // The focus of the form's thread, which is the one that takes the keys.
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(control, nullptr), &thread);
    std::printf("%d\n", thread.hwndFocus != nullptr ? GetDlgCtrlID(thread.hwndFocus) : 0);
    return 0;
  }
  return Usage();
}
