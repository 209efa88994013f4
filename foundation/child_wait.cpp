#include "foundation/child_wait.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iostream>

unsigned ChildWait::UsageCounter = 0;
ChildWaitService* volatile ChildWaitService::childWaitService = nullptr;

ChildWait::Init::Init() {
  if (++UsageCounter == 1) Initialize();
}

ChildWait::Init::~Init() {
  if (--UsageCounter == 0) Cleanup();
}

ChildWait::ChildWait() : handler_(new (&storage_) DummyHandler) {}

ChildWait::~ChildWait() {
  delete handler_;
  handler_ = nullptr;
  Detach();
}

void ChildWait::Attach(int pid) {
  pid_ = pid;
  if (ChildWaitService* s = ChildWaitService::childWaitService) s->Attach(this);
}

void ChildWait::Detach() {
  if (ChildWaitService* s = ChildWaitService::childWaitService) s->Detach(this);
}

void ChildWait::Initialize() {
  if (!ChildWaitService::childWaitService) ChildWaitService::childWaitService = new ChildWaitService;
}

void ChildWait::Cleanup() {
  ChildWaitService* s = ChildWaitService::childWaitService;
  ChildWaitService::childWaitService = nullptr;
  delete s;
}

void ChildWait::Activate() {
  if (ChildWaitService* s = ChildWaitService::childWaitService) s->Activate();
}

ChildWaitService::ChildWaitService() = default;

ChildWaitService::~ChildWaitService() {
  event_.Release();
  while (ChildWait* w = waits_.remove_from_head()) w->registered_ = false;
}

void ChildWaitService::Activate() {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_DGRAM, 0, fds) != 0) {
    std::cerr << "ChildWaitService: initialize fails" << std::endl;
    return;
  }
  Fd read_end(fds[0]);
  Fd write_end(fds[1]);
  // The handler must never block on a full queue.
  NonBlockMode(write_end.lowlevel_fd());
  NonBlockMode(read_end.lowlevel_fd());
  write_end_ = std::move(write_end);
  event_.Bind("ChildWaitService::OnChildEvent", &ChildWaitService::OnChildEvent, this);
  event_.Schedule(read_end, POLLIN);
  IPC::Signal::handle(SIGCHLD, &ChildWaitService::SigChldHandlerWrapper, SA_RESTART);
  // Children that ended before now are reported too.
  ReapBlocked();
}

void ChildWaitService::Attach(ChildWait* w) {
  if (w->registered_) waits_.remove(w);
  waits_.push_back(w);
  w->registered_ = true;
}

void ChildWaitService::Detach(ChildWait* w) {
  if (!w->registered_) return;
  waits_.remove(w);
  w->registered_ = false;
}

void ChildWaitService::SigChldHandlerWrapper(int, siginfo_t*, void*) {
  if (ChildWaitService* s = childWaitService) s->SigChldHandler();
}

void ChildWaitService::SigChldHandler() {
  const int saved = errno;
  Reap();
  errno = saved;
}

void ChildWaitService::Reap() {
  const int fd = write_end_.lowlevel_fd();
  if (fd < 0) return;
  for (;;) {
    const unsigned head = spare_head_.load(std::memory_order_relaxed);
    const unsigned tail = spare_tail_.load(std::memory_order_acquire);
    if (head - tail >= kSpareRecords) {
      // No room to keep another report: the child stays a zombie until
      // the loop has made room.
      reap_pending_.store(true, std::memory_order_relaxed);
      return;
    }
    int status = 0;
    const pid_t pid = waitpid(-1, &status, WNOHANG);
    if (pid <= 0) return;
    Record r{static_cast<int32_t>(pid), static_cast<int32_t>(status)};
    // Behind reports already waiting in the spare array, to keep the order.
    if (head == tail) {
      iovec iov[2] = {{&r.pid, sizeof r.pid}, {&r.status, sizeof r.status}};
      if (writev(fd, iov, 2) == static_cast<ssize_t>(sizeof r)) continue;
    }
    spare_[head % kSpareRecords] = r;
    spare_head_.store(head + 1, std::memory_order_release);
  }
}

void ChildWaitService::ReapBlocked() {
  sigset_t chld, old;
  sigemptyset(&chld);
  sigaddset(&chld, SIGCHLD);
  sigprocmask(SIG_BLOCK, &chld, &old);
  reap_pending_.store(false, std::memory_order_relaxed);
  Reap();
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

void ChildWaitService::OnChildEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    Record r;
    iovec iov[2] = {{&r.pid, sizeof r.pid}, {&r.status, sizeof r.status}};
    if (readv(fd, iov, 2) != static_cast<ssize_t>(sizeof r)) break;
    Deliver(r);
  }
  // The spare array holds only reports newer than those on the socket.
  for (;;) {
    const unsigned tail = spare_tail_.load(std::memory_order_relaxed);
    if (tail == spare_head_.load(std::memory_order_acquire)) break;
    const Record r = spare_[tail % kSpareRecords];
    spare_tail_.store(tail + 1, std::memory_order_release);
    Deliver(r);
  }
  if (reap_pending_.load(std::memory_order_relaxed)) ReapBlocked();
}

void ChildWaitService::Deliver(const Record& r) {
  std::clog << "terminate child process, pid=" << r.pid << " status=" << r.status << std::endl;
  for (auto it = waits_.begin(); it != waits_.end(); ++it) {
    ChildWait* w = *it;
    if (w->pid_ != r.pid) continue;
    waits_.remove(w);
    w->registered_ = false;
    w->handler_->Invoke(*w, r.status);
    return;
  }
}
