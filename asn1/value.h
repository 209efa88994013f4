#pragma once
// Base of every ASN.1 value, the type records, and the scalar value classes.
// See asn1/asn1.h for how a generated type declares its records.

#include <cstddef>
#include <cstdint>
#include <ios>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

namespace ASN1 {

class Visitor;
class ConstVisitor;
class CoderEnv;

// Kind of a value or size constraint, as stored in a constraint record.
enum ConstraintType : std::int32_t {
  Unconstrained = 0,
  PartiallyConstrained = 1,  // only the lower bound counts
  FixedConstraint = 2,       // lower..upper
  ExtendableConstraint = 3   // lower..upper with an extension marker
};

// Bits needed to write n distinct values; 32 for n == 0 (a full 2^32 range
// whose count wrapped).
inline unsigned CountBits(unsigned n) {
  if (n == 0) return 32;
  return n == 1 ? 0 : 32u - unsigned(__builtin_clz(n - 1u));
}

// Three-way result of two ordered values: -1, 0 or 1.
template <class T>
inline int compare3(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// Unsigned lexicographic comparison of two octet ranges: the difference of the
// first unequal pair, else -1 / 1 when one range is a proper prefix, else 0.
int lexicographic_compare_bytes(const char* b1, const char* e1, const char* b2, const char* e2);

namespace detail {
// Per-thread free lists of value objects by size, in 16-octet classes up to
// kPoolLimit; larger objects go to the global heap. Decoding makes and drops
// many small objects per message, which the general heap serves slowly.
constexpr std::size_t kPoolLimit = 256;
void* poolAllocate(std::size_t n);
void poolFree(void* p, std::size_t n) noexcept;

// Every value class derives from it, so that a class and all classes derived
// from it are made from the pools; the sized delete returns the object to
// the list of its own size.
template <class T>
struct Allocator {
  static void* operator new(std::size_t n) { return poolAllocate(n); }
  static void operator delete(void* p, std::size_t n) noexcept { poolFree(p, n); }
  static void* operator new(std::size_t, void* at) noexcept { return at; }
  static void operator delete(void*, void*) noexcept {}
};
}  // namespace detail

class AbstractData {
public:
  struct InfoType;
  // Makes a new heap value of the record's type; the caller owns it.
  typedef AbstractData* (*CreateFun)(const InfoType* info);

  // Common head of every type record; the records of the other kinds extend it.
  struct InfoType {
    CreateFun create;
    std::uint32_t tag;  // class bits of the identifier octet << 16 | tag number
  };

  // The runtime class a value is made of, for a coder that branches on it
  // rather than dispatching twice; other for every class without such a path.
  enum Kind : std::uint8_t { otherKind, nullKind, booleanKind, integerKind, enumeratedKind, choiceKind, sequenceKind };

  virtual ~AbstractData() {}

  static AbstractData* create(const InfoType* info) {
    return info == nullptr || info->create == nullptr ? nullptr : info->create(info);
  }

  AbstractData* clone() const { return do_clone(); }
  int compare(const AbstractData& other) const { return do_compare(other); }
  bool operator==(const AbstractData& other) const { return compare(other) == 0; }
  bool operator!=(const AbstractData& other) const { return compare(other) != 0; }
  bool operator<(const AbstractData& other) const { return compare(other) < 0; }

  bool accept(Visitor& v) { return do_accept(v); }
  bool accept(ConstVisitor& v) const { return do_accept(v); }

  int getTag() const { return static_cast<int>(info_->tag); }
  const InfoType* info() const { return info_; }
  Kind kind() const { return kind_; }

  // Value notation in and out; they live with the value-notation coders.
  std::ios_base::iostate get_from(std::istream& is);
  std::ios_base::iostate print_on(std::ostream& os) const;
  // The value-notation text, as far as it could be written.
  std::string asValueNotation() const;
  // Reads the value from value-notation text; text after it is not looked at.
  bool setFromValueNotation(const std::string& text);

  // Whether the value keeps its type's constraints; the strict check accepts
  // nothing beyond the root of an extendable type.
  bool isValid() const;
  bool isStrictlyValid() const;

protected:
  explicit AbstractData(const InfoType* info, Kind kind = otherKind) : info_(info), kind_(kind) {}
  AbstractData(const AbstractData& other) = default;
  // A value never changes its type: assignment keeps the record.
  AbstractData& operator=(const AbstractData&) { return *this; }

  virtual int do_compare(const AbstractData& other) const = 0;
  virtual AbstractData* do_clone() const = 0;
  virtual bool do_accept(Visitor& v) = 0;
  virtual bool do_accept(ConstVisitor& v) const = 0;

private:
  const InfoType* info_;
  Kind kind_;
};

// Value notation through the stream's error-state protocol; a stream that is
// not good is left untouched.
std::ostream& operator<<(std::ostream& os, const AbstractData& value);
std::istream& operator>>(std::istream& is, AbstractData& value);

// Create function for a type whose class binds its own record in its default
// constructor (every generated class, Constrained_INTEGER, SEQUENCE_OF<T>).
// It makes an object of that very class, so casts to it are sound.
template <class T>
AbstractData* create_as(const AbstractData::InfoType*) {
  return new T;
}

namespace detail {
// A copy of v of v's own dynamic class: made by the record's create function
// (a generated type's record makes the generated class), then assigned, which
// copies the contents and keeps the record.
template <class T>
T* cloneByRecord(const T& v, AbstractData::CreateFun runtimeCreate) {
  const AbstractData::InfoType* info = v.info();
  if (info->create == nullptr || info->create == runtimeCreate) return new T(v);
  std::unique_ptr<AbstractData> made(info->create(info));
  T* typed = dynamic_cast<T*>(made.get());
  if (typed == nullptr) return new T(v);
  *typed = v;
  made.release();
  return typed;
}
}  // namespace detail

class ConstrainedObject : public AbstractData {
public:
  struct InfoType : AbstractData::InfoType {
    ConstraintType constraintType;
    std::int32_t lowerLimit;
    std::uint32_t upperLimit;
  };

  ConstraintType getConstraintType() const { return info()->constraintType; }
  std::int32_t getLowerLimit() const { return info()->lowerLimit; }
  std::uint32_t getUpperLimit() const { return info()->upperLimit; }
  bool constrained() const { return getConstraintType() != Unconstrained; }
  bool extendable() const { return getConstraintType() == ExtendableConstraint; }
  const InfoType* info() const { return static_cast<const InfoType*>(AbstractData::info()); }

protected:
  explicit ConstrainedObject(const InfoType* info, Kind kind = otherKind) : AbstractData(info, kind) {}
};

class Null : public AbstractData, public detail::Allocator<Null> {
public:
  static const InfoType theInfo;
  static AbstractData* create(const AbstractData::InfoType* info);

  explicit Null(const InfoType* info = &theInfo) : AbstractData(info, nullKind) {}

protected:
  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

class BOOLEAN : public AbstractData, public detail::Allocator<BOOLEAN> {
public:
  static const InfoType theInfo;
  static AbstractData* create(const AbstractData::InfoType* info);

  explicit BOOLEAN(const InfoType* info = &theInfo) : AbstractData(info, booleanKind), value_(false) {}
  explicit BOOLEAN(bool v, const InfoType* info = &theInfo) : AbstractData(info, booleanKind), value_(v) {}

  BOOLEAN& operator=(bool v) {
    value_ = v;
    return *this;
  }
  operator bool() const { return value_; }

protected:
  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

private:
  bool value_;
};

class INTEGER : public ConstrainedObject, public detail::Allocator<INTEGER> {
public:
  static const InfoType theInfo;
  static AbstractData* create(const AbstractData::InfoType* info);

  explicit INTEGER(const InfoType* info = &theInfo) : ConstrainedObject(info, integerKind), value_(0) {}
  explicit INTEGER(int v, const InfoType* info = &theInfo) : ConstrainedObject(info, integerKind), value_(v) {}

  int getValue() const { return value_; }
  void setValue(int v) { value_ = v; }
  INTEGER& operator=(int v) {
    value_ = v;
    return *this;
  }
  bool operator==(const INTEGER& other) const { return value_ == other.value_; }
  bool operator!=(const INTEGER& other) const { return value_ != other.value_; }

  bool isValid() const;
  bool isStrictValid() const;

protected:
  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

private:
  std::int32_t value_;
};

class IntegerWithNamedNumber : public INTEGER {
public:
  struct NameEntry {
    std::int32_t value;
    const char* name;
  };
  struct NameEntryCmp {
    bool operator()(const NameEntry& e, std::int32_t v) const { return e.value < v; }
  };
  struct InfoType : ConstrainedObject::InfoType {
    const NameEntry* nameEntries;  // sorted by ascending value
    std::uint32_t entryCount;
  };

  static AbstractData* create(const AbstractData::InfoType* info);

  explicit IntegerWithNamedNumber(const InfoType* info) : INTEGER(info) {}
  IntegerWithNamedNumber(int v, const InfoType* info) : INTEGER(v, info) {}

  using INTEGER::operator=;

  bool getName(std::string& out) const;
  bool setFromName(const std::string& name);
  const InfoType* info() const { return static_cast<const InfoType*>(AbstractData::info()); }

protected:
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

class ENUMERATED : public AbstractData, public detail::Allocator<ENUMERATED> {
public:
  struct InfoType : AbstractData::InfoType {
    bool extendable;
    std::int32_t maximum;      // largest value of the enumeration
    const char* const* names;  // "name" or "name=value", declaration order
    std::uint32_t nameCount;   // entries in names
  };

  static AbstractData* create(const AbstractData::InfoType* info);

  explicit ENUMERATED(const InfoType* info) : AbstractData(info, enumeratedKind), value_(0) {}

  void setFromInt(int v) { value_ = v; }
  int asInt() const { return value_; }
  int getMaximum() const { return info()->maximum; }
  bool extendable() const { return info()->extendable; }

  // Name of the current value (the first declared one when several share
  // it); empty when the value has none.
  std::string_view getName() const;
  // The value of the first enumerator called name; with none, the value
  // becomes maximum + 1 and the result is false.
  bool setFromName(std::string_view name);

  // The name part of a names-table entry ("fsm=32" gives "fsm").
  static std::string_view entryName(const char* entry);

  bool isValid() const;
  bool isStrictlyValid() const;
  const InfoType* info() const { return static_cast<const InfoType*>(AbstractData::info()); }

protected:
  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

private:
  std::int32_t value_;
};

// INTEGER (lo..hi): an INTEGER object bound to the instance's shared record.
template <ConstraintType type, int lo, unsigned hi>
class Constrained_INTEGER : public INTEGER {
public:
  static constexpr InfoType theInfo = {&create_as<Constrained_INTEGER>, 2, type, lo, hi};

  Constrained_INTEGER() : INTEGER(&theInfo) {}
  explicit Constrained_INTEGER(unsigned v) : INTEGER(static_cast<int>(v), &theInfo) {}

  // No range check here: encoding and the checkers judge the value.
  Constrained_INTEGER& operator=(unsigned v) {
    setValue(static_cast<int>(v));
    return *this;
  }
  unsigned getValue() const { return static_cast<unsigned>(INTEGER::getValue()); }
};

template <ConstraintType type, int lo, unsigned hi>
unsigned operator+(unsigned a, const Constrained_INTEGER<type, lo, hi>& b) {
  return a + b.getValue();
}

}  // namespace ASN1
