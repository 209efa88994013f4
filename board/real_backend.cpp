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

void Start() {}

}  // namespace Board
