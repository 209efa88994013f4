#include "monitoring/monitoring_data_holder.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "monitoring/testing/test_agent.h"

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

LGCP::BoardInfo Board(int position, int status, const std::string& version = "v1") {
  LGCP::BoardInfo info;
  LGCP::BoardStatusParams& b = info.select_boardStatus();
  b.set_position(position);
  b.set_version(std::vector<char>(version.begin(), version.end()));
  b.set_status(LGCP::ExtBoardStatus::NamedNumber(status));
  b.set_type(LGCP::ExtBoardType::fxs);
  return info;
}

LGCP::TermCounter Counter(int owner, int cnt, int ownerId = -1) {
  LGCP::TermCounter c;
  c.set_owner(LGCP::TermCounterOwner::NamedNumber(owner));
  if (ownerId >= 0) c.set_ownerId(ownerId);
  c.set_cnt(cnt);
  return c;
}

LGCP::ControllerInfo Controller(const std::string& address, int status) {
  LGCP::ControllerInfo info;
  info.set_host().set_iaddr(address);
  info.set_status(HSP::ControllerStatus::NamedNumber(status));
  return info;
}

using montest::SetCommand;

class Holder : public ::testing::Test {
protected:
  void SetUp() override {
    char dir[] = "/tmp/monitoring-holder-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(dir));
    root = dir;
    mon = root + "/var/monitoring/";
    ASSERT_EQ(0, std::system(("mkdir -p " + mon + "term_cnts " + root + "/proc/driver/hdlc/peb22554").c_str()));
    std::ofstream(mon + "dip") << "9";
    std::ofstream(mon + "term_cnts/router") << "4";
    std::ofstream(root + "/proc/driver/hdlc/peb22554/2");
    holder.reset(new MonitoringDataHolder(root));
  }
  void TearDown() override {
    holder.reset();
    EXPECT_EQ(0, std::system(("rm -rf " + root).c_str()));
  }
  void Commands(std::vector<MON::SnmpSetCommand> const& list) {
    MON::SnmpSetCommands cmds;
    for (const MON::SnmpSetCommand& c : list) cmds.ref_commands().push_back(c);
    holder->setSnmpCommands(cmds);
  }

  std::string root, mon;
  std::unique_ptr<MonitoringDataHolder> holder;
};

TEST_F(Holder, StartClearsPlainFilesAndFindsFramers) {
  EXPECT_FALSE(Exists(mon + "dip"));
  EXPECT_EQ("4", Read(mon + "term_cnts/router"));
  ASSERT_EQ(1u, holder->GetFramers().size());
  EXPECT_EQ(3, holder->GetFramers()[0].number());
  holder->setDipValue(1);
  holder.reset();
  EXPECT_FALSE(Exists(mon + "dip"));
  EXPECT_TRUE(Exists(mon + "term_cnts/router"));
}

TEST_F(Holder, ScalarSettersWriteOnlyAChange) {
  EXPECT_EQ(-1, holder->getDipValue());
  EXPECT_TRUE(holder->setDipValue(165));
  EXPECT_EQ("165", Read(mon + "dip"));
  EXPECT_TRUE(holder->setPowerStatus(LGCP::POWERStatus::both));
  EXPECT_EQ("3", Read(mon + "powerstatus"));
  EXPECT_TRUE(holder->setConfigVersion(0xA, 0x10));
  EXPECT_EQ("0000000a-0000000000000010", Read(mon + "config_version"));
  EXPECT_TRUE(holder->setConfigVersion(0xABCDEF01, 0xFEDCBA9876543210ull));
  EXPECT_EQ("abcdef01-fedcba9876543210", Read(mon + "config_version"));
  holder->ClearMonitorFiles();
  EXPECT_FALSE(holder->setDipValue(165));
  EXPECT_FALSE(holder->setPowerStatus(LGCP::POWERStatus::both));
  EXPECT_FALSE(holder->setConfigVersion(0xABCDEF01, 0xFEDCBA9876543210ull));
  for (const char* f : {"dip", "powerstatus", "config_version"}) EXPECT_FALSE(Exists(mon + f)) << f;
  EXPECT_TRUE(holder->setTemperature("42"));
  EXPECT_FALSE(holder->setTemperature("42"));
  EXPECT_TRUE(holder->setBoardVersion("b\n"));
}

TEST_F(Holder, BoardsAndPhonesOneRecordAndFileEach) {
  holder->setBoardStatus(Board(2, 1));
  holder->setBoardStatus(Board(2, 3, "v2"));
  holder->setBoardStatus(Board(5, 0));
  ASSERT_EQ(2u, holder->GetBoardStatus().size());
  EXPECT_EQ(3, holder->GetBoardStatus()[0].get_status().asInt());
  EXPECT_EQ("3\nv2\n2\n", Read(mon + "board2"));
  LGCP::EmPhoneInfo phone;
  LGCP::EmPhoneStatusParams& p = phone.select_phoneStatus();
  p.set_panelSV({'p'});
  p.set_mode(LGCP::EmPhoneMode::sleep);
  for (int id : {1, 4, 1}) {
    p.set_id(id);
    holder->setEmPhoneInfo(phone);
  }
  EXPECT_EQ(2u, holder->GetEmPhoneStatus().size());
  EXPECT_EQ("p\n\n\n0\n0\n2\n0\n0\n", Read(mon + "emphone4"));
  LGCP::BoardInfo channel;
  channel.select_boardChannelStatus();
  holder->setBoardStatus(channel);
  EXPECT_EQ(2u, holder->GetBoardStatus().size());

  std::ofstream(mon + "boardnotes") << "x";
  holder->ClearControllerFiles();
  EXPECT_TRUE(holder->GetBoardStatus().empty());
  for (const char* f : {"board2", "board5", "boardnotes"}) EXPECT_FALSE(Exists(mon + f)) << f;
  EXPECT_TRUE(Exists(mon + "emphone4"));
}

TEST_F(Holder, FailingFileKeepsTheRecordAndListsAreBounded) {
  ASSERT_EQ(0, std::system(("rm -rf " + mon + " && touch " + root + "/var/monitoring").c_str()));
  holder->setBoardStatus(Board(1, 2));
  EXPECT_EQ(1u, holder->GetBoardStatus().size());
  for (int i = 2; i <= 1025; ++i) holder->setBoardStatus(Board(i, 0));
  EXPECT_EQ(MonitoringDataHolder::kMaxEntries, holder->GetBoardStatus().size());
  EXPECT_EQ(1024, holder->GetBoardStatus().back().get_position().getValue());
  holder->setBoardStatus(Board(3, 3));
  EXPECT_EQ(3, holder->GetBoardStatus()[2].get_status().asInt());
}

TEST_F(Holder, CountersByOwnerAndOwnerId) {
  holder->setTermCounter(Counter(1, 5));
  holder->setTermCounter(Counter(1, 6));
  holder->setTermCounter(Counter(3, 7));
  holder->setTermCounter(Counter(4, 8, 2));
  holder->setTermCounter(Counter(4, 9, 3));
  holder->setTermCounter(Counter(4, 10));
  holder->setTermCounter(Counter(0, 11));
  EXPECT_EQ("6", Read(mon + "term_cnts/router"));
  EXPECT_EQ("7", Read(mon + "term_cnts/server"));
  EXPECT_EQ("8", Read(mon + "term_cnts/board2"));
  EXPECT_EQ("9", Read(mon + "term_cnts/board3"));
  EXPECT_EQ(6u, holder->GetTermCounters().size());
  EXPECT_EQ(11, holder->GetTermCounters().back().get_cnt().getValue());
  holder->ClearMonitorFiles();
  EXPECT_TRUE(Exists(mon + "term_cnts/board2"));
}

TEST_F(Holder, OwnAndForeignControllers) {
  const std::string own = holder->getSelfHostAddress().GetStrAddr();
  const std::string foreign = own == "192.0.2.7" ? "192.0.2.8" : "192.0.2.7";
  EXPECT_FALSE(holder->setControllerStatus(Controller(foreign, 1)));
  EXPECT_EQ("1", Read(mon + "controller/" + foreign + "/status"));
  EXPECT_EQ(0, holder->getSelfControllerStatus().asInt());
  EXPECT_TRUE(holder->setControllerStatus(Controller(own, 4)));
  EXPECT_FALSE(holder->setControllerStatus(Controller(own, 4)));
  EXPECT_EQ(4, holder->getSelfControllerStatus().asInt());
  EXPECT_EQ("4", Read(mon + "controller/self/status"));
  EXPECT_EQ(2u, holder->GetControllers().size());

  // An own directory that is there already gets no new link.
  holder.reset();
  ASSERT_EQ(0, ::unlink((mon + "controller/self").c_str()));
  holder.reset(new MonitoringDataHolder(root));
  EXPECT_TRUE(holder->setControllerStatus(Controller(own, 2)));
  EXPECT_EQ("2", Read(mon + "controller/" + own + "/status"));
  EXPECT_FALSE(Exists(mon + "controller/self"));
}

TEST_F(Holder, SetCommandsStoredByIdAndFiledOnlyUnderSafeNames) {
  MON::SnmpSetCommand byOid;
  byOid.set_uniq(9);
  byOid.set_id().select_oid("1.3.6.1");
  byOid.set_value("x");
  Commands({SetCommand("snmp", "community", 0, "public", 1), byOid});
  Commands({SetCommand("snmp", "community", 0, "private", 2), SetCommand("../x", "n", 1, "a"),
            SetCommand("", "n", 1, "b"), SetCommand("s", "a/b", 1, "c"), SetCommand("s", ".", 1, "d")});
  EXPECT_EQ("private", Read(mon + "snmp/0/community"));
  const auto& stored = holder->GetSnmpCommands().get_commands();
  ASSERT_EQ(6u, stored.size());
  EXPECT_EQ(1, stored[0].get_uniq().getValue());
  EXPECT_EQ("private", std::string(stored[0].get_value()));
  EXPECT_TRUE(stored[1].get_id().oid_isSelected());
  EXPECT_FALSE(Exists(root + "/var/x"));
  EXPECT_FALSE(Exists(mon + "s"));
  EXPECT_FALSE(Exists(mon + "1"));
  struct stat st;
  ASSERT_EQ(0, ::stat((mon + "snmp/0").c_str(), &st));
  EXPECT_EQ(0755u, st.st_mode & 0777u);
}

}  // namespace
