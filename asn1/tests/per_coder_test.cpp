#include "asn1/testing/per_samples.h"
#include "asn1/tests/coder_test_util.h"
#include "asn1/tests/test_schema.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace coder_test;

// Size-constrained types the wire examples need.
const ASN1::ConstrainedObject::InfoType kOctets1to4 = {&ASN1::OCTET_STRING::create, 4, ASN1::FixedConstraint, 1, 4};
const ASN1::ConstrainedObject::InfoType kOctetsTo20000 = {&ASN1::OCTET_STRING::create, 4, ASN1::FixedConstraint, 0,
                                                          20000};
const ASN1::ConstrainedObject::InfoType kBitsTo20 = {&ASN1::BIT_STRING::create, 3, ASN1::FixedConstraint, 0, 20};

// CHOICE { only NULL }
const ASN1::AbstractData::InfoType* const kOnlyNull[1] = {&ASN1::Null::theInfo};
const char* const kOnlyName[1] = {"only"};
const ASN1::CHOICE::InfoType kSingle = {&ASN1::CHOICE::create, 0, false, kOnlyNull, 1, 1, nullptr, kOnlyName};

struct IntCase {
  const ASN1::ConstrainedObject::InfoType* type;
  int value;
  const char* wire;
};

TEST(PerInteger, WireExamplesEncodeAndDecode) {
  const IntCase cases[] = {
      {&ASN1::INTEGER::theInfo, 0, "01 00"},
      {&ASN1::INTEGER::theInfo, -1, "01 FF"},
      {&ASN1::INTEGER::theInfo, 127, "01 7F"},
      {&ASN1::INTEGER::theInfo, 128, "02 00 80"},
      {&ASN1::INTEGER::theInfo, -128, "01 80"},
      {&ASN1::INTEGER::theInfo, -129, "02 FF 7F"},
      {&ASN1::INTEGER::theInfo, 2147483647, "04 7F FF FF FF"},
      {&ASN1::INTEGER::theInfo, -2147483647 - 1, "04 80 00 00 00"},
      {&PT::U32::theInfo, 0, "00 00"},
      {&PT::U32::theInfo, -1, "C0 FF FF FF FF"},
      {&PT::U32::theInfo, 256, "40 01 00"},
      {&PT::S8::theInfo, -1, "7F"},
      {&PT::S8::theInfo, 127, "FF"},
      {&PT::S8::theInfo, -128, "00"},
      {&PT::Slot::theInfo, 5, "00 05"},
      {&PT::Ranged::theInfo, 5, "28"},
      {&PT::Ranged::theInfo, 20, "80 01 14"},
  };
  for (const IntCase& c : cases) {
    SCOPED_TRACE(c.wire);
    ASN1::INTEGER v(c.value, c.type);
    EXPECT_EQ(perHex(v), c.wire);
    ASN1::INTEGER back(c.type);
    ASSERT_TRUE(perDecode(c.wire, back));
    EXPECT_EQ(back.getValue(), c.value);
  }
}

TEST(PerInteger, ValuesOutsideAFixedRangeFailToEncode) {
  EXPECT_EQ(perHex(ASN1::INTEGER(1024, &PT::Slot::theInfo)), "FAILED");
  EXPECT_EQ(perHex(ASN1::INTEGER(128, &PT::S8::theInfo)), "FAILED");
  EXPECT_EQ(perHex(ASN1::INTEGER(-129, &PT::S8::theInfo)), "FAILED");
}

TEST(PerInteger, LowerBoundOnlyIsWrittenAsPlainTwosComplement) {
  // X.691 would write 200 - 1 as one octet; the peers expect the value itself.
  EXPECT_EQ(perHex(ASN1::INTEGER(200, &PT::LowerOnly::theInfo)), "02 00 C8");
  ASN1::INTEGER back(&PT::LowerOnly::theInfo);
  ASSERT_TRUE(perDecode("02 00 C8", back));
  EXPECT_EQ(back.getValue(), 200);
}

TEST(PerInteger, LowerBoundOnlyAndExtendedRangeAreSignExtended) {
  ASN1::INTEGER lower(&PT::LowerOnly::theInfo);
  ASSERT_TRUE(perDecode("01 FF", lower));
  EXPECT_EQ(lower.getValue(), -1);
  ASN1::INTEGER ranged(&PT::Ranged::theInfo);
  ASSERT_TRUE(perDecode("80 02 FF 7F", ranged));
  EXPECT_EQ(ranged.getValue(), -129);
  EXPECT_EQ(perHex(ranged), "80 02 FF 7F");
}

TEST(PerInteger, FixedRangeValueAboveTheBoundStillDecodes) {
  // The command server answers such a slot number with invalidSlot.
  PT::Slot slot;
  ASSERT_TRUE(perDecode("FF FF", slot));
  EXPECT_EQ(slot.getValue(), 65535u);
}

// The aligned shortcuts (a short length octet, a two-octet range) and the
// general reads they stand in for give the same values and refusals.
TEST(PerInteger, ShortcutsAndGeneralReadsAgree) {
  const struct {
    const ASN1::INTEGER::InfoType* type;
    const char* hex;
    bool ok;
    int value;
  } cases[] = {
      {&ASN1::INTEGER::theInfo, "01 80", true, -128},
      {&ASN1::INTEGER::theInfo, "03 80 00 00", true, -8388608},
      {&ASN1::INTEGER::theInfo, "04 FF FF FF FE", true, -2},
      {&ASN1::INTEGER::theInfo, "80 01 05", true, 5},  // a long length form still reads
      {&ASN1::INTEGER::theInfo, "80 05 01 02 03 04 05", false, 0},
      {&ASN1::INTEGER::theInfo, "C0 01 05", false, 0},
      {&ASN1::INTEGER::theInfo, "04 01 02 03", false, 0},
      {&ASN1::INTEGER::theInfo, "01", false, 0},
      {&ASN1::INTEGER::theInfo, "", false, 0},
      {&PT::Slot::theInfo, "12 34", true, 0x1234},
      {&PT::Slot::theInfo, "12", false, 0},
  };
  for (const auto& c : cases) {
    ASN1::INTEGER v(c.type);
    EXPECT_EQ(perDecode(c.hex, v), c.ok) << c.hex;
    if (c.ok) {
      EXPECT_EQ(v.getValue(), c.value) << c.hex;
    }
  }
}

TEST(PerInteger, MoreThanFourOctetsIsRefused) {
  ASN1::INTEGER v;
  EXPECT_FALSE(perDecode("05 01 02 03 04 05", v));
}

TEST(PerInteger, ZeroOctetsGiveZeroAndMissingBitsFail) {
  ASN1::INTEGER v(9);
  ASSERT_TRUE(perDecode("00", v));
  EXPECT_EQ(v.getValue(), 0);
  EXPECT_FALSE(perDecode("02 01", v));
  PT::Slot slot;
  EXPECT_FALSE(perDecode("03", slot));
  PT::U32 wide;
  EXPECT_FALSE(perDecode("C0 FF FF FF", wide));
  PT::Ranged ranged;
  EXPECT_FALSE(perDecode("", ranged));
}

TEST(PerEnumerated, CodedByValueNotByIndex) {
  // fsm(32) is the second enumerator; X.691 would write index 1.
  TS::ErrorCause fsm(TS::ErrorCause::fsm);
  EXPECT_EQ(perHex(fsm), "10 00");
  TS::ErrorCause back;
  ASSERT_TRUE(perDecode("10 00", back));
  EXPECT_EQ(back.asInt(), 32);
  EXPECT_EQ(back.getName(), "fsm");
}

TEST(PerEnumerated, ExtendedValueIsSmallNumberThenValue) {
  PT::Cause c;
  c.setFromInt(3);
  EXPECT_EQ(perHex(c), "18");
  // v + 1 = 14 as a small number, then 13 in 0..13; X.691 would write 13 - 13.
  c.setFromInt(13);
  EXPECT_EQ(perHex(c), "8E D0");
  PT::Cause back;
  ASSERT_TRUE(perDecode("8E D0", back));
  EXPECT_EQ(back.asInt(), 13);
  c.setFromInt(100);
  const std::string wire = perHex(c);
  ASSERT_TRUE(perDecode(wire, back));
  EXPECT_EQ(back.asInt(), 100);
}

TEST(PerEnumerated, BeyondTheMaximumOfAClosedTypeIsReadButNeverWritten) {
  PT::Mode m;
  m.setFromInt(PT::Mode::fault);
  EXPECT_EQ(perHex(m), "80");
  m.setFromInt(3);
  EXPECT_EQ(perHex(m), "FAILED");
  // Index 3 fits the two bits: kept as read, for the validity check to refuse.
  PT::Mode back;
  ASSERT_TRUE(perDecode("C0", back));
  EXPECT_EQ(back.asInt(), 3);
  EXPECT_FALSE(back.isValid());
  EXPECT_EQ(back.asValueNotation(), "3");
  EXPECT_EQ(perHex(back), "FAILED");
}

TEST(PerEnumerated, ExtendedFormWithoutItsSmallNumberFails) {
  PT::Cause c;
  EXPECT_FALSE(perDecode("80", c));
  EXPECT_FALSE(perDecode("C0", c));  // small number of zero
}

TEST(PerOctetString, OneOrTwoOctetsAreUnalignedWhateverTheSize) {
  ASN1::OCTET_STRING two(std::vector<char>{'\xAB', '\xCD'}, &kOctets1to4);
  std::vector<char> out;
  ASN1::PEREncoder enc(out);
  enc.encodeSingleBit(true);
  ASSERT_TRUE(two.accept(enc));
  // 1, length 01, then the octets straight on: no padding before them.
  EXPECT_EQ(hexOf(out), "B5 79 A0");

  ASN1::PERDecoder dec(out.data(), out.data() + out.size());
  EXPECT_EQ(dec.decodeSingleBit(), 1u);
  ASN1::OCTET_STRING back(&kOctets1to4);
  ASSERT_TRUE(back.accept(dec));
  EXPECT_EQ(back, two);

  ASN1::OCTET_STRING three(std::vector<char>{'\xAB', '\xCD', '\xEF'}, &kOctets1to4);
  ASN1::PEREncoder enc3(out);
  enc3.encodeSingleBit(true);
  ASSERT_TRUE(three.accept(enc3));
  EXPECT_EQ(hexOf(out), "C0 AB CD EF");
}

TEST(PerOctetString, FixedSizeTwoHasNoLength) {
  ASN1::OCTET_STRING pair(std::vector<char>{'\x00', '\x80'}, &PT::PairOctets::theInfo);
  EXPECT_EQ(perHex(pair), "00 80");
  ASN1::OCTET_STRING one(std::vector<char>{'\x00'}, &PT::PairOctets::theInfo);
  EXPECT_EQ(perHex(one), "FAILED");
}

TEST(PerBitString, UpToSixteenBitsUnalignedLongerAligned) {
  ASN1::BIT_STRING bits(&kBitsTo20);
  bits.resize(12);
  for (unsigned i : {0u, 2u, 4u, 6u, 8u, 9u, 10u, 11u}) bits.set(i);
  std::vector<char> out;
  ASN1::PEREncoder enc(out);
  enc.encodeSingleBit(true);
  ASSERT_TRUE(bits.accept(enc));
  EXPECT_EQ(hexOf(out), "B2 AB C0");
  ASN1::PERDecoder dec(out.data(), out.data() + out.size());
  dec.decodeSingleBit();
  ASN1::BIT_STRING back(&kBitsTo20);
  ASSERT_TRUE(back.accept(dec));
  EXPECT_EQ(back, bits);

  ASN1::BIT_STRING longer(&kBitsTo20);
  longer.resize(17);
  for (unsigned i = 0; i < 17; ++i) longer.set(i);
  ASN1::PEREncoder enc17(out);
  enc17.encodeSingleBit(true);
  ASSERT_TRUE(longer.accept(enc17));
  EXPECT_EQ(hexOf(out), "C4 FF FF 80");
}

TEST(PerLength, UnboundedDeterminants) {
  const struct {
    unsigned n;
    const char* wire;
  } cases[] = {{0, "00"}, {127, "7F"}, {128, "80 80"}, {16383, "BF FF"}};
  for (const auto& c : cases) {
    std::vector<char> out;
    ASN1::PEREncoder enc(out);
    ASSERT_TRUE(enc.encodeLength(c.n, 0, 0x7FFFFFFF));
    EXPECT_EQ(hexOf(out), c.wire);
    const std::vector<char> in = bytesOf(c.wire);
    ASN1::PERDecoder dec(in.data(), in.data() + in.size());
    unsigned n = 0;
    ASSERT_EQ(dec.decodeLength(0, 0x7FFFFFFF, n), 0);
    EXPECT_EQ(n, c.n);
  }
}

TEST(PerLength, NoFragmentation) {
  std::vector<char> out;
  ASN1::PEREncoder enc(out);
  EXPECT_FALSE(enc.encodeLength(16384, 0, 0x7FFFFFFF));
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(perHex(ASN1::OCTET_STRING(16384, 'x')), "FAILED");
  EXPECT_EQ(perHex(ASN1::OCTET_STRING(16383, 'x')).substr(0, 8), "BF FF 78");

  const std::vector<char> in = bytesOf("C0 01");
  ASN1::PERDecoder dec(in.data(), in.data() + in.size());
  unsigned n = 0;
  EXPECT_EQ(dec.decodeLength(0, 0x7FFFFFFF, n), -1);
}

TEST(PerObjectIdentifier, OneOctetLength) {
  ASN1::OBJECT_IDENTIFIER oid;
  oid.assign({1, 2, 840});
  EXPECT_EQ(perHex(oid), "03 2A 86 48");
  ASN1::OBJECT_IDENTIFIER back;
  ASSERT_TRUE(perDecode("03 2A 86 48", back));
  EXPECT_EQ(back, oid);

  std::vector<unsigned> arcs(2, 1);
  arcs.resize(300, 1);
  oid.assign(arcs);
  EXPECT_EQ(perHex(oid), "FAILED");
}

TEST(PerCharacterString, NumericStringIndexesAndIa5Octets) {
  ASN1::AbstractString digits(&ASN1::NumericString::theInfo, "12 ");
  EXPECT_EQ(perHex(digits), "03 23 00");
  ASN1::AbstractString back(&ASN1::NumericString::theInfo);
  ASSERT_TRUE(perDecode("03 23 00", back));
  EXPECT_EQ(static_cast<const std::string&>(back), "12 ");
  EXPECT_EQ(perHex(ASN1::AbstractString(&ASN1::NumericString::theInfo, "1a")), "FAILED");
  EXPECT_FALSE(perDecode("01 B0", back));  // index 11 is past the set

  EXPECT_EQ(perHex(ASN1::IA5String("ab")), "02 61 62");
  // SIZE (1..2): one bit of length, then 8-bit codes, unaligned.
  EXPECT_EQ(perHex(ASN1::AbstractString(&PT::SmallText::theInfo, "ok")), "B7 B5 80");
}

TEST(PerCharacterString, BmpStringSixteenBitCells) {
  ASN1::BMPString s(L"A\x0416");
  EXPECT_EQ(perHex(s), "02 00 41 04 16");
  ASN1::BMPString back;
  ASSERT_TRUE(perDecode("02 00 41 04 16", back));
  EXPECT_EQ(back, s);
}

TEST(PerOpenType, EmptyContentIsOneZeroOctet) {
  ASN1::OpenData open(new ASN1::Null, &ASN1::OpenData::theInfo);
  EXPECT_EQ(perHex(open), "01 00");
  // Received octets that were never decoded go out again unchanged.
  ASN1::OpenData received;
  ASSERT_TRUE(perDecode("03 0A 0B 0C", received));
  ASSERT_TRUE(received.has_buf());
  EXPECT_EQ(perHex(received), "03 0A 0B 0C");
}

TEST(PerChoice, SingleRootAlternativeWritesNoIndex) {
  ASN1::CHOICE single(&kSingle);
  ASSERT_TRUE(single.select(0));
  EXPECT_EQ(perHex(single), "");
  ASN1::CHOICE back(&kSingle);
  EXPECT_FALSE(perDecode("", back));  // a CHOICE needs input even with no bits
  EXPECT_TRUE(perDecode("00", back));
  EXPECT_EQ(back.currentSelection(), 0);
  EXPECT_EQ(perHex(ASN1::CHOICE(&kSingle)), "FAILED");
}

TEST(PerChoice, RootIndexBeyondTheRootCountIsRefused) {
  TS::Pdu pdu;
  EXPECT_FALSE(perDecode("C0", pdu));  // index 3 of 3
  EXPECT_TRUE(perDecode("80", pdu));   // index 2: signal NULL
  EXPECT_EQ(pdu.currentSelection(), TS::Pdu::signal_id);
}

TEST(PerChoice, KnownAndUnknownExtensionAlternatives) {
  PT::Envelope e;
  ASSERT_TRUE(perDecode("01 C0 00 01 80", e));
  const PT::Body& body = static_cast<const PT::Body&>(*e.getField(PT::Envelope::body));
  ASSERT_EQ(body.currentSelection(), PT::Body::flag);
  EXPECT_TRUE(bool(static_cast<const ASN1::BOOLEAN&>(*body.getSelection())));
  EXPECT_EQ(perHex(e), "01 C0 00 01 80");

  // Alternative 3 is unknown: skipped whole, the octets field after it read.
  PT::Envelope unknown;
  ASSERT_TRUE(perDecode("11 C0 80 02 AA BB 01 7E", unknown));
  EXPECT_TRUE(static_cast<const PT::Body&>(*unknown.getField(PT::Envelope::body)).isUnknownSelection());
  EXPECT_EQ(static_cast<const ASN1::OCTET_STRING&>(*unknown.getField(PT::Envelope::octets)),
            ASN1::OCTET_STRING(std::vector<char>{'\x7E'}));
  EXPECT_EQ(perHex(unknown), "FAILED");
}

TEST(PerChoice, ExtensionContentIsReadWithinItsOpenType) {
  // The BOOLEAN alternative claims no octets; the octet after it is not its.
  PT::Body body;
  EXPECT_FALSE(perDecode("80 00 FF", body));
  EXPECT_TRUE(perDecode("80 01 80", body));
}

PT::Envelope minimalEnvelope() {
  PT::Envelope e;
  static_cast<ASN1::ENUMERATED&>(*e.getField(PT::Envelope::cause)).setFromInt(3);
  choose<ASN1::INTEGER>(static_cast<PT::Body&>(*e.getField(PT::Envelope::body)), PT::Body::number).setValue(5);
  return e;
}

TEST(PerSequence, RootOnly) {
  PT::Envelope e = minimalEnvelope();
  EXPECT_EQ(perHex(e), "01 80 01 05");
  PT::Envelope back;
  ASSERT_TRUE(perDecode("01 80 01 05", back));
  EXPECT_EQ(back, e);
}

TEST(PerSequence, ExtensionMapRunsToTheHighestAdditionMarked) {
  // Only the first of two additions marked: a one-bit map (X.691: two bits).
  PT::Envelope e = minimalEnvelope();
  include<ASN1::ENUMERATED>(e, 3, PT::Envelope::mode).setFromInt(PT::Mode::busy);
  EXPECT_EQ(e.extensionMap().size(), 1u);
  EXPECT_EQ(perHex(e), "81 80 01 05 01 01 40");
  PT::Envelope back;
  ASSERT_TRUE(perDecode("81 80 01 05 01 01 40", back));
  EXPECT_EQ(back, e);

  PT::Envelope noted = minimalEnvelope();
  include<ASN1::AbstractString>(noted, 4, PT::Envelope::note) = std::string("hi");
  EXPECT_EQ(perHex(noted), "81 80 01 05 02 80 03 02 68 69");

  // The map keeps its size when the higher addition is dropped again.
  noted.removeOptionalField(4);
  include<ASN1::ENUMERATED>(noted, 3, PT::Envelope::mode).setFromInt(PT::Mode::busy);
  EXPECT_EQ(perHex(noted), "81 80 01 05 03 00 01 40");
}

TEST(PerSequence, AdditionsMarkedAbsentAgainWriteNoExtensionPart) {
  PT::Envelope e = minimalEnvelope();
  e.includeOptionalField(3, PT::Envelope::mode);
  e.removeOptionalField(3);
  EXPECT_EQ(perHex(e), "01 80 01 05");
}

TEST(PerSequence, UnknownAdditionsAreSkippedAndNotWrittenBack) {
  PT::Envelope e;
  ASSERT_TRUE(perDecode("81 80 01 05 05 40 01 40 02 AB CD", e));
  EXPECT_EQ(static_cast<const ASN1::ENUMERATED&>(*e.getField(PT::Envelope::mode)).asInt(), PT::Mode::busy);
  EXPECT_EQ(e.extensionMap().size(), 3u);
  EXPECT_EQ(perHex(e), "81 80 01 05 03 00 01 40");
}

// SEQUENCE { n INTEGER, ..., e1 BOOLEAN, e2 NULL } whose new values carry e2.
const ASN1::AbstractData::InfoType* const kDefaultsFields[] = {&ASN1::INTEGER::theInfo, &ASN1::BOOLEAN::theInfo,
                                                               &ASN1::Null::theInfo};
const std::int32_t kDefaultsIds[] = {-1};
const unsigned char kDefaultsBits[] = {0x40};
const ASN1::SEQUENCE::InfoType kDefaults = {
    &ASN1::SEQUENCE::create, 0x10, true, kDefaultsFields, kDefaultsIds, 1, 2, 0, kDefaultsBits, nullptr, nullptr};

TEST(PerSequence, ClearedExtensionBitLeavesNoAdditionPresent) {
  // A value that held an addition before takes the wire's word that none is there.
  PT::Envelope reused = minimalEnvelope();
  include<ASN1::ENUMERATED>(reused, 3, PT::Envelope::mode).setFromInt(PT::Mode::busy);
  ASSERT_TRUE(perDecode("01 80 01 05", reused));
  EXPECT_FALSE(reused.hasOptionalField(3));
  EXPECT_EQ(reused, minimalEnvelope());
  EXPECT_EQ(perHex(reused), "01 80 01 05");

  ASN1::SEQUENCE withDefaults(&kDefaults);
  ASSERT_TRUE(withDefaults.hasOptionalField(1));
  ASSERT_TRUE(perDecode("00 01 07", withDefaults));
  EXPECT_FALSE(withDefaults.hasOptionalField(1));
  EXPECT_EQ(perHex(withDefaults), "00 01 07");
}

TEST(PerSequenceOf, FailingElementKeepsEarlierOnes) {
  ASN1::SEQUENCE_OF<ASN1::INTEGER> list;
  list.push_back(ASN1::INTEGER(1));
  list.push_back(ASN1::INTEGER(2));
  std::vector<char> out;
  ASN1::PEREncoder enc(out);
  ASSERT_TRUE(list.accept(enc));
  EXPECT_EQ(hexOf(out), "02 01 01 01 02");

  ASN1::SEQUENCE_OF_Base slots(&ASN1::SEQUENCE_OF<PT::Slot>::theInfo);
  slots.push_back(new PT::Slot(7));
  slots.push_back(new PT::Slot(4000));
  ASN1::PEREncoder enc2(out);
  EXPECT_FALSE(slots.accept(enc2));
  EXPECT_EQ(hexOf(out), "02 00 07");

  ASN1::SEQUENCE_OF<ASN1::INTEGER> back;
  EXPECT_FALSE(perDecode("03 01 01 01 02 05", back));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[1].getValue(), 2);
}

TEST(PerGeneralizedTime, TextWithUnboundedLength) {
  ASN1::GeneralizedTime t(2024, 1, 2, 3, 4, 5, 0, 0, true);
  const std::string wire = perHex(t);
  EXPECT_EQ(wire, "0F 32 30 32 34 30 31 30 32 30 33 30 34 30 35 5A");
  ASN1::GeneralizedTime back;
  ASSERT_TRUE(perDecode(wire, back));
  EXPECT_EQ(back, t);
  EXPECT_FALSE(perDecode("0F 32 30 32 34", back));
}

TEST(PerRoundTrip, FilledValuesComeBackEqual) {
  PT::Envelope e;
  PT::fillEnvelope(e, 16);
  std::vector<char> wire;
  ASSERT_TRUE(perEncode(e, wire));
  PT::Envelope back;
  ASSERT_TRUE(perDecodeBytes(wire, back));
  EXPECT_EQ(back, e);
  EXPECT_EQ(perHex(back), hexOf(wire));

  PT::Kitchen k;
  PT::fillKitchen(k);
  wire.clear();
  ASSERT_TRUE(perEncode(k, wire));
  PT::Kitchen kback;
  ASSERT_TRUE(perDecodeBytes(wire, kback));
  EXPECT_EQ(kback, k);
  EXPECT_EQ(perHex(kback), hexOf(wire));
}

TEST(PerRoundTrip, TrailingOctetsAreIgnored) {
  PT::Envelope e;
  ASSERT_TRUE(perDecode("01 80 01 05 FF FF FF", e));
  EXPECT_EQ(e, minimalEnvelope());
}

}  // namespace
