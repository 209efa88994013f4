#pragma once
// Thin wrappers over the POSIX and Linux interfaces. They report failure by
// their result and errno and print nothing, except where noted.
#include <signal.h>

#include <iosfwd>

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
  // Closes the present descriptor first; flags never include O_CREAT.
  bool open(const char* path, int flags);
  bool NonBlock();

 private:
  inline static BoolResult truth_{};
  int fd_ = -1;
};

bool NonBlockMode(int fd);
bool BlockMode(int fd);
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
