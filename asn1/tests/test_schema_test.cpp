#include "asn1/tests/test_schema.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace TS {

namespace {
const char* const ErrorCause_enum_names__[] = {"ok", "fsm=32", "unexpected-command=64", "hardware=128"};
const char* const Colour_enum_names__[] = {"red", "green", "blue", "crimson=0", "violet=-3", "indigo"};
}  // namespace

const ASN1::ENUMERATED::InfoType ErrorCause::theInfo = {&ASN1::create_as<ErrorCause>, 10, true, 128,
                                                        ErrorCause_enum_names__,      4};
const ASN1::ENUMERATED::InfoType Colour::theInfo = {&ASN1::create_as<Colour>, 10, false, 2, Colour_enum_names__, 6};

const ASN1::AbstractData::InfoType* const Pdu::selectionInfos[3] = {&ASN1::INTEGER::theInfo, &ErrorCause::theInfo,
                                                                    &ASN1::Null::theInfo};
const char* const Pdu::selectionNames[3] = {"command", "error", "signal"};
const ASN1::CHOICE::InfoType Pdu::theInfo = {&ASN1::create_as<Pdu>, 0, false, selectionInfos, 3, 3, nullptr,
                                             selectionNames};

const ASN1::AbstractData::InfoType* const Message::fieldInfos[3] = {&ASN1::INTEGER::theInfo, &SlotNumber::theInfo,
                                                                    &Pdu::theInfo};
const std::int32_t Message::fieldIds[3] = {0, 1, -1};
const char* const Message::fieldNames[3] = {"seq", "slot", "pdu"};
const ASN1::SEQUENCE::InfoType Message::theInfo = {
    &ASN1::create_as<Message>, 0x10, false, fieldInfos, fieldIds, 3, 0, 2, nullptr, nullptr, fieldNames};

const ASN1::AbstractData::InfoType* const Params::fieldInfos[6] = {
    &ASN1::INTEGER::theInfo, &ASN1::BOOLEAN::theInfo,      &ASN1::IA5String::theInfo,
    &ASN1::INTEGER::theInfo, &ASN1::OCTET_STRING::theInfo, &ASN1::BOOLEAN::theInfo};
const std::int32_t Params::fieldIds[6] = {0, -1, 1, 0, 0, 0};
const char* const Params::fieldNames[6] = {"a", "b", "c", "x", "y", "z"};
const ASN1::SEQUENCE::InfoType Params::theInfo = {
    &ASN1::create_as<Params>, 0x10, true, fieldInfos, fieldIds, 3, 3, 2, nullptr, nullptr, fieldNames};

const ASN1::SEQUENCE::InfoType Empty::theInfo = {
    &ASN1::create_as<Empty>, 0x10, true, nullptr, nullptr, 0, 0, 0, nullptr, nullptr, nullptr};

const ASN1::AbstractData::InfoType* const Batch::fieldInfos[2] = {&MessageList::theInfo, &NumberSet::theInfo};
const std::int32_t Batch::fieldIds[2] = {-1, -1};
const char* const Batch::fieldNames[2] = {"list", "set"};
const ASN1::SEQUENCE::InfoType Batch::theInfo = {
    &ASN1::create_as<Batch>, 0x10, false, fieldInfos, fieldIds, 2, 0, 0, nullptr, nullptr, fieldNames};

}  // namespace TS

namespace {

// Records are plain constant aggregates: nothing runs to build them.
static_assert(std::is_trivially_destructible<ASN1::SEQUENCE::InfoType>::value, "");
static_assert(std::is_aggregate<ASN1::SEQUENCE_OF_Base::InfoType>::value, "");
static_assert(TS::SlotNumber::theInfo.tag == 2 && TS::SlotNumber::theInfo.upperLimit == 1023, "");

TEST(TypeRecords, ListRecordsAreCompleteBeforeFirstUse) {
  const auto& info = TS::Batch::MessageList::theInfo;
  ASSERT_NE(info.create, nullptr);
  EXPECT_EQ(info.tag, 0x10u);
  EXPECT_EQ(info.elementInfo, &TS::Message::theInfo);
  EXPECT_EQ(TS::Batch::NumberSet::theInfo.tag, 0x11u);

  std::unique_ptr<ASN1::AbstractData> made(ASN1::AbstractData::create(&info));
  EXPECT_NE(dynamic_cast<TS::Batch::MessageList*>(made.get()), nullptr);
}

TEST(TypeRecords, CreateMakesTheGeneratedClass) {
  std::unique_ptr<ASN1::AbstractData> m(ASN1::AbstractData::create(&TS::Message::theInfo));
  EXPECT_NE(dynamic_cast<TS::Message*>(m.get()), nullptr);
  std::unique_ptr<ASN1::AbstractData> s(ASN1::AbstractData::create(&TS::SlotNumber::theInfo));
  EXPECT_NE(dynamic_cast<TS::SlotNumber*>(s.get()), nullptr);
  std::unique_ptr<ASN1::AbstractData> clone(m->clone());
  EXPECT_NE(dynamic_cast<TS::Message*>(clone.get()), nullptr);
  EXPECT_EQ(ASN1::AbstractData::create(nullptr), nullptr);
}

TEST(TypeRecords, TagsOfTheRuntimeRecords) {
  EXPECT_EQ(ASN1::Null().getTag(), 5);
  EXPECT_EQ(ASN1::BOOLEAN().getTag(), 1);
  EXPECT_EQ(ASN1::INTEGER().getTag(), 2);
  EXPECT_EQ(ASN1::BIT_STRING().getTag(), 3);
  EXPECT_EQ(ASN1::OCTET_STRING().getTag(), 4);
  EXPECT_EQ(ASN1::OBJECT_IDENTIFIER().getTag(), 6);
  EXPECT_EQ(ASN1::GeneralizedTime().getTag(), 24);
  EXPECT_EQ(ASN1::OpenData().getTag(), 0);
  EXPECT_EQ(ASN1::IA5String().getTag(), 22);
  EXPECT_EQ(TS::Message().getTag(), 0x10);
  EXPECT_EQ(TS::Pdu().getTag(), 0);
}

}  // namespace
