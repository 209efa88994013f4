#pragma once
// Thin wrappers over the POSIX and Linux interfaces. They report failure by
// their result and errno and print nothing, except where noted.
#include <signal.h>

#include <cstdint>
#include <iosfwd>
#include <list>
#include <string>

#include "foundation/inet4.h"

// Owns one file descriptor (-1 when empty). Copies hold duplicates, every
// descriptor held has close-on-exec set, and destruction closes it.
class Fd {
public:
  struct BoolResult {
    int unused;
  };

  Fd() = default;
  // Takes ownership of fd.
  explicit Fd(int fd);
  Fd(const Fd& other);
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(const Fd& other);
  Fd& operator=(Fd&& other) noexcept;
  // Leaves errno alone, so a failure can still be reported after the
  // descriptors of the failing scope are gone.
  ~Fd();

  // A new descriptor with close-on-exec, or -1 (errno from the system).
  int dup() const;
  int lowlevel_fd() const { return fd_; }
  bool is_valid() const { return fd_ >= 0; }
  operator BoolResult*() const { return is_valid() ? &truth_ : nullptr; }

  // -1 with EBADF when empty; otherwise close(2)'s result, and empty afterwards.
  int close();
  // Gives up the descriptor without closing it; -1 when empty.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the present descriptor first; flags never include O_CREAT.
  bool open(const char* path, int flags);
  bool NonBlock();

private:
  inline static BoolResult truth_{};
  int fd_ = -1;
};

bool NonBlockMode(int fd);
bool BlockMode(int fd);
// A device held open can go away under its holder: the driver hangs the
// descriptor up (poll says POLLHUP, reads end, every request fails). A
// request's failure alone does not tell that apart from a refusal of that one
// request; the descriptor's poll result does. True when the device has hung
// up or reports an error, or the descriptor is not open: only a new open
// helps then. A driver whose poll never says so is never taken for gone.
// errno is left as it was.
bool HungUp(int fd);
void SetCloexec(int fd, bool on);
int read(Fd& fd, void* buf, unsigned int len);
int write(Fd& fd, const void* buf, unsigned int len);
int close(Fd& fd);

// errno as it was when built; printed as the system's text.
class Errno {
public:
  Errno();
  int value() const { return value_; }
  void Put(std::ostream& out) const;

private:
  int value_;
};

std::ostream& operator<<(std::ostream& out, const Errno& e);

namespace IPC {

// sigaction wrappers; each returns the system call's result.
class Signal {
public:
  class Set {
  public:
    Set();
    Set(int s1, int s2);
    Set(int s1, int s2, int s3);
    int add(int sig);
    void copy_to(sigset_t& out) const { out = set_; }
    static bool is_signal(int sig);

  private:
    sigset_t set_;
  };

  static int ignore(int sig);
  static int system(int sig);
  static int handle(int sig, void (*fn)(int), const Set& mask, int flags);
  static int handle(int sig, void (*fn)(int), int flags);
  static int handle(int sig, void (*fn)(int, siginfo_t*, void*), const Set& mask, int flags);
  static int handle(int sig, void (*fn)(int, siginfo_t*, void*), int flags);
  // System calls interrupted by sig restart.
  static int disable_int(int sig);
  // System calls interrupted by sig fail with EINTR.
  static int enable_int(int sig);
};

}  // namespace IPC

namespace Net {

// Interface selection bits; 0 selects every IPv4 interface, otherwise an
// interface is selected when it meets any selected criterion.
typedef unsigned ifconfig_mode_t;
enum : ifconfig_mode_t {
  kIfAll = 0,
  kIfNotLoopback = 1,  // name is not "lo"
  kIfLinkLocal = 2,    // 169.254.0.0/16
  kIfPrivate = 4,      // 10/8, 172.16/12, 192.168/16
};

// Empty when the name cannot be had.
std::string hostname();
int hostname(const std::string& name);

// Append the selected interfaces' addresses (port 0) or names; the result is
// how many were appended, or -1 when the interface list cannot be had.
int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode);
// Only interfaces whose IFF_ flags include all of flags.
int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, unsigned int flags);

// The selection rule; addr in host byte order.
bool ifconfig_selects(const char* name, uint32_t addr, ifconfig_mode_t mode);

}  // namespace Net

// Both act on standard input and report failures on std::cerr.
class Console {
public:
  static void SwitchToBinaryMode();
  static void SwitchToNonBlockMode();
};

// Pid of a process whose command name is name, or -1. A matching pid_hint
// is taken without scanning /proc. With a program root ("/a/b/"), only a
// process whose program's path begins with it counts.
int find_proc_by_name(const char* name, int pid_hint, const char* program_root = "");

namespace Linux {

// The pid file "<run dir><name>.pid" for the life of the object. Its
// descriptor is not inherited by child processes.
class Run {
public:
  explicit Run(const char* name);
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  bool created() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace Linux
