#pragma once
// ISDN and QSIG D-channel slots. An IsdnSlot runs Q.921 (ISDN::LAPD) over a
// channel it allocates itself on the HDLC controller ("/dev/mcc/ctl"); the
// slot is the link's HDLC device. An AtsQsigSlot does the same on a
// signalling channel of the DSP data device ("/dev/dsp-data") and owns that
// channel's B subslots, each an AtsQsigBSlot: a plain TDM endpoint. Layer 3
// is the controller: frames pass as userData. Both D-channel slots join
// their timeslot to others through the ordinary cross-connect.
#include <iosfwd>
#include <vector>

#include "foundation/log_limit.h"
#include "foundation/os.h"
#include "hardware/frame_io.h"
#include "slots/link_slot.h"

class IsdnSlot : public LinkSlot, public ISDN::LAPD::Notify, public GenericHDLC, private FrameIO::Port::Owner {
public:
  // Takes the device's descriptor, its timeslot and the link layer, which
  // the family owns from now on.
  IsdnSlot(Fd device, int channel, ISDN::LAPD* link, const char* eventName = "IsdnSlot::OnEvent");
  ~IsdnSlot() override;

  // Slot
  bool IActivate(TERM::TermActivateParams const& params) override;
  bool IUserData(std::vector<char> const& data) override;
  int IGetTransmitChannel() override { return channel_; }
  int IGetReceiveChannel() override { return channel_; }
  const char* GetName() const override;

  // GenericHDLC
  bool hdlc_transmit(Packet& frame) override;
  bool is_open() const override { return port_.is_open(); }
  bool is_ready() const override { return port_.is_ready(); }

  // ISDN::LAPD::Notify: no flow-status report.
  void OnLAPD_FlowStatusChange(ISDN::LAPD*) override {}

  void OnEvent(int fd, short revents);

  ISDN::LAPD* link() const { return lapd(); }
  int channel() const { return channel_; }
  // For tests: what the device is polled for, 0 once it is not.
  short polled() const { return port_.polled(); }
  // "mcc/isdn: 07:MCC "
  void PutHeader(std::ostream& os) const override;

protected:
  // Stops polling and closes the device.
  void ReleaseDevice();
  int device_fd() const { return device_.lowlevel_fd(); }

private:
  // FrameIO::Port::Owner: the link layer is the device's client.
  void on_port_frame(Packet& frame) override;
  void on_port_end(int error) override;
  void on_port_ready() override;

  int channel_;
  // The device stays open after a hang-up until the slot goes; the port
  // polls a duplicate and lets go of it when the channel ends.
  Fd device_;
  // Log lines, bounded: the device may bring them about at any rate.
  Log::Limiter notes_;
  FrameIO::Port port_{*this, notes_};
};

class AtsQsigBSlot;

class AtsQsigSlot : public IsdnSlot {
public:
  AtsQsigSlot(Fd device, int channel, ISDN::LAPD* link);
  // Its B slots stay, detached.
  ~AtsQsigSlot() override;

  bool IBeforeDestroy() override;
  const char* GetName() const override;
  void PutHeader(std::ostream& os) const override;

  // A B slot on the subslot (counted from 0), registered here; null (logged)
  // when the device refuses it.
  AtsQsigBSlot* NewBChannel(unsigned subslot);
  void DestroyBChannel(unsigned subslot);
  int GetTimeslot() const { return channel(); }

  // For the B slots.
  void Forget(AtsQsigBSlot* b);

private:
  void DetachAll();

  std::vector<AtsQsigBSlot*> bSlots_;
};

class AtsQsigBSlot : public Slot {
public:
  AtsQsigBSlot(AtsQsigSlot* signalling, unsigned subslot, int channel);
  ~AtsQsigBSlot() override;

  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return channel_; }
  int IGetReceiveChannel() override { return channel_; }
  const char* GetName() const override;

  // Its signalling slot went: a later destroy frees nothing.
  void Detach() { signalling_ = nullptr; }
  AtsQsigSlot* signalling() const { return signalling_; }
  unsigned subslot() const { return subslot_; }

  // "ats-qsig-b: "
  void PutHeader(std::ostream& os) const;

private:
  AtsQsigSlot* signalling_;
  unsigned subslot_;
  int channel_;
};

class IsdnFactory : public SlotFactory {
public:
  static IsdnFactory& instance();

  const char* GetName() const override { return "ISDN"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;

  // The slot under the number among those made here, or null.
  Slot* FindSlot(unsigned number) const;

  // "mcc/isdn: "
  void PutHeader(std::ostream& os) const;

private:
  IsdnFactory() = default;

  Slot* NewIsdnSlot(LGCP::IsdnParams const& params);
  Slot* NewAtsQsigSlot(LGCP::AtsQsigParams const& params);
  Slot* NewAtsQsigBSlot(LGCP::AtsQsigBParams const& params);
};
