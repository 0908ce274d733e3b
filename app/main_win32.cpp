// The process entry: start-up, the message loop, then exit code 0 (1 when no window came).
#include <windows.h>

#include "app/startup.h"

namespace {
constexpr UINT kExitNoWindow = 1;
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (!StartUp()) ExitProcess(kExitNoWindow);
  MainLoop();
  ExitProcess(0);
}
