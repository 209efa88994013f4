#include "transport/listener.h"

#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/un.h>

#include <cstring>
#include <iostream>

#include "transport/control_service.h"
#include "transport/local_socket.h"
#include "transport/stream.h"

namespace Control {

template <class Kind, class SockAddr>
Listener<Kind, SockAddr>::Listener(std::string const& eventName) {
  acceptEvent.Bind(eventName, &Listener::OnSocketEvent, this);
}

template <class Kind, class SockAddr>
Listener<Kind, SockAddr>::~Listener() {}

template <class Kind, class SockAddr>
bool Listener<Kind, SockAddr>::ImplActivate() {
  return StartListener();
}

template <class Kind, class SockAddr>
bool Listener<Kind, SockAddr>::StartListener() {
  const int s = OpenSocket();
  if (s < 0) {
    Errno e;
    if (this->verbose) std::cerr << "can't create socket:" << e << std::endl;
    RetryStart();
    return false;
  }
  listenFd = Fd(s);
  return BindSocket();
}

template <class Kind, class SockAddr>
void Listener<Kind, SockAddr>::RetryStart() {
  listenFd.close();
  bindTimer.set<Listener>(bind_retry_ms, &Listener::OnTimeout, this);
}

template <class Kind, class SockAddr>
bool Listener<Kind, SockAddr>::BindSocket() {
  if (BindAddress() != 0) {
    Errno e;
    if (this->verbose) std::cerr << "can't bind to socket: \"" << e << "\"  waiting..." << std::endl;
    bindTimer.set<Listener>(bind_retry_ms, &Listener::OnTimeout, this);
    return false;
  }
  if (::listen(listenFd.lowlevel_fd(), 1) != 0) {
    Errno e;
    if (this->verbose) std::cerr << "can't listen socket: " << e << std::endl;
    RetryStart();
    return false;
  }
  if (!NonBlockMode(listenFd.lowlevel_fd())) {
    Errno e;
    if (this->verbose) std::cerr << "can't set socket to non block mode: " << e << std::endl;
    RetryStart();
    return false;
  }
  acceptEvent.Schedule(listenFd, POLLIN);
  if (!acceptEvent.IsActive()) {
    Errno e;
    if (this->verbose) std::cerr << "can't watch listening socket: " << e << std::endl;
    RetryStart();
    return false;
  }
  // A start that failed at first left the service Idle.
  if (this->state == Kind::State::Idle && this->activated) this->state = Kind::State::Connecting;
  return true;
}

template <class Kind, class SockAddr>
void Listener<Kind, SockAddr>::OnTimeout(Timer*) {
  if (listenFd.is_valid())
    BindSocket();
  else
    StartListener();
}

template <class Kind, class SockAddr>
void Listener<Kind, SockAddr>::ImplDeactivate() {
  bindTimer.reset();
  acceptPause.Cancel();
  acceptEvent.Release();
  listenFd.close();
}

template <class Kind, class SockAddr>
void Listener<Kind, SockAddr>::ImplOnDisconnect() {}

template <class Kind, class SockAddr>
void Listener<Kind, SockAddr>::ImplRefuseConnection() {}

template <class Kind, class SockAddr>
void Listener<Kind, SockAddr>::ImplConnected(Fd const&) {}

// A peer that left and came straight back finds its old connection still
// served when the new connection is seen first in a loop pass: finish that
// end (reading what it sent before leaving) before deciding to refuse.
template <class Kind, class SockAddr>
bool Listener<Kind, SockAddr>::HoldPending() {
  return this->state == Kind::State::Connected && this->strm->peer_gone() && this->strm->do_read() != 0;
}

template <class Kind, class SockAddr>
void Listener<Kind, SockAddr>::OnSocketEvent(int, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    // Pending connections wait until the end of the last one is reported.
    if (this->state == Kind::State::Deactivating) return;
    if (HoldPending()) return;
    SockAddr sa = {};
    socklen_t len = sizeof sa;
    const int s = ::accept4(listenFd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC);
    if (s < 0) {
      const int err = errno;
      if (acceptPause.Pause(err) && this->verbose)
        std::cerr << "can't accept connection: " << std::strerror(err) << ", pausing" << std::endl;
      return;
    }
    Fd conn(s);
    const std::string from = PeerText(sa, len);
    if (this->state != Kind::State::Connected) {
      if (!NonBlockMode(s)) {
        Errno e;
        if (this->verbose) std::cerr << "can't set socket to non block mode: " << e << std::endl;
        continue;
      }
      if (this->verbose) std::cout << "new connection from " << from << std::endl;
      Serve(conn, sa, from);
      // A connection that ended while it was taken over (a failed write in
      // the owner's OnConnect) has no descriptor left to keep.
      if (this->state == Kind::State::Connected) ImplConnected(conn);
    } else {
      if (this->verbose) std::cerr << "refuse connection from " << from << std::endl;
      ImplRefuseConnection();
    }
  }
}

template class Listener<ServiceNet, sockaddr_in>;
template class Listener<ServiceUnix, sockaddr_un>;

}  // namespace Control
