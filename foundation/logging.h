#pragma once
// Daemon mode: detaching, and routing the standard streams to syslog or to
// hourly log files.
#include <streambuf>
#include <string>

#include "foundation/log_output.h"

// Writes a stream into "<dir>/%Y_%m_%d-%H.log", a new file for every hour of
// local time, each line prefixed with "mm:ss:uuuuu: " of the flush that first
// saw it. Finished lines go to the file whole, through the log output queue;
// an unfinished one waits for its line feed until the end of the loop's pass.
class LogFileStreamBuf : public std::streambuf, public Log::Output::Source {
public:
  explicit LogFileStreamBuf(const std::string& dir);
  LogFileStreamBuf(const LogFileStreamBuf&) = delete;
  LogFileStreamBuf& operator=(const LogFileStreamBuf&) = delete;
  ~LogFileStreamBuf() override;

  void drain(bool unfinished) override;
  void drainFromSignal() noexcept override;

protected:
  std::streambuf* setbuf(char* buffer, std::streamsize size) override;
  int sync() override;
  int overflow(int c) override;

private:
  void allocate(std::streamsize size);
  // Opens the file of the given local time when its stamp differs from the open one's.
  void NewFile(const struct tm& local);
  // Queues the finished lines of the area; with all, the unfinished rest too.
  void emit(bool all);

  int fd;
  std::string dir;
  std::string stamp;
  // The file ends inside a line: its rest goes without a prefix.
  bool midline;
  // The prefix of the unfinished line at the head of the area, once a flush has seen it.
  std::string waitingPrefix;
  // The prefix of the last flush, for the lines a crash signal writes.
  char lastPrefix[48];
  std::string scratch;
  char* area;
  std::streamsize size;
  volatile bool changing;
};

namespace Daemon {

struct Params {
  int mode = 0;  // 0 syslog, 1 hourly log files
  bool nochdir = false;
  std::string name = "unknown";  // syslog identity, or log directory
};

class Sentry {
public:
  explicit Sentry(const Params& params);
  Sentry(const Sentry&) = delete;
  Sentry& operator=(const Sentry&) = delete;
  ~Sentry();

private:
  int mode;
  LogFileStreamBuf* logfile;
  std::streambuf* saved[3];
};

// Detaches the process and reroutes the standard streams; only the first call counts.
void Init(const Params& params);

}  // namespace Daemon
