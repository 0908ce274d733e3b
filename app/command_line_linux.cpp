#include "app/command_line_linux.h"

#include <dirent.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "serial/exclusive_port_linux.h"

namespace {

constexpr char kTtyClass[] = "/sys/class/tty";
constexpr char kById[] = "/dev/serial/by-id";
constexpr int kMostHoldersNamed = 16;
constexpr char kWhileThatLasts[] = "kivom will refuse the port (COM1が使えません) while that lasts";

std::string ReadLine(const std::string& path) {
  std::string text;
  if (FILE* file = std::fopen(path.c_str(), "r")) {
    char line[256] = {};
    if (std::fgets(line, sizeof line, file) != nullptr) text = line;
    std::fclose(file);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

std::string RealPath(const std::string& path) {
  char real[PATH_MAX];
  return realpath(path.c_str(), real) != nullptr ? real : path;
}

std::vector<std::string> Entries(const char* folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder)) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The adapters present, each "/dev/NAME  /dev/serial/by-id/...". A terminal with a device behind
// it is an adapter; of the machine's 8250 ports only those where a UART answered (type not 0).
std::vector<std::string> Adapters() {
  std::vector<std::string> found;
  for (const std::string& name : Entries(kTtyClass)) {
    const std::string sys = std::string(kTtyClass) + "/" + name;
    struct stat st = {};
    if (stat((sys + "/device").c_str(), &st) != 0) continue;
    if (name.rfind("ttyS", 0) == 0 && ReadLine(sys + "/type") == "0") continue;
    const std::string device = "/dev/" + name;
    if (stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) continue;
    std::string line = device;
    for (const std::string& id : Entries(kById)) {
      const std::string path = std::string(kById) + "/" + id;
      if (RealPath(path) == device) line += "  " + path;
    }
    found.push_back(line);
  }
  return found;
}

// A process's name as another program chose it, with its control characters written as \xNN so
// that none reaches the user's terminal: C0, DEL and, as UTF-8 spells them, C1 (CSI among them).
std::string ProcessName(pid_t pid) {
  const std::string name = ReadLine("/proc/" + std::to_string(pid) + "/comm");
  std::string shown;
  for (std::size_t at = 0; at < name.size(); ++at) {
    const auto byte = static_cast<unsigned char>(name[at]);
    const auto next = at + 1 < name.size() ? static_cast<unsigned char>(name[at + 1]) : 0;
    const bool c1 = byte == 0xc2 && next >= 0x80 && next <= 0x9f;
    if (byte >= 0x20 && byte != 0x7f && byte != '\\' && !c1) {
      shown += name[at];
      continue;
    }
    for (int i = 0; i < (c1 ? 2 : 1); ++i) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(name[at + i]));
      shown += escaped;
    }
    at += c1 ? 1 : 0;
  }
  return shown;
}

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv) {
  CommandLine command;
  if (argc > 2) {
    command.action = Action::kUsage;
    return command;
  }
  const std::string arg = argc == 2 ? argv[1] : "";
  if (arg == "-h" || arg == "--help") {
    command.action = Action::kHelp;
  } else if (arg == "-V" || arg == "--version") {
    command.action = Action::kVersion;
  } else if (arg == "-l" || arg == "--list") {
    command.action = Action::kList;
  } else if (arg == "--demo") {
    command.demo = true;
  } else if (!arg.empty() && arg[0] == '-') {
    command.action = Action::kUsage;
  } else {
    command.device = arg;
  }
  return command;
}

const char* UsageText() {
  return "usage: kivom [DEVICE | --demo | --list | --help | --version]\n"
         "Tests a serial link by hand: kivom's window sends the text you type and a carriage\n"
         "return on COM1 at 9600 baud, 8N1, and shows the reply. COM1 is held for kivom alone\n"
         "during each exchange; while another program holds the device, kivom says\n"
         "\"COM1が使えません\" and ends.\n"
         "  DEVICE     the serial device, such as /dev/ttyUSB0 or a name in /dev/serial/by-id/\n"
         "  (none)     the one serial adapter present\n"
         "  --demo     a built-in echo device, which answers every text with itself\n"
         "  --list     the serial adapters present, with their /dev/serial/by-id/ names\n"
         "  --help     this text\n"
         "  --version  kivom's version\n";
}

int ListAdapters(FILE* out) {
  const std::vector<std::string> adapters = Adapters();
  if (adapters.empty()) std::fputs("no serial adapter found\n", out);
  for (const std::string& line : adapters) std::fprintf(out, "%s\n", line.c_str());
  return 0;
}

bool FindOneAdapter(std::string& device, std::string& why) {
  const std::vector<std::string> adapters = Adapters();
  if (adapters.size() == 1) {
    device = adapters[0].substr(0, adapters[0].find(' '));
    return true;
  }
  if (adapters.empty()) {
    why = "no serial adapter found; name a DEVICE, or try kivom --demo";
  } else {
    why = "several serial adapters; name one:";
    for (const std::string& line : adapters) why += "\n" + line;
  }
  return false;
}

bool CheckDevice(const std::string& device, std::string& why) {
  struct stat st = {};
  if (stat(device.c_str(), &st) != 0) {
    why = device + " does not exist (kivom --list shows the serial adapters)";
    return false;
  }
  if (!S_ISCHR(st.st_mode)) {
    why = device + " is not a serial device";
    return false;
  }
  if (access(device.c_str(), R_OK | W_OK) != 0) {
    why = "you may not open " + device;
    constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;
    if ((st.st_mode & kGroupReadWrite) != kGroupReadWrite) {
      const passwd* owner = getpwuid(st.st_uid);
      why += ": only its owner '" +
             (owner != nullptr ? std::string(owner->pw_name) : std::to_string(st.st_uid)) + "' may";
      return false;
    }
    const group* owners = getgrgid(st.st_gid);
    const std::string group = owners != nullptr ? owners->gr_name : std::to_string(st.st_gid);
    const char* user = getenv("USER");
    why += ": it belongs to the group '" + group + "'. Join the group with 'sudo adduser " +
           (user != nullptr ? user : "$USER") + " " + group + "', then log out and in again.";
    return false;
  }
  return true;
}

void SayWhoHolds(const std::string& device, FILE* out) {
  struct stat st = {};
  if (stat(device.c_str(), &st) != 0) return;
  pid_t pids[kMostHoldersNamed] = {};
  const int count = Holders(st.st_rdev, pids, kMostHoldersNamed);
  if (count > 0) {
    std::string names;
    for (int i = 0; i < count; ++i) {
      names += (i > 0 ? ", " : "") + std::to_string(pids[i]) + " (" + ProcessName(pids[i]) + ")";
    }
    std::fprintf(out, "kivom: %s is already open in %s; %s\n", device.c_str(), names.c_str(),
                 kWhileThatLasts);
  }
  char lockPath[PATH_MAX];
  LockPathOf(device.c_str(), lockPath);
  if (const pid_t holder = LockHolder(lockPath)) {
    std::fprintf(out, "kivom: %s is locked by %s for %d (%s); %s\n", device.c_str(), lockPath,
                 static_cast<int>(holder), ProcessName(holder).c_str(), kWhileThatLasts);
  }
}
