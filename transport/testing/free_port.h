#pragma once
// Ports for the listeners a test opens or starts a daemon with. A port the
// system hands out (bind to port 0) lies in the ephemeral range, where any
// outgoing connection of the host may be given it between the choice and the
// listener's bind. These lie below that range, are free when chosen, and stay
// held as ports of the same number of the other protocol until given back
// (or for the life of the test process), so that another test process, of
// this run or of another checkout's, chooses others.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <iterator>
#include <map>
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

// The blocks of ports this process holds. A cursor walks the range round and
// round, so a hand-out tries each port about once a lap however many came
// before it, and a block given back comes round again on the next lap; the
// last few given back are handed out again first, still reserved, so that a
// test that takes and gives back ports in a loop pays a bind check each.
class Ports {
public:
  // Given-back blocks kept reserved for the next hand-outs.
  static constexpr std::size_t kSpares = 16;

  static Ports& Instance() {
    static Ports ports;
    return ports;
  }

  unsigned short Reserve(int type, unsigned count) {
    if (count == 0 || count > span_) return 0;
    if (const unsigned short again = Reuse(type, count)) return again;
    const int other = type == SOCK_STREAM ? SOCK_DGRAM : SOCK_STREAM;
    // One lap: every first port is tried once.
    for (unsigned tried = 0; tried < span_; ++tried) {
      if (next_ + count > span_) {
        tried += span_ - next_ - 1;
        next_ = 0;
        continue;
      }
      const unsigned first = next_;
      std::vector<Fd> reservations;
      unsigned end = first;
      for (; end < first + count && !mine_[end]; ++end) {
        Fd reservation = BindAny(other, bottom_ + end);
        if (!reservation || !BindAny(type, bottom_ + end)) break;
        reservations.push_back(std::move(reservation));
      }
      if (end < first + count) {
        tried += end - first;
        next_ = end + 1 < span_ ? end + 1 : 0;
        continue;
      }
      next_ = end < span_ ? end : 0;
      for (unsigned p = first; p < end; ++p) mine_[p] = true;
      const auto port = static_cast<unsigned short>(bottom_ + first);
      held_[port] = Block{type, false, std::move(reservations)};
      return port;
    }
    return 0;
  }

  // Gives back a block that Reserve handed out; anything else is ignored.
  // The last few stay reserved, to be handed out again first.
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

  // Ports reserved for this process and not given back.
  std::size_t Held() const {
    std::size_t n = 0;
    for (auto const& block : held_)
      if (!block.second.spare) n += block.second.reservations.size();
    return n;
  }

private:
  struct Block {
    int type;
    bool spare;
    std::vector<Fd> reservations;
  };

  // A spare block of the kind whose ports are still free for the type.
  unsigned short Reuse(int type, unsigned count) {
    for (auto it = spares_.rbegin(); it != spares_.rend(); ++it) {
      Block& b = held_[*it];
      if (b.type != type || b.reservations.size() != count) continue;
      const unsigned short first = *it;
      spares_.erase(std::next(it).base());
      bool free = true;
      for (unsigned p = first; p < first + count && free; ++p) free = BindAny(type, p).is_valid();
      if (!free) {
        Drop(first);
        return 0;
      }
      b.spare = false;
      return first;
    }
    return 0;
  }

  void Drop(unsigned short first) {
    const auto at = held_.find(first);
    for (unsigned p = first; p < first + at->second.reservations.size(); ++p) mine_[p - bottom_] = false;
    held_.erase(at);
  }

  Ports() {
    const unsigned top = EphemeralLow();
    bottom_ = top > 9216 ? top - 8192 : 1024;
    span_ = top > bottom_ ? top - bottom_ : 0;
    mine_.assign(span_, false);
    // Processes side by side start apart.
    next_ = span_ ? unsigned(::getpid()) * 97u % span_ : 0;
  }

  unsigned bottom_ = 0;
  unsigned span_ = 0;
  unsigned next_ = 0;
  std::vector<bool> mine_;
  std::map<unsigned short, Block> held_;
  // Given-back blocks still reserved, the latest last.
  std::vector<unsigned short> spares_;
};

// The first of count ports below the ephemeral range, free for the type
// (SOCK_STREAM, SOCK_DGRAM) when chosen and reserved for this process by
// sockets of the other type until Release; 0 when there are none.
inline unsigned short Reserve(int type = SOCK_STREAM, unsigned count = 1) {
  return Ports::Instance().Reserve(type, count);
}

// Gives back the block whose first port Reserve handed out, once nothing of
// this process needs its ports kept from the others any more.
inline void Release(unsigned short first) { Ports::Instance().Release(first); }

}  // namespace porttest
