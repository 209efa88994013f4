#include "mediaslots/rtp_lemz_slot.h"

#include <unistd.h>

#include <iostream>
#include <sstream>
#include <string>

#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "radio/lemz_radio_engines.h"

namespace {

// The header-extension identifier of LEMZ streams.
constexpr std::uint16_t kLemzExtension = 0x1337;

// Values out of the controller protocol's ranges, and what replaced them.
class Fitter {
public:
  template <class E>
  void Enum(E& e, int hi, const char* name) {
    const int v = e.asInt();
    if (v >= 0 && v <= hi) return;
    e.setFromInt(0);
    Note(name, v);
  }
  template <class I>
  void Int(I& i, unsigned hi, const char* name) {
    const unsigned v = i.getValue();
    if (v <= hi) return;
    i = 0u;
    Note(name, static_cast<long long>(static_cast<int>(v)));
  }
  void Flags(TERM::RadioFlags& f) {
    Int(f.ref_selcall(), 3, "selcall");
    Int(f.ref_li(), 511, "li");
  }
  void Status(TERM::LemzRadioStatus& s) {
    Flags(s.ref_flags());
    Int(s.ref_remote().ref_no(), 255, "remote no");
    Int(s.ref_remote().ref_ch(), 255, "remote ch");
    Enum(s.ref_squelshe(), 2, "squelshe");
    Enum(s.ref_rte(), 7, "rte");
    Enum(s.ref_standby_state_channel(), 1, "standby-state-channel");
    Int(s.ref_standby_group(), 255, "standby-group");
    Enum(s.ref_standby_state_receiver(), 1, "standby-state-receiver");
  }
  void Params(TERM::LemzRadioModifierParams& p) {
    using P = TERM::LemzRadioModifierParams;
    switch (p.currentSelection()) {
      case P::gw_set_selcall::Id::value:
        Flags(p.ref_gw_set_selcall().ref_flags());
        break;
      case P::gw_set_remote::Id::value:
        Int(p.ref_gw_set_remote().ref_remote().ref_no(), 255, "remote no");
        Int(p.ref_gw_set_remote().ref_remote().ref_ch(), 255, "remote ch");
        break;
      case P::gw_set_squelshe::Id::value:
        Enum(p.ref_gw_set_squelshe().ref_squelshe(), 2, "squelshe");
        break;
      case P::gw_set_rte::Id::value:
        Enum(p.ref_gw_set_rte().ref_rte(), 7, "rte");
        break;
      case P::gw_set_standby::Id::value:
        Enum(p.ref_gw_set_standby().ref_state(), 1, "standby state");
        break;
      case P::wm_flags::Id::value:
        Flags(p.ref_wm_flags().ref_flags());
        break;
      case P::wm_trans::Id::value:
        Flags(p.ref_wm_trans().ref_flags());
        break;
      case P::wm_chan::Id::value:
        Enum(p.ref_wm_chan().ref_squelshe(), 2, "squelshe");
        Enum(p.ref_wm_chan().ref_rte(), 7, "rte");
        break;
      case P::wm_selcall::Id::value:
        Flags(p.ref_wm_selcall().ref_flags());
        break;
      case P::wm_remote::Id::value:
        Int(p.ref_wm_remote().ref_remote().ref_no(), 255, "remote no");
        Int(p.ref_wm_remote().ref_remote().ref_ch(), 255, "remote ch");
        break;
      case P::wm_standby::Id::value:
        Enum(p.ref_wm_standby().ref_state_channel(), 1, "standby state-channel");
        Int(p.ref_wm_standby().ref_group(), 255, "standby group");
        Enum(p.ref_wm_standby().ref_state_receiver(), 1, "standby state-receiver");
        break;
      case P::gw_set_flags::Id::value:
        Flags(p.ref_gw_set_flags().ref_flags());
        break;
      case P::gw_set_ptt::Id::value:
        Flags(p.ref_gw_set_ptt().ref_flags());
        break;
      case P::gw_set_bss::Id::value:
        Flags(p.ref_gw_set_bss().ref_flags());
        break;
      case P::gw_set_sh::Id::value:
        Flags(p.ref_gw_set_sh().ref_flags());
        break;
      case P::gw_set_pwr::Id::value:
        Flags(p.ref_gw_set_pwr().ref_flags());
        break;
      case P::gw_set_rv::Id::value:
        Flags(p.ref_gw_set_rv().ref_flags());
        break;
      case P::gw_set_resv::Id::value:
        Flags(p.ref_gw_set_resv().ref_flags());
        break;
      default:
        break;
    }
  }
  const std::string& Changed() const { return changed; }

private:
  void Note(const char* name, long long v) {
    if (!changed.empty()) changed += ", ";
    changed += std::string(name) + " " + std::to_string(v);
  }

  std::string changed;
};

}  // namespace

// RtpLEMZSlot -----------------------------------------------------------------

RtpLEMZSlot::~RtpLEMZSlot() {
  if (!engine) return;
  engine->UnBind();
  engine->SetTimerEnable(false);
  delete engine;
  engine = nullptr;
}

void RtpLEMZSlot::SetUpEngine(RTPSignalling::RadioControl* made, bool timer, RTPSignalling::RadioControlMode mode) {
  engine = made;
  engine->Bind(this);
  engine->SetDebug(false);
  engine->SetTimerEnable(timer);
  engine->SetRadioControlMode(mode);
}

void RtpLEMZSlot::RadioControlNotify(TERM::RtpRadioRequest const& request) {
  TERM::RtpRadioRequest report = request;
  Fitter fit;
  if (report.get_status().lemz_isSelected()) fit.Status(report.ref_status().ref_lemz());
  if (report.request_isPresent() && report.get_request().lemz_isSelected()) {
    TERM::RadioModifier modifier = report.get_request();
    fit.Params(modifier.ref_lemz().ref_params());
    report.set_request(modifier);
  }
  if (!fit.Changed().empty()) {
    auto line = fitted.line(std::clog);
    header(line) << "rtpExt report: out of range, sent as 0: " << fit.Changed() << std::endl;
  }
  RtpExtSlot::RadioControlNotify(report);
}

// RtpLEMZRadioGWSlot ----------------------------------------------------------

namespace {

rtp_ext_attach_session_params Own(rtp_ext_attach_session_params attach, const Fd& rtp) {
  attach.fd_rtp = rtp.lowlevel_fd();
  return attach;
}

}  // namespace

RtpLEMZRadioGWSlot::RtpLEMZRadioGWSlot(int tdm, Fd device, rtp_connection_params const& params,
                                       rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init,
                                       bool timer)
    : RtpLEMZSlot(tdm, std::move(device), params, attach, init) {
  SetUpEngine(new RTPSignalling::LemzRadioGWControl(tdm, Own(attach, descriptor()), init), timer,
              RTPSignalling::RadioControlGateway);
}

RtpLEMZRadioGWSlot::RtpLEMZRadioGWSlot(int tdm, Fd device, rtp_connection_params const& params,
                                       rtp_ext_init_params const& init)
    : RtpLEMZSlot(tdm, std::move(device), params, init) {
  SetUpEngine(new RTPSignalling::LemzRadioGWControl(init), false, RTPSignalling::RadioControlGateway);
}

RtpLEMZRadioGWSlot::RtpLEMZRadioGWSlot(int tdm, Fd device, rtp_connection_params const& params,
                                       rtp_attach_session_params const& attach)
    : RtpLEMZSlot(tdm, std::move(device), params, attach) {
  SetUpEngine(new RTPSignalling::LemzRadioGWControl(tdm, descriptor(), attach), false,
              RTPSignalling::RadioControlGateway);
}

// RtpLEMZRadioWSSlot ----------------------------------------------------------

RtpLEMZRadioWSSlot::RtpLEMZRadioWSSlot(int tdm, Fd device, rtp_connection_params const& params,
                                       rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init)
    : RtpLEMZSlot(tdm, std::move(device), params, attach, init) {
  SetUpEngine(new RTPSignalling::LemzRadioWSControl(tdm, Own(attach, descriptor()), init), false,
              RTPSignalling::RadioControlWorkstation);
}

RtpLEMZRadioWSSlot::RtpLEMZRadioWSSlot(int tdm, Fd device, rtp_connection_params const& params,
                                       rtp_ext_init_params const& init)
    : RtpLEMZSlot(tdm, std::move(device), params, init) {
  SetUpEngine(new RTPSignalling::LemzRadioWSControl(init), false, RTPSignalling::RadioControlWorkstation);
}

RtpLEMZRadioWSSlot::RtpLEMZRadioWSSlot(int tdm, Fd device, rtp_connection_params const& params,
                                       rtp_attach_session_params const& attach)
    : RtpLEMZSlot(tdm, std::move(device), params, attach) {
  SetUpEngine(new RTPSignalling::LemzRadioWSControl(tdm, descriptor(), attach), false,
              RTPSignalling::RadioControlWorkstation);
}

// RtpLEMZFactory --------------------------------------------------------------

RtpLEMZFactory& RtpLEMZFactory::instance() {
  static RtpLEMZFactory factory;
  return factory;
}

RtpLEMZFactory::RtpLEMZFactory() : RtpCodecFactory("rtp ext LEMZ") {}

Slot* RtpLEMZFactory::INewSlot(LGCP::CreateParams const& create) {
  if (!create.rtp_isSelected()) return nullptr;
  const LGCP::CreateRtpParams& rtp = create.get_rtp();
  const TERM::RtpParams& codec = rtp.get_codecRTP();
  if (!codec.radio_isPresent() || !codec.get_radio().get_status().lemz_isSelected()) return nullptr;
  PutHeader(std::clog) << "do create rtp ext LEMZ: " << codec << std::endl;
  const TERM::RtpRadioRequest& radio = codec.get_radio();

  const TERM::RtpExtMode* mode =
      codec.rtp_e2m_isPresent() && codec.get_rtp_e2m().mode_isPresent() ? &codec.get_rtp_e2m().get_mode() : nullptr;
  const bool onlyRtp = mode && mode->only_rtp_isSelected();
  // A mode this daemon does not know makes no slot.
  if (mode && !onlyRtp && !mode->both_rtp_and_rtp_ext_isSelected()) return nullptr;

  std::ostringstream header;
  PutHeader(header);
  RtpSetup::Session session;
  const std::int32_t bss = radio.bss_enable_isPresent() && radio.get_bss_enable() ? 1 : 0;
  if (!RtpSetup::Create(header.str(), codec, static_cast<TERM::Payload::NamedNumber>(rtp.get_txPayload().asInt()),
                        static_cast<TERM::Payload::NamedNumber>(rtp.get_rxPayload().asInt()), bss, session))
    return nullptr;

  RtpLEMZSlot* slot = nullptr;
  if (onlyRtp) {
    rtp_attach_session_params attach = {};
    attach.fd_rtp = mode->get_only_rtp().get_fd().getValue();
    attach.pid_rtp = mode->get_only_rtp().get_pid().getValue();
    slot = new RtpLEMZRadioGWSlot(session.tdm, session.device, session.params, attach);
  } else {
    rtp_ext_attach_session_params attach = {};
    attach.fd_rtp = session.device.lowlevel_fd();
    attach.pid_rtp = static_cast<std::int32_t>(::getpid());
    rtp_ext_init_params init = {};
    init.etype = kLemzExtension;
    slot = new RtpLEMZRadioGWSlot(session.tdm, session.device, session.params, attach, init, true);
  }
  session.device.close();
  slot->SetRadioStatus(radio.get_status());
  slot->Launch(session, codec);
  slot->ConfigureRadio(radio);
  return slot;
}
