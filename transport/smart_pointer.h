#pragma once

// Writes "SMART POINTER ASSERTION!" to the log stream and ends the process.
[[noreturn]] void SmartPtrAssertion();

// Intrusive counted pointer. The pointee keeps its own count in `ref_count`;
// its `copy_on_write` says whether a modifying access to an object that other
// pointers share first gives this pointer a private copy.
template <class T>
class Smart_pointer {
public:
  Smart_pointer(T* p = nullptr) : ptr(p) {
    if (ptr) ++ptr->ref_count;
  }
  Smart_pointer(Smart_pointer const& other) : ptr(other.ptr) {
    if (ptr) ++ptr->ref_count;
  }
  ~Smart_pointer() { remove_current(); }

  // The new reference is taken before the old one is dropped, so assigning a
  // pointer to itself (or to another sharer of the same object) is harmless.
  Smart_pointer& operator=(Smart_pointer const& other) { return (*this = other.ptr); }
  Smart_pointer& operator=(T* p) {
    if (p) ++p->ref_count;
    T* const old = ptr;
    ptr = p;
    release(old);
    return *this;
  }

  void remove_current() {
    T* const old = ptr;
    ptr = nullptr;
    release(old);
  }
  void clean() {
    remove_current();
    ptr = nullptr;
  }

  bool null() const { return ptr == nullptr; }
  bool operator!() const { return ptr == nullptr; }
  explicit operator bool() const { return ptr != nullptr; }

  T const* operator->() const {
    if (!ptr) SmartPtrAssertion();
    return ptr;
  }
  T* operator->() {
    if (!ptr) SmartPtrAssertion();
    prepare_for_modify();
    return ptr;
  }

  // May throw what T's allocation throws; this pointer is then unchanged.
  void prepare_for_modify() {
    if constexpr (T::copy_on_write) {
      if (ptr && ptr->ref_count > 1) {
        T* copy = new T(*ptr);
        --ptr->ref_count;
        ptr = copy;
        ptr->ref_count = 1;
      }
    }
  }

  T* get() const { return ptr; }
  unsigned use_count() const { return ptr ? ptr->ref_count : 0; }

private:
  // Drops one reference; the last one deletes the object.
  static void release(T* p) {
    if (!p) return;
    if (p->ref_count > 0) --p->ref_count;
    if (p->ref_count == 0) delete p;
  }

  T* ptr;
};
