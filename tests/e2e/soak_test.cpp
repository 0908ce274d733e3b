// A long run of exchanges in one run of the program (start-up, form and exchange in this
// process, so the string registry can be read), against a peer that answers in turn with
// an echo, silence, a 150-byte reply and a reply holding a zero byte. Nothing may pile up:
// the registry returns to its start-up count after every exchange, and handles and private
// memory stay within a small bound. The number of exchanges comes from KIVOM_SOAK_EXCHANGES.
#include <windows.h>
// After <windows.h>, whose types it uses.
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/main_form.h"
#include "app/startup.h"
#include "runtime/strings.h"
#include "runtime/testing.h"
#include "tests/e2e/peer_link.h"

namespace {

constexpr int kDefaultExchanges = 100;
constexpr int kStartUpStrings = 32;
constexpr DWORD kHandleGrowthBound = 16;
constexpr SIZE_T kPrivateMemoryGrowthBound = 1 << 20;  // 1 MiB
constexpr int kWarmUpExchanges = 8;  // the first exchanges load the serial stack's parts

struct Behaviour {
  const char* options;
  std::string (*expectedReply)(const std::string& sent);
};

std::string Pattern100(const std::string&) {
  std::string bytes;
  for (int i = 0; i < 100; ++i) bytes.push_back(static_cast<char>('A' + i % 26));
  return bytes;
}

const Behaviour kBehaviours[] = {
    {"--echo", [](const std::string& sent) { return sent; }},  // the request, shown up to CR
    {"--silent", [](const std::string&) { return std::string(); }},
    {"--long 150", Pattern100},
    {"--zero", [](const std::string&) { return std::string("AB"); }},
};

void PumpMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

std::string WindowText(int id) {
  char text[256] = {};
  GetWindowTextA(GetDlgItem(MainWindowHandle, id), text, sizeof text);
  return text;
}

// Open handles. Wine answers GetProcessHandleCount with 0, so when it does, the handle
// table is probed: a value that GetHandleInformation accepts is an open handle.
DWORD HandleCount() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return count;
  constexpr uintptr_t kHighestProbed = 0x10000;
  for (uintptr_t value = 4; value <= kHighestProbed; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

// Private memory: PrivateUsage, or the page-file usage where the platform leaves it 0
// (they are the same count on Windows).
SIZE_T PrivateMemory() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                       sizeof counters);
  return counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
}

int ExchangeCount() {
  const char* value = std::getenv("KIVOM_SOAK_EXCHANGES");
  return value != nullptr ? std::max(1, std::atoi(value)) : kDefaultExchanges;
}

TEST(Soak, ExchangesInARowLeaveNothingBehind) {
  ASSERT_TRUE(StartUp());
  ASSERT_EQ(runtime::LiveStringCount(), kStartUpStrings);
  HWND button = GetDlgItem(MainWindowHandle, StartButton);

  const int exchanges = ExchangeCount();
  std::vector<double> durations;
  DWORD handlesAfterWarmUp = 0;
  SIZE_T memoryAfterWarmUp = 0;
  int wrongReplies = 0, registryMismatches = 0;
  const auto runStart = std::chrono::steady_clock::now();

  for (int i = 0; i < exchanges; ++i) {
    const Behaviour& behaviour = kBehaviours[i % std::size(kBehaviours)];
    kivom_test::PeerBehaves(behaviour.options);
    const std::string sent = "soak " + std::to_string(i);
    SetWindowTextA(GetDlgItem(MainWindowHandle, TransmitEdit), sent.c_str());

    const size_t peerMark = kivom_test::PeerLogMark();
    const auto start = std::chrono::steady_clock::now();
    SendMessageA(button, BM_CLICK, 0, 0);  // the window procedure runs the exchange
    durations.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    PumpMessages();
    // The peer throws away what a closed exchange left unread (the rest of a 150-byte reply)
    // when it sees the close; on a busy machine it may see it late, so the next press waits
    // for it, or the leftovers would be the next exchange's reply.
    kivom_test::PeerEventsSince(peerMark, "close", 1);

    if (runtime::LiveStringCount() != kStartUpStrings && ++registryMismatches <= 3) {
      ADD_FAILURE() << "exchange " << i << ": " << runtime::LiveStringCount() << " live strings";
    }
    const std::string shown = WindowText(ReceiveEdit);
    const std::string expected = behaviour.expectedReply(sent);
    // An echo carries the carriage return; the box may show it or stop before it.
    const bool matches = shown == expected || shown == expected + "\r";
    if (!matches && ++wrongReplies <= 3) {
      ADD_FAILURE() << "exchange " << i << " (" << behaviour.options << ") showed '" << shown
                    << "'";
    }
    if (i + 1 == std::min(kWarmUpExchanges, exchanges)) {
      handlesAfterWarmUp = HandleCount();
      memoryAfterWarmUp = PrivateMemory();
    }
  }
  const double minutes =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - runStart).count() / 60;

  // Still answers.
  kivom_test::PeerBehaves("--reply-text still-here");
  SendMessageA(button, BM_CLICK, 0, 0);
  EXPECT_EQ(WindowText(ReceiveEdit), "still-here");
  EXPECT_EQ(runtime::LiveStringCount(), kStartUpStrings);
  EXPECT_EQ(wrongReplies, 0);
  EXPECT_EQ(registryMismatches, 0);

  const DWORD handles = HandleCount();
  const SIZE_T memory = PrivateMemory();
  const long handleGrowth = static_cast<long>(handles) - static_cast<long>(handlesAfterWarmUp);
  const long long memoryGrowth =
      static_cast<long long>(memory) - static_cast<long long>(memoryAfterWarmUp);
  EXPECT_LE(handleGrowth, static_cast<long>(kHandleGrowthBound));
  EXPECT_LE(memoryGrowth, static_cast<long long>(kPrivateMemoryGrowthBound));

  std::vector<double> sorted = durations;
  std::sort(sorted.begin(), sorted.end());
  std::printf("soak: %d exchanges, %.0f per minute, median %.0f ms, slowest %.0f ms\n", exchanges,
              exchanges / minutes, sorted[sorted.size() / 2], sorted.back());
  std::printf("soak: registry %d live strings after every exchange: %s\n", kStartUpStrings,
              registryMismatches == 0 ? "yes" : "no");
  std::printf(
      "soak: handles %lu -> %lu (growth %ld, bound %lu), private memory %zu -> %zu bytes "
      "(growth %lld, bound %zu)\n",
      static_cast<unsigned long>(handlesAfterWarmUp), static_cast<unsigned long>(handles),
      handleGrowth, static_cast<unsigned long>(kHandleGrowthBound),
      static_cast<size_t>(memoryAfterWarmUp), static_cast<size_t>(memory), memoryGrowth,
      static_cast<size_t>(kPrivateMemoryGrowthBound));

  PostMessageA(MainWindowHandle, WM_CLOSE, 0, 0);
  EXPECT_TRUE(kivom_test::LoopEndsWithin(kivom_test::kStateWaitMs, MainLoop));
  EXPECT_EQ(LoopResult, 0);
}

}  // namespace
