#include "slots/link_slot.h"

#include <cstring>
#include <iostream>

#include "foundation/log_limit.h"
#include "messages/LGCP.h"

namespace {

const unsigned kE1Trunks = 4;
const unsigned kBriTrunks = 8;

}  // namespace

bool LinkTrunkInRange(int trunk, bool bri) { return trunk >= 1 && unsigned(trunk) <= (bri ? kBriTrunks : kE1Trunks); }

// LinkSlot ----------------------------------------------------------------------

LinkSlot::LinkSlot(const char* family) : name_(family) {}

void LinkSlot::AddLink(Protocol* link) { add_protocol_tail(link); }

void LinkSlot::AddLink(ISDN::LAPD* link) {
  lapd_ = link;
  add_protocol_tail(link);
}

void LinkSlot::DeleteLinks() {
  while (Protocol* layer = highest()) delete layer;
  lapd_ = nullptr;
}

void LinkSlot::ActivateLink() {
  if (lapd_ && lapd_->established())
    on_activated(lapd_);
  else if (!lapd_ || !lapd_->establishing())
    ProtocolsFamily::activate();
}

bool LinkSlot::IDeactivate() {
  ProtocolsFamily::deactivate();
  return true;
}

bool LinkSlot::PassDown(std::vector<char> const& data, std::size_t least, std::size_t most) {
  if (data.size() < least || data.size() > most) {
    LOG_LIMITED(std::cerr) << static_cast<Slot const&>(*this) << ": userData of " << data.size()
                           << " octets refused: the link carries " << least << " to " << most << std::endl;
    SetErrorCause(LGCP::ErrorCause::invalidParams);
    return false;
  }
  Packet p;
  if (!p.try_reserve_head(0)) {
    LOG_LIMITED(std::cerr) << static_cast<Slot const&>(*this) << ": no packet buffer, frame from the controller dropped"
                           << std::endl;
    SetErrorCause(LGCP::ErrorCause::insufficientResources);
    return false;
  }
  prepare_head(p);
  if (data.size() > p.tailroom()) {
    LOG_LIMITED(std::cerr) << static_cast<Slot const&>(*this) << ": frame of " << data.size()
                           << " octets too long, dropped" << std::endl;
    SetErrorCause(LGCP::ErrorCause::invalidParams);
    return false;
  }
  if (!data.empty()) std::memcpy(p.put(unsigned(data.size())), data.data(), data.size());
  ProtocolsFamily::message(p);
  return true;
}

void LinkSlot::transmit(Packet&) {}

void LinkSlot::on_message(Packet& p) {
  const unsigned char* at = p.cdata();
  OnUserData(std::vector<char>(at, at + p.length()));
}

void LinkSlot::on_activated(Protocol*) {
  ReportLink();
  Slot::OnActivated();
}

void LinkSlot::on_deactivated(Protocol*, Smart_pointer<Internal_protocol_status>) {
  ReportLink();
  Slot::OnDeactivated();
}

void LinkSlot::ReportLink() {
  if (!lapd_) return;
  LGCP::IoctlResponse r;
  if (!lapd_->GetInfo(r.select_isdnLinkInfo())) return;
  OnIoctlResponse(r);
}

// ChannelSlot -------------------------------------------------------------------

const TimerSpec<ChannelSlot> ChannelSlot::TUpdatespec = {&ChannelSlot::OnUpdateTimer, ChannelSlot::kUpdateMs};

ChannelSlot::ChannelSlot(const char* family) : LinkSlot(family), channel_(new HDLC) {
  channel_->bind(this);
  updateTimer_.set(this);
}

ChannelSlot::~ChannelSlot() {
  updateTimer_.reset();
  channel_->unbind();
}

void ChannelSlot::SetTrunk(unsigned trunk) {
  channel_->trunk(trunk);
  trunkIndex_ = trunk - 1;
}

bool ChannelSlot::IHwDisconnectTransmitter(Slot& receiver) {
  Disconnecting(true);
  Slot::IHwDisconnectTransmitter(receiver);
  return true;
}

bool ChannelSlot::IHwDisconnectReceiver(Slot& source) {
  Disconnecting(false);
  Slot::IHwDisconnectReceiver(source);
  return true;
}

void ChannelSlot::Disconnecting(bool) { channel_->deactivate(); }

void ChannelSlot::OnUpdateTimer() {
  updateTimer_.set(this);
  const HDLC::Statistics& s = channel_->statistics();
  LGCP::IoctlResponse r;
  LGCP::HdlcLinkInfo& info = r.select_hdlcLinkInfo();
  info.set_txSU(int(s.txSU));
  info.set_txDiscard(int(s.txDiscard));
  info.set_txError(int(s.txError));
  info.set_txOverflow(int(s.txOverflow));
  info.set_rxSU(int(s.rxSU));
  OnIoctlResponse(r);
  ReportLink();
}
