#include "asn1/avn_decoder.h"

#include "asn1/testing/per_samples.h"
#include "asn1/tests/kinds_schema.h"

#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <sstream>
#include <string>

namespace {

// Writes v, reads the text into a fresh value of v's type and writes that.
void expectRoundTrip(const ASN1::AbstractData& v) {
  const std::string text = v.asValueNotation();
  SCOPED_TRACE(text);
  std::unique_ptr<ASN1::AbstractData> back(ASN1::AbstractData::create(v.info()));
  ASSERT_TRUE(back);
  ASSERT_TRUE(back->setFromValueNotation(text));
  EXPECT_EQ(back->asValueNotation(), text);
  EXPECT_EQ(*back, v);
}

TEST(AvnDecoder, EveryKindOfValueReadsBackWhatTheWriterWrote) {
  KS::Everything full;
  KS::fillAll(full);
  expectRoundTrip(full);

  KS::Everything bare;  // optional fields and additions absent, sparse values
  bare.ref<ASN1::INTEGER>(KS::Everything::number) = -2147483647 - 1;
  bare.ref<TS::Colour>(KS::Everything::colour).setFromInt(TS::Colour::violet);
  bare.ref<ASN1::OBJECT_IDENTIFIER>(KS::Everything::oid).append(0);
  expectRoundTrip(bare);

  KS::Everything middle;  // the second addition alone, a named sparse value
  middle.ref<ASN1::OBJECT_IDENTIFIER>(KS::Everything::oid).append(2);
  middle.ref<ASN1::OCTET_STRING>(KS::Everything::blob);
  middle.ref<TS::ErrorCause>(KS::Everything::cause) = TS::ErrorCause::hardware;
  middle.ref<TS::Pdu>(KS::Everything::pdu).select_command() = -7;
  middle.ref<KS::Numbers>(KS::Everything::numbers);
  expectRoundTrip(middle);

  TS::ErrorCause unnamed;  // no enumerator has this value
  unnamed.setFromInt(5);
  expectRoundTrip(unnamed);
  TS::Colour past;  // past the last value of a closed type, as the decoders keep it
  past.setFromInt(3);
  expectRoundTrip(past);

  ASN1::GeneralizedTime west(2024, 1, 2, 3, 4, 5, 250, -90, false);
  expectRoundTrip(west);

  TS::Batch batch;
  TS::Message m;
  m.set_seq(7);
  m.ref_pdu().select(TS::Pdu::signal_id);
  batch.ref_list().push_back(m);
  batch.ref_list().push_back(m);
  expectRoundTrip(batch);

  TS::Empty empty;
  expectRoundTrip(empty);

  // Open types, a typed open type, named numbers and wide characters.
  PT::Kitchen kitchen;
  PT::fillKitchen(kitchen);
  expectRoundTrip(kitchen);
  ASN1::IntegerWithNamedNumber named(7, &PT::Named::theInfo);
  expectRoundTrip(named);
}

TEST(AvnDecoder, TheNestedExampleOfTheWriter) {
  static const ASN1::AbstractData::InfoType* const commandFields[1] = {&KS::Numbers::theInfo};
  static const std::int32_t commandIds[1] = {0};
  static const char* const commandNames[1] = {"trunks"};
  static const ASN1::SEQUENCE::InfoType command = {
      &ASN1::SEQUENCE::create, 0x10, false, commandFields, commandIds, 1, 0, 1, nullptr, nullptr, commandNames};
  static const ASN1::AbstractData::InfoType* const alternatives[1] = {&command};
  static const char* const alternativeNames[1] = {"command"};
  static const ASN1::CHOICE::InfoType pdu = {&ASN1::CHOICE::create, 0, false, alternatives, 1, 1, nullptr,
                                             alternativeNames};
  static const ASN1::AbstractData::InfoType* const fields[2] = {&ASN1::INTEGER::theInfo, &pdu};
  static const std::int32_t ids[2] = {-1, -1};
  static const char* const names[2] = {"seq", "pdu"};
  static const ASN1::SEQUENCE::InfoType message = {
      &ASN1::SEQUENCE::create, 0x10, false, fields, ids, 2, 0, 0, nullptr, nullptr, names};

  const std::string text = "{\n  seq 7,\n  pdu command : {\n    trunks {\n      1,\n      2\n    }\n  }\n}";
  ASN1::SEQUENCE v(&message);
  ASSERT_TRUE(v.setFromValueNotation(text));
  EXPECT_EQ(v.asValueNotation(), text);
}

TEST(AvnDecoder, SequencesTakeTheirFieldsInOrder) {
  const struct {
    const char* text;
    bool ok;
  } cases[] = {
      {"{}", true},
      {"{ }", true},
      {"{ a 1, b TRUE }", true},
      {"{ b TRUE, }", true},  // trailing comma before the brace
      {"{ a 1, }", false},    // b is mandatory
      {"{ b TRUE, a 1 }", false},
      {"{ b TRUE, q 1 }", false},
      {"{ b TRUE x 7 }", false},
      {"{ b TRUE", false},
      {"{ b TRUE, x 3, z FALSE }", true},
      {"a 1", false},
  };
  for (const auto& c : cases) {
    TS::Params p;
    EXPECT_EQ(p.setFromValueNotation(c.text), c.ok) << c.text;
  }

  TS::Params p;
  ASSERT_TRUE(p.setFromValueNotation("{ b TRUE, x 3, z FALSE }"));
  EXPECT_FALSE(p.hasOptionalField(0));
  EXPECT_TRUE(p.hasOptionalField(2));
  EXPECT_FALSE(p.hasOptionalField(3));
  EXPECT_TRUE(p.hasOptionalField(4));
}

TEST(AvnDecoder, FieldsTheTextLeavesOutAreAbsent) {
  TS::Params p;
  ASSERT_TRUE(p.setFromValueNotation("{ a 1, b TRUE, x 3, z FALSE }"));
  ASSERT_TRUE(p.setFromValueNotation("{ b FALSE }"));
  EXPECT_FALSE(p.hasOptionalField(0));
  EXPECT_FALSE(p.hasOptionalField(2));
  EXPECT_FALSE(p.hasOptionalField(4));
  TS::Params fresh;
  ASSERT_TRUE(fresh.setFromValueNotation("{ b FALSE }"));
  EXPECT_EQ(p, fresh);
  EXPECT_EQ(p.asValueNotation(), fresh.asValueNotation());

  ASSERT_TRUE(p.setFromValueNotation("{ a 1, b FALSE, z TRUE }"));
  ASSERT_TRUE(p.setFromValueNotation("{}"));
  EXPECT_EQ(p, TS::Params());
}

TEST(AvnDecoder, DigitStrings) {
  const struct {
    const char* text;
    bool ok;
    std::vector<char> octets;
  } cases[] = {
      {"'0A 1b'H", true, {'\x0a', '\x1b'}},
      {"'0A1'H", true, {'\x0a', '\x10'}},
      {"''H", true, {}},
      {"'101'B", true, {'\xa0'}},
      {"'1111 0000\n1'B", true, {'\xf0', '\x80'}},
      {"'G1'H", false, {}},
      {"'-1'H", false, {}},
      {"'12'B", false, {}},
      {"'12'X", false, {}},
      {"'12", false, {}},
      {"12'H", false, {}},
  };
  for (const auto& c : cases) {
    ASN1::OCTET_STRING v;
    EXPECT_EQ(v.setFromValueNotation(c.text), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(static_cast<const std::vector<char>&>(v), c.octets) << c.text;
    }
  }

  ASN1::BIT_STRING bits;
  ASSERT_TRUE(bits.setFromValueNotation("'A'H"));
  EXPECT_EQ(bits.size(), 4u);  // four bits per hexadecimal digit
  EXPECT_TRUE(bits[0]);
  EXPECT_FALSE(bits[1]);
}

TEST(AvnDecoder, ScalarTexts) {
  ASN1::OBJECT_IDENTIFIER a, b, c, bad;
  ASSERT_TRUE(a.setFromValueNotation("{ 1 2 840 }"));
  ASSERT_TRUE(b.setFromValueNotation("{ iso(1) member-body(2) 840 }"));
  ASSERT_TRUE(c.setFromValueNotation("{ iso (1) 2 840 }"));
  EXPECT_EQ(a.arcs(), (std::vector<unsigned>{1, 2, 840}));
  EXPECT_EQ(b.arcs(), a.arcs());
  EXPECT_EQ(c.arcs(), a.arcs());
  EXPECT_FALSE(bad.setFromValueNotation("{ 1 99999999999 }"));
  EXPECT_FALSE(ASN1::OBJECT_IDENTIFIER().setFromValueNotation("{ 1 iso }"));

  ASN1::BOOLEAN flag(true);
  EXPECT_TRUE(flag.setFromValueNotation("FALSE"));
  EXPECT_FALSE(flag);
  EXPECT_FALSE(flag.setFromValueNotation("TRUER"));
  EXPECT_FALSE(ASN1::Null().setFromValueNotation("NUL"));

  ASN1::INTEGER n(9, &TS::SlotNumber::theInfo);
  EXPECT_FALSE(n.setFromValueNotation("-1"));
  EXPECT_FALSE(n.setFromValueNotation("x"));
  EXPECT_EQ(n.getValue(), 9);
  EXPECT_FALSE(ASN1::INTEGER().setFromValueNotation("99999999999"));

  TS::ErrorCause e;
  EXPECT_TRUE(e.setFromValueNotation("unexpected-command"));
  EXPECT_EQ(e, TS::ErrorCause::unexpected_command);
  EXPECT_FALSE(e.setFromValueNotation("no-such-cause"));

  TS::Pdu pdu;
  EXPECT_FALSE(pdu.setFromValueNotation("nothing : NULL"));
  EXPECT_FALSE(pdu.setFromValueNotation("signal NULL"));
  EXPECT_TRUE(pdu.setFromValueNotation("signal:NULL"));

  ASN1::BMPString wide;
  EXPECT_TRUE(wide.setFromValueNotation("\"plain\""));
  EXPECT_EQ(wide, std::wstring(L"plain"));
  ASSERT_TRUE(wide.setFromValueNotation("{{ 0, 0, 4, 22}, { 0, 0, 0, 65}}"));
  EXPECT_EQ(wide, std::wstring(L"\u0416A"));
  for (const char* bad : {"{{ 0, 0, 4, 22}", "{{ 0, 1, 4, 22}}", "{{ 0, 0, 256, 0}}", "{ 0, 0, 4, 22}", "{{ 0, 0, 4}}"})
    EXPECT_FALSE(ASN1::BMPString().setFromValueNotation(bad)) << bad;

  ASN1::IA5String s;
  EXPECT_FALSE(s.setFromValueNotation("\"unterminated"));

  ASN1::GeneralizedTime time;
  EXPECT_FALSE(time.setFromValueNotation("\"2024\""));
  EXPECT_TRUE(time.setFromValueNotation("\"20240102030405Z\""));

  ASN1::OpenData open;
  EXPECT_FALSE(open.setFromValueNotation("NULL"));
  ASSERT_TRUE(open.setFromValueNotation("'01 ff'H"));
  ASSERT_TRUE(open.has_buf());
  EXPECT_EQ(open.get_buf(), (std::vector<char>{'\x01', '\xff'}));

  ASN1::IntegerWithNamedNumber named(&PT::Named::theInfo);
  ASSERT_TRUE(named.setFromValueNotation("ten"));
  EXPECT_EQ(named.getValue(), 10);
  ASSERT_TRUE(named.setFromValueNotation("-3"));
  EXPECT_EQ(named.getValue(), -3);
  EXPECT_FALSE(named.setFromValueNotation("eleven"));
}

TEST(AvnDecoder, QuotesInsideStringsReadBack) {
  // The writer doubles a quote inside a string; the reader takes two in a
  // row as one, wherever the string stands.
  const struct {
    std::string value;
    std::string text;
  } cases[] = {
      {"", R"("")"},
      {R"(")", R"("""")"},
      {R"("")", R"("""""")"},
      {R"(say "hi")", R"("say ""hi""")"},
      {R"("lead)", R"("""lead")"},
      {R"(trail")", R"("trail""")"},
      {R"(", flag TRUE)", R"(""", flag TRUE")"},  // a field separator inside
      {R"("})", R"("""}")"},                      // a closing brace inside
      {R"('"'H)", R"("'""'H")"},
  };
  typedef ASN1::SEQUENCE_OF<ASN1::IA5String> Texts;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const ASN1::IA5String s(c.value);
    EXPECT_EQ(s.asValueNotation(), c.text);
    ASN1::IA5String back("old");
    ASSERT_TRUE(back.setFromValueNotation(c.text));
    EXPECT_EQ(static_cast<const std::string&>(back), c.value);
    expectRoundTrip(s);

    ASN1::BMPString wide;
    const std::wstring w(c.value.begin(), c.value.end());
    wide.assign(w.data(), w.size());
    EXPECT_EQ(wide.asValueNotation(), c.text);
    expectRoundTrip(wide);

    // Inside a SEQUENCE, followed by more fields, and in a list.
    KS::Everything full;
    KS::fillAll(full);
    full.ref<ASN1::IA5String>(KS::Everything::text) = c.value;
    full.ref<ASN1::BMPString>(KS::Everything::wide).assign(w.data(), w.size());
    expectRoundTrip(full);
    Texts texts;
    texts.push_back(s);
    texts.push_back(s);
    expectRoundTrip(texts);
  }
}

TEST(AvnDecoder, QuotedTextsThatDoNotEnd) {
  for (const char* text : {R"(")", R"("a"")", R"(""""")", R"("a""b)"}) {
    ASN1::IA5String s;
    EXPECT_FALSE(s.setFromValueNotation(text)) << text;
  }
  // A string at the end of the input leaves the stream good.
  std::istringstream in(R"("a""b")");
  ASN1::IA5String s;
  in >> s;
  EXPECT_TRUE(in.good());
  EXPECT_EQ(static_cast<const std::string&>(s), R"(a"b)");
}

TEST(AvnDecoder, StreamExtraction) {
  std::istringstream in("  { seq 7, pdu command : 3 } rest");
  TS::Message m;
  in >> m;
  EXPECT_TRUE(in.good());
  EXPECT_EQ(m.get_seq().getValue(), 7);
  std::string rest;
  in >> rest;
  EXPECT_EQ(rest, "rest");

  std::istringstream bad("{ pdu oops : 1 }");
  bad >> m;
  EXPECT_TRUE(bad.fail());

  std::istringstream closed("{}");
  closed.setstate(std::ios_base::eofbit);
  TS::Message untouched;
  closed >> untouched;
  EXPECT_EQ(closed.rdstate(), std::ios_base::eofbit);

  std::istringstream throwing("{ pdu oops : 1 }");
  throwing.exceptions(std::ios_base::failbit);
  EXPECT_THROW(throwing >> m, std::ios_base::failure);
}

TEST(AvnDecoder, CoderEnvironmentServesRuleZero) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::avn);
  KS::Everything full;
  KS::fillAll(full);
  std::vector<char> text;
  ASSERT_TRUE(ASN1::encode(full, &env, std::back_inserter(text)));
  EXPECT_EQ(std::string(text.begin(), text.end()), full.asValueNotation());

  KS::Everything back;
  ASSERT_TRUE(ASN1::decode(text.data(), text.data() + text.size(), &env, back, false));
  EXPECT_EQ(back, full);

  const std::string broken = "{ nothing NULL, flag MAYBE }";
  KS::Everything partial;
  EXPECT_FALSE(ASN1::decode(broken.data(), broken.data() + broken.size(), &env, partial, true));
}

}  // namespace
