#include "asn1/valid_checker.h"

#include "asn1/constructed.h"
#include "asn1/strings.h"

#include <ostream>

namespace ASN1 {

namespace {

// Sizes and counts against a size constraint, all compared unsigned.
bool atLeastLower(const ConstrainedObject& v, std::size_t size) {
  return size >= static_cast<std::uint32_t>(v.getLowerLimit());
}
bool atMostUpper(const ConstrainedObject& v, std::size_t size) { return size <= v.getUpperLimit(); }
bool sizeStrictlyValid(const ConstrainedObject& v, std::size_t size) {
  return atLeastLower(v, size) && atMostUpper(v, size);
}
// The upper bound of an extendable size constraint is only its root.
bool sizeValid(const ConstrainedObject& v, std::size_t size) {
  return atLeastLower(v, size) && (v.extendable() || atMostUpper(v, size));
}
// BIT STRING and OCTET STRING: only a fixed constraint limits the size.
bool octetsSizeValid(const ConstrainedObject& v, std::size_t size) {
  return atLeastLower(v, size) && (v.getConstraintType() != FixedConstraint || atMostUpper(v, size));
}

// A negative lower bound makes the range signed, otherwise it runs up to 2^32 - 1.
bool belowLower(const INTEGER& v) {
  if (v.getLowerLimit() < 0) return v.getValue() < v.getLowerLimit();
  return static_cast<std::uint32_t>(v.getValue()) < static_cast<std::uint32_t>(v.getLowerLimit());
}
bool aboveUpper(const INTEGER& v) {
  if (v.getLowerLimit() < 0) return static_cast<std::int64_t>(v.getValue()) > std::int64_t(v.getUpperLimit());
  return static_cast<std::uint32_t>(v.getValue()) > v.getUpperLimit();
}

bool timeValid(const GeneralizedTime& t) {
  return t.getYear() > 0 && t.getMonth() >= 1 && t.getMonth() <= 12 && t.getDay() >= 1 && t.getDay() <= 31 &&
         t.getHour() >= 0 && t.getHour() <= 24 && t.getMinute() >= 0 && t.getMinute() <= 59 && t.getSecond() >= 0 &&
         t.getSecond() <= 59 && t.getMinuteDifference() >= -720 && t.getMinuteDifference() <= 720;
}

// A value between declared ones names nothing; a record without names
// leaves only the range to check.
bool declared(const ENUMERATED& v) { return v.info()->names == nullptr || !v.getName().empty(); }

bool charactersValid(const AbstractString& s) { return s.find_first_invalid() < 0; }
bool charactersValid(const BMPString& s) { return s.first_illegal_at() == s.size(); }

}  // namespace

bool AbstractData::isValid() const {
  ValidChecker checker;
  return accept(checker);
}

bool AbstractData::isStrictlyValid() const {
  StrictlyValidChecker checker;
  return accept(checker);
}

bool INTEGER::isStrictValid() const { return !belowLower(*this) && !aboveUpper(*this); }
bool INTEGER::isValid() const { return isStrictValid() || extendable(); }

bool ENUMERATED::isStrictlyValid() const { return asInt() <= getMaximum() && declared(*this); }
bool ENUMERATED::isValid() const { return extendable() || isStrictlyValid(); }

bool OBJECT_IDENTIFIER::isValid() const { return levels() > 0; }
bool OBJECT_IDENTIFIER::isStrictlyValid() const { return levels() > 0; }

bool BIT_STRING::isValid() const { return octetsSizeValid(*this, size()); }
bool BIT_STRING::isStrictlyValid() const { return sizeStrictlyValid(*this, size()); }

bool OCTET_STRING::isValid() const { return octetsSizeValid(*this, size()); }
bool OCTET_STRING::isStrictlyValid() const { return sizeStrictlyValid(*this, size()); }

bool AbstractString::isValid() const { return sizeValid(*this, size()) && charactersValid(*this); }
bool AbstractString::isStrictlyValid() const { return sizeStrictlyValid(*this, size()) && charactersValid(*this); }

bool BMPString::isValid() const { return sizeValid(*this, size()) && charactersValid(*this); }
bool BMPString::isStrictlyValid() const { return sizeStrictlyValid(*this, size()) && charactersValid(*this); }

bool GeneralizedTime::isValid() const { return timeValid(*this); }
bool GeneralizedTime::isStrictlyValid() const { return timeValid(*this); }

bool CHOICE::isValid() const {
  // An alternative added after this side was built is the peer's right.
  if (isUnknownSelection()) return extendable();
  if (currentSelection() < 0 || getSelection() == nullptr) return false;
  if (unsigned(currentSelection()) >= getNumChoices() && !extendable()) return false;
  return getSelection()->isValid();
}

bool CHOICE::isStrictlyValid() const {
  if (currentSelection() < 0 || getSelection() == nullptr || unsigned(currentSelection()) >= getNumChoices())
    return false;
  return getSelection()->isStrictlyValid();
}

bool SEQUENCE_OF_Base::isValid() const {
  if (!sizeValid(*this, size())) return false;
  for (const AbstractData* element : elements_)
    if (!element->isValid()) return false;
  return true;
}

bool SEQUENCE_OF_Base::isStrictlyValid() const {
  if (!sizeStrictlyValid(*this, size())) return false;
  for (const AbstractData* element : elements_)
    if (!element->isStrictlyValid()) return false;
  return true;
}

bool OpenData::isValid() const { return has_data() ? get_data().isValid() : has_buf(); }
bool OpenData::isStrictlyValid() const { return has_data() ? get_data().isStrictlyValid() : has_buf(); }

bool ValidChecker::do_visit(const INTEGER& v) { return v.isValid(); }
bool ValidChecker::do_visit(const ENUMERATED& v) { return v.isValid(); }
bool ValidChecker::do_visit(const OBJECT_IDENTIFIER& v) { return v.isValid(); }
bool ValidChecker::do_visit(const BIT_STRING& v) { return v.isValid(); }
bool ValidChecker::do_visit(const OCTET_STRING& v) { return v.isValid(); }
bool ValidChecker::do_visit(const AbstractString& v) { return v.isValid(); }
bool ValidChecker::do_visit(const BMPString& v) { return v.isValid(); }
bool ValidChecker::do_visit(const CHOICE& v) { return v.isValid(); }
bool ValidChecker::do_visit(const OpenData& v) { return v.isValid(); }
bool ValidChecker::do_visit(const GeneralizedTime& v) { return v.isValid(); }
bool ValidChecker::do_visit(const SEQUENCE_OF_Base& v) { return v.isValid(); }
bool ValidChecker::visitExtensionRoot(const SEQUENCE& seq, int index) {
  return seq.getField(unsigned(index))->isValid();
}
bool ValidChecker::visitKnownExtension(const SEQUENCE& seq, int index) { return visitExtensionRoot(seq, index); }

bool StrictlyValidChecker::do_visit(const INTEGER& v) { return v.isStrictValid(); }
bool StrictlyValidChecker::do_visit(const ENUMERATED& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(const OBJECT_IDENTIFIER& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(const BIT_STRING& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(const OCTET_STRING& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(const AbstractString& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(const BMPString& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(const CHOICE& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(const OpenData& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(const GeneralizedTime& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(const SEQUENCE_OF_Base& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::visitExtensionRoot(const SEQUENCE& seq, int index) {
  return seq.getField(unsigned(index))->isStrictlyValid();
}
bool StrictlyValidChecker::visitKnownExtension(const SEQUENCE& seq, int index) {
  return visitExtensionRoot(seq, index);
}

bool InvalidTracer::do_visit(const INTEGER& v) {
  const bool isSigned = v.getLowerLimit() < 0;
  if (belowLower(v)) {
    text_ << " The INTEGER value ";
    if (isSigned)
      text_ << v.getValue();
    else
      text_ << static_cast<std::uint32_t>(v.getValue());
    text_ << " is smaller than lower bound " << v.getLowerLimit();
    return false;
  }
  if (aboveUpper(v) && !v.extendable()) {
    text_ << " The INTEGER value ";
    if (isSigned)
      text_ << v.getValue();
    else
      text_ << static_cast<std::uint32_t>(v.getValue());
    text_ << " is greater than upper bound " << v.getUpperLimit();
    return false;
  }
  return true;
}

bool InvalidTracer::do_visit(const ENUMERATED& v) {
  if (v.isStrictlyValid()) return true;
  text_ << " This ENUMERATED has invalid value " << v.asInt();
  return false;
}

bool InvalidTracer::do_visit(const OBJECT_IDENTIFIER& v) {
  if (v.levels() > 0) return true;
  text_ << " This OBJECT IDENTIFIER is not assigned";
  return false;
}

bool InvalidTracer::sizeFits(const char* what, const ConstrainedObject& v, unsigned size) {
  if (!atLeastLower(v, size)) {
    text_ << " This " << what << " has size " << size << " smaller than its lower bound " << v.getLowerLimit();
    return false;
  }
  if (v.getConstraintType() == FixedConstraint && !atMostUpper(v, size)) {
    text_ << " This " << what << " has size " << size << " greater than its upper bound " << v.getUpperLimit();
    return false;
  }
  return true;
}

bool InvalidTracer::do_visit(const BIT_STRING& v) { return sizeFits("BIT STRING", v, v.size()); }

bool InvalidTracer::do_visit(const OCTET_STRING& v) {
  return sizeFits("OCTET STRING", v, static_cast<unsigned>(v.size()));
}

bool InvalidTracer::do_visit(const AbstractString& v) {
  if (!sizeFits("AbstractString", v, static_cast<unsigned>(v.size()))) return false;
  const int bad = v.find_first_invalid();
  if (bad < 0) return true;
  text_ << " The character '" << v[std::size_t(bad)] << "' is not valid for the string";
  return false;
}

bool InvalidTracer::do_visit(const BMPString& v) {
  if (!sizeFits("BMPString", v, static_cast<unsigned>(v.size()))) return false;
  const std::size_t bad = v.first_illegal_at();
  if (bad == v.size()) return true;
  text_ << " The character '" << static_cast<unsigned long>(v[bad]) << "' is not valid for the string";
  return false;
}

bool InvalidTracer::do_visit(const GeneralizedTime& v) {
  if (timeValid(v)) return true;
  text_ << " This GeneralizedTime is not valid";
  return false;
}

bool InvalidTracer::do_visit(const CHOICE& v) {
  if (v.isUnknownSelection()) {
    text_ << " This selection is not understood by this decoder";
    return false;
  }
  if (v.currentSelection() < 0 || v.getSelection() == nullptr) {
    text_ << " This CHOICE is not selected";
    return false;
  }
  const char* name = v.getSelectionName();
  text_ << '.' << (name ? name : "");
  return v.getSelection()->accept(*this);
}

bool InvalidTracer::do_visit(const OpenData& v) {
  if (v.has_data()) return v.get_data().accept(*this);
  if (v.has_buf()) return true;
  text_ << " This Open Type does not contain any valid data";
  return false;
}

bool InvalidTracer::do_visit(const SEQUENCE_OF_Base& v) {
  if (!sizeFits("SEQUENCE OF", v, static_cast<unsigned>(v.size()))) return false;
  unsigned index = 0;
  for (const AbstractData* element : v) {
    InvalidTracer inner;
    if (!element->accept(inner)) {
      text_ << '[' << index << ']' << inner.text();
      return false;
    }
    ++index;
  }
  return true;
}

bool InvalidTracer::visitExtensionRoot(const SEQUENCE& seq, int index) {
  InvalidTracer inner;
  if (seq.getField(unsigned(index))->accept(inner)) return true;
  const char* name = seq.getFieldName(unsigned(index));
  text_ << '.' << (name ? name : "") << inner.text();
  return false;
}

bool InvalidTracer::visitKnownExtension(const SEQUENCE& seq, int index) { return visitExtensionRoot(seq, index); }

std::ostream& operator<<(std::ostream& os, const InvalidTracer& tracer) { return os << tracer.text(); }

bool trace_invalid(std::ostream& os, const char* prefix, const AbstractData& value) {
  InvalidTracer tracer;
  if (value.accept(tracer)) return true;
  os << (prefix ? prefix : "") << tracer << std::endl;
  return false;
}

}  // namespace ASN1
