// "/dev/rtp" and "/dev/voice" as the services see them: through the seam, on
// the default board.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "board/board.h"
#include "board/rtp.h"
#include "board/voice.h"
#include "simboard/rtp.h"
#include "simboard/simulator.h"
#include "simboard/tests/default_board_test.h"
#include "simboard/voice.h"

namespace {

using SimBoard::Simulator;
namespace R = Board::Rtp;
namespace V = Board::Voice;

class RtpDevice : public simtest::DefaultBoardTest {
public:
  Fd Open(const char* path) { return DefaultBoardTest::Open(path, O_RDONLY | O_NONBLOCK); }

  static rtp_connection_params Params() {
    rtp_connection_params p = {};
    p.remote_addr = ::inet_addr("127.0.0.1");
    p.remote_port = 5004;
    p.local_port = 6000;
    p.rx_pt = 8;
    p.tx_pt = 0;
    p.packet_factor = 2;
    p.ssrc = 0x01020304;
    p.ttl = 16;
    p.tos = 184;
    return p;
  }
  // Begins a session and adds a channel; the channel, or -errno.
  static int Start(Fd& fd, std::int32_t ask = R::kAny) {
    rtp_connection_params p = Params();
    if (Board::ioctl(fd.lowlevel_fd(), R::kBeginSession, &p) < 0) return -errno;
    rtp_add_channel_params add = {{ask, -1, -1}, 0};
    if (Board::ioctl(fd.lowlevel_fd(), R::kAddChannel, &add) < 0) return -errno;
    return add.info.tdm;
  }
  // The log's entries of the channel, without the session numbers.
  std::vector<std::string> Log(int tdm) {
    std::vector<std::string> out;
    const SimBoard::Reply r = Command("rtp log " + std::to_string(tdm));
    for (const std::string& l : r.lines()) out.push_back(l.substr(l.find(": ") + 2));
    return out;
  }

  SimBoard::Rtp& rtp = *sim.device<SimBoard::Rtp>(R::kDevice);
};

TEST_F(RtpDevice, SessionsGetTheLowestFreeChannelOfThePool) {
  Fd a = Open(R::kDevice), b = Open(R::kDevice);
  const int first = rtp.pool().front();
  EXPECT_EQ(first, Start(a));
  EXPECT_EQ(first + 1, Start(b));
  a.close();
  sim.collect_closed();
  Fd c = Open(R::kDevice);
  EXPECT_EQ(first, Start(c));
  // Two sessions listed, the ended one is not.
  EXPECT_EQ(2u, Command("rtp list").lines().size());
}

TEST_F(RtpDevice, AChannelAskedForIsRefusedWhileALiveSessionHoldsIt) {
  Fd a = Open(R::kDevice);
  const int tdm = Start(a);
  Fd b = Open(R::kDevice);
  EXPECT_EQ(-EBUSY, Start(b, tdm));
  a.close();
  sim.collect_closed();
  Fd c = Open(R::kDevice);
  EXPECT_EQ(tdm, Start(c, tdm));
  // Outside the pool.
  Fd d = Open(R::kDevice);
  EXPECT_EQ(-EINVAL, Start(d, 5));
}

TEST_F(RtpDevice, ChannelNeedsABegunSessionAndComesOnce) {
  Fd a = Open(R::kDevice);
  rtp_add_channel_params add = {{-1, -1, -1}, 0};
  EXPECT_EQ(-EINVAL, Result(Board::ioctl(a.lowlevel_fd(), R::kAddChannel, &add)));
  ASSERT_GE(Start(a), 0);
  EXPECT_EQ(-EBUSY, Result(Board::ioctl(a.lowlevel_fd(), R::kAddChannel, &add)));
}

TEST_F(RtpDevice, GetDecodesTheStoredRecord) {
  Fd a = Open(R::kDevice);
  const int tdm = Start(a);
  const auto r = Command("rtp get " + std::to_string(tdm));
  const std::vector<std::string> want = {"session=1 live=1",
                                         "tdm=" + std::to_string(tdm) + " bss=0",
                                         "remote=127.0.0.1:5004",
                                         "local=0.0.0.0:6000",
                                         "rx_pt=8 tx_pt=0",
                                         "packet_factor=2",
                                         "vad=0 crate=0",
                                         "ssrc=16909060",
                                         "ttl=16",
                                         "tos=184",
                                         "input=0",
                                         "pd=0"};
  ASSERT_EQ(want.size(), r.lines().size()) << r.text();
  for (std::size_t i = 1; i < want.size(); ++i) EXPECT_EQ(want[i], r.lines()[i]);
  EXPECT_TRUE(sim.execute("rtp get 9999").failed());
}

TEST_F(RtpDevice, RequestsAndTheCloseAreLoggedAndTheLogOutlivesTheSession) {
  Fd a = Open(R::kDevice);
  const int tdm = Start(a);
  const int fd = a.lowlevel_fd();
  EXPECT_EQ(0, Result(Board::ioctlValue(fd, R::kStartInput, 0)));
  EXPECT_TRUE(rtp.live(tdm)->input);
  EXPECT_EQ(0, Result(Board::ioctlValue(fd, R::kStopInput, 0)));
  EXPECT_FALSE(rtp.live(tdm)->input);
  rtp_event pd = {};
  pd.type = 1;
  pd.timeout = 300;
  std::uint32_t five = 300;
  std::memcpy(pd.rest + 8, &five, 4);
  EXPECT_EQ(0, Result(Board::ioctl(fd, R::kPayloadDetect, &pd)));
  EXPECT_TRUE(rtp.live(tdm)->pd);
  std::uint32_t one = 1;
  for (Board::Request r : {R::kTeardown1, R::kTeardown2, R::kTeardown3})
    EXPECT_EQ(0, Result(Board::ioctlValue(fd, r, 0)));
  EXPECT_EQ(0, Result(Board::ioctl(fd, R::kPayloadReset, &one)));
  a.close();
  sim.collect_closed();
  EXPECT_EQ(nullptr, rtp.live(tdm));
  const std::vector<std::string> want = {"'R' 0",
                                         "'R' 2 ask=-1 tdm=" + std::to_string(tdm),
                                         "'R' 4",
                                         "'R' 5",
                                         "'R' 12 1 0 300 0 0 300 0 0 0",
                                         "'R' 10",
                                         "'R' 3",
                                         "'R' 11",
                                         "'R' 13 1",
                                         "close"};
  EXPECT_EQ(want, Log(tdm));
}

TEST_F(RtpDevice, EventsAreReadOneRecordEachAndPollReadableWhileQueued) {
  Fd a = Open(R::kDevice);
  const int tdm = Start(a);
  pollfd p = {a.lowlevel_fd(), POLLIN, 0};
  EXPECT_EQ(0, ::poll(&p, 1, 0));
  rtp_event e;
  EXPECT_EQ(-1, ::read(a.lowlevel_fd(), &e, sizeof e));
  EXPECT_EQ(EAGAIN, errno);
  Command("rtp event " + std::to_string(tdm) + " 1 7 300");
  Command("rtp event " + std::to_string(tdm) + " 2 8 0");
  EXPECT_EQ(1, ::poll(&p, 1, 0));
  ASSERT_EQ(36, ::read(a.lowlevel_fd(), &e, sizeof e));
  EXPECT_EQ(1u, e.type);
  EXPECT_EQ(7, e.value);
  EXPECT_EQ(300, e.timeout);
  ASSERT_EQ(36, ::read(a.lowlevel_fd(), &e, sizeof e));
  EXPECT_EQ(2u, e.type);
  EXPECT_EQ(0, ::poll(&p, 1, 0));
  // Nobody on the channel.
  EXPECT_TRUE(sim.execute("rtp event 9999 1 0 0").failed());
}

TEST_F(RtpDevice, InputNeedsAChannel) {
  Fd a = Open(R::kDevice);
  EXPECT_EQ(-EINVAL, Result(Board::ioctlValue(a.lowlevel_fd(), R::kStartInput, 0)));
}

class VoiceDevice : public RtpDevice {};

TEST_F(VoiceDevice, ClassCountsAndVersion) {
  Fd v = Open(V::kDevice);
  auto count = [&](std::uint32_t c) {
    std::uint32_t w = c;
    EXPECT_EQ(0, Result(Board::ioctl(v.lowlevel_fd(), V::kClassCount, &w)));
    return w;
  };
  const struct { std::uint32_t c, n; } defaults[] = {{4, 32}, {2, 16}, {1, 64}, {8, 16}, {65, 8}, {3, 0}};
  for (const auto& d : defaults) EXPECT_EQ(d.n, count(d.c)) << d.c;
  Command("voice class 4 0");
  EXPECT_EQ(0u, count(4));
  Command("voice version 1 2 3 4 5");
  V::Version ver = {};
  EXPECT_EQ(0, Result(Board::ioctl(v.lowlevel_fd(), V::kGetVersion, &ver)));
  for (std::uint32_t i = 0; i < 5; ++i) EXPECT_EQ(i + 1, ver.word[i]);
  sim.reset();
  EXPECT_EQ(32u, count(4));
}

}  // namespace
