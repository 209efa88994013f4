#include "simboard/mixer.h"

#include <errno.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace SimBoard {

namespace Req = Board::Mixer;

namespace {

std::string SlotText(const Req::mix_slot& s) {
  return std::to_string(s.dev_no) + "/" + std::to_string(s.type) + "/" + std::to_string(s.number);
}

std::string Result(int rc) { return rc < 0 ? " -> " + ErrnoName(-rc) : " -> " + std::to_string(rc); }

}  // namespace

Mixer::Mixer(std::vector<UnitSpec> units) : Driver(Req::kDevice, SOCK_SEQPACKET), defaults_(std::move(units)) {
  reset();
  add_request(Req::kInfo, [this](Session&, void* arg) { return info(arg); });
  add_request(Req::kRxClear, [this](Session&, void* arg) { return rx_clear(arg); });
  add_request(Req::kRxAdd, [this](Session&, void* arg) { return rx_add(arg); });
  add_request(Req::kRxRemove, [this](Session&, void* arg) { return rx_remove(arg); });
  add_request(Req::kTdm, [this](Session&, void* arg) { return tdm(arg); });

  add_command("mixer", "unit", "add <dev> <channels> <inputs> | remove <dev>",
              "adds a unit at the end of the enumeration, or removes one with its routes",
              [this](const Args& a, Reply& r) {
                long long dev = 0, channels = 0, inputs = 0;
                if (a.size() == 4 && a[0] == "add") {
                  if (!ParseNumber(a[1], 0, kMaxUnit, dev)) return r.fail("bad unit " + a[1]);
                  if (!ParseNumber(a[2], 1, kUnitTimeslots, channels)) return r.fail("bad channel count " + a[2]);
                  if (!ParseNumber(a[3], 0, 4096, inputs)) return r.fail("bad input count " + a[3]);
                  std::string why;
                  if (!add_unit(UnitSpec{std::int32_t(dev), std::int32_t(channels), std::int32_t(inputs)}, why))
                    r.fail(why);
                  return;
                }
                if (a.size() == 2 && a[0] == "remove") {
                  if (!ParseNumber(a[1], 0, kMaxUnit, dev)) return r.fail("bad unit " + a[1]);
                  if (!remove_unit(std::int32_t(dev))) r.fail("no unit " + a[1]);
                  return;
                }
                r.fail("usage: mixer unit add <dev> <channels> <inputs> | mixer unit remove <dev>");
              });
  add_command("mixer", "units", "", "the units in enumeration order", [this](const Args& a, Reply& r) {
    if (!a.empty()) return r.fail("usage: mixer units");
    for (const Unit& u : units_)
      r.line("unit=" + std::to_string(u.dev) + " channels=" + std::to_string(u.channels) +
             " inputs=" + std::to_string(u.inputs) + " first=" + std::to_string(timeslot(u.dev, 0)));
  });
  add_command("mixer", "routes", "<dev> <channel>", "the routes summed into the channel, in the order added",
              [this](const Args& a, Reply& r) {
                long long dev = 0, channel = 0;
                if (a.size() != 2) return r.fail("usage: mixer routes <dev> <channel>");
                if (!ParseNumber(a[0], 0, kMaxUnit, dev)) return r.fail("bad unit " + a[0]);
                if (!ParseNumber(a[1], 0, kUnitTimeslots - 1, channel)) return r.fail("bad channel " + a[1]);
                const Unit* u = unit(std::int32_t(dev));
                if (!u) return r.fail("no unit " + a[0]);
                const auto it = u->routes.find(std::int32_t(channel));
                if (it == u->routes.end()) return;
                for (const Route& route : it->second)
                  r.line("tx=" + std::to_string(route.tx) + " gain=" + std::to_string(route.gain));
              });
  add_command("mixer", "log", "[clear]", "every request so far with its result, oldest first; clear forgets them",
              [this](const Args& a, Reply& r) {
                if (a.size() == 1 && a[0] == "clear") return log_.clear();
                if (!a.empty()) return r.fail("usage: mixer log [clear]");
                for (const std::string& l : log_) r.line(l);
              });
}

void Mixer::reset() {
  units_.clear();
  for (const UnitSpec& s : defaults_) units_.push_back(Unit{s.dev, s.channels, s.inputs, {}});
  log_.clear();
}

const Mixer::Unit* Mixer::unit(std::int32_t dev) const {
  for (const Unit& u : units_)
    if (u.dev == dev) return &u;
  return nullptr;
}

Mixer::Unit* Mixer::find(std::int32_t dev) { return const_cast<Unit*>(unit(dev)); }

bool Mixer::add_unit(const UnitSpec& spec, std::string& why) {
  if (spec.dev < 0 || spec.dev > kMaxUnit || spec.channels < 1 || spec.channels > kUnitTimeslots || spec.inputs < 0) {
    why = "bad unit";
    return false;
  }
  if (unit(spec.dev)) {
    why = "unit " + std::to_string(spec.dev) + " exists";
    return false;
  }
  units_.push_back(Unit{spec.dev, spec.channels, spec.inputs, {}});
  return true;
}

bool Mixer::remove_unit(std::int32_t dev) {
  const auto it = std::find_if(units_.begin(), units_.end(), [dev](const Unit& u) { return u.dev == dev; });
  if (it == units_.end()) return false;
  units_.erase(it);
  return true;
}

Mixer::Unit* Mixer::channel_of(const Req::mix_slot& s) {
  Unit* u = find(s.dev_no);
  if (!u || s.type != Req::kTdmChannel || s.number < 0 || s.number >= u->channels) return nullptr;
  return u;
}

void Mixer::note(std::string line) {
  if (log_.size() >= kMaxLog) log_.pop_front();
  log_.push_back(std::move(line));
}

int Mixer::info(void* arg) {
  Req::mix_info rec;
  std::memcpy(&rec, arg, sizeof rec);
  const std::int32_t previous = rec.dev_no;
  int rc = -ENODEV;
  std::size_t next = 0;
  if (previous != -1) {
    const auto it = std::find_if(units_.begin(), units_.end(), [&](const Unit& u) { return u.dev == previous; });
    next = it == units_.end() ? units_.size() : std::size_t(it - units_.begin()) + 1;
    if (it == units_.end()) rc = -EINVAL;
  }
  if (next < units_.size()) {
    const Unit& u = units_[next];
    rec.dev_no = u.dev;
    rec.tdm_channels = u.channels;
    rec.reserved = 0;
    rec.mixer_inputs = u.inputs;
    std::memcpy(arg, &rec, sizeof rec);
    rc = 0;
  }
  note("MIX_INFO dev_no=" + std::to_string(previous) + Result(rc) +
       (rc == 0 ? " unit=" + std::to_string(rec.dev_no) : ""));
  return rc;
}

int Mixer::rx_clear(void* arg) {
  Req::mix_slot rec;
  std::memcpy(&rec, arg, sizeof rec);
  Unit* u = channel_of(rec);
  const int rc = u ? 0 : -EINVAL;
  if (u) u->routes.erase(rec.number);
  note("MIX_RX_CLEAR " + SlotText(rec) + Result(rc));
  return rc;
}

int Mixer::rx_add(void* arg) {
  Req::mix_route rec;
  std::memcpy(&rec, arg, sizeof rec);
  Unit* u = channel_of(rec.rx);
  int rc = -EINVAL;
  // A route sums channels of one unit.
  if (u && channel_of(rec.tx) == u) {
    std::vector<Route>& list = u->routes[rec.rx.number];
    const auto it = std::find_if(list.begin(), list.end(), [&](const Route& r) { return r.tx == rec.tx.number; });
    if (it == list.end())
      list.push_back(Route{rec.tx.number, rec.gain});
    else
      it->gain = rec.gain;
    rc = 0;
  }
  note("MIX_RX_ADD rx=" + SlotText(rec.rx) + " tx=" + SlotText(rec.tx) + " gain=" + std::to_string(rec.gain) +
       Result(rc));
  return rc;
}

int Mixer::rx_remove(void* arg) {
  Req::mix_route rec;
  std::memcpy(&rec, arg, sizeof rec);
  Unit* u = channel_of(rec.rx);
  int rc = -EINVAL;
  if (u && channel_of(rec.tx) == u) {
    rc = -ENOENT;
    const auto list = u->routes.find(rec.rx.number);
    if (list != u->routes.end()) {
      const auto it =
          std::find_if(list->second.begin(), list->second.end(), [&](const Route& r) { return r.tx == rec.tx.number; });
      if (it != list->second.end()) {
        list->second.erase(it);
        if (list->second.empty()) u->routes.erase(list);
        rc = 0;
      }
    }
  }
  note("MIX_RX_REMOVE rx=" + SlotText(rec.rx) + " tx=" + SlotText(rec.tx) + Result(rc));
  return rc;
}

int Mixer::tdm(void* arg) {
  Req::mix_slot rec;
  std::memcpy(&rec, arg, sizeof rec);
  const int rc = channel_of(rec) ? timeslot(rec.dev_no, rec.number) : -EINVAL;
  note("MIX_TDM " + SlotText(rec) + Result(rc));
  return rc;
}

}  // namespace SimBoard
