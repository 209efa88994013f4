// The R2S header codec against hand-written octets, and tshark reading what
// it packs as the header extension of RTP packets.
#include "radio/r2s_proto.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "radio/tests/octets.h"
#include "simboard/testing/tshark.h"

namespace {

using namespace R2SProto;

using radiotest::Hex;
using radiotest::Octets;

r2s_proto Rx(unsigned long ptt_type, unsigned long squ, unsigned long id) {
  r2s_proto p;
  r2s_proto_init(&p, kKindNone);
  r2s_proto_set_rx_header(&p, ptt_type, squ, id, 0, 0, 0);
  return p;
}

r2s_proto Tx(unsigned long ptt_type, unsigned long id) {
  r2s_proto p;
  r2s_proto_init(&p, kKindNone);
  r2s_proto_set_tx_header(&p, ptt_type, id, 0, 0);
  return p;
}

TEST(R2SProto, Packs) {
  r2s_proto_rx_additional_rrc rrcLong = {{1, 0, 0, 0, 0, 0, 0, 1}, 1, {1, 1}, {0x1AB, 7}};
  r2s_proto_rx_additional_rrc rrcBad = {};
  rrcBad.form = 2;
  r2s_proto_rx_additional_mam mam = {1, 0x123456, 0, 0xFFFFFFFF, {0x1234, 0x10001, 5}};
  r2s_proto_tx_additional_climax_time_delay delay = {0x1FF};
  r2s_proto_tx_additional_rrm rrm = {1, 2};
  r2s_proto_tx_additional_rrc txRrc = {{0, 1, 0, 0, 0, 0, 0, 0}};
  struct Row {
    const char* what;
    std::function<r2s_proto()> make;
    int len;
    int rc;
    std::string octets;
  };
  const Row rows[] = {
      {"rx without features", [] { return Rx(0, 0, 0); }, 8, 4, "0000000000000000"},
      {"rx in 3 octets", [] { return Rx(0, 0, 0); }, 3, kShort, ""},
      {"rx in 1 octet", [] { return Rx(0, 0, 0); }, 1, kShort, ""},
      {"tx PTT 1 id 5", [] { return Tx(1, 5); }, 4, 4, "21400000"},
      {"tx masks to widths, squ and sct never sent",
       [] {
         r2s_proto p = Tx(9, 0x45);
         p.tx.ptt_mute = 3;
         p.tx.ptt_summation = 1;
         return p;
       },
       4, 4, "21700000"},
      {"rx SQU with SQI(9, 2)",
       [] {
         r2s_proto p = Rx(0, 1, 0);
         r2s_proto_add_rx_sqi(&p, 9, 2);
         return p;
       },
       8, 4, "1001114a00000000"},
      {"rx SQI in 3 octets",
       [] {
         r2s_proto p = Rx(0, 1, 0);
         r2s_proto_add_rx_sqi(&p, 9, 2);
         return p;
       },
       3, kShort, ""},
      {"rx long remote control and MAM",
       [&] {
         r2s_proto p = Rx(2, 0, 63);
         p.rx.sct = 1;
         r2s_proto_add_rx_rrc(&p, &rrcLong);
         r2s_proto_add_rx_mam(&p, &mam);
         return p;
       },
       20, 20, "4fc93481c0ab074c9234567fffff123400010005"},
      {"rx remote control form 2", [&] {
         r2s_proto p = Rx(0, 0, 0);
         r2s_proto_add_rx_rrc(&p, &rrcBad);
         return p;
       },
       8, kUnknownKind, ""},
      {"tx features, an rx type left out", [&] {
         r2s_proto p = Tx(0, 0);
         r2s_proto_add_tx_time_delay(&p, &delay);
         r2s_proto_add_rx_sqi(&p, 1, 1);
         r2s_proto_add_tx_rrc(&p, &txRrc);
         r2s_proto_add_tx_rrm(&p, &rrm);
         return p;
       },
       12, 10, "000121ff3140438000020000"},
      {"tx features one octet short", [&] {
         r2s_proto p = Tx(0, 0);
         r2s_proto_add_tx_time_delay(&p, &delay);
         r2s_proto_add_tx_rrm(&p, &rrm);
         return p;
       },
       7, kShort, ""},
  };
  for (const Row& r : rows) {
    r2s_proto p = r.make();
    std::vector<unsigned char> buf(static_cast<std::size_t>(r.len), 0xEE);
    const int rc = r2s_proto_pack(&p, buf.data(), r.len);
    EXPECT_EQ(r.rc, rc) << r.what;
    if (rc > 0) {
      EXPECT_EQ(r.octets, Hex(buf.data(), r.len)) << r.what;
    }
  }
  r2s_proto none;
  r2s_proto_init(&none, kKindNone);
  unsigned char buf[4];
  EXPECT_EQ(kUnknownKind, r2s_proto_pack(&none, buf, 4));
  EXPECT_EQ(kNull, r2s_proto_pack(nullptr, buf, 4));
  EXPECT_EQ(0, r2s_proto_pack_rx(nullptr, buf, 4));
  EXPECT_EQ(0, r2s_proto_pack_tx(&none, nullptr, 4));
}

TEST(R2SProto, AddKeepsSixteenFeatures) {
  r2s_proto p = Rx(0, 0, 0);
  for (unsigned long i = 0; i < 20; ++i) r2s_proto_add_rx_sqi(&p, i, 0);
  ASSERT_EQ(16u, p.count);
  EXPECT_EQ(15u, p.features[15].data[0]);
  r2s_proto_add_rx_sqi(&p, nullptr);
  r2s_proto_add_rx_sqi(nullptr, 1, 1);
  EXPECT_EQ(16u, p.count);
  r2s_proto_reset_additionals(&p);
  EXPECT_EQ(0u, p.count);
}

TEST(R2SProto, Unpacks) {
  struct Row {
    const char* what;
    bool rx;
    std::string octets;
    int rc;
    // kind, the six header words, then per feature its type and first words.
    std::vector<std::uint32_t> header;
    std::vector<std::vector<std::uint32_t>> features;
  };
  std::string seventeen = "0001";
  for (int i = 0; i < 17; ++i) seventeen += "1108";
  const Row rows[] = {
      {"two octets with X", true, "ffc9", 0, {kKindRx, 7, 1, 63, 0, 0, 1}, {}},
      {"X clear ignores the rest", true, "21401149", 0, {kKindRx, 1, 0, 5, 0, 0, 0}, {}},
      {"one octet", true, "21", kShort, {kKindNone, 0, 0, 0, 0, 0, 0}, {}},
      {"SQI", true, "1001114a", 0, {kKindRx, 0, 1, 0, 0, 0, 0}, {{kRxSqi, 9, 2}}},
      {"unknown skipped with its value", true, "000192aabb114a", 0, {kKindRx, 0, 0, 0, 0, 0, 0},
       {{kRxSqi, 9, 2}}},
      {"a known type of another length skipped", true, "0001120000114a", 0, {kKindRx, 0, 0, 0, 0, 0, 0},
       {{kRxSqi, 9, 2}}},
      {"short and long remote control", true, "000131813481c0ab07", 0, {kKindRx, 0, 0, 0, 0, 0, 0},
       {{kRxRrc, 1, 0, 0, 0, 0, 0, 0, 1, 0}, {kRxRrc, 1, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 0xAB, 7}}},
      {"MAM", true, "00014c9234567fffff123400010005", 0, {kKindRx, 0, 0, 0, 0, 0, 0},
       {{kRxMam, 1, 0x123456, 0, 0x7FFFFF, 0x1234, 1, 5}}},
      {"cut inside the features keeps what decoded", true, "0001114a12ff", kShort, {kKindRx, 0, 0, 0, 0, 0, 0},
       {{kRxSqi, 9, 2}}},
      {"cut in a value", true, "0001114a4c0102", kShort, {kKindRx, 0, 0, 0, 0, 0, 0}, {{kRxSqi, 9, 2}}},
      {"the 17th feature not read", true, seventeen, 0, {kKindRx, 0, 0, 0, 0, 0, 0},
       std::vector<std::vector<std::uint32_t>>(16, {kRxSqi, 1, 0})},
      {"tx ignores SQU and SCT", false, "3049", 0, {kKindTx, 1, 1, 0, 0, 0, 0}, {}},
      {"tx features", false, "000121ff314043800002", 0, {kKindTx, 0, 0, 0, 0, 0, 0},
       {{kTxTimeDelay, 0xFF}, {kTxRrc, 0, 1, 0}, {kTxRrm, 1, 2}}},
      {"tx does not know SQI", false, "0001114a", 0, {kKindTx, 0, 0, 0, 0, 0, 0}, {}},
  };
  for (const Row& r : rows) {
    r2s_proto p;
    r2s_proto_init(&p, kKindNone);
    const std::vector<unsigned char> in = Octets(r.octets);
    const int rc = r.rx ? r2s_proto_unpack_rx(&p, in.data(), static_cast<int>(in.size()))
                        : r2s_proto_unpack_tx(&p, in.data(), static_cast<int>(in.size()));
    EXPECT_EQ(r.rc, rc) << r.what;
    std::vector<std::uint32_t> header = {p.kind};
    if (p.kind == kKindTx)
      header.insert(header.end(), {p.tx.ptt_type, p.tx.ptt_id, p.tx.ptt_mute, p.tx.ptt_summation, 0, 0});
    else
      header.insert(header.end(), {p.rx.ptt_type, p.rx.squ, p.rx.ptt_id, p.rx.ptt_mute, p.rx.ptt_summation, p.rx.sct});
    EXPECT_EQ(r.header, header) << r.what;
    ASSERT_EQ(r.features.size(), p.count) << r.what;
    for (std::size_t i = 0; i < r.features.size(); ++i) {
      std::vector<std::uint32_t> got = {p.features[i].type};
      got.insert(got.end(), p.features[i].data, p.features[i].data + r.features[i].size() - 1);
      EXPECT_EQ(r.features[i], got) << r.what << " feature " << i;
    }
  }
  unsigned char two[2] = {0, 1};
  EXPECT_EQ(kNull, r2s_proto_unpack_rx(nullptr, two, 2));
  r2s_proto p;
  EXPECT_EQ(kNull, r2s_proto_unpack_tx(&p, nullptr, 2));
}

TEST(R2SProto, SourceComparison) {
  r2s_proto a = Rx(0, 0, 0), b = Rx(1, 1, 1);
  a.source_ssrc = b.source_ssrc = 7;
  a.source_addr = b.source_addr = 0x0100007f;
  EXPECT_EQ(0, cmp_r2s_proto_source(&a, &b));
  b.source_addr = 0x0200007f;
  EXPECT_NE(0, cmp_r2s_proto_source(&a, &b));
  b = Tx(0, 0);
  EXPECT_NE(0, cmp_r2s_proto_source(&a, &b));
  EXPECT_EQ(-1, cmp_r2s_proto_source(&a, nullptr));
}

// The packed headers as the extension (profile 0x0167) of RTP packets, read
// back by tshark's ED-137A dissector.
TEST(R2SProto, TsharkReadsThePackedHeaders) {
  if (!SimBoard::HaveTshark() || !SimBoard::HaveText2pcap())
    GTEST_SKIP() << "tshark is not installed (tools/deps installs it)";
  std::vector<r2s_proto> headers = {Rx(1, 1, 5), Rx(4, 0, 63), Tx(2, 9)};
  r2s_proto_add_rx_sqi(&headers[0], 9, 2);
  r2s_proto_add_rx_sqi(&headers[1], 31, 7);
  const char* expected[] = {"1|1|5|1|0x01|9|2", "4|0|63|1|0x01|31|7", "2|0|9|0|||"};
  std::vector<std::string> packets;
  for (r2s_proto& h : headers) {
    unsigned char ext[64];
    int n = r2s_proto_pack(&h, ext, sizeof ext);
    ASSERT_GT(n, 0);
    const int words = (n + 3) / 4;
    std::string rtp = {'\x90', '\x08', '\x00', '\x01', 0, 0, 0, 0, '\x12', '\x34', '\x56', '\x78'};
    rtp += {'\x01', '\x67', 0, static_cast<char>(words)};
    rtp.append(reinterpret_cast<const char*>(ext), static_cast<std::size_t>(n));
    rtp.append(static_cast<std::size_t>(words * 4 - n), '\0');
    rtp.append(160, '\xd5');
    packets.push_back(rtp);
  }
  const auto lines = SimBoard::TsharkUdp(packets, 40000, 40002, "rtp",
                                         "-e rtp.ext.ed137a.ptt_type -e rtp.ext.ed137a.squ -e rtp.ext.ed137a.ptt_id "
                                         "-e rtp.ext.ed137a.x -e rtp.ext.ed137a.ft.type -e rtp.ext.ed137a.ft.sqi.qidx "
                                         "-e rtp.ext.ed137a.ft.sqi.qidx-ml");
  ASSERT_EQ(3u, lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(expected[i], lines[i]) << i;
}

}  // namespace
