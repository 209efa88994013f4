// The monitoring service on the simulated board: the status files under the
// root prefix, the power signal, the framer LEDs at start and exit.
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <thread>

#include "daemon/tests/e2e/board_e2e.h"

using namespace e2e;

namespace {

class MonitoringBoard : public BoardDaemon {
protected:
  void SetUp() override {
    BoardDaemon::SetUp();
    // Left by an earlier run: the daemon's start must clear it.
    ::mkdir(Mon("").c_str(), 0755);
    std::ofstream(Mon("stale")) << "x";
    ASSERT_NO_FATAL_FAILURE(Start());
  }

  static std::string Mon(std::string const& name) { return SysPaths::resolve(SysPaths::kMonitoringDir) + name; }
  static std::string Text(std::string const& name) { return ReadFile(Mon(name)); }
  // Waits for the file to hold text, through several power check periods
  // (2 s) of a daemon that may run late.
  static bool Holds(std::string const& name, std::string const& text, int timeout_ms = 10000) {
    return Eventually([&] { return Text(name) == text; }, timeout_ms);
  }
  // The power signals that have arrived before the answer to a ping.
  std::vector<int> PowerSignals(Controller& c) {
    LGCP::Message answer;
    EXPECT_EQ(Controller::Ok, c.Call(Controller::Ping(++seq), answer, 5000));
    std::vector<int> values;
    LGCP::Message m;
    while (c.ReceivePower(m, 0) == Controller::Ok) {
      EXPECT_EQ(CtrlTest::kNone, Controller::SlotOf(m));
      values.push_back(m.get_pdu().get_signal().get_power().asInt());
    }
    return values;
  }
  std::string NewLog(size_t from) const { return daemon.Err().substr(from); }
};

std::string RealPath(std::string const& path) {
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) ? buf : "";
}

TEST_F(MonitoringBoard, StartClearsThenWritesConfigurationPowerAndDip) {
  EXPECT_FALSE(Exists(Mon("stale")));
  struct stat st;
  ASSERT_EQ(0, ::stat(Mon("term_cnts").c_str(), &st));
  EXPECT_EQ(0755u, st.st_mode & 0777u);
  EXPECT_EQ(0u, Lines("hal led").at(0).find("led=0 history=0")) << Board("hal led").text();

  EXPECT_TRUE(Holds("config_version", "0000000a-0000000000000010")) << Text("config_version");
  EXPECT_EQ(RealPath(SysPaths::resolve("/usr/local/etc")),
            RealPath("/proc/" + std::to_string(daemon.Pid()) + "/cwd"));
  EXPECT_TRUE(Holds("powerstatus", "3"));
  EXPECT_TRUE(Holds("dip", "0"));

  struct Change {
    const char* command;
    const char* file;
    const char* text;
  } const changes[] = {
      {"hal power 7", "powerstatus", "0"}, {"hal power 0", "powerstatus", "3"}, {"hal power 1", "powerstatus", "1"},
      {"hal dip 0xA5", "dip", "165"},      {"hal dip 3", "dip", "3"},
  };
  for (const Change& c : changes) {
    Board(c.command);
    EXPECT_TRUE(Holds(c.file, c.text)) << c.command << ": " << Text(c.file);
  }
  const std::string other = SysPaths::resolve("/usr/local/etc/config.0000ABCD-00000000000000ff");
  std::ofstream{other};
  Board("board reset");
  EXPECT_FALSE(Exists(other));
  EXPECT_TRUE(Holds("powerstatus", "3"));
}

TEST_F(MonitoringBoard, EveryConnectionGetsThePowerStatusWithoutASlot) {
  ASSERT_TRUE(Holds("powerstatus", "3"));
  // The first connection may also have seen the first reading as a change.
  const std::vector<int> first = PowerSignals(controller);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(3, first.back());

  controller.Close();
  Controller again;
  again.SetSignalsApart(true);
  ASSERT_TRUE(again.Connect(port, 5000));
  EXPECT_EQ(std::vector<int>{3}, PowerSignals(again));

  // A command with a slot number does not lend it to the board's signal.
  LGCP::Message answer;
  ASSERT_EQ(Controller::Ok, again.Call(Controller::Ping(++seq, 7), answer, 5000));
  Board("hal power 2");
  LGCP::Message m;
  ASSERT_EQ(Controller::Ok, again.ReceivePower(m, 10000));
  EXPECT_EQ(CtrlTest::kNone, Controller::SlotOf(m));
  EXPECT_EQ(2, m.get_pdu().get_signal().get_power().asInt());
  EXPECT_EQ("2", Text("powerstatus"));
}

TEST_F(MonitoringBoard, FailedPowerReadEndsTheCheckQuietly) {
  Board("hal power 1");
  ASSERT_TRUE(Holds("powerstatus", "1"));
  PowerSignals(controller);
  const size_t log = LogOctets();
  Board("fail ioctl /dev/hal 0xC0014206 EIO");
  Board("hal dip 9");
  // The dip is read right after the power byte in the same pass.
  ASSERT_TRUE(Holds("dip", "9"));
  EXPECT_EQ("1", Text("powerstatus"));
  EXPECT_TRUE(PowerSignals(controller).empty());
  const std::string lines = NewLog(log);
  EXPECT_FALSE(contains(lines, "monitoring") || contains(lines, "rror")) << lines;
}

TEST_F(MonitoringBoard, TermRemovesPlainFilesAndDarkensTheLeds) {
  ASSERT_TRUE(Holds("dip", "0"));
  ASSERT_TRUE(Holds("config_version", "0000000a-0000000000000010"));
  std::ofstream(Mon("term_cnts/router")) << "4";
  board.Close();
  EXPECT_EQ(0, Stop());
  for (const char* f : {"dip", "powerstatus", "config_version"}) EXPECT_FALSE(Exists(Mon(f))) << f;
  EXPECT_EQ("4", Text("term_cnts/router"));
  std::remove(Mon("term_cnts/router").c_str());
  const std::string err = daemon.Err();
  EXPECT_EQ(2, count(err, "simboard: /dev/hal: framer LEDs 0\n")) << err;
  EXPECT_FALSE(contains(err, "Sanitizer") || contains(err, "runtime error")) << err;
}

TEST_F(MonitoringBoard, ReaderOfTheDipFileSeesOnlyWholeValues) {
  ASSERT_TRUE(Holds("dip", "0"));
  std::atomic<bool> done{false};
  std::set<std::string> seen;
  std::thread reader([&] {
    while (!done) {
      const int fd = ::open(Mon("dip").c_str(), O_RDONLY);
      if (fd < 0) continue;
      char buf[16];
      const ssize_t n = ::read(fd, buf, sizeof buf);
      ::close(fd);
      seen.insert(std::string(buf, n > 0 ? size_t(n) : 0));
    }
  });
  // 200 changes over about two power checks.
  for (int i = 0; i < 200; ++i) {
    Board(i % 2 ? "hal dip 200" : "hal dip 7");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(Holds("dip", "200"));
  done = true;
  reader.join();
  for (const std::string& s : seen) EXPECT_TRUE(s == "0" || s == "7" || s == "200") << "\"" << s << "\"";
}

}  // namespace
