#pragma once
// The links to the monitoring agents. The daemon is the TCP client of every
// agent of its "snmpagent" sections; each link carries MON messages in
// aligned PER, one per TPKT frame. Values reported in one main-loop pass are
// batched and leave as one snmp-set per batch and link on the next pass, or
// as several where one would not fit a frame or the agent's decoder.
// Each link pings an idle agent every 5 s and drops one that has been silent
// for more than 30 s; the connector then connects again on its own.
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/dpc.h"
#include "foundation/inet4.h"
#include "foundation/ini_file.h"
#include "foundation/log_limit.h"
#include "foundation/timer.h"
#include "messages/MON.h"
#include "transport/connector.h"

class ISnmpAgentNotify {
public:
  virtual ~ISnmpAgentNotify() {}
  virtual void OnSnmpAgentConnect(std::string const&) {}
};

class SnmpAgentInstance : public Control::Notify {
public:
  // The agent type, chosen by the key "name"; 0 until configured.
  enum MonitoringAddressType { Unknown = 0, LemzGw = 1, Tams = 2, LemzGwQv = 4 };
  static constexpr unsigned kPingMs = 5000;
  static constexpr std::int32_t kSilentMs = 30000;

  SnmpAgentInstance() = default;
  SnmpAgentInstance(const SnmpAgentInstance&) = delete;
  SnmpAgentInstance& operator=(const SnmpAgentInstance&) = delete;
  ~SnmpAgentInstance() override;

  // Reads host and name; true when a connector was started.
  bool Activate(IniFile::SubSection& section);
  void Bind(ISnmpAgentNotify* n) { notify = n; }
  void UnBind() { notify = nullptr; }
  // Sends the command when connected; otherwise it is dropped.
  void Command(MON::Command const& command);

  MonitoringAddressType GetType() const { return type; }
  std::string const& GetName() const { return name; }
  std::string const& GetServiceName() const { return serviceName; }
  int GetState() const { return state; }
  std::uint32_t GetStamp() const { return stamp; }
  bool IsConnected() const { return connector && connector->IsConnected(); }

  void OnConnect() override;
  void OnDisconnect() override;
  void OnMessage(const char* data, int length) override;

private:
  void Send(MON::Message const& message);
  // An snmp-set sent as `parts` messages of its entries in order, each
  // entry with its own uniq.
  void SendInParts(MON::Command const& command, std::size_t parts);
  void OnPingTimer(Timer*);

  std::unique_ptr<Control::ConnectorNet> connector;
  MonitoringAddressType type = Unknown;
  std::string name;
  std::string serviceName;
  INet4::Addr address;
  int state = 0;  // 0 idle, 1 activated, 2 connected, 3 lost
  std::uint32_t stamp = 0;
  Timer pingTimer;
  ISnmpAgentNotify* notify = nullptr;
  Log::Limiter receiveLog;
  Log::Limiter linkLog;
};

class SnmpAgentCtrl {
public:
  enum MonitoringItemType {
    driverBuild = 0, softwareBuild, powerStatus, controllerStatus, gatewayDip, gatewayConfigVersion,
    extBoardStatus, extBoardSoftVer, extBoardType,
    emPhonePanelSoftVer, emPhoneCtrlSoftVer, emPhoneFpgaSoftVer, emPhoneStatus, emPhonePowerStatus, emPhoneMode,
    emPhoneHookStatus, emPhoneBaseStatus,
    routerTermCnt, controllerTermCnt, serverTermCnt, extBoardTermCnt,
    e1Connected, e1StatusDsc, e1SignalLoss, e1FrameAlignLoss, e1NegSlipCount, e1PosSlipCount,
    sgBuildVersion, sgFPGAVersion, sgBootVersion, sgBoardVersion,
    ifDescr, ifAdminStatus, ifOperStatus, temperature
  };
  struct MonitoringItem {
    MonitoringItemType type;
    int mask;
    std::string table;
    std::string column;
  };

  SnmpAgentCtrl();
  SnmpAgentCtrl(const SnmpAgentCtrl&) = delete;
  SnmpAgentCtrl& operator=(const SnmpAgentCtrl&) = delete;
  ~SnmpAgentCtrl();

  void CreateInstances(IniFile::Section& section);
  bool Bind(ISnmpAgentNotify* n);
  void UnBind();

  void Send(MonitoringItemType type, std::string const& value) { Send(type, 0, value); }
  void Send(MonitoringItemType type, int index, std::string const& value);
  void Send(MON::SnmpSetCommands const& commands);
  void SendTrapsink(std::vector<std::string> const& hosts);

  std::list<std::unique_ptr<SnmpAgentInstance>> const& GetInstances() const { return instances; }
  std::vector<MonitoringItem> const& GetItems() const { return items; }
  bool IsSendPending() const { return dpc.IsActive(); }
  int GetNextUniq() const { return nextUniq; }
  // Tests only: where the numbering goes on.
  void SetNextUniq(int uniq) { nextUniq = uniq; }

private:
  void OnDpcSend();
  void ToAll(MON::Command const& command);

  std::list<std::unique_ptr<SnmpAgentInstance>> instances;
  std::vector<MonitoringItem> items;
  Dpc dpc;
  int nextUniq = 1;
  ISnmpAgentNotify* notify = nullptr;
  // Agent-type mask -> its snmp-set batch; none for masks 0 and 1.
  std::map<int, std::unique_ptr<MON::Command>> batches;
};
