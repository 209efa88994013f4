#include "radio/ed137_radio_control.h"

#include <arpa/inet.h>
#include <poll.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "foundation/mux_time.h"
#include "messages/TERM.h"

namespace RTPSignalling {

namespace {

std::string AddrText(std::uint32_t addr) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr a;
  a.s_addr = addr;
  ::inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

bool IsAddress(const std::string& text) {
  in_addr a;
  return ::inet_aton(text.c_str(), &a) != 0;
}

void GetHeader(TERM::ED137RadioHeader const& h, ED137RadioState& s) {
  s.ptt = static_cast<std::uint32_t>(h.get_ptt().asInt());
  s.squ = static_cast<std::uint32_t>(h.get_squ().asInt());
  s.ptt_id = h.get_ptt_id().getValue();
  s.ptt_mute = h.get_ptt_mute() ? 1 : 0;
  s.ptt_summation = h.get_ptt_summation() ? 1 : 0;
  s.sct = h.get_sct() ? 1 : 0;
}

void GetSqi(TERM::ED137RadioExtensionSQI const& q, ED137RadioState& s) {
  s.command |= ED137RadioState::kRx | ED137RadioState::kQuality;
  s.bss_method = static_cast<std::uint32_t>(q.get_bss_method().asInt());
  s.bss_quality = q.get_bss_quality().getValue();
}

void PutHeader(ED137RadioState const& s, TERM::ED137RadioHeader& h) {
  h.set_ptt().setFromInt(static_cast<int>(s.ptt));
  h.set_squ().setFromInt(static_cast<int>(s.squ));
  h.set_ptt_id(s.ptt_id & 63u);
  h.set_ptt_mute(s.ptt_mute != 0);
  h.set_ptt_summation(s.ptt_summation != 0);
  h.set_sct(s.sct != 0);
}

void PutSqi(ED137RadioState const& s, TERM::ED137RadioExtensionSQI& q) {
  q.set_bss_method().setFromInt(static_cast<int>(s.bss_method));
  q.set_bss_quality(s.bss_quality & 31u);
}

// The header words, always; the quality only when the state carries one.
void Copy(ED137RadioState const& from, ED137RadioState& to) {
  to.command = from.command;
  to.ptt = from.ptt;
  to.squ = from.squ;
  to.ptt_id = from.ptt_id;
  to.ptt_mute = from.ptt_mute;
  to.ptt_summation = from.ptt_summation;
  to.sct = from.sct;
  to.session_addr = from.session_addr;
  to.session_ssrc = from.session_ssrc;
  if (from.HasQuality()) {
    to.bss_method = from.bss_method;
    to.bss_quality = from.bss_quality;
  }
}

}  // namespace

// ED137RadioParams -----------------------------------------------------------

void ED137RadioParams::Init(TERM::ED137RadioResponse const& r) {
  if (r.transmission_depend_on_squ_isPresent()) transmission_depend_on_squ = r.get_transmission_depend_on_squ() ? 1 : 0;
  if (r.sigtime_isPresent()) sigtime = r.get_sigtime().getValue();
  if (r.r2s_keepalive_period_isPresent()) r2s_keepalive_period = r.get_r2s_keepalive_period().getValue();
  if (r.r2s_keepalive_multiplier_isPresent()) r2s_keepalive_multiplier = r.get_r2s_keepalive_multiplier().getValue();
  type = static_cast<std::uint32_t>(r.get_type().asInt());
  txrxmode = static_cast<std::uint32_t>(r.get_txrxmode().asInt());
}

// ED137RadioState ------------------------------------------------------------

bool ED137RadioState::IsEqual(ED137RadioState const& o) const {
  return command == o.command && ptt == o.ptt && squ == o.squ && ptt_id == o.ptt_id && ptt_mute == o.ptt_mute &&
         ptt_summation == o.ptt_summation && sct == o.sct && bss_method == o.bss_method &&
         bss_quality == o.bss_quality && session_addr == o.session_addr && session_ssrc == o.session_ssrc;
}

int ED137RadioState::DecodeASN(TERM::ED137RadioModifier const& v) {
  command = 0;
  session_addr = ::inet_addr(v.get_addr().get_session_addr().c_str());
  session_ssrc = static_cast<std::uint32_t>(v.get_addr().get_session_ssrc().getValue());
  const TERM::ED137RadioModifierParams& p = v.get_params();
  if (p.rx_isSelected()) {
    command |= kRx | kHeader;
    GetHeader(p.get_rx().get_header(), *this);
    if (p.get_rx().sqi_isPresent()) GetSqi(p.get_rx().get_sqi(), *this);
  } else if (p.tx_isSelected()) {
    command |= kTx | kHeader;
    GetHeader(p.get_tx().get_header(), *this);
  }
  return 0;
}

int ED137RadioState::DecodeASN(TERM::ED137RadioStatus const& v) {
  command = kRx | kHeader;
  GetHeader(v.get_header(), *this);
  if (v.sqi_isPresent()) GetSqi(v.get_sqi(), *this);
  return 0;
}

int ED137RadioState::EncodeASN(TERM::ED137RadioModifierParams& p) const {
  switch (command & kDirection) {
    case kRx: {
      TERM::ED137RadioRxCommand& rx = p.select_rx();
      PutHeader(*this, rx.set_header());
      if (HasQuality()) PutSqi(*this, rx.set_sqi());
      break;
    }
    case kTx:
      PutHeader(*this, p.select_tx().set_header());
      break;
    default:
      break;
  }
  return 0;
}

// ED137RadioControl ----------------------------------------------------------

ED137RadioControl::ED137RadioControl(int id, rtp_ext_attach_session_params const& attach,
                                     rtp_ext_init_params const& init)
    : RadioControl(id, attach, init) {
  Init();
}

ED137RadioControl::ED137RadioControl(rtp_ext_init_params const& init) : RadioControl(init) { Init(); }

ED137RadioControl::ED137RadioControl(int id, Fd rtp, rtp_attach_session_params const& attach)
    : RadioControl(id, std::move(rtp), attach) {
  Init();
}

ED137RadioControl::~ED137RadioControl() = default;

void ED137RadioControl::Init() {
  now = Mux::milliseconds();
  lastSend = lastReport = lastReceive = now;
  r2s_proto_init(&rxProto, R2SProto::kKindNone);
  r2s_proto_init(&prevProto, R2SProto::kKindNone);
}

bool ED137RadioControl::GetSQU() { return radioState.squ != 0; }

bool ED137RadioControl::SendASNToChan(TERM::RadioStatus const& v) {
  sendFailed = false;
  if (!v.ed_137_isSelected()) return false;
  ED137RadioState work = radioState;
  work.DecodeASN(v.get_ed_137());
  sendFailed = SendRadioStateToChan(work) != 0;
  return !sendFailed;
}

bool ED137RadioControl::SendASNToChan(TERM::RadioModifier const& v) {
  sendFailed = false;
  if (!v.ed_137_isSelected()) return false;
  const TERM::ED137RadioModifier& m = v.get_ed_137();
  const TERM::ED137RadioModifierParams& p = m.get_params();
  const TERM::ED137RadioHeader* h = p.rx_isSelected()   ? &p.get_rx().get_header()
                                    : p.tx_isSelected() ? &p.get_tx().get_header()
                                                        : nullptr;
  // With PTT on the session address becomes the source filter: one that is
  // no address would make it 255.255.255.255 and the channel deaf.
  const std::string& addr = m.get_addr().get_session_addr();
  if (h && h->get_ptt().asInt() != 0 && !IsAddress(addr)) {
    refusals.line(std::cerr) << GetPrefix() << " ed-137 modifier with ptt to session-addr \"" << addr
                             << "\", which is no address: refused !!!" << std::endl;
    return false;
  }
  ED137RadioState work = radioState;
  work.DecodeASN(m);
  sendFailed = SendRadioStateToChan(work) != 0;
  return !sendFailed;
}

int ED137RadioControl::DecodeProto(r2s_proto const& p, ED137RadioState& s) {
  s.session_addr = p.source_addr;
  s.session_ssrc = p.source_ssrc;
  if (p.kind == R2SProto::kKindTx) {
    s.command |= ED137RadioState::kTx | ED137RadioState::kHeader;
    s.ptt = p.tx.ptt_type;
    s.ptt_id = p.tx.ptt_id;
    s.ptt_mute = p.tx.ptt_mute;
    s.ptt_summation = p.tx.ptt_summation;
    return 0;
  }
  if (p.kind == R2SProto::kKindRx) {
    s.command |= ED137RadioState::kRx | ED137RadioState::kHeader;
    s.ptt = p.rx.ptt_type;
    s.squ = p.rx.squ;
    s.ptt_id = p.rx.ptt_id;
    s.ptt_mute = p.rx.ptt_mute;
    s.ptt_summation = p.rx.ptt_summation;
    s.sct = p.rx.sct;
    const std::uint32_t n = p.count < R2SProto::kMaxFeatures ? p.count : R2SProto::kMaxFeatures;
    for (std::uint32_t i = 0; i < n; ++i) {
      if (p.features[i].type != R2SProto::kRxSqi) continue;
      s.command |= ED137RadioState::kQuality;
      s.bss_quality = p.features[i].data[0];
      s.bss_method = p.features[i].data[1];
    }
    return 0;
  }
  return -1;
}

int ED137RadioControl::EncodeStatusASN(ED137RadioState const& s, TERM::RtpRadioRequest& request) {
  TERM::ED137RadioStatus& st = request.set_status().select_ed_137();
  PutHeader(s, st.set_header());
  PutSqi(s, st.set_sqi());
  return 0;
}

int ED137RadioControl::EncodeASN(ED137RadioState const& status, ED137RadioState const& s,
                                 TERM::RtpRadioRequest& request) {
  EncodeStatusASN(status, request);
  TERM::ED137RadioModifier& m = request.set_request().select_ed_137();
  m.set_addr().set_session_addr(AddrText(s.session_addr));
  m.ref_addr().set_session_ssrc(s.session_ssrc);
  s.EncodeASN(m.set_params());
  return 0;
}

void ED137RadioControl::OnRtpExtEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  RadioControl::OnRtpExtEvent(fd, revents);
  now = Mux::milliseconds();
  r2s_proto_init(&prevProto, R2SProto::kKindNone);
  int count = 0;
  for (;;) {
    RequestNextPacket();
    unsigned char buf[Board::RtpExt::kMaxPacket];
    const ssize_t n = ReadPacket(buf, sizeof buf);
    if (n <= 0) break;
    r2s_proto_init(&rxProto, R2SProto::kKindNone);
    // The radio's headers travel towards the system: tx headers.
    const int rc = r2s_proto_unpack_tx(&rxProto, buf, static_cast<int>(n));
    if (rc != 0) {
      stats.decoderError = static_cast<std::uint32_t>(rc);
      continue;
    }
    lastReceive = now;
    ++stats.decoded;
    rxProto.source_addr = nextPacket.addr;
    rxProto.source_ssrc = nextPacket.ssrc;
    // A run from one stream and source reaches the controller as its last.
    if (count > 0 && cmp_r2s_proto_source(&rxProto, &prevProto) != 0) OnRtpProtoRXEvent(prevProto);
    prevProto = rxProto;
    ++count;
  }
  if (count > 0) OnRtpProtoRXEvent(prevProto);
}

int ED137RadioControl::OnRtpProtoRXEvent(r2s_proto const& p) {
  ED137RadioState state;
  DecodeProto(p, state);
  if (!AccessFormChanToRadio(state)) return 0;
  // An unchanged state goes to the controller at most once an interval.
  if (state.IsEqual(chanState) && interval > Age(now, lastReport)) return 0;
  PutProtoFromChanToRadio(state);
  TERM::RtpRadioRequest request;
  EncodeASN(radioState, state, request);
  Trace(state.command, " send extension to controller", request);
  lastReport = now;
  if (notify) notify->RadioControlNotify(request);
  return 0;
}

bool ED137RadioControl::NeedSendProto(ED137RadioState const& s) const {
  if (init.param4 < 1) return true;
  if (init.param3 > 0) return !s.IsEqual(radioState);
  return true;
}

int ED137RadioControl::SendRadioStateToChan(ED137RadioState const& s) {
  if (!NeedSendProto(s)) return 0;
  int rc = 0;
  if (PutProtoFromRadioToChan(s) == 0) {
    r2s_proto p;
    if (EncodeProto(s, p) == 0 && SendProtoToChan(p) < 1) rc = -1;
  }
  now = Mux::milliseconds();
  if (mode == RadioControlGateway && (s.command & ED137RadioState::kRx)) lastSend = now;
  if (debug) {
    TERM::RtpRadioRequest request;
    EncodeStatusASN(radioState, request);
    Trace(radioState.command, " receive extension from controller", request);
  }
  in_addr a;
  a.s_addr = radioState.session_addr;
  UpdateAccess(radioState.ptt != 0, a);
  return rc;
}

int ED137RadioControl::SendProtoToChan(r2s_proto const& p) {
  unsigned char buf[Board::RtpExt::kMaxPacket];
  r2s_proto copy = p;
  const int len = r2s_proto_pack(&copy, buf, sizeof buf);
  if (len < 1) {
    stats.encoderError = static_cast<std::uint32_t>(len);
    return 0;
  }
  return static_cast<int>(WritePacket(buf, static_cast<std::size_t>(len)));
}

void ED137RadioControl::Trace(std::uint32_t command, const char* what, TERM::RtpRadioRequest const& request) {
  if (!debug) return;
  char hex[16];
  std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(command));
  traceLines.line(std::clog) << GetPrefix() << " command=0x" << hex << what << ": " << request << std::endl;
}

// ED137RadioGWControl --------------------------------------------------------

int ED137RadioGWControl::PutProtoFromRadioToChan(ED137RadioState const& s) {
  Copy(s, radioState);
  return 0;
}

int ED137RadioGWControl::PutProtoFromChanToRadio(ED137RadioState const& s) {
  Copy(s, chanState);
  return 0;
}

bool ED137RadioGWControl::AccessFormChanToRadio(ED137RadioState const&) {
  const bool type = params.type == 2 || params.type == 3 || params.type == 4;
  const bool mode = params.txrxmode == 0 || params.txrxmode == 2;
  return type && mode;
}

int ED137RadioGWControl::EncodeProto(ED137RadioState const& s, r2s_proto& p) {
  switch (s.command & ED137RadioState::kDirection) {
    case ED137RadioState::kRx:
      r2s_proto_init(&p, R2SProto::kKindRx);
      r2s_proto_set_rx_header(&p, s.ptt, s.squ, s.ptt_id, s.ptt_mute, s.ptt_summation, s.sct);
      if (s.HasQuality()) r2s_proto_add_rx_sqi(&p, s.bss_quality, s.bss_method);
      break;
    case ED137RadioState::kTx:
      r2s_proto_init(&p, R2SProto::kKindTx);
      r2s_proto_set_tx_header(&p, s.ptt, s.ptt_id, s.ptt_mute, s.ptt_summation);
      break;
    default:
      return -1;
  }
  p.source_addr = s.session_addr;
  p.source_ssrc = s.session_ssrc;
  return 0;
}

std::uint32_t ED137RadioGWControl::ProcessRadioStatus(std::uint32_t now, std::uint32_t interval) {
  const std::uint32_t supervision = params.r2s_keepalive_period * params.r2s_keepalive_multiplier;
  if (supervision != 0 && Age(now, lastReceive) >= supervision) {
    if (notify) notify->RadioControlNotify(151);
    // Within reach of the signed age: a silence of 2^31 ms would look fresh.
    lastReceive = now - supervision;
  }
  // The radio's next header, however late, is not held back as if just
  // reported.
  KeepInReach(now, lastReport);
  if (Age(now, lastSend) >= interval) {
    // A keep-alive is an rx header; a tx modifier's direction is not kept,
    // its header words are.
    radioState.command =
        (radioState.command & ED137RadioState::kQuality) | ED137RadioState::kRx | ED137RadioState::kHeader;
    r2s_proto p;
    if (EncodeProto(radioState, p) == 0) {
      SendProtoToChan(p);
      lastSend = now;
    }
  }
  const std::uint32_t since = Age(now, lastSend);
  if (since != 0 && since < interval) return interval - since + 10;
  return interval;
}

}  // namespace RTPSignalling
