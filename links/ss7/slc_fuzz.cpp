// Drives one signalling link with a sequence of operations read from the
// input: units from the line (the unit reader and the state machines), MSUs
// from above, time passing (the timers), a channel that refuses or reports
// ready. The first octet picks the state the link starts from. Whatever the
// link sends must be a well-formed unit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

#include "foundation/multiplexer.h"
#include "foundation/mux_time.h"
#include "links/ss7/slc.h"

namespace {

// Checks every unit it is handed.
class Sink : public GenericHDLC {
public:
  bool hdlc_transmit(Packet& frame) override {
    const unsigned n = frame.length();
    if (n < 3) std::abort();
    const unsigned char* d = frame.cdata();
    const unsigned li = d[2];
    const unsigned left = n - 3;
    if (left == 1 || left == 2) {
      if (d[0] != 0xFF || d[1] != 0xFF || li != 1 || d[3] > 3) std::abort();
    } else if (li != (left < 63 ? left : 63)) {
      std::abort();
    }
    if (refusing) return false;
    return true;
  }
  bool is_open() const override { return true; }
  bool is_ready() const override { return !refusing; }
  bool refusing = false;
};

void Settle(unsigned ms) {
  Mux::timeval t = Mux::g_tv_time;
  Mux::timevaladd(t, Mux::make_from_msec(ms));
  Mux::set_cached_time(t);
  multiplexer.timers_schedule();
}

void Receive(SS7::SLC& link, const std::uint8_t* p, unsigned n) {
  Packet u;
  u.reserve_head(0);
  if (n) std::memcpy(u.put(n), p, n);
  link.receive(u);
}

void Check(const SS7::SLC& link) {
  if (link.get_state_id() < 0 || link.get_state_id() > 5) std::abort();
  if (link.statistics()->rtbSize < 0 || link.statistics()->rtbSize > 127) std::abort();
  if (link.get_bsn() > 127) std::abort();
}

std::ostringstream sink_text;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::cerr.rdbuf(sink_text.rdbuf());
  std::clog.rdbuf(sink_text.rdbuf());
  Mux::set_cached_time(Mux::timeval(1000000, 0));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sink_text.str(std::string());
  if (size < 1) return 0;
  Sink channel;
  SS7::SLC link;
  link.hdlc(&channel);
  link.set_emergency(data[0] & 0x80);
  if (data[0] & 0x40) link.trace = SS7::SLC::Trace{true, true, true, true, true, true, true, true};

  // The starting state, reached the way a peer would lead there.
  const std::uint8_t sio[] = {0xFF, 0xFF, 0x01, 0x00}, sin[] = {0xFF, 0xFF, 0x01, 0x01};
  const std::uint8_t fisu[] = {0xFF, 0xFF, 0x00};
  const unsigned start = (data[0] & 7) % 6;
  if (start >= 1) link.local_activate();
  if (start >= 2) Receive(link, sio, 4);
  if (start >= 3) Receive(link, sin, 4);
  if (start == 4) Settle(8200);
  if (start == 5) Receive(link, fisu, 3);
  Check(link);

  // Each operation: a kind octet, then its operands.
  std::size_t at = 1;
  while (at < size) {
    const std::uint8_t op = data[at++];
    switch (op & 3) {
      case 0: {  // a unit of (op >> 2) octets from the line
        unsigned n = op >> 2;
        if (n > size - at) n = unsigned(size - at);
        Receive(link, data + at, n);
        at += n;
        break;
      }
      case 1: {  // an MSU of (op >> 2) + 1 octets from above
        unsigned n = (op >> 2) + 1;
        if (n > size - at) n = unsigned(size - at);
        Packet m;
        link.prepare_head(m);
        if (n) std::memcpy(m.put(n), data + at, n);
        at += n;
        link.message(m);
        break;
      }
      case 2:  // time passes
        Settle(unsigned(op >> 2) * 250u);
        break;
      case 3:
        switch ((op >> 2) & 3) {
          case 0:
            channel.refusing = !channel.refusing;
            break;
          case 1:
            if (!channel.refusing) link.on_hdlc_ready();
            break;
          case 2:
            link.OnTrunkHardStatus(op & 0x10);
            break;
          case 3:
            if (op & 0x10)
              link.local_activate();
            else
              link.local_deactivate();
            break;
        }
        break;
    }
    Check(link);
  }
  return 0;
}
