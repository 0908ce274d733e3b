// The process entry: start-up, the message loop, then exit code 0.
#include <windows.h>

#include "app/startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  StartUp();
  MainLoop();
  ExitProcess(0);
}
