// HDLC channels on the simulated board, in-process: the real cross-connect
// and the simulated controller and lines in one loop.
#include "hardware/hdlc.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "board/hal.h"
#include "board/mcc.h"
#include "control/trace_ctl.h"
#include "foundation/tests/loop_test_util.h"
#include "hardware/hw_mux.h"
#include "simboard/hal.h"
#include "simboard/mcc.h"
#include "simboard/simulator.h"
#include "simboard/tests/sim_test_util.h"

namespace {

using looptest::CachedClock;
using looptest::Capture;

Packet Frame(std::vector<unsigned char> const& bytes) {
  Packet p;
  p.reserve_head(0);
  if (!bytes.empty()) std::copy(bytes.begin(), bytes.end(), p.put(static_cast<unsigned>(bytes.size())));
  return p;
}

struct Client : HDLC::Notify {
  void on_hdlc_receive(Packet& p) override {
    frames.push_back(p.text());
    if (on_receive) on_receive(p);
  }
  void on_hdlc_error(Cause::Type cause) override {
    ++errors;
    last_cause = cause;
  }
  void on_hdlc_ready() override { ++readies; }

  std::vector<std::string> frames;
  int errors = 0;
  int last_cause = -1;
  int readies = 0;
  std::function<void(Packet&)> on_receive;
};

// A channel with its client on trunk t timeslot s, mode 1.
struct Link {
  Link(HwMux& mux, unsigned trunk, unsigned timeslot) : hdlc(mux) {
    hdlc.params(HDLC::Params{trunk, timeslot, static_cast<int>(32 * trunk + timeslot), -1, 1});
    hdlc.trunk(trunk);
    hdlc.bind(&client);
  }
  ~Link() { hdlc.unbind(); }
  bool send(std::vector<unsigned char> const& bytes) {
    Packet p = Frame(bytes);
    return hdlc.hdlc_transmit(p);
  }
  HDLC hdlc;
  Client client;
};

class HdlcTest : public ::testing::Test {
protected:
  HdlcTest()
      : sim(SimBoard::Simulator::instance()),
        hal(sim.device<SimBoard::Hal>(Board::Hal::kDevice)),
        mcc(sim.device<SimBoard::Mcc>(Board::Mcc::kDevice)) {
    sim.reset();
    Capture quiet(std::clog);
    mux.reset(new HwMux);
  }
  ~HdlcTest() override {
    traces.signalling.hdlc = false;
    links.clear();
    mux.reset();
    sim.collect_closed();
    sim.reset();
  }

  Link& Open(unsigned trunk, unsigned timeslot) {
    links.emplace_back(new Link(*mux, trunk, timeslot));
    return *links.back();
  }
  void Do(const std::string& command) {
    const SimBoard::Reply r = sim.execute(command);
    ASSERT_FALSE(r.failed()) << command << ": " << r.text();
  }
  std::string Xc(int output) { return hal->describe(output); }
  bool Run(std::function<bool()> until) { return simtest::run_until(std::move(until)); }
  // A few passes of the loop with nothing expected.
  void Settle() {
    int passes = 0;
    simtest::run_until([&] { return ++passes > 20; });
  }

  SimBoard::Simulator& sim;
  SimBoard::Hal* hal;
  SimBoard::Mcc* mcc;
  std::unique_ptr<HwMux> mux;
  std::vector<std::unique_ptr<Link>> links;
};

TEST_F(HdlcTest, TwoChannelsOnCabledTrunksExchangeFramesBothWays) {
  ASSERT_NE(nullptr, mcc);
  Link& a = Open(0, 16);
  Link& b = Open(1, 16);
  ASSERT_TRUE(a.hdlc.activate());
  ASSERT_TRUE(b.hdlc.activate());
  EXPECT_TRUE(a.hdlc.is_open());
  EXPECT_FALSE(a.hdlc.is_ready());
  EXPECT_NE(a.hdlc.channel(), b.hdlc.channel());
  const std::string ca = std::to_string(a.hdlc.channel());
  EXPECT_NE(std::string::npos, Xc(16).find("state=fed source=" + ca)) << Xc(16);
  EXPECT_NE(std::string::npos, Xc(a.hdlc.channel()).find("state=fed source=16")) << Xc(a.hdlc.channel());

  ASSERT_TRUE(Run([&] { return a.client.readies == 1 && b.client.readies == 1; }));
  EXPECT_TRUE(a.hdlc.is_ready());

  EXPECT_TRUE(a.send({0x02, 0x01, 0x7F}));
  EXPECT_TRUE(b.send({0x02, 0x01, 0x73}));
  EXPECT_TRUE(b.send({0x00, 0x01, 0x00, 0x01, 0x08}));
  ASSERT_TRUE(Run([&] { return b.client.frames.size() == 1 && a.client.frames.size() == 2; }));
  Settle();
  EXPECT_EQ((std::vector<std::string>{"02 01 7F"}), b.client.frames);
  EXPECT_EQ((std::vector<std::string>{"02 01 73", "00 01 00 01 08"}), a.client.frames);

  const HDLC::Statistics& sa = a.hdlc.statistics();
  EXPECT_EQ(1u, sa.txSU);
  EXPECT_EQ(0u, sa.txDiscard);
  EXPECT_EQ(0u, sa.txError);
  EXPECT_EQ(0u, sa.txOverflow);
  EXPECT_EQ(2u, sa.rxSU);
  EXPECT_EQ(2u, b.hdlc.statistics().txSU);
  EXPECT_EQ(1u, b.hdlc.statistics().rxSU);
  // Ready once per activation, however often the channel is writable.
  EXPECT_EQ(1, a.client.readies);
  EXPECT_EQ(1, b.client.readies);
  EXPECT_EQ(0, a.client.errors + b.client.errors);
}

TEST_F(HdlcTest, ModeTwoTransmitsToItsOwnOutput) {
  Link& a = Open(0, 16);
  Link& b = Open(1, 16);
  // Receives from trunk 0 timeslot 16, transmits on trunk 0 timeslot 17.
  a.hdlc.params(HDLC::Params{0, 16, 16, 17, 2});
  ASSERT_TRUE(a.hdlc.activate());
  ASSERT_TRUE(b.hdlc.activate());
  const std::string ca = std::to_string(a.hdlc.channel());
  EXPECT_NE(std::string::npos, Xc(17).find("state=fed source=" + ca)) << Xc(17);
  EXPECT_NE(std::string::npos, Xc(16).find("state=disabled")) << Xc(16);
  Do("line tap 0 17");
  EXPECT_TRUE(a.send({0x03, 0x04}));
  ASSERT_TRUE(Run([&] { return mcc->lines().stats().sent == 1; }));
  EXPECT_EQ((std::vector<std::string>{"0304"}), sim.execute("line read 0 17").lines());
  // The other direction still comes in on timeslot 16.
  EXPECT_TRUE(b.send({0x05}));
  ASSERT_TRUE(Run([&] { return a.client.frames.size() == 1; }));
  EXPECT_EQ("05", a.client.frames[0]);
}

TEST_F(HdlcTest, FailedCrossConnectClosesTheChannelAndUndoesWhatItMade) {
  struct Case {
    int nth;                  // which connect request fails
    const char* trunkOutput;  // output 16 afterwards
  } cases[] = {
      {1, "state=disabled"},
      {2, "state=constant byte=213"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nth);
    sim.reset();
    hal->clear();
    Link& a = Open(0, 16);
    Do("fail ioctl /dev/hal 0x80084D02 EIO " + std::to_string(c.nth));
    Capture err(std::cerr);
    Capture log(std::clog);
    EXPECT_FALSE(a.hdlc.activate());
    EXPECT_FALSE(a.hdlc.is_open());
    EXPECT_FALSE(a.hdlc.is_ready());
    EXPECT_EQ(-1, a.hdlc.channel());
    EXPECT_NE(std::string::npos, err.text().find("hdlc [0/16]: activate: connect ")) << err.text();
    EXPECT_NE(std::string::npos, Xc(16).find(c.trunkOutput)) << Xc(16);
    // The controller channel is given back.
    sim.collect_closed();
    EXPECT_TRUE(sim.execute("mcc list").lines().empty()) << sim.execute("mcc list").text();
    EXPECT_TRUE(a.send({0x01}) == false);
    EXPECT_EQ(1u, a.hdlc.statistics().txDiscard);
  }
}

TEST_F(HdlcTest, DeactivatedChannelLeavesNothingConnected) {
  Link& a = Open(0, 16);
  ASSERT_TRUE(a.hdlc.activate());
  const int c = a.hdlc.channel();
  a.hdlc.deactivate();
  EXPECT_FALSE(a.hdlc.is_open());
  EXPECT_NE(std::string::npos, sim.execute("xc get 16").lines().at(0).find("state=constant byte=213 ")) << Xc(16);
  EXPECT_NE(std::string::npos, Xc(c).find("state=constant byte=213 ")) << Xc(c);

  // The same controller channel, handed out again for another link.
  sim.collect_closed();
  Link& other = Open(2, 5);
  ASSERT_TRUE(other.hdlc.activate());
  ASSERT_EQ(c, other.hdlc.channel());
  Do("line tap 0 16");
  Do("line tap 2 5");
  EXPECT_TRUE(other.send({0x11, 0x22}));
  ASSERT_TRUE(Run([&] { return mcc->lines().stats().sent == 1; }));
  EXPECT_TRUE(sim.execute("line read 0 16").lines().empty());
  EXPECT_EQ((std::vector<std::string>{"1122"}), sim.execute("line read 2 5").lines());
}

TEST_F(HdlcTest, DestroyingAnOpenChannelDisconnectsIt) {
  int c = -1;
  {
    HDLC h(*mux);
    h.params(HDLC::Params{1, 3, 35, -1, 0});
    ASSERT_TRUE(h.activate());
    c = h.channel();
  }
  EXPECT_NE(std::string::npos, Xc(35).find("state=constant byte=213 ")) << Xc(35);
  EXPECT_NE(std::string::npos, Xc(c).find("state=constant byte=213 ")) << Xc(c);
}

TEST_F(HdlcTest, ActivationFailuresAreLoggedAndLeaveTheChannelClosed) {
  struct Case {
    const char* fault;
    const char* line;
  } cases[] = {
      {"fail open /dev/mcc/ctl ENOENT", "hdlc [0/16]: fail to open MCC device: No such file or directory"},
      {"fail ioctl /dev/mcc/ctl 0x40144D00 EBUSY", "hdlc [0/16]: MCC_ALLOCATE fail: Device or resource busy"},
      {"fail ioctl /dev/mcc/ctl 0x20004D02 EIO", "hdlc [0/16]: MCC_TIMESLOT fail: Input/output error"},
  };
  Link& a = Open(0, 16);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    Do(c.fault);
    Capture err(std::cerr);
    EXPECT_FALSE(a.hdlc.activate());
    EXPECT_EQ(std::string(c.line) + "\n", err.text());
    EXPECT_FALSE(a.hdlc.is_open());
    sim.collect_closed();
    EXPECT_TRUE(sim.execute("mcc list").lines().empty());
    EXPECT_NE(std::string::npos, Xc(16).find("state=disabled")) << Xc(16);
  }
  // The next activation goes through.
  EXPECT_TRUE(a.hdlc.activate());
}

TEST_F(HdlcTest, AllocationRecordCarriesTheModeCode) {
  struct Case {
    int mode;
    int code;
  } cases[] = {{0, 3}, {1, 0}, {2, 1}};
  for (const Case& c : cases) {
    Link& a = Open(0, 16);
    a.hdlc.params(HDLC::Params{0, 16, 16, 17, c.mode});
    ASSERT_TRUE(a.hdlc.activate());
    EXPECT_EQ(
        (std::vector<std::string>{"channel=" + std::to_string(a.hdlc.channel()) + " mode=" + std::to_string(c.code)}),
        sim.execute("mcc list").lines());
    links.clear();
    sim.collect_closed();
  }
}

TEST_F(HdlcTest, TransmitOnClosedChannel) {
  Link& a = Open(0, 16);
  Packet empty = Frame({});
  EXPECT_TRUE(a.hdlc.hdlc_transmit(empty));
  Packet null;
  EXPECT_TRUE(a.hdlc.hdlc_transmit(null));
  EXPECT_EQ(0u, a.hdlc.statistics().txDiscard);
  EXPECT_FALSE(a.send({0x01}));
  const HDLC::Statistics& s = a.hdlc.statistics();
  EXPECT_EQ(1u, s.txDiscard);
  EXPECT_EQ(0u, s.txSU + s.txError + s.txOverflow + s.rxSU);
}

TEST_F(HdlcTest, ReactivationClosesTheOldChannelAndZeroesTheCounters) {
  Link& a = Open(0, 16);
  ASSERT_TRUE(a.hdlc.activate());
  EXPECT_TRUE(a.send({0x01}));
  EXPECT_EQ(1u, a.hdlc.statistics().txSU);
  ASSERT_TRUE(a.hdlc.activate());
  EXPECT_EQ(0u, a.hdlc.statistics().txSU);
  sim.collect_closed();
  EXPECT_EQ(1u, sim.execute("mcc list").lines().size()) << sim.execute("mcc list").text();
}

TEST_F(HdlcTest, TracesDeactivatedBeforeActivated) {
  traces.signalling.hdlc = true;
  Link& a = Open(0, 16);
  Capture log(std::clog);
  ASSERT_TRUE(a.hdlc.activate());
  EXPECT_TRUE(a.send({0xAB, 0x01}));
  EXPECT_EQ("hdlc [0/16]: deactivated\nhdlc [0/16]: activated\nHDLC[0]: tx AB 01\n", log.text());
}

TEST_F(HdlcTest, RefusedWriteWaitsForOneReady) {
  CachedClock clock;
  Link& a = Open(0, 16);
  Link& b = Open(1, 16);
  ASSERT_TRUE(a.hdlc.activate());
  ASSERT_TRUE(b.hdlc.activate());
  ASSERT_TRUE(Run([&] { return a.client.readies == 1 && b.client.readies == 1; }));

  Do("mcc eagain " + std::to_string(a.hdlc.channel()) + " 100");
  unsigned accepted = 0;
  bool refused = false;
  for (unsigned i = 0; i < 100000 && !refused; ++i) {
    if (a.send({0x00, 0x01, static_cast<unsigned char>(i), static_cast<unsigned char>(i >> 8)}))
      ++accepted;
    else
      refused = true;
  }
  ASSERT_TRUE(refused);
  EXPECT_FALSE(a.hdlc.is_ready());
  EXPECT_EQ(accepted, a.hdlc.statistics().txSU);
  EXPECT_EQ(0u, a.hdlc.statistics().txError);
  // Nothing moves while the far end does not drain.
  Settle();
  EXPECT_EQ(1, a.client.readies);
  EXPECT_FALSE(a.hdlc.is_ready());
  EXPECT_TRUE(b.client.frames.empty());

  clock.advance(100);
  ASSERT_TRUE(Run([&] { return a.client.readies == 2; }));
  EXPECT_TRUE(a.hdlc.is_ready());
  ASSERT_TRUE(Run([&] { return b.client.frames.size() + mcc->lines().stats().lost == accepted; }));
  Settle();
  EXPECT_EQ(2, a.client.readies);
  EXPECT_EQ("00 01 00 00", b.client.frames.at(0));
}

TEST_F(HdlcTest, ZeroByteReadClosesWithEndOfFile) {
  Link& a = Open(0, 16);
  Link& b = Open(1, 16);
  ASSERT_TRUE(a.hdlc.activate());
  ASSERT_TRUE(b.hdlc.activate());
  const int cb = b.hdlc.channel();
  Do("fail read /dev/mcc/ctl zero");
  Capture err(std::cerr);
  EXPECT_TRUE(a.send({0x02, 0x01, 0x7F}));
  ASSERT_TRUE(Run([&] { return b.client.errors == 1; }));
  EXPECT_EQ(HDLC::Notify::Cause::read_error, b.client.last_cause);
  EXPECT_FALSE(b.hdlc.is_open());
  EXPECT_TRUE(b.client.frames.empty());
  EXPECT_EQ("hdlc [1/16]: read error: end of file\n", err.text());
  EXPECT_NE(std::string::npos, Xc(48).find("state=constant byte=213 ")) << Xc(48);
  EXPECT_NE(std::string::npos, Xc(cb).find("state=constant byte=213 ")) << Xc(cb);
  // Closed for good: no busy loop, no second report.
  Settle();
  EXPECT_EQ(1, b.client.errors);
}

TEST_F(HdlcTest, HangUpIsAReadError) {
  Link& a = Open(0, 16);
  ASSERT_TRUE(a.hdlc.activate());
  Capture err(std::cerr);
  Do("hangup /dev/mcc/ctl");
  ASSERT_TRUE(Run([&] { return a.client.errors == 1; }));
  EXPECT_FALSE(a.hdlc.is_open());
  EXPECT_EQ("hdlc [0/16]: read error: end of file\n", err.text());
}

TEST_F(HdlcTest, DeactivateInsideReceiveStopsTheChannel) {
  Link& a = Open(0, 16);
  Link& b = Open(1, 16);
  ASSERT_TRUE(a.hdlc.activate());
  ASSERT_TRUE(b.hdlc.activate());
  b.client.on_receive = [&](Packet&) { b.hdlc.deactivate(); };
  EXPECT_TRUE(a.send({0x01}));
  EXPECT_TRUE(a.send({0x02}));
  // Both frames reach b's descriptor before b is served.
  mcc->drain();
  Capture log(std::clog);
  Capture err(std::cerr);
  b.hdlc.on_event(-1, POLLIN | POLLOUT);
  EXPECT_EQ((std::vector<std::string>{"01"}), b.client.frames);
  EXPECT_EQ(0, b.client.errors);
  EXPECT_EQ(0, b.client.readies);
  EXPECT_FALSE(b.hdlc.is_open());
  EXPECT_FALSE(b.hdlc.is_ready());
  EXPECT_EQ("", err.text());
  EXPECT_EQ("", log.text());
}

TEST_F(HdlcTest, OneFramePerReadinessEvent) {
  Link& a = Open(0, 16);
  Link& b = Open(1, 16);
  ASSERT_TRUE(a.hdlc.activate());
  ASSERT_TRUE(b.hdlc.activate());
  for (unsigned char i = 1; i <= 3; ++i) EXPECT_TRUE(a.send({i}));
  mcc->drain();
  b.hdlc.on_event(-1, POLLIN);
  EXPECT_EQ(1u, b.client.frames.size());
  b.hdlc.on_event(-1, POLLIN);
  b.hdlc.on_event(-1, POLLIN);
  EXPECT_EQ((std::vector<std::string>{"01", "02", "03"}), b.client.frames);
  // Nothing waiting: EAGAIN is quiet.
  Capture err(std::cerr);
  b.hdlc.on_event(-1, POLLIN);
  EXPECT_EQ("", err.text());
  EXPECT_TRUE(b.hdlc.is_open());
}

TEST_F(HdlcTest, LineSpoilersSeenByTheReceivingClient) {
  Link& a = Open(0, 16);
  Link& b = Open(1, 16);
  ASSERT_TRUE(a.hdlc.activate());
  ASSERT_TRUE(b.hdlc.activate());
  // Counted where the frames arrive: the first doubled, the second lost, the
  // fourth spoiled.
  Do("line dup 1 16 1");
  Do("line drop 1 16 2");
  Do("line corrupt 1 16 4");
  for (unsigned char i = 1; i <= 5; ++i) EXPECT_TRUE(a.send({0x10, i}));
  ASSERT_TRUE(Run([&] { return b.client.frames.size() == 5; }));
  Settle();
  EXPECT_EQ((std::vector<std::string>{"10 01", "10 01", "10 03", "10 FB", "10 05"}), b.client.frames);
  EXPECT_EQ(5u, b.hdlc.statistics().rxSU);
}

}  // namespace
