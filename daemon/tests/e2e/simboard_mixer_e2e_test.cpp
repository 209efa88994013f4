// Mixer slots on the daemon and the default simulated board: units learnt
// by the resource query, routes programmed on "/dev/mixer" and read back
// through the board's control socket, and the receivers of a port.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "control/testing/commands.h"
#include "daemon/tests/e2e/board_e2e.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "simboard/testing/sim_client.h"

using namespace e2e;
using namespace CtrlTest;

namespace {

const char kRxAdd[] = "0x801C4D03";
// Where the simulated board carries mixer channels: unit d channel c.
int MixerTs(int dev, int channel) { return 16384 + dev * 128 + channel; }

class MixerBoard : public BoardDaemon {
protected:
  std::vector<std::string> Routes(int dev, int channel) {
    return Board("mixer routes " + std::to_string(dev) + " " + std::to_string(channel)).lines;
  }

  // Runs a query; the query signal and the signals before it.
  LGCP::Resources QueryResources(std::vector<LGCP::Message>* before = nullptr) {
    EXPECT_EQ(kSuccess, Answer(Query(), kNoSlot));
    for (;;) {
      const std::vector<LGCP::Message> one = Signals(1, 10000);
      if (one.empty()) {
        ADD_FAILURE() << "no query signal";
        return LGCP::Resources();
      }
      const LGCP::Signal& s = one[0].get_pdu().get_signal();
      if (s.query_isSelected()) return s.get_query();
      if (before) before->push_back(one[0]);
    }
  }

  static std::vector<int> Units(const LGCP::Resources& r) {
    std::vector<int> units;
    for (const LGCP::MixerResources_subtype& m : r.get_mixer()) units.push_back(m.get_unit().getValue());
    return units;
  }

  bool LogHas(const std::string& part) {
    for (const std::string& l : Board("mixer log").lines)
      if (contains(l, part)) return true;
    return false;
  }

  static constexpr long kNoSlot = CtrlTest::kNone;
};

TEST_F(MixerBoard, UnitsAreKnownOnlyAfterAQuery) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(MixerIn(0, 1), 1));
  Board("mixer unit remove 1");
  Board("mixer unit add 1 16 4");
  const LGCP::Resources r = QueryResources();
  ASSERT_EQ((std::vector<int>{0, 1}), Units(r));
  for (const LGCP::MixerResources_subtype& m : r.get_mixer()) {
    EXPECT_EQ(16, m.get_tdm_inputs().getValue());
    EXPECT_EQ(16, m.get_tdm_outputs().getValue());
    EXPECT_EQ(4, m.get_mixer_inputs().getValue());
    EXPECT_EQ(770, m.get_dpu_per_mixer().getValue());
    EXPECT_EQ(17, m.get_dpu_per_ec().getValue());
    EXPECT_EQ(24, m.get_dpu_per_lms().getValue());
  }
  EXPECT_EQ(32, r.get_mcc_data().getValue());
  EXPECT_EQ(16, r.get_mcc_bri().getValue());
  EXPECT_EQ(16, r.get_mcc_trans().getValue());
  // A new unit is reset: every channel cleared once.
  EXPECT_TRUE(LogHas("MIX_RX_CLEAR 1/0/15 -> 0"));

  EXPECT_EQ(kSuccess, Answer(MixerIn(0, 1), 1));
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(MixerIn(7, 1), 2));
  // Channels 16 to 31 are beyond the smallest unit.
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(MixerIn(0, 16), 2));
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(MixerIn(0, -1), 2));
  EXPECT_EQ(0, Stop());
}

TEST_F(MixerBoard, OutputRoutesItsInputsAndClearsThemWhenDestroyed) {
  ASSERT_NO_FATAL_FAILURE(Start());
  QueryResources();
  EXPECT_EQ(kSuccess, Answer(MixerOut(0, 3, {{1, 16000}, {2, 32767}}), 5));
  EXPECT_EQ((std::vector<std::string>{"tx=1 gain=16000", "tx=2 gain=32767"}), Routes(0, 3));

  // The output feeds a trunk timeslot through its own.
  EXPECT_EQ(kSuccess, Answer(Trunk(0, 9), 6));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(6), 5));
  EXPECT_EQ("state=fed source=" + std::to_string(MixerTs(0, 3)), Xc(9));

  EXPECT_EQ(kSuccess, Answer(Destroy(), 5));
  EXPECT_TRUE(Routes(0, 3).empty());
  EXPECT_EQ("state=disabled", Xc(MixerTs(0, 3)));
  EXPECT_TRUE(contains(Board("xc get " + std::to_string(MixerTs(0, 3))).text(), "disables=1"));
  // The trunk it fed idles.
  EXPECT_EQ("state=constant byte=213", Xc(9));

  EXPECT_EQ(kSuccess, Answer(MixerOut(0, 3, {}), 5));
  EXPECT_EQ((std::vector<std::string>{"tx=3 gain=32767"}), Routes(0, 3));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 5));
  EXPECT_TRUE(Routes(0, 3).empty());
  EXPECT_EQ(0, Stop());
  EXPECT_TRUE(contains(daemon.Out() + daemon.Err(), "mixer [0]: clear tdm output 3")) << daemon.Err();
}

TEST_F(MixerBoard, ARefusedOutputLeavesNoRoute) {
  ASSERT_NO_FATAL_FAILURE(Start());
  QueryResources();
  Board(std::string("fail ioctl /dev/mixer ") + kRxAdd + " EIO 2");
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(MixerOut(0, 3, {{1, 100}, {2, 200}, {4, 300}}), 5));
  EXPECT_TRUE(Routes(0, 3).empty());

  // Unit 0 has channel 20, but the factory offers only the smallest unit's.
  Board("mixer unit remove 1");
  Board("mixer unit add 1 16 8");
  QueryResources();
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(MixerOut(0, 20, {{1, 100}}), 5));
  EXPECT_TRUE(Routes(0, 20).empty());

  // An rtp summator: the input is made, without a route.
  Board("mixer log clear");
  EXPECT_EQ(kSuccess, Answer(MixerIn(0, 4, -2), 6));
  EXPECT_FALSE(LogHas("MIX_RX_ADD"));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 6));
  EXPECT_FALSE(LogHas("MIX_RX_REMOVE"));

  // A tdm summator is joined, and left on destroy.
  EXPECT_EQ(kSuccess, Answer(MixerIn(0, 4, 10), 6));
  EXPECT_EQ((std::vector<std::string>{"tx=4 gain=32767"}), Routes(0, 10));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 6));
  EXPECT_TRUE(Routes(0, 10).empty());
  EXPECT_EQ(0, Stop());
  EXPECT_TRUE(contains(daemon.Err(), "mixer [0]: wrong summator coding !")) << daemon.Err();
}

TEST_F(MixerBoard, AUnitThatGoesAbortsItsPorts) {
  ASSERT_NO_FATAL_FAILURE(Start());
  QueryResources();
  EXPECT_EQ(kSuccess, Answer(MixerIn(1, 2), 10));
  EXPECT_EQ(kSuccess, Answer(MixerOut(1, 3, {{2, 1000}}), 11));
  EXPECT_EQ(kSuccess, Answer(MixerIn(0, 2), 12));
  Board("mixer unit remove 1");
  std::vector<LGCP::Message> before;
  const LGCP::Resources r = QueryResources(&before);
  EXPECT_EQ((std::vector<int>{0}), Units(r));
  std::vector<long> aborted;
  for (const LGCP::Message& m : before) {
    const LGCP::Signal& s = m.get_pdu().get_signal();
    ASSERT_TRUE(s.abort_isSelected()) << s;
    EXPECT_EQ(0, s.get_abort().getValue());
    aborted.push_back(Controller::SlotOf(m));
  }
  EXPECT_EQ((std::vector<long>{10, 11}), aborted);
  // The unit's ports still go cleanly, and no new one is made on it.
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(MixerIn(1, 5), 13));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 10));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 11));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 12));

  // A hundred live units are found again by every query.
  for (int d = 2; d < 101; ++d) Board("mixer unit add " + std::to_string(d) + " 32 8");
  EXPECT_EQ(kSuccess, Answer(MixerIn(0, 2), 12));
  for (int round = 0; round < 2; ++round) {
    std::vector<LGCP::Message> others;
    EXPECT_EQ(100u, Units(QueryResources(&others)).size());
    EXPECT_TRUE(others.empty());
  }
  EXPECT_EQ(0, Stop());
}

TEST_F(MixerBoard, PortsCarryTheReceiversOfTheirTimeslot) {
  ASSERT_NO_FATAL_FAILURE(Start());
  QueryResources();
  EXPECT_EQ(kSuccess, Answer(Trunk(0, 7), 1));
  EXPECT_EQ(kSuccess, Answer(MixerIn(0, 4), 2));
  // The trunk slot's streams, signalled before the port's answer.
  ASSERT_EQ(2u, Signals(2).size());
  EXPECT_EQ(kSuccess, Answer(ConnectTo(2), 1));
  const int ts = MixerTs(0, 4);
  EXPECT_EQ("state=fed source=7", Xc(ts));
  // The input's receive stream starts with the connection.
  const std::vector<LGCP::Message> stream = Signals(1);
  ASSERT_EQ(1u, stream.size());
  EXPECT_EQ(2, Controller::SlotOf(stream[0]));
  EXPECT_TRUE(stream[0].get_pdu().get_signal().receiver_isSelected());

  EXPECT_EQ(kSuccess, Answer(Ioctl([](LGCP::IoctlParams& p) { p.select_dtmf_enable(true); }), 2));
  Board("dtmf event " + std::to_string(ts) + " 5");
  const std::vector<LGCP::Message> got = Signals(1);
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(2, Controller::SlotOf(got[0]));
  const LGCP::Signal& s = got[0].get_pdu().get_signal();
  ASSERT_TRUE(s.tonec_isSelected()) << s;
  ASSERT_TRUE(s.get_tonec().get_event().dtmf_isSelected()) << s;
  EXPECT_EQ(5, s.get_tonec().get_event().get_dtmf().getValue());

  EXPECT_EQ(kSuccess, Answer(MixerOut(0, 6, {{4, 32767}}), 3));
  const std::string out = std::to_string(MixerTs(0, 6));
  EXPECT_EQ(kSuccess, Answer(Ioctl([](LGCP::IoctlParams& p) {
                               LGCP::ToneGenerator& g = p.select_tone_gen_enable();
                               g.set_freq(425);
                               g.set_amp(1000);
                             }),
                             3));
  const SimBoard::Answer gen = Board("dtmf gen " + out);
  EXPECT_TRUE(contains(gen.text(), "425")) << gen.text();
  EXPECT_EQ(LGCP::ErrorCause::unsupported,
            Answer(Ioctl([](LGCP::IoctlParams& p) { p.select_rx_gain().set_gainDB(-6); }), 3));
  EXPECT_EQ(LGCP::ErrorCause::unsupported, Answer(Ioctl([](LGCP::IoctlParams& p) { p.select_tone_gen_disable(); }), 2));
  EXPECT_EQ(0, Stop());
}

}  // namespace
