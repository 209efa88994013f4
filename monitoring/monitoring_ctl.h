#pragma once
// The board-monitoring service: polls the board on three repeating timers
// (versions, configuration name, framers and temperature 1 s after start and
// every minute; power, DIP switches and interfaces every 2 s; the controller
// every 5 s), keeps what it reads in its data holder, which writes the status
// files, sends the controller the board's power status on every connection
// and every change, and reports every change to the monitoring agents, and
// everything again when an agent connects. It takes the controller's display
// command and is bound to the command server last.
#include <cstdint>

#include "control/ctrl_server.h"
#include "foundation/ini_file.h"
#include "foundation/log_limit.h"
#include "foundation/os.h"
#include "foundation/timer.h"
#include "monitoring/monitoring_data_holder.h"
#include "monitoring/snmp_agent.h"

class MonitoringCtl : public CtrlSrv::Service, public ISnmpAgentNotify {
public:
  static constexpr unsigned kBkgFirstMs = 1000;
  static constexpr unsigned kBkgPeriodMs = 60000;
  static constexpr unsigned kPowerPeriodMs = 2000;
  static constexpr unsigned kControllerPeriodMs = 5000;

  static MonitoringCtl& instance();

  // Starts the links to the agents of section "snmpagent".
  bool Configure(IniFile::File& config);

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(const LGCP::Command& command) override;
  void OnDisplayCMD(const LGCP::DisplayParams& params);
  // Every value goes to the agents again on the next loop pass.
  void OnSnmpAgentConnect(std::string const& name) override;

  // True when "/dev/hal" is open, opening it (and darkening the framer LEDs)
  // first if needed; a failed open is tried again at the next use.
  bool IsOpen();
  // The board's power status as the board-level `power` signal.
  void sendPowerStatus();
  // Updates the framer LED byte for one report and writes it.
  void setFramerLed(const LGCP::FramerInfo& info);

  void doPowerCheck();
  void doDipCheck();
  void doNetIfCheck();
  void doVersionsCheck();
  void doConfigCheck();
  void doFramerCheck();
  void doTemperatureCheck();
  // The board's own controller status: from the controller's report while
  // it is connected, else whether a process named "controller" runs.
  void doControllerCheck();

  MonitoringDataHolder& holder() { return holder_; }
  SnmpAgentCtrl& agents() { return agents_; }

private:
  MonitoringCtl();
  // Darkens the framer LEDs; the holder then removes its plain files.
  ~MonitoringCtl() override;

  void onBkgCheckTimer(Timer*);
  void onPowerCheckTimer(Timer*);
  void onControllerCheckTimer(Timer*);
  void OnDpcSend();
  void writeLed();
  // A trace line of "monitoring.internal" about what a file gave.
  void trace(const char* label, const std::string& text);

  // The reports to the monitoring agents.
  void sendSnmpTrapReceivers();
  void sendSnmpDriverBuild();
  void sendSnmpSoftwareBuild();
  void sendSnmpPowerStatus();
  void sendSnmpControllerStatus();
  void sendSnmpGatewayDip();
  void sendSnmpGatewayConfigVersion();
  void sendSnmpTemperature();
  void sendSnmpStatusBuildVersion();
  void sendSnmpStatusFPGAVersion();
  void sendSnmpStatusBootVersion();
  void sendSnmpStatusBoardVersion();
  void sendSnmpBoardStatus(const LGCP::BoardStatusParams& board);
  void sendSnmpBoardStatuses();
  void sendSnmpEmPhoneStatus(const LGCP::EmPhoneStatusParams& phone);
  void sendSnmpEmPhoneStatuses();
  // Items 17 to 20 for every stored counter of the owner.
  void sendSnmpTermCnt(int owner, SnmpAgentCtrl::MonitoringItemType item);
  void sendSnmpFramerStatus(const FramerDataHolder& framer);
  void sendSnmpNetIfStatus(const NetIfDataHolder& netIf);
  void sendSnmpCommands();

  Fd hal_;
  MonitoringDataHolder holder_;
  SnmpAgentCtrl agents_;
  Timer bkgTimer_;
  Timer powerTimer_;
  Timer controllerTimer_;
  std::uint8_t led_ = 0;
  Dpc resend_;
  Log::Limiter traceLog_;
};
