#include "tests/runtime/registry_fixture.h"
#include "tests/support/shift_jis.h"

namespace {

using runtime::LiveStringCount;
using runtime::TrackedString;

using StringOperators = RegistryTest;

TEST_F(StringOperators, JoiningTwoEmptyStringsLeavesOneNewEmptyString) {
  TrackedString left = Make(""), right = Make("");
  TrackedString joined = runtime::ConcatStrings(left, right);
  ASSERT_NE(joined, nullptr);
  EXPECT_EQ(runtime::StringLength(joined), 0);
  EXPECT_EQ(LiveStringCount(), 1);
  EXPECT_EQ(runtime::LiveString(0), joined);
  EXPECT_EQ(freedBlocks(), (std::vector<void*>{BlockOf(left), BlockOf(right)}));
}

TEST_F(StringOperators, JoiningKeepsOrderAndZeroBytes) {
  TrackedString joined = runtime::ConcatStrings(Make("ab"), Make("cd"));
  EXPECT_EQ(Bytes(joined), "abcd");
  EXPECT_EQ(joined[4], '\0');

  TrackedString withZero = runtime::ConcatStrings(Make(std::string("x\0y", 3)), Make("z"));
  EXPECT_EQ(Bytes(withZero), std::string("x\0yz", 4));
  EXPECT_EQ(LiveStringCount(), 2);
  EXPECT_TRUE(debugOutput().empty());
}

TEST_F(StringOperators, JoiningUnderExhaustionStillConsumesTheOperands) {
  TrackedString left = Make("ab"), right = Make("cd");
  runtime::platform::hooks.heapRequestsBeforeFailure = 0;
  EXPECT_EQ(runtime::ConcatStrings(left, right), nullptr);
  runtime::platform::hooks.heapRequestsBeforeFailure = -1;
  EXPECT_EQ(LiveStringCount(), 0);
}

TEST_F(StringOperators, EqualStringsCompareEqualAndAreConsumed) {
  EXPECT_EQ(runtime::CompareStrings(Make("same"), Make("same")), 2);
  EXPECT_EQ(LiveStringCount(), 0);

  freedBlocks().clear();
  TrackedString left = Make("same");
  TrackedString right = Make("same");
  EXPECT_EQ(runtime::CompareStringsKeepLeft(left, right), 2);
  ASSERT_EQ(LiveStringCount(), 1);
  EXPECT_EQ(runtime::LiveString(0), left);
  EXPECT_EQ(freedBlocks(), std::vector<void*>{BlockOf(right)});
}

TEST_F(StringOperators, CompareReleasesLeftThenRight) {
  TrackedString left = Make("a"), right = Make("b");
  runtime::CompareStrings(left, right);
  EXPECT_EQ(freedBlocks(), (std::vector<void*>{BlockOf(left), BlockOf(right)}));
}

TEST_F(StringOperators, OrderFollowsTheText) {
  EXPECT_EQ(runtime::CompareStrings(Make("apple"), Make("banana")), 1);
  EXPECT_EQ(runtime::CompareStrings(Make("banana"), Make("apple")), 3);
  EXPECT_EQ(runtime::CompareStrings(Make("ab"), Make("abc")), 1);
  EXPECT_EQ(runtime::CompareStrings(Make(""), Make("a")), 1);
  // Japanese text in Shift-JIS: あ sorts before い.
  EXPECT_EQ(runtime::CompareStrings(Make(kivom_test::ShiftJisFromUtf8(u8"あ")),
                                    Make(kivom_test::ShiftJisFromUtf8(u8"い"))),
            1);
  EXPECT_EQ(runtime::CompareStrings(Make(kivom_test::ShiftJisFromUtf8(u8"通信")),
                                    Make(kivom_test::ShiftJisFromUtf8(u8"通信"))),
            2);
}

TEST_F(StringOperators, LengthsComeFromTheLengthFields) {
  // Bytes after a zero byte still count: these differ only past it.
  EXPECT_NE(runtime::CompareStrings(Make(std::string("a\0b", 3)), Make(std::string("a\0c", 3))), 2);
  EXPECT_EQ(runtime::CompareStrings(Make(std::string("a\0b", 3)), Make(std::string("a\0b", 3))), 2);
}

}  // namespace
