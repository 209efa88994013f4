// The BRI framers' service on the simulated board's SPI bus, in-process.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "board/hal.h"
#include "hardware/spi_ctrl.h"
#include "hardware/tests/board_service_fixture.h"
#include "simboard/hal.h"

namespace {

using hwtest::Controller;
using hwtest::Trunk;
using Write = SimBoard::SpiFramers::Write;

class SpiCtrlTest : public hwtest::BoardServiceTest {
protected:
  SpiCtrlTest() : framers(sim.device<SimBoard::Hal>(Board::Hal::kDevice)->spi()) {}

  void Make() {
    spi.reset(new spiCtrl);
    Serve({spi.get()});
  }
  std::vector<Write> Writes() const { return {framers.log().begin(), framers.log().end()}; }
  std::size_t Count(const std::string& text, const std::string& part) const {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }

  SimBoard::SpiFramers& framers;
  std::unique_ptr<spiCtrl> spi;
};

TEST_F(SpiCtrlTest, ChannelsZeroToSixAreSetUpAndEnabledAtStart) {
  Make();
  std::vector<Write> expected;
  for (int ch = 0; ch < 7; ++ch) {
    for (const Write& w : {Write{ch, 50, 128}, Write{ch, 48, 8}, Write{ch, 87, 48}, Write{ch, 52, 96}, Write{ch, 53, 0},
                           Write{ch, 54, 0}, Write{ch, 55, 0}, Write{ch, 50, 0}})
      expected.push_back(w);
  }
  EXPECT_EQ(expected, Writes());
  const std::string log = streams.log.text();
  EXPECT_EQ(0u, log.find("spi: try init\nspi: init channel 0\nspi: enable channel 0\nspi: init channel 1\n")) << log;
  EXPECT_NE(std::string::npos, log.find("spi: enable channel 6\n"));
  EXPECT_EQ(std::string::npos, log.find("channel 7")) << log;
  EXPECT_TRUE(spi->IsOpen());
  EXPECT_TRUE(spi->IsPresent());
}

TEST_F(SpiCtrlTest, HalThatCannotBeOpenedIsTriedAgainByTheNextSetUp) {
  Board("fail open /dev/hal ENOENT");
  Make();
  EXPECT_FALSE(spi->IsOpen());
  EXPECT_TRUE(Writes().empty());
  EXPECT_NE(std::string::npos, streams.log.text().find("spi: try init\nspi: /dev/hal open fail\n"));
  spi->enable_channel(7);
  EXPECT_TRUE(spi->IsOpen());
  ASSERT_EQ(7u * 8u + 1u, Writes().size());
  EXPECT_TRUE((Write{7, 50, 0}) == Writes().back());
}

TEST_F(SpiCtrlTest, StatusRegisterGivesTheLineState) {
  Make();
  Connect();
  const struct {
    int value;
    int state;
  } cases[] = {
      {0xC5, ACP::TrunkState::normal},      {0x85, ACP::TrunkState::rai},    {0x45, ACP::TrunkState::ais},
      {0x05, ACP::TrunkState::ais},         {0x01, ACP::TrunkState::lossBF}, {0x00, ACP::TrunkState::lossCarrier},
      {0xC4, ACP::TrunkState::lossCarrier}, {0xC1, ACP::TrunkState::lossBF},
  };
  for (const auto& c : cases) {
    Board("spi set 3 51 " + std::to_string(c.value));
    spi->status();
    const std::vector<Trunk> got = TrunkSignals();
    ASSERT_EQ(8u, got.size()) << c.value;
    for (int ch = 0; ch < 8; ++ch) {
      EXPECT_EQ(ch, got[ch].trunk);
      EXPECT_EQ(ACP::TrunkType::bri, got[ch].type);
      EXPECT_EQ(ch == 3 ? c.state : int(ACP::TrunkState::normal), got[ch].state) << c.value << " channel " << ch;
      EXPECT_EQ(0, got[ch].slips + got[ch].lossBF + got[ch].lossCarrier + got[ch].ais + got[ch].rai);
    }
  }
}

TEST_F(SpiCtrlTest, FailedReadIsUnknownNotLossOfCarrier) {
  Make();
  Connect();
  Board("spi set 0 51 0xE5");
  Board("fail ioctl /dev/hal 0xC0034203 EIO");
  spi->status();
  const std::vector<Trunk> got = TrunkSignals();
  ASSERT_EQ(8u, got.size());
  EXPECT_EQ(ACP::TrunkState::unknown, got[0].state);
  EXPECT_EQ(0, got[0].slips);
  EXPECT_EQ(ACP::TrunkState::normal, got[1].state);
  EXPECT_NE(std::string::npos, streams.log.text().find("spi: read error: channel=0 addr=51\n"));
  // The fault was the only one; a failed read is 0.
  EXPECT_EQ(0xE5, spi->read(0, 51));
  Board("fail ioctl /dev/hal 0xC0034203 EIO");
  EXPECT_EQ(0, spi->read(0, 51));
  EXPECT_TRUE(spi->IsPresent());
}

TEST_F(SpiCtrlTest, EachChannelReportsItsOwnSlips) {
  Make();
  Connect();
  // Bit 5: a slip. One per run of passes that show it.
  const struct {
    int ch0, ch1;
    int slips0, slips1;
  } passes[] = {
      {0xE5, 0xE5, 1, 1}, {0xE5, 0xE5, 0, 0}, {0xC5, 0xE5, 0, 0}, {0xE5, 0xC5, 1, 0}, {0xE5, 0xE5, 0, 1},
  };
  int n = 0;
  for (const auto& p : passes) {
    Board("spi set 0 51 " + std::to_string(p.ch0));
    Board("spi set 1 51 " + std::to_string(p.ch1));
    spi->status();
    const std::vector<Trunk> got = TrunkSignals();
    ASSERT_EQ(8u, got.size());
    EXPECT_EQ(p.slips0, got[0].slips) << "pass " << n;
    EXPECT_EQ(p.slips1, got[1].slips) << "pass " << n;
    EXPECT_EQ(ACP::TrunkState::normal, got[0].state);
    ++n;
  }
}

TEST_F(SpiCtrlTest, ClockMasterWritesRegister87) {
  Make();
  framers.clear_log();
  spi->clock(8);
  spi->clock(-2);
  EXPECT_TRUE(Writes().empty());
  const std::string log = streams.log.text();
  EXPECT_NE(std::string::npos, log.find("spi: bad channel for set clock master 8\n"));
  EXPECT_NE(std::string::npos, log.find("spi: bad channel for set clock master -2\n"));

  spi->clock(-1);
  std::vector<Write> none;
  for (int ch = 0; ch < 8; ++ch) none.push_back(Write{ch, 87, 48});
  EXPECT_EQ(none, Writes());
  EXPECT_NE(std::string::npos, streams.log.text().find("spi: clock master disabled\n"));

  framers.clear_log();
  spi->clock(7);
  std::vector<Write> seven = none;
  seven.push_back(Write{7, 87, 56});
  EXPECT_EQ(seven, Writes());
  EXPECT_NE(std::string::npos, streams.log.text().find("spi: set clock master on channel 7\n"));
}

TEST_F(SpiCtrlTest, BadChannelsAreRefusedBySetUp) {
  Make();
  framers.clear_log();
  spi->init_channel(8);
  spi->enable_channel(-1);
  spi->disable_channel(100);
  EXPECT_TRUE(Writes().empty());
  const std::string log = streams.log.text();
  EXPECT_NE(std::string::npos, log.find("spi: bad channel for init 8\n"));
  EXPECT_NE(std::string::npos, log.find("spi: bad channel for enable -1\n"));
  EXPECT_NE(std::string::npos, log.find("spi: bad channel for disable 100\n"));
}

TEST_F(SpiCtrlTest, WriteErrorIsLoggedAndTheServiceGoesOn) {
  Make();
  framers.clear_log();
  Board("fail ioctl /dev/hal 0xC0034204 EIO");
  spi->disable_channel(2);
  spi->enable_channel(2);
  EXPECT_NE(std::string::npos, streams.log.text().find("spi: write error: channel=2 addr=50 data=128\n"));
  EXPECT_EQ(std::vector<Write>{(Write{2, 50, 0})}, Writes());
  EXPECT_TRUE(spi->IsPresent());
}

TEST_F(SpiCtrlTest, StatusEverySecondWhileConnected) {
  Make();
  EXPECT_FALSE(spi->IsPolling());
  Connect();
  EXPECT_TRUE(spi->IsPolling());
  EXPECT_TRUE(TrunkSignals().empty()) << "nothing at once";
  linktest::advance(clock, 1000);
  EXPECT_EQ(8u, TrunkSignals().size());
  linktest::advance(clock, 1000);
  EXPECT_EQ(8u, TrunkSignals().size());
  Disconnect();
  EXPECT_FALSE(spi->IsPolling());
}

TEST_F(SpiCtrlTest, HalWithoutSpiSilencesTheServiceForGood) {
  Make();
  Connect();
  Board("spi nospi on");
  framers.clear_log();
  spi->status();
  EXPECT_FALSE(spi->IsPresent());
  EXPECT_FALSE(spi->IsPolling());
  EXPECT_TRUE(TrunkSignals().empty());
  spi->status();
  spi->clock(-1);
  spi->enable_channel(1);
  EXPECT_EQ(0, spi->read(1, 51));
  Disconnect();
  Connect();
  EXPECT_FALSE(spi->IsPolling());
  EXPECT_EQ(1u, Count(streams.log.text(), "spi: hal without spi\n")) << streams.log.text();
  // Nothing reached the bus, even once the board answers again.
  Board("spi nospi off");
  spi->clock(2);
  EXPECT_TRUE(Writes().empty());
}

TEST_F(SpiCtrlTest, TakesNoCommand) {
  Make();
  Connect();
  LGCP::Command clock;
  clock.select_clockCfg();
  EXPECT_EQ(LGCP::ErrorCause::unexpectedMsgType, Controller::ErrorOf(Call(clock, 5)));
}

TEST_F(SpiCtrlTest, DestructionDisablesEveryChannelAndTheClockMaster) {
  Make();
  framers.clear_log();
  spi.reset();
  std::vector<Write> expected;
  for (int ch = 0; ch < 8; ++ch) expected.push_back(Write{ch, 50, 128});
  for (int ch = 0; ch < 8; ++ch) expected.push_back(Write{ch, 87, 48});
  EXPECT_EQ(expected, Writes());
}

}  // namespace
