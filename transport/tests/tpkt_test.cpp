#include "transport/tpkt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "transport/testing/link_test_util.h"

using linktest::CachedClock;
using linktest::frame;
using linktest::Streams;

namespace {

// Records what reaches the bottom of the stack.
class Wire : public Protocol {
public:
  void message(Packet& p) override { sent.push_back(p.empty() ? "" : std::string(p.cdata(), p.cdata() + p.length())); }
  std::vector<std::string> sent;
};

// The TPKT layer over a recording wire, owned by a family that records the
// delivered payloads and what the layer reports.
class Rig : public ProtocolsFamily {
public:
  Rig() {
    wire = static_cast<Wire*>(add_protocol_tail(new Wire));
    tpkt = static_cast<Tpkt_protocol*>(add_protocol_tail(new Tpkt_protocol));
    activate();
  }
  void on_message(Packet& p) override {
    frames.push_back(p.empty() ? "" : std::string(p.cdata(), p.cdata() + p.length()));
    if (on_frame) on_frame();
  }
  void on_deactivated(::Protocol*, Protocol_status st) override { reports.push_back(st->message()); }

  void feed(std::string const& bytes) {
    Packet p;
    p.reserve_head(0);
    std::copy(bytes.begin(), bytes.end(), p.put(unsigned(bytes.size())));
    tpkt->receive(p);
  }

  Wire* wire;
  Tpkt_protocol* tpkt;
  std::vector<std::string> frames;
  std::vector<std::string> reports;
  std::function<void()> on_frame;
};

std::vector<std::string> lines(std::string const& text) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    out.push_back(text.substr(at, end - at));
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return out;
}

}  // namespace

TEST(Tpkt, FramesSplitAnywhereAreReassembled) {
  const std::string stream = frame("0123456789") + frame("") + frame("xyz");
  const std::vector<std::string> expected = {"0123456789", "", "xyz"};
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    Streams quiet;
    Rig rig;
    rig.feed(stream.substr(0, cut));
    rig.feed(stream.substr(cut));
    EXPECT_EQ(rig.frames, expected) << "cut at " << cut;
    EXPECT_FALSE(rig.tpkt->timer_running());
    EXPECT_EQ(quiet.log.text(), "");
  }
  // One octet per read: nothing before the last octet, and no timer after it.
  Rig rig;
  const std::string f = frame("0123456789");
  for (size_t i = 0; i < f.size(); ++i) {
    EXPECT_TRUE(rig.frames.empty()) << i;
    rig.feed(f.substr(i, 1));
    EXPECT_EQ(rig.tpkt->timer_running(), i + 1 < f.size()) << i;
  }
  EXPECT_EQ(rig.frames, std::vector<std::string>{"0123456789"});
}

TEST(Tpkt, BadInputIsLoggedAndTheStreamResynchronises) {
  const struct {
    const char* what;
    std::string input;
    std::vector<std::string> frames;
    std::vector<std::string> log;
  } cases[] = {
      {"one garbage octet", std::string("\xFF", 1) + frame("A"), {"A"}, {"TPKT bad TPKT packet start."}},
      {"long garbage counted in one line",
       std::string(40, '\x55') + frame("B"),
       {"B"},
       {"TPKT bad TPKT packet start.", "TPKT 39 more octets skipped before a TPKT packet start."}},
      {"bad reserved octet", std::string("\x03\x01", 2) + frame("C"), {"C"}, {"TPKT bad TPKT reserved."}},
      {"reserved octet is not taken as a start",
       std::string("\x03\x03", 2) + frame("D"),
       {"D"},
       {"TPKT bad TPKT reserved."}},
      {"length 3", std::string("\x03\x00\x00\x03", 4) + frame("E"), {"E"}, {"TPKT too small 3"}},
      {"length 0", std::string("\x03\x00\x00\x00", 4) + frame("F"), {"F"}, {"TPKT too small 0"}},
      {"empty payload", std::string("\x03\x00\x00\x04", 4), {""}, {}},
      {"longest payload header",
       std::string("\x03\x00\xFF\xFF", 4) + std::string(65531, 'x'),
       {std::string(65531, 'x')},
       {}},
  };
  for (const auto& c : cases) {
    Streams captured;
    Rig rig;
    rig.feed(c.input);
    EXPECT_EQ(rig.frames, c.frames) << c.what;
    EXPECT_EQ(lines(captured.log.text()), c.log) << c.what;
    EXPECT_EQ(rig.tpkt->get_state(), Tpkt_protocol::idle) << c.what;
  }
}

TEST(Tpkt, BadHeadersAreCountedLikeGarbage) {
  const std::string reserved("\x03\x01", 2);
  const std::string short_length("\x03\x00\x00\x02", 4);
  const struct {
    const char* what;
    std::string input;
    std::vector<std::string> log;
  } cases[] = {
      {"bad reserved octets",
       reserved + reserved + reserved + frame("A"),
       {"TPKT bad TPKT reserved.", "TPKT 2 more bad TPKT headers skipped."}},
      {"short lengths",
       short_length + short_length + short_length + frame("A"),
       {"TPKT too small 2", "TPKT 2 more bad TPKT headers skipped."}},
      {"garbage and headers mixed",
       "\xFF\xFE" + reserved + "\xFD" + short_length + frame("A"),
       {"TPKT bad TPKT packet start.", "TPKT 2 more octets skipped before a TPKT packet start.",
        "TPKT 2 more bad TPKT headers skipped."}},
      {"a good header ends the resynchronisation",
       reserved + reserved + frame("A") + reserved + frame("A"),
       {"TPKT bad TPKT reserved.", "TPKT 1 more bad TPKT headers skipped.", "TPKT bad TPKT reserved."}},
  };
  for (const auto& c : cases) {
    Streams captured;
    Rig rig;
    rig.feed(c.input);
    EXPECT_EQ(rig.frames.back(), "A") << c.what;
    EXPECT_EQ(lines(captured.log.text()), c.log) << c.what;
  }
}

TEST(Tpkt, CountsAreWrittenWhenTheSkippedInputOutgrowsTheLine) {
  Streams captured;
  Rig rig;
  // Too little skipped for a line of its own: the count waits.
  rig.feed(std::string(5, '\x7F'));
  rig.feed(std::string(3, '\x7F'));
  EXPECT_EQ(lines(captured.log.text()), std::vector<std::string>{"TPKT bad TPKT packet start."});
  // Enough for it: written at the end of the read.
  rig.feed(std::string(Tpkt_protocol::report_after - 9, '\x7F'));
  EXPECT_EQ(lines(captured.log.text()).size(), 1u);
  rig.feed(std::string(1, '\x7F'));
  EXPECT_EQ(lines(captured.log.text()),
            (std::vector<std::string>{"TPKT bad TPKT packet start.",
                                      "TPKT 4095 more octets skipped before a TPKT packet start."}));
  // Back in step, whatever is left is written.
  rig.feed(std::string(3, '\x7F') + frame("ok"));
  EXPECT_EQ(rig.frames, std::vector<std::string>{"ok"});
  EXPECT_EQ(lines(captured.log.text()),
            (std::vector<std::string>{"TPKT bad TPKT packet start.",
                                      "TPKT 4095 more octets skipped before a TPKT packet start.",
                                      "TPKT 3 more octets skipped before a TPKT packet start."}));
}

TEST(Tpkt, PendingCountsAreWrittenWhenTheLayerGoesDown) {
  Streams captured;
  Rig rig;
  rig.feed(std::string("\x03\x01\x03\x01\x55", 5));
  EXPECT_EQ(lines(captured.log.text()), std::vector<std::string>{"TPKT bad TPKT reserved."});
  rig.deactivate();
  EXPECT_EQ(
      lines(captured.log.text()),
      (std::vector<std::string>{"TPKT bad TPKT reserved.", "TPKT 1 more octets skipped before a TPKT packet start.",
                                "TPKT 1 more bad TPKT headers skipped."}));
}

namespace {

// Sum of the counts in the summary lines.
unsigned long counted(std::vector<std::string> const& log, std::string const& what) {
  unsigned long sum = 0;
  for (std::string const& line : log) {
    if (line.find(what) == std::string::npos || line.compare(0, 5, "TPKT ") != 0) continue;
    sum += std::stoul(line.substr(5));
  }
  return sum;
}

}  // namespace

TEST(Tpkt, HostileInputGivesLessLogThanInput) {
  const struct {
    const char* what;
    std::string unit;
    const char* first;
  } inputs[] = {
      {"bad reserved octets", std::string("\x03\x01", 2), "TPKT bad TPKT reserved."},
      {"short lengths", std::string("\x03\x00\x00\x00", 4), "TPKT too small 0"},
      {"garbage", std::string("\xFF", 1), "TPKT bad TPKT packet start."},
  };
  const size_t reads[] = {65536, 1460, 7, 3, 1};
  for (const auto& in : inputs) {
    std::string hostile;
    while (hostile.size() < 65536) hostile += in.unit;
    const unsigned long units = hostile.size() / in.unit.size();
    for (size_t chunk : reads) {
      Streams captured;
      Rig rig;
      for (size_t at = 0; at < hostile.size(); at += chunk) rig.feed(hostile.substr(at, chunk));
      const size_t log_bytes = captured.log.text().size();
      EXPECT_LE(log_bytes * 50, hostile.size()) << in.what << ", reads of " << chunk;
      // Still in step afterwards, and every bad header or octet accounted for.
      rig.feed(frame("A"));
      EXPECT_EQ(rig.frames, std::vector<std::string>{"A"}) << in.what << ", reads of " << chunk;
      const std::vector<std::string> log = lines(captured.log.text());
      ASSERT_FALSE(log.empty());
      EXPECT_EQ(log[0], in.first);
      EXPECT_EQ(1 + counted(log, "more bad TPKT headers") + counted(log, "more octets skipped"), units)
          << in.what << ", reads of " << chunk;
    }
  }
}

// Each bad header followed by a good frame starts a resynchronisation of its
// own: the lines follow the limiter, and the counts held back come out later.
TEST(Tpkt, BadHeadersBetweenFramesGiveLessLogThanInput) {
  const std::string reserved("\x03\x01", 2);
  const struct {
    const char* what;
    std::string unit;
    unsigned long second_headers;
  } inputs[] = {
      {"bad reserved octet", reserved + frame("x"), 0},
      {"garbage octet", "\xFF" + frame("x"), 0},
      {"two bad headers", reserved + reserved + frame("x"), 20000},
      {"short length", std::string("\x03\x00\x00\x01", 4) + frame("x"), 0},
  };
  for (const auto& in : inputs) {
    CachedClock clock;
    Streams captured;
    Rig rig;
    std::string hostile;
    for (int i = 0; i < 20000; ++i) hostile += in.unit;
    for (size_t at = 0; at < hostile.size(); at += 1460) rig.feed(hostile.substr(at, 1460));
    linktest::advance(clock, 1000);
    EXPECT_EQ(rig.frames.size(), 20000u) << in.what;
    EXPECT_LE(captured.log.text().size() * 100, hostile.size()) << in.what << '\n' << captured.log.text();
    EXPECT_TRUE(captured.log.text().find(" more: ") != std::string::npos) << in.what;
    // Second bad headers: some counted in lines of their own, the rest held
    // until the layer goes down.
    rig.deactivate();
    EXPECT_EQ(counted(lines(captured.log.text()), "more bad TPKT headers"), in.second_headers) << in.what;
  }
}

TEST(Tpkt, StalledFrameIsDroppedThreeSecondsAfterItsLastChunk) {
  CachedClock clock;
  Streams captured;
  Rig rig;
  rig.feed(std::string("\x03\x00\x00\x0E", 4) + "01234");
  linktest::advance(clock, 2999);
  rig.feed("5");
  linktest::advance(clock, 2999);
  EXPECT_EQ(rig.tpkt->get_state(), Tpkt_protocol::body);
  EXPECT_EQ(captured.log.text(), "");

  linktest::advance(clock, 1);
  EXPECT_EQ(captured.log.text(), " TPKT packet timeout.\n");
  EXPECT_EQ(rig.tpkt->get_state(), Tpkt_protocol::idle);
  EXPECT_FALSE(rig.tpkt->timer_running());

  // The rest of the stalled frame is now taken as frame starts.
  rig.feed(frame("A"));
  EXPECT_EQ(rig.frames, std::vector<std::string>{"A"});
}

TEST(Tpkt, DeactivationMidFrameDiscardsItAndStopsTheTimer) {
  Rig rig;
  rig.feed(std::string("\x03\x00\x00\x0E", 4) + "012");
  ASSERT_TRUE(rig.tpkt->timer_running());
  rig.deactivate();
  EXPECT_FALSE(rig.tpkt->timer_running());
  EXPECT_EQ(rig.tpkt->get_state(), Tpkt_protocol::idle);
  EXPECT_EQ(rig.reports, std::vector<std::string>{"success"});
  rig.feed("3456789");
  EXPECT_TRUE(rig.frames.empty());
}

TEST(Tpkt, OwnerTakingTheLayerDownInADeliveryStopsTheChunk) {
  Streams quiet;
  Rig rig;
  rig.on_frame = [&] { rig.deactivate(); };
  rig.feed(frame("one") + frame("two") + "\x03");
  EXPECT_EQ(rig.frames, std::vector<std::string>{"one"});
  EXPECT_FALSE(rig.tpkt->timer_running());
}

TEST(Tpkt, SendPrependsTheHeaderInPlace) {
  Rig rig;
  Packet p;
  rig.tpkt->prepare_head(p);
  EXPECT_EQ(p._headroom(), 4u);
  std::string payload = "0123456789";
  std::copy(payload.begin(), payload.end(), p.put(unsigned(payload.size())));
  const unsigned char* data = p.cdata();
  EXPECT_TRUE(rig.tpkt->send(p));
  EXPECT_EQ(p.cdata() + 4, data);
  ASSERT_EQ(rig.wire->sent.size(), 1u);
  EXPECT_EQ(rig.wire->sent[0], std::string("\x03\x00\x00\x0E", 4) + payload);
}

TEST(Tpkt, PayloadTheLengthFieldCannotCarryIsRefused) {
  const struct {
    unsigned length;
    bool sent;
  } cases[] = {{0, true}, {65531, true}, {65532, false}};
  for (const auto& c : cases) {
    Streams captured;
    Rig rig;
    Packet p;
    rig.tpkt->prepare_head(p);
    p.put(c.length);
    EXPECT_EQ(rig.tpkt->send(p), c.sent) << c.length;
    ASSERT_EQ(rig.wire->sent.size(), c.sent ? 1u : 0u) << c.length;
    if (c.sent) {
      const std::string& f = rig.wire->sent[0];
      EXPECT_EQ((unsigned char)f[2] * 256u + (unsigned char)f[3], c.length + 4);
      EXPECT_EQ(captured.err.text(), "");
    } else {
      EXPECT_EQ(captured.err.text(), "TPKT message of 65532 octets not sent, max = 65531\n");
    }
  }
}

TEST(Tpkt, EmptyPoolDropsTheFrameAndKeepsTheStreamInStep) {
  Streams captured;
  Rig rig;
  std::vector<Packet> hold;
  // One buffer is left for the received chunk itself.
  while (Packet::pool_free() > 1) {
    hold.emplace_back();
    hold.back().reserve_head(0);
  }
  rig.feed(frame("lost") + frame("also lost"));
  EXPECT_TRUE(rig.frames.empty());
  EXPECT_EQ(lines(captured.err.text()),
            (std::vector<std::string>{"TPKT no free packet buffer, frame of 4 octets dropped",
                                      "TPKT no free packet buffer, frame of 9 octets dropped"}));
  hold.clear();
  rig.feed(frame("kept"));
  EXPECT_EQ(rig.frames, std::vector<std::string>{"kept"});
}
