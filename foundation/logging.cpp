#include "foundation/logging.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>

#include "foundation/mux_time.h"
#include "foundation/syslog.h"

namespace {

// Room for the lines of a pass; a longer unfinished line goes out in pieces.
const std::streamsize kLogFileArea = 16384;

struct tm localTime(time_t t) {
  struct tm local;
  if (!localtime_r(&t, &local)) std::memset(&local, 0, sizeof local);
  return local;
}

void MakePrefix(char (&prefix)[48], const struct tm& local, long usec) {
  std::snprintf(prefix, sizeof prefix, "%02d:%02d:%05ld: ", local.tm_min, local.tm_sec, usec);
}

}  // namespace

LogFileStreamBuf::LogFileStreamBuf(const std::string& dir)
    : fd(-1), dir(dir), midline(false), lastPrefix(), area(nullptr), size(0), changing(false) {
  allocate(kLogFileArea);
  Mux::timeval now;
  Mux::mux_gettimeofday(now);
  const struct tm local = localTime(now.tv_sec);
  NewFile(local);
  MakePrefix(lastPrefix, local, static_cast<long>(now.tv_usec));
  Log::Output::instance().add(this);
}

LogFileStreamBuf::~LogFileStreamBuf() {
  Log::Output& out = Log::Output::instance();
  out.remove(this);
  emit(true);
  out.flush();
  if (fd >= 0) ::close(fd);
  delete[] area;
}

void LogFileStreamBuf::allocate(std::streamsize n) {
  area = new char[n];
  size = n;
  setp(area, area + n);
}

void LogFileStreamBuf::NewFile(const struct tm& local) {
  char name[32];
  if (std::strftime(name, sizeof name, "%Y_%m_%d-%H", &local) == 0) name[0] = '\0';
  if (stamp == name && fd >= 0) return;
  // What waits belongs to the file it was written for.
  Log::Output::instance().flush();
  stamp = name;
  if (fd >= 0) ::close(fd);
  // Appending: a restart or a repeated hour (end of summer time) must not
  // wipe what the file already holds.
  const std::string path = dir + "/" + stamp + ".log";
  fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

void LogFileStreamBuf::emit(bool all) {
  const char* p = pbase();
  const char* const end = pptr();
  if (p == end) return;
  changing = true;
  Log::Output& out = Log::Output::instance();
  scratch.clear();

  if (midline) {
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
    if (lf) {
      scratch.append(p, lf + 1);
      midline = false;
      p = lf + 1;
    } else if (all) {
      scratch.append(p, end);
      p = end;
    }
  }

  if (p != end && !midline) {
    Mux::timeval now;
    Mux::mux_gettimeofday(now);
    const struct tm local = localTime(now.tv_sec);
    if (!scratch.empty()) {
      out.put(fd, scratch.data(), scratch.size());
      scratch.clear();
    }
    NewFile(local);
    char prefix[48];
    MakePrefix(prefix, local, static_cast<long>(now.tv_usec));
    std::memcpy(lastPrefix, prefix, sizeof lastPrefix);
    while (p != end) {
      const char* lf = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
      if (!lf && !all) {
        if (waitingPrefix.empty()) waitingPrefix = prefix;
        break;
      }
      scratch += waitingPrefix.empty() ? prefix : waitingPrefix;
      waitingPrefix.clear();
      if (!lf) {
        scratch.append(p, end);
        midline = true;
        p = end;
        break;
      }
      scratch.append(p, lf + 1);
      p = lf + 1;
    }
  }
  out.put(fd, scratch.data(), scratch.size());

  // The unfinished rest moves to the head of the area.
  const size_t rest = size_t(end - p);
  std::memmove(area, p, rest);
  setp(area, area + size);
  pbump(static_cast<int>(rest));
  changing = false;
}

int LogFileStreamBuf::sync() {
  Log::Output& out = Log::Output::instance();
  const bool exiting = out.mode() == Log::Output::Mode::Exiting;
  emit(exiting);
  if (out.mode() != Log::Output::Mode::Deferred) out.flush();
  return 0;
}

void LogFileStreamBuf::drain(bool unfinished) { emit(unfinished); }

namespace {

void WriteRaw(int fd, const char* p, size_t n) noexcept {
  while (n > 0) {
    const ssize_t put = ::write(fd, p, n);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    p += put;
    n -= size_t(put);
  }
}

}  // namespace

// No clock here: lines get the prefix of the last flush.
void LogFileStreamBuf::drainFromSignal() noexcept {
  if (changing || fd < 0) return;
  const char* p = pbase();
  const char* const end = pptr();
  bool inLine = midline;
  const char* prefix = waitingPrefix.empty() ? lastPrefix : waitingPrefix.c_str();
  while (p != end) {
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
    const char* stop = lf ? lf + 1 : end;
    if (!inLine) WriteRaw(fd, prefix, std::strlen(prefix));
    WriteRaw(fd, p, size_t(stop - p));
    inLine = false;
    prefix = lastPrefix;
    p = stop;
  }
}

std::streambuf* LogFileStreamBuf::setbuf(char*, std::streamsize n) {
  if (n < 2) return this;
  emit(true);
  delete[] area;
  allocate(n);
  return this;
}

int LogFileStreamBuf::overflow(int c) {
  emit(false);
  // A line that fills the whole area goes out unfinished.
  if (pptr() == epptr()) emit(true);
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  if (pptr() == epptr()) return traits_type::eof();
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

namespace Daemon {

Sentry::Sentry(const Params& params)
    : mode(params.mode), logfile(nullptr), saved{std::cout.rdbuf(), std::cerr.rdbuf(), std::clog.rdbuf()} {
  // What waits is for the terminal, before the descriptors go to /dev/null.
  Log::Output::instance().flushAll();
  if (::daemon(params.nochdir, 0) != 0) {
    std::cerr << "daemon() fail!" << std::endl;
    std::exit(2);
  }
  if (mode == 0) {
    static char ident[80];
    std::strncpy(ident, params.name.c_str(), sizeof ident - 1);
    ident[sizeof ident - 1] = '\0';
    syslogManager.openlog(ident, LOG_NDELAY, 0);
    const int daemonFacility = LOG_DAEMON >> 3;
    std::cout.rdbuf(new ManagedSysLogStreamBuf(daemonFacility, LOG_NOTICE));
    std::cerr.rdbuf(new ManagedSysLogStreamBuf(daemonFacility, LOG_ERR));
    std::clog.rdbuf(new ManagedSysLogStreamBuf(daemonFacility, LOG_DEBUG));
    std::cin.tie(&std::cout);
    // Raw writes to 1 and 2, also by child processes, reach syslog too.
    const int fd = syslogManager.fd();
    if (fd > 0) {
      ::dup2(fd, STDOUT_FILENO);
      ::dup2(fd, STDERR_FILENO);
    }
  } else if (mode == 1) {
    logfile = new LogFileStreamBuf(params.name);
    std::cout.rdbuf(logfile);
    std::cerr.rdbuf(logfile);
    std::clog.rdbuf(logfile);
  }
}

Sentry::~Sentry() {
  if (!logfile) return;
  logfile->pubsync();
  std::cout.rdbuf(saved[0]);
  std::cerr.rdbuf(saved[1]);
  std::clog.rdbuf(saved[2]);
  delete logfile;
}

void Init(const Params& params) { static Sentry sentry(params); }

}  // namespace Daemon
