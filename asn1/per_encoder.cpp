#include "asn1/per_encoder.h"

#include "asn1/constructed.h"
#include "asn1/strings.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace ASN1 {

namespace {

const unsigned kUnbounded = 0x7FFFFFFF;

// Unsigned unless the lower bound is negative (a -128..127 field exists).
bool withinBounds(unsigned v, unsigned lb, unsigned ub) {
  if (static_cast<std::int32_t>(lb) < 0)
    return static_cast<std::int32_t>(v) >= static_cast<std::int32_t>(lb) &&
           static_cast<std::int32_t>(v) <= static_cast<std::int32_t>(ub);
  return v >= lb && v <= ub;
}

// Known extension additions marked present; unknown ones kept from a decoded
// value are never written back.
unsigned writtenExtensions(const SEQUENCE& seq) { return std::min(seq.extensionMap().size(), seq.knownExtensions()); }

bool anyKnownExtension(const SEQUENCE& seq) {
  const unsigned n = writtenExtensions(seq);
  for (unsigned k = 0; k < n; ++k)
    if (seq.extensionMap()[k]) return true;
  return false;
}

}  // namespace

PEREncoder::PEREncoder(std::vector<char>& out, bool aligned) : out_(out), freeBits_(8), aligned_(aligned) {
  out_.clear();
  out_.reserve(256);
}

void PEREncoder::encodeBitsAcross(unsigned value, unsigned n) {
  if (n > 32) n = 32;
  if (n == 0) return;
  std::uint64_t bits = n < 32 ? value & ((1u << n) - 1u) : value;
  if (freeBits_ != 8) {
    // Fill the partly written octet first.
    const unsigned room = freeBits_;
    const unsigned last = static_cast<unsigned char>(out_.back());
    if (n <= room) {
      out_.back() = static_cast<char>(last | unsigned(bits << (room - n)));
      freeBits_ = static_cast<std::uint16_t>(room - n == 0 ? 8 : room - n);
      return;
    }
    n -= room;
    out_.back() = static_cast<char>(last | unsigned(bits >> n));
    bits &= (std::uint64_t(1) << n) - 1u;
  }
  // Whole octets, then the rest at the top of a new one.
  const unsigned rest = n % 8;
  for (unsigned i = n / 8; i-- > 0;) out_.push_back(static_cast<char>(bits >> (8 * i + rest)));
  if (rest) {
    out_.push_back(static_cast<char>((bits & ((1u << rest) - 1u)) << (8 - rest)));
    freeBits_ = static_cast<std::uint16_t>(8 - rest);
  } else {
    freeBits_ = 8;
  }
}

void PEREncoder::encodeBitMap(const char* bits, std::size_t octets, unsigned n) {
  auto octet = [bits, octets](unsigned i) { return i < octets ? static_cast<unsigned char>(bits[i]) : 0u; };
  unsigned i = 0;
  for (; i < n / 8; ++i) encodeMultiBit(octet(i), 8);
  if (n % 8) encodeMultiBit(octet(i) >> (8 - n % 8), n % 8);
}

void PEREncoder::encodeByte(unsigned octet) {
  byteAlign();
  out_.push_back(static_cast<char>(octet & 0xFFu));
}

void PEREncoder::encodeBlock(const char* p, unsigned n) {
  if (n == 0) return;
  byteAlign();
  out_.insert(out_.end(), p, p + n);
}

void PEREncoder::encodeSmallUnsigned(unsigned v) {
  if (v <= 63) {
    encodeMultiBit(v, 7);
    return;
  }
  encodeSingleBit(true);
  const unsigned k = v < 0x100u ? 1 : v < 0x10000u ? 2 : v < 0x1000000u ? 3 : 4;
  encodeLength(k, 0, kUnbounded);
  byteAlign();
  encodeMultiBit(v, 8 * k);
}

bool PEREncoder::encodeUnsigned(unsigned v, unsigned lb, unsigned ub) {
  if (!withinBounds(v, lb, ub)) return false;
  if (lb == ub) return true;
  const unsigned range = ub - lb + 1u;
  const unsigned offset = v - lb;
  const unsigned bits = CountBits(range);
  if (!aligned_ || (range >= 1 && range <= 255)) {
    encodeMultiBit(offset, bits);
  } else if (bits == 8) {
    byteAlign();
    encodeMultiBit(offset, 8);
  } else if (bits <= 16) {
    byteAlign();
    encodeMultiBit(offset, 16);
  } else {
    const unsigned k = offset == 0 ? 1 : (CountBits(offset + 1u) + 7) / 8;
    if (!encodeLength(k, 1, (bits + 7) / 8)) return false;
    byteAlign();
    encodeMultiBit(offset, 8 * k);
  }
  return true;
}

bool PEREncoder::encodeLength(unsigned n, unsigned lb, unsigned ub) {
  if (n < lb || n > ub) return false;
  if (ub != kUnbounded && !aligned_) {
    encodeMultiBit(n - lb, CountBits(ub - lb + 1u));
    return true;
  }
  if (ub <= 65535) return encodeUnsigned(n, lb, ub);
  byteAlign();
  if (n <= 127) {
    encodeMultiBit(n, 8);
    return true;
  }
  if (n <= 16383) {
    encodeMultiBit(0x8000u | n, 16);
    return true;
  }
  return false;
}

bool PEREncoder::encodeConstraint(const ConstrainedObject& obj, unsigned v) {
  switch (obj.getConstraintType()) {
    case ExtendableConstraint: {
      const bool outside = !withinBounds(v, static_cast<unsigned>(obj.getLowerLimit()), obj.getUpperLimit());
      encodeSingleBit(outside);
      return outside;
    }
    case FixedConstraint:
      return false;
    default:
      return true;
  }
}

bool PEREncoder::encodeConstrainedLength(const ConstrainedObject& obj, unsigned n) {
  if (encodeConstraint(obj, n)) return encodeLength(n, 0, kUnbounded);
  return encodeLength(n, static_cast<unsigned>(obj.getLowerLimit()), obj.getUpperLimit());
}

bool PEREncoder::encodeAnyType(const AbstractData* value) {
  std::vector<char> content;
  if (value != nullptr) {
    PEREncoder inner(content, aligned_);
    if (!value->accept(inner)) return false;
  }
  if (content.empty()) content.push_back(0);
  const unsigned n = static_cast<unsigned>(content.size());
  if (content.size() > kUnbounded || !encodeLength(n, 0, kUnbounded)) return false;
  encodeBlock(content.data(), n);
  return true;
}

bool PEREncoder::do_visit(const Null&) { return true; }

bool PEREncoder::do_visit(const BOOLEAN& v) {
  encodeSingleBit(bool(v));
  return true;
}

bool PEREncoder::do_visit(const INTEGER& v) {
  const std::int32_t value = v.getValue();
  if (encodeConstraint(v, static_cast<unsigned>(value))) {
    // Two's complement in the fewest octets, also for a lower bound alone.
    const unsigned u = static_cast<unsigned>(value);
    const unsigned bits = value > 0 ? CountBits(u + 1u) + 1 : value < 0 ? CountBits(0u - u) + 1 : 1;
    const unsigned octets = std::min(4u, (bits + 7) / 8);
    encodeLength(octets, 0, kUnbounded);
    encodeMultiBit(u, 8 * octets);
    return true;
  }
  return encodeUnsigned(static_cast<unsigned>(value), static_cast<unsigned>(v.getLowerLimit()), v.getUpperLimit());
}

bool PEREncoder::do_visit(const ENUMERATED& v) {
  const std::int32_t value = v.asInt();
  const std::int32_t maximum = v.getMaximum();
  if (v.extendable()) {
    const bool beyond = value > maximum;
    encodeSingleBit(beyond);
    if (beyond) {
      // The value itself, not its distance from the root as in X.691.
      const unsigned u = static_cast<unsigned>(value);
      encodeSmallUnsigned(u + 1u);
      return encodeUnsigned(u, 0, u);
    }
  }
  if (value < 0 || maximum < 0) return false;
  // The bounds refuse an index past a closed type's last value, which the
  // decoder keeps as read.
  return encodeUnsigned(static_cast<unsigned>(value), 0, static_cast<unsigned>(maximum));
}

bool PEREncoder::do_visit(const OBJECT_IDENTIFIER& v) {
  std::vector<char> contents;
  v.encodeCommon(contents);
  if (contents.size() > 255) return false;
  const unsigned n = static_cast<unsigned>(contents.size());
  if (!encodeLength(n, 0, 255)) return false;
  encodeBlock(contents.data(), n);
  return true;
}

bool PEREncoder::do_visit(const BIT_STRING& v) {
  const unsigned n = v.size();
  if (!encodeConstrainedLength(v, n)) return false;
  if (n == 0) return true;
  if (n > 16 && aligned_) {
    const unsigned octets = (n + 7) / 8;
    if (v.getData().size() < octets) return false;
    encodeBlock(v.getData().data(), octets);
    return true;
  }
  // Up to 16 bits stay an unaligned bit field.
  encodeBitMap(v.getData(), n);
  return true;
}

bool PEREncoder::do_visit(const OCTET_STRING& v) {
  if (v.size() > kUnbounded) return false;
  const unsigned n = static_cast<unsigned>(v.size());
  if (!encodeConstrainedLength(v, n)) return false;
  // One or two octets are unaligned bit fields whatever the size constraint.
  if (n == 1 || n == 2) {
    for (unsigned i = 0; i < n; ++i) encodeMultiBit(static_cast<unsigned char>(v[i]), 8);
    return true;
  }
  encodeBlock(v.data(), n);
  return true;
}

bool PEREncoder::do_visit(const AbstractString& v) {
  if (v.size() > kUnbounded) return false;
  const unsigned n = static_cast<unsigned>(v.size());
  if (!encodeConstrainedLength(v, n)) return false;
  const unsigned b = v.getNumBits(aligned_);
  if (v.getConstraintType() == Unconstrained || std::uint64_t(v.getUpperLimit()) * b >= 17) {
    if (b == 8) {
      encodeBlock(v.data(), n);
      return true;
    }
    if (aligned_) byteAlign();
  }
  const bool byCode = v.getCanonicalSetBits() <= b && v.getCanonicalSetBits() > 4;
  const char* set = v.getCharacterSet();
  const unsigned setSize = v.getCharacterSetSize();
  for (unsigned i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(v[i]);
    if (byCode) {
      encodeMultiBit(c, b);
      continue;
    }
    const void* at = set != nullptr ? std::memchr(set, c, setSize) : nullptr;
    if (at == nullptr) return false;
    encodeMultiBit(static_cast<unsigned>(static_cast<const char*>(at) - set), b);
  }
  return true;
}

bool PEREncoder::do_visit(const BMPString& v) {
  if (v.size() > kUnbounded) return false;
  const unsigned n = static_cast<unsigned>(v.size());
  if (!encodeConstrainedLength(v, n)) return false;
  const unsigned b = v.getNumBits(aligned_);
  if (aligned_ && (v.getConstraintType() == Unconstrained || std::uint64_t(v.getUpperLimit()) * b > 16)) byteAlign();
  const unsigned first = static_cast<unsigned>(v.getFirstChar());
  for (unsigned i = 0; i < n; ++i) encodeMultiBit(static_cast<unsigned>(v[i]) - first, b);
  return true;
}

bool PEREncoder::do_visit(const CHOICE& v) {
  const int index = v.currentSelection();
  if (index < 0) return false;
  const unsigned roots = v.getNumChoices();
  const bool extension = unsigned(index) >= roots;
  if (v.extendable())
    encodeSingleBit(extension);
  else if (extension)
    return false;
  if (extension) {
    encodeSmallUnsigned(unsigned(index) - roots);
    return encodeAnyType(v.getSelection());
  }
  if (v.getSelection() == nullptr) return false;
  if (roots > 1 && !encodeUnsigned(unsigned(index), 0, roots - 1)) return false;
  return v.getSelection()->accept(*this);
}

bool PEREncoder::do_visit(const OpenData& v) {
  if (v.has_data() || !v.has_buf()) return encodeAnyType(v.has_data() ? &v.get_data() : nullptr);
  // Octets received but never decoded go out again as they came.
  const std::vector<char>& buf = v.get_buf();
  if (buf.empty()) return encodeAnyType(nullptr);
  if (buf.size() > kUnbounded || !encodeLength(static_cast<unsigned>(buf.size()), 0, kUnbounded)) return false;
  encodeBlock(buf.data(), static_cast<unsigned>(buf.size()));
  return true;
}

bool PEREncoder::do_visit(const GeneralizedTime& v) {
  const std::string text = v.get();
  const unsigned n = static_cast<unsigned>(text.size());
  if (!encodeLength(n, 0, 4294967295u)) return false;
  encodeBlock(text.data(), n);
  return true;
}

bool PEREncoder::do_visit(const SEQUENCE_OF_Base& v) {
  if (v.size() > kUnbounded) return false;
  if (!encodeConstrainedLength(v, static_cast<unsigned>(v.size()))) return false;
  for (const AbstractData* element : v)
    if (element == nullptr || !element->accept(*this)) return false;
  return true;
}

bool PEREncoder::preVisitExtensionRoots(const SEQUENCE& seq) {
  if (seq.extendable()) encodeSingleBit(anyKnownExtension(seq));
  encodeBitMap(seq.optionalMap().bitData(), seq.optionalMap().octets(), seq.numOptional());
  return true;
}

bool PEREncoder::visitExtensionRoot(const SEQUENCE& seq, int index) {
  const AbstractData* field = seq.getField(unsigned(index));
  return field != nullptr && field->accept(*this);
}

bool PEREncoder::preVisitExtensions(const SEQUENCE& seq) {
  if (!seq.extendable() || !anyKnownExtension(seq)) return true;
  // The map runs to the highest addition ever marked, not to the type's count.
  const unsigned n = writtenExtensions(seq);
  encodeSmallUnsigned(n - 1);
  encodeBitMap(seq.extensionMap().bitData(), seq.extensionMap().octets(), n);
  return true;
}

bool PEREncoder::visitKnownExtension(const SEQUENCE& seq, int index) {
  if (!seq.extendable() || !anyKnownExtension(seq)) return true;
  return encodeAnyType(seq.getField(unsigned(index)));
}

}  // namespace ASN1
