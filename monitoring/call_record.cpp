#include "monitoring/call_record.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <iostream>
#include <sstream>

#include "foundation/ext_text.h"
#include "foundation/inet4.h"

namespace CDR_Sender {

namespace {
// Enough of a bad word to recognise it in the log.
constexpr std::size_t kLoggedWord = 64;
}  // namespace

Sender::Sender() : socket_(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)) {}

Sender::~Sender() { close(socket_); }

bool Sender::SendTo(const std::string& text, const std::string& addresses) {
  if (!socket_) return false;
  std::istringstream words(addresses);
  std::string word;
  while (words >> word) {
    // A fresh address for each word: nothing of the previous one may stay.
    INet4::Addr to;
    int port = -1;
    if (!to.Assign(word, &port) || port <= 0) {
      log_.line(std::cerr) << "cdr: no address and port in " << ext::quoted(word.substr(0, kLoggedWord))
                           << ", record not sent there" << std::endl;
      continue;
    }
    ::sendto(socket_.lowlevel_fd(), text.data(), text.length(), 0, static_cast<const sockaddr*>(to), to.size());
  }
  return true;
}

}  // namespace CDR_Sender
