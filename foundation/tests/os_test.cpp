#include "foundation/os.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>

namespace {

bool cloexec(int fd) { return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }
bool is_open(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

// A pipe whose ends the test owns through Fds.
struct Pipe {
  Pipe() {
    int p[2];
    EXPECT_EQ(0, ::pipe(p));
    r = Fd(p[0]);
    w = Fd(p[1]);
  }
  Fd r, w;
};

TEST(Fd, TakesOwnershipAndSetsCloseOnExec) {
  int raw = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(raw, 0);
  ASSERT_FALSE(cloexec(raw));
  {
    Fd f(raw);
    EXPECT_TRUE(f.is_valid());
    EXPECT_TRUE(f);
    EXPECT_EQ(raw, f.lowlevel_fd());
    EXPECT_TRUE(cloexec(raw));
  }
  EXPECT_FALSE(is_open(raw));
}

TEST(Fd, EmptyFdIsFalseAndCloseFailsWithEbadf) {
  Fd f;
  EXPECT_FALSE(f);
  EXPECT_FALSE(f.is_valid());
  EXPECT_EQ(-1, f.lowlevel_fd());
  EXPECT_EQ(-1, f.dup());
  errno = 0;
  EXPECT_EQ(-1, f.close());
  EXPECT_EQ(EBADF, errno);
  EXPECT_FALSE(f.NonBlock());
  Fd neg(-5);
  EXPECT_FALSE(neg);
}

TEST(Fd, CloseTwice) {
  Fd f;
  ASSERT_TRUE(f.open("/dev/null", O_RDONLY));
  int n = f.lowlevel_fd();
  EXPECT_EQ(0, f.close());
  EXPECT_FALSE(f);
  EXPECT_FALSE(is_open(n));
  errno = 0;
  EXPECT_EQ(-1, f.close());
  EXPECT_EQ(EBADF, errno);
}

TEST(Fd, CopiesAreIndependentDuplicates) {
  Pipe p;
  Fd copy(p.w);
  ASSERT_TRUE(copy);
  EXPECT_NE(p.w.lowlevel_fd(), copy.lowlevel_fd());
  EXPECT_TRUE(cloexec(copy.lowlevel_fd()));
  EXPECT_EQ(0, copy.close());
  EXPECT_EQ(1, write(p.w, "a", 1));
  Fd assigned;
  assigned = p.w;
  EXPECT_NE(p.w.lowlevel_fd(), assigned.lowlevel_fd());
  EXPECT_TRUE(cloexec(assigned.lowlevel_fd()));
  EXPECT_EQ(1, write(assigned, "b", 1));
  char buf[4] = {};
  EXPECT_EQ(2, read(p.r, buf, sizeof buf));
  EXPECT_STREQ("ab", buf);
}

TEST(Fd, AssignmentClosesThePreviousDescriptor) {
  Pipe p;
  Fd f(p.w);
  p.w.close();
  Fd other;
  ASSERT_TRUE(other.open("/dev/null", O_RDONLY));
  f = other;
  EXPECT_TRUE(f);
  // The last write end is gone, so the pipe reports end of file.
  char c;
  EXPECT_EQ(0, read(p.r, &c, 1));
}

TEST(Fd, CopyOfEmptyMakesNoSystemCall) {
  Fd empty;
  errno = EINTR;
  Fd copy(empty);
  Fd assigned;
  assigned = empty;
  EXPECT_EQ(EINTR, errno);
  EXPECT_FALSE(copy);
  EXPECT_FALSE(assigned);
}

TEST(Fd, SelfAssignmentKeepsTheDescriptor) {
  Fd f;
  ASSERT_TRUE(f.open("/dev/null", O_RDONLY));
  int n = f.lowlevel_fd();
  Fd& same = f;
  f = same;
  EXPECT_EQ(n, f.lowlevel_fd());
  EXPECT_TRUE(is_open(n));
}

TEST(Fd, MoveHandsOverTheSameDescriptor) {
  Fd a;
  ASSERT_TRUE(a.open("/dev/null", O_RDONLY));
  int n = a.lowlevel_fd();
  Fd b(std::move(a));
  EXPECT_FALSE(a);
  EXPECT_EQ(n, b.lowlevel_fd());
  Fd c;
  ASSERT_TRUE(c.open("/dev/null", O_RDONLY));
  int m = c.lowlevel_fd();
  c = std::move(b);
  EXPECT_EQ(n, c.lowlevel_fd());
  EXPECT_TRUE(is_open(n));
  EXPECT_FALSE(is_open(m));
}

TEST(Fd, FailedOpenClosesThePreviousAndStaysEmpty) {
  Fd f;
  ASSERT_TRUE(f.open("/dev/null", O_RDONLY));
  int n = f.lowlevel_fd();
  EXPECT_FALSE(f.open("/nonexistent/dir/file", O_RDONLY));
  EXPECT_EQ(ENOENT, errno);
  EXPECT_FALSE(f);
  EXPECT_EQ(-1, f.lowlevel_fd());
  EXPECT_FALSE(is_open(n));
}

TEST(Fd, OpenSetsCloseOnExec) {
  Fd f;
  ASSERT_TRUE(f.open("/dev/null", O_RDWR | O_NONBLOCK));
  EXPECT_TRUE(cloexec(f.lowlevel_fd()));
  int d = f.dup();
  ASSERT_GE(d, 0);
  EXPECT_TRUE(cloexec(d));
  ::close(d);
}

TEST(Fd, DestructionLeavesErrnoAlone) {
  {
    Fd empty;
    Fd open;
    ASSERT_TRUE(open.open("/dev/null", O_RDONLY));
    errno = ENOENT;
  }
  EXPECT_EQ(ENOENT, errno);
}

TEST(Fd, ReadWriteOnEmptyFailWithEbadf) {
  Fd f;
  char c = 0;
  errno = 0;
  EXPECT_EQ(-1, read(f, &c, 1));
  EXPECT_EQ(EBADF, errno);
  errno = 0;
  EXPECT_EQ(-1, write(f, &c, 1));
  EXPECT_EQ(EBADF, errno);
  EXPECT_EQ(-1, close(f));
}

TEST(Fd, BlockingModes) {
  Pipe p;
  EXPECT_TRUE(p.r.NonBlock());
  EXPECT_TRUE(::fcntl(p.r.lowlevel_fd(), F_GETFL) & O_NONBLOCK);
  char c;
  EXPECT_EQ(-1, read(p.r, &c, 1));
  EXPECT_EQ(EAGAIN, errno);
  EXPECT_TRUE(BlockMode(p.r.lowlevel_fd()));
  EXPECT_FALSE(::fcntl(p.r.lowlevel_fd(), F_GETFL) & O_NONBLOCK);
  EXPECT_FALSE(NonBlockMode(-1));
  EXPECT_FALSE(BlockMode(-1));
  SetCloexec(p.w.lowlevel_fd(), false);
  EXPECT_FALSE(cloexec(p.w.lowlevel_fd()));
  SetCloexec(p.w.lowlevel_fd(), true);
  EXPECT_TRUE(cloexec(p.w.lowlevel_fd()));
}

TEST(Errno, CapturesAndPrintsSystemText) {
  errno = ENOENT;
  Errno e;
  errno = 0;
  EXPECT_EQ(ENOENT, e.value());
  std::ostringstream os;
  os << "open failed: " << e;
  EXPECT_EQ(std::string("open failed: ") + std::strerror(ENOENT), os.str());
}

TEST(SignalSet, ValidSignalNumbers) {
  EXPECT_FALSE(IPC::Signal::Set::is_signal(0));
  EXPECT_FALSE(IPC::Signal::Set::is_signal(65));
  EXPECT_FALSE(IPC::Signal::Set::is_signal(-1));
  EXPECT_TRUE(IPC::Signal::Set::is_signal(SIGTERM));
  EXPECT_TRUE(IPC::Signal::Set::is_signal(1));
  EXPECT_TRUE(IPC::Signal::Set::is_signal(64));
}

TEST(SignalSet, HoldsWhatWasAdded) {
  IPC::Signal::Set s(SIGUSR1, SIGHUP, SIGTERM);
  sigset_t out;
  s.copy_to(out);
  EXPECT_EQ(1, sigismember(&out, SIGUSR1));
  EXPECT_EQ(1, sigismember(&out, SIGHUP));
  EXPECT_EQ(1, sigismember(&out, SIGTERM));
  EXPECT_EQ(0, sigismember(&out, SIGINT));
  EXPECT_EQ(-1, s.add(0));
  IPC::Signal::Set two(SIGINT, SIGPIPE);
  two.copy_to(out);
  EXPECT_EQ(1, sigismember(&out, SIGPIPE));
  EXPECT_EQ(0, sigismember(&out, SIGUSR1));
}

volatile sig_atomic_t g_plain = 0;
volatile sig_atomic_t g_info_code = 0;
void plain_handler(int sig) { g_plain = sig; }
void info_handler(int sig, siginfo_t* info, void*) { g_info_code = info ? info->si_signo : -sig; }

class SignalInstall : public ::testing::Test {
 protected:
  void TearDown() override { IPC::Signal::system(SIGUSR1); }
  static struct sigaction current() {
    struct sigaction sa;
    ::sigaction(SIGUSR1, nullptr, &sa);
    return sa;
  }
};

TEST_F(SignalInstall, PlainHandlerDropsSiginfoAndKeepsMask) {
  ASSERT_EQ(0, IPC::Signal::handle(SIGUSR1, plain_handler, IPC::Signal::Set(SIGHUP, SIGUSR2),
                                   SA_RESTART | SA_SIGINFO));
  struct sigaction sa = current();
  EXPECT_EQ(0, sa.sa_flags & SA_SIGINFO);
  EXPECT_NE(0, sa.sa_flags & SA_RESTART);
  EXPECT_EQ(1, sigismember(&sa.sa_mask, SIGHUP));
  EXPECT_EQ(1, sigismember(&sa.sa_mask, SIGUSR2));
  g_plain = 0;
  ::raise(SIGUSR1);
  EXPECT_EQ(SIGUSR1, g_plain);
}

TEST_F(SignalInstall, InfoHandlerGetsSiginfo) {
  ASSERT_EQ(0, IPC::Signal::handle(SIGUSR1, info_handler, 0));
  struct sigaction sa = current();
  EXPECT_NE(0, sa.sa_flags & SA_SIGINFO);
  EXPECT_EQ(0, sa.sa_flags & SA_RESTART);
  EXPECT_EQ(0, sigismember(&sa.sa_mask, SIGHUP));
  g_info_code = 0;
  ::raise(SIGUSR1);
  EXPECT_EQ(SIGUSR1, g_info_code);
}

TEST_F(SignalInstall, IgnoreDefaultAndRestartFlag) {
  ASSERT_EQ(0, IPC::Signal::ignore(SIGUSR1));
  EXPECT_EQ(SIG_IGN, current().sa_handler);
  ::raise(SIGUSR1);
  ASSERT_EQ(0, IPC::Signal::handle(SIGUSR1, plain_handler, 0));
  ASSERT_EQ(0, IPC::Signal::disable_int(SIGUSR1));
  EXPECT_NE(0, current().sa_flags & SA_RESTART);
  EXPECT_EQ(plain_handler, current().sa_handler);
  ASSERT_EQ(0, IPC::Signal::enable_int(SIGUSR1));
  EXPECT_EQ(0, current().sa_flags & SA_RESTART);
  ASSERT_EQ(0, IPC::Signal::system(SIGUSR1));
  EXPECT_EQ(SIG_DFL, current().sa_handler);
  EXPECT_EQ(-1, IPC::Signal::ignore(SIGKILL));
  EXPECT_EQ(-1, IPC::Signal::enable_int(0));
}

}  // namespace
