#include "simboard/e1_cas.h"

#include <errno.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "board/mcc.h"
#include "simboard/mcc.h"
#include "simboard/simulator.h"

namespace SimBoard {

namespace C = Board::E1Cas;

namespace {

std::string Hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

}  // namespace

E1Cas::E1Cas() : Driver(C::kDevice, SOCK_SEQPACKET) {
  reset();
  add_value_request(C::kOpenTrunk, [this](Session&, unsigned long v) { return open_trunk(v); });
  add_value_request(C::kCloseTrunk, [this](Session&, unsigned long v) { return close_trunk(v); });
  add_request(C::kEnable, [this](Session&, void* arg) { return enable(arg); });
  add_request(C::kSetBits, [this](Session&, void* arg) { return set_bits(arg); });
  add_request(C::kGetBits, [this](Session&, void* arg) { return get_bits(arg); });

  auto channel_args = [](const Args& a, int& trunk, int& ts, Reply& r) {
    long long t = 0, s = 0;
    if (!ParseNumber(a[0], 0, kTrunks - 1, t))
      r.fail("bad trunk " + a[0] + " (0.." + std::to_string(kTrunks - 1) + ")");
    else if (!ParseNumber(a[1], 0, kTimeslots - 1, s))
      r.fail("bad timeslot " + a[1] + " (0.." + std::to_string(kTimeslots - 1) + ")");
    trunk = int(t);
    ts = int(s);
    return !r.failed();
  };
  add_command("cas", "get", "<trunk> <ts>", "whether the trunk is open, the channel enabled, and its tx and rx bits",
              [=](const Args& a, Reply& r) {
                int t = 0, s = 0;
                if (a.size() != 2) return r.fail("usage: cas get <trunk> <ts>");
                if (!channel_args(a, t, s, r)) return;
                const Channel& c = channels_[t][s];
                r.line("trunk=" + std::to_string(t) + " open=" + (open_[t] ? "1" : "0") + " ts=" + std::to_string(s) +
                       " enabled=" + (c.enabled ? "1" : "0") + " tx=" + Hex(c.tx) + " rx=" + Hex(c.rx));
              });
  add_command("cas", "rx", "<trunk> <ts> <bits>", "the far end sends the bits; an enabled channel reports them",
              [=](const Args& a, Reply& r) {
                int t = 0, s = 0;
                long long bits = 0;
                if (a.size() != 3) return r.fail("usage: cas rx <trunk> <ts> <bits>");
                if (!channel_args(a, t, s, r)) return;
                if (!ParseNumber(a[2], 0, 15, bits)) return r.fail("bad bits " + a[2] + " (0..15)");
                if (!receive(t, s, std::uint8_t(bits))) r.line("not reported: channel disabled");
              });
  add_command("cas", "loop", "on|off", "on: bits sent on a trunk are received on its cabled partner",
              [this](const Args& a, Reply& r) {
                if (a.size() != 1 || (a[0] != "on" && a[0] != "off")) return r.fail("usage: cas loop on|off");
                loop_ = a[0] == "on";
              });
}

void E1Cas::reset() {
  for (bool& o : open_) o = false;
  for (auto& trunk : channels_)
    for (Channel& c : trunk) c = Channel();
  loop_ = false;
  pending_.clear();
}

int E1Cas::on_open(Session& s) {
  while (!pending_.empty()) {
    if (!s.send(&pending_.front(), sizeof pending_.front())) break;
    pending_.pop_front();
  }
  return 0;
}

bool E1Cas::valid(int trunk, int timeslot) const {
  return trunk >= 0 && trunk < kTrunks && timeslot >= 0 && timeslot < kTimeslots;
}

int E1Cas::open_trunk(unsigned long trunk) {
  if (trunk >= unsigned(kTrunks)) return -EINVAL;
  open_[trunk] = true;
  return 0;
}

int E1Cas::close_trunk(unsigned long trunk) {
  if (trunk >= unsigned(kTrunks)) return -EINVAL;
  open_[trunk] = false;
  for (Channel& c : channels_[trunk]) c.enabled = false;
  return 0;
}

// Timeslots 0 and 16 carry framing and the multiframe, never a channel.
int E1Cas::enable(void* arg) {
  C::CasEnable rec;
  std::memcpy(&rec, arg, sizeof rec);
  const int t = rec.channel.path, s = rec.channel.timeslot;
  if (!valid(t, s) || s == 0 || s == 16 || (rec.disable != 0 && rec.disable != 1)) return -EINVAL;
  if (!open_[t]) return -ENXIO;
  Channel& c = channels_[t][s];
  c.enabled = rec.disable == 0;
  if (c.enabled) {
    c.tx = rec.channel.tx & 0xF;
    transmit(t, s);
  }
  return 0;
}

int E1Cas::set_bits(void* arg) {
  C::CasChannel rec;
  std::memcpy(&rec, arg, sizeof rec);
  if (!valid(rec.path, rec.timeslot)) return -EINVAL;
  Channel& c = channels_[rec.path][rec.timeslot];
  if (!open_[rec.path] || !c.enabled) return -ENXIO;
  c.tx = rec.tx & 0xF;
  transmit(rec.path, rec.timeslot);
  return 0;
}

int E1Cas::get_bits(void* arg) {
  C::CasChannel rec;
  std::memcpy(&rec, arg, sizeof rec);
  if (!valid(rec.path, rec.timeslot)) return -EINVAL;
  const Channel& c = channels_[rec.path][rec.timeslot];
  if (!open_[rec.path] || !c.enabled) return -ENXIO;
  rec.rx = c.rx;
  rec.tx = c.tx;
  std::memcpy(arg, &rec, sizeof rec);
  return 0;
}

int E1Cas::partner(int trunk) const {
  Mcc* mcc = sim_ ? sim_->device<Mcc>(Board::Mcc::kDevice) : nullptr;
  return mcc ? mcc->lines().cabled(trunk) : -1;
}

void E1Cas::transmit(int trunk, int timeslot) {
  if (!loop_) return;
  const int far = partner(trunk);
  if (far >= 0) receive(far, timeslot, channels_[trunk][timeslot].tx);
}

bool E1Cas::receive(int trunk, int timeslot, std::uint8_t bits) {
  if (!valid(trunk, timeslot)) return false;
  Channel& c = channels_[trunk][timeslot];
  c.rx = bits & 0xF;
  if (!open_[trunk] || !c.enabled) return false;
  report(trunk, timeslot);
  return true;
}

void E1Cas::report(int trunk, int timeslot) {
  C::CasChannel rec = {};
  rec.path = trunk;
  rec.timeslot = timeslot;
  rec.rx = channels_[trunk][timeslot].rx;
  rec.tx = channels_[trunk][timeslot].tx;
  if (send_all(&rec, sizeof rec) > 0) return;
  if (pending_.size() == kPending) pending_.pop_front();
  pending_.push_back(rec);
}

}  // namespace SimBoard
