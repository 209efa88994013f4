// Two signalling links on HDLC channels of the simulated board, trunks 0 and
// 1 cabled, timeslot 16, in one loop; the line's capture read back by tshark.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/tests/loop_test_util.h"
#include "hardware/hdlc.h"
#include "hardware/hw_mux.h"
#include "links/ss7/slc.h"
#include "links/ss7/tests/slc_test_util.h"
#include "simboard/simulator.h"
#include "simboard/testing/tshark.h"
#include "simboard/tests/sim_test_util.h"

namespace {

using looptest::Capture;
using ss7test::Bytes;
using ss7test::Msu;
using ss7test::Owner;
using ss7test::Unit;

constexpr int kWorked = 5;

using SimBoard::HaveTshark;

std::string Hex(const Bytes& b) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (std::uint8_t o : b) {
    s += digits[o >> 4];
    s += digits[o & 15];
  }
  return s;
}

// The frames of a pcap file, in either byte order.
std::vector<Bytes> PcapFrames(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  const Bytes all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<Bytes> frames;
  if (all.size() < 24) return frames;
  const bool big = all[0] == 0xA1;
  auto u32 = [&](std::size_t at) {
    return big ? (unsigned(all[at]) << 24 | unsigned(all[at + 1]) << 16 | unsigned(all[at + 2]) << 8 | all[at + 3])
               : (unsigned(all[at + 3]) << 24 | unsigned(all[at + 2]) << 16 | unsigned(all[at + 1]) << 8 | all[at]);
  };
  for (std::size_t at = 24; at + 16 <= all.size();) {
    const unsigned kept = u32(at + 8);
    at += 16;
    if (at + kept > all.size()) break;
    frames.emplace_back(all.begin() + long(at), all.begin() + long(at + kept));
    at += kept;
  }
  return frames;
}

// tshark's fields of every frame, one line each, split by '|'.
std::vector<std::string> Fields(const std::string& file, const std::string& fields) {
  return SimBoard::TsharkFields(file, fields);
}

// A link on its channel: trunk t, timeslot 16.
struct Side {
  Side(HwMux& mux, unsigned trunk) : hdlc(mux) {
    hdlc.params(HDLC::Params{trunk, 16, static_cast<int>(32 * trunk + 16), -1, 1});
    hdlc.trunk(trunk);
    hdlc.bind(&owner.link);
    owner.link.hdlc(&hdlc);
    owner.link.set_linkno(trunk);
  }
  ~Side() { hdlc.unbind(); }
  HDLC hdlc;
  Owner owner;
  SS7::SLC& link = owner.link;
};

class SimSlcTest : public ::testing::Test {
protected:
  SimSlcTest() : sim(SimBoard::Simulator::instance()) {
    sim.reset();
    mux.reset(new HwMux);
    a.reset(new Side(*mux, 0));
    b.reset(new Side(*mux, 1));
    file = testing::TempDir() + "/ss7_line_" + std::to_string(::getpid()) + ".pcap";
  }
  ~SimSlcTest() override {
    a.reset();
    b.reset();
    mux.reset();
    sim.collect_closed();
    sim.reset();
    if (!std::getenv("KEEP_PCAP")) std::remove(file.c_str());
  }
  void Do(const std::string& command) {
    const SimBoard::Reply r = sim.execute(command);
    ASSERT_FALSE(r.failed()) << command << ": " << r.text();
  }
  bool Run(std::function<bool()> until) { return simtest::run_until(std::move(until)); }
  void Align() {
    ASSERT_TRUE(a->hdlc.activate());
    ASSERT_TRUE(b->hdlc.activate());
    a->owner.activate();
    b->owner.activate();
    ASSERT_TRUE(Run([&] { return a->link.get_state_id() == 3 && b->link.get_state_id() == 3; }));
    clock.advance(8200);
    ASSERT_TRUE(Run([&] { return a->link.get_state_id() == kWorked && b->link.get_state_id() == kWorked; }));
    Settle();
  }
  // The FISUs of the entry into service, and whatever else is on its way,
  // arrive.
  void Settle() {
    int passes = 0;
    Run([&] { return ++passes > 20; });
  }

  Capture quiet_log{std::clog}, quiet_err{std::cerr};
  looptest::CachedClock clock;
  SimBoard::Simulator& sim;
  std::unique_ptr<HwMux> mux;
  std::unique_ptr<Side> a, b;
  std::string file;
};

TEST_F(SimSlcTest, LinksAlignCarryMsusAndRecoverALostOne) {
  Do("pcap 1 16 mtp2 " + file);
  Align();
  EXPECT_EQ(1, a->owner.activated);
  EXPECT_EQ(1, b->owner.activated);

  // The first unit to cross trunk 0's line end is a's first MSU: lost.
  Do("line drop 0 16 1");
  for (std::uint8_t i = 0; i < 3; ++i) a->owner.send(Msu(20, i));
  ASSERT_TRUE(Run([&] { return b->owner.received.size() == 3; }));
  for (std::uint8_t i = 0; i < 3; ++i) EXPECT_EQ(Msu(20, i), b->owner.received[i]);
  b->owner.send(Msu(272, 0x40));
  ASSERT_TRUE(Run([&] { return a->owner.received.size() == 1; }));
  EXPECT_EQ(Msu(272, 0x40), a->owner.received[0]);
  EXPECT_EQ(1, b->link.statistics()->badSeqCntr);
  EXPECT_EQ(1, a->link.statistics()->repeatCntr);
  ASSERT_TRUE(Run([&] { return a->link.statistics()->rtbSize == 0 && b->link.statistics()->rtbSize == 0; }));

  // An idle line repeats its last unit: nothing changes.
  Do("line repeat 0 16 3");
  Do("line repeat 1 16 3");
  for (int i = 0; i < 50; ++i) {
    clock.advance(3);
    Settle();
  }
  Do("line repeat 0 16 off");
  Do("line repeat 1 16 off");
  EXPECT_EQ(kWorked, a->link.get_state_id());
  EXPECT_EQ(kWorked, b->link.get_state_id());
  EXPECT_EQ(1, b->link.statistics()->badSeqCntr);
  EXPECT_EQ(0, a->link.statistics()->badSeqCntr);
  EXPECT_EQ(3u, b->owner.received.size());

  // Crafted units towards b, as duplicates of what b last accepted so that
  // only the reader acts: LI 5 over 10 octets, LI 20 over 70, LI 63 over 70.
  Capture err(std::cerr);
  const Bytes crafted[] = {
      Unit(127, true, 2, false, Msu(10), 5),
      Unit(127, true, 2, false, Msu(70), 20),
      Unit(127, true, 2, false, Msu(70), 63),
  };
  // A second apart: each unit has its lines.
  const unsigned before = b->link.statistics()->msuRxCount;
  for (unsigned i = 0; i < 3; ++i) {
    clock.advance(1000);
    Do("line inject 1 16 " + Hex(crafted[i]));
    ASSERT_TRUE(Run([&] { return unsigned(b->link.statistics()->msuRxCount) == before + i + 1; }));
  }
  const std::string text = err.text();
  EXPECT_NE(std::string::npos, text.find("invalid packet length, expected = 5, received = 10")) << text;
  EXPECT_NE(std::string::npos, text.find("invalid packet length, expected = 20, received = 70")) << text;
  EXPECT_EQ(std::string::npos, text.find("expected = 63")) << text;
  EXPECT_EQ(kWorked, b->link.get_state_id());
  Do("pcap 1 16 off");

  if (!HaveTshark()) GTEST_SKIP() << "tshark is not installed (tools/deps installs it)";
  const std::vector<Bytes> frames = PcapFrames(file);
  const std::vector<std::string> seen = Fields(file, "-e mtp2.bsn -e mtp2.fsn -e mtp2.li -e mtp2.li.bad");
  ASSERT_EQ(frames.size(), seen.size());
  std::vector<unsigned> fsnsFromA;
  Bytes lastMsu;
  unsigned bad = 0;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const Bytes& f = frames[i];
    SCOPED_TRACE(Hex(f));
    ASSERT_GE(f.size(), 3u);
    const bool isCrafted = f == crafted[0] || f == crafted[1] || f == crafted[2];
    const unsigned li = isCrafted ? (f[2] & 0x3Fu) : unsigned(f.size() - 3 < 63 ? f.size() - 3 : 63);
    std::string want = std::to_string(f[0] & 0x7F) + "|" + std::to_string(f[1] & 0x7F) + "|" + std::to_string(li);
    // The reader's mismatch and tshark's agree.
    const bool mismatch = f == crafted[0] || f == crafted[1];
    bad += mismatch;
    EXPECT_EQ(want + (mismatch ? "|1" : "|"), seen[i]);
    EXPECT_EQ(f[2] & 0xC0, 0) << "the links send no spare bits";
    // The idle line repeats a's last MSU: counted once.
    if (f.size() == 23 && f[3] == 0x83 && f != lastMsu) fsnsFromA.push_back(f[1] & 0x7F);
    if (f.size() == 23) lastMsu = f;
    if (f.size() == 275) {
      EXPECT_EQ(63u, f[2]);
    }
  }
  EXPECT_EQ(2u, bad);
  // a's MSUs seen on trunk 1's line: 0 was lost before it, 1 and 2 came,
  // then all three again with the FSNs they were first sent with.
  EXPECT_EQ((std::vector<unsigned>{1, 2, 0, 1, 2}), fsnsFromA);
}

TEST_F(SimSlcTest, ReadErrorTakesItsLinkToIdle) {
  Align();
  Capture log(std::clog);
  Do("fail read /dev/mcc/ctl zero");
  a->owner.send(Msu(5));
  ASSERT_TRUE(Run([&] { return b->link.get_state_id() == 0; }));
  EXPECT_EQ(1, b->owner.deactivated);
  EXPECT_EQ("impossible phasing", b->owner.last_status);
  EXPECT_FALSE(b->hdlc.is_open());
  EXPECT_NE(std::string::npos, log.text().find("SS7/L2 [dpc=0, slc=0, trunk=1] (worked): hdlc error [cause=0]\n"))
      << log.text();
  EXPECT_EQ(kWorked, a->link.get_state_id());
}

}  // namespace
