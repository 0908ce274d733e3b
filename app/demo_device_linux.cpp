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

// The echo device holds its terminal and nothing else of what kivom was given: a descriptor
// kivom inherited (a device, a pipe a caller waits on) must not stay open in it. Its standard
// streams lead nowhere.
void KeepOnly(int master) {
  const int nowhere = open("/dev/null", O_RDWR | O_CLOEXEC);
  for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
    if (nowhere >= 0 && nowhere != stream && stream != master) dup2(nowhere, stream);
  }
  const unsigned first = STDERR_FILENO + 1;
  const auto own = static_cast<unsigned>(master);
  if (own < first) {
    close_range(first, ~0U, 0);
    return;
  }
  if (own > first) close_range(first, own - 1, 0);
  close_range(own + 1, ~0U, 0);
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
    KeepOnly(master);
    Echo(master, parent);
  }
  close(master);  // the child's copy keeps the terminal
  return true;
}
