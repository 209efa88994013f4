// The daemon binary as the controller sees it: started on a free loopback
// port with the configuration file under the build's system root.
#include "daemon/tests/e2e/daemon_e2e.h"
#include "control/testing/commands.h"
#include "messages/LGCP.h"

using CtrlTest::Controller;
using CtrlTest::kNone;
using namespace e2e;

namespace {

const char kUsage[] =
    "Usage:\n"
    " ulvarond -Dh\n"
    "  -D --daemon                      run as daemon\n"
    "  -p --port                        use this port\n"
    "     --disable-clock               disable clock control\n"
    "     --version                     print version\n"
    "  -h --help                        display this information\n"
    "\n";

}  // namespace

// What the binary says its version is.
std::string DaemonVersion() {
  const std::string out = RunToEnd({"--version"}).out;
  const std::string head = "server version: ";
  if (out.compare(0, head.size(), head) != 0 || out.empty() || out.back() != '\n') return "?";
  return out.substr(head.size(), out.size() - head.size() - 1);
}

TEST(DaemonCommandLine, OptionsThatEndTheProgram) {
  const std::string version = "server version: " + DaemonVersion() + "\n";
  ASSERT_NE("server version: ?\n", version);
  const struct {
    std::vector<std::string> args;
    int code;
    std::string out;
  } cases[] = {
      {{"--version"}, 2, version},
      {{"--disable-clock", "--version"}, 2, version},
      {{"--help"}, 0, kUsage},
      {{"-h"}, 0, kUsage},
      {{"--version", "--help"}, 0, kUsage},
      {{"--help", "--version"}, 0, kUsage},
      {{"-p", "1234"}, 2, kUsage},
      {{"--bogus"}, 2, kUsage},
      {{"--port"}, 2, kUsage},
      {{"--port", "0"}, 2, kUsage},
      {{"--port", "65536"}, 2, kUsage},
      {{"--port", "-1"}, 2, kUsage},
      {{"--port", "12x"}, 2, kUsage},
      {{"--port", ""}, 2, kUsage},
      {{"--port", "99999999999"}, 2, kUsage},
  };
  for (const auto& c : cases) {
    const Finished f = RunToEnd(c.args);
    std::string name;
    for (std::string const& a : c.args) name += a + " ";
    EXPECT_EQ(c.code, f.code) << name << f.err;
    EXPECT_EQ(c.out, f.out) << name;
  }
}

TEST(DaemonCommandLine, DiagnosticsOfRefusedOptions) {
  EXPECT_TRUE(contains(RunToEnd({"-p", "1234"}).err, "invalid option -- 'p'"));
  EXPECT_TRUE(contains(RunToEnd({"--port", "70000"}).err, "invalid port \"70000\""));
}

TEST_F(Daemon, StartsAndStopsOnSigterm) {
  Run();
  EXPECT_EQ(std::to_string(daemon.Pid()), ReadFile(pidPath));
  const std::string start = "Starting server [" + DaemonVersion() + "], port=" + std::to_string(port) + "\n";
  EXPECT_TRUE(contains(daemon.Out(), start)) << daemon.Out();

  EXPECT_EQ(0, Stop(SIGTERM)) << daemon.Err();
  EXPECT_TRUE(controller.WaitClosed(5000));
  EXPECT_FALSE(Exists(pidPath));
}

TEST_F(Daemon, SigintStopsItToo) {
  Run();
  EXPECT_EQ(0, Stop(SIGINT)) << daemon.Err();
  EXPECT_TRUE(controller.WaitClosed(5000));
  EXPECT_FALSE(Exists(pidPath));
}

TEST_F(Daemon, PingWithAndWithoutSeqAndSlot) {
  Run();
  const struct {
    long seq;
    long slot;
  } cases[] = {{kNone, kNone}, {0, kNone}, {kNone, 0}, {12345, 1023}, {-7, 512}};
  for (const auto& c : cases) {
    const LGCP::Message answer = Call(Controller::Ping(c.seq, c.slot));
    EXPECT_TRUE(Controller::IsSuccess(answer));
    EXPECT_EQ(c.seq, Controller::SeqOf(answer));
    EXPECT_EQ(c.slot, Controller::SlotOf(answer));
  }
}

TEST_F(Daemon, CommandNobodyTakesIsUnexpected) {
  Run();
  const LGCP::Message answer = Call(Controller::Make(CtrlTest::Query(), 31, 7));
  EXPECT_EQ(LGCP::ErrorCause::unexpectedMsgType, Controller::ErrorOf(answer));
  EXPECT_EQ(31, Controller::SeqOf(answer));
  EXPECT_EQ(7, Controller::SlotOf(answer));
}

TEST_F(Daemon, SlotAboveTheRangeIsRefused) {
  Run();
  std::string payload;
  ASSERT_TRUE(Controller::Encode(Controller::Ping(kNone, 1023), payload));
  ASSERT_EQ(std::string("\x40\x03\xFF", 3), payload.substr(0, 3));
  payload[1] = 0x04;
  payload[2] = 0x00;
  ASSERT_TRUE(controller.SendPayload(payload));
  LGCP::Message answer;
  ASSERT_EQ(Controller::Ok, controller.Receive(answer, 5000));
  EXPECT_EQ(LGCP::ErrorCause::invalidSlot, Controller::ErrorOf(answer));
  EXPECT_EQ(kNone, Controller::SlotOf(answer));
}

TEST_F(Daemon, UndecodablePayloadGetsNoAnswerAndTheLinkStays) {
  Run();
  ASSERT_TRUE(controller.SendPayload(std::string("\xC0\x05\xFF", 3)));
  // The first answer after it is the ping's.
  const LGCP::Message answer = Call(Controller::Ping(99));
  EXPECT_TRUE(Controller::IsSuccess(answer));
  EXPECT_EQ(99, Controller::SeqOf(answer));
  EXPECT_EQ(0, Stop());
  EXPECT_TRUE(contains(daemon.Err(), "receive fail: decode error!\n msg: C0 05 FF (3 octets)\n"));
}

TEST_F(Daemon, FloodOfUndecodablePayloadsLogsLessThanItSends) {
  Run();
  // The flood ends with a payload whose line tells it apart: once that line
  // is in the log, or a count that ends in it, nothing of the flood is held
  // back any more.
  const std::string payload("\xC0", 1), last("\xC1", 1);
  LGCP::Message decoded;
  ASSERT_FALSE(Controller::Decode(payload, decoded));
  ASSERT_FALSE(Controller::Decode(last, decoded));
  const size_t before = LogOctets();
  const size_t hostile = SendFrames(payload, 20000) + SendFrames(last, 1);
  const LGCP::Message answer = Call(Controller::Ping(77));
  EXPECT_TRUE(Controller::IsSuccess(answer));
  EXPECT_EQ(77, Controller::SeqOf(answer));
  // What was held back is counted in a line of its own about a second later.
  EXPECT_TRUE(Eventually([&] { return contains(daemon.Err().substr(before), " msg: C1 (1 octets)\n"); }))
      << daemon.Err();
  EXPECT_LE(LogOctets() - before, hostile);
}

TEST_F(Daemon, ValuesPastTheirBoundsAreRefused) {
  Run();
  const struct {
    std::string payload;
    int cause;
    long seq;
    long slot;
  } cases[] = {
      // connect 65535: the two octets of the field carry it, the range does not.
      {"0100ffff", LGCP::ErrorCause::invalidSlot, kNone, kNone},
      {"010003ff", LGCP::ErrorCause::unexpectedMsgType, kNone, kNone},
      // A closed enumeration's index past its last value that still fits the
      // field's bits: create mcc type 3, create rtp payload 127 (ptR2S is
      // 123), ioctl encoder-mode 3.
      {"c001470026085e", LGCP::ErrorCause::invalidParams, 71, 38},
      {"c0015100290820001fc00831302e302e302e31138c0000", LGCP::ErrorCause::invalidParams, 81, 41},
      {"c0013f00071233", LGCP::ErrorCause::invalidParams, 63, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.payload);
    ASSERT_TRUE(controller.SendPayload(CtrlTest::Unhex(c.payload)));
    LGCP::Message answer;
    ASSERT_EQ(Controller::Ok, controller.Receive(answer, 5000));
    EXPECT_EQ(c.cause, Controller::ErrorOf(answer));
    EXPECT_EQ(c.seq, Controller::SeqOf(answer));
    EXPECT_EQ(c.slot, Controller::SlotOf(answer));
  }
  EXPECT_TRUE(Controller::IsSuccess(Call(Controller::Ping(3))));
  EXPECT_EQ(0, Stop());
}

TEST_F(Daemon, SecondControllerIsRefused) {
  Run();
  Controller second;
  ASSERT_TRUE(second.Connect(port));
  EXPECT_TRUE(second.WaitClosed(5000));
  EXPECT_TRUE(Controller::IsSuccess(Call(Controller::Ping(2))));
  EXPECT_EQ(0, Stop());
  EXPECT_TRUE(contains(daemon.Err(), "refuse connection from 127.0.0.1:"));
}

TEST_F(Daemon, NextControllerIsServedAfterTheFirstLeaves) {
  Run();
  controller.Close();
  // At once: the daemon finishes the first one's end before it would refuse.
  Controller next;
  next.SetSignalsApart(true);
  LGCP::Message answer;
  ASSERT_TRUE(next.Connect(port));
  ASSERT_EQ(Controller::Ok, next.Call(Controller::Ping(3), answer, 5000));
  EXPECT_EQ(3, Controller::SeqOf(answer));
}

TEST_F(Daemon, ControllerThatReconnectsAtOnceIsServedEveryTime) {
  Run();
  for (int i = 0; i < 1000; ++i) {
    if (i % 2) {
      linger abort = {1, 0};
      ::setsockopt(controller.Handle(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    controller.Close();
    ASSERT_TRUE(controller.Connect(port)) << i;
    LGCP::Message answer;
    ASSERT_EQ(Controller::Ok, controller.Call(Controller::Ping(i), answer, 5000)) << i << "\n" << daemon.Err();
    EXPECT_EQ(i, Controller::SeqOf(answer));
  }
  EXPECT_EQ(0, Stop());
  EXPECT_FALSE(contains(daemon.Err(), "refuse connection"));
}

TEST_F(Daemon, Sigusr2WritesTheStatusFile) {
  Run();
  ASSERT_FALSE(Exists(statusPath));
  ASSERT_TRUE(daemon.Signal(SIGUSR2));
  const std::string version = "version : " + DaemonVersion() + "\n";
  EXPECT_TRUE(Eventually([&] { return contains(ReadFile(statusPath), "AcceptorNet::OnSocketEvent"); }));
  const std::string status = ReadFile(statusPath);
  EXPECT_TRUE(contains(status, version)) << status;
  // The daemon is still serving.
  EXPECT_TRUE(Controller::IsSuccess(Call(Controller::Ping(4))));
  std::remove(statusPath.c_str());
}

TEST_F(Daemon, BadTraceSettingIsReportedAndIgnored) {
  Run("[traces]\nsignalling.hdlc=maybe\n");
  EXPECT_EQ(0, Stop());
  EXPECT_TRUE(contains(daemon.Err(), "traces: optional key \"signalling.hdlc\" has invalid value=\"maybe\""))
      << daemon.Err();
}

TEST_F(Daemon, SighupAsksForTheHardwareResources) {
  Run();
  ASSERT_TRUE(daemon.Signal(SIGHUP));
  EXPECT_TRUE(Eventually([&] { return contains(daemon.Err(), "update hardware resources\n"); })) << daemon.Err();
  EXPECT_TRUE(Controller::IsSuccess(Call(Controller::Ping(5))));
}

TEST_F(Daemon, ControllerThatVanishesWhileAnsweredDoesNotStopIt) {
  Run();
  std::string burst;
  for (int i = 0; i < 1000; ++i) {
    std::string payload;
    ASSERT_TRUE(Controller::Encode(Controller::Ping(i), payload));
    burst += Controller::Frame(payload);
  }
  ASSERT_TRUE(controller.SendBytes(burst));
  // A reset instead of an orderly close: the answers meet a dead socket.
  linger abort = {1, 0};
  ::setsockopt(controller.Handle(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  controller.Close();
  Controller next;
  next.SetSignalsApart(true);
  LGCP::Message answer;
  EXPECT_TRUE(
      Eventually([&] { return next.Connect(port) && next.Call(Controller::Ping(6), answer, 5000) == Controller::Ok; }));
  EXPECT_EQ(6, Controller::SeqOf(answer));
  EXPECT_EQ(0, Stop()) << daemon.Err();
}

TEST_F(Daemon, DetachesAsADaemon) {
  configFile.reset(new ConfigFile(""));
  port = FreePort();
  std::remove(pidPath.c_str());
  EXPECT_EQ(0, RunToEnd({"-D", "--port", std::to_string(port)}).code);
  int pid = 0;
  ASSERT_TRUE(Eventually([&] { return (pid = std::atoi(ReadFile(pidPath).c_str())) > 0; }));
  // Not our child: nothing else would stop it when the test fails half-way.
  struct Reaper {
    int pid;
    ~Reaper() {
      if (!Ended(pid)) ::kill(pid, SIGKILL);
    }
  } reaper{pid};
  ASSERT_TRUE(controller.Connect(port, 10000));
  EXPECT_TRUE(Controller::IsSuccess(Call(Controller::Ping(7))));
  ASSERT_EQ(0, ::kill(pid, SIGTERM));
  EXPECT_TRUE(controller.WaitClosed(10000));
  EXPECT_TRUE(Eventually([&] { return !Exists(pidPath) && Ended(pid); }, 10000));
}

TEST_F(Daemon, HostileFramingGivesFarLessLogThanInput) {
  Run();
  const struct {
    const char* what;
    std::string unit;
    const char* first;
  } cases[] = {
      {"bad reserved octets", std::string("\x03\x01", 2), "TPKT bad TPKT reserved.\n"},
      {"short lengths", std::string("\x03\x00\x00\x00", 4), "TPKT too small 0\n"},
  };
  for (const auto& c : cases) {
    std::string hostile;
    while (hostile.size() < 65536) hostile += c.unit;
    const size_t before = daemon.Err().size();
    ASSERT_TRUE(controller.SendBytes(hostile)) << c.what;
    // The answer shows that everything before the ping was taken.
    LGCP::Message answer;
    ASSERT_EQ(Controller::Ok, controller.Call(Controller::Ping(8), answer, 5000)) << c.what;
    EXPECT_EQ(8, Controller::SeqOf(answer));
    const std::string log = daemon.Err().substr(before);
    EXPECT_LE(log.size() * 50, hostile.size()) << c.what << ":\n" << log.substr(0, 2000);
    EXPECT_TRUE(contains(log, c.first)) << c.what << ":\n" << log.substr(0, 2000);
    EXPECT_TRUE(contains(log, " more bad TPKT headers skipped.\n")) << c.what << ":\n" << log.substr(0, 2000);
  }
  EXPECT_EQ(0, Stop());
}
