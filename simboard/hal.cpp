#include "simboard/hal.h"

#include <errno.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <limits>

namespace SimBoard {

namespace Req = Board::Hal;

Hal::Hal() : Driver(Req::kDevice, SOCK_SEQPACKET), dense_(kDense) {
  add_request(Req::kXcConnect, [this](Session&, void* arg) { return connect(arg); });
  add_request(
      Req::kXcDisable, [this](Session&, void* arg) { return disable(arg); },
      [this](Session&, unsigned char* records, std::size_t size, std::size_t n) {
        int rc = 0;
        for (std::size_t i = 0; i < n; ++i, records += size)
          if (const int r = disable(records)) rc = r;
        return rc;
      });
  add_request(Req::kXcWrite, [this](Session&, void* arg) { return write_constant(arg); });
  add_request(Req::kXcRead, [this](Session&, void* arg) { return read(arg); });

  auto output_arg = [](const std::string& text, long long& n, Reply& r) {
    if (!ParseNumber(text, 0, std::numeric_limits<std::int32_t>::max(), n)) r.fail("bad output " + text);
    return !r.failed();
  };
  add_command("xc", "get", "<output>", "the output's state, source or byte, disable count and what a read answers",
              [=](const Args& a, Reply& r) {
                long long n = 0;
                if (a.size() != 1) return r.fail("usage: xc get <output>");
                if (output_arg(a[0], n, r)) r.line(describe(static_cast<int>(n)));
              });
  add_command("xc", "write", "<output> <byte>", "another board puts a constant byte on the output",
              [=](const Args& a, Reply& r) {
                long long n = 0, byte = 0;
                if (a.size() != 2) return r.fail("usage: xc write <output> <byte>");
                if (!output_arg(a[0], n, r)) return;
                if (!ParseNumber(a[1], 0, 255, byte)) return r.fail("bad byte " + a[1]);
                put(static_cast<int>(n), static_cast<unsigned char>(byte));
              });
  add_command("xc", "stuck", "<output> <bit> 0|1", "reads of the output show the bit forced",
              [=](const Args& a, Reply& r) {
                long long n = 0, bit = 0;
                if (a.size() != 3 || (a[2] != "0" && a[2] != "1")) return r.fail("usage: xc stuck <output> <bit> 0|1");
                if (!output_arg(a[0], n, r)) return;
                if (!ParseNumber(a[1], 0, 7, bit)) return r.fail("bad bit " + a[1] + " (0..7)");
                stick(static_cast<int>(n), static_cast<int>(bit), a[2] == "1");
              });
  add_command("xc", "clear", "", "every output disabled, no stuck bit, disable counts 0",
              [this](const Args& a, Reply& r) {
                if (!a.empty()) return r.fail("usage: xc clear");
                clear();
              });
  spi_.install(*this);
  clock_.install(*this);
  install_panel();
}

void Hal::reset_panel() {
  dip_ = kDefaultDip;
  power_ = kDefaultPower;
  led_ = 0;
  led_history_.clear();
}

void Hal::install_panel() {
  auto reader = [](unsigned char* value) {
    return [value](Session&, void* arg) {
      std::memcpy(arg, value, 1);
      return 0;
    };
  };
  add_request(Req::kDipRead, reader(&dip_));
  add_request(Req::kPowerRead, reader(&power_));
  add_request(Req::kLedWrite, [this](Session&, void* arg) {
    std::memcpy(&led_, arg, 1);
    if (led_history_.size() >= kLedHistory) led_history_.erase(led_history_.begin());
    led_history_.push_back(led_);
    // Also at the daemon's exit, after which no command can ask.
    std::clog << "simboard: /dev/hal: framer LEDs " << int(led_) << std::endl;
    return 0;
  });

  auto byte_command = [](const char* verb, unsigned char* value) {
    return [verb, value](const Args& a, Reply& r) {
      long long b = 0;
      if (a.size() > 1 || (a.size() == 1 && !ParseNumber(a[0], 0, 255, b)))
        return r.fail(std::string("usage: hal ") + verb + " [<byte>]");
      if (a.size() == 1) *value = static_cast<unsigned char>(b);
      r.line(std::string(verb) + "=" + std::to_string(*value));
    };
  };
  add_command("hal", "dip", "[<byte>]", "sets the DIP switch byte; tells it", byte_command("dip", &dip_));
  add_command("hal", "power", "[<byte>]", "sets the power-supply byte (0 or 3 both, 1 standby, 2 main); tells it",
              byte_command("power", &power_));
  add_command("hal", "led", "", "the framer LED byte and every byte written, oldest first (\"led=12 history=0,12\")",
              [this](const Args& a, Reply& r) {
                if (!a.empty()) return r.fail("usage: hal led");
                std::string text = "led=" + std::to_string(led_) + " history=";
                for (std::size_t i = 0; i < led_history_.size(); ++i)
                  text += (i ? "," : "") + std::to_string(led_history_[i]);
                r.line(text);
              });
}

const Hal::Output* Hal::output(int n) const {
  static const Output untouched;
  if (n < 0) return nullptr;
  if (n < kDense) return &dense_[static_cast<std::size_t>(n)];
  const auto it = sparse_.find(n);
  return it == sparse_.end() ? &untouched : &it->second;
}

Hal::Output* Hal::touch_sparse(int n) {
  if (n < 0) return nullptr;
  const auto it = sparse_.find(n);
  if (it != sparse_.end()) return &it->second;
  if (sparse_.size() >= kSparse) {
    if (!sparse_full_logged_) std::cerr << "simboard: /dev/hal: no room for more outputs above " << kDense << std::endl;
    sparse_full_logged_ = true;
    return nullptr;
  }
  return &sparse_[n];
}

unsigned char Hal::carried(int n) const { return carried(n, 0); }

unsigned char Hal::carried(int n, int depth) const {
  const Output* o = output(n);
  if (!o || depth > kMaxChain) return kDisabledByte;
  unsigned char byte = kDisabledByte;
  switch (o->state) {
    case State::Disabled:
      break;
    case State::Constant:
      byte = o->byte;
      break;
    case State::Fed:
      byte = carried(o->source, depth + 1);
      break;
  }
  return static_cast<unsigned char>((byte & ~o->stuck_mask) | (o->stuck_value & o->stuck_mask));
}

bool Hal::put(int n, unsigned char byte) {
  Output* o = touch(n);
  if (!o) return false;
  unfeeding(n, *o);
  o->state = State::Constant;
  o->byte = byte;
  return true;
}

bool Hal::stick(int n, int bit, bool value) {
  if (bit < 0 || bit > 7) return false;
  Output* o = touch(n);
  if (!o) return false;
  const std::uint8_t b = static_cast<std::uint8_t>(1u << bit);
  o->stuck_mask |= b;
  o->stuck_value = static_cast<std::uint8_t>(value ? o->stuck_value | b : o->stuck_value & ~b);
  return true;
}

void Hal::fed_by(int source, std::vector<int>& outputs) const {
  outputs.clear();
  const auto it = feeds_.find(source);
  if (it != feeds_.end()) outputs = it->second;
}

void Hal::link_feed(int n, int source) {
  std::vector<int>& fed = feeds_[source];
  fed.insert(std::lower_bound(fed.begin(), fed.end(), n), n);
}

void Hal::unlink_feed(int n, int source) {
  const auto it = feeds_.find(source);
  if (it == feeds_.end()) return;
  std::vector<int>& fed = it->second;
  const auto at = std::lower_bound(fed.begin(), fed.end(), n);
  if (at != fed.end() && *at == n) fed.erase(at);
  if (fed.empty()) feeds_.erase(it);
}

void Hal::clear() {
  for (Output& o : dense_) o = Output();
  sparse_.clear();
  feeds_.clear();
  sparse_full_logged_ = false;
}

std::string Hal::describe(int n) const {
  const Output* o = output(n);
  if (!o) return "output=" + std::to_string(n) + " none";
  std::string text = "output=" + std::to_string(n);
  switch (o->state) {
    case State::Disabled:
      text += " state=disabled";
      break;
    case State::Constant:
      text += " state=constant byte=" + std::to_string(o->byte);
      break;
    case State::Fed:
      text += " state=fed source=" + std::to_string(o->source);
      break;
  }
  text += " disables=" + std::to_string(o->disables) + " read=" + std::to_string(carried(n));
  if (o->stuck_mask) {
    text += " stuck=";
    bool first = true;
    for (int bit = 0; bit < 8; ++bit) {
      if (!(o->stuck_mask & (1u << bit))) continue;
      if (!first) text += ",";
      first = false;
      text += std::to_string(bit) + ":" + ((o->stuck_value & (1u << bit)) ? "1" : "0");
    }
  }
  return text;
}

int Hal::connect(void* arg) {
  Req::XcConnect rec;
  std::memcpy(&rec, arg, sizeof rec);
  if (rec.output < 0 || rec.source < 0) return -EINVAL;
  Output* o = touch(rec.output);
  if (!o) return -ENOSPC;
  unfeeding(rec.output, *o, rec.source);
  link_feed(rec.output, rec.source);
  o->state = State::Fed;
  o->source = rec.source;
  return 0;
}

// Runs for every output many times a second: no allocation, no log line.
int Hal::disable(void* arg) {
  std::int32_t n;
  std::memcpy(&n, arg, sizeof n);
  if (n < 0) return -EINVAL;
  Output* o = touch(n);
  if (!o) return -ENOSPC;
  unfeeding(n, *o);
  o->state = State::Disabled;
  ++o->disables;
  return 0;
}

int Hal::write_constant(void* arg) {
  Req::XcByte rec;
  std::memcpy(&rec, arg, sizeof rec);
  if (rec.channel < 0) return -EINVAL;
  return put(rec.channel, static_cast<unsigned char>(rec.value & 0xFF)) ? 0 : -ENOSPC;
}

int Hal::read(void* arg) {
  Req::XcByte rec;
  std::memcpy(&rec, arg, sizeof rec);
  if (rec.channel < 0) return -EINVAL;
  rec.value = carried(rec.channel);
  std::memcpy(arg, &rec, sizeof rec);
  return 0;
}

}  // namespace SimBoard
