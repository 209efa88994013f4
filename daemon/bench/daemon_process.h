#pragma once
// The daemon binary on a free loopback port for a benchmark's whole run.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "foundation/os.h"

namespace bench {

inline unsigned short FreePort() {
  Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  socklen_t len = sizeof sa;
  ::getsockname(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len);
  return ntohs(sa.sin_port);
}

class DaemonProcess {
public:
  // Its output goes to log; a cpu of 0 or more keeps it on that CPU.
  explicit DaemonProcess(std::string const& binary, std::string const& log = "/dev/null", int cpu = -1)
      : port(FreePort()) {
    pid = ::fork();
    if (pid == 0) {
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
  pid_t pid;
};

}  // namespace bench
