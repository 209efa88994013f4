#pragma once
// Message connections over local stream sockets named by file-system paths:
// a listener serving one connection at a time and a client that connects
// and retries like the TCP connector.
#include <sys/un.h>

#include <string>

#include "foundation/event.h"
#include "foundation/os.h"
#include "foundation/timer.h"
#include "transport/connector.h"
#include "transport/control_service.h"
#include "transport/listener.h"

namespace Control {

// The local kind; the address text is a path, empty for an unnamed peer.
class ServiceUnix : public Service {
public:
  ServiceUnix();

  void Connected(Fd const& fd, std::string const& name);
};

// Paths of 108 characters or more do not fit a socket address: both kinds
// refuse them instead of using a cut path.
class AcceptorUnix : public Listener<ServiceUnix, sockaddr_un> {
public:
  AcceptorUnix();
  explicit AcceptorUnix(std::string const& path);
  ~AcceptorUnix() override;

  std::string const& GetPath() const { return path; }

protected:
  bool ImplActivate() override;
  int OpenSocket() override;
  int BindAddress() override;
  std::string PeerText(sockaddr_un const& from, socklen_t len) const override;
  void Serve(Fd const& conn, sockaddr_un const& from, std::string const& name) override;

  std::string path;
};

class ConnectorUnix : public Connector<ServiceUnix> {
public:
  ConnectorUnix();
  explicit ConnectorUnix(std::string const& remotePath);
  // The client socket is bound to localPath first, so that the server sees
  // a name; the attempt goes on when that fails.
  ConnectorUnix(std::string const& remotePath, std::string const& localPath);
  ~ConnectorUnix() override;

protected:
  bool ImplActivate() override;
  void TryConnect() override;
  void OnSocketEvent(int fd, short revents);

  std::string remotePath;
  std::string localPath;
};

}  // namespace Control
