#include "foundation/os.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ostream>

Fd::Fd(int fd) : fd_(fd) {
  if (fd_ >= 0) SetCloexec(fd_, true);
}

Fd::Fd(const Fd& other) : fd_(other.dup()) {}

Fd& Fd::operator=(const Fd& other) {
  if (this != &other) {
    if (fd_ >= 0) close();
    fd_ = other.dup();
  }
  return *this;
}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) {
    int saved = errno;
    ::close(fd_);
    errno = saved;
  }
}

int Fd::dup() const {
  if (fd_ < 0) return -1;
  return ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
}

int Fd::close() {
  if (fd_ < 0) {
    errno = EBADF;
    return -1;
  }
  int rc = ::close(fd_);
  fd_ = -1;
  return rc;
}

bool Fd::open(const char* path, int flags) {
  close();
  fd_ = ::open(path, flags | O_CLOEXEC);
  return is_valid();
}

bool Fd::NonBlock() { return is_valid() && NonBlockMode(fd_); }

bool NonBlockMode(int fd) {
  int fl = ::fcntl(fd, F_GETFL);
  if (fl == -1) return false;
  return ::fcntl(fd, F_SETFL, fl | O_NONBLOCK) == 0;
}

bool BlockMode(int fd) {
  int fl = ::fcntl(fd, F_GETFL);
  if (fl == -1) return false;
  return ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) == 0;
}

void SetCloexec(int fd, bool on) {
  int fl = ::fcntl(fd, F_GETFD);
  if (fl == -1) return;
  ::fcntl(fd, F_SETFD, on ? (fl | FD_CLOEXEC) : (fl & ~FD_CLOEXEC));
}

int read(Fd& fd, void* buf, unsigned int len) { return static_cast<int>(::read(fd.lowlevel_fd(), buf, len)); }

int write(Fd& fd, const void* buf, unsigned int len) {
  return static_cast<int>(::write(fd.lowlevel_fd(), buf, len));
}

int close(Fd& fd) { return fd.close(); }

Errno::Errno() : value_(errno) {}

void Errno::Put(std::ostream& out) const { out << std::strerror(value_); }

std::ostream& operator<<(std::ostream& out, const Errno& e) {
  e.Put(out);
  return out;
}

namespace IPC {

Signal::Set::Set() { sigemptyset(&set_); }

Signal::Set::Set(int s1, int s2) : Set() {
  add(s1);
  add(s2);
}

Signal::Set::Set(int s1, int s2, int s3) : Set() {
  add(s1);
  add(s2);
  add(s3);
}

int Signal::Set::add(int sig) { return sigaddset(&set_, sig); }

bool Signal::Set::is_signal(int sig) {
  sigset_t empty;
  sigemptyset(&empty);
  return sigismember(&empty, sig) != -1;
}

namespace {

int install(int sig, struct sigaction& sa, const Signal::Set& mask, int flags) {
  mask.copy_to(sa.sa_mask);
  sa.sa_flags = flags;
  return ::sigaction(sig, &sa, nullptr);
}

int install_plain(int sig, void (*fn)(int)) {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = fn;
  return install(sig, sa, Signal::Set(), 0);
}

int restart_on(int sig, bool on) {
  struct sigaction sa;
  if (::sigaction(sig, nullptr, &sa) == -1) return -1;
  if (on)
    sa.sa_flags |= SA_RESTART;
  else
    sa.sa_flags &= ~SA_RESTART;
  return ::sigaction(sig, &sa, nullptr);
}

}  // namespace

int Signal::ignore(int sig) { return install_plain(sig, SIG_IGN); }

int Signal::system(int sig) { return install_plain(sig, SIG_DFL); }

int Signal::handle(int sig, void (*fn)(int), const Set& mask, int flags) {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = fn;
  return install(sig, sa, mask, flags & ~SA_SIGINFO);
}

int Signal::handle(int sig, void (*fn)(int), int flags) { return handle(sig, fn, Set(), flags); }

int Signal::handle(int sig, void (*fn)(int, siginfo_t*, void*), const Set& mask, int flags) {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_sigaction = fn;
  return install(sig, sa, mask, flags | SA_SIGINFO);
}

int Signal::handle(int sig, void (*fn)(int, siginfo_t*, void*), int flags) {
  return handle(sig, fn, Set(), flags);
}

int Signal::disable_int(int sig) { return restart_on(sig, true); }

int Signal::enable_int(int sig) { return restart_on(sig, false); }

}  // namespace IPC
