// The TEI management of one LAPD link, led by crafted frames from its peer.
#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "foundation/multiplexer.h"
#include "foundation/tests/loop_test_util.h"
#include "hardware/testing/fake_hdlc.h"
#include "links/isdn/lapd.h"
#include "links/isdn/tests/lapd_util.h"

namespace {

using HdlcTesting::Bytes;
using lapdtest::Slot;
using Strings = std::vector<std::string>;

Bytes Tei(uint8_t first, uint16_t ri, uint8_t type, uint8_t ai_octet) {
  return Bytes{first, 0xFF, 0x03, 0x0F, uint8_t(ri & 0xFF), uint8_t(ri >> 8), type, ai_octet};
}
// From the network side: C/R 1.
Bytes FromNet(uint16_t ri, uint8_t type, unsigned ai) { return Tei(0xFE, ri, type, uint8_t(ai << 1 | 1)); }

class LapdTeiTest : public ::testing::Test {
protected:
  explicit LapdTeiTest(ISDN::Side::type side = ISDN::Side::user, bool bri = true)
      : log(std::clog), slot(side, link.a(), transcript) {
    if (bri) slot.link->change_to_bri();
    link.a().bind(slot.link);
    link.a().open();
    Pump();
  }
  void Pump() {
    while (link.step()) {
    }
  }
  void In(Bytes const& f) {
    link.a().inject(f);
    Pump();
  }
  void Run(unsigned ms) {
    for (unsigned t = 0; t < ms; t += 10) {
      clock.advance(10);
      multiplexer.timers_schedule();
      Pump();
    }
  }
  std::vector<Bytes> const& Sent() { return link.a_to_b().sent(); }
  ISDN::LAPDFullState const& St() { return slot.link->full_state(); }
  // Assigned TEI 66 and established.
  void Up() {
    slot.activate();
    uint16_t const ri = slot.link->tei_request_ri();
    In(FromNet(ri, 2, 66));
    In({0x00, 0x85, 0x73});  // UA F
    ASSERT_EQ(6u, St().state);
    link.a_to_b().clear_record();
    slot.events.clear();
  }

  looptest::CachedClock clock;
  looptest::Capture log;
  HdlcTesting::FakeLink link;
  Strings transcript;
  Slot slot;
};

TEST_F(LapdTeiTest, EstablishmentWaitsForTheTeiAndFollowsIt) {
  EXPECT_EQ(0u, St().state);
  slot.activate();
  EXPECT_EQ(2u, St().state);
  EXPECT_TRUE(St().t202_running);
  uint16_t const ri = slot.link->tei_request_ri();
  ASSERT_EQ(1u, Sent().size());
  EXPECT_EQ(Tei(0xFC, ri, 1, 0xFF), Sent()[0]);
  In(FromNet(ri, 2, 66));
  EXPECT_EQ(4u, St().state);
  EXPECT_EQ(66u, St().own_tei);
  EXPECT_FALSE(St().t202_running);
  EXPECT_TRUE(St().t200_running);
  EXPECT_EQ((Bytes{0x00, 0x85, 0x7F}), Sent().back());
  In({0x00, 0x85, 0x73});
  EXPECT_EQ(6u, St().state);
  EXPECT_EQ((Strings{"up"}), slot.events);
}

TEST_F(LapdTeiTest, CheckRequestIsAnsweredForTheGroupOrTheOwnTeiOnly) {
  Up();
  uint16_t const ri = slot.link->tei_request_ri();
  struct Case {
    unsigned ai;
    bool answered;
  } const cases[] = {{127, true}, {66, true}, {65, false}, {0, false}};
  for (auto const& c : cases) {
    link.a_to_b().clear_record();
    In(FromNet(0, 4, c.ai));
    if (c.answered) {
      ASSERT_EQ(1u, Sent().size()) << c.ai;
      EXPECT_EQ(Tei(0xFC, ri, 5, 0x85), Sent()[0]) << c.ai;
    } else {
      EXPECT_TRUE(Sent().empty()) << c.ai;
    }
    EXPECT_EQ(6u, St().state);
  }
}

TEST_F(LapdTeiTest, CheckRequestWithoutATeiIsNotAnswered) {
  slot.activate();
  link.a_to_b().clear_record();
  In(FromNet(0, 4, 127));
  EXPECT_TRUE(Sent().empty());
}

TEST_F(LapdTeiTest, RemoveInDataTransferReleasesAndAsksAgain) {
  Up();
  slot.send("lost with the TEI");
  In(FromNet(0, 6, 127));
  EXPECT_EQ((Strings{"down: error (MDL-REMOVE received)"}), slot.events);
  EXPECT_EQ(1u, St().state);
  EXPECT_EQ(0u, slot.link->queued_ack() + slot.link->queued_out());
  ASSERT_FALSE(Sent().empty());
  EXPECT_EQ(Tei(0xFC, slot.link->tei_request_ri(), 1, 0xFF), Sent().back());
  // The second of the pair finds no TEI to remove: no second request.
  std::size_t const n = Sent().size();
  In(FromNet(0, 6, 127));
  EXPECT_EQ(n, Sent().size());
}

TEST_F(LapdTeiTest, RemoveForAnotherTeiIsIgnored) {
  Up();
  In(FromNet(0, 6, 67));
  EXPECT_EQ(6u, St().state);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(LapdTeiTest, DeniedWithAnotherRiIsIgnoredAndWithTheKeptOneReported) {
  slot.activate();
  uint16_t const ri = slot.link->tei_request_ri();
  In(FromNet(uint16_t(ri ^ 1), 3, 127));
  EXPECT_TRUE(slot.events.empty());
  In(FromNet(ri, 3, 70));
  EXPECT_EQ((Strings{"status: Tei Assign - Tei denied"}), slot.events);
  EXPECT_NE(std::string::npos, log.text().find("ASP returned: TEI 70 denied"));
  EXPECT_TRUE(St().t202_running);
}

TEST_F(LapdTeiTest, UnitDataGoesUpAndStartsTheEstablishmentOfAnIdleLink) {
  slot.activate();
  In(FromNet(slot.link->tei_request_ri(), 2, 66));
  In({0x00, 0x85, 0x1F});  // DM F: back to 3
  ASSERT_EQ(3u, St().state);
  link.a_to_b().clear_record();
  In({0x02, 0xFF, 0x03, 0x08, 0x01, 0x01, 0x05});  // SETUP on the group TEI
  EXPECT_EQ((Strings{std::string{0x08, 0x01, 0x01, 0x05}}), slot.received);
  EXPECT_EQ(4u, St().state);
  EXPECT_EQ((Bytes{0x00, 0x85, 0x7F}), Sent().at(0));
}

TEST_F(LapdTeiTest, FramesForOtherTeisAreIgnored) {
  Up();
  In({0x02, 0x87, 0x01, 0x01});  // RR poll to TEI 67
  EXPECT_TRUE(Sent().empty());
  In({0x02, 0x85, 0x01, 0x01});  // to TEI 66
  EXPECT_EQ(1u, Sent().size());
}

TEST_F(LapdTeiTest, WithoutATeiOnlyGroupFramesCount) {
  // TEI 0, the one a link starts with, is nobody's on a basic-rate bus.
  In({0x02, 0x01, 0x7F});
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(0u, St().state);
}

class PrimaryRateTeiTest : public LapdTeiTest {
protected:
  PrimaryRateTeiTest() : LapdTeiTest(ISDN::Side::user, false) {}
};

TEST_F(PrimaryRateTeiTest, UiFramesOfAnyKindAreIgnoredAndNoTeiIsAskedFor) {
  EXPECT_EQ(3u, St().state);
  for (Bytes const& f :
       {FromNet(0, 4, 127), FromNet(0, 6, 127), FromNet(0, 2, 64), Bytes{0x02, 0xFF, 0x03, 0x08, 0x01, 0x01, 0x05}}) {
    In(f);
    EXPECT_EQ(3u, St().state);
  }
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(slot.received.empty());
  slot.link->BeginTeiAssignProcedure();
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(3u, St().state);
}

class NetworkBriTest : public LapdTeiTest {
protected:
  NetworkBriTest() : LapdTeiTest(ISDN::Side::network, true) {}
};

TEST_F(NetworkBriTest, NetworkSideKeepsItsTeiAndAnswersChecks) {
  EXPECT_EQ(3u, St().state);
  slot.link->BeginTeiAssignProcedure();
  EXPECT_TRUE(Sent().empty());
  // From the user side now: C/R 0.
  In(Tei(0xFC, 0, 4, 0xFF));
  ASSERT_EQ(1u, Sent().size());
  EXPECT_EQ(Tei(0xFE, 0, 5, 0x01), Sent()[0]);
}

TEST(LapdTeiOrder, SideSetAfterTheBasicRateFlagAsTheSlotsDo) {
  looptest::Capture quiet(std::clog);
  ISDN::LAPD user(ISDN::Side::user, 0), net(ISDN::Side::user, 0);
  user.change_to_bri();
  user.set_side(ISDN::Side::user);
  net.change_to_bri();
  net.set_side(ISDN::Side::network);
  EXPECT_EQ(0u, user.full_state().state);
  EXPECT_EQ(3u, net.full_state().state);
}

}  // namespace
