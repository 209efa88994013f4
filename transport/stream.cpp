#include "transport/stream.h"

#include <errno.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstring>
#include <iostream>

#include "foundation/ext_text.h"
#include "foundation/log_output.h"
#include "foundation/mux_time.h"

namespace {

// A zero-byte read says nothing in errno: the peer has closed its side.
const char kClosedByPeer[] = "connection closed by peer";

int socket_option(Fd const& fd, int name) {
  int value = 0;
  socklen_t len = sizeof value;
  if (::getsockopt(fd.lowlevel_fd(), SOL_SOCKET, name, &value, &len) != 0) return -1;
  return value;
}

int socket_request(Fd const& fd, unsigned long request) {
  int value = 0;
  if (::ioctl(fd.lowlevel_fd(), request, &value) != 0) return -1;
  return value;
}

}  // namespace

StrmProtocol::StrmProtocol() : fname("StrmProtocol"), sendq_counts_free(false), overflow(0) { init(); }

StrmProtocol::StrmProtocol(Fd const& fd) : StrmProtocol() { attach(fd); }

StrmProtocol::~StrmProtocol() { release(); }

void StrmProtocol::init() {
  overflow = 0;
  input.Bind("StrmProtocol::on_event", &StrmProtocol::on_event, this);
}

void StrmProtocol::attach(Fd const& other) {
  release();
  fd = other;
  // A fresh socket has nothing queued: a positive answer counts free space.
  sendq_counts_free = socket_request(fd, SIOCOUTQ) > 0;
}

void StrmProtocol::release() {
  if (!fd.is_valid()) return;
  input.Release();
  fd.close();
}

bool StrmProtocol::peer_gone() const {
  if (!opened()) return false;
  pollfd entry = {fd.lowlevel_fd(), POLLIN | POLLRDHUP, 0};
  if (::poll(&entry, 1, 0) != 1) return false;
  if (entry.revents & (POLLERR | POLLHUP | POLLRDHUP | POLLNVAL)) return true;
  if (!(entry.revents & POLLIN)) return false;
  // A socket kind that does not report the hang-up: an empty peek is the end.
  char octet;
  const ssize_t n = ::recv(fd.lowlevel_fd(), &octet, 1, MSG_PEEK | MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

void StrmProtocol::local_prepare_head(Packet& p) { p.reserve_head(0); }

void StrmProtocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void StrmProtocol::local_activate() {
  if (!opened()) {
    on_deactivate(new Protocol_status_error(this, "fd not attached"));
    return;
  }
  input.Schedule(fd, POLLIN);
  on_activate();
}

void StrmProtocol::local_deactivate() {
  release();
  on_deactivate(new Protocol_status_success(this, "success"));
}

void StrmProtocol::on_error(std::string const& text) {
  release();
  on_deactivate(new Protocol_status_error(this, text));
}

std::string StrmProtocol::pending_error_text(char const* when_none) const {
  int value = 0;
  socklen_t len = sizeof value;
  if (::getsockopt(fd.lowlevel_fd(), SOL_SOCKET, SO_ERROR, &value, &len) != 0) return std::strerror(errno);
  return value ? std::strerror(value) : when_none;
}

void StrmProtocol::on_event(int, short events) {
  if (events & POLLERR) {
    on_error("pollerr: " + pending_error_text("socket error"));
    return;
  }
  // What the peer sent before hanging up is read first; the end of the
  // stream then shows as an empty read.
  if (events & POLLIN) {
    if (do_read() != 0 || !(events & POLLHUP)) return;
  }
  if (events & POLLHUP) on_error("pollhup: " + pending_error_text(kClosedByPeer));
}

int StrmProtocol::do_read() {
  // Input is drained even when the pool is empty, so that a full pool never
  // keeps the socket readable for ever.
  static unsigned char discard[Packet::packet_max_size];
  Packet p;
  const bool have_buffer = p.try_reserve_head(0);
  unsigned char* into = have_buffer ? p.tail() : discard;
  const unsigned room = have_buffer ? p.tailroom() : sizeof discard;

  read_measure.begin();
  const ssize_t n = ::recv(fd.lowlevel_fd(), into, room, MSG_DONTWAIT | MSG_NOSIGNAL);
  const int err = errno;
  read_measure.end();

  if (n < 0) {
    if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR) return 0;
    on_error(std::string("read error: ") + std::strerror(err));
    return -1;
  }
  if (n == 0) {
    on_error(std::string("read error: ") + kClosedByPeer);
    return -1;
  }
  if (!have_buffer) {
    std::cerr << ext::header(this) << "no free packet buffer, " << n << " bytes of input dropped" << std::endl;
    return static_cast<int>(n);
  }
  p.put(static_cast<unsigned>(n));
  on_message(p);
  return static_cast<int>(n);
}

void StrmProtocol::message(Packet& p) {
  unsigned left = p.length();
  if (left == 0) return;
  if (!opened()) {
    std::cerr << ext::header(this) << "no connection, " << left << " bytes not sent" << std::endl;
    return;
  }
  // What was logged on the way to this message is out before the peer sees it.
  Log::Output::instance().flushAll(false);
  unsigned char const* at = p.cdata();
  write_measure.begin();
  const uint32_t start = Mux::milliseconds();
  int err = 0;
  bool timed_out = false;
  while (left > 0) {
    const ssize_t n = ::send(fd.lowlevel_fd(), at, left, MSG_NOSIGNAL);
    if (n >= 0) {
      at += n;
      left -= static_cast<unsigned>(n);
      continue;
    }
    err = errno;
    if (err == EINTR) continue;
    if (err != EAGAIN && err != EWOULDBLOCK) break;
    const int32_t time_left = int32_t(write_budget_ms) - int32_t(Mux::milliseconds() - start);
    if (time_left < 1) {
      timed_out = true;
      break;
    }
    multiplexer.resetWD();
    pollfd entry = {fd.lowlevel_fd(), POLLOUT, 0};
    const int r = ::poll(&entry, 1, time_left);
    const int poll_err = errno;
    multiplexer.resetWD();
    if (r == 1 || (r == -1 && poll_err == EINTR)) continue;
    timed_out = true;
    break;
  }
  write_measure.end();
  if (left == 0) return;

  ++overflow;
  if (timed_out) {
    std::cerr << ext::header(this) << "write timeout";
    put_socket_state(std::cerr);
    std::cerr << std::endl;
    on_error("write timeout");
    return;
  }
  std::cerr << ext::header(this) << "write error";
  put_socket_state(std::cerr);
  std::cerr << ", error=" << std::strerror(err) << std::endl;
  on_error(std::string("write error: ") + std::strerror(err));
}

int StrmProtocol::sendbuf_space() const { return socket_option(fd, SO_SNDBUF); }

int StrmProtocol::recvbuf_space() const { return socket_option(fd, SO_RCVBUF); }

int StrmProtocol::inq_space() const { return socket_request(fd, FIONREAD); }

int StrmProtocol::outq_space() const { return socket_request(fd, SIOCOUTQ); }

int StrmProtocol::free_space() const {
  const int outq = outq_space();
  return sendq_counts_free ? outq : sendbuf_space() - outq;
}

void StrmProtocol::put_socket_state(std::ostream& os) const {
  os << std::dec << ", sendbuf=" << uint32_t(sendbuf_space()) << ", recvbuf=" << uint32_t(recvbuf_space())
     << ", free=" << uint32_t(free_space()) << ", inq=" << uint32_t(inq_space()) << ", outq=" << uint32_t(outq_space());
}

void StrmProtocol::PutHeader(std::ostream& os) const { os << "SockStream[" << service << "]: "; }
