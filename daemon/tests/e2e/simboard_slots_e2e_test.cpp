// Slots on the daemon and the default simulated board: trunk, map and ext
// slots created, connected and taken down by a controller, with the
// cross-connect read back through the board's control socket.
#include <string>
#include <vector>

#include "control/testing/commands.h"
#include "daemon/tests/e2e/board_e2e.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "simboard/testing/sim_client.h"

using namespace e2e;
using namespace CtrlTest;

namespace {

const char kFailNextConnect[] = "fail ioctl /dev/hal 0x80084D02 EIO 1";
LGCP::Command Ext(int tx, int rx) {
  LGCP::Command c;
  LGCP::ExtParams& p = c.select_create().select_ext();
  p.set_transmitter(tx);
  p.set_receiver(rx);
  return c;
}

LGCP::Command Echo(int bus, int channel) {
  LGCP::Command c;
  LGCP::EchoParams& p = c.select_create().select_echo();
  p.set_bus(bus);
  p.set_channel(channel);
  return c;
}

// A stream signal: slot, 't'ransmitter or 'r'eceiver, channel (-1 inactive).
struct Stream {
  long slot;
  char kind;
  int channel;
  bool operator==(const Stream& o) const { return slot == o.slot && kind == o.kind && channel == o.channel; }
};
std::ostream& operator<<(std::ostream& os, const Stream& s) {
  return os << "{" << s.slot << ", " << s.kind << ", " << s.channel << "}";
}

class SlotBoard : public BoardDaemon {
protected:
  // The signals other than trunk status that arrive within the time.
  std::vector<LGCP::Message> SlotSignals(Controller& c, std::size_t n, int timeout_ms = 5000) {
    std::vector<LGCP::Message> got;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (got.size() < n) {
      const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
      LGCP::Message m;
      if (left <= 0 || c.ReceiveSignal(m, left) != Controller::Ok) break;
      if (m.get_pdu().get_signal().trunkStatus_isSelected()) continue;
      got.push_back(m);
    }
    return got;
  }

  std::vector<Stream> Streams(Controller& c, std::size_t n, int timeout_ms = 5000) {
    std::vector<Stream> out;
    for (const LGCP::Message& m : SlotSignals(c, n, timeout_ms)) {
      const LGCP::Signal& s = m.get_pdu().get_signal();
      const LGCP::Stream* stream = s.transmitter_isSelected() ? &s.get_transmitter()
                                   : s.receiver_isSelected()  ? &s.get_receiver()
                                                              : nullptr;
      if (!stream) {
        ADD_FAILURE() << "not a stream signal: " << s;
        continue;
      }
      out.push_back(Stream{Controller::SlotOf(m), s.transmitter_isSelected() ? 't' : 'r',
                           stream->active_isSelected() ? int(stream->get_active().getValue()) : -1});
    }
    return out;
  }
  std::vector<Stream> Streams(std::size_t n, int timeout_ms = 5000) { return Streams(controller, n, timeout_ms); }

  // Nothing but trunk status: slots signal while they handle a command, so
  // what the commands so far brought about came before a ping's answer.
  void ExpectNoSlotSignal() {
    LGCP::Message answer;
    ASSERT_EQ(Controller::Ok, controller.Call(Controller::Ping(), answer, 5000));
    LGCP::Message m;
    while (controller.ReceiveSignal(m, 0) == Controller::Ok)
      EXPECT_TRUE(m.get_pdu().get_signal().trunkStatus_isSelected()) << m.get_pdu().get_signal();
  }
};

TEST_F(SlotBoard, TrunkSlotsSignalTheirChannelAfterTheAnswer) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(kSuccess, Answer(Trunk(2, 5), 3));
  EXPECT_EQ((std::vector<Stream>{{3, 't', 69}, {3, 'r', 69}}), Streams(2));
  EXPECT_EQ(kSuccess, Answer(Trunk(3, 2, true), 4));
  EXPECT_EQ((std::vector<Stream>{{4, 't', 14}, {4, 'r', 14}}), Streams(2));

  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(Trunk(3, 4, true), 5));
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(Trunk(4, 0), 5));
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(Trunk(8, 0, true), 5));
  EXPECT_EQ(LGCP::ErrorCause::slotNotExists, Answer(Destroy(), 5));
  ExpectNoSlotSignal();
  EXPECT_EQ(0, Stop());
}

TEST_F(SlotBoard, ConnectFeedsTheOutputAndAFailedMoveKeepsTheOldSource) {
  ASSERT_NO_FATAL_FAILURE(Start());
  for (int ts : {1, 2, 3}) EXPECT_EQ(kSuccess, Answer(Trunk(0, ts), ts));
  Streams(6);

  EXPECT_EQ(kSuccess, Answer(ConnectTo(2), 1));
  EXPECT_EQ("state=fed source=1", Xc(2));
  // Already fed by that source: nothing to do.
  EXPECT_EQ(kSuccess, Answer(ConnectTo(2), 1));
  EXPECT_EQ(LGCP::ErrorCause::connectFail, Answer(ConnectTo(1), 1));

  Board(kFailNextConnect);
  EXPECT_EQ(LGCP::ErrorCause::connectFail, Answer(ConnectTo(2), 3));
  EXPECT_EQ("state=fed source=1", Xc(2));

  EXPECT_EQ(kSuccess, Answer(Disconnect(), 2));
  EXPECT_EQ("state=constant byte=213", Xc(2));
  // Nothing to take apart.
  EXPECT_EQ(kSuccess, Answer(Disconnect(), 2));
  EXPECT_EQ(LGCP::ErrorCause::slotNotExists, Answer(ConnectTo(9), 1));
  ExpectNoSlotSignal();
  EXPECT_EQ(0, Stop());
  EXPECT_TRUE(contains(daemon.Out() + daemon.Err(), "mux: slot 01:trunk [1] -> 02:trunk [2]"))
      << daemon.Out() << daemon.Err();
}

TEST_F(SlotBoard, AHungUpCrossConnectIsOpenedAgainByTheNextConnect) {
  ASSERT_NO_FATAL_FAILURE(Start());
  for (int ts : {1, 2, 3}) EXPECT_EQ(kSuccess, Answer(Trunk(0, ts), ts));
  EXPECT_EQ(kSuccess, Answer(Ext(7, 8), 4));
  EXPECT_EQ(kSuccess, Answer(Activate(), 4));
  Streams(7);
  EXPECT_EQ(kSuccess, Answer(ConnectTo(4), 1));
  EXPECT_EQ("state=fed source=1", Xc(8200));

  Board("hangup /dev/hal");
  EXPECT_EQ(kSuccess, Answer(ConnectTo(3), 2));
  EXPECT_EQ("state=fed source=2", Xc(3));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(2), 3));
  EXPECT_EQ("state=fed source=3", Xc(2));
  // What was connected before stays so.
  EXPECT_EQ("state=fed source=1", Xc(8200));
  EXPECT_EQ(kSuccess, Answer(Disconnect(), 2));
  EXPECT_EQ("state=constant byte=213", Xc(2));
  EXPECT_EQ(0, Stop());
  const std::string logs = daemon.Out() + daemon.Err();
  EXPECT_EQ(1, count(logs, "hwMux: device lost: Input/output error\n")) << logs;
}

TEST_F(SlotBoard, ASecondSlotOnATimeslotOrChannelPushesTheFirstOut) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(kSuccess, Answer(Trunk(0, 7), 4));
  EXPECT_EQ((std::vector<Stream>{{4, 't', 7}, {4, 'r', 7}}), Streams(2));
  EXPECT_EQ(kSuccess, Answer(Trunk(0, 7), 10));
  // Slot 4 goes without a word.
  EXPECT_EQ((std::vector<Stream>{{10, 't', 7}, {10, 'r', 7}}), Streams(2));
  ExpectNoSlotSignal();
  EXPECT_EQ(LGCP::ErrorCause::slotNotExists, Answer(Destroy(), 4));

  // Receive channel bus 1 channel 5, fed by the trunk.
  EXPECT_EQ(kSuccess, Answer(Map(-1, 0, 1, 5), 20));
  EXPECT_EQ((std::vector<Stream>{{20, 'r', 8325}}), Streams(1));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(20), 10));
  EXPECT_EQ("state=fed source=7", Xc(8325));
  // The same channel as another slot's transmitter.
  EXPECT_EQ(kSuccess, Answer(Map(1, 5, -1, 0), 21));
  EXPECT_EQ((std::vector<Stream>{{21, 't', 8325}}), Streams(1));
  ExpectNoSlotSignal();
  EXPECT_EQ("state=disabled", Xc(8325));
  EXPECT_EQ(LGCP::ErrorCause::slotNotExists, Answer(Destroy(), 20));
  // A map slot without receive channel takes no source.
  EXPECT_EQ(LGCP::ErrorCause::connectFail, Answer(ConnectTo(21), 10));
  EXPECT_EQ(0, Stop());
  const std::string err = daemon.Err();
  EXPECT_TRUE(contains(err, "trunk-slot: two slots require the same timeslot, remove old.\n old slot 04:trunk\n"))
      << err;
  EXPECT_TRUE(contains(err,
                       "map-slot: two slots require the same ipc-slot, remove old.\n"
                       "new slot na:map <-> old slot 20:map\n"))
      << err;
  EXPECT_TRUE(contains(daemon.Out() + err, "map: disable map channel 133")) << daemon.Out();
}

TEST_F(SlotBoard, ExtSlotTakesASourceOnlyWhileActivated) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(kSuccess, Answer(Ext(5, 6), 30));
  EXPECT_EQ((std::vector<Stream>{{30, 't', 8197}}), Streams(1));
  EXPECT_EQ(kSuccess, Answer(Trunk(1, 0), 31));
  Streams(2);
  EXPECT_EQ("state=disabled", Xc(8198));

  EXPECT_EQ(LGCP::ErrorCause::connectFail, Answer(ConnectTo(30), 31));
  EXPECT_EQ(kSuccess, Answer(Activate(), 30));
  EXPECT_EQ((std::vector<Stream>{{30, 'r', 8198}}), Streams(1));
  EXPECT_EQ("state=constant byte=213", Xc(8198));

  EXPECT_EQ(kSuccess, Answer(ConnectTo(30), 31));
  EXPECT_EQ("state=fed source=32", Xc(8198));
  // Again: no signal, and the connection stays in the hardware.
  EXPECT_EQ(kSuccess, Answer(Activate(), 30));
  EXPECT_EQ("state=fed source=32", Xc(8198));
  ExpectNoSlotSignal();

  EXPECT_EQ(kSuccess, Answer(Deactivate(), 30));
  EXPECT_EQ((std::vector<Stream>{{30, 'r', -1}}), Streams(1));
  EXPECT_EQ("state=disabled", Xc(8198));
  // The trunk has no activation.
  EXPECT_EQ(LGCP::ErrorCause::unsupported, Answer(Activate(), 31));

  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(Ext(2048, 0), 32));
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(Ext(0, -1), 32));
  EXPECT_EQ(kSuccess, Answer(Ext(2047, 0), 32));
  EXPECT_EQ((std::vector<Stream>{{32, 't', 10239}}), Streams(1));
  EXPECT_EQ(0, Stop());
}

TEST_F(SlotBoard, QuerySignalCarriesNoSlotAlsoOnSighup) {
  ASSERT_NO_FATAL_FAILURE(Start());
  LGCP::Message answer;
  ASSERT_EQ(Controller::Ok, controller.Call(Controller::Make(Query(), 7), answer, 5000));
  EXPECT_TRUE(Controller::IsSuccess(answer));
  EXPECT_EQ(CtrlTest::kNone, Controller::SlotOf(answer));

  // The query signal, then once more on SIGHUP right after a slot command.
  for (int round = 0; round < 2; ++round) {
    const std::vector<LGCP::Message> got = SlotSignals(controller, 1, 3000);
    ASSERT_EQ(1u, got.size()) << round;
    EXPECT_EQ(CtrlTest::kNone, Controller::SlotOf(got[0]));
    EXPECT_EQ(CtrlTest::kNone, Controller::SeqOf(got[0]));
    const LGCP::Signal& s = got[0].get_pdu().get_signal();
    ASSERT_TRUE(s.query_isSelected()) << s;
    EXPECT_TRUE(bool(s.get_query().get_mux()));
    EXPECT_EQ(0u, s.get_query().get_echoBus().size());
    EXPECT_FALSE(s.get_query().drvVersion_isPresent());
    if (round == 0) {
      EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(Echo(0, 3), 12));
      ASSERT_TRUE(daemon.Signal(SIGHUP));
    }
  }
  // With a slot number the query is not the slot manager's.
  EXPECT_EQ(LGCP::ErrorCause::unexpectedMsgType, Answer(Query(), 12));
  EXPECT_EQ(0, Stop());
}

TEST_F(SlotBoard, ControllerGoneLeavesIdleOutputsAndFreeNumbers) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(kSuccess, Answer(Trunk(0, 1), 1));
  EXPECT_EQ(kSuccess, Answer(Trunk(0, 2), 2));
  EXPECT_EQ(kSuccess, Answer(Ext(7, 8), 3));
  EXPECT_EQ(kSuccess, Answer(Activate(), 3));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(2), 1));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(3), 1));
  EXPECT_EQ("state=fed source=1", Xc(2));
  EXPECT_EQ("state=fed source=1", Xc(8200));

  controller.Close();
  EXPECT_TRUE(Eventually([&] { return Xc(8200) == "state=disabled"; }));
  EXPECT_EQ("state=constant byte=213", Xc(2));

  Controller next;
  next.SetSignalsApart(true);
  LGCP::Message answer;
  ASSERT_TRUE(Eventually(
      [&] { return next.Connect(port) && next.Call(Controller::Ping(99), answer, 5000) == Controller::Ok; }));
  EXPECT_EQ(kSuccess, Answer(Trunk(0, 2), 1, next));
  EXPECT_EQ(kSuccess, Answer(Trunk(0, 1), 2, next));
  EXPECT_EQ(kSuccess, Answer(Ext(7, 8), 3, next));
  EXPECT_EQ((std::vector<Stream>{{1, 't', 2}, {1, 'r', 2}, {2, 't', 1}, {2, 'r', 1}, {3, 't', 8199}}),
            Streams(next, 5));
  EXPECT_EQ(0, Stop());
}

}  // namespace
