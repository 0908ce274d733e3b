// footprint: timings of the running program under the platform, for scripts/bench.
//   footprint startup ROUNDS PROGRAM CLASS TITLE [PROGRAM CLASS TITLE ...]
//       starts each program in turn, ROUNDS times, and measures the time from process start
//       to its main window existing; prints "startup <program> median <ms> best <ms>"
//   footprint press ROUNDS PROGRAM [TEXT]
//       starts kivom, puts TEXT (default none) in its send box, presses its start button
//       ROUNDS times; prints
//       "press median <ms> best <ms> worst <ms>"
// Paths may be Unix paths (they are reached through drive Z:). Exit code 2 on bad arguments.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/main_form.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr DWORD kWaitMs = 20000;

std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

struct Started {
  PROCESS_INFORMATION process{};
  HWND window = nullptr;
  double ms = 0;
};

// Starts a program and waits, polling without sleeping, for its window.
Started Start(const std::string& program, const char* className, const char* title) {
  Started started;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  std::string commandLine = WindowsPath(program);
  const auto begin = Clock::now();
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &started.process)) {
    std::fprintf(stderr, "footprint: cannot start %s\n", commandLine.c_str());
    std::exit(1);
  }
  while (started.window == nullptr) {
    HWND window = FindWindowA(className, title);
    DWORD owner = 0;
    if (window != nullptr) GetWindowThreadProcessId(window, &owner);
    if (owner == started.process.dwProcessId) started.window = window;
    if (Milliseconds(Clock::now() - begin) > kWaitMs) {
      std::fprintf(stderr, "footprint: no window \"%s\" from %s\n", title, commandLine.c_str());
      std::exit(1);
    }
    if (started.window == nullptr) SwitchToThread();
  }
  started.ms = Milliseconds(Clock::now() - begin);
  return started;
}

void Close(Started& started) {
  PostMessageA(started.window, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(started.process.hProcess, kWaitMs) != WAIT_OBJECT_0) {
    TerminateProcess(started.process.hProcess, 1);
  }
  CloseHandle(started.process.hThread);
  CloseHandle(started.process.hProcess);
}

void PrintSummary(const char* what, const std::string& name, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("%s %s median %.1f best %.1f worst %.1f\n", what, name.c_str(), ms[ms.size() / 2],
              ms.front(), ms.back());
}

int Usage() {
  std::fputs(
      "usage: footprint startup ROUNDS PROGRAM CLASS TITLE [PROGRAM CLASS TITLE ...]\n"
      "       footprint press ROUNDS PROGRAM [TEXT]\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return Usage();
  const std::string command = argv[1];
  const int rounds = std::atoi(argv[2]);
  if (rounds <= 0) return Usage();

  if (command == "startup" && (argc - 3) % 3 == 0) {
    const int programs = (argc - 3) / 3;
    std::vector<std::vector<double>> times(static_cast<size_t>(programs));
    for (int round = 0; round < rounds; ++round) {
      for (int p = 0; p < programs; ++p) {  // alternating, so drift affects all alike
        char** spec = argv + 3 + 3 * p;
        Started started = Start(spec[0], spec[1], spec[2]);
        times[static_cast<size_t>(p)].push_back(started.ms);
        Close(started);
      }
    }
    for (int p = 0; p < programs; ++p) {
      PrintSummary("startup", argv[3 + 3 * p], times[static_cast<size_t>(p)]);
    }
    return 0;
  }

  if (command == "press" && (argc == 4 || argc == 5)) {
    Started started = Start(argv[3], kFormClassName, kMainWindowTitle);
    HWND button = nullptr;
    while ((button = GetDlgItem(started.window, StartButton)) == nullptr) SwitchToThread();
    WaitForInputIdle(started.process.hProcess, kWaitMs);
    if (argc == 5) SetWindowTextA(GetDlgItem(started.window, TransmitEdit), argv[4]);
    std::vector<double> ms;
    for (int round = 0; round < rounds; ++round) {
      const auto begin = Clock::now();
      SendMessageA(button, BM_CLICK, 0, 0);  // returns when the exchange is over
      ms.push_back(Milliseconds(Clock::now() - begin));
    }
    Close(started);
    PrintSummary("press", "kivom", ms);
    return 0;
  }
  return Usage();
}
