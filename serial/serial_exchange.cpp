#include "serial/serial_exchange.h"

#include "app/globals.h"
#include "app/main_form.h"
#include "runtime/strings.h"

HANDLE PortHandle;
DCB PortSettings;
COMMTIMEOUTS PortTimeouts;

namespace {

constexpr char kPortName[] = "COM1";
// "が使えません" (cannot be used), put after the port name on a failed open
constexpr char kCannotUseSuffix[] = "\x82\xaa\x8eg\x82\xa6\x82\xdc\x82\xb9\x82\xf1";
// Room for "COM1が使えません" and its terminator.
constexpr int kPortNameBufferSize = sizeof kPortName - 1 + sizeof kCannotUseSuffix;

// 9600 baud, 8 data bits, no parity, one stop bit; binary; RTS raised only while sending;
// DTR off; no flow control of any kind.
constexpr DWORD kBaudRate = 9600;
constexpr BYTE kByteSize = 8;
constexpr DWORD kRtsControl = RTS_CONTROL_TOGGLE;

constexpr DWORD kReadIntervalTimeout = 500;  // milliseconds
constexpr DWORD kReadTotalTimeoutConstant = 500;
constexpr DWORD kWriteTotalTimeoutConstant = 500;

constexpr int kBufferSize = 104;
constexpr int kTextLimit = 100;  // GetWindowTextA: at most 99 bytes and the terminator
constexpr DWORD kReplyLimit = 100;
constexpr uint32_t kCarriageReturn = 13;

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
  SetCommState(PortHandle, &PortSettings);

  PortTimeouts.ReadIntervalTimeout = kReadIntervalTimeout;
  PortTimeouts.ReadTotalTimeoutMultiplier = 0;
  PortTimeouts.ReadTotalTimeoutConstant = kReadTotalTimeoutConstant;
  PortTimeouts.WriteTotalTimeoutMultiplier = 0;
  PortTimeouts.WriteTotalTimeoutConstant = kWriteTotalTimeoutConstant;
  SetCommTimeouts(PortHandle, &PortTimeouts);
}

}  // namespace

void SerialTestExchange() {
  char portName[kPortNameBufferSize] = {};
  char transmit[kBufferSize] = {};
  char receive[kBufferSize] = {};
  DWORD written = 0;
  DWORD received = 0;
  BOOL result = FALSE;

  lstrcpyA(portName, kPortName);
  PortHandle = CreateFileA(portName, GENERIC_READ | GENERIC_WRITE,
                           0,  // exclusive
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (PortHandle == INVALID_HANDLE_VALUE) ReportPortUnusable(portName);

  ConfigureLine();

  ZeroMemory(transmit, sizeof transmit);
  GetWindowTextA(GetDlgItem(MainWindowHandle, TransmitEdit), transmit, kTextLimit);
  runtime::TrackedString carriageReturn = runtime::CharString(kCarriageReturn);
  if (carriageReturn != nullptr) lstrcatA(transmit, carriageReturn);
  runtime::ReleaseString(carriageReturn);
  // NOLINTBEGIN(clang-analyzer-deadcode.DeadStores): platform results are kept, not examined
  result = WriteFile(PortHandle, transmit, lstrlenA(transmit), &written, nullptr);

  ZeroMemory(receive, sizeof receive);
  result = ReadFile(PortHandle, receive, kReplyLimit, &received, nullptr);
  SetWindowTextA(GetDlgItem(MainWindowHandle, ReceiveEdit), receive);

  result = CloseHandle(PortHandle);
  // NOLINTEND(clang-analyzer-deadcode.DeadStores)
  (void)result;
}
