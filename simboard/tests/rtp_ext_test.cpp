// "/dev/rtp_ext" as the radio engines see it: through the seam, on the
// default board, bound to sessions of "/dev/rtp".
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "board/board.h"
#include "board/rtp.h"
#include "board/rtp_ext.h"
#include "foundation/ext_text.h"
#include "simboard/rtp_ext.h"
#include "simboard/tests/default_board_test.h"

namespace {

namespace R = Board::Rtp;
namespace E = Board::RtpExt;

class RtpExtDevice : public simtest::DefaultBoardTest {
public:
  // An RTP session with a channel; the channel.
  int StartRtp(Fd& fd) {
    fd = Open(R::kDevice);
    rtp_connection_params p = {};
    p.remote_addr = ::inet_addr("127.0.0.1");
    if (Board::ioctl(fd.lowlevel_fd(), R::kBeginSession, &p) < 0) return -errno;
    rtp_add_channel_params add = {{R::kAny, -1, -1}, 0};
    if (Board::ioctl(fd.lowlevel_fd(), R::kAddChannel, &add) < 0) return -errno;
    return add.info.tdm;
  }
  int Init(const Fd& ext, std::uint16_t etype = 0x1337) {
    rtp_ext_init_params init = {};
    init.etype = etype;
    init.param3 = 0x80000001u;
    return Result(Board::ioctl(ext.lowlevel_fd(), E::kInit, &init));
  }
  int Attach(const Fd& ext, int fd, int pid) {
    rtp_ext_attach_session_params a = {fd, pid};
    return Result(Board::ioctl(ext.lowlevel_fd(), E::kAttachSession, &a));
  }
  // An RTP session and a header-extension session bound to it.
  int Bound(Fd& rtp, Fd& ext) {
    const int tdm = StartRtp(rtp);
    ext = Open(E::kDevice);
    EXPECT_EQ(0, Init(ext));
    EXPECT_EQ(0, Attach(ext, rtp.lowlevel_fd(), ::getpid()));
    return tdm;
  }
  // The next packet's source and the packet, "ssrc@addr:hex"; "none" when
  // the request says none waits, with whatever a read then gives.
  std::string Next(const Fd& ext) {
    rtp_ext_next_packet_params n = {};
    const int rc = Result(Board::ioctl(ext.lowlevel_fd(), E::kNextPacket, &n));
    unsigned char buf[E::kMaxPacket + 16];
    const ssize_t got = ::read(ext.lowlevel_fd(), buf, sizeof buf);
    std::string text = rc == 1 ? std::to_string(n.ssrc) + "@" + Dotted(n.addr) : rc == 0 ? "none" : "rc " + std::to_string(rc);
    text += ":";
    if (got < 0) return text + (errno == EAGAIN ? "EAGAIN" : "error");
    return text + ext::hex_text(buf, std::size_t(got));
  }
  static std::string Dotted(std::uint32_t addr) {
    in_addr a;
    a.s_addr = addr;
    return ::inet_ntoa(a);
  }
  std::vector<std::string> Lines(const std::string& command) { return Command(command).lines(); }

  SimBoard::RtpExt& device = *sim.device<SimBoard::RtpExt>(E::kDevice);
};

TEST_F(RtpExtDevice, BindsToTheRtpSessionItsDescriptorNames) {
  Fd rtp, other;
  const int tdm = StartRtp(rtp);
  StartRtp(other);
  Fd ext = Open(E::kDevice);
  Fd plain = Open(E::kDevice);
  EXPECT_EQ(-EINVAL, Attach(ext, rtp.lowlevel_fd(), -1));  // not initialised
  ASSERT_EQ(0, Init(ext));
  EXPECT_EQ(-EBADF, Attach(ext, plain.lowlevel_fd(), -1));  // no RTP session
  EXPECT_EQ(-EBADF, Attach(ext, 999, -1));
  EXPECT_EQ(-ESRCH, Attach(ext, rtp.lowlevel_fd(), ::getpid() + 1));
  ASSERT_EQ(0, Attach(ext, rtp.lowlevel_fd(), -1));
  EXPECT_EQ(-EBUSY, Attach(ext, other.lowlevel_fd(), -1));
  const std::string t = std::to_string(tdm);
  // Session numbers count on from earlier tests.
  ASSERT_NE(nullptr, device.live(tdm));
  const std::string e = std::to_string(device.live(tdm)->id);
  const std::string r = std::to_string(sim.device<SimBoard::Rtp>(R::kDevice)->live(tdm)->id);
  const std::vector<std::string> want = {"session=" + e, "etype=0x1337 words=0,0,2147483649,0",
                                         "rtp=" + r + " pid=-1", "filter=off"};
  EXPECT_EQ(want, Lines("rtpext get " + t));
  EXPECT_EQ("session=" + e + " tdm=" + t + " rtp=" + r + " pid=-1 filter=off", Lines("rtpext list").front());

  EXPECT_EQ(0, Result(Board::ioctl(ext.lowlevel_fd(), E::kDetachSession, nullptr)));
  EXPECT_TRUE(sim.execute("rtpext get " + t).failed());
  rtp_ext_attach_session_params a = {};
  EXPECT_EQ(-EINVAL, Result(Board::ioctl(ext.lowlevel_fd(), E::kDetachSession, &a)));

  // 'R' 9 on "/dev/rtp" keeps its record.
  rtp_attach_session_params ra = {17, 4711};
  EXPECT_EQ(0, Result(Board::ioctl(rtp.lowlevel_fd(), R::kAttachSession, &ra)));
  EXPECT_EQ("attach=17,4711", Lines("rtp get " + t).back());

  ext.close();
  sim.collect_closed();
  const std::vector<std::string> log = {"rtp " + r + ": 'R' 0",
                                        "rtp " + r + ": 'R' 2 ask=-1 tdm=" + t,
                                        "rtpext " + e + ": 'E' 1 fd=" + std::to_string(rtp.lowlevel_fd()) + " pid=-1 EINVAL",
                                        "rtpext " + e + ": 'E' 0 etype=0x1337 words=0,0,2147483649,0",
                                        "rtpext " + e + ": 'E' 1 fd=" + std::to_string(plain.lowlevel_fd()) + " pid=-1 EBADF",
                                        "rtpext " + e + ": 'E' 1 fd=999 pid=-1 EBADF",
                                        "rtpext " + e + ": 'E' 1 fd=" + std::to_string(rtp.lowlevel_fd()) + " pid=" +
                                            std::to_string(::getpid() + 1) + " ESRCH",
                                        "rtpext " + e + ": 'E' 1 fd=" + std::to_string(rtp.lowlevel_fd()) + " pid=-1 rtp=" + r,
                                        "rtpext " + e + ": 'E' 1 fd=" + std::to_string(other.lowlevel_fd()) + " pid=-1 EBUSY",
                                        "rtpext " + e + ": 'E' 2",
                                        "rtpext " + e + ": 'E' 2 EINVAL",
                                        "rtp " + r + ": 'R' 9 fd=17 pid=4711",
                                        "rtpext " + e + ": close"};
  EXPECT_EQ(log, Lines("rtpext log " + t));
}

TEST_F(RtpExtDevice, QueuedPacketsAreReadOneEachWithTheirSource) {
  Fd rtp, ext;
  const std::string t = std::to_string(Bound(rtp, ext));
  pollfd p = {ext.lowlevel_fd(), POLLIN, 0};
  EXPECT_EQ(0, ::poll(&p, 1, 0));
  EXPECT_EQ("none:EAGAIN", Next(ext));
  Command("rtpext inject " + t + " 7 10.0.0.1 01040000,0a000000030100");
  Command("rtpext inject " + t + " 8 10.0.0.2 81000000");
  EXPECT_EQ(1, ::poll(&p, 1, 0));
  EXPECT_EQ("7@10.0.0.1:01040000", Next(ext));
  // A read without asking first: the request after it still names the
  // packet that the next read returns.
  unsigned char buf[E::kMaxPacket];
  EXPECT_EQ(7, ::read(ext.lowlevel_fd(), buf, sizeof buf));
  EXPECT_EQ("8@10.0.0.2:81000000", Next(ext));
  EXPECT_EQ("none:EAGAIN", Next(ext));
  EXPECT_EQ(0, ::poll(&p, 1, 0));

  // The largest packet a read returns whole.
  Command("rtpext inject " + t + " 9 10.0.0.3 " + std::string(2 * E::kMaxPacket, 'a'));
  EXPECT_EQ("9@10.0.0.3:" + std::string(2 * E::kMaxPacket, 'a'), Next(ext));
}

TEST_F(RtpExtDevice, FilterDropsOtherSources) {
  Fd rtp, ext;
  const std::string t = std::to_string(Bound(rtp, ext));
  rtp_ext_filter_params f = {::inet_addr("10.0.0.1"), 0};
  ASSERT_EQ(0, Result(Board::ioctl(ext.lowlevel_fd(), E::kSetFilter, &f)));
  EXPECT_EQ("filter=10.0.0.1", Lines("rtpext get " + t).back());
  const SimBoard::Reply dropped = sim.execute("rtpext inject " + t + " 7 10.0.0.2 01000000");
  EXPECT_EQ("error filtered\n", dropped.text());
  EXPECT_EQ("none:EAGAIN", Next(ext));
  Command("rtpext inject " + t + " 7 10.0.0.1 01000000");
  EXPECT_EQ("7@10.0.0.1:01000000", Next(ext));
  rtp_ext_filter_params zero = {};
  ASSERT_EQ(0, Result(Board::ioctl(ext.lowlevel_fd(), E::kResetFilter, &zero)));
  EXPECT_EQ("filter=off", Lines("rtpext get " + t).back());
  Command("rtpext inject " + t + " 7 10.0.0.2 01000000");
  EXPECT_EQ("7@10.0.0.2:01000000", Next(ext));
}

TEST_F(RtpExtDevice, WritesOfEverySessionOfTheChannelAreKept) {
  Fd rtp, ext;
  const int tdm = Bound(rtp, ext);
  const unsigned char a[] = {0x81, 0x00, 0x00, 0x0f}, b[] = {0x02};
  ASSERT_EQ(4, ::write(ext.lowlevel_fd(), a, sizeof a));
  ext.close();
  sim.collect_closed();
  Fd again = Open(E::kDevice);
  ASSERT_EQ(0, Init(again));
  ASSERT_EQ(0, Attach(again, rtp.lowlevel_fd(), -1));
  ASSERT_EQ(1, ::write(again.lowlevel_fd(), b, sizeof b));
  device.drain();
  EXPECT_EQ((std::vector<std::string>{"81 00 00 0f", "02"}), Lines("rtpext sent " + std::to_string(tdm)));
}

TEST_F(RtpExtDevice, MalformedCommandsAnswerError) {
  Fd rtp, ext;
  const std::string t = std::to_string(Bound(rtp, ext));
  const char* const bad[] = {
      "rtpext get",
      "rtpext get x",
      "rtpext get 9999",
      "rtpext list 1",
      "rtpext log 9999",
      "rtpext sent",
      "rtpext inject 9999 1 10.0.0.1 01000000",
      "rtpext inject T 1 10.0.0.1",
      "rtpext inject T 4294967296 10.0.0.1 01000000",
      "rtpext inject T 1 10.0.0 01000000",
      "rtpext inject T 1 10.0.0.1 010",
      "rtpext inject T 1 10.0.0.1 01000000,",
      "rtpext inject T 1 10.0.0.1 0x000000",
      "rtpext inject T 1 10.0.0.1 zz000000",
      "rtpext inject T 1 10.0.0.1 ",
  };
  for (std::string line : bad) {
    const std::size_t at = line.find(" T ");
    if (at != std::string::npos) line.replace(at + 1, 1, t);
    const SimBoard::Reply r = sim.execute(line);
    EXPECT_TRUE(r.failed()) << line;
  }
  const SimBoard::Reply big = sim.execute("rtpext inject " + t + " 1 10.0.0.1 " + std::string(2 * E::kMaxPacket + 2, '0'));
  EXPECT_TRUE(big.failed());
  EXPECT_EQ("none:EAGAIN", Next(ext));
}

}  // namespace
