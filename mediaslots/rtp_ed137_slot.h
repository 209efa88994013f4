#pragma once
// ED-137 radio-gateway slots: RTP streams whose radio channel speaks ED-137
// R2S headers. The gateway slot reports the radio's headers to the
// controller, sends the controller's state and a keep-alive every interval
// (half the radio's supervision time), and reports code 151 while the radio
// is silent. RtpED137Factory makes it for a create rtp whose radio status is
// ed-137; it is asked before RtpFactory, which takes no stream with a radio
// part.
#include <iosfwd>

#include "mediaslots/rtp_ext_slot.h"
#include "radio/ed137_radio_control.h"
#include "slots/slot.h"

class RtpED137Slot : public RtpExtSlot {
public:
  using RtpExtSlot::RtpExtSlot;
  const char* GetName() const override { return "rtp ext ed137"; }
};

class RtpED137RadioGWSlot : public RtpED137Slot {
public:
  // The engine's session is bound to this slot's own RTP descriptor (the
  // record's descriptor is the factory's, closed once the slot has its copy).
  RtpED137RadioGWSlot(int tdm, Fd device, rtp_connection_params const& params,
                      rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init,
                      RTPSignalling::ED137RadioParams const& radio);
  RtpED137RadioGWSlot(int tdm, Fd device, rtp_connection_params const& params, rtp_ext_init_params const& init);
  RtpED137RadioGWSlot(int tdm, Fd device, rtp_connection_params const& params, rtp_attach_session_params const& attach);
  // Unbinds the engine, stops its timer and deletes it: no engine callback
  // reaches a slot that is gone.
  ~RtpED137RadioGWSlot() override;

  const char* GetName() const override { return "rtp ext ED137 (GW)"; }

private:
  void SetUpEngine(RTPSignalling::ED137RadioControl* made, bool timer);
};

class RtpED137Factory : public RtpCodecFactory {
public:
  static RtpED137Factory& instance();

  const char* GetName() const override { return "RTP Ext ED137"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;

  // The header-extension records of a stream: repetition and signalling
  // counts from the radio's keep-alive period and signalling time.
  static rtp_ext_init_params InitRecord(RTPSignalling::ED137RadioParams const& radio, unsigned pfactor);

private:
  RtpED137Factory();
};
