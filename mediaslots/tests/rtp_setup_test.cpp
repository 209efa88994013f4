// The shared creation steps of the RTP streams on the simulated board.
#include "mediaslots/rtp_setup.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

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

// A host of the model for the port helper: which ports the helper and other
// test processes claim, and which ports the helper and other programs bind.
class ModelHost : public porttest::Host {
public:
  bool Claim(unsigned port) override {
    ++claims;
    if (claimed.count(port)) return false;
    claimed[port] = true;
    return true;
  }
  void Unclaim(unsigned port) override {
    const auto at = claimed.find(port);
    if (at != claimed.end() && at->second) claimed.erase(at);
  }
  bool Hold(int type, unsigned port) override {
    if (Bound(type, port)) return false;
    held[port] = type;
    return true;
  }
  void Unhold(unsigned port) override { held.erase(port); }
  bool Free(int type, unsigned port) override { return !Bound(type, port); }

  bool Bound(int type, unsigned port) const {
    const auto at = held.find(port);
    return others[type == SOCK_DGRAM].count(port) || (at != held.end() && at->second == type);
  }
  bool Mine(unsigned port) const {
    const auto at = claimed.find(port);
    return at != claimed.end() && at->second;
  }

  // Claims: true the helper's, false another test process's.
  std::map<unsigned, bool> claimed;
  // The helper's bound ports and their type.
  std::map<unsigned, int> held;
  // Ports other programs bind, by type (stream, datagram).
  std::set<unsigned> others[2];
  unsigned claims = 0;
};

constexpr porttest::Range kModelRange = {20000, 40};

int Other(int type) { return type == SOCK_STREAM ? SOCK_DGRAM : SOCK_STREAM; }

// Random hand-outs and give-backs of both types and several sizes, while other
// test processes claim ports and other programs bind them: a block handed out
// is claimed, held for the other type, free for its own and apart from every
// other block held; 0 comes only when no run of free ports is left.
TEST(FreePorts, ModelOfHandOutsAndGiveBacks) {
  ModelHost host;
  porttest::Ports ports(host, kModelRange, 7);
  std::mt19937 random(1);
  std::map<unsigned, std::pair<int, unsigned>> blocks;  // first: type, count
  const auto inBlock = [&](unsigned p) {
    const auto at = blocks.upper_bound(p);
    return at != blocks.begin() && p < std::prev(at)->first + std::prev(at)->second.second;
  };
  const auto usable = [&](unsigned p) {
    const auto claim = host.claimed.find(p);
    return !inBlock(p) && (claim == host.claimed.end() || claim->second) && !host.others[0].count(p) &&
           !host.others[1].count(p);
  };
  unsigned zeros = 0, reused = 0;
  for (unsigned step = 0; step < 20000; ++step) {
    const unsigned port = kModelRange.bottom + random() % kModelRange.span;
    // Phases that fill the range and phases that drain it.
    const bool filling = step / 500 % 2 == 0;
    switch (random() % 10) {
      case 0:  // another program binds a port or lets one go
        if (!host.others[step % 2].erase(port) && !host.Bound(step % 2 ? SOCK_DGRAM : SOCK_STREAM, port))
          host.others[step % 2].insert(port);
        break;
      case 1:  // another test process claims a port or lets one go
        if (host.claimed.count(port) == 0)
          host.claimed[port] = false;
        else if (!host.claimed[port])
          host.claimed.erase(port);
        break;
      case 2:
      case 3:
      case 4:
      case 5: {
        if (!filling && !blocks.empty()) {
          auto at = std::next(blocks.begin(), random() % blocks.size());
          ports.Release(static_cast<unsigned short>(at->first));
          blocks.erase(at);
          break;
        }
        const int type = random() % 2 ? SOCK_STREAM : SOCK_DGRAM;
        const unsigned count = 1 + random() % 3;
        const unsigned claimsBefore = host.claims;
        const unsigned short first = ports.Reserve(type, count);
        if (first == 0) {
          ++zeros;
          for (unsigned p = kModelRange.bottom; p + count <= kModelRange.bottom + kModelRange.span; ++p) {
            unsigned n = 0;
            while (n < count && usable(p + n)) ++n;
            ASSERT_LT(n, count) << "0 with " << p << " free, step " << step;
          }
          break;
        }
        if (host.claims == claimsBefore) ++reused;
        for (unsigned p = first; p < first + count; ++p) {
          ASSERT_FALSE(inBlock(p)) << p << " twice, step " << step;
          ASSERT_TRUE(host.Mine(p)) << p << ", step " << step;
          ASSERT_FALSE(host.others[type == SOCK_DGRAM].count(p)) << p << " taken, step " << step;
          ASSERT_EQ(Other(type), host.held[p]) << p << ", step " << step;
        }
        blocks[first] = {type, count};
        break;
      }
      default:  // a give-back, or one of something never handed out
        if (blocks.empty() || random() % 4 == 0) {
          if (!blocks.count(port)) ports.Release(static_cast<unsigned short>(port));
        } else {
          auto at = std::next(blocks.begin(), random() % blocks.size());
          ports.Release(static_cast<unsigned short>(at->first));
          blocks.erase(at);
        }
    }
    std::size_t held = 0, claimedByUs = 0;
    for (auto const& b : blocks) held += b.second.second;
    for (auto const& c : host.claimed) claimedByUs += c.second;
    ASSERT_EQ(held, ports.Held()) << step;
    // Beside the blocks, only the spares stay claimed.
    ASSERT_LE(claimedByUs, held + 3 * porttest::Ports::kSpares) << step;
  }
  // Both kinds of answer came often enough to have been checked.
  EXPECT_GT(zeros, 100u);
  EXPECT_GT(reused, 500u);
}

// The cursor walks on: ports another test process holds are tried once a
// lap, not at every hand-out; the last blocks given back are handed out again
// first, without a claim, and the older ones are let go.
TEST(FreePorts, CursorAndSpares) {
  ModelHost host;
  const porttest::Range range = {20000, 64};
  for (unsigned p = 0; p < 32; ++p) host.claimed[range.bottom + p] = false;
  porttest::Ports ports(host, range, 0);
  std::vector<unsigned short> taken;
  for (unsigned i = 0; i < 32; ++i) {
    taken.push_back(ports.Reserve(SOCK_STREAM, 1));
    ASSERT_EQ(range.bottom + 32 + i, taken.back());
  }
  EXPECT_EQ(64u, host.claims);
  for (unsigned short p : taken) ports.Release(p);
  for (unsigned i = 0; i < 32; ++i)
    EXPECT_EQ(i >= 32 - porttest::Ports::kSpares, host.Mine(taken[i])) << i;
  // The latest first, while it still binds.
  host.others[0].insert(taken[31]);
  EXPECT_EQ(taken[30], ports.Reserve(SOCK_STREAM, 1));
  EXPECT_FALSE(host.Mine(taken[31]));
  EXPECT_EQ(taken[29], ports.Reserve(SOCK_STREAM, 1));
  EXPECT_EQ(64u, host.claims);
}

// Binds a UDP socket that allows reuse to the port: a socket of this process
// just closed on the port, which the system may not have let go yet, does
// not stand in its way, a socket of another process that does not allow
// reuse (as every check of the port helper) does.
bool BindReusable(unsigned port) {
  Fd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  const int on = 1;
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<unsigned short>(port));
  return s && ::setsockopt(s.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
         ::bind(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

// Processes that bind the ports they hold, as a daemon does, while others
// choose and give back ports of the same part of the range: no bind fails.
TEST(FreePorts, ChoosingNeverBindsAnotherProcesssPorts) {
  const unsigned short kept = porttest::Reserve(SOCK_DGRAM, 4);
  ASSERT_NE(0u, kept);
  porttest::SystemHost other;
  for (unsigned p = kept; p < kept + 4u; ++p) {
    EXPECT_TRUE(PortFree(p)) << p;
    EXPECT_FALSE(porttest::BindAny(SOCK_STREAM, p).is_valid()) << p;
    EXPECT_FALSE(other.Claim(p)) << p;
  }
  porttest::Release(kept);

  const porttest::Range all = porttest::TestRange();
  ASSERT_GT(all.span, 1024u);
  std::mt19937 random(std::random_device{}());
  // A part small enough that the choosers come round to the binders' ports
  // many times a second.
  const porttest::Range part = {all.bottom + unsigned(random() % (all.span - 256)), 256};
  int stop[2];
  ASSERT_EQ(0, ::pipe(stop));
  std::vector<pid_t> choosers, binders;
  const auto start = [&](std::vector<pid_t>& into, int (*body)(porttest::Ports&, int)) {
    const unsigned from = unsigned(random());
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(stop[1]);
      porttest::SystemHost host;
      porttest::Ports ports(host, part, from);
      ::_exit(body(ports, stop[0]));
    }
    ASSERT_GT(pid, 0);
    into.push_back(pid);
  };
  // Exit codes: 0 done, 1 a bind of a held port failed, 2 no pair bound.
  // Another copy of this test may choose in an overlapping part at the same
  // time, so a hand-out may find nothing free for a while.
  for (int i = 0; i < 2; ++i)
    start(binders, [](porttest::Ports& ports, int done) {
      std::vector<unsigned short> pairs;
      unsigned bound = 0;
      pollfd stopped = {done, POLLIN, 0};
      while (::poll(&stopped, 1, 0) == 0) {
        const unsigned short p = ports.Reserve(SOCK_DGRAM, 2);
        if (p != 0) {
          for (int n = 0; n < 20; ++n)
            for (unsigned q : {p + 0u, p + 1u})
              if (!BindReusable(q)) {
                std::fprintf(stderr, "bind of held port %u: %s\n", q, std::strerror(errno));
                return 1;
              }
          ++bound;
          pairs.push_back(p);
        }
        // Some given back are let go, so that new ones are chosen too.
        if (pairs.size() == 20 || (p == 0 && !pairs.empty())) {
          for (unsigned short q : pairs) ports.Release(q);
          pairs.clear();
        }
      }
      return bound > 0 ? 0 : 2;
    });
  for (int i = 0; i < 3; ++i)
    start(choosers, [](porttest::Ports& ports, int) {
      for (int round = 0; round < 2000; ++round) {
        std::vector<unsigned short> taken;
        for (int n = 0; n < 24; ++n) taken.push_back(ports.Reserve(SOCK_STREAM, 1));
        for (unsigned short p : taken) ports.Release(p);
      }
      return 0;
    });
  ::close(stop[0]);
  const auto exitCode = [](pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  for (pid_t pid : choosers) EXPECT_EQ(0, exitCode(pid)) << "chooser";
  ::close(stop[1]);
  for (pid_t pid : binders) EXPECT_EQ(0, exitCode(pid)) << "binder";
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
