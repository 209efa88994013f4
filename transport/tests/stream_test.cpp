#include "transport/stream.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <thread>
#include <vector>

#include "transport/testing/link_test_util.h"

using linktest::Client;
using linktest::SocketPair;
using linktest::Streams;

namespace {

// The stream layer alone in a family that records what comes up.
class Rig : public ProtocolsFamily {
public:
  Rig() {
    strm = static_cast<StrmProtocol*>(add_protocol_tail(new StrmProtocol));
    strm->service_name("test");
  }
  void on_message(Packet& p) override { chunks.push_back(std::string(p.cdata(), p.cdata() + p.length())); }
  void on_activated(::Protocol*) override { ++activations; }
  void on_deactivated(::Protocol*, Protocol_status st) override {
    reports.push_back(st->message());
    failed = !st->success();
  }

  void start(Fd const& fd) {
    strm->attach(fd);
    activate();
  }
  std::string received() const {
    std::string all;
    for (const auto& c : chunks) all += c;
    return all;
  }
  // Writes bytes through the layer; the packet is left as it was.
  void write(std::string const& bytes) {
    Packet p;
    p.reserve_head(0);
    std::copy(bytes.begin(), bytes.end(), p.put(unsigned(bytes.size())));
    strm->message(p);
    EXPECT_EQ(p.length(), bytes.size());
  }

  StrmProtocol* strm;
  std::vector<std::string> chunks;
  std::vector<std::string> reports;
  bool failed = false;
  int activations = 0;
};

void put(Fd const& fd, std::string const& bytes) {
  ASSERT_EQ(::send(fd.lowlevel_fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
}

std::string drain(Fd const& fd) {
  std::string got;
  char buf[8192];
  for (;;) {
    ssize_t n = ::recv(fd.lowlevel_fd(), buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0) return got;
    got.append(buf, size_t(n));
  }
}

}  // namespace

TEST(StrmProtocol, DataBeforeThePeerClosedIsHandedUpThenTheLayerFails) {
  SocketPair sp;
  Rig rig;
  const unsigned before = multiplexer.handler_count();
  rig.start(sp.a);
  EXPECT_EQ(rig.activations, 1);
  EXPECT_EQ(multiplexer.handler_count(), before + 1);
  // Nothing waiting: the read changes nothing and reports nothing.
  EXPECT_EQ(rig.strm->do_read(), 0);
  EXPECT_TRUE(rig.reports.empty());

  put(sp.b, "last words");
  sp.a.close();
  sp.b.close();
  ASSERT_TRUE(linktest::run_until([&] { return !rig.reports.empty(); }));
  EXPECT_EQ(rig.chunks, std::vector<std::string>{"last words"});
  EXPECT_EQ(rig.reports, std::vector<std::string>{"read error: connection closed by peer"});
  EXPECT_TRUE(rig.failed);
  EXPECT_FALSE(rig.strm->opened());
  EXPECT_EQ(multiplexer.handler_count(), before);
  EXPECT_EQ(rig.strm->get_read_measure().counter(), 3u);
}

TEST(StrmProtocol, PollErrorAndHangUpTextsComeFromTheSocket) {
  const struct {
    const char* what;
    short events;
    bool reset;
    const char* report;
  } cases[] = {
      {"hang-up alone", POLLHUP, false, "pollhup: connection closed by peer"},
      {"error and hang-up", POLLERR | POLLHUP, true, "pollerr: Connection reset by peer"},
      {"error without a pending error", POLLERR, false, "pollerr: socket error"},
  };
  for (const auto& c : cases) {
    linktest::AcceptorSocket server;
    Client client(server.port);
    Fd served = server.accept();
    Rig rig;
    rig.start(served);
    if (c.reset) client.abort();
    rig.strm->on_event(served.lowlevel_fd(), c.events);
    EXPECT_EQ(rig.reports, std::vector<std::string>{c.report}) << c.what;
    EXPECT_FALSE(rig.strm->opened()) << c.what;
  }
}

TEST(StrmProtocol, LargeInputIsHandedUpInPacketSizedChunksInOrder) {
  SocketPair sp;
  int size = 1 << 20;
  ::setsockopt(sp.b.lowlevel_fd(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  Rig rig;
  rig.start(sp.a);
  std::string bytes(100000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7 % 251);
  put(sp.b, bytes);
  while (rig.strm->do_read() > 0) {
  }
  EXPECT_GE(rig.chunks.size(), 2u);
  for (const auto& c : rig.chunks) EXPECT_LE(c.size(), Packet::packet_max_size);
  EXPECT_EQ(rig.received(), bytes);
}

TEST(StrmProtocol, ActivationWithoutDescriptorReportsAndRegistersNothing) {
  Rig rig;
  const unsigned before = multiplexer.handler_count();
  rig.activate();
  EXPECT_EQ(rig.reports, std::vector<std::string>{"fd not attached"});
  EXPECT_TRUE(rig.failed);
  EXPECT_EQ(rig.activations, 0);
  EXPECT_EQ(multiplexer.handler_count(), before);
}

TEST(StrmProtocol, ReattachAndDeactivationCloseTowardThePeer) {
  for (bool by_attach : {true, false}) {
    SocketPair old_pair;
    SocketPair new_pair;
    Rig rig;
    const unsigned before = multiplexer.handler_count();
    rig.start(old_pair.a);
    old_pair.a.close();
    if (by_attach) {
      rig.strm->attach(new_pair.a);
      EXPECT_TRUE(rig.reports.empty());
    } else {
      rig.deactivate();
      EXPECT_EQ(rig.reports, std::vector<std::string>{"success"});
      EXPECT_FALSE(rig.failed);
    }
    EXPECT_EQ(multiplexer.handler_count(), before) << by_attach;
    ASSERT_TRUE(linktest::readable(old_pair.b.lowlevel_fd()));
    char c;
    EXPECT_EQ(::recv(old_pair.b.lowlevel_fd(), &c, 1, MSG_DONTWAIT), 0) << by_attach;
  }
}

TEST(StrmProtocol, WriteWaitsForASlowReaderAndSendsEveryByteInOrder) {
  SocketPair sp;
  int small = 4096;
  ::setsockopt(sp.a.lowlevel_fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  ::setsockopt(sp.b.lowlevel_fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  Rig rig;
  rig.start(sp.a);
  std::string bytes(60000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i % 253);

  std::string got;
  std::thread reader([&] {
    while (got.size() < bytes.size() && linktest::readable(sp.b.lowlevel_fd())) got += drain(sp.b);
  });
  rig.write(bytes);
  reader.join();
  EXPECT_EQ(got, bytes);
  EXPECT_TRUE(rig.reports.empty());
  EXPECT_EQ(rig.strm->GetOverflowCounter(), 0u);
  EXPECT_EQ(rig.strm->get_write_measure().counter(), 1u);
}

TEST(StrmProtocol, WriteTimesOutWhenThePeerReadsNothing) {
  Streams captured;
  SocketPair sp;
  int small = 4096;
  ::setsockopt(sp.a.lowlevel_fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  Rig rig;
  rig.start(sp.a);
  rig.write(std::string(60000, 'x'));
  EXPECT_EQ(rig.reports, std::vector<std::string>{"write timeout"});
  EXPECT_EQ(rig.strm->GetOverflowCounter(), 1u);
  EXPECT_FALSE(rig.strm->opened());
  const std::string line = captured.err.text();
  EXPECT_EQ(line.rfind("SockStream[test]: write timeout, sendbuf=", 0), 0u) << line;
  EXPECT_NE(line.find(", recvbuf="), std::string::npos);
  EXPECT_NE(line.find(", free="), std::string::npos);
  EXPECT_NE(line.find(", inq=0, outq="), std::string::npos);
}

TEST(StrmProtocol, WriteToAClosedPeerFailsWithoutSigpipe) {
  Streams captured;
  struct sigaction dfl = {}, old = {};
  dfl.sa_handler = SIG_DFL;
  ::sigaction(SIGPIPE, &dfl, &old);
  SocketPair sp;
  Rig rig;
  rig.start(sp.a);
  sp.b.close();
  rig.write("anybody there?");
  ::sigaction(SIGPIPE, &old, nullptr);
  EXPECT_EQ(rig.reports, std::vector<std::string>{"write error: Broken pipe"});
  EXPECT_EQ(rig.strm->GetOverflowCounter(), 1u);
  const std::string line = captured.err.text();
  EXPECT_EQ(line.rfind("SockStream[test]: write error, sendbuf=", 0), 0u) << line;
  EXPECT_NE(line.find(", error=Broken pipe\n"), std::string::npos) << line;
}

TEST(StrmProtocol, EmptyPoolDropsInputWithALineAndKeepsTheConnection) {
  Streams captured;
  SocketPair sp;
  Rig rig;
  rig.start(sp.a);
  std::vector<Packet> hold;
  while (Packet::pool_free() > 0) {
    hold.emplace_back();
    hold.back().reserve_head(0);
  }
  put(sp.b, "lost");
  EXPECT_EQ(rig.strm->do_read(), 4);
  EXPECT_TRUE(rig.chunks.empty());
  EXPECT_TRUE(rig.strm->opened());
  EXPECT_EQ(captured.err.text(), "SockStream[test]: no free packet buffer, 4 bytes of input dropped\n");
  hold.clear();
  put(sp.b, "kept");
  EXPECT_EQ(rig.strm->do_read(), 4);
  EXPECT_EQ(rig.chunks, std::vector<std::string>{"kept"});
}

TEST(StrmProtocol, PeerGoneIsSeenWithoutReading) {
  const struct {
    const char* what;
    bool data;
    bool close;
    bool gone;
  } cases[] = {
      {"idle", false, false, false},
      {"data waiting", true, false, false},
      {"closed", false, true, true},
      {"closed after data", true, true, true},
  };
  for (const auto& c : cases) {
    SocketPair sp;
    Rig rig;
    EXPECT_FALSE(rig.strm->peer_gone()) << c.what << ", not attached";
    rig.start(sp.a);
    if (c.data) put(sp.b, "abc");
    if (c.close) sp.b.close();
    EXPECT_EQ(rig.strm->peer_gone(), c.gone) << c.what;
    EXPECT_TRUE(rig.chunks.empty()) << c.what;
    EXPECT_TRUE(rig.reports.empty()) << c.what;
    EXPECT_TRUE(rig.strm->opened()) << c.what;
  }
}

TEST(StrmProtocol, PeerGoneAfterATcpReset) {
  linktest::AcceptorSocket listener;
  Client peer(listener.port);
  ASSERT_TRUE(peer.connected);
  Rig rig;
  rig.start(listener.accept());
  EXPECT_FALSE(rig.strm->peer_gone());
  peer.abort();
  EXPECT_TRUE(rig.strm->peer_gone());
  // The read that follows ends the layer as usual.
  EXPECT_EQ(rig.strm->do_read(), -1);
  EXPECT_EQ(rig.reports, std::vector<std::string>{"read error: Connection reset by peer"});
  EXPECT_FALSE(rig.strm->peer_gone());
}
