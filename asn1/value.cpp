#include "asn1/value.h"

#include "asn1/visitor.h"

#include <boost/polymorphic_cast.hpp>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace ASN1 {

namespace detail {

#if defined(__SANITIZE_ADDRESS__)
#define ASN1_POOL_OFF 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ASN1_POOL_OFF 1
#endif
#endif

#ifdef ASN1_POOL_OFF
// The sanitizers must see every object come and go.
void* poolAllocate(std::size_t n) { return ::operator new(n); }
void poolFree(void* p, std::size_t) noexcept { ::operator delete(p); }
#else
namespace {
constexpr std::size_t kGrain = 16;
constexpr std::size_t kClasses = kPoolLimit / kGrain;
constexpr std::size_t kChunk = 8192;

struct FreeBlock {
  FreeBlock* next;
};

// Chunks are never given back: a thread's lists keep the most it ever held.
struct Pools {
  FreeBlock* free[kClasses] = {};
};
thread_local Pools pools;

[[gnu::noinline]] void* refill(std::size_t cls) {
  const std::size_t size = (cls + 1) * kGrain;
  char* chunk = static_cast<char*>(::operator new(kChunk));
  const std::size_t count = kChunk / size;
  FreeBlock* head = nullptr;
  for (std::size_t i = count; i-- > 1;) {
    FreeBlock* b = reinterpret_cast<FreeBlock*>(chunk + i * size);
    b->next = head;
    head = b;
  }
  pools.free[cls] = head;
  return chunk;
}
}  // namespace

void* poolAllocate(std::size_t n) {
  if (n > kPoolLimit || n == 0) return ::operator new(n);
  const std::size_t cls = (n - 1) / kGrain;
  FreeBlock* b = pools.free[cls];
  if (b == nullptr) return refill(cls);
  pools.free[cls] = b->next;
  return b;
}

void poolFree(void* p, std::size_t n) noexcept {
  if (p == nullptr) return;
  if (n > kPoolLimit || n == 0) {
    ::operator delete(p);
    return;
  }
  const std::size_t cls = (n - 1) / kGrain;
  FreeBlock* b = static_cast<FreeBlock*>(p);
  b->next = pools.free[cls];
  pools.free[cls] = b;
}
#endif

}  // namespace detail

int lexicographic_compare_bytes(const char* b1, const char* e1, const char* b2, const char* e2) {
  for (; b1 != e1 && b2 != e2; ++b1, ++b2) {
    const unsigned char c1 = static_cast<unsigned char>(*b1);
    const unsigned char c2 = static_cast<unsigned char>(*b2);
    if (c1 != c2) return int(c1) - int(c2);
  }
  if (b1 == e1) return b2 == e2 ? 0 : -1;
  return 1;
}

const AbstractData::InfoType Null::theInfo = {&Null::create, 5};

AbstractData* Null::create(const AbstractData::InfoType* info) { return new Null(info); }

int Null::do_compare(const AbstractData&) const { return 0; }
AbstractData* Null::do_clone() const { return detail::cloneByRecord(*this, &Null::create); }
bool Null::do_accept(Visitor& v) { return v.visit(*this); }
bool Null::do_accept(ConstVisitor& v) const { return v.visit(*this); }

const AbstractData::InfoType BOOLEAN::theInfo = {&BOOLEAN::create, 1};

AbstractData* BOOLEAN::create(const AbstractData::InfoType* info) { return new BOOLEAN(info); }

int BOOLEAN::do_compare(const AbstractData& other) const {
  const BOOLEAN& o = *boost::polymorphic_downcast<const BOOLEAN*>(&other);
  return int(value_) - int(o.value_);
}
AbstractData* BOOLEAN::do_clone() const { return detail::cloneByRecord(*this, &BOOLEAN::create); }
bool BOOLEAN::do_accept(Visitor& v) { return v.visit(*this); }
bool BOOLEAN::do_accept(ConstVisitor& v) const { return v.visit(*this); }

const ConstrainedObject::InfoType INTEGER::theInfo = {&INTEGER::create, 2, Unconstrained, 0, 0xFFFFFFFFu};

AbstractData* INTEGER::create(const AbstractData::InfoType* info) {
  return new INTEGER(static_cast<const InfoType*>(info));
}

int INTEGER::do_compare(const AbstractData& other) const {
  const INTEGER& o = *boost::polymorphic_downcast<const INTEGER*>(&other);
  // A range that starts at 0 or above holds values up to 2^32 - 1.
  if (constrained() && getLowerLimit() >= 0)
    return compare3(static_cast<std::uint32_t>(value_), static_cast<std::uint32_t>(o.value_));
  return compare3(value_, o.value_);
}
AbstractData* INTEGER::do_clone() const { return detail::cloneByRecord(*this, &INTEGER::create); }
bool INTEGER::do_accept(Visitor& v) { return v.visit(*this); }
bool INTEGER::do_accept(ConstVisitor& v) const { return v.visit(*this); }

AbstractData* IntegerWithNamedNumber::create(const AbstractData::InfoType* info) {
  return new IntegerWithNamedNumber(static_cast<const InfoType*>(info));
}

bool IntegerWithNamedNumber::getName(std::string& out) const {
  const NameEntry* first = info()->nameEntries;
  if (first == nullptr) return false;
  const NameEntry* last = first + info()->entryCount;
  const NameEntry* it = std::lower_bound(first, last, getValue(), NameEntryCmp());
  if (it == last || it->value != getValue()) return false;
  out = it->name;
  return true;
}

bool IntegerWithNamedNumber::setFromName(const std::string& name) {
  const NameEntry* entries = info()->nameEntries;
  if (entries == nullptr) return false;
  for (std::uint32_t i = 0; i < info()->entryCount; ++i) {
    if (name == entries[i].name) {
      setValue(entries[i].value);
      return true;
    }
  }
  return false;
}

AbstractData* IntegerWithNamedNumber::do_clone() const {
  return detail::cloneByRecord(*this, &IntegerWithNamedNumber::create);
}
bool IntegerWithNamedNumber::do_accept(Visitor& v) { return v.visit(*this); }
bool IntegerWithNamedNumber::do_accept(ConstVisitor& v) const { return v.visit(*this); }

namespace {
// Walks a names table computing each entry's value: the number after "=",
// else the previous value plus one, the first counting from 0.
template <class F>
void forEachEnumerator(const ENUMERATED::InfoType* info, F f) {
  if (info->names == nullptr) return;
  long value = -1;
  for (std::uint32_t i = 0; i < info->nameCount; ++i) {
    const char* entry = info->names[i];
    if (entry == nullptr) continue;
    const char* eq = std::strchr(entry, '=');
    value = eq ? std::strtol(eq + 1, nullptr, 10) : value + 1;
    if (f(ENUMERATED::entryName(entry), value)) return;
  }
}
}  // namespace

AbstractData* ENUMERATED::create(const AbstractData::InfoType* info) {
  return new ENUMERATED(static_cast<const InfoType*>(info));
}

std::string_view ENUMERATED::entryName(const char* entry) {
  const char* eq = std::strchr(entry, '=');
  return eq ? std::string_view(entry, std::size_t(eq - entry)) : std::string_view(entry);
}

std::string_view ENUMERATED::getName() const {
  std::string_view found;
  forEachEnumerator(info(), [&](std::string_view name, long value) {
    if (value != value_) return false;
    found = name;
    return true;
  });
  return found;
}

bool ENUMERATED::setFromName(std::string_view name) {
  bool found = false;
  forEachEnumerator(info(), [&](std::string_view entry, long value) {
    if (entry != name) return false;
    value_ = static_cast<std::int32_t>(value);
    found = true;
    return true;
  });
  if (!found) value_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(getMaximum()) + 1u);
  return found;
}

int ENUMERATED::do_compare(const AbstractData& other) const {
  const ENUMERATED& o = *boost::polymorphic_downcast<const ENUMERATED*>(&other);
  return compare3(value_, o.value_);
}
AbstractData* ENUMERATED::do_clone() const { return detail::cloneByRecord(*this, &ENUMERATED::create); }
bool ENUMERATED::do_accept(Visitor& v) { return v.visit(*this); }
bool ENUMERATED::do_accept(ConstVisitor& v) const { return v.visit(*this); }

}  // namespace ASN1
