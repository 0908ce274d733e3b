// The rules by which the Linux build takes a device for itself and gives it back, each on a
// pseudo-terminal of its own: what stands at the lock path, another program's hold on the
// device, the exclusive flag, and a run killed while it holds the port.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "serial/exclusive_port_linux.h"

extern "C" int __real_rename(const char* from, const char* to);
extern "C" int __real_unlink(const char* path);

namespace {

constexpr unsigned kHungSeconds = 60;  // a test that takes this long hangs (a FIFO read blocking)
constexpr int kWaitMs = 10000;
constexpr int kPollMs = 10;
constexpr uid_t kNobody = 65534;

// Another program's live lock, written once at this path by the next removal of the file there:
// the worst moment for it to come.
std::string RaceLockPath;
pid_t RaceLockPid;

void WriteLockText(const std::string& path, pid_t pid) {
  std::ofstream(path) << std::string(10 - std::to_string(pid).size(), ' ') << pid << '\n';
}

void WriteRaceLock(const char* path) {
  if (RaceLockPath.empty() || RaceLockPath != path) return;
  RaceLockPath.clear();
  const std::string written = std::string(path) + ".race";
  WriteLockText(written, RaceLockPid);
  __real_rename(written.c_str(), path);
}

}  // namespace

extern "C" int __wrap_rename(const char* from, const char* to) {
  WriteRaceLock(from);
  return __real_rename(from, to);
}

extern "C" int __wrap_unlink(const char* path) {
  WriteRaceLock(path);
  return __real_unlink(path);
}

namespace {

std::string Contents(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// What stands at a path, to tell whether it was touched.
std::string Standing(const char* path) {
  struct stat st = {};
  if (lstat(path, &st) != 0) return "nothing";
  std::string seen = std::to_string(st.st_mode) + " inode " + std::to_string(st.st_ino);
  return S_ISREG(st.st_mode) ? seen + " '" + Contents(path) + "'" : seen;
}

void Remove(const char* path) {
  if (rmdir(path) != 0) __real_unlink(path);
}

bool Eventually(bool (*holds)(const char*), const char* path) {
  for (int waited = 0; waited < kWaitMs; waited += kPollMs) {
    if (holds(path)) return true;
    const timespec pause = {0, kPollMs * 1000000L};
    nanosleep(&pause, nullptr);
  }
  return holds(path);
}

// The exclusive flag of a terminal, as root's open reads it; -1 where it cannot be read.
int ExclusiveFlag(const char* device) {
  const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  int flag = -1;
  if (fd >= 0 && ioctl(fd, TIOCGEXCL, &flag) != 0) flag = -1;
  if (fd >= 0) close(fd);
  return flag;
}

// A child process that runs `body` and then waits to be killed, once it has said so.
pid_t Child(void (*body)(const char* device), const char* device) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    body(device);
    if (write(ready[1], "r", 1) != 1) _exit(1);
    for (;;) pause();
  }
  close(ready[1]);
  char word = 0;
  const bool said = read(ready[0], &word, 1) == 1;
  close(ready[0]);
  return said ? child : -1;
}

void End(pid_t child) {
  if (child <= 0) return;
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

pid_t GonePid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

void NoBody(const char*) {}
void HoldWithFlag(const char* device) {
  const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0 || ioctl(fd, TIOCEXCL) != 0) _exit(1);
}
void HoldPlainly(const char* device) {
  if (open(device, O_RDWR | O_NOCTTY | O_NONBLOCK) < 0) _exit(1);
}

void OnHung(int) {
  static const char kSaid[] = "hung: a step of taking or giving back the port took 60 s\n";
  if (write(STDERR_FILENO, kSaid, sizeof kSaid - 1) < 0) _exit(2);
  _exit(1);
}

// The exchange's steps up to its configuration, and back.
struct Taken {
  bool looksFree = false;
  bool claimed = false;
  bool locked = false;
  int fd = -1;
};

Taken Take(const char* device, HeldPort& held) {
  Taken taken;
  taken.looksFree = PortLooksFree(device, held);
  if (!taken.looksFree) return taken;
  taken.fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  taken.claimed = taken.fd >= 0 && ClaimPort(taken.fd);
  if (taken.claimed) taken.locked = LockPort(taken.fd, held);
  return taken;
}

void GiveBack(Taken& taken, HeldPort& held) {
  if (taken.fd < 0) return;
  GivePortBack(taken.fd, held);
  close(taken.fd);
  taken.fd = -1;
}

class PortRules : public testing::Test {
 protected:
  void SetUp() override {
    int slave = -1;
    char name[PATH_MAX] = {};
    ASSERT_EQ(openpty(&master_, &slave, name, nullptr, nullptr), 0) << strerror(errno);
    close(slave);
    device_ = name;
    LockPathOf(device_.c_str(), lock_);
    Remove(lock_);
    live_ = Child(NoBody, nullptr);
    ASSERT_GT(live_, 0);
    signal(SIGALRM, OnHung);
    alarm(kHungSeconds);
  }

  void TearDown() override {
    alarm(0);
    End(live_);
    Remove(lock_);
    close(master_);
  }

  const char* device() const { return device_.c_str(); }

  int master_ = -1;
  std::string device_;
  char lock_[PATH_MAX] = {};
  pid_t live_ = 0;
  HeldPort held_ = {};
};

// What stands at the lock path before a press: whether the press may go on, whether kivom's
// own lock then stands there, and what is left after it gave the port back.
struct LockPathCase {
  const char* what;
  enum { kNone, kLive, kStale, kFifo, kLink, kFolder, kJunk } placed;
  bool looksFree;
  bool ownWritten;
  bool leftAsPlaced;  // else nothing is left
};

const LockPathCase kLockPathCases[] = {
    {"nothing", LockPathCase::kNone, true, true, false},
    {"a live lock", LockPathCase::kLive, false, false, true},
    {"a stale lock", LockPathCase::kStale, true, true, false},
    {"a FIFO", LockPathCase::kFifo, true, false, true},
    {"a symbolic link to a file", LockPathCase::kLink, true, false, true},
    {"a folder", LockPathCase::kFolder, true, false, true},
    {"a file not in the lock format", LockPathCase::kJunk, true, false, true},
};

TEST_F(PortRules, WhatStandsAtTheLockPathIsHonouredNeverHangsAndIsNeverWrittenThrough) {
  const std::string target = std::string(lock_) + ".target";
  for (const LockPathCase& c : kLockPathCases) {
    SCOPED_TRACE(c.what);
    std::ofstream(target) << "not kivom's\n";
    switch (c.placed) {
      case LockPathCase::kNone:
        break;
      case LockPathCase::kLive:
        WriteLockText(lock_, live_);
        break;
      case LockPathCase::kStale:
        WriteLockText(lock_, GonePid());
        break;
      case LockPathCase::kFifo:
        ASSERT_EQ(mkfifo(lock_, 0644), 0);
        break;
      case LockPathCase::kLink:
        ASSERT_EQ(symlink(target.c_str(), lock_), 0);
        break;
      case LockPathCase::kFolder:
        ASSERT_EQ(mkdir(lock_, 0755), 0);
        break;
      case LockPathCase::kJunk:
        std::ofstream(lock_) << "hello\n";
        break;
    }
    const std::string placed = Standing(lock_);
    Taken taken = Take(device(), held_);
    EXPECT_EQ(taken.looksFree, c.looksFree);
    EXPECT_EQ(taken.locked, c.looksFree);
    EXPECT_EQ(LockHolder(lock_) == getpid(), c.ownWritten) << Standing(lock_);
    GiveBack(taken, held_);
    EXPECT_EQ(Standing(lock_), c.leftAsPlaced ? placed : "nothing");
    EXPECT_EQ(Contents(target), "not kivom's\n");
    Remove(lock_);
  }
  __real_unlink(target.c_str());
}

TEST_F(PortRules, ALiveLockWrittenWhileAStaleOneIsRemovedStaysAndRefuses) {
  WriteLockText(lock_, GonePid());
  RaceLockPath = lock_;
  RaceLockPid = live_;
  Taken taken = Take(device(), held_);
  EXPECT_TRUE(RaceLockPath.empty()) << "the stale lock was never removed";
  EXPECT_TRUE(taken.claimed);
  EXPECT_FALSE(taken.locked);
  EXPECT_EQ(LockHolder(lock_), live_);
  GiveBack(taken, held_);
  EXPECT_EQ(LockHolder(lock_), live_);
  RaceLockPath.clear();
}

TEST_F(PortRules, AnotherProgramWithTheDeviceOpenRefusesWithoutAnOpen) {
  const pid_t holder = Child(HoldPlainly, device());
  ASSERT_GT(holder, 0);
  EXPECT_FALSE(PortLooksFree(device(), held_));
  End(holder);
  EXPECT_TRUE(PortLooksFree(device(), held_));
}

// Root's opens pass the kernel's own check of the flag: only then does kivom's own look count.
#define NEEDS_ROOT() \
  if (geteuid() != 0) GTEST_SKIP() << "needs root, whose opens pass the exclusive flag"

TEST_F(PortRules, TheExclusiveFlagRefusesWhileItsHolderLivesAndIsClearedOnceItHasGone) {
  NEEDS_ROOT();
  const pid_t holder = Child(HoldWithFlag, device());
  ASSERT_GT(holder, 0);
  const int fd = open(device(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(ClaimPort(fd)) << "claimed beside a live holder of the flag";
  close(fd);
  End(holder);
  ASSERT_EQ(ExclusiveFlag(device()), 1) << "a pseudo-terminal keeps a gone holder's flag";
  Taken taken = Take(device(), held_);
  EXPECT_TRUE(taken.locked);
  GiveBack(taken, held_);
  EXPECT_EQ(ExclusiveFlag(device()), 0);
}

TEST_F(PortRules, AFlagThatAnotherOpenerSetMeanwhileStaysAtTheClose) {
  NEEDS_ROOT();
  Taken taken = Take(device(), held_);
  ASSERT_TRUE(taken.locked);
  const pid_t opener = Child(HoldWithFlag, device());  // root's open passes the flag
  ASSERT_GT(opener, 0);
  GiveBack(taken, held_);
  EXPECT_EQ(ExclusiveFlag(device()), 1);
  End(opener);
}

TEST_F(PortRules, AProcessWhoseDescriptorsCannotBeReadIsCounted) {
  NEEDS_ROOT();
  struct stat st = {};
  ASSERT_EQ(stat(device(), &st), 0);
  const int held = open(device(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(held, 0);
  const pid_t looker = fork();
  if (looker == 0) {
    if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(2);
    pid_t found = 0;
    int unreadable = 0;
    _exit(Holders(st.st_rdev, &found, 1, &unreadable) == 0 && unreadable > 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(looker, &status, 0);
  close(held);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "nobody's look at root's holder: status " << status;
}

void TakeAndGuard(const char* device) {
  static HeldPort held;
  StartPortKeeper();
  const Taken taken = Take(device, held);
  if (!taken.locked) _exit(1);
  GuardPort(taken.fd, held);
}

bool NoLockFile(const char* lockPath) { return Standing(lockPath) == "nothing"; }
bool FlagCleared(const char* device) { return ExclusiveFlag(device) == 0; }

TEST_F(PortRules, AKilledRunLeavesNeitherItsLockFileNorItsFlag) {
  NEEDS_ROOT();
  const pid_t killed = Child(TakeAndGuard, device());
  ASSERT_GT(killed, 0);
  ASSERT_EQ(LockHolder(lock_), killed);
  End(killed);
  EXPECT_TRUE(Eventually(NoLockFile, lock_)) << "left: " << Standing(lock_);
  EXPECT_TRUE(Eventually(FlagCleared, device())) << "the flag: " << ExclusiveFlag(device());
}

}  // namespace
