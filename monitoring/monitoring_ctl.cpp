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
}

MonitoringCtl::~MonitoringCtl() {
  if (hal_.is_valid()) {
    led_ = 0;
    writeLed();
    hal_.close();
  }
}

bool MonitoringCtl::Configure(IniFile::File&) { return true; }

void MonitoringCtl::OnConnect() {
  doPowerCheck();
  sendPowerStatus();
}

void MonitoringCtl::OnDisconnect() { holder_.ClearControllerFiles(); }

bool MonitoringCtl::OnCommand(const LGCP::Command&) { return false; }

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
