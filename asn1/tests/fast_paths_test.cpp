// The coders' fast paths against plain references: the 64-bit read window,
// the octet-wise bit writer, the inline presence maps and field slots, the
// value pools, the reused encoding buffer and the random filler.
#include "asn1/asn1.h"
#include "asn1/testing/per_samples.h"
#include "asn1/testing/random_filler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

namespace {

// Bit i of the octets, most significant first.
unsigned bitAt(const std::vector<char>& octets, std::size_t i) {
  return (static_cast<unsigned char>(octets[i / 8]) >> (7 - i % 8)) & 1u;
}

}  // namespace

// Random reads of 0..32 bits over inputs of 0..20 octets, ends included.
TEST(PerBitWindow, ReadsMatchBitByBitReference) {
  std::mt19937 rng(7);
  for (unsigned round = 0; round < 400; ++round) {
    std::vector<char> in(rng() % 21);
    for (char& c : in) c = static_cast<char>(rng());
    ASN1::PERDecoder d(in.data(), in.data() + in.size());
    std::size_t pos = 0;
    const std::size_t total = in.size() * 8;
    for (unsigned step = 0; step < 40; ++step) {
      const unsigned n = rng() % 33;
      unsigned got = 0xDEADu;
      const bool ok = d.decodeMultiBit(n, got);
      ASSERT_EQ(ok, pos + n <= total) << round << ' ' << step;
      if (!ok) continue;  // a refused read leaves the position alone
      std::uint32_t want = 0;
      for (unsigned k = 0; k < n; ++k) want = (want << 1) | bitAt(in, pos + k);
      ASSERT_EQ(got, want) << round << ' ' << step << " n=" << n << " pos=" << pos;
      pos += n;
      ASSERT_EQ(d.getBitsLeft(), total - pos);
    }
  }
}

TEST(PerBitWindow, RefusesMoreThan32Bits) {
  const char in[8] = {};
  ASN1::PERDecoder d(in, in + 8);
  unsigned v = 0;
  EXPECT_FALSE(d.decodeMultiBit(33, v));
  EXPECT_EQ(d.getBitsLeft(), 64u);
}

// Random writes of 0..32 bits, some after an alignment.
TEST(PerBitWriter, WritesMatchBitByBitReference) {
  std::mt19937 rng(11);
  for (unsigned round = 0; round < 300; ++round) {
    std::vector<char> out;
    ASN1::PEREncoder e(out);
    std::vector<unsigned> bits;  // the reference, one entry per bit
    for (unsigned step = 0; step < 30; ++step) {
      if (rng() % 5 == 0) {
        e.byteAlign();
        while (bits.size() % 8) bits.push_back(0);
      }
      const unsigned n = rng() % 33;
      const unsigned value = static_cast<unsigned>(rng());
      e.encodeMultiBit(value, n);
      for (unsigned k = n; k-- > 0;) bits.push_back((value >> k) & 1u);
    }
    ASSERT_EQ(out.size(), (bits.size() + 7) / 8) << round;
    for (std::size_t i = 0; i < bits.size(); ++i) ASSERT_EQ(bitAt(out, i), bits[i]) << round << " bit " << i;
    for (std::size_t i = bits.size(); i < out.size() * 8; ++i) ASSERT_EQ(bitAt(out, i), 0u);
  }
}

TEST(SequenceBitMap, GrowsPastTheInlineOctetsAndKeepsBits) {
  const unsigned sizes[] = {0, 1, 7, 8, 9, 63, 64, 65, 100, 128, 200};
  for (unsigned n : sizes) {
    ASN1::SEQUENCE::BitMap m;
    m.resize(n);
    for (unsigned i = 0; i < n; i += 3) m.set(i);
    ASN1::SEQUENCE::BitMap copy(m);
    ASN1::SEQUENCE::BitMap assigned;
    assigned.resize(70);
    assigned.set(69);
    assigned = m;
    for (unsigned i = 0; i < n + 10; ++i) {
      const bool want = i < n && i % 3 == 0;
      ASSERT_EQ(m[i], want) << n << ' ' << i;
      ASSERT_EQ(copy[i], want) << n << ' ' << i;
      ASSERT_EQ(assigned[i], want) << n << ' ' << i;
    }
    EXPECT_EQ(m.octets(), (n + 7) / 8);
  }
}

TEST(SequenceBitMap, ShrinkThenGrowBringsNoOldBitsBack) {
  for (unsigned big : {16u, 100u}) {
    ASN1::SEQUENCE::BitMap m;
    m.resize(big);
    for (unsigned i = 0; i < big; ++i) m.set(i);
    m.resize(3);
    m.resize(big + 20);
    for (unsigned i = 0; i < big + 20; ++i) EXPECT_EQ(m[i], i < 3) << big << ' ' << i;
  }
}

TEST(SequenceBitMap, SwapTradesInlineAndHeapMaps) {
  ASN1::SEQUENCE::BitMap small, large;
  small.resize(5);
  small.set(4);
  large.resize(90);
  large.set(89);
  small.swap(large);
  EXPECT_EQ(small.size(), 90u);
  EXPECT_TRUE(small[89]);
  EXPECT_EQ(large.size(), 5u);
  EXPECT_TRUE(large[4]);
  EXPECT_FALSE(large[3]);
}

TEST(SequenceFieldVector, CopiesMovesAndSwapsInlineAndHeapSlots) {
  for (std::size_t n : {std::size_t(0), std::size_t(3), std::size_t(6), std::size_t(7), std::size_t(16)}) {
    ASN1::SEQUENCE::FieldVector v(n);
    for (std::size_t i = 0; i < n; i += 2) v[i] = new ASN1::INTEGER(int(i) + 1);
    ASN1::SEQUENCE::FieldVector copy(v);
    ASSERT_EQ(copy.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
      if (i % 2) {
        EXPECT_EQ(copy[i], nullptr);
        continue;
      }
      ASSERT_NE(copy[i], nullptr);
      EXPECT_NE(copy[i], v[i]);
      EXPECT_EQ(static_cast<ASN1::INTEGER*>(copy[i])->getValue(), int(i) + 1);
    }
    ASN1::SEQUENCE::FieldVector moved(std::move(copy));
    EXPECT_EQ(copy.size(), 0u);
    ASN1::SEQUENCE::FieldVector other(4);
    other[1] = new ASN1::INTEGER(99);
    moved.swap(other);
    EXPECT_EQ(moved.size(), 4u);
    EXPECT_EQ(static_cast<ASN1::INTEGER*>(moved[1])->getValue(), 99);
    ASSERT_EQ(other.size(), n);
    if (n > 0) {
      EXPECT_EQ(static_cast<ASN1::INTEGER*>(other[0])->getValue(), 1);
    }
    other = moved;
    EXPECT_EQ(other.size(), 4u);
    EXPECT_EQ(static_cast<ASN1::INTEGER*>(other[1])->getValue(), 99);
  }
}

namespace {
// Larger than the pools serve: the global heap takes it.
struct Wide : ASN1::INTEGER {
  char pad[400] = {};
};
}  // namespace

TEST(ValuePools, ObjectsOfEverySizeComeAndGoIntact) {
  std::mt19937 rng(3);
  std::vector<std::unique_ptr<ASN1::AbstractData>> held;
  for (unsigned i = 0; i < 5000; ++i) {
    switch (rng() % 5) {
      case 0:
        held.emplace_back(new ASN1::INTEGER(int(i)));
        break;
      case 1:
        held.emplace_back(new PT::Envelope);
        break;
      case 2:
        held.emplace_back(new PT::Kitchen);
        break;
      case 3:
        held.emplace_back(new Wide);
        static_cast<Wide&>(*held.back()).setValue(int(i));
        break;
      default:
        if (!held.empty()) held.erase(held.begin() + std::ptrdiff_t(rng() % held.size()));
    }
  }
  for (const auto& p : held) {
    const ASN1::INTEGER* n = dynamic_cast<const ASN1::INTEGER*>(p.get());
    if (n != nullptr) {
      EXPECT_GE(n->getValue(), 0);
    }
    std::unique_ptr<ASN1::AbstractData> copy(p->clone());
    EXPECT_EQ(*copy, *p);
  }
}

namespace {
// An output iterator that encodes another value each time it is written,
// while the outer encoding still holds the thread's buffer.
struct NestingOut {
  std::vector<char>* outer;
  std::vector<char>* inner;
  NestingOut& operator*() { return *this; }
  NestingOut& operator++() { return *this; }
  NestingOut operator++(int) { return *this; }
  NestingOut& operator=(char c) {
    outer->push_back(c);
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    inner->clear();
    ASN1::INTEGER n(300);
    EXPECT_TRUE(ASN1::encode(n, &env, std::back_inserter(*inner)));
    return *this;
  }
};
}  // namespace

TEST(EncodingBuffer, AnEncodingInsideAnotherGetsItsOwnBuffer) {
  PT::Envelope e;
  PT::fillEnvelope(e, 4);
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> plain;
  ASSERT_TRUE(ASN1::encode(e, &env, std::back_inserter(plain)));
  std::vector<char> outer, inner;
  ASSERT_TRUE(ASN1::encode(e, &env, NestingOut{&outer, &inner}));
  EXPECT_EQ(outer, plain);
  std::vector<char> alone;
  ASN1::INTEGER n(300);
  ASSERT_TRUE(ASN1::encode(n, &env, std::back_inserter(alone)));
  EXPECT_EQ(inner, alone);
}

TEST(RandomFiller, FilledValuesAreValidAndRoundTrip) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  unsigned filled = 0;
  for (std::uint32_t seed = 1; seed <= 300; ++seed) {
    ASN1::RandomFiller filler(seed);
    PT::Top top;
    if (!filler.fill(top)) continue;
    ++filled;
    ASN1::InvalidTracer why;
    top.accept(why);
    ASSERT_TRUE(top.isValid()) << seed << ' ' << why.text();
    std::vector<char> wire;
    ASSERT_TRUE(ASN1::encode(top, &env, std::back_inserter(wire))) << seed;
    PT::Top back;
    ASSERT_TRUE(ASN1::decode(wire.data(), wire.data() + wire.size(), &env, back)) << seed;
    EXPECT_EQ(back, top) << seed;
  }
  EXPECT_GT(filled, 250u);
}

TEST(RandomFiller, SameSeedSameValue) {
  PT::Top a, b;
  ASN1::RandomFiller(42).fill(a);
  ASN1::RandomFiller(42).fill(b);
  EXPECT_EQ(a, b);
}
