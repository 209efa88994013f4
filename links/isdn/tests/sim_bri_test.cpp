// A basic-rate bus on the simulated lines: two user-side terminals share the
// channel on trunk 0 through a test fan-out, the network side sits on
// trunk 1 (the trunks cabled, timeslot 16, one main loop). The line's capture
// is read back by tshark.
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
#include "links/isdn/tests/bri_util.h"
#include "simboard/simulator.h"
#include "simboard/testing/tshark.h"
#include "simboard/tests/sim_test_util.h"

namespace {

using britest::Bytes;
using britest::L3;
using britest::Strings;

using SimBoard::HaveTshark;

Strings Fields(std::string const& file, std::string const& filter, std::string const& fields) {
  Strings lines;
  for (std::string const& line : SimBoard::TsharkFields(file, fields, filter))
    if (!line.empty()) lines.push_back(line);
  return lines;
}

// What the terminals on one channel hear: every frame goes to each of them.
class FanOut : public HDLC::Notify {
public:
  void on_hdlc_receive(Packet& frame) override {
    Bytes const b = HdlcTesting::ToBytes(frame);
    for (HDLC::Notify* n : to) {
      Packet copy = HdlcTesting::ToPacket(b);
      n->on_hdlc_receive(copy);
    }
  }
  void on_hdlc_error(HDLC::Notify::Cause::Type c) override {
    for (HDLC::Notify* n : to) n->on_hdlc_error(c);
  }
  void on_hdlc_ready() override {
    for (HDLC::Notify* n : to) n->on_hdlc_ready();
  }
  std::vector<HDLC::Notify*> to;
};

class SimBriTest : public ::testing::Test {
protected:
  SimBriTest() : sim(SimBoard::Simulator::instance()), quiet(std::clog) {
    sim.reset();
    mux.reset(new HwMux);
    a.reset(new HDLC(*mux));
    b.reset(new HDLC(*mux));
    a->params(HDLC::Params{0, 16, 16, -1, 1});
    b->params(HDLC::Params{1, 16, 48, -1, 1});
    for (unsigned i = 0; i < 2; ++i) {
      users[i].reset(new lapdtest::Slot(ISDN::Side::user, *a, transcripts[i]));
      users[i]->link->change_to_bri();
      fan.to.push_back(users[i]->link);
    }
    net.reset(new britest::NetSlot(*b));
    a->bind(&fan);
    b->bind(net.get());
    file = testing::TempDir() + "/sim_bri_" + std::to_string(::getpid()) + ".pcap";
  }
  ~SimBriTest() override {
    a->unbind();
    b->unbind();
    users[0].reset();
    users[1].reset();
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
  ISDN::LAPD& link(unsigned i) { return *users[i]->link; }

  SimBoard::Simulator& sim;
  simtest::Capture quiet;
  std::unique_ptr<HwMux> mux;
  std::unique_ptr<HDLC> a, b;
  FanOut fan;
  Strings transcripts[2];
  std::unique_ptr<lapdtest::Slot> users[2];
  std::unique_ptr<britest::NetSlot> net;
  std::string file;
};

// tshark's view of a TEI management frame: SAPI, TEI, C/R, control, then
// entity, reference, message type, Ai and its E bit.
std::string TeiFields(Bytes const& f, bool from_network) {
  std::ostringstream o;
  // tshark reads the reference high octet first, so octet 2 of the
  // message (the low one) shows as its high byte.
  char entity[8];
  std::snprintf(entity, sizeof entity, "0x%02x", unsigned(f[3]));
  o << "63|127|" << (from_network ? 1 : 0) << "|0x0003|" << entity << "|" << (f[4] * 256 + f[5]) << "|"
    << unsigned(f[6]) << "|" << (f[7] >> 1) << "|" << (f[7] & 1);
  return o.str();
}

TEST_F(SimBriTest, TwoTerminalsGetTeisAreCheckedAndCarryACall) {
  bool const tshark = HaveTshark();
  if (tshark) Do("pcap 0 16 lapd " + file);
  ASSERT_TRUE(a->activate());
  ASSERT_TRUE(b->activate());
  net->activate();
  users[0]->activate();
  users[1]->activate();
  ASSERT_TRUE(simtest::run_until([&] {
    return link(0).full_state().state == 6 && link(1).full_state().state == 6 && net->nt->user(1).is_assigned();
  }));
  std::vector<unsigned> teis = {link(0).full_state().own_tei, link(1).full_state().own_tei};
  std::sort(teis.begin(), teis.end());
  EXPECT_EQ((std::vector<unsigned>{64, 65}), teis);

  // A check: both answer and keep their TEIs.
  net->nt->check_all_Tei();
  ASSERT_TRUE(simtest::run_until([&] { return !net->nt->user(0).is_check() && !net->nt->user(1).is_check(); }));
  EXPECT_TRUE(net->nt->user(0).is_assigned() && net->nt->user(1).is_assigned());

  // A call offered to both, answered by terminal 1, continued with it only.
  Bytes const setup = L3(0x01, britest::SETUP);
  net->send(setup);
  ASSERT_TRUE(simtest::run_until([&] { return users[0]->received.size() == 1 && users[1]->received.size() == 1; }));
  Bytes const connect = L3(0x81, britest::CONNECT);
  users[1]->send(std::string(connect.begin(), connect.end()));
  ASSERT_TRUE(simtest::run_until([&] { return net->received.size() == 1; }));
  EXPECT_EQ(connect, net->received[0]);
  Bytes const ack = L3(0x01, 0x0F);
  net->send(ack);
  ASSERT_TRUE(simtest::run_until([&] { return users[1]->received.size() == 2 && link(1).queued_ack() == 0; }));
  EXPECT_EQ(std::string(ack.begin(), ack.end()), users[1]->received[1]);
  EXPECT_EQ(1u, users[0]->received.size());

  if (!tshark) GTEST_SKIP() << "tshark is not installed (tools/deps installs it)";
  Do("pcap 0 16 off");
  Strings want;
  for (unsigned i = 0; i < 2; ++i)
    for (Bytes const& f : users[i]->tap.frames)
      if (f.size() == 8 && f[0] == 0xFC) want.push_back(TeiFields(f, false));
  for (Bytes const& f : net->sent)
    if (f.size() == 8 && f[0] == 0xFE) want.push_back(TeiFields(f, true));
  ASSERT_GE(want.size(), 7u) << "two requests, two assignments, two checks, two answers";
  Strings seen = Fields(file, "lapd.sapi == 63",
                        "-e lapd.sapi -e lapd.tei -e lapd.cr -e lapd.control -e tei.entity -e tei.reference "
                        "-e tei.msg -e tei.action -e tei.extend");
  std::sort(seen.begin(), seen.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(want, seen);
}

}  // namespace
