#include "mediaslots/auth_link.h"

#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iostream>

// AuthLink --------------------------------------------------------------------

AuthLink::AuthLink(Owner& o) : owner(o) {}

AuthLink::~AuthLink() {
  acceptPause.Cancel();
  event.Release();
  while (!clients_.empty()) {
    AuthClient* c = clients_.front();
    clients_.pop_front();
    owner.OnAuthClientGone(*c);
    delete c;
  }
}

bool AuthLink::Listen(unsigned short port) {
  bindRetry.reset();
  acceptPause.Cancel();
  event.Release();
  port_ = port;
  // A failure of this port is news, whatever the last one logged.
  bindFailing = false;
  lostSocket = false;
  return Bind();
}

bool AuthLink::Bind() {
  const char* failed = nullptr;
  Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!s) {
    failed = "fail to bind auth socket: ";
  } else {
    // A restart within TIME_WAIT of a connection the daemon closed must bind.
    const int on = 1;
    ::setsockopt(s.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port_);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
      failed = "fail to bind auth socket: ";
    else if (::listen(s.lowlevel_fd(), 64) != 0)
      failed = "fail to listen auth socket: ";
    else if (!s.NonBlock())
      failed = "can't set socket to non block mode: ";
  }
  if (failed) {
    const Errno e;
    if (!bindFailing) log.line(std::cerr) << "auth: " << failed << e << std::endl;
    bindFailing = true;
    bindRetry.set<AuthLink>(Auth::kBindRetryMs, &AuthLink::OnBindRetry, this);
    return false;
  }
  if (bindFailing || lostSocket) log.line(std::cerr) << "auth: auth socket bound to 127.0.0.1:" << port_ << std::endl;
  bindFailing = false;
  lostSocket = false;
  event.Bind("AuthLink::OnSocketEvent", &AuthLink::OnSocketEvent, this);
  event.Schedule(std::move(s), POLLIN);
  return true;
}

void AuthLink::OnBindRetry() { Bind(); }

void AuthLink::OnSocketEvent(int fd, short revents) {
  if (revents & (POLLERR | POLLHUP)) {
    // A dial-in call may come at any time, so the listener comes back; after
    // the retry pause, so that a fault that stays costs a bind a second, not
    // a spinning loop.
    log.line(std::cerr) << "auth: auth server socket error." << std::endl;
    lostSocket = true;
    acceptPause.Cancel();
    event.Release();
    bindRetry.set<AuthLink>(Auth::kBindRetryMs, &AuthLink::OnBindRetry, this);
    return;
  }
  if (!(revents & POLLIN)) return;
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  Fd s(::accept4(fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC));
  if (!s) {
    const int err = errno;
    if (acceptPause.Pause(err))
      log.line(std::cerr) << "auth: can't accept connection: " << std::strerror(err) << ", pausing" << std::endl;
    return;
  }
  if (!s.NonBlock()) {
    log.line(std::cerr) << "auth: fail to set nonblock mode." << std::endl;
    return;
  }
  // Only a connection that is kept costs the oldest waiting one its place.
  std::size_t waiting = 0;
  if (AuthClient* oldest = OldestUnbound(waiting); waiting >= Auth::kMaxUnbound) {
    log.line(std::cerr) << "auth: " << Auth::kMaxUnbound << " auth connections wait for their first record, "
                        << "the oldest, from " << oldest->GetAddr() << ", closed" << std::endl;
    Close(oldest);
  }
  AuthClient* c = new AuthClient(std::move(s), INet4::Addr(peer), *this);
  clients_.push_back(c);
  c->Activate();
  log.line(std::cerr) << "auth: incoming auth connection from " << c->GetAddr() << std::endl;
}

AuthClient* AuthLink::OldestUnbound(std::size_t& waiting) const {
  AuthClient* oldest = nullptr;
  waiting = 0;
  for (AuthClient* c : clients_) {
    if (!c->is_open() || c->slot) continue;
    if (!oldest) oldest = c;
    ++waiting;
  }
  return oldest;
}

void AuthLink::Close(AuthClient* client) {
  if (!client) return;
  AuthClient::Guard guard(*client);
  client->OnDisconnect();
}

void AuthLink::OnAuthSocketDisconnect(AuthClient* client) {
  auto at = std::find(clients_.begin(), clients_.end(), client);
  if (at == clients_.end()) return;
  log.line(std::clog) << "auth client " << client->GetAddr() << " disconnected." << std::endl;
  clients_.erase(at);
  owner.OnAuthClientGone(*client);
  delete client;
}

// AuthClient --------------------------------------------------------------------

AuthClient::AuthClient(Fd s, INet4::Addr const& a, AuthLink& l) : addr(a), link(l) {
  event.Bind("AuthClient::OnSocketEvent", &AuthClient::OnSocketEvent, this);
  event.Schedule(std::move(s), 0);
}

AuthClient::~AuthClient() { event.Release(); }

void AuthClient::Activate() { event.SetEvents(POLLIN); }

void AuthClient::OnDisconnect() { event.Release(); }

void AuthClient::CheckDisconnect() {
  if (is_open() || gone) return;
  gone = true;
  link.OnAuthSocketDisconnect(this);
}

void AuthClient::OnSocketEvent(int, short revents) {
  Guard guard(*this);
  if (revents & (POLLERR | POLLHUP) && !(revents & POLLIN)) {
    OnDisconnect();
    return;
  }
  if (revents & POLLIN) Read();
}

void AuthClient::Read() {
  while (is_open()) {
    const ssize_t n = ::read(event.lowlevel_fd(), buffer + have, want - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;
    if (n <= 0) {
      OnDisconnect();
      return;
    }
    have += size_t(n);
    if (have < want) continue;
    const std::uint32_t length = Auth::word(buffer, 0);
    if (length > Auth::kMaxRecord || length < 4) {
      link.log.line(std::cerr) << "auth: record length " << length << " from " << addr << ", connection dropped"
                               << std::endl;
      OnDisconnect();
      return;
    }
    if (have < length) {
      want = length;
      continue;
    }
    have = 0;
    want = 4;
    if (length < Auth::kHeader) {
      // No type or session: nothing to route it by.
      link.log.line(std::cerr) << "auth: unknown record of " << length << " octets, dropped" << std::endl;
      continue;
    }
    sessionId = static_cast<int>(Auth::word(buffer, 8));
    link.owner.OnAuthRecord(*this, buffer, length);
  }
}

bool AuthClient::Send(const void* record, std::uint32_t length) {
  Guard guard(*this);
  if (!is_open()) return false;
  const unsigned char* at = static_cast<const unsigned char*>(record);
  std::uint32_t left = length;
  while (left > 0) {
    const ssize_t n = ::send(event.lowlevel_fd(), at, left, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 1) {
      OnDisconnect();
      return false;
    }
    at += n;
    left -= std::uint32_t(n);
  }
  return true;
}
