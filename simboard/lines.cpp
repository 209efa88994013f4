#include "simboard/lines.h"

#include <errno.h>

#include <cstring>

#include "foundation/mux_time.h"
#include "simboard/hal.h"

namespace SimBoard {

// A pcap file: the classic format, written little-endian whatever the host.
class Lines::Pcap {
public:
  ~Pcap() {
    if (file_) std::fclose(file_);
  }

  bool open(const std::string& path, std::uint32_t linktype, std::string& why) {
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
      why = path + ": " + std::strerror(errno);
      return false;
    }
    std::uint8_t head[24];
    put32(head, 0xA1B2C3D4u);
    put16(head + 4, 2);
    put16(head + 6, 4);
    put32(head + 8, 0);
    put32(head + 12, 0);
    put32(head + 16, kSnapLength);
    put32(head + 20, linktype);
    if (!write(head, sizeof head)) {
      why = path + ": cannot be written";
      return false;
    }
    return true;
  }

  // False once the file cannot be written; the capture then ends.
  bool record(const Frame& frame) {
    Mux::timeval now;
    Mux::mux_gettimeofday(now);
    const std::uint32_t len = static_cast<std::uint32_t>(frame.size());
    const std::uint32_t kept = len < kSnapLength ? len : kSnapLength;
    std::uint8_t head[16];
    put32(head, static_cast<std::uint32_t>(now.tv_sec));
    put32(head + 4, static_cast<std::uint32_t>(now.tv_usec));
    put32(head + 8, kept);
    put32(head + 12, len);
    // Flushed per frame: a test reads the file while the board runs.
    return write(head, sizeof head) && write(frame.data(), kept) && std::fflush(file_) == 0;
  }

private:
  static constexpr std::uint32_t kSnapLength = 65536;

  static void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
  }
  static void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  bool write(const std::uint8_t* data, std::size_t len) { return len == 0 || std::fwrite(data, 1, len, file_) == len; }

  std::FILE* file_ = nullptr;
};

class Lines::End {
public:
  struct Pending {
    Spoil what;
    unsigned countdown;
  };

  End(Lines& lines, int trunk, int timeslot) : lines_(lines), trunk_(trunk), timeslot_(timeslot) {}

  void on_repeat() {
    if (!last.empty()) lines_.line_in(trunk_, timeslot_, Frame(last), 0, false);
  }
  void arm_repeat() {
    if (repeat_ms)
      repeat_timer.set<End>(repeat_ms, &End::on_repeat, this);
    else
      repeat_timer.reset();
  }
  bool idle() const { return !tapped && kept.empty() && pending.empty() && !repeat_ms && !pcap && out == 0 && in == 0; }

  bool tapped = false;
  std::deque<Frame> kept;
  std::vector<Pending> pending;
  unsigned repeat_ms = 0;
  Frame last;
  Timer repeat_timer;
  std::unique_ptr<Pcap> pcap;
  std::string pcap_path;
  std::uint64_t out = 0, in = 0, dropped = 0, duplicated = 0, corrupted = 0, discarded = 0;

private:
  Lines& lines_;
  int trunk_;
  int timeslot_;
};

Lines::Lines(Board board, std::vector<std::pair<int, int>> cables)
    : board_(std::move(board)), default_cables_(std::move(cables)) {
  reset();
}

Lines::~Lines() = default;

bool Lines::valid(int trunk, int timeslot) {
  return trunk >= 0 && trunk < kTrunks && timeslot >= 0 && timeslot < kTimeslots;
}

Lines::End* Lines::end(int trunk, int timeslot) {
  if (!valid(trunk, timeslot)) return nullptr;
  return &end_at(trunk, timeslot);
}

Lines::End& Lines::end_at(int trunk, int timeslot) {
  std::unique_ptr<End>& e = ends_[trunk * kTimeslots + timeslot];
  if (!e) e.reset(new End(*this, trunk, timeslot));
  return *e;
}

void Lines::reset() {
  for (int& c : cables_) c = -1;
  for (auto& c : default_cables_) cable(c.first, c.second);
  for (auto& e : ends_) e.reset();
  stats_ = Stats();
}

bool Lines::cable(int a, int b) {
  if (a < 0 || a >= kTrunks || b < 0 || b >= kTrunks) return false;
  uncable(a);
  uncable(b);
  // A trunk cabled to itself is a loop plug: it hears what it sends.
  cables_[a] = b;
  cables_[b] = a;
  return true;
}

bool Lines::uncable(int trunk) {
  if (trunk < 0 || trunk >= kTrunks) return false;
  const int other = cables_[trunk];
  if (other >= 0) cables_[other] = -1;
  cables_[trunk] = -1;
  return true;
}

int Lines::cabled(int trunk) const { return trunk >= 0 && trunk < kTrunks ? cables_[trunk] : -1; }

bool Lines::tap(int trunk, int timeslot, bool on) {
  End* e = end(trunk, timeslot);
  if (!e) return false;
  e->tapped = on;
  if (!on) e->kept.clear();
  return true;
}

std::vector<Lines::Frame> Lines::take(int trunk, int timeslot) {
  std::vector<Frame> frames;
  End* e = end(trunk, timeslot);
  if (!e) return frames;
  frames.assign(std::make_move_iterator(e->kept.begin()), std::make_move_iterator(e->kept.end()));
  e->kept.clear();
  return frames;
}

bool Lines::inject(int trunk, int timeslot, const Frame& frame) {
  if (!valid(trunk, timeslot) || frame.empty()) return false;
  line_in(trunk, timeslot, frame, 0, false);
  return true;
}

bool Lines::spoil(int trunk, int timeslot, Spoil what, unsigned nth) {
  End* e = end(trunk, timeslot);
  if (!e || nth == 0) return false;
  e->pending.push_back(End::Pending{what, nth});
  return true;
}

bool Lines::repeat(int trunk, int timeslot, unsigned ms) {
  End* e = end(trunk, timeslot);
  if (!e) return false;
  e->repeat_ms = ms;
  e->arm_repeat();
  return true;
}

bool Lines::capture(int trunk, int timeslot, std::uint32_t linktype, const std::string& path, std::string& why) {
  End* e = end(trunk, timeslot);
  if (!e) {
    why = "no line end " + std::to_string(trunk) + " " + std::to_string(timeslot);
    return false;
  }
  e->pcap.reset();
  e->pcap_path.clear();
  if (path.empty()) return true;
  std::unique_ptr<Pcap> pcap(new Pcap);
  if (!pcap->open(path, linktype, why)) return false;
  e->pcap = std::move(pcap);
  e->pcap_path = path;
  return true;
}

void Lines::from_channel(int channel, const Frame& frame, bool repeated) {
  if (repeated) {
    to_outputs(channel, frame, 0, true);
    return;
  }
  ++stats_.sent;
  if (!to_outputs(channel, frame, 0, false)) ++stats_.unconnected;
}

bool Lines::to_outputs(int source, const Frame& frame, int hops, bool repeated) {
  Hal* hal = board_.hal ? board_.hal() : nullptr;
  if (!hal) return false;
  hal->fed_by(source, outputs_);
  // Handing on may come back here: the list is this call's own.
  const std::vector<int> outputs = outputs_;
  bool reached = false;
  for (int output : outputs) {
    if (output < kTrunks * kTimeslots) {
      if (line_out(output / kTimeslots, output % kTimeslots, frame, hops, repeated)) reached = true;
      continue;
    }
    switch (board_.channel ? board_.channel(output, frame) : Handed::None) {
      case Handed::Delivered:
        if (!repeated) ++stats_.delivered;
        reached = true;
        break;
      case Handed::Lost:
        if (!repeated) ++stats_.lost;
        reached = true;
        break;
      case Handed::None:
        break;
    }
  }
  return reached;
}

std::vector<Lines::Frame> Lines::cross(End& e, const Frame& frame, bool repeated) {
  bool drop = false, dup = false, corrupt = false;
  for (auto it = e.pending.begin(); !repeated && it != e.pending.end();) {
    if (--it->countdown > 0) {
      ++it;
      continue;
    }
    drop |= it->what == Spoil::Drop;
    dup |= it->what == Spoil::Duplicate;
    corrupt |= it->what == Spoil::Corrupt;
    it = e.pending.erase(it);
  }
  std::vector<Frame> frames;
  if (drop) {
    ++e.dropped;
    return frames;
  }
  frames.push_back(frame);
  if (corrupt && !frames[0].empty()) {
    // The last octet inverted: a frame the receiver can tell from the sent one.
    frames[0].back() = static_cast<std::uint8_t>(frames[0].back() ^ 0xFF);
    ++e.corrupted;
  }
  if (dup) {
    frames.push_back(frames[0]);
    ++e.duplicated;
  }
  return frames;
}

bool Lines::line_out(int trunk, int timeslot, const Frame& frame, int hops, bool repeated) {
  if (++hops > kMaxHops) {
    if (!repeated) ++stats_.looped;
    return false;
  }
  End& e = end_at(trunk, timeslot);
  const std::vector<Frame> frames = cross(e, frame, repeated);
  bool reached = false;
  for (const Frame& f : frames) {
    ++e.out;
    if (e.pcap && !e.pcap->record(f)) e.pcap.reset();
    if (e.tapped) {
      if (e.kept.size() >= kMaxKept) {
        e.kept.pop_front();
        ++e.discarded;
      }
      e.kept.push_back(f);
      reached = true;
      continue;
    }
    const int far = cables_[trunk];
    // The far end's plug is in the test's hand when it is tapped.
    if (far < 0 || end_at(far, timeslot).tapped) continue;
    if (line_in(far, timeslot, f, hops, repeated)) reached = true;
  }
  // A frame the line end dropped is counted there.
  if (!reached && !frames.empty() && !repeated) ++stats_.unconnected;
  // Counted here already when nothing took it.
  return true;
}

bool Lines::line_in(int trunk, int timeslot, const Frame& frame, int hops, bool repeated) {
  End& e = end_at(trunk, timeslot);
  // The line end's own repetition stands in for the channel's.
  if (repeated && e.repeat_ms) return true;
  const std::vector<Frame> frames = cross(e, frame, repeated);
  bool reached = false;
  for (const Frame& f : frames) {
    ++e.in;
    if (e.pcap && !e.pcap->record(f)) e.pcap.reset();
    e.last = f;
    if (to_outputs(trunk * kTimeslots + timeslot, f, hops, repeated)) reached = true;
  }
  // A new frame restarts the idle repetition.
  e.arm_repeat();
  if (!reached && !frames.empty() && !repeated) ++stats_.unconnected;
  return true;
}

std::vector<std::string> Lines::describe() const {
  std::vector<std::string> lines;
  lines.push_back("sent=" + std::to_string(stats_.sent) + " delivered=" + std::to_string(stats_.delivered) +
                  " unconnected=" + std::to_string(stats_.unconnected) + " lost=" + std::to_string(stats_.lost) +
                  " looped=" + std::to_string(stats_.looped));
  for (int t = 0; t < kTrunks; ++t)
    lines.push_back("trunk " + std::to_string(t) + " cable=" + (cables_[t] < 0 ? "none" : std::to_string(cables_[t])));
  for (int i = 0; i < kTrunks * kTimeslots; ++i) {
    const End* e = ends_[i].get();
    if (!e || e->idle()) continue;
    std::string text = "line " + std::to_string(i / kTimeslots) + " " + std::to_string(i % kTimeslots) +
                       " out=" + std::to_string(e->out) + " in=" + std::to_string(e->in) +
                       " dropped=" + std::to_string(e->dropped) + " duplicated=" + std::to_string(e->duplicated) +
                       " corrupted=" + std::to_string(e->corrupted);
    if (e->tapped)
      text += " tapped kept=" + std::to_string(e->kept.size()) + " discarded=" + std::to_string(e->discarded);
    if (e->repeat_ms) text += " repeat=" + std::to_string(e->repeat_ms);
    if (e->pcap) text += " pcap=" + e->pcap_path;
    lines.push_back(text);
  }
  return lines;
}

bool ParseHex(const std::string& text, Lines::Frame& frame) {
  frame.clear();
  if (text.empty() || text.size() % 2) return false;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = digit(text[i]), lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) {
      frame.clear();
      return false;
    }
    frame.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  return true;
}

std::string HexText(const Lines::Frame& frame) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t b : frame) {
    text.push_back(digits[b >> 4]);
    text.push_back(digits[b & 0x0F]);
  }
  return text;
}

void Lines::add_commands(const AddCommand& add) {
  // "<t> <s>" at args[at], args[at + 1].
  auto line_end = [](const Args& a, std::size_t at, int& t, int& s, Reply& r) {
    long long tv = 0, sv = 0;
    if (!ParseNumber(a[at], 0, kTrunks - 1, tv)) {
      r.fail("bad trunk " + a[at] + " (0.." + std::to_string(kTrunks - 1) + ")");
      return false;
    }
    if (!ParseNumber(a[at + 1], 0, kTimeslots - 1, sv)) {
      r.fail("bad timeslot " + a[at + 1] + " (0.." + std::to_string(kTimeslots - 1) + ")");
      return false;
    }
    t = static_cast<int>(tv);
    s = static_cast<int>(sv);
    return true;
  };
  auto trunk_arg = [](const std::string& text, int& t, Reply& r) {
    long long v = 0;
    if (!ParseNumber(text, 0, kTrunks - 1, v)) {
      r.fail("bad trunk " + text + " (0.." + std::to_string(kTrunks - 1) + ")");
      return false;
    }
    t = static_cast<int>(v);
    return true;
  };

  add("line", "cable", "<a> <b>", "cables trunk a to trunk b (a to itself: a loop plug)", [=](const Args& a, Reply& r) {
    int x = 0, y = 0;
    if (a.size() != 2) return r.fail("usage: line cable <a> <b>");
    if (trunk_arg(a[0], x, r) && trunk_arg(a[1], y, r)) cable(x, y);
  });
  add("line", "uncable", "<a>", "unplugs trunk a's cable", [=](const Args& a, Reply& r) {
    int x = 0;
    if (a.size() != 1) return r.fail("usage: line uncable <a>");
    if (trunk_arg(a[0], x, r)) uncable(x);
  });
  add("line", "tap", "<t> <s> [off]",
      "the line end belongs to the test: its frames are kept to be read, not sent across",
      [=](const Args& a, Reply& r) {
        int t = 0, s = 0;
        if (a.size() < 2 || a.size() > 3 || (a.size() == 3 && a[2] != "off"))
          return r.fail("usage: line tap <t> <s> [off]");
        if (line_end(a, 0, t, s, r)) tap(t, s, a.size() == 2);
      });
  add("line", "read", "<t> <s>", "the frames kept at a tapped line end, one hex line each, oldest first",
      [=](const Args& a, Reply& r) {
        int t = 0, s = 0;
        if (a.size() != 2) return r.fail("usage: line read <t> <s>");
        if (!line_end(a, 0, t, s, r)) return;
        for (const Frame& f : take(t, s)) r.line(HexText(f));
      });
  add("line", "inject", "<t> <s> <hex>", "a frame from the far end arrives at the line end",
      [=](const Args& a, Reply& r) {
        int t = 0, s = 0;
        Frame frame;
        if (a.size() != 3) return r.fail("usage: line inject <t> <s> <hex>");
        if (!line_end(a, 0, t, s, r)) return;
        if (!ParseHex(a[2], frame)) return r.fail("bad frame " + a[2] + " (hex octets)");
        inject(t, s, frame);
      });
  const struct {
    const char* verb;
    Spoil what;
    const char* help;
  } spoilers[] = {
      {"drop", Spoil::Drop, "the n-th frame crossing the line end from now is lost"},
      {"dup", Spoil::Duplicate, "the n-th frame crossing the line end from now crosses twice"},
      {"corrupt", Spoil::Corrupt, "the n-th frame crossing the line end from now has its last octet inverted"},
  };
  for (const auto& sp : spoilers) {
    const Spoil what = sp.what;
    const std::string verb = sp.verb;
    add("line", verb, "<t> <s> <n>", sp.help, [=](const Args& a, Reply& r) {
      int t = 0, s = 0;
      long long n = 0;
      if (a.size() != 3) return r.fail("usage: line " + verb + " <t> <s> <n>");
      if (!line_end(a, 0, t, s, r)) return;
      if (!ParseNumber(a[2], 1, 1000000000, n)) return r.fail("bad count " + a[2]);
      spoil(t, s, what, static_cast<unsigned>(n));
    });
  }
  add("line", "repeat", "<t> <s> <ms>|off",
      "the last frame that arrived at the line end arrives again every ms while nothing new comes",
      [=](const Args& a, Reply& r) {
        int t = 0, s = 0;
        long long ms = 0;
        if (a.size() != 3) return r.fail("usage: line repeat <t> <s> <ms>|off");
        if (!line_end(a, 0, t, s, r)) return;
        if (a[2] != "off" && !ParseNumber(a[2], 1, 3600000, ms)) return r.fail("bad period " + a[2]);
        repeat(t, s, static_cast<unsigned>(ms));
      });
  add("line", "stat", "", "frames sent, delivered, unconnected; cables; the busy line ends",
      [=](const Args& a, Reply& r) {
        if (!a.empty()) return r.fail("usage: line stat");
        for (const std::string& l : describe()) r.line(l);
      });
  add("pcap", "", "<t> <s> lapd|mtp2 <file>|off",
      "writes every frame crossing the line end to a pcap file (link type 203 or 140)", [=](const Args& a, Reply& r) {
        int t = 0, s = 0;
        const bool off = (a.size() == 3 && a[2] == "off") || (a.size() == 4 && a[3] == "off");
        if (a.size() < 3 || (!off && (a.size() != 4 || (a[2] != "lapd" && a[2] != "mtp2"))))
          return r.fail("usage: pcap <t> <s> lapd|mtp2 <file>|off");
        if (!line_end(a, 0, t, s, r)) return;
        std::string why;
        if (off) {
          capture(t, s, 0, "", why);
          return;
        }
        if (!capture(t, s, a[2] == "lapd" ? kLinkLapd : kLinkMtp2, a[3], why)) r.fail(why);
      });
}

}  // namespace SimBoard
