#include "slots/hdlc_slot.h"

#include <iostream>

#include "control/trace_ctl.h"
#include "foundation/ext_text.h"
#include "foundation/log_limit.h"
#include "messages/ACP.h"
#include "messages/TERM.h"

namespace {

const unsigned kTrunks = 8;
const unsigned kHeader = 3;

bool Tracing() { return traces.signalling.hdlc; }

}  // namespace

HdlcSlot::HdlcSlot() : ChannelSlot("hdlc") { pending_.select_hdlcPackages(); }

Slot* HdlcSlot::Create(LGCP::HdlcParams const& params) {
  const int trunk = params.get_trunk().getValue();
  if (trunk < 1 || unsigned(trunk) > kTrunks) {
    LOG_LIMITED(std::cerr) << "hdlc-slot: invalid trunk number: " << trunk << ", create refused" << std::endl;
    return nullptr;
  }
  HdlcSlot* slot = new HdlcSlot;
  slot->SetTrunk(unsigned(trunk));
  slot->address_ = std::uint16_t(params.get_address().getValue());
  slot->channel().logLevel(unsigned(params.get_log().getValue()));
  if (Tracing())
    slot->lines_.line(std::clog) << ext::header(slot) << "trunk=" << slot->trunk_index()
                                 << ", address=" << slot->address_ << std::endl;
  return slot;
}

HdlcSlot* HdlcSlot::Of(Slot* slot) {
  return slot && slot->GetSlotFactory() == &HdlcSlotFactory::instance() ? static_cast<HdlcSlot*>(slot) : nullptr;
}

HdlcSlot::~HdlcSlot() { flushTimer_.reset(); }

void HdlcSlot::PutHeader(std::ostream& os) const { os << "HdlcSlot[" << trunk_index() << "/*]: "; }

const char* HdlcSlot::GetName() const { return "hdlc-slot"; }

// Connections ---------------------------------------------------------------------

// The channel uses the one timeslot both ways: the connect that comes last
// sets it.
bool HdlcSlot::Connect(const char* hook, int tdm) {
  if (Tracing()) lines_.line(std::clog) << ext::header(this) << hook << std::endl;
  HDLC::Params p = channel().params();
  p.tdm = tdm;
  p.mode = 1;
  channel().params(p);
  if (p.tdm != -1) iactivate();
  return true;
}

void HdlcSlot::Disconnecting(bool transmitter) {
  if (Tracing())
    lines_.line(std::clog) << ext::header(this) << (transmitter ? "IHwDisconnectTransmitter" : "IHwDisconnectReceiver")
                           << std::endl;
  ChannelSlot::Disconnecting(transmitter);
}

void HdlcSlot::iactivate() {
  if (Tracing())
    lines_.line(std::clog) << ext::header(this) << "Try to activate HDCL, params.tdm = " << channel().params().tdm
                           << std::endl;
  if (!channel().activate()) {
    Slot::OnDeactivated();
    return;
  }
  if (Tracing()) lines_.line(std::clog) << ext::header(this) << "HDLC activated successfully" << std::endl;
}

bool HdlcSlot::IActivate(TERM::TermActivateParams const&) {
  if (Tracing()) lines_.line(std::clog) << ext::header(this) << "IActivate" << std::endl;
  iactivate();
  return true;
}

bool HdlcSlot::IDeactivate() {
  OnUpdateTimer();
  return true;
}

// Sending -------------------------------------------------------------------------

bool HdlcSlot::Ioctl(LGCP::IoctlParams const& params) {
  if (!params.hdlcPackages_isSelected()) return false;
  const ASN1::SEQUENCE_OF<LGCP::HdlcPackage>& list = params.get_hdlcPackages();
  const std::size_t n = list.size();
  // A package the far channel cannot take whole refuses the command before
  // anything of it goes out.
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t size = list[i].get_body().size();
    if (size + kHeader > HDLC::kFrameSize) {
      lines_.line(std::cerr) << ext::header(this) << "package of " << size
                             << " octets refused: a frame carries at most " << HDLC::kFrameSize - kHeader << std::endl;
      SetErrorCause(LGCP::ErrorCause::invalidParams);
      return false;
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    const std::vector<char>& body = list[i].get_body();
    // Full: this package and the rest of the command stay out, so what goes
    // out is still in the controller's order.
    if (queue_.count() == kQueue) {
      const std::size_t dropped = n - i;
      channel().overflowed(std::uint32_t(dropped));
      lines_.line(std::cerr) << ext::header(this) << "transmit queue full, " << dropped << " packages dropped"
                             << std::endl;
      SetErrorCause(LGCP::ErrorCause::insufficientResources);
      return false;
    }
    Packet frame;
    if (!frame.try_reserve_head(0) || body.size() + kHeader > frame.tailroom()) {
      lines_.line(std::cerr) << ext::header(this) << "package of " << body.size()
                             << " octets not sent: no buffer or too long" << std::endl;
      SetErrorCause(LGCP::ErrorCause::insufficientResources);
      return false;
    }
    frame.put16_b(address_);
    frame.put8(std::uint8_t((txSeq_ * 32) | rxSeq_));
    for (char c : body) frame.put8(static_cast<unsigned char>(c));
    ++txSeq_;
    if (Tracing()) lines_.line(std::clog) << ext::header(this) << "enqueue package: " << frame.text() << std::endl;
    transmitPacket(frame);
  }
  return true;
}

bool HdlcSlot::transmitPacket(Packet const& frame) {
  const bool queued = queue_.put(frame);
  if (!queue_.empty() && channel().is_ready()) on_hdlc_ready();
  return queued;
}

void HdlcSlot::on_hdlc_ready() {
  Packet head;
  while (queue_.preview(&head)) {
    if (!channel().hdlc_transmit(head)) return;
    queue_.get(head);
    if (Tracing()) lines_.line(std::clog) << ext::header(this) << "on_hdlc_ready " << head.text() << std::endl;
  }
}

// Receiving -----------------------------------------------------------------------

void HdlcSlot::on_hdlc_receive(Packet& frame) {
  if (Tracing()) lines_.line(std::clog) << ext::header(this) << "on_hdlc_receive " << frame.text() << std::endl;
  if (frame.length() < kHeader) {
    // Counted; one line per frame is proportional to what the line sends.
    ++runts_;
    lines_.line(std::cerr) << ext::header(this) << "frame of " << frame.length() << " octets dropped" << std::endl;
    return;
  }
  enqResponce(frame);
  // The fifth octet's bit 7 asks to wait for more; a frame without one ends
  // the batch.
  const bool more = frame.length() > kHeader + 1 && (frame.cdata()[kHeader + 1] & 0x80) != 0;
  if (!more) {
    flushTimer_.reset();
    flushResponce();
  } else if (!flushTimer_.is_running()) {
    flushTimer_.set<HdlcSlot>(kFlushMs, &HdlcSlot::flushResponce, this);
  }
}

void HdlcSlot::enqResponce(Packet const& frame) {
  const unsigned char* at = frame.cdata();
  const std::uint16_t address = std::uint16_t((unsigned(at[0]) << 8) | at[1]);
  if (address != address_) return;
  rxSeq_ = std::uint8_t(at[2] >> 5);
  LGCP::HdlcPackage package;
  package.set_body(std::vector<char>(at + kHeader, at + frame.length()));
  pending_.ref_hdlcPackages().push_back(package);
}

void HdlcSlot::flushResponce() {
  const std::size_t n = pending_.get_hdlcPackages().size();
  if (Tracing()) lines_.line(std::clog) << ext::header(this) << "flushResponce: " << n << std::endl;
  if (n > 0) OnIoctlResponse(pending_);
  pending_ = LGCP::IoctlResponse();
  pending_.select_hdlcPackages();
}

void HdlcSlot::on_hdlc_error(HDLC::Notify::Cause::Type) {
  lines_.line(std::clog) << ext::header(this) << "on_hdlc_error" << std::endl;
}

// HdlcSlotFactory -----------------------------------------------------------------

HdlcSlotFactory& HdlcSlotFactory::instance() {
  static HdlcSlotFactory theInstance;
  return theInstance;
}

const char* HdlcSlotFactory::GetName() const { return "HdlcSlotFactory"; }

Slot* HdlcSlotFactory::INewSlot(LGCP::CreateParams const& params) {
  if (Tracing()) LOG_LIMITED(std::clog) << "\nHdlcSlotFactory.INewSlot\n" << std::endl;
  if (!params.hdlcParams_isSelected()) return nullptr;
  return HdlcSlot::Create(params.get_hdlcParams());
}

void HdlcSlotFactory::Query(LGCP::Resources&) {}

void HdlcSlotFactory::SelfSignal(LGCP::Signal const& signal) {
  if (!signal.trunkStatus_isSelected()) return;
  const ACP::TrunkStatus& status = signal.get_trunkStatus();
  const int trunk = status.get_trunk().getValue();
  if (trunk < 0) return;
  const ACP::TrunkState::NamedNumber state = status.get_state();
  const std::vector<Slot*> slots = GetSlots();
  for (Slot* slot : slots) slot->OnTrunkStatus(unsigned(trunk), state);
}
