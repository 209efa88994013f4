#pragma once
// A board device that the daemon holds open can go away under it: the driver
// hangs the descriptor up (poll says POLLHUP, reads end, every request fails
// with EIO). A request's failure alone does not tell that apart from a
// refusal of that one request; the descriptor's poll result does.

namespace Hardware {

// True when the device behind the descriptor has hung up or reports an
// error, or the descriptor is not open: only a new open helps then. A driver
// whose poll never says so is never taken for gone. errno is left as it was.
bool HungUp(int fd);

}  // namespace Hardware
