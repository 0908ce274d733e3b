// Wine 10 sets every speed through termios2 with BOTHER, which the classic interface reads back
// as no speed at all. The kernel's termios2 header cannot stand beside the C library's
// termios.h, so this test declares the one routine it needs rather than its header.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace serial_peer {
long ArbitrarySpeed(int fd);

namespace {

TEST(ArbitrarySpeed, ReadsTheRateOfALineSetThroughTermios2) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);

  EXPECT_EQ(ArbitrarySpeed(master), 0) << "a line set the classic way";
  termios2 line = {};
  ASSERT_EQ(ioctl(slave, TCGETS2, &line), 0);
  line.c_cflag = (line.c_cflag & ~CBAUD) | BOTHER;
  line.c_ispeed = line.c_ospeed = 9600;
  ASSERT_EQ(ioctl(slave, TCSETS2, &line), 0);
  EXPECT_EQ(ArbitrarySpeed(master), 9600);

  close(slave);
  close(master);
}

}  // namespace
}  // namespace serial_peer
