// One press, one exchange: the real program, Wine's serial stack and the serial peer on a
// pseudo-terminal. What the user types arrives at the peer; what the peer answers shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "tests/e2e/peer_link.h"
#include "tests/support/kivom_driver.h"

namespace {

using kivom_test::EventBytes;
using kivom_test::PeerBehaves;
using kivom_test::PeerEvent;
using kivom_test::PeerEventsSince;
using kivom_test::PeerLogMark;
using kivom_test::RunningProgram;

constexpr DWORD kPeerWaitMs = 2000;
// The write and read time-outs, 500 ms each, bound a press; the rest is Wine's own time
// to open, configure and close the line.
constexpr double kLongestPressMs = 500 + 500 + 400;

std::string Pattern(size_t count) {
  std::string bytes;
  for (size_t i = 0; i < count; ++i) bytes.push_back(static_cast<char>('A' + i % 26));
  return bytes;
}

std::vector<PeerEvent> OfKind(const std::vector<PeerEvent>& events, const std::string& kind) {
  std::vector<PeerEvent> matching;
  std::copy_if(events.begin(), events.end(), std::back_inserter(matching),
               [&](const PeerEvent& e) { return e.kind == kind; });
  return matching;
}

class Exchange : public kivom_test::SharedProgram {
 protected:
  void SetUp() override {
    ASSERT_NE(program.form, nullptr);
    PeerBehaves("--echo");
  }

  // Types `text` into the send box, presses the button, and returns what the peer received.
  std::string SendAndCapture(const std::string& text, double* pressMs = nullptr) {
    kivom_test::SetText(kivom_test::Control(program, TransmitEdit), text);
    const size_t mark = PeerLogMark();
    const double took = kivom_test::PressStart(program);
    if (pressMs != nullptr) *pressMs = took;
    const auto requests = OfKind(PeerEventsSince(mark, "close", 1), "request");
    EXPECT_EQ(requests.size(), 1u);
    return requests.empty() ? std::string() : EventBytes(requests[0]);
  }
  std::string Reply() { return kivom_test::Text(kivom_test::Control(program, ReceiveEdit)); }
};

TEST_F(Exchange, TextArrivesWithACarriageReturnAndNoLineFeed) {
  PeerBehaves("--reply-text OK");
  EXPECT_EQ(SendAndCapture("Hello, kivom"), "Hello, kivom\r");
  const std::string japanese = kivom_test::ShiftJis(L"通信テスト ｶﾅ");
  EXPECT_EQ(SendAndCapture(japanese), japanese + "\r");
  EXPECT_EQ(SendAndCapture(""), "\r");
}

TEST_F(Exchange, LongTextIsCutToNinetyNineBytesAndTheCarriageReturn) {
  PeerBehaves("--reply-text OK");
  const std::string text = Pattern(150);
  const std::string sent = SendAndCapture(text);
  EXPECT_EQ(sent.size(), 100u);
  EXPECT_EQ(sent, text.substr(0, 99) + "\r");
}

TEST_F(Exchange, ReplyAppearsInTheReplyBox) {
  PeerBehaves("--reply-text \"pong 42\"");
  SendAndCapture("ping");
  EXPECT_EQ(Reply(), "pong 42");

  const std::string japanese = kivom_test::ShiftJis(L"受信しました");
  PeerBehaves("--reply-hex \"" + [&] {
    std::string hex;
    char pair[4];
    for (unsigned char c : japanese) {
      std::snprintf(pair, sizeof pair, "%02x", c);
      hex += pair;
    }
    return hex;
  }() + "\"");
  SendAndCapture("ping");
  EXPECT_EQ(Reply(), japanese);
}

TEST_F(Exchange, ReplyLongerThanAHundredBytesShowsTheFirstHundred) {
  PeerBehaves("--long 150");
  double pressMs = 0;
  SendAndCapture("long", &pressMs);
  EXPECT_EQ(Reply(), Pattern(100));
  std::printf("press with a 150-byte reply: %.0f ms\n", pressMs);
  RecordProperty("press_ms_long_reply", static_cast<int>(pressMs));
}

// A full reply ends the read at once: the press does not wait for the read's time-out.
TEST_F(Exchange, HundredByteReplyEndsTheReadWithoutWaiting) {
  PeerBehaves("--long 100");
  const double quickest =
      kivom_test::QuickestRun(kivom_test::kPressTries, kivom_test::kShortestTimedOutReadMs, [&] {
        double pressMs = 0;
        SendAndCapture("full", &pressMs);
        EXPECT_EQ(Reply(), Pattern(100));
        return pressMs;
      });
  EXPECT_LT(quickest, kivom_test::kShortestTimedOutReadMs);
  std::printf("press with a 100-byte reply: %.0f ms\n", quickest);
}

TEST_F(Exchange, ReplyWithAZeroByteShowsTheBytesBeforeIt) {
  PeerBehaves("--zero");
  SendAndCapture("zero");
  EXPECT_EQ(Reply(), "AB");
}

TEST_F(Exchange, NoReplyEmptiesTheBoxWithinTheTimeOuts) {
  PeerBehaves("--reply-text earlier");
  SendAndCapture("first");
  ASSERT_EQ(Reply(), "earlier");

  PeerBehaves("--silent");
  const double quickest =
      kivom_test::QuickestRun(kivom_test::kPressTries, kivom_test::kLongestPressMs, [&] {
        double pressMs = 0;
        SendAndCapture("anyone?", &pressMs);
        EXPECT_EQ(Reply(), "");
        EXPECT_GE(pressMs, kivom_test::kShortestTimedOutReadMs);  // the read waited
        return pressMs;
      });
  EXPECT_LE(quickest, kivom_test::kLongestPressMs);
  std::printf("press with no reply: %.0f ms\n", quickest);
  RecordProperty("press_ms_no_reply", static_cast<int>(quickest));
}

TEST_F(Exchange, TwoPressesOpenAndCloseTheLineTwice) {
  kivom_test::SetText(kivom_test::Control(program, TransmitEdit), "twice");
  const size_t mark = PeerLogMark();
  kivom_test::PressStart(program);
  kivom_test::PressStart(program);
  std::vector<std::string> kinds;
  for (const PeerEvent& e : PeerEventsSince(mark, "close", 2)) {
    if (e.kind == "open" || e.kind == "request" || e.kind == "close") kinds.push_back(e.kind);
  }
  EXPECT_EQ(kinds,
            (std::vector<std::string>{"open", "request", "close", "open", "request", "close"}));
}

TEST_F(Exchange, LineIsNineThousandSixHundredEightNoneOneWithoutFlowControl) {
  const size_t mark = PeerLogMark();
  kivom_test::PressStart(program);
  const auto settings = OfKind(PeerEventsSince(mark, "close", 1), "settings");
  ASSERT_FALSE(settings.empty());
  EXPECT_EQ(settings.back().rest,
            "speed=9600 data=8 parity=none stop=1 rtscts=off ixon=off ixoff=off");
}

}  // namespace
