// The simulated "/dev/dtmf" and "/dev/dsp": requests into the model, event
// records out, and their control commands.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "board/dsp.h"
#include "board/dtmf.h"
#include "foundation/tests/loop_test_util.h"
#include "simboard/dsp.h"
#include "simboard/dtmf.h"
#include "simboard/simulator.h"

namespace {

using SimBoard::Reply;
using SimBoard::Simulator;
namespace Dt = Board::Dtmf;
namespace Ds = Board::Dsp;

class ToneDevicesTest : public ::testing::Test {
protected:
  ToneDevicesTest() : dtmf(new SimBoard::Dtmf), dsp(new SimBoard::Dsp) {
    sim.add(std::unique_ptr<SimBoard::Driver>(dtmf));
    sim.add(std::unique_ptr<SimBoard::Driver>(dsp));
    dtmfFd = sim.open(Dt::kDevice, O_RDONLY | O_NONBLOCK);
    dspFd = sim.open(Ds::kDevice, O_RDWR | O_NONBLOCK);
  }

  std::string Ok(const std::string& line) {
    const Reply r = sim.execute(line);
    EXPECT_FALSE(r.failed()) << line << ": " << r.text();
    return r.text();
  }

  int Dial(std::uint32_t ts, unsigned f1, unsigned f2, unsigned a1, unsigned a2) {
    Dt::Dial d = {};
    d.timeslot = ts;
    d.freq1 = static_cast<std::uint16_t>(f1);
    d.freq2 = static_cast<std::uint16_t>(f2);
    d.amp1 = static_cast<std::uint16_t>(a1);
    d.amp2 = static_cast<std::uint16_t>(a2);
    return sim.ioctl(dtmfFd.lowlevel_fd(), Dt::kDial, &d);
  }
  int EnableDetector(std::uint32_t ts, std::uint32_t id) {
    Dt::EnableDetector e = {ts, id};
    return sim.ioctl(dtmfFd.lowlevel_fd(), Dt::kEnableDetector, &e);
  }
  int Dsp(Board::Request request, std::uint32_t ts, std::uint32_t id, std::uint32_t mask) {
    Ds::Enable e = {ts, id, mask};
    return sim.ioctl(dspFd.lowlevel_fd(), request, &e);
  }

  // The next record on the descriptor; false when none is there.
  template <class T>
  bool Next(const Fd& fd, T& rec) {
    return ::read(fd.lowlevel_fd(), &rec, sizeof rec) == static_cast<ssize_t>(sizeof rec);
  }

  looptest::CachedClock clock;
  Simulator sim;
  SimBoard::Dtmf* dtmf;
  SimBoard::Dsp* dsp;
  Fd dtmfFd, dspFd;
};

TEST_F(ToneDevicesTest, DtmfRequestsReachTheModel) {
  Dt::ConfigureDetector c = {4, 1, 2, 3, 65535};
  EXPECT_EQ(0, sim.ioctl(dtmfFd.lowlevel_fd(), Dt::kConfigureDetector, &c));
  EXPECT_EQ(0, EnableDetector(4, 77));
  Dt::IvaConfigure iva = {4, -25};
  EXPECT_EQ(0, sim.ioctl(dtmfFd.lowlevel_fd(), Dt::kIvaConfigure, &iva));
  for (Board::Request r : {Dt::kIvaEnable, Dt::kRejectionEnable, Dt::kLmsOn})
    EXPECT_EQ(0, sim.ioctl_value(dtmfFd.lowlevel_fd(), r, 4));
  EXPECT_EQ(
      "ts=4 dtmf=on id=77 iva=on rejection=on echo=on\n"
      "dtmf-config twist=1 ratio=2 silence=3 noise=65535\n"
      "iva-config level=-25\nok\n",
      Ok("dtmf get 4"));
  for (Board::Request r : {Dt::kDisableDetector, Dt::kIvaDisable, Dt::kRejectionDisable, Dt::kLmsOff})
    EXPECT_EQ(0, sim.ioctl_value(dtmfFd.lowlevel_fd(), r, 4));
  EXPECT_EQ("ts=4 dtmf=off id=77 iva=off rejection=off echo=off\n", Ok("dtmf get 4").substr(0, 51));
  EXPECT_EQ("ts=5 dtmf=off id=0 iva=off rejection=off echo=off\ndtmf-config none\niva-config none\nok\n",
            Ok("dtmf get 5"));
  // Timeslots beyond the driver's are refused.
  EXPECT_EQ(-1, sim.ioctl_value(dtmfFd.lowlevel_fd(), Dt::kLmsOn, SimBoard::Dtmf::kTimeslots));
  EXPECT_EQ(EINVAL, errno);
  EXPECT_EQ(-1, EnableDetector(SimBoard::Dtmf::kTimeslots, 1));
}

TEST_F(ToneDevicesTest, GeneratorLogWithTheLoopClock) {
  const unsigned t0 = Mux::milliseconds();
  EXPECT_EQ(0, Dial(2, 770, 1336, 100, 200));
  clock.advance(70);
  EXPECT_EQ(0, Dial(2, 1000, 1000, 0, 0));
  Dt::SelcalDial s = {};
  s.timeslot = 2;
  s.amplitude = 12000;
  std::memcpy(s.signs, "AB\x01Z", 4);
  EXPECT_EQ(0, sim.ioctl(dtmfFd.lowlevel_fd(), Dt::kSelcalDial, &s));
  EXPECT_EQ(0, Dial(2, 0, 0, 0, 0));
  const std::string t = std::to_string(t0), t70 = std::to_string(t0 + 70);
  EXPECT_EQ(t + " tone 770 1336 100 200\n" + t70 + " silence 1000 1000 0 0\n" + t70 + " selcal 12000 AB\\x01Z\n" + t70 +
                " off\nok\n",
            Ok("dtmf gen 2"));
  EXPECT_EQ("(nothing)\nok\n", Ok("dtmf gen 3"));
}

TEST_F(ToneDevicesTest, InjectedDtmfEventRecord) {
  clock.advance(5);
  EXPECT_EQ(0, EnableDetector(3, 41));
  Ok("dtmf event 3 9");
  Ok("dtmf event 3 300 7");
  Dt::Event e;
  ASSERT_TRUE(Next(dtmfFd, e));
  EXPECT_EQ(9u, e.code);
  EXPECT_EQ(3u, e.timeslot);
  EXPECT_EQ(Mux::milliseconds(), e.timestamp);
  EXPECT_EQ(41u, e.id);
  ASSERT_TRUE(Next(dtmfFd, e));
  EXPECT_EQ(300u, e.code);
  EXPECT_EQ(7u, e.id);
  EXPECT_FALSE(Next(dtmfFd, e));
}

TEST_F(ToneDevicesTest, LoopedKeyIsDetectedWhenItsToneEnds) {
  Ok("dtmf loop 1 2 on");
  Dt::Event e;
  // Not detected while the far detector is off.
  EXPECT_EQ(0, Dial(1, 697, 1209, 1, 1));
  EXPECT_EQ(0, Dial(1, 0, 0, 0, 0));
  EXPECT_FALSE(Next(dtmfFd, e));
  EXPECT_EQ(0, EnableDetector(2, 5));
  struct Step {
    unsigned f1, f2, a1, a2;
    int code;  // -1: nothing detected
  } steps[] = {
      {852, 1633, 100, 100, -1},                         // 'C' starts
      {852, 1633, 100, 100, -1},                         // the same tone again: it goes on
      {1633, 852, 100, 100, 14},                         // another record: 'C' ended (the pair in either order is 'C')
      {1000, 1000, 0, 0, 14},                            // silence ends the second 'C'
      {1000, 1000, 0, 0, -1},                            // silence after silence
      {400, 500, 100, 100, -1},                          // no key
      {0, 0, 0, 0, -1},          {941, 1477, 0, 0, -1},  // '#' at amplitude 0 is silence
      {0, 0, 0, 0, -1},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::to_string(s.f1) + "/" + std::to_string(s.f2));
    EXPECT_EQ(0, Dial(1, s.f1, s.f2, s.a1, s.a2));
    if (s.code < 0) {
      EXPECT_FALSE(Next(dtmfFd, e));
      continue;
    }
    ASSERT_TRUE(Next(dtmfFd, e));
    EXPECT_EQ(static_cast<std::uint32_t>(s.code), e.code);
    EXPECT_EQ(2u, e.timeslot);
    EXPECT_EQ(5u, e.id);
  }
  // A key on the far side does not come back.
  EXPECT_EQ(0, EnableDetector(1, 6));
  EXPECT_EQ(0, Dial(2, 697, 1209, 1, 1));
  EXPECT_EQ(0, Dial(2, 0, 0, 0, 0));
  EXPECT_FALSE(Next(dtmfFd, e));
  Ok("dtmf loop 1 2 off");
  EXPECT_EQ(0, Dial(1, 697, 1209, 1, 1));
  EXPECT_EQ(0, Dial(1, 0, 0, 0, 0));
  EXPECT_FALSE(Next(dtmfFd, e));
}

TEST_F(ToneDevicesTest, DspVersionRequest) {
  struct Case {
    const char* command;
    int result;
  } cases[] = {{"dsp version 1", 1}, {"dsp version fail", -1}, {"dsp version 2", 2}};
  for (const Case& c : cases) {
    Ok(c.command);
    EXPECT_EQ(c.result, sim.ioctl_value(dspFd.lowlevel_fd(), Ds::kVersion, 0)) << c.command;
    if (c.result < 0) {
      EXPECT_EQ(ENOTTY, errno);
    }
  }
  EXPECT_EQ("version=2\nok\n", Ok("dsp version"));
}

TEST_F(ToneDevicesTest, DspFunctionsAndConfiguration) {
  EXPECT_EQ(0, Dsp(Ds::kEnable, 9, 11, Ds::kVad | Ds::kBss));
  EXPECT_EQ(0, Dsp(Ds::kEnable, 9, 12, Ds::kMuteTx));
  EXPECT_EQ(0, Dsp(Ds::kEnable, 9, 13, Ds::kMuteRx));
  EXPECT_EQ(0, Dsp(Ds::kDisable, 9, 0, Ds::kBss));
  Ds::Configure c;
  std::memset(&c, 0, sizeof c);
  c.timeslot = 9;
  c.type = Ds::kConfigToneFilter;
  c.data.toneFilter = Ds::ToneFilter{2600, 1, 0, 250, 0xEC, {}};
  EXPECT_EQ(0, sim.ioctl(dspFd.lowlevel_fd(), Ds::kConfigure, &c));
  std::memset(&c, 0, sizeof c);
  c.timeslot = 9;
  c.type = Ds::kConfigVad;
  c.data.vadV2 = Ds::VadV2{200, 600, -35, {}};
  EXPECT_EQ(0, sim.ioctl(dspFd.lowlevel_fd(), Ds::kConfigure, &c));
  EXPECT_EQ(
      "ts=9 vad=on vad-id=11 sd=off sd-id=0 bss=off bss-id=11 ng=off ng-id=0 mute-rx=on mute-rx-id=13 mute-tx=off "
      "mute-tx-id=13 tones=on\n"
      "vad-config voice=200 silence=600 energy=-35 requests=1\n"
      "tone-config freq=2600 enable=1 duration=250 level=236\nok\n",
      Ok("dsp get 9"));
  EXPECT_EQ(0, Dsp(Ds::kDisable, 9, 0, Ds::kToneAll | Ds::kMute));
  EXPECT_EQ("tone-config freq=2600 enable=0", Ok("dsp get 9").substr(Ok("dsp get 9").find("tone-config"), 30));
  // Unknown masks and types, and timeslots beyond the driver's.
  EXPECT_EQ(-1, Dsp(Ds::kEnable, 9, 1, 0));
  EXPECT_EQ(-1, Dsp(Ds::kEnable, 9, 1, 32));
  EXPECT_EQ(-1, Dsp(Ds::kEnable, SimBoard::Dsp::kTimeslots, 1, Ds::kVad));
  c.type = 3;
  EXPECT_EQ(-1, sim.ioctl(dspFd.lowlevel_fd(), Ds::kConfigure, &c));
  EXPECT_EQ(EINVAL, errno);
}

TEST_F(ToneDevicesTest, InjectedDspEventRecords) {
  EXPECT_EQ(0, Dsp(Ds::kEnable, 6, 21, Ds::kVad));
  EXPECT_EQ(0, Dsp(Ds::kEnable, 6, 22, Ds::kSd));
  EXPECT_EQ(0, Dsp(Ds::kEnable, 6, 23, Ds::kBss));
  Ok("dsp vad 6 3 -4 6");
  Ok("dsp sd 6 17 99");
  Ok("dsp bss 6 0.5");
  Ok("dsp tone 6 1 2 3");
  Ok("dsp flags 6 0x80000000 0xFF");
  struct Want {
    std::uint32_t id, type, w1, w2, w3;
  } want[] = {
      {21, Ds::kEventVad, 3, 0xFFFFFFFCu, 6},     {99, Ds::kEventSd, 17, 0, 0},
      {23, Ds::kEventBss, 0x3F000000u, 0, 0},     {0, Ds::kEventTone, 1, 2, 3},
      {0, Ds::kEventFlags, 0x80000000u, 0xFF, 0},
  };
  for (const Want& w : want) {
    Ds::Event e;
    ASSERT_TRUE(Next(dspFd, e)) << w.type;
    EXPECT_EQ(6u, e.timeslot);
    EXPECT_EQ(w.id, e.id) << w.type;
    EXPECT_EQ(w.type, e.type);
    EXPECT_EQ(w.w1, e.word1) << w.type;
    EXPECT_EQ(w.w2, e.word2) << w.type;
    EXPECT_EQ(w.w3, e.word3) << w.type;
  }
}

TEST_F(ToneDevicesTest, CommandErrors) {
  const char* bad[] = {
      "dtmf get",
      "dtmf get x",
      "dtmf get 65536",
      "dtmf gen",
      "dtmf event 3",
      "dtmf event 3 -1",
      "dtmf event 3 1 2 3",
      "dtmf loop 1 2",
      "dtmf loop 1 2 yes",
      "dsp version 3",
      "dsp get",
      "dsp vad 1 2 3",
      "dsp vad 1 2 3 4 x",
      "dsp sd 1",
      "dsp bss 1 abc",
      "dsp bss 1 0.5x",
      "dsp tone 1 2 3",
      "dsp flags 1 2",
      "dsp flags 1 2 0x1FFFFFFFF",
  };
  for (const char* line : bad) EXPECT_TRUE(sim.execute(line).failed()) << line;
  // No open to take an event.
  dtmfFd.close();
  dspFd.close();
  sim.collect_closed();
  EXPECT_EQ("error no open of /dev/dtmf took the event\n", sim.execute("dtmf event 1 1").text());
  EXPECT_EQ("error no open of /dev/dsp took the event\n", sim.execute("dsp flags 1 1 1").text());
}

TEST_F(ToneDevicesTest, ResetReturnsToTheDefaultBoard) {
  EXPECT_EQ(0, EnableDetector(1, 3));
  EXPECT_EQ(0, Dial(1, 697, 1209, 1, 1));
  Ok("dtmf loop 1 2 on");
  Ok("dsp version 1");
  EXPECT_EQ(0, Dsp(Ds::kEnable, 1, 3, Ds::kNg));
  sim.reset();
  EXPECT_EQ(nullptr, dtmf->slot(1));
  EXPECT_EQ(nullptr, dsp->slot(1));
  EXPECT_EQ(SimBoard::Dsp::kDefaultVersion, dsp->version());
  EXPECT_EQ(0, EnableDetector(2, 4));
  EXPECT_EQ(0, Dial(1, 697, 1209, 1, 1));
  EXPECT_EQ(0, Dial(1, 0, 0, 0, 0));
  Dt::Event e;
  EXPECT_FALSE(Next(dtmfFd, e));
}

TEST(ToneDevicesDefaultBoard, HasBothDevices) {
  Simulator sim;
  SimBoard::BuildDefaultBoard(sim);
  ASSERT_NE(nullptr, sim.device<SimBoard::Dtmf>(Dt::kDevice));
  ASSERT_NE(nullptr, sim.device<SimBoard::Dsp>(Ds::kDevice));
  EXPECT_EQ(2, sim.device<SimBoard::Dsp>(Ds::kDevice)->version());
  const std::string help = sim.execute("help").text();
  for (const char* c :
       {"dtmf get <ts> - ", "dtmf gen <ts> - ", "dtmf event <ts> <code> [id] - ", "dtmf loop <a> <b> on|off - ",
        "dsp version [1|2|fail] - ", "dsp get <ts> - ", "dsp vad <ts> <mask> <rx> <tx> [id] - ",
        "dsp sd <ts> <value> [id] - ", "dsp bss <ts> <score> [id] - ", "dsp tone <ts> <w1> <w2> <w3> - ",
        "dsp flags <ts> <flags> <mask> - "})
    EXPECT_NE(std::string::npos, help.find(c)) << c;
}

}  // namespace
