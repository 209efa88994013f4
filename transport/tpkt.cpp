#include "transport/tpkt.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <sstream>

#include "foundation/version.h"

Tpkt_protocol::Tpkt_protocol()
    : fname("TPKT"),
      remaining(0),
      state(idle),
      resyncing(false),
      skipped(0),
      bad_headers(0),
      skipped_input(0),
      generation(0) {}

Tpkt_protocol::~Tpkt_protocol() { timer.reset(); }

void Tpkt_protocol::local_prepare_head(Packet& p) { p.reserve_head(header_size); }

void Tpkt_protocol::local_activate() {
  reset();
  on_activate();
}

void Tpkt_protocol::local_deactivate() {
  report_skipped(going_down);
  reset();
  on_deactivate(new Protocol_status_success(this, "TPKT deactivated"));
}

void Tpkt_protocol::reset() {
  timer.reset();
  frame.clear();
  state = idle;
  remaining = 0;
  back_in_step();
  ++generation;
}

void Tpkt_protocol::on_timeout(Timer*) {
  log_limit.line(std::clog) << " TPKT packet timeout." << std::endl;
  reset();
}

void Tpkt_protocol::message(Packet& p) { send(p); }

bool Tpkt_protocol::send(Packet& p) {
  const unsigned length = p.length();
  if (length > max_payload) {
    std::cerr << fname.name() << " message of " << length << " octets not sent, max = " << max_payload << std::endl;
    return false;
  }
  if (p.null() || p._headroom() < header_size) {
    std::cerr << fname.name() << " message of " << length << " octets not sent: no room for the header" << std::endl;
    return false;
  }
  static Profile::Point point("Tpkt_protocol::message");
  point.begin();
  p.push16_b(static_cast<unsigned short>(length + header_size));
  p.push8(0x00);
  p.push8(0x03);
  point.end();
  transmit(p);
  return true;
}

bool Tpkt_protocol::first_of_resync() {
  if (resyncing) return false;
  resyncing = true;
  skipped_input = 0;
  return true;
}

void Tpkt_protocol::skip_garbage() {
  if (first_of_resync())
    log_limit.line(std::clog) << fname.name() << " bad TPKT packet start." << std::endl;
  else
    ++skipped;
}

void Tpkt_protocol::skip_header() {
  if (!first_of_resync())
    ++bad_headers;
  else if (state == wait_r)
    log_limit.line(std::clog) << fname.name() << " bad TPKT reserved." << std::endl;
  else
    log_limit.line(std::clog) << "TPKT too small " << remaining << std::endl;
}

void Tpkt_protocol::back_in_step() {
  report_skipped(back_in_step_now);
  resyncing = false;
}

void Tpkt_protocol::report_skipped(Report when) {
  if (skipped == 0 && bad_headers == 0) return;
  const bool due = skipped_input >= report_after;
  if (when == during_read && !due) return;
  // A line per report_after octets is bounded by the input. The line that
  // closes a resynchronisation follows the rate of the resynchronisations: a
  // peer alternating bad headers and frames would otherwise log more than it
  // sends. Held back, the counts go into a later line.
  if (when == back_in_step_now && !due && !log_limit.admits()) return;
  std::ostringstream text;
  if (skipped) text << fname.name() << ' ' << skipped << " more octets skipped before a TPKT packet start.\n";
  if (bad_headers) text << fname.name() << ' ' << bad_headers << " more bad TPKT headers skipped.\n";
  if (when == back_in_step_now && !due)
    log_limit.line(std::clog) << text.str();
  else
    std::clog << text.str() << std::flush;
  skipped = 0;
  bad_headers = 0;
  skipped_input = 0;
}

void Tpkt_protocol::start_frame() {
  remaining -= header_size;
  frame.clear();
  if (!frame.try_reserve_head(0)) {
    log_limit.line(std::cerr) << fname.name() << " no free packet buffer, frame of " << remaining << " octets dropped"
                              << std::endl;
    state = remaining > 0 ? ignore : idle;
    return;
  }
  if (remaining > frame.tailroom()) {
    log_limit.line(std::clog) << "TPKT length too big, received = " << remaining << " max = " << frame.tailroom()
                              << std::endl;
    state = ignore;
    return;
  }
  if (remaining > 0)
    state = body;
  else
    deliver();
}

void Tpkt_protocol::deliver() {
  state = idle;
  on_message(frame);
  frame.clear();
}

void Tpkt_protocol::receive(Packet& p) {
  const uint32_t entry = generation;
  while (!p.empty()) {
    const unsigned before = p.length();
    switch (state) {
      case idle:
        if (p.pull8() == 0x03)
          state = wait_r;
        else
          skip_garbage();
        break;
      case wait_r:
        if (p.pull8() == 0x00) {
          state = len_1;
        } else {
          skip_header();
          state = idle;
        }
        break;
      case len_1:
        remaining = p.pull8();
        state = len_2;
        break;
      case len_2:
        remaining = remaining * 256 + p.pull8();
        if (remaining < header_size) {
          skip_header();
          state = idle;
        } else {
          back_in_step();
          start_frame();
        }
        break;
      case body: {
        const unsigned n = std::min<unsigned>(p.length(), remaining);
        std::memcpy(frame.put(n), p.pull(n), n);
        remaining -= n;
        if (remaining == 0) deliver();
        break;
      }
      case ignore: {
        const unsigned n = std::min<unsigned>(p.length(), remaining);
        p.pull(n);
        remaining -= n;
        if (remaining == 0) state = idle;
        break;
      }
    }
    // The owner took the layer down while a frame was delivered.
    if (generation != entry) return;
    if (resyncing) skipped_input += before - p.length();
  }
  report_skipped(during_read);
  if (state != idle)
    timer.set<Tpkt_protocol>(frame_timeout_ms, &Tpkt_protocol::on_timeout, this);
  else
    timer.reset();
}
