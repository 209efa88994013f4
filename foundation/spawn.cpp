#include "foundation/spawn.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "foundation/log_output.h"

namespace Spawn {

namespace {

void WriteAll(int fd, std::string const& text) {
  const char* at = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, at, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    at += n;
    left -= size_t(n);
  }
}

// Every descriptor above 2 closes at the exec, inherited ones included.
void CloseAboveStderr() {
#if defined(SYS_close_range)
  // 4: CLOSE_RANGE_CLOEXEC
  if (::syscall(SYS_close_range, 3u, ~0u, 4u) == 0) return;
#endif
  rlimit lim{};
  long max = 65536;
  if (::getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY) max = long(lim.rlim_cur);
  for (long fd = 3; fd < max; ++fd) ::fcntl(int(fd), F_SETFD, FD_CLOEXEC);
}

[[noreturn]] void Child(Params const& p, char* const* argv, int report) {
  // The parent's handlers and mask are not the program's: caught signals
  // return to their defaults at the exec, ignored ones would stay ignored.
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int sig : {SIGPIPE, SIGHUP, SIGINT, SIGTERM, SIGCHLD, SIGUSR1, SIGUSR2}) ::signal(sig, SIG_DFL);

  int input = p.input;
  if (input < 0) input = ::open("/dev/null", O_RDONLY);
  if (input >= 0 && input != 0) {
    ::dup2(input, 0);
  } else if (input == 0) {
    ::fcntl(0, F_SETFD, 0);
  }
  if (p.output > 1) ::dup2(p.output, 1);
  CloseAboveStderr();
  if (p.delaySeconds) ::sleep(p.delaySeconds);
  if (!p.banner.empty()) WriteAll(1, p.banner);
  ::execv(p.program.c_str(), argv);
  const int error = errno;
  if (!p.failText.empty()) WriteAll(1, p.failText);
  // The report pipe is close-on-exec; it is still open here.
  (void)!::write(report, &error, sizeof error);
  ::_exit(p.execFailCode);
}

}  // namespace

Result Start(Params const& p) {
  Result result;
  std::vector<char*> argv;
  argv.reserve(p.argv.size() + 1);
  for (std::string const& a : p.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC) != 0) {
    result.error = errno;
    return result;
  }
  // Lines that wait come out before anything the child writes, and only once.
  Log::Output::instance().flush();
  const pid_t pid = ::fork();
  if (pid < 0) {
    result.error = errno;
    ::close(pipefd[0]);
    ::close(pipefd[1]);
    return result;
  }
  if (pid == 0) {
    ::close(pipefd[0]);
    Child(p, argv.data(), pipefd[1]);
  }
  ::close(pipefd[1]);
  result.pid = int(pid);
  // Closed by the exec, or carrying the exec's errno; a child that waits
  // first is not waited for.
  int error = 0;
  ssize_t n = 0;
  if (p.delaySeconds) {
    result.report = Fd(pipefd[0]);
    result.report.NonBlock();
    return result;
  }
  do {
    n = ::read(pipefd[0], &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  if (n == ssize_t(sizeof error)) result.error = error;
  ::close(pipefd[0]);
  return result;
}

int ExecError(Fd& report) {
  if (!report) return 0;
  int error = 0;
  ssize_t n = 0;
  do {
    n = ::read(report.lowlevel_fd(), &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  report.close();
  return n == ssize_t(sizeof error) ? error : 0;
}

}  // namespace Spawn
