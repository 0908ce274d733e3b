// serial-peer: the device at the far end of a serial link, played on a pseudo-terminal.
//
// The other program opens the terminal's slave end, configures it, writes a request ending in a
// carriage return, reads the reply and closes the slave again. The peer keeps only the master
// end open: while nobody holds the slave the master reports POLLHUP, which is how opens and
// closes of the other end are seen. A close followed at once by an open shows no hang-up at all,
// so an inotify watch on the slave also counts its opens and closes, in order.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "line_settings.h"
#include "options.h"
#include "unique_fd.h"

namespace serial_peer {
namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr char kRequestEnd = '\r';
constexpr int kClosedPollMs = 5;     // how often to look for an open while nobody holds the slave
constexpr int kSettingsPollMs = 10;  // how often to look at the line settings while it is held
constexpr int kWriteWaitMs = 1000;   // longest single wait for room to write
constexpr size_t kReadChunk = 4096;
constexpr size_t kLoggedReplyMax = 100;  // longer replies are logged as a byte count
constexpr size_t kFloodChunk = 26 * 64;  // whole rounds of the pattern, so chunks join up
constexpr mode_t kLogFileMode = 0644;

// Process-wide log: the file descriptor written to, the time stamps' origin and the last event.
int LogFd = STDERR_FILENO;
Clock::time_point StartTime;
std::string LastEvent;

// Writes one event as one line, "<seconds since start> <event>".
void Log(std::string_view event) {
  const long long ms = std::chrono::duration_cast<Milliseconds>(Clock::now() - StartTime).count();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%lld.%03lld ", ms / 1000, ms % 1000);
  std::string line = stamp;
  line.append(event);
  line.push_back('\n');
  LastEvent = event;
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = write(LogFd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void LogError(std::string_view what) { Log("error " + std::string(what) + ": " + strerror(errno)); }

struct Peer {
  Options options;
  Behaviour behaviour;  // the one that answered the last request
  UniqueFd master;
  UniqueFd signals;  // signalfd for SIGTERM and SIGINT
  std::string slave_path;
  bool held = false;          // the other end holds the slave open
  UniqueFd watch;             // inotify on the slave; closed when it cannot be trusted
  int holders = 0;            // open files of the slave, as the watch has counted them
  bool close_unseen = false;  // the watch saw the last holder go, and no close has been logged
  bool stop = false;
  bool failed = false;
  std::string input;     // received bytes not yet answered
  std::string settings;  // the settings last logged
};

enum class Wake { kTimeout, kReady, kHangup, kStop };
enum class Outcome { kDone, kClosed, kStop };

// --- Line settings

// Logs the settings when they changed since last logged, or with `always` unless they are the
// last line of the log already.
void LogSettings(Peer& peer, bool always) {
  // On Linux the termios calls on a master act on its slave, so this is the line as the other
  // end set it.
  termios t{};
  std::string settings = tcgetattr(peer.master.Get(), &t) == 0
                             ? DescribeSettings(t, ArbitrarySpeed(peer.master.Get()))
                             : "unknown";
  const std::string event = "settings " + settings;
  if (settings == peer.settings && (!always || event == LastEvent)) return;
  Log(event);
  peer.settings = std::move(settings);
}

// --- Waiting

void Stop(Peer& peer, std::string_view why) {
  Log(why);
  peer.stop = true;
}

void Fail(Peer& peer, std::string_view what) {
  LogError(what);
  peer.failed = true;
  peer.stop = true;
}

// Waits until `until` for `events` on `fd`, a hang-up on it or a stop signal. With `fd` < 0 it
// only sleeps, still woken by a stop.
Wake WaitUntil(Peer& peer, int fd, short events, Clock::time_point until) {
  for (;;) {
    if (peer.stop) return Wake::kStop;
    const Clock::time_point now = Clock::now();
    if (now >= until) return Wake::kTimeout;
    // Round up, so the wait never ends early.
    const auto wait = std::chrono::ceil<Milliseconds>(until - now).count();
    pollfd fds[] = {{fd, events, 0}, {peer.signals.Get(), POLLIN, 0}};
    const int ready = poll(fds, 2, static_cast<int>(std::min<long long>(wait, INT_MAX)));
    if (ready < 0 && errno != EINTR) {
      Fail(peer, "poll");
      return Wake::kStop;
    }
    if (ready <= 0) continue;
    if (fds[1].revents & POLLIN) {
      signalfd_siginfo info{};
      if (read(peer.signals.Get(), &info, sizeof info) < 0) info.ssi_signo = 0;
      Stop(peer, std::string("signal ") + (info.ssi_signo == SIGINT ? "INT" : "TERM"));
      return Wake::kStop;
    }
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return Wake::kHangup;
    if (fds[0].revents & events) return Wake::kReady;
  }
}

Wake WaitFor(Peer& peer, int fd, short events, int ms) {
  return WaitUntil(peer, fd, events, Clock::now() + Milliseconds(ms));
}

// Whether nobody holds the slave open now.
bool Hungup(const Peer& peer) {
  pollfd fd = {peer.master.Get(), 0, 0};
  return poll(&fd, 1, 0) > 0 && (fd.revents & (POLLHUP | POLLERR));
}

// --- Opens and closes of the other end

// Moves what the other end has written into peer.input; stops at EIO, which a master gives once
// the slave is closed and everything it wrote has been read.
void ReadInput(Peer& peer) {
  char buffer[kReadChunk];
  for (;;) {
    const ssize_t n = read(peer.master.Get(), buffer, sizeof buffer);
    if (n > 0) {
      peer.input.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EIO) LogError("read");
    return;
  }
}

// Takes in the opens and closes of the slave that the watch has queued.
void ReadWatch(Peer& peer) {
  alignas(inotify_event) char buffer[kReadChunk];
  while (peer.watch.Get() >= 0) {
    const ssize_t n = read(peer.watch.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    for (size_t at = 0; at < static_cast<size_t>(n);) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      at += sizeof event + event.len;
      if (event.mask & IN_Q_OVERFLOW) {
        // Events were lost, so the count is no longer known: the hang-ups alone must serve.
        peer.watch.Reset();
        peer.close_unseen = false;
        return;
      }
      if (event.mask & IN_OPEN) ++peer.holders;
      if ((event.mask & IN_CLOSE) && peer.holders > 0 && --peer.holders == 0) {
        peer.close_unseen = true;
      }
    }
  }
}

// Whether someone holds the slave again after a close that has not been logged yet.
bool Reopened(Peer& peer) {
  ReadWatch(peer);
  return peer.watch.Get() >= 0 && peer.close_unseen && peer.holders > 0;
}

void OnOpen(Peer& peer) {
  peer.held = true;
  // Nothing written while nobody held the slave may reach this open.
  if (!peer.options.keep_unread) tcflush(peer.master.Get(), TCOFLUSH);
  Log("open");
  LogSettings(peer, true);
}

// Throws away reply bytes the other end did not read, which would otherwise wait for its next
// open: first those still on their way (the master's output flush), then those already in the
// slave's input queue (re-applying the slave's own settings with a flush of its input). The
// settings are only written back while nobody holds the slave, so they cannot undo a new open's.
void DiscardUnreadReply(const Peer& peer) {
  if (peer.options.keep_unread) return;
  const int master = peer.master.Get();
  tcflush(master, TCOFLUSH);
  termios t{};
  if (tcgetattr(master, &t) == 0 && Hungup(peer)) tcsetattr(master, TCSAFLUSH, &t);
}

// Leaves the line as a program that used it before might have: fast, with parity, two stop bits
// and every flow control on, so that the next open finds none of the settings it needs.
void LeaveLineUsed(const Peer& peer) {
  termios t{};
  if (!peer.options.used_line || tcgetattr(peer.master.Get(), &t) != 0) return;
  cfsetspeed(&t, B115200);
  t.c_cflag |= PARENB | CSTOPB | CRTSCTS;
  t.c_iflag |= IXON | IXOFF;
  if (tcsetattr(peer.master.Get(), TCSANOW, &t) != 0) {
    LogError("used line");
  } else if (tcgetattr(peer.master.Get(), &t) == 0) {
    Log("used " + DescribeSettings(t));
  }
}

void OnClose(Peer& peer) {
  // After a reopen the bytes waiting on the master are the new holder's: the old one's request
  // was answered before it closed.
  if (!Reopened(peer)) ReadInput(peer);
  peer.held = false;
  peer.close_unseen = false;
  DiscardUnreadReply(peer);
  // Like the settings written back above, only while nobody holds the slave.
  if (Hungup(peer)) LeaveLineUsed(peer);
  Log("close");
  if (!peer.input.empty()) Log("discarded " + HexBytes(peer.input));
  peer.input.clear();
}

// --- Replies

// The behaviour for the next reply: the control file's first line when the file exists and that
// line is good, the last good behaviour when it is bad, the command line's when there is no file.
const Behaviour& CurrentBehaviour(Peer& peer) {
  const std::string& path = peer.options.control_path;
  if (path.empty()) return peer.behaviour;
  FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    if (errno == ENOENT) {
      peer.behaviour = peer.options.behaviour;
    } else {
      LogError("control " + path);
    }
    return peer.behaviour;
  }
  std::string line;
  for (int c = std::fgetc(file); c != EOF && c != '\n'; c = std::fgetc(file)) {
    line.push_back(static_cast<char>(c));
  }
  std::fclose(file);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  Behaviour behaviour;
  if (std::string error = ParseControlLine(line, behaviour); !error.empty()) {
    Log("error control: " + error + ": " + line);
    return peer.behaviour;
  }
  Log("control " + line);
  peer.behaviour = std::move(behaviour);
  return peer.behaviour;
}

// Writes `data` from `written` on, waiting for room as needed, unless the other end closes.
Outcome WriteAll(Peer& peer, std::string_view data, size_t& written) {
  while (written < data.size()) {
    // A byte written with nobody holding the slave would be delivered to the next open.
    if (Hungup(peer)) return Outcome::kClosed;
    const ssize_t n = write(peer.master.Get(), data.data() + written, data.size() - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      const Wake wake = WaitFor(peer, peer.master.Get(), POLLOUT, kWriteWaitMs);
      if (wake == Wake::kStop) return Outcome::kStop;
      if (wake == Wake::kHangup) return Outcome::kClosed;
    } else if (n < 0 && errno == EIO) {
      return Outcome::kClosed;
    } else if (n < 0 && errno != EINTR) {
      Fail(peer, "write");
      return Outcome::kStop;
    }
  }
  return Outcome::kDone;
}

void LogDropped() { Log("dropped reply: other end closed"); }

void LogReply(std::string_view sent) {
  if (sent.size() > kLoggedReplyMax) {
    Log("reply " + std::to_string(sent.size()) + " bytes");
  } else if (!sent.empty()) {
    Log("reply " + HexBytes(sent));
  }
}

// Sends `reply` at once or, with a gap, one byte at a time.
Outcome SendReply(Peer& peer, std::string_view reply, int byte_gap_ms) {
  size_t written = 0;
  Outcome outcome = Outcome::kDone;
  while (outcome == Outcome::kDone && written < reply.size()) {
    if (byte_gap_ms > 0 && written > 0) {
      const Wake wake = WaitFor(peer, peer.master.Get(), 0, byte_gap_ms);
      if (wake == Wake::kStop) outcome = Outcome::kStop;
      if (wake == Wake::kHangup) outcome = Outcome::kClosed;
      if (wake != Wake::kTimeout) break;
    }
    const size_t end = byte_gap_ms > 0 ? written + 1 : reply.size();
    outcome = WriteAll(peer, reply.substr(0, end), written);
  }
  LogReply(reply.substr(0, written));
  if (outcome == Outcome::kClosed) LogDropped();
  return outcome;
}

// Sends the pattern without pause until the other end closes.
Outcome Flood(Peer& peer) {
  std::string chunk;
  for (size_t i = 0; i < kFloodChunk; ++i) chunk.push_back(PatternByte(static_cast<long long>(i)));
  long long sent = 0;
  Outcome outcome = Outcome::kDone;
  while (outcome == Outcome::kDone) {
    size_t written = 0;
    outcome = WriteAll(peer, chunk, written);
    sent += static_cast<long long>(written);
  }
  Log("reply " + std::to_string(sent) + " bytes");
  return outcome;
}

Outcome Answer(Peer& peer, const std::string& request) {
  const Behaviour& behaviour = CurrentBehaviour(peer);
  switch (behaviour.kind) {
    case ReplyKind::kSilent:
      return Outcome::kDone;
    case ReplyKind::kVanish:
      Log("vanish");
      peer.master.Reset();
      peer.held = false;
      peer.stop = true;
      return Outcome::kStop;
    default:
      break;
  }
  if (behaviour.delay_ms > 0) {
    const Wake wake = WaitFor(peer, peer.master.Get(), 0, behaviour.delay_ms);
    if (wake == Wake::kStop) return Outcome::kStop;
    if (wake == Wake::kHangup) {
      LogDropped();
      return Outcome::kClosed;
    }
  }
  if (behaviour.kind == ReplyKind::kFlood) return Flood(peer);
  const std::string& reply = behaviour.kind == ReplyKind::kEcho ? request : behaviour.bytes;
  return SendReply(peer, reply, behaviour.byte_gap_ms);
}

// Answers every complete request in peer.input, in order.
void AnswerRequests(Peer& peer) {
  size_t end = 0;
  while (peer.held && !peer.stop && (end = peer.input.find(kRequestEnd)) != std::string::npos) {
    const std::string request = peer.input.substr(0, end + 1);
    peer.input.erase(0, end + 1);
    LogSettings(peer, true);
    Log("request " + HexBytes(request));
    if (Answer(peer, request) == Outcome::kClosed) OnClose(peer);
  }
}

void Serve(Peer& peer) {
  while (!peer.stop) {
    if (!peer.held) {
      pollfd master = {peer.master.Get(), POLLIN, 0};
      if (poll(&master, 1, 0) < 0) {
        Fail(peer, "poll");
      } else if (!(master.revents & (POLLHUP | POLLERR))) {
        OnOpen(peer);
      } else if (master.revents & POLLIN) {
        // Input while nobody holds the slave: the other end opened, wrote and closed again
        // between two looks.
        OnOpen(peer);
        OnClose(peer);
      } else {
        WaitFor(peer, -1, 0, kClosedPollMs);
      }
      continue;
    }
    const Wake wake = WaitFor(peer, peer.master.Get(), POLLIN, kSettingsPollMs);
    if (wake == Wake::kStop) break;
    if (Reopened(peer)) {
      // Closed and opened again between two looks: the master never showed the hang-up.
      OnClose(peer);
      OnOpen(peer);
      continue;
    }
    if (wake == Wake::kTimeout) {
      // Catches the other end configuring the line after its open.
      LogSettings(peer, false);
      continue;
    }
    ReadInput(peer);
    AnswerRequests(peer);
    if (peer.held && wake == Wake::kHangup) OnClose(peer);
  }
}

// --- Start-up

int UsageError(const std::string& message) {
  std::fprintf(stderr, "serial-peer: %s (try --help)\n", message.c_str());
  return kExitUsage;
}

int StartupError(const std::string& what) {
  std::fprintf(stderr, "serial-peer: %s: %s\n", what.c_str(), strerror(errno));
  return kExitFailure;
}

// Creates the terminal pair and keeps only the master; the slave stays free for the other end.
bool OpenTerminal(Peer& peer) {
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return false;
  peer.master.Reset(master);
  UniqueFd slave_fd(slave);
  const char* name = ttyname(slave);
  if (name == nullptr) return false;
  peer.slave_path = name;
  // Raw until the other end configures the line, so nothing is echoed back or translated.
  termios t{};
  if (tcgetattr(slave, &t) != 0) return false;
  cfmakeraw(&t);
  if (tcsetattr(slave, TCSANOW, &t) != 0) return false;
  LeaveLineUsed(peer);
  return fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) == 0 &&
         fcntl(master, F_SETFD, FD_CLOEXEC) == 0;
}

// Stop signals are taken through a signalfd, so every wait can be woken by them.
bool TakeStopSignals(Peer& peer) {
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  if (sigprocmask(SIG_BLOCK, &stop_signals, nullptr) != 0) return false;
  peer.signals.Reset(signalfd(-1, &stop_signals, SFD_CLOEXEC | SFD_NONBLOCK));
  // A reader of the first line that goes away must not end the peer.
  signal(SIGPIPE, SIG_IGN);
  return peer.signals.Get() >= 0;
}

int Run(int argc, char** argv) {
  StartTime = Clock::now();
  Peer peer;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (std::string error = ParseCommandLine(args, peer.options); !error.empty()) {
    return UsageError(error);
  }
  if (peer.options.help) {
    std::fputs(Usage().c_str(), stdout);
    return 0;
  }
  peer.behaviour = peer.options.behaviour;
  UniqueFd log_file;
  if (!peer.options.log_path.empty()) {
    log_file.Reset(open(peer.options.log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                        kLogFileMode));
    if (log_file.Get() < 0) {
      return UsageError("cannot open log " + peer.options.log_path + ": " + strerror(errno));
    }
    LogFd = log_file.Get();
  }
  if (!TakeStopSignals(peer)) return StartupError("signals");
  if (!OpenTerminal(peer)) return StartupError("pseudo-terminal");
  // Without a watch (no inotify) the peer still works, but may miss a quick close and reopen.
  peer.watch.Reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (peer.watch.Get() >= 0 &&
      inotify_add_watch(peer.watch.Get(), peer.slave_path.c_str(), IN_OPEN | IN_CLOSE) < 0) {
    peer.watch.Reset();
  }
  Log("start path=" + peer.slave_path);
  std::printf("%s\n", peer.slave_path.c_str());
  std::fflush(stdout);

  Serve(peer);

  Log("exit");
  return peer.failed ? kExitFailure : 0;
}

}  // namespace
}  // namespace serial_peer

int main(int argc, char** argv) { return serial_peer::Run(argc, argv); }
