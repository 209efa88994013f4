// Any octets into an authentication connection's reader, in pieces of sizes
// the input chooses, with the owner answering every record it is handed.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "mediaslots/auth_link.h"

namespace {

struct Owner : AuthLink::Owner {
  void OnAuthRecord(AuthClient& c, const unsigned char* record, std::uint32_t length) override {
    if (length < Auth::kHeader || length > Auth::kMaxRecord || Auth::word(record, 0) != length) std::abort();
    unsigned char accept[Auth::kAcceptLength] = {16, 0, 0, 0, 2};
    c.Send(accept, sizeof accept);
  }
  void OnAuthClientGone(AuthClient&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds) != 0) return 0;
  Owner owner;
  AuthLink link(owner);
  // Outside the link's list: the harness deletes it, open or closed.
  AuthClient* client = new AuthClient(Fd(fds[0]), INet4::Addr(), link);
  std::size_t at = 0;
  while (at < size && client->is_open()) {
    const std::size_t piece = 1 + data[at] % 64;
    ++at;
    const std::size_t n = piece < size - at ? piece : size - at;
    if (n && ::write(fds[1], data + at, n) < 0) break;
    at += n;
    client->OnSocketEvent(-1, POLLIN);
    unsigned char sink[1024];
    while (::read(fds[1], sink, sizeof sink) > 0) {
    }
  }
  ::close(fds[1]);
  delete client;
  return 0;
}
