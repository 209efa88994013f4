#include "monitoring/snmp_agent.h"

#include <algorithm>
#include <climits>
#include <iostream>
#include <iterator>

#include "asn1/coder_env.h"
#include "asn1/per_decoder.h"
#include "foundation/ini_reader.h"
#include "foundation/mux_time.h"
#include "transport/tpkt.h"

namespace {

const IniFile::Symbol<SnmpAgentInstance::MonitoringAddressType> monitoringAddressTypes[] = {
    {"lemzgw", SnmpAgentInstance::LemzGw},
    {"lemzgw.qv", SnmpAgentInstance::LemzGwQv},
    {"tams", SnmpAgentInstance::Tams},
    {nullptr, SnmpAgentInstance::Unknown},
};

std::size_t SetEntries(MON::Command const& command) {
  return command.snmp_set_isSelected() ? command.get_snmp_set().get_commands().size() : 0;
}

}  // namespace

SnmpAgentInstance::~SnmpAgentInstance() {
  pingTimer.reset();
  if (connector) {
    connector->UnBind();
    connector->Deactivate();
  }
}

bool SnmpAgentInstance::Activate(IniFile::SubSection& section) {
  IniFile::Reader reader("snmpagent: ", std::cerr);
  std::string host;
  reader.required.add(&host, "host");
  reader.required.add(&name, "name");
  reader.required.add(&type, "name", monitoringAddressTypes);
  if (!reader(section)) {
    type = Unknown;
    return false;
  }
  // The shared parser reads a port as atoi would; an agent's is digits only.
  const std::size_t colon = host.find(':');
  const bool numericPort =
      colon == std::string::npos ||
      (colon + 1 < host.size() && host.find_first_not_of("0123456789", colon + 1) == std::string::npos);
  int port = -1;
  if (!numericPort || !address.Assign(host, &port)) {
    std::cerr << "snmpagent: host \"" << host << "\" is no address" << std::endl;
    return false;
  }
  if (port < 0) return false;
  state = 1;
  connector.reset(new Control::ConnectorNet(address.GetStrAddr(), static_cast<unsigned short>(port)));
  serviceName = "snmpagent." + name + " " + address.GetString();
  connector->service_name(serviceName);
  connector->Bind(this);
  connector->Activate();
  return true;
}

void SnmpAgentInstance::Command(MON::Command const& command) {
  if (!IsConnected()) return;
  // The agent's decoder takes at most this many entries in one list.
  const std::size_t entries = SetEntries(command);
  if (entries > ASN1::MaximumArraySize) {
    SendInParts(command, (entries + ASN1::MaximumArraySize - 1) / ASN1::MaximumArraySize);
    return;
  }
  MON::Message message;
  message.set_pdu().select_command(command);
  Send(message);
}

void SnmpAgentInstance::Send(MON::Message const& message) {
  if (!connector || !connector->IsConnected()) return;
  std::vector<char> octets;
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  if (!ASN1::encode(message, &env, std::back_inserter(octets))) {
    linkLog.line(std::clog) << serviceName << ": encode MON message fail!!!" << std::endl;
    return;
  }
  const MON::PDU& pdu = message.get_pdu();
  const std::size_t entries = pdu.command_isSelected() ? SetEntries(pdu.get_command()) : 0;
  if (octets.size() > Tpkt_protocol::max_payload && entries > 1) {
    // Even parts by count; a part that still does not fit is split again.
    SendInParts(pdu.get_command(), std::min<std::size_t>(entries, octets.size() / Tpkt_protocol::max_payload + 1));
    return;
  }
  connector->Send(octets.data(), static_cast<int>(octets.size()));
  pingTimer.set(kPingMs, &SnmpAgentInstance::OnPingTimer, this);
  const std::uint32_t now = Mux::milliseconds();
  if (static_cast<std::int32_t>(now - stamp) > kSilentMs) {
    linkLog.line(std::clog) << serviceName << ": ping timeout !!!"
                            << " now=" << now << " stamp=" << stamp << std::endl;
    pingTimer.reset();
    connector->Disconnect();
  }
}

void SnmpAgentInstance::SendInParts(MON::Command const& command, std::size_t parts) {
  const ASN1::SEQUENCE_OF<MON::SnmpSetCommand>& all = command.get_snmp_set().get_commands();
  for (std::size_t p = 0; p < parts; ++p) {
    MON::Command part;
    ASN1::SEQUENCE_OF<MON::SnmpSetCommand>& entries = part.select_snmp_set().ref_commands();
    for (std::size_t i = all.size() * p / parts; i < all.size() * (p + 1) / parts; ++i) entries.push_back(all[i]);
    Command(part);
  }
}

void SnmpAgentInstance::OnPingTimer(Timer*) {
  MON::Command ping;
  ping.select_ping();
  Command(ping);
}

void SnmpAgentInstance::OnConnect() {
  state = 2;
  linkLog.line(std::clog) << serviceName << ": connected." << std::endl;
  stamp = Mux::milliseconds();
  if (notify) notify->OnSnmpAgentConnect(name);
}

void SnmpAgentInstance::OnDisconnect() {
  linkLog.line(std::clog) << serviceName << ": connection lost, reset snmpagent instance" << std::endl;
  pingTimer.reset();
  if (state == 2) state = 3;
}

void SnmpAgentInstance::OnMessage(const char* data, int length) {
  stamp = Mux::milliseconds();
  MON::Message message;
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  if (length < 0 || !ASN1::decode(data, data + length, &env, message, true)) {
    receiveLog.line(std::cerr) << serviceName << ": receive : decode error!" << std::endl;
    return;
  }
  // Responses and signals need nothing from us.
  if (message.get_pdu().command_isSelected())
    receiveLog.line(std::cerr) << serviceName << ": receive unknown message type" << std::endl;
}

SnmpAgentCtrl::SnmpAgentCtrl() {
  static const struct {
    int mask;
    const char* table;
    const char* column;
  } kItems[] = {
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
  int type = 0;
  for (const auto& i : kItems)
    items.push_back({static_cast<MonitoringItemType>(type++), i.mask, i.table, i.column});
  batches[0];
  batches[1];
  for (int mask : {2, 4}) {
    batches[mask].reset(new MON::Command);
    batches[mask]->select_snmp_set();
  }
  dpc.Bind(this, &SnmpAgentCtrl::OnDpcSend);
}

SnmpAgentCtrl::~SnmpAgentCtrl() { dpc.Deactivate(); }

void SnmpAgentCtrl::CreateInstances(IniFile::Section& section) {
  for (IniFile::SubSection& sub : section) {
    instances.emplace_back(new SnmpAgentInstance);
    instances.back()->Bind(notify);
    instances.back()->Activate(sub);
  }
}

bool SnmpAgentCtrl::Bind(ISnmpAgentNotify* n) {
  notify = n;
  for (auto& i : instances) i->Bind(n);
  return true;
}

void SnmpAgentCtrl::UnBind() {
  notify = nullptr;
  for (auto& i : instances) i->UnBind();
}

void SnmpAgentCtrl::Send(MonitoringItemType type, int index, std::string const& value) {
  const MonitoringItem* item = nullptr;
  for (const MonitoringItem& i : items)
    if (i.type == type) {
      item = &i;
      break;
    }
  if (!item) return;
  for (auto& b : batches) {
    if (!(b.first & item->mask) || !b.second || !b.second->snmp_set_isSelected()) continue;
    MON::SnmpSetCommand entry;
    entry.set_uniq(nextUniq);
    // The numbering starts over rather than overflow.
    nextUniq = nextUniq == INT_MAX ? 1 : nextUniq + 1;
    MON::IniName& id = entry.set_id().select_name();
    id.set_section(item->table);
    id.set_name(item->column);
    id.set_index(index);
    entry.set_value(value);
    b.second->ref_snmp_set().ref_commands().push_back(entry);
    dpc.Activate();
  }
}

void SnmpAgentCtrl::OnDpcSend() {
  for (auto& b : batches) {
    if (!b.second || !b.second->snmp_set_isSelected() || b.second->get_snmp_set().get_commands().empty()) continue;
    // Each agent gets the batch of its own type: an item reaches it once.
    for (auto& i : instances)
      if (i->GetType() == b.first) i->Command(*b.second);
    b.second->ref_snmp_set().ref_commands().clear();
  }
  dpc.Deactivate();
}

void SnmpAgentCtrl::ToAll(MON::Command const& command) {
  for (auto& i : instances) i->Command(command);
}

void SnmpAgentCtrl::Send(MON::SnmpSetCommands const& commands) {
  if (commands.get_commands().empty()) return;
  MON::Command command;
  command.select_snmp_set(commands);
  ToAll(command);
}

void SnmpAgentCtrl::SendTrapsink(std::vector<std::string> const& hosts) {
  if (hosts.empty()) return;
  MON::Command command;
  ASN1::SEQUENCE_OF<MON::SnmpTrapsink>& sinks = command.select_snmp_trapsink_set().ref_trapsinks();
  for (const std::string& h : hosts) {
    MON::SnmpTrapsink sink;
    sink.set_host(h);
    sinks.push_back(sink);
  }
  ToAll(command);
}
