#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "messages/BASE.h"
#include "messages/HSP.h"
#include "messages/MON.h"
#include "messages/TERM.h"

namespace {

std::vector<std::string> namesOf(const ASN1::ENUMERATED::InfoType& info) {
  return std::vector<std::string>(info.names, info.names + info.nameCount);
}

TEST(GeneratedRecords, EnumerationNamesCarryValuesThatDoNotFollowThePreviousOne) {
  struct Case {
    const ASN1::ENUMERATED::InfoType& info;
    std::vector<std::string> names;
    int maximum;
    bool extendable;
  };
  const Case cases[] = {
      {HSP::StandbyState::theInfo, {"initial", "learn", "listen", "speak=4", "standby=8", "active=16"}, 16, true},
      {HSP::StandbyCommand::theInfo, {"none", "standby=8", "active=16"}, 16, true},
      {BASE::Stream::theInfo, {"neither", "input", "output", "both"}, 3, false},
      {MON::ErrorCause::theInfo, {"itemNotFound", "wrongValue"}, 1, true},
      {TERM::IpQoSDSCP::theInfo,
       {"cs0",     "le",      "cs1=8",  "af11=10",        "af12=12", "af13=14", "cs2=16", "af21=18",
        "af22=20", "af23=22", "cs3=24", "af31=26",        "af32=28", "af33=30", "cs4=32", "af41=34",
        "af42=36", "af43=38", "cs5=40", "voice-admit=44", "ef=46",   "cs6=48",  "cs7=56", "count=23"},
       56,
       false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(namesOf(c.info), c.names);
    EXPECT_EQ(c.info.maximum, c.maximum) << c.names[0];
    EXPECT_EQ(c.info.extendable, c.extendable) << c.names[0];
    EXPECT_EQ(c.info.tag, 10u);
  }
}

TEST(GeneratedRecords, EnumeratorsHoldTheirDeclaredValues) {
  TERM::IpQoSDSCP dscp(TERM::IpQoSDSCP::ef);
  EXPECT_EQ(dscp.asInt(), 46);
  EXPECT_EQ(dscp.getName(), "ef");
  dscp = TERM::IpQoSDSCP::count;
  EXPECT_EQ(dscp.asInt(), 23);
  EXPECT_TRUE(dscp.is_count());
  dscp.set_voice_admit();
  EXPECT_EQ(static_cast<TERM::IpQoSDSCP::NamedNumber>(dscp), 44);
  EXPECT_EQ(dscp.getName(), "voice-admit");

  HSP::ControllerStatus status(HSP::ControllerStatus::notrun);
  HSP::ControllerStatus other;
  other = status;
  EXPECT_EQ(static_cast<HSP::ControllerStatus::NamedNumber>(other), HSP::ControllerStatus::notrun);
  other.set_unknown();
  EXPECT_TRUE(other.is_unknown());
  EXPECT_EQ(other.info(), &HSP::ControllerStatus::theInfo);
}

TEST(GeneratedRecords, SequenceRecordsNumberOptionalBitsInFieldOrder) {
  const ASN1::SEQUENCE::InfoType& sink = MON::SnmpTrapsink::theInfo;
  EXPECT_EQ(sink.tag, 0x10u);
  EXPECT_TRUE(sink.extendable);
  EXPECT_EQ(sink.numFields, 2u);
  EXPECT_EQ(sink.numOptional, 1u);
  EXPECT_EQ(sink.knownExtensions, 0u);
  EXPECT_EQ(sink.fieldIds[0], -1);
  EXPECT_EQ(sink.fieldIds[1], 0);
  EXPECT_EQ(sink.fieldInfos[1], &ASN1::INTEGER::theInfo);
  EXPECT_EQ(sink.fieldTags, nullptr);
  EXPECT_EQ(sink.extDefaults, nullptr);

  const ASN1::SEQUENCE::InfoType& msg = MON::Message::theInfo;
  EXPECT_FALSE(msg.extendable);
  EXPECT_EQ(msg.numFields, 1u);
  EXPECT_EQ(msg.fieldInfos[0], &MON::PDU::theInfo);

  const ASN1::SEQUENCE::InfoType& host = TERM::HostAddress::theInfo;
  EXPECT_FALSE(host.extendable);
  EXPECT_EQ(host.numOptional, 0u);
  // One shared record per range.
  EXPECT_EQ(host.fieldInfos[1], (&ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 65535>::theInfo));
  EXPECT_EQ(HSP::HspInfoAddress::theInfo.fieldInfos[0], HSP::RadioChannelState::theInfo.fieldInfos[7]);
}

TEST(GeneratedRecords, ChoiceRecordsKeepTheSchemaNamesAndNumbers) {
  const ASN1::CHOICE::InfoType& cmd = MON::Command::theInfo;
  const ASN1::CHOICE::InfoType& rsp = MON::Response::theInfo;
  EXPECT_EQ(cmd.tag, 0u);
  EXPECT_TRUE(cmd.extendable);
  EXPECT_EQ(cmd.numChoices, 4u);
  EXPECT_EQ(cmd.totalChoices, 4u);
  EXPECT_EQ(cmd.tags, nullptr);
  ASSERT_EQ(rsp.numChoices, cmd.numChoices);
  for (unsigned i = 0; i < cmd.numChoices; ++i) EXPECT_STREQ(cmd.selectionNames[i], rsp.selectionNames[i]);
  EXPECT_STREQ(cmd.selectionNames[1], "snmp-trapsink-set");
  EXPECT_EQ(cmd.selectionInfos[3], &ASN1::Null::theInfo);
  EXPECT_FALSE(MON::PDU::theInfo.extendable);
  EXPECT_STREQ(HSP::HspSignal::theInfo.selectionNames[6], "radio-channel-state");
  EXPECT_EQ(MON::Command::ping::Id::value, 3);
}

TEST(GeneratedRecords, StringSubtypeIsAConstantSizedIA5String) {
  const ASN1::AbstractString::InfoType& info = TERM::RtpParams::dname::value_type::theInfo;
  EXPECT_EQ(info.tag, 22u);
  EXPECT_EQ(info.constraintType, ASN1::FixedConstraint);
  EXPECT_EQ(info.lowerLimit, 1);
  EXPECT_EQ(info.upperLimit, 64u);
  EXPECT_EQ(info.characterSet, ASN1::IA5StringSet);
  EXPECT_EQ(info.characterSetSize, 128u);
  EXPECT_EQ(info.nBits, 7u);
  EXPECT_EQ(info.nBitsAligned, 8u);

  TERM::RtpParams params;
  EXPECT_FALSE(params.dname_isPresent());
  params.set_dname("gw1");
  EXPECT_EQ(params.get_dname(), "gw1");
  EXPECT_EQ(params.get_dname().info(), &info);
  std::unique_ptr<ASN1::AbstractData> copy(params.get_dname().clone());
  EXPECT_NE(dynamic_cast<TERM::RtpParams::dname::value_type*>(copy.get()), nullptr);
}

TEST(GeneratedSequence, OmitClearsOnlyThePresenceBit) {
  MON::SnmpTrapsink sink;
  EXPECT_FALSE(sink.port_isPresent());
  EXPECT_EQ(sink.getField(1), nullptr);
  sink.set_host("10.0.0.1");
  sink.set_port(162);
  const ASN1::AbstractData* port = sink.getField(1);
  EXPECT_TRUE(sink.port_isPresent());
  sink.omit_port();
  EXPECT_FALSE(sink.port_isPresent());
  EXPECT_EQ(sink.getField(1), port);

  MON::SnmpTrapsink without;
  without.set_host("10.0.0.1");
  EXPECT_EQ(sink, without);  // an omitted field takes no part in comparing

  sink.set_port(7);
  EXPECT_TRUE(sink.port_isPresent());
  EXPECT_EQ(sink.getField(1), port);
  EXPECT_EQ(sink.get_port().getValue(), 7);
  EXPECT_NE(sink, without);
}

TEST(GeneratedSequence, MandatoryFieldsExistFromTheStart) {
  HSP::RadioChannelState state;
  for (unsigned i = 0; i < state.numFields(); ++i) EXPECT_NE(state.getField(i), nullptr) << i;
  state.set_session_ssrc(4294967295u);
  EXPECT_EQ(state.get_session_ssrc().getValue(), 4294967295u);
  state.ref_rx_vad() = true;
  EXPECT_TRUE(state.get_rx_vad());

  BASE::INTEGER64Bits count;
  count.set_low(-1);
  count.set_high(2);
  BASE::INTEGER64Bits copy;
  copy = count;
  EXPECT_EQ(copy.get_low().getValue(), -1);
  EXPECT_EQ(copy.get_high().getValue(), 2);

  TERM::HostAddress host;
  host.set_iaddr("192.168.1.2");
  host.set_port(65535);
  TERM::HostAddress assigned;
  assigned = host;
  EXPECT_EQ(assigned.get_iaddr(), "192.168.1.2");
  EXPECT_EQ(assigned.get_port().getValue(), 65535u);
}

TEST(GeneratedChoice, SelectingReplacesTheHeldValue) {
  MON::CommonResponse rsp;
  EXPECT_EQ(rsp.currentSelection(), -1);
  rsp.select_error(MON::ErrorCause::wrongValue);
  EXPECT_TRUE(rsp.error_isSelected());
  EXPECT_EQ(rsp.get_error().asInt(), 1);
  rsp.select_success();
  EXPECT_TRUE(rsp.success_isSelected());
  EXPECT_FALSE(rsp.error_isSelected());
  EXPECT_NE(dynamic_cast<const ASN1::Null*>(rsp.getSelection()), nullptr);
  // A fresh value each time, not the old one.
  rsp.select_error();
  EXPECT_EQ(rsp.get_error().asInt(), 0);

  // Reselecting with a part of the held value copies it before letting go.
  MON::SnmpSetCommandId id;
  id.select_name().set_section("power");
  id.select_name(id.get_name());
  EXPECT_EQ(id.get_name().get_section(), "power");
}

TEST(GeneratedChoice, ConstructorsTakeTheAlternativeTag) {
  MON::Command ping{MON::Command::ping::Id(), ASN1::Null()};
  EXPECT_TRUE(ping.ping_isSelected());

  MON::SnmpSetCommandId byOid(MON::SnmpSetCommandId::oid::Id(), std::string("1.3.6.1.2.1.1.5.0"));
  EXPECT_TRUE(byOid.oid_isSelected());
  EXPECT_EQ(byOid.get_oid(), "1.3.6.1.2.1.1.5.0");

  MON::IniName name;
  name.set_section("power");
  MON::SnmpSetCommandId byName(MON::SnmpSetCommandId::name::Id(), name);
  ASSERT_TRUE(byName.name_isSelected());
  EXPECT_EQ(byName.get_name().get_section(), "power");

  HSP::HspSignal signal(HSP::HspSignal::standby_state::Id(), HSP::StandbyState::speak);
  EXPECT_EQ(signal.get_standby_state().asInt(), 4);
}

TEST(GeneratedChoice, NestedValuesAreOfTheGeneratedClassesAndCopyDeeply) {
  MON::Message msg;
  MON::SnmpSetCommands& cmds = msg.set_pdu().select_command().select_snmp_set();
  MON::SnmpSetCommand one;
  one.set_uniq(5);
  one.set_id().select_name().set_index(2);
  one.set_value("on");
  cmds.ref_commands().push_back(one);
  ASSERT_EQ(msg.get_pdu().get_command().get_snmp_set().get_commands().size(), 1u);

  std::unique_ptr<ASN1::AbstractData> clone(msg.clone());
  auto* copy = dynamic_cast<MON::Message*>(clone.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(*copy, msg);
  copy->ref_pdu().ref_command().ref_snmp_set().ref_commands()[0].set_value("off");
  EXPECT_NE(*copy, msg);
  EXPECT_EQ(msg.get_pdu().get_command().get_snmp_set().get_commands()[0].get_value(), "on");
  EXPECT_EQ(copy->get_pdu().get_command().get_snmp_set().get_commands()[0].get_id().get_name().get_index().getValue(),
            2);
}

}  // namespace
