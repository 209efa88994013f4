#include "radio/lemz_radio_engines.h"

#include <cstring>
#include <initializer_list>

namespace RTPSignalling {

namespace {

// Whether a state of command c sets a field kept for these commands; the
// default-init command sets every field.
bool Sets(int c, std::initializer_list<int> commands) {
  if (isDefaultInitCommand(c)) return true;
  for (int x : commands)
    if (x == c) return true;
  return false;
}

void CopyFlags(LemzRadioState& to, LemzRadioState const& s) {
  to.li = s.li;
  to.bss = s.bss;
  to.vad_rx = s.vad_rx;
  to.vad_tx = s.vad_tx;
  to.sql = s.sql;
  to.sh = s.sh;
  to.pwr = s.pwr;
  to.rv = s.rv;
  to.resv = s.resv;
  to.selcall = s.selcall;
}

// The flags a workstation's command carries on its own.
void CopyCommandFlags(LemzRadioState& to, LemzRadioState const& s) {
  const int c = s.command;
  if (Sets(c, {1, 3})) to.ptt = s.ptt;
  if (Sets(c, {1, 4})) to.bss = s.bss;
  if (Sets(c, {1, 6})) to.sh = s.sh;
  if (Sets(c, {1, 5})) to.rv = s.rv;
  if (Sets(c, {1, 7})) to.pwr = s.pwr;
  if (Sets(c, {1, 8})) to.resv = s.resv;
}

void CopyCallerId(sig_proto_gw_sel_call& to, const char (&id)[SigProto::kCallerId]) {
  std::memset(to.callerID, 0, sizeof to.callerID);
  const std::size_t len = ::strnlen(id, sizeof id - 1);
  std::memcpy(to.callerID, id, len);
  to.callerID_length = static_cast<std::uint8_t>(len);
}

std::uint8_t Low8(std::int32_t v) { return static_cast<std::uint8_t>(v & 0xFF); }

}  // namespace

LemzRadioGWControl::~LemzRadioGWControl() = default;
LemzRadioWSControl::~LemzRadioWSControl() = default;

int LemzRadioGWControl::PutProtoFromRadioToChan(LemzRadioState const& s) {
  LemzRadioState& r = radioState;
  const int c = s.command;
  r.command = c;
  r.priority = s.priority;
  r.ptt = s.ptt;
  CopyFlags(r, s);
  if (Sets(c, {SigProto::WM_CHAN})) {
    r.channel = s.channel;
    r.frequency = s.frequency;
    r.squelshe = s.squelshe;
    r.rte = s.rte;
  }
  if (Sets(c, {SigProto::WM_SELECT_RC_CHAN})) {
    r.remote_no = s.remote_no;
    r.remote_ch = s.remote_ch;
  }
  if (Sets(c, {SigProto::WM_TRANS, SigProto::WM_SEL_CALL_TRANS})) {
    r.session_addr = s.session_addr;
    r.session_ssrc = s.session_ssrc;
  }
  if (Sets(c, {SigProto::WM_RADIO_QUALITY})) r.quality = s.quality;
  if (Sets(c, {SigProto::WM_STANDBY})) {
    r.standby_state_channel = s.standby_state_channel;
    r.standby_group = s.standby_group;
    r.standby_state_receiver = s.standby_state_receiver;
  }
  return isDefaultInitCommand(c) ? -1 : 0;
}

int LemzRadioGWControl::PutProtoFromChanToRadio(LemzRadioState const& s) {
  LemzRadioState& h = chanState;
  const int c = s.command;
  h.session_addr = s.source_addr;
  h.session_ssrc = s.source_ssrc;
  h.command = c;
  h.priority = s.priority;
  CopyCommandFlags(h, s);
  if (Sets(c, {SigProto::GW_ADJUST_CHAN})) {
    h.channel = s.channel;
    h.frequency = s.frequency;
  }
  if (Sets(c, {SigProto::GW_SEL_CALL})) std::memcpy(h.caller_id, s.caller_id, sizeof h.caller_id);
  if (Sets(c, {SigProto::GW_SELECT_RC_CHAN})) {
    h.remote_no = s.remote_no;
    h.remote_ch = s.remote_ch;
  }
  if (Sets(c, {SigProto::GW_ADJUST_SQUELSHE})) h.squelshe = s.squelshe;
  if (Sets(c, {SigProto::GW_ADJUST_RTE})) h.rte = s.rte;
  if (Sets(c, {SigProto::GW_ADJUST_STANDBY})) h.standby_state_channel = s.standby_state_channel;
  return isDefaultInitCommand(c) ? -1 : 0;
}

int LemzRadioGWControl::AccessFormChanToRadio(LemzRadioState const& s) {
  if (radioState.ptt == 0) return 1;
  // A stronger station (lower value) may take the transmitter over.
  if (isPTTCommand(s.command) && s.priority < radioState.priority && s.ptt != 0) return 1;
  return s.source_addr == radioState.session_addr;
}

int LemzRadioGWControl::EncodeProto(LemzRadioState const& s, sig_proto& p) {
  EncodeHeader(s, p);
  auto& b = p.body;
  switch (s.command) {
    case SigProto::WM_FLAG:
      return 0;
    case SigProto::WM_TRANS:
      b.wm_trans.session_addr.s_addr = s.session_addr;
      b.wm_trans.ssrc = s.session_ssrc;
      return 0;
    case SigProto::WM_RADIO_QUALITY:
      b.wm_radio_quality.radio_quality = s.quality;
      return 0;
    case SigProto::WM_CHAN:
      b.wm_chan.id = static_cast<std::uint32_t>(s.channel);
      b.wm_chan.freq = s.frequency;
      b.wm_chan.squelsh = Low8(s.squelshe);
      b.wm_chan.rte = Low8(s.rte);
      return 0;
    case SigProto::WM_SEL_CALL_TRANS: {
      b.wm_sel_call_trans.session_addr.s_addr = s.session_addr;
      b.wm_sel_call_trans.ssrc = s.session_ssrc;
      sig_proto_gw_sel_call id;
      CopyCallerId(id, s.caller_id);
      b.wm_sel_call_trans.callerID_length = id.callerID_length;
      std::memcpy(b.wm_sel_call_trans.callerID, id.callerID, sizeof id.callerID);
      return 0;
    }
    case SigProto::WM_SELECT_RC_CHAN:
      b.wm_select_rc_chan.interface = Low8(s.remote_no);
      b.wm_select_rc_chan.channel = Low8(s.remote_ch);
      return 0;
    case SigProto::WM_STANDBY:
      b.wm_standby.state = Low8(s.standby_state_channel);
      b.wm_standby.group = Low8(s.standby_group);
      b.wm_standby.receiver_state = Low8(s.standby_state_receiver);
      return 0;
    default:
      return -1;
  }
}

std::uint32_t LemzRadioGWControl::ProcessRadioStatus(std::uint32_t now, std::uint32_t interval) {
  const LemzRadioState& r = radioState;
  const bool due[kItems] = {
      true,
      r.channel >= 0 && r.frequency >= 0.0f,
      r.remote_no >= 0 && r.remote_ch >= 0,
      r.standby_state_channel >= 0 && r.standby_group >= 0 && r.standby_state_receiver >= 0,
  };
  const SigProto::Type type[kItems] = {
      r.ptt == 0 ? SigProto::WM_FLAG : r.caller_id[0] != '\0' ? SigProto::WM_SEL_CALL_TRANS : SigProto::WM_TRANS,
      SigProto::WM_CHAN,
      SigProto::WM_SELECT_RC_CHAN,
      SigProto::WM_STANDBY,
  };
  for (int i = 0; i < kItems; ++i) {
    // An item goes at once when it becomes due, however long that took.
    KeepInReach(now, itemTime[i]);
    if (Age(now, itemTime[i]) <= 999 || !due[i]) continue;
    radioState.command = static_cast<std::int32_t>(type[i]);
    sig_proto p;
    if (EncodeProto(radioState, p) != 0) continue;
    SendProtoToChan(p);
    itemTime[i] = now;
  }
  // The oldest item is the one with the largest age: stamps wrap with the
  // clock.
  std::uint32_t since = 0;
  for (std::uint32_t t : itemTime)
    if (Age(now, t) > since) since = Age(now, t);
  if (since == 0 || since >= interval) return interval;
  return interval - since + 10;
}

int LemzRadioWSControl::PutProtoFromRadioToChan(LemzRadioState const& s) {
  LemzRadioState& r = radioState;
  const int c = s.command;
  r.command = c;
  r.priority = s.priority;
  CopyCommandFlags(r, s);
  if (Sets(c, {SigProto::GW_ADJUST_CHAN})) {
    r.channel = s.channel;
    r.frequency = s.frequency;
  }
  if (Sets(c, {SigProto::GW_ADJUST_SQUELSHE})) r.squelshe = s.squelshe;
  if (Sets(c, {SigProto::GW_ADJUST_RTE})) r.rte = s.rte;
  if (Sets(c, {SigProto::GW_SELECT_RC_CHAN})) {
    r.remote_no = s.remote_no;
    r.remote_ch = s.remote_ch;
  }
  if (Sets(c, {SigProto::GW_SEL_CALL})) std::memcpy(r.caller_id, s.caller_id, sizeof r.caller_id);
  if (Sets(c, {SigProto::GW_ADJUST_STANDBY})) r.standby_state_channel = s.standby_state_channel;
  return isDefaultInitCommand(c) ? -1 : 0;
}

int LemzRadioWSControl::PutProtoFromChanToRadio(LemzRadioState const& s) {
  LemzRadioState& h = chanState;
  const int c = s.command;
  h.session_addr = s.source_addr;
  h.session_ssrc = s.source_ssrc;
  if (Sets(c, {SigProto::WM_SEL_CALL_TRANS})) {
    h.session_addr = s.session_addr;
    h.session_ssrc = s.session_ssrc;
  }
  h.command = c;
  h.priority = s.priority;
  h.ptt = s.ptt;
  CopyFlags(h, s);
  if (Sets(c, {SigProto::WM_CHAN})) {
    h.channel = s.channel;
    h.frequency = s.frequency;
    h.squelshe = s.squelshe;
    h.rte = s.rte;
  }
  if (Sets(c, {SigProto::WM_SELECT_RC_CHAN})) {
    h.remote_no = s.remote_no;
    h.remote_ch = s.remote_ch;
  }
  if (Sets(c, {SigProto::WM_STANDBY})) {
    h.standby_state_channel = s.standby_state_channel;
    h.standby_group = s.standby_group;
    h.standby_state_receiver = s.standby_state_receiver;
  }
  if (Sets(c, {SigProto::WM_RADIO_QUALITY})) h.quality = s.quality;
  return isDefaultInitCommand(c) ? -1 : 0;
}

int LemzRadioWSControl::EncodeProto(LemzRadioState const& s, sig_proto& p) {
  EncodeHeader(s, p);
  auto& b = p.body;
  switch (s.command) {
    case SigProto::GW_FLAG:
    case SigProto::GW_FLAG_PTT:
    case SigProto::GW_FLAG_BSS:
    case SigProto::GW_FLAG_RV:
    case SigProto::GW_FLAG_SH:
    case SigProto::GW_FLAG_PW:
    case SigProto::GW_FLAG_RS:
      return 0;
    case SigProto::GW_ADJUST_CHAN:
      b.gw_adjust_chan.id = static_cast<std::uint32_t>(s.channel);
      b.gw_adjust_chan.freq = s.frequency;
      return 0;
    case SigProto::GW_SEL_CALL:
      CopyCallerId(b.gw_sel_call, s.caller_id);
      return 0;
    case SigProto::GW_SELECT_RC_CHAN:
      b.gw_select_rc_chan.interface = Low8(s.remote_no);
      b.gw_select_rc_chan.channel = Low8(s.remote_ch);
      return 0;
    case SigProto::GW_ADJUST_SQUELSHE:
      b.gw_adjust_squelsh.squelsh = Low8(s.squelshe);
      return 0;
    case SigProto::GW_ADJUST_RTE:
      b.gw_adjust_rte.rte = Low8(s.rte);
      return 0;
    case SigProto::GW_ADJUST_STANDBY:
      b.gw_adjust_standby.state = Low8(s.standby_state_channel);
      return 0;
    default:
      return -1;
  }
}

}  // namespace RTPSignalling
