// MCC data-channel slots on the daemon and the default simulated board:
// channels allocated on "/dev/mcc/ctl", joined to trunk timeslots of cabled
// trunks, with userData crossing from one slot to the other, and the faults
// of a channel forced through the board's control socket.
#include <set>
#include <string>
#include <vector>

#include "control/testing/commands.h"
#include "daemon/tests/e2e/board_e2e.h"
#include "messages/LGCP.h"
#include "simboard/testing/sim_client.h"

using namespace e2e;
using namespace CtrlTest;

namespace {

class MccBoard : public BoardDaemon {
protected:
  // The allocated channels as "mcc list" shows them.
  std::set<std::string> Channels() {
    const SimBoard::Answer a = Board("mcc list");
    return std::set<std::string>(a.lines.begin(), a.lines.end());
  }

  // Creates an MCC slot; the "channel=N mode=M" line of its channel.
  std::string Create(long slot, LGCP::MccType::NamedNumber type, LGCP::MccMode::NamedNumber mode) {
    const std::set<std::string> before = Channels();
    EXPECT_EQ(kSuccess, Answer(Mcc(type, mode), slot));
    for (const std::string& c : Channels())
      if (!before.count(c)) return c;
    ADD_FAILURE() << "no new channel";
    return "";
  }

  static std::string TimeslotOf(const std::string& line) {
    const size_t at = line.find("channel=") + 8;
    return line.substr(at, line.find(' ', at) - at);
  }

  // Slot a and trunk slot ta, both ways.
  void Join(long a, long ta) {
    EXPECT_EQ(kSuccess, Answer(ConnectTo(int(ta)), a));
    EXPECT_EQ(kSuccess, Answer(ConnectTo(int(a)), ta));
  }

  // The bytes of the userData signals of a slot until n bytes came; the
  // size of each signal goes to sizes.
  std::string Received(long slot, std::size_t n, std::vector<std::size_t>* sizes = nullptr) {
    std::string bytes;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(5000);
    while (bytes.size() < n) {
      const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
      LGCP::Message m;
      if (left <= 0 || controller.ReceiveSignal(m, left) != Controller::Ok) break;
      const LGCP::Signal& s = m.get_pdu().get_signal();
      if (!s.userData_isSelected()) continue;
      EXPECT_EQ(slot, Controller::SlotOf(m));
      const std::vector<char> data = s.get_userData();
      if (sizes) sizes->push_back(data.size());
      bytes.append(data.begin(), data.end());
    }
    return bytes;
  }

  // The status dump the daemon writes on SIGUSR2: the loop's live events.
  std::string Status() {
    std::remove(statusPath.c_str());
    EXPECT_TRUE(daemon.Signal(SIGUSR2));
    EXPECT_TRUE(Eventually([&] { return contains(ReadFile(statusPath), "\n\n"); }));
    return ReadFile(statusPath);
  }
};

TEST_F(MccBoard, UserDataCrossesTheCabledTrunks) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(kSuccess, Answer(Trunk(0, 5), 1));
  EXPECT_EQ(kSuccess, Answer(Trunk(1, 5), 2));
  Create(3, LGCP::MccType::data, LGCP::MccMode::standard);
  Create(4, LGCP::MccType::data, LGCP::MccMode::standard);
  Join(3, 1);
  Join(4, 2);
  EXPECT_EQ(kSuccess, Answer(UserData(std::string("\x01\x02\x7F\x80\xFF", 5)), 3));
  EXPECT_EQ(std::string("\x01\x02\x7F\x80\xFF", 5), Received(4, 5));
  EXPECT_EQ(kSuccess, Answer(UserData("back"), 4));
  EXPECT_EQ("back", Received(3, 4));
  // Nothing to write.
  EXPECT_EQ(LGCP::ErrorCause::invalidParams, Answer(UserData(""), 3));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 3));
  EXPECT_EQ(0, Stop());
}

TEST_F(MccBoard, TransparentChannelsCarryAByteStream) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(kSuccess, Answer(Trunk(0, 6), 1));
  EXPECT_EQ(kSuccess, Answer(Trunk(1, 6), 2));
  EXPECT_TRUE(contains(Create(3, LGCP::MccType::transparent, LGCP::MccMode::standard), "mode=2"));
  EXPECT_TRUE(contains(Create(4, LGCP::MccType::transparent, LGCP::MccMode::standard), "mode=2"));
  Join(3, 1);
  Join(4, 2);
  std::string bytes;
  for (int i = 0; i < 3000; ++i) bytes.push_back(char(i * 7 + i / 256));
  EXPECT_EQ(kSuccess, Answer(UserData(bytes), 3));
  std::vector<std::size_t> sizes;
  EXPECT_EQ(bytes, Received(4, bytes.size(), &sizes));
  for (std::size_t n : sizes) EXPECT_LE(n, 1024u);
  EXPECT_GE(sizes.size(), 3u);
  EXPECT_EQ(0, Stop());
}

TEST_F(MccBoard, TypeAndModeChooseTheChannelType) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_TRUE(contains(Create(1, LGCP::MccType::bri, LGCP::MccMode::ss7), "mode=3"));
  EXPECT_TRUE(contains(Create(2, LGCP::MccType::bri, LGCP::MccMode::standard), "mode=1"));
  EXPECT_TRUE(contains(Create(3, LGCP::MccType::data, LGCP::MccMode::standard), "mode=0"));
  // An exhausted pool refuses.
  Board("mcc resources 32 1 16");
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(Mcc(LGCP::MccType::bri, LGCP::MccMode::standard), 4));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 2));
  EXPECT_EQ(kSuccess, Answer(Mcc(LGCP::MccType::bri, LGCP::MccMode::standard), 4));
  EXPECT_EQ(0, Stop());
  const std::string err = daemon.Out() + daemon.Err();
  EXPECT_TRUE(contains(err, "mcc: MCC_ALLOCATE type=3")) << err;
  EXPECT_TRUE(contains(err, "mcc: MCC_ALLOCATE fail: ")) << err;
}

TEST_F(MccBoard, AStalledChannelAnswersBusError) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const std::string ts = TimeslotOf(Create(1, LGCP::MccType::data, LGCP::MccMode::standard));
  Board("mcc stall " + ts);
  int answer = kSuccess;
  for (int i = 0; i < 5000 && answer == kSuccess; ++i) answer = Answer(UserData(std::string(200, 'x')), 1);
  EXPECT_EQ(LGCP::ErrorCause::busError, answer);
  Board("mcc stall " + ts + " off");
  EXPECT_EQ(kSuccess, Answer(UserData("again"), 1));

  const std::string tts = TimeslotOf(Create(2, LGCP::MccType::transparent, LGCP::MccMode::standard));
  Board("mcc stall " + tts);
  answer = kSuccess;
  for (int i = 0; i < 5000 && answer == kSuccess; ++i) answer = Answer(UserData(std::string(1000, 'y')), 2);
  EXPECT_EQ(LGCP::ErrorCause::busError, answer);
  EXPECT_EQ(0, Stop());
  EXPECT_TRUE(contains(daemon.Err(), "]: userData write fail: ")) << daemon.Err();
}

TEST_F(MccBoard, AHungUpChannelIsNoLongerPolled) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const std::string ts = TimeslotOf(Create(1, LGCP::MccType::data, LGCP::MccMode::standard));
  EXPECT_TRUE(contains(Status(), "MccSlot::OnEvent"));
  Board("mcc hangup " + ts);
  const std::string line = "mcc[" + ts + "]: channel hung up, not read any more";
  EXPECT_TRUE(Eventually([&] { return contains(daemon.Err(), line); }));
  for (int i = 0; i < 20; ++i) {
    LGCP::Message answer;
    ASSERT_EQ(Controller::Ok, controller.Call(Controller::Ping(100 + i), answer, 5000));
  }
  // The daemon went on through many passes of its loop with one line.
  const std::string err = daemon.Err();
  EXPECT_EQ(err.find(line), err.rfind(line)) << err;
  // Its event has left the loop.
  EXPECT_FALSE(contains(Status(), "MccSlot::OnEvent"));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 1));
  EXPECT_EQ(0, Stop());
}

TEST_F(MccBoard, AMissingDeviceReportsNoChannels) {
  ASSERT_NO_FATAL_FAILURE(Start());
  Board("fail open /dev/mcc/ctl ENOENT");
  const std::string before = daemon.Err();
  EXPECT_EQ(kSuccess, Answer(Query(), CtrlTest::kNone));
  LGCP::Message m;
  bool seen = false;
  while (!seen && controller.ReceiveSignal(m, 5000) == Controller::Ok) {
    const LGCP::Signal& s = m.get_pdu().get_signal();
    if (!s.query_isSelected()) continue;
    seen = true;
    EXPECT_EQ(0, s.get_query().get_mcc_data().getValue());
    EXPECT_EQ(0, s.get_query().get_mcc_bri().getValue());
    EXPECT_EQ(0, s.get_query().get_mcc_trans().getValue());
  }
  EXPECT_TRUE(seen);
  EXPECT_FALSE(contains(daemon.Err().substr(before.size()), "mcc")) << daemon.Err();
  // The next query finds the device again.
  EXPECT_EQ(kSuccess, Answer(Query(), CtrlTest::kNone));
  seen = false;
  while (!seen && controller.ReceiveSignal(m, 5000) == Controller::Ok) {
    const LGCP::Signal& s = m.get_pdu().get_signal();
    if (!s.query_isSelected()) continue;
    seen = true;
    EXPECT_EQ(32, s.get_query().get_mcc_data().getValue());
  }
  EXPECT_TRUE(seen);
  EXPECT_EQ(0, Stop());
}

}  // namespace
