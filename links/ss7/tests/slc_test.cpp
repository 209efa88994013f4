// Signalling link control against a peer, or against units the test
// crafts, over the fake channel pair with the clock in the test's hand.
#include "links/ss7/slc.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "foundation/multiplexer.h"
#include "foundation/tests/loop_test_util.h"
#include "hardware/testing/fake_hdlc.h"
#include "links/ss7/tests/slc_test_util.h"

namespace {

using looptest::Capture;
using ss7test::Bytes;
using ss7test::Lssu;
using ss7test::Msu;
using ss7test::Owner;
using ss7test::Render;
using ss7test::Unit;
using Strings = std::vector<std::string>;

enum { kIdle = 0, kNotAligned = 1, kAligned = 2, kProving = 3, kAlignedReady = 4, kWorked = 5 };

bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

// The MSUs among the units.
Strings Msus(const Strings& units) {
  Strings out;
  for (const std::string& u : units)
    if (u.compare(0, 4, "MSU ") == 0) out.push_back(u);
  return out;
}

// A link alone on the fake channel; the test plays its peer with crafted
// units.
struct Lone {
  Lone() {
    link.hdlc(&line.a());
    line.a().bind(&link);
    line.a().open();
    link.set_dpc(2);
    link.set_slc(1);
    Drain();
  }
  ~Lone() { line.a().unbind(); }
  void Drain() {
    while (line.step()) {
    }
  }
  // The clock (the test's cached one) moves ms milliseconds, one at a time.
  void Run(unsigned ms) {
    Drain();
    for (unsigned i = 0; i < ms; ++i) {
      Mux::timeval t = Mux::g_tv_time;
      Mux::timevaladd(t, Mux::make_from_msec(1));
      Mux::set_cached_time(t);
      multiplexer.timers_schedule();
      Drain();
    }
  }
  void Inject(const Bytes& unit) {
    line.a().inject(unit);
    Drain();
  }
  // Led into a state the way a peer would lead it; what it sent is forgotten.
  void To(int state) {
    Capture quiet(std::cerr);
    if (state == kIdle) return;
    owner.activate();
    if (state >= kAligned) Inject(Lssu(SS7::SLC::SIO));
    if (state >= kProving) Inject(Lssu(SS7::SLC::SIN));
    if (state == kAlignedReady) Run(8200);
    if (state == kWorked) Inject(Unit(127, true, 127, true));
    line.a_to_b().clear_record();
  }
  Strings Sent() { return Render(line.a_to_b().sent()); }

  HdlcTesting::FakeLink line;
  Owner owner;
  SS7::SLC& link = owner.link;
};

class SlcTest : public ::testing::Test {
protected:
  SlcTest() {
    a.hdlc(&link.a());
    b.hdlc(&link.b());
    link.a().bind(&a);
    link.b().bind(&b);
    link.a().open();
    link.b().open();
    a.set_dpc(2);
    a.set_slc(1);
    a.set_linkno(0);
    Drain();
  }
  ~SlcTest() override {
    link.a().unbind();
    link.b().unbind();
  }

  void Drain() {
    while (link.step()) {
    }
  }
  // The clock moves ms milliseconds, one at a time; everything due happens.
  void Run(unsigned ms) {
    Drain();
    for (unsigned i = 0; i < ms; ++i) {
      clock.advance(1);
      multiplexer.timers_schedule();
      Drain();
    }
  }
  // Both links in service; normal proving unless told otherwise.
  void Align(bool emergency = false) {
    a.set_emergency(emergency);
    b.set_emergency(emergency);
    oa.activate();
    ob.activate();
    Run(emergency ? 500 : 8200);
    ASSERT_EQ(kWorked, a.get_state_id());
    ASSERT_EQ(kWorked, b.get_state_id());
    link.a_to_b().clear_record();
    link.b_to_a().clear_record();
  }
  Strings SentByA() { return Render(link.a_to_b().sent()); }
  Strings SentByB() { return Render(link.b_to_a().sent()); }

  // What the links log goes nowhere unless a test captures it.
  Capture quiet_log{std::clog}, quiet_err{std::cerr};
  looptest::CachedClock clock;
  HdlcTesting::FakeLink link;
  Owner oa, ob;
  SS7::SLC& a = oa.link;
  SS7::SLC& b = ob.link;
};

// A lone link, its peer played by the test.
class LoneTest : public ::testing::Test {
protected:
  Capture quiet_log{std::clog}, quiet_err{std::cerr};
  looptest::CachedClock clock;
  Lone l;
};

// ------------------------------------------------------------- alignment

TEST_F(SlcTest, NormalAlignmentProvesFor8200Ms) {
  oa.activate();
  EXPECT_EQ(kNotAligned, a.get_state_id());
  EXPECT_EQ(Strings{"SIO"}, SentByA());
  EXPECT_TRUE(a.get_bsn() == 127u);
  ob.activate();
  Drain();
  EXPECT_EQ(kProving, a.get_state_id());
  EXPECT_EQ(kProving, b.get_state_id());
  Run(8199);
  EXPECT_EQ(kProving, a.get_state_id());
  Run(1);
  EXPECT_EQ(kWorked, a.get_state_id());
  EXPECT_EQ(kWorked, b.get_state_id());
  // Proving after a SIO, then after the peer's SIN; in service after T4,
  // with two FISUs on entry.
  EXPECT_EQ((Strings{"SIO", "SIN", "SIN", "FISU 127.1 127.1", "FISU 127.1 127.1", "FISU 127.1 127.1"}), SentByA());
  EXPECT_EQ(1, oa.activated);
  EXPECT_EQ(1, ob.activated);
  EXPECT_EQ(127u, a.get_bsn());
  EXPECT_EQ(0, oa.deactivated);
}

TEST_F(SlcTest, EmergencyAlignmentProvesWithSieFor500Ms) {
  a.set_emergency(true);
  b.set_emergency(true);
  oa.activate();
  ob.activate();
  Run(499);
  EXPECT_EQ(kProving, a.get_state_id());
  EXPECT_EQ((Strings{"SIO", "SIE", "SIE"}), SentByA());
  Run(1);
  EXPECT_EQ(kWorked, a.get_state_id());
  EXPECT_EQ(kWorked, b.get_state_id());
}

TEST_F(LoneTest, FirstFisuInProvingPutsTheLinkInService) {
  l.To(kProving);
  l.Inject(Unit(127, true, 127, true));
  EXPECT_EQ(kWorked, l.link.get_state_id());
  EXPECT_EQ((Strings{"FISU 127.1 127.1", "FISU 127.1 127.1"}), l.Sent());
  EXPECT_EQ(1, l.owner.activated);
  EXPECT_EQ(127u, l.link.get_bsn());
  // Activated again while in service: reported again, nothing sent.
  l.owner.activate();
  EXPECT_EQ(2, l.owner.activated);
  EXPECT_EQ(2u, l.Sent().size());
}

TEST_F(LoneTest, AlignmentTimersTakeTheLinkToIdle) {
  struct Case {
    int state;
    unsigned ms;  // the timer
    const char* line;
  } cases[] = {
      {kNotAligned, 7000, "(not aligned): T2 expired\n"},
      {kAligned, 1500, "(aligned): T3 expired\n"},
      {kAlignedReady, 45000, "(aligned ready): T1 expired\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Lone lone;
    lone.link.trace.timers = true;
    lone.To(c.state);
    Capture log(std::clog);
    lone.Run(c.ms - 1);
    EXPECT_EQ(c.state, lone.link.get_state_id());
    lone.Run(1);
    EXPECT_EQ(kIdle, lone.link.get_state_id());
    EXPECT_TRUE(Has(log.text(), std::string("SS7/L2 [dpc=2, slc=1, trunk=0] ") + c.line)) << log.text();
    EXPECT_EQ(Strings{"SIOS"}, lone.Sent());
    EXPECT_EQ(1, lone.owner.deactivated);
    EXPECT_EQ("impossible phasing", lone.owner.last_status);
  }
}

// What each LSSU does in each state: Q.703's initial alignment, and an idle
// link stays idle and silent whatever it hears.
TEST_F(LoneTest, LssuMovesByStateAndStatus) {
  struct Case {
    int state;
    int after[5];  // after SIO, SIN, SIE, SIOS, status 4
  } cases[] = {
      {kIdle, {kIdle, kIdle, kIdle, kIdle, kIdle}},
      {kNotAligned, {kAligned, kAligned, kAligned, kNotAligned, kNotAligned}},
      {kAligned, {kAligned, kProving, kProving, kIdle, kAligned}},
      {kProving, {kAligned, kProving, kProving, kIdle, kIdle}},
      {kAlignedReady, {kIdle, kAlignedReady, kAlignedReady, kIdle, kIdle}},
      {kWorked, {kIdle, kIdle, kIdle, kIdle, kIdle}},
  };
  static const char* const texts[] = {"out of alignment", "normal alignment", "emergency alignment", "out of service",
                                      "unknown:0x4"};
  for (const Case& c : cases) {
    for (std::uint8_t status = 0; status < 5; ++status) {
      SCOPED_TRACE(::testing::Message() << "state " << c.state << " status " << unsigned(status));
      Lone lone;
      lone.To(c.state);
      ASSERT_EQ(c.state, lone.link.get_state_id());
      Capture err(std::cerr);
      // An LSSU with LI 2: the second status octet is ignored.
      lone.Inject(Bytes{0xFF, 0xFF, 0x02, status, 0x01});
      EXPECT_EQ(c.after[status], lone.link.get_state_id());
      if (c.state == kIdle) {
        EXPECT_TRUE(lone.Sent().empty());
        EXPECT_EQ(0, lone.owner.deactivated);
      }
      if (c.state != kWorked) continue;
      EXPECT_TRUE(
          Has(err.text(), std::string("(worked): receive lssu: ") + texts[status] + "  BSN=127 BIB=1 FSN=127 FIB=1\n"))
          << err.text();
    }
  }
}

TEST_F(SlcTest, DeactivationAndTrunkLossGoToIdleAndReport) {
  Align();
  Capture log(std::clog);
  a.OnTrunkHardStatus(true);
  EXPECT_EQ(kWorked, a.get_state_id());
  a.OnTrunkHardStatus(false);
  EXPECT_EQ(kIdle, a.get_state_id());
  EXPECT_EQ(1, oa.deactivated);
  // Idle: nothing more from the trunk, but a deactivation runs idle's entry
  // again.
  a.OnTrunkHardStatus(false);
  EXPECT_EQ(1, oa.deactivated);
  oa.deactivate();
  EXPECT_EQ(2, oa.deactivated);
  EXPECT_EQ((Strings{"SIOS", "SIOS"}), SentByA());
  EXPECT_EQ("SS7/L2 [dpc=2, slc=1, trunk=0] (worked):  transport OFF by low level terminated\n", log.text());
  // The peer leaves service on the SIOS.
  Capture err(std::cerr);
  Drain();
  EXPECT_EQ(kIdle, b.get_state_id());
  EXPECT_EQ(1, ob.deactivated);
}

TEST_F(SlcTest, ChannelErrorTakesTheLinkToIdle) {
  Align();
  Capture log(std::clog);
  link.a().fail();
  Drain();
  EXPECT_EQ(kIdle, a.get_state_id());
  EXPECT_EQ(1, oa.deactivated);
  EXPECT_EQ("impossible phasing", oa.last_status);
  EXPECT_TRUE(Has(log.text(), "(worked): hdlc error [cause=0]\n")) << log.text();
  // Idle already: logged, nothing else.
  link.a().fail();
  Drain();
  EXPECT_EQ(1, oa.deactivated);
}

// ------------------------------------------------------------- transfer

TEST_F(SlcTest, MsusBothWaysOnceAndInOrder) {
  Align();
  for (std::uint8_t i = 0; i < 5; ++i) oa.send(Msu(20, i));
  for (std::uint8_t i = 0; i < 3; ++i) ob.send(Msu(272, 0x40 + i));
  Drain();
  ASSERT_EQ(5u, ob.received.size());
  for (std::uint8_t i = 0; i < 5; ++i) EXPECT_EQ(Msu(20, i), ob.received[i]);
  ASSERT_EQ(3u, oa.received.size());
  for (std::uint8_t i = 0; i < 3; ++i) EXPECT_EQ(Msu(272, 0x40 + i), oa.received[i]);
  // Each acknowledged at once: nothing outstanding, no timer.
  EXPECT_EQ(0, a.statistics()->rtbSize);
  EXPECT_EQ(0u, multiplexer.timer_count());
  EXPECT_EQ(0, a.statistics()->badSeqCntr);
  EXPECT_EQ(0, b.statistics()->repeatCntr);
  // Each MSU is followed by a FISU with its FSN: what an idle line repeats.
  const Strings fromA = SentByA();
  EXPECT_EQ((Strings{"MSU 127.1 0.1 li=20 n=20", "FISU 127.1 0.1", "MSU 127.1 1.1 li=20 n=20", "FISU 127.1 1.1"}),
            Strings(fromA.begin(), fromA.begin() + 4));
}

TEST_F(SlcTest, LostMsuIsNegativelyAcknowledgedAndRetransmittedOldestFirst) {
  Align();
  // The second MSU is lost.
  link.a_to_b().drop(3);
  for (std::uint8_t i = 0; i < 4; ++i) oa.send(Msu(10, i));
  // All four go out before anything comes back, each with its FISU.
  EXPECT_EQ((Strings{"MSU 127.1 0.1 li=10 n=10", "FISU 127.1 0.1", "MSU 127.1 1.1 li=10 n=10", "FISU 127.1 1.1",
                     "MSU 127.1 2.1 li=10 n=10", "FISU 127.1 2.1", "MSU 127.1 3.1 li=10 n=10", "FISU 127.1 3.1"}),
            SentByA());
  Drain();
  ASSERT_EQ(4u, ob.received.size());
  for (std::uint8_t i = 0; i < 4; ++i) EXPECT_EQ(Msu(10, i), ob.received[i]);
  EXPECT_EQ(1, b.statistics()->badSeqCntr);
  EXPECT_EQ(1, a.statistics()->repeatCntr);
  // b: ack of 0, then one FISU with BIB inverted for 2; then ack of 1..3.
  const Strings fromB = SentByB();
  ASSERT_GE(fromB.size(), 2u);
  EXPECT_EQ("FISU 0.1 127.1", fromB[0]);
  EXPECT_EQ("FISU 0.0 127.1", fromB[1]);
  EXPECT_EQ("FISU 3.0 127.1", fromB.back());
  // a resends 1, 2, 3 with their first FSNs and the FIB following the BIB.
  const Strings fromA = SentByA();
  ASSERT_GE(fromA.size(), 12u);
  EXPECT_EQ((Strings{"MSU 127.1 1.0 li=10 n=10", "MSU 127.1 2.0 li=10 n=10", "MSU 127.1 3.0 li=10 n=10",
                     "FISU 127.1 3.0"}),
            Strings(fromA.begin() + 8, fromA.begin() + 12));
  EXPECT_EQ(0, a.statistics()->rtbSize);
  EXPECT_EQ(kWorked, a.get_state_id());
  EXPECT_EQ(kWorked, b.get_state_id());
}

TEST_F(LoneTest, DuplicateMsuIsDroppedWithoutLookingAtItsBsn) {
  l.To(kWorked);
  l.Inject(Unit(127, true, 0, true, Msu(5)));
  ASSERT_EQ(1u, l.owner.received.size());
  // The same MSU twice more with a BSN out of range: as duplicates their
  // BSN does not count, so the link stays.
  Capture log(std::clog);
  l.link.trace.msu_processing = true;
  l.Inject(Unit(50, true, 0, true, Msu(5)));
  l.Inject(Unit(50, true, 0, true, Msu(5)));
  EXPECT_EQ(kWorked, l.link.get_state_id());
  EXPECT_EQ(1u, l.owner.received.size());
  EXPECT_TRUE(Has(log.text(), "(worked): discard msu due to 5.2.2/i Q.702 fsnr=0 fsnx=0\n")) << log.text();
  EXPECT_EQ((Strings{"FISU 0.1 127.1"}), l.Sent());
}

TEST_F(SlcTest, SwallowingPeerFillsRtbThenTb) {
  Align();
  link.a_to_b().swallow(true);
  Capture err(std::cerr);
  for (unsigned i = 0; i < 127 + 200; ++i) oa.send(Msu(3, std::uint8_t(i)));
  EXPECT_EQ(127, a.statistics()->rtbSize);
  EXPECT_EQ(127u, Msus(SentByA()).size());
  EXPECT_EQ("", err.text());
  oa.send(Msu(3));
  EXPECT_EQ(1, a.statistics()->overflowCntr);
  EXPECT_TRUE(Has(err.text(), "(worked): no space in TB buffer, TB=200 RTB=127 ignoring msu: 83 01 02\n"))
      << err.text();
  // The peer hears nothing; T7 ends it.
  Run(12000);
  EXPECT_EQ(kIdle, a.get_state_id());
}

TEST_F(LoneTest, AcknowledgementThatFreesRoomRestartsSending) {
  l.To(kWorked);
  for (unsigned i = 0; i < 128; ++i) l.owner.send(Msu(3, std::uint8_t(i)));
  EXPECT_EQ(127u, Msus(l.Sent()).size());
  l.Inject(Unit(0, true, 127, true));
  const Strings sent = l.Sent();
  ASSERT_EQ(128u, Msus(sent).size());
  EXPECT_EQ("MSU 127.1 127.1 li=3 n=3", Msus(sent).back());
  EXPECT_EQ("FISU 127.1 127.1", sent.back());
  // Everything acknowledged and nothing waiting: no extra FISU.
  l.Inject(Unit(127, true, 127, true));
  EXPECT_EQ(sent.size(), l.Sent().size());
  EXPECT_EQ(0, l.link.statistics()->rtbSize);
}

TEST_F(LoneTest, T7RestartsOnEachFreeingAcknowledgementAndStopsWhenNoneIsOutstanding) {
  l.To(kWorked);
  l.link.trace.timers = true;
  l.owner.send(Msu(4, 1));  // FSN 0, T7 armed
  l.Run(6000);
  l.owner.send(Msu(4, 2));  // FSN 1: T7 runs on
  l.Run(4000);
  l.Inject(Unit(0, true, 127, true));  // frees 0: T7 again, from now
  l.Run(11999);
  EXPECT_EQ(kWorked, l.link.get_state_id());
  // An acknowledgement that frees nothing does not restart it.
  l.Inject(Unit(0, true, 127, true));
  Capture log(std::clog);
  l.Run(1);
  EXPECT_EQ(kIdle, l.link.get_state_id());
  EXPECT_TRUE(Has(log.text(), "(worked): T7 expired: 1 packets in RTB.\n")) << log.text();

  // None outstanding: T7 stopped.
  l.To(kWorked);
  l.owner.send(Msu(4, 3));
  l.Inject(Unit(0, true, 127, true));
  l.Run(50000);
  EXPECT_EQ(kWorked, l.link.get_state_id());
}

// ------------------------------------------------------------- unit reader

TEST_F(LoneTest, LengthIndicatorMismatches) {
  struct Case {
    int li;
    unsigned octets;
    const char* log;  // nullptr: none
    unsigned delivered;
  } cases[] = {
      {5, 10, "invalid packet length, expected = 5, received = 10\n", 5},
      {20, 70, "invalid packet length, expected = 20, received = 70\n", 70},
      {63, 70, nullptr, 70},
      {10, 5, "invalid packet length, expected = 10, received = 5\n", 5},
  };
  unsigned fsn = 0;
  l.To(kWorked);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.li);
    // A second apart: each unit has its lines.
    clock.advance(1000);
    Capture err(std::cerr);
    l.owner.received.clear();
    l.Inject(Unit(127, true, fsn++, true, Msu(c.octets), c.li));
    ASSERT_EQ(1u, l.owner.received.size());
    const Bytes sent = Msu(c.octets);
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + c.delivered), l.owner.received[0]);
    if (!c.log) {
      EXPECT_EQ("", err.text());
      continue;
    }
    EXPECT_TRUE(Has(err.text(), c.log)) << err.text();
    EXPECT_EQ(c.li == 20, Has(err.text(), "can't truncate signalling unit.\n")) << err.text();
    EXPECT_EQ(c.li == 5, Has(err.text(), "truncate 5 octet(s) : ")) << err.text();
  }
}

TEST_F(LoneTest, LiOfSentMsusIsCappedAt63) {
  l.To(kWorked);
  for (unsigned n : {3u, 62u, 63u, 64u, 272u}) l.owner.send(Msu(n));
  for (unsigned n : {273u, 274u}) l.owner.send(Msu(n));
  EXPECT_EQ((Strings{"MSU 127.1 0.1 li=3 n=3", "MSU 127.1 1.1 li=62 n=62", "MSU 127.1 2.1 li=63 n=63",
                     "MSU 127.1 3.1 li=63 n=64", "MSU 127.1 4.1 li=63 n=272", "MSU 127.1 5.1 li=63 n=273"}),
            Msus(l.Sent()));
}

TEST_F(LoneTest, MsusTooShortToFrameAreRefused) {
  l.To(kWorked);
  Capture err(std::cerr);
  for (unsigned n : {1u, 2u, 274u}) l.owner.send(Msu(n));
  l.owner.send(Bytes());
  EXPECT_TRUE(l.Sent().empty());
  EXPECT_TRUE(Has(err.text(), "ignore msu, bad length 2\n")) << err.text();
  EXPECT_TRUE(Has(err.text(), "ignore msu, bad length 274\n")) << err.text();
  EXPECT_FALSE(SS7::SLC::Carries(2));
  EXPECT_TRUE(SS7::SLC::Carries(3));
  EXPECT_TRUE(SS7::SLC::Carries(273));
  EXPECT_FALSE(SS7::SLC::Carries(274));
}

TEST_F(LoneTest, ShortUnitOnlyCounts) {
  l.To(kWorked);
  Capture err(std::cerr);
  const std::int32_t before = l.link.statistics()->octetsRx;
  const std::int32_t units = l.link.statistics()->msuRxCount;
  l.Inject(Bytes{0x7F, 0xFF});
  EXPECT_EQ(before + 2, l.link.statistics()->octetsRx);
  EXPECT_EQ(units, l.link.statistics()->msuRxCount);
  EXPECT_EQ("SS7/L2 [dpc=2, slc=1, trunk=0] (worked): ignore packet, length too small 7F FF\n", err.text());
}

TEST_F(LoneTest, BadBsnTwiceEndsServiceWithoutAnAnswerAfterSios) {
  l.To(kWorked);
  l.link.trace.msu_processing = true;
  Capture err(std::cerr);
  l.Inject(Unit(5, true, 127, true));
  EXPECT_EQ(kWorked, l.link.get_state_id());
  // The FSN is unexpected too; the BSN check comes first and ends it.
  l.Inject(Unit(5, true, 3, true));
  EXPECT_EQ(kIdle, l.link.get_state_id());
  EXPECT_EQ(Strings{"SIOS"}, l.Sent());
  EXPECT_EQ(0, l.link.statistics()->badSeqCntr);
  EXPECT_TRUE(Has(err.text(), "(worked): bad su acknowledgement received:  BSN=5 BIB=1 FSN=3 FIB=1\n")) << err.text();
}

TEST_F(LoneTest, UnexpectedFibTwiceEndsService) {
  l.To(kWorked);
  l.Inject(Unit(127, true, 127, false));
  EXPECT_EQ(kWorked, l.link.get_state_id());
  l.Inject(Unit(127, true, 127, false));
  EXPECT_EQ(kIdle, l.link.get_state_id());
  EXPECT_EQ(Strings{"SIOS"}, l.Sent());
}

// ------------------------------------------------------------- the channel

TEST_F(LoneTest, RefusedMsuWaitsForReadyAndIsNotAnnounced) {
  l.To(kWorked);
  l.line.a().refuse(0);
  Capture log(std::clog);
  l.owner.send(Msu(8, 1));
  EXPECT_TRUE(l.Sent().empty());
  l.line.a().accept();
  // Before the channel reports ready, an MSU from the peer is acknowledged:
  // the FISU must not carry the FSN of the MSU that did not go.
  Packet p = HdlcTesting::ToPacket(Unit(127, true, 0, true, Msu(3)));
  l.link.receive(p);
  EXPECT_EQ(Strings{"FISU 0.1 127.1"}, l.Sent());
  l.Drain();
  EXPECT_EQ((Strings{"FISU 0.1 127.1", "MSU 0.1 0.1 li=8 n=8", "FISU 0.1 0.1"}), l.Sent());
  EXPECT_TRUE(Has(log.text(), "(worked): hdlc ready\n")) << log.text();
}

TEST_F(LoneTest, EmptyPoolSendsNothingAndKeepsTheMsu) {
  l.To(kWorked);
  Capture err(std::cerr);
  Packet m;
  m.reserve_head(3);
  std::copy_n(Msu(5).begin(), 5, m.put(5));
  std::vector<Packet> hog;
  while (Packet::pool_free() > 0) {
    hog.emplace_back();
    hog.back().reserve_head(0);
  }
  l.owner.message(m);
  l.link.on_hdlc_ready();
  EXPECT_TRUE(l.Sent().empty());
  EXPECT_TRUE(Has(err.text(), "(worked): no packet buffer, unit not sent\n")) << err.text();
  EXPECT_EQ(kWorked, l.link.get_state_id());
  hog.clear();
  l.owner.send(Msu(6));
  EXPECT_EQ((Strings{"MSU 127.1 0.1 li=5 n=5", "MSU 127.1 1.1 li=6 n=6", "FISU 127.1 1.1"}), l.Sent());
}

// ------------------------------------------------------------- idle line

TEST_F(SlcTest, RepeatingLineAlignsAndCarriesEachMsuOnce) {
  link.a_to_b().repeat(3);
  link.b_to_a().repeat(3);
  Align();
  Run(60000);
  EXPECT_EQ(kWorked, a.get_state_id());
  EXPECT_EQ(kWorked, b.get_state_id());
  for (std::uint8_t i = 0; i < 10; ++i) {
    oa.send(Msu(12, i));
    Run(7);
    ob.send(Msu(30, i));
    Run(2);
  }
  Run(100);
  ASSERT_EQ(10u, ob.received.size());
  ASSERT_EQ(10u, oa.received.size());
  for (std::uint8_t i = 0; i < 10; ++i) {
    EXPECT_EQ(Msu(12, i), ob.received[i]);
    EXPECT_EQ(Msu(30, i), oa.received[i]);
  }
  EXPECT_EQ(0, a.statistics()->badSeqCntr);
  EXPECT_EQ(0, b.statistics()->badSeqCntr);
  EXPECT_EQ(1, oa.activated);
  EXPECT_EQ(0, oa.deactivated);
}

TEST_F(SlcTest, RepeatedFisusDoNotKeepT7Alive) {
  link.b_to_a().repeat(3);
  Align();
  // b hears nothing more; its repeated FISU acknowledges nothing.
  link.a_to_b().swallow(true);
  oa.send(Msu(12));
  Run(11999);
  EXPECT_EQ(kWorked, a.get_state_id());
  Run(1);
  EXPECT_EQ(kIdle, a.get_state_id());
}

// The FISU after the last MSU tells the peer that it missed it.
TEST_F(SlcTest, LostLastMsuIsNegativelyAcknowledgedAndDeliveredOnce) {
  Align();
  link.a_to_b().drop(1);
  oa.send(Msu(12, 7));
  Drain();
  ASSERT_EQ(1u, ob.received.size());
  EXPECT_EQ(Msu(12, 7), ob.received[0]);
  EXPECT_EQ(1, b.statistics()->badSeqCntr);
  EXPECT_EQ(1, a.statistics()->repeatCntr);
  EXPECT_EQ(0, a.statistics()->rtbSize);
  Run(13000);
  EXPECT_EQ(kWorked, a.get_state_id());
  EXPECT_EQ(kWorked, b.get_state_id());
  EXPECT_EQ(1u, ob.received.size());
}

// ------------------------------------------------------------- text

TEST_F(SlcTest, TraceLines) {
  a.trace = SS7::SLC::Trace{true, true, true, true, true, true, true, true};
  Capture log(std::clog);
  Capture err(std::cerr);
  Align(true);
  oa.send(Msu(3, 0x10));
  ob.send(Msu(3, 0x20));
  Drain();
  const std::string text = log.text();
  for (const char* line : {
           "SS7/L2 [dpc=2, slc=1, trunk=0] (idle): local_activate: executing...\n",
           "SS7/L2 [dpc=2, slc=1, trunk=0]: change state from \"idle\" to \"not aligned\"\n",
           "SS7/L2 [dpc=2, slc=1, trunk=0] (proving): set T4\n",
           "SS7/L2 [dpc=2, slc=1, trunk=0] (proving): T4 expired.\n",
           "SS7/L2 [dpc=2, slc=1, trunk=0] (not aligned):  rx raw 0xFF 0xFF 0x1 0x0\n",
           "SS7/L2 [dpc=2, slc=1, trunk=0] (worked):  tx raw 0xFF 0xFF 0x0\n",
           "SS7/L2 [dpc=2, slc=1, trunk=0] (worked):  mtp tx 0x83 0x11 0x12\n",
           "SS7/L2 [dpc=2, slc=1, trunk=0] (worked):  mtp rx 0x83 0x21 0x22\n",
       })
    EXPECT_TRUE(Has(text, line)) << line << "\n" << text;
  EXPECT_TRUE(Has(err.text(), "SS7/L2 [dpc=2, slc=1, trunk=0] (worked): ack!\n")) << err.text();
  std::ostringstream info;
  a.protocol_info(info);
  EXPECT_EQ("MTP/L2", info.str());
  EXPECT_EQ(&a, oa.search(Protocol_name_str("MTP/L2")));
}

}  // namespace
