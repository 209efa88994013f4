// The seam on the host: every board device is a simulated one.
#include <stdlib.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "board/board.h"
#include "foundation/sys_paths.h"
#include "simboard/board_files.h"
#include "simboard/control_socket.h"
#include "simboard/simulator.h"

namespace Board {

Fd open(const char* path, int flags) { return SimBoard::Simulator::instance().open(path, flags); }

int ioctl(int fd, Request request, void* arg) { return SimBoard::Simulator::instance().ioctl(fd, request, arg); }

int ioctlValue(int fd, Request request, unsigned long value) {
  return SimBoard::Simulator::instance().ioctl_value(fd, request, value);
}

void ioctlEach(int fd, Request request, void* records, std::size_t size, std::size_t n) {
  SimBoard::Simulator::instance().ioctl_each(fd, request, records, size, n);
}

int netif(int socket, unsigned long request, void* ifreq) {
  return SimBoard::Simulator::instance().netif(socket, request, ifreq);
}

unsigned short authPort(unsigned short board) {
  const long moved = SysPaths::authPortFromEnvironment();
  if (moved < 0)
    std::cerr << SysPaths::kAuthPortVariable << "=\"" << std::getenv(SysPaths::kAuthPortVariable)
              << "\" names no port, " << board << " used" << std::endl;
  return moved > 0 ? static_cast<unsigned short>(moved) : board;
}

int findProcess(const char* name, int pid_hint) {
  // Where the programs of this simulated board lie, as /proc shows a
  // program's path.
  static const std::string root = [] {
    char* real = ::realpath(SysPaths::kRootPrefix, nullptr);
    std::string path = real ? real : SysPaths::kRootPrefix;
    std::free(real);
    return path + "/";
  }();
  return find_proc_by_name(name, pid_hint, root.c_str());
}

void Start() {
  SimBoard::Simulator& sim = SimBoard::Simulator::instance();
  if (auto* files = sim.device<SimBoard::BoardFiles>(SimBoard::BoardFiles::kName)) files->place(SysPaths::kRootPrefix);
  static SimBoard::ControlServer control(sim, SysPaths::resolve(SysPaths::kSimBoardSocket));
  control.Listen();
}

}  // namespace Board
