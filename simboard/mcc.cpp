#include "simboard/mcc.h"

#include <errno.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "board/mcc.h"
#include "foundation/timer.h"
#include "simboard/hal.h"
#include "simboard/simulator.h"

namespace SimBoard {

namespace Req = Board::Mcc;

class Mcc::Channel : public OpenState {
public:
  explicit Channel(Session& s) : session(s) {}
  void on_resume() { session.set_draining(true); }

  Session& session;
  int timeslot = -1;  // -1 until allocated
  std::int32_t mode = 0;
  Timer resume;
};

Mcc::Mcc(std::vector<int> pool, std::vector<std::pair<int, int>> cables)
    : Driver(Req::kDevice, SOCK_SEQPACKET),
      pool_(std::move(pool)),
      lines_(Lines::Board{[this] { return hal(); },
                          [this](int output, const Lines::Frame& f) { return deliver(output, f); }},
             std::move(cables)) {
  std::sort(pool_.begin(), pool_.end());
  add_request(Req::kAllocate, [this](Session& s, void* arg) { return allocate(s, arg); });
  add_value_request(Req::kTimeslot, [this](Session& s, unsigned long v) { return timeslot(s, v); });

  add_command("mcc", "list", "", "the allocated channels: timeslot, mode code, draining",
              [this](const Args& a, Reply& r) {
                if (!a.empty()) return r.fail("usage: mcc list");
                for (Session* s : sessions()) {
                  const Channel* c = channel_of(*s);
                  if (!c || c->timeslot < 0) continue;
                  r.line("channel=" + std::to_string(c->timeslot) + " mode=" + std::to_string(c->mode) +
                         (s->draining() ? "" : " stalled"));
                }
              });
  add_command("mcc", "eagain", "<C> <ms>",
              "channel C's far end stops draining for ms: writes meet EAGAIN, then POLLOUT",
              [this](const Args& a, Reply& r) {
                long long c = 0, ms = 0;
                if (a.size() != 2) return r.fail("usage: mcc eagain <C> <ms>");
                if (!ParseNumber(a[0], 0, 0x7FFFFFFF, c)) return r.fail("bad channel " + a[0]);
                if (!ParseNumber(a[1], 1, 3600000, ms)) return r.fail("bad time " + a[1]);
                if (!stall(static_cast<int>(c), static_cast<unsigned>(ms))) r.fail("no channel on timeslot " + a[0]);
              });
  lines_.add_commands([this](std::string device, std::string verb, std::string usage, std::string help, Command run) {
    add_command(std::move(device), std::move(verb), std::move(usage), std::move(help), std::move(run));
  });
}

Mcc::~Mcc() = default;

Hal* Mcc::hal() const { return sim_ ? sim_->device<Hal>(Board::Hal::kDevice) : nullptr; }

Mcc::Channel* Mcc::channel_of(Session& s) const { return dynamic_cast<Channel*>(s.state()); }

int Mcc::on_open(Session& s) {
  s.set_state(std::unique_ptr<OpenState>(new Channel(s)));
  return 0;
}

void Mcc::on_close(Session& s) {
  // The timeslot is free again once the open is off the list.
  if (Channel* c = channel_of(s)) {
    c->resume.reset();
    c->timeslot = -1;
  }
}

void Mcc::reset() {
  lines_.reset();
  for (Session* s : sessions()) {
    if (Channel* c = channel_of(*s)) c->resume.reset();
    s->set_draining(true);
  }
}

Session* Mcc::channel(int timeslot) const {
  if (timeslot < 0) return nullptr;
  for (Session* s : sessions()) {
    const Channel* c = channel_of(*s);
    if (c && c->timeslot == timeslot) return s;
  }
  return nullptr;
}

int Mcc::allocate(Session& s, void* arg) {
  Req::Allocate rec;
  std::memcpy(&rec, arg, sizeof rec);
  Channel* c = channel_of(s);
  if (!c) return -EINVAL;
  if (c->timeslot >= 0) return -EBUSY;
  if (rec.mode < 0 || rec.mode >= Req::kModeCodes) return -EINVAL;
  if (rec.rxSize < 1 || rec.rxSize > Req::kMaxPacketSize) return -EINVAL;
  for (int t : pool_) {
    if (channel(t)) continue;
    c->timeslot = t;
    c->mode = rec.mode;
    return 0;
  }
  return -EBUSY;
}

int Mcc::timeslot(Session& s, unsigned long value) {
  const Channel* c = channel_of(s);
  if (value != 0 || !c || c->timeslot < 0) return -EINVAL;
  return c->timeslot;
}

void Mcc::on_data(Session& s, const std::uint8_t* data, std::size_t len) {
  const Channel* c = channel_of(s);
  // Before its allocation an open is no channel: its writes go nowhere.
  if (!c || c->timeslot < 0 || len == 0) return;
  lines_.from_channel(c->timeslot, Lines::Frame(data, data + len));
}

Lines::Handed Mcc::deliver(int timeslot, const Lines::Frame& frame) {
  Session* s = channel(timeslot);
  if (!s) return Lines::Handed::None;
  return s->send(frame.data(), frame.size()) ? Lines::Handed::Delivered : Lines::Handed::Lost;
}

bool Mcc::stall(int timeslot, unsigned ms) {
  Session* s = channel(timeslot);
  if (!s) return false;
  Channel* c = channel_of(*s);
  s->set_draining(false);
  c->resume.set<Channel>(ms, &Channel::on_resume, c);
  return true;
}

}  // namespace SimBoard
