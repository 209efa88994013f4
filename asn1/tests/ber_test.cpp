#include "asn1/ber.h"

#include "asn1/testing/per_samples.h"
#include "asn1/tests/kinds_schema.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes encode(const ASN1::AbstractData& value) {
  std::vector<char> out;
  ASN1::BEREncoder encoder(out);
  EXPECT_TRUE(value.accept(encoder));
  return Bytes(out.begin(), out.end());
}

// Decodes from a buffer of exactly the input's size, so that a read past
// the end is caught by the sanitizers.
bool decode(const Bytes& in, ASN1::AbstractData& value) {
  std::unique_ptr<char[]> buf(new char[in.size() + 1]);
  std::copy(in.begin(), in.end(), buf.get());
  ASN1::BERDecoder decoder(buf.get(), buf.get() + in.size());
  return value.accept(decoder);
}

TEST(BerEncoder, IntegersTakeTheFewestOctetsThatKeepTheSign) {
  const struct {
    int value;
    Bytes bytes;
  } cases[] = {
      {0, {0x02, 0x01, 0x00}},
      {127, {0x02, 0x01, 0x7F}},
      {128, {0x02, 0x02, 0x00, 0x80}},
      {-1, {0x02, 0x01, 0xFF}},
      {-128, {0x02, 0x01, 0x80}},
      {-129, {0x02, 0x02, 0xFF, 0x7F}},
      {0x800000, {0x02, 0x04, 0x00, 0x80, 0x00, 0x00}},
      {-0x7FFFFFFF - 1, {0x02, 0x04, 0x80, 0x00, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    ASN1::INTEGER v(c.value);
    EXPECT_EQ(encode(v), c.bytes);
    ASN1::INTEGER back;
    ASSERT_TRUE(decode(c.bytes, back));
    EXPECT_EQ(back.getValue(), c.value);
  }
}

TEST(BerEncoder, DefiniteLengthsInShortAndLongForm) {
  const struct {
    unsigned size;
    Bytes header;
  } cases[] = {
      {0, {0x04, 0x00}},
      {127, {0x04, 0x7F}},
      {128, {0x04, 0x81, 0x80}},
      {255, {0x04, 0x81, 0xFF}},
      {256, {0x04, 0x82, 0x01, 0x00}},
      {65536, {0x04, 0x83, 0x01, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    ASN1::OCTET_STRING v(c.size, '\x33');
    const Bytes out = encode(v);
    ASSERT_EQ(out.size(), c.header.size() + c.size);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + long(c.header.size())), c.header);
    EXPECT_EQ(ASN1::getObjectLength(v, v.info()->tag), out.size());
    ASN1::OCTET_STRING back;
    ASSERT_TRUE(decode(out, back));
    EXPECT_EQ(back, v);
  }
}

TEST(BerEncoder, BitStringsCarryTheirUnusedBits) {
  ASN1::BIT_STRING eight, three, none;
  eight.resize(8);
  eight.set(0);
  three.resize(3);
  three.set(2);
  EXPECT_EQ(encode(eight), (Bytes{0x03, 0x02, 0x00, 0x80}));
  EXPECT_EQ(encode(three), (Bytes{0x03, 0x02, 0x05, 0x20}));
  EXPECT_EQ(encode(none), (Bytes{0x03, 0x01, 0x00}));
  for (const ASN1::BIT_STRING* v : {&eight, &three, &none}) {
    ASN1::BIT_STRING back;
    back.resize(5);
    ASSERT_TRUE(decode(encode(*v), back));
    EXPECT_EQ(back.size(), v->size());
    EXPECT_EQ(back, *v);
  }
}

TEST(BerEncoder, AutomaticTagsReplaceTheFieldsOwnTags) {
  TS::Message m;
  m.set_slot(5);
  m.ref_pdu().select_command() = 1;
  // slot [1], then pdu [2] as a wrapper around command [0]; the wrapper is
  // primitive or constructed as the alternative is.
  EXPECT_EQ(encode(m), (Bytes{0x30, 0x08, 0x81, 0x01, 0x05, 0x82, 0x03, 0x80, 0x01, 0x01}));

  TS::Batch batch;
  batch.ref_list().push_back(m);
  batch.ref_set().push_back(new ASN1::INTEGER(3));
  const Bytes out = encode(batch);
  // list [0] constructed holding a universal SEQUENCE, set [1] constructed.
  EXPECT_EQ(out[2], 0xA0);
  EXPECT_EQ(out[4], 0x30);
  EXPECT_EQ(out[4 + 2 + 8], 0xA1);
}

TEST(BerEncoder, TopLevelChoiceHasNoHeaderOfItsOwn) {
  TS::Pdu pdu;
  pdu.select_error(TS::ErrorCause::fsm);
  EXPECT_EQ(encode(pdu), (Bytes{0x81, 0x01, 0x20}));
  TS::Pdu back;
  ASSERT_TRUE(decode({0x81, 0x01, 0x20}, back));
  EXPECT_EQ(back.currentSelection(), TS::Pdu::error_id);
  EXPECT_EQ(back.get_error(), TS::ErrorCause::fsm);

  TS::Pdu unselected;
  std::vector<char> out;
  ASN1::BEREncoder encoder(out);
  EXPECT_FALSE(unselected.accept(encoder));
}

TEST(BerEncoder, HighTagNumbersUseBase128Groups) {
  static const ASN1::ConstrainedObject::InfoType bigTag = {&ASN1::INTEGER::create, (0x40u << 16) | 200,
                                                           ASN1::Unconstrained, 0, 0xFFFFFFFFu};
  ASN1::INTEGER v(1, &bigTag);
  EXPECT_EQ(encode(v), (Bytes{0x5F, 0x81, 0x48, 0x01, 0x01}));
  EXPECT_EQ(ASN1::getObjectLength(v, bigTag.tag), 5u);
  ASN1::INTEGER back(&bigTag);
  ASSERT_TRUE(decode({0x5F, 0x81, 0x48, 0x01, 0x01}, back));
  EXPECT_EQ(back.getValue(), 1);
}

TEST(BerCoder, TagTablesOfTheRecords) {
  // CHOICE { number INTEGER, octets OCTET STRING, [3] flag BOOLEAN }, tags sorted.
  static const ASN1::AbstractData::InfoType* const alternatives[3] = {
      &ASN1::INTEGER::theInfo, &ASN1::OCTET_STRING::theInfo, &ASN1::BOOLEAN::theInfo};
  static const std::uint32_t alternativeTags[3] = {0x02, 0x04, 0x800003};
  static const char* const alternativeNames[3] = {"number", "octets", "flag"};
  static const ASN1::CHOICE::InfoType tagged = {&ASN1::CHOICE::create, 0, false, alternatives, 3, 3, alternativeTags,
                                                alternativeNames};
  // SEQUENCE { a INTEGER OPTIONAL, b BOOLEAN, c CHOICE above }, own tags kept.
  static const ASN1::AbstractData::InfoType* const ownFields[3] = {&ASN1::INTEGER::theInfo, &ASN1::BOOLEAN::theInfo,
                                                                   &tagged};
  static const std::int32_t ownIds[3] = {0, -1, -1};
  static const char* const ownNames[3] = {"a", "b", "c"};
  static const ASN1::SEQUENCE::InfoType own = {
      &ASN1::SEQUENCE::create, 0x10, false, ownFields, ownIds, 3, 0, 1, nullptr, &ASN1::SEQUENCE::defaultTag, ownNames};
  // SEQUENCE { x [APPLICATION 3] INTEGER, y [5] OCTET STRING OPTIONAL }
  static const ASN1::AbstractData::InfoType* const explicitFields[2] = {&ASN1::INTEGER::theInfo,
                                                                        &ASN1::OCTET_STRING::theInfo};
  static const std::int32_t explicitIds[2] = {-1, 0};
  static const std::uint32_t explicitTags[2] = {0x400003, 0x800005};
  static const char* const explicitNames[2] = {"x", "y"};
  static const ASN1::SEQUENCE::InfoType listed = {
      &ASN1::SEQUENCE::create, 0x10, false, explicitFields, explicitIds, 2, 0, 1, nullptr, explicitTags, explicitNames};

  ASN1::SEQUENCE withOwnTags(&own);
  withOwnTags.includeOptionalField(0, 0);
  static_cast<ASN1::INTEGER&>(*withOwnTags.getField(0)) = 5;
  static_cast<ASN1::BOOLEAN&>(*withOwnTags.getField(1)) = true;
  ASN1::CHOICE& c = static_cast<ASN1::CHOICE&>(*withOwnTags.getField(2));
  c.select(2);
  // The untagged CHOICE gets no wrapper; its alternative carries [3].
  const Bytes ownBytes{0x30, 0x09, 0x02, 0x01, 0x05, 0x01, 0x01, 0xFF, 0x83, 0x01, 0x00};
  EXPECT_EQ(encode(withOwnTags), ownBytes);
  ASN1::SEQUENCE ownBack(&own);
  ASSERT_TRUE(decode(ownBytes, ownBack));
  EXPECT_EQ(ownBack, withOwnTags);
  ASN1::SEQUENCE withoutA(&own);
  ASSERT_TRUE(decode({0x30, 0x06, 0x01, 0x01, 0x00, 0x04, 0x01, 0x61}, withoutA));
  EXPECT_FALSE(withoutA.hasOptionalField(0));
  EXPECT_EQ(static_cast<const ASN1::CHOICE&>(*withoutA.getField(2)).currentSelection(), 1);

  ASN1::SEQUENCE withTable(&listed);
  static_cast<ASN1::INTEGER&>(*withTable.getField(0)) = 1;
  withTable.includeOptionalField(0, 1);
  const Bytes tableBytes{0x30, 0x05, 0x43, 0x01, 0x01, 0x85, 0x00};
  EXPECT_EQ(encode(withTable), tableBytes);
  ASN1::SEQUENCE tableBack(&listed);
  ASSERT_TRUE(decode(tableBytes, tableBack));
  EXPECT_EQ(tableBack, withTable);
  EXPECT_FALSE(decode({0x30, 0x03, 0x02, 0x01, 0x01}, tableBack));
}

TEST(BerCoder, EveryKindOfValueComesBackEqual) {
  KS::Everything full;
  KS::fillAll(full);

  KS::Everything sparse;  // optional fields and extensions absent
  sparse.ref<TS::Colour>(KS::Everything::colour).setFromInt(TS::Colour::violet);
  sparse.ref<ASN1::OBJECT_IDENTIFIER>(KS::Everything::oid).append(2);
  sparse.ref<ASN1::OBJECT_IDENTIFIER>(KS::Everything::oid).append(5);

  KS::Everything oneExtension;  // only the middle addition
  oneExtension.ref<ASN1::OCTET_STRING>(KS::Everything::blob) = std::vector<char>{'\x01'};

  for (const KS::Everything* v : {&full, &sparse, &oneExtension}) {
    const Bytes out = encode(*v);
    EXPECT_EQ(ASN1::getObjectLength(*v, v->info()->tag), out.size());
    KS::Everything back;
    ASSERT_TRUE(decode(out, back));
    EXPECT_EQ(back, *v);
    EXPECT_EQ(encode(back), out);
  }
}

TEST(BerCoder, OpenTypesAndNamedNumbersComeBackEqual) {
  PT::Top top;
  top.select(PT::Top::kitchen);
  PT::Kitchen& kitchen = static_cast<PT::Kitchen&>(*top.getSelection());
  PT::fillKitchen(kitchen);
  const Bytes out = encode(top);
  // The undecoded octets of the open type go out under its field tag [10].
  const Bytes open{0x8A, 0x03, 0x01, 0x02, 0x03};
  EXPECT_NE(std::search(out.begin(), out.end(), open.begin(), open.end()), out.end());

  PT::Top back;
  ASSERT_TRUE(decode(out, back));
  EXPECT_EQ(back, top);
  const auto& typed = static_cast<const ASN1::OpenData&>(
      *static_cast<const PT::Kitchen&>(*back.getSelection()).getField(PT::Kitchen::typed));
  ASSERT_TRUE(typed.has_data());
  EXPECT_EQ(typed.get_data(), static_cast<const ASN1::OpenData&>(*kitchen.getField(PT::Kitchen::typed)).get_data());

  PT::Top envelope;
  envelope.select(PT::Top::envelope);
  PT::fillEnvelope(static_cast<PT::Envelope&>(*envelope.getSelection()), 16);
  PT::Top again;
  ASSERT_TRUE(decode(encode(envelope), again));
  EXPECT_EQ(again, envelope);
}

TEST(BerDecoder, EveryCutOfAValidEncodingFails) {
  KS::Everything full;
  KS::fillAll(full);
  const Bytes out = encode(full);
  for (std::size_t n = 0; n < out.size(); ++n) {
    KS::Everything back;
    EXPECT_FALSE(decode(Bytes(out.begin(), out.begin() + long(n)), back)) << n;
  }
}

TEST(BerDecoder, MalformedInputFailsCleanly) {
  const struct {
    const char* what;
    Bytes bytes;
  } integerCases[] = {
      {"empty input", {}},
      {"no length octet", {0x02}},
      {"contents past the end", {0x02, 0x02, 0x01}},
      {"long length past the end", {0x02, 0x81, 0x80, 0x01}},
      {"length octets missing", {0x02, 0x82, 0x00}},
      {"five length octets", {0x02, 0x85, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01}},
      {"indefinite form", {0x02, 0x80, 0x01, 0x00, 0x00}},
      {"over-long integer", {0x02, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"empty integer", {0x02, 0x00}},
      {"wrong tag", {0x04, 0x01, 0x01}},
      {"tag number groups cut off", {0x1F, 0x81}},
      {"tag number too large", {0x1F, 0x84, 0x80, 0x80, 0x00, 0x01, 0x00}},
  };
  for (const auto& c : integerCases) {
    ASN1::INTEGER v(42);
    EXPECT_FALSE(decode(c.bytes, v)) << c.what;
  }

  const struct {
    const char* what;
    Bytes bytes;
  } bitCases[] = {
      {"no unused-bits octet", {0x03, 0x00}},
      {"eight unused bits", {0x03, 0x02, 0x08, 0xFF}},
      {"unused bits without octets", {0x03, 0x01, 0x03}},
  };
  for (const auto& c : bitCases) {
    ASN1::BIT_STRING v;
    EXPECT_FALSE(decode(c.bytes, v)) << c.what;
  }

  ASN1::BMPString odd;
  EXPECT_FALSE(decode({0x1E, 0x03, 0x00, 0x41, 0x00}, odd));
  ASN1::OBJECT_IDENTIFIER cut;
  EXPECT_FALSE(decode({0x06, 0x01, 0x83}, cut));
  ASN1::GeneralizedTime time;
  EXPECT_FALSE(decode({0x18, 0x04, '2', '0', '2', '4'}, time));  // no month, day or time of day
  EXPECT_TRUE(decode(encode(ASN1::GeneralizedTime(2024, 1, 2, 3, 4, 5, 0, 0, true)), time));
  EXPECT_EQ(time.get(), "20240102030405Z");
}

TEST(BerDecoder, ConstructedValuesStayWithinTheirContents) {
  const struct {
    const char* what;
    Bytes bytes;
  } cases[] = {
      // An indefinite SEQUENCE would otherwise read as an empty one.
      {"indefinite sequence", {0x30, 0x80, 0xA2, 0x03, 0x80, 0x01, 0x01, 0x00, 0x00}},
      {"field runs past the sequence", {0x30, 0x03, 0xA2, 0x03, 0x80, 0x01, 0x01}},
      {"mandatory field missing", {0x30, 0x03, 0x80, 0x01, 0x07}},
      {"mandatory field under another tag", {0x30, 0x05, 0xA5, 0x03, 0x80, 0x01, 0x01}},
      {"alternative runs past its wrapper", {0x30, 0x05, 0xA2, 0x02, 0x80, 0x02, 0x01}},
      {"alternative the type does not know", {0x30, 0x05, 0xA2, 0x03, 0x85, 0x01, 0x01}},
      {"universal tag for an alternative", {0x30, 0x05, 0xA2, 0x03, 0x02, 0x01, 0x01}},
  };
  for (const auto& c : cases) {
    TS::Message m;
    EXPECT_FALSE(decode(c.bytes, m)) << c.what;
  }

  TS::Batch batch;  // the list's only element claims more than the list holds
  EXPECT_FALSE(decode({0x30, 0x06, 0xA0, 0x02, 0x30, 0x05, 0xA1, 0x00}, batch));
}

TEST(BerDecoder, OptionalFieldsAndUnknownAdditions) {
  TS::Message m;
  m.set_seq(9);  // left over from an earlier value: the input has no seq
  ASSERT_TRUE(decode({0x30, 0x04, 0x82, 0x02, 0x82, 0x00, 0xEE}, m));
  EXPECT_FALSE(m.seq_isPresent());
  EXPECT_FALSE(m.slot_isPresent());
  EXPECT_EQ(m.get_pdu().currentSelection(), TS::Pdu::signal_id);

  // Params: b, then an addition [9] the type does not know.
  TS::Params p;
  ASSERT_TRUE(decode({0x30, 0x06, 0x81, 0x01, 0xFF, 0x89, 0x01, 0x00}, p));
  EXPECT_FALSE(p.hasOptionalField(2));

  // An extendable CHOICE skips an alternative added after it was built.
  static const ASN1::CHOICE::InfoType openPdu = {
      &ASN1::CHOICE::create, 0, true, TS::Pdu::selectionInfos, 3, 3, nullptr, TS::Pdu::selectionNames};
  ASN1::CHOICE later(&openPdu);
  ASSERT_TRUE(decode({0x87, 0x02, 0x01, 0x02}, later));
  EXPECT_TRUE(later.isUnknownSelection());
}

TEST(BerCoder, CoderEnvironmentServesRuleOne) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::ber);
  KS::Everything full;
  KS::fillAll(full);
  std::vector<char> out{'\x7e'};
  ASSERT_TRUE(ASN1::encode(full, &env, std::back_inserter(out)));
  EXPECT_EQ(Bytes(out.begin() + 1, out.end()), encode(full));

  out.push_back('\x00');  // octets after the value are not looked at
  KS::Everything back;
  ASSERT_TRUE(ASN1::decode(out.data() + 1, out.data() + out.size(), &env, back, true));
  EXPECT_EQ(back, full);

  std::vector<char> kept{'\x01'};
  EXPECT_FALSE(ASN1::encode(TS::Pdu(), &env, std::back_inserter(kept)));
  EXPECT_EQ(kept, std::vector<char>{'\x01'});
  // Past a closed enumeration's last value: read as it stands, never written.
  PT::Mode past;
  ASSERT_TRUE(decode({0x0A, 0x01, 0x03}, past));
  EXPECT_EQ(past.asInt(), 3);
  EXPECT_FALSE(ASN1::encode(past, &env, std::back_inserter(kept)));
  EXPECT_EQ(kept, std::vector<char>{'\x01'});
  ASN1::BOOLEAN flag;
  EXPECT_FALSE(ASN1::decode(out.data(), out.data(), &env, flag, true));
}

}  // namespace
