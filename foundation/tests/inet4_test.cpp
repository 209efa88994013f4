#include "foundation/inet4.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <string>

namespace {

std::string addr_of(const INet4::Addr& a) { return std::string(a.GetStrAddr()); }

// Every case starts from 9.9.9.9 port 1234.
TEST(INet4Addr, AssignWithAndWithoutPort) {
  struct Case {
    const char* text;
    bool ok;
    const char* addr;
    unsigned short port;
    int port_out;
  };
  const Case cases[] = {
      {"10.0.0.1:5060", true, "10.0.0.1", 5060, 5060},
      {"10.0.0.1", true, "10.0.0.1", 1234, -1},
      {"10.0.0.1:", true, "10.0.0.1", 0, 0},
      {"10.0.0.1:abc", true, "10.0.0.1", 0, 0},
      {"1.2.3.4:5:6", true, "1.2.3.4", 5, 5},
      {"10.0.0.1: 80", true, "10.0.0.1", 80, 80},
      {"10.0.0.1:+81x", true, "10.0.0.1", 81, 81},
      {"10.0.0.1:65535", true, "10.0.0.1", 65535, 65535},
      {"10.0.0.1:0", true, "10.0.0.1", 0, 0},
      {"127.1", true, "127.0.0.1", 1234, -1},
      {"0x7f.1:22", true, "127.0.0.1", 22, 22},
      {"010.0.0.1", true, "8.0.0.1", 1234, -1},
      {"10.0.0.1 ", true, "10.0.0.1", 1234, -1},
      // Out-of-range ports and bad addresses change nothing.
      {"10.0.0.1:70000", false, "9.9.9.9", 1234, 70000},
      {"10.0.0.1:65536", false, "9.9.9.9", 1234, 65536},
      {"10.0.0.1:-1", false, "9.9.9.9", 1234, -1},
      {"10.0.0.1:99999999999999", false, "9.9.9.9", 1234, 2147483647},
      {"10.0.0.1:-99999999999999", false, "9.9.9.9", 1234, -2147483647 - 1},
      {"bad:80", false, "9.9.9.9", 1234, 80},
      {":80", false, "9.9.9.9", 1234, 80},
      {"", false, "9.9.9.9", 1234, -1},
      {"host.example", false, "9.9.9.9", 1234, -1},
      {"1.2.3.256", false, "9.9.9.9", 1234, -1},
  };
  for (const Case& c : cases) {
    INet4::Addr a("9.9.9.9:1234");
    int port_out = 42;
    EXPECT_EQ(c.ok, a.Assign(c.text, &port_out)) << c.text;
    EXPECT_EQ(c.addr, addr_of(a)) << c.text;
    EXPECT_EQ(c.port, a.port()) << c.text;
    EXPECT_EQ(c.port_out, port_out) << c.text;
    INet4::Addr b("9.9.9.9:1234");
    EXPECT_EQ(c.ok, b.Assign(std::string(c.text), nullptr)) << c.text;
    EXPECT_TRUE(a == b) << c.text;
  }
}

TEST(INet4Addr, ConstructionResetsAssignmentKeeps) {
  INet4::Addr def;
  EXPECT_EQ("0.0.0.0:0", def.GetString());
  std::ostringstream os;
  os << std::hex << def << ' ' << 10;
  EXPECT_EQ("0.0.0.0:0 10", os.str());

  INet4::Addr from_text(std::string("1.2.3.4"));
  EXPECT_EQ(0, from_text.port());
  INet4::Addr a(std::string("5.6.7.8:5000"));
  a = std::string("1.2.3.4");
  EXPECT_EQ("1.2.3.4:5000", a.GetString());
  a = std::string("garbage");
  EXPECT_EQ("1.2.3.4:5000", a.GetString());
  INet4::Addr bad(std::string("nonsense:99"));
  EXPECT_EQ("0.0.0.0:0", bad.GetString());
  EXPECT_EQ(AF_INET, bad.raw().sin_family);
}

TEST(INet4Addr, WireLayoutAndOutputs) {
  INet4::Addr a(std::string("192.168.1.10:20001"));
  const sockaddr_in& sa = a.raw();
  EXPECT_EQ(AF_INET, sa.sin_family);
  const unsigned char* port = reinterpret_cast<const unsigned char*>(&sa.sin_port);
  EXPECT_EQ(0x4E, port[0]);
  EXPECT_EQ(0x21, port[1]);
  const unsigned char* ip = reinterpret_cast<const unsigned char*>(&sa.sin_addr);
  EXPECT_EQ(192, ip[0]);
  EXPECT_EQ(10, ip[3]);
  EXPECT_EQ("192.168.1.10:20001", a.GetString());
  std::ostringstream os;
  os << a;
  EXPECT_EQ("192.168.1.10:20001", os.str());
  EXPECT_EQ((std::vector<unsigned char>{192, 168, 1, 10}), a.GetVector());
  EXPECT_EQ(16u, a.size());
  EXPECT_EQ(static_cast<void*>(&a), static_cast<void*>(static_cast<sockaddr*>(a)));
}

TEST(INet4Addr, SettersAndRawCopies) {
  INet4::Addr a;
  a.port(65535);
  EXPECT_EQ(65535, a.port());
  a.Assign(htonl(0x0A000001ul));
  EXPECT_EQ("10.0.0.1:65535", a.GetString());
  sockaddr_in sa;
  std::memcpy(&sa, &a.raw(), sizeof sa);
  INet4::Addr b(sa);
  EXPECT_TRUE(b == a);
  INet4::Addr c(b);
  EXPECT_EQ(0, std::memcmp(&c.raw(), &a.raw(), sizeof sa));
}

TEST(INet4Addr, EqualityIgnoresFamilyAndPadding) {
  INet4::Addr a(std::string("10.0.0.1:80"));
  sockaddr_in sa = a.raw();
  sa.sin_family = AF_UNSPEC;
  sa.sin_zero[3] = 7;
  INet4::Addr b(sa);
  EXPECT_TRUE(a.IsEqual(b));
  EXPECT_TRUE(a == b);
  b.port(81);
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(a != b);
  INet4::Addr c(std::string("10.0.0.2:80"));
  EXPECT_FALSE(a == c);
}

TEST(INet4Addr, ConnectsThroughTheSocketAddress) {
  int srv = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(srv, 0);
  INet4::Addr any(std::string("127.0.0.1:0"));
  ASSERT_EQ(0, ::bind(srv, any, any.size()));
  INet4::Addr bound;
  socklen_t len = bound.size();
  ASSERT_EQ(0, ::getsockname(srv, bound, &len));
  EXPECT_EQ("127.0.0.1", addr_of(bound));
  EXPECT_NE(0, bound.port());
  ::close(srv);
}

}  // namespace
