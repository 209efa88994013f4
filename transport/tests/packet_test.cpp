#include "transport/packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iomanip>
#include <new>
#include <sstream>
#include <vector>

namespace {

Packet make(std::vector<unsigned char> const& bytes, unsigned headroom = 0) {
  Packet p;
  p.reserve_head(headroom);
  if (!bytes.empty()) std::memcpy(p.put(unsigned(bytes.size())), bytes.data(), bytes.size());
  return p;
}

struct Room {
  unsigned head, length, tail;
};

void expect_room(Packet const& p, Room want) {
  EXPECT_EQ(p._headroom(), want.head);
  EXPECT_EQ(p._length(), want.length);
  EXPECT_EQ(p._tailroom(), want.tail);
}

}  // namespace

TEST(Packet, NewHandleIsNullAndEmpty) {
  Packet p;
  EXPECT_TRUE(p.null());
  EXPECT_EQ(p.length(), 0u);
  EXPECT_TRUE(p.empty());
  EXPECT_TRUE(p < 1);
  EXPECT_FALSE(p < 0);
  EXPECT_EQ(p.text(), "(null)");
  std::ostringstream os;
  EXPECT_FALSE(p.dump(os));
  EXPECT_FALSE(p.dump_context(os));
  EXPECT_EQ(os.str(), "");
}

TEST(Packet, ReservingRoomPlacesTheEmptyWindow) {
  struct Case {
    char const* what;
    void (*prepare)(Packet&);
    Room want;
  } cases[] = {
      {"head 0", [](Packet& p) { p.reserve_head(0); }, {0, 0, 65536}},
      {"head 4", [](Packet& p) { p.reserve_head(4); }, {4, 0, 65532}},
      {"head 65536", [](Packet& p) { p.reserve_head(65536); }, {65536, 0, 0}},
      {"tail 10", [](Packet& p) { p.reserve_tail(10); }, {65526, 0, 10}},
      {"tail 0", [](Packet& p) { p.reserve_tail(0); }, {65536, 0, 0}},
      {"head 0 then head 4",
       [](Packet& p) {
         p.reserve_head(0);
         p.reserve_head(4);
       },
       {4, 0, 65532}},
      {"head 3 then head 4",
       [](Packet& p) {
         p.reserve_head(3);
         p.reserve_head(4);
       },
       {7, 0, 65529}},
      {"tail 10 then tail 6",
       [](Packet& p) {
         p.reserve_tail(10);
         p.reserve_tail(6);
       },
       {65520, 0, 16}},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.what);
    Packet p;
    c.prepare(p);
    ASSERT_FALSE(p.null());
    expect_room(p, c.want);
    EXPECT_EQ(p.tailroom(), c.want.tail);
  }
}

TEST(Packet, ByteOrderOfTheSixteenBitAccessors) {
  Packet p;
  p.reserve_head(2);
  p.put16(0x1234);
  EXPECT_EQ(p.text(), "34 12");
  p.put16_b(0x1234);
  EXPECT_EQ(p.text(), "34 12 12 34");
  p.push16_b(0xABCD);
  EXPECT_EQ(p.text(), "AB CD 34 12 12 34");
  EXPECT_EQ(p._headroom(), 0u);

  EXPECT_EQ(p.pull16_b(), 0xABCD);
  EXPECT_EQ(p.pull16(), 0x1234);
  EXPECT_EQ(p.pull16_l(), 0x3412);
  EXPECT_TRUE(p.empty());
}

TEST(Packet, ShortReadsFillWithZero) {
  Packet empty = make({});
  EXPECT_EQ(empty.pull8(), 0);
  EXPECT_TRUE(empty.empty());
  EXPECT_EQ(empty._headroom(), 0u);

  struct Case {
    unsigned short (Packet::*read)();
    unsigned short want;
  } cases[] = {{&Packet::pull16_b, 0x1200}, {&Packet::pull16_l, 0x0012}, {&Packet::pull16, 0x0012}};
  for (auto const& c : cases) {
    Packet one = make({0x12});
    EXPECT_EQ((one.*c.read)(), c.want);
    EXPECT_TRUE(one.empty());
  }
}

TEST(Packet, PullReturnsTheRemovedBytesAndTrimCutsTheTail) {
  Packet p = make({1, 2, 3, 4, 5}, 8);
  unsigned char* removed = p.pull(2);
  EXPECT_EQ(removed[0], 1);
  EXPECT_EQ(removed[1], 2);
  expect_room(p, {10, 3, 65523});
  unsigned char* tail = p.trim(1);
  EXPECT_EQ(*tail, 5);
  EXPECT_EQ(p.text(), "03 04");
  EXPECT_EQ(p.tail(), p.data() + 2);
}

TEST(Packet, HighOctetsStayUnsigned) {
  Packet p = make({0xFF, 0x80});
  EXPECT_EQ(p[0], 0xFF);
  EXPECT_EQ(p.pull8(), 0xFF);
  EXPECT_EQ(p.pull8(), 0x80);
}

TEST(Packet, StringsCarryALengthByte) {
  Packet p;
  p.reserve_head(0);
  EXPECT_TRUE(p.put(std::string("abc")));
  EXPECT_EQ(p.text(), "03 61 62 63");
  EXPECT_EQ(p.pull_string(), "abc");
  EXPECT_TRUE(p.empty());

  std::string longest(255, 'x');
  EXPECT_TRUE(p.put(longest));
  EXPECT_EQ(p.length(), 256u);
  EXPECT_EQ(p.pull_string(), longest);

  // The length byte cannot say 256: the string is refused whole.
  EXPECT_FALSE(p.put(std::string(256, 'y')));
  EXPECT_TRUE(p.empty());

  EXPECT_TRUE(p.put(std::string()));
  EXPECT_EQ(p.text(), "00");
}

TEST(Packet, AppendingAnotherPacketCopiesItsData) {
  Packet a = make({0xA1, 0xA2});
  Packet b = make({0x01}, 3);
  b.put(a);
  EXPECT_EQ(b.text(), "01 A1 A2");
  EXPECT_EQ(a.text(), "A1 A2");
  EXPECT_EQ(a.use_count(), 1u);
}

TEST(Packet, CopiesShareUntilOneIsWritten) {
  struct Case {
    char const* what;
    void (*write)(Packet&);
    char const* written;
    unsigned headroom;
  } cases[] = {
      {"put8", [](Packet& p) { p.put8(0x77); }, "01 02 03 77", 5},
      {"push8", [](Packet& p) { p.push8(0x77); }, "77 01 02 03", 4},
      {"index", [](Packet& p) { p[1] = 0x77; }, "01 77 03", 5},
      {"pull", [](Packet& p) { p.pull(1); }, "02 03", 6},
      {"trim", [](Packet& p) { p.trim(1); }, "01 02", 5},
      {"data", [](Packet& p) { p.data()[0] = 0x77; }, "77 02 03", 5},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.what);
    Packet a = make({1, 2, 3}, 5);
    Packet b = a;
    EXPECT_TRUE(b.shares_buffer_with(a));
    EXPECT_EQ(a.use_count(), 2u);

    // Reading never copies.
    EXPECT_EQ(static_cast<Packet const&>(b)[1], 2);
    EXPECT_EQ(b.text(), "01 02 03");
    EXPECT_EQ(b.cdata()[2], 3);
    EXPECT_TRUE(b.shares_buffer_with(a));

    c.write(b);
    EXPECT_FALSE(b.shares_buffer_with(a));
    EXPECT_EQ(a.use_count(), 1u);
    EXPECT_EQ(b.use_count(), 1u);
    EXPECT_EQ(a.text(), "01 02 03");
    expect_room(a, {5, 3, 65528});
    EXPECT_EQ(b.text(), c.written);
    EXPECT_EQ(b._headroom(), c.headroom);
  }
}

TEST(Packet, AssignmentReleasesAndShares) {
  unsigned before = Packet::pool_free();
  Packet a = make({1});
  Packet b = make({2});
  EXPECT_EQ(Packet::pool_free(), before - 2);
  b = a;
  EXPECT_EQ(Packet::pool_free(), before - 1);
  EXPECT_EQ(a.use_count(), 2u);
  b = b;
  a = b;
  EXPECT_EQ(a.use_count(), 2u);
  EXPECT_EQ(b.text(), "01");
  a.clear();
  EXPECT_TRUE(a.null());
  EXPECT_EQ(b.use_count(), 1u);
  b.clear();
  EXPECT_EQ(Packet::pool_free(), before);
}

TEST(Packet, SubPacketHasItsOwnBuffer) {
  Packet a = make({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 6);
  Packet s = a.sub(2, 3);
  EXPECT_EQ(s.text(), "02 03 04");
  EXPECT_EQ(s._headroom(), 8u);
  EXPECT_FALSE(s.shares_buffer_with(a));
  EXPECT_EQ(a.use_count(), 1u);
  s[0] = 0xEE;
  EXPECT_EQ(a.text(), "00 01 02 03 04 05 06 07 08 09");

  EXPECT_EQ(a.sub(10, 0).length(), 0u);
  EXPECT_EQ(a.sub(0, 10).text(), a.text());
}

TEST(Packet, TextIsUpperCaseHex) {
  EXPECT_EQ(make({0x01, 0xAB}).text(), "01 AB");
  EXPECT_EQ(make({}).text(), "");
  std::ostringstream os;
  os << make({0x0F}) << '|' << Packet();
  EXPECT_EQ(os.str(), "0F|(null)");
}

TEST(Packet, PrintersLeaveTheStreamFormatAlone) {
  Packet p = make({0x01, 0xAB}, 4);
  std::ostringstream os;
  os << std::oct << std::setfill('*');
  EXPECT_TRUE(p.dump(os));
  os << '|' << 8 << '|';
  EXPECT_TRUE(p.dump_context(os));
  os << '|' << 8 << '|';
  os << PacketInfo(p);
  os << 8;
  EXPECT_EQ(os.str(),
            "head=4, data=2, tail=65530|10|dump: 1 ab|10|"
            "head=4, data=2, tail=65530\ndump:\n 1 ab\n10");
  EXPECT_EQ(os.fill(), '*');
}

TEST(Packet, DumpsOfEmptyAndNullPackets) {
  std::ostringstream os;
  EXPECT_TRUE(make({}).dump_context(os));
  EXPECT_EQ(os.str(), "");
  os << PacketInfo(make({}, 3)) << PacketInfo(Packet());
  EXPECT_EQ(os.str(), "head=3, data=0, tail=65533\n(null)\n");
}

TEST(PacketPool, ExhaustedPoolThrowsAndTheHandleStaysAsItWas) {
  // Every buffer the tests before took has come back.
  ASSERT_EQ(Packet::pool_free(), Packet::pool_size());
  std::vector<Packet> held(Packet::pool_free());
  for (Packet& p : held) p.reserve_head(0);
  EXPECT_EQ(Packet::pool_free(), 0u);

  Packet extra;
  EXPECT_THROW(extra.reserve_head(0), std::bad_alloc);
  EXPECT_TRUE(extra.null());
  EXPECT_THROW(extra.reserve_tail(5), std::bad_alloc);
  EXPECT_TRUE(extra.null());
  EXPECT_FALSE(extra.try_reserve_head(0));
  EXPECT_FALSE(extra.try_reserve_tail(0));
  EXPECT_TRUE(extra.null());

  // A write to a shared buffer needs a copy, and there is none to be had.
  held[0].put8(0x42);
  Packet shared = held[0];
  EXPECT_THROW(shared.put8(1), std::bad_alloc);
  EXPECT_TRUE(shared.shares_buffer_with(held[0]));
  EXPECT_EQ(shared.text(), "42");

  held[5].clear();
  EXPECT_EQ(Packet::pool_free(), 1u);
  EXPECT_TRUE(extra.try_reserve_head(2));
  expect_room(extra, {2, 0, 65534});
  EXPECT_EQ(Packet::pool_free(), 0u);
  held.clear();
}

TEST(PacketPool, FreedBuffersComeBackLastInTheOrderFreed) {
  ASSERT_GE(Packet::pool_free(), 3u);
  Packet a, b;
  a.reserve_head(0);
  b.reserve_head(0);
  unsigned char const* buffer_a = a.cdata();
  unsigned char const* buffer_b = b.cdata();
  a.clear();
  b.clear();

  unsigned free = Packet::pool_free();
  std::vector<Packet> taken(free);
  for (unsigned i = 0; i < free; ++i) {
    taken[i].reserve_head(0);
    if (i < free - 2) {
      EXPECT_NE(taken[i].cdata(), buffer_a);
      EXPECT_NE(taken[i].cdata(), buffer_b);
    }
  }
  EXPECT_EQ(taken[free - 2].cdata(), buffer_a);
  EXPECT_EQ(taken[free - 1].cdata(), buffer_b);
}

// Misuse is a programming error: the packet says what was wrong and the
// process ends.
TEST(PacketDeathTest, AssertionReportsTextAndSnapshot) {
  EXPECT_DEATH(
      {
        Packet p = make({0xAB}, 2);
        p.pull(2);
      },
      "PACKET ASSERTION FAILED!\nlen<=_length\\(\\)\nhead=2, data=1, tail=65533\ndump:\n ab\n\n");
  EXPECT_DEATH(Packet().put8(1), "PACKET ASSERTION FAILED!\nnull packet\n\\(null\\)\n\n");
}

TEST(PacketDeathTest, ContractViolations) {
  struct Case {
    void (*misuse)();
    char const* text;
  } cases[] = {
      {[] { Packet().put8(1); }, "null packet"},
      {[] { Packet().pull8(); }, "null packet"},
      {[] { Packet().data(); }, "null packet"},
      {[] { Packet().sub(0, 0); }, "null packet"},
      {[] { make({1}).pull(2); }, "len<=_length\\(\\)"},
      {[] { make({1}).trim(2); }, "len<=_length\\(\\)"},
      {[] { make({1}, 1).push(2); }, "len<=_headroom\\(\\)"},
      {[] {
         Packet p = make({});
         p.put(65536);
         p.put8(0);
       },
       "len<=_tailroom\\(\\)"},
      {[] {
         make({1, 2})[2];
       },
       "index out of range"},
      {[] {
         make({1, 2})[-1];
       },
       "index out of range"},
      {[] { static_cast<Packet const&>(make({1}))[1]; }, "index out of range"},
      {[] {
         make({1, 2, 3}).sub(4, 0);
       },
       "start<=_length\\(\\)"},
      {[] {
         make({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}).sub(8, 3);
       },
       "start\\+len<=_length\\(\\)"},
      {[] {
         make({1, 2, 3}).sub(1, 0xFFFFFFFFu);
       },
       "start\\+len<=_length\\(\\)"},
      {[] { Packet().reserve_head(65537); }, "length>packet_max_size"},
      {[] {
         make({1, 2}, 65530).reserve_head(5);
       },
       "new_len>packet_max_size"},
      {[] { Packet().reserve_tail(65537); }, "len>packet_max_size"},
      {[] { make({}, 3).reserve_tail(4); }, "_tailroom\\(\\)\\+len <= packet_max_size"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_DEATH(c.misuse(), std::string("PACKET ASSERTION FAILED!\n") + c.text + "\n");
  }
}

TEST(PacketDeathTest, ConsistencyCheckFailure) {
  EXPECT_DEATH(Packet().check("push"), "packet check fail\nafter \"push\" packet is null\nterminate.\n");
  EXPECT_DEATH(Packet::check_fail("after \"%s\" fdata>ftail", "trim"),
               "packet check fail\nafter \"trim\" fdata>ftail\nterminate.\n");
}

TEST(PacketDeathTest, NullSmartPointer) {
  EXPECT_DEATH(Packet()._length(), "SMART POINTER ASSERTION!");
  EXPECT_DEATH(
      {
        Smart_pointer<_Packet> none;
        none->fdata = nullptr;
      },
      "SMART POINTER ASSERTION!");
}
