#include "hardware/dsproc_receiver.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "board/board.h"
#include "control/trace_ctl.h"
#include "foundation/ext_text.h"
#include "hardware/dev_names.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"

namespace Hardware {

namespace {

namespace Req = Board::Dsp;

// The live receivers in order of construction.
Containers::CyclicList receivers;

// " errno="<text>"" of the errno as it was when built.
struct ErrorTail {
  Errno err;
};
std::ostream& operator<<(std::ostream& out, const ErrorTail& e) { return out << " errno=\"" << e.err << '"'; }

bool Traced() { return traces.signalling.events; }

}  // namespace

// ----- receiver

DSProcReceiver::DSProcReceiver() { receivers.AddToTail(&receiverLink); }

DSProcReceiver::~DSProcReceiver() = default;

bool DSProcReceiver::configureVAD(LGCP::VADParams const& params) {
  return DSProcReceiverService::instance().configureVAD(dsproc_timeslot(), params);
}

bool DSProcReceiver::enableVAD(bool on) { return DSProcReceiverService::instance().enableVAD(*this, on); }
bool DSProcReceiver::disableVAD() { return enableVAD(false); }

bool DSProcReceiver::configureSD() { return DSProcReceiverService::instance().configureSD(dsproc_timeslot()); }

bool DSProcReceiver::enableSD(bool on) { return DSProcReceiverService::instance().enableSD(*this, on); }
bool DSProcReceiver::disableSD() { return enableSD(false); }

bool DSProcReceiver::enableBSS(bool on) { return DSProcReceiverService::instance().enableBSS(*this, on); }
bool DSProcReceiver::disableBSS() { return enableBSS(false); }

bool DSProcReceiver::enableNG(bool on) { return DSProcReceiverService::instance().enableNG(*this, on); }
bool DSProcReceiver::disableNG() { return enableNG(false); }

bool DSProcReceiver::enableMute(bool rx, bool tx) {
  return DSProcReceiverService::instance().enableMute(*this, rx, tx);
}
bool DSProcReceiver::disableMute() { return enableMute(false, false); }

bool DSProcReceiver::configureDelays(unsigned rx, unsigned tx) {
  const bool done = DSProcReceiverService::instance().configureDelays(dsproc_timeslot(), rx, tx);
  if (done) delaysSet = rx != 0 || tx != 0;
  return done;
}

bool DSProcReceiver::configureRxGain(unsigned char gainDB) {
  const bool done = DSProcReceiverService::instance().configureRxGain(dsproc_timeslot(), gainDB);
  if (done) rxGainSet = gainDB != 0;
  return done;
}

bool DSProcReceiver::configureToneFilter(unsigned freq, unsigned enable, int durationMs, int levelDB) {
  return DSProcReceiverService::instance().configureToneFilter(dsproc_timeslot(), freq, enable, durationMs, levelDB);
}

bool DSProcReceiver::disableToneAll() { return DSProcReceiverService::instance().disableToneAll(*this); }

bool DSProcReceiver::dsprocIoctl(LGCP::IoctlParams const& p, bool& done) {
  using I = LGCP::IoctlParams;
  switch (p.currentSelection()) {
    case I::vad_enable::Id::value:
      done = enableVAD(p.get_vad_enable());
      return true;
    case I::vad_disable::Id::value:
      done = disableVAD();
      return true;
    case I::vad_params::Id::value:
      done = configureVAD(p.get_vad_params());
      return true;
    case I::sd_enable::Id::value:
      done = enableSD(p.get_sd_enable());
      return true;
    case I::sd_disable::Id::value:
      done = disableSD();
      return true;
    case I::sd_params::Id::value:
      done = configureSD();
      return true;
    case I::tone_filter::Id::value:
      configureToneFilter(p.get_tone_filter());
      done = true;
      return true;
    default:
      return false;
  }
}

void DSProcReceiver::configureDelays(LGCP::Delays const& d) {
  configureDelays(d.rx_isPresent() ? static_cast<unsigned>(d.get_rx().getValue()) : 0u,
                  d.tx_isPresent() ? static_cast<unsigned>(d.get_tx().getValue()) : 0u);
}

// A negative gain travels as its two's-complement byte.
void DSProcReceiver::configureRxGain(LGCP::Gain const& gain) {
  configureRxGain(static_cast<unsigned char>(gain.get_gainDB().getValue() & 255));
}

void DSProcReceiver::configureToneFilter(LGCP::ToneFilter const& f) {
  configureToneFilter(static_cast<unsigned>(f.get_freq().getValue()), f.get_enable() ? 1u : 0u,
                      f.get_duration_th_msec().getValue(), f.get_det_level_dB().getValue());
}

void DSProcReceiver::CleanBeforeDestroy() {
  if (vadState > 0) enableVAD(false);
  if (sdState > 0) disableSD();
  if (bssState > 0) disableBSS();
  if (ngState > 0) disableNG();
  if (muteRx > 0 || muteTx > 0) disableMute();
  if (delaysSet) configureDelays(0, 0);
  if (rxGainSet) configureRxGain(0);
  disableToneAll();
}

// ----- service

struct DSProcReceiverService::FunctionSpec {
  std::int32_t DSProcReceiver::*state;
  std::uint32_t DSProcReceiver::*id;
  std::uint32_t mask;
  const char* enableDone;
  const char* enableFail;
  const char* disableDone;
  const char* disableFail;
};

DSProcReceiverService& DSProcReceiverService::instance() {
  static DSProcReceiverService theInstance;
  return theInstance;
}

DSProcReceiverService::DSProcReceiverService()
    : RecordDevice({GetDSPDevName, O_RDWR | O_NONBLOCK, "DSProcReceiverService::OnEvent", "dsproc", "VAD"}) {
  init();
}

std::uint32_t DSProcReceiverService::nextId() {
  if (++lastFeatureId == 0) lastFeatureId = 1;
  return lastFeatureId;
}

bool DSProcReceiverService::configure(unsigned ts, Req::Configure& rec, const char* failText) {
  rec.timeslot = ts;
  if (request(Req::kConfigure, &rec) == -1) {
    ErrorTail tail;
    std::cerr << failText << " timeslot=" << ts << tail << std::endl;
    return false;
  }
  return true;
}

namespace {

bool NotOpened(const char* text, unsigned ts) {
  std::cerr << text << " timeslot=" << ts << std::endl;
  return false;
}

Req::Configure Record(Req::ConfigureType type) {
  Req::Configure rec;
  std::memset(&rec, 0, sizeof rec);
  rec.type = type;
  return rec;
}

}  // namespace

bool DSProcReceiverService::configureVAD(unsigned ts, LGCP::VADParams const& params) {
  if (!opened()) return NotOpened("configure VAD fail: (interface not opened)", ts);
  Req::Configure rec = Record(Req::kConfigVad);
  const int version = requestValue(Req::kVersion, 0);
  if (version == 2) {
    if (!params.v2_isSelected()) {
      std::cerr << "DSPROC_CONFIGURE VAD: params not specified for v2: "
                << " timeslot=" << ts << std::endl;
      return false;
    }
    const TERM::VADParamsV2& v2 = params.get_v2();
    rec.data.vadV2.voiceMs = static_cast<std::uint16_t>(v2.get_voice_th_msec().getValue());
    rec.data.vadV2.silenceMs = static_cast<std::uint16_t>(v2.get_silence_th_msec().getValue());
    rec.data.vadV2.energyDB = static_cast<std::int8_t>(v2.get_e_th_dB().getValue());
  } else {
    for (int i = 0; i < 3; ++i) rec.data.vadV1.word[i] = Req::kVadV1Words[i];
  }
  if (!configure(ts, rec, "DSPROC_CONFIGURE VAD fail:")) return false;
  std::clog << "DSPROC_CONFIGURE VAD"
            << " ts=" << ts << std::endl;
  return true;
}

bool DSProcReceiverService::configureSD(unsigned ts) {
  if (!opened()) return NotOpened("configure SD fail: (interface not opened)", ts);
  Req::Configure rec = Record(Req::kConfigSd);
  if (!configure(ts, rec, "DSPROC_CONFIGURE SD fail:")) return false;
  std::clog << "DSPROC_CONFIGURE SD"
            << " ts=" << ts << std::endl;
  return true;
}

bool DSProcReceiverService::configureDelays(unsigned ts, unsigned rx, unsigned tx) {
  if (!opened()) return NotOpened("configure Delays fail: (interface not opened)", ts);
  Req::Configure rec = Record(Req::kConfigDelays);
  rec.data.delays.rx = rx;
  rec.data.delays.tx = tx;
  if (!configure(ts, rec, "DSPROC_CONFIGURE DELAYS fail:")) return false;
  std::clog << "DSPROC_CONFIGURE DELAYS"
            << " ts=" << ts << " rx=" << rx << " tx=" << tx << std::endl;
  return true;
}

bool DSProcReceiverService::configureRxGain(unsigned ts, unsigned char gainDB) {
  if (!opened()) return NotOpened("Configure Rx gain fail: (interface not opened)", ts);
  Req::Configure rec = Record(Req::kConfigRxGain);
  rec.data.rxGain.gainDB = gainDB;
  if (!configure(ts, rec, "DSPROC_CONFIGURE Rx Gain fail:")) return false;
  std::clog << "DSPROC_CONFIGURE RX GAIN"
            << " ts=" << ts << " gain_dB=" << static_cast<unsigned>(gainDB) << std::endl;
  return true;
}

bool DSProcReceiverService::configureToneFilter(unsigned ts, unsigned freq, unsigned enable, int durationMs,
                                                int levelDB) {
  if (!opened()) return NotOpened("Configure Tone Filter fail: (interface not opened)", ts);
  Req::Configure rec = Record(Req::kConfigToneFilter);
  rec.data.toneFilter.freq = static_cast<std::uint16_t>(freq);
  rec.data.toneFilter.enable = static_cast<std::uint8_t>(enable);
  rec.data.toneFilter.durationMs = static_cast<std::uint16_t>(durationMs);
  rec.data.toneFilter.levelDB = static_cast<std::uint8_t>(levelDB);
  if (!configure(ts, rec, "DSPROC_CONFIGURE Tone Filter fail:")) return false;
  std::clog << "DSPROC_CONFIGURE TONE FILTER"
            << " ts=" << ts << " freq=" << freq << ", en=" << enable << ", dur_th_msec=" << durationMs
            << ", det_lvl_dB=" << levelDB << std::endl;
  return true;
}

bool DSProcReceiverService::disableToneAll(DSProcReceiver& receiver) {
  const unsigned ts = receiver.dsproc_timeslot();
  if (!opened()) return NotOpened("Disable All Tone fail: (interface not opened)", ts);
  Req::Enable rec;
  std::memset(&rec, 0, sizeof rec);
  rec.timeslot = ts;
  rec.mask = Req::kToneAll;
  if (request(Req::kDisable, &rec) == -1) {
    ErrorTail tail;
    std::cerr << "Disable All Tone fail:"
              << " timeslot=" << ts << tail << std::endl;
    return false;
  }
  std::clog << "DISABLE ALL TONE done: "
            << " ts=" << ts << std::endl;
  return true;
}

bool DSProcReceiverService::enable(DSProcReceiver& receiver, const FunctionSpec& spec, bool on) {
  std::int32_t& state = receiver.*spec.state;
  if (state >= 0 && (state != 0) == on) return true;
  const unsigned ts = receiver.dsproc_timeslot();
  opened();
  Req::Enable rec;
  std::memset(&rec, 0, sizeof rec);
  rec.timeslot = ts;
  rec.mask = spec.mask;
  if (on) {
    rec.id = nextId();
    if (request(Req::kEnable, &rec) == -1) {
      ErrorTail tail;
      std::cerr << spec.enableFail << " timeslot=" << ts << " id=" << rec.id << tail << std::endl;
      return false;
    }
    receiver.*spec.id = rec.id;
    state = 1;
    std::cerr << spec.enableDone << " timeslot=" << ts << " id=" << rec.id << std::endl;
    return true;
  }
  if (request(Req::kDisable, &rec) == -1) {
    ErrorTail tail;
    std::cerr << spec.disableFail << " timeslot=" << ts << tail << std::endl;
    return false;
  }
  state = 0;
  std::cerr << spec.disableDone << " timeslot=" << ts << std::endl;
  return true;
}

bool DSProcReceiverService::enableVAD(DSProcReceiver& receiver, bool on) {
  static const FunctionSpec spec = {&DSProcReceiver::vadState, &DSProcReceiver::vadId,    Req::kVad,
                                    "DSPROC_ENABLE VAD done:", "DSPROC_ENABLE VAD fail:", "DSPROC_DISABLE VAD done:",
                                    "DSPROC_DISABLE VAD fail:"};
  return enable(receiver, spec, on);
}

bool DSProcReceiverService::enableSD(DSProcReceiver& receiver, bool on) {
  static const FunctionSpec spec = {&DSProcReceiver::sdState, &DSProcReceiver::sdId,    Req::kSd,
                                    "DSPROC_ENABLE SD done:", "DSPROC_ENABLE SD fail:", "DSPROC_DISABLE SD done:",
                                    "DSPROC_DISABLE SD fail:"};
  return enable(receiver, spec, on);
}

bool DSProcReceiverService::enableBSS(DSProcReceiver& receiver, bool on) {
  static const FunctionSpec spec = {&DSProcReceiver::bssState, &DSProcReceiver::bssId,    Req::kBss,
                                    "DSPROC_ENABLE BSS done:", "DSPROC_ENABLE BSS fail:", "DSPROC_DISABLE BSS done:",
                                    "DSPROC_DISABLE BSS fail:"};
  return enable(receiver, spec, on);
}

bool DSProcReceiverService::enableNG(DSProcReceiver& receiver, bool on) {
  static const FunctionSpec spec = {&DSProcReceiver::ngState, &DSProcReceiver::ngId,    Req::kNg,
                                    "DSPROC_ENABLE NG done:", "DSPROC_ENABLE NG fail:", "DSPROC_DISABLE NG done:",
                                    "DSPROC_DISABLE NG fail:"};
  return enable(receiver, spec, on);
}

bool DSProcReceiverService::enableMute(DSProcReceiver& receiver, bool rx, bool tx) {
  if (receiver.muteRx >= 0 && receiver.muteTx >= 0 && (receiver.muteRx != 0) == rx && (receiver.muteTx != 0) == tx)
    return true;
  const unsigned ts = receiver.dsproc_timeslot();
  opened();
  Req::Enable rec;
  std::memset(&rec, 0, sizeof rec);
  rec.timeslot = ts;
  if (rx || tx) {
    rec.id = nextId();
    rec.mask = (rx ? Req::kMuteRx : 0u) | (tx ? Req::kMuteTx : 0u);
    if (request(Req::kEnable, &rec) == -1) {
      ErrorTail tail;
      std::cerr << "DSPROC_ENABLE MUTE fail:"
                << " timeslot=" << ts << " id=" << rec.id << tail << std::endl;
      return false;
    }
    receiver.muteId = rec.id;
    receiver.muteRx = rx;
    receiver.muteTx = tx;
    std::cerr << "DSPROC_ENABLE MUTE done:"
              << " timeslot=" << ts << " id=" << rec.id << std::endl;
    return true;
  }
  rec.mask = Req::kMute;
  if (request(Req::kDisable, &rec) == -1) {
    ErrorTail tail;
    std::cerr << "DSPROC_DISABLE MUTE fail:"
              << " timeslot=" << ts << tail << std::endl;
    return false;
  }
  receiver.muteRx = 0;
  receiver.muteTx = 0;
  std::cerr << "DSPROC_DISABLE MUTE done:"
            << " timeslot=" << ts << std::endl;
  return true;
}

void DSProcReceiverService::deliver(const Req::Event& rec) {
  const bool traced = Traced();
  if (traced) {
    std::clog << "dsproc event: "
              << " timeslot=" << rec.timeslot << " id=" << rec.id << " type=" << rec.type << std::endl;
    switch (rec.type) {
      case Req::kEventVad:
        std::clog << "dsproc vad event: "
                  << " dir_mask=" << rec.word1 << " vad_rx=" << static_cast<std::int32_t>(rec.word2)
                  << " vad_tx=" << static_cast<std::int32_t>(rec.word3) << std::endl;
        break;
      case Req::kEventSd:
        std::clog << "dsproc sd event: "
                  << " sd_rx=" << static_cast<std::int32_t>(rec.word1) << std::endl;
        break;
      case Req::kEventBss: {
        float score;
        std::memcpy(&score, &rec.word1, sizeof score);
        std::clog << "dsproc bss event: "
                  << " score=" << score << std::endl;
        break;
      }
      case Req::kEventFlags:
        std::clog << "dsproc flags event: "
                  << " flags=" << ext::hex(rec.word1, 0) << ", mask=" << ext::hex(rec.word2, 0) << std::endl;
        break;
      default:
        break;
    }
  }

  DSProcReceiver* receiver = nullptr;
  for (Containers::CyclicList* node : receivers) {
    DSProcReceiver* r = DSProcReceiver::FromLink(node);
    if (r->dsproc_timeslot() == rec.timeslot) {
      receiver = r;
      break;
    }
  }
  if (!receiver) {
    if (traced) std::cerr << "receive dsproc event from unknown timeslot " << rec.timeslot << std::endl;
    return;
  }

  // The payload as the driver's own record: copied out, so it is aligned.
  const unsigned char* payload = reinterpret_cast<const unsigned char*>(&rec) + Req::kPayloadOffset;
  auto dropped = [&](const char* text, std::uint32_t rid, bool withRid) {
    if (!traced) return;
    std::clog << text << " timeslot=" << rec.timeslot << " id=" << rec.id << " type=" << rec.type;
    if (withRid) std::clog << " rid=" << rid;
    std::clog << std::endl;
  };
  switch (rec.type) {
    case Req::kEventVad: {
      if (receiver->vadState == 0) return dropped("ignore spurious dsproc vad event (dsproc disabled): ", 0, false);
      if (receiver->vadId != rec.id) return dropped("ignore spurious dsproc vad event: ", receiver->vadId, true);
      DSProcVADEvent e;
      e.rx = (rec.word1 & 1) ? static_cast<std::int32_t>(rec.word2) : -1;
      e.tx = (rec.word1 & 2) ? static_cast<std::int32_t>(rec.word3) : -1;
      receiver->dsproc_vad_event(e);
      return;
    }
    case Req::kEventSd: {
      if (receiver->sdState == 0) return dropped("ignore spurious dsproc vad event (dsproc disabled): ", 0, false);
      if (receiver->sdId != rec.id) return dropped("ignore spurious dsproc vad event: ", receiver->sdId, true);
      DSProcSDEvent e;
      e.rx = static_cast<std::int32_t>(rec.word1);
      receiver->dsproc_sd_event(e);
      return;
    }
    case Req::kEventBss: {
      if (receiver->bssState == 0) return dropped("ignore spurious dsproc bss event (dsproc disabled): ", 0, false);
      Req::dsproc_bss_event e;
      std::memcpy(&e, payload, sizeof e);
      receiver->dsproc_bss_event(&e);
      return;
    }
    case Req::kEventTone: {
      Req::dsproc_tone_event e;
      std::memcpy(&e, payload, sizeof e);
      receiver->dsproc_tone_flt_event(&e);
      return;
    }
    case Req::kEventFlags: {
      Req::dsproc_flags_event e;
      std::memcpy(&e, payload, sizeof e);
      receiver->dsproc_flags_event(&e);
      return;
    }
    default:
      return;
  }
}

}  // namespace Hardware
