#include "asn1/ber.h"

#include "asn1/constructed.h"
#include "asn1/strings.h"

#include <algorithm>
#include <memory>
#include <string>

namespace ASN1 {

namespace {

const unsigned kContextClass = 0x80;

// Selects the alternative that carries tag; an automatically tagged CHOICE
// only knows context-specific tags.
bool selectByTag(CHOICE& choice, unsigned tag) {
  if (choice.info()->tags == nullptr && (tag >> 16) != kContextClass) {
    choice.setSelection(CHOICE::unknownSelection_, nullptr);
    return false;
  }
  return choice.setID(tag & 0xFFFFu, tag >> 16);
}

// Whether a value of an untagged type (a CHOICE or open type) may start
// with a header of this tag.
bool acceptsTag(const AbstractData::InfoType* info, unsigned tag) {
  std::unique_ptr<AbstractData> probe(AbstractData::create(info));
  if (!probe) return false;
  if (CHOICE* choice = dynamic_cast<CHOICE*>(probe.get())) return selectByTag(*choice, tag);
  if (dynamic_cast<OpenData*>(probe.get())) return true;
  return probe->info()->tag == tag;
}

}  // namespace

BERDecoder::BERDecoder(const char* begin, const char* end, CoderEnv* env)
    : Visitor(env), pos_(begin), end_(end), skip_(0) {}

unsigned BERDecoder::decodeBlock(char* dst, unsigned n) {
  const unsigned count = std::min<unsigned>(n, atEnd() ? 0 : unsigned(end_ - pos_));
  std::copy(pos_, pos_ + count, dst);
  pos_ += count;
  return count;
}

bool BERDecoder::decodeHeader(unsigned& tag, bool& primitive, unsigned& length) {
  const char* start = pos_;
  if (atEnd()) return false;
  const unsigned first = decodeByte();
  unsigned number = first & 0x1Fu;
  if (number == 31) {
    number = 0;
    unsigned octet;
    do {
      if (atEnd() || number > (0xFFFFu >> 7)) {
        pos_ = start;
        return false;
      }
      octet = decodeByte();
      number = (number << 7) | (octet & 0x7Fu);
    } while (octet & 0x80u);
  }
  if (atEnd()) {
    pos_ = start;
    return false;
  }
  unsigned len = decodeByte();
  if (len & 0x80u) {
    // 0x80 alone is the indefinite form, which this coder never uses.
    const unsigned n = len & 0x7Fu;
    if (n == 0 || n > 4 || unsigned(end_ - pos_) < n) {
      pos_ = start;
      return false;
    }
    len = 0;
    for (unsigned i = 0; i < n; ++i) len = (len << 8) | decodeByte();
  }
  if (len > unsigned(end_ - pos_)) {
    pos_ = start;
    return false;
  }
  tag = ((first & 0xC0u) << 16) | number;
  primitive = (first & 0x20u) == 0;
  length = len;
  return true;
}

bool BERDecoder::decodeHeader(AbstractData& value, unsigned& length) {
  const char* start = pos_;
  const bool otherTag = skip_ > 0;
  skip_ = 0;
  unsigned tag;
  bool primitive;
  if (!decodeHeader(tag, primitive, length)) return false;
  if (tag != value.info()->tag && !otherTag) {
    pos_ = start;
    return false;
  }
  return true;
}

bool BERDecoder::decodeWithin(AbstractData& value, const char* limit) {
  const char* outer = end_;
  end_ = limit;
  const bool ok = value.accept(*this);
  end_ = outer;
  pos_ = limit;
  return ok;
}

bool BERDecoder::decodeSignedContents(unsigned length, int& value) {
  // Four octets hold every value; a longer encoding would not fit.
  if (length < 1 || length > 4) return false;
  std::uint32_t v = (static_cast<unsigned char>(*pos_) & 0x80u) ? 0xFFFFFFFFu : 0u;
  for (unsigned i = 0; i < length; ++i) v = (v << 8) | decodeByte();
  value = static_cast<int>(v);
  return true;
}

bool BERDecoder::do_visit(Null& v) {
  unsigned length;
  if (!decodeHeader(v, length)) return false;
  pos_ += length;
  return true;
}

bool BERDecoder::do_visit(BOOLEAN& v) {
  unsigned length;
  if (!decodeHeader(v, length)) return false;
  if (length > 0) v = pos_[length - 1] != 0;
  pos_ += length;
  return true;
}

bool BERDecoder::do_visit(INTEGER& v) {
  unsigned length;
  int value;
  if (!decodeHeader(v, length) || !decodeSignedContents(length, value)) return false;
  v.setValue(value);
  return true;
}

bool BERDecoder::do_visit(ENUMERATED& v) {
  // Written as an INTEGER, so a negative enumerator comes back negative.
  unsigned length;
  int value;
  if (!decodeHeader(v, length) || !decodeSignedContents(length, value)) return false;
  v.setFromInt(value);
  return true;
}

bool BERDecoder::do_visit(OBJECT_IDENTIFIER& v) {
  unsigned length;
  if (!decodeHeader(v, length)) return false;
  const char* p = pos_;
  pos_ += length;
  return v.decodeCommon(p, length);
}

bool BERDecoder::do_visit(BIT_STRING& v) {
  unsigned length;
  if (!decodeHeader(v, length) || length < 1) return false;
  const unsigned unused = decodeByte();
  if (unused > 7 || (length == 1 && unused != 0)) return false;
  v.resize(8 * (length - 1) - unused);
  std::copy(pos_, pos_ + (length - 1), v.getData().begin());
  pos_ += length - 1;
  return true;
}

bool BERDecoder::do_visit(OCTET_STRING& v) {
  unsigned length;
  if (!decodeHeader(v, length)) return false;
  v.assign(pos_, pos_ + length);
  pos_ += length;
  return true;
}

bool BERDecoder::do_visit(AbstractString& v) {
  unsigned length;
  if (!decodeHeader(v, length)) return false;
  v.std::string::assign(pos_, length);
  pos_ += length;
  return true;
}

bool BERDecoder::do_visit(BMPString& v) {
  unsigned length;
  if (!decodeHeader(v, length) || length % 2 != 0) return false;
  std::wstring text;
  text.reserve(length / 2);
  for (unsigned i = 0; i < length / 2; ++i) {
    const unsigned high = decodeByte();
    text.push_back(static_cast<wchar_t>((high << 8) | decodeByte()));
  }
  v.std::wstring::assign(text);
  return true;
}

bool BERDecoder::do_visit(GeneralizedTime& v) {
  unsigned length;
  if (!decodeHeader(v, length)) return false;
  const std::string text(pos_, length);
  pos_ += length;
  return v.set(text.c_str()) >= 0;
}

bool BERDecoder::do_visit(SEQUENCE_OF_Base& v) {
  unsigned length;
  if (!decodeHeader(v, length)) return false;
  v.clear();
  const char* contentEnd = pos_ + length;
  const char* outer = end_;
  end_ = contentEnd;
  bool ok = true;
  while (ok && pos_ < end_) {
    std::unique_ptr<AbstractData> element(v.createElement());
    const char* before = pos_;
    skip_ = 0;
    ok = element && element->accept(*this) && pos_ != before;
    if (ok) v.push_back(element.release());
  }
  end_ = outer;
  if (ok) pos_ = contentEnd;
  return ok;
}

bool BERDecoder::decodeChoicePreamle(CHOICE& choice, const char*& end) {
  const char* start = pos_;
  const bool underFieldTag = skip_ > 0;
  const bool wrapped = underFieldTag || choice.info()->tag != 0;
  skip_ = 0;

  unsigned tag, length;
  bool primitive;
  if (!decodeHeader(tag, primitive, length)) return false;
  if (wrapped) {
    if (!underFieldTag && tag != choice.info()->tag) {
      pos_ = start;
      return false;
    }
    end = pos_ + length;
    // The alternative must lie within its wrapper.
    const char* outer = end_;
    end_ = end;
    const char* altStart = pos_;
    const bool ok = decodeHeader(tag, primitive, length);
    end_ = outer;
    if (!ok) {
      pos_ = start;
      return false;
    }
    pos_ = altStart;
  } else {
    end = pos_ + length;
    pos_ = start;
  }

  if (!selectByTag(choice, tag)) {
    // An alternative added to an extendable type after ours is skipped.
    if (choice.extendable()) return true;
    pos_ = start;
    return false;
  }
  if (choice.getSelectionTag() != 0) skip_ = 1;
  return true;
}

bool BERDecoder::do_visit(CHOICE& v) {
  const char* end = nullptr;
  if (!decodeChoicePreamle(v, end)) return false;
  if (v.currentSelection() >= 0 && v.getSelection() != nullptr) return decodeWithin(*v.getSelection(), end);
  skip_ = 0;
  pos_ = end;
  return true;
}

bool BERDecoder::openTypeExtent(const AbstractData& open, const char*& begin, const char*& end) {
  const char* start = pos_;
  const std::uint32_t ownTag = open.info()->tag;
  const bool underFieldTag = skip_ > 0;
  skip_ = 0;
  unsigned tag, length;
  bool primitive;
  if (!decodeHeader(tag, primitive, length)) return false;
  if (!underFieldTag && ownTag != 0 && tag != ownTag) {
    pos_ = start;
    return false;
  }
  // Without a wrapper the header read is the contained value's own.
  begin = (underFieldTag || ownTag != 0) ? pos_ : start;
  end = pos_ + length;
  return true;
}

bool BERDecoder::do_visit(OpenData& v) {
  const char* begin;
  const char* end;
  if (!openTypeExtent(v, begin, end)) return false;
  if (!v.has_buf()) v.grab(new std::vector<char>);
  v.get_buf().assign(begin, end);
  pos_ = end;
  return true;
}

bool BERDecoder::do_revisit(OpenData& v) {
  if (!v.has_buf() || !v.has_data()) return false;
  const std::vector<char>& buf = v.get_buf();
  BERDecoder inner(buf.data(), buf.data() + buf.size(), get_env());
  return v.get_data().accept(inner);
}

bool BERDecoder::do_visit(TypeConstrainedOpenData& v) {
  const char* begin;
  const char* end;
  if (!openTypeExtent(v, begin, end) || !v.has_data()) return false;
  pos_ = begin;
  return decodeWithin(v.get_data(), end);
}

int BERDecoder::preVisitExtensionRoots(SEQUENCE& seq) {
  unsigned length;
  if (!decodeHeader(seq, length)) return FAIL;
  sequences_.push_back(Frame{pos_ + length, end_});
  end_ = pos_ + length;
  return CONTINUE;
}

int BERDecoder::visitExtensionRoot(SEQUENCE& seq, int index, int optionalBit) {
  const unsigned i = unsigned(index);
  bool present = false;
  const unsigned fieldTag = seq.getFieldTag(i);
  if (!atEnd()) {
    const char* start = pos_;
    unsigned tag, length;
    bool primitive;
    if (!decodeHeader(tag, primitive, length)) return FAIL;
    pos_ = start;
    present = fieldTag != 0 ? tag == fieldTag : acceptsTag(seq.getFieldInfo(i), tag);
  }
  if (!present) {
    // A mandatory field cannot be left out.
    if (optionalBit < 0) return FAIL;
    seq.removeOptionalField(unsigned(optionalBit));
    return CONTINUE;
  }
  if (optionalBit >= 0) seq.includeOptionalField(unsigned(optionalBit), i);
  AbstractData* field = seq.getOrCreateField(i);
  if (field == nullptr) return FAIL;
  skip_ = (fieldTag != 0 && seq.tagMode() != 2) ? 1 : 0;
  return field->accept(*this) ? CONTINUE : FAIL;
}

int BERDecoder::visitKnownExtension(SEQUENCE& seq, int index, int bit) { return visitExtensionRoot(seq, index, bit); }

bool BERDecoder::visitUnknownExtensions(SEQUENCE&) {
  if (sequences_.empty()) return false;
  const Frame frame = sequences_.back();
  sequences_.pop_back();
  pos_ = frame.contentEnd;
  end_ = frame.outerEnd;
  return true;
}

}  // namespace ASN1
