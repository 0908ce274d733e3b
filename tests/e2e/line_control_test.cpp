// The line as a device sees it, on a serial port another program left with a fast speed, two
// stop bits and every flow control on. The line recorder, preloaded into Wine, gives the
// pseudo-terminal modem lines and a 9600-baud transmitter and logs DTR, RTS and every write.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <sstream>

#include "tests/e2e/peer_link.h"
#include "tests/support/kivom_driver.h"

namespace {

using kivom_test::PeerEvent;

constexpr DWORD kWaitMs = 3000;  // for a close in either log; an exchange takes about 600 ms
constexpr char kRecorderLog[] = "KIVOM_RECORDER_LOG";
constexpr char kPlainLine[] = "speed=9600 data=8 parity=none stop=1 rtscts=off ixon=off ixoff=off";

// The number after "key=" in an event, or -1 when it has none.
double Field(const PeerEvent& event, const std::string& key) {
  const size_t at = (" " + event.rest).find(" " + key + "=");
  return at == std::string::npos ? -1 : std::atof(event.rest.c_str() + at + key.size() + 1);
}

std::string Text(const std::vector<PeerEvent>& events) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(6);
  for (const PeerEvent& e : events)
    text << "  " << e.seconds << " " << e.kind << " " << e.rest << "\n";
  return text.str();
}

// What went wrong with DTR and RTS in the recorder's events of one exchange, empty when nothing
// did; `tailMs` gets how long RTS stayed up after the last stop bit left.
std::string LineFaults(const std::vector<PeerEvent>& events, double bytes, double* tailMs) {
  if (events.empty() || events.front().kind != "open") return "no open";
  if (events.back().kind != "close") return "no close";
  size_t configured = 0;  // from here on DTR must stay low
  while (configured < events.size() && Field(events[configured], "dtr") != 0) ++configured;
  bool rtsLowBeforeWrite = false;
  double written = 0;
  double lastEnd = -1;
  double dropped = -1;
  for (size_t i = configured; i < events.size(); ++i) {
    const PeerEvent& e = events[i];
    if (Field(e, "dtr") != 0) return "DTR high again at " + std::to_string(e.seconds);
    const bool rts = Field(e, "rts") == 1;
    if (e.kind == "write") {
      if (!rts) return "bytes written with RTS low at " + std::to_string(e.seconds);
      if (!rtsLowBeforeWrite) return "RTS was not low between the configuration and the write";
      if (dropped >= 0) return "a write after RTS dropped";
      written += Field(e, "bytes");
      lastEnd = Field(e, "end");
    } else if (!rts && written == 0) {
      rtsLowBeforeWrite = true;
    } else if (!rts && dropped < 0) {
      dropped = e.seconds;
    } else if (rts && dropped >= 0) {
      return "RTS up again after the send at " + std::to_string(e.seconds);
    }
  }
  if (configured >= events.size()) return "DTR never went low";
  if (written != bytes) return "written " + std::to_string(written) + " bytes";
  if (dropped < 0) return "RTS still up at the close";
  if (dropped < lastEnd) return "RTS dropped while bytes were on the wire";
  if (Field(events.back(), "on-wire") != 0) return "closed with bytes on the wire";
  *tailMs = (dropped - lastEnd) * 1000;
  return "";
}

class LineControl : public kivom_test::SharedProgram {
 protected:
  void SetUp() override {
    ASSERT_NE(program.form, nullptr);
    kivom_test::PeerBehaves("--reply-text OK");
  }

  // Sends `text` on the used line; checks what the peer and the recorder saw and the reply.
  void ExchangeOnUsedLine(const std::string& text) {
    kivom_test::SetText(kivom_test::Control(program, TransmitEdit), text);
    const size_t peerMark = kivom_test::PeerLogMark();
    const size_t lineMark = kivom_test::LogMark(kRecorderLog);

    // The line was left used after the last close.
    const auto before = kivom_test::PeerEventsSince(0, "", 0, 0);
    std::string used;
    for (const PeerEvent& e : before)
      used = e.kind == "used" ? e.rest : e.kind == "open" ? "" : used;
    EXPECT_NE(used.find("speed=115200"), std::string::npos) << "awaited a used line, saw:\n"
                                                            << Text(before);
    kivom_test::PressStart(program);

    const auto peer = kivom_test::PeerEventsSince(peerMark, "close", 1, kWaitMs);
    std::string settings;
    std::string request;
    for (const PeerEvent& e : peer) {
      if (e.kind == "settings") settings = e.rest;
      if (e.kind == "request") {
        request = kivom_test::EventBytes(e);
        break;
      }
    }
    EXPECT_EQ(request, text + "\r") << "peer saw:\n" << Text(peer);
    EXPECT_EQ(settings, kPlainLine) << "at the request; peer saw:\n" << Text(peer);

    const auto line = kivom_test::LogEventsSince(kRecorderLog, lineMark, "close", 1, kWaitMs);
    double tailMs = -1;
    EXPECT_EQ(LineFaults(line, static_cast<double>(text.size() + 1), &tailMs), "")
        << "awaited open, DTR low, RTS low, RTS up, the bytes, RTS low after the last stop "
           "bit, close; the recorder saw:\n"
        << Text(line);
    std::printf("RTS up %.3f ms after the last stop bit\n", tailMs);
    EXPECT_EQ(kivom_test::Text(kivom_test::Control(program, ReceiveEdit)), "OK");
  }
};

TEST_F(LineControl, HundredByteRequest) { ExchangeOnUsedLine(std::string(99, 'R')); }

TEST_F(LineControl, EmptyRequestIsACarriageReturn) { ExchangeOnUsedLine(""); }

}  // namespace
