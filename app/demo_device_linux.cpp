#include "app/demo_device_linux.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr char kRequestEnd = '\r';
constexpr int kPollMs = 200;
constexpr long kIdleNs = 20 * 1000 * 1000;  // while nobody holds the terminal

// Reads requests from the master side and writes each back, its carriage return included.
[[noreturn]] void Echo(int master, pid_t parent) {
  char request[4096];
  size_t held = 0;
  for (;;) {
    if (getppid() != parent) _exit(0);
    pollfd side = {master, POLLIN, 0};
    if (poll(&side, 1, kPollMs) <= 0) continue;
    const ssize_t n =
        (side.revents & POLLIN) != 0 ? read(master, request + held, sizeof request - held) : -1;
    if (n <= 0) {
      // The terminal is closed between exchanges; what it had not finished is dropped.
      held = 0;
      const timespec idle = {0, kIdleNs};
      nanosleep(&idle, nullptr);
      continue;
    }
    held += static_cast<size_t>(n);
    while (void* end = memchr(request, kRequestEnd, held)) {
      const size_t length = static_cast<size_t>(static_cast<char*>(end) - request) + 1;
      if (write(master, request, length) < 0 && errno != EAGAIN) break;
      memmove(request, request + length, held - length);
      held -= length;
    }
    if (held == sizeof request) held = 0;  // no request is this long: start afresh
  }
}

}  // namespace

bool StartDemoDevice(std::string& path, std::string& why) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  const char* name =
      master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : nullptr;
  if (name == nullptr) {
    why = std::string("no pseudo-terminal for the echo device: ") + strerror(errno);
    if (master >= 0) close(master);
    return false;
  }
  path = name;
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child < 0) {
    why = std::string("cannot start the echo device: ") + strerror(errno);
    close(master);
    return false;
  }
  if (child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    Echo(master, parent);
  }
  close(master);  // the child's copy keeps the terminal
  return true;
}
