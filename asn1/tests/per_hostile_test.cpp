#include "asn1/testing/per_samples.h"
#include "asn1/tests/coder_test_util.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace coder_test;

const ASN1::ConstrainedObject::InfoType kOctetsTo20000 = {&ASN1::OCTET_STRING::create, 4, ASN1::FixedConstraint, 0,
                                                          20000};

std::vector<char> filledEnvelope() {
  PT::Envelope e;
  PT::fillEnvelope(e, 16);
  std::vector<char> wire;
  EXPECT_TRUE(perEncode(e, wire));
  return wire;
}

std::vector<char> filledKitchen() {
  PT::Kitchen k;
  PT::fillKitchen(k);
  std::vector<char> wire;
  EXPECT_TRUE(perEncode(k, wire));
  return wire;
}

template <class T>
void expectEveryTruncationFails(const std::vector<char>& wire) {
  ASSERT_FALSE(wire.empty());
  for (std::size_t n = 0; n < wire.size(); ++n) {
    // A fresh heap copy of exactly n octets, so a read past it is caught.
    std::unique_ptr<char[]> cut(new char[n ? n : 1]);
    std::copy(wire.begin(), wire.begin() + std::ptrdiff_t(n), cut.get());
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    T value;
    EXPECT_FALSE(ASN1::decode(cut.get(), cut.get() + n, &env, value, true)) << "cut at " << n;
  }
  T value;
  EXPECT_TRUE(perDecodeBytes(wire, value));
}

TEST(PerHostile, TruncatedAtEveryOctetFails) {
  expectEveryTruncationFails<PT::Envelope>(filledEnvelope());
  expectEveryTruncationFails<PT::Kitchen>(filledKitchen());
}

// Whatever decodes must encode to something that decodes to the same value
// and encodes identically again.
template <class T>
void expectStableIfDecoded(const std::vector<char>& input) {
  T first;
  if (!perDecodeBytes(input, first)) return;
  std::vector<char> again;
  if (!perEncode(first, again)) return;
  T second;
  ASSERT_TRUE(perDecodeBytes(again, second)) << hexOf(input);
  EXPECT_EQ(perHex(second), hexOf(again)) << hexOf(input);
}

TEST(PerHostile, EverySingleBitFlipDecodesOrFailsCleanly) {
  for (const auto& wire : {filledEnvelope(), filledKitchen()}) {
    for (std::size_t i = 0; i < wire.size(); ++i) {
      for (unsigned bit = 0; bit < 8; ++bit) {
        std::vector<char> flipped(wire);
        flipped[i] = static_cast<char>(static_cast<unsigned char>(flipped[i]) ^ (1u << bit));
        expectStableIfDecoded<PT::Envelope>(flipped);
        expectStableIfDecoded<PT::Kitchen>(flipped);
        expectStableIfDecoded<PT::Top>(flipped);
      }
    }
  }
}

TEST(PerHostile, LengthsPastTheEndFailBeforeAllocating) {
  ASN1::OCTET_STRING big(&kOctetsTo20000);
  EXPECT_FALSE(perDecode("3E 80 01 02 03", big));  // 16000 octets claimed
  EXPECT_TRUE(big.empty());
  ASN1::OCTET_STRING plain;
  EXPECT_FALSE(perDecode("BF FF 01 02 03", plain));
  EXPECT_TRUE(plain.empty());
  ASN1::IA5String text;
  EXPECT_FALSE(perDecode("BF FF 61 62", text));
  EXPECT_TRUE(text.empty());
  ASN1::AbstractString digits(&ASN1::NumericString::theInfo);
  EXPECT_FALSE(perDecode("BF FF 12", digits));
  EXPECT_TRUE(digits.empty());
  ASN1::BMPString wide;
  EXPECT_FALSE(perDecode("BF FF 00 41", wide));
  EXPECT_TRUE(wide.empty());
  ASN1::BIT_STRING bits;
  EXPECT_FALSE(perDecode("BF FF FF", bits));
  EXPECT_EQ(bits.size(), 0u);
  ASN1::OBJECT_IDENTIFIER oid;
  EXPECT_FALSE(perDecode("05 2A 86", oid));
  EXPECT_TRUE(perDecode("02 2A 03", oid));  // contents end at the input's end
  ASN1::GeneralizedTime time;
  EXPECT_FALSE(perDecode("7F 32 30", time));
  ASN1::OpenData open;
  EXPECT_FALSE(perDecode("80 FF 01", open));
  EXPECT_FALSE(open.has_buf());
}

TEST(PerHostile, OpenTypesPastTheEndFail) {
  PT::Body body;
  EXPECT_FALSE(perDecode("80 05 80", body));  // known extension alternative
  EXPECT_FALSE(perDecode("81 05 80", body));  // unknown extension alternative
  PT::Envelope e;
  EXPECT_FALSE(perDecode("81 80 01 05 01 01", e));                 // known addition
  EXPECT_FALSE(perDecode("81 80 01 05 05 40 01 40 05 AB CD", e));  // unknown addition
  PT::Kitchen k;
  PT::fillKitchen(k);
  std::vector<char> wire;
  ASSERT_TRUE(perEncode(k, wire));
  // The typed open field's length is the octet after the open field's content.
  std::string hex = hexOf(wire);
  const std::size_t at = hex.find("03 01 02 03 ");
  ASSERT_NE(at, std::string::npos);
  hex.replace(at + 12, 2, "7F");
  PT::Kitchen back;
  EXPECT_FALSE(perDecode(hex, back));
}

TEST(PerHostile, CountsAboveTheLocalLimitsFail) {
  ASN1::SEQUENCE_OF<ASN1::Null> nulls;
  EXPECT_TRUE(perDecode("80 80", nulls));
  EXPECT_EQ(nulls.size(), 128u);
  ASN1::SEQUENCE_OF<ASN1::Null> more;
  EXPECT_FALSE(perDecode("80 81", more));
  EXPECT_FALSE(perDecode("BF FF", more));
  EXPECT_TRUE(more.empty());

  ASN1::OCTET_STRING big(&kOctetsTo20000);
  EXPECT_FALSE(perDecode("4E 20", big));  // 20000 octets: above the string limit
  std::string at16384 = "40 00";
  for (int i = 0; i < 16384; ++i) at16384 += " 5A";
  EXPECT_TRUE(perDecode(at16384, big));
  EXPECT_EQ(big.size(), 16384u);

  // An extension map of 129 bits: small number 128.
  PT::Envelope e;
  std::string map = "81 80 01 05 80 01 80";
  for (int i = 0; i < 17; ++i) map += " FF";
  EXPECT_FALSE(perDecode(map, e));
  // A small number of five octets cannot be held.
  PT::Cause c;
  EXPECT_FALSE(perDecode("C0 05 01 02 03 04 05", c));
}

TEST(PerHostile, FuzzSeedsSurvive) {
  const char* const inputs[] = {"",
                                "00",
                                "FF",
                                "80 FF FF FF",
                                "C0 C0 C0 C0",
                                "7F 7F 7F 7F 7F 7F 7F 7F",
                                "41 BF FF 00",
                                "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF"};
  for (const char* hex : inputs) {
    expectStableIfDecoded<PT::Top>(bytesOf(hex));
    expectStableIfDecoded<PT::Envelope>(bytesOf(hex));
    expectStableIfDecoded<PT::Kitchen>(bytesOf(hex));
  }
}

}  // namespace
