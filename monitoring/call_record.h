#pragma once
// Call records as UDP datagrams: one datagram of exactly the record's octets
// to each receiver of a list. Nothing is framed and no answer is awaited.
#include <string>

#include "foundation/log_limit.h"
#include "foundation/os.h"

namespace CDR_Sender {

class Sender {
public:
  // Opens the socket; a failure shows as false from every SendTo.
  Sender();
  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;
  virtual ~Sender();

  // addresses: words separated by white space, each "a.b.c.d:port". A word
  // that is no address, or has no port or port 0, is skipped with a log
  // line; send errors are ignored. False only without a socket.
  bool SendTo(const std::string& text, const std::string& addresses);

private:
  Fd socket_;
  Log::Limiter log_;
};

}  // namespace CDR_Sender
