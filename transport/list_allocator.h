#pragma once

#include "foundation/lists.h"

#include <cstddef>
#include <new>

// Lock policy of a pool that only the main loop's thread touches.
struct Dummy_critical_section {
  void lock() {}
  void unlock() {}
};

// A fixed pool of N blocks for objects of type T, kept on an intrusive free
// list. Blocks are taken from the head and given back at the tail, so a freed
// block is reused only after every other free block. Nothing comes from or
// goes back to the general heap.
template <class T, unsigned N, class Lock>
class List_allocator {
public:
  struct List_storage : F_dual_list_item<List_storage> {
    alignas(T) unsigned char object[sizeof(T)];
  };

  // Raw storage for one T, or null when every block is in use.
  static T* allocate() {
    State& s = state();
    s.crit_section.lock();
    List_storage* block = s.free_list.remove_from_head();
    s.crit_section.unlock();
    return block ? reinterpret_cast<T*>(block->object) : nullptr;
  }

  // `p` must come from allocate() and its object must be destroyed already.
  static void deallocate(T* p) {
    State& s = state();
    auto* first = reinterpret_cast<unsigned char*>(&s.blocks[0]);
    std::size_t index = (reinterpret_cast<unsigned char*>(p) - first) / sizeof(List_storage);
    s.crit_section.lock();
    s.free_list.insert_to_tail(&s.blocks[index]);
    warm_head(s);
    s.crit_section.unlock();
  }

  static unsigned free_count() { return state().free_list.size(); }
  static constexpr unsigned capacity() { return N; }

private:
  struct State {
    List_storage blocks[N];
    F_dual_list<List_storage> free_list;
    Lock crit_section;
    State() {
      for (List_storage& block : blocks) free_list.insert_to_tail(&block);
    }
  };

  // A block comes round once in N allocations, cold in the cache and the
  // TLB by then. The next two allocations write the links of the first two
  // free blocks and, for packets built from the back, the end of their
  // storage: fetched when a block is given back, which is seldom on the way
  // of an answer, those misses are off the allocation.
  static void warm_head(State& s) {
    constexpr std::size_t kLastLine = sizeof(T) > 64 ? sizeof(T) - 64 : 0;
    List_storage* head = *s.free_list.begin();
    if (head == nullptr) return;
    __builtin_prefetch(head->object + kLastLine, 1);
    if (List_storage* next = head->get_next()) {
      __builtin_prefetch(next, 1);
      __builtin_prefetch(next->object + kLastLine, 1);
    }
  }

  // Built by whichever static initialiser asks first and never destroyed:
  // objects released late during exit still find the pool intact.
  static State& state() {
    alignas(State) static unsigned char raw[sizeof(State)];
    static State* const built = new (raw) State;
    return *built;
  }
};
