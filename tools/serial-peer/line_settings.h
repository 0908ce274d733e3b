// The line settings of a terminal as one log field list.
#pragma once

#include <termios.h>

#include <string>

namespace serial_peer {

// "speed=9600 data=8 parity=none stop=1 rtscts=off ixon=off ixoff=off".
std::string DescribeSettings(const termios& t);

}  // namespace serial_peer
