// The SPI framers and clock of "/dev/hal", "/dev/maintenance" and
// "/dev/e1-cas" as the services see them: through the seam, on the default
// board.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <string>

#include "board/board.h"
#include "board/e1_cas.h"
#include "board/hal.h"
#include "board/maintenance.h"
#include "simboard/e1_cas.h"
#include "simboard/hal.h"
#include "simboard/maintenance.h"
#include "simboard/simulator.h"
#include "simboard/tests/default_board_test.h"

namespace {

using SimBoard::Simulator;
namespace Hal = Board::Hal;
namespace M = Board::Maintenance;
namespace C = Board::E1Cas;

class TrunkDevices : public simtest::DefaultBoardTest {
public:
};

TEST_F(TrunkDevices, SpiReadAnswersTheRegisterAndWritesAreLogged) {
  Fd hal = Open(Hal::kDevice);
  Hal::SpiAccess rec = {3, 51, 0xFF};
  EXPECT_EQ(0xC5, Result(Board::ioctl(hal.lowlevel_fd(), Hal::kSpiRead, &rec)));
  Command("spi set 3 51 0x45");
  EXPECT_EQ(0x45, Result(Board::ioctl(hal.lowlevel_fd(), Hal::kSpiRead, &rec)));
  rec = {7, 87, 56};
  EXPECT_EQ(0, Result(Board::ioctl(hal.lowlevel_fd(), Hal::kSpiWrite, &rec)));
  rec = {7, 87, 0};
  EXPECT_EQ(56, Result(Board::ioctl(hal.lowlevel_fd(), Hal::kSpiRead, &rec)));
  EXPECT_EQ("ch=7 reg=87 value=56\nok\n", Command("spi log").text());
  EXPECT_EQ("ch=7 reg=87 value=0x38\nok\n", Command("spi get 7 87").text());
  // No ninth framer.
  rec = {8, 51, 0};
  EXPECT_EQ(-EINVAL, Result(Board::ioctl(hal.lowlevel_fd(), Hal::kSpiRead, &rec)));
  Command("spi log clear");
  EXPECT_EQ("ok\n", Command("spi log").text());
}

TEST_F(TrunkDevices, BoardWithoutSpiAnswersEnodev) {
  Fd hal = Open(Hal::kDevice);
  Command("spi nospi on");
  Hal::SpiAccess rec = {0, 50, 0};
  EXPECT_EQ(-ENODEV, Result(Board::ioctl(hal.lowlevel_fd(), Hal::kSpiRead, &rec)));
  EXPECT_EQ(-ENODEV, Result(Board::ioctl(hal.lowlevel_fd(), Hal::kSpiWrite, &rec)));
  // The cross-connect is not behind the SPI bus.
  Hal::XcByte xc = {9000, 255};
  EXPECT_EQ(0, Result(Board::ioctl(hal.lowlevel_fd(), Hal::kXcRead, &xc)));
  Command("spi nospi off");
  EXPECT_EQ(0, Result(Board::ioctl(hal.lowlevel_fd(), Hal::kSpiWrite, &rec)));
}

TEST_F(TrunkDevices, SpiCommandsCheckTheirArguments) {
  for (const char* bad : {"spi set 8 51 1", "spi set 0 256 1", "spi set 0 51 256", "spi set 0 51", "spi get",
                          "spi nospi maybe", "spi log all"})
    EXPECT_TRUE(sim.execute(bad).failed()) << bad;
}

TEST_F(TrunkDevices, ClockSelectionsAreKept) {
  Fd hal = Open(Hal::kDevice);
  EXPECT_EQ("source=4\nselections=\nok\n", Command("clock get").text());
  for (std::int32_t n : {2, 4, 9}) EXPECT_EQ(0, Result(Board::ioctl(hal.lowlevel_fd(), Hal::kClockSelect, &n)));
  std::int32_t negative = -1;
  EXPECT_EQ(-EINVAL, Result(Board::ioctl(hal.lowlevel_fd(), Hal::kClockSelect, &negative)));
  EXPECT_EQ("source=9\nselections=2,4,9\nok\n", Command("clock get").text());
  Command("board reset");
  EXPECT_EQ("source=4\nselections=\nok\n", Command("clock get").text());
}

TEST_F(TrunkDevices, MaintenanceStatusRecord) {
  Fd m = Open(M::kDevice);
  Command("e1 state 1 9");
  Command("e1 state 2 ais");
  Command("e1 state 0 los");
  Command("e1 counters 3 1 2 3 4 5");
  const struct {
    int trunk;
    std::int32_t state;
    std::int32_t slips, lossBF, lossCarrier, ais, rai;
  } cases[] = {{0, M::kLossCarrier, 0, 0, 0, 0, 0},
               {1, 9, 0, 0, 0, 0, 0},
               {2, M::kAis, 0, 0, 0, 0, 0},
               {3, M::kNormal, 1, 2, 3, 4, 5}};
  for (const auto& c : cases) {
    M::SyncStatus rec = {};
    rec.trunk = c.trunk;
    ASSERT_EQ(0, Result(Board::ioctl(m.lowlevel_fd(), M::kReadStatus, &rec))) << c.trunk;
    EXPECT_EQ(c.trunk, rec.trunk);
    EXPECT_EQ(c.state, rec.state) << c.trunk;
    EXPECT_EQ(c.slips, rec.slips);
    EXPECT_EQ(c.lossBF, rec.lossBF);
    EXPECT_EQ(c.lossCarrier, rec.lossCarrier);
    EXPECT_EQ(c.ais, rec.ais);
    EXPECT_EQ(c.rai, rec.rai);
  }
  M::SyncStatus rec = {};
  rec.trunk = 4;
  EXPECT_EQ(-EINVAL, Result(Board::ioctl(m.lowlevel_fd(), M::kReadStatus, &rec)));
  Command("e1 readfail 1 EBUSY");
  rec.trunk = 1;
  EXPECT_EQ(-EBUSY, Result(Board::ioctl(m.lowlevel_fd(), M::kReadStatus, &rec)));
  Command("e1 readfail 1 off");
  EXPECT_EQ(0, Result(Board::ioctl(m.lowlevel_fd(), M::kReadStatus, &rec)));
  EXPECT_TRUE(sim.execute("e1 state 4 normal").failed());
  EXPECT_TRUE(sim.execute("e1 state 0 sleepy").failed());
  EXPECT_TRUE(sim.execute("e1 readfail 0 EWHAT").failed());
}

TEST_F(TrunkDevices, MaintenanceKeepsTclkAndClock) {
  Fd m = Open(M::kDevice);
  EXPECT_EQ(0, Result(Board::ioctlValue(m.lowlevel_fd(), M::kSetTclk, 0x80000004u)));
  EXPECT_EQ(0, Result(Board::ioctlValue(m.lowlevel_fd(), M::kSelectClock, 3)));
  const SimBoard::Reply r = Command("e1 get");
  ASSERT_EQ(5u, r.lines().size());
  EXPECT_EQ("trunk=0 state=normal slips=0 lossBF=0 lossCarrier=0 ais=0 rai=0", r.lines()[0]);
  EXPECT_EQ("tclk=0x80000004 tclk_requests=1 clock=3", r.lines()[4]);
}

class CasDevice : public TrunkDevices {
public:
  int Enable(int fd, int trunk, int ts, int tx, int disable = 0) {
    C::CasEnable rec = {};
    rec.channel.path = trunk;
    rec.channel.timeslot = ts;
    rec.channel.tx = static_cast<std::uint8_t>(tx);
    rec.disable = disable;
    return Result(Board::ioctl(fd, C::kEnable, &rec));
  }
  // Reads one record that must be there.
  static bool Record(int fd, C::CasChannel& rec) {
    pollfd p = {fd, POLLIN, 0};
    if (::poll(&p, 1, 1000) != 1) return false;
    return ::read(fd, &rec, sizeof rec) == static_cast<ssize_t>(sizeof rec);
  }
};

TEST_F(CasDevice, ChannelsOfAnOpenTrunk) {
  Fd cas = Open(C::kDevice);
  const int fd = cas.lowlevel_fd();
  EXPECT_EQ(-ENXIO, Enable(fd, 1, 5, 0xA));
  EXPECT_EQ(0, Result(Board::ioctlValue(fd, C::kOpenTrunk, 1)));
  EXPECT_EQ(-EINVAL, Result(Board::ioctlValue(fd, C::kOpenTrunk, 4)));
  for (int ts : {0, 16, 32, -1}) EXPECT_EQ(-EINVAL, Enable(fd, 1, ts, 1)) << ts;
  EXPECT_EQ(0, Enable(fd, 1, 5, 0x1A));
  C::CasChannel bits = {};
  bits.path = 1;
  bits.timeslot = 5;
  EXPECT_EQ(0, Result(Board::ioctl(fd, C::kGetBits, &bits)));
  EXPECT_EQ(0, bits.rx);
  EXPECT_EQ(0xA, bits.tx);
  bits.tx = 3;
  EXPECT_EQ(0, Result(Board::ioctl(fd, C::kSetBits, &bits)));
  EXPECT_EQ("trunk=1 open=1 ts=5 enabled=1 tx=0x3 rx=0x0\nok\n", Command("cas get 1 5").text());
  Command("cas rx 1 5 0x6");
  C::CasChannel rec = {};
  ASSERT_TRUE(Record(fd, rec));
  EXPECT_EQ(1, rec.path);
  EXPECT_EQ(5, rec.timeslot);
  EXPECT_EQ(6, rec.rx);
  EXPECT_EQ(3, rec.tx);
  // Closing the trunk disables its channels.
  EXPECT_EQ(0, Result(Board::ioctlValue(fd, C::kCloseTrunk, 1)));
  EXPECT_EQ(-ENXIO, Result(Board::ioctl(fd, C::kGetBits, &bits)));
  EXPECT_EQ("not reported: channel disabled\nok\n", Command("cas rx 1 5 1").text());
}

TEST_F(CasDevice, StateSurvivesAReopenAndRecordsWaitForIt) {
  {
    Fd cas = Open(C::kDevice);
    EXPECT_EQ(0, Result(Board::ioctlValue(cas.lowlevel_fd(), C::kOpenTrunk, 2)));
    EXPECT_EQ(0, Enable(cas.lowlevel_fd(), 2, 9, 0x5));
  }
  sim.collect_closed();
  Command("cas rx 2 9 0x7");
  Fd cas = Open(C::kDevice);
  C::CasChannel rec = {};
  ASSERT_TRUE(Record(cas.lowlevel_fd(), rec));
  EXPECT_EQ(2, rec.path);
  EXPECT_EQ(9, rec.timeslot);
  EXPECT_EQ(7, rec.rx);
  EXPECT_EQ(5, rec.tx);
  EXPECT_EQ("trunk=2 open=1 ts=9 enabled=1 tx=0x5 rx=0x7\nok\n", Command("cas get 2 9").text());
}

TEST_F(CasDevice, LoopCarriesBitsToTheCabledTrunk) {
  Fd cas = Open(C::kDevice);
  const int fd = cas.lowlevel_fd();
  Command("cas loop on");
  for (int trunk : {2, 3}) EXPECT_EQ(0, Result(Board::ioctlValue(fd, C::kOpenTrunk, trunk)));
  EXPECT_EQ(0, Enable(fd, 3, 1, 0));
  EXPECT_EQ(0, Enable(fd, 2, 1, 0x9));
  C::CasChannel rec = {};
  ASSERT_TRUE(Record(fd, rec));
  EXPECT_EQ(3, rec.path);
  EXPECT_EQ(1, rec.timeslot);
  EXPECT_EQ(9, rec.rx);
  Command("cas loop off");
  C::CasChannel bits = {};
  bits.path = 2;
  bits.timeslot = 1;
  bits.tx = 2;
  EXPECT_EQ(0, Result(Board::ioctl(fd, C::kSetBits, &bits)));
  EXPECT_EQ("trunk=3 open=1 ts=1 enabled=1 tx=0x0 rx=0x9\nok\n", Command("cas get 3 1").text());
  // The loop follows the cables.
  Command("cas loop on");
  Command("line uncable 2");
  bits.tx = 4;
  EXPECT_EQ(0, Result(Board::ioctl(fd, C::kSetBits, &bits)));
  EXPECT_EQ("trunk=3 open=1 ts=1 enabled=1 tx=0x0 rx=0x9\nok\n", Command("cas get 3 1").text());
}

}  // namespace
