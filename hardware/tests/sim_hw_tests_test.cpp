// The bus tests behind a command server, on the simulated board.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "board/hal.h"
#include "control/testing/bus_test_util.h"
#include "control/tests/server_fixture.h"
#include "hardware/hw_mux.h"
#include "hardware/hw_tests.h"
#include "simboard/hal.h"
#include "simboard/simulator.h"

namespace {

using namespace bustest;
using CtrlTest::Controller;
using linktest::run_until;

class HwTestsTest : public srvtest::ServerFixture {
protected:
  void SetUp() override {
    sim.reset();
    {
      looptest::Capture quiet(std::clog);
      mux.reset(new HwMux);
    }
    tests.reset(new HwTests(*mux));
    ServerFixture::SetUp();
    server.Bind(tests.get());
  }
  void TearDown() override {
    ServerFixture::TearDown();
    tests.reset();
    mux.reset();
    sim.collect_closed();
    sim.reset();
  }

  // The answer's error cause, -1 for success.
  int Run(const LGCP::Message& m) {
    const LGCP::Message answer = Call(m);
    EXPECT_EQ(Controller::SeqOf(m), Controller::SeqOf(answer));
    return Controller::IsSuccess(answer) ? -1 : Controller::ErrorOf(answer);
  }

  const SimBoard::Hal::Output& Out(int n) const { return *hal->output(n); }

  SimBoard::Simulator& sim = SimBoard::Simulator::instance();
  SimBoard::Hal* hal = sim.device<SimBoard::Hal>(Board::Hal::kDevice);
  std::unique_ptr<HwMux> mux;
  std::unique_ptr<HwTests> tests;
};

const int kSuccess = -1;

TEST_F(HwTestsTest, WriteLeavesTheLibraryPatternOnTheRunAndReadFindsIt) {
  const int seeds[] = {0, 1, 12345, -1, -2147483647 - 1, 2147483647};
  for (int seed : seeds) {
    EXPECT_EQ(kSuccess, Run(TestBpc(1, 5, 3, seed, Write))) << seed;
    const std::vector<unsigned char> expected = LibraryPattern(seed, 3);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(SimBoard::Hal::State::Constant, Out(8325 + i).state) << seed;
      EXPECT_EQ(expected[i], Out(8325 + i).byte) << seed << " output " << 8325 + i;
    }
    EXPECT_EQ(SimBoard::Hal::State::Disabled, Out(8324).state);
    EXPECT_EQ(SimBoard::Hal::State::Disabled, Out(8328).state);
    EXPECT_EQ(kSuccess, Run(TestBpc(1, 5, 3, seed, Read))) << seed;
  }
}

TEST_F(HwTestsTest, ReadFindsWhatAnotherBoardPutThere) {
  const std::vector<unsigned char> pattern = LibraryPattern(4711, 128);
  for (int t = 0; t < 128; ++t) hal->put(8192 + 128 * 15 + t, pattern[t]);
  EXPECT_EQ(kSuccess, Run(TestBpc(15, 0, 127, 4711, Read)));
  EXPECT_EQ(kSuccess, Run(TestBpc(15, 0, 127, 4711, Read)));
  // Another seed does not match (first byte differs for this pair).
  ASSERT_NE(LibraryPattern(4712, 1)[0], pattern[0]);
  looptest::Capture err(std::cerr);
  EXPECT_EQ(LGCP::ErrorCause::busError, Run(TestBpc(15, 0, 127, 4712, Read)));
  EXPECT_EQ("bus 15: test failed on channel 0 expected " + Hex(LibraryPattern(4712, 1)[0]) + " read " +
                Hex(pattern[0]) + "\n",
            err.text());
}

TEST_F(HwTestsTest, AReadMismatchLogsItsTimeslotAndStops) {
  const std::vector<unsigned char> pattern = LibraryPattern(99, 3);
  const unsigned char wrong = static_cast<unsigned char>(pattern[0] ^ 0x10);
  hal->put(8325, wrong);
  looptest::Capture err(std::cerr);
  EXPECT_EQ(LGCP::ErrorCause::busError, Run(TestBpc(1, 5, 3, 99, Read)));
  EXPECT_EQ("bus 1: test failed on channel 5 expected " + Hex(pattern[0]) + " read " + Hex(wrong) + "\n", err.text());
}

TEST_F(HwTestsTest, AStuckBitFailsTheWriteTest) {
  const std::vector<unsigned char> pattern = LibraryPattern(12345, 3);
  // Force a bit of 8326 against the pattern's byte.
  const int bit = 3;
  const bool value = !(pattern[1] & (1u << bit));
  ASSERT_TRUE(hal->stick(8326, bit, value));
  const unsigned char read = static_cast<unsigned char>(pattern[1] ^ (1u << bit));
  looptest::Capture err(std::cerr);
  EXPECT_EQ(LGCP::ErrorCause::busError, Run(TestBpc(1, 5, 3, 12345, Write)));
  EXPECT_EQ("bus 1: write failed on channel 6 write " + Hex(pattern[1]) + " written " + Hex(read) + "\n", err.text());
  // The whole run was written before the comparison.
  EXPECT_EQ(pattern[2], Out(8327).byte);
}

// Outputs that carry constants are left alone by the refresh, so any
// request a test makes on them shows.
class Marked : public HwTestsTest {
protected:
  void Mark(int first, int end) {
    for (int o = first; o < end; ++o) ASSERT_TRUE(mux->Write(o, static_cast<unsigned char>(o * 7)));
    for (int o = first; o < end; ++o) disables.push_back(Out(o).disables);
    this->first = first;
  }
  void ExpectUntouched() {
    for (int o = first; o < first + int(disables.size()); ++o) {
      ASSERT_EQ(SimBoard::Hal::State::Constant, Out(o).state) << o;
      ASSERT_EQ(static_cast<unsigned char>(o * 7), Out(o).byte) << o;
      ASSERT_EQ(disables[o - first], Out(o).disables) << o;
    }
  }
  int first = 0;
  std::vector<std::uint32_t> disables;
};

TEST_F(Marked, ARunPastTheBusEndIsRefusedUntouched) {
  // Bus 1 and the first timeslots of bus 2, where a run past the end would go.
  Mark(8192 + 128, 8192 + 3 * 128);
  const struct { int start, length; } cases[] = {{100, 29}, {127, 2}, {2, 127}, {127, 127}};
  for (const auto& c : cases) {
    for (Mode mode : {Read, Write, Disconnect}) {
      looptest::Capture err(std::cerr);
      EXPECT_EQ(LGCP::ErrorCause::invalidParams, Run(TestBpc(1, c.start, c.length, 5, mode)))
          << c.start << "+" << c.length;
      EXPECT_EQ("", err.text());
      ExpectUntouched();
    }
  }
  // Up to the last timeslot is fine.
  EXPECT_EQ(kSuccess, Run(TestBpc(1, 100, 28, 5, Disconnect)));
  EXPECT_EQ(SimBoard::Hal::State::Disabled, Out(8192 + 128 + 127).state);
  EXPECT_EQ(SimBoard::Hal::State::Constant, Out(8192 + 256).state);
}

TEST_F(HwTestsTest, TheLastTimeslotOfTheLastBus) {
  EXPECT_EQ(kSuccess, Run(TestBpc(15, 127, 1, 3, Write)));
  EXPECT_EQ(LibraryPattern(3, 1)[0], Out(10239).byte);
  EXPECT_EQ(SimBoard::Hal::State::Disabled, Out(10240).state);
}

TEST_F(Marked, AnEmptyRunSucceedsAndTouchesNothing) {
  Mark(8192 + 3 * 128 + 39, 8192 + 3 * 128 + 42);
  for (Mode mode : {Read, Write, Disconnect}) {
    EXPECT_EQ(kSuccess, Run(TestBpc(3, 40, 0, 8, mode)));
    ExpectUntouched();
  }
}

TEST_F(HwTestsTest, DisconnectDisablesTheRunAndTheRefreshKeepsItSo) {
  ASSERT_TRUE(mux->Connect(8200, 8325));
  ASSERT_TRUE(mux->Write(8326, 9));
  EXPECT_EQ(kSuccess, Run(TestBpc(1, 5, 3, 1, Disconnect)));
  for (int o = 8325; o <= 8327; ++o) {
    EXPECT_EQ(SimBoard::Hal::State::Disabled, Out(o).state) << o;
    EXPECT_EQ(HwMux::State::Disabled, mux->Find(o)->state) << o;
  }
  const std::uint32_t before = Out(8326).disables;
  for (int i = 0; i < 16; ++i) mux->OnDPC();
  EXPECT_EQ(before + 1, Out(8326).disables);
}

TEST_F(HwTestsTest, OtherCommandsAreNotTaken) {
  // No other service takes destroy: the server answers it.
  const LGCP::Message answer = Call(Controller::Make(srvtest::Destroy(), 3));
  EXPECT_EQ(LGCP::ErrorCause::unexpectedMsgType, Controller::ErrorOf(answer));
  EXPECT_TRUE(Controller::IsSuccess(Call(Controller::Ping(4))));
}

TEST_F(HwTestsTest, TheGlobalRandomStateIsLeftAlone) {
  ::srandom(2024);
  const long first = ::random();
  ::srandom(2024);
  EXPECT_EQ(kSuccess, Run(TestBpc(4, 0, 64, 77, Write)));
  EXPECT_EQ(kSuccess, Run(TestBpc(4, 0, 64, 77, Read)));
  EXPECT_EQ(first, ::random());
}

}  // namespace
