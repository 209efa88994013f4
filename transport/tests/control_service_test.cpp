#include "transport/control_service.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "transport/testing/link_test_util.h"
#include "transport/tpkt.h"

using linktest::CachedClock;
using linktest::Client;
using linktest::contains;
using linktest::count;
using linktest::frame;
using linktest::Owner;
using linktest::run_until;
using linktest::Streams;
using State = Control::Service::State;

namespace {

class Listener : public ::testing::Test {
protected:
  void SetUp() override {
    acceptor.service_name("server");
    acceptor.Bind(&owner);
    ASSERT_TRUE(acceptor.Activate());
    port = acceptor.GetListenPort();
    ASSERT_NE(port, 0);
  }

  // A client that the listener serves.
  void serve(Client& c) {
    ASSERT_TRUE(c.connected);
    ASSERT_TRUE(run_until([&] { return acceptor.IsConnected() && acceptor.GetAddr() == c.name(); }));
  }

  CachedClock clock;
  Streams streams;
  Owner owner;
  Control::AcceptorNetCheckConnection acceptor{0};
  unsigned short port = 0;
};

}  // namespace

TEST(ControlService, StateTexts) {
  const struct {
    int value;
    const char* text;
  } cases[] = {{0, "Idle"}, {1, "Connecting"}, {2, "Deactivating"}, {3, "Connected"}, {4, "Unknown"}, {-1, "Unknown"}};
  for (const auto& c : cases) {
    std::ostringstream os;
    os << State::Type(c.value);
    EXPECT_EQ(os.str(), c.text);
  }
}

TEST(ControlService, SendWithoutConnectionIsRefused) {
  Streams streams;
  Control::AcceptorNet loud(0);
  EXPECT_FALSE(loud.Send("x", 1));
  ASSERT_TRUE(loud.Activate());
  EXPECT_FALSE(loud.Send("x", 1));
  Control::AcceptorNet quiet(0, false);
  EXPECT_FALSE(quiet.Send("x", 1));
  EXPECT_EQ(streams.err.text(),
            "Control::Service::Send() ignore Send request in Idle state.\n"
            "Control::Service::Send() ignore Send request in Connecting state.\n");
}

TEST_F(Listener, ServedConnectionCarriesFramesBothWays) {
  Client c(port);
  serve(c);
  EXPECT_EQ(owner.journal, std::vector<std::string>{"connect"});
  EXPECT_EQ(streams.out.text(), "new connection from " + c.name() + "\n");
  EXPECT_EQ(acceptor.GetState(), State::Connected);

  // One octet per read.
  const std::string f = frame("0123456789");
  for (size_t i = 0; i < f.size(); ++i) {
    EXPECT_TRUE(owner.messages.empty());
    ASSERT_TRUE(c.send(f.substr(i, 1)));
    ASSERT_TRUE(run_until([&] { return acceptor.get_read_measure().counter() == i + 1; }));
  }
  EXPECT_EQ(owner.messages, std::vector<std::string>{"0123456789"});

  // Several frames, and garbage before one, in one write.
  ASSERT_TRUE(c.send(frame("a") + frame("") + "\xFF\xFE" + frame("c")));
  ASSERT_TRUE(run_until([&] { return owner.messages.size() == 4; }));
  EXPECT_EQ(owner.messages, (std::vector<std::string>{"0123456789", "a", "", "c"}));
  EXPECT_EQ(linktest::without_loop_lines(streams.log.text()),
            "TPKT bad TPKT packet start.\n"
            "TPKT 1 more octets skipped before a TPKT packet start.\n");

  EXPECT_TRUE(acceptor.Send("reply", 5));
  EXPECT_EQ(c.receive(), frame("reply"));
  const std::string longest(Tpkt_protocol::max_payload, 'L');
  EXPECT_TRUE(acceptor.Send(longest.data(), int(longest.size())));
  std::string got;
  while (got.size() < longest.size() + 4 && linktest::readable(c.fd.lowlevel_fd())) got += c.receive();
  EXPECT_EQ(got, frame(longest));

  // Too long for the length field: refused, the connection stays.
  const std::string too_long(Tpkt_protocol::max_payload + 1, 'T');
  EXPECT_FALSE(acceptor.Send(too_long.data(), int(too_long.size())));
  EXPECT_TRUE(acceptor.IsConnected());
  EXPECT_EQ(streams.err.text(), "Control::Service::Send() message of 65532 octets not sent, max = 65531\n");

  // A healthy connection passes the checks without a word.
  linktest::advance(clock, 1000);
  linktest::advance(clock, 1000);
  EXPECT_TRUE(acceptor.IsConnected());
  EXPECT_EQ(count(streams.err.text(), "\n"), 1u);
}

TEST_F(Listener, SecondControllerIsRefusedAndTheFirstStaysServed) {
  Client first(port);
  serve(first);
  Client second(port);
  Client third(port);
  ASSERT_TRUE(run_until([&] { return contains(streams.err.text(), "refuse connection from " + third.name()); }));
  bool eof = false;
  EXPECT_EQ(second.receive(&eof), "");
  EXPECT_TRUE(eof);
  EXPECT_EQ(third.receive(&eof), "");
  EXPECT_TRUE(eof);
  EXPECT_EQ(streams.err.text(), "refuse connection from " + second.name() + "\n" +
                                    "CheckConnectionState CheckConnection\n" + "refuse connection from " +
                                    third.name() + "\n");
  EXPECT_EQ(acceptor.GetCheckState(), Control::AcceptorNetCheckConnection::Check::CheckConnection);
  EXPECT_EQ(owner.journal, std::vector<std::string>{"connect"});

  // The others gone, the first one is still served both ways.
  ASSERT_TRUE(first.send(frame("still here")));
  ASSERT_TRUE(run_until([&] { return !owner.messages.empty(); }));
  EXPECT_EQ(owner.messages, std::vector<std::string>{"still here"});
  EXPECT_TRUE(acceptor.Send("ack", 3));
  EXPECT_EQ(first.receive(), frame("ack"));

  // The fast check finds it healthy and ends.
  linktest::advance(clock, 1000);
  EXPECT_EQ(acceptor.GetCheckState(), Control::AcceptorNetCheckConnection::Check::Idle);
  EXPECT_TRUE(contains(streams.err.text(), "CheckConnectionState CheckConnection\nrefuse connection from " +
                                               third.name() + "\nCheckConnectionState Idle\n"));
  EXPECT_TRUE(acceptor.IsConnected());
}

TEST_F(Listener, SeveralPendingConnectionsAreTakenInOneEvent) {
  Client first(port);
  Client second(port);
  ASSERT_TRUE(run_until([&] { return contains(streams.err.text(), "refuse connection"); }));
  EXPECT_EQ(acceptor.GetAddr(), first.name());
  EXPECT_EQ(streams.out.text(), "new connection from " + first.name() + "\n");
  EXPECT_TRUE(contains(streams.err.text(), "refuse connection from " + second.name() + "\n"));
}

TEST_F(Listener, HealthCheckDropsADeadPeer) {
  Client dead(port);
  serve(dead);
  dead.abort();
  linktest::advance(clock, 1000);
  EXPECT_EQ(streams.err.text(), "connection from " + dead.name() + " closed: tcp socket change state.\n" +
                                    "connection from " + dead.name() + " closed: Connection reset by peer\n" +
                                    "control connection " + dead.name() + " closed.\n" + "CheckConnectionState Idle\n");
  // The deferred report ran with the timers.
  EXPECT_EQ(owner.journal, (std::vector<std::string>{"connect", "disconnect"}));
  EXPECT_EQ(acceptor.GetState(), State::Connecting);

  Client next(port);
  serve(next);
  EXPECT_EQ(owner.journal.back(), "connect");
}

TEST_F(Listener, TheEndOfAConnectionIsSeenByThePeer) {
  Client c(port);
  serve(c);
  // As the heartbeat does when the controller falls silent.
  acceptor.Disconnect();
  EXPECT_EQ(acceptor.GetState(), State::Deactivating);
  EXPECT_FALSE(acceptor.Send("late", 4));
  bool eof = false;
  EXPECT_EQ(c.receive(&eof), "");
  EXPECT_TRUE(eof);
  ASSERT_TRUE(run_until([&] { return acceptor.GetState() == State::Connecting; }));
  EXPECT_EQ(owner.journal, (std::vector<std::string>{"connect", "disconnect"}));

  // The peer closing its side ends the next one.
  Client other(port);
  serve(other);
  other.fd.close();
  ASSERT_TRUE(run_until([&] { return owner.journal.size() == 4; }));
  EXPECT_TRUE(contains(streams.err.text(), "control connection " + other.name() + " closed.\n"));
  EXPECT_EQ(acceptor.GetState(), State::Connecting);
  EXPECT_EQ(acceptor.GetAddr(), other.name());
}

TEST_F(Listener, ConnectionLostInTheOwnersConnectIsClosedTowardThePeer) {
  // As when the first signal sent on connect fails.
  owner.on_connect = [&] { acceptor.Disconnect(); };
  Client c(port);
  ASSERT_TRUE(c.connected);
  ASSERT_TRUE(run_until([&] { return owner.journal.size() == 2; }));
  bool eof = false;
  EXPECT_EQ(c.receive(&eof), "");
  EXPECT_TRUE(eof);
  EXPECT_EQ(acceptor.GetState(), State::Connecting);

  // The next controller is served and checked as usual.
  owner.on_connect = nullptr;
  Client next(port);
  serve(next);
  linktest::advance(clock, 1000);
  EXPECT_TRUE(acceptor.IsConnected());
}

TEST_F(Listener, SendToAPeerThatIsGoneFailsTheConnection) {
  Client c(port);
  serve(c);
  c.abort();
  EXPECT_FALSE(acceptor.Send("ping", 4));
  EXPECT_EQ(acceptor.GetState(), State::Deactivating);
  EXPECT_EQ(acceptor.GetOverflowCounter(), 1u);
  EXPECT_TRUE(contains(streams.err.text(), "SockStream[server]: write error, sendbuf="));
  ASSERT_TRUE(run_until([&] { return owner.journal.size() == 2; }));
  EXPECT_EQ(acceptor.GetState(), State::Connecting);
}

TEST_F(Listener, DeactivatedWhileTheEndIsReportedStaysIdle) {
  Client c(port);
  serve(c);
  acceptor.Disconnect();
  acceptor.Deactivate();
  EXPECT_FALSE(acceptor.IsListening());
  ASSERT_TRUE(run_until([&] { return owner.journal.size() == 2; }));
  EXPECT_EQ(acceptor.GetState(), State::Idle);
  // Disconnect without a connection reports nothing.
  acceptor.Disconnect();
  EXPECT_EQ(acceptor.GetState(), State::Idle);
}

TEST_F(Listener, AcceptPausesWhenOutOfDescriptors) {
  if (linktest::sanitized) GTEST_SKIP() << "the sanitizers open descriptors of their own while checking types";
  Client c(port);
  linktest::NoFreeDescriptor shortage;
  ASSERT_TRUE(shortage.active);
  const bool paused = run_until([&] { return contains(streams.err.text(), "pausing"); });
  shortage.lift();
  ASSERT_TRUE(paused);
  EXPECT_EQ(streams.err.text(), "can't accept connection: Too many open files, pausing\n");

  int passes = 0;
  run_until([&] { return ++passes > 20; });
  EXPECT_FALSE(acceptor.IsConnected());

  linktest::advance(clock, 1000);
  serve(c);
  EXPECT_EQ(count(streams.err.text(), "pausing"), 1u);
}

TEST(ControlListener, BusyPortIsRetriedUntilBindSucceeds) {
  CachedClock clock;
  Streams streams;
  Owner owner;
  auto blocker = std::make_unique<linktest::AcceptorSocket>();
  Control::AcceptorNetCheckConnection acceptor(blocker->port);
  acceptor.Bind(&owner);
  EXPECT_FALSE(acceptor.Activate());
  EXPECT_EQ(acceptor.GetState(), State::Idle);
  EXPECT_FALSE(acceptor.IsListening());
  const std::string line = "can't bind to socket: \"Address already in use\"  waiting...\n";
  EXPECT_EQ(streams.err.text(), line);
  linktest::advance(clock, 4999);
  EXPECT_EQ(streams.err.text(), line);
  linktest::advance(clock, 1);
  EXPECT_EQ(streams.err.text(), line + line);

  const unsigned short port = blocker->port;
  blocker.reset();
  linktest::advance(clock, 5000);
  EXPECT_EQ(streams.err.text(), line + line);
  EXPECT_TRUE(acceptor.IsListening());
  EXPECT_EQ(acceptor.GetState(), State::Connecting);

  Client c(port);
  ASSERT_TRUE(run_until([&] { return acceptor.IsConnected(); }));
  EXPECT_EQ(owner.journal, std::vector<std::string>{"connect"});

  // Deactivation cancels what is pending.
  acceptor.Deactivate();
  EXPECT_FALSE(acceptor.IsListening());
}

TEST_F(Listener, ControllerThatReconnectsAtOnceIsServedEveryTime) {
  // The old connection's end and the new connection arrive in the same loop
  // pass; the listener may see the new one first.
  const struct {
    const char* what;
    bool reset;
  } cases[] = {{"orderly close", false}, {"reset", true}};
  const int cycles = 1000;
  for (const auto& c : cases) {
    auto served = std::make_unique<Client>(port);
    serve(*served);
    const size_t before = owner.journal.size();
    for (int i = 0; i < cycles; ++i) {
      if (c.reset)
        served->abort();
      else
        served->fd.close();
      auto next = std::make_unique<Client>(port);
      ASSERT_TRUE(next->connected) << c.what << ", cycle " << i;
      ASSERT_TRUE(run_until([&] { return acceptor.IsConnected() && acceptor.GetAddr() == next->name(); }))
          << c.what << ", cycle " << i << ": " << streams.err.text().substr(0, 400);
      served = std::move(next);
    }
    EXPECT_EQ(count(streams.err.text(), "refuse connection"), 0u) << c.what;
    // Every end was reported to the owner before the next connection.
    ASSERT_EQ(owner.journal.size(), before + 2 * cycles) << c.what;
    for (size_t i = before; i < owner.journal.size(); i += 2) {
      EXPECT_EQ(owner.journal[i], "disconnect") << c.what << ", entry " << i;
      EXPECT_EQ(owner.journal[i + 1], "connect") << c.what << ", entry " << i;
    }
    // The last one is served both ways.
    ASSERT_TRUE(served->send(frame("hello")));
    ASSERT_TRUE(run_until([&] { return !owner.messages.empty() && owner.messages.back() == "hello"; }));
    EXPECT_TRUE(acceptor.Send("ack", 3));
    EXPECT_EQ(served->receive(), frame("ack"));
    served->fd.close();
    ASSERT_TRUE(run_until([&] { return acceptor.GetState() == State::Connecting; }));
  }
}

TEST_F(Listener, WhatALeavingControllerSentIsDeliveredBeforeItsEnd) {
  Client old(port);
  serve(old);
  // More than one read's worth, then the close, then the next controller,
  // all before the loop runs. (The end must have reached this side: a close
  // still queued behind unsent data cannot be seen, and the next controller
  // is refused then.)
  const std::string big(Tpkt_protocol::max_payload, 'b');
  const std::string burst = frame("last words") + frame(big);
  ASSERT_EQ(::send(old.fd.lowlevel_fd(), burst.data(), burst.size(), MSG_DONTWAIT | MSG_NOSIGNAL),
            ssize_t(burst.size()));
  old.fd.close();
  Client next(port);
  serve(next);
  ASSERT_EQ(owner.messages.size(), 2u);
  EXPECT_EQ(owner.messages[0], "last words");
  EXPECT_EQ(owner.messages[1], big);
  EXPECT_EQ(owner.journal, (std::vector<std::string>{"connect", "disconnect", "connect"}));
  EXPECT_EQ(count(streams.err.text(), "refuse connection"), 0u);
}
