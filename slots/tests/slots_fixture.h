#pragma once
// Test slots whose hooks are scripted and journaled, their factory, and the
// real command server with the slot manager bound, a test controller on
// loopback and a clock that stands still unless a test moves it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/ctrl_server.h"
#include "control/testing/commands.h"
#include "control/testing/test_controller.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "slots/connect.h"
#include "slots/slot.h"
#include "slots/slots.h"
#include "transport/testing/link_test_util.h"

namespace slottest {

using namespace CtrlTest;

class TestSlot : public Slot {
public:
  TestSlot(std::string name, std::vector<std::string>* journal) : name(std::move(name)), journal(journal) {}
  ~TestSlot() override { note("deleted"); }

  int GetConnectionPriority() override { return priority; }
  bool IHwConnectTransmitter(Slot& receiver) override { return hw("IHwConnectTransmitter", receiver, hwConnect); }
  bool IHwConnectReceiver(Slot& source) override { return hw("IHwConnectReceiver", source, hwConnect); }
  bool IHwDisconnectTransmitter(Slot& receiver) override { return hw("IHwDisconnectTransmitter", receiver, true); }
  bool IHwDisconnectReceiver(Slot& source) override { return hw("IHwDisconnectReceiver", source, true); }
  bool IOnOutputStream() override {
    note("IOnOutputStream");
    return outputOk;
  }
  bool IOnInputStream() override {
    note("IOnInputStream");
    return inputOk;
  }
  void IOnOutputRelease() override { note("IOnOutputRelease"); }
  void IOnInputRelease() override { note("IOnInputRelease"); }
  int IGetTransmitChannel() override { return tx; }
  int IGetReceiveChannel() override { return rx; }
  bool IBeforeDestroy() override {
    note("IBeforeDestroy");
    return !defer;
  }
  void IAfterCreate() override { note("IAfterCreate"); }
  bool IActivate(TERM::TermActivateParams const&) override {
    if (refusal >= 0) SetErrorCause(LGCP::ErrorCause::NamedNumber(refusal));
    return activateOk;
  }
  const char* GetName() const override { return name.c_str(); }

  bool hwConnect = true;
  bool outputOk = true;
  bool inputOk = true;
  bool defer = false;
  bool activateOk = false;
  int refusal = -1;
  int priority = 0;
  int tx = 100;
  int rx = 200;
  std::string name;

private:
  void note(const std::string& what) {
    if (journal) journal->push_back(name + ":" + what);
  }
  bool hw(const char* what, Slot& other, bool result) {
    note(std::string(what) + "(" + other.GetName() + ")");
    return result;
  }
  std::vector<std::string>* journal;
};

// Makes a TestSlot for create mcc; what the next slot does is set here
// first. It never leaves the factory chain, so it is one for the process.
class TestFactory : public SlotFactory {
public:
  static TestFactory& instance() {
    static TestFactory f;
    return f;
  }
  const char* GetName() const override { return "Test"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override {
    if (!params.mcc_isSelected()) return nullptr;
    if (refusal >= 0) {
      SetErrorCause(LGCP::ErrorCause::NamedNumber(refusal));
      return nullptr;
    }
    TestSlot* slot = new TestSlot("test", journal);
    slot->defer = defer;
    return slot;
  }
  void Query(LGCP::Resources& resources) override { resources.set_mcc_data(mccData); }
  void SelfSignal(LGCP::Signal const& signal) override { selfSignals.push_back(signal.currentSelection()); }

  bool defer = false;
  int refusal = -1;
  int mccData = 0;
  std::vector<std::string>* journal = nullptr;
  std::vector<int> selfSignals;
};

inline LGCP::Command CreateTest() {
  LGCP::Command c;
  c.select_create().select_mcc();
  return c;
}

class SlotsServerTest : public ::testing::Test {
protected:
  SlotsServerTest() : slots(Slots::instance()) {
    TestFactory::instance().defer = false;
    TestFactory::instance().refusal = -1;
    TestFactory::instance().journal = &journal;
  }

  void SetUp() override {
    server.Bind(&slots);
    listener = new Control::AcceptorNetCheckConnection(0, false);
    ASSERT_TRUE(server.Activate(listener));
    port = listener->GetListenPort();
    controller.SetSignalsApart(true);
    ASSERT_NO_FATAL_FAILURE(Connect());
  }

  void TearDown() override {
    server.Deactivate();
    // Orphans of the last controller.
    linktest::advance(clock, Slots::kOrphanMs);
    EXPECT_EQ(0u, slots.Count());
    EXPECT_EQ(0u, slots.OrphanCount());
    TestFactory::instance().journal = nullptr;
  }

  void Connect() {
    ASSERT_TRUE(controller.Connect(port));
    ASSERT_TRUE(linktest::run_until([&] { return listener->IsConnected(); }));
  }

  void Disconnect() {
    controller.Close();
    ASSERT_TRUE(linktest::run_until([&] { return !listener->IsConnected(); }));
  }

  // The next message that is not a signal, running the loop meanwhile.
  Controller::Result Next(LGCP::Message& m) {
    Controller::Result r = Controller::Timeout;
    linktest::run_until(
        [&] { return r != Controller::Timeout || (r = controller.Receive(m, 0)) != Controller::Timeout; });
    return r;
  }

  // The answer; kNone slot sends none.
  LGCP::Message Call(const LGCP::Command& command, long seq, long slot) {
    EXPECT_TRUE(controller.Send(Controller::Make(command, seq, slot)));
    LGCP::Message answer;
    EXPECT_EQ(Controller::Ok, Next(answer));
    return answer;
  }

  // -1 for success, else the cause; checks seq and slot of the answer.
  int Answer(const LGCP::Command& command, long seq, long slot) {
    const LGCP::Message m = Call(command, seq, slot);
    EXPECT_EQ(seq, Controller::SeqOf(m));
    EXPECT_EQ(slot, Controller::SlotOf(m));
    return Controller::IsSuccess(m) ? -1 : Controller::ErrorOf(m);
  }

  // Every signal so far: the answer to a command nobody takes fences them.
  std::vector<LGCP::Message> Signals() {
    LGCP::Command ping;
    ping.select_ping();
    const LGCP::Message fence = Call(ping, 777, kNone);
    EXPECT_EQ(777, Controller::SeqOf(fence));
    std::vector<LGCP::Message> all;
    LGCP::Message m;
    while (controller.ReceiveSignal(m, 0) == Controller::Ok) all.push_back(m);
    return all;
  }

  // Expects no answer to have come before the fence.
  void ExpectNoAnswer() {
    LGCP::Command ping;
    ping.select_ping();
    const LGCP::Message fence = Call(ping, 778, kNone);
    EXPECT_EQ(778, Controller::SeqOf(fence)) << fence;
  }

  TestSlot* Created(unsigned n) { return static_cast<TestSlot*>(slots.Find(n)); }

  linktest::CachedClock clock;
  linktest::Streams streams;
  std::vector<std::string> journal;
  Slots& slots;
  CtrlSrv::Server server;
  Control::AcceptorNetCheckConnection* listener = nullptr;
  unsigned short port = 0;
  Controller controller;
};

}  // namespace slottest
