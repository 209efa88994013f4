// ISDN D-channel slots in-process on the simulated board: a write that
// would block holds the link's frames until the device takes them again,
// an activate that finds the link up, the trunk range and channel type of a
// create, and a channel that ends.
#include <gtest/gtest.h>
#include <poll.h>

#include <string>
#include <vector>

#include "board/mcc.h"
#include "simboard/mcc.h"
#include "simboard/simulator.h"
#include "slots/isdn_slot.h"
#include "slots/pstn_slot.h"
#include "slots/tests/slots_fixture.h"

namespace {

using namespace slottest;

class IsdnSlotsTest : public SlotsServerTest {
protected:
  IsdnSlotsTest() : sim(SimBoard::Simulator::instance()) {
    sim.reset();
    IsdnFactory::instance();
  }
  ~IsdnSlotsTest() override {
    sim.collect_closed();
    sim.reset();
  }

  SimBoard::Mcc& mcc() { return *sim.device<SimBoard::Mcc>(Board::Mcc::kDevice); }
  IsdnSlot* Isdn(unsigned n) { return dynamic_cast<IsdnSlot*>(slots.Find(n)); }

  // Runs the loop until a signal of the slot matches; the others are dropped.
  bool WaitSignal(long slot, bool (*match)(LGCP::Signal const&)) {
    bool found = false;
    linktest::run_until([&] {
      LGCP::Message m;
      while (!found && controller.ReceiveSignal(m, 0) == Controller::Ok)
        found = Controller::SlotOf(m) == slot && match(m.get_pdu().get_signal());
      return found;
    });
    return found;
  }

  // Trunk slots 1 {0, 16} and 2 {1, 16} on the cabled trunks, a user side
  // 10 and a network side 11, each connected both ways and established.
  void Establish() {
    long seq = 100;
    ASSERT_EQ(-1, Answer(Trunk(0, 16), ++seq, 1));
    ASSERT_EQ(-1, Answer(Trunk(1, 16), ++seq, 2));
    ASSERT_EQ(-1, Answer(CtrlTest::Isdn(false, 1, false), ++seq, 10));
    ASSERT_EQ(-1, Answer(CtrlTest::Isdn(false, 2, true), ++seq, 11));
    ASSERT_EQ(-1, Answer(ConnectTo(10), ++seq, 1));
    ASSERT_EQ(-1, Answer(ConnectTo(1), ++seq, 10));
    ASSERT_EQ(-1, Answer(ConnectTo(11), ++seq, 2));
    ASSERT_EQ(-1, Answer(ConnectTo(2), ++seq, 11));
    ASSERT_EQ(-1, Answer(Activate(), ++seq, 10));
    ASSERT_EQ(-1, Answer(Activate(), ++seq, 11));
    ASSERT_TRUE(WaitSignal(10, IsActivated));
    ASSERT_TRUE(WaitSignal(11, IsActivated));
  }

  SimBoard::Simulator& sim;
};

TEST_F(IsdnSlotsTest, AFrameHeldBackByAFullDeviceGoesOutAfterPollout) {
  ASSERT_NO_FATAL_FAILURE(Establish());
  IsdnSlot* user = Isdn(10);
  ASSERT_NE(nullptr, user);
  ASSERT_TRUE(user->is_ready());
  ASSERT_EQ(POLLIN, user->polled());

  // What the user side sends from now is kept at its line end.
  ASSERT_TRUE(mcc().lines().tap(0, 16, true));
  ASSERT_TRUE(mcc().stall(user->channel(), true));
  Packet filler;
  filler.reserve_head(0);
  for (int i = 0; i < 1000; ++i) filler.put8(0x01);
  int written = 0;
  while (written < 100000 && user->hdlc_transmit(filler)) ++written;
  ASSERT_LT(written, 100000);
  EXPECT_FALSE(user->is_ready());
  EXPECT_TRUE(user->is_open());
  EXPECT_EQ(POLLIN | POLLOUT, user->polled());

  const std::vector<char> setup = {0x08, 0x01, 0x01, 0x05};
  EXPECT_EQ(-1, Answer(UserData(setup), 200, 10));
  EXPECT_EQ(1u, user->link()->queued_out());

  ASSERT_TRUE(mcc().stall(user->channel(), false));
  ASSERT_TRUE(linktest::run_until([&] { return user->link()->queued_out() == 0; }));
  EXPECT_TRUE(user->is_ready());
  EXPECT_EQ(POLLIN, user->polled());
  std::vector<SimBoard::Lines::Frame> sent;
  linktest::run_until([&] {
    for (SimBoard::Lines::Frame& f : mcc().lines().take(0, 16)) sent.push_back(std::move(f));
    return sent.size() > std::size_t(written);
  });
  ASSERT_EQ(std::size_t(written) + 1, sent.size());
  const SimBoard::Lines::Frame& last = sent.back();
  // Address, I-frame control, then the message.
  ASSERT_EQ(4 + setup.size(), last.size());
  EXPECT_EQ(0, last[2] & 0x01);
  EXPECT_TRUE(std::equal(setup.begin(), setup.end(), last.begin() + 4));
}

// A link already up when its slot is activated (the peer brought it up, or
// the connection of a pstn slot started it) stays as it is: establishing it
// again would throw away the message the other side has outstanding, which
// was answered success. The line ends are in the test's hand meanwhile, so
// the message is outstanding for certain when the activate comes.
TEST_F(IsdnSlotsTest, AnActivateKeepsALinkThatIsUpAndWhatItCarries) {
  PstnFactory::instance();
  struct Case {
    char const* what;
    LGCP::Command user, network;
    bool started;  // by the connection
  } const cases[] = {
      {"isdn", CtrlTest::Isdn(false, 1, false), CtrlTest::Isdn(false, 2, true), false},
      {"pstn", CtrlTest::PstnIsdn(false, 1, false), CtrlTest::PstnIsdn(false, 2, true), true},
  };
  long seq = 0, slot = 0;
  int timeslot = 16;
  SimBoard::Lines& lines = mcc().lines();
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    const long trunk = ++slot, farTrunk = ++slot, user = ++slot, network = ++slot;
    ASSERT_EQ(-1, Answer(Trunk(0, timeslot), ++seq, trunk));
    ASSERT_EQ(-1, Answer(Trunk(1, timeslot), ++seq, farTrunk));
    ASSERT_EQ(-1, Answer(c.user, ++seq, user));
    ASSERT_EQ(-1, Answer(c.network, ++seq, network));
    for (auto const& pair : {std::make_pair(user, trunk), std::make_pair(network, farTrunk)}) {
      ASSERT_EQ(-1, Answer(ConnectTo(pair.first), ++seq, pair.second));
      ASSERT_EQ(-1, Answer(ConnectTo(pair.second), ++seq, pair.first));
    }
    if (!c.started) {
      ASSERT_EQ(-1, Answer(Activate(), ++seq, user));
    }
    // A pstn link starts before its line is joined: its first SABME is lost
    // and T200 sends it again.
    bool up[2] = {false, false};
    for (unsigned t = 0; t <= ISDN::Q921::n200 && !(up[0] && up[1]); ++t) {
      if (t) linktest::advance(clock, ISDN::Q921::t200_ms);
      linktest::run_until(
          [&] {
            LGCP::Message m;
            while (controller.ReceiveSignal(m, 0) == Controller::Ok)
              if (IsActivated(m.get_pdu().get_signal())) up[Controller::SlotOf(m) == network] = true;
            return up[0] && up[1];
          },
          100);
    }
    ASSERT_TRUE(up[0] && up[1]);

    ASSERT_TRUE(lines.tap(0, timeslot, true));
    ASSERT_TRUE(lines.tap(1, timeslot, true));
    const std::vector<char> setup = {0x08, 0x01, 0x01, 0x05};
    ASSERT_EQ(-1, Answer(UserData(setup), ++seq, user));
    std::vector<SimBoard::Lines::Frame> fromUser;
    ASSERT_TRUE(linktest::run_until([&] {
      for (SimBoard::Lines::Frame& f : lines.take(0, timeslot)) fromUser.push_back(std::move(f));
      return !fromUser.empty();
    }));
    ASSERT_EQ(-1, Answer(Activate(), ++seq, network));
    // Whatever the network side sent reaches the user side, then the other
    // way: the message arrives, and the activate is answered with activated.
    linktest::run_until([] { return false; }, 50);
    for (SimBoard::Lines::Frame const& f : lines.take(1, timeslot)) ASSERT_TRUE(lines.inject(0, timeslot, f));
    linktest::run_until([] { return false; }, 50);
    for (SimBoard::Lines::Frame& f : lines.take(0, timeslot)) fromUser.push_back(std::move(f));
    for (SimBoard::Lines::Frame const& f : fromUser) ASSERT_TRUE(lines.inject(1, timeslot, f));
    std::vector<std::vector<char>> got;
    bool activated = false;
    linktest::run_until([&] {
      LGCP::Message m;
      while (controller.ReceiveSignal(m, 0) == Controller::Ok) {
        const LGCP::Signal& s = m.get_pdu().get_signal();
        if (Controller::SlotOf(m) != network) continue;
        activated |= IsActivated(s);
        if (IsUserData(s)) got.push_back(s.get_userData());
      }
      return activated && !got.empty();
    });
    EXPECT_TRUE(activated);
    EXPECT_EQ(std::vector<std::vector<char>>{setup}, got);
    ASSERT_TRUE(lines.tap(0, timeslot, false));
    ASSERT_TRUE(lines.tap(1, timeslot, false));
    ++timeslot;
  }
}

TEST_F(IsdnSlotsTest, TrunkRangeAndChannelTypeOfACreate) {
  struct Case {
    bool bri;
    int trunk;
    bool made;
    int mode;
  } const cases[] = {
      {false, 0, false, -1}, {false, 5, false, -1}, {true, 0, false, -1}, {true, 9, false, -1},
      {false, 1, true, 0},   {false, 4, true, 0},   {true, 5, true, 1},   {true, 8, true, 1},
  };
  long seq = 0;
  for (Case const& c : cases) {
    const int answer = Answer(CtrlTest::Isdn(c.bri, c.trunk, false), ++seq, 20);
    EXPECT_EQ(c.made ? -1 : int(LGCP::ErrorCause::insufficientResources), answer) << c.bri << " " << c.trunk;
    if (!c.made) continue;
    IsdnSlot* slot = Isdn(20);
    ASSERT_NE(nullptr, slot);
    const std::string line = "channel=" + std::to_string(slot->channel()) + " mode=" + std::to_string(c.mode);
    EXPECT_NE(std::string::npos, sim.execute("mcc list").text().find(line)) << line;
    EXPECT_EQ(-1, Answer(Destroy(), ++seq, 20));
  }
  EXPECT_NE(std::string::npos, streams.err.text().find("mcc/isdn: invalid trunk number: 9, create refused"));
}

TEST_F(IsdnSlotsTest, AnEmptyReadEndsTheChannelWithOneLine) {
  ASSERT_EQ(-1, Answer(Trunk(0, 16), 1, 1));
  ASSERT_EQ(-1, Answer(CtrlTest::Isdn(false, 1, false), 2, 10));
  ASSERT_EQ(-1, Answer(ConnectTo(10), 3, 1));
  IsdnSlot* slot = Isdn(10);
  ASSERT_NE(nullptr, slot);
  ASSERT_TRUE(sim.execute("fail read /dev/mcc/ctl zero").lines().empty());
  ASSERT_FALSE(sim.execute("line inject 0 16 02017F").failed());
  ASSERT_TRUE(linktest::run_until([&] { return !slot->is_open(); }));
  EXPECT_EQ(0, slot->polled());
  // More frames for it change nothing.
  ASSERT_FALSE(sim.execute("line inject 0 16 02017F").failed());
  linktest::run_until([] { return false; }, 50);
  const std::string err = streams.err.text();
  const std::string line = "mcc/isdn: 10:MCC read fail: end of file, channel not read any more";
  EXPECT_NE(std::string::npos, err.find(line)) << err;
  EXPECT_EQ(err.find(line), err.rfind(line));
  Packet frame;
  frame.reserve_head(0);
  frame.put8(0x02);
  EXPECT_FALSE(slot->hdlc_transmit(frame));
  EXPECT_EQ(-1, Answer(Destroy(), 4, 10));
}

}  // namespace
