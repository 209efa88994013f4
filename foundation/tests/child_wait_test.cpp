#include "foundation/child_wait.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/socket.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "foundation/timer.h"
#include "loop_test_util.h"

using looptest::Capture;

namespace {

pid_t spawn(const char* path, const char* arg0, const char* a1 = nullptr, const char* a2 = nullptr) {
  const pid_t pid = fork();
  if (pid == 0) {
    execl(path, arg0, a1, a2, static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// Children that end together when their pipe closes, each with its own code.
std::vector<pid_t> spawn_gated(int n, Fd& gate) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  std::vector<pid_t> pids;
  for (int i = 0; i < n; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[1]);
      char c;
      while (read(fds[0], &c, 1) > 0) {
      }
      _exit(i % 100);
    }
    pids.push_back(pid);
  }
  close(fds[0]);
  gate = Fd(fds[1]);
  return pids;
}

struct Owner {
  ChildWait wait;
  std::vector<int>* statuses;
  const std::function<void(Owner&)>* fn = nullptr;
  int expected;
  explicit Owner(std::vector<int>* s, int exp = 0) : statuses(s), expected(exp) { wait.Bind(this, &Owner::OnEnd); }
  // The hook may destroy this owner: nothing of it is touched afterwards.
  void OnEnd(int status) {
    statuses->push_back(status);
    if (static_cast<int>(statuses->size()) == expected) multiplexer.terminate();
    if (fn) (*fn)(*this);
  }
};

struct Guard {
  Timer t;
  bool fired = false;
  Guard() { t.set(10000, &Guard::On, this); }
  void On() {
    fired = true;
    multiplexer.terminate();
  }
};

class ChildWaitTest : public ::testing::Test {
protected:
  void SetUp() override { ChildWait::Activate(); }
  // A fresh service per test, and SIGCHLD back to default so that nothing
  // reaps the children of other tests.
  void TearDown() override {
    IPC::Signal::system(SIGCHLD);
    ChildWait::Cleanup();
    ChildWait::Initialize();
  }
  void RunLoop() {
    Guard guard;
    multiplexer.run(false, true);
    EXPECT_FALSE(guard.fired) << "no report within 10 s";
  }
};

}  // namespace

TEST_F(ChildWaitTest, ReportsExitStatusOfRealChildren) {
  std::vector<int> statuses;
  Owner ok(&statuses, 2), three(&statuses, 2);
  Capture log(std::clog);
  const pid_t p1 = spawn("/bin/true", "true");
  ok.wait.Attach(p1);
  const pid_t p2 = spawn("/bin/sh", "sh", "-c", "exit 3");
  three.wait.Attach(p2);
  RunLoop();
  ASSERT_EQ(statuses.size(), 2u);
  std::map<int, int> codes;
  for (int s : statuses) {
    ASSERT_TRUE(WIFEXITED(s));
    ++codes[WEXITSTATUS(s)];
  }
  EXPECT_EQ(codes[0], 1);
  EXPECT_EQ(codes[3], 1);
  EXPECT_FALSE(ok.wait.is_registered());
  EXPECT_NE(log.text().find("terminate child process, pid=" + std::to_string(p2) + " status=768\n"), std::string::npos);
  EXPECT_NE(log.text().find("terminate child process, pid=" + std::to_string(p1) + " status=0\n"), std::string::npos);
}

// More children than the socket's queue holds end at once: every one is
// reported, none twice, none lost.
TEST_F(ChildWaitTest, ManyChildrenEndingAtOnce) {
  const int n = 600;
  std::vector<int> statuses;
  Fd gate;
  std::vector<pid_t> pids = spawn_gated(n, gate);
  std::vector<std::unique_ptr<Owner>> owners;
  std::map<pid_t, int> expected;
  for (int i = 0; i < n; ++i) {
    owners.emplace_back(new Owner(&statuses, n));
    owners.back()->wait.Attach(pids[i]);
    expected[pids[i]] = i % 100;
  }
  std::map<pid_t, int> got;
  const std::function<void(Owner&)> record = [&](Owner& self) { got[self.wait.pid()] = WEXITSTATUS(statuses.back()); };
  for (auto& o : owners) o->fn = &record;
  Capture log(std::clog);
  // All end before the handler runs once: the socket's queue overflows into
  // the spare records, and the rest stay zombies until there is room.
  sigset_t chld, old;
  sigemptyset(&chld);
  sigaddset(&chld, SIGCHLD);
  sigprocmask(SIG_BLOCK, &chld, &old);
  gate.close();
  siginfo_t info;
  for (pid_t p : pids) ASSERT_EQ(waitid(P_PID, p, &info, WEXITED | WNOWAIT), 0);
  sigprocmask(SIG_SETMASK, &old, nullptr);
  RunLoop();
  EXPECT_EQ(got, expected);
  for (pid_t p : pids) EXPECT_EQ(waitpid(p, nullptr, WNOHANG), -1);  // all reaped
}

TEST_F(ChildWaitTest, ChildNeverAttachedIsReapedAndOnlyLogged) {
  std::vector<int> statuses;
  Owner watched(&statuses, 1);
  Capture log(std::clog);
  // The stray child ends first, so its report comes first.
  sigset_t chld, old;
  sigemptyset(&chld);
  sigaddset(&chld, SIGCHLD);
  sigprocmask(SIG_BLOCK, &chld, &old);
  const pid_t stray = spawn("/bin/true", "true");
  siginfo_t info;
  ASSERT_EQ(waitid(P_PID, stray, &info, WEXITED | WNOWAIT), 0);
  sigprocmask(SIG_SETMASK, &old, nullptr);
  watched.wait.Attach(spawn("/bin/sh", "sh", "-c", "exit 1"));
  RunLoop();
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_EQ(WEXITSTATUS(statuses[0]), 1);
  EXPECT_NE(log.text().find("terminate child process, pid=" + std::to_string(stray) + " status=0\n"),
            std::string::npos);
  EXPECT_EQ(waitpid(stray, nullptr, WNOHANG), -1);
}

TEST_F(ChildWaitTest, CallbackDestroysItsOwnAndAnotherWait) {
  std::vector<int> statuses;
  Fd gate;
  std::vector<pid_t> pids = spawn_gated(3, gate);
  auto first = std::make_unique<Owner>(&statuses, 2);
  auto second = std::make_unique<Owner>(&statuses, 2);
  Owner third(&statuses, 2);
  first->wait.Attach(pids[0]);
  second->wait.Attach(pids[1]);
  third.wait.Attach(pids[2]);
  const std::function<void(Owner&)> destroy_both = [&](Owner&) {
    first.reset();
    second.reset();
  };
  first->fn = &destroy_both;
  second->fn = &destroy_both;
  EXPECT_EQ(ChildWaitService::childWaitService->registered(), 3u);
  Capture log(std::clog);
  gate.close();
  RunLoop();
  EXPECT_EQ(statuses.size(), 2u);
  EXPECT_FALSE(first);
  EXPECT_FALSE(second);
  EXPECT_EQ(ChildWaitService::childWaitService->registered(), 0u);
}

// The interrupted code must find errno as it left it.
TEST_F(ChildWaitTest, HandlerKeepsErrno) {
  errno = ENOSPC;
  ChildWaitService::SigChldHandlerWrapper(SIGCHLD, nullptr, nullptr);  // waitpid fails with ECHILD
  EXPECT_EQ(errno, ENOSPC);
}

TEST_F(ChildWaitTest, AttachTwiceRegistersOnceAtTheTail) {
  std::vector<int> statuses;
  Owner a(&statuses), b(&statuses);
  a.wait.Attach(1000001);
  b.wait.Attach(1000002);
  a.wait.Attach(1000003);
  EXPECT_EQ(ChildWaitService::childWaitService->registered(), 2u);
  a.wait.Detach();
  a.wait.Detach();
  EXPECT_EQ(ChildWaitService::childWaitService->registered(), 1u);
  EXPECT_TRUE(b.wait.is_registered());
}

// A child that ended before the service was activated is still reported.
TEST(ChildWaitActivation, ChildEndedBeforeActivationIsReported) {
  IPC::Signal::system(SIGCHLD);
  ChildWait::Cleanup();
  ChildWait::Initialize();
  std::vector<int> statuses;
  Owner early(&statuses, 1);
  const pid_t pid = spawn("/bin/sh", "sh", "-c", "exit 5");
  early.wait.Attach(pid);
  siginfo_t info;
  ASSERT_EQ(waitid(P_PID, pid, &info, WEXITED | WNOWAIT), 0);
  Capture log(std::clog);
  ChildWait::Activate();
  {
    Guard guard;
    multiplexer.run(false, true);
    EXPECT_FALSE(guard.fired);
  }
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_EQ(WEXITSTATUS(statuses[0]), 5);
  IPC::Signal::system(SIGCHLD);
  ChildWait::Cleanup();
  ChildWait::Initialize();
}

// Reports read straight from a socket: only with POLLIN, and to the handler
// bound last.
TEST(ChildWaitService, DeliversToTheHandlerBoundLast) {
  struct A {
    int got = -1;
    void On(int s) { got = s; }
  } a, b;
  ChildWaitService svc;
  ChildWait w;
  w.Bind(&a, &A::On);
  w.Bind(&b, &A::On);
  svc.Attach(&w);
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, fds), 0);
  Fd rd(fds[0]), wr(fds[1]);
  rd.NonBlock();
  ChildWaitService::Record r{w.pid(), 0x300};
  ASSERT_EQ(write(wr.lowlevel_fd(), &r, sizeof r), 8);
  Capture log(std::clog);
  svc.OnChildEvent(rd.lowlevel_fd(), 0);
  EXPECT_EQ(log.text(), "");
  EXPECT_TRUE(w.is_registered());
  svc.OnChildEvent(rd.lowlevel_fd(), POLLIN);
  EXPECT_EQ(a.got, -1);
  EXPECT_EQ(b.got, 0x300);
  EXPECT_FALSE(w.is_registered());
  EXPECT_EQ(log.text(), "terminate child process, pid=0 status=768\n");
}
