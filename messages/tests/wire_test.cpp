#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "asn1/coder_env.h"
#include "messages/HSP.h"
#include "messages/MON.h"
#include "messages/TERM.h"

namespace {

using Octets = std::vector<unsigned char>;

bool encodePER(const ASN1::AbstractData& value, Octets& out) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> octets;
  if (!ASN1::encode(value, &env, std::back_inserter(octets))) return false;
  out.assign(octets.begin(), octets.end());
  return true;
}

Octets encoded(const ASN1::AbstractData& value) {
  Octets out;
  EXPECT_TRUE(encodePER(value, out));
  return out;
}

bool decodePER(const Octets& in, ASN1::AbstractData& value) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> octets(in.begin(), in.end());
  return ASN1::decode(octets.data(), octets.data() + octets.size(), &env, value, true);
}

MON::Message commandMessage(const MON::Command& cmd) {
  MON::Message msg;
  msg.set_pdu().select_command(cmd);
  return msg;
}

MON::Message responseMessage(const MON::Response& rsp) {
  MON::Message msg;
  msg.set_pdu().select_response(rsp);
  return msg;
}

TEST(MonWire, MessageIsThePduIndexInTwoBitsThenThePdu) {
  // No preamble of its own: PDU index, Command extension bit, Command index.
  MON::Message ping = commandMessage(MON::Command(MON::Command::ping::Id(), ASN1::Null()));
  EXPECT_EQ(encoded(ping), (Octets{0x18}));  // 00 0 11

  MON::Response rsp;
  rsp.select_ping().select_error(MON::ErrorCause::wrongValue);
  EXPECT_EQ(encoded(responseMessage(rsp)), (Octets{0x5D}));  // 01 0 11 1 0 1
  rsp.select_ping().select_success();
  EXPECT_EQ(encoded(responseMessage(rsp)), (Octets{0x58}));  // 01 0 11 0
}

TEST(MonWire, TrapsinkPortPresenceBitFollowsTheExtensionBit) {
  MON::SnmpTrapsink sink;
  sink.set_host("h");
  MON::Command cmd;
  cmd.select_snmp_trapsink_set().ref_trapsinks().push_back(sink);
  // 00 0 01 0 (pad) | count 1 | extension 0, port absent 0 (pad) | length 1 | 'h'
  EXPECT_EQ(encoded(commandMessage(cmd)), (Octets{0x08, 0x01, 0x00, 0x01, 0x68}));

  sink.set_port(162);
  EXPECT_EQ(encoded(sink), (Octets{0x40, 0x01, 0x68, 0x02, 0x00, 0xA2}));
  sink.omit_port();
  EXPECT_EQ(encoded(sink), (Octets{0x00, 0x01, 0x68}));
}

TEST(MonWire, EveryAlternativeRoundTrips) {
  std::vector<MON::Message> messages;

  MON::Command cmd;
  MON::SnmpSetCommand set;
  set.set_uniq(-7);
  MON::IniName& ini = set.set_id().select_name();
  ini.set_section("power");
  ini.set_name("state");
  ini.set_index(3);
  set.set_value("ok");
  MON::SnmpSetCommand byOid;
  byOid.set_uniq(70000);
  byOid.set_id().select_oid("1.3.6.1.4.1.2.3");
  byOid.set_value(std::string(300, 'x'));
  cmd.select_snmp_set().ref_commands().push_back(set);
  cmd.ref_snmp_set().ref_commands().push_back(byOid);
  messages.push_back(commandMessage(cmd));

  MON::SnmpTrapsink sink;
  sink.set_host("10.1.2.3");
  sink.set_port(65536);
  cmd.select_snmp_trapsink_set().ref_trapsinks().push_back(sink);
  sink.omit_port();
  cmd.ref_snmp_trapsink_set().ref_trapsinks().push_back(sink);
  messages.push_back(commandMessage(cmd));

  MON::SnmpTrap trap;
  trap.set_trap().select_name("powerFail");
  cmd.select_snmp_trap_send().ref_traps().push_back(trap);
  trap.set_trap().select_oid("1.3.6.1.6.3.1.1.5.1");
  cmd.ref_snmp_trap_send().ref_traps().push_back(trap);
  messages.push_back(commandMessage(cmd));

  cmd.select_ping();
  messages.push_back(commandMessage(cmd));
  messages.push_back(commandMessage(MON::Command()));  // empty trap list below
  messages.back().ref_pdu().ref_command().select_snmp_trap_send();

  MON::Response rsp;
  MON::SnmpSetResponse answer;
  answer.set_uniq(-7);
  answer.set_response().select_error(MON::ErrorCause::itemNotFound);
  rsp.select_snmp_set().ref_responses().push_back(answer);
  answer.set_response().select_success();
  rsp.ref_snmp_set().ref_responses().push_back(answer);
  messages.push_back(responseMessage(rsp));
  rsp.select_snmp_trapsink_set().select_success();
  messages.push_back(responseMessage(rsp));
  rsp.select_snmp_trap_send().select_error(MON::ErrorCause::wrongValue);
  messages.push_back(responseMessage(rsp));
  rsp.select_ping().select_success();
  messages.push_back(responseMessage(rsp));

  MON::Message signal;
  MON::SnmpSetSignal& sig = signal.set_pdu().select_signal().select_snmp_set();
  sig.set_oid("1.3.6.1.2.1.1.5.0");
  sig.set_name().set_section("net");
  sig.set_value("");
  messages.push_back(signal);

  for (const MON::Message& msg : messages) {
    Octets wire;
    ASSERT_TRUE(encodePER(msg, wire));
    MON::Message back;
    ASSERT_TRUE(decodePER(wire, back));
    EXPECT_EQ(back, msg);
    EXPECT_EQ(encoded(back), wire);
  }
}

TEST(MonWire, UnknownCommandFromANewerPeerIsHeldAsUnknown) {
  // PDU index 00, extension bit 1, alternative 5 as a normally small number
  // (0 000101), then an empty open type.
  MON::Message msg;
  ASSERT_TRUE(decodePER(Octets{0x21, 0x40, 0x00}, msg));
  ASSERT_TRUE(msg.get_pdu().command_isSelected());
  EXPECT_TRUE(msg.get_pdu().get_command().isUnknownSelection());
  EXPECT_FALSE(msg.get_pdu().get_command().ping_isSelected());
}

TEST(MonWire, BadInputFailsWithoutAbort) {
  const Octets inputs[] = {
      {},                                    // nothing
      {0xC0},                                // PDU index 3 of 3 alternatives
      {0x08, 0x05, 0x00, 0x01},              // five trapsinks announced, input ends
      {0x08, 0x01, 0x00, 0x7F, 0x68},        // host longer than the input
      {0x08, 0x01, 0x40, 0x01, 0x68, 0x09},  // port length past the end
  };
  for (const Octets& in : inputs) {
    MON::Message msg;
    EXPECT_FALSE(decodePER(in, msg)) << in.size();
  }
}

TEST(TermWire, HostAddressPortIsSixteenAlignedBits) {
  TERM::HostAddress host;
  host.set_iaddr("1.2.3.4");
  host.set_port(65535);
  Octets wire = encoded(host);
  EXPECT_EQ(wire, (Octets{0x07, '1', '.', '2', '.', '3', '.', '4', 0xFF, 0xFF}));
  TERM::HostAddress back;
  ASSERT_TRUE(decodePER(wire, back));
  EXPECT_EQ(back.get_port().getValue(), 65535u);
  EXPECT_EQ(back.get_iaddr(), "1.2.3.4");

  host.set_port(65536);
  Octets untouched{0xAA};
  EXPECT_FALSE(encodePER(host, untouched));
  EXPECT_EQ(untouched, Octets{0xAA});
}

TEST(TermWire, DscpIsTheCodePointInSixBits) {
  struct Case {
    TERM::IpQoSDSCP::NamedNumber value;
    unsigned char octet;
  };
  const Case cases[] = {
      {TERM::IpQoSDSCP::ef, 46 << 2},
      {TERM::IpQoSDSCP::count, 23 << 2},
      {TERM::IpQoSDSCP::cs7, 56 << 2},
      {TERM::IpQoSDSCP::cs0, 0},
  };
  for (const Case& c : cases) {
    TERM::IpQoSDSCP dscp(c.value);
    EXPECT_EQ(encoded(dscp), Octets{c.octet}) << int(c.value);
    TERM::IpQoSDSCP back;
    ASSERT_TRUE(decodePER(Octets{c.octet}, back));
    EXPECT_EQ(static_cast<TERM::IpQoSDSCP::NamedNumber>(back), c.value);
  }
  TERM::IpQoSDSCP beyond;
  beyond.setFromInt(57);
  Octets out;
  EXPECT_FALSE(encodePER(beyond, out));
}

TEST(HspWire, SparseEnumerationsAreCodedByValue) {
  // Extension bit, then the value in 0..16: five bits.
  EXPECT_EQ(encoded(HSP::StandbyState(HSP::StandbyState::speak)), Octets{0x10});
  EXPECT_EQ(encoded(HSP::StandbyState(HSP::StandbyState::active)), Octets{0x40});
  EXPECT_EQ(encoded(HSP::StandbyCommand(HSP::StandbyCommand::standby)), Octets{0x20});

  HSP::HspPDU pdu;
  HSP::HspCommand& cmd = pdu.select_command();
  cmd.set_address().set_host_id(4294967295u);
  cmd.ref_state().select_radio_channel_command().select_radio_state_ext().set_command(HSP::StandbyCommand::active);
  Octets wire = encoded(pdu);
  HSP::HspPDU back;
  ASSERT_TRUE(decodePER(wire, back));
  EXPECT_EQ(back, pdu);
  EXPECT_EQ(back.get_command().get_address().get_host_id().getValue(), 4294967295u);
}

}  // namespace
