#pragma once
// Basic Encoding Rules, definite lengths only. Tags come from the type
// records: a SEQUENCE field or CHOICE alternative replaces the value's own
// tag, and a CHOICE or open type under such a tag gets a wrapper header.

#include "asn1/visitor.h"

#include <cstdint>
#include <vector>

namespace ASN1 {

// Contents octets of an INTEGER or ENUMERATED value: 1 to 4.
unsigned getIntegerDataLength(int value);
// Contents length of a value as the encoder writes it.
unsigned getDataLength(const AbstractData& value);
// Length of the value encoded under tag; tag 0 means no header of its own.
unsigned getObjectLength(const AbstractData& value, unsigned tag);

class BEREncoder : public ConstVisitor {
public:
  explicit BEREncoder(std::vector<char>& out);

  void encodeByte(unsigned octet) { out_.push_back(static_cast<char>(octet)); }
  void encodeBlock(const char* p, unsigned n) { out_.insert(out_.end(), p, p + n); }
  bool encodeHeader(const AbstractData& value);

protected:
  bool do_visit(const Null& v) override;
  bool do_visit(const BOOLEAN& v) override;
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

  bool preVisitExtensionRoots(const SEQUENCE& seq) override;
  bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
  bool visitKnownExtension(const SEQUENCE& seq, int index) override;

private:
  void encodeInteger(int value);

  std::vector<char>& out_;
  std::uint32_t tag_;  // pending tag; all ones: the value's own tag applies
};

// Counts the contents octets a value encodes to.
class DataLengthCounter : public ConstVisitor {
public:
  DataLengthCounter() : length_(0) {}
  unsigned getDataLen() const { return length_; }
  // Identifier, length and contents octets under tag.
  unsigned getObjectLen(unsigned tag) const;

protected:
  bool do_visit(const Null& v) override;
  bool do_visit(const BOOLEAN& v) override;
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

  bool preVisitExtensionRoots(const SEQUENCE&) override { return true; }
  bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
  bool visitKnownExtension(const SEQUENCE& seq, int index) override;

private:
  unsigned length_;
};

// A visit returns true for a primitive encoding, false for a constructed one.
class PrimitiveChecker : public ConstVisitor {
protected:
  bool do_visit(const CHOICE& v) override;
  bool do_visit(const OpenData& v) override;
  bool do_visit(const SEQUENCE_OF_Base&) override { return false; }
  bool preVisitExtensionRoots(const SEQUENCE&) override { return false; }
};

class BERDecoder : public Visitor {
public:
  BERDecoder(const char* begin, const char* end, CoderEnv* env = nullptr);

  // The caller makes sure that the input has not ended.
  unsigned decodeByte() { return static_cast<unsigned char>(*pos_++); }
  bool atEnd() const { return pos_ >= end_; }
  void rollback(const char* p) { pos_ = p; }
  unsigned decodeBlock(char* dst, unsigned n);
  // Reads identifier and length octets. Fails on input that ends inside
  // them, on the indefinite form and on contents that run past the input.
  bool decodeHeader(unsigned& tag, bool& primitive, unsigned& length);
  // The same, and the tag must be the value's own (or, once, a field or
  // alternative tag in its place); a refused header is not consumed.
  bool decodeHeader(AbstractData& value, unsigned& length);
  bool decodeChoicePreamle(CHOICE& choice, const char*& end);

protected:
  bool do_visit(Null& v) override;
  bool do_visit(BOOLEAN& v) override;
  bool do_visit(INTEGER& v) override;
  bool do_visit(ENUMERATED& v) override;
  bool do_visit(OBJECT_IDENTIFIER& v) override;
  bool do_visit(OCTET_STRING& v) override;
  bool do_visit(BIT_STRING& v) override;
  bool do_visit(AbstractString& v) override;
  bool do_visit(BMPString& v) override;
  bool do_visit(CHOICE& v) override;
  bool do_visit(SEQUENCE_OF_Base& v) override;
  bool do_visit(OpenData& v) override;
  bool do_revisit(OpenData& v) override;
  bool do_visit(TypeConstrainedOpenData& v) override;
  bool do_visit(GeneralizedTime& v) override;

  int preVisitExtensionRoots(SEQUENCE& seq) override;
  int visitExtensionRoot(SEQUENCE& seq, int index, int optionalBit) override;
  int visitKnownExtension(SEQUENCE& seq, int index, int bit) override;
  bool visitUnknownExtensions(SEQUENCE& seq) override;

private:
  struct Frame {
    const char* contentEnd;
    const char* outerEnd;
  };

  bool decodeSignedContents(unsigned length, int& value);
  // Reads value with the input cut at limit, then moves to limit.
  bool decodeWithin(AbstractData& value, const char* limit);
  // The header of an open type: its wrapper when it is under a tag, else
  // the contained value's own header, which is left in place.
  bool openTypeExtent(const AbstractData& open, const char*& begin, const char*& end);

  const char* pos_;
  const char* end_;
  std::vector<Frame> sequences_;
  int skip_;  // headers that may carry a field or alternative tag
};

}  // namespace ASN1
