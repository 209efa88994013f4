#include "hardware/hang_up.h"

#include <errno.h>
#include <poll.h>

namespace Hardware {

bool HungUp(int fd) {
  if (fd < 0) return false;
  const int saved = errno;
  pollfd p = {fd, 0, 0};
  const bool gone = ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
  errno = saved;
  return gone;
}

}  // namespace Hardware
