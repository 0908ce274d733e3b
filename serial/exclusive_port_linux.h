// A serial device held for one program alone, as Linux's own serial programs expect: the
// flock that picocom and pyserial's exclusive=True take, the terminal's exclusive flag and the
// UUCP lock file /run/lock/LCK..NAME.
//
// The kernel raises DTR and RTS inside every open of the device, so the steps are ordered to
// keep that moment short and to spare a holder's line: what can refuse without an open comes
// before it (PortLooksFree), only the flock and the exclusive flag between the open and the drop
// of the lines (ClaimPort), the lock file after the drop (LockPort).
#pragma once

#include <limits.h>
#include <linux/serial.h>
#include <sys/types.h>

struct HeldPort {
  char lockPath[PATH_MAX];  // the device's lock file
  bool lockWritten;         // this program's own lock file stands there
  bool exclusiveSet;        // this program set the terminal's exclusive flag
  pid_t owner;              // this program, as its lock file names it
  bool guarded;             // the keeper holds a copy of the port
  bool rs485Changed;        // the driver's RS-485 mode was changed: rs485Found puts it back
  serial_rs485 rs485Found;
};

// Before the open: refused while a live process owns the lock file or another program has the
// device open (of the processes this user may look into). A lock path that holds something
// other than a lock file is said once on standard error and otherwise left alone.
bool PortLooksFree(const char* device, HeldPort& held);

// Just after the open of `fd`: flock(LOCK_EX | LOCK_NB), then the exclusive flag: refused
// while another opener may hold it (root's opens pass the kernel's own check; a process whose
// descriptors cannot be read may be that opener); a flag whose holder has gone is cleared.
// Nothing is left taken on a refusal but the flock, which goes with the descriptor.
bool ClaimPort(int fd);

// Once the lines are down: TIOCEXCL and this program's lock file, which replaces a stale one
// without a moment in which a live one could be removed. False when a live lock appeared
// meanwhile; the caller then gives the port back.
bool LockPort(int fd, HeldPort& held);

// Starts the keeper: a process of this program's own, started before the toolkit so that it
// carries none of it, which holds a copy of the port during each exchange and gives the port
// back should this program die holding it (SIGKILL): the RS-485 mode as found, the exclusive
// flag, the lock file; its close, then the last, drops DTR and RTS (HUPCL). It ends with the
// program. Without it (it could not start) the port is taken all the same.
void StartPortKeeper();

// Hands the keeper a copy of `fd` and what `held` says to undo, until GivePortBack.
void GuardPort(int fd, HeldPort& held);

// Undoes the above before the descriptor is closed: the keeper's copy, TIOCNXCL where this program
// set the flag and no other program has the device open, the flock, the lock file.
void GivePortBack(int fd, HeldPort& held);

// /run/lock/LCK..NAME for a device: NAME is its real path below /dev, '/' written as '_'.
void LockPathOf(const char* device, char (&lockPath)[PATH_MAX]);

// The live process that a lock file names, 0 when none.
pid_t LockHolder(const char* lockPath);

// Whether a process lives: one that has ended and waits to be reaped holds nothing.
bool Alive(pid_t pid);

// The processes other than this one that have the character device `device` open, as far as
// /proc shows: up to `most` of them into `pids`. Returns how many were found; -1 when /proc
// cannot be read. Processes whose descriptors this user may not read are counted into
// `*unreadable` where it is given.
int Holders(dev_t device, pid_t* pids, int most, int* unreadable = nullptr);
