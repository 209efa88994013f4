#pragma once
// Helpers of the simulated board's tests: running the loop for a while, a
// captured stream, and a device driver whose behaviour the test sees.
#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/dpc.h"
#include "foundation/multiplexer.h"
#include "foundation/timer.h"
#include "simboard/driver.h"

namespace simtest {

// Runs the loop until done() holds (true) or about real_ms went by (false).
class LoopRunner {
public:
  bool run(std::function<bool()> until, int real_ms = 3000) {
    done_ = std::move(until);
    met_ = false;
    deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(real_ms);
    dpc_.Bind(this, &LoopRunner::check);
    dpc_.Activate();
    tick_.set<LoopRunner>(5, &LoopRunner::on_tick, this);
    multiplexer.run(false, true);
    dpc_.Deactivate();
    tick_.reset();
    return met_;
  }

private:
  void check() {
    if (done_()) {
      met_ = true;
      multiplexer.terminate();
    } else if (std::chrono::steady_clock::now() > deadline_) {
      multiplexer.terminate();
    }
  }
  // Keeps every poll short.
  void on_tick() { tick_.set<LoopRunner>(5, &LoopRunner::on_tick, this); }

  std::function<bool()> done_;
  bool met_ = false;
  std::chrono::steady_clock::time_point deadline_;
  Dpc dpc_;
  Timer tick_;
};

inline bool run_until(std::function<bool()> until, int real_ms = 3000) {
  LoopRunner r;
  return r.run(std::move(until), real_ms);
}

class Capture {
public:
  explicit Capture(std::ostream& s) : stream_(s), old_(s.rdbuf(buf_.rdbuf())) {}
  ~Capture() { stream_.rdbuf(old_); }
  std::string text() const { return buf_.str(); }

private:
  std::ostream& stream_;
  std::ostringstream buf_;
  std::streambuf* old_;
};

// A device with one pointer request, one value request and a command; it
// notes what happens to it.
class Probe : public SimBoard::Driver {
public:
  static constexpr Board::Request kGet = 0xC0045001;   // rw, 4 bytes, 'P' 1: answers 7 in the word
  static constexpr Board::Request kSet = 0x40005002;   // value request: remembers the value
  static constexpr Board::Request kFail = 0x20005003;  // value request: always EBUSY

  explicit Probe(const char* path = "/dev/probe", int type = SOCK_SEQPACKET) : Driver(path, type) {
    add_request(kGet, [this](SimBoard::Session& s, void* arg) {
      last = &s;
      *static_cast<std::uint32_t*>(arg) = 7;
      if (on_get) on_get(s);
      return 3;
    });
    add_value_request(kSet, [this](SimBoard::Session& s, unsigned long v) {
      last = &s;
      value = v;
      return 0;
    });
    add_value_request(kFail, [](SimBoard::Session&, unsigned long) { return -EBUSY; });
    add_command("probe", "say", "<word>", "answers the word", [](const SimBoard::Args& a, SimBoard::Reply& r) {
      if (a.size() != 1) return r.fail("usage: probe say <word>");
      r.line(a[0]);
    });
  }

  // More pointer requests that answer like kGet; the request table grows.
  void learn(Board::Request first, int n) {
    for (int i = 0; i < n; ++i)
      add_request(first + static_cast<Board::Request>(i), [](SimBoard::Session&, void* arg) {
        *static_cast<std::uint32_t*>(arg) = 7;
        return 3;
      });
  }

  int on_open(SimBoard::Session&) override {
    ++opens;
    return refuse;
  }
  void on_close(SimBoard::Session& s) override {
    ++closes;
    closed = &s;
  }
  void on_data(SimBoard::Session&, const std::uint8_t* data, std::size_t len) override {
    received.emplace_back(reinterpret_cast<const char*>(data), len);
  }
  void reset() override { ++resets; }

  int refuse = 0;
  int opens = 0;
  int closes = 0;
  int resets = 0;
  unsigned long value = 0;
  SimBoard::Session* last = nullptr;
  SimBoard::Session* closed = nullptr;
  // Runs inside every kGet, after its answer.
  std::function<void(SimBoard::Session&)> on_get;
  std::vector<std::string> received;
};

}  // namespace simtest
