// The monitoring agents on the simulated board: what each agent gets on
// connection and on a change, the display command, the controller check and
// bad input from an agent.
#include <limits.h>
#include <unistd.h>

#include <map>
#include <set>

#include "daemon/tests/e2e/board_e2e.h"
#include "messages/HSP.h"
#include "messages/TERM.h"
#include "monitoring/testing/test_agent.h"

using namespace e2e;

namespace {

typedef std::map<int, std::set<int>> ItemIndexes;  // item column order -> indexes

std::vector<char> Octets(const std::string& s) { return std::vector<char>(s.begin(), s.end()); }

class AgentBoard : public BoardDaemon {
protected:
  void SetUp() override {
    BoardDaemon::SetUp();
    ASSERT_NO_FATAL_FAILURE(Start("[snmpagent]\nhost = " + tams.host() + "\nname = tams\n" +
                                  "[snmpagent]\nhost = " + qv.host() + "\nname = lemzgw.qv\n" +
                                  "[snmpagent]\nhost = 127.0.0.1:1\nname = snmpd\n"));
    ASSERT_TRUE(Both([](montest::Agent& a) { return a.setMessages() > 0; })) << daemon.Err();
  }

  bool Both(const std::function<bool(montest::Agent&)>& done, int ms = 5000) {
    return Eventually(
        [&] {
          tams.pump();
          qv.pump();
          return done(tams) && done(qv);
        },
        ms);
  }
  // The items and their indexes of the snmp-set entries from message `from` on.
  static ItemIndexes Items(const montest::Agent& a, std::size_t from = 0) {
    ItemIndexes out;
    for (const MON::SnmpSetCommand& c : a.sets(from))
      out[montest::ItemOf(c.get_id().get_name().get_name())].insert(int(c.get_id().get_name().get_index().getValue()));
    return out;
  }
  // The snmp-set entries of the section from message `from` on.
  static int InSection(const montest::Agent& a, std::size_t from, std::string const& section) {
    int n = 0;
    for (const MON::SnmpSetCommand& c : a.sets(from)) n += std::string(c.get_id().get_name().get_section()) == section;
    return n;
  }
  static std::string Last(const montest::Agent& a, const std::string& column, std::size_t from = 0) {
    const auto v = a.values(column, from);
    return v.empty() ? "-" : v.back().second;
  }
  int Display(const LGCP::DisplayParams& p, Controller& c) {
    LGCP::Command command;
    command.select_display(p);
    return Answer(command, CtrlTest::kNone, c);
  }
  int Display(const LGCP::DisplayParams& p) { return Display(p, controller); }
  static std::string Mon(std::string const& name) { return SysPaths::resolve(SysPaths::kMonitoringDir) + name; }

  montest::Agent tams, qv;
};

TEST_F(AgentBoard, EveryAgentGetsItsItemsOnConnectionAndChangesInOneMessage) {
  // The first message is the whole re-send, before the first readings.
  std::size_t first = 0;
  for (montest::Agent* a : {&tams, &qv}) {
    const MON::Command& c = a->messages.at(0).get_pdu().get_command();
    ASSERT_TRUE(c.snmp_set_isSelected());
    int uniq = 0;
    for (const MON::SnmpSetCommand& s : c.get_snmp_set().get_commands()) {
      EXPECT_LT(uniq, s.get_uniq().getValue());
      uniq = s.get_uniq().getValue();
    }
    EXPECT_EQ("4294967295", Last(*a, "gatewayDip", 0));
    EXPECT_EQ("4294967295", Last(*a, "gatewayConfigVersion", 0));
  }
  ItemIndexes tamsItems = Items(tams, first), qvItems = Items(qv, first);
  std::set<int> tamsSet, qvSet;
  for (auto& i : tamsItems) tamsSet.insert(i.first);
  for (auto& i : qvItems) qvSet.insert(i.first);
  EXPECT_EQ((std::set<int>{0, 1, 2, 3, 4, 5, 21, 22, 23, 24, 25, 26, 31, 32, 33, 34}), tamsSet);
  EXPECT_EQ((std::set<int>{0, 1, 2, 3, 4, 5, 27, 28, 29, 30, 31, 32, 33}), qvSet);
  EXPECT_EQ((std::set<int>{1, 2, 3, 4}), tamsItems[21]);
  for (montest::Agent* a : {&tams, &qv})
    for (const MON::SnmpSetCommand& s : a->sets(0)) {
      const int item = montest::ItemOf(s.get_id().get_name().get_name());
      ASSERT_LE(0, item);
      EXPECT_EQ(montest::kItems[item].section, std::string(s.get_id().get_name().get_section()));
    }
  EXPECT_TRUE(contains(daemon.Err(), "snmpagent: required key \"name\" has invalid value=\"snmpd\""));

  ASSERT_TRUE(Both([](montest::Agent& a) { return a.values("gatewayDip").size() >= 2; }, 5000));
  const std::size_t t = tams.messages.size(), q = qv.messages.size();
  Board("hal dip 9");
  ASSERT_TRUE(Both([&](montest::Agent& a) { return Last(a, "gatewayDip", &a == &tams ? t : q) == "9"; }, 5000));
  for (montest::Agent* a : {&tams, &qv}) {
    int carrying = 0;
    for (std::size_t i = (a == &tams ? t : q); i < a->messages.size(); ++i) {
      const MON::PDU& pdu = a->messages[i].get_pdu();
      if (!pdu.command_isSelected() || !pdu.get_command().snmp_set_isSelected()) continue;
      for (const MON::SnmpSetCommand& s : pdu.get_command().get_snmp_set().get_commands())
        if (std::string(s.get_id().get_name().get_name()) == "gatewayDip") ++carrying;
    }
    EXPECT_EQ(1, carrying);
  }
}

TEST_F(AgentBoard, DisplayStoresAndReportsToTheAgents) {
  const std::size_t t0 = tams.messages.size(), q0 = qv.messages.size();
  LGCP::DisplayParams board;
  LGCP::BoardStatusParams& b = board.select_board().select_boardStatus();
  b.set_position(2);
  b.set_version(Octets("v7"));
  b.set_status(LGCP::ExtBoardStatus::NamedNumber(1));
  b.set_type(LGCP::ExtBoardType::NamedNumber(1));
  EXPECT_EQ(kSuccess, Display(board));
  LGCP::DisplayParams phone;
  LGCP::EmPhoneStatusParams& p = phone.select_emPhone().select_phoneStatus();
  p.set_id(0);
  p.set_panelSV(Octets("p"));
  p.set_ctrlSV(Octets("c"));
  p.set_fpgaSV(Octets("f"));
  EXPECT_EQ(kSuccess, Display(phone));
  for (int owner : {1, 4}) {
    LGCP::DisplayParams counter;
    LGCP::TermCounter& c = counter.select_termCounter();
    c.set_owner(LGCP::TermCounterOwner::NamedNumber(owner));
    if (owner == 4) c.set_ownerId(3);
    c.set_cnt(10 + owner);
    EXPECT_EQ(kSuccess, Display(counter));
  }
  LGCP::DisplayParams foreign;
  foreign.select_controller().set_host().set_iaddr("10.9.9.9");
  foreign.ref_controller().set_status(HSP::ControllerStatus::active);
  EXPECT_EQ(kSuccess, Display(foreign));
  LGCP::DisplayParams sinks;
  sinks.select_snmpTrapReceivers().push_back(ASN1::IA5String("10.0.0.7"));
  EXPECT_EQ(kSuccess, Display(sinks));
  LGCP::DisplayParams empty;
  empty.select_snmpTrapReceivers();
  EXPECT_EQ(kSuccess, Display(empty));
  LGCP::DisplayParams set;
  set.select_snmp_set();
  for (const char* section : {"plain", "../etc"})
    set.ref_snmp_set().ref_commands().push_back(montest::SetCommand(section, "key", 1, "val", 1));
  EXPECT_EQ(kSuccess, Display(set));
  LGCP::DisplayParams channels;
  channels.select_board().select_boardChannelStatus();
  EXPECT_EQ(kSuccess, Display(channels));
  LGCP::DisplayParams phoneChannels;
  phoneChannels.select_emPhone().select_phoneChannelStatus();
  EXPECT_EQ(kSuccess, Display(phoneChannels));
  LGCP::DisplayParams framer;
  framer.select_framer().set_e1(1);
  framer.ref_framer().set_info().select_line(true);
  EXPECT_EQ(kSuccess, Display(framer));
  EXPECT_EQ(0u, Lines("hal led").at(0).find("led=12")) << Board("hal led").text();
  // Then a set of a section of its own: each agent gets its messages in the
  // order of the commands, so once it has this one it has those before.
  LGCP::DisplayParams mark;
  mark.select_snmp_set();
  mark.ref_snmp_set().ref_commands().push_back(montest::SetCommand("mark", "end", 1, "1", 2));
  EXPECT_EQ(kSuccess, Display(mark));
  ASSERT_TRUE(Both([&](montest::Agent& a) { return InSection(a, &a == &tams ? t0 : q0, "mark") > 0; }));
  ItemIndexes ti = Items(tams, t0), qi = Items(qv, q0);
  EXPECT_EQ((std::set<int>{2}), ti[6]);
  EXPECT_EQ((std::set<int>{2}), ti[8]);
  EXPECT_EQ((std::set<int>{1}), ti[9]);
  EXPECT_EQ((std::set<int>{1}), ti[16]);
  EXPECT_EQ((std::set<int>{0}), ti[17]);
  EXPECT_EQ((std::set<int>{3}), ti[20]);
  EXPECT_EQ((std::set<int>{0}), ti[3]);
  EXPECT_EQ((std::set<int>{0}), qi[17]);
  EXPECT_EQ(0u, qi.count(6) + qi.count(9) + qi.count(20));
  EXPECT_EQ("v7", Last(tams, "extBoardSoftVer", t0));
  // Item 3 carries the board's own status, not the foreign one.
  EXPECT_NE(std::to_string(int(HSP::ControllerStatus::active)), Last(tams, "controllerStatus", t0));
  EXPECT_EQ("1\nv7\n1\n", ReadFile(Mon("board2")));
  EXPECT_TRUE(Exists(Mon("plain")));
  EXPECT_FALSE(Exists(Mon("../etc/key")));
  for (montest::Agent* a : {&tams, &qv}) {
    int sinkMessages = 0;
    for (std::size_t i = (a == &tams ? t0 : q0); i < a->messages.size(); ++i) {
      const MON::Command& c = a->messages[i].get_pdu().get_command();
      if (c.snmp_trapsink_set_isSelected()) ++sinkMessages;
    }
    EXPECT_EQ(1, sinkMessages);
    EXPECT_EQ(1, InSection(*a, a == &tams ? t0 : q0, "plain"));
  }

  // As many phones as the board keeps, and set commands of long values: far
  // more than one frame carries.
  const int kPhones = 1024, kLong = 100;
  for (int id = 1; id < kPhones; ++id) {
    p.set_id(id);
    ASSERT_EQ(kSuccess, Display(phone)) << id;
  }
  for (int part = 0; part < 4; ++part) {
    LGCP::DisplayParams longSet;
    longSet.select_snmp_set();
    for (int i = part * kLong / 4; i < (part + 1) * kLong / 4; ++i)
      longSet.ref_snmp_set().ref_commands().push_back(montest::SetCommand("long", "text", i, std::string(1000, 'L'), -1 - i));
    ASSERT_EQ(kSuccess, Display(longSet)) << part;
  }

  // The stored values are in the next re-send, all of them, in several
  // messages that each fit a frame.
  tams.close();
  const std::size_t before = tams.messages.size();
  ASSERT_TRUE(Eventually(
      [&] {
        tams.pump();
        return tams.connections() == 2 && !tams.values("extBoardSoftVer", before).empty();
      },
      15000));
  ASSERT_TRUE(Eventually(
      [&] {
        tams.pump();
        return tams.values("emPhoneMode", before).size() >= std::size_t(kPhones);
      },
      5000))
      << tams.values("emPhoneMode", before).size();
  EXPECT_EQ("v7", Last(tams, "extBoardSoftVer", before));
  EXPECT_EQ("val", Last(tams, "key", before));
  const ItemIndexes resent = Items(tams, before);
  for (int item = 9; item <= 16; ++item) EXPECT_EQ(std::size_t(kPhones), resent.at(item).size()) << item;
  std::set<int> uniqs, longOnes;
  std::size_t entries = 0;
  for (const MON::SnmpSetCommand& s : tams.sets(before)) {
    const MON::IniName& id = s.get_id().get_name();
    if (std::string(id.get_section()) == "long") {
      EXPECT_EQ(-1 - id.get_index().getValue(), s.get_uniq().getValue());
      longOnes.insert(int(id.get_index().getValue()));
    } else if (montest::ItemOf(id.get_name()) >= 0) {
      uniqs.insert(int(s.get_uniq().getValue()));
      ++entries;
    }
  }
  EXPECT_EQ(entries, uniqs.size());
  EXPECT_EQ(std::size_t(kLong), longOnes.size());
  EXPECT_LE(2, tams.setMessages(before));
  EXPECT_EQ(0, tams.undecoded);

  // A controller disconnect removes the board files and keeps the phone's.
  controller.Close();
  ASSERT_TRUE(Eventually([&] { return !Exists(Mon("board2")); }));
  EXPECT_TRUE(Exists(Mon("emphone0")));
}

// A copy of a sleeping program named "controller" in the directory (a
// directory of its own under /tmp when none is given), running for the life
// of the object.
struct NamedController {
  explicit NamedController(std::string const& dir = "") {
    char own[] = "/tmp/ulvarond-host-XXXXXX";
    if (dir.empty() && ::mkdtemp(own)) ownDir = own;
    copy = (dir.empty() ? ownDir : dir) + "/controller";
    EXPECT_EQ(0, std::system(("cp /bin/sleep " + copy).c_str()));
    pid = ::fork();
    if (pid == 0) {
      ::execl(copy.c_str(), "controller", "30", static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~NamedController() {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    std::remove(copy.c_str());
    if (!ownDir.empty()) ::rmdir(ownDir.c_str());
  }
  std::string ownDir;
  std::string copy;
  pid_t pid;
};

TEST_F(AgentBoard, ControllerCheck) {
  // The controller check runs every 5 s: each wait lasts a few of them.
  const int checks = 15000;
  // The host's and other boards' controllers are none of this board's.
  std::unique_ptr<NamedController> foreign(new NamedController);
  const std::string self = Mon("controller/self");
  ASSERT_TRUE(Eventually([&] { return Exists(self); }, checks));
  char link[PATH_MAX] = {};
  ASSERT_GT(::readlink(self.c_str(), link, sizeof link - 1), 0);
  controller.Close();
  ASSERT_TRUE(Both([](montest::Agent& a) { return Last(a, "controllerStatus") == "5"; }, checks));

  {
    NamedController own(SysPaths::resolve("/var"));
    ASSERT_TRUE(Both([](montest::Agent& a) { return Last(a, "controllerStatus") == "4"; }, checks))
        << ReadFile(Mon("controller/self/status"));
  }
  foreign.reset();

  Controller again;
  again.SetSignalsApart(true);
  ASSERT_TRUE(again.Connect(port, 5000));
  LGCP::DisplayParams own;
  own.select_controller().set_host().set_iaddr(link);
  own.ref_controller().set_status(HSP::ControllerStatus::active);
  EXPECT_EQ(kSuccess, Display(own, again));
  ASSERT_TRUE(Both([](montest::Agent& a) { return Last(a, "controllerStatus") == "2"; }, checks));
}

TEST_F(AgentBoard, BadInputFromAnAgentKeepsTheLink) {
  tams.sendPayload("\xff\xff\xff");
  MON::Message command;
  command.set_pdu().select_command().select_ping();
  tams.send(command);
  ASSERT_TRUE(Eventually([&] { return contains(daemon.Err(), "receive unknown message type"); }));
  const std::string err = daemon.Err();
  EXPECT_TRUE(contains(err, "snmpagent.tams " + tams.host() + ": receive : decode error!\n")) << err;
  const std::size_t t = tams.messages.size();
  Board("hal dip 5");
  ASSERT_TRUE(Both([&](montest::Agent& a) { return Last(a, "gatewayDip", &a == &tams ? t : 0) == "5"; }));
  EXPECT_EQ(1, tams.connections());
}

}  // namespace
