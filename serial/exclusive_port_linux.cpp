#include "serial/exclusive_port_linux.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kLockDirectory[] = "/run/lock";
constexpr char kLockPrefix[] = "LCK..";
constexpr char kDevicePrefix[] = "/dev/";
constexpr mode_t kLockFileMode = 0644;
constexpr int kLockFileBytes = 11;  // the PID as ten characters, right-aligned, and a newline

// The PID a lock file names, 0 when it names none.
pid_t LockFilePid(const char* lockPath) {
  const int fd = open(lockPath, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[32] = {};
  const ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  const long pid = n > 0 ? strtol(text, nullptr, 10) : 0;
  return pid > 0 && pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

enum class LockFile { kRefused, kWritten, kNotWritable };

// Honours a live lock file, removes a stale one and writes this program's own.
LockFile TakeLockFile(const char* lockPath) {
  if (LockHolder(lockPath) != 0) return LockFile::kRefused;
  unlink(lockPath);  // stale, or none
  const int fd = open(lockPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kLockFileMode);
  if (fd < 0 && errno == EEXIST) {
    // Taken meanwhile by a live holder; or stale but another user's, which this one may not
    // remove from the sticky folder: it holds nothing, so it is only checked.
    return LockHolder(lockPath) != 0 ? LockFile::kRefused : LockFile::kNotWritable;
  }
  if (fd < 0) return LockFile::kNotWritable;
  char text[32];  // room for any PID
  snprintf(text, sizeof text, "%10ld\n", static_cast<long>(getpid()));
  const bool written = write(fd, text, kLockFileBytes) == kLockFileBytes;
  close(fd);
  if (!written) unlink(lockPath);
  return written ? LockFile::kWritten : LockFile::kNotWritable;
}

}  // namespace

void LockPathOf(const char* device, char (&lockPath)[PATH_MAX]) {
  char real[PATH_MAX];
  const char* name = realpath(device, real) != nullptr ? real : device;
  if (strncmp(name, kDevicePrefix, sizeof kDevicePrefix - 1) == 0) name += sizeof kDevicePrefix - 1;
  while (*name == '/') ++name;
  int length = snprintf(lockPath, sizeof lockPath, "%s/%s", kLockDirectory, kLockPrefix);
  for (const char* c = name; *c != '\0' && length < PATH_MAX - 1; ++c) {
    lockPath[length++] = *c == '/' ? '_' : *c;
  }
  lockPath[length] = '\0';
}

pid_t LockHolder(const char* lockPath) {
  const pid_t pid = LockFilePid(lockPath);
  return Alive(pid) ? pid : 0;
}

bool Alive(pid_t pid) {
  if (pid <= 0 || (kill(pid, 0) != 0 && errno != EPERM)) return false;
  char path[32];
  snprintf(path, sizeof path, "/proc/%ld/stat", static_cast<long>(pid));
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  char statLine[512] = {};
  const ssize_t n = read(fd, statLine, sizeof statLine - 1);
  close(fd);
  // The state follows the name in parentheses: Z and X have ended.
  const char* nameEnd = n > 0 ? strrchr(statLine, ')') : nullptr;
  return nameEnd == nullptr || nameEnd[1] != ' ' || (nameEnd[2] != 'Z' && nameEnd[2] != 'X');
}

int Holders(dev_t device, pid_t* pids, int most) {
  DIR* processes = opendir("/proc");
  if (processes == nullptr) return -1;
  int found = 0;
  const pid_t self = getpid();
  for (dirent* process = readdir(processes); process != nullptr && found < most;
       process = readdir(processes)) {
    const int pid = atoi(process->d_name);
    if (pid <= 0 || pid == self) continue;
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/fd", pid);
    DIR* fds = opendir(path);
    if (fds == nullptr) continue;
    bool holds = false;
    for (dirent* fd = readdir(fds); fd != nullptr && !holds; fd = readdir(fds)) {
      if (fd->d_name[0] == '.') continue;
      struct stat st = {};
      holds = fstatat(dirfd(fds), fd->d_name, &st, 0) == 0 && S_ISCHR(st.st_mode) &&
              st.st_rdev == device;
    }
    closedir(fds);
    if (holds) pids[found++] = pid;
  }
  closedir(processes);
  return found;
}

bool TakePort(int fd, const char* device, HeldPort& held) {
  held.lockPath[0] = '\0';
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
  int exclusive = 0;
  struct stat st = {};
  if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
    pid_t holder = 0;
    // A holder that cannot be ruled out is taken to hold the flag.
    if (fstat(fd, &st) != 0 || Holders(st.st_rdev, &holder, 1) != 0) return false;
    ioctl(fd, TIOCNXCL);  // left by a holder that has gone
  }
  LockPathOf(device, held.lockPath);
  const LockFile lockFile = TakeLockFile(held.lockPath);
  if (lockFile != LockFile::kWritten) held.lockPath[0] = '\0';
  if (lockFile == LockFile::kRefused) return false;
  ioctl(fd, TIOCEXCL);
  return true;
}

void GivePortBack(int fd, HeldPort& held) {
  ioctl(fd, TIOCNXCL);  // a pseudo-terminal keeps the flag while its other side is open
  flock(fd, LOCK_UN);
  if (held.lockPath[0] != '\0' && LockFilePid(held.lockPath) == getpid()) unlink(held.lockPath);
  held.lockPath[0] = '\0';
}
