// The engine base in process on the simulated header-extension and RTP
// devices, with the main loop and a clock the test moves.
#include "radio/radio_control.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "board/board.h"
#include "foundation/mux_time.h"
#include "radio/tests/radio_sim_test.h"
#include "simboard/rtp.h"
#include "simboard/rtp_ext.h"
#include "simboard/tests/sim_test_util.h"

namespace {

using namespace RTPSignalling;
using simtest::Capture;
namespace E = Board::RtpExt;
namespace R = Board::Rtp;

// An engine with the receive loop the protocol engines run: ask for the
// source of the next packet, read it, until a read gives nothing.
class Engine : public RadioControl {
public:
  using RadioControl::RadioControl;

  void OnRtpExtEvent(int fd, short revents) override {
    RadioControl::OnRtpExtEvent(fd, revents);
    ++events;
    for (;;) {
      const int rc = RequestNextPacket();
      unsigned char buf[E::kMaxPacket];
      const ssize_t n = ReadPacket(buf, sizeof buf);
      if (n <= 0) break;
      in_addr from;
      from.s_addr = nextPacket.addr;
      received.push_back((rc == 1 ? std::to_string(nextPacket.ssrc) + "@" + ::inet_ntoa(from) : "?") + ":" +
                         std::to_string(n));
    }
  }
  std::uint32_t ProcessRadioStatus(std::uint32_t now, std::uint32_t interval) override {
    ticks.push_back(std::to_string(now) + "/" + std::to_string(interval));
    return interval;
  }

  int events = 0;
  std::vector<std::string> received;
  std::vector<std::string> ticks;
};

class RadioControlSim : public radiotest::RadioSimTest {
public:
  std::size_t ExtOpens() {
    sim.collect_closed();
    return sim.find(E::kDevice)->sessions().size();
  }
  static std::string Prefix(bool numbered = true) {
    Mux::timeval t;
    Mux::gettimeval(t);
    return (numbered ? "rtp_ext[7] " : "rtp_ext ") + Mux::timevaltostring(t) + ":";
  }

  SimBoard::Rtp& rtp = *sim.device<SimBoard::Rtp>(R::kDevice);
};

TEST_F(RadioControlSim, FailedStepsAreLoggedAndLeaveNoSession) {
  Fd a;
  const int tdm = StartRtp(a);
  const struct {
    const char* fault;
    int shape;
    const char* line;
  } table[] = {
      {"fail open /dev/rtp_ext ENOENT", 0, " create rtp_ext session fail !!! (No such file or directory)"},
      {"fail open /dev/rtp_ext ENOENT", 2, " create rtp_ext session fail !!! (No such file or directory)"},
      {"fail ioctl /dev/rtp_ext 0xC0144500 EIO", 0, " init rtp_ext session fail !!! (Input/output error)"},
      {"fail ioctl /dev/rtp_ext 0xC0144500 EIO", 2, " init rtp_ext session fail !!! (Input/output error)"},
      {"fail ioctl /dev/rtp_ext 0xC0084501 EBUSY", 0, " attach rtp_ext session fail !!! (Device or resource busy)"},
      {"fail ioctl /dev/rtp 0xC0085209 EIO", 1, " attach rtp session fail !!! (Input/output error)"},
  };
  for (const auto& row : table) {
    Command(row.fault);
    Capture err(std::cerr);
    std::unique_ptr<Engine> e;
    if (row.shape == 0) e.reset(new Engine(7, Attach(a), Init()));
    if (row.shape == 1) e.reset(new Engine(7, a, rtp_attach_session_params{5, 6}));
    if (row.shape == 2) e.reset(new Engine(Init()));
    EXPECT_EQ(Prefix(row.shape != 2) + row.line + "\n", err.text()) << row.fault;
    EXPECT_EQ(0u, ExtOpens()) << row.fault;
    // Nothing to read from: the loop never calls it.
    simtest::run_until([] { return false; }, 20);
    EXPECT_EQ(0, e->events) << row.fault;
    EXPECT_TRUE(e->RtpExtStop());
  }
  EXPECT_EQ(std::string::npos, Last("rtp get " + std::to_string(tdm)).find("attach="));
}

TEST_F(RadioControlSim, EachShapeOpensWhatItNeeds) {
  Fd a;
  const int tdm = StartRtp(a);
  const std::string t = std::to_string(tdm);
  const std::string session = std::to_string(rtp.live(tdm)->id);
  {
    // Shape 0: init, then bound to the RTP session.
    Engine e(7, Attach(a), Init());
    EXPECT_EQ(Prefix(), e.GetPrefix());
    const std::vector<std::string> get = Lines("rtpext get " + t);
    ASSERT_EQ(4u, get.size());
    EXPECT_EQ("etype=0x1337 words=0,0,0,0", get[1]);
    EXPECT_EQ("rtp=" + session + " pid=" + std::to_string(::getpid()), get[2]);
    EXPECT_EQ(1, Count(tdm, "'E' 0 etype=0x1337"));
    EXPECT_EQ(1, Count(tdm, "'E' 1 fd=" + std::to_string(a.lowlevel_fd())));
    // Opened for both directions and non-blocking: a receive loop ends on
    // EAGAIN.
    ASSERT_EQ(1u, ExtOpens());
    EXPECT_EQ(O_RDWR | O_NONBLOCK, sim.find(E::kDevice)->sessions().front()->flags() & (O_ACCMODE | O_NONBLOCK));
  }
  // Destruction closes the session without unbinding it first.
  EXPECT_EQ(0u, ExtOpens());
  EXPECT_EQ(0, Count(tdm, "'E' 2"));
  EXPECT_EQ(1, Count(tdm, "close"));
  {
    // Shape 1: the record goes to the RTP session, nothing else opens.
    Engine e(7, a, rtp_attach_session_params{33, 4711});
    EXPECT_EQ("attach=33,4711", Last("rtp get " + t));
    EXPECT_EQ(0u, ExtOpens());
  }
  {
    // Shape 2: a session initialised and never bound; a restart opens
    // nothing more.
    Engine e(Init());
    EXPECT_EQ(Prefix(false), e.GetPrefix());
    EXPECT_EQ(1u, ExtOpens());
    ASSERT_EQ(1u, Lines("rtpext list").size());
    EXPECT_NE(std::string::npos, Last("rtpext list").find(" tdm=- rtp=- "));
    EXPECT_TRUE(e.RtpExtStop());
    EXPECT_TRUE(e.RtpExtStart(false));
    EXPECT_EQ(1u, ExtOpens());
  }
}

TEST_F(RadioControlSim, RestartBindsTheRtpSessionHandedOver) {
  Fd old;
  const int first = StartRtp(old);
  {
    Engine e(7, Attach(old), Init());
    EXPECT_TRUE(e.RtpExtStop());
    EXPECT_EQ(1, Count(first, "'E' 2"));
    EXPECT_EQ(0u, ExtOpens());
    // The old descriptor stays open: its number still names an RTP session.
    Fd fresh;
    const int second = StartRtp(fresh);
    e.SetRtpDescriptor(fresh);
    EXPECT_TRUE(e.RtpExtStart(false));
    const std::vector<std::string> get = Lines("rtpext get " + std::to_string(second));
    ASSERT_EQ(4u, get.size());
    EXPECT_EQ("rtp=" + std::to_string(rtp.live(second)->id) + " pid=" + std::to_string(::getpid()), get[2]);
    EXPECT_TRUE(sim.execute("rtpext get " + std::to_string(first)).failed());
  }
  {
    // Shape 1 lets go of its duplicate at the stop: the old session ends
    // with the test's own copy.
    Engine e(7, old, rtp_attach_session_params{33, 4711});
    e.RtpExtStop();
    old.close();
    sim.collect_closed();
    EXPECT_EQ(nullptr, rtp.live(first));
    Fd fresh;
    const int second = StartRtp(fresh);
    e.SetRtpDescriptor(fresh);
    EXPECT_TRUE(e.RtpExtStart(false));
    EXPECT_EQ("attach=33,4711", Last("rtp get " + std::to_string(second)));
  }
}

TEST_F(RadioControlSim, SourceFilterAsksTheDriverOnlyForAChange) {
  Fd a;
  const int tdm = StartRtp(a);
  const std::string t = std::to_string(tdm);
  Engine e(7, Attach(a), Init());
  e.UpdateAccess(false, Addr("10.0.0.1"));
  e.UpdateAccess(true, Addr("10.0.0.1"));
  e.UpdateAccess(true, Addr("10.0.0.1"));
  EXPECT_EQ(1, Count(tdm, "'E' 4"));
  EXPECT_EQ("filter=10.0.0.1", Last("rtpext get " + t));
  EXPECT_EQ("error filtered\n", sim.execute("rtpext inject " + t + " 9 10.0.0.2 01000000").text());
  Command("rtpext inject " + t + " 9 10.0.0.1 01000000");
  ASSERT_TRUE(simtest::run_until([&] { return !e.received.empty(); }, 2000));
  EXPECT_EQ(std::vector<std::string>{"9@10.0.0.1:4"}, e.received);

  // A restarted session gets the filter again.
  e.RtpExtStop();
  e.RtpExtStart(false);
  EXPECT_EQ("filter=10.0.0.1", Last("rtpext get " + t));

  // A refused request is logged, and the next call asks again.
  Command("fail ioctl /dev/rtp_ext 0xC0084504 EIO");
  {
    Capture err(std::cerr);
    e.UpdateAccess(true, Addr("10.0.0.3"));
    EXPECT_EQ(Prefix() + " set filer rtp_ext session fail !!! (Input/output error)\n", err.text());
  }
  e.UpdateAccess(true, Addr("10.0.0.3"));
  EXPECT_EQ("filter=10.0.0.3", Last("rtpext get " + t));

  // An address no talker has (none known yet, broadcast, multicast) lets
  // everyone in, as PTT off does.
  const int sets = Count(tdm, "'E' 4");
  for (const char* none : {"0.0.0.0", "255.255.255.255", "224.0.0.1", "0.0.0.0"}) e.UpdateAccess(true, Addr(none));
  e.UpdateAccess(false, Addr("0.0.0.0"));
  EXPECT_EQ(sets, Count(tdm, "'E' 4"));
  EXPECT_EQ(1, Count(tdm, "'E' 5"));
  EXPECT_EQ("filter=off", Last("rtpext get " + t));
}

TEST_F(RadioControlSim, OneReadableEventReadsEveryQueuedPacket) {
  Fd a;
  const int tdm = StartRtp(a);
  const std::string t = std::to_string(tdm);
  Engine e(7, Attach(a), Init());
  e.SetDebug(true);
  Capture log(std::clog);
  Command("rtpext inject " + t + " 7 10.0.0.1 01000000,02000000000000074311800000,81000000");
  ASSERT_TRUE(simtest::run_until([&] { return e.received.size() == 3; }, 2000));
  const std::vector<std::string> want = {"7@10.0.0.1:4", "7@10.0.0.1:13", "7@10.0.0.1:4"};
  EXPECT_EQ(want, e.received);
  EXPECT_EQ(1, e.events);
  EXPECT_EQ(Prefix() + " receive extension packet(s)!\n", log.text().substr(0, log.text().find('\n') + 1));
  EXPECT_EQ(log.text().find("receive"), log.text().rfind("receive"));
  EXPECT_EQ(3u, e.GetStatistics().notified);
  EXPECT_EQ(21u, e.GetStatistics().bytesRead);
  EXPECT_EQ(std::uint32_t(EAGAIN), e.GetStatistics().readErrno);

  // Readable with nothing queued: the loop ends at once.
  e.OnRtpExtEvent(-1, POLLIN);
  EXPECT_EQ(3u, e.received.size());
  EXPECT_EQ(2, Count(tdm, "'E' 3 none"));

  // A failing next-packet request is counted; the packet is still read.
  Command("fail ioctl /dev/rtp_ext 0xC00C4503 EIO");
  Command("rtpext inject " + t + " 8 10.0.0.1 81000000");
  ASSERT_TRUE(simtest::run_until([&] { return e.received.size() == 4; }, 2000));
  EXPECT_EQ("?:4", e.received.back());
  EXPECT_EQ(std::uint32_t(EIO), e.GetStatistics().nextPacketErrno);

  // A session that hangs up says so once and is no longer watched.
  Capture err(std::cerr);
  Command("hangup /dev/rtp_ext");
  simtest::run_until([&] { return !err.text().empty(); }, 2000);
  simtest::run_until([] { return false; }, 50);
  EXPECT_EQ(Prefix() + " rtp_ext session hung up !!!\n", err.text());
}

TEST_F(RadioControlSim, StatusTimerTicksWhileEnabled) {
  Engine e(Init());
  auto pass = [&](unsigned ms) {
    clock.advance(ms);
    multiplexer.timers_schedule();
  };
  const unsigned start = Mux::milliseconds();
  e.SetTimerEnable(true);
  pass(999);
  EXPECT_TRUE(e.ticks.empty());
  pass(1);
  EXPECT_EQ(std::vector<std::string>{std::to_string(start + 1000) + "/1000"}, e.ticks);
  // A new interval waits for the pending tick.
  e.SetTimerInterval(200);
  pass(200);
  EXPECT_EQ(1u, e.ticks.size());
  pass(800);
  ASSERT_EQ(2u, e.ticks.size());
  EXPECT_EQ(std::to_string(start + 2000) + "/200", e.ticks.back());
  pass(200);
  EXPECT_EQ(3u, e.ticks.size());
  e.SetTimerEnable(false);
  pass(5000);
  EXPECT_EQ(3u, e.ticks.size());
}

}  // namespace
