#include "slots/receiver_slot.h"

#include "messages/LGCP.h"

namespace ReceiverRequest {

namespace {

using I = LGCP::IoctlParams;

// The group of a request outside the common ones, 0 for the others.
unsigned GroupOf(int selection) {
  switch (selection) {
    case I::echoSuppressor::Id::value:
    case I::dtmf_enable::Id::value:
    case I::dtmf_reject_enable::Id::value:
    case I::rx_gain::Id::value:
      return kDetection;
    case I::iva_enable::Id::value:
      return kIvaEnable;
    case I::iva_params::Id::value:
      return kIvaParams;
    case I::delays::Id::value:
      return kDelays;
    default:
      return 0;
  }
}

}  // namespace

bool Answer(Hardware::TonecReceiver& tonec, Hardware::DSProcReceiver& dsproc, LGCP::IoctlParams const& p,
            unsigned taken) {
  bool done = false;
  const unsigned group = GroupOf(p.currentSelection());
  if (group == 0) return (tonec.dtmfIoctl(p, done) || dsproc.dsprocIoctl(p, done)) && done;
  if ((taken & group) == 0) return false;
  switch (p.currentSelection()) {
    case I::echoSuppressor::Id::value:
      done = tonec.echoCancel(p.get_echoSuppressor());
      break;
    case I::dtmf_enable::Id::value:
      done = tonec.enableDTMF(p.get_dtmf_enable());
      break;
    case I::dtmf_reject_enable::Id::value:
      done = tonec.enableDTMFReject(p.get_dtmf_reject_enable());
      break;
    case I::rx_gain::Id::value:
      dsproc.configureRxGain(p.get_rx_gain());
      done = true;
      break;
    case I::iva_enable::Id::value:
      done = tonec.enableIVA(p.get_iva_enable());
      break;
    case I::iva_params::Id::value:
      done = tonec.configureIVA(p.get_iva_params());
      break;
    default:  // delays
      dsproc.configureDelays(p.get_delays());
      done = true;
      break;
  }
  return done;
}

}  // namespace ReceiverRequest
