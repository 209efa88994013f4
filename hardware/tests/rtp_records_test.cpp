// The RTP driver's records and request numbers as the driver sees them.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "board/rtp.h"
#include "board/rtp_ext.h"

namespace {

struct Field {
  const char* name;
  size_t offset;
  size_t width;
};

#define FIELD(T, f) \
  Field { #f, offsetof(T, f), sizeof(T::f) }

void ExpectLayout(const char* record, size_t size, size_t actualSize, std::initializer_list<Field> fields) {
  EXPECT_EQ(size, actualSize) << record;
  // The fields tile the record: no padding the driver would not expect.
  size_t next = 0;
  for (const Field& f : fields) {
    EXPECT_EQ(next, f.offset) << record << "." << f.name;
    next = f.offset + f.width;
  }
  EXPECT_EQ(size, next) << record;
}

TEST(RtpRecords, ConnectionParams) {
  using T = rtp_connection_params;
  ExpectLayout(
      "rtp_connection_params", 44, sizeof(T),
      {FIELD(T, remote_addr), FIELD(T, remote_port), FIELD(T, reserved1), FIELD(T, local_addr), FIELD(T, local_port),
       FIELD(T, rx_pt), FIELD(T, tx_pt), FIELD(T, packet_factor), FIELD(T, vad), FIELD(T, crate), FIELD(T, reserved2),
       FIELD(T, ssrc), FIELD(T, reserved3), FIELD(T, ttl), FIELD(T, tos)});
  const struct {
    const char* name;
    size_t offset, width;
    size_t expectOffset, expectWidth;
  } table[] = {
      {"remote address", offsetof(T, remote_addr), sizeof(T::remote_addr), 0, 4},
      {"remote port", offsetof(T, remote_port), sizeof(T::remote_port), 4, 2},
      {"local address", offsetof(T, local_addr), sizeof(T::local_addr), 8, 4},
      {"local port", offsetof(T, local_port), sizeof(T::local_port), 12, 2},
      {"rx_pt", offsetof(T, rx_pt), sizeof(T::rx_pt), 14, 2},
      {"tx_pt", offsetof(T, tx_pt), sizeof(T::tx_pt), 16, 2},
      {"packet_factor", offsetof(T, packet_factor), sizeof(T::packet_factor), 18, 2},
      {"vad", offsetof(T, vad), sizeof(T::vad), 20, 1},
      {"crate", offsetof(T, crate), sizeof(T::crate), 21, 1},
      {"ssrc", offsetof(T, ssrc), sizeof(T::ssrc), 24, 4},
      {"ttl", offsetof(T, ttl), sizeof(T::ttl), 36, 4},
      {"tos", offsetof(T, tos), sizeof(T::tos), 40, 4},
  };
  for (const auto& f : table) {
    EXPECT_EQ(f.expectOffset, f.offset) << f.name;
    EXPECT_EQ(f.expectWidth, f.width) << f.name;
  }
  T zero = {};
  zero.tos = -1;
  EXPECT_EQ(-1, zero.tos);  // signed: "not given"
}

TEST(RtpRecords, SmallRecords) {
  {
    using T = rtp_channel_info;
    ExpectLayout("rtp_channel_info", 12, sizeof(T), {FIELD(T, tdm), FIELD(T, dev_no), FIELD(T, chn)});
  }
  {
    using T = rtp_add_channel_params;
    ExpectLayout("rtp_add_channel_params", 16, sizeof(T), {FIELD(T, info), FIELD(T, bss)});
  }
  {
    using T = rtp_event;
    ExpectLayout("rtp_event", 36, sizeof(T), {FIELD(T, type), FIELD(T, value), FIELD(T, timeout), FIELD(T, rest)});
  }
  {
    using T = rtp_attach_session_params;
    ExpectLayout("rtp_attach_session_params", 8, sizeof(T), {FIELD(T, fd_rtp), FIELD(T, pid_rtp)});
  }
  {
    using T = rtp_ext_attach_session_params;
    ExpectLayout("rtp_ext_attach_session_params", 8, sizeof(T), {FIELD(T, fd_rtp), FIELD(T, pid_rtp)});
  }
  {
    using T = rtp_ext_init_params;
    ExpectLayout(
        "rtp_ext_init_params", 20, sizeof(T),
        {FIELD(T, etype), FIELD(T, reserved), FIELD(T, param1), FIELD(T, param2), FIELD(T, param3), FIELD(T, param4)});
    T words = {};
    words.param3 = 0x80000000u;
    EXPECT_GT(words.param3, 0u);  // unsigned words
  }
  {
    using T = rtp_ext_next_packet_params;
    ExpectLayout("rtp_ext_next_packet_params", 12, sizeof(T), {FIELD(T, ssrc), FIELD(T, addr), FIELD(T, reserved)});
  }
  {
    using T = rtp_ext_filter_params;
    ExpectLayout("rtp_ext_filter_params", 8, sizeof(T), {FIELD(T, addr), FIELD(T, reserved)});
  }
}

// Each request split into its PowerPC fields, against the driver's table.
TEST(RtpRecords, RequestNumbers) {
  const struct {
    const char* name;
    Board::Request request;
    Board::Request direction;
    Board::Request size;
    char type;
    Board::Request number;
  } table[] = {
      {"begin session", Board::Rtp::kBeginSession, 6, 44, 'R', 0},
      {"add channel", Board::Rtp::kAddChannel, 6, 16, 'R', 2},
      {"attach session", Board::Rtp::kAttachSession, 6, 8, 'R', 9},
      {"payload detect", Board::Rtp::kPayloadDetect, 6, 36, 'R', 12},
      {"ext init", Board::RtpExt::kInit, 6, 20, 'E', 0},
      {"ext attach session", Board::RtpExt::kAttachSession, 6, 8, 'E', 1},
      {"ext detach session", Board::RtpExt::kDetachSession, 1, 0, 'E', 2},
      {"ext next packet", Board::RtpExt::kNextPacket, 6, 12, 'E', 3},
      {"ext set filter", Board::RtpExt::kSetFilter, 6, 8, 'E', 4},
      {"ext reset filter", Board::RtpExt::kResetFilter, 1, 0, 'E', 5},
  };
  for (const auto& r : table) {
    EXPECT_EQ(r.direction, Board::Ppc::direction(r.request)) << r.name;
    EXPECT_EQ(r.size, Board::Ppc::size(r.request)) << r.name;
    EXPECT_EQ(static_cast<unsigned char>(r.type), Board::Ppc::type(r.request)) << r.name;
    EXPECT_EQ(r.number, Board::Ppc::number(r.request)) << r.name;
  }
  EXPECT_EQ(0xC02C5200u, Board::Rtp::kBeginSession);
  EXPECT_EQ(0xC0105202u, Board::Rtp::kAddChannel);
  EXPECT_EQ(0xC0085209u, Board::Rtp::kAttachSession);
  EXPECT_EQ(0xC024520Cu, Board::Rtp::kPayloadDetect);
  EXPECT_EQ(0xC0144500u, Board::RtpExt::kInit);
  EXPECT_EQ(0xC0084501u, Board::RtpExt::kAttachSession);
  EXPECT_EQ(0x20004502u, Board::RtpExt::kDetachSession);
  EXPECT_EQ(0xC00C4503u, Board::RtpExt::kNextPacket);
  EXPECT_EQ(0xC0084504u, Board::RtpExt::kSetFilter);
  EXPECT_EQ(0x20004505u, Board::RtpExt::kResetFilter);
}

TEST(RtpRecords, DeviceNames) {
  EXPECT_STREQ("/dev/rtp", Board::Rtp::kDevice);
  EXPECT_STREQ("/dev/rtp_ext", Board::RtpExt::kDevice);
}

}  // namespace
