// The process entry: the command line, start-up, the message loop, then exit code 0 (1 when no
// window came, kExitUsage when the command line names no port).
#include <windows.h>

#include "app/command_line_win32.h"
#include "app/form_layout.h"
#include "app/startup.h"

namespace {
constexpr UINT kExitNoWindow = 1;
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
  if (!TakePortArgument(lpCmdLine)) {
    MessageBoxA(nullptr, kUsageText, kMainWindowTitle, MB_OK | MB_ICONERROR);
    ExitProcess(kExitUsage);
  }
  if (!StartUp()) ExitProcess(kExitNoWindow);
  MainLoop();
  ExitProcess(0);
}
