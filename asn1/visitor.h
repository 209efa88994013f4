#pragma once
// Double-dispatch interfaces through which the coders and checkers walk a
// value. A SEQUENCE is walked by the runtime itself, which calls the hooks
// below in a fixed order, so every coder numbers optional and extension bits
// alike.

namespace ASN1 {

class AbstractData;
class Null;
class BOOLEAN;
class INTEGER;
class IntegerWithNamedNumber;
class ENUMERATED;
class OBJECT_IDENTIFIER;
class OCTET_STRING;
class BIT_STRING;
class AbstractString;
class BMPString;
class CHOICE;
class SEQUENCE;
class SEQUENCE_OF_Base;
class OpenData;
class TypeConstrainedOpenData;
class GeneralizedTime;
class CoderEnv;

// Modifying visitor: the decoders.
class Visitor {
public:
  // Step codes of the SEQUENCE hooks.
  enum VisitSeqResult {
    FAIL = 0,
    STOP = 1,          // the SEQUENCE is complete, the walk ends with success
    NO_EXTENSION = 2,  // go on, but the value carries no extension additions
    CONTINUE = 3
  };

  explicit Visitor(CoderEnv* env = nullptr) : env_(env) {}
  virtual ~Visitor() {}

  CoderEnv* get_env() const { return env_; }

  bool visit(Null& v) { return do_visit(v); }
  bool visit(BOOLEAN& v) { return do_visit(v); }
  bool visit(INTEGER& v) { return do_visit(v); }
  bool visit(IntegerWithNamedNumber& v) { return do_visit(v); }
  bool visit(ENUMERATED& v) { return do_visit(v); }
  bool visit(OBJECT_IDENTIFIER& v) { return do_visit(v); }
  bool visit(OCTET_STRING& v) { return do_visit(v); }
  bool visit(BIT_STRING& v) { return do_visit(v); }
  bool visit(AbstractString& v) { return do_visit(v); }
  bool visit(BMPString& v) { return do_visit(v); }
  bool visit(CHOICE& v) { return do_visit(v); }
  bool visit(SEQUENCE_OF_Base& v) { return do_visit(v); }
  bool visit(OpenData& v) { return do_visit(v); }
  bool revisit(OpenData& v) { return do_revisit(v); }
  bool visit(TypeConstrainedOpenData& v) { return do_visit(v); }
  bool visit(GeneralizedTime& v) { return do_visit(v); }
  bool visit(SEQUENCE& seq) { return do_visit(seq); }

protected:
  // The walk below through the hooks; a coder may read a SEQUENCE in one
  // piece instead, as long as it numbers the bits alike.
  virtual bool do_visit(SEQUENCE& seq) { return walk(seq); }
  bool walk(SEQUENCE& seq);

  virtual bool do_visit(Null& v) = 0;
  virtual bool do_visit(BOOLEAN& v) = 0;
  virtual bool do_visit(INTEGER& v) = 0;
  virtual bool do_visit(IntegerWithNamedNumber& v);
  virtual bool do_visit(ENUMERATED& v) = 0;
  virtual bool do_visit(OBJECT_IDENTIFIER& v) = 0;
  virtual bool do_visit(OCTET_STRING& v) = 0;
  virtual bool do_visit(BIT_STRING& v) = 0;
  virtual bool do_visit(AbstractString& v) = 0;
  virtual bool do_visit(BMPString& v) = 0;
  virtual bool do_visit(CHOICE& v) = 0;
  virtual bool do_visit(SEQUENCE_OF_Base& v) = 0;
  virtual bool do_visit(OpenData& v) = 0;
  virtual bool do_revisit(OpenData& v) = 0;
  virtual bool do_visit(TypeConstrainedOpenData& v) = 0;
  virtual bool do_visit(GeneralizedTime& v) = 0;

  virtual int preVisitExtensionRoots(SEQUENCE&) { return CONTINUE; }
  // optionalBit: -1 for a mandatory field; absent optional fields are passed too.
  virtual int visitExtensionRoot(SEQUENCE&, int /*index*/, int /*optionalBit*/) { return FAIL; }
  virtual int preVisitExtensions(SEQUENCE&) { return CONTINUE; }
  virtual int visitKnownExtension(SEQUENCE&, int /*index*/, int /*bit*/) { return FAIL; }
  virtual bool visitUnknownExtensions(SEQUENCE&) { return true; }

private:
  CoderEnv* env_;
};

// Reading visitor: the encoders, the value-notation writer and the checkers.
class ConstVisitor {
public:
  ConstVisitor() {}
  virtual ~ConstVisitor() {}

  bool visit(const Null& v) { return do_visit(v); }
  bool visit(const BOOLEAN& v) { return do_visit(v); }
  bool visit(const INTEGER& v) { return do_visit(v); }
  bool visit(const IntegerWithNamedNumber& v) { return do_visit(v); }
  bool visit(const ENUMERATED& v) { return do_visit(v); }
  bool visit(const OBJECT_IDENTIFIER& v) { return do_visit(v); }
  bool visit(const BIT_STRING& v) { return do_visit(v); }
  bool visit(const OCTET_STRING& v) { return do_visit(v); }
  bool visit(const AbstractString& v) { return do_visit(v); }
  bool visit(const BMPString& v) { return do_visit(v); }
  bool visit(const CHOICE& v) { return do_visit(v); }
  bool visit(const OpenData& v) { return do_visit(v); }
  bool visit(const GeneralizedTime& v) { return do_visit(v); }
  bool visit(const SEQUENCE_OF_Base& v) { return do_visit(v); }
  bool visit(const SEQUENCE& seq);

protected:
  virtual bool do_visit(const AbstractData&) { return true; }
  virtual bool do_visit(const Null& v);
  virtual bool do_visit(const BOOLEAN& v);
  virtual bool do_visit(const INTEGER& v);
  virtual bool do_visit(const IntegerWithNamedNumber& v);
  virtual bool do_visit(const ENUMERATED& v);
  virtual bool do_visit(const OBJECT_IDENTIFIER& v);
  virtual bool do_visit(const BIT_STRING& v);
  virtual bool do_visit(const OCTET_STRING& v);
  virtual bool do_visit(const AbstractString& v);
  virtual bool do_visit(const BMPString& v);
  virtual bool do_visit(const CHOICE& v);
  virtual bool do_visit(const OpenData& v);
  virtual bool do_visit(const GeneralizedTime& v);
  virtual bool do_visit(const SEQUENCE_OF_Base& v);

  virtual bool preVisitExtensionRoots(const SEQUENCE& seq);
  // Called for mandatory and present optional root fields only.
  virtual bool visitExtensionRoot(const SEQUENCE&, int /*index*/) { return false; }
  // Called when the value's extension map is not empty.
  virtual bool preVisitExtensions(const SEQUENCE&) { return true; }
  // Called for present known extensions only.
  virtual bool visitKnownExtension(const SEQUENCE&, int /*index*/) { return false; }
  virtual bool afterVisitSequence(const SEQUENCE&) { return true; }
};

}  // namespace ASN1
