#include "transport/tpkt_tracer.h"

#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cstring>
#include <iostream>
#include <iterator>

#include "foundation/inet4.h"
#include "foundation/os.h"

TPKTTracer::TPKTTracer() : receiver(nullptr), current(connections.end()) {}

TPKTTracer::~TPKTTracer() {
  for (Connection* c : connections) delete c;
  connections.clear();
  current = connections.end();
  listener.Release();
}

bool TPKTTracer::Listen(unsigned short port) {
  Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!s.is_valid()) return false;
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return false;
  if (::listen(s.lowlevel_fd(), 1) != 0) return false;
  if (!s.NonBlock()) return false;
  listener.Bind("TPKTTracer::OnEvent", &TPKTTracer::OnEvent, this);
  listener.Schedule(s, POLLIN);
  return listener.IsActive();
}

unsigned short TPKTTracer::GetListenPort() const {
  if (!IsListening()) return 0;
  sockaddr_in sa = {};
  socklen_t len = sizeof sa;
  if (::getsockname(listener.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

void TPKTTracer::OnEvent(int, short events) {
  if (!(events & POLLIN)) return;
  for (;;) {
    sockaddr_in sa = {};
    socklen_t len = sizeof sa;
    const int s = ::accept4(listener.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC);
    if (s < 0) {
      const int err = errno;
      if (acceptPause.Pause(err))
        std::cerr << "TPKTTracer: can't accept connection: " << std::strerror(err) << ", pausing" << std::endl;
      return;
    }
    Fd client(s);
    std::clog << "ACP connection open from " << INet4::Addr(sa) << std::endl;
    if (!client.NonBlock()) continue;
    Connection* c = new Connection;
    c->event.Bind("TPKTTracer::OnDataEvent", &TPKTTracer::OnDataEvent, this);
    c->event.Schedule(client, POLLIN);
    if (!c->event.IsActive()) {
      delete c;
      continue;
    }
    connections.push_back(c);
  }
}

TPKTTracer::List::iterator TPKTTracer::FindConnection(int fd) {
  for (auto it = connections.begin(); it != connections.end(); ++it)
    if ((*it)->event.lowlevel_fd() == fd) return it;
  return connections.end();
}

void TPKTTracer::CloseConnection(List::iterator it) {
  if (it == current) current = connections.end();
  delete *it;
  connections.erase(it);
}

void TPKTTracer::OnDataEvent(int fd, short events) {
  current = FindConnection(fd);
  if (current == connections.end()) return;
  if (events & (POLLERR | POLLHUP)) {
    CloseConnection(current);
    return;
  }
  while (current != connections.end()) {
    Connection* c = *current;
    const ssize_t n = ::recv(fd, c->buffer + c->received, c->expected - c->received, MSG_NOSIGNAL);
    if (n == 0) {
      CloseConnection(current);
      break;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) CloseConnection(current);
      break;
    }
    c->received += uint32_t(n);
    if (c->received < c->expected) break;
    if (!c->readingHeader) {
      if (receiver) receiver->OnFrame(c->buffer, c->expected);
      if (current == connections.end()) break;
      c->readingHeader = 1;
      c->received = 0;
      c->expected = header_size;
      continue;
    }
    if (c->buffer[0] != 0x03 || c->buffer[1] != 0x00) {
      CloseConnection(current);
      break;
    }
    const unsigned length = unsigned(c->buffer[2]) * 256 + c->buffer[3];
    if (length < header_size || length - header_size > max_payload) {
      CloseConnection(current);
      break;
    }
    c->received = 0;
    if (length == header_size) {
      c->expected = header_size;
      continue;
    }
    c->readingHeader = 0;
    c->expected = length - header_size;
  }
  current = connections.end();
}

void TPKTTracer::SendTo(List::iterator it, msghdr const& m, unsigned total) {
  const ssize_t n = ::sendmsg((*it)->event.lowlevel_fd(), &m, MSG_NOSIGNAL);
  if (n < 0) {
    if (errno != EINTR) CloseConnection(it);
  } else if (size_t(n) != total) {
    // Part of a frame went out: the stream cannot be resynchronised.
    CloseConnection(it);
  }
}

void TPKTTracer::Send(void const* data, unsigned int len) {
  if (len > max_send) {
    std::cerr << "TPKTTracer: message of " << len << " octets not sent, max = " << max_send << std::endl;
    return;
  }
  const unsigned total = len + header_size;
  unsigned char header[header_size] = {0x03, 0x00, static_cast<unsigned char>((total >> 8) & 0xFF),
                                       static_cast<unsigned char>(total & 0xFF)};
  iovec pieces[2];
  pieces[0].iov_base = header;
  pieces[0].iov_len = header_size;
  pieces[1].iov_base = const_cast<void*>(data);
  pieces[1].iov_len = len;
  msghdr m = {};
  m.msg_iov = pieces;
  m.msg_iovlen = len ? 2 : 1;
  if (current != connections.end()) {
    SendTo(current, m, total);
    return;
  }
  for (auto it = connections.begin(); it != connections.end();) {
    auto next = std::next(it);
    SendTo(it, m, total);
    it = next;
  }
}
