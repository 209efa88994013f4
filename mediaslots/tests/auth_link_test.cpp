#include "mediaslots/auth_link.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "foundation/tests/loop_test_util.h"
#include "transport/testing/free_port.h"
#include "transport/testing/link_test_util.h"

namespace {

std::string Record(std::uint32_t length, std::uint32_t type = 1, std::uint32_t id = 0) {
  std::string r(length >= 12 ? length : 4, '\0');
  std::memcpy(&r[0], &length, 4);
  if (length >= 12) {
    std::memcpy(&r[4], &type, 4);
    std::memcpy(&r[8], &id, 4);
  }
  return r;
}

struct Owner : AuthLink::Owner {
  std::vector<std::uint32_t> lengths;
  std::vector<AuthClient*> gone;
  std::function<void(AuthClient&)> onRecord;
  void OnAuthRecord(AuthClient& c, const unsigned char* record, std::uint32_t length) override {
    lengths.push_back(Auth::word(record, 0) == length ? length : 0);
    if (onRecord) onRecord(c);
    // Still alive while its record is handled.
    EXPECT_TRUE(gone.empty());
  }
  void OnAuthClientGone(AuthClient& c) override { gone.push_back(&c); }
};

// A connection through the listener on a free port: the peer's socket.
struct Connection {
  Owner owner;
  AuthLink link{owner};
  unsigned short port = 0;
  int peer = -1;
  AuthClient* client = nullptr;

  Connection() { Open(); }
  ~Connection() { ::close(peer); }

  void Open() {
    port = porttest::Reserve();
    ASSERT_TRUE(link.Listen(port));
    peer = Dial();
    ASSERT_TRUE(Accept());
    client = link.clients().front();
  }

  // Another peer, connected: on the loopback its connection waits to be
  // accepted at once.
  int Dial() const {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(0, ::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
    return s;
  }

  // The listener's handler once; whether it kept a new client.
  bool Accept() {
    const size_t before = link.clients().size();
    link.OnSocketEvent(link.listener_event().lowlevel_fd(), POLLIN);
    return link.clients().size() > before;
  }

  // The octets from the peer, then the client's read event.
  void Feed(std::string const& bytes) {
    ASSERT_EQ(ssize_t(bytes.size()), ::write(peer, bytes.data(), bytes.size()));
    if (owner.gone.empty()) client->OnSocketEvent(-1, POLLIN);
  }
};

size_t OpenDescriptors() {
  size_t n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
    ::closedir(d);
  }
  // Less the directory's own.
  return n - 1;
}

struct Case {
  const char* what;
  std::vector<std::string> writes;
  std::vector<std::uint32_t> handled;
  bool dropped;
};

TEST(AuthLink, RecordsAreHandledOnceWholeAndBadLengthsDropTheConnection) {
  const std::string a = Record(140), b = Record(64, 4);
  const Case cases[] = {
      {"split", {a.substr(0, 2), a.substr(2, 70), a.substr(72)}, {140}, false},
      {"batched", {a + b + a}, {140, 64, 140}, false},
      {"512 kept", {Record(512)}, {512}, false},
      {"139 passed on", {Record(139)}, {139}, false},
      {"4 to 11 octets dropped", {Record(4) + std::string(Record(11).substr(0, 4)) + std::string(7, '\x01') + a},
       {140}, false},
      {"513 disconnects", {Record(513)}, {}, true},
      {"3 disconnects", {Record(3)}, {}, true},
  };
  // One connection per case.
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Connection fresh;
    for (std::string const& w : c.writes) fresh.Feed(w);
    EXPECT_EQ(c.handled, fresh.owner.lengths);
    EXPECT_EQ(c.dropped ? 1u : 0u, fresh.owner.gone.size());
  }
}

TEST(AuthLink, AWriteErrorWhileARecordIsHandledDeletesTheClientAfterwards) {
  Connection link;
  Owner& owner = link.owner;
  ::shutdown(link.peer, SHUT_RD);
  std::vector<bool> sent;
  owner.onRecord = [&](AuthClient& c) {
    const std::string big(4096, 'x');
    bool ok = true;
    for (int i = 0; i < 1024 && ok; ++i) ok = c.Send(big.data(), std::uint32_t(big.size()));
    sent.push_back(ok);
    EXPECT_FALSE(c.is_open());
  };
  link.Feed(Record(140) + Record(140));
  EXPECT_EQ(std::vector<bool>{false}, sent);
  EXPECT_EQ(1u, owner.gone.size());
  EXPECT_TRUE(link.link.clients().empty());
}

TEST(AuthLink, IdleConnectionsHoldADescriptorEachAndAtTheCapTheOldestWaitingOneGoes) {
  looptest::CachedClock clock;
  Connection first;
  // Bound to a slot: never the one that goes (the link does not look into it).
  first.client->slot = reinterpret_cast<ModemSlot*>(&first);
  const size_t before = OpenDescriptors();
  std::vector<int> peers;
  looptest::Capture err(std::cerr);
  for (size_t i = 0; i < Auth::kMaxUnbound; ++i) {
    peers.push_back(first.Dial());
    first.Accept();
  }
  // Past the window of the lines of those.
  clock.advance(Log::Limiter::kWindowMs);
  peers.push_back(first.Dial());
  first.Accept();
  EXPECT_EQ(Auth::kMaxUnbound + 1, first.link.clients().size());
  // The peers', and one for each connection kept.
  EXPECT_EQ(before + peers.size() + Auth::kMaxUnbound, OpenDescriptors());
  char c;
  EXPECT_EQ(0, ::recv(peers.front(), &c, 1, MSG_DONTWAIT));
  for (int open : {first.peer, peers[1], peers.back()}) EXPECT_EQ(-1, ::recv(open, &c, 1, MSG_DONTWAIT));
  EXPECT_EQ(1u, first.owner.gone.size());
  sockaddr_in oldest{};
  socklen_t len = sizeof oldest;
  ::getsockname(peers.front(), reinterpret_cast<sockaddr*>(&oldest), &len);
  EXPECT_EQ(1, linktest::count(err.text(), "auth: 256 auth connections wait for their first record, the oldest, from 127.0.0.1:" +
                                               std::to_string(ntohs(oldest.sin_port)) + ", closed\n"))
      << err.text();
  first.client->slot = nullptr;
  for (int p : peers) ::close(p);
}

TEST(AuthLink, AListenerWhosePortIsTakenTriesEverySecondUntilItBinds) {
  looptest::CachedClock clock;
  Connection link;
  const unsigned short taken = porttest::Reserve();
  linktest::Outgoing holder(taken);
  ASSERT_TRUE(holder.held());
  looptest::Capture err(std::cerr);
  EXPECT_FALSE(link.link.Listen(taken));
  for (int i = 0; i < 3; ++i) {
    linktest::advance(clock, Auth::kBindRetryMs);
    EXPECT_FALSE(link.link.listening());
  }
  holder.release();
  linktest::advance(clock, Auth::kBindRetryMs - 1);
  EXPECT_FALSE(link.link.listening());
  linktest::advance(clock, 1);
  ASSERT_TRUE(link.link.listening());
  link.port = taken;
  const int plugIn = link.Dial();
  EXPECT_TRUE(link.Accept());
  EXPECT_EQ(0u, err.text().find("auth: fail to bind auth socket: Address already in use\nauth: auth socket bound to "
                                 "127.0.0.1:" + std::to_string(taken) + "\nauth: incoming auth connection"))
      << err.text();
  ::close(plugIn);

  // Each Listen logs a pair of its own, even while the last one still fails.
  const unsigned short second = porttest::Reserve(), third = porttest::Reserve();
  linktest::Outgoing holdSecond(second), holdThird(third);
  ASSERT_TRUE(holdSecond.held() && holdThird.held());
  const size_t before = err.text().size();
  EXPECT_FALSE(link.link.Listen(second));
  EXPECT_FALSE(link.link.Listen(third));
  holdThird.release();
  linktest::advance(clock, Auth::kBindRetryMs);
  ASSERT_TRUE(link.link.listening());
  EXPECT_EQ(third, link.link.port());
  EXPECT_EQ("auth: fail to bind auth socket: Address already in use\n"
            "auth: fail to bind auth socket: Address already in use\n"
            "auth: auth socket bound to 127.0.0.1:" + std::to_string(third) + "\n",
            err.text().substr(before));
}

TEST(AuthLink, AListeningSocketInErrorIsClosedAndBoundAgainAfterTheRetryPause) {
  looptest::CachedClock clock;
  Connection link;
  const size_t descriptors = OpenDescriptors();
  looptest::Capture err(std::cerr);
  // Shut down, a listening socket hangs up.
  ASSERT_EQ(0, ::shutdown(link.link.listener_event().lowlevel_fd(), SHUT_RDWR));
  ASSERT_TRUE(looptest::run_until([&] { return !link.link.listening(); })) << err.text();
  EXPECT_EQ("auth: auth server socket error.\n", err.text());
  EXPECT_EQ(descriptors - 1, OpenDescriptors());
  // The connections it gave stay.
  EXPECT_TRUE(link.client->is_open());
  EXPECT_TRUE(link.owner.gone.empty());

  linktest::advance(clock, Auth::kBindRetryMs - 1);
  EXPECT_FALSE(link.link.listening());
  linktest::advance(clock, 1);
  ASSERT_TRUE(link.link.listening());
  EXPECT_EQ(descriptors, OpenDescriptors());
  const int plugIn = link.Dial();
  EXPECT_TRUE(link.Accept());
  EXPECT_EQ(0u, err.text().find("auth: auth server socket error.\nauth: auth socket bound to 127.0.0.1:" +
                                 std::to_string(link.port) + "\nauth: incoming auth connection from 127.0.0.1:"))
      << err.text();
  EXPECT_EQ(1, linktest::count(err.text(), "socket error")) << err.text();
  ::close(plugIn);
}

TEST(AuthLink, AnAcceptWithoutAFreeDescriptorWaitsInsteadOfSpinning) {
  if (linktest::sanitized) GTEST_SKIP() << "the sanitizers open descriptors of their own while checking types";
  looptest::CachedClock clock;
  Connection link;
  const int peer = link.Dial();
  looptest::Capture err(std::cerr);
  const uint32_t tries = link.link.listener_event().hits();
  linktest::NoFreeDescriptor shortage;
  ASSERT_TRUE(shortage.active);
  int passes = 0;
  looptest::run_until([&] { return ++passes > 20; });
  shortage.lift();
  // One accept, not one a pass.
  EXPECT_EQ(tries + 1, link.link.listener_event().hits());
  EXPECT_EQ(1u, link.link.clients().size());
  EXPECT_EQ("auth: can't accept connection: Too many open files, pausing\n", err.text());

  clock.advance(Auth::kAcceptPauseMs);
  EXPECT_TRUE(looptest::run_until([&] { return link.link.clients().size() == 2; }));
  ::close(peer);
}

}  // namespace
