// The clock source service on the simulated "/dev/hal", in-process.
#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "board/hal.h"
#include "control/testing/commands.h"
#include "hardware/bus_ctl.h"
#include "hardware/spi_ctrl.h"
#include "hardware/tests/board_service_fixture.h"
#include "simboard/hal.h"

namespace {

using CtrlTest::ClockCfg;
using hwtest::Controller;

class BusCtlTest : public hwtest::BoardServiceTest {
protected:
  BusCtlTest() : clockSource(sim.device<SimBoard::Hal>(Board::Hal::kDevice)->clock()) { Serve({&bus}); }

  std::deque<std::int32_t> Selections() const { return clockSource.selections(); }
  int Answer(const LGCP::Command& command) {
    const LGCP::Message answer = Call(command, ++seq);
    return Controller::IsSuccess(answer) ? -1 : Controller::ErrorOf(answer);
  }

  SimBoard::ClockSource& clockSource;
  BusCtl bus;
  long seq = 0;
};

TEST_F(BusCtlTest, ClockCfgSelectsTheSource) {
  Connect();
  ASSERT_EQ(std::deque<std::int32_t>{4}, Selections()) << "connecting puts the board on freerun";
  const struct {
    LGCP::ClkSel0::NamedNumber sel;
    LGCP::BExtEn::NamedNumber ext;
    int source;
    int answer;    // -1: success
    int selected;  // -1: nothing
    const char* name;
  } cases[] = {
      {LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 2, -1, 2, "f2"},
      {LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 0, -1, 0, "f0"},
      {LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 7, -1, 7, "?2"},
      // Past the name table: the driver gets it, the log names no table entry.
      {LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 8, -1, 8, "?"},
      {LGCP::ClkSel0::external, LGCP::BExtEn::enabled, -1, LGCP::ErrorCause::invalidParams, -1, nullptr},
      {LGCP::ClkSel0::external, LGCP::BExtEn::disabled, -1, -1, 5, "X3"},
      {LGCP::ClkSel0::internal, LGCP::BExtEn::enabled, 2, -1, 4, "freerun"},
      {LGCP::ClkSel0::internal, LGCP::BExtEn::disabled, -7, -1, 4, "freerun"},
  };
  for (const auto& c : cases) {
    const std::size_t before = Selections().size();
    EXPECT_EQ(c.answer, Answer(ClockCfg(c.sel, c.ext, c.source))) << c.source;
    if (c.selected < 0) {
      EXPECT_EQ(before, Selections().size()) << c.source;
      continue;
    }
    ASSERT_EQ(before + 1, Selections().size()) << c.source;
    EXPECT_EQ(c.selected, Selections().back());
    EXPECT_EQ(c.selected, clockSource.source());
    const std::string line = std::string("clkctl: clock source = ") + c.name + "\n";
    EXPECT_TRUE(streams.err.text().size() >= line.size() &&
                streams.err.text().compare(streams.err.text().size() - line.size(), line.size(), line) == 0)
        << streams.err.text();
  }
  EXPECT_NE(std::string::npos, streams.err.text().find("clkctl: set clock source cmd: "));
}

TEST_F(BusCtlTest, FailedSelectionIsABusError) {
  Connect();
  Board("fail ioctl /dev/hal 0x80044301 EIO");
  EXPECT_EQ(LGCP::ErrorCause::busError, Answer(ClockCfg(LGCP::ClkSel0::internal, LGCP::BExtEn::disabled, 0)));
  EXPECT_NE(std::string::npos, streams.err.text().find("clkctl: HW_CLOCK_SELECT fail.\n"));
  EXPECT_EQ(-1, Answer(ClockCfg(LGCP::ClkSel0::internal, LGCP::BExtEn::disabled, 0)));
}

TEST_F(BusCtlTest, HalThatCannotBeOpenedIsABusErrorAndNoFramerIsClockMaster) {
  // The SPI service is the daemon's one; it sets its framers up first.
  spiCtrl::instance();
  SimBoard::SpiFramers& framers = sim.device<SimBoard::Hal>(Board::Hal::kDevice)->spi();
  framers.clear_log();
  Board("fail open /dev/hal ENOENT");
  EXPECT_EQ(BusCtl::Result::Failed, bus.SetDefaultClock());
  EXPECT_NE(std::string::npos, streams.err.text().find("clkctl: set clock source fail: code 1.\n"));
  ASSERT_EQ(8u, framers.log().size());
  for (int ch = 0; ch < 8; ++ch) EXPECT_TRUE((SimBoard::SpiFramers::Write{ch, 87, 48}) == framers.log()[ch]) << ch;
  EXPECT_TRUE(Selections().empty());
  // Opened on the next use.
  EXPECT_EQ(BusCtl::Result::Selected, bus.SetDefaultClock());
  EXPECT_EQ(std::deque<std::int32_t>{4}, Selections());
}

TEST_F(BusCtlTest, ConnectionAndDisconnectionRestoreFreerun) {
  Connect();
  EXPECT_EQ(-1, Answer(ClockCfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 1)));
  Disconnect();
  EXPECT_EQ((std::deque<std::int32_t>{4, 1, 4}), Selections());
  EXPECT_EQ(4, clockSource.source());
}

TEST_F(BusCtlTest, DisabledControlTouchesNothingAndRefusesClockCfg) {
  bus.DisableControl();
  EXPECT_NE(std::string::npos, streams.log.text().find("clock control disabled.\n"));
  EXPECT_FALSE(bus.IsEnabled());
  Connect();
  EXPECT_EQ(LGCP::ErrorCause::unsupported, Answer(ClockCfg(LGCP::ClkSel0::internal, LGCP::BExtEn::disabled, 0)));
  Disconnect();
  EXPECT_FALSE(bus.IsOpen());
  EXPECT_TRUE(Selections().empty());
}

TEST_F(BusCtlTest, OtherCommandsGoOn) {
  Connect();
  LGCP::Command trunk;
  trunk.select_trunkCfg();
  EXPECT_EQ(LGCP::ErrorCause::unexpectedMsgType, Answer(trunk));
}

TEST(BusCtlNames, TableIsReadInsideItsBounds) {
  const struct {
    int source;
    const char* name;
  } cases[] = {{0, "f0"}, {3, "f3"}, {4, "freerun"}, {5, "X3"},     {6, "?1"},
               {7, "?2"}, {8, "?"},  {-1, "?"},      {1 << 30, "?"}};
  for (const auto& c : cases) EXPECT_STREQ(c.name, BusCtl::SourceName(c.source)) << c.source;
}

}  // namespace
