#include "simboard/simulator.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <sstream>

#include "board/request_text.h"
#include "simboard/netif.h"

namespace SimBoard {

namespace {

// Large enough for any record a device takes in one write.
const std::size_t kReadBuffer = 65536;

Args Split(const std::string& line) {
  Args words;
  std::istringstream in(line);
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

}  // namespace

Simulator::Simulator() : read_buffer_(kReadBuffer), watch_set_(::epoll_create1(EPOLL_CLOEXEC)) {
  reaper_.Bind(this, &Simulator::reap);
  watch_event_.Bind("simboard opens", &Simulator::on_watch, this);
  watch_event_.Schedule(watch_set_, POLLIN);
  add_builtin_commands();
}

Simulator::~Simulator() {
  for (auto& entry : sessions_) {
    Session& s = *entry.second;
    unwatch(s);
    s.far_.close();
  }
  sessions_.clear();
  graveyard_.clear();
}

Simulator& Simulator::instance() {
  static Simulator* sim = [] {
    static Simulator board;
    BuildDefaultBoard(board);
    return &board;
  }();
  return *sim;
}

bool Simulator::add(std::unique_ptr<Driver> driver) {
  if (!driver || find(driver->path())) return false;
  drivers_.push_back(std::move(driver));
  drivers_.back()->on_added(*this);
  return true;
}

Driver* Simulator::find(const std::string& path) const {
  for (const auto& d : drivers_)
    if (d->path() == path) return d.get();
  return nullptr;
}

Fd Simulator::open(const char* path, int flags) {
  collect_closed();
  Driver* driver = path ? find(path) : nullptr;
  if (!driver) {
    std::cerr << "simboard: open " << (path ? path : "(null)") << ": no such simulated device" << std::endl;
    errno = ENOENT;
    return Fd();
  }
  if (const int error = Driver::take_fault(driver->open_faults_, 0)) {
    errno = error;
    return Fd();
  }
  int fds[2];
  if (::socketpair(AF_UNIX, driver->socket_type() | SOCK_CLOEXEC, 0, fds) != 0) return Fd();
  Fd near(fds[0]);
  Fd far(fds[1]);
  struct stat st;
  if (::fstat(near.lowlevel_fd(), &st) != 0) return Fd();
  if ((flags & O_NONBLOCK) && !near.NonBlock()) return Fd();
  far.NonBlock();
  // An inode still listed belongs to an open that is gone already.
  auto stale = sessions_.find(st.st_ino);
  if (stale != sessions_.end()) {
    if (!stale->second->hung_) release(*stale->second);
    stale = sessions_.find(st.st_ino);
    if (stale != sessions_.end()) {
      // Deleted outside the callbacks, as a released open is.
      graveyard_.push_back(std::move(stale->second));
      sessions_.erase(stale);
      reaper_.Activate();
    }
  }
  std::unique_ptr<Session> s(new Session(*this, *driver, std::move(far), st.st_ino, flags));
  if (const int error = driver->on_open(*s)) {
    unwatch(*s);
    errno = error;
    return Fd();
  }
  driver->sessions_.push_back(s.get());
  sessions_[st.st_ino] = std::move(s);
  return near;
}

int Simulator::netif(int, unsigned long request, void* ifreq) {
  NetIf* table = device<NetIf>(NetIf::kName);
  if (!table) {
    errno = ENODEV;
    return -1;
  }
  return table->request(request, ifreq);
}

Simulator::Found Simulator::lookup(int fd, Board::Request request) {
  Found found;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    found.error = errno;
    return found;
  }
  auto it = S_ISSOCK(st.st_mode) ? sessions_.find(st.st_ino) : sessions_.end();
  if (it == sessions_.end()) {
    std::cerr << "simboard: request " << Board::describe(request) << " on descriptor " << fd
              << " of no simulated device: ENOTTY" << std::endl;
    found.error = ENOTTY;
    return found;
  }
  // After a hang-up the driver takes nothing more from this open.
  if (it->second->hung_) {
    found.error = EIO;
    return found;
  }
  found.session = it->second.get();
  return found;
}

const Driver::RequestEntry* Simulator::request_entry(Session& s, Board::Request request, bool by_value) {
  const Driver::RequestEntry* e = s.driver_.find_request(request);
  if (!e) {
    std::cerr << "simboard: " << s.driver_.path() << ": unknown request " << Board::describe(request) << ": ENOTTY"
              << std::endl;
    return nullptr;
  }
  if (e->by_value != by_value) {
    std::cerr << "simboard: " << s.driver_.path() << ": request " << Board::describe(request) << " takes "
              << (e->by_value ? "a value" : "a pointer") << ", called with " << (by_value ? "a value" : "a pointer")
              << ": ENOTTY" << std::endl;
    return nullptr;
  }
  return e;
}

// Most requests repeat the open's previous one.
const Driver::RequestEntry* Simulator::entry(Session& s, Board::Request request, bool by_value) {
  const Driver::RequestEntry* e = s.last_entry_;
  if (e != nullptr && e->request == request && e->by_value == by_value) return e;
  e = request_entry(s, request, by_value);
  if (e) s.last_entry_ = e;
  return e;
}

int Simulator::ioctl(int fd, Board::Request request, void* arg) { return dispatch(fd, request, false, arg, 0); }

int Simulator::ioctl_value(int fd, Board::Request request, unsigned long value) {
  return dispatch(fd, request, true, nullptr, value);
}

// The cross-connect refresh sends a few hundred requests a pass on one
// descriptor; an fstat for each would be most of the daemon's time. The
// descriptor stays the caller's for the whole call, so its open is looked up
// once. A driver that takes the records at once gets them when nothing could
// come between two of them (no fault waits, the open is live); otherwise
// what a driver does inside a request is checked after each one, as the next
// ioctl would.
void Simulator::ioctl_each(int fd, Board::Request request, void* records, std::size_t size, std::size_t n) {
  if (n == 0) return;
  const Found found = lookup(fd, request);
  if (found.session && records && !found.session->released_ && !found.session->hung_ &&
      found.session->driver_.ioctl_faults_.empty()) {
    Session& s = *found.session;
    const Driver::RequestEntry* e = entry(s, request, false);
    if (!e) {
      errno = ENOTTY;
      return;
    }
    if (e->each) {
      s.request_fd_ = fd;
      const int rc = e->each(s, static_cast<unsigned char*>(records), size, n);
      s.request_fd_ = -1;
      if (rc < 0) errno = -rc;
      return;
    }
  }
  unsigned char* at = static_cast<unsigned char*>(records);
  for (std::size_t i = 0; i < n; ++i, at += size) {
    if (!found.session) {
      // Every further call would fail the same way; one log line is enough.
      errno = found.error;
      return;
    }
    Session& s = *found.session;
    if (s.released_) {
      // Gone from the inode table: the next call finds what fstat finds.
      dispatch(fd, request, false, at, 0);
    } else if (s.hung_) {
      errno = EIO;
    } else {
      on_session(s, fd, request, false, at, 0);
    }
  }
}

int Simulator::dispatch(int fd, Board::Request request, bool by_value, void* arg, unsigned long value) {
  const Found found = lookup(fd, request);
  if (!found.session) {
    errno = found.error;
    return -1;
  }
  return on_session(*found.session, fd, request, by_value, arg, value);
}

int Simulator::on_session(Session& s, int fd, Board::Request request, bool by_value, void* arg, unsigned long value) {
  const Driver::RequestEntry* e = entry(s, request, by_value);
  if (!e) {
    errno = ENOTTY;
    return -1;
  }
  if (!s.driver_.ioctl_faults_.empty()) {
    if (const int error = Driver::take_fault(s.driver_.ioctl_faults_, request)) {
      errno = error;
      return -1;
    }
  }
  if (!by_value && !arg && Board::Ppc::size(request) != 0) {
    errno = EFAULT;
    return -1;
  }
  s.request_fd_ = fd;
  const int rc = by_value ? e->value(s, value) : e->pointer(s, arg);
  s.request_fd_ = -1;
  if (rc < 0) {
    errno = -rc;
    return -1;
  }
  return rc;
}

Session* Simulator::session_of(int fd) const {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) return nullptr;
  auto it = sessions_.find(st.st_ino);
  return it == sessions_.end() ? nullptr : it->second.get();
}

void Simulator::release(Session& s) {
  if (s.released_) return;
  s.released_ = true;
  Driver& d = s.driver_;
  d.sessions_.erase(std::remove(d.sessions_.begin(), d.sessions_.end(), &s), d.sessions_.end());
  if (!s.hung_) d.on_close(s);
  unwatch(s);
  s.far_.close();
  auto it = sessions_.find(s.inode_);
  if (it != sessions_.end() && it->second.get() == &s) {
    graveyard_.push_back(std::move(it->second));
    sessions_.erase(it);
    reaper_.Activate();
  }
}

void Simulator::watch(Session& s) {
  if (!s.far_.is_valid()) return;
  epoll_event e = {};
  e.events = s.draining_ ? uint32_t(EPOLLIN) : 0u;
  e.data.ptr = &s;
  if (!s.watched_) s.watch_order_ = ++watch_count_;
  const int op = s.watched_ ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
  if (::epoll_ctl(watch_set_.lowlevel_fd(), op, s.far_.lowlevel_fd(), &e) == 0) s.watched_ = true;
}

void Simulator::unwatch(Session& s) {
  if (!s.watched_) return;
  s.watched_ = false;
  epoll_event e = {};
  ::epoll_ctl(watch_set_.lowlevel_fd(), EPOLL_CTL_DEL, s.far_.lowlevel_fd(), &e);
}

void Simulator::take_reported(std::uint32_t events) {
  ready_.clear();
  if (sessions_.empty()) return;
  reported_.resize(sessions_.size());
  const int n = ::epoll_wait(watch_set_.lowlevel_fd(), reported_.data(), static_cast<int>(reported_.size()), 0);
  for (int i = 0; i < n; ++i) {
    Session* s = static_cast<Session*>(reported_[static_cast<std::size_t>(i)].data.ptr);
    if ((reported_[static_cast<std::size_t>(i)].events & events) && !s->hung_ && !s->released_) ready_.push_back(s);
  }
  std::sort(ready_.begin(), ready_.end(),
            [](const Session* a, const Session* b) { return a->watch_order_ < b->watch_order_; });
}

void Simulator::on_watch(int, short revents) {
  if (!(revents & POLLIN)) return;
  take_reported(EPOLLIN | EPOLLHUP | EPOLLERR);
  // An open released meanwhile stays in the graveyard until the loop's Dpc
  // run; it is out of the set by then, and its drain does nothing.
  const std::vector<Session*> ready = ready_;
  for (Session* s : ready) s->drain();
}

void Simulator::reap() {
  reaper_.Deactivate();
  graveyard_.clear();
}

void Simulator::collect_closed() {
  // The watch set knows which ends hung up: no walk of every open.
  take_reported(EPOLLHUP | EPOLLERR);
  const std::vector<Session*> gone = ready_;
  // Draining hands the last records over before the open goes.
  for (Session* s : gone) s->drain();
}

void Simulator::hangup(Driver& driver) {
  const std::vector<Session*> opens = driver.sessions_;
  for (Session* s : opens) hangup(*s);
}

void Simulator::hangup(Session& session) {
  Session* s = &session;
  Driver& driver = s->driver_;
  s->drain();
  if (s->released_ || s->hung_) return;
  driver.sessions_.erase(std::remove(driver.sessions_.begin(), driver.sessions_.end(), s), driver.sessions_.end());
  driver.on_close(*s);
  s->hung_ = true;
  unwatch(*s);
  s->far_.close();
}

bool Simulator::to_stream(Session& s) {
  if (s.request_fd_ < 0 || s.hung_ || s.released_) return false;
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
  Fd near(fds[0]);
  Fd far(fds[1]);
  struct stat st;
  if (::fstat(near.lowlevel_fd(), &st) != 0) return false;
  if ((s.flags_ & O_NONBLOCK) && !near.NonBlock()) return false;
  far.NonBlock();
  if (::dup3(near.lowlevel_fd(), s.request_fd_, O_CLOEXEC) < 0) return false;
  auto it = sessions_.find(s.inode_);
  if (it == sessions_.end() || it->second.get() != &s) return false;
  std::unique_ptr<Session> owned = std::move(it->second);
  sessions_.erase(it);
  unwatch(s);
  s.far_ = std::move(far);
  s.inode_ = st.st_ino;
  s.socket_type_ = SOCK_STREAM;
  watch(s);
  sessions_[st.st_ino] = std::move(owned);
  return true;
}

void Simulator::reset() {
  collect_closed();
  for (auto& d : drivers_) {
    d->open_faults_.clear();
    d->ioctl_faults_.clear();
    d->read_faults_.clear();
    d->reset();
  }
}

Reply Simulator::execute(const std::string& line) {
  Reply reply;
  const Args words = Split(line);
  if (words.empty()) return reply;
  collect_closed();
  auto matches = [&](const Driver::CommandSpec& c) {
    return c.device == words[0] && (c.verb.empty() || (words.size() > 1 && c.verb == words[1]));
  };
  const Driver::CommandSpec* spec = nullptr;
  for (const auto& c : builtins_)
    if (!spec && matches(c)) spec = &c;
  for (const auto& d : drivers_)
    for (const auto& c : d->commands())
      if (!spec && matches(c)) spec = &c;
  if (!spec) {
    reply.fail("unknown command \"" + line + "\"; \"help\" lists the commands");
    return reply;
  }
  const Args args(words.begin() + (spec->verb.empty() ? 1 : 2), words.end());
  spec->run(args, reply);
  return reply;
}

void Simulator::help(Reply& reply) const {
  auto put = [&](const Driver::CommandSpec& c) {
    std::string head = c.device;
    if (!c.verb.empty()) head += " " + c.verb;
    if (!c.usage.empty()) head += " " + c.usage;
    reply.line(head + " - " + c.help);
  };
  for (const auto& c : builtins_) put(c);
  for (const auto& d : drivers_)
    for (const auto& c : d->commands()) put(c);
}

void Simulator::add_builtin_commands() {
  auto device_of = [this](const std::string& path, Reply& reply) -> Driver* {
    Driver* d = find(path);
    if (!d) reply.fail("no simulated device " + path);
    return d;
  };
  auto errno_of = [](const std::string& text, Reply& reply) {
    const int e = ParseErrno(text);
    if (!e) reply.fail("unknown errno " + text);
    return e;
  };
  // The n-th from now, 1 when not given.
  auto nth_of = [](const Args& args, std::size_t at, Reply& reply) -> unsigned {
    if (args.size() <= at) return 1;
    long long n = 0;
    if (!ParseNumber(args[at], 1, 1000000000, n)) {
      reply.fail("bad count " + args[at]);
      return 0;
    }
    return static_cast<unsigned>(n);
  };

  builtins_.push_back({"help", "", "", "lists every command", [this](const Args&, Reply& r) { help(r); }});
  builtins_.push_back({"board", "reset", "", "every device back to the default board, pending faults dropped",
                       [this](const Args& a, Reply& r) {
                         if (!a.empty()) return r.fail("usage: board reset");
                         reset();
                       }});
  builtins_.push_back(
      {"board", "devices", "", "the simulated devices and their opens", [this](const Args& a, Reply& r) {
         if (!a.empty()) return r.fail("usage: board devices");
         for (const auto& d : drivers_) r.line(d->path() + " opens=" + std::to_string(d->sessions().size()));
       }});
  builtins_.push_back(
      {"fail", "open", "<dev> <errno> [n]", "the n-th open of the device from now fails", [=](const Args& a, Reply& r) {
         if (a.size() < 2 || a.size() > 3) return r.fail("usage: fail open <dev> <errno> [n]");
         Driver* d = device_of(a[0], r);
         const int e = d ? errno_of(a[1], r) : 0;
         const unsigned n = e ? nth_of(a, 2, r) : 0;
         if (n) d->open_faults_.push_back(Driver::Fault{0, n, e});
       }});
  builtins_.push_back({"fail", "ioctl", "<dev> <request> <errno> [n]",
                       "the n-th such request on the device from now fails", [=](const Args& a, Reply& r) {
                         if (a.size() < 3 || a.size() > 4)
                           return r.fail("usage: fail ioctl <dev> <request> <errno> [n]");
                         Driver* d = device_of(a[0], r);
                         if (!d) return;
                         long long request = 0;
                         if (!ParseNumber(a[1], 0, 0xFFFFFFFFll, request)) return r.fail("bad request " + a[1]);
                         if (!d->knows(static_cast<Board::Request>(request)))
                           return r.fail(d->path() + " knows no request " +
                                         Board::describe(static_cast<Board::Request>(request)));
                         const int e = errno_of(a[2], r);
                         const unsigned n = e ? nth_of(a, 3, r) : 0;
                         if (n) d->ioctl_faults_.push_back(Driver::Fault{static_cast<Board::Request>(request), n, e});
                       }});
  builtins_.push_back(
      {"fail", "read", "<dev> short|zero",
       "the device's next record to the daemon arrives cut to half, or as a 0-byte read", [=](const Args& a, Reply& r) {
         if (a.size() != 2 || (a[1] != "short" && a[1] != "zero")) return r.fail("usage: fail read <dev> short|zero");
         Driver* d = device_of(a[0], r);
         if (!d) return;
         if (a[1] == "zero" && d->socket_type() == SOCK_STREAM)
           return r.fail(d->path() + " is a byte channel: a 0-byte read would be its end");
         d->read_faults_.push_back(a[1] == "short" ? Driver::ReadFault::Short : Driver::ReadFault::Zero);
       }});
  builtins_.push_back({"fail", "clear", "", "drops every pending fault", [this](const Args& a, Reply& r) {
                         if (!a.empty()) return r.fail("usage: fail clear");
                         for (auto& d : drivers_) {
                           d->open_faults_.clear();
                           d->ioctl_faults_.clear();
                           d->read_faults_.clear();
                         }
                       }});
  builtins_.push_back({"hangup", "", "<dev>", "the device hangs up every open: POLLHUP, end of file, EIO",
                       [=](const Args& a, Reply& r) {
                         if (a.size() != 1) return r.fail("usage: hangup <dev>");
                         if (Driver* d = device_of(a[0], r)) hangup(*d);
                       }});
}

}  // namespace SimBoard
