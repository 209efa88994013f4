#include "foundation/os.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>
#include <sstream>
#include <string>

#include "foundation/sys_paths.h"

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

TEST(Fd, EveryHeldDescriptorHasCloseOnExec) {
  int raw = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(raw, 0);
  ASSERT_FALSE(cloexec(raw));
  {
    Fd f(raw);
    EXPECT_TRUE(f);
    EXPECT_EQ(raw, f.lowlevel_fd());
    EXPECT_TRUE(cloexec(raw));
    Fd copy(f);
    EXPECT_TRUE(cloexec(copy.lowlevel_fd()));
    Fd opened;
    ASSERT_TRUE(opened.open("/dev/null", O_RDWR | O_NONBLOCK));
    EXPECT_TRUE(cloexec(opened.lowlevel_fd()));
  }
  EXPECT_FALSE(is_open(raw));
}

TEST(Fd, EmptyFdFailsWithEbadf) {
  Fd f;
  ASSERT_TRUE(f.open("/dev/null", O_RDONLY));
  int n = f.lowlevel_fd();
  EXPECT_EQ(0, f.close());
  EXPECT_FALSE(is_open(n));
  EXPECT_FALSE(f);
  EXPECT_EQ(-1, f.lowlevel_fd());
  EXPECT_EQ(-1, f.dup());
  EXPECT_FALSE(f.NonBlock());
  char c = 0;
  for (int rc : {f.close(), close(f), read(f, &c, 1), write(f, &c, 1)}) EXPECT_EQ(-1, rc);
  errno = 0;
  f.close();
  EXPECT_EQ(EBADF, errno);
  errno = 0;
  read(f, &c, 1);
  EXPECT_EQ(EBADF, errno);
  EXPECT_FALSE(Fd(-5));
}

TEST(Fd, CopiesAreIndependentDuplicates) {
  Pipe p;
  Fd copy(p.w);
  EXPECT_NE(p.w.lowlevel_fd(), copy.lowlevel_fd());
  EXPECT_EQ(0, copy.close());
  EXPECT_EQ(1, write(p.w, "a", 1));
  Fd assigned;
  assigned = p.w;
  EXPECT_NE(p.w.lowlevel_fd(), assigned.lowlevel_fd());
  EXPECT_EQ(1, write(assigned, "b", 1));
  char buf[4] = {};
  EXPECT_EQ(2, read(p.r, buf, sizeof buf));
  EXPECT_STREQ("ab", buf);
  // Assignment closes what was held: the last write end goes, the pipe ends.
  p.w.close();
  assigned = p.r;
  EXPECT_EQ(0, read(p.r, buf, 1));
}

TEST(Fd, EmptyCopiesAndSelfAssignment) {
  Fd empty;
  errno = EINTR;
  Fd copy(empty);
  Fd assigned;
  assigned = empty;
  EXPECT_EQ(EINTR, errno);
  EXPECT_FALSE(copy);
  EXPECT_FALSE(assigned);
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
  EXPECT_FALSE(is_open(m));
}

TEST(Fd, FailedOpenClosesThePreviousAndStaysEmpty) {
  Fd f;
  ASSERT_TRUE(f.open("/dev/null", O_RDONLY));
  int n = f.lowlevel_fd();
  EXPECT_FALSE(f.open("/nonexistent/dir/file", O_RDONLY));
  EXPECT_EQ(ENOENT, errno);
  EXPECT_EQ(-1, f.lowlevel_fd());
  EXPECT_FALSE(is_open(n));
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

TEST(Fd, BlockingModes) {
  Pipe p;
  EXPECT_TRUE(p.r.NonBlock());
  char c;
  EXPECT_EQ(-1, read(p.r, &c, 1));
  EXPECT_EQ(EAGAIN, errno);
  EXPECT_TRUE(BlockMode(p.r.lowlevel_fd()));
  EXPECT_FALSE(::fcntl(p.r.lowlevel_fd(), F_GETFL) & O_NONBLOCK);
  EXPECT_FALSE(NonBlockMode(-1));
  EXPECT_FALSE(BlockMode(-1));
  SetCloexec(p.w.lowlevel_fd(), false);
  EXPECT_FALSE(cloexec(p.w.lowlevel_fd()));
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
  ASSERT_EQ(0, IPC::Signal::handle(SIGUSR1, plain_handler, IPC::Signal::Set(SIGHUP, SIGUSR2), SA_RESTART | SA_SIGINFO));
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

namespace {

// Collects what a test writes to std::cerr.
class CerrCapture {
public:
  CerrCapture() : old_(std::cerr.rdbuf(buf_.rdbuf())) {}
  ~CerrCapture() { std::cerr.rdbuf(old_); }
  std::string text() const { return buf_.str(); }

private:
  std::ostringstream buf_;
  std::streambuf* old_;
};

// Puts a descriptor on standard input for the life of the object.
class StdinSwap {
public:
  explicit StdinSwap(int fd) : saved_(::dup(STDIN_FILENO)) {
    if (fd >= 0)
      ::dup2(fd, STDIN_FILENO);
    else
      ::close(STDIN_FILENO);
  }
  ~StdinSwap() {
    ::dup2(saved_, STDIN_FILENO);
    ::close(saved_);
  }

private:
  int saved_;
};

TEST(NetIfconfig, SelectionRule) {
  struct Case {
    const char* name;
    const char* addr;
    Net::ifconfig_mode_t mode;
    bool selected;
  };
  const Case cases[] = {
      {"lo", "127.0.0.1", 0, true},        {"lo", "127.0.0.1", 1, false},     {"LO", "127.0.0.1", 1, false},
      {"lo0", "127.0.0.1", 1, true},       {"eth0", "8.8.8.8", 1, true},      {"lo", "127.0.0.1", 4, false},
      {"eth0", "192.168.1.5", 4, true},    {"eth1", "10.1.2.3", 4, true},     {"eth1", "172.16.0.1", 4, true},
      {"eth1", "172.31.255.255", 4, true}, {"eth1", "172.32.0.1", 4, false},  {"eth1", "172.15.255.255", 4, false},
      {"eth1", "192.169.0.1", 4, false},   {"eth1", "11.0.0.1", 4, false},    {"eth1", "169.254.3.4", 4, false},
      {"eth1", "169.254.3.4", 2, true},    {"eth1", "169.255.3.4", 2, false}, {"lo", "169.254.3.4", 6, true},
      {"lo", "10.0.0.1", 2, false},        {"eth0", "8.8.8.8", 6, false},
  };
  for (const Case& c : cases) {
    in_addr a;
    ASSERT_EQ(1, ::inet_aton(c.addr, &a));
    EXPECT_EQ(c.selected, Net::ifconfig_selects(c.name, ntohl(a.s_addr), c.mode))
        << c.name << " " << c.addr << " mode " << c.mode;
  }
}

bool has_addr(const std::list<INet4::Addr>& l, const char* text) {
  for (const INet4::Addr& a : l)
    if (a.GetString() == text) return true;
  return false;
}

bool has_name(const std::list<std::string>& l, const char* name) {
  for (const std::string& n : l)
    if (n == name) return true;
  return false;
}

TEST(NetIfconfig, HostInterfacesAreAppended) {
  std::list<INet4::Addr> all;
  all.push_back(INet4::Addr(std::string("1.1.1.1:7")));
  int n = Net::ifconfig(all, Net::kIfAll);
  ASSERT_GE(n, 1);
  EXPECT_EQ(static_cast<size_t>(n) + 1, all.size());
  EXPECT_EQ("1.1.1.1:7", all.front().GetString());
  EXPECT_TRUE(has_addr(all, "127.0.0.1:0"));

  std::list<INet4::Addr> not_lo;
  EXPECT_EQ(n - 1, Net::ifconfig(not_lo, Net::kIfNotLoopback));
  EXPECT_FALSE(has_addr(not_lo, "127.0.0.1:0"));

  std::list<std::string> names;
  EXPECT_GE(Net::ifconfig(names, Net::kIfAll, IFF_UP | IFF_LOOPBACK), 1);
  EXPECT_TRUE(has_name(names, "lo"));
  names.clear();
  EXPECT_EQ(0, Net::ifconfig(names, Net::kIfNotLoopback, IFF_LOOPBACK));
  EXPECT_TRUE(names.empty());
}

TEST(NetHostname, MatchesTheSystem) {
  char buf[512] = {};
  ASSERT_EQ(0, ::gethostname(buf, sizeof buf - 1));
  EXPECT_EQ(buf, Net::hostname());
}

TEST(Console, BinaryModeStopsWhenStdinIsNoTerminal) {
  int p[2];
  ASSERT_EQ(0, ::pipe(p));
  {
    StdinSwap swap(p[0]);
    CerrCapture err;
    Console::SwitchToBinaryMode();
    EXPECT_EQ("can't obtain terminal attributes\n", err.text());
  }
  ::close(p[0]);
  ::close(p[1]);
}

TEST(Console, BinaryModeClearsEchoAndCanonicalOnly) {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) GTEST_SKIP() << "no pseudo terminal";
  int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  termios before;
  ASSERT_EQ(0, ::tcgetattr(slave, &before));
  before.c_lflag |= ISIG | ECHOKE | ICANON | ECHO;
  ASSERT_EQ(0, ::tcsetattr(slave, TCSANOW, &before));
  {
    StdinSwap swap(slave);
    CerrCapture err;
    Console::SwitchToBinaryMode();
    EXPECT_EQ("", err.text());
  }
  termios after;
  ASSERT_EQ(0, ::tcgetattr(slave, &after));
  EXPECT_EQ(0u, after.c_lflag & (ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOPRT));
  EXPECT_EQ(before.c_lflag & ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOPRT),
            after.c_lflag);
  EXPECT_NE(0u, after.c_lflag & ISIG);
  ::close(slave);
  ::close(master);
}

TEST(Console, NonBlockMode) {
  int p[2];
  ASSERT_EQ(0, ::pipe(p));
  {
    StdinSwap swap(p[0]);
    CerrCapture err;
    Console::SwitchToNonBlockMode();
    EXPECT_EQ("", err.text());
    EXPECT_NE(0, ::fcntl(STDIN_FILENO, F_GETFL) & O_NONBLOCK);
  }
  {
    StdinSwap closed(-1);
    CerrCapture err;
    Console::SwitchToNonBlockMode();
    EXPECT_EQ("can't switch terminal to blocked mode\n", err.text());
  }
  ::close(p[0]);
  ::close(p[1]);
}

std::string comm_of(int pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/comm", pid);
  Fd f;
  if (!f.open(path, O_RDONLY)) return std::string();
  char buf[64] = {};
  int n = read(f, buf, sizeof buf - 1);
  std::string s(buf, n > 0 ? n : 0);
  if (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

TEST(FindProc, HintScanAndMiss) {
  std::string me = comm_of(::getpid());
  ASSERT_FALSE(me.empty());
  EXPECT_EQ(::getpid(), find_proc_by_name(me.c_str(), ::getpid()));
  // Other instances of this test binary may run beside us: any match will do.
  for (int hint : {0, -3, 999999999}) {
    int found = find_proc_by_name(me.c_str(), hint);
    ASSERT_GT(found, 0);
    EXPECT_EQ(me, comm_of(found));
  }
  EXPECT_EQ(-1, find_proc_by_name("no such process", ::getpid()));
  EXPECT_EQ(-1, find_proc_by_name("", 0));

  // With a program root, only a program under it counts.
  char exe[PATH_MAX] = {};
  ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  const std::string dir = std::string(exe).substr(0, std::string(exe).rfind('/') + 1);
  EXPECT_EQ(::getpid(), find_proc_by_name(me.c_str(), ::getpid(), dir.c_str()));
  EXPECT_GT(find_proc_by_name(me.c_str(), 0, dir.c_str()), 0);
  for (int hint : {::getpid(), 0}) {
    EXPECT_EQ(-1, find_proc_by_name(me.c_str(), hint, (dir + "elsewhere/").c_str()));
    EXPECT_EQ(-1, find_proc_by_name(me.c_str(), hint, (std::string(exe) + "/").c_str()));
  }
}

TEST(FindProc, NamesWithParenthesesAndBlanks) {
  // A name no other process has, not even this test in another suite at the
  // same time (15 characters, the most a command name holds).
  std::string name = "a) (b c) ";
  std::mt19937 random(std::random_device{}());
  while (name.size() < 15) name += char('a' + random() % 26);
  int ready[2], go[2];
  ASSERT_EQ(0, ::pipe(ready));
  ASSERT_EQ(0, ::pipe(go));
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::prctl(PR_SET_NAME, name.c_str(), 0, 0, 0);
    char c = 'r';
    (void)!::write(ready[1], &c, 1);
    ::close(go[1]);
    (void)!::read(go[0], &c, 1);
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(1, ::read(ready[0], &c, 1));
  EXPECT_EQ(child, find_proc_by_name(name.c_str(), child));
  EXPECT_EQ(child, find_proc_by_name(name.c_str(), 0));
  EXPECT_EQ(-1, find_proc_by_name("a", child));
  for (int fd : {ready[0], ready[1], go[0], go[1]}) ::close(fd);
  int status;
  ::waitpid(child, &status, 0);
}

TEST(PidFile, HoldsThePidAndIsRemoved) {
  std::string name = "found-test-" + std::to_string(::getpid());
  std::string path = SysPaths::resolve(SysPaths::kRunDir) + name + ".pid";
  {
    Linux::Run run(name.c_str());
    ASSERT_TRUE(run.created());
    EXPECT_EQ(path, run.path());
    EXPECT_TRUE(cloexec(run.fd()));
    Fd f;
    ASSERT_TRUE(f.open(path.c_str(), O_RDONLY));
    char buf[32] = {};
    EXPECT_GT(read(f, buf, sizeof buf - 1), 0);
    EXPECT_EQ(std::to_string(::getpid()), buf);
    struct stat st;
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_EQ(0u, st.st_mode & 0777u & ~0644u);
  }
  struct stat st;
  EXPECT_EQ(-1, ::stat(path.c_str(), &st));
  EXPECT_EQ(ENOENT, errno);
}

TEST(PidFile, FailureIsLoggedOnceAndNothingIsRemoved) {
  CerrCapture err;
  {
    Linux::Run run("missing-dir/server");
    EXPECT_FALSE(run.created());
    EXPECT_EQ(-1, run.fd());
  }
  std::string expect = "can't create pid file " + SysPaths::resolve(SysPaths::kRunDir) +
                       "missing-dir/server.pid: " + std::strerror(ENOENT) + "\n";
  EXPECT_EQ(expect, err.text());
}

}  // namespace
