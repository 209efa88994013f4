#pragma once
// The board-monitoring service: polls the board on two repeating timers
// (versions, configuration name, framers and temperature 1 s after start and
// every minute; power, DIP switches and interfaces every 2 s), keeps what it
// reads in its data holder, which writes the status files, and sends the
// controller the board's power status on every connection and every change.
// It is bound to the command server last. The display command, the
// controller check and the agent links are not here yet: a check that sees a
// change calls its sender, which reports nothing so far.
#include <cstdint>

#include "control/ctrl_server.h"
#include "foundation/ini_file.h"
#include "foundation/log_limit.h"
#include "foundation/os.h"
#include "foundation/timer.h"
#include "monitoring/monitoring_data_holder.h"

class MonitoringCtl : public CtrlSrv::Service {
public:
  static constexpr unsigned kBkgFirstMs = 1000;
  static constexpr unsigned kBkgPeriodMs = 60000;
  static constexpr unsigned kPowerPeriodMs = 2000;

  static MonitoringCtl& instance();

  // The agent links of the configuration join later; true.
  bool Configure(IniFile::File& config);

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(const LGCP::Command& command) override;

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

  MonitoringDataHolder& holder() { return holder_; }

private:
  MonitoringCtl();
  // Darkens the framer LEDs; the holder then removes its plain files.
  ~MonitoringCtl() override;

  void onBkgCheckTimer(Timer*);
  void onPowerCheckTimer(Timer*);
  void writeLed();
  // A trace line of "monitoring.internal" about what a file gave.
  void trace(const char* label, const std::string& text);

  // The reports to the monitoring agents, with the agent links.
  void sendSnmpPowerStatus() {}
  void sendSnmpGatewayDip() {}
  void sendSnmpGatewayConfigVersion() {}
  void sendSnmpTemperature() {}
  void sendSnmpStatusBuildVersion() {}
  void sendSnmpStatusFPGAVersion() {}
  void sendSnmpStatusBootVersion() {}
  void sendSnmpStatusBoardVersion() {}
  void sendSnmpFramerStatus(const FramerDataHolder&) {}
  void sendSnmpNetIfStatus(const NetIfDataHolder&) {}

  Fd hal_;
  MonitoringDataHolder holder_;
  Timer bkgTimer_;
  Timer powerTimer_;
  std::uint8_t led_ = 0;
  Log::Limiter traceLog_;
};
