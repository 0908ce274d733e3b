// kivom.exe COMn: the port its command line names carries the exchange and names a failed
// open; without one it is COM1; anything else gets the usage and exit code 2. with-line.sh
// puts the serial peer on one port (KIVOM_PEER_PORT, above COM9), COM1 on a folder and another
// port (KIVOM_ABSENT_PORT_NAME) nowhere.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/command_line_win32.h"
#include "serial/exchange_settings.h"
#include "tests/e2e/peer_link.h"
#include "tests/support/kivom_driver.h"

namespace {

using kivom_test::RunningProgram;

constexpr int kMessageTextId = 0xFFFF;  // the static that holds a message box's text

std::string FromEnvironment(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr ? value : "";
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

// Waits for the process's message box and for its text, then runs `whileOpen` and closes the
// box with OK.
template <typename WhileOpen>
testing::AssertionResult BoxSaysAndCloses(const RunningProgram& program, const std::string& text,
                                          WhileOpen whileOpen) {
  HWND box = kivom_test::FindProcessWindow(program, "#32770");
  if (box == nullptr) return testing::AssertionFailure() << "awaited a message box; saw none";
  testing::AssertionResult says = kivom_test::Eventually("the message box's text", text, [&] {
    return kivom_test::Text(GetDlgItem(box, kMessageTextId));
  });
  whileOpen();
  PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  return says;
}

TEST(PortArgument, NamedPortCarriesTheExchangeInAnyCase) {
  const std::string port = FromEnvironment("KIVOM_PEER_PORT");
  ASSERT_FALSE(port.empty()) << "KIVOM_PEER_PORT is not set: run through with-line.sh ports";
  kivom_test::PeerBehaves("--echo");
  for (const std::string& arguments : {port, Lower(port)}) {
    SCOPED_TRACE("kivom.exe " + arguments);
    RunningProgram program = kivom_test::StartProgram(arguments);
    ASSERT_NE(program.form, nullptr);
    kivom_test::SetText(kivom_test::Control(program, TransmitEdit), "ping");
    const size_t mark = kivom_test::PeerLogMark();
    // Posted: a press that fails to open the port does not return while its box is open.
    PostMessageA(kivom_test::Control(program, StartButton), BM_CLICK, 0, 0);
    std::string request;
    for (const auto& event : kivom_test::PeerEventsSince(mark, "close", 1)) {
      if (event.kind == "request") request = kivom_test::EventBytes(event);
    }
    EXPECT_EQ(request, "ping\r");
    EXPECT_TRUE(kivom_test::Eventually("the reply box's text", std::string("ping\r"), [&] {
      return kivom_test::Text(kivom_test::Control(program, ReceiveEdit));
    }));
    EXPECT_EQ(kivom_test::CloseProgram(program), 0u);
    kivom_test::Discard(program);
  }
}

TEST(PortArgument, PortThatCannotBeOpenedIsNamedInTheBoxAndEndsWithZero) {
  const std::string absent = FromEnvironment("KIVOM_ABSENT_PORT_NAME");
  ASSERT_FALSE(absent.empty())
      << "KIVOM_ABSENT_PORT_NAME is not set: run through with-line.sh ports";
  const struct {
    std::string arguments;
    std::string named;
  } cases[] = {
      {"", kPortName},                      // COM1, on a folder: held, as Wine shows it
      {absent, absent},                     // no such port
      {Lower(" " + absent + " "), absent},  // as a shortcut may pass it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("kivom.exe " + c.arguments);
    RunningProgram program = kivom_test::StartProgram(c.arguments);
    ASSERT_NE(program.form, nullptr);
    PostMessageA(kivom_test::Control(program, StartButton), BM_CLICK, 0, 0);
    EXPECT_TRUE(BoxSaysAndCloses(program, c.named + kCannotUseSuffix, [] {}));
    EXPECT_TRUE(kivom_test::EndsWithCode(program, 0));
    kivom_test::Discard(program);
  }
}

TEST(PortArgument, AnythingElseShowsTheUsageBeforeAnyWindowAndEndsWithTwo) {
  for (const char* arguments : {"COM0", "COM256", "COM07", "COM", "LPT1", "COM7 COM8"}) {
    SCOPED_TRACE(std::string("kivom.exe ") + arguments);
    RunningProgram program = kivom_test::LaunchProgram(arguments);
    ASSERT_NE(program.process.hProcess, nullptr);
    EXPECT_TRUE(BoxSaysAndCloses(program, kUsageText, [&] {
      EXPECT_EQ(kivom_test::FindProcessWindow(program, kFormClassName, 0), nullptr);
    }));
    EXPECT_TRUE(kivom_test::EndsWithCode(program, kExitUsage));
    kivom_test::Discard(program);
  }
}

}  // namespace
