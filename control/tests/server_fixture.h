#pragma once
// A command server on a loopback listener with a test controller connected,
// and a command service whose behaviour each test scripts.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "control/ctrl_server.h"
#include "control/heartbeat.h"
#include "control/testing/commands.h"
#include "control/testing/test_controller.h"
#include "messages/LGCP.h"
#include "transport/testing/link_test_util.h"

namespace srvtest {

using CtrlTest::Controller;
using CtrlTest::Destroy;
using CtrlTest::kNone;

// Writes what it is told into a journal shared by the services of a test.
class Scripted : public CtrlSrv::Service {
public:
  typedef std::function<bool(Scripted&, const LGCP::Command&)> Script;

  Scripted(std::string name, std::vector<std::string>* journal) : name(std::move(name)), journal(journal) {}

  void OnConnect() override { note("connect"); }
  void OnDisconnect() override { note("disconnect"); }
  bool OnCommand(const LGCP::Command& command) override {
    note("command");
    lastSlot = GetSlot();
    lastSlotPresent = IsSlotPresent();
    return script ? script(*this, command) : false;
  }
  void OnSignal(const LGCP::Signal& signal) override { note("signal " + std::to_string(signal.currentSelection())); }

  using CtrlSrv::Service::CheckServer;
  using CtrlSrv::Service::CheckServerConnection;
  using CtrlSrv::Service::delayedError;
  using CtrlSrv::Service::delayedSuccess;
  using CtrlSrv::Service::delayResponse;
  using CtrlSrv::Service::Error;
  using CtrlSrv::Service::GetSlot;
  using CtrlSrv::Service::IsSlotPresent;
  using CtrlSrv::Service::SendSignal;
  using CtrlSrv::Service::Success;

  std::string name;
  std::vector<std::string>* journal;
  Script script;
  int lastSlot = -2;
  bool lastSlotPresent = false;

private:
  void note(std::string const& what) {
    if (journal) journal->push_back(name + " " + what);
  }
};

inline LGCP::Signal Activated() {
  LGCP::Signal s;
  s.select_activated();
  return s;
}

class ServerFixture : public ::testing::Test {
protected:
  void SetUp() override {
    server.Bind(&heartbeat);
    server.Bind(&first);
    server.Bind(&second);
    listener = new Control::AcceptorNetCheckConnection(0, false);
    ASSERT_TRUE(server.Activate(listener));
    port = listener->GetListenPort();
    ASSERT_NE(port, 0);
    ASSERT_TRUE(controller.Connect(port));
    ASSERT_TRUE(linktest::run_until([&] { return listener->IsConnected(); }));
    journal.clear();
  }

  void TearDown() override { server.Deactivate(); }

  // The next message from the server, running the loop meanwhile.
  Controller::Result Next(LGCP::Message& m) {
    Controller::Result r = Controller::Timeout;
    // Asked more than once after it held.
    linktest::run_until(
        [&] { return r != Controller::Timeout || (r = controller.Receive(m, 0)) != Controller::Timeout; });
    return r;
  }

  LGCP::Message Call(LGCP::Message const& request) {
    EXPECT_TRUE(controller.Send(request));
    LGCP::Message answer;
    EXPECT_EQ(Controller::Ok, Next(answer));
    return answer;
  }

  // Sends a ping and expects its answer to be the next message: whatever
  // the server sent before it would show up here instead.
  void ExpectNothingBefore(long fenceSeq = 424242) {
    const LGCP::Message answer = Call(Controller::Ping(fenceSeq));
    EXPECT_TRUE(Controller::IsSuccess(answer));
    EXPECT_EQ(fenceSeq, Controller::SeqOf(answer));
  }

  linktest::CachedClock clock;
  linktest::Streams streams;
  std::vector<std::string> journal;
  CtrlSrv::Server server;
  HeartBeatCtl heartbeat;
  Scripted first{"first", &journal};
  Scripted second{"second", &journal};
  Control::AcceptorNetCheckConnection* listener = nullptr;
  unsigned short port = 0;
  Controller controller;
};

}  // namespace srvtest
