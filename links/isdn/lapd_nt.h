#pragma once
// The network side of a basic-rate D channel with up to eight terminals on
// one bus (point-to-multipoint). The link assigns TEIs from 64, checks them
// every 60 s, hands each received frame to the terminal of its TEI, and
// routes layer-3 messages from above to the terminal that holds their call;
// a SETUP goes to all terminals as a UI frame on the group TEI. Each terminal
// runs a reduced multiple-frame procedure of its own.
//
// It is the only layer of its slot's family: frames come in through receive
// and leave through transmit; layer-3 messages come down through message and
// go up through on_message.
#include <cstdint>
#include <iosfwd>

#include "foundation/containers.h"
#include "foundation/log_limit.h"
#include "foundation/timer.h"
#include "links/isdn/lapd.h"
#include "transport/packet.h"
#include "transport/protocol.h"

namespace ISDN {

class LAPD_NT;

class LAPD_NT_user {
public:
  enum State { unassigned = 0, assigned = 1, wait_answer = 2 };

  LAPD_NT_user() = default;
  ~LAPD_NT_user();
  LAPD_NT_user(LAPD_NT_user const&) = delete;
  LAPD_NT_user& operator=(LAPD_NT_user const&) = delete;

  void set_lapd(LAPD_NT* lapd) { lapd_ = lapd; }
  bool is_check() const { return check_; }
  unsigned char get_Tei() const { return tei_; }
  void set_Tei(unsigned char tei) { tei_ = tei; }
  bool is_assigned() const { return state_ != unassigned; }
  void set_log(unsigned level) { log_ = level; }

  void assign();
  void unassign();
  void checking();
  // One frame for this terminal, address first; cr is the address's C/R bit.
  void receive(Packet& frame, bool cr);
  // Takes the layer-3 message when this terminal holds its call.
  bool message(Packet& msg);
  // Queues a layer-3 message for this terminal, whatever its call.
  void send(Packet const& msg);

  // Calls this terminal is part of: the call reference value and whether
  // the terminal chose it (so that a network call and a terminal call with
  // equal values stay apart).
  bool holds_call(uint8_t value, bool terminal_chose) const;

  void PutHeader(std::ostream& os) const;

  // For tests and traces.
  State state() const { return State(state_); }
  bool is_busy() const { return busy_; }
  unsigned vs() const { return unsigned(vs_); }
  unsigned va() const { return unsigned(va_); }
  unsigned vr() const { return unsigned(vr_); }
  unsigned outstanding() const { return ack_.count(); }
  unsigned waiting() const { return out_.count(); }
  unsigned calls() const { return ncalls_; }
  uint16_t ri() const { return ri_; }
  void set_ri(uint16_t ri) { ri_ = ri; }

  // How long the terminal has to answer an identity check.
  static constexpr unsigned check_ms = 2000;
  static constexpr unsigned max_calls = 8;

private:
  void on_I(Packet& frame, Seq ns, Seq nr, bool p);
  void on_RR(Seq nr);
  void on_RNR(Seq nr);
  void on_REJ(Seq nr);
  void on_SABME(bool p);
  void on_DISC(bool p);
  void on_DM();
  void on_FRMR();
  void on_XID();
  void on_timer();
  // False on an N(R) outside V(A)..V(S).
  bool ack_queue(Seq nr, bool& moved);
  void retransmit();
  void set_busy();
  void set_unbusy();
  // Sends what the window and the busy condition allow.
  void pump();
  // After an acknowledgement: idle when nothing is outstanding, else waiting
  // for the answer (a fresh T200 when the window moved).
  void settle(bool moved);
  void arm(unsigned ms);

  void tx_U(uint8_t code, bool pf, bool command);
  void tx_S(uint8_t code, bool pf, bool command);
  bool tx_I(Packet const& msg, Seq nr, Seq ns);

  // Call references seen in a layer-3 message in either direction.
  void learn(Packet const& msg, bool from_terminal);
  void forget_calls() { ncalls_ = 0; }

  bool check_ = false;
  LAPD_NT* lapd_ = nullptr;
  Seq vr_, va_, vs_;
  uint8_t tei_ = 0;
  int32_t state_ = unassigned;
  Timer timer_;
  Timer check_timer_;
  int32_t retries_ = 0;
  struct Call {
    uint8_t value;
    bool terminal_chose;
  };
  Call calls_[max_calls] = {};
  unsigned ncalls_ = 0;
  bool busy_ = false;
  uint32_t log_ = 0;
  CleanQueue<Packet, Q921::out_capacity> out_;  // not yet sent: window full or terminal busy
  CleanQueue<Packet, Q921::k> ack_;             // sent and not yet acknowledged, oldest first
  uint16_t ri_ = 0;
};

class LAPD_NT : public Protocol {
public:
  LAPD_NT();
  ~LAPD_NT() override;

  void set_log(unsigned level);

  Protocol_name const& name() const override { return name_; }
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;  // layer-3 message from above
  void receive(Packet& p) override;  // frame from the D channel

  virtual void PutHeader(std::ostream& os) const;

  void send_to_layer1(Packet& frame) { transmit(frame); }
  void send_to_layer3(Packet& msg) { on_message(msg); }
  void tx_identity(uint16_t ri, unsigned ai, uint8_t type);
  // A fresh frame buffer; false (and one log line) when the pool is empty.
  bool new_frame(Packet& frame);

  LAPD_NT_user* find_Tei(unsigned char tei);
  LAPD_NT_user* find_free_Tei(unsigned char ai);
  void check_all_Tei();

  // What bounds the log lines of the link and its users.
  Log::Limiter& log_limiter() const { return lines_; }

  // For tests.
  LAPD_NT_user& user(unsigned i) { return users_[i]; }
  unsigned log_level() const { return log_; }

  static constexpr unsigned n_users = 8;
  static constexpr unsigned check_period_ms = 60000;
  static constexpr unsigned first_auto_tei = 64;
  static constexpr unsigned last_auto_tei = 126;
  // The shortest layer-3 message it sends (a call reference to route it by)
  // and the longest a frame carries (N201).
  static constexpr unsigned min_message = 4;
  static constexpr unsigned max_message = Q921::n201;
  static bool fits(std::size_t octets) { return octets >= min_message && octets <= max_message; }

private:
  void on_tei_procedure(Packet const& frame);
  void remove_twice(unsigned ai);

  Timer timer_;
  LAPD_NT_user users_[n_users];
  uint32_t log_ = 0;
  Protocol_name_str name_{"ISDN::LAPD_NT"};
  // The line may bring log lines about at any rate: the link and its users
  // together write a few a second and count the rest.
  mutable Log::Limiter lines_;
};

}  // namespace ISDN
