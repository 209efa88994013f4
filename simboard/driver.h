#pragma once
// A simulated device driver and the opens of its device.
//
// A driver models what the board's driver does, as far as the services can
// observe it. Each open of its device is a Session: the daemon holds one end
// of a socket pair, the driver the other. A driver declares, in its
// constructor, the requests it knows (by pointer or by value) and the control
// commands that read or change its state; the Simulator dispatches to them.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "board/board.h"
#include "foundation/event.h"
#include "foundation/os.h"

namespace SimBoard {

class Driver;
class Session;
class Simulator;

// A request a driver takes, with the handler of its pointer or value.
struct RequestEntry {
  Board::Request request;
  bool by_value;
  std::function<int(Session&, void* arg)> pointer;
  std::function<int(Session&, unsigned long value)> value;
  // Optional: n records of a pointer request at once, taken as n separate
  // requests would take them; the last failure as -errno, else 0. Only for
  // handlers that never look at the descriptor.
  std::function<int(Session&, unsigned char* records, std::size_t size, std::size_t n)> each;
};

// The words of a control command after its device and verb.
using Args = std::vector<std::string>;

// The answer to one control command: its lines, then "ok" or "error <text>".
class Reply {
public:
  void line(std::string text) { lines_.push_back(std::move(text)); }
  // The first failure is the one answered.
  void fail(std::string text) {
    if (!failed_) error_ = std::move(text);
    failed_ = true;
  }
  bool failed() const { return failed_; }
  const std::vector<std::string>& lines() const { return lines_; }
  const std::string& error() const { return error_; }
  // Every line with its line end, the last one "ok" or "error <text>".
  std::string text() const;

private:
  std::vector<std::string> lines_;
  std::string error_;
  bool failed_ = false;
};

// What a driver keeps for one open (a channel, a session of its own).
class OpenState {
public:
  virtual ~OpenState() = default;
};

// One open of a simulated device. It lives until the daemon closes the last
// descriptor of the open (or the device hangs up).
class Session {
public:
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session();

  Driver& driver() const { return driver_; }
  // The inode of the daemon's end: every duplicate of its descriptor has it.
  ino_t inode() const { return inode_; }
  // The flags the device was opened with.
  int flags() const { return flags_; }
  // SOCK_SEQPACKET or SOCK_STREAM: the driver's, until the open becomes a
  // byte channel (Simulator::to_stream).
  int socket_type() const { return socket_type_; }
  // The daemon's descriptor of the request being served, -1 outside one.
  int request_fd() const { return request_fd_; }
  bool hung() const { return hung_; }

  // Sends one record (a run of bytes on a byte channel) to the daemon; the
  // device's pending read faults apply (`sent` tells how many octets went).
  // False when it could not be sent (hung up, buffer full).
  bool send(const void* data, std::size_t len, std::size_t* sent = nullptr);
  // The records (runs, on a byte channel) sent to the daemon that it has
  // not read to their end yet.
  std::size_t unread();
  // Reads at once whatever the daemon wrote, handing it to the driver.
  void drain();
  // On a byte channel that the driver paces itself (not draining): reads at
  // most max bytes of what the daemon wrote, hands them to the driver and
  // tells how many; 0 when nothing waits (or the daemon's end is gone).
  std::size_t read_up_to(std::size_t max);
  // While off, what the daemon writes stays in the socket (its writes meet
  // EAGAIN once the buffer is full); turning it on again drains.
  void set_draining(bool on);
  bool draining() const { return draining_; }

  OpenState* state() const { return state_.get(); }
  template <class T>
  T* state_as() const {
    return static_cast<T*>(state_.get());
  }
  void set_state(std::unique_ptr<OpenState> state) { state_ = std::move(state); }

private:
  friend class Driver;
  friend class Simulator;
  Session(Simulator& sim, Driver& driver, Fd far, ino_t inode, int flags);
  // False once the daemon's end is gone.
  bool read_once();
  // What the socket charges for the records in flight; 0 once the daemon
  // has read them all.
  long charged() const;
  // Forgets the records the daemon has read, from the charge left.
  void forget_read(long charge);

  Simulator& sim_;
  Driver& driver_;
  Fd far_;
  ino_t inode_;
  int flags_;
  int socket_type_;
  int request_fd_ = -1;
  // The driver's entry of the request the open was sent last; the driver
  // forgets it when its table grows.
  const RequestEntry* last_entry_ = nullptr;
  bool hung_ = false;
  bool released_ = false;
  bool draining_ = true;
  // The driver's end is in the simulator's watch set.
  bool watched_ = false;
  // Opens that report at once are served in the order they were watched.
  std::uint64_t watch_order_ = 0;
  std::unique_ptr<OpenState> state_;
  // The socket's charge for each record sent and not known read, oldest
  // first, and their sum. The daemon reads in order, and the socket gives a
  // record's charge back once it is read to its end.
  std::deque<long> in_flight_;
  long in_flight_charge_ = 0;
};

class Driver {
public:
  // A request's result: the ioctl's result (0 or more), or -errno.
  using PointerRequest = std::function<int(Session&, void* arg)>;
  using ValueRequest = std::function<int(Session&, unsigned long value)>;
  using EachRequest = std::function<int(Session&, unsigned char* records, std::size_t size, std::size_t n)>;
  // Fills the reply; a failure goes to Reply::fail.
  using Command = std::function<void(const Args& args, Reply& reply)>;

  struct CommandSpec {
    std::string device;  // first word, e.g. "xc"
    std::string verb;    // second word, e.g. "get"; empty: none
    std::string usage;   // the arguments, e.g. "<output> <byte>"
    std::string help;
    Command run;
  };

  // The device's board name; SOCK_SEQPACKET for record devices and frame
  // channels, SOCK_STREAM for byte channels.
  Driver(std::string path, int socket_type);
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;
  virtual ~Driver();

  const std::string& path() const { return path_; }
  int socket_type() const { return socket_type_; }

  // The driver is on the board now; a driver that works with another
  // device finds it there (when it needs it: the order of adding is free).
  virtual void on_added(Simulator&) {}
  // A new open; a non-zero errno refuses it.
  virtual int on_open(Session&) { return 0; }
  // The open is gone: its last descriptor was closed or the device hung up.
  virtual void on_close(Session&) {}
  // A record (or bytes) the daemon wrote on an open.
  virtual void on_data(Session&, const std::uint8_t*, std::size_t) {}
  // Back to the default board's state. Opens stay open.
  virtual void reset() {}

  // The live opens, oldest first.
  const std::vector<Session*>& sessions() const { return sessions_; }
  // Reads what the daemon wrote on every open.
  void drain();
  // Sends a record to every open; how many took it.
  int send_all(const void* data, std::size_t len);

  const std::vector<CommandSpec>& commands() const { return commands_; }
  bool knows(Board::Request request) const { return find_request(request) != nullptr; }

protected:
  void add_request(Board::Request request, PointerRequest handler, EachRequest each = nullptr);
  void add_value_request(Board::Request request, ValueRequest handler);
  void add_command(std::string device, std::string verb, std::string usage, std::string help, Command run);

private:
  friend class Simulator;
  friend class Session;

  using RequestEntry = SimBoard::RequestEntry;
  struct Fault {
    Board::Request request;  // unused for opens
    unsigned countdown;      // fails when it reaches 0
    int error;
  };
  enum class ReadFault { Short, Zero };

  const RequestEntry* find_request(Board::Request request) const;
  void forget_entries();
  // The errno of an injected failure of this request, or 0.
  static int take_fault(std::vector<Fault>& faults, Board::Request request);

  std::string path_;
  int socket_type_;
  std::vector<RequestEntry> requests_;
  std::vector<CommandSpec> commands_;
  std::vector<Session*> sessions_;
  std::vector<Fault> open_faults_;
  std::vector<Fault> ioctl_faults_;
  std::vector<ReadFault> read_faults_;
};

// A board-wide order of log entries, for logs that merge the entries of
// several devices.
std::uint64_t NextLogOrder();

// Control command arguments. Numbers are decimal or 0x-prefixed hexadecimal.
bool ParseNumber(const std::string& text, long long min, long long max, long long& value);
// "EIO", "ENOENT", ... or a decimal errno value; 0 when unknown.
int ParseErrno(const std::string& text);
// The errno's name, "E<number>" when it has none here.
std::string ErrnoName(int error);

}  // namespace SimBoard
