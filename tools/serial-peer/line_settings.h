// The line settings of a terminal as one log field list.
#pragma once

#include <termios.h>

#include <string>

namespace serial_peer {

// "speed=9600 data=8 parity=none stop=1 rtscts=off ixon=off ixoff=off". `arbitrarySpeed`, when
// not 0, is the speed of a line set through the arbitrary-rate call, which termios cannot name.
std::string DescribeSettings(const termios& t, long arbitrarySpeed = 0);

// The speed of the line on `fd` when it was set through the arbitrary-rate call (BOTHER);
// 0 when it was not.
long ArbitrarySpeed(int fd);

}  // namespace serial_peer
