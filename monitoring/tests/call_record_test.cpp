// Call records caught by one UDP socket on every loopback address; the
// destination address of each datagram tells the order of the list.
#include "monitoring/call_record.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

class CallRecords : public ::testing::Test {
protected:
  void SetUp() override {
    socket_ = Fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    ASSERT_EQ(0, ::setsockopt(socket_.lowlevel_fd(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on));
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    socklen_t len = sizeof a;
    ASSERT_EQ(0, ::bind(socket_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a));
    ASSERT_EQ(0, ::getsockname(socket_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), &len));
    port_ = std::to_string(ntohs(a.sin_port));
    old_cerr_ = std::cerr.rdbuf(log_.rdbuf());
  }
  void TearDown() override { std::cerr.rdbuf(old_cerr_); }

  // Loopback datagrams are queued before sendto returns: what is there now
  // is all that was sent. Each as "<destination>=<octets>".
  std::vector<std::string> Received() {
    std::vector<std::string> got;
    for (;;) {
      char data[256];
      char control[256];
      iovec iov = {data, sizeof data};
      msghdr m = {};
      m.msg_iov = &iov;
      m.msg_iovlen = 1;
      m.msg_control = control;
      m.msg_controllen = sizeof control;
      const ssize_t n = ::recvmsg(socket_.lowlevel_fd(), &m, MSG_DONTWAIT);
      if (n < 0) return got;
      std::string to = "?";
      for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
        const in_pktinfo* info = reinterpret_cast<const in_pktinfo*>(CMSG_DATA(c));
        to = ::inet_ntoa(info->ipi_addr);
      }
      got.push_back(to + "=" + std::string(data, size_t(n)));
    }
  }

  std::string At(const char* address) const { return std::string(address) + ":" + port_; }

  Fd socket_;
  std::string port_;
  std::ostringstream log_;
  std::streambuf* old_cerr_ = nullptr;
};

TEST_F(CallRecords, OneDatagramPerGoodWordInListOrder) {
  const std::string rec = "call 17 ended 00:01:02";
  struct Case {
    std::string addresses;
    std::vector<std::string> sent;
    std::string logged;
  } const cases[] = {
      {At("127.0.0.3") + " " + At("127.0.0.1") + "\t\n" + At("127.0.0.2"),
       {"127.0.0.3=" + rec, "127.0.0.1=" + rec, "127.0.0.2=" + rec},
       ""},
      {At("127.0.0.1") + " x.y " + At("127.0.0.2"), {"127.0.0.1=" + rec, "127.0.0.2=" + rec}, "\"x.y\""},
      // A portless word must not reuse the port before it.
      {At("127.0.0.1") + " 127.0.0.2", {"127.0.0.1=" + rec}, "\"127.0.0.2\""},
      {At("127.0.0.1") + " 127.0.0.2:0 127.0.0.3:99999", {"127.0.0.1=" + rec}, "\"127.0.0.3:99999\""},
      {"", {}, ""},
      {" \t \n", {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.addresses);
    log_.str("");
    CDR_Sender::Sender sender;
    EXPECT_TRUE(sender.SendTo(rec, c.addresses));
    EXPECT_EQ(c.sent, Received());
    if (c.logged.empty())
      EXPECT_EQ("", log_.str());
    else
      EXPECT_NE(std::string::npos, log_.str().find("cdr: no address and port in " + c.logged)) << log_.str();
  }
}

TEST_F(CallRecords, NothingWithoutASocket) {
  rlimit old;
  ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &old));
  // The lowest free descriptor as the limit: the socket cannot be made.
  const int lowest = ::dup(0);
  ASSERT_GE(lowest, 0);
  ::close(lowest);
  rlimit low = old;
  low.rlim_cur = rlim_t(lowest);
  ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &low));
  CDR_Sender::Sender sender;
  ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &old));
  EXPECT_FALSE(sender.SendTo("rec", At("127.0.0.1")));
  EXPECT_TRUE(Received().empty());
}

}  // namespace
