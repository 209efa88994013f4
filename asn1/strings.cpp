#include "asn1/strings.h"

#include "asn1/visitor.h"

#include <boost/polymorphic_cast.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <utility>

namespace ASN1 {

namespace {
const char kNumericSet[] = " 0123456789";
const char kPrintableSet[] = " '()+,-./0123456789:=?ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
}  // namespace

const ConstrainedObject::InfoType OCTET_STRING::theInfo = {&OCTET_STRING::create, 4, Unconstrained, 0, 0xFFFFFFFFu};

AbstractData* OCTET_STRING::create(const AbstractData::InfoType* info) {
  return new OCTET_STRING(static_cast<const InfoType*>(info));
}

int OCTET_STRING::do_compare(const AbstractData& other) const {
  const OCTET_STRING& o = *boost::polymorphic_downcast<const OCTET_STRING*>(&other);
  return lexicographic_compare_bytes(data(), data() + size(), o.data(), o.data() + o.size());
}
AbstractData* OCTET_STRING::do_clone() const { return detail::cloneByRecord(*this, &OCTET_STRING::create); }
bool OCTET_STRING::do_accept(Visitor& v) { return v.visit(*this); }
bool OCTET_STRING::do_accept(ConstVisitor& v) const { return v.visit(*this); }

const ConstrainedObject::InfoType BIT_STRING::theInfo = {&BIT_STRING::create, 3, Unconstrained, 0, 0xFFFFFFFFu};

AbstractData* BIT_STRING::create(const AbstractData::InfoType* info) {
  return new BIT_STRING(static_cast<const InfoType*>(info));
}

void BIT_STRING::resize(unsigned n) {
  // Bits beyond the length (cut off by a shrink, or padding from the wire)
  // must not show up as set when the string grows.
  const std::uint32_t kept = std::min(n, totalBits_);
  if (kept % 8 != 0 && kept / 8 < bitData_.size())
    bitData_[kept / 8] = static_cast<char>(static_cast<unsigned char>(bitData_[kept / 8]) & (0xFFu << (8 - kept % 8)));
  totalBits_ = n;
  bitData_.resize((std::size_t(n) + 7) / 8, 0);
}

bool BIT_STRING::operator[](unsigned i) const {
  if (i >= totalBits_ || i / 8 >= bitData_.size()) return false;
  return (static_cast<unsigned char>(bitData_[i / 8]) >> (7 - i % 8)) & 1u;
}

void BIT_STRING::set(unsigned i, bool value) {
  if (i >= totalBits_ || i / 8 >= bitData_.size()) return;
  const unsigned mask = 0x80u >> (i % 8);
  const unsigned octet = static_cast<unsigned char>(bitData_[i / 8]);
  bitData_[i / 8] = static_cast<char>(value ? (octet | mask) : (octet & ~mask));
}

int BIT_STRING::do_compare(const AbstractData& other) const {
  const BIT_STRING& o = *boost::polymorphic_downcast<const BIT_STRING*>(&other);
  const std::size_t n = std::min(bitData_.size(), o.bitData_.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned a = static_cast<unsigned char>(bitData_[i]);
    const unsigned b = static_cast<unsigned char>(o.bitData_[i]);
    if (a != b) {
      const unsigned x = a ^ b;
      return int(a & x) - int(b & x);
    }
  }
  return compare3(totalBits_, o.totalBits_);
}
AbstractData* BIT_STRING::do_clone() const { return detail::cloneByRecord(*this, &BIT_STRING::create); }
bool BIT_STRING::do_accept(Visitor& v) { return v.visit(*this); }
bool BIT_STRING::do_accept(ConstVisitor& v) const { return v.visit(*this); }

const char IA5StringSet[128] = {
    '\x00', '\x01', '\x02', '\x03', '\x04', '\x05', '\x06', '\x07', '\x08', '\x09', '\x0a', '\x0b', '\x0c',
    '\x0d', '\x0e', '\x0f', '\x10', '\x11', '\x12', '\x13', '\x14', '\x15', '\x16', '\x17', '\x18', '\x19',
    '\x1a', '\x1b', '\x1c', '\x1d', '\x1e', '\x1f', '\x20', '\x21', '\x22', '\x23', '\x24', '\x25', '\x26',
    '\x27', '\x28', '\x29', '\x2a', '\x2b', '\x2c', '\x2d', '\x2e', '\x2f', '\x30', '\x31', '\x32', '\x33',
    '\x34', '\x35', '\x36', '\x37', '\x38', '\x39', '\x3a', '\x3b', '\x3c', '\x3d', '\x3e', '\x3f', '\x40',
    '\x41', '\x42', '\x43', '\x44', '\x45', '\x46', '\x47', '\x48', '\x49', '\x4a', '\x4b', '\x4c', '\x4d',
    '\x4e', '\x4f', '\x50', '\x51', '\x52', '\x53', '\x54', '\x55', '\x56', '\x57', '\x58', '\x59', '\x5a',
    '\x5b', '\x5c', '\x5d', '\x5e', '\x5f', '\x60', '\x61', '\x62', '\x63', '\x64', '\x65', '\x66', '\x67',
    '\x68', '\x69', '\x6a', '\x6b', '\x6c', '\x6d', '\x6e', '\x6f', '\x70', '\x71', '\x72', '\x73', '\x74',
    '\x75', '\x76', '\x77', '\x78', '\x79', '\x7a', '\x7b', '\x7c', '\x7d', '\x7e', '\x7f'};
const char GeneralStringSet[256] = {
    '\x00', '\x01', '\x02', '\x03', '\x04', '\x05', '\x06', '\x07', '\x08', '\x09', '\x0a', '\x0b', '\x0c', '\x0d',
    '\x0e', '\x0f', '\x10', '\x11', '\x12', '\x13', '\x14', '\x15', '\x16', '\x17', '\x18', '\x19', '\x1a', '\x1b',
    '\x1c', '\x1d', '\x1e', '\x1f', '\x20', '\x21', '\x22', '\x23', '\x24', '\x25', '\x26', '\x27', '\x28', '\x29',
    '\x2a', '\x2b', '\x2c', '\x2d', '\x2e', '\x2f', '\x30', '\x31', '\x32', '\x33', '\x34', '\x35', '\x36', '\x37',
    '\x38', '\x39', '\x3a', '\x3b', '\x3c', '\x3d', '\x3e', '\x3f', '\x40', '\x41', '\x42', '\x43', '\x44', '\x45',
    '\x46', '\x47', '\x48', '\x49', '\x4a', '\x4b', '\x4c', '\x4d', '\x4e', '\x4f', '\x50', '\x51', '\x52', '\x53',
    '\x54', '\x55', '\x56', '\x57', '\x58', '\x59', '\x5a', '\x5b', '\x5c', '\x5d', '\x5e', '\x5f', '\x60', '\x61',
    '\x62', '\x63', '\x64', '\x65', '\x66', '\x67', '\x68', '\x69', '\x6a', '\x6b', '\x6c', '\x6d', '\x6e', '\x6f',
    '\x70', '\x71', '\x72', '\x73', '\x74', '\x75', '\x76', '\x77', '\x78', '\x79', '\x7a', '\x7b', '\x7c', '\x7d',
    '\x7e', '\x7f', '\x80', '\x81', '\x82', '\x83', '\x84', '\x85', '\x86', '\x87', '\x88', '\x89', '\x8a', '\x8b',
    '\x8c', '\x8d', '\x8e', '\x8f', '\x90', '\x91', '\x92', '\x93', '\x94', '\x95', '\x96', '\x97', '\x98', '\x99',
    '\x9a', '\x9b', '\x9c', '\x9d', '\x9e', '\x9f', '\xa0', '\xa1', '\xa2', '\xa3', '\xa4', '\xa5', '\xa6', '\xa7',
    '\xa8', '\xa9', '\xaa', '\xab', '\xac', '\xad', '\xae', '\xaf', '\xb0', '\xb1', '\xb2', '\xb3', '\xb4', '\xb5',
    '\xb6', '\xb7', '\xb8', '\xb9', '\xba', '\xbb', '\xbc', '\xbd', '\xbe', '\xbf', '\xc0', '\xc1', '\xc2', '\xc3',
    '\xc4', '\xc5', '\xc6', '\xc7', '\xc8', '\xc9', '\xca', '\xcb', '\xcc', '\xcd', '\xce', '\xcf', '\xd0', '\xd1',
    '\xd2', '\xd3', '\xd4', '\xd5', '\xd6', '\xd7', '\xd8', '\xd9', '\xda', '\xdb', '\xdc', '\xdd', '\xde', '\xdf',
    '\xe0', '\xe1', '\xe2', '\xe3', '\xe4', '\xe5', '\xe6', '\xe7', '\xe8', '\xe9', '\xea', '\xeb', '\xec', '\xed',
    '\xee', '\xef', '\xf0', '\xf1', '\xf2', '\xf3', '\xf4', '\xf5', '\xf6', '\xf7', '\xf8', '\xf9', '\xfa', '\xfb',
    '\xfc', '\xfd', '\xfe', '\xff'};
const char VisibleStringSet[95] = {
    '\x20', '\x21', '\x22', '\x23', '\x24', '\x25', '\x26', '\x27', '\x28', '\x29', '\x2a', '\x2b', '\x2c', '\x2d',
    '\x2e', '\x2f', '\x30', '\x31', '\x32', '\x33', '\x34', '\x35', '\x36', '\x37', '\x38', '\x39', '\x3a', '\x3b',
    '\x3c', '\x3d', '\x3e', '\x3f', '\x40', '\x41', '\x42', '\x43', '\x44', '\x45', '\x46', '\x47', '\x48', '\x49',
    '\x4a', '\x4b', '\x4c', '\x4d', '\x4e', '\x4f', '\x50', '\x51', '\x52', '\x53', '\x54', '\x55', '\x56', '\x57',
    '\x58', '\x59', '\x5a', '\x5b', '\x5c', '\x5d', '\x5e', '\x5f', '\x60', '\x61', '\x62', '\x63', '\x64', '\x65',
    '\x66', '\x67', '\x68', '\x69', '\x6a', '\x6b', '\x6c', '\x6d', '\x6e', '\x6f', '\x70', '\x71', '\x72', '\x73',
    '\x74', '\x75', '\x76', '\x77', '\x78', '\x79', '\x7a', '\x7b', '\x7c', '\x7d', '\x7e'};

AbstractData* AbstractString::create(const AbstractData::InfoType* info) {
  return new AbstractString(static_cast<const InfoType*>(info));
}

int AbstractString::find_first_invalid() const {
  const char* set = getCharacterSet();
  const unsigned n = getCharacterSetSize();
  if (set == nullptr || n == 0) return -1;
  for (std::size_t i = 0; i < size(); ++i) {
    if (std::memchr(set, (*this)[i], n) == nullptr) return static_cast<int>(i);
  }
  return -1;
}

int AbstractString::do_compare(const AbstractData& other) const {
  const AbstractString& o = *boost::polymorphic_downcast<const AbstractString*>(&other);
  return std::string::compare(o);
}
AbstractData* AbstractString::do_clone() const { return detail::cloneByRecord(*this, &AbstractString::create); }
bool AbstractString::do_accept(Visitor& v) { return v.visit(*this); }
bool AbstractString::do_accept(ConstVisitor& v) const { return v.visit(*this); }

std::ostream& operator<<(std::ostream& os, const AbstractString& s) { return os << static_cast<const std::string&>(s); }

const AbstractString::InfoType IA5String::theInfo = {
    &IA5String::create, 22, Unconstrained, 0, 0xFFFFFFFFu, IA5StringSet, 128, 7, 7, 8};

AbstractData* IA5String::create(const AbstractData::InfoType* info) {
  return new IA5String(static_cast<const InfoType*>(info));
}

const AbstractString::InfoType NumericString::theInfo = {
    &AbstractString::create, 18, Unconstrained, 0, 0xFFFFFFFFu, kNumericSet, 11, 4, 4, 4};
const AbstractString::InfoType PrintableString::theInfo = {
    &AbstractString::create, 19, Unconstrained, 0, 0xFFFFFFFFu, kPrintableSet, 74, 7, 7, 8};
const AbstractString::InfoType VisibleString::theInfo = {
    &AbstractString::create, 26, Unconstrained, 0, 0xFFFFFFFFu, VisibleStringSet, 95, 7, 7, 8};
const AbstractString::InfoType GeneralString::theInfo = {
    &AbstractString::create, 27, Unconstrained, 0, 0xFFFFFFFFu, GeneralStringSet, 256, 8, 8, 8};

const BMPString::InfoType BMPString::theInfo = {
    &BMPString::create, 30, Unconstrained, 0, 0xFFFFFFFFu, 0, 0xFFFF, 16, 16};

AbstractData* BMPString::create(const AbstractData::InfoType* info) {
  return new BMPString(static_cast<const InfoType*>(info));
}

std::size_t BMPString::first_illegal_at() const {
  for (std::size_t i = 0; i < size(); ++i)
    if (!legalCharacter((*this)[i])) return i;
  return size();
}

int BMPString::do_compare(const AbstractData& other) const {
  const BMPString& o = *boost::polymorphic_downcast<const BMPString*>(&other);
  return std::wstring::compare(o);
}
AbstractData* BMPString::do_clone() const { return detail::cloneByRecord(*this, &BMPString::create); }
bool BMPString::do_accept(Visitor& v) { return v.visit(*this); }
bool BMPString::do_accept(ConstVisitor& v) const { return v.visit(*this); }

const AbstractData::InfoType OBJECT_IDENTIFIER::theInfo = {&OBJECT_IDENTIFIER::create, 6};

AbstractData* OBJECT_IDENTIFIER::create(const AbstractData::InfoType* info) { return new OBJECT_IDENTIFIER(info); }

namespace {
void putSubIdentifier(std::vector<char>& out, std::uint64_t v) {
  unsigned groups = 1;
  while (groups < 10 && (v >> (7 * groups)) != 0) ++groups;
  for (unsigned g = groups; g-- > 0;) {
    unsigned octet = unsigned(v >> (7 * g)) & 0x7Fu;
    if (g != 0) octet |= 0x80u;
    out.push_back(static_cast<char>(octet));
  }
}
}  // namespace

void OBJECT_IDENTIFIER::encodeCommon(std::vector<char>& out) const {
  if (arcs_.size() < 2) return;
  // Kept exact in 64 bits: a first arc pair beyond 32 bits is refused by the
  // decoder rather than written wrapped.
  putSubIdentifier(out, std::uint64_t(arcs_[0]) * 40 + arcs_[1]);
  for (std::size_t i = 2; i < arcs_.size(); ++i) putSubIdentifier(out, arcs_[i]);
}

bool OBJECT_IDENTIFIER::decodeCommon(const char* p, unsigned n) {
  arcs_.clear();
  const char* end = p + n;
  bool first = true;
  while (p != end) {
    std::uint32_t v = 0;
    for (;;) {
      if (p == end) return false;
      const unsigned octet = static_cast<unsigned char>(*p++);
      if (v > (0xFFFFFFFFu >> 7)) return false;
      v = (v << 7) | (octet & 0x7Fu);
      if ((octet & 0x80u) == 0) break;
    }
    if (first) {
      first = false;
      if (v < 40) {
        arcs_.push_back(0);
        arcs_.push_back(v);
      } else if (v < 80) {
        arcs_.push_back(1);
        arcs_.push_back(v - 40);
      } else {
        arcs_.push_back(2);
        arcs_.push_back(v - 80);
      }
    } else {
      arcs_.push_back(v);
    }
  }
  return true;
}

int OBJECT_IDENTIFIER::do_compare(const AbstractData& other) const {
  const OBJECT_IDENTIFIER& o = *boost::polymorphic_downcast<const OBJECT_IDENTIFIER*>(&other);
  const std::size_t n = std::min(arcs_.size(), o.arcs_.size());
  for (std::size_t i = 0; i < n; ++i)
    if (arcs_[i] != o.arcs_[i]) return compare3(arcs_[i], o.arcs_[i]);
  return compare3(arcs_.size(), o.arcs_.size());
}
AbstractData* OBJECT_IDENTIFIER::do_clone() const { return detail::cloneByRecord(*this, &OBJECT_IDENTIFIER::create); }
bool OBJECT_IDENTIFIER::do_accept(Visitor& v) { return v.visit(*this); }
bool OBJECT_IDENTIFIER::do_accept(ConstVisitor& v) const { return v.visit(*this); }

const AbstractData::InfoType GeneralizedTime::theInfo = {&GeneralizedTime::create, 24};

AbstractData* GeneralizedTime::create(const AbstractData::InfoType* info) { return new GeneralizedTime(info); }

GeneralizedTime::GeneralizedTime() : GeneralizedTime(&theInfo) {}

GeneralizedTime::GeneralizedTime(const InfoType* info)
    : AbstractData(info),
      year_(1),
      month_(1),
      day_(1),
      hour_(0),
      minute_(0),
      second_(0),
      millisec_(0),
      mindiff_(0),
      utc_(false) {}

GeneralizedTime::GeneralizedTime(const char* text) : GeneralizedTime(&theInfo) { set(text); }

GeneralizedTime::GeneralizedTime(int year, int month, int day, int hour, int minute, int second, int millisec,
                                 int mindiff, bool utc)
    : AbstractData(&theInfo),
      year_(year),
      month_(month),
      day_(day),
      hour_(hour),
      minute_(minute),
      second_(second),
      millisec_(millisec),
      mindiff_(mindiff),
      utc_(utc) {}

GeneralizedTime& GeneralizedTime::operator=(const GeneralizedTime& other) {
  GeneralizedTime copy(other);
  swap(copy);
  return *this;
}

void GeneralizedTime::swap(GeneralizedTime& other) {
  std::swap(year_, other.year_);
  std::swap(month_, other.month_);
  std::swap(day_, other.day_);
  std::swap(hour_, other.hour_);
  std::swap(minute_, other.minute_);
  std::swap(second_, other.second_);
  std::swap(millisec_, other.millisec_);
  std::swap(mindiff_, other.mindiff_);
  std::swap(utc_, other.utc_);
}

std::string GeneralizedTime::get() const {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", year_, month_, day_, hour_, minute_, second_);
  std::string text(buf);
  if (millisec_ != 0) {
    std::snprintf(buf, sizeof buf, ".%03d", millisec_);
    text += buf;
  }
  if (utc_) {
    text += 'Z';
  } else if (mindiff_ != 0) {
    const long long off = mindiff_ < 0 ? -static_cast<long long>(mindiff_) : mindiff_;
    std::snprintf(buf, sizeof buf, "%c%02lld%02lld", mindiff_ < 0 ? '-' : '+', off / 60, off % 60);
    text += buf;
  }
  return text;
}

int GeneralizedTime::set(const char* text) {
  if (text == nullptr) return -1;
  const std::size_t len = std::strlen(text);
  int f[6] = {year_, month_, day_, hour_, minute_, second_};
  const int got = std::sscanf(text, "%4d%2d%2d%2d%2d%2d", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]);
  if (got > 0) {
    year_ = f[0];
    month_ = f[1];
    day_ = f[2];
    hour_ = f[3];
    minute_ = f[4];
    second_ = f[5];
  }

  if (len > 14 && text[14] == '.') {
    // Tenths, hundredths and thousandths; finer digits are dropped.
    int ms = 0;
    unsigned digits = 0;
    for (const char* p = text + 15; digits < 3 && *p >= '0' && *p <= '9'; ++p, ++digits) ms = ms * 10 + (*p - '0');
    if (digits > 0) {
      for (; digits < 3; ++digits) ms *= 10;
      millisec_ = ms;
    }
  }

  if (len > 0 && text[len - 1] == 'Z') {
    utc_ = true;
  } else if (len >= 5 && (text[len - 5] == '+' || text[len - 5] == '-')) {
    const char* z = text + len - 4;
    bool digitsOk = true;
    for (int i = 0; i < 4; ++i) digitsOk = digitsOk && z[i] >= '0' && z[i] <= '9';
    if (digitsOk) {
      const int hours = (z[0] - '0') * 10 + (z[1] - '0');
      const int minutes = (z[2] - '0') * 10 + (z[3] - '0');
      const int offset = hours * 60 + minutes;
      mindiff_ = text[len - 5] == '-' ? -offset : offset;
    }
  }
  return got == 6 ? 0 : -1;
}

std::time_t GeneralizedTime::get_time_t() const {
  std::tm tm{};
  tm.tm_year = static_cast<int>(static_cast<long long>(year_) - 1900);
  tm.tm_mon = static_cast<int>(static_cast<long long>(month_) - 1);
  tm.tm_mday = day_;
  tm.tm_hour = hour_;
  tm.tm_min = minute_;
  tm.tm_sec = second_;
  return timegm(&tm);
}

void GeneralizedTime::set_time_t(std::time_t t) {
  std::tm tm{};
  if (gmtime_r(&t, &tm) == nullptr) return;
  year_ = tm.tm_year + 1900;
  month_ = tm.tm_mon + 1;
  day_ = tm.tm_mday;
  hour_ = tm.tm_hour;
  minute_ = tm.tm_min;
  second_ = tm.tm_sec;
}

int GeneralizedTime::do_compare(const AbstractData& other) const {
  const GeneralizedTime& o = *boost::polymorphic_downcast<const GeneralizedTime*>(&other);
  const std::int32_t a[] = {year_, month_, day_, hour_, minute_, second_, millisec_};
  const std::int32_t b[] = {o.year_, o.month_, o.day_, o.hour_, o.minute_, o.second_, o.millisec_};
  for (std::size_t i = 0; i < 7; ++i)
    if (a[i] != b[i]) return compare3(a[i], b[i]);
  return int(utc_) - int(o.utc_);
}
AbstractData* GeneralizedTime::do_clone() const { return detail::cloneByRecord(*this, &GeneralizedTime::create); }
bool GeneralizedTime::do_accept(Visitor& v) { return v.visit(*this); }
bool GeneralizedTime::do_accept(ConstVisitor& v) const { return v.visit(*this); }

}  // namespace ASN1
