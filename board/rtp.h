#pragma once
// "/dev/rtp", the board's RTP media engine: one descriptor per RTP session,
// type 'R'. Every word is in the processor's byte order and every record is
// zero-filled before its fields are set.
#include <cstddef>
#include <cstdint>

#include "board/board.h"

// Begin-session request.
struct rtp_connection_params {
  std::uint32_t remote_addr;  // as inet_addr gives it
  std::uint16_t remote_port;
  std::uint8_t reserved1[2];
  std::uint32_t local_addr;  // 0: none given
  std::uint16_t local_port;
  std::uint16_t rx_pt;
  std::uint16_t tx_pt;
  std::uint16_t packet_factor;
  std::uint8_t vad;
  std::uint8_t crate;
  std::uint8_t reserved2[2];
  std::uint32_t ssrc;
  std::uint8_t reserved3[8];
  std::uint32_t ttl;
  std::int32_t tos;  // -1: not given
};
static_assert(sizeof(rtp_connection_params) == 44);
static_assert(offsetof(rtp_connection_params, remote_addr) == 0);
static_assert(offsetof(rtp_connection_params, remote_port) == 4);
static_assert(offsetof(rtp_connection_params, reserved1) == 6);
static_assert(offsetof(rtp_connection_params, local_addr) == 8);
static_assert(offsetof(rtp_connection_params, local_port) == 12);
static_assert(offsetof(rtp_connection_params, rx_pt) == 14);
static_assert(offsetof(rtp_connection_params, tx_pt) == 16);
static_assert(offsetof(rtp_connection_params, packet_factor) == 18);
static_assert(offsetof(rtp_connection_params, vad) == 20);
static_assert(offsetof(rtp_connection_params, crate) == 21);
static_assert(offsetof(rtp_connection_params, reserved2) == 22);
static_assert(offsetof(rtp_connection_params, ssrc) == 24);
static_assert(offsetof(rtp_connection_params, reserved3) == 28);
static_assert(offsetof(rtp_connection_params, ttl) == 36);
static_assert(offsetof(rtp_connection_params, tos) == 40);

struct rtp_channel_info {
  std::int32_t tdm;
  std::int32_t dev_no;
  std::int32_t chn;
};
static_assert(sizeof(rtp_channel_info) == 12);
static_assert(offsetof(rtp_channel_info, tdm) == 0);
static_assert(offsetof(rtp_channel_info, dev_no) == 4);
static_assert(offsetof(rtp_channel_info, chn) == 8);

// Add-channel request: the driver returns the session's TDM timeslot in
// info.tdm.
struct rtp_add_channel_params {
  rtp_channel_info info;
  std::int32_t bss;  // 1: the stream wants the BSS score of its channel
};
static_assert(sizeof(rtp_add_channel_params) == 16);
static_assert(offsetof(rtp_add_channel_params, info) == 0);
static_assert(offsetof(rtp_add_channel_params, bss) == 12);

// One event read from a session's descriptor (reads ask for exactly this
// size); also the record of the request that arms payload detection.
struct rtp_event {
  std::uint32_t type;  // kPayloadDetected; others are ignored
  std::int32_t value;
  std::int32_t timeout;
  std::uint8_t rest[24];
};
static_assert(sizeof(rtp_event) == 36);
static_assert(offsetof(rtp_event, type) == 0);
static_assert(offsetof(rtp_event, value) == 4);
static_assert(offsetof(rtp_event, timeout) == 8);
static_assert(offsetof(rtp_event, rest) == 12);

// Shares the packets of another session: its descriptor and the process that
// owns it.
struct rtp_attach_session_params {
  std::int32_t fd_rtp;
  std::int32_t pid_rtp;
};
static_assert(sizeof(rtp_attach_session_params) == 8);
static_assert(offsetof(rtp_attach_session_params, fd_rtp) == 0);
static_assert(offsetof(rtp_attach_session_params, pid_rtp) == 4);

namespace Board::Rtp {

inline constexpr const char* kDevice = "/dev/rtp";

inline constexpr std::uint32_t kPayloadDetected = 1;  // rtp_event::type
// rtp_channel_info: any channel (tdm), no device or channel of choice.
inline constexpr std::int32_t kAny = -1;

inline constexpr Request kBeginSession = 0xC02C5200;   // rtp_connection_params
inline constexpr Request kAddChannel = 0xC0105202;     // rtp_add_channel_params
inline constexpr Request kAttachSession = 0xC0085209;  // rtp_attach_session_params
inline constexpr Request kPayloadDetect = 0xC024520C;  // rtp_event
inline constexpr Request kPayloadReset = 0x8004520D;   // std::uint32_t 1
// No argument (passed as the value 0). The end of a session is 'R' 10, 3
// and 11 in that order; their inner meaning is the driver's.
inline constexpr Request kTeardown2 = 0x20005203;
inline constexpr Request kStartInput = 0x20005204;
inline constexpr Request kStopInput = 0x20005205;
inline constexpr Request kTeardown1 = 0x2000520A;
inline constexpr Request kTeardown3 = 0x2000520B;
static_assert(kBeginSession == Ppc::iowr('R', 0, sizeof(rtp_connection_params)));
static_assert(kAddChannel == Ppc::iowr('R', 2, sizeof(rtp_add_channel_params)));
static_assert(kAttachSession == Ppc::iowr('R', 9, sizeof(rtp_attach_session_params)));
static_assert(kPayloadDetect == Ppc::iowr('R', 12, sizeof(rtp_event)));
static_assert(kPayloadReset == Ppc::iow('R', 13, sizeof(std::uint32_t)));
static_assert(kTeardown2 == Ppc::io('R', 3));
static_assert(kStartInput == Ppc::io('R', 4));
static_assert(kStopInput == Ppc::io('R', 5));
static_assert(kTeardown1 == Ppc::io('R', 10));
static_assert(kTeardown3 == Ppc::io('R', 11));

}  // namespace Board::Rtp
