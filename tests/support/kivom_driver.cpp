#include "tests/support/kivom_driver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "app/main_form.h"

namespace kivom_test {
namespace {

std::string programPath;

constexpr int kTextBufferSize = 4096;

// A Unix path handed over by ctest becomes its Wine drive Z: path.
std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

struct WindowSearch {
  DWORD processId;
  const char* className;
  HWND other;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char className[64] = {};
  GetClassNameA(window, className, sizeof className);
  if (owner == search->processId && lstrcmpA(className, search->className) == 0 &&
      window != search->other && IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

std::string ProgramPath() { return WindowsPath(programPath); }

std::string ShiftJis(const wchar_t* text) {
  const int size = WideCharToMultiByte(932, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(932, 0, text, -1, bytes.data(), size, nullptr, nullptr);
  bytes.resize(static_cast<size_t>(size) - 1);
  return bytes;
}

HWND FindProcessWindow(const RunningProgram& program, const char* className, DWORD milliseconds,
                       HWND other) {
  return WaitUntil(
      milliseconds,
      [&] {
        WindowSearch search{program.process.dwProcessId, className, other, nullptr};
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        return search.found;
      },
      [](HWND found) { return found != nullptr; });
}

RunningProgram LaunchProgram(const std::string& arguments) {
  RunningProgram program;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  std::string commandLine = '"' + WindowsPath(programPath) + '"';
  if (!arguments.empty()) commandLine += ' ' + arguments;
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &program.process)) {
    ADD_FAILURE() << "cannot start " << commandLine << ": error " << GetLastError();
  }
  return program;
}

RunningProgram StartProgram(const std::string& arguments) {
  RunningProgram program = LaunchProgram(arguments);
  if (program.process.hProcess == nullptr) return program;
  program.form = WaitUntil(
      kStateWaitMs,
      [&] {
        HWND window = FindWindowA(kFormClassName, kMainWindowTitle);
        DWORD owner = 0;
        if (window != nullptr) GetWindowThreadProcessId(window, &owner);
        return owner == program.process.dwProcessId ? window : nullptr;
      },
      [](HWND window) { return window != nullptr; });
  if (program.form == nullptr) {
    ADD_FAILURE() << "awaited the window \"kivom\" of the started process for " << kStateWaitMs
                  << " ms; saw none";
    return program;
  }
  // The window is listed from the start of its creation: wait until the form has loaded
  // (the button, set last, has its own text) and the program waits for input.
  EXPECT_TRUE(Eventually("the start button's text after the form loaded",
                         ShiftJis(L"通信テスト開始"),
                         [&] { return Text(GetDlgItem(program.form, StartButton)); }));
  WaitForInputIdle(program.process.hProcess, kStateWaitMs);
  return program;
}

HWND Control(const RunningProgram& program, int id) { return GetDlgItem(program.form, id); }

std::string Text(HWND window) {
  std::vector<char> buffer(kTextBufferSize, '\0');
  const auto length =
      SendMessageA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
  return std::string(buffer.data(), static_cast<size_t>(length));
}

void SetText(HWND window, const std::string& text) {
  SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

double PressStart(const RunningProgram& program) {
  const auto start = std::chrono::steady_clock::now();
  SendMessageA(Control(program, StartButton), BM_CLICK, 0, 0);
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  return took.count();
}

DWORD WaitForExit(RunningProgram& program, DWORD milliseconds) {
  if (program.process.hProcess == nullptr) return STILL_ACTIVE;
  WaitForSingleObject(program.process.hProcess, milliseconds);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(program.process.hProcess, &code);
  return code;
}

testing::AssertionResult EndsWithCode(RunningProgram& program, DWORD code) {
  const DWORD seen = WaitForExit(program, kStateWaitMs);
  if (seen == code) return testing::AssertionSuccess();
  testing::AssertionResult failure = testing::AssertionFailure();
  failure << "awaited the end of the process with exit code " << code << " for " << kStateWaitMs
          << " ms; ";
  if (seen == STILL_ACTIVE) return failure << "it still runs";
  return failure << "it ended with exit code " << seen;
}

DWORD CloseProgram(RunningProgram& program) {
  PostMessageA(program.form, WM_CLOSE, 0, 0);
  const DWORD code = WaitForExit(program, kStateWaitMs);
  if (code == STILL_ACTIVE) {
    ADD_FAILURE() << "awaited the end of the process for " << kStateWaitMs
                  << " ms after WM_CLOSE; it still runs";
  }
  return code;
}

void Discard(RunningProgram& program) {
  if (program.process.hProcess == nullptr) return;
  if (WaitForExit(program, 0) == STILL_ACTIVE) TerminateProcess(program.process.hProcess, 1);
  CloseHandle(program.process.hThread);
  CloseHandle(program.process.hProcess);
  program = RunningProgram{};
}

RunningProgram SharedProgram::program;

void SharedProgram::TearDownTestSuite() {
  if (program.form != nullptr) {
    EXPECT_EQ(CloseProgram(program), 0u);
  }
  Discard(program);
}

}  // namespace kivom_test

// The first argument left over by GoogleTest is the path of kivom.exe.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    fprintf(stderr, "usage: %s [gtest options] PATH-OF-kivom.exe\n", argv[0]);
    return 2;
  }
  kivom_test::programPath = argv[1];
  return RUN_ALL_TESTS();
}
