// The tracer's frames read by an independent TPKT decoder: tshark reads a
// capture of the loopback traffic (dumpcap, where this machine lets it
// capture) and a capture file written from the octets the client received.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "transport/testing/link_test_util.h"
#include "transport/tpkt_tracer.h"

using linktest::Client;
using linktest::frame;
using linktest::run_until;

namespace {

std::string find_program(const char* name) {
  const char* path = ::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::string();
}

std::string temp_file(const char* suffix) {
  char name[] = "/tmp/ulvtraceXXXXXX";
  const int fd = ::mkstemp(name);
  if (fd >= 0) ::close(fd);
  std::string with_suffix = std::string(name) + suffix;
  ::rename(name, with_suffix.c_str());
  return with_suffix;
}

// dumpcap on the loopback interface, started and stopped by its pid.
class LoopbackCapture {
public:
  ~LoopbackCapture() { stop(); }

  // False (with dumpcap's words) when it cannot capture here.
  bool start(std::string const& dumpcap, unsigned short port, std::string const& file, std::string* why) {
    int err_pipe[2];
    if (::pipe2(err_pipe, O_CLOEXEC) != 0) return false;
    const std::string filter = "tcp port " + std::to_string(port);
    const char* argv[] = {"dumpcap", "-i", "lo", "-f", filter.c_str(), "-w", file.c_str(), "-P", "-q", nullptr};
    pid = ::fork();
    if (pid == 0) {
      ::dup2(err_pipe[1], 2);
      const int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::execv(dumpcap.c_str(), const_cast<char* const*>(argv));
      ::_exit(127);
    }
    ::close(err_pipe[1]);
    err = Fd(err_pipe[0]);
    if (pid < 0) return false;
    // It names its file once the capture runs.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      if (!linktest::readable(err.lowlevel_fd(), 200)) continue;
      char buf[512];
      const ssize_t n = ::read(err.lowlevel_fd(), buf, sizeof buf);
      if (n <= 0) break;
      said.append(buf, size_t(n));
      if (said.find("File:") != std::string::npos) return true;
    }
    *why = said;
    stop();
    return false;
  }

  void stop() {
    if (pid <= 0) return;
    ::kill(pid, SIGINT);
    int status = 0;
    for (int i = 0; i < 100 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) linktest::readable(-1, 100);
    if (::waitpid(pid, &status, WNOHANG) == 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
    }
    pid = -1;
  }

private:
  pid_t pid = -1;
  Fd err;
  std::string said;
};

// A pcap file with Ethernet, IPv4 and TCP headers around the octets one
// side received, as if captured on the wire.
class PcapWriter {
public:
  PcapWriter(std::string const& file, unsigned short server_port, unsigned short client_port)
      : out(file, std::ios::binary), server(server_port), client(client_port) {
    put32(0xA1B2C3D4);
    put16(2);
    put16(4);
    put32(0);
    put32(0);
    put32(262144);
    put32(1);
    // The handshake, so that the decoder follows the stream from its start.
    packet(client, server, client_seq++, 0, 0x02, "");
    packet(server, client, server_seq++, client_seq, 0x12, "");
    packet(client, server, client_seq, server_seq, 0x10, "");
  }

  // Octets from the server to the client, cut into Ethernet-sized segments.
  void from_server(std::string const& octets) {
    for (size_t at = 0; at < octets.size(); at += 1448) {
      const std::string segment = octets.substr(at, 1448);
      packet(server, client, server_seq, client_seq, 0x18, segment);
      server_seq += uint32_t(segment.size());
      packet(client, server, client_seq, server_seq, 0x10, "");
    }
  }

private:
  void put8(unsigned v) { out.put(char(v & 0xFF)); }
  void put16(unsigned v) { out.write(reinterpret_cast<char const*>(&v), 2); }
  void put32(uint32_t v) { out.write(reinterpret_cast<char const*>(&v), 4); }
  static void be16(std::string& s, unsigned v) {
    s += char((v >> 8) & 0xFF);
    s += char(v & 0xFF);
  }
  static void be32(std::string& s, uint32_t v) {
    be16(s, v >> 16);
    be16(s, v & 0xFFFF);
  }

  void packet(unsigned short from, unsigned short to, uint32_t seq, uint32_t ack, unsigned flags,
              std::string const& payload) {
    std::string p(12, '\0');
    be16(p, 0x0800);
    std::string ip;
    ip += char(0x45);
    ip += char(0);
    be16(ip, unsigned(20 + 20 + payload.size()));
    be16(ip, ip_id++);
    be16(ip, 0x4000);
    ip += char(64);
    ip += char(6);
    be16(ip, 0);
    be32(ip, 0x7F000001);
    be32(ip, 0x7F000001);
    uint32_t sum = 0;
    for (size_t i = 0; i < ip.size(); i += 2) sum += (uint32_t(uint8_t(ip[i])) << 8) | uint8_t(ip[i + 1]);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    ip[10] = char((~sum >> 8) & 0xFF);
    ip[11] = char(~sum & 0xFF);
    p += ip;
    be16(p, from);
    be16(p, to);
    be32(p, seq);
    be32(p, ack);
    p += char(5 << 4);
    p += char(flags);
    be16(p, 65535);
    be16(p, 0);
    be16(p, 0);
    p += payload;
    usec += 100;
    put32(uint32_t(usec / 1000000));
    put32(uint32_t(usec % 1000000));
    put32(uint32_t(p.size()));
    put32(uint32_t(p.size()));
    out.write(p.data(), std::streamsize(p.size()));
  }

  std::ofstream out;
  unsigned short server;
  unsigned short client;
  uint32_t server_seq = 5000;
  uint32_t client_seq = 9000;
  unsigned ip_id = 1;
  uint64_t usec = 1000000;
};

struct Decoded {
  std::vector<unsigned> versions;
  std::vector<unsigned> reserved;
  std::vector<unsigned> lengths;
  unsigned most_segments = 0;
  std::string raw;
};

std::vector<unsigned> numbers(std::string const& list) {
  std::vector<unsigned> v;
  std::stringstream s(list);
  std::string item;
  while (std::getline(s, item, ',')) v.push_back(unsigned(std::stoul(item)));
  return v;
}

// The TPKT frames that tshark finds in what the server sent.
Decoded decode(std::string const& tshark, std::string const& file, unsigned short port) {
  const std::string p = std::to_string(port);
  // The payloads are no OSI transport: without that decoder a payload it
  // finds malformed cannot end the reading of a segment early.
  const std::string cmd = tshark + " -n -r " + file + " --disable-protocol cotp -d tcp.port==" + p +
                          ",tpkt -Y 'tpkt && tcp.srcport==" + p +
                          "' -T fields -E separator=/t -E occurrence=a -e tpkt.version -e tpkt.reserved" +
                          " -e tpkt.length -e tcp.segment.count 2>/dev/null";
  Decoded d;
  FILE* f = ::popen(cmd.c_str(), "r");
  if (!f) return d;
  char buf[4096];
  size_t n;
  while ((n = ::fread(buf, 1, sizeof buf, f)) > 0) d.raw.append(buf, n);
  ::pclose(f);
  std::stringstream lines(d.raw);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::stringstream cols(line);
    std::string col;
    while (std::getline(cols, col, '\t')) fields.push_back(col);
    fields.resize(4);
    for (unsigned v : numbers(fields[0])) d.versions.push_back(v);
    for (unsigned v : numbers(fields[1])) d.reserved.push_back(v);
    for (unsigned v : numbers(fields[2])) d.lengths.push_back(v);
    for (unsigned v : numbers(fields[3])) d.most_segments = std::max(d.most_segments, v);
  }
  return d;
}

void expect_frames(Decoded const& d, std::vector<unsigned> const& lengths, char const* source) {
  SCOPED_TRACE(source);
  EXPECT_EQ(d.lengths, lengths) << d.raw;
  EXPECT_EQ(d.versions, std::vector<unsigned>(lengths.size(), 3u));
  EXPECT_EQ(d.reserved, std::vector<unsigned>(lengths.size(), 0u));
  // The longest frame did not fit one segment.
  EXPECT_GE(d.most_segments, 2u);
}

class Echo : public TPKTTracer::Receiver {
public:
  explicit Echo(TPKTTracer& t) : tracer(t) {}
  void OnFrame(unsigned char const* data, unsigned length) override {
    const std::string answer = "re:" + std::string(reinterpret_cast<char const*>(data), length);
    tracer.Send(answer.data(), unsigned(answer.size()));
  }
  TPKTTracer& tracer;
};

}  // namespace

TEST(TPKTTracerWire, FramesReadByTshark) {
  const std::string tshark = find_program("tshark");
  if (tshark.empty()) GTEST_SKIP() << "tshark is not installed (tools/deps installs it)";

  TPKTTracer tracer;
  Echo echo(tracer);
  tracer.SetReceiver(&echo);
  ASSERT_TRUE(tracer.Listen(0));
  const unsigned short port = tracer.GetListenPort();

  const std::string captured = temp_file(".pcap");
  const std::string written = temp_file(".pcap");
  LoopbackCapture capture;
  std::string why = "dumpcap not found";
  const std::string dumpcap = find_program("dumpcap");
  const bool capturing = !dumpcap.empty() && capture.start(dumpcap, port, captured, &why);
  if (!capturing) std::cout << "no loopback capture here, only the written file is read: " << why << std::endl;

  Client client(port);
  ASSERT_TRUE(client.connected);
  ASSERT_TRUE(run_until([&] { return tracer.Clients() == 1; }));
  std::string received;
  std::vector<unsigned> lengths;
  // Waits for one whole frame at the client.
  auto arrives = [&](size_t payload) {
    const size_t want = received.size() + payload + 4;
    while (received.size() < want && linktest::readable(client.fd.lowlevel_fd())) {
      char buf[65536];
      const ssize_t n = ::recv(client.fd.lowlevel_fd(), buf, sizeof buf, MSG_DONTWAIT);
      if (n <= 0) break;
      received.append(buf, size_t(n));
    }
    lengths.push_back(unsigned(payload + 4));
    return received.size() == want;
  };

  // An answer from inside the receiver, then messages to every client.
  ASSERT_TRUE(client.send(frame("ping")));
  ASSERT_TRUE(run_until([&] { return linktest::readable(client.fd.lowlevel_fd(), 0); }));
  ASSERT_TRUE(arrives(7));
  for (size_t size :
       {size_t(0), size_t(1), size_t(512), size_t(1000), size_t(TPKTTracer::max_send), size_t(3), size_t(40000)}) {
    std::string payload(size, '\0');
    for (size_t i = 0; i < size; ++i) payload[i] = char(i * 7 + 3);
    tracer.Send(payload.data(), unsigned(size));
    ASSERT_TRUE(arrives(size)) << size;
  }
  // Refused: the length field cannot carry it.
  const std::string too_long(TPKTTracer::max_send + 1, 'x');
  tracer.Send(too_long.data(), unsigned(too_long.size()));
  tracer.Send("end", 3);
  ASSERT_TRUE(arrives(3));
  client.fd.close();
  ASSERT_TRUE(run_until([&] { return tracer.Clients() == 0; }));

  {
    PcapWriter w(written, port, client.local_port);
    w.from_server(received);
  }
  expect_frames(decode(tshark, written, port), lengths, "written from the octets received");

  if (capturing) {
    // The capture's buffer hands packets on after a short timeout.
    linktest::readable(-1, 1000);
    capture.stop();
    expect_frames(decode(tshark, captured, port), lengths, "captured on the loopback interface");
  }
  ::unlink(captured.c_str());
  ::unlink(written.c_str());
}
