#include "slots/mixer_slot.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iostream>

#include "board/board.h"
#include "foundation/ext_text.h"
#include "foundation/os.h"
#include "hardware/dev_names.h"
#include "hardware/hw_mux.h"
#include "messages/LGCP.h"

namespace Mixer {

namespace M = Board::Mixer;

int mixer_ctl(Board::Request request, void* arg) {
  Fd fd = Board::open(GetMixerDevName(), O_RDONLY);
  if (!fd) return -1;
  const int rc = Board::ioctl(fd.lowlevel_fd(), request, arg);
  const int saved = errno;
  fd.close();
  errno = saved;
  return rc;
}

namespace {

M::mix_slot Tdm(int dev, int number) { return M::mix_slot{dev, M::kTdmChannel, number}; }

// The DTMF sending of a port going away ends in silence.
template <class Receiver>
void StopDtmf(Receiver& r) {
  if (!r.is_inDTMFTransmit()) return;
  r.enableSilence();
  r.disableToneGenerator(true);
}

}  // namespace

// MixerPort -------------------------------------------------------------------

bool MixerPort::IBeforeDestroy() {
  HwMux::instance().Disable(timeslot);
  mixer.Release(*this);
  return true;
}

// TdmInput --------------------------------------------------------------------

bool TdmInput::Ioctl(LGCP::IoctlParams const& p) {
  namespace R = ReceiverRequest;
  return receiverIoctl(p, R::kDetection | R::kIvaEnable | R::kIvaParams | R::kDelays);
}

void TdmInput::Unroute() {
  if (summatorChannel < 0) return;
  M::mix_route route{Tdm(mixer.id(), summatorChannel), Tdm(mixer.id(), channel), 0};
  if (mixer_ctl(M::kRxRemove, &route) < 0) {
    const Errno err;
    std::cerr << ext::header(&mixer) << "MIX_RX_REMOVE"
              << " rx.number=" << summatorChannel << " tx.number=" << channel << " fail : " << err << std::endl;
  }
}

// TdmOutput -------------------------------------------------------------------

bool TdmOutput::Ioctl(LGCP::IoctlParams const& p) {
  using I = LGCP::IoctlParams;
  switch (p.currentSelection()) {
    case I::dtmf_reject_disable::Id::value:
      return enableDTMFReject(false);
    case I::dtmf_disable::Id::value:
      return disableToneGenerator(false);
    case I::tone_gen_enable::Id::value: {
      const LGCP::ToneGenerator& g = p.get_tone_gen_enable();
      disableToneGenerator(false);
      enableToneGenerator(static_cast<unsigned short>(g.get_freq().getValue() & 0xFFFF), 0,
                          static_cast<unsigned short>(g.get_amp().getValue() & 0xFFFF), 0);
      return true;
    }
    case I::tone_gen_disable::Id::value:
      disableToneGenerator(true);
      return true;
    default:
      return receiverIoctl(p, ReceiverRequest::kIvaEnable | ReceiverRequest::kDelays);
  }
}

void TdmOutput::Unroute() {
  std::clog << ext::header(&mixer) << "clear tdm output " << channel << std::endl;
  M::mix_slot s = Tdm(mixer.id(), channel);
  mixer_ctl(M::kRxClear, &s);
}

// Mixer -----------------------------------------------------------------------

Mixer::Mixer(int id, MixerFactory& factory) : id_(id), factory_(factory) {}

void Mixer::PutHeader(std::ostream& os) const { os << "mixer [" << id_ << "]: "; }

void Mixer::Reset() {
  std::clog << ext::header(this) << "clear all inputs" << std::endl;
  int failures = 0;
  for (int channel = 0; channel < factory_.tdm_channels(); ++channel) {
    M::mix_slot s = Tdm(id_, channel);
    if (mixer_ctl(M::kRxClear, &s) < 0) ++failures;
  }
  if (failures) std::cerr << ext::header(this) << "reset fail: " << failures << " errors." << std::endl;
}

void Mixer::Clear() {
  const std::vector<MixerSlot*> ports = ports_;
  for (MixerSlot* port : ports) port->OnAbort(0);
  CheckForDestroy();
}

bool Mixer::Channel2Slot(const LGCP::MixerChannel& channel, M::mix_slot& slot) const {
  if (!channel.tdm_isSelected()) return false;
  slot = Tdm(id_, channel.get_tdm().getValue());
  return true;
}

int Mixer::channel2timeslot(int channel) {
  M::mix_slot s = Tdm(id_, channel);
  const int ts = mixer_ctl(M::kTdm, &s);
  if (ts < 0) {
    const Errno err;
    std::cerr << ext::header(this) << "MIX_TDM"
              << " dev_no=" << id_ << " type=" << M::kTdmChannel << " number=" << channel << " fail : " << err
              << std::endl;
    return -1;
  }
  return ts;
}

bool Mixer::AddRoute(const M::mix_slot& rx, const M::mix_slot& tx, int gain) {
  M::mix_route route{rx, tx, gain};
  if (mixer_ctl(M::kRxAdd, &route) < 0) {
    const Errno err;
    std::cerr << ext::header(this) << "MIX_RX_ADD"
              << " fail : " << err << std::endl;
    return false;
  }
  return true;
}

bool Mixer::ClearTX(const LGCP::MixerChannel& channel) {
  M::mix_slot s;
  if (!Channel2Slot(channel, s)) {
    std::clog << ext::header(this) << "ClearTX error: translation fail" << std::endl;
    return false;
  }
  if (mixer_ctl(M::kRxClear, &s) < 0) {
    const Errno err;
    std::cerr << ext::header(this) << "MIX_RX_CLEAR"
              << " dev_no=" << s.dev_no << " type=" << s.type << " number=" << s.number << " fail : " << err
              << std::endl;
    return false;
  }
  return true;
}

bool Mixer::SetTX(const LGCP::MixerOutParams& params) {
  const LGCP::MixerChannel& out = params.get_channel();
  if (!ClearTX(out)) return false;
  bool done = true;
  M::mix_slot rx;
  if (params.get_inputs().empty()) {
    if (!Channel2Slot(out, rx)) {
      std::cerr << ext::header(this) << "SetTX error: mixer translation fail" << std::endl;
      done = false;
    } else {
      done = AddRoute(rx, rx, M::kFullGain);
    }
  } else {
    for (const LGCP::MixerInput& input : params.get_inputs()) {
      M::mix_slot tx;
      if (!Channel2Slot(out, rx)) {
        std::cerr << ext::header(this) << "SetTX error: translation fail [1]" << std::endl;
        done = false;
      } else if (!Channel2Slot(input.get_channel(), tx)) {
        std::cerr << ext::header(this) << "SetTX error: translation fail [2]" << std::endl;
        done = false;
      } else {
        done = AddRoute(rx, tx, input.get_gain().getValue());
      }
      if (!done) break;
    }
  }
  // A refused output leaves no half-programmed sum behind.
  if (!done) ClearTX(out);
  return done;
}

TdmInput* Mixer::New(const LGCP::MixerInParams& params) {
  const LGCP::MixerChannel& ch = params.get_channel();
  if (!ch.tdm_isSelected()) return nullptr;
  const int channel = ch.get_tdm().getValue();
  if (channel < 0 || channel >= factory_.tdm_channels()) return nullptr;
  const int timeslot = channel2timeslot(channel);
  if (timeslot < 0) return nullptr;
  TdmInput* port = new TdmInput(*this, channel, timeslot);
  if (params.summator_isPresent()) {
    const LGCP::MixerChannel& sum = params.get_summator();
    if (sum.tdm_isSelected()) {
      port->summator = true;
      port->summatorChannel = sum.get_tdm().getValue();
      AddRoute(Tdm(id_, port->summatorChannel), Tdm(id_, channel), M::kFullGain);
    } else {
      // No channel to join: the driver must never see -1.
      std::cerr << ext::header(this) << "wrong summator coding !" << std::endl;
    }
  }
  if (params.ecm_isPresent()) {
    const LGCP::EchoCancelMode& ecm = params.get_ecm();
    static_cast<Hardware::TonecReceiver&>(*port).echoCancel(ecm.get_ec() || ecm.get_es());
  }
  Register(port);
  return port;
}

TdmOutput* Mixer::New(const LGCP::MixerOutParams& params) {
  if (!SetTX(params)) return nullptr;
  const LGCP::MixerChannel& ch = params.get_channel();
  const int channel = ch.tdm_isSelected() ? ch.get_tdm().getValue() : -1;
  const int timeslot = channel >= 0 && channel < factory_.tdm_channels() ? channel2timeslot(channel) : -1;
  if (timeslot < 0) {
    ClearTX(ch);
    return nullptr;
  }
  TdmOutput* port = new TdmOutput(*this, channel, timeslot);
  Register(port);
  return port;
}

void Mixer::Release(MixerPort& port) {
  StopDtmf(static_cast<Hardware::TonecReceiver&>(port));
  port.Unroute();
  UnRegister(&port);
}

void Mixer::Register(MixerSlot* port) { ports_.push_back(port); }

void Mixer::UnRegister(MixerSlot* port) {
  ports_.erase(std::remove(ports_.begin(), ports_.end(), port), ports_.end());
  CheckForDestroy();
}

void Mixer::CheckForDestroy() {
  if (dead_ && ports_.empty()) delete this;
}

// MixerFactory ----------------------------------------------------------------

MixerFactory& MixerFactory::instance() {
  static MixerFactory factory;
  return factory;
}

MixerFactory::MixerFactory() {}

MixerFactory::~MixerFactory() {
  // Units with ports left die with the process.
  for (Mixer* m : mixers)
    if (m->ports().empty()) delete m;
}

void MixerFactory::PutHeader(std::ostream& os) const { os << "mixer: "; }

Mixer* MixerFactory::findMixer(int unit) const {
  for (Mixer* m : mixers)
    if (!m->isDead() && m->id() == unit) return m;
  return nullptr;
}

Slot* MixerFactory::INewSlot(LGCP::CreateParams const& params) {
  if (params.mixerOut_isSelected()) {
    const LGCP::MixerOutParams& p = params.get_mixerOut();
    Mixer* m = findMixer(p.get_unit().getValue());
    return m ? m->New(p) : nullptr;
  }
  if (params.mixerIn_isSelected()) {
    const LGCP::MixerInParams& p = params.get_mixerIn();
    Mixer* m = findMixer(p.get_unit().getValue());
    return m ? m->New(p) : nullptr;
  }
  return nullptr;
}

void MixerFactory::RefreshResources() {
  for (Mixer* m : mixers) m->setDead(true);
  mixerInputs = -1;
  tdmChannels = -1;
  M::mix_info info{-1, 0, 0, 0};
  // Bounded by the answers, not by the table: a full table of live units
  // must find them all again.
  for (int answers = 0; answers < kMaxUnits; ++answers) {
    if (mixer_ctl(M::kInfo, &info) < 0) break;
    mixerInputs = mixerInputs < 0 ? info.mixer_inputs : std::min(mixerInputs, int(info.mixer_inputs));
    tdmChannels = tdmChannels < 0 ? info.tdm_channels : std::min(tdmChannels, int(info.tdm_channels));
    const auto known =
        std::find_if(mixers.begin(), mixers.end(), [&](const Mixer* m) { return m->id() == info.dev_no; });
    if (known != mixers.end()) {
      (*known)->setDead(false);
    } else {
      Mixer* m = new Mixer(info.dev_no, *this);
      mixers.push_back(m);
      m->Reset();
    }
  }
  std::vector<Mixer*> dead;
  for (Mixer* m : mixers)
    if (m->isDead()) dead.push_back(m);
  mixers.erase(std::remove_if(mixers.begin(), mixers.end(), [](const Mixer* m) { return m->isDead(); }), mixers.end());
  for (Mixer* m : dead) m->Clear();
  ReadVersion();
}

void MixerFactory::ReadVersion() {
  Fd fd = Board::open(GetVoiceDevName(), O_RDONLY);
  if (!fd) {
    const Errno err;
    std::cerr << "device " << ext::quoted(GetVoiceDevName()) << " open fail: " << err << std::endl;
    return;
  }
  Board::Voice::Version v{};
  if (Board::ioctl(fd.lowlevel_fd(), Board::Voice::kGetVersion, &v) < 0) {
    versionValid = false;
    return;
  }
  version = v;
  versionValid = true;
}

void MixerFactory::Query(LGCP::Resources& resources) {
  RefreshResources();
  ASN1::SEQUENCE_OF<LGCP::MixerResources_subtype>& list = resources.set_mixer();
  list.clear();
  for (const Mixer* m : mixers) {
    LGCP::MixerResources_subtype unit;
    unit.set_unit(m->id());
    unit.set_tdm_inputs(tdmChannels < 0 ? 0 : tdmChannels);
    unit.set_tdm_outputs(tdmChannels < 0 ? 0 : tdmChannels);
    unit.set_mixer_inputs(mixerInputs < 0 ? 0 : mixerInputs);
    unit.set_dpu_per_mixer(kDpuPerMixer);
    unit.set_dpu_per_ec(kDpuPerEc);
    unit.set_dpu_per_lms(kDpuPerLms);
    list.push_back(unit);
  }
}

}  // namespace Mixer
