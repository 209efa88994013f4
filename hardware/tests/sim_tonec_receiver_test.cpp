// The tone/DTMF receivers over the simulated "/dev/dtmf", in the loop with a
// clock the test moves.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "board/dtmf.h"
#include "foundation/mux_time.h"
#include "foundation/tests/loop_test_util.h"
#include "hardware/dev_names.h"
#include "hardware/tonec_receiver.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "sim_receiver_test_util.h"
#include "simboard/dtmf.h"

namespace {

using Hardware::TonecReceiver;
using Hardware::TonecReceiverService;
using looptest::Capture;
using rxtest::Cmd;
using rxtest::Field;

// A slot that has one timeslot and notes what it gets.
class Receiver : private TonecReceiver {
public:
  explicit Receiver(std::uint32_t ts) : ts_(ts) {}
  ~Receiver() override { CleanBeforeDestroy(); }

  using TonecReceiver::activateAudibleCall;
  using TonecReceiver::cancelAudibleCall;
  using TonecReceiver::configureDTMF;
  using TonecReceiver::configureIVA;
  using TonecReceiver::detector_id;
  using TonecReceiver::disableDTMF;
  using TonecReceiver::disableToneGenerator;
  using TonecReceiver::dtmf_detector_on;
  using TonecReceiver::echoCancel;
  using TonecReceiver::enableDTMF;
  using TonecReceiver::enableDTMFReject;
  using TonecReceiver::enableIVA;
  using TonecReceiver::enableSilence;
  using TonecReceiver::enableToneGenerator;
  using TonecReceiver::is_inDTMFTransmit;
  using TonecReceiver::iva_detector_on;
  using TonecReceiver::translateDTMF;
  using TonecReceiver::translateSelcal;

  std::vector<Params> events;
  int completes = 0;

private:
  void tonec_event(Params const& p) override { events.push_back(p); }
  std::uint32_t tonec_timeslot() const override { return ts_; }
  void tone_gen_complete() override { ++completes; }

  std::uint32_t ts_;
};

LGCP::TranslateDtmfParams Digits(const std::string& keys) {
  LGCP::TranslateDtmfParams p;
  for (const char k : keys) {
    const auto* tone = Dtmf::tonesValidator.find(k);
    if (!tone) {
      ADD_FAILURE() << "no key " << k;
      continue;
    }
    LGCP::DualTone d;
    d.set_freq1(tone->first);
    d.set_freq2(tone->second);
    p.ref_digits().push_back(d);
  }
  return p;
}

// One generator record as "<ms from t0> <what>".
struct Gen {
  long ms;
  std::string what;
  bool operator==(const Gen& o) const { return ms == o.ms && what == o.what; }
};
std::ostream& operator<<(std::ostream& out, const Gen& g) { return out << g.ms << " " << g.what; }

class TonecTest : public ::testing::Test {
protected:
  TonecTest()
      : sim(SimBoard::Simulator::instance()),
        dtmf(sim.device<SimBoard::Dtmf>(Board::Dtmf::kDevice)),
        service(TonecReceiverService::instance()) {
    sim.reset();
    // An earlier test may have left the device closed.
    if (!service.IsActive()) service.init();
    // The service's log limiters outlive a test: each test starts in a
    // second of its own.
    static unsigned tests = 0;
    clock.advance(10000 * ++tests);
    t0 = Mux::milliseconds();
  }
  ~TonecTest() override { sim.reset(); }

  // Moves the clock in 1 ms steps, firing what falls due.
  void Advance(unsigned ms) {
    for (unsigned i = 0; i < ms; ++i) {
      clock.advance(1);
      multiplexer.timers_schedule();
    }
  }

  std::vector<Gen> GenLog(std::uint32_t ts) {
    std::vector<Gen> log;
    for (const std::string& line : Cmd("dtmf gen " + std::to_string(ts))) {
      if (line == "(nothing)") break;
      const std::size_t blank = line.find(' ');
      log.push_back(Gen{static_cast<long>(std::stoul(line.substr(0, blank)) - t0), line.substr(blank + 1)});
    }
    return log;
  }

  std::string Get(std::uint32_t ts) { return Cmd("dtmf get " + std::to_string(ts)).at(0); }

  // Runs the loop until every queued record was read.
  void Deliver() { ASSERT_TRUE(rxtest::DrainLoop(service.lowlevel_fd())); }

  looptest::CachedClock clock;
  SimBoard::Simulator& sim;
  SimBoard::Dtmf* dtmf;
  TonecReceiverService& service;
  std::uint32_t t0;
};

TEST_F(TonecTest, DeviceNamesAgree) {
  ASSERT_NE(nullptr, dtmf);
  EXPECT_STREQ(Board::Dtmf::kDevice, GetDTMFDevName());
  EXPECT_TRUE(service.IsActive());
}

TEST_F(TonecTest, KeysHaveTheirQ23Tones) {
  const std::pair<char, std::pair<unsigned short, unsigned short>> cases[] = {
      {'1', {697, 1209}}, {'5', {770, 1336}}, {'9', {852, 1477}}, {'0', {941, 1336}},
      {'*', {941, 1209}}, {'#', {941, 1477}}, {'A', {697, 1633}}, {'D', {941, 1633}},
  };
  for (const auto& c : cases) {
    const auto* tone = Dtmf::tonesValidator.find(c.first);
    ASSERT_NE(nullptr, tone) << c.first;
    EXPECT_EQ(c.second, *tone) << c.first;
    // The key's index is its detector code: the simulated driver agrees.
    const int code = static_cast<int>(std::string(Dtmf::strRep).find(c.first));
    EXPECT_EQ(code, SimBoard::Dtmf::key(tone->first, tone->second)) << c.first;
  }
  EXPECT_EQ(nullptr, Dtmf::tonesValidator.find('E'));
}

TEST_F(TonecTest, DigitStringWithDefaultDurations) {
  Receiver r(3);
  r.translateDTMF(Digits("12"));
  EXPECT_TRUE(r.is_inDTMFTransmit());
  Advance(279);
  EXPECT_EQ(0, r.completes);
  Advance(1);
  EXPECT_EQ(1, r.completes);
  EXPECT_FALSE(r.is_inDTMFTransmit());
  const std::vector<Gen> expected = {
      {0, "tone 697 1209 16384 16384"},
      {70, "silence 1000 1000 0 0"},
      {140, "tone 697 1336 16384 16384"},
      {210, "silence 1000 1000 0 0"},
      {280, "off"},
  };
  EXPECT_EQ(expected, GenLog(3));
  Advance(1000);
  EXPECT_EQ(1, r.completes);
  EXPECT_EQ(5u, GenLog(3).size());
}

TEST_F(TonecTest, DigitStringWithItsOwnAmplitudesAndDurations) {
  Receiver r(4);
  LGCP::TranslateDtmfParams p = Digits("#");
  p.set_amp1(1000);
  p.set_amp2(70000);  // cut to 16 bits
  p.set_toneDuration(100);
  p.set_pauseDuration(40);
  r.translateDTMF(p);
  Advance(140);
  const std::vector<Gen> expected = {{0, "tone 941 1477 1000 4464"}, {100, "silence 1000 1000 0 0"}, {140, "off"}};
  EXPECT_EQ(expected, GenLog(4));
  EXPECT_EQ(1, r.completes);
}

TEST_F(TonecTest, EmptyStringCompletesBeforeReturning) {
  Receiver r(3);
  r.translateDTMF(LGCP::TranslateDtmfParams());
  EXPECT_EQ(1, r.completes);
  EXPECT_FALSE(r.is_inDTMFTransmit());
  EXPECT_EQ(std::vector<Gen>({{0, "off"}}), GenLog(3));
}

TEST_F(TonecTest, NewDigitsReplaceTheRestOfAStringInProgress) {
  Receiver r(3);
  r.translateDTMF(Digits("123"));
  Advance(10);
  r.translateDTMF(Digits("9"));
  Advance(270);
  const std::vector<Gen> expected = {
      {0, "tone 697 1209 16384 16384"},
      {70, "silence 1000 1000 0 0"},
      {140, "tone 852 1477 16384 16384"},
      {210, "silence 1000 1000 0 0"},
      {280, "off"},
  };
  EXPECT_EQ(expected, GenLog(3));
  EXPECT_EQ(1, r.completes);
}

TEST_F(TonecTest, AudibleCallCadenceAndCancel) {
  Receiver r(5);
  r.activateAudibleCall();
  Advance(8000);
  const std::vector<Gen> cadence = {
      {0, "tone 425 0 2048 2048"},     {1000, "silence 1000 1000 0 0"}, {4000, "tone 425 0 2048 2048"},
      {5000, "silence 1000 1000 0 0"}, {8000, "tone 425 0 2048 2048"},
  };
  EXPECT_EQ(cadence, GenLog(5));
  Advance(500);
  r.cancelAudibleCall();
  std::vector<Gen> expected = cadence;
  expected.push_back({8500, "off"});
  EXPECT_EQ(expected, GenLog(5));
  Advance(10000);
  EXPECT_EQ(expected, GenLog(5));
  EXPECT_EQ(0, r.completes);
}

TEST_F(TonecTest, AudibleCallEndsAStringInProgressAndCanBeCancelled) {
  Receiver r(6);
  r.translateDTMF(Digits("12"));
  Advance(100);
  r.activateAudibleCall();
  EXPECT_EQ(1, r.completes);
  EXPECT_FALSE(r.is_inDTMFTransmit());
  Advance(1000);
  r.cancelAudibleCall();
  Advance(10000);
  const std::vector<Gen> expected = {
      {0, "tone 697 1209 16384 16384"},
      {70, "silence 1000 1000 0 0"},
      {100, "tone 425 0 2048 2048"},
      {1100, "silence 1000 1000 0 0"},
      {1100, "off"},
  };
  EXPECT_EQ(expected, GenLog(6));
  EXPECT_EQ(1, r.completes);
  // A string started afterwards runs to its end.
  r.translateDTMF(Digits("3"));
  Advance(140);
  EXPECT_EQ(2, r.completes);
}

TEST_F(TonecTest, DisableToneGeneratorWithoutForceStopsOnlyAString) {
  Receiver r(3);
  EXPECT_FALSE(r.disableToneGenerator(false));
  EXPECT_TRUE(GenLog(3).empty());
  r.translateDTMF(Digits("1"));
  EXPECT_TRUE(r.disableToneGenerator(false));
  EXPECT_FALSE(r.is_inDTMFTransmit());
  Advance(1000);
  EXPECT_EQ(std::vector<Gen>({{0, "tone 697 1209 16384 16384"}, {0, "off"}}), GenLog(3));
  EXPECT_EQ(0, r.completes);
  EXPECT_TRUE(r.enableSilence());
  EXPECT_EQ((Gen{1000, "silence 1000 1000 0 0"}), GenLog(3).back());
}

TEST_F(TonecTest, IvaAndDtmfDetectorsEachHaveTheirOwnRequest) {
  Receiver r(3);
  Capture out(std::clog), err(std::cerr);
  EXPECT_TRUE(r.enableIVA(true));
  EXPECT_EQ("iva=on", "iva=" + Field(Get(3), "iva"));
  EXPECT_EQ("off", Field(Get(3), "dtmf"));
  EXPECT_TRUE(r.enableDTMF(true));
  const std::string id = std::to_string(service.last_detector_id());
  EXPECT_EQ("on", Field(Get(3), "dtmf"));
  EXPECT_EQ(id, Field(Get(3), "id"));
  EXPECT_EQ(id, std::to_string(r.detector_id()));
  EXPECT_EQ("IVA_DETECTOR_ENABLE[3] ok\n", out.text());
  EXPECT_EQ("DTMF_ENABLE_DETECTOR done: timeslot=3 id=" + id + "\n", err.text());
  // Each asks again only when its own detector changes.
  EXPECT_TRUE(r.enableIVA(true));
  EXPECT_TRUE(r.enableDTMF(true));
  EXPECT_EQ(id, std::to_string(service.last_detector_id()));
  EXPECT_TRUE(r.disableDTMF());
  EXPECT_EQ("off", Field(Get(3), "dtmf"));
  EXPECT_EQ("on", Field(Get(3), "iva"));
  EXPECT_TRUE(r.iva_detector_on());
  EXPECT_FALSE(r.dtmf_detector_on());
}

TEST_F(TonecTest, EventsReachOnlyAnOnDetector) {
  Receiver r(3);
  const std::uint32_t dtmfCode = 5, cedCode = 16, ivaCode = Board::Dtmf::kFirstIvaCode + 2;
  struct Step {
    const char* what;
    bool dtmf, iva;
  } steps[] = {
      {"nothing on", false, false},
      {"IVA on", false, true},
      {"both on", true, true},
      {"DTMF on", true, false},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    // Dropped events are logged a few a second.
    clock.advance(1000);
    ASSERT_TRUE(r.enableIVA(s.iva));
    ASSERT_TRUE(r.enableDTMF(s.dtmf));
    r.events.clear();
    Capture out(std::clog);
    for (std::uint32_t code : {dtmfCode, cedCode, ivaCode}) Cmd("dtmf event 3 " + std::to_string(code));
    Deliver();
    std::vector<std::uint32_t> got;
    for (const auto& e : r.events) got.push_back(e.code);
    std::vector<std::uint32_t> expected;
    if (s.dtmf) expected = {dtmfCode, cedCode};
    if (s.iva) expected.push_back(ivaCode);
    EXPECT_EQ(expected, got);
    EXPECT_EQ(s.dtmf ? 0 : 2, rxtest::Count(out.text(), "ignore spurious dtmf event (DTMF disabled): "));
    EXPECT_EQ(s.iva ? 0 : 1, rxtest::Count(out.text(), "ignore spurious dtmf event (IVA disabled): "));
  }
}

TEST_F(TonecTest, EventCarriesCodeAndTimestampAndAStaleIdIsDropped) {
  Receiver r(3);
  ASSERT_TRUE(r.enableDTMF(true));
  const std::uint32_t id = r.detector_id();
  Capture out(std::clog);
  Cmd("dtmf event 3 7");
  Cmd("dtmf event 3 8 " + std::to_string(id - 1));
  Deliver();
  ASSERT_EQ(1u, r.events.size());
  EXPECT_EQ(7u, r.events[0].code);
  EXPECT_EQ(t0, r.events[0].timestamp);
  const std::string fields = " timestamp=" + std::to_string(t0) + " timeslot=3 code=8 id=" + std::to_string(id - 1);
  EXPECT_NE(std::string::npos, out.text().find("dtmf event:  timestamp=" + std::to_string(t0) + " timeslot=3 code=7"));
  EXPECT_NE(std::string::npos,
            out.text().find("ignore spurious dtmf event: " + fields + " rid=" + std::to_string(id) + "\n"));
}

TEST_F(TonecTest, IvaAloneAcceptsOnlyIdZero) {
  Receiver r(8);
  ASSERT_TRUE(r.enableIVA(true));
  Cmd("dtmf event 8 300 1");
  Cmd("dtmf event 8 301");  // the timeslot's detector id: 0
  Deliver();
  ASSERT_EQ(1u, r.events.size());
  EXPECT_EQ(301u, r.events[0].code);
}

TEST_F(TonecTest, DetectorIdWrapsToOne) {
  Receiver r(3);
  service.set_last_detector_id(0xFFFFFFFEu);
  ASSERT_TRUE(r.enableDTMF(true));
  EXPECT_EQ(0xFFFFFFFFu, r.detector_id());
  ASSERT_TRUE(r.disableDTMF());
  ASSERT_TRUE(r.enableDTMF(true));
  EXPECT_EQ(1u, r.detector_id());
  EXPECT_EQ("1", Field(Get(3), "id"));
}

TEST_F(TonecTest, FirstReceiverOfATimeslotGetsItsEvents) {
  auto first = std::make_unique<Receiver>(4);
  Receiver second(4);
  ASSERT_TRUE(first->enableDTMF(true));
  Cmd("dtmf event 4 1");
  Deliver();
  EXPECT_EQ(1u, first->events.size());
  EXPECT_TRUE(second.events.empty());
  first.reset();
  ASSERT_TRUE(second.enableDTMF(true));
  Cmd("dtmf event 4 2");
  Deliver();
  ASSERT_EQ(1u, second.events.size());
  EXPECT_EQ(2u, second.events[0].code);
}

TEST_F(TonecTest, EventOfATimeslotWithoutReceiverIsLogged) {
  Capture err(std::cerr);
  Cmd("dtmf event 99 1");
  Deliver();
  EXPECT_EQ("receive tonec event from unknown timeslot 99\n", err.text());
}

TEST_F(TonecTest, AFloodOfEventsNobodyTakesLogsAFewLinesAndACount) {
  Capture err(std::cerr), out(std::clog);
  for (int i = 0; i < 50; ++i) Cmd("dtmf event 99 1");
  Deliver();
  Advance(1000);
  const std::string line = "receive tonec event from unknown timeslot 99\n";
  EXPECT_EQ(line + line + line + line + line + "45 more: " + line, err.text());
  EXPECT_EQ(6, rxtest::Count(out.text(), "dtmf event: "));
  EXPECT_EQ(1, rxtest::Count(out.text(), "45 more: dtmf event: "));
}

TEST_F(TonecTest, KeyPlayedOnOneTimeslotIsDetectedOnItsLoop) {
  Receiver sender(3), listener(7);
  Cmd("dtmf loop 3 7 on");
  ASSERT_TRUE(listener.enableDTMF(true));
  sender.translateDTMF(Digits("5"));
  Advance(69);
  Deliver();
  EXPECT_TRUE(listener.events.empty());
  Advance(1);
  ASSERT_TRUE(simtest::run_until([&] { return !listener.events.empty(); }));
  ASSERT_EQ(1u, listener.events.size());
  EXPECT_EQ(5u, listener.events[0].code);
  EXPECT_EQ(t0 + 70, listener.events[0].timestamp);
  EXPECT_TRUE(sender.events.empty());
  // Off again: the next key is not heard.
  Cmd("dtmf loop 3 7 off");
  sender.translateDTMF(Digits("6"));
  Advance(140);
  Deliver();
  EXPECT_EQ(1u, listener.events.size());
}

TEST_F(TonecTest, ConfigurationReachesTheDriver) {
  Receiver r(9);
  LGCP::DTMFParams p;
  p.set_threshold().set_twist(8);
  p.ref_threshold().set_ratio(6);
  p.ref_threshold().set_noise(65535);
  p.set_level().set_silence(300);
  Capture out(std::clog);
  EXPECT_TRUE(r.configureDTMF(p));
  LGCP::IVAParams iva;
  iva.set_det_lvl_dB(-30);
  EXPECT_TRUE(r.configureIVA(iva));
  EXPECT_TRUE(r.echoCancel(true));
  EXPECT_TRUE(r.enableDTMFReject(true));
  const std::vector<std::string> get = Cmd("dtmf get 9");
  EXPECT_EQ("ts=9 dtmf=off id=0 iva=off rejection=on echo=on", get.at(0));
  EXPECT_EQ("dtmf-config twist=8 ratio=6 silence=300 noise=65535", get.at(1));
  EXPECT_EQ("iva-config level=-30", get.at(2));
  EXPECT_EQ(
      "DTMF_CONFIGURE_DETECTOR ts=9 twist=8 ratio=6 noise=65535 silence=300\n"
      "IVA_CONFIGURE_DETECTOR ts=9 det_lvl_dB=-30\n"
      "CHANNEL_LMS_ON[9] ok\n"
      "DTMF_REJECTION_ENABLE[9] ok\n",
      out.text());
  EXPECT_TRUE(r.echoCancel(false));
  EXPECT_EQ("off", Field(Get(9), "echo"));
}

TEST_F(TonecTest, CleanBeforeDestroyUndoesWhatTheReceiverSwitchedOn) {
  {
    Receiver r(10);
    ASSERT_TRUE(r.enableDTMF(true));
    ASSERT_TRUE(r.enableIVA(true));
    ASSERT_TRUE(r.enableDTMFReject(true));
    ASSERT_TRUE(r.echoCancel(true));
    EXPECT_EQ("on", Field(Get(10), "rejection"));
  }
  const std::string after = Get(10);
  EXPECT_EQ("off", Field(after, "dtmf"));
  EXPECT_EQ("off", Field(after, "iva"));
  EXPECT_EQ("off", Field(after, "rejection"));
  // The next receiver of the timeslot starts without the echo canceller.
  EXPECT_EQ("off", Field(after, "echo"));
}

TEST_F(TonecTest, CleanBeforeDestroyStopsTheToneGenerator) {
  const struct {
    const char* what;
    void (*start)(Receiver&);
    // The generator's last request while the receiver lived.
    const char* playing;
  } cases[] = {
      {"wait tone", [](Receiver& r) { r.activateAudibleCall(); }, "tone 425 0 2048 2048"},
      {"digit string", [](Receiver& r) { r.translateDTMF(Digits("55")); }, "tone 770 1336 16384 16384"},
      {"a tone of its own", [](Receiver& r) { r.enableToneGenerator(1000, 0, 900, 0); }, "tone 1000 0 900 0"},
      {"silence", [](Receiver& r) { r.enableSilence(); }, "silence 1000 1000 0 0"},
  };
  std::uint32_t ts = 20;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    {
      Receiver r(ts);
      c.start(r);
      Advance(30);
      ASSERT_EQ(c.playing, GenLog(ts).back().what);
    }
    const std::vector<Gen> log = GenLog(ts);
    EXPECT_EQ((Gen{30, "off"}), log.back());
    // Nothing of the receiver's steps comes after it.
    Advance(5000);
    EXPECT_EQ(log, GenLog(ts));
    t0 = Mux::milliseconds();
    ++ts;
  }
  // A generator it never switched on is left alone.
  { Receiver r(ts); }
  EXPECT_TRUE(GenLog(ts).empty());
}

TEST_F(TonecTest, SelcalSendsFourSigns) {
  Receiver r(11);
  struct Case {
    const char* signs;
    int amp;  // -1: absent
    const char* logged;
  } cases[] = {
      {"ABCD", -1, "selcal 12000 ABCD"},
      {"PQRSX", 9000, "selcal 9000 PQRS"},
  };
  for (const Case& c : cases) {
    TERM::SelcalCommand cmd;
    cmd.set_signs(c.signs);
    if (c.amp >= 0) cmd.set_amp(c.amp);
    r.translateSelcal(cmd);
    EXPECT_EQ(c.logged, GenLog(11).back().what) << c.signs;
  }
  Capture err(std::cerr);
  TERM::SelcalCommand shortCmd;
  shortCmd.set_signs("ABC");
  r.translateSelcal(shortCmd);
  EXPECT_EQ("SELCAL_DIAL fail: timeslot=11 incorect signs:ABC\n", err.text());
  EXPECT_EQ(2u, GenLog(11).size());
}

TEST_F(TonecTest, FailedRequestsLogAndChangeNothing) {
  Receiver r(12);
  Cmd("fail ioctl /dev/dtmf 0x40084203 EIO");
  Capture err(std::cerr);
  const std::uint32_t before = service.last_detector_id();
  EXPECT_FALSE(r.enableDTMF(true));
  EXPECT_FALSE(r.dtmf_detector_on());
  // The failed enable used up its id.
  EXPECT_EQ(before + 1, service.last_detector_id());
  EXPECT_EQ("DTMF_ENABLE_DETECTOR fail: timeslot=12 id=" + std::to_string(before + 1) + " errno=\"" +
                std::string(strerror(EIO)) + "\"\n",
            err.text());
  Cmd("fail ioctl /dev/dtmf 0x4004420B EBUSY");
  EXPECT_FALSE(r.enableIVA(true));
  EXPECT_FALSE(r.iva_detector_on());
  Cmd("fail ioctl /dev/dtmf 0x400C4205 EIO");
  EXPECT_FALSE(r.enableSilence());
  EXPECT_NE(std::string::npos, err.text().find("IVA_DETECTOR_ENABLE fail: timeslot=12 errno="));
  EXPECT_NE(std::string::npos, err.text().find("DTMF_DIAL fail: timeslot=12 errno="));
  EXPECT_EQ("off", Field(Get(12), "dtmf"));
  EXPECT_EQ("off", Field(Get(12), "iva"));
}

TEST_F(TonecTest, HangupClosesWithOneLineAndTheNextRequestReopens) {
  Receiver r(3);
  Capture err(std::cerr), out(std::clog);
  Cmd("hangup /dev/dtmf");
  ASSERT_TRUE(simtest::run_until([&] { return !service.IsActive(); }));
  EXPECT_EQ(1, rxtest::Count(err.text(), "\n"));
  EXPECT_EQ(0u, err.text().find("tonec device closed: "));
  EXPECT_TRUE(r.enableDTMF(true));
  EXPECT_TRUE(service.IsActive());
  EXPECT_EQ("/dev/dtmf opens=1", rxtest::Line(Cmd("board devices"), "/dev/dtmf"));
  Cmd("dtmf event 3 4");
  Deliver();
  ASSERT_EQ(1u, r.events.size());
}

TEST_F(TonecTest, ZeroByteOrShortRecordEndsTheDrain) {
  Receiver r(3);
  ASSERT_TRUE(r.enableDTMF(true));
  for (const char* fault : {"zero", "short"}) {
    SCOPED_TRACE(fault);
    r.events.clear();
    Cmd(std::string("fail read /dev/dtmf ") + fault);
    Cmd("dtmf event 3 1");
    Cmd("dtmf event 3 2");
    Capture err(std::cerr);
    // The pass ends at the bad record: the good one waits for the next.
    service.OnEvent(service.lowlevel_fd(), POLLIN);
    EXPECT_TRUE(r.events.empty());
    EXPECT_EQ(std::string("short read from tonec: ") + (fault[0] == 'z' ? "0" : "8") + " bytes\n", err.text());
    service.OnEvent(service.lowlevel_fd(), POLLIN);
    ASSERT_EQ(1u, r.events.size());
    EXPECT_EQ(2u, r.events[0].code);
  }
}

TEST_F(TonecTest, FailedOpenLogsAndEveryRequestFailsCleanly) {
  Receiver r(3);
  Cmd("hangup /dev/dtmf");
  ASSERT_TRUE(simtest::run_until([&] { return !service.IsActive(); }));
  for (int n = 1; n <= 4; ++n) Cmd("fail open /dev/dtmf ENOENT " + std::to_string(n));
  Capture err(std::cerr);
  LGCP::DTMFParams p;
  EXPECT_FALSE(r.configureDTMF(p));
  EXPECT_FALSE(r.enableDTMF(true));
  EXPECT_FALSE(r.echoCancel(true));
  EXPECT_FALSE(r.enableToneGenerator(400, 0, 100, 100));
  const std::string opens = "open tonec fail, DTMF proceeding disabled: " + std::string(strerror(ENOENT)) + "\n";
  const std::string badFd = " errno=\"" + std::string(strerror(EBADF)) + "\"\n";
  EXPECT_EQ(opens + "configure DTMF fail: (interface not opened) timeslot=3\n" + opens +
                "DTMF_ENABLE_DETECTOR fail: timeslot=3 id=" + std::to_string(service.last_detector_id()) + badFd +
                opens + "CHANNEL_LMS_ON fail: timeslot=3" + badFd + opens + "DTMF_DIAL fail: timeslot=3" + badFd,
            err.text());
  EXPECT_FALSE(r.dtmf_detector_on());
  EXPECT_FALSE(service.IsActive());
  // The faults are used up: the next request opens the device again.
  EXPECT_TRUE(r.enableDTMF(true));
  EXPECT_TRUE(service.IsActive());
}

}  // namespace
