// Signalling-link (pstn) and raw HDLC slots on the daemon and the default
// simulated board: two slots on the cabled trunks 0 and 1 talk to each other
// through the cross-connect and the lines, and the board's control socket
// reads back the cross-connect, taps line ends and writes captures that
// tshark reads.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
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

LGCP::Command Ss7(int trunk) {
  LGCP::Command c;
  LGCP::SS7Params& p = c.select_create().select_pstn().select_ss7();
  p.set_trunk(trunk);
  p.set_slc(0);
  p.set_dpc(1);
  p.set_opc(2);
  // Short proving.
  p.set_emergency(true);
  return c;
}

// An ISDN D-channel as a signalling link.
LGCP::Command PstnIsdn(bool bri, int trunk, bool network) {
  LGCP::Command c;
  c.select_create().select_pstn().select_isdn(Isdn(bri, trunk, network).get_create().get_isdn());
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
};

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
  EXPECT_EQ(kSuccess, Answer(UserData(msu), 10));
  LGCP::Signal got;
  ASSERT_TRUE(WaitFor(11, IsUserData, &got));
  EXPECT_EQ(Hex(msu), Hex(got.get_userData()));

  // The worked state in the next report of the receiving side.
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
  EXPECT_EQ(kSuccess, Answer(UserData(kSetup), 10));
  LGCP::Signal got;
  ASSERT_TRUE(WaitFor(11, IsUserData, &got));
  EXPECT_EQ(Hex(kSetup), Hex(got.get_userData()));

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
  EXPECT_EQ(kSuccess, Answer(UserData(kProceeding), 11));
  ASSERT_TRUE(WaitFor(10, IsUserData, &got));
  EXPECT_EQ(Hex(kProceeding), Hex(got.get_userData()));

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
  EXPECT_EQ(kSuccess, Answer(UserData(kSetup), 10));
  LGCP::Signal got;
  ASSERT_TRUE(WaitFor(11, IsUserData, &got));
  EXPECT_EQ(Hex(kSetup), Hex(got.get_userData()));
  EXPECT_EQ(kSuccess, Answer(UserData(kProceeding), 11));
  ASSERT_TRUE(WaitFor(10, IsUserData, &got));
  EXPECT_EQ(Hex(kProceeding), Hex(got.get_userData()));
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
    ASSERT_EQ(kSuccess, Answer(Packages({package(4000)}), 20));
    written = Counters(20).get_txSU().getValue() - before;
  }
  ASSERT_LT(total, 200);
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
    ASSERT_EQ(int(i) < total - 124 ? 4003u : 103u, frames[i].size());
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

}  // namespace
