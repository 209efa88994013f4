#pragma once
// What the slots that run a signalling link share (pstn, isdn, ats-qsig and
// the raw HDLC slot). A LinkSlot is the layer family of its link engine, if
// it has one: the controller's userData goes down to the engine as one
// frame, what leaves the family's top goes up as userData, and the link's
// state changes go out with the link's counters. A ChannelSlot also owns
// the HDLC channel the link runs on and reports the channel's counters
// every three seconds.
#include <cstddef>
#include <memory>
#include <vector>

#include "foundation/timer.h"
#include "hardware/hdlc.h"
#include "links/isdn/lapd.h"
#include "slots/slot.h"
#include "transport/protocol.h"

class LinkSlot : public Slot, public ProtocolsFamily {
public:
  // Slot
  bool IDeactivate() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }

  // ProtocolsFamily
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, Smart_pointer<Internal_protocol_status> st) override;
  void on_message(Packet& p) override;
  // Links send through their channel: nothing leaves the family's bottom.
  void transmit(Packet& p) override;
  Protocol_name const& name() const override { return name_; }

  // The Q.921 link, null when the engine is of another kind.
  ISDN::LAPD* lapd() const { return lapd_; }

protected:
  explicit LinkSlot(const char* family);

  // The engine joins the family, which owns it from now on.
  void AddLink(Protocol* link);
  void AddLink(ISDN::LAPD* link);
  // The engine sends through the slot or its channel: the derived slot
  // deletes it while it is still whole.
  void DeleteLinks();

  // Starts the engine, unless a Q.921 link is up or on its way up, where
  // establishing it again would make both ends drop the messages they
  // hold, each answered success.
  void ActivateLink();

  // The controller's userData as one frame of least to most octets to the
  // engine. False, logged, with the error cause set, when it does not fit
  // or there is no packet buffer.
  bool PassDown(std::vector<char> const& data, std::size_t least, std::size_t most);

  // The engine's counters as ioctl signals: isdnLinkInfo when it changed.
  virtual void ReportLink();

private:
  Protocol_name_str name_;
  ISDN::LAPD* lapd_ = nullptr;
};

class ChannelSlot : public LinkSlot, public HDLC::Notify {
public:
  static constexpr unsigned kUpdateMs = 3000;
  static const TimerSpec<ChannelSlot> TUpdatespec;

  int GetConnectionPriority() override { return 1; }
  // A disconnect in either direction closes the channel, then the base hook
  // idles what the connection fed.
  bool IHwDisconnectTransmitter(Slot& receiver) override;
  bool IHwDisconnectReceiver(Slot& source) override;

  // Re-armed, then the channel's counters (hdlcLinkInfo) and the link's.
  void OnUpdateTimer();

  HDLC& channel() { return *channel_; }
  unsigned trunk_index() const { return trunkIndex_; }

protected:
  // The channel is made with the slot and bound to it; the timer runs.
  explicit ChannelSlot(const char* family);
  ~ChannelSlot() override;

  // The controller counts trunks from 1.
  void SetTrunk(unsigned trunk);
  // Closes the channel; transmitter: the slot's output is what goes.
  virtual void Disconnecting(bool transmitter);

private:
  std::unique_ptr<HDLC> channel_;
  unsigned trunkIndex_ = 0;
  TimerSpec<ChannelSlot>::SpecTimer<TUpdatespec> updateTimer_;
};

// The controller counts trunks from 1: E1 links run on trunks 1..4, basic
// rate ones on 1..8.
bool LinkTrunkInRange(int trunk, bool bri);
