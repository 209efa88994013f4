#include "radio/r2s_proto.h"

#include <cstring>

namespace {

using namespace R2SProto;

std::uint32_t Bit(std::uint32_t v) { return v & 1u; }

unsigned char Octet(std::uint32_t v) { return static_cast<unsigned char>(v & 0xFFu); }

// Appends a feature of type with the words of data; a full record stays.
template <typename T>
int Add(r2s_proto* p, std::uint32_t type, const T* data) {
  static_assert(sizeof(T) <= sizeof(std::uint32_t) * kFeatureWords, "feature data");
  if (!p || !data || p->count >= static_cast<std::uint32_t>(kMaxFeatures)) return 0;
  r2s_proto_feature& f = p->features[p->count++];
  std::memset(&f, 0, sizeof f);
  f.type = type;
  std::memcpy(f.data, data, sizeof(T));
  return 0;
}

template <typename T>
T Data(const r2s_proto_feature& f) {
  T t;
  std::memcpy(&t, f.data, sizeof t);
  return t;
}

template <typename T>
void Store(r2s_proto_feature& f, std::uint32_t type, const T& t) {
  std::memset(&f, 0, sizeof f);
  f.type = type;
  std::memcpy(f.data, &t, sizeof t);
}

// A flag in bit 7 and 23 bits of value, in three octets.
void Put23(unsigned char* at, std::uint32_t flag, std::uint32_t value) {
  const std::uint32_t v = Bit(flag) << 23 | (value & 0x7FFFFFu);
  at[0] = Octet(v >> 16);
  at[1] = Octet(v >> 8);
  at[2] = Octet(v);
}
void Get23(const unsigned char* at, std::uint32_t& flag, std::uint32_t& value) {
  const std::uint32_t v = std::uint32_t{at[0]} << 16 | std::uint32_t{at[1]} << 8 | at[2];
  flag = v >> 23;
  value = v & 0x7FFFFFu;
}

unsigned char Flags(const std::uint32_t (&flags)[8]) {
  unsigned v = 0;
  for (int i = 0; i < 8; ++i) v |= Bit(flags[i]) << (7 - i);
  return static_cast<unsigned char>(v);
}
void GetFlags(unsigned char v, std::uint32_t (&flags)[8]) {
  for (int i = 0; i < 8; ++i) flags[i] = (v >> (7 - i)) & 1u;
}

// Octets 0 and 1 of a header.
void PutHeader(unsigned char* buf, std::uint32_t ptt_type, std::uint32_t squ, std::uint32_t ptt_id,
               std::uint32_t mute, std::uint32_t summation, std::uint32_t sct, bool x) {
  const std::uint32_t id = ptt_id & 63u;
  buf[0] = static_cast<unsigned char>((ptt_type & 7u) << 5 | Bit(squ) << 4 | id >> 2);
  buf[1] = static_cast<unsigned char>((id & 3u) << 6 | Bit(mute) << 5 | Bit(summation) << 4 | Bit(sct) << 3 |
                                      (x ? 1u : 0u));
}

// The room a feature reserves and the octets it writes; 0 room for a type
// the direction does not know (it is left out), -8 for a bad form.
int PutFeature(bool rx, const r2s_proto_feature& f, unsigned char* at, int& room) {
  room = 0;
  if (rx) {
    switch (f.type) {
      case kRxSqi: {
        room = 2;
        if (!at) return 0;
        const auto d = Data<r2s_proto_rx_additional_sqi>(f);
        at[0] = 0x11;
        at[1] = static_cast<unsigned char>((d.quality_index & 31u) << 3 | (d.method & 7u));
        return 2;
      }
      case kRxRrc: {
        room = 5;
        if (!at) return 0;
        const auto d = Data<r2s_proto_rx_additional_rrc>(f);
        if (d.form > 1) return kUnknownKind;
        at[0] = d.form == 0 ? 0x31 : 0x34;
        at[1] = Flags(d.flags);
        if (d.form == 0) return 2;
        at[2] = static_cast<unsigned char>(Bit(d.extra_flags[0]) << 7 | Bit(d.extra_flags[1]) << 6);
        at[3] = Octet(d.values[0]);
        at[4] = Octet(d.values[1]);
        return 5;
      }
      case kRxMam: {
        room = 13;
        if (!at) return 0;
        const auto d = Data<r2s_proto_rx_additional_mam>(f);
        at[0] = 0x4C;
        Put23(at + 1, d.flag_a, d.value_a);
        Put23(at + 4, d.flag_b, d.value_b);
        for (int i = 0; i < 3; ++i) {
          at[7 + 2 * i] = Octet(d.values[i] >> 8);
          at[8 + 2 * i] = Octet(d.values[i]);
        }
        return 13;
      }
      default:
        return 0;
    }
  }
  switch (f.type) {
    case kTxTimeDelay: {
      room = 2;
      if (!at) return 0;
      at[0] = 0x21;
      at[1] = Octet(Data<r2s_proto_tx_additional_climax_time_delay>(f).value);
      return 2;
    }
    case kTxRrc: {
      room = 2;
      if (!at) return 0;
      at[0] = 0x31;
      at[1] = Flags(Data<r2s_proto_tx_additional_rrc>(f).flags);
      return 2;
    }
    case kTxRrm: {
      room = 4;
      if (!at) return 0;
      const auto d = Data<r2s_proto_tx_additional_rrm>(f);
      at[0] = 0x43;
      Put23(at + 1, d.flag, d.value);
      return 4;
    }
    default:
      return 0;
  }
}

int Pack(r2s_proto* p, unsigned char* buf, int len, bool rx) {
  if (!p || !buf) return 0;
  if (len < 2) return kShort;
  std::memset(buf, 0, static_cast<std::size_t>(len));
  const std::uint32_t count = p->count < static_cast<std::uint32_t>(kMaxFeatures) ? p->count : kMaxFeatures;
  if (rx)
    PutHeader(buf, p->rx.ptt_type, p->rx.squ, p->rx.ptt_id, p->rx.ptt_mute, p->rx.ptt_summation, p->rx.sct,
              count != 0);
  else
    PutHeader(buf, p->tx.ptt_type, 0, p->tx.ptt_id, p->tx.ptt_mute, p->tx.ptt_summation, 0, count != 0);
  if (count == 0) return len < 4 ? kShort : 4;
  int need = 2, pos = 2;
  for (std::uint32_t i = 0; i < count; ++i) {
    int room = 0;
    PutFeature(rx, p->features[i], nullptr, room);
    need += room;
    if (need > len) return kShort;
    if (room == 0) continue;
    const int n = PutFeature(rx, p->features[i], buf + pos, room);
    if (n < 0) return n;
    pos += n;
  }
  return pos;
}

// The feature of a type/length octet and its value, when this direction
// knows that pair.
bool GetFeature(bool rx, unsigned type, unsigned length, const unsigned char* v, r2s_proto_feature& f) {
  if (rx) {
    if (type == kRxSqi && length == 1) {
      r2s_proto_rx_additional_sqi d = {static_cast<std::uint32_t>(v[0] >> 3), static_cast<std::uint32_t>(v[0] & 7u)};
      Store(f, kRxSqi, d);
      return true;
    }
    if (type == kRxRrc && (length == 1 || length == 4)) {
      r2s_proto_rx_additional_rrc d = {};
      GetFlags(v[0], d.flags);
      if (length == 4) {
        d.form = 1;
        d.extra_flags[0] = (v[1] >> 7) & 1u;
        d.extra_flags[1] = (v[1] >> 6) & 1u;
        d.values[0] = v[2];
        d.values[1] = v[3];
      }
      Store(f, kRxRrc, d);
      return true;
    }
    if (type == kRxMam && length == 12) {
      r2s_proto_rx_additional_mam d = {};
      Get23(v, d.flag_a, d.value_a);
      Get23(v + 3, d.flag_b, d.value_b);
      for (int i = 0; i < 3; ++i) d.values[i] = std::uint32_t{v[6 + 2 * i]} << 8 | v[7 + 2 * i];
      Store(f, kRxMam, d);
      return true;
    }
    return false;
  }
  if (type == kTxTimeDelay && length == 1) {
    r2s_proto_tx_additional_climax_time_delay d = {v[0]};
    Store(f, kTxTimeDelay, d);
    return true;
  }
  if (type == kTxRrc && length == 1) {
    r2s_proto_tx_additional_rrc d = {};
    GetFlags(v[0], d.flags);
    Store(f, kTxRrc, d);
    return true;
  }
  if (type == kTxRrm && length == 3) {
    r2s_proto_tx_additional_rrm d = {};
    Get23(v, d.flag, d.value);
    Store(f, kTxRrm, d);
    return true;
  }
  return false;
}

int Unpack(r2s_proto* p, const unsigned char* buf, int len, bool rx) {
  if (!p || !buf) return kNull;
  if (len < 2) return kShort;
  const std::uint32_t ptt_type = buf[0] >> 5, squ = (buf[0] >> 4) & 1u;
  const std::uint32_t ptt_id = (std::uint32_t{buf[0]} & 15u) << 2 | buf[1] >> 6;
  const std::uint32_t mute = (buf[1] >> 5) & 1u, summation = (buf[1] >> 4) & 1u, sct = (buf[1] >> 3) & 1u;
  const bool x = (buf[1] & 1u) != 0;
  if (rx) {
    p->kind = kKindRx;
    p->rx = r2s_proto_rx_header{ptt_type, squ, ptt_id, mute, summation, sct};
  } else {
    p->kind = kKindTx;
    p->tx = r2s_proto_tx_header{ptt_type, ptt_id, mute, summation, {0, 0}};
  }
  p->count = 0;
  if (!x) return 0;
  int rc = 0, pos = 2, need = 3;
  std::uint32_t stored = 0;
  while (need <= len && stored < static_cast<std::uint32_t>(kMaxFeatures)) {
    const unsigned type = buf[pos] >> 4, length = buf[pos] & 15u;
    if (need + static_cast<int>(length) > len) {
      rc = kShort;
      break;
    }
    if (GetFeature(rx, type, length, buf + pos + 1, p->features[stored])) ++stored;
    pos += static_cast<int>(length) + 1;
    need += static_cast<int>(length) + 1;
  }
  p->count = stored;
  return rc;
}

int Diff(std::uint32_t a, std::uint32_t b) { return static_cast<int>(b - a); }

}  // namespace

int r2s_proto_init(r2s_proto* p, unsigned long kind) {
  if (!p) return 0;
  std::memset(p, 0, sizeof *p);
  p->kind = static_cast<std::uint32_t>(kind);
  return 0;
}

int r2s_proto_set_type(r2s_proto* p, unsigned long kind) {
  if (p) p->kind = static_cast<std::uint32_t>(kind);
  return 0;
}

int r2s_proto_set_tx_header(r2s_proto* p, unsigned long ptt_type, unsigned long ptt_id, unsigned long ptt_mute,
                            unsigned long ptt_summation) {
  if (!p) return 0;
  p->kind = kKindTx;
  p->tx = r2s_proto_tx_header{static_cast<std::uint32_t>(ptt_type), static_cast<std::uint32_t>(ptt_id),
                              static_cast<std::uint32_t>(ptt_mute), static_cast<std::uint32_t>(ptt_summation),
                              {0, 0}};
  return 0;
}

int r2s_proto_set_rx_header(r2s_proto* p, unsigned long ptt_type, unsigned long squ, unsigned long ptt_id,
                            unsigned long ptt_mute, unsigned long ptt_summation, unsigned long sct) {
  if (!p) return 0;
  p->kind = kKindRx;
  p->rx = r2s_proto_rx_header{static_cast<std::uint32_t>(ptt_type),      static_cast<std::uint32_t>(squ),
                              static_cast<std::uint32_t>(ptt_id),        static_cast<std::uint32_t>(ptt_mute),
                              static_cast<std::uint32_t>(ptt_summation), static_cast<std::uint32_t>(sct)};
  return 0;
}

int r2s_proto_reset_additionals(r2s_proto* p) {
  if (p) p->count = 0;
  return 0;
}

int r2s_proto_add_rx_sqi(r2s_proto* p, r2s_proto_rx_additional_sqi* sqi) { return Add(p, kRxSqi, sqi); }

int r2s_proto_add_rx_sqi(r2s_proto* p, unsigned long quality_index, unsigned long method) {
  r2s_proto_rx_additional_sqi sqi = {static_cast<std::uint32_t>(quality_index), static_cast<std::uint32_t>(method)};
  return Add(p, kRxSqi, &sqi);
}

int r2s_proto_add_rx_rrc(r2s_proto* p, r2s_proto_rx_additional_rrc* rrc) { return Add(p, kRxRrc, rrc); }

int r2s_proto_add_rx_mam(r2s_proto* p, r2s_proto_rx_additional_mam* mam) { return Add(p, kRxMam, mam); }

int r2s_proto_add_tx_time_delay(r2s_proto* p, r2s_proto_tx_additional_climax_time_delay* delay) {
  return Add(p, kTxTimeDelay, delay);
}

int r2s_proto_add_tx_rrc(r2s_proto* p, r2s_proto_tx_additional_rrc* rrc) { return Add(p, kTxRrc, rrc); }

int r2s_proto_add_tx_rrm(r2s_proto* p, r2s_proto_tx_additional_rrm* rrm) { return Add(p, kTxRrm, rrm); }

int cmp_r2s_proto_source(r2s_proto* a, r2s_proto* b) {
  if (!a || !b) return -1;
  if (a->kind != b->kind) return Diff(a->kind, b->kind);
  if (a->source_ssrc != b->source_ssrc) return Diff(a->source_ssrc, b->source_ssrc);
  return Diff(a->source_addr, b->source_addr);
}

int r2s_proto_pack(r2s_proto* p, unsigned char* buf, int len) {
  if (!p) return kNull;
  if (p->kind == kKindTx) return r2s_proto_pack_tx(p, buf, len);
  if (p->kind == kKindRx) return r2s_proto_pack_rx(p, buf, len);
  return kUnknownKind;
}

int r2s_proto_pack_tx(r2s_proto* p, unsigned char* buf, int len) { return Pack(p, buf, len, false); }

int r2s_proto_pack_rx(r2s_proto* p, unsigned char* buf, int len) { return Pack(p, buf, len, true); }

int r2s_proto_unpack_tx(r2s_proto* p, const unsigned char* buf, int len) { return Unpack(p, buf, len, false); }

int r2s_proto_unpack_rx(r2s_proto* p, const unsigned char* buf, int len) { return Unpack(p, buf, len, true); }
