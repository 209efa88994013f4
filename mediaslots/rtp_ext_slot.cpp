#include "mediaslots/rtp_ext_slot.h"

#include "messages/LGCP.h"
#include "messages/TERM.h"

RtpExtSlot::RtpExtSlot(int tdm, Fd device, rtp_connection_params const& params, rtp_ext_attach_session_params const&,
                       rtp_ext_init_params const&)
    : RtpSlot(tdm, std::move(device), params) {}

RtpExtSlot::RtpExtSlot(int tdm, Fd device, rtp_connection_params const& params, rtp_ext_init_params const&)
    : RtpSlot(tdm, std::move(device), params) {}

RtpExtSlot::RtpExtSlot(int tdm, Fd device, rtp_connection_params const& params, rtp_attach_session_params const&)
    : RtpSlot(tdm, std::move(device), params) {}

RtpExtSlot::~RtpExtSlot() = default;

void RtpExtSlot::SetRadioStatus(TERM::RadioStatus const& status) {
  radioStatus = std::make_unique<TERM::RadioStatus>(status);
}

void RtpExtSlot::ConfigureRadio(TERM::RtpRadioRequest const& radio) {
  if (radio.rx_delay_isPresent() || radio.tx_delay_isPresent())
    configureDelays(radio.rx_delay_isPresent() ? static_cast<unsigned>(radio.get_rx_delay().getValue()) : 0,
                    radio.tx_delay_isPresent() ? static_cast<unsigned>(radio.get_tx_delay().getValue()) : 0);
  if (radio.bss_enable_isPresent()) enableBSS(radio.get_bss_enable());
  if (radio.ng_enable_isPresent()) enableNG(radio.get_ng_enable());
}

void RtpExtSlot::IAfterCreate() {
  RtpSlot::IAfterCreate();
  if (engine && radioStatus) engine->SendASNToChan(*radioStatus);
}

bool RtpExtSlot::IBeforeDestroy() {
  if (engine) engine->RtpExtStop();
  return RtpSlot::IBeforeDestroy();
}

bool RtpExtSlot::Ioctl(LGCP::IoctlParams const& params) {
  if (!engine) return RtpSlot::Ioctl(params);
  bool result = false;
  if (params.rtpExt_isSelected()) {
    result = engine->SendASNToChan(params.get_rtpExt());
    if (engine->SendFailed()) SetErrorCause(LGCP::ErrorCause::internal);
  } else {
    // The header-extension session is bound to the RTP session that a codec
    // change replaces.
    const bool restart = params.encoder_mode_isSelected() || params.decoder_mode_isSelected();
    if (restart) engine->RtpExtStop();
    result = RtpSlot::Ioctl(params);
    if (restart && result) {
      engine->SetRtpDescriptor(descriptor());
      result = engine->RtpExtStart(false);
    }
  }
  FollowSQU();
  return result;
}

void RtpExtSlot::FollowSQU() {
  if (!transmissionDependsOnSQU()) return;
  const bool squ = engine->GetSQU();
  if (squ && !input_started())
    setInput(true);
  else if (!squ && input_started())
    setInput(false);
}

void RtpExtSlot::RadioControlNotify(TERM::RtpRadioRequest const& request) { OnRtpRadioEvent(request); }

void RtpExtSlot::RadioControlNotify(int code) { OnAbort(code); }
