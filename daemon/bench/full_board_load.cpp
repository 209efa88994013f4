// Commands on an empty and on a full board, in one run: the daemon on the
// default simulated board is first given only the few slots the measured
// commands need, then filled as a controller fills a board (every trunk
// timeslot a trunk slot, every RTP channel a stream, the four cabled
// signalling links in service carrying userData, mixer ports, MCC channels),
// and each command is measured again. Per command: the daemon's CPU time
// (from /proc/<pid>/schedstat around each command) and the answer latency
// (p50, p99). One free unit of each kind is kept for the create/destroy rows.
//
//   daemon_load_bench [-n iterations] [--cpu C] [--daemon path] [--log file]
//                     [--rows text] [--full-only] [--idle seconds]
//
// --cpu keeps the daemon and this client on one CPU; --daemon runs another
// build of the daemon (an older commit, for before/after figures); --log
// keeps the daemon's output (thrown away otherwise); --rows measures only
// the rows whose name holds the text, --full-only only the full board (for
// a profiler attached to the daemon), --idle how long the full board's
// share of a CPU without commands is measured (1 s).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "control/testing/commands.h"
#include "control/testing/test_controller.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "daemon_process.h"

namespace {

using namespace CtrlTest;
using bench::DaemonProcess;
using Clock = std::chrono::steady_clock;

struct Options {
  int iterations = 2000;
  int cpu = -1;
  std::string daemon = ULVAROND_BINARY;
  std::string log = "/dev/null";
  // Only the rows whose name holds it.
  std::string rows;
  bool fullOnly = false;
  // Seconds of the full board without commands.
  int idle = 1;
};

// Nanoseconds the process has run on a CPU so far.
double CpuNs(pid_t pid) {
  static const std::string path = "/proc/" + std::to_string(pid) + "/schedstat";
  FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return 0;
  unsigned long long ns = 0;
  if (std::fscanf(f, "%llu", &ns) != 1) ns = 0;
  std::fclose(f);
  return double(ns);
}

// Commands the client builds for the board.
// Slot numbers: trunk t timeslot s is 1 + 32t + s.
long TrunkSlot(int trunk, int ts) { return 1 + 32 * trunk + ts; }
const long kPstnSlot = 200;     // 200..203
const long kRtpSlot = 300;      // 300..
const long kMixerInSlot = 400;  // 400.. (unit 0, then unit 1)
const long kMixerOutSlot = 500;
const long kMccSlot = 600;
const long kBenchSlot = 900;  // the create/destroy rows
// Kept free for the create/destroy rows.
const int kFreeTrunk = 3, kFreeTs = 31, kFreeMixerChannel = 31;
// The connect/disconnect row joins two trunk slots that nothing else joins.
const long kFromSlot = TrunkSlot(2, 5), kToSlot = TrunkSlot(3, 6);

class Board {
public:
  explicit Board(Options const& o) : daemon(o.daemon, o.log) {
    client.SetSignalsApart(true);
    ready = daemon.pid > 0 && client.Connect(daemon.port, 10000);
    receiver.Bind();
  }

  // The answer: true for success; a missing answer ends the run.
  bool Call(LGCP::Command const& command, long slot, int* error = nullptr) {
    LGCP::Message answer;
    if (client.Call(Controller::Make(command, ++seq, slot), answer, 10000) != Controller::Ok ||
        Controller::SeqOf(answer) != seq) {
      std::fprintf(stderr, "no answer from the daemon (seq %ld, slot %ld)\n", seq, slot);
      std::exit(2);
    }
    if (error) *error = Controller::ErrorOf(answer);
    return Controller::IsSuccess(answer);
  }
  bool Ping() {
    LGCP::Message answer;
    ++seq;
    if (client.Call(Controller::Ping(seq), answer, 10000) != Controller::Ok || Controller::SeqOf(answer) != seq) {
      std::fprintf(stderr, "no answer to ping\n");
      std::exit(2);
    }
    return true;
  }
  // Signals kept aside so far, thrown away (the slots that said activated
  // are noted); waits up to timeout_ms until the slot has said it.
  void Drain(int timeout_ms = 0, long slot = kNone) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      const bool done = slot == kNone || activated.count(slot) != 0;
      const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
      LGCP::Message m;
      if (client.ReceiveSignal(m, done ? 0 : std::max(left, 0)) != Controller::Ok) return;
      if (IsActivated(m.get_pdu().get_signal())) activated.insert(Controller::SlotOf(m));
    }
  }
  bool WaitActivated(long slot, int timeout_ms) {
    Drain(timeout_ms, slot);
    return activated.count(slot) != 0;
  }

  DaemonProcess daemon;
  Controller client;
  UdpReceiver receiver;
  bool ready = false;
  long seq = 0;
  std::set<long> activated;
};

struct Counts {
  int trunks = 0, links = 0, rtp = 0, mixerIn = 0, mixerOut = 0, mcc = 0;
};

// Everything but the units the create/destroy rows take.
Counts Fill(Board& b) {
  Counts n;
  b.Call(Query(), kNone);
  for (int t = 0; t < 4; ++t)
    for (int ts = 0; ts < 32; ++ts) {
      if (t == kFreeTrunk && ts == kFreeTs) continue;
      if (TrunkSlot(t, ts) == kFromSlot || TrunkSlot(t, ts) == kToSlot) continue;  // there already
      n.trunks += b.Call(Trunk(t, ts), TrunkSlot(t, ts));
    }
  n.trunks += 2;
  // SS7 across the cable of trunks 0 and 1, ISDN primary rate (user against
  // network) across that of 2 and 3, each on timeslot 16.
  const LGCP::Command links[] = {Ss7(1), Ss7(2), PstnIsdn(false, 3, false), PstnIsdn(false, 4, true)};
  for (int i = 0; i < 4; ++i) {
    if (!b.Call(links[i], kPstnSlot + i)) continue;
    b.Call(ConnectTo(kPstnSlot + i), TrunkSlot(i, 16));
  }
  for (int i = 0; i < 4; ++i) n.links += b.WaitActivated(kPstnSlot + i, 15000);
  // The RTP engine's channels but one.
  for (int i = 0; i < 100; ++i) {
    const unsigned local = LocalPort(b.receiver.port);
    if (!b.Call(Rtp(b.receiver.port - 1, int(local)), kRtpSlot + i)) break;
    ++n.rtp;
    b.Drain();
  }
  if (n.rtp > 0) b.Call(Destroy(), kRtpSlot + --n.rtp);
  for (int unit = 0; unit < 2; ++unit)
    for (int ch = 0; ch < 32; ++ch) {
      if (ch == kFreeMixerChannel) continue;
      n.mixerIn += b.Call(MixerIn(unit, ch), kMixerInSlot + 32 * unit + ch);
      n.mixerOut += b.Call(MixerOut(unit, ch), kMixerOutSlot + 32 * unit + ch);
    }
  // The controller's data channels but one, each joined both ways to a
  // trunk timeslot of its own, on trunks 0 and 1 so that the pairs face
  // each other across the cable.
  for (int i = 0; i < 100; ++i) {
    if (!b.Call(Mcc(), kMccSlot + i)) break;
    ++n.mcc;
  }
  if (n.mcc > 0) b.Call(Destroy(), kMccSlot + --n.mcc);
  for (int i = 0; i < n.mcc && i < 30; ++i) {
    const long trunk = TrunkSlot(i % 2, 1 + i / 2);
    b.Call(ConnectTo(kMccSlot + i), trunk);
    b.Call(ConnectTo(trunk), kMccSlot + i);
  }
  b.Drain(200);
  return n;
}

// Traffic between measured commands, paced by the clock (not by the
// commands, whose rate differs from row to row): every kTrafficMs a frame
// on one signalling link and one joined MCC channel in turn.
const int kTrafficMs = 10;
void Traffic(Board& b, Counts const& n, int round) {
  static const std::vector<char> msu = {char(0x83), 0x01, 0x20, 0x00, 0x00, 0x11, 0x22, 0x33};
  static const std::vector<char> setup = {0x08, 0x01, 0x01, 0x05, 0x04, 0x03, char(0x80), char(0x90), char(0xa3)};
  if (n.links == 4) {
    const int link = round % 4;
    b.Call(UserData(link < 2 ? msu : setup), kPstnSlot + link);
  }
  if (n.mcc >= 2) b.Call(UserData(msu), kMccSlot + (round % std::min(n.mcc, 30)));
  b.Drain();
}

struct Row {
  const char* name;
  double cpuUs = 0;
  double p50 = 0, p99 = 0;
};

double Percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::size_t(q * double(v.size() - 1) + 0.5)];
}

// One iteration of each row: the commands of one measured unit.
struct Step {
  const char* name;
  std::function<void(Board&)> run;
  // Its share of the iterations: 1 in this many.
  int share = 1;
};

std::vector<Step> Steps() {
  auto createDestroy = [](LGCP::Command const& create) {
    return [create](Board& b) {
      if (!b.Call(create, kBenchSlot)) {
        std::fprintf(stderr, "create refused on slot %ld\n", kBenchSlot);
        std::exit(2);
      }
      b.Call(Destroy(), kBenchSlot);
    };
  };
  std::vector<Step> steps = {
      {"ping", [](Board& b) { b.Ping(); }},
      {"connect+disconnect",
       [](Board& b) {
         b.Call(ConnectTo(kToSlot), kFromSlot);
         b.Call(Disconnect(), kToSlot);
       }},
      // Milliseconds each: the board's resources are read afresh.
      {"query", [](Board& b) { b.Call(Query(), kNone); }, 10},
      {"trunk create+destroy", createDestroy(Trunk(kFreeTrunk, kFreeTs))},
      {"map create+destroy", createDestroy(Map(0, 5))},
      {"mixerIn create+destroy", createDestroy(MixerIn(1, kFreeMixerChannel))},
      {"mixerOut create+destroy", createDestroy(MixerOut(1, kFreeMixerChannel))},
      {"mcc create+destroy", createDestroy(Mcc())},
  };
  steps.push_back({"rtp create+destroy", [](Board& b) {
                     const unsigned local = LocalPort(b.receiver.port);
                     if (!b.Call(Rtp(b.receiver.port - 1, int(local)), kBenchSlot)) {
                       std::fprintf(stderr, "rtp create refused\n");
                       std::exit(2);
                     }
                     b.Call(Destroy(), kBenchSlot);
                     porttest::Release(static_cast<unsigned short>(local));
                   }});
  return steps;
}

std::vector<Row> Measure(Board& b, Counts const* full, Options const& o) {
  std::vector<Row> rows;
  int round = 0;
  Clock::time_point due = Clock::now();
  for (Step const& step : Steps()) {
    if (std::string(step.name).find(o.rows) == std::string::npos) continue;
    const int iterations = std::max(1, o.iterations / step.share);
    // Warm up: the first create of a kind opens its device.
    for (int i = 0; i < 5; ++i) step.run(b);
    b.Drain();
    std::vector<double> latencies;
    double cpu = 0;
    for (int i = 0; i < iterations; ++i) {
      if (full && Clock::now() >= due) {
        Traffic(b, *full, round++);
        due = Clock::now() + std::chrono::milliseconds(kTrafficMs);
      }
      const double cpu0 = CpuNs(b.daemon.pid);
      const Clock::time_point t0 = Clock::now();
      step.run(b);
      const Clock::time_point t1 = Clock::now();
      cpu += CpuNs(b.daemon.pid) - cpu0;
      latencies.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
      if (i % 50 == 49) b.Drain();
    }
    b.Drain();
    Row r{step.name};
    r.cpuUs = cpu / iterations / 1000;
    r.p50 = Percentile(latencies, 0.5);
    r.p99 = Percentile(latencies, 0.99);
    rows.push_back(r);
  }
  return rows;
}

// The daemon's share of a CPU over seconds without commands (with the
// traffic on a full board): what a command meets besides its own work.
double IdleShare(Board& b, Counts const* full, int seconds) {
  const double cpu0 = CpuNs(b.daemon.pid);
  const Clock::time_point start = Clock::now();
  const Clock::time_point end = start + std::chrono::seconds(seconds);
  int round = 0;
  while (Clock::now() < end) {
    if (full) Traffic(b, *full, round++);
    std::this_thread::sleep_for(std::chrono::milliseconds(kTrafficMs));
  }
  b.Drain();
  const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
  return (CpuNs(b.daemon.pid) - cpu0) / ns;
}

bool ParseArgs(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    if ((a == "-n" || a == "--iterations") && more)
      o.iterations = std::max(1, std::atoi(argv[++i]));
    else if (a == "--cpu" && more)
      o.cpu = std::atoi(argv[++i]);
    else if (a == "--daemon" && more)
      o.daemon = argv[++i];
    else if (a == "--log" && more)
      o.log = argv[++i];
    else if (a == "--rows" && more)
      o.rows = argv[++i];
    else if (a == "--full-only")
      o.fullOnly = true;
    else if (a == "--idle" && more)
      o.idle = std::max(1, std::atoi(argv[++i]));
    else
      return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: %s [-n iterations] [--cpu C] [--daemon path] [--log file] [--rows text] [--full-only] "
                 "[--idle seconds]\n",
                 argv[0]);
    return 1;
  }
  ::signal(SIGPIPE, SIG_IGN);
  if (o.cpu >= 0) {
    // The daemon inherits it.
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(o.cpu, &set);
    ::sched_setaffinity(0, sizeof set, &set);
  }
  Board b(o);
  if (!b.ready) {
    std::fprintf(stderr, "daemon unreachable: %s\n", o.daemon.c_str());
    return 2;
  }
  b.Call(Query(), kNone);
  // The two slots of the connect/disconnect row.
  b.Call(Trunk(2, 5), kFromSlot);
  b.Call(Trunk(3, 6), kToSlot);
  b.Drain(200);
  const double emptyIdle = o.fullOnly ? 0 : IdleShare(b, nullptr, 1);
  const std::vector<Row> empty = o.fullOnly ? std::vector<Row>() : Measure(b, nullptr, o);
  const Counts n = Fill(b);
  const double fullIdle = IdleShare(b, &n, o.idle);
  std::printf(
      "full board: %d trunk slots, %d signalling links in service, %d rtp, %d mixerIn, %d mixerOut, %d mcc "
      "(%ld slots)\n",
      n.trunks, n.links, n.rtp, n.mixerIn, n.mixerOut, n.mcc,
      long(n.trunks + n.links + n.rtp + n.mixerIn + n.mixerOut + n.mcc));
  if (o.fullOnly)
    std::printf("daemon CPU without commands: %.1f%% full (traffic every %d ms)\n", fullIdle * 100, kTrafficMs);
  else
    std::printf("daemon CPU without commands: %.1f%% empty, %.1f%% full (traffic every %d ms)\n", emptyIdle * 100,
                fullIdle * 100, kTrafficMs);
  const std::vector<Row> full = Measure(b, &n, o);

  std::printf("%d iterations a row (query a tenth)%s; CPU: daemon us per command, latency: us\n", o.iterations,
              o.cpu >= 0 ? ", daemon and client on one CPU" : "");
  if (o.fullOnly) {
    std::printf("%-24s %9s  %9s %9s\n", "command", "cpu full", "p50 full", "p99 full");
    for (const Row& f : full) std::printf("%-24s %9.1f  %9.1f %9.1f\n", f.name, f.cpuUs, f.p50, f.p99);
    return 0;
  }
  std::printf("%-24s %9s %9s %6s  %9s %9s %9s %9s %6s %6s\n", "command", "cpu empty", "cpu full", "ratio", "p50 empty",
              "p99 empty", "p50 full", "p99 full", "p50 x", "p99 x");
  for (std::size_t i = 0; i < full.size(); ++i) {
    const Row& e = empty[i];
    const Row& f = full[i];
    std::printf("%-24s %9.1f %9.1f %6.2f  %9.1f %9.1f %9.1f %9.1f %6.2f %6.2f\n", e.name, e.cpuUs, f.cpuUs,
                e.cpuUs > 0 ? f.cpuUs / e.cpuUs : 0, e.p50, e.p99, f.p50, f.p99, e.p50 > 0 ? f.p50 / e.p50 : 0,
                e.p99 > 0 ? f.p99 / e.p99 : 0);
  }
  return 0;
}
