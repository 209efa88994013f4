#include "foundation/os.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <ostream>

#include "foundation/sys_paths.h"

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

bool HungUp(int fd) {
  if (fd < 0) return false;
  const int saved = errno;
  pollfd p = {fd, 0, 0};
  const bool gone = ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
  errno = saved;
  return gone;
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

int write(Fd& fd, const void* buf, unsigned int len) { return static_cast<int>(::write(fd.lowlevel_fd(), buf, len)); }

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

int Signal::handle(int sig, void (*fn)(int, siginfo_t*, void*), int flags) { return handle(sig, fn, Set(), flags); }

int Signal::disable_int(int sig) { return restart_on(sig, true); }

int Signal::enable_int(int sig) { return restart_on(sig, false); }

}  // namespace IPC

namespace Net {

std::string hostname() {
  char buf[512];
  if (::gethostname(buf, sizeof buf) != 0) return std::string();
  buf[sizeof buf - 1] = '\0';
  return buf;
}

int hostname(const std::string& name) { return ::sethostname(name.data(), name.size()); }

bool ifconfig_selects(const char* name, uint32_t addr, ifconfig_mode_t mode) {
  if (mode == kIfAll) return true;
  if ((mode & kIfNotLoopback) && ::strcasecmp(name, "lo") != 0) return true;
  if ((mode & kIfLinkLocal) && (addr & 0xFFFF0000u) == 0xA9FE0000u) return true;
  if ((mode & kIfPrivate) && ((addr & 0xFFFF0000u) == 0xC0A80000u || (addr & 0xFFF00000u) == 0xAC100000u ||
                              (addr & 0xFF000000u) == 0x0A000000u))
    return true;
  return false;
}

namespace {

// Calls take(socket, request) for every selected IPv4 interface; returns
// how many it accepted, or -1.
template <class Take>
int scan_interfaces(ifconfig_mode_t mode, Take take) {
  Fd sock(::socket(AF_INET, SOCK_DGRAM, 0));
  if (!sock) return -1;
  // Room for 16 records of the host's own ifreq size.
  ifreq reqs[16];
  std::memset(reqs, 0, sizeof reqs);
  ifconf ifc;
  ifc.ifc_len = sizeof reqs;
  ifc.ifc_req = reqs;
  if (::ioctl(sock.lowlevel_fd(), SIOCGIFCONF, &ifc) == -1) return -1;
  int records = ifc.ifc_len / static_cast<int>(sizeof(ifreq));
  int count = 0;
  for (int i = 0; i < records; ++i) {
    if (reqs[i].ifr_addr.sa_family != AF_INET) continue;
    char name[IFNAMSIZ + 1] = {};
    std::memcpy(name, reqs[i].ifr_name, IFNAMSIZ);
    sockaddr_in sa;
    std::memcpy(&sa, &reqs[i].ifr_addr, sizeof sa);
    if (!ifconfig_selects(name, ntohl(sa.sin_addr.s_addr), mode)) continue;
    ifreq req;
    std::memset(&req, 0, sizeof req);
    std::memcpy(req.ifr_name, reqs[i].ifr_name, IFNAMSIZ);
    if (::ioctl(sock.lowlevel_fd(), SIOCGIFADDR, &req) == -1) continue;
    if (take(sock.lowlevel_fd(), req, name)) ++count;
  }
  return count;
}

}  // namespace

int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode) {
  return scan_interfaces(mode, [&out](int, const ifreq& req, const char*) {
    sockaddr_in sa;
    std::memcpy(&sa, &req.ifr_addr, sizeof sa);
    out.push_back(INet4::Addr(sa));
    return true;
  });
}

int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, unsigned int flags) {
  return scan_interfaces(mode, [&out, flags](int sock, ifreq& req, const char* name) {
    if (::ioctl(sock, SIOCGIFFLAGS, &req) == -1) return false;
    unsigned have = static_cast<unsigned short>(req.ifr_flags);
    if ((have & flags) != flags) return false;
    out.push_back(name);
    return true;
  });
}

}  // namespace Net

void Console::SwitchToBinaryMode() {
  termios t;
  if (::tcgetattr(STDIN_FILENO, &t) == -1) {
    std::cerr << "can't obtain terminal attributes" << std::endl;
    return;
  }
  t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOPRT);
  if (::tcsetattr(STDIN_FILENO, TCSADRAIN, &t) == -1) std::cerr << "can't set terminal attributes" << std::endl;
}

void Console::SwitchToNonBlockMode() {
  int on = 1;
  if (::ioctl(STDIN_FILENO, FIONBIO, &on) == -1) std::cerr << "can't switch terminal to blocked mode" << std::endl;
}

namespace {

// True when /proc/<pid>/stat could be read; matched tells whether its
// command name is name and its program lies under root.
bool examine(int pid, const char* name, const char* root, bool& matched) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  Fd f;
  if (!f.open(path, O_RDONLY)) return false;
  char buf[256] = {};
  int n = read(f, buf, sizeof buf - 1);
  if (n <= 0) return false;
  char* close_paren = std::strrchr(buf, ')');
  if (close_paren) *close_paren = '\0';
  char* open_paren = std::strchr(buf, '(');
  matched = open_paren && std::strcmp(open_paren + 1, name) == 0;
  if (matched && *root) {
    std::snprintf(path, sizeof path, "/proc/%d/exe", pid);
    char program[PATH_MAX];
    const ssize_t len = ::readlink(path, program, sizeof program - 1);
    const size_t root_len = std::strlen(root);
    matched = len >= 0 && size_t(len) > root_len && std::strncmp(program, root, root_len) == 0;
  }
  return true;
}

}  // namespace

int find_proc_by_name(const char* name, int pid_hint, const char* program_root) {
  int result = -1;
  bool matched = false;
  if (pid_hint > 0 && examine(pid_hint, name, program_root, matched) && matched) return pid_hint;
  DIR* dir = ::opendir("/proc");
  if (!dir) return -1;
  while (dirent* e = ::readdir(dir)) {
    long pid = std::strtol(e->d_name, nullptr, 10);
    if (pid <= 0 || pid > INT_MAX) continue;
    if (examine(static_cast<int>(pid), name, program_root, matched) && matched) {
      result = static_cast<int>(pid);
      break;
    }
  }
  ::closedir(dir);
  return result;
}

namespace Linux {

Run::Run(const char* name) : path_(SysPaths::resolve(SysPaths::kRunDir) + name + ".pid") {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    Errno e;
    std::cerr << "can't create pid file " << path_ << ": " << e << std::endl;
    return;
  }
  std::string pid = std::to_string(::getpid());
  if (::write(fd_, pid.data(), pid.size()) != static_cast<ssize_t>(pid.size())) {
    Errno e;
    std::cerr << "can't write pid file " << path_ << ": " << e << std::endl;
  }
  ::fsync(fd_);
}

Run::~Run() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(path_.c_str());
}

}  // namespace Linux
