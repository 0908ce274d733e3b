#include "tests/e2e/peer_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kivom_test {
namespace {

// A Unix path from the environment, as Wine's drive Z: shows it.
std::string PathFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) {
    ADD_FAILURE() << name << " is not set: run this test through tests/e2e/with-line.sh";
    return "";
  }
  std::string path = std::string("Z:") + value;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

constexpr char kPeerLog[] = "KIVOM_PEER_LOG";

std::string ReadLog(const char* variable) {
  std::ifstream log(PathFromEnvironment(variable), std::ios::binary);
  std::ostringstream text;
  text << log.rdbuf();
  return text.str();
}

std::vector<PeerEvent> Parse(const std::string& text) {
  std::vector<PeerEvent> events;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    PeerEvent event{};
    if (!(words >> event.seconds >> event.kind)) continue;
    std::getline(words >> std::ws, event.rest);
    events.push_back(event);
  }
  return events;
}

}  // namespace

void PeerBehaves(const std::string& options) {
  const std::string path = PathFromEnvironment("KIVOM_PEER_CONTROL");
  const std::string temporary = path + ".new";
  {
    std::ofstream control(temporary, std::ios::binary | std::ios::trunc);
    control << options << "\n";
  }
  // Replaced whole, so the peer never reads half a line.
  MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

size_t PeerLogMark() { return LogMark(kPeerLog); }

std::vector<PeerEvent> PeerEventsSince(size_t mark, const std::string& untilKind, int count,
                                       DWORD milliseconds) {
  return LogEventsSince(kPeerLog, mark, untilKind, count, milliseconds);
}

size_t LogMark(const char* variable) { return ReadLog(variable).size(); }

std::vector<PeerEvent> LogEventsSince(const char* variable, size_t mark,
                                      const std::string& untilKind, int count, DWORD milliseconds) {
  const auto kindCount = [&](const std::vector<PeerEvent>& events) {
    return std::count_if(events.begin(), events.end(),
                         [&](const PeerEvent& event) { return event.kind == untilKind; });
  };
  std::vector<PeerEvent> events = WaitUntil(
      milliseconds,
      [&] {
        const std::string text = ReadLog(variable);
        // Only whole lines: the writer may be in the middle of the last one.
        const size_t end = text.rfind('\n');
        return end == std::string::npos || end < mark ? std::vector<PeerEvent>{}
                                                      : Parse(text.substr(mark, end + 1 - mark));
      },
      [&](const std::vector<PeerEvent>& seen) { return kindCount(seen) >= count; });
  if (kindCount(events) < count) {
    std::string kinds;
    for (const PeerEvent& event : events) kinds += " " + event.kind;
    ADD_FAILURE() << "awaited " << count << " \"" << untilKind << "\" events in the log "
                  << variable << " names, for " << milliseconds << " ms; saw"
                  << (kinds.empty() ? " none" : kinds);
  }
  return events;
}

std::string EventBytes(const PeerEvent& event) {
  std::string bytes;
  std::istringstream hex(event.rest);
  std::string pair;
  while (hex >> pair) bytes.push_back(static_cast<char>(std::stoi(pair, nullptr, 16)));
  return bytes;
}

}  // namespace kivom_test
