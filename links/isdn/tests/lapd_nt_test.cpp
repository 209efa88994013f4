// Basic-rate D channels: the user side's TEI management against the network
// side's point-to-multipoint link, over a fake bus with the test's clock.
#include "links/isdn/lapd_nt.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "links/isdn/tests/bri_util.h"

namespace {

using britest::Bus;
using britest::L3;
using britest::Strings;
using HdlcTesting::Bytes;

class BriTest : public ::testing::Test {
protected:
  BriTest() : log(std::clog) {}
  looptest::Capture log;
};

// ---------------------------------------------------------------- assignment

TEST_F(BriTest, FreshBasicRateTerminalHasNoTeiAndAsksBeforeEstablishing) {
  Bus b(1);
  EXPECT_EQ(0u, b.link(0).full_state().state);
  EXPECT_EQ(0u, b.link(0).full_state().own_tei);
  b.Up();
  // Activation checks every TEI at once.
  EXPECT_EQ((std::vector<Bytes>{{0xFE, 0xFF, 0x03, 0x0F, 0x00, 0x00, 0x04, 0xFF}}), b.Frames(-1));
  EXPECT_EQ((Strings{"up"}), b.net.events);
  b.Clear();

  b.Attach(0);
  uint16_t const ri = b.link(0).tei_request_ri();
  uint8_t const lo = uint8_t(ri & 0xFF), hi = uint8_t(ri >> 8);
  std::vector<Bytes> const net = b.Frames(-1);
  ASSERT_GE(net.size(), 2u);
  // Identity assigned with the request's Ri in the same octet order, then
  // SABME to the new TEI 64.
  EXPECT_EQ((Bytes{0xFE, 0xFF, 0x03, 0x0F, lo, hi, 0x02, 0x81}), net[0]);
  EXPECT_EQ((Bytes{0x02, 0x81, 0x7F}), net[1]);
  EXPECT_EQ((Bytes{0xFC, 0xFF, 0x03, 0x0F, lo, hi, 0x01, 0xFF}), b.Frames(0).at(0));
  EXPECT_EQ(6u, b.link(0).full_state().state);
  EXPECT_EQ(64u, b.link(0).full_state().own_tei);
  EXPECT_EQ((Strings{"up"}), b.user(0).events);
  EXPECT_TRUE(b.nt_user(0).is_assigned());
  EXPECT_EQ(64u, b.nt_user(0).get_Tei());
}

TEST_F(BriTest, EightTerminalsGetTeisFrom64AndTheNinthIsDeniedUntilT202Gives) {
  Bus b(9);
  b.Up();
  for (unsigned i = 0; i < 8; ++i) {
    b.Attach(i);
    EXPECT_EQ(64u + i, b.link(i).full_state().own_tei) << i;
    EXPECT_EQ(6u, b.link(i).full_state().state) << i;
  }
  b.Clear();
  b.Attach(8);
  b.Run(ISDN::Q921::t202_ms * 5 + 100);
  unsigned requests = 0, denied = 0;
  for (auto const& f : b.Frames(8)) requests += f.size() == 8 && f[6] == 0x01;
  for (auto const& f : b.Frames(-1))
    if (f.size() == 8 && f[0] == 0xFE && f[6] == 0x03) {
      ++denied;
      EXPECT_EQ(0xFF, f[7]);
    }
  EXPECT_EQ(5u, requests);
  EXPECT_EQ(5u, denied);
  Strings const& ev = b.user(8).events;
  ASSERT_EQ(6u, ev.size());
  for (unsigned i = 0; i < 5; ++i) EXPECT_EQ("status: Tei Assign - Tei denied", ev[i]);
  EXPECT_EQ("down: link error (T202 expired N202 times)", ev[5]);
  EXPECT_EQ(0u, b.link(8).full_state().state);
  EXPECT_EQ(5u, b.link(8).statistics().t202_expiries);
}

TEST_F(BriTest, RequestsTwoSecondsApart) {
  Bus b(1);
  b.bus.network().bind(nullptr);  // nobody answers
  b.Attach(0);
  for (unsigned i = 1; i <= 4; ++i) {
    b.Run(ISDN::Q921::t202_ms - 10);
    EXPECT_EQ(i, b.Frames(0).size());
    b.Run(10);
    EXPECT_EQ(i + 1, b.Frames(0).size());
  }
  std::set<unsigned> ris;
  for (auto const& f : b.Frames(0)) ris.insert(f[4] | f[5] << 8);
  EXPECT_EQ(5u, ris.size()) << "each request draws a new Ri";
}

// Identity assigned messages the terminal waiting with Ri must not take.
TEST_F(BriTest, IdentityAssignedIsTakenOnlyWithTheKeptRiAndAProperAi) {
  struct Case {
    char const* what;
    int ri_delta;
    uint8_t ai_octet;
  } const cases[] = {
      {"Ai 127", 0, 0xFF},
      {"E bit clear", 0, 0x8C},
      {"other Ri", 1, 0x8D},
  };
  for (auto const& c : cases) {
    Bus b(1);
    b.bus.network().bind(nullptr);
    b.Attach(0);
    uint16_t const ri = uint16_t(b.link(0).tei_request_ri() + c.ri_delta);
    b.bus.terminal(0).inject({0xFE, 0xFF, 0x03, 0x0F, uint8_t(ri & 0xFF), uint8_t(ri >> 8), 0x02, c.ai_octet});
    b.Pump();
    EXPECT_EQ(2u, b.link(0).full_state().state) << c.what;
    EXPECT_TRUE(b.link(0).full_state().t202_running) << c.what;
    EXPECT_EQ(1u, b.Frames(0).size()) << c.what;
  }
  // The proper one: TEI 70, SABME with it, no timer misuse reported.
  Bus b(1);
  b.bus.network().bind(nullptr);
  b.Attach(0);
  uint16_t const ri = b.link(0).tei_request_ri();
  b.bus.terminal(0).inject({0xFE, 0xFF, 0x03, 0x0F, uint8_t(ri & 0xFF), uint8_t(ri >> 8), 0x02, 0x8D});
  b.Pump();
  EXPECT_EQ(4u, b.link(0).full_state().state);
  EXPECT_EQ(70u, b.link(0).full_state().own_tei);
  EXPECT_EQ((Bytes{0x00, 0x8D, 0x7F}), b.Frames(0).back());
  EXPECT_TRUE(b.user(0).events.empty()) << b.user(0).events.front();
}

TEST_F(BriTest, ReferenceNumbersIgnoreTheCLibraryGenerator) {
  ISDN::LAPD::seed_ri(7);
  uint16_t const a = ISDN::LAPD::next_ri(), c = ISDN::LAPD::next_ri();
  ISDN::LAPD::seed_ri(7);
  std::srand(1);
  EXPECT_EQ(a, ISDN::LAPD::next_ri());
  std::srand(1);
  (void)std::rand();
  EXPECT_EQ(c, ISDN::LAPD::next_ri());

  // The link draws from it: a terminal reseeding rand() between assignments
  // still asks with the next numbers of its own sequence.
  Bus b(1);
  b.Up();
  ISDN::LAPD::seed_ri(11);
  uint16_t const first = ISDN::LAPD::next_ri(), second = ISDN::LAPD::next_ri();
  ISDN::LAPD::seed_ri(11);
  std::srand(5);
  b.Attach(0);
  EXPECT_EQ(first, b.link(0).tei_request_ri());
  std::srand(5);
  b.bus.terminal(0).inject({0xFE, 0xFF, 0x03, 0x0F, 0x00, 0x00, 0x06, 0xFF});
  b.Pump();
  EXPECT_EQ(second, b.link(0).tei_request_ri());
}

TEST_F(BriTest, RemoveReleasesAndTheTerminalAsksAgain) {
  Bus b(1);
  b.Up();
  b.Attach(0);
  b.user(0).send("queued");
  EXPECT_EQ(1u, b.link(0).queued_ack());
  b.Clear();
  b.bus.terminal(0).inject({0xFE, 0xFF, 0x03, 0x0F, 0x00, 0x00, 0x06, 0xFF});
  b.Pump();
  EXPECT_EQ("down: error (MDL-REMOVE received)", b.user(0).events.at(0));
  // Asked again, got its TEI, and the network side's SABME brought it up.
  EXPECT_EQ("up", b.user(0).events.at(1));
  EXPECT_EQ(6u, b.link(0).full_state().state);
  // The network side did not remove TEI 64 itself, so it is still taken.
  EXPECT_EQ(65u, b.link(0).full_state().own_tei);
  EXPECT_EQ(0u, b.link(0).queued_ack());
  Strings const l = b.Log();
  ASSERT_GE(l.size(), 3u);
  EXPECT_EQ("0 tei request ri=" + std::to_string(b.link(0).tei_request_ri()) + " ai=127", l[0]);
  EXPECT_EQ("n tei assigned ri=" + std::to_string(b.link(0).tei_request_ri()) + " ai=65", l[1]);
  EXPECT_EQ("n 65 SABME cmd P", l[2]);
}

TEST_F(BriTest, DataBeforeEstablishmentAsksForATeiAndGoesOutOnceUp) {
  Bus b(1);
  b.Up();
  b.user(0).send("early");
  EXPECT_EQ(1u, b.link(0).full_state().state);
  EXPECT_EQ(1u, b.Frames(0).size()) << "the identity request";
  b.Pump();
  // Assigned, then established by the network side's SABME; the message
  // that waited goes out then.
  EXPECT_EQ(64u, b.link(0).full_state().own_tei);
  EXPECT_EQ(6u, b.link(0).full_state().state);
  EXPECT_EQ(0u, b.link(0).queued_out());
  std::string const early = "early";
  EXPECT_EQ((std::vector<Bytes>{Bytes(early.begin(), early.end())}), b.net.received);
}

// ------------------------------------------------------ check, verify, remove

TEST_F(BriTest, PeriodicCheckIsAnsweredAndTheTeiKept) {
  Bus b(2);
  b.Up();
  b.Attach(0);
  b.Attach(1);
  b.Clear();
  b.Run(ISDN::LAPD_NT::check_period_ms);
  Strings const l = b.Log();
  auto has = [&](std::string const& s) {
    for (auto const& x : l)
      if (x == s) return true;
    return false;
  };
  EXPECT_TRUE(has("n tei check ri=0 ai=127"));
  EXPECT_TRUE(has("0 tei answer ri=" + std::to_string(b.link(0).tei_request_ri()) + " ai=64"));
  EXPECT_TRUE(has("1 tei answer ri=" + std::to_string(b.link(1).tei_request_ri()) + " ai=65"));
  b.Run(ISDN::LAPD_NT_user::check_ms);
  for (unsigned i = 0; i < 2; ++i) {
    EXPECT_TRUE(b.nt_user(i).is_assigned());
    EXPECT_FALSE(b.nt_user(i).is_check());
    EXPECT_EQ(b.link(i).tei_request_ri(), b.nt_user(i).ri());
  }
}

TEST_F(BriTest, VerifyChecksAtOnceAndASilentTerminalLosesItsTeiAfterTwoSeconds) {
  Bus b(2);
  b.Up();
  b.Attach(0);
  b.Attach(1);
  b.Clear();
  b.bus.terminal(1).mute(true);
  b.bus.network().inject({0xFC, 0xFF, 0x03, 0x0F, 0x00, 0x00, 0x07, 0xFF});
  b.Pump();
  EXPECT_EQ("n tei check ri=0 ai=127", b.Log().at(0));
  EXPECT_TRUE(b.nt_user(1).is_check());
  EXPECT_FALSE(b.nt_user(0).is_check());
  b.Run(ISDN::LAPD_NT_user::check_ms - 10);
  EXPECT_TRUE(b.nt_user(1).is_assigned());
  b.Run(10);
  EXPECT_FALSE(b.nt_user(1).is_assigned());
  EXPECT_TRUE(b.nt_user(0).is_assigned());
}

TEST_F(BriTest, TwoTerminalsOnOneTeiAreRemovedAndGetDistinctTeis) {
  ISDN::LAPD::seed_ri(3);
  Bus b(2);
  b.Up();
  b.Attach(0);
  ASSERT_NE(0u, b.link(0).tei_request_ri());
  // The second one was given TEI 64 by hand.
  b.link(1).mdl_assign(64);
  EXPECT_EQ(3u, b.link(1).full_state().state);
  b.Clear();
  b.bus.network().inject({0xFC, 0xFF, 0x03, 0x0F, 0x00, 0x00, 0x07, 0xFF});
  b.Pump();
  Strings const l = b.Log();
  unsigned removes = 0;
  for (auto const& x : l) removes += x == "n tei remove ri=0 ai=64";
  EXPECT_EQ(2u, removes);
  std::vector<Bytes> const answers0 = b.Frames(0), answers1 = b.Frames(1);
  ASSERT_FALSE(answers0.empty());
  ASSERT_FALSE(answers1.empty());
  EXPECT_NE(answers0[0], answers1[0]) << "the two answers differ in Ri";
  b.Run(100);
  std::set<unsigned> teis;
  for (unsigned i = 0; i < 2; ++i) {
    EXPECT_GE(b.link(i).full_state().state, 3u) << i;
    teis.insert(b.link(i).full_state().own_tei);
  }
  EXPECT_EQ((std::set<unsigned>{64, 65}), teis);
}

TEST_F(BriTest, FrameFromAnUnknownTeiClaimsAUserOrDrawsTwoRemoves) {
  {
    Bus b(1);
    b.Up();
    b.Clear();
    b.bus.network().inject({0x00, 0xB5, 0x01, 0x01});
    b.Pump();
    ASSERT_TRUE(b.nt_user(0).is_assigned());
    EXPECT_EQ(90u, b.nt_user(0).get_Tei());
    // Claimed and assigned, then the poll it carried is answered.
    EXPECT_EQ((Strings{"n 90 SABME cmd P", "n 90 RR 0 rsp F"}), b.Log());
  }
  Bus b(8);
  b.Up();
  for (unsigned i = 0; i < 8; ++i) b.Attach(i);
  b.Clear();
  b.bus.network().inject({0x00, 0xB5, 0x01, 0x01});
  b.Pump();
  EXPECT_EQ((Strings{"n tei remove ri=0 ai=90", "n tei remove ri=0 ai=90"}), b.Log());
}

// ------------------------------------------------------------------- traffic

class BriTraffic : public BriTest {
protected:
  BriTraffic() : b(3) {
    b.Up();
    for (unsigned i = 0; i < 3; ++i) b.Attach(i);
    b.Clear();
  }
  // Terminal i sends a message; the network side passes it up.
  void FromTerminal(unsigned i, Bytes const& m) {
    b.user(i).send(std::string(m.begin(), m.end()));
    b.Pump();
  }
  Bus b;
};

TEST_F(BriTraffic, SetupGoesToEveryTerminalAsUiOnTheGroupTei) {
  Bytes const setup = L3(0x05, britest::SETUP);
  b.net.send(setup);
  b.Pump();
  Bytes frame{0x02, 0xFF, 0x03};
  frame.insert(frame.end(), setup.begin(), setup.end());
  EXPECT_EQ((std::vector<Bytes>{frame}), b.Frames(-1));
  for (unsigned i = 0; i < 3; ++i) EXPECT_EQ((Strings{std::string(setup.begin(), setup.end())}), b.user(i).received);
}

TEST_F(BriTraffic, MessagesFollowTheirCalls) {
  // Terminal 0 places calls 1 and 2; terminal 1 answers the network's call 1.
  FromTerminal(0, L3(0x01, britest::SETUP, 1));
  FromTerminal(0, L3(0x02, britest::SETUP, 2));
  b.net.send(L3(0x01, britest::SETUP, 3));
  b.Pump();
  FromTerminal(1, L3(0x81, britest::CONNECT, 4));
  ASSERT_EQ(3u, b.net.received.size());
  for (unsigned i = 0; i < 3; ++i) b.user(i).received.clear();
  b.bus.clear_log();

  b.net.send(L3(0x81, britest::CONNECT, 5));     // terminal 0's call 1
  b.net.send(L3(0x82, britest::ALERTING, 6));    // terminal 0's call 2
  b.net.send(L3(0x01, britest::DISCONNECT, 7));  // the network's call 1: terminal 1
  b.Pump();
  auto msg = [](Bytes const& m) { return std::string(m.begin(), m.end()); };
  EXPECT_EQ((Strings{msg(L3(0x81, britest::CONNECT, 5)), msg(L3(0x82, britest::ALERTING, 6))}), b.user(0).received);
  EXPECT_EQ((Strings{msg(L3(0x01, britest::DISCONNECT, 7))}), b.user(1).received);
  EXPECT_TRUE(b.user(2).received.empty());
  EXPECT_EQ(2u, b.nt_user(0).calls());
  EXPECT_EQ(1u, b.nt_user(1).calls());
}

TEST_F(BriTraffic, ReleaseCompleteForgetsTheCallAndAMessageForNoCallIsLogged) {
  FromTerminal(0, L3(0x03, britest::SETUP));
  FromTerminal(0, L3(0x03, britest::RELEASE_COMPLETE));
  EXPECT_EQ(0u, b.nt_user(0).calls());
  b.bus.clear_log();
  b.net.send(L3(0x83, britest::CONNECT));
  b.Pump();
  EXPECT_TRUE(b.Log().empty());
  EXPECT_NE(std::string::npos,
            log.text().find("LAPD(NT BRI): no terminal holds call reference 0x03 (flag 1), message type 0x07"))
      << log.text();
}

TEST_F(BriTraffic, WithNothingOutstandingTheTimerPollsAndThenGivesUp) {
  FromTerminal(0, L3(0x01, britest::SETUP));
  b.net.send(L3(0x81, britest::CONNECT));
  b.Pump();
  ASSERT_EQ(b.nt_user(0).vs(), b.nt_user(0).va());
  b.bus.clear_log();
  b.bus.terminal(0).mute(true);
  b.Run(ISDN::Q921::t203_ms + 3 * ISDN::Q921::t200_ms);
  Strings polls;
  for (auto const& x : b.Log())
    if (x.rfind("n 64 ", 0) == 0) polls.push_back(x);
  EXPECT_EQ((Strings{"n 64 RR 1 cmd P", "n 64 RR 1 cmd P", "n 64 RR 1 cmd P", "n 64 RR 1 cmd P"}), polls);
  EXPECT_TRUE(b.nt_user(0).is_assigned());
  b.Run(ISDN::Q921::t200_ms);
  EXPECT_FALSE(b.nt_user(0).is_assigned());
}

TEST_F(BriTraffic, AnUnansweredIFrameGoesAgainWithTheCurrentNr) {
  FromTerminal(0, L3(0x01, britest::SETUP));
  b.bus.terminal(0).drop_in(1);
  b.net.send(L3(0x81, britest::CONNECT));
  b.Pump();
  EXPECT_EQ(1u, b.nt_user(0).outstanding());
  // The terminal's next message moves V(R) before the retransmission.
  FromTerminal(0, L3(0x01, britest::ALERTING));
  b.bus.clear_log();
  b.Run(ISDN::Q921::t200_ms);
  Strings iframes;
  for (auto const& x : b.Log())
    if (x.rfind("n 64 I ", 0) == 0) iframes.push_back(x);
  EXPECT_EQ((Strings{"n 64 I 0/2 cmd P"}), iframes);
  EXPECT_EQ(0u, b.nt_user(0).outstanding());
  EXPECT_EQ(1u, b.user(0).received.size()) << "the CONNECT arrived once";
}

TEST_F(BriTraffic, RejectAcknowledgesUpToNrAndRetransmitsFromItAcrossTheWrap) {
  FromTerminal(0, L3(0x01, britest::SETUP));
  for (unsigned i = 0; i < 126; ++i) {
    b.net.send(L3(0x81, britest::ALERTING, uint8_t(i)));
    b.Pump();
  }
  ASSERT_EQ(126u, b.nt_user(0).vs());
  ASSERT_EQ(126u, b.nt_user(0).va());
  b.user(0).received.clear();
  b.bus.terminal(0).drop_in(3);  // N(S) 0
  b.bus.clear_log();
  for (unsigned i = 0; i < 4; ++i) b.net.send(L3(0x81, britest::CONNECT, uint8_t(i)));
  b.Pump();
  Strings const l = b.Log();
  Strings iframes, rej;
  for (auto const& x : l) {
    if (x.rfind("n 64 I ", 0) == 0) iframes.push_back(x);
    if (x.rfind("0 64 REJ", 0) == 0) rej.push_back(x);
  }
  EXPECT_EQ((Strings{"0 64 REJ 0 rsp F"}), rej);
  ASSERT_GE(iframes.size(), 2u);
  EXPECT_EQ("n 64 I 0/1 cmd P", iframes[iframes.size() - 2]);
  EXPECT_EQ("n 64 I 1/1 cmd P", iframes.back());
  Strings want;
  for (unsigned i = 0; i < 4; ++i) {
    Bytes const m = L3(0x81, britest::CONNECT, uint8_t(i));
    want.emplace_back(m.begin(), m.end());
  }
  EXPECT_EQ(want, b.user(0).received);
  EXPECT_EQ(2u, b.nt_user(0).vs());
  EXPECT_EQ(2u, b.nt_user(0).va());
}

TEST_F(BriTraffic, WithAcknowledgementsHeldBackTheEighthMessageWaits) {
  FromTerminal(0, L3(0x01, britest::SETUP));
  b.bus.terminal(0).mute(true);
  for (unsigned i = 0; i < 8; ++i) b.net.send(L3(0x81, britest::CONNECT, uint8_t(i)));
  b.Pump();
  EXPECT_EQ(7u, b.nt_user(0).outstanding());
  EXPECT_EQ(1u, b.nt_user(0).waiting());
  b.bus.terminal(0).mute(false);
  b.Run(ISDN::Q921::t200_ms);
  EXPECT_EQ(0u, b.nt_user(0).outstanding());
  EXPECT_EQ(0u, b.nt_user(0).waiting());
  EXPECT_EQ(8u, b.user(0).received.size());
}

TEST_F(BriTraffic, ReceiverNotReadyHoldsMessagesUntilReady) {
  FromTerminal(0, L3(0x01, britest::SETUP));
  unsigned const nr = b.nt_user(0).vs();
  b.bus.network().inject({0x00, 0x81, 0x05, uint8_t(nr << 1)});
  b.Pump();
  EXPECT_TRUE(b.nt_user(0).is_busy());
  b.net.send(L3(0x81, britest::CONNECT));
  b.net.send(L3(0x81, britest::CONNECT, 1));
  b.Pump();
  EXPECT_EQ(2u, b.nt_user(0).waiting());
  EXPECT_TRUE(b.user(0).received.empty());
  b.bus.network().inject({0x00, 0x81, 0x01, uint8_t(nr << 1)});
  b.Pump();
  EXPECT_FALSE(b.nt_user(0).is_busy());
  EXPECT_EQ(0u, b.nt_user(0).waiting());
  EXPECT_EQ(2u, b.user(0).received.size());
}

TEST_F(BriTraffic, TerminalMessagesGoUpOnceInOrder) {
  Strings sent;
  for (unsigned i = 0; i < 20; ++i) {
    Bytes const m = L3(uint8_t(i % 3 + 1), britest::SETUP, uint8_t(i));
    b.user(i % 3).send(std::string(m.begin(), m.end()));
  }
  b.Run(5 * ISDN::Q921::t200_ms);
  EXPECT_EQ(20u, b.net.received.size());
  for (unsigned i = 0; i < 3; ++i) EXPECT_EQ(0u, b.link(i).queued_ack()) << i;
}

}  // namespace

namespace {

std::vector<Packet> Hoard() {
  std::vector<Packet> hoard;
  for (;;) {
    Packet p;
    if (!p.try_reserve_head(0)) break;
    hoard.push_back(p);
  }
  return hoard;
}

TEST_F(BriTraffic, WithAnEmptyPoolTheFrameIsNotSentAndGoesAgainLater) {
  FromTerminal(0, L3(0x01, britest::SETUP));
  b.bus.clear_log();
  std::vector<Packet> hoard = Hoard();
  ASSERT_FALSE(hoard.empty());
  Packet msg = hoard.back();
  hoard.pop_back();
  for (uint8_t o : L3(0x81, britest::CONNECT)) msg.put8(o);
  std::string const before = log.text();
  b.net.message(msg);
  EXPECT_TRUE(b.Log().empty());
  EXPECT_EQ(1u, b.nt_user(0).outstanding());
  EXPECT_NE(std::string::npos, log.text().find("LAPD(NT BRI): no packet buffer: frame not sent", before.size()));
  hoard.clear();
  msg.clear();
  b.Run(ISDN::Q921::t200_ms);
  EXPECT_EQ(1u, b.user(0).received.size());
  EXPECT_EQ(0u, b.nt_user(0).outstanding());
}

TEST_F(BriTest, WithAnEmptyPoolTheIdentityRequestWaitsForT202) {
  Bus b(1);
  b.Up();
  std::vector<Packet> hoard = Hoard();
  b.Attach(0);
  EXPECT_TRUE(b.Frames(0).empty());
  EXPECT_EQ(2u, b.link(0).full_state().state);
  hoard.clear();
  b.Run(ISDN::Q921::t202_ms);
  EXPECT_EQ(6u, b.link(0).full_state().state);
  EXPECT_EQ(64u, b.link(0).full_state().own_tei);
}

}  // namespace
