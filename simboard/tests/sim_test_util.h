#pragma once
// Helpers of the simulated board's tests: running the loop for a while, a
// captured stream, and a device driver whose behaviour the test sees.
#include <sys/socket.h>

#include <cstring>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/multiplexer.h"
#include "foundation/tests/loop_test_util.h"
#include "simboard/driver.h"

namespace simtest {

using looptest::Capture;
using looptest::LoopRunner;
using looptest::run_until;

// A device with one pointer request, one value request and a command; it
// notes what happens to it.
class Probe : public SimBoard::Driver {
public:
  static constexpr Board::Request kGet = 0xC0045001;   // rw, 4 bytes, 'P' 1: answers 7 in the word
  static constexpr Board::Request kSet = 0x40005002;   // value request: remembers the value
  static constexpr Board::Request kFail = 0x20005003;  // value request: always EBUSY
  static constexpr Board::Request kCount = 0xC0045004;  // rw, 4 bytes: the number of kCount requests so far

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
    add_request(
        kCount, [this](SimBoard::Session&, void* arg) { return count(arg); },
        [this](SimBoard::Session&, unsigned char* records, std::size_t size, std::size_t n) {
          ++bulk;
          for (std::size_t i = 0; i < n; ++i, records += size) count(records);
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

  int count(void* arg) {
    const std::uint32_t n = ++counted;
    std::memcpy(arg, &n, sizeof n);
    return 0;
  }

  int refuse = 0;
  std::uint32_t counted = 0;
  int bulk = 0;  // kCount calls that took many records at once
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
