#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "messages/CCP.h"
#include "messages/MEDIA.h"
#include "messages/TERM.h"
#include "sample_filler.h"
#include "wire_codec.h"

using WireCodec::encodedHex;
using WireCodec::make;
using WireCodec::octets;
using WireCodec::Value;
using WireCodec::WireCase;

namespace {

class CcpMediaWire : public ::testing::TestWithParam<WireCase> {};

TEST_P(CcpMediaWire, EncodesToTheOctetsAndDecodesBack) { WireCodec::expectWire(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Envelope, CcpMediaWire,
                         ::testing::Values(
                             // The identifier's contents length is one aligned octet.
                             WireCase{"media destroy",
                                      [] {
                                        return make<CCP::Message>([](CCP::Message& m) {
                                          m.set_protocolIdentifier().assign({1, 2, 3});
                                          m.set_seq(5);
                                          MEDIA::MediaPDU& media = m.set_body().select_media();
                                          media.set_ref(2047);
                                          media.set_pdu().select_command().select_destroy();
                                        });
                                      },
                                      "02 2A 03 01 05 00 07 FF 10"},
                             WireCase{"identifier with a multi-octet arc",
                                      [] {
                                        return make<CCP::Message>([](CCP::Message& m) {
                                          m.set_protocolIdentifier().assign({1, 3, 6, 1, 4, 1, 99999});
                                          m.set_seq(0);
                                          m.set_body().select_term().set_ref().select_incoming(0);
                                          m.set_body().ref_term().set_pdu().select_command().select_query();
                                        });
                                      },
                                      "08 2B 06 01 04 01 86 8D 1F 01 00 40 00 00 08"}));

INSTANTIATE_TEST_SUITE_P(
    Media, CcpMediaWire,
    ::testing::Values(
        // Not extensible: no extension bits in front of the indexes.
        WireCase{"abort signal",
                 [] {
                   return make<MEDIA::MediaControl>(
                       [](MEDIA::MediaControl& c) { c.select_signal().select_abort(MEDIA::MediaError::timeout); });
                 },
                 "8C"},
        WireCase{"create with no units",
                 [] { return make<MEDIA::MediaCommand>([](MEDIA::MediaCommand& c) { c.select_create(); }); }, "00 00"},
        WireCase{
            "query failed",
            [] { return make<MEDIA::MediaResponse>([](MEDIA::MediaResponse& r) { r.select_query().select_fail(); }); },
            "A0"},
        WireCase{"context unit with gain",
                 [] {
                   return make<MEDIA::ContextUnit>([](MEDIA::ContextUnit& u) {
                     u.set_ref().select_incoming(3);
                     u.set_stream(BASE::Stream::both);
                     u.set_gain(-1);
                   });
                 },
                 "20 00 03 C0 01 FF"},
        WireCase{"termination error",
                 [] {
                   return make<MEDIA::MediaTermError>([](MEDIA::MediaTermError& e) {
                     e.set_ref().select_outgoing(5);
                     e.set_cause().set_code(TERM::TermErrorCode::timeout);
                   });
                 },
                 "80 00 05 02 80"},
        // MediaError is extensible: a later value travels as a small number.
        WireCase{"media error from a newer peer",
                 [] { return make<MEDIA::MediaError>([](MEDIA::MediaError& e) { e.setFromInt(5); }); }, "86 A0"}));

TEST(CcpMedia, OnlyContextUnitAndMediaErrorAreExtensible) {
  EXPECT_FALSE(CCP::Message::theInfo.extendable);
  EXPECT_FALSE(CCP::MessageBody::theInfo.extendable);
  EXPECT_FALSE(MEDIA::MediaPDU::theInfo.extendable);
  EXPECT_FALSE(MEDIA::MediaControl::theInfo.extendable);
  EXPECT_FALSE(MEDIA::MediaCommand::theInfo.extendable);
  EXPECT_FALSE(MEDIA::MediaResponse::theInfo.extendable);
  EXPECT_FALSE(MEDIA::MediaSignal::theInfo.extendable);
  EXPECT_FALSE(MEDIA::MediaResult::theInfo.extendable);
  EXPECT_FALSE(MEDIA::MediaInfoResult::theInfo.extendable);
  EXPECT_FALSE(MEDIA::MediaErrorCause::theInfo.extendable);
  EXPECT_FALSE(MEDIA::MediaTermError::theInfo.extendable);
  EXPECT_TRUE(MEDIA::ContextUnit::theInfo.extendable);
  EXPECT_TRUE(MEDIA::MediaError::theInfo.extendable);
}

TEST(CcpMedia, ReferenceAboveItsRangeDoesNotEncode) {
  MEDIA::MediaPDU pdu;
  pdu.set_ref(2048);
  pdu.set_pdu().select_command().select_query();
  EXPECT_EQ(encodedHex(pdu), "encoding failed");
}

class CcpRoundTrip : public ::testing::TestWithParam<unsigned> {};

TEST_P(CcpRoundTrip, ComesBackEqual) {
  // Variants select each body (media, term, acp) and walk the CHOICEs below it.
  std::unique_ptr<ASN1::AbstractData> value = SampleFiller::make(CCP::Message::theInfo, GetParam());
  auto& message = static_cast<CCP::Message&>(*value);
  message.set_protocolIdentifier().assign({0, 4, 0, 127, GetParam()});
  std::optional<WireCodec::Octets> wire = WireCodec::encode(message);
  ASSERT_TRUE(wire) << WireCodec::notation(message);

  CCP::Message decoded;
  ASSERT_TRUE(WireCodec::decode(*wire, decoded)) << WireCodec::hex(*wire);
  EXPECT_TRUE(decoded == message) << WireCodec::notation(decoded);
  EXPECT_EQ(WireCodec::notation(decoded), WireCodec::notation(message));
}

INSTANTIATE_TEST_SUITE_P(Variants, CcpRoundTrip,
                         ::testing::Range(0u, SampleFiller::widestChoice(CCP::Message::theInfo) + 2));

}  // namespace
