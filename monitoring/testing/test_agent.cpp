#include "monitoring/testing/test_agent.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <iterator>
#include <thread>

#include "asn1/coder_env.h"

namespace montest {

const Item kItems[35] = {
    {6, "gatewayCommon", "driverBuild"},
    {6, "gatewayCommon", "softwareBuild"},
    {6, "gatewayCommon", "powerStatus"},
    {6, "gatewayCommon", "controllerStatus"},
    {6, "gatewayCommon", "gatewayDip"},
    {6, "gatewayCommon", "gatewayConfigVersion"},
    {2, "extBoardTable", "extBoardStatus"},
    {2, "extBoardTable", "extBoardSoftVer"},
    {2, "extBoardTable", "extBoardType"},
    {2, "emPhoneTable", "emPhonePanelSoftVer"},
    {2, "emPhoneTable", "emPhoneCtrlSoftVer"},
    {2, "emPhoneTable", "emPhoneFpgaSoftVer"},
    {2, "emPhoneTable", "emPhoneStatus"},
    {2, "emPhoneTable", "emPhonePowerStatus"},
    {2, "emPhoneTable", "emPhoneMode"},
    {2, "emPhoneTable", "emPhoneHookStatus"},
    {2, "emPhoneTable", "emPhoneBaseStatus"},
    {6, "gatewayTermCounters", "routerTermCnt"},
    {6, "gatewayTermCounters", "controllerTermCnt"},
    {6, "gatewayTermCounters", "serverTermCnt"},
    {2, "extBoardTermCntTable", "extBoardTermCnt"},
    {2, "e1Table", "e1Connected"},
    {2, "e1Table", "e1StatusDsc"},
    {2, "e1Table", "e1SignalLoss"},
    {2, "e1Table", "e1FrameAlignLoss"},
    {2, "e1Table", "e1NegSlipCount"},
    {2, "e1Table", "e1PosSlipCount"},
    {4, "statusGeneral", "sgBuildVersion"},
    {4, "statusGeneral", "sgFPGAVersion"},
    {4, "statusGeneral", "sgBootVersion"},
    {4, "statusGeneral", "sgBoardVersion"},
    {6, "ifTable", "ifDescr"},
    {6, "ifTable", "ifAdminStatus"},
    {6, "ifTable", "ifOperStatus"},
    {2, "gatewayCommon", "temperature"},
};

int ItemOf(const std::string& column) {
  for (int i = 0; i < 35; ++i)
    if (column == kItems[i].column) return i;
  return -1;
}

Agent::Agent() {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  int on = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  ::listen(s, 8);
  socklen_t len = sizeof sa;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
  port_ = ntohs(sa.sin_port);
  listen_ = Fd(s);
}

std::string Agent::host() const { return "127.0.0.1:" + std::to_string(port_); }

void Agent::pump() {
  for (;;) {
    int c = ::accept4(listen_.lowlevel_fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (c < 0) break;
    conn_ = Fd(c);
    input_.clear();
    ++connections_;
  }
  if (!conn_.is_valid()) return;
  for (;;) {
    char buf[8192];
    ssize_t n = ::recv(conn_.lowlevel_fd(), buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      conn_.close();
      return;
    }
    if (n < 0) break;
    input_.append(buf, std::size_t(n));
  }
  while (input_.size() >= 4) {
    const std::size_t total = std::size_t(static_cast<unsigned char>(input_[2])) << 8 |
                              static_cast<unsigned char>(input_[3]);
    if (total < 4 || input_.size() < total) break;
    const std::string payload = input_.substr(4, total - 4);
    input_.erase(0, total);
    MON::Message m;
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    if (!ASN1::decode(payload.data(), payload.data() + payload.size(), &env, m, true)) {
      ++undecoded;
      continue;
    }
    messages.push_back(m);
    if (m.get_pdu().command_isSelected() && m.get_pdu().get_command().ping_isSelected()) {
      ++pings;
      if (answerPings) {
        MON::Message answer;
        answer.set_pdu().select_response().select_ping().select_success();
        send(answer);
      }
    }
  }
}

bool Agent::wait(const std::function<bool()>& done, int real_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(real_ms);
  for (;;) {
    pump();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool Agent::send(const MON::Message& message) {
  std::vector<char> octets;
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  if (!ASN1::encode(message, &env, std::back_inserter(octets))) return false;
  return sendPayload(std::string(octets.begin(), octets.end()));
}

bool Agent::sendPayload(const std::string& payload) {
  const std::size_t n = payload.size() + 4;
  std::string f = {char(0x03), char(0x00), char((n >> 8) & 0xFF), char(n & 0xFF)};
  f += payload;
  return conn_.is_valid() && ::send(conn_.lowlevel_fd(), f.data(), f.size(), MSG_NOSIGNAL) == ssize_t(f.size());
}

std::vector<MON::SnmpSetCommand> Agent::sets(std::size_t from) const {
  std::vector<MON::SnmpSetCommand> out;
  for (std::size_t i = from; i < messages.size(); ++i) {
    const MON::PDU& pdu = messages[i].get_pdu();
    if (!pdu.command_isSelected() || !pdu.get_command().snmp_set_isSelected()) continue;
    for (const MON::SnmpSetCommand& c : pdu.get_command().get_snmp_set().get_commands()) out.push_back(c);
  }
  return out;
}

std::vector<std::pair<int, std::string>> Agent::values(const std::string& column, std::size_t from) const {
  std::vector<std::pair<int, std::string>> out;
  for (const MON::SnmpSetCommand& c : sets(from)) {
    if (!c.get_id().name_isSelected()) continue;
    const MON::IniName& id = c.get_id().get_name();
    if (std::string(id.get_name()) == column)
      out.emplace_back(int(id.get_index().getValue()), std::string(c.get_value()));
  }
  return out;
}

int Agent::setMessages(std::size_t from) const {
  int n = 0;
  for (std::size_t i = from; i < messages.size(); ++i) {
    const MON::PDU& pdu = messages[i].get_pdu();
    if (pdu.command_isSelected() && pdu.get_command().snmp_set_isSelected()) ++n;
  }
  return n;
}

MON::SnmpSetCommand SetCommand(const std::string& section, const std::string& name, long index,
                               const std::string& value, long uniq) {
  MON::SnmpSetCommand c;
  c.set_uniq(uniq);
  MON::IniName& id = c.set_id().select_name();
  id.set_section(section);
  id.set_name(name);
  id.set_index(index);
  c.set_value(value);
  return c;
}

}  // namespace montest
