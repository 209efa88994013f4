// Connections between test slots: who does the hardware work, when the
// streams are asked for and released, and what a refusal or a hardware
// failure leaves behind.
#include <gtest/gtest.h>

#include <memory>

#include "slots/tests/slots_fixture.h"

namespace {

using slottest::TestSlot;
using Journal = std::vector<std::string>;

class ConnectTest : public ::testing::Test {
protected:
  std::unique_ptr<TestSlot> Make(const char* name, int priority = 0) {
    std::unique_ptr<TestSlot> s(new TestSlot(name, &journal));
    s->priority = priority;
    return s;
  }

  // The slots are not numbered: the stream signals are logged, not sent.
  linktest::Streams streams;
  Journal journal;
};

TEST_F(ConnectTest, HardwareSideFollowsThePriorities) {
  struct Case {
    int sourcePriority, receiverPriority;
    const char* connect;
    const char* disconnect;
  } cases[] = {
      {0, 0, "b:IHwConnectReceiver(a)", "a:IHwDisconnectTransmitter(b)"},
      {0, 1, "b:IHwConnectReceiver(a)", "b:IHwDisconnectReceiver(a)"},
      {1, 0, "a:IHwConnectTransmitter(b)", "a:IHwDisconnectTransmitter(b)"},
      {1, 1, "b:IHwConnectReceiver(a)", "a:IHwDisconnectTransmitter(b)"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<TestSlot> a = Make("a", c.sourcePriority), b = Make("b", c.receiverPriority);
    journal.clear();
    ASSERT_TRUE(Connect(*a, *b));
    EXPECT_EQ((Journal{"a:IOnOutputStream", "b:IOnInputStream", c.connect}), journal);
    EXPECT_EQ(a.get(), b->GetSource());
    EXPECT_EQ(std::vector<Slot*>{b.get()}, a->GetFedSlots());
    journal.clear();
    ASSERT_TRUE(Connect(*a, *b));
    EXPECT_TRUE(journal.empty());
    ASSERT_TRUE(Disconnect(*b));
    EXPECT_EQ((Journal{c.disconnect, "b:IOnInputRelease", "a:IOnOutputRelease"}), journal);
    EXPECT_EQ(nullptr, b->GetSource());
    journal.clear();
    EXPECT_TRUE(Disconnect(*b));
    EXPECT_TRUE(journal.empty());
  }
}

TEST_F(ConnectTest, OneSourceManyReceiversStartsTheOutputOnce) {
  std::unique_ptr<TestSlot> a = Make("a"), b = Make("b"), c = Make("c"), d = Make("d");
  ASSERT_TRUE(Connect(*a, *c));
  ASSERT_TRUE(Connect(*a, *b));
  ASSERT_TRUE(Connect(*a, *d));
  EXPECT_EQ((Journal{"a:IOnOutputStream", "c:IOnInputStream", "c:IHwConnectReceiver(a)", "b:IOnInputStream",
                     "b:IHwConnectReceiver(a)", "d:IOnInputStream", "d:IHwConnectReceiver(a)"}),
            journal);
  std::vector<Slot*> byIdentity = {b.get(), c.get(), d.get()};
  std::sort(byIdentity.begin(), byIdentity.end());
  EXPECT_EQ(byIdentity, a->GetFedSlots());
  EXPECT_TRUE(a->GetOutputStream());

  // Stopping the output takes every receiver off, in list order.
  journal.clear();
  a->OnChangeOutputStream(false);
  Journal expected;
  for (size_t i = 0; i < byIdentity.size(); ++i) {
    const std::string n = static_cast<TestSlot*>(byIdentity[i])->name;
    expected.push_back("a:IHwDisconnectTransmitter(" + n + ")");
    expected.push_back(n + ":IOnInputRelease");
  }
  expected.push_back("a:IOnOutputRelease");
  EXPECT_EQ(expected, journal);
  EXPECT_TRUE(a->GetFedSlots().empty());
  EXPECT_FALSE(a->GetOutputStream());
}

TEST_F(ConnectTest, MoveTakesTheOldLinkApartFirst) {
  std::unique_ptr<TestSlot> a = Make("a"), b = Make("b"), c = Make("c");
  ASSERT_TRUE(Connect(*a, *b));
  journal.clear();
  ASSERT_TRUE(Connect(*c, *b));
  EXPECT_EQ(
      (Journal{"c:IOnOutputStream", "a:IHwDisconnectTransmitter(b)", "b:IHwConnectReceiver(c)", "a:IOnOutputRelease"}),
      journal);
  EXPECT_EQ(c.get(), b->GetSource());
  EXPECT_TRUE(a->GetFedSlots().empty());
  EXPECT_TRUE(c->GetOutputStream());
}

TEST_F(ConnectTest, RefusedStreamsAndSelfConnection) {
  std::unique_ptr<TestSlot> a = Make("a"), b = Make("b");
  a->outputOk = false;
  EXPECT_FALSE(Connect(*a, *b));
  EXPECT_EQ((Journal{"a:IOnOutputStream"}), journal);

  // The receiver refuses: the output the connect started is taken back.
  a->outputOk = true;
  b->inputOk = false;
  journal.clear();
  EXPECT_FALSE(Connect(*a, *b));
  EXPECT_EQ((Journal{"a:IOnOutputStream", "b:IOnInputStream", "a:IOnOutputRelease"}), journal);
  EXPECT_FALSE(a->GetOutputStream());
  EXPECT_EQ(nullptr, b->GetSource());

  // An output that was up before stays up.
  a->OnChangeOutputStream(true);
  journal.clear();
  EXPECT_FALSE(Connect(*a, *b));
  EXPECT_EQ((Journal{"a:IOnOutputStream", "b:IOnInputStream", "a:IOnOutputRelease"}), journal);
  EXPECT_TRUE(a->GetOutputStream());

  journal.clear();
  EXPECT_FALSE(Connect(*a, *a));
  EXPECT_TRUE(journal.empty());
  const std::string err = streams.err.text();
  EXPECT_NE(std::string::npos, err.find("slot na:a don't have output stream to na:b\n")) << err;
  EXPECT_NE(std::string::npos, err.find("slot na:b don't have input stream from na:a\n")) << err;
}

TEST_F(ConnectTest, FailedHardwareConnectReleasesWhatItStarted) {
  std::unique_ptr<TestSlot> a = Make("a"), b = Make("b");
  b->hwConnect = false;
  EXPECT_FALSE(Connect(*a, *b));
  EXPECT_EQ((Journal{"a:IOnOutputStream", "b:IOnInputStream", "b:IHwConnectReceiver(a)", "b:IOnInputRelease",
                     "a:IOnOutputRelease"}),
            journal);
  EXPECT_EQ(nullptr, b->GetSource());
  EXPECT_FALSE(a->GetOutputStream());
}

TEST_F(ConnectTest, FailedMoveRestoresTheOldLink) {
  std::unique_ptr<TestSlot> a = Make("a"), b = Make("b", 1), c = Make("c");
  // The source connects: only c's link fails.
  a->priority = 2;
  c->priority = 2;
  ASSERT_TRUE(Connect(*a, *b));
  c->hwConnect = false;
  journal.clear();
  EXPECT_FALSE(Connect(*c, *b));
  EXPECT_EQ((Journal{"c:IOnOutputStream", "a:IHwDisconnectTransmitter(b)", "c:IHwConnectTransmitter(b)",
                     "a:IHwConnectTransmitter(b)", "c:IOnOutputRelease"}),
            journal);
  EXPECT_EQ(a.get(), b->GetSource());
  EXPECT_EQ(std::vector<Slot*>{b.get()}, a->GetFedSlots());
}

TEST_F(ConnectTest, FailedMoveThatCannotRestoreLeavesTheSlotsApart) {
  std::unique_ptr<TestSlot> a = Make("a"), b = Make("b"), c = Make("c");
  ASSERT_TRUE(Connect(*a, *b));
  b->hwConnect = false;
  journal.clear();
  EXPECT_FALSE(Connect(*c, *b));
  EXPECT_EQ((Journal{"c:IOnOutputStream", "a:IHwDisconnectTransmitter(b)", "b:IHwConnectReceiver(c)",
                     "b:IHwConnectReceiver(a)", "b:IOnInputRelease", "a:IOnOutputRelease", "c:IOnOutputRelease"}),
            journal);
  EXPECT_EQ(nullptr, b->GetSource());
  EXPECT_TRUE(a->GetFedSlots().empty());
  EXPECT_TRUE(c->GetFedSlots().empty());
}

TEST_F(ConnectTest, InputGoingInactiveLeavesTheSource) {
  std::unique_ptr<TestSlot> a = Make("a"), b = Make("b");
  ASSERT_TRUE(Connect(*a, *b));
  EXPECT_TRUE(b->GetInputStream());
  journal.clear();
  b->OnChangeInputStream(false);
  EXPECT_EQ((Journal{"a:IHwDisconnectTransmitter(b)", "b:IOnInputRelease", "a:IOnOutputRelease"}), journal);
  EXPECT_FALSE(b->GetInputStream());
  EXPECT_EQ(nullptr, b->GetSource());
}

}  // namespace
