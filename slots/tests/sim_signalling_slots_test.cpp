// Signalling-link and raw HDLC slots in-process on the simulated board:
// which trunk reports reach an SS7 link, a link without layer, and the
// raw HDLC slot's handling of frames too short for its batching test.
#include <gtest/gtest.h>

#include "control/testing/commands.h"
#include "links/ss7/slc.h"
#include "messages/ACP.h"
#include "simboard/simulator.h"
#include "slots/hdlc_slot.h"
#include "slots/pstn_slot.h"
#include "slots/tests/slots_fixture.h"

namespace {

using namespace slottest;

LGCP::Signal TrunkStatus(int trunk, ACP::TrunkState::NamedNumber state, ACP::TrunkType::NamedNumber type) {
  LGCP::Signal s;
  ACP::TrunkStatus& t = s.select_trunkStatus();
  t.set_trunk(trunk);
  t.set_state(state);
  t.set_type(type);
  return s;
}

Packet Frame(std::vector<unsigned char> const& octets) {
  Packet p;
  p.reserve_head(0);
  for (unsigned char o : octets) p.put8(o);
  return p;
}

class SignallingSlotsTest : public SlotsServerTest {
protected:
  SignallingSlotsTest() : sim(SimBoard::Simulator::instance()) {
    sim.reset();
    PstnFactory::instance();
    HdlcSlotFactory::instance();
  }
  ~SignallingSlotsTest() override {
    sim.collect_closed();
    sim.reset();
  }

  // The ioctl signals of the slot, of the given alternative, so far.
  std::vector<LGCP::IoctlResponse> Ioctls(long slot, int alternative) {
    std::vector<LGCP::IoctlResponse> out;
    for (LGCP::Message const& m : Signals()) {
      const LGCP::Signal& s = m.get_pdu().get_signal();
      if (Controller::SlotOf(m) == slot && s.ioctl_isSelected() && s.get_ioctl().currentSelection() == alternative)
        out.push_back(s.get_ioctl());
    }
    return out;
  }

  SimBoard::Simulator& sim;
};

TEST_F(SignallingSlotsTest, OnlyAChangedE1StateOfItsOwnTrunkReachesTheSs7Link) {
  ASSERT_EQ(-1, Answer(Trunk(1, 16), 1, 1));
  ASSERT_EQ(-1, Answer(CtrlTest::Ss7(2, false), 2, 10));
  PstnSlot* slot = PstnSlot::Of(slots.Find(10));
  ASSERT_NE(nullptr, slot);
  EXPECT_EQ(1u, slot->trunk_index());
  ASSERT_EQ(-1, Answer(ConnectTo(10), 3, 1));
  ASSERT_TRUE(slot->channel().is_open());
  const auto running = [&] { return slot->ss7()->get_state_id() != SS7::SLC::State::idle; };
  ASSERT_TRUE(running());

  struct Case {
    int trunk;
    ACP::TrunkState::NamedNumber state;
    ACP::TrunkType::NamedNumber type;
    bool stops;
  } const cases[] = {
      // The BRI framer of the same number, another E1 trunk, a state that
      // is no loss, then the loss itself.
      {1, ACP::TrunkState::lossCarrier, ACP::TrunkType::bri, false},
      {0, ACP::TrunkState::lossCarrier, ACP::TrunkType::e1, false},
      {1, ACP::TrunkState::normal, ACP::TrunkType::e1, false},
      {1, ACP::TrunkState::ais, ACP::TrunkType::e1, true},
  };
  for (Case const& c : cases) {
    slots.OnSignal(TrunkStatus(c.trunk, c.state, c.type));
    EXPECT_EQ(!c.stops, running()) << c.trunk << " " << int(c.state) << " " << int(c.type);
  }
  // Started again, the same state once more is no news to the link.
  slot->IActivate(TERM::TermActivateParams());
  ASSERT_TRUE(running());
  slots.OnSignal(TrunkStatus(1, ACP::TrunkState::ais, ACP::TrunkType::e1));
  EXPECT_TRUE(running());
  slots.OnSignal(TrunkStatus(1, ACP::TrunkState::lossBF, ACP::TrunkType::e1));
  EXPECT_FALSE(running());
}

TEST_F(SignallingSlotsTest, CasSlotTakesUserDataAndDropsIt) {
  LGCP::Command cas;
  cas.select_create().select_pstn().select_cas().set_trunk(1);
  ASSERT_EQ(-1, Answer(cas, 1, 5));
  EXPECT_EQ(-1, Answer(UserData(std::vector<char>{1, 2}), 2, 5));
  LGCP::Command bsn;
  bsn.select_ioctl().select_ss7RqBSN();
  EXPECT_EQ(LGCP::ErrorCause::unsupported, Answer(bsn, 3, 5));
  EXPECT_TRUE(Ioctls(5, 0).empty());
}

TEST_F(SignallingSlotsTest, RawHdlcShortFramesAndForeignAddresses) {
  LGCP::Command create;
  LGCP::HdlcParams& p = create.select_create().select_hdlcParams();
  p.set_trunk(3);
  p.set_log(0);
  p.set_address(0x10203);  // cut to 16 bits: 0x0203
  ASSERT_EQ(-1, Answer(create, 1, 7));
  HdlcSlot* slot = HdlcSlot::Of(slots.Find(7));
  ASSERT_NE(nullptr, slot);

  Packet runt = Frame({0x02, 0x03});
  slot->on_hdlc_receive(runt);
  EXPECT_EQ(1u, slot->runts());
  // Another address with nothing pending: no signal.
  Packet foreign = Frame({0x02, 0x04, 0x00, 0x01, 0x00});
  slot->on_hdlc_receive(foreign);
  const int kPackages = 8;
  EXPECT_TRUE(Ioctls(7, kPackages).empty());

  // Three octets: an empty body, flushed at once.
  Packet bare = Frame({0x02, 0x03, 0x40});
  slot->on_hdlc_receive(bare);
  std::vector<LGCP::IoctlResponse> got = Ioctls(7, kPackages);
  ASSERT_EQ(1u, got.size());
  ASSERT_EQ(1u, got[0].get_hdlcPackages().size());
  EXPECT_TRUE(got[0].get_hdlcPackages()[0].get_body().empty());

  // Held, then sent by the batch timer after 100 ms.
  Packet held = Frame({0x02, 0x03, 0x00, 0x01, 0x80});
  slot->on_hdlc_receive(held);
  EXPECT_TRUE(Ioctls(7, kPackages).empty());
  linktest::advance(clock, HdlcSlot::kFlushMs);
  got = Ioctls(7, kPackages);
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(1u, got[0].get_hdlcPackages().size());
  EXPECT_EQ(1u, slot->runts());
}

}  // namespace
