// window-shown: runs a program and prints the milliseconds from its start to the moment the X
// server maps its top-level window with the given title, as the X server itself reports the map
// (no polling), then leaves the program running and prints its pid.
//   window-shown TITLE PROGRAM ARGS...   prints "MS PID"
// Without a window manager a top-level window is a child of the root window, so its map is
// seen by watching the root's children.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kWaitSeconds = 30;

double NowMs() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

bool Titled(Display* display, Window window, const char* title) {
  XTextProperty name = {};
  if (XGetWMName(display, window, &name) == 0 || name.value == nullptr) return false;
  const bool same = std::strcmp(reinterpret_cast<const char*>(name.value), title) == 0;
  XFree(name.value);
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: window-shown TITLE PROGRAM ARGS...\n", stderr);
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fputs("window-shown: no display\n", stderr);
    return 1;
  }
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, False);
  const double start = NowMs();
  const pid_t child = fork();
  if (child == 0) {
    close(ConnectionNumber(display));
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  while (NowMs() - start < kWaitSeconds * 1000.0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == MapNotify && Titled(display, event.xmap.window, argv[1])) {
      std::printf("%.1f %d\n", NowMs() - start, static_cast<int>(child));
      return 0;
    }
  }
  std::fprintf(stderr, "window-shown: no window '%s' within %d s\n", argv[1], kWaitSeconds);
  return 1;
}
