#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "messages/TERM.h"
#include "sample_filler.h"
#include "wire_codec.h"

using WireCodec::encodedHex;
using WireCodec::make;
using WireCodec::octets;
using WireCodec::Value;
using WireCodec::WireCase;

namespace {

class TermUnitWire : public ::testing::TestWithParam<WireCase> {};

TEST_P(TermUnitWire, EncodesToTheOctetsAndDecodesBack) { WireCodec::expectWire(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    ProtocolUnit, TermUnitWire,
    ::testing::Values(
        // Not extensible: one index bit, no extension bit; 4096 values take
        // an aligned two-octet field.
        WireCase{"reference incoming 4095",
                 [] { return make<TERM::TermReference>([](TERM::TermReference& r) { r.select_incoming(4095); }); },
                 "00 0F FF"},
        WireCase{"reference outgoing 0",
                 [] { return make<TERM::TermReference>([](TERM::TermReference& r) { r.select_outgoing(0); }); },
                 "80 00 00"},
        // TermControl index in two bits without an extension bit, then the
        // extensible TermCommand with a 3-bit index.
        WireCase{"query command",
                 [] {
                   return make<TERM::TermPDU>([](TERM::TermPDU& p) {
                     p.set_ref().select_incoming(1);
                     p.set_pdu().select_command().select_query();
                   });
                 },
                 "00 00 01 08"},
        WireCase{"user2user signal",
                 [] {
                   return make<TERM::TermPDU>([](TERM::TermPDU& p) {
                     p.set_ref().select_outgoing(2);
                     p.set_pdu().select_signal().select_user2user(std::vector<char>{'a', 'b', 'c'});
                   });
                 },
                 "80 00 02 90 03 61 62 63"},
        WireCase{"params with root fields only",
                 [] { return make<TERM::TermParams>([](TERM::TermParams& p) { p.set_echo(true); }); }, "11"},
        // Extension bit 1, the map size minus one as a small number, the map,
        // then the addition as an open type.
        WireCase{"params with traceLevel",
                 [] { return make<TERM::TermParams>([](TERM::TermParams& p) { p.set_traceLevel(5); }); },
                 "80 02 02 01 05"},
        WireCase{"params with the twelfth addition",
                 [] { return make<TERM::TermParams>([](TERM::TermParams& p) { p.set_pd(7); }); },
                 "80 2C 00 40 02 01 07"},
        WireCase{"params whose addition was removed again",
                 [] {
                   return make<TERM::TermParams>([](TERM::TermParams& p) {
                     p.set_traceLevel(5);
                     p.omit_traceLevel();
                   });
                 },
                 "00"},
        // screeningInd is an extension addition: no optional-field bitmap.
        WireCase{"isdn number type",
                 [] {
                   return make<TERM::ISDN_NumberType>([](TERM::ISDN_NumberType& n) {
                     n.set_type(TERM::ISDN_NumberType_type::national);
                     n.set_plan(1);
                   });
                 },
                 "21"},
        WireCase{"isdn number type with screening",
                 [] {
                   return make<TERM::ISDN_NumberType>([](TERM::ISDN_NumberType& n) {
                     n.set_type(TERM::ISDN_NumberType_type::national);
                     n.set_plan(1);
                     n.set_screeningInd(TERM::ISDN_NumberType_screeningInd::verified_passed);
                   });
                 },
                 "A1 01 01 40"},
        // 0 is no enumerator but lies inside the encodable range 0..4.
        WireCase{"call priority 0",
                 [] { return make<TERM::ED137CallPriority>([](TERM::ED137CallPriority& p) { p.setFromInt(0); }); },
                 "00"},
        WireCase{"call priority non-urgent",
                 [] {
                   return make<TERM::ED137CallPriority>(
                       [](TERM::ED137CallPriority& p) { p = TERM::ED137CallPriority::non_urgent; });
                 },
                 "40"},
        // A range above 65536 values: the octet count in two bits, then the offset.
        WireCase{
            "radio signalling with the highest fid",
            [] { return make<TERM::ED137RadioSignaling>([](TERM::ED137RadioSignaling& s) { s.set_fid(399975); }); },
            "00 01 10 04 64 E7"},
        WireCase{"recorder bss quality -1",
                 [] {
                   return make<TERM::ED137RadioRecorderParams>(
                       [](TERM::ED137RadioRecorderParams& r) { r.set_bss_quality(static_cast<unsigned>(-1)); });
                 },
                 "04 7F"}));

TEST(TermUnits, OnlyTermParamsAndIsdnNumberTypeKnowExtensionAdditions) {
  EXPECT_EQ(TERM::TermParams::theInfo.numFields, 6u);
  EXPECT_EQ(TERM::TermParams::theInfo.knownExtensions, 13u);
  EXPECT_EQ(TERM::ISDN_NumberType::theInfo.numFields, 2u);
  EXPECT_EQ(TERM::ISDN_NumberType::theInfo.knownExtensions, 1u);
  EXPECT_EQ(TERM::ISDN_NumberType::theInfo.numOptional, 0u);
  EXPECT_FALSE(TERM::TermReference::theInfo.extendable);
  EXPECT_FALSE(TERM::TermControl::theInfo.extendable);
  EXPECT_TRUE(TERM::TermCommand::theInfo.extendable);
}

TEST(TermUnits, ValuesOutsideTheirRangesDoNotEncode) {
  TERM::TermReference r;
  r.select_incoming(4096);
  EXPECT_EQ(encodedHex(r), "encoding failed");

  TERM::ED137RadioSignaling s;
  s.set_fid(111999);
  EXPECT_EQ(encodedHex(s), "encoding failed");

  TERM::ED137RadioRecorderParams rec;
  rec.set_bss_quality(128);
  EXPECT_EQ(encodedHex(rec), "encoding failed");
}

TEST(TermUnits, UnknownAdditionsOfANewerPeerAreSkipped) {
  // TermParams with a 14th addition this side does not know, after traceLevel.
  TERM::TermParams p;
  ASSERT_TRUE(WireCodec::decode(octets("80 36 00 10 02 01 05 01 00"), p));
  ASSERT_TRUE(p.traceLevel_isPresent());
  EXPECT_EQ(p.get_traceLevel().getValue(), 5);
}

class TermUnitRoundTrip : public ::testing::TestWithParam<unsigned> {};

TEST_P(TermUnitRoundTrip, ComesBackEqual) {
  // Variants walk every alternative of every CHOICE under TermPDU.
  std::unique_ptr<ASN1::AbstractData> pdu = SampleFiller::make(TERM::TermPDU::theInfo, GetParam());
  std::optional<WireCodec::Octets> wire = WireCodec::encode(*pdu);
  ASSERT_TRUE(wire) << WireCodec::notation(*pdu);

  TERM::TermPDU decoded;
  ASSERT_TRUE(WireCodec::decode(*wire, decoded)) << WireCodec::hex(*wire);
  EXPECT_TRUE(decoded == *pdu) << WireCodec::notation(decoded);
  EXPECT_EQ(WireCodec::notation(decoded), WireCodec::notation(*pdu));
}

INSTANTIATE_TEST_SUITE_P(Variants, TermUnitRoundTrip,
                         ::testing::Range(0u, SampleFiller::widestChoice(TERM::TermPDU::theInfo) + 2));

}  // namespace
