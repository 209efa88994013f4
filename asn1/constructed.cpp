#include "asn1/constructed.h"

#include "asn1/visitor.h"

#include <algorithm>
#include <utility>

namespace ASN1 {

namespace detail {
// The runtime's value classes and the generated ones add no data to the
// scalar, CHOICE and SEQUENCE classes and do nothing on destruction (the
// generated sources assert the sizes). So such a value gives back what it
// owns and goes straight to its pool, without the virtual destructor call
// that the value tree's mixed classes make hard to predict.
void destroyValue(AbstractData* p) noexcept {
  if (p == nullptr) return;
  const AbstractData::Kind kind = p->kind();
  if (kind >= AbstractData::nullKind && kind <= AbstractData::enumeratedKind) {
    static_assert(sizeof(Null) == sizeof(INTEGER) && sizeof(BOOLEAN) == sizeof(INTEGER) &&
                      sizeof(ENUMERATED) == sizeof(INTEGER) && sizeof(IntegerWithNamedNumber) == sizeof(INTEGER),
                  "scalars share one pool size");
    poolFree(p, sizeof(INTEGER));
  } else if (kind == AbstractData::sequenceKind) {
    SEQUENCE* seq = static_cast<SEQUENCE*>(p);
    seq->fields_.destroy();
    seq->optionalMap_.reset();
    seq->extensionMap_.reset();
    poolFree(p, sizeof(SEQUENCE));
  } else if (kind == AbstractData::choiceKind) {
    destroyValue(static_cast<CHOICE*>(p)->value_.release());
    poolFree(p, sizeof(CHOICE));
  } else {
    delete p;
  }
}
}  // namespace detail

CHOICE::CHOICE(const InfoType* info, int id, AbstractData* value)
    : AbstractData(info, choiceKind), value_(value), selection_(id) {}

CHOICE::CHOICE(const CHOICE& other)
    : AbstractData(other), value_(other.value_ ? other.value_->clone() : nullptr), selection_(other.selection_) {}

CHOICE& CHOICE::operator=(const CHOICE& other) {
  if (this != &other) {
    std::unique_ptr<AbstractData> copy(other.value_ ? other.value_->clone() : nullptr);
    value_ = std::move(copy);
    selection_ = other.selection_;
  }
  return *this;
}

CHOICE::~CHOICE() { detail::destroyValue(value_.release()); }

AbstractData* CHOICE::create(const AbstractData::InfoType* info) {
  return new CHOICE(static_cast<const InfoType*>(info));
}

AbstractData* CHOICE::setSelection(int id, AbstractData* value) {
  value_.reset(value);
  selection_ = id;
  return value;
}

bool CHOICE::select(int id) {
  // A selection without a value (possible after setSelection) is made again.
  if (id == selection_ && value_) return true;
  selection_ = id;
  return createSelection();
}

bool CHOICE::createSelection() {
  const InfoType* ci = info();
  if (selection_ >= 0 && std::uint32_t(selection_) < ci->totalChoices && ci->selectionInfos &&
      ci->selectionInfos[selection_] != nullptr) {
    AbstractData* made = AbstractData::create(ci->selectionInfos[selection_]);
    if (made) {
      value_.reset(made);
      return true;
    }
  }
  selection_ = unknownSelection_;
  value_.reset();
  return false;
}

const char* CHOICE::getSelectionName() const {
  const InfoType* ci = info();
  if (selection_ < 0 || std::uint32_t(selection_) >= ci->totalChoices || ci->selectionNames == nullptr) return nullptr;
  return ci->selectionNames[selection_];
}

unsigned CHOICE::getSelectionTag() const {
  const InfoType* ci = info();
  if (selection_ < 0) return 0;
  if (ci->tags == nullptr) return (0x80u << 16) | unsigned(selection_);
  if (std::uint32_t(selection_) >= ci->totalChoices) return 0;
  return ci->tags[selection_];
}

bool CHOICE::setID(unsigned tagNumber, unsigned tagClass) {
  const InfoType* ci = info();
  const std::uint32_t wanted = (tagClass << 16) | tagNumber;
  bool found;
  if (ci->tags != nullptr) {
    const std::uint32_t* first = ci->tags;
    const std::uint32_t* last = ci->tags + ci->numChoices;
    const std::uint32_t* it = std::lower_bound(first, last, wanted);
    selection_ = static_cast<std::int32_t>(it - first);
    found = it != last && *it == wanted;
  } else {
    selection_ = static_cast<std::int32_t>(tagNumber);
    found = true;
  }
  if (found) return createSelection();

  // The first alternative may be an untagged CHOICE carrying the tag.
  if (ci->numChoices > 0 && ci->tags[0] == 0) {
    selection_ = 0;
    if (createSelection()) {
      CHOICE* inner = dynamic_cast<CHOICE*>(value_.get());
      if (inner && inner->setID(tagNumber, tagClass)) return true;
    }
  }
  selection_ = unknownSelection_;
  return false;
}

void CHOICE::swap(CHOICE& other) {
  value_.swap(other.value_);
  std::swap(selection_, other.selection_);
}

int CHOICE::do_compare(const AbstractData& other) const {
  const CHOICE& o = *boost::polymorphic_downcast<const CHOICE*>(&other);
  if (selection_ < 0 || selection_ != o.selection_) return compare3(selection_, o.selection_);
  if (!value_ || !o.value_) return int(bool(value_)) - int(bool(o.value_));
  return value_->compare(*o.value_);
}

AbstractData* CHOICE::do_clone() const { return detail::cloneByRecord(*this, &CHOICE::create); }
bool CHOICE::do_accept(Visitor& v) { return v.visit(*this); }
bool CHOICE::do_accept(ConstVisitor& v) const { return v.visit(*this); }

SEQUENCE::BitMap::BitMap(const BitMap& other) : size_(0), capacity_(kInline) {
  store_.word = 0;
  resize(other.size_);
  std::copy(other.data(), other.data() + other.octets(), data());
}

SEQUENCE::BitMap& SEQUENCE::BitMap::operator=(const BitMap& other) {
  if (this != &other) {
    BitMap copy(other);
    swap(copy);
  }
  return *this;
}

void SEQUENCE::BitMap::grow(unsigned n) {
  const std::uint32_t need = (n + 7) / 8;
  const std::uint32_t had = octets();
  if (need > capacity_) {
    char* grown = new char[need]();
    std::copy(data(), data() + had, grown);
    if (capacity_ > kInline) delete[] store_.heap;
    store_.heap = grown;
    capacity_ = need;
  }
  char* bits = data();
  // Bits cut off by a shrink must not come back on a later growth.
  if (need < had) std::fill(bits + need, bits + had, char(0));
  if (need > had) std::fill(bits + had, bits + need, char(0));
  size_ = n;
  if (n % 8) bits[need - 1] = char(static_cast<unsigned char>(bits[need - 1]) & (0xFFu << (8 - n % 8)));
}

void SEQUENCE::BitMap::swap(BitMap& other) {
  std::swap(size_, other.size_);
  std::swap(capacity_, other.capacity_);
  std::swap(store_, other.store_);
}

SEQUENCE::FieldVector::FieldVector(std::size_t n)
    : size_(n),
      data_(n <= kInline ? inline_ : static_cast<AbstractData**>(detail::poolAllocate(n * sizeof(AbstractData*)))) {
  if (data_ == inline_) {
    // A fixed count of stores, not a call to fill a few slots.
    for (std::size_t i = 0; i < kInline; ++i) inline_[i] = nullptr;
  } else {
    std::fill(data_, data_ + n, nullptr);
  }
}

SEQUENCE::FieldVector::FieldVector(const FieldVector& other) : FieldVector(other.size()) {
  try {
    for (std::size_t i = 0; i < other.size(); ++i)
      if (other[i]) data_[i] = other[i]->clone();
  } catch (...) {
    destroy();
    throw;
  }
}

SEQUENCE::FieldVector::FieldVector(FieldVector&& other) noexcept : size_(0), data_(inline_) { steal(other); }

void SEQUENCE::FieldVector::steal(FieldVector& other) noexcept {
  size_ = other.size_;
  if (other.data_ == other.inline_) {
    data_ = inline_;
    std::copy(other.inline_, other.inline_ + size_, inline_);
  } else {
    data_ = other.data_;
  }
  other.size_ = 0;
  other.data_ = other.inline_;
}

void SEQUENCE::FieldVector::destroy() noexcept {
  for (std::size_t i = 0; i < size_; ++i) detail::destroyValue(data_[i]);
  if (data_ != inline_) detail::poolFree(data_, size_ * sizeof(AbstractData*));
  size_ = 0;
  data_ = inline_;
}

SEQUENCE::FieldVector& SEQUENCE::FieldVector::operator=(const FieldVector& other) {
  if (this != &other) {
    FieldVector copy(other);
    swap(copy);
  }
  return *this;
}

SEQUENCE::FieldVector& SEQUENCE::FieldVector::operator=(FieldVector&& other) noexcept {
  if (this != &other) {
    destroy();
    steal(other);
  }
  return *this;
}

void SEQUENCE::FieldVector::swap(FieldVector& other) noexcept {
  FieldVector held(std::move(*this));
  steal(other);
  other.steal(held);
}

SEQUENCE::FieldVector::~FieldVector() { destroy(); }

const std::uint32_t SEQUENCE::defaultTag = 0;

SEQUENCE::SEQUENCE(const InfoType* info)
    : AbstractData(info, sequenceKind), fields_(std::size_t(info->numFields) + info->knownExtensions) {
  if (info->numOptional != 0) optionalMap_.resize(info->numOptional);
  const AbstractData::InfoType* const* infos = info->fieldInfos;
  if (infos != nullptr) {
    for (std::uint32_t i = 0; i < info->numFields; ++i)
      if (info->fieldIds == nullptr || info->fieldIds[i] == -1) fields_[i] = AbstractData::create(infos[i]);
  }
  if (info->extDefaults != nullptr) {
    extensionMap_.resize(info->knownExtensions);
    for (std::uint32_t k = 0; k < info->knownExtensions; ++k) {
      if ((info->extDefaults[k / 8] >> (7 - k % 8)) & 1u) {
        extensionMap_.set(k);
        fields_[info->numFields + k] = AbstractData::create(getFieldInfo(info->numFields + k));
      }
    }
  }
}

SEQUENCE::SEQUENCE(const SEQUENCE& other)
    : AbstractData(other),
      fields_(other.fields_),
      optionalMap_(other.optionalMap_),
      extensionMap_(other.extensionMap_) {}

SEQUENCE& SEQUENCE::operator=(const SEQUENCE& other) {
  if (this != &other) {
    FieldVector fields(other.fields_);
    BitMap optionalMap(other.optionalMap_);
    BitMap extensionMap(other.extensionMap_);
    fields_.swap(fields);
    optionalMap_.swap(optionalMap);
    extensionMap_.swap(extensionMap);
  }
  return *this;
}

AbstractData* SEQUENCE::create(const AbstractData::InfoType* info) {
  return new SEQUENCE(static_cast<const InfoType*>(info));
}

void SEQUENCE::swap(SEQUENCE& other) {
  fields_.swap(other.fields_);
  optionalMap_.swap(other.optionalMap_);
  extensionMap_.swap(other.extensionMap_);
}

AbstractData* SEQUENCE::createField(unsigned index) {
  if (index >= fields_.size()) return nullptr;
  if (fields_[index] == nullptr) fields_[index] = AbstractData::create(getFieldInfo(index));
  return fields_[index];
}

const char* SEQUENCE::getFieldName(unsigned index) const {
  if (index >= fields_.size() || info()->fieldNames == nullptr) return nullptr;
  return info()->fieldNames[index];
}

const AbstractData::InfoType* SEQUENCE::getFieldInfo(unsigned index) const {
  if (index >= fields_.size() || info()->fieldInfos == nullptr) return nullptr;
  return info()->fieldInfos[index];
}

void SEQUENCE::includeOptionalField(unsigned bit, unsigned index) {
  if (bit < optionalMap_.size()) {
    optionalMap_.set(bit);
  } else {
    const unsigned k = bit - optionalMap_.size();
    if (extensionMap_.size() < k + 1) extensionMap_.resize(k + 1);
    extensionMap_.set(k);
  }
  getOrCreateField(index);
}

void SEQUENCE::removeOptionalField(unsigned bit) {
  if (bit < optionalMap_.size())
    optionalMap_.clear(bit);
  else
    extensionMap_.clear(bit - optionalMap_.size());
}

int SEQUENCE::tagMode() const {
  if (info()->fieldTags == nullptr) return 0;
  return info()->fieldTags == &defaultTag ? 2 : 1;
}

unsigned SEQUENCE::getFieldTag(unsigned index) const {
  switch (tagMode()) {
    case 0:
      return (0x80u << 16) | index;
    case 2: {
      const AbstractData::InfoType* fi = getFieldInfo(index);
      return fi ? fi->tag : 0;
    }
    default:
      return index < fields_.size() ? info()->fieldTags[index] : 0;
  }
}

namespace {
// Presence difference, or the values' order when both are there.
int comparePresent(bool here, bool there, const AbstractData* a, const AbstractData* b) {
  if (here && there && a && b) return a->compare(*b);
  here = here && a;
  there = there && b;
  return int(here) - int(there);
}
}  // namespace

int SEQUENCE::do_compare(const AbstractData& other) const {
  const SEQUENCE& o = *boost::polymorphic_downcast<const SEQUENCE*>(&other);
  const unsigned roots = std::min<unsigned>(numFields(), fieldCount());
  int last = -1;
  for (unsigned i = 0; i < roots; ++i) {
    const int bit = getFieldId(i);
    const bool here = bit == -1 || hasOptionalField(unsigned(bit));
    const bool there = bit == -1 || o.hasOptionalField(unsigned(bit));
    if (bit != -1) last = bit;
    if (int r = comparePresent(here, there, fields_[i], o.getField(i))) return r;
  }
  for (unsigned i = roots; i < fieldCount(); ++i) {
    ++last;
    const bool here = hasOptionalField(unsigned(last));
    const bool there = o.hasOptionalField(unsigned(last));
    if (int r = comparePresent(here, there, fields_[i], o.getField(i))) return r;
  }
  return 0;
}

AbstractData* SEQUENCE::do_clone() const { return detail::cloneByRecord(*this, &SEQUENCE::create); }
bool SEQUENCE::do_accept(Visitor& v) { return v.visit(*this); }
bool SEQUENCE::do_accept(ConstVisitor& v) const { return v.visit(*this); }

namespace {
struct create_from0 {
  const AbstractData& x;
  AbstractData* operator()() const { return x.clone(); }
};
struct create_from_ptr {
  AbstractData* operator()(const AbstractData* p) const { return p->clone(); }
};

void deleteAll(SEQUENCE_OF_Base::Container& c) {
  for (AbstractData* p : c) detail::destroyValue(p);
  c.clear();
}
}  // namespace

SEQUENCE_OF_Base::SEQUENCE_OF_Base(const SEQUENCE_OF_Base& other) : ConstrainedObject(other) {
  elements_.reserve(other.elements_.size());
  try {
    for (const AbstractData* p : other.elements_) elements_.push_back(p->clone());
  } catch (...) {
    deleteAll(elements_);
    throw;
  }
}

SEQUENCE_OF_Base& SEQUENCE_OF_Base::operator=(const SEQUENCE_OF_Base& other) {
  if (this != &other) {
    SEQUENCE_OF_Base copy(other);
    elements_.swap(copy.elements_);
  }
  return *this;
}

SEQUENCE_OF_Base::~SEQUENCE_OF_Base() { deleteAll(elements_); }

AbstractData* SEQUENCE_OF_Base::create(const AbstractData::InfoType* info) {
  return new SEQUENCE_OF_Base(static_cast<const InfoType*>(info));
}

void SEQUENCE_OF_Base::push_back(AbstractData* value) {
  if (value == nullptr) return;
  std::unique_ptr<AbstractData> owned(value);
  elements_.push_back(value);
  owned.release();
}

AbstractData* SEQUENCE_OF_Base::createElement() const { return AbstractData::create(info()->elementInfo); }

void SEQUENCE_OF_Base::clear() { deleteAll(elements_); }

void SEQUENCE_OF_Base::resize(size_type n) {
  if (elements_.size() > n) {
    for (size_type i = n; i < elements_.size(); ++i) delete elements_[i];
    elements_.resize(n);
    return;
  }
  elements_.reserve(n);
  while (elements_.size() < n) {
    AbstractData* made = createElement();
    if (made == nullptr) break;  // a list of a type without a record stays short
    elements_.push_back(made);
  }
}

SEQUENCE_OF_Base::iterator SEQUENCE_OF_Base::erase(iterator first, iterator last) {
  for (iterator it = first; it != last; ++it) delete *it;
  return elements_.erase(first, last);
}

void SEQUENCE_OF_Base::insert(iterator position, size_type n, const AbstractData& x) {
  const auto offset = position - elements_.begin();
  Container made;
  made.reserve(n);
  try {
    create_from0 make{x};
    for (size_type i = 0; i < n; ++i) made.push_back(make());
    elements_.reserve(elements_.size() + n);
  } catch (...) {
    deleteAll(made);
    throw;
  }
  elements_.insert(elements_.begin() + offset, made.begin(), made.end());
}

void SEQUENCE_OF_Base::insert(iterator position, AbstractData const* const* first, AbstractData const* const* last) {
  const auto offset = position - elements_.begin();
  Container made;
  made.reserve(std::size_t(last - first));
  try {
    create_from_ptr make;
    for (; first != last; ++first) made.push_back(make(*first));
    elements_.reserve(elements_.size() + made.size());
  } catch (...) {
    deleteAll(made);
    throw;
  }
  elements_.insert(elements_.begin() + offset, made.begin(), made.end());
}

int SEQUENCE_OF_Base::do_compare(const AbstractData& other) const {
  const SEQUENCE_OF_Base& o = *boost::polymorphic_downcast<const SEQUENCE_OF_Base*>(&other);
  const size_type n = std::min(elements_.size(), o.elements_.size());
  for (size_type i = 0; i < n; ++i)
    if (int r = elements_[i]->compare(*o.elements_[i])) return r;
  return compare3(elements_.size(), o.elements_.size());
}

AbstractData* SEQUENCE_OF_Base::do_clone() const { return detail::cloneByRecord(*this, &SEQUENCE_OF_Base::create); }
bool SEQUENCE_OF_Base::do_accept(Visitor& v) { return v.visit(*this); }
bool SEQUENCE_OF_Base::do_accept(ConstVisitor& v) const { return v.visit(*this); }

const AbstractData::InfoType OpenData::theInfo = {&OpenData::create, 0};

AbstractData* OpenData::create(const AbstractData::InfoType* info) { return new OpenData(info); }

OpenData::OpenData(const OpenData& other)
    : AbstractData(other),
      data_(other.data_ ? other.data_->clone() : nullptr),
      buf_(other.buf_ ? new std::vector<char>(*other.buf_) : nullptr) {}

OpenData& OpenData::operator=(const OpenData& other) {
  if (this != &other) {
    OpenData copy(other);
    swap(copy);
  }
  return *this;
}

OpenData::~OpenData() {}

void OpenData::swap(OpenData& other) {
  data_.swap(other.data_);
  buf_.swap(other.buf_);
}

int OpenData::do_compare(const AbstractData& other) const {
  const OpenData& o = *boost::polymorphic_downcast<const OpenData*>(&other);
  if (data_ && o.data_) return data_->compare(*o.data_);
  if (buf_ && o.buf_) {
    const char* a = buf_->data();
    const char* b = o.buf_->data();
    return lexicographic_compare_bytes(a, a + buf_->size(), b, b + o.buf_->size());
  }
  if (isEmpty() && o.isEmpty()) return 0;
  return data_ ? 1 : -1;
}

AbstractData* OpenData::do_clone() const { return detail::cloneByRecord(*this, &OpenData::create); }
bool OpenData::do_accept(Visitor& v) { return v.visit(*this); }
bool OpenData::do_accept(ConstVisitor& v) const { return v.visit(*this); }

AbstractData* TypeConstrainedOpenData::create(const AbstractData::InfoType* info) {
  const InfoType* ti = static_cast<const InfoType*>(info);
  return new TypeConstrainedOpenData(AbstractData::create(ti->typeInfo), ti);
}

AbstractData* TypeConstrainedOpenData::do_clone() const {
  return detail::cloneByRecord(*this, &TypeConstrainedOpenData::create);
}
bool TypeConstrainedOpenData::do_accept(Visitor& v) { return v.visit(*this); }

}  // namespace ASN1
