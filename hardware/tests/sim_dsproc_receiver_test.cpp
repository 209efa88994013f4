// The voice-processing receivers over the simulated "/dev/dsp", in the loop.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "board/dsp.h"
#include "control/trace_ctl.h"
#include "foundation/tests/loop_test_util.h"
#include "hardware/dev_names.h"
#include "hardware/dsproc_receiver.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "sim_receiver_test_util.h"
#include "simboard/dsp.h"

namespace {

using Hardware::DSProcReceiver;
using Hardware::DSProcReceiverService;
using Hardware::DSProcSDEvent;
using Hardware::DSProcVADEvent;
using looptest::Capture;
using rxtest::Cmd;
using rxtest::Field;

// A slot that has one timeslot and notes what it gets, one line per event.
class Receiver : private DSProcReceiver {
public:
  explicit Receiver(std::uint32_t ts) : ts_(ts) {}
  ~Receiver() override { CleanBeforeDestroy(); }

  using DSProcReceiver::CleanBeforeDestroy;
  using DSProcReceiver::configureDelays;
  using DSProcReceiver::configureRxGain;
  using DSProcReceiver::configureSD;
  using DSProcReceiver::configureToneFilter;
  using DSProcReceiver::configureVAD;
  using DSProcReceiver::delays_set;
  using DSProcReceiver::disableBSS;
  using DSProcReceiver::disableMute;
  using DSProcReceiver::disableNG;
  using DSProcReceiver::disableSD;
  using DSProcReceiver::disableToneAll;
  using DSProcReceiver::disableVAD;
  using DSProcReceiver::enableBSS;
  using DSProcReceiver::enableMute;
  using DSProcReceiver::enableNG;
  using DSProcReceiver::enableSD;
  using DSProcReceiver::enableVAD;
  using DSProcReceiver::mute_id;
  using DSProcReceiver::mute_rx;
  using DSProcReceiver::mute_tx;
  using DSProcReceiver::rx_gain_set;
  using DSProcReceiver::sd_state;
  using DSProcReceiver::vad_id;
  using DSProcReceiver::vad_state;

  std::vector<std::string> events;

private:
  void dsproc_vad_event(DSProcVADEvent const& e) override {
    events.push_back("vad " + std::to_string(e.rx) + " " + std::to_string(e.tx));
  }
  void dsproc_bss_event(Board::Dsp::dsproc_bss_event const* e) override {
    events.push_back("bss " + std::to_string(e->score));
  }
  void dsproc_sd_event(DSProcSDEvent const& e) override { events.push_back("sd " + std::to_string(e.rx)); }
  void dsproc_tone_flt_event(Board::Dsp::dsproc_tone_event const* e) override {
    events.push_back("tone " + std::to_string(e->word[0]) + " " + std::to_string(e->word[1]) + " " +
                     std::to_string(e->word[2]));
  }
  void dsproc_flags_event(Board::Dsp::dsproc_flags_event const* e) override {
    events.push_back("flags " + std::to_string(e->flags) + " " + std::to_string(e->mask));
  }
  std::uint32_t dsproc_timeslot() const override { return ts_; }

  std::uint32_t ts_;
};

LGCP::VADParams V1() {
  LGCP::VADParams p;
  p.select_v1();
  return p;
}

LGCP::VADParams V2(int voice, int silence, int energy) {
  TERM::VADParamsV2 v2;
  v2.set_voice_th_msec(voice);
  v2.set_silence_th_msec(silence);
  v2.set_e_th_dB(energy);
  LGCP::VADParams p;
  p.select_v2(v2);
  return p;
}

class DsprocTest : public ::testing::Test {
protected:
  DsprocTest()
      : sim(SimBoard::Simulator::instance()),
        dsp(sim.device<SimBoard::Dsp>(Board::Dsp::kDevice)),
        service(DSProcReceiverService::instance()) {
    sim.reset();
    if (!service.IsActive()) service.init();
  }
  ~DsprocTest() override {
    traces.signalling.events = false;
    sim.reset();
  }

  std::vector<std::string> Get(std::uint32_t ts) { return Cmd("dsp get " + std::to_string(ts)); }
  std::string State(std::uint32_t ts) { return Get(ts).at(0); }
  std::string Config(std::uint32_t ts, const std::string& kind) { return rxtest::Line(Get(ts), kind + "-config"); }

  void Deliver() { ASSERT_TRUE(rxtest::DrainLoop(service.lowlevel_fd())); }

  SimBoard::Simulator& sim;
  SimBoard::Dsp* dsp;
  DSProcReceiverService& service;
};

TEST_F(DsprocTest, DeviceNamesAgreeAndTheDefaultDriverIsVersion2) {
  ASSERT_NE(nullptr, dsp);
  EXPECT_STREQ(Board::Dsp::kDevice, GetDSPDevName());
  EXPECT_EQ(std::vector<std::string>{"version=2"}, Cmd("dsp version"));
  EXPECT_TRUE(service.IsActive());
}

TEST_F(DsprocTest, VadConfigurationFollowsTheDriverVersion) {
  struct Case {
    const char* version;
    bool v2;
    bool done;
    const char* config;  // "" when nothing was sent
  } cases[] = {
      {"2", true, true, "vad-config voice=300 silence=800 energy=-40 requests=1"},
      {"2", false, false, ""},
      {"1", true, true, "vad-config words=3,127,0 requests=1"},
      {"1", false, true, "vad-config words=3,127,0 requests=1"},
      {"fail", true, true, "vad-config words=3,127,0 requests=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.version) + (c.v2 ? " v2" : " v1"));
    sim.reset();
    Cmd(std::string("dsp version ") + c.version);
    Receiver r(5);
    Capture out(std::clog), err(std::cerr);
    EXPECT_EQ(c.done, r.configureVAD(c.v2 ? V2(300, 800, -40) : V1()));
    EXPECT_EQ(c.config, Config(5, "vad"));
    if (c.done) {
      EXPECT_EQ("DSPROC_CONFIGURE VAD ts=5\n", out.text());
    } else {
      EXPECT_EQ("DSPROC_CONFIGURE VAD: params not specified for v2:  timeslot=5\n", err.text());
    }
  }
}

TEST_F(DsprocTest, VadEventDirectionsFollowTheMask) {
  Receiver r(6);
  ASSERT_TRUE(r.enableVAD(true));
  const char* expected[] = {"vad -1 -1", "vad 5 -1", "vad -1 -7", "vad 5 -7"};
  for (int mask = 0; mask < 4; ++mask) Cmd("dsp vad 6 " + std::to_string(mask) + " 5 -7");
  Deliver();
  EXPECT_EQ(std::vector<std::string>(std::begin(expected), std::end(expected)), r.events);
}

TEST_F(DsprocTest, VadAndSdEventsNeedTheFunctionOnAndItsId) {
  Receiver r(7);
  // Never enabled: only records with id 0 pass.
  Cmd("dsp vad 7 3 1 2 9");
  Cmd("dsp vad 7 3 1 2 0");
  Cmd("dsp sd 7 4 9");
  Cmd("dsp sd 7 5 0");
  Deliver();
  EXPECT_EQ(std::vector<std::string>({"vad 1 2", "sd 5"}), r.events);
  r.events.clear();

  ASSERT_TRUE(r.enableVAD(true));
  ASSERT_TRUE(r.enableSD(true));
  traces.signalling.events = true;
  Capture out(std::clog);
  Cmd("dsp vad 7 1 11 0");  // the function's id
  Cmd("dsp vad 7 1 12 0 " + std::to_string(r.vad_id() - 1));
  Cmd("dsp sd 7 13");
  Deliver();
  EXPECT_EQ(std::vector<std::string>({"vad 11 -1", "sd 13"}), r.events);
  EXPECT_NE(std::string::npos,
            out.text().find("ignore spurious dsproc vad event:  timeslot=7 id=" + std::to_string(r.vad_id() - 1) +
                            " type=1 rid=" + std::to_string(r.vad_id()) + "\n"));
  r.events.clear();

  ASSERT_TRUE(r.disableVAD());
  ASSERT_TRUE(r.disableSD());
  Cmd("dsp vad 7 1 14 0");
  Cmd("dsp sd 7 15");
  Deliver();
  EXPECT_TRUE(r.events.empty());
  EXPECT_EQ(2, rxtest::Count(out.text(), "ignore spurious dsproc vad event (dsproc disabled): "));
}

TEST_F(DsprocTest, BssIsDeliveredWhateverItsIdWhileOn) {
  Receiver r(8);
  Cmd("dsp bss 8 0.5");
  Deliver();
  EXPECT_TRUE(r.events.empty());
  ASSERT_TRUE(r.enableBSS(true));
  Cmd("dsp bss 8 0.75 12345");
  Cmd("dsp bss 8 -2.5");
  Deliver();
  EXPECT_EQ(std::vector<std::string>({"bss 0.750000", "bss -2.500000"}), r.events);
}

TEST_F(DsprocTest, ToneAndFlagsEventsAreAlwaysDelivered) {
  Receiver r(9);
  traces.signalling.events = true;
  Capture out(std::clog);
  Cmd("dsp tone 9 2100 1 450");
  Cmd("dsp flags 9 0x10 0x30");
  Deliver();
  EXPECT_EQ(std::vector<std::string>({"tone 2100 1 450", "flags 16 48"}), r.events);
  EXPECT_NE(std::string::npos, out.text().find("dsproc flags event:  flags=0x10, mask=0x30\n"));
}

TEST_F(DsprocTest, TracedLinesOfEachEvent) {
  Receiver r(10);
  ASSERT_TRUE(r.enableVAD(true));
  ASSERT_TRUE(r.enableSD(true));
  ASSERT_TRUE(r.enableBSS(true));
  traces.signalling.events = true;
  Capture out(std::clog), err(std::cerr);
  Cmd("dsp vad 10 3 -4 6 77");
  Cmd("dsp sd 10 -9 " + std::to_string(r.vad_id() + 1));
  Cmd("dsp bss 10 0.25");
  Cmd("dsp flags 11 1 1");
  Deliver();
  EXPECT_EQ(
      "dsproc event:  timeslot=10 id=77 type=1\n"
      "dsproc vad event:  dir_mask=3 vad_rx=-4 vad_tx=6\n"
      "ignore spurious dsproc vad event:  timeslot=10 id=77 type=1 rid=" +
          std::to_string(r.vad_id()) +
          "\n"
          "dsproc event:  timeslot=10 id=" +
          std::to_string(r.vad_id() + 1) +
          " type=2\n"
          "dsproc sd event:  sd_rx=-9\n"
          "dsproc event:  timeslot=10 id=" +
          std::to_string(r.vad_id() + 2) +
          " type=16\n"
          "dsproc bss event:  score=0.25\n"
          "dsproc event:  timeslot=11 id=0 type=512\n"
          "dsproc flags event:  flags=0x1, mask=0x1\n",
      rxtest::WithoutLoopEnd(out.text()));
  EXPECT_EQ("receive dsproc event from unknown timeslot 11\n", err.text());
  EXPECT_EQ(std::vector<std::string>({"sd -9", "bss 0.250000"}), r.events);
}

TEST_F(DsprocTest, UntracedDropsAreSilent) {
  Receiver r(12);
  Capture out(std::clog), err(std::cerr);
  Cmd("dsp bss 12 1");
  Cmd("dsp vad 13 1 1 1");
  Deliver();
  EXPECT_EQ("", rxtest::WithoutLoopEnd(out.text()));
  EXPECT_EQ("", err.text());
  EXPECT_TRUE(r.events.empty());
}

TEST_F(DsprocTest, FirstDisableOfUnsetVadAndSdIsSent) {
  Receiver r(14);
  Capture err(std::cerr);
  EXPECT_TRUE(r.disableBSS());
  EXPECT_TRUE(r.disableNG());
  EXPECT_EQ("", err.text());
  EXPECT_TRUE(r.disableVAD());
  EXPECT_TRUE(r.disableSD());
  EXPECT_EQ("DSPROC_DISABLE VAD done: timeslot=14\nDSPROC_DISABLE SD done: timeslot=14\n", err.text());
  EXPECT_EQ(0, r.vad_state());
  EXPECT_EQ(0, r.sd_state());
  // Off now: no second request.
  EXPECT_TRUE(r.disableVAD());
  EXPECT_EQ(2, rxtest::Count(err.text(), "\n"));
}

TEST_F(DsprocTest, IdsAreSharedAndWrapToOne) {
  Receiver r(15);
  service.set_last_feature_id(0xFFFFFFFEu);
  ASSERT_TRUE(r.enableVAD(true));
  EXPECT_EQ(0xFFFFFFFFu, r.vad_id());
  ASSERT_TRUE(r.enableMute(true, true));
  EXPECT_EQ(1u, r.mute_id());
  ASSERT_TRUE(r.enableNG(true));
  EXPECT_EQ("2", Field(State(15), "ng-id"));
  EXPECT_EQ("1", Field(State(15), "mute-rx-id"));
  EXPECT_EQ("4294967295", Field(State(15), "vad-id"));
}

TEST_F(DsprocTest, MuteNamesTheMutedDirections) {
  Receiver r(16);
  ASSERT_TRUE(r.enableMute(false, true));
  EXPECT_EQ("off", Field(State(16), "mute-rx"));
  EXPECT_EQ("on", Field(State(16), "mute-tx"));
  ASSERT_TRUE(r.enableMute(true, false));
  EXPECT_EQ(1, r.mute_rx());
  EXPECT_EQ(0, r.mute_tx());
  EXPECT_EQ("on", Field(State(16), "mute-rx"));
  EXPECT_EQ("off", Field(State(16), "mute-tx"));
  Capture err(std::cerr);
  EXPECT_TRUE(r.enableMute(true, false));
  EXPECT_EQ("", err.text());
  EXPECT_TRUE(r.disableMute());
  EXPECT_EQ("DSPROC_DISABLE MUTE done: timeslot=16\n", err.text());
  EXPECT_EQ("off", Field(State(16), "mute-rx"));
}

TEST_F(DsprocTest, CleanBeforeDestroySwitchesEveryFunctionOff) {
  {
    Receiver r(17);
    ASSERT_TRUE(r.enableVAD(true));
    ASSERT_TRUE(r.enableSD(true));
    ASSERT_TRUE(r.enableBSS(true));
    ASSERT_TRUE(r.enableNG(true));
    ASSERT_TRUE(r.enableMute(true, true));
    ASSERT_TRUE(r.configureDelays(40, 60));
    ASSERT_TRUE(r.configureRxGain(static_cast<unsigned char>(-6)));
    ASSERT_TRUE(r.configureToneFilter(2100, 1, 400, -30));
    EXPECT_EQ("ts=17 vad=on", State(17).substr(0, 12));
    EXPECT_EQ("on", Field(State(17), "tones"));
  }
  const std::string after = State(17);
  for (const char* f : {"vad", "sd", "bss", "ng", "mute-rx", "mute-tx", "tones"})
    EXPECT_EQ("off", Field(after, f)) << f;
  EXPECT_EQ("delays-config rx=0 tx=0 requests=2", Config(17, "delays"));
  EXPECT_EQ("gain-config byte=0 requests=2", Config(17, "gain"));
  EXPECT_EQ("tone-config freq=2100 enable=0 duration=400 level=226", Config(17, "tone"));
}

TEST_F(DsprocTest, CleanBeforeDestroyLeavesUntouchedFunctionsAlone) {
  Receiver r(18);
  Capture out(std::clog), err(std::cerr);
  r.CleanBeforeDestroy();
  EXPECT_EQ("", err.text());
  EXPECT_EQ("DISABLE ALL TONE done:  ts=18\n", out.text());
  EXPECT_EQ(1u, Get(18).size());
}

TEST_F(DsprocTest, FailedDelayResetIsSentAgainAtCleanUp) {
  {
    Receiver r(19);
    ASSERT_TRUE(r.configureDelays(20, 30));
    EXPECT_TRUE(r.delays_set());
    Cmd("fail ioctl /dev/dsp 0x40146401 EIO");
    Capture err(std::cerr);
    EXPECT_FALSE(r.configureDelays(0, 0));
    EXPECT_EQ("DSPROC_CONFIGURE DELAYS fail: timeslot=19 errno=\"" + std::string(strerror(EIO)) + "\"\n", err.text());
    EXPECT_TRUE(r.delays_set());
    EXPECT_EQ("delays-config rx=20 tx=30 requests=1", Config(19, "delays"));
    // The same for the gain.
    ASSERT_TRUE(r.configureRxGain(3));
    Cmd("fail ioctl /dev/dsp 0x40146401 EIO");
    EXPECT_FALSE(r.configureRxGain(0));
    EXPECT_TRUE(r.rx_gain_set());
  }
  EXPECT_EQ("delays-config rx=0 tx=0 requests=2", Config(19, "delays"));
  EXPECT_EQ("gain-config byte=0 requests=2", Config(19, "gain"));
}

TEST_F(DsprocTest, GainGoesOutAsItsByte) {
  Receiver r(20);
  Capture out(std::clog);
  ASSERT_TRUE(r.configureRxGain(static_cast<unsigned char>(-6)));
  EXPECT_EQ("DSPROC_CONFIGURE RX GAIN ts=20 gain_dB=250\n", out.text());
  EXPECT_EQ("gain-config byte=250 requests=1", Config(20, "gain"));
  EXPECT_TRUE(r.rx_gain_set());
  ASSERT_TRUE(r.configureRxGain(0));
  EXPECT_FALSE(r.rx_gain_set());
}

TEST_F(DsprocTest, ConfigurationLines) {
  Receiver r(21);
  Capture out(std::clog);
  EXPECT_TRUE(r.configureSD());
  EXPECT_TRUE(r.configureDelays(7, 0));
  EXPECT_TRUE(r.configureToneFilter(1750, 1, 300, 20));
  EXPECT_TRUE(r.disableToneAll());
  EXPECT_EQ(
      "DSPROC_CONFIGURE SD ts=21\n"
      "DSPROC_CONFIGURE DELAYS ts=21 rx=7 tx=0\n"
      "DSPROC_CONFIGURE TONE FILTER ts=21 freq=1750, en=1, dur_th_msec=300, det_lvl_dB=20\n"
      "DISABLE ALL TONE done:  ts=21\n",
      out.text());
  EXPECT_EQ("sd-config requests=1", Config(21, "sd"));
  EXPECT_EQ("tone-config freq=1750 enable=0 duration=300 level=20", Config(21, "tone"));
  EXPECT_TRUE(r.delays_set());
}

TEST_F(DsprocTest, FailedEnableKeepsTheStateAndUsesAnId) {
  Receiver r(22);
  Cmd("fail ioctl /dev/dsp 0x400C6402 EBUSY");
  Capture err(std::cerr);
  const std::uint32_t before = service.last_feature_id();
  EXPECT_FALSE(r.enableVAD(true));
  EXPECT_EQ(-1, r.vad_state());
  EXPECT_EQ(0u, r.vad_id());
  EXPECT_EQ(before + 1, service.last_feature_id());
  EXPECT_EQ("DSPROC_ENABLE VAD fail: timeslot=22 id=" + std::to_string(before + 1) + " errno=\"" +
                std::string(strerror(EBUSY)) + "\"\n",
            err.text());
  EXPECT_EQ("off", Field(State(22), "vad"));
}

TEST_F(DsprocTest, HangupAndFailedOpen) {
  Receiver r(23);
  Capture err(std::cerr);
  Cmd("hangup /dev/dsp");
  ASSERT_TRUE(simtest::run_until([&] { return !service.IsActive(); }));
  EXPECT_EQ(0u, err.text().find("dsproc device closed: "));
  EXPECT_EQ(1, rxtest::Count(err.text(), "\n"));
  for (int n = 1; n <= 3; ++n) Cmd("fail open /dev/dsp ENOENT " + std::to_string(n));
  Capture err2(std::cerr);
  EXPECT_FALSE(r.configureVAD(V1()));
  EXPECT_FALSE(r.enableBSS(true));
  EXPECT_FALSE(r.disableToneAll());
  const std::string opens = "open dsproc fail, VAD proceeding disabled: " + std::string(strerror(ENOENT)) + "\n";
  EXPECT_EQ(opens + "configure VAD fail: (interface not opened) timeslot=23\n" + opens +
                "DSPROC_ENABLE BSS fail: timeslot=23 id=" + std::to_string(service.last_feature_id()) + " errno=\"" +
                strerror(EBADF) + "\"\n" + opens + "Disable All Tone fail: (interface not opened) timeslot=23\n",
            err2.text());
  // The next request opens the device again.
  EXPECT_TRUE(r.enableBSS(true));
  EXPECT_TRUE(service.IsActive());
  Cmd("dsp bss 23 2");
  Deliver();
  EXPECT_EQ(std::vector<std::string>({"bss 2.000000"}), r.events);
}

TEST_F(DsprocTest, ZeroByteRecordEndsTheDrain) {
  Receiver r(24);
  Cmd("fail read /dev/dsp zero");
  Cmd("dsp flags 24 1 1");
  Cmd("dsp flags 24 2 2");
  Capture err(std::cerr);
  service.OnEvent(service.lowlevel_fd(), POLLIN);
  EXPECT_TRUE(r.events.empty());
  EXPECT_EQ("short read from dsproc: 0 bytes\n", err.text());
  Deliver();
  EXPECT_EQ(std::vector<std::string>({"flags 2 2"}), r.events);
}

}  // namespace
