// The controller's bus tests run by the daemon on the default simulated
// board, checked through the board's control socket.
#include <cstdlib>
#include <string>
#include <vector>

#include "control/testing/bus_test_util.h"
#include "daemon/tests/e2e/daemon_e2e.h"
#include "simboard/testing/sim_client.h"

using namespace e2e;
using namespace bustest;

namespace {

// The number after "<key>=" in an "xc get" line, -1 when absent.
long Field(const std::string& line, const std::string& key) {
  const std::size_t at = line.find(" " + key + "=");
  if (at == std::string::npos) return -1;
  return std::strtol(line.c_str() + at + key.size() + 2, nullptr, 10);
}

class BusTests : public Daemon {
protected:
  void SetUp() override {
    Daemon::SetUp();
    ASSERT_NO_FATAL_FAILURE(Run());
    ASSERT_TRUE(board.Connect(SimBoard::Client::DefaultPath(), 5000)) << daemon.Err();
  }

  // The answer's error cause, -1 for success.
  int Test(int bus, int start, int length, int seed, Mode mode) {
    const LGCP::Message answer = Call(TestBpc(bus, start, length, seed, mode, ++seq));
    EXPECT_EQ(seq, Controller::SeqOf(answer));
    return Controller::IsSuccess(answer) ? -1 : Controller::ErrorOf(answer);
  }

  std::string Get(int output) {
    const SimBoard::Answer a = board.Command("xc get " + std::to_string(output));
    EXPECT_TRUE(a.ok) << a.text();
    return a.lines.empty() ? "" : a.lines[0];
  }

  SimBoard::Client board;
  long seq = 100;
};

const int kSuccess = -1;

TEST_F(BusTests, TheCrossConnectIsOpenedAndSweptAtStartUp) {
  EXPECT_TRUE(contains(daemon.Err(), "hwMux: init\nhwMux: device opened\n")) << daemon.Err();
  for (int o : {8191, 8192, 9000, 10239, 10240}) {
    const std::string line = Get(o);
    EXPECT_NE(std::string::npos, line.find("state=disabled")) << line;
    if (o >= 8192 && o <= 10239)
      EXPECT_GE(Field(line, "disables"), 1) << line;
    else
      EXPECT_EQ(0, Field(line, "disables")) << line;
  }
}

TEST_F(BusTests, WriteThenReadWithTheLibraryPattern) {
  for (int seed : {12345, -7, 0}) {
    ASSERT_EQ(kSuccess, Test(1, 5, 3, seed, Write)) << daemon.Err();
    const std::vector<unsigned char> pattern = LibraryPattern(seed, 3);
    for (int i = 0; i < 3; ++i) {
      const std::string line = Get(8325 + i);
      EXPECT_NE(std::string::npos, line.find("state=constant")) << line;
      EXPECT_EQ(pattern[i], Field(line, "byte")) << "seed " << seed << ": " << line;
    }
    EXPECT_NE(std::string::npos, Get(8324).find("state=disabled"));
    EXPECT_NE(std::string::npos, Get(8328).find("state=disabled"));
    EXPECT_EQ(kSuccess, Test(1, 5, 3, seed, Read)) << daemon.Err();
  }
}

TEST_F(BusTests, ReadsWhatAnotherBoardWrote) {
  const std::vector<unsigned char> pattern = LibraryPattern(31337, 4);
  for (int i = 0; i < 4; ++i)
    ASSERT_TRUE(
        board.Command("xc write " + std::to_string(8192 + 7 * 128 + 60 + i) + " " + std::to_string(pattern[i])).ok);
  EXPECT_EQ(kSuccess, Test(7, 60, 4, 31337, Read));
  EXPECT_EQ(LGCP::ErrorCause::busError, Test(7, 60, 4, 31338, Read));
  EXPECT_TRUE(Eventually([&] { return contains(daemon.Err(), "bus 7: test failed on channel 60 expected "); }))
      << daemon.Err();
}

TEST_F(BusTests, AStuckBitFailsTheWriteTest) {
  const int seed = 4242;
  const std::vector<unsigned char> pattern = LibraryPattern(seed, 3);
  const int bit = 5;
  const int forced = (pattern[1] >> bit) & 1 ? 0 : 1;
  ASSERT_TRUE(board.Command("xc stuck 8326 " + std::to_string(bit) + " " + std::to_string(forced)).ok);
  EXPECT_EQ(LGCP::ErrorCause::busError, Test(1, 5, 3, seed, Write));
  const unsigned char read = static_cast<unsigned char>(pattern[1] ^ (1u << bit));
  const std::string line = "bus 1: write failed on channel 6 write " + Hex(pattern[1]) + " written " + Hex(read) + "\n";
  EXPECT_TRUE(Eventually([&] { return contains(daemon.Err(), line); })) << daemon.Err();
  // The first timeslot passed, the third was not looked at: one line only.
  EXPECT_EQ(std::string::npos, daemon.Err().find("on channel 5"));
  EXPECT_EQ(std::string::npos, daemon.Err().find("on channel 7"));
}

TEST_F(BusTests, ARunPastTheBusEndIsInvalid) {
  EXPECT_EQ(LGCP::ErrorCause::invalidParams, Test(1, 100, 29, 1, Write));
  for (int o = 8192 + 128 + 100; o < 8192 + 256 + 1; ++o)
    EXPECT_EQ(std::string::npos, Get(o).find("state=constant")) << o;
  // The daemon goes on.
  EXPECT_EQ(kSuccess, Test(1, 100, 28, 1, Write));
}

TEST_F(BusTests, DisconnectLeavesTheRunDisabledAndRefreshed) {
  ASSERT_EQ(kSuccess, Test(2, 10, 3, 5, Write));
  ASSERT_EQ(kSuccess, Test(2, 10, 3, 5, Disconnect));
  const int first = 8192 + 2 * 128 + 10;
  std::vector<long> counts;
  for (int o = first; o < first + 3; ++o) {
    const std::string line = Get(o);
    EXPECT_NE(std::string::npos, line.find("state=disabled")) << line;
    counts.push_back(Field(line, "disables"));
  }
  // The refresh keeps repeating the disable request.
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(Eventually([&] { return Field(Get(first + i), "disables") > counts[i]; })) << Get(first + i);
  EXPECT_NE(std::string::npos, Get(first).find("state=disabled"));
}

}  // namespace
