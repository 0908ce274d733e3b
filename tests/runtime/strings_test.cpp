#include <cstring>
#include <thread>

#include "tests/runtime/registry_fixture.h"
#include "tests/support/shift_jis.h"

namespace {

using runtime::AllocString;
using runtime::LiveString;
using runtime::LiveStringCount;
using runtime::ReleaseString;
using runtime::TrackedString;

const std::string& UnknownStringMessage() {
  static const std::string message =
      kivom_test::ShiftJisFromUtf8(u8"未知の文字列が解放されようとしました。/return");
  return message;
}

using StringRegistry = RegistryTest;

TEST_F(StringRegistry, NewStringIsZeroFilledWithItsLengthBeforeIt) {
  TrackedString empty = AllocString(0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(runtime::StringLength(empty), 0);
  EXPECT_EQ(empty[0], '\0');

  TrackedString ten = AllocString(10);
  ASSERT_NE(ten, nullptr);
  for (int i = 0; i <= 10; ++i) EXPECT_EQ(ten[i], '\0') << i;
  std::memcpy(ten, "abc", 4);  // a shorter text does not change the length
  EXPECT_EQ(runtime::StringLength(ten), 10);
  EXPECT_STREQ(ten, "abc");

  EXPECT_EQ(LiveStringCount(), 2);
  EXPECT_EQ(LiveString(0), empty);
  EXPECT_EQ(LiveString(1), ten);
}

// A block the heap hands out again after a release still comes zero-filled, for each length
// class of the zeroing: 4 to 7 bytes, 8 to 16, and longer.
TEST_F(StringRegistry, ReusedBlocksComeZeroFilled) {
  for (const int32_t length : {0, 2, 3, 11, 12, 40}) {
    TrackedString used = AllocString(length);
    ASSERT_NE(used, nullptr);
    std::memset(used, 0xff, static_cast<size_t>(length) + 1);
    ReleaseString(used);
    TrackedString again = AllocString(length);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(runtime::StringLength(again), length);
    for (int32_t i = 0; i <= length; ++i) EXPECT_EQ(again[i], '\0') << length << " at " << i;
    ReleaseString(again);
  }
}

TEST_F(StringRegistry, ReleasingTheMiddleOfThreeKeepsTheOthersInOrder) {
  TrackedString first = AllocString(1), middle = AllocString(2), last = AllocString(3);
  ReleaseString(middle);
  ASSERT_EQ(LiveStringCount(), 2);
  EXPECT_EQ(LiveString(0), first);
  EXPECT_EQ(LiveString(1), last);
  EXPECT_EQ(freedBlocks(), std::vector<void*>{BlockOf(middle)});
  EXPECT_TRUE(debugOutput().empty());
  // The table grows again from the shrunk count.
  TrackedString next = AllocString(0);
  ASSERT_EQ(LiveStringCount(), 3);
  EXPECT_EQ(LiveString(2), next);
}

TEST_F(StringRegistry, DoubleReleaseReportsOnceAndFreesOnce) {
  TrackedString keep = AllocString(4);
  TrackedString s = AllocString(4);
  ReleaseString(s);
  ReleaseString(s);
  EXPECT_EQ(freedBlocks(), std::vector<void*>{BlockOf(s)});
  EXPECT_EQ(debugOutput(), std::vector<std::string>{UnknownStringMessage()});
  ASSERT_EQ(LiveStringCount(), 1);
  EXPECT_EQ(LiveString(0), keep);
}

TEST_F(StringRegistry, ReleasingWhatTheRegistryDoesNotHoldFreesNothing) {
  TrackedString s = AllocString(8);
  static char literal[] = "literal";
  ReleaseString(literal);
  ReleaseString(s + 1);  // an address inside a live string
  EXPECT_TRUE(freedBlocks().empty());
  EXPECT_EQ(debugOutput().size(), 2u);
  EXPECT_EQ(LiveStringCount(), 1);
}

TEST_F(StringRegistry, ReleasingNullIsSilent) {
  ReleaseString(nullptr);
  EXPECT_TRUE(debugOutput().empty());
  EXPECT_TRUE(freedBlocks().empty());
}

TEST_F(StringRegistry, CharStringKeepsTheLowByteAndLeavesOneEntry) {
  struct Case {
    uint32_t code;
    char expected;
  };
  for (const Case& c :
       {Case{13, '\x0d'}, Case{0, '\0'}, Case{321, 'A'}, Case{0xFFFFFF82u, '\x82'}}) {
    SCOPED_TRACE(c.code);
    const int32_t before = LiveStringCount();
    TrackedString s = runtime::CharString(c.code);
    ASSERT_EQ(LiveStringCount(), before + 1);
    EXPECT_EQ(LiveString(before), s);
    EXPECT_EQ(runtime::StringLength(s), 1);
    EXPECT_EQ(s[0], c.expected);
    EXPECT_EQ(s[1], '\0');
  }
  EXPECT_TRUE(debugOutput().empty());
}

TEST_F(StringRegistry, WordHalvesAreUnsigned) {
  EXPECT_EQ(runtime::LowWord(0x03ED0000u | 1005u), 1005u);
  EXPECT_EQ(runtime::HighWord((1005u << 16) | 0xFFFFu), 1005u);
  EXPECT_EQ(runtime::HighWord(0x80000000u), 32768u);
  EXPECT_EQ(runtime::HighWord(0xFFFFFFFFu), 65535u);
  EXPECT_EQ(runtime::LowWord(0xFFFFFFFFu), 65535u);
}

TEST_F(StringRegistry, ShowMessageReleasesCaptionThenText) {
  TrackedString text = Make("text");
  TrackedString caption = Make("caption");
  int32_t pressed = 0;
  runtime::ShowMessage(nullptr, text, caption, 0x40, &pressed);
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, "text");
  EXPECT_EQ(boxes()[0].caption, "caption");
  EXPECT_EQ(boxes()[0].style, 0x40u);
  EXPECT_EQ(pressed, 1);
  EXPECT_EQ(freedBlocks(), (std::vector<void*>{BlockOf(caption), BlockOf(text)}));
  EXPECT_EQ(LiveStringCount(), 0);
}

TEST_F(StringRegistry, ShowMessageWithoutCaptionReleasesOnlyTheText) {
  TrackedString other = AllocString(0);
  TrackedString text = Make("only");
  runtime::ShowMessage(nullptr, text, nullptr, 0, nullptr);
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_FALSE(boxes()[0].hasCaption);
  EXPECT_EQ(freedBlocks(), std::vector<void*>{BlockOf(text)});
  EXPECT_TRUE(debugOutput().empty());
  ASSERT_EQ(LiveStringCount(), 1);
  EXPECT_EQ(LiveString(0), other);
}

#ifndef _WIN32  // death tests start the test program again, which Wine makes slow and brittle
// In a test program a box that no test hooked would wait for a click that never comes, and what
// the program does after it (often ending with exit code 0) would pass for success.
TEST_F(StringRegistry, AnUnhookedMessageBoxEndsTheTestProgram) {
  runtime::platform::hooks.onMessageBox = nullptr;
  EXPECT_DEATH(runtime::ShowMessage(nullptr, Make("text"), Make("caption"), 0, nullptr),
               "unexpected message box \\[caption\\] text");
}
#endif

// Heap exhaustion: nothing is written through a null block, the table survives, the
// registry stays as it was, the failure is reported, and the result is null.
TEST_F(StringRegistry, BlockThatCannotBeHadGivesNull) {
  TrackedString a = AllocString(1);
  runtime::platform::hooks.heapRequestsBeforeFailure = 0;
  EXPECT_EQ(AllocString(5), nullptr);
  EXPECT_EQ(debugOutput().size(), 1u);
  runtime::platform::hooks.heapRequestsBeforeFailure = -1;
  ASSERT_EQ(LiveStringCount(), 1);
  EXPECT_EQ(LiveString(0), a);
  TrackedString b = AllocString(2);
  ASSERT_EQ(LiveStringCount(), 2);
  EXPECT_EQ(LiveString(1), b);
}

TEST_F(StringRegistry, TableThatCannotGrowKeepsTheRegistryAndFreesTheBlock) {
  TrackedString a = AllocString(1), b = AllocString(1);
  runtime::platform::hooks.heapRequestsBeforeFailure = 1;  // the block, then not the table
  EXPECT_EQ(AllocString(3), nullptr);
  EXPECT_EQ(debugOutput().size(), 1u);
  EXPECT_EQ(freedBlocks().size(), 1u);  // the unrecorded block goes back to the heap
  runtime::platform::hooks.heapRequestsBeforeFailure = -1;
  ASSERT_EQ(LiveStringCount(), 2);
  EXPECT_EQ(LiveString(0), a);
  EXPECT_EQ(LiveString(1), b);
  ReleaseString(a);
  EXPECT_EQ(LiveString(0), b);
}

TEST_F(StringRegistry, CharStringUnderExhaustionGivesNullAndLeavesNothing) {
  runtime::platform::hooks.heapRequestsBeforeFailure = 2;  // own string, its table, then fail
  EXPECT_EQ(runtime::CharString(65), nullptr);
  runtime::platform::hooks.heapRequestsBeforeFailure = -1;
  EXPECT_EQ(LiveStringCount(), 0);
}

TEST_F(StringRegistry, ImpossibleLengthsGiveNull) {
  EXPECT_EQ(AllocString(-1), nullptr);
  EXPECT_EQ(AllocString(INT32_MAX), nullptr);
  EXPECT_EQ(LiveStringCount(), 0);
  EXPECT_EQ(debugOutput().size(), 2u);
}

TEST_F(StringRegistry, NoRoomMessageIsShiftJis) {
  EXPECT_EQ(AllocString(-1), nullptr);
  ASSERT_EQ(debugOutput().size(), 1u);
  EXPECT_EQ(debugOutput()[0],
            kivom_test::ShiftJisFromUtf8(u8"文字列の領域を確保できませんでした。/return"));
}

TEST_F(StringRegistry, ThreadsAllocatingAndReleasingKeepTheRegistryWhole) {
  constexpr int kThreads = 4, kRounds = 5000;
  runtime::platform::hooks.onHeapRelease = nullptr;
  TrackedString keep = AllocString(3);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kRounds; ++i) {
        TrackedString a = AllocString(t), b = runtime::CharString(static_cast<uint32_t>(i));
        ReleaseString(a);
        ReleaseString(b);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_EQ(LiveStringCount(), 1);
  EXPECT_EQ(LiveString(0), keep);
  EXPECT_TRUE(debugOutput().empty());
}

// A runtime whose very first table cannot be had still records strings once the heap
// recovers. Runs in a child process, since the runtime starts once per process.
TEST(StringRegistryStart, LostFirstTableIsTakenAfresh) {
  EXPECT_EXIT(
      {
        runtime::platform::hooks.onDebugOutput = [](const char*) {};
        runtime::platform::hooks.heapRequestsBeforeFailure = 0;
        runtime::RuntimeInit();
        runtime::platform::hooks.heapRequestsBeforeFailure = -1;
        TrackedString s = AllocString(0);
        const bool ok = s != nullptr && LiveStringCount() == 1 && LiveString(0) == s;
        std::_Exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
