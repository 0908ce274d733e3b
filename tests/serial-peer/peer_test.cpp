// serial-peer run as a child process, with the tests playing the other end of the line: open the
// terminal, configure it, write a request, read the reply, close.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "line_settings.h"
#include "unique_fd.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;
using serial_peer::UniqueFd;

constexpr char kPeerProgram[] = SERIAL_PEER_PATH;
constexpr int kStartMs = 5000;  // for the peer to print its terminal
constexpr int kReplyMs = 2000;  // for an expected reply; the wait ends as soon as it is complete
constexpr int kEventMs = 2000;  // for an expected log event
constexpr int kQuietMs = 300;   // to be sure nothing more comes
constexpr int kExitMs = 3000;

int ElapsedMs(Clock::time_point since) {
  return static_cast<int>(std::chrono::duration_cast<Milliseconds>(Clock::now() - since).count());
}

// Reads `fd` until `max` bytes or `ms` have passed, or until end of file or EIO (`ended`), or
// until a byte `until`.
std::string ReadFor(int fd, size_t max, int ms, bool* ended = nullptr, int until = -1) {
  std::string bytes;
  const Clock::time_point start = Clock::now();
  char buffer[4096];
  while (bytes.size() < max) {
    const int left = ms - ElapsedMs(start);
    if (left <= 0) break;
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) continue;
    const size_t size = until >= 0 ? 1 : std::min(sizeof buffer, max - bytes.size());
    const ssize_t n = read(fd, buffer, size);
    if (n > 0) {
      bytes.append(buffer, static_cast<size_t>(n));
      if (buffer[0] == until) break;
    } else if (n == 0 || errno != EAGAIN) {
      if (ended != nullptr) *ended = true;
      break;
    }
  }
  return bytes;
}

// Waits up to `ms` for the child to end; its exit code, or -1 if it is still running or was
// killed by a signal.
int WaitExit(pid_t& pid, int ms) {
  const Clock::time_point start = Clock::now();
  for (;;) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (ElapsedMs(start) > ms) return -1;
    std::this_thread::sleep_for(Milliseconds(5));
  }
}

struct Spawned {
  pid_t pid = -1;
  UniqueFd out;
  UniqueFd err;
};

Spawned Spawn(const std::vector<std::string>& args) {
  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(kPeerProgram));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  Spawned child;
  if (posix_spawn(&child.pid, kPeerProgram, &actions, nullptr, argv.data(), environ) != 0) {
    child.pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  child.out.Reset(out[0]);
  child.err.Reset(err[0]);
  return child;
}

// A running serial-peer with its log in a directory of its own; "$DIR" in an argument stands
// for that directory.
class Peer {
 public:
  explicit Peer(std::vector<std::string> args) {
    char dir[] = "/tmp/serial-peer-test.XXXXXX";
    if (mkdtemp(dir) != nullptr) dir_ = dir;
    for (std::string& arg : args) {
      if (arg.rfind("$DIR", 0) == 0) arg.replace(0, 4, dir_);
    }
    args.push_back("--log");
    args.push_back(LogPath());
    child_ = Spawn(args);
    const std::string line = ReadFor(child_.out.Get(), PATH_MAX, kStartMs, nullptr, '\n');
    terminal_ = line.substr(0, line.find('\n'));
  }
  ~Peer() {
    if (child_.pid > 0) {
      kill(child_.pid, SIGKILL);
      waitpid(child_.pid, nullptr, 0);
    }
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }

  const std::string& Terminal() const { return terminal_; }
  std::string File(const char* name) const { return dir_ + "/" + name; }
  std::string LogPath() const { return File("peer.log"); }

  // The log's events, without their time stamps.
  std::vector<std::string> Events() const {
    std::vector<std::string> events;
    std::ifstream log(LogPath());
    for (std::string line; std::getline(log, line);) {
      events.push_back(line.substr(line.find(' ') + 1));
    }
    return events;
  }

  // Waits up to `ms` until `event` stands in the log `count` times.
  bool WaitForEvent(const std::string& event, int count = 1, int ms = kEventMs) const {
    const Clock::time_point start = Clock::now();
    do {
      const std::vector<std::string> events = Events();
      if (std::count(events.begin(), events.end(), event) >= count) return true;
      std::this_thread::sleep_for(Milliseconds(5));
    } while (ElapsedMs(start) < ms);
    return false;
  }

  bool Signal(int signal) const { return kill(child_.pid, signal) == 0; }
  int WaitExit(int ms = kExitMs) { return ::WaitExit(child_.pid, ms); }

 private:
  std::string dir_;
  Spawned child_;
  std::string terminal_;
};

std::string EventsText(const std::vector<std::string>& events) {
  std::ostringstream text;
  for (const std::string& event : events) text << "  " << event << "\n";
  return text.str();
}

bool HasEventStartingWith(const std::vector<std::string>& events, const std::string& prefix) {
  return std::any_of(events.begin(), events.end(),
                     [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
}

// The other end of the line, as the tool under test uses it.
class Line {
 public:
  // Opens `path` raw, 8 data bits without parity, with the speed and the stop-bit and flow-control
  // flags given.
  explicit Line(const std::string& path, speed_t speed = B9600, tcflag_t cflag = 0,
                tcflag_t iflag = 0) {
    fd_.Reset(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    termios t{};
    if (fd_.Get() < 0 || tcgetattr(fd_.Get(), &t) != 0) return;
    cfmakeraw(&t);
    t.c_cflag &= ~(CSTOPB | CRTSCTS);
    t.c_cflag |= cflag | CLOCAL | CREAD;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_iflag |= iflag;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    configured_ = tcsetattr(fd_.Get(), TCSANOW, &t) == 0;
  }

  bool Ready() const { return configured_; }
  bool Write(std::string_view bytes) {
    return write(fd_.Get(), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  std::string Read(size_t max, int ms = kReplyMs) { return ReadFor(fd_.Get(), max, ms, &ended_); }
  bool Ended() const { return ended_; }
  void Close() { fd_.Reset(); }

 private:
  UniqueFd fd_;
  bool configured_ = false;
  bool ended_ = false;
};

std::string Pattern(size_t n) {
  std::string bytes;
  for (size_t i = 0; i < n; ++i) bytes.push_back(static_cast<char>('A' + i % 26));
  return bytes;
}

std::string AllBytes() {
  std::string bytes;
  for (int b = 1; b <= 255; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}

// --- Replies

struct ReplyCase {
  const char* name;
  std::vector<std::string> args;
  std::string request;
  std::string reply;
  std::string logged_reply;
};

class SerialPeerReply : public testing::TestWithParam<ReplyCase> {};

TEST_P(SerialPeerReply, AnswersTheRequest) {
  const ReplyCase& c = GetParam();
  Peer peer(c.args);
  Line line(peer.Terminal());
  ASSERT_TRUE(line.Ready()) << peer.Terminal();
  ASSERT_TRUE(line.Write(c.request));
  EXPECT_EQ(line.Read(c.reply.size()), c.reply);
  EXPECT_EQ(line.Read(1, 50), "") << "more than the reply arrived";
  ASSERT_TRUE(peer.WaitForEvent(c.logged_reply)) << EventsText(peer.Events());
}

const ReplyCase kReplyCases[] = {
    {"EchoByDefault", {}, "AB\r", "AB\r", "reply 41 42 0d"},
    {"EchoOfABareCarriageReturn", {"--echo"}, "\r", "\r", "reply 0d"},
    {"ReplyText", {"--reply-text", "OK 1"}, "x\r", "OK 1", "reply 4f 4b 20 31"},
    {"ReplyHexPacked", {"--reply-hex", "41420d"}, "x\r", "AB\r", "reply 41 42 0d"},
    {"ReplyHexSpaced", {"--reply-hex", "41 42 0D"}, "x\r", "AB\r", "reply 41 42 0d"},
    {"Zero", {"--zero"}, "x\r", std::string("AB\0CD", 5), "reply 41 42 00 43 44"},
    {"Long150", {"--long", "150"}, "x\r", Pattern(150), "reply 150 bytes"},
    {"AllBytes", {"--all-bytes"}, "x\r", AllBytes(), "reply 255 bytes"},
};

INSTANTIATE_TEST_SUITE_P(Behaviours, SerialPeerReply, testing::ValuesIn(kReplyCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SerialPeer, AnswersEachRequestOfOneWriteInTurn) {
  Peer peer({"--echo"});
  Line line(peer.Terminal());
  ASSERT_TRUE(line.Write("A\rBC\r"));
  EXPECT_EQ(line.Read(5), "A\rBC\r");
  ASSERT_TRUE(peer.WaitForEvent("reply 42 43 0d"));
  const std::vector<std::string> events = peer.Events();
  EXPECT_EQ(std::count(events.begin(), events.end(), "request 41 0d"), 1) << EventsText(events);
}

TEST(SerialPeer, SilentSendsNothing) {
  Peer peer({"--silent"});
  Line line(peer.Terminal());
  ASSERT_TRUE(line.Write("AB\r"));
  EXPECT_EQ(line.Read(1, kQuietMs), "");
  const std::vector<std::string> events = peer.Events();
  EXPECT_TRUE(HasEventStartingWith(events, "request 41 42 0d")) << EventsText(events);
  EXPECT_FALSE(HasEventStartingWith(events, "reply")) << EventsText(events);
}

TEST(SerialPeer, DelayHoldsTheReply) {
  constexpr int kDelayMs = 200;
  Peer peer({"--delay", std::to_string(kDelayMs)});
  Line line(peer.Terminal());
  const Clock::time_point sent = Clock::now();
  ASSERT_TRUE(line.Write("AB\r"));
  EXPECT_EQ(line.Read(3), "AB\r");
  EXPECT_GE(ElapsedMs(sent), kDelayMs);
}

TEST(SerialPeer, ByteGapSendsOneByteAtATime) {
  constexpr int kGapMs = 40;
  Peer peer({"--reply-text", "ABCD", "--byte-gap", std::to_string(kGapMs)});
  Line line(peer.Terminal());
  const Clock::time_point sent = Clock::now();
  ASSERT_TRUE(line.Write("x\r"));
  EXPECT_EQ(line.Read(1), "A");
  EXPECT_EQ(line.Read(1, kGapMs / 2), "") << "the second byte came without a gap";
  EXPECT_EQ(line.Read(3), "BCD");
  EXPECT_GE(ElapsedMs(sent), 3 * kGapMs);
}

// --- Line settings

struct SettingsCase {
  const char* name;
  speed_t speed;
  tcflag_t cflag;
  tcflag_t iflag;
  const char* logged;
};

class SerialPeerSettings : public testing::TestWithParam<SettingsCase> {};

TEST_P(SerialPeerSettings, AreLoggedBeforeTheRequest) {
  const SettingsCase& c = GetParam();
  Peer peer({});
  Line line(peer.Terminal(), c.speed, c.cflag, c.iflag);
  ASSERT_TRUE(line.Ready());
  ASSERT_TRUE(line.Write("A\r"));
  ASSERT_TRUE(peer.WaitForEvent("request 41 0d"));
  const std::vector<std::string> events = peer.Events();
  const auto request = std::find(events.begin(), events.end(), "request 41 0d");
  ASSERT_NE(request, events.begin());
  EXPECT_EQ(request[-1], std::string("settings ") + c.logged) << EventsText(events);
}

// What a pseudo-terminal passes on. Linux keeps a pty at 8 data bits without parity whatever is
// asked for, so those two are covered by the description's own test.
const SettingsCase kSettingsCases[] = {
    {"Plain9600", B9600, 0, 0,
     "speed=9600 data=8 parity=none stop=1 rtscts=off ixon=off ixoff=off"},
    {"Fast19200TwoStopRtscts", B19200, CSTOPB | CRTSCTS, 0,
     "speed=19200 data=8 parity=none stop=2 rtscts=on ixon=off ixoff=off"},
    {"Slow1200XonXoff", B1200, 0, IXON | IXOFF,
     "speed=1200 data=8 parity=none stop=1 rtscts=off ixon=on ixoff=on"},
    {"Xoff115200", B115200, 0, IXOFF,
     "speed=115200 data=8 parity=none stop=1 rtscts=off ixon=off ixoff=on"},
};

INSTANTIATE_TEST_SUITE_P(Lines, SerialPeerSettings, testing::ValuesIn(kSettingsCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SerialPeer, LogsSettingsChangedAfterTheOpen) {
  Peer peer({});
  Line line(peer.Terminal(), B9600);
  ASSERT_TRUE(peer.WaitForEvent("open"));
  Line again(peer.Terminal(), B2400);  // a second descriptor reconfigures the same line
  EXPECT_TRUE(peer.WaitForEvent(
      "settings speed=2400 data=8 parity=none stop=1 rtscts=off ixon=off ixoff=off"))
      << EventsText(peer.Events());
}

// --- Opens and closes

TEST(SerialPeer, ServesOneOpenAfterAnother) {
  Peer peer({});
  constexpr int kExchanges = 3;
  for (int i = 0; i < kExchanges; ++i) {
    Line line(peer.Terminal());
    const std::string request = std::to_string(i) + "\r";
    ASSERT_TRUE(line.Write(request));
    EXPECT_EQ(line.Read(request.size()), request);
    line.Close();
    ASSERT_TRUE(peer.WaitForEvent("close", i + 1)) << EventsText(peer.Events());
  }
  std::vector<std::string> seen;
  for (const std::string& event : peer.Events()) {
    if (event == "open" || event == "close" || event.rfind("request", 0) == 0) {
      seen.push_back(event);
    }
  }
  const std::vector<std::string> expected = {"open", "request 30 0d", "close",
                                             "open", "request 31 0d", "close",
                                             "open", "request 32 0d", "close"};
  EXPECT_EQ(seen, expected) << EventsText(peer.Events());
}

TEST(SerialPeer, SeesACloseFollowedAtOnceByAnOpen) {
  // The master shows no hang-up when the next open comes before the peer looks.
  Peer peer({});
  constexpr int kExchanges = 20;
  std::vector<std::string> expected;
  {
    std::optional<Line> line;
    for (int i = 0; i < kExchanges; ++i) {
      line.reset();
      line.emplace(peer.Terminal());
      const char letter = static_cast<char>('a' + i);
      const std::string request = {letter, '\r'};
      char logged[32];
      std::snprintf(logged, sizeof logged, "request %02x 0d", letter);
      ASSERT_TRUE(line->Write(request));
      EXPECT_EQ(line->Read(request.size()), request);
      expected.insert(expected.end(), {"open", logged, "close"});
    }
  }
  ASSERT_TRUE(peer.WaitForEvent("close", kExchanges)) << EventsText(peer.Events());
  std::vector<std::string> seen;
  for (const std::string& event : peer.Events()) {
    if (event == "open" || event == "close" || event.rfind("request", 0) == 0) {
      seen.push_back(event);
    }
  }
  EXPECT_EQ(seen, expected) << EventsText(peer.Events());
}

TEST(SerialPeer, DiscardsAPartialRequestAtClose) {
  Peer peer({});
  {
    Line line(peer.Terminal());
    ASSERT_TRUE(line.Write("AB"));
  }
  ASSERT_TRUE(peer.WaitForEvent("discarded 41 42")) << EventsText(peer.Events());
  ASSERT_TRUE(peer.WaitForEvent("close"));
  Line line(peer.Terminal());
  ASSERT_TRUE(line.Write("C\r"));
  EXPECT_EQ(line.Read(2), "C\r");
  EXPECT_EQ(line.Read(1, 50), "");
}

TEST(SerialPeer, ReplyDelayedPastACloseIsNotSentToTheNextOpen) {
  constexpr int kDelayMs = 800;
  Peer peer({"--delay", std::to_string(kDelayMs)});
  {
    Line line(peer.Terminal());
    ASSERT_TRUE(line.Write("AB\r"));
    ASSERT_TRUE(peer.WaitForEvent("request 41 42 0d"));
  }
  // The close is seen while the reply is being held back, and a new open then gets nothing.
  ASSERT_TRUE(peer.WaitForEvent("close", 1, kDelayMs / 2)) << EventsText(peer.Events());
  Line line(peer.Terminal());
  EXPECT_EQ(line.Read(1, kDelayMs + kQuietMs), "");
  EXPECT_TRUE(peer.WaitForEvent("dropped reply: other end closed")) << EventsText(peer.Events());
}

TEST(SerialPeer, UnreadReplyIsNotSentToTheNextOpen) {
  Peer peer({"--long", "5000"});
  {
    Line line(peer.Terminal());
    ASSERT_TRUE(line.Write("\r"));
    EXPECT_EQ(line.Read(100), Pattern(100));
  }
  ASSERT_TRUE(peer.WaitForEvent("close"));
  Line line(peer.Terminal());
  EXPECT_EQ(line.Read(1, kQuietMs), "");
}

// Each open finds the line as another program left it, also after this end configured it.
TEST(SerialPeer, UsedLineIsLeftUsedBeforeEveryOpen) {
  Peer peer({"--used-line"});
  constexpr int kOpens = 2;
  for (int i = 0; i < kOpens; ++i) {
    UniqueFd fd(open(peer.Terminal().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    termios t{};
    ASSERT_EQ(tcgetattr(fd.Get(), &t), 0);
    EXPECT_EQ(serial_peer::DescribeSettings(t),
              "speed=115200 data=8 parity=none stop=2 rtscts=on ixon=on ixoff=on")
        << "open " << i + 1 << " (a pseudo-terminal keeps no parity)";
    cfmakeraw(&t);
    cfsetspeed(&t, B9600);
    t.c_cflag &= ~(PARENB | CSTOPB | CRTSCTS);
    t.c_iflag &= ~(IXON | IXOFF);
    ASSERT_EQ(tcsetattr(fd.Get(), TCSANOW, &t), 0);
    ASSERT_EQ(write(fd.Get(), "\r", 1), 1);
    EXPECT_EQ(ReadFor(fd.Get(), 1, kReplyMs), "\r");
    fd.Reset();
    ASSERT_TRUE(peer.WaitForEvent("close", i + 1)) << EventsText(peer.Events());
  }
}

TEST(SerialPeer, FloodRunsUntilTheOtherEndCloses) {
  Peer peer({"--flood"});
  {
    Line line(peer.Terminal());
    ASSERT_TRUE(line.Write("\r"));
    EXPECT_EQ(line.Read(3000), Pattern(3000));
    EXPECT_EQ(line.Read(3000).size(), 3000u);
  }
  ASSERT_TRUE(peer.WaitForEvent("close"));
  const std::vector<std::string> events = peer.Events();
  EXPECT_TRUE(HasEventStartingWith(events, "reply ")) << EventsText(events);
  Line line(peer.Terminal());
  EXPECT_EQ(line.Read(1, kQuietMs), "");
}

// --- Control file

TEST(SerialPeer, ControlFileChangesTheReplyBetweenOpens) {
  Peer peer({"--echo", "--control", "$DIR/control"});
  const std::string control = peer.File("control");
  auto exchange = [&](const std::string& request, size_t reply_size) {
    Line line(peer.Terminal());
    EXPECT_TRUE(line.Write(request));
    return line.Read(reply_size);
  };
  EXPECT_EQ(exchange("A\r", 2), "A\r");
  std::ofstream(control) << "--reply-text 'O K'\n--zero\n";
  EXPECT_EQ(exchange("B\r", 3), "O K");
  std::ofstream(control) << "--log elsewhere\n";
  EXPECT_EQ(exchange("C\r", 3), "O K") << "a bad line keeps the last good behaviour";
  fs::remove(control);
  EXPECT_EQ(exchange("D\r", 2), "D\r");
  const std::vector<std::string> events = peer.Events();
  EXPECT_TRUE(HasEventStartingWith(events, "control --reply-text 'O K'")) << EventsText(events);
  EXPECT_TRUE(HasEventStartingWith(events, "error control: ")) << EventsText(events);
}

// --- Start and end

struct BadCase {
  const char* name;
  std::vector<std::string> args;
};

class SerialPeerBadOptions : public testing::TestWithParam<BadCase> {};

TEST_P(SerialPeerBadOptions, ExitWithCodeTwoAndOneLine) {
  Spawned child = Spawn(GetParam().args);
  const std::string out = ReadFor(child.out.Get(), 4096, kExitMs);
  const std::string err = ReadFor(child.err.Get(), 4096, kExitMs);
  EXPECT_EQ(WaitExit(child.pid, kExitMs), 2);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err.rfind("serial-peer: ", 0), 0u) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

const BadCase kBadCases[] = {
    {"Unknown", {"--bogus"}},
    {"Positional", {"echo"}},
    {"MissingValue", {"--delay"}},
    {"LongOfZero", {"--long", "0"}},
    {"HexHalfByte", {"--reply-hex", "414"}},
    {"HexNotHex", {"--reply-hex", "zz"}},
    {"TwoReplies", {"--echo", "--zero"}},
    {"NegativeDelay", {"--delay", "-1"}},
    {"GapNotNumber", {"--byte-gap", "5ms"}},
    {"EmptyControlPath", {"--control", ""}},
    {"FloodWithGap", {"--flood", "--byte-gap", "5"}},
    {"LogInMissingDirectory", {"--log", "/nonexistent-dir/peer.log"}},
};

INSTANTIATE_TEST_SUITE_P(CommandLines, SerialPeerBadOptions, testing::ValuesIn(kBadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SerialPeer, TermEndsCleanly) {
  Peer peer({"--delay", "10000"});
  Line line(peer.Terminal());
  ASSERT_TRUE(line.Write("A\r"));
  ASSERT_TRUE(peer.WaitForEvent("request 41 0d"));
  // The peer is now holding back its reply; the signal must not wait for that.
  const Clock::time_point sent = Clock::now();
  ASSERT_TRUE(peer.Signal(SIGTERM));
  EXPECT_EQ(peer.WaitExit(), 0);
  EXPECT_LT(ElapsedMs(sent), 1000);
  EXPECT_EQ(peer.Events().back(), "exit");
}

TEST(SerialPeer, VanishTakesTheTerminalAway) {
  Peer peer({"--vanish"});
  Line line(peer.Terminal());
  ASSERT_TRUE(line.Write("A\r"));
  EXPECT_EQ(line.Read(1), "");
  EXPECT_TRUE(line.Ended()) << "the line did not hang up";
  EXPECT_EQ(peer.WaitExit(), 0);
  EXPECT_EQ(peer.Events().back(), "exit");
}

}  // namespace
