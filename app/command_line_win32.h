// kivom.exe's command line: the port to open, COM1 when it names none.
#pragma once

// The exit code of a command line that names no port kivom.exe can open.
constexpr unsigned kExitUsage = 2;

// 使い方: kivom.exe [COMn] / COMn は COM1 から COM255 まで (省くと COM1), then the same in English
constexpr char kUsageText[] =
    "\x8eg\x82\xa2\x95\xfb: kivom.exe [COMn]\n"
    "COMn \x82\xcd COM1 \x82\xa9\x82\xe7 COM255 \x82\xdc\x82\xc5 (\x8f\xc8\x82\xad\x82\xc6 COM1)\n"
    "\n"
    "Usage: kivom.exe [COMn]\n"
    "COMn is COM1 to COM255 (COM1 when left out)";

// Takes the arguments after the program's name, as WinMain gets them: nothing, or one port,
// "COM" and a number from 1 to 255 without leading zeros, in any case, spaces around it
// ignored. A named port is shown as "COM<number>" and opened through the device namespace, so
// that COM10 and above open too; with none, PortName and PortPath stay COM1. False, and the
// globals untouched, for anything else.
bool TakePortArgument(const char* arguments);
