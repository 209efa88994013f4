#include "asn1/avn_decoder.h"

#include "asn1/constructed.h"
#include "asn1/strings.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <memory>
#include <sstream>

namespace ASN1 {

namespace {

bool isNameChar(int ch) {
  return ch != std::char_traits<char>::eof() &&
         (std::isalnum(static_cast<unsigned char>(ch)) || ch == '-' || ch == '_');
}

bool isDigitOf(char c, int base) {
  if (base == 2) return c == '0' || c == '1';
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// A whole text as a decimal number.
bool toLong(const std::string& text, long& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, 10);
  return errno == 0 && end == text.c_str() + text.size();
}

}  // namespace

std::ios_base::iostate AbstractData::get_from(std::istream& is) {
  AVNDecoder reader(is);
  return accept(reader) ? std::ios_base::goodbit : std::ios_base::failbit;
}

bool AbstractData::setFromValueNotation(const std::string& text) {
  std::istringstream is(text);
  AVNDecoder reader(is);
  return accept(reader);
}

std::istream& operator>>(std::istream& is, AbstractData& value) {
  if (!is.good()) return is;
  return g_extractor(is, value);
}

bool input_success(std::istream& is) { return !(is.rdstate() & (std::ios_base::badbit | std::ios_base::failbit)); }

bool is_space_or_newline(char c) { return c == ' ' || c == '\n'; }

bool get_string(std::istream& is, std::string& text) {
  char quote;
  if (!(is >> std::ws).get(quote) || quote != '"') return false;
  text.clear();
  for (;;) {
    std::string part;
    std::getline(is, part, '"');
    // Without the closing quote getline stops at the end of the input.
    if (!input_success(is) || is.eof()) return false;
    text += part;
    // A doubled quote stands for one inside the text. Looking through the
    // buffer leaves the stream's state alone at the end of the input.
    if (is.rdbuf()->sgetc() != '"') return true;
    is.get();
    text.push_back('"');
  }
}

bool get_id(const char* const* names, unsigned count, const std::string& name, int& index) {
  if (names == nullptr) return false;
  for (unsigned i = 0; i < count; ++i) {
    if (names[i] != nullptr && name == names[i]) {
      index = static_cast<int>(i);
      return true;
    }
  }
  return false;
}

bool get_from_string(std::string& text, std::vector<char>& octets, unsigned& bits, int base) {
  std::string digits;
  for (char c : text)
    if (!is_space_or_newline(c)) digits.push_back(c);
  const unsigned perOctet = base == 16 ? 2 : 8;
  bits = static_cast<unsigned>(digits.size()) * (base == 16 ? 4 : 1);
  while (digits.size() % perOctet != 0) digits.push_back('0');
  for (std::size_t i = 0; i < digits.size(); i += perOctet) {
    unsigned octet = 0;
    for (std::size_t k = i; k < i + perOctet; ++k) {
      if (!isDigitOf(digits[k], base)) return false;
      const char d = static_cast<char>(std::tolower(static_cast<unsigned char>(digits[k])));
      octet = octet * unsigned(base) + unsigned(d <= '9' ? d - '0' : d - 'a' + 10);
    }
    octets.push_back(static_cast<char>(octet & 0xFFu));
  }
  return true;
}

bool get_from_hstring(std::string& text, std::vector<char>& octets, unsigned& bits) {
  return get_from_string(text, octets, bits, 16);
}

bool get_from_bstring(std::string& text, std::vector<char>& octets, unsigned& bits) {
  return get_from_string(text, octets, bits, 2);
}

bool get_value_from(std::istream& is, std::vector<char>& octets, unsigned& bits) {
  char c;
  if (!(is >> std::ws).get(c) || c != '\'') return false;
  std::string text;
  std::getline(is, text, '\'');
  if (!input_success(is) || is.eof()) return false;
  if (!(is >> std::ws).get(c)) return false;
  if (c == 'B') return get_from_bstring(text, octets, bits);
  if (c == 'H') return get_from_hstring(text, octets, bits);
  return false;
}

bool AVNDecoder::next(char& c) { return static_cast<bool>((is_ >> std::ws).get(c)); }

std::string AVNDecoder::name() {
  std::string text;
  is_ >> std::ws;
  const int first = is_.peek();
  if (first == std::char_traits<char>::eof()) return text;
  if (!isNameChar(first)) {
    text.push_back(static_cast<char>(is_.get()));
    return text;
  }
  while (isNameChar(is_.peek())) text.push_back(static_cast<char>(is_.get()));
  return text;
}

std::string AVNDecoder::letters() {
  std::string word;
  // NULL and FALSE are the longest words wanted; stop well after them.
  while (word.size() < 8) {
    const int ch = (is_ >> std::ws).peek();
    if (ch == std::char_traits<char>::eof() || !std::isalpha(ch)) break;
    word.push_back(static_cast<char>(is_.get()));
  }
  return word;
}

bool AVNDecoder::do_visit(Null&) { return letters() == "NULL"; }

bool AVNDecoder::do_visit(BOOLEAN& v) {
  const std::string word = letters();
  if (word == "TRUE") {
    v = true;
    return true;
  }
  if (word == "FALSE") {
    v = false;
    return true;
  }
  return false;
}

bool AVNDecoder::readNumber(INTEGER& v) {
  is_ >> std::ws;
  if (v.constrained() && v.getLowerLimit() >= 0) {
    unsigned value = 0;
    if (is_.peek() == '-' || !(is_ >> value)) return false;
    v.setValue(static_cast<int>(value));
  } else {
    int value = 0;
    if (!(is_ >> value)) return false;
    v.setValue(value);
  }
  return input_success(is_);
}

bool AVNDecoder::do_visit(INTEGER& v) { return readNumber(v); }

bool AVNDecoder::do_visit(IntegerWithNamedNumber& v) {
  const int first = (is_ >> std::ws).peek();
  if (first == '-' || std::isdigit(first)) return readNumber(v);
  return v.setFromName(name());
}

bool AVNDecoder::do_visit(ENUMERATED& v) {
  // A value without a name is written as its number.
  const std::string word = name();
  long number;
  if (!word.empty() && (word[0] == '-' || std::isdigit(static_cast<unsigned char>(word[0])))) {
    if (!toLong(word, number) || number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max())
      return false;
    v.setFromInt(static_cast<int>(number));
    return true;
  }
  return v.setFromName(word);
}

bool AVNDecoder::do_visit(OBJECT_IDENTIFIER& v) {
  char c;
  if (!next(c) || c != '{') return false;
  std::string body;
  std::getline(is_, body, '}');
  std::istringstream words(body);
  std::string word;
  bool named = false;  // the last word was a bare name, owed a number
  while (words >> word) {
    std::size_t at = 0;
    if (!std::isdigit(static_cast<unsigned char>(word[0]))) {
      const std::size_t paren = word.find('(');
      if (paren == std::string::npos || paren + 1 >= word.size() ||
          !std::isdigit(static_cast<unsigned char>(word[paren + 1]))) {
        named = true;
        continue;
      }
      at = paren + 1;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long arc = std::strtoul(word.c_str() + at, &end, 10);
    if (errno != 0 || arc > 0xFFFFFFFFul) return false;
    v.append(static_cast<unsigned>(arc));
    named = false;
  }
  return !named;
}

bool AVNDecoder::do_visit(OCTET_STRING& v) {
  std::vector<char> octets(v.begin(), v.end());
  unsigned bits;
  const bool ok = get_value_from(is_, octets, bits);
  v.assign(octets.begin(), octets.end());
  return ok;
}

bool AVNDecoder::do_visit(BIT_STRING& v) {
  std::vector<char> octets;
  unsigned bits = 0;
  if (!get_value_from(is_, octets, bits)) return false;
  v.getData() = octets;
  v.resize(bits);
  return true;
}

bool AVNDecoder::do_visit(AbstractString& v) {
  std::string text;
  if (!get_string(is_, text)) return false;
  v.assign(text);
  return true;
}

bool AVNDecoder::readCells(BMPString& v) {
  // {{ 0, 0, row, cell}, ...}: what the writer gives for characters the C
  // locale cannot convert.
  char c;
  if (!next(c) || c != '{' || !next(c)) return false;
  std::wstring text;
  while (c != '}') {
    if (c != '{') return false;
    unsigned part[4];
    for (unsigned i = 0; i < 4; ++i) {
      if (!(is_ >> part[i]) || part[i] > 255) return false;
      if (!next(c) || c != (i < 3 ? ',' : '}')) return false;
    }
    if (part[0] != 0 || part[1] != 0) return false;
    text.push_back(static_cast<wchar_t>(part[2] << 8 | part[3]));
    if (!next(c)) return false;
    if (c == ',' && !next(c)) return false;
  }
  v.assign(text.data(), text.size());
  return true;
}

bool AVNDecoder::do_visit(BMPString& v) {
  if ((is_ >> std::ws).peek() == '{') return readCells(v);
  std::string text;
  if (!get_string(is_, text)) return false;
  std::vector<wchar_t> wide(text.size() + 1, 0);
  const std::size_t n = std::mbstowcs(wide.data(), text.c_str(), wide.size());
  if (n == static_cast<std::size_t>(-1)) return false;
  v.assign(wide.data(), n);
  return true;
}

bool AVNDecoder::do_visit(GeneralizedTime& v) {
  std::string text;
  return get_string(is_, text) && v.set(text.c_str()) >= 0;
}

bool AVNDecoder::do_visit(CHOICE& v) {
  int index = -1;
  if (!get_id(v.info()->selectionNames, v.getTotalChoices(), name(), index)) return false;
  char c;
  if (!next(c) || c != ':') return false;
  const AbstractData::InfoType* info = v.info()->selectionInfos ? v.info()->selectionInfos[index] : nullptr;
  AbstractData* selected = AbstractData::create(info);
  if (selected == nullptr) return false;
  v.setSelection(index, selected);
  return selected->accept(*this);
}

bool AVNDecoder::do_visit(SEQUENCE_OF_Base& v) {
  char c;
  if (!next(c) || c != '{') return false;
  if (!next(c)) return false;
  v.clear();
  if (c == '}') return true;
  is_.putback(c);
  for (;;) {
    std::unique_ptr<AbstractData> element(v.createElement());
    if (!element || !element->accept(*this) || !next(c)) return false;
    if (c != ',' && c != '}') return false;
    v.push_back(element.release());
    if (c == '}') return true;
  }
}

bool AVNDecoder::do_visit(OpenData& v) {
  // Only undecoded octets can be read back: the text of a decoded value
  // does not say its type.
  std::unique_ptr<std::vector<char>> octets(new std::vector<char>);
  unsigned bits;
  if (!get_value_from(is_, *octets, bits)) return false;
  v.set_data(nullptr);
  v.grab(octets.release());
  return true;
}

bool AVNDecoder::do_revisit(OpenData&) { return false; }

bool AVNDecoder::do_visit(TypeConstrainedOpenData& v) { return v.has_data() && v.get_data().accept(*this); }

int AVNDecoder::preVisitExtensionRoots(SEQUENCE& seq) {
  char c;
  if (!next(c) || c != '{') return FAIL;
  // Only the fields the text names are present, whatever the value held.
  SEQUENCE::BitMap& optional = seq.optionalMap();
  const unsigned optionalBits = optional.size();
  optional.resize(0);
  optional.resize(optionalBits);
  seq.extensionMap().resize(0);
  if (!next(c)) return FAIL;
  if (c == '}') return STOP;
  is_.putback(c);
  std::string field = name();
  if (field.empty()) return FAIL;
  pending_.push_back(field);
  return CONTINUE;
}

int AVNDecoder::visitExtensionRoot(SEQUENCE& seq, int index, int optionalBit) {
  if (pending_.empty()) return FAIL;
  const char* fieldName = seq.getFieldName(unsigned(index));
  if (fieldName == nullptr || pending_.back() != fieldName) return optionalBit < 0 ? FAIL : CONTINUE;
  if (optionalBit >= 0) seq.includeOptionalField(unsigned(optionalBit), unsigned(index));
  AbstractData* field = seq.getOrCreateField(unsigned(index));
  char c;
  if (field == nullptr || !field->accept(*this) || !next(c)) return FAIL;
  if (c == '}') {
    pending_.pop_back();
    return STOP;
  }
  if (c != ',') return FAIL;
  pending_.back() = name();
  return pending_.back().empty() ? FAIL : CONTINUE;
}

int AVNDecoder::visitKnownExtension(SEQUENCE& seq, int index, int bit) { return visitExtensionRoot(seq, index, bit); }

bool AVNDecoder::visitUnknownExtensions(SEQUENCE&) {
  // Reached when no remaining field took the pending name: only a closing
  // brace after a trailing comma is fine.
  if (pending_.empty() || pending_.back() != "}") return false;
  pending_.pop_back();
  return true;
}

}  // namespace ASN1
