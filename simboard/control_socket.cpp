#include "simboard/control_socket.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "simboard/simulator.h"

namespace SimBoard {

class ControlServer::ConnectionHandler : public Event::Handler {
public:
  ConnectionHandler(ControlServer* server, Connection* c) : server_(server), c_(c) {}
  void Invoke(int, short revents) override { server_->on_connection(c_, revents); }

private:
  ControlServer* server_;
  Connection* c_;
};

ControlServer::ControlServer(Simulator& sim, std::string path) : sim_(sim), path_(std::move(path)) {
  reaper_.Bind(this, &ControlServer::reap);
}

ControlServer::~ControlServer() {
  connections_.clear();
  if (listener_.is_valid()) {
    accept_event_.Release();
    listener_.close();
    ::unlink(path_.c_str());
  }
}

bool ControlServer::Listen() {
  if (listener_.is_valid()) return true;
  sockaddr_un sa = {};
  sa.sun_family = AF_UNIX;
  if (path_.size() >= sizeof sa.sun_path) {
    std::cerr << "simboard: control socket path too long: " << path_ << std::endl;
    return false;
  }
  std::memcpy(sa.sun_path, path_.c_str(), path_.size() + 1);
  Fd s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!s.is_valid()) {
    Errno e;
    std::cerr << "simboard: control socket: " << e << std::endl;
    return false;
  }
  // A socket file left by a daemon that did not end cleanly.
  ::unlink(path_.c_str());
  if (::bind(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(s.lowlevel_fd(), 8) != 0) {
    Errno e;
    std::cerr << "simboard: control socket " << path_ << ": " << e << std::endl;
    return false;
  }
  listener_ = std::move(s);
  accept_event_.Bind("simboard control", &ControlServer::on_accept, this);
  accept_event_.Schedule(listener_, POLLIN);
  return true;
}

void ControlServer::on_accept(int, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    const int fd = ::accept4(listener_.lowlevel_fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    std::unique_ptr<Connection> c(new Connection);
    c->fd = Fd(fd);
    c->event.Bind(new ConnectionHandler(this, c.get()));
    c->event.Schedule(c->fd, POLLIN);
    connections_.push_back(std::move(c));
  }
}

void ControlServer::on_connection(Connection* c, short revents) {
  if (c->dead) return;
  if (revents & POLLOUT) flush(*c);
  if (c->dead || !(revents & (POLLIN | POLLHUP | POLLERR))) return;
  char buf[4096];
  const ssize_t n = ::read(c->fd.lowlevel_fd(), buf, sizeof buf);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) return drop(*c);
  c->in.append(buf, static_cast<std::size_t>(n));
  std::size_t start = 0;
  for (std::size_t nl; !c->dead && (nl = c->in.find('\n', start)) != std::string::npos; start = nl + 1) {
    std::string line = c->in.substr(start, nl - start);
    if (c->skipping) {
      c->skipping = false;
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    handle_line(*c, line);
  }
  c->in.erase(0, start);
  if (c->in.size() > kMaxLine) {
    if (!c->skipping) {
      c->out += "error line longer than " + std::to_string(kMaxLine) + " bytes\n";
      c->skipping = true;
    }
    c->in.clear();
  }
  flush(*c);
}

void ControlServer::handle_line(Connection& c, const std::string& line) {
  const Reply reply = sim_.execute(line);
  if (reply.lines().empty() && !reply.failed() && line.find_first_not_of(" \t") == std::string::npos) return;
  c.out += reply.text();
}

void ControlServer::flush(Connection& c) {
  while (!c.out.empty()) {
    const ssize_t n = ::send(c.fd.lowlevel_fd(), c.out.data(), c.out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) break;
      return drop(c);
    }
    c.out.erase(0, static_cast<std::size_t>(n));
  }
  if (c.out.size() > kMaxBacklog) return drop(c);
  c.event.SetEvents(c.out.empty() ? POLLIN : POLLIN | POLLOUT);
}

void ControlServer::drop(Connection& c) {
  if (c.dead) return;
  c.dead = true;
  c.event.Release();
  c.fd.close();
  reaper_.Activate();
}

void ControlServer::reap() {
  reaper_.Deactivate();
  for (auto it = connections_.begin(); it != connections_.end();) {
    if ((*it)->dead)
      it = connections_.erase(it);
    else
      ++it;
  }
}

}  // namespace SimBoard
