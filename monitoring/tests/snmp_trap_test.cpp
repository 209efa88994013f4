// The trap packer's octets against hand-made BER vectors, and whole traps
// read by two independent decoders: snmptrapd receiving them over UDP, and
// tshark reading them from a capture made with text2pcap.
#include "monitoring/snmp_trap.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/os.h"
#include "simboard/testing/tshark.h"
#include "transport/testing/free_port.h"

using namespace Snmp;

namespace {

std::string Hex(const uint8_t* b, const uint8_t* e) {
  std::string s;
  char buf[4];
  for (; b != e; ++b) {
    std::snprintf(buf, sizeof buf, "%s%02X", s.empty() ? "" : " ", *b);
    s += buf;
  }
  return s;
}

// One builder call on a buffer with the given room: its octets, or "fail".
struct BuildCase {
  const char* what;
  uint32_t room;
  std::function<uint8_t*(uint8_t*, uint32_t*)> build;
  const char* octets;
};

const uint32_t kArcs_1_3_6_1[] = {1, 3, 6, 1};
const uint32_t kArcs_128[] = {1, 3, 128};
const uint32_t kArcs_2_999_3[] = {2, 999, 3};
const uint32_t kArcs_max[] = {1, 3, 0xFFFFFFFFu};
const uint32_t kArcs_3[] = {3, 1};
const uint32_t kArcs_1_40[] = {1, 40};
const uint32_t kArcs_129[129] = {1, 3};

std::function<uint8_t*(uint8_t*, uint32_t*)> Objid(const uint32_t* arcs, unsigned n) {
  return [=](uint8_t* p, uint32_t* room) { return asn_build_objid(p, room, 6, arcs, n); };
}
std::function<uint8_t*(uint8_t*, uint32_t*)> Int(int32_t v, unsigned size = 4) {
  return [=](uint8_t* p, uint32_t* room) { return asn_build_int(p, room, 2, &v, size); };
}
std::function<uint8_t*(uint8_t*, uint32_t*)> Unsigned(uint32_t v) {
  return [=](uint8_t* p, uint32_t* room) { return asn_build_unsigned_int(p, room, 0x41, &v, 4); };
}
std::function<uint8_t*(uint8_t*, uint32_t*)> Length(uint32_t n) {
  return [=](uint8_t* p, uint32_t* room) { return asn_build_length(p, room, n); };
}

TEST(SnmpBer, BuildersWriteTheShortestFormAndRefuseWhatTheRoomCannotHold) {
  const BuildCase cases[] = {
      {"oid 1.3.6.1", 64, Objid(kArcs_1_3_6_1, 4), "06 03 2B 06 01"},
      {"subidentifier 128", 64, Objid(kArcs_128, 3), "06 03 2B 81 00"},
      {"second arc above 39 under 2", 64, Objid(kArcs_2_999_3, 3), "06 03 88 37 03"},
      {"largest arc", 64, Objid(kArcs_max, 3), "06 06 2B 8F FF FF FF 7F"},
      {"one arc", 64, Objid(kArcs_2_999_3, 1), "06 01 50"},
      {"no arc", 64, Objid(nullptr, 0), "06 01 00"},
      {"first arc 3", 64, Objid(kArcs_3, 2), "fail"},
      {"second arc 40 under 1", 64, Objid(kArcs_1_40, 2), "fail"},
      {"129 arcs", 1024, Objid(kArcs_129, 129), "fail"},
      {"oid without room for its content", 4, Objid(kArcs_1_3_6_1, 4), "fail"},
      {"INTEGER -1", 64, Int(-1), "02 01 FF"},
      {"INTEGER 0", 64, Int(0), "02 01 00"},
      {"INTEGER 127", 64, Int(127), "02 01 7F"},
      {"INTEGER 128", 64, Int(128), "02 02 00 80"},
      {"INTEGER -129", 64, Int(-129), "02 02 FF 7F"},
      {"INTEGER smallest", 64, Int(INT32_MIN), "02 04 80 00 00 00"},
      {"INTEGER of 2 octets", 64, Int(1, 2), "fail"},
      {"INTEGER 128 in 3 octets of room", 3, Int(128), "fail"},
      {"unsigned 0", 64, Unsigned(0), "41 01 00"},
      {"unsigned 255", 64, Unsigned(255), "41 02 00 FF"},
      {"unsigned 0x80000000", 64, Unsigned(0x80000000u), "41 05 00 80 00 00 00"},
      {"length 127", 64, Length(127), "7F"},
      {"length 128", 64, Length(128), "81 80"},
      {"length 256", 64, Length(256), "82 01 00"},
      {"length 256 in 2 octets of room", 2, Length(256), "fail"},
      {"OCTET STRING without data", 64,
       [](uint8_t* p, uint32_t* room) { return asn_build_string(p, room, 4, nullptr, 3); }, "04 03 00 00 00"},
      {"empty BIT STRING", 64,
       [](uint8_t* p, uint32_t* room) { return asn_build_bitstring(p, room, 3, p, 0); }, "fail"},
      {"NULL", 64, [](uint8_t* p, uint32_t* room) { return asn_build_null(p, room, 5); }, "05 00"},
      {"SEQUENCE in 3 octets of room", 3,
       [](uint8_t* p, uint32_t* room) { return asn_build_sequence(p, room, 0x30, 0); }, "fail"},
  };
  for (const BuildCase& c : cases) {
    SCOPED_TRACE(c.what);
    uint8_t buf[1024] = {};
    uint32_t room = c.room;
    const uint8_t* end = c.build(buf, &room);
    if (std::strcmp(c.octets, "fail") == 0) {
      EXPECT_EQ(nullptr, end);
      continue;
    }
    ASSERT_NE(nullptr, end);
    EXPECT_EQ(c.octets, Hex(buf, end));
    EXPECT_EQ(c.room - uint32_t(end - buf), room);
  }
}

TEST(SnmpBer, ParseOidStoresAtMostItsRoom) {
  uint32_t out[8] = {};
  EXPECT_EQ(4, parse_oid(out, 4, ".1.3.6.1.2.1"));
  EXPECT_EQ((std::vector<uint32_t>{1, 3, 6, 1, 0}), std::vector<uint32_t>(out, out + 5));
  EXPECT_EQ(3, parse_oid(out, 8, "1..3.x"));
  EXPECT_EQ((std::vector<uint32_t>{1, 3, 0}), std::vector<uint32_t>(out, out + 3));
  EXPECT_EQ(0, parse_oid(out, 0, "1.3"));
  EXPECT_EQ(0, parse_oid(nullptr, 4, "1.3"));
  EXPECT_EQ(0, parse_oid(out, 4, nullptr));
  // Only the first 127 characters are read: 63 pieces "1." and one "2".
  std::string text;
  for (int i = 0; i < 63; ++i) text += "1.";
  text += "23456";
  uint32_t many[100] = {};
  EXPECT_EQ(64, parse_oid(many, 100, text.c_str()));
  EXPECT_EQ(2u, many[63]);
}

TEST(SnmpTrap, RequestIdsAndCommunity) {
  trap_context t = {};
  snmp_session_seed(&t, 0);
  ASSERT_EQ(0, trap_init(&t, std::string(40, 'c').c_str()));
  EXPECT_EQ(991873, t.request_id);
  EXPECT_EQ(std::string(31, 'c'), t.community);
  ASSERT_EQ(0, trap_init(&t, nullptr));
  EXPECT_EQ(1288378715, t.request_id);
  EXPECT_STREQ("vorkan", t.community);
  EXPECT_EQ(0, trap_init(nullptr, "x"));
}

TEST(SnmpTrap, CallsOutOfOrderFailAndAnEmptyTrapHasAnEmptyList) {
  trap_context t = {};
  snmp_session_seed(&t, 0);
  trap_init(&t, nullptr);
  const uint32_t oid[] = {1, 3, 6, 1};
  const int32_t v = 1;
  EXPECT_EQ(-1, trap_pack_add(&t, oid, 4, kSnmpInteger, &v, 4));
  EXPECT_EQ(-1, trap_pack_end(&t));
  ASSERT_EQ(0, trap_pack_begin(&t));
  EXPECT_EQ(-1, trap_pack_begin(&t));
  ASSERT_EQ(0, trap_pack_end(&t));
  EXPECT_EQ(3, t.state);
  EXPECT_EQ(-1, trap_pack_end(&t));
  EXPECT_EQ(-1, trap_pack_add(&t, oid, 4, kSnmpInteger, &v, 4));
  EXPECT_EQ("30 82 00 1E 02 01 01 04 06 76 6F 72 6B 61 6E A7 82 00 0F 02 03 0F 22 81 02 01 00 02 01 00 30 82 00 00",
            Hex(t.buffer, t.buffer + t.length));
}

TEST(SnmpTrap, AFullBufferFailsTheAddAndEverythingAfterIt) {
  trap_context t = {};
  trap_init(&t, "public");
  ASSERT_EQ(0, trap_pack_begin(&t));
  const uint32_t oid[] = {1, 3, 6, 1, 4, 1, 99999, 1};
  const std::string text(200, 'x');
  int added = 0;
  while (trap_pack_add(&t, oid, 8, kSnmpOctetString, text.data(), unsigned(text.size())) == 0) ++added;
  // 34 octets of headers, then 4 + 11 + 203 a binding.
  EXPECT_EQ(9, added);
  const int32_t small = 0;
  EXPECT_EQ(-1, trap_pack_add(&t, oid, 8, kSnmpInteger, &small, 4));
  EXPECT_EQ(-1, trap_pack_end(&t));
  // An unknown type and a bad length fail the same way.
  trap_init(&t, "public");
  ASSERT_EQ(0, trap_pack_begin(&t));
  EXPECT_EQ(-1, trap_pack_add(&t, oid, 8, 70, &small, 4));
  trap_init(&t, "public");
  ASSERT_EQ(0, trap_pack_begin(&t));
  EXPECT_EQ(-1, trap_pack_add(&t, oid, 8, kSnmpCounter32, &small, 2));
}

// The trap that both decoders read: sysUpTime.0, snmpTrapOID.0 and one
// binding of each kind of value.
struct Trap {
  Trap() {
    std::memset(&t, 0, sizeof t);
    uptime = get_uptime();
    snmp_session_seed(&t, 0);
    trap_init(&t, "vorkan");
    trap_pack_begin(&t);
    add("1.3.6.1.2.1.1.3.0", kSnmpTimeTicks, &uptime, 4);
    const uint32_t trap_oid[] = {1, 3, 6, 1, 4, 1, 99999, 0, 7};
    add("1.3.6.1.6.3.1.1.4.1.0", kSnmpObjectId, trap_oid, sizeof trap_oid);
    add("1.3.6.1.4.1.99999.1.1", kSnmpOctetString, "trunk 2 down", 12);
    const uint32_t counter = 0x80000001u;
    add("1.3.6.1.4.1.99999.1.2", kSnmpCounter32, &counter, 4);
    const int32_t integer = -129;
    add("1.3.6.1.4.1.99999.1.3", kSnmpInteger, &integer, 4);
    const uint8_t ip[] = {127, 0, 0, 5};
    add("1.3.6.1.4.1.99999.1.4", kSnmpIpAddress, ip, 4);
    ok = ok && trap_pack_end(&t) == 0;
  }
  void add(const char* dotted, unsigned type, const void* value, unsigned length) {
    uint32_t oid[32];
    const int n = parse_oid(oid, 32, dotted);
    ok = ok && trap_pack_add(&t, oid, unsigned(n), type, value, length) == 0;
  }
  std::string octets() const { return std::string(reinterpret_cast<const char*>(t.buffer), t.length); }

  trap_context t;
  uint32_t uptime;
  bool ok = true;
};

// Debian keeps it in /usr/sbin, which a user's PATH may lack.
std::string TrapdPath() {
  for (const char* p : {"/usr/sbin/snmptrapd", "/usr/bin/snmptrapd", "/usr/local/sbin/snmptrapd"})
    if (::access(p, X_OK) == 0) return p;
  return std::string();
}

// snmptrapd logging to a file, started and stopped by its pid.
class TrapReceiver {
public:
  ~TrapReceiver() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  // False when it did not come up; port is a free loopback port of ours.
  bool Start(unsigned port) {
    char dir[] = "/tmp/ulvarond-trapd-XXXXXX";
    if (!::mkdtemp(dir)) return false;
    dir_ = dir;
    const std::string conf = dir_ + "/trapd.conf";
    std::ofstream(conf) << "authCommunity log vorkan\n";
    log_ = dir_ + "/trapd.log";
    const std::string listen = "udp:127.0.0.1:" + std::to_string(port);
    pid_ = ::fork();
    if (pid_ == 0) {
      const int out = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(out, 1);
      ::dup2(out, 2);
      // Its state files go to our folder, and no MIB is loaded: numbers only.
      ::setenv("SNMP_PERSISTENT_DIR", dir_.c_str(), 1);
      ::execl(TrapdPath().c_str(), "snmptrapd", "-f", "-Lo", "-C", "-c", conf.c_str(), "-m", "", "-On", listen.c_str(),
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return pid_ > 0 && WaitFor("NET-SNMP version");
  }

  // Waits up to 10 s for the text in its log.
  bool WaitFor(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Log().find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline || ::waitpid(pid_, nullptr, WNOHANG) == pid_) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  std::string Log() const {
    std::ifstream in(log_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

private:
  pid_t pid_ = -1;
  std::string dir_, log_;
};

TEST(SnmpTrapDecoded, SnmptrapdLogsEveryBinding) {
  if (TrapdPath().empty())
    GTEST_SKIP() << "snmptrapd is not installed (tools/deps installs it)";
  const Trap trap;
  ASSERT_TRUE(trap.ok);
  const unsigned port = porttest::Reserve(SOCK_DGRAM);
  ASSERT_NE(0u, port);
  TrapReceiver receiver;
  ASSERT_TRUE(receiver.Start(port)) << receiver.Log();

  Fd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<uint16_t>(port));
  const std::string octets = trap.octets();
  ASSERT_EQ(ssize_t(octets.size()), ::sendto(s.lowlevel_fd(), octets.data(), octets.size(), 0,
                                             reinterpret_cast<sockaddr*>(&to), sizeof to));
  const std::string last = ".1.3.6.1.4.1.99999.1.4 = IpAddress: 127.0.0.5";
  ASSERT_TRUE(receiver.WaitFor(last)) << receiver.Log();
  const std::string log = receiver.Log();
  for (const std::string& binding : {
           ".1.3.6.1.2.1.1.3.0 = Timeticks: (" + std::to_string(trap.uptime) + ")",
           std::string(".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.99999.0.7"),
           std::string(".1.3.6.1.4.1.99999.1.1 = STRING: \"trunk 2 down\""),
           std::string(".1.3.6.1.4.1.99999.1.2 = Counter32: 2147483649"),
           std::string(".1.3.6.1.4.1.99999.1.3 = INTEGER: -129"),
       })
    EXPECT_NE(std::string::npos, log.find(binding)) << binding << "\n" << log;
}

TEST(SnmpTrapDecoded, TsharkReadsTheMessage) {
  if (!SimBoard::HaveTshark() || std::system("text2pcap -v >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "tshark is not installed (tools/deps installs it)";
  const Trap trap;
  ASSERT_TRUE(trap.ok);
  char dir[] = "/tmp/ulvarond-trap-XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(dir));
  const std::string text = std::string(dir) + "/trap.txt", pcap = std::string(dir) + "/trap.pcap";
  {
    std::ofstream f(text);
    f << "0000";
    char buf[4];
    for (unsigned char c : trap.octets()) {
      std::snprintf(buf, sizeof buf, " %02x", c);
      f << buf;
    }
    f << "\n";
  }
  const std::string make = "text2pcap -q -4 127.0.0.1,127.0.0.1 -u 40000,162 '" + text + "' '" + pcap + "'";
  ASSERT_EQ(0, std::system(make.c_str()));
  const auto lines = SimBoard::TsharkFields(
      pcap, "-e snmp.version -e snmp.community -e snmp.request_id -e snmp.name -e _ws.malformed", "snmp");
  std::system(("rm -rf '" + std::string(dir) + "'").c_str());
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("1|vorkan|" + std::to_string(trap.t.request_id) +
                "|1.3.6.1.2.1.1.3.0,1.3.6.1.6.3.1.1.4.1.0,1.3.6.1.4.1.99999.1.1,1.3.6.1.4.1.99999.1.2,"
                "1.3.6.1.4.1.99999.1.3,1.3.6.1.4.1.99999.1.4|",
            lines[0]);
}

}  // namespace
