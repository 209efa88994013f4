// Getters of fields and alternatives that are not there: in every build an
// ASN1::AccessError naming the class and the member, never a read of nothing.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "asn1/access_error.h"
#include "messages/LGCP.h"
#include "messages/MON.h"
#include "messages/TERM.h"

namespace {

struct Expected {
  const char* type;
  const char* member;
  const char* what;
};

void expectAccessError(const std::function<void()>& read, const Expected& want) {
  try {
    read();
    ADD_FAILURE() << "no error for " << want.what;
  } catch (const ASN1::AccessError& e) {
    EXPECT_EQ(want.type, e.type());
    EXPECT_EQ(want.member, e.member());
    EXPECT_EQ(std::string(want.what), e.what());
  }
}

TEST(GeneratedAccessors, ReadingWhatIsNotThereThrows) {
  LGCP::Message ping;
  ping.set_pdu().select_command().select_ping();
  LGCP::Message fresh;
  TERM::TermParams params;
  LGCP::Command unknown;
  unknown.select(LGCP::Command::theInfo.totalChoices + 3);
  const struct {
    const char* name;
    std::function<void()> read;
    Expected want;
  } cases[] = {
      {"absent optional", [&] { ping.get_seq(); }, {"LGCP::Message", "seq", "LGCP::Message.seq read but absent"}},
      {"absent extension addition",
       [&] { params.get_traceLevel(); },
       {"TERM::TermParams", "traceLevel", "TERM::TermParams.traceLevel read but absent"}},
      {"other alternative",
       [&] { ping.get_pdu().get_command().get_connect(); },
       {"LGCP::Command", "connect", "LGCP::Command.connect read but ping selected"}},
      {"nothing selected",
       [&] { fresh.get_pdu().get_signal(); },
       {"LGCP::PDU", "signal", "LGCP::PDU.signal read but nothing selected"}},
      {"unknown alternative",
       [&] { unknown.get_query(); },
       {"LGCP::Command", "query", "LGCP::Command.query read but an unknown alternative selected"}},
      {"reference to another alternative",
       [&] { ping.ref_pdu().ref_response(); },
       {"LGCP::PDU", "response", "LGCP::PDU.response read but command selected"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    expectAccessError(c.read, c.want);
  }
}

TEST(GeneratedAccessors, WhatIsThereIsReadAsBefore) {
  LGCP::Message m;
  m.set_seq(7);
  m.set_pdu().select_command().select_connect(1023);
  EXPECT_EQ(7, m.get_seq().getValue());
  EXPECT_EQ(1023u, m.get_pdu().get_command().get_connect().getValue());
  m.ref_pdu().ref_command().ref_connect() = 5u;
  EXPECT_EQ(5u, m.get_pdu().get_command().get_connect().getValue());
  m.omit_seq();
  EXPECT_THROW(m.get_seq(), std::logic_error);
}

TEST(GeneratedAccessors, EveryModuleChecks) {
  MON::SnmpTrapsink sink;
  EXPECT_THROW(sink.get_port(), ASN1::AccessError);
  MON::CommonResponse rsp;
  EXPECT_THROW(rsp.get_error(), ASN1::AccessError);
  rsp.select_success();
  EXPECT_THROW(rsp.ref_error(), ASN1::AccessError);
  EXPECT_NO_THROW(rsp.get_success());
}

}  // namespace
