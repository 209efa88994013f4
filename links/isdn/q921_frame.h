#pragma once
// The Q.921 frame as the D channel links read and write it (modulo 128):
//   octet 1  SAPI << 2 | C/R (0x02) | EA0 (0x01, must be 0)
//   octet 2  TEI << 1 | EA1 (0x01, must be 1); TEI 127 is the group TEI
//   octet 3  control, first octet
//   octet 4  control, second octet (I and S frames only)
//   octet 5  information field (I and UI frames)
// HDLC flags, bit stuffing and the FCS belong to the channel.
#include <cstdint>

namespace ISDN {
namespace Q921 {

// Octet offsets.
constexpr unsigned addr_sapi_octet = 0;
constexpr unsigned addr_tei_octet = 1;
constexpr unsigned control_octet = 2;
constexpr unsigned control2_octet = 3;
constexpr unsigned u_header_size = 3;   // address and one control octet
constexpr unsigned is_header_size = 4;  // address and two control octets

// System parameters, the Q.921 defaults for SAPI 0, on either side.
constexpr unsigned n201 = 260;       // the most octets of layer 3 in an I or UI frame
constexpr unsigned t200_ms = 1000;   // waiting for an acknowledgement or an answer
constexpr unsigned t202_ms = 2000;   // between the TEI identity requests
constexpr unsigned t203_ms = 10000;  // the longest silence of an established link
constexpr unsigned n200 = 3;         // retransmissions before giving up
constexpr unsigned n202 = 3;         // identity requests repeated before giving up
constexpr unsigned k = 7;            // the window: I frames sent and not yet acknowledged
// The most layer-3 messages a link queues for sending; its queue keeps room
// for the k that a retransmission puts back in front of them.
constexpr unsigned out_limit = 128;
constexpr unsigned out_capacity = out_limit + k;

// Address field.
constexpr uint8_t cr_bit = 0x02;
constexpr uint8_t ea0_bit = 0x01;
constexpr uint8_t ea1_bit = 0x01;
constexpr unsigned sapi_shift = 2;
constexpr unsigned tei_shift = 1;
constexpr unsigned group_tei = 127;
constexpr unsigned sapi_call_control = 0;
constexpr unsigned sapi_tei_management = 63;

constexpr unsigned sapi_of(uint8_t octet1) { return octet1 >> sapi_shift; }
constexpr unsigned tei_of(uint8_t octet2) { return octet2 >> tei_shift; }
constexpr uint8_t address1(unsigned sapi, bool cr) { return uint8_t((sapi << sapi_shift) | (cr ? cr_bit : 0)); }
constexpr uint8_t address2(unsigned tei) { return uint8_t((tei << tei_shift) | ea1_bit); }

// Control field: bit 1 clear is an I frame, bits 2-1 = 01 an S frame, 11 a U frame.
constexpr bool is_i(uint8_t control) { return (control & 0x01) == 0; }
constexpr bool is_s(uint8_t control) { return (control & 0x03) == 0x01; }
constexpr bool is_u(uint8_t control) { return (control & 0x03) == 0x03; }

// S frames: first control octet; the second carries N(R) << 1 and P/F in bit 1.
constexpr uint8_t s_rr = 0x01;
constexpr uint8_t s_rnr = 0x05;
constexpr uint8_t s_rej = 0x09;
constexpr unsigned s_type(uint8_t control) { return (control >> 2) & 3; }  // 0 RR, 1 RNR, 2 REJ

// U frames: the code is the control octet without its P/F bit.
constexpr uint8_t u_pf_bit = 0x10;
constexpr uint8_t u_sabme = 0x6F;
constexpr uint8_t u_disc = 0x43;
constexpr uint8_t u_ua = 0x63;
constexpr uint8_t u_dm = 0x0F;
constexpr uint8_t u_frmr = 0x87;
constexpr uint8_t u_ui = 0x03;
constexpr uint8_t u_xid = 0xAF;
constexpr uint8_t u_code(uint8_t control) { return uint8_t(control & ~u_pf_bit); }
constexpr unsigned u_pf(uint8_t control) { return (control >> 4) & 1; }

// I frames: N(S) << 1 in the first control octet; N(R) << 1 and P/F in the second.
constexpr unsigned seq_of(uint8_t control) { return control >> 1; }
constexpr unsigned pf_of(uint8_t control2) { return control2 & 1; }

}  // namespace Q921
}  // namespace ISDN
