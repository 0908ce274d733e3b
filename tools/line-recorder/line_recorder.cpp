// line-recorder: preloaded into the Linux side of Wine, it gives the pseudo-terminal behind COM1
// what a real serial port has and a pseudo-terminal lacks, and logs what the program did with it:
//  - modem lines: TIOCMGET, TIOCMSET, TIOCMBIS, TIOCMBIC act on DTR and RTS, which start high at
//    each open, as Linux raises them when a serial port is opened;
//  - a 9600-baud transmitter behind a 16-byte FIFO: written bytes leave one per 1.0417 ms;
//    TIOCOUTQ counts those not yet in the FIFO or the shift register, as a UART driver does, and
//    TIOCSERGETLSR reports TIOCSER_TEMT once the last stop bit has left;
//  - with KIVOM_RECORDER_RS485=1, a driver with Linux's RS-485 mode: TIOCGRS485 and TIOCSRS485
//    read and set its struct serial_rs485, all zero (RS-485 off) when the process starts and kept
//    over a close, as a driver keeps it. While it is on with SER_RS485_RTS_ON_SEND, the driver
//    moves RTS itself and the program's own RTS settings do not reach the line: RTS is up from
//    the start of a write until its last stop bit has left, down otherwise. The delays of the
//    struct are not modelled. Without the variable both requests reach the pseudo-terminal,
//    which refuses them (ENOTTY), as a port without RS-485 support does.
// Every other call, and every other file, passes through unchanged.
//
// Environment: KIVOM_RECORDER_PORT, the terminal's path (the recorder is off without it), and
// KIVOM_RECORDER_LOG, the log file. The terminal is recognised by its device number, so it is
// found however the descriptor came (Wine's server opens it and passes it on) and through dups.
//
// Log lines, one per event: "<monotonic seconds> <event> <key>=<value>...":
//   open dtr=1 rts=1                          first use after the port was closed
//   lines dtr=D rts=R call=NAME [tail-ms=T]   a change of DTR or RTS; T on an RTS drop after a
//                                             write: milliseconds since the last stop bit left
//                                             (negative: bytes were still on the wire)
//   write bytes=N start=S end=E dtr=D rts=R   when the transmitter starts and finishes them;
//                                             with " rs485=1" when the driver raised RTS for
//                                             them: it drops at E unless more bytes follow
//   close dtr=D rts=R on-wire=N               the last descriptor of the port in this process
//   ioctl request=0xN                         a request on the port this recorder does not model
// With KIVOM_RECORDER_RS485=1, open and close end with " rs485-flags=0xF", the flags the port
// has then (a program is to leave them as it found them), and there is one more event:
//   rs485 dtr=D rts=R flags=0xF call=TIOCSRS485   the program set the RS-485 mode
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr double kByteSeconds = 10.0 / 9600;  // start bit, 8 data bits, stop bit at 9600 baud
constexpr long kHardwareBytes = 16 + 1;       // FIFO and shift register, unseen by TIOCOUTQ
constexpr int kDrivenLines = TIOCM_DTR | TIOCM_RTS;
// What the device at the far end shows: present, ready, clear to send.
constexpr int kInputLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
constexpr mode_t kLogFileMode = 0644;

using IoctlCall = int (*)(int, unsigned long, ...);
using WriteCall = ssize_t (*)(int, const void*, size_t);
using WritevCall = ssize_t (*)(int, const iovec*, int);
using CloseCall = int (*)(int);

// The real calls, found once.
struct RealCalls {
  IoctlCall ioctl;
  IoctlCall ioctl_time64;  // 32-bit programs built with 64-bit time call this one
  WriteCall write;
  WritevCall writev;
  CloseCall close;
};

// The port as this process sees it. All fields under `lock`.
struct Port {
  bool active;          // KIVOM_RECORDER_PORT names a character device
  dev_t device;         // its device number
  int log;              // the log's descriptor, -1 without a log
  bool open;            // a descriptor of the port has been used since the last close
  int lines;            // the driven lines, TIOCM_DTR and TIOCM_RTS
  double idle_at;       // when the last byte written has left the transmitter
  bool written;         // bytes were written since RTS was last raised
  bool rs485_modelled;  // KIVOM_RECORDER_RS485=1: the driver has an RS-485 mode
  serial_rs485 rs485;   // its settings, which outlive a close
  pthread_mutex_t lock;
  const char* log_path;  // KIVOM_RECORDER_LOG
  dev_t log_device;      // the log file, to tell its descriptor from a number reused
  ino_t log_inode;
};

RealCalls Real;
Port ThePort = {false,   0, -1, false, kDrivenLines, 0, false, false, {}, PTHREAD_MUTEX_INITIALIZER,
                nullptr, 0, 0};
pthread_once_t Once = PTHREAD_ONCE_INIT;

void OpenLog() {
  ThePort.log = -1;
  if (ThePort.log_path == nullptr) return;
  ThePort.log = open(ThePort.log_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, kLogFileMode);
  struct stat st = {};
  if (ThePort.log >= 0 && fstat(ThePort.log, &st) == 0) {
    ThePort.log_device = st.st_dev;
    ThePort.log_inode = st.st_ino;
  }
}

void FindRealCalls() {
  Real.ioctl = reinterpret_cast<IoctlCall>(dlsym(RTLD_NEXT, "ioctl"));
  Real.ioctl_time64 = reinterpret_cast<IoctlCall>(dlsym(RTLD_NEXT, "__ioctl_time64"));
  Real.write = reinterpret_cast<WriteCall>(dlsym(RTLD_NEXT, "write"));
  Real.writev = reinterpret_cast<WritevCall>(dlsym(RTLD_NEXT, "writev"));
  Real.close = reinterpret_cast<CloseCall>(dlsym(RTLD_NEXT, "close"));
  const char* path = getenv("KIVOM_RECORDER_PORT");
  struct stat st = {};
  if (path == nullptr || stat(path, &st) != 0 || !S_ISCHR(st.st_mode)) return;
  ThePort.device = st.st_rdev;
  ThePort.active = true;
  const char* rs485 = getenv("KIVOM_RECORDER_RS485");
  ThePort.rs485_modelled = rs485 != nullptr && rs485[0] == '1' && rs485[1] == '\0';
  ThePort.log_path = getenv("KIVOM_RECORDER_LOG");
  OpenLog();
}

// Found at load time, while the process has a single thread and no signal handlers, so no
// intercepted call can wait on a first look-up in progress.
__attribute__((constructor)) void FindRealCallsAtLoad() { pthread_once(&Once, FindRealCalls); }

double Now() {
  timespec ts = {};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

bool IsPort(int fd) {
  pthread_once(&Once, FindRealCalls);
  if (!ThePort.active || fd < 0) return false;
  struct stat st = {};
  return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == ThePort.device;
}

// Whether a descriptor of the port is still open in this process.
bool PortStillHeld() {
  DIR* fds = opendir("/proc/self/fd");
  if (fds == nullptr) return false;
  bool held = false;
  for (dirent* entry = readdir(fds); entry != nullptr && !held; entry = readdir(fds)) {
    const int fd = atoi(entry->d_name);
    held = entry->d_name[0] != '.' && fd != dirfd(fds) && IsPort(fd);
  }
  closedir(fds);
  return held;
}

// Whether the driver, in RS-485 mode, moves RTS instead of the program.
bool DriverMovesRts() {
  const unsigned flags = ThePort.rs485_modelled ? ThePort.rs485.flags : 0;
  return (flags & SER_RS485_ENABLED) && (flags & SER_RS485_RTS_ON_SEND);
}

// DTR and RTS as they are on the line at `at`: what the program set, unless the driver moves
// RTS, which is then up only while bytes are on the wire.
int LinesAt(double at) {
  if (!DriverMovesRts()) return ThePort.lines;
  return (ThePort.lines & ~TIOCM_RTS) | (at < ThePort.idle_at ? TIOCM_RTS : 0);
}

// Appends one event, "<time> <what> dtr=D rts=R<rest>", as a single write. A child that closed
// every descriptor (kivom's keeper of the port) logs too: the log is opened again when its
// descriptor no longer leads to it.
void Log(double at, const char* what, const char* rest) {
  struct stat st = {};
  if (ThePort.log >= 0 && (fstat(ThePort.log, &st) != 0 || st.st_ino != ThePort.log_inode ||
                           st.st_dev != ThePort.log_device)) {
    OpenLog();
  }
  if (ThePort.log < 0) return;
  const int lines = LinesAt(at);
  char line[256];
  const int n = snprintf(line, sizeof line, "%.6f %s dtr=%d rts=%d%s\n", at, what,
                         (lines & TIOCM_DTR) ? 1 : 0, (lines & TIOCM_RTS) ? 1 : 0, rest);
  if (n > 0) Real.write(ThePort.log, line, static_cast<size_t>(n) < sizeof line ? n : sizeof line);
}

// A descriptor of the port is in use: the first use after a close is an open, which raises
// DTR and RTS.
void Opened(double now) {
  if (ThePort.open) return;
  ThePort.open = true;
  ThePort.lines = kDrivenLines;
  ThePort.idle_at = now;
  ThePort.written = false;
  char rest[32] = "";
  if (ThePort.rs485_modelled) snprintf(rest, sizeof rest, " rs485-flags=0x%x", ThePort.rs485.flags);
  Log(now, "open", rest);
}

void SetLines(int lines, const char* call) {
  const double now = Now();
  Opened(now);
  lines &= kDrivenLines;
  if (lines == ThePort.lines) return;
  const int before = LinesAt(now);
  ThePort.lines = lines;
  const int after = LinesAt(now);
  const bool rtsDropped = (before & TIOCM_RTS) && !(after & TIOCM_RTS);
  const bool rtsRaised = !(before & TIOCM_RTS) && (after & TIOCM_RTS);
  char rest[64];
  if (rtsDropped && ThePort.written) {
    snprintf(rest, sizeof rest, " call=%s tail-ms=%.3f", call, (now - ThePort.idle_at) * 1000);
  } else {
    snprintf(rest, sizeof rest, " call=%s", call);
  }
  if (rtsRaised) ThePort.written = false;
  Log(now, "lines", rest);
}

void Written(ssize_t count) {
  const double now = Now();
  Opened(now);
  if (count <= 0) return;
  const double start = ThePort.idle_at > now ? ThePort.idle_at : now;
  ThePort.idle_at = start + static_cast<double>(count) * kByteSeconds;
  ThePort.written = true;
  char rest[96];
  snprintf(rest, sizeof rest, " bytes=%ld start=%.6f end=%.6f%s", static_cast<long>(count), start,
           ThePort.idle_at, DriverMovesRts() ? " rs485=1" : "");
  Log(now, "write", rest);
}

// The program sets the RS-485 mode. RTS may change with it: to the program's own setting when
// the driver stops moving it, and down while idle when the driver starts.
void SetRs485(const serial_rs485& settings) {
  const double now = Now();
  Opened(now);
  const bool rtsUp = LinesAt(now) & TIOCM_RTS;
  ThePort.rs485 = settings;
  if (!rtsUp && (LinesAt(now) & TIOCM_RTS)) ThePort.written = false;
  char rest[64];
  snprintf(rest, sizeof rest, " flags=0x%x call=TIOCSRS485", settings.flags);
  Log(now, "rs485", rest);
}

// Bytes still to leave the transmitter, the one being sent included.
long BytesOnWire(double now) {
  if (now >= ThePort.idle_at) return 0;
  return static_cast<long>((ThePort.idle_at - now) / kByteSeconds) + 1;
}

// Answers a request on the port; false when it is not one the recorder models.
bool ModelIoctl(unsigned long request, void* argument, int* result) {
  int* value = static_cast<int*>(argument);
  *result = 0;
  switch (request) {
    case TIOCMGET: {
      const double now = Now();
      Opened(now);
      *value = LinesAt(now) | kInputLines;
      return true;
    }
    case TIOCMSET:
      SetLines(*value, "TIOCMSET");
      return true;
    case TIOCMBIS:
      SetLines(ThePort.lines | *value, "TIOCMBIS");
      return true;
    case TIOCMBIC:
      SetLines(ThePort.lines & ~*value, "TIOCMBIC");
      return true;
    case TIOCOUTQ: {
      const long queued = BytesOnWire(Now()) - kHardwareBytes;
      *value = queued > 0 ? static_cast<int>(queued) : 0;
      return true;
    }
    case TIOCSERGETLSR:
      *static_cast<unsigned int*>(argument) = BytesOnWire(Now()) == 0 ? TIOCSER_TEMT : 0;
      return true;
    case TIOCGRS485:
      if (!ThePort.rs485_modelled) return false;
      Opened(Now());
      *static_cast<serial_rs485*>(argument) = ThePort.rs485;
      return true;
    case TIOCSRS485:
      if (!ThePort.rs485_modelled) return false;
      SetRs485(*static_cast<const serial_rs485*>(argument));
      return true;
    default:
      return false;
  }
}

// Requests a pseudo-terminal answers as a serial port would: no need to note them.
bool PassesQuietly(unsigned long request) {
  switch (request) {
    case TCGETS:
    case TCSETS:
    case TCSETSW:
    case TCSETSF:
    case FIONREAD:
    case TCFLSH:
      return true;
    default:
      return false;
  }
}

int Ioctl(IoctlCall* real, int fd, unsigned long request, void* argument) {
  if (!IsPort(fd)) return (*real)(fd, request, argument);
  pthread_mutex_lock(&ThePort.lock);
  int result = 0;
  const bool modelled = argument != nullptr && ModelIoctl(request, argument, &result);
  if (!modelled) {
    Opened(Now());
    if (!PassesQuietly(request)) {
      char rest[48];
      snprintf(rest, sizeof rest, " request=0x%lx", request);
      Log(Now(), "ioctl", rest);
    }
  }
  pthread_mutex_unlock(&ThePort.lock);
  return modelled ? result : (*real)(fd, request, argument);
}

// A write to the port, under the port's lock, with what it wrote put on the modelled wire.
template <typename RealWrite>
ssize_t WriteToPort(RealWrite realWrite) {
  pthread_mutex_lock(&ThePort.lock);
  const ssize_t written = realWrite();
  const int error = errno;
  Written(written);
  pthread_mutex_unlock(&ThePort.lock);
  errno = error;
  return written;
}

}  // namespace

extern "C" {

int ioctl(int fd, unsigned long request, ...) {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  pthread_once(&Once, FindRealCalls);
  return Ioctl(&Real.ioctl, fd, request, argument);
}

#if defined(__i386__)
int __ioctl_time64(int fd, unsigned long request, ...) {  // NOLINT(bugprone-reserved-identifier)
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  pthread_once(&Once, FindRealCalls);
  return Ioctl(&Real.ioctl_time64, fd, request, argument);
}
#endif

// The parameters are named as the C library declares them.
ssize_t write(int fd, const void* buf, size_t n) {
  if (!IsPort(fd)) return Real.write(fd, buf, n);
  return WriteToPort([&] { return Real.write(fd, buf, n); });
}

ssize_t writev(int fd, const struct iovec* iovec, int count) {
  if (!IsPort(fd)) return Real.writev(fd, iovec, count);
  return WriteToPort([&] { return Real.writev(fd, iovec, count); });
}

int close(int fd) {
  if (!IsPort(fd)) return Real.close(fd);
  pthread_mutex_lock(&ThePort.lock);
  const int result = Real.close(fd);
  const int error = errno;
  if (ThePort.open && !PortStillHeld()) {
    const double now = Now();
    char rest[64];
    const int n = snprintf(rest, sizeof rest, " on-wire=%ld", BytesOnWire(now));
    if (ThePort.rs485_modelled) {
      snprintf(rest + n, sizeof rest - n, " rs485-flags=0x%x", ThePort.rs485.flags);
    }
    Log(now, "close", rest);
    // The RS-485 settings stay: a driver keeps them for the next open.
    ThePort.open = false;
  }
  pthread_mutex_unlock(&ThePort.lock);
  errno = error;
  return result;
}

}  // extern "C"
