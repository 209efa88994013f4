#include "transport/connector.h"

#include <dirent.h>
#include <gtest/gtest.h>

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

int open_descriptors() {
  int n = 0;
  DIR* d = ::opendir("/proc/self/fd");
  if (!d) return -1;
  while (::readdir(d)) ++n;
  ::closedir(d);
  return n;
}

// A loopback port on which nobody listens.
unsigned short unused_port() {
  linktest::AcceptorSocket s;
  return s.port;
}

// Listens on a given loopback port, backlog 8.
Fd listen_on(unsigned short port) {
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  int on = 1;
  ::setsockopt(fd.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd.lowlevel_fd(), 8) != 0)
    fd.close();
  return fd;
}

std::string target(unsigned short port) { return "127.0.0.1:" + std::to_string(port); }

// Either way of connecting prints its own line.
bool announced(Streams const& streams, unsigned short port) {
  return streams.out.text() == "connected to " + target(port) + ".\n" ||
         streams.log.text() == "already connected to " + target(port) + "\n";
}

// Walks the retries of a connector that keeps failing: each failure line,
// then the given delay before the next attempt starts.
void expect_retries(Control::ConnectorNet& c, CachedClock& clock, Streams& streams, std::string const& line,
                    std::vector<unsigned> const& delays) {
  for (size_t i = 0; i < delays.size(); ++i) {
    SCOPED_TRACE("failure " + std::to_string(i + 1));
    ASSERT_TRUE(run_until([&] { return count(streams.err.text(), line) == i + 1; }));
    EXPECT_TRUE(c.IsRetryPending());
    EXPECT_FALSE(c.IsConnectPending());
    EXPECT_EQ(c.GetState(), State::Connecting);
    advance(clock, delays[i] - 1);
    EXPECT_TRUE(c.IsRetryPending());
    EXPECT_EQ(count(streams.err.text(), line), i + 1);
    advance(clock, 1);
    EXPECT_FALSE(c.IsRetryPending());
  }
}

}  // namespace

TEST(ConnectorNet, AddressTextOfTheOneArgumentConstructor) {
  const struct {
    const char* text;
    const char* host;
    unsigned short port;
  } cases[] = {
      {"10.1.2.3:5000", "10.1.2.3", 5000},
      {"10.1.2.3", "10.1.2.3", 0},
      // Kept as given: the attempt reports it.
      {"agent.example", "agent.example", 0},
      {"10.1.2.3:70000", "10.1.2.3:70000", 0},
      {"", "", 0},
  };
  for (auto const& c : cases) {
    Control::ConnectorNet conn{std::string(c.text)};
    EXPECT_EQ(conn.GetHost(), c.host) << c.text;
    EXPECT_EQ(conn.GetPort(), c.port) << c.text;
  }
}

TEST(ConnectorNet, NoServerRetriesFastSevenTimesThenSlowly) {
  CachedClock clock;
  Streams streams;
  const unsigned short port = unused_port();
  Control::ConnectorNet c("127.0.0.1", port);
  EXPECT_TRUE(c.Activate());
  EXPECT_TRUE(c.IsConnectPending());
  const std::string line = "fail to connect to " + target(port) + "\n";
  const std::vector<unsigned> delays = {1000, 1000, 1000, 1000, 1000, 1000, 1000, 15000, 15000};
  expect_retries(c, clock, streams, line, delays);
  ASSERT_TRUE(run_until([&] { return count(streams.err.text(), line) == delays.size() + 1; }));
  std::string all;
  for (size_t i = 0; i <= delays.size(); ++i) all += line;
  EXPECT_EQ(streams.err.text(), all);
  EXPECT_EQ(streams.out.text(), "");
}

TEST(ConnectorNet, PortInTheHostTextWins) {
  CachedClock clock;
  Streams streams;
  Owner owner;
  linktest::AcceptorSocket server;
  Control::ConnectorNet c(target(server.port), unused_port());
  c.Bind(&owner);
  EXPECT_TRUE(c.Activate());
  ASSERT_TRUE(run_until([&] { return c.IsConnected(); }));
  EXPECT_TRUE(announced(streams, server.port));
  EXPECT_EQ(c.GetAddr(), target(server.port));
  EXPECT_EQ(owner.journal, std::vector<std::string>{"connect"});
  EXPECT_FALSE(c.IsConnectPending());
  EXPECT_FALSE(c.IsRetryPending());

  // Messages go both ways in TPKT frames.
  Fd served = server.accept();
  ASSERT_TRUE(served.is_valid());
  const std::string hello = frame("hello");
  ASSERT_EQ(::send(served.lowlevel_fd(), hello.data(), hello.size(), MSG_NOSIGNAL), ssize_t(hello.size()));
  ASSERT_TRUE(run_until([&] { return !owner.messages.empty(); }));
  EXPECT_EQ(owner.messages, std::vector<std::string>{"hello"});
  EXPECT_TRUE(c.Send("up", 2));
  ASSERT_TRUE(linktest::readable(served.lowlevel_fd()));
  char buf[16];
  EXPECT_EQ(std::string(buf, size_t(::recv(served.lowlevel_fd(), buf, sizeof buf, 0))), frame("up"));
  EXPECT_EQ(streams.err.text(), "");
}

TEST(ConnectorNet, BadAddressStaysIdleWithoutASocket) {
  CachedClock clock;
  Streams streams;
  const int before = open_descriptors();
  Control::ConnectorNet c("agent.example", 5000);
  EXPECT_FALSE(c.Activate());
  EXPECT_EQ(c.GetState(), State::Idle);
  EXPECT_EQ(streams.err.text(), "bad address agent.example\n");
  EXPECT_EQ(open_descriptors(), before);
  EXPECT_FALSE(c.IsRetryPending());
  EXPECT_FALSE(c.IsConnectPending());
  advance(clock, 60000);
  EXPECT_EQ(streams.err.text(), "bad address agent.example\n");

  // Nor does a connector without any address connect to 0.0.0.0.
  Control::ConnectorNet none;
  EXPECT_FALSE(none.Activate());
  EXPECT_EQ(none.GetState(), State::Idle);
}

TEST(ConnectorNet, ReconnectsAfterTheServerClosesAndThenWaitsSlowly) {
  CachedClock clock;
  Streams streams;
  Owner owner;
  const unsigned short port = unused_port();
  Control::ConnectorNet c("127.0.0.1", port);
  c.Bind(&owner);
  ASSERT_TRUE(c.Activate());
  // The fast attempts are used up while nobody listens.
  const std::string fail = "fail to connect to " + target(port) + "\n";
  expect_retries(c, clock, streams, fail, {1000, 1000, 1000, 1000, 1000, 1000, 1000, 15000});
  ASSERT_TRUE(run_until([&] { return count(streams.err.text(), fail) == 9; }));
  EXPECT_EQ(c.GetFastRetries(), 0);

  Fd listener = listen_on(port);
  ASSERT_TRUE(listener.is_valid());
  advance(clock, 15000);
  ASSERT_TRUE(run_until([&] { return c.IsConnected(); }));
  Fd served(::accept4(listener.lowlevel_fd(), nullptr, nullptr, SOCK_CLOEXEC));
  ASSERT_TRUE(served.is_valid());

  // The server ends the connection and stops listening.
  served.close();
  listener.close();
  ASSERT_TRUE(run_until([&] { return c.GetState() == State::Connecting; }));
  EXPECT_EQ(owner.journal, (std::vector<std::string>{"connect", "disconnect"}));
  EXPECT_EQ(count(streams.err.text(), "control connection " + target(port) + " closed.\n"), 1u);
  EXPECT_TRUE(c.IsRetryPending());
  advance(clock, 9999);
  EXPECT_TRUE(c.IsRetryPending());
  advance(clock, 1);
  EXPECT_FALSE(c.IsRetryPending());
  // No fast attempt is left: the failure waits its slow delay.
  ASSERT_TRUE(run_until([&] { return count(streams.err.text(), fail) == 10; }));
  advance(clock, 14999);
  EXPECT_TRUE(c.IsRetryPending());
  advance(clock, 1);
  EXPECT_FALSE(c.IsRetryPending());
  EXPECT_TRUE(c.IsConnectPending());
}

TEST(ConnectorNet, DeactivateDuringAPendingConnectClosesTheSocket) {
  CachedClock clock;
  Streams streams;
  // A listener that never accepts, its queue filled up: a new connect stays
  // in progress.
  Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(::listen(listener.lowlevel_fd(), 0), 0);
  socklen_t len = sizeof sa;
  ::getsockname(listener.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len);
  const unsigned short port = ntohs(sa.sin_port);
  std::vector<Fd> fillers;
  for (int i = 0; i < 3; ++i) {
    Fd f(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    ::connect(f.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    fillers.push_back(f);
  }

  const int before = open_descriptors();
  Control::ConnectorNet c("127.0.0.1", port);
  EXPECT_TRUE(c.Activate());
  EXPECT_TRUE(c.IsConnectPending());
  EXPECT_GT(open_descriptors(), before);
  c.Deactivate();
  EXPECT_EQ(c.GetState(), State::Idle);
  EXPECT_FALSE(c.IsConnectPending());
  EXPECT_FALSE(c.IsRetryPending());
  EXPECT_EQ(open_descriptors(), before);
  int passes = 0;
  run_until([&] { return ++passes > 10; });
  advance(clock, 60000);
  run_until([&] { return ++passes > 20; });
  EXPECT_EQ(c.GetState(), State::Idle);
  EXPECT_FALSE(c.IsConnectPending());
  EXPECT_EQ(streams.err.text(), "");
  EXPECT_EQ(streams.out.text(), "");
}

TEST(ConnectorNet, SocketThatCannotBeCreatedIsRetried) {
  if (linktest::sanitized) GTEST_SKIP() << "the sanitizers open descriptors of their own while checking types";
  CachedClock clock;
  Streams streams;
  Owner owner;
  linktest::AcceptorSocket server;
  Control::ConnectorNet c("127.0.0.1", server.port);
  c.Bind(&owner);

  linktest::NoFreeDescriptor shortage;
  ASSERT_TRUE(shortage.active);
  const bool activated = c.Activate();
  // Seven fast retries, each failing again.
  for (int i = 0; i < 7; ++i) advance(clock, 1000);
  const std::string errors = streams.err.text();
  const bool slow = c.IsRetryPending();
  advance(clock, 19999);
  const std::string still = streams.err.text();
  shortage.lift();

  EXPECT_TRUE(activated);
  const std::string line = "can't create socket:Too many open files\n";
  EXPECT_EQ(count(errors, line), 8u);
  EXPECT_EQ(errors.size(), 8 * line.size());
  EXPECT_TRUE(slow);
  EXPECT_EQ(still, errors);
  EXPECT_EQ(c.GetState(), State::Connecting);

  advance(clock, 1);
  ASSERT_TRUE(run_until([&] { return c.IsConnected(); }));
  EXPECT_TRUE(announced(streams, server.port));
  EXPECT_EQ(owner.journal, std::vector<std::string>{"connect"});
}
