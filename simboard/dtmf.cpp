#include "simboard/dtmf.h"

#include <errno.h>
#include <sys/socket.h>

#include <cstring>

#include "foundation/mux_time.h"

namespace SimBoard {

namespace Req = Board::Dtmf;

namespace {

// ITU-T Q.23: the low and the high tone of each key, in kKeys order.
const unsigned kLow[16] = {941, 697, 697, 697, 770, 770, 770, 852, 852, 852, 941, 941, 697, 770, 852, 941};
const unsigned kHigh[16] = {1336, 1209, 1336, 1477, 1209, 1336, 1477, 1209,
                            1336, 1477, 1209, 1477, 1633, 1633, 1633, 1633};

bool Timeslot(const std::string& text, std::uint32_t& ts, Reply& r) {
  long long v = 0;
  if (!ParseNumber(text, 0, Dtmf::kTimeslots - 1, v)) {
    r.fail("bad timeslot " + text + " (0.." + std::to_string(Dtmf::kTimeslots - 1) + ")");
    return false;
  }
  ts = static_cast<std::uint32_t>(v);
  return true;
}

}  // namespace

Dtmf::Dtmf() : Driver(Req::kDevice, SOCK_SEQPACKET) {
  add_request(Req::kConfigureDetector, [this](Session&, void* arg) { return configure(arg); });
  add_request(Req::kEnableDetector, [this](Session&, void* arg) { return enable(arg); });
  add_value_request(Req::kDisableDetector,
                    [this](Session&, unsigned long ts) { return flag(ts, &Slot::detector, false); });
  add_request(Req::kDial, [this](Session&, void* arg) { return dial(arg); });
  add_value_request(Req::kLmsOn, [this](Session&, unsigned long ts) { return flag(ts, &Slot::echoCanceller, true); });
  add_value_request(Req::kLmsOff, [this](Session&, unsigned long ts) { return flag(ts, &Slot::echoCanceller, false); });
  add_value_request(Req::kRejectionEnable,
                    [this](Session&, unsigned long ts) { return flag(ts, &Slot::rejection, true); });
  add_value_request(Req::kRejectionDisable,
                    [this](Session&, unsigned long ts) { return flag(ts, &Slot::rejection, false); });
  add_value_request(Req::kIvaEnable, [this](Session&, unsigned long ts) { return flag(ts, &Slot::iva, true); });
  add_value_request(Req::kIvaDisable, [this](Session&, unsigned long ts) { return flag(ts, &Slot::iva, false); });
  add_request(Req::kIvaConfigure, [this](Session&, void* arg) { return ivaConfigure(arg); });
  add_request(Req::kSelcalDial, [this](Session&, void* arg) { return selcal(arg); });

  add_command("dtmf", "get", "<ts>", "the timeslot's detectors, rejection, echo canceller and configuration",
              [this](const Args& a, Reply& r) {
                std::uint32_t ts = 0;
                if (a.size() != 1) return r.fail("usage: dtmf get <ts>");
                if (!Timeslot(a[0], ts, r)) return;
                for (std::string& line : describe(ts)) r.line(std::move(line));
              });
  add_command("dtmf", "gen", "<ts>",
              "the timeslot's tone generator and SELCAL requests, each with its loop-clock time in ms",
              [this](const Args& a, Reply& r) {
                std::uint32_t ts = 0;
                if (a.size() != 1) return r.fail("usage: dtmf gen <ts>");
                if (!Timeslot(a[0], ts, r)) return;
                const Slot* s = slot(ts);
                if (!s || s->gen.empty()) return r.line("(nothing)");
                for (const GenRecord& g : s->gen) r.line(describe(g));
              });
  add_command("dtmf", "event", "<ts> <code> [id]",
              "queues a detector event; the id is the timeslot's detector id unless given",
              [this](const Args& a, Reply& r) {
                std::uint32_t ts = 0;
                long long code = 0, id = 0;
                if (a.size() != 2 && a.size() != 3) return r.fail("usage: dtmf event <ts> <code> [id]");
                if (!Timeslot(a[0], ts, r)) return;
                if (!ParseNumber(a[1], 0, 0xFFFFFFFFll, code)) return r.fail("bad code " + a[1]);
                if (a.size() == 3 && !ParseNumber(a[2], 0, 0xFFFFFFFFll, id)) return r.fail("bad id " + a[2]);
                if (a.size() == 2) id = slot(ts) ? slot(ts)->id : 0;
                if (inject(ts, static_cast<std::uint32_t>(code), static_cast<std::uint32_t>(id)) == 0)
                  r.fail("no open of " + path() + " took the event");
              });
  add_command("dtmf", "loop", "<a> <b> on|off", "a DTMF key played on timeslot a is detected on b when it ends",
              [this](const Args& a, Reply& r) {
                std::uint32_t from = 0, to = 0;
                if (a.size() != 3 || (a[2] != "on" && a[2] != "off")) return r.fail("usage: dtmf loop <a> <b> on|off");
                if (!Timeslot(a[0], from, r) || !Timeslot(a[1], to, r)) return;
                loop(from, to, a[2] == "on");
              });
}

void Dtmf::reset() {
  slots_.clear();
  loops_.clear();
}

const Dtmf::Slot* Dtmf::slot(std::uint32_t ts) const {
  auto it = slots_.find(ts);
  return it == slots_.end() ? nullptr : &it->second;
}

Dtmf::Slot* Dtmf::at(unsigned long ts) { return ts < kTimeslots ? &slots_[static_cast<std::uint32_t>(ts)] : nullptr; }

int Dtmf::inject(std::uint32_t ts, std::uint32_t code, std::uint32_t id) {
  Req::Event e = {};
  e.code = code;
  e.timeslot = ts;
  e.timestamp = Mux::milliseconds();
  e.id = id;
  return send_all(&e, sizeof e);
}

void Dtmf::loop(std::uint32_t a, std::uint32_t b, bool on) {
  if (on)
    loops_.insert({a, b});
  else
    loops_.erase({a, b});
}

int Dtmf::key(unsigned freq1, unsigned freq2) {
  for (int k = 0; k < 16; ++k)
    if ((freq1 == kLow[k] && freq2 == kHigh[k]) || (freq1 == kHigh[k] && freq2 == kLow[k])) return k;
  return -1;
}

std::vector<std::string> Dtmf::describe(std::uint32_t ts) const {
  auto onoff = [](bool on) { return on ? "on" : "off"; };
  std::vector<std::string> lines;
  const Slot none;
  const Slot& s = slot(ts) ? *slot(ts) : none;
  lines.push_back("ts=" + std::to_string(ts) + " dtmf=" + onoff(s.detector) + " id=" + std::to_string(s.id) +
                  " iva=" + onoff(s.iva) + " rejection=" + onoff(s.rejection) + " echo=" + onoff(s.echoCanceller));
  if (s.configured)
    lines.push_back("dtmf-config twist=" + std::to_string(s.config.twist) + " ratio=" + std::to_string(s.config.ratio) +
                    " silence=" + std::to_string(s.config.silence) + " noise=" + std::to_string(s.config.noise));
  else
    lines.push_back("dtmf-config none");
  lines.push_back(s.ivaConfigured ? "iva-config level=" + std::to_string(s.ivaLevelDB) : "iva-config none");
  return lines;
}

std::string Dtmf::describe(const GenRecord& g) {
  std::string text = std::to_string(g.ms);
  switch (g.kind) {
    case GenRecord::Off:
      return text + " off";
    case GenRecord::Selcal: {
      text += " selcal " + std::to_string(g.amplitude) + " ";
      for (const char c : g.signs) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x21 && u < 0x7F) {
          text += c;
        } else {
          static const char kHex[] = "0123456789ABCDEF";
          text += std::string("\\x") + kHex[u >> 4] + kHex[u & 15];
        }
      }
      return text;
    }
    case GenRecord::Tone:
    case GenRecord::Silence:
      break;
  }
  return text + (g.kind == GenRecord::Tone ? " tone " : " silence ") + std::to_string(g.dial.freq1) + " " +
         std::to_string(g.dial.freq2) + " " + std::to_string(g.dial.amp1) + " " + std::to_string(g.dial.amp2);
}

void Dtmf::log(Slot& s, GenRecord r) {
  if (s.gen.size() >= kMaxLog) s.gen.pop_front();
  s.gen.push_back(std::move(r));
}

int Dtmf::configure(void* arg) {
  Req::ConfigureDetector rec;
  std::memcpy(&rec, arg, sizeof rec);
  Slot* s = at(rec.timeslot);
  if (!s) return -EINVAL;
  s->configured = true;
  s->config = rec;
  return 0;
}

int Dtmf::enable(void* arg) {
  Req::EnableDetector rec;
  std::memcpy(&rec, arg, sizeof rec);
  Slot* s = at(rec.timeslot);
  if (!s) return -EINVAL;
  s->detector = true;
  s->id = rec.id;
  return 0;
}

int Dtmf::flag(unsigned long ts, bool Slot::*member, bool on) {
  Slot* s = at(ts);
  if (!s) return -EINVAL;
  s->*member = on;
  return 0;
}

int Dtmf::dial(void* arg) {
  Req::Dial rec;
  std::memcpy(&rec, arg, sizeof rec);
  Slot* s = at(rec.timeslot);
  if (!s) return -EINVAL;
  const Req::Dial before = s->tone;
  s->tone = rec;
  GenRecord g{Mux::milliseconds(), GenRecord::Tone, rec, 0, std::string()};
  if (rec.freq1 == 0 && rec.freq2 == 0 && rec.amp1 == 0 && rec.amp2 == 0)
    g.kind = GenRecord::Off;
  else if (rec.amp1 == 0 && rec.amp2 == 0)
    g.kind = GenRecord::Silence;
  log(*s, g);

  // A key whose tone has just ended reaches the detectors it is looped to.
  const bool sounding = before.amp1 != 0 || before.amp2 != 0;
  const bool same = std::memcmp(&before, &rec, sizeof rec) == 0;
  const int k = sounding && !same ? key(before.freq1, before.freq2) : -1;
  if (k < 0) return 0;
  for (const auto& l : loops_) {
    if (l.first != rec.timeslot) continue;
    const Slot* to = slot(l.second);
    if (to && to->detector) inject(l.second, static_cast<std::uint32_t>(k), to->id);
  }
  return 0;
}

int Dtmf::ivaConfigure(void* arg) {
  Req::IvaConfigure rec;
  std::memcpy(&rec, arg, sizeof rec);
  Slot* s = at(rec.timeslot);
  if (!s) return -EINVAL;
  s->ivaConfigured = true;
  s->ivaLevelDB = rec.levelDB;
  return 0;
}

int Dtmf::selcal(void* arg) {
  Req::SelcalDial rec;
  std::memcpy(&rec, arg, sizeof rec);
  Slot* s = at(rec.timeslot);
  if (!s) return -EINVAL;
  GenRecord g{Mux::milliseconds(), GenRecord::Selcal, Req::Dial{}, rec.amplitude,
              std::string(reinterpret_cast<const char*>(rec.signs), sizeof rec.signs)};
  log(*s, std::move(g));
  return 0;
}

}  // namespace SimBoard
