#pragma once
// TPKT framing (RFC 1006): 03 00, the 16-bit big-endian frame length
// including the four header octets, then one message. The receiver is an
// octet-driven state machine that resynchronises on the next start octet,
// skips frames it cannot hold and drops a frame that stalls.
#include <cstdint>

#include "foundation/log_limit.h"
#include "foundation/timer.h"
#include "transport/protocol.h"

class Tpkt_protocol : public Protocol {
public:
  enum State { idle = 0, wait_r = 1, len_1 = 2, len_2 = 3, body = 4, ignore = 5 };

  static constexpr unsigned header_size = 4;
  static constexpr unsigned max_payload = 0xFFFF - header_size;
  static constexpr unsigned frame_timeout_ms = 3000;
  // While out of step, the counts of skipped input are written at the end of
  // a read once this much was skipped since the last line, and when the
  // stream is back in step.
  static constexpr unsigned report_after = 4096;

  Tpkt_protocol();
  ~Tpkt_protocol() override;

  Protocol_name const& name() const override { return fname; }
  void local_prepare_head(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;
  void receive(Packet& p) override;

  // Frames p and passes it down; false (with a log line) for a payload the
  // length field cannot carry or a packet without head room for the header.
  bool send(Packet& p);

  void on_timeout(Timer*);
  void reset();
  void next_state(State s) { state = s; }

  State get_state() const { return state; }
  bool timer_running() const { return timer.is_running(); }

private:
  // Bad input: the first octet or header of a resynchronisation is logged
  // on its own, the rest counted. True for the first.
  bool first_of_resync();
  void skip_garbage();
  void skip_header();
  void back_in_step();
  // Writes the counts: during a read only once report_after octets were
  // skipped since the last line, so that the log stays far smaller than
  // what a peer sends, however it is cut into reads; back in step as the
  // limiter lets it; always when the layer goes down.
  enum Report { during_read, back_in_step_now, going_down };
  void report_skipped(Report when);
  void start_frame();
  void deliver();

  Protocol_name_str fname;
  uint32_t remaining;
  Timer timer;
  State state;
  Packet frame;
  // Resynchronisation, from the first bad octet or header to the next good
  // header.
  bool resyncing;
  uint32_t skipped;
  uint32_t bad_headers;
  uint32_t skipped_input;
  // Moves on every reset, so that a receive loop notices when the owner took
  // the layer down from inside a delivery.
  uint32_t generation;
  // Every line that the peer's input can bring about.
  Log::Limiter log_limit;
};
