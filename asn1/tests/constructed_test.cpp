#include "asn1/tests/test_schema.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using ASN1::AbstractData;

TEST(Sequence, NewValueHasOnlyMandatoryFields) {
  TS::Message m;
  EXPECT_EQ(m.getField(0), nullptr);
  EXPECT_EQ(m.getField(1), nullptr);
  ASSERT_NE(m.getField(2), nullptr);
  EXPECT_EQ(m.get_pdu().currentSelection(), -1);
  EXPECT_EQ(m.optionalMap().size(), 2u);
  EXPECT_FALSE(m.hasOptionalField(0));
  EXPECT_FALSE(m.hasOptionalField(1));
  EXPECT_EQ(m.extensionMap().size(), 0u);
  EXPECT_EQ(m.getField(3), nullptr);
  EXPECT_STREQ(m.getFieldName(1), "slot");
  EXPECT_EQ(m.getFieldName(3), nullptr);
}

TEST(Sequence, IncludeCreatesOnceAndRemoveKeepsTheValue) {
  TS::Message m;
  m.includeOptionalField(1, 1);
  AbstractData* slot = m.getField(1);
  ASSERT_NE(slot, nullptr);
  EXPECT_NE(dynamic_cast<TS::SlotNumber*>(slot), nullptr);
  EXPECT_TRUE(m.slot_isPresent());
  m.set_slot(17);
  m.includeOptionalField(1, 1);
  EXPECT_EQ(m.getField(1), slot);
  EXPECT_EQ(m.get_slot().getValue(), 17u);
  m.removeOptionalField(1);
  EXPECT_FALSE(m.slot_isPresent());
  EXPECT_EQ(m.getField(1), slot);

  m.set_seq(5);
  EXPECT_TRUE(m.seq_isPresent());
  m.omit_seq();
  EXPECT_FALSE(m.seq_isPresent());
  m.set_seq(7);
  EXPECT_EQ(m.get_seq().getValue(), 7);
}

TEST(Sequence, ExtensionBitsFollowTheOptionalBits) {
  TS::Params p;
  EXPECT_EQ(p.optionalMap().size(), 2u);
  EXPECT_EQ(p.extensionMap().size(), 0u);
  EXPECT_EQ(p.fieldCount(), 6u);

  p.includeOptionalField(4, 5);
  EXPECT_EQ(p.extensionMap().size(), 3u);
  EXPECT_TRUE(p.extensionMap()[2]);
  EXPECT_TRUE(p.hasOptionalField(4));
  EXPECT_FALSE(p.hasOptionalField(3));
  EXPECT_FALSE(p.hasOptionalField(2));
  EXPECT_NE(p.getField(5), nullptr);
  EXPECT_EQ(p.getField(3), nullptr);

  p.includeOptionalField(2, 3);
  EXPECT_EQ(p.extensionMap().size(), 3u);
  EXPECT_TRUE(p.hasOptionalField(2));
  p.removeOptionalField(4);
  EXPECT_FALSE(p.hasOptionalField(4));
  EXPECT_NE(p.getField(5), nullptr);

  // An addition the type does not know gets a bit but no value.
  p.includeOptionalField(9, 11);
  EXPECT_EQ(p.extensionMap().size(), 8u);
  EXPECT_TRUE(p.hasOptionalField(9));
  EXPECT_EQ(p.fieldCount(), 6u);
}

TEST(Sequence, ComparisonSeesPresenceAndKnownExtensions) {
  TS::Params a, b;
  EXPECT_EQ(a.compare(b), 0);
  a.set_x(1);
  b.set_x(1);
  EXPECT_EQ(a.compare(b), 0);
  a.set_y({'\x01'});
  EXPECT_GT(a.compare(b), 0);
  b.set_y({'\x02'});
  EXPECT_LT(a.compare(b), 0);
  b.set_y({'\x01'});
  EXPECT_EQ(a.compare(b), 0);

  // An absent optional value takes no part even when it is held.
  a.includeOptionalField(0, 0);
  static_cast<ASN1::INTEGER&>(*a.getField(0)) = 9;
  a.removeOptionalField(0);
  EXPECT_EQ(a.compare(b), 0);
  EXPECT_EQ(TS::Empty().compare(TS::Empty()), 0);
}

TEST(Sequence, CloneIsDeepAndIndependent) {
  TS::Message m;
  m.set_seq(1);
  m.set_slot(2);
  m.ref_pdu().select_error(TS::ErrorCause::hardware);

  std::unique_ptr<AbstractData> c(m.clone());
  TS::Message* copy = dynamic_cast<TS::Message*>(c.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(*copy, m);
  EXPECT_NE(copy->getField(2), m.getField(2));
  EXPECT_NE(dynamic_cast<const TS::ErrorCause*>(copy->get_pdu().getSelection()), nullptr);

  copy->set_slot(3);
  copy->ref_pdu().select_command() = 4;
  EXPECT_EQ(m.get_slot().getValue(), 2u);
  EXPECT_TRUE(m.get_pdu().currentSelection() == TS::Pdu::error_id);
  EXPECT_NE(*copy, m);

  TS::Message assigned;
  assigned = m;
  EXPECT_EQ(assigned, m);
  assigned = assigned;
  EXPECT_EQ(assigned, m);
  assigned.omit_seq();
  EXPECT_TRUE(m.seq_isPresent());
}

// SEQUENCE { n INTEGER, ..., e1 BOOLEAN, e2 NULL } whose new values carry e2,
// every field with its own type's tag.
const AbstractData::InfoType* const kDefaultsFields[] = {&ASN1::INTEGER::theInfo, &ASN1::BOOLEAN::theInfo,
                                                         &ASN1::Null::theInfo};
const std::int32_t kDefaultsIds[] = {-1};
const unsigned char kDefaultsBits[] = {0x40};
const ASN1::SEQUENCE::InfoType kDefaults = {
    &ASN1::SEQUENCE::create,     0x10,   true, kDefaultsFields, kDefaultsIds, 1, 2, 0, kDefaultsBits,
    &ASN1::SEQUENCE::defaultTag, nullptr};

TEST(Sequence, ExtensionDefaultsAndTags) {
  ASN1::SEQUENCE s(&kDefaults);
  EXPECT_EQ(s.extensionMap().size(), 2u);
  EXPECT_FALSE(s.hasOptionalField(0));
  EXPECT_TRUE(s.hasOptionalField(1));
  EXPECT_EQ(s.getField(1), nullptr);
  EXPECT_NE(dynamic_cast<const ASN1::Null*>(s.getField(2)), nullptr);
  EXPECT_EQ(s.tagMode(), 2);
  EXPECT_EQ(s.getFieldTag(0), 2u);
  EXPECT_EQ(s.getFieldTag(2), 5u);
  EXPECT_EQ(s.getFieldName(0), nullptr);

  TS::Message m;
  EXPECT_EQ(m.tagMode(), 0);
  EXPECT_EQ(m.getFieldTag(2), (0x80u << 16) | 2u);
}

TEST(Choice, SelectionReplacement) {
  TS::Pdu p;
  EXPECT_EQ(p.currentSelection(), -1);
  EXPECT_EQ(p.getSelection(), nullptr);
  EXPECT_EQ(p.getSelectionName(), nullptr);

  p.select_error(TS::ErrorCause::fsm);
  EXPECT_EQ(p.currentSelection(), 1);
  EXPECT_EQ(p.get_error().asInt(), 32);
  EXPECT_STREQ(p.getSelectionName(), "error");
  EXPECT_EQ(p.getSelectionTag(), (0x80u << 16) | 1u);

  const AbstractData* before = p.getSelection();
  EXPECT_TRUE(p.select(1));
  EXPECT_EQ(p.getSelection(), before);

  EXPECT_TRUE(p.select(2));
  EXPECT_NE(dynamic_cast<const ASN1::Null*>(p.getSelection()), nullptr);

  EXPECT_FALSE(p.select(3));
  EXPECT_EQ(p.currentSelection(), -2);
  EXPECT_TRUE(p.isUnknownSelection());
  EXPECT_EQ(p.getSelection(), nullptr);
  EXPECT_FALSE(p.select(-1));
  EXPECT_EQ(p.currentSelection(), -2);

  // A selection set without a value is made when selected again.
  p.setSelection(0, nullptr);
  EXPECT_TRUE(p.select(0));
  EXPECT_NE(p.getSelection(), nullptr);
}

TEST(Choice, Comparison) {
  TS::Pdu a, b;
  EXPECT_EQ(a.compare(b), 0);
  a.select(0);
  b.select(2);
  EXPECT_LT(a.compare(b), 0);
  EXPECT_GT(b.compare(a), 0);
  b.select_command() = 3;
  a.select_command() = 3;
  EXPECT_EQ(a.compare(b), 0);
  b.select_command() = 4;
  EXPECT_LT(a.compare(b), 0);

  TS::Pdu c(a);
  EXPECT_EQ(c, a);
  EXPECT_NE(c.getSelection(), a.getSelection());
  c.swap(b);
  EXPECT_EQ(static_cast<const ASN1::INTEGER*>(c.getSelection())->getValue(), 4);
}

// CHOICE { a [APPLICATION 1] NULL, b [APPLICATION 7] INTEGER } and an
// outer CHOICE whose first alternative is that untagged CHOICE.
const AbstractData::InfoType* const kInnerAlternatives[] = {&ASN1::Null::theInfo, &ASN1::INTEGER::theInfo};
const std::uint32_t kInnerTags[] = {(0x40u << 16) | 1, (0x40u << 16) | 7};
const char* const kInnerNames[] = {"a", "b"};
const ASN1::CHOICE::InfoType kInner = {
    &ASN1::CHOICE::create, 0, false, kInnerAlternatives, 2, 2, kInnerTags, kInnerNames};
const AbstractData::InfoType* const kOuterAlternatives[] = {&kInner, &ASN1::BOOLEAN::theInfo};
const std::uint32_t kOuterTags[] = {0, (0x80u << 16) | 2};
const char* const kOuterNames[] = {"inner", "flag"};
const ASN1::CHOICE::InfoType kOuter = {
    &ASN1::CHOICE::create, 0, false, kOuterAlternatives, 2, 2, kOuterTags, kOuterNames};

TEST(Choice, SetIdByTag) {
  ASN1::CHOICE inner(&kInner);
  EXPECT_TRUE(inner.setID(7, 0x40));
  EXPECT_EQ(inner.currentSelection(), 1);
  EXPECT_EQ(inner.getSelectionTag(), (0x40u << 16) | 7u);
  EXPECT_FALSE(inner.setID(7, 0x80));
  EXPECT_EQ(inner.currentSelection(), -2);

  ASN1::CHOICE outer(&kOuter);
  EXPECT_TRUE(outer.setID(2, 0x80));
  EXPECT_EQ(outer.currentSelection(), 1);
  EXPECT_TRUE(outer.setID(1, 0x40));
  EXPECT_EQ(outer.currentSelection(), 0);
  const ASN1::CHOICE* held = dynamic_cast<const ASN1::CHOICE*>(outer.getSelection());
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(held->currentSelection(), 0);
  EXPECT_FALSE(outer.setID(9, 0xC0));
  EXPECT_EQ(outer.currentSelection(), -2);

  // Automatic tagging takes the number as the index.
  TS::Pdu p;
  EXPECT_TRUE(p.setID(2, 0x80));
  EXPECT_EQ(p.currentSelection(), 2);
  EXPECT_FALSE(p.setID(5, 0x80));
}

std::unique_ptr<TS::Batch::NumberSet> numbers(std::initializer_list<int> values) {
  std::unique_ptr<TS::Batch::NumberSet> list(new TS::Batch::NumberSet);
  for (int v : values) list->push_back(ASN1::INTEGER(v));
  return list;
}

TEST(SequenceOf, ResizeInsertErase) {
  TS::Batch batch;
  TS::Batch::MessageList& list = batch.ref_list();
  EXPECT_TRUE(list.empty());
  list.resize(2);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_FALSE(list[1].seq_isPresent());
  EXPECT_NE(dynamic_cast<TS::Message*>(*list.SEQUENCE_OF_Base::begin()), nullptr);

  TS::Message m;
  m.set_seq(9);
  list.insert(list.SEQUENCE_OF_Base::begin() + 1, 3, m);
  ASSERT_EQ(list.size(), 5u);
  EXPECT_FALSE(list[0].seq_isPresent());
  EXPECT_EQ(list[1].get_seq().getValue(), 9);
  EXPECT_EQ(list[3].get_seq().getValue(), 9);
  EXPECT_FALSE(list[4].seq_isPresent());

  const AbstractData* range[] = {&m, &m};
  list.insert(list.SEQUENCE_OF_Base::end(), range, range + 2);
  EXPECT_EQ(list.size(), 7u);
  EXPECT_NE(&list[6], &m);

  auto it = list.erase(list.begin() + 1);
  EXPECT_EQ(list.size(), 6u);
  EXPECT_EQ((*it).get_seq().getValue(), 9);
  list.erase(list.SEQUENCE_OF_Base::begin(), list.SEQUENCE_OF_Base::begin() + 3);
  EXPECT_EQ(list.size(), 3u);

  int present = 0;
  for (const TS::Message& e : static_cast<const TS::Batch::MessageList&>(list)) present += e.seq_isPresent();
  EXPECT_EQ(present, 2);

  list.resize(0);
  EXPECT_TRUE(list.empty());
  list.resize(1);
  list.clear();
  EXPECT_TRUE(list.empty());
}

TEST(SequenceOf, ComparisonAndCopies) {
  EXPECT_LT(numbers({1, 2})->compare(*numbers({1, 2, 3})), 0);
  EXPECT_GT(numbers({1, 3})->compare(*numbers({1, 2, 3})), 0);
  EXPECT_EQ(numbers({})->compare(*numbers({})), 0);

  auto a = numbers({4, 5});
  std::unique_ptr<AbstractData> c(a->clone());
  auto* copy = dynamic_cast<TS::Batch::NumberSet*>(c.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(*copy, *a);
  (*copy)[0] = 6;
  EXPECT_EQ((*a)[0].getValue(), 4);

  TS::Batch::NumberSet assigned;
  assigned = *a;
  EXPECT_EQ(assigned, *a);
  EXPECT_NE(&assigned[0], &(*a)[0]);
}

TEST(OpenData, Comparison) {
  ASN1::OpenData withData(new ASN1::INTEGER(3), &ASN1::OpenData::theInfo);
  ASN1::OpenData empty;
  ASN1::OpenData withBuf;
  withBuf.grab(new std::vector<char>{'\x80'});
  ASN1::OpenData lowBuf;
  lowBuf.grab(new std::vector<char>{'\x7f'});

  EXPECT_EQ(withData.compare(empty), 1);
  EXPECT_EQ(empty.compare(withBuf), -1);
  EXPECT_EQ(empty.compare(ASN1::OpenData()), 0);
  EXPECT_GT(withBuf.compare(lowBuf), 0);

  const ASN1::TypeConstrainedOpenData::InfoType typed = {&ASN1::TypeConstrainedOpenData::create, 0,
                                                         &ASN1::BOOLEAN::theInfo};
  std::unique_ptr<AbstractData> holder(AbstractData::create(&typed));
  auto* open = dynamic_cast<ASN1::TypeConstrainedOpenData*>(holder.get());
  ASSERT_NE(open, nullptr);
  ASSERT_TRUE(open->has_data());
  EXPECT_NE(dynamic_cast<ASN1::BOOLEAN*>(&open->get_data()), nullptr);
  std::unique_ptr<AbstractData> openCopy(open->clone());
  EXPECT_NE(dynamic_cast<ASN1::TypeConstrainedOpenData*>(openCopy.get()), nullptr);
  EXPECT_EQ(*openCopy, *open);

  ASN1::OpenData copy(withData);
  EXPECT_EQ(copy.compare(withData), 0);
  EXPECT_NE(&copy.get_data(), &withData.get_data());
  EXPECT_TRUE(empty.isEmpty());
}

}  // namespace
