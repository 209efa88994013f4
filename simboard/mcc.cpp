#include "simboard/mcc.h"

#include <errno.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "board/mcc.h"
#include "foundation/mux_time.h"
#include "foundation/timer.h"
#include "simboard/hal.h"
#include "simboard/simulator.h"

namespace SimBoard {

namespace Req = Board::Mcc;

class Mcc::Channel : public OpenState {
public:
  explicit Channel(Session& s) : session(s) {}
  void on_resume() { Mcc::hold(session, false); }
  // The tick drains it, not the loop.
  bool paced() const { return timeslot >= 0 && mode == Req::kTypeTransparent; }

  Session& session;
  int timeslot = -1;  // -1 until allocated
  std::int32_t mode = 0;
  std::int32_t rxSize = 0;
  // The allocation record as the daemon gave it.
  Req::Allocate record{};
  // Frames from the line longer than rxSize, which the controller drops.
  std::uint64_t tooLong = 0;
  Timer resume;
  bool held = false;  // a paced channel's far end does not take its bytes
  // SS7 mode: the last FISU or LSSU written, and whether anything was
  // written since the last tick.
  Lines::Frame idle_unit;
  bool written = false;
};

Mcc::Mcc(std::vector<int> pool, std::vector<std::pair<int, int>> cables, TypePools types)
    : Driver(Req::kDevice, SOCK_SEQPACKET),
      pool_(std::move(pool)),
      default_types_(types),
      types_(types),
      lines_(Lines::Board{[this] { return hal(); },
                          [this](int output, const Lines::Frame& f) { return deliver(output, f); }},
             std::move(cables)) {
  std::sort(pool_.begin(), pool_.end());
  add_request(Req::kAllocate, [this](Session& s, void* arg) { return allocate(s, arg); });
  add_value_request(Req::kTimeslot, [this](Session& s, unsigned long v) { return timeslot(s, v); });
  add_request(Req::kResources, [this](Session&, void* arg) { return resources(arg); });

  add_command("mcc", "list", "",
              "the allocated channels: timeslot, mode code, draining, frames dropped as too long, frames (a "
              "transparent channel's runs) the daemon has still to read",
              [this](const Args& a, Reply& r) {
                if (!a.empty()) return r.fail("usage: mcc list");
                for (Session* s : sessions()) {
                  const Channel* c = channel_of(*s);
                  if (!c || c->timeslot < 0) continue;
                  const std::size_t unread = s->unread();
                  r.line("channel=" + std::to_string(c->timeslot) + " mode=" + std::to_string(c->mode) +
                         (held(*s) ? " stalled" : "") +
                         (c->tooLong ? " toolong=" + std::to_string(c->tooLong) : "") +
                         (unread ? " unread=" + std::to_string(unread) : ""));
                }
              });
  // The channel on the timeslot that is the command's only word; null, failed, when none.
  const auto channel_arg = [this](const Args& a, Reply& r, const char* usage) -> Session* {
    long long c = 0;
    if (a.size() != 1) {
      r.fail(usage);
      return nullptr;
    }
    if (!ParseNumber(a[0], 0, 0x7FFFFFFF, c)) {
      r.fail("bad channel " + a[0]);
      return nullptr;
    }
    Session* s = channel(static_cast<int>(c));
    if (!s) r.fail("no channel on timeslot " + a[0]);
    return s;
  };
  add_command("mcc", "get", "<C>", "the allocation record of the channel on timeslot C, word by word",
              [this, channel_arg](const Args& a, Reply& r) {
                Session* s = channel_arg(a, r, "usage: mcc get <C>");
                if (!s) return;
                const Req::Allocate& rec = channel_of(*s)->record;
                r.line("mode=" + std::to_string(rec.mode) + " rxsize=" + std::to_string(rec.rxSize) +
                       " reserved=" + std::to_string(rec.reserved) + " rxthreshold=" + std::to_string(rec.rxThreshold) +
                       " txthreshold=" + std::to_string(rec.txThreshold));
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
  add_command("mcc", "resources", "[<data> <bri> <trans> [<ss7>]]",
              "shows or sets the channels of each type that MCC_RESOURCES reports and MCC_ALLOCATE hands out",
              [this](const Args& a, Reply& r) {
                if (a.size() == 3 || a.size() == 4) {
                  TypePools t = types_;
                  for (std::size_t i = 0; i < a.size(); ++i) {
                    long long v = 0;
                    if (!ParseNumber(a[i], 0, 1000000, v)) return r.fail("bad count " + a[i]);
                    t[i] = static_cast<std::int32_t>(v);
                  }
                  types_ = t;
                } else if (!a.empty()) {
                  return r.fail("usage: mcc resources [<data> <bri> <trans> [<ss7>]]");
                }
                Req::Resources rec{};
                resources(&rec);
                r.line("data=" + std::to_string(rec.data) + " bri=" + std::to_string(rec.bri) +
                       " trans=" + std::to_string(rec.transparent) + " ss7=" + std::to_string(rec.other));
              });
  add_command("mcc", "stall", "<C> [off]",
              "channel C's far end stops reading (writes meet EAGAIN once its buffer is full) until off",
              [this](const Args& a, Reply& r) {
                long long c = 0;
                if (a.empty() || a.size() > 2 || (a.size() == 2 && a[1] != "off"))
                  return r.fail("usage: mcc stall <C> [off]");
                if (!ParseNumber(a[0], 0, 0x7FFFFFFF, c)) return r.fail("bad channel " + a[0]);
                if (!stall(static_cast<int>(c), a.size() == 1)) r.fail("no channel on timeslot " + a[0]);
              });
  add_command("mcc", "hangup", "<C>", "channel C hangs up: POLLHUP and end of file, requests fail with EIO",
              [this, channel_arg](const Args& a, Reply& r) {
                Session* s = channel_arg(a, r, "usage: mcc hangup <C>");
                if (!s) return;
                if (!sim_) return r.fail("no channel on timeslot " + a[0]);
                sim_->hangup(*s);
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
    c->idle_unit.clear();
  }
}

void Mcc::reset() {
  types_ = default_types_;
  lines_.reset();
  for (Session* s : sessions()) {
    if (Channel* c = channel_of(*s)) c->resume.reset();
    hold(*s, false);
  }
}

void Mcc::hold(Session& s, bool on) {
  Channel* c = dynamic_cast<Channel*>(s.state());
  if (c && c->paced())
    c->held = on;
  else
    s.set_draining(!on);
}

bool Mcc::held(Session& s) {
  const Channel* c = dynamic_cast<Channel*>(s.state());
  return c && c->paced() ? c->held : !s.draining();
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
  if (rec.reserved != 0 || rec.rxThreshold < 0 || rec.txThreshold < 0) return -EINVAL;
  const std::int32_t limit = types_[static_cast<std::size_t>(rec.mode)];
  if (limit >= 0 && in_use(rec.mode) >= limit) return -EBUSY;
  for (int t : pool_) {
    if (channel(t)) continue;
    // Bytes, not frames: the daemon's descriptor becomes a stream, drained
    // by the tick and holding about as much as the driver does.
    if (rec.mode == Req::kTypeTransparent) {
      if (!sim_ || !sim_->to_stream(s)) return -ENOMEM;
      const int size = kTransparentBuffer;
      ::setsockopt(s.request_fd(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
      s.set_draining(false);
      if (Hal* h = hal()) h->on_unfeed([this](int source) { play_out(source); });
    }
    c->timeslot = t;
    c->mode = rec.mode;
    c->rxSize = rec.rxSize;
    c->record = rec;
    if (c->paced()) arm_tick();
    return 0;
  }
  return -EBUSY;
}

int Mcc::in_use(std::int32_t type) const {
  int n = 0;
  for (Session* s : sessions()) {
    const Channel* c = channel_of(*s);
    if (c && c->timeslot >= 0 && c->mode == type) ++n;
  }
  return n;
}

int Mcc::resources(void* arg) {
  Req::Resources rec;
  const std::int32_t all = static_cast<std::int32_t>(pool_.size());
  rec.data = types_[0] < 0 ? all : types_[0];
  rec.bri = types_[1] < 0 ? all : types_[1];
  rec.transparent = types_[2] < 0 ? all : types_[2];
  rec.other = types_[3] < 0 ? all : types_[3];
  std::memcpy(arg, &rec, sizeof rec);
  return 0;
}

int Mcc::timeslot(Session& s, unsigned long value) {
  const Channel* c = channel_of(s);
  if (value != 0 || !c || c->timeslot < 0) return -EINVAL;
  return c->timeslot;
}

void Mcc::on_data(Session& s, const std::uint8_t* data, std::size_t len) {
  Channel* c = channel_of(s);
  // Before its allocation an open is no channel: its writes go nowhere.
  if (!c || c->timeslot < 0 || len == 0) return;
  if (c->mode == Req::kTypeSs7) {
    c->written = true;
    // BSN, FSN and LI, then nothing (FISU) or the status (LSSU).
    if (len >= 3 && len <= 5) {
      c->idle_unit.assign(data, data + len);
      arm_tick();
    }
  }
  lines_.from_channel(c->timeslot, Lines::Frame(data, data + len));
}

void Mcc::play_out(int timeslot) {
  Session* s = channel(timeslot);
  Channel* c = s ? channel_of(*s) : nullptr;
  if (!c || !c->paced() || c->held) return;
  while (s->read_up_to(Req::kMaxPacketSize) > 0) {
  }
}

void Mcc::arm_tick() {
  if (tick_.is_running()) return;
  last_tick_ = Mux::milliseconds();
  tick_.set<Mcc>(kTickMs, &Mcc::on_tick, this);
}

void Mcc::on_tick() {
  const unsigned now = Mux::milliseconds();
  const unsigned elapsed = std::min(now - last_tick_, kMaxCatchUpMs);
  last_tick_ = now;
  bool again = false;
  // Taking bytes may release an open, which takes it off the list.
  const std::vector<Session*> opens = sessions();
  for (Session* s : opens) {
    Channel* c = channel_of(*s);
    if (!c) continue;
    if (c->paced()) {
      again = true;
      for (std::size_t budget = std::size_t(elapsed) * kOctetsPerMs; budget > 0 && !c->held;) {
        const std::size_t n = s->read_up_to(budget);
        if (n == 0) break;
        budget -= n;
      }
    } else if (c->timeslot >= 0 && c->mode == Req::kTypeSs7 && !c->idle_unit.empty()) {
      again = true;
      // What the daemon wrote by now goes first.
      s->drain();
      if (c->timeslot < 0) continue;
      if (!c->written) lines_.from_channel(c->timeslot, c->idle_unit, true);
      c->written = false;
    }
  }
  if (again) tick_.set<Mcc>(kTickMs, &Mcc::on_tick, this);
}

Lines::Handed Mcc::deliver(int timeslot, const Lines::Frame& frame) {
  Session* s = channel(timeslot);
  if (!s) {
    // Another device's channel may serve the output.
    if (sim_)
      for (const std::unique_ptr<Driver>& d : sim_->drivers())
        if (FrameChannels* other = dynamic_cast<FrameChannels*>(d.get())) {
          const Lines::Handed h = other->deliver_frame(timeslot, frame);
          if (h != Lines::Handed::None) return h;
        }
    return Lines::Handed::None;
  }
  Channel* c = channel_of(*s);
  if (s->socket_type() != SOCK_STREAM || !c || c->rxSize <= 0) {
    // A frame channel's receive packets hold one frame each: a longer frame
    // ends with a length error and is dropped, as the controller does.
    if (c && c->rxSize > 0 && frame.size() > static_cast<std::size_t>(c->rxSize)) {
      ++c->tooLong;
      return Lines::Handed::Lost;
    }
    return s->send(frame.data(), frame.size()) ? Lines::Handed::Delivered : Lines::Handed::Lost;
  }
  // A byte channel receives in runs of at most its packet size.
  const std::size_t unit = static_cast<std::size_t>(c->rxSize);
  for (std::size_t at = 0; at < frame.size(); at += unit)
    if (!s->send(frame.data() + at, std::min(unit, frame.size() - at))) return Lines::Handed::Lost;
  return Lines::Handed::Delivered;
}

bool Mcc::stall(int timeslot, bool on) {
  Session* s = channel(timeslot);
  if (!s) return false;
  channel_of(*s)->resume.reset();
  hold(*s, on);
  return true;
}

bool Mcc::stall(int timeslot, unsigned ms) {
  Session* s = channel(timeslot);
  if (!s) return false;
  Channel* c = channel_of(*s);
  hold(*s, true);
  c->resume.set<Channel>(ms, &Channel::on_resume, c);
  return true;
}

}  // namespace SimBoard
