// User side against network side on the simulated lines: each link on an
// MCC channel, trunk 0 and trunk 1 cabled, timeslot 16, one main loop. The
// line's capture is read back by tshark.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "hardware/hdlc.h"
#include "hardware/hw_mux.h"
#include "links/isdn/tests/lapd_util.h"
#include "simboard/simulator.h"
#include "simboard/testing/tshark.h"
#include "simboard/tests/sim_test_util.h"

namespace {

using Strings = std::vector<std::string>;

using SimBoard::HaveTshark;

// tshark's fields of every frame, one line per frame, fields split by '|'.
Strings Fields(std::string const& file, std::string const& fields) {
  Strings lines;
  for (std::string const& line : SimBoard::TsharkFields(file, fields))
    if (!line.empty()) lines.push_back(line);
  return lines;
}

class SimLapdTest : public ::testing::Test {
protected:
  SimLapdTest() : sim(SimBoard::Simulator::instance()), quiet(std::clog) {
    sim.reset();
    mux.reset(new HwMux);
    a.reset(new HDLC(*mux));
    b.reset(new HDLC(*mux));
    a->params(HDLC::Params{0, 16, 16, -1, 1});
    b->params(HDLC::Params{1, 16, 48, -1, 1});
    user.reset(new lapdtest::Slot(ISDN::Side::user, *a, transcript_u));
    net.reset(new lapdtest::Slot(ISDN::Side::network, *b, transcript_n));
    a->bind(user->link);
    b->bind(net->link);
    file = testing::TempDir() + "/sim_lapd_" + std::to_string(::getpid()) + ".pcap";
  }
  ~SimLapdTest() override {
    a->unbind();
    b->unbind();
    user.reset();
    net.reset();
    a.reset();
    b.reset();
    mux.reset();
    sim.collect_closed();
    sim.reset();
    std::remove(file.c_str());
  }

  void Do(std::string const& command) {
    SimBoard::Reply const r = sim.execute(command);
    ASSERT_FALSE(r.failed()) << command << ": " << r.text();
  }

  SimBoard::Simulator& sim;
  simtest::Capture quiet;
  std::unique_ptr<HwMux> mux;
  std::unique_ptr<HDLC> a, b;
  Strings transcript_u, transcript_n;
  std::unique_ptr<lapdtest::Slot> user, net;
  std::string file;
};

TEST_F(SimLapdTest, MessagesBothWaysWithALostFrameAsTsharkReadsThem) {
  bool const tshark = HaveTshark();
  if (tshark) Do("pcap 0 16 lapd " + file);
  ASSERT_TRUE(a->activate());
  ASSERT_TRUE(b->activate());
  user->activate();
  ASSERT_TRUE(simtest::run_until([&] { return !user->events.empty() && !net->events.empty(); }));
  EXPECT_EQ((Strings{"up"}), user->events);
  EXPECT_EQ((Strings{"up"}), net->events);

  // The first I frame is lost on its way into trunk 1.
  Do("line drop 1 16 1");
  Strings const up = {"m0", "m1", "m2"}, down = {"n0", "n1", "n2"};
  for (auto const& m : up) user->send(m);
  ASSERT_TRUE(simtest::run_until([&] { return net->received.size() == up.size() && user->link->queued_ack() == 0; }));
  for (auto const& m : down) net->send(m);
  ASSERT_TRUE(simtest::run_until([&] { return user->received.size() == down.size() && net->link->queued_ack() == 0; }));
  EXPECT_EQ(up, net->received);
  EXPECT_EQ(down, user->received);
  EXPECT_EQ((Strings{"u SABME cmd P", "u I 0/0 cmd", "u I 1/0 cmd", "u I 2/0 cmd", "u I 0/0 cmd", "u I 1/0 cmd",
                     "u I 2/0 cmd", "u RR 1 rsp", "u RR 2 rsp", "u RR 3 rsp"}),
            transcript_u);
  EXPECT_EQ((Strings{"n UA rsp F", "n REJ 0 rsp", "n RR 1 rsp", "n RR 2 rsp", "n RR 3 rsp", "n I 0/3 cmd",
                     "n I 1/3 cmd", "n I 2/3 cmd"}),
            transcript_n);
  EXPECT_TRUE(user->link->full_state().state == 6 && net->link->full_state().state == 6);

  if (!tshark) GTEST_SKIP() << "tshark is not installed (tools/deps installs it)";
  Do("pcap 0 16 off");
  // EA0, EA1, SAPI, TEI, C/R, control (tshark shows the second control octet
  // as the high byte), N(S), N(R). A capture of this link
  // type has no direction, so the frames are compared as a set: every frame
  // crossed trunk 0's line end once, the lost one included.
  Strings seen = Fields(file,
                        "-e lapd.ea1 -e lapd.ea2 -e lapd.sapi -e lapd.tei -e lapd.cr -e lapd.control "
                        "-e lapd.control.n_s -e lapd.control.n_r");
  Strings want = {
      // user: commands with C/R 0, responses with C/R 1
      "0|1|0|0|0|0x007f||",    // SABME P
      "0|1|0|0|0|0x0000|0|0",  // I 0/0, lost
      "0|1|0|0|0|0x0002|1|0",  // I 1/0
      "0|1|0|0|0|0x0004|2|0",  // I 2/0
      "0|1|0|0|0|0x0000|0|0",  // I 0/0 again
      "0|1|0|0|0|0x0002|1|0",  // I 1/0 again
      "0|1|0|0|0|0x0004|2|0",  // I 2/0 again
      "0|1|0|0|1|0x0201||1",   // RR 1
      "0|1|0|0|1|0x0401||2",   // RR 2
      "0|1|0|0|1|0x0601||3",   // RR 3
      // network: commands with C/R 1, responses with C/R 0
      "0|1|0|0|0|0x0073||",    // UA F
      "0|1|0|0|0|0x0009||0",   // REJ 0
      "0|1|0|0|0|0x0201||1",   // RR 1
      "0|1|0|0|0|0x0401||2",   // RR 2
      "0|1|0|0|0|0x0601||3",   // RR 3
      "0|1|0|0|1|0x0600|0|3",  // I 0/3
      "0|1|0|0|1|0x0602|1|3",  // I 1/3
      "0|1|0|0|1|0x0604|2|3",  // I 2/3
  };
  std::sort(seen.begin(), seen.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(want, seen);
}

}  // namespace
