#pragma once
// Hand-written octets of the codec tests: pairs of hex digits, blanks
// between them allowed.
#include <algorithm>
#include <string>
#include <vector>

#include "foundation/ext_text.h"

namespace radiotest {

inline std::vector<unsigned char> Octets(std::string hex) {
  hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
  std::string octets;
  ext::parse_hex(hex, octets);
  return std::vector<unsigned char>(octets.begin(), octets.end());
}

inline std::string Hex(const unsigned char* p, int n) { return ext::hex_text(p, std::size_t(n)); }

}  // namespace radiotest
