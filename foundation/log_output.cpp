#include "foundation/log_output.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "foundation/multiplexer.h"

namespace Log {

namespace {

Output* theOutput = nullptr;

inline void fence() { std::atomic_signal_fence(std::memory_order_seq_cst); }

// All of it, or as much as the descriptor takes; async-signal-safe. A
// descriptor that stays full for a second loses the rest.
bool WriteAll(int fd, const char* text, size_t len, unsigned long* calls) noexcept {
  const int saved = errno;
  bool ok = true;
  while (len > 0) {
    const ssize_t n = ::write(fd, text, len);
    if (calls) ++*calls;
    if (n > 0) {
      text += n;
      len -= size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd p = {fd, POLLOUT, 0};
      if (::poll(&p, 1, 1000) > 0) continue;
    }
    ok = false;
    break;
  }
  errno = saved;
  return ok;
}

}  // namespace

Output& Output::instance() {
  static Output* output = theOutput = new Output;
  return *output;
}

bool Output::write_all(int fd, const char* text, size_t len) noexcept { return WriteAll(fd, text, len, &writes_); }

void Output::put(int fd, const char* text, size_t len) {
  if (fd < 0 || len == 0) return;
  const bool joins = nruns_ > 0 && runs_[nruns_ - 1].fd == fd;
  if (len > kQueueSize - used_ || (!joins && nruns_ == kRuns)) flush();
  if (len > kQueueSize) {
    // Behind what waited, and in one piece.
    write_all(fd, text, len);
    return;
  }
  const size_t at = used_;
  std::memcpy(queue_ + at, text, len);
  fence();
  if (nruns_ > 0 && runs_[nruns_ - 1].fd == fd) {
    runs_[nruns_ - 1].end = at + len;
  } else {
    runs_[nruns_].fd = fd;
    runs_[nruns_].end = at + len;
    fence();
    nruns_ = nruns_ + 1;
  }
  fence();
  used_ = at + len;
  if (mode_ == Mode::Exiting) flush();
}

void Output::flush() {
  const unsigned n = nruns_;
  for (unsigned i = 0; i < n; ++i) {
    const size_t from = written_;
    const size_t end = runs_[i].end;
    write_all(runs_[i].fd, queue_ + from, end - from);
    written_ = end;
    fence();
  }
  nruns_ = 0;
  fence();
  used_ = 0;
  written_ = 0;
}

void Output::flushAll(bool unfinished) {
  for (unsigned i = 0; i < kSources; ++i)
    if (Source* s = sources_[i]) s->drain(unfinished);
  flush();
}

void Output::flushFromSignal() noexcept {
  const unsigned n = nruns_;
  size_t from = written_;
  for (unsigned i = 0; i < n && i < kRuns; ++i) {
    const size_t end = runs_[i].end;
    if (end > from && end <= kQueueSize) WriteAll(runs_[i].fd, queue_ + from, end - from, nullptr);
    if (end > from) from = end;
  }
  nruns_ = 0;
  used_ = 0;
  written_ = 0;
  for (unsigned i = 0; i < kSources; ++i)
    if (Source* s = sources_[i]) s->drainFromSignal();
}

void Output::add(Source* source) {
  for (unsigned i = 0; i < kSources; ++i)
    if (!sources_[i]) {
      sources_[i] = source;
      return;
    }
}

void Output::remove(Source* source) {
  for (unsigned i = 0; i < kSources; ++i)
    if (sources_[i] == source) sources_[i] = nullptr;
}

LineBuf::LineBuf(int fd) : fd_(fd) {
  line_.reserve(256);
  Output::instance().add(this);
}

LineBuf::~LineBuf() {
  Output& out = Output::instance();
  out.remove(this);
  drain(true);
  out.flush();
}

std::streamsize LineBuf::xsputn(const char* text, std::streamsize n) {
  Output& out = Output::instance();
  const char* p = text;
  const char* const end = text + n;
  while (p != end) {
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
    changing_ = true;
    fence();
    if (!lf) {
      line_.append(p, end);
      fence();
      changing_ = false;
      if (line_.size() >= kMaxLine) drain(true);
      break;
    }
    const size_t len = size_t(lf + 1 - p);
    if (line_.empty()) {
      out.put(fd_, p, len);
    } else {
      line_.append(p, len);
      out.put(fd_, line_.data(), line_.size());
      line_.clear();
    }
    fence();
    changing_ = false;
    p = lf + 1;
  }
  return n;
}

int LineBuf::overflow(int c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  const char ch = traits_type::to_char_type(c);
  xsputn(&ch, 1);
  return c;
}

int LineBuf::sync() {
  Output& out = Output::instance();
  switch (out.mode()) {
    case Output::Mode::Deferred:
      break;
    case Output::Mode::Direct:
      out.flush();
      break;
    case Output::Mode::Exiting:
      drain(true);
      out.flush();
      break;
  }
  return 0;
}

void LineBuf::drain(bool unfinished) {
  // Finished lines are queued as they end.
  if (!unfinished || line_.empty()) return;
  changing_ = true;
  fence();
  Output::instance().put(fd_, line_.data(), line_.size());
  line_.clear();
  fence();
  changing_ = false;
}

void LineBuf::drainFromSignal() noexcept {
  if (changing_ || line_.empty()) return;
  WriteAll(fd_, line_.data(), line_.size(), nullptr);
}

namespace {

void AtExit() {
  Output& out = Output::instance();
  out.flushAll();
  out.setMode(Output::Mode::Exiting);
}

const int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
struct sigaction previousAction[sizeof kCrashSignals / sizeof kCrashSignals[0]];

void OnCrash(int signo) {
  if (theOutput) theOutput->flushFromSignal();
  // Whatever handled the signal before us (the default action, a sanitizer)
  // takes it once this returns: the raised copy waits until then, a fault
  // comes back when the instruction runs again.
  for (size_t i = 0; i < sizeof kCrashSignals / sizeof kCrashSignals[0]; ++i)
    if (kCrashSignals[i] == signo) ::sigaction(signo, &previousAction[i], nullptr);
  ::raise(signo);
}

void InstallCrashHandlers() {
  // A stack of its own, so that a stack overflow still gets its lines out.
  static char altStack[64 * 1024];
  stack_t ss = {};
  ss.ss_sp = altStack;
  ss.ss_size = sizeof altStack;
  ::sigaltstack(&ss, nullptr);
  for (size_t i = 0; i < sizeof kCrashSignals / sizeof kCrashSignals[0]; ++i) {
    struct sigaction sa = {};
    sa.sa_handler = OnCrash;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_ONSTACK;
    ::sigaction(kCrashSignals[i], &sa, &previousAction[i]);
  }
}

}  // namespace

void InstallLineOutput() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  Output& out = Output::instance();
  std::cout.flush();
  std::cerr.flush();
  std::clog.flush();
  std::fflush(nullptr);
  std::cout.rdbuf(new LineBuf(STDOUT_FILENO));
  std::cerr.rdbuf(new LineBuf(STDERR_FILENO));
  std::clog.rdbuf(new LineBuf(STDERR_FILENO));
  out.setMode(Output::Mode::Direct);
  std::atexit(AtExit);
  InstallCrashHandlers();
  multiplexer.set_pass_end(&EndOfPass);
}

void EndOfPass() {
  Output& out = Output::instance();
  out.flushAll(false);
  out.setMode(Output::Mode::Deferred);
}

void LeaveLoop() {
  Output& out = Output::instance();
  out.flushAll();
  out.setMode(Output::Mode::Direct);
}

}  // namespace Log
