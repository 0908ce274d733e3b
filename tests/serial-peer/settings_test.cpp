#include <gtest/gtest.h>
#include <termios.h>

#include "line_settings.h"

namespace serial_peer {
namespace {

// Character size and parity above all, which a pseudo-terminal does not pass on.
TEST(LineSettings, DescribesEachFlag) {
  struct Case {
    speed_t speed;
    tcflag_t cflag;
    tcflag_t iflag;
    const char* text;
  };
  const Case cases[] = {
      {B9600, CS8, 0, "speed=9600 data=8 parity=none stop=1 rtscts=off ixon=off ixoff=off"},
      {B19200, CS7 | PARENB | CSTOPB | CRTSCTS, 0,
       "speed=19200 data=7 parity=even stop=2 rtscts=on ixon=off ixoff=off"},
      {B1200, CS6 | PARENB | PARODD, IXON,
       "speed=1200 data=6 parity=odd stop=1 rtscts=off ixon=on ixoff=off"},
      {B115200, CS5 | PARENB | PARODD | CMSPAR, IXOFF,
       "speed=115200 data=5 parity=mark stop=1 rtscts=off ixon=off ixoff=on"},
      {B4800, CS8 | PARENB | CMSPAR, IXON | IXOFF,
       "speed=4800 data=8 parity=space stop=1 rtscts=off ixon=on ixoff=on"},
      {B4800, CS8 | CMSPAR, 0,
       "speed=4800 data=8 parity=none stop=1 rtscts=off ixon=off ixoff=off"},
  };
  for (const Case& c : cases) {
    termios t{};
    t.c_cflag = c.cflag;
    t.c_iflag = c.iflag;
    cfsetspeed(&t, c.speed);
    EXPECT_EQ(DescribeSettings(t), c.text);
  }
}

}  // namespace
}  // namespace serial_peer
