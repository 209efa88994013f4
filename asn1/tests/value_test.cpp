#include "asn1/tests/test_schema.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <typeinfo>

namespace {

TEST(CountBits, BitsForACountOfValues) {
  struct Case {
    unsigned n;
    unsigned bits;
  } const cases[] = {{0, 32},
                     {1, 0},
                     {2, 1},
                     {3, 2},
                     {4, 2},
                     {255, 8},
                     {256, 8},
                     {257, 9},
                     {65536, 16},
                     {65537, 17},
                     {0x80000000u, 31},
                     {0x80000001u, 32},
                     {0xFFFFFFFFu, 32}};
  for (const Case& c : cases) EXPECT_EQ(ASN1::CountBits(c.n), c.bits) << "n=" << c.n;
}

TEST(Scalars, NullAndBooleanOrder) {
  EXPECT_EQ(ASN1::Null().compare(ASN1::Null()), 0);
  EXPECT_EQ(ASN1::BOOLEAN(true).compare(ASN1::BOOLEAN(false)), 1);
  EXPECT_EQ(ASN1::BOOLEAN(false).compare(ASN1::BOOLEAN(true)), -1);
  EXPECT_TRUE(ASN1::BOOLEAN(true) == ASN1::BOOLEAN(true));
}

TEST(Scalars, IntegerComparisonIsThreeWay) {
  EXPECT_LT(ASN1::INTEGER(5).compare(ASN1::INTEGER(7)), 0);
  EXPECT_GT(ASN1::INTEGER(7).compare(ASN1::INTEGER(5)), 0);
  // A wrapping difference would order these the wrong way round.
  EXPECT_GT(ASN1::INTEGER(INT_MAX).compare(ASN1::INTEGER(-1)), 0);
  EXPECT_LT(ASN1::INTEGER(INT_MIN).compare(ASN1::INTEGER(1)), 0);
  EXPECT_EQ(ASN1::INTEGER(-4).compare(ASN1::INTEGER(-4)), 0);

  // 0..4294967295 holds values above INT_MAX: they order as unsigned.
  typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 0xFFFFFFFFu> U32;
  EXPECT_GT(U32(0xFFFFFFFFu).compare(U32(1u)), 0);
  typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, -128, 127> S8;
  EXPECT_LT(S8(static_cast<unsigned>(-128)).compare(S8(5u)), 0);
}

TEST(Scalars, ConstrainedIntegerStoresOutOfRangeValues) {
  TS::SlotNumber slot;
  slot = 5000u;
  EXPECT_EQ(slot.getValue(), 5000u);
  EXPECT_EQ(slot.info(), &TS::SlotNumber::theInfo);
  EXPECT_EQ(slot.getConstraintType(), ASN1::FixedConstraint);
  EXPECT_EQ(slot.getLowerLimit(), 0);
  EXPECT_EQ(slot.getUpperLimit(), 1023u);
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 127> seven(7u);
  EXPECT_EQ(3u + seven, 10u);

  std::unique_ptr<ASN1::AbstractData> copy(slot.clone());
  ASSERT_NE(dynamic_cast<TS::SlotNumber*>(copy.get()), nullptr);
  EXPECT_EQ(static_cast<TS::SlotNumber&>(*copy).getValue(), 5000u);
}

TEST(Enumerated, NamesWithExplicitValues) {
  TS::ErrorCause e;
  struct Case {
    int value;
    const char* name;
  } const cases[] = {{0, "ok"}, {32, "fsm"}, {64, "unexpected-command"}, {128, "hardware"}, {1, ""}, {33, ""},
                     {-1, ""},  {129, ""}};
  for (const Case& c : cases) {
    e.setFromInt(c.value);
    EXPECT_EQ(e.getName(), c.name) << c.value;
  }
  EXPECT_TRUE(e.setFromName("hardware"));
  EXPECT_EQ(e.asInt(), 128);
  EXPECT_EQ(TS::ErrorCause::NamedNumber(e), TS::ErrorCause::hardware);
  EXPECT_TRUE(e.setFromName("fsm"));
  EXPECT_EQ(e.asInt(), 32);
  EXPECT_FALSE(e.setFromName("fsm=32"));
  EXPECT_EQ(e.asInt(), 129);
  EXPECT_FALSE(e.setFromName("nonsense"));
  EXPECT_EQ(e.asInt(), 129);
  EXPECT_TRUE(e.extendable());
  EXPECT_EQ(e.getMaximum(), 128);
}

TEST(Enumerated, RepeatedAndNegativeValues) {
  TS::Colour c;
  EXPECT_EQ(c.getName(), "red");  // crimson shares 0; the first declared wins
  EXPECT_TRUE(c.setFromName("crimson"));
  EXPECT_EQ(c.asInt(), 0);
  EXPECT_TRUE(c.setFromName("violet"));
  EXPECT_EQ(c.asInt(), -3);
  EXPECT_TRUE(c.setFromName("indigo"));
  EXPECT_EQ(c.asInt(), -2);
  EXPECT_EQ(c.getName(), "indigo");
  c.setFromInt(2);
  EXPECT_EQ(c.getName(), "blue");
}

TEST(Enumerated, CompareAndAssignKeepTheType) {
  TS::ErrorCause a(TS::ErrorCause::fsm);
  TS::ErrorCause b(TS::ErrorCause::hardware);
  EXPECT_LT(a.compare(b), 0);
  a = b;
  EXPECT_EQ(a.asInt(), 128);
  EXPECT_EQ(a.info(), &TS::ErrorCause::theInfo);
  std::unique_ptr<ASN1::AbstractData> copy(a.clone());
  ASSERT_NE(dynamic_cast<TS::ErrorCause*>(copy.get()), nullptr);
  EXPECT_EQ(*copy, a);
}

const ASN1::IntegerWithNamedNumber::NameEntry kLevels[] = {{-1, "off"}, {0, "low"}, {0, "zero"}, {5, "high"}};
const ASN1::IntegerWithNamedNumber::InfoType kLevelInfo = {
    &ASN1::IntegerWithNamedNumber::create, 2, ASN1::Unconstrained, 0, 0xFFFFFFFFu, kLevels, 4};

TEST(IntegerWithNamedNumber, LookupBothWays) {
  ASN1::IntegerWithNamedNumber n(5, &kLevelInfo);
  std::string name = "untouched";
  EXPECT_TRUE(n.getName(name));
  EXPECT_EQ(name, "high");
  n = 0;
  EXPECT_TRUE(n.getName(name));
  EXPECT_EQ(name, "low");
  n = 3;
  name = "untouched";
  EXPECT_FALSE(n.getName(name));
  EXPECT_EQ(name, "untouched");
  EXPECT_TRUE(n.setFromName("off"));
  EXPECT_EQ(n.getValue(), -1);
  EXPECT_FALSE(n.setFromName("none"));
  EXPECT_EQ(n.getValue(), -1);
}

}  // namespace

// The coders and owners branch on the kind; a wrong one would decode or free
// a value as another class.
TEST(ValueKind, EveryClassNamesItsKind) {
  typedef ASN1::AbstractData AD;
  struct Case {
    std::shared_ptr<AD> value;
    AD::Kind kind;
  } const cases[] = {
      {std::make_shared<ASN1::Null>(), AD::nullKind},
      {std::make_shared<ASN1::BOOLEAN>(true), AD::booleanKind},
      {std::make_shared<ASN1::INTEGER>(5), AD::integerKind},
      {std::make_shared<TS::SlotNumber>(7u), AD::integerKind},
      {std::make_shared<TS::ErrorCause>(TS::ErrorCause::fsm), AD::enumeratedKind},
      {std::make_shared<TS::Pdu>(), AD::choiceKind},
      {std::make_shared<TS::Message>(), AD::sequenceKind},
      {std::make_shared<TS::Batch>(), AD::sequenceKind},
      {std::make_shared<TS::Batch::MessageList>(), AD::otherKind},
      {std::make_shared<ASN1::OCTET_STRING>(), AD::otherKind},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.value->kind(), c.kind) << typeid(*c.value).name();
    std::unique_ptr<AD> copy(c.value->clone());
    EXPECT_EQ(copy->kind(), c.kind) << typeid(*c.value).name();
  }
}

// Values freed by their kind give back what they hold: the sanitizer run
// reports a leak or a wrong free here.
TEST(ValueKind, OwnersFreeEveryKindTheyHold) {
  for (int id : {int(TS::Pdu::command_id), int(TS::Pdu::error_id), int(TS::Pdu::signal_id)}) {
    std::unique_ptr<TS::Pdu> pdu(new TS::Pdu);
    ASSERT_TRUE(pdu->select(id));
    std::unique_ptr<ASN1::AbstractData> copy(pdu->clone());
    EXPECT_EQ(*copy, *pdu);
  }
  TS::Batch batch;
  TS::Message m;
  m.set_seq(3);
  batch.ref_list().push_back(m);
  batch.ref_set().push_back(new ASN1::INTEGER(4));
  std::unique_ptr<ASN1::AbstractData> again(batch.clone());
  EXPECT_EQ(*again, batch);
}
