#pragma once
// Helpers of the connection tests: running the main loop until something
// happened, a recording owner, socket pairs, loopback clients, a descriptor
// shortage and capture of the standard streams.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/multiplexer.h"
#include "foundation/os.h"
#include "foundation/tests/loop_test_util.h"
#include "transport/control_service.h"

namespace linktest {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif

using looptest::CachedClock;

// Records what a connection tells its owner.
class Owner : public Control::Notify {
public:
  void OnConnect() override {
    journal.push_back("connect");
    if (on_connect) on_connect();
  }
  void OnDisconnect() override { journal.push_back("disconnect"); }
  void OnMessage(const char* data, int length) override { messages.emplace_back(data, size_t(length)); }

  std::vector<std::string> journal;
  std::vector<std::string> messages;
  std::function<void()> on_connect;
};

inline size_t count(std::string const& text, std::string const& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

inline bool contains(std::string const& text, std::string const& part) { return text.find(part) != std::string::npos; }

using looptest::LoopRunner;
using looptest::run_until;

// Moves the test clock and fires what fell due, without polling.
inline void advance(CachedClock& clock, unsigned ms) {
  clock.advance(ms);
  multiplexer.timers_schedule();
}

struct SocketPair {
  Fd a;
  Fd b;
  SocketPair() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) == 0) {
      a = Fd(fds[0]);
      b = Fd(fds[1]);
    }
  }
};

// Waits up to real_ms for the descriptor to become readable.
inline bool readable(int fd, int real_ms = 2000) {
  pollfd p = {fd, POLLIN, 0};
  return ::poll(&p, 1, real_ms) == 1;
}

// A plain TCP listener on the loopback interface, port chosen by the system.
struct AcceptorSocket {
  Fd fd;
  unsigned short port = 0;
  AcceptorSocket() {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(s, 8);
    socklen_t len = sizeof sa;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
    port = ntohs(sa.sin_port);
    fd = Fd(s);
  }
  Fd accept() { return Fd(::accept4(fd.lowlevel_fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)); }
};

// An outgoing connection given the port, as any of the host's may be: while
// it is open, no listener can bind the port, SO_REUSEADDR or not. It ends
// with a reset, so that no TIME_WAIT keeps the port afterwards.
class Outgoing {
public:
  explicit Outgoing(unsigned short port) : conn_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    if (::bind(conn_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
      sa.sin_port = htons(far_.port);
      if (::connect(conn_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return;
    }
    conn_.close();
  }
  ~Outgoing() { release(); }
  Outgoing(Outgoing const&) = delete;
  Outgoing& operator=(Outgoing const&) = delete;

  bool held() const { return conn_.is_valid(); }
  void release() {
    if (!conn_) return;
    const linger reset = {1, 0};
    ::setsockopt(conn_.lowlevel_fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    conn_.close();
  }

private:
  AcceptorSocket far_;
  Fd conn_;
};

// A blocking TCP client on the loopback interface.
class Client {
public:
  explicit Client(unsigned short port) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected = ::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    fd = Fd(s);
    socklen_t len = sizeof sa;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
    local_port = ntohs(sa.sin_port);
  }

  std::string name() const { return "127.0.0.1:" + std::to_string(local_port); }

  bool send(std::string const& bytes) {
    return ::send(fd.lowlevel_fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
  }

  // What arrives within real_ms; eof tells whether the peer closed.
  std::string receive(bool* eof = nullptr, int real_ms = 2000) {
    std::string got;
    bool closed = false;
    while (readable(fd.lowlevel_fd(), got.empty() ? real_ms : 50)) {
      char buf[4096];
      ssize_t n = ::recv(fd.lowlevel_fd(), buf, sizeof buf, MSG_DONTWAIT);
      if (n <= 0) {
        closed = n == 0 || errno == ECONNRESET;
        break;
      }
      got.append(buf, size_t(n));
    }
    if (eof) *eof = closed;
    return got;
  }

  // Closes with a reset instead of an orderly close.
  void abort() {
    linger l = {1, 0};
    ::setsockopt(fd.lowlevel_fd(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    fd.close();
  }

  Fd fd;
  bool connected = false;
  unsigned short local_port = 0;
};

// Lowers the soft descriptor limit to the lowest free descriptor, so that
// no further one can be opened, until lift() or the end of the object.
class NoFreeDescriptor {
public:
  NoFreeDescriptor() {
    if (::getrlimit(RLIMIT_NOFILE, &saved) != 0) return;
    const int lowest_free = ::dup(0);
    ::close(lowest_free);
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(lowest_free);
    active = ::setrlimit(RLIMIT_NOFILE, &tight) == 0;
  }
  ~NoFreeDescriptor() { lift(); }
  NoFreeDescriptor(NoFreeDescriptor const&) = delete;
  NoFreeDescriptor& operator=(NoFreeDescriptor const&) = delete;

  void lift() {
    if (active) ::setrlimit(RLIMIT_NOFILE, &saved);
    active = false;
  }

  // False when the limit could not be lowered.
  bool active = false;

private:
  rlimit saved = {};
};

// Captures the three standard output streams for the life of the object.
class Streams {
public:
  Streams() : err(std::cerr), out(std::cout), log(std::clog) {}
  looptest::Capture err;
  looptest::Capture out;
  looptest::Capture log;
};

// The log text without the loop's own closing lines.
inline std::string without_loop_lines(std::string text) {
  const std::string line = "Mux: terminating...\n";
  for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at)) text.erase(at, line.size());
  return text;
}

inline std::string frame(std::string const& payload) {
  const size_t n = payload.size() + 4;
  std::string f = {char(0x03), char(0x00), char((n >> 8) & 0xFF), char(n & 0xFF)};
  return f + payload;
}

}  // namespace linktest
