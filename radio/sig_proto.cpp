#include "radio/sig_proto.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

using namespace SigProto;

s_sig_proto_table_name sig_proto_packet_const_name[kTableSize] = {
    {GW_FLAG, "GW_FLAG"},
    {GW_ADJUST_CHAN, "GW_ADJUST_CHAN"},
    {GW_FLAG_PTT, "GW_FLAG_PTT"},
    {GW_FLAG_BSS, "GW_FLAG_BSS"},
    {GW_FLAG_RV, "GW_FLAG_RV"},
    {GW_FLAG_SH, "GW_FLAG_SH"},
    {GW_FLAG_PW, "GW_FLAG_PW"},
    {GW_FLAG_RS, "GW_FLAG_RS"},
    {GW_SEL_CALL, "GW_SEL_CALL"},
    {GW_SELECT_RC_CHAN, "GW_SELECT_RC_CHAN"},
    {GW_ADJUST_SQUELSHE, "GW_ADJUST_SQUELSHE"},
    {GW_ADJUST_RTE, "GW_ADJUST_RTE"},
    {GW_ADJUST_STANDBY, "GW_ADJUST_STANDBY"},
    {WM_FLAG, "WM_FLAG"},
    {WM_TRANS, "WM_TRANS"},
    {WM_RADIO_QUALITY, "WM_RADIO_QUALITY"},
    {WM_CHAN, "WM_CHAN"},
    {WM_SEL_CALL_TRANS, "WM_SEL_CALL_TRANS"},
    {WM_SELECT_RC_CHAN, "WM_SELECT_RC_CHAN"},
    {WM_STANDBY, "WM_STANDBY"},
    {-1, ""},
};

namespace {

void Put32(unsigned char* at, std::uint32_t v) {
  at[0] = static_cast<unsigned char>(v >> 24);
  at[1] = static_cast<unsigned char>(v >> 16);
  at[2] = static_cast<unsigned char>(v >> 8);
  at[3] = static_cast<unsigned char>(v);
}

std::uint32_t Get32(const unsigned char* at) {
  return std::uint32_t(at[0]) << 24 | std::uint32_t(at[1]) << 16 | std::uint32_t(at[2]) << 8 | at[3];
}

std::uint32_t FloatBits(float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

float FromBits(std::uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// The session address travels with its octets reversed: a.b.c.d, held in
// network order, is sent as d, c, b, a.
void PutAddress(unsigned char* at, in_addr addr) {
  unsigned char o[4];
  std::memcpy(o, &addr.s_addr, sizeof o);
  at[0] = o[3];
  at[1] = o[2];
  at[2] = o[1];
  at[3] = o[0];
}

in_addr GetAddress(const unsigned char* at) {
  const unsigned char o[4] = {at[3], at[2], at[1], at[0]};
  in_addr addr;
  std::memcpy(&addr.s_addr, o, sizeof o);
  return addr;
}

int Round4(int n) { return (n + 3) & ~3; }

void PutHeader(const sig_proto& p, unsigned char* buf) {
  buf[0] = static_cast<unsigned char>(p.type);
  buf[1] = static_cast<unsigned char>((p.priority & 0xF) << 4 | (p.flag_t & 1) << 3 | (p.flag_p & 1) << 2 |
                                      (p.flag_r & 1) << 1 | (p.flag_s & 1));
  buf[2] = static_cast<unsigned char>((p.flag_b & 1) << 7 | (p.flag_rv & 1) << 6 | (p.flag_sh & 1) << 5 |
                                      (p.flag_pw & 1) << 4 | ((p.status >> 5) & 0xF));
  buf[3] = static_cast<unsigned char>((p.status & 0x1F) << 3 | (p.flag_c & 3) << 1 | (p.flag_rs & 1));
}

void GetHeader(const unsigned char* buf, sig_proto& p) {
  p.type = buf[0];
  p.priority = buf[1] >> 4;
  p.flag_t = (buf[1] >> 3) & 1;
  p.flag_p = (buf[1] >> 2) & 1;
  p.flag_r = (buf[1] >> 1) & 1;
  p.flag_s = buf[1] & 1;
  p.flag_b = (buf[2] >> 7) & 1;
  p.flag_rv = (buf[2] >> 6) & 1;
  p.flag_sh = (buf[2] >> 5) & 1;
  p.flag_pw = (buf[2] >> 4) & 1;
  p.status = std::uint32_t(buf[2] & 0xF) << 5 | buf[3] >> 3;
  p.flag_c = (buf[3] >> 1) & 3;
  p.flag_rs = buf[3] & 1;
}

// Octets a received packet of the type needs before its caller ID, or -1 for
// a type outside the table.
int Needed(std::uint32_t type) {
  switch (type) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_FLAG_BSS:
    case GW_FLAG_RV:
    case GW_FLAG_SH:
    case GW_FLAG_PW:
    case GW_FLAG_RS:
    case WM_FLAG:
      return 4;
    case GW_SEL_CALL:
      return 5;
    case GW_SELECT_RC_CHAN:
    case GW_ADJUST_SQUELSHE:
    case GW_ADJUST_RTE:
    case GW_ADJUST_STANDBY:
    case WM_RADIO_QUALITY:
    case WM_SELECT_RC_CHAN:
    case WM_STANDBY:
      return 8;
    case GW_ADJUST_CHAN:
    case WM_TRANS:
      return 12;
    case WM_SEL_CALL_TRANS:
      return 13;
    case WM_CHAN:
      return 16;
    default:
      return -1;
  }
}

// Up to len octets of cid, stopping at a zero octet; the rest of the field
// zero. Never reads past len octets of cid.
void SetCallerId(unsigned char (&field)[kCallerId], const char* cid, unsigned char len) {
  std::memset(field, 0, sizeof field);
  if (cid) std::memcpy(field, cid, strnlen(cid, len));
}

bool IsPtt(std::uint32_t type) {
  switch (type) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_SEL_CALL:
    case WM_FLAG:
    case WM_TRANS:
    case WM_SEL_CALL_TRANS:
      return true;
    default:
      return false;
  }
}

}  // namespace

int sig_proto_pack(const sig_proto* p, unsigned char* buf, int size) {
  if (!p || !buf) return 0;
  if (size < kHeader) return kShort;
  std::memset(buf, 0, static_cast<std::size_t>(size));
  PutHeader(*p, buf);
  const auto& b = p->body;
  switch (p->type) {
    case GW_ADJUST_CHAN:
      if (size < 12) return kShort;
      Put32(buf + 4, b.gw_adjust_chan.id);
      Put32(buf + 8, FloatBits(b.gw_adjust_chan.freq));
      return 12;
    case GW_SEL_CALL: {
      const int len = b.gw_sel_call.callerID_length;
      if (size < len + 12) return kShort;
      buf[4] = b.gw_sel_call.callerID_length;
      std::memcpy(buf + 5, b.gw_sel_call.callerID, static_cast<std::size_t>(len));
      return Round4(5 + len);
    }
    case GW_SELECT_RC_CHAN:
    case WM_SELECT_RC_CHAN: {
      if (size < 8) return kShort;
      const sig_proto_select_rc_chan& s = p->type == GW_SELECT_RC_CHAN ? b.gw_select_rc_chan : b.wm_select_rc_chan;
      buf[4] = s.interface;
      buf[5] = s.channel;
      return 8;
    }
    case GW_ADJUST_SQUELSHE:
      if (size < 8) return kShort;
      buf[4] = b.gw_adjust_squelsh.squelsh;
      return 8;
    case GW_ADJUST_RTE:
      if (size < 8) return kShort;
      buf[4] = b.gw_adjust_rte.rte;
      return 8;
    case GW_ADJUST_STANDBY:
      if (size < 8) return kShort;
      buf[4] = b.gw_adjust_standby.state;
      return 8;
    case WM_TRANS:
      if (size < 12) return kShort;
      PutAddress(buf + 4, b.wm_trans.session_addr);
      Put32(buf + 8, b.wm_trans.ssrc);
      return 12;
    case WM_RADIO_QUALITY:
      if (size < 8) return kShort;
      Put32(buf + 4, FloatBits(b.wm_radio_quality.radio_quality));
      return 8;
    case WM_CHAN:
      if (size < 16) return kShort;
      Put32(buf + 4, b.wm_chan.id);
      Put32(buf + 8, FloatBits(b.wm_chan.freq));
      buf[12] = b.wm_chan.squelsh;
      buf[13] = b.wm_chan.rte;
      return 16;
    case WM_SEL_CALL_TRANS: {
      const int len = b.wm_sel_call_trans.callerID_length;
      if (size < len + 20) return kShort;
      PutAddress(buf + 4, b.wm_sel_call_trans.session_addr);
      Put32(buf + 8, b.wm_sel_call_trans.ssrc);
      buf[12] = b.wm_sel_call_trans.callerID_length;
      std::memcpy(buf + 13, b.wm_sel_call_trans.callerID, static_cast<std::size_t>(len));
      return Round4(13 + len);
    }
    case WM_STANDBY:
      if (size < 8) return kShort;
      buf[4] = b.wm_standby.state;
      buf[5] = b.wm_standby.group;
      buf[6] = b.wm_standby.receiver_state;
      return 8;
    default:
      return kHeader;
  }
}

int sig_proto_unpack(sig_proto* p, const unsigned char* buf, int len) {
  if (!p || !buf) return kNull;
  if (len < kHeader) return kShort;
  const std::uint32_t type = buf[0];
  const int need = Needed(type);
  if (need < 0) {
    p->type = type;
    return kUnknownType;
  }
  if (len < need) return kShort;
  if (type == GW_SEL_CALL && len < 5 + buf[4]) return kShort;
  if (type == WM_SEL_CALL_TRANS && len < 13 + buf[12]) return kShort;

  // Byte copies, so that the record's padding is the caller's as well.
  sig_proto r;
  std::memcpy(&r, p, sizeof r);
  GetHeader(buf, r);
  auto& b = r.body;
  switch (type) {
    case GW_ADJUST_CHAN:
      b.gw_adjust_chan.id = Get32(buf + 4);
      b.gw_adjust_chan.freq = FromBits(Get32(buf + 8));
      break;
    case GW_SEL_CALL:
      b.gw_sel_call.callerID_length = buf[4];
      std::memcpy(b.gw_sel_call.callerID, buf + 5, buf[4]);
      break;
    case GW_SELECT_RC_CHAN:
      b.gw_select_rc_chan.interface = buf[4];
      b.gw_select_rc_chan.channel = buf[5];
      break;
    case WM_SELECT_RC_CHAN:
      b.wm_select_rc_chan.interface = buf[4];
      b.wm_select_rc_chan.channel = buf[5];
      break;
    case GW_ADJUST_SQUELSHE:
      b.gw_adjust_squelsh.squelsh = buf[4];
      break;
    case GW_ADJUST_RTE:
      b.gw_adjust_rte.rte = buf[4];
      break;
    case GW_ADJUST_STANDBY:
      b.gw_adjust_standby.state = buf[4];
      break;
    case WM_TRANS:
      b.wm_trans.session_addr = GetAddress(buf + 4);
      b.wm_trans.ssrc = Get32(buf + 8);
      break;
    case WM_RADIO_QUALITY:
      b.wm_radio_quality.radio_quality = FromBits(Get32(buf + 4));
      break;
    case WM_CHAN:
      b.wm_chan.id = Get32(buf + 4);
      b.wm_chan.freq = FromBits(Get32(buf + 8));
      b.wm_chan.squelsh = buf[12];
      b.wm_chan.rte = buf[13];
      break;
    case WM_SEL_CALL_TRANS:
      b.wm_sel_call_trans.session_addr = GetAddress(buf + 4);
      b.wm_sel_call_trans.ssrc = Get32(buf + 8);
      b.wm_sel_call_trans.callerID_length = buf[12];
      std::memcpy(b.wm_sel_call_trans.callerID, buf + 13, buf[12]);
      break;
    case WM_STANDBY:
      b.wm_standby.state = buf[4];
      b.wm_standby.group = buf[5];
      b.wm_standby.receiver_state = buf[6];
      break;
    default:
      break;
  }
  std::memcpy(p, &r, sizeof r);
  return 0;
}

int sig_proto_init(sig_proto* p) {
  if (p) std::memset(p, 0, sizeof *p);
  return 0;
}

int sig_proto_set_base(sig_proto* p, int priority, int flag_t, int flag_p, int flag_r, int flag_s, int flag_b,
                       int flag_rv, int flag_sh, int flag_pw, int flag_rs, int flag_c, int status) {
  if (!p) return 0;
  auto set = [](std::uint32_t& field, int value) {
    if (value >= 0) field = static_cast<std::uint32_t>(value);
  };
  set(p->priority, priority);
  set(p->flag_t, flag_t);
  set(p->flag_p, flag_p);
  set(p->flag_r, flag_r);
  set(p->flag_s, flag_s);
  set(p->flag_b, flag_b);
  set(p->flag_rv, flag_rv);
  set(p->flag_sh, flag_sh);
  set(p->flag_pw, flag_pw);
  set(p->flag_rs, flag_rs);
  set(p->flag_c, flag_c);
  set(p->status, status);
  return 0;
}

int sig_proto_set_ptt(sig_proto* p, int ptt) {
  if (p && ptt >= 0) p->flag_p = static_cast<std::uint32_t>(ptt);
  return 0;
}

int sig_proto_set_gw_adjust_chan(sig_proto* p, unsigned id, float freq) {
  if (!p) return 0;
  p->body.gw_adjust_chan.id = id;
  p->body.gw_adjust_chan.freq = freq;
  return 0;
}

int sig_proto_set_gw_adjust_squelsh(sig_proto* p, unsigned char squelsh) {
  if (p) p->body.gw_adjust_squelsh.squelsh = squelsh;
  return 0;
}

int sig_proto_set_gw_adjust_rte(sig_proto* p, unsigned char rte) {
  if (p) p->body.gw_adjust_rte.rte = rte;
  return 0;
}

int sig_proto_set_gw_adjust_standby(sig_proto* p, unsigned char state) {
  if (p) p->body.gw_adjust_standby.state = state;
  return 0;
}

int sig_proto_set_gw_select_rc_chan(sig_proto* p, unsigned char interface, unsigned char channel) {
  if (!p) return 0;
  p->body.gw_select_rc_chan.interface = interface;
  p->body.gw_select_rc_chan.channel = channel;
  return 0;
}

int sig_proto_set_wm_radio_quality(sig_proto* p, float quality) {
  if (p) p->body.wm_radio_quality.radio_quality = quality;
  return 0;
}

int sig_proto_set_wm_transmite(sig_proto* p, in_addr addr, unsigned ssrc) {
  if (!p) return 0;
  p->body.wm_trans.session_addr = addr;
  p->body.wm_trans.ssrc = ssrc;
  return 0;
}

int sig_proto_set_wm_select_rc_chan(sig_proto* p, unsigned char interface, unsigned char channel) {
  if (!p) return 0;
  p->body.wm_select_rc_chan.interface = interface;
  p->body.wm_select_rc_chan.channel = channel;
  return 0;
}

int sig_proto_set_wm_chan(sig_proto* p, unsigned id, float freq, unsigned char squelsh, unsigned char rte) {
  if (!p) return 0;
  p->body.wm_chan.id = id;
  p->body.wm_chan.freq = freq;
  p->body.wm_chan.squelsh = squelsh;
  p->body.wm_chan.rte = rte;
  return 0;
}

int sig_proto_set_wm_standby(sig_proto* p, unsigned char state, unsigned char group, unsigned char receiver_state) {
  if (!p) return 0;
  p->body.wm_standby.state = state;
  p->body.wm_standby.group = group;
  p->body.wm_standby.receiver_state = receiver_state;
  return 0;
}

int sig_proto_set_gw_selcall(sig_proto* p, const char* cid, unsigned char len) {
  if (!p) return 0;
  SetCallerId(p->body.gw_sel_call.callerID, cid, len);
  p->body.gw_sel_call.callerID_length = cid ? len : 0;
  return 0;
}

int sig_proto_set_wm_selcall_transmite(sig_proto* p, in_addr addr, unsigned ssrc, const char* cid,
                                       unsigned char len) {
  if (!p) return 0;
  p->body.wm_sel_call_trans.session_addr = addr;
  p->body.wm_sel_call_trans.ssrc = ssrc;
  SetCallerId(p->body.wm_sel_call_trans.callerID, cid, len);
  p->body.wm_sel_call_trans.callerID_length = cid ? len : 0;
  return 0;
}

int sig_proto_is_ptt_command(const sig_proto* p) { return p && IsPtt(p->type) ? 1 : 0; }

int cmp_sig_proto_header(const sig_proto* a, const sig_proto* b) {
  if (!a || !b) return -1;
  if (a->type != b->type) return static_cast<int>(b->type - a->type);
  if (a->source_ssrc != b->source_ssrc) return static_cast<int>(b->source_ssrc - a->source_ssrc);
  return static_cast<int>(b->source_addr - a->source_addr);
}

namespace {

int CompareDumps(const sig_proto* a, const sig_proto* b, int mode) {
  if (!a || !b) return -1;
  char ta[kDumpSize];
  char tb[kDumpSize];
  const int la = sprintf_sig_proto(ta, sizeof ta, a, mode);
  const int lb = sprintf_sig_proto(tb, sizeof tb, b, mode);
  if (la != lb) return lb - la;
  return std::strncmp(ta, tb, static_cast<std::size_t>(la));
}

}  // namespace

int cmp_sig_proto(const sig_proto* a, const sig_proto* b) { return CompareDumps(a, b, kDumpTypeHex); }

int cmp_sig_proto_flags(const sig_proto* a, const sig_proto* b) { return CompareDumps(a, b, kDumpFlagsOnly); }

const char* sig_proto_find_name_by_id(const s_sig_proto_table_name* table, int id) {
  if (!table) return nullptr;
  for (int i = 0; i < kTableSize && table[i].id >= 0; ++i)
    if (table[i].id == id) return table[i].name.c_str();
  return nullptr;
}

int sig_proto_find_id_by_name(const s_sig_proto_table_name* table, const char* name) {
  if (!table || !name) return -1;
  for (int i = 0; i < kTableSize && table[i].id >= 0; ++i)
    if (table[i].name == name) return table[i].id;
  return -1;
}

int init_sig_proto_queue(sig_proto* queue) {
  if (!queue) return kNull;
  static const std::uint32_t kTypes[] = {GW_FLAG,      GW_FLAG_PTT,    GW_FLAG_BSS, GW_FLAG_RV,       GW_FLAG_SH,
                                         GW_FLAG_PW,   GW_FLAG_RS,     GW_ADJUST_CHAN, GW_SEL_CALL,
                                         GW_SELECT_RC_CHAN, GW_ADJUST_STANDBY, WM_FLAG, WM_TRANS, WM_CHAN,
                                         WM_RADIO_QUALITY, WM_SEL_CALL_TRANS, WM_STANDBY};
  std::memset(queue, 0, sizeof(sig_proto_queue));
  const int known = sizeof kTypes / sizeof kTypes[0];
  for (int i = 0; i < kQueueSize; ++i) queue[i].type = i < known ? kTypes[i] : 0xFFFFFFFFu;
  return 0;
}

// The text dump ---------------------------------------------------------------

namespace {

// Lines written one after the other into a fixed buffer: each gets the room
// that is left, and what does not fit is cut.
class Text {
public:
  Text(char* buf, long size) : buf_(buf), size_(size) {}

  __attribute__((format(printf, 2, 3))) void put(const char* format, ...) {
    const long room = size_ - used_;
    if (room <= 1) return;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buf_ + used_, static_cast<std::size_t>(room), format, args);
    va_end(args);
    if (n > 0) used_ += std::min<long>(n, room - 1);
  }
  int used() const { return static_cast<int>(used_); }

private:
  char* buf_;
  long size_;
  long used_ = 0;
};

void CallerIdLines(Text& t, const unsigned char* cid, int len) {
  for (int i = 0; i < len; ++i) t.put("[%d] : 0x%02X,\n", i, cid[i]);
}

std::string Dotted(in_addr addr) {
  char text[32] = "";
  ::inet_ntop(AF_INET, &addr, text, sizeof text);
  return text;
}

// Returns whether the body lines follow.
bool sprintf_base(Text& t, const sig_proto& p, int mode) {
  if (mode & kDumpTypeName) {
    const char* name = sig_proto_find_name_by_id(sig_proto_packet_const_name, static_cast<int>(p.type));
    if (name)
      t.put("type      : %s,\n", name);
    else
      t.put("type      : 0x%08lX,\n", static_cast<unsigned long>(p.type));
  } else if (mode & kDumpTypeHex) {
    t.put("type      : 0x%08lX,\n", static_cast<unsigned long>(p.type));
  }
  t.put("flag_t   : %lu,\n", static_cast<unsigned long>(p.flag_t));
  t.put("flag_p   : %lu,\n", static_cast<unsigned long>(p.flag_p));
  t.put("flag_r   : %lu,\n", static_cast<unsigned long>(p.flag_r));
  t.put("flag_s   : %lu,\n", static_cast<unsigned long>(p.flag_s));
  t.put("flag_b   : %lu,\n", static_cast<unsigned long>(p.flag_b));
  t.put("flag_rv  : %lu,\n", static_cast<unsigned long>(p.flag_rv));
  t.put("flag_sh  : %lu,\n", static_cast<unsigned long>(p.flag_sh));
  t.put("flag_rs  : %lu,\n", static_cast<unsigned long>(p.flag_rs));
  t.put("flag_pw  : %lu,\n", static_cast<unsigned long>(p.flag_pw));
  t.put("flag_c   : %lu,\n", static_cast<unsigned long>(p.flag_c));
  if (mode & kDumpFlagsOnly) return false;
  t.put("priority : %lu,\n", static_cast<unsigned long>(p.priority));
  t.put("status   : %lu,\n", static_cast<unsigned long>(p.status));
  return true;
}

void sprintf_gw_adjust_chan(Text& t, const sig_proto& p) {
  t.put("gw_adjust_chan.id   : %lu,\n", static_cast<unsigned long>(p.body.gw_adjust_chan.id));
  t.put("gw_adjust_chan.freq : %4.4f,\n", static_cast<double>(p.body.gw_adjust_chan.freq));
}

void sprintf_gw_selcall(Text& t, const sig_proto& p) {
  const auto& b = p.body.gw_sel_call;
  t.put("gw_sel_call.callerID_length: %d,\n", b.callerID_length);
  t.put("gw_sel_call.callerID : \n");
  CallerIdLines(t, b.callerID, b.callerID_length);
}

void sprintf_gw_select_rc_chan(Text& t, const sig_proto& p) {
  t.put("gw_select_rc_chan.interface : %d,\n", p.body.gw_select_rc_chan.interface);
  t.put("gw_select_rc_chan.channel   : %d,\n", p.body.gw_select_rc_chan.channel);
}

void sprintf_gw_adjust_squelsh(Text& t, const sig_proto& p) {
  t.put("gw_adjust_squelsh.squelsh   : %d,\n", p.body.gw_adjust_squelsh.squelsh);
}

void sprintf_gw_adjust_rte(Text& t, const sig_proto& p) {
  t.put("gw_adjust_rte.rte   : %d,\n", p.body.gw_adjust_rte.rte);
}

void sprintf_gw_adjust_standby(Text& t, const sig_proto& p) {
  t.put("gw_adjust_standby.state   : %d,\n", p.body.gw_adjust_standby.state);
}

void sprintf_wm_trans(Text& t, const sig_proto& p) {
  t.put("wm_trans.session_addr : %s,\n", Dotted(p.body.wm_trans.session_addr).c_str());
  t.put("wm_trans.ssrc         : 0x%08lX,\n", static_cast<unsigned long>(p.body.wm_trans.ssrc));
}

void sprintf_wm_radio_qulity(Text& t, const sig_proto& p) {
  t.put("wm_radio_quality.radio_quality : %4.5f,\n", static_cast<double>(p.body.wm_radio_quality.radio_quality));
}

void sprintf_wm_chan(Text& t, const sig_proto& p) {
  t.put("wm_chan.id   : %lu,\n", static_cast<unsigned long>(p.body.wm_chan.id));
  t.put("wm_chan.freq : %4.4f,\n", static_cast<double>(p.body.wm_chan.freq));
  t.put("wm_chan.squelsh : %d,\n", p.body.wm_chan.squelsh);
  t.put("wm_chan.rte     : %d,\n", p.body.wm_chan.rte);
}

void sprintf_wm_selcall(Text& t, const sig_proto& p) {
  const auto& b = p.body.wm_sel_call_trans;
  t.put("wm_sel_call_trans.session_addr : %s,\n", Dotted(b.session_addr).c_str());
  t.put("wm_sel_call_trans.ssrc         : 0x%08lX,\n", static_cast<unsigned long>(b.ssrc));
  t.put("wm_sel_call_trans.callerID_length: %d,\n", b.callerID_length);
  t.put("wm_sel_call_trans.callerID : \n");
  CallerIdLines(t, b.callerID, b.callerID_length);
}

void sprintf_wm_select_rc_chan(Text& t, const sig_proto& p) {
  t.put("wm_select_rc_chan.interface : %d,\n", p.body.wm_select_rc_chan.interface);
  t.put("wm_select_rc_chan.channel   : %d,\n", p.body.wm_select_rc_chan.channel);
}

void sprintf_wm_standby(Text& t, const sig_proto& p) {
  t.put("wm_standby.state           : %d,\n", p.body.wm_standby.state);
  t.put("wm_standby.group           : %d,\n", p.body.wm_standby.group);
  t.put("wm_standby.receiver_state  : %d,\n", p.body.wm_standby.receiver_state);
}

struct Printer {
  std::uint32_t type;
  void (*body)(Text&, const sig_proto&);  // null: the base lines alone
};

const Printer kPrinters[] = {
    {0, nullptr},
    {GW_FLAG, nullptr},
    {GW_ADJUST_CHAN, sprintf_gw_adjust_chan},
    {GW_FLAG_PTT, nullptr},
    {GW_FLAG_BSS, nullptr},
    {GW_FLAG_RV, nullptr},
    {GW_FLAG_SH, nullptr},
    {GW_FLAG_PW, nullptr},
    {GW_FLAG_RS, nullptr},
    {GW_SEL_CALL, sprintf_gw_selcall},
    {GW_SELECT_RC_CHAN, sprintf_gw_select_rc_chan},
    {GW_ADJUST_SQUELSHE, sprintf_gw_adjust_squelsh},
    {GW_ADJUST_RTE, sprintf_gw_adjust_rte},
    {GW_ADJUST_STANDBY, sprintf_gw_adjust_standby},
    {WM_FLAG, nullptr},
    {WM_TRANS, sprintf_wm_trans},
    {WM_RADIO_QUALITY, sprintf_wm_radio_qulity},
    {WM_CHAN, sprintf_wm_chan},
    {WM_SEL_CALL_TRANS, sprintf_wm_selcall},
    {WM_SELECT_RC_CHAN, sprintf_wm_select_rc_chan},
    {WM_STANDBY, sprintf_wm_standby},
};
static_assert(sizeof kPrinters / sizeof kPrinters[0] == 21);

}  // namespace

int sprintf_sig_proto(char* buf, long size, const sig_proto* p, int mode) {
  if (!buf || !p || size < 1) return 0;
  std::memset(buf, 0, static_cast<std::size_t>(size));
  const Printer* printer = nullptr;
  for (const Printer& e : kPrinters)
    if (e.type == p->type) printer = &e;
  if (!printer) return 0;
  Text t(buf, size);
  if (sprintf_base(t, *p, mode) && printer->body) printer->body(t, *p);
  return t.used();
}
