#pragma once
// The daemon binary for a benchmark's whole run, on ports the tests' helper
// chose (its controller port and its authentication link's), so that it
// listens beside another daemon of the same build.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "foundation/os.h"
#include "foundation/sys_paths.h"
#include "transport/testing/free_port.h"

namespace bench {

class DaemonProcess {
public:
  // Its output goes to log; a cpu of 0 or more keeps it on that CPU.
  explicit DaemonProcess(std::string const& binary, std::string const& log = "/dev/null", int cpu = -1)
      : port(porttest::Reserve()), authPort(porttest::Reserve()) {
    pid = ::fork();
    if (pid == 0) {
      ::setenv(SysPaths::kAuthPortVariable, std::to_string(authPort).c_str(), 1);
      if (cpu >= 0) {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(cpu, &set);
        ::sched_setaffinity(0, sizeof set, &set);
      }
      const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out, 1);
      ::dup2(out, 2);
      const std::string portText = std::to_string(port);
      ::execl(binary.c_str(), binary.c_str(), "--port", portText.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  DaemonProcess(DaemonProcess const&) = delete;
  DaemonProcess& operator=(DaemonProcess const&) = delete;
  ~DaemonProcess() {
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  }

  unsigned short port;
  unsigned short authPort;
  pid_t pid;
};

}  // namespace bench
