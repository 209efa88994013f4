#include "asn1/visitor.h"

#include "asn1/constructed.h"
#include "asn1/strings.h"

namespace ASN1 {

bool Visitor::do_visit(IntegerWithNamedNumber& v) { return visit(static_cast<INTEGER&>(v)); }

bool Visitor::walk(SEQUENCE& seq) {
  int r = preVisitExtensionRoots(seq);
  if (r < NO_EXTENSION) return r != FAIL;
  const bool withExtensions = r == CONTINUE;

  const unsigned roots = seq.numFields();
  int last = -1;
  for (unsigned i = 0; i < roots; ++i) {
    const int bit = seq.getFieldId(i);
    r = visitExtensionRoot(seq, int(i), bit);
    if (r < NO_EXTENSION) return r != FAIL;
    if (bit != -1) last = bit;
  }
  if (!withExtensions) return true;

  r = preVisitExtensions(seq);
  if (r != CONTINUE) return r != FAIL;
  for (unsigned i = roots; i < seq.fieldCount(); ++i) {
    ++last;
    r = visitKnownExtension(seq, int(i), last);
    if (r != CONTINUE) return r != FAIL;
  }
  return visitUnknownExtensions(seq);
}

bool ConstVisitor::do_visit(const Null& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const BOOLEAN& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const INTEGER& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const IntegerWithNamedNumber& v) { return do_visit(static_cast<const INTEGER&>(v)); }
bool ConstVisitor::do_visit(const ENUMERATED& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const OBJECT_IDENTIFIER& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const BIT_STRING& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const OCTET_STRING& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const AbstractString& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const BMPString& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const CHOICE& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const OpenData& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const GeneralizedTime& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const SEQUENCE_OF_Base& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::preVisitExtensionRoots(const SEQUENCE& seq) {
  return do_visit(static_cast<const AbstractData&>(seq));
}

bool ConstVisitor::visit(const SEQUENCE& seq) {
  if (!preVisitExtensionRoots(seq)) return false;

  const unsigned roots = seq.numFields();
  int last = -1;
  for (unsigned i = 0; i < roots; ++i) {
    const int bit = seq.getFieldId(i);
    if (bit == -1 || seq.hasOptionalField(unsigned(bit))) {
      // A field that is due but was never made cannot be read.
      if (seq.getField(i) == nullptr || !visitExtensionRoot(seq, int(i))) return false;
    }
    if (bit != -1) last = bit;
  }

  if (seq.extensionMap().size() != 0) {
    if (!preVisitExtensions(seq)) return false;
    for (unsigned i = roots; i < seq.fieldCount(); ++i) {
      ++last;
      if (!seq.hasOptionalField(unsigned(last))) continue;
      if (seq.getField(i) == nullptr || !visitKnownExtension(seq, int(i))) return false;
    }
  }
  return afterVisitSequence(seq);
}

}  // namespace ASN1
