#include "links/isdn/lapd.h"

#include <chrono>
#include <cstring>
#include <iostream>
#include <new>
#include <random>

#include "foundation/ext_text.h"
#include "links/isdn/logbuf.h"
#include "links/isdn/q921_frame.h"
#include "links/isdn/q931_trace.h"

namespace ISDN {

namespace Q = Q921;

namespace {

// S frame codes of tx_cmd_resp; the U codes are their control octets.
constexpr uint8_t code_rr = 0, code_rnr = 1, code_rej = 2;

char const* const reason_n200 = "link error (T200 expired N200 times)";

// TEI management: the information field of a UI frame on SAPI 63, TEI 127.
constexpr uint8_t tei_entity = 0x0F;
constexpr unsigned tei_message_size = 5;
constexpr unsigned group_ai = 127;
enum TeiType : uint8_t {
  identity_request = 1,
  identity_assigned = 2,
  identity_denied = 3,
  identity_check_request = 4,
  identity_check_response = 5,
  identity_remove = 6,
};

// Not the C library's rand(): other code may reseed that one, and terminals
// on one bus that reseed alike would then ask with equal reference numbers.
std::minstd_rand& ri_generator() {
  static std::minstd_rand gen([] {
    uint32_t seed = uint32_t(std::chrono::steady_clock::now().time_since_epoch().count());
    try {
      seed ^= std::random_device{}();
    } catch (...) {
      // The clock alone will do.
    }
    return seed ? seed : 1u;
  }());
  return gen;
}

}  // namespace

LAPD::Notify::~Notify() = default;

LAPD::LAPD(Side::type side, unsigned log) : side_(side), log_(log) { discard_queue(); }

LAPD::~LAPD() = default;

void LAPD::set_side(Side::type side) {
  side_ = side;
  // Only the user side goes without a TEI; the network side keeps its own.
  // Configuration picks the state the link starts from: no change to trace.
  if (bri_ && side_ == Side::network && state == tei_unassigned) state = tei_assigned;
}

void LAPD::change_to_bri() {
  bri_ = true;
  // Several terminals on one bus must never share the TEI 0 a link starts
  // with: the first establishment asks for a TEI instead.
  if (side_ == Side::user && state == tei_assigned) state = tei_unassigned;
}

uint16_t LAPD::next_ri() { return uint16_t(ri_generator()() & 0xFFFF); }

void LAPD::seed_ri(uint32_t seed) { ri_generator().seed(seed ? seed : 1u); }

void LAPD::local_prepare_head(Packet& p) { p.reserve_head(Q::is_header_size); }

// ------------------------------------------------------------------ frames

bool LAPD::xmit(Packet& frame) {
  if (!device_) {
    if (log_ > 3) logline() << ext::header(this) << "no HDLC device attached!!!" << std::endl;
    return false;
  }
  if (device_->hdlc_transmit(frame)) {
    if (log_ > 2) trace_frame("tx: ", frame, side_ == Side::network);
    return true;
  }
  logline() << ext::header(this) << "tx full" << std::endl;
  return false;
}

void LAPD::trace_frame(char const* what, Packet const& frame, bool network_to_user) const {
  dlogframe(frame.cdata(), frame.length(), network_to_user ? 1 : 0, logbuf);
  logline() << ext::header(this) << what << logbuf << std::endl;
}

bool LAPD::new_frame(Packet& frame) {
  if (!frame.try_reserve_head(0)) {
    logline() << ext::header(this) << "no packet buffer: frame not sent" << std::endl;
    return false;
  }
  prepare_head(frame);
  return true;
}

bool LAPD::tx_cmd_resp(uint8_t code, bool pf, bool command) {
  Packet frame;
  if (!new_frame(frame)) return false;
  // The user side's commands carry C/R 0, the network side's 1.
  frame.put8(Q::address1(own_sapi, command != (side_ == Side::user)));
  frame.put8(Q::address2(own_tei));
  switch (code) {
    case code_rr:
    case code_rnr:
    case code_rej:
      frame.put8(uint8_t(code * 4 + 1));
      frame.put8(uint8_t(unsigned(vr) << 1 | (pf ? 1 : 0)));
      break;
    case Q::u_ui:
    case Q::u_dm:
    case Q::u_disc:
    case Q::u_ua:
    case Q::u_sabme:
    case Q::u_frmr:
    case Q::u_xid:
      frame.put8(uint8_t(code | (pf ? Q::u_pf_bit : 0)));
      break;
    default:
      break;
  }
  return xmit(frame);
}

bool LAPD::tx_iframe(Packet const& msg, bool p) {
  Packet frame;
  if (!new_frame(frame)) return false;
  unsigned const len = msg.length();
  if (frame._headroom() < Q::is_header_size || len > frame.tailroom()) {
    logline() << ext::header(this) << "message of " << len << " octets does not fit a frame" << std::endl;
    return false;
  }
  // The queued message stays as it is; the frame is a copy with its header.
  if (len) std::memcpy(frame.put(len), msg.cdata(), len);
  uint8_t* h = frame.push(Q::is_header_size);
  h[0] = Q::address1(own_sapi, side_ == Side::network);
  h[1] = Q::address2(own_tei);
  h[2] = uint8_t(unsigned(vs) << 1);
  h[3] = uint8_t(unsigned(vr) << 1 | (p ? 1 : 0));
  return xmit(frame);
}

// --------------------------------------------------------------- reception

void LAPD::on_hdlc_receive(Packet& frame) { receive(frame); }

void LAPD::on_hdlc_ready() { local_events(); }

void LAPD::on_hdlc_error(HDLC::Notify::Cause::Type cause) {
  logline() << ext::header(this) << "HDLC channel error " << int(cause) << std::endl;
  on_channel_closed();
}

void LAPD::on_channel_closed() {
  // Waiting for T200 or T203 would only delay what the layer above must
  // learn now, and a frame they sent would reach whatever channel comes next.
  Protocol_status st(state == awaiting_release ? static_cast<Internal_protocol_status*>(
                                                     new Protocol_status_success(this, "success (deactivated locally)"))
                                               : new Status(*this, "link error (channel closed)"));
  disarm();
  t200_running = t202_running = t203_running = false;
  discard_queue();
  clear_exception();
  rc = 0;
  retr_rq = queued_up = false;
  if (state == assign_awaiting_tei || state == establish_awaiting_tei)
    change_state(tei_unassigned);
  else if (state > tei_assigned)
    change_state(tei_assigned);
  on_deactivate(st);
}

void LAPD::wrong_size() {
  ++stats_.errors;
  on_error(MdlError::wrong_size);
}

void LAPD::receive(Packet& p) {
  unsigned const n = p.length();
  if (n < 2) return;
  if (log_ > 2) trace_frame("rx:", p, side_ == Side::user);
  uint8_t const a1 = p.cdata()[Q::addr_sapi_octet];
  uint8_t const a2 = p.cdata()[Q::addr_tei_octet];
  bool const cr = (a1 & Q::cr_bit) != 0;
  bool const command = side_ == Side::user ? cr : !cr;
  peer_sapi = Q::sapi_of(a1);
  if (a1 & Q::ea0_bit) return;
  peer_tei = a2;
  if (!(a2 & Q::ea1_bit)) return;
  peer_tei = Q::tei_of(a2);
  if (bri_ && side_ == Side::user && peer_tei != Q::group_tei) {
    // Without a TEI only group frames are for this link.
    if (peer_tei != own_tei || state < tei_assigned) return;
  }

  // Octets the frame does not have are never read.
  if (n < Q::u_header_size) {
    wrong_size();
    return;
  }
  uint8_t const c1 = p.cdata()[Q::control_octet];
  if (!Q::is_u(c1) && n < Q::is_header_size) {
    wrong_size();
    return;
  }
  // Q.921 allows no more than N201 octets of layer 3: a longer frame is
  // dropped whole, never passed up.
  unsigned const info = Q::is_i(c1) ? n - Q::is_header_size : n - Q::u_header_size;
  if ((Q::is_i(c1) || (Q::is_u(c1) && Q::u_code(c1) == Q::u_ui)) && info > Q::n201) {
    ++stats_.errors;
    on_error(MdlError::n201_error);
    return;
  }
  if (peer_sapi != own_sapi && !(bri_ && peer_sapi == Q::sapi_tei_management)) {
    ++stats_.other_sapi;
    if (log_ > 0 || (stats_.other_sapi & (stats_.other_sapi - 1)) == 0)
      logline() << ext::header(this) << "frame for SAPI " << peer_sapi << " (" << stats_.other_sapi << " so far)"
                << std::endl;
  }

  if (Q::is_s(c1)) {
    uint8_t const c2 = p.cdata()[Q::control2_octet];
    on_S(Q::s_type(c1), command, Q::pf_of(c2) != 0, Seq(Q::seq_of(c2)));
  } else if (Q::is_i(c1)) {
    uint8_t const c2 = p.cdata()[Q::control2_octet];
    Seq const ns(Q::seq_of(c1)), nr(Q::seq_of(c2));
    bool const pf = Q::pf_of(c2) != 0;
    try {
      p.pull(Q::is_header_size);
    } catch (std::bad_alloc const&) {
      // Only a frame shared with someone else needs a copy here.
      logline() << ext::header(this) << "no packet buffer: frame dropped" << std::endl;
      return;
    }
    on_ICOM(p, pf, ns, nr);
  } else {
    bool const pf = Q::u_pf(c1) != 0;
    switch (Q::u_code(c1)) {
      case Q::u_disc:
        on_DISC(command, pf);
        break;
      case Q::u_ui:
        try {
          p.pull(Q::u_header_size);
        } catch (std::bad_alloc const&) {
          logline() << ext::header(this) << "no packet buffer: frame dropped" << std::endl;
          return;
        }
        on_UI(p);
        break;
      case Q::u_dm:
        on_DM(command, pf);
        break;
      case Q::u_sabme:
        on_SABME(command, pf);
        break;
      case Q::u_ua:
        on_UA(command, pf);
        break;
      case Q::u_frmr:
        on_FRMR(command, pf);
        break;
      default:
        break;
    }
  }
  local_events();
}

namespace {
char const* cmd_word(bool command) { return command ? "command" : "response"; }
}  // namespace

void LAPD::on_SABME(bool command, bool pf) {
  if (log_ > 3) logline() << ext::header(this) << "SABME " << cmd_word(command) << std::endl;
  // Q.921 has the frames the peer did not acknowledge dropped here; layer 3
  // learns it from the DL-ESTABLISH indication that follows.
  if ((state == multiple_frame_established || state == timer_recovery) && vs != va)
    logline() << ext::header(this) << "re-established by the peer: " << unsigned(vs - va)
              << " unacknowledged messages dropped" << std::endl;
  vs = va = vr = 0;
  ack_.clear();
  switch (state) {
    case tei_assigned:
      if (establishable) {
        tx_response(Q::u_ua, pf);
        clear_exception();
        start(T203);
        change_state(multiple_frame_established);
        on_activate();
      } else {
        tx_response(Q::u_dm, pf);
      }
      break;
    case awaiting_establishment:
      tx_response(Q::u_ua, pf);
      break;
    case awaiting_release:
      tx_response(Q::u_dm, pf);
      break;
    case multiple_frame_established:
    case timer_recovery:
      tx_response(Q::u_ua, pf);
      clear_exception();
      on_error(MdlError::peer_reestablishment);
      change_state(multiple_frame_established);
      on_activate();
      stop(T200);
      start(T203);
      break;
    default:
      break;
  }
}

void LAPD::on_DISC(bool command, bool pf) {
  if (log_ > 3) logline() << ext::header(this) << "DISC " << cmd_word(command) << std::endl;
  switch (state) {
    case tei_assigned:
    case awaiting_establishment:
      tx_response(Q::u_dm, pf);
      break;
    case awaiting_release:
      tx_response(Q::u_ua, pf);
      break;
    case multiple_frame_established:
    case timer_recovery: {
      Protocol_status st(new Status(*this, "remote error (DISC received)"));
      discard_queue();
      tx_response(Q::u_ua, pf);
      stop(T200);
      if (state == multiple_frame_established) stop(T203);
      change_state(tei_assigned);
      on_deactivate(st);
      break;
    }
    default:
      break;
  }
}

void LAPD::on_UA(bool command, bool pf) {
  if (log_ > 3) logline() << ext::header(this) << "UA " << cmd_word(command) << std::endl;
  // Only the answer to our SABME or DISC starts the numbering again: a late
  // one (the answer to a SABME sent again) in data transfer is merely
  // reported, and what went out since stays numbered and kept.
  if ((state == awaiting_establishment || state == awaiting_release) && pf) {
    vs = va = vr = 0;
    ack_.clear();
  }
  switch (state) {
    case tei_assigned:
    case multiple_frame_established:
    case timer_recovery:
      on_error(pf ? MdlError::ua_f1 : MdlError::ua_f0);
      break;
    case awaiting_establishment:
      if (!pf) {
        on_error(MdlError::ua_f0);
        break;
      }
      change_state(multiple_frame_established);
      stop(T200);
      start(T203);
      on_activate();
      break;
    case awaiting_release:
      if (!pf) {
        on_error(MdlError::ua_f0);
        break;
      }
      stop(T200);
      change_state(tei_assigned);
      on_deactivate(Protocol_status(new Protocol_status_success(this, "success (UA received)")));
      break;
    default:
      break;
  }
}

void LAPD::on_DM(bool command, bool pf) {
  if (log_ > 3) logline() << ext::header(this) << "DM " << cmd_word(command) << std::endl;
  bool const response_f1 = !command && pf;
  switch (state) {
    case tei_assigned:
      if (!command && !pf && establishable) {
        establish_dl();
        l3_initiated = true;
        change_state(awaiting_establishment);
      }
      break;
    case awaiting_establishment:
    case awaiting_release:
      if (response_f1) {
        Protocol_status st(new Status(*this, "error (DM received)"));
        if (state == awaiting_establishment) discard_queue();
        stop(T200);
        change_state(tei_assigned);
        on_deactivate(st);
      }
      break;
    case multiple_frame_established:
      if (response_f1) {
        on_error(MdlError::dm_f1);
        break;
      }
      on_error(MdlError::dm_f0);
      establish_dl();
      l3_initiated = false;
      change_state(awaiting_establishment);
      break;
    case timer_recovery:
      on_error(response_f1 ? MdlError::dm_f1 : MdlError::dm_f0);
      establish_dl();
      l3_initiated = false;
      change_state(awaiting_establishment);
      break;
    default:
      break;
  }
}

void LAPD::on_FRMR(bool command, bool pf) {
  if (log_ > 3) logline() << ext::header(this) << "FRMR " << cmd_word(command) << " pf=" << pf << std::endl;
  if (state != multiple_frame_established && state != timer_recovery) return;
  on_error(MdlError::frmr);
  establish_dl();
  l3_initiated = false;
  change_state(awaiting_establishment);
}

// UI frames carry TEI management and unit data on basic-rate links only.
void LAPD::on_UI(Packet& info) {
  if (!bri_ || info.empty()) return;
  if (log_ > 3) logline() << ext::header(this) << "on_UI()" << std::endl;
  uint8_t const* f = info.cdata();
  if (f[0] != tei_entity) {
    if (side_ == Side::user) {
      if (state == awaiting_establishment) change_state(tei_assigned);
      if (state == tei_assigned) local_activate();
    }
    on_message(info);
    return;
  }
  if (info.length() < tei_message_size) return;
  uint16_t const ri = uint16_t(f[1] | f[2] << 8);
  uint8_t const type = f[3];
  unsigned const ai = f[4] >> 1;
  bool const ext_bit = (f[4] & 1) != 0;
  if (log_ > 3) logline() << ext::header(this) << "on_UI() type=" << unsigned(type) << " Ai=" << ai << std::endl;
  switch (type) {
    case identity_assigned:
      // Ai 127 is no TEI, and an Ai octet without its E bit is malformed.
      if ((state == assign_awaiting_tei || state == establish_awaiting_tei) && ri == ri_ && ai != group_ai && ext_bit) {
        stop(T202);
        // An establishment that follows runs its own T200; a link merely
        // assigned (state 3) has nothing to time, and a T200 left running
        // would make its next establishment report a timer misuse.
        mdl_assign(static_cast<unsigned char>(ai));
      }
      break;
    case identity_denied:
      // An establishment waiting for its TEI (state 2) is refused alike.
      if ((state == assign_awaiting_tei || state == establish_awaiting_tei) && ri == ri_) {
        if (ai == group_ai)
          logline() << ext::header(this) << "ASP returned: All TEI's used" << std::endl;
        else
          logline() << ext::header(this) << "ASP returned: TEI " << ai << " denied" << std::endl;
        on_error(MdlError::tei_denied);
      }
      break;
    case identity_check_request:
      if (state >= tei_assigned && state <= timer_recovery && (ai == group_ai || ai == own_tei))
        tx_identity(ri_, int(own_tei), identity_check_response);
      break;
    case identity_remove:
      // Removes come in pairs; a link without a TEI has nothing to remove
      // and its request is already on its way.
      if (state >= tei_assigned && (ai == group_ai || ai == own_tei)) {
        mdl_remove();
        BeginTeiAssignProcedure();
      }
      break;
    default:
      break;
  }
}

void LAPD::tx_identity(uint16_t ri, int ai, unsigned char type) {
  if (!bri_) return;
  Packet frame;
  if (!new_frame(frame)) return;
  frame.put8(side_ == Side::user ? 0xFC : 0xFE);
  frame.put8(Q::address2(Q::group_tei));
  frame.put8(Q::u_ui);
  frame.put8(tei_entity);
  frame.put8(uint8_t(ri & 0xFF));
  frame.put8(uint8_t(ri >> 8));
  frame.put8(type);
  frame.put8(uint8_t((unsigned(ai) << 1) | 1));
  xmit(frame);
}

void LAPD::BeginTeiAssignProcedure() {
  if (!bri_ || side_ != Side::user) return;
  // An establishment waiting for the TEI keeps waiting for it.
  if (state != establish_awaiting_tei) change_state(assign_awaiting_tei);
  on_mdl_assign();
  ri_ = next_ri();
  tx_identity(ri_, int(group_ai), identity_request);
  rc = 0;
  stop(T200);
  stop(T203);
  start(T202);
}

void LAPD::mdl_assign(unsigned char tei) {
  if (log_ > 1)
    logline() << ext::header(this) << "MDL-ASSIGN"
              << " (tei=" << unsigned(tei) << ")" << std::endl;
  own_tei = tei;
  if (state == establish_awaiting_tei) {
    establish_dl();
    l3_initiated = true;
    change_state(awaiting_establishment);
  } else {
    change_state(tei_assigned);
  }
}

void LAPD::mdl_remove() {
  logline() << ext::header(this) << "MDL-REMOVE" << std::endl;
  Protocol_status st(new Status(*this, "error (MDL-REMOVE received)"));
  switch (state) {
    case tei_assigned:
      discard_queue();
      change_state(tei_unassigned);
      break;
    case awaiting_establishment:
      discard_queue();
      stop(T200);
      change_state(tei_unassigned);
      on_deactivate(st);
      break;
    case awaiting_release:
      stop(T200);
      change_state(tei_unassigned);
      on_deactivate(st);
      break;
    case multiple_frame_established:
      discard_queue();
      stop(T200);
      stop(T203);
      change_state(tei_unassigned);
      on_deactivate(st);
      break;
    case timer_recovery:
      discard_queue();
      stop(T200);
      change_state(tei_unassigned);
      on_deactivate(st);
      break;
    default:
      break;
  }
}

void LAPD::on_S(unsigned type, bool command, bool pf, Seq nr) {
  static char const* const names[] = {"RR ", "RNR ", "REJ "};
  if (type > 2) return;
  if (log_ > 3) logline() << ext::header(this) << names[type] << cmd_word(command) << " pf=" << pf << std::endl;
  bool const rr = type == 0, rnr = type == 1, rej = type == 2;
  if (state == multiple_frame_established) {
    peer_busy = rnr;
    if (pf) {
      if (command) {
        tx_enquiry_response();
      } else if (rr) {
        if (log_ > 3) logline() << ext::header(this) << "receive RR (solicited response) in MFE_EST" << std::endl;
      } else {
        on_error(MdlError::supervisory_f1);
      }
    }
    if (!nr_valid(nr)) {
      nr_error_recovery();
      return;
    }
    if (rr) {
      if (nr == vs) {
        va = nr;
        stop(T200);
        start(T203);
      } else if (nr != va) {
        va = nr;
        start(T200);
      }
    } else if (rej) {
      stop(T200);
      start(T203);
      retransmission(nr);
    } else {
      va = nr;
      stop(T203);
      start(T200);
    }
  } else if (state == timer_recovery) {
    peer_busy = rnr;
    if (!command && pf) {
      if (!nr_valid(nr)) {
        nr_error_recovery();
        return;
      }
      if (rnr) {
        start(T200);
      } else {
        stop(T200);
        start(T203);
      }
      retransmission(nr);
      change_state(multiple_frame_established);
      return;
    }
    if (command && pf) tx_enquiry_response();
    if (nr_valid(nr)) {
      va = nr;
    } else {
      if (rr && log_ > 3) logline() << ext::header(this) << "receive RR with out of order N(R)" << std::endl;
      nr_error_recovery();
    }
  }
}

void LAPD::nr_error_recovery() {
  ++stats_.bad_confirmations;
  on_error(MdlError::nr_error);
  establish_dl();
  l3_initiated = false;
  change_state(awaiting_establishment);
}

void LAPD::on_ICOM(Packet& info, bool p, Seq ns, Seq nr) {
  if (log_ > 3)
    logline() << ext::header(this) << "I-Command"
              << " pf=" << p << std::endl;
  if (state != multiple_frame_established && state != timer_recovery) return;
  bool deliver = false;
  if (own_busy) {
    if (p) {
      tx_response(code_rnr, true);
      ack_rq = false;
    }
  } else if (ns != vr) {
    ++stats_.rejected;
    if (!reject_exception) {
      reject_exception = true;
      tx_response(code_rej, p);
      ack_rq = false;
    } else if (p) {
      tx_response(code_rr, true);
      ack_rq = false;
    }
  } else {
    ++vr;
    reject_exception = false;
    ++stats_.received;
    if (p) {
      ack_rq = false;
      tx_response(code_rr, true);
    } else {
      ack_rq = true;
    }
    deliver = true;
  }
  if (deliver) on_message(info);

  if (!nr_valid(nr)) {
    nr_error_recovery();
    return;
  }
  if (state == multiple_frame_established && !peer_busy) {
    if (nr == vs) {
      stop(T200);
      start(T203);
    } else if (nr != va) {
      start(T200);
    }
  }
  va = nr;
}

// ------------------------------------------------------------ shared steps

void LAPD::establish_dl() {
  clear_exception();
  rc = 0;
  tx_cmd(Q::u_sabme, true);
  stop(T203);
  start(T200);
}

void LAPD::clear_exception() { peer_busy = own_busy = reject_exception = ack_rq = false; }

void LAPD::retransmission(Seq nr) {
  va = nr;
  retr_rq = true;
  queued_up = true;
}

void LAPD::tx_enquiry() {
  if (log_ > 3) logline() << ext::header(this) << "tx_enquiry, ownBusy=" << own_busy << std::endl;
  tx_cmd(own_busy ? code_rnr : code_rr, true);
  ack_rq = false;
  start(T200);
}

void LAPD::tx_enquiry_response() {
  if (log_ > 3) logline() << ext::header(this) << "tx_enquiry_response" << std::endl;
  tx_response(own_busy ? code_rnr : code_rr, true);
  ack_rq = false;
}

void LAPD::discard_queue() {
  if (log_ > 0)
    logline() << ext::header(this) << "discard queue "
              << " OutData=" << out_.count() << " AckData=" << ack_.count() << std::endl;
  out_.clear();
  ack_.clear();
}

void LAPD::change_state(State s) {
  if (s == state) return;
  if (log_ > 1)
    logline() << "LAPD[" << linkno_ << "] : "
              << "change state \"" << statetext(static_cast<unsigned char>(state)) << "\" -> \"" << statetext(s) << "\""
              << std::endl;
  state = s;
  // Messages that waited for the establishment go out now, not with the
  // next one to come.
  if (s == multiple_frame_established && !out_.empty()) queued_up = true;
}

// -------------------------------------------------------- layer-3 requests

void LAPD::local_activate() {
  if (log_ > 0) logline() << ext::header(this) << "DL-ESTABLISH" << std::endl;
  switch (state) {
    case tei_unassigned:
      // The establishment follows the TEI assignment (basic rate only).
      rc = 0;
      change_state(establish_awaiting_tei);
      if (bri_ && side_ == Side::user)
        BeginTeiAssignProcedure();
      else
        on_mdl_assign();
      break;
    case assign_awaiting_tei:
      change_state(establish_awaiting_tei);
      break;
    case tei_assigned:
      establish_dl();
      l3_initiated = true;
      change_state(awaiting_establishment);
      break;
    case awaiting_establishment:
      discard_queue();
      l3_initiated = true;
      break;
    case multiple_frame_established:
    case timer_recovery:
      discard_queue();
      establish_dl();
      l3_initiated = true;
      change_state(awaiting_establishment);
      break;
    default:
      break;
  }
}

void LAPD::local_deactivate() {
  if (log_ > 1) logline() << ext::header(this) << "DL-RELEASE" << std::endl;
  Protocol_status st(new Protocol_status_success(this, "success (deactivated locally)"));
  switch (state) {
    case tei_assigned:
      on_deactivate(st);
      break;
    case awaiting_establishment:
      discard_queue();
      rc = 0;
      tx_cmd(Q::u_disc, true);
      stop(T203);
      stop(T202);
      start(T200);
      change_state(tei_assigned);
      on_deactivate(st);
      break;
    case multiple_frame_established:
    case timer_recovery:
      discard_queue();
      rc = 0;
      tx_cmd(Q::u_disc, true);
      if (state == multiple_frame_established) stop(T203);
      start(T200);
      change_state(awaiting_release);
      break;
    default:
      break;
  }
}

void LAPD::message(Packet& p) {
  ++stats_.transmitted;
  if (p.empty()) {
    ++stats_.empty_messages;
    return;
  }
  if (out_.count() >= Q::out_limit) {
    logline() << ext::header(this) << "discard outgoing message: buffer overflow" << std::endl;
    ++stats_.out_overflows;
  } else if (p.length() > max_message) {
    // It could never go out, and would hold up everything queued behind it.
    logline() << ext::header(this) << "discard outgoing message: " << p.length() << " octets" << std::endl;
  } else {
    if (log_ > 2 && out_.count() > Q::k)
      logline() << ext::header(this) << "outgoing queue size = " << out_.count()
                << " tx counter = " << stats_.transmitted << std::endl;
    if (log_ > 2) logline() << ext::header(this) << "add to tx queue: " << p.text() << std::endl;
    out_.put(p);
    queued_up = true;
  }
  // Data without a TEI asks for one; it goes out once the link is up.
  if (state == tei_unassigned) {
    if (bri_ && side_ == Side::user)
      BeginTeiAssignProcedure();
    else
      change_state(assign_awaiting_tei);
  }
  if (out_.count() > congestion_on) report_congestion();
  local_events();
}

// ------------------------------------------------------------------ timers

LAPD::LinkTimer const LAPD::T200 = {"T200", Q::t200_ms, &LAPD::on_T200, &LAPDFullState::t200_running, &LAPD::t200_};
LAPD::LinkTimer const LAPD::T202 = {"T202", Q::t202_ms, &LAPD::on_T202, &LAPDFullState::t202_running, &LAPD::t202_};
LAPD::LinkTimer const LAPD::T203 = {"T203", Q::t203_ms, &LAPD::on_T203, &LAPDFullState::t203_running, &LAPD::t203_};

void LAPD::misuse(char const* what, LinkTimer const& t, LinkTimer const& other) {
  on_error((std::string("trying to ") + what + " " + t.name + " while " + other.name + " running").c_str());
}

void LAPD::start(LinkTimer const& t) {
  for (LinkTimer const* other : {&T200, &T202, &T203})
    if (other != &t && this->*other->running) misuse("start", t, *other);
  // A running T200 is stopped first, with the reports of a stop; T202 and
  // T203 are armed again as they are.
  if (&t == &T200) stop(T200);
  disarm();
  this->*t.running = true;
  (this->*t.timer).set<LAPD>(t.ms, t.expiry, this);
}

void LAPD::stop(LinkTimer const& t) {
  if (!(this->*t.running)) return;
  for (LinkTimer const* other : {&T200, &T202, &T203})
    if (other != &t && this->*other->running) misuse("stop", t, *other);
  this->*t.running = false;
  disarm();
}

void LAPD::disarm() {
  t200_.reset();
  t202_.reset();
  t203_.reset();
}

void LAPD::on_T200() {
  t200_running = false;
  ++stats_.t200_expiries;
  switch (state) {
    case awaiting_establishment:
      if (rc == Q::n200) {
        Protocol_status st(new Status(*this, reason_n200));
        discard_queue();
        on_error(MdlError::sabme_retries);
        change_state(tei_assigned);
        on_deactivate(st);
      } else {
        ++rc;
        tx_cmd(Q::u_sabme, true);
        start(T200);
      }
      break;
    case awaiting_release:
      if (rc == Q::n200) {
        Protocol_status st(new Status(*this, reason_n200));
        on_error(MdlError::disc_retries);
        change_state(tei_assigned);
        on_deactivate(st);
      } else {
        ++rc;
        tx_cmd(Q::u_disc, true);
        start(T200);
      }
      break;
    case multiple_frame_established:
      rc = 0;
      tx_enquiry();
      ++rc;
      if (log_ > 1) logline() << ext::header(this) << "ack expired" << std::endl;
      change_state(timer_recovery);
      break;
    case timer_recovery:
      if (rc == Q::n200) {
        if (log_ > 1) logline() << ext::header(this) << "ack error !!!" << std::endl;
        on_error(MdlError::enquiry_retries);
        establish_dl();
        l3_initiated = false;
        change_state(awaiting_establishment);
      } else {
        if (log_ > 1) logline() << ext::header(this) << "ack timeout expired RC=" << rc << std::endl;
        tx_enquiry();
        ++rc;
      }
      break;
    default:
      break;
  }
  local_events();
}

void LAPD::on_T202() {
  t202_running = false;
  ++stats_.t202_expiries;
  if (state == assign_awaiting_tei || state == establish_awaiting_tei) {
    if (rc > Q::n202) {
      change_state(tei_unassigned);
      on_deactivate(Protocol_status(new Status(*this, "link error (T202 expired N202 times)")));
    } else {
      ri_ = next_ri();
      tx_identity(ri_, int(group_ai), identity_request);
      start(T202);
      ++rc;
    }
  }
  local_events();
}

void LAPD::on_T203() {
  t203_running = false;
  ++stats_.t203_expiries;
  logline() << ext::header(this) << "T203." << std::endl;
  if (state == multiple_frame_established) {
    tx_enquiry();
    rc = 0;
    change_state(timer_recovery);
  }
  local_events();
}

// ------------------------------------------------------------ pending work

void LAPD::local_events() {
  ack_queue_refresh();
  queued_up_run();
  ack_pending();
  if (out_.count() < congestion_off) release_congestion();
}

void LAPD::ack_queue_refresh() {
  unsigned const outstanding = unsigned(vs - va);
  unsigned acked = 0;
  Packet dropped;
  while (ack_.count() > outstanding && ack_.get(dropped)) ++acked;
  dropped.clear();
  if (acked && log_ > 2)
    logline() << ext::header(this) << "acknowledge " << acked << " frames"
              << " VS=" << vs << " VA=" << va << std::endl;
  if (log_ > 2 && out_.empty()) logline() << ext::header(this) << "outgoing queue empty." << std::endl;
  if (!retr_rq) return;
  if (log_ > 0 && !ack_.empty())
    logline() << ext::header(this) << "retransmission "
              << " VS=" << vs << " VA=" << va << std::endl;
  vs = va;
  // Newest first to the head, so they keep their order ahead of the waiting ones.
  Packet m;
  while (ack_.get_last(&m)) {
    out_.append(m);
    ++stats_.retrains;
  }
  retr_rq = false;
}

void LAPD::queued_up_run() {
  while (queued_up) {
    queued_up = false;
    if (state == multiple_frame_established) {
      if (peer_busy || vs == va + int(Q::k)) {
        queued_up = true;
        return;
      }
      Packet m;
      if (!out_.preview(&m)) return;
      if (!tx_iframe(m, false)) {
        queued_up = true;
        return;
      }
      out_.get(m);
      if (!ack_.put(m)) {
        logline() << ext::header(this) << "ack queue overflow!" << std::endl;
        ++stats_.ack_overflows;
      }
      ++vs;
      ack_rq = false;
      if (!t200_running) {
        stop(T203);
        start(T200);
      }
      if (!out_.empty()) queued_up = true;
    } else if (state == timer_recovery) {
      queued_up = true;
      return;
    } else if (state == awaiting_establishment) {
      if (!l3_initiated) queued_up = true;
      return;
    } else {
      return;
    }
  }
}

void LAPD::ack_pending() {
  if (ack_rq && (state == multiple_frame_established || state == timer_recovery) && tx_response(code_rr, false))
    ack_rq = false;
}

void LAPD::change_flowstatus(FlowStatus::Type f) {
  if (f == flow_) return;
  flow_ = f;
  if (notify_) notify_->OnLAPD_FlowStatusChange(this);
}

}  // namespace ISDN
