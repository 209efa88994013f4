#include "transport/local_socket.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "transport/testing/link_test_util.h"

using linktest::advance;
using linktest::CachedClock;
using linktest::count;
using linktest::frame;
using linktest::Owner;
using linktest::run_until;
using linktest::Streams;
using State = Control::Service::State;

namespace {

bool is_socket(std::string const& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

std::string read_file(std::string const& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A local stream socket, optionally bound to a path.
Fd local_socket(std::string const& bound_to = std::string()) {
  Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!bound_to.empty()) {
    sockaddr_un sa = {};
    sa.sun_family = AF_UNIX;
    bound_to.copy(sa.sun_path, sizeof sa.sun_path - 1);
    if (::bind(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) fd.close();
  }
  return fd;
}

bool connect_to(Fd const& fd, std::string const& path) {
  sockaddr_un sa = {};
  sa.sun_family = AF_UNIX;
  path.copy(sa.sun_path, sizeof sa.sun_path - 1);
  return ::connect(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

class LocalSockets : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/ulvXXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    for (auto const& f : files) ::unlink(f.c_str());
    ::rmdir(dir.c_str());
  }
  std::string path(std::string const& name) {
    files.push_back(dir + "/" + name);
    return files.back();
  }
  // A path of exactly n characters in the test's directory.
  std::string path_of_length(size_t n, char fill = 'p') { return path(std::string(n - dir.size() - 1, fill)); }

  CachedClock clock;
  Streams streams;
  Owner owner;
  std::string dir;
  std::vector<std::string> files;
};

}  // namespace

TEST_F(LocalSockets, StaleSocketFileIsReplaced) {
  const std::string p = path("listener");
  ASSERT_TRUE(local_socket(p).is_valid());
  ASSERT_TRUE(is_socket(p));
  Control::AcceptorUnix acceptor(p);
  acceptor.Bind(&owner);
  EXPECT_TRUE(acceptor.Activate());
  EXPECT_TRUE(acceptor.IsListening());
  EXPECT_EQ(acceptor.GetState(), State::Connecting);
  EXPECT_EQ(streams.err.text(), "");

  // An unnamed client, then a named one while the first is served.
  Fd first = local_socket();
  ASSERT_TRUE(connect_to(first, p));
  ASSERT_TRUE(run_until([&] { return acceptor.IsConnected(); }));
  EXPECT_EQ(streams.out.text(), "new connection from \n");
  EXPECT_EQ(acceptor.GetAddr(), "");
  EXPECT_EQ(owner.journal, std::vector<std::string>{"connect"});
  const std::string second_name = path("second");
  Fd second = local_socket(second_name);
  ASSERT_TRUE(second.is_valid());
  ASSERT_TRUE(connect_to(second, p));
  ASSERT_TRUE(run_until([&] { return streams.err.text() == "refuse connection from " + second_name + "\n"; }));
  EXPECT_TRUE(linktest::readable(second.lowlevel_fd()));
  char c;
  EXPECT_EQ(::recv(second.lowlevel_fd(), &c, 1, 0), 0);

  // The socket file stays after deactivation.
  acceptor.Deactivate();
  EXPECT_FALSE(acceptor.IsListening());
  EXPECT_TRUE(is_socket(p));
}

TEST_F(LocalSockets, RegularFileAtTheListenersPathIsLeftIntact) {
  const std::string p = path("config");
  { std::ofstream(p) << "keep me"; }
  Control::AcceptorUnix acceptor(p);
  EXPECT_FALSE(acceptor.Activate());
  EXPECT_FALSE(acceptor.IsListening());
  const std::string line = "can't bind to socket: \"Address already in use\"  waiting...\n";
  EXPECT_EQ(streams.err.text(), line);
  advance(clock, 4999);
  EXPECT_EQ(streams.err.text(), line);
  advance(clock, 1);
  EXPECT_EQ(streams.err.text(), line + line);
  EXPECT_EQ(read_file(p), "keep me");

  // Once the file is gone the next bind succeeds.
  ASSERT_EQ(::unlink(p.c_str()), 0);
  advance(clock, 5000);
  EXPECT_TRUE(acceptor.IsListening());
  EXPECT_EQ(acceptor.GetState(), State::Connecting);
  EXPECT_EQ(streams.err.text(), line + line);
}

TEST_F(LocalSockets, PathsThatDoNotFitAreRefused) {
  const std::string longest = path_of_length(107);
  const std::string too_long = path_of_length(108, 'q');
  const struct {
    std::string path;
    bool fits;
  } cases[] = {{longest, true}, {too_long, false}, {"", false}};
  for (auto const& c : cases) {
    SCOPED_TRACE(c.path.size());
    Streams s;
    Control::AcceptorUnix acceptor(c.path);
    EXPECT_EQ(acceptor.Activate(), c.fits);
    EXPECT_EQ(acceptor.IsListening(), c.fits);
    Control::ConnectorUnix connector(c.path);
    EXPECT_EQ(connector.Activate(), c.fits);
    if (c.fits) {
      EXPECT_TRUE(is_socket(c.path));
      EXPECT_TRUE(connector.IsConnected());
      EXPECT_EQ(s.err.text(), "");
    } else {
      EXPECT_EQ(acceptor.GetState(), State::Idle);
      EXPECT_EQ(connector.GetState(), State::Idle);
      EXPECT_FALSE(connector.IsRetryPending());
      const std::string line =
          "can't use domain socket path '" + c.path + "': " + (c.path.empty() ? "empty" : "too long") + "\n";
      EXPECT_EQ(s.err.text(), line + line);
    }
  }
  // Nothing was created under a cut name.
  EXPECT_FALSE(is_socket(too_long.substr(0, 107)));
}

TEST_F(LocalSockets, ConnectorAndListenerCarryMessages) {
  const std::string p = path("server");
  const std::string me = path("client");
  Owner client_owner;
  Control::AcceptorUnix acceptor(p);
  acceptor.Bind(&owner);
  ASSERT_TRUE(acceptor.Activate());
  Control::ConnectorUnix connector(p, me);
  connector.Bind(&client_owner);
  EXPECT_TRUE(connector.Activate());
  // Connects at once, or never.
  EXPECT_TRUE(connector.IsConnected());
  EXPECT_EQ(connector.GetAddr(), p);
  EXPECT_EQ(streams.log.text(), "connected to " + p + "\n");
  ASSERT_TRUE(run_until([&] { return acceptor.IsConnected(); }));
  EXPECT_EQ(acceptor.GetAddr(), me);
  EXPECT_EQ(streams.out.text(), "new connection from " + me + "\n");

  EXPECT_TRUE(connector.Send("up", 2));
  EXPECT_TRUE(acceptor.Send("down", 4));
  ASSERT_TRUE(run_until([&] { return !owner.messages.empty() && !client_owner.messages.empty(); }));
  EXPECT_EQ(owner.messages, std::vector<std::string>{"up"});
  EXPECT_EQ(client_owner.messages, std::vector<std::string>{"down"});

  // The listener drops the connection: the client reconnects 10000 ms later.
  acceptor.Disconnect();
  ASSERT_TRUE(run_until([&] { return connector.GetState() == State::Connecting && owner.journal.size() == 2; }));
  EXPECT_EQ(client_owner.journal, (std::vector<std::string>{"connect", "disconnect"}));
  EXPECT_TRUE(connector.IsRetryPending());
  advance(clock, 9999);
  EXPECT_FALSE(connector.IsConnected());
  advance(clock, 1);
  EXPECT_TRUE(connector.IsConnected());
  ASSERT_TRUE(run_until([&] { return acceptor.IsConnected(); }));
  EXPECT_EQ(streams.err.text(), "control connection " + me + " closed.\ncontrol connection " + p + " closed.\n");

  // Deactivation closes the client's side without telling anybody.
  connector.Deactivate();
  EXPECT_EQ(connector.GetState(), State::Idle);
  ASSERT_TRUE(run_until([&] { return acceptor.GetState() == State::Connecting; }));
  EXPECT_EQ(client_owner.journal.size(), 3u);
}

TEST_F(LocalSockets, ConnectorWithoutListenerRetriesFastThenSlowly) {
  const std::string p = path("nobody");
  Control::ConnectorUnix connector(p);
  EXPECT_TRUE(connector.Activate());
  const std::string line = "can't connect to " + p + " : No such file or directory\n";
  const std::vector<unsigned> delays = {1000, 1000, 1000, 1000, 1000, 1000, 1000, 20000, 20000};
  for (size_t i = 0; i < delays.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(count(streams.err.text(), line), i + 1);
    EXPECT_TRUE(connector.IsRetryPending());
    EXPECT_EQ(connector.GetState(), State::Connecting);
    advance(clock, delays[i] - 1);
    EXPECT_EQ(count(streams.err.text(), line), i + 1);
    advance(clock, 1);
  }
  EXPECT_EQ(count(streams.err.text(), line), delays.size() + 1);
  EXPECT_EQ(streams.err.text().size(), (delays.size() + 1) * line.size());

  // A listener appears: the next attempt gets through.
  Control::AcceptorUnix acceptor(p);
  ASSERT_TRUE(acceptor.Activate());
  advance(clock, 20000);
  EXPECT_TRUE(connector.IsConnected());
}

TEST_F(LocalSockets, ConnectorWhoseLocalPathCannotBeBoundStillConnects) {
  const std::string p = path("server");
  const std::string occupied = path("occupied");
  { std::ofstream(occupied) << "data"; }
  const std::string nowhere = dir + "/missing/client";
  const struct {
    std::string local;
    std::string error;
  } cases[] = {
      {nowhere, "can't bind to domain socket '" + nowhere + "': \"No such file or directory\n"},
      {occupied, "can't bind to domain socket '" + occupied + "': \"Address already in use\n"},
      {path_of_length(108), "can't use domain socket path '" + files.back() + "': too long\n"},
  };
  Control::AcceptorUnix acceptor(p);
  ASSERT_TRUE(acceptor.Activate());
  for (auto const& c : cases) {
    SCOPED_TRACE(c.local);
    Streams s;
    Control::ConnectorUnix connector(p, c.local);
    EXPECT_TRUE(connector.Activate());
    EXPECT_TRUE(connector.IsConnected());
    ASSERT_TRUE(run_until([&] { return acceptor.IsConnected(); }));
    EXPECT_EQ(acceptor.GetAddr(), "");
    EXPECT_EQ(s.err.text(), c.error);
    connector.Deactivate();
    ASSERT_TRUE(run_until([&] { return acceptor.GetState() == State::Connecting; }));
  }
  EXPECT_EQ(read_file(occupied), "data");
}

TEST_F(LocalSockets, SocketThatCannotBeCreatedIsRetried) {
  if (linktest::sanitized) GTEST_SKIP() << "the sanitizers open descriptors of their own while checking types";
  const std::string p = path("server");
  Control::AcceptorUnix acceptor(p);
  ASSERT_TRUE(acceptor.Activate());
  Control::ConnectorUnix connector(p);

  linktest::NoFreeDescriptor shortage;
  ASSERT_TRUE(shortage.active);
  const bool activated = connector.Activate();
  for (int i = 0; i < 7; ++i) advance(clock, 1000);
  const std::string errors = streams.err.text();
  advance(clock, 19999);
  const std::string still = streams.err.text();
  shortage.lift();

  EXPECT_TRUE(activated);
  const std::string line = "can't create domain socket:Too many open files\n";
  EXPECT_EQ(count(errors, line), 8u);
  EXPECT_EQ(errors.size(), 8 * line.size());
  EXPECT_EQ(still, errors);
  EXPECT_EQ(connector.GetState(), State::Connecting);
  advance(clock, 1);
  EXPECT_TRUE(connector.IsConnected());
}

TEST_F(LocalSockets, ClientThatReconnectsAtOnceIsServedEveryTime) {
  const std::string p = path("listener");
  Control::AcceptorUnix acceptor(p);
  acceptor.Bind(&owner);
  ASSERT_TRUE(acceptor.Activate());
  Fd served = local_socket();
  ASSERT_TRUE(connect_to(served, p));
  ASSERT_TRUE(run_until([&] { return acceptor.IsConnected(); }));
  const int cycles = 200;
  for (int i = 0; i < cycles; ++i) {
    // The old end and the new connection reach the loop in the same pass.
    served.close();
    Fd next = local_socket();
    ASSERT_TRUE(connect_to(next, p)) << "cycle " << i;
    ASSERT_TRUE(run_until([&] { return owner.journal.size() == size_t(2 * i + 3); }))
        << "cycle " << i << ": " << streams.err.text().substr(0, 400);
    served = std::move(next);
  }
  EXPECT_EQ(count(streams.err.text(), "refuse connection"), 0u);
  for (size_t i = 1; i < owner.journal.size(); i += 2) {
    EXPECT_EQ(owner.journal[i], "disconnect") << "entry " << i;
    EXPECT_EQ(owner.journal[i + 1], "connect") << "entry " << i;
  }
  const std::string hello = frame("hello");
  ASSERT_EQ(::send(served.lowlevel_fd(), hello.data(), hello.size(), MSG_NOSIGNAL), ssize_t(hello.size()));
  ASSERT_TRUE(run_until([&] { return !owner.messages.empty() && owner.messages.back() == "hello"; }));
  acceptor.Deactivate();
}
