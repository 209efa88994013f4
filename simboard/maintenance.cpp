#include "simboard/maintenance.h"

#include <errno.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace SimBoard {

namespace M = Board::Maintenance;

namespace {

const char* const kStateNames[] = {"normal", "lossBF", "lossCarrier", "ais", "rai", "unknown", "disabled"};

std::string StateText(std::int32_t state) {
  if (state >= 0 && state <= M::kDisabled) return kStateNames[state];
  return std::to_string(state);
}

bool ParseState(const std::string& text, std::int32_t& state) {
  for (int i = 0; i <= M::kDisabled; ++i)
    if (text == kStateNames[i]) {
      state = i;
      return true;
    }
  if (text == "los") {
    state = M::kLossCarrier;
    return true;
  }
  long long n = 0;
  if (!ParseNumber(text, INT32_MIN, INT32_MAX, n)) return false;
  state = static_cast<std::int32_t>(n);
  return true;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

}  // namespace

Maintenance::Maintenance() : Driver(M::kDevice, SOCK_SEQPACKET) {
  add_request(M::kReadStatus, [this](Session&, void* arg) { return read_status(arg); });
  add_value_request(M::kSelectClock, [this](Session&, unsigned long value) {
    clock_ = static_cast<long>(static_cast<std::int32_t>(value));
    return 0;
  });
  add_value_request(M::kSetTclk, [this](Session&, unsigned long value) {
    tclk_ = static_cast<std::uint32_t>(value);
    ++tclk_requests_;
    return 0;
  });

  auto trunk_arg = [](const std::string& text, int& n, Reply& r) {
    long long v = 0;
    if (!ParseNumber(text, 0, kTrunks - 1, v))
      r.fail("bad trunk " + text + " (0.." + std::to_string(kTrunks - 1) + ")");
    n = static_cast<int>(v);
    return !r.failed();
  };
  add_command("e1", "state", "<trunk> <name>|<number>",
              "the trunk's state: normal lossBF lossCarrier ais rai unknown disabled, or any number",
              [=](const Args& a, Reply& r) {
                int t = 0;
                std::int32_t state = 0;
                if (a.size() != 2) return r.fail("usage: e1 state <trunk> <name>|<number>");
                if (!trunk_arg(a[0], t, r)) return;
                if (!ParseState(a[1], state)) return r.fail("bad state " + a[1]);
                trunks_[t].state = state;
              });
  add_command("e1", "counters", "<trunk> <slips> <lossBF> <lossCarrier> <ais> <rai>", "the trunk's error counters",
              [=](const Args& a, Reply& r) {
                int t = 0;
                long long v[5] = {};
                if (a.size() != 6)
                  return r.fail("usage: e1 counters <trunk> <slips> <lossBF> <lossCarrier> <ais> <rai>");
                if (!trunk_arg(a[0], t, r)) return;
                for (int i = 0; i < 5; ++i)
                  if (!ParseNumber(a[i + 1], INT32_MIN, INT32_MAX, v[i])) return r.fail("bad counter " + a[i + 1]);
                Trunk& k = trunks_[t];
                k.slips = std::int32_t(v[0]);
                k.lossBF = std::int32_t(v[1]);
                k.lossCarrier = std::int32_t(v[2]);
                k.ais = std::int32_t(v[3]);
                k.rai = std::int32_t(v[4]);
              });
  add_command("e1", "readfail", "<trunk> <errno>|off", "every status read of the trunk fails, or no more",
              [=](const Args& a, Reply& r) {
                int t = 0;
                if (a.size() != 2) return r.fail("usage: e1 readfail <trunk> <errno>|off");
                if (!trunk_arg(a[0], t, r)) return;
                const int e = a[1] == "off" ? 0 : ParseErrno(a[1]);
                if (a[1] != "off" && !e) return r.fail("unknown errno " + a[1]);
                trunks_[t].read_error = e;
              });
  add_command("e1", "get", "", "every trunk's status, the TCLK mask and the clock source selected here",
              [this](const Args& a, Reply& r) {
                if (!a.empty()) return r.fail("usage: e1 get");
                for (int t = 0; t < kTrunks; ++t) {
                  const Trunk& k = trunks_[t];
                  std::string line = "trunk=" + std::to_string(t) + " state=" + StateText(k.state) +
                                     " slips=" + std::to_string(k.slips) + " lossBF=" + std::to_string(k.lossBF) +
                                     " lossCarrier=" + std::to_string(k.lossCarrier) + " ais=" + std::to_string(k.ais) +
                                     " rai=" + std::to_string(k.rai);
                  if (k.read_error) line += " readfail=" + ErrnoName(k.read_error);
                  r.line(line);
                }
                r.line("tclk=" + Hex(tclk_) + " tclk_requests=" + std::to_string(tclk_requests_) +
                       " clock=" + std::to_string(clock_));
              });
}

void Maintenance::reset() {
  for (Trunk& t : trunks_) t = Trunk();
  tclk_ = 0;
  tclk_requests_ = 0;
  clock_ = -1;
}

int Maintenance::read_status(void* arg) {
  M::SyncStatus rec;
  std::memcpy(&rec, arg, sizeof rec);
  if (rec.trunk < 0 || rec.trunk >= kTrunks) return -EINVAL;
  const Trunk& k = trunks_[rec.trunk];
  if (k.read_error) return -k.read_error;
  rec.slips = k.slips;
  rec.lossBF = k.lossBF;
  rec.lossCarrier = k.lossCarrier;
  rec.ais = k.ais;
  rec.rai = k.rai;
  rec.state = k.state;
  std::memcpy(arg, &rec, sizeof rec);
  return 0;
}

}  // namespace SimBoard
