#pragma once
// An IPv4 endpoint kept as the system's sockaddr_in, so it goes to socket
// calls directly. Text form: dotted address with an optional ":port".
#include <netinet/in.h>
#include <sys/socket.h>

#include <iosfwd>
#include <string>
#include <vector>

namespace INet4 {

class Addr {
public:
  Addr() { Reset(); }
  Addr(const Addr& other) = default;
  explicit Addr(const sockaddr_in& sa) : sa_(sa) {}
  // A bad text leaves 0.0.0.0, port 0.
  Addr(const std::string& text);
  Addr& operator=(const Addr& other) = default;
  // Without a port the current one stays; a bad text changes nothing.
  Addr& operator=(const std::string& text);

  void Reset();

  // True when the text parsed. port_out gets the number after the colon
  // (also when it is out of range), or -1 without a colon. A bad address
  // or a port outside 0..65535 makes it return false and change nothing.
  bool Assign(const char* text, int* port_out);
  bool Assign(const std::string& text, int* port_out) { return Assign(text.c_str(), port_out); }
  // addr in network byte order; the port stays.
  void Assign(unsigned long addr);

  unsigned short port() const { return ntohs(sa_.sin_port); }
  void port(unsigned short p) { sa_.sin_port = htons(p); }
  // Address and port only; family and padding are not compared.
  bool IsEqual(const Addr& other) const;
  bool operator==(const Addr& other) const { return IsEqual(other); }
  bool operator!=(const Addr& other) const { return !IsEqual(other); }

  // Dotted address in the process-wide inet_ntoa buffer: copy it before
  // the next call.
  const char* GetStrAddr() const;
  // "a.b.c.d:port", the port always present.
  std::string GetString() const;
  void Put(std::ostream& out) const;
  // The four address octets, most significant first.
  std::vector<unsigned char> GetVector() const;

  operator sockaddr*() { return reinterpret_cast<sockaddr*>(&sa_); }
  operator const sockaddr*() const { return reinterpret_cast<const sockaddr*>(&sa_); }
  unsigned int size() const { return sizeof sa_; }
  const sockaddr_in& raw() const { return sa_; }

private:
  sockaddr_in sa_;
};

static_assert(sizeof(Addr) == 16, "INet4::Addr is exactly one sockaddr_in");

std::ostream& operator<<(std::ostream& out, const Addr& a);

}  // namespace INet4
