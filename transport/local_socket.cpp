#include "transport/local_socket.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iostream>

#include "transport/connector.h"

namespace Control {

namespace {

static_assert(sizeof(sockaddr_un) == 110, "a local socket address is a family and a 108-byte path");
constexpr size_t path_room = sizeof(sockaddr_un::sun_path);

// A path that fills the field leaves no room for its end: it would name
// another file. An empty one would name an abstract socket.
bool Fits(std::string const& path) { return !path.empty() && path.size() < path_room; }

void RefusePath(std::string const& path) {
  std::cerr << "can't use domain socket path '" << path << "': " << (path.empty() ? "empty" : "too long") << std::endl;
}

sockaddr_un Address(std::string const& path) {
  sockaddr_un sa = {};
  sa.sun_family = AF_UNIX;
  std::memcpy(sa.sun_path, path.data(), std::min(path.size(), path_room - 1));
  return sa;
}

// A socket file left by an earlier run goes; any other file stays, and the
// bind then fails.
void RemoveStaleSocket(std::string const& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) ::unlink(path.c_str());
}

std::string PeerName(sockaddr_un const& sa, socklen_t len) {
  const size_t head = offsetof(sockaddr_un, sun_path);
  if (len <= head) return std::string();
  const size_t room = std::min(size_t(len) - head, path_room);
  return std::string(sa.sun_path, ::strnlen(sa.sun_path, room));
}

}  // namespace

// ServiceUnix -----------------------------------------------------------------

ServiceUnix::ServiceUnix() {}

void ServiceUnix::Connected(Fd const& fd, std::string const& name) { TakeOver(fd, name); }

// AcceptorUnix ----------------------------------------------------------------

AcceptorUnix::AcceptorUnix() : AcceptorUnix(std::string()) {}

AcceptorUnix::AcceptorUnix(std::string const& path) : path(path) {
  acceptEvent.Bind("AcceptorUnix::OnSocketEvent", &AcceptorUnix::OnSocketEvent, this);
}

AcceptorUnix::~AcceptorUnix() {}

bool AcceptorUnix::ImplActivate() {
  if (!Fits(path)) {
    RefusePath(path);
    return false;
  }
  return StartListener();
}

bool AcceptorUnix::StartListener() {
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    Errno e;
    if (verbose) std::cerr << "can't create socket:" << e << std::endl;
    RetryStart();
    return false;
  }
  listenFd = Fd(s);
  return BindSocket();
}

void AcceptorUnix::RetryStart() {
  listenFd.close();
  bindTimer.set<AcceptorUnix>(bind_retry_ms, &AcceptorUnix::OnTimeout, this);
}

bool AcceptorUnix::BindSocket() {
  RemoveStaleSocket(path);
  const sockaddr_un sa = Address(path);
  if (::bind(listenFd.lowlevel_fd(), reinterpret_cast<sockaddr const*>(&sa), sizeof sa) != 0) {
    Errno e;
    if (verbose) std::cerr << "can't bind to socket: \"" << e << "\"  waiting..." << std::endl;
    bindTimer.set<AcceptorUnix>(bind_retry_ms, &AcceptorUnix::OnTimeout, this);
    return false;
  }
  if (::listen(listenFd.lowlevel_fd(), 1) != 0) {
    Errno e;
    if (verbose) std::cerr << "can't listen socket: " << e << std::endl;
    RetryStart();
    return false;
  }
  if (!NonBlockMode(listenFd.lowlevel_fd())) {
    Errno e;
    if (verbose) std::cerr << "can't set socket to non block mode: " << e << std::endl;
    RetryStart();
    return false;
  }
  acceptEvent.Schedule(listenFd, POLLIN);
  if (!acceptEvent.IsActive()) {
    Errno e;
    if (verbose) std::cerr << "can't watch listening socket: " << e << std::endl;
    RetryStart();
    return false;
  }
  // A start that failed at first left the service Idle.
  if (state == State::Idle && activated) state = State::Connecting;
  return true;
}

void AcceptorUnix::OnTimeout(Timer*) {
  if (listenFd.is_valid())
    BindSocket();
  else
    StartListener();
}

void AcceptorUnix::OnResume(Timer*) { acceptEvent.SetEvents(POLLIN); }

void AcceptorUnix::ImplDeactivate() {
  bindTimer.reset();
  pauseTimer.reset();
  acceptEvent.Release();
  listenFd.close();
}

void AcceptorUnix::ImplOnDisconnect() {}

void AcceptorUnix::ImplRefuseConnection() {}

void AcceptorUnix::ImplConnected(Fd const&) {}

void AcceptorUnix::OnSocketEvent(int, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    // Pending connections wait until the end of the last one is reported.
    if (state == State::Deactivating) return;
    sockaddr_un sa = {};
    socklen_t len = sizeof sa;
    const int s = ::accept4(listenFd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC);
    if (s < 0) {
      const int err = errno;
      if (err == EMFILE || err == ENFILE) {
        // The connection stays pending and the socket readable: pause
        // instead of spinning.
        if (verbose) std::cerr << "can't accept connection: " << std::strerror(err) << ", pausing" << std::endl;
        acceptEvent.SetEvents(0);
        pauseTimer.set<AcceptorUnix>(accept_pause_ms, &AcceptorUnix::OnResume, this);
      }
      return;
    }
    Fd conn(s);
    const std::string from = PeerName(sa, len);
    if (state != State::Connected) {
      if (!NonBlockMode(s)) {
        Errno e;
        if (verbose) std::cerr << "can't set socket to non block mode: " << e << std::endl;
        continue;
      }
      if (verbose) std::cout << "new connection from " << from << std::endl;
      Connected(conn, from);
      if (state == State::Connected) ImplConnected(conn);
    } else {
      if (verbose) std::cerr << "refuse connection from " << from << std::endl;
      ImplRefuseConnection();
    }
  }
}

// ConnectorUnix ---------------------------------------------------------------

ConnectorUnix::ConnectorUnix() : ConnectorUnix(std::string(), std::string()) {}

ConnectorUnix::ConnectorUnix(std::string const& remotePath) : ConnectorUnix(remotePath, std::string()) {}

ConnectorUnix::ConnectorUnix(std::string const& remotePath, std::string const& localPath)
    : remotePath(remotePath), localPath(localPath), fastRetries(0) {
  connectEvent.Bind("ConnectorUnix::OnSocketEvent", &ConnectorUnix::OnSocketEvent, this);
}

ConnectorUnix::~ConnectorUnix() {}

bool ConnectorUnix::ImplActivate() {
  if (!Fits(remotePath)) {
    RefusePath(remotePath);
    return false;
  }
  fastRetries = RetryDelay::fast_attempts;
  TryConnect();
  return state != State::Idle;
}

void ConnectorUnix::ImplDeactivate() {
  Release();
  sockFd.close();
  retryTimer.reset();
  connectEvent.Release();
}

void ConnectorUnix::ImplOnDisconnect() {
  retryTimer.set<ConnectorUnix>(RetryDelay::reconnect_ms, &ConnectorUnix::OnTimeout, this);
}

void ConnectorUnix::OnTimeout(Timer*) { TryConnect(); }

void ConnectorUnix::RetryLater(unsigned slow_ms) {
  sockFd.close();
  if (fastRetries > 0) {
    --fastRetries;
    retryTimer.set<ConnectorUnix>(RetryDelay::fast_ms, &ConnectorUnix::OnTimeout, this);
  } else {
    retryTimer.set<ConnectorUnix>(slow_ms, &ConnectorUnix::OnTimeout, this);
  }
}

void ConnectorUnix::TryConnect() {
  connectEvent.Release();
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    Errno e;
    std::cerr << "can't create domain socket:" << e << std::endl;
    RetryLater(RetryDelay::connect_failed_ms);
    return;
  }
  sockFd = Fd(s);
  if (!NonBlockMode(s)) {
    Errno e;
    std::cerr << "can't set domain socket to non block mode: " << e << std::endl;
    RetryLater(RetryDelay::connect_failed_ms);
    return;
  }
  if (!localPath.empty()) {
    if (!Fits(localPath)) {
      RefusePath(localPath);
    } else {
      RemoveStaleSocket(localPath);
      const sockaddr_un local = Address(localPath);
      if (::bind(s, reinterpret_cast<sockaddr const*>(&local), sizeof local) != 0) {
        Errno e;
        std::cerr << "can't bind to domain socket '" << localPath << "': \"" << e << std::endl;
      }
    }
  }
  const sockaddr_un remote = Address(remotePath);
  if (::connect(s, reinterpret_cast<sockaddr const*>(&remote), sizeof remote) != 0) {
    Errno e;
    std::cerr << "can't connect to " << remotePath << " : " << e << std::endl;
    RetryLater(RetryDelay::connect_failed_ms);
    return;
  }
  std::clog << "connected to " << remotePath << std::endl;
  connectEvent.Schedule(sockFd, POLLOUT);
  Connected(sockFd, remotePath);
  sockFd.close();
}

void ConnectorUnix::OnSocketEvent(int, short revents) {
  // Once served, the connection's end is the stream layer's to report.
  if (state == State::Connected || state == State::Deactivating) {
    if (revents) connectEvent.Release();
    return;
  }
  if (revents & (POLLERR | POLLHUP)) {
    std::cerr << "fail to connect to " << remotePath << std::endl;
    connectEvent.Release();
    RetryLater(RetryDelay::poll_failed_ms);
    return;
  }
  if (revents & POLLOUT) connectEvent.Release();
}

}  // namespace Control
