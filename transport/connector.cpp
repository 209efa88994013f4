#include "transport/connector.h"

#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <iostream>

#include "transport/local_socket.h"

namespace Control {

// Connector -------------------------------------------------------------------

template <class Kind>
Connector<Kind>::Connector() : fastRetries(0) {}

template <class Kind>
Connector<Kind>::~Connector() {}

template <class Kind>
bool Connector<Kind>::ImplActivate() {
  fastRetries = RetryDelay::fast_attempts;
  TryConnect();
  return this->state != Kind::State::Idle;
}

template <class Kind>
void Connector<Kind>::ImplDeactivate() {
  this->Release();
  sockFd.close();
  retryTimer.reset();
  connectEvent.Release();
}

template <class Kind>
void Connector<Kind>::ImplOnDisconnect() {
  retryTimer.set<Connector>(RetryDelay::reconnect_ms, &Connector::OnTimeout, this);
}

template <class Kind>
void Connector<Kind>::OnTimeout(Timer*) {
  TryConnect();
}

template <class Kind>
void Connector<Kind>::RetryLater(unsigned slow_ms) {
  sockFd.close();
  if (fastRetries > 0) {
    --fastRetries;
    retryTimer.set<Connector>(RetryDelay::fast_ms, &Connector::OnTimeout, this);
  } else {
    retryTimer.set<Connector>(slow_ms, &Connector::OnTimeout, this);
  }
}

template <class Kind>
bool Connector<Kind>::OpenNonBlocking(int family, int protocol, char const* what) {
  const int s = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, protocol);
  if (s < 0) {
    // Mostly a shortage of descriptors, which passes: retried like a
    // failed connect.
    Errno e;
    std::cerr << "can't create " << what << ":" << e << std::endl;
    RetryLater(RetryDelay::connect_failed_ms);
    return false;
  }
  sockFd = Fd(s);
  if (!NonBlockMode(s)) {
    Errno e;
    std::cerr << "can't set " << what << " to non block mode: " << e << std::endl;
    RetryLater(RetryDelay::connect_failed_ms);
    return false;
  }
  return true;
}

template class Connector<ServiceNet>;
template class Connector<ServiceUnix>;

// ConnectorNet ----------------------------------------------------------------

ConnectorNet::ConnectorNet() : ConnectorNet(std::string(), 0) {}

ConnectorNet::ConnectorNet(std::string const& addr) : ConnectorNet(addr, 0) {
  INet4::Addr parsed;
  int given = -1;
  // A text that does not parse stays as it is, so that every attempt
  // reports it instead of connecting to 0.0.0.0.
  if (parsed.Assign(addr, &given)) {
    host = parsed.GetStrAddr();
    port = given < 0 ? 0 : static_cast<uint16_t>(given);
  }
}

ConnectorNet::ConnectorNet(std::string const& host, unsigned short port) : port(port), host(host) {
  connectEvent.Bind("ConnectorNet::OnSocketEvent", &ConnectorNet::OnSocketEvent, this);
}

ConnectorNet::~ConnectorNet() {}

bool ConnectorNet::Target(INet4::Addr& target) const {
  target = INet4::Addr();
  target.port(port);
  return target.Assign(host, nullptr);
}

void ConnectorNet::TryConnect() {
  INet4::Addr target;
  if (!Target(target)) {
    std::cerr << "bad address " << host << std::endl;
    Deactivate();
    return;
  }
  connectEvent.Release();
  if (!OpenNonBlocking(AF_INET, IPPROTO_TCP, "socket")) return;
  const int s = sockFd.lowlevel_fd();
  if (::connect(s, target, target.size()) == 0) {
    std::clog << "already connected to " << target << std::endl;
    Connected(sockFd, target);
    sockFd.close();
    return;
  }
  if (errno == EINPROGRESS) {
    connectEvent.Schedule(sockFd, POLLOUT);
    if (connectEvent.IsActive()) return;
  }
  Errno e;
  std::cerr << "can't connect to " << target << " : " << e << std::endl;
  RetryLater(RetryDelay::connect_failed_ms);
}

void ConnectorNet::OnSocketEvent(int, short revents) {
  INet4::Addr target;
  Target(target);
  if (revents & (POLLERR | POLLHUP)) {
    std::cerr << "fail to connect to " << target << std::endl;
    connectEvent.Release();
    RetryLater(RetryDelay::poll_failed_ms);
    return;
  }
  if (!(revents & POLLOUT)) return;
  connectEvent.Release();
  int pending = 0;
  socklen_t len = sizeof pending;
  if (::getsockopt(sockFd.lowlevel_fd(), SOL_SOCKET, SO_ERROR, &pending, &len) != 0) {
    Errno e;
    std::cerr << "getsockopt(SOL_SOCKET,SO_ERROR) fail: " << e << std::endl;
    Deactivate();
    return;
  }
  if (pending != 0) {
    std::cerr << "fail to connect to " << target << std::endl;
    RetryLater(RetryDelay::pending_error_ms);
    return;
  }
  std::cout << "connected to " << target << "." << std::endl;
  Connected(sockFd, target);
  sockFd.close();
}

}  // namespace Control
