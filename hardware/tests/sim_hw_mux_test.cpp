// The cross-connect on the simulated board, in-process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include <cstdint>
#include <memory>
#include <string>

#include "board/hal.h"
#include "foundation/tests/loop_test_util.h"
#include "hardware/hw_mux.h"
#include "simboard/hal.h"
#include "simboard/simulator.h"

namespace {

using looptest::Capture;
using State = HwMux::State;

class HwMuxTest : public ::testing::Test {
protected:
  HwMuxTest() : sim(SimBoard::Simulator::instance()), hal(sim.device<SimBoard::Hal>(Board::Hal::kDevice)) {
    sim.reset();
  }
  ~HwMuxTest() override {
    mux.reset();
    sim.collect_closed();
    sim.reset();
  }

  void Fail(const std::string& command) {
    const SimBoard::Reply r = sim.execute(command);
    ASSERT_FALSE(r.failed()) << command << ": " << r.text();
  }

  // Builds the test's cross-connect; returns what it logged.
  std::string Make() {
    Capture log(std::clog);
    mux.reset(new HwMux);
    return log.text();
  }

  std::uint32_t Disables(int output) const { return hal->output(output)->disables; }
  // Disable requests on all 2048 bus outputs together.
  std::uint64_t AllDisables() const {
    std::uint64_t n = 0;
    for (int o = HwMux::kFirstOutput; o < HwMux::kFirstOutput + HwMux::kOutputs; ++o) n += Disables(o);
    return n;
  }
  // One full turn of the refresh: every entry visited once.
  void RefreshCycle() {
    for (int i = 0; i < HwMux::kOutputs / HwMux::kRefreshPerRun; ++i) mux->OnDPC();
  }

  SimBoard::Simulator& sim;
  SimBoard::Hal* hal;
  std::unique_ptr<HwMux> mux;
};

TEST_F(HwMuxTest, OpeningDisablesEveryBusOutputOnce) {
  ASSERT_NE(nullptr, hal);
  EXPECT_EQ("hwMux: init\nhwMux: device opened\n", Make());
  EXPECT_TRUE(mux->IsRefreshing());
  EXPECT_EQ(0, mux->RefreshCursor());
  for (int o = HwMux::kFirstOutput; o < HwMux::kFirstOutput + HwMux::kOutputs; ++o) {
    ASSERT_EQ(1u, Disables(o)) << o;
    ASSERT_EQ(State::Disabled, mux->Find(o)->state) << o;
  }
  EXPECT_EQ(0u, Disables(HwMux::kFirstOutput - 1));
  EXPECT_EQ(0u, Disables(HwMux::kFirstOutput + HwMux::kOutputs));
  // Opened once: later operations do not sweep again.
  EXPECT_TRUE(mux->IsOpened());
  EXPECT_EQ(2048u, AllDisables());
}

TEST_F(HwMuxTest, OutputsOutsideTheBusesHaveNoEntry) {
  Make();
  struct Case {
    int source, output;
    bool inTable;
  } cases[] = {
      {5, 8191, false}, {5, 8192, true}, {6, 10239, true}, {7, 10240, false}, {8, 10300, false}, {9, 0, false},
  };
  for (const Case& c : cases) {
    Capture log(std::clog);
    EXPECT_TRUE(mux->Connect(c.source, c.output)) << c.output;
    EXPECT_EQ("", log.text());
    // The driver got the request either way.
    EXPECT_EQ(SimBoard::Hal::State::Fed, hal->output(c.output)->state) << c.output;
    EXPECT_EQ(c.source, hal->output(c.output)->source) << c.output;
    const HwMux::Output* entry = mux->Find(c.output);
    ASSERT_EQ(c.inTable, entry != nullptr) << c.output;
    if (entry) {
      EXPECT_EQ(State::Connected, entry->state);
      EXPECT_EQ(c.source, entry->source);
    }
  }
  // Nothing else in the table moved.
  int connected = 0;
  for (int o = HwMux::kFirstOutput; o < HwMux::kFirstOutput + HwMux::kOutputs; ++o)
    if (mux->Find(o)->state != State::Disabled) ++connected;
  EXPECT_EQ(2, connected);
}

TEST_F(HwMuxTest, OperationsOnOutputsBeyondTheTableOnlyReachTheDriver) {
  Make();
  EXPECT_TRUE(mux->Disconnect(10300));
  EXPECT_EQ(SimBoard::Hal::State::Constant, hal->output(10300)->state);
  EXPECT_EQ(Board::Hal::kIdleByte, hal->output(10300)->byte);
  EXPECT_TRUE(mux->Write(10301, 0x5A));
  EXPECT_EQ(0x5A, mux->Read(10301));
  EXPECT_TRUE(mux->Disable(10301));
  EXPECT_EQ(1u, Disables(10301));
  EXPECT_EQ(nullptr, mux->Find(10300));
  EXPECT_EQ(nullptr, mux->Find(-1));
  EXPECT_EQ(nullptr, mux->Find(0x7FFFFFFF));
}

TEST_F(HwMuxTest, NegativeNumbersAreRefusedWithoutARequest) {
  Make();
  {
    Capture log(std::clog);
    EXPECT_FALSE(mux->Connect(-1, 9000));
    EXPECT_FALSE(mux->Connect(3, -9000));
    EXPECT_EQ("hwMux: ERROR not opened\nhwMux: ERROR not opened\n", log.text());
  }
  EXPECT_EQ(SimBoard::Hal::State::Disabled, hal->output(9000)->state);
  EXPECT_EQ(State::Disabled, mux->Find(9000)->state);
  Capture log(std::clog);
  EXPECT_FALSE(mux->Disconnect(-1));
  EXPECT_FALSE(mux->Disable(-1));
  EXPECT_FALSE(mux->Write(-1, 7));
  EXPECT_EQ(255, mux->Read(-1));
  EXPECT_EQ("", log.text());
  EXPECT_EQ(2048u, AllDisables());
}

TEST_F(HwMuxTest, EachOperationLeavesItsStateInTheTableAndOnTheBoard) {
  Make();
  EXPECT_TRUE(mux->Connect(8325, 9000));
  EXPECT_EQ(State::Connected, mux->Find(9000)->state);
  EXPECT_TRUE(mux->Write(8325, 0x3C));
  EXPECT_EQ(State::Constant, mux->Find(8325)->state);
  // 9000 carries what 8325 carries.
  EXPECT_EQ(0x3C, mux->Read(9000));
  EXPECT_TRUE(mux->Disconnect(9000));
  EXPECT_EQ(State::Constant, mux->Find(9000)->state);
  EXPECT_EQ(213, mux->Read(9000));
  EXPECT_TRUE(mux->Write(9000, 0x00));
  EXPECT_EQ(0, mux->Read(9000));
  EXPECT_TRUE(mux->Disable(9000));
  EXPECT_EQ(State::Disabled, mux->Find(9000)->state);
  EXPECT_EQ(255, mux->Read(9000));
  EXPECT_EQ(2u, Disables(9000));
}

TEST_F(HwMuxTest, RefreshRunsTouchAtMost128OutputsFromTheCursorOn) {
  Make();
  const std::uint64_t before = AllDisables();
  mux->OnDPC();
  // Entries 1 to 128; entry 0 waits for the wrap.
  EXPECT_EQ(before + 128, AllDisables());
  EXPECT_EQ(128, mux->RefreshCursor());
  EXPECT_EQ(1u, Disables(8192));
  EXPECT_EQ(2u, Disables(8193));
  EXPECT_EQ(2u, Disables(8320));
  EXPECT_EQ(1u, Disables(8321));
  for (int i = 1; i < 16; ++i) mux->OnDPC();
  EXPECT_EQ(0, mux->RefreshCursor());
  for (int o = HwMux::kFirstOutput; o < HwMux::kFirstOutput + HwMux::kOutputs; ++o) ASSERT_EQ(2u, Disables(o)) << o;
}

TEST_F(HwMuxTest, ALoopPassRefreshesTwiceSoEveryOutputOnceInEightPasses) {
  Make();
  const std::uint64_t before = AllDisables();
  // Two runs of the active Dpcs make one pass of the loop.
  multiplexer.execute_dpc();
  multiplexer.execute_dpc();
  EXPECT_EQ(before + 256, AllDisables());
  for (int pass = 1; pass < 8; ++pass) {
    multiplexer.execute_dpc();
    multiplexer.execute_dpc();
  }
  for (int o = HwMux::kFirstOutput; o < HwMux::kFirstOutput + HwMux::kOutputs; ++o) ASSERT_EQ(2u, Disables(o)) << o;
}

TEST_F(HwMuxTest, RefreshRepeatsOnlyDisabledOutputs) {
  Make();
  const struct {
    const char* what;
    bool (*op)(HwMux&);
    bool refreshed;
  } cases[] = {
      {"disconnect", [](HwMux& m) { return m.Disconnect(9000); }, false},
      {"disable", [](HwMux& m) { return m.Disable(9000); }, true},
      {"connect", [](HwMux& m) { return m.Connect(8200, 9000); }, false},
      {"disable again", [](HwMux& m) { return m.Disable(9000); }, true},
      {"write", [](HwMux& m) { return m.Write(9000, 1); }, false},
      // A source whose low 16 bits look like a marker is still a connection.
      {"connect 65535", [](HwMux& m) { return m.Connect(65535, 9000); }, false},
      {"connect 0x1FFFE", [](HwMux& m) { return m.Connect(0x1FFFE, 9000); }, false},
      {"connect 65534", [](HwMux& m) { return m.Connect(65534, 9000); }, false},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(c.op(*mux)) << c.what;
    const std::uint32_t before = Disables(9000);
    RefreshCycle();
    EXPECT_EQ(before + (c.refreshed ? 1 : 0), Disables(9000)) << c.what;
  }
  EXPECT_EQ(State::Connected, mux->Find(9000)->state);
  EXPECT_EQ(65534, mux->Find(9000)->source);
}

TEST_F(HwMuxTest, ASourceOf65535IsALiveConnection) {
  Make();
  ASSERT_TRUE(mux->Connect(65535, 9000));
  ASSERT_TRUE(mux->Write(65535 & 0x3FFF, 0x42));
  for (int i = 0; i < 5; ++i) RefreshCycle();
  EXPECT_EQ(SimBoard::Hal::State::Fed, hal->output(9000)->state);
  EXPECT_EQ(1u, Disables(9000));
  EXPECT_EQ(State::Connected, mux->Find(9000)->state);
  EXPECT_EQ(65535, mux->Find(9000)->source);
}

TEST_F(HwMuxTest, AFailedConnectLogsAndStillRecordsTheSource) {
  Make();
  Fail("fail ioctl /dev/hal 0x80084D02 EIO 1");
  Capture log(std::clog);
  EXPECT_FALSE(mux->Connect(8330, 9000));
  EXPECT_EQ("hwMux: connect 8330 -> 9000 failed: Input/output error\n", log.text());
  EXPECT_EQ(State::Connected, mux->Find(9000)->state);
  EXPECT_EQ(8330, mux->Find(9000)->source);
  // The board kept it disabled; the refresh leaves it alone all the same.
  EXPECT_EQ(SimBoard::Hal::State::Disabled, hal->output(9000)->state);
  const std::uint32_t before = Disables(9000);
  RefreshCycle();
  EXPECT_EQ(before, Disables(9000));
}

TEST_F(HwMuxTest, FailedRequestsAreLoggedAndReported) {
  Make();
  struct Case {
    const char* fault;
    std::string line;
    bool (*op)(HwMux&);
    State state;
  } cases[] = {
      {"fail ioctl /dev/hal 0xC0084D04 EIO 1", "hwMux: disconnect failed 9001 : Input/output error\n",
       [](HwMux& m) { return m.Disconnect(9001); }, State::Constant},
      {"fail ioctl /dev/hal 0x80044D03 EBUSY 1", "hwMux: disable failed 9002 : Device or resource busy\n",
       [](HwMux& m) { return m.Disable(9002); }, State::Disabled},
      {"fail ioctl /dev/hal 0xC0084D04 EINVAL 1", "hwMux: write failed 9003 <- 0xAB : Invalid argument\n",
       [](HwMux& m) { return m.Write(9003, 0xAB); }, State::Constant},
      {"fail ioctl /dev/hal 0xC0084D04 EIO 1", "hwMux: write failed 9004 <- 0x0 : Input/output error\n",
       [](HwMux& m) { return m.Write(9004, 0); }, State::Constant},
  };
  for (const Case& c : cases) {
    Fail(c.fault);
    Capture log(std::clog);
    EXPECT_FALSE(c.op(*mux)) << c.line;
    EXPECT_EQ(c.line, log.text());
  }
  EXPECT_EQ(State::Constant, mux->Find(9001)->state);
  EXPECT_EQ(State::Disabled, mux->Find(9002)->state);
  EXPECT_EQ(State::Constant, mux->Find(9003)->state);

  Fail("fail ioctl /dev/hal 0xC0084D05 EIO 1");
  Capture log(std::clog);
  EXPECT_EQ(255, mux->Read(9005));
  EXPECT_EQ("hwMux: read failed 9005 -> 0xFF : Input/output error\n", log.text());
}

TEST_F(HwMuxTest, ReadAnswersTheByteTheOutputCarries) {
  Make();
  const struct { int byte; } cases[] = {{0x00}, {0x01}, {0x7F}, {0x80}, {0xD5}, {0xFF}};
  for (const auto& c : cases) {
    ASSERT_TRUE(hal->put(9100, static_cast<unsigned char>(c.byte)));
    EXPECT_EQ(c.byte, mux->Read(9100));
  }
  // A disabled output reads 255.
  EXPECT_EQ(255, mux->Read(9101));
}

TEST_F(HwMuxTest, AFailedOpenIsTriedAgainAndThenSweeps) {
  Fail("fail open /dev/hal ENOENT 1");
  EXPECT_EQ("hwMux: init\nhwMux: can't open device: No such file or directory\n", Make());
  EXPECT_FALSE(mux->IsRefreshing());
  EXPECT_EQ(0u, AllDisables());
  // The refresh has nothing to do while the device is closed.
  mux->OnDPC();
  EXPECT_EQ(0u, AllDisables());

  Capture log(std::clog);
  EXPECT_TRUE(mux->Write(9000, 0x11));
  EXPECT_EQ("hwMux: device opened\n", log.text());
  EXPECT_TRUE(mux->IsRefreshing());
  for (int o = HwMux::kFirstOutput; o < HwMux::kFirstOutput + HwMux::kOutputs; ++o) ASSERT_EQ(1u, Disables(o)) << o;
  EXPECT_EQ(SimBoard::Hal::State::Constant, hal->output(9000)->state);
  EXPECT_EQ(State::Constant, mux->Find(9000)->state);
}

TEST_F(HwMuxTest, WhileTheDeviceCannotBeOpenedOnlyConnectComplains) {
  Fail("fail open /dev/hal ENOENT 1");
  Make();
  const char* const cantOpen = "hwMux: can't open device: No such file or directory\n";
  {
    Fail("fail open /dev/hal ENOENT 1");
    Capture log(std::clog);
    EXPECT_EQ(255, mux->Read(9000));
    EXPECT_EQ(cantOpen, log.text());
  }
  {
    Fail("fail open /dev/hal EACCES 1");
    Capture log(std::clog);
    EXPECT_FALSE(mux->Connect(1, 9000));
    EXPECT_EQ(std::string("hwMux: can't open device: Permission denied\n") + "hwMux: ERROR not opened\n", log.text());
  }
  const struct {
    const char* what;
    bool (*op)(HwMux&);
  } cases[] = {
      {"disconnect", [](HwMux& m) { return m.Disconnect(9000); }},
      {"disable", [](HwMux& m) { return m.Disable(9000); }},
      {"write", [](HwMux& m) { return m.Write(9000, 3); }},
  };
  for (const auto& c : cases) {
    Fail("fail open /dev/hal ENOENT 1");
    Capture log(std::clog);
    EXPECT_FALSE(c.op(*mux)) << c.what;
    EXPECT_EQ(cantOpen, log.text()) << c.what;
  }
  EXPECT_EQ(0u, AllDisables());
}

TEST_F(HwMuxTest, AHungUpDeviceIsOpenedAgainByTheNextRequestAndGetsTheTableBack) {
  Make();
  ASSERT_TRUE(mux->Connect(8325, 9000));
  ASSERT_TRUE(mux->Write(9001, 0x3C));
  ASSERT_TRUE(mux->Disconnect(9002));
  Fail("hangup /dev/hal");
  // A driver that comes back empty.
  hal->clear();
  {
    Capture log(std::clog);
    EXPECT_TRUE(mux->Connect(5, 9003));
    EXPECT_EQ("hwMux: device lost: Input/output error\nhwMux: device opened\n", log.text());
  }
  EXPECT_TRUE(mux->IsRefreshing());
  EXPECT_EQ(SimBoard::Hal::State::Fed, hal->output(9003)->state);
  EXPECT_EQ(5, hal->output(9003)->source);
  EXPECT_EQ(SimBoard::Hal::State::Fed, hal->output(9000)->state);
  EXPECT_EQ(8325, hal->output(9000)->source);
  EXPECT_EQ(0x3C, mux->Read(9001));
  EXPECT_EQ(213, mux->Read(9002));
  for (int o = HwMux::kFirstOutput; o < HwMux::kFirstOutput + HwMux::kOutputs; ++o) {
    if (o < 9000 || o > 9003) {
      ASSERT_EQ(1u, Disables(o)) << o;
    }
  }
  // Open again: the next requests go straight through.
  Capture log(std::clog);
  EXPECT_TRUE(mux->Disable(9000));
  EXPECT_EQ("", log.text());
}

TEST_F(HwMuxTest, DestructionClosesTheDevice) {
  // Other services of the process may hold the device as well.
  const std::size_t others = hal->sessions().size();
  Make();
  ASSERT_EQ(others + 1, hal->sessions().size());
  mux.reset();
  sim.collect_closed();
  EXPECT_EQ(others, hal->sessions().size());
}

}  // namespace

namespace {

TEST(PrintTrace, PrintsTheFrameCountThenOneLinePerFrame) {
  std::fflush(stdout);
  char path[] = "/tmp/hwmux-trace-XXXXXX";
  const int file = ::mkstemp(path);
  ASSERT_GE(file, 0);
  const int saved = ::dup(1);
  ::dup2(file, 1);
  print_trace();
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  std::string text;
  char buf[4096];
  ::lseek(file, 0, SEEK_SET);
  for (ssize_t n; (n = ::read(file, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  ::close(file);
  ::unlink(path);

  unsigned frames = 0;
  ASSERT_EQ(1, std::sscanf(text.c_str(), "Obtained %u stack frames.\n", &frames)) << text;
  EXPECT_GE(frames, 1u);
  EXPECT_LE(frames, 10u);
  unsigned lines = 0;
  for (char c : text) lines += c == '\n';
  EXPECT_EQ(frames + 1, lines) << text;
}

}  // namespace
