// Controller round trips: one controller sends pings one after another and
// waits for each answer. The same client against a bare poll() echo server
// with the same framing on the loopback gives the floor the daemon is held
// against: of_echo is the daemon's rate of round trips as a share of the
// echo's, vs_echo its inverse; cpu_of_echo compares the servers' own CPU
// time per ping. ULVAROND_BASELINE names another build of the
// daemon (an older commit, say) that BM_DaemonVsEcho measures in the same
// bursts. ULVAROND_BENCH_CPUS=C,S keeps the client on CPU C and the servers
// on CPU S (the same number twice: all on one CPU); on a virtual machine the
// ratios otherwise follow where the scheduler puts the processes more than
// what they do.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "control/testing/test_controller.h"
#include "messages/LGCP.h"
#include "daemon_process.h"

namespace {

using CtrlTest::Controller;
using Clock = std::chrono::steady_clock;

// The CPU that ULVAROND_BENCH_CPUS ("client,server") names for the client
// (0) or the server (1); -1 when it names none.
int BenchCpu(int which) {
  const char* cpus = std::getenv("ULVAROND_BENCH_CPUS");
  if (cpus == nullptr) return -1;
  const char* comma = std::strchr(cpus, ',');
  if (comma == nullptr) return -1;
  return std::atoi(which == 0 ? cpus : comma + 1);
}

void PinTo(int which) {
  const int cpu = BenchCpu(which);
  if (cpu < 0) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  ::sched_setaffinity(0, sizeof set, &set);
}

const struct ClientPin {
  ClientPin() { PinTo(0); }
} clientPin;

bool WriteAll(int fd, const char* at, size_t n) {
  while (n > 0) {
    const ssize_t put = ::send(fd, at, n, MSG_NOSIGNAL);
    if (put < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd entry = {fd, POLLOUT, 0};
      ::poll(&entry, 1, 1000);
      continue;
    }
    if (put <= 0) return false;
    at += put;
    n -= size_t(put);
  }
  return true;
}

// The floor: a process of its own that sends every TPKT frame back as it
// came, with the daemon's system calls per ping (poll, one read, one send)
// and no other work.
class EchoServer {
public:
  EchoServer() {
    Fd listenFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listenFd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(listenFd.lowlevel_fd(), 1);
    socklen_t len = sizeof sa;
    ::getsockname(listenFd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len);
    port = ntohs(sa.sin_port);
    pid = ::fork();
    if (pid == 0) {
      PinTo(1);
      Serve(listenFd.lowlevel_fd());
      ::_exit(0);
    }
  }
  ~EchoServer() {
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  }

  unsigned short port = 0;
  pid_t pid = -1;

private:
  static void Serve(int listenFd) {
    const int conn = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (conn < 0) return;
    int on = 1;
    ::setsockopt(conn, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    static char buf[65536 + 4];
    size_t have = 0;
    for (;;) {
      pollfd entry = {conn, POLLIN, 0};
      if (::poll(&entry, 1, -1) < 0) continue;
      const ssize_t got = ::recv(conn, buf + have, sizeof buf - have, 0);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) return;
      if (got < 0) continue;
      have += size_t(got);
      // Every complete frame goes back at once.
      size_t at = 0;
      while (have - at >= 4) {
        const size_t length =
            (size_t(static_cast<unsigned char>(buf[at + 2])) << 8) | static_cast<unsigned char>(buf[at + 3]);
        if (buf[at] != 3 || length < 4) return;
        if (have - at < length) break;
        at += length;
      }
      if (at > 0 && !WriteAll(conn, buf, at)) return;
      std::memmove(buf, buf + at, have - at);
      have -= at;
    }
  }
};

// The daemon binary for the whole run, its output thrown away.
// ULVAROND_DAEMON runs another build of the daemon against the same client.
std::string DaemonBinary(const char* given) {
  const char* binary = given ? given : std::getenv("ULVAROND_DAEMON");
  return binary == nullptr || *binary == '\0' ? ULVAROND_BINARY : binary;
}

struct DaemonProcess : bench::DaemonProcess {
  explicit DaemonProcess(const char* given = nullptr)
      : bench::DaemonProcess(DaemonBinary(given), "/dev/null", BenchCpu(1)) {}
};

// A server and the one controller that talks to it for the whole run.
template <class Server>
struct Peer {
  Server server;
  Controller client;
  bool ready = false;
  template <class... Args>
  explicit Peer(Args... args) : server(args...) {
    // The daemon's board services signal on their own.
    client.SetSignalsApart(true);
    ready = client.Connect(server.port, 10000);
  }
};

double echoRate = 0;

// Answered round trips per second of real time.
double RoundTrips(benchmark::State& state, Controller& client) {
  long seq = 0;
  const Clock::time_point start = Clock::now();
  for (auto _ : state) {
    LGCP::Message answer;
    if (client.Call(Controller::Ping(++seq), answer, 5000) != Controller::Ok || Controller::SeqOf(answer) != seq) {
      state.SkipWithError("no answer");
      return 0;
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  state.SetItemsProcessed(state.iterations());
  return seconds > 0 ? double(state.iterations()) / seconds : 0;
}

// One of each for the whole run, shared by the benchmarks: the daemons
// would share the build's fixed paths.
Peer<EchoServer>& echoPeer() {
  static Peer<EchoServer> peer;
  return peer;
}

Peer<DaemonProcess>& daemonPeer() {
  static Peer<DaemonProcess> peer;
  return peer;
}

// Null without ULVAROND_BASELINE.
Peer<DaemonProcess>* baselinePeer() {
  static const char* binary = std::getenv("ULVAROND_BASELINE");
  if (binary == nullptr || *binary == '\0') return nullptr;
  static Peer<DaemonProcess> peer(binary);
  return &peer;
}

// The median and the quartiles of the burst ratios: a burst that a busy
// machine stalled moves them less than it moves the sums.
void Quartiles(benchmark::State& state, const std::string& name, std::vector<double> ratios) {
  if (ratios.empty()) return;
  std::sort(ratios.begin(), ratios.end());
  auto at = [&](double q) { return ratios[std::size_t(q * double(ratios.size() - 1) + 0.5)]; };
  state.counters[name + "_q1"] = at(0.25);
  state.counters[name + "_median"] = at(0.5);
  state.counters[name + "_q3"] = at(0.75);
}

void BM_EchoRoundTrip(benchmark::State& state) {
  Peer<EchoServer>& peer = echoPeer();
  if (!peer.ready) {
    state.SkipWithError("echo server unreachable");
    return;
  }
  echoRate = RoundTrips(state, peer.client);
}

void BM_DaemonRoundTrip(benchmark::State& state) {
  Peer<DaemonProcess>& peer = daemonPeer();
  if (!peer.ready) {
    state.SkipWithError("daemon unreachable");
    return;
  }
  const double rate = RoundTrips(state, peer.client);
  // Above 1: the daemon is that many times slower than the echo.
  if (rate > 0 && echoRate > 0) state.counters["vs_echo"] = echoRate / rate;
  // The daemon's rate as a share of the echo's.
  if (rate > 0 && echoRate > 0) state.counters["of_echo"] = rate / echoRate;
}

// Nanoseconds the process has run on a CPU so far, 0 when unknown.
double CpuNanoseconds(pid_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/schedstat";
  FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return 0;
  unsigned long long ns = 0;
  const int got = std::fscanf(f, "%llu", &ns);
  std::fclose(f);
  return got == 1 ? double(ns) : 0;
}

// Seconds for n sequential pings, 0 on a missing answer.
double Burst(Controller& client, long& seq, int n) {
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < n; ++i) {
    LGCP::Message answer;
    if (client.Call(Controller::Ping(++seq), answer, 5000) != Controller::Ok || Controller::SeqOf(answer) != seq)
      return 0;
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Bursts to the echo and to the daemon (and the baseline) in turn, so that
// all see the same load on a busy machine; of_echo is the daemon's rate over
// the echo's, from the sums and per burst pair (median and quartiles).
void BM_DaemonVsEcho(benchmark::State& state) {
  Peer<EchoServer>& echo = echoPeer();
  Peer<DaemonProcess>& daemon = daemonPeer();
  Peer<DaemonProcess>* baseline = baselinePeer();
  if (!echo.ready || !daemon.ready || (baseline && !baseline->ready)) {
    state.SkipWithError("a server is unreachable");
    return;
  }
  const int burst = 50;
  long echoSeq = 0, daemonSeq = 0, baselineSeq = 0;
  double echoSeconds = 0, daemonSeconds = 0, baselineSeconds = 0;
  std::vector<double> ratios, baselineRatios;
  const double echoCpu = CpuNanoseconds(echo.server.pid);
  const double daemonCpu = CpuNanoseconds(daemon.server.pid);
  const double baselineCpu = baseline ? CpuNanoseconds(baseline->server.pid) : 0;
  for (auto _ : state) {
    const double e = Burst(echo.client, echoSeq, burst);
    const double d = Burst(daemon.client, daemonSeq, burst);
    const double b = baseline ? Burst(baseline->client, baselineSeq, burst) : 1;
    if (e <= 0 || d <= 0 || b <= 0) {
      state.SkipWithError("no answer");
      return;
    }
    echoSeconds += e;
    daemonSeconds += d;
    ratios.push_back(e / d);
    if (baseline) {
      baselineSeconds += b;
      baselineRatios.push_back(e / b);
    }
  }
  const double pings = double(state.iterations()) * burst;
  state.counters["echo_per_s"] = pings / echoSeconds;
  state.counters["daemon_per_s"] = pings / daemonSeconds;
  state.counters["of_echo"] = echoSeconds / daemonSeconds;
  Quartiles(state, "of_echo", ratios);
  // The servers' own CPU time per ping, whatever the scheduler made of the
  // wake-ups; cpu_of_echo is the echo's share of the daemon's.
  const double echoCpuUs = (CpuNanoseconds(echo.server.pid) - echoCpu) / pings / 1000;
  const double daemonCpuUs = (CpuNanoseconds(daemon.server.pid) - daemonCpu) / pings / 1000;
  state.counters["echo_cpu_us"] = echoCpuUs;
  state.counters["daemon_cpu_us"] = daemonCpuUs;
  if (daemonCpuUs > 0) state.counters["cpu_of_echo"] = echoCpuUs / daemonCpuUs;
  if (baseline) {
    const double baselineCpuUs = (CpuNanoseconds(baseline->server.pid) - baselineCpu) / pings / 1000;
    state.counters["baseline_cpu_us"] = baselineCpuUs;
    if (baselineCpuUs > 0) state.counters["baseline_cpu_of_echo"] = echoCpuUs / baselineCpuUs;
    state.counters["baseline_per_s"] = pings / baselineSeconds;
    state.counters["baseline_of_echo"] = echoSeconds / baselineSeconds;
    Quartiles(state, "baseline_of_echo", baselineRatios);
  }
}

}  // namespace

// The echo first: the daemon's figure is compared with it.
BENCHMARK(BM_EchoRoundTrip)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_DaemonRoundTrip)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_DaemonVsEcho)->UseRealTime()->MinTime(4.0);
