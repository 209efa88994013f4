#pragma once
// The client side of a message connection: connects out to a TCP server,
// keeps trying until it gets through, and connects again on its own after
// the connection ends.
#include <cstdint>
#include <string>

#include "foundation/event.h"
#include "foundation/inet4.h"
#include "foundation/os.h"
#include "foundation/timer.h"
#include "transport/control_service.h"

namespace Control {

// Delays shared by the outgoing kinds.
struct RetryDelay {
  static constexpr int fast_attempts = 7;
  static constexpr unsigned fast_ms = 1000;
  static constexpr unsigned reconnect_ms = 10000;
  // Slow delays by cause, once the fast attempts are used up.
  static constexpr unsigned connect_failed_ms = 20000;
  static constexpr unsigned poll_failed_ms = 15000;
  static constexpr unsigned pending_error_ms = 12000;
};

// Retries and reconnects of the outgoing kinds, whatever the socket family:
// a few fast attempts, then slow ones whose delay depends on the cause.
template <class Kind>
class Connector : public Kind {
public:
  ~Connector() override;

  int GetFastRetries() const { return fastRetries; }
  bool IsRetryPending() const { return retryTimer.is_running(); }

protected:
  Connector();

  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

  virtual void TryConnect() = 0;
  void OnTimeout(Timer*);
  void RetryLater(unsigned slow_ms);
  // Opens sockFd, non-blocking; when that fails, logs it (what names the
  // socket) and tries again later.
  bool OpenNonBlocking(int family, int protocol, char const* what);

  Fd sockFd;
  Timer retryTimer;
  Event connectEvent;
  int fastRetries;
};

class ConnectorNet : public Connector<ServiceNet> {
public:
  ConnectorNet();
  // "a.b.c.d" or "a.b.c.d:port"; without a port the port is 0.
  explicit ConnectorNet(std::string const& addr);
  // A port in the host text wins over port.
  ConnectorNet(std::string const& host, unsigned short port);
  ~ConnectorNet() override;

  std::string const& GetHost() const { return host; }
  unsigned short GetPort() const { return port; }
  bool IsConnectPending() const { return connectEvent.IsActive(); }

protected:
  void TryConnect() override;
  void OnSocketEvent(int fd, short revents);

  // False when host does not parse as a dotted address with optional port.
  bool Target(INet4::Addr& target) const;

  uint16_t port;
  std::string host;
};

}  // namespace Control
