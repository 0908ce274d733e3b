// The built-in echo device of `kivom --demo`: a pseudo-terminal whose far end, played by a
// child process, answers every request with itself.
#pragma once

#include <string>

// Starts the device; `path` receives its terminal's name. The child ends with kivom. False,
// with why, when no pseudo-terminal can be had.
bool StartDemoDevice(std::string& path, std::string& why);
