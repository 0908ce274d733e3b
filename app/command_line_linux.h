// The Linux build's command line: which device is COM1, and what to say before the window
// shows.
#pragma once

#include <cstdio>
#include <string>

enum class Action { kRun, kHelp, kVersion, kList, kUsage };

struct CommandLine {
  Action action = Action::kRun;
  bool demo = false;
  std::string device;  // empty: the one adapter present (or the echo device, with demo)
};

CommandLine ParseCommandLine(int argc, char** argv);
const char* UsageText();

// Prints the serial adapters present, "/dev/NAME" and the /dev/serial/by-id/ names that lead to
// it, one a line, or says there is none. Nothing is opened. Returns the exit code.
int ListAdapters(FILE* out);

// The one adapter present; false, with why, when there is none or several.
bool FindOneAdapter(std::string& device, std::string& why);

// Whether `device` is a character device this user may open; false, with why, when not.
bool CheckDevice(const std::string& device, std::string& why);

// Names the programs that have `device` open or locked: kivom will refuse the port while that
// lasts.
void SayWhoHolds(const std::string& device, FILE* out);
