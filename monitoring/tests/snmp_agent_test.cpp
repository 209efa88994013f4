#include "monitoring/snmp_agent.h"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>

#include "foundation/mux_time.h"
#include "monitoring/testing/test_agent.h"
#include "transport/testing/link_test_util.h"

namespace {

using linktest::contains;

class Notify : public ISnmpAgentNotify {
public:
  void OnSnmpAgentConnect(std::string const& name) override { connected.push_back(name); }
  std::vector<std::string> connected;
};

// Agents of the given names ("tams", "lemzgw.qv", "lemzgw"), each with its
// own test agent, all connected.
struct Links {
  explicit Links(std::vector<std::string> names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
      agents.emplace_back(new montest::Agent);
      text += "[snmpagent]\nhost = " + agents[i]->host() + "\nname = " + names[i] + "\n";
    }
    std::istringstream in(text);
    in >> file;
    ctrl.Bind(&notify);
    ctrl.CreateInstances(file["snmpagent"]);
  }
  bool connect() {
    return linktest::run_until([this] {
      bool all = true;
      for (auto& a : agents) a->pump();
      for (auto& i : ctrl.GetInstances()) all = all && i->IsConnected();
      for (auto& a : agents) all = all && a->connected();
      return all;
    });
  }
  // Runs the loop until agent i has `n[i]` messages.
  bool settle(const std::vector<std::size_t>& n) {
    return linktest::run_until([&] {
      bool all = true;
      for (std::size_t i = 0; i < agents.size(); ++i) {
        agents[i]->pump();
        all = all && agents[i]->messages.size() >= n[i];
      }
      return all;
    });
  }
  bool settle(std::vector<std::size_t> from, std::size_t n) {
    for (std::size_t& m : from) m += n;
    return settle(from);
  }
  std::vector<std::size_t> marks() const {
    std::vector<std::size_t> m;
    for (auto& a : agents) m.push_back(a->messages.size());
    return m;
  }
  IniFile::File file;
  Notify notify;
  SnmpAgentCtrl ctrl;
  std::vector<std::unique_ptr<montest::Agent>> agents;
};

TEST(SnmpAgent, Configuration) {
  const struct {
    const char* text;
    int state;
    const char* log;
  } cases[] = {
      {"[snmpagent]\nhost = 127.0.0.1\nname = tams\n", 0, ""},
      {"[snmpagent]\nhost = 127.0.0.1:1\nname = snmpd\n", 0,
       "snmpagent: required key \"name\" has invalid value=\"snmpd\", line 3\n"},
      {"[snmpagent]\nname = tams\n", 0, "snmpagent: required key \"host\" not present, line 1\n"},
      {"[snmpagent]\nhost = 127.0.0.1:1\nname = lemzgw\n", 1, ""},
      {"[snmpagent]\nhost = 127.0.0.1:99999\nname = tams\n", 0, "snmpagent: host \"127.0.0.1:99999\" is no address\n"},
      {"[snmpagent]\nhost = 127.0.0.1:abc\nname = tams\n", 0, "snmpagent: host \"127.0.0.1:abc\" is no address\n"},
      {"[snmpagent]\nhost = 127.0.0.1:\nname = tams\n", 0, "snmpagent: host \"127.0.0.1:\" is no address\n"},
      {"[snmpagent]\nhost = 127.0.0.1:7x\nname = tams\n", 0, "snmpagent: host \"127.0.0.1:7x\" is no address\n"},
  };
  for (const auto& c : cases) {
    linktest::Streams streams;
    IniFile::File file;
    std::istringstream in(c.text);
    in >> file;
    SnmpAgentCtrl ctrl;
    ctrl.CreateInstances(file["snmpagent"]);
    ASSERT_EQ(1u, ctrl.GetInstances().size()) << c.text;
    EXPECT_EQ(c.state, ctrl.GetInstances().front()->GetState()) << c.text;
    EXPECT_EQ(c.log, streams.err.text()) << c.text;
  }
}

TEST(SnmpAgent, BatchesByAgentType) {
  Links links({"tams", "lemzgw.qv", "lemzgw"});
  ASSERT_TRUE(links.connect());
  EXPECT_EQ((std::vector<std::string>{"tams", "lemzgw.qv", "lemzgw"}), links.notify.connected);
  linktest::Streams streams;

  links.ctrl.Send(static_cast<SnmpAgentCtrl::MonitoringItemType>(35), "x");
  EXPECT_FALSE(links.ctrl.IsSendPending());

  // Every item, its number as index: each agent gets the items of its type,
  // named as the hand-written table names them.
  auto from = links.marks();
  for (int type = 0; type < 35; ++type)
    links.ctrl.Send(static_cast<SnmpAgentCtrl::MonitoringItemType>(type), type, std::to_string(type));
  EXPECT_TRUE(links.ctrl.IsSendPending());
  ASSERT_TRUE(links.settle({from[0] + 1, from[1] + 1, from[2]}));
  EXPECT_FALSE(links.ctrl.IsSendPending());
  for (std::size_t a = 0; a < 3; ++a) {
    const int mask = a == 0 ? 2 : a == 1 ? 4 : 0;
    std::vector<std::string> expected, got;
    for (int type = 0; type < 35; ++type)
      if (montest::kItems[type].mask & mask)
        expected.push_back(std::string(montest::kItems[type].section) + " " + montest::kItems[type].column + " " +
                           std::to_string(type));
    for (const MON::SnmpSetCommand& c : links.agents[a]->sets(from[a])) {
      const MON::IniName& id = c.get_id().get_name();
      EXPECT_EQ(std::string(c.get_value()), std::to_string(id.get_index().getValue()));
      got.push_back(std::string(id.get_section()) + " " + std::string(id.get_name()) + " " +
                    std::string(c.get_value()));
    }
    EXPECT_EQ(expected, got) << a;
    EXPECT_EQ(mask ? 1 : 0, links.agents[a]->setMessages(from[a])) << a;
  }
  // Item 0 went into both batches, with consecutive numbers.
  EXPECT_EQ(1, links.agents[0]->sets(from[0]).at(0).get_uniq().getValue());
  EXPECT_EQ(2, links.agents[1]->sets(from[1]).at(0).get_uniq().getValue());

  // Immediate commands go to every link; an empty list sends nothing.
  from = links.marks();
  links.ctrl.SendTrapsink({});
  links.ctrl.Send(MON::SnmpSetCommands());
  links.ctrl.SendTrapsink({"10.0.0.1"});
  ASSERT_TRUE(links.settle(from, 1));
  for (std::size_t i = 0; i < 3; ++i) {
    const MON::Command& c = links.agents[i]->messages[from[i]].get_pdu().get_command();
    ASSERT_TRUE(c.snmp_trapsink_set_isSelected());
    ASSERT_EQ(1u, c.get_snmp_trapsink_set().get_trapsinks().size());
    EXPECT_FALSE(c.get_snmp_trapsink_set().get_trapsinks()[0].port_isPresent());
  }

  // The numbering starts over at 1 instead of overflowing.
  links.ctrl.SetNextUniq(INT_MAX);
  from = links.marks();
  links.ctrl.Send(SnmpAgentCtrl::driverBuild, "d");
  ASSERT_TRUE(links.settle({from[0] + 1, from[1] + 1, from[2]}));
  EXPECT_EQ(INT_MAX, links.agents[0]->sets(from[0]).at(0).get_uniq().getValue());
  EXPECT_EQ(1, links.agents[1]->sets(from[1]).at(0).get_uniq().getValue());
  EXPECT_EQ("", streams.err.text());
}

// More entries than the agent decodes in one list, and more octets than a
// frame carries, leave in several snmp-set messages, batched values and
// immediate commands alike, every entry once and in order.
TEST(SnmpAgent, SplitsWhatOneMessageCannotCarry) {
  Links links({"tams"});
  ASSERT_TRUE(links.connect());
  linktest::Streams streams;
  montest::Agent& agent = *links.agents[0];
  const std::string value(1000, 'v');
  const int kEntries = 300;
  for (bool batched : {true, false}) {
    const std::size_t from = agent.messages.size();
    MON::SnmpSetCommands commands;
    for (int i = 0; i < kEntries; ++i) {
      if (batched) {
        links.ctrl.Send(SnmpAgentCtrl::emPhonePanelSoftVer, i, value);
        continue;
      }
      MON::SnmpSetCommand c;
      c.set_uniq(100000 + i);
      MON::IniName& id = c.set_id().select_name();
      id.set_section("stored");
      id.set_name("key");
      id.set_index(i);
      c.set_value(value);
      commands.ref_commands().push_back(c);
    }
    if (!batched) links.ctrl.Send(commands);
    ASSERT_TRUE(linktest::run_until([&] {
      agent.pump();
      return agent.sets(from).size() >= std::size_t(kEntries);
    })) << batched
        << " " << agent.sets(from).size() << " undecoded " << agent.undecoded;
    const std::vector<MON::SnmpSetCommand> got = agent.sets(from);
    ASSERT_EQ(std::size_t(kEntries), got.size()) << batched;
    EXPECT_LE(5, agent.setMessages(from)) << batched;
    for (int i = 0; i < kEntries; ++i) {
      EXPECT_EQ(i, got[i].get_id().get_name().get_index().getValue()) << batched;
      if (i > 0) {
        EXPECT_EQ(got[i - 1].get_uniq().getValue() + 1, got[i].get_uniq().getValue()) << batched;
      }
    }
  }
  EXPECT_EQ(0, agent.undecoded);
  EXPECT_EQ("", streams.err.text());
}

TEST(SnmpAgent, BadInputKeepsTheLink) {
  Links links({"tams"});
  ASSERT_TRUE(links.connect());
  linktest::Streams streams;
  montest::Agent& agent = *links.agents[0];
  agent.sendPayload("\xff\xff\xff");
  MON::Message command;
  command.set_pdu().select_command().select_ping();
  agent.send(command);
  MON::Message response;
  response.set_pdu().select_response().select_ping().select_success();
  agent.send(response);
  const std::string name = links.ctrl.GetInstances().front()->GetServiceName();
  ASSERT_TRUE(linktest::run_until([&] { return contains(streams.err.text(), "unknown message type"); }));
  EXPECT_EQ(name + ": receive : decode error!\n" + name + ": receive unknown message type\n", streams.err.text());
  EXPECT_TRUE(links.ctrl.GetInstances().front()->IsConnected());
  EXPECT_EQ(1, agent.connections());
}

// An answering agent stays; a silent one is dropped by the first send after
// 30 s without a message from it.
TEST(SnmpAgent, PingsAndDropsASilentAgent) {
  for (bool answers : {true, false}) {
    looptest::CachedClock clock;
    Links links({"tams"});
    ASSERT_TRUE(links.connect());
    linktest::Streams streams;
    montest::Agent& agent = *links.agents[0];
    agent.answerPings = answers;
    const SnmpAgentInstance& link = *links.ctrl.GetInstances().front();
    // The first send arms the ping timer.
    links.ctrl.SendTrapsink({"10.0.0.1"});
    int droppedAt = 0;
    for (int second = 5; second <= 35; second += 5) {
      const int pings = agent.pings;
      linktest::advance(clock, 5000);
      ASSERT_TRUE(linktest::run_until([&] {
        agent.pump();
        return agent.pings > pings || !link.IsConnected();
      })) << second;
      if (!link.IsConnected()) {
        droppedAt = second;
        break;
      }
      if (answers) {
        ASSERT_TRUE(linktest::run_until([&] { return link.GetStamp() == Mux::milliseconds(); }));
      }
    }
    // Let the answer of the last ping arrive.
    linktest::run_until([&] { return false; }, 100);
    EXPECT_EQ(answers, link.IsConnected()) << answers;
    EXPECT_EQ(answers ? 0 : 35, droppedAt);
    if (answers) {
      EXPECT_EQ(7, agent.pings);
    }
    EXPECT_EQ(!answers, contains(streams.log.text(), link.GetServiceName() + ": ping timeout !!! now=")) << answers;
  }
}

}  // namespace
