#pragma once
// The simulated board's control socket: an AF_UNIX stream listener in the
// daemon's loop. One command per line; each answer ends with a line "ok" or
// "error <text>".
#include <list>
#include <memory>
#include <string>

#include "foundation/dpc.h"
#include "foundation/event.h"
#include "foundation/os.h"

namespace SimBoard {

class Simulator;

class ControlServer {
public:
  // Longest command line; a longer one is answered with an error and skipped.
  static constexpr std::size_t kMaxLine = 4096;
  // Unread answers beyond this drop the connection.
  static constexpr std::size_t kMaxBacklog = 1 << 20;

  ControlServer(Simulator& sim, std::string path);
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;
  // Closes every connection and removes the socket file.
  ~ControlServer();

  // Binds and listens, replacing a stale socket file; false with a log line.
  bool Listen();
  bool listening() const { return listener_.is_valid(); }
  const std::string& path() const { return path_; }
  std::size_t connections() const { return connections_.size(); }

private:
  struct Connection {
    Fd fd;
    Event event;
    std::string in;
    std::string out;
    bool skipping = false;  // inside an overlong line
    bool dead = false;
  };

  void on_accept(int fd, short revents);
  void on_connection(Connection* c, short revents);
  void handle_line(Connection& c, const std::string& line);
  void flush(Connection& c);
  void drop(Connection& c);
  void reap();

  // Binds the connection to its event; the adapter calls on_connection.
  class ConnectionHandler;

  Simulator& sim_;
  std::string path_;
  Fd listener_;
  Event accept_event_;
  std::list<std::unique_ptr<Connection>> connections_;
  Dpc reaper_;
};

}  // namespace SimBoard
