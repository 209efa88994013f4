#pragma once
// CHOICE, SEQUENCE, SEQUENCE OF / SET OF and open types.

#include "asn1/value.h"

#include <boost/iterator/iterator_adaptor.hpp>
#include <boost/polymorphic_cast.hpp>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

namespace ASN1 {

namespace detail {
// Ends a value made by new; see constructed.cpp.
void destroyValue(AbstractData* p) noexcept;
}  // namespace detail

class CHOICE : public AbstractData, public detail::Allocator<CHOICE> {
public:
  struct InfoType : AbstractData::InfoType {
    bool extendable;
    const AbstractData::InfoType* const* selectionInfos;  // root alternatives, then known extensions
    std::uint32_t numChoices;                             // root alternatives
    std::uint32_t totalChoices;                           // root + known extension alternatives
    const std::uint32_t* tags;                            // null: automatic tagging
    const char* const* selectionNames;
  };

  enum { unselected_ = -1, unknownSelection_ = -2 };

  explicit CHOICE(const InfoType* info, int id = unselected_, AbstractData* value = nullptr);
  CHOICE(const CHOICE& other);
  CHOICE& operator=(const CHOICE& other);
  ~CHOICE() override;

  static AbstractData* create(const AbstractData::InfoType* info);

  // Replaces the held value by value (owned from now on); returns it.
  AbstractData* setSelection(int id, AbstractData* value);
  bool select(int id);
  bool createSelection();

  int currentSelection() const { return selection_; }
  const AbstractData* getSelection() const { return value_.get(); }
  AbstractData* getSelection() { return value_.get(); }
  bool isUnknownSelection() const { return selection_ == unknownSelection_; }
  unsigned getNumChoices() const { return info()->numChoices; }
  unsigned getTotalChoices() const { return info()->totalChoices; }
  bool extendable() const { return info()->extendable; }
  const char* getSelectionName() const;
  unsigned getSelectionTag() const;
  bool setID(unsigned tagNumber, unsigned tagClass);
  void swap(CHOICE& other);

  bool isValid() const;
  bool isStrictlyValid() const;

  const InfoType* info() const { return static_cast<const InfoType*>(AbstractData::info()); }

protected:
  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

private:
  friend void detail::destroyValue(AbstractData* p) noexcept;
  std::unique_ptr<AbstractData> value_;
  std::int32_t selection_;
};

class SEQUENCE : public AbstractData, public detail::Allocator<SEQUENCE> {
public:
  struct InfoType : AbstractData::InfoType {
    bool extendable;
    const AbstractData::InfoType* const* fieldInfos;  // root fields, then known extensions
    const std::int32_t* fieldIds;                     // per root field: -1 mandatory, else its optional bit
    std::uint32_t numFields;                          // root fields
    std::uint32_t knownExtensions;                    // extension additions the type knows
    std::uint32_t numOptional;                        // optional root fields
    const unsigned char* extDefaults;                 // null, or bit map of the extensions a new value has
    const std::uint32_t* fieldTags;                   // null automatic, &defaultTag, or one tag per field
    const char* const* fieldNames;
  };

  // Its address in fieldTags: every field keeps its own type's tag.
  static const std::uint32_t defaultTag;

  // Presence bits, most significant bit of the first octet first. Up to
  // 64 bits live inside the object.
  class BitMap {
  public:
    BitMap() : size_(0), capacity_(kInline) { store_.word = 0; }
    BitMap(const BitMap& other);
    BitMap& operator=(const BitMap& other);
    ~BitMap() { reset(); }
    // Gives back a heap store and leaves the map empty.
    void reset() noexcept {
      if (capacity_ > kInline) delete[] store_.heap;
      size_ = 0;
      capacity_ = kInline;
      store_.word = 0;
    }
    unsigned size() const { return size_; }
    void resize(unsigned n) {
      if (capacity_ == kInline && n <= kInline * 8) {
        size_ = n;
        keepFirst(n);
      } else {
        grow(n);
      }
    }
    bool operator[](unsigned i) const {
      return i < size_ && ((static_cast<unsigned char>(data()[i / 8]) >> (7 - i % 8)) & 1u);
    }
    void set(unsigned i) {
      if (i < size_) data()[i / 8] = char(static_cast<unsigned char>(data()[i / 8]) | (0x80u >> (i % 8)));
    }
    void clear(unsigned i) {
      if (i < size_) data()[i / 8] = char(static_cast<unsigned char>(data()[i / 8]) & ~(0x80u >> (i % 8)));
    }
    void swap(BitMap& other);
    // The octets, (size() + 7) / 8 of them, for the coders that move
    // presence maps as bit fields.
    const char* bitData() const { return data(); }
    char* bitData() { return data(); }
    unsigned octets() const { return (size_ + 7) / 8; }

  private:
    static constexpr std::uint32_t kInline = 8;
    char* data() { return capacity_ > kInline ? store_.heap : store_.octets; }
    // Clears the inline bits from bit n on: bits cut off by a shrink must not
    // come back on a later growth.
    void keepFirst(unsigned n) {
      std::uint64_t w;
      std::memcpy(&w, store_.octets, sizeof w);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
      w = __builtin_bswap64(w);
#endif
      w = n == 0 ? 0 : w & (~std::uint64_t(0) << (64 - n));
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
      w = __builtin_bswap64(w);
#endif
      std::memcpy(store_.octets, &w, sizeof w);
    }
    void grow(unsigned n);
    const char* data() const { return capacity_ > kInline ? store_.heap : store_.octets; }

    std::uint32_t size_;
    std::uint32_t capacity_;  // octets
    union {
      char octets[kInline];
      std::uint64_t word;
      char* heap;
    } store_;
  };

  // One owned value per root and known extension field; null while absent
  // and never created. Up to six slots live inside the object.
  class FieldVector {
  public:
    typedef AbstractData** iterator;
    typedef AbstractData* const* const_iterator;

    FieldVector() : size_(0), data_(inline_) {}
    explicit FieldVector(std::size_t n);
    FieldVector(const FieldVector& other);
    FieldVector(FieldVector&& other) noexcept;
    FieldVector& operator=(const FieldVector& other);
    FieldVector& operator=(FieldVector&& other) noexcept;
    ~FieldVector();

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    AbstractData*& operator[](std::size_t i) { return data_[i]; }
    AbstractData* operator[](std::size_t i) const { return data_[i]; }
    iterator begin() { return data_; }
    iterator end() { return data_ + size_; }
    const_iterator begin() const { return data_; }
    const_iterator end() const { return data_ + size_; }
    void swap(FieldVector& other) noexcept;
    // Ends the values held and leaves no slot.
    void destroy() noexcept;

  private:
    static constexpr std::size_t kInline = 6;
    // Takes other's slots, leaving it empty.
    void steal(FieldVector& other) noexcept;

    std::size_t size_;
    AbstractData** data_;
    AbstractData* inline_[kInline];
  };

  explicit SEQUENCE(const InfoType* info);
  SEQUENCE(const SEQUENCE& other);
  SEQUENCE& operator=(const SEQUENCE& other);
  ~SEQUENCE() override {}

  static AbstractData* create(const AbstractData::InfoType* info);

  void swap(SEQUENCE& other);

  AbstractData* getField(unsigned index) { return index < fields_.size() ? fields_[index] : nullptr; }
  const AbstractData* getField(unsigned index) const { return index < fields_.size() ? fields_[index] : nullptr; }
  // The field's value, created from its record when the slot is empty; null
  // for an index beyond the type's fields.
  AbstractData* getOrCreateField(unsigned index) {
    if (index < fields_.size() && fields_[index] != nullptr) return fields_[index];
    return createField(index);
  }
  const char* getFieldName(unsigned index) const;
  const AbstractData::InfoType* getFieldInfo(unsigned index) const;
  // -1 for a mandatory root field, else its optional bit; -1 beyond the root.
  int getFieldId(unsigned index) const {
    if (index >= info()->numFields || info()->fieldIds == nullptr) return -1;
    return info()->fieldIds[index];
  }

  bool hasOptionalField(unsigned bit) const {
    if (bit < optionalMap_.size()) return optionalMap_[bit];
    return extensionMap_[bit - optionalMap_.size()];
  }
  void includeOptionalField(unsigned bit, unsigned index);
  void removeOptionalField(unsigned bit);

  bool extendable() const { return info()->extendable; }
  unsigned numFields() const { return info()->numFields; }
  unsigned knownExtensions() const { return info()->knownExtensions; }
  unsigned numOptional() const { return info()->numOptional; }
  unsigned fieldCount() const { return static_cast<unsigned>(fields_.size()); }
  int tagMode() const;
  unsigned getFieldTag(unsigned index) const;

  const BitMap& optionalMap() const { return optionalMap_; }
  BitMap& optionalMap() { return optionalMap_; }
  const BitMap& extensionMap() const { return extensionMap_; }
  BitMap& extensionMap() { return extensionMap_; }

  const InfoType* info() const { return static_cast<const InfoType*>(AbstractData::info()); }

protected:
  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

private:
  friend void detail::destroyValue(AbstractData* p) noexcept;
  AbstractData* createField(unsigned index);

  FieldVector fields_;
  BitMap optionalMap_;
  BitMap extensionMap_;
};

class SEQUENCE_OF_Base : public ConstrainedObject, public detail::Allocator<SEQUENCE_OF_Base> {
public:
  struct InfoType : ConstrainedObject::InfoType {
    const AbstractData::InfoType* elementInfo;
  };
  typedef std::vector<AbstractData*> Container;
  typedef Container::iterator iterator;
  typedef Container::const_iterator const_iterator;
  typedef Container::size_type size_type;

  explicit SEQUENCE_OF_Base(const InfoType* info) : ConstrainedObject(info) {}
  SEQUENCE_OF_Base(const SEQUENCE_OF_Base& other);
  SEQUENCE_OF_Base& operator=(const SEQUENCE_OF_Base& other);
  ~SEQUENCE_OF_Base() override;

  static AbstractData* create(const AbstractData::InfoType* info);

  size_type size() const { return elements_.size(); }
  bool empty() const { return elements_.empty(); }
  iterator begin() { return elements_.begin(); }
  iterator end() { return elements_.end(); }
  const_iterator begin() const { return elements_.begin(); }
  const_iterator end() const { return elements_.end(); }
  void reserve(size_type n) { elements_.reserve(n); }

  void push_back(AbstractData* value);
  AbstractData* createElement() const;
  void clear();
  void resize(size_type n);
  iterator erase(iterator first, iterator last);
  void insert(iterator position, size_type n, const AbstractData& x);
  void insert(iterator position, AbstractData const* const* first, AbstractData const* const* last);
  void swap(SEQUENCE_OF_Base& other) { elements_.swap(other.elements_); }

  bool isValid() const;
  bool isStrictlyValid() const;

  const InfoType* info() const { return static_cast<const InfoType*>(AbstractData::info()); }

protected:
  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

  Container elements_;
};

// No size constraint on a list type.
struct EmptyConstraint {};

namespace detail {
template <class T, class Base>
class SequenceIterator
    : public boost::iterator_adaptor<SequenceIterator<T, Base>, Base, T, std::random_access_iterator_tag> {
  typedef boost::iterator_adaptor<SequenceIterator<T, Base>, Base, T, std::random_access_iterator_tag> super;

public:
  SequenceIterator() {}
  explicit SequenceIterator(Base it) : super(it) {}

private:
  friend class boost::iterator_core_access;
  T& dereference() const { return *boost::polymorphic_downcast<T*>(*this->base()); }
};
}  // namespace detail

// Typed access over SEQUENCE_OF_Base; no data of its own.
template <class T, class Constraint = EmptyConstraint, std::uint32_t Tag = 0x10>
class SEQUENCE_OF : public SEQUENCE_OF_Base {
public:
  typedef T value_type;
  typedef detail::SequenceIterator<T, Container::iterator> iterator;
  typedef detail::SequenceIterator<const T, Container::const_iterator> const_iterator;

  static const InfoType theInfo;

  SEQUENCE_OF() : SEQUENCE_OF_Base(&theInfo) {}
  explicit SEQUENCE_OF(const InfoType* info) : SEQUENCE_OF_Base(info) {}

  using SEQUENCE_OF_Base::push_back;
  void push_back(const T& x) { SEQUENCE_OF_Base::push_back(x.clone()); }

  const T& operator[](size_type i) const { return *boost::polymorphic_downcast<const T*>(elements_[i]); }
  T& operator[](size_type i) { return *boost::polymorphic_downcast<T*>(elements_[i]); }

  iterator begin() { return iterator(elements_.begin()); }
  iterator end() { return iterator(elements_.end()); }
  const_iterator begin() const { return const_iterator(elements_.begin()); }
  const_iterator end() const { return const_iterator(elements_.end()); }

  using SEQUENCE_OF_Base::erase;
  iterator erase(iterator it) { return iterator(SEQUENCE_OF_Base::erase(it.base(), it.base() + 1)); }
};

template <class T, class Constraint, std::uint32_t Tag>
const typename SEQUENCE_OF<T, Constraint, Tag>::InfoType SEQUENCE_OF<T, Constraint, Tag>::theInfo = {
    &create_as<SEQUENCE_OF<T, Constraint, Tag>>, Tag, Unconstrained, 0, 0xFFFFFFFFu, &T::theInfo};

template <class T, class Constraint = EmptyConstraint>
using SET_OF = SEQUENCE_OF<T, Constraint, 0x11>;

class OpenData : public AbstractData, public detail::Allocator<OpenData> {
public:
  static const InfoType theInfo;
  static AbstractData* create(const AbstractData::InfoType* info);

  explicit OpenData(const InfoType* info = &theInfo) : AbstractData(info) {}
  OpenData(AbstractData* data, const InfoType* info) : AbstractData(info), data_(data) {}
  OpenData(const OpenData& other);
  OpenData& operator=(const OpenData& other);
  ~OpenData() override;

  bool has_data() const { return data_ != nullptr; }
  const AbstractData& get_data() const { return *data_; }
  AbstractData& get_data() { return *data_; }
  // Takes ownership of data, dropping what was held.
  void set_data(AbstractData* data) { data_.reset(data); }
  bool has_buf() const { return buf_ != nullptr; }
  const std::vector<char>& get_buf() const { return *buf_; }
  std::vector<char>& get_buf() { return *buf_; }
  void grab(std::vector<char>* buf) { buf_.reset(buf); }
  bool isEmpty() const { return !has_data() && !has_buf(); }
  void swap(OpenData& other);

  bool isValid() const;
  bool isStrictlyValid() const;

protected:
  int do_compare(const AbstractData& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

private:
  std::unique_ptr<AbstractData> data_;
  std::unique_ptr<std::vector<char>> buf_;
};

class TypeConstrainedOpenData : public OpenData {
public:
  struct InfoType : AbstractData::InfoType {
    const AbstractData::InfoType* typeInfo;  // the one type held
  };
  static AbstractData* create(const AbstractData::InfoType* info);

  TypeConstrainedOpenData(AbstractData* data, const InfoType* info) : OpenData(data, info) {}

  const InfoType* info() const { return static_cast<const InfoType*>(AbstractData::info()); }

protected:
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
};

}  // namespace ASN1
