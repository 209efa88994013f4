#pragma once
// The daemon's own syslog client. Messages are batched: several NUL-ended
// messages travel in one datagram, which is what the board's syslog receiver
// expects; the stream buffers send the batch at the end of every line.
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>

#include <streambuf>
#include <string>

class SysLogManager {
public:
  enum { kLineSize = 1024, kBatchSize = 16384, kBatchEntries = 256, kBatchSendAt = 12289 };

  SysLogManager();
  SysLogManager(const SysLogManager&) = delete;
  SysLogManager& operator=(const SysLogManager&) = delete;
  ~SysLogManager();

  void openlog(const char* ident, int options, int facility);
  void closelog();
  void syslog(int priority, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Sends the batch as one datagram; the batch is empty afterwards.
  int sendmsg();
  int fd() const { return sock; }

  // Where the receiver listens; closes the current connection.
  bool setSocketPath(const std::string& path);
  const char* socketPath() const { return addr.sun_path; }

private:
  void openlog_internal(const char* ident, int options, int facility);
  void closeSocket();
  int sendmsg_internal(const char* data, size_t len);
  int sendBatch();

  int type;
  int sock;
  bool connected;
  int options;
  std::string ident;
  int facility;
  int mask;
  sockaddr_un addr;
  char line[kLineSize];

  char batch[kBatchSize];
  iovec entries[kBatchEntries];
  size_t batchBytes;
  int batchCount;
  msghdr header;
};

// Never destroyed, so that stream buffers flushed during exit still find it.
extern SysLogManager& syslogManager;

// Each line of the stream becomes one message of the C library's syslog().
class SysLogStreamBuf : public std::streambuf {
public:
  SysLogStreamBuf(int facility, int level);
  SysLogStreamBuf(const SysLogStreamBuf&) = delete;
  SysLogStreamBuf& operator=(const SysLogStreamBuf&) = delete;
  ~SysLogStreamBuf() override;

protected:
  SysLogStreamBuf(int facility, int level, std::streamsize size);

  std::streambuf* setbuf(char* buffer, std::streamsize size) override;
  int sync() override;
  int overflow(int c) override;

  // Once the text holds a line feed or fills the area, hands every line and
  // the rest to put() and empties the area; returns whether it did.
  bool splitLines();
  virtual void put(const char* text, size_t len);

  int priority;

private:
  void allocate(std::streamsize size);
  char* area;
};

// Each line becomes one message of syslogManager; one batch per sync().
class ManagedSysLogStreamBuf : public SysLogStreamBuf {
public:
  ManagedSysLogStreamBuf(int facility, int level);

protected:
  int sync() override;
  void put(const char* text, size_t len) override;
};
