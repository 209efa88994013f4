#include "foundation/log_output.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/logging.h"
#include "foundation/multiplexer.h"
#include "foundation/mux_time.h"
#include "foundation/timer.h"

namespace {

namespace fs = std::filesystem;

enum class Sink { Pipe, File };
enum class Ending { Term, Exit, Abort, Segv };

// Lines the flood writes before it is stopped or breaks down.
const unsigned kLines = 3000;
const unsigned kLinesPerPass = 40;

// Some lines are longer than the whole output queue.
std::string Body(unsigned i) {
  const size_t n = i % 997 == 500 ? 70000 : (i * 37) % 300;
  return std::string(n, char('a' + i % 26));
}

std::string Line(unsigned i) { return "L" + std::to_string(i) + " " + Body(i); }

std::ostream& StreamOf(unsigned i) {
  switch (i % 3) {
    case 0:
      return std::cout;
    case 1:
      return std::cerr;
    default:
      return std::clog;
  }
}

// One line in several insertions, ended by '\n' or std::endl.
void WriteLine(unsigned i) {
  std::ostream& s = StreamOf(i);
  const std::string body = Body(i);
  s << 'L' << i << ' ';
  s << body.substr(0, body.size() / 2);
  s << body.substr(body.size() / 2);
  if (i % 2)
    s << '\n';
  else
    s << std::endl;
}

// The daemon's way: the loop runs until SIGTERM, lines come from a timer.
struct Flood {
  Ending ending;
  int ready;
  unsigned next = 0;
  Timer timer;

  void On() {
    for (unsigned k = 0; k < kLinesPerPass; ++k) {
      WriteLine(next++);
      if (next != kLines) continue;
      switch (ending) {
        case Ending::Term: {
          const char c = 'r';
          (void)!::write(ready, &c, 1);
          break;
        }
        case Ending::Exit:
          std::cerr << "exiting";
          std::exit(3);
        case Ending::Abort:
          std::cout << "aborting";
          std::abort();
        case Ending::Segv:
          std::clog << "faulting";
          ::raise(SIGSEGV);
          break;
      }
    }
    timer.set(1, &Flood::On, this);
  }
};

void OnTerm(int) { multiplexer.terminate(); }

[[noreturn]] void Child(Sink sink, Ending ending, int out, int ready, const std::string& dir) {
  Mux::clear_cached_time();
  if (sink == Sink::Pipe) {
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
  }
  // The default actions, also under a sanitizer that keeps faults for itself.
  for (int signo : {SIGSEGV, SIGABRT}) ::signal(signo, SIG_DFL);
  Log::InstallLineOutput();
  if (sink == Sink::File) {
    LogFileStreamBuf* file = new LogFileStreamBuf(dir);
    std::cout.rdbuf(file);
    std::cerr.rdbuf(file);
    std::clog.rdbuf(file);
  }
  struct sigaction sa = {};
  sa.sa_handler = OnTerm;
  ::sigaction(SIGTERM, &sa, nullptr);

  Flood flood;
  flood.ending = ending;
  flood.ready = ready;
  flood.timer.set(1, &Flood::On, &flood);
  multiplexer.run(false, true);
  Log::LeaveLoop();
  std::clog << "stopped after " << flood.next << '\n';
  std::cout << "bye";
  std::exit(0);
}

// Strips "mm:ss:uuuuu: " (microseconds in five digits or more) off every
// line of a log file; false when one lacks it.
bool StripPrefixes(std::string& text) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    const size_t lf = text.find('\n', at);
    const size_t end = lf == std::string::npos ? text.size() : lf + 1;
    const std::string line = text.substr(at, end - at);
    size_t digits = 6;
    while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits]))) ++digits;
    if (digits < 11 || line[2] != ':' || line[5] != ':' || line.compare(digits, 2, ": ") != 0) return false;
    out += line.substr(digits + 2);
    at = end;
  }
  text = out;
  return true;
}

struct Case {
  const char* name;
  Sink sink;
  Ending ending;
  int status;  // exit code, or the signal that ended the child (negative)
  std::vector<std::string> tail;
};

// Runs the flood in a child with its output on the sink, ends it the case's
// way and reads back what arrived.
void RunCase(const Case& c) {
  char dirName[] = "/tmp/ulv-logoutXXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(dirName));
  const std::string dir = dirName;
  int out[2], ready[2];
  ASSERT_EQ(0, ::pipe(out));
  ASSERT_EQ(0, ::pipe(ready));
  // Nothing of ours that waits may come out of the child a second time.
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(out[0]);
    ::close(ready[0]);
    Child(c.sink, c.ending, out[1], ready[1], dir);
  }
  ::close(out[1]);
  ::close(ready[1]);

  // Reads the output while it comes; stops the child once it is ready.
  std::string text;
  bool outOpen = true, readyOpen = true;
  while (outOpen || readyOpen) {
    pollfd fds[2] = {{out[0], short(outOpen ? POLLIN : 0), 0}, {ready[0], short(readyOpen ? POLLIN : 0), 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    char buf[65536];
    if (fds[0].revents) {
      const ssize_t n = ::read(out[0], buf, sizeof buf);
      if (n > 0)
        text.append(buf, size_t(n));
      else
        outOpen = false;
    }
    if (fds[1].revents) {
      const ssize_t n = ::read(ready[0], buf, sizeof buf);
      if (n > 0)
        ::kill(pid, SIGTERM);
      else
        readyOpen = false;
    }
  }
  ::close(out[0]);
  ::close(ready[0]);
  int status = 0;
  ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
  if (c.status >= 0) {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.status) << status;
  } else {
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == -c.status) << status;
  }

  if (c.sink == Sink::File) {
    EXPECT_EQ("", text);
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const std::string& f : files) {
      std::ifstream in(f, std::ios::binary);
      std::ostringstream s;
      s << in.rdbuf();
      text += s.str();
    }
    EXPECT_TRUE(StripPrefixes(text));
  }
  fs::remove_all(dir);

  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  const bool endsInLineFeed = !text.empty() && text.back() == '\n';
  EXPECT_FALSE(endsInLineFeed);

  // Every flood line in order, then the tail; "*" is the count of lines.
  unsigned flooded = 0;
  while (flooded < lines.size() && lines[flooded] == Line(flooded)) ++flooded;
  ASSERT_EQ(flooded + c.tail.size(), lines.size())
      << "line " << flooded << " is \"" << lines[std::min(flooded, unsigned(lines.size() - 1))].substr(0, 60) << "\"";
  if (c.ending == Ending::Term)
    EXPECT_LE(kLines, flooded);
  else
    EXPECT_EQ(kLines, flooded);
  for (size_t k = 0; k < c.tail.size(); ++k) {
    std::string want = c.tail[k];
    const size_t star = want.find('*');
    if (star != std::string::npos) want.replace(star, 1, std::to_string(flooded));
    EXPECT_EQ(want, lines[flooded + k]);
  }
}

TEST(LogOutput, FloodArrivesWholeAndInOrderWhateverEndsTheProcess) {
  const Case cases[] = {
      {"pipe, SIGTERM", Sink::Pipe, Ending::Term, 0, {"Mux: terminating...", "stopped after *", "bye"}},
      {"pipe, exit()", Sink::Pipe, Ending::Exit, 3, {"exiting"}},
      {"pipe, abort()", Sink::Pipe, Ending::Abort, -SIGABRT, {"aborting"}},
      {"pipe, SIGSEGV", Sink::Pipe, Ending::Segv, -SIGSEGV, {"faulting"}},
      {"hourly file, SIGTERM", Sink::File, Ending::Term, 0, {"Mux: terminating...", "stopped after *", "bye"}},
      {"hourly file, abort()", Sink::File, Ending::Abort, -SIGABRT, {"aborting"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunCase(c);
  }
}

// A line begun in one pass and ended in the next leaves in one write, so a
// child writing to the same descriptor cannot land inside it.
TEST(LogOutput, AnUnfinishedLineWaitsForItsEnd) {
  int p[2];
  ASSERT_EQ(0, ::pipe2(p, O_NONBLOCK));
  {
    Log::LineBuf buf(p[1]);
    std::ostream s(&buf);
    Log::EndOfPass();
    s << "head " << std::flush;
    Log::EndOfPass();
    char got[64];
    EXPECT_EQ(-1, ::read(p[0], got, sizeof got));
    s << "tail\n";
    const unsigned long before = Log::Output::instance().writes();
    Log::EndOfPass();
    EXPECT_EQ(before + 1, Log::Output::instance().writes());
    const ssize_t n = ::read(p[0], got, sizeof got);
    EXPECT_EQ("head tail\n", std::string(got, size_t(std::max<ssize_t>(n, 0))));
    Log::LeaveLoop();
  }
  ::close(p[0]);
  ::close(p[1]);
}

}  // namespace
