#pragma once
// The tone/DTMF device of the timeslots ("/dev/dtmf"): DTMF and IVA
// detection, DTMF rejection, the echo canceller and the dual-tone generator.
// A slot derives (privately) from Hardware::TonecReceiver, names its timeslot
// and gets the detector events of it; the one TonecReceiverService owns the
// device and turns each request into one ioctl.
#include <cstdint>
#include <map>
#include <memory>
#include <utility>

#include "board/dtmf.h"
#include "foundation/containers.h"
#include "foundation/event.h"
#include "foundation/log_limit.h"
#include "foundation/timer.h"
#include "hardware/record_device.h"
#include "messages/LGCP_fwd.h"
#include "messages/TERM_fwd.h"

namespace Dtmf {

// The keys in the order of the detector's codes, and the low and the high
// tone of each (ITU-T Q.23), in Hz.
inline constexpr int NumTones = 16;
extern const char strRep[NumTones + 1];
extern const unsigned short freq1[NumTones];
extern const unsigned short freq2[NumTones];

class TonesValidator {
public:
  TonesValidator();
  // Null for a character that is no key.
  const std::pair<unsigned short, unsigned short>* find(char key) const;

private:
  std::map<char, std::pair<unsigned short, unsigned short>> tones_;
};

extern const TonesValidator tonesValidator;

}  // namespace Dtmf

namespace Hardware {

class TonecReceiverService;

class TonecReceiver {
public:
  struct Params {
    std::uint32_t code;  // as the driver reports it: the slot interprets it
    std::uint32_t timestamp;
  };

  // Joins the receivers; the first one built for a timeslot gets its events.
  TonecReceiver();
  TonecReceiver(const TonecReceiver&) = delete;
  TonecReceiver& operator=(const TonecReceiver&) = delete;
  // Leaves the receivers; sends nothing to the driver (see CleanBeforeDestroy).
  virtual ~TonecReceiver();

  virtual void tonec_event(Params const& params) = 0;
  virtual std::uint32_t tonec_timeslot() const = 0;
  // A digit string has been sent completely.
  virtual void tone_gen_complete() {}

  bool configureDTMF(LGCP::DTMFParams const& params);
  bool enableDTMF(bool on);
  bool disableDTMF();
  bool echoCancel(bool on);
  bool enableDTMFReject(bool on);
  bool enableIVA(bool on);
  bool configureIVA(LGCP::IVAParams const& params);
  void translateSelcal(TERM::SelcalCommand const& command);
  bool enableToneGenerator(unsigned short freq1, unsigned short freq2, unsigned short amp1, unsigned short amp2);
  // The generator on with amplitude 0.
  bool enableSilence();
  // Without force only a digit string in progress is stopped; false when
  // nothing was done.
  bool disableToneGenerator(bool force);
  // Plays the digits, each for toneDuration ms (70) followed by pauseDuration
  // ms (70) of silence; tone_gen_complete() follows the last pause.
  void translateDTMF(LGCP::TranslateDtmfParams const& params);
  // The controller's DTMF requests every slot with this receiver takes alike
  // (translation, parameters): true where the request is one of them, with
  // its answer in done.
  bool dtmfIoctl(LGCP::IoctlParams const& params, bool& done);
  // 425 Hz: 1000 ms tone, 3000 ms silence, until cancelled. A digit string in
  // progress ends first.
  void activateAudibleCall();
  void cancelAudibleCall();
  bool is_inDTMFTransmit() const { return inDTMFTransmit; }
  // Switches off what this receiver switched on (detectors, rejection, the
  // echo canceller, the tone generator, a digit string or wait tone under
  // way), so the next receiver of the timeslot finds the driver's defaults;
  // the slot calls it in its own destructor, while tonec_timeslot() still
  // answers.
  void CleanBeforeDestroy();

  // What decides delivery of the detector events.
  bool dtmf_detector_on() const { return detectorOn; }
  bool iva_detector_on() const { return ivaDetectorOn; }
  std::uint32_t detector_id() const { return detectorId; }

private:
  friend class TonecReceiverService;

  static TonecReceiver* FromLink(Containers::CyclicList* node) {
    return Containers::offset<TonecReceiver>(*node, &TonecReceiver::receiverLink);
  }

  void on_DTMFPauseFinish(Timer*);
  void on_DTMFToneFinish(Timer*);
  void on_waitPauseFinish(Timer*);
  void on_waitToneFinish(Timer*);

  // Written by the service, on successful requests only.
  bool detectorOn = false;
  bool ivaDetectorOn = false;
  Timer toneTimer;
  bool inDTMFTransmit = false;
  std::uint32_t detectorId = 0;
  // The digits still to be sent, with the string's amplitudes and durations.
  std::unique_ptr<LGCP::TranslateDtmfParams> dtmfString;
  Containers::CyclicList receiverLink;
  // What this receiver switched on, for CleanBeforeDestroy.
  bool ivaOn = false;
  bool dtmfOn = false;
  bool dtmfRejectOn = false;
  bool echoOn = false;
  bool generatorOn = false;
};

class TonecReceiverService : public RecordDevice<Board::Dtmf::Event> {
public:
  static TonecReceiverService& instance();

  bool configureDTMF(unsigned ts, LGCP::DTMFParams const& params);
  bool enableDTMF(TonecReceiver& receiver, bool on);
  bool echoCancel(unsigned ts, bool on);
  bool enableDTMFReject(unsigned ts, bool on);
  // All four zero switch the generator off.
  bool enableToneGenerator(unsigned ts, unsigned short freq1, unsigned short freq2, unsigned short amp1,
                           unsigned short amp2);
  bool configureIVA(TonecReceiver& receiver, LGCP::IVAParams const& params);
  bool enableIVA(TonecReceiver& receiver, bool on);
  void translateSelcal(TonecReceiver& receiver, TERM::SelcalCommand const& command);

  std::uint32_t last_detector_id() const { return lastDetectorId; }
  // The next enable gets id + 1, or 1 after the wrap.
  void set_last_detector_id(std::uint32_t id) { lastDetectorId = id; }

private:
  TonecReceiverService();
  void deliver(const Board::Dtmf::Event& rec) override;
  bool switchRequest(unsigned ts, std::uint32_t request, const char* name, const char* suffix);

  // The id of the latest DTMF detector enable; 0 is never given.
  std::uint32_t lastDetectorId = 0;
  // The driver's events, and those that nobody takes.
  Log::Limiter eventLog;
  Log::Limiter droppedLog;
};

}  // namespace Hardware
