#pragma once
// ED-137 R2S headers: the two-octet radio signalling header (push-to-talk,
// squelch, PTT id) that rides in the RTP header extension of every voice
// packet of an ED-137 radio stream, optionally followed by additional
// features of one type/length octet and a value each. rx is the radio to
// system direction, tx the system to radio one.
//
// The codec builds and reads the wire octet by octet, keeps no state and
// allocates nothing. Results: a packing function gives the number of octets
// written, an unpacking one 0; -7 a null record (or buffer, when unpacking),
// -8 a kind (or rx remote-control form) it does not handle, -9 a buffer too
// small or a header cut short. r2s_proto_pack_tx and r2s_proto_pack_rx give 0
// for a null record or buffer. Values are masked to their wire widths when
// packed, never checked.
#include <cstdint>

namespace R2SProto {
inline constexpr int kNull = -7;
inline constexpr int kUnknownKind = -8;
inline constexpr int kShort = -9;

inline constexpr std::uint32_t kKindNone = 0;
inline constexpr std::uint32_t kKindTx = 1;
inline constexpr std::uint32_t kKindRx = 2;

inline constexpr int kMaxFeatures = 16;
inline constexpr int kFeatureWords = 13;

// Feature types, per direction.
inline constexpr std::uint32_t kRxSqi = 1;
inline constexpr std::uint32_t kRxRrc = 3;
inline constexpr std::uint32_t kRxMam = 4;
inline constexpr std::uint32_t kTxTimeDelay = 2;
inline constexpr std::uint32_t kTxRrc = 3;
inline constexpr std::uint32_t kTxRrm = 4;

// The header extension's profile-defined identifier of ED-137 streams.
inline constexpr std::uint16_t kProfile = 0x0167;
}  // namespace R2SProto

struct r2s_proto_rx_additional_sqi {
  std::uint32_t quality_index;  // 5 bits
  std::uint32_t method;         // 3 bits
};
struct r2s_proto_rx_additional_rrc {
  std::uint32_t flags[8];  // 1 bit each, flag 1 in bit 7 of the value
  std::uint32_t form;      // 0 short, 1 long
  std::uint32_t extra_flags[2];  // long form
  std::uint32_t values[2];       // long form, 8 bits each
};
struct r2s_proto_rx_additional_mam {
  std::uint32_t flag_a;   // 1 bit
  std::uint32_t value_a;  // 23 bits
  std::uint32_t flag_b;
  std::uint32_t value_b;
  std::uint32_t values[3];  // 16 bits each
};
struct r2s_proto_tx_additional_climax_time_delay {
  std::uint32_t value;  // 8 bits
};
struct r2s_proto_tx_additional_rrc {
  std::uint32_t flags[8];
};
struct r2s_proto_tx_additional_rrm {
  std::uint32_t flag;   // 1 bit
  std::uint32_t value;  // 23 bits
};
static_assert(sizeof(r2s_proto_rx_additional_sqi) == 8, "sqi");
static_assert(sizeof(r2s_proto_rx_additional_rrc) == 52, "rx rrc");
static_assert(sizeof(r2s_proto_rx_additional_mam) == 28, "mam");
static_assert(sizeof(r2s_proto_tx_additional_climax_time_delay) == 4, "time delay");
static_assert(sizeof(r2s_proto_tx_additional_rrc) == 32, "tx rrc");
static_assert(sizeof(r2s_proto_tx_additional_rrm) == 8, "rrm");

struct r2s_proto_feature {
  std::uint32_t type;
  // The words of the add function's structure, in its order.
  std::uint32_t data[R2SProto::kFeatureWords];
};

struct r2s_proto_rx_header {
  std::uint32_t ptt_type;  // 3 bits
  std::uint32_t squ;
  std::uint32_t ptt_id;  // 6 bits
  std::uint32_t ptt_mute;
  std::uint32_t ptt_summation;
  std::uint32_t sct;
};
struct r2s_proto_tx_header {
  std::uint32_t ptt_type;
  std::uint32_t ptt_id;
  std::uint32_t ptt_mute;
  std::uint32_t ptt_summation;
  std::uint32_t unused[2];
};

struct r2s_proto {
  std::uint32_t source_addr;  // network byte order; from the driver, never on the wire
  std::uint32_t source_ssrc;  // from the driver, never on the wire
  std::uint32_t kind;         // R2SProto::kKind*
  // The words of the kind's direction.
  union {
    r2s_proto_rx_header rx;
    r2s_proto_tx_header tx;
  };
  std::uint32_t count;  // features stored, 0..16
  r2s_proto_feature features[R2SProto::kMaxFeatures];
};
static_assert(sizeof(r2s_proto) == 936, "r2s_proto");

int r2s_proto_init(r2s_proto* p, unsigned long kind);
int r2s_proto_set_type(r2s_proto* p, unsigned long kind);
int r2s_proto_set_tx_header(r2s_proto* p, unsigned long ptt_type, unsigned long ptt_id, unsigned long ptt_mute,
                            unsigned long ptt_summation);
int r2s_proto_set_rx_header(r2s_proto* p, unsigned long ptt_type, unsigned long squ, unsigned long ptt_id,
                            unsigned long ptt_mute, unsigned long ptt_summation, unsigned long sct);
int r2s_proto_reset_additionals(r2s_proto* p);

// Each appends one feature; a null record or structure, or a record that
// holds 16 features already, is left as it is. 0.
int r2s_proto_add_rx_sqi(r2s_proto* p, r2s_proto_rx_additional_sqi* sqi);
int r2s_proto_add_rx_sqi(r2s_proto* p, unsigned long quality_index, unsigned long method);
int r2s_proto_add_rx_rrc(r2s_proto* p, r2s_proto_rx_additional_rrc* rrc);
int r2s_proto_add_rx_mam(r2s_proto* p, r2s_proto_rx_additional_mam* mam);
int r2s_proto_add_tx_time_delay(r2s_proto* p, r2s_proto_tx_additional_climax_time_delay* delay);
int r2s_proto_add_tx_rrc(r2s_proto* p, r2s_proto_tx_additional_rrc* rrc);
int r2s_proto_add_tx_rrm(r2s_proto* p, r2s_proto_tx_additional_rrm* rrm);

// -1 when either is null; else b minus a of kind, then of source_ssrc, then
// of source_addr: 0 for the same kind of header from the same stream and
// source.
int cmp_r2s_proto_source(r2s_proto* a, r2s_proto* b);

// By kind: tx or rx; -7 for a null record, -8 for another kind.
int r2s_proto_pack(r2s_proto* p, unsigned char* buf, int len);
int r2s_proto_pack_tx(r2s_proto* p, unsigned char* buf, int len);
int r2s_proto_pack_rx(r2s_proto* p, unsigned char* buf, int len);
// The caller chooses the direction. -9 inside the features keeps the header
// and the features decoded before it.
int r2s_proto_unpack_tx(r2s_proto* p, const unsigned char* buf, int len);
int r2s_proto_unpack_rx(r2s_proto* p, const unsigned char* buf, int len);
