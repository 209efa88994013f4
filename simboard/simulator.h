#pragma once
// The simulated board: its registry of device drivers, the opens of their
// devices, injected faults and the control commands. It runs inside the
// daemon's own loop (no threads): the driver's end of every open is an Event
// of the loop.
#include <sys/types.h>

#include <cerrno>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "board/board.h"
#include "foundation/dpc.h"
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
  int ioctl(int fd, Board::Request request, void* arg) {
    // A known open repeating its last request, as the cross-connect refresh
    // does a few hundred times a pass, takes the short way.
    if (Session* s = cached(fd)) {
      const Driver::RequestEntry* e = s->last_entry_;
      if (e != nullptr && e->request == request && !e->by_value && arg != nullptr && !s->hung_ &&
          s->driver_.ioctl_faults_.empty())
        return call(*s, *e, fd, arg, 0);
    }
    return dispatch(fd, request, false, arg, 0);
  }
  // ioctl on each of n records of size octets, one after the other.
  void ioctl_each(int fd, Board::Request request, void* records, std::size_t size, std::size_t n);
  int ioctl_value(int fd, Board::Request request, unsigned long value) {
    return dispatch(fd, request, true, nullptr, value);
  }

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
  Session* cached(int fd) const {
    if (fd < 0 || static_cast<std::size_t>(fd) >= by_fd_.size()) return nullptr;
    const Known& k = by_fd_[static_cast<std::size_t>(fd)];
    return k.epoch == fd_epoch() ? k.session : nullptr;
  }
  void remember(int fd, Session* session);
  void forget(const Session* session);
  const Driver::RequestEntry* request_entry(Session& s, Board::Request request, bool by_value);
  // One request through the injected faults to its driver, with ioctl's result.
  int dispatch(int fd, Board::Request request, bool by_value, void* arg, unsigned long value);
  // The driver's handler with ioctl's result.
  static int call(Session& s, const Driver::RequestEntry& e, int fd, void* arg, unsigned long value) {
    s.request_fd_ = fd;
    const int rc = e.by_value ? e.value(s, value) : e.pointer(s, arg);
    s.request_fd_ = -1;
    if (rc < 0) {
      errno = -rc;
      return -1;
    }
    return rc;
  }
  void release(Session& s);
  void reap();
  std::vector<std::uint8_t>& read_buffer() { return read_buffer_; }

  void add_builtin_commands();
  void help(Reply& reply) const;

  std::vector<std::unique_ptr<Driver>> drivers_;
  std::vector<Driver::CommandSpec> builtins_;
  std::map<ino_t, std::unique_ptr<Session>> sessions_;
  // Descriptor number to open, while fd_epoch() stays the same.
  struct Known {
    Session* session = nullptr;
    std::uint64_t epoch = 0;
  };
  static constexpr int kMaxKnownFd = 4096;
  std::vector<Known> by_fd_;
  // Released opens, deleted outside their own callbacks.
  std::vector<std::unique_ptr<Session>> graveyard_;
  Dpc reaper_;
  std::vector<std::uint8_t> read_buffer_;
};

// Builds the default board's devices into an empty simulator (default_board.cpp).
void BuildDefaultBoard(Simulator& sim);

}  // namespace SimBoard
