// The simulated HDLC controller and the lines between its channels.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "board/hal.h"
#include "board/mcc.h"
#include "foundation/tests/loop_test_util.h"
#include "simboard/hal.h"
#include "simboard/lines.h"
#include "simboard/mcc.h"
#include "simboard/simulator.h"
#include "simboard/tests/sim_test_util.h"

namespace {

using SimBoard::Lines;
namespace Mcc = Board::Mcc;

class MccTest : public ::testing::Test {
protected:
  MccTest() {
    sim.add(std::unique_ptr<SimBoard::Driver>(new SimBoard::Hal));
    sim.add(std::unique_ptr<SimBoard::Driver>(new SimBoard::Mcc({301, 300, 302}, {{0, 1}, {2, 3}})));
    hal = sim.device<SimBoard::Hal>(Board::Hal::kDevice);
    mcc = sim.device<SimBoard::Mcc>(Mcc::kDevice);
    halFd = sim.open(Board::Hal::kDevice, O_RDWR);
  }
  ~MccTest() override {
    for (const std::string& p : files) std::remove(p.c_str());
  }

  Fd Open() { return sim.open(Mcc::kDevice, O_RDWR | O_NONBLOCK); }
  // The request's errno, 0 on success.
  int Allocate(const Fd& fd, std::int32_t mode = 0, std::int32_t size = 512) {
    Mcc::Allocate rec = {mode, size, 0, 1, 4};
    return sim.ioctl(fd.lowlevel_fd(), Mcc::kAllocate, &rec) == 0 ? 0 : errno;
  }
  // An allocated channel and its timeslot.
  Fd Channel(int& timeslot) {
    Fd fd = Open();
    EXPECT_EQ(0, Allocate(fd));
    timeslot = sim.ioctl_value(fd.lowlevel_fd(), Mcc::kTimeslot, 0);
    return fd;
  }
  void Connect(int source, int output) {
    Board::Hal::XcConnect rec = {output, source};
    ASSERT_EQ(0, sim.ioctl(halFd.lowlevel_fd(), Board::Hal::kXcConnect, &rec));
  }
  void Do(const std::string& command) {
    const SimBoard::Reply r = sim.execute(command);
    ASSERT_FALSE(r.failed()) << command << ": " << r.text();
  }
  void Write(const Fd& fd, const std::string& bytes) {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), ::write(fd.lowlevel_fd(), bytes.data(), bytes.size()));
    mcc->drain();
  }
  // Every frame waiting on the descriptor, as hex.
  std::vector<std::string> Read(const Fd& fd) {
    std::vector<std::string> frames;
    unsigned char buf[2048];
    ssize_t n;
    while ((n = ::recv(fd.lowlevel_fd(), buf, sizeof buf, MSG_DONTWAIT)) > 0)
      frames.push_back(SimBoard::HexText(Lines::Frame(buf, buf + n)));
    return frames;
  }
  std::string Temp(const char* name) {
    std::string p = testing::TempDir() + "/mcc_" + std::to_string(::getpid()) + "_" + name;
    files.push_back(p);
    return p;
  }

  SimBoard::Simulator sim;
  SimBoard::Hal* hal = nullptr;
  SimBoard::Mcc* mcc = nullptr;
  Fd halFd;
  std::vector<std::string> files;
};

TEST_F(MccTest, AllocationRecordIsChecked) {
  struct Case {
    std::int32_t mode, size;
    int error;
  } cases[] = {
      {0, 512, 0},       {3, 1, 0},      {1, 65536, 0},      {4, 512, EINVAL},
      {-1, 512, EINVAL}, {0, 0, EINVAL}, {0, 65537, EINVAL}, {2, -512, EINVAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode) + " " + std::to_string(c.size));
    Fd fd = Open();
    ASSERT_TRUE(fd.is_valid());
    EXPECT_EQ(c.error, Allocate(fd, c.mode, c.size));
    const int ts = sim.ioctl_value(fd.lowlevel_fd(), Mcc::kTimeslot, 0);
    if (c.error) {
      EXPECT_EQ(-1, ts);
      EXPECT_EQ(EINVAL, errno);
    } else {
      EXPECT_EQ(300, ts);
    }
    fd.close();
    sim.collect_closed();
  }
}

TEST_F(MccTest, OneAllocationPerOpenFromTheLowestFreeTimeslot) {
  int a = 0, b = 0;
  Fd fa = Channel(a);
  Fd fb = Channel(b);
  EXPECT_EQ(300, a);
  EXPECT_EQ(301, b);
  EXPECT_EQ(EBUSY, Allocate(fa));
  EXPECT_EQ(-1, sim.ioctl_value(fa.lowlevel_fd(), Mcc::kTimeslot, 1));
  EXPECT_EQ(a, sim.ioctl_value(fa.lowlevel_fd(), Mcc::kTimeslot, 0));

  int c = 0;
  Fd fc = Channel(c);
  EXPECT_EQ(302, c);
  Fd full = Open();
  EXPECT_EQ(EBUSY, Allocate(full));

  // A duplicate keeps the channel; the last close frees it.
  Fd copy = fa;
  fa.close();
  sim.collect_closed();
  EXPECT_EQ(EBUSY, Allocate(full));
  copy.close();
  sim.collect_closed();
  EXPECT_EQ(0, Allocate(full));
  EXPECT_EQ(300, sim.ioctl_value(full.lowlevel_fd(), Mcc::kTimeslot, 0));
}

TEST_F(MccTest, FramesFollowTheCrossConnectAcrossTheCable) {
  int a = 0, b = 0;
  Fd fa = Channel(a);
  Fd fb = Channel(b);
  // a on trunk 0 timeslot 16 both ways, b on trunk 1 timeslot 16.
  Connect(a, 16);
  Connect(16, a);
  Connect(b, 48);
  Connect(48, b);
  Write(fa, std::string("\x02\x01\x7F", 3));
  Write(fb, std::string("\x02\x01\x73", 3));
  Write(fb, "\x01");
  // The frames each channel holds for its reader, not the socket's memory.
  EXPECT_EQ((std::vector<std::string>{"channel=300 mode=0 unread=2", "channel=301 mode=0 unread=1"}),
            sim.execute("mcc list").lines());
  char first[8];
  ASSERT_EQ(3, ::recv(fa.lowlevel_fd(), first, sizeof first, MSG_DONTWAIT));
  EXPECT_EQ((std::vector<std::string>{"channel=300 mode=0 unread=1", "channel=301 mode=0 unread=1"}),
            sim.execute("mcc list").lines());
  EXPECT_EQ((std::vector<std::string>{"02017F"}), Read(fb));
  EXPECT_EQ((std::vector<std::string>{"01"}), Read(fa));
  EXPECT_EQ((std::vector<std::string>{"channel=300 mode=0", "channel=301 mode=0"}), sim.execute("mcc list").lines());
  EXPECT_EQ(3u, mcc->lines().stats().sent);
  EXPECT_EQ(3u, mcc->lines().stats().delivered);
  EXPECT_EQ(0u, mcc->lines().stats().unconnected);

  // Across an uncabled trunk nothing arrives.
  Do("line uncable 1");
  Write(fa, "\x01");
  EXPECT_TRUE(Read(fb).empty());
  EXPECT_EQ(1u, mcc->lines().stats().unconnected);
  // Trunk 0 to trunk 2 now: b hears nothing until it is fed from trunk 2.
  Do("line cable 0 2");
  EXPECT_EQ(-1, mcc->lines().cabled(1));
  Write(fa, "\x02");
  EXPECT_TRUE(Read(fb).empty());
  Connect(80, b);
  Write(fa, "\x03");
  EXPECT_EQ((std::vector<std::string>{"03"}), Read(fb));
}

TEST_F(MccTest, WhatReachesNothingIsCountedUnconnected) {
  int a = 0, b = 0;
  Fd fa = Channel(a);
  Fd fb = Channel(b);
  Write(fa, "\x01");  // feeds no output
  Connect(a, 16);     // onto the line; nothing on trunk 1 takes timeslot 16
  Write(fa, "\x02");
  Connect(a, 9000);  // a bus output carries no frames
  Write(fa, "\x03");
  EXPECT_EQ(3u, mcc->lines().stats().sent);
  EXPECT_EQ(3u, mcc->lines().stats().unconnected);
  EXPECT_TRUE(Read(fb).empty());
  // Channel to channel straight through the cross-connect.
  Connect(a, b);
  Write(fa, "\x04");
  EXPECT_EQ((std::vector<std::string>{"04"}), Read(fb));
  // Before its allocation an open is no channel.
  Fd raw = Open();
  Write(raw, "\x05");
  EXPECT_EQ(4u, mcc->lines().stats().sent);
}

TEST_F(MccTest, TappedLineEndKeepsFramesAndInjectsFromTheFarEnd) {
  int a = 0, b = 0;
  Fd fa = Channel(a);
  Fd fb = Channel(b);
  Connect(a, 16);
  Connect(16, a);
  Connect(b, 48);
  Connect(48, b);
  Do("line tap 0 16");
  Write(fa, std::string("\x02\x01\x7F", 3));
  Write(fa, std::string("\xAB", 1));
  // Kept for the test, not sent across.
  EXPECT_TRUE(Read(fb).empty());
  EXPECT_EQ((std::vector<std::string>{"02017F", "AB"}), sim.execute("line read 0 16").lines());
  EXPECT_TRUE(sim.execute("line read 0 16").lines().empty());
  // What b sends towards the tapped end does not reach a.
  Write(fb, "\x01");
  EXPECT_TRUE(Read(fa).empty());
  Do("line inject 0 16 020173");
  EXPECT_EQ((std::vector<std::string>{"020173"}), Read(fa));
  Do("line tap 0 16 off");
  Write(fa, "\x07");
  EXPECT_EQ((std::vector<std::string>{"07"}), Read(fb));

  struct Bad {
    const char* command;
    const char* error;
  } bad[] = {
      {"line inject 0 16 0", "bad frame"},
      {"line inject 0 16 zz", "bad frame"},
      {"line inject 4 16 00", "bad trunk"},
      {"line inject 0 32 00", "bad timeslot"},
      {"line tap 0", "usage"},
      {"line drop 0 16 0", "bad count"},
      {"line repeat 0 16 never", "bad period"},
      {"line cable 0 9", "bad trunk"},
      {"pcap 0 16 q931 /tmp/x", "usage"},
      {"mcc eagain 299 10", "no channel"},
      {"pcap 0 16 lapd /nonexistent/dir/x.pcap", "/nonexistent/dir/x.pcap: No such file"},
  };
  for (const Bad& c : bad) {
    const SimBoard::Reply r = sim.execute(c.command);
    EXPECT_TRUE(r.failed()) << c.command;
    EXPECT_NE(std::string::npos, r.error().find(c.error)) << c.command << ": " << r.text();
  }
}

TEST_F(MccTest, SpoilersCountFramesCrossingTheLineEnd) {
  int a = 0, b = 0;
  Fd fa = Channel(a);
  Fd fb = Channel(b);
  Connect(a, 16);
  Connect(48, b);
  // Crossing 0/16 outwards; 1/16 counts the same frames inwards.
  Do("line drop 0 16 2");
  Do("line dup 1 16 3");
  Do("line corrupt 0 16 3");
  for (char c = 1; c <= 4; ++c) Write(fa, std::string(2, c));
  EXPECT_EQ((std::vector<std::string>{"0101", "03FC", "0404", "0404"}), Read(fb));
  const std::vector<std::string> stat = sim.execute("line stat").lines();
  ASSERT_FALSE(stat.empty());
  EXPECT_EQ("sent=4 delivered=4 unconnected=0 lost=0 looped=0", stat[0]);
  bool seen = false;
  for (const std::string& l : stat)
    if (l.find("line 0 16 ") == 0) {
      seen = true;
      EXPECT_EQ("line 0 16 out=3 in=0 dropped=1 duplicated=0 corrupted=1", l);
    }
  EXPECT_TRUE(seen) << sim.execute("line stat").text();
}

TEST_F(MccTest, RepeatDeliversTheLastFrameWhileNothingNewComes) {
  looptest::CachedClock clock;
  int b = 0;
  Fd fb = Channel(b);
  Connect(48, b);
  Do("line repeat 1 16 10");
  // Nothing arrived yet: nothing to repeat.
  clock.advance(30);
  simtest::run_until([] { return false; }, 30);
  EXPECT_TRUE(Read(fb).empty());
  Do("line inject 1 16 FFFF00");
  EXPECT_EQ((std::vector<std::string>{"FFFF00"}), Read(fb));
  clock.advance(9);
  simtest::run_until([] { return false; }, 20);
  EXPECT_TRUE(Read(fb).empty());
  clock.advance(1);
  ASSERT_TRUE(simtest::run_until([&] { return mcc->lines().stats().delivered == 2; }));
  // A new frame restarts the period.
  clock.advance(5);
  Do("line inject 1 16 FFFF01");
  clock.advance(5);
  simtest::run_until([] { return false; }, 20);
  EXPECT_EQ((std::vector<std::string>{"FFFF00", "FFFF01"}), Read(fb));
  clock.advance(5);
  ASSERT_TRUE(simtest::run_until([&] { return mcc->lines().stats().delivered == 4; }));
  EXPECT_EQ((std::vector<std::string>{"FFFF01"}), Read(fb));
  Do("line repeat 1 16 off");
  clock.advance(100);
  simtest::run_until([] { return false; }, 20);
  EXPECT_TRUE(Read(fb).empty());
}

TEST_F(MccTest, PcapRecordsEveryFrameCrossingTheLineEnd) {
  looptest::CachedClock clock(1700000000, 250000);
  int a = 0, b = 0;
  Fd fa = Channel(a);
  Fd fb = Channel(b);
  Connect(a, 16);
  Connect(48, b);
  Connect(16, a);
  const std::string path = Temp("lapd.pcap");
  Do("pcap 0 16 lapd " + path);
  Write(fa, std::string("\x02\x01\x7F", 3));
  clock.advance(1500);
  Do("line inject 0 16 0201");
  Do("pcap 0 16 lapd off");
  Write(fa, "\x09");

  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string expected = std::string("\xD4\xC3\xB2\xA1\x02\x00\x04\x00", 8) + std::string(8, '\0') +
                               std::string("\x00\x00\x01\x00\xCB\x00\x00\x00", 8) +
                               // 1700000000.250000, 3 of 3 octets
                               std::string("\x00\xF1\x53\x65\x90\xD0\x03\x00\x03\x00\x00\x00\x03\x00\x00\x00", 16) +
                               std::string("\x02\x01\x7F", 3) +
                               // 1700000001.750000, 2 of 2
                               std::string("\x01\xF1\x53\x65\xB0\x71\x0B\x00\x02\x00\x00\x00\x02\x00\x00\x00", 16) +
                               std::string("\x02\x01", 2);
  EXPECT_EQ(expected, bytes);

  const std::string mtp2 = Temp("mtp2.pcap");
  Do("pcap 1 16 mtp2 " + mtp2);
  Write(fa, std::string("\xFF\xFF\x01\x00", 4));
  Do("pcap 1 16 off");
  std::ifstream in2(mtp2, std::ios::binary);
  const std::string m((std::istreambuf_iterator<char>(in2)), std::istreambuf_iterator<char>());
  ASSERT_EQ(24u + 16u + 4u, m.size());
  EXPECT_EQ(std::string("\x8C\x00\x00\x00", 4), m.substr(20, 4));
  EXPECT_EQ(std::string("\xFF\xFF\x01\x00", 4), m.substr(40));
}

TEST_F(MccTest, CrossConnectLoopIsStopped) {
  // Trunk 0's timeslot 16 comes back out on trunk 1 and the cable closes the
  // circle.
  Connect(16, 48);
  Connect(48, 16);
  Do("line inject 0 16 01");
  EXPECT_EQ(1u, mcc->lines().stats().looped);
}

TEST_F(MccTest, StalledChannelRefusesWritesThenDrains) {
  looptest::CachedClock clock;
  int a = 0, b = 0;
  Fd fa = Channel(a);
  Fd fb = Channel(b);
  Connect(a, b);
  Do("mcc eagain " + std::to_string(a) + " 50");
  EXPECT_EQ((std::vector<std::string>{"channel=300 mode=0 stalled", "channel=301 mode=0"}),
            sim.execute("mcc list").lines());
  unsigned written = 0;
  while (written < 100000 && ::write(fa.lowlevel_fd(), "\x01\x02", 2) == 2) ++written;
  EXPECT_EQ(EAGAIN, errno);
  EXPECT_LT(written, 100000u);
  mcc->drain();
  EXPECT_EQ(0u, mcc->lines().stats().sent);
  clock.advance(50);
  ASSERT_TRUE(simtest::run_until([&] { return mcc->lines().stats().sent == written; }));
  EXPECT_EQ(written, mcc->lines().stats().delivered + mcc->lines().stats().lost);
  EXPECT_EQ(2, ::write(fa.lowlevel_fd(), "\x01\x02", 2));
}

// The line tick: the clock moves ms, one tick at a time, and whatever is due
// happens.
void Ticks(looptest::CachedClock& clock, unsigned ms) {
  for (unsigned t = 0; t < ms; t += SimBoard::Mcc::kTickMs) {
    clock.advance(SimBoard::Mcc::kTickMs);
    multiplexer.timers_schedule();
  }
}

TEST_F(MccTest, Ss7ChannelRepeatsItsLastFisuOrLssuOncePerTick) {
  looptest::CachedClock clock;
  Fd fa = Open();
  ASSERT_EQ(0, Allocate(fa, Mcc::kTypeSs7));
  const int a = sim.ioctl_value(fa.lowlevel_fd(), Mcc::kTimeslot, 0);
  int b = 0;
  Fd fb = Channel(b);
  Connect(a, 16);
  Connect(48, b);
  // Nothing written yet: nothing to repeat.
  Ticks(clock, 50);
  EXPECT_TRUE(Read(fb).empty());

  // Not in the tick it was written in: the line was busy then.
  Write(fa, std::string("\xFF\xFF\x00", 3));
  EXPECT_EQ((std::vector<std::string>{"FFFF00"}), Read(fb));
  Ticks(clock, 40);
  EXPECT_EQ((std::vector<std::string>{"FFFF00", "FFFF00", "FFFF00"}), Read(fb));
  // An MSU is not repeated; the line is busy for the tick it was written in.
  Write(fa, std::string("\x7F\x80\x03\x83\x01\x02", 6));
  Ticks(clock, 30);
  EXPECT_EQ((std::vector<std::string>{"7F8003830102", "FFFF00", "FFFF00"}), Read(fb));
  Write(fa, std::string("\xFF\xFF\x01\x03", 4));
  Ticks(clock, 20);
  EXPECT_EQ((std::vector<std::string>{"FFFF0103", "FFFF0103"}), Read(fb));
  // Written but not yet read by the board at the tick: it goes first.
  ASSERT_EQ(3, ::write(fa.lowlevel_fd(), "\x7F\x80\x00", 3));
  Ticks(clock, 10);
  EXPECT_EQ((std::vector<std::string>{"7F8000"}), Read(fb));
  Ticks(clock, 10);
  EXPECT_EQ((std::vector<std::string>{"7F8000"}), Read(fb));
  // Repeats are not written frames: neither the spoilers nor the board's
  // counters count them.
  Do("line drop 0 16 1");
  Ticks(clock, 20);
  EXPECT_EQ(2u, Read(fb).size());
  Write(fa, std::string("\x7F\x81\x00", 3));
  EXPECT_TRUE(Read(fb).empty());
  EXPECT_EQ(5u, mcc->lines().stats().sent);
  EXPECT_EQ(4u, mcc->lines().stats().delivered);
  // A line end that repeats by itself takes over.
  Do("line repeat 1 16 25");
  Ticks(clock, 60);
  EXPECT_EQ((std::vector<std::string>{"7F8000", "7F8000"}), Read(fb));
  Do("line repeat 1 16 off");
  // The last unit written is repeated, even one the line lost.
  Ticks(clock, 30);
  EXPECT_EQ((std::vector<std::string>{"7F8100", "7F8100", "7F8100"}), Read(fb));
  // Closed, the channel repeats no more and the tick stops.
  const std::size_t timers = multiplexer.timer_count();
  fa.close();
  sim.collect_closed();
  Ticks(clock, 30);
  EXPECT_TRUE(Read(fb).empty());
  EXPECT_EQ(timers - 1, multiplexer.timer_count());
  // A data channel repeats nothing.
  Fd fc = Open();
  ASSERT_EQ(0, Allocate(fc, Mcc::kTypeData));
  const int c = sim.ioctl_value(fc.lowlevel_fd(), Mcc::kTimeslot, 0);
  Connect(c, 16);
  Write(fc, std::string("\xFF\xFF\x00", 3));
  Ticks(clock, 30);
  EXPECT_EQ((std::vector<std::string>{"FFFF00"}), Read(fb));
}

TEST_F(MccTest, TransparentChannelDrainsAtTheLineRate) {
  looptest::CachedClock clock;
  Fd fa = Open();
  ASSERT_EQ(0, Allocate(fa, Mcc::kTypeTransparent));
  const int a = sim.ioctl_value(fa.lowlevel_fd(), Mcc::kTimeslot, 0);
  Connect(a, 16);
  Do("line tap 0 16");
  auto tapped = [&] {
    std::size_t n = 0;
    for (const Lines::Frame& f : mcc->lines().take(0, 16)) n += f.size();
    return n;
  };
  const std::string second(8000, 'v');
  ASSERT_EQ(4000, ::write(fa.lowlevel_fd(), second.data(), 4000));
  mcc->drain();
  EXPECT_EQ(0u, tapped());
  // 8 octets a millisecond, whatever the loop does meanwhile.
  Ticks(clock, 10);
  EXPECT_EQ(80u, tapped());
  Ticks(clock, 90);
  EXPECT_EQ(720u, tapped());
  // A late tick catches up.
  clock.advance(250);
  multiplexer.timers_schedule();
  EXPECT_EQ(2000u, tapped());
  Ticks(clock, 1000);
  EXPECT_EQ(1200u, tapped());

  // The channel holds about a second of line time: then the writes wait.
  std::size_t written = 0;
  ssize_t n;
  while (written < 100000 && (n = ::write(fa.lowlevel_fd(), second.data(), 500)) > 0) written += std::size_t(n);
  EXPECT_EQ(EAGAIN, errno);
  EXPECT_GE(written, 2000u);
  EXPECT_LE(written, 16000u);
  Ticks(clock, 2000);
  EXPECT_EQ(written, tapped());
  EXPECT_EQ(500, ::write(fa.lowlevel_fd(), second.data(), 500));
  // Stalled, it takes nothing; the rest goes once it resumes.
  Do("mcc stall " + std::to_string(a));
  EXPECT_EQ((std::vector<std::string>{"channel=" + std::to_string(a) + " mode=2 stalled"}),
            sim.execute("mcc list").lines());
  Ticks(clock, 100);
  EXPECT_EQ(0u, tapped());
  Do("mcc stall " + std::to_string(a) + " off");
  Ticks(clock, 100);
  EXPECT_EQ(500u, tapped());
  // Its output taken away, it plays out what it holds first.
  ASSERT_EQ(300, ::write(fa.lowlevel_fd(), second.data(), 300));
  ASSERT_TRUE(hal->put(16, 213));
  EXPECT_EQ(300u, tapped());

  // What the line brings counts as unread until the run is read to its end.
  Connect(16, a);
  Do("line inject 0 16 010203");
  char run[3];
  ASSERT_EQ(1, ::recv(fa.lowlevel_fd(), run, 1, MSG_DONTWAIT));
  const std::string channel = "channel=" + std::to_string(a) + " mode=2";
  EXPECT_EQ((std::vector<std::string>{channel + " unread=1"}), sim.execute("mcc list").lines());
  ASSERT_EQ(2, ::recv(fa.lowlevel_fd(), run, sizeof run, MSG_DONTWAIT));
  EXPECT_EQ((std::vector<std::string>{channel}), sim.execute("mcc list").lines());
}

TEST_F(MccTest, ResetRestoresTheDefaultLines) {
  Do("line uncable 0");
  Do("line cable 1 3");
  Do("line tap 0 16");
  Do("line repeat 0 16 5");
  sim.reset();
  EXPECT_EQ(1, mcc->lines().cabled(0));
  EXPECT_EQ(3, mcc->lines().cabled(2));
  const std::vector<std::string> stat = sim.execute("line stat").lines();
  EXPECT_EQ((std::vector<std::string>{"sent=0 delivered=0 unconnected=0 lost=0 looped=0", "trunk 0 cable=1",
                                      "trunk 1 cable=0", "trunk 2 cable=3", "trunk 3 cable=2"}),
            stat);
}

TEST(HexText, ParsesAndPrintsOctets) {
  struct Case {
    const char* text;
    bool ok;
    const char* back;
  } cases[] = {
      {"02017F", true, "02017F"}, {"ab", true, "AB"}, {"", false, ""},
      {"0", false, ""},           {"0g", false, ""},  {"00FF10", true, "00FF10"},
  };
  for (const Case& c : cases) {
    Lines::Frame f;
    EXPECT_EQ(c.ok, SimBoard::ParseHex(c.text, f)) << c.text;
    EXPECT_EQ(c.back, SimBoard::HexText(f)) << c.text;
  }
}

TEST(DefaultBoard, HasTheControllerAndCabledTrunks) {
  SimBoard::Simulator sim;
  SimBoard::BuildDefaultBoard(sim);
  SimBoard::Mcc* mcc = sim.device<SimBoard::Mcc>(Mcc::kDevice);
  ASSERT_NE(nullptr, mcc);
  EXPECT_EQ(64u, mcc->pool().size());
  for (int t : mcc->pool()) {
    EXPECT_FALSE(t >= 0 && t < 128) << t;
    EXPECT_FALSE(t >= Board::Hal::kFirstBusOutput && t < Board::Hal::kFirstBusOutput + Board::Hal::kBusOutputs) << t;
  }
  EXPECT_EQ(1, mcc->lines().cabled(0));
  EXPECT_EQ(0, mcc->lines().cabled(1));
  EXPECT_EQ(3, mcc->lines().cabled(2));
  EXPECT_EQ(2, mcc->lines().cabled(3));
}

}  // namespace

TEST(HalFedBy, ListsEveryOutputTheSourceFeedsDenseAndSparse) {
  SimBoard::Simulator sim;
  sim.add(std::unique_ptr<SimBoard::Driver>(new SimBoard::Hal));
  Fd fd = sim.open(Board::Hal::kDevice, O_RDWR);
  for (int output : {20000, 16, 9000, 17}) {
    Board::Hal::XcConnect rec = {output, output == 17 ? 301 : 300};
    ASSERT_EQ(0, sim.ioctl(fd.lowlevel_fd(), Board::Hal::kXcConnect, &rec));
  }
  std::vector<int> outputs = {1, 2, 3};
  sim.device<SimBoard::Hal>(Board::Hal::kDevice)->fed_by(300, outputs);
  EXPECT_EQ((std::vector<int>{16, 9000, 20000}), outputs);
  sim.device<SimBoard::Hal>(Board::Hal::kDevice)->fed_by(302, outputs);
  EXPECT_TRUE(outputs.empty());
}
