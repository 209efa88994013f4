#include "asn1/per_decoder.h"

#include "asn1/constructed.h"
#include "asn1/strings.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace ASN1 {

unsigned MaximumArraySize = 128;
unsigned MaximumStringSize = 16384;

namespace {
const unsigned kUnbounded = 0x7FFFFFFF;
}  // namespace

PERDecoder::PERDecoder(const char* begin, const char* end, CoderEnv* env, bool aligned)
    : Visitor(env), pos_(begin), end_(end < begin ? begin : end), unread_(8), aligned_(aligned) {}

unsigned PERDecoder::getBitsLeft() const {
  if (pos_ >= end_) return 0;
  const std::uint64_t bits = std::uint64_t(end_ - pos_) * 8 + unread_ - 8;
  return bits > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned>(bits);
}

// Reads through a window of the next eight octets: one load and one shift
// per field instead of a step per octet.
bool PERDecoder::decodeBitsAcross(unsigned n, unsigned& v) {
  if (n > 32) return false;
  const std::size_t octets = pos_ < end_ ? std::size_t(end_ - pos_) : 0;
  const unsigned used = 8u - unread_;
  if (std::uint64_t(n) + used > std::uint64_t(octets) * 8) {
    if (n != 0) return false;
    v = 0;
    return true;
  }
  if (n == 0) {
    v = 0;
    return true;
  }
  std::uint64_t window = 0;
  if (octets >= 8) {
    std::memcpy(&window, pos_, 8);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    window = __builtin_bswap64(window);
#endif
  } else {
    const unsigned need = (used + n + 7) / 8;
    for (unsigned i = 0; i < need; ++i) window |= std::uint64_t(static_cast<unsigned char>(pos_[i])) << (56 - 8 * i);
  }
  v = static_cast<std::uint32_t>((window << used) >> (64 - n));
  const unsigned total = used + n;
  pos_ += total / 8;
  unread_ = static_cast<std::uint16_t>(8 - total % 8);
  return true;
}

unsigned PERDecoder::decodeSingleBit() {
  unsigned bit = 0;
  return decodeMultiBit(1, bit) ? bit : 0;
}

bool PERDecoder::readBit(unsigned& bit) { return decodeMultiBit(1, bit); }

bool PERDecoder::decodeBitMap(char* bits, std::size_t octets, unsigned n) {
  if (n <= 8 && octets >= 1) {
    // The usual presence map: one field.
    unsigned v = 0;
    if (n == 0) return true;
    if (!decodeMultiBit(n, v)) return false;
    bits[0] = static_cast<char>(v << (8 - n));
    return true;
  }
  if ((std::uint64_t(n) + 7) / 8 > octets || n > getBitsLeft()) return false;
  unsigned i = 0;
  unsigned v = 0;
  for (; i < n / 8; ++i) {
    if (!decodeMultiBit(8, v)) return false;
    bits[i] = static_cast<char>(v);
  }
  if (n % 8) {
    if (!decodeMultiBit(n % 8, v)) return false;
    bits[i] = static_cast<char>(v << (8 - n % 8));
  }
  return true;
}

void PERDecoder::byteAlign() {
  if (unread_ != 8) {
    unread_ = 8;
    ++pos_;
  }
}

unsigned PERDecoder::decodeBlock(char* dst, unsigned n) {
  if (n == 0) return 0;
  byteAlign();
  const unsigned avail = pos_ < end_ ? static_cast<unsigned>(std::min<std::ptrdiff_t>(end_ - pos_, 0x7FFFFFFF)) : 0;
  const unsigned copied = std::min(n, avail);
  std::copy(pos_, pos_ + copied, dst);
  pos_ += copied;
  return copied;
}

void PERDecoder::setPosition(const char* p) {
  pos_ = std::min(p, end_);
  unread_ = 8;
}

void PERDecoder::rollback(const memento_type& m) {
  if (m.position == nullptr) return;
  pos_ = std::min(m.position, end_);
  unread_ = static_cast<std::uint16_t>(pos_ == end_ ? 8 : m.bitsLeft);
}

bool PERDecoder::decodeSmallUnsigned(unsigned& v) {
  unsigned bit = 0;
  if (!readBit(bit)) return false;
  if (bit == 0) return decodeMultiBit(6, v);
  unsigned k = 0;
  if (decodeLength(0, kUnbounded, k) < 0 || k > 4) return false;
  byteAlign();
  return decodeMultiBit(8 * k, v);
}

int PERDecoder::decodeUnsigned(unsigned lb, unsigned ub, unsigned& v) {
  if (lb == ub) {
    v = lb;
    return 0;
  }
  if (atEnd()) return -1;
  const unsigned range = ub - lb + 1u;
  unsigned bits = CountBits(range);
  if (aligned_ && !(range >= 1 && range <= 255)) {
    if (bits > 16) {
      unsigned k = 0;
      if (decodeLength(1, (bits + 7) / 8, k) < 0) return -1;
      bits = 8 * k;
    } else {
      bits = bits > 8 ? 16 : 8;
    }
    byteAlign();
    if (bits == 16 && end_ - pos_ >= 2) {
      v = lb + ((unsigned(static_cast<unsigned char>(pos_[0])) << 8) | static_cast<unsigned char>(pos_[1]));
      pos_ += 2;
      return 0;
    }
  }
  unsigned field = 0;
  if (!decodeMultiBit(bits, field)) return -1;
  v = lb + field;
  return 0;
}

int PERDecoder::decodeLength(unsigned lb, unsigned ub, unsigned& n) {
  if (ub != kUnbounded && !aligned_) {
    unsigned field = 0;
    if (!decodeMultiBit(CountBits(ub - lb + 1u), field)) return -1;
    n = lb + field;
    return 0;
  }
  if (ub <= 65535) return decodeUnsigned(lb, ub, n);
  byteAlign();
  if (atEnd()) return -1;
  unsigned head = 0;
  if (!decodeMultiBit(8, head)) return -1;
  if ((head & 0x80u) == 0) {
    n = head;
    return 0;
  }
  // No fragmentation: a determinant starting with the bits 11 is refused.
  if (head & 0x40u) return -1;
  unsigned low = 0;
  if (!decodeMultiBit(8, low)) return -1;
  n = ((head & 0x3Fu) << 8) | low;
  return 0;
}

int PERDecoder::decodeConstrainedLength(ConstrainedObject& obj, unsigned& n) {
  const unsigned lb = static_cast<unsigned>(obj.getLowerLimit());
  switch (obj.getConstraintType()) {
    case ExtendableConstraint: {
      unsigned bit = 0;
      if (!readBit(bit)) return -1;
      return bit ? decodeLength(0, kUnbounded, n) : decodeLength(lb, obj.getUpperLimit(), n);
    }
    case FixedConstraint:
      return decodeLength(lb, obj.getUpperLimit(), n);
    default:
      return decodeLength(0, kUnbounded, n);
  }
}

bool PERDecoder::openTypeEnd(const char*& contentEnd) {
  unsigned n = 0;
  if (decodeLength(0, kUnbounded, n) < 0) return false;
  byteAlign();
  if (std::ptrdiff_t(n) > end_ - pos_) return false;
  contentEnd = pos_ + n;
  return true;
}

bool PERDecoder::decodeBounded(AbstractData& value, const char* contentEnd) {
  const char* const outerEnd = end_;
  end_ = contentEnd;
  const bool ok = value.accept(*this);
  end_ = outerEnd;
  setPosition(contentEnd);
  return ok;
}

bool PERDecoder::decodeField(AbstractData& value) {
  // Tests rather than a jump table: each predicts on its own.
  const AbstractData::Kind kind = value.kind();
  if (kind == AbstractData::integerKind) return PERDecoder::do_visit(static_cast<INTEGER&>(value));
  if (kind == AbstractData::sequenceKind) return PERDecoder::do_visit(static_cast<SEQUENCE&>(value));
  if (kind == AbstractData::choiceKind) return PERDecoder::do_visit(static_cast<CHOICE&>(value));
  if (kind == AbstractData::enumeratedKind) return PERDecoder::do_visit(static_cast<ENUMERATED&>(value));
  if (kind == AbstractData::booleanKind) return PERDecoder::do_visit(static_cast<BOOLEAN&>(value));
  if (kind == AbstractData::nullKind) return true;
  return value.accept(*this);
}

bool PERDecoder::do_visit(Null&) { return true; }

bool PERDecoder::do_visit(BOOLEAN& v) {
  unsigned bit = 0;
  if (!readBit(bit)) return false;
  v = bit != 0;
  return true;
}

bool PERDecoder::do_visit(INTEGER& v) {
  const ConstraintType type = v.getConstraintType();
  unsigned extended = 0;
  if (type == ExtendableConstraint && !readBit(extended)) return false;
  if ((type == FixedConstraint || type == ExtendableConstraint) && !extended) {
    unsigned u = 0;
    if (decodeUnsigned(static_cast<unsigned>(v.getLowerLimit()), v.getUpperLimit(), u) < 0) return false;
    v.setValue(static_cast<std::int32_t>(u));
    return true;
  }
  unsigned k = 0;
  unsigned field = 0;
  byteAlign();
  if (pos_ < end_ && static_cast<unsigned char>(*pos_) <= 4) {
    // The usual short length octet: the value's octets follow it.
    k = static_cast<unsigned char>(*pos_);
    if (std::ptrdiff_t(k) >= end_ - pos_) return false;
    for (unsigned i = 1; i <= k; ++i) field = (field << 8) | static_cast<unsigned char>(pos_[i]);
    pos_ += 1 + k;
  } else {
    if (decodeLength(0, kUnbounded, k) < 0 || k > 4) return false;
    if (!decodeMultiBit(8 * k, field)) return false;
  }
  // The encoder writes two's complement for every unconstrained form.
  if (k > 0 && k < 4 && ((field >> (8 * k - 1)) & 1u)) field |= ~0u << (8 * k);
  v.setValue(static_cast<std::int32_t>(field));
  return true;
}

bool PERDecoder::do_visit(ENUMERATED& v) {
  unsigned extended = 0;
  if (v.extendable() && !readBit(extended)) return false;
  unsigned u = 0;
  if (extended) {
    unsigned n = 0;
    if (!decodeSmallUnsigned(n) || n == 0) return false;
    if (decodeUnsigned(0, n - 1, u) < 0 || u > 0x7FFFFFFFu) return false;
    v.setFromInt(static_cast<int>(u));
    return true;
  }
  if (v.getMaximum() < 0) return false;
  const unsigned maximum = static_cast<unsigned>(v.getMaximum());
  if (decodeUnsigned(0, maximum, u) < 0) return false;
  // An index past the last value of a closed type is kept as read: the
  // validity check refuses it, so the message can still be answered.
  v.setFromInt(static_cast<int>(u));
  return true;
}

bool PERDecoder::do_visit(OBJECT_IDENTIFIER& v) {
  unsigned n = 0;
  if (decodeLength(0, 255, n) < 0) return false;
  byteAlign();
  if (std::ptrdiff_t(n) > end_ - pos_) return false;
  const bool ok = v.decodeCommon(pos_, n);
  pos_ += n;
  return ok;
}

bool PERDecoder::do_visit(OCTET_STRING& v) {
  unsigned n = 0;
  if (decodeConstrainedLength(v, n) < 0) return false;
  if (n > MaximumStringSize || std::uint64_t(n) * 8 > getBitsLeft()) return false;
  v.resize(n);
  if (n == 1 || n == 2) {
    for (unsigned i = 0; i < n; ++i) {
      unsigned octet = 0;
      if (!decodeMultiBit(8, octet)) return false;
      v[i] = static_cast<char>(octet);
    }
    return true;
  }
  return decodeBlock(v.data(), n) == n;
}

bool PERDecoder::do_visit(BIT_STRING& v) {
  unsigned n = 0;
  if (decodeConstrainedLength(v, n) < 0) return false;
  if (n > MaximumStringSize || n > getBitsLeft()) return false;
  v.resize(n);
  if (n == 0) return true;
  if (n > 16 && aligned_) {
    const unsigned octets = (n + 7) / 8;
    return decodeBlock(v.getData().data(), octets) == octets;
  }
  return decodeBitMap(v.getData(), n);
}

bool PERDecoder::do_visit(AbstractString& v) {
  unsigned n = 0;
  if (decodeConstrainedLength(v, n) < 0) return false;
  const unsigned b = v.getNumBits(aligned_);
  if (n > MaximumStringSize || std::uint64_t(n) * b > getBitsLeft()) return false;
  std::string& text = v;
  text.resize(n);
  if (v.getConstraintType() == Unconstrained || std::uint64_t(v.getUpperLimit()) * b >= 17) {
    if (b == 8) {
      if (decodeBlock(&text[0], n) == n) return true;
      text.clear();
      return false;
    }
    if (aligned_) byteAlign();
  }
  const bool byCode = v.getCanonicalSetBits() <= b && v.getCanonicalSetBits() > 4;
  const char* set = v.getCharacterSet();
  for (unsigned i = 0; i < n; ++i) {
    unsigned field = 0;
    if (!decodeMultiBit(b, field)) return false;
    if (byCode) {
      text[i] = static_cast<char>(field);
    } else {
      if (set == nullptr || field >= v.getCharacterSetSize()) return false;
      text[i] = set[field];
    }
  }
  return true;
}

bool PERDecoder::do_visit(BMPString& v) {
  unsigned n = 0;
  if (decodeConstrainedLength(v, n) < 0) return false;
  const unsigned b = v.getNumBits(aligned_);
  if (n > MaximumStringSize || std::uint64_t(n) * b > getBitsLeft()) return false;
  std::wstring& text = v;
  text.resize(n);
  if (aligned_ && (v.getConstraintType() == Unconstrained || std::uint64_t(v.getUpperLimit()) * b > 16)) byteAlign();
  const unsigned first = static_cast<unsigned>(v.getFirstChar());
  for (unsigned i = 0; i < n; ++i) {
    unsigned field = 0;
    if (!decodeMultiBit(b, field)) return false;
    text[i] = static_cast<wchar_t>(first + field);
  }
  return true;
}

bool PERDecoder::decodeChoicePreamle(CHOICE& choice, memento_type& m) {
  if (atEnd()) return false;
  const unsigned roots = choice.getNumChoices();
  unsigned extended = 0;
  if (choice.extendable() && !readBit(extended)) return false;
  if (extended) {
    unsigned k = 0;
    if (!decodeSmallUnsigned(k)) return false;
    const char* contentEnd = nullptr;
    if (!openTypeEnd(contentEnd)) return false;
    m = memento_type(contentEnd, 8);
    const std::uint64_t index = std::uint64_t(k) + roots;
    // An alternative this type does not know is kept as an unknown selection.
    choice.select(index < choice.getTotalChoices() ? int(index) : int(CHOICE::unknownSelection_));
    return true;
  }
  unsigned index = 0;
  if (roots > 1 && decodeUnsigned(0, roots - 1, index) < 0) return false;
  // Only a root alternative may follow a cleared extension bit.
  if (index >= roots) return false;
  return choice.select(int(index));
}

bool PERDecoder::do_visit(CHOICE& v) {
  memento_type m;
  if (!decodeChoicePreamle(v, m)) return false;
  AbstractData* selected = v.getSelection();
  if (m.position == nullptr) return selected != nullptr && decodeField(*selected);
  if (selected != nullptr && !v.isUnknownSelection()) return decodeBounded(*selected, m.position);
  rollback(m);
  return true;
}

bool PERDecoder::do_visit(SEQUENCE_OF_Base& v) {
  unsigned n = 0;
  if (decodeConstrainedLength(v, n) < 0) return false;
  if (n > MaximumArraySize) return false;
  v.resize(n);
  if (v.size() != n) return false;
  for (unsigned i = 0; i < n; ++i) {
    if (!decodeField(*v.begin()[i])) {
      v.erase(v.begin() + i, v.end());
      return false;
    }
  }
  return true;
}

bool PERDecoder::do_visit(OpenData& v) {
  unsigned n = 0;
  if (decodeLength(0, kUnbounded, n) < 0) return false;
  byteAlign();
  if (n > MaximumStringSize || std::ptrdiff_t(n) > end_ - pos_) return false;
  if (!v.has_buf()) v.grab(new std::vector<char>);
  v.get_buf().assign(pos_, pos_ + n);
  pos_ += n;
  return true;
}

bool PERDecoder::do_revisit(OpenData& v) {
  if (!v.has_buf() || !v.has_data()) return false;
  const std::vector<char>& buf = v.get_buf();
  PERDecoder inner(buf.data(), buf.data() + buf.size(), get_env(), aligned_);
  return v.get_data().accept(inner);
}

bool PERDecoder::do_visit(TypeConstrainedOpenData& v) {
  const char* contentEnd = nullptr;
  if (!openTypeEnd(contentEnd)) return false;
  if (!v.has_data()) {
    AbstractData* made = AbstractData::create(v.info()->typeInfo);
    if (made == nullptr) return false;
    v.set_data(made);
  }
  return decodeBounded(v.get_data(), contentEnd);
}

bool PERDecoder::do_visit(GeneralizedTime& v) {
  unsigned n = 0;
  if (decodeLength(0, kUnbounded, n) < 0) return false;
  byteAlign();
  if (std::ptrdiff_t(n) > end_ - pos_) return false;
  const std::string text(pos_, pos_ + n);
  pos_ += n;
  return v.set(text.c_str()) >= 0;
}

// The hooks' walk in one piece for the root, the common case.
bool PERDecoder::do_visit(SEQUENCE& seq) {
  int r = preVisitExtensionRoots(seq);
  if (r < NO_EXTENSION) return r != FAIL;
  const bool withExtensions = r == CONTINUE;
  const SEQUENCE::InfoType* info = seq.info();
  const std::int32_t* ids = info->fieldIds;
  const unsigned roots = info->numFields;
  int last = -1;
  for (unsigned i = 0; i < roots; ++i) {
    const int bit = ids != nullptr ? ids[i] : -1;
    if (bit != -1) {
      last = bit;
      if (!seq.hasOptionalField(unsigned(bit))) continue;
    }
    AbstractData* field = seq.getOrCreateField(i);
    if (field == nullptr || !decodeField(*field)) return false;
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

int PERDecoder::preVisitExtensionRoots(SEQUENCE& seq) {
  unsigned extended = 0;
  if (seq.extendable() && !readBit(extended)) return FAIL;
  SEQUENCE::BitMap& present = seq.optionalMap();
  if (present.size() != seq.numOptional()) present.resize(seq.numOptional());
  if (!decodeBitMap(present.bitData(), present.octets(), seq.numOptional())) return FAIL;
  if (extended) return CONTINUE;
  // Additions a new or reused value held were not on the wire.
  if (seq.extensionMap().size() != 0) seq.extensionMap().resize(0);
  return NO_EXTENSION;
}

int PERDecoder::visitExtensionRoot(SEQUENCE& seq, int index, int optionalBit) {
  if (optionalBit >= 0 && !seq.hasOptionalField(unsigned(optionalBit))) return CONTINUE;
  AbstractData* field = seq.getOrCreateField(unsigned(index));
  if (field == nullptr) return FAIL;
  return field->accept(*this) ? CONTINUE : FAIL;
}

int PERDecoder::preVisitExtensions(SEQUENCE& seq) {
  unsigned n = 0;
  if (!decodeSmallUnsigned(n) || n >= MaximumArraySize || n + 1 > getBitsLeft()) return FAIL;
  SEQUENCE::BitMap& present = seq.extensionMap();
  present.resize(n + 1);
  return decodeBitMap(present.bitData(), present.octets(), n + 1) ? CONTINUE : FAIL;
}

int PERDecoder::visitKnownExtension(SEQUENCE& seq, int index, int bit) {
  if (bit < 0 || !seq.hasOptionalField(unsigned(bit))) return CONTINUE;
  const char* contentEnd = nullptr;
  if (!openTypeEnd(contentEnd)) return FAIL;
  AbstractData* field = seq.getOrCreateField(unsigned(index));
  if (field == nullptr) {
    seq.removeOptionalField(unsigned(bit));
    setPosition(contentEnd);
    return CONTINUE;
  }
  return decodeBounded(*field, contentEnd) ? CONTINUE : FAIL;
}

bool PERDecoder::visitUnknownExtensions(SEQUENCE& seq) {
  const SEQUENCE::BitMap& present = seq.extensionMap();
  for (unsigned k = seq.knownExtensions(); k < present.size(); ++k) {
    if (!present[k]) continue;
    const char* contentEnd = nullptr;
    if (!openTypeEnd(contentEnd)) return false;
    setPosition(contentEnd);
  }
  return true;
}

}  // namespace ASN1
