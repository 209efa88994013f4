#include "hardware/tonec_receiver.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "board/board.h"
#include "board/dtmf.h"
#include "hardware/dev_names.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"

namespace Dtmf {

const char strRep[NumTones + 1] = "0123456789*#ABCD";
const unsigned short freq1[NumTones] = {941, 697, 697, 697, 770, 770, 770, 852, 852, 852, 941, 941, 697, 770, 852, 941};
const unsigned short freq2[NumTones] = {1336, 1209, 1336, 1477, 1209, 1336, 1477, 1209,
                                        1336, 1477, 1209, 1477, 1633, 1633, 1633, 1633};

TonesValidator::TonesValidator() {
  for (int i = 0; i < NumTones; ++i) tones_[strRep[i]] = {freq1[i], freq2[i]};
}

const std::pair<unsigned short, unsigned short>* TonesValidator::find(char key) const {
  auto it = tones_.find(key);
  return it == tones_.end() ? nullptr : &it->second;
}

const TonesValidator tonesValidator;

}  // namespace Dtmf

namespace Hardware {

namespace {

namespace Req = Board::Dtmf;

// The live receivers in order of construction.
Containers::CyclicList receivers;

// " errno="<text>"" of the errno as it was when built.
struct ErrorTail {
  Errno err;
};
std::ostream& operator<<(std::ostream& out, const ErrorTail& e) { return out << " errno=\"" << e.err << '"'; }

const unsigned short kDefaultAmplitude = 16384;
const unsigned kDefaultDuration = 70;
const unsigned short kSelcalAmplitude = 12000;
const unsigned short kWaitFreq = 425, kWaitAmplitude = 2048;
const unsigned kWaitTone = 1000, kWaitPause = 3000;

}  // namespace

// ----- receiver

TonecReceiver::TonecReceiver() : dtmfString(new LGCP::TranslateDtmfParams) { receivers.AddToTail(&receiverLink); }

TonecReceiver::~TonecReceiver() = default;

bool TonecReceiver::configureDTMF(LGCP::DTMFParams const& params) {
  return TonecReceiverService::instance().configureDTMF(tonec_timeslot(), params);
}

bool TonecReceiver::enableDTMF(bool on) {
  const bool done = TonecReceiverService::instance().enableDTMF(*this, on);
  if (done) dtmfOn = on;
  return done;
}

bool TonecReceiver::disableDTMF() { return enableDTMF(false); }

bool TonecReceiver::echoCancel(bool on) {
  const bool done = TonecReceiverService::instance().echoCancel(tonec_timeslot(), on);
  if (done) echoOn = on;
  return done;
}

bool TonecReceiver::enableDTMFReject(bool on) {
  const bool done = TonecReceiverService::instance().enableDTMFReject(tonec_timeslot(), on);
  if (done) dtmfRejectOn = on;
  return done;
}

bool TonecReceiver::enableIVA(bool on) {
  const bool done = TonecReceiverService::instance().enableIVA(*this, on);
  if (done) ivaOn = on;
  return done;
}

bool TonecReceiver::configureIVA(LGCP::IVAParams const& params) {
  return TonecReceiverService::instance().configureIVA(*this, params);
}

void TonecReceiver::translateSelcal(TERM::SelcalCommand const& command) {
  TonecReceiverService::instance().translateSelcal(*this, command);
}

bool TonecReceiver::enableToneGenerator(unsigned short f1, unsigned short f2, unsigned short amp1,
                                        unsigned short amp2) {
  const bool done = TonecReceiverService::instance().enableToneGenerator(tonec_timeslot(), f1, f2, amp1, amp2);
  // Silence (amplitude 0) keeps the generator on; only all four zero stop it.
  if (done) generatorOn = (f1 | f2 | amp1 | amp2) != 0;
  return done;
}

bool TonecReceiver::enableSilence() { return enableToneGenerator(1000, 1000, 0, 0); }

bool TonecReceiver::disableToneGenerator(bool force) {
  if (!force && !inDTMFTransmit) return false;
  if (inDTMFTransmit) {
    toneTimer.reset();
    inDTMFTransmit = false;
  }
  return enableToneGenerator(0, 0, 0, 0);
}

bool TonecReceiver::dtmfIoctl(LGCP::IoctlParams const& p, bool& done) {
  using I = LGCP::IoctlParams;
  switch (p.currentSelection()) {
    case I::translateDTMF::Id::value:
      translateDTMF(p.get_translateDTMF());
      done = true;
      return true;
    case I::dtmf_params::Id::value:
      done = configureDTMF(p.get_dtmf_params());
      return true;
    default:
      return false;
  }
}

void TonecReceiver::translateDTMF(LGCP::TranslateDtmfParams const& params) {
  // A string in progress goes on with the new digits at its next step.
  *dtmfString = params;
  if (inDTMFTransmit) return;
  inDTMFTransmit = true;
  on_DTMFPauseFinish(&toneTimer);
}

void TonecReceiver::on_DTMFPauseFinish(Timer*) {
  ASN1::SEQUENCE_OF<LGCP::DualTone>& digits = dtmfString->ref_digits();
  if (digits.empty()) {
    disableToneGenerator(true);
    tone_gen_complete();
    return;
  }
  const LGCP::DualTone& tone = digits[0];
  const auto f1 = static_cast<unsigned short>(tone.get_freq1().getValue());
  const auto f2 = static_cast<unsigned short>(tone.get_freq2().getValue());
  const auto amp1 =
      dtmfString->amp1_isPresent() ? static_cast<unsigned short>(dtmfString->get_amp1().getValue()) : kDefaultAmplitude;
  const auto amp2 =
      dtmfString->amp2_isPresent() ? static_cast<unsigned short>(dtmfString->get_amp2().getValue()) : kDefaultAmplitude;
  enableToneGenerator(f1, f2, amp1, amp2);
  digits.erase(digits.begin());
  const unsigned duration = dtmfString->toneDuration_isPresent()
                                ? static_cast<unsigned>(dtmfString->get_toneDuration().getValue())
                                : kDefaultDuration;
  toneTimer.set<TonecReceiver>(duration, &TonecReceiver::on_DTMFToneFinish, this);
}

void TonecReceiver::on_DTMFToneFinish(Timer*) {
  enableSilence();
  const unsigned pause = dtmfString->pauseDuration_isPresent()
                             ? static_cast<unsigned>(dtmfString->get_pauseDuration().getValue())
                             : kDefaultDuration;
  toneTimer.set<TonecReceiver>(pause, &TonecReceiver::on_DTMFPauseFinish, this);
}

void TonecReceiver::activateAudibleCall() {
  // The string's pending step is replaced: end it here, so that nothing is
  // left waiting for it and the tone can be cancelled.
  if (inDTMFTransmit) {
    inDTMFTransmit = false;
    toneTimer.reset();
    tone_gen_complete();
  }
  on_waitPauseFinish(&toneTimer);
}

void TonecReceiver::on_waitPauseFinish(Timer*) {
  enableToneGenerator(kWaitFreq, 0, kWaitAmplitude, kWaitAmplitude);
  toneTimer.set<TonecReceiver>(kWaitTone, &TonecReceiver::on_waitToneFinish, this);
}

void TonecReceiver::on_waitToneFinish(Timer*) {
  enableSilence();
  toneTimer.set<TonecReceiver>(kWaitPause, &TonecReceiver::on_waitPauseFinish, this);
}

void TonecReceiver::cancelAudibleCall() {
  if (inDTMFTransmit) return;
  // The cadence's pending step would switch the tone on again.
  toneTimer.reset();
  disableToneGenerator(true);
}

void TonecReceiver::CleanBeforeDestroy() {
  if (dtmfOn) disableDTMF();
  if (ivaOn) enableIVA(false);
  if (dtmfRejectOn) enableDTMFReject(false);
  // A digit string or the wait tone cadence ends with the slot, and the
  // generator must not go on playing for the next one on the timeslot.
  toneTimer.reset();
  inDTMFTransmit = false;
  if (generatorOn) enableToneGenerator(0, 0, 0, 0);
  if (echoOn) echoCancel(false);
}

// ----- service

TonecReceiverService& TonecReceiverService::instance() {
  static TonecReceiverService theInstance;
  return theInstance;
}

TonecReceiverService::TonecReceiverService()
    : RecordDevice({GetDTMFDevName, O_RDONLY | O_NONBLOCK, "TonecReceiverService::OnEvent", "tonec", "DTMF"}) {
  init();
}

bool TonecReceiverService::configureDTMF(unsigned ts, LGCP::DTMFParams const& params) {
  if (!opened()) {
    std::cerr << "configure DTMF fail: (interface not opened)"
              << " timeslot=" << ts << std::endl;
    return false;
  }
  Req::ConfigureDetector rec;
  std::memset(&rec, 0, sizeof rec);
  rec.timeslot = ts;
  rec.twist = params.get_threshold().get_twist().getValue();
  rec.ratio = params.get_threshold().get_ratio().getValue();
  rec.noise = params.get_threshold().get_noise().getValue();
  rec.silence = params.get_level().get_silence().getValue();
  if (request(Req::kConfigureDetector, &rec) == -1) {
    ErrorTail tail;
    std::cerr << "DTMF_CONFIGURE_DETECTOR fail:"
              << " timeslot=" << ts << tail << std::endl;
    return false;
  }
  std::clog << "DTMF_CONFIGURE_DETECTOR"
            << " ts=" << ts << " twist=" << rec.twist << " ratio=" << rec.ratio << " noise=" << rec.noise
            << " silence=" << rec.silence << std::endl;
  return true;
}

bool TonecReceiverService::enableDTMF(TonecReceiver& receiver, bool on) {
  if (receiver.detectorOn == on) return true;
  const unsigned ts = receiver.tonec_timeslot();
  opened();
  if (on) {
    if (++lastDetectorId == 0) lastDetectorId = 1;
    Req::EnableDetector rec;
    std::memset(&rec, 0, sizeof rec);
    rec.timeslot = ts;
    rec.id = lastDetectorId;
    if (request(Req::kEnableDetector, &rec) == -1) {
      ErrorTail tail;
      std::cerr << "DTMF_ENABLE_DETECTOR fail:"
                << " timeslot=" << ts << " id=" << rec.id << tail << std::endl;
      return false;
    }
    receiver.detectorId = rec.id;
    receiver.detectorOn = true;
    std::cerr << "DTMF_ENABLE_DETECTOR done:"
              << " timeslot=" << ts << " id=" << rec.id << std::endl;
    return true;
  }
  if (requestValue(Req::kDisableDetector, ts) == -1) {
    ErrorTail tail;
    std::cerr << "DTMF_DISABLE_DETECTOR fail:"
              << " timeslot=" << ts << tail << std::endl;
    return false;
  }
  receiver.detectorOn = false;
  std::cerr << "DTMF_DISABLE_DETECTOR done:"
            << " timeslot=" << ts << std::endl;
  return true;
}

bool TonecReceiverService::switchRequest(unsigned ts, std::uint32_t request, const char* name, const char* suffix) {
  opened();
  if (requestValue(request, ts) == -1) {
    ErrorTail tail;
    std::cerr << name << suffix << " fail:"
              << " timeslot=" << ts << tail << std::endl;
    return false;
  }
  std::clog << name << suffix << "[" << ts << "] ok" << std::endl;
  return true;
}

bool TonecReceiverService::echoCancel(unsigned ts, bool on) {
  return switchRequest(ts, on ? Req::kLmsOn : Req::kLmsOff, "CHANNEL_LMS", on ? "_ON" : "_OFF");
}

bool TonecReceiverService::enableDTMFReject(unsigned ts, bool on) {
  return switchRequest(ts, on ? Req::kRejectionEnable : Req::kRejectionDisable, "DTMF_REJECTION",
                       on ? "_ENABLE" : "_DISABLE");
}

bool TonecReceiverService::enableIVA(TonecReceiver& receiver, bool on) {
  if (receiver.ivaDetectorOn == on) return true;
  const unsigned ts = receiver.tonec_timeslot();
  if (!switchRequest(ts, on ? Req::kIvaEnable : Req::kIvaDisable, "IVA_DETECTOR", on ? "_ENABLE" : "_DISABLE"))
    return false;
  receiver.ivaDetectorOn = on;
  return true;
}

bool TonecReceiverService::configureIVA(TonecReceiver& receiver, LGCP::IVAParams const& params) {
  const unsigned ts = receiver.tonec_timeslot();
  if (!opened()) {
    std::cerr << "configure IVA fail: (interface not opened)"
              << " timeslot=" << ts << std::endl;
    return false;
  }
  Req::IvaConfigure rec;
  std::memset(&rec, 0, sizeof rec);
  rec.timeslot = ts;
  rec.levelDB = params.get_det_lvl_dB().getValue();
  if (request(Req::kIvaConfigure, &rec) == -1) {
    ErrorTail tail;
    std::cerr << "IVA_CONFIGURE_DETECTOR fail:"
              << " timeslot=" << ts << tail << std::endl;
    return false;
  }
  std::clog << "IVA_CONFIGURE_DETECTOR"
            << " ts=" << ts << " det_lvl_dB=" << rec.levelDB << std::endl;
  return true;
}

bool TonecReceiverService::enableToneGenerator(unsigned ts, unsigned short f1, unsigned short f2, unsigned short amp1,
                                               unsigned short amp2) {
  opened();
  Req::Dial rec;
  std::memset(&rec, 0, sizeof rec);
  rec.timeslot = ts;
  rec.freq1 = f1;
  rec.freq2 = f2;
  rec.amp1 = amp1;
  rec.amp2 = amp2;
  if (request(Req::kDial, &rec) == -1) {
    ErrorTail tail;
    std::cerr << "DTMF_DIAL fail:"
              << " timeslot=" << ts << tail << std::endl;
    return false;
  }
  return true;
}

void TonecReceiverService::translateSelcal(TonecReceiver& receiver, TERM::SelcalCommand const& command) {
  const unsigned ts = receiver.tonec_timeslot();
  const std::string& signs = command.get_signs();
  if (signs.size() < Req::kSelcalSigns) {
    std::cerr << "SELCAL_DIAL fail:"
              << " timeslot=" << ts << " incorect signs:" << signs << std::endl;
    return;
  }
  opened();
  Req::SelcalDial rec;
  std::memset(&rec, 0, sizeof rec);
  rec.timeslot = ts;
  rec.amplitude = command.amp_isPresent() ? static_cast<std::uint16_t>(command.get_amp().getValue()) : kSelcalAmplitude;
  std::memcpy(rec.signs, signs.data(), Req::kSelcalSigns);
  if (request(Req::kSelcalDial, &rec) == -1) {
    ErrorTail tail;
    std::cerr << "SELCAL_DIAL fail:"
              << " timeslot=" << ts << tail << std::endl;
  }
}

void TonecReceiverService::deliver(const Req::Event& rec) {
  eventLog.line(std::clog) << "dtmf event: "
                           << " timestamp=" << rec.timestamp << " timeslot=" << rec.timeslot << " code=" << rec.code
                           << " id=" << rec.id << std::endl;
  TonecReceiver* receiver = nullptr;
  for (Containers::CyclicList* node : receivers) {
    TonecReceiver* r = TonecReceiver::FromLink(node);
    if (r->tonec_timeslot() == rec.timeslot) {
      receiver = r;
      break;
    }
  }
  if (!receiver) {
    droppedLog.line(std::cerr) << "receive tonec event from unknown timeslot " << rec.timeslot << std::endl;
    return;
  }
  const bool iva = rec.code >= Req::kFirstIvaCode;
  if (!(iva ? receiver->ivaDetectorOn : receiver->detectorOn)) {
    droppedLog.line(std::clog) << (iva ? "ignore spurious dtmf event (IVA disabled): "
                                       : "ignore spurious dtmf event (DTMF disabled): ")
                               << " timestamp=" << rec.timestamp << " timeslot=" << rec.timeslot << " code=" << rec.code
                               << " id=" << rec.id << std::endl;
    return;
  }
  if (receiver->detectorId != rec.id) {
    droppedLog.line(std::clog) << "ignore spurious dtmf event: "
                               << " timestamp=" << rec.timestamp << " timeslot=" << rec.timeslot << " code=" << rec.code
                               << " id=" << rec.id << " rid=" << receiver->detectorId << std::endl;
    return;
  }
  receiver->tonec_event(TonecReceiver::Params{rec.code, rec.timestamp});
}

}  // namespace Hardware
