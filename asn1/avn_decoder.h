#pragma once
// Value-notation reader: sets a value from the text the writer produces.

#include "asn1/avn_encoder.h"
#include "asn1/visitor.h"

#include <istream>
#include <string>
#include <vector>

namespace ASN1 {

class AVNDecoder : public Visitor {
public:
  explicit AVNDecoder(std::istream& is, CoderEnv* env = nullptr) : Visitor(env), is_(is) {}

protected:
  bool do_visit(Null& v) override;
  bool do_visit(BOOLEAN& v) override;
  bool do_visit(INTEGER& v) override;
  bool do_visit(IntegerWithNamedNumber& v) override;
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
  // The next character after white space; false at the end of the input.
  bool next(char& c);
  // A name (letters, digits, '-' and '_'), or else the one character that
  // stands where it should begin; empty at the end of the input.
  std::string name();
  std::string letters();
  bool readNumber(INTEGER& v);
  bool readCells(BMPString& v);

  std::istream& is_;
  std::vector<std::string> pending_;  // per open SEQUENCE: the field name read, not yet matched
};

// Neither badbit nor failbit: the end of the input alone is success.
bool input_success(std::istream& is);
bool is_space_or_newline(char c);
// A double-quoted text; two quotes in a row inside it stand for one.
bool get_string(std::istream& is, std::string& text);
bool get_id(const char* const* names, unsigned count, const std::string& name, int& index);
// 'digits'H or 'digits'B: octets appended, bits receives the number of bits
// the digits carry.
bool get_value_from(std::istream& is, std::vector<char>& octets, unsigned& bits);
bool get_from_string(std::string& text, std::vector<char>& octets, unsigned& bits, int base);
bool get_from_hstring(std::string& text, std::vector<char>& octets, unsigned& bits);
bool get_from_bstring(std::string& text, std::vector<char>& octets, unsigned& bits);

template <class CharT, class Traits, class T>
class ExtractorWrapper : public IOWrapper<CharT, Traits> {
public:
  ExtractorWrapper(std::basic_istream<CharT, Traits>& is, T& value) : is_(is), value_(value) {}

protected:
  std::ios_base::iostate do_real_io() override {
    typename std::basic_istream<CharT, Traits>::sentry ok(is_);
    if (ok) return value_.get_from(is_);
    return std::ios_base::goodbit;
  }

private:
  std::basic_istream<CharT, Traits>& is_;
  T& value_;
};

template <class CharT, class Traits, class T>
std::basic_istream<CharT, Traits>& g_extractor(std::basic_istream<CharT, Traits>& is, T& value) {
  if (!is.good()) return is;
  ExtractorWrapper<CharT, Traits, T> wrapper(is, value);
  wrapper.do_it(is);
  return is;
}

}  // namespace ASN1
