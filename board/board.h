#pragma once
// The one seam between the daemon and the board's devices. Every board device
// ("/dev/hal", "/dev/mcc/ctl", ...) is opened and controlled through these
// calls; read, write, poll and close stay plain system calls on the returned
// descriptor. The backend is chosen at build time: the board build links the
// real one (open/ioctl on the device files), the host build the simulated board.
#include <cstddef>
#include <cstdint>

#include "foundation/os.h"

namespace Board {

// A board request number as the board's driver defines it (PowerPC ioctl
// encoding), never built with the host's _IOR/_IOW.
using Request = std::uint32_t;

// Opens the device by its board name. An empty Fd with errno set on failure.
Fd open(const char* path, int flags);

// A request whose argument is a pointer to a record. ioctl's result: -1 with
// errno on failure.
int ioctl(int fd, Request request, void* arg);

// A request whose argument is passed as the value itself.
int ioctlValue(int fd, Request request, unsigned long value);

// The pointer request once for each of n records (not null) of size octets
// that lie one after the other, in their order, as n ioctl calls would make
// them; the results are not looked at. For requests repeated in bulk.
void ioctlEach(int fd, Request request, void* records, std::size_t size, std::size_t n);

// A network-interface request (SIOCGIFINDEX, SIOCGIFFLAGS, SIOCSIFFLAGS,
// SIOCWANDEV: the host's constants) on a socket, with its ifreq record. The
// board's own HDLC interfaces answer it; ioctl's result.
int netif(int socket, unsigned long request, void* ifreq);

// The loopback port of pppd's authentication link: the board's own (given)
// on the board. A host may run several simulated boards at once, so there
// ULVAROND_AUTH_PORT moves it; the programs the daemon starts read it too.
unsigned short authPort(unsigned short board);

// The pid of a process named name that runs on the board, -1 when none; a
// matching pid_hint is taken without a scan. The board's whole process
// table; on a host only the simulated board's own programs, those started
// from under the root prefix, so that another board's or the host's do not
// count.
int findProcess(const char* name, int pid_hint);

// Brings the board up before any service opens a device: nothing to do on the
// board itself; the simulated build builds its devices and opens its control
// socket.
void Start();

// PowerPC ioctl encoding: direction in bits 29-31 (1 none, 2 read, 4 write),
// size in bits 16-28, type in bits 8-15, number in bits 0-7.
namespace Ppc {
inline constexpr Request kNone = 1u, kRead = 2u, kWrite = 4u;
constexpr Request encode(Request dir, Request size, char type, Request nr) {
  return (dir << 29) | ((size & 0x1FFFu) << 16) | (Request(static_cast<unsigned char>(type)) << 8) | (nr & 0xFFu);
}
constexpr Request io(char type, Request nr) { return encode(kNone, 0, type, nr); }
constexpr Request ior(char type, Request nr, Request size) { return encode(kRead, size, type, nr); }
constexpr Request iow(char type, Request nr, Request size) { return encode(kWrite, size, type, nr); }
constexpr Request iowr(char type, Request nr, Request size) { return encode(kRead | kWrite, size, type, nr); }

constexpr Request direction(Request r) { return r >> 29; }
constexpr Request size(Request r) { return (r >> 16) & 0x1FFFu; }
constexpr unsigned char type(Request r) { return static_cast<unsigned char>((r >> 8) & 0xFFu); }
constexpr Request number(Request r) { return r & 0xFFu; }
}  // namespace Ppc

}  // namespace Board
