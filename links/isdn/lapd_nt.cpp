#include "links/isdn/lapd_nt.h"

#include <cstring>
#include <iomanip>
#include <iostream>

#include "foundation/ext_text.h"
#include "links/isdn/q921_frame.h"

namespace ISDN {

namespace Q = Q921;

namespace {

// TEI management message types.
constexpr uint8_t identity_request = 1, identity_assigned = 2, identity_denied = 3, identity_check_request = 4,
                  identity_check_response = 5, identity_remove = 6, identity_verify = 7;
constexpr unsigned group_ai = 127;

// Q.931 as far as routing needs it: discriminator, call reference length,
// a one-octet call reference (flag in bit 8), message type.
constexpr unsigned l3_min_size = LAPD_NT::min_message;
constexpr uint8_t cr_flag = 0x80;
constexpr uint8_t mt_setup = 0x05;
constexpr uint8_t mt_release_complete = 0x5A;

struct CallRef {
  bool valid = false;
  uint8_t value = 0;
  bool flag = false;
  uint8_t type = 0;
};

CallRef call_ref_of(Packet const& msg) {
  CallRef c;
  if (msg.length() < l3_min_size) return c;
  uint8_t const* m = msg.cdata();
  if ((m[1] & 0x0F) != 1) return c;
  c.valid = true;
  c.value = m[2] & 0x7F;
  c.flag = (m[2] & cr_flag) != 0;
  c.type = m[3];
  return c;
}

// A copy of the octets of src from offset on, in a buffer of its own.
bool copy_from(Packet const& src, unsigned offset, Packet& out) {
  if (!out.try_reserve_head(0)) return false;
  unsigned const n = src.length() - offset;
  if (n) std::memcpy(out.put(n), src.cdata() + offset, n);
  return true;
}

struct Hex {
  unsigned v;
};
std::ostream& operator<<(std::ostream& os, Hex h) {
  std::ios::fmtflags const f = os.flags();
  os << "0x" << std::hex << std::setw(2) << std::setfill('0') << h.v;
  os.flags(f);
  return os;
}

}  // namespace

// ==================================================================== user

LAPD_NT_user::~LAPD_NT_user() {
  timer_.reset();
  check_timer_.reset();
  out_.clear();
  ack_.clear();
}

void LAPD_NT_user::PutHeader(std::ostream& os) const {
  os << "LAPD_user(NT BRI)[";
  if (state_ == unassigned) {
    os << "unassigned]:";
    return;
  }
  os << "Tei=" << unsigned(tei_) << (state_ == assigned ? ",assigned" : ",wait_answer");
  if (check_) os << ",check";
  if (busy_) os << ",busy";
  os << "]";
}

#define USER_LOG(text)                                                                                   \
  do {                                                                                                   \
    if (log_ > 1) lapd_->log_limiter().line(std::clog) << ext::header(this) << " " << text << std::endl; \
  } while (0)

void LAPD_NT_user::arm(unsigned ms) { timer_.set<LAPD_NT_user>(ms, &LAPD_NT_user::on_timer, this); }

void LAPD_NT_user::assign() {
  if (check_ && state_ != unassigned) {
    USER_LOG("checked");
    check_ = false;
    check_timer_.reset();
    return;
  }
  USER_LOG("assigned");
  vr_ = va_ = vs_ = 0;
  state_ = assigned;
  tx_U(Q::u_sabme, true, true);
  busy_ = false;
  check_ = false;
  check_timer_.reset();
  out_.clear();
  ack_.clear();
  retries_ = 0;
  forget_calls();
  arm(Q::t203_ms);
}

void LAPD_NT_user::unassign() {
  USER_LOG("unassigned");
  state_ = unassigned;
  timer_.reset();
  check_timer_.reset();
}

void LAPD_NT_user::checking() {
  if (state_ == unassigned) return;
  USER_LOG("checking started");
  check_ = true;
  check_timer_.set<LAPD_NT_user>(check_ms, &LAPD_NT_user::unassign, this);
}

// ------------------------------------------------------------------ frames

void LAPD_NT_user::tx_U(uint8_t code, bool pf, bool command) {
  USER_LOG("transmit U frame");
  Packet f;
  if (!lapd_->new_frame(f)) return;
  f.put8(Q::address1(Q::sapi_call_control, command));
  f.put8(Q::address2(tei_));
  f.put8(uint8_t(code | (pf ? Q::u_pf_bit : 0)));
  lapd_->send_to_layer1(f);
}

void LAPD_NT_user::tx_S(uint8_t code, bool pf, bool command) {
  USER_LOG("transmit S frame");
  Packet f;
  if (!lapd_->new_frame(f)) return;
  f.put8(Q::address1(Q::sapi_call_control, command));
  f.put8(Q::address2(tei_));
  f.put8(code);
  f.put8(uint8_t(unsigned(vr_) << 1 | (pf ? 1 : 0)));
  lapd_->send_to_layer1(f);
}

// Every I frame is a command with P set; the N(R) is the V(R) of the moment
// it goes out, also when it goes out again.
bool LAPD_NT_user::tx_I(Packet const& msg, Seq nr, Seq ns) {
  USER_LOG("transmit I frame");
  Packet f;
  if (!lapd_->new_frame(f)) return false;
  f.put8(Q::address1(Q::sapi_call_control, true));
  f.put8(Q::address2(tei_));
  f.put8(uint8_t(unsigned(ns) << 1));
  f.put8(uint8_t(unsigned(nr) << 1 | 1));
  if (unsigned const n = msg.length()) std::memcpy(f.put(n), msg.cdata(), n);
  lapd_->send_to_layer1(f);
  return true;
}

void LAPD_NT_user::receive(Packet& frame, bool cr) {
  unsigned const n = frame.length();
  if (n < Q::u_header_size) return;
  uint8_t const c1 = frame.cdata()[Q::control_octet];
  if (Q::is_i(c1)) {
    if (n < Q::is_header_size || cr) return;
    uint8_t const c2 = frame.cdata()[Q::control2_octet];
    on_I(frame, Seq(Q::seq_of(c1)), Seq(Q::seq_of(c2)), Q::pf_of(c2) != 0);
  } else if (Q::is_s(c1)) {
    if (n < Q::is_header_size) return;
    if (c1 != Q::s_rr && c1 != Q::s_rnr && c1 != Q::s_rej) return;
    uint8_t const c2 = frame.cdata()[Q::control2_octet];
    Seq const nr(Q::seq_of(c2));
    if (!cr && Q::pf_of(c2)) tx_S(Q::s_rr, true, false);
    if (c1 == Q::s_rr)
      on_RR(nr);
    else if (c1 == Q::s_rnr)
      on_RNR(nr);
    else
      on_REJ(nr);
  } else {
    bool const pf = Q::u_pf(c1) != 0;
    switch (Q::u_code(c1)) {
      case Q::u_sabme:
        if (!cr) on_SABME(pf);
        break;
      case Q::u_disc:
        if (!cr) on_DISC(pf);
        break;
      case Q::u_dm:
        if (cr) on_DM();
        break;
      case Q::u_frmr:
        if (cr) on_FRMR();
        break;
      case Q::u_xid:
        on_XID();
        break;
      default:
        break;
    }
  }
}

void LAPD_NT_user::on_I(Packet& frame, Seq ns, Seq nr, bool p) {
  USER_LOG("received I frame");
  if (ns == vr_) {
    ++vr_;
    if (p) tx_S(Q::s_rr, true, false);
    if (frame.length() >= Q::is_header_size + l3_min_size) {
      Packet msg;
      if (copy_from(frame, Q::is_header_size, msg)) {
        learn(msg, true);
        lapd_->send_to_layer3(msg);
        // The layer above may have taken the link down meanwhile.
        if (state_ == unassigned) return;
      } else {
        lapd_->log_limiter().line(std::clog) << ext::header(this) << " no packet buffer: message dropped" << std::endl;
      }
    }
  } else {
    tx_S(Q::s_rej, p, false);
  }
  bool moved = false;
  if (ack_queue(nr, moved))
    settle(moved);
  else
    unassign();
}

void LAPD_NT_user::on_RR(Seq nr) {
  USER_LOG("received RR frame");
  bool moved = false;
  if (!ack_queue(nr, moved)) {
    unassign();
    return;
  }
  set_unbusy();
  settle(moved);
}

void LAPD_NT_user::on_RNR(Seq nr) {
  USER_LOG("received RNR frame");
  set_busy();
  bool moved = false;
  if (!ack_queue(nr, moved)) {
    unassign();
    return;
  }
  settle(moved);
}

// The frames before N(R) are acknowledged; those from N(R) on go again.
void LAPD_NT_user::on_REJ(Seq nr) {
  USER_LOG("received REJ frame");
  bool moved = false;
  if (!ack_queue(nr, moved)) {
    unassign();
    return;
  }
  set_unbusy();
  if (va_ != vs_) {
    retransmit();
    state_ = wait_answer;
    retries_ = 0;
    arm(Q::t200_ms);
  }
  settle(false);
}

void LAPD_NT_user::on_SABME(bool p) {
  USER_LOG("received SABME frame");
  // The terminal starts afresh; what it had not acknowledged goes again,
  // in order, ahead of what waits.
  Packet m;
  while (ack_.get_last(&m)) out_.append(m);
  vr_ = va_ = vs_ = 0;
  if (p) tx_U(Q::u_ua, true, false);
  set_unbusy();
  settle(false);
}

void LAPD_NT_user::on_DISC(bool p) {
  USER_LOG("received DISC frame");
  if (p) tx_U(Q::u_ua, true, false);
  unassign();
}

void LAPD_NT_user::on_DM() {
  USER_LOG("received DM frame");
  unassign();
}

void LAPD_NT_user::on_FRMR() {
  USER_LOG("received FRMR frame");
  unassign();
}

void LAPD_NT_user::on_XID() { USER_LOG("received XID frame"); }

// --------------------------------------------------------- acknowledgement

bool LAPD_NT_user::ack_queue(Seq nr, bool& moved) {
  USER_LOG("ack queue");
  moved = false;
  if (!((va_ <= nr) <= vs_)) return false;
  unsigned n = unsigned(nr - va_);
  moved = n != 0;
  Packet m;
  while (n-- && ack_.get(m)) {
  }
  va_ = nr;
  return true;
}

void LAPD_NT_user::retransmit() {
  USER_LOG("retransmit queue");
  Seq ns = va_;
  Packet m;
  for (unsigned i = 0, n = ack_.count(); i < n; ++i, ++ns) {
    ack_.get(m);
    tx_I(m, vr_, ns);
    ack_.put(m);
  }
}

void LAPD_NT_user::set_busy() {
  if (!busy_) USER_LOG("set busy");
  busy_ = true;
}

void LAPD_NT_user::set_unbusy() {
  if (busy_) USER_LOG("set unbusy");
  busy_ = false;
}

void LAPD_NT_user::pump() {
  Packet m;
  while (!busy_ && ack_.count() < Q::k && out_.get(m)) {
    // A frame without a buffer counts as sent: T200 sends it again.
    tx_I(m, vr_, vs_);
    ack_.put(m);
    ++vs_;
  }
}

void LAPD_NT_user::settle(bool moved) {
  if (state_ == unassigned) return;
  pump();
  if (va_ == vs_) {
    state_ = assigned;
    arm(Q::t203_ms);
    return;
  }
  // A fresh T200 when the window moved or the first frame went out; a
  // stream of new messages alone does not put off the retransmission.
  if (moved || state_ != wait_answer) {
    retries_ = 0;
    arm(Q::t200_ms);
  } else if (!timer_.is_running()) {
    arm(Q::t200_ms);
  }
  state_ = wait_answer;
}

void LAPD_NT_user::on_timer() {
  switch (state_) {
    case assigned:
      state_ = wait_answer;
      tx_S(Q::s_rr, true, true);
      retries_ = 0;
      arm(Q::t200_ms);
      break;
    case wait_answer:
      if (retries_ == int32_t(Q::n200)) {
        if (log_ > 1)
          lapd_->log_limiter().line(std::clog) << ext::header(this) << " T200 expiried N200 times" << std::endl;
        unassign();
        return;
      }
      ++retries_;
      // Nothing outstanding, or a busy terminal: ask; else send again.
      if (va_ == vs_ || busy_)
        tx_S(Q::s_rr, true, true);
      else
        retransmit();
      arm(Q::t200_ms);
      break;
    default:
      break;
  }
}

// ------------------------------------------------------------------- calls

bool LAPD_NT_user::holds_call(uint8_t value, bool terminal_chose) const {
  for (unsigned i = 0; i < ncalls_; ++i)
    if (calls_[i].value == value && calls_[i].terminal_chose == terminal_chose) return true;
  return false;
}

void LAPD_NT_user::learn(Packet const& msg, bool from_terminal) {
  CallRef const c = call_ref_of(msg);
  if (!c.valid) return;
  // The flag is clear in messages from the side that chose the value.
  bool const terminal_chose = from_terminal ? !c.flag : c.flag;
  unsigned i = 0;
  while (i < ncalls_ && !(calls_[i].value == c.value && calls_[i].terminal_chose == terminal_chose)) ++i;
  if (c.type == mt_release_complete) {
    if (i < ncalls_) {
      for (; i + 1 < ncalls_; ++i) calls_[i] = calls_[i + 1];
      --ncalls_;
    }
    return;
  }
  if (i < ncalls_) return;
  if (ncalls_ == max_calls) {
    // The oldest call has long been cleared without a word.
    for (i = 0; i + 1 < ncalls_; ++i) calls_[i] = calls_[i + 1];
    --ncalls_;
  }
  calls_[ncalls_++] = Call{c.value, terminal_chose};
}

bool LAPD_NT_user::message(Packet& msg) {
  if (state_ == unassigned) return false;
  CallRef const c = call_ref_of(msg);
  // From the network, a set flag means the terminal chose the value.
  if (!c.valid || !holds_call(c.value, c.flag)) return false;
  send(msg);
  return true;
}

void LAPD_NT_user::send(Packet const& msg) {
  if (out_.count() >= Q::out_limit) {
    lapd_->log_limiter().line(std::clog) << ext::header(this) << " outgoing queue full: oldest message dropped"
                                         << std::endl;
    Packet old;
    out_.get(old);
  }
  out_.put(msg);
  learn(msg, false);
  settle(false);
}

#undef USER_LOG

// ==================================================================== link

LAPD_NT::LAPD_NT() {
  for (LAPD_NT_user& u : users_) {
    u.set_lapd(this);
    u.set_log(0);
  }
}

LAPD_NT::~LAPD_NT() { timer_.reset(); }

void LAPD_NT::set_log(unsigned level) {
  log_ = level;
  for (LAPD_NT_user& u : users_) u.set_log(level);
}

void LAPD_NT::PutHeader(std::ostream& os) const { os << "LAPD(NT BRI):"; }

#define LINK_LOG(text)                                                                 \
  do {                                                                                 \
    if (log_) lines_.line(std::clog) << ext::header(this) << " " << text << std::endl; \
  } while (0)

void LAPD_NT::local_prepare_head(Packet& p) { p.reserve_head(Q::is_header_size); }

void LAPD_NT::local_prepare_tail(Packet&) {}

bool LAPD_NT::new_frame(Packet& frame) {
  if (!frame.try_reserve_head(0)) {
    lines_.line(std::clog) << ext::header(this) << " no packet buffer: frame not sent" << std::endl;
    return false;
  }
  return true;
}

void LAPD_NT::local_activate() {
  LINK_LOG("activate");
  check_all_Tei();
  on_activate();
}

void LAPD_NT::local_deactivate() {
  LINK_LOG("deactivate");
  timer_.reset();
  for (LAPD_NT_user& u : users_) u.unassign();
  // As activation is reported, so is its end.
  on_deactivate(Protocol_status(new Protocol_status_success(this, "success (deactivated locally)")));
}

void LAPD_NT::check_all_Tei() {
  LINK_LOG("Checking Tei values....");
  timer_.reset();
  for (LAPD_NT_user& u : users_) u.checking();
  tx_identity(0, group_ai, identity_check_request);
  timer_.set<LAPD_NT>(check_period_ms, &LAPD_NT::check_all_Tei, this);
}

void LAPD_NT::tx_identity(uint16_t ri, unsigned ai, uint8_t type) {
  Packet f;
  if (!new_frame(f)) return;
  f.put8(Q::address1(Q::sapi_tei_management, true));
  f.put8(Q::address2(Q::group_tei));
  f.put8(Q::u_ui);
  f.put8(0x0F);
  f.put8(uint8_t(ri & 0xFF));
  f.put8(uint8_t(ri >> 8));
  f.put8(type);
  f.put8(uint8_t(ai << 1 | 1));
  send_to_layer1(f);
}

void LAPD_NT::remove_twice(unsigned ai) {
  tx_identity(0, ai, identity_remove);
  tx_identity(0, ai, identity_remove);
}

LAPD_NT_user* LAPD_NT::find_Tei(unsigned char tei) {
  for (LAPD_NT_user& u : users_)
    if (u.is_assigned() && u.get_Tei() == tei) return &u;
  return nullptr;
}

LAPD_NT_user* LAPD_NT::find_free_Tei(unsigned char ai) {
  LAPD_NT_user* free_user = nullptr;
  for (LAPD_NT_user& u : users_)
    if (!u.is_assigned()) {
      free_user = &u;
      break;
    }
  if (!free_user) return nullptr;
  if (ai != group_ai) {
    free_user->set_Tei(ai);
    return free_user;
  }
  for (unsigned tei = first_auto_tei; tei <= last_auto_tei; ++tei)
    if (!find_Tei(static_cast<unsigned char>(tei))) {
      free_user->set_Tei(static_cast<unsigned char>(tei));
      return free_user;
    }
  return nullptr;
}

void LAPD_NT::receive(Packet& p) {
  unsigned const n = p.length();
  if (n < Q::u_header_size) return;
  uint8_t const a1 = p.cdata()[Q::addr_sapi_octet];
  uint8_t const a2 = p.cdata()[Q::addr_tei_octet];
  if ((a1 & Q::ea0_bit) || !(a2 & Q::ea1_bit)) return;
  bool const cr = (a1 & Q::cr_bit) != 0;
  unsigned const sapi = Q::sapi_of(a1);
  unsigned char const tei = static_cast<unsigned char>(Q::tei_of(a2));
  if (tei == Q::group_tei) {
    if (p.cdata()[Q::control_octet] != Q::u_ui) return;
    if (sapi == Q::sapi_tei_management) {
      on_tei_procedure(p);
      return;
    }
    Packet msg;
    if (copy_from(p, Q::u_header_size, msg))
      send_to_layer3(msg);
    else
      lines_.line(std::clog) << ext::header(this) << " no packet buffer: message dropped" << std::endl;
    return;
  }
  LAPD_NT_user* u = find_Tei(tei);
  if (!u) {
    u = find_free_Tei(tei);
    if (!u) {
      LINK_LOG("recieved packet with unassigned TEI=" << unsigned(tei) << ",removed");
      remove_twice(tei);
      return;
    }
    LINK_LOG("Warning:recieved packet with unassigned TEI=" << unsigned(tei));
    u->assign();
  }
  u->receive(p, cr);
}

void LAPD_NT::on_tei_procedure(Packet const& frame) {
  if (frame.length() < Q::u_header_size + 5) return;
  uint8_t const* m = frame.cdata() + Q::u_header_size;
  if (m[0] != 0x0F) return;
  uint16_t const ri = uint16_t(m[1] | m[2] << 8);
  uint8_t const type = m[3];
  unsigned const ai = m[4] >> 1;
  switch (type) {
    case identity_request:
      if (ai < first_auto_tei) {
        LINK_LOG("recieved identity request with wrong Ai=" << ai << ",ignored");
      } else if (ai != group_ai) {
        LINK_LOG("recieved identity request with wrong Ai=" << ai << ",denied");
        tx_identity(ri, ai, identity_denied);
      } else if (LAPD_NT_user* u = find_free_Tei(group_ai)) {
        LINK_LOG("recieved identity request,TEI assigned:" << unsigned(u->get_Tei()));
        tx_identity(ri, u->get_Tei(), identity_assigned);
        u->assign();
      } else {
        LINK_LOG("recieved identity request, but all TEI values is ussigned");
        tx_identity(ri, group_ai, identity_denied);
      }
      break;
    case identity_check_response: {
      if (ai == group_ai) {
        LINK_LOG("recieved check response with wrong Ai=" << ai << ",removed");
        remove_twice(ai);
        break;
      }
      unsigned char const tei = static_cast<unsigned char>(ai);
      LAPD_NT_user* u = find_Tei(tei);
      bool const fresh = u == nullptr;
      if (fresh) u = find_free_Tei(tei);
      if (!u) {
        LINK_LOG("recieved check response with wrong Ai=" << ai << ",removed");
        remove_twice(ai);
        break;
      }
      if (!fresh && !u->is_check()) {
        if (ri == u->ri()) break;
        LINK_LOG("recieved check response with dublicated Ai=" << ai << ",removed");
        u->unassign();
        remove_twice(ai);
        break;
      }
      LINK_LOG("TEI " << ai << " checked");
      u->assign();
      u->set_ri(ri);
      break;
    }
    case identity_verify:
      LINK_LOG("recieved verify request");
      check_all_Tei();
      break;
    default:
      break;
  }
}

void LAPD_NT::message(Packet& p) {
  if (p.length() < l3_min_size) {
    LINK_LOG("message of " << p.length() << " octets dropped");
    return;
  }
  if (p.length() > max_message) {
    lines_.line(std::clog) << ext::header(this) << " message of " << p.length()
                           << " octets does not fit a frame: dropped" << std::endl;
    return;
  }
  CallRef const c = call_ref_of(p);
  if (c.valid && c.type == mt_setup) {
    Packet f;
    if (!new_frame(f)) return;
    f.put8(Q::address1(Q::sapi_call_control, true));
    f.put8(Q::address2(Q::group_tei));
    f.put8(Q::u_ui);
    std::memcpy(f.put(p.length()), p.cdata(), p.length());
    send_to_layer1(f);
    return;
  }
  for (LAPD_NT_user& u : users_)
    if (u.message(p)) return;
  Log::Limiter::Line line = lines_.line(std::clog);
  line << ext::header(this) << " no terminal holds call reference ";
  if (c.valid)
    line << Hex{c.value} << (c.flag ? " (flag 1)" : " (flag 0)");
  else
    line << "(none)";
  line << ", message type " << Hex{c.valid ? c.type : p.cdata()[3]} << ": dropped" << std::endl;
}

#undef LINK_LOG

}  // namespace ISDN
