#pragma once
// A slot that carries the tone/DTMF and voice-processing receivers of its
// timeslot reports their events alike: the RTP slot and the mixer's ports.
#include <cstdint>

#include "board/dsp.h"
#include "hardware/dsproc_receiver.h"
#include "hardware/tonec_receiver.h"
#include "messages/LGCP_fwd.h"
#include "slots/slot.h"

// The controller's receiver requests beside those every receiver slot takes
// (DTMF translation and parameters, VAD, SD, tone filter): a slot names the
// ones its side of the stream takes.
namespace ReceiverRequest {
enum : unsigned {
  kDetection = 1u << 0,  // echoSuppressor, dtmf-enable, dtmf-reject-enable, rx-gain
  kIvaEnable = 1u << 1,
  kIvaParams = 1u << 2,
  kDelays = 1u << 3,
};

// The answer to a receiver request: false where the request is not one the
// slot takes.
bool Answer(Hardware::TonecReceiver& tonec, Hardware::DSProcReceiver& dsproc, LGCP::IoctlParams const& params,
            unsigned taken);
}  // namespace ReceiverRequest

template <class SlotBase>
class ReceiverSlot : public SlotBase, protected Hardware::TonecReceiver, protected Hardware::DSProcReceiver {
protected:
  // The answer to the receivers' requests (the common ones and those named
  // in taken); false for any other request.
  bool receiverIoctl(LGCP::IoctlParams const& params, unsigned taken) {
    return ReceiverRequest::Answer(*this, *this, params, taken);
  }

  // The destructor of the derived slot calls this while its timeslot still
  // answers.
  void cleanReceivers() {
    Hardware::TonecReceiver::CleanBeforeDestroy();
    Hardware::DSProcReceiver::CleanBeforeDestroy();
  }

  void tonec_event(Hardware::TonecReceiver::Params const& p) override {
    this->processTonecEvent(static_cast<int>(p.code), static_cast<int>(p.timestamp));
  }
  void dsproc_vad_event(Hardware::DSProcVADEvent const& e) override { this->processVADEvent(e.rx, e.tx); }
  void dsproc_bss_event(Board::Dsp::dsproc_bss_event const* e) override { this->processBSSEvent(e->score); }
  void dsproc_sd_event(Hardware::DSProcSDEvent const& e) override { this->processSDEvent(e.rx); }
  void dsproc_tone_flt_event(Board::Dsp::dsproc_tone_event const* e) override {
    this->processToneFltEvent(static_cast<int>(e->word[0]), static_cast<int>(e->word[1]));
  }
  void dsproc_flags_event(Board::Dsp::dsproc_flags_event const* e) override {
    this->processFlagsEvent(e->flags, e->mask);
  }
};
