// The mixer factory and its ports in-process, on the simulated board's
// "/dev/mixer", "/dev/dtmf" and "/dev/dsp": the refresh of the units, the
// routes of an output, and what each ioctl does on an input and an output.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "simboard/simulator.h"
#include "slots/mixer_slot.h"

namespace {

using Mixer::MixerFactory;

// Keeps a stream's text from the test's output.
class Quiet {
public:
  explicit Quiet(std::ostream& s) : stream_(s), old_(s.rdbuf(buf_.rdbuf())) {}
  ~Quiet() { stream_.rdbuf(old_); }
  std::string text() const { return buf_.str(); }

private:
  std::ostream& stream_;
  std::ostringstream buf_;
  std::streambuf* old_;
};

LGCP::CreateParams In(int unit, int channel) {
  LGCP::CreateParams c;
  LGCP::MixerInParams& p = c.select_mixerIn();
  p.set_unit(unit);
  p.set_channel().select_tdm(channel);
  return c;
}

LGCP::CreateParams Out(int unit, int channel, const std::vector<std::pair<int, int>>& inputs) {
  LGCP::CreateParams c;
  LGCP::MixerOutParams& p = c.select_mixerOut();
  p.set_unit(unit);
  p.set_channel().select_tdm(channel);
  p.set_inputs().clear();
  for (const auto& in : inputs) {
    LGCP::MixerInput input;
    if (in.first < 0)
      input.set_channel().select_rtp(1);
    else
      input.set_channel().select_tdm(in.first);
    input.set_gain(in.second);
    p.set_inputs().push_back(input);
  }
  return c;
}

class MixerTest : public ::testing::Test {
protected:
  MixerTest() : sim(SimBoard::Simulator::instance()), factory(MixerFactory::instance()) {
    sim.reset();
    // Units left by an earlier test go now.
    Refresh();
  }
  ~MixerTest() override {
    for (Slot* s : made) Release(s);
    sim.reset();
    Refresh();
  }

  void Refresh() {
    Quiet err(std::cerr), log(std::clog);
    factory.RefreshResources();
  }

  std::vector<int> Ids() const {
    std::vector<int> ids;
    for (const Mixer::Mixer* m : factory.units()) ids.push_back(m->id());
    return ids;
  }

  std::vector<std::string> Board(const std::string& command) {
    const SimBoard::Reply r = sim.execute(command);
    EXPECT_FALSE(r.failed()) << command << ": " << r.error();
    return r.lines();
  }

  int Count(const std::string& part) {
    int n = 0;
    for (const std::string& l : Board("mixer log"))
      if (l.find(part) != std::string::npos) ++n;
    return n;
  }

  Slot* Make(const LGCP::CreateParams& params) {
    Quiet err(std::cerr), log(std::clog);
    Slot* s = factory.NewSlot(params);
    if (s) made.push_back(s);
    return s;
  }

  void Release(Slot* s) {
    Quiet err(std::cerr), log(std::clog);
    EXPECT_TRUE(s->BeforeDestroy());
    delete s;
  }

  SimBoard::Simulator& sim;
  MixerFactory& factory;
  std::vector<Slot*> made;
};

TEST_F(MixerTest, RefreshTakesTheSmallestCountsAndResetsNewUnits) {
  EXPECT_EQ((std::vector<int>{0, 1}), Ids());
  EXPECT_EQ(32, factory.tdm_channels());
  EXPECT_EQ(8, factory.mixer_inputs());
  EXPECT_TRUE(factory.version_valid());
  EXPECT_EQ(2u, factory.voice_version().word[0]);

  Board("mixer log clear");
  Board("mixer unit add 5 16 2");
  Board("mixer unit add 3 24 12");
  Refresh();
  EXPECT_EQ((std::vector<int>{0, 1, 5, 3}), Ids());
  EXPECT_EQ(16, factory.tdm_channels());
  EXPECT_EQ(2, factory.mixer_inputs());
  // Known units are not reset again; a new one with the counts so far.
  EXPECT_EQ(0, Count("MIX_RX_CLEAR 0/"));
  EXPECT_EQ(16, Count("MIX_RX_CLEAR 5/"));
  EXPECT_EQ(16, Count("MIX_RX_CLEAR 3/"));
  EXPECT_EQ(5, Count("MIX_INFO"));

  Board("mixer unit remove 0");
  Refresh();
  EXPECT_EQ((std::vector<int>{1, 5, 3}), Ids());
  EXPECT_EQ(nullptr, factory.findMixer(0));
  ASSERT_NE(nullptr, factory.findMixer(3));
  EXPECT_EQ(3, factory.findMixer(3)->id());

  // A unit that comes back is a new one.
  Board("mixer unit add 0 32 8");
  Board("mixer log clear");
  Refresh();
  EXPECT_EQ((std::vector<int>{1, 5, 3, 0}), Ids());
  EXPECT_EQ(16, Count("MIX_RX_CLEAR 0/"));
}

TEST_F(MixerTest, RefreshTakesAtMostAHundredAnswers) {
  for (int d = 2; d < 120; ++d) Board("mixer unit add " + std::to_string(d) + " 32 8");
  Refresh();
  EXPECT_EQ(100u, Ids().size());
  EXPECT_EQ(99, Ids().back());
  Board("mixer log clear");
  Refresh();
  // All found again: none reset, none lost.
  EXPECT_EQ(100u, Ids().size());
  EXPECT_EQ(100, Count("MIX_INFO"));
  EXPECT_EQ(0, Count("MIX_RX_CLEAR"));
}

TEST_F(MixerTest, AUnitGoneLivesUntilItsLastPortIsReleased) {
  Slot* in = Make(In(1, 2));
  Slot* out = Make(Out(1, 3, {{2, 500}}));
  ASSERT_NE(nullptr, in);
  ASSERT_NE(nullptr, out);
  made.clear();
  Board("mixer unit remove 1");
  Quiet err(std::cerr);
  Refresh();
  EXPECT_EQ((std::vector<int>{0}), Ids());
  EXPECT_EQ(nullptr, Make(In(1, 4)));
  // The unit is only deleted with the second port.
  Release(in);
  Release(out);
}

TEST_F(MixerTest, SetTxAddsTheRoutesInListOrder) {
  Board("mixer log clear");
  Slot* out = Make(Out(0, 7, {{5, 100}, {2, 200}, {9, 300}}));
  ASSERT_NE(nullptr, out);
  EXPECT_EQ((std::vector<std::string>{"tx=5 gain=100", "tx=2 gain=200", "tx=9 gain=300"}), Board("mixer routes 0 7"));
  const std::vector<std::string> log = Board("mixer log");
  std::vector<std::string> requests;
  for (const std::string& l : log)
    if (l.find(" 0/0/7") != std::string::npos || l.find("rx=0/0/7") != std::string::npos) requests.push_back(l);
  EXPECT_EQ((std::vector<std::string>{"MIX_RX_CLEAR 0/0/7 -> 0", "MIX_RX_ADD rx=0/0/7 tx=0/0/5 gain=100 -> 0",
                                      "MIX_RX_ADD rx=0/0/7 tx=0/0/2 gain=200 -> 0",
                                      "MIX_RX_ADD rx=0/0/7 tx=0/0/9 gain=300 -> 0", "MIX_TDM 0/0/7 -> 16391"}),
            requests);
}

TEST_F(MixerTest, ARefusedOutputLeavesNoRoute) {
  struct Case {
    const char* what;
    std::vector<std::pair<int, int>> inputs;
    int channel;
    const char* fault;
  } cases[] = {
      {"an rtp input", {{1, 10}, {-1, 20}}, 4, nullptr},
      {"a failed second add", {{1, 10}, {2, 20}, {3, 30}}, 4, "fail ioctl /dev/mixer 0x801C4D03 EIO 2"},
      {"a channel beyond the units", {{1, 10}}, 32, nullptr},
      {"a failed MIX_TDM", {{1, 10}}, 4, "fail ioctl /dev/mixer 0x800C4D06 EIO 1"},
  };
  Board("mixer unit remove 1");
  Board("mixer unit add 1 64 8");
  Board("mixer unit remove 0");
  Board("mixer unit add 0 64 8");
  Refresh();
  Board("mixer unit remove 1");
  Board("mixer unit add 1 32 8");
  Refresh();
  ASSERT_EQ(32, factory.tdm_channels());
  for (const Case& c : cases) {
    if (c.fault) Board(c.fault);
    EXPECT_EQ(nullptr, Make(Out(0, c.channel, c.inputs))) << c.what;
    EXPECT_TRUE(Board("mixer routes 0 " + std::to_string(c.channel)).empty()) << c.what;
  }
}

using Fill = std::function<void(LGCP::IoctlParams&)>;

TEST_F(MixerTest, IoctlTablesOfTheInputAndTheOutput) {
  struct Row {
    const char* what;
    Fill fill;
    bool input;
    bool output;
  };
  const Row rows[] = {
      {"echoSuppressor", [](LGCP::IoctlParams& p) { p.select_echoSuppressor(true); }, true, false},
      {"dtmf-enable", [](LGCP::IoctlParams& p) { p.select_dtmf_enable(true); }, true, false},
      {"dtmf-reject-enable", [](LGCP::IoctlParams& p) { p.select_dtmf_reject_enable(true); }, true, false},
      {"dtmf-reject-disable", [](LGCP::IoctlParams& p) { p.select_dtmf_reject_disable(); }, false, true},
      {"dtmf-params",
       [](LGCP::IoctlParams& p) {
         LGCP::DTMFParams& d = p.select_dtmf_params();
         d.set_threshold().set_twist(1);
         d.set_threshold().set_ratio(2);
         d.set_threshold().set_noise(3);
         d.set_level().set_silence(4);
       },
       true, true},
      // Nothing is being sent.
      {"dtmf-disable", [](LGCP::IoctlParams& p) { p.select_dtmf_disable(); }, false, false},
      {"vad-enable", [](LGCP::IoctlParams& p) { p.select_vad_enable(true); }, true, true},
      {"vad-disable", [](LGCP::IoctlParams& p) { p.select_vad_disable(); }, true, true},
      {"sd-enable", [](LGCP::IoctlParams& p) { p.select_sd_enable(true); }, true, true},
      {"sd-disable", [](LGCP::IoctlParams& p) { p.select_sd_disable(); }, true, true},
      {"sd-params", [](LGCP::IoctlParams& p) { p.select_sd_params(); }, true, true},
      {"iva-enable", [](LGCP::IoctlParams& p) { p.select_iva_enable(true); }, true, true},
      {"iva-params", [](LGCP::IoctlParams& p) { p.select_iva_params().set_det_lvl_dB(-30); }, true, false},
      {"rx-gain", [](LGCP::IoctlParams& p) { p.select_rx_gain().set_gainDB(-6); }, true, false},
      {"tone-filter",
       [](LGCP::IoctlParams& p) {
         LGCP::ToneFilter& f = p.select_tone_filter();
         f.set_freq(2100);
         f.set_enable(true);
         f.set_duration_th_msec(50);
         f.set_det_level_dB(-20);
       },
       true, true},
      {"tone-gen-enable",
       [](LGCP::IoctlParams& p) {
         LGCP::ToneGenerator& g = p.select_tone_gen_enable();
         g.set_freq(425);
         g.set_amp(900);
       },
       false, true},
      {"tone-gen-disable", [](LGCP::IoctlParams& p) { p.select_tone_gen_disable(); }, false, true},
      {"delays", [](LGCP::IoctlParams& p) { p.select_delays().set_rx(20); }, true, true},
      {"mute-disable", [](LGCP::IoctlParams& p) { p.select_mute_disable(); }, false, false},
      {"deactivateTonec", [](LGCP::IoctlParams& p) { p.select_deactivateTonec(); }, false, false},
  };
  Slot* in = Make(In(0, 4));
  Slot* out = Make(Out(0, 6, {}));
  ASSERT_NE(nullptr, in);
  ASSERT_NE(nullptr, out);
  Quiet err(std::cerr), log(std::clog);
  for (const Row& r : rows) {
    LGCP::IoctlParams p;
    r.fill(p);
    EXPECT_EQ(r.input, in->Ioctl(p)) << r.what;
    EXPECT_EQ(r.output, out->Ioctl(p)) << r.what;
  }
  const std::vector<std::string> dtmf = Board("dtmf get 16388");
  std::string text;
  for (const std::string& l : dtmf) text += l + "\n";
  EXPECT_NE(std::string::npos, text.find("dtmf=on")) << text;
  EXPECT_NE(std::string::npos, text.find("echo=on")) << text;
  EXPECT_NE(std::string::npos, text.find("iva-config level=-30")) << text;
  // The output's generator got 425 Hz at amplitude 900 on its first tone.
  std::string gen;
  for (const std::string& l : Board("dtmf gen 16390")) gen += l + "\n";
  EXPECT_NE(std::string::npos, gen.find("425")) << gen;
}

}  // namespace
