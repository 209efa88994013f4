#pragma once
// The "pstn" slot: one layer-2 signalling link (SS7 MTP level 2, ISDN Q.921
// user or network side, primary or basic rate, or the network side of a
// basic-rate bus) on an HDLC channel that is cross-connected to a trunk
// timeslot when a trunk slot is connected to it. Layer 3 lives in the
// controller: frames pass as userData. The slot is itself the protocol family
// whose only member is the link layer; the family owns that layer.
#include <vector>

#include "slots/link_slot.h"

namespace SS7 {
class SLC;
}
namespace ISDN {
class LAPD_NT;
}

class PstnSlot : public ChannelSlot, public ISDN::LAPD::Notify {
public:
  // Null (logged) when the trunk is outside the range of the link's kind.
  static Slot* Create(LGCP::PstnParams const& params);
  ~PstnSlot() override;

  // Slot
  void OnTrunkStatus(unsigned int trunk, ACP::TrunkState::NamedNumber const& state) override;
  bool IActivate(TERM::TermActivateParams const& params) override;
  bool IUserData(std::vector<char> const& data) override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  bool IHwConnectTransmitter(Slot& receiver) override;
  bool IHwConnectReceiver(Slot& source) override;
  const char* GetName() const override;

  // The channel's events go to the link's own HDLC::Notify side.
  void on_hdlc_receive(Packet& frame) override;
  void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
  void on_hdlc_ready() override;

  // ProtocolsFamily
  void on_deactivated(Protocol* p, Smart_pointer<Internal_protocol_status> st) override;
  // Frames the network-side bus link sends leave the family at its bottom.
  void transmit(Packet& p) override;

  // ISDN::LAPD::Notify
  void OnLAPD_FlowStatusChange(ISDN::LAPD* link) override;

  // For tests: the slot behind a table entry, null when it is not a pstn one.
  static PstnSlot* Of(Slot* slot);
  int kind() const { return kind_; }
  SS7::SLC* ss7() const { return ss7_; }

private:
  PstnSlot();

  void ReportLink() override;
  void iactivate();
  // Stops the link, closes the channel and forgets the timeslot that went.
  void Disconnecting(bool transmitter) override;

  int kind_ = 0;
  // Owned by the family's list; kept here to reach their own interfaces.
  SS7::SLC* ss7_ = nullptr;
  ISDN::LAPD_NT* lapdNt_ = nullptr;
  HDLC::Notify* frameReceiver_ = nullptr;
  int lastTrunkState_ = 5;
};

class PstnFactory : public SlotFactory {
public:
  static PstnFactory& instance();

  const char* GetName() const override;
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;
  // trunkStatus of E1 trunks goes to every slot made here, oldest first.
  void SelfSignal(LGCP::Signal const& signal) override;
};
