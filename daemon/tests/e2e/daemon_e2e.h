#pragma once
// The daemon binary as the end-to-end tests see it: started as a process on a
// free loopback port, with the configuration file under the build's system
// root, and a controller connected.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "control/testing/test_controller.h"
#include "foundation/sys_paths.h"
#include "messages/LGCP.h"
#include "transport/testing/free_port.h"

namespace e2e {

using CtrlTest::Controller;
using Clock = std::chrono::steady_clock;

inline std::string ReadFile(std::string const& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline bool Exists(std::string const& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

inline bool contains(std::string const& text, std::string const& part) { return text.find(part) != std::string::npos; }

inline int count(std::string const& text, std::string const& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// A port for a listener of the test or of its daemon: free, below the host's
// ephemeral range and kept from the other test processes.
inline unsigned short FreePort() { return porttest::Reserve(); }

// The authentication link's port of every daemon this test process starts,
// in their environment.
inline unsigned short AuthPort() {
  static const unsigned short port = [] {
    const unsigned short p = FreePort();
    ::setenv(SysPaths::kAuthPortVariable, std::to_string(p).c_str(), 1);
    return p;
  }();
  return port;
}

// Polls for a condition the daemon brings about by itself.
template <class Predicate>
inline bool Eventually(Predicate done, int timeout_ms = 5000) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class Process {
public:
  Process() {
    char dir[] = "/tmp/ulvarond-e2e-XXXXXX";
    if (::mkdtemp(dir)) workDir = dir;
  }
  ~Process() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    std::remove(OutPath().c_str());
    std::remove(ErrPath().c_str());
    ::rmdir(workDir.c_str());
  }

  bool Start(std::vector<std::string> const& args) {
    std::vector<std::string> all = {ULVAROND_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    AuthPort();
    pid = ::fork();
    if (pid != 0) return pid > 0;
    const int out = ::open(OutPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(ErrPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(err, 2);
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }

  // The exit code, or -1 when it did not end in time (it is killed then) or
  // ended by a signal.
  int Wait(int timeout_ms = 10000) {
    int status = 0;
    const bool ended = Eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeout_ms);
    if (!ended) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
    }
    pid = -1;
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  bool Signal(int signo) const { return pid > 0 && ::kill(pid, signo) == 0; }
  int Pid() const { return pid; }
  std::string Out() const { return ReadFile(OutPath()); }
  std::string Err() const { return ReadFile(ErrPath()); }

private:
  std::string OutPath() const { return workDir + "/stdout"; }
  std::string ErrPath() const { return workDir + "/stderr"; }

  std::string workDir;
  pid_t pid = -1;
};

// A file for the time of a test, with the mode given (0 or more); one that
// was there is put back.
class TempFile {
public:
  TempFile(std::string p, std::string const& text, int mode = -1) : path(std::move(p)) {
    existed = Exists(path);
    if (existed) saved = ReadFile(path);
    std::ofstream(path) << text;
    if (mode >= 0) ::chmod(path.c_str(), mode_t(mode));
  }
  TempFile(TempFile const&) = delete;
  TempFile& operator=(TempFile const&) = delete;
  ~TempFile() {
    if (existed)
      std::ofstream(path) << saved;
    else
      std::remove(path.c_str());
  }

private:
  std::string path;
  bool existed = false;
  std::string saved;
};

// The configuration file for the time of a test.
class ConfigFile : public TempFile {
public:
  explicit ConfigFile(std::string const& text) : TempFile(SysPaths::resolve(SysPaths::kConfigFile), text) {}
};

class Daemon : public ::testing::Test {
protected:
  void SetUp() override {
    std::remove(statusPath.c_str());
    // The board's services signal on their own.
    controller.SetSignalsApart(true);
  }

  void Run(std::string const& config = "[traces]\nsignalling.hdlc=true\n", std::vector<std::string> args = {}) {
    configFile.reset(new ConfigFile(config));
    port = FreePort();
    ASSERT_TRUE(daemon.Start(WithPort(args)));
    ASSERT_TRUE(controller.Connect(port, 10000)) << daemon.Err();
    LGCP::Message answer;
    ASSERT_EQ(Controller::Ok, controller.Call(Controller::Ping(1), answer, 5000)) << daemon.Err();
  }

  std::vector<std::string> WithPort(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--port", std::to_string(port)});
    return args;
  }

  LGCP::Message Call(LGCP::Message const& request) {
    LGCP::Message answer;
    EXPECT_EQ(Controller::Ok, controller.Call(request, answer, 5000));
    return answer;
  }

  // count frames of the same payload in one write, as a hostile controller
  // would send them; the octets sent.
  size_t SendFrames(std::string const& payload, unsigned count) {
    const std::string one = Controller::Frame(payload);
    std::string all;
    all.reserve(one.size() * count);
    for (unsigned i = 0; i < count; ++i) all += one;
    EXPECT_TRUE(controller.SendBytes(all));
    return all.size();
  }

  // What the daemon has logged so far.
  size_t LogOctets() const { return daemon.Err().size(); }

  int Stop(int signo = SIGTERM) {
    EXPECT_TRUE(daemon.Signal(signo));
    return daemon.Wait();
  }

  const std::string pidPath = SysPaths::resolve(SysPaths::kRunDir) + "server.pid";
  const std::string statusPath = SysPaths::resolve(SysPaths::kStatusDump);
  std::unique_ptr<ConfigFile> configFile;
  Process daemon;
  unsigned short port = 0;
  Controller controller;
};

// Gone, or a zombie that init has not reaped yet.
inline bool Ended(int pid) {
  if (::kill(pid, 0) != 0) return true;
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z';
}

struct Finished {
  int code;
  std::string out;
  std::string err;
};

inline Finished RunToEnd(std::vector<std::string> const& args) {
  Process p;
  if (!p.Start(args)) return Finished{-1, "", ""};
  const int code = p.Wait();
  return Finished{code, p.Out(), p.Err()};
}

}  // namespace e2e
