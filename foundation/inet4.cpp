#include "foundation/inet4.h"

#include <arpa/inet.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ostream>

namespace INet4 {

Addr::Addr(const std::string& text) {
  Reset();
  Assign(text, nullptr);
}

Addr& Addr::operator=(const std::string& text) {
  Assign(text, nullptr);
  return *this;
}

void Addr::Reset() {
  std::memset(&sa_, 0, sizeof sa_);
  sa_.sin_family = AF_INET;
}

bool Addr::Assign(const char* text, int* port_out) {
  const char* colon = std::strchr(text, ':');
  if (!colon) {
    if (port_out) *port_out = -1;
    in_addr a;
    if (!::inet_aton(text, &a)) return false;
    sa_.sin_addr = a;
    return true;
  }
  // Like atoi, but without its undefined overflow.
  long v = std::strtol(colon + 1, nullptr, 10);
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  if (port_out) *port_out = static_cast<int>(v);
  if (v < 0 || v > 65535) return false;
  in_addr a;
  if (!::inet_aton(std::string(text, colon).c_str(), &a)) return false;
  sa_.sin_addr = a;
  sa_.sin_port = htons(static_cast<unsigned short>(v));
  return true;
}

void Addr::Assign(unsigned long addr) { sa_.sin_addr.s_addr = static_cast<in_addr_t>(addr); }

bool Addr::IsEqual(const Addr& other) const {
  return sa_.sin_addr.s_addr == other.sa_.sin_addr.s_addr && sa_.sin_port == other.sa_.sin_port;
}

const char* Addr::GetStrAddr() const { return ::inet_ntoa(sa_.sin_addr); }

std::string Addr::GetString() const {
  char buf[INET_ADDRSTRLEN];
  ::inet_ntop(AF_INET, &sa_.sin_addr, buf, sizeof buf);
  return std::string(buf) + ":" + std::to_string(port());
}

void Addr::Put(std::ostream& out) const {
  char buf[INET_ADDRSTRLEN];
  ::inet_ntop(AF_INET, &sa_.sin_addr, buf, sizeof buf);
  out << buf << ":" << std::dec << port();
}

std::vector<unsigned char> Addr::GetVector() const {
  uint32_t a = ntohl(sa_.sin_addr.s_addr);
  return {static_cast<unsigned char>(a >> 24), static_cast<unsigned char>(a >> 16), static_cast<unsigned char>(a >> 8),
          static_cast<unsigned char>(a)};
}

std::ostream& operator<<(std::ostream& out, const Addr& a) {
  a.Put(out);
  return out;
}

}  // namespace INet4
