#include "slots/isdn_slot.h"

#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <sstream>

#include "board/board.h"
#include "board/dsp_data.h"
#include "board/mcc.h"
#include "foundation/ext_text.h"
#include "foundation/log_limit.h"
#include "hardware/frame_io.h"
#include "messages/ACP.h"
#include "messages/LGCP.h"
#include "slots/link_slot.h"

namespace DspData = Board::DspData;
namespace Mcc = Board::Mcc;

// IsdnSlot ----------------------------------------------------------------------

IsdnSlot::IsdnSlot(Fd device, int channel, ISDN::LAPD* link, const char* eventName)
    : LinkSlot("ISDN/HDLC"), channel_(channel), device_(std::move(device)) {
  link->BindNotify(this);
  link->hdlc(this);
  port_.bind(eventName, &IsdnSlot::OnEvent, this);
  port_.open(device_);
  AddLink(link);
}

// The link sends through this slot: it goes while the slot is whole.
IsdnSlot::~IsdnSlot() { DeleteLinks(); }

const char* IsdnSlot::GetName() const { return "MCC"; }

void IsdnSlot::PutHeader(std::ostream& os) const { os << "mcc/isdn: " << static_cast<Slot const&>(*this) << " "; }

void IsdnSlot::ReleaseDevice() {
  port_.close();
  device_.close();
}

bool IsdnSlot::IActivate(TERM::TermActivateParams const&) {
  // The peer may have brought the link up before this command came, or its
  // establishment is under way.
  ActivateLink();
  return true;
}

bool IsdnSlot::IUserData(std::vector<char> const& data) { return PassDown(data, 1, ISDN::LAPD::max_message); }

void IsdnSlot::OnEvent(int, short revents) { port_.serve(revents); }

void IsdnSlot::on_port_frame(Packet& frame) { ProtocolsFamily::receive(frame); }

void IsdnSlot::on_port_end(int error) {
  // Polled on, a channel at its end would wake the loop for ever.
  notes_.line(std::cerr) << ext::header(this) << "read fail: " << (error ? std::strerror(error) : "end of file")
                         << ", channel not read any more" << std::endl;
  port_.close();
  if (lapd()) lapd()->on_hdlc_error(HDLC::Notify::Cause::read_error);
}

void IsdnSlot::on_port_ready() {
  if (lapd()) lapd()->on_hdlc_ready();
}

bool IsdnSlot::hdlc_transmit(Packet& frame) {
  if (frame.empty()) return true;
  return is_open() && port_.write(frame) == FrameIO::Write::Sent;
}

// AtsQsigSlot -------------------------------------------------------------------

AtsQsigSlot::AtsQsigSlot(Fd device, int channel, ISDN::LAPD* link)
    : IsdnSlot(std::move(device), channel, link, "AtsQsigSlot::OnEvent") {}

AtsQsigSlot::~AtsQsigSlot() { DetachAll(); }

const char* AtsQsigSlot::GetName() const { return "ATS-QSIG"; }

void AtsQsigSlot::PutHeader(std::ostream& os) const { os << "ats-qsig: " << static_cast<Slot const&>(*this) << " "; }

void AtsQsigSlot::DetachAll() {
  for (AtsQsigBSlot* b : bSlots_) b->Detach();
  bSlots_.clear();
}

bool AtsQsigSlot::IBeforeDestroy() {
  ReleaseDevice();
  DetachAll();
  return true;
}

AtsQsigBSlot* AtsQsigSlot::NewBChannel(unsigned subslot) {
  DspData::AddB rec{subslot, -1};
  if (Board::ioctl(device_fd(), DspData::kAddB, &rec) == -1 || rec.timeslot < 0) {
    LOG_LIMITED(std::cerr) << "ats-qsig: add B channel fail !!!" << std::endl;
    return nullptr;
  }
  AtsQsigBSlot* b = new AtsQsigBSlot(this, subslot, rec.timeslot);
  bSlots_.push_back(b);
  return b;
}

void AtsQsigSlot::DestroyBChannel(unsigned subslot) {
  DspData::RemoveB rec{subslot};
  Board::ioctl(device_fd(), DspData::kRemoveB, &rec);
}

void AtsQsigSlot::Forget(AtsQsigBSlot* b) {
  bSlots_.erase(std::remove(bSlots_.begin(), bSlots_.end(), b), bSlots_.end());
}

// AtsQsigBSlot ------------------------------------------------------------------

AtsQsigBSlot::AtsQsigBSlot(AtsQsigSlot* signalling, unsigned subslot, int channel)
    : signalling_(signalling), subslot_(subslot), channel_(channel) {}

AtsQsigBSlot::~AtsQsigBSlot() {
  if (signalling_) signalling_->Forget(this);
}

const char* AtsQsigBSlot::GetName() const { return "ATS-QSIG-B"; }

void AtsQsigBSlot::PutHeader(std::ostream& os) const { os << "ats-qsig-b: "; }

bool AtsQsigBSlot::IBeforeDestroy() {
  if (!signalling_) {
    LOG_LIMITED(std::clog) << ext::header(this) << "Can't find signalling slot" << std::endl;
    return true;
  }
  signalling_->DestroyBChannel(subslot_);
  signalling_->Forget(this);
  signalling_ = nullptr;
  return true;
}

// IsdnFactory -------------------------------------------------------------------

IsdnFactory& IsdnFactory::instance() {
  static IsdnFactory factory;
  return factory;
}

void IsdnFactory::PutHeader(std::ostream& os) const { os << "mcc/isdn: "; }

void IsdnFactory::Query(LGCP::Resources&) {}

Slot* IsdnFactory::FindSlot(unsigned number) const {
  for (Slot* s : GetSlots())
    if (s->GetId() >= 0 && unsigned(s->GetId()) == number) return s;
  return nullptr;
}

Slot* IsdnFactory::INewSlot(LGCP::CreateParams const& params) {
  if (params.isdn_isSelected()) return NewIsdnSlot(params.get_isdn());
  if (params.ats_qsig_isSelected()) return NewAtsQsigSlot(params.get_ats_qsig());
  if (params.ats_qsig_b_isSelected()) return NewAtsQsigBSlot(params.get_ats_qsig_b());
  return nullptr;
}

namespace {

ISDN::Side::type SideOf(LGCP::IsdnSide const& side) {
  return side.network_isSelected() ? ISDN::Side::network : ISDN::Side::user;
}

}  // namespace

Slot* IsdnFactory::NewIsdnSlot(LGCP::IsdnParams const& params) {
  const bool bri = params.get_type().is_bri();
  const int trunk = params.get_trunk().getValue();
  if (!LinkTrunkInRange(trunk, bri)) {
    LOG_LIMITED(std::cerr) << ext::header(this) << "invalid trunk number: " << trunk << ", create refused" << std::endl;
    return nullptr;
  }
  const Mcc::Allocate rec{bri ? Mcc::kTypeBri : Mcc::kTypeData, 512, 0, 1, 1};
  std::ostringstream header;
  header << ext::header(this);
  Fd fd = FrameIO::OpenMccChannel(rec, header.str());
  if (!fd) return nullptr;
  // Without its timeslot the channel could be joined to nothing.
  const int channel = Board::ioctlValue(fd.lowlevel_fd(), Mcc::kTimeslot, 0);
  if (channel < 0) {
    const Errno err;
    LOG_LIMITED(std::cerr) << ext::header(this) << "MCC_TIMESLOT fail: " << err << std::endl;
    return nullptr;
  }
  ISDN::LAPD* link = new ISDN::LAPD(ISDN::Side::user, 0);
  if (bri) link->change_to_bri();
  link->set_linkno(unsigned(trunk));
  link->set_log(unsigned(params.get_log().getValue()));
  link->set_side(SideOf(params.get_side()));
  return new IsdnSlot(std::move(fd), channel, link);
}

Slot* IsdnFactory::NewAtsQsigSlot(LGCP::AtsQsigParams const& params) {
  Fd fd = Board::open(DspData::kDevice, O_RDWR | O_NONBLOCK);
  if (!fd) {
    const Errno err;
    LOG_LIMITED(std::cerr) << ext::header(this) << "fail to open dsp-data device: " << err << std::endl;
    return nullptr;
  }
  const int channel = Board::ioctlValue(fd.lowlevel_fd(), DspData::kTimeslot, 0);
  if (channel < 0) {
    const Errno err;
    LOG_LIMITED(std::cerr) << ext::header(this) << "dsp-data timeslot request fail: " << err << std::endl;
    return nullptr;
  }
  ISDN::LAPD* link = new ISDN::LAPD(ISDN::Side::user, 0);
  link->set_log(0);
  link->set_side(SideOf(params.get_side()));
  AtsQsigSlot* slot = new AtsQsigSlot(std::move(fd), channel, link);
  link->set_linkno(unsigned(slot->GetTimeslot()));
  return slot;
}

Slot* IsdnFactory::NewAtsQsigBSlot(LGCP::AtsQsigBParams const& params) {
  const int number = params.get_slot().getValue();
  const int subslot = params.get_subslot().getValue();
  if (number < 0 || subslot < 1 || unsigned(subslot) > DspData::kSubslots) return nullptr;
  AtsQsigSlot* signalling = dynamic_cast<AtsQsigSlot*>(FindSlot(unsigned(number)));
  if (!signalling) return nullptr;
  return signalling->NewBChannel(unsigned(subslot - 1));
}
