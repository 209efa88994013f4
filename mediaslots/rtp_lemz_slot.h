#pragma once
// LEMZ radio-gateway slots: RTP streams whose radio channel speaks the LEMZ
// radio protocol. The gateway slot reports the workstations' commands to the
// controller and sends the controller's state to them, repeated every
// second; the workstation slot is the other side (nothing in the daemon
// makes one). RtpLEMZFactory makes the gateway slot for a create rtp whose
// radio status is lemz; it is asked before RtpFactory, which takes no
// stream with a radio part.
#include <iosfwd>

#include "mediaslots/rtp_ext_slot.h"
#include "slots/slot.h"

class RtpLEMZSlot : public RtpExtSlot {
public:
  using RtpExtSlot::RtpExtSlot;
  // Unbinds the engine, stops its timer and deletes it: no engine callback
  // reaches a slot that is gone.
  ~RtpLEMZSlot() override;

  const char* GetName() const override { return "rtp ext LEMZ"; }

  // A report whose values the controller protocol cannot carry (a peer's
  // octet, the state's "not set") goes with the nearest value it can, and
  // the log says what was changed.
  void RadioControlNotify(TERM::RtpRadioRequest const& request) override;
  using RtpExtSlot::RadioControlNotify;

protected:
  void SetUpEngine(RTPSignalling::RadioControl* made, bool timer, RTPSignalling::RadioControlMode mode);

private:
  Log::Limiter fitted;
};

class RtpLEMZRadioGWSlot : public RtpLEMZSlot {
public:
  // The engine's session is bound to this slot's own RTP descriptor (the
  // record's descriptor is the factory's, closed once the slot has its copy).
  RtpLEMZRadioGWSlot(int tdm, Fd device, rtp_connection_params const& params,
                     rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init, bool timer);
  RtpLEMZRadioGWSlot(int tdm, Fd device, rtp_connection_params const& params, rtp_ext_init_params const& init);
  RtpLEMZRadioGWSlot(int tdm, Fd device, rtp_connection_params const& params, rtp_attach_session_params const& attach);

  const char* GetName() const override { return "rtp ext LEMZ (GW)"; }
};

class RtpLEMZRadioWSSlot : public RtpLEMZSlot {
public:
  RtpLEMZRadioWSSlot(int tdm, Fd device, rtp_connection_params const& params,
                     rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
  RtpLEMZRadioWSSlot(int tdm, Fd device, rtp_connection_params const& params, rtp_ext_init_params const& init);
  RtpLEMZRadioWSSlot(int tdm, Fd device, rtp_connection_params const& params, rtp_attach_session_params const& attach);

  const char* GetName() const override { return "rtp ext LEMZ (WS)"; }
};

class RtpLEMZFactory : public RtpCodecFactory {
public:
  static RtpLEMZFactory& instance();

  const char* GetName() const override { return "RTP Ext LEMZ"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;

private:
  RtpLEMZFactory();
};
