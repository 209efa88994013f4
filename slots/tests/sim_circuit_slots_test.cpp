// Trunk, map, ext and echo slots on the simulated cross-connect, in-process.
#include <gtest/gtest.h>

#include <algorithm>

#include "simboard/simulator.h"
#include "slots/echo_slot.h"
#include "slots/ext_slot.h"
#include "slots/map_slot.h"
#include "slots/tests/slots_fixture.h"
#include "slots/trunk_slot.h"

namespace {

using namespace slottest;

class CircuitSlotsTest : public SlotsServerTest {
protected:
  CircuitSlotsTest() : sim(SimBoard::Simulator::instance()) {
    sim.reset();
    MapFactory::instance();
    ExtFactory::instance();
    EchoFactory::instance();
  }
  ~CircuitSlotsTest() override { sim.reset(); }

  // "state=..." of the output.
  std::string Xc(int output) {
    const std::string text = sim.execute("xc get " + std::to_string(output)).text();
    const size_t at = text.find("state=");
    return at == std::string::npos ? text : text.substr(at, text.find(" disables=") - at);
  }

  SimBoard::Simulator& sim;
};

TEST_F(CircuitSlotsTest, TrunkSlotsNameTheirTrunkAndTimeslot) {
  struct Case {
    unsigned trunk, timeslot;
    bool bri;
    int channel;
    const char* name;
  } cases[] = {{2, 5, false, 69, "trunk"},   {0, 31, false, 31, "trunk"}, {3, 31, false, 127, "trunk"},
               {3, 2, true, 14, "trunkBRI"}, {0, 0, true, 0, "trunkBRI"}, {7, 3, true, 31, "trunkBRI"}};
  unsigned n = 100;
  for (const Case& c : cases) {
    ASSERT_EQ(-1, Answer(Trunk(c.trunk, c.timeslot, c.bri), 1, n));
    TrunkSlot* slot = dynamic_cast<TrunkSlot*>(slots.Find(n));
    ASSERT_NE(nullptr, slot);
    EXPECT_EQ(int(c.trunk), slot->GetTrunk());
    EXPECT_EQ(int(c.timeslot), slot->GetTimeSlot());
    EXPECT_EQ(int(c.timeslot), slot->GetTrunkTimeSlot());
    EXPECT_EQ(c.channel, slot->GetTransmitChannel());
    EXPECT_EQ(c.channel, slot->GetReceiveChannel());
    EXPECT_STREQ(c.name, slot->GetName());
    ++n;
  }
}

TEST_F(CircuitSlotsTest, DestroyedTrunkSlotFreesItsTimeslotAtOnce) {
  ASSERT_EQ(-1, Answer(Trunk(1, 3, false), 1, 1));
  ASSERT_EQ(-1, Answer(Destroy(), 2, 1));
  ASSERT_EQ(-1, Answer(Trunk(1, 3, false), 3, 2));
  EXPECT_EQ("", streams.err.text());
  // Pushed out: its number is free, the new slot holds the timeslot.
  ASSERT_EQ(-1, Answer(Trunk(1, 3, false), 4, 3));
  EXPECT_EQ(nullptr, slots.Find(2));
  EXPECT_EQ(
      "trunk-slot: two slots require the same timeslot, remove old.\n"
      " old slot 02:trunk\n",
      streams.err.text());
}

TEST_F(CircuitSlotsTest, MapSlotChannels) {
  ASSERT_EQ(-1, Answer(Map(1, 5, -1, 0), 1, 1));
  EXPECT_EQ(8325, slots.Find(1)->GetTransmitChannel());
  EXPECT_EQ(-1, slots.Find(1)->GetReceiveChannel());
  ASSERT_EQ(-1, Answer(Map(-1, 0, 15, 127), 2, 2));
  EXPECT_EQ(10239, slots.Find(2)->GetReceiveChannel());
  EXPECT_EQ(slots.Find(2), MapFactory::instance().Owner(2047));

  // One channel both ways: one entry, released without complaint.
  ASSERT_EQ(-1, Answer(Map(2, 9, 2, 9), 3, 3));
  EXPECT_EQ(slots.Find(3), MapFactory::instance().Owner(265));
  ASSERT_EQ(-1, Answer(Destroy(), 4, 3));
  EXPECT_EQ(nullptr, MapFactory::instance().Owner(265));
  EXPECT_EQ("state=disabled", Xc(8192 + 265));
  EXPECT_EQ("", streams.err.text());
  EXPECT_NE(std::string::npos, streams.log.text().find("map: disable map channel 265\n"));

  // A second slot whose receiver is the first one's transmitter.
  ASSERT_EQ(-1, Answer(Map(-1, 0, 1, 5), 5, 4));
  EXPECT_EQ(nullptr, slots.Find(1));
  EXPECT_EQ(slots.Find(4), MapFactory::instance().Owner(133));
}

TEST_F(CircuitSlotsTest, ExtAndEchoSlots) {
  LGCP::Command c;
  LGCP::ExtParams& p = c.select_create().select_ext();
  p.set_transmitter(5);
  p.set_receiver(6);
  ASSERT_EQ(-1, Answer(c, 1, 1));
  EXPECT_EQ(8197, slots.Find(1)->GetTransmitChannel());
  EXPECT_EQ(8198, slots.Find(1)->GetReceiveChannel());
  ASSERT_EQ(-1, Answer(Activate(), 2, 1));
  EXPECT_EQ("state=constant byte=213", Xc(8198));
  ASSERT_EQ(-1, Answer(Destroy(), 3, 1));
  EXPECT_EQ("state=disabled", Xc(8198));

  LGCP::Command echo;
  LGCP::EchoParams& e = echo.select_create().select_echo();
  e.set_bus(0);
  e.set_channel(3);
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(echo, 4, 2));
  e.set_bus(-1);
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(echo, 5, 2));
  LGCP::Resources r;
  EchoFactory::instance().Query(r);
  EXPECT_EQ(0u, r.get_echoBus().size());
}

}  // namespace

namespace {

// The chain is asked from the factory built last: start-up's singletons,
// then the static trunk factories from trunk_bri7 down to trunk0.
TEST(FactoryChain, LastBuiltIsAskedFirst) {
  MapFactory::instance();
  std::vector<std::string> names;
  std::vector<SlotFactory*> chain;
  for (SlotFactory* f = firstFactory; f; f = f->GetNext()) {
    names.push_back(f->GetName());
    chain.push_back(f);
  }
  const auto at = [&](SlotFactory* f) { return std::find(chain.begin(), chain.end(), f) - chain.begin(); };
  ASSERT_GE(names.size(), 13u);
  EXPECT_EQ(std::vector<std::string>(4, "Trunks"), std::vector<std::string>(names.end() - 4, names.end()));
  EXPECT_EQ(std::vector<std::string>(8, "TrunksBRI"), std::vector<std::string>(names.end() - 12, names.end() - 4));
  EXPECT_LT(at(&MapFactory::instance()), long(names.size()) - 12);

  struct Later : SlotFactory {
    const char* GetName() const override { return "Later"; }
    Slot* INewSlot(LGCP::CreateParams const&) override { return nullptr; }
    void Query(LGCP::Resources&) override {}
  };
  // Never leaves the chain, so it lives as long as the process.
  static Later later;
  EXPECT_EQ(&later, firstFactory);
  EXPECT_EQ(chain.front(), later.GetNext());
}

}  // namespace
