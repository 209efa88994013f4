// Soft T.38 slots end to end: the stand-in installed as t38 echoes its
// channel, and answers "--num-of-instances" from usr/local/etc/t38-instances.
#include <sys/stat.h>

#include <cctype>

#include "control/testing/commands.h"
#include "daemon/tests/e2e/standin_e2e.h"
#include "messages/TERM.h"

namespace e2e {
namespace {

using namespace CtrlTest;

const std::string kT38 = kRoot + "/usr/local/sbin/t38";

LGCP::Command T38(std::string const& iaddr, int dport, int sport, std::vector<std::string> const& args,
                  int rxThreshold = 3, int txThreshold = 5) {
  LGCP::Command c;
  LGCP::T38Soft& p = c.select_create().select_t38soft();
  p.set_dhost().set_iaddr(iaddr);
  p.set_dhost().set_port(dport);
  p.set_shost().set_iaddr("0.0.0.0");
  p.set_shost().set_port(sport);
  p.set_rx_packet_size(160);
  p.set_rx_threshold(rxThreshold);
  p.set_tx_threshold(txThreshold);
  p.set_args();
  for (std::string const& a : args) p.set_args().push_back(ASN1::IA5String(a));
  return c;
}

bool IsAbort(LGCP::Signal const& s) { return s.abort_isSelected(); }
bool Any(LGCP::Signal const&) { return true; }

class T38E2E : public StandinDaemon {
protected:
  // The slot's MCC timeslot, from both stream signals.
  int Timeslot(long slot) {
    LGCP::Signal tx, rx;
    EXPECT_TRUE(WaitFor(slot, [](LGCP::Signal const& s) { return s.transmitter_isSelected(); }, &tx));
    EXPECT_TRUE(WaitFor(slot, [](LGCP::Signal const& s) { return s.receiver_isSelected(); }, &rx));
    if (!tx.transmitter_isSelected() || !rx.receiver_isSelected()) return -1;
    EXPECT_EQ(tx.get_transmitter().get_active().getValue(), rx.get_receiver().get_active().getValue());
    return tx.get_transmitter().get_active().getValue();
  }
  bool Allocated(int timeslot) { return contains(Board("mcc list").text(), "channel=" + std::to_string(timeslot) + " "); }
  // t38-instances of the query signal that follows a query.
  int Instances() {
    LGCP::Message answer;
    EXPECT_EQ(Controller::Ok, controller.Call(Controller::Make(Query(), ++seq), answer, 5000));
    LGCP::Message m;
    while (controller.ReceiveSignal(m, 5000) == Controller::Ok && !m.get_pdu().get_signal().query_isSelected()) {
    }
    if (!m.get_pdu().get_signal().query_isSelected()) return -1;
    return m.get_pdu().get_signal().get_query().get_t38_instances().getValue();
  }
  std::string Logged() { return daemon.Out() + daemon.Err(); }
};

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

TEST_F(T38E2E, ChildRunsOnTheChannelEchoesTheLineAndEndsOnDestroy) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_EQ(kSuccess, Answer(T38("10.0.0.5", 4000, 4002, {"a", "b"}), 1));
  const int ts = Timeslot(1);
  EXPECT_TRUE(Allocated(ts)) << ts;
  EXPECT_EQ(std::vector<std::string>{"mode=2 rxsize=160 reserved=0 rxthreshold=3 txthreshold=5"},
            Lines("mcc get " + std::to_string(ts)));
  std::string log = WaitLog("t38", "sigpipe");
  EXPECT_TRUE(contains(log, "argv --child --remote 10.0.0.5/4000/4002 a b\n")) << log;
  EXPECT_TRUE(contains(log, "\nfd 0 socket:")) << log;
  EXPECT_EQ(3, count(log, "\nfd ")) << log;
  EXPECT_TRUE(contains(log, "sigpipe default")) << log;

  ASSERT_EQ(kSuccess, Answer(Trunk(0, 9), 2));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(2), 1));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(1), 2));
  Board("line tap 0 9");
  Board("line inject 0 9 C0FFEE0102");
  std::string tapped;
  EXPECT_TRUE(Eventually([&] {
    for (std::string const& l : Lines("line read 0 9")) tapped += Upper(l);
    return contains(tapped, "C0FFEE0102");
  })) << tapped;

  // 40 args: the first 27 reach the child.
  std::vector<std::string> many;
  for (int i = 0; i < 40; ++i) many.push_back("a" + std::to_string(i));
  ASSERT_EQ(kSuccess, Answer(T38("10.0.0.5", 4000, 4002, many, 6, 2), 3));
  log = WaitLog("t38", "sigpipe", 1);
  EXPECT_TRUE(contains(log, " a26\n") && !contains(log, "a27")) << log;
  EXPECT_EQ(std::vector<std::string>{"mode=2 rxsize=160 reserved=0 rxthreshold=6 txthreshold=2"},
            Lines("mcc get " + std::to_string(Timeslot(3))));

  // SIGTERM, the slot gone at once, the child reaped, its channel free.
  const int pid = Pid("t38");
  EXPECT_EQ(kSuccess, Answer(Destroy(), 1));
  EXPECT_TRUE(contains(WaitLog("t38", "exit 0"), "signal TERM"));
  EXPECT_TRUE(Gone(pid)) << "t38 " << pid << " left behind";
  EXPECT_TRUE(Eventually([&] { return !Allocated(ts); }));
  EXPECT_EQ(LGCP::ErrorCause::slotNotExists, Answer(Destroy(), 1));
  // The child's end reaches the loop on a socket of its own, in no order
  // with the controller's: its line shows the loop has taken it.
  EXPECT_TRUE(Eventually([&] {
    return contains(Logged(), "terminate child process, pid=" + std::to_string(pid) + " ");
  })) << Logged();
  EXPECT_FALSE(SignalledByPing(1, IsAbort));
}

TEST_F(T38E2E, ChildEndsAbortTheSlot) {
  ASSERT_NO_FATAL_FAILURE(Start());
  LGCP::Signal s;
  ASSERT_EQ(kSuccess, Answer(T38("10.0.0.5", 4000, 4002, {"exit=3"}), 1));
  ASSERT_TRUE(WaitFor(1, IsAbort, &s));
  EXPECT_EQ(768, s.get_abort().getValue());
  EXPECT_TRUE(contains(Logged(), "t38 daemon terminated with code=3")) << Logged();
  ASSERT_EQ(kSuccess, Answer(Destroy(), 1));
  ASSERT_EQ(kSuccess, Answer(Trunk(0, 9), 2));
  seen.clear();
  EXPECT_FALSE(SignalledByPing(1, Any));

  // A stand-in that cannot be executed ends with 237.
  ::chmod(kT38.c_str(), 0644);
  const int answer = Answer(T38("10.0.0.5", 4000, 4002, {}), 3);
  const bool aborted = WaitFor(3, IsAbort, &s);
  ::chmod(kT38.c_str(), 0755);
  EXPECT_EQ(kSuccess, answer);
  ASSERT_TRUE(aborted);
  EXPECT_EQ(60672, s.get_abort().getValue());
}

TEST_F(T38E2E, BadCreatesStartNothing) {
  ASSERT_NO_FATAL_FAILURE(Start());
  // 60 + "/65535/65535" is one more than the remote text holds.
  EXPECT_EQ(LGCP::ErrorCause::invalidParams, Answer(T38(std::string(60, '1'), 65535, 65535, {}), 1));
  EXPECT_TRUE(contains(Logged(), "too long")) << Logged();
  Board("fail ioctl /dev/mcc/ctl 0x40144D00 EIO");
  EXPECT_NE(kSuccess, Answer(T38("10.0.0.5", 4000, 4002, {}), 2));
  EXPECT_TRUE(contains(Logged(), "T38SoftFactory::INewSlot - FAIL to ioctl MCC_ALLOCATE [5]")) << Logged();
  EXPECT_TRUE(Logs("t38").empty());
  EXPECT_EQ(LGCP::ErrorCause::slotNotExists, Answer(Destroy(), 2));

  ASSERT_EQ(kSuccess, Answer(T38(std::string(59, '1'), 65535, 65535, {}), 3));
  EXPECT_TRUE(contains(WaitLog("t38", "sigpipe"), "--remote " + std::string(59, '1') + "/65535/65535\n"));
}

TEST_F(T38E2E, QueryReportsWhatTheProgramPrints) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(4, Instances());
  {
    TempFile none(kRoot + "/usr/local/etc/t38-instances", "", 0644);
    EXPECT_EQ(0, Instances());
    EXPECT_EQ(1, count(Logged(), "t38: can't detect T38 resources")) << Logged();
  }
  {
    TempFile three(kRoot + "/usr/local/etc/t38-instances", "3\n", 0644);
    EXPECT_EQ(3, Instances());
  }
  // A program that never answers: 0 after a second, not after its minute.
  TempFile sleeping(kRoot + "/usr/local/etc/t38-instances", "sleep\n", 0644);
  EXPECT_EQ(0, Instances());
  EXPECT_EQ(2, count(Logged(), "t38: can't detect T38 resources")) << Logged();
}

}  // namespace
}  // namespace e2e
