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
// another file. An empty one would name an abstract socket. Such a path is
// refused with a log line.
bool Usable(std::string const& path) {
  if (!path.empty() && path.size() < path_room) return true;
  std::cerr << "can't use domain socket path '" << path << "': " << (path.empty() ? "empty" : "too long") << std::endl;
  return false;
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

AcceptorUnix::AcceptorUnix(std::string const& path) : Listener("AcceptorUnix::OnSocketEvent"), path(path) {}

AcceptorUnix::~AcceptorUnix() {}

bool AcceptorUnix::ImplActivate() { return Usable(path) && Listener::ImplActivate(); }

int AcceptorUnix::OpenSocket() { return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0); }

int AcceptorUnix::BindAddress() {
  RemoveStaleSocket(path);
  const sockaddr_un sa = Address(path);
  return ::bind(listenFd.lowlevel_fd(), reinterpret_cast<sockaddr const*>(&sa), sizeof sa);
}

std::string AcceptorUnix::PeerText(sockaddr_un const& from, socklen_t len) const { return PeerName(from, len); }

void AcceptorUnix::Serve(Fd const& conn, sockaddr_un const&, std::string const& name) { Connected(conn, name); }

// ConnectorUnix ---------------------------------------------------------------

ConnectorUnix::ConnectorUnix() : ConnectorUnix(std::string(), std::string()) {}

ConnectorUnix::ConnectorUnix(std::string const& remotePath) : ConnectorUnix(remotePath, std::string()) {}

ConnectorUnix::ConnectorUnix(std::string const& remotePath, std::string const& localPath)
    : remotePath(remotePath), localPath(localPath) {
  connectEvent.Bind("ConnectorUnix::OnSocketEvent", &ConnectorUnix::OnSocketEvent, this);
}

ConnectorUnix::~ConnectorUnix() {}

bool ConnectorUnix::ImplActivate() { return Usable(remotePath) && Connector::ImplActivate(); }

void ConnectorUnix::TryConnect() {
  connectEvent.Release();
  if (!OpenNonBlocking(AF_UNIX, 0, "domain socket")) return;
  const int s = sockFd.lowlevel_fd();
  if (!localPath.empty()) {
    if (Usable(localPath)) {
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
