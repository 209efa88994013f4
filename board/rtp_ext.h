#pragma once
// "/dev/rtp_ext", the header-extension side of the RTP media engine, type
// 'E'. Every word is in the processor's byte order and every record is
// zero-filled before its fields are set.
#include <cstddef>
#include <cstdint>

#include "board/board.h"

// Initialises a session for one header-extension type; what the four
// parameters mean is up to that type.
struct rtp_ext_init_params {
  std::uint16_t etype;
  std::uint8_t reserved[2];
  std::int32_t param1;
  std::int32_t param2;
  std::int32_t param3;
  std::int32_t param4;
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

namespace Board::RtpExt {

inline constexpr const char* kDevice = "/dev/rtp_ext";

inline constexpr Request kInit = 0xC0144500;           // rtp_ext_init_params
inline constexpr Request kAttachSession = 0xC0084501;  // rtp_ext_attach_session_params
static_assert(kInit == Ppc::iowr('E', 0, sizeof(rtp_ext_init_params)));
static_assert(kAttachSession == Ppc::iowr('E', 1, sizeof(rtp_ext_attach_session_params)));

}  // namespace Board::RtpExt
