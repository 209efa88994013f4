// The observable side of the LAPD link: link information, status reports,
// error reports and their text forms.
#include <iostream>

#include "foundation/ext_text.h"
#include "links/isdn/lapd.h"

namespace ISDN {

namespace {

char const* running(bool on) { return on ? "running" : "stopped"; }

}  // namespace

char const* statetext(unsigned char state) {
  static char const* const texts[] = {
      "TEI unassigned",         "Assign awaiting TEI", "Establish awaiting TEI",     "TEI assigned",
      "Awaiting establishment", "Awaiting release",    "Multiple frame established", "Timer recovery"};
  return state < 8 ? texts[state] : "(unknown)";
}

std::ostream& operator<<(std::ostream& os, Side::type side) { return os << (side == Side::user ? "user" : "network"); }

std::ostream& operator<<(std::ostream& os, LAPDFullState const& s) {
  os << "\n   - state: " << statetext(static_cast<unsigned char>(s.state));
  os << "\n   - self: TEI=" << s.own_tei << ", SAPI=" << s.own_sapi << ", busy=" << s.own_busy;
  os << "\n   - peer: TEI=" << s.peer_tei << ", SAPI=" << s.peer_sapi << ", busy=" << s.peer_busy;
  os << "\n   - counters: VS=" << unsigned(s.vs) << ", VA=" << unsigned(s.va) << ", VR=" << unsigned(s.vr)
     << ", RC=" << s.rc;
  os << "\n   - internal signals: AckRQ=" << s.ack_rq << ", RetrRQ=" << s.retr_rq << ", QueuedUp=" << s.queued_up;
  os << "\n   - flags: L3Initiated=" << s.l3_initiated << ", Establishable=" << s.establishable
     << ", RejectException=" << s.reject_exception;
  os << "\n   - timers: T200 " << running(s.t200_running) << ", T202 " << running(s.t202_running) << ", T203 "
     << running(s.t203_running);
  return os;
}

std::ostream& operator<<(std::ostream& os, LAPD::Stats const& s) {
  os << "\n   - timers expire count: T200: " << s.t200_expiries << ", T202: " << s.t202_expiries
     << ", T203: " << s.t203_expiries;
  os << "\n   - errors: " << s.errors << ", retrains: " << s.retrains;
  os << "\n   - queue overflows: out: " << s.out_overflows << ", ack: " << s.ack_overflows;
  return os;
}

LAPD::Status::Status(LAPD const& link, std::string const& text)
    : Protocol_status_error(&link, text), LAPDFullState(link.full_state()) {}

void LAPD::Status::out(std::ostream& os) const { os << message() << snapshot(); }

void LAPD::PutHeader(std::ostream& os) const { os << "LAPD[" << linkno_ << "] (" << state_text() << "): "; }

Protocol_status LAPD::status() const { return Protocol_status(new Status(*this, "current status")); }

void LAPD::show_stat() const {
  std::cout << " - current state: " << full_state() << "\n - statistics: " << stats_ << "\n";
}

int LAPD::GetInfo(ACP::IsdnLinkInfo& info) const {
  info.set_side(side_ == Side::network ? ACP::IsdnSide::network : ACP::IsdnSide::user);
  info.set_msuTxCount(int(stats_.transmitted));
  info.set_msuRxCount(int(stats_.received));
  info.set_mT200(int(stats_.t200_expiries));
  info.set_mT203(int(stats_.t203_expiries));
  info.set_errors(int(stats_.errors));
  info.set_retrains(int(stats_.retrains));
  info.set_outOverflows(int(stats_.out_overflows));
  info.set_ackOverflows(int(stats_.ack_overflows));
  info.set_rejected(int(stats_.rejected));
  info.set_badconfirm(int(stats_.bad_confirmations));
  if (state < 8) info.set_lapdState(static_cast<ACP::LAPDState::NamedNumber>(state));
  info.set_rc(int(rc));
  info.set_peerBusy(peer_busy);
  info.set_ownBusy(own_busy);
  info.set_rejException(reject_exception);
  // The acknowledge-pending condition is reported as ackRQ.
  info.set_ackPending(false);
  info.set_l3Initiated(l3_initiated);
  info.set_establishable(establishable);
  info.set_queuedUpRQ(queued_up);
  info.set_retrRQ(retr_rq);
  info.set_ackRQ(ack_rq);
  info.set_t200run(t200_running);
  info.set_t203run(t203_running);
  info.set_vs(int(unsigned(vs)));
  info.set_va(int(unsigned(va)));
  info.set_vr(int(unsigned(vr)));
  info.set_queueOut(int(out_.count()));
  info.set_queueAck(int(ack_.count()));
  if (info == info_) return 0;
  info_ = info;
  return 1;
}

// ----------------------------------------------------------- error reports

char const* LAPD::error_text(unsigned code) {
  switch (code) {
    case MdlError::supervisory_f1:
      return "Supervisory (F = 1)";
    case MdlError::dm_f1:
      return "DM (F = 1)";
    case MdlError::ua_f1:
      return "UA (F = 1)";
    case MdlError::ua_f0:
      return "UA (F = 0)";
    case MdlError::dm_f0:
      return "Receipt of DM response (F = 0)";
    case MdlError::peer_reestablishment:
      return "Peer initiated re-establishment - SABME";
    case MdlError::sabme_retries:
      return "Unsuccessful retransmission (N200 times) - SABME";
    case MdlError::disc_retries:
      return "Unsuccessful retransmission (N200 times) - DISC";
    case MdlError::enquiry_retries:
      return "Unsuccessful retransmission (N200 times) - Status enquiry";
    case MdlError::nr_error:
      return "Other - N(R) error";
    case MdlError::frmr:
      return "Other - Receipt of FRMR response";
    case MdlError::undefined_frame:
      return "Other - Receipt of undefined frame";
    case MdlError::i_field_not_permitted:
      return "Other - Receipt of I field not permitted";
    case MdlError::wrong_size:
      return "Other - Receipt of frame with wrong size";
    case MdlError::n201_error:
      return "Other - N201 error";
    case MdlError::tei_denied:
      return "Tei Assign - Tei denied";
    default:
      return "Other - Unknown";
  }
}

void LAPD::on_error(unsigned code) { on_error(error_text(code)); }

void LAPD::on_error(char const* text) { on_status(Protocol_status(new Status(*this, text))); }

void LAPD::on_mdl_assign() {}

}  // namespace ISDN
