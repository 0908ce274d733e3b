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
serial_rs485 PortRs485;       // the kernel's RS-485 mode as this program sets it
serial_rs485 PortRs485Found;  // as the driver had it, put back at the close
HeldPort PortHold;

namespace {

constexpr speed_t kLineSpeed = B9600;
static_assert(kBaudRate == 9600, "kLineSpeed is the termios form of kBaudRate");

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

// The device, opened for this program alone; -1 when it cannot be had.
int OpenPort() {
  const int fd = open(PortDevice, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (TakePort(fd, PortDevice, PortHold)) return fd;
  close(fd);
  return -1;
}

void ConfigureLine() {
  // DTR off at once, RTS low until the write.
  const int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(PortHandle, TIOCMBIC, &lines);

  // Raw 9600 8N1: no parity, one stop bit, no hardware or software flow control, the modem's
  // lines ignored; every other setting off. Filled in afresh, never read back from the port.
  memset(&PortSettings, 0, sizeof PortSettings);
  PortSettings.c_cflag = CS8 | CREAD | CLOCAL;
  cfsetispeed(&PortSettings, kLineSpeed);
  cfsetospeed(&PortSettings, kLineSpeed);
  tcsetattr(PortHandle, TCSANOW, &PortSettings);

  // The kernel's RS-485 mode raises RTS while bytes are sent, where the driver has it.
  memset(&PortRs485Found, 0, sizeof PortRs485Found);
  DriverRaisesRts = ioctl(PortHandle, TIOCGRS485, &PortRs485Found) == 0;
  if (DriverRaisesRts) {
    PortRs485 = PortRs485Found;
    PortRs485.flags = (PortRs485Found.flags | SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND) &
                      ~static_cast<__u32>(SER_RS485_RTS_AFTER_SEND);
    PortRs485.delay_rts_before_send = 0;
    PortRs485.delay_rts_after_send = 0;
    DriverRaisesRts = ioctl(PortHandle, TIOCSRS485, &PortRs485) == 0;
  }
}

// Waits until the last of `count` bytes, written between `startMs` and `writtenMs`, has left
// the transmitter, then drops RTS; never later than the write time-out after `startMs`. The
// driver's output queue does not count the bytes in the UART's FIFO and shift register, so the
// wire time is waited as well, counted from the write's return.
void DropRtsAfterLastByte(double startMs, double writtenMs, size_t count) {
  const double wireEndMs = writtenMs + static_cast<double>(count) * kByteTimeMs;
  while (NowMs() - startMs < kWriteTotalTimeoutMs) {
    int queued = 0;
    const bool queueEmpty = ioctl(PortHandle, TIOCOUTQ, &queued) != 0 || queued == 0;
    if (queueEmpty && NowMs() >= wireEndMs) break;
    const timespec oneMs = {0, 1000000};
    nanosleep(&oneMs, nullptr);
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
    if (RemainingMs(deadlineMs) == 0 || poll(&port, 1, RemainingMs(deadlineMs)) == 0) break;
  }
  if (!DriverRaisesRts) DropRtsAfterLastByte(startMs, NowMs(), written);
  return written;
}

// Reads up to `limit` bytes, for at most the read time-out from now. Returns the bytes read.
size_t ReadPort(char* bytes, size_t limit) {
  const double deadlineMs = NowMs() + kReadTotalTimeoutMs;
  size_t got = 0;
  while (got < limit) {
    const ssize_t n = read(PortHandle, bytes + got, limit - got);
    if (n > 0) {
      got += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    pollfd port = {PortHandle, POLLIN, 0};
    const int waitMs = RemainingMs(deadlineMs);
    if (waitMs == 0 || poll(&port, 1, waitMs) <= 0) break;
    if ((port.revents & POLLIN) == 0) break;  // hung up or failed: nothing more will come
  }
  return got;
}

void ClosePort() {
  if (DriverRaisesRts) ioctl(PortHandle, TIOCSRS485, &PortRs485Found);
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
