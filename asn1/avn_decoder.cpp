#include "asn1/value.h"

#include <istream>

namespace ASN1 {

// Value notation is not read back yet: reading fails without touching the value.
std::ios_base::iostate AbstractData::get_from(std::istream&) { return std::ios_base::failbit; }

std::istream& operator>>(std::istream& is, AbstractData& value) {
  if (!is.good()) return is;
  is.setstate(value.get_from(is));
  return is;
}

}  // namespace ASN1
