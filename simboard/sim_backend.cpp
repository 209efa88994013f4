// The seam on the host: every board device is a simulated one.
#include "board/board.h"
#include "foundation/sys_paths.h"
#include "simboard/control_socket.h"
#include "simboard/simulator.h"

namespace Board {

Fd open(const char* path, int flags) { return SimBoard::Simulator::instance().open(path, flags); }

int ioctl(int fd, Request request, void* arg) { return SimBoard::Simulator::instance().ioctl(fd, request, arg); }

int ioctlValue(int fd, Request request, unsigned long value) {
  return SimBoard::Simulator::instance().ioctl_value(fd, request, value);
}

void Start() {
  SimBoard::Simulator& sim = SimBoard::Simulator::instance();
  static SimBoard::ControlServer control(sim, SysPaths::resolve(SysPaths::kSimBoardSocket));
  control.Listen();
}

}  // namespace Board
