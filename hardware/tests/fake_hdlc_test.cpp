// The fake HDLC channel pair of the link layers' tests.
#include "hardware/testing/fake_hdlc.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "foundation/multiplexer.h"
#include "foundation/tests/loop_test_util.h"

namespace {

using looptest::run_until;

using HdlcTesting::Bytes;
using HdlcTesting::FakeLink;

struct Client : HDLC::Notify {
  void on_hdlc_receive(Packet& p) override {
    ++depth;
    max_depth = std::max(max_depth, depth);
    frames.push_back(HdlcTesting::ToBytes(p));
    if (on_receive) on_receive(p);
    --depth;
  }
  void on_hdlc_error(Cause::Type c) override {
    ++errors;
    cause = c;
  }
  void on_hdlc_ready() override { ++readies; }

  std::vector<Bytes> frames;
  int errors = 0, readies = 0, cause = -1, depth = 0, max_depth = 0;
  std::function<void(Packet&)> on_receive;
};

class FakeHdlcTest : public ::testing::Test {
protected:
  FakeHdlcTest() {
    link.a().bind(&ca);
    link.b().bind(&cb);
    link.a().open();
    link.b().open();
  }
  bool Send(HdlcTesting::FakeChannel& c, const Bytes& b) {
    Packet p = HdlcTesting::ToPacket(b);
    return c.hdlc_transmit(p);
  }
  void Flush() {
    while (link.step()) {
    }
  }

  FakeLink link;
  Client ca, cb;
};

TEST_F(FakeHdlcTest, ReadyOnceAfterOpenAndFramesOnlyFromTheLoop) {
  EXPECT_TRUE(link.a().is_open());
  EXPECT_FALSE(link.a().is_ready());
  EXPECT_TRUE(Send(link.a(), {0x02, 0x01, 0x7F}));
  // Nothing inside the transmit.
  EXPECT_TRUE(cb.frames.empty());
  EXPECT_EQ(0, ca.readies);
  ASSERT_TRUE(run_until([&] { return link.idle(); }));
  EXPECT_EQ(1, ca.readies);
  EXPECT_EQ(1, cb.readies);
  EXPECT_TRUE(link.a().is_ready());
  EXPECT_EQ((std::vector<Bytes>{{0x02, 0x01, 0x7F}}), cb.frames);
  EXPECT_EQ(cb.frames, link.a_to_b().sent());
  EXPECT_EQ(cb.frames, link.a_to_b().delivered());
  EXPECT_EQ(1u, link.a().transmitted());
  EXPECT_EQ(1u, link.b().received());
  // An empty frame is no frame.
  EXPECT_TRUE(Send(link.a(), {}));
  EXPECT_TRUE(link.idle());
}

TEST_F(FakeHdlcTest, SpoilersActOnTheNthFrameOfTheirDirection) {
  struct Case {
    const char* what;
    std::function<void(HdlcTesting::Direction&)> set;
    std::vector<Bytes> got;
  } cases[] = {
      {"drop 2", [](HdlcTesting::Direction& d) { d.drop(2); }, {{1}, {3}}},
      {"dup 1", [](HdlcTesting::Direction& d) { d.duplicate(1); }, {{1}, {1}, {2}, {3}}},
      {"corrupt 3", [](HdlcTesting::Direction& d) { d.corrupt(3); }, {{1}, {2}, {0xFC}}},
      {"corrupt 1 by hand",
       [](HdlcTesting::Direction& d) { d.corrupt(1, [](Bytes& f) { f.push_back(9); }); },
       {{1, 9}, {2}, {3}}},
      {"swallow", [](HdlcTesting::Direction& d) { d.swallow(true); }, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLink l;
    Client to, back;
    l.a().open();
    l.b().open();
    l.b().bind(&to);
    l.a().bind(&back);
    c.set(l.a_to_b());
    for (std::uint8_t i = 1; i <= 3; ++i) {
      Packet p = HdlcTesting::ToPacket({i});
      EXPECT_TRUE(l.a().hdlc_transmit(p));
      Packet q = HdlcTesting::ToPacket({static_cast<std::uint8_t>(0x10 + i)});
      EXPECT_TRUE(l.b().hdlc_transmit(q));
    }
    while (l.step()) {
    }
    EXPECT_EQ(c.got, to.frames);
    EXPECT_EQ(3u, l.a_to_b().sent().size());
    // The other direction is untouched.
    EXPECT_EQ((std::vector<Bytes>{{0x11}, {0x12}, {0x13}}), back.frames);
  }
}

TEST_F(FakeHdlcTest, RefusalEndsWithOneReady) {
  looptest::CachedClock clock;
  Flush();
  ASSERT_EQ(1, ca.readies);
  link.a().refuse(50);
  EXPECT_FALSE(Send(link.a(), {0x01}));
  EXPECT_FALSE(link.a().is_ready());
  EXPECT_FALSE(Send(link.a(), {0x02}));
  EXPECT_EQ(2u, link.a().refused());
  EXPECT_EQ(0u, link.a().transmitted());
  run_until([] { return false; }, 20);
  EXPECT_EQ(1, ca.readies);
  clock.advance(50);
  ASSERT_TRUE(run_until([&] { return ca.readies == 2; }));
  EXPECT_TRUE(link.a().is_ready());
  EXPECT_TRUE(Send(link.a(), {0x03}));
  Flush();
  EXPECT_EQ((std::vector<Bytes>{{0x03}}), cb.frames);

  // A refusal that refused nothing ends without a callback.
  link.b().refuse(0);
  link.b().accept();
  Flush();
  EXPECT_EQ(1, cb.readies);
}

TEST_F(FakeHdlcTest, FailureClosesAtOnceAndReportsFromTheLoop) {
  Flush();
  EXPECT_TRUE(Send(link.a(), {0x01}));
  link.b().fail();
  EXPECT_FALSE(link.b().is_open());
  EXPECT_EQ(0, cb.errors);
  Flush();
  EXPECT_EQ(1, cb.errors);
  EXPECT_EQ(HDLC::Notify::Cause::read_error, cb.cause);
  // The frame on its way found the end closed.
  EXPECT_TRUE(cb.frames.empty());
  EXPECT_EQ(1u, link.a_to_b().lost());
  EXPECT_FALSE(Send(link.b(), {0x02}));
  EXPECT_EQ(1u, link.b().discarded());
  // Opened again, it reports ready again.
  link.b().open();
  Flush();
  EXPECT_EQ(2, cb.readies);
}

TEST_F(FakeHdlcTest, RepeatSendsTheLastFrameWhileTheLineIsIdle) {
  looptest::CachedClock clock;
  Flush();
  link.a_to_b().repeat(10);
  EXPECT_TRUE(Send(link.a(), {0xFF, 0xFF, 0x00}));
  Flush();
  clock.advance(10);
  ASSERT_TRUE(run_until([&] { return cb.frames.size() == 2; }));
  clock.advance(5);
  EXPECT_TRUE(Send(link.a(), {0xFF, 0xFF, 0x01}));
  clock.advance(5);
  run_until([] { return false; }, 20);
  EXPECT_EQ(3u, cb.frames.size());
  clock.advance(5);
  ASSERT_TRUE(run_until([&] { return cb.frames.size() == 4; }));
  EXPECT_EQ((Bytes{0xFF, 0xFF, 0x01}), cb.frames.back());
  EXPECT_EQ(2u, link.a_to_b().sent().size());
  link.a_to_b().repeat(0);
  clock.advance(100);
  run_until([] { return false; }, 20);
  EXPECT_EQ(4u, cb.frames.size());
}

TEST_F(FakeHdlcTest, ClientTransmittingFromItsCallbackDoesNotRecurse) {
  Flush();
  // Each end answers every frame with one octet more, up to 5 octets.
  auto echo = [&](HdlcTesting::FakeChannel& c) {
    return [&c, this](Packet& p) {
      Bytes b = HdlcTesting::ToBytes(p);
      if (b.size() >= 5) return;
      b.push_back(static_cast<std::uint8_t>(b.size()));
      EXPECT_TRUE(Send(c, b));
    };
  };
  ca.on_receive = echo(link.a());
  cb.on_receive = echo(link.b());
  EXPECT_TRUE(Send(link.a(), {0}));
  ASSERT_TRUE(run_until([&] { return link.idle(); }));
  EXPECT_EQ(1, ca.max_depth);
  EXPECT_EQ(1, cb.max_depth);
  EXPECT_EQ((std::vector<Bytes>{{0}, {0, 1, 2}, {0, 1, 2, 3, 4}}), cb.frames);
  EXPECT_EQ(2u, ca.frames.size());
}

TEST_F(FakeHdlcTest, InjectedFrameBypassesTheSpoilers) {
  Flush();
  link.b_to_a().drop(1);
  link.a().inject({0x7E});
  Flush();
  EXPECT_EQ((std::vector<Bytes>{{0x7E}}), ca.frames);
  EXPECT_TRUE(link.b_to_a().sent().empty());
}

}  // namespace
