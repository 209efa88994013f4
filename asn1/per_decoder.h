#pragma once
// Aligned PER decoder: the mirror of PEREncoder. It faces whatever a peer
// sends, so every length and count is checked against the remaining input
// and the local limits before anything is allocated.

#include "asn1/visitor.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ASN1 {

class ConstrainedObject;

// Largest SEQUENCE OF count and extension presence map.
extern unsigned MaximumArraySize;
// Largest OCTET STRING (octets), BIT STRING (bits) or character string.
extern unsigned MaximumStringSize;

class PERDecoder final : public Visitor {
public:
  struct memento_type {
    memento_type() : position(nullptr), bitsLeft(8) {}
    memento_type(const char* p, unsigned bits) : position(p), bitsLeft(bits) {}
    const char* position;  // null: nothing saved
    unsigned bitsLeft;
  };

  PERDecoder(const char* begin, const char* end, CoderEnv* env = nullptr, bool aligned = true);
  ~PERDecoder() override {}

  // 0 also when no bit is left; callers that care test atEnd() first.
  unsigned decodeSingleBit();
  bool decodeMultiBit(unsigned n, unsigned& v) {
    // Most fields lie within the octet at hand.
    if (n <= unread_ && pos_ < end_) {
      v = (static_cast<unsigned char>(*pos_) >> (unread_ - n)) & ((1u << n) - 1u);
      unread_ = static_cast<std::uint16_t>(unread_ - n);
      if (unread_ == 0) {
        ++pos_;
        unread_ = 8;
      }
      return true;
    }
    return decodeBitsAcross(n, v);
  }
  // Fills the first ceil(n/8) octets of bits, which must be that large.
  bool decodeBitMap(std::vector<char>& bits, unsigned n) { return decodeBitMap(bits.data(), bits.size(), n); }
  bool decodeBitMap(char* bits, std::size_t octets, unsigned n);
  bool decodeSmallUnsigned(unsigned& v);
  int decodeUnsigned(unsigned lb, unsigned ub, unsigned& v);
  int decodeLength(unsigned lb, unsigned ub, unsigned& n);
  int decodeConstrainedLength(ConstrainedObject& obj, unsigned& n);
  unsigned decodeBlock(char* dst, unsigned n);
  void byteAlign();
  unsigned getBitsLeft() const;
  bool atEnd() const { return pos_ >= end_; }
  void setPosition(const char* p);
  void rollback(const memento_type& m);
  bool decodeChoicePreamle(CHOICE& choice, memento_type& m);
  bool aligned() const { return aligned_; }

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
  bool do_visit(SEQUENCE& v) override;
  bool do_visit(SEQUENCE_OF_Base& v) override;
  bool do_visit(OpenData& v) override;
  bool do_revisit(OpenData& v) override;
  bool do_visit(TypeConstrainedOpenData& v) override;
  bool do_visit(GeneralizedTime& v) override;

  int preVisitExtensionRoots(SEQUENCE& seq) override;
  int visitExtensionRoot(SEQUENCE& seq, int index, int optionalBit) override;
  int preVisitExtensions(SEQUENCE& seq) override;
  int visitKnownExtension(SEQUENCE& seq, int index, int bit) override;
  bool visitUnknownExtensions(SEQUENCE& seq) override;

private:
  bool readBit(unsigned& bit);
  // Reads an open-type length; contentEnd is where its octets end, which
  // must lie within the input.
  bool openTypeEnd(const char*& contentEnd);
  bool decodeBitsAcross(unsigned n, unsigned& v);
  // Decodes value from the octets up to contentEnd only, then moves there.
  bool decodeBounded(AbstractData& value, const char* contentEnd);
  // A value inside a constructed one; the common classes are reached by
  // their kind, without the value's and the visitor's dispatch.
  bool decodeField(AbstractData& value);

  const char* pos_;
  const char* end_;
  std::uint16_t unread_;  // unread low bits of *pos_; 8: at an octet boundary
  bool aligned_;
};

}  // namespace ASN1
