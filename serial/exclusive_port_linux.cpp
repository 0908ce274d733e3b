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
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kLockDirectory[] = "/run/lock";
constexpr char kLockPrefix[] = "LCK..";
constexpr char kDevicePrefix[] = "/dev/";
constexpr mode_t kLockFileMode = 0644;
constexpr int kLockFileBytes = 11;  // the PID as ten characters, right-aligned, and a newline
constexpr int kLockTextMost = 32;   // longer than any lock file in that form
// A stale lock that comes back between attempts is someone else's retry loop: give up then.
constexpr int kLockAttempts = 3;

enum class LockKind { kNone, kLive, kStale, kNotALockFile };

struct LockFileSeen {
  LockKind kind;
  pid_t pid;
  dev_t device;  // the file's identity, to tell it from one written in its place
  ino_t inode;
  const char* what;  // for kNotALockFile: what stands there instead
};

// The PID of a lock file's text: spaces, the digits, a newline at most. 0 when the text is not
// in that form.
pid_t ParseLockText(const char* text, ssize_t length) {
  ssize_t at = 0;
  while (at < length && text[at] == ' ') ++at;
  long pid = 0;
  const ssize_t digits = at;
  while (at < length && text[at] >= '0' && text[at] <= '9' && pid <= INT_MAX) {
    pid = pid * 10 + (text[at++] - '0');
  }
  if (at == digits || pid <= 0 || pid > INT_MAX) return 0;
  if (at < length && text[at] == '\n') ++at;
  return at == length ? static_cast<pid_t>(pid) : 0;
}

// What stands at a lock path, read without following a link and without blocking (a FIFO
// placed there must not hang the program); only a regular file is opened.
LockFileSeen LockFileAt(const char* lockPath) {
  LockFileSeen seen = {LockKind::kNotALockFile, 0, 0, 0, "unreadable"};
  struct stat st = {};
  if (lstat(lockPath, &st) != 0) {
    if (errno == ENOENT) seen.kind = LockKind::kNone;
    return seen;
  }
  if (!S_ISREG(st.st_mode)) {
    seen.what = S_ISLNK(st.st_mode)    ? "a symbolic link"
                : S_ISFIFO(st.st_mode) ? "a FIFO"
                : S_ISDIR(st.st_mode)  ? "a folder"
                                       : "a device or socket";
    return seen;
  }
  const int fd = open(lockPath, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) seen.kind = LockKind::kNone;
    return seen;
  }
  char text[kLockTextMost] = {};
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const ssize_t n = regular ? read(fd, text, sizeof text) : -1;
  close(fd);
  seen.pid = n > 0 && n < kLockTextMost ? ParseLockText(text, n) : 0;
  if (seen.pid == 0) {
    seen.what = regular ? "a file not in the lock format" : "not a regular file";
    return seen;
  }
  seen.kind = Alive(seen.pid) ? LockKind::kLive : LockKind::kStale;
  seen.device = st.st_dev;
  seen.inode = st.st_ino;
  return seen;
}

// Said once a run: the user may want to remove it, kivom never does.
void SayNotALockFile(const char* lockPath, const char* what) {
  static bool said = false;
  if (said) return;
  said = true;
  fprintf(stderr, "kivom: %s is %s, not a lock file: kivom leaves it alone and writes none\n",
          lockPath, what);
}

// This program's lock file under a name of its own, to be linked into place whole.
bool WriteOwnLock(const char* path, pid_t owner) {
  unlink(path);  // left by an earlier run with the same PID: the name is this PID's
  const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kLockFileMode);
  if (fd < 0) return false;
  char text[kLockTextMost];
  snprintf(text, sizeof text, "%10ld\n", static_cast<long>(owner));
  const bool written =
      fchmod(fd, kLockFileMode) == 0 && write(fd, text, kLockFileBytes) == kLockFileBytes;
  close(fd);
  if (!written) unlink(path);
  return written;
}

// Moves a stale lock aside, then removes it only if what was moved is the file found stale; a
// lock written in its place meanwhile is put back. True when the place is free.
bool RemoveStaleLock(const char* lockPath, const LockFileSeen& stale, const char* aside) {
  if (rename(lockPath, aside) != 0) return errno == ENOENT;  // another user's may not be moved
  const LockFileSeen moved = LockFileAt(aside);
  const bool same =
      moved.kind == LockKind::kStale && moved.device == stale.device && moved.inode == stale.inode;
  if (!same) link(aside, lockPath);
  unlink(aside);
  return same;
}

enum class LockFile { kWritten, kRefused, kNotWritten };

// Honours a live lock file, replaces a stale one and writes this program's own.
LockFile WriteLockFile(const HeldPort& held) {
  char own[PATH_MAX];
  char aside[PATH_MAX];
  snprintf(own, sizeof own, "%s/LTMP.%ld", kLockDirectory, static_cast<long>(held.owner));
  snprintf(aside, sizeof aside, "%s/LTMP.%ld.stale", kLockDirectory, static_cast<long>(held.owner));
  if (!WriteOwnLock(own, held.owner)) return LockFile::kNotWritten;
  LockFile result = LockFile::kNotWritten;
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    if (link(own, held.lockPath) == 0) {
      result = LockFile::kWritten;
      break;
    }
    if (errno != EEXIST) break;
    const LockFileSeen seen = LockFileAt(held.lockPath);
    if (seen.kind == LockKind::kLive) {
      result = LockFile::kRefused;
      break;
    }
    if (seen.kind == LockKind::kNotALockFile) {
      SayNotALockFile(held.lockPath, seen.what);
      break;
    }
    // Stale, but another user's in the sticky folder: it holds nothing, so it is only checked.
    if (seen.kind == LockKind::kStale && !RemoveStaleLock(held.lockPath, seen, aside)) {
      if (LockHolder(held.lockPath) != 0) result = LockFile::kRefused;
      break;
    }
  }
  unlink(own);
  return result;
}

// Whether a program other than this one may hold the device of `fd`. A process whose
// descriptors cannot be read counts as one where `unreadableCounts`.
bool OthersMayHold(int fd, bool unreadableCounts) {
  struct stat st = {};
  if (fstat(fd, &st) != 0) return true;
  pid_t holder = 0;
  int unreadable = 0;
  const int found = Holders(st.st_rdev, &holder, 1, unreadableCounts ? &unreadable : nullptr);
  return found != 0 || unreadable != 0;
}

// What this program and its keeper do to give the port back.
void ReleasePort(int fd, const HeldPort& held) {
  if (held.rs485Changed) ioctl(fd, TIOCSRS485, &held.rs485Found);
  // A pseudo-terminal keeps the flag while its other side is open. Only a privileged program
  // passes the flag to open the device meanwhile, and may have set it for itself then: root
  // looks for one; an ordinary user could see no such program in /proc, so does not look.
  if (held.exclusiveSet && !(geteuid() == 0 && OthersMayHold(fd, false))) ioctl(fd, TIOCNXCL);
  flock(fd, LOCK_UN);
  if (held.lockWritten && LockFileAt(held.lockPath).pid == held.owner) unlink(held.lockPath);
}

// The keeper's end of the channel is its only descriptor.
int KeeperChannel = -1;  // this program's end; -1 without a keeper
constexpr char kGivenBack = 1;

// A copy of the port and what to undo, or a word (kGivenBack): a message of its own each.
ssize_t ReceiveFromProgram(int channel, HeldPort& held, int& fd) {
  iovec part = {&held, sizeof held};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message = {};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t n = recvmsg(channel, &message, MSG_CMSG_CLOEXEC);
  const cmsghdr* passed = n > 0 ? CMSG_FIRSTHDR(&message) : nullptr;
  if (passed != nullptr && passed->cmsg_level == SOL_SOCKET && passed->cmsg_type == SCM_RIGHTS) {
    memcpy(&fd, CMSG_DATA(passed), sizeof fd);
  }
  return n;
}

[[noreturn]] void KeepPort(int channel) {
  // The signals that end the program gracefully are the program's to answer.
  signal(SIGTERM, SIG_IGN);
  signal(SIGINT, SIG_IGN);
  signal(SIGHUP, SIG_IGN);
  const auto own = static_cast<unsigned>(channel);
  if (own > 0) close_range(0, own - 1, 0);
  close_range(own + 1, ~0U, 0);
  int port = -1;
  HeldPort held = {};
  for (;;) {
    HeldPort got = {};
    int fd = -1;
    const ssize_t n = ReceiveFromProgram(channel, got, fd);
    if (n < 0 && errno == EINTR) continue;
    if (n == static_cast<ssize_t>(sizeof got) && fd >= 0) {
      if (port >= 0) close(port);
      port = fd;
      held = got;
    } else if (n == 1) {  // given back by the program itself
      if (port >= 0) close(port);
      port = -1;
      send(channel, &kGivenBack, 1, MSG_NOSIGNAL);
    } else if (n <= 0) {  // the program has ended
      if (port >= 0) ReleasePort(port, held);
      _exit(0);  // the port's close, the last one after the program's death, drops the lines
    }
  }
}

// The keeper lets go of its copy, so that this program's close is the last.
void StopGuard(HeldPort& held) {
  if (!held.guarded) return;
  held.guarded = false;
  char word = 0;
  if (send(KeeperChannel, &kGivenBack, 1, MSG_NOSIGNAL) != 1) return;
  while (recv(KeeperChannel, &word, 1, 0) < 0 && errno == EINTR) {
  }
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
  const LockFileSeen seen = LockFileAt(lockPath);
  return seen.kind == LockKind::kLive ? seen.pid : 0;
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

int Holders(dev_t device, pid_t* pids, int most, int* unreadable) {
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
    if (fds == nullptr) {
      if (unreadable != nullptr && errno == EACCES) ++*unreadable;
      continue;
    }
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

bool PortLooksFree(const char* device, HeldPort& held) {
  memset(&held, 0, sizeof held);
  held.owner = getpid();
  LockPathOf(device, held.lockPath);
  const LockFileSeen seen = LockFileAt(held.lockPath);
  if (seen.kind == LockKind::kLive) return false;
  if (seen.kind == LockKind::kNotALockFile) SayNotALockFile(held.lockPath, seen.what);
  // A program that opened the device without any lock shares the line all the same.
  struct stat st = {};
  pid_t holder = 0;
  return stat(device, &st) != 0 || !S_ISCHR(st.st_mode) || Holders(st.st_rdev, &holder, 1) <= 0;
}

bool ClaimPort(int fd) {
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
  int exclusive = 0;
  if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
    if (OthersMayHold(fd, true)) return false;
    ioctl(fd, TIOCNXCL);  // left by a holder that has gone
  }
  return true;
}

bool LockPort(int fd, HeldPort& held) {
  held.exclusiveSet = ioctl(fd, TIOCEXCL) == 0;
  const LockFile lockFile = WriteLockFile(held);
  held.lockWritten = lockFile == LockFile::kWritten;
  return lockFile != LockFile::kRefused;
}

void StartPortKeeper() {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return;
  const pid_t keeper = fork();
  if (keeper == 0) KeepPort(ends[1]);
  close(ends[1]);
  if (keeper < 0) {
    close(ends[0]);
    return;
  }
  KeeperChannel = ends[0];
}

void GuardPort(int fd, HeldPort& held) {
  if (KeeperChannel < 0) return;
  iovec part = {&held, sizeof held};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message = {};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr* passed = CMSG_FIRSTHDR(&message);
  passed->cmsg_level = SOL_SOCKET;
  passed->cmsg_type = SCM_RIGHTS;
  passed->cmsg_len = CMSG_LEN(sizeof fd);
  memcpy(CMSG_DATA(passed), &fd, sizeof fd);
  held.guarded =
      sendmsg(KeeperChannel, &message, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof held);
}

void GivePortBack(int fd, HeldPort& held) {
  StopGuard(held);
  ReleasePort(fd, held);
  held.lockWritten = false;
  held.exclusiveSet = false;
  held.rs485Changed = false;
}
