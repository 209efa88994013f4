#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messages/LEMZGW.h"
#include "sample_filler.h"

namespace {

using SampleFiller::decodePer;
using SampleFiller::encodePer;
using SampleFiller::hex;
using SampleFiller::octets;

std::string nameOf(const char* entry) {
  std::string name(entry);
  return name.substr(0, name.find('='));
}

TEST(LemzgwSchema, EveryMessageIdentifierHasThePayloadAlternativeOfTheSameName) {
  const ASN1::ENUMERATED::InfoType& ids = LEMZGW::ProtoLemzMsgID::theInfo;
  const ASN1::CHOICE::InfoType& payload = LEMZGW::ProtoLemzPacketPayload::theInfo;
  ASSERT_EQ(ids.nameCount, 66u);
  ASSERT_EQ(payload.numChoices, 66u);
  ASSERT_EQ(payload.totalChoices, 66u);
  for (unsigned i = 0; i < ids.nameCount; ++i) EXPECT_EQ(nameOf(ids.names[i]), payload.selectionNames[i]) << i;

  EXPECT_EQ(ids.maximum, 13056);
  EXPECT_STREQ(ids.names[0], "gw-get-id=4097");
  EXPECT_STREQ(ids.names[1], "gw-keep-alive");
  EXPECT_STREQ(ids.names[6], "gw-rad-ptt-on=4116");
  EXPECT_STREQ(ids.names[65], "ali-server-p1=13056");
}

TEST(LemzgwWire, PacketHeaderCodesTheIdentifierInTwoAlignedOctets) {
  LEMZGW::ProtoLemzPacket packet;
  packet.set_msgLength(12);
  packet.set_msgSeqNum(1);
  packet.set_msgID(LEMZGW::ProtoLemzMsgID::gw_keep_alive);
  packet.set_stateProtocol(LEMZGW::ProtoLemzProtocol::protocol_v2);
  packet.set_stateMode(LEMZGW::ProtoLemzMode::ggs);
  packet.set_stateMaster(0);
  packet.set_srcAddr(LEMZGW::ProtoLemzAddress::dli);
  packet.set_srcChannel(3);
  packet.set_dstAddr(LEMZGW::ProtoLemzAddress::lgw);
  packet.set_dstChannel(0);
  packet.set_payload().select_gw_keep_alive().select_keep_alive_v1();

  std::vector<char> out;
  ASSERT_TRUE(encodePer(packet, out));
  // msgID: extension bit, padding, then 4098 as 10 02; payload: extension
  // bit and index 1 in 7 bits.
  EXPECT_EQ(hex(out), hex(octets({0x00, 0x01, 0x0C, 0x01, 0x01, 0x00, 0x10, 0x02, 0x48, 0x01, 0x00, 0x40, 0x01, 0x03,
                                  0x00, 0x01, 0x00, 0x01, 0x00})));

  LEMZGW::ProtoLemzPacket back;
  ASSERT_TRUE(decodePer(out, back));
  EXPECT_TRUE(back == packet);
  EXPECT_EQ(static_cast<LEMZGW::ProtoLemzMsgID::NamedNumber>(back.get_msgID()), 4098);
}

TEST(LemzgwWire, PayloadIndexIsASevenBitFieldAfterTheExtensionBit) {
  LEMZGW::ProtoLemzPacketPayload first;
  first.select_gw_get_id();
  LEMZGW::ProtoLemzPacketPayload linkErr;
  linkErr.select_dli_rad_link_err();
  LEMZGW::ProtoLemzPacketPayload last;
  LEMZGW::ProtoLemzPacketP1ServerPacket& server = last.select_ali_server_p1();
  server.set_command(LEMZGW::ProtoLemzPacketP1ServerCommand::p1_any_packet);
  server.set_session(5);
  server.set_payload().select_p1_any_packet();

  struct Case {
    const LEMZGW::ProtoLemzPacketPayload& value;
    int index;
    std::vector<char> wire;
  };
  const Case cases[] = {
      {first, 0, octets({0x00})},
      {linkErr, 39, octets({0x27})},
      // 65 after the extension bit; the P1 command 0 in 16 aligned bits.
      {last, 65, octets({0x41, 0x00, 0x00, 0x00, 0x01, 0x05, 0x00})},
  };
  for (const Case& c : cases) {
    std::vector<char> out;
    ASSERT_TRUE(encodePer(c.value, out)) << c.index;
    EXPECT_EQ(hex(out), hex(c.wire)) << c.index;
    LEMZGW::ProtoLemzPacketPayload back;
    ASSERT_TRUE(decodePer(out, back)) << c.index;
    EXPECT_EQ(back.currentSelection(), c.index);
    EXPECT_TRUE(back == c.value) << c.index;
  }

  // Indexes 66 to 127 fit the field but name no message.
  LEMZGW::ProtoLemzPacketPayload back;
  EXPECT_FALSE(decodePer(octets({0x42}), back));
  EXPECT_FALSE(decodePer(octets({0x7F}), back));
}

template <class E>
std::vector<char> encodedEnum(int value) {
  E e;
  e.setFromInt(value);
  std::vector<char> out;
  EXPECT_TRUE(encodePer(e, out)) << value;
  E back;
  EXPECT_TRUE(decodePer(out, back)) << value;
  EXPECT_EQ(back.asInt(), value);
  return out;
}

TEST(LemzgwWire, SparseEnumerationsAreCodedByValue) {
  struct Case {
    const char* what;
    std::vector<char> got;
    std::vector<char> wire;
  };
  const Case cases[] = {
      // 0..13056: extension bit, then 16 aligned bits.
      {"gw-get-id", encodedEnum<LEMZGW::ProtoLemzMsgID>(4097), octets({0x00, 0x10, 0x01})},
      {"ali-server-p1", encodedEnum<LEMZGW::ProtoLemzMsgID>(13056), octets({0x00, 0x33, 0x00})},
      // 0..128: an 8-bit field that is not aligned.
      {"hardware", encodedEnum<LEMZGW::ProtoLemzGgsError>(128), octets({0x40, 0x00})},
      {"fsm", encodedEnum<LEMZGW::ProtoLemzDconError>(32), octets({0x10, 0x00})},
      // 0..4103: 16 aligned bits.
      {"p1-cln-file-start", encodedEnum<LEMZGW::ProtoLemzPacketP1ClientCommand>(4098), octets({0x00, 0x10, 0x02})},
      // 0..255: one aligned octet.
      {"fake", encodedEnum<LEMZGW::ProtoLemzAnalogGainIDV1>(255), octets({0x00, 0xFF})},
      {"min", encodedEnum<LEMZGW::ProtoLemzAnalogGainIDV1>(0), octets({0x00, 0x00})},
      // 0..3: two bits, although the first value is 1.
      {"infoRcEchoEstimate2WireLine0", encodedEnum<LEMZGW::ProtoLemzDigitalRequestInfo>(1), octets({0x20})},
  };
  for (const Case& c : cases) EXPECT_EQ(hex(c.got), hex(c.wire)) << c.what;
}

TEST(LemzgwWire, EmptyPacketListIsValidAndSurvivesACopy) {
  LEMZGW::ProtoLemzPackets packets;
  std::vector<char> out;
  ASSERT_TRUE(encodePer(packets, out));
  EXPECT_EQ(hex(out), hex(octets({0x00, 0x00})));

  LEMZGW::ProtoLemzPackets back;
  ASSERT_TRUE(decodePer(out, back));
  LEMZGW::ProtoLemzPackets copy(back);
  EXPECT_EQ(copy.get_packets().size(), 0u);
  EXPECT_TRUE(copy == packets);
}

TEST(LemzgwWire, EveryTypeRoundTrips) {
  unsigned types = 0;
  EXPECT_TRUE(SampleFiller::roundTripsEverything(LEMZGW::ProtoLemzPackets::theInfo, &types));
  // The constant tables are not used by any message.
  const ASN1::AbstractData::InfoType* tables[] = {
      &LEMZGW::ProtoLemzGgsError::theInfo,       &LEMZGW::ProtoLemzDconError::theInfo,
      &LEMZGW::ProtoLemzCountersNSizes::theInfo, &LEMZGW::ProtoLemzAnalogGainV1::theInfo,
      &LEMZGW::ProtoLemzAnalogGainV2::theInfo,
  };
  for (const ASN1::AbstractData::InfoType* table : tables) {
    unsigned one = 0;
    EXPECT_TRUE(SampleFiller::roundTripsEverything(*table, &one));
    types += one;
  }
  EXPECT_EQ(types, 145u);
}

}  // namespace
