// What HDLC channels put on a simulated line, read back from the line's pcap
// by tshark.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "board/hal.h"
#include "board/mcc.h"
#include "foundation/tests/loop_test_util.h"
#include "hardware/hdlc.h"
#include "hardware/hw_mux.h"
#include "simboard/mcc.h"
#include "simboard/simulator.h"
#include "simboard/testing/tshark.h"
#include "simboard/tests/sim_test_util.h"

namespace {

using SimBoard::HaveTshark;

// tshark's fields of every frame, one line per frame, fields split by '|'.
std::vector<std::string> Fields(const std::string& file, const std::string& fields) {
  std::vector<std::string> lines;
  for (std::string line : SimBoard::TsharkFields(file, fields)) {
    // The info column ends in a blank.
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

struct Sink : HDLC::Notify {
  void on_hdlc_receive(Packet&) override { ++frames; }
  void on_hdlc_error(Cause::Type) override {}
  void on_hdlc_ready() override {}
  unsigned frames = 0;
};

class HdlcPcapTest : public ::testing::Test {
protected:
  HdlcPcapTest() : sim(SimBoard::Simulator::instance()) {
    sim.reset();
    looptest::Capture quiet(std::clog);
    mux.reset(new HwMux);
    a.reset(new HDLC(*mux));
    b.reset(new HDLC(*mux));
    a->params(HDLC::Params{0, 16, 16, -1, 1});
    b->params(HDLC::Params{1, 16, 48, -1, 1});
    b->bind(&sink);
    file = testing::TempDir() + "/hdlc_pcap_" + std::to_string(::getpid()) + ".pcap";
  }
  ~HdlcPcapTest() override {
    a.reset();
    b.reset();
    mux.reset();
    sim.collect_closed();
    sim.reset();
    std::remove(file.c_str());
  }

  void Do(const std::string& command) {
    const SimBoard::Reply r = sim.execute(command);
    ASSERT_FALSE(r.failed()) << command << ": " << r.text();
  }
  // Sends the frames from a to b over the cable and closes the capture.
  void Exchange(const std::vector<std::vector<unsigned char>>& frames) {
    ASSERT_TRUE(a->activate());
    ASSERT_TRUE(b->activate());
    for (const auto& f : frames) {
      Packet p;
      p.reserve_head(0);
      std::copy(f.begin(), f.end(), p.put(static_cast<unsigned>(f.size())));
      ASSERT_TRUE(a->hdlc_transmit(p));
    }
    ASSERT_TRUE(simtest::run_until([&] { return sink.frames == frames.size(); }));
    Do("pcap 0 16 off");
  }

  SimBoard::Simulator& sim;
  std::unique_ptr<HwMux> mux;
  std::unique_ptr<HDLC> a, b;
  Sink sink;
  std::string file;
};

TEST_F(HdlcPcapTest, LapdFramesAsTsharkReadsThem) {
  if (!HaveTshark()) GTEST_SKIP() << "tshark is not installed (tools/deps installs it)";
  Do("pcap 0 16 lapd " + file);
  // SABME with P, then an I frame with N(S) 0, N(R) 0 and two octets.
  Exchange({{0x02, 0x01, 0x7F}, {0x00, 0x01, 0x00, 0x00, 0x08, 0x02}});
  const std::vector<std::string> seen =
      Fields(file,
             "-e lapd.sapi -e lapd.cr -e lapd.tei -e lapd.control.u_modifier_cmd -e lapd.control.p "
             "-e lapd.control.n_s -e lapd.control.n_r");
  ASSERT_EQ(2u, seen.size());
  EXPECT_EQ("0|1|0|0x1b|1||", seen[0]);
  EXPECT_EQ("0|0|0|||0|0", seen[1]);
  EXPECT_NE(std::string::npos, Fields(file, "-e _ws.col.Info")[0].find("SABME"));
}

TEST_F(HdlcPcapTest, Mtp2LssuAsTsharkReadsIt) {
  if (!HaveTshark()) GTEST_SKIP() << "tshark is not installed (tools/deps installs it)";
  Do("pcap 0 16 mtp2 " + file);
  Exchange({{0xFF, 0xFF, 0x01, 0x00}, {0x05, 0x83, 0x00}});
  const std::vector<std::string> seen = Fields(file,
                                               "-e mtp2.bsn -e mtp2.bib -e mtp2.fsn -e mtp2.fib -e mtp2.li "
                                               "-e mtp2.sf -e _ws.col.Info");
  ASSERT_EQ(2u, seen.size());
  EXPECT_EQ("127|1|127|1|1|0|SIO", seen[0]);
  // A FISU: BSN 5, FSN 3 with FIB set, LI 0.
  EXPECT_EQ("5|0|3|1|0||FISU", seen[1]);
}

}  // namespace
