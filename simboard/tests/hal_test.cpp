#include "simboard/hal.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "board/board.h"
#include "board/hal.h"
#include "simboard/simulator.h"
#include "simboard/tests/sim_test_util.h"

// Counts the allocations of the whole test binary.
namespace {
std::atomic<long> allocations{0};
}  // namespace

void* operator new(std::size_t n) {
  ++allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

namespace Hal = Board::Hal;
using SimBoard::Simulator;

// The cross-connect as the services see it: through the seam, on the
// default board.
class CrossConnect : public ::testing::Test {
public:
  void SetUp() override {
    Simulator::instance().reset();
    hal = Simulator::instance().device<SimBoard::Hal>(Hal::kDevice);
    ASSERT_NE(nullptr, hal);
    fd = Board::open(Hal::kDevice, O_RDWR);
    ASSERT_TRUE(fd.is_valid());
  }
  void TearDown() override { Simulator::instance().reset(); }

  int Connect(int output, int source) {
    Hal::XcConnect rec = {output, source};
    return Board::ioctl(fd.lowlevel_fd(), Hal::kXcConnect, &rec);
  }
  int Disable(int output) {
    std::int32_t n = output;
    return Board::ioctl(fd.lowlevel_fd(), Hal::kXcDisable, &n);
  }
  int Write(int output, int byte) {
    Hal::XcByte rec = {output, byte};
    return Board::ioctl(fd.lowlevel_fd(), Hal::kXcWrite, &rec);
  }
  // The byte read, or -errno.
  int Read(int channel) {
    Hal::XcByte rec = {channel, 255};
    return Board::ioctl(fd.lowlevel_fd(), Hal::kXcRead, &rec) == 0 ? rec.value : -errno;
  }
  std::string Get(int output) {
    const SimBoard::Reply r = Simulator::instance().execute("xc get " + std::to_string(output));
    return r.failed() ? "error " + r.error() : r.lines().at(0);
  }
  void Command(const std::string& line) {
    const SimBoard::Reply r = Simulator::instance().execute(line);
    EXPECT_FALSE(r.failed()) << line << ": " << r.error();
  }

  SimBoard::Hal* hal = nullptr;
  Fd fd;
};

TEST_F(CrossConnect, DefaultBoardHasEveryOutputDisabled) {
  for (int n : {0, 8191, 8192, 9000, 10239, 10300, SimBoard::Hal::kDense, 0x7FFFFFFF}) {
    EXPECT_EQ(SimBoard::Hal::State::Disabled, hal->output(n)->state) << n;
    EXPECT_EQ(255, Read(n)) << n;
  }
  EXPECT_EQ("output=9000 state=disabled disables=0 read=255", Get(9000));
}

TEST_F(CrossConnect, ModelAnswersWhatEachOutputCarries) {
  const struct {
    const char* what;
    std::function<void(CrossConnect&)> steps;
    int output;
    int read;
    const char* get;
  } cases[] = {
      {"disabled", [](CrossConnect&) {}, 8325, 255, "output=8325 state=disabled disables=0 read=255"},
      {"constant", [](CrossConnect& t) { EXPECT_EQ(0, t.Write(8325, 0x5A)); }, 8325, 0x5A,
       "output=8325 state=constant byte=90 disables=0 read=90"},
      {"disconnect", [](CrossConnect& t) { EXPECT_EQ(0, t.Write(8325, Hal::kIdleByte)); }, 8325, 213,
       "output=8325 state=constant byte=213 disables=0 read=213"},
      {"a constant's low byte", [](CrossConnect& t) { EXPECT_EQ(0, t.Write(8325, 0x1234)); }, 8325, 0x34,
       "output=8325 state=constant byte=52 disables=0 read=52"},
      {"fed by a constant",
       [](CrossConnect& t) {
         t.Command("xc write 100 17");
         EXPECT_EQ(0, t.Connect(8325, 100));
       },
       8325, 17, "output=8325 state=fed source=100 disables=0 read=17"},
      {"fed by a disabled output", [](CrossConnect& t) { EXPECT_EQ(0, t.Connect(8325, 101)); }, 8325, 255,
       "output=8325 state=fed source=101 disables=0 read=255"},
      {"fed through a chain",
       [](CrossConnect& t) {
         t.Command("xc write 7 0");
         EXPECT_EQ(0, t.Connect(8, 7));
         EXPECT_EQ(0, t.Connect(9000, 8));
       },
       9000, 0, "output=9000 state=fed source=8 disables=0 read=0"},
      {"fed by itself", [](CrossConnect& t) { EXPECT_EQ(0, t.Connect(9000, 9000)); }, 9000, 255,
       "output=9000 state=fed source=9000 disables=0 read=255"},
      {"a cycle",
       [](CrossConnect& t) {
         EXPECT_EQ(0, t.Connect(9000, 9001));
         EXPECT_EQ(0, t.Connect(9001, 9000));
       },
       9001, 255, "output=9001 state=fed source=9000 disables=0 read=255"},
      {"fed by an untouched output", [](CrossConnect& t) { EXPECT_EQ(0, t.Connect(9000, 0x7FFFFFFF)); }, 9000, 255,
       "output=9000 state=fed source=2147483647 disables=0 read=255"},
      {"disabled again",
       [](CrossConnect& t) {
         EXPECT_EQ(0, t.Write(8325, 1));
         EXPECT_EQ(0, t.Disable(8325));
         EXPECT_EQ(0, t.Disable(8325));
       },
       8325, 255, "output=8325 state=disabled disables=2 read=255"},
      {"written by another board", [](CrossConnect& t) { t.Command("xc write 8326 0x81"); }, 8326, 0x81,
       "output=8326 state=constant byte=129 disables=0 read=129"},
      {"stuck bits",
       [](CrossConnect& t) {
         EXPECT_EQ(0, t.Write(8326, 0x0F));
         t.Command("xc stuck 8326 7 1");
         t.Command("xc stuck 8326 0 0");
       },
       8326, 0x8E, "output=8326 state=constant byte=15 disables=0 read=142 stuck=0:0,7:1"},
      {"stuck bit seen through a fed output",
       [](CrossConnect& t) {
         EXPECT_EQ(0, t.Write(8326, 0x00));
         t.Command("xc stuck 8326 2 1");
         EXPECT_EQ(0, t.Connect(9000, 8326));
       },
       9000, 0x04, "output=9000 state=fed source=8326 disables=0 read=4"},
      {"stuck bit on a disabled output", [](CrossConnect& t) { t.Command("xc stuck 8327 0 0"); }, 8327, 0xFE,
       "output=8327 state=disabled disables=0 read=254 stuck=0:0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Command("xc clear");
    c.steps(*this);
    EXPECT_EQ(c.read, Read(c.output));
    EXPECT_EQ(c.get, Get(c.output));
  }
}

TEST_F(CrossConnect, NegativeOutputsDoNotExist) {
  EXPECT_EQ(-1, Connect(-1, 5));
  EXPECT_EQ(EINVAL, errno);
  EXPECT_EQ(-1, Disable(-1));
  EXPECT_EQ(EINVAL, errno);
  EXPECT_EQ(-1, Write(-1, 1));
  EXPECT_EQ(EINVAL, errno);
  EXPECT_EQ(-EINVAL, Read(-1));
  EXPECT_EQ(-1, Connect(9000, -1));
  EXPECT_EQ(EINVAL, errno);
  EXPECT_EQ(SimBoard::Hal::State::Disabled, hal->output(9000)->state);
  for (const char* bad : {"xc get -1", "xc get 2147483648", "xc get x", "xc write 9000 256", "xc stuck 9000 8 1",
                          "xc stuck 9000 1 2", "xc get", "xc clear now"})
    EXPECT_TRUE(Simulator::instance().execute(bad).failed()) << bad;
}

// Outputs above the bus outputs are the driver's business: they work alike.
TEST_F(CrossConnect, OutputsFarAboveTheBusesWorkAlike) {
  for (int n : {10300, SimBoard::Hal::kDense, 0x7FFFFFFF}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(0, Write(n, 0x42));
    EXPECT_EQ(0x42, Read(n));
    EXPECT_EQ(0, Connect(n + (n < 0x7FFFFFFF ? 1 : -1), n));
    EXPECT_EQ(0x42, Read(n + (n < 0x7FFFFFFF ? 1 : -1)));
    EXPECT_EQ(0, Disable(n));
    EXPECT_EQ(255, Read(n));
    EXPECT_EQ(1u, hal->output(n)->disables);
  }
  EXPECT_EQ("output=2147483647 state=disabled disables=1 read=255", Get(0x7FFFFFFF));
  Command("xc clear");
  EXPECT_EQ(0u, hal->output(0x7FFFFFFF)->disables);
}

TEST_F(CrossConnect, RoomForOutputsAboveTheDenseOnesIsBounded) {
  const int first = SimBoard::Hal::kDense;
  for (std::size_t i = 0; i < SimBoard::Hal::kSparse; ++i) ASSERT_EQ(0, Disable(first + static_cast<int>(i)));
  simtest::Capture err(std::cerr);
  const int next = first + static_cast<int>(SimBoard::Hal::kSparse);
  EXPECT_EQ(-1, Disable(next));
  EXPECT_EQ(ENOSPC, errno);
  EXPECT_EQ(-1, Write(next, 1));
  EXPECT_EQ(ENOSPC, errno);
  EXPECT_EQ("simboard: /dev/hal: no room for more outputs above 16384\n", err.text());
  // Outputs known already and the dense ones go on.
  EXPECT_EQ(0, Write(first, 7));
  EXPECT_EQ(0, Write(9000, 7));
}

TEST_F(CrossConnect, DisableCountsArePerOutputUntilCleared) {
  for (int i = 0; i < 3; ++i) EXPECT_EQ(0, Disable(8192));
  EXPECT_EQ(0, Disable(10239));
  EXPECT_EQ(3u, hal->output(8192)->disables);
  EXPECT_EQ(1u, hal->output(10239)->disables);
  EXPECT_EQ(0u, hal->output(8193)->disables);
  // A connect does not reset it.
  EXPECT_EQ(0, Connect(8192, 5));
  EXPECT_EQ("output=8192 state=fed source=5 disables=3 read=255", Get(8192));
  Command("xc clear");
  EXPECT_EQ(0u, hal->output(8192)->disables);
}

// The refresh disables outputs all the time: that path must stay cheap.
TEST_F(CrossConnect, DisableNeitherAllocatesNorLogs) {
  EXPECT_EQ(0, Disable(8192));  // first use of everything on the way
  simtest::Capture err(std::cerr);
  simtest::Capture log(std::clog);
  const long before = allocations.load();
  for (int n = Hal::kFirstBusOutput; n < Hal::kFirstBusOutput + Hal::kBusOutputs; ++n) EXPECT_EQ(0, Disable(n));
  const long during = allocations.load() - before;
  EXPECT_EQ(0, during);
  EXPECT_EQ("", err.text());
  EXPECT_EQ("", log.text());
  EXPECT_EQ(2u, hal->output(8192)->disables);
  EXPECT_EQ(1u, hal->output(10239)->disables);
}

TEST_F(CrossConnect, InjectedFailureHitsTheNthRequestAndChangesNothing) {
  Command("fail ioctl /dev/hal 0x80084D02 EIO 2");
  EXPECT_EQ(0, Connect(9000, 5));
  EXPECT_EQ(-1, Connect(9001, 5));
  EXPECT_EQ(EIO, errno);
  EXPECT_EQ(0, Connect(9002, 5));
  EXPECT_EQ(SimBoard::Hal::State::Fed, hal->output(9000)->state);
  EXPECT_EQ(SimBoard::Hal::State::Disabled, hal->output(9001)->state);
  EXPECT_EQ(SimBoard::Hal::State::Fed, hal->output(9002)->state);
}

TEST_F(CrossConnect, RequestsOfNoFamilyAreUnknown) {
  Hal::SpiAccess spi = {0, 51, 0};
  simtest::Capture err(std::cerr);
  EXPECT_EQ(-1, Board::ioctl(fd.lowlevel_fd(), 0xC0034205, &spi));
  EXPECT_EQ(ENOTTY, errno);
  EXPECT_EQ("simboard: /dev/hal: unknown request 0xC0034205 (rw, 3 bytes, 'B' 5): ENOTTY\n", err.text());
}

TEST_F(CrossConnect, ByValueRequestIsRefused) {
  simtest::Capture err(std::cerr);
  EXPECT_EQ(-1, Board::ioctlValue(fd.lowlevel_fd(), Hal::kXcDisable, 9000));
  EXPECT_EQ(ENOTTY, errno);
  EXPECT_NE(std::string::npos, err.text().find("takes a pointer, called with a value")) << err.text();
  EXPECT_EQ(0u, hal->output(9000)->disables);
}

TEST_F(CrossConnect, BoardResetReturnsToTheDefaultBoard) {
  Command("xc write 9000 1");
  Command("xc stuck 9001 1 1");
  EXPECT_EQ(0, Disable(9002));
  Command("board reset");
  for (int n : {9000, 9001, 9002})
    EXPECT_EQ("output=" + std::to_string(n) + " state=disabled disables=0 read=255", Get(n));
  // The open survives a reset.
  EXPECT_EQ(0, Disable(9002));
}

}  // namespace
