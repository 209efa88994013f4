// Modem slots end to end: the daemon on the default simulated board with the
// stand-in installed as pppd and the fax programs.
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <set>

#include "control/testing/commands.h"
#include "daemon/tests/e2e/standin_e2e.h"
#include "foundation/ext_text.h"
#include "foundation/log_limit.h"
#include "foundation/os.h"
#include "messages/BASE.h"
#include "messages/TERM.h"
#include "transport/testing/link_test_util.h"

namespace e2e {
namespace {

using namespace CtrlTest;

LGCP::Command Modem(std::function<void(TERM::ModemParams&)> fill) {
  LGCP::Command c;
  TERM::ModemParams& p = c.select_create().select_modem();
  p.set_cid("");
  p.set_cdid("");
  fill(p);
  return c;
}

LGCP::Command ActivateUser(std::string const& addr) {
  LGCP::Command c;
  TERM::ModemUserParameters& u = c.select_activate().select_modem();
  u.set_remoteAddr(addr);
  u.set_netmask("255.255.255.0");
  u.set_gateway("10.0.0.1");
  u.set_dns("10.0.0.2");
  u.set_mtu(1500);
  return c;
}

void Args(TERM::ModemParams& p, std::vector<std::string> const& args) {
  for (std::string const& a : args) p.set_execargs().push_back(ASN1::IA5String(a));
}

bool IsAuth(LGCP::Signal const& s) {
  return s.modemProceeding_isSelected() && s.get_modemProceeding().auth_isSelected();
}
bool IsAcct(LGCP::Signal const& s) {
  return s.modemProceeding_isSelected() && s.get_modemProceeding().acct_isSelected();
}
bool IsAbort(LGCP::Signal const& s) { return s.abort_isSelected(); }

// A driver record as "modem log" shows its octets: 32-bit words in the
// processor's order.
std::string Record(std::vector<std::int32_t> const& words) {
  std::string octets(words.size() * 4, '\0');
  std::memcpy(&octets[0], words.data(), octets.size());
  return " record=" + ext::hex_text(octets) + "\n";
}

using Ddm = TERM::DigitalDataModeEnum;

// Words in the host's order, as the authentication link carries them.
std::string Words(std::initializer_list<std::uint32_t> words) {
  std::string s;
  for (std::uint32_t w : words) s.append(reinterpret_cast<const char*>(&w), 4);
  return s;
}

std::uint32_t Word(std::string const& record, std::size_t at) {
  std::uint32_t w;
  std::memcpy(&w, record.data() + at, 4);
  return w;
}

// A record of the link: each octet of its body tells its offset.
std::string AuthRecord(std::uint32_t length, std::uint32_t type, std::uint32_t id) {
  std::string r = Words({length, type, id});
  for (std::uint32_t at = 12; at < length; ++at) r += char(at);
  return r;
}

std::string Request(std::string const& user, std::string const& password, std::uint32_t length = 140) {
  std::string r = AuthRecord(length, 1, 0);
  r.replace(12, user.size() + 1, user.c_str(), user.size() + 1);
  r.replace(76, password.size() + 1, password.c_str(), password.size() + 1);
  return r.substr(0, length);
}

// A connection to the daemon's authentication link, as pppd's plug-in makes.
struct PlugIn {
  PlugIn() : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(AuthPort());
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(0, ::connect(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa));
  }
  // Whether all went out (not when the daemon closed meanwhile).
  bool Send(std::string const& octets) {
    for (std::size_t at = 0; at < octets.size();) {
      const ssize_t n = ::send(fd.lowlevel_fd(), octets.data() + at, octets.size() - at, MSG_NOSIGNAL);
      if (n <= 0) return false;
      at += std::size_t(n);
    }
    return true;
  }
  // What the daemon sends until n octets, its close or 5 s of silence.
  std::string Read(std::size_t n) {
    std::string got;
    pollfd p{fd.lowlevel_fd(), POLLIN, 0};
    char buf[512];
    while (got.size() < n && ::poll(&p, 1, 5000) == 1) {
      const ssize_t r = ::recv(fd.lowlevel_fd(), buf, std::min(sizeof buf, n - got.size()), 0);
      if (r <= 0) break;
      got.append(buf, std::size_t(r));
    }
    return got;
  }
  // Whether the daemon closes the connection within 5 s.
  bool Closed() {
    pollfd p{fd.lowlevel_fd(), POLLIN, 0};
    char buf[512];
    while (::poll(&p, 1, 5000) == 1) {
      const ssize_t r = ::recv(fd.lowlevel_fd(), buf, sizeof buf, 0);
      if (r == 0 || (r < 0 && errno == ECONNRESET)) return true;
      if (r < 0) return false;
    }
    return false;
  }
  Fd fd;
};

class ModemE2E : public StandinDaemon {
protected:
  // A modem slot joined both ways to the trunk slot.
  void Join(long modem, long trunk) {
    ASSERT_EQ(kSuccess, Answer(ConnectTo(trunk), modem));
    ASSERT_EQ(kSuccess, Answer(ConnectTo(modem), trunk));
  }
  // The slot's timeslot from its transmitter signal, -1 without one.
  int Timeslot(long slot) {
    LGCP::Signal s;
    const auto transmitter = [](LGCP::Signal const& x) { return x.transmitter_isSelected(); };
    if (!WaitFor(slot, transmitter, &s)) return -1;
    return s.get_transmitter().get_active().getValue();
  }
  bool ModemIs(int modem, const char* state) {
    const std::string n = std::to_string(modem);
    return Eventually([&] { return contains(Board("modem list").text(), "modem " + n + " ts=60" + n + " " + state); });
  }
};

TEST_F(ModemE2E, DspModemAnswersRunsPppdAuthenticatesAndDestroysWhenPppdEnds) {
  TempFile options(kRoot + "/usr/local/etc/ppp/aoptions", "auth=alice:secret acct=0,10,0,20,0,3,0,4,60\n", 0644);
  // The link's port held by an outgoing connection when the daemon starts.
  linktest::Outgoing holder(AuthPort());
  ASSERT_TRUE(holder.held());
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Eventually([&] { return contains(daemon.Err(), "auth: fail to bind auth socket: Address already in use\n"); }));
  holder.release();
  ASSERT_TRUE(Eventually([&] { return contains(daemon.Err(), "auth: auth socket bound to 127.0.0.1:"); }, 10000));
  ASSERT_EQ(kSuccess, Answer(Modem([](TERM::ModemParams& p) { p.set_cid("5551234"); }), 1));
  ASSERT_EQ(kSuccess, Answer(Trunk(0, 5), 2));
  ASSERT_NO_FATAL_FAILURE(Join(1, 2));
  LGCP::Signal s;
  ASSERT_TRUE(WaitFor(1, [](LGCP::Signal const& x) { return x.transmitter_isSelected(); }, &s));
  EXPECT_EQ(600, s.get_transmitter().get_active().getValue());
  ASSERT_TRUE(WaitFor(1, [](LGCP::Signal const& x) { return x.receiver_isSelected(); }, &s));
  EXPECT_EQ(600, s.get_receiver().get_active().getValue());
  const std::string modemLog = Board("modem log 0").text();
  EXPECT_TRUE(contains(modemLog, "allocate") && contains(modemLog, "timeslot 600") && contains(modemLog, "answer"))
      << modemLog;

  ASSERT_TRUE(WaitFor(1, IsAuth, &s)) << daemon.Err();
  EXPECT_EQ("alice", std::string(s.get_modemProceeding().get_auth().get_username()));
  EXPECT_EQ("secret", std::string(s.get_modemProceeding().get_auth().get_password()));
  ASSERT_TRUE(WaitFor(1, IsAcct, &s));
  const TERM::MdmAccounting& acct = s.get_modemProceeding().get_acct();
  EXPECT_EQ(10, acct.get_octetsOut().get_low().getValue());
  EXPECT_EQ(20, acct.get_octetsIn().get_low().getValue());
  EXPECT_EQ(60, acct.get_time().get_low().getValue());

  std::string log = WaitLog("pppd", "auth connected");
  EXPECT_TRUE(contains(log, "argv file " + kRoot + "/usr/local/etc/ppp/aoptions " + kRoot +
                                "/dev/mdm0 remotenumber 5551234\n"))
      << log;
  EXPECT_TRUE(contains(log, "tty " + kRoot + "/dev/mdm0 connected")) << log;
  EXPECT_FALSE(contains(log, "fd 3 ")) << log;
  EXPECT_EQ(3, count(log, "\nfd ")) << log;
  EXPECT_TRUE(contains(log, "sigpipe default")) << log;

  EXPECT_EQ(kSuccess, Answer(ActivateUser("10.0.0.5"), 1));
  log = WaitLog("pppd", "recv type=3");
  EXPECT_TRUE(contains(log, "recv type=2 id=0 len=16 accept=1")) << log;
  EXPECT_TRUE(contains(log, "ip=10.0.0.5 mask=255.255.255.0 gw=10.0.0.1 dns=10.0.0.2 mtu=1500")) << log;

  const int pid = Pid("pppd");
  EXPECT_EQ(kSuccess, Answer(Destroy(), 1));
  EXPECT_TRUE(contains(ReadFile(Logs("pppd")[0]), "signal HUP\nexit 0"));
  EXPECT_TRUE(Gone(pid)) << "pppd " << pid << " left behind";
  EXPECT_TRUE(Eventually([&] { return contains(Board("modem log 0").text(), "close"); }));
}

TEST_F(ModemE2E, PppdIgnoringHupIsKilledAfterFiveSeconds) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_EQ(kSuccess, Answer(Modem([](TERM::ModemParams& p) { Args(p, {"nohup"}); }), 1));
  ASSERT_EQ(kSuccess, Answer(Trunk(0, 5), 2));
  ASSERT_NO_FATAL_FAILURE(Join(1, 2));
  WaitLog("pppd", "sigpipe");
  const int pid = Pid("pppd");
  EXPECT_EQ(kSuccess, Answer(Destroy(), 1));
  EXPECT_TRUE(contains(ReadFile(Logs("pppd")[0]), "signal HUP")) << ReadFile(Logs("pppd")[0]);
  EXPECT_TRUE(contains(daemon.Err(), "pppd terminate timeout!"));
  EXPECT_TRUE(Gone(pid));
}

TEST_F(ModemE2E, CreateParametersReachTheDriverAndPppd) {
  TempFile notExec(kRoot + "/usr/local/sbin/notexec", "#!/bin/sh\n", 0644);
  ASSERT_NO_FATAL_FAILURE(Start());
  // execfile outside exec-dirs, with "..", not executable.
  for (const char* file : {"/tmp/x", "/usr/local/sbin/../sbin/pppd", "/usr/local/sbin/notexec", "pppd"})
    EXPECT_EQ(LGCP::ErrorCause::invalidParams,
              Answer(Modem([&](TERM::ModemParams& p) { p.set_execfile(file); }), 1))
        << file;

  // Originating, no cid; a second connect starts nothing more.
  ASSERT_EQ(kSuccess, Answer(Modem([](TERM::ModemParams& p) { p.set_originate(); }), 1));
  ASSERT_EQ(kSuccess, Answer(Trunk(0, 5), 2));
  ASSERT_EQ(kSuccess, Answer(Trunk(0, 6), 3));
  ASSERT_NO_FATAL_FAILURE(Join(1, 2));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(3), 1));
  std::string log = WaitLog("pppd", "sigpipe");
  EXPECT_TRUE(contains(log, "argv file " + kRoot + "/usr/local/etc/ppp/coptions " + kRoot + "/dev/mdm0\n")) << log;
  EXPECT_EQ(1u, Logs("pppd").size());
  EXPECT_TRUE(contains(Board("modem log 0").text(), "\noriginate" + Record({0, -1}))) << Board("modem log 0").text();

  // 70 execargs: 62 reach pppd; an empty ddm is a DSP modem with mask 0;
  // the DMP records name the modem allocated.
  std::vector<std::string> many;
  for (int i = 0; i < 70; ++i) many.push_back("a" + std::to_string(i));
  ASSERT_EQ(kSuccess, Answer(Modem([&](TERM::ModemParams& p) {
                               Args(p, many);
                               p.set_ddm();
                               for (std::pair<int, int> d : {std::make_pair(5, 7), std::make_pair(9, -3)}) {
                                 TERM::DDModemParam dmp;
                                 dmp.set_offset(d.first);
                                 dmp.set_value(d.second);
                                 p.set_dmp().push_back(dmp);
                               }
                             }),
                             4));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(4), 2));
  log = WaitLog("pppd", "sigpipe", 1);
  EXPECT_TRUE(contains(log, " a61\n") && !contains(log, "a62")) << log;
  const std::string records = Board("modem log 1").text();
  EXPECT_TRUE(contains(records, "\nddm mask=0" + Record({1, 0}) + "dmp reset" + Record({1, -1}) + "dmp 5=7" +
                                    Record({1, 5, 7}) + "dmp 9=-3" + Record({1, 9, -3}) + "answer" + Record({1, -1})))
      << records;

  // A fax call originating: the fax originate record, nothing started.
  ASSERT_EQ(kSuccess, Answer(Modem([](TERM::ModemParams& p) {
                               p.set_fax();
                               p.set_originate();
                             }),
                             6));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(6), 2));
  EXPECT_TRUE(contains(Board("modem log 2").text(), "\nfax originate" + Record({2, -1})))
      << Board("modem log 2").text();
  EXPECT_TRUE(Logs("fax").empty());

  // The driver refuses the allocation.
  Board("fail ioctl /dev/mctl 0xBB0B EIO");
  ASSERT_EQ(kSuccess, Answer(Modem([](TERM::ModemParams&) {}), 5));
  // The modem has no timeslot to join: the connect fails, the slot aborts.
  EXPECT_EQ(LGCP::ErrorCause::connectFail, Answer(ConnectTo(5), 2));
  LGCP::Signal s;
  ASSERT_TRUE(WaitFor(5, IsAbort, &s));
  EXPECT_EQ(5, s.get_abort().getValue());
}

TEST_F(ModemE2E, DigitalModemsRouteEachConnectionToThePppdThatHoldsIt) {
  ASSERT_NO_FATAL_FAILURE(Start());
  Board("netif add hdlc0 0x11 700");
  auto digital = [](std::vector<std::string> const& args, std::vector<Ddm::NamedNumber> ddm = {Ddm::ddm8BIT}) {
    return Modem([&](TERM::ModemParams& p) {
      for (Ddm::NamedNumber m : ddm) p.set_ddm().push_back(Ddm(m));
      Args(p, args);
    });
  };
  // hdlc0's pppd connects only after hdlc1's, both running meanwhile.
  ASSERT_EQ(kSuccess, Answer(digital({"wait=1500", "auth=first:a"}), 1));
  ASSERT_EQ(kSuccess, Answer(digital({"auth=second:b"}), 2));
  ASSERT_EQ(kSuccess, Answer(Trunk(0, 5), 3));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(3), 1));
  WaitLog("pppd", "sigpipe");
  ASSERT_EQ(kSuccess, Answer(ConnectTo(3), 2));
  EXPECT_TRUE(contains(Board("netif get hdlc0").text(), "protocol=ppp"));
  LGCP::Signal s;
  ASSERT_TRUE(WaitFor(2, IsAuth, &s)) << daemon.Err();
  EXPECT_EQ("second", std::string(s.get_modemProceeding().get_auth().get_username()));
  ASSERT_TRUE(WaitFor(1, IsAuth, &s)) << daemon.Err();
  EXPECT_EQ("first", std::string(s.get_modemProceeding().get_auth().get_username()));

  EXPECT_EQ(kSuccess, Answer(ActivateUser("10.0.0.9"), 2));
  EXPECT_EQ(kSuccess, Answer(ActivateUser("10.0.0.8"), 1));
  EXPECT_TRUE(contains(WaitLog("pppd", "ip=10.0.0.8", 0), "recv type=3 id=-1"));
  EXPECT_TRUE(contains(WaitLog("pppd", "ip=10.0.0.9", 1), "recv type=3 id=-1"));
  EXPECT_FALSE(contains(ReadFile(Logs("pppd")[0]), "10.0.0.9"));
  EXPECT_FALSE(contains(ReadFile(Logs("pppd")[1]), "10.0.0.8"));

  // No interface free: a query frees none held, a ddm modem is a DSP one.
  Board("netif remove hdlc2");
  Board("netif remove hdlc3");
  EXPECT_EQ(kSuccess, Answer(Query(), CtrlTest::kNone));
  LGCP::Message m;
  while (controller.ReceiveSignal(m, 5000) == Controller::Ok && !m.get_pdu().get_signal().query_isSelected()) {
  }
  ASSERT_TRUE(m.get_pdu().get_signal().query_isSelected());
  EXPECT_EQ(4, m.get_pdu().get_signal().get_query().get_modem().getValue());
  EXPECT_EQ(2, m.get_pdu().get_signal().get_query().get_digital_modems().getValue());
  ASSERT_EQ(kSuccess, Answer(digital({}), 4));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(3), 4));
  EXPECT_TRUE(Eventually([&] {
    return contains(Board("modem log 0").text(), "\nddm mask=2" + Record({0, 2}));
  })) << Board("modem log 0").text();

  // Down, raw HDLC and free again, once.
  ASSERT_EQ(kSuccess, Answer(Destroy(), 1));
  EXPECT_TRUE(contains(Board("netif get hdlc0").text(), "flags=0x10 channel=700 protocol=hdlc"));
  ASSERT_EQ(kSuccess, Answer(digital({}), 5));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(3), 5));
  WaitLog("pppd", "sigpipe", 2);
  EXPECT_TRUE(contains(Board("netif get hdlc0").text(), "protocol=ppp"));
  ASSERT_EQ(kSuccess, Answer(digital({}, {Ddm::ddmV110, Ddm::ddm7BIT, Ddm::ddmV120}), 6));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(3), 6));
  EXPECT_TRUE(Eventually([&] {
    return contains(Board("modem log 1").text(), "\nddm mask=5" + Record({1, 5}));
  })) << Board("modem log 1").text();

  // An interface that cannot be set up: the slot aborts with the error.
  ASSERT_EQ(kSuccess, Answer(Destroy(), 2));
  ASSERT_EQ(kSuccess, Answer(digital({}), 7));
  Board("netif remove hdlc1");
  Answer(ConnectTo(3), 7);
  ASSERT_TRUE(WaitFor(7, IsAbort, &s)) << daemon.Err();
  EXPECT_EQ(ENODEV, s.get_abort().getValue());
}

TEST_F(ModemE2E, FaxChildrenReportPagesAndFailuresHoldTheirModemAndTakeNoRecords) {
  TempFile broken(kRoot + "/usr/local/sbin/broken", "#!/nonexistent/interpreter\n", 0755);
  TempFile options(kRoot + "/usr/local/etc/ppp/aoptions", "auth=bob:pw\n", 0644);
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_EQ(kSuccess, Answer(Trunk(0, 5), 9));
  auto fax = [](std::vector<std::string> const& args, std::string const& execfile) {
    return Modem([&](TERM::ModemParams& p) {
      p.set_fax();
      if (!args.empty()) Args(p, args);
      if (!execfile.empty()) p.set_execfile(execfile);
    });
  };
  LGCP::Signal s;
  ASSERT_EQ(kSuccess, Answer(fax({"exit=7"}, ""), 1));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(1), 9));
  ASSERT_TRUE(WaitFor(1, IsAcct, &s)) << daemon.Err();
  EXPECT_EQ(7, s.get_modemProceeding().get_acct().get_octetsIn().get_low().getValue());
  ASSERT_TRUE(WaitFor(1, IsAbort, &s));
  EXPECT_EQ(1792, s.get_abort().getValue());
  EXPECT_TRUE(contains(ReadFile(Logs("fax")[0]), "argv -m 0 exit=7\n"));

  // A running fax program holds its modem: a data call gets another one.
  ASSERT_TRUE(ModemIs(0, "free"));
  ASSERT_EQ(kSuccess, Answer(fax({"run"}, ""), 6));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(6), 9));
  EXPECT_TRUE(contains(WaitLog("fax", "tty ", 1), "tty " + kRoot + "/dev/mdm0 connected"));
  EXPECT_TRUE(ModemIs(0, "held"));
  ASSERT_EQ(kSuccess, Answer(Modem([](TERM::ModemParams&) {}), 7));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(7), 9));
  EXPECT_EQ(601, Timeslot(7));
  ASSERT_TRUE(WaitFor(7, IsAuth, &s)) << daemon.Err();
  // Once it has ended, the records of its modem go to the data call on it,
  // not to the fax slots that had it.
  ASSERT_EQ(kSuccess, Answer(Destroy(), 6));
  ASSERT_TRUE(ModemIs(0, "free"));
  ASSERT_EQ(kSuccess, Answer(Modem([](TERM::ModemParams&) {}), 8));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(8), 9));
  EXPECT_EQ(600, Timeslot(8));
  ASSERT_TRUE(WaitFor(8, IsAuth, &s)) << daemon.Err();
  EXPECT_EQ("bob", std::string(s.get_modemProceeding().get_auth().get_username()));
  EXPECT_FALSE(SignalledByPing(1, IsAuth));
  ASSERT_EQ(kSuccess, Answer(Destroy(), 7));
  ASSERT_EQ(kSuccess, Answer(Destroy(), 8));

  // A fax sender and a pppd that cannot be run.
  ASSERT_EQ(kSuccess, Answer(fax({"x"}, "/usr/local/sbin/broken"), 2));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(2), 9));
  ASSERT_TRUE(WaitFor(2, IsAbort, &s));
  EXPECT_EQ(512, s.get_abort().getValue());
  ASSERT_EQ(kSuccess, Answer(Modem([](TERM::ModemParams& p) { p.set_execfile("/usr/local/sbin/broken"); }), 3));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(3), 9));
  ASSERT_TRUE(WaitFor(3, IsAbort, &s));
  EXPECT_EQ(512, s.get_abort().getValue());
  EXPECT_FALSE(SignalledByPing(2, IsAcct));
  // A receiver that cannot be run received no pages.
  const std::string receiver = kRoot + "/usr/local/bin/fax";
  ::chmod(receiver.c_str(), 0644);
  ASSERT_EQ(kSuccess, Answer(fax({}, ""), 10));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(10), 9));
  const bool aborted = WaitFor(10, IsAbort, &s);
  ::chmod(receiver.c_str(), 0755);
  ASSERT_TRUE(aborted);
  EXPECT_EQ(512, s.get_abort().getValue());
  EXPECT_FALSE(SignalledByPing(10, IsAcct));

  // Two receivers within a second: two files.
  ASSERT_EQ(kSuccess, Answer(fax({}, ""), 4));
  ASSERT_EQ(kSuccess, Answer(fax({}, ""), 5));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(4), 9));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(5), 9));
  std::vector<std::string> receivers;
  EXPECT_TRUE(Eventually([&] {
    receivers.clear();
    for (std::string const& f : Logs("fax"))
      if (contains(ReadFile(f), "fax file")) receivers.push_back(ReadFile(f));
    return receivers.size() == 2;
  }));
  ASSERT_EQ(2u, receivers.size());
  const std::string a = receivers[0], b = receivers[1];
  const auto file = [](std::string const& log) {
    const size_t at = log.find("fax file ");
    return log.substr(at + 9, log.find(' ', at + 9) - at - 9);
  };
  EXPECT_TRUE(contains(a, " created") && contains(b, " created")) << a << b;
  EXPECT_NE(file(a), file(b));
  EXPECT_TRUE(contains(file(a), kRoot + "/var/fax-")) << a;
  std::remove(file(a).c_str());
  std::remove(file(b).c_str());
  EXPECT_EQ(kSuccess, Answer(Destroy(), 4));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 5));
}

TEST_F(ModemE2E, ActivateWithoutConnectionIsUnsupportedAndTheListenerRebindsAtOnce) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_EQ(kSuccess, Answer(Modem([](TERM::ModemParams&) {}), 1));
  ASSERT_EQ(kSuccess, Answer(Trunk(0, 5), 2));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(1), 2));
  WaitLog("pppd", "sigpipe");
  EXPECT_EQ(LGCP::ErrorCause::unsupported, Answer(ActivateUser("10.0.0.5"), 1));
  EXPECT_TRUE(contains(daemon.Err(), "send error: unknown auth 0 session.")) << daemon.Err();

  // A connection the daemon drops (length 513), then a restart at once.
  {
    PlugIn dropped;
    ASSERT_TRUE(dropped.Send(Words({513})));
    EXPECT_TRUE(dropped.Closed());
  }
  Stop();
  controller.Close();
  board.Close();
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_FALSE(contains(daemon.Err(), "fail to bind auth socket")) << daemon.Err();
}

TEST_F(ModemE2E, ThePlugInsRecordsAreReadAndAnsweredOctetByOctetAndStrangersNeitherStallNorFloodTheDaemon) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_EQ(kSuccess, Answer(Modem([](TERM::ModemParams&) {}), 1));
  ASSERT_EQ(kSuccess, Answer(Trunk(0, 5), 2));
  ASSERT_NO_FATAL_FAILURE(Join(1, 2));
  WaitLog("pppd", "sigpipe");

  // Records of no slot's session close their connection at the first.
  std::string flood;
  for (int i = 0; i < 5000; ++i) flood += AuthRecord(12, 1, std::uint32_t(-1));
  PlugIn stranger, another;
  stranger.Send(flood);
  another.Send(AuthRecord(12, 1, 3));
  EXPECT_TRUE(stranger.Closed());
  EXPECT_TRUE(another.Closed());
  // The answer comes after the lines of what went before.
  EXPECT_TRUE(Controller::IsSuccess(Call(Controller::Ping(++seq))));
  EXPECT_EQ(1, count(daemon.Err(), "receive auth request for unknown session -1\n")) << daemon.Err();
  EXPECT_EQ(1, count(daemon.Err(), "receive auth request for unknown session 3\n")) << daemon.Err();

  // Modem 0's plug-in: every kind of record.
  PlugIn plugin;
  ASSERT_TRUE(plugin.Send(Request("bob", "pw")));
  LGCP::Signal s;
  ASSERT_TRUE(WaitFor(1, IsAuth, &s)) << daemon.Err();
  EXPECT_EQ("bob", std::string(s.get_modemProceeding().get_auth().get_username()));
  EXPECT_EQ("pw", std::string(s.get_modemProceeding().get_auth().get_password()));
  const std::string acct = AuthRecord(64, 4, 0);
  ASSERT_TRUE(plugin.Send(Request("eve", "x", 139) + AuthRecord(16, 2, 0) + AuthRecord(36, 3, 0) +
                          AuthRecord(12, 9, 0) + AuthRecord(63, 4, 0) + acct));
  ASSERT_TRUE(WaitFor(1, IsAcct, &s)) << daemon.Err();
  const TERM::MdmAccounting& a = s.get_modemProceeding().get_acct();
  const BASE::INTEGER64Bits* pairs[] = {&a.get_octetsOut(), &a.get_octetsIn(), &a.get_packetsOut(), &a.get_packetsIn()};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(Word(acct, 24 + 8 * i), std::uint32_t(pairs[i]->get_high().getValue())) << i;
    EXPECT_EQ(Word(acct, 28 + 8 * i), std::uint32_t(pairs[i]->get_low().getValue())) << i;
  }
  EXPECT_EQ(0, a.get_time().get_high().getValue());
  EXPECT_EQ(Word(acct, 56), std::uint32_t(a.get_time().get_low().getValue()));
  EXPECT_FALSE(SignalledByPing(1, IsAuth));
  for (const char* line : {"auth request, invalid size: 139", "auth accept, ignored.", "auth ip, ignored.",
                           "unknown request from portslave: 0x9", "auth accounting, invalid size: 63"})
    EXPECT_EQ(1, count(daemon.Err(), std::string("01:dsp-modem: ") + line + "\n")) << line << daemon.Err();

  EXPECT_EQ(kSuccess, Answer(ActivateUser("10.0.0.5"), 1));
  const std::string addresses("\x0a\x00\x00\x05\xff\xff\xff\x00\x0a\x00\x00\x01\x0a\x00\x00\x02", 16);
  EXPECT_EQ(Words({16, 2, 0, 1}) + Words({36, 3, 0, 0}) + addresses + Words({1500}), plugin.Read(52));

  // Another session's records on the connection: an octet of log for a
  // hundred sent at most, the slot headers in the lines the limiter lets by
  // (in two windows of it at most: one may end while they are read). The
  // last names a session of its own: once its line is in the log, or a count
  // that ends in it, nothing of them is held back any more.
  const std::size_t before = LogOctets();
  std::string others;
  for (int i = 0; i < 20000; ++i) others += AuthRecord(12, 1, 7);
  others += AuthRecord(12, 1, 8);
  ASSERT_TRUE(plugin.Send(others));
  EXPECT_TRUE(Eventually([&] { return contains(daemon.Err().substr(before), "auth record of session 8 "); }))
      << daemon.Err();
  const std::string logged = daemon.Err().substr(before);
  EXPECT_LE(count(logged, "modem["), 2 * (int(Log::Limiter::kDefaultBurst) + 1)) << logged.substr(0, 2000);
  EXPECT_LE(logged.size() * 100, others.size());
  EXPECT_EQ(kSuccess, Answer(Destroy(), 1));
}

TEST_F(ModemE2E, RunsAreTakenInTheOrderTheyStartedWhenPidsWrapped) {
  // Two runs of the stand-in, one after the other.
  for (const char* which : {"first", "second"}) {
    const std::string program = kRoot + "/usr/local/sbin/pppd";
    char* argv[] = {const_cast<char*>("pppd"), const_cast<char*>("exit=0"), const_cast<char*>(which), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(0, ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ)) << program;
    int status = 0;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  std::vector<std::string> logs = Logs("pppd");
  ASSERT_EQ(2u, logs.size());
  // The later run given the lower pid, as after pids wrapped.
  for (auto [at, pid] : {std::pair{0, "32000"}, std::pair{1, "300"}}) {
    const std::string run = logs[at].substr(logs[at].rfind('-'));
    ASSERT_EQ(0, std::rename(logs[at].c_str(), (kStandinDir + "/pppd-" + pid + run).c_str()));
  }
  logs = Logs("pppd");
  ASSERT_EQ(2u, logs.size());
  EXPECT_TRUE(contains(ReadFile(logs[0]), "\nargv exit=0 first\n")) << ReadFile(logs[0]);
  EXPECT_TRUE(contains(ReadFile(logs[1]), "\nargv exit=0 second\n")) << ReadFile(logs[1]);
  EXPECT_EQ(32000, Pid("pppd", 0));
  EXPECT_EQ(300, Pid("pppd", 1));
  for (std::string const& f : Logs("pppd")) std::remove(f.c_str());
}

// The number of the stand-in's last run, as its counter holds it.
unsigned long long LastRun() { return std::strtoull(ReadFile(kStandinDir + "/.runs").c_str(), nullptr, 10); }

TEST_F(ModemE2E, RunsStartedAtOnceTakeANumberEach) {
  // Stand-ins of a name of their own, let go at once.
  const unsigned long long before = LastRun();
  const std::string program = kRoot + "/usr/local/sbin/pppd";
  char* argv[] = {const_cast<char*>("numbered"), const_cast<char*>("exit=0"), nullptr};
  constexpr int kRuns = 300;
  int gate[2];
  ASSERT_EQ(0, ::pipe(gate));
  std::vector<pid_t> pids;
  for (int i = 0; i < kRuns; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(gate[1]);
      char c;
      (void)!::read(gate[0], &c, 1);
      ::execve(program.c_str(), argv, environ);
      ::_exit(127);
    }
    if (pid < 0) break;
    pids.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);
  for (pid_t pid : pids) {
    int status = 0;
    EXPECT_EQ(pid, ::waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  ASSERT_EQ(std::size_t(kRuns), pids.size());
  // A record each, with a number of its own after the counter's: the number
  // its name and its first line give.
  const std::vector<std::string> logs = Logs("numbered");
  EXPECT_EQ(std::size_t(kRuns), logs.size());
  std::set<unsigned long long> numbers;
  for (std::string const& f : logs) {
    const std::string n = f.substr(f.rfind('-') + 1, f.size() - f.rfind('-') - 5);
    EXPECT_EQ(0u, ReadFile(f).rfind("run " + n + "\n", 0)) << f;
    numbers.insert(std::strtoull(n.c_str(), nullptr, 10));
  }
  ASSERT_EQ(std::size_t(kRuns), numbers.size());
  EXPECT_LT(before, *numbers.begin());
  EXPECT_LE(*numbers.rbegin(), LastRun());
  for (std::string const& f : logs) std::remove(f.c_str());
}

TEST_F(ModemE2E, RunsGivenOnePidLeaveARecordEach) {
  // Each run the first process, pid 1, of a pid namespace of its own (a user
  // namespace too where that takes one); the second after the counter was set
  // back, so that its name is the first's.
  const std::string program = kRoot + "/usr/local/sbin/pppd";
  const unsigned long long before = LastRun();
  for (const char* which : {"first", "second"}) {
    if (std::string(which) == "second") std::ofstream(kStandinDir + "/.runs") << before << "\n";
    char* argv[] = {const_cast<char*>("pppd"), const_cast<char*>("exit=0"), const_cast<char*>(which), nullptr};
    const pid_t outer = ::fork();
    if (outer == 0) {
      if (::unshare(CLONE_NEWPID) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWPID) != 0) ::_exit(77);
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::execve(program.c_str(), argv, environ);
        ::_exit(127);
      }
      int status = 0;
      ::_exit(pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : 126);
    }
    int status = 0;
    ASSERT_EQ(outer, ::waitpid(outer, &status, 0));
    ASSERT_TRUE(WIFEXITED(status)) << status;
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no pid namespace to be had";
    ASSERT_EQ(0, WEXITSTATUS(status));
  }
  const std::vector<std::string> logs = Logs("pppd");
  ASSERT_EQ(2u, logs.size());
  EXPECT_EQ(kStandinDir + "/pppd-1-" + std::to_string(before + 1) + ".txt", logs[0]);
  EXPECT_EQ(kStandinDir + "/pppd-1-" + std::to_string(before + 2) + ".txt", logs[1]);
  EXPECT_TRUE(contains(ReadFile(logs[0]), "\nargv exit=0 first\n")) << ReadFile(logs[0]);
  EXPECT_TRUE(contains(ReadFile(logs[1]), "\nargv exit=0 second\n")) << ReadFile(logs[1]);
  EXPECT_EQ(before + 2, LastRun());
  for (std::string const& f : logs) std::remove(f.c_str());
}

}  // namespace
}  // namespace e2e
