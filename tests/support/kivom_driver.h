// Drives a running kivom.exe from another Windows process, as a user's platform sees it.
#pragma once

#include <windows.h>

#include <string>

#include "app/main_form.h"

#include "tests/support/wait.h"

namespace kivom_test {

// The path of kivom.exe from the test program's command line, as Windows names it.
std::string ProgramPath();

// Shift-JIS bytes of a Japanese text (code page 932).
std::string ShiftJis(const wchar_t* text);

struct RunningProgram {
  PROCESS_INFORMATION process{};
  HWND form = nullptr;
};

// Starts kivom.exe with `arguments` after its name, without waiting for anything.
RunningProgram LaunchProgram(const std::string& arguments);

// Starts kivom.exe and waits for its window (kMainWindowTitle, of class kFormClassName).
RunningProgram StartProgram(const std::string& arguments = "");

HWND Control(const RunningProgram& program, int id);
std::string Text(HWND window);
void SetText(HWND window, const std::string& text);

// A press is bounded by the write and read time-outs and Wine's own work to open, configure
// and close the line, 400 ms allowed for it on a quiet machine.
constexpr double kReadTimeOutMs = 500;
constexpr double kWriteTimeOutMs = 500;
constexpr double kWineWorkMs = 400;
constexpr double kLongestPressMs = kWriteTimeOutMs + kReadTimeOutMs + kWineWorkMs;
// A read that waits for its time-out takes at least this long, timer granularity allowed for.
constexpr double kShortestTimedOutReadMs = kReadTimeOutMs - 50;
// A busy machine can only lengthen a press, so a check on its duration takes the quickest of
// a few presses of the same kind.
constexpr int kPressTries = 5;
// Longer than this, a press has hung however busy the machine is.
constexpr double kHungPressMs = kWriteTimeOutMs + kReadTimeOutMs + 10 * kWineWorkMs;

// Presses the start button (BM_CLICK); returns once the exchange it runs is over, with
// the milliseconds the press took.
double PressStart(const RunningProgram& program);

// Waits for the process to end; its exit code, or STILL_ACTIVE after the time-out.
DWORD WaitForExit(RunningProgram& program, DWORD milliseconds);

// Waits for the process to end with exit code `code`.
testing::AssertionResult EndsWithCode(RunningProgram& program, DWORD code);

// Closes the form with WM_CLOSE and waits for the process to end; its exit code, or
// STILL_ACTIVE (and a failure) when it still runs after the deadline.
DWORD CloseProgram(RunningProgram& program);

// Ends the process if it still runs and closes its handles.
void Discard(RunningProgram& program);

// The fixture of a suite whose tests share one running program, started before the first
// test and closed (exit code 0 expected) after the last. A suite that ends the program its
// own way hides TearDownTestSuite.
class SharedProgram : public testing::Test {
 protected:
  static void SetUpTestSuite() { program = StartProgram(); }
  static void TearDownTestSuite();
  static RunningProgram program;
};

// Waits for a visible top-level window of the process with the given class ("#32770" for a
// message box), other than `other`. A message box is shown once its texts are set.
HWND FindProcessWindow(const RunningProgram& program, const char* className,
                       DWORD milliseconds = kStateWaitMs, HWND other = nullptr);

}  // namespace kivom_test
