// The file player's passes and repeat counting, in-process on the simulated
// board: phrase files in the voice directory under the build's root, the
// player feeding a trunk slot whose line end is tapped.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "board/mcc.h"
#include "foundation/sys_paths.h"
#include "simboard/lines.h"
#include "simboard/mcc.h"
#include "simboard/simulator.h"
#include "slots/tests/slots_fixture.h"
#include "slots/trunk_slot.h"
#include "slots/voice_slot.h"

namespace {

using namespace slottest;

const int kSuccess = -1;

class FilePlayerTest : public SlotsServerTest {
protected:
  FilePlayerTest() : sim(SimBoard::Simulator::instance()), dir(SysPaths::resolve(SysPaths::kVoiceDir)) {
    sim.reset();
    VoiceFactory::instance();
    ::mkdir(SysPaths::resolve("/usr/local/").c_str(), 0755);
    ::mkdir(dir.c_str(), 0755);
  }
  ~FilePlayerTest() override {
    for (const std::string& p : written) std::remove(p.c_str());
    sim.reset();
  }

  // Test binaries run side by side: each process has names of its own.
  std::string Own(const std::string& name) const {
    return PlaySlotFile::PhraseNameValid(name) ? "unit-" + std::to_string(::getpid()) + "-" + name : name;
  }

  void Phrase(const std::string& name, const std::string& bytes) {
    const std::string path = dir + Own(name);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    written.push_back(path);
  }

  // A file player on slot 2 feeding trunk slot 1 {2, 7}, whose line end is
  // tapped.
  PlaySlotFile* Play(const std::vector<std::string>& names, int repeat) {
    EXPECT_EQ(kSuccess, Answer(Trunk(2, 7), ++seq, 1));
    sim.execute("line tap 2 7");
    std::vector<std::string> own;
    for (const std::string& n : names) own.push_back(Own(n));
    EXPECT_EQ(kSuccess, Answer(FilePlayer(own, repeat), ++seq, 2));
    PlaySlotFile* player = dynamic_cast<PlaySlotFile*>(slots.Find(2));
    EXPECT_NE(nullptr, player);
    return player;
  }

  // Runs the loop, the test clock moving a line tick each pass (the channel
  // drains at the line rate), until done holds (true) or the time is up.
  bool Playing(std::function<bool()> done, int ms = 3000) {
    return linktest::run_until(
        [&] {
          clock.advance(SimBoard::Mcc::kTickMs);
          return done();
        },
        ms);
  }

  // Runs the loop until the slot's abort came (true) or the time is up.
  bool Aborted(int ms = 3000) {
    return Playing(
        [&] {
          LGCP::Message m;
          while (controller.ReceiveSignal(m, 0) == Controller::Ok)
            if (Controller::SlotOf(m) == 2 && m.get_pdu().get_signal().abort_isSelected()) ++aborts;
          return aborts > 0;
        },
        ms);
  }

  // What reached the tapped line end once n bytes came or the time is up:
  // the line plays what the player wrote at its own pace.
  std::string Tapped(std::size_t n = 0) {
    std::string bytes;
    auto take = [&] {
      for (const SimBoard::Lines::Frame& f : sim.device<SimBoard::Mcc>(::Board::Mcc::kDevice)->lines().take(2, 7))
        bytes.append(f.begin(), f.end());
      return bytes.size() >= n;
    };
    if (!take()) Playing(take);
    return bytes;
  }

  void Destroy() {
    EXPECT_EQ(kSuccess, Answer(CtrlTest::Destroy(), ++seq, 2));
    EXPECT_EQ(kSuccess, Answer(CtrlTest::Destroy(), ++seq, 1));
  }

  SimBoard::Simulator& sim;
  std::string dir;
  std::vector<std::string> written;
  long seq = 0;
  int aborts = 0;
};

TEST_F(FilePlayerTest, RepeatCountsPassesOfTheWholeList) {
  const std::string a = "phrase-a:";
  const std::string b = std::string(3000, 'b');
  struct Case {
    std::vector<std::string> names;
    int repeat;
    unsigned plays;
    std::string expected;
  } cases[] = {
      {{"a"}, 1, 1, a},
      {{"missing", "b"}, 2, 2, b + b},
      {{"a", "b"}, 3, 6, a + b + a + b + a + b},
      {{"b", "missing", "a"}, 2, 4, b + a + b + a},
      // A negative count plays once.
      {{"a"}, -1, 1, a},
      {{"a"}, -7, 1, a},
  };
  Phrase("a", a);
  Phrase("b", b);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.names.size() * 100 + unsigned(c.repeat + 10));
    aborts = 0;
    PlaySlotFile* player = Play(c.names, c.repeat);
    ASSERT_NE(nullptr, player);
    EXPECT_FALSE(player->is_started());
    EXPECT_EQ(kSuccess, Answer(ConnectTo(1), ++seq, 2));
    EXPECT_TRUE(player->is_started());
    ASSERT_TRUE(Aborted());
    EXPECT_EQ(c.plays, player->plays());
    EXPECT_EQ(0, player->get_repeat());
    EXPECT_FALSE(player->GetOutputStream());
    EXPECT_TRUE(player->GetFedSlots().empty());
    EXPECT_EQ(c.expected, Tapped(c.expected.size()));
    // A later connection starts nothing again.
    EXPECT_EQ(kSuccess, Answer(ConnectTo(1), ++seq, 2));
    EXPECT_EQ(c.plays, player->plays());
    EXPECT_EQ(1, aborts);
    Destroy();
  }
}

TEST_F(FilePlayerTest, RepeatZeroPlaysWithoutEnd) {
  Phrase("a", "endless");
  PlaySlotFile* player = Play({"a", "missing"}, 0);
  ASSERT_NE(nullptr, player);
  EXPECT_EQ(kSuccess, Answer(ConnectTo(1), ++seq, 2));
  EXPECT_TRUE(Playing([&] { return player->plays() >= 20; }));
  EXPECT_EQ(0, aborts);
  EXPECT_TRUE(player->GetOutputStream());
  Destroy();
}

TEST_F(FilePlayerTest, APassThatPlaysNothingEndsThePlayInsteadOfSpinning) {
  Phrase("empty", "");
  PlaySlotFile* player = Play({"empty", "missing"}, 0);
  ASSERT_NE(nullptr, player);
  EXPECT_EQ(kSuccess, Answer(ConnectTo(1), ++seq, 2));
  ASSERT_TRUE(Aborted());
  EXPECT_EQ(1u, player->plays());
  EXPECT_FALSE(player->GetOutputStream());
  Destroy();
}

TEST_F(FilePlayerTest, APassWhoseFilesAreGoneReleasesThePlayer) {
  // Larger than the channel takes while stalled: the first pass is still
  // running when the file goes.
  Phrase("big", std::string(4 << 20, 'x'));
  PlaySlotFile* player = Play({"big"}, 3);
  ASSERT_NE(nullptr, player);
  const int channel = player->GetTransmitChannel();
  ASSERT_TRUE(sim.device<SimBoard::Mcc>(::Board::Mcc::kDevice)->stall(channel, true));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(1), ++seq, 2));
  ASSERT_EQ(0, std::remove(written.back().c_str()));
  written.pop_back();
  sim.device<SimBoard::Mcc>(::Board::Mcc::kDevice)->stall(channel, false);
  ASSERT_TRUE(Aborted(10000));
  EXPECT_EQ(1u, player->plays());
  EXPECT_FALSE(player->GetOutputStream());
  EXPECT_EQ(std::string::npos, Tapped().find_first_not_of('x'));
  EXPECT_EQ(1, aborts);
  Destroy();
}

TEST_F(FilePlayerTest, NoFileToStartWithRefusesTheConnectionAndAbortsOnce) {
  PlaySlotFile* player = Play({"missing", "..", "."}, 2);
  ASSERT_NE(nullptr, player);
  EXPECT_EQ(LGCP::ErrorCause::connectFail, Answer(ConnectTo(1), ++seq, 2));
  EXPECT_FALSE(player->is_started());
  // The deferred abort runs on the next pass, once.
  auto abortsIn = [](const std::vector<LGCP::Message>& all) {
    int n = 0;
    for (const LGCP::Message& m : all)
      if (Controller::SlotOf(m) == 2 && m.get_pdu().get_signal().abort_isSelected()) ++n;
    return n;
  };
  EXPECT_EQ(1, abortsIn(Signals()));
  EXPECT_EQ(0, abortsIn(Signals()));
  EXPECT_EQ(0u, player->plays());
  Destroy();
}

TEST(PhraseName, OnlyNamesInsideTheVoiceDirectory) {
  const struct {
    const char* name;
    bool valid;
  } cases[] = {{"a", true},   {"a.raw", true}, {"..a", true},    {"", false},       {".", false},
               {"..", false}, {"../a", false}, {"sub/a", false}, {"/etc/a", false}, {"a/", false}};
  for (const auto& c : cases) EXPECT_EQ(c.valid, PlaySlotFile::PhraseNameValid(c.name)) << '"' << c.name << '"';
}

}  // namespace
