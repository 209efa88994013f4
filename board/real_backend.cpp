// The board's own devices: the seam passes straight through to the driver.
#include <fcntl.h>
#include <sys/ioctl.h>

#include "board/board.h"

namespace Board {

Fd open(const char* path, int flags) { return Fd(::open(path, flags | O_CLOEXEC)); }

int ioctl(int fd, Request request, void* arg) { return ::ioctl(fd, static_cast<unsigned long>(request), arg); }

int ioctlValue(int fd, Request request, unsigned long value) {
  return ::ioctl(fd, static_cast<unsigned long>(request), value);
}

void ioctlEach(int fd, Request request, void* records, std::size_t size, std::size_t n) {
  unsigned char* at = static_cast<unsigned char*>(records);
  for (std::size_t i = 0; i < n; ++i, at += size) ::ioctl(fd, static_cast<unsigned long>(request), at);
}

int netif(int socket, unsigned long request, void* ifreq) { return ::ioctl(socket, request, ifreq); }

unsigned short authPort(unsigned short board) { return board; }

int findProcess(const char* name, int pid_hint) { return find_proc_by_name(name, pid_hint); }

void Start() {}

}  // namespace Board
