#include "foundation/syslog.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "foundation/mux_time.h"
#include "foundation/sys_paths.h"

SysLogManager& syslogManager = *new SysLogManager;

namespace {

const char kDefaultIdent[] = "syslog-qv";

// Appends to the message in buf, cut so that the last byte stays free for the NUL.
void vappendf(char* buf, size_t size, size_t& len, const char* format, va_list ap) {
  int n = std::vsnprintf(buf + len, size - len, format, ap);
  if (n > 0) len = std::min(len + static_cast<size_t>(n), size - 1);
}

void appendf(char* buf, size_t size, size_t& len, const char* format, ...) __attribute__((format(printf, 4, 5)));
void appendf(char* buf, size_t size, size_t& len, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  vappendf(buf, size, len, format, ap);
  va_end(ap);
}

}  // namespace

SysLogManager::SysLogManager()
    : type(SOCK_DGRAM),
      sock(-1),
      connected(false),
      options(0),
      ident(kDefaultIdent),
      facility(LOG_USER),
      mask(0xff),
      batchBytes(0),
      batchCount(0) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  setSocketPath(SysPaths::resolve(SysPaths::kSyslogSocket));
  std::memset(line, 0, sizeof line);
  std::memset(&header, 0, sizeof header);
}

SysLogManager::~SysLogManager() { closeSocket(); }

bool SysLogManager::setSocketPath(const std::string& path) {
  if (path.size() >= sizeof addr.sun_path) return false;
  closeSocket();
  std::memset(addr.sun_path, 0, sizeof addr.sun_path);
  std::memcpy(addr.sun_path, path.data(), path.size());
  return true;
}

void SysLogManager::closeSocket() {
  if (sock >= 0) ::close(sock);
  sock = -1;
  connected = false;
}

void SysLogManager::openlog(const char* ident, int options, int facility) {
  openlog_internal(ident, options, facility);
}

void SysLogManager::openlog_internal(const char* newIdent, int newOptions, int newFacility) {
  if (newIdent && newIdent != ident.c_str()) ident = newIdent;
  options = newOptions;
  if (newFacility != 0 && (newFacility & ~LOG_FACMASK) == 0) facility = newFacility;

  for (int attempt = 0; attempt < 2; ++attempt) {
    if (sock < 0) {
      if (!(options & LOG_NDELAY)) return;
      sock = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
      if (sock < 0) return;
    }
    if (connected) return;
    if (::connect(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
      connected = true;
      return;
    }
    const int err = errno;
    closeSocket();
    if (err != EPROTOTYPE) return;
    type = type == SOCK_DGRAM ? SOCK_STREAM : SOCK_DGRAM;
  }
}

void SysLogManager::closelog() {
  closeSocket();
  ident = kDefaultIdent;
  type = SOCK_DGRAM;
  batchBytes = 0;
  batchCount = 0;
}

void SysLogManager::syslog(int priority, const char* format, ...) {
  if (!(mask & (1 << (priority & LOG_PRIMASK)))) return;
  if ((priority & LOG_FACMASK) == 0) priority |= facility;

  std::memset(line, 0, sizeof line);
  size_t len = 0;
  appendf(line, sizeof line, len, "<%d>", priority);
  time_t now = Mux::seconds();
  struct tm local;
  char stamp[64] = "";
  if (localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "%h %e %T ", &local);
  appendf(line, sizeof line, len, "%s", stamp);
  const size_t body = len;
  if (!ident.empty()) appendf(line, sizeof line, len, "%s", ident.c_str());
  if (options & LOG_PID) appendf(line, sizeof line, len, "[%d]", static_cast<int>(::getpid()));
  if (!ident.empty()) appendf(line, sizeof line, len, ": ");
  va_list ap;
  va_start(ap, format);
  vappendf(line, sizeof line, len, format, ap);
  va_end(ap);

  if (options & LOG_PERROR) {
    iovec parts[2] = {{line + body, len - body}, {const_cast<char*>("\n"), 1}};
    const bool endsInNewline = len > body && line[len - 1] == '\n';
    ssize_t ignored = ::writev(STDERR_FILENO, parts, endsInNewline ? 1 : 2);
    (void)ignored;
  }

  if (!connected) openlog_internal(ident.c_str(), options | LOG_NDELAY, 0);

  line[len++] = '\0';

  if (connected && sendmsg_internal(line, len) >= 0) return;
  if (connected) {
    closeSocket();
    openlog_internal(ident.c_str(), options | LOG_NDELAY, 0);
    if (connected && sendmsg_internal(line, len) >= 0) return;
  }
  closeSocket();
  if (options & LOG_CONS) {
    int console = ::open(SysPaths::resolve(SysPaths::kConsole).c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (console >= 0) {
      iovec parts[2] = {{line + body, len - 1 - body}, {const_cast<char*>("\r\n"), 2}};
      ssize_t ignored = ::writev(console, parts, 2);
      (void)ignored;
      ::close(console);
    }
  }
}

int SysLogManager::sendmsg_internal(const char* data, size_t len) {
  if (len == 0) return 0;
  if (len > sizeof batch) len = sizeof batch;
  if (batchBytes + len > sizeof batch || batchCount == kBatchEntries) {
    int sent = sendBatch();
    if (sent < 0) return sent;
  }
  std::memcpy(batch + batchBytes, data, len);
  entries[batchCount].iov_base = batch + batchBytes;
  entries[batchCount].iov_len = len;
  batchBytes += len;
  ++batchCount;
  if (batchCount >= kBatchEntries || batchBytes >= kBatchSendAt) return sendBatch();
  return 0;
}

int SysLogManager::sendmsg() { return sendBatch(); }

int SysLogManager::sendBatch() {
  if (batchCount == 0) return 0;
  int result = 0;
  for (int attempt = 0; attempt < 2 && sock >= 0; ++attempt) {
    std::memset(&header, 0, sizeof header);
    // A connected stream socket refuses a destination address.
    if (type == SOCK_DGRAM) {
      header.msg_name = &addr;
      header.msg_namelen = sizeof addr;
    }
    header.msg_iov = entries;
    header.msg_iovlen = batchCount;
    result = static_cast<int>(::sendmsg(sock, &header, MSG_NOSIGNAL));
    if (result >= 0) break;
    // The receiver may have been restarted: reconnect and try once more.
    closeSocket();
    openlog_internal(ident.c_str(), options | LOG_NDELAY, 0);
  }
  batchBytes = 0;
  batchCount = 0;
  return result;
}

SysLogStreamBuf::SysLogStreamBuf(int facility, int level) : SysLogStreamBuf(facility, level, 1024) {}

SysLogStreamBuf::SysLogStreamBuf(int facility, int level, std::streamsize size)
    : priority((facility << 3) | level), area(nullptr) {
  allocate(size);
}

SysLogStreamBuf::~SysLogStreamBuf() { delete[] area; }

void SysLogStreamBuf::allocate(std::streamsize size) {
  area = new char[size];
  setp(area, area + size - 1);
}

std::streambuf* SysLogStreamBuf::setbuf(char*, std::streamsize size) {
  if (size < 2) return this;
  sync();
  // An unfinished line moves to the new area, as far as it fits.
  const std::string pending(pbase(), pptr());
  delete[] area;
  allocate(size);
  const size_t keep = std::min(pending.size(), static_cast<size_t>(size - 1));
  std::memcpy(pbase(), pending.data(), keep);
  pbump(static_cast<int>(keep));
  return this;
}

int SysLogStreamBuf::overflow(int c) {
  sync();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  if (pptr() == epptr()) return traits_type::eof();
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

bool SysLogStreamBuf::splitLines() {
  const char* text = pbase();
  const size_t n = static_cast<size_t>(pptr() - pbase());
  if (n == 0) return false;
  if (!std::memchr(text, '\n', n) && pptr() != epptr()) return false;
  size_t start = 0;
  for (size_t i = 0; i < n; ++i)
    if (text[i] == '\n') {
      put(text + start, i - start);
      start = i + 1;
    }
  if (start < n) put(text + start, n - start);
  setp(pbase(), epptr());
  return true;
}

void SysLogStreamBuf::put(const char* text, size_t len) { ::syslog(priority, "%.*s", static_cast<int>(len), text); }

int SysLogStreamBuf::sync() {
  splitLines();
  return 0;
}

ManagedSysLogStreamBuf::ManagedSysLogStreamBuf(int facility, int level) : SysLogStreamBuf(facility, level, 16384) {}

void ManagedSysLogStreamBuf::put(const char* text, size_t len) {
  syslogManager.syslog(priority, "%.*s", static_cast<int>(len), text);
}

int ManagedSysLogStreamBuf::sync() {
  if (splitLines()) syslogManager.sendmsg();
  return 0;
}
