// The exchange through Linux's serial interface: the same line, time-outs and limits as the
// Windows build's, on the device named on the command line.
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "app/form_layout.h"
#include "app/globals_linux.h"
#include "app/main_form_linux.h"
#include "runtime/strings.h"
#include "serial/exchange_settings.h"
#include "serial/exclusive_port_linux.h"
#include "serial/serial_exchange.h"

// The port and its configuration records, kept between exchanges.
int PortHandle;  // the last value the open returned, also after the close
termios PortSettings;
serial_rs485 PortRs485;  // the kernel's RS-485 mode as this program sets it
HeldPort PortHold;       // with the mode as the driver had it, put back at the close

namespace {

constexpr speed_t kLineSpeed = B9600;
static_assert(kBaudRate == 9600, "kLineSpeed is the termios form of kBaudRate");
// How often the transmitter is asked whether it is empty, so that RTS drops close behind the
// last stop bit (a tenth of a byte's time on the wire).
constexpr long kTransmitterPollNs = 100 * 1000;
// A UART's transmit FIFO: the most bytes a driver may still hold past its output queue.
constexpr int kTransmitterFifoBytes = 16;

// Whether the driver raises RTS while sending (its RS-485 mode); if not, the exchange raises
// and drops it itself. Set by ConfigureLine for the port just opened.
bool DriverRaisesRts;

double NowMs() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

// poll's time-out for what remains until `deadlineMs`, rounded up so that a wait never ends
// before it.
int RemainingMs(double deadlineMs) {
  const double left = deadlineMs - NowMs();
  return left <= 0 ? 0 : static_cast<int>(left) + 1;
}

[[noreturn]] void ReportPortUnusable(char (&portName)[kPortNameBufferSize]) {
  strcat(portName, kCannotUseSuffix);
  runtime::TrackedString message = runtime::AllocString(static_cast<int32_t>(strlen(portName)));
  if (message != nullptr) strcpy(message, portName);
  runtime::ShowMessage(nullptr, message, nullptr, 0, nullptr);  // no owner, OK only
  runtime::EndProgram();
}

// The device, opened for this program alone; -1 when it cannot be had. Linux raises DTR and
// RTS inside every open while the line's speed is not 0, so they are dropped at once: only the
// flock and the exclusive flag come between, and what can refuse without an open comes before.
int OpenPort() {
  if (!PortLooksFree(PortDevice, PortHold)) return -1;
  const int fd = open(PortDevice, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (!ClaimPort(fd)) {
    close(fd);
    return -1;
  }
  const int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd, TIOCMBIC, &lines);
  if (LockPort(fd, PortHold)) return fd;
  GivePortBack(fd, PortHold);
  close(fd);
  return -1;
}

void ConfigureLine() {
  // Raw 9600 8N1: no parity, one stop bit, no hardware or software flow control, the modem's
  // lines ignored; every other setting off but HUPCL, with which the kernel drops DTR and RTS
  // at any last close, a killed program's too. Filled in afresh, never read back.
  memset(&PortSettings, 0, sizeof PortSettings);
  PortSettings.c_cflag = CS8 | CREAD | CLOCAL | HUPCL;
  cfsetispeed(&PortSettings, kLineSpeed);
  cfsetospeed(&PortSettings, kLineSpeed);
  tcsetattr(PortHandle, TCSANOW, &PortSettings);

  // The kernel's RS-485 mode raises RTS while bytes are sent, where the driver has it.
  serial_rs485& found = PortHold.rs485Found;
  memset(&found, 0, sizeof found);
  DriverRaisesRts = ioctl(PortHandle, TIOCGRS485, &found) == 0;
  if (DriverRaisesRts) {
    PortRs485 = found;
    PortRs485.flags = (found.flags | SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND) &
                      ~static_cast<__u32>(SER_RS485_RTS_AFTER_SEND);
    PortRs485.delay_rts_before_send = 0;
    PortRs485.delay_rts_after_send = 0;
    DriverRaisesRts = ioctl(PortHandle, TIOCSRS485, &PortRs485) == 0;
    PortHold.rs485Changed = DriverRaisesRts;
  }
  // Everything the close undoes is taken now: from here a killed program leaves none of it.
  GuardPort(PortHandle, PortHold);

  // The exchange starts with empty queues: nothing of an earlier reply, or of what came
  // between presses, is taken for this one's.
  tcflush(PortHandle, TCIOFLUSH);
}

// 1 when the driver reports its transmitter empty, its FIFO and shift register included; 0
// while it is not; -1 where the driver cannot tell (a pseudo-terminal, some USB adapters).
int TransmitterEmpty() {
  unsigned int status = 0;
  if (ioctl(PortHandle, TIOCSERGETLSR, &status) != 0) return -1;
  return (status & TIOCSER_TEMT) != 0 ? 1 : 0;
}

// Waits until the last of `count` bytes, written between `startMs` and `writtenMs`, has left
// the transmitter, then drops RTS; never later than the write time-out after `startMs`. The
// driver's output queue does not count the bytes in the UART's FIFO and shift register: where
// the driver can say when those are gone, it is asked; elsewhere their wire time is waited,
// counted from the write's return. A driver that still says busy a FIFO's time past that (QEMU's
// FTDI adapter never says empty) is not waited for: RTS up would meet the device's reply.
void DropRtsAfterLastByte(double startMs, double writtenMs, size_t count) {
  const double wireEndMs = writtenMs + static_cast<double>(count) * kByteTimeMs;
  const double latestMs = wireEndMs + kTransmitterFifoBytes * kByteTimeMs;
  while (NowMs() - startMs < kWriteTotalTimeoutMs) {
    int queued = 0;
    if (ioctl(PortHandle, TIOCOUTQ, &queued) != 0 || queued == 0) {
      const int empty = TransmitterEmpty();
      if (empty == 1 || NowMs() >= (empty < 0 ? wireEndMs : latestMs)) break;
    }
    const timespec pause = {0, kTransmitterPollNs};
    nanosleep(&pause, nullptr);
  }
  const int rts = TIOCM_RTS;
  ioctl(PortHandle, TIOCMBIC, &rts);
}

// Writes `count` bytes; gives up after the write time-out. Returns the bytes written.
size_t WritePort(const char* bytes, size_t count) {
  const double startMs = NowMs();
  const double deadlineMs = startMs + kWriteTotalTimeoutMs;
  const int rts = TIOCM_RTS;
  if (!DriverRaisesRts) ioctl(PortHandle, TIOCMBIS, &rts);
  size_t written = 0;
  while (written < count) {
    const ssize_t n = write(PortHandle, bytes + written, count - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    pollfd port = {PortHandle, POLLOUT, 0};
    const int waitMs = RemainingMs(deadlineMs);
    if (waitMs == 0 || (poll(&port, 1, waitMs) < 0 && errno != EINTR)) break;
  }
  if (!DriverRaisesRts) DropRtsAfterLastByte(startMs, NowMs(), written);
  return written;
}

// Reads up to `limit` bytes, for at most the read time-out from now. Returns the bytes read.
// A line that has hung up or failed (an adapter pulled out) ends the read with what came.
size_t ReadPort(char* bytes, size_t limit) {
  const double deadlineMs = NowMs() + kReadTotalTimeoutMs;
  size_t got = 0;
  bool readable = false;  // poll said so: a read that then finds nothing means a hang-up
  while (got < limit) {
    const ssize_t n = read(PortHandle, bytes + got, limit - got);
    if (n > 0) {
      got += static_cast<size_t>(n);
      readable = false;
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    if (n == 0 && readable) break;
    pollfd port = {PortHandle, POLLIN, 0};
    const int waitMs = RemainingMs(deadlineMs);
    if (waitMs == 0) break;
    const int ready = poll(&port, 1, waitMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (port.revents & POLLIN) == 0) break;  // timed out, hung up or failed
    readable = true;
  }
  return got;
}

void ClosePort() {
  GivePortBack(PortHandle, PortHold);
  close(PortHandle);
}

}  // namespace

void SerialTestExchange() {
  char portName[kPortNameBufferSize] = {};
  char transmit[kBufferSize] = {};
  char receive[kBufferSize] = {};

  strcpy(portName, kPortName);
  PortHandle = OpenPort();
  if (PortHandle < 0) ReportPortUnusable(portName);

  ConfigureLine();

  memset(transmit, 0, sizeof transmit);
  GetControlText(TransmitEdit, transmit, kTextLimit);
  runtime::TrackedString carriageReturn = runtime::CharString(kCarriageReturn);
  if (carriageReturn != nullptr) strcat(transmit, carriageReturn);
  runtime::ReleaseString(carriageReturn);
  WritePort(transmit, strlen(transmit));

  memset(receive, 0, sizeof receive);
  ReadPort(receive, kReplyLimit);
  SetControlText(ReceiveEdit, receive);

  ClosePort();
}
