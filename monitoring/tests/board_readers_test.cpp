#include "monitoring/board_readers.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>

namespace {

std::vector<unsigned char> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

struct FramerCase {
  const char* text;
  bool changed, connected;
  const char* state;
  bool signalLoss, frameLoss;
  int neg, pos;
};

TEST(FramerDataHolder, ParsesTheStatusText) {
  const FramerCase cases[] = {
      {"", false, false, "absent", true, true, 0, 0},
      {"Current state           : No Carrier\n", true, false, "No Carrier", true, true, 0, 0},
      {"Current state           : Normal\nLoss of Signal          : no\nLoss of Frame Alignment : no\n"
       "Receive Slip Negative   : 12 slips\nReceive Slip Positive   : x\n",
       true, true, "Normal", false, false, 12, 0},
      // "yes " is not "yes"; keys anywhere in a line.
      {"Loss of Signal          : yes \nfoo Loss of Frame Alignment : yes\n", true, false, "absent", false, true, 0, 0},
      {"  Receive Slip Positive   : -3\nReceive Slip Negative   : 7", true, false, "absent", true, true, 7, -3},
  };
  for (const FramerCase& c : cases) {
    FramerDataHolder f(2, "p");
    EXPECT_EQ(c.changed, f.setFramerStatus(Bytes(c.text))) << c.text;
    EXPECT_EQ(c.connected, f.connected()) << c.text;
    EXPECT_EQ(c.state, f.state()) << c.text;
    EXPECT_EQ(c.signalLoss, f.signalLoss()) << c.text;
    EXPECT_EQ(c.frameLoss, f.frameAlignmentLoss()) << c.text;
    EXPECT_EQ(c.neg, f.negativeSlips()) << c.text;
    EXPECT_EQ(c.pos, f.positiveSlips()) << c.text;
    EXPECT_FALSE(f.setFramerStatus(Bytes(c.text))) << c.text;
  }
}

TEST(FramerDataHolder, NoCarrierStaysDisconnectedAndAnyOtherStateConnects) {
  FramerDataHolder f(1, "p");
  f.setFramerStatus(Bytes("Current state           : No Carrier\nLoss of Signal          : no\n"));
  EXPECT_FALSE(f.connected());
  EXPECT_TRUE(f.setFramerStatus(Bytes("Current state           : Sync\n")));
  EXPECT_TRUE(f.connected());
}

TEST(FramerDataHolder, KeysBeyondTheFirst1024OctetsAreNotRead) {
  FramerDataHolder f(1, "p");
  const std::string key = "Receive Slip Negative   : 5\n";
  std::string text(1024 - key.size() + 1, '.');
  EXPECT_FALSE(f.setFramerStatus(Bytes(text + "\n" + key)));
  EXPECT_EQ(0, f.negativeSlips());
}

TEST(NetIfDataHolder, FollowsTheMajorityOfTheLastThreeSamples) {
  struct Case {
    std::vector<int> samples;
    std::vector<bool> changes;
    int running, oper;
  } const cases[] = {
      {{1}, {true}, 0, 2},  // the first sample always is a change
      {{1, 1}, {true, true}, 1, 1},
      {{1, 1, 0}, {true, true, false}, 1, 1},
      {{1, 0, 1}, {true, false, true}, 1, 1},
      {{0, 1, 0}, {true, false, false}, 0, 2},
      {{1, 1, 1, 0, 0}, {true, true, false, false, true}, 0, 2},
  };
  for (const Case& c : cases) {
    NetIfDataHolder n(2, "eth0");
    for (std::size_t i = 0; i < c.samples.size(); ++i) EXPECT_EQ(c.changes[i], n.setNetIfStatus(c.samples[i])) << i;
    EXPECT_EQ(c.running, n.running());
    EXPECT_EQ(c.oper, n.operStatus());
    EXPECT_EQ(c.oper, n.adminStatus());
  }
}

TEST(BoardReaders, PowerByteMap) {
  const int expected[] = {3, 1, 2, 3, 0, 0};
  for (int b = 0; b < 6; ++b) EXPECT_EQ(expected[b], Monitoring::PowerStatusOf((unsigned char)b)) << b;
  EXPECT_EQ(0, Monitoring::PowerStatusOf(255));
}

TEST(BoardReaders, LedRulesPerE1) {
  using Monitoring::FramerLedByte;
  EXPECT_EQ(0x0c, FramerLedByte(0x00, 1, true, true));
  EXPECT_EQ(0x08, FramerLedByte(0x0c, 1, false, true));
  EXPECT_EQ(0x08, FramerLedByte(0x08, 1, true, true));  // bit 3 set leaves bit 2
  EXPECT_EQ(0x0c, FramerLedByte(0x08, 1, false, false));
  EXPECT_EQ(0x00, FramerLedByte(0x0c, 1, true, false));
  EXPECT_EQ(0xc3, FramerLedByte(0xc3, 1, true, false));  // other E1s untouched
  EXPECT_EQ(0xc0, FramerLedByte(0x00, 3, true, true));
  EXPECT_EQ(0x55, FramerLedByte(0x55, 4, true, true));
}

TEST(BoardReaders, TemperatureAndVoiceBuildTokens) {
  EXPECT_EQ("42", Monitoring::TemperatureOf("42 C\n"));
  EXPECT_EQ("42", Monitoring::TemperatureOf("42\tC"));
  EXPECT_EQ("", Monitoring::TemperatureOf(" 42"));
  EXPECT_EQ("42.5", Monitoring::TemperatureOf("42.5"));
  EXPECT_EQ("2.6 [b1 x]", Monitoring::VoiceBuildOf("voice 2.6 b1 x y\n"));
  EXPECT_EQ("2.6 [b1]", Monitoring::VoiceBuildOf("voice 2.6 b1\n"));
  EXPECT_EQ("2.6 []", Monitoring::VoiceBuildOf("voice 2.6 \n"));
  EXPECT_EQ("none", Monitoring::VoiceBuildOf("voice 2.6"));
  EXPECT_EQ("none", Monitoring::VoiceBuildOf(""));
}

TEST(BoardReaders, ConfigNames) {
  struct Case {
    const char* name;
    bool taken;
    std::uint32_t first;
    std::uint64_t second;
  } const cases[] = {
      {"config.0000000a-0000000000000010", true, 10, 16},
      {"config.2save.tar.bz2", false, 7, 9},
      {"config.2save.tar.bz2.old", false, 7, 9},
      {"server.conf", false, 7, 9},
      {"config.0000000b", true, 11, 9},          // too short for a second part
      {"config.zz-00000000000000ff", true, 7, 255},  // bad hex keeps the part
      {"config.FFFFFFFF-FFFFFFFFFFFFFFFF", true, 0xFFFFFFFF, ~std::uint64_t(0)},
  };
  for (const Case& c : cases) {
    Monitoring::ConfigVersion v;
    v.first = 7;
    v.second = 9;
    EXPECT_EQ(c.taken, Monitoring::ParseConfigName(c.name, v)) << c.name;
    EXPECT_EQ(c.first, v.first) << c.name;
    EXPECT_EQ(c.second, v.second) << c.name;
  }
}

TEST(BoardReaders, ConfigScanTakesEveryNameInDirectoryOrder) {
  char dir[] = "/tmp/monitoring-config-XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(dir));
  const std::string d = dir;
  for (const char* name : {"config.00000001-0000000000000002", "config.00000003", "config.2save.tar.bz2", "other"})
    std::ofstream(d + "/" + name);
  ASSERT_EQ(0, ::mkdir((d + "/config.00000009-0000000000000009").c_str(), 0755));
  std::vector<std::pair<std::uint32_t, std::uint64_t>> seen;
  ASSERT_TRUE(Monitoring::ScanConfigDir(d, false, [&](const Monitoring::ConfigVersion& v) {
    seen.emplace_back(v.first, v.second);
  }));
  ASSERT_EQ(2u, seen.size());
  // The part the short name lacks is the one read before it, in either order.
  if (seen[0].first == 1)
    EXPECT_EQ(std::make_pair(std::uint32_t(3), std::uint64_t(2)), seen[1]);
  else
    EXPECT_EQ(std::make_pair(std::uint32_t(1), std::uint64_t(2)), seen[1]);
  EXPECT_FALSE(Monitoring::ScanConfigDir(d + "/none", false, [](const Monitoring::ConfigVersion&) {}));
  EXPECT_EQ(0, std::system(("rm -rf " + d).c_str()));
}

TEST(BoardReaders, DiscoveryTakesDescriptorZero) {
  const int saved = ::dup(0);
  ASSERT_GE(saved, 0);
  ::close(0);
  const std::vector<NetIfDataHolder> found = Monitoring::DiscoverNetIfs();
  NetIfDataHolder probe(found.empty() ? 1 : found.front().index(), "lo");
  const bool sampled = probe.updateNetIf();
  ::dup2(saved, 0);
  ::close(saved);
  ASSERT_FALSE(found.empty());
  EXPECT_EQ("lo", found.front().name());
  EXPECT_TRUE(sampled);
}

}  // namespace
