// RTP slots on the daemon and the default simulated board: streams created
// on "/dev/rtp", their RTCP packets caught by a UDP receiver and read back by
// tshark, their driver requests and events seen through the board's control
// socket, and the codec resources of "/dev/voice" in the query signal.
#include <arpa/inet.h>
#include <poll.h>
#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "control/testing/commands.h"
#include "daemon/tests/e2e/board_e2e.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "simboard/testing/sim_client.h"
#include "simboard/testing/tshark.h"

using namespace e2e;
using namespace CtrlTest;

namespace {

// The first channel of the default board's RTP engine.
const int kFirstTdm = 512;

// The texts the stream's SDES packet carries.
const char kCname[] = "Tamsora Quennavox";
const char kEmail[] = "support@tamsora.example";
const char kPhone[] = "+44 20 7946 0100";

using Tweak = RtpTweak;

// One datagram per pcap packet, from UDP port src to dst; tshark's fields
// of each, split by '|'.
std::vector<std::string> Tshark(const std::vector<std::string>& packets, unsigned src, unsigned dst,
                                const std::string& fields) {
  return SimBoard::TsharkUdp(packets, src, dst, "rtcp", fields);
}

std::uint32_t Ssrc(const std::string& packet) {
  if (packet.size() < 8) return 0;
  const auto b = [&](int i) { return std::uint32_t(static_cast<unsigned char>(packet[i])); };
  return b(4) << 24 | b(5) << 16 | b(6) << 8 | b(7);
}

class RtpBoard : public BoardDaemon {
protected:
  void Restart() {
    EXPECT_EQ(0, Stop());
    controller.Close();
    board.Close();
    ASSERT_NO_FATAL_FAILURE(Start());
  }

  // The value after "key=" in the lines of rtp get.
  std::string Get(int tdm, const std::string& key) { return Value("rtp get " + std::to_string(tdm), key); }
  // The log entries of the channel's sessions: "<session>: <entry>".
  std::vector<std::string> Log(int tdm) {
    const SimBoard::Answer a = Board("rtp log " + std::to_string(tdm));
    std::vector<std::string> out;
    for (const std::string& l : a.lines) out.push_back(l.substr(l.find(' ') + 1));
    return out;
  }

  // Creates slot n as a stream to the receiver's port - 1; its two stream
  // signals are taken.
  int Create(long slot, int local, const Tweak& tweak = nullptr) {
    const int a = Answer(Rtp(receiver.port - 1, local, tweak), slot);
    if (a == kSuccess) {
      EXPECT_EQ(2u, Signals(2).size());
    }
    return a;
  }

  std::string Logs() const { return daemon.Out() + daemon.Err(); }

  UdpReceiver receiver;
};

// The block last given back touches the port to avoid: the next local port
// is another one, not that block again and again.
TEST_F(RtpBoard, LocalPortsAvoidTheGivenPort) {
  for (unsigned side : {0u, 1u}) {
    const unsigned first = LocalPort(0);
    ASSERT_NE(0u, first);
    porttest::Release(static_cast<unsigned short>(first));
    const unsigned avoid = first + side, local = LocalPort(avoid);
    ASSERT_NE(0u, local) << side;
    EXPECT_TRUE(local + 1 < avoid || local > avoid) << local << " " << avoid;
    porttest::Release(static_cast<unsigned short>(local));
  }
}

TEST_F(RtpBoard, SdesAtCreationAndByeAtDestructionReadByTshark) {
  if (!SimBoard::HaveTshark() || !SimBoard::HaveText2pcap())
    GTEST_SKIP() << "tshark is not installed (tools/deps installs it)";
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(receiver.Bind());
  const unsigned local = LocalPort(receiver.port);
  ASSERT_NE(0u, local);
  ASSERT_EQ(kSuccess, Create(1, int(local), [](LGCP::CreateRtpParams& p) { p.ref_codecRTP().set_ssrc(0xC0FFEE01u); }));
  const std::string sdes = receiver.Receive();
  ASSERT_FALSE(sdes.empty());
  EXPECT_EQ(kSuccess, Answer(Destroy(), 1));
  const std::string bye = receiver.Receive();
  ASSERT_FALSE(bye.empty());

  const auto lines = Tshark({sdes, bye}, local + 1, receiver.port,
                            "-e rtcp.pt -e rtcp.length_check -e rtcp.ssrc.identifier -e rtcp.sdes.text");
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(std::string("202|1|0xc0ffee01|") + kCname + "," + kEmail + "," + kPhone, lines[0]);
  EXPECT_EQ("203|1|0xc0ffee01|session end", lines[1]);
  EXPECT_EQ(0, Stop());
}

TEST_F(RtpBoard, WithoutSsrcOneRandomSsrcPerStreamAnotherInTheNextRun) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(receiver.Bind());
  std::uint32_t first = 0;
  for (int run = 0; run < 2; ++run) {
    if (run) {
      ASSERT_NO_FATAL_FAILURE(Restart());
    }
    const unsigned local = LocalPort(receiver.port);
    ASSERT_EQ(kSuccess, Create(1, int(local)));
    const std::string sdes = receiver.Receive();
    EXPECT_EQ(kSuccess, Answer(Destroy(), 1));
    const std::string bye = receiver.Receive();
    ASSERT_FALSE(sdes.empty());
    ASSERT_FALSE(bye.empty());
    EXPECT_EQ(Ssrc(sdes), Ssrc(bye));
    if (run == 0)
      first = Ssrc(sdes);
    else
      EXPECT_NE(first, Ssrc(sdes));
  }
  EXPECT_EQ(0, Stop());
}

TEST_F(RtpBoard, DriverRecordOfTheStream) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(receiver.Bind());
  const unsigned remote = receiver.port - 1;
  const unsigned local = LocalPort(receiver.port);
  ASSERT_EQ(kSuccess, Create(1, int(local), [](LGCP::CreateRtpParams& p) {
              p.ref_codecRTP().set_pfactor(3);
              p.ref_codecRTP().set_ttl(32);
            }));
  EXPECT_EQ("127.0.0.1:" + std::to_string(remote), Get(kFirstTdm, "remote"));
  EXPECT_EQ("127.0.0.1:" + std::to_string(local), Get(kFirstTdm, "local"));
  EXPECT_EQ("3", Get(kFirstTdm, "packet_factor"));
  EXPECT_EQ("32", Get(kFirstTdm, "ttl"));
  EXPECT_EQ("-1", Get(kFirstTdm, "tos"));
  EXPECT_EQ("8", Get(kFirstTdm, "rx_pt"));

  // No shost: the remote port is the local one too (so not the receiver's).
  const unsigned alone = LocalPort(receiver.port);
  ASSERT_EQ(kSuccess, Answer(Rtp(alone, -1,
                                 [](LGCP::CreateRtpParams& p) {
                                   p.ref_codecRTP().set_qos_dscp(TERM::IpQoSDSCP::ef);
                                   p.ref_codecRTP().set_payload(TERM::Payload::ptG723);
                                   p.set_txPayload(TERM::Payload::ptG711_Ulaw);
                                 }),
                             2));
  EXPECT_EQ(2u, Signals(2).size());
  EXPECT_EQ("0.0.0.0:" + std::to_string(alone), Get(kFirstTdm + 1, "local"));
  EXPECT_FALSE(UdpPortFree(alone + 1));
  EXPECT_EQ("184", Get(kFirstTdm + 1, "tos"));
  EXPECT_EQ("0", Get(kFirstTdm + 1, "tx_pt"));
  // The receive side keeps the A-law the command asked for.
  EXPECT_EQ("8", Get(kFirstTdm + 1, "rx_pt"));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 2));

  const unsigned other = LocalPort(receiver.port);
  ASSERT_EQ(kSuccess, Create(2, int(other), [](LGCP::CreateRtpParams& p) {
              p.ref_codecRTP().set_payload(TERM::Payload::ptG723);
              p.set_txPayload(TERM::Payload::ptG729);
            }));
  EXPECT_EQ("4", Get(kFirstTdm + 1, "tx_pt"));

  const unsigned t38 = LocalPort(receiver.port);
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources,
            Answer(Rtp(remote, int(t38),
                       [](LGCP::CreateRtpParams& p) { p.ref_codecRTP().set_payload(TERM::Payload::ptT38_UDP_TL); }),
                   3));
  EXPECT_TRUE(Eventually([&] { return contains(Logs(), "not found"); })) << Logs();
  EXPECT_TRUE(contains(Logs(), "rtp do not created: payload ")) << Logs();
  EXPECT_TRUE(UdpPortFree(t38 + 1));
  EXPECT_EQ(0, Stop());
}

TEST_F(RtpBoard, DestroyTearsTheSessionDownAndDisablesTheChannel) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(receiver.Bind());
  ASSERT_EQ(kSuccess, Create(1, int(LocalPort(receiver.port))));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 1));
  std::vector<std::string> log;
  EXPECT_TRUE(Eventually([&] {
    log = Log(kFirstTdm);
    return !log.empty() && log.back() == "1: close";
  }));
  const std::vector<std::string> tail = {"1: 'R' 10", "1: 'R' 3", "1: 'R' 11", "1: 'R' 13 1", "1: close"};
  ASSERT_GE(log.size(), tail.size());
  EXPECT_EQ(tail, std::vector<std::string>(log.end() - tail.size(), log.end()));
  EXPECT_EQ("state=disabled", Xc(kFirstTdm));
  EXPECT_EQ(0, Stop());
}

TEST_F(RtpBoard, TheNextStreamOnAChannelFindsNoEchoCancellerAndNoTone) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(receiver.Bind());
  const std::string ts = std::to_string(kFirstTdm);
  // What the first stream switches on in the tone driver.
  const char* const switched[] = {"dtmf", "rejection", "echo"};
  auto generator = [&] {
    const std::vector<std::string> lines = Lines("dtmf gen " + ts);
    return lines.empty() ? "?" : lines.back().substr(lines.back().find(' ') + 1);
  };
  ASSERT_EQ(kSuccess, Create(1, int(LocalPort(receiver.port)), [](LGCP::CreateRtpParams& p) {
              TERM::RtpEcho& e = p.ref_codecRTP().set_echo();
              e.set_suppressor(true);
              e.set_canceller(true);
            }));
  EXPECT_EQ(kSuccess, Answer(Ioctl([](LGCP::IoctlParams& p) { p.select_dtmf_enable(true); }), 1));
  EXPECT_EQ(kSuccess, Answer(Ioctl([](LGCP::IoctlParams& p) { p.select_dtmf_reject_enable(true); }), 1));
  for (const char* field : switched) EXPECT_EQ("on", Value("dtmf get " + ts, field)) << field;
  EXPECT_EQ(kSuccess, Answer(Ioctl([](LGCP::IoctlParams& p) { p.select_activateWaitTone(); }), 1));
  EXPECT_EQ("tone 425 0 2048 2048", generator());
  EXPECT_EQ(kSuccess, Answer(Destroy(), 1));
  EXPECT_TRUE(Eventually([&] { return generator() == "off"; })) << generator();

  ASSERT_EQ(kSuccess, Create(2, int(LocalPort(receiver.port))));
  EXPECT_EQ("2", Get(kFirstTdm, "session"));
  for (const char* field : switched) EXPECT_EQ("off", Value("dtmf get " + ts, field)) << field;
  EXPECT_EQ("off", generator());
  EXPECT_EQ(0, Stop());
}

TEST_F(RtpBoard, ConnectedToATrunkSlot) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(receiver.Bind());
  ASSERT_EQ(kSuccess, Create(1, int(LocalPort(receiver.port))));
  ASSERT_EQ(kSuccess, Answer(Trunk(0, 5), 2));
  EXPECT_EQ(2u, Signals(2).size());
  EXPECT_EQ(kSuccess, Answer(ConnectTo(2), 1));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(1), 2));
  EXPECT_EQ("state=fed source=" + std::to_string(kFirstTdm), Xc(5));
  EXPECT_EQ("state=fed source=5", Xc(kFirstTdm));
  EXPECT_EQ("input=1", "input=" + Get(kFirstTdm, "input"));
  EXPECT_EQ("1: 'R' 4", Log(kFirstTdm).back());
  EXPECT_EQ(kSuccess, Answer(Disconnect(), 1));
  EXPECT_EQ("1: 'R' 5", Log(kFirstTdm).back());
  EXPECT_EQ("0", Get(kFirstTdm, "input"));

  EXPECT_EQ(kSuccess, Answer(Ioctl([](LGCP::IoctlParams& p) { p.select_dtmf_enable(true); }), 1));
  // The mixer ports' receiver requests are not the stream's.
  EXPECT_EQ(LGCP::ErrorCause::unsupported, Answer(Ioctl([](LGCP::IoctlParams& p) { p.select_iva_enable(true); }), 1));
  EXPECT_EQ(LGCP::ErrorCause::unsupported, Answer(Ioctl([](LGCP::IoctlParams& p) { p.select_delays(); }), 1));
  Board("dtmf event " + std::to_string(kFirstTdm) + " 5");
  const auto got = Signals(1, 3000);
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(1, Controller::SlotOf(got[0]));
  const LGCP::Signal& s = got[0].get_pdu().get_signal();
  ASSERT_TRUE(s.tonec_isSelected()) << s;
  ASSERT_TRUE(s.get_tonec().get_event().dtmf_isSelected()) << s;
  EXPECT_EQ(5, s.get_tonec().get_event().get_dtmf().getValue());
  EXPECT_EQ(0, Stop());
}

TEST_F(RtpBoard, PayloadDetection) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(receiver.Bind());
  ASSERT_EQ(kSuccess, Create(1, int(LocalPort(receiver.port))));
  EXPECT_EQ(kSuccess, Answer(Ioctl([](LGCP::IoctlParams& p) { p.select_pd_enable().set_timeout(300); }), 1));
  EXPECT_EQ("1: 'R' 12 1 0 300 0 0 300 0 0 0", Log(kFirstTdm).back());
  // Of two events read in turn, only the second is the detector's: the first
  // signal is that one's.
  Board("rtp event " + std::to_string(kFirstTdm) + " 2 9 0");
  Board("rtp event " + std::to_string(kFirstTdm) + " 1 7 300");
  const auto got = Signals(1, 10000);
  ASSERT_EQ(1u, got.size());
  const LGCP::Signal& s = got[0].get_pdu().get_signal();
  EXPECT_EQ(1, Controller::SlotOf(got[0]));
  ASSERT_TRUE(s.rtp_isSelected()) << s;
  EXPECT_EQ(7, s.get_rtp().get_pd().get_value().getValue());
  EXPECT_EQ(300, s.get_rtp().get_pd().get_timeout().getValue());
  EXPECT_EQ(kSuccess, Answer(Ioctl([](LGCP::IoctlParams& p) { p.select_pd_disable(); }), 1));
  EXPECT_EQ("1: 'R' 13 1", Log(kFirstTdm).back());
  EXPECT_EQ(0, Stop());
}

TEST_F(RtpBoard, EncoderModeRestartsTheSessionOnTheSameChannel) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(receiver.Bind());
  ASSERT_EQ(kSuccess, Create(1, int(LocalPort(receiver.port))));
  const auto ulaw = Ioctl([](LGCP::IoctlParams& p) { p.select_encoder_mode(LGCP::CodecMode::ulaw); });
  EXPECT_EQ(kSuccess, Answer(ulaw, 1));
  std::vector<std::string> log;
  EXPECT_TRUE(Eventually([&] {
    log = Log(kFirstTdm);
    return std::find(log.begin(), log.end(), "1: close") != log.end();
  }));
  EXPECT_EQ("2", Get(kFirstTdm, "session"));
  EXPECT_EQ("0", Get(kFirstTdm, "tx_pt"));
  EXPECT_EQ("8", Get(kFirstTdm, "rx_pt"));
  EXPECT_EQ("2: 'R' 2 ask=" + std::to_string(kFirstTdm) + " tdm=" + std::to_string(kFirstTdm), Log(kFirstTdm).back());
  Board("rtp event " + std::to_string(kFirstTdm) + " 1 3 100");
  const auto got = Signals(1, 3000);
  ASSERT_EQ(1u, got.size());
  EXPECT_TRUE(got[0].get_pdu().get_signal().rtp_isSelected());

  // The same mode again asks nothing of the driver.
  const std::size_t before = Log(kFirstTdm).size();
  EXPECT_EQ(kSuccess, Answer(ulaw, 1));
  EXPECT_EQ(before, Log(kFirstTdm).size());
  EXPECT_TRUE(contains(Logs(), " - Nothing to do")) << Logs();
  EXPECT_TRUE(contains(Logs(), "rtp[" + std::to_string(kFirstTdm) + "]: do restart RTP session (change tx payload):"))
      << Logs();
  EXPECT_TRUE(contains(Logs(), " - OK\n")) << Logs();

  Board("fail open /dev/rtp ENOENT");
  EXPECT_EQ(LGCP::ErrorCause::unsupported,
            Answer(Ioctl([](LGCP::IoctlParams& p) { p.select_encoder_mode(LGCP::CodecMode::alaw); }), 1));
  EXPECT_TRUE(Eventually([&] {
    return contains(Logs(), "rtp[" + std::to_string(kFirstTdm) + "]: restart: open fail: ");
  })) << Logs();
  EXPECT_TRUE(contains(Logs(), "fail to restart RTP session!"));
  // The slot still goes away cleanly.
  EXPECT_EQ(kSuccess, Answer(Destroy(), 1));
  EXPECT_EQ("state=disabled", Xc(kFirstTdm));
  EXPECT_EQ(0, Stop());
}

TEST_F(RtpBoard, TopPortIsRefused) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(Rtp(65535, -1), 1));
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(Rtp(5004, 65535), 1));
  EXPECT_TRUE(Board("rtp list").lines.empty());
  EXPECT_EQ(0, Stop());
}

TEST_F(RtpBoard, QueryReportsTheCodecClasses) {
  ASSERT_NO_FATAL_FAILURE(Start());
  auto query = [&] {
    std::vector<int> counts;
    EXPECT_EQ(kSuccess, Answer(Query(), CtrlTest::kNone));
    for (const LGCP::Message& m : Signals(1)) {
      const LGCP::Signal& s = m.get_pdu().get_signal();
      if (!s.query_isSelected()) continue;
      const LGCP::Resources& r = s.get_query();
      counts = {r.get_rtp_g729().getValue(), r.get_rtp_g723().getValue(), r.get_rtp_g711().getValue(),
                r.get_rtp_g711mcc().getValue(), r.get_universal().getValue()};
    }
    return counts;
  };
  EXPECT_EQ((std::vector<int>{32, 16, 64, 16, 8}), query());
  Board("voice class 4 0");
  EXPECT_EQ((std::vector<int>{0, 16, 64, 16, 8}), query());
  // The LEMZ and ED-137 factories probe the voice driver too and the mixer
  // factory reads its version: all four opens fail.
  Board("fail open /dev/voice ENOENT 1");
  Board("fail open /dev/voice ENOENT 2");
  Board("fail open /dev/voice ENOENT 3");
  Board("fail open /dev/voice ENOENT 4");
  EXPECT_EQ((std::vector<int>{0, 0, 0, 0, 0}), query());
  EXPECT_EQ(0, Stop());
}

}  // namespace
