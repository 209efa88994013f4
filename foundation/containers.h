#pragma once
// Fixed-capacity ring queue, a sequence number modulo 128 and an intrusive
// circular list. None of them allocates.
#include <array>
#include <cstddef>
#include <cstring>

// A ring of N elements that releases a slot as soon as its element leaves:
// a slot is overwritten with a default T, so a queue of packet handles never
// keeps a packet alive after it was taken out or the queue was cleared.
template <class T, unsigned N>
class CleanQueue {
  static_assert(N > 0, "a queue needs room");

public:
  bool put(const T& x) {
    if (count_ == N) return false;
    items_[tail_] = x;
    tail_ = inc_index(tail_);
    ++count_;
    return true;
  }

  // Puts x back in front of the oldest element.
  bool append(const T& x) {
    if (count_ == N) return false;
    head_ = dec_index(head_);
    items_[head_] = x;
    ++count_;
    return true;
  }

  bool get(T* out) { return get(*out); }
  bool get(T& out) {
    if (count_ == 0) return false;
    out = items_[head_];
    items_[head_] = T();
    --count_;
    head_ = inc_index(head_);
    return true;
  }

  // Takes the newest element.
  bool get_last(T* out) {
    if (count_ == 0) return false;
    tail_ = dec_index(tail_);
    *out = items_[tail_];
    items_[tail_] = T();
    --count_;
    return true;
  }

  // The oldest element stays; out may be null.
  bool preview(T* out) const {
    if (count_ == 0) return false;
    if (out) *out = items_[head_];
    return true;
  }

  unsigned count() const { return count_; }
  unsigned size() const { return N; }
  bool empty() const { return count_ == 0; }

  void clear() {
    for (unsigned i = head_, n = 0; n < count_; ++n, i = inc_index(i)) items_[i] = T();
    head_ = tail_ = count_ = 0;
  }

private:
  static unsigned inc_index(unsigned i) { return i + 1 == N ? 0 : i + 1; }
  static unsigned dec_index(unsigned i) { return i == 0 ? N - 1 : i - 1; }

  std::array<T, N> items_{};
  unsigned head_ = 0;
  unsigned tail_ = 0;
  unsigned count_ = 0;
};

// A sequence number masked with Mask (127: seven bits, as N(S)/N(R) of LAPD
// and FSN/BSN of SS7). a - b is the distance from b forward to a.
template <class V, V Mask>
class Cyclic {
public:
  // Result of a <= b, completed by "<= c" into the window test.
  struct LessEqPair {
    Cyclic low, high;
    // Walking forward from low, high comes no later than c.
    bool operator<=(Cyclic c) const { return V(c - low) >= V(high - low); }
  };

  Cyclic() = default;
  Cyclic(V v) : value_(v & Mask) {}
  operator V() const { return value_; }

  Cyclic& operator++() {
    value_ = value_ == Mask ? 0 : value_ + 1;
    return *this;
  }
  Cyclic operator++(int) {
    Cyclic old = *this;
    ++*this;
    return old;
  }
  Cyclic& operator--() {
    value_ = value_ == 0 ? Mask : value_ - 1;
    return *this;
  }
  Cyclic operator--(int) {
    Cyclic old = *this;
    --*this;
    return old;
  }

  friend Cyclic operator+(Cyclic a, Cyclic b) { return Cyclic(a.value_ + b.value_); }
  friend Cyclic operator+(Cyclic a, V b) { return Cyclic(a.value_ + b); }
  friend Cyclic operator+(Cyclic a, int b) { return Cyclic(a.value_ + V(b)); }
  friend Cyclic operator-(Cyclic a, Cyclic b) { return Cyclic(a.value_ - b.value_); }
  friend Cyclic operator-(Cyclic a, V b) { return Cyclic(a.value_ - b); }
  friend Cyclic operator-(Cyclic a, int b) { return Cyclic(a.value_ - V(b)); }
  friend LessEqPair operator<=(Cyclic a, Cyclic b) { return LessEqPair{a, b}; }

private:
  V value_ = 0;
};

namespace Containers {

// Intrusive circular doubly linked list; the head and the nodes are the same
// type. A fresh node is a ring of its own, so it can always be unlinked.
class CyclicList {
public:
  template <class Ref, class Ptr>
  class TIterator {
  public:
    TIterator() = default;
    explicit TIterator(CyclicList* p) : p_(p) {}
    TIterator& operator++() {
      p_ = p_->next_;
      return *this;
    }
    TIterator operator++(int) {
      TIterator old = *this;
      p_ = p_->next_;
      return old;
    }
    Ptr operator*() const { return p_; }
    bool operator==(const TIterator& o) const { return p_ == o.p_; }
    bool operator!=(const TIterator& o) const { return p_ != o.p_; }

  private:
    CyclicList* p_ = nullptr;
  };
  typedef TIterator<CyclicList&, CyclicList*> iterator;

  CyclicList() { InternalInit(); }
  ~CyclicList() { InternalDel(prev_, next_); }
  CyclicList(const CyclicList&) = delete;
  CyclicList& operator=(const CyclicList&) = delete;

  // Called on a head: moves node from whatever ring it is in to the tail.
  void AddToTail(CyclicList* node) {
    if (node == this) return;
    InternalDel(node->prev_, node->next_);
    InternalAddToTail(node);
  }
  // Leaves its ring and becomes a ring of its own.
  void Unlink() {
    InternalDel(prev_, next_);
    InternalInit();
  }
  bool empty() const { return next_ == this; }

  iterator begin() { return iterator(next_); }
  iterator end() { return iterator(this); }
  CyclicList* next() const { return next_; }
  CyclicList* prev() const { return prev_; }

private:
  void InternalInit() { next_ = prev_ = this; }
  static void InternalAdd(CyclicList* node, CyclicList* prev, CyclicList* next) {
    next->prev_ = node;
    node->next_ = next;
    node->prev_ = prev;
    prev->next_ = node;
  }
  void InternalAddToTail(CyclicList* node) { InternalAdd(node, prev_, this); }
  static void InternalDel(CyclicList* prev, CyclicList* next) {
    next->prev_ = prev;
    prev->next_ = next;
  }

  CyclicList* next_;
  CyclicList* prev_;
};

// The T that embeds node as its member. A pointer to data member is the
// member's offset under the Itanium C++ ABI (g++ and clang on Linux).
template <class T>
T* offset(CyclicList& node, CyclicList T::*member) {
  static_assert(sizeof member == sizeof(std::ptrdiff_t), "data member pointer is an offset");
  std::ptrdiff_t off;
  std::memcpy(&off, &member, sizeof off);
  return reinterpret_cast<T*>(reinterpret_cast<char*>(&node) - off);
}

}  // namespace Containers
