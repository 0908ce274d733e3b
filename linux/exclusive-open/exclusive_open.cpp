// exclusive-open: preloaded into the Wine server, the process that opens every file a Wine
// program asks for, it gives the terminal behind COM1 what Windows gives a serial port opened
// with share mode 0: one holder at a time, Linux's own serial programs included. Wine's server
// opens a device with a plain open() and checks sharing only for regular files.
//
// When the server opens the character device that $WINEPREFIX/dosdevices/com1 leads to:
//  1. flock(LOCK_EX | LOCK_NB), the lock that picocom and pyserial's exclusive=True take;
//  2. the terminal's exclusive flag: refused while another opener holds it (TIOCGEXCL; the
//     kernel lets root open through it, so this is what stops a root kivom); a flag whose
//     holder has gone (no other process has the terminal open) is cleared;
//  3. the UUCP lock file /run/lock/LCK..NAME: refused while the process it names lives, removed
//     when it does not; then written with this server's PID (only checked where /run/lock is
//     not writable);
//  4. TIOCEXCL, so that other opens are refused by the kernel while the port is held.
// A refusal undoes what was taken and fails the open with EACCES, which Wine answers as
// ERROR_ACCESS_DENIED, Windows' answer for a port in use. When the server closes the
// descriptor: TIOCNXCL (a pseudo-terminal keeps the flag while its other side is open), unlock,
// and the lock file goes.
//
// A guest in another program: it acts only in the Wine server, and there only on that one
// device; every other call and file passes through untouched. The server runs one thread.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kServerName[] = "wineserver";  // wineserver, wineserver32, wineserver64
constexpr char kPortLink[] = "/dosdevices/com1";
constexpr char kLockDirectory[] = "/run/lock";
constexpr char kLockPrefix[] = "LCK..";
constexpr char kDevicePrefix[] = "/dev/";
constexpr mode_t kLockFileMode = 0644;
constexpr int kLockFileBytes = 11;  // the PID as ten characters, right-aligned, and a newline
constexpr int kMaxHeld = 4;

using OpenCall = int (*)(const char*, int, ...);
using CloseCall = int (*)(int);

struct RealCalls {
  OpenCall open;
  OpenCall open64;  // the 32-bit server calls this one
  CloseCall close;
};

// A descriptor of the port this server holds, and the lock file it wrote for it.
struct HeldPort {
  int fd;  // -1: a free entry
  char lock_path[PATH_MAX];
};

RealCalls Real;
bool InServer;
HeldPort Held[kMaxHeld];

// Run at load; and by the first intercepted call, when another preloaded library's start-up
// opens or closes a file before this one has started.
__attribute__((constructor)) void Start() {
  if (Real.close != nullptr) return;
  Real.open = reinterpret_cast<OpenCall>(dlsym(RTLD_NEXT, "open"));
  Real.open64 = reinterpret_cast<OpenCall>(dlsym(RTLD_NEXT, "open64"));
  Real.close = reinterpret_cast<CloseCall>(dlsym(RTLD_NEXT, "close"));
  InServer = strncmp(program_invocation_short_name, kServerName, sizeof kServerName - 1) == 0;
  for (HeldPort& held : Held) held.fd = -1;
}

// The device COM1 leads to: its device number and its real path, resolved through every
// symbolic link (a /dev/serial/by-id/ name as well), so that the lock file's name is the same
// whichever name the user gave.
bool FindPort(dev_t* device, char (&real_path)[PATH_MAX]) {
  char link[PATH_MAX];
  const char* prefix = getenv("WINEPREFIX");
  const char* home = getenv("HOME");
  int length =
      prefix != nullptr && prefix[0] != '\0'
          ? snprintf(link, sizeof link, "%s%s", prefix, kPortLink)
          : snprintf(link, sizeof link, "%s/.wine%s", home != nullptr ? home : "", kPortLink);
  if (length < 0 || length >= static_cast<int>(sizeof link)) return false;
  struct stat st = {};
  if (stat(link, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  if (realpath(link, real_path) == nullptr) return false;
  *device = st.st_rdev;
  return true;
}

bool IsDevice(int fd, dev_t device) {
  struct stat st = {};
  return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == device;
}

// Whether a process other than this one has the device open, as far as /proc shows.
bool OthersHold(dev_t device) {
  DIR* processes = opendir("/proc");
  if (processes == nullptr) return true;  // cannot tell: the flag is taken to be held
  bool found = false;
  const pid_t self = getpid();
  for (dirent* process = readdir(processes); process != nullptr && !found;
       process = readdir(processes)) {
    const int pid = atoi(process->d_name);
    if (pid <= 0 || pid == self) continue;
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/fd", pid);
    DIR* fds = opendir(path);
    if (fds == nullptr) continue;
    for (dirent* fd = readdir(fds); fd != nullptr && !found; fd = readdir(fds)) {
      if (fd->d_name[0] == '.') continue;
      char fd_path[sizeof path + sizeof fd->d_name];
      snprintf(fd_path, sizeof fd_path, "/proc/%d/fd/%s", pid, fd->d_name);
      struct stat st = {};
      found = stat(fd_path, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == device;
    }
    closedir(fds);
  }
  closedir(processes);
  return found;
}

// /run/lock/LCK..NAME, NAME being the path below /dev with '/' written as '_'.
void LockPathOf(const char* real_path, char (&lock_path)[PATH_MAX]) {
  const char* name = real_path;
  if (strncmp(name, kDevicePrefix, sizeof kDevicePrefix - 1) == 0) name += sizeof kDevicePrefix - 1;
  while (*name == '/') ++name;
  int length = snprintf(lock_path, sizeof lock_path, "%s/%s", kLockDirectory, kLockPrefix);
  for (const char* c = name; *c != '\0' && length < PATH_MAX - 1; ++c) {
    lock_path[length++] = *c == '/' ? '_' : *c;
  }
  lock_path[length] = '\0';
}

// The PID a lock file names, 0 when it names none.
long LockHolder(const char* lock_path) {
  const int fd = Real.open(lock_path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[32] = {};
  const ssize_t n = read(fd, text, sizeof text - 1);
  Real.close(fd);
  return n > 0 ? strtol(text, nullptr, 10) : 0;
}

// Whether the process lives: one that has ended and waits to be reaped (a zombie, state Z in
// /proc/PID/stat, after the name in parentheses) holds nothing.
bool Alive(long pid) {
  if (pid <= 0 || (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)) return false;
  char path[32];
  snprintf(path, sizeof path, "/proc/%ld/stat", pid);
  const int fd = Real.open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  char stat_line[512] = {};
  const ssize_t n = read(fd, stat_line, sizeof stat_line - 1);
  Real.close(fd);
  const char* name_end = n > 0 ? strrchr(stat_line, ')') : nullptr;
  return name_end == nullptr || (name_end[1] != ' ' || (name_end[2] != 'Z' && name_end[2] != 'X'));
}

enum class LockFile { kRefused, kWritten, kNotWritable };

// Honours a live lock file, removes a stale one and writes this server's own.
LockFile TakeLockFile(const char* lock_path) {
  if (Alive(LockHolder(lock_path))) return LockFile::kRefused;
  unlink(lock_path);  // stale, or none
  const int fd = Real.open(lock_path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kLockFileMode);
  if (fd < 0 && errno == EEXIST) {
    // Taken meanwhile by a live holder; or stale but another user's, which this one may not
    // remove from the sticky folder: it holds nothing, so it is only checked.
    return Alive(LockHolder(lock_path)) ? LockFile::kRefused : LockFile::kNotWritable;
  }
  if (fd < 0) return LockFile::kNotWritable;
  char text[32];  // room for any long, though a PID has at most seven digits
  snprintf(text, sizeof text, "%10ld\n", static_cast<long>(getpid()));
  const bool written = write(fd, text, kLockFileBytes) == kLockFileBytes;
  Real.close(fd);
  if (!written) unlink(lock_path);
  return written ? LockFile::kWritten : LockFile::kNotWritable;
}

// Takes the port for the descriptor just opened; false when it is refused, with nothing left
// taken.
bool TakePort(int fd, dev_t device, const char* real_path) {
  HeldPort* held = nullptr;
  for (HeldPort& entry : Held) {
    if (entry.fd < 0) held = &entry;
  }
  if (held == nullptr) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
  int exclusive = 0;
  if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
    if (OthersHold(device)) return false;
    ioctl(fd, TIOCNXCL);  // left by a holder that has gone
  }
  LockPathOf(real_path, held->lock_path);
  const LockFile lock_file = TakeLockFile(held->lock_path);
  if (lock_file == LockFile::kRefused) return false;
  if (lock_file == LockFile::kNotWritable) held->lock_path[0] = '\0';
  ioctl(fd, TIOCEXCL);
  held->fd = fd;
  return true;
}

int Opened(int fd, const char* path) {
  dev_t device = 0;
  char real_path[PATH_MAX];
  if (fd < 0) {
    // The kernel refuses an ordinary user's open while another opener holds the flag.
    struct stat st = {};
    const int error = errno;
    if (error == EBUSY && FindPort(&device, real_path) && stat(path, &st) == 0 &&
        st.st_rdev == device) {
      errno = EACCES;
    } else {
      errno = error;
    }
    return fd;
  }
  if (!FindPort(&device, real_path) || !IsDevice(fd, device)) return fd;
  if (TakePort(fd, device, real_path)) return fd;
  Real.close(fd);  // the flock goes with the last descriptor
  errno = EACCES;
  return -1;
}

int OpenWith(OpenCall call, const char* path, int flags, mode_t mode) {
  const int error = errno;
  const int fd = call(path, flags, mode);
  if (!InServer) return fd;
  const int result = Opened(fd, path);
  if (result >= 0) errno = error;
  return result;
}

// Whether the call has a third argument, the new file's mode.
bool TakesMode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

}  // namespace

extern "C" {

// glibc declares these with reserved parameter names, which this file may not use.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
__attribute__((visibility("default"))) int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  // The analyzer does not see va_start in a function named like the C library's open.
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
  const mode_t mode = TakesMode(flags) ? va_arg(args, mode_t) : 0;
  va_end(args);
  Start();
  return OpenWith(Real.open, path, flags, mode);
}

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
__attribute__((visibility("default"))) int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  // The analyzer does not see va_start in a function named like the C library's open.
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
  const mode_t mode = TakesMode(flags) ? va_arg(args, mode_t) : 0;
  va_end(args);
  Start();
  return OpenWith(Real.open64, path, flags, mode);
}

__attribute__((visibility("default"))) int close(int fd) {
  Start();
  if (InServer && fd >= 0) {
    for (HeldPort& held : Held) {
      if (held.fd != fd) continue;
      ioctl(fd, TIOCNXCL);
      flock(fd, LOCK_UN);
      if (held.lock_path[0] != '\0' && LockHolder(held.lock_path) == getpid()) {
        unlink(held.lock_path);
      }
      held.fd = -1;
    }
  }
  return Real.close(fd);
}

}  // extern "C"
