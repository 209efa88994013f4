#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messages/TERM.h"
#include "sample_filler.h"

namespace {

using SampleFiller::decodePer;
using SampleFiller::encodePer;
using SampleFiller::hex;
using SampleFiller::octets;

TEST(TermStreamWire, PayloadTypesAreCodedByValueInSevenBits) {
  EXPECT_STREQ(TERM::Payload::theInfo.names[14], "ptR2S=123");
  struct Case {
    int value;
    bool encodes;
    std::vector<char> wire;
  };
  const Case cases[] = {
      {TERM::Payload::ptR2S, true, octets({0xF6})},
      {TERM::Payload::reserv_3, true, octets({0x10})},
      {TERM::Payload::ptG728, true, octets({0x1A})},
      {124, false, {}},
  };
  for (const Case& c : cases) {
    TERM::Payload payload;
    payload.setFromInt(c.value);
    std::vector<char> out;
    ASSERT_EQ(encodePer(payload, out), c.encodes) << c.value;
    if (!c.encodes) continue;
    EXPECT_EQ(hex(out), hex(c.wire)) << c.value;
    TERM::Payload back;
    ASSERT_TRUE(decodePer(out, back));
    EXPECT_EQ(static_cast<TERM::Payload::NamedNumber>(back), c.value);
  }

  // The seven bits can hold 124 to 127; no payload type has them. Kept as
  // read for the validity check to refuse, never written again.
  for (int index : {124, 127}) {
    TERM::Payload back;
    ASSERT_TRUE(decodePer(octets({index << 1}), back)) << index;
    EXPECT_EQ(back.asInt(), index);
    EXPECT_FALSE(back.isValid()) << index;
    std::vector<char> again;
    EXPECT_FALSE(encodePer(back, again)) << index;
  }
}

TERM::RtpParams minimalStream() {
  TERM::RtpParams params;
  params.set_payload(TERM::Payload::ptR2S);
  params.set_dhost().set_iaddr("1.2.3.4");
  params.set_dhost().set_port(5004);
  return params;
}

TEST(TermStreamWire, StreamWithOnlyPayloadAndHostHasTwelveZeroPresenceBits) {
  std::vector<char> out;
  ASSERT_TRUE(encodePer(minimalStream(), out));
  EXPECT_EQ(hex(out), hex(octets({0x00, 0x07, 0xB0, 0x07, 0x31, 0x2E, 0x32, 0x2E, 0x33, 0x2E, 0x34, 0x13, 0x8C})));
  TERM::RtpParams back;
  ASSERT_TRUE(decodePer(out, back));
  EXPECT_FALSE(back.shost_isPresent());
  EXPECT_FALSE(back.qos_dscp_isPresent());
  EXPECT_TRUE(back == minimalStream());
}

TEST(TermStreamWire, TtlAndDestinationNameKeepTheirBounds) {
  struct Case {
    const char* what;
    unsigned ttl;
    std::string dname;
    bool encodes;
  };
  const Case cases[] = {
      {"ttl 1, 1 character", 1, "d", true},
      {"ttl 255, 64 characters", 255, std::string(64, 'd'), true},
      {"ttl 0", 0, "d", false},
      {"ttl 256", 256, "d", false},
      {"empty name", 1, "", false},
      {"65 characters", 1, std::string(65, 'd'), false},
  };
  for (const Case& c : cases) {
    TERM::RtpParams params = minimalStream();
    params.set_ttl(c.ttl);
    params.set_dname(c.dname);
    std::vector<char> out;
    EXPECT_EQ(encodePer(params, out), c.encodes) << c.what;
    if (!c.encodes) continue;
    TERM::RtpParams back;
    ASSERT_TRUE(decodePer(out, back)) << c.what;
    EXPECT_EQ(static_cast<const std::string&>(back.get_dname()), c.dname) << c.what;
    EXPECT_EQ(back.get_ttl().getValue(), c.ttl) << c.what;
  }
}

TEST(TermStreamWire, ActivationWithoutSelectionIsRefused) {
  TERM::TermActivateParams params;
  EXPECT_EQ(params.currentSelection(), -1);
  std::vector<char> out = octets({0x55});
  EXPECT_FALSE(encodePer(params, out));
  EXPECT_EQ(hex(out), "55 ");
}

TEST(TermStreamWire, ListsAndStringsWithoutPreambleBits) {
  TERM::SelcalCommand selcal;
  selcal.set_signs("A1");

  TERM::ModemParams modem;
  modem.set_cid("1");
  modem.set_cdid("2");
  TERM::ModemParams withArgs = modem;
  withArgs.set_execargs(ASN1::SEQUENCE_OF<ASN1::IA5String>());

  TERM::MdmRequestUserAuth auth;
  auth.set_username("u");
  auth.set_password("p");

  TERM::ModemInformation info;
  info.set_rxSpeed(0);
  info.set_txSpeed(0);
  info.set_carrier(TERM::MdmCarrier::isdn);

  struct Case {
    const char* what;
    const ASN1::AbstractData& value;
    std::vector<char> wire;
  };
  const Case cases[] = {
      // One presence bit for amp, no extension bit.
      {"selcal signs only", selcal, octets({0x00, 0x02, 0x41, 0x31})},
      {"modem cid and cdid", modem, octets({0x00, 0x01, 0x31, 0x01, 0x32})},
      // An empty execargs list is present: bit 5 set and a count of 0.
      {"modem empty execargs", withArgs, octets({0x02, 0x01, 0x31, 0x01, 0x32, 0x00})},
      {"user auth", auth, octets({0x01, 0x75, 0x01, 0x70})},
      // carrier isdn (10) in four bits.
      {"modem information", info, octets({0x00, 0x01, 0x00, 0x01, 0x00, 0xA0})},
  };
  for (const Case& c : cases) {
    std::vector<char> out;
    ASSERT_TRUE(encodePer(c.value, out)) << c.what;
    EXPECT_EQ(hex(out), hex(c.wire)) << c.what;
    std::unique_ptr<ASN1::AbstractData> back(ASN1::AbstractData::create(c.value.info()));
    ASSERT_TRUE(decodePer(out, *back)) << c.what;
    EXPECT_TRUE(*back == c.value) << c.what;
  }

  info.ref_carrier().setFromInt(11);
  std::vector<char> out;
  EXPECT_FALSE(encodePer(info, out));
  TERM::ModemInformation back;
  ASSERT_TRUE(decodePer(octets({0x00, 0x01, 0x00, 0x01, 0x00, 0xB0}), back));
  EXPECT_EQ(back.get_carrier().asInt(), 11);
  EXPECT_FALSE(back.isValid());
  EXPECT_FALSE(encodePer(back, out));
}

TEST(TermStreamWire, EveryTypeRoundTrips) {
  const ASN1::AbstractData::InfoType* roots[] = {
      &TERM::TermActivateParams::theInfo, &TERM::RtpParams::theInfo,   &TERM::SelcalCommand::theInfo,
      &TERM::VADParamsV2::theInfo,        &TERM::ModemParams::theInfo, &TERM::ModemProceeding::theInfo,
      &TERM::ModemInformation::theInfo,
  };
  for (const ASN1::AbstractData::InfoType* root : roots) EXPECT_TRUE(SampleFiller::roundTripsEverything(*root));
}

}  // namespace
