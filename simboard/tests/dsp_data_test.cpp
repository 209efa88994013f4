// The simulated DSP data device: its channels, their B subslots, and their
// frames on the HDLC controller's lines.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "board/dsp_data.h"
#include "board/hal.h"
#include "board/mcc.h"
#include "simboard/dsp_data.h"
#include "simboard/hal.h"
#include "simboard/lines.h"
#include "simboard/mcc.h"
#include "simboard/simulator.h"
#include "simboard/tests/sim_test_util.h"

namespace {

namespace Req = Board::DspData;

class DspDataTest : public ::testing::Test {
protected:
  DspDataTest() {
    sim.add(std::unique_ptr<SimBoard::Driver>(new SimBoard::Hal));
    sim.add(std::unique_ptr<SimBoard::Driver>(new SimBoard::DspData({321, 320}, {330, 331})));
    sim.add(std::unique_ptr<SimBoard::Driver>(new SimBoard::Mcc({300}, {})));
    dsp = sim.device<SimBoard::DspData>(Req::kDevice);
    halFd = sim.open(Board::Hal::kDevice, O_RDWR);
  }

  Fd Open() { return sim.open(Req::kDevice, O_RDWR | O_NONBLOCK); }
  // The timeslot read back, or -errno.
  int AddB(const Fd& fd, std::uint32_t subslot) {
    Req::AddB rec{subslot, -1};
    if (sim.ioctl(fd.lowlevel_fd(), Req::kAddB, &rec) != 0) return -errno;
    return rec.timeslot;
  }
  int RemoveB(const Fd& fd, std::uint32_t subslot) {
    Req::RemoveB rec{subslot};
    return sim.ioctl(fd.lowlevel_fd(), Req::kRemoveB, &rec) == 0 ? 0 : errno;
  }
  void Connect(int source, int output) {
    Board::Hal::XcConnect rec = {output, source};
    ASSERT_EQ(0, sim.ioctl(halFd.lowlevel_fd(), Board::Hal::kXcConnect, &rec));
  }
  std::vector<std::string> List() { return sim.execute("dspdata list").lines(); }

  SimBoard::Simulator sim;
  SimBoard::DspData* dsp = nullptr;
  Fd halFd;
};

TEST_F(DspDataTest, ChannelsAndTheirSubslots) {
  Fd a = Open();
  Fd b = Open();
  ASSERT_TRUE(a.is_valid() && b.is_valid());
  EXPECT_FALSE(Open().is_valid());
  EXPECT_EQ(EBUSY, errno);
  EXPECT_EQ(320, sim.ioctl_value(a.lowlevel_fd(), Req::kTimeslot, 0));
  EXPECT_EQ(321, sim.ioctl_value(b.lowlevel_fd(), Req::kTimeslot, 0));
  EXPECT_EQ(-1, sim.ioctl_value(a.lowlevel_fd(), Req::kTimeslot, 1));

  struct Step {
    bool add;
    std::uint32_t subslot;
    int result;  // the timeslot or -errno of add, the errno of remove
  } const steps[] = {
      {true, 3, -EINVAL}, {true, 2, 330}, {true, 2, -EBUSY}, {true, 0, 331}, {true, 1, -EBUSY},
      {false, 3, EINVAL}, {false, 2, 0},  {true, 1, 330},    {false, 0, 0},  {false, 0, 0},
  };
  for (Step const& s : steps)
    EXPECT_EQ(s.result, s.add ? AddB(a, s.subslot) : RemoveB(a, s.subslot)) << s.add << " " << s.subslot;
  EXPECT_EQ((std::vector<std::string>{"channel=320 b0=- b1=330 b2=-", "channel=321 b0=- b1=- b2=-"}), List());

  // The close frees the channel and its subslots.
  a.close();
  sim.collect_closed();
  EXPECT_EQ(std::vector<std::string>{"channel=321 b0=- b1=- b2=-"}, List());
  EXPECT_EQ(330, AddB(b, 0));
  Fd c = Open();
  EXPECT_EQ(320, sim.ioctl_value(c.lowlevel_fd(), Req::kTimeslot, 0));
}

TEST_F(DspDataTest, FramesTravelTheCrossConnectLikeAControllerChannels) {
  Fd d = Open();
  Fd m = sim.open(Board::Mcc::kDevice, O_RDWR | O_NONBLOCK);
  Board::Mcc::Allocate rec{0, 512, 0, 1, 1};
  ASSERT_EQ(0, sim.ioctl(m.lowlevel_fd(), Board::Mcc::kAllocate, &rec));
  Connect(320, 300);
  Connect(300, 320);
  const auto read = [](const Fd& fd) {
    unsigned char buf[64];
    const ssize_t n = ::recv(fd.lowlevel_fd(), buf, sizeof buf, MSG_DONTWAIT);
    return n > 0 ? SimBoard::HexText(SimBoard::Lines::Frame(buf, buf + n)) : std::string();
  };
  std::string got;
  ASSERT_EQ(3, ::write(d.lowlevel_fd(), "\x02\x01\x7f", 3));
  ASSERT_TRUE(simtest::run_until([&] { return !(got += read(m)).empty(); }));
  EXPECT_EQ("02017F", got);
  ASSERT_EQ(2, ::write(m.lowlevel_fd(), "\x02\x03", 2));
  got.clear();
  ASSERT_TRUE(simtest::run_until([&] { return !(got += read(d)).empty(); }));
  EXPECT_EQ("0203", got);
}

}  // namespace
