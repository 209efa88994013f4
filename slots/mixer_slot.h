#pragma once
// Mixer slots on the board's mixer units ("/dev/mixer"). A unit has TDM
// channels and sums, for every channel it drives, any set of other channels
// with a gain. A mixer input takes a TDM stream into a channel (and may join
// it to a summator channel); a mixer output puts the sum of chosen channels
// on the bus. Both carry the tone/DTMF and voice-processing receivers of
// their timeslot. The factory learns the units at every resource query.
#include <cstdint>
#include <iosfwd>
#include <vector>

#include "board/dsp.h"
#include "board/mixer.h"
#include "board/voice.h"
#include "messages/LGCP_fwd.h"
#include "slots/receiver_slot.h"

namespace Mixer {

// One request on a descriptor of its own: the device is never kept open.
// -1 with errno (of the open or of the request) on failure.
int mixer_ctl(Board::Request request, void* arg);

class Mixer;
class MixerFactory;

class MixerSlot : public Slot {};

// What the mixer's input and output ports share: their unit, channel and
// timeslot, which also names the receivers' timeslot.
class MixerPort : public ReceiverSlot<MixerSlot> {
public:
  MixerPort(Mixer& mixer, int channel, int timeslot) : mixer(mixer), channel(channel), timeslot(timeslot) {}
  // The receivers still see the timeslot here.
  ~MixerPort() override { cleanReceivers(); }

  // The timeslot leaves the cross-connect and the unit undoes the port's
  // routes; the unit may go with its last port.
  bool IBeforeDestroy() final;

  int get_channel() const { return channel; }
  int get_timeslot() const { return timeslot; }

protected:
  friend class Mixer;

  // The port's own routes on its unit undone.
  virtual void Unroute() = 0;

  std::uint32_t tonec_timeslot() const override { return std::uint32_t(timeslot); }
  std::uint32_t dsproc_timeslot() const override { return std::uint32_t(timeslot); }

  Mixer& mixer;
  int channel;
  int timeslot;
};

class TdmInput : public MixerPort {
public:
  using MixerPort::MixerPort;

  bool Ioctl(LGCP::IoctlParams const& params) override;
  bool IOnInputStream() override { return true; }
  int IGetReceiveChannel() override { return timeslot; }
  const char* GetName() const override { return "mixer tdm input"; }

  int summator_channel() const { return summatorChannel; }

private:
  friend class Mixer;

  void Unroute() override;

  bool summator = false;
  int summatorChannel = -1;
};

class TdmOutput : public MixerPort {
public:
  using MixerPort::MixerPort;

  bool Ioctl(LGCP::IoctlParams const& params) override;
  bool IOnOutputStream() override { return true; }
  int IGetTransmitChannel() override { return timeslot; }
  const char* GetName() const override { return "mixer tdm output"; }

private:
  void Unroute() override;
  void tonec_event(Hardware::TonecReceiver::Params const&) override {}
  void tone_gen_complete() override { processToneGenEvent(); }
  void dsproc_vad_event(Hardware::DSProcVADEvent const&) override {}
  void dsproc_bss_event(Board::Dsp::dsproc_bss_event const*) override {}
  void dsproc_sd_event(Hardware::DSProcSDEvent const&) override {}
};

// One mixer unit. It lives while the driver reports it, and after that until
// its last port is released.
class Mixer {
public:
  Mixer(int id, MixerFactory& factory);
  Mixer(const Mixer&) = delete;
  Mixer& operator=(const Mixer&) = delete;

  // A programmed and registered port, or null.
  TdmInput* New(const LGCP::MixerInParams& params);
  TdmOutput* New(const LGCP::MixerOutParams& params);
  // The port stops its DTMF sending and undoes its routes, and leaves.
  void Release(MixerPort& port);

  // Every route of every channel removed.
  void Reset();
  // The driver no longer reports the unit: its ports are told to go.
  void Clear();
  // Routes the output channel's inputs into it; a failure leaves no route.
  bool SetTX(const LGCP::MixerOutParams& params);
  bool ClearTX(const LGCP::MixerChannel& channel);
  // The channel's cross-connect number, -1 on failure.
  int channel2timeslot(int channel);
  bool Channel2Slot(const LGCP::MixerChannel& channel, Board::Mixer::mix_slot& slot) const;
  void Register(MixerSlot* port);
  void UnRegister(MixerSlot* port);
  // A dead unit without ports deletes itself: nothing may touch it after.
  void CheckForDestroy();

  int id() const { return id_; }
  bool isDead() const { return dead_; }
  void setDead(bool dead) { dead_ = dead; }
  const std::vector<MixerSlot*>& ports() const { return ports_; }

  // "mixer [0]: "
  void PutHeader(std::ostream& os) const;

private:
  ~Mixer() = default;
  friend class MixerFactory;

  bool AddRoute(const Board::Mixer::mix_slot& rx, const Board::Mixer::mix_slot& tx, int gain);

  int id_;
  bool dead_ = false;
  std::vector<MixerSlot*> ports_;
  MixerFactory& factory_;
};

class MixerFactory : public SlotFactory {
public:
  // Answers of the enumeration taken by one refresh.
  static constexpr int kMaxUnits = 100;
  static constexpr int kDpuPerMixer = 770;
  static constexpr int kDpuPerEc = 17;
  static constexpr int kDpuPerLms = 24;

  static MixerFactory& instance();

  const char* GetName() const override { return "Mixer"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;

  // Enumerates the units again: new ones are reset, the ones gone cleared.
  void RefreshResources();
  Mixer* findMixer(int unit) const;
  int tdm_channels() const { return tdmChannels; }
  int mixer_inputs() const { return mixerInputs; }
  const std::vector<Mixer*>& units() const { return mixers; }
  bool version_valid() const { return versionValid; }
  const Board::Voice::Version& voice_version() const { return version; }

  // "mixer: "
  void PutHeader(std::ostream& os) const;

private:
  MixerFactory();
  ~MixerFactory() override;

  void ReadVersion();

  bool versionValid = false;
  Board::Voice::Version version{};
  int mixerInputs = -1;
  int tdmChannels = -1;
  std::vector<Mixer*> mixers;
};

}  // namespace Mixer
