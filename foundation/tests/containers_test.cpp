#include "foundation/containers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A reference-counted handle like a packet: a default handle holds no
// buffer, copies share one, and a buffer is back in the pool when no handle
// refers to it.
struct Buffer {
  int id;
  int refs;
};

class Handle {
public:
  Handle() = default;
  explicit Handle(Buffer* b) : b_(b) { ++b_->refs; }
  Handle(const Handle& o) : b_(o.b_) {
    if (b_) ++b_->refs;
  }
  Handle& operator=(const Handle& o) {
    if (o.b_) ++o.b_->refs;
    release();
    b_ = o.b_;
    return *this;
  }
  ~Handle() { release(); }
  int id() const { return b_ ? b_->id : -1; }

private:
  void release() {
    if (b_) --b_->refs;
    b_ = nullptr;
  }
  Buffer* b_ = nullptr;
};

struct Pool {
  explicit Pool(int n) : buffers(n) {
    for (int i = 0; i < n; ++i) buffers[i] = Buffer{i, 0};
  }
  Handle take(int i) { return Handle(&buffers[i]); }
  int in_use() const {
    int n = 0;
    for (const Buffer& b : buffers) n += b.refs;
    return n;
  }
  std::vector<Buffer> buffers;
};

template <class Q>
std::vector<int> drain(Q& q) {
  std::vector<int> out;
  Handle h;
  while (q.get(&h)) out.push_back(h.id());
  return out;
}

TEST(CleanQueue, CapacityIsExact) {
  Pool pool(8);
  CleanQueue<Handle, 7> q;
  EXPECT_EQ(7u, q.size());
  EXPECT_TRUE(q.empty());
  for (int i = 0; i < 7; ++i) EXPECT_TRUE(q.put(pool.take(i)));
  EXPECT_FALSE(q.put(pool.take(7)));
  EXPECT_FALSE(q.append(pool.take(7)));
  EXPECT_EQ(7u, q.count());
  EXPECT_EQ(7, pool.in_use());
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5, 6}), drain(q));
}

TEST(CleanQueue, AppendGoesInFrontGetLastTakesNewest) {
  Pool pool(3);
  CleanQueue<Handle, 135> q;
  q.put(pool.take(0));
  q.put(pool.take(1));
  q.append(pool.take(2));
  EXPECT_EQ((std::vector<int>{2, 0, 1}), drain(q));

  CleanQueue<Handle, 7> r;
  r.put(pool.take(0));
  r.put(pool.take(1));
  r.append(pool.take(2));
  Handle h;
  ASSERT_TRUE(r.get_last(&h));
  EXPECT_EQ(1, h.id());
  ASSERT_TRUE(r.get_last(&h));
  EXPECT_EQ(0, h.id());
  ASSERT_TRUE(r.get_last(&h));
  EXPECT_EQ(2, h.id());
  EXPECT_FALSE(r.get_last(&h));
  EXPECT_EQ(2, h.id());
}

TEST(CleanQueue, SlotsAreReleasedWhenElementsLeave) {
  Pool pool(5);
  CleanQueue<Handle, 5> q;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(q.put(pool.take(i)));
    EXPECT_EQ(5, pool.in_use());
    Handle h;
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(q.get(h));
    h = Handle();
    // After N puts and N gets the queue is empty and holds nothing.
    EXPECT_TRUE(q.empty());
    EXPECT_EQ(0, pool.in_use());
  }
  Handle h;
  EXPECT_FALSE(q.get(h));
  EXPECT_FALSE(q.preview(nullptr));
}

TEST(CleanQueue, OrderSurvivesWrap) {
  Pool pool(10);
  CleanQueue<Handle, 4> q;
  Handle h;
  std::vector<int> got;
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(q.put(pool.take(i)));
    if (q.count() == 3) {
      ASSERT_TRUE(q.get(&h));
      got.push_back(h.id());
    }
  }
  for (int id : drain(q)) got.push_back(id);
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), got);
  // append before the first slot wraps to the last one
  CleanQueue<Handle, 3> r;
  r.append(pool.take(0));
  r.append(pool.take(1));
  r.put(pool.take(2));
  EXPECT_FALSE(r.put(pool.take(3)));
  EXPECT_EQ((std::vector<int>{1, 0, 2}), drain(r));
}

TEST(CleanQueue, PreviewLeavesTheElement) {
  Pool pool(2);
  CleanQueue<Handle, 120> q;
  q.put(pool.take(0));
  q.put(pool.take(1));
  EXPECT_TRUE(q.preview(nullptr));
  Handle h;
  EXPECT_TRUE(q.preview(&h));
  EXPECT_EQ(0, h.id());
  EXPECT_EQ(2u, q.count());
  EXPECT_EQ(3, pool.in_use());
}

TEST(CleanQueue, ClearReleasesEveryQueuedElement) {
  Pool pool(6);
  CleanQueue<Handle, 4> q;
  Handle h;
  // Leave head and tail away from slot 0 so the cleared range wraps.
  for (int i = 0; i < 3; ++i) q.put(pool.take(i));
  q.get(h);
  q.get(h);
  h = Handle();
  for (int i = 3; i < 6; ++i) q.put(pool.take(i));
  EXPECT_EQ(4u, q.count());
  EXPECT_EQ(4, pool.in_use());
  q.clear();
  EXPECT_TRUE(q.empty());
  EXPECT_EQ(0, pool.in_use());
  q.put(pool.take(5));
  EXPECT_EQ((std::vector<int>{5}), drain(q));
}

TEST(CleanQueue, DestructionReleasesElements) {
  Pool pool(2);
  {
    CleanQueue<Handle, 327> q;
    q.put(pool.take(0));
    q.append(pool.take(1));
    EXPECT_EQ(2, pool.in_use());
  }
  EXPECT_EQ(0, pool.in_use());
}

typedef Cyclic<unsigned int, 127u> Seq;

TEST(Cyclic, ValuesStayInSevenBits) {
  EXPECT_EQ(2u, unsigned(Seq(130)));
  EXPECT_EQ(0u, unsigned(Seq()));
  EXPECT_EQ(127u, unsigned(Seq(0) - Seq(1)));
  EXPECT_EQ(3u, unsigned(Seq(125) + Seq(6)));
  EXPECT_EQ(0u, unsigned(Seq(127) + 1));
  EXPECT_EQ(126u, unsigned(Seq(1) - 3u));
  EXPECT_EQ(8u, unsigned(Seq(2) - Seq(122)));
  Seq s(0);
  EXPECT_EQ(127u, unsigned(--s));
  EXPECT_EQ(0u, unsigned(++s));
  Seq t(127);
  Seq old = t++;
  EXPECT_EQ(127u, unsigned(old));
  EXPECT_EQ(0u, unsigned(t));
  old = t--;
  EXPECT_EQ(0u, unsigned(old));
  EXPECT_EQ(127u, unsigned(t));
}

TEST(Cyclic, WindowTest) {
  struct Case {
    unsigned a, b, c;
    bool in;
  };
  const Case cases[] = {
      {120, 2, 5, true},   {3, 10, 5, false},   {5, 5, 5, true},    {5, 6, 5, false},  {5, 4, 5, false},
      {0, 0, 127, true},   {0, 127, 127, true}, {1, 0, 127, false}, {127, 0, 0, true}, {10, 20, 30, true},
      {10, 30, 20, false}, {100, 127, 3, true}, {100, 4, 3, false},
  };
  for (const Case& c : cases) {
    Seq a(c.a), b(c.b), x(c.c);
    EXPECT_EQ(c.in, a <= b <= x) << c.a << " <= " << c.b << " <= " << c.c;
  }
}

struct Receiver {
  explicit Receiver(std::string n) : name(std::move(n)) {}
  std::string name;
  Containers::CyclicList link;
};

std::vector<std::string> names(Containers::CyclicList& head) {
  std::vector<std::string> out;
  for (auto it = head.begin(); it != head.end(); ++it) out.push_back(Containers::offset(**it, &Receiver::link)->name);
  return out;
}

std::vector<std::string> names_backwards(Containers::CyclicList& head) {
  std::vector<std::string> out;
  for (Containers::CyclicList* p = head.prev(); p != &head; p = p->prev())
    out.push_back(Containers::offset(*p, &Receiver::link)->name);
  return out;
}

TEST(CyclicList, AddMoveAndDestroy) {
  Containers::CyclicList head;
  EXPECT_TRUE(head.empty());
  EXPECT_FALSE(head.begin() != head.end());
  Receiver a("a"), b("b"), c("c");
  head.AddToTail(&a.link);
  head.AddToTail(&b.link);
  head.AddToTail(&c.link);
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), names(head));
  head.AddToTail(&c.link);
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), names(head));
  head.AddToTail(&a.link);
  EXPECT_EQ((std::vector<std::string>{"b", "c", "a"}), names(head));
  head.AddToTail(&head);
  EXPECT_EQ((std::vector<std::string>{"b", "c", "a"}), names(head));
  {
    Receiver d("d");
    head.AddToTail(&d.link);
    EXPECT_EQ(4u, names(head).size());
  }
  EXPECT_EQ((std::vector<std::string>{"b", "c", "a"}), names(head));
  EXPECT_EQ((std::vector<std::string>{"a", "c", "b"}), names_backwards(head));
  c.link.Unlink();
  EXPECT_EQ((std::vector<std::string>{"b", "a"}), names(head));
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), names_backwards(head));
  EXPECT_TRUE(c.link.empty());
}

TEST(CyclicList, NodeMovesBetweenLists) {
  Containers::CyclicList one, two;
  Receiver a("a"), b("b");
  one.AddToTail(&a.link);
  one.AddToTail(&b.link);
  two.AddToTail(&a.link);
  EXPECT_EQ((std::vector<std::string>{"b"}), names(one));
  EXPECT_EQ((std::vector<std::string>{"a"}), names(two));
  Containers::CyclicList::iterator it;
  it = two.begin();
  EXPECT_EQ(&a.link, *it);
  EXPECT_TRUE(++it == two.end());
}

}  // namespace
