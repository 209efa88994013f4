#include "slots/pstn_slot.h"

#include <iostream>

#include "foundation/log_limit.h"
#include "links/isdn/lapd_nt.h"
#include "links/ss7/slc.h"
#include "messages/ACP.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"

namespace {

// The SS7 state names in the order of get_state_id().
ACP::SS7State::NamedNumber Ss7State(int id) {
  return id >= 0 && id <= 5 ? ACP::SS7State::NamedNumber(id) : ACP::SS7State::NamedNumber(0);
}

}  // namespace

PstnSlot::PstnSlot() : ChannelSlot("PSTN") {}

Slot* PstnSlot::Create(LGCP::PstnParams const& params) {
  // The controller counts trunks from 1; E1 links run on trunks 1..4, basic
  // rate ones on 1..8. Anything else would index no trunk.
  int trunk = 0;
  bool inRange = true;
  if (params.ss7_isSelected()) {
    trunk = params.get_ss7().get_trunk().getValue();
    inRange = LinkTrunkInRange(trunk, false);
  } else if (params.isdn_isSelected()) {
    trunk = params.get_isdn().get_trunk().getValue();
    inRange = LinkTrunkInRange(trunk, params.get_isdn().get_type().is_bri());
  }
  if (!inRange) {
    LOG_LIMITED(std::cerr) << "pstn-slot: invalid trunk number: " << trunk << ", create refused" << std::endl;
    return nullptr;
  }

  PstnSlot* slot = new PstnSlot;
  if (params.ss7_isSelected()) {
    const LGCP::SS7Params& p = params.get_ss7();
    SS7::SLC* link = new SS7::SLC;
    slot->ss7_ = link;
    slot->frameReceiver_ = link;
    link->hdlc(&slot->channel());
    link->set_linkno(unsigned(trunk));
    link->set_slc(unsigned(p.get_slc().getValue()));
    link->set_dpc(unsigned(p.get_dpc().getValue()));
    link->set_opc(unsigned(p.get_opc().getValue()));
    link->set_emergency(bool(p.get_emergency()));
    slot->AddLink(link);
    slot->SetTrunk(unsigned(trunk));
    slot->kind_ = 0;
  } else if (params.isdn_isSelected()) {
    const LGCP::IsdnParams& p = params.get_isdn();
    const unsigned log = unsigned(p.get_log().getValue());
    const bool bri = p.get_type().is_bri();
    if (bri && p.get_side().network_isSelected()) {
      ISDN::LAPD_NT* link = new ISDN::LAPD_NT;
      slot->lapdNt_ = link;
      link->set_log(log);
      slot->AddLink(link);
      slot->kind_ = 3;
    } else {
      ISDN::LAPD* link = new ISDN::LAPD(ISDN::Side::user, 0);
      slot->frameReceiver_ = link;
      link->hdlc(&slot->channel());
      link->set_side(p.get_side().network_isSelected() ? ISDN::Side::network : ISDN::Side::user);
      link->set_linkno(unsigned(trunk));
      link->set_log(log);
      link->BindNotify(slot);
      if (bri) link->change_to_bri();
      slot->AddLink(link);
      slot->kind_ = bri ? 2 : 1;
    }
    slot->channel().logLevel(log);
    slot->SetTrunk(unsigned(trunk));
  }
  return slot;
}

PstnSlot* PstnSlot::Of(Slot* slot) {
  return slot && slot->GetSlotFactory() == &PstnFactory::instance() ? static_cast<PstnSlot*>(slot) : nullptr;
}

PstnSlot::~PstnSlot() {
  // The link sends through the channel: it goes first.
  DeleteLinks();
  ss7_ = nullptr;
  lapdNt_ = nullptr;
  frameReceiver_ = nullptr;
}

const char* PstnSlot::GetName() const { return "pstn"; }

// Connections ---------------------------------------------------------------------

bool PstnSlot::IHwConnectReceiver(Slot& source) {
  HDLC::Params p = channel().params();
  if (kind_ == 0 || kind_ == 1) {
    const unsigned trunk = unsigned(source.GetTrunk());
    if (trunk > 3) {
      LOG_LIMITED(std::cerr) << "pstn-slot: invalid trunk number: " << trunk << std::endl;
      return false;
    }
    const unsigned timeslot = unsigned(source.GetTrunkTimeSlot());
    if (timeslot > 31) {
      LOG_LIMITED(std::cerr) << "pstn-slot: invalid timeslot: " << timeslot << std::endl;
      return false;
    }
    p.trunk = trunk;
    p.timeslot = timeslot;
  }
  p.mode = kind_ == 0 ? 0 : kind_ == 1 ? 1 : 2;
  p.tdm = source.GetTransmitChannel();
  channel().params(p);
  // A basic-rate channel needs both directions.
  if (kind_ < 2 || p.tdmOut != -1) iactivate();
  return true;
}

bool PstnSlot::IHwConnectTransmitter(Slot& receiver) {
  HDLC::Params p = channel().params();
  if (kind_ < 2) {
    // The channel feeds the timeslot it hears: a primary-rate or SS7 link
    // whose transmit side came back starts again on the receive side it kept.
    if (p.tdm != -1 && !channel().is_open()) iactivate();
    return true;
  }
  p.tdmOut = receiver.GetReceiveChannel();
  channel().params(p);
  if (p.tdm != -1) iactivate();
  return true;
}

void PstnSlot::Disconnecting(bool transmitter) {
  // Told before the channel goes: the link stops without a frame, so
  // nothing it meant for this channel goes out on the next one.
  if (lapd())
    lapd()->on_channel_closed();
  else
    ProtocolsFamily::deactivate();
  ChannelSlot::Disconnecting(transmitter);
  HDLC::Params p = channel().params();
  if (!transmitter)
    p.tdm = -1;
  else if (kind_ >= 2)
    p.tdmOut = -1;
  channel().params(p);
}

void PstnSlot::iactivate() {
  // A channel opened again is a new one: the link on the old one stops.
  if (lapd() && channel().is_open()) lapd()->on_channel_closed();
  if (channel().activate())
    ProtocolsFamily::activate();
  else
    Slot::OnDeactivated();
}

// Commands ------------------------------------------------------------------------

bool PstnSlot::IActivate(TERM::TermActivateParams const&) {
  // A running D-channel stays: the link is asked to establish on it.
  if (kind_ != 0 && channel().is_open())
    ActivateLink();
  else
    iactivate();
  return true;
}

bool PstnSlot::IUserData(std::vector<char> const& data) {
  // A slot without a link (cas) takes the frame and drops it.
  if (!highest()) return true;
  // An MSU goes whole or not at all: SIO and a SIF of 2 to 272 octets.
  if (ss7_ && !SS7::SLC::Carries(data.size())) {
    SetErrorCause(LGCP::ErrorCause::invalidParams);
    return false;
  }
  // A link out of service takes no MSU: it would be dropped unsent.
  if (ss7_ && ss7_->get_state_id() != SS7::SLC::State::worked) {
    SetErrorCause(LGCP::ErrorCause::busError);
    return false;
  }
  // A Q.921 message goes in one frame: 1 to N201 octets.
  if (lapd()) return PassDown(data, 1, ISDN::LAPD::max_message);
  if (lapdNt_) return PassDown(data, ISDN::LAPD_NT::min_message, ISDN::LAPD_NT::max_message);
  // The MSU's bounds are checked above.
  return PassDown(data, 0, data.size());
}

bool PstnSlot::Ioctl(LGCP::IoctlParams const& params) {
  if (params.ss7RqBSN_isSelected()) {
    if (!ss7_) return false;
    LGCP::IoctlResponse r;
    r.select_ss7BSN(int(ss7_->get_bsn()));
    OnIoctlResponse(r);
    return true;
  }
  if (params.ss7Log_isSelected()) {
    if (!ss7_) return false;
    const LGCP::SS7L2Log& log = params.get_ss7Log();
    ss7_->trace.state = bool(log.get_state());
    ss7_->trace.raw_receive = bool(log.get_raw_receive());
    ss7_->trace.raw_transmit = bool(log.get_raw_transmit());
    ss7_->trace.mtp_transmit = bool(log.get_mtp_transmit());
    ss7_->trace.mtp_receive = bool(log.get_mtp_receive());
    ss7_->trace.mtp_activate = bool(log.get_mtp_activate());
    ss7_->trace.timers = bool(log.get_timers());
    ss7_->trace.msu_processing = bool(log.get_msu_processing());
    return true;
  }
  return false;
}

void PstnSlot::OnTrunkStatus(unsigned int trunk, ACP::TrunkState::NamedNumber const& state) {
  if (!ss7_ || trunk != trunk_index() || int(state) == lastTrunkState_) return;
  ss7_->OnTrunkHardStatus(state == ACP::TrunkState::normal);
  lastTrunkState_ = int(state);
}

// Frames and link state -----------------------------------------------------------

void PstnSlot::on_hdlc_receive(Packet& frame) {
  if (lapdNt_)
    ProtocolsFamily::receive(frame);
  else if (frameReceiver_)
    frameReceiver_->on_hdlc_receive(frame);
}

void PstnSlot::on_hdlc_error(HDLC::Notify::Cause::Type cause) {
  if (frameReceiver_) {
    frameReceiver_->on_hdlc_error(cause);
  } else if (lapdNt_) {
    // The channel closed itself: the bus link cannot go on.
    LOG_LIMITED(std::cerr) << *static_cast<Slot*>(this) << ": channel error, link stopped" << std::endl;
    ProtocolsFamily::deactivate();
  }
}

void PstnSlot::on_hdlc_ready() {
  if (frameReceiver_) frameReceiver_->on_hdlc_ready();
}

void PstnSlot::transmit(Packet& p) {
  if (lapdNt_) channel().hdlc_transmit(p);
}

void PstnSlot::on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status>) {
  ReportLink();
  OnUpdateTimer();
  Slot::OnDeactivated();
}

void PstnSlot::OnLAPD_FlowStatusChange(ISDN::LAPD* link) {
  LGCP::IoctlResponse r;
  r.select_isdnLinkStatus(link->GetFlowStatus() == ISDN::LAPD::FlowStatus::congestion ? LGCP::IsdnLinkStatus::congested
                                                                                      : LGCP::IsdnLinkStatus::normal);
  OnIoctlResponse(r);
}

// Statistics ----------------------------------------------------------------------

void PstnSlot::ReportLink() {
  LinkSlot::ReportLink();
  if (!ss7_) return;
  const SS7::SLC::Stats& s = *ss7_->statistics();
  LGCP::IoctlResponse r;
  ACP::SS7LinkInfo& info = r.select_ss7LinkInfo();
  info.set_msuTxCount(s.msuTxCount);
  info.set_msuRxCount(s.msuRxCount);
  info.set_octetsTx(s.octetsTx);
  info.set_octetsRx(s.octetsRx);
  info.set_speedRx(0);
  info.set_speedTx(0);
  info.set_overflowCntr(s.overflowCntr);
  info.set_rtbSize(s.rtbSize);
  info.set_repeatCntr(s.repeatCntr);
  info.set_badSeqCntr(s.badSeqCntr);
  info.set_ss7state(Ss7State(ss7_->get_state_id()));
  OnIoctlResponse(r);
}

// PstnFactory ---------------------------------------------------------------------

PstnFactory& PstnFactory::instance() {
  static PstnFactory theInstance;
  return theInstance;
}

const char* PstnFactory::GetName() const { return "PSTN"; }

Slot* PstnFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.pstn_isSelected()) return nullptr;
  return PstnSlot::Create(params.get_pstn());
}

void PstnFactory::Query(LGCP::Resources&) {}

void PstnFactory::SelfSignal(LGCP::Signal const& signal) {
  if (!signal.trunkStatus_isSelected()) return;
  const ACP::TrunkStatus& status = signal.get_trunkStatus();
  // The BRI framers number their trunks from 0 too: their reports are not
  // about the E1 trunk of the same number.
  if (status.get_type().asInt() != ACP::TrunkType::e1) return;
  const int trunk = status.get_trunk().getValue();
  if (trunk < 0) return;
  const ACP::TrunkState::NamedNumber state = status.get_state();
  const std::vector<Slot*> slots = GetSlots();
  for (Slot* slot : slots) slot->OnTrunkStatus(unsigned(trunk), state);
}
