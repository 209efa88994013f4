#include "simboard/dsp.h"

#include <errno.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace SimBoard {

namespace Req = Board::Dsp;

namespace {

bool Timeslot(const std::string& text, std::uint32_t& ts, Reply& r) {
  long long v = 0;
  if (!ParseNumber(text, 0, Dsp::kTimeslots - 1, v)) {
    r.fail("bad timeslot " + text + " (0.." + std::to_string(Dsp::kTimeslots - 1) + ")");
    return false;
  }
  ts = static_cast<std::uint32_t>(v);
  return true;
}

// A 32-bit word given as an unsigned or a signed number.
bool Word(const std::string& text, std::uint32_t& w, Reply& r) {
  long long v = 0;
  if (!ParseNumber(text, -0x80000000ll, 0xFFFFFFFFll, v)) {
    r.fail("bad word " + text);
    return false;
  }
  w = static_cast<std::uint32_t>(v);
  return true;
}

// The optional id at args[at]; the function's id when not given.
bool Id(const Args& a, std::size_t at, std::uint32_t current, std::uint32_t& id, Reply& r) {
  id = current;
  if (a.size() <= at) return true;
  long long v = 0;
  if (!ParseNumber(a[at], 0, 0xFFFFFFFFll, v)) {
    r.fail("bad id " + a[at]);
    return false;
  }
  id = static_cast<std::uint32_t>(v);
  return true;
}

}  // namespace

Dsp::Dsp() : Driver(Req::kDevice, SOCK_SEQPACKET) {
  add_request(Req::kConfigure, [this](Session&, void* arg) { return configure(arg); });
  add_request(Req::kEnable, [this](Session&, void* arg) { return enable(arg, true); });
  add_request(Req::kDisable, [this](Session&, void* arg) { return enable(arg, false); });
  add_value_request(Req::kVersion, [this](Session&, unsigned long) { return version_ > 0 ? version_ : -ENOTTY; });

  add_command("dsp", "version", "[1|2|fail]", "the interface version the driver answers (fail: ENOTTY)",
              [this](const Args& a, Reply& r) {
                if (a.empty()) return r.line(version_ > 0 ? "version=" + std::to_string(version_) : "version=fail");
                if (a.size() != 1 || (a[0] != "1" && a[0] != "2" && a[0] != "fail"))
                  return r.fail("usage: dsp version [1|2|fail]");
                set_version(a[0] == "fail" ? 0 : std::atoi(a[0].c_str()));
              });
  add_command("dsp", "get", "<ts>", "the timeslot's functions with their ids and its configuration",
              [this](const Args& a, Reply& r) {
                std::uint32_t ts = 0;
                if (a.size() != 1) return r.fail("usage: dsp get <ts>");
                if (!Timeslot(a[0], ts, r)) return;
                for (std::string& line : describe(ts)) r.line(std::move(line));
              });
  // Injected events: the id is the function's present id unless given.
  auto send = [this](const Req::Event& e, Reply& r) {
    if (inject(e) == 0) r.fail("no open of " + path() + " took the event");
  };
  add_command("dsp", "vad", "<ts> <mask> <rx> <tx> [id]", "queues a VAD event (mask: bit 0 rx, bit 1 tx)",
              [=](const Args& a, Reply& r) {
                Req::Event e = {};
                e.type = Req::kEventVad;
                if (a.size() != 4 && a.size() != 5) return r.fail("usage: dsp vad <ts> <mask> <rx> <tx> [id]");
                if (!Timeslot(a[0], e.timeslot, r) || !Word(a[1], e.word1, r) || !Word(a[2], e.word2, r) ||
                    !Word(a[3], e.word3, r))
                  return;
                const Slot* s = slot(e.timeslot);
                if (Id(a, 4, s ? s->vad.id : 0, e.id, r)) send(e, r);
              });
  add_command("dsp", "sd", "<ts> <value> [id]", "queues an SD event", [=](const Args& a, Reply& r) {
    Req::Event e = {};
    e.type = Req::kEventSd;
    if (a.size() != 2 && a.size() != 3) return r.fail("usage: dsp sd <ts> <value> [id]");
    if (!Timeslot(a[0], e.timeslot, r) || !Word(a[1], e.word1, r)) return;
    const Slot* s = slot(e.timeslot);
    if (Id(a, 2, s ? s->sd.id : 0, e.id, r)) send(e, r);
  });
  add_command("dsp", "bss", "<ts> <score> [id]", "queues a BSS event with a floating-point score",
              [=](const Args& a, Reply& r) {
                Req::Event e = {};
                e.type = Req::kEventBss;
                if (a.size() != 2 && a.size() != 3) return r.fail("usage: dsp bss <ts> <score> [id]");
                if (!Timeslot(a[0], e.timeslot, r)) return;
                char* end = nullptr;
                const float score = std::strtof(a[1].c_str(), &end);
                if (end == a[1].c_str() || *end != '\0') return r.fail("bad score " + a[1]);
                std::memcpy(&e.word1, &score, sizeof score);
                const Slot* s = slot(e.timeslot);
                if (Id(a, 2, s ? s->bss.id : 0, e.id, r)) send(e, r);
              });
  add_command(
      "dsp", "tone", "<ts> <w1> <w2> <w3>", "queues a tone-filter event with its three payload words",
      [=](const Args& a, Reply& r) {
        Req::Event e = {};
        e.type = Req::kEventTone;
        if (a.size() != 4) return r.fail("usage: dsp tone <ts> <w1> <w2> <w3>");
        if (Timeslot(a[0], e.timeslot, r) && Word(a[1], e.word1, r) && Word(a[2], e.word2, r) && Word(a[3], e.word3, r))
          send(e, r);
      });
  add_command("dsp", "flags", "<ts> <flags> <mask>", "queues a flags event", [=](const Args& a, Reply& r) {
    Req::Event e = {};
    e.type = Req::kEventFlags;
    if (a.size() != 3) return r.fail("usage: dsp flags <ts> <flags> <mask>");
    if (Timeslot(a[0], e.timeslot, r) && Word(a[1], e.word1, r) && Word(a[2], e.word2, r)) send(e, r);
  });
}

void Dsp::reset() {
  version_ = kDefaultVersion;
  slots_.clear();
}

const Dsp::Slot* Dsp::slot(std::uint32_t ts) const {
  auto it = slots_.find(ts);
  return it == slots_.end() ? nullptr : &it->second;
}

Dsp::Slot* Dsp::at(std::uint32_t ts) { return ts < kTimeslots ? &slots_[ts] : nullptr; }

int Dsp::inject(const Req::Event& e) { return send_all(&e, sizeof e); }

int Dsp::configure(void* arg) {
  Req::Configure rec;
  std::memcpy(&rec, arg, sizeof rec);
  Slot* s = at(rec.timeslot);
  if (!s) return -EINVAL;
  switch (rec.type) {
    case Req::kConfigVad:
      s->vad_ = rec;
      s->vadVersion = version_;
      break;
    case Req::kConfigSd:
      break;
    case Req::kConfigDelays:
      s->delays = rec;
      break;
    case Req::kConfigRxGain:
      s->rxGain = rec;
      break;
    case Req::kConfigToneFilter: {
      const Req::ToneFilter& f = rec.data.toneFilter;
      s->toneFilters[f.freq] = ToneFilter{f.enable, f.durationMs, f.levelDB};
      if (f.enable) s->tones.on = true;
      break;
    }
    default:
      return -EINVAL;
  }
  ++s->configured[rec.type];
  return 0;
}

int Dsp::enable(void* arg, bool on) {
  Req::Enable rec;
  std::memcpy(&rec, arg, sizeof rec);
  Slot* s = at(rec.timeslot);
  if (!s) return -EINVAL;
  const std::uint32_t known = Req::kVad | Req::kSd | Req::kMute | Req::kBss | Req::kNg | Req::kToneAll;
  if (rec.mask == 0 || (rec.mask & ~known)) return -EINVAL;
  auto set = [&](std::uint32_t bit, Function& f) {
    if (!(rec.mask & bit)) return;
    f.on = on;
    if (on) f.id = rec.id;
  };
  set(Req::kVad, s->vad);
  set(Req::kSd, s->sd);
  set(Req::kBss, s->bss);
  set(Req::kNg, s->ng);
  // Muting names the muted directions: an enable unmutes the one it leaves out.
  if (rec.mask & Req::kMute) {
    if (on) {
      s->muteRx = Function{(rec.mask & Req::kMuteRx) != 0, rec.id};
      s->muteTx = Function{(rec.mask & Req::kMuteTx) != 0, rec.id};
    } else {
      set(Req::kMuteRx, s->muteRx);
      set(Req::kMuteTx, s->muteTx);
    }
  }
  if (rec.mask & Req::kToneAll) {
    s->tones.on = on;
    if (on) s->tones.id = rec.id;
    if (!on)
      for (auto& f : s->toneFilters) f.second.enable = 0;
  }
  return 0;
}

std::vector<std::string> Dsp::describe(std::uint32_t ts) const {
  const Slot none;
  const Slot& s = slot(ts) ? *slot(ts) : none;
  auto fn = [](const char* name, const Function& f) {
    return std::string(" ") + name + "=" + (f.on ? "on" : "off") + " " + name + "-id=" + std::to_string(f.id);
  };
  std::vector<std::string> lines;
  lines.push_back("ts=" + std::to_string(ts) + fn("vad", s.vad) + fn("sd", s.sd) + fn("bss", s.bss) + fn("ng", s.ng) +
                  fn("mute-rx", s.muteRx) + fn("mute-tx", s.muteTx) + " tones=" + (s.tones.on ? "on" : "off"));
  auto count = [&](std::uint32_t type) {
    auto it = s.configured.find(type);
    return it == s.configured.end() ? 0u : it->second;
  };
  auto requests = [&](std::uint32_t type) { return " requests=" + std::to_string(count(type)); };
  if (count(Req::kConfigVad)) {
    // The layout follows the version the driver answered then.
    const Req::Configure& c = s.vad_;
    if (s.vadVersion == 2)
      lines.push_back("vad-config voice=" + std::to_string(c.data.vadV2.voiceMs) +
                      " silence=" + std::to_string(c.data.vadV2.silenceMs) +
                      " energy=" + std::to_string(c.data.vadV2.energyDB) + requests(Req::kConfigVad));
    else
      lines.push_back("vad-config words=" + std::to_string(c.data.vadV1.word[0]) + "," +
                      std::to_string(c.data.vadV1.word[1]) + "," + std::to_string(c.data.vadV1.word[2]) +
                      requests(Req::kConfigVad));
  }
  if (count(Req::kConfigSd)) lines.push_back("sd-config" + requests(Req::kConfigSd));
  if (count(Req::kConfigDelays))
    lines.push_back("delays-config rx=" + std::to_string(s.delays.data.delays.rx) +
                    " tx=" + std::to_string(s.delays.data.delays.tx) + requests(Req::kConfigDelays));
  if (count(Req::kConfigRxGain))
    lines.push_back("gain-config byte=" + std::to_string(s.rxGain.data.rxGain.gainDB) + requests(Req::kConfigRxGain));
  for (const auto& f : s.toneFilters)
    lines.push_back("tone-config freq=" + std::to_string(f.first) + " enable=" + std::to_string(f.second.enable) +
                    " duration=" + std::to_string(f.second.durationMs) + " level=" + std::to_string(f.second.levelDB));
  return lines;
}

}  // namespace SimBoard
