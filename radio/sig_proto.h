#pragma once
// LEMZ signalling packets: the small binary commands that workstations send
// to a radio gateway (types 1 to 13, "GW_") and the state reports the gateway
// sends back (types 129 to 135, "WM_"), inside the RTP header extension of
// the voice stream.
//
// A packet is a 4-octet header and a type-specific body; every number is
// big-endian on the wire, a float travels as its IEEE-754 bit pattern, and
// bodies end on a 4-octet boundary with zero padding. The codec builds and
// reads the wire octet by octet, so the result is the same on either byte
// order.
//
// What the decoder promises for any input: it reads no octet outside the
// len it is given, allocates nothing, and on failure leaves the record as it
// was (but for `type` on -8). Results: a packing function gives the packet
// length, an unpacking one 0; -7 a null record or buffer (sig_proto_pack
// gives 0 then), -8 a type it does not handle, -9 a buffer too small or a
// packet cut short.
#include <netinet/in.h>

#include <cstdint>
#include <string>

namespace SigProto {
inline constexpr int kNull = -7;
inline constexpr int kUnknownType = -8;
inline constexpr int kShort = -9;

inline constexpr int kHeader = 4;
// Octets of caller ID the record holds; at most 255 of them are significant.
inline constexpr int kCallerId = 256;
inline constexpr int kTableSize = 128;
inline constexpr int kQueueSize = 32;
// Room that holds the dump of any record (255 caller-ID lines).
inline constexpr int kDumpSize = 8192;

// Dump modes, or-ed.
inline constexpr int kDumpTypeHex = 1;
inline constexpr int kDumpTypeName = 2;
inline constexpr int kDumpFlagsOnly = 4;

enum Type : std::uint32_t {
  GW_FLAG = 1,
  GW_ADJUST_CHAN = 2,
  GW_FLAG_PTT = 3,
  GW_FLAG_BSS = 4,
  GW_FLAG_RV = 5,
  GW_FLAG_SH = 6,
  GW_FLAG_PW = 7,
  GW_FLAG_RS = 8,
  GW_SEL_CALL = 9,
  GW_SELECT_RC_CHAN = 10,
  GW_ADJUST_SQUELSHE = 11,
  GW_ADJUST_RTE = 12,
  GW_ADJUST_STANDBY = 13,
  WM_FLAG = 129,
  WM_TRANS = 130,
  WM_RADIO_QUALITY = 131,
  WM_CHAN = 132,
  WM_SEL_CALL_TRANS = 133,
  WM_SELECT_RC_CHAN = 134,
  WM_STANDBY = 135,
};
}  // namespace SigProto

struct sig_proto_gw_adjust_chan {
  std::uint32_t id;
  float freq;
};

struct sig_proto_gw_sel_call {
  std::uint8_t callerID_length;
  unsigned char callerID[SigProto::kCallerId];
};

struct sig_proto_select_rc_chan {
  std::uint8_t interface;
  std::uint8_t channel;
};

struct sig_proto_gw_adjust_squelsh {
  std::uint8_t squelsh;
};
struct sig_proto_gw_adjust_rte {
  std::uint8_t rte;
};
struct sig_proto_gw_adjust_standby {
  std::uint8_t state;
};

struct sig_proto_wm_trans {
  in_addr session_addr;  // network byte order
  std::uint32_t ssrc;
};

struct sig_proto_wm_radio_quality {
  float radio_quality;
};

struct sig_proto_wm_chan {
  std::uint32_t id;
  float freq;
  std::uint8_t squelsh;
  std::uint8_t rte;
};

struct sig_proto_wm_sel_call_trans {
  in_addr session_addr;  // network byte order
  std::uint32_t ssrc;
  std::uint8_t callerID_length;
  unsigned char callerID[SigProto::kCallerId];
};

struct sig_proto_wm_standby {
  std::uint8_t state;
  std::uint8_t group;
  std::uint8_t receiver_state;
};

// One packet in host form: every header field is a whole word, whatever its
// width on the wire (only its low bits are sent).
struct sig_proto {
  std::uint32_t source_addr;  // network byte order; from the driver, never on the wire
  std::uint32_t source_ssrc;  // from the driver, never on the wire
  std::uint32_t type;
  std::uint32_t priority;  // lower is stronger
  std::uint32_t flag_t;    // vad-tx
  std::uint32_t flag_p;    // PTT
  std::uint32_t flag_r;    // vad-rx
  std::uint32_t flag_s;    // squelch open
  std::uint32_t flag_b;    // best-signal selection
  std::uint32_t flag_rv;
  std::uint32_t flag_sh;
  std::uint32_t flag_rs;  // reserve
  std::uint32_t flag_pw;  // power
  std::uint32_t flag_c;   // selective-call state, 0..3
  std::uint32_t status;   // li, 0..511
  union {
    sig_proto_gw_adjust_chan gw_adjust_chan;
    sig_proto_gw_sel_call gw_sel_call;
    sig_proto_select_rc_chan gw_select_rc_chan;
    sig_proto_gw_adjust_squelsh gw_adjust_squelsh;
    sig_proto_gw_adjust_rte gw_adjust_rte;
    sig_proto_gw_adjust_standby gw_adjust_standby;
    sig_proto_wm_trans wm_trans;
    sig_proto_wm_radio_quality wm_radio_quality;
    sig_proto_wm_chan wm_chan;
    sig_proto_wm_sel_call_trans wm_sel_call_trans;
    sig_proto_select_rc_chan wm_select_rc_chan;
    sig_proto_wm_standby wm_standby;
  } body;
};

// One entry of the type-name table.
struct s_sig_proto_table_name {
  std::int32_t id;
  std::string name;
};

// The twenty packet types in order, then an entry with id -1 that ends every
// search; the other entries are empty.
extern s_sig_proto_table_name sig_proto_packet_const_name[SigProto::kTableSize];

typedef sig_proto sig_proto_queue[SigProto::kQueueSize];

// Encodes p into buf; the packet length. 0 for a null p or buf; -9 when size
// is below 4 or below what the type needs (a caller-ID packet needs L+12 or
// L+20, more than it fills). From a size of 4 on, all size octets are
// cleared and the header written first, even when the body then does not
// fit. Types outside the table are sent as the header alone.
int sig_proto_pack(const sig_proto* p, unsigned char* buf, int size);
// Decodes len octets into p; 0 on success. Fields the type does not carry
// keep their values, as do the source fields and the caller-ID octets past
// its length; octets past what the type needs are ignored.
int sig_proto_unpack(sig_proto* p, const unsigned char* buf, int len);

// Clears the whole record; 0.
int sig_proto_init(sig_proto* p);
// Sets the header fields; an argument below 0 leaves its field alone. Note
// flag_pw before flag_rs.
int sig_proto_set_base(sig_proto* p, int priority, int flag_t, int flag_p, int flag_r, int flag_s, int flag_b,
                       int flag_rv, int flag_sh, int flag_pw, int flag_rs, int flag_c, int status);
int sig_proto_set_ptt(sig_proto* p, int ptt);

// Body setters: store their arguments; 0, nothing done for a null p.
int sig_proto_set_gw_adjust_chan(sig_proto* p, unsigned id, float freq);
int sig_proto_set_gw_adjust_squelsh(sig_proto* p, unsigned char squelsh);
int sig_proto_set_gw_adjust_rte(sig_proto* p, unsigned char rte);
int sig_proto_set_gw_adjust_standby(sig_proto* p, unsigned char state);
int sig_proto_set_gw_select_rc_chan(sig_proto* p, unsigned char interface, unsigned char channel);
int sig_proto_set_wm_radio_quality(sig_proto* p, float quality);
int sig_proto_set_wm_transmite(sig_proto* p, in_addr addr, unsigned ssrc);
int sig_proto_set_wm_select_rc_chan(sig_proto* p, unsigned char interface, unsigned char channel);
int sig_proto_set_wm_chan(sig_proto* p, unsigned id, float freq, unsigned char squelsh, unsigned char rte);
int sig_proto_set_wm_standby(sig_proto* p, unsigned char state, unsigned char group, unsigned char receiver_state);
// The caller ID: at most len octets of cid, up to a zero octet, the rest of
// the 256 zero; callerID_length is len. A null cid gives an empty one of
// length 0.
int sig_proto_set_gw_selcall(sig_proto* p, const char* cid, unsigned char len);
int sig_proto_set_wm_selcall_transmite(sig_proto* p, in_addr addr, unsigned ssrc, const char* cid,
                                       unsigned char len);

// 1 for the PTT commands (types 1, 3, 9, 129, 130, 133), else 0.
int sig_proto_is_ptt_command(const sig_proto* p);

// -1 when either is null; else b minus a of type, then of source_ssrc, then
// of source_addr: 0 for the same type from the same stream and source.
int cmp_sig_proto_header(const sig_proto* a, const sig_proto* b);
// -1 when either is null; else the two dumps (whole record, or the ten flags
// alone) compared: b's length minus a's, or strncmp when the lengths agree.
int cmp_sig_proto(const sig_proto* a, const sig_proto* b);
int cmp_sig_proto_flags(const sig_proto* a, const sig_proto* b);

// The name of id (null when none), and the id of a name (-1 when none);
// at most 128 entries, up to the first negative id.
const char* sig_proto_find_name_by_id(const s_sig_proto_table_name* table, int id);
int sig_proto_find_id_by_name(const s_sig_proto_table_name* table, const char* name);

// Clears the queue; records 0 to 16 get the types 1, 3, 4, 5, 6, 7, 8, 2, 9,
// 10, 13, 129, 130, 132, 131, 133, 135, the rest 0xFFFFFFFF. 0 (-7 for null).
int init_sig_proto_queue(sig_proto* queue);

// The text dump of p into buf (mode: SigProto::kDump*), cut to what fits:
// the octets written, never more than size - 1, and buf always ends in a
// zero. A type outside the table prints nothing.
int sprintf_sig_proto(char* buf, long size, const sig_proto* p, int mode);
