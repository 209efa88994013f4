#include "monitoring/monitoring_ctl.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>

#include "board/board.h"
#include "board/hal.h"
#include "control/trace_ctl.h"
#include "foundation/sys_paths.h"
#include "foundation/version.h"

namespace {

const char kConfigDir[] = "/usr/local/etc/";

// The first line of a file, at most 254 characters with its line end; false
// when the file does not open.
bool FirstLine(const std::string& path, std::string& line) {
  std::FILE* f = std::fopen(path.c_str(), "re");
  if (!f) return false;
  char buf[255];
  line = std::fgets(buf, sizeof buf, f) ? buf : "";
  std::fclose(f);
  return true;
}

}  // namespace

MonitoringCtl& MonitoringCtl::instance() {
  static MonitoringCtl theInstance;
  return theInstance;
}

MonitoringCtl::MonitoringCtl() : holder_(SysPaths::kRootPrefix) {
  bkgTimer_.set(kBkgFirstMs, &MonitoringCtl::onBkgCheckTimer, this);
  powerTimer_.set(kPowerPeriodMs, &MonitoringCtl::onPowerCheckTimer, this);
  controllerTimer_.set(kControllerPeriodMs, &MonitoringCtl::onControllerCheckTimer, this);
  resend_.Bind(this, &MonitoringCtl::OnDpcSend);
}

MonitoringCtl::~MonitoringCtl() {
  if (hal_.is_valid()) {
    led_ = 0;
    writeLed();
    hal_.close();
  }
}

bool MonitoringCtl::Configure(IniFile::File& config) {
  agents_.CreateInstances(config["snmpagent"]);
  return agents_.Bind(this);
}

void MonitoringCtl::OnConnect() {
  doPowerCheck();
  sendPowerStatus();
  doControllerCheck();
}

void MonitoringCtl::OnDisconnect() {
  holder_.ClearControllerFiles();
  doControllerCheck();
}

bool MonitoringCtl::OnCommand(const LGCP::Command& command) {
  if (!command.display_isSelected()) return false;
  OnDisplayCMD(command.get_display());
  Success();
  return true;
}

void MonitoringCtl::OnDisplayCMD(const LGCP::DisplayParams& params) {
  holder_.setDisplayStatus(params);
  if (params.framer_isSelected()) {
    setFramerLed(params.get_framer());
  } else if (params.board_isSelected()) {
    if (params.get_board().boardStatus_isSelected()) sendSnmpBoardStatus(params.get_board().get_boardStatus());
  } else if (params.emPhone_isSelected()) {
    if (params.get_emPhone().phoneStatus_isSelected()) sendSnmpEmPhoneStatus(params.get_emPhone().get_phoneStatus());
  } else if (params.snmpTrapReceivers_isSelected()) {
    sendSnmpTrapReceivers();
  } else if (params.controller_isSelected()) {
    sendSnmpControllerStatus();
  } else if (params.termCounter_isSelected()) {
    sendSnmpTermCnt(1, SnmpAgentCtrl::routerTermCnt);
    sendSnmpTermCnt(2, SnmpAgentCtrl::controllerTermCnt);
    sendSnmpTermCnt(3, SnmpAgentCtrl::serverTermCnt);
    sendSnmpTermCnt(4, SnmpAgentCtrl::extBoardTermCnt);
  } else if (params.snmp_set_isSelected()) {
    agents_.Send(params.get_snmp_set());
  }
}

void MonitoringCtl::OnSnmpAgentConnect(std::string const&) { resend_.Activate(); }

void MonitoringCtl::OnDpcSend() {
  sendSnmpTrapReceivers();
  sendSnmpDriverBuild();
  sendSnmpSoftwareBuild();
  sendSnmpPowerStatus();
  sendSnmpControllerStatus();
  sendSnmpGatewayDip();
  sendSnmpGatewayConfigVersion();
  sendSnmpTemperature();
  sendSnmpStatusBuildVersion();
  sendSnmpStatusFPGAVersion();
  sendSnmpStatusBootVersion();
  sendSnmpStatusBoardVersion();
  sendSnmpBoardStatuses();
  sendSnmpEmPhoneStatuses();
  sendSnmpTermCnt(1, SnmpAgentCtrl::routerTermCnt);
  sendSnmpTermCnt(2, SnmpAgentCtrl::controllerTermCnt);
  sendSnmpTermCnt(3, SnmpAgentCtrl::serverTermCnt);
  sendSnmpTermCnt(4, SnmpAgentCtrl::extBoardTermCnt);
  for (const FramerDataHolder& f : holder_.GetFramers()) sendSnmpFramerStatus(f);
  for (const NetIfDataHolder& n : holder_.GetNetIfs()) sendSnmpNetIfStatus(n);
  sendSnmpCommands();
  resend_.Deactivate();
}

void MonitoringCtl::doControllerCheck() {
  bool connected = false;
  if (!CheckServerConnection(connected)) connected = false;
  LGCP::ControllerInfo info;
  info.set_host().set_iaddr(holder_.getSelfHostAddress().GetStrAddr());
  if (!connected)
    info.set_status(holder_.updateControllerPID() > 0 ? HSP::ControllerStatus::notconnection
                                                      : HSP::ControllerStatus::notrun);
  else
    info.set_status(HSP::ControllerStatus::NamedNumber(holder_.getSelfControllerStatus().asInt()));
  if (holder_.setControllerStatus(info)) sendSnmpControllerStatus();
}

void MonitoringCtl::onControllerCheckTimer(Timer*) {
  doControllerCheck();
  controllerTimer_.set(kControllerPeriodMs, &MonitoringCtl::onControllerCheckTimer, this);
}

namespace {

std::string Text(const ASN1::OCTET_STRING& s) { return std::string(s.begin(), s.end()); }

}  // namespace

void MonitoringCtl::sendSnmpTrapReceivers() { agents_.SendTrapsink(holder_.GetTrapHosts()); }

void MonitoringCtl::sendSnmpDriverBuild() {
  std::string line;
  if (!FirstLine(SysPaths::resolve("/proc/voice/version"), line) || line.empty()) return;
  agents_.Send(SnmpAgentCtrl::driverBuild, Monitoring::VoiceBuildOf(line));
}

void MonitoringCtl::sendSnmpSoftwareBuild() { agents_.Send(SnmpAgentCtrl::softwareBuild, Version::current.tag()); }

void MonitoringCtl::sendSnmpPowerStatus() {
  agents_.Send(SnmpAgentCtrl::powerStatus, std::to_string(holder_.getPowerStatus().asInt()));
}

void MonitoringCtl::sendSnmpControllerStatus() {
  agents_.Send(SnmpAgentCtrl::controllerStatus, std::to_string(holder_.getSelfControllerStatus().asInt()));
}

void MonitoringCtl::sendSnmpGatewayDip() {
  // Unsigned: "4294967295" until the first read.
  agents_.Send(SnmpAgentCtrl::gatewayDip, std::to_string(static_cast<std::uint32_t>(holder_.getDipValue())));
}

void MonitoringCtl::sendSnmpGatewayConfigVersion() {
  agents_.Send(SnmpAgentCtrl::gatewayConfigVersion, std::to_string(holder_.getConfigVersion()));
}

void MonitoringCtl::sendSnmpTemperature() { agents_.Send(SnmpAgentCtrl::temperature, holder_.getTemperature()); }
void MonitoringCtl::sendSnmpStatusBuildVersion() {
  agents_.Send(SnmpAgentCtrl::sgBuildVersion, holder_.getBuildVersion());
}
void MonitoringCtl::sendSnmpStatusFPGAVersion() { agents_.Send(SnmpAgentCtrl::sgFPGAVersion, holder_.getFPGAVersion()); }
void MonitoringCtl::sendSnmpStatusBootVersion() { agents_.Send(SnmpAgentCtrl::sgBootVersion, holder_.getBootVersion()); }
void MonitoringCtl::sendSnmpStatusBoardVersion() {
  agents_.Send(SnmpAgentCtrl::sgBoardVersion, holder_.getBoardVersion());
}

void MonitoringCtl::sendSnmpBoardStatus(const LGCP::BoardStatusParams& b) {
  const int index = b.get_position().getValue();
  agents_.Send(SnmpAgentCtrl::extBoardStatus, index, std::to_string(b.get_status().asInt()));
  agents_.Send(SnmpAgentCtrl::extBoardSoftVer, index, Text(b.get_version()));
  agents_.Send(SnmpAgentCtrl::extBoardType, index, std::to_string(b.get_type().asInt()));
}

void MonitoringCtl::sendSnmpBoardStatuses() {
  for (const LGCP::BoardStatusParams& b : holder_.GetBoardStatus()) sendSnmpBoardStatus(b);
}

void MonitoringCtl::sendSnmpEmPhoneStatus(const LGCP::EmPhoneStatusParams& p) {
  const int index = p.get_id().getValue() + 1;
  agents_.Send(SnmpAgentCtrl::emPhonePanelSoftVer, index, Text(p.get_panelSV()));
  agents_.Send(SnmpAgentCtrl::emPhoneCtrlSoftVer, index, Text(p.get_ctrlSV()));
  agents_.Send(SnmpAgentCtrl::emPhoneFpgaSoftVer, index, Text(p.get_fpgaSV()));
  agents_.Send(SnmpAgentCtrl::emPhoneStatus, index, std::to_string(p.get_status().asInt()));
  agents_.Send(SnmpAgentCtrl::emPhonePowerStatus, index, std::to_string(p.get_powerStatus().asInt()));
  agents_.Send(SnmpAgentCtrl::emPhoneMode, index, std::to_string(p.get_mode().asInt()));
  agents_.Send(SnmpAgentCtrl::emPhoneHookStatus, index, std::to_string(p.get_hookStatus().asInt()));
  agents_.Send(SnmpAgentCtrl::emPhoneBaseStatus, index, std::to_string(p.get_baseStatus().asInt()));
}

void MonitoringCtl::sendSnmpEmPhoneStatuses() {
  for (const LGCP::EmPhoneStatusParams& p : holder_.GetEmPhoneStatus()) sendSnmpEmPhoneStatus(p);
}

void MonitoringCtl::sendSnmpTermCnt(int owner, SnmpAgentCtrl::MonitoringItemType item) {
  const bool perBoard = item == SnmpAgentCtrl::extBoardTermCnt;
  for (const LGCP::TermCounter& c : holder_.GetTermCounters()) {
    if (c.get_owner().asInt() != owner || (perBoard && !c.ownerId_isPresent())) continue;
    agents_.Send(item, perBoard ? int(c.get_ownerId().getValue()) : 0, std::to_string(c.get_cnt().getValue()));
  }
}

void MonitoringCtl::sendSnmpFramerStatus(const FramerDataHolder& f) {
  const int index = f.number();
  agents_.Send(SnmpAgentCtrl::e1Connected, index, f.connected() ? "1" : "0");
  agents_.Send(SnmpAgentCtrl::e1StatusDsc, index, f.state());
  agents_.Send(SnmpAgentCtrl::e1SignalLoss, index, f.signalLoss() ? "1" : "0");
  agents_.Send(SnmpAgentCtrl::e1FrameAlignLoss, index, f.frameAlignmentLoss() ? "1" : "0");
  agents_.Send(SnmpAgentCtrl::e1NegSlipCount, index, std::to_string(f.negativeSlips()));
  agents_.Send(SnmpAgentCtrl::e1PosSlipCount, index, std::to_string(f.positiveSlips()));
}

void MonitoringCtl::sendSnmpNetIfStatus(const NetIfDataHolder& n) {
  agents_.Send(SnmpAgentCtrl::ifOperStatus, n.index(), std::to_string(n.operStatus()));
  agents_.Send(SnmpAgentCtrl::ifAdminStatus, n.index(), std::to_string(n.adminStatus()));
  agents_.Send(SnmpAgentCtrl::ifDescr, n.index(), n.name());
}

void MonitoringCtl::sendSnmpCommands() { agents_.Send(holder_.GetSnmpCommands()); }

bool MonitoringCtl::IsOpen() {
  if (hal_.is_valid()) return true;
  led_ = 0;
  hal_ = Board::open(Board::Hal::kDevice, O_RDWR);
  if (!hal_.is_valid()) return false;
  writeLed();
  ::fcntl(hal_.lowlevel_fd(), F_SETFD, FD_CLOEXEC);
  return true;
}

void MonitoringCtl::writeLed() {
  std::uint8_t b = led_;
  Board::ioctl(hal_.lowlevel_fd(), Board::Hal::kLedWrite, &b);
}

void MonitoringCtl::setFramerLed(const LGCP::FramerInfo& info) {
  if (!IsOpen()) return;
  const LGCP::FramerInfoData& data = info.get_info();
  if (!data.line_isSelected() && !data.link_isSelected()) return;
  const bool isLine = data.line_isSelected();
  led_ = Monitoring::FramerLedByte(led_, info.get_e1().getValue(), isLine,
                                   isLine ? bool(data.get_line()) : bool(data.get_link()));
  writeLed();
}

void MonitoringCtl::sendPowerStatus() {
  LGCP::Signal signal;
  signal.select_power(LGCP::POWERStatus::NamedNumber(holder_.getPowerStatus().asInt()));
  SendBoardSignal(signal);
}

void MonitoringCtl::trace(const char* label, const std::string& text) {
  if (!traces.monitoring.internal) return;
  traceLog_.line(std::clog) << label << text << (!text.empty() && text.back() == '\n' ? "" : "\n") << std::flush;
}

void MonitoringCtl::onBkgCheckTimer(Timer*) {
  doVersionsCheck();
  doConfigCheck();
  doFramerCheck();
  doTemperatureCheck();
  bkgTimer_.set(kBkgPeriodMs, &MonitoringCtl::onBkgCheckTimer, this);
}

void MonitoringCtl::onPowerCheckTimer(Timer*) {
  doPowerCheck();
  doDipCheck();
  doNetIfCheck();
  powerTimer_.set(kPowerPeriodMs, &MonitoringCtl::onPowerCheckTimer, this);
}

void MonitoringCtl::doPowerCheck() {
  if (!IsOpen()) return;
  unsigned char byte = 0;
  if (Board::ioctl(hal_.lowlevel_fd(), Board::Hal::kPowerRead, &byte) != 0) return;
  const LGCP::POWERStatus status(LGCP::POWERStatus::NamedNumber(Monitoring::PowerStatusOf(byte)));
  if (!holder_.setPowerStatus(status)) return;
  if (traces.monitoring.internal) traceLog_.line(std::clog) << "New power status - " << status << std::endl;
  sendPowerStatus();
  sendSnmpPowerStatus();
}

void MonitoringCtl::doDipCheck() {
  if (!IsOpen()) return;
  unsigned char byte = 0;
  if (Board::ioctl(hal_.lowlevel_fd(), Board::Hal::kDipRead, &byte) != 0) return;
  if (!holder_.setDipValue(byte)) return;
  if (traces.monitoring.internal) traceLog_.line(std::clog) << "New dip - " << int(byte) << std::endl;
  sendSnmpGatewayDip();
}

void MonitoringCtl::doNetIfCheck() {
  for (NetIfDataHolder& n : holder_.GetNetIfs())
    if (n.updateNetIf()) sendSnmpNetIfStatus(n);
}

void MonitoringCtl::doVersionsCheck() {
  struct VersionFile {
    const char* path;
    bool (MonitoringDataHolder::*set)(const std::string&);
    const char* label;
    void (MonitoringCtl::*send)();
  };
  static const VersionFile kFiles[] = {
      {"/var/version", &MonitoringDataHolder::setBuildVersion, "BuildVersion - ",
       &MonitoringCtl::sendSnmpStatusBuildVersion},
      {"/var/u-boot-version", &MonitoringDataHolder::setBootVersion, "BootVersion - ",
       &MonitoringCtl::sendSnmpStatusBootVersion},
      {"/var/fpga-version", &MonitoringDataHolder::setFPGAVersion, "FPGAVersion - ",
       &MonitoringCtl::sendSnmpStatusFPGAVersion},
      {"/var/board-version", &MonitoringDataHolder::setBoardVersion, "BoardVersion - ",
       &MonitoringCtl::sendSnmpStatusBoardVersion},
  };
  for (const VersionFile& v : kFiles) {
    std::string line;
    if (!FirstLine(SysPaths::resolve(v.path), line)) continue;
    trace(v.label, line);
    if ((holder_.*v.set)(line)) (this->*v.send)();
  }
}

void MonitoringCtl::doConfigCheck() {
  Monitoring::ScanConfigDir(SysPaths::resolve(kConfigDir), true, [this](const Monitoring::ConfigVersion& v) {
    if (holder_.setConfigVersion(v.first, v.second)) sendSnmpGatewayConfigVersion();
  });
}

void MonitoringCtl::doFramerCheck() {
  for (FramerDataHolder& f : holder_.GetFramers()) {
    const int fd = ::open(f.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      trace("Error open file: ", "\"" + f.path() + "\" errno=\"" + std::strerror(errno) + "\"");
      continue;
    }
    std::vector<unsigned char> text(Monitoring::kFramerTextMax);
    const ssize_t n = ::read(fd, text.data(), text.size());
    const int error = errno;
    ::close(fd);
    if (n <= 0) {
      trace("Error read file: ", "\"" + f.path() + "\" errno=\"" + std::strerror(n < 0 ? error : 0) + "\"");
      continue;
    }
    text.resize(std::size_t(n));
    for (std::size_t i = 0; i < text.size(); ++i)
      if (text[i] == 0) {
        text.resize(i);
        break;
      }
    if (f.setFramerStatus(text)) sendSnmpFramerStatus(f);
  }
}

void MonitoringCtl::doTemperatureCheck() {
  std::string line;
  if (!FirstLine(SysPaths::resolve("/proc/temperature"), line)) return;
  trace("Temperature - ", line);
  if (holder_.setTemperature(Monitoring::TemperatureOf(line))) sendSnmpTemperature();
}
