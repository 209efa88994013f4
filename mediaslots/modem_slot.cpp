#include "mediaslots/modem_slot.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/if.h>
#include <linux/sockios.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
// After linux/if.h: it uses IFNAMSIZ.
#include <linux/hdlc/ioctl.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "board/board.h"
#include "board/mctl.h"
#include "foundation/ext_text.h"
#include "foundation/ini_file.h"
#include "foundation/spawn.h"
#include "foundation/sys_paths.h"
#include "messages/BASE.h"
#include "messages/LGCP.h"

namespace M = Board::Mctl;

namespace {

const char* const kPppd = "/usr/local/sbin/pppd";
const char* const kFaxSender = "/usr/local/sbin/fax";
const char* const kFaxReceiver = "/usr/local/bin/fax";
const char* const kAnswerOptions = "/usr/local/etc/ppp/aoptions";
const char* const kOriginateOptions = "/usr/local/etc/ppp/coptions";
const char* const kInterfaceOptions = "/usr/local/etc/ppp/ioptions";
const char* const kDefaultExecDirs = "/usr/local/sbin:/usr/local/bin";

std::string Terminal(int modem) {
  char name[32];
  std::snprintf(name, sizeof name, M::kTerminalFormat, modem);
  return name;
}

void PutWord(unsigned char* record, std::size_t offset, std::uint32_t w) { std::memcpy(record + offset, &w, sizeof w); }

std::string Text(const unsigned char* at, std::size_t max) {
  std::size_t n = 0;
  while (n < max && at[n]) ++n;
  return std::string(reinterpret_cast<const char*>(at), n);
}

void Set64(BASE::INTEGER64Bits& v, std::uint32_t high, std::uint32_t low) {
  v.set_high(int(high));
  v.set_low(int(low));
}

// An interface request through the board seam; the name set.
int NetIf(int socket, unsigned long request, ifreq& ifr, std::string const& name) {
  std::strncpy(ifr.ifr_name, name.c_str(), IFNAMSIZ - 1);
  return Board::netif(socket, request, &ifr);
}

bool Exists(std::string const& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

// ModemSlot -------------------------------------------------------------------

ModemSlot::ModemSlot(ModemFactory& f, TERM::ModemParams const& p) : factory(f), params(p) {}

ModemSlot::~ModemSlot() {
  pppd_kill();
  terminateTimer.reset();
}

std::ostream& ModemSlot::header(std::ostream& os) const { return os << *this << ": "; }

void ModemSlot::unbind() {
  unbound = true;
  factory.Disconnect(*this);
}

std::string ModemSlot::program(const char* fallback) const {
  return SysPaths::resolve(params.execfile_isPresent() ? std::string(params.get_execfile()).c_str() : fallback);
}

bool ModemSlot::IBeforeDestroy() {
  if (pid == -1) {
    unbind();
    return true;
  }
  header(std::cerr) << "sent HUP to pppd." << std::endl;
  ::kill(pid, SIGHUP);
  terminateTimer.set<ModemSlot>(kTerminateMs, &ModemSlot::on_terminate_timeout, this);
  return false;
}

void ModemSlot::pppd_exec(std::string const& line, const char* optionFile) {
  if (pid != -1) return;
  Spawn::Params p;
  p.program = program(kPppd);
  p.argv.push_back(p.program);
  if (params.execargs_isPresent()) {
    for (const ASN1::IA5String& a : params.get_execargs()) {
      if (p.argv.size() >= kArgv - 1) break;
      p.argv.push_back(a);
    }
  } else {
    p.argv.push_back("file");
    p.argv.push_back(SysPaths::resolve(optionFile));
    p.argv.push_back(line);
    const std::string cid = params.get_cid();
    if (!cid.empty()) {
      p.argv.push_back("remotenumber");
      p.argv.push_back(cid);
    }
  }
  const Spawn::Result r = Spawn::Start(p);
  if (r.pid < 0) {
    errno = r.error;
    header(std::cerr) << "vfork fail: " << Errno() << std::endl;
    OnAbort(r.error);
    return;
  }
  pid = r.pid;
  wait.Bind(this, &ModemSlot::on_terminate);
  wait.Attach(pid);
  header(std::clog) << "pppd executed cid=\"" << std::string(params.get_cid()) << "\" pid=" << pid << std::endl;
}

void ModemSlot::pppd_kill() {
  if (pid == -1) return;
  header(std::cerr) << "pppd isn't terminated, killing ..." << std::endl;
  ::kill(pid, SIGKILL);
}

void ModemSlot::Finish() {
  terminateTimer.reset();
  unbind();
  on_release();
}

void ModemSlot::on_terminate(int status) {
  header(std::clog) << "pppd terminated with code " << status << std::endl;
  pid = -1;
  if (is_releasing()) {
    Finish();
    return;
  }
  OnAbort(status);
}

void ModemSlot::on_terminate_timeout(Timer*) {
  header(std::cerr) << "pppd terminate timeout!" << std::endl;
  pppd_kill();
  pid = -1;
  if (is_releasing()) Finish();
}

void ModemSlot::OnAuth(const unsigned char* record, std::uint32_t length) {
  const std::uint32_t type = Auth::word(record, 4);
  switch (type) {
    case Auth::kRequest: {
      if (length != Auth::kRequestLength) {
        log.line(std::cerr) << *this << ": auth request, invalid size: " << length << std::endl;
        return;
      }
      TERM::ModemProceeding p;
      TERM::MdmRequestUserAuth& auth = p.select_auth();
      auth.set_username(Text(record + 12, 64));
      auth.set_password(Text(record + 76, 64));
      OnModem(p);
      return;
    }
    case Auth::kAccept:
      log.line(std::cerr) << *this << ": auth accept, ignored." << std::endl;
      return;
    case Auth::kIp:
      log.line(std::cerr) << *this << ": auth ip, ignored." << std::endl;
      return;
    case Auth::kAccounting: {
      if (length != Auth::kAccountingLength) {
        log.line(std::cerr) << *this << ": auth accounting, invalid size: " << length << std::endl;
        return;
      }
      TERM::ModemProceeding p;
      TERM::MdmAccounting& acct = p.select_acct();
      Set64(acct.set_octetsOut(), Auth::word(record, 24), Auth::word(record, 28));
      Set64(acct.set_octetsIn(), Auth::word(record, 32), Auth::word(record, 36));
      Set64(acct.set_packetsOut(), Auth::word(record, 40), Auth::word(record, 44));
      Set64(acct.set_packetsIn(), Auth::word(record, 48), Auth::word(record, 52));
      Set64(acct.set_time(), 0, Auth::word(record, 56));
      OnModem(p);
      return;
    }
    default:
      log.line(std::cerr) << *this << ": unknown request from portslave: 0x" << std::hex << type << std::dec
                          << std::endl;
  }
}

bool ModemSlot::IActivate(TERM::TermActivateParams const& p) {
  if (!p.modem_isSelected()) {
    header(std::cerr) << "modem's activation requests parameter." << std::endl;
    return false;
  }
  const TERM::ModemUserParameters& user = p.get_modem();
  const std::uint32_t id = std::uint32_t(modem_id());
  unsigned char accept[Auth::kAcceptLength] = {};
  PutWord(accept, 0, Auth::kAcceptLength);
  PutWord(accept, 4, Auth::kAccept);
  PutWord(accept, 8, id);
  PutWord(accept, 12, 1);
  unsigned char ip[Auth::kIpLength] = {};
  PutWord(ip, 0, Auth::kIpLength);
  PutWord(ip, 4, Auth::kIp);
  PutWord(ip, 8, id);
  PutWord(ip, 12, 0);
  PutWord(ip, 16, inet_addr(std::string(user.get_remoteAddr()).c_str()));
  PutWord(ip, 20, inet_addr(std::string(user.get_netmask()).c_str()));
  PutWord(ip, 24, inet_addr(std::string(user.get_gateway()).c_str()));
  PutWord(ip, 28, inet_addr(std::string(user.get_dns()).c_str()));
  PutWord(ip, 32, std::uint32_t(user.get_mtu().getValue()));
  // Admitting a user whose plug-in never hears of it is no success.
  if (!factory.SendAuth(*this, accept, sizeof accept)) return false;
  return factory.SendAuth(*this, ip, sizeof ip);
}

// DspModemSlot ------------------------------------------------------------------

DspModemSlot::DspModemSlot(ModemFactory& f, TERM::ModemParams const& p) : ModemSlot(f, p) {}

DspModemSlot::~DspModemSlot() {
  if (!unbound) unbind();
  if (!faxFile.empty()) factory.ForgetFaxFile(faxFile);
}

void DspModemSlot::unbind() {
  ModemSlot::unbind();
  factory.ReleaseModemSlot(this);
}

bool DspModemSlot::IOnOutputStream() {
  InitModem();
  return true;
}

bool DspModemSlot::IOnInputStream() {
  InitModem();
  return true;
}

void DspModemSlot::InitModem() {
  if (modem >= 0) return;
  Fd dev = Board::open(M::kDevice, O_RDONLY);
  if (!dev) {
    const Errno e;
    header(std::cerr) << "fail to open device: " << e << std::endl;
    OnAbort(e.value());
    return;
  }
  const int n = Board::ioctlValue(dev.lowlevel_fd(), M::kAllocate, 0);
  if (n < 0) {
    const Errno e;
    header(std::cerr) << "insufficient resources : " << e << std::endl;
    OnAbort(e.value());
    return;
  }
  const int ts = Board::ioctlValue(dev.lowlevel_fd(), M::kGetTimeslot, 0);
  if (ts < 0) {
    const Errno e;
    header(std::cerr) << "get timeslot fail : " << e << std::endl;
    OnAbort(e.value());
    return;
  }
  if (params.ddm_isPresent()) {
    mctl_ddm ddm{n, 0};
    for (const TERM::DigitalDataModeEnum& m : params.get_ddm()) {
      switch (m.asInt()) {
        case 0: ddm.mask |= M::kDdmV110; break;
        case 1: ddm.mask |= M::kDdm8Bit; break;
        case 2: ddm.mask |= M::kDdm7Bit; break;
        default: break;
      }
    }
    if (Board::ioctl(dev.lowlevel_fd(), M::kSetDdm, &ddm) < 0) {
      const Errno e;
      header(std::cerr) << "set DDM failed : " << e << std::endl;
      OnAbort(e.value());
      return;
    }
  }
  mctl_modem reset{n, -1};
  if (Board::ioctl(dev.lowlevel_fd(), M::kResetDmp, &reset) < 0)
    header(std::cerr) << "reset dmp parameters failed : " << Errno() << std::endl;
  if (params.dmp_isPresent()) {
    for (const TERM::DDModemParam& d : params.get_dmp()) {
      // The record names the modem just allocated, as every other one does.
      mctl_dmp dmp{n, d.get_offset().getValue(), d.get_value().getValue()};
      if (Board::ioctl(dev.lowlevel_fd(), M::kSetDmp, &dmp) < 0)
        header(std::cerr) << "set dmp parameter index=" << dmp.offset << " value=" << dmp.value
                          << " failed : " << Errno() << std::endl;
    }
  }
  timeslot = ts;
  modem = n;
  fd = dev;
  OnChangeOutputStream(true);
  OnChangeInputStream(true);

  mctl_modem call{modem, -1};
  if (!params.fax_isPresent()) {
    const bool originate = params.originate_isPresent();
    if (Board::ioctl(dev.lowlevel_fd(), originate ? M::kOriginate : M::kAnswer, &call) < 0) {
      const Errno e;
      header(std::cerr) << (originate ? "originate failed : " : "answer failed : ") << e << std::endl;
      OnAbort(e.value());
      return;
    }
    pppd_exec(SysPaths::resolve(Terminal(modem).c_str()), originate ? kOriginateOptions : kAnswerOptions);
  } else if (params.execargs_isPresent()) {
    dev.close();
    RunFaxSender();
  } else if (!params.originate_isPresent()) {
    dev.close();
    RunFaxReceiver();
  } else if (Board::ioctl(dev.lowlevel_fd(), M::kFaxOriginate, &call) < 0) {
    const Errno e;
    header(std::cerr) << "originate failed : " << e << std::endl;
    OnAbort(e.value());
  }
}

void DspModemSlot::RunFaxSender() {
  Spawn::Params p;
  p.program = program(kFaxSender);
  p.argv = {p.program, "-m", std::to_string(modem)};
  for (const ASN1::IA5String& a : params.get_execargs()) {
    if (p.argv.size() >= kArgv - 1) break;
    p.argv.push_back(a);
  }
  p.banner = "executing fax transfer\n";
  p.failText = "fail to exec!\n";
  fd.close();
  const Spawn::Result r = Spawn::Start(p);
  if (r.pid < 0) {
    errno = r.error;
    header(std::cerr) << "vfork fail: " << Errno() << std::endl;
    OnAbort(r.error);
    return;
  }
  pid = r.pid;
  faxExecFailed = r.error != 0;
  wait.Bind(this, &DspModemSlot::on_fax_terminate);
  wait.Attach(pid);
  header(std::clog) << "fax transfer executed modem=" << modem << " ts=" << timeslot << std::endl;
}

void DspModemSlot::RunFaxReceiver() {
  fd.close();
  faxFile = factory.FaxFileName();
  Spawn::Params p;
  p.program = SysPaths::resolve(kFaxReceiver);
  p.argv = {p.program, "-m", std::to_string(modem), "receive", SysPaths::resolve(faxFile.c_str())};
  p.delaySeconds = 1;
  p.banner = "executing\n";
  p.failText = "fail to exec!\n";
  Spawn::Result r = Spawn::Start(p);
  if (r.pid < 0) {
    errno = r.error;
    header(std::cerr) << "vfork fail: " << Errno() << std::endl;
    factory.ForgetFaxFile(faxFile);
    faxFile.clear();
    OnAbort(r.error);
    return;
  }
  // Watched like the sender: its end is reported, a destroy waits for it.
  pid = r.pid;
  faxReport = std::move(r.report);
  wait.Bind(this, &DspModemSlot::on_fax_terminate);
  wait.Attach(pid);
  header(std::clog) << "fax receiver executed modem=" << modem << " ts=" << timeslot << std::endl;
}

void DspModemSlot::on_fax_terminate(int status) {
  header(std::clog) << "fax terminated with code " << status << std::endl;
  pid = -1;
  if (Spawn::ExecError(faxReport) != 0) faxExecFailed = true;
  if (!faxFile.empty()) {
    factory.ForgetFaxFile(faxFile);
    faxFile.clear();
  }
  if (status & 0xFF) header(std::clog) << "fax transfer failed" << std::endl;
  const int pages = (status >> 8) & 0xFF;
  header(std::clog) << "pages received: " << pages << std::endl;
  // A program that never ran received no pages.
  if (!faxExecFailed) {
    TERM::ModemProceeding p;
    TERM::MdmAccounting& acct = p.select_acct();
    Set64(acct.set_octetsIn(), 0, std::uint32_t(pages));
    OnModem(p);
  }
  if (is_releasing()) {
    Finish();
    return;
  }
  OnAbort(status);
}

// HdlcModemSlot -----------------------------------------------------------------

HdlcModemSlot::HdlcModemSlot(ModemFactory& f, TERM::ModemParams const& p, std::string name)
    : ModemSlot(f, p), device(std::move(name)) {}

HdlcModemSlot::~HdlcModemSlot() {
  pppd_kill();
  pid = -1;
  if (!unbound) unbind();
  Fd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!s) return;
  ifreq ifr{};
  if (NetIf(s.lowlevel_fd(), SIOCGIFFLAGS, ifr, device) != 0) {
    header(std::cerr) << "SIOCGIFFLAGS fail!!!" << std::endl;
    return;
  }
  ifr.ifr_flags = static_cast<short>(ifr.ifr_flags & ~IFF_UP);
  if (NetIf(s.lowlevel_fd(), SIOCSIFFLAGS, ifr, device) != 0) {
    header(std::cerr) << "SIOCSIFFLAGS fail!!!" << std::endl;
    return;
  }
  raw_hdlc_proto raw{};
  raw.encoding = 0;
  raw.parity = 0;
  ifr = ifreq{};
  ifr.ifr_settings.type = IF_PROTO_HDLC;
  ifr.ifr_settings.size = 4;
  ifr.ifr_settings.ifs_ifsu.raw_hdlc = &raw;
  if (NetIf(s.lowlevel_fd(), SIOCWANDEV, ifr, device) != 0) header(std::cerr) << "SIOCWANDEV/IF_PROTO_HDLC fail!" << std::endl;
}

void HdlcModemSlot::unbind() {
  ModemSlot::unbind();
  factory.ReleaseModemSlot(this);
}

bool HdlcModemSlot::IOnOutputStream() {
  initModem();
  return true;
}

bool HdlcModemSlot::IOnInputStream() {
  initModem();
  return true;
}

void HdlcModemSlot::initModem() {
  if (pppd_executing()) return;
  // The controller learns of a set-up that failed, as from a DSP modem.
  const auto failed = [this](const char* line) {
    const Errno e;
    if (line) header(std::cerr) << line << std::endl;
    OnAbort(e.value());
  };
  Fd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!s) return failed(nullptr);
  std::uint32_t block[32] = {};
  ifreq ifr{};
  ifr.ifr_settings.type = IF_GET_IFACE;
  ifr.ifr_settings.size = sizeof block;
  ifr.ifr_settings.ifs_ifsu.sync = reinterpret_cast<sync_serial_settings*>(block);
  if (NetIf(s.lowlevel_fd(), SIOCWANDEV, ifr, device) != 0) return failed("SIOCWANDEV/IF_GET_IFACE fail!");
  channel = static_cast<int>(block[3]);
  std::uint32_t ppp = 0;
  ifr = ifreq{};
  ifr.ifr_settings.type = IF_PROTO_PPP;
  ifr.ifr_settings.size = sizeof ppp;
  ifr.ifr_settings.ifs_ifsu.sync = reinterpret_cast<sync_serial_settings*>(&ppp);
  if (NetIf(s.lowlevel_fd(), SIOCWANDEV, ifr, device) != 0) return failed("SIOCWANDEV/IF_PROTO_PPP fail!");
  pppd_exec(device, kInterfaceOptions);
}

// ModemFactory ------------------------------------------------------------------

ModemFactory& ModemFactory::instance() {
  static ModemFactory factory(Board::authPort(Auth::kPort));
  return factory;
}

ModemFactory::ModemFactory(unsigned short port) : auth(*this) {
  std::string dirs = kDefaultExecDirs;
  std::istringstream in(dirs);
  for (std::string d; std::getline(in, d, ':');)
    if (!d.empty()) execDirs.push_back(d);
  IQuery();
  auth.Listen(port);
}

ModemFactory::~ModemFactory() {}

std::ostream& ModemFactory::PutHeader(std::ostream& os) const {
  return os << "modem[" << modemCount << "," << modems.size() << "]: ";
}

void ModemFactory::Configure(IniFile::Section& section) {
  for (IniFile::SubSection& sub : section) {
    IniFile::Key& key = sub["exec-dirs"];
    if (key.GetCount() == 0) continue;
    execDirs.clear();
    std::istringstream in(key.GetStr());
    for (std::string d; std::getline(in, d, ':');)
      if (!d.empty()) execDirs.push_back(d);
  }
}

void ModemFactory::IQuery() {
  update_modemDevices();
  update_hdlcDevices();
}

void ModemFactory::update_modemDevices() {
  modemCount = 0;
  Fd dev = Board::open(M::kDevice, O_RDWR);
  if (!dev) {
    PutHeader(std::cerr) << "fail to open \"" << M::kDevice << "\" : " << Errno() << std::endl;
    return;
  }
  for (int n = -1;;) {
    n = Board::ioctlValue(dev.lowlevel_fd(), M::kEnumerate, static_cast<unsigned long>(long(n)));
    if (n < 0) {
      if (errno != ENODEV) PutHeader(std::cerr) << "enum fail: " << Errno() << std::endl;
      break;
    }
    ++modemCount;
  }
}

void ModemFactory::update_hdlcDevices() {
  freeInterfaces.clear();
  pointToPoint = 0;
  Fd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!s) return;
  std::ostringstream found;
  for (int i = 0; i < 256; ++i) {
    const std::string name = "hdlc" + std::to_string(i);
    ifreq ifr{};
    if (NetIf(s.lowlevel_fd(), SIOCGIFINDEX, ifr, name) != 0) break;
    ifr = ifreq{};
    if (NetIf(s.lowlevel_fd(), SIOCGIFFLAGS, ifr, name) != 0) break;
    if (!(ifr.ifr_flags & IFF_POINTOPOINT) || (ifr.ifr_flags & IFF_LOOPBACK)) continue;
    ++pointToPoint;
    found << ' ' << name;
    // A live digital modem keeps its interface.
    bool held = false;
    for (HdlcModemSlot* h : hdlcModems) held = held || h->deviceName() == name;
    if (!held) freeInterfaces.push_back(name);
  }
  if (pointToPoint) std::clog << "found point-o-point devices:" << found.str() << std::endl;
}

void ModemFactory::Query(LGCP::Resources& resources) {
  IQuery();
  resources.set_modem(modemCount);
  resources.set_digital_modems(pointToPoint);
}

std::string ModemFactory::CheckExecFile(std::string const& path) const {
  if (path.empty() || path[0] != '/') return "not absolute";
  if (path.find("..") != std::string::npos) return "has \"..\"";
  const std::string dir = path.substr(0, path.rfind('/'));
  bool allowed = false;
  for (const std::string& d : execDirs) allowed = allowed || d == dir || d == dir + "/";
  if (!allowed) return "not in a directory of exec-dirs";
  struct stat st;
  const std::string real = SysPaths::resolve(path.c_str());
  if (::stat(real.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "not a regular file";
  if (::access(real.c_str(), X_OK) != 0) return "not executable";
  return "";
}

Slot* ModemFactory::INewSlot(LGCP::CreateParams const& cp) {
  if (!cp.modem_isSelected()) return nullptr;
  const TERM::ModemParams& p = cp.get_modem();
  if (p.execfile_isPresent()) {
    const std::string file = p.get_execfile();
    const std::string why = CheckExecFile(file);
    if (!why.empty()) {
      log.line(std::cerr) << ext::header(this) << "execfile \"" << file << "\" refused: " << why << std::endl;
      SetErrorCause(LGCP::ErrorCause::invalidParams);
      return nullptr;
    }
  }
  if (p.ddm_isPresent() && p.get_ddm().size() > 0 && !freeInterfaces.empty()) {
    const std::string name = freeInterfaces.front();
    freeInterfaces.pop_front();
    HdlcModemSlot* slot = new HdlcModemSlot(*this, p, name);
    modems.push_back(slot);
    hdlcModems.push_back(slot);
    return slot;
  }
  DspModemSlot* slot = new DspModemSlot(*this, p);
  modems.push_back(slot);
  dspModems.push_back(slot);
  return slot;
}

void ModemFactory::ReleaseModemSlot(DspModemSlot* slot) {
  modems.remove(slot);
  dspModems.remove(slot);
}

void ModemFactory::ReleaseModemSlot(HdlcModemSlot* slot) {
  const size_t before = hdlcModems.size();
  modems.remove(slot);
  hdlcModems.remove(slot);
  if (hdlcModems.size() == before) return;
  for (const std::string& n : freeInterfaces)
    if (n == slot->deviceName()) return;
  freeInterfaces.push_back(slot->deviceName());
}

ModemSlot* ModemFactory::FindModemByDsp(int id) const {
  for (ModemSlot* m : modems)
    if (m->modem_id() == id) return m;
  return nullptr;
}

void ModemFactory::Disconnect(ModemSlot& slot) {
  AuthClient* c = slot.client;
  if (!c) return;
  slot.client = nullptr;
  c->slot = nullptr;
  auth.Close(c);
}

bool ModemFactory::SendAuth(ModemSlot& slot, const void* record, std::uint32_t length) {
  if (!slot.client) {
    log.line(std::clog) << "modem: send error: unknown auth " << slot.modem_id() << " session." << std::endl;
    return false;
  }
  return slot.client->Send(record, length);
}

void ModemFactory::OnAuthClientGone(AuthClient& client) {
  if (client.slot) client.slot->client = nullptr;
  client.slot = nullptr;
}

void ModemFactory::OnAuthRecord(AuthClient& client, const unsigned char* record, std::uint32_t length) {
  const int id = static_cast<int>(Auth::word(record, 8));
  if (client.slot) {
    if (id != client.boundId) {
      log.line(std::cerr) << ext::header(this) << "auth record of session " << id << " on the connection of session "
                          << client.boundId << ", dropped" << std::endl;
      return;
    }
    client.slot->OnAuth(record, length);
    return;
  }
  ModemSlot* target = nullptr;
  if (id == -1) {
    target = DigitalSlotOf(client);
  } else {
    for (DspModemSlot* m : dspModems)
      if (m->TakesSession(id)) {
        target = m;
        break;
      }
  }
  if (!target) {
    // Nothing will ever be bound to it: a stranger, or a slot gone.
    log.line(std::cerr) << ext::header(this) << "receive auth request for unknown session " << id << std::endl;
    auth.Close(&client);
    return;
  }
  if (target->client) {
    log.line(std::cerr) << ext::header(this) << "second auth connection from " << client.GetAddr() << " for session "
                        << id << ", closed" << std::endl;
    auth.Close(&client);
    return;
  }
  client.slot = target;
  client.boundId = id;
  target->client = &client;
  target->OnAuth(record, length);
}

ModemSlot* ModemFactory::DigitalSlotOf(AuthClient& client) const {
  // Only a digital modem whose pppd runs without its connection looks for one.
  ModemSlot* only = nullptr;
  int waiting = 0;
  for (HdlcModemSlot* h : hdlcModems) {
    if (!h->pppd_executing() || h->client) continue;
    only = h;
    ++waiting;
  }
  if (!waiting) return nullptr;
  // The plug-in's end of the connection: local 127.0.0.1:<its port>,
  // remote the listener.
  char want[64];
  // /proc/net/tcp prints the address as the host's integer of network order.
  std::snprintf(want, sizeof want, "%08X:%04X %08X:%04X", unsigned(inet_addr("127.0.0.1")),
                unsigned(client.GetAddr().port()), unsigned(inet_addr("127.0.0.1")), unsigned(auth.port()));
  std::string inode;
  std::ifstream tcp("/proc/net/tcp");
  for (std::string line; std::getline(tcp, line);) {
    if (line.find(want) == std::string::npos) continue;
    std::istringstream f(line);
    std::string w;
    for (int i = 0; i < 10 && (f >> w); ++i)
      if (i == 9) inode = w;
    break;
  }
  if (!inode.empty() && inode != "0") {
    const std::string target = "socket:[" + inode + "]";
    for (HdlcModemSlot* h : hdlcModems) {
      if (!h->pppd_executing()) continue;
      const std::string dir = "/proc/" + std::to_string(h->child()) + "/fd";
      DIR* d = ::opendir(dir.c_str());
      if (!d) continue;
      bool holds = false;
      while (dirent* e = ::readdir(d)) {
        char link[128] = {0};
        const ssize_t n = ::readlink((dir + "/" + e->d_name).c_str(), link, sizeof link - 1);
        if (n > 0 && target == std::string(link, size_t(n))) holds = true;
      }
      ::closedir(d);
      if (holds) return h;
    }
  }
  return waiting == 1 ? only : nullptr;
}

std::string ModemFactory::FaxFileName() {
  char base[64];
  const time_t now = ::time(nullptr);
  tm local{};
  ::localtime_r(&now, &local);
  std::strftime(base, sizeof base, "/var/fax-%H-%M-%S", &local);
  std::string name = std::string(base) + ".g3";
  for (int n = 1; faxFiles.count(name) || Exists(SysPaths::resolve(name.c_str())); ++n)
    name = std::string(base) + "-" + std::to_string(n) + ".g3";
  faxFiles.insert(name);
  return name;
}
