// The RTP slot in-process on the simulated board: what it does with odd
// driver reads, a hung-up driver, a failed restart and its destruction.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdint>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "mediaslots/rtcp.h"
#include "mediaslots/rtp_slot.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "simboard/rtp.h"
#include "simboard/simulator.h"
#include "simboard/tests/sim_test_util.h"
#include "transport/testing/free_port.h"

namespace {

using simtest::Capture;

class RtpSlotSim : public ::testing::Test {
public:
  void SetUp() override {
    sim.reset();
    peerPort = porttest::Reserve(SOCK_DGRAM, 2);
    ASSERT_NE(0u, peerPort);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(peerPort + 1));
    ASSERT_EQ(0, ::bind(peer.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a));
  }
  void TearDown() override {
    slot.reset();
    sim.collect_closed();
    sim.reset();
  }

  // A stream whose RTCP goes to the test's socket, from local ports of its
  // own.
  RtpSlot* Create(bool radio = false) {
    const unsigned local = porttest::Reserve(SOCK_DGRAM, 2);
    EXPECT_NE(0u, local);

    LGCP::CreateParams create;
    LGCP::CreateRtpParams& p = create.select_rtp();
    TERM::RtpParams& codec = p.set_codecRTP();
    codec.set_payload(TERM::Payload::ptG729);
    TERM::HostAddress& d = codec.set_dhost();
    d.set_iaddr("127.0.0.1");
    d.set_port(peerPort);
    TERM::HostAddress& s = codec.set_shost();
    s.set_iaddr("127.0.0.1");
    s.set_port(local);
    codec.set_ssrc(77);
    if (radio) codec.set_radio();
    p.set_txPayload(TERM::Payload::ptG729);
    p.set_rxPayload(TERM::Payload::ptG729);
    Capture log(std::clog);
    slot.reset(static_cast<RtpSlot*>(RtpFactory::instance().INewSlot(create)));
    text = log.text();
    return slot.get();
  }
  std::string Packet(int timeout_ms = 2000) {
    pollfd p = {peer.lowlevel_fd(), POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) != 1) return "";
    char buf[1500];
    const ssize_t n = ::recv(peer.lowlevel_fd(), buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, std::size_t(n)) : "";
  }

  SimBoard::Simulator& sim = SimBoard::Simulator::instance();
  SimBoard::Rtp& rtp = *sim.device<SimBoard::Rtp>(Board::Rtp::kDevice);
  Fd peer{::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
  // The peer's RTP port; the test's socket holds the one above it.
  unsigned peerPort = 0;
  std::unique_ptr<RtpSlot> slot;
  std::string text;
};

TEST_F(RtpSlotSim, SdesAtCreationByeAtDestruction) {
  ASSERT_NE(nullptr, Create()) << text;
  EXPECT_NE(std::string::npos, text.find("do create rtp: ")) << text;
  const std::string sdes = Packet();
  ASSERT_GE(sdes.size(), 12u);
  EXPECT_EQ(std::string("\x81\xCA", 2), sdes.substr(0, 2));
  EXPECT_EQ(std::string("\0\0\0\x4D", 4), sdes.substr(4, 4));
  EXPECT_EQ(18, slot->connection().tx_pt);
  slot.reset();
  const std::string bye = Packet();
  ASSERT_EQ(20u, bye.size());
  EXPECT_EQ(std::string("\x81\xCB\0\x04\0\0\0\x4D\x0Bsession end", 20), bye);
}

TEST_F(RtpSlotSim, RadioStreamsAndOtherKindsAreNotTaken) {
  EXPECT_EQ(nullptr, Create(true));
  LGCP::CreateParams other;
  other.select_trunk();
  EXPECT_EQ(nullptr, RtpFactory::instance().INewSlot(other));
  EXPECT_TRUE(sim.execute("rtp list").lines().empty());
}

TEST_F(RtpSlotSim, HeaderShowsTheCodecCounts) {
  std::ostringstream os;
  RtpFactory::instance().IQuery();
  RtpFactory::instance().PutHeader(os);
  EXPECT_EQ("rtp[16,32,64,8]: ", os.str());
}

TEST_F(RtpSlotSim, CutEventRecordIsDroppedAndTheNextOneRead) {
  ASSERT_NE(nullptr, Create()) << text;
  const int tdm = slot->GetTransmitChannel();
  ASSERT_FALSE(sim.execute("fail read /dev/rtp short").failed());
  ASSERT_FALSE(sim.execute("rtp event " + std::to_string(tdm) + " 1 7 300").failed());
  ASSERT_FALSE(sim.execute("rtp event " + std::to_string(tdm) + " 2 8 300").failed());
  Capture log(std::clog), err(std::cerr);
  simtest::run_until([&] { return log.text().find("type=2") != std::string::npos; }, 2000);
  EXPECT_NE(std::string::npos, err.text().find("rtp[" + std::to_string(tdm) + "]: rtp event of 18 bytes, dropped"))
      << err.text();
  EXPECT_EQ(std::string::npos, log.text().find("type=1")) << log.text();
  EXPECT_NE(std::string::npos, log.text().find("rtp[" + std::to_string(tdm) + "]: rtp event:  type=2")) << log.text();
}

TEST_F(RtpSlotSim, FloodOfDriverEventsLogsAFewLines) {
  ASSERT_NE(nullptr, Create()) << text;
  const std::string tdm = std::to_string(slot->GetTransmitChannel());
  for (int i = 0; i < 50; ++i) ASSERT_FALSE(sim.execute("rtp event " + tdm + " 2 8 300").failed());
  ASSERT_FALSE(sim.execute("rtp event " + tdm + " 3 8 300").failed());
  Capture log(std::clog);
  simtest::run_until([&] { return log.text().find("more: ") != std::string::npos; }, 3000);
  const std::string t = log.text();
  std::size_t lines = 0;
  for (std::size_t at = t.find("rtp event: "); at != std::string::npos; at = t.find("rtp event: ", at + 1)) ++lines;
  // Five lines, then one count naming the last event.
  EXPECT_EQ(6u, lines) << t;
  EXPECT_NE(std::string::npos, t.find("46 more: rtp[" + tdm + "]: rtp event:  type=3")) << t;
}

TEST_F(RtpSlotSim, HungUpDriverIsNoLongerWatched) {
  ASSERT_NE(nullptr, Create()) << text;
  ASSERT_FALSE(sim.execute("hangup /dev/rtp").failed());
  Capture err(std::cerr);
  simtest::run_until([&] { return err.text().find("hung up") != std::string::npos; }, 2000);
  // Once: the loop does not come back to a descriptor that only hangs up.
  simtest::run_until([] { return false; }, 100);
  const std::string t = err.text();
  const size_t first = t.find("fail to read from rtp: device hung up");
  ASSERT_NE(std::string::npos, first) << t;
  EXPECT_EQ(std::string::npos, t.find("fail to read from rtp: device hung up", first + 1)) << t;
}

TEST_F(RtpSlotSim, FailedRestartLeavesASlotThatStillGoesAway) {
  ASSERT_NE(nullptr, Create()) << text;
  const int tdm = slot->GetTransmitChannel();
  ASSERT_FALSE(sim.execute("fail ioctl /dev/rtp 0xC0105202 EBUSY 1").failed());
  Capture err(std::cerr);
  EXPECT_FALSE(slot->restart());
  EXPECT_NE(std::string::npos, err.text().find("rtp[" + std::to_string(tdm) + "]: restart: add channel fail: "))
      << err.text();
  sim.collect_closed();
  EXPECT_EQ(nullptr, rtp.live(tdm));
  // No device: the teardown asks the driver nothing and still frees the
  // channel.
  EXPECT_TRUE(slot->IBeforeDestroy());
  const auto log = rtp.history(tdm);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ("close", log.front()->log.back());
}

TEST_F(RtpSlotSim, RestartKeepsTheChannelAndTheStartedInput) {
  ASSERT_NE(nullptr, Create()) << text;
  const int tdm = slot->GetTransmitChannel();
  EXPECT_TRUE(slot->IOnInputStream());
  EXPECT_TRUE(slot->restart());
  sim.collect_closed();
  const SimBoard::Rtp::Record* now = rtp.live(tdm);
  ASSERT_NE(nullptr, now);
  EXPECT_EQ(2u, rtp.history(tdm).size());
  EXPECT_TRUE(now->input);
  EXPECT_EQ(std::string("'R' 4"), now->log.back());

  // A driver that refuses every start: a few lines, however many restarts
  // and streams ask for it.
  for (int n = 1; n <= 20; ++n)
    ASSERT_FALSE(sim.execute("fail ioctl /dev/rtp 0x20005204 EIO " + std::to_string(n)).failed());
  Capture err(std::cerr);
  for (int i = 0; i < 10; ++i) {
    EXPECT_TRUE(slot->restart());
    EXPECT_TRUE(slot->IOnInputStream());
  }
  const std::string t = err.text();
  std::size_t lines = 0;
  for (std::size_t at = t.find("start input fail: "); at != std::string::npos;
       at = t.find("start input fail: ", at + 1))
    ++lines;
  EXPECT_EQ(Log::Limiter::kDefaultBurst, lines) << t;
  EXPECT_NE(std::string::npos, t.find("rtp[" + std::to_string(tdm) + "]: restart: start input fail: ")) << t;
}

}  // namespace
