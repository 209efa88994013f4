// The board's panel on /dev/hal (DIP switches, power supplies, framer LEDs),
// the interface table by index, and the board files.
#include <linux/if.h>
#include <linux/sockios.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "board/hal.h"
#include "simboard/board_files.h"
#include "simboard/tests/default_board_test.h"

namespace {

namespace Hal = Board::Hal;

class Panel : public simtest::DefaultBoardTest {};

TEST_F(Panel, ReadsTheSwitchAndPowerBytesAndKeepsEveryLedByte) {
  Fd fd = Open(Hal::kDevice);
  auto read = [&](Board::Request r) {
    unsigned char b = 0xEE;
    EXPECT_EQ(0, Board::ioctl(fd.lowlevel_fd(), r, &b));
    return int(b);
  };
  EXPECT_EQ(0, read(Hal::kDipRead));
  EXPECT_EQ(3, read(Hal::kPowerRead));
  Command("hal dip 0xA5");
  Command("hal power 255");
  EXPECT_EQ(0xA5, read(Hal::kDipRead));
  EXPECT_EQ(255, read(Hal::kPowerRead));
  EXPECT_TRUE(sim.execute("hal dip 256").failed());
  for (unsigned char b : {0x00, 0x0c, 0x08}) EXPECT_EQ(0, Board::ioctl(fd.lowlevel_fd(), Hal::kLedWrite, &b));
  EXPECT_EQ("led=8 history=0,12,8\nok\n", Command("hal led").text());
  sim.reset();
  EXPECT_EQ(0, read(Hal::kDipRead));
  EXPECT_EQ("led=0 history=\nok\n", Command("hal led").text());
}

TEST_F(Panel, InterfacesAnswerByIndexAndFollowTheirRunningFlag) {
  auto byIndex = [](int index, std::string& name, short& flags) {
    ifreq ifr = {};
    ifr.ifr_ifindex = index;
    if (Board::netif(-1, SIOCGIFNAME, &ifr) != 0) return -errno;
    name = ifr.ifr_name;
    if (Board::netif(-1, SIOCGIFFLAGS, &ifr) != 0) return -errno;
    flags = ifr.ifr_flags;
    return 0;
  };
  std::string names;
  for (int index = 0; index < 16; ++index) {
    std::string name;
    short flags = 0;
    if (byIndex(index, name, flags) == 0)
      names += name + ((flags & IFF_RUNNING) ? "+ " : "- ");
  }
  EXPECT_EQ("lo+ eth0+ hdlc0- hdlc1- hdlc2- hdlc3- ", names);
  Command("netif running hdlc1 1");
  Command("netif running eth0 0");
  std::string name;
  short flags = 0;
  ASSERT_EQ(0, byIndex(11, name, flags));
  EXPECT_TRUE(flags & IFF_RUNNING);
  ASSERT_EQ(0, byIndex(2, name, flags));
  EXPECT_FALSE(flags & IFF_RUNNING);
  EXPECT_EQ(-ENODEV, byIndex(0, name, flags));
  EXPECT_TRUE(sim.execute("netif running nosuch 1").failed());
}

std::string Read(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(BoardFiles, WrittenOnlyOncePlacedAndAgainOnReset) {
  char dir[] = "/tmp/simboard-files-XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(dir));
  const std::string root = dir;
  SimBoard::BoardFiles files;
  files.reset();
  EXPECT_EQ("", Read(root + "/proc/temperature"));
  ASSERT_TRUE(files.place(root));
  EXPECT_EQ(SimBoard::BoardFiles::FramerText(), Read(root + "/proc/driver/hdlc/peb22554/3"));
  EXPECT_EQ("42 C\n", Read(root + "/proc/temperature"));
  std::ofstream(root + "/proc/temperature") << "50 C\n";
  std::ofstream(root + "/usr/local/etc/config.00000001-0000000000000002");
  std::ofstream(root + "/usr/local/etc/config.2save.tar.bz2");
  files.reset();
  EXPECT_EQ("42 C\n", Read(root + "/proc/temperature"));
  EXPECT_FALSE(std::ifstream(root + "/usr/local/etc/config.00000001-0000000000000002").good());
  EXPECT_TRUE(std::ifstream(root + "/usr/local/etc/config.2save.tar.bz2").good());
  EXPECT_TRUE(std::ifstream(root + "/usr/local/etc/" + SimBoard::BoardFiles::kConfigName).good());
  EXPECT_EQ(0, std::system(("rm -rf " + root).c_str()));
}

}  // namespace
