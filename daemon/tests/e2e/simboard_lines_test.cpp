// The daemon's simulated lines, driven through the board's control socket.
#include <cstdio>
#include <string>
#include <vector>

#include "daemon/tests/e2e/daemon_e2e.h"
#include "simboard/testing/sim_client.h"
#include "simboard/testing/tshark.h"

using namespace e2e;

namespace {

class SimulatedLines : public Daemon {
protected:
  void SetUp() override {
    Daemon::SetUp();
    ASSERT_NO_FATAL_FAILURE(Run());
    ASSERT_TRUE(board.Connect(SimBoard::Client::DefaultPath(), 5000)) << daemon.Err();
    file = "/tmp/ulvarond-lines-" + std::to_string(::getpid()) + ".pcap";
  }
  void TearDown() override { std::remove(file.c_str()); }

  SimBoard::Client board;
  std::string file;
};

}  // namespace

TEST_F(SimulatedLines, InjectedFrameIsCapturedOnTheLine) {
  if (!SimBoard::HaveTshark()) GTEST_SKIP() << "tshark is not installed (tools/deps installs it)";
  const SimBoard::Answer pcap = board.Command("pcap 0 16 lapd " + file);
  ASSERT_TRUE(pcap.ok) << pcap.text();
  const SimBoard::Answer inject = board.Command("line inject 0 16 02017F");
  ASSERT_TRUE(inject.ok) << inject.text();
  // Nothing in the daemon listens on trunk 0 yet.
  const SimBoard::Answer stat = board.Command("line stat");
  ASSERT_TRUE(stat.ok) << stat.text();
  EXPECT_NE(std::string::npos, stat.find("sent=0 ").find("unconnected=1")) << stat.text();
  EXPECT_NE(std::string::npos, stat.find("line 0 16 ").find("in=1")) << stat.text();
  ASSERT_TRUE(board.Command("pcap 0 16 off").ok);

  EXPECT_EQ(std::vector<std::string>{"0|1|0|0x1b|1"},
            SimBoard::TsharkFields(file,
                                   "-e lapd.sapi -e lapd.cr -e lapd.tei -e lapd.control.u_modifier_cmd "
                                   "-e lapd.control.p"));
}

TEST_F(SimulatedLines, HelpListsTheLineCommands) {
  const SimBoard::Answer help = board.Command("help");
  ASSERT_TRUE(help.ok) << help.text();
  for (const char* command :
       {"line cable", "line uncable", "line tap", "line read", "line inject", "line drop", "line dup", "line corrupt",
        "line repeat", "line stat", "mcc eagain", "mcc list", "pcap <t>"})
    EXPECT_EQ(0u, help.find(command).find(command)) << command << " missing from\n" << help.text();
}
