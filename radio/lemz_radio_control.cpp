#include "radio/lemz_radio_control.h"

#include <arpa/inet.h>
#include <errno.h>
#include <poll.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "foundation/mux_time.h"
#include "messages/TERM.h"

namespace RTPSignalling {

namespace {

using Params = TERM::LemzRadioModifierParams;

std::string FloatText(float f) {
  char text[256];
  std::snprintf(text, 255, "%4.6f", static_cast<double>(f));
  return text;
}

std::string AddrText(std::uint32_t addr) {
  char text[256] = {};
  in_addr a;
  a.s_addr = addr;
  ::inet_ntop(AF_INET, &a, text, 255);
  return text;
}

// As inet_addr: a malformed text gives 255.255.255.255.
std::uint32_t TextAddr(const std::string& text) { return ::inet_addr(text.c_str()); }

bool IsAddress(const std::string& text) {
  in_addr a;
  return ::inet_aton(text.c_str(), &a) != 0;
}

void CopyCallerId(char (&to)[SigProto::kCallerId], const void* from, std::size_t len) {
  std::memset(to, 0, sizeof to);
  std::memcpy(to, from, len < sizeof to - 1 ? len : sizeof to - 1);
}

std::size_t CallerIdLength(const char (&id)[SigProto::kCallerId]) { return ::strnlen(id, sizeof id - 1); }

void PutFlags(const LemzRadioState& s, TERM::RadioFlags& f) {
  f.set_prio(s.priority);
  f.set_ptt(s.ptt != 0);
  f.set_bss(s.bss != 0);
  f.set_vad_rx(s.vad_rx != 0);
  f.set_vad_tx(s.vad_tx != 0);
  f.set_sql(s.sql != 0);
  f.set_sh(s.sh != 0);
  f.set_pwr(s.pwr != 0);
  f.set_rv(s.rv != 0);
  f.set_resv(s.resv != 0);
  f.set_selcall(static_cast<unsigned>(s.selcall));
  f.set_li(static_cast<unsigned>(s.li));
}

void GetFlags(const TERM::RadioFlags& f, LemzRadioState& s) {
  s.priority = f.get_prio().getValue();
  s.ptt = f.get_ptt();
  s.bss = f.get_bss();
  s.vad_rx = f.get_vad_rx();
  s.vad_tx = f.get_vad_tx();
  s.sql = f.get_sql();
  s.sh = f.get_sh();
  s.pwr = f.get_pwr();
  s.rv = f.get_rv();
  s.resv = f.get_resv();
  s.selcall = static_cast<std::int32_t>(f.get_selcall().getValue());
  s.li = static_cast<std::int32_t>(f.get_li().getValue());
}

void PutFreq(const LemzRadioState& s, TERM::RadioFrequency& f) {
  f.set_channel(s.channel);
  f.set_frequency(FloatText(s.frequency));
}

void GetFreq(const TERM::RadioFrequency& f, LemzRadioState& s) {
  s.channel = f.get_channel().getValue();
  s.frequency = static_cast<float>(std::atof(f.get_frequency().c_str()));
}

void PutRemote(const LemzRadioState& s, TERM::RadioRemote& r) {
  r.set_no(static_cast<unsigned>(s.remote_no));
  r.set_ch(static_cast<unsigned>(s.remote_ch));
}

void GetRemote(const TERM::RadioRemote& r, LemzRadioState& s) {
  s.remote_no = static_cast<std::int32_t>(r.get_no().getValue());
  s.remote_ch = static_cast<std::int32_t>(r.get_ch().getValue());
}

// The selective-call and transmitter commands share their fields.
template <class Cmd>
void PutSession(const LemzRadioState& s, Cmd& c) {
  PutFlags(s, c.set_flags());
  c.set_ip(AddrText(s.session_addr));
  c.set_ssrc(s.session_ssrc);
}

template <class Cmd>
void GetSession(const Cmd& c, LemzRadioState& s) {
  GetFlags(c.get_flags(), s);
  s.session_addr = TextAddr(c.get_ip());
  s.session_ssrc = c.get_ssrc().getValue();
}

// The modifier alternatives that carry the flags alone, by command.
struct FlagsAlternative {
  int command;
  TERM::RadioCommandGWSetFlags& (Params::*select)();
  bool (Params::*selected)() const;
  const TERM::RadioCommandGWSetFlags& (Params::*get)() const;
};
#define LEMZ_FLAGS(command, alt) \
  { SigProto::command, &Params::select_##alt, &Params::alt##_isSelected, &Params::get_##alt }
const FlagsAlternative kFlagsAlternatives[] = {
    LEMZ_FLAGS(GW_FLAG, gw_set_flags), LEMZ_FLAGS(GW_FLAG_PTT, gw_set_ptt), LEMZ_FLAGS(GW_FLAG_BSS, gw_set_bss),
    LEMZ_FLAGS(GW_FLAG_RV, gw_set_rv),  LEMZ_FLAGS(GW_FLAG_SH, gw_set_sh),   LEMZ_FLAGS(GW_FLAG_PW, gw_set_pwr),
    LEMZ_FLAGS(GW_FLAG_RS, gw_set_resv),
};
#undef LEMZ_FLAGS

}  // namespace

bool isPTTCommand(int c) { return c == 1 || c == 3 || c == 9 || c == 129 || c == 130 || c == 133; }

bool isDefaultInitCommand(int c) { return c <= 0; }

LemzRadioControl::LemzRadioControl(int id, rtp_ext_attach_session_params const& attach,
                                   rtp_ext_init_params const& init)
    : RadioControl(id, attach, init) {
  Init();
}

LemzRadioControl::LemzRadioControl(rtp_ext_init_params const& init) : RadioControl(init) { Init(); }

LemzRadioControl::LemzRadioControl(int id, Fd rtp, rtp_attach_session_params const& attach)
    : RadioControl(id, std::move(rtp), attach) {
  Init();
}

LemzRadioControl::~LemzRadioControl() = default;

int LemzRadioControl::Init() {
  now = Mux::milliseconds();
  for (std::uint32_t& t : itemTime) t = now;
  sig_proto_init(&rxProto);
  sig_proto_init(&prevProto);
  return 0;
}

bool LemzRadioControl::GetSQU() { return radioState.sql != 0; }

void LemzRadioControl::OnRtpExtEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  RadioControl::OnRtpExtEvent(fd, revents);
  sig_proto_init(&prevProto);
  int batch = 0;
  for (;;) {
    RequestNextPacket();
    unsigned char buf[Board::RtpExt::kMaxPacket];
    const ssize_t n = ReadPacket(buf, sizeof buf);
    if (n <= 0) break;
    sig_proto_init(&rxProto);
    const int rc = sig_proto_unpack(&rxProto, buf, static_cast<int>(n));
    if (rc != 0) {
      stats.decoderError = static_cast<std::uint32_t>(rc);
      ++dropped;
      continue;
    }
    ++stats.decoded;
    rxProto.source_addr = nextPacket.addr;
    rxProto.source_ssrc = nextPacket.ssrc;
    // A burst from one stream reaches the controller as its last member.
    if (batch > 0 && cmp_sig_proto_header(&rxProto, &prevProto) != 0) OnRtpProtoRXEvent(prevProto);
    prevProto = rxProto;
    ++batch;
  }
  if (batch > 0) OnRtpProtoRXEvent(prevProto);
}

int LemzRadioControl::OnRtpProtoRXEvent(sig_proto const& p) {
  TERM::RtpRadioRequest request;
  LemzRadioState state;
  DecodeProto(p, state);
  if (AccessFormChanToRadio(state) != 0) {
    PutProtoFromChanToRadio(state);
    EncodeASN(radioState, state, request);
    Trace(state.command, "send extension to controller", request);
    if (notify) notify->RadioControlNotify(request);
  }
  ApplyAccess();
  return 0;
}

void LemzRadioControl::ApplyAccess() {
  in_addr a;
  a.s_addr = radioState.session_addr;
  UpdateAccess(radioState.ptt != 0, a);
}

void LemzRadioControl::Trace(int command, const char* what, TERM::RtpRadioRequest const& request) {
  if (!debug) return;
  char hex[16];
  std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(command));
  traceLines.line(std::clog) << GetPrefix() << " command=0x" << hex << " " << what << ": " << request << std::endl;
}

int LemzRadioControl::DecodeProto(sig_proto const& p, LemzRadioState& s) {
  s.command = static_cast<std::int32_t>(p.type);
  s.source_addr = p.source_addr;
  s.source_ssrc = p.source_ssrc;
  s.priority = static_cast<std::int32_t>(p.priority);
  s.ptt = static_cast<std::int32_t>(p.flag_p);
  s.bss = static_cast<std::int32_t>(p.flag_b);
  s.vad_rx = static_cast<std::int32_t>(p.flag_r);
  s.vad_tx = static_cast<std::int32_t>(p.flag_t);
  s.sql = static_cast<std::int32_t>(p.flag_s);
  s.sh = static_cast<std::int32_t>(p.flag_sh);
  s.pwr = static_cast<std::int32_t>(p.flag_pw);
  s.rv = static_cast<std::int32_t>(p.flag_rv);
  s.resv = static_cast<std::int32_t>(p.flag_rs);
  s.selcall = static_cast<std::int32_t>(p.flag_c);
  s.li = static_cast<std::int32_t>(p.status);
  const auto& b = p.body;
  switch (p.type) {
    case SigProto::GW_ADJUST_CHAN:
      s.channel = static_cast<std::int32_t>(b.gw_adjust_chan.id);
      s.frequency = b.gw_adjust_chan.freq;
      break;
    case SigProto::GW_SEL_CALL:
      CopyCallerId(s.caller_id, b.gw_sel_call.callerID, b.gw_sel_call.callerID_length);
      break;
    case SigProto::GW_SELECT_RC_CHAN:
      s.remote_no = b.gw_select_rc_chan.interface;
      s.remote_ch = b.gw_select_rc_chan.channel;
      break;
    case SigProto::GW_ADJUST_SQUELSHE:
      s.squelshe = b.gw_adjust_squelsh.squelsh;
      break;
    case SigProto::GW_ADJUST_RTE:
      s.rte = b.gw_adjust_rte.rte;
      break;
    case SigProto::GW_ADJUST_STANDBY:
      s.standby_state_channel = b.gw_adjust_standby.state;
      break;
    case SigProto::WM_TRANS:
      s.session_addr = b.wm_trans.session_addr.s_addr;
      s.session_ssrc = b.wm_trans.ssrc;
      break;
    case SigProto::WM_RADIO_QUALITY:
      s.quality = b.wm_radio_quality.radio_quality;
      break;
    case SigProto::WM_CHAN:
      s.channel = static_cast<std::int32_t>(b.wm_chan.id);
      s.frequency = b.wm_chan.freq;
      s.squelshe = b.wm_chan.squelsh;
      s.rte = b.wm_chan.rte;
      break;
    case SigProto::WM_SEL_CALL_TRANS:
      s.session_addr = b.wm_sel_call_trans.session_addr.s_addr;
      s.session_ssrc = b.wm_sel_call_trans.ssrc;
      CopyCallerId(s.caller_id, b.wm_sel_call_trans.callerID, b.wm_sel_call_trans.callerID_length);
      break;
    case SigProto::WM_SELECT_RC_CHAN:
      s.remote_no = b.wm_select_rc_chan.interface;
      s.remote_ch = b.wm_select_rc_chan.channel;
      break;
    case SigProto::WM_STANDBY:
      s.standby_state_channel = b.wm_standby.state;
      s.standby_group = b.wm_standby.group;
      s.standby_state_receiver = b.wm_standby.receiver_state;
      break;
    case SigProto::GW_FLAG:
    case SigProto::GW_FLAG_PTT:
    case SigProto::GW_FLAG_BSS:
    case SigProto::GW_FLAG_RV:
    case SigProto::GW_FLAG_SH:
    case SigProto::GW_FLAG_PW:
    case SigProto::GW_FLAG_RS:
    case SigProto::WM_FLAG:
      break;
    default:
      return -1;
  }
  return 0;
}

int LemzRadioControl::EncodeStatusASN(LemzRadioState const& s, TERM::RtpRadioRequest& request) {
  TERM::LemzRadioStatus& st = request.set_status().select_lemz();
  PutFlags(s, st.set_flags());
  PutFreq(s, st.set_freq());
  PutRemote(s, st.set_remote());
  st.set_squelshe().setFromInt(s.squelshe);
  st.set_rte().setFromInt(s.rte);
  st.set_standby_state_channel().setFromInt(s.standby_state_channel);
  st.set_standby_group(static_cast<unsigned>(s.standby_group));
  st.set_standby_state_receiver().setFromInt(s.standby_state_receiver);
  return 0;
}

int LemzRadioControl::EncodeASN(LemzRadioState const& status, LemzRadioState const& s,
                                TERM::RtpRadioRequest& request) {
  EncodeStatusASN(status, request);
  TERM::LemzRadioModifier& m = request.set_request().select_lemz();
  m.set_addr().set_session_addr(AddrText(s.source_addr));
  m.ref_addr().set_session_ssrc(s.source_ssrc);
  Params& params = m.set_params();
  for (const FlagsAlternative& f : kFlagsAlternatives)
    if (f.command == s.command) PutFlags(s, (params.*f.select)().set_flags());
  switch (s.command) {
    case SigProto::GW_ADJUST_CHAN:
      PutFreq(s, params.select_gw_set_freq().set_freq());
      break;
    case SigProto::GW_SEL_CALL: {
      TERM::RadioCommandGWSetSelCall& c = params.select_gw_set_selcall();
      PutSession(s, c);
      c.set_cid(std::string(s.caller_id, CallerIdLength(s.caller_id)));
      break;
    }
    case SigProto::GW_SELECT_RC_CHAN:
      PutRemote(s, params.select_gw_set_remote().set_remote());
      break;
    case SigProto::GW_ADJUST_SQUELSHE:
      params.select_gw_set_squelshe().set_squelshe().setFromInt(s.squelshe);
      break;
    case SigProto::GW_ADJUST_RTE:
      params.select_gw_set_rte().set_rte().setFromInt(s.rte);
      break;
    case SigProto::GW_ADJUST_STANDBY:
      params.select_gw_set_standby().set_state().setFromInt(s.standby_state_channel);
      break;
    case SigProto::WM_FLAG:
      PutFlags(s, params.select_wm_flags().set_flags());
      break;
    case SigProto::WM_TRANS:
      PutSession(s, params.select_wm_trans());
      break;
    case SigProto::WM_RADIO_QUALITY:
      params.select_wm_quality().set_bss_val(FloatText(s.quality));
      break;
    case SigProto::WM_CHAN: {
      TERM::RadioCommandWMChan& c = params.select_wm_chan();
      PutFreq(s, c.set_freq());
      c.set_squelshe().setFromInt(s.squelshe);
      c.set_rte().setFromInt(s.rte);
      break;
    }
    case SigProto::WM_SEL_CALL_TRANS: {
      TERM::RadioCommandWMSelCall& c = params.select_wm_selcall();
      PutSession(s, c);
      c.set_cid(std::string(s.caller_id, CallerIdLength(s.caller_id)));
      break;
    }
    case SigProto::WM_SELECT_RC_CHAN:
      PutRemote(s, params.select_wm_remote().set_remote());
      break;
    case SigProto::WM_STANDBY: {
      TERM::RadioCommandWMStandby& c = params.select_wm_standby();
      c.set_state_channel().setFromInt(s.standby_state_channel);
      c.set_group(static_cast<unsigned>(s.standby_group));
      c.set_state_receiver().setFromInt(s.standby_state_receiver);
      break;
    }
    default:
      break;
  }
  return 0;
}

int LemzRadioControl::DecodeASN(TERM::LemzRadioStatus const& v, LemzRadioState& s) {
  s.command = 0;
  GetFlags(v.get_flags(), s);
  GetFreq(v.get_freq(), s);
  GetRemote(v.get_remote(), s);
  s.squelshe = v.get_squelshe().asInt();
  s.rte = v.get_rte().asInt();
  s.standby_state_channel = v.get_standby_state_channel().asInt();
  s.standby_group = static_cast<std::int32_t>(v.get_standby_group().getValue());
  s.standby_state_receiver = v.get_standby_state_receiver().asInt();
  return 0;
}

int LemzRadioControl::DecodeASN(TERM::LemzRadioModifier const& v, LemzRadioState& s) {
  s.command = 0;
  s.source_addr = TextAddr(v.get_addr().get_session_addr());
  s.source_ssrc = v.get_addr().get_session_ssrc().getValue();
  const Params& p = v.get_params();
  for (const FlagsAlternative& f : kFlagsAlternatives)
    if ((p.*f.selected)()) {
      s.command = f.command;
      GetFlags((p.*f.get)().get_flags(), s);
      return 0;
    }
  if (p.gw_set_freq_isSelected()) {
    s.command = SigProto::GW_ADJUST_CHAN;
    GetFreq(p.get_gw_set_freq().get_freq(), s);
  } else if (p.gw_set_selcall_isSelected()) {
    s.command = SigProto::GW_SEL_CALL;
    GetSession(p.get_gw_set_selcall(), s);
    const std::string& cid = p.get_gw_set_selcall().get_cid();
    CopyCallerId(s.caller_id, cid.data(), cid.size());
  } else if (p.gw_set_remote_isSelected()) {
    s.command = SigProto::GW_SELECT_RC_CHAN;
    GetRemote(p.get_gw_set_remote().get_remote(), s);
  } else if (p.gw_set_squelshe_isSelected()) {
    s.command = SigProto::GW_ADJUST_SQUELSHE;
    s.squelshe = p.get_gw_set_squelshe().get_squelshe().asInt();
  } else if (p.gw_set_rte_isSelected()) {
    s.command = SigProto::GW_ADJUST_RTE;
    s.rte = p.get_gw_set_rte().get_rte().asInt();
  } else if (p.gw_set_standby_isSelected()) {
    s.command = SigProto::GW_ADJUST_STANDBY;
    s.standby_state_channel = p.get_gw_set_standby().get_state().asInt();
  } else if (p.wm_flags_isSelected()) {
    s.command = SigProto::WM_FLAG;
    GetFlags(p.get_wm_flags().get_flags(), s);
  } else if (p.wm_trans_isSelected()) {
    s.command = SigProto::WM_TRANS;
    GetSession(p.get_wm_trans(), s);
  } else if (p.wm_quality_isSelected()) {
    s.command = SigProto::WM_RADIO_QUALITY;
    s.quality = static_cast<float>(std::atof(p.get_wm_quality().get_bss_val().c_str()));
  } else if (p.wm_chan_isSelected()) {
    s.command = SigProto::WM_CHAN;
    GetFreq(p.get_wm_chan().get_freq(), s);
    s.squelshe = p.get_wm_chan().get_squelshe().asInt();
    s.rte = p.get_wm_chan().get_rte().asInt();
  } else if (p.wm_selcall_isSelected()) {
    s.command = SigProto::WM_SEL_CALL_TRANS;
    GetSession(p.get_wm_selcall(), s);
    const std::string& cid = p.get_wm_selcall().get_cid();
    CopyCallerId(s.caller_id, cid.data(), cid.size());
  } else if (p.wm_remote_isSelected()) {
    s.command = SigProto::WM_SELECT_RC_CHAN;
    GetRemote(p.get_wm_remote().get_remote(), s);
  } else if (p.wm_standby_isSelected()) {
    s.command = SigProto::WM_STANDBY;
    s.standby_state_channel = p.get_wm_standby().get_state_channel().asInt();
    s.standby_group = static_cast<std::int32_t>(p.get_wm_standby().get_group().getValue());
    s.standby_state_receiver = p.get_wm_standby().get_state_receiver().asInt();
  }
  return 0;
}

bool LemzRadioControl::SendASNToChan(TERM::RadioStatus const& v) {
  sendFailed = false;
  if (!v.lemz_isSelected()) return false;
  LemzRadioState work = radioState;
  DecodeASN(v.get_lemz(), work);
  sendFailed = SendRadioStateToChan(work) != 0;
  return !sendFailed;
}

bool LemzRadioControl::SendASNToChan(TERM::RadioModifier const& v) {
  sendFailed = false;
  if (!v.lemz_isSelected()) return false;
  const Params& p = v.get_lemz().get_params();
  // The ip is stored as the transmitter's owner even with PTT clear: one that
  // is no address would be kept as 255.255.255.255 for the next PTT.
  const TERM::RadioCommandWMTrans* trans = p.wm_trans_isSelected() ? &p.get_wm_trans() : nullptr;
  const TERM::RadioCommandWMSelCall* selcall = p.wm_selcall_isSelected() ? &p.get_wm_selcall() : nullptr;
  const std::string* ip = trans ? &trans->get_ip() : selcall ? &selcall->get_ip() : nullptr;
  if (ip && !IsAddress(*ip)) {
    refusals.line(std::cerr) << GetPrefix() << " " << (trans ? "wm-trans" : "wm-selcall") << " to ip \"" << *ip
                             << "\", which is no address: refused !!!" << std::endl;
    return false;
  }
  LemzRadioState work = radioState;
  DecodeASN(v.get_lemz(), work);
  sendFailed = SendRadioStateToChan(work) != 0;
  return !sendFailed;
}

int LemzRadioControl::SendRadioStateToChan(LemzRadioState const& s) {
  int rc = 0;
  sig_proto p;
  if (PutProtoFromRadioToChan(s) == 0 && EncodeProto(s, p) == 0) {
    if (SendProtoToChan(p) < 1) rc = -1;
    now = Mux::milliseconds();
    if (mode == RadioControlGateway) {
      switch (s.command) {
        case SigProto::WM_FLAG:
        case SigProto::WM_TRANS:
        case SigProto::WM_SEL_CALL_TRANS:
          itemTime[kItemFlags] = now;
          break;
        case SigProto::WM_CHAN:
          itemTime[kItemChannel] = now;
          break;
        case SigProto::WM_SELECT_RC_CHAN:
          itemTime[kItemRemote] = now;
          break;
        case SigProto::WM_STANDBY:
          itemTime[kItemStandby] = now;
          break;
        default:
          break;
      }
    }
  }
  if (debug) {
    TERM::RtpRadioRequest request;
    EncodeStatusASN(radioState, request);
    Trace(s.command, "receive extension from controller", request);
  }
  ApplyAccess();
  return rc;
}

int LemzRadioControl::SendProtoToChan(sig_proto const& p) {
  unsigned char buf[Board::RtpExt::kMaxPacket];
  const int len = sig_proto_pack(&p, buf, sizeof buf);
  if (len < 1) {
    stats.encoderError = static_cast<std::uint32_t>(len);
    return 0;
  }
  return static_cast<int>(WritePacket(buf, static_cast<std::size_t>(len)));
}

void LemzRadioControl::EncodeHeader(LemzRadioState const& s, sig_proto& p) {
  sig_proto_init(&p);
  p.type = static_cast<std::uint32_t>(s.command);
  p.source_addr = s.source_addr;
  p.source_ssrc = s.source_ssrc;
  p.priority = static_cast<std::uint32_t>(s.priority);
  p.flag_p = static_cast<std::uint32_t>(s.ptt);
  p.flag_b = static_cast<std::uint32_t>(s.bss);
  p.flag_r = static_cast<std::uint32_t>(s.vad_rx);
  p.flag_t = static_cast<std::uint32_t>(s.vad_tx);
  p.flag_s = static_cast<std::uint32_t>(s.sql);
  p.flag_sh = static_cast<std::uint32_t>(s.sh);
  p.flag_pw = static_cast<std::uint32_t>(s.pwr);
  p.flag_rv = static_cast<std::uint32_t>(s.rv);
  p.flag_rs = static_cast<std::uint32_t>(s.resv);
  p.flag_c = static_cast<std::uint32_t>(s.selcall);
  p.status = static_cast<std::uint32_t>(s.li);
}

}  // namespace RTPSignalling
