#include "mediaslots/t38_slot.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "board/board.h"
#include "board/mcc.h"
#include "foundation/os.h"
#include "foundation/spawn.h"
#include "foundation/sys_paths.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"

namespace Mcc = Board::Mcc;

namespace {

const char* const kT38 = "/usr/local/sbin/t38";
const char* const kHeader = "t38soft: ";
// What the child's exec failure ends it with; the parent sees 237.
constexpr int kExecFailCode = 1005;
// Characters of the program's line read at most, its end included.
constexpr std::size_t kLineMax = 31;

}  // namespace

// T38SoftSlot -----------------------------------------------------------------

T38SoftSlot::T38SoftSlot(int p, int ts) : pid(p), timeslot(ts) {
  wait.Bind(this, &T38SoftSlot::OnT38Terminate);
  wait.Attach(pid);
}

void T38SoftSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool T38SoftSlot::IBeforeDestroy() {
  if (pid >= 1) ::kill(pid, SIGTERM);
  return true;
}

void T38SoftSlot::OnT38Terminate(int status) {
  if (WIFEXITED(status))
    log.line(std::clog) << *this << ": t38 daemon terminated with code=" << WEXITSTATUS(status) << std::endl;
  else if (WIFSIGNALED(status))
    log.line(std::clog) << *this << ": t38 daemon terminated by signal=" << WTERMSIG(status) << std::endl;
  pid = -1;
  OnAbort(status);
}

// T38SoftFactory --------------------------------------------------------------

T38SoftFactory& T38SoftFactory::instance() {
  static T38SoftFactory factory;
  return factory;
}

void T38SoftFactory::Query(LGCP::Resources& resources) { resources.set_t38_instances(QueryNumOfInstances()); }

int T38SoftFactory::QueryNumOfInstances() {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    log.line(std::clog) << "t38 daemon not found!" << std::endl;
    return 0;
  }
  Fd reader(out[0]);
  Spawn::Params p;
  p.program = SysPaths::resolve(kT38);
  p.argv = {p.program, "--num-of-instances"};
  p.output = out[1];
  const Spawn::Result r = Spawn::Start(p);
  ::close(out[1]);
  if (r.pid < 0 || r.error != 0) {
    log.line(std::clog) << "t38 daemon not found!" << std::endl;
    return 0;
  }
  // One line, read with a deadline: a program that hangs must not stop the
  // loop (and the watchdog) for longer.
  std::string line;
  bool complete = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kQueryTimeoutMs);
  for (;;) {
    const auto rest = deadline - std::chrono::steady_clock::now();
    const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(rest).count());
    if (left <= 0) break;
    pollfd pfd{reader.lowlevel_fd(), POLLIN, 0};
    const int n = ::poll(&pfd, 1, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    char c = 0;
    const ssize_t got = ::read(reader.lowlevel_fd(), &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || c == '\n') {
      complete = got > 0 || !line.empty();
      break;
    }
    line += c;
    if (line.size() >= kLineMax) {
      complete = true;
      break;
    }
  }
  // Still running (not reaped by anyone yet): ended here, reaped by the
  // child-wait service.
  int status = 0;
  if (::waitpid(r.pid, &status, WNOHANG) == 0) ::kill(r.pid, SIGKILL);
  if (!complete) {
    log.line(std::clog) << "t38: can't detect T38 resources" << std::endl;
    return 0;
  }
  return std::atoi(line.c_str());
}

Slot* T38SoftFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.t38soft_isSelected()) return nullptr;
  const LGCP::T38Soft& t = params.get_t38soft();

  char remote[kRemoteSize];
  const std::string iaddr = t.get_dhost().get_iaddr();
  const int len = std::snprintf(remote, sizeof remote, "%s/%d/%d", iaddr.c_str(), t.get_dhost().get_port().getValue(),
                                t.get_shost().get_port().getValue());
  if (len < 0 || unsigned(len) >= sizeof remote) {
    log.line(std::cerr) << kHeader << "remote address \"" << iaddr << "\" too long" << std::endl;
    SetErrorCause(LGCP::ErrorCause::invalidParams);
    return nullptr;
  }

  Fd fd = Board::open(Mcc::kDevice, O_RDWR);
  if (!fd) {
    const int e = errno;
    log.line(std::cerr) << "T38SoftFactory::INewSlot - FAIL to open </dev/mcc/ctl> [" << e << "]" << std::endl;
    return nullptr;
  }
  Mcc::Allocate rec{Mcc::kTypeTransparent, t.get_rx_packet_size().getValue(), 0, t.get_rx_threshold().getValue(),
                    t.get_tx_threshold().getValue()};
  if (Board::ioctl(fd.lowlevel_fd(), Mcc::kAllocate, &rec) < 0) {
    const int e = errno;
    log.line(std::cerr) << "T38SoftFactory::INewSlot - FAIL to ioctl MCC_ALLOCATE [" << e << "]" << std::endl;
    return nullptr;
  }
  const int timeslot = Board::ioctlValue(fd.lowlevel_fd(), Mcc::kTimeslot, 0);
  if (timeslot < 0) {
    const int e = errno;
    log.line(std::cerr) << "T38SoftFactory::INewSlot - FAIL to ioctl MCC_TIMESLOT [" << e << "]" << std::endl;
    return nullptr;
  }

  Spawn::Params p;
  p.program = SysPaths::resolve(kT38);
  p.argv = {p.program, "--child", "--remote", remote};
  for (const ASN1::IA5String& a : t.get_args()) {
    if (p.argv.size() >= kArgv - 1) break;
    p.argv.push_back(a);
  }
  p.input = fd.lowlevel_fd();
  p.execFailCode = kExecFailCode;
  {
    // One entry of the limiter: the list is logged whole or not at all.
    Log::Limiter::Line l = log.line(std::clog);
    l << kHeader << "args for run t38 daemon:";
    for (std::size_t i = 0; i < p.argv.size(); ++i) l << '\n' << kHeader << "arg[" << i << "]=" << p.argv[i];
    l << std::endl;
  }
  const Spawn::Result r = Spawn::Start(p);
  if (r.pid < 0) {
    errno = r.error;
    log.line(std::cerr) << kHeader << "fork failed: " << Errno() << std::endl;
    return nullptr;
  }
  // A failed exec ends the child with 237: reported as the slot's abort.
  log.line(std::clog) << kHeader << "t38 daemon[" << r.pid << "] successfully started" << std::endl;
  // The channel stays allocated while the child holds it.
  return new T38SoftSlot(r.pid, timeslot);
}
