#pragma once
// Aligned PER encoder (X.691 ALIGNED, with the fixed departures the
// controller and monitoring peers rely on; the decoder mirrors each one).

#include "asn1/visitor.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ASN1 {

class ConstrainedObject;

class PEREncoder : public ConstVisitor {
public:
  // Clears out and reserves room in it; the encoder only appends.
  PEREncoder(std::vector<char>& out, bool aligned = true);

  void encodeSingleBit(bool bit) { encodeMultiBit(bit ? 1u : 0u, 1); }
  void encodeMultiBit(unsigned value, unsigned n) {
    // Most fields fit the octet at hand or start a new one.
    if (freeBits_ != 8 && n <= freeBits_) {
      const unsigned last = static_cast<unsigned char>(out_.back());
      freeBits_ = static_cast<std::uint16_t>(freeBits_ - n);
      out_.back() = static_cast<char>(last | ((value & ((1u << n) - 1u)) << freeBits_));
      if (freeBits_ == 0) freeBits_ = 8;
      return;
    }
    if (freeBits_ == 8 && n != 0 && n <= 8) {
      freeBits_ = static_cast<std::uint16_t>(8 - n);
      out_.push_back(static_cast<char>((value & ((1u << n) - 1u)) << freeBits_));
      if (freeBits_ == 0) freeBits_ = 8;
      return;
    }
    encodeBitsAcross(value, n);
  }
  void encodeBitsAcross(unsigned value, unsigned n);
  void encodeBitMap(const std::vector<char>& bits, unsigned n) { encodeBitMap(bits.data(), bits.size(), n); }
  void encodeBitMap(const char* bits, std::size_t octets, unsigned n);
  void byteAlign() { freeBits_ = 8; }
  void encodeByte(unsigned octet);
  void encodeBlock(const char* p, unsigned n);
  void encodeSmallUnsigned(unsigned v);
  bool encodeUnsigned(unsigned v, unsigned lb, unsigned ub);
  // ub == 0x7FFFFFFF: no upper bound. Lengths above 16383 in the unbounded
  // form fail: there is no fragmentation.
  bool encodeLength(unsigned n, unsigned lb, unsigned ub);
  // Writes the extension bit of an extendable constraint; true tells the
  // caller to use the unconstrained form.
  bool encodeConstraint(const ConstrainedObject& obj, unsigned v);
  bool encodeConstrainedLength(const ConstrainedObject& obj, unsigned n);
  bool encodeAnyType(const AbstractData* value);

  bool aligned() const { return aligned_; }

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
  bool preVisitExtensions(const SEQUENCE& seq) override;
  bool visitKnownExtension(const SEQUENCE& seq, int index) override;

private:
  std::vector<char>& out_;
  std::uint16_t freeBits_;  // free low bits of the last octet; 8: none partly written
  bool aligned_;
};

}  // namespace ASN1
