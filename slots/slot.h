#pragma once
// A slot is one termination the controller addresses by a number 0..1023: a
// trunk timeslot, a shared bus channel, an RTP stream, a signalling link...
// Slot is the base of every kind: it keeps what the slot manager (Slots) and
// the connection functions (connect.h) need, declares the hooks through which
// they drive a kind, and offers the reporters that send a kind's events as
// signals carrying its number. SlotFactory is the base of the factory of one
// kind; every factory joins the chain firstFactory when it is built.
#include <cstdint>
#include <iosfwd>
#include <list>
#include <string>
#include <vector>

#include "messages/ACP_fwd.h"
#include "messages/LEMZGW_fwd.h"
#include "messages/LGCP_fwd.h"
#include "messages/TERM_fwd.h"

class Slots;
class SlotFactory;
struct rtp_event;

class Slot {
public:
  Slot();
  // Disconnection and the removal from the table and the factory are done
  // before, by the slot manager.
  virtual ~Slot();
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;

  virtual int GetTrunk();
  virtual int GetTrunkTimeSlot();
  // A trunk state change passed on by the slot's factory.
  virtual void OnTrunkStatus(unsigned int trunk, ACP::TrunkState::NamedNumber const& state);
  // After the answer to create: the slot's first signals belong here.
  virtual void IAfterCreate();
  // True: delete now. False: the slot releases itself and calls on_release().
  virtual bool IBeforeDestroy();
  // Command hooks: false is answered with the cause handed over by
  // SetErrorCause, unsupported when none was.
  virtual bool IActivate(TERM::TermActivateParams const& params);
  virtual bool IDeactivate();
  virtual bool IUserData(std::vector<char> const& data);
  virtual bool Ioctl(LGCP::IoctlParams const& params);
  // Decides which side of a connection does the hardware work.
  virtual int GetConnectionPriority();
  virtual bool IHwConnectTransmitter(Slot& receiver);
  virtual bool IHwConnectReceiver(Slot& source);
  virtual bool IHwDisconnectTransmitter(Slot& receiver);
  virtual bool IHwDisconnectReceiver(Slot& source);
  // Asked before the first receiver / before a source: start the stream, or
  // refuse the connection with false.
  virtual bool IOnOutputStream();
  virtual bool IOnInputStream();
  virtual void IOnOutputRelease();
  virtual void IOnInputRelease();
  // Cross-connect numbers; -1 when the slot has no such channel.
  virtual int IGetTransmitChannel();
  virtual int IGetReceiveChannel();
  virtual const char* GetName() const = 0;

  // -1 while the slot is not in the table.
  int GetId() const { return id; }
  SlotFactory* GetSlotFactory() const { return factory; }
  bool is_releasing() const { return releasing; }
  bool GetInputStream() const { return inputActive; }
  bool GetOutputStream() const { return outputActive; }
  int GetTransmitChannel() { return IGetTransmitChannel(); }
  int GetReceiveChannel() { return IGetReceiveChannel(); }
  Slot* GetSource() const { return source; }
  // The receivers of this slot's output, ordered by identity.
  const std::vector<Slot*>& GetFedSlots() const { return fed; }

  // "07:trunk"; "na:trunk" before the slot has a number.
  std::ostream& Put(std::ostream& os) const;

  void SendSignal(LGCP::Signal const& signal);
  void LogicalConnect(Slot& source);
  void LogicalDisconnect();
  bool BeforeDestroy();
  // A slot that deferred its destruction calls this once it has released
  // everything; the slot is deleted inside, so it must not touch itself
  // after the call.
  void on_release();

  // The cause a refusing hook handed over, or fallback; cleared by the call.
  LGCP::ErrorCause::NamedNumber TakeErrorCause(LGCP::ErrorCause::NamedNumber fallback);

  // Reporters: one signal each, with the slot's number.
  void OnTonecEvent(LGCP::TonecEvent const& event);
  void OnNumber(std::string const& number);
  void OnModem(TERM::ModemProceeding const& proceeding);
  void OnModem(TERM::ModemInformation const& information);
  void OnActivated();
  void OnDeactivated();
  void OnAbort(int code);
  void OnUserData(std::vector<char> const& data);
  // The stream signals change the stream flags; going inactive first takes
  // the slot off its source (input) or off every receiver (output).
  void OnChangeInputStream(bool active);
  void OnChangeOutputStream(bool active);
  void OnIoctlResponse(LGCP::IoctlResponse const& response);
  void OnRtpRadioEvent(TERM::RtpRadioRequest const& request);
  void OnVADEvent(LGCP::VADEvent const& event);
  void OnProtoLemzEvent(LEMZGW::ProtoLemzPackets const& packets);
  void OnSDEvent(LGCP::SDEvent const& event);
  void OnRtpEvent(LGCP::RtpEvent const& event);

  // Event converters: the fields of a receiver's or driver's event record
  // become the protocol's value and are reported. Records the slot does not
  // understand are logged and dropped.
  void processTonecEvent(int code, int timestamp);
  void processToneGenEvent();
  // Negative: that direction was not reported.
  void processVADEvent(int rx, int tx);
  void processSDEvent(int rx);
  void processToneFltEvent(int frequency, int presence);
  // Bit 29 receive VAD, bit 30 transmit VAD, bit 31 SELCAL in progress.
  void processFlagsEvent(std::uint32_t state, std::uint32_t mask);
  void processBSSEvent(float score);
  void processRtpEvent(rtp_event const& event);

protected:
  // Makes the refusal of the hook that is running answer with cause.
  void SetErrorCause(LGCP::ErrorCause::NamedNumber cause);

private:
  friend class Slots;
  friend class SlotFactory;

  int32_t id;
  // Its place in the slot manager's live list, valid while it is in the
  // table: taking it out costs no walk of the list.
  std::list<Slot*>::iterator livePos;
  std::vector<Slot*> fed;
  Slot* source;
  SlotFactory* factory;
  bool inputActive;
  bool outputActive;
  bool releasing;
  // Written by the slot manager only: the destroy whose answer waits for
  // on_release, and whether one does.
  uint32_t delayedSeq;
  bool answerPending;
  int errorCause;
};

std::ostream& operator<<(std::ostream& os, Slot const& slot);

class SlotFactory {
public:
  // Joins the head of firstFactory; it never leaves the chain.
  SlotFactory();
  virtual ~SlotFactory();
  SlotFactory(const SlotFactory&) = delete;
  SlotFactory& operator=(const SlotFactory&) = delete;

  virtual const char* GetName() const = 0;
  // A new slot, or null when the parameters are not of this kind or the
  // resource is not there.
  virtual Slot* INewSlot(LGCP::CreateParams const& params) = 0;
  virtual void Query(LGCP::Resources& resources) = 0;
  // The trunkStatus signals other services raise.
  virtual void SelfSignal(LGCP::Signal const& signal);

  Slot* NewSlot(LGCP::CreateParams const& params);
  void Remove(Slot* slot);
  const std::vector<Slot*>& GetSlots() const { return slots; }
  SlotFactory* GetNext() const { return next; }

  // The cause a refusing INewSlot handed over, or fallback; cleared.
  LGCP::ErrorCause::NamedNumber TakeErrorCause(LGCP::ErrorCause::NamedNumber fallback);

protected:
  // Makes a refused create answer with cause instead of
  // insufficientResources (when no later factory makes the slot).
  void SetErrorCause(LGCP::ErrorCause::NamedNumber cause);

private:
  std::vector<Slot*> slots;
  SlotFactory* next;
  int errorCause;
};

// The most recently built factory. Constant-initialised, so factories that
// are static objects of any translation unit find it set.
extern SlotFactory* firstFactory;
