#pragma once
// Frames for the decoder tests, each in a heap block of exactly its size so
// that the sanitizer catches any read past its end.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "links/isdn/logbuf.h"
#include "links/isdn/q931_trace.h"

namespace isdntest {

class ExactFrame {
public:
  explicit ExactFrame(std::vector<uint8_t> const& octets)
      : n(octets.size()), data(new uint8_t[octets.empty() ? 1 : octets.size()]) {
    for (std::size_t i = 0; i < n; ++i) data[i] = octets[i];
  }
  uint8_t const* get() const { return data.get(); }
  unsigned size() const { return unsigned(n); }

private:
  std::size_t n;
  std::unique_ptr<uint8_t[]> data;
};

inline std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (auto const& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// The decoder's text of a frame, rendered into the shared buffer.
inline std::string decode(std::vector<uint8_t> const& octets, int network_to_user = 0) {
  ExactFrame f(octets);
  std::size_t n = ISDN::dlogframe(f.get(), f.size(), network_to_user, ISDN::logbuf);
  return std::string(ISDN::logbuf, n);
}

}  // namespace isdntest
