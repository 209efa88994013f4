#pragma once
// A message connection over a stream socket, one TPKT frame per message: the
// stream layer at the bottom, the TPKT layer above it. How the connection is
// made (listening, connecting out) is left to the derived kinds.
#include <netinet/in.h>

#include <cstdint>
#include <iosfwd>
#include <string>

#include "foundation/dpc.h"
#include "foundation/event.h"
#include "foundation/inet4.h"
#include "foundation/multiplexer.h"
#include "foundation/os.h"
#include "foundation/timer.h"
#include "transport/listener.h"
#include "transport/protocol.h"

class StrmProtocol;
class Tpkt_protocol;

namespace Control {

// The owner's callbacks.
class Notify {
public:
  virtual ~Notify() {}
  virtual void OnConnect() = 0;
  virtual void OnDisconnect() = 0;
  // One call per received message.
  virtual void OnMessage(const char* data, int length) = 0;
};

class Service : private ProtocolsFamily {
public:
  struct State {
    enum Type : int { Idle = 0, Connecting = 1, Deactivating = 2, Connected = 3 };
  };

  Service();
  ~Service() override;

  // False when the connection kind could not start (it may go on trying by
  // itself, see the kind).
  bool Activate();
  void Deactivate();
  // Takes a served connection down; the owner hears OnDisconnect later, from
  // the loop.
  void Disconnect();
  // Closes the stream without telling anybody.
  void Release();
  // True when the whole message was written.
  bool Send(char const* data, int length);

  void Bind(Notify* n) { notify = n; }
  void UnBind() { notify = nullptr; }

  std::string const& service_name() const;
  void service_name(std::string const& name);
  Measure const& get_read_measure() const;
  Measure const& get_write_measure() const;
  uint32_t GetOverflowCounter() const;

  State::Type GetState() const { return state; }
  bool IsConnected() const { return state == State::Connected; }
  std::string const& GetAddr() const { return addr; }

protected:
  virtual bool ImplActivate() = 0;
  virtual void ImplDeactivate() = 0;
  virtual void ImplOnDisconnect() = 0;

  // Serves an established connection: the stream layer takes its own
  // duplicate of fd. Ignored while the end of the previous one is reported.
  void TakeOver(Fd const& fd, std::string const& name);

  void on_message(Packet& p) override;
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, Protocol_status st) override;

  void OnDeactivateDPC();

  std::string addr;
  bool verbose;
  State::Type state;
  Notify* notify;
  StrmProtocol* strm;
  Tpkt_protocol* tpkt;
  Dpc dpc;
  // Between Activate() and Deactivate(): a connection that ends then makes
  // the kind wait for the next one.
  bool activated;
};

char const* GetTextNotation(Service::State::Type state);
std::ostream& operator<<(std::ostream& os, Service::State::Type state);

// The TCP kind.
class ServiceNet : public Service {
public:
  ServiceNet();

  // Sets the options of a new TCP connection and serves it.
  void Connected(Fd const& fd, INet4::Addr const& peerAddr);

  INet4::Addr const& GetPeer() const { return peer; }

protected:
  INet4::Addr peer;
};

// Listens on a TCP port and serves one connection at a time; every further
// one is accepted and closed at once.
class AcceptorNet : public Listener<ServiceNet, sockaddr_in> {
public:
  AcceptorNet();
  explicit AcceptorNet(int port);
  AcceptorNet(int port, bool verbose);
  ~AcceptorNet() override;

  // The port the listening socket is bound to; 0 while not listening.
  unsigned short GetListenPort() const;

protected:
  int OpenSocket() override;
  int BindAddress() override;
  std::string PeerText(sockaddr_in const& from, socklen_t len) const override;
  void Serve(Fd const& conn, sockaddr_in const& from, std::string const& name) override;

  uint16_t port;
};

// The controller listener: checks the served connection every second, and
// when another controller knocks, probes the served one fast and drops it
// when it has gone bad.
class AcceptorNetCheckConnection : public AcceptorNet {
public:
  struct Check {
    enum Type { Idle = 0, CheckConnection = 1 };
  };
  static constexpr unsigned check_period_ms = 1000;

  AcceptorNetCheckConnection();
  explicit AcceptorNetCheckConnection(int port);
  AcceptorNetCheckConnection(int port, bool verbose);
  ~AcceptorNetCheckConnection() override;

  int GetCheckState() const { return checkState; }

protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplRefuseConnection() override;
  void ImplConnected(Fd const& fd) override;
  void on_deactivated(::Protocol* p, Protocol_status st) override;

  void SetupKeepAlive(bool fast);
  void CheckConnection();
  void OnCheckConnectionTimeout(Timer*);

  Timer checkTimer;
  Fd connFd;
  int checkState;
  int checkCountdown;
};

}  // namespace Control
