// The speed of a line set through the kernel's arbitrary-rate call (termios2 with BOTHER), as
// Wine 10 sets every speed. Apart from the rest, and without its own header (line_settings.h
// declares it): the kernel's termios2 header cannot stand beside the C library's termios.h.
#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace serial_peer {

long ArbitrarySpeed(int fd);

long ArbitrarySpeed(int fd) {
  termios2 line = {};
  if (ioctl(fd, TCGETS2, &line) != 0 || (line.c_cflag & CBAUD) != BOTHER) return 0;
  return static_cast<long>(line.c_ospeed);
}

}  // namespace serial_peer
