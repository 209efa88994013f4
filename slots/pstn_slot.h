#pragma once
// The "pstn" slot: one layer-2 signalling link (SS7 MTP level 2, ISDN Q.921
// user or network side, primary or basic rate, or the network side of a
// basic-rate bus) on an HDLC channel that is cross-connected to a trunk
// timeslot when a trunk slot is connected to it. Layer 3 lives in the
// controller: frames pass as userData. The slot is itself the protocol family
// whose only member is the link layer; the family owns that layer.
#include <memory>
#include <vector>

#include "foundation/timer.h"
#include "hardware/hdlc.h"
#include "links/isdn/lapd.h"
#include "slots/slot.h"
#include "transport/protocol.h"

namespace SS7 {
class SLC;
}
namespace ISDN {
class LAPD_NT;
}

class PstnSlot : private Slot, public ProtocolsFamily, public ISDN::LAPD::Notify, public HDLC::Notify {
public:
  static constexpr unsigned kUpdateMs = 3000;

  // Null (logged) when the trunk is outside the range of the link's kind.
  static Slot* Create(LGCP::PstnParams const& params);
  ~PstnSlot() override;

  // Slot
  void OnTrunkStatus(unsigned int trunk, ACP::TrunkState::NamedNumber const& state) override;
  bool IActivate(TERM::TermActivateParams const& params) override;
  bool IDeactivate() override;
  bool IUserData(std::vector<char> const& data) override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  int GetConnectionPriority() override;
  bool IHwConnectTransmitter(Slot& receiver) override;
  bool IHwConnectReceiver(Slot& source) override;
  bool IHwDisconnectTransmitter(Slot& receiver) override;
  bool IHwDisconnectReceiver(Slot& source) override;
  bool IOnOutputStream() override;
  bool IOnInputStream() override;
  const char* GetName() const override;

  // HDLC::Notify
  void on_hdlc_receive(Packet& frame) override;
  void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
  void on_hdlc_ready() override;

  // ProtocolsFamily
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, Smart_pointer<Internal_protocol_status> st) override;
  void on_message(Packet& p) override;
  // Frames the network-side bus link sends leave the family at its bottom.
  void transmit(Packet& p) override;
  Protocol_name const& name() const override { return name_; }

  // ISDN::LAPD::Notify
  void OnLAPD_FlowStatusChange(ISDN::LAPD* link) override;

  void OnUpdateTimer();

  // For tests: the slot behind a table entry, null when it is not a pstn one.
  static PstnSlot* Of(Slot* slot);
  int kind() const { return kind_; }
  SS7::SLC* ss7() const { return ss7_; }
  unsigned trunk_index() const { return trunkIndex_; }
  HDLC& channel() { return *channel_; }

  static const TimerSpec<PstnSlot> TUpdatespec;

private:
  PstnSlot();

  void iactivate();
  // Stops the link whose channel is about to go.
  void link_stop();
  // Stops the link and closes the channel; the trunk output it fed idles.
  void hw_stop();
  void UpdateHDLC_Statistics();
  void UpdateISDN_Statistics();
  void UpdateSS7_Statistics();

  Protocol_name_str name_{"PSTN"};
  std::unique_ptr<HDLC> channel_;
  int kind_ = 0;
  unsigned trunkIndex_ = 0;
  // Owned by the family's list; kept here to reach their own interfaces.
  SS7::SLC* ss7_ = nullptr;
  ISDN::LAPD* lapd_ = nullptr;
  ISDN::LAPD_NT* lapdNt_ = nullptr;
  HDLC::Notify* frameReceiver_ = nullptr;
  int lastTrunkState_ = 5;
  TimerSpec<PstnSlot>::SpecTimer<TUpdatespec> updateTimer_;
};

// The controller counts trunks from 1: E1 links run on trunks 1..4, basic
// rate ones on 1..8.
bool LinkTrunkInRange(int trunk, bool bri);

// Whether a link takes a layer-3 message of so many octets whole; logged
// when it does not (the controller is then answered invalidParams).
bool LinkMessageFits(Slot const& slot, std::size_t octets, std::size_t least, std::size_t most);

// A frame from the controller (userData) for the top of a link family, with
// the family's head room. False, logged, with the LGCP::ErrorCause to answer,
// when there is no packet buffer or the frame does not fit.
bool LinkFrame(Slot const& slot, Protocol& family, std::vector<char> const& data, Packet& frame, int& cause);

class PstnFactory : public SlotFactory {
public:
  static PstnFactory& instance();

  const char* GetName() const override;
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;
  // trunkStatus of E1 trunks goes to every slot made here, oldest first.
  void SelfSignal(LGCP::Signal const& signal) override;
};
