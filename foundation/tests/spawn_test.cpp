#include "foundation/spawn.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int WaitStatus(int pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

// The child sees descriptors 0 and 1, nothing open above 2 (an inherited
// descriptor without close-on-exec included) and SIGPIPE at its default
// even when the parent catches it.
TEST(Spawn, ChildGetsInputOnlyStandardDescriptorsAndDefaultSignals) {
  char dir[] = "/tmp/spawn-XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(dir));
  const std::string out = std::string(dir) + "/out";
  const int leak = ::open("/dev/null", O_RDONLY);  // no close-on-exec
  ASSERT_GT(leak, 2);
  struct sigaction sa {};
  sa.sa_handler = [](int) {};
  struct sigaction old {};
  ::sigaction(SIGPIPE, &sa, &old);
  int in[2];
  ASSERT_EQ(0, ::pipe(in));
  ASSERT_EQ(1, ::write(in[1], "x", 1));
  ::close(in[1]);
  int output[2];
  ASSERT_EQ(0, ::pipe(output));

  Spawn::Params p;
  p.program = "/bin/sh";
  p.argv = {"sh", "-c",
            "echo \"in=$(head -c1)\" >" + out + "; ls /proc/self/fd >>" + out +
                "; grep SigIgn /proc/self/status >>" + out + "; echo to-output"};
  p.input = in[0];
  p.output = output[1];
  const Spawn::Result r = Spawn::Start(p);
  ::close(in[0]);
  ::close(output[1]);
  ::close(leak);
  ::sigaction(SIGPIPE, &old, nullptr);
  ASSERT_GT(r.pid, 0);
  EXPECT_EQ(0, r.error);
  EXPECT_EQ(0, WaitStatus(r.pid));
  char said[32] = {};
  EXPECT_EQ(10, ::read(output[0], said, sizeof said - 1));
  EXPECT_STREQ("to-output\n", said);
  ::close(output[0]);
  const std::string text = Slurp(out);
  EXPECT_NE(std::string::npos, text.find("in=x")) << text;
  // ls lists 0, 1, 2 and its own directory descriptor (3) only.
  std::istringstream lines(text);
  std::string line;
  int fds = 0;
  while (std::getline(lines, line))
    if (!line.empty() && isdigit(static_cast<unsigned char>(line[0]))) ++fds;
  EXPECT_EQ(4, fds) << text;
  EXPECT_NE(std::string::npos, text.find("SigIgn:\t0000000000000000")) << text;
  std::remove(out.c_str());
  ::rmdir(dir);
}

TEST(Spawn, FailedExecIsToldAndEndsWithTheCode) {
  Spawn::Params p;
  p.program = "/nonexistent/program";
  p.argv = {"program"};
  p.execFailCode = 2;
  const Spawn::Result r = Spawn::Start(p);
  ASSERT_GT(r.pid, 0);
  EXPECT_EQ(ENOENT, r.error);
  EXPECT_EQ(512, WaitStatus(r.pid));

  // A child that waits before its exec is not waited for: whether its exec
  // ran is told once it has ended.
  p.delaySeconds = 1;
  Spawn::Result failed = Spawn::Start(p);
  p.program = "/bin/true";
  Spawn::Result ran = Spawn::Start(p);
  ASSERT_GT(failed.pid, 0);
  ASSERT_GT(ran.pid, 0);
  EXPECT_EQ(0, failed.error);
  EXPECT_EQ(512, WaitStatus(failed.pid));
  EXPECT_EQ(0, WaitStatus(ran.pid));
  EXPECT_EQ(ENOENT, Spawn::ExecError(failed.report));
  EXPECT_EQ(0, Spawn::ExecError(ran.report));
  EXPECT_FALSE(failed.report.is_valid());
}

}  // namespace
