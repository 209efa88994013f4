#include "slots/slot.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <iostream>

#include "board/rtp.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "slots/connect.h"
#include "slots/slots.h"

SlotFactory* firstFactory = nullptr;

namespace {

const int kNoCause = -1;
const int kMaxSlot = 1023;

}  // namespace

// Slot ------------------------------------------------------------------------

Slot::Slot()
    : id(-1),
      source(nullptr),
      factory(nullptr),
      inputActive(false),
      outputActive(false),
      releasing(false),
      delayedSeq(0),
      answerPending(false),
      errorCause(kNoCause) {}

Slot::~Slot() {}

int Slot::GetTrunk() { return -1; }
int Slot::GetTrunkTimeSlot() { return -1; }
void Slot::OnTrunkStatus(unsigned int, ACP::TrunkState::NamedNumber const&) {}
void Slot::IAfterCreate() {}
bool Slot::IBeforeDestroy() { return true; }
bool Slot::IActivate(TERM::TermActivateParams const&) { return false; }
bool Slot::IDeactivate() { return false; }
bool Slot::IUserData(std::vector<char> const&) { return false; }
bool Slot::Ioctl(LGCP::IoctlParams const&) { return false; }
int Slot::GetConnectionPriority() { return 0; }
bool Slot::IHwConnectTransmitter(Slot& receiver) { return MuxConnect(*this, receiver); }
bool Slot::IHwConnectReceiver(Slot& from) { return MuxConnect(from, *this); }
bool Slot::IHwDisconnectTransmitter(Slot& receiver) { return MuxDisconnect(receiver); }
bool Slot::IHwDisconnectReceiver(Slot&) { return MuxDisconnect(*this); }
bool Slot::IOnOutputStream() { return false; }
bool Slot::IOnInputStream() { return false; }
void Slot::IOnOutputRelease() {}
void Slot::IOnInputRelease() {}
int Slot::IGetTransmitChannel() { return -1; }
int Slot::IGetReceiveChannel() { return -1; }

std::ostream& Slot::Put(std::ostream& os) const {
  if (id >= 0 && id <= kMaxSlot) {
    const char fill = os.fill('0');
    os << std::setw(2) << id;
    os.fill(fill == '0' ? ' ' : fill);
  } else if (id == -1) {
    os << "na";
  } else {
    os << 'i' << id;
  }
  return os << ':' << GetName();
}

std::ostream& operator<<(std::ostream& os, Slot const& slot) { return slot.Put(os); }

void Slot::SendSignal(LGCP::Signal const& signal) {
  // Outside the message's slot range: the signal would not even encode.
  if (id < 0 || id > kMaxSlot) {
    std::cerr << "slot " << *this << ": signal " << signal.getSelectionName() << " without slot number, not sent"
              << std::endl;
    return;
  }
  Slots::instance().SendSlotSignal(unsigned(id), signal);
}

void Slot::LogicalConnect(Slot& from) {
  source = &from;
  std::vector<Slot*>& list = from.fed;
  list.insert(std::lower_bound(list.begin(), list.end(), this, std::less<Slot*>()), this);
  list.erase(std::unique(list.begin(), list.end()), list.end());
}

void Slot::LogicalDisconnect() {
  if (!source) return;
  std::vector<Slot*>& list = source->fed;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  source = nullptr;
}

bool Slot::BeforeDestroy() {
  if (!IBeforeDestroy()) return false;
  if (factory)
    factory->Remove(this);
  else
    std::cerr << "slot: internal error!!! BeforeDestroy() not connected to factory" << std::endl;
  return true;
}

void Slot::on_release() {
  if (!releasing) return;
  if (factory) factory->Remove(this);
  Slots::instance().on_release(this);
}

void Slot::SetErrorCause(LGCP::ErrorCause::NamedNumber cause) { errorCause = int(cause); }

LGCP::ErrorCause::NamedNumber Slot::TakeErrorCause(LGCP::ErrorCause::NamedNumber fallback) {
  const int cause = errorCause;
  errorCause = kNoCause;
  return cause == kNoCause ? fallback : LGCP::ErrorCause::NamedNumber(cause);
}

// Reporters -------------------------------------------------------------------

void Slot::OnTonecEvent(LGCP::TonecEvent const& event) {
  LGCP::Signal s;
  s.select_tonec(event);
  SendSignal(s);
}

void Slot::OnNumber(std::string const& number) {
  LGCP::Signal s;
  s.select_number(number);
  SendSignal(s);
}

void Slot::OnModem(TERM::ModemProceeding const& proceeding) {
  LGCP::Signal s;
  s.select_modemProceeding(proceeding);
  SendSignal(s);
}

void Slot::OnModem(TERM::ModemInformation const& information) {
  LGCP::Signal s;
  s.select_modemInformation(information);
  SendSignal(s);
}

void Slot::OnActivated() {
  LGCP::Signal s;
  s.select_activated();
  SendSignal(s);
}

void Slot::OnDeactivated() {
  LGCP::Signal s;
  s.select_deactivated(LGCP::DeactivateCause::networkError);
  SendSignal(s);
}

void Slot::OnAbort(int code) {
  LGCP::Signal s;
  s.select_abort(code);
  SendSignal(s);
}

void Slot::OnUserData(std::vector<char> const& data) {
  LGCP::Signal s;
  s.select_userData(data);
  SendSignal(s);
}

void Slot::OnChangeInputStream(bool active) {
  if (active == inputActive) return;
  LGCP::Signal s;
  if (active) {
    s.select_receiver().select_active(IGetReceiveChannel());
  } else {
    s.select_receiver().select_inactive();
    Disconnect(*this);
  }
  inputActive = active;
  SendSignal(s);
}

void Slot::OnChangeOutputStream(bool active) {
  if (active == outputActive) return;
  LGCP::Signal s;
  if (active) {
    s.select_transmitter().select_active(IGetTransmitChannel());
  } else {
    s.select_transmitter().select_inactive();
    const size_t n = fed.size();
    for (size_t i = 0; i < n; ++i) {
      if (fed.empty()) {
        std::cerr << "mux: internal error: expected slots not exists." << std::endl;
        break;
      }
      Disconnect(*fed.front());
    }
  }
  outputActive = active;
  SendSignal(s);
}

void Slot::OnIoctlResponse(LGCP::IoctlResponse const& response) {
  LGCP::Signal s;
  s.select_ioctl(response);
  SendSignal(s);
}

void Slot::OnRtpRadioEvent(TERM::RtpRadioRequest const& request) {
  LGCP::Signal s;
  s.select_rtpExt(request);
  SendSignal(s);
}

void Slot::OnVADEvent(LGCP::VADEvent const& event) {
  LGCP::Signal s;
  s.select_vad(event);
  SendSignal(s);
}

void Slot::OnProtoLemzEvent(LEMZGW::ProtoLemzPackets const& packets) {
  LGCP::Signal s;
  s.select_protoLemz(packets);
  SendSignal(s);
}

void Slot::OnSDEvent(LGCP::SDEvent const& event) {
  LGCP::Signal s;
  s.select_sd(event);
  SendSignal(s);
}

void Slot::OnRtpEvent(LGCP::RtpEvent const& event) {
  LGCP::Signal s;
  s.select_rtp(event);
  SendSignal(s);
}

// Event converters --------------------------------------------------------------

void Slot::processTonecEvent(int code, int timestamp) {
  LGCP::TonecEvent event;
  event.set_timestamp(timestamp);
  LGCP::TonecCode& what = event.set_event();
  if (code == 17) {
    what.select_ced();
  } else if (code == 18) {
    what.select_cng();
  } else if (code >= 0 && code <= 127) {
    what.select_dtmf(unsigned(code));
  } else {
    const int iva = code >> 8;
    if (iva >= 1 && iva <= 20) {
      what.select_iva().select_code(unsigned(iva));
    } else if (iva == 21) {
      what.select_iva().select_ringoff();
    } else {
      std::cerr << "bad DTMF code, ignored." << std::endl;
      return;
    }
  }
  OnTonecEvent(event);
}

void Slot::processToneGenEvent() {
  LGCP::TonecEvent event;
  event.set_timestamp(0);
  event.set_event().select_dtmfDone();
  OnTonecEvent(event);
}

void Slot::processVADEvent(int rx, int tx) {
  LGCP::VADEvent event;
  if (rx >= 0) event.set_vad_rx(rx > 0);
  if (tx >= 0) event.set_vad_tx(tx > 0);
  if (rx < 0 && tx < 0) {
    std::cerr << "bad VAD event, ignored." << std::endl;
    return;
  }
  OnVADEvent(event);
}

void Slot::processSDEvent(int rx) {
  if (rx < 0) {
    std::cerr << "bad SD event, ignored." << std::endl;
    return;
  }
  LGCP::SDEvent event;
  event.set_sd_rx(rx > 0);
  OnSDEvent(event);
}

void Slot::processToneFltEvent(int frequency, int presence) {
  LGCP::TonecEvent event;
  event.set_timestamp(0);
  LGCP::TonePresence& tone = event.set_event().select_tone_presence();
  tone.set_freq(frequency);
  tone.set_presence(presence > 0);
  OnTonecEvent(event);
}

void Slot::processFlagsEvent(std::uint32_t state, std::uint32_t mask) {
  const std::uint32_t rxBit = 1u << 29, txBit = 1u << 30, selcalBit = 1u << 31;
  if (mask & (rxBit | txBit)) {
    LGCP::VADEvent event;
    if (mask & rxBit) event.set_vad_rx((state & rxBit) != 0);
    if (mask & txBit) event.set_vad_tx((state & txBit) != 0);
    OnVADEvent(event);
  }
  if (mask & selcalBit) {
    LGCP::Signal s;
    s.select_selcal().set_in_progress((state & selcalBit) != 0);
    SendSignal(s);
  }
}

void Slot::processBSSEvent(float score) {
  char text[31];
  std::snprintf(text, sizeof text, "%4.6f", double(score));
  LGCP::Signal s;
  s.select_bss().set_score(std::string(text));
  SendSignal(s);
}

void Slot::processRtpEvent(rtp_event const& event) {
  if (event.type != Board::Rtp::kPayloadDetected) return;
  LGCP::RtpEvent rtp;
  LGCP::RtpPDEvent& pd = rtp.select_pd();
  pd.set_value(event.value);
  pd.set_timeout(event.timeout);
  OnRtpEvent(rtp);
}

// SlotFactory -------------------------------------------------------------------

SlotFactory::SlotFactory() : next(firstFactory), errorCause(kNoCause) { firstFactory = this; }

SlotFactory::~SlotFactory() {}

void SlotFactory::SelfSignal(LGCP::Signal const&) {}

Slot* SlotFactory::NewSlot(LGCP::CreateParams const& params) {
  Slot* slot = INewSlot(params);
  if (!slot) return nullptr;
  slot->factory = this;
  slots.push_back(slot);
  return slot;
}

void SlotFactory::Remove(Slot* slot) {
  std::vector<Slot*>::iterator at = std::find(slots.begin(), slots.end(), slot);
  if (at != slots.end()) slots.erase(at);
}

void SlotFactory::SetErrorCause(LGCP::ErrorCause::NamedNumber cause) { errorCause = int(cause); }

LGCP::ErrorCause::NamedNumber SlotFactory::TakeErrorCause(LGCP::ErrorCause::NamedNumber fallback) {
  const int cause = errorCause;
  errorCause = kNoCause;
  return cause == kNoCause ? fallback : LGCP::ErrorCause::NamedNumber(cause);
}
