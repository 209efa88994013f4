// The slot manager behind the real command server: create, destroy and the
// deferred release, the refusals, the query and the controller's departure.
#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

#include "slots/tests/slots_fixture.h"

namespace {

using namespace slottest;

TEST_F(SlotsServerTest, DeferredDestroyIsAnsweredOnceOnRelease) {
  TestFactory::instance().defer = true;
  ASSERT_EQ(-1, Answer(CreateTest(), 1, 5));
  EXPECT_EQ((std::vector<std::string>{"test:IAfterCreate"}), journal);
  TestSlot* slot = Created(5);
  ASSERT_NE(nullptr, slot);

  EXPECT_TRUE(controller.Send(Controller::Make(Destroy(), 11, 5)));
  ExpectNoAnswer();
  EXPECT_TRUE(slot->is_releasing());
  EXPECT_EQ(LGCP::ErrorCause::destroyInProgress, Answer(Destroy(), 12, 5));
  EXPECT_EQ(LGCP::ErrorCause::destroyInProgress, Answer(CreateTest(), 13, 5));
  // Other commands still reach it.
  EXPECT_EQ(LGCP::ErrorCause::unsupported, Answer(Activate(), 14, 5));

  slot->on_release();
  LGCP::Message answer;
  ASSERT_EQ(Controller::Ok, Next(answer));
  EXPECT_TRUE(Controller::IsSuccess(answer));
  EXPECT_EQ(11, Controller::SeqOf(answer));
  EXPECT_EQ(5, Controller::SlotOf(answer));
  ExpectNoAnswer();
  EXPECT_EQ(nullptr, slots.Find(5));
  EXPECT_EQ(0u, TestFactory::instance().GetSlots().size());

  TestFactory::instance().defer = false;
  EXPECT_EQ(-1, Answer(CreateTest(), 15, 5));
  EXPECT_EQ(-1, Answer(Destroy(), 16, 5));
  ExpectNoAnswer();
}

TEST_F(SlotsServerTest, CreateOnADeferringNumberIsBusyAndItsReleaseSilent) {
  TestFactory::instance().defer = true;
  ASSERT_EQ(-1, Answer(CreateTest(), 1, 6));
  TestSlot* slot = Created(6);
  EXPECT_EQ(LGCP::ErrorCause::slotIdBusy, Answer(CreateTest(), 2, 6));
  EXPECT_EQ(slot, Created(6));
  slot->on_release();
  ExpectNoAnswer();
  EXPECT_EQ(nullptr, slots.Find(6));
  TestFactory::instance().defer = false;
  EXPECT_EQ(-1, Answer(CreateTest(), 3, 6));
}

TEST_F(SlotsServerTest, CreateOnALiveNumberReplacesTheSlot) {
  ASSERT_EQ(-1, Answer(CreateTest(), 1, 1023));
  TestSlot* first = Created(1023);
  first->name = "first";
  ASSERT_EQ(-1, Answer(CreateTest(), 2, 1023));
  EXPECT_NE(nullptr, Created(1023));
  EXPECT_EQ(
      (std::vector<std::string>{"test:IAfterCreate", "first:IBeforeDestroy", "first:deleted", "test:IAfterCreate"}),
      journal);
  ExpectNoAnswer();
  EXPECT_EQ(1u, slots.Count());
}

TEST_F(SlotsServerTest, AfterADisconnectDeferredSlotsHoldTheirNumbersForASecond) {
  TestFactory::instance().defer = true;
  ASSERT_EQ(-1, Answer(CreateTest(), 1, 7));
  ASSERT_EQ(-1, Answer(CreateTest(), 2, 9));
  TestSlot* nine = Created(9);
  // Its answer waits when the controller goes.
  EXPECT_TRUE(controller.Send(Controller::Make(Destroy(), 3, 9)));
  ExpectNoAnswer();
  TestFactory::instance().defer = false;
  ASSERT_EQ(-1, Answer(CreateTest(), 4, 8));

  ASSERT_NO_FATAL_FAILURE(Disconnect());
  EXPECT_EQ(nullptr, slots.Find(8));
  EXPECT_EQ(2u, slots.OrphanCount());
  ASSERT_NO_FATAL_FAILURE(Connect());

  EXPECT_EQ(LGCP::ErrorCause::destroyInProgress, Answer(CreateTest(), 5, 7));
  EXPECT_EQ(LGCP::ErrorCause::destroyInProgress, Answer(Destroy(), 6, 7));
  // The old controller's destroy is not answered to the new one.
  nine->on_release();
  ExpectNoAnswer();
  EXPECT_EQ(1u, slots.OrphanCount());

  linktest::advance(clock, Slots::kOrphanMs - 1);
  EXPECT_EQ(LGCP::ErrorCause::destroyInProgress, Answer(CreateTest(), 7, 7));
  linktest::advance(clock, 1);
  EXPECT_EQ(0u, slots.OrphanCount());
  EXPECT_EQ(-1, Answer(CreateTest(), 8, 7));
  EXPECT_EQ(-1, Answer(CreateTest(), 9, 9));
  EXPECT_EQ(2u, TestFactory::instance().GetSlots().size());
  EXPECT_NE(std::string::npos, streams.log.text().find("slots: 07:test did not release in time, deleted"));
}

TEST_F(SlotsServerTest, RefusingHooksAndFactoriesHandTheirCause) {
  ASSERT_EQ(-1, Answer(CreateTest(), 1, 3));
  TestSlot* slot = Created(3);
  struct Case {
    bool ok;
    int refusal;
    int expected;
  };
  for (const Case& c : {Case{false, -1, LGCP::ErrorCause::unsupported},
                        Case{false, LGCP::ErrorCause::busError, LGCP::ErrorCause::busError},
                        Case{false, -1, LGCP::ErrorCause::unsupported}, Case{true, -1, -1}}) {
    slot->activateOk = c.ok;
    slot->refusal = c.refusal;
    EXPECT_EQ(c.expected, Answer(Activate(), 2, 3)) << c.refusal;
    slot->refusal = -1;
  }
  EXPECT_EQ(LGCP::ErrorCause::unsupported, Answer(Deactivate(), 3, 3));
  EXPECT_EQ(LGCP::ErrorCause::unsupported, Answer(UserData(std::vector<char>{1, 2}), 4, 3));
  EXPECT_EQ(LGCP::ErrorCause::slotNotExists, Answer(Activate(), 5, 4));

  TestFactory::instance().refusal = LGCP::ErrorCause::busError;
  EXPECT_EQ(LGCP::ErrorCause::busError, Answer(CreateTest(), 6, 4));
  TestFactory::instance().refusal = -1;
  // No cause left over.
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(Trunk(200, 0), 7, 4));
}

TEST_F(SlotsServerTest, QueryIsAnsweredThenReportedWithoutSlot) {
  TestFactory::instance().mccData = 3;
  const LGCP::Message answer = Call(Query(), 1, kNone);
  EXPECT_TRUE(Controller::IsSuccess(answer));
  // A command with a slot first: the report still carries none.
  EXPECT_EQ(LGCP::ErrorCause::slotNotExists, Answer(Destroy(), 2, 17));
  slots.UpdateHardwareResources();
  const std::vector<LGCP::Message> got = Signals();
  ASSERT_EQ(2u, got.size());
  for (const LGCP::Message& m : got) {
    EXPECT_EQ(kNone, Controller::SlotOf(m));
    EXPECT_EQ(kNone, Controller::SeqOf(m));
    const LGCP::Signal& s = m.get_pdu().get_signal();
    ASSERT_TRUE(s.query_isSelected());
    EXPECT_EQ(3, s.get_query().get_mcc_data().getValue());
    EXPECT_TRUE(bool(s.get_query().get_mux()));
    EXPECT_EQ(0, s.get_query().get_modem().getValue());
  }
  TestFactory::instance().mccData = 0;
  // With a slot number it is somebody else's.
  EXPECT_EQ(LGCP::ErrorCause::unexpectedMsgType, Answer(Query(), 3, 1));
}

TEST_F(SlotsServerTest, TrunkStatusOfOtherServicesReachesTheFactories) {
  TestFactory::instance().selfSignals.clear();
  LGCP::Signal s;
  s.select_trunkStatus();
  slots.OnSignal(s);
  s.select_activated();
  slots.OnSignal(s);
  EXPECT_EQ(std::vector<int>{11}, TestFactory::instance().selfSignals);
}

TEST_F(SlotsServerTest, SlotsPrintWithTheirNumber) {
  TestSlot fresh("fresh", nullptr);
  struct Case {
    unsigned n;
    const char* text;
  };
  for (const Case& c : {Case{5, "05:test"}, Case{0, "00:test"}, Case{1000, "1000:test"}, Case{99, "99:test"}}) {
    ASSERT_EQ(-1, Answer(CreateTest(), 1, c.n));
    std::ostringstream os;
    os << *Created(c.n) << ' ' << std::setw(3) << 7;
    EXPECT_EQ(std::string(c.text) + "   7", os.str());
  }
  std::ostringstream os;
  os << fresh;
  EXPECT_EQ("na:fresh", os.str());
}

// A slot without number sends nothing, but says so.
TEST_F(SlotsServerTest, ReporterOfAnUnnumberedSlotLogsAndSendsNothing) {
  TestSlot fresh("fresh", nullptr);
  fresh.OnActivated();
  fresh.OnChangeOutputStream(true);
  EXPECT_TRUE(Signals().empty());
  EXPECT_EQ(
      "slot na:fresh: signal activated without slot number, not sent\n"
      "slot na:fresh: signal transmitter without slot number, not sent\n",
      streams.err.text());
}

}  // namespace
