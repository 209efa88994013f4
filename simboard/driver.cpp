#include "simboard/driver.h"

#include <errno.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <linux/sockios.h>

#include <algorithm>
#include <cstdlib>

#include "simboard/simulator.h"

namespace SimBoard {

std::string Reply::text() const {
  std::string out;
  for (const std::string& l : lines_) out += l + "\n";
  out += failed_ ? "error " + error_ + "\n" : "ok\n";
  return out;
}

Session::Session(Simulator& sim, Driver& driver, Fd far, ino_t inode, int flags)
    : sim_(sim),
      driver_(driver),
      far_(std::move(far)),
      inode_(inode),
      flags_(flags),
      socket_type_(driver.socket_type()) {
  sim_.watch(*this);
}

Session::~Session() { sim_.unwatch(*this); }

bool Session::send(const void* data, std::size_t len, std::size_t* sent_len) {
  if (sent_len) *sent_len = 0;
  if (hung_ || released_) return false;
  std::size_t n = len;
  if (!driver_.read_faults_.empty()) {
    const Driver::ReadFault f = driver_.read_faults_.front();
    driver_.read_faults_.erase(driver_.read_faults_.begin());
    n = f == Driver::ReadFault::Short ? len / 2 : 0;
  }
  // A 0-byte send on a byte channel would deliver nothing at all.
  if (n == 0 && socket_type_ == SOCK_STREAM) return true;
  // Nothing in flight: nothing charged either.
  const long before = in_flight_.empty() ? 0 : charged();
  forget_read(before);
  const ssize_t sent = ::send(far_.lowlevel_fd(), data, n, MSG_DONTWAIT | MSG_NOSIGNAL);
  if (sent > 0 || (sent == 0 && socket_type_ != SOCK_STREAM)) {
    // Under a reader in another process (a child given the descriptor) the
    // difference may miss a charge given back meanwhile: the count is then
    // high until the channel is empty.
    const long charge = std::max(0L, charged() - before);
    in_flight_.push_back(charge);
    in_flight_charge_ += charge;
  }
  if (sent != static_cast<ssize_t>(n)) return false;
  if (sent_len) *sent_len = n;
  return true;
}

long Session::charged() const {
  int n = 0;
  if (hung_ || released_ || ::ioctl(far_.lowlevel_fd(), SIOCOUTQ, &n) != 0 || n < 0) return 0;
  return n;
}

void Session::forget_read(long charge) {
  while (!in_flight_.empty() && (charge == 0 || in_flight_charge_ > charge)) {
    in_flight_charge_ -= in_flight_.front();
    in_flight_.pop_front();
  }
}

std::size_t Session::unread() {
  forget_read(charged());
  return in_flight_.size();
}

bool Session::read_once() {
  std::vector<std::uint8_t>& buf = sim_.read_buffer();
  const ssize_t n = ::recv(far_.lowlevel_fd(), buf.data(), buf.size(), MSG_DONTWAIT);
  if (n > 0) {
    driver_.on_data(*this, buf.data(), static_cast<std::size_t>(n));
    return true;
  }
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  // 0: end of file, or an empty record on a record device.
  pollfd p = {far_.lowlevel_fd(), 0, 0};
  if (::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP)) return false;
  driver_.on_data(*this, buf.data(), 0);
  return true;
}

void Session::set_draining(bool on) {
  if (hung_ || released_ || draining_ == on) return;
  draining_ = on;
  // Still watched for the hang-up while the records wait.
  sim_.watch(*this);
  if (on) drain();
}

void Session::drain() {
  if (hung_ || released_) return;
  if (!draining_) {
    pollfd p = {far_.lowlevel_fd(), 0, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR))) sim_.release(*this);
    return;
  }
  for (;;) {
    pollfd p = {far_.lowlevel_fd(), POLLIN, 0};
    if (::poll(&p, 1, 0) != 1) return;
    if (!(p.revents & POLLIN)) {
      if (p.revents & (POLLHUP | POLLERR)) sim_.release(*this);
      return;
    }
    if (!read_once()) {
      sim_.release(*this);
      return;
    }
  }
}

std::size_t Session::read_up_to(std::size_t max) {
  if (hung_ || released_ || max == 0) return 0;
  std::vector<std::uint8_t>& buf = sim_.read_buffer();
  const ssize_t n = ::recv(far_.lowlevel_fd(), buf.data(), std::min(max, buf.size()), MSG_DONTWAIT);
  if (n > 0) {
    driver_.on_data(*this, buf.data(), static_cast<std::size_t>(n));
    return static_cast<std::size_t>(n);
  }
  if (n == 0) sim_.release(*this);
  return 0;
}

Driver::Driver(std::string path, int socket_type) : path_(std::move(path)), socket_type_(socket_type) {}

Driver::~Driver() = default;

void Driver::drain() {
  // A drained open may be released, which takes it out of the list.
  const std::vector<Session*> opens = sessions_;
  for (Session* s : opens) s->drain();
}

int Driver::send_all(const void* data, std::size_t len) {
  int n = 0;
  for (Session* s : sessions_)
    if (s->send(data, len)) ++n;
  return n;
}

void Driver::add_request(Board::Request request, PointerRequest handler, EachRequest each) {
  requests_.push_back(RequestEntry{request, false, std::move(handler), nullptr, std::move(each)});
  forget_entries();
}

void Driver::add_value_request(Board::Request request, ValueRequest handler) {
  requests_.push_back(RequestEntry{request, true, nullptr, std::move(handler), nullptr});
  forget_entries();
}

// The table may have moved.
void Driver::forget_entries() {
  for (Session* s : sessions_) s->last_entry_ = nullptr;
}

void Driver::add_command(std::string device, std::string verb, std::string usage, std::string help, Command run) {
  commands_.push_back(
      CommandSpec{std::move(device), std::move(verb), std::move(usage), std::move(help), std::move(run)});
}

const Driver::RequestEntry* Driver::find_request(Board::Request request) const {
  for (const RequestEntry& e : requests_)
    if (e.request == request) return &e;
  return nullptr;
}

int Driver::take_fault(std::vector<Fault>& faults, Board::Request request) {
  int error = 0;
  for (auto it = faults.begin(); it != faults.end();) {
    if (it->request == request && --it->countdown == 0) {
      if (error == 0) error = it->error;
      it = faults.erase(it);
    } else {
      ++it;
    }
  }
  return error;
}

std::uint64_t NextLogOrder() {
  static std::uint64_t next = 0;
  return ++next;
}

bool ParseNumber(const std::string& text, long long min, long long max, long long& value) {
  if (text.empty() || text.size() > 20) return false;
  const char* p = text.c_str();
  bool negative = false;
  if (*p == '-') {
    negative = true;
    ++p;
  }
  int base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
  }
  if (*p == '\0') return false;
  unsigned long long v = 0;
  for (; *p; ++p) {
    int d;
    if (*p >= '0' && *p <= '9')
      d = *p - '0';
    else if (base == 16 && *p >= 'a' && *p <= 'f')
      d = *p - 'a' + 10;
    else if (base == 16 && *p >= 'A' && *p <= 'F')
      d = *p - 'A' + 10;
    else
      return false;
    v = v * base + d;
    if (v > (1ull << 62)) return false;
  }
  const long long signed_value = negative ? -static_cast<long long>(v) : static_cast<long long>(v);
  if (signed_value < min || signed_value > max) return false;
  value = signed_value;
  return true;
}

namespace {

const struct {
  int value;
  const char* name;
} kErrnoNames[] = {
    {EPERM, "EPERM"},
    {ENOENT, "ENOENT"},
    {ESRCH, "ESRCH"},
    {EINTR, "EINTR"},
    {EIO, "EIO"},
    {ENXIO, "ENXIO"},
    {E2BIG, "E2BIG"},
    {EBADF, "EBADF"},
    {EAGAIN, "EAGAIN"},
    {ENOMEM, "ENOMEM"},
    {EACCES, "EACCES"},
    {EFAULT, "EFAULT"},
    {EBUSY, "EBUSY"},
    {EEXIST, "EEXIST"},
    {ENODEV, "ENODEV"},
    {ENOTDIR, "ENOTDIR"},
    {EINVAL, "EINVAL"},
    {ENFILE, "ENFILE"},
    {EMFILE, "EMFILE"},
    {ENOTTY, "ENOTTY"},
    {ENOSPC, "ENOSPC"},
    {EPIPE, "EPIPE"},
    {ERANGE, "ERANGE"},
    {ENOSYS, "ENOSYS"},
    {ENODATA, "ENODATA"},
    {ETIME, "ETIME"},
    {EPROTO, "EPROTO"},
    {EOVERFLOW, "EOVERFLOW"},
    {EMSGSIZE, "EMSGSIZE"},
    {EOPNOTSUPP, "EOPNOTSUPP"},
    {ENOBUFS, "ENOBUFS"},
    {ECONNRESET, "ECONNRESET"},
    {ETIMEDOUT, "ETIMEDOUT"},
    {EHOSTDOWN, "EHOSTDOWN"},
    {ECANCELED, "ECANCELED"},
};

}  // namespace

int ParseErrno(const std::string& text) {
  for (const auto& e : kErrnoNames)
    if (text == e.name) return e.value;
  long long v = 0;
  if (ParseNumber(text, 1, 4095, v)) return static_cast<int>(v);
  return 0;
}

std::string ErrnoName(int error) {
  for (const auto& e : kErrnoNames)
    if (e.value == error) return e.name;
  return "E" + std::to_string(error);
}

}  // namespace SimBoard
