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
    remove_current();
    ptr = p;
    return *this;
  }

  void remove_current() {
    if (!ptr) return;
    if (ptr->ref_count > 0) --ptr->ref_count;
    if (ptr->ref_count == 0) {
      T* last = ptr;
      ptr = nullptr;
      delete last;
    }
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
  T* ptr;
};
