#include "foundation/async.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "loop_test_util.h"

using looptest::CachedClock;
using looptest::Pipe;

namespace {

struct Guard {
  Timer t;
  bool fired = false;
  Guard() { t.set(5000, &Guard::On, this); }
  void On() {
    fired = true;
    multiplexer.terminate();
  }
};

void RunLoop() {
  Guard guard;
  multiplexer.run(false, true);
  EXPECT_FALSE(guard.fired) << "not completed within 5 s";
}

// Copy client: records completions; may stop the loop once everything is in.
struct CopyClient {
  ASync::Copy copy;
  std::vector<int> statuses;
  std::function<bool()> done;
  CopyClient() { copy.Bind(&CopyClient::OnDone, this); }
  void OnDone(ASync::Copy::Status::Type s) {
    statuses.push_back(s);
    if (!done || done()) multiplexer.terminate();
  }
};

// Reads what arrives on fd, at most `chunk` bytes per event.
struct Drainer {
  Event ev;
  std::string got;
  size_t chunk;
  size_t expect;
  bool eof = false;
  std::function<void()> on_all;
  Drainer(const Fd& fd, size_t c, size_t e) : chunk(c), expect(e) {
    ev.Bind("drain", &Drainer::On, this);
    ev.Schedule(fd, POLLIN);
  }
  void On(int fd, short revents) {
    if (!(revents & (POLLIN | POLLHUP))) return;
    std::vector<char> buf(chunk);
    const ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n > 0) got.append(buf.data(), n);
    if (n == 0) {
      eof = true;
      ev.Release();
    }
    if (got.size() == expect && on_all) on_all();
  }
};

std::string pattern(size_t n) {
  std::string s(n, '\0');
  unsigned v = 12345;
  for (auto& c : s) {
    v = v * 1103515245u + 12345u;
    c = static_cast<char>(v >> 16);
  }
  return s;
}

std::string temp_file(const std::string& content) {
  std::string path = std::string(::testing::TempDir()) + "async-src-" + std::to_string(getpid());
  std::ofstream(path.c_str(), std::ios::binary) << content;
  return path;
}

struct SocketPair {
  Fd a, b;
  explicit SocketPair(int type = SOCK_STREAM) {
    int fds[2];
    if (socketpair(AF_UNIX, type, 0, fds) == 0) {
      a = Fd(fds[0]);
      b = Fd(fds[1]);
      a.NonBlock();
      b.NonBlock();
    }
  }
};

class AsyncTest : public ::testing::Test {
protected:
  void SetUp() override { IPC::Signal::ignore(SIGPIPE); }
  void TearDown() override { EXPECT_EQ(multiplexer.handler_count(), 0u); }
};

}  // namespace

TEST_F(AsyncTest, SourceAtEndFlushesThenCompletesDone) {
  Pipe src, dst;
  src.wr.close();
  CopyClient c;
  c.copy.Start(src.rd, dst.wr);
  EXPECT_EQ(c.copy.state(), ASync::Copy::Status::Flushing);
  EXPECT_TRUE(c.statuses.empty());
  RunLoop();
  EXPECT_EQ(c.statuses, std::vector<int>{ASync::Copy::Status::Done});
  EXPECT_EQ(c.copy.written(), 0u);
}

TEST_F(AsyncTest, SourceAtEndWithoutFlushCompletesInsideStart) {
  Pipe src, dst;
  src.wr.close();
  CopyClient c;
  ASync::Copy::EventsParams params;
  params.flush = 0;
  c.copy.set_events(params);
  EXPECT_TRUE(c.statuses.empty());  // nothing running yet
  c.copy.Start(src.rd, dst.wr);
  EXPECT_EQ(c.statuses, std::vector<int>{ASync::Copy::Status::Done});
  c.copy.set_bufsize(512);
  EXPECT_EQ(c.statuses.size(), 1u);
}

// A slow reader behind a small socket buffer forces partial writes; every
// byte arrives, in order.
TEST_F(AsyncTest, FileToSocketThroughPartialWrites) {
  const std::string data = pattern(300000);
  const std::string path = temp_file(data);
  Fd file;
  ASSERT_TRUE(file.open(path.c_str(), O_RDONLY));
  SocketPair sp;
  int small = 4096;
  setsockopt(sp.a.lowlevel_fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  CopyClient c;
  Drainer d(sp.b, 700, data.size());
  bool copied = false;
  c.done = [&] { return copied = true, d.got.size() == data.size(); };
  d.on_all = [&] {
    if (copied) multiplexer.terminate();
  };
  c.copy.Start(file, sp.a);
  RunLoop();
  EXPECT_EQ(c.statuses, std::vector<int>{ASync::Copy::Status::Done});
  EXPECT_EQ(c.copy.written(), data.size());
  EXPECT_TRUE(d.got == data);
  unlink(path.c_str());
}

namespace {

// Feeds a string into a pipe as it becomes writable, then closes it.
struct Feeder {
  Event ev;
  std::string data;
  size_t pos = 0;
  Fd wr;
  Feeder(Fd w, std::string d) : data(std::move(d)), wr(std::move(w)) {
    ev.Bind("feed", &Feeder::On, this);
    ev.Schedule(wr, POLLOUT);
  }
  void On(int fd, short revents) {
    if (!(revents & POLLOUT)) return;
    const ssize_t n = ::write(fd, data.data() + pos, std::min<size_t>(data.size() - pos, 3000));
    if (n > 0) pos += n;
    if (pos == data.size()) {
      ev.Release();
      wr.close();
    }
  }
};

}  // namespace

TEST_F(AsyncTest, PipeToPipeUntilTheWriterHangsUp) {
  const std::string data = pattern(100000);
  Pipe src, dst;
  Feeder f(std::move(src.wr), data);
  CopyClient c;
  c.copy.set_bufsize(8192);
  Drainer d(dst.rd, 1500, data.size());
  bool copied = false;
  c.done = [&] { return copied = true, d.got.size() == data.size(); };
  d.on_all = [&] {
    if (copied) multiplexer.terminate();
  };
  c.copy.Start(src.rd, dst.wr);
  RunLoop();
  EXPECT_EQ(c.statuses, std::vector<int>{ASync::Copy::Status::Done});
  EXPECT_TRUE(d.got == data);
}

TEST_F(AsyncTest, DestinationHangUpFailsWithErrorZero) {
  Pipe src, dst;
  CopyClient c;
  c.copy.Start(src.rd, dst.wr);
  EXPECT_EQ(c.copy.state(), ASync::Copy::Status::Copying);
  dst.rd.close();
  RunLoop();
  EXPECT_EQ(c.statuses, std::vector<int>{ASync::Copy::Status::Failed});
  EXPECT_EQ(c.copy.error(), 0);
}

TEST_F(AsyncTest, WriteErrorKeepsItsErrno) {
  Pipe src, dst;
  src.put("abc");
  dst.rd.close();
  CopyClient c;
  c.copy.Start(src.rd, dst.wr);
  EXPECT_EQ(c.statuses, std::vector<int>{ASync::Copy::Status::Failed});
  EXPECT_EQ(c.copy.error(), EPIPE);
}

TEST_F(AsyncTest, ReadErrorIsAFailureWithItsErrno) {
  Fd dir;
  ASSERT_TRUE(dir.open(".", O_RDONLY));
  Pipe dst;
  CopyClient c;
  c.copy.Start(dir, dst.wr);
  EXPECT_EQ(c.statuses, std::vector<int>{ASync::Copy::Status::Failed});
  EXPECT_EQ(c.copy.error(), EISDIR);
}

TEST_F(AsyncTest, MissingDescriptorFailsAtOnce) {
  Pipe p;
  p.wr.close();
  for (int missing = 0; missing < 2; ++missing) {
    CopyClient c;
    c.copy.Start(missing == 0 ? Fd() : p.rd, missing == 1 ? Fd() : p.wr);
    EXPECT_EQ(c.statuses, std::vector<int>{ASync::Copy::Status::Failed});
    EXPECT_EQ(c.copy.error(), EBADF);
  }
}

// Data went through, then the source reports an error: still a failure.
TEST_F(AsyncTest, ReadErrorAfterDataIsNotDone) {
  Fd peer(socket(AF_INET, SOCK_DGRAM, 0));
  Fd src(socket(AF_INET, SOCK_DGRAM, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(peer.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(bind(src.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  sockaddr_in pa{}, sa{};
  socklen_t len = sizeof pa;
  getsockname(peer.lowlevel_fd(), reinterpret_cast<sockaddr*>(&pa), &len);
  len = sizeof sa;
  getsockname(src.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len);
  ASSERT_EQ(connect(src.lowlevel_fd(), reinterpret_cast<sockaddr*>(&pa), sizeof pa), 0);
  ASSERT_EQ(sendto(peer.lowlevel_fd(), "hello", 5, 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 5);
  src.NonBlock();
  Pipe dst;
  CopyClient c;
  c.copy.Start(src, dst.wr);
  EXPECT_EQ(c.copy.written(), 5u);
  EXPECT_TRUE(c.statuses.empty());
  peer.close();
  send(src.lowlevel_fd(), "x", 1, 0);  // answered by "port unreachable"
  RunLoop();
  EXPECT_EQ(c.statuses, std::vector<int>{ASync::Copy::Status::Failed});
  EXPECT_EQ(c.copy.error(), ECONNREFUSED);
}

// A UDP socket with a queued ICMP report keeps reporting POLLERR while a
// read finds nothing: the copy must not wait for ever.
TEST_F(AsyncTest, TroubleFollowedByNothingToReadIsAFailure) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sockaddr_in closed = a;
  {
    Fd gone(socket(AF_INET, SOCK_DGRAM, 0));
    bind(gone.lowlevel_fd(), reinterpret_cast<sockaddr*>(&closed), sizeof closed);
    socklen_t len = sizeof closed;
    getsockname(gone.lowlevel_fd(), reinterpret_cast<sockaddr*>(&closed), &len);
  }
  Fd src(socket(AF_INET, SOCK_DGRAM, 0));
  int on = 1;
  setsockopt(src.lowlevel_fd(), IPPROTO_IP, IP_RECVERR, &on, sizeof on);
  ASSERT_EQ(bind(src.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  src.NonBlock();
  sendto(src.lowlevel_fd(), "x", 1, 0, reinterpret_cast<sockaddr*>(&closed), sizeof closed);
  pollfd p{src.lowlevel_fd(), 0, 0};
  ASSERT_EQ(poll(&p, 1, 5000), 1);
  int err = 0;
  socklen_t len = sizeof err;
  getsockopt(src.lowlevel_fd(), SOL_SOCKET, SO_ERROR, &err, &len);
  char c;
  ASSERT_EQ(recv(src.lowlevel_fd(), &c, 1, 0), -1);
  ASSERT_EQ(errno, EAGAIN);
  ASSERT_EQ(poll(&p, 1, 0), 1);
  ASSERT_TRUE(p.revents & POLLERR);
  Pipe dst;
  CopyClient cl;
  cl.copy.Start(src, dst.wr);
  EXPECT_TRUE(cl.statuses.empty());
  RunLoop();
  EXPECT_EQ(cl.statuses, std::vector<int>{ASync::Copy::Status::Failed});
}

TEST_F(AsyncTest, SettersDuringACopyEndItAsReconfigured) {
  Pipe src, dst;
  CopyClient c;
  c.copy.Start(src.rd, dst.wr);
  c.copy.set_bufsize(4096);
  EXPECT_EQ(c.statuses, std::vector<int>{ASync::Copy::Status::Reconfigured});
  EXPECT_EQ(c.copy.state(), ASync::Copy::Status::Reconfigured);
  c.copy.set_events(ASync::Copy::EventsParams());
  EXPECT_EQ(c.statuses.size(), 1u);
  // A finished copy starts again.
  src.put("again");
  src.wr.close();
  c.copy.Start(src.rd, dst.wr);
  RunLoop();
  EXPECT_EQ(c.statuses.back(), ASync::Copy::Status::Done);
  EXPECT_EQ(c.copy.written(), 5u);
}

// The buffer being written when Stop() comes still goes out in full.
TEST_F(AsyncTest, StopWhileWritingDrainsThenFlushes) {
  for (unsigned flush : {0u, static_cast<unsigned>(POLLWRNORM)}) {
    SocketPair sp;
    std::string filler(4096, 'f');
    size_t filled = 0;
    for (;;) {
      const ssize_t n = ::write(sp.a.lowlevel_fd(), filler.data(), filler.size());
      if (n <= 0) break;
      filled += n;
    }
    const std::string data = pattern(5000);
    const std::string path = temp_file(data);
    Fd file;
    ASSERT_TRUE(file.open(path.c_str(), O_RDONLY));
    CopyClient c;
    ASync::Copy::EventsParams params;
    params.flush = flush;
    c.copy.set_events(params);
    c.copy.Start(file, sp.a);
    EXPECT_EQ(c.copy.written(), 0u);
    c.copy.Stop();
    EXPECT_EQ(c.copy.state(), ASync::Copy::Status::SourceDone);
    Drainer d(sp.b, 65536, filled + 1024);
    RunLoop();
    EXPECT_EQ(c.statuses, std::vector<int>{ASync::Copy::Status::Done}) << flush;
    EXPECT_EQ(c.copy.written(), 1024u);
    d.ev.Release();
    unlink(path.c_str());
  }
}

TEST_F(AsyncTest, CallbackMayDestroyTheCopy) {
  struct Owner {
    std::unique_ptr<ASync::Copy> copy{new ASync::Copy};
    int status = -1;
    void OnDone(ASync::Copy::Status::Type s) {
      status = s;
      copy.reset();
      multiplexer.terminate();
    }
  } o;
  o.copy->Bind(&Owner::OnDone, &o);
  Pipe src, dst;
  src.put("xyz");
  src.wr.close();
  o.copy->Start(src.rd, dst.wr);
  RunLoop();
  EXPECT_EQ(o.status, ASync::Copy::Status::Done);
  EXPECT_FALSE(o.copy);
}

namespace {

struct CountingCopyHandler : ASync::Copy::Handler {
  int* deleted;
  int* calls;
  CountingCopyHandler(int* d, int* c) : deleted(d), calls(c) {}
  ~CountingCopyHandler() override { ++*deleted; }
  void Invoke(ASync::Copy::Status::Type) override { ++*calls; }
};

}  // namespace

TEST_F(AsyncTest, RebindingACopyDeletesTheEarlierHandlerOnce) {
  int deleted = 0, first = 0, second = 0;
  {
    ASync::Copy copy;
    copy.Bind(new CountingCopyHandler(&deleted, &first));
    copy.Bind(new CountingCopyHandler(&deleted, &second));
    EXPECT_EQ(deleted, 1);
    Pipe src, dst;
    src.wr.close();
    ASync::Copy::EventsParams params;
    params.flush = 0;
    copy.set_events(params);
    copy.Start(src.rd, dst.wr);
    copy.Bind<CopyClient>(nullptr, nullptr);
    EXPECT_EQ(deleted, 2);
    copy.Start(src.rd, dst.wr);  // completes, calls nothing
  }
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
}

namespace {

struct Listener {
  Fd fd;
  unsigned short port = 0;
  explicit Listener(int backlog = 8) : fd(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd.lowlevel_fd(), backlog);
    socklen_t len = sizeof a;
    getsockname(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(port); }
};

// Its queue is taken by one connection, so the next handshake never completes.
struct FullListener : Listener {
  Fd filler;
  bool full = false;
  FullListener() : Listener(0), filler(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    full = connect(filler.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
};

struct ConnectClient {
  ASync::Connect conn;
  std::vector<int> statuses;
  int given = -2;
  bool stop = true;
  ConnectClient() { conn.Bind(&ConnectClient::OnDone, this); }
  void OnDone(ASync::Connect::Status::Type s, Fd fd) {
    statuses.push_back(s);
    given = fd.lowlevel_fd();
    if (stop) multiplexer.terminate();
  }
};

bool is_open(int fd) { return fd >= 0 && fcntl(fd, F_GETFD) != -1; }

}  // namespace

TEST_F(AsyncTest, ConnectsOnLoopback) {
  Listener l;
  ConnectClient c;
  c.conn.Start(l.address(), 5000);
  if (c.statuses.empty()) RunLoop();
  ASSERT_EQ(c.statuses, std::vector<int>{ASync::Connect::Status::Connected});
  EXPECT_GE(c.given, 0);
  EXPECT_FALSE(is_open(c.given));  // the member's own copy, closed after the call
  EXPECT_EQ(c.conn.status(), ASync::Connect::Status::Connected);
  Fd accepted(accept(l.fd.lowlevel_fd(), nullptr, nullptr));
  EXPECT_TRUE(accepted.is_valid());
}

TEST_F(AsyncTest, RefusedConnectFails) {
  std::string address;
  {
    Listener gone;
    address = gone.address();
  }
  ConnectClient c;
  c.conn.Start(address, 5000);
  if (c.statuses.empty()) RunLoop();
  EXPECT_EQ(c.statuses, std::vector<int>{ASync::Connect::Status::Failed});
  EXPECT_EQ(c.given, -1);
}

TEST_F(AsyncTest, AddressThatDoesNotParseFailsAtOnce) {
  for (const char* text : {"nonsense:80", ":80", "", "1.2.3.4.5:80"}) {
    ConnectClient c;
    c.conn.Start(text, 5000);
    EXPECT_EQ(c.statuses, std::vector<int>{ASync::Connect::Status::Failed}) << text;
    EXPECT_EQ(c.given, -1);
  }
}

TEST_F(AsyncTest, ConnectTimesOut) {
  CachedClock clock;
  FullListener l;
  ASSERT_TRUE(l.full);
  ConnectClient c;
  c.stop = false;
  c.conn.Start(l.address(), 3000);
  ASSERT_TRUE(c.statuses.empty());
  EXPECT_EQ(multiplexer.handler_count(), 1u);
  clock.advance(2999);
  multiplexer.timers_schedule();
  EXPECT_TRUE(c.statuses.empty());
  clock.advance(1);
  multiplexer.timers_schedule();
  EXPECT_EQ(c.statuses, std::vector<int>{ASync::Connect::Status::Failed});
  EXPECT_EQ(c.given, -1);
  EXPECT_EQ(multiplexer.handler_count(), 0u);
  EXPECT_EQ(multiplexer.timer_count(), 0u);
}

TEST_F(AsyncTest, StopWhileConnectingCompletesOnce) {
  CachedClock clock;
  FullListener l;
  ASSERT_TRUE(l.full);
  ConnectClient c;
  c.stop = false;
  c.conn.Start(l.address(), 3000);
  c.conn.Stop();
  c.conn.Stop();
  EXPECT_EQ(c.statuses, std::vector<int>{ASync::Connect::Status::Stopped});
  EXPECT_EQ(multiplexer.timer_count(), 0u);
}

TEST_F(AsyncTest, ConnectAdapterHandsOverItsOwnDuplicate) {
  struct Keeper {
    int seen = -1;
    bool open_inside = false;
    void On(ASync::Connect::Status::Type, Fd fd) {
      seen = fd.lowlevel_fd();
      open_inside = is_open(seen);
    }
  } k;
  ASync::Connect::THandler<Keeper> h(&Keeper::On, &k);
  Pipe p;
  h.Invoke(ASync::Connect::Status::Connected, p.rd);
  EXPECT_TRUE(k.open_inside);
  EXPECT_NE(k.seen, p.rd.lowlevel_fd());
  EXPECT_FALSE(is_open(k.seen));
  EXPECT_TRUE(is_open(p.rd.lowlevel_fd()));
  ASync::Connect::THandler<Keeper> null_action(nullptr, &k);
  k.seen = -1;
  null_action.Invoke(ASync::Connect::Status::Connected, p.rd);
  EXPECT_EQ(k.seen, -1);
}
