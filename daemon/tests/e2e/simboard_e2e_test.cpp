// The daemon on the default simulated board, driven through the board's
// control socket.
#include <cstdlib>
#include <string>

#include "daemon/tests/e2e/daemon_e2e.h"
#include "simboard/testing/sim_client.h"

using namespace e2e;

namespace {

class SimulatedBoard : public Daemon {
protected:
  void SetUp() override {
    Daemon::SetUp();
    ASSERT_NO_FATAL_FAILURE(Run());
    ASSERT_TRUE(board.Connect(SimBoard::Client::DefaultPath(), 5000)) << daemon.Err();
  }

  SimBoard::Client board;
};

// "<ms> <what>" of the watchdog's log.
bool ParseRecord(const std::string& line, long& ms, std::string& what) {
  const std::size_t blank = line.find(' ');
  if (blank == std::string::npos || blank == 0) return false;
  char* end = nullptr;
  ms = std::strtol(line.c_str(), &end, 10);
  if (end != line.c_str() + blank) return false;
  what = line.substr(blank + 1);
  return true;
}

}  // namespace

TEST_F(SimulatedBoard, ControlSocketAnswersHelpAndRefusesBadCommands) {
  const SimBoard::Answer help = board.Command("help");
  ASSERT_TRUE(help.ok) << help.text();
  for (const char* command : {"help", "board reset", "fail open", "fail ioctl", "fail read", "hangup", "xc get",
                              "xc write", "xc stuck", "xc clear", "wd log"})
    EXPECT_EQ(0u, help.find(command).find(command)) << command << " missing from\n" << help.text();

  const SimBoard::Answer bad = board.Command("xc frobnicate 9000");
  EXPECT_FALSE(bad.ok);
  EXPECT_NE(std::string::npos, bad.error.find("unknown command")) << bad.text();
  const SimBoard::Answer range = board.Command("xc get -1");
  EXPECT_FALSE(range.ok) << range.text();
  // The connection goes on after an error.
  EXPECT_TRUE(board.Command("xc get 9000").ok);
}

TEST_F(SimulatedBoard, WatchdogIsStartedAndPingedWithinTwoSeconds) {
  long start = -1, ping = -1;
  ASSERT_TRUE(Eventually(
      [&] {
        const SimBoard::Answer log = board.Command("wd log");
        if (!log.ok) return false;
        start = ping = -1;
        for (const std::string& line : log.lines) {
          long ms = 0;
          std::string what;
          if (!ParseRecord(line, ms, what)) continue;
          if (what == "START" && start < 0) start = ms;
          if (what == "PING" && start >= 0 && ping < 0) ping = ms;
        }
        return start >= 0 && ping >= 0;
      },
      10000))
      << board.Command("wd log").text();
  EXPECT_LE(ping - start, 2000);
  EXPECT_GE(ping, start);
}

TEST_F(SimulatedBoard, SocketFileGoesWithTheDaemon) {
  EXPECT_TRUE(Exists(SimBoard::Client::DefaultPath()));
  board.Close();
  EXPECT_EQ(0, Stop());
  EXPECT_FALSE(Exists(SimBoard::Client::DefaultPath()));
}
