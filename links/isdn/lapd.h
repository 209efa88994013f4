#pragma once
// The Q.921 data link entity of one ISDN D channel (modulo 128, window 7),
// user or network side, as one layer of a protocol stack. Frames come from
// an HDLC channel through the HDLC::Notify side and leave through the
// GenericHDLC given to hdlc(); layer-3 messages go up through on_message and
// come down through message.
//
// A primary-rate link works with the fixed TEI 0 and SAPI 0 it starts with.
// A basic-rate link (change_to_bri) runs the TEI management of Q.921: on the
// user side it asks for a TEI before its first establishment, answers
// checks and obeys removals; both sides pass UI unit data up.
#include <cstdint>
#include <iostream>
#include <string>

#include "foundation/containers.h"
#include "foundation/log_limit.h"
#include "foundation/timer.h"
#include "hardware/hdlc.h"
#include "links/isdn/q921_frame.h"
#include "messages/ACP.h"
#include "transport/packet.h"
#include "transport/protocol.h"

namespace ISDN {

struct Side {
  enum type { user = 0, network = 1 };
};

using Seq = Cyclic<unsigned int, 127u>;

// The Q.921 state variables, copied whole into every status report.
struct LAPDFullState {
  // The Q.921 link states, numbered as traces, status texts and the link
  // information give them.
  enum State : uint32_t {
    tei_unassigned = 0,
    assign_awaiting_tei = 1,
    establish_awaiting_tei = 2,
    tei_assigned = 3,
    awaiting_establishment = 4,
    awaiting_release = 5,
    multiple_frame_established = 6,
    timer_recovery = 7,
  };

  State state = tei_assigned;
  uint32_t own_tei = 0;
  uint32_t own_sapi = 0;
  uint32_t peer_tei = 0;
  uint32_t peer_sapi = 0;
  uint32_t rc = 0;  // retransmission counter
  bool peer_busy = false;
  bool own_busy = false;  // nothing raises it yet
  bool reject_exception = false;
  bool l3_initiated = false;
  bool establishable = true;
  bool queued_up = false;  // I frames may be waiting to go out
  bool retr_rq = false;    // retransmit every unacknowledged I frame
  bool ack_rq = false;     // an acknowledgement is owed to the peer
  bool t200_running = false;
  bool t202_running = false;
  bool t203_running = false;
  Seq vs, va, vr;
};

// "TEI unassigned" ... "Timer recovery"; "(unknown)" past 7.
char const* statetext(unsigned char state);

std::ostream& operator<<(std::ostream& os, LAPDFullState const& s);
std::ostream& operator<<(std::ostream& os, Side::type side);

class LAPD : public Protocol, private LAPDFullState, public HDLC::Notify {
public:
  class Notify {
  public:
    virtual ~Notify();
    // The flow status changed; GetFlowStatus() tells the new one.
    virtual void OnLAPD_FlowStatusChange(LAPD* link) = 0;
  };

  struct FlowStatus {
    enum Type { no_congestion = 0, congestion = 1 };
  };

  // MDL-ERROR indications, one bit each, as error_text numbers them.
  struct MdlError {
    enum type : unsigned {
      supervisory_f1 = 1,
      dm_f1 = 2,
      ua_f1 = 4,
      ua_f0 = 8,
      dm_f0 = 16,
      peer_reestablishment = 32,
      sabme_retries = 64,
      disc_retries = 128,
      enquiry_retries = 256,
      nr_error = 512,
      frmr = 1024,
      undefined_frame = 2048,
      i_field_not_permitted = 4096,
      wrong_size = 8192,
      n201_error = 16384,
      tei_denied = 32768,
    };
  };

  struct Stats {
    uint32_t t200_expiries = 0;
    uint32_t t202_expiries = 0;
    uint32_t t203_expiries = 0;
    uint32_t errors = 0;  // frames dropped for their size
    uint32_t retrains = 0;
    uint32_t out_overflows = 0;
    uint32_t ack_overflows = 0;
    uint32_t transmitted = 0;  // calls of message
    uint32_t received = 0;     // in-sequence I frames passed up
    uint32_t empty_messages = 0;
    uint32_t rejected = 0;
    uint32_t bad_confirmations = 0;
    // Not reported: frames whose SAPI is not the link's own (they still go up).
    uint32_t other_sapi = 0;
  };

  // An error or release reason with the state variables of its moment.
  class Status : public Protocol_status_error, private LAPDFullState {
  public:
    Status(LAPD const& link, std::string const& text);
    void out(std::ostream& os) const override;
    LAPDFullState const& snapshot() const { return *this; }
  };

  LAPD(Side::type side, unsigned log);
  ~LAPD() override;

  // Configuration, before activation.
  void set_side(Side::type side);
  void set_linkno(unsigned linkno) { linkno_ = linkno; }
  void set_log(unsigned log) { log_ = log; }
  void hdlc(GenericHDLC* device) { device_ = device; }
  void BindNotify(Notify* notify) { notify_ = notify; }
  // Basic rate: TEI management on. A user-side link not yet established has
  // no TEI until one is assigned, so its first establishment asks for one.
  void change_to_bri();
  bool is_bri() const { return bri_; }

  FlowStatus::Type GetFlowStatus() const { return flow_; }
  // Fills the record, the side included; 1 when it differs from the
  // one last reported, which it then replaces, 0 when equal.
  int GetInfo(ACP::IsdnLinkInfo& info) const;

  Protocol_name const& name() const override { return name_; }
  void local_prepare_head(Packet& p) override;
  void local_activate() override;    // DL-ESTABLISH request
  void local_deactivate() override;  // DL-RELEASE request
  void message(Packet& p) override;  // DL-DATA request
  void receive(Packet& p) override;  // one frame, address first

  virtual void PutHeader(std::ostream& os) const;

  void on_hdlc_receive(Packet& frame) override;
  // The channel has closed itself: the link is released at once.
  void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
  // The channel under the link goes away (closed by its owner, or after an
  // error): the link stops now, without a frame, its timers stopped and its
  // queues emptied, and reports its release once. A link with a TEI keeps
  // it; one still waiting for its TEI gives up the request.
  void on_channel_closed();
  void on_hdlc_ready() override;

  // Starts (or restarts) the user side's TEI assignment.
  void BeginTeiAssignProcedure();
  // MDL-ASSIGN request: the TEI to use from now on.
  virtual void mdl_assign(unsigned char tei);
  // MDL-ASSIGN indication hook; nothing to do here.
  virtual void on_mdl_assign();
  // MDL-REMOVE request: the TEI is gone.
  virtual void mdl_remove();
  // MDL-ERROR indication (an MdlError): the code's text goes up as a status.
  virtual void on_error(unsigned code);
  void on_error(char const* text);
  static char const* error_text(unsigned code);

  Protocol_status status() const;
  // Multiple-frame operation (established, or in timer recovery).
  bool established() const { return state == multiple_frame_established || state == timer_recovery; }
  // An establishment under way: SABME sent, or the TEI it waits for asked.
  bool establishing() const { return state == establish_awaiting_tei || state == awaiting_establishment; }
  char const* state_text() const { return statetext(static_cast<unsigned char>(state)); }
  void show_stat() const;

  // For traces and tests.
  Stats const& statistics() const { return stats_; }
  LAPDFullState const& full_state() const { return *this; }
  unsigned queued_out() const { return out_.count(); }
  unsigned queued_ack() const { return ack_.count(); }
  Side::type side() const { return side_; }
  uint16_t tei_request_ri() const { return ri_; }
  // The reference numbers of TEI requests come from a generator of their own,
  // seeded once per process; tests may seed it.
  static uint16_t next_ri();
  static void seed_ri(uint32_t seed);

  static constexpr unsigned congestion_on = 88;   // more than this queued
  static constexpr unsigned congestion_off = 65;  // fewer than this queued
  // The longest message an I frame carries (N201).
  static constexpr unsigned max_message = Q921::n201;
  // What message() sends whole: an empty message would only be counted.
  static bool fits(std::size_t octets) { return octets >= 1 && octets <= max_message; }

private:
  // Frames.
  bool xmit(Packet& frame);
  bool tx_cmd_resp(uint8_t code, bool pf, bool command);
  bool tx_cmd(uint8_t code, bool pf) { return tx_cmd_resp(code, pf, true); }
  bool tx_response(uint8_t code, bool pf) { return tx_cmd_resp(code, pf, false); }
  bool tx_iframe(Packet const& msg, bool p);
  // A fresh frame buffer with the head room of the layers below; false (and
  // one log line) when the pool is empty.
  bool new_frame(Packet& frame);
  void trace_frame(char const* what, Packet const& frame, bool network_to_user) const;
  void wrong_size();

  // Received frames.
  void on_SABME(bool command, bool pf);
  void on_DISC(bool command, bool pf);
  void on_UA(bool command, bool pf);
  void on_DM(bool command, bool pf);
  void on_FRMR(bool command, bool pf);
  void on_S(unsigned type, bool command, bool pf, Seq nr);
  void on_ICOM(Packet& info, bool p, Seq ns, Seq nr);
  void on_UI(Packet& info);
  void tx_identity(uint16_t ri, int ai, unsigned char type);
  void nr_error_recovery();

  // Shared steps.
  void establish_dl();
  void clear_exception();
  void retransmission(Seq nr);
  void tx_enquiry();
  void tx_enquiry_response();
  void discard_queue();
  void change_state(State s);
  bool nr_valid(Seq nr) const { return (va <= nr) <= vs; }

  // Timers. T200, T202 and T203 have a timer each, and only the one started
  // last is armed: Q.921 never runs two at once, and after a misuse (which is
  // reported) the link goes on with the timer it started last. Stopping any
  // of them disarms the one that is armed.
  struct LinkTimer {
    char const* name;
    unsigned ms;
    void (LAPD::*expiry)();
    bool LAPDFullState::*running;
    Timer LAPD::*timer;
  };
  static LinkTimer const T200, T202, T203;
  void start(LinkTimer const& t);
  void stop(LinkTimer const& t);
  void disarm();
  void misuse(char const* what, LinkTimer const& t, LinkTimer const& other);
  void on_T200();
  void on_T202();
  void on_T203();

  // Pending work after every event.
  void local_events();
  void ack_queue_refresh();
  void queued_up_run();
  void ack_pending();

  // A log line of the link. The line and the controller may bring them about
  // at any rate: a link writes a few a second and counts the rest.
  Log::Limiter::Line logline() const { return lines_.line(std::clog); }

  void change_flowstatus(FlowStatus::Type f);
  void report_congestion() { change_flowstatus(FlowStatus::congestion); }
  void release_congestion() { change_flowstatus(FlowStatus::no_congestion); }

  Side::type side_;
  Stats stats_;
  Notify* notify_ = nullptr;
  FlowStatus::Type flow_ = FlowStatus::no_congestion;
  mutable ACP::IsdnLinkInfo info_;
  uint32_t linkno_ = 0;
  uint32_t log_;
  bool bri_ = false;
  uint16_t ri_ = 0;  // reference number of the current TEI request
  Timer t200_, t202_, t203_;
  CleanQueue<Packet, Q921::out_capacity> out_;
  CleanQueue<Packet, Q921::k> ack_;
  Protocol_name_str name_{"ISDN::LAPD"};
  GenericHDLC* device_ = nullptr;
  mutable Log::Limiter lines_;
};

std::ostream& operator<<(std::ostream& os, LAPD::Stats const& s);

}  // namespace ISDN
