#include "foundation/log_limit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "foundation/ext_text.h"
#include "loop_test_util.h"

using looptest::CachedClock;
using looptest::Capture;

namespace {

struct Case {
  const char* name;
  // Steps, blank-separated: "a7" seven lines from source a (numbered on from
  // its last), "+N" N ms on and the loop's timers run, "wN" N ms on without
  // them.
  const char* script;
  const char* expected;
};

const Case kCases[] = {
    {"burst beyond the limit is cut", "a8", "a1\na2\na3\na4\na5\n"},
    {"timer writes the count once a flood stops", "a8 +999 +1", "a1\na2\na3\na4\na5\n3 more: a8\n"},
    {"next line after the second writes the count first", "a7 w1000 a1", "a1\na2\na3\na4\na5\n2 more: a7\na8\n"},
    {"window counts from its first line", "a3 +600 a5 +399 +1", "a1\na2\na3\na4\na5\n3 more: a8\n"},
    {"quiet second opens a new window", "a5 +1000 a6 +1000", "a1\na2\na3\na4\na5\na6\na7\na8\na9\na10\n1 more: a11\n"},
    {"a flood that goes on gets one count a second", "a12 +1000 a12 +1000",
     "a1\na2\na3\na4\na5\n7 more: a12\na13\na14\na15\na16\na17\n7 more: a24\n"},
    {"sources are independent", "a6 b7 +1000", "a1\na2\na3\na4\na5\nb1\nb2\nb3\nb4\nb5\n1 more: a6\n2 more: b7\n"},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class LimiterTable : public ::testing::TestWithParam<Case> {};

TEST_P(LimiterTable, WritesExactly) {
  const Case& c = GetParam();
  CachedClock clock;
  std::ostringstream out;
  {
    Log::Limiter a, b;
    unsigned na = 0, nb = 0;
    std::istringstream steps(c.script);
    std::string step;
    while (steps >> step) {
      unsigned n = unsigned(std::strtoul(step.c_str() + 1, nullptr, 10));
      if (step[0] == '+' || step[0] == 'w') {
        clock.advance(n);
        if (step[0] == '+') multiplexer.timers_schedule();
        continue;
      }
      Log::Limiter& lim = step[0] == 'a' ? a : b;
      unsigned& count = step[0] == 'a' ? na : nb;
      // A trailing newline of its own is not doubled.
      for (unsigned i = 0; i < n; ++i) lim.line(out) << step[0] << ++count << std::endl;
    }
  }
  EXPECT_EQ(out.str(), c.expected);
  EXPECT_EQ(multiplexer.timer_count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Log, LimiterTable, ::testing::ValuesIn(kCases), [](const auto& info) {
  std::string name;
  for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return name;
});

// 20,000 lines at 5,000 a second: everything accounted for, in a small
// fraction of the octets.
TEST(LogLimiter, FloodIsCountedInFewOctets) {
  CachedClock clock;
  std::ostringstream out;
  size_t in = 0;
  {
    Log::Limiter lim;
    for (unsigned i = 0; i < 20000; ++i) {
      if (i % 5 == 0) {
        clock.advance(1);
        multiplexer.timers_schedule();
      }
      std::string text = "peer sent a bad frame of length " + std::to_string(i);
      in += text.size() + 1;
      lim.line(out) << text;
    }
    clock.advance(1000);
    multiplexer.timers_schedule();
  }
  unsigned lines = 0, counted = 0;
  std::istringstream written(out.str());
  std::string line;
  while (std::getline(written, line)) {
    size_t more = line.find(" more: ");
    if (more == std::string::npos) {
      ++lines;
    } else {
      counted += unsigned(std::stoul(line.substr(0, more)));
    }
  }
  EXPECT_EQ(lines + counted, 20000u);
  EXPECT_LE(lines, 5u * 5u);
  EXPECT_LT(out.str().size() * 100, in);
}

TEST(LogLimiter, AdmitsTellsWhetherTheNextLineIsWritten) {
  CachedClock clock;
  std::ostringstream out;
  Log::Limiter lim(2);
  std::string admitted;
  for (int i = 0; i < 3; ++i) {
    admitted += lim.admits() ? 'y' : 'n';
    lim.line(out) << i;
  }
  clock.advance(999);
  admitted += lim.admits() ? 'y' : 'n';
  clock.advance(1);
  admitted += lim.admits() ? 'y' : 'n';
  EXPECT_EQ(admitted, "yynny");
  multiplexer.timers_schedule();
  EXPECT_EQ(out.str(), "0\n1\n1 more: 2\n");
}

struct Peer {
  int id;
  void PutHeader(std::ostream& out) const { out << "peer " << id << ": "; }
  void Bad(int n) const { LOG_LIMITED(std::cerr) << ext::header(this) << "bad frame " << n << std::endl; }
  void Other() const { LOG_LIMITED(std::cerr) << "other" << '\n'; }
};

TEST(LogLimiter, EachCallSiteHasItsOwnLimiter) {
  CachedClock clock;
  Capture err(std::cerr);
  Peer p{3};
  for (int i = 1; i <= 7; ++i) p.Bad(i);
  p.Other();
  clock.advance(1000);
  multiplexer.timers_schedule();
  EXPECT_EQ(err.text(),
            "peer 3: bad frame 1\npeer 3: bad frame 2\npeer 3: bad frame 3\npeer 3: bad frame 4\n"
            "peer 3: bad frame 5\nother\n2 more: peer 3: bad frame 7\n");
  EXPECT_EQ(multiplexer.timer_count(), 0u);
}

}  // namespace
