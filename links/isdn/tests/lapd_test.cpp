// The LAPD link, user side against network side over a fake channel pair,
// with the loop's clock driven by the test.
#include "links/isdn/lapd.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/multiplexer.h"
#include "foundation/tests/loop_test_util.h"
#include "hardware/testing/fake_hdlc.h"
#include "links/isdn/tests/lapd_util.h"

namespace {

using HdlcTesting::Bytes;
using lapdtest::Slot;
using Strings = std::vector<std::string>;

class LapdTest : public ::testing::Test {
protected:
  LapdTest()
      : log(std::clog), user(ISDN::Side::user, link.a(), transcript), net(ISDN::Side::network, link.b(), transcript) {
    link.a().bind(user.link);
    link.b().bind(net.link);
    link.a().open();
    link.b().open();
    Pump();
  }

  void Pump() {
    while (link.step()) {
    }
  }
  // Moves the clock in steps of 10 ms, firing timers and delivering frames.
  void Run(unsigned ms) {
    for (unsigned t = 0; t < ms; t += 10) {
      clock.advance(10);
      multiplexer.timers_schedule();
      Pump();
    }
  }
  void Establish() {
    user.activate();
    Pump();
    ASSERT_EQ(6u, user.link->full_state().state);
    ASSERT_EQ(6u, net.link->full_state().state);
    transcript.clear();
    user.events.clear();
    net.events.clear();
    user.tap.frames.clear();
    net.tap.frames.clear();
  }
  static Strings Messages(char const* prefix, unsigned n) {
    Strings m;
    for (unsigned i = 0; i < n; ++i) m.push_back(prefix + std::to_string(i));
    return m;
  }
  static unsigned Count(Strings const& lines, std::string const& what) {
    unsigned n = 0;
    for (auto const& l : lines) n += l == what;
    return n;
  }

  looptest::CachedClock clock;
  looptest::Capture log;
  HdlcTesting::FakeLink link;
  Strings transcript;
  Slot user, net;
};

TEST_F(LapdTest, EstablishesWithSabmeAndUa) {
  user.activate();
  Pump();
  EXPECT_EQ((Strings{"u SABME cmd P", "n UA rsp F"}), transcript);
  EXPECT_EQ((Strings{"up"}), user.events);
  EXPECT_EQ((Strings{"up"}), net.events);
  // The frames as the user side writes them: SAPI 0, C/R 0, TEI 0.
  EXPECT_EQ((Bytes{0x00, 0x01, 0x7F}), user.tap.frames.at(0));
  EXPECT_EQ((Bytes{0x00, 0x01, 0x73}), net.tap.frames.at(0));
}

TEST_F(LapdTest, SevenFramesFillTheWindowAndTheEighthWaits) {
  Establish();
  Strings const sent = Messages("m", 8);
  for (auto const& m : sent) user.send(m);
  // Nothing was delivered yet: seven went out, the eighth waits for an ack.
  EXPECT_EQ((Strings{"u I 0/0 cmd", "u I 1/0 cmd", "u I 2/0 cmd", "u I 3/0 cmd", "u I 4/0 cmd", "u I 5/0 cmd",
                     "u I 6/0 cmd"}),
            transcript);
  EXPECT_EQ(7u, user.link->queued_ack());
  EXPECT_EQ(1u, user.link->queued_out());
  // One I frame on the line: four octets of header, then the message.
  EXPECT_EQ((Bytes{0x00, 0x01, 0x00, 0x00, 'm', '0'}), user.tap.frames.at(0));
  Pump();
  EXPECT_EQ(sent, net.received);
  EXPECT_EQ("u I 7/0 cmd", transcript.at(8));
  EXPECT_EQ(0u, user.link->queued_ack());
  EXPECT_EQ(0u, user.link->queued_out());
  EXPECT_TRUE(user.events.empty());
  EXPECT_TRUE(net.events.empty());
}

TEST_F(LapdTest, SequenceNumbersWrapWithMessagesBothWays) {
  Establish();
  Strings const up = Messages("u", 300), down = Messages("n", 300);
  for (unsigned i = 0; i < up.size(); ++i) {
    user.send(up[i]);
    net.send(down[i]);
    if (i % 5 == 4) Pump();
  }
  Pump();
  EXPECT_EQ(up, net.received);
  EXPECT_EQ(down, user.received);
  // No N(R) error across the wraps, nothing retransmitted.
  EXPECT_TRUE(user.events.empty()) << user.events.front();
  EXPECT_TRUE(net.events.empty()) << net.events.front();
  for (Slot* s : {&user, &net}) {
    ISDN::LAPDFullState const& st = s->link->full_state();
    EXPECT_EQ(300u % 128, unsigned(st.vs));
    EXPECT_EQ(300u % 128, unsigned(st.va));
    EXPECT_EQ(300u % 128, unsigned(st.vr));
    EXPECT_EQ(0u, s->link->statistics().retrains);
    EXPECT_EQ(300u, s->link->statistics().received);
  }
}

TEST_F(LapdTest, LostFrameIsRejectedAndTheRestSentAgainInOrder) {
  Establish();
  link.a_to_b().drop(2);
  for (auto const& m : Messages("m", 3)) user.send(m);
  Pump();
  EXPECT_EQ(Messages("m", 3), net.received);
  EXPECT_EQ((Strings{"u I 0/0 cmd", "u I 1/0 cmd", "u I 2/0 cmd", "n RR 1 rsp", "n REJ 1 rsp", "u I 1/0 cmd",
                     "u I 2/0 cmd", "n RR 2 rsp", "n RR 3 rsp"}),
            transcript);
  // Sent again with exactly one header in front of the unchanged message.
  EXPECT_EQ((Bytes{0x00, 0x01, 0x02, 0x00, 'm', '1'}), user.tap.frames.at(3));
  EXPECT_EQ((Bytes{0x00, 0x01, 0x04, 0x00, 'm', '2'}), user.tap.frames.at(4));
  EXPECT_EQ(2u, user.link->statistics().retrains);
  EXPECT_EQ(1u, net.link->statistics().rejected);
  EXPECT_TRUE(user.events.empty());
}

TEST_F(LapdTest, DuplicatedFrameIsDeliveredOnce) {
  Establish();
  link.a_to_b().duplicate(1);
  user.send("once");
  user.send("next");
  Pump();
  EXPECT_EQ((Strings{"once", "next"}), net.received);
  // The copy is out of sequence and asks for a REJ; the frame that REJ
  // brings back again is one more copy, refused in turn.
  EXPECT_EQ(
      (Strings{"u I 0/0 cmd", "u I 1/0 cmd", "n RR 1 rsp", "n REJ 1 rsp", "u I 1/0 cmd", "n RR 2 rsp", "n REJ 2 rsp"}),
      transcript);
  EXPECT_EQ(2u, net.link->statistics().rejected);
  EXPECT_EQ(2u, net.link->statistics().received);
}

TEST_F(LapdTest, UnansweredSabmeIsSentFourTimesThenTheLinkIsReleased) {
  link.a_to_b().swallow(true);
  user.activate();
  std::vector<unsigned> at;
  unsigned const start = Mux::milliseconds();
  for (unsigned t = 0; t <= 5000; t += 10) {
    if (transcript.size() > at.size()) at.push_back(Mux::milliseconds() - start);
    Run(10);
  }
  EXPECT_EQ((Strings{"u SABME cmd P", "u SABME cmd P", "u SABME cmd P", "u SABME cmd P"}), transcript);
  EXPECT_EQ((std::vector<unsigned>{0, 1000, 2000, 3000}), at);
  EXPECT_EQ((Strings{"status: Unsuccessful retransmission (N200 times) - SABME",
                     "down: link error (T200 expired N200 times)"}),
            user.events);
  EXPECT_EQ(3u, user.link->full_state().state);
  EXPECT_EQ(4u, user.link->statistics().t200_expiries);
}

// A SABME sent again after T200 may be answered twice: the second UA finds
// the link established and is only reported; what the user side sent after
// the first one keeps its numbers and waits for its acknowledgement.
TEST_F(LapdTest, ALateUaLeavesWhatWasSentSinceTheFirst) {
  link.a_to_b().swallow(true);
  user.activate();
  Run(1000);
  link.a().inject({0x00, 0x01, 0x73});
  Pump();
  ASSERT_EQ(6u, user.link->full_state().state);
  user.send("m0");
  link.a().inject({0x00, 0x01, 0x73});
  Pump();
  EXPECT_EQ(1u, user.link->queued_ack());
  // The network side acknowledges m0: N(R) 1.
  link.a().inject({0x00, 0x01, 0x01, 0x02});
  user.send("m1");
  Pump();
  EXPECT_EQ((Strings{"u SABME cmd P", "u SABME cmd P", "u I 0/0 cmd", "u I 1/0 cmd"}), transcript);
  EXPECT_EQ((Strings{"up", "status: UA (F = 1)"}), user.events);
  EXPECT_EQ(6u, user.link->full_state().state);
  EXPECT_EQ(1u, user.link->queued_ack());
}

// A peer's re-establishment drops the frames it had not acknowledged, as
// Q.921 says, and the link says so in its log; one without any leaves none.
TEST_F(LapdTest, PeerReEstablishmentDropsOnlyWhatWasOutstanding) {
  Establish();
  link.a_to_b().swallow(true);
  link.a().inject({0x02, 0x01, 0x7F});
  Pump();
  EXPECT_EQ(std::string::npos, log.text().find("unacknowledged"));
  user.send("lost");
  user.send("also lost");
  link.a().inject({0x02, 0x01, 0x7F});
  Pump();
  EXPECT_EQ(0u, user.link->queued_ack());
  EXPECT_NE(std::string::npos, log.text().find("re-established by the peer: 2 unacknowledged messages dropped"))
      << log.text();
  EXPECT_EQ(6u, user.link->full_state().state);
}

// Timer recovery ends after N200 enquiries that found no answer: 3 when T200
// started it, 4 when T203 did (its first enquiry is not counted).
class LapdRecoveryTest : public LapdTest {
protected:
  void Recover(bool send_first, unsigned enquiries) {
    Establish();
    link.a_to_b().swallow(true);
    link.b_to_a().swallow(true);
    if (send_first) user.send("lost");
    Run(send_first ? 900 : 9900);
    transcript.clear();
    Run(1000 * enquiries + 200);
    Strings seen;
    for (auto const& l : transcript)
      if (l[0] == 'u') seen.push_back(l);
    Strings want(enquiries, "u RR 0 cmd P");
    want.push_back("u SABME cmd P");
    EXPECT_EQ(want, seen);
    EXPECT_EQ(4u, user.link->full_state().state);
    ASSERT_FALSE(user.statuses.empty());
    EXPECT_EQ("Unsuccessful retransmission (N200 times) - Status enquiry", user.statuses.back()->message());
    // The report keeps the state of its moment.
    std::ostringstream text;
    user.statuses.back()->out(text);
    EXPECT_NE(std::string::npos, text.str().find("\n   - state: Timer recovery\n")) << text.str();
    EXPECT_NE(std::string::npos, text.str().find("RC=3")) << text.str();
  }
};

TEST_F(LapdRecoveryTest, FromT200ThreeEnquiries) { Recover(true, 3); }

TEST_F(LapdRecoveryTest, FromT203FourEnquiries) { Recover(false, 4); }

TEST_F(LapdTest, FlowStatusFollowsTheQueueAndTheOverflowIsCounted) {
  Establish();
  // The peer is busy (RNR): everything stays queued.
  link.a().inject({0x02, 0x01, 0x05, 0x00});
  Pump();
  for (unsigned i = 1; i <= 130; ++i) {
    user.send("q" + std::to_string(i));
    if (i == 88) {
      EXPECT_TRUE(user.flow.empty());
    }
    if (i == 89) {
      EXPECT_EQ((Strings{"1 at 89"}), user.flow);
    }
  }
  EXPECT_EQ(128u, user.link->queued_out());
  EXPECT_EQ(2u, user.link->statistics().out_overflows);
  EXPECT_EQ(130u, user.link->statistics().transmitted);
  user.send("");
  EXPECT_EQ(1u, user.link->statistics().empty_messages);
  EXPECT_EQ(131u, user.link->statistics().transmitted);
  // Not busy any more (RR): the queue drains.
  link.a().inject({0x02, 0x01, 0x01, 0x00});
  Pump();
  EXPECT_EQ((Strings{"1 at 89", "0 at 64"}), user.flow);
  ASSERT_EQ(128u, net.received.size());
  EXPECT_EQ("q1", net.received.front());
  EXPECT_EQ("q128", net.received.back());
}

TEST_F(LapdTest, GetInfoReportsChangesOnly) {
  ACP::IsdnLinkInfo info;
  info.set_side(ACP::IsdnSide::network);
  EXPECT_EQ(1, net.link->GetInfo(info));
  EXPECT_EQ(0, net.link->GetInfo(info));
  EXPECT_EQ(ACP::IsdnSide::network, ACP::IsdnSide::NamedNumber(info.get_side()));
  Establish();
  EXPECT_EQ(1, net.link->GetInfo(info));
  EXPECT_EQ(ACP::LAPDState::multiple_frame_established, ACP::LAPDState::NamedNumber(info.get_lapdState()));
  EXPECT_TRUE(bool(info.get_t203run()));
  EXPECT_EQ(0, net.link->GetInfo(info));
  user.send("x");
  Pump();
  EXPECT_EQ(1, net.link->GetInfo(info));
  EXPECT_EQ(1, info.get_msuRxCount().getValue());
  EXPECT_EQ(1, info.get_vr().getValue());
  EXPECT_FALSE(bool(info.get_ackPending()));
}

TEST_F(LapdTest, ReleaseByEitherSide) {
  Establish();
  user.deactivate();
  Pump();
  EXPECT_EQ((Strings{"u DISC cmd P", "n UA rsp F"}), transcript);
  EXPECT_EQ((Strings{"down: success (UA received)"}), user.events);
  EXPECT_EQ((Strings{"down: remote error (DISC received)"}), net.events);
  EXPECT_EQ(3u, user.link->full_state().state);
  EXPECT_EQ(3u, net.link->full_state().state);
  // A DISC to a released link is answered with DM.
  transcript.clear();
  net.deactivate();
  user.deactivate();
  link.a().inject({0x02, 0x01, 0x53});
  Pump();
  EXPECT_EQ((Strings{"u DM rsp F"}), transcript);
}

TEST_F(LapdTest, ChannelErrorReleasesTheLinkAtOnce) {
  Establish();
  user.send("a");
  link.a().fail();
  Pump();
  EXPECT_EQ((Strings{"down: link error (channel closed)"}), user.events);
  EXPECT_EQ(3u, user.link->full_state().state);
  EXPECT_EQ(0u, user.link->queued_ack());
  EXPECT_FALSE(user.link->full_state().t200_running);
  // Nothing is left running.
  Run(12000);
  EXPECT_EQ(0u, user.link->statistics().t200_expiries);
  EXPECT_EQ(0u, user.link->statistics().t203_expiries);
}

TEST_F(LapdTest, RefusedFramesWaitForTheChannel) {
  Establish();
  link.a().refuse(0);
  user.send("held");
  EXPECT_EQ(1u, user.link->queued_out());
  EXPECT_NE(std::string::npos, log.text().find("LAPD[1] (Multiple frame established): tx full"));
  link.a().accept();
  Pump();
  EXPECT_EQ((Strings{"held"}), net.received);
}

TEST_F(LapdTest, EmptyPoolHoldsTheFrameBackWithoutThrowing) {
  Establish();
  std::vector<Packet> hoard;
  for (;;) {
    Packet p;
    if (!p.try_reserve_head(0)) break;
    hoard.push_back(p);
  }
  // The message has its buffer; the frame's copy finds none.
  ASSERT_FALSE(hoard.empty());
  Packet msg = hoard.back();
  hoard.pop_back();
  msg.put8('z');
  std::string const before = log.text();
  user.message(msg);
  EXPECT_EQ(1u, user.link->queued_out());
  EXPECT_TRUE(transcript.empty());
  EXPECT_NE(std::string::npos, log.text().find("no packet buffer: frame not sent", before.size()));
  // A poll from the peer (in a buffer of its own) finds no buffer for the answer.
  Packet poll = hoard.back();
  hoard.pop_back();
  for (uint8_t o : {0x02, 0x01, 0x01, 0x01}) poll.put8(o);
  std::string const before_poll = log.text();
  user.link->receive(poll);
  EXPECT_TRUE(transcript.empty());
  EXPECT_NE(std::string::npos, log.text().find("no packet buffer: frame not sent", before_poll.size()));
  hoard.clear();
  msg.clear();
  poll.clear();
  // The next event sends it.
  Run(10000);
  Pump();
  EXPECT_EQ((Strings{"z"}), net.received);
}

// N201 bounds layer 3 both ways: a longer message is not sent, a longer
// frame from the peer not passed up.
TEST_F(LapdTest, MessagesOverN201AreDropped) {
  Establish();
  EXPECT_EQ(260u, ISDN::LAPD::max_message);
  Packet big;
  big.reserve_head(0);
  big.put(ISDN::LAPD::max_message + 1);
  user.message(big);
  user.send("after");
  Pump();
  EXPECT_EQ((Strings{"after"}), net.received);
  EXPECT_NE(std::string::npos, log.text().find("discard outgoing message: 261 octets"));
  // The longest one fits.
  Packet longest;
  longest.reserve_head(0);
  std::memset(longest.put(ISDN::LAPD::max_message), 'L', ISDN::LAPD::max_message);
  user.message(longest);
  Pump();
  ASSERT_EQ(2u, net.received.size());
  EXPECT_EQ(std::string(ISDN::LAPD::max_message, 'L'), net.received.back());

  // An I frame in sequence (N(S) 0, N(R) 2) one octet too long.
  user.events.clear();
  user.received.clear();
  Bytes frame = {0x02, 0x01, 0x00, 0x04};
  frame.resize(4 + ISDN::LAPD::max_message + 1, 'x');
  link.a().inject(frame);
  Pump();
  EXPECT_TRUE(user.received.empty());
  EXPECT_EQ(1u, user.link->statistics().errors);
  EXPECT_EQ((Strings{"status: Other - N201 error"}), user.events);
  EXPECT_EQ(6u, user.link->full_state().state);
}

// Frames whose octets end too early are dropped, counted and reported; a
// foreign SAPI still goes up, counted.
TEST_F(LapdTest, FrameReader) {
  Establish();
  struct Case {
    char const* name;
    Bytes frame;
    unsigned errors, other_sapi;
    Strings received;
  } const cases[] = {
      {"address only", {0x02, 0x01}, 1, 0, {}},
      {"I without its second control octet", {0x02, 0x01, 0x00}, 1, 0, {}},
      {"RR without its second control octet", {0x02, 0x01, 0x01}, 1, 0, {}},
      {"one octet", {0x02}, 0, 0, {}},
      {"EA0 set", {0x03, 0x01, 0x01, 0x00}, 0, 0, {}},
      {"EA1 clear", {0x02, 0x00, 0x01, 0x00}, 0, 0, {}},
      {"I frame on SAPI 16", {0x42, 0x01, 0x00, 0x00, 'x'}, 0, 1, {"x"}},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    user.events.clear();
    user.received.clear();
    transcript.clear();
    ISDN::LAPD::Stats const before = user.link->statistics();
    link.a().inject(c.frame);
    Pump();
    EXPECT_EQ(c.errors, user.link->statistics().errors - before.errors);
    EXPECT_EQ(c.other_sapi, user.link->statistics().other_sapi - before.other_sapi);
    EXPECT_EQ(c.received, user.received);
    if (c.errors) {
      EXPECT_EQ((Strings{"status: Other - Receipt of frame with wrong size"}), user.events);
      EXPECT_TRUE(transcript.empty());
    }
  }
  EXPECT_NE(std::string::npos, log.text().find("frame for SAPI 16"));
  EXPECT_EQ(6u, user.link->full_state().state);
}

// One frame from the network to an established user side: what the user
// side answers, reports and becomes.
TEST_F(LapdTest, ReactionsInDataTransfer) {
  struct Case {
    char const* name;
    Bytes frame;
    Strings answers, events;
    unsigned state;
  } const cases[] = {
      {"UA F=1", {0x00, 0x01, 0x73}, {}, {"status: UA (F = 1)"}, 6},
      {"UA F=0", {0x00, 0x01, 0x63}, {}, {"status: UA (F = 0)"}, 6},
      {"DM F=1", {0x00, 0x01, 0x1F}, {}, {"status: DM (F = 1)"}, 6},
      {"DM F=0", {0x00, 0x01, 0x0F}, {"u SABME cmd P"}, {"status: Receipt of DM response (F = 0)"}, 4},
      {"FRMR", {0x00, 0x01, 0x87}, {"u SABME cmd P"}, {"status: Other - Receipt of FRMR response"}, 4},
      {"SABME", {0x02, 0x01, 0x7F}, {"u UA rsp F"}, {"status: Peer initiated re-establishment - SABME", "up"}, 6},
      {"RR with N(R) past V(S)", {0x02, 0x01, 0x01, 0x0A}, {"u SABME cmd P"}, {"status: Other - N(R) error"}, 4},
      {"RR command with P", {0x02, 0x01, 0x01, 0x01}, {"u RR 0 rsp F"}, {}, 6},
      {"RNR command with P", {0x02, 0x01, 0x05, 0x01}, {"u RR 0 rsp F"}, {}, 6},
      {"REJ response with F", {0x00, 0x01, 0x09, 0x01}, {}, {"status: Supervisory (F = 1)"}, 6},
      {"DISC", {0x02, 0x01, 0x53}, {"u UA rsp F"}, {"down: remote error (DISC received)"}, 3},
      {"XID", {0x02, 0x01, 0xBF}, {}, {}, 6},
      {"UI on a primary-rate link", {0x02, 0xFF, 0x03, 0x08}, {}, {}, 6},
  };
  link.a_to_b().swallow(true);
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    // Back to data transfer: establish again and answer the SABME.
    if (user.link->full_state().state == 3) user.activate();
    if (user.link->full_state().state == 4) link.a().inject({0x00, 0x01, 0x73});
    Pump();
    ASSERT_EQ(6u, user.link->full_state().state);
    transcript.clear();
    user.events.clear();
    link.a().inject(c.frame);
    Pump();
    EXPECT_EQ(c.answers, transcript);
    EXPECT_EQ(c.events, user.events);
    EXPECT_EQ(c.state, user.link->full_state().state);
    EXPECT_TRUE(user.received.empty());
  }
}

TEST_F(LapdTest, IdleLinkIsPolledAfterT203) {
  Establish();
  Run(9990);
  EXPECT_TRUE(transcript.empty());
  Run(10);
  // The network side's T203 started first, with the SABME.
  EXPECT_EQ((Strings{"n RR 0 cmd P", "u RR 0 cmd P", "n RR 0 rsp F", "u RR 0 rsp F"}), transcript);
  EXPECT_NE(std::string::npos, log.text().find("LAPD[1] (Multiple frame established): T203."));
  EXPECT_EQ(6u, user.link->full_state().state);
  EXPECT_EQ(1u, user.link->statistics().t203_expiries);
}

TEST_F(LapdTest, TracesAtTheirLevels) {
  user.link->set_log(2);
  net.link->set_log(1);
  Establish();
  EXPECT_NE(std::string::npos,
            log.text().find("LAPD[1] : change state \"Awaiting establishment\" -> \"Multiple frame established\""));
  EXPECT_EQ(std::string::npos, log.text().find("LAPD[2] : change state"));
  EXPECT_NE(std::string::npos, log.text().find("LAPD[1] (TEI assigned): DL-ESTABLISH"));
  // A second later: a link writes a few trace lines a second, then counts.
  Run(1000);
  user.link->set_log(3);
  user.send("x");
  Pump();
  EXPECT_NE(std::string::npos, log.text().find("LAPD[1] (Multiple frame established): tx: "));
  EXPECT_NE(std::string::npos, log.text().find("LAPD[1] (Multiple frame established): rx:"));
  std::ostringstream stat;
  auto* old = std::cout.rdbuf(stat.rdbuf());
  user.link->show_stat();
  std::cout.rdbuf(old);
  EXPECT_EQ(
      " - current state: \n   - state: Multiple frame established\n   - self: TEI=0, SAPI=0, busy=0\n"
      "   - peer: TEI=0, SAPI=0, busy=0\n   - counters: VS=1, VA=1, VR=0, RC=0\n"
      "   - internal signals: AckRQ=0, RetrRQ=0, QueuedUp=0\n"
      "   - flags: L3Initiated=1, Establishable=1, RejectException=0\n"
      "   - timers: T200 stopped, T202 stopped, T203 running\n"
      " - statistics: \n   - timers expire count: T200: 0, T202: 0, T203: 0\n   - errors: 0, retrains: 0\n"
      "   - queue overflows: out: 0, ack: 0\n",
      stat.str());
}

TEST(LapdErrors, CodesAndTheirTexts) {
  struct {
    unsigned code;
    char const* text;
  } const cases[] = {{1, "Supervisory (F = 1)"},
                     {64, "Unsuccessful retransmission (N200 times) - SABME"},
                     {8192, "Other - Receipt of frame with wrong size"},
                     {32768, "Tei Assign - Tei denied"},
                     {12, "Other - Unknown"},
                     {0, "Other - Unknown"}};
  for (auto const& c : cases) EXPECT_STREQ(c.text, ISDN::LAPD::error_text(c.code)) << c.code;
  EXPECT_STREQ("(unknown)", ISDN::statetext(8));
  EXPECT_STREQ("Timer recovery", ISDN::statetext(7));
}

}  // namespace
