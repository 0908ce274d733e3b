// A fixture for tests of the tracked strings: the runtime is started once per program,
// each test begins with an empty registry, and the platform's heap frees, debug output
// and message boxes are recorded instead of reaching the platform.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/strings.h"
#include "runtime/testing.h"

struct RecordedBox {
  void* owner;
  std::string text;
  bool hasCaption;
  std::string caption;
  uint32_t style;
};

class RegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    static const bool started = [] {
      runtime::RuntimeInit();
      return true;
    }();
    (void)started;
    while (runtime::LiveStringCount() > 0) runtime::ReleaseString(runtime::LiveString(0));
    debugOutput().clear();
    freedBlocks().clear();
    boxes().clear();
    runtime::platform::hooks = {};
    runtime::platform::hooks.onDebugOutput = [](const char* text) {
      debugOutput().push_back(text);
    };
    runtime::platform::hooks.onHeapRelease = [](void* block) { freedBlocks().push_back(block); };
    runtime::platform::hooks.onMessageBox = [](void* owner, const char* text, const char* caption,
                                               uint32_t style) {
      boxes().push_back({owner, text != nullptr ? text : "", caption != nullptr,
                         caption != nullptr ? caption : "", style});
      return int32_t{1};  // IDOK
    };
  }
  void TearDown() override { runtime::platform::hooks = {}; }

  static std::vector<std::string>& debugOutput() {
    static std::vector<std::string> lines;
    return lines;
  }
  static std::vector<void*>& freedBlocks() {
    static std::vector<void*> blocks;
    return blocks;
  }
  static std::vector<RecordedBox>& boxes() {
    static std::vector<RecordedBox> recorded;
    return recorded;
  }
  static void* BlockOf(runtime::TrackedString s) { return s - 4; }

  // A string holding `bytes` (zero bytes included), with exactly their length.
  static runtime::TrackedString Make(const std::string& bytes) {
    runtime::TrackedString s = runtime::AllocString(static_cast<int32_t>(bytes.size()));
    for (size_t i = 0; i < bytes.size(); ++i) s[i] = bytes[i];
    return s;
  }
  static std::string Bytes(runtime::TrackedString s) {
    return std::string(s, static_cast<size_t>(runtime::StringLength(s)));
  }
};
