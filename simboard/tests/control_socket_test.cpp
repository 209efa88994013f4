#include "simboard/control_socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "simboard/simulator.h"
#include "simboard/testing/sim_client.h"
#include "simboard/tests/sim_test_util.h"

namespace {

using SimBoard::Answer;
using SimBoard::Client;

class ControlSocket : public ::testing::Test {
protected:
  ControlSocket()
      : path(std::string(::testing::TempDir()) + "simboard-" + std::to_string(::getpid()) + ".sock"),
        server(sim, path) {
    sim.add(std::unique_ptr<SimBoard::Driver>(new simtest::Probe));
  }

  void SetUp() override {
    ASSERT_TRUE(server.Listen());
    ASSERT_TRUE(client.Connect(path, 0));
  }

  SimBoard::Simulator sim;
  std::string path;
  SimBoard::ControlServer server;
  Client client;
};

TEST_F(ControlSocket, AnswersHelp) {
  ASSERT_TRUE(client.Send("help"));
  Answer a;
  ASSERT_TRUE(simtest::run_until([&] { return client.Receive(a, 0) == Client::Ok; }));
  EXPECT_TRUE(a.ok);
  EXPECT_EQ("help - lists every command", a.lines.at(0));
  EXPECT_EQ("probe say <word> - answers the word", a.find("probe say"));
}

TEST_F(ControlSocket, ErrorOnABadCommandAndTheConnectionGoesOn) {
  const struct {
    const char* line;
    bool ok;
    const char* error;
    std::vector<std::string> lines;
  } cases[] = {
      {"bogus", false, "unknown command \"bogus\"; \"help\" lists the commands", {}},
      {"probe say", false, "usage: probe say <word>", {}},
      {"probe say hi", true, "", {"hi"}},
      {"probe say hi\r", true, "", {"hi"}},
      {"board devices", true, "", {"/dev/probe opens=0"}},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(client.Send(c.line)) << c.line;
    Answer a;
    ASSERT_TRUE(simtest::run_until([&] { return client.Receive(a, 0) == Client::Ok; })) << c.line;
    EXPECT_EQ(c.ok, a.ok) << c.line;
    EXPECT_EQ(c.error, a.error) << c.line;
    EXPECT_EQ(c.lines, a.lines) << c.line;
  }
  EXPECT_EQ(1u, server.connections());
}

TEST_F(ControlSocket, RefusesAnOverlongLineAndServesTheNextOne) {
  Client other;
  ASSERT_TRUE(other.Connect(path, 0));
  // Sent in pieces, as a slow writer would.
  const std::string longLine(SimBoard::ControlServer::kMaxLine * 3, 'x');
  Answer a;
  ASSERT_TRUE(other.Send(longLine));
  ASSERT_TRUE(simtest::run_until([&] { return other.Receive(a, 0) == Client::Ok; }));
  EXPECT_FALSE(a.ok);
  EXPECT_EQ("line longer than 4096 bytes", a.error);
  ASSERT_TRUE(other.Send("probe say next"));
  ASSERT_TRUE(simtest::run_until([&] { return other.Receive(a, 0) == Client::Ok; }));
  EXPECT_TRUE(a.ok);
  EXPECT_EQ(std::vector<std::string>{"next"}, a.lines);
}

TEST_F(ControlSocket, AnswersInOrderAndSkipsBlankLines) {
  for (const char* line : {"probe say one", "", "   ", "probe say two", "nonsense"}) ASSERT_TRUE(client.Send(line));
  std::vector<Answer> answers;
  ASSERT_TRUE(simtest::run_until([&] {
    Answer a;
    while (client.Receive(a, 0) == Client::Ok) answers.push_back(a);
    return answers.size() >= 3;
  }));
  ASSERT_EQ(3u, answers.size());
  EXPECT_EQ(std::vector<std::string>{"one"}, answers[0].lines);
  EXPECT_EQ(std::vector<std::string>{"two"}, answers[1].lines);
  EXPECT_FALSE(answers[2].ok);
}

TEST_F(ControlSocket, ClientsComeAndGo) {
  client.Close();
  Client second;
  ASSERT_TRUE(second.Connect(path, 0));
  Answer a;
  ASSERT_TRUE(second.Send("probe say again"));
  ASSERT_TRUE(simtest::run_until([&] { return second.Receive(a, 0) == Client::Ok && server.connections() == 1; }));
  EXPECT_EQ(std::vector<std::string>{"again"}, a.lines);
}

TEST_F(ControlSocket, SocketFileGoesWithTheServer) {
  struct stat st;
  EXPECT_EQ(0, ::stat(path.c_str(), &st));
  {
    SimBoard::Simulator other;
    const std::string p2 = path + "2";
    {
      SimBoard::ControlServer s2(other, p2);
      ASSERT_TRUE(s2.Listen());
      EXPECT_EQ(0, ::stat(p2.c_str(), &st));
    }
    EXPECT_NE(0, ::stat(p2.c_str(), &st));
  }
}

TEST(ControlSocketClient, RefusesCommandsWithALineEndAndAnswersNothingWhenClosed) {
  Client c;
  EXPECT_FALSE(c.Send("help"));
  EXPECT_EQ("no answer", c.Command("help", 0).error);
  EXPECT_FALSE(c.Connect("/nonexistent-dir/simboard.sock", 0));
}

}  // namespace
