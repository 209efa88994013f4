#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messages/ACP.h"
#include "sample_filler.h"

namespace {

using SampleFiller::decodePer;
using SampleFiller::encodePer;
using SampleFiller::hex;
using SampleFiller::octets;

TEST(AcpSchema, ExtensionAlternativesFollowTheRootOnes) {
  EXPECT_EQ(ACP::AcpCommand::theInfo.numChoices, 6u);
  EXPECT_EQ(ACP::AcpCommand::theInfo.totalChoices, 17u);
  EXPECT_STREQ(ACP::AcpCommand::theInfo.selectionNames[6], "channel-block");
  EXPECT_EQ(ACP::AcpResponse::theInfo.numChoices, 2u);
  EXPECT_EQ(ACP::AcpResponse::theInfo.totalChoices, 9u);
  EXPECT_FALSE(ACP::AcpPDU::theInfo.extendable);
}

TEST(AcpWire, CommandExtensionAlternativesTravelAsOpenTypes) {
  ACP::AcpCommand block;
  ACP::ChannelParams& channel = block.select_channel_block();
  channel.set_trunk(1);
  channel.set_timeslot(2);

  ACP::AcpCommand notify;
  ACP::TrunkNotification& trunk = notify.select_notification().select_trunk();
  trunk.set_trunk(0);
  trunk.set_timeslot(0);
  trunk.set_state(ACP::NotifierState::busy);

  ACP::AcpPDU pdu(ACP::AcpPDU::command::Id(), block);

  ACP::AcpResponse blocked;
  blocked.select_channel_block().set_fail().set_code(7);

  struct Case {
    const char* what;
    const ASN1::AbstractData& value;
    std::vector<char> wire;
  };
  const Case cases[] = {
      // Extension bit 1, 0 as a normally small number, then the value with
      // its length in front.
      {"channel-block", block, octets({0x80, 0x05, 0x00, 0x01, 0x01, 0x01, 0x02})},
      // Alternative 16 is extension 10.
      {"notification", notify, octets({0x8A, 0x06, 0x00, 0x01, 0x00, 0x01, 0x00, 0x40})},
      // Two index bits of the unit in front, then the same open type.
      {"pdu", pdu, octets({0x20, 0x00, 0x05, 0x00, 0x01, 0x01, 0x01, 0x02})},
      {"response channel-block", blocked, octets({0x80, 0x03, 0x00, 0x01, 0x07})},
  };
  for (const Case& c : cases) {
    std::vector<char> out;
    ASSERT_TRUE(encodePer(c.value, out)) << c.what;
    EXPECT_EQ(hex(out), hex(c.wire)) << c.what;
    std::unique_ptr<ASN1::AbstractData> back(ASN1::AbstractData::create(c.value.info()));
    ASSERT_TRUE(decodePer(out, *back)) << c.what;
    EXPECT_TRUE(*back == c.value) << c.what;
  }

  ACP::AcpCommand back;
  ASSERT_TRUE(decodePer(octets({0x8A, 0x06, 0x00, 0x01, 0x00, 0x01, 0x00, 0x40}), back));
  ASSERT_TRUE(back.notification_isSelected());
  EXPECT_EQ(back.currentSelection(), 16);
  EXPECT_TRUE(back.get_notification().get_trunk().get_state().is_busy());
}

TEST(AcpWire, RootAlternativesAndASingleExtensibleEnumerator) {
  ACP::AcpCommand status;
  ACP::ResourceId& id = status.select_resource_status();
  id.set_name("e1");
  id.set_type(ACP::ResourceType::media);

  ACP::AcpResponse abort;
  abort.select_abort(ACP::AbortCause::notImplemented);

  struct Case {
    const char* what;
    const ASN1::AbstractData& value;
    std::vector<char> wire;
  };
  const Case cases[] = {
      // Extension bit 0 and index 5 of 6 in three bits.
      {"resource-status", status, octets({0x50, 0x02, 0x65, 0x31, 0x40})},
      // Extension bit, one index bit, and the enumeration's extension bit.
      {"abort", abort, octets({0x00})},
      {"notImplemented", ACP::AbortCause(ACP::AbortCause::notImplemented), octets({0x00})},
  };
  for (const Case& c : cases) {
    std::vector<char> out;
    ASSERT_TRUE(encodePer(c.value, out)) << c.what;
    EXPECT_EQ(hex(out), hex(c.wire)) << c.what;
  }
}

TEST(AcpWire, TrunkStatusMixesAFixedAndAnExtensibleEnumeration) {
  ACP::TrunkStatus status;
  status.set_trunk(1);
  status.set_state(ACP::TrunkState::disabled);
  status.set_slips(0);
  status.set_lossBF(0);
  status.set_lossCarrier(0);
  status.set_lossAIS(0);
  status.set_lossRAI(0);
  status.set_name() = "E1-0";
  status.set_clockMaster(true);
  status.set_type(ACP::TrunkType::bri);

  std::vector<char> out;
  ASSERT_TRUE(encodePer(status, out));
  // state: 110 with no extension bit; type: extension bit 0, then 1.
  EXPECT_EQ(hex(out), hex(octets({0x00, 0x01, 0x01, 0xC0, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00,
                                  0x01, 0x00, 0x01, 0x00, 0x04, 0x45, 0x31, 0x2D, 0x30, 0xA0})));

  status.set_state(static_cast<ACP::TrunkState::NamedNumber>(7));
  std::vector<char> refused;
  EXPECT_FALSE(encodePer(status, refused));
  EXPECT_TRUE(refused.empty());
}

TEST(AcpWire, IsdnLinkInfoHasNoPreambleAndOneBitPerFlag) {
  ACP::IsdnLinkInfo info;
  info.set_lapdState(ACP::LAPDState::timer_recovery);
  info.set_peerBusy(true);
  info.set_rejException(true);
  info.set_l3Initiated(true);
  info.set_queuedUpRQ(true);
  info.set_ackRQ(true);
  info.set_t203run(true);

  std::vector<char> out;
  ASSERT_TRUE(encodePer(info, out));
  std::vector<char> want = octets({0x00});  // side: user, one bit
  for (int i = 0; i < 10; ++i) {
    want.push_back(0x01);
    want.push_back(0x00);
  }
  std::vector<char> tail = octets({0xE0, 0x01, 0x00, 0xAA, 0xA0});  // lapdState, rc, 11 flags
  want.insert(want.end(), tail.begin(), tail.end());
  for (int i = 0; i < 5; ++i) {
    want.push_back(0x01);
    want.push_back(0x00);
  }
  EXPECT_EQ(hex(out), hex(want));
}

TEST(AcpWire, EveryTypeRoundTrips) {
  unsigned types = 0;
  EXPECT_TRUE(SampleFiller::roundTripsEverything(ACP::AcpPDU::theInfo, &types));
  EXPECT_EQ(types, 42u + 1u);  // and TERM.HostAddress of the board record
}

}  // namespace
