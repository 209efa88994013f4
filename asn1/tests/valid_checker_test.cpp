#include "asn1/valid_checker.h"

#include "asn1/tests/kinds_schema.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

namespace {

using ASN1::ConstrainedObject;

struct Verdict {
  bool valid;
  bool strict;
  std::string trace;  // empty: the tracer lets the value pass
};

void expectVerdict(const ASN1::AbstractData& v, const Verdict& want) {
  EXPECT_EQ(v.isValid(), want.valid);
  EXPECT_EQ(v.isStrictlyValid(), want.strict);
  std::ostringstream os;
  const bool passed = ASN1::trace_invalid(os, "v", v);
  EXPECT_EQ(passed, want.trace.empty());
  EXPECT_EQ(os.str(), want.trace.empty() ? "" : "v" + want.trace + "\n");
}

const ConstrainedObject::InfoType kExtendableInt = {&ASN1::INTEGER::create, 2, ASN1::ExtendableConstraint, -10, 10};
const ConstrainedObject::InfoType kSigned8 = {&ASN1::INTEGER::create, 2, ASN1::FixedConstraint, -128, 127};

TEST(ValidCheckers, Integers) {
  const struct {
    const ConstrainedObject::InfoType* info;
    int value;
    Verdict want;
  } cases[] = {
      {&ASN1::INTEGER::theInfo, -2147483647 - 1, {true, true, ""}},
      {&TS::SlotNumber::theInfo, 1023, {true, true, ""}},
      {&TS::SlotNumber::theInfo, 2000, {false, false, " The INTEGER value 2000 is greater than upper bound 1023"}},
      {&TS::SlotNumber::theInfo, -1, {false, false, " The INTEGER value 4294967295 is greater than upper bound 1023"}},
      {&KS::Unsigned32::theInfo, int(3000000000u), {true, true, ""}},
      {&kSigned8, -5, {true, true, ""}},
      {&kSigned8, -129, {false, false, " The INTEGER value -129 is smaller than lower bound -128"}},
      {&kSigned8, 128, {false, false, " The INTEGER value 128 is greater than upper bound 127"}},
      // Beyond an extendable root: valid, not strictly; only the lower side is traced.
      {&kExtendableInt, -11, {true, false, " The INTEGER value -11 is smaller than lower bound -10"}},
      {&kExtendableInt, 11, {true, false, ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    expectVerdict(ASN1::INTEGER(c.value, c.info), c.want);
  }
}

TEST(ValidCheckers, Enumerations) {
  TS::ErrorCause extendable;  // maximum 128
  extendable.setFromInt(129);
  expectVerdict(extendable, {true, false, " This ENUMERATED has invalid value 129"});
  extendable.setFromInt(128);
  expectVerdict(extendable, {true, true, ""});

  TS::Colour closed;  // maximum 2
  closed.setFromInt(3);
  expectVerdict(closed, {false, false, " This ENUMERATED has invalid value 3"});

  // Between declared values: nothing in a closed enumeration, a later
  // addition in an extendable one.
  static const char* const gappedNames[] = {"low", "high=5"};
  static const ASN1::ENUMERATED::InfoType gapped = {{&ASN1::ENUMERATED::create, 10}, false, 5, gappedNames, 2};
  static const ASN1::ENUMERATED::InfoType gappedOpen = {{&ASN1::ENUMERATED::create, 10}, true, 5, gappedNames, 2};
  const struct {
    const ASN1::ENUMERATED::InfoType* info;
    int value;
    Verdict want;
  } cases[] = {
      {&gapped, 0, {true, true, ""}},
      {&gapped, 5, {true, true, ""}},
      {&gapped, 3, {false, false, " This ENUMERATED has invalid value 3"}},
      {&gappedOpen, 3, {true, false, " This ENUMERATED has invalid value 3"}},
      {&gappedOpen, 6, {true, false, " This ENUMERATED has invalid value 6"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    ASN1::ENUMERATED e(c.info);
    e.setFromInt(c.value);
    expectVerdict(e, c.want);
  }
}

TEST(ValidCheckers, SizesOfStringsAndLists) {
  static const ConstrainedObject::InfoType partial = {&ASN1::OCTET_STRING::create, 4, ASN1::PartiallyConstrained, 2, 4};
  static const ConstrainedObject::InfoType fixed = {&ASN1::OCTET_STRING::create, 4, ASN1::FixedConstraint, 2, 4};
  static const ConstrainedObject::InfoType open = {&ASN1::OCTET_STRING::create, 4, ASN1::ExtendableConstraint, 2, 4};
  const struct {
    const ConstrainedObject::InfoType* info;
    unsigned size;
    Verdict want;
  } octets[] = {
      {&fixed, 3, {true, true, ""}},
      {&fixed, 1, {false, false, " This OCTET STRING has size 1 smaller than its lower bound 2"}},
      {&fixed, 5, {false, false, " This OCTET STRING has size 5 greater than its upper bound 4"}},
      {&partial, 5, {true, false, ""}},
      {&open, 5, {true, false, ""}},
      {&open, 1, {false, false, " This OCTET STRING has size 1 smaller than its lower bound 2"}},
  };
  for (const auto& c : octets) {
    SCOPED_TRACE(c.size);
    expectVerdict(ASN1::OCTET_STRING(c.size, 'x', c.info), c.want);
  }

  static const ConstrainedObject::InfoType bits = {&ASN1::BIT_STRING::create, 3, ASN1::FixedConstraint, 0, 8};
  ASN1::BIT_STRING nine(&bits);
  nine.resize(9);
  expectVerdict(nine, {false, false, " This BIT STRING has size 9 greater than its upper bound 8"});

  // A character string is held to an upper bound unless it is extendable.
  static const ASN1::AbstractString::InfoType word = {&ASN1::AbstractString::create,
                                                      19,
                                                      ASN1::PartiallyConstrained,
                                                      1,
                                                      3,
                                                      ASN1::PrintableString::theInfo.characterSet,
                                                      74,
                                                      7,
                                                      7,
                                                      8};
  expectVerdict(ASN1::AbstractString(&word, "abcd"), {false, false, ""});
  expectVerdict(ASN1::AbstractString(&word, "a*c"), {false, false, " The character '*' is not valid for the string"});
  expectVerdict(ASN1::AbstractString(&KS::Digits, ""),
                {false, false, " This AbstractString has size 0 smaller than its lower bound 1"});

  static const ASN1::BMPString::InfoType latin = {
      &ASN1::BMPString::create, 30, ASN1::Unconstrained, 0, 0xFFFFFFFFu, 0x20, 0xFF, 8, 8};
  expectVerdict(ASN1::BMPString(L"ok", &latin), {true, true, ""});
  expectVerdict(ASN1::BMPString(L"o\u0416", &latin),
                {false, false, " The character '1046' is not valid for the string"});

  static const ASN1::SEQUENCE_OF_Base::InfoType pair = {
      &ASN1::SEQUENCE_OF_Base::create, 0x10, ASN1::FixedConstraint, 2, 2, &TS::SlotNumber::theInfo};
  ASN1::SEQUENCE_OF_Base list(&pair);
  list.push_back(new TS::SlotNumber(1));
  expectVerdict(list, {false, false, " This SEQUENCE OF has size 1 smaller than its lower bound 2"});
  list.push_back(new TS::SlotNumber(1024));
  expectVerdict(list, {false, false, "[1] The INTEGER value 1024 is greater than upper bound 1023"});
}

TEST(ValidCheckers, TimesIdentifiersAndOpenTypes) {
  expectVerdict(ASN1::GeneralizedTime(2024, 12, 31, 24, 59, 59, 999, -720, true), {true, true, ""});
  expectVerdict(ASN1::GeneralizedTime(2024, 13, 1, 0, 0, 0, 0, 0, false),
                {false, false, " This GeneralizedTime is not valid"});
  expectVerdict(ASN1::GeneralizedTime(2024, 1, 1, 0, 0, 0, 0, 721, false),
                {false, false, " This GeneralizedTime is not valid"});

  ASN1::OBJECT_IDENTIFIER oid;
  expectVerdict(oid, {false, false, " This OBJECT IDENTIFIER is not assigned"});

  ASN1::OpenData empty;
  expectVerdict(empty, {false, false, " This Open Type does not contain any valid data"});
  ASN1::OpenData octets;
  octets.grab(new std::vector<char>{'\x01'});
  expectVerdict(octets, {true, true, ""});
  ASN1::OpenData holding(new TS::SlotNumber(4000), &ASN1::OpenData::theInfo);
  expectVerdict(holding, {false, false, " The INTEGER value 4000 is greater than upper bound 1023"});
}

TEST(ValidCheckers, Choices) {
  static const ASN1::CHOICE::InfoType grown = {&ASN1::CHOICE::create,  0, true, TS::Pdu::selectionInfos, 2, 3, nullptr,
                                               TS::Pdu::selectionNames};
  ASN1::CHOICE extension(&grown);
  ASSERT_TRUE(extension.select(2));
  expectVerdict(extension, {true, false, ""});

  // An alternative added after this side was built: the peer's right where
  // the type is extendable.
  ASN1::CHOICE unknown(&grown);
  unknown.select(7);
  ASSERT_TRUE(unknown.isUnknownSelection());
  expectVerdict(unknown, {true, false, " This selection is not understood by this decoder"});

  TS::Pdu pdu;
  expectVerdict(pdu, {false, false, " This CHOICE is not selected"});
  pdu.select(7);
  expectVerdict(pdu, {false, false, " This selection is not understood by this decoder"});
  pdu.select_error(TS::ErrorCause::hardware).setFromInt(200);
  expectVerdict(pdu, {true, false, ".error This ENUMERATED has invalid value 200"});
}

TEST(ValidCheckers, TheFirstViolationIsNamedByItsPath) {
  TS::Message message;
  message.set_slot(2000);
  message.ref_pdu().select_command();
  std::ostringstream os;
  EXPECT_FALSE(ASN1::trace_invalid(os, "bad", message));
  EXPECT_EQ(os.str(), "bad.slot The INTEGER value 2000 is greater than upper bound 1023\n");

  TS::Batch batch;
  TS::Message ok;
  ok.ref_pdu().select_command();
  batch.ref_list().push_back(ok);
  batch.ref_list().push_back(message);
  TS::Message worse = message;
  worse.set_slot(3000);
  batch.ref_list().push_back(worse);
  os.str("");
  EXPECT_FALSE(ASN1::trace_invalid(os, "batch", batch));
  EXPECT_EQ(os.str(), "batch.list[1].slot The INTEGER value 2000 is greater than upper bound 1023\n");

  KS::Everything all;
  KS::fillAll(all);
  EXPECT_TRUE(all.isValid());
  EXPECT_TRUE(all.isStrictlyValid());
  all.ref<ASN1::AbstractString>(KS::Everything::digits).assign(std::string("123456789"));
  all.ref<TS::Params>(KS::Everything::params).set_x(1);
  EXPECT_FALSE(all.isValid());
  os.str("");
  EXPECT_FALSE(ASN1::trace_invalid(os, "", all));
  EXPECT_EQ(os.str(), ".digits This AbstractString has size 9 greater than its upper bound 8\n");

  // An absent optional field is not looked at.
  KS::Everything fresh;
  fresh.ref<ASN1::OBJECT_IDENTIFIER>(KS::Everything::oid).append(1);
  fresh.ref<ASN1::AbstractString>(KS::Everything::digits).clear();
  EXPECT_FALSE(fresh.isValid());
  fresh.removeOptionalField(2);
  EXPECT_TRUE(fresh.isStrictlyValid());
}

}  // namespace
