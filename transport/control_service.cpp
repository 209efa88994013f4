#include "transport/control_service.h"

#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstring>
#include <iostream>

#include "foundation/version.h"
#include "transport/stream.h"
#include "transport/tpkt.h"

namespace Control {

char const* GetTextNotation(Service::State::Type state) {
  switch (state) {
    case Service::State::Idle:
      return "Idle";
    case Service::State::Connecting:
      return "Connecting";
    case Service::State::Deactivating:
      return "Deactivating";
    case Service::State::Connected:
      return "Connected";
  }
  return "Unknown";
}

std::ostream& operator<<(std::ostream& os, Service::State::Type state) { return os << GetTextNotation(state); }

// Service ---------------------------------------------------------------------

Service::Service()
    : verbose(true),
      state(State::Idle),
      notify(nullptr),
      strm(new StrmProtocol),
      tpkt(new Tpkt_protocol),
      activated(false) {
  add_protocol_tail(strm);
  add_protocol_tail(tpkt);
  dpc.Bind(this, &Service::OnDeactivateDPC);
}

Service::~Service() { dpc.Deactivate(); }

bool Service::Activate() {
  Deactivate();
  state = State::Connecting;
  activated = true;
  if (ImplActivate()) return true;
  state = State::Idle;
  return false;
}

void Service::Deactivate() {
  ImplDeactivate();
  state = State::Idle;
  activated = false;
}

void Service::Disconnect() {
  // Without a stream there is nothing to take down, and no end to report.
  if (state == State::Deactivating || !strm->opened()) return;
  deactivate();
}

void Service::Release() { strm->release(); }

bool Service::Send(char const* data, int length) {
  if (state == State::Deactivating) return false;
  if (state != State::Connected) {
    if (verbose) std::cerr << "Control::Service::Send() ignore Send request in " << state << " state." << std::endl;
    return false;
  }
  if (length < 0 || (length > 0 && data == nullptr) || unsigned(length) > Tpkt_protocol::max_payload) {
    std::cerr << "Control::Service::Send() message of " << length
              << " octets not sent, max = " << Tpkt_protocol::max_payload << std::endl;
    return false;
  }
  static Profile::Point building("Control::Service::Send [1]");
  static Profile::Point handing("Control::Service::Send [2]");
  building.begin();
  Packet p;
  if (!p.try_reserve_head(0)) {
    building.end();
    std::cerr << "Control::Service::Send() no free packet buffer, message of " << length << " octets not sent"
              << std::endl;
    return false;
  }
  prepare_head(p);
  unsigned char* at = p.put(unsigned(length));
  if (length > 0) std::memcpy(at, data, unsigned(length));
  building.end();
  handing.begin();
  const bool framed = tpkt->send(p);
  handing.end();
  // A write that failed has taken the connection down meanwhile.
  return framed && state == State::Connected;
}

std::string const& Service::service_name() const { return strm->service_name(); }

void Service::service_name(std::string const& name) { strm->service_name(name); }

Measure const& Service::get_read_measure() const { return strm->get_read_measure(); }

Measure const& Service::get_write_measure() const { return strm->get_write_measure(); }

uint32_t Service::GetOverflowCounter() const { return strm->GetOverflowCounter(); }

void Service::TakeOver(Fd const& fd, std::string const& name) {
  if (state == State::Deactivating) return;
  addr = name;
  state = State::Connected;
  strm->attach(fd);
  activate();
  if (state == State::Connected && notify) notify->OnConnect();
}

void Service::on_message(Packet& p) {
  if (state == State::Deactivating || !notify) return;
  char const* data = p.empty() ? "" : reinterpret_cast<char const*>(p.cdata());
  notify->OnMessage(data, int(p.length()));
}

void Service::on_activated(Protocol*) {}

void Service::on_deactivated(Protocol*, Protocol_status) {
  if (verbose) std::cerr << "control connection " << addr << " closed." << std::endl;
  state = State::Deactivating;
  dpc.Activate();
}

void Service::OnDeactivateDPC() {
  dpc.Deactivate();
  // A Deactivate() or Activate() meanwhile has settled the state already.
  if (state == State::Deactivating) {
    state = activated ? State::Connecting : State::Idle;
    if (activated) ImplOnDisconnect();
  }
  if (notify) notify->OnDisconnect();
}

// ServiceNet ------------------------------------------------------------------

ServiceNet::ServiceNet() {}

void ServiceNet::Connected(Fd const& fd, INet4::Addr const& peerAddr) {
  if (state == State::Deactivating) return;
  int on = 1;
  if (::setsockopt(fd.lowlevel_fd(), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0 && verbose)
    std::cerr << "fail set keepalive to control socket." << std::endl;
  if (::setsockopt(fd.lowlevel_fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 && verbose)
    std::cerr << "fail to turn off Nagle algorithm." << std::endl;
  peer = peerAddr;
  TakeOver(fd, peer.GetString());
}

// AcceptorNet -----------------------------------------------------------------

AcceptorNet::AcceptorNet() : AcceptorNet(0) {}

AcceptorNet::AcceptorNet(int port) : Listener("AcceptorNet::OnSocketEvent"), port(static_cast<uint16_t>(port)) {}

AcceptorNet::AcceptorNet(int port, bool verbose) : AcceptorNet(port) { this->verbose = verbose; }

AcceptorNet::~AcceptorNet() {}

unsigned short AcceptorNet::GetListenPort() const {
  if (!IsListening()) return 0;
  sockaddr_in sa = {};
  socklen_t len = sizeof sa;
  if (::getsockname(listenFd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

int AcceptorNet::OpenSocket() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (s < 0) return s;
  int on = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  return s;
}

int AcceptorNet::BindAddress() {
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_ANY);
  return ::bind(listenFd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
}

std::string AcceptorNet::PeerText(sockaddr_in const& from, socklen_t) const { return INet4::Addr(from).GetString(); }

void AcceptorNet::Serve(Fd const& conn, sockaddr_in const& from, std::string const&) {
  Connected(conn, INet4::Addr(from));
}

// AcceptorNetCheckConnection --------------------------------------------------

AcceptorNetCheckConnection::AcceptorNetCheckConnection() : AcceptorNetCheckConnection(0) {}

AcceptorNetCheckConnection::AcceptorNetCheckConnection(int port)
    : AcceptorNet(port), checkState(Check::Idle), checkCountdown(0) {}

AcceptorNetCheckConnection::AcceptorNetCheckConnection(int port, bool verbose)
    : AcceptorNet(port, verbose), checkState(Check::Idle), checkCountdown(0) {}

AcceptorNetCheckConnection::~AcceptorNetCheckConnection() {}

bool AcceptorNetCheckConnection::ImplActivate() {
  const bool listening = AcceptorNet::ImplActivate();
  CheckConnection();
  return listening;
}

void AcceptorNetCheckConnection::ImplDeactivate() {
  checkTimer.reset();
  AcceptorNet::ImplDeactivate();
}

void AcceptorNetCheckConnection::on_deactivated(::Protocol* p, Protocol_status st) {
  Service::on_deactivated(p, st);
  // The last descriptor of the connection: the peer sees the close now.
  connFd.close();
  checkState = Check::Idle;
  checkCountdown = 0;
}

void AcceptorNetCheckConnection::ImplConnected(Fd const& fd) {
  connFd = fd;
  checkState = Check::Idle;
  checkCountdown = 0;
}

void AcceptorNetCheckConnection::ImplRefuseConnection() {
  if (checkState != Check::Idle) return;
  checkState = Check::CheckConnection;
  checkCountdown = 2;
  SetupKeepAlive(true);
  if (verbose) std::cerr << "CheckConnectionState CheckConnection" << std::endl;
}

void AcceptorNetCheckConnection::SetupKeepAlive(bool fast) {
  const int fd = connFd.lowlevel_fd();
  const int on = 1;
  const int idle = fast ? 1 : 7200;
  const int interval = fast ? 1 : 75;
  const int count = fast ? 3 : 9;
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

void AcceptorNetCheckConnection::CheckConnection() {
  if (state == State::Connected) {
    bool close = false;
    tcp_info info = {};
    socklen_t len = sizeof info;
    if (::getsockopt(connFd.lowlevel_fd(), IPPROTO_TCP, TCP_INFO, &info, &len) == 0) {
      if (info.tcpi_state != TCP_ESTABLISHED) {
        if (verbose) std::cerr << "connection from " << addr << " closed: tcp socket change state." << std::endl;
        close = true;
      }
      if (checkState == Check::CheckConnection) {
        if (info.tcpi_ca_state == TCP_CA_Open) {
          checkState = Check::Idle;
          SetupKeepAlive(false);
          if (verbose) std::cerr << "CheckConnectionState Idle" << std::endl;
        } else {
          if (checkCountdown > 0) --checkCountdown;
          if (checkCountdown <= 0) {
            if (verbose) std::cerr << "connection from " << addr << " closed: tcp socket change ca_state." << std::endl;
            close = true;
          }
        }
      }
    }
    int pending = 0;
    socklen_t plen = sizeof pending;
    if (::getsockopt(connFd.lowlevel_fd(), SOL_SOCKET, SO_ERROR, &pending, &plen) != 0) pending = errno;
    if (pending != 0) {
      if (verbose) std::cerr << "connection from " << addr << " closed: " << std::strerror(pending) << std::endl;
      close = true;
    }
    if (close) {
      checkState = Check::Idle;
      SetupKeepAlive(false);
      Disconnect();
      if (verbose) std::cerr << "CheckConnectionState Idle" << std::endl;
    }
  }
  checkTimer.set<AcceptorNetCheckConnection>(check_period_ms, &AcceptorNetCheckConnection::OnCheckConnectionTimeout,
                                             this);
}

void AcceptorNetCheckConnection::OnCheckConnectionTimeout(Timer*) { CheckConnection(); }

}  // namespace Control
