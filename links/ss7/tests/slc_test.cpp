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
  // Link a alone in a state, driven by crafted units from its peer's side.
  void Drive(int state) {
    Capture quiet(std::cerr);
    link.b().unbind();
    if (state == kIdle) return;
    oa.activate();
    if (state == kAligned) link.a().inject(Lssu(SS7::SLC::SIO));
    if (state >= kProving) link.a().inject(Lssu(SS7::SLC::SIN));
    Drain();
    if (state == kAlignedReady) Run(8200);
    if (state == kWorked) Inject(Unit(127, true, 127, true));
    ASSERT_EQ(state, a.get_state_id());
    link.a_to_b().clear_record();
  }
  void Inject(const Bytes& unit) {
    link.a().inject(unit);
    Drain();
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

TEST_F(SlcTest, FirstFisuInProvingPutsTheLinkInService) {
  Drive(kProving);
  Inject(Unit(127, true, 127, true));
  EXPECT_EQ(kWorked, a.get_state_id());
  EXPECT_EQ((Strings{"FISU 127.1 127.1", "FISU 127.1 127.1"}), SentByA());
  EXPECT_EQ(1, oa.activated);
  EXPECT_EQ(127u, a.get_bsn());
  // Activated again while in service: reported again, nothing sent.
  oa.activate();
  EXPECT_EQ(2, oa.activated);
  EXPECT_EQ(2u, SentByA().size());
}

TEST_F(SlcTest, AlignmentTimersTakeTheLinkToIdle) {
  struct Case {
    int state;
    unsigned ms;  // the timer
    const char* line;
  } cases[] = {
      {kNotAligned, 7000, "T2 expired"},
      {kAligned, 1500, "T3 expired"},
      {kAlignedReady, 45000, "T1 expired"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Owner o;
    HdlcTesting::FakeLink l;
    o.link.hdlc(&l.a());
    l.a().bind(&o.link);
    l.a().open();
    o.link.trace.timers = true;
    Capture log(std::clog);
    o.activate();
    if (c.state == kAligned) l.a().inject(Lssu(SS7::SLC::SIO));
    if (c.state == kAlignedReady) l.a().inject(Lssu(SS7::SLC::SIE));
    auto run = [&](unsigned ms) {
      for (unsigned i = 0; i < ms; ++i) {
        while (l.step()) {
        }
        clock.advance(1);
        multiplexer.timers_schedule();
      }
      while (l.step()) {
      }
    };
    run(c.state == kAlignedReady ? 8200 : 0);
    ASSERT_EQ(c.state, o.link.get_state_id());
    run(c.ms - 1);
    EXPECT_EQ(c.state, o.link.get_state_id());
    run(1);
    EXPECT_EQ(kIdle, o.link.get_state_id());
    EXPECT_TRUE(Has(log.text(), "SS7/L2 [dpc=0, slc=0, trunk=0] (" +
                                    std::string(c.state == kNotAligned ? "not aligned"
                                                : c.state == kAligned  ? "aligned"
                                                                       : "aligned ready") +
                                    "): " + c.line + "\n"))
        << log.text();
    EXPECT_EQ("SIOS", Render(l.a_to_b().sent().back()));
    EXPECT_EQ(1, o.deactivated);
    EXPECT_EQ("impossible phasing", o.last_status);
    l.a().unbind();
  }
}

// What each LSSU does in each state.
TEST_F(SlcTest, LssuMovesByStateAndStatus) {
  struct Case {
    int state;
    int after[5];  // after SIO, SIN, SIE, SIOS, status 4
  } cases[] = {
      {kIdle, {kAligned, kProving, kProving, kIdle, kIdle}},
      {kNotAligned, {kAligned, kProving, kProving, kNotAligned, kNotAligned}},
      {kAligned, {kAligned, kProving, kProving, kAligned, kAligned}},
      {kProving, {kIdle, kProving, kProving, kIdle, kIdle}},
      {kAlignedReady, {kIdle, kAlignedReady, kAlignedReady, kIdle, kIdle}},
      {kWorked, {kIdle, kIdle, kIdle, kIdle, kIdle}},
  };
  for (const Case& c : cases) {
    for (std::uint8_t status = 0; status < 5; ++status) {
      SCOPED_TRACE(::testing::Message() << "state " << c.state << " status " << unsigned(status));
      Owner o;
      HdlcTesting::FakeLink l;
      o.link.hdlc(&l.a());
      l.a().bind(&o.link);
      l.a().open();
      Capture err(std::cerr);
      if (c.state != kIdle) o.activate();
      if (c.state == kAligned) l.a().inject(Lssu(SS7::SLC::SIO));
      if (c.state >= kProving) l.a().inject(Lssu(SS7::SLC::SIN));
      if (c.state == kWorked) l.a().inject(Unit(127, true, 127, true));
      while (l.step()) {
      }
      if (c.state == kAlignedReady) {
        for (int i = 0; i < 8200; ++i) {
          clock.advance(1);
          multiplexer.timers_schedule();
        }
        while (l.step()) {
        }
      }
      ASSERT_EQ(c.state, o.link.get_state_id());
      // An LSSU with LI 2: the second status octet is ignored.
      l.a().inject(Bytes{0xFF, 0xFF, 0x02, status, 0x01});
      while (l.step()) {
      }
      EXPECT_EQ(c.after[status], o.link.get_state_id());
      if (c.state == kWorked) {
        static const char* const texts[] = {"out of alignment", "normal alignment", "emergency alignment",
                                            "out of service", "unknown:0x4"};
        EXPECT_TRUE(Has(err.text(),
                        std::string("(worked): receive lssu: ") + texts[status] + "  BSN=127 BIB=1 FSN=127 FIB=1\n"))
            << err.text();
      }
      l.a().unbind();
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
  const Strings fromA = SentByA();
  EXPECT_EQ((Strings{"MSU 127.1 0.1 li=20 n=20", "MSU 127.1 1.1 li=20 n=20", "MSU 127.1 2.1 li=20 n=20"}),
            Strings(fromA.begin(), fromA.begin() + 3));
}

TEST_F(SlcTest, LostMsuIsNegativelyAcknowledgedAndRetransmittedOldestFirst) {
  Align();
  link.a_to_b().drop(2);
  for (std::uint8_t i = 0; i < 4; ++i) oa.send(Msu(10, i));
  // All four go out before anything comes back.
  EXPECT_EQ((Strings{"MSU 127.1 0.1 li=10 n=10", "MSU 127.1 1.1 li=10 n=10", "MSU 127.1 2.1 li=10 n=10",
                     "MSU 127.1 3.1 li=10 n=10"}),
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
  EXPECT_EQ((Strings{"MSU 127.1 1.0 li=10 n=10", "MSU 127.1 2.0 li=10 n=10", "MSU 127.1 3.0 li=10 n=10"}),
            Strings(fromA.begin() + 4, fromA.begin() + 7));
  EXPECT_EQ(0, a.statistics()->rtbSize);
  EXPECT_EQ(kWorked, a.get_state_id());
  EXPECT_EQ(kWorked, b.get_state_id());
}

TEST_F(SlcTest, DuplicateMsuIsDroppedWithoutLookingAtItsBsn) {
  Drive(kWorked);
  Inject(Unit(127, true, 0, true, Msu(5)));
  ASSERT_EQ(1u, oa.received.size());
  // The same MSU twice more with a BSN out of range: as duplicates their
  // BSN does not count, so the link stays.
  Capture log(std::clog);
  a.trace.msu_processing = true;
  Inject(Unit(50, true, 0, true, Msu(5)));
  Inject(Unit(50, true, 0, true, Msu(5)));
  EXPECT_EQ(kWorked, a.get_state_id());
  EXPECT_EQ(1u, oa.received.size());
  EXPECT_TRUE(Has(log.text(), "(worked): discard msu due to 5.2.2/i Q.702 fsnr=0 fsnx=0\n")) << log.text();
  EXPECT_EQ((Strings{"FISU 0.1 127.1"}), SentByA());
}

TEST_F(SlcTest, SwallowingPeerFillsRtbThenTb) {
  Align();
  link.a_to_b().swallow(true);
  Capture err(std::cerr);
  for (unsigned i = 0; i < 127 + 200; ++i) oa.send(Msu(3, std::uint8_t(i)));
  EXPECT_EQ(127, a.statistics()->rtbSize);
  EXPECT_EQ(127u, link.a_to_b().sent().size());
  EXPECT_EQ("", err.text());
  oa.send(Msu(3));
  EXPECT_EQ(1, a.statistics()->overflowCntr);
  EXPECT_TRUE(Has(err.text(), "(worked): no space in TB buffer, TB=200 RTB=127 ignoring msu: 83 01 02\n"))
      << err.text();
  // The peer hears nothing; T7 ends it.
  Run(12000);
  EXPECT_EQ(kIdle, a.get_state_id());
}

TEST_F(SlcTest, AcknowledgementThatFreesRoomRestartsSending) {
  Drive(kWorked);
  for (unsigned i = 0; i < 128; ++i) oa.send(Msu(3, std::uint8_t(i)));
  EXPECT_EQ(127u, link.a_to_b().sent().size());
  Inject(Unit(0, true, 127, true));
  ASSERT_EQ(128u, link.a_to_b().sent().size());
  EXPECT_EQ("MSU 127.1 127.1 li=3 n=3", Render(link.a_to_b().sent().back()));
  // Everything acknowledged and nothing waiting: no extra FISU.
  Inject(Unit(127, true, 127, true));
  EXPECT_EQ(128u, link.a_to_b().sent().size());
  EXPECT_EQ(0, a.statistics()->rtbSize);
}

TEST_F(SlcTest, T7RestartsOnEachFreeingAcknowledgementAndStopsWhenNoneIsOutstanding) {
  Drive(kWorked);
  a.trace.timers = true;
  oa.send(Msu(4, 1));  // FSN 0, T7 armed
  Run(6000);
  oa.send(Msu(4, 2));  // FSN 1: T7 runs on
  Run(4000);
  Inject(Unit(0, true, 127, true));  // frees 0: T7 again, from now
  Run(11999);
  EXPECT_EQ(kWorked, a.get_state_id());
  // An acknowledgement that frees nothing does not restart it.
  Inject(Unit(0, true, 127, true));
  Capture log(std::clog);
  Run(1);
  EXPECT_EQ(kIdle, a.get_state_id());
  EXPECT_TRUE(Has(log.text(), "(worked): T7 expired: 1 packets in RTB.\n")) << log.text();

  // None outstanding: T7 stopped.
  Drive(kWorked);
  oa.send(Msu(4, 3));
  Inject(Unit(0, true, 127, true));
  Run(50000);
  EXPECT_EQ(kWorked, a.get_state_id());
}

// ------------------------------------------------------------- unit reader

TEST_F(SlcTest, LengthIndicatorMismatches) {
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
  Drive(kWorked);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.li);
    Capture err(std::cerr);
    oa.received.clear();
    Inject(Unit(127, true, fsn++, true, Msu(c.octets), c.li));
    ASSERT_EQ(1u, oa.received.size());
    const Bytes sent = Msu(c.octets);
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + c.delivered), oa.received[0]);
    if (!c.log) {
      EXPECT_EQ("", err.text());
      continue;
    }
    EXPECT_TRUE(Has(err.text(), c.log)) << err.text();
    EXPECT_EQ(c.li == 20, Has(err.text(), "can't truncate signalling unit.\n")) << err.text();
    EXPECT_EQ(c.li == 5, Has(err.text(), "truncate 5 octet(s) : ")) << err.text();
  }
}

TEST_F(SlcTest, LiOfSentMsusIsCappedAt63) {
  Drive(kWorked);
  for (unsigned n : {3u, 62u, 63u, 64u, 272u}) oa.send(Msu(n));
  EXPECT_EQ((Strings{"MSU 127.1 0.1 li=3 n=3", "MSU 127.1 1.1 li=62 n=62", "MSU 127.1 2.1 li=63 n=63",
                     "MSU 127.1 3.1 li=63 n=64", "MSU 127.1 4.1 li=63 n=272"}),
            SentByA());
}

TEST_F(SlcTest, MsusTooShortToFrameAreRefused) {
  Drive(kWorked);
  Capture err(std::cerr);
  for (unsigned n : {1u, 2u}) oa.send(Msu(n));
  oa.send(Bytes());
  EXPECT_TRUE(SentByA().empty());
  EXPECT_TRUE(Has(err.text(), "ignore msu, bad length 2\n")) << err.text();
}

TEST_F(SlcTest, ShortUnitOnlyCounts) {
  Drive(kWorked);
  Capture err(std::cerr);
  const std::int32_t before = a.statistics()->octetsRx;
  const std::int32_t units = a.statistics()->msuRxCount;
  Inject(Bytes{0x7F, 0xFF});
  EXPECT_EQ(before + 2, a.statistics()->octetsRx);
  EXPECT_EQ(units, a.statistics()->msuRxCount);
  EXPECT_EQ("SS7/L2 [dpc=2, slc=1, trunk=0] (worked): ignore packet, length too small 7F FF\n", err.text());
}

TEST_F(SlcTest, BadBsnTwiceEndsServiceWithoutAnAnswerAfterSios) {
  Drive(kWorked);
  a.trace.msu_processing = true;
  Capture err(std::cerr);
  Inject(Unit(5, true, 127, true));
  EXPECT_EQ(kWorked, a.get_state_id());
  // The FSN is unexpected too; the BSN check comes first and ends it.
  Inject(Unit(5, true, 3, true));
  EXPECT_EQ(kIdle, a.get_state_id());
  EXPECT_EQ(Strings{"SIOS"}, SentByA());
  EXPECT_EQ(0, a.statistics()->badSeqCntr);
  EXPECT_TRUE(Has(err.text(), "(worked): bad su acknowledgement received:  BSN=5 BIB=1 FSN=3 FIB=1\n")) << err.text();
}

TEST_F(SlcTest, UnexpectedFibTwiceEndsService) {
  Drive(kWorked);
  Inject(Unit(127, true, 127, false));
  EXPECT_EQ(kWorked, a.get_state_id());
  Inject(Unit(127, true, 127, false));
  EXPECT_EQ(kIdle, a.get_state_id());
  EXPECT_EQ(Strings{"SIOS"}, SentByA());
}

// ------------------------------------------------------------- the channel

TEST_F(SlcTest, RefusedMsuWaitsForReadyAndIsNotAnnounced) {
  Drive(kWorked);
  link.a().refuse(0);
  Capture log(std::clog);
  oa.send(Msu(8, 1));
  EXPECT_TRUE(SentByA().empty());
  link.a().accept();
  // Before the channel reports ready, an MSU from the peer is acknowledged:
  // the FISU must not carry the FSN of the MSU that did not go.
  Packet p = HdlcTesting::ToPacket(Unit(127, true, 0, true, Msu(3)));
  a.receive(p);
  EXPECT_EQ(Strings{"FISU 0.1 127.1"}, SentByA());
  Drain();
  EXPECT_EQ((Strings{"FISU 0.1 127.1", "MSU 0.1 0.1 li=8 n=8"}), SentByA());
  EXPECT_TRUE(Has(log.text(), "(worked): hdlc ready\n")) << log.text();
}

TEST_F(SlcTest, EmptyPoolSendsNothingAndKeepsTheMsu) {
  Drive(kWorked);
  Capture err(std::cerr);
  Packet m;
  m.reserve_head(3);
  std::copy_n(Msu(5).begin(), 5, m.put(5));
  std::vector<Packet> hog;
  while (Packet::pool_free() > 0) {
    hog.emplace_back();
    hog.back().reserve_head(0);
  }
  oa.message(m);
  a.on_hdlc_ready();
  EXPECT_TRUE(SentByA().empty());
  EXPECT_TRUE(Has(err.text(), "(worked): no packet buffer, unit not sent\n")) << err.text();
  EXPECT_EQ(kWorked, a.get_state_id());
  hog.clear();
  oa.send(Msu(6));
  EXPECT_EQ((Strings{"MSU 127.1 0.1 li=5 n=5", "MSU 127.1 1.1 li=6 n=6"}), SentByA());
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
  link.a_to_b().repeat(3);
  link.b_to_a().repeat(3);
  Align();
  link.a_to_b().drop(1);
  oa.send(Msu(12));
  Run(11999);
  EXPECT_EQ(kWorked, a.get_state_id());
  EXPECT_EQ(0, b.statistics()->badSeqCntr);
  Run(1);
  EXPECT_EQ(kIdle, a.get_state_id());
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
