// The simulated mixer's requests and commands, and the HDLC controller's
// channel pools per type, its counts and its byte channels.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "board/hal.h"
#include "board/mcc.h"
#include "board/mixer.h"
#include "simboard/hal.h"
#include "simboard/mcc.h"
#include "simboard/mixer.h"
#include "simboard/simulator.h"

namespace {

namespace M = Board::Mixer;
namespace Mcc = Board::Mcc;

class MixerSimTest : public ::testing::Test {
protected:
  MixerSimTest() {
    sim.add(std::unique_ptr<SimBoard::Driver>(new SimBoard::Mixer({{0, 32, 8}, {4, 16, 2}})));
    fd = sim.open(M::kDevice, O_RDONLY);
  }
  // The request's result, -errno on failure.
  int Do(Board::Request r, void* arg) { return sim.ioctl(fd.lowlevel_fd(), r, arg) < 0 ? -errno : 0; }
  int Tdm(int dev, int type, int number) {
    M::mix_slot s{dev, type, number};
    const int rc = sim.ioctl(fd.lowlevel_fd(), M::kTdm, &s);
    return rc < 0 ? -errno : rc;
  }
  std::vector<std::string> Lines(const std::string& command) {
    const SimBoard::Reply r = sim.execute(command);
    EXPECT_FALSE(r.failed()) << command << ": " << r.error();
    return r.lines();
  }

  SimBoard::Simulator sim;
  Fd fd;
};

TEST_F(MixerSimTest, InfoWalksTheUnitsByThePreviousNumber) {
  M::mix_info info{-1, 0, 0, 0};
  ASSERT_EQ(0, Do(M::kInfo, &info));
  EXPECT_EQ(0, info.dev_no);
  EXPECT_EQ(32, info.tdm_channels);
  EXPECT_EQ(8, info.mixer_inputs);
  ASSERT_EQ(0, Do(M::kInfo, &info));
  EXPECT_EQ(4, info.dev_no);
  EXPECT_EQ(16, info.tdm_channels);
  EXPECT_EQ(2, info.mixer_inputs);
  EXPECT_EQ(-ENODEV, Do(M::kInfo, &info));
  info.dev_no = 9;
  EXPECT_EQ(-EINVAL, Do(M::kInfo, &info));
}

TEST_F(MixerSimTest, RequestsNamingNoChannelFail) {
  struct Case {
    int dev, type, number, result;
  } cases[] = {{0, 0, 0, 16384},    {0, 0, 31, 16415},   {4, 0, 15, 16384 + 4 * 128 + 15},
               {0, 0, 32, -EINVAL}, {4, 0, 16, -EINVAL}, {0, 1, 3, -EINVAL},
               {2, 0, 0, -EINVAL},  {0, 0, -1, -EINVAL}};
  for (const Case& c : cases) EXPECT_EQ(c.result, Tdm(c.dev, c.type, c.number)) << c.dev << "/" << c.number;
  M::mix_route across{{0, 0, 1}, {4, 0, 1}, 100};
  EXPECT_EQ(-EINVAL, Do(M::kRxAdd, &across));
  M::mix_slot missing{3, 0, 0};
  EXPECT_EQ(-EINVAL, Do(M::kRxClear, &missing));
}

TEST_F(MixerSimTest, RoutesAreAddedRemovedAndCleared) {
  M::mix_route a{{0, 0, 3}, {0, 0, 1}, 16000};
  M::mix_route b{{0, 0, 3}, {0, 0, 2}, 32767};
  ASSERT_EQ(0, Do(M::kRxAdd, &a));
  ASSERT_EQ(0, Do(M::kRxAdd, &b));
  EXPECT_EQ((std::vector<std::string>{"tx=1 gain=16000", "tx=2 gain=32767"}), Lines("mixer routes 0 3"));
  ASSERT_EQ(0, Do(M::kRxRemove, &a));
  EXPECT_EQ(-ENOENT, Do(M::kRxRemove, &a));
  EXPECT_EQ((std::vector<std::string>{"tx=2 gain=32767"}), Lines("mixer routes 0 3"));
  M::mix_slot rx{0, 0, 3};
  ASSERT_EQ(0, Do(M::kRxClear, &rx));
  EXPECT_TRUE(Lines("mixer routes 0 3").empty());
  EXPECT_EQ("MIX_RX_CLEAR 0/0/3 -> 0", Lines("mixer log").back());
  // A removed unit takes its routes along; the unit can come back empty.
  ASSERT_EQ(0, Do(M::kRxAdd, &a));
  Lines("mixer unit remove 0");
  EXPECT_TRUE(sim.execute("mixer routes 0 3").failed());
  Lines("mixer unit add 0 32 8");
  EXPECT_TRUE(Lines("mixer routes 0 3").empty());
  EXPECT_TRUE(sim.execute("mixer unit add 4 8 8").failed());
}

class MccPoolsTest : public ::testing::Test {
protected:
  MccPoolsTest() {
    sim.add(std::unique_ptr<SimBoard::Driver>(new SimBoard::Hal));
    sim.add(std::unique_ptr<SimBoard::Driver>(
        new SimBoard::Mcc({300, 301, 302, 303, 304}, {{0, 1}}, SimBoard::Mcc::TypePools{2, 1, 1, 1})));
  }
  int Allocate(const Fd& fd, std::int32_t type, std::int32_t size = 512, std::int32_t reserved = 0) {
    Mcc::Allocate rec = {type, size, reserved, 1, 1};
    return sim.ioctl(fd.lowlevel_fd(), Mcc::kAllocate, &rec) == 0 ? 0 : errno;
  }
  Fd Open() { return sim.open(Mcc::kDevice, O_RDWR | O_NONBLOCK); }

  SimBoard::Simulator sim;
};

TEST_F(MccPoolsTest, EachTypeHasAPoolOfItsOwn) {
  std::vector<Fd> open;
  for (int i = 0; i < 6; ++i) open.push_back(Open());
  EXPECT_EQ(EINVAL, Allocate(open[0], 4));
  EXPECT_EQ(EINVAL, Allocate(open[0], 0, 512, 7));
  EXPECT_EQ(EINVAL, Allocate(open[0], 0, 0));
  EXPECT_EQ(0, Allocate(open[0], 0));
  EXPECT_EQ(0, Allocate(open[1], 0));
  EXPECT_EQ(EBUSY, Allocate(open[2], 0));
  EXPECT_EQ(0, Allocate(open[2], 1));
  EXPECT_EQ(EBUSY, Allocate(open[3], 1));
  EXPECT_EQ(0, Allocate(open[3], 3));
  // Closing a channel gives its place back.
  open[0].close();
  sim.collect_closed();
  EXPECT_EQ(0, Allocate(open[4], 0));

  Fd query = sim.open(Mcc::kDevice, O_RDONLY);
  Mcc::Resources rec{};
  ASSERT_EQ(0, sim.ioctl(query.lowlevel_fd(), Mcc::kResources, &rec));
  EXPECT_EQ(2, rec.data);
  EXPECT_EQ(1, rec.bri);
  EXPECT_EQ(1, rec.transparent);
  EXPECT_EQ(1, rec.other);
  EXPECT_FALSE(sim.execute("mcc resources 7 8 9").failed());
  ASSERT_EQ(0, sim.ioctl(query.lowlevel_fd(), Mcc::kResources, &rec));
  EXPECT_EQ(7, rec.data);
  EXPECT_EQ(9, rec.transparent);
}

TEST_F(MccPoolsTest, ATransparentChannelIsAByteStreamInPacketSizedRuns) {
  Fd a = Open(), b = Open();
  ASSERT_EQ(0, Allocate(a, 2, 100));
  ASSERT_EQ(0, Allocate(b, 0));
  int type = 0;
  socklen_t len = sizeof type;
  ASSERT_EQ(0, ::getsockopt(a.lowlevel_fd(), SOL_SOCKET, SO_TYPE, &type, &len));
  EXPECT_EQ(SOCK_STREAM, type);
  EXPECT_TRUE(::fcntl(a.lowlevel_fd(), F_GETFL) & O_NONBLOCK);
  EXPECT_TRUE(::fcntl(a.lowlevel_fd(), F_GETFD) & FD_CLOEXEC);
  const int ta = sim.ioctl_value(a.lowlevel_fd(), Mcc::kTimeslot, 0);
  const int tb = sim.ioctl_value(b.lowlevel_fd(), Mcc::kTimeslot, 0);
  ASSERT_GE(ta, 0);
  // b's frames reach a through the cross-connect.
  Fd hal = sim.open(Board::Hal::kDevice, O_RDWR);
  Board::Hal::XcConnect rec = {ta, tb};
  ASSERT_EQ(0, sim.ioctl(hal.lowlevel_fd(), Board::Hal::kXcConnect, &rec));
  const std::string frame(250, 'z');
  ASSERT_EQ(250, ::write(b.lowlevel_fd(), frame.data(), frame.size()));
  sim.device<SimBoard::Mcc>(Mcc::kDevice)->drain();
  char buf[1024];
  const ssize_t n = ::read(a.lowlevel_fd(), buf, sizeof buf);
  EXPECT_EQ(250, n);

  // A hang-up of one channel: end of file and POLLHUP there only.
  EXPECT_FALSE(sim.execute("mcc hangup " + std::to_string(ta)).failed());
  pollfd p = {a.lowlevel_fd(), POLLIN, 0};
  ASSERT_EQ(1, ::poll(&p, 1, 0));
  EXPECT_TRUE(p.revents & POLLHUP);
  EXPECT_EQ(0, ::read(a.lowlevel_fd(), buf, sizeof buf));
  pollfd q = {b.lowlevel_fd(), POLLIN, 0};
  EXPECT_EQ(0, ::poll(&q, 1, 0));
}

}  // namespace
