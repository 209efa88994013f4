#pragma once
// Everything the monitoring service knows about the board: values polled
// from the hardware and from files, and what the controller reports with its
// `display` command. Setters compare, store, write the value's status file
// under var/monitoring/ of the root prefix where it has one, and tell the
// caller whether something changed, so that only a change is reported on.
//
// Status files are replaced atomically (written under a temporary name in
// the same directory, then renamed): another process never reads a cut
// value. Each list keeps at most kMaxEntries; a report beyond is logged and
// dropped, since the controller could otherwise grow it without bound.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "foundation/inet4.h"
#include "foundation/log_limit.h"
#include "messages/HSP.h"
#include "messages/LGCP.h"
#include "messages/MON.h"
#include "messages/TERM.h"
#include "monitoring/board_readers.h"

// The iaddr text of a host address.
std::string host2str(const TERM::HostAddress& host);

class MonitoringDataHolder {
public:
  static constexpr std::size_t kMaxEntries = 1024;

  // root: the prefix of the fixed paths (the build's root prefix in the
  // daemon). Clears the status directory, finds the own address, the
  // framers and the interfaces, and makes the status directories.
  explicit MonitoringDataHolder(std::string root);
  MonitoringDataHolder(const MonitoringDataHolder&) = delete;
  MonitoringDataHolder& operator=(const MonitoringDataHolder&) = delete;
  // Removes the plain files of the status directory.
  ~MonitoringDataHolder();

  bool setDipValue(int value);
  bool setPowerStatus(const LGCP::POWERStatus& status);
  bool setConfigVersion(std::uint32_t first, std::uint64_t second);
  bool setTemperature(const std::string& text) { return setText(temperature_, text); }
  bool setBuildVersion(const std::string& text) { return setText(buildVersion_, text); }
  bool setFPGAVersion(const std::string& text) { return setText(fpgaVersion_, text); }
  bool setBootVersion(const std::string& text) { return setText(bootVersion_, text); }
  bool setBoardVersion(const std::string& text) { return setText(boardVersion_, text); }

  void setDisplayStatus(const LGCP::DisplayParams& params);
  void setBoardStatus(const LGCP::BoardInfo& info);
  void setEmPhoneInfo(const LGCP::EmPhoneInfo& info);
  void setTermCounter(const LGCP::TermCounter& counter);
  // True only when the board's own controller status changed.
  bool setControllerStatus(const LGCP::ControllerInfo& info);
  void setSnmpTrapReceivers(const ASN1::SEQUENCE_OF<ASN1::IA5String>& hosts);
  void setSnmpCommands(const MON::SnmpSetCommands& commands);
  // Framer reports only drive the LEDs.
  void setFramerStatusChanged(const LGCP::FramerInfo&) {}
  // The pid of the process named "controller", -1 when there is none.
  int updateControllerPID();

  const INet4::Addr& getSelfHostAddress() const { return ownAddress_; }
  const HSP::ControllerStatus& getSelfControllerStatus() const { return ownStatus_; }
  const LGCP::POWERStatus& getPowerStatus() const { return powerStatus_; }
  int getDipValue() const { return dip_; }
  std::uint32_t getConfigVersion() const { return configFirst_; }
  std::uint64_t getConfigVersionSecond() const { return configSecond_; }
  const std::string& getTemperature() const { return temperature_; }
  const std::string& getBuildVersion() const { return buildVersion_; }
  const std::string& getFPGAVersion() const { return fpgaVersion_; }
  const std::string& getBootVersion() const { return bootVersion_; }
  const std::string& getBoardVersion() const { return boardVersion_; }

  const std::vector<LGCP::BoardStatusParams>& GetBoardStatus() const { return boards_; }
  const std::vector<LGCP::EmPhoneStatusParams>& GetEmPhoneStatus() const { return phones_; }
  const std::vector<LGCP::TermCounter>& GetTermCounters() const { return counters_; }
  const std::vector<LGCP::ControllerInfo>& GetControllers() const { return controllers_; }
  const std::vector<std::string>& GetTrapHosts() const { return trapHosts_; }
  const MON::SnmpSetCommands& GetSnmpCommands() const { return setCommands_; }
  std::vector<FramerDataHolder>& GetFramers() { return framers_; }
  std::vector<NetIfDataHolder>& GetNetIfs() { return netIfs_; }

  // Removes every entry of the status directory that can go (plain files,
  // empty directories).
  void ClearMonitorFiles();
  // Removes the board files and forgets the boards.
  void ClearControllerFiles();
  void CheckForMonDir(const std::string& path);
  void CheckForMonControllerDir(const INet4::Addr& address);
  // Replaces the file with what saver writes; false when it could not.
  bool SaveStatusToFile(const std::string& path, const std::function<void(std::FILE*)>& saver);

  // The status directory, ending in "/".
  const std::string& dir() const { return dir_; }
  const std::string& root() const { return root_; }

private:
  bool setText(std::string& field, const std::string& text);
  // Room for one more entry in a list, with a log line when there is none.
  bool room(std::size_t size, const char* what);

  std::string root_;
  std::string dir_;
  INet4::Addr ownAddress_;
  HSP::ControllerStatus ownStatus_;
  int controllerPid_ = -1;
  std::vector<LGCP::ControllerInfo> controllers_;
  LGCP::POWERStatus powerStatus_;
  std::vector<LGCP::BoardStatusParams> boards_;
  std::vector<LGCP::EmPhoneStatusParams> phones_;
  std::vector<LGCP::TermCounter> counters_;
  std::vector<std::string> trapHosts_;
  int dip_ = -1;
  std::uint64_t configSecond_ = ~std::uint64_t(0);
  std::uint32_t configFirst_ = ~std::uint32_t(0);
  std::string temperature_, buildVersion_, fpgaVersion_, bootVersion_, boardVersion_;
  MON::SnmpSetCommands setCommands_;
  std::vector<FramerDataHolder> framers_;
  std::vector<NetIfDataHolder> netIfs_;
  Log::Limiter fileLog_;
  Log::Limiter refusedLog_;
  Log::Limiter traceLog_;
};
