#include "monitoring/monitoring_data_holder.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstring>
#include <iostream>
#include <list>

#include "board/board.h"
#include "control/trace_ctl.h"
#include "foundation/os.h"
#include "foundation/sys_paths.h"

namespace {

const char kFramerDir[] = "/proc/driver/hdlc/peb22554/";
// Directories others must enter: 0755, not the mode a file would get.
const mode_t kDirMode = 0755;

bool IsDir(const std::string& path) {
  DIR* d = ::opendir(path.c_str());
  if (!d) return false;
  ::closedir(d);
  return true;
}

// A path component the controller names: a directory or file of its own
// inside the status directory, never "..", "." or a path.
bool SafeComponent(const std::string& text) {
  return !text.empty() && text != "." && text != ".." && text.find('/') == std::string::npos &&
         text.find('\0') == std::string::npos;
}

std::string Text(const ASN1::OCTET_STRING& s) { return std::string(s.begin(), s.end()); }

bool SameId(const MON::SnmpSetCommandId& a, const MON::SnmpSetCommandId& b) {
  if (a.oid_isSelected() && b.oid_isSelected()) return a.get_oid() == b.get_oid();
  if (!a.name_isSelected() || !b.name_isSelected()) return false;
  const MON::IniName& x = a.get_name();
  const MON::IniName& y = b.get_name();
  return std::string(x.get_section()) == std::string(y.get_section()) &&
         std::string(x.get_name()) == std::string(y.get_name()) && x.get_index().getValue() == y.get_index().getValue();
}

bool SameCounter(const LGCP::TermCounter& a, const LGCP::TermCounter& b) {
  if (a.get_owner().asInt() != b.get_owner().asInt()) return false;
  if (a.ownerId_isPresent() != b.ownerId_isPresent()) return false;
  return !a.ownerId_isPresent() || a.get_ownerId().getValue() == b.get_ownerId().getValue();
}

}  // namespace

std::string host2str(const TERM::HostAddress& host) { return host.get_iaddr(); }

MonitoringDataHolder::MonitoringDataHolder(std::string root)
    : root_(std::move(root)), dir_(root_ + SysPaths::kMonitoringDir) {
  ClearMonitorFiles();
  std::list<INet4::Addr> addresses;
  if (Net::ifconfig(addresses, Net::kIfPrivate) > 0 && !addresses.empty())
    ownAddress_ = addresses.front();
  else
    ownAddress_.Assign("127.0.0.1", nullptr);
  ownAddress_.port(0);
  for (int n = 0; n < 4; ++n) {
    const std::string path = root_ + kFramerDir + std::to_string(n);
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) framers_.emplace_back(n + 1, path);
  }
  netIfs_ = Monitoring::DiscoverNetIfs();
  CheckForMonDir(dir_);
  CheckForMonDir(dir_ + "term_cnts/");
}

MonitoringDataHolder::~MonitoringDataHolder() { ClearMonitorFiles(); }

bool MonitoringDataHolder::setText(std::string& field, const std::string& text) {
  if (field == text) return false;
  field = text;
  return true;
}

bool MonitoringDataHolder::room(std::size_t size, const char* what) {
  if (size < kMaxEntries) return true;
  refusedLog_.line(std::cerr) << "monitoring: " << what << " dropped: " << kMaxEntries << " kept already" << std::endl;
  return false;
}

bool MonitoringDataHolder::setDipValue(int value) {
  if (value == dip_) return false;
  dip_ = value;
  SaveStatusToFile(dir_ + "dip", [value](std::FILE* f) { std::fprintf(f, "%d", value); });
  return true;
}

bool MonitoringDataHolder::setPowerStatus(const LGCP::POWERStatus& status) {
  if (status.asInt() == powerStatus_.asInt()) return false;
  powerStatus_ = status;
  const int v = status.asInt();
  SaveStatusToFile(dir_ + "powerstatus", [v](std::FILE* f) { std::fprintf(f, "%d", v); });
  return true;
}

bool MonitoringDataHolder::setConfigVersion(std::uint32_t first, std::uint64_t second) {
  if (first == configFirst_ && second == configSecond_) return false;
  configFirst_ = first;
  configSecond_ = second;
  SaveStatusToFile(dir_ + "config_version", [first, second](std::FILE* f) {
    std::fprintf(f, "%08" PRIx32 "-%016" PRIx64, first, second);
  });
  return true;
}

void MonitoringDataHolder::setDisplayStatus(const LGCP::DisplayParams& params) {
  if (params.emPhone_isSelected())
    setEmPhoneInfo(params.get_emPhone());
  else if (params.board_isSelected())
    setBoardStatus(params.get_board());
  else if (params.snmpTrapReceivers_isSelected())
    setSnmpTrapReceivers(params.get_snmpTrapReceivers());
  else if (params.framer_isSelected())
    setFramerStatusChanged(params.get_framer());
  else if (params.controller_isSelected())
    setControllerStatus(params.get_controller());
  else if (params.termCounter_isSelected())
    setTermCounter(params.get_termCounter());
  else if (params.snmp_set_isSelected())
    setSnmpCommands(params.get_snmp_set());
}

void MonitoringDataHolder::setBoardStatus(const LGCP::BoardInfo& info) {
  if (!info.boardStatus_isSelected()) return;
  const LGCP::BoardStatusParams& b = info.get_boardStatus();
  const int position = b.get_position().getValue();
  LGCP::BoardStatusParams* stored = nullptr;
  for (LGCP::BoardStatusParams& s : boards_)
    if (s.get_position().getValue() == position) {
      stored = &s;
      break;
    }
  // Recorded before the file: a file that fails loses no record.
  if (stored) {
    stored->set_type(LGCP::ExtBoardType::NamedNumber(b.get_type().asInt()));
    stored->set_version(b.get_version());
    stored->set_status(LGCP::ExtBoardStatus::NamedNumber(b.get_status().asInt()));
  } else {
    if (!room(boards_.size(), "board")) return;
    boards_.push_back(b);
  }
  const int status = b.get_status().asInt(), type = b.get_type().asInt();
  const std::string version = Text(b.get_version());
  SaveStatusToFile(dir_ + "board" + std::to_string(position), [&](std::FILE* f) {
    std::fprintf(f, "%d\n%s\n%d\n", status, version.c_str(), type);
  });
}

void MonitoringDataHolder::setEmPhoneInfo(const LGCP::EmPhoneInfo& info) {
  if (!info.phoneStatus_isSelected()) return;
  const LGCP::EmPhoneStatusParams& p = info.get_phoneStatus();
  const int id = p.get_id().getValue();
  LGCP::EmPhoneStatusParams* stored = nullptr;
  for (LGCP::EmPhoneStatusParams& s : phones_)
    if (s.get_id().getValue() == id) {
      stored = &s;
      break;
    }
  if (stored)
    *stored = p;
  else if (room(phones_.size(), "phone"))
    phones_.push_back(p);
  else
    return;
  SaveStatusToFile(dir_ + "emphone" + std::to_string(id), [&](std::FILE* f) {
    std::fprintf(f, "%s\n%s\n%s\n%d\n%d\n%d\n%d\n%d\n", Text(p.get_panelSV()).c_str(), Text(p.get_ctrlSV()).c_str(),
                 Text(p.get_fpgaSV()).c_str(), p.get_status().asInt(), p.get_powerStatus().asInt(),
                 p.get_mode().asInt(), p.get_hookStatus().asInt(), p.get_baseStatus().asInt());
  });
}

void MonitoringDataHolder::setTermCounter(const LGCP::TermCounter& counter) {
  LGCP::TermCounter* stored = nullptr;
  for (LGCP::TermCounter& s : counters_)
    if (SameCounter(s, counter)) {
      stored = &s;
      break;
    }
  if (!stored && !room(counters_.size(), "counter")) return;
  const int cnt = counter.get_cnt().getValue();
  std::string file;
  switch (counter.get_owner().asInt()) {
    case 1:
      file = "router";
      break;
    case 2:
      file = "controller";
      break;
    case 3:
      file = "server";
      break;
    case 4:
      if (counter.ownerId_isPresent()) file = "board" + std::to_string(counter.get_ownerId().getValue());
      break;
    default:
      break;
  }
  if (!file.empty())
    SaveStatusToFile(dir_ + "term_cnts/" + file, [cnt](std::FILE* f) { std::fprintf(f, "%d", cnt); });
  if (stored)
    stored->set_cnt(cnt);
  else
    counters_.push_back(counter);
}

bool MonitoringDataHolder::setControllerStatus(const LGCP::ControllerInfo& info) {
  INet4::Addr address;
  address.Assign(host2str(info.get_host()), nullptr);
  address.port(0);
  const bool own = address == ownAddress_;
  const int status = info.get_status().asInt();
  if (own) ownStatus_ = HSP::ControllerStatus::NamedNumber(status);
  bool changed = false;
  LGCP::ControllerInfo* stored = nullptr;
  for (LGCP::ControllerInfo& c : controllers_)
    if (c.get_host() == info.get_host()) {
      stored = &c;
      break;
    }
  if (stored) {
    changed = stored->get_status().asInt() != status;
    stored->set_status(HSP::ControllerStatus::NamedNumber(status));
  } else {
    if (!room(controllers_.size(), "controller")) return false;
    controllers_.push_back(info);
    changed = true;
  }
  if (!changed) return false;
  const std::string dotted = address.GetStrAddr();
  if (traces.monitoring.internal)
    traceLog_.line(std::clog) << "New controller " << dotted << " status - " << info.get_status() << std::endl;
  CheckForMonControllerDir(address);
  SaveStatusToFile(dir_ + "controller/" + dotted + "/status", [status](std::FILE* f) { std::fprintf(f, "%d", status); });
  return own;
}

void MonitoringDataHolder::setSnmpTrapReceivers(const ASN1::SEQUENCE_OF<ASN1::IA5String>& hosts) {
  trapHosts_.clear();
  for (const ASN1::IA5String& h : hosts) {
    if (!room(trapHosts_.size(), "trap receiver")) break;
    trapHosts_.push_back(h);
  }
  if (traces.monitoring.internal) traceLog_.line(std::clog) << "Trap receivers:" << hosts << std::endl;
}

void MonitoringDataHolder::setSnmpCommands(const MON::SnmpSetCommands& commands) {
  ASN1::SEQUENCE_OF<MON::SnmpSetCommand>& stored = setCommands_.ref_commands();
  for (const MON::SnmpSetCommand& cmd : commands.get_commands()) {
    MON::SnmpSetCommand* match = nullptr;
    for (MON::SnmpSetCommand& s : stored)
      if (SameId(s.get_id(), cmd.get_id())) {
        match = &s;
        break;
      }
    if (match) {
      match->set_value(cmd.get_value());
    } else {
      if (!room(stored.size(), "set command")) continue;
      stored.push_back(cmd);
    }
    if (!cmd.get_id().name_isSelected()) continue;
    const MON::IniName& id = cmd.get_id().get_name();
    const std::string section = id.get_section(), name = id.get_name();
    if (!SafeComponent(section) || !SafeComponent(name)) {
      refusedLog_.line(std::cerr) << "monitoring: no file for set command \"" << section << "\" \"" << name
                                  << "\": not a name inside the status directory" << std::endl;
      continue;
    }
    const std::string sectionDir = dir_ + section;
    const std::string indexDir = sectionDir + "/" + std::to_string(id.get_index().getValue());
    CheckForMonDir(sectionDir);
    CheckForMonDir(indexDir);
    const std::string value = cmd.get_value();
    SaveStatusToFile(indexDir + "/" + name, [&value](std::FILE* f) { std::fputs(value.c_str(), f); });
  }
}

int MonitoringDataHolder::updateControllerPID() {
  controllerPid_ = Board::findProcess("controller", controllerPid_);
  return controllerPid_;
}

void MonitoringDataHolder::ClearMonitorFiles() {
  DIR* d = ::opendir(dir_.c_str());
  if (!d) return;
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(d))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  ::closedir(d);
  for (const std::string& name : names) std::remove((dir_ + name).c_str());
}

void MonitoringDataHolder::ClearControllerFiles() {
  DIR* d = ::opendir(dir_.c_str());
  if (d) {
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d))
      if (std::strncmp(e->d_name, "board", 5) == 0) names.push_back(e->d_name);
    ::closedir(d);
    for (const std::string& name : names) {
      if (traces.monitoring.internal) traceLog_.line(std::clog) << "remove monitoring info: " << name << std::endl;
      std::remove((dir_ + name).c_str());
    }
  }
  boards_.clear();
}

void MonitoringDataHolder::CheckForMonDir(const std::string& path) {
  if (IsDir(path)) return;
  if (::mkdir(path.c_str(), kDirMode) != 0)
    fileLog_.line(std::cerr) << "FAIL create monitoring catalog <" << path << "> with code=" << errno << std::endl;
}

void MonitoringDataHolder::CheckForMonControllerDir(const INet4::Addr& address) {
  const std::string base = dir_ + "controller/";
  if (!IsDir(base) && ::mkdir(base.c_str(), kDirMode) != 0) {
    fileLog_.line(std::cerr) << "FAIL create monitoring catalog <" << base << "> with code=" << errno << std::endl;
    return;
  }
  const std::string dotted = address.GetStrAddr();
  const std::string dir = base + dotted;
  if (IsDir(dir)) return;
  if (::mkdir(dir.c_str(), kDirMode) != 0) {
    fileLog_.line(std::cerr) << "FAIL create monitoring catalog <" << dir << "> with code=" << errno << std::endl;
    return;
  }
  if (address == ownAddress_ && ::symlink(dotted.c_str(), (base + "self").c_str()) != 0)
    fileLog_.line(std::cerr) << "FAIL create symlink to monitoring catalog <" << dir << "> with code=" << errno
                             << std::endl;
}

bool MonitoringDataHolder::SaveStatusToFile(const std::string& path, const std::function<void(std::FILE*)>& saver) {
  const std::size_t slash = path.rfind('/');
  // Same directory, so that rename replaces; a name no clearing rule takes
  // for a board file.
  const std::string tmp = path.substr(0, slash + 1) + ".tmp-" + path.substr(slash + 1);
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  std::FILE* f = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
  if (!f) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    fileLog_.line(std::cerr) << "FAIL create temporary file <" << tmp << "> with code=" << error << std::endl;
    return false;
  }
  saver(f);
  const bool written = std::fflush(f) == 0 && !std::ferror(f);
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed || ::rename(tmp.c_str(), path.c_str()) != 0) {
    fileLog_.line(std::cerr) << "FAIL write status file <" << path << "> with code=" << errno << std::endl;
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}
