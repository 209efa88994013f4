#pragma once
// Intrusive doubly linked lists: the links live in the members, so the lists
// never allocate and never own what they hold.

template <class T>
class F_dual_list;

// Base class of every list member. Destruction does not unlink; the owner
// removes the member from its list first.
template <class T>
class F_dual_list_item {
public:
  T* get_next() const { return next_; }
  T* get_prev() const { return prev_; }

protected:
  F_dual_list_item() = default;
  F_dual_list_item(const F_dual_list_item&) : next_(nullptr), prev_(nullptr) {}
  F_dual_list_item& operator=(const F_dual_list_item&) { return *this; }
  ~F_dual_list_item() = default;

private:
  friend class F_dual_list<T>;
  T* next_ = nullptr;
  T* prev_ = nullptr;
};

template <class T>
class F_dual_list {
public:
  class iterator {
  public:
    iterator(T* p = nullptr) : p_(p) {}
    iterator& operator++() {
      p_ = p_->get_next();
      return *this;
    }
    iterator operator++(int) {
      iterator old(*this);
      p_ = p_->get_next();
      return old;
    }
    T* operator*() const { return p_; }
    T* operator->() const { return p_; }
    bool operator==(const iterator& o) const { return p_ == o.p_; }
    bool operator!=(const iterator& o) const { return p_ != o.p_; }
    bool good() const { return p_ != nullptr; }
    bool operator!() const { return p_ == nullptr; }

  private:
    T* p_;
  };

  F_dual_list() = default;
  F_dual_list(const F_dual_list&) = delete;
  F_dual_list& operator=(const F_dual_list&) = delete;

  iterator begin() const { return iterator(head_); }
  iterator end() const { return iterator(); }
  iterator last() const { return iterator(tail_); }

  void insert_to_tail(T* x) {
    ++count_;
    link(x).next_ = nullptr;
    link(x).prev_ = tail_;
    if (tail_)
      link(tail_).next_ = x;
    else
      head_ = x;
    tail_ = x;
  }
  void push_back(T* x) { insert_to_tail(x); }

  void insert_to_head(T* x) {
    ++count_;
    link(x).prev_ = nullptr;
    link(x).next_ = head_;
    if (head_)
      link(head_).prev_ = x;
    else
      tail_ = x;
    head_ = x;
  }

  void insert_after(T* pos, T* x) {
    ++count_;
    T* succ = link(pos).next_;
    link(x).next_ = succ;
    link(x).prev_ = pos;
    if (succ)
      link(succ).prev_ = x;
    else
      tail_ = x;
    link(pos).next_ = x;
  }

  // x must be a member of this list; its own links are left as they were.
  void remove(T* x) {
    T* prev = link(x).prev_;
    T* next = link(x).next_;
    if (prev)
      link(prev).next_ = next;
    else
      head_ = next;
    if (next)
      link(next).prev_ = prev;
    else
      tail_ = prev;
    --count_;
  }

  T* remove_from_head() {
    T* x = head_;
    if (!x) return nullptr;
    head_ = link(x).next_;
    if (head_)
      link(head_).prev_ = nullptr;
    else
      tail_ = nullptr;
    --count_;
    return x;
  }

  T* remove_from_tail() {
    T* x = tail_;
    if (!x) return nullptr;
    tail_ = link(x).prev_;
    if (tail_)
      link(tail_).next_ = nullptr;
    else
      head_ = nullptr;
    --count_;
    return x;
  }

  unsigned size() const { return count_; }
  unsigned count() const { return count_; }

  // Exchanges the whole contents of the two lists.
  void merge(F_dual_list& other) {
    T* h = head_;
    T* t = tail_;
    unsigned c = count_;
    head_ = other.head_;
    tail_ = other.tail_;
    count_ = other.count_;
    other.head_ = h;
    other.tail_ = t;
    other.count_ = c;
  }

protected:
  static F_dual_list_item<T>& link(T* x) { return *static_cast<F_dual_list_item<T>*>(x); }

  T* head_ = nullptr;
  T* tail_ = nullptr;
  unsigned count_ = 0;
};

// Kept in ascending order of T::compare(const T&) const, which returns the
// sign of (this key - other key). Equal keys keep their insertion order.
template <class T>
class F_sorted_list : public F_dual_list<T> {
public:
  // Scans from the tail: most new keys are not smaller than the last one.
  void insert_to_tail_by_grown(T* x) {
    for (T* e = this->tail_; e; e = e->get_prev()) {
      if (e->compare(*x) <= 0) {
        this->insert_after(e, x);
        return;
      }
    }
    this->insert_to_head(x);
  }
};
