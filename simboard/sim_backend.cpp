// The seam on the host: every board device is a simulated one.
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

void Start() {
  SimBoard::Simulator& sim = SimBoard::Simulator::instance();
  if (auto* files = sim.device<SimBoard::BoardFiles>(SimBoard::BoardFiles::kName)) files->place(SysPaths::kRootPrefix);
  static SimBoard::ControlServer control(sim, SysPaths::resolve(SysPaths::kSimBoardSocket));
  control.Listen();
}

}  // namespace Board
