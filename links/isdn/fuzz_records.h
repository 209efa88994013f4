#pragma once
// What the link-layer fuzz targets share: the input read as records, time
// driven by the records, and the checks at the end of every input.
//
// An input is one octet that the target reads as it likes (its mode), then
// records: a length octet below kEvent and that many octets (fewer at the end
// of the input) are a frame from the line; kEvent and up is an event, which
// may read octets of its own with next().
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>

#include "foundation/multiplexer.h"
#include "foundation/mux_time.h"
#include "transport/packet.h"

namespace LinkFuzz {

inline void Check(bool ok) {
  if (!ok) std::abort();
}

inline void Advance(unsigned ms) {
  Mux::timeval t = Mux::g_tv_time;
  Mux::timevaladd(t, Mux::make_from_msec(ms));
  Mux::set_cached_time(t);
  multiplexer.timers_schedule();
}

constexpr uint8_t kEvent = 0xF0;

class Records {
public:
  Records(uint8_t const* data, std::size_t size, std::size_t at) : data(data), size(size), at(at) {}

  bool more() const { return at < size; }
  uint8_t next() { return at < size ? data[at++] : 0; }
  // The frame whose length octet was just read.
  void frame(uint8_t length, Packet& p) {
    std::size_t const n = length < size - at ? length : size - at;
    p.reserve_head(0);
    for (std::size_t i = 0; i < n; ++i) p.put8(data[at + i]);
    at += n;
  }

private:
  uint8_t const* data;
  std::size_t size;
  std::size_t at;
};

// Plays the records after the mode octet: frame(p) takes each frame,
// event(op, records) each event, and after() runs after every record.
template <class Frame, class Event, class After>
void Play(uint8_t const* data, std::size_t size, Frame&& frame, Event&& event, After&& after) {
  Records in(data, size, 1);
  while (in.more()) {
    uint8_t const op = in.next();
    if (op < kEvent) {
      Packet p;
      in.frame(op, p);
      frame(p);
    } else {
      event(op, in);
    }
    after();
  }
}

// Runs one input (of size octets) with traces rendered but written nowhere and the clock
// fixed; afterwards every packet buffer must be back in the pool and no
// timer left.
template <class Body>
int Run(std::size_t size, Body&& body) {
  static bool const silent = (std::clog.rdbuf(nullptr), true);
  (void)silent;
  if (size < 1) return 0;
  Mux::set_cached_time(Mux::timeval(1000000, 0));
  unsigned const pool = Packet::pool_free();
  body();
  Check(Packet::pool_free() == pool);
  Check(multiplexer.timer_count() == 0);
  Mux::clear_cached_time();
  return 0;
}

}  // namespace LinkFuzz
