#include "line_settings.h"

namespace serial_peer {
namespace {

struct SpeedValue {
  speed_t code;
  long value;
};

constexpr SpeedValue kSpeeds[] = {
    {B0, 0},
    {B50, 50},
    {B75, 75},
    {B110, 110},
    {B134, 134},
    {B150, 150},
    {B200, 200},
    {B300, 300},
    {B600, 600},
    {B1200, 1200},
    {B1800, 1800},
    {B2400, 2400},
    {B4800, 4800},
    {B9600, 9600},
    {B19200, 19200},
    {B38400, 38400},
    {B57600, 57600},
    {B115200, 115200},
    {B230400, 230400},
    {B460800, 460800},
    {B500000, 500000},
    {B576000, 576000},
    {B921600, 921600},
    {B1000000, 1000000},
    {B1152000, 1152000},
    {B1500000, 1500000},
    {B2000000, 2000000},
    {B2500000, 2500000},
    {B3000000, 3000000},
    {B3500000, 3500000},
    {B4000000, 4000000},
};

std::string SpeedText(speed_t code) {
  for (const SpeedValue& speed : kSpeeds) {
    if (speed.code == code) return std::to_string(speed.value);
  }
  // Where the speed codes are the rates themselves any rate can come back; otherwise this is a
  // rate set through termios2 that the classic interface cannot name.
  if constexpr (B9600 == 9600) return std::to_string(code);
  return "other";
}

int DataBits(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5:
      return 5;
    case CS6:
      return 6;
    case CS7:
      return 7;
    default:
      return 8;
  }
}

const char* ParityText(tcflag_t cflag) {
  if (!(cflag & PARENB)) return "none";
  if (cflag & CMSPAR) return (cflag & PARODD) ? "mark" : "space";
  return (cflag & PARODD) ? "odd" : "even";
}

const char* OnOff(bool on) { return on ? "on" : "off"; }

}  // namespace

std::string DescribeSettings(const termios& t, long arbitrarySpeed) {
  // The classic interface keeps one speed for both directions.
  std::string text = "speed=" + (arbitrarySpeed != 0 ? std::to_string(arbitrarySpeed)
                                                     : SpeedText(cfgetospeed(&t)));
  text += " data=" + std::to_string(DataBits(t.c_cflag));
  text += std::string(" parity=") + ParityText(t.c_cflag);
  text += std::string(" stop=") + ((t.c_cflag & CSTOPB) ? "2" : "1");
  text += std::string(" rtscts=") + OnOff(t.c_cflag & CRTSCTS);
  text += std::string(" ixon=") + OnOff(t.c_iflag & IXON);
  text += std::string(" ixoff=") + OnOff(t.c_iflag & IXOFF);
  return text;
}

}  // namespace serial_peer
