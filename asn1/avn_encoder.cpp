#include "asn1/avn_encoder.h"

#include "asn1/constructed.h"
#include "asn1/strings.h"

#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <string>

namespace ASN1 {

std::ios_base::iostate AbstractData::print_on(std::ostream& os) const {
  AVNEncoder writer(os);
  return accept(writer) ? std::ios_base::goodbit : std::ios_base::failbit;
}

std::string AbstractData::asValueNotation() const {
  std::ostringstream os;
  AVNEncoder writer(os);
  accept(writer);
  return os.str();
}

std::ostream& operator<<(std::ostream& os, const AbstractData& value) {
  if (!os.good()) return os;
  return g_inserter(os, value);
}

bool AVNEncoder::do_visit(const Null&) {
  os_ << "NULL";
  return os_.good();
}

bool AVNEncoder::do_visit(const BOOLEAN& v) {
  os_ << (bool(v) ? "TRUE" : "FALSE");
  return os_.good();
}

bool AVNEncoder::do_visit(const INTEGER& v) {
  // A range from 0 or above may reach 2^32 - 1: never print it negative.
  if (v.constrained() && v.getLowerLimit() >= 0)
    os_ << static_cast<std::uint32_t>(v.getValue());
  else
    os_ << v.getValue();
  return os_.good();
}

bool AVNEncoder::do_visit(const IntegerWithNamedNumber& v) {
  std::string name;
  if (!v.getName(name)) return do_visit(static_cast<const INTEGER&>(v));
  os_ << name;
  return os_.good();
}

bool AVNEncoder::do_visit(const ENUMERATED& v) {
  const int value = v.asInt();
  if (value >= 0 && value <= v.getMaximum()) {
    const std::string_view name = v.getName();
    if (!name.empty()) {
      os_ << name;
      return os_.good();
    }
  }
  os_ << value;
  return os_.good();
}

bool AVNEncoder::do_visit(const OBJECT_IDENTIFIER& v) {
  os_ << "{ ";
  for (unsigned i = 0; i < v.levels() && os_.good(); ++i) os_ << v[i] << ' ';
  os_ << '}';
  return os_.good();
}

bool AVNEncoder::do_visit(const BIT_STRING& v) {
  os_ << '\'';
  for (unsigned i = 0; i < v.size() && os_.good(); ++i) os_ << (v[i] ? '1' : '0');
  os_ << "'B";
  return os_.good();
}

bool AVNEncoder::writeOctets(const char* p, std::size_t n) {
  os_ << '\'';
  const std::ios_base::fmtflags saved = os_.flags();
  for (std::size_t i = 0; i < n && os_.good(); ++i) {
    if (i != 0) os_ << ' ';
    os_ << std::hex << std::nouppercase << std::setw(2) << std::setfill('0')
        << static_cast<unsigned>(static_cast<unsigned char>(p[i]));
  }
  os_.flags(saved);
  os_.fill(' ');
  os_ << "'H";
  return os_.good();
}

bool AVNEncoder::do_visit(const OCTET_STRING& v) { return writeOctets(v.data(), v.size()); }

bool AVNEncoder::writeText(const char* p, std::size_t n) {
  // A quote inside is written twice, so that the text reads back whole.
  os_ << '"';
  for (std::size_t start = 0; start < n && os_.good();) {
    const void* quote = std::memchr(p + start, '"', n - start);
    const std::size_t end = quote ? std::size_t(static_cast<const char*>(quote) - p) + 1 : n;
    os_.write(p + start, std::streamsize(end - start));
    if (quote) os_ << '"';
    start = end;
  }
  os_ << '"';
  return os_.good();
}

bool AVNEncoder::do_visit(const AbstractString& v) {
  const std::string& text = v;
  return writeText(text.data(), text.size());
}

bool AVNEncoder::do_visit(const BMPString& v) {
  // Only what the C locale converts prints as text; the rest as cells. A
  // NUL would end the conversion early and cut the text short.
  const std::size_t n = v.size();
  std::vector<char> narrow(2 * n + 1, 0);
  if (std::wcstombs(narrow.data(), v.c_str(), n) == n) return writeText(narrow.data(), n);
  os_ << '{';
  for (std::size_t i = 0; i < n && os_.good(); ++i) {
    if (i != 0) os_ << ", ";
    const unsigned c = static_cast<unsigned>(v[i]);
    os_ << "{ 0, 0, " << ((c >> 8) & 0xFFu) << ", " << (c & 0xFFu) << '}';
  }
  if (os_.good()) os_ << '}';
  return os_.good();
}

bool AVNEncoder::do_visit(const CHOICE& v) {
  const char* name = v.getSelectionName();
  if (v.currentSelection() < 0 || name == nullptr || v.getSelection() == nullptr) return false;
  os_ << name << " : ";
  return v.getSelection()->accept(*this) && os_.good();
}

bool AVNEncoder::do_visit(const OpenData& v) {
  if (v.has_data()) return v.get_data().accept(*this);
  if (v.has_buf()) return writeOctets(v.get_buf().data(), v.get_buf().size());
  return false;
}

bool AVNEncoder::do_visit(const GeneralizedTime& v) {
  const std::string text = v.get();
  return writeText(text.data(), text.size());
}

bool AVNEncoder::do_visit(const SEQUENCE_OF_Base& v) {
  os_ << "{\n";
  indent_ += 2;
  const std::size_t n = v.size();
  std::size_t i = 0;
  for (SEQUENCE_OF_Base::const_iterator it = v.begin(); it != v.end() && os_.good(); ++it, ++i) {
    os_ << std::setw(indent_) << ' ';
    if (*it == nullptr || !(*it)->accept(*this)) return false;
    if (i + 1 != n) os_ << ",\n";
  }
  indent_ -= 2;
  if (n != 0 && os_.good()) os_ << '\n';
  os_ << std::setw(indent_ + 1) << '}';
  return os_.good();
}

bool AVNEncoder::preVisitExtensionRoots(const SEQUENCE&) {
  fieldWritten_.push_back(false);
  os_ << "{\n";
  return os_.good();
}

bool AVNEncoder::visitExtensionRoot(const SEQUENCE& seq, int index) {
  if (fieldWritten_.back()) os_ << ",\n";
  const char* name = seq.getFieldName(unsigned(index));
  if (name == nullptr) name = "";
  os_ << std::setw(static_cast<int>(std::strlen(name)) + indent_ + 2) << name << ' ';
  indent_ += 2;
  const AbstractData* field = seq.getField(unsigned(index));
  if (field == nullptr || !field->accept(*this) || !os_.good()) return false;
  indent_ -= 2;
  fieldWritten_.back() = true;
  return true;
}

bool AVNEncoder::visitKnownExtension(const SEQUENCE& seq, int index) { return visitExtensionRoot(seq, index); }

bool AVNEncoder::afterVisitSequence(const SEQUENCE&) {
  if (fieldWritten_.back()) os_ << '\n';
  fieldWritten_.pop_back();
  os_ << std::setw(indent_ + 1) << '}';
  return os_.good();
}

}  // namespace ASN1
