// Waiting for a state with a deadline. A machine busy with other work can take many times
// longer than a quiet one to reach a state, so the tests read until what they check holds,
// and a deadline, long enough only to end a wait that can no longer succeed, says what was
// awaited and what was seen last.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace kivom_test {

// For states that come within a second or two on a quiet machine.
constexpr DWORD kStateWaitMs = 30000;
constexpr DWORD kPollMs = 20;

// Reads `read()` until `done(value)` holds or `milliseconds` have passed; the last value read.
template <typename Read, typename Done>
auto WaitUntil(DWORD milliseconds, Read read, Done done) {
  const DWORD start = GetTickCount();
  for (;;) {
    auto value = read();
    if (done(value) || GetTickCount() - start >= milliseconds) return value;
    Sleep(kPollMs);
  }
}

// Waits until `read()` equals `expected`. The failure names what was awaited (`awaited`),
// the value awaited and the last value seen.
template <typename T, typename Read>
testing::AssertionResult Eventually(const std::string& awaited, const T& expected, Read read,
                                    DWORD milliseconds = kStateWaitMs) {
  const auto seen =
      WaitUntil(milliseconds, read, [&](const auto& value) { return value == expected; });
  if (seen == expected) return testing::AssertionSuccess();
  return testing::AssertionFailure()
         << "awaited " << awaited << " to be " << testing::PrintToString(expected) << " for "
         << milliseconds << " ms; saw " << testing::PrintToString(seen);
}

// The quickest of up to `tries` runs of `measure` (a duration in ms), stopping at the first
// within `boundMs`. A busy machine can only lengthen a run, so the quickest of a few is the
// program's own time.
template <typename Measure>
double QuickestRun(int tries, double boundMs, Measure measure) {
  double quickest = measure();
  for (int i = 1; i < tries && quickest > boundMs; ++i) quickest = std::min(quickest, measure());
  return quickest;
}

namespace detail {
inline bool loopTimedOut = false;
inline void CALLBACK EndLoop(HWND, UINT, UINT_PTR, DWORD) {
  loopTimedOut = true;
  PostQuitMessage(0);
}
}  // namespace detail

// Runs `loop` (a message loop of this thread) with a watchdog: a loop still running after
// `milliseconds` is ended with a quit message, and the failure says so.
inline testing::AssertionResult LoopEndsWithin(DWORD milliseconds, void (*loop)()) {
  detail::loopTimedOut = false;
  const UINT_PTR timer = SetTimer(nullptr, 0, milliseconds, detail::EndLoop);
  loop();
  KillTimer(nullptr, timer);
  if (!detail::loopTimedOut) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "awaited the end of the message loop for " << milliseconds
                                     << " ms; it was still running and a watchdog ended it";
}

}  // namespace kivom_test
