#include "monitoring/snmp_trap.h"

#include <sys/sysinfo.h>
#include <sys/time.h>

#include <cstdlib>
#include <cstring>

namespace Snmp {

namespace {

constexpr uint8_t kSequence = 0x30;
constexpr unsigned kMaxArcs = 128;
constexpr unsigned kFixedHeader = 4;

// 30 82 hi lo once the content from content_start to end is known.
void fill_header(uint8_t* header, uint8_t tag, const uint8_t* content_start, const uint8_t* end) {
  const uint32_t length = static_cast<uint32_t>(end - content_start);
  header[0] = tag;
  header[1] = 0x82;
  header[2] = static_cast<uint8_t>(length >> 8);
  header[3] = static_cast<uint8_t>(length);
}

unsigned subid_octets(uint64_t v) {
  if (v < 0x80u) return 1;
  if (v < 0x4000u) return 2;
  if (v < 0x200000u) return 3;
  if (v <= 0x0FFFFFFFu) return 4;
  return 5;
}

// Drops leading octets while the top nine bits are all equal, keeping one.
unsigned shortest_octets(uint32_t v) {
  unsigned n = 4;
  while (n > 1) {
    const uint32_t top = v & 0xFF800000u;
    if (top != 0 && top != 0xFF800000u) break;
    v <<= 8;
    --n;
  }
  return n;
}

uint8_t* put_be(uint8_t* p, uint32_t v, unsigned octets) {
  for (unsigned i = octets; i-- > 0;) *p++ = static_cast<uint8_t>(v >> (8 * i));
  return p;
}

}  // namespace

uint32_t get_uptime() {
  struct sysinfo info;
  std::memset(&info, 0, sizeof info);
  ::sysinfo(&info);
  struct timeval now;
  ::gettimeofday(&now, nullptr);
  return static_cast<uint32_t>(info.uptime) * 100u + static_cast<uint32_t>(now.tv_usec / 10000);
}

int snmp_session_seed(trap_context* t, unsigned seed) {
  if (t) t->request_id = static_cast<int32_t>(seed);
  return 0;
}

int trap_init(trap_context* t, const char* community) {
  if (!t) return 0;
  t->version = 1;
  t->pdu_type = 0xA7;
  uint32_t id = static_cast<uint32_t>(t->request_id);
  id = ((id * 850009u + 991873u) & 0x7FFFFFFFu) | 1u;
  t->request_id = static_cast<int32_t>(id);
  t->error_status = 0;
  t->error_index = 0;
  std::memset(t->community, 0, sizeof t->community);
  std::strncpy(t->community, community ? community : "vorkan", kCommunityMax);
  std::memset(t->buffer, 0, sizeof t->buffer);
  t->room = kTrapBufferSize;
  t->length = 0;
  t->state = 0;
  t->message_start = t->pdu_start = t->pdu_content = nullptr;
  t->bindings_header = t->first_binding = t->cursor = nullptr;
  return 0;
}

int trap_pack_begin(trap_context* t) {
  if (!t || t->state != 0) return -1;
  t->state = 1;
  uint32_t* room = &t->room;
  uint8_t* p = asn_build_sequence(t->buffer, room, kSequence, 0);
  if (!p) return -1;
  t->message_start = p;
  p = asn_build_int(p, room, kSnmpInteger, &t->version, 4);
  if (!p) return -1;
  p = asn_build_string(p, room, kSnmpOctetString, reinterpret_cast<const uint8_t*>(t->community),
                       static_cast<uint32_t>(std::strlen(t->community)));
  if (!p) return -1;
  t->pdu_start = p;
  p = asn_build_sequence(p, room, static_cast<uint8_t>(t->pdu_type), 0);
  if (!p) return -1;
  t->pdu_content = p;
  p = asn_build_int(p, room, kSnmpInteger, &t->request_id, 4);
  if (!p) return -1;
  p = asn_build_int(p, room, kSnmpInteger, &t->error_status, 4);
  if (!p) return -1;
  p = asn_build_int(p, room, kSnmpInteger, &t->error_index, 4);
  if (!p) return -1;
  t->bindings_header = p;
  p = asn_build_sequence(p, room, kSequence, 0);
  if (!p) return -1;
  t->first_binding = t->cursor = p;
  return 0;
}

int trap_pack_add(trap_context* t, const uint32_t* oid, unsigned oidLength, unsigned type, const void* value,
                  unsigned valueLength) {
  if (!t || (t->state != 1 && t->state != 2) || !t->cursor) return -1;
  t->cursor = snmp_build_var_op(t->cursor, oid, &oidLength, type, valueLength, value, &t->room);
  if (!t->cursor) return -1;
  t->state = 2;
  return 0;
}

int trap_pack_end(trap_context* t) {
  if (!t || (t->state != 1 && t->state != 2)) return -1;
  if (!t->message_start || !t->pdu_start || !t->pdu_content || !t->bindings_header || !t->first_binding ||
      !t->cursor)
    return -1;
  fill_header(t->bindings_header, kSequence, t->first_binding, t->cursor);
  fill_header(t->pdu_start, static_cast<uint8_t>(t->pdu_type), t->pdu_content, t->cursor);
  fill_header(t->buffer, kSequence, t->message_start, t->cursor);
  t->length = static_cast<uint32_t>(t->cursor - t->buffer);
  t->state = 3;
  return 0;
}

int parse_oid(uint32_t* out, int max, const char* text) {
  if (!out || !text || max <= 0) return 0;
  char work[128];
  std::memset(work, 0, sizeof work);
  std::strncpy(work, text, sizeof work - 1);
  int stored = 0;
  char* piece = work;
  while (stored < max && *piece) {
    char* dot = std::strchr(piece, '.');
    if (dot) *dot = '\0';
    if (*piece) out[stored++] = static_cast<uint32_t>(std::strtol(piece, nullptr, 10));
    if (!dot) break;
    piece = dot + 1;
  }
  return stored;
}

uint8_t* asn_build_length(uint8_t* p, uint32_t* room, uint32_t length) {
  if (!p || !room || length > 0xFFFFu) return nullptr;
  const uint32_t need = length < 0x80u ? 1 : length < 0x100u ? 2 : 3;
  if (*room < need) return nullptr;
  if (need == 2) *p++ = 0x81;
  if (need == 3) *p++ = 0x82;
  p = put_be(p, length, need == 1 ? 1 : need - 1);
  *room -= need;
  return p;
}

uint8_t* asn_build_header(uint8_t* p, uint32_t* room, uint8_t tag, uint32_t length) {
  if (!p || !room || *room == 0) return nullptr;
  *p++ = tag;
  *room -= 1;
  return asn_build_length(p, room, length);
}

bool _asn_build_header_check(const uint8_t* p, const uint32_t* room, uint32_t length) {
  return !p || *room < length;
}

uint8_t* asn_build_sequence(uint8_t* p, uint32_t* room, uint8_t tag, uint32_t length) {
  if (!p || !room || *room < kFixedHeader || length > 0xFFFFu) return nullptr;
  *p++ = tag;
  *p++ = 0x82;
  p = put_be(p, length, 2);
  *room -= kFixedHeader;
  return p;
}

uint8_t* asn_build_int(uint8_t* p, uint32_t* room, uint8_t tag, const int32_t* value, unsigned size) {
  if (!value || size != 4) return nullptr;
  const uint32_t v = static_cast<uint32_t>(*value);
  const unsigned n = shortest_octets(v);
  p = asn_build_header(p, room, tag, n);
  if (_asn_build_header_check(p, room, n)) return nullptr;
  *room -= n;
  return put_be(p, v, n);
}

uint8_t* asn_build_unsigned_int(uint8_t* p, uint32_t* room, uint8_t tag, const uint32_t* value, unsigned size) {
  if (!value || size != 4) return nullptr;
  const uint32_t v = *value;
  // Bit 31 would read as a sign: a zero octet goes first.
  const bool sign = (v & 0x80000000u) != 0;
  const unsigned n = sign ? 5 : shortest_octets(v);
  p = asn_build_header(p, room, tag, n);
  if (_asn_build_header_check(p, room, n)) return nullptr;
  *room -= n;
  if (sign) *p++ = 0;
  return put_be(p, v, sign ? 4 : n);
}

uint8_t* asn_build_string(uint8_t* p, uint32_t* room, uint8_t tag, const uint8_t* data, uint32_t length) {
  p = asn_build_header(p, room, tag, length);
  if (_asn_build_header_check(p, room, length)) return nullptr;
  if (data)
    std::memcpy(p, data, length);
  else
    std::memset(p, 0, length);
  *room -= length;
  return p + length;
}

uint8_t* asn_build_bitstring(uint8_t* p, uint32_t* room, uint8_t tag, const uint8_t* data, uint32_t length) {
  if (length == 0 || !data) return nullptr;
  return asn_build_string(p, room, tag, data, length);
}

uint8_t* asn_build_null(uint8_t* p, uint32_t* room, uint8_t tag) { return asn_build_header(p, room, tag, 0); }

uint8_t* asn_build_objid(uint8_t* p, uint32_t* room, uint8_t tag, const uint32_t* oid, unsigned count) {
  if (count > kMaxArcs || (count > 0 && !oid)) return nullptr;
  // The first two arcs share one subidentifier: under arc 0 or 1 the second
  // is below 40, under 2 it may be any, so the sum takes up to 33 bits.
  uint64_t first = 0;
  if (count > 0) {
    if (oid[0] > 2) return nullptr;
    first = uint64_t(oid[0]) * 40;
    if (count > 1) {
      if (oid[0] < 2 && oid[1] > 39) return nullptr;
      first += oid[1];
    }
  }
  // Subidentifier i > 0 is arc i + 1.
  const unsigned subids = count > 1 ? count - 1 : 1;
  uint32_t length = subid_octets(first);
  for (unsigned i = 1; i < subids; ++i) length += subid_octets(oid[i + 1]);

  p = asn_build_header(p, room, tag, length);
  if (_asn_build_header_check(p, room, length)) return nullptr;
  for (unsigned i = 0; i < subids; ++i) {
    const uint64_t v = i == 0 ? first : oid[i + 1];
    for (unsigned k = subid_octets(v); k-- > 0;) {
      const uint8_t group = static_cast<uint8_t>((v >> (7 * k)) & 0x7F);
      *p++ = k > 0 ? static_cast<uint8_t>(group | 0x80) : group;
    }
  }
  *room -= length;
  return p;
}

uint8_t* snmp_build_var_op(uint8_t* p, const uint32_t* oid, const unsigned* oidLength, unsigned type,
                           unsigned valueLength, const void* value, uint32_t* room) {
  if (!p || !room || !oidLength || *room < kFixedHeader) return nullptr;
  uint8_t* const header = p;
  p += kFixedHeader;
  *room -= kFixedHeader;
  p = asn_build_objid(p, room, kSnmpObjectId, oid, *oidLength);
  if (!p) return nullptr;

  const uint8_t tag = static_cast<uint8_t>(type);
  const uint8_t* octets = static_cast<const uint8_t*>(value);
  // The value may lie anywhere: numbers are copied out before use.
  uint32_t number = 0;
  if (valueLength == 4 && value) std::memcpy(&number, value, 4);
  switch (type) {
    case kSnmpInteger: {
      if (!value) return nullptr;
      const int32_t signed_number = static_cast<int32_t>(number);
      p = asn_build_int(p, room, tag, &signed_number, valueLength);
      break;
    }
    case kSnmpBitString:
      p = asn_build_bitstring(p, room, tag, octets, valueLength);
      break;
    case kSnmpOctetString:
    case kSnmpIpAddress:
    case kSnmpOpaque:
    case kSnmpNsapAddress:
      p = asn_build_string(p, room, tag, octets, valueLength);
      break;
    case kSnmpNull:
      p = asn_build_null(p, room, tag);
      break;
    case kSnmpObjectId: {
      const unsigned count = valueLength / 4;
      if (count > kMaxArcs || (count > 0 && !value)) return nullptr;
      uint32_t arcs[kMaxArcs];
      if (count > 0) std::memcpy(arcs, value, count * 4);
      p = asn_build_objid(p, room, tag, arcs, count);
      break;
    }
    case kSnmpCounter32:
    case kSnmpGauge32:
    case kSnmpTimeTicks:
    case kSnmpUInteger32:
      if (!value) return nullptr;
      p = asn_build_unsigned_int(p, room, tag, &number, valueLength);
      break;
    default:
      return nullptr;
  }
  if (!p) return nullptr;
  fill_header(header, kSequence, header + kFixedHeader, p);
  return p;
}

}  // namespace Snmp
