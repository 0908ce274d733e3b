// A line that misbehaves: floods, hostile bytes, slow bytes, impatient users, and a far end
// that disappears. The program must neither crash nor hang beyond its time-outs, and the
// reply box shows the bytes read, up to the first zero byte.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/e2e/peer_link.h"
#include "tests/support/kivom_driver.h"

namespace {

using kivom_test::PeerBehaves;
using kivom_test::PeerEvent;
using kivom_test::PeerEventsSince;
using kivom_test::PeerLogMark;
using kivom_test::RunningProgram;

int Count(const std::vector<PeerEvent>& events, const std::string& kind) {
  return static_cast<int>(std::count_if(events.begin(), events.end(),
                                        [&](const PeerEvent& e) { return e.kind == kind; }));
}

class LineFaults : public kivom_test::SharedProgram {
 protected:
  static void TearDownTestSuite() { kivom_test::Discard(program); }
  void SetUp() override {
    ASSERT_NE(program.form, nullptr);
    ASSERT_EQ(kivom_test::WaitForExit(program, 0), static_cast<DWORD>(STILL_ACTIVE));
    kivom_test::SetText(kivom_test::Control(program, TransmitEdit), "fault");
  }
  // Presses the button and checks that the press did not hang. (The exchange test holds
  // presses to the time-outs themselves.)
  void Press() { EXPECT_LE(kivom_test::PressStart(program), kivom_test::kHungPressMs); }
  std::string Reply() { return kivom_test::Text(kivom_test::Control(program, ReceiveEdit)); }
  // The program still runs an ordinary exchange. A busy machine may send the reply later than
  // the read waits, or the last bytes of a slow fault may still come: a few presses may try.
  void ExpectStillAnswers() {
    PeerBehaves("--reply-text alive");
    std::string shown;
    for (int i = 0; i < kivom_test::kPressTries && shown != "alive"; ++i) {
      Press();
      shown = Reply();
    }
    EXPECT_EQ(shown, "alive");
  }
};

TEST_F(LineFaults, FloodShowsTheFirstHundredBytes) {
  PeerBehaves("--flood");
  const size_t mark = PeerLogMark();
  Press();
  std::string pattern;
  for (int i = 0; i < 100; ++i) pattern.push_back(static_cast<char>('A' + i % 26));
  EXPECT_EQ(Reply(), pattern);
  EXPECT_EQ(Count(PeerEventsSince(mark, "close", 1), "close"), 1);
  ExpectStillAnswers();
}

TEST_F(LineFaults, EveryByteValueShowsUpToTheHundredth) {
  PeerBehaves("--all-bytes");
  Press();
  std::string first100;
  for (int b = 1; b <= 100; ++b) first100.push_back(static_cast<char>(b));
  EXPECT_EQ(Reply(), first100);
  ExpectStillAnswers();
}

TEST_F(LineFaults, LoneShiftJisLeadBytesDoNotUpsetTheReplyBox) {
  // 通 is 0x92 0xCA; the reply ends on a lead byte with no trail byte, and holds lead
  // bytes followed by bytes that cannot trail.
  PeerBehaves("--reply-hex \"92ca 41 81 0a 42 e0 ff 92\"");
  Press();
  const std::string shown = Reply();
  EXPECT_EQ(shown.substr(0, 3),
            "\x92\xca"
            "A");  // the whole characters come through
  ExpectStillAnswers();
}

TEST_F(LineFaults, BytesFourHundredMillisecondsApartAreCutAtTheReadTimeOut) {
  PeerBehaves("--reply-text slow --byte-gap 400");
  // The read ends 500 ms after it began: the one or two bytes that came by then are shown.
  // A busy machine can start the read or send the bytes late, so a few presses may try.
  std::string shown;
  for (int i = 0; i < kivom_test::kPressTries && (shown.empty() || shown.size() > 2); ++i) {
    Press();
    shown = Reply();
  }
  EXPECT_GE(shown.size(), 1u);
  EXPECT_LE(shown.size(), 2u);
  EXPECT_EQ(std::string("slow").substr(0, shown.size()), shown);
  ExpectStillAnswers();
}

TEST_F(LineFaults, PressesQueuedDuringAnExchangeRunOneAfterAnother) {
  PeerBehaves("--echo --delay 100");
  const size_t mark = PeerLogMark();
  HWND button = kivom_test::Control(program, StartButton);
  for (int i = 0; i < 3; ++i) PostMessageA(button, BM_CLICK, 0, 0);
  const auto events = PeerEventsSince(mark, "close", 3);
  EXPECT_EQ(Count(events, "open"), 3);
  EXPECT_EQ(Count(events, "request"), 3);
  EXPECT_EQ(Count(events, "close"), 3);
  // Each exchange opened only after the one before had closed.
  std::string order;
  for (const PeerEvent& e : events) {
    if (e.kind == "open" || e.kind == "close") order += e.kind[0];
  }
  EXPECT_EQ(order, "ocococ");
  ExpectStillAnswers();
}

// Defined last, since the far end is gone afterwards: the terminal closes and disappears
// between the request and the reply.
TEST_F(LineFaults, FarEndVanishingMidExchangeLeavesAnEmptyReply) {
  PeerBehaves("--reply-text before");
  Press();
  ASSERT_EQ(Reply(), "before");
  PeerBehaves("--vanish");
  const size_t mark = PeerLogMark();
  Press();
  EXPECT_EQ(Reply(), "");
  EXPECT_EQ(Count(PeerEventsSince(mark, "vanish", 1), "vanish"), 1);
  ASSERT_EQ(kivom_test::WaitForExit(program, 0), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(kivom_test::CloseProgram(program), 0u);
}

}  // namespace
