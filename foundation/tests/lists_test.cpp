#include "foundation/lists.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// Ordered like the timer queue: by the signed 32-bit difference of the keys.
struct Item : F_dual_list_item<Item> {
  explicit Item(uint32_t k = 0, int i = 0) : key(k), id(i) {}
  int compare(const Item& o) const {
    int32_t d = static_cast<int32_t>(key - o.key);
    return d < 0 ? -1 : d > 0 ? 1 : 0;
  }
  uint32_t key;
  int id;
};

std::vector<int> ids(const F_dual_list<Item>& l) {
  std::vector<int> out;
  for (auto it = l.begin(); it != l.end(); ++it) out.push_back(it->id);
  return out;
}

std::vector<int> ids_backwards(const F_dual_list<Item>& l) {
  std::vector<int> out;
  for (Item* p = *l.last(); p; p = p->get_prev()) out.push_back(p->id);
  return out;
}

TEST(DualList, NewListIsEmpty) {
  F_dual_list<Item> l;
  EXPECT_EQ(0u, l.count());
  EXPECT_FALSE(l.begin().good());
  EXPECT_TRUE(!l.begin());
  EXPECT_FALSE(l.begin() != l.end());
  EXPECT_EQ(nullptr, l.remove_from_head());
  EXPECT_EQ(nullptr, l.remove_from_tail());
  EXPECT_EQ(0u, l.size());
}

TEST(DualList, InsertionsKeepBothDirectionsConsistent) {
  Item a(0, 1), b(0, 2), c(0, 3), d(0, 4), e(0, 5);
  F_dual_list<Item> l;
  l.push_back(&b);
  l.insert_to_head(&a);
  l.insert_to_tail(&d);
  l.insert_after(&b, &c);
  l.insert_after(&d, &e);
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 5}), ids(l));
  EXPECT_EQ((std::vector<int>{5, 4, 3, 2, 1}), ids_backwards(l));
  EXPECT_EQ(5u, l.size());
  EXPECT_EQ(&e, *l.last());
  EXPECT_EQ(nullptr, a.get_prev());
  EXPECT_EQ(nullptr, e.get_next());
}

TEST(DualList, RemoveHeadMiddleAndTail) {
  Item a(0, 1), b(0, 2), c(0, 3), d(0, 4);
  F_dual_list<Item> l;
  for (Item* p : {&a, &b, &c, &d}) l.push_back(p);
  l.remove(&c);
  EXPECT_EQ((std::vector<int>{1, 2, 4}), ids(l));
  EXPECT_EQ((std::vector<int>{4, 2, 1}), ids_backwards(l));
  // The removed member keeps its own links.
  EXPECT_EQ(&d, c.get_next());
  EXPECT_EQ(&b, c.get_prev());
  l.remove(&a);
  l.remove(&d);
  EXPECT_EQ((std::vector<int>{2}), ids(l));
  EXPECT_EQ(&b, *l.begin());
  EXPECT_EQ(&b, *l.last());
  l.remove(&b);
  EXPECT_EQ(0u, l.count());
  EXPECT_FALSE(l.begin().good());
  EXPECT_FALSE(l.last().good());
}

TEST(DualList, RemoveFromEitherEndUntilEmpty) {
  Item a(0, 1), b(0, 2), c(0, 3);
  F_dual_list<Item> l;
  for (Item* p : {&a, &b, &c}) l.push_back(p);
  EXPECT_EQ(&a, l.remove_from_head());
  EXPECT_EQ(nullptr, b.get_prev());
  EXPECT_EQ(&c, l.remove_from_tail());
  EXPECT_EQ(nullptr, b.get_next());
  EXPECT_EQ(&b, l.remove_from_head());
  EXPECT_EQ(0u, l.count());
  EXPECT_FALSE(l.begin().good());
  EXPECT_FALSE(l.last().good());
  EXPECT_EQ(nullptr, l.remove_from_head());
  EXPECT_EQ(0u, l.count());
  // Usable again after running empty.
  l.push_back(&c);
  EXPECT_EQ((std::vector<int>{3}), ids(l));
}

TEST(DualList, MergeExchangesContents) {
  Item a(0, 1), b(0, 2), c(0, 3);
  F_dual_list<Item> empty, three;
  for (Item* p : {&a, &b, &c}) three.push_back(p);
  empty.merge(three);
  EXPECT_EQ(3u, empty.count());
  EXPECT_EQ(0u, three.count());
  EXPECT_EQ((std::vector<int>{1, 2, 3}), ids(empty));
  EXPECT_FALSE(three.begin().good());
}

TEST(DualList, IteratorForms) {
  Item a(0, 1), b(0, 2);
  F_dual_list<Item> l;
  l.push_back(&a);
  l.push_back(&b);
  F_dual_list<Item>::iterator it = l.begin();
  F_dual_list<Item>::iterator old = it++;
  EXPECT_EQ(&a, *old);
  EXPECT_EQ(&b, *it);
  EXPECT_EQ(2, it->id);
  EXPECT_TRUE((++it) == l.end());
  it = l.last();
  EXPECT_EQ(&b, *it);
  std::vector<int> seen;
  for (Item* p : l) seen.push_back(p->id);
  EXPECT_EQ((std::vector<int>{1, 2}), seen);
}

std::vector<uint32_t> keys(const F_dual_list<Item>& l) {
  std::vector<uint32_t> out;
  for (Item* p : l) out.push_back(p->key);
  return out;
}

TEST(SortedList, EqualKeysKeepInsertionOrder) {
  Item a(10, 1), b(20, 2), c(20, 3), d(15, 4);
  F_sorted_list<Item> l;
  for (Item* p : {&a, &b, &c, &d}) l.insert_to_tail_by_grown(p);
  EXPECT_EQ((std::vector<int>{1, 4, 2, 3}), ids(l));
  EXPECT_EQ((std::vector<int>{3, 2, 4, 1}), ids_backwards(l));
  EXPECT_EQ(4u, l.count());
}

TEST(SortedList, SmallestKeyGoesToHead) {
  Item a(30, 1), b(20, 2), c(10, 3), d(10, 4);
  F_sorted_list<Item> l;
  for (Item* p : {&a, &b, &c, &d}) l.insert_to_tail_by_grown(p);
  EXPECT_EQ((std::vector<int>{3, 4, 2, 1}), ids(l));
  EXPECT_EQ(nullptr, c.get_prev());
}

TEST(SortedList, OrderSurvivesCounterWrap) {
  struct Case {
    std::vector<uint32_t> in;
    std::vector<uint32_t> sorted;
  };
  const Case cases[] = {
      {{0xFFFFFFF0u, 0x00000010u}, {0xFFFFFFF0u, 0x00000010u}},
      {{0x00000010u, 0xFFFFFFF0u}, {0xFFFFFFF0u, 0x00000010u}},
      {{0x5u, 0xFFFFFFFFu, 0x0u, 0xFFFFFFF0u}, {0xFFFFFFF0u, 0xFFFFFFFFu, 0x0u, 0x5u}},
  };
  for (const Case& c : cases) {
    std::vector<Item> items;
    items.reserve(c.in.size());
    F_sorted_list<Item> l;
    for (uint32_t k : c.in) {
      items.emplace_back(k);
      l.insert_to_tail_by_grown(&items.back());
    }
    EXPECT_EQ(c.sorted, keys(l));
  }
}

}  // namespace
