#pragma once
// Message connections over local stream sockets named by file-system paths:
// a listener serving one connection at a time and a client that connects
// and retries like the TCP connector.
#include <string>

#include "foundation/event.h"
#include "foundation/os.h"
#include "foundation/timer.h"
#include "transport/control_service.h"

namespace Control {

// The local kind; the address text is a path, empty for an unnamed peer.
class ServiceUnix : public Service {
public:
  ServiceUnix();

  void Connected(Fd const& fd, std::string const& name);
};

// Paths of 108 characters or more do not fit a socket address: both kinds
// refuse them instead of using a cut path.
class AcceptorUnix : public ServiceUnix {
public:
  static constexpr unsigned bind_retry_ms = 5000;
  static constexpr unsigned accept_pause_ms = 1000;

  AcceptorUnix();
  explicit AcceptorUnix(std::string const& path);
  ~AcceptorUnix() override;

  std::string const& GetPath() const { return path; }
  bool IsListening() const { return acceptEvent.IsActive(); }

protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;
  virtual void ImplRefuseConnection();
  virtual void ImplConnected(Fd const& fd);

  bool BindSocket();
  void OnTimeout(Timer*);
  void OnResume(Timer*);
  void OnSocketEvent(int fd, short revents);

  std::string path;
  Fd listenFd;
  Timer bindTimer;
  Event acceptEvent;
  Timer pauseTimer;

private:
  bool StartListener();
  void RetryStart();
};

class ConnectorUnix : public ServiceUnix {
public:
  ConnectorUnix();
  explicit ConnectorUnix(std::string const& remotePath);
  // The client socket is bound to localPath first, so that the server sees
  // a name; the attempt goes on when that fails.
  ConnectorUnix(std::string const& remotePath, std::string const& localPath);
  ~ConnectorUnix() override;

  int GetFastRetries() const { return fastRetries; }
  bool IsRetryPending() const { return retryTimer.is_running(); }

protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

  void TryConnect();
  void OnSocketEvent(int fd, short revents);
  void OnTimeout(Timer*);
  void RetryLater(unsigned slow_ms);

  std::string remotePath;
  std::string localPath;
  Fd sockFd;
  Timer retryTimer;
  Event connectEvent;
  int fastRetries;
};

}  // namespace Control
