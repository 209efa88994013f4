#pragma once
// Daemon mode: detaching, and routing the standard streams to syslog or to
// hourly log files.
#include <fstream>
#include <streambuf>
#include <string>

// Writes a stream into "<dir>/%Y_%m_%d-%H.log", a new file for every hour of
// local time, each line prefixed with "mm:ss:uuuuu: ".
class LogFileStreamBuf : public std::streambuf {
public:
  explicit LogFileStreamBuf(const std::string& dir);
  LogFileStreamBuf(const LogFileStreamBuf&) = delete;
  LogFileStreamBuf& operator=(const LogFileStreamBuf&) = delete;
  ~LogFileStreamBuf() override;

protected:
  std::streambuf* setbuf(char* buffer, std::streamsize size) override;
  int sync() override;
  int overflow(int c) override;

private:
  void allocate(std::streamsize size);
  // Opens the file of the given local time when its stamp differs from the open one's.
  void NewFile(const struct tm& local);
  void write(const char* text, size_t len);

  std::filebuf* file;
  std::string dir;
  std::string stamp;
  bool midline;
  char* area;
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
