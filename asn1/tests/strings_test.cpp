#include "asn1/asn1.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<char> octets(std::initializer_list<unsigned> values) {
  std::vector<char> out;
  for (unsigned v : values) out.push_back(static_cast<char>(v));
  return out;
}

ASN1::OBJECT_IDENTIFIER oid(std::initializer_list<unsigned> arcs) {
  ASN1::OBJECT_IDENTIFIER id;
  for (unsigned a : arcs) id.append(a);
  return id;
}

TEST(ObjectIdentifier, ContentsBothWays) {
  struct Case {
    std::vector<unsigned> arcs;
    std::vector<char> contents;
  } const cases[] = {
      {{1, 2, 840, 113549}, octets({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D})},
      {{2, 268435376}, octets({0x81, 0x80, 0x80, 0x80, 0x00})},
      {{0, 39}, octets({0x27})},
      {{1, 0, 127, 128}, octets({0x28, 0x7F, 0x81, 0x00})},
      {{1, 3, 0xFFFFFFFFu}, octets({0x2B, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F})},
  };
  for (const Case& c : cases) {
    ASN1::OBJECT_IDENTIFIER id;
    id.assign(c.arcs);
    std::vector<char> out;
    id.encodeCommon(out);
    EXPECT_EQ(out, c.contents);

    ASN1::OBJECT_IDENTIFIER back;
    ASSERT_TRUE(back.decodeCommon(c.contents.data(), unsigned(c.contents.size())));
    EXPECT_EQ(back.arcs(), c.arcs);
    EXPECT_EQ(back, id);
  }
}

TEST(ObjectIdentifier, BadContents) {
  ASN1::OBJECT_IDENTIFIER id;
  const std::vector<char> cut = octets({0x83});
  EXPECT_FALSE(id.decodeCommon(cut.data(), 1));
  const std::vector<char> cutLater = octets({0x2A, 0x86});
  EXPECT_FALSE(id.decodeCommon(cutLater.data(), 2));
  EXPECT_EQ(id.levels(), 2u);  // arcs read before the cut stay

  // 2^32 does not fit an arc.
  const std::vector<char> tooBig = octets({0x2A, 0x90, 0x80, 0x80, 0x80, 0x00});
  EXPECT_FALSE(id.decodeCommon(tooBig.data(), unsigned(tooBig.size())));
  const std::vector<char> longZero = octets({0x2A, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01});
  EXPECT_TRUE(id.decodeCommon(longZero.data(), unsigned(longZero.size())));
  EXPECT_EQ(id[2], 1u);

  EXPECT_TRUE(id.decodeCommon(nullptr, 0));
  EXPECT_EQ(id.levels(), 0u);

  std::vector<char> out;
  oid({1}).encodeCommon(out);
  EXPECT_TRUE(out.empty());
}

TEST(ObjectIdentifier, Order) {
  EXPECT_LT(oid({1, 2, 3}).compare(oid({1, 2, 4})), 0);
  EXPECT_LT(oid({1, 2}).compare(oid({1, 2, 0})), 0);
  EXPECT_GT(oid({1, 0xFFFFFFFFu}).compare(oid({1, 1})), 0);
  EXPECT_EQ(oid({1, 2}).compare(oid({1, 2})), 0);
}

TEST(GeneralizedTime, Texts) {
  struct Case {
    ASN1::GeneralizedTime time;
    const char* text;
  } const cases[] = {
      {ASN1::GeneralizedTime(2024, 1, 2, 3, 4, 5, 0, 0, false), "20240102030405"},
      {ASN1::GeneralizedTime(2024, 1, 2, 3, 4, 5, 7, 0, true), "20240102030405.007Z"},
      {ASN1::GeneralizedTime(2024, 1, 2, 3, 4, 5, 0, 90, false), "20240102030405+0130"},
      {ASN1::GeneralizedTime(2024, 1, 2, 3, 4, 5, 0, -90, false), "20240102030405-0130"},
      {ASN1::GeneralizedTime(2024, 1, 2, 3, 4, 5, 0, -30, false), "20240102030405-0030"},
      {ASN1::GeneralizedTime(2024, 1, 2, 3, 4, 5, 0, 90, true), "20240102030405Z"},
      {ASN1::GeneralizedTime(), "00010101000000"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.time.get(), c.text);
}

TEST(GeneralizedTime, ReadText) {
  ASN1::GeneralizedTime t("20240102030405.25-0130");
  EXPECT_EQ(t.getYear(), 2024);
  EXPECT_EQ(t.getMonth(), 1);
  EXPECT_EQ(t.getDay(), 2);
  EXPECT_EQ(t.getHour(), 3);
  EXPECT_EQ(t.getMinute(), 4);
  EXPECT_EQ(t.getSecond(), 5);
  EXPECT_EQ(t.getMillisec(), 250);
  EXPECT_EQ(t.getMinuteDifference(), -90);
  EXPECT_FALSE(t.getUTC());

  ASN1::GeneralizedTime z("19991231235959.9999Z");
  EXPECT_EQ(z.getMillisec(), 999);
  EXPECT_TRUE(z.getUTC());
  EXPECT_EQ(z.get(), "19991231235959.999Z");

  // What the text does not carry stays as it was.
  ASN1::GeneralizedTime partial(2000, 6, 7, 8, 9, 10, 11, 12, false);
  EXPECT_EQ(partial.set("2001"), -1);
  EXPECT_EQ(partial.getYear(), 2001);
  EXPECT_EQ(partial.getMonth(), 6);
  EXPECT_EQ(partial.getMillisec(), 11);
  EXPECT_EQ(partial.getMinuteDifference(), 12);
  EXPECT_EQ(partial.set(""), -1);
  EXPECT_EQ(partial.getYear(), 2001);
}

TEST(GeneralizedTime, EpochSecondsAreUtc) {
  ASN1::GeneralizedTime t(2024, 1, 2, 3, 4, 5, 0, 0, false);
  EXPECT_EQ(t.get_time_t(), 1704164645);
  ASN1::GeneralizedTime back;
  back.set_time_t(1704164645);
  EXPECT_EQ(back.get(), "20240102030405");
  EXPECT_EQ(ASN1::GeneralizedTime(1970, 1, 1, 0, 0, 0, 0, 0, true).get_time_t(), 0);
}

TEST(GeneralizedTime, Order) {
  ASN1::GeneralizedTime a(2024, 1, 2, 3, 4, 5, 0, 0, false);
  ASN1::GeneralizedTime later(2024, 1, 2, 3, 4, 5, 1, 0, false);
  ASN1::GeneralizedTime utc(2024, 1, 2, 3, 4, 5, 0, 0, true);
  ASN1::GeneralizedTime offset(2024, 1, 2, 3, 4, 5, 0, 60, false);
  EXPECT_LT(a.compare(later), 0);
  EXPECT_LT(a.compare(utc), 0);
  EXPECT_EQ(a.compare(offset), 0);
  std::unique_ptr<ASN1::AbstractData> copy(later.clone());
  EXPECT_EQ(*copy, later);
}

TEST(BitString, BitsAndOctets) {
  ASN1::BIT_STRING b;
  b.resize(9);
  EXPECT_EQ(b.size(), 9u);
  EXPECT_EQ(b.getData().size(), 2u);
  b.set(8);
  EXPECT_EQ(static_cast<unsigned char>(b.getData()[1]), 0x80u);
  EXPECT_TRUE(b[8]);
  EXPECT_FALSE(b[9]);
  b.set(9);
  EXPECT_EQ(static_cast<unsigned char>(b.getData()[1]), 0x80u);
  b.set(0);
  b.clear(8);
  EXPECT_EQ(static_cast<unsigned char>(b.getData()[0]), 0x80u);
  EXPECT_FALSE(b[8]);
}

TEST(BitString, BitsCutOffByAShrinkStayCleared) {
  ASN1::BIT_STRING b;
  b.resize(8);
  for (unsigned i = 0; i < 8; ++i) b.set(i);
  b.resize(3);
  ASN1::BIT_STRING fresh;
  fresh.resize(3);
  for (unsigned i = 0; i < 3; ++i) fresh.set(i);
  EXPECT_EQ(b, fresh);
  b.resize(8);
  EXPECT_TRUE(b[2]);
  EXPECT_FALSE(b[3]);
  EXPECT_FALSE(b[7]);
  EXPECT_EQ(static_cast<unsigned char>(b.getData()[0]), 0xE0u);

  ASN1::BIT_STRING padded;  // three bits as a peer may send them
  padded.resize(3);
  padded.getData()[0] = static_cast<char>(0xBF);
  padded.resize(9);
  EXPECT_TRUE(padded[2]);
  EXPECT_FALSE(padded[3]);
}

TEST(BitString, Order) {
  ASN1::BIT_STRING a, b;
  a.resize(8);
  b.resize(8);
  a.set(1);
  b.set(2);
  EXPECT_GT(a.compare(b), 0);
  EXPECT_LT(b.compare(a), 0);
  b.clear(2);
  b.set(1);
  EXPECT_EQ(a.compare(b), 0);
  b.resize(12);
  EXPECT_LT(a.compare(b), 0);
}

TEST(OctetString, UnsignedOrder) {
  ASN1::OCTET_STRING high(octets({0x80}));
  ASN1::OCTET_STRING low(octets({0x7F}));
  EXPECT_GT(high.compare(low), 0);
  EXPECT_LT(ASN1::OCTET_STRING(octets({1, 2})).compare(ASN1::OCTET_STRING(octets({1, 2, 0}))), 0);
  EXPECT_EQ(ASN1::OCTET_STRING(3, 'a').compare(ASN1::OCTET_STRING(octets({'a', 'a', 'a'}))), 0);
  EXPECT_EQ(static_cast<std::string>(ASN1::OCTET_STRING(2, 'z')), "zz");

  ASN1::OCTET_STRING s;
  s = octets({9, 8});
  std::unique_ptr<ASN1::AbstractData> copy(s.clone());
  EXPECT_TRUE(*copy == s);
}

TEST(CharacterStrings, PermittedCharacters) {
  ASN1::AbstractString printable(&ASN1::PrintableString::theInfo, "ab*c");
  EXPECT_EQ(printable.find_first_invalid(), 2);
  printable.assign("abc");
  EXPECT_EQ(printable.find_first_invalid(), -1);
  EXPECT_EQ(printable.getTag(), 19);
  EXPECT_EQ(printable.getCharacterSetSize(), 74u);
  EXPECT_EQ(printable.getNumBits(true), 8u);
  EXPECT_EQ(printable.getNumBits(false), 7u);

  ASN1::AbstractString numeric(&ASN1::NumericString::theInfo, "12 3x");
  EXPECT_EQ(numeric.find_first_invalid(), 4);

  ASN1::IA5String ia5(std::string("ok\x7F"));
  EXPECT_EQ(ia5.find_first_invalid(), -1);
  ia5 = std::string("\xC3");
  EXPECT_EQ(ia5.find_first_invalid(), 0);
  ASN1::AbstractString general(&ASN1::GeneralString::theInfo, "\xC3\xFF");
  EXPECT_EQ(general.find_first_invalid(), -1);
  ASN1::AbstractString visible(&ASN1::VisibleString::theInfo, "~ \t");
  EXPECT_EQ(visible.find_first_invalid(), 2);

  std::ostringstream os;
  os << ASN1::IA5String("text");
  EXPECT_EQ(os.str(), "text");
}

TEST(CharacterStrings, CloneKeepsClassAndRecord) {
  ASN1::IA5String s("abc");
  std::unique_ptr<ASN1::AbstractData> copy(s.clone());
  ASSERT_NE(dynamic_cast<ASN1::IA5String*>(copy.get()), nullptr);
  EXPECT_EQ(copy->info(), &ASN1::IA5String::theInfo);
  EXPECT_EQ(*copy, s);
  EXPECT_LT(ASN1::IA5String("abc").compare(ASN1::IA5String("abd")), 0);
  EXPECT_LT(ASN1::IA5String("ab").compare(ASN1::IA5String("abc")), 0);
}

TEST(BmpString, LegalCharacters) {
  static const ASN1::BMPString::InfoType digits = {
      &ASN1::BMPString::create, 30, ASN1::Unconstrained, 0, 0xFFFFFFFFu, L'0', L'9', 4, 4};
  ASN1::BMPString s(L"12a4", &digits);
  EXPECT_EQ(s.first_illegal_at(), 2u);
  s.assign(L"1234", 4);
  EXPECT_EQ(s.first_illegal_at(), 4u);
  ASN1::BMPString any(L"\x263A");
  EXPECT_EQ(any.first_illegal_at(), 1u);
  EXPECT_EQ(any.getNumBits(true), 16u);
  EXPECT_LT(ASN1::BMPString(L"a").compare(ASN1::BMPString(L"b")), 0);
}

}  // namespace
