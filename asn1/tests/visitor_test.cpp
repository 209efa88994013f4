#include "asn1/tests/test_schema.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ASN1::SEQUENCE;

// Records every SEQUENCE hook; the step codes it returns are set per test.
class RecordingVisitor : public ASN1::Visitor {
public:
  std::vector<std::string> calls;
  int preRoots = CONTINUE;
  int root = CONTINUE;
  int preExtensions = CONTINUE;
  int known = CONTINUE;
  bool unknown = true;

protected:
  bool do_visit(ASN1::Null&) override { return note("null"); }
  bool do_visit(ASN1::BOOLEAN&) override { return note("boolean"); }
  bool do_visit(ASN1::INTEGER&) override { return note("integer"); }
  bool do_visit(ASN1::ENUMERATED&) override { return note("enumerated"); }
  bool do_visit(ASN1::OBJECT_IDENTIFIER&) override { return note("oid"); }
  bool do_visit(ASN1::OCTET_STRING&) override { return note("octets"); }
  bool do_visit(ASN1::BIT_STRING&) override { return note("bits"); }
  bool do_visit(ASN1::AbstractString&) override { return note("string"); }
  bool do_visit(ASN1::BMPString&) override { return note("bmp"); }
  bool do_visit(ASN1::CHOICE&) override { return note("choice"); }
  bool do_visit(ASN1::SEQUENCE_OF_Base&) override { return note("list"); }
  bool do_visit(ASN1::OpenData&) override { return note("open"); }
  bool do_revisit(ASN1::OpenData&) override { return note("reopen"); }
  bool do_visit(ASN1::TypeConstrainedOpenData&) override { return note("typed-open"); }
  bool do_visit(ASN1::GeneralizedTime&) override { return note("time"); }

  int preVisitExtensionRoots(SEQUENCE&) override {
    note("preRoots");
    return preRoots;
  }
  int visitExtensionRoot(SEQUENCE&, int index, int bit) override {
    note("root " + std::to_string(index) + "/" + std::to_string(bit));
    return root;
  }
  int preVisitExtensions(SEQUENCE&) override {
    note("preExt");
    return preExtensions;
  }
  int visitKnownExtension(SEQUENCE&, int index, int bit) override {
    note("ext " + std::to_string(index) + "/" + std::to_string(bit));
    return known;
  }
  bool visitUnknownExtensions(SEQUENCE&) override {
    note("unknown");
    return unknown;
  }

private:
  bool note(const std::string& s) {
    calls.push_back(s);
    return true;
  }
};

typedef std::vector<std::string> Calls;

TEST(VisitorWalk, PassesEveryFieldWithItsBit) {
  TS::Params p;
  RecordingVisitor v;
  EXPECT_TRUE(p.accept(v));
  EXPECT_EQ(v.calls, (Calls{"preRoots", "root 0/0", "root 1/-1", "root 2/1", "preExt", "ext 3/2", "ext 4/3", "ext 5/4",
                            "unknown"}));
}

TEST(VisitorWalk, StepCodesEndTheWalk) {
  struct Case {
    const char* what;
    int preRoots, root, preExtensions, known;
    bool result;
    Calls calls;
  } const cases[] = {
      {"finished before the roots", 1, 3, 3, 3, true, {"preRoots"}},
      {"failed before the roots", 0, 3, 3, 3, false, {"preRoots"}},
      {"no extensions", 2, 3, 3, 3, true, {"preRoots", "root 0/0", "root 1/-1", "root 2/1"}},
      {"root code 2 goes on",
       3,
       2,
       3,
       3,
       true,
       {"preRoots", "root 0/0", "root 1/-1", "root 2/1", "preExt", "ext 3/2", "ext 4/3", "ext 5/4", "unknown"}},
      {"root fails", 3, 0, 3, 3, false, {"preRoots", "root 0/0"}},
      {"root finishes", 3, 1, 3, 3, true, {"preRoots", "root 0/0"}},
      {"extensions refused", 3, 3, 2, 3, true, {"preRoots", "root 0/0", "root 1/-1", "root 2/1", "preExt"}},
      {"known finishes", 3, 3, 3, 1, true, {"preRoots", "root 0/0", "root 1/-1", "root 2/1", "preExt", "ext 3/2"}},
      {"known fails", 3, 3, 3, 0, false, {"preRoots", "root 0/0", "root 1/-1", "root 2/1", "preExt", "ext 3/2"}},
  };
  for (const Case& c : cases) {
    TS::Params p;
    RecordingVisitor v;
    v.preRoots = c.preRoots;
    v.root = c.root;
    v.preExtensions = c.preExtensions;
    v.known = c.known;
    EXPECT_EQ(p.accept(v), c.result) << c.what;
    EXPECT_EQ(v.calls, c.calls) << c.what;
  }
}

TEST(VisitorWalk, EmptySequenceAndUnknownExtensions) {
  TS::Empty e;
  RecordingVisitor v;
  EXPECT_TRUE(e.accept(v));
  EXPECT_EQ(v.calls, (Calls{"preRoots", "preExt", "unknown"}));

  RecordingVisitor refusing;
  refusing.unknown = false;
  EXPECT_FALSE(e.accept(refusing));
}

class Defaults : public ASN1::Visitor {
protected:
  bool do_visit(ASN1::Null&) override { return true; }
  bool do_visit(ASN1::BOOLEAN&) override { return true; }
  bool do_visit(ASN1::INTEGER&) override { return true; }
  bool do_visit(ASN1::ENUMERATED&) override { return true; }
  bool do_visit(ASN1::OBJECT_IDENTIFIER&) override { return true; }
  bool do_visit(ASN1::OCTET_STRING&) override { return true; }
  bool do_visit(ASN1::BIT_STRING&) override { return true; }
  bool do_visit(ASN1::AbstractString&) override { return true; }
  bool do_visit(ASN1::BMPString&) override { return true; }
  bool do_visit(ASN1::CHOICE&) override { return true; }
  bool do_visit(ASN1::SEQUENCE_OF_Base&) override { return true; }
  bool do_visit(ASN1::OpenData&) override { return true; }
  bool do_revisit(ASN1::OpenData&) override { return true; }
  bool do_visit(ASN1::TypeConstrainedOpenData&) override { return true; }
  bool do_visit(ASN1::GeneralizedTime&) override { return true; }
};

TEST(VisitorWalk, DefaultHooksFailOnTheFirstField) {
  Defaults d;
  TS::Message m;
  EXPECT_FALSE(m.accept(d));
  TS::Empty e;
  EXPECT_TRUE(e.accept(d));
}

// Records the fields a reading walk passes.
class ReadingVisitor : public ASN1::ConstVisitor {
public:
  Calls calls;
  int integers = 0;

protected:
  bool do_visit(const ASN1::INTEGER&) override {
    ++integers;
    return true;
  }
  bool preVisitExtensionRoots(const SEQUENCE&) override { return note("preRoots"); }
  bool visitExtensionRoot(const SEQUENCE& s, int index) override {
    note(std::string("root ") + s.getFieldName(unsigned(index)));
    return s.getField(unsigned(index))->accept(*this);
  }
  bool preVisitExtensions(const SEQUENCE&) override { return note("preExt"); }
  bool visitKnownExtension(const SEQUENCE& s, int index) override {
    return note(std::string("ext ") + s.getFieldName(unsigned(index)));
  }
  bool afterVisitSequence(const SEQUENCE&) override { return note("after"); }

private:
  bool note(const std::string& s) {
    calls.push_back(s);
    return true;
  }
};

TEST(ConstVisitorWalk, SkipsAbsentFields) {
  TS::Params p;
  ReadingVisitor r;
  EXPECT_TRUE(p.accept(r));
  EXPECT_EQ(r.calls, (Calls{"preRoots", "root b", "after"}));

  p.includeOptionalField(1, 2);
  p.set_y({'x'});
  ReadingVisitor r2;
  EXPECT_TRUE(p.accept(r2));
  EXPECT_EQ(r2.calls, (Calls{"preRoots", "root b", "root c", "preExt", "ext y", "after"}));

  // Known additions that were marked and dropped still open the extension part.
  p.removeOptionalField(3);
  ReadingVisitor r3;
  EXPECT_TRUE(p.accept(r3));
  EXPECT_EQ(r3.calls, (Calls{"preRoots", "root b", "root c", "preExt", "after"}));

  TS::Empty e;
  ReadingVisitor r4;
  EXPECT_TRUE(e.accept(r4));
  EXPECT_EQ(r4.calls, (Calls{"preRoots", "after"}));
}

TEST(ConstVisitorWalk, NamedNumberIntegersReachTheIntegerHook) {
  static const ASN1::IntegerWithNamedNumber::InfoType info = {
      &ASN1::IntegerWithNamedNumber::create, 2, ASN1::Unconstrained, 0, 0xFFFFFFFFu, nullptr, 0};
  ASN1::IntegerWithNamedNumber n(3, &info);
  ReadingVisitor r;
  EXPECT_TRUE(n.accept(r));
  EXPECT_EQ(r.integers, 1);
}

TEST(ConstVisitorWalk, DefaultsAcceptAllButSequencesWithFields) {
  ASN1::ConstVisitor plain;
  ASN1::Null null;
  ASN1::OCTET_STRING octets;
  ASN1::GeneralizedTime time;
  ASN1::OpenData open;
  TS::Pdu pdu;
  TS::Batch::NumberSet list;
  const ASN1::AbstractData* values[] = {&null, &octets, &time, &open, &pdu, &list};
  for (const ASN1::AbstractData* v : values) EXPECT_TRUE(v->accept(plain));

  EXPECT_FALSE(TS::Message().accept(plain));
  TS::Empty empty;
  EXPECT_TRUE(static_cast<const ASN1::AbstractData&>(empty).accept(plain));
}

// A field that is due but was never made fails the reading walk instead of
// handing a missing value to the visitor.
TEST(ConstVisitorWalk, MissingDueFieldFails) {
  TS::Params p;
  p.optionalMap().set(0);
  ReadingVisitor r;
  EXPECT_FALSE(p.accept(r));
}

}  // namespace
