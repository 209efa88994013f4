#pragma once
// Ports for the listeners a test opens or starts a daemon with. A port the
// system hands out (bind to port 0) lies in the ephemeral range, where any
// outgoing connection of the host may be given it between the choice and the
// listener's bind. These lie below that range, are free when chosen, and stay
// held as ports of the same number of the other protocol until given back
// (or for the life of the test process).
//
// Test processes (of this run or of another checkout's) share the range
// through a claim per port: an abstract local socket named for the port,
// bound before any bind check of the port and kept while the port is held.
// So a process checking ports never binds, not even for an instant, one that
// another test process holds for its daemon to bind. The names live in the
// network namespace, as the ports do, need no file and go with the process.
// Ports that other programs hold are found by the bind check.
#include <netinet/in.h>
#include <stddef.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <iterator>
#include <map>
#include <random>
#include <unordered_map>
#include <vector>

#include "foundation/os.h"

namespace porttest {

// The first port of the host's ephemeral range.
inline unsigned EphemeralLow() {
  unsigned low = 32768, high = 60999;
  if (std::FILE* f = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
    if (std::fscanf(f, "%u %u", &low, &high) != 2) low = 32768;
    std::fclose(f);
  }
  return low;
}

// Binds a new socket of the type to the port on every address, without
// SO_REUSEADDR: a listener, a bound socket or a connection in TIME_WAIT on
// the port makes it fail.
inline Fd BindAny(int type, unsigned port) {
  Fd s(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<unsigned short>(port));
  sa.sin_addr.s_addr = htonl(INADDR_ANY);
  if (s && ::bind(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) s.close();
  return s;
}

// What the hand-out does to the host, apart so that its logic can be tried
// on a model host.
class Host {
public:
  virtual ~Host() = default;
  // Claims the port among the test processes; false when one holds it.
  virtual bool Claim(unsigned port) = 0;
  virtual void Unclaim(unsigned port) = 0;
  // Binds a socket of the type to the port until Unhold; false when taken.
  virtual bool Hold(int type, unsigned port) = 0;
  virtual void Unhold(unsigned port) = 0;
  // Whether a socket of the type binds the port now (for an instant).
  virtual bool Free(int type, unsigned port) = 0;
};

class SystemHost : public Host {
public:
  bool Claim(unsigned port) override {
    Fd s(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un sa = {};
    sa.sun_family = AF_UNIX;
    // sun_path[0] stays 0: an abstract name, not a file.
    const int n = std::snprintf(sa.sun_path + 1, sizeof sa.sun_path - 1, "ulvarond-test-port-%u", port);
    const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<unsigned>(n));
    if (!s || ::bind(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), len) != 0) return false;
    claims_[port] = std::move(s);
    return true;
  }
  void Unclaim(unsigned port) override { claims_.erase(port); }
  bool Hold(int type, unsigned port) override {
    Fd s = BindAny(type, port);
    if (!s) return false;
    holds_[port] = std::move(s);
    return true;
  }
  void Unhold(unsigned port) override { holds_.erase(port); }
  bool Free(int type, unsigned port) override { return BindAny(type, port).is_valid(); }

private:
  std::unordered_map<unsigned, Fd> claims_;
  std::unordered_map<unsigned, Fd> holds_;
};

// The range below the host's ephemeral one that the tests take ports from.
struct Range {
  unsigned bottom;
  unsigned span;
};

inline Range TestRange() {
  const unsigned top = EphemeralLow();
  const unsigned bottom = top > 9216 ? top - 8192 : 1024;
  return {bottom, top > bottom ? top - bottom : 0};
}

// The blocks of ports this process holds. A cursor walks the range round and
// round, so a hand-out tries each port about once a lap however many came
// before it, and a block given back comes round again on the next lap; the
// last few given back are handed out again first, still held, so that a
// test that takes and gives back ports in a loop pays a bind check each.
class Ports {
public:
  // Given-back blocks kept held for the next hand-outs.
  static constexpr std::size_t kSpares = 16;

  static Ports& Instance() {
    static SystemHost host;
    static Ports ports(host, TestRange(), std::random_device()());
    return ports;
  }

  // The cursor starts at start (modulo the span), so that processes side by
  // side start apart.
  Ports(Host& host, Range range, unsigned start)
      : host_(host), bottom_(range.bottom), span_(range.span), next_(span_ ? start % span_ : 0),
        mine_(span_, false) {}

  Ports(const Ports&) = delete;
  Ports& operator=(const Ports&) = delete;

  ~Ports() {
    while (!held_.empty()) Drop(held_.begin()->first);
  }

  unsigned short Reserve(int type, unsigned count) {
    if (count == 0 || count > span_) return 0;
    if (const unsigned short again = Reuse(type, count)) return again;
    if (const unsigned short port = Search(type, count)) return port;
    // Blocks kept for another type or size may be all that is in the way.
    if (spares_.empty()) return 0;
    for (unsigned short first : spares_) Drop(first);
    spares_.clear();
    return Search(type, count);
  }

  // Gives back a block that Reserve handed out; anything else is ignored.
  // The last few stay held, to be handed out again first.
  void Release(unsigned short first) {
    const auto at = held_.find(first);
    if (at == held_.end() || at->second.spare) return;
    at->second.spare = true;
    spares_.push_back(first);
    if (spares_.size() > kSpares) {
      Drop(spares_.front());
      spares_.erase(spares_.begin());
    }
  }

  // Ports held for this process and not given back.
  std::size_t Held() const {
    std::size_t n = 0;
    for (auto const& block : held_)
      if (!block.second.spare) n += block.second.count;
    return n;
  }

private:
  struct Block {
    int type;
    unsigned count;
    bool spare;
  };

  static int Other(int type) { return type == SOCK_STREAM ? SOCK_DGRAM : SOCK_STREAM; }

  // The latest spare block of the type and size whose ports still bind.
  unsigned short Reuse(int type, unsigned count) {
    for (auto it = spares_.rbegin(); it != spares_.rend();) {
      const unsigned short first = *it;
      const Block& b = held_.at(first);
      if (b.type != type || b.count != count) {
        ++it;
        continue;
      }
      it = std::make_reverse_iterator(spares_.erase(std::next(it).base()));
      bool free = true;
      for (unsigned p = first; p < first + count && free; ++p) free = host_.Free(type, p);
      if (!free) {
        Drop(first);
        continue;
      }
      held_.at(first).spare = false;
      return first;
    }
    return 0;
  }

  // One lap of the cursor: every first port is tried once.
  unsigned short Search(int type, unsigned count) {
    for (unsigned tried = 0; tried < span_;) {
      if (next_ + count > span_) {
        tried += span_ - next_;
        next_ = 0;
        continue;
      }
      const unsigned first = next_;
      const unsigned end = Take(type, first, count);
      if (end == first + count) {
        next_ = end < span_ ? end : 0;
        const auto port = static_cast<unsigned short>(bottom_ + first);
        held_[port] = Block{type, count, false};
        return port;
      }
      tried += end - first + 1;
      next_ = end + 1 < span_ ? end + 1 : 0;
    }
    return 0;
  }

  // Claims and holds the ports from first on while they are free; the
  // index of the first one that is not (first + count when all are). A
  // block that is not whole is let go again.
  unsigned Take(int type, unsigned first, unsigned count) {
    unsigned end = first;
    for (; end < first + count && !mine_[end]; ++end) {
      const unsigned port = bottom_ + end;
      if (!host_.Claim(port)) break;
      if (!host_.Hold(Other(type), port) || !host_.Free(type, port)) {
        Let(port);
        break;
      }
      mine_[end] = true;
    }
    if (end < first + count)
      for (unsigned p = first; p < end; ++p) {
        Let(bottom_ + p);
        mine_[p] = false;
      }
    return end;
  }

  // Unhold of a port not held does nothing.
  void Let(unsigned port) {
    host_.Unhold(port);
    host_.Unclaim(port);
  }

  void Drop(unsigned short first) {
    const auto at = held_.find(first);
    for (unsigned p = first; p < first + at->second.count; ++p) {
      Let(p);
      mine_[p - bottom_] = false;
    }
    held_.erase(at);
  }

  Host& host_;
  unsigned bottom_;
  unsigned span_;
  unsigned next_;
  std::vector<bool> mine_;
  std::map<unsigned short, Block> held_;
  // Given-back blocks still held, the latest last.
  std::vector<unsigned short> spares_;
};

// The first of count ports below the ephemeral range, free for the type
// (SOCK_STREAM, SOCK_DGRAM) when chosen and held for this process until
// Release: claimed among the test processes and bound as ports of the other
// type; 0 when there are none.
inline unsigned short Reserve(int type = SOCK_STREAM, unsigned count = 1) {
  return Ports::Instance().Reserve(type, count);
}

// Gives back the block whose first port Reserve handed out, once nothing of
// this process needs its ports kept from the others any more.
inline void Release(unsigned short first) { Ports::Instance().Release(first); }

}  // namespace porttest
