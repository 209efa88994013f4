#pragma once
// The voice-processing device of the timeslots ("/dev/dsp"): VAD, SD, BSS,
// noise gate, receive and transmit mute, delays, receive gain and tone
// filters. A slot derives (privately) from Hardware::DSProcReceiver, names its
// timeslot and gets the events of it; the one DSProcReceiverService owns the
// device and turns each request into one ioctl.
#include <cstdint>

#include "board/dsp.h"
#include "foundation/containers.h"
#include "foundation/event.h"
#include "hardware/record_device.h"
#include "messages/LGCP_fwd.h"

namespace Hardware {

class DSProcReceiverService;

// -1: the record did not report that direction.
struct DSProcVADEvent {
  std::int32_t rx = 0;
  std::int32_t tx = 0;
};

struct DSProcSDEvent {
  std::int32_t rx = 0;
};

class DSProcReceiver {
public:
  // Joins the receivers; the first one built for a timeslot gets its events.
  DSProcReceiver();
  DSProcReceiver(const DSProcReceiver&) = delete;
  DSProcReceiver& operator=(const DSProcReceiver&) = delete;
  // Leaves the receivers; sends nothing to the driver (see CleanBeforeDestroy).
  virtual ~DSProcReceiver();

  virtual void dsproc_vad_event(DSProcVADEvent const& event) = 0;
  // The payloads point into the record being delivered.
  virtual void dsproc_bss_event(Board::Dsp::dsproc_bss_event const* event) = 0;
  virtual void dsproc_sd_event(DSProcSDEvent const& event) = 0;
  virtual void dsproc_tone_flt_event(Board::Dsp::dsproc_tone_event const* event) = 0;
  virtual void dsproc_flags_event(Board::Dsp::dsproc_flags_event const* event) = 0;
  virtual std::uint32_t dsproc_timeslot() const = 0;

  bool configureVAD(LGCP::VADParams const& params);
  bool enableVAD(bool on);
  bool disableVAD();
  bool configureSD();
  bool enableSD(bool on);
  bool disableSD();
  bool enableBSS(bool on);
  bool disableBSS();
  bool enableNG(bool on);
  bool disableNG();
  bool enableMute(bool rx, bool tx);
  bool disableMute();
  // delaysSet and rxGainSet follow a request only when it was done, so a
  // reset that failed is sent again by CleanBeforeDestroy.
  bool configureDelays(unsigned rx, unsigned tx);
  // The gain in dB cut to 8 bits (-6 dB is 250).
  bool configureRxGain(unsigned char gainDB);
  bool configureToneFilter(unsigned freq, unsigned enable, int durationMs, int levelDB);
  bool disableToneAll();
  // The controller's requests every slot with this receiver takes alike (VAD,
  // SD, tone filter): true where the request is one of them, with its answer
  // in done.
  bool dsprocIoctl(LGCP::IoctlParams const& params, bool& done);
  // The controller's forms of the delays, receive gain and tone filter.
  void configureDelays(LGCP::Delays const& delays);
  void configureRxGain(LGCP::Gain const& gain);
  void configureToneFilter(LGCP::ToneFilter const& filter);
  // Switches off what this receiver switched on; the slot calls it in its own
  // destructor, while dsproc_timeslot() still answers.
  void CleanBeforeDestroy();

  // -1 unset (no request done yet), 0 off, 1 on.
  std::int32_t vad_state() const { return vadState; }
  std::int32_t sd_state() const { return sdState; }
  std::int32_t bss_state() const { return bssState; }
  std::int32_t ng_state() const { return ngState; }
  std::int32_t mute_rx() const { return muteRx; }
  std::int32_t mute_tx() const { return muteTx; }
  std::uint32_t vad_id() const { return vadId; }
  std::uint32_t sd_id() const { return sdId; }
  std::uint32_t bss_id() const { return bssId; }
  std::uint32_t ng_id() const { return ngId; }
  std::uint32_t mute_id() const { return muteId; }
  bool delays_set() const { return delaysSet; }
  bool rx_gain_set() const { return rxGainSet; }

private:
  friend class DSProcReceiverService;

  static DSProcReceiver* FromLink(Containers::CyclicList* node) {
    return Containers::offset<DSProcReceiver>(*node, &DSProcReceiver::receiverLink);
  }

  std::int32_t vadState = -1;
  std::uint32_t vadId = 0;
  std::int32_t bssState = 0;
  std::uint32_t bssId = 0;
  std::int32_t ngState = 0;
  std::uint32_t ngId = 0;
  std::int32_t sdState = -1;
  std::uint32_t sdId = 0;
  std::int32_t muteRx = -1;
  std::int32_t muteTx = -1;
  std::uint32_t muteId = 0;
  bool delaysSet = false;
  bool rxGainSet = false;
  Containers::CyclicList receiverLink;
};

class DSProcReceiverService : public RecordDevice<Board::Dsp::Event> {
public:
  static DSProcReceiverService& instance();

  bool configureVAD(unsigned ts, LGCP::VADParams const& params);
  bool configureSD(unsigned ts);
  bool configureDelays(unsigned ts, unsigned rx, unsigned tx);
  bool configureRxGain(unsigned ts, unsigned char gainDB);
  bool configureToneFilter(unsigned ts, unsigned freq, unsigned enable, int durationMs, int levelDB);
  bool enableVAD(DSProcReceiver& receiver, bool on);
  bool enableSD(DSProcReceiver& receiver, bool on);
  bool enableBSS(DSProcReceiver& receiver, bool on);
  bool enableNG(DSProcReceiver& receiver, bool on);
  bool enableMute(DSProcReceiver& receiver, bool rx, bool tx);
  bool disableToneAll(DSProcReceiver& receiver);

  std::uint32_t last_feature_id() const { return lastFeatureId; }
  // The next enable gets id + 1, or 1 after the wrap.
  void set_last_feature_id(std::uint32_t id) { lastFeatureId = id; }

private:
  struct FunctionSpec;

  DSProcReceiverService();
  std::uint32_t nextId();
  bool enable(DSProcReceiver& receiver, const FunctionSpec& spec, bool on);
  bool configure(unsigned ts, Board::Dsp::Configure& rec, const char* failText);
  void deliver(const Board::Dsp::Event& rec) override;

  // The id of the latest enable of any function; 0 is never given.
  std::uint32_t lastFeatureId = 0;
};

}  // namespace Hardware
