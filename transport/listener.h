#pragma once
// The listening side of a message connection, whatever the socket family:
// binds (again and again until it works), serves one connection at a time
// and accepts and closes every further one at once. The family's kind
// (Kind) gives the socket, its address and the way a connection is served.
#include <sys/socket.h>

#include <string>

#include "foundation/accept_pause.h"
#include "foundation/event.h"
#include "foundation/os.h"
#include "foundation/timer.h"

namespace Control {

template <class Kind, class SockAddr>
class Listener : public Kind {
public:
  static constexpr unsigned bind_retry_ms = 5000;
  static constexpr unsigned accept_pause_ms = 1000;

  ~Listener() override;

  bool IsListening() const { return acceptEvent.IsActive(); }

protected:
  // eventName names the accept event in the loop's status.
  explicit Listener(std::string const& eventName);

  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;
  virtual void ImplRefuseConnection();
  virtual void ImplConnected(Fd const& fd);

  // A new socket of the family with its options set; negative on failure.
  virtual int OpenSocket() = 0;
  // Binds listenFd to the family's address; the result of bind().
  virtual int BindAddress() = 0;
  // The peer's name in log lines.
  virtual std::string PeerText(SockAddr const& from, socklen_t len) const = 0;
  // Serves conn, accepted from the peer.
  virtual void Serve(Fd const& conn, SockAddr const& from, std::string const& name) = 0;
  // True when the pending connections are to wait once more before
  // anything is accepted.
  bool HoldPending();

  bool BindSocket();
  void OnTimeout(Timer*);
  void OnSocketEvent(int fd, short revents);

  Fd listenFd;
  Timer bindTimer;
  Event acceptEvent;
  AcceptPause acceptPause{acceptEvent, accept_pause_ms};

private:
  bool StartListener();
  void RetryStart();
};

}  // namespace Control
