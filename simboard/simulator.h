#pragma once
// The simulated board: its registry of device drivers, the opens of their
// devices, injected faults and the control commands. It runs inside the
// daemon's own loop (no threads): the driver's ends of the opens are watched
// by one Event of the loop, as a driver's are by the kernel, so that the
// loop's poll set holds only the daemon's own descriptors and this one.
#include <sys/epoll.h>
#include <sys/types.h>

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "board/board.h"
#include "foundation/dpc.h"
#include "foundation/event.h"
#include "foundation/os.h"
#include "simboard/driver.h"

namespace SimBoard {

class Simulator {
public:
  // An empty board; instance() is the one the seam uses.
  Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;
  ~Simulator();

  // The board the seam's calls reach, built from the default board on first
  // use.
  static Simulator& instance();

  // Registers a device; a path registered already keeps its first driver
  // (false).
  bool add(std::unique_ptr<Driver> driver);
  Driver* find(const std::string& path) const;
  template <class T>
  T* device(const std::string& path) const {
    return dynamic_cast<T*>(find(path));
  }
  const std::vector<std::unique_ptr<Driver>>& drivers() const { return drivers_; }

  // The seam.
  Fd open(const char* path, int flags);
  int ioctl(int fd, Board::Request request, void* arg);
  int ioctl_value(int fd, Board::Request request, unsigned long value);
  // ioctl on each of n records of size octets, one after the other.
  void ioctl_each(int fd, Board::Request request, void* records, std::size_t size, std::size_t n);

  // A network-interface request (simboard/netif.h).
  int netif(int socket, unsigned long request, void* ifreq);

  // The open a descriptor belongs to, or null.
  Session* session_of(int fd) const;

  // One control command line; blank lines are no command (empty reply, not
  // failed, no lines).
  Reply execute(const std::string& line);
  // Every device back to the default board, every pending fault dropped.
  void reset();
  // Releases the opens whose last descriptor is gone. The loop notices that
  // by itself; this is for callers that do not run the loop.
  void collect_closed();
  // Hangs up every open of the device: the daemon sees POLLHUP and end of
  // file; requests on its descriptors fail with EIO.
  void hangup(Driver& driver);
  // The same for one open.
  void hangup(Session& session);
  // Inside a request on the open, before anything duplicated the daemon's
  // descriptor: puts a stream socket in its place (same number, same flags),
  // so the open carries bytes from now on. False when that failed.
  bool to_stream(Session& session);

private:
  friend class Session;

  struct Found {
    Session* session = nullptr;
    int error = 0;
  };
  Found lookup(int fd, Board::Request request);
  const Driver::RequestEntry* request_entry(Session& s, Board::Request request, bool by_value);
  // request_entry() through the open's last one.
  const Driver::RequestEntry* entry(Session& s, Board::Request request, bool by_value);
  // One request through the injected faults to its driver, with ioctl's result.
  int dispatch(int fd, Board::Request request, bool by_value, void* arg, unsigned long value);
  // The same on the open the descriptor was found to belong to.
  int on_session(Session& s, int fd, Board::Request request, bool by_value, void* arg, unsigned long value);
  void release(Session& s);
  void reap();
  // The driver's end of the open in the watch set, for EPOLLIN while it
  // drains (always for the hang-up); out of it before the end closes.
  void watch(Session& s);
  void unwatch(Session& s);
  // The opens whose driver's end reported something.
  void on_watch(int fd, short revents);
  // The opens the watch set reports with one of the events, in the order
  // they were watched, into ready_.
  void take_reported(std::uint32_t events);
  std::vector<std::uint8_t>& read_buffer() { return read_buffer_; }

  void add_builtin_commands();
  void help(Reply& reply) const;

  std::vector<std::unique_ptr<Driver>> drivers_;
  std::vector<Driver::CommandSpec> builtins_;
  std::map<ino_t, std::unique_ptr<Session>> sessions_;
  // Released opens, deleted outside their own callbacks.
  std::vector<std::unique_ptr<Session>> graveyard_;
  Dpc reaper_;
  std::vector<std::uint8_t> read_buffer_;
  Fd watch_set_;
  Event watch_event_;
  std::uint64_t watch_count_ = 0;
  // What the watch set reported, kept from call to call.
  std::vector<epoll_event> reported_;
  std::vector<Session*> ready_;
};

// Builds the default board's devices into an empty simulator (default_board.cpp).
void BuildDefaultBoard(Simulator& sim);

}  // namespace SimBoard
