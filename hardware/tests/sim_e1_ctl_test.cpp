// The E1 trunk service on the simulated maintenance and CAS devices,
// in-process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/e1_cas.h"
#include "board/maintenance.h"
#include "hardware/e1_ctl.h"
#include "hardware/tests/board_service_fixture.h"
#include "simboard/e1_cas.h"
#include "simboard/maintenance.h"

namespace {

using hwtest::Cas;
using hwtest::Controller;
using hwtest::Trunk;

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

LGCP::Command TrunkCfg(int trunk, LGCP::TrunkMode::NamedNumber mode) {
  LGCP::Command c;
  LGCP::TrunkCfg& cfg = c.select_trunkCfg();
  cfg.set_trunk(trunk);
  cfg.set_mode(mode);
  return c;
}

LGCP::Command CasOpen(int path, int timeslot, int value) {
  LGCP::Command c;
  LGCP::CasCommand& cas = c.select_ioctl().select_cas();
  cas.set_channel().set_path(path);
  cas.set_channel().set_timeslot(timeslot);
  cas.set_cmd().select_open(value);
  return c;
}
LGCP::Command CasClose(int path, int timeslot) {
  LGCP::Command c;
  LGCP::CasCommand& cas = c.select_ioctl().select_cas();
  cas.set_channel().set_path(path);
  cas.set_channel().set_timeslot(timeslot);
  cas.set_cmd().select_close();
  return c;
}
LGCP::Command CasSet(int path, int timeslot, int value) {
  LGCP::Command c;
  LGCP::CasCommand& cas = c.select_ioctl().select_cas();
  cas.set_channel().set_path(path);
  cas.set_channel().set_timeslot(timeslot);
  cas.set_cmd().select_set(value);
  return c;
}
LGCP::Command CasGet(int path, int timeslot) {
  LGCP::Command c;
  LGCP::CasCommand& cas = c.select_ioctl().select_cas();
  cas.set_channel().set_path(path);
  cas.set_channel().set_timeslot(timeslot);
  cas.set_cmd().select_get();
  return c;
}

class E1CtlTest : public hwtest::BoardServiceTest {
protected:
  E1CtlTest()
      : maintenance(sim.device<SimBoard::Maintenance>(Board::Maintenance::kDevice)),
        casDevice(sim.device<SimBoard::E1Cas>(Board::E1Cas::kDevice)) {
    Serve({&e1});
  }

  bool Succeeds(const LGCP::Command& command) { return Controller::IsSuccess(Call(command, ++seq)); }
  int ErrorOf(const LGCP::Command& command) { return Controller::ErrorOf(Call(command, ++seq)); }

  SimBoard::Maintenance* maintenance;
  SimBoard::E1Cas* casDevice;
  E1Ctl e1;
  long seq = 0;
};

TEST_F(E1CtlTest, ConnectionGetsEveryTrunkAtOnceAndEverySecond) {
  ASSERT_NE(nullptr, maintenance);
  Board("e1 state 1 9");
  Board("e1 state 2 lossCarrier");
  Board("e1 state 0 -3");
  Board("e1 counters 3 1 2 3 4 5");
  Connect();
  const std::vector<Trunk> first = TrunkSignals();
  ASSERT_EQ(4u, first.size());
  const int expected[] = {ACP::TrunkState::unknown, ACP::TrunkState::unknown, ACP::TrunkState::lossCarrier,
                          ACP::TrunkState::normal};
  for (int t = 0; t < 4; ++t) {
    EXPECT_EQ(t, first[t].trunk);
    EXPECT_EQ(expected[t], first[t].state) << t;
    EXPECT_EQ(ACP::TrunkType::e1, first[t].type);
  }
  EXPECT_EQ(1, first[3].slips);
  EXPECT_EQ(2, first[3].lossBF);
  EXPECT_EQ(3, first[3].lossCarrier);
  EXPECT_EQ(4, first[3].ais);
  EXPECT_EQ(5, first[3].rai);
  EXPECT_EQ(0, first[2].slips + first[2].lossBF + first[2].lossCarrier + first[2].ais + first[2].rai);

  EXPECT_TRUE(TrunkSignals().empty());
  Board("e1 state 1 disabled");
  linktest::advance(clock, 999);
  EXPECT_TRUE(TrunkSignals().empty());
  linktest::advance(clock, 1);
  const std::vector<Trunk> second = TrunkSignals();
  ASSERT_EQ(4u, second.size());
  EXPECT_EQ(ACP::TrunkState::disabled, second[1].state);
  linktest::advance(clock, 1000);
  EXPECT_EQ(4u, TrunkSignals().size());
}

TEST_F(E1CtlTest, NothingIsSentWhileNoControllerIsConnected) {
  Connect();
  Disconnect();
  EXPECT_TRUE(e1.IsPolling());
  Board("e1 readfail 1 EIO");
  for (int i = 0; i < 3; ++i) linktest::advance(clock, 1000);
  EXPECT_EQ(std::string::npos, streams.err.text().find("ignore Send request")) << streams.err.text();
  // Nor was the status read.
  EXPECT_EQ(std::string::npos, streams.err.text().find("synchronization status read fail"));
  EXPECT_TRUE(e1.IsPolling());
}

TEST_F(E1CtlTest, TrunkThatCannotBeReadIsLoggedAndSkipped) {
  Board("e1 readfail 2 EIO");
  Connect();
  const std::vector<Trunk> got = TrunkSignals();
  ASSERT_EQ(3u, got.size());
  EXPECT_EQ(0, got[0].trunk);
  EXPECT_EQ(1, got[1].trunk);
  EXPECT_EQ(3, got[2].trunk);
  EXPECT_NE(std::string::npos, streams.err.text().find("E1: synchronization status read fail, trunk = 2 cause = "))
      << streams.err.text();
  Board("e1 readfail 2 off");
  linktest::advance(clock, 1000);
  EXPECT_EQ(4u, TrunkSignals().size());
}

TEST_F(E1CtlTest, MaintenanceThatCannotBeOpenedSendsNothingAndIsTriedAgain) {
  Board("fail open /dev/maintenance ENOENT");
  Connect();
  EXPECT_TRUE(TrunkSignals().empty());
  linktest::advance(clock, 1000);
  EXPECT_EQ(4u, TrunkSignals().size());
}

TEST_F(E1CtlTest, TrunkCfgSetsTheTclkMask) {
  Connect();
  EXPECT_EQ(1u, maintenance->tclk_requests());
  EXPECT_EQ(0u, maintenance->tclk());
  const struct {
    int trunk;
    LGCP::TrunkMode::NamedNumber mode;
    std::uint32_t mask;
    unsigned requests;
  } cases[] = {
      {2, LGCP::TrunkMode::slave, 0x4, 2},
      {2, LGCP::TrunkMode::master, 0x0, 3},
      {0, LGCP::TrunkMode::slave, 0x1, 4},
      {31, LGCP::TrunkMode::slave, 0x80000001u, 5},
      // Outside the mask: no bit, the mask is sent as it was.
      {40, LGCP::TrunkMode::slave, 0x80000001u, 6},
      {32, LGCP::TrunkMode::master, 0x80000001u, 7},
      // Negative: nothing at all.
      {-1, LGCP::TrunkMode::slave, 0x80000001u, 7},
      {31, LGCP::TrunkMode::master, 0x1, 8},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(Succeeds(TrunkCfg(c.trunk, c.mode))) << c.trunk;
    EXPECT_EQ(c.mask, maintenance->tclk()) << c.trunk;
    EXPECT_EQ(c.mask, e1.Tclk()) << c.trunk;
    EXPECT_EQ(c.requests, maintenance->tclk_requests()) << c.trunk;
  }
  EXPECT_NE(std::string::npos, streams.log.text().find("E1: TCLT = 0x80000001\n")) << streams.log.text();
}

TEST_F(E1CtlTest, NewConnectionSendsTclkZero) {
  Connect();
  EXPECT_TRUE(Succeeds(TrunkCfg(2, LGCP::TrunkMode::slave)));
  EXPECT_EQ(0x4u, maintenance->tclk());
  Disconnect();
  EXPECT_EQ(0x4u, maintenance->tclk());
  Connect();
  EXPECT_EQ(0u, maintenance->tclk());
  EXPECT_EQ(0u, e1.Tclk());
}

TEST_F(E1CtlTest, FailedTclkRequestIsABusError) {
  Connect();
  Board("fail ioctl /dev/maintenance 0xC0044D0B EIO");
  EXPECT_EQ(LGCP::ErrorCause::busError, ErrorOf(TrunkCfg(1, LGCP::TrunkMode::slave)));
  EXPECT_NE(std::string::npos, streams.err.text().find("E1: fail to set TCLK [cause="));
  // The mask holds the bit; the next request carries it.
  EXPECT_TRUE(Succeeds(TrunkCfg(3, LGCP::TrunkMode::slave)));
  EXPECT_EQ(0xAu, maintenance->tclk());
}

TEST_F(E1CtlTest, CasOpenSetGetAndClose) {
  Connect();
  EXPECT_TRUE(e1.IsCasPolled());
  // Timeslot 0: the trunk only.
  EXPECT_TRUE(Succeeds(CasOpen(1, 0, 3)));
  EXPECT_EQ(std::vector<Cas>{(Cas{1, 0, 0, 0})}, CasSignals());
  EXPECT_TRUE(e1.IsCasOpen(1));
  EXPECT_NE(std::string::npos, streams.log.text().find("E1: open cas signalling on trunk(1) - ok\n"));
  // Open already: reported without a request (which would fail).
  Board("fail ioctl /dev/e1-cas 0x80044300 EIO");
  EXPECT_TRUE(Succeeds(CasOpen(1, 0, 3)));
  EXPECT_EQ(std::vector<Cas>{(Cas{1, 0, 0, 0})}, CasSignals());
  Board("fail clear");

  // Only the low four bits are sent.
  EXPECT_TRUE(Succeeds(CasOpen(1, 5, 0x1A)));
  EXPECT_EQ((std::vector<Cas>{{1, 0, 0, 0}, {1, 5, 0, 0xA}}), CasSignals());
  EXPECT_TRUE(casDevice->channel(1, 5).enabled);
  EXPECT_EQ(0xA, casDevice->channel(1, 5).tx);

  EXPECT_TRUE(Succeeds(CasSet(1, 5, 0x13)));
  EXPECT_EQ(std::vector<Cas>{(Cas{1, 5, 0, 3})}, CasSignals());
  Board("cas rx 1 5 0x6");
  EXPECT_EQ(std::vector<Cas>{(Cas{1, 5, 6, 3})}, WaitCas(1));
  EXPECT_TRUE(Succeeds(CasGet(1, 5)));
  EXPECT_EQ(std::vector<Cas>{(Cas{1, 5, 6, 3})}, CasSignals());

  EXPECT_TRUE(Succeeds(CasClose(1, 5)));
  EXPECT_EQ(std::vector<Cas>{(Cas{1, 5, -1, 1})}, CasSignals());
  EXPECT_FALSE(casDevice->channel(1, 5).enabled);
  EXPECT_TRUE(Succeeds(CasClose(1, 0)));
  EXPECT_EQ(std::vector<Cas>{(Cas{1, 0, 1, 0})}, CasSignals());
  EXPECT_FALSE(e1.IsCasOpen(1));
  EXPECT_FALSE(casDevice->open(1));

  // Closed: get, set and close do nothing and are answered.
  EXPECT_TRUE(Succeeds(CasGet(1, 5)));
  EXPECT_TRUE(Succeeds(CasSet(1, 5, 1)));
  EXPECT_TRUE(Succeeds(CasClose(1, 0)));
  EXPECT_TRUE(CasSignals().empty());
}

TEST_F(E1CtlTest, Timeslot16OpensTheTrunkOnly) {
  Connect();
  EXPECT_TRUE(Succeeds(CasOpen(2, 16, 5)));
  EXPECT_EQ(std::vector<Cas>{(Cas{2, 0, 0, 0})}, CasSignals());
  EXPECT_TRUE(casDevice->open(2));
  EXPECT_FALSE(casDevice->channel(2, 16).enabled);
  EXPECT_TRUE(Succeeds(CasClose(2, 16)));
  EXPECT_TRUE(CasSignals().empty());
  EXPECT_TRUE(casDevice->open(2));
}

TEST_F(E1CtlTest, FailingCasRequestsAreReportedInRx) {
  Connect();
  Board("fail ioctl /dev/e1-cas 0x80044300 EIO");
  EXPECT_TRUE(Succeeds(CasOpen(0, 7, 1)));
  EXPECT_EQ(std::vector<Cas>{(Cas{0, 0, -1, 0})}, CasSignals());
  EXPECT_FALSE(e1.IsCasOpen(0));
  EXPECT_NE(std::string::npos, streams.log.text().find("E1: open cas signalling on trunk(0) - fail(-1)\n"));

  Board("fail ioctl /dev/e1-cas 0xC0104304 EIO");
  EXPECT_TRUE(Succeeds(CasOpen(0, 7, 1)));
  EXPECT_EQ((std::vector<Cas>{{0, 0, 0, 0}, {0, 7, -1, 0}}), CasSignals());
  // A channel the driver refuses.
  EXPECT_TRUE(Succeeds(CasOpen(0, 40, 1)));
  EXPECT_EQ((std::vector<Cas>{{0, 0, 0, 0}, {0, 40, -1, 0}}), CasSignals());
  EXPECT_TRUE(Succeeds(CasSet(0, 7, 1)));
  EXPECT_EQ(std::vector<Cas>{(Cas{0, 7, -1, 0})}, CasSignals());
  Board("fail ioctl /dev/e1-cas 0x80044301 EIO");
  EXPECT_TRUE(Succeeds(CasClose(0, 0)));
  EXPECT_EQ(std::vector<Cas>{(Cas{0, 0, -1, 0})}, CasSignals());
  EXPECT_TRUE(e1.IsCasOpen(0));
}

TEST_F(E1CtlTest, CasCommandsOutsideTheTrunksOrNotCasAreRefused) {
  Connect();
  for (int path : {4, -1, 1000}) {
    EXPECT_EQ(LGCP::ErrorCause::invalidParams, ErrorOf(CasOpen(path, 5, 1))) << path;
    EXPECT_EQ(LGCP::ErrorCause::invalidParams, ErrorOf(CasGet(path, 5))) << path;
  }
  LGCP::Command other;
  other.select_ioctl().select_deactivateRecord();
  EXPECT_EQ(LGCP::ErrorCause::unsupported, ErrorOf(other));
  EXPECT_TRUE(CasSignals().empty());
}

TEST_F(E1CtlTest, CasDeviceThatCannotBeOpenedIsABusError) {
  Board("fail open /dev/e1-cas ENOENT");
  Connect();
  EXPECT_FALSE(e1.IsCasPolled());
  Board("fail open /dev/e1-cas ENOENT");
  EXPECT_EQ(LGCP::ErrorCause::busError, ErrorOf(CasOpen(1, 0, 0)));
  EXPECT_TRUE(Succeeds(CasOpen(1, 0, 0)));
  EXPECT_TRUE(e1.IsCasPolled());
}

TEST_F(E1CtlTest, HangUpClosesTheCasDeviceAndTheTimerOpensItAgain) {
  Connect();
  EXPECT_TRUE(Succeeds(CasOpen(3, 9, 2)));
  CasSignals();
  Board("hangup /dev/e1-cas");
  ASSERT_TRUE(linktest::run_until([&] { return !e1.IsCasPolled(); }));
  EXPECT_EQ(1u, Count(streams.err.text(), "E1: cas interface closed\n")) << streams.err.text();
  // While closed, the device keeps what it reports for the next open.
  Board("cas rx 3 9 0x4");
  linktest::advance(clock, 1000);
  EXPECT_TRUE(e1.IsCasPolled());
  EXPECT_EQ(2u, Count(streams.log.text(), "E1: cas interface opened!\n"));
  EXPECT_EQ(std::vector<Cas>{(Cas{3, 9, 4, 2})}, WaitCas(1));
  EXPECT_EQ(1u, Count(streams.err.text(), "E1: cas interface closed\n"));
  // The trunk stayed open on both sides.
  Board("cas rx 3 9 0x5");
  EXPECT_EQ(std::vector<Cas>{(Cas{3, 9, 5, 2})}, WaitCas(1));
}

TEST_F(E1CtlTest, ShortCasRecordIsDropped) {
  Connect();
  EXPECT_TRUE(Succeeds(CasOpen(0, 1, 0)));
  CasSignals();
  Board("fail read /dev/e1-cas short");
  Board("cas rx 0 1 0x2");
  Board("cas rx 0 1 0x3");
  EXPECT_EQ(std::vector<Cas>{(Cas{0, 1, 3, 0})}, WaitCas(1));
  EXPECT_NE(std::string::npos, streams.err.text().find("E1: cas record of 6 bytes dropped\n"));
  EXPECT_TRUE(e1.IsCasPolled());
}

TEST_F(E1CtlTest, LoopedCasBitsArriveOnTheCabledTrunk) {
  Connect();
  Board("cas loop on");
  EXPECT_TRUE(Succeeds(CasOpen(0, 3, 0)));
  EXPECT_TRUE(Succeeds(CasOpen(1, 3, 0)));
  CasSignals();
  EXPECT_TRUE(Succeeds(CasSet(0, 3, 0x9)));
  EXPECT_EQ((std::vector<Cas>{{0, 3, 0, 9}, {1, 3, 9, 0}}), WaitCas(2));
}

TEST_F(E1CtlTest, SelectSourceGoesToTheMaintenanceDevice) {
  EXPECT_TRUE(e1.select_source(2));
  EXPECT_EQ(2, maintenance->clock());
  Board("fail ioctl /dev/maintenance 0xC0044D0A EIO");
  EXPECT_FALSE(e1.select_source(3));
  EXPECT_NE(std::string::npos, streams.err.text().find("E1: fail to set clock source\n"));
}

TEST(E1CtlAssign, CopiesPathAndTimeslot) {
  cas_channel from = {};
  from.path = 3;
  from.timeslot = 17;
  from.rx = 5;
  LGCP::CasChannel to;
  Assign(to, from);
  EXPECT_EQ(3, to.get_path().getValue());
  EXPECT_EQ(17, to.get_timeslot().getValue());
}

}  // namespace
