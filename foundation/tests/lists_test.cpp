#include "foundation/lists.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// Ordered like the timer queue: by the signed 32-bit difference of the keys.
struct Item : F_dual_list_item<Item> {
  explicit Item(int i = 0, uint32_t k = 0) : id(i), key(k) {}
  int compare(const Item& o) const {
    int32_t d = static_cast<int32_t>(key - o.key);
    return d < 0 ? -1 : d > 0 ? 1 : 0;
  }
  int id;
  uint32_t key;
};

// The ids front to back, checked against the walk back to front.
std::vector<int> ids(const F_dual_list<Item>& l) {
  std::vector<int> fwd, back;
  for (auto it = l.begin(); it != l.end(); ++it) fwd.push_back(it->id);
  for (Item* p = *l.last(); p; p = p->get_prev()) back.insert(back.begin(), p->id);
  EXPECT_EQ(fwd, back);
  EXPECT_EQ(fwd.size(), l.count());
  return fwd;
}

TEST(DualList, InsertAndIterate) {
  Item a(1), b(2), c(3), d(4), e(5);
  F_dual_list<Item> l;
  EXPECT_TRUE(!l.begin());
  EXPECT_FALSE(l.begin() != l.end());
  l.push_back(&b);
  l.insert_to_head(&a);
  l.insert_to_tail(&d);
  l.insert_after(&b, &c);
  l.insert_after(&d, &e);
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 5}), ids(l));
  EXPECT_EQ(&e, *l.last());
  F_dual_list<Item>::iterator it = l.begin();
  F_dual_list<Item>::iterator old = it++;
  EXPECT_EQ(&a, *old);
  EXPECT_TRUE(it.good());
  EXPECT_EQ(2, it->id);
  std::vector<int> seen;
  for (Item* p : l) seen.push_back(p->id);
  EXPECT_EQ(5u, seen.size());
}

TEST(DualList, RemoveKeepsLinksOfTheRemovedMember) {
  Item a(1), b(2), c(3), d(4);
  F_dual_list<Item> l;
  for (Item* p : {&a, &b, &c, &d}) l.push_back(p);
  l.remove(&c);
  EXPECT_EQ((std::vector<int>{1, 2, 4}), ids(l));
  EXPECT_EQ(&d, c.get_next());
  EXPECT_EQ(&b, c.get_prev());
  l.remove(&a);
  l.remove(&d);
  EXPECT_EQ((std::vector<int>{2}), ids(l));
  l.remove(&b);
  EXPECT_FALSE(l.begin().good());
  EXPECT_FALSE(l.last().good());
}

TEST(DualList, RemoveFromEitherEndUntilEmpty) {
  Item a(1), b(2), c(3);
  F_dual_list<Item> l;
  EXPECT_EQ(nullptr, l.remove_from_head());
  EXPECT_EQ(nullptr, l.remove_from_tail());
  EXPECT_EQ(0u, l.size());
  for (Item* p : {&a, &b, &c}) l.push_back(p);
  EXPECT_EQ(&a, l.remove_from_head());
  EXPECT_EQ(nullptr, b.get_prev());
  EXPECT_EQ(&c, l.remove_from_tail());
  EXPECT_EQ(nullptr, b.get_next());
  EXPECT_EQ(&b, l.remove_from_head());
  EXPECT_FALSE(l.begin().good());
  EXPECT_FALSE(l.last().good());
  EXPECT_EQ(nullptr, l.remove_from_head());
  EXPECT_EQ(0u, l.count());
  l.push_back(&c);
  EXPECT_EQ((std::vector<int>{3}), ids(l));
}

TEST(DualList, MergeExchangesContents) {
  Item a(1), b(2), c(3);
  F_dual_list<Item> empty, three;
  for (Item* p : {&a, &b, &c}) three.push_back(p);
  empty.merge(three);
  EXPECT_EQ((std::vector<int>{1, 2, 3}), ids(empty));
  EXPECT_EQ((std::vector<int>{}), ids(three));
}

TEST(SortedList, AscendingWithEqualKeysInInsertionOrder) {
  struct Case {
    std::vector<uint32_t> keys;  // item i gets keys[i]
    std::vector<int> order;
  };
  const Case cases[] = {
      {{10, 20, 20, 15}, {0, 3, 1, 2}},
      {{30, 20, 10, 10}, {2, 3, 1, 0}},
      // Across the wrap of the 32-bit counter.
      {{0xFFFFFFF0u, 0x10u}, {0, 1}},
      {{0x10u, 0xFFFFFFF0u}, {1, 0}},
      {{0x5u, 0xFFFFFFFFu, 0x0u, 0xFFFFFFF0u, 0x0u}, {3, 1, 2, 4, 0}},
  };
  for (const Case& c : cases) {
    std::vector<Item> items;
    items.reserve(c.keys.size());
    F_sorted_list<Item> l;
    for (uint32_t k : c.keys) {
      items.emplace_back(static_cast<int>(items.size()), k);
      l.insert_to_tail_by_grown(&items.back());
    }
    EXPECT_EQ(c.order, ids(l));
  }
}

}  // namespace
