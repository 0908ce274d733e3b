#include <windows.h>

#include "serial/serial_exchange.h"

#include "app/globals.h"
#include "app/main_form.h"
#include "runtime/strings.h"
#include "serial/exchange_settings.h"

// The port and its configuration records, kept between exchanges.
HANDLE PortHandle;  // the last value the open returned, also after the close
DCB PortSettings;
COMMTIMEOUTS PortTimeouts;

namespace {

// RTS raised by the driver while bytes wait to be sent. Where the driver refuses that, RTS is
// raised by hand around the write and dropped once the last stop bit has left.
constexpr DWORD kRtsControl = RTS_CONTROL_TOGGLE;

// Windows' Sleep can last a whole timer tick (15.6 ms): sleep only while more than this remains
// before the earliest moment RTS may drop, and spin on the performance counter for the rest.
constexpr double kSleepWhileMoreThanMs = 20;

// Whether RTS is raised and dropped by the exchange itself, because the driver refused to toggle
// it. Set by ConfigureLine for the port just opened.
bool RaiseRtsWhileSending;

[[noreturn]] void ReportPortUnusable(char (&portName)[kPortNameBufferSize]) {
  lstrcatA(portName, kCannotUseSuffix);
  runtime::TrackedString message = runtime::AllocString(lstrlenA(portName));
  if (message != nullptr) lstrcpyA(message, portName);
  runtime::ShowMessage(nullptr, message, nullptr, MB_OK, nullptr);
  runtime::EndProgram();
}

void ConfigureLine() {
  PortSettings.DCBlength = sizeof PortSettings;
  PortSettings.BaudRate = kBaudRate;
  PortSettings.ByteSize = kByteSize;
  PortSettings.fBinary = TRUE;
  PortSettings.fRtsControl = kRtsControl;
  PortSettings.Parity = NOPARITY;
  PortSettings.StopBits = ONESTOPBIT;
  // The one place where the exchange examines platform results: this one and, when it is a
  // refusal, the output queue while RTS is up. Wine's serial driver, and some Windows drivers,
  // refuse RTS_CONTROL_TOGGLE before they apply DTR, RTS and flow control; the same
  // record with RTS disabled puts DTR off, RTS low and every flow control off, and the exchange
  // raises RTS itself around the write.
  RaiseRtsWhileSending = !SetCommState(PortHandle, &PortSettings);
  if (RaiseRtsWhileSending) {
    PortSettings.fRtsControl = RTS_CONTROL_DISABLE;
    SetCommState(PortHandle, &PortSettings);
  }

  PortTimeouts.ReadIntervalTimeout = kReadIntervalTimeoutMs;
  PortTimeouts.ReadTotalTimeoutMultiplier = 0;
  PortTimeouts.ReadTotalTimeoutConstant = kReadTotalTimeoutMs;
  PortTimeouts.WriteTotalTimeoutMultiplier = 0;
  PortTimeouts.WriteTotalTimeoutConstant = kWriteTotalTimeoutMs;
  SetCommTimeouts(PortHandle, &PortTimeouts);
}

double MillisecondsSince(LARGE_INTEGER start) {
  LARGE_INTEGER now;
  LARGE_INTEGER frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 /
         static_cast<double>(frequency.QuadPart);
}

// Waits until the last of `count` bytes, written between `start` and `written`, has left the
// transmitter, then drops RTS; never later than the write time-out after `start`.
// The driver's output queue (ClearCommError; under Wine TIOCOUTQ, always 0 on a pseudo-terminal)
// does not count the bytes in the UART's FIFO and shift register, so the wire time is waited as
// well, counted from the write's return: a transmitter that starts at once has sent the last stop
// bit by then, and RTS drops at most the write's own duration late.
void DropRtsAfterLastByte(LARGE_INTEGER start, LARGE_INTEGER written, DWORD count) {
  const double wireEndMs = static_cast<double>(count) * kByteTimeMs;
  for (;;) {
    const double sinceStartMs = MillisecondsSince(start);
    if (sinceStartMs >= kWriteTotalTimeoutMs) break;
    COMSTAT status = {};
    DWORD errors = 0;
    const bool queueEmpty = !ClearCommError(PortHandle, &errors, &status) || status.cbOutQue == 0;
    const double wireLeftMs = wireEndMs - MillisecondsSince(written);
    if (queueEmpty && wireLeftMs <= 0) break;
    const double queueLeftMs = queueEmpty ? 0 : static_cast<double>(status.cbOutQue) * kByteTimeMs;
    // Sleeps only while a whole timer tick surely fits; spins on the counter for the rest.
    if ((queueLeftMs > wireLeftMs ? queueLeftMs : wireLeftMs) > kSleepWhileMoreThanMs) Sleep(1);
  }
  EscapeCommFunction(PortHandle, CLRRTS);
}

}  // namespace

void SerialTestExchange() {
  char portName[kPortNameBufferSize] = {};
  char transmit[kBufferSize] = {};
  char receive[kBufferSize] = {};
  DWORD written = 0;
  DWORD received = 0;
  BOOL result = FALSE;

  lstrcpyA(portName, PortPath);
  PortHandle = CreateFileA(portName, GENERIC_READ | GENERIC_WRITE,
                           0,  // exclusive
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (PortHandle == INVALID_HANDLE_VALUE) {
    lstrcpyA(portName, PortName);
    ReportPortUnusable(portName);
  }

  ConfigureLine();

  ZeroMemory(transmit, sizeof transmit);
  GetWindowTextA(GetDlgItem(MainWindowHandle, TransmitEdit), transmit, kTextLimit);
  runtime::TrackedString carriageReturn = runtime::CharString(kCarriageReturn);
  if (carriageReturn != nullptr) lstrcatA(transmit, carriageReturn);
  runtime::ReleaseString(carriageReturn);
  // NOLINTBEGIN(clang-analyzer-deadcode.DeadStores): platform results are kept, not examined
  LARGE_INTEGER writeStart = {};
  if (RaiseRtsWhileSending) {
    EscapeCommFunction(PortHandle, SETRTS);
    QueryPerformanceCounter(&writeStart);
  }
  result = WriteFile(PortHandle, transmit, lstrlenA(transmit), &written, nullptr);
  if (RaiseRtsWhileSending) {
    LARGE_INTEGER writeEnd;
    QueryPerformanceCounter(&writeEnd);
    DropRtsAfterLastByte(writeStart, writeEnd, written);
  }

  ZeroMemory(receive, sizeof receive);
  result = ReadFile(PortHandle, receive, kReplyLimit, &received, nullptr);
  SetWindowTextA(GetDlgItem(MainWindowHandle, ReceiveEdit), receive);

  result = CloseHandle(PortHandle);
  // NOLINTEND(clang-analyzer-deadcode.DeadStores)
  (void)result;
}
