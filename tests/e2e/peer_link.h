// The serial peer at the far end of COM1, seen from a Windows test through Wine's drive
// Z:: its control file (how it answers the next request) and its log (what it saw).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/wait.h"

namespace kivom_test {

struct PeerEvent {
  double seconds;    // since the peer started
  std::string kind;  // open, close, settings, request, reply, discarded, ...
  std::string rest;  // the words after the kind
};

// Sets how the peer answers from the next request on: its command-line behaviour options,
// such as "--echo" or "--reply-text OK".
void PeerBehaves(const std::string& options);

// The size of the log now; events after it are the ones a later action caused.
size_t PeerLogMark();

// The events logged after `mark`, waiting until `count` events of kind `untilKind` are among
// them; a failure after `milliseconds` lists the events seen.
std::vector<PeerEvent> PeerEventsSince(size_t mark, const std::string& untilKind, int count,
                                       DWORD milliseconds = kStateWaitMs);

// The same for another log of that shape (such as the line recorder's), found through the
// environment variable `variable`.
size_t LogMark(const char* variable);
std::vector<PeerEvent> LogEventsSince(const char* variable, size_t mark,
                                      const std::string& untilKind, int count, DWORD milliseconds);

// The bytes of a "request" or "reply" event ("41 42 0d" becomes "AB\r").
std::string EventBytes(const PeerEvent& event);

}  // namespace kivom_test
