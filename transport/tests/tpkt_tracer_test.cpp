#include "transport/tpkt_tracer.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "transport/testing/link_test_util.h"

using linktest::CachedClock;
using linktest::Client;
using linktest::frame;
using linktest::run_until;
using linktest::Streams;

namespace {

class Collector : public TPKTTracer::Receiver {
public:
  void OnFrame(unsigned char const* data, unsigned length) override {
    payloads.emplace_back(reinterpret_cast<char const*>(data), length);
    if (on_frame) on_frame(payloads.back());
  }
  std::vector<std::string> payloads;
  std::function<void(std::string const&)> on_frame;
};

std::string bytes(std::initializer_list<int> octets) {
  std::string s;
  for (int o : octets) s += char(o);
  return s;
}

// What the socket holds now, without waiting.
std::string drain(Client& c) {
  std::string got;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::recv(c.fd.lowlevel_fd(), buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0) return got;
    got.append(buf, size_t(n));
  }
}

// Reads until the peer closes or nothing more comes.
bool sees_end(Client& c) {
  bool eof = false;
  c.receive(&eof);
  return eof;
}

// The tracer's own descriptor of the connection from the given local port.
int tracer_side(unsigned short client_port) {
  for (int fd = 3; fd < 1024; ++fd) {
    sockaddr_in sa = {};
    socklen_t len = sizeof sa;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0 && sa.sin_family == AF_INET &&
        ntohs(sa.sin_port) == client_port)
      return fd;
  }
  return -1;
}

// Octets that the tracer has not read yet from the client on that port.
int unread(unsigned short client_port) {
  int n = -1;
  ::ioctl(tracer_side(client_port), FIONREAD, &n);
  return n;
}

class Tracer : public ::testing::Test {
protected:
  void SetUp() override {
    tracer.SetReceiver(&collector);
    ASSERT_TRUE(tracer.Listen(0));
    port = tracer.GetListenPort();
    ASSERT_NE(port, 0);
  }

  std::unique_ptr<Client> connect() {
    auto c = std::make_unique<Client>(port);
    const size_t before = tracer.Clients();
    EXPECT_TRUE(c->connected);
    EXPECT_TRUE(run_until([&] { return tracer.Clients() == before + 1; }));
    return c;
  }

  CachedClock clock;
  Streams streams;
  Collector collector;
  TPKTTracer tracer;
  unsigned short port = 0;
};

}  // namespace

TEST(TPKTTracerListen, PortInUseGivesFalseWithNothingRegistered) {
  linktest::AcceptorSocket blocker;
  TPKTTracer tracer;
  EXPECT_FALSE(tracer.Listen(blocker.port));
  EXPECT_FALSE(tracer.IsListening());
  EXPECT_EQ(tracer.GetListenPort(), 0);
  // Only the blocker listens on the port: a client reaches it.
  Client c(blocker.port);
  EXPECT_TRUE(c.connected);
  EXPECT_TRUE(blocker.accept().is_valid());
}

TEST_F(Tracer, AcceptedClientIsAnnounced) {
  auto c = connect();
  EXPECT_EQ(linktest::without_loop_lines(streams.log.text()), "ACP connection open from " + c->name() + "\n");
}

TEST_F(Tracer, FramesAreReadAndBadOnesCloseTheClient) {
  const std::string largest(512, 'L');
  const struct {
    const char* what;
    std::string input;
    std::vector<std::string> payloads;
    bool closed;
  } cases[] = {
      {"one octet", bytes({0x03, 0x00, 0x00, 0x05, 0x41}), {"A"}, false},
      {"empty frame", bytes({0x03, 0x00, 0x00, 0x04}), {}, false},
      {"512 octets", frame(largest), {largest}, false},
      {"two in one piece", frame("ab") + frame("c"), {"ab", "c"}, false},
      {"513 octets", frame(largest + "M"), {}, true},
      {"bad version", bytes({0x04, 0x00, 0x00, 0x05, 0x41}), {}, true},
      {"bad reserved octet", bytes({0x03, 0x01, 0x00, 0x05, 0x41}), {}, true},
      {"length below the header", bytes({0x03, 0x00, 0x00, 0x03}), {}, true},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.what);
    collector.payloads.clear();
    auto client = connect();
    // Sent in one piece and octet by octet.
    for (int split = 0; split < 2; ++split) {
      if (split == 1) {
        if (c.closed) break;
        collector.payloads.clear();
        for (char o : c.input) {
          ASSERT_TRUE(client->send(std::string(1, o)));
          ASSERT_TRUE(run_until([&] { return unread(client->local_port) == 0; }));
        }
      } else {
        ASSERT_TRUE(client->send(c.input));
      }
      if (c.closed) {
        ASSERT_TRUE(run_until([&] { return tracer.Clients() == 0; }));
        EXPECT_TRUE(sees_end(*client));
        EXPECT_TRUE(collector.payloads.empty());
      } else {
        // A frame behind it shows that reading went on.
        ASSERT_TRUE(client->send(frame("end")));
        ASSERT_TRUE(run_until([&] { return !collector.payloads.empty() && collector.payloads.back() == "end"; }));
        std::vector<std::string> expected = c.payloads;
        expected.push_back("end");
        EXPECT_EQ(collector.payloads, expected);
        EXPECT_EQ(tracer.Clients(), 1u);
      }
    }
    client.reset();
    ASSERT_TRUE(run_until([&] { return tracer.Clients() == 0; }));
  }
}

TEST_F(Tracer, WithoutReceiverFramesAreReadAndDropped) {
  tracer.SetReceiver(nullptr);
  auto c = connect();
  ASSERT_TRUE(c->send(frame("lost")));
  ASSERT_TRUE(run_until([&] { return unread(c->local_port) == 0; }));
  tracer.SetReceiver(&collector);
  ASSERT_TRUE(c->send(frame("seen")));
  ASSERT_TRUE(run_until([&] { return !collector.payloads.empty(); }));
  EXPECT_EQ(collector.payloads, std::vector<std::string>{"seen"});
}

TEST_F(Tracer, SendFromTheReceiverAnswersOnlyThatClient) {
  collector.on_frame = [&](std::string const& p) {
    const std::string answer = "re:" + p;
    tracer.Send(answer.data(), unsigned(answer.size()));
  };
  auto a = connect();
  auto b = connect();
  ASSERT_TRUE(a->send(frame("a")));
  ASSERT_TRUE(run_until([&] { return !collector.payloads.empty(); }));
  EXPECT_EQ(a->receive(), frame("re:a"));
  // Outside the receiver a message reaches every client, and it is the
  // first thing b sees.
  tracer.Send("all", 3);
  EXPECT_EQ(b->receive(), frame("all"));
  EXPECT_EQ(a->receive(), frame("all"));
  tracer.Send(nullptr, 0);
  EXPECT_EQ(a->receive(), frame(""));
  EXPECT_EQ(b->receive(), frame(""));
}

TEST_F(Tracer, ReceiverThatDropsItsClientStopsTheReading) {
  auto c = connect();
  // An answer that fails closes the client from inside the receiver; the
  // frames behind are not read.
  collector.on_frame = [&](std::string const&) {
    ::shutdown(tracer_side(c->local_port), SHUT_WR);
    tracer.Send("x", 1);
  };
  ASSERT_TRUE(c->send(frame("first") + frame("second")));
  ASSERT_TRUE(run_until([&] { return tracer.Clients() == 0; }));
  EXPECT_EQ(collector.payloads, std::vector<std::string>{"first"});
}

TEST_F(Tracer, ClosedClientIsRemovedAtItsNextEvent) {
  auto a = connect();
  auto b = connect();
  a->fd.close();
  ASSERT_TRUE(run_until([&] { return tracer.Clients() == 1; }));
  b->abort();
  ASSERT_TRUE(run_until([&] { return tracer.Clients() == 0; }));
  auto c = connect();
  tracer.Send("ok", 2);
  EXPECT_EQ(c->receive(), frame("ok"));
}

TEST_F(Tracer, MessageTooLongForTheLengthFieldIsRefused) {
  auto c = connect();
  const std::string longest(TPKTTracer::max_send, 'x');
  const std::string too_long(TPKTTracer::max_send + 1, 'y');
  tracer.Send(too_long.data(), unsigned(too_long.size()));
  EXPECT_EQ(streams.err.text(), "TPKTTracer: message of 65532 octets not sent, max = 65531\n");
  tracer.Send(longest.data(), unsigned(longest.size()));
  std::string got;
  while (got.size() < longest.size() + 4 && linktest::readable(c->fd.lowlevel_fd())) got += c->receive();
  EXPECT_EQ(got, frame(longest));
  EXPECT_EQ(got.substr(0, 4), bytes({0x03, 0x00, 0xFF, 0xFF}));
}

TEST_F(Tracer, ClientThatStopsReadingIsDropped) {
  auto reader = connect();
  auto stuck = connect();
  const std::string message(TPKTTracer::max_send, 'z');
  std::string got;
  int sends = 0;
  while (tracer.Clients() == 2 && sends < 5000) {
    tracer.Send(message.data(), unsigned(message.size()));
    ++sends;
    got += drain(*reader);
  }
  EXPECT_EQ(tracer.Clients(), 1u);
  while (got.size() < size_t(sends) * (message.size() + 4) && linktest::readable(reader->fd.lowlevel_fd()))
    got += drain(*reader);
  EXPECT_EQ(got.size(), size_t(sends) * (message.size() + 4));
  tracer.Send("still", 5);
  EXPECT_EQ(reader->receive(), frame("still"));
}

TEST_F(Tracer, SendToAClosedSocketDoesNotRaiseSigpipe) {
  auto c = connect();
  EXPECT_EXIT(
      {
        ::signal(SIGPIPE, SIG_DFL);
        // The tracer's side can no longer send: the next send fails with
        // EPIPE, which raises the signal unless suppressed.
        ::shutdown(tracer_side(c->local_port), SHUT_WR);
        tracer.Send("x", 1);
        ::exit(tracer.Clients() == 0 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}
