// What one exchange puts on the line and waits for, the same in both builds.
#pragma once

#include <cstdint>

// The port's name in the form's texts, and the port kivom.exe opens when its command line names
// none; the Linux build names the device behind it on its command line.
constexpr char kPortName[] = "COM1";
// The ports kivom.exe's command line may name: "COM" and a number from 1 to 255.
constexpr char kPortNamePrefix[] = "COM";
constexpr int kHighestPortNumber = 255;
constexpr char kLongestPortName[] = "COM255";
// Windows' device namespace: a port named through it opens whatever its number, where the bare
// name reaches COM1 to COM9 only.
constexpr char kDeviceNamespace[] = "\\\\.\\";
// "が使えません" (cannot be used), put after the port name on a failed open
constexpr char kCannotUseSuffix[] = "\x82\xaa\x8eg\x82\xa6\x82\xdc\x82\xb9\x82\xf1";
// Room for "COM255が使えません" and its terminator, which holds "\\.\COM255" too.
constexpr int kPortNameBufferSize = sizeof kLongestPortName - 1 + sizeof kCannotUseSuffix;
static_assert(sizeof kDeviceNamespace - 1 + sizeof kLongestPortName <= kPortNameBufferSize);

// 9600 baud, 8 data bits, no parity, one stop bit; RTS raised only while sending; DTR off; no
// flow control of any kind.
constexpr uint32_t kBaudRate = 9600;
constexpr int kByteSize = 8;
// A byte at 9600 8N1 is ten bits: 1.0417 ms on the wire.
constexpr double kByteTimeMs = 10 * 1000.0 / kBaudRate;

constexpr uint32_t kReadIntervalTimeoutMs = 500;
constexpr uint32_t kReadTotalTimeoutMs = 500;
constexpr uint32_t kWriteTotalTimeoutMs = 500;

constexpr int kBufferSize = 104;  // the transmit and the receive buffer
constexpr int kTextLimit = 100;   // the send box's text: at most 99 bytes and the terminator
constexpr int kReplyLimit = 100;  // bytes read at most
constexpr uint32_t kCarriageReturn = 13;
