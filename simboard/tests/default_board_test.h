#pragma once
// Tests of devices on the process-wide simulated board: each test starts
// from a fresh default board and leaves nothing open behind it.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>

#include "board/board.h"
#include "foundation/os.h"
#include "simboard/simulator.h"

namespace simtest {

class DefaultBoardTest : public ::testing::Test {
public:
  void SetUp() override { sim.reset(); }
  void TearDown() override {
    sim.collect_closed();
    sim.reset();
  }

  Fd Open(const char* path, int flags = O_RDWR | O_NONBLOCK) {
    Fd fd = Board::open(path, flags);
    EXPECT_TRUE(fd.is_valid()) << path;
    return fd;
  }
  SimBoard::Reply Command(const std::string& line) {
    SimBoard::Reply r = sim.execute(line);
    EXPECT_FALSE(r.failed()) << line << ": " << r.text();
    return r;
  }
  // The result, or -errno.
  static int Result(int rc) { return rc < 0 ? -errno : rc; }

  SimBoard::Simulator& sim = SimBoard::Simulator::instance();
};

}  // namespace simtest
