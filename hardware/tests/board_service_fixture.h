#pragma once
// Board services in-process: the simulated board from its default state, a
// command server on a loopback listener, and a test controller that puts the
// services' signals aside. The loop's clock stands still unless a test moves
// it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/ctrl_server.h"
#include "control/testing/test_controller.h"
#include "messages/ACP.h"
#include "messages/LGCP.h"
#include "simboard/simulator.h"
#include "transport/testing/link_test_util.h"

namespace hwtest {

using CtrlTest::Controller;

// A received cas signal.
struct Cas {
  int path, timeslot, rx, tx;
  bool operator==(const Cas& o) const { return path == o.path && timeslot == o.timeslot && rx == o.rx && tx == o.tx; }
};
inline std::ostream& operator<<(std::ostream& os, const Cas& c) {
  return os << "{" << c.path << ", " << c.timeslot << ", " << c.rx << ", " << c.tx << "}";
}

// A received trunkStatus signal.
struct Trunk {
  int trunk, state, slips, lossBF, lossCarrier, ais, rai, type;
};

class BoardServiceTest : public ::testing::Test {
protected:
  BoardServiceTest() : sim(SimBoard::Simulator::instance()) { sim.reset(); }
  ~BoardServiceTest() override {
    server.Deactivate();
    sim.collect_closed();
    sim.reset();
  }

  void Serve(const std::vector<CtrlSrv::Service*>& services) {
    for (CtrlSrv::Service* s : services) server.Bind(s);
    // Verbose: a signal sent with nobody connected shows up in the log.
    listener = new Control::AcceptorNetCheckConnection(0, true);
    ASSERT_TRUE(server.Activate(listener));
    port = listener->GetListenPort();
    ASSERT_NE(0, port);
    controller.SetSignalsApart(true);
  }

  void Connect() {
    ASSERT_TRUE(controller.Connect(port));
    ASSERT_TRUE(linktest::run_until([&] { return listener->IsConnected(); }));
  }

  void Disconnect() {
    controller.Close();
    ASSERT_TRUE(linktest::run_until([&] { return !listener->IsConnected(); }));
  }

  void Board(const std::string& command) {
    const SimBoard::Reply r = sim.execute(command);
    ASSERT_FALSE(r.failed()) << command << ": " << r.text();
  }
  std::string BoardText(const std::string& command) { return sim.execute(command).text(); }

  // The answer to the command, running the loop meanwhile.
  LGCP::Message Call(const LGCP::Command& command, long seq) {
    EXPECT_TRUE(controller.Send(Controller::Make(command, seq)));
    LGCP::Message answer;
    Controller::Result r = Controller::Timeout;
    // Asked again after it held.
    linktest::run_until(
        [&] { return r != Controller::Timeout || (r = controller.Receive(answer, 0)) != Controller::Timeout; });
    EXPECT_EQ(Controller::Ok, r);
    EXPECT_EQ(seq, Controller::SeqOf(answer));
    return answer;
  }

  // Every signal the server sent so far: a ping (answered by nobody here)
  // fences them.
  std::vector<LGCP::Signal> Signals() {
    Call(Controller::Ping(777).get_pdu().get_command(), 777);
    std::vector<LGCP::Signal> all;
    LGCP::Message m;
    while (controller.ReceiveSignal(m, 0) == Controller::Ok) all.push_back(m.get_pdu().get_signal());
    return all;
  }

  std::vector<Cas> CasSignals() {
    std::vector<Cas> out;
    for (const LGCP::Signal& s : Signals()) {
      if (!s.cas_isSelected()) continue;
      const LGCP::CasSignalling& c = s.get_cas();
      out.push_back(Cas{c.get_channel().get_path().getValue(), c.get_channel().get_timeslot().getValue(),
                        c.get_rx().getValue(), c.get_tx().getValue()});
    }
    return out;
  }

  // Runs the loop until n cas signals more have arrived; all that came.
  std::vector<Cas> WaitCas(std::size_t n) {
    std::vector<Cas> got;
    linktest::run_until([&] {
      LGCP::Message m;
      while (controller.ReceiveSignal(m, 0) == Controller::Ok) {
        if (!m.get_pdu().get_signal().cas_isSelected()) continue;
        const LGCP::CasSignalling& c = m.get_pdu().get_signal().get_cas();
        got.push_back(Cas{c.get_channel().get_path().getValue(), c.get_channel().get_timeslot().getValue(),
                          c.get_rx().getValue(), c.get_tx().getValue()});
      }
      return got.size() >= n;
    });
    return got;
  }

  static std::vector<Trunk> TrunkSignals(const std::vector<LGCP::Signal>& signals) {
    std::vector<Trunk> out;
    for (const LGCP::Signal& s : signals) {
      if (!s.trunkStatus_isSelected()) continue;
      const ACP::TrunkStatus& t = s.get_trunkStatus();
      EXPECT_EQ("", std::string(t.get_name()));
      EXPECT_FALSE(bool(t.get_clockMaster()));
      out.push_back(Trunk{t.get_trunk().getValue(), t.get_state().asInt(), t.get_slips().getValue(),
                          t.get_lossBF().getValue(), t.get_lossCarrier().getValue(), t.get_lossAIS().getValue(),
                          t.get_lossRAI().getValue(), t.get_type().asInt()});
    }
    return out;
  }
  std::vector<Trunk> TrunkSignals() { return TrunkSignals(Signals()); }

  linktest::CachedClock clock;
  linktest::Streams streams;
  SimBoard::Simulator& sim;
  CtrlSrv::Server server;
  Control::AcceptorNetCheckConnection* listener = nullptr;
  unsigned short port = 0;
  Controller controller;
};

}  // namespace hwtest
