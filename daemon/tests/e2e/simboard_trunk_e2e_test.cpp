// The trunk and clock services of the daemon on the default simulated
// board: E1 and BRI trunk status, CAS, clock source and TCLK, seen by a
// controller and scripted through the board's control socket.
#include <algorithm>
#include <string>
#include <vector>

#include "control/testing/commands.h"
#include "daemon/tests/e2e/daemon_e2e.h"
#include "messages/ACP.h"
#include "messages/LGCP.h"
#include "simboard/testing/sim_client.h"

using namespace e2e;
using CtrlTest::ClockCfg;

namespace {

struct Trunk {
  int trunk, state, type;
};

struct Cas {
  int path, timeslot, rx, tx;
  bool operator==(const Cas& o) const { return path == o.path && timeslot == o.timeslot && rx == o.rx && tx == o.tx; }
};
std::ostream& operator<<(std::ostream& os, const Cas& c) {
  return os << "{" << c.path << ", " << c.timeslot << ", " << c.rx << ", " << c.tx << "}";
}

LGCP::CasCommand& CasOn(LGCP::Command& c, int path, int timeslot) {
  LGCP::CasCommand& cas = c.select_ioctl().select_cas();
  cas.set_channel().set_path(path);
  cas.set_channel().set_timeslot(timeslot);
  return cas;
}

class TrunkBoard : public Daemon {
protected:
  void Start(std::vector<std::string> args = {}) {
    ASSERT_NO_FATAL_FAILURE(Run("", args));
    ASSERT_TRUE(board.Connect(SimBoard::Client::DefaultPath(), 5000)) << daemon.Err();
  }

  void Board(const std::string& command) {
    const SimBoard::Answer a = board.Command(command);
    ASSERT_TRUE(a.ok) << command << ": " << a.text();
  }

  // -1: success; otherwise the error cause.
  int Answer(const LGCP::Command& command) {
    const LGCP::Message answer = Call(Controller::Make(command, ++seq));
    EXPECT_EQ(seq, Controller::SeqOf(answer));
    return Controller::IsSuccess(answer) ? -1 : Controller::ErrorOf(answer);
  }

  // The next trunkStatus signals of the type, waiting up to timeout_ms (0:
  // those here already).
  std::vector<Trunk> TrunkStatus(Controller& c, int type, std::size_t n, int timeout_ms = 5000) {
    std::vector<Trunk> got;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (got.size() < n) {
      const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
      LGCP::Message m;
      if (c.ReceiveSignal(m, std::max(left, 0)) != Controller::Ok) break;
      const LGCP::Signal& s = m.get_pdu().get_signal();
      if (!s.trunkStatus_isSelected() || s.get_trunkStatus().get_type().asInt() != type) continue;
      const ACP::TrunkStatus& t = s.get_trunkStatus();
      got.push_back(Trunk{t.get_trunk().getValue(), t.get_state().asInt(), type});
    }
    return got;
  }
  std::vector<Trunk> TrunkStatus(int type, std::size_t n, int timeout_ms = 5000) {
    return TrunkStatus(controller, type, n, timeout_ms);
  }

  // The next cas signals, skipping trunk status.
  std::vector<Cas> CasSignals(std::size_t n, int timeout_ms = 5000) {
    std::vector<Cas> got;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (got.size() < n) {
      const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
      LGCP::Message m;
      if (left <= 0 || controller.ReceiveSignal(m, left) != Controller::Ok) break;
      const LGCP::Signal& s = m.get_pdu().get_signal();
      if (!s.cas_isSelected()) continue;
      const LGCP::CasSignalling& c = s.get_cas();
      got.push_back(Cas{c.get_channel().get_path().getValue(), c.get_channel().get_timeslot().getValue(),
                        c.get_rx().getValue(), c.get_tx().getValue()});
    }
    return got;
  }

  // Hangs the CAS device up and waits until a status tick of the daemon has
  // opened it again.
  bool CasReopened() {
    Board("hangup /dev/e1-cas");
    return Eventually([&] { return board.Command("board devices").find("/dev/e1-cas opens=1") != ""; });
  }

  // A controller after the first left; refused while the daemon has not
  // yet seen the first one go.
  bool Reconnect(Controller& next) {
    next.SetSignalsApart(true);
    LGCP::Message answer;
    return Eventually(
        [&] { return next.Connect(port) && next.Call(Controller::Ping(99), answer, 5000) == Controller::Ok; });
  }

  SimBoard::Client board;
  long seq = 0;
};

TEST_F(TrunkBoard, E1StatusOnConnectAndEverySecond) {
  // Taken before the connection: its status tick comes a second after it,
  // however late the test reads the first signals.
  const Clock::time_point start = Clock::now();
  ASSERT_NO_FATAL_FAILURE(Start());
  // The first four signals of the connection, sent as it was taken: before
  // the answer to the ping that Start() waited for.
  std::vector<Trunk> first = TrunkStatus(ACP::TrunkType::e1, 4, 0);
  ASSERT_EQ(4u, first.size());
  for (int t = 0; t < 4; ++t) {
    EXPECT_EQ(t, first[t].trunk);
    EXPECT_EQ(ACP::TrunkState::normal, first[t].state);
  }
  EXPECT_EQ(4u, TrunkStatus(ACP::TrunkType::e1, 4).size());
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(500));

  // Trunk 1 first: any batch that shows trunk 2 changed shows trunk 1 too.
  Board("e1 state 1 9");
  Board("e1 state 2 lossCarrier");
  bool seen = false;
  for (int batch = 0; batch < 4 && !seen; ++batch) {
    const std::vector<Trunk> got = TrunkStatus(ACP::TrunkType::e1, 4);
    ASSERT_EQ(4u, got.size());
    if (got[2].state != ACP::TrunkState::lossCarrier) continue;
    seen = true;
    EXPECT_EQ(ACP::TrunkState::unknown, got[1].state);
    EXPECT_EQ(ACP::TrunkState::normal, got[0].state);
    EXPECT_EQ(ACP::TrunkState::normal, got[3].state);
  }
  EXPECT_TRUE(seen);

  // Then a status tick with nobody to tell: the one that opens the hung-up
  // CAS device again.
  controller.Close();
  ASSERT_TRUE(CasReopened());
  Controller next;
  ASSERT_TRUE(Reconnect(next));
  const std::vector<Trunk> again = TrunkStatus(next, ACP::TrunkType::e1, 4, 0);
  ASSERT_EQ(4u, again.size());
  EXPECT_EQ(ACP::TrunkState::lossCarrier, again[2].state);
  EXPECT_EQ(0, Stop());
  EXPECT_FALSE(contains(daemon.Err(), "ignore Send request")) << daemon.Err();
}

TEST_F(TrunkBoard, BriStatusEverySecond) {
  ASSERT_NO_FATAL_FAILURE(Start());
  Board("spi set 3 51 0x45");
  bool seen = false;
  for (int pass = 0; pass < 3 && !seen; ++pass) {
    const std::vector<Trunk> got = TrunkStatus(ACP::TrunkType::bri, 8);
    ASSERT_EQ(8u, got.size());
    for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(ch, got[ch].trunk);
    seen = got[3].state == ACP::TrunkState::ais;
    for (int ch : {0, 1, 2, 4, 5, 6, 7}) EXPECT_EQ(ACP::TrunkState::normal, got[ch].state) << ch;
  }
  EXPECT_TRUE(seen);
  // Channels 0 to 6 were set up at start, channel 7 only clocked.
  const SimBoard::Answer log = board.Command("spi log");
  ASSERT_TRUE(log.ok);
  EXPECT_EQ("ch=0 reg=50 value=128", log.lines.at(0));
  EXPECT_NE("", log.find("ch=6 reg=55 value=0"));
  EXPECT_EQ("", log.find("ch=7 reg=50")) << log.text();
}

TEST_F(TrunkBoard, HungUpTrunkAndClockDevicesAreOpenedAgainAtTheirNextUse) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_EQ(4u, TrunkStatus(ACP::TrunkType::e1, 4, 0).size());
  Board("hangup /dev/hal");
  Board("hangup /dev/maintenance");
  Board("e1 state 3 ais");
  Board("spi set 5 51 0x85");
  // The next passes find the devices gone, open them again and read on.
  bool e1 = false, bri = false;
  for (int pass = 0; pass < 3 && !(e1 && bri); ++pass) {
    const std::vector<Trunk> e1Status = TrunkStatus(ACP::TrunkType::e1, 4);
    ASSERT_EQ(4u, e1Status.size());
    e1 = e1 || e1Status[3].state == ACP::TrunkState::ais;
    const std::vector<Trunk> briStatus = TrunkStatus(ACP::TrunkType::bri, 8);
    ASSERT_EQ(8u, briStatus.size());
    bri = bri || briStatus[5].state == ACP::TrunkState::rai;
  }
  EXPECT_TRUE(e1);
  EXPECT_TRUE(bri);
  EXPECT_EQ(-1, Answer(ClockCfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 1)));
  EXPECT_EQ("source=1", board.Command("clock get").lines.at(0));
  EXPECT_EQ(0, Stop());
  const std::string logs = daemon.Out() + daemon.Err();
  for (const char* line : {"E1: maintenance device lost: Input/output error\n",
                           "spi: /dev/hal lost: Input/output error\n", "clkctl: device lost: Input/output error\n"})
    EXPECT_EQ(1, count(logs, line)) << line << logs;
  EXPECT_FALSE(contains(logs, "read fail")) << logs;
  EXPECT_FALSE(contains(logs, "spi: read error")) << logs;
}

TEST_F(TrunkBoard, CasChannelOpenedSetReceivedAndClosed) {
  ASSERT_NO_FATAL_FAILURE(Start());
  LGCP::Command open;
  CasOn(open, 1, 5).set_cmd().select_open(0xA);
  EXPECT_EQ(-1, Answer(open));
  EXPECT_EQ((std::vector<Cas>{{1, 0, 0, 0}, {1, 5, 0, 0xA}}), CasSignals(2));
  const SimBoard::Answer get = board.Command("cas get 1 5");
  EXPECT_NE("", get.find("open=1 ts=5 enabled=1 tx=0xA")) << get.text();

  Board("cas rx 1 5 0x5");
  EXPECT_EQ(std::vector<Cas>{(Cas{1, 5, 5, 0xA})}, CasSignals(1));

  // The device hangs up; the daemon opens it again and hears the next bits.
  ASSERT_TRUE(CasReopened());
  Board("cas rx 1 5 0x3");
  EXPECT_EQ(std::vector<Cas>{(Cas{1, 5, 3, 0xA})}, CasSignals(1));

  LGCP::Command close;
  CasOn(close, 1, 0).set_cmd().select_close();
  EXPECT_EQ(-1, Answer(close));
  EXPECT_EQ(std::vector<Cas>{(Cas{1, 0, 1, 0})}, CasSignals(1));

  LGCP::Command outside;
  CasOn(outside, 4, 5).set_cmd().select_get();
  EXPECT_EQ(LGCP::ErrorCause::invalidParams, Answer(outside));
  EXPECT_EQ(0, Stop());
  EXPECT_TRUE(contains(daemon.Err(), "E1: cas interface closed\n")) << daemon.Err();
}

TEST_F(TrunkBoard, ClockSourceSelectedByTheController) {
  ASSERT_NO_FATAL_FAILURE(Start());
  SimBoard::Answer clock = board.Command("clock get");
  EXPECT_NE("", clock.find("selections=4")) << clock.text();
  EXPECT_EQ(-1, Answer(ClockCfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 2)));
  clock = board.Command("clock get");
  EXPECT_EQ("source=2", clock.lines.at(0)) << clock.text();
  EXPECT_EQ(LGCP::ErrorCause::invalidParams, Answer(ClockCfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, -1)));
  EXPECT_EQ("source=2", board.Command("clock get").lines.at(0));
  Board("fail ioctl /dev/hal 0x80044301 EIO");
  EXPECT_EQ(LGCP::ErrorCause::busError, Answer(ClockCfg(LGCP::ClkSel0::internal, LGCP::BExtEn::disabled, 0)));
  EXPECT_EQ(0, Stop());
  EXPECT_TRUE(contains(daemon.Err(), "clkctl: clock source = f2\n")) << daemon.Err();
}

TEST_F(TrunkBoard, DisabledClockControlRefusesAndSelectsNothing) {
  ASSERT_NO_FATAL_FAILURE(Start({"--disable-clock"}));
  EXPECT_EQ(LGCP::ErrorCause::unsupported, Answer(ClockCfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 2)));
  const SimBoard::Answer clock = board.Command("clock get");
  EXPECT_EQ("source=4", clock.lines.at(0));
  EXPECT_EQ("selections=", clock.lines.at(1)) << clock.text();
  EXPECT_EQ(0, Stop());
  EXPECT_TRUE(contains(daemon.Err(), "clock control disabled.\n")) << daemon.Err();
}

TEST_F(TrunkBoard, TrunkCfgSetsTclk) {
  ASSERT_NO_FATAL_FAILURE(Start());
  LGCP::Command slave;
  LGCP::TrunkCfg& cfg = slave.select_trunkCfg();
  cfg.set_trunk(2);
  cfg.set_mode(LGCP::TrunkMode::slave);
  EXPECT_EQ(-1, Answer(slave));
  EXPECT_NE("", board.Command("e1 get").find("tclk=0x4 "));
  controller.Close();
  Controller next;
  ASSERT_TRUE(Reconnect(next));
  EXPECT_TRUE(Eventually([&] { return board.Command("e1 get").find("tclk=0x0 tclk_requests=3") != ""; }))
      << board.Command("e1 get").text();
}

}  // namespace
