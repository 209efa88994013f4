// Signalling-link (pstn) and raw HDLC slots on the daemon and the default
// simulated board: two slots on the cabled trunks 0 and 1 talk to each other
// through the cross-connect and the lines, and the board's control socket
// reads back the cross-connect, taps line ends and writes captures that
// tshark reads.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "control/testing/commands.h"
#include "daemon/tests/e2e/board_e2e.h"
#include "messages/ACP.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "simboard/testing/sim_client.h"
#include "simboard/testing/tshark.h"

using namespace e2e;
using namespace CtrlTest;

namespace {

using Bytes = std::vector<char>;

LGCP::Command Map(int rxBus, int rxChannel) {
  LGCP::Command c;
  LGCP::MapParams& p = c.select_create().select_map();
  p.set_transmitter().set_bus(unsigned(rxBus));
  p.set_transmitter().set_channel(unsigned(rxChannel));
  return c;
}

LGCP::Command Hdlc(int trunk, int address) {
  LGCP::Command c;
  LGCP::HdlcParams& p = c.select_create().select_hdlcParams();
  p.set_trunk(trunk);
  p.set_log(0);
  p.set_address(address);
  return c;
}

LGCP::Command RqBsn() {
  LGCP::Command c;
  c.select_ioctl().select_ss7RqBSN();
  return c;
}

LGCP::Command Packages(std::vector<Bytes> const& bodies) {
  LGCP::Command c;
  ASN1::SEQUENCE_OF<LGCP::HdlcPackage>& list = c.select_ioctl().select_hdlcPackages();
  for (Bytes const& b : bodies) {
    LGCP::HdlcPackage p;
    p.set_body(b);
    list.push_back(p);
  }
  return c;
}

class SignallingBoard : public BoardDaemon {
protected:
  // The slot's counters as of now: deactivate reports them before its answer,
  // so the last report read by then is that one or a later one.
  LGCP::HdlcLinkInfo Counters(long slot) {
    seen.clear();
    LGCP::Message m;
    while (controller.ReceiveSignal(m, 0) == Controller::Ok) {
    }
    EXPECT_EQ(kSuccess, Answer(Deactivate(), slot));
    LGCP::HdlcLinkInfo last;
    bool found = false;
    while (controller.ReceiveSignal(m, 0) == Controller::Ok) {
      const LGCP::Signal& s = m.get_pdu().get_signal();
      if (Controller::SlotOf(m) == slot && s.ioctl_isSelected() && s.get_ioctl().hdlcLinkInfo_isSelected()) {
        last = s.get_ioctl().get_hdlcLinkInfo();
        found = true;
      }
    }
    EXPECT_TRUE(found);
    return last;
  }

  static bool IsIoctl(LGCP::Signal const& s, bool (LGCP::IoctlResponse::*which)() const) {
    return s.ioctl_isSelected() && (s.get_ioctl().*which)();
  }

  std::string TempFile(std::string const& name) {
    return testing::TempDir() + "/" + name + "_" + std::to_string(::getpid()) + ".pcap";
  }

  // SS7 links in service on slots 10 (trunk 0) and 11 (trunk 1), timeslot 16,
  // each fed by its trunk slot 1 or 2.
  void Ss7Links() {
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_EQ(kSuccess, Answer(Trunk(0, 16), 1));
    EXPECT_EQ(kSuccess, Answer(Trunk(1, 16), 2));
    EXPECT_EQ(kSuccess, Answer(Ss7(1), 10));
    EXPECT_EQ(kSuccess, Answer(Ss7(2), 11));
    EXPECT_EQ(kSuccess, Answer(ConnectTo(10), 1));
    EXPECT_EQ(kSuccess, Answer(ConnectTo(11), 2));
    ASSERT_TRUE(WaitFor(10, IsActivated)) << daemon.Err();
    ASSERT_TRUE(WaitFor(11, IsActivated)) << daemon.Err();
    // The FISUs of the entry into service cross before anything the test
    // does to the line. The links wrote them before they said they were in
    // service; the board's tick takes what a channel wrote before it repeats
    // the channel's idle unit. Once more units crossed line end 0 16 than
    // the channels wrote, a tick has come since and taken them.
    const std::pair<long, long> start = Crossed();
    ASSERT_TRUE(Eventually([&] {
      const std::pair<long, long> now = Crossed();
      return now.first - start.first > now.second - start.second;
    })) << Board("line stat").text();
  }

  // Units that crossed line end 0 16 either way, repeats among them, and
  // those the channels wrote, repeats left out.
  std::pair<long, long> Crossed() {
    auto field = [](std::string const& line, std::string const& key) {
      const size_t at = (" " + line).find(" " + key + "=");
      return at == std::string::npos ? 0L : std::atol(line.c_str() + at + key.size() + 1);
    };
    long crossed = 0, sent = 0;
    for (std::string const& line : Lines("line stat")) {
      if (line.rfind("sent=", 0) == 0) sent = field(line, "sent");
      if (line.rfind("line 0 16 ", 0) == 0) crossed = field(line, "out") + field(line, "in");
    }
    return {crossed, sent};
  }

  // What slot `from` is given as userData reaches slot `to` whole.
  void Across(long from, long to, Bytes const& data) {
    EXPECT_EQ(kSuccess, Answer(UserData(data), from));
    LGCP::Signal got;
    ASSERT_TRUE(WaitFor(to, IsUserData, &got)) << daemon.Err();
    EXPECT_EQ(Hex(data), Hex(got.get_userData()));
  }

  // The SS7 statistics report of the slot that satisfies ok.
  bool Ss7Info(long slot, std::function<bool(ACP::SS7LinkInfo const&)> ok) {
    return WaitFor(
        slot,
        [&](LGCP::Signal const& s) {
          return IsIoctl(s, &LGCP::IoctlResponse::ss7LinkInfo_isSelected) && ok(s.get_ioctl().get_ss7LinkInfo());
        },
        nullptr, 8000);
  }
};

bool IsDeactivated(LGCP::Signal const& s) { return s.deactivated_isSelected(); }

TEST_F(SignallingBoard, Ss7LinksOnCabledTrunksComeInServiceAndCarryAnMsu) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const std::string pcap = TempFile("e2e_ss7");
  ASSERT_NO_FATAL_FAILURE(Board("pcap 0 16 mtp2 " + pcap));
  EXPECT_EQ(kSuccess, Answer(Trunk(0, 16), 1));
  EXPECT_EQ(kSuccess, Answer(Trunk(1, 16), 2));
  EXPECT_EQ(kSuccess, Answer(Ss7(1), 10));
  EXPECT_EQ(kSuccess, Answer(Ss7(2), 11));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(10), 1));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(11), 2));
  ASSERT_TRUE(WaitFor(10, IsActivated)) << daemon.Err();
  ASSERT_TRUE(WaitFor(11, IsActivated)) << daemon.Err();

  // SIO (SCCP, national) and a routing label with a few octets.
  const Bytes msu = {char(0x83), 0x01, 0x20, 0x00, 0x00, 0x11, 0x22, 0x33};
  ASSERT_NO_FATAL_FAILURE(Across(10, 11, msu));

  // The worked state in the next report of the receiving side.
  LGCP::Signal got;
  ASSERT_TRUE(WaitFor(
      11, [](LGCP::Signal const& s) { return IsIoctl(s, &LGCP::IoctlResponse::ss7LinkInfo_isSelected); }, &got, 5000));
  const ACP::SS7LinkInfo& info = got.get_ioctl().get_ss7LinkInfo();
  EXPECT_EQ(ACP::SS7State::worked, int(info.get_ss7state().asInt()));
  EXPECT_EQ(0, info.get_speedRx().getValue());
  EXPECT_EQ(0, info.get_speedTx().getValue());
  EXPECT_GE(info.get_msuRxCount().getValue(), 1);
  ASSERT_TRUE(WaitFor(
      11, [](LGCP::Signal const& s) { return IsIoctl(s, &LGCP::IoctlResponse::hdlcLinkInfo_isSelected); }, &got, 5000));
  EXPECT_GT(got.get_ioctl().get_hdlcLinkInfo().get_rxSU().getValue(), 0);

  // The BSN signal comes before the answer.
  controller.SetSignalsApart(false);
  ASSERT_TRUE(controller.Send(Controller::Make(RqBsn(), ++seq, 11)));
  bool bsnFirst = false;
  for (;;) {
    LGCP::Message m;
    ASSERT_EQ(Controller::Ok, controller.Receive(m, 5000));
    if (m.get_pdu().signal_isSelected()) {
      const LGCP::Signal& s = m.get_pdu().get_signal();
      if (Controller::SlotOf(m) == 11 && IsIoctl(s, &LGCP::IoctlResponse::ss7BSN_isSelected)) bsnFirst = true;
      continue;
    }
    EXPECT_TRUE(Controller::IsSuccess(m));
    EXPECT_EQ(seq, Controller::SeqOf(m));
    break;
  }
  EXPECT_TRUE(bsnFirst);
  controller.SetSignalsApart(true);

  // Loss of trunk 0 takes the link on it out of service.
  ASSERT_NO_FATAL_FAILURE(Board("e1 state 0 lossCarrier"));
  ASSERT_TRUE(WaitFor(
      10,
      [](LGCP::Signal const& s) {
        return IsIoctl(s, &LGCP::IoctlResponse::ss7LinkInfo_isSelected) &&
               s.get_ioctl().get_ss7LinkInfo().get_ss7state().asInt() == ACP::SS7State::idle;
      },
      nullptr, 8000));

  EXPECT_EQ(0, Stop());
  if (!SimBoard::HaveTshark()) GTEST_SKIP() << "no tshark";
  EXPECT_FALSE(SimBoard::TsharkFields(pcap, "-e mtp2.sf", "mtp2.sf").empty());
  const std::vector<std::string> msus = SimBoard::TsharkFields(pcap, "-e mtp2.li -e mtp3.service_indicator", "mtp3");
  ASSERT_EQ(1u, msus.size());
  EXPECT_EQ("8|0x03", msus[0]);
  EXPECT_FALSE(SimBoard::TsharkFields(pcap, "-e mtp2.li", "mtp2.li == 0").empty());
  std::remove(pcap.c_str());
}

TEST_F(SignallingBoard, Ss7UserDataGoesWholeOrIsRefused) {
  ASSERT_NO_FATAL_FAILURE(Ss7Links());
  // SIO and SIF: 2 to 272 SIF octets fit a signal unit.
  const struct {
    std::size_t size;
    int answer;
  } cases[] = {
      {0, LGCP::ErrorCause::invalidParams}, {2, LGCP::ErrorCause::invalidParams}, {3, kSuccess},
      {273, kSuccess},                      {274, LGCP::ErrorCause::invalidParams}, {1000, LGCP::ErrorCause::invalidParams},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    Bytes msu(c.size);
    for (std::size_t i = 0; i < c.size; ++i) msu[i] = char(i == 0 ? 0x83 : i * 7);
    EXPECT_EQ(c.answer, Answer(UserData(msu), 10));
    if (c.answer != kSuccess) continue;
    LGCP::Signal got;
    ASSERT_TRUE(WaitFor(11, IsUserData, &got));
    EXPECT_EQ(Hex(msu), Hex(got.get_userData()));
  }
  // Nothing of the refused ones went: the next MSU to arrive is the next one
  // sent.
  const Bytes last = {char(0x83), 0x11, 0x22};
  ASSERT_NO_FATAL_FAILURE(Across(10, 11, last));
  // A link out of service takes no MSU.
  ASSERT_NO_FATAL_FAILURE(Board("e1 state 0 lossCarrier"));
  ASSERT_TRUE(WaitFor(10, IsDeactivated)) << daemon.Err();
  EXPECT_EQ(LGCP::ErrorCause::busError, Answer(UserData(last), 10));
  EXPECT_EQ(0, Stop());
}

TEST_F(SignallingBoard, Ss7LinkRecoversALostMsuAndAReconnectOfOneSide) {
  ASSERT_NO_FATAL_FAILURE(Ss7Links());
  // The next unit that crosses trunk 0's line end is the MSU: lost. The FISU
  // after it tells the peer, which asks for it again.
  ASSERT_NO_FATAL_FAILURE(Board("line drop 0 16 1"));
  const Bytes msu = {char(0x83), 0x01, 0x20, 0x00, 0x00, 0x11};
  ASSERT_NO_FATAL_FAILURE(Across(10, 11, msu));
  ASSERT_TRUE(Ss7Info(11, [](ACP::SS7LinkInfo const& i) { return i.get_badSeqCntr().getValue() == 1; }));
  ASSERT_TRUE(Ss7Info(10, [](ACP::SS7LinkInfo const& i) {
    return i.get_repeatCntr().getValue() == 1 && i.get_rtbSize().getValue() == 0;
  }));
  // Delivered once: the next MSU to arrive is the next one sent.
  const Bytes next = {char(0x83), 0x02, 0x20, 0x00, 0x00, 0x22};
  ASSERT_NO_FATAL_FAILURE(Across(10, 11, next));

  // Trunk 0's side taken apart and joined again; the first SIO it sends then
  // is lost, its channel repeats it. The far side leaves service on it and
  // the controller, as level 3 does, starts that link again.
  EXPECT_EQ(kSuccess, Answer(Disconnect(), 10));
  ASSERT_TRUE(WaitFor(10, IsDeactivated));
  ASSERT_NO_FATAL_FAILURE(Board("line drop 0 16 1"));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(10), 1));
  ASSERT_TRUE(WaitFor(11, IsDeactivated)) << daemon.Err();
  EXPECT_EQ(kSuccess, Answer(Activate(), 11));
  ASSERT_TRUE(WaitFor(10, IsActivated)) << daemon.Err();
  ASSERT_TRUE(WaitFor(11, IsActivated)) << daemon.Err();
  ASSERT_NO_FATAL_FAILURE(Across(11, 10, msu));

  // Joined both ways, then taken apart and joined again on its transmit
  // side: the link starts again on the receive side it kept.
  EXPECT_EQ(kSuccess, Answer(ConnectTo(1), 10));
  seen.clear();
  EXPECT_EQ(kSuccess, Answer(Disconnect(), 1));
  ASSERT_TRUE(WaitFor(10, IsDeactivated)) << daemon.Err();
  EXPECT_EQ(kSuccess, Answer(ConnectTo(1), 10));
  ASSERT_TRUE(WaitFor(11, IsDeactivated)) << daemon.Err();
  EXPECT_EQ(kSuccess, Answer(Activate(), 11));
  ASSERT_TRUE(WaitFor(10, IsActivated)) << daemon.Err();
  ASSERT_TRUE(WaitFor(11, IsActivated)) << daemon.Err();
  ASSERT_NO_FATAL_FAILURE(Across(10, 11, next));
  EXPECT_EQ(0, Stop());
}

// Units that once set two idle links answering each other without end.
TEST_F(SignallingBoard, Ss7LinksStayBoundedWhateverTheLineDoesAndComeBackWithActivate) {
  ASSERT_NO_FATAL_FAILURE(Ss7Links());
  LGCP::Message m;
  while (controller.ReceiveSignal(m, 0) == Controller::Ok) {
  }
  seen.clear();
  const std::size_t logBefore = daemon.Err().size() + daemon.Out().size();
  for (const char* action : {
           "line inject 1 16 7e0600",
           "line inject 1 16 "
           "a76500577d275a09c8040fe7c7822fb42816096c248c6d74b528f25776b0638ee64894a5450e6b1df6dc79671391f243d94cc725e05"
           "3b2dafed2ba86905b4a207490",
           "line corrupt 1 16 4",
           "line inject 1 16 87e4ff162f9cd17b9fed00",
           "line dup 0 16 4",
           "line inject 0 16 10840200",
       })
    ASSERT_NO_FATAL_FAILURE(Board(action));
  // Two seconds of the test's own: what the line set off shows by then.
  std::map<long, int> deactivations;
  int ioctls = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (;;) {
    const int left =
        int(std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
    if (left <= 0 || controller.ReceiveSignal(m, left) != Controller::Ok) break;
    const LGCP::Signal& s = m.get_pdu().get_signal();
    if (s.deactivated_isSelected()) ++deactivations[Controller::SlotOf(m)];
    if (s.ioctl_isSelected()) ++ioctls;
  }
  const std::size_t logged = daemon.Err().size() + daemon.Out().size() - logBefore;
  // At most one change out of service each, three reports with it, and the
  // statistics every 3 s.
  EXPECT_LE(deactivations[10], 1);
  EXPECT_LE(deactivations[11], 1);
  EXPECT_LE(ioctls, 12);
  EXPECT_LE(logged, 4000u) << daemon.Err().substr(logBefore, 4000);

  EXPECT_EQ(kSuccess, Answer(Activate(), 10));
  EXPECT_EQ(kSuccess, Answer(Activate(), 11));
  ASSERT_TRUE(WaitFor(10, IsActivated)) << daemon.Err();
  ASSERT_TRUE(WaitFor(11, IsActivated)) << daemon.Err();
  const Bytes msu = {char(0x83), 0x01, 0x20, 0x00, 0x00, 0x33};
  ASSERT_NO_FATAL_FAILURE(Across(11, 10, msu));
  // Deactivated, a link stays out of service whatever its peer sends: the
  // peer started again gets no answer and gives up when its not-aligned
  // time (T2, 7 s) runs out. Only an answer could have brought either into
  // service, and only before that end.
  EXPECT_EQ(kSuccess, Answer(Deactivate(), 10));
  ASSERT_TRUE(WaitFor(11, IsDeactivated));
  EXPECT_EQ(kSuccess, Answer(Activate(), 11));
  EXPECT_TRUE(WaitFor(11, IsDeactivated, nullptr, 7000 + 10000));
  EXPECT_FALSE(WaitFor(11, IsActivated, nullptr, 0));
  EXPECT_FALSE(WaitFor(10, IsActivated, nullptr, 0));
  EXPECT_EQ(0, Stop());
}

// Units that no link can take, many at once: each kind says itself once a
// second, then its count.
TEST_F(SignallingBoard, Ss7FloodsOfBadUnitsLogLessThanTheyCarry) {
  ASSERT_NO_FATAL_FAILURE(Ss7Links());
  // Each flood ends with a unit that the link takes as it takes the others
  // and whose line tells it apart: once that line is in the log, or a count
  // that ends in it, the flood has been read and nothing of it is held back.
  // Enough units that the bound holds also when a window of the limiter
  // ends while a flood is read.
  const struct {
    const char* what;
    const char* unit;
    const char* last;
    const char* lastLine;
  } floods[] = {
      {"2 octets", "7fff", "7ffe", "length too small 7F FE"},
      // LI 5 over 10 octets, as a duplicate of what slot 11 accepted last, so
      // that only the reader acts.
      {"wrong LI", "ffff058301020304050607080a", "ffff058301020304050607080b",
       "truncate 5 octet(s) : FF FF 05 83 01 02 03 04 05 06 07 08 0B"},
  };
  for (const auto& f : floods) {
    SCOPED_TRACE(f.what);
    const std::size_t errBefore = daemon.Err().size();
    const std::size_t before = errBefore + daemon.Out().size();
    const std::size_t hostile = InjectFlood("1 16", f.unit, 400) + InjectFlood("1 16", f.last, 1);
    // What was held back is counted in a line of its own about a second later.
    EXPECT_TRUE(Eventually([&] { return contains(daemon.Err().substr(errBefore), f.lastLine); })) << daemon.Err();
    const std::size_t logged = daemon.Err().size() + daemon.Out().size() - before;
    EXPECT_LE(logged, hostile) << daemon.Err().substr(errBefore);
  }
  // Still in service.
  const Bytes msu = {char(0x83), 0x01, 0x20, 0x00, 0x00, 0x44};
  ASSERT_NO_FATAL_FAILURE(Across(10, 11, msu));
  EXPECT_EQ(0, Stop());
}

// A SETUP with a call reference the user side chose, and the network's
// CALL PROCEEDING for it.
const Bytes kSetup = {0x08, 0x01, 0x01, 0x05, 0x04, 0x03, char(0x80), char(0x90), char(0xa3)};
const Bytes kProceeding = {0x08, 0x01, char(0x81), 0x02};

TEST_F(SignallingBoard, IsdnPrimaryRateUserAgainstNetworkSurvivesAReconnect) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const std::string pcap = TempFile("e2e_lapd");
  ASSERT_NO_FATAL_FAILURE(Board("pcap 0 16 lapd " + pcap));
  EXPECT_EQ(kSuccess, Answer(Trunk(0, 16), 1));
  EXPECT_EQ(kSuccess, Answer(Trunk(1, 16), 2));
  EXPECT_EQ(kSuccess, Answer(PstnIsdn(false, 1, false), 10));
  EXPECT_EQ(kSuccess, Answer(PstnIsdn(false, 2, true), 11));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(10), 1));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(11), 2));
  ASSERT_TRUE(WaitFor(10, IsActivated)) << daemon.Err();
  ASSERT_TRUE(WaitFor(11, IsActivated)) << daemon.Err();
  ASSERT_NO_FATAL_FAILURE(Across(10, 11, kSetup));

  // Taken apart: the channel is freed and the trunk output idles.
  const SimBoard::Answer before = board.Command("mcc list");
  EXPECT_EQ(2u, before.lines.size()) << before.text();
  EXPECT_EQ(kSuccess, Answer(Disconnect(), 10));
  EXPECT_EQ("state=constant byte=213", Xc(16));
  const SimBoard::Answer after = board.Command("mcc list");
  EXPECT_EQ(1u, after.lines.size()) << after.text();
  ASSERT_TRUE(WaitFor(10, [](LGCP::Signal const& s) { return s.deactivated_isSelected(); }));

  // Connected again, the link comes up again and carries frames.
  EXPECT_EQ(kSuccess, Answer(ConnectTo(10), 1));
  ASSERT_TRUE(WaitFor(10, IsActivated)) << daemon.Err();
  ASSERT_NO_FATAL_FAILURE(Across(11, 10, kProceeding));

  EXPECT_EQ(0, Stop());
  if (!SimBoard::HaveTshark()) GTEST_SKIP() << "no tshark";
  const std::vector<std::string> controls = SimBoard::TsharkFields(pcap, "-e lapd.control", "lapd");
  EXPECT_NE(std::find(controls.begin(), controls.end(), "0x007f"), controls.end());  // SABME P
  EXPECT_NE(std::find(controls.begin(), controls.end(), "0x0073"), controls.end());  // UA F
  const std::vector<std::string> types = SimBoard::TsharkFields(pcap, "-e q931.message_type", "q931");
  EXPECT_NE(std::find(types.begin(), types.end(), "0x05"), types.end());
  std::remove(pcap.c_str());
}

TEST_F(SignallingBoard, BasicRateTerminalAgainstTheNetworkSideOfTheBus) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(kSuccess, Answer(Trunk(0, 16), 1));
  EXPECT_EQ(kSuccess, Answer(Trunk(1, 16), 2));
  EXPECT_EQ(kSuccess, Answer(PstnIsdn(true, 1, false), 10));
  EXPECT_EQ(kSuccess, Answer(PstnIsdn(true, 2, true), 11));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(10), 1));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(11), 2));
  // One direction each: nothing starts yet.
  EXPECT_EQ(0u, board.Command("mcc list").lines.size());
  EXPECT_EQ(kSuccess, Answer(ConnectTo(1), 10));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(2), 11));
  EXPECT_EQ(2u, board.Command("mcc list").lines.size());

  // TEI assigned, link established, then a message each way.
  ASSERT_TRUE(WaitFor(10, IsActivated, nullptr, 15000)) << daemon.Err();
  ASSERT_NO_FATAL_FAILURE(Across(10, 11, kSetup));
  ASSERT_NO_FATAL_FAILURE(Across(11, 10, kProceeding));
  EXPECT_EQ(0, Stop());
}

TEST_F(SignallingBoard, TrunkNumbersOutOfRangeAreRefused) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(Ss7(0), 10));
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(Ss7(5), 10));
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(PstnIsdn(false, 5, false), 10));
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(PstnIsdn(true, 9, true), 10));
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(Hdlc(0, 1), 10));
  EXPECT_EQ(kSuccess, Answer(PstnIsdn(true, 8, false), 10));
  EXPECT_EQ(kSuccess, Answer(Hdlc(8, 1), 12));

  EXPECT_EQ(kSuccess, Answer(Ss7(4), 11));
  EXPECT_EQ(kSuccess, Answer(Map(0, 5), 3));
  EXPECT_EQ(LGCP::ErrorCause::connectFail, Answer(ConnectTo(11), 3));
  // No SS7 link on an ISDN slot.
  EXPECT_EQ(LGCP::ErrorCause::unsupported, Answer(RqBsn(), 10));
  EXPECT_EQ(0, Stop());
  EXPECT_TRUE(contains(daemon.Err(), "pstn-slot: invalid trunk number: 4294967295\n")) << daemon.Err();
}

// Frames at the tapped line end, oldest first.
std::vector<Bytes> Read(SimBoard::Client& board, std::string const& end) {
  std::vector<Bytes> frames;
  const SimBoard::Answer a = board.Command("line read " + end, 5000);
  EXPECT_TRUE(a.ok) << a.text();
  for (std::string const& l : a.lines) {
    const std::string octets = Unhex(l);
    frames.emplace_back(octets.begin(), octets.end());
  }
  return frames;
}

std::vector<Bytes> Bodies(LGCP::Signal const& s) {
  std::vector<Bytes> out;
  for (LGCP::HdlcPackage const& p : s.get_ioctl().get_hdlcPackages()) out.push_back(p.get_body());
  return out;
}

TEST_F(SignallingBoard, RawHdlcNumbersPackagesBatchesFramesAndBoundsItsQueue) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(kSuccess, Answer(Trunk(0, 20), 1));
  EXPECT_EQ(kSuccess, Answer(Hdlc(1, 0x1234), 20));
  ASSERT_NO_FATAL_FAILURE(Board("line tap 0 20"));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(20), 1));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(1), 20));

  EXPECT_EQ(kSuccess, Answer(Packages({{0x0a}, {0x0b}, {0x0c, 0x0d}}), 20));
  std::vector<Bytes> frames;
  ASSERT_TRUE(Eventually([&] {
    for (Bytes const& f : Read(board, "0 20")) frames.push_back(f);
    return frames.size() >= 3;
  }));
  ASSERT_EQ(3u, frames.size());
  EXPECT_EQ("1234000a", Hex(frames[0]));
  EXPECT_EQ("1234200b", Hex(frames[1]));
  EXPECT_EQ("1234400c0d", Hex(frames[2]));

  // Sequence 5 from the device, fifth octet with bit 7 clear: at once.
  ASSERT_NO_FATAL_FAILURE(Board("line inject 0 20 1234a00000"));
  auto packages = [](LGCP::Signal const& s) { return IsIoctl(s, &LGCP::IoctlResponse::hdlcPackages_isSelected); };
  LGCP::Signal got;
  ASSERT_TRUE(WaitFor(20, packages, &got, 3000));
  EXPECT_EQ((std::vector<Bytes>{{0x00, 0x00}}), Bodies(got));
  EXPECT_EQ(kSuccess, Answer(Packages({{0x0e}}), 20));
  frames.clear();
  ASSERT_TRUE(Eventually([&] {
    for (Bytes const& f : Read(board, "0 20")) frames.push_back(f);
    return !frames.empty();
  }));
  EXPECT_EQ("1234650e", Hex(frames[0]));

  // Held while bit 7 is set; a frame with it clear flushes them together,
  // even one for another address, which is dropped. Sent at once so that
  // the batch timer cannot fire between them.
  for (const char* f : {"12340011800a", "123400228101", "4321003300"})
    ASSERT_TRUE(board.Send("line inject 0 20 " + std::string(f)));
  for (int i = 0; i < 3; ++i) {
    SimBoard::Answer a;
    ASSERT_EQ(SimBoard::Client::Ok, board.Receive(a, 3000));
    EXPECT_TRUE(a.ok) << a.text();
  }
  ASSERT_TRUE(WaitFor(20, packages, &got, 3000));
  EXPECT_EQ((std::vector<Bytes>{{0x11, char(0x80), 0x0a}, {0x22, char(0x81), 0x01}}), Bodies(got));
  // A batch nobody ends goes out after 100 ms.
  ASSERT_NO_FATAL_FAILURE(Board("line inject 0 20 12340066ff"));
  ASSERT_TRUE(WaitFor(20, packages, &got, 3000));
  EXPECT_EQ((std::vector<Bytes>{{0x66, char(0xff)}}), Bodies(got));

  // Too short for the header: dropped. Four octets: flushed at once.
  ASSERT_NO_FATAL_FAILURE(Board("line inject 0 20 1234"));
  ASSERT_NO_FATAL_FAILURE(Board("line inject 0 20 12340055"));
  ASSERT_TRUE(WaitFor(20, packages, &got, 3000));
  EXPECT_EQ((std::vector<Bytes>{{0x55}}), Bodies(got));

  // The channel stops taking frames. Single packages fill its socket until
  // one stays in the queue: the channel refuses writes from then on.
  const SimBoard::Answer list = board.Command("mcc list");
  ASSERT_EQ(1u, list.lines.size()) << list.text();
  const std::string channel = list.lines[0].substr(8, list.lines[0].find(' ') - 8);
  ASSERT_NO_FATAL_FAILURE(Board("mcc eagain " + channel + " 6000"));
  // Packages of this test so far, and the next one's number in its body.
  const int before = 4;
  int total = 0;
  auto package = [&total](std::size_t size) {
    Bytes b(size, char(0x5a));
    b[0] = char(total >> 8);
    b[1] = char(total & 0xff);
    ++total;
    return b;
  };
  for (int written = 0; written == total && total < 200;) {
    ASSERT_EQ(kSuccess, Answer(Packages({package(509)}), 20));
    written = Counters(20).get_txSU().getValue() - before;
  }
  ASSERT_LT(total, 200) << total;
  const int inSocket = total - 1;

  // 125 packages meet the queue with one in it: 119 fit, 5 are dropped.
  // Small ones, so that the command fits in one message.
  std::vector<Bytes> more;
  for (int i = 0; i < 124; ++i) more.push_back(package(100));
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(Packages(more), 20));
  EXPECT_EQ(5, Counters(20).get_txOverflow().getValue());

  // Once the channel drains, the socket's frames and then the 120 queued go
  // out in order.
  const std::size_t sent = std::size_t(inSocket + 120);
  frames.clear();
  ASSERT_TRUE(Eventually(
      [&] {
        for (Bytes const& f : Read(board, "0 20")) frames.push_back(f);
        return frames.size() >= sent;
      },
      10000));
  ASSERT_EQ(sent, frames.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    ASSERT_EQ(int(i) < total - 124 ? 512u : 103u, frames[i].size());
    EXPECT_EQ(int(i), (static_cast<unsigned char>(frames[i][3]) << 8) | static_cast<unsigned char>(frames[i][4])) << i;
    EXPECT_EQ(int((before + i) % 8), static_cast<unsigned char>(frames[i][2]) >> 5) << i;
  }
  const LGCP::HdlcLinkInfo after = Counters(20);
  EXPECT_EQ(5, after.get_txOverflow().getValue());
  EXPECT_EQ(int(sent) + before, after.get_txSU().getValue());

  // Disconnected: the channel is gone and the trunk output idles.
  EXPECT_EQ(kSuccess, Answer(Disconnect(), 1));
  EXPECT_EQ("state=constant byte=213", Xc(20));
  EXPECT_EQ(0u, board.Command("mcc list").lines.size());
  EXPECT_EQ(0, Stop());
  EXPECT_TRUE(contains(daemon.Err(), "HdlcSlot[0/*]: frame of 2 octets dropped")) << daemon.Err();
}

// Every kind of link or channel takes userData it can carry whole and
// refuses the rest before anything goes out: Q.921 links carry at most N201
// (260) octets of layer 3 and no empty message, controller channels frames
// of their receive size (512 octets, 509 after a raw HDLC header). A frame
// from the line longer than a channel's receive size is dropped by the
// channel, and counted.
TEST_F(SignallingBoard, UserDataALinkCannotCarryWholeIsRefused) {
  ASSERT_NO_FATAL_FAILURE(Start());
  struct Pair {
    int timeslot;
    long a, b;  // slots on trunks 0 and 1
  };
  const Pair pstn{16, 10, 11}, isdn{17, 12, 13}, mcc{5, 14, 15}, hdlc{20, 16, 17};
  long trunkSlot = 1;
  auto trunks = [&](Pair const& p) {
    EXPECT_EQ(kSuccess, Answer(Trunk(0, p.timeslot), trunkSlot));
    EXPECT_EQ(kSuccess, Answer(Trunk(1, p.timeslot), trunkSlot + 1));
    trunkSlot += 2;
    return trunkSlot - 2;
  };
  auto join = [&](long slot, long trunk) {
    EXPECT_EQ(kSuccess, Answer(ConnectTo(slot), trunk));
    EXPECT_EQ(kSuccess, Answer(ConnectTo(trunk), slot));
  };
  long t = trunks(pstn);
  EXPECT_EQ(kSuccess, Answer(PstnIsdn(false, 1, false), pstn.a));
  EXPECT_EQ(kSuccess, Answer(PstnIsdn(false, 2, true), pstn.b));
  join(pstn.a, t);
  join(pstn.b, t + 1);
  t = trunks(isdn);
  EXPECT_EQ(kSuccess, Answer(Isdn(false, 1, false), isdn.a));
  EXPECT_EQ(kSuccess, Answer(Isdn(false, 2, true), isdn.b));
  join(isdn.a, t);
  join(isdn.b, t + 1);
  EXPECT_EQ(kSuccess, Answer(Activate(), isdn.a));
  EXPECT_EQ(kSuccess, Answer(Activate(), isdn.b));
  t = trunks(mcc);
  EXPECT_EQ(kSuccess, Answer(Mcc(), mcc.a));
  EXPECT_EQ(kSuccess, Answer(Mcc(), mcc.b));
  join(mcc.a, t);
  join(mcc.b, t + 1);
  t = trunks(hdlc);
  EXPECT_EQ(kSuccess, Answer(Hdlc(1, 0x1234), hdlc.a));
  EXPECT_EQ(kSuccess, Answer(Hdlc(2, 0x1234), hdlc.b));
  join(hdlc.a, t);
  join(hdlc.b, t + 1);
  for (long slot : {pstn.a, pstn.b, isdn.a, isdn.b}) ASSERT_TRUE(WaitFor(slot, IsActivated)) << slot << daemon.Err();

  enum Way { ByUserData, ByPackages, ByLine };
  struct Row {
    char const* what;
    Pair pair;
    Way way;
    std::size_t size;
    int answer;
    bool reaches;
  };
  const int refused = LGCP::ErrorCause::invalidParams;
  const Row rows[] = {
      {"pstn", pstn, ByUserData, 0, refused, false},
      {"pstn", pstn, ByUserData, 2, kSuccess, true},
      {"pstn", pstn, ByUserData, 260, kSuccess, true},
      {"pstn", pstn, ByUserData, 261, refused, false},
      {"isdn", isdn, ByUserData, 0, refused, false},
      {"isdn", isdn, ByUserData, 2, kSuccess, true},
      {"isdn", isdn, ByUserData, 260, kSuccess, true},
      {"isdn", isdn, ByUserData, 261, refused, false},
      {"mcc", mcc, ByUserData, 0, refused, false},
      {"mcc", mcc, ByUserData, 2, kSuccess, true},
      {"mcc", mcc, ByUserData, 512, kSuccess, true},
      {"mcc", mcc, ByUserData, 513, refused, false},
      {"mcc from the line", mcc, ByLine, 512, kSuccess, true},
      {"mcc from the line", mcc, ByLine, 513, kSuccess, false},
      {"hdlc", hdlc, ByPackages, 0, kSuccess, true},
      {"hdlc", hdlc, ByPackages, 2, kSuccess, true},
      {"hdlc", hdlc, ByPackages, 509, kSuccess, true},
      {"hdlc", hdlc, ByPackages, 510, refused, false},
  };
  auto packages = [](LGCP::Signal const& s) { return IsIoctl(s, &LGCP::IoctlResponse::hdlcPackages_isSelected); };
  int tag = 0;
  for (Row const& r : rows) {
    SCOPED_TRACE(std::string(r.what) + " " + std::to_string(r.size));
    ++tag;
    Bytes octets(r.size);
    // Bit 7 clear in every octet: a raw HDLC frame goes up at once.
    for (std::size_t i = 0; i < octets.size(); ++i) octets[i] = char((i + std::size_t(tag)) & 0x7F);
    const Bytes data = octets;
    // Then a short one; what came before it reached the far slot.
    const Bytes marker = {0x08, 0x01, char(tag)};
    for (Bytes const* b : {&data, &marker}) {
      const int expected = b == &data ? r.answer : kSuccess;
      switch (r.way) {
        case ByUserData:
          EXPECT_EQ(expected, Answer(UserData(*b), r.pair.a));
          break;
        case ByPackages:
          EXPECT_EQ(expected, Answer(Packages({*b}), r.pair.a));
          break;
        case ByLine:
          Board("line inject 1 " + std::to_string(r.pair.timeslot) + " " + Hex(*b));
          break;
      }
    }
    std::vector<Bytes> got;
    while (got.empty() || got.back() != marker) {
      LGCP::Signal s;
      ASSERT_TRUE(WaitFor(r.pair.b, r.way == ByPackages ? packages : IsUserData, &s)) << daemon.Err();
      if (r.way == ByPackages)
        for (Bytes const& body : Bodies(s)) got.push_back(body);
      else
        got.push_back(s.get_userData());
    }
    const std::vector<Bytes> expected = r.reaches ? std::vector<Bytes>{data, marker} : std::vector<Bytes>{marker};
    EXPECT_EQ(expected, got);
  }
  // The frame too long for the channel's receive packets is counted there.
  const SimBoard::Answer list = board.Command("mcc list");
  EXPECT_TRUE(contains(list.text(), "toolong=1")) << list.text();
  EXPECT_EQ(0, Stop());
}

// A D-channel link disconnected and at once connected again comes back each
// time, on either side of the connection, and a message given at once goes
// across once it is up: primary rate (whose network side says so in its link
// information) and basic rate on pstn slots, and an isdn slot, whose channel
// stays through the reconnects.
TEST_F(SignallingBoard, LinksComeBackAfterImmediateReconnects) {
  ASSERT_NO_FATAL_FAILURE(Start());
  auto isdnInfo = [](LGCP::Signal const& s) { return IsIoctl(s, &LGCP::IoctlResponse::isdnLinkInfo_isSelected); };
  auto deactivated = [](LGCP::Signal const& s) { return s.deactivated_isSelected(); };
  auto join = [&](long slot, long trunk) {
    EXPECT_EQ(kSuccess, Answer(ConnectTo(slot), trunk));
    EXPECT_EQ(kSuccess, Answer(ConnectTo(trunk), slot));
  };
  // Taken apart on the slot's receive side (even rounds) or its transmit
  // side, put together at once, and a message given before the link is up.
  auto rounds = [&](long slot, long trunk, long peer, bool reported) {
    LGCP::Signal got;
    for (int i = 0; i < 20; ++i) {
      SCOPED_TRACE(std::to_string(slot) + " round " + std::to_string(i));
      seen.clear();
      if (i % 2 == 0) {
        EXPECT_EQ(kSuccess, Answer(Disconnect(), slot));
        EXPECT_EQ(kSuccess, Answer(ConnectTo(slot), trunk));
      } else {
        EXPECT_EQ(kSuccess, Answer(Disconnect(), trunk));
        EXPECT_EQ(kSuccess, Answer(ConnectTo(trunk), slot));
      }
      const Bytes setup = {0x08, 0x01, char(i + 1), 0x05};
      EXPECT_EQ(kSuccess, Answer(UserData(setup), slot));
      if (reported) {
        ASSERT_TRUE(WaitFor(slot, deactivated)) << daemon.Err();
        ASSERT_TRUE(WaitFor(slot, IsActivated)) << daemon.Err();
      }
      ASSERT_TRUE(WaitFor(peer, IsUserData, &got)) << daemon.Err();
      EXPECT_EQ(Hex(setup), Hex(got.get_userData()));
    }
  };

  EXPECT_EQ(kSuccess, Answer(Trunk(0, 16), 1));
  EXPECT_EQ(kSuccess, Answer(Trunk(1, 16), 2));
  EXPECT_EQ(kSuccess, Answer(PstnIsdn(false, 1, false), 10));
  EXPECT_EQ(kSuccess, Answer(PstnIsdn(false, 2, true), 11));
  join(10, 1);
  join(11, 2);
  ASSERT_TRUE(WaitFor(10, IsActivated)) << daemon.Err();
  ASSERT_TRUE(WaitFor(11, IsActivated)) << daemon.Err();
  LGCP::Signal info;
  ASSERT_TRUE(WaitFor(11, isdnInfo, &info));
  EXPECT_EQ(ACP::IsdnSide::network, int(info.get_ioctl().get_isdnLinkInfo().get_side().asInt()));
  ASSERT_TRUE(WaitFor(10, isdnInfo, &info));
  EXPECT_EQ(ACP::IsdnSide::user, int(info.get_ioctl().get_isdnLinkInfo().get_side().asInt()));
  rounds(10, 1, 11, true);
  rounds(11, 2, 10, true);

  EXPECT_EQ(kSuccess, Answer(Trunk(0, 17), 3));
  EXPECT_EQ(kSuccess, Answer(Trunk(1, 17), 4));
  EXPECT_EQ(kSuccess, Answer(PstnIsdn(true, 1, false), 12));
  EXPECT_EQ(kSuccess, Answer(PstnIsdn(true, 2, true), 13));
  join(12, 3);
  join(13, 4);
  ASSERT_TRUE(WaitFor(12, IsActivated, nullptr, 15000)) << daemon.Err();
  rounds(12, 3, 13, true);
  rounds(13, 4, 12, true);

  EXPECT_EQ(kSuccess, Answer(Trunk(0, 18), 5));
  EXPECT_EQ(kSuccess, Answer(Trunk(1, 18), 6));
  EXPECT_EQ(kSuccess, Answer(Isdn(false, 1, false), 14));
  EXPECT_EQ(kSuccess, Answer(Isdn(false, 2, true), 15));
  join(14, 5);
  join(15, 6);
  EXPECT_EQ(kSuccess, Answer(Activate(), 14));
  EXPECT_EQ(kSuccess, Answer(Activate(), 15));
  ASSERT_TRUE(WaitFor(14, IsActivated)) << daemon.Err();
  ASSERT_TRUE(WaitFor(15, IsActivated)) << daemon.Err();
  rounds(14, 5, 15, false);
  EXPECT_EQ(0, Stop());
}

// Frames from a hostile far end, each of which the daemon drops with lines
// in its log, cost it fewer log octets than they cost the line: frames on a
// foreign SAPI or too short to a primary-rate link traced at its highest
// level, and runt frames to a raw HDLC slot. Each flood comes within a
// second of its victim's last line, or before its first.
TEST_F(SignallingBoard, LineFloodsLogLessThanTheyCarry) {
  ASSERT_NO_FATAL_FAILURE(Start());
  auto join = [&](long slot, long trunk) {
    EXPECT_EQ(kSuccess, Answer(ConnectTo(slot), trunk));
    EXPECT_EQ(kSuccess, Answer(ConnectTo(trunk), slot));
  };
  EXPECT_EQ(kSuccess, Answer(Trunk(0, 20), 1));
  EXPECT_EQ(kSuccess, Answer(Hdlc(1, 0x1234), 20));
  join(20, 1);
  EXPECT_EQ(kSuccess, Answer(Trunk(0, 16), 2));
  EXPECT_EQ(kSuccess, Answer(Trunk(1, 16), 3));
  // Traced at the highest level: every frame it reads makes lines.
  EXPECT_EQ(kSuccess, Answer(PstnIsdn(false, 1, false, 4), 10));
  EXPECT_EQ(kSuccess, Answer(PstnIsdn(false, 2, true), 11));
  join(10, 2);
  join(11, 3);
  ASSERT_TRUE(WaitFor(10, IsActivated)) << daemon.Err();

  // Each flood ends with a frame of its own whose line the victim's others
  // do not carry (an address without its extension bit, a runt of another
  // size). Once that line is in the log, or a count that ends in it, the
  // flood has been read and nothing of it is held back any more. Enough
  // frames that the bound holds also when a window of the limiter ends
  // while a flood is read: the one the set-up opened may end anywhere in
  // the first.
  const struct {
    char const* end;
    char const* frame;
    char const* last;
    char const* lastLine;
  } floods[] = {
      {"0 16", "420103", "420003", "rx: 42 00 03"},
      {"0 16", "0201", "020003", "rx: 02 00 03"},
      {"0 20", "1234", "56", "HdlcSlot[0/*]: frame of 1 octets dropped"},
  };
  for (auto const& f : floods) {
    SCOPED_TRACE(f.frame);
    const size_t before = LogOctets();
    const size_t hostile = InjectFlood(f.end, f.frame, 400) + InjectFlood(f.end, f.last, 1);
    // What was held back is counted in a line of its own about a second later.
    EXPECT_TRUE(Eventually([&] { return contains(daemon.Err().substr(before), f.lastLine); })) << daemon.Err();
    EXPECT_LE(LogOctets() - before, hostile) << daemon.Err().substr(before);
  }
  EXPECT_EQ(0, Stop());
}

}  // namespace
