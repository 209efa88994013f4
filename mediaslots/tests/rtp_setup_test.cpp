// The shared creation steps of the RTP streams on the simulated board.
#include "mediaslots/rtp_setup.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cstring>
#include <iostream>
#include <set>
#include <sstream>
#include <string>

#include "board/rtp.h"
#include "foundation/tests/loop_test_util.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "simboard/rtp.h"
#include "simboard/simulator.h"
#include "transport/testing/free_port.h"

namespace {

using P = TERM::Payload;

using looptest::Capture;

// A UDP port p with p + 1 to p + 3 free as well, on any address.
unsigned FreePorts() { return porttest::Reserve(SOCK_DGRAM, 4); }

bool PortFree(unsigned port) { return porttest::BindAny(SOCK_DGRAM, port).is_valid(); }

// The tests' port helper hands out blocks however many it handed out before,
// keeps a held block from every later hand-out and from the other protocol,
// hands a block given back out again and lets the older ones go.
TEST(FreePorts, HandOutAndGiveBack) {
  porttest::Ports& ports = porttest::Ports::Instance();
  const unsigned short kept = porttest::Reserve(SOCK_DGRAM, 4);
  ASSERT_NE(0u, kept);
  for (unsigned p = kept; p < kept + 4u; ++p) {
    EXPECT_TRUE(PortFree(p)) << p;
    EXPECT_FALSE(porttest::BindAny(SOCK_STREAM, p).is_valid()) << p;
  }
  const std::size_t held = ports.Held();
  // Batches of twice the spares: half come from the spares, half from the
  // cursor, which goes twice round the range below the ephemeral one.
  const unsigned batch = 2 * porttest::Ports::kSpares;
  for (unsigned round = 0; round < 2 * 8192 / batch; ++round) {
    std::set<unsigned> taken = {kept, kept + 1u, kept + 2u, kept + 3u};
    std::vector<unsigned short> blocks;
    for (unsigned i = 0; i < batch; ++i) {
      const unsigned short p = porttest::Reserve(SOCK_DGRAM, 2);
      ASSERT_NE(0u, p) << round;
      ASSERT_TRUE(taken.insert(p).second && taken.insert(p + 1u).second) << p;
      ASSERT_TRUE(PortFree(p) && PortFree(p + 1u)) << p;
      blocks.push_back(p);
    }
    EXPECT_EQ(held + 2 * batch, ports.Held());
    for (unsigned short p : blocks) porttest::Release(p);
    // The older half let go, the newer kept for the next batch.
    ASSERT_TRUE(porttest::BindAny(SOCK_STREAM, blocks.front()).is_valid()) << blocks.front();
    ASSERT_FALSE(porttest::BindAny(SOCK_STREAM, blocks.back()).is_valid()) << blocks.back();
  }
  EXPECT_EQ(held, ports.Held());
  porttest::Release(kept);
  EXPECT_EQ(held - 4, ports.Held());
  EXPECT_EQ(kept, porttest::Reserve(SOCK_DGRAM, 4));
}

TEST(RtpPayload, NumbersOfTheDriver) {
  const struct {
    P::NamedNumber payload;
    bool carried;
    int number;
  } cases[] = {
      {P::ptG711_Alaw, true, 8}, {P::ptG711_Ulaw, true, 0},      {P::ptG723, true, 4},
      {P::ptG729, true, 18},     {P::ptG711mcc_Alaw, true, 136}, {P::ptG711mcc_Ulaw, true, 128},
      {P::ptG728, true, 15},     {P::ptT38_UDP_TL, false, 0},    {P::ptT38_TCP_TPKT, false, 0},
      {P::ptR2S, false, 0},      {P::reserv_1, false, 0},        {P::reserv_5, false, 0},
  };
  for (const auto& c : cases) {
    int n = -1;
    EXPECT_EQ(c.carried, RtpSetup::PayloadNumber(c.payload, n)) << c.payload;
    if (c.carried) {
      EXPECT_EQ(c.number, n) << c.payload;
    }
    EXPECT_EQ(c.number, RtpSetup::TranslateCodec(c.payload, c.payload)) << c.payload;
  }
}

TEST(RtpPayload, OnlyTheG711LawsOverride) {
  EXPECT_EQ(0, RtpSetup::TranslateCodec(P::ptG723, P::ptG711_Ulaw));
  EXPECT_EQ(8, RtpSetup::TranslateCodec(P::ptG723, P::ptG711_Alaw));
  EXPECT_EQ(4, RtpSetup::TranslateCodec(P::ptG723, P::ptG729));
  EXPECT_EQ(18, RtpSetup::TranslateCodec(P::ptG729, P::ptG711mcc_Alaw));
}

TEST(RtpPayload, CodecModes) {
  EXPECT_EQ(8, RtpSetup::TranslatePayload(LGCP::CodecMode(LGCP::CodecMode::alaw), 18));
  EXPECT_EQ(0, RtpSetup::TranslatePayload(LGCP::CodecMode(LGCP::CodecMode::ulaw), 18));
  EXPECT_EQ(18, RtpSetup::TranslatePayload(LGCP::CodecMode(LGCP::CodecMode::lbrc), 18));
}

TEST(RtpSsrc, SuccessiveValuesDiffer) {
  std::set<std::uint32_t> seen;
  for (int i = 0; i < 100; ++i) seen.insert(RtpSetup::NextSsrc());
  EXPECT_GT(seen.size(), 95u);
}

class RtpCreate : public ::testing::Test {
public:
  void SetUp() override { sim.reset(); }
  void TearDown() override {
    sim.collect_closed();
    sim.reset();
  }

  TERM::RtpParams Params(unsigned remote_port) {
    TERM::RtpParams p;
    p.set_payload(P::ptG711_Alaw);
    p.set_dhost().set_iaddr("127.0.0.1");
    p.ref_dhost().set_port(remote_port);
    return p;
  }
  bool Create(const TERM::RtpParams& p, P::NamedNumber tx, P::NamedNumber rx, RtpSetup::Session& out) {
    Capture log(std::clog), err(std::cerr);
    const bool ok = RtpSetup::Create("rtp[0,0,0,0]: ", p, tx, rx, 0, out);
    text = log.text() + err.text();
    return ok;
  }

  SimBoard::Simulator& sim = SimBoard::Simulator::instance();
  std::string text;
};

TEST_F(RtpCreate, RecordFromTheStreamParameters) {
  const unsigned port = FreePorts();
  ASSERT_NE(0u, port);
  TERM::RtpParams p = Params(port - 1 > 1024 ? port - 1 : port);
  {
    TERM::HostAddress& local = p.set_shost();
    local.set_iaddr("127.0.0.2");
    local.set_port(port);
  }
  p.set_payload(P::ptG723);
  p.set_pfactor(3);
  p.set_vad(true);
  p.set_crate(5);
  p.set_ssrc(0xDEADBEEFu);
  p.set_ttl(9);
  p.set_qos_dscp(TERM::IpQoSDSCP::ef);
  RtpSetup::Session s;
  ASSERT_TRUE(Create(p, P::ptG711_Ulaw, P::ptG729, s)) << text;
  const rtp_connection_params& r = s.params;
  EXPECT_EQ(::inet_addr("127.0.0.1"), r.remote_addr);
  EXPECT_EQ(::inet_addr("127.0.0.2"), r.local_addr);
  EXPECT_EQ(port, r.local_port);
  EXPECT_EQ(0, r.tx_pt);
  EXPECT_EQ(4, r.rx_pt);
  EXPECT_EQ(3, r.packet_factor);
  EXPECT_EQ(1, r.vad);
  EXPECT_EQ(1, r.crate);
  EXPECT_EQ(0xDEADBEEFu, r.ssrc);
  EXPECT_EQ(9u, r.ttl);
  EXPECT_EQ(184, r.tos);
  // The driver has the same record and gave a channel of its pool.
  auto* rtp = sim.device<SimBoard::Rtp>(Board::Rtp::kDevice);
  ASSERT_NE(nullptr, rtp->live(s.tdm));
  EXPECT_EQ(0, std::memcmp(&r, &rtp->live(s.tdm)->params, sizeof r));
  // RTCP from local + 1 to remote + 1.
  EXPECT_FALSE(PortFree(port + 1));
  EXPECT_EQ(htons(static_cast<std::uint16_t>(p.get_dhost().get_port().getValue() + 1)), s.peer.sin_port);
  EXPECT_EQ(::inet_addr("127.0.0.1"), s.peer.sin_addr.s_addr);
}

TEST_F(RtpCreate, DefaultsWithoutOptionalFields) {
  const unsigned port = FreePorts();
  ASSERT_NE(0u, port);
  RtpSetup::Session s;
  ASSERT_TRUE(Create(Params(port), P::ptG711_Alaw, P::ptG711_Alaw, s)) << text;
  EXPECT_EQ(0u, s.params.local_addr);
  EXPECT_EQ(port, s.params.local_port);
  EXPECT_EQ(0, s.params.packet_factor);
  EXPECT_EQ(0u, s.params.ttl);
  EXPECT_EQ(-1, s.params.tos);
  EXPECT_FALSE(PortFree(port + 1));
  TERM::RtpParams cs0 = Params(port + 2);
  cs0.set_qos_dscp(TERM::IpQoSDSCP::cs0);
  RtpSetup::Session t;
  if (PortFree(port + 3)) {
    ASSERT_TRUE(Create(cs0, P::ptG711_Alaw, P::ptG711_Alaw, t)) << text;
    EXPECT_EQ(0, t.params.tos);
    EXPECT_NE(s.tdm, t.tdm);
  }
}

TEST_F(RtpCreate, PayloadNotCarriedOpensNothing) {
  const unsigned port = FreePorts();
  ASSERT_NE(0u, port);
  for (P::NamedNumber bad : {P::ptT38_UDP_TL, P::ptR2S, P::reserv_3}) {
    TERM::RtpParams p = Params(port);
    p.set_payload(bad);
    RtpSetup::Session s;
    EXPECT_FALSE(Create(p, bad, bad, s));
    EXPECT_NE(std::string::npos, text.find("rtp do not created: payload ")) << text;
    EXPECT_NE(std::string::npos, text.find("not found")) << text;
    EXPECT_TRUE(PortFree(port + 1));
    EXPECT_TRUE(sim.execute("rtp list").lines().empty());
  }
}

TEST_F(RtpCreate, TopPortIsRefused) {
  RtpSetup::Session s;
  EXPECT_FALSE(Create(Params(65535), P::ptG711_Alaw, P::ptG711_Alaw, s));
  EXPECT_NE(std::string::npos, text.find("rtp do not created")) << text;
  TERM::RtpParams p = Params(5004);
  TERM::HostAddress& local = p.set_shost();
  local.set_iaddr("127.0.0.1");
  local.set_port(65535);
  EXPECT_FALSE(Create(p, P::ptG711_Alaw, P::ptG711_Alaw, s));
  EXPECT_TRUE(sim.execute("rtp list").lines().empty());
}

TEST_F(RtpCreate, BadAddressIsRefused) {
  TERM::RtpParams p = Params(5004);
  p.ref_dhost().set_iaddr("not an address");
  RtpSetup::Session s;
  EXPECT_FALSE(Create(p, P::ptG711_Alaw, P::ptG711_Alaw, s));
  EXPECT_NE(std::string::npos, text.find("bad address")) << text;
}

TEST_F(RtpCreate, DriverFailuresCloseEverything) {
  const unsigned port = FreePorts();
  ASSERT_NE(0u, port);
  const struct {
    const char* fault;
    const char* line;
  } cases[] = {
      {"fail open /dev/rtp ENOENT", "device \"/dev/rtp\" open fail: "},
      {"fail ioctl /dev/rtp 0xC02C5200 EIO 1", "begin session fail !!! "},
      {"fail ioctl /dev/rtp 0xC0105202 ENOSPC 1", "add channel fail !!!"},
  };
  for (const auto& c : cases) {
    ASSERT_FALSE(sim.execute(c.fault).failed()) << c.fault;
    RtpSetup::Session s;
    EXPECT_FALSE(Create(Params(port), P::ptG711_Alaw, P::ptG711_Alaw, s)) << c.fault;
    EXPECT_NE(std::string::npos, text.find(c.line)) << text;
    EXPECT_FALSE(s.socket.is_valid());
    EXPECT_FALSE(s.device.is_valid());
    EXPECT_TRUE(PortFree(port + 1)) << c.fault;
    sim.collect_closed();
    EXPECT_TRUE(sim.execute("rtp list").lines().empty()) << c.fault;
  }
}

TEST_F(RtpCreate, ProbeReadsTheClassCounts) {
  RtpSetup::Resources r = RtpSetup::Probe();
  EXPECT_EQ(32u, r.g729);
  EXPECT_EQ(16u, r.g723);
  EXPECT_EQ(64u, r.g711);
  EXPECT_EQ(16u, r.g711mcc);
  EXPECT_EQ(8u, r.universal);
  ASSERT_FALSE(sim.execute("voice class 4 0").failed());
  EXPECT_EQ(0u, RtpSetup::Probe().g729);
  ASSERT_FALSE(sim.execute("fail open /dev/voice ENOENT").failed());
  Capture err(std::cerr);
  r = RtpSetup::Probe();
  EXPECT_EQ(0u, r.g723 + r.g711 + r.g711mcc + r.universal);
  EXPECT_NE(std::string::npos, err.text().find("device \"/dev/voice\" open fail: ")) << err.text();
}

}  // namespace
