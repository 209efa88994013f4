#include "foundation/logging.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>

#include "foundation/mux_time.h"
#include "foundation/syslog.h"

namespace {

const std::streamsize kLogFileArea = 16;

struct tm localTime(time_t t) {
  struct tm local;
  if (!localtime_r(&t, &local)) std::memset(&local, 0, sizeof local);
  return local;
}

}  // namespace

LogFileStreamBuf::LogFileStreamBuf(const std::string& dir)
    : file(new std::filebuf), dir(dir), midline(false), area(nullptr) {
  allocate(kLogFileArea);
  Mux::timeval now;
  Mux::mux_gettimeofday(now);
  NewFile(localTime(now.tv_sec));
}

LogFileStreamBuf::~LogFileStreamBuf() {
  delete[] area;
  delete file;
}

void LogFileStreamBuf::allocate(std::streamsize size) {
  area = new char[size];
  setp(area, area + size);
}

void LogFileStreamBuf::NewFile(const struct tm& local) {
  char name[32];
  if (std::strftime(name, sizeof name, "%Y_%m_%d-%H", &local) == 0) name[0] = '\0';
  if (stamp == name && file->is_open()) return;
  stamp = name;
  file->close();
  // Appending: a restart or a repeated hour (end of summer time) must not
  // wipe what the file already holds.
  file->open(dir + "/" + stamp + ".log", std::ios::out | std::ios::app);
}

void LogFileStreamBuf::write(const char* text, size_t len) { file->sputn(text, static_cast<std::streamsize>(len)); }

int LogFileStreamBuf::sync() {
  if (!area) return 0;
  const char* p = pbase();
  const char* end = pptr();
  const std::streamsize size = epptr() - pbase();
  if (p == end) return 0;

  if (midline) {
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
    if (!lf) {
      write(p, end - p);
      setp(area, area + size);
      file->pubsync();
      return 0;
    }
    write(p, lf + 1 - p);
    midline = false;
    p = lf + 1;
  }

  Mux::timeval now;
  Mux::mux_gettimeofday(now);
  const struct tm local = localTime(now.tv_sec);
  NewFile(local);
  char prefix[48];
  std::snprintf(prefix, sizeof prefix, "%02d:%02d:%05ld: ", local.tm_min, local.tm_sec, static_cast<long>(now.tv_usec));
  const size_t prefixLen = std::strlen(prefix);

  while (p != end) {
    write(prefix, prefixLen);
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
    if (!lf) {
      write(p, end - p);
      midline = true;
      break;
    }
    write(p, lf + 1 - p);
    p = lf + 1;
  }
  setp(area, area + size);
  file->pubsync();
  return 0;
}

std::streambuf* LogFileStreamBuf::setbuf(char*, std::streamsize size) {
  if (size < 2) return this;
  sync();
  delete[] area;
  allocate(size);
  return this;
}

int LogFileStreamBuf::overflow(int c) {
  sync();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  if (pptr() == epptr()) return traits_type::eof();
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

namespace Daemon {

Sentry::Sentry(const Params& params)
    : mode(params.mode), logfile(nullptr), saved{std::cout.rdbuf(), std::cerr.rdbuf(), std::clog.rdbuf()} {
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
