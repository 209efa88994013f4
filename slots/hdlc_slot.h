#pragma once
// The "hdlc-slot": addressed packages between the controller and a device on
// a trunk timeslot over one HDLC channel, with a three-octet header (16-bit
// address, control octet with the sequence numbers) and no link protocol.
// Packages from the controller are framed and queued until the channel takes
// them; received frames for the slot's address go back in hdlcPackages
// signals, at once or batched for up to 100 ms.
#include <cstdint>

#include "foundation/containers.h"
#include "foundation/log_limit.h"
#include "foundation/timer.h"
#include "messages/LGCP.h"
#include "slots/link_slot.h"
#include "transport/packet.h"

class HdlcSlot : public ChannelSlot {
public:
  static constexpr unsigned kFlushMs = 100;
  static constexpr unsigned kQueue = 120;

  // Null (logged) when the trunk is outside 1..8.
  static Slot* Create(LGCP::HdlcParams const& params);
  ~HdlcSlot() override;

  // Slot: a connect in either direction opens the channel on the peer's
  // timeslot, a disconnect closes it.
  bool IActivate(TERM::TermActivateParams const& params) override;
  bool IDeactivate() override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  bool IHwConnectTransmitter(Slot& receiver) override {
    return Connect("IHwConnectTransmitter", receiver.GetReceiveChannel());
  }
  bool IHwConnectReceiver(Slot& source) override { return Connect("IHwConnectReceiver", source.GetTransmitChannel()); }
  const char* GetName() const override;

  // The channel's events: frames in, readiness to drain the queue.
  void on_hdlc_receive(Packet& frame) override;
  void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
  void on_hdlc_ready() override;

  void flushResponce();

  // For tests: the slot behind a table entry, null when it is not an hdlc one.
  static HdlcSlot* Of(Slot* slot);
  unsigned queued() const { return queue_.count(); }
  std::uint32_t runts() const { return runts_; }

  // "HdlcSlot[0/*]: "
  void PutHeader(std::ostream& os) const;

private:
  HdlcSlot();

  bool Connect(const char* hook, int tdm);
  void Disconnecting(bool transmitter) override;
  void iactivate();
  // False when the queue was full and the package dropped.
  bool transmitPacket(Packet const& frame);
  void enqResponce(Packet const& frame);

  LGCP::IoctlResponse pending_;
  Timer flushTimer_;
  CleanQueue<Packet, kQueue> queue_;
  std::uint16_t address_ = 0;
  std::uint8_t txSeq_ = 0;
  std::uint8_t rxSeq_ = 0;
  // Received frames too short for the header.
  std::uint32_t runts_ = 0;
  // The line and the controller may bring log lines about at any rate: a
  // slot writes a few a second and counts the rest.
  Log::Limiter lines_;
};

class HdlcSlotFactory : public SlotFactory {
public:
  static HdlcSlotFactory& instance();

  const char* GetName() const override;
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;
  void SelfSignal(LGCP::Signal const& signal) override;
};
