#include "asn1/ber.h"

#include "asn1/constructed.h"
#include "asn1/strings.h"

#include <string>

namespace ASN1 {

namespace {

const std::uint32_t kOwnTag = 0xFFFFFFFFu;

unsigned tagClass(std::uint32_t tag) { return (tag >> 16) & 0xC0u; }
unsigned tagNumber(std::uint32_t tag) { return tag & 0xFFFFu; }

unsigned groupCount(unsigned number) {
  unsigned n = 1;
  while (number >> (7 * n)) ++n;
  return n;
}

unsigned lengthOctets(unsigned length) {
  if (length <= 127) return 1;
  unsigned n = 1;
  while (n < 4 && (length >> (8 * n))) ++n;
  return 1 + n;
}

bool isPrimitive(const AbstractData& value) {
  PrimitiveChecker checker;
  return value.accept(checker);
}

}  // namespace

unsigned getIntegerDataLength(int value) {
  const std::int32_t v = value;
  if ((v >> 23) == 0 || (v >> 23) == -1) {
    if ((v >> 15) == 0 || (v >> 15) == -1) return ((v >> 7) == 0 || (v >> 7) == -1) ? 1 : 2;
    return 3;
  }
  return 4;
}

unsigned getDataLength(const AbstractData& value) {
  DataLengthCounter counter;
  value.accept(counter);
  return counter.getDataLen();
}

unsigned getObjectLength(const AbstractData& value, unsigned tag) {
  DataLengthCounter counter;
  value.accept(counter);
  return tag == 0 ? counter.getDataLen() : counter.getObjectLen(tag);
}

unsigned DataLengthCounter::getObjectLen(unsigned tag) const {
  const unsigned number = tagNumber(tag);
  const unsigned identifier = number <= 30 ? 1 : 1 + groupCount(number);
  return identifier + lengthOctets(length_) + length_;
}

bool DataLengthCounter::do_visit(const Null&) { return true; }

bool DataLengthCounter::do_visit(const BOOLEAN&) {
  length_ = 1;
  return true;
}

bool DataLengthCounter::do_visit(const INTEGER& v) {
  length_ = getIntegerDataLength(v.getValue());
  return true;
}

bool DataLengthCounter::do_visit(const ENUMERATED& v) {
  length_ = getIntegerDataLength(v.asInt());
  return true;
}

bool DataLengthCounter::do_visit(const OBJECT_IDENTIFIER& v) {
  std::vector<char> octets;
  v.encodeCommon(octets);
  length_ = static_cast<unsigned>(octets.size());
  return true;
}

bool DataLengthCounter::do_visit(const BIT_STRING& v) {
  length_ = (v.size() + 7) / 8 + 1;
  return true;
}

bool DataLengthCounter::do_visit(const OCTET_STRING& v) {
  length_ = static_cast<unsigned>(v.size());
  return true;
}

bool DataLengthCounter::do_visit(const AbstractString& v) {
  length_ = static_cast<unsigned>(v.size());
  return true;
}

bool DataLengthCounter::do_visit(const BMPString& v) {
  length_ = 2 * static_cast<unsigned>(v.size());
  return true;
}

bool DataLengthCounter::do_visit(const CHOICE& v) {
  length_ = v.getSelection() ? getObjectLength(*v.getSelection(), v.getSelectionTag()) : 0;
  return true;
}

bool DataLengthCounter::do_visit(const OpenData& v) {
  if (v.has_data())
    length_ = getObjectLength(v.get_data(), v.get_data().info()->tag);
  else if (v.has_buf())
    length_ = static_cast<unsigned>(v.get_buf().size());
  return true;
}

bool DataLengthCounter::do_visit(const GeneralizedTime& v) {
  length_ = static_cast<unsigned>(v.get().size());
  return true;
}

bool DataLengthCounter::do_visit(const SEQUENCE_OF_Base& v) {
  for (const AbstractData* element : v) length_ += getObjectLength(*element, element->info()->tag);
  return true;
}

bool DataLengthCounter::visitExtensionRoot(const SEQUENCE& seq, int index) {
  length_ += getObjectLength(*seq.getField(unsigned(index)), seq.getFieldTag(unsigned(index)));
  return true;
}

bool DataLengthCounter::visitKnownExtension(const SEQUENCE& seq, int index) { return visitExtensionRoot(seq, index); }

bool PrimitiveChecker::do_visit(const CHOICE& v) {
  return v.getSelection() == nullptr || v.getSelection()->accept(*this);
}

bool PrimitiveChecker::do_visit(const OpenData& v) {
  if (v.has_data()) return v.get_data().accept(*this);
  // Undecoded octets: what their own identifier octet says.
  return !v.has_buf() || v.get_buf().empty() || (static_cast<unsigned char>(v.get_buf()[0]) & 0x20u) == 0;
}

BEREncoder::BEREncoder(std::vector<char>& out) : out_(out), tag_(kOwnTag) {
  out_.clear();
  out_.reserve(256);
}

bool BEREncoder::encodeHeader(const AbstractData& value) {
  const std::uint32_t tag = tag_ == kOwnTag ? value.info()->tag : tag_;
  const unsigned cls = tagClass(tag);
  const unsigned number = tagNumber(tag);
  const unsigned constructed = isPrimitive(value) ? 0 : 0x20u;
  if (number <= 30) {
    encodeByte(cls | constructed | number);
  } else {
    encodeByte(cls | constructed | 31u);
    for (unsigned g = groupCount(number); g-- > 0;) encodeByte(((number >> (7 * g)) & 0x7Fu) | (g ? 0x80u : 0));
  }

  const unsigned length = getDataLength(value);
  const unsigned n = lengthOctets(length);
  if (n == 1) {
    encodeByte(length);
  } else {
    encodeByte(0x80u | (n - 1));
    for (unsigned i = n - 1; i-- > 0;) encodeByte((length >> (8 * i)) & 0xFFu);
  }
  return true;
}

void BEREncoder::encodeInteger(int value) {
  const std::uint32_t v = static_cast<std::uint32_t>(value);
  for (unsigned i = getIntegerDataLength(value); i-- > 0;) encodeByte((v >> (8 * i)) & 0xFFu);
}

bool BEREncoder::do_visit(const Null& v) { return encodeHeader(v); }

bool BEREncoder::do_visit(const BOOLEAN& v) {
  encodeHeader(v);
  encodeByte(v ? 0xFFu : 0x00u);
  return true;
}

bool BEREncoder::do_visit(const INTEGER& v) {
  encodeHeader(v);
  encodeInteger(v.getValue());
  return true;
}

bool BEREncoder::do_visit(const ENUMERATED& v) {
  // A decoder keeps an index past a closed type's last value as read; it
  // names nothing and is not passed on.
  if (!v.extendable() && v.asInt() > v.getMaximum()) return false;
  encodeHeader(v);
  encodeInteger(v.asInt());
  return true;
}

bool BEREncoder::do_visit(const OBJECT_IDENTIFIER& v) {
  encodeHeader(v);
  std::vector<char> octets;
  v.encodeCommon(octets);
  encodeBlock(octets.data(), static_cast<unsigned>(octets.size()));
  return true;
}

bool BEREncoder::do_visit(const BIT_STRING& v) {
  encodeHeader(v);
  if (v.size() == 0) {
    encodeByte(0);
    return true;
  }
  encodeByte((8 - v.size() % 8) % 8);
  encodeBlock(v.getData().data(), (v.size() + 7) / 8);
  return true;
}

bool BEREncoder::do_visit(const OCTET_STRING& v) {
  encodeHeader(v);
  encodeBlock(v.data(), static_cast<unsigned>(v.size()));
  return true;
}

bool BEREncoder::do_visit(const AbstractString& v) {
  encodeHeader(v);
  encodeBlock(v.data(), static_cast<unsigned>(v.size()));
  return true;
}

bool BEREncoder::do_visit(const BMPString& v) {
  encodeHeader(v);
  for (wchar_t c : v) {
    const unsigned code = static_cast<unsigned>(c);
    encodeByte((code >> 8) & 0xFFu);
    encodeByte(code & 0xFFu);
  }
  return true;
}

bool BEREncoder::do_visit(const GeneralizedTime& v) {
  encodeHeader(v);
  const std::string text = v.get();
  encodeBlock(text.data(), static_cast<unsigned>(text.size()));
  return true;
}

bool BEREncoder::do_visit(const CHOICE& v) {
  if (v.currentSelection() < 0 || v.getSelection() == nullptr) return false;
  if (tag_ != 0 && (tag_ != kOwnTag || v.info()->tag != 0)) encodeHeader(v);
  tag_ = v.getSelectionTag();
  return v.getSelection()->accept(*this);
}

bool BEREncoder::do_visit(const OpenData& v) {
  if (v.isEmpty()) return false;
  if (tag_ == kOwnTag) tag_ = v.info()->tag;
  if (tag_ != 0) encodeHeader(v);
  tag_ = kOwnTag;
  if (v.has_data()) return v.get_data().accept(*this);
  encodeBlock(v.get_buf().data(), static_cast<unsigned>(v.get_buf().size()));
  return true;
}

bool BEREncoder::do_visit(const SEQUENCE_OF_Base& v) {
  encodeHeader(v);
  for (const AbstractData* element : v) {
    tag_ = kOwnTag;
    if (!element->accept(*this)) return false;
  }
  return true;
}

bool BEREncoder::preVisitExtensionRoots(const SEQUENCE& seq) { return encodeHeader(seq); }

bool BEREncoder::visitExtensionRoot(const SEQUENCE& seq, int index) {
  tag_ = seq.getFieldTag(unsigned(index));
  return seq.getField(unsigned(index))->accept(*this);
}

bool BEREncoder::visitKnownExtension(const SEQUENCE& seq, int index) { return visitExtensionRoot(seq, index); }

}  // namespace ASN1
