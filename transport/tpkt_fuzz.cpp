// Feeds arbitrary octets to the TPKT receiver, once whole and once cut into
// chunks chosen by the input, and checks that both give the same messages.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "transport/tpkt.h"

namespace {

class Collector : public ProtocolsFamily {
public:
  Collector() { add_protocol_tail(new Tpkt_protocol); }
  void on_message(Packet& p) override {
    frames.emplace_back(p.empty() ? std::string() : std::string(reinterpret_cast<char const*>(p.cdata()), p.length()));
  }
  void feed(uint8_t const* data, size_t size) {
    Packet p;
    p.reserve_head(0);
    if (size) std::copy(data, data + size, p.put(unsigned(size)));
    receive(p);
  }
  std::vector<std::string> frames;
};

std::vector<std::string> run(uint8_t const* data, size_t size, uint8_t cut) {
  Collector c;
  size_t at = 0;
  unsigned step = 0;
  while (at < size) {
    size_t n = cut == 0 ? size - at : 1 + (cut + 7 * step++) % 23;
    if (n > size - at) n = size - at;
    c.feed(data + at, n);
    at += n;
  }
  return c.frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 1) return 0;
  std::ostringstream sink;
  std::streambuf* saved_log = std::clog.rdbuf(sink.rdbuf());
  std::streambuf* saved_err = std::cerr.rdbuf(sink.rdbuf());
  const uint8_t cut = data[0] | 1;
  const std::vector<std::string> whole = run(data + 1, size - 1, 0);
  const std::vector<std::string> pieces = run(data + 1, size - 1, cut);
  std::clog.rdbuf(saved_log);
  std::cerr.rdbuf(saved_err);
  if (whole != pieces) std::abort();
  return 0;
}
