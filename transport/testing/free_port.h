#pragma once
// Ports for the listeners a test opens or starts a daemon with. A port the
// system hands out (bind to port 0) lies in the ephemeral range, where any
// outgoing connection of the host may be given it between the choice and the
// listener's bind. These lie below that range, are free when chosen, and stay
// held as ports of the same number of the other protocol for the life of the
// test process, so that another test process, of this run or of another
// checkout's, chooses others.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
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

// The first of count ports below the ephemeral range, free for the type
// (SOCK_STREAM, SOCK_DGRAM) when chosen and reserved for this process by a
// socket of the other type; 0 when there are none.
inline unsigned short Reserve(int type = SOCK_STREAM, unsigned count = 1) {
  static std::vector<Fd> held;
  const int other = type == SOCK_STREAM ? SOCK_DGRAM : SOCK_STREAM;
  const unsigned top = EphemeralLow();
  const unsigned bottom = top > 9216 ? top - 8192 : 1024;
  if (top < bottom + count) return 0;
  const unsigned span = top - bottom - count + 1;
  // Processes side by side start apart.
  const unsigned start = unsigned(::getpid()) * 97u % span;
  for (unsigned i = 0; i < span; ++i) {
    const unsigned first = bottom + (start + i) % span;
    std::vector<Fd> reservations;
    for (unsigned port = first; port < first + count; ++port) {
      Fd reservation = BindAny(other, port);
      if (!reservation || !BindAny(type, port)) break;
      reservations.push_back(std::move(reservation));
    }
    if (reservations.size() < count) continue;
    for (Fd& r : reservations) held.push_back(std::move(r));
    return static_cast<unsigned short>(first);
  }
  return 0;
}

}  // namespace porttest
