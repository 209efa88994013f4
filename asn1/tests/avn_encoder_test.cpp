#include "asn1/testing/per_samples.h"
#include "asn1/tests/coder_test_util.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace coder_test;
typedef ASN1::SEQUENCE_OF<ASN1::INTEGER> Trunks;

// Cmd ::= SEQUENCE { trunks SEQUENCE OF INTEGER OPTIONAL }
const ASN1::AbstractData::InfoType* const kCmdFields[1] = {&Trunks::theInfo};
const std::int32_t kCmdIds[1] = {0};
const char* const kCmdNames[1] = {"trunks"};
const ASN1::SEQUENCE::InfoType kCmd = {
    &ASN1::SEQUENCE::create, 0x10, false, kCmdFields, kCmdIds, 1, 0, 1, nullptr, nullptr, kCmdNames};
// Pdu ::= CHOICE { command Cmd }
const ASN1::AbstractData::InfoType* const kPduAlternatives[1] = {&kCmd};
const char* const kPduNames[1] = {"command"};
const ASN1::CHOICE::InfoType kPdu = {&ASN1::CHOICE::create, 0, false, kPduAlternatives, 1, 1, nullptr, kPduNames};
// Msg ::= SEQUENCE { seq INTEGER, pdu Pdu }
const ASN1::AbstractData::InfoType* const kMsgFields[2] = {&ASN1::INTEGER::theInfo, &kPdu};
const std::int32_t kMsgIds[2] = {-1, -1};
const char* const kMsgNames[2] = {"seq", "pdu"};
const ASN1::SEQUENCE::InfoType kMsg = {
    &ASN1::SEQUENCE::create, 0x10, false, kMsgFields, kMsgIds, 2, 0, 0, nullptr, nullptr, kMsgNames};

std::string text(const ASN1::AbstractData& v) {
  std::ostringstream os;
  os << v;
  return os.str();
}

TEST(ValueNotation, NestedMessageLayout) {
  ASN1::SEQUENCE msg(&kMsg);
  field<ASN1::INTEGER>(msg, 0).setValue(7);
  ASN1::SEQUENCE& cmd = choose<ASN1::SEQUENCE>(field<ASN1::CHOICE>(msg, 1), 0);
  Trunks& trunks = include<Trunks>(cmd, 0, 0);
  trunks.push_back(ASN1::INTEGER(1));
  trunks.push_back(ASN1::INTEGER(2));
  EXPECT_EQ(text(msg),
            "{\n"
            "  seq 7,\n"
            "  pdu command : {\n"
            "    trunks {\n"
            "      1,\n"
            "      2\n"
            "    }\n"
            "  }\n"
            "}");
  EXPECT_EQ(msg.asValueNotation(), text(msg));
}

TEST(ValueNotation, EmptyConstructs) {
  ASN1::SEQUENCE cmd(&kCmd);
  EXPECT_EQ(text(cmd), "{\n}");
  EXPECT_EQ(text(Trunks()), "{\n}");
  ASN1::SEQUENCE msg(&kMsg);
  choose<ASN1::SEQUENCE>(field<ASN1::CHOICE>(msg, 1), 0);
  EXPECT_EQ(text(msg), "{\n  seq 0,\n  pdu command : {\n  }\n}");
}

TEST(ValueNotation, AbsentOptionalFieldsLeaveNoTrace) {
  PT::Item item;
  field<ASN1::AbstractString>(item, PT::Item::name) = std::string("a");
  EXPECT_EQ(text(item), "{\n  name \"a\",\n  flag FALSE\n}");
}

TEST(ValueNotation, Scalars) {
  ASN1::OBJECT_IDENTIFIER oid;
  oid.assign({1, 2, 840});
  ASN1::BIT_STRING bits;
  bits.resize(3);
  bits.set(0);
  bits.set(2);
  PT::Mode mode;
  mode.setFromInt(PT::Mode::busy);
  PT::Mode odd;
  odd.setFromInt(7);
  PT::Cause extended;
  extended.setFromInt(-4);
  const struct {
    const ASN1::AbstractData& value;
    const char* text;
  } cases[] = {
      {ASN1::Null(), "NULL"},
      {ASN1::BOOLEAN(true), "TRUE"},
      {ASN1::INTEGER(-5), "-5"},
      {ASN1::INTEGER(-1, &PT::U32::theInfo), "4294967295"},
      {ASN1::INTEGER(-1, &PT::S8::theInfo), "-1"},
      {ASN1::IntegerWithNamedNumber(10, &PT::Named::theInfo), "ten"},
      {ASN1::IntegerWithNamedNumber(11, &PT::Named::theInfo), "11"},
      {mode, "busy"},
      {odd, "7"},
      {extended, "-4"},
      {oid, "{ 1 2 840 }"},
      {ASN1::OBJECT_IDENTIFIER(), "{ }"},
      {bits, "'101'B"},
      {ASN1::OCTET_STRING(std::vector<char>{'\x01', '\xA0', '\xFF'}), "'01 a0 ff'H"},
      {ASN1::OCTET_STRING(), "''H"},
      {ASN1::IA5String("say \"hi\""), "\"say \"\"hi\"\"\""},
      {ASN1::GeneralizedTime(2024, 1, 2, 3, 4, 5, 0, 0, true), "\"20240102030405Z\""},
      {ASN1::BMPString(L"Hi"), "\"Hi\""},
      {ASN1::BMPString(L"\x0416"
                       L"A"),
       "{{ 0, 0, 4, 22}, { 0, 0, 0, 65}}"},
      {ASN1::BMPString(std::wstring(L"a\0b", 3)), "{{ 0, 0, 0, 97}, { 0, 0, 0, 0}, { 0, 0, 0, 98}}"},
  };
  for (const auto& c : cases) EXPECT_EQ(text(c.value), c.text);
}

TEST(ValueNotation, OctetStringLeavesTheStreamDecimal) {
  std::ostringstream os;
  os << ASN1::OCTET_STRING(std::vector<char>{'\x00', '\x80'}) << ' ' << 255 << ' ';
  os.width(3);
  os << 7;
  EXPECT_EQ(os.str(), "'00 80'H 255   7");
}

TEST(ValueNotation, OpenValues) {
  ASN1::OpenData held(new ASN1::BOOLEAN(true), &ASN1::OpenData::theInfo);
  EXPECT_EQ(text(held), "TRUE");
  ASN1::OpenData raw;
  raw.grab(new std::vector<char>{'\x0a', '\x0b'});
  EXPECT_EQ(text(raw), "'0a 0b'H");
  std::ostringstream os;
  os << ASN1::OpenData();
  EXPECT_TRUE(os.fail());
}

TEST(ValueNotation, ChoiceWithoutSelectionFailsTheStream) {
  ASN1::SEQUENCE msg(&kMsg);
  std::ostringstream os;
  os << msg;
  EXPECT_EQ(os.str(), "{\n  seq 0,\n  pdu ");
  EXPECT_FALSE(os.good());
  os << ASN1::INTEGER(3);
  EXPECT_EQ(os.str(), "{\n  seq 0,\n  pdu ");
  EXPECT_EQ(msg.print_on(os), std::ios_base::failbit);
  EXPECT_EQ(msg.asValueNotation(), "{\n  seq 0,\n  pdu ");

  PT::Body unknown;
  unknown.select(3);
  EXPECT_EQ(text(unknown), "");
}

TEST(ValueNotation, StreamThatIsNotGoodIsLeftAlone) {
  std::ostringstream os;
  os.setstate(std::ios_base::eofbit);
  os << ASN1::INTEGER(5);
  EXPECT_EQ(os.str(), "");
  EXPECT_EQ(os.rdstate(), std::ios_base::eofbit);
}

TEST(ValueNotation, ExceptionMaskIsHonoured) {
  ASN1::SEQUENCE msg(&kMsg);
  std::ostringstream os;
  os.exceptions(std::ios_base::failbit);
  EXPECT_THROW(os << msg, std::ios_base::failure);
  EXPECT_TRUE(os.fail());
}

TEST(ValueNotation, KnownExtensionsArePrintedLikeRootFields) {
  PT::Envelope e;
  field<ASN1::ENUMERATED>(e, PT::Envelope::cause).setFromInt(13);
  choose<ASN1::BOOLEAN>(field<PT::Body>(e, PT::Envelope::body), PT::Body::flag) = true;
  include<ASN1::AbstractString>(e, 4, PT::Envelope::note) = std::string("n");
  EXPECT_EQ(text(e), "{\n  cause 13,\n  body flag : TRUE,\n  note \"n\"\n}");
}

}  // namespace
