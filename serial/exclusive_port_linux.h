// A serial device held for one program alone, as Linux's own serial programs expect: the
// flock that picocom and pyserial's exclusive=True take, the terminal's exclusive flag and the
// UUCP lock file /run/lock/LCK..NAME.
#pragma once

#include <limits.h>
#include <sys/types.h>

struct HeldPort {
  char lockPath[PATH_MAX];  // the lock file this program wrote; empty when it wrote none
};

// Takes the device for `fd`, just opened from `device`: flock(LOCK_EX | LOCK_NB); refused while
// another opener holds the exclusive flag (root's opens pass the kernel's own check), a flag
// whose holder has gone is cleared; refused while a live process owns the lock file, a stale one
// is removed and this program's own written (only checked where /run/lock is not writable);
// then TIOCEXCL. False when refused, with nothing left taken but the flock, which goes with the
// descriptor.
bool TakePort(int fd, const char* device, HeldPort& held);

// Undoes TakePort before the descriptor is closed: TIOCNXCL, the flock, the lock file.
void GivePortBack(int fd, HeldPort& held);

// /run/lock/LCK..NAME for a device: NAME is its real path below /dev, '/' written as '_'.
void LockPathOf(const char* device, char (&lockPath)[PATH_MAX]);

// The live process that a lock file names, 0 when none.
pid_t LockHolder(const char* lockPath);

// Whether a process lives: one that has ended and waits to be reaped holds nothing.
bool Alive(pid_t pid);

// The processes other than this one that have the character device `device` open, as far as
// /proc shows: up to `most` of them into `pids`. Returns how many were found; -1 when /proc
// cannot be read.
int Holders(dev_t device, pid_t* pids, int most);
