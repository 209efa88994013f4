#include "mediaslots/rtp_ed137_slot.h"

#include <iostream>
#include <sstream>
#include <string>

#include "messages/LGCP.h"
#include "messages/TERM.h"

// RtpED137RadioGWSlot ---------------------------------------------------------

namespace {

rtp_ext_attach_session_params Own(rtp_ext_attach_session_params attach, const Fd& rtp) {
  attach.fd_rtp = rtp.lowlevel_fd();
  return attach;
}

}  // namespace

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int tdm, Fd device, rtp_connection_params const& params,
                                         rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init,
                                         RTPSignalling::ED137RadioParams const& radio)
    : RtpED137Slot(tdm, std::move(device), params, attach, init) {
  setTransmissionDependOnSQU(radio.transmission_depend_on_squ != 0);
  auto* made = new RTPSignalling::ED137RadioGWControl(tdm, Own(attach, descriptor()), init);
  made->SetParams(radio);
  made->SetTimerInterval((radio.r2s_keepalive_period * radio.r2s_keepalive_multiplier) >> 1);
  SetUpEngine(made, true);
}

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int tdm, Fd device, rtp_connection_params const& params,
                                         rtp_ext_init_params const& init)
    : RtpED137Slot(tdm, std::move(device), params, init) {
  SetUpEngine(new RTPSignalling::ED137RadioGWControl(init), false);
}

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int tdm, Fd device, rtp_connection_params const& params,
                                         rtp_attach_session_params const& attach)
    : RtpED137Slot(tdm, std::move(device), params, attach) {
  SetUpEngine(new RTPSignalling::ED137RadioGWControl(tdm, descriptor(), attach), false);
}

RtpED137RadioGWSlot::~RtpED137RadioGWSlot() {
  if (!engine) return;
  engine->UnBind();
  engine->SetTimerEnable(false);
  delete engine;
  engine = nullptr;
}

void RtpED137RadioGWSlot::SetUpEngine(RTPSignalling::ED137RadioControl* made, bool timer) {
  engine = made;
  engine->Bind(this);
  engine->SetDebug(false);
  engine->SetTimerEnable(timer);
  engine->SetRadioControlMode(RTPSignalling::RadioControlGateway);
}

// RtpED137Factory -------------------------------------------------------------

RtpED137Factory& RtpED137Factory::instance() {
  static RtpED137Factory factory;
  return factory;
}

RtpED137Factory::RtpED137Factory() : RtpCodecFactory("rtp ext ED137") {}

rtp_ext_init_params RtpED137Factory::InitRecord(RTPSignalling::ED137RadioParams const& radio, unsigned pfactor) {
  const std::uint32_t p = pfactor != 0 ? pfactor : 2;
  rtp_ext_init_params init = {};
  init.etype = R2SProto::kProfile;
  init.param1 = 1;
  init.param2 = 123;
  init.param3 = radio.r2s_keepalive_period / (p * 10);
  init.param4 = 1;
  if (radio.sigtime != 0) {
    init.param3 *= radio.sigtime;
    init.param4 *= radio.sigtime;
  }
  return init;
}

Slot* RtpED137Factory::INewSlot(LGCP::CreateParams const& create) {
  if (!create.rtp_isSelected()) return nullptr;
  const LGCP::CreateRtpParams& rtp = create.get_rtp();
  const TERM::RtpParams& codec = rtp.get_codecRTP();
  if (!codec.radio_isPresent() || !codec.get_radio().get_status().ed_137_isSelected()) return nullptr;
  PutHeader(std::clog) << "do create rtp ext ED137: " << codec << std::endl;
  const TERM::RtpRadioRequest& radio = codec.get_radio();

  std::ostringstream header;
  PutHeader(header);
  RtpSetup::Session session;
  const std::int32_t bss = radio.bss_enable_isPresent() && radio.get_bss_enable() ? 1 : 0;
  // A destroyed stream's RTCP port is free again once its socket closes.
  if (!RtpSetup::Create(header.str(), codec, static_cast<TERM::Payload::NamedNumber>(rtp.get_txPayload().asInt()),
                        static_cast<TERM::Payload::NamedNumber>(rtp.get_rxPayload().asInt()), bss, session, false))
    return nullptr;

  RTPSignalling::ED137RadioParams params;
  const TERM::ED137RadioStatus& status = radio.get_status().get_ed_137();
  if (status.radio_response_isPresent()) params.Init(status.get_radio_response());
  rtp_ext_attach_session_params attach = {};
  attach.fd_rtp = session.device.lowlevel_fd();
  attach.pid_rtp = -1;
  const rtp_ext_init_params init = InitRecord(params, session.params.packet_factor);

  auto* slot = new RtpED137RadioGWSlot(session.tdm, session.device, session.params, attach, init, params);
  session.device.close();
  slot->setTransmissionDependOnSQU(params.transmission_depend_on_squ != 0);
  slot->SetRadioStatus(radio.get_status());
  slot->Launch(session, codec);
  slot->ConfigureRadio(radio);
  return slot;
}
