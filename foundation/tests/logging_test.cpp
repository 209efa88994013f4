#include "foundation/logging.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

#include "foundation/mux_time.h"
#include "foundation/sys_paths.h"
#include "foundation/syslog.h"

namespace {

namespace fs = std::filesystem;

// 2023-08-09 20:31:05 UTC and 1234 microseconds.
const time_t kNow = 1691613065;
const char kStamp[] = "Aug  9 20:31:05 ";
const char kIdent[] = "ulv-T230809-2031";

class TempDir {
public:
  TempDir() {
    char path[] = "/tmp/ulv-logXXXXXX";
    dir = ::mkdtemp(path) ? path : "";
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  std::string dir;
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Local time is UTC and every clock read gives the cached time.
class FixedClock {
public:
  FixedClock() {
    const char* tz = std::getenv("TZ");
    hadTz = tz != nullptr;
    if (tz) oldTz = tz;
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    at(kNow, 1234);
  }
  ~FixedClock() {
    Mux::clear_cached_time();
    if (hadTz)
      ::setenv("TZ", oldTz.c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }
  static void at(time_t t, long usec) { Mux::set_cached_time(Mux::timeval(t, usec)); }

private:
  bool hadTz;
  std::string oldTz;
};

// A datagram socket in the place of the system's syslog receiver.
class Receiver {
public:
  explicit Receiver(const std::string& path, int type = SOCK_DGRAM) : path(path) {
    fd = ::socket(AF_UNIX, type, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    ::unlink(path.c_str());
    EXPECT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a));
    if (type == SOCK_STREAM) {
      EXPECT_EQ(0, ::listen(fd, 1));
    }
  }
  ~Receiver() {
    ::close(fd);
    ::unlink(path.c_str());
  }
  // Every datagram that has arrived, waiting up to timeoutMs for the first.
  std::vector<std::string> take(int timeoutMs = 0) {
    std::vector<std::string> out;
    pollfd p{fd, POLLIN, 0};
    if (timeoutMs > 0 && ::poll(&p, 1, timeoutMs) <= 0) return out;
    char buf[65536];
    for (;;) {
      ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
      if (n < 0) break;
      out.emplace_back(buf, n);
    }
    return out;
  }
  int fd;
  std::string path;
};

std::string msg(int priority, const std::string& text, const std::string& ident = kIdent) {
  std::string m = "<" + std::to_string(priority) + ">" + kStamp;
  if (!ident.empty()) m += ident + ": ";
  return m + text + std::string(1, '\0');
}

// syslogManager talks to a receiver in a temp dir.
class Logging : public ::testing::Test {
protected:
  void SetUp() override {
    socketPath = tmp.dir + "/log";
    receiver.reset(new Receiver(socketPath));
    syslogManager.closelog();
    ASSERT_TRUE(syslogManager.setSocketPath(socketPath));
    syslogManager.openlog(kIdent, LOG_NDELAY, LOG_USER);
  }
  void TearDown() override {
    syslogManager.closelog();
    syslogManager.setSocketPath(SysPaths::resolve(SysPaths::kSyslogSocket));
  }

  FixedClock clock;
  TempDir tmp;
  std::string socketPath;
  std::unique_ptr<Receiver> receiver;
};

using Datagrams = std::vector<std::string>;

TEST_F(Logging, CerrLineIsOneDatagram) {
  ManagedSysLogStreamBuf buf(3, 3);
  std::streambuf* old = std::cerr.rdbuf(&buf);
  std::cerr << "ctrl [" << 5 << "]: link down";
  Datagrams early = receiver->take();
  std::cerr << "!!!" << std::endl;
  std::cerr.rdbuf(old);
  EXPECT_TRUE(early.empty());
  EXPECT_EQ(Datagrams{msg(27, "ctrl [5]: link down!!!")}, receiver->take());
}

TEST_F(Logging, LinesOfOneFlushShareOneDatagram) {
  const struct {
    const char* name;
    const char* text;
    Datagrams expected;
  } cases[] = {
      {"three lines", "a\nb\nc\n", {msg(29, "a") + msg(29, "b") + msg(29, "c")}},
      {"text after the last line feed", "a\nrest", {msg(29, "a") + msg(29, "rest")}},
      {"empty line", "\nx\n", {msg(29, "") + msg(29, "x")}},
      {"percent verbatim", "100%s done %d %n\n", {msg(29, "100%s done %d %n")}},
      {"no line feed waits", "partial", {}},
  };
  for (const auto& c : cases) {
    ManagedSysLogStreamBuf buf(3, 5);
    std::ostream os(&buf);
    os << c.text << std::flush;
    EXPECT_EQ(c.expected, receiver->take()) << c.name;
  }
}

TEST_F(Logging, UnfinishedLineWaitsForItsLineFeed) {
  ManagedSysLogStreamBuf buf(3, 7);
  std::ostream os(&buf);
  os << "partial" << std::flush;
  EXPECT_TRUE(receiver->take().empty());
  os << " more" << std::endl;
  EXPECT_EQ(Datagrams{msg(31, "partial more")}, receiver->take());
}

TEST_F(Logging, FullAreaIsSentWithoutLineFeed) {
  ManagedSysLogStreamBuf buf(3, 7);
  std::ostream os(&buf);
  os << std::string(16383, 'x');
  EXPECT_TRUE(receiver->take().empty());
  os << 'y';
  Datagrams got = receiver->take();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(1024u, got[0].size());
  EXPECT_EQ(0, got[0].compare(0, 4, "<31>"));
  EXPECT_EQ('\0', got[0].back());
  os << std::endl;
  EXPECT_EQ(Datagrams{msg(31, "y")}, receiver->take());
}

TEST_F(Logging, SmallerAreaThroughSetbuf) {
  ManagedSysLogStreamBuf buf(3, 5);
  std::ostream os(&buf);
  os << "kept";
  buf.pubsetbuf(nullptr, 1);
  EXPECT_TRUE(receiver->take().empty());
  buf.pubsetbuf(nullptr, 11);
  EXPECT_TRUE(receiver->take().empty());
  os << "0123456789ab";
  EXPECT_EQ(Datagrams{msg(29, "kept012345")}, receiver->take());
  os << std::endl;
  EXPECT_EQ(Datagrams{msg(29, "6789ab")}, receiver->take());
}

TEST_F(Logging, MessageIsCutToItsBuffer) {
  syslogManager.syslog(LOG_DAEMON | LOG_ERR, "%s", std::string(3000, 'z').c_str());
  syslogManager.sendmsg();
  Datagrams got = receiver->take();
  ASSERT_EQ(1u, got.size());
  std::string expected = msg(27, "");
  expected.pop_back();
  expected += std::string(1023 - expected.size(), 'z') + std::string(1, '\0');
  EXPECT_EQ(expected, got[0]);
}

TEST_F(Logging, PriorityFacilityIdentityAndPid) {
  syslogManager.syslog(LOG_ERR, "user");
  syslogManager.syslog(LOG_LOCAL0 | LOG_INFO, "local");
  syslogManager.openlog("", LOG_NDELAY, 0);
  syslogManager.syslog(LOG_DAEMON | LOG_NOTICE, "bare");
  syslogManager.openlog(kIdent, LOG_NDELAY | LOG_PID, LOG_DAEMON);
  syslogManager.syslog(LOG_WARNING, "pid");
  syslogManager.sendmsg();
  const std::string pid = "[" + std::to_string(::getpid()) + "]";
  EXPECT_EQ(Datagrams{msg(11, "user") + msg(134, "local") + msg(29, "bare", "") + "<28>" + kStamp + kIdent + pid +
                      ": pid" + std::string(1, '\0')},
            receiver->take());
}

TEST_F(Logging, PerrorCopiesTheMessageToStandardError) {
  int pipeFds[2];
  ASSERT_EQ(0, ::pipe(pipeFds));
  const int savedErr = ::dup(STDERR_FILENO);
  ::dup2(pipeFds[1], STDERR_FILENO);
  syslogManager.openlog(kIdent, LOG_NDELAY | LOG_PERROR, 0);
  syslogManager.syslog(LOG_ERR, "no newline");
  syslogManager.syslog(LOG_ERR, "own newline\n");
  ::dup2(savedErr, STDERR_FILENO);
  ::close(savedErr);
  ::close(pipeFds[1]);
  char buf[256];
  ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
  ::close(pipeFds[0]);
  EXPECT_EQ(std::string(kIdent) + ": no newline\n" + kIdent + ": own newline\n", std::string(buf, n > 0 ? n : 0));
}

TEST_F(Logging, BatchIsSentWhenFull) {
  for (int i = 0; i < 255; ++i) syslogManager.syslog(LOG_ERR, "%d", i);
  EXPECT_TRUE(receiver->take().empty());
  syslogManager.syslog(LOG_ERR, "last");
  Datagrams got = receiver->take();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(256, std::count(got[0].begin(), got[0].end(), '\0'));
  EXPECT_EQ(msg(11, "last"), got[0].substr(got[0].size() - msg(11, "last").size()));

  const std::string big(1100, 'b');
  for (int i = 0; i < 12; ++i) syslogManager.syslog(LOG_ERR, "%s", big.c_str());
  EXPECT_TRUE(receiver->take().empty());
  syslogManager.syslog(LOG_ERR, "%s", big.c_str());
  got = receiver->take();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(13 * 1024u, got[0].size());
}

TEST_F(Logging, ClosedBatchIsDropped) {
  syslogManager.syslog(LOG_ERR, "pending");
  syslogManager.closelog();
  syslogManager.sendmsg();
  EXPECT_TRUE(receiver->take().empty());
}

TEST_F(Logging, ReceiverRestartIsSurvived) {
  ManagedSysLogStreamBuf buf(3, 3);
  std::ostream os(&buf);
  os << "one" << std::endl;
  EXPECT_EQ(Datagrams{msg(27, "one")}, receiver->take());
  receiver.reset();
  os << "lost" << std::endl;
  receiver.reset(new Receiver(socketPath));
  os << "two" << std::endl;
  EXPECT_EQ(Datagrams{msg(27, "two")}, receiver->take());
}

TEST_F(Logging, StreamReceiverGetsNulEndedMessages) {
  receiver.reset();
  Receiver listener(socketPath, SOCK_STREAM);
  syslogManager.closelog();
  syslogManager.openlog(kIdent, LOG_NDELAY, 0);
  ASSERT_GT(syslogManager.fd(), 0);
  int conn = ::accept(listener.fd, nullptr, nullptr);
  ASSERT_GE(conn, 0);
  ManagedSysLogStreamBuf buf(3, 3);
  std::ostream os(&buf);
  os << "a\nb" << std::endl;
  char data[256];
  std::string got;
  const std::string expected = msg(27, "a") + msg(27, "b");
  while (got.size() < expected.size()) {
    ssize_t n = ::recv(conn, data, sizeof data, 0);
    if (n <= 0) break;
    got.append(data, n);
  }
  ::close(conn);
  EXPECT_EQ(expected, got);
}

// The base buffer's line splitting, seen through its put().
class CapturingBuf : public SysLogStreamBuf {
public:
  CapturingBuf() : SysLogStreamBuf(3, 6) {}
  std::vector<std::string> lines;
  int prio() const { return priority; }

protected:
  void put(const char* text, size_t len) override { lines.emplace_back(text, len); }
};

TEST(SysLogStreamBuf, SplitsLikeTheManagedOne) {
  CapturingBuf buf;
  std::ostream os(&buf);
  EXPECT_EQ(30, buf.prio());
  os << "x\ny" << std::flush;
  EXPECT_EQ((std::vector<std::string>{"x", "y"}), buf.lines);
  buf.lines.clear();
  os << "wait" << std::flush;
  EXPECT_TRUE(buf.lines.empty());
  os << std::string(1019, '.') << "!";
  ASSERT_EQ(1u, buf.lines.size());
  EXPECT_EQ("wait" + std::string(1019, '.'), buf.lines[0]);
}

class LogFile : public ::testing::Test {
protected:
  void at(time_t t, long usec) { FixedClock::at(t, usec); }
  std::string file(const std::string& stamp) { return readFile(tmp.dir + "/" + stamp + ".log"); }

  FixedClock clock;
  TempDir tmp;
};

TEST_F(LogFile, LinesGetTimePrefixAndStayWhole) {
  LogFileStreamBuf buf(tmp.dir);
  std::ostream os(&buf);
  os << "first line" << std::endl;
  os << "a long line that goes past the small area" << std::endl;
  at(kNow + 1, 99);
  os << "part" << std::flush;
  at(kNow + 2, 7);
  os << "ial\nnext\n" << std::flush;
  EXPECT_EQ(
      "31:05:01234: first line\n"
      "31:05:01234: a long line that goes past the small area\n"
      "31:06:00099: partial\n"
      "31:07:00007: next\n",
      file("2023_08_09-20"));
}

TEST_F(LogFile, NewFileWheneverTheStampChanges) {
  const struct {
    time_t t;
    const char* line;
  } steps[] = {{kNow, "a"},                    // 20:31
               {kNow + 28 * 60, "b"},          // 20:59
               {kNow + 29 * 60, "c"},          // 21:00
               {kNow + 29 * 60 + 86400, "d"},  // next day 21:00
               {kNow + 86400, "e"}};           // next day 20:31
  LogFileStreamBuf buf(tmp.dir);
  std::ostream os(&buf);
  for (const auto& s : steps) {
    at(s.t, 0);
    os << s.line << std::endl;
  }
  EXPECT_EQ("31:05:00000: a\n59:05:00000: b\n", file("2023_08_09-20"));
  EXPECT_EQ("00:05:00000: c\n", file("2023_08_09-21"));
  EXPECT_EQ("00:05:00000: d\n", file("2023_08_10-21"));
  EXPECT_EQ("31:05:00000: e\n", file("2023_08_10-20"));
}

TEST_F(LogFile, ExistingFileOfTheSameHourIsKept) {
  std::ofstream(tmp.dir + "/2023_08_09-20.log") << "before restart\n";
  LogFileStreamBuf buf(tmp.dir);
  std::ostream os(&buf);
  os << "after" << std::endl;
  EXPECT_EQ("before restart\n31:05:01234: after\n", file("2023_08_09-20"));
}

TEST_F(LogFile, MissingDirectoryLosesOnlyTheLines) {
  LogFileStreamBuf buf(tmp.dir + "/absent");
  std::ostream os(&buf);
  os << "nowhere" << std::endl;
  fs::create_directory(tmp.dir + "/absent");
  at(kNow + 3600, 0);
  os << "somewhere" << std::endl;
  EXPECT_EQ("31:05:00000: somewhere\n", readFile(tmp.dir + "/absent/2023_08_09-21.log"));
}

// Daemon::Init detaches and rewires the process for good, so it runs only in
// a forked child; the detached grandchild reports through a pipe when done.
class DaemonMode : public Logging {
protected:
  template <class Body>
  void runDetached(Body body) {
    int done[2];
    ASSERT_EQ(0, ::pipe(done));
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(done[0]);
      body();
      char c = 'k';
      ssize_t ignored = ::write(done[1], &c, 1);
      (void)ignored;
      ::_exit(0);
    }
    ::close(done[1]);
    int status = -1;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    pollfd p{done[0], POLLIN, 0};
    EXPECT_EQ(1, ::poll(&p, 1, 10000));
    char c = 0;
    EXPECT_EQ(1, ::read(done[0], &c, 1));
    ::close(done[0]);
  }
};

TEST_F(DaemonMode, SyslogModeRoutesStreamsAndDescriptors) {
  syslogManager.closelog();
  runDetached([] {
    Daemon::Params params;
    params.nochdir = true;
    params.name = std::string(100, 'i');
    Daemon::Init(params);
    Daemon::Params other;
    other.name = "second";
    Daemon::Init(other);
    std::cerr << "err" << std::endl;
    std::cout << "out" << std::endl;
    std::clog << "dbg" << std::endl;
    ssize_t ignored = ::write(STDOUT_FILENO, "raw", 3);
    (void)ignored;
  });
  const std::string ident(79, 'i');
  Datagrams got;
  for (int i = 0; i < 10 && got.size() < 4; ++i)
    for (auto& d : receiver->take(1000)) got.push_back(d);
  EXPECT_EQ((Datagrams{msg(27, "err", ident), msg(29, "out", ident), msg(31, "dbg", ident), "raw"}), got);
}

TEST_F(DaemonMode, LogFileModeWritesAllStreamsToOneFile) {
  const std::string dir = tmp.dir;
  runDetached([dir] {
    Daemon::Params params;
    params.mode = 1;
    params.nochdir = true;
    params.name = dir;
    Daemon::Init(params);
    std::cout << "out" << std::endl;
    std::cerr << "err" << std::endl;
    std::clog << "dbg" << std::endl;
  });
  EXPECT_EQ("31:05:01234: out\n31:05:01234: err\n31:05:01234: dbg\n", readFile(dir + "/2023_08_09-20.log"));
}

}  // namespace
