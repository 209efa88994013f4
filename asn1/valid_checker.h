#pragma once
// Constraint checks of a value, in two strengths, and a tracer that names
// the path to the first violation ("bad.pdu.list[2] The INTEGER value ...").

#include "asn1/visitor.h"

#include <iosfwd>
#include <sstream>
#include <string>

namespace ASN1 {

class ConstrainedObject;

class ValidChecker : public ConstVisitor {
protected:
  bool do_visit(const Null&) override { return true; }
  bool do_visit(const BOOLEAN&) override { return true; }
  bool do_visit(const INTEGER& v) override;
  bool do_visit(const ENUMERATED& v) override;
  bool do_visit(const OBJECT_IDENTIFIER& v) override;
  bool do_visit(const BIT_STRING& v) override;
  bool do_visit(const OCTET_STRING& v) override;
  bool do_visit(const AbstractString& v) override;
  bool do_visit(const BMPString& v) override;
  bool do_visit(const CHOICE& v) override;
  bool do_visit(const OpenData& v) override;
  bool do_visit(const GeneralizedTime& v) override;
  bool do_visit(const SEQUENCE_OF_Base& v) override;
  bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
  bool visitKnownExtension(const SEQUENCE& seq, int index) override;
};

class StrictlyValidChecker : public ConstVisitor {
protected:
  bool do_visit(const Null&) override { return true; }
  bool do_visit(const BOOLEAN&) override { return true; }
  bool do_visit(const INTEGER& v) override;
  bool do_visit(const ENUMERATED& v) override;
  bool do_visit(const OBJECT_IDENTIFIER& v) override;
  bool do_visit(const BIT_STRING& v) override;
  bool do_visit(const OCTET_STRING& v) override;
  bool do_visit(const AbstractString& v) override;
  bool do_visit(const BMPString& v) override;
  bool do_visit(const CHOICE& v) override;
  bool do_visit(const OpenData& v) override;
  bool do_visit(const GeneralizedTime& v) override;
  bool do_visit(const SEQUENCE_OF_Base& v) override;
  bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
  bool visitKnownExtension(const SEQUENCE& seq, int index) override;
};

// Collects an account of the first violation below a value; nothing for a
// value that passes.
class InvalidTracer : public ConstVisitor {
public:
  InvalidTracer() {}
  std::string text() const { return text_.str(); }

protected:
  bool do_visit(const Null&) override { return true; }
  bool do_visit(const BOOLEAN&) override { return true; }
  bool do_visit(const INTEGER& v) override;
  bool do_visit(const ENUMERATED& v) override;
  bool do_visit(const OBJECT_IDENTIFIER& v) override;
  bool do_visit(const BIT_STRING& v) override;
  bool do_visit(const OCTET_STRING& v) override;
  bool do_visit(const AbstractString& v) override;
  bool do_visit(const BMPString& v) override;
  bool do_visit(const CHOICE& v) override;
  bool do_visit(const OpenData& v) override;
  bool do_visit(const GeneralizedTime& v) override;
  bool do_visit(const SEQUENCE_OF_Base& v) override;
  bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
  bool visitKnownExtension(const SEQUENCE& seq, int index) override;

private:
  bool sizeFits(const char* what, const ConstrainedObject& v, unsigned size);

  std::stringstream text_;
};

std::ostream& operator<<(std::ostream& os, const InvalidTracer& tracer);

// True for a valid value, with nothing written; otherwise writes one line:
// prefix, the path to the first violation and what is wrong there.
bool trace_invalid(std::ostream& os, const char* prefix, const AbstractData& value);

}  // namespace ASN1
