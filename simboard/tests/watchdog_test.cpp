#include "simboard/watchdog.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <utility>

#include "board/board.h"
#include "foundation/multiplexer.h"
#include "foundation/mux_time.h"
#include "foundation/os.h"
#include "foundation/sys_paths.h"
#include "foundation/tests/loop_test_util.h"
#include "foundation/timer.h"
#include "simboard/simulator.h"

namespace {

using SimBoard::Simulator;

int OpenBoardDevice(const char* path, int flags) { return Board::open(path, flags).release(); }

// Passes of the loop 400 ms apart on a test clock; stops after `passes`,
// running the board command `at.second` before the pass `at.first` from the
// end.
class Ticker {
public:
  explicit Ticker(int passes, std::pair<int, std::string> at = {}) : left_(passes), at_(std::move(at)) {
    t_.set<Ticker>(0, &Ticker::on, this);
  }
  void on() {
    if (--left_ <= 0) return multiplexer.terminate();
    if (left_ == at_.first) Simulator::instance().execute(at_.second);
    // Due at once in the next pass.
    t_.set<Ticker>(400, &Ticker::on, this);
    now_ += 400;
    Mux::set_cached_time(Mux::timeval(now_ / 1000, (now_ % 1000) * 1000));
  }

private:
  int left_;
  std::pair<int, std::string> at_;
  long now_ = 2000000000;
  Timer t_;
};

TEST(SimulatedWatchdog, RecordsStartPingsAndStopWithTheLoopClock) {
  Simulator::instance().reset();
  auto* wd = Simulator::instance().device<SimBoard::Watchdog>(SysPaths::kWatchdog);
  ASSERT_NE(nullptr, wd);
  const std::string old = multiplexer.watchdog_path();
  multiplexer.set_watchdog_device(&OpenBoardDevice, SysPaths::kWatchdog);
  Mux::set_cached_time(Mux::timeval(2000000, 0));
  {
    Ticker ticker(8);
    multiplexer.run(true, true);
  }
  Mux::clear_cached_time();
  multiplexer.set_watchdog_device(nullptr, old);

  const SimBoard::Reply log = Simulator::instance().execute("wd log");
  ASSERT_FALSE(log.failed());
  std::string what;
  for (const auto& rec : wd->records()) what += rec.what + " ";
  EXPECT_EQ("START PING PING PING STOP ", what) << log.text();
  ASSERT_EQ(5u, wd->records().size());
  const auto& r = wd->records();
  // The first ping comes at once, then one a second at most.
  EXPECT_LE(r[1].ms - r[0].ms, 400u);
  EXPECT_GE(r[2].ms - r[1].ms, 1000u);
  EXPECT_GE(r[3].ms - r[2].ms, 1000u);
  EXPECT_EQ(std::to_string(r[0].ms) + " START", log.lines().at(0));
  // The loop closed it: the open is gone.
  Simulator::instance().collect_closed();
  EXPECT_TRUE(wd->sessions().empty());
  Simulator::instance().execute("board reset");
  EXPECT_EQ("(nothing)", Simulator::instance().execute("wd log").lines().at(0));
}

TEST(SimulatedWatchdog, OneThatHangsUpIsOpenedAgainByTheNextPing) {
  IPC::Signal::ignore(SIGPIPE);
  Simulator::instance().reset();
  auto* wd = Simulator::instance().device<SimBoard::Watchdog>(SysPaths::kWatchdog);
  const std::string old = multiplexer.watchdog_path();
  multiplexer.set_watchdog_device(&OpenBoardDevice, SysPaths::kWatchdog);
  // The first three opens after the loop's own fail.
  for (const char* n : {"2", "3", "4"})
    ASSERT_FALSE(Simulator::instance().execute(std::string("fail open /dev/misc/gw-wd EBUSY ") + n).failed());
  Mux::set_cached_time(Mux::timeval(2000000, 0));
  looptest::Capture err(std::cerr);
  {
    // About 20 s, hung up after about 2.
    Ticker ticker(55, {50, "hangup /dev/misc/gw-wd"});
    multiplexer.run(true, true);
  }
  Mux::clear_cached_time();
  multiplexer.set_watchdog_device(nullptr, old);
  std::string what;
  for (const auto& rec : wd->records()) what += rec.what + " ";
  // The ping that found it hung up is lost; the next one opens it again.
  EXPECT_EQ(0u, what.find("START PING PING START PING PING ")) << what;
  EXPECT_EQ("PING STOP ", what.substr(what.size() - 10)) << what;
  auto lines = [&](const char* text) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = err.text().find(text, at)) != std::string::npos; ++at) ++n;
    return n;
  };
  EXPECT_EQ(1u, lines("ping watchdog failed")) << err.text();
  // Tried again at every ping, said once.
  EXPECT_EQ(1u, lines("fail to open watchdog")) << err.text();
}

TEST(SimulatedWatchdog, FailedOpenLeavesTheLoopRunning) {
  Simulator::instance().reset();
  ASSERT_FALSE(Simulator::instance().execute("fail open /dev/misc/gw-wd EBUSY").failed());
  const std::string old = multiplexer.watchdog_path();
  multiplexer.set_watchdog_device(&OpenBoardDevice, SysPaths::kWatchdog);
  Mux::set_cached_time(Mux::timeval(2000000, 0));
  {
    Ticker ticker(3);
    multiplexer.run(true, true);
  }
  Mux::clear_cached_time();
  multiplexer.set_watchdog_device(nullptr, old);
  EXPECT_FALSE(multiplexer.watchdog_open());
  auto* wd = Simulator::instance().device<SimBoard::Watchdog>(SysPaths::kWatchdog);
  EXPECT_TRUE(wd->records().empty());
}

}  // namespace
