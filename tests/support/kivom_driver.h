// Drives a running kivom.exe from another Windows process, as a user's platform sees it.
#pragma once

#include <windows.h>

#include <string>

namespace kivom_test {

// The path of kivom.exe from the test program's command line, as Windows names it.
std::string ProgramPath();

// Shift-JIS bytes of a Japanese text (code page 932).
std::string ShiftJis(const wchar_t* text);

struct RunningProgram {
  PROCESS_INFORMATION process{};
  HWND form = nullptr;
};

// Starts kivom.exe and waits for its window "kivom" of class "NORMAL0".
RunningProgram StartProgram();

HWND Control(const RunningProgram& program, int id);
std::string Text(HWND window);
void SetText(HWND window, const std::string& text);

// Presses the start button (BM_CLICK); returns once the exchange it runs is over, with
// the milliseconds the press took.
double PressStart(const RunningProgram& program);

// Waits for the process to end; its exit code, or STILL_ACTIVE after the time-out.
DWORD WaitForExit(RunningProgram& program, DWORD milliseconds);

// Closes the form with WM_CLOSE and waits for the process to end.
DWORD CloseProgram(RunningProgram& program);

// Ends the process if it still runs and closes its handles.
void Discard(RunningProgram& program);

// A top-level window of the process with the given class ("#32770" for a message box).
HWND FindProcessWindow(const RunningProgram& program, const char* className, DWORD milliseconds);

}  // namespace kivom_test
