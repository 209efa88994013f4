#pragma once
// "/dev/rtp_ext", the header-extension side of the RTP media engine, type
// 'E'. Every word is in the processor's byte order and every record is
// zero-filled before its fields are set.
#include <cstddef>
#include <cstdint>

#include "board/board.h"

// Initialises a session for one header-extension type (its 16-bit profile
// identifier); what the four words mean is up to that type.
struct rtp_ext_init_params {
  std::uint16_t etype;
  std::uint8_t reserved[2];
  std::uint32_t param1;
  std::uint32_t param2;
  std::uint32_t param3;  // repetition count
  std::uint32_t param4;  // signalling count
};
static_assert(sizeof(rtp_ext_init_params) == 20);
static_assert(offsetof(rtp_ext_init_params, etype) == 0);
static_assert(offsetof(rtp_ext_init_params, reserved) == 2);
static_assert(offsetof(rtp_ext_init_params, param1) == 4);
static_assert(offsetof(rtp_ext_init_params, param2) == 8);
static_assert(offsetof(rtp_ext_init_params, param3) == 12);
static_assert(offsetof(rtp_ext_init_params, param4) == 16);

// The "/dev/rtp" session this one attaches to, and the process owning it.
struct rtp_ext_attach_session_params {
  std::int32_t fd_rtp;
  std::int32_t pid_rtp;
};
static_assert(sizeof(rtp_ext_attach_session_params) == 8);
static_assert(offsetof(rtp_ext_attach_session_params, fd_rtp) == 0);
static_assert(offsetof(rtp_ext_attach_session_params, pid_rtp) == 4);

// Filled by the driver: where the header extension that the next read
// returns came from.
struct rtp_ext_next_packet_params {
  std::uint32_t ssrc;  // of the RTP stream that carried it
  std::uint32_t addr;  // IPv4 source, network byte order
  std::uint32_t reserved;
};
static_assert(sizeof(rtp_ext_next_packet_params) == 12);
static_assert(offsetof(rtp_ext_next_packet_params, ssrc) == 0);
static_assert(offsetof(rtp_ext_next_packet_params, addr) == 4);
static_assert(offsetof(rtp_ext_next_packet_params, reserved) == 8);

// Accept header extensions from this source address only.
struct rtp_ext_filter_params {
  std::uint32_t addr;  // IPv4, network byte order
  std::uint32_t reserved;
};
static_assert(sizeof(rtp_ext_filter_params) == 8);
static_assert(offsetof(rtp_ext_filter_params, addr) == 0);
static_assert(offsetof(rtp_ext_filter_params, reserved) == 4);

namespace Board::RtpExt {

inline constexpr const char* kDevice = "/dev/rtp_ext";

inline constexpr Request kInit = 0xC0144500;           // rtp_ext_init_params
inline constexpr Request kAttachSession = 0xC0084501;  // rtp_ext_attach_session_params
// Their numbers carry no size, yet the driver is handed a record by pointer:
// the attach record and the (zeroed) filter record.
inline constexpr Request kDetachSession = 0x20004502;
inline constexpr Request kNextPacket = 0xC00C4503;   // rtp_ext_next_packet_params; 1 or more: one is pending
inline constexpr Request kSetFilter = 0xC0084504;    // rtp_ext_filter_params
inline constexpr Request kResetFilter = 0x20004505;
static_assert(kInit == Ppc::iowr('E', 0, sizeof(rtp_ext_init_params)));
static_assert(kAttachSession == Ppc::iowr('E', 1, sizeof(rtp_ext_attach_session_params)));
static_assert(kDetachSession == Ppc::io('E', 2));
static_assert(kNextPacket == Ppc::iowr('E', 3, sizeof(rtp_ext_next_packet_params)));
static_assert(kSetFilter == Ppc::iowr('E', 4, sizeof(rtp_ext_filter_params)));
static_assert(kResetFilter == Ppc::io('E', 5));

// A read returns one header extension of at most this many octets.
inline constexpr std::size_t kMaxPacket = 1024;

}  // namespace Board::RtpExt
