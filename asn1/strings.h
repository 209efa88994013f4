#pragma once
// Octet strings, bit strings, character strings, object identifiers, times.

#include "asn1/value.h"

#include <ctime>
#include <iosfwd>
#include <string>
#include <vector>

namespace ASN1 {

class OCTET_STRING : public ConstrainedObject, public std::vector<char>, public detail::Allocator<OCTET_STRING> {
public:
  static const InfoType theInfo;
  static AbstractData* create(const AbstractData::InfoType* info);

  explicit OCTET_STRING(const InfoType* info = &theInfo) : ConstrainedObject(info) {}
  OCTET_STRING(unsigned n, char c, const InfoType* info = &theInfo)
      : ConstrainedObject(info), std::vector<char>(n, c) {}
  explicit OCTET_STRING(const std::vector<char>& octets, const InfoType* info = &theInfo)
      : ConstrainedObject(info), std::vector<char>(octets) {}

  OCTET_STRING& operator=(const std::vector<char>& octets) {
    std::vector<char>::operator=(octets);
    return *this;
  }
  operator std::string() const { return std::string(begin(), end()); }

  bool isValid() const;
  bool isStrictlyValid() const;

  using AbstractData::operator==;
  using AbstractData::operator!=;
  using AbstractData::operator<;
  using ConstrainedObject::info;

protected:
  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

class BIT_STRING : public ConstrainedObject, public detail::Allocator<BIT_STRING> {
public:
  static const InfoType theInfo;
  static AbstractData* create(const AbstractData::InfoType* info);

  explicit BIT_STRING(const InfoType* info = &theInfo) : ConstrainedObject(info), totalBits_(0) {}

  unsigned size() const { return totalBits_; }
  void resize(unsigned n);
  bool operator[](unsigned i) const;
  // Bits at or beyond the length are left alone.
  void set(unsigned i, bool value = true);
  void clear(unsigned i) { set(i, false); }
  const std::vector<char>& getData() const { return bitData_; }
  std::vector<char>& getData() { return bitData_; }

  bool isValid() const;
  bool isStrictlyValid() const;

protected:
  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

private:
  std::uint32_t totalBits_;
  std::vector<char> bitData_;
};

// Permitted alphabets of the runtime's character-set types.
extern const char IA5StringSet[128];
extern const char GeneralStringSet[256];
extern const char VisibleStringSet[95];

class AbstractString : public ConstrainedObject, public std::string, public detail::Allocator<AbstractString> {
public:
  struct InfoType : ConstrainedObject::InfoType {
    const char* characterSet;  // permitted characters; null for none
    std::uint32_t characterSetSize;
    std::uint32_t canonicalSetBits;
    std::uint32_t nBits;         // unaligned PER
    std::uint32_t nBitsAligned;  // aligned PER
  };

  static AbstractData* create(const AbstractData::InfoType* info);

  explicit AbstractString(const InfoType* info) : ConstrainedObject(info) {}
  AbstractString(const InfoType* info, const std::string& text) : ConstrainedObject(info), std::string(text) {}
  AbstractString(const InfoType* info, const char* text) : ConstrainedObject(info), std::string(text) {}

  using std::string::assign;
  AbstractString& assign(const std::string& text) {
    std::string::assign(text);
    return *this;
  }
  AbstractString& operator=(const std::string& text) { return assign(text); }

  const char* getCharacterSet() const { return info()->characterSet; }
  unsigned getCharacterSetSize() const { return info()->characterSetSize; }
  unsigned getCanonicalSetBits() const { return info()->canonicalSetBits; }
  unsigned getNumBits(bool aligned) const { return aligned ? info()->nBitsAligned : info()->nBits; }
  // Position of the first character outside the permitted set, -1 when none.
  int find_first_invalid() const;

  bool isValid() const;
  bool isStrictlyValid() const;

  using AbstractData::compare;
  using AbstractData::operator==;
  using AbstractData::operator!=;
  using AbstractData::operator<;
  const InfoType* info() const { return static_cast<const InfoType*>(AbstractData::info()); }

protected:
  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

std::ostream& operator<<(std::ostream& os, const AbstractString& s);

class IA5String : public AbstractString {
public:
  static const InfoType theInfo;
  static AbstractData* create(const AbstractData::InfoType* info);

  explicit IA5String(const InfoType* info = &theInfo) : AbstractString(info) {}
  explicit IA5String(const std::string& text, const InfoType* info = &theInfo) : AbstractString(info, text) {}
  explicit IA5String(const char* text, const InfoType* info = &theInfo) : AbstractString(info, text) {}

  IA5String& operator=(const std::string& text) {
    assign(text);
    return *this;
  }
  IA5String& operator=(const char* text) {
    std::string::assign(text);
    return *this;
  }
};

// The other character-set types: AbstractString objects bound to their record.
struct NumericString {
  static const AbstractString::InfoType theInfo;
};
struct PrintableString {
  static const AbstractString::InfoType theInfo;
};
struct VisibleString {
  static const AbstractString::InfoType theInfo;
};
struct GeneralString {
  static const AbstractString::InfoType theInfo;
};

class BMPString : public ConstrainedObject, public std::wstring {
public:
  struct InfoType : ConstrainedObject::InfoType {
    wchar_t firstChar;
    wchar_t lastChar;
    std::uint32_t nBits;
    std::uint32_t nBitsAligned;
  };
  static const InfoType theInfo;
  static AbstractData* create(const AbstractData::InfoType* info);

  explicit BMPString(const InfoType* info = &theInfo) : ConstrainedObject(info) {}
  BMPString(const std::wstring& text, const InfoType* info = &theInfo) : ConstrainedObject(info), std::wstring(text) {}
  BMPString(const wchar_t* text, const InfoType* info = &theInfo) : ConstrainedObject(info), std::wstring(text) {}

  using std::wstring::assign;
  BMPString& assign(const wchar_t* text, std::size_t n) {
    std::wstring::assign(text, n);
    return *this;
  }
  wchar_t getFirstChar() const { return info()->firstChar; }
  wchar_t getLastChar() const { return info()->lastChar; }
  unsigned getNumBits(bool aligned) const { return aligned ? info()->nBitsAligned : info()->nBits; }
  bool legalCharacter(wchar_t c) const { return getFirstChar() <= c && c <= getLastChar(); }
  // Index of the first illegal character, the length when all are legal.
  std::size_t first_illegal_at() const;

  bool isValid() const;
  bool isStrictlyValid() const;

  using AbstractData::compare;
  using AbstractData::operator==;
  using AbstractData::operator!=;
  using AbstractData::operator<;
  const InfoType* info() const { return static_cast<const InfoType*>(AbstractData::info()); }

protected:
  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

class OBJECT_IDENTIFIER : public AbstractData, public detail::Allocator<OBJECT_IDENTIFIER> {
public:
  static const InfoType theInfo;
  static AbstractData* create(const AbstractData::InfoType* info);

  explicit OBJECT_IDENTIFIER(const InfoType* info = &theInfo) : AbstractData(info) {}

  unsigned levels() const { return static_cast<unsigned>(arcs_.size()); }
  unsigned operator[](unsigned i) const { return arcs_[i]; }
  void append(unsigned arc) { arcs_.push_back(arc); }
  const std::vector<unsigned>& arcs() const { return arcs_; }

  bool isValid() const;
  bool isStrictlyValid() const;
  void assign(const std::vector<unsigned>& arcs) { arcs_ = arcs; }

  // X.690 contents octets, appended to an empty vector.
  void encodeCommon(std::vector<char>& out) const;
  // Arcs from contents octets; false on a cut-off sub-identifier or one that
  // does not fit 32 bits (the arcs read so far stay).
  bool decodeCommon(const char* p, unsigned n);

protected:
  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

private:
  std::vector<unsigned> arcs_;
};

class GeneralizedTime : public AbstractData, public detail::Allocator<GeneralizedTime> {
public:
  static const InfoType theInfo;
  static AbstractData* create(const AbstractData::InfoType* info);

  GeneralizedTime();
  explicit GeneralizedTime(const InfoType* info);
  explicit GeneralizedTime(const char* text);
  GeneralizedTime(int year, int month, int day, int hour, int minute, int second, int millisec, int mindiff, bool utc);
  GeneralizedTime(const GeneralizedTime& other) = default;
  GeneralizedTime& operator=(const GeneralizedTime& other);
  void swap(GeneralizedTime& other);

  std::string get() const;
  // Fields the text does not carry keep their values; -1 when the date and
  // time of day are not all there.
  int set(const char* text);

  // Seconds since the epoch of the date and time of day, read as UTC.
  std::time_t get_time_t() const;
  void set_time_t(std::time_t t);

  int getYear() const { return year_; }
  int getMonth() const { return month_; }
  int getDay() const { return day_; }
  int getHour() const { return hour_; }
  int getMinute() const { return minute_; }
  int getSecond() const { return second_; }
  int getMillisec() const { return millisec_; }
  int getMinuteDifference() const { return mindiff_; }
  bool getUTC() const { return utc_; }

  bool isValid() const;
  bool isStrictlyValid() const;

protected:
  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

private:
  std::int32_t year_, month_, day_, hour_, minute_, second_, millisec_, mindiff_;
  bool utc_;
};

}  // namespace ASN1
