#pragma once
// The daemon on the default simulated board: its control socket connected
// beside the controller, and the commands every board test gives.
#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "daemon/tests/e2e/daemon_e2e.h"
#include "messages/LGCP.h"
#include "simboard/testing/sim_client.h"

namespace e2e {

// Answer() for a command that succeeded.
constexpr int kSuccess = -1;

class BoardDaemon : public Daemon {
protected:
  void Start(std::string const& config = "") {
    ASSERT_NO_FATAL_FAILURE(Run(config));
    ASSERT_TRUE(board.Connect(SimBoard::Client::DefaultPath(), 5000)) << daemon.Err();
  }

  SimBoard::Answer Board(std::string const& command) {
    const SimBoard::Answer a = board.Command(command);
    EXPECT_TRUE(a.ok) << command << ": " << a.text();
    return a;
  }
  std::vector<std::string> Lines(std::string const& command) { return Board(command).lines; }
  // The value after "key=" in the lines of a board command, "?" when none has it.
  std::string Value(std::string const& command, std::string const& key) {
    for (const std::string& line : Lines(command)) {
      const size_t at = (" " + line).find(" " + key + "=");
      if (at == std::string::npos) continue;
      const size_t from = at + key.size() + 1;
      return line.substr(from, line.find(' ', from) - from);
    }
    return "?";
  }

  // What the cross-connect has on the output, e.g. "state=fed source=5".
  std::string Xc(int output) {
    const std::vector<std::string> lines = Lines("xc get " + std::to_string(output));
    const std::string line = lines.empty() ? "" : lines[0];
    const size_t state = line.find(" state=");
    if (state == std::string::npos) return line;
    const size_t end = line.find(" disables=");
    return line.substr(state + 1, end == std::string::npos ? std::string::npos : end - state - 1);
  }

  // The same frame from the far end count times at the line end ("<t> <s>"),
  // as fast as the channels read them: in runs that fit their queues, each
  // once they have read the run before (a frame meeting a full queue would
  // be lost, however slow the daemon is to read); the octets the line carried.
  size_t InjectFlood(std::string const& end, std::string const& hex, unsigned count) {
    const unsigned kRun = 64;
    for (unsigned done = 0; done < count;) {
      EXPECT_TRUE(Eventually([&] { return !contains(Board("mcc list").text(), " unread="); }, 10000));
      const unsigned run = std::min(kRun, count - done);
      for (unsigned i = 0; i < run; ++i) EXPECT_TRUE(board.Send("line inject " + end + " " + hex));
      for (unsigned i = 0; i < run; ++i) {
        SimBoard::Answer a;
        EXPECT_EQ(SimBoard::Client::Ok, board.Receive(a, 5000));
        EXPECT_TRUE(a.ok) << a.text();
      }
      done += run;
    }
    return hex.size() / 2 * count;
  }

  // kSuccess or the error cause; the answer carries the command's seq and slot.
  int Answer(LGCP::Command const& command, long slot, Controller& c) {
    LGCP::Message answer;
    EXPECT_EQ(Controller::Ok, c.Call(Controller::Make(command, ++seq, slot), answer, 10000));
    EXPECT_EQ(seq, Controller::SeqOf(answer));
    EXPECT_EQ(slot, Controller::SlotOf(answer));
    return Controller::IsSuccess(answer) ? kSuccess : Controller::ErrorOf(answer);
  }
  int Answer(LGCP::Command const& command, long slot) { return Answer(command, slot, controller); }

  // The first signal of the slot that matches, kept aside earlier or read
  // now; the others read meanwhile are kept aside in seen.
  bool WaitFor(long slot, std::function<bool(LGCP::Signal const&)> match, LGCP::Signal* out = nullptr,
               int timeout_ms = 10000) {
    for (auto it = seen.begin(); it != seen.end(); ++it) {
      if (Controller::SlotOf(*it) != slot || !match(it->get_pdu().get_signal())) continue;
      if (out) *out = it->get_pdu().get_signal();
      seen.erase(it);
      return true;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
      LGCP::Message m;
      if (left <= 0 || controller.ReceiveSignal(m, left) != Controller::Ok) return false;
      const LGCP::Signal& s = m.get_pdu().get_signal();
      if (Controller::SlotOf(m) == slot && match(s)) {
        if (out) *out = s;
        return true;
      }
      seen.push_back(m);
    }
  }

  // Whether a signal of the slot that matches came before a ping's answer,
  // which follows whatever the daemon's loop has done by then.
  bool SignalledByPing(long slot, std::function<bool(LGCP::Signal const&)> match) {
    LGCP::Message answer;
    EXPECT_EQ(Controller::Ok, controller.Call(Controller::Ping(), answer, 5000));
    LGCP::Message m;
    while (controller.ReceiveSignal(m, 0) == Controller::Ok) seen.push_back(m);
    return WaitFor(slot, match, nullptr, 0);
  }

  // The next n signals other than trunk status, or fewer at the time-out.
  std::vector<LGCP::Message> Signals(std::size_t n, int timeout_ms = 3000) {
    std::vector<LGCP::Message> got;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (got.size() < n) {
      const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
      LGCP::Message m;
      if (left <= 0 || controller.ReceiveSignal(m, left) != Controller::Ok) break;
      if (m.get_pdu().get_signal().trunkStatus_isSelected()) continue;
      got.push_back(m);
    }
    return got;
  }

  SimBoard::Client board;
  long seq = 0;
  std::vector<LGCP::Message> seen;
};

}  // namespace e2e
