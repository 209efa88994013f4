#pragma once
// SNMPv2c trap messages packed into a fixed buffer with a small set of BER
// builders. Nothing here touches the network: the caller sends
// buffer[0, length) once trap_pack_end has succeeded.
//
//   trap_init(&t, "public");
//   trap_pack_begin(&t);
//   trap_pack_add(&t, oid, n, kSnmpCounter32, &value, 4);   // any number
//   trap_pack_end(&t);
//
// Every constructed header (message, PDU, binding list, each binding) takes
// the fixed four-octet form 30 82 hi lo, so lengths are filled in once the
// content is known. The trap_ functions give 0 or -1; a builder gives the
// octet after what it wrote, or null when the room would not hold it (the
// room counter is lowered by what is written).
#include <cstdint>

namespace Snmp {

// Value types of a variable binding (their BER tags).
enum : unsigned {
  kSnmpInteger = 2,
  kSnmpBitString = 3,
  kSnmpOctetString = 4,
  kSnmpNull = 5,
  kSnmpObjectId = 6,
  kSnmpIpAddress = 64,
  kSnmpCounter32 = 65,
  kSnmpGauge32 = 66,
  kSnmpTimeTicks = 67,
  kSnmpOpaque = 68,
  kSnmpNsapAddress = 69,
  kSnmpUInteger32 = 71,
};

constexpr unsigned kTrapBufferSize = 2048;
constexpr unsigned kCommunityMax = 31;

struct trap_context {
  int32_t version;
  int32_t pdu_type;
  // Kept across trap_init, which advances it.
  int32_t request_id;
  int32_t error_status;
  int32_t error_index;
  char community[kCommunityMax + 1];
  // 0 initialised, 1 header written, 2 a binding added, 3 finished.
  int32_t state;
  uint8_t buffer[kTrapBufferSize];
  uint32_t room;
  uint32_t length;
  uint8_t* message_start;
  uint8_t* pdu_start;
  uint8_t* pdu_content;
  uint8_t* bindings_header;
  uint8_t* first_binding;
  // Null once a builder has failed: every later add and the end fail too.
  uint8_t* cursor;
};

// System uptime in hundredths of a second, for TimeTicks.
uint32_t get_uptime();

int snmp_session_seed(trap_context* t, unsigned seed);
// The community is cut to 31 characters; null means "vorkan".
int trap_init(trap_context* t, const char* community);
int trap_pack_begin(trap_context* t);
// value points to valueLength octets: a 32-bit number in host order for the
// integer types (valueLength 4), subidentifiers for kSnmpObjectId.
int trap_pack_add(trap_context* t, const uint32_t* oid, unsigned oidLength, unsigned type, const void* value,
                  unsigned valueLength);
int trap_pack_end(trap_context* t);

// Dotted text ("1.3.6.1" or ".1.3.6.1"; the first 127 characters) to at most
// max numbers; how many were stored. A piece that is no number gives 0.
int parse_oid(uint32_t* out, int max, const char* text);

uint8_t* asn_build_length(uint8_t* p, uint32_t* room, uint32_t length);
uint8_t* asn_build_header(uint8_t* p, uint32_t* room, uint8_t tag, uint32_t length);
// True when the header failed or the room cannot take the content.
bool _asn_build_header_check(const uint8_t* p, const uint32_t* room, uint32_t length);
uint8_t* asn_build_sequence(uint8_t* p, uint32_t* room, uint8_t tag, uint32_t length);
// size must be 4.
uint8_t* asn_build_int(uint8_t* p, uint32_t* room, uint8_t tag, const int32_t* value, unsigned size);
uint8_t* asn_build_unsigned_int(uint8_t* p, uint32_t* room, uint8_t tag, const uint32_t* value, unsigned size);
// Zeros when data is null.
uint8_t* asn_build_string(uint8_t* p, uint32_t* room, uint8_t tag, const uint8_t* data, uint32_t length);
// data begins with the initial octet (the unused bits).
uint8_t* asn_build_bitstring(uint8_t* p, uint32_t* room, uint8_t tag, const uint8_t* data, uint32_t length);
uint8_t* asn_build_null(uint8_t* p, uint32_t* room, uint8_t tag);
// At most 128 arcs; the first two make one subidentifier.
uint8_t* asn_build_objid(uint8_t* p, uint32_t* room, uint8_t tag, const uint32_t* oid, unsigned count);
uint8_t* snmp_build_var_op(uint8_t* p, const uint32_t* oid, const unsigned* oidLength, unsigned type,
                           unsigned valueLength, const void* value, uint32_t* room);

}  // namespace Snmp
