#pragma once
// An RTP slot that carries a radio channel: beside the media stream it owns
// a radio-control engine, which exchanges the radio signalling in the RTP
// header extension. The slot relays both ways: the engine's radio requests
// and event codes go to the controller as rtpExt and abort signals, the
// controller's rtpExt ioctls go to the engine (one whose packet could not be
// written is answered internal). While transmission depends on the squelch,
// every ioctl lets the engine's SQU start or stop the driver's input.
//
// The concrete radio slots create the engine, bind themselves to it and
// release it in their destructor; this class only uses it.
#include <memory>

#include "mediaslots/rtp_slot.h"
#include "radio/radio_control.h"

class RtpExtSlot : public RtpSlot, public RTPSignalling::IRadioControlNotify {
public:
  // One for each shape of engine; the records are the derived slot's.
  RtpExtSlot(int tdm, Fd device, rtp_connection_params const& params, rtp_ext_attach_session_params const&,
             rtp_ext_init_params const&);
  RtpExtSlot(int tdm, Fd device, rtp_connection_params const& params, rtp_ext_init_params const&);
  RtpExtSlot(int tdm, Fd device, rtp_connection_params const& params, rtp_attach_session_params const&);
  ~RtpExtSlot() override;

  // The status the stream was created with; sent through the engine once
  // the create is answered.
  void SetRadioStatus(TERM::RadioStatus const& status);
  // The radio request's delays, BSS and noise gate on the channel.
  void ConfigureRadio(TERM::RtpRadioRequest const& radio);

  void IAfterCreate() override;
  // Stops the engine's session before the RTP session goes.
  bool IBeforeDestroy() override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  const char* GetName() const override { return "rtp ext"; }

  void RadioControlNotify(TERM::RtpRadioRequest const& request) override;
  void RadioControlNotify(int code) override;

protected:
  RTPSignalling::RadioControl* engine = nullptr;

private:
  // The squelch decides the driver's input.
  void FollowSQU();

  std::unique_ptr<TERM::RadioStatus> radioStatus;
};
