#include "mediaslots/rtcp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Encode(const RTPC::Msg& m, unsigned len = 1024) {
  std::vector<char> buf(len + 16, '\x55');
  const unsigned n = m.encode(buf.data(), len);
  // Nothing past the given length is touched.
  for (unsigned i = len; i < buf.size(); ++i) EXPECT_EQ(buf[i], '\x55') << "byte " << i;
  return Bytes(buf.begin(), buf.begin() + n);
}

unsigned LengthField(const Bytes& b) { return b[2] << 8 | b[3]; }

TEST(Rtcp, SdesHeaderAndSsrcInNetworkOrder) {
  RTPC::SDES sdes(0x01020304);
  sdes.add(RTPC::SDES::Item::CNAME, "ab");
  const Bytes b = Encode(sdes);
  // Header, SSRC, CNAME item (1, 2, "ab"), null and padding to a word.
  const Bytes want = {0x81, 0xCA, 0x00, 0x03, 1, 2, 3, 4, 1, 2, 'a', 'b', 0, 0, 0, 0};
  EXPECT_EQ(b, want);
}

TEST(Rtcp, SdesOfTheStreamCarriesTheThreeItems) {
  RTPC::SDES sdes(0xCAFEBABE);
  sdes.add(RTPC::SDES::Item::CNAME, RTPC::kCname);
  sdes.add(RTPC::SDES::Item::EMAIL, RTPC::kEmail);
  sdes.add(RTPC::SDES::Item::PHONE, RTPC::kPhone);
  const Bytes b = Encode(sdes);
  ASSERT_GE(b.size(), 12u);
  EXPECT_EQ(b.size() % 4, 0u);
  EXPECT_EQ(LengthField(b), b.size() / 4 - 1);
  std::size_t pos = 8;
  for (auto [type, text] : {std::pair{1, RTPC::kCname}, {3, RTPC::kEmail}, {4, RTPC::kPhone}}) {
    ASSERT_LT(pos + 2, b.size());
    EXPECT_EQ(b[pos], type);
    ASSERT_EQ(b[pos + 1], std::string(text).size());
    EXPECT_EQ(std::string(b.begin() + pos + 2, b.begin() + pos + 2 + b[pos + 1]), text);
    pos += 2 + b[pos + 1];
  }
  // Then the end of the item list.
  ASSERT_LT(pos, b.size());
  for (; pos < b.size(); ++pos) EXPECT_EQ(b[pos], 0) << pos;
}

TEST(Rtcp, SdesItemOf300BytesIsCutTo255) {
  RTPC::SDES sdes(7);
  const std::string text(300, 'x');
  sdes.add(RTPC::SDES::Item::CNAME, text);
  const Bytes b = Encode(sdes);
  ASSERT_EQ(b.size(), 8u + 2 + 255 + 3);
  EXPECT_EQ(b[8], 1);
  EXPECT_EQ(b[9], 255);
  EXPECT_EQ(std::string(b.begin() + 10, b.begin() + 265), text.substr(0, 255));
  EXPECT_EQ(b[265], 0);
}

TEST(Rtcp, SdesLeavesOutItemsFromTheFirstMisfit) {
  RTPC::SDES sdes(7);
  sdes.add(RTPC::SDES::Item::CNAME, "aaaa");                // 6 octets
  sdes.add(RTPC::SDES::Item::EMAIL, std::string(40, 'b'));  // does not fit
  sdes.add(RTPC::SDES::Item::PHONE, "c");                   // would fit, but comes after
  // Header 4, SSRC 4, first item 6, null and padding 2: 16 octets; the
  // buffer has 24.
  const Bytes b = Encode(sdes, 24);
  const Bytes want = {0x81, 0xCA, 0, 3, 0, 0, 0, 7, 1, 4, 'a', 'a', 'a', 'a', 0, 0};
  EXPECT_EQ(b, want);
}

TEST(Rtcp, SdesItemThatFillsTheBufferExactlyFits) {
  RTPC::SDES sdes(7);
  sdes.add(RTPC::SDES::Item::CNAME, "abcde");  // 2 + 5 + null = 8
  EXPECT_EQ(Encode(sdes, 16).size(), 16u);
  EXPECT_EQ(Encode(sdes, 15).size(), 12u);  // only the chunk's null word
}

TEST(Rtcp, SdesWithoutItemsStillEndsItsChunk) {
  const Bytes b = Encode(RTPC::SDES(0x11223344));
  const Bytes want = {0x81, 0xCA, 0, 2, 0x11, 0x22, 0x33, 0x44, 0, 0, 0, 0};
  EXPECT_EQ(b, want);
}

TEST(Rtcp, ByeWithReason) {
  const Bytes b = Encode(RTPC::BYE(0x0A0B0C0D, RTPC::kByeReason));
  ASSERT_EQ(b.size(), 20u);
  EXPECT_EQ(b[0], 0x81);
  EXPECT_EQ(b[1], 203);
  EXPECT_EQ(LengthField(b), 4u);
  EXPECT_EQ(Bytes(b.begin() + 4, b.begin() + 8), (Bytes{0x0A, 0x0B, 0x0C, 0x0D}));
  EXPECT_EQ(b[8], 11);
  EXPECT_EQ(std::string(b.begin() + 9, b.end()), "session end");
}

TEST(Rtcp, ByeWithoutReasonIs8Octets) {
  const Bytes b = Encode(RTPC::BYE(1, ""));
  const Bytes want = {0x81, 0xCB, 0, 1, 0, 0, 0, 1};
  EXPECT_EQ(b, want);
}

TEST(Rtcp, ByeReasonIsCutToTheBuffer) {
  struct Case {
    unsigned len;
    unsigned size;   // of the packet
    unsigned chars;  // of the reason
  };
  const Case cases[] = {
      {8, 8, 0},     // no room past the SSRC
      {11, 8, 0},    // less than a word
      {12, 12, 3},   // one word: length and 3 characters
      {19, 16, 7},   //
      {20, 20, 11},  // all of it
  };
  for (const Case& c : cases) {
    const Bytes b = Encode(RTPC::BYE(1, "session end"), c.len);
    ASSERT_EQ(b.size(), c.size) << c.len;
    EXPECT_EQ(LengthField(b), c.size / 4 - 1) << c.len;
    if (c.chars) {
      EXPECT_EQ(b[8], c.chars) << c.len;
    }
  }
}

TEST(Rtcp, ByeReasonCutTo255) {
  const Bytes b = Encode(RTPC::BYE(1, std::string(400, 'r')));
  ASSERT_EQ(b.size(), 8u + 256);
  EXPECT_EQ(b[8], 255);
}

TEST(Rtcp, SmallBuffersGiveNothing) {
  RTPC::SDES sdes(1);
  sdes.add(RTPC::SDES::Item::CNAME, "x");
  const RTPC::BYE bye(1, "x");
  for (unsigned len = 0; len <= 7; ++len) {
    char buf[8] = {};
    EXPECT_EQ(sdes.encode(buf, len), 0u) << len;
    EXPECT_EQ(bye.encode(buf, len), 0u) << len;
  }
  // Room for the SDES header and SSRC but not for its chunk's end.
  char buf[11];
  EXPECT_EQ(sdes.encode(buf, sizeof buf), 0u);
  EXPECT_EQ(bye.encode(nullptr, 100), 0u);
}

}  // namespace
