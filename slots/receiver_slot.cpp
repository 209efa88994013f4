#include "slots/receiver_slot.h"

#include "messages/LGCP.h"

namespace ReceiverRequest {

bool Answer(Hardware::TonecReceiver& tonec, Hardware::DSProcReceiver& dsproc, LGCP::IoctlParams const& p,
            unsigned taken) {
  using I = LGCP::IoctlParams;
  // A request of a group the slot does not take reaches no receiver.
  auto takes = [taken](unsigned group) { return (taken & group) != 0; };
  switch (p.currentSelection()) {
    case I::echoSuppressor::Id::value:
      return takes(kDetection) && tonec.echoCancel(p.get_echoSuppressor());
    case I::dtmf_enable::Id::value:
      return takes(kDetection) && tonec.enableDTMF(p.get_dtmf_enable());
    case I::dtmf_reject_enable::Id::value:
      return takes(kDetection) && tonec.enableDTMFReject(p.get_dtmf_reject_enable());
    case I::rx_gain::Id::value:
      if (!takes(kDetection)) return false;
      dsproc.configureRxGain(p.get_rx_gain());
      return true;
    case I::iva_enable::Id::value:
      return takes(kIvaEnable) && tonec.enableIVA(p.get_iva_enable());
    case I::iva_params::Id::value:
      return takes(kIvaParams) && tonec.configureIVA(p.get_iva_params());
    case I::delays::Id::value:
      if (!takes(kDelays)) return false;
      dsproc.configureDelays(p.get_delays());
      return true;
    default: {
      bool done = false;
      return (tonec.dtmfIoctl(p, done) || dsproc.dsprocIoctl(p, done)) && done;
    }
  }
}

}  // namespace ReceiverRequest
