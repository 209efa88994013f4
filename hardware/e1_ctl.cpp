#include "hardware/e1_ctl.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "board/board.h"
#include "board/maintenance.h"
#include "foundation/ext_text.h"
#include "hardware/dev_names.h"
#include "hardware/hang_up.h"
#include "messages/ACP.h"
#include "messages/LGCP.h"

namespace {

namespace Cas = Board::E1Cas;
namespace Maint = Board::Maintenance;

static_assert(E1Ctl::kTrunks == Maint::kTrunks && E1Ctl::kTrunks == Cas::kTrunks);

bool ValidTrunk(int trunk) { return trunk >= 0 && trunk < E1Ctl::kTrunks; }

// Timeslot 0 stands for the trunk itself, 16 carries the multiframe.
bool IsChannel(int timeslot) { return timeslot != 0 && timeslot != 16; }

ACP::TrunkState::NamedNumber StateOf(std::int32_t word) {
  if (word < ACP::TrunkState::normal || word > ACP::TrunkState::disabled) return ACP::TrunkState::unknown;
  return static_cast<ACP::TrunkState::NamedNumber>(word);
}

}  // namespace

void Assign(LGCP::CasChannel& to, const cas_channel& from) {
  to.set_path(from.path);
  to.set_timeslot(from.timeslot);
}

E1Ctl& E1Ctl::instance() {
  static E1Ctl theInstance;
  return theInstance;
}

E1Ctl::E1Ctl() : tclk(0) {
  for (int& open : casOpen) open = 0;
}

E1Ctl::~E1Ctl() {
  statusTimer.reset();
  CloseCas();
}

void E1Ctl::PutHeader(std::ostream& os) const { os << "E1: "; }

bool E1Ctl::IsOpen() {
  if (maintenance.is_valid()) return true;
  maintenance = Board::open(GetMaintenance(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  return maintenance.is_valid();
}

bool E1Ctl::CheckOpenCas() {
  if (cas.is_valid()) return true;
  cas = Board::open(Cas::kDevice, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (!cas.is_valid()) return false;
  std::clog << ext::header(this) << "cas interface opened!" << std::endl;
  casEvent.Bind("E1/Cas", &E1Ctl::OnUpdateCas, this);
  casEvent.Schedule(cas, POLLIN);
  return true;
}

int E1Ctl::MaintRequest(Board::Request request, void* record, unsigned long value) {
  auto issue = [&] {
    const int fd = maintenance.lowlevel_fd();
    return record ? Board::ioctl(fd, request, record) : Board::ioctlValue(fd, request, value);
  };
  const int result = issue();
  if (result >= 0 || !Hardware::HungUp(maintenance.lowlevel_fd())) return result;
  {
    Errno err;
    std::cerr << ext::header(this) << "maintenance device lost: " << err << std::endl;
  }
  maintenance.close();
  return IsOpen() ? issue() : -1;
}

void E1Ctl::CloseCas() {
  casEvent.Release();
  cas.close();
}

void E1Ctl::OnConnect() {
  SendStatus();
  SetTimer();
  tclk = 0;
  UpdateTclk();
  CheckOpenCas();
}

void E1Ctl::SetTimer() { statusTimer.set<E1Ctl>(kStatusPeriodMs, &E1Ctl::OnCheckStatus, this); }

void E1Ctl::OnCheckStatus(Timer*) {
  SendStatus();
  CheckOpenCas();
  SetTimer();
}

void E1Ctl::SendStatus() {
  // Nobody to tell: the connection would refuse every signal with a line.
  bool connected = false;
  if (!CheckServerConnection(connected) || !connected) return;
  if (!IsOpen()) return;
  for (int trunk = 0; trunk < kTrunks; ++trunk) {
    Maint::SyncStatus record;
    std::memset(&record, 0, sizeof record);
    record.trunk = trunk;
    if (MaintRequest(Maint::kReadStatus, &record) < 0) {
      Errno err;
      std::cerr << ext::header(this) << "synchronization status read fail, trunk = " << trunk << " cause = " << err
                << std::endl;
      continue;
    }
    LGCP::Signal signal;
    ACP::TrunkStatus& status = signal.select_trunkStatus();
    status.set_trunk(trunk);
    status.set_state(StateOf(record.state));
    status.set_slips(record.slips);
    status.set_lossBF(record.lossBF);
    status.set_lossCarrier(record.lossCarrier);
    status.set_lossAIS(record.ais);
    status.set_lossRAI(record.rai);
    status.set_name();
    status.set_clockMaster(false);
    status.set_type(ACP::TrunkType::e1);
    SendSignal(signal);
  }
}

bool E1Ctl::SetMode(const LGCP::TrunkCfg& cfg) {
  const int trunk = cfg.get_trunk().getValue();
  if (trunk < 0) return true;
  // The mask has 32 bits; a larger shift would be undefined.
  if (trunk < 32) {
    const std::uint32_t bit = 1u << trunk;
    if (cfg.get_mode().is_slave())
      tclk |= bit;
    else
      tclk &= ~bit;
  }
  return UpdateTclk();
}

bool E1Ctl::UpdateTclk() {
  if (!IsOpen()) return false;
  if (MaintRequest(Maint::kSetTclk, nullptr, tclk) < 0) {
    Errno err;
    std::cerr << ext::header(this) << "fail to set TCLK [cause=" << err << "]" << std::endl;
    return false;
  }
  std::clog << ext::header(this) << "TCLT = 0x" << std::hex << tclk << std::dec << std::endl;
  return true;
}

bool E1Ctl::select_source(int source) {
  if (!IsOpen() || MaintRequest(Maint::kSelectClock, nullptr, static_cast<unsigned long>(source)) < 0) {
    std::cerr << ext::header(this) << "fail to set clock source" << std::endl;
    return false;
  }
  return true;
}

bool E1Ctl::OnCommand(const LGCP::Command& command) {
  if (command.trunkCfg_isSelected()) {
    if (SetMode(command.get_trunkCfg()))
      Success();
    else
      Error(LGCP::ErrorCause::busError);
    return true;
  }
  if (!command.ioctl_isSelected()) return false;
  HandleCas(command.get_ioctl());
  return true;
}

void E1Ctl::HandleCas(const LGCP::IoctlParams& params) {
  if (!params.cas_isSelected()) {
    Error(LGCP::ErrorCause::unsupported);
    return;
  }
  const LGCP::CasCommand& command = params.get_cas();
  cas_channel channel;
  std::memset(&channel, 0, sizeof channel);
  channel.path = command.get_channel().get_path().getValue();
  channel.timeslot = command.get_channel().get_timeslot().getValue();
  if (!ValidTrunk(channel.path)) {
    Error(LGCP::ErrorCause::invalidParams);
    return;
  }
  if (!CheckOpenCas()) {
    Error(LGCP::ErrorCause::busError);
    return;
  }
  const LGCP::CasCommandSignal& cmd = command.get_cmd();
  if (cmd.open_isSelected())
    HandleCasOpen(channel, cmd.get_open().getValue());
  else if (cmd.close_isSelected())
    HandleCasClose(channel);
  else if (cmd.set_isSelected())
    HandleCasSet(channel, cmd.get_set().getValue());
  else if (cmd.get_isSelected())
    HandleCasGet(channel);
  Success();
}

int E1Ctl::CasValue(Board::Request request, int trunk) {
  return CasRequest(request, nullptr, static_cast<unsigned long>(trunk));
}

int E1Ctl::CasRecord(Board::Request request, void* record) { return CasRequest(request, record, 0); }

int E1Ctl::CasRequest(Board::Request request, void* record, unsigned long value) {
  auto issue = [&] {
    const int fd = cas.lowlevel_fd();
    return record ? Board::ioctl(fd, request, record) : Board::ioctlValue(fd, request, value);
  };
  const int result = issue();
  if (result >= 0 || !Hardware::HungUp(cas.lowlevel_fd())) return result;
  std::cerr << ext::header(this) << "cas interface closed" << std::endl;
  CloseCas();
  return CheckOpenCas() ? issue() : -1;
}

void E1Ctl::HandleCasOpen(const cas_channel& channel, int value) {
  if (!ValidTrunk(channel.path)) return;
  if (casOpen[channel.path]) {
    SendCASTrunkStatus(channel.path, 0);
  } else {
    const int result = CasValue(Cas::kOpenTrunk, channel.path);
    SendCASTrunkStatus(channel.path, result);
    if (result < 0) {
      std::clog << ext::header(this) << "open cas signalling on trunk(" << channel.path << ") - fail(" << result << ")"
                << std::endl;
      return;
    }
    std::clog << ext::header(this) << "open cas signalling on trunk(" << channel.path << ") - ok" << std::endl;
    casOpen[channel.path] = 1;
  }
  if (!IsChannel(channel.timeslot)) return;
  Cas::CasEnable enable;
  std::memset(&enable, 0, sizeof enable);
  enable.channel.path = channel.path;
  enable.channel.timeslot = channel.timeslot;
  enable.channel.tx = static_cast<std::uint8_t>(value & 15);
  enable.disable = 0;
  const int result = CasRecord(Cas::kEnable, &enable);
  if (result < 0) return SendCASSignal(channel.path, channel.timeslot, result, 0);
  HandleCasGet(channel);
}

void E1Ctl::HandleCasClose(const cas_channel& channel) {
  if (!IsCasOpen(channel.path)) return;
  if (channel.timeslot == 0) {
    int result = CasValue(Cas::kCloseTrunk, channel.path);
    if (result == 0) result = 1;
    SendCASTrunkStatus(channel.path, result);
    if (result < 0) return;
    casOpen[channel.path] = 0;
  }
  if (!IsChannel(channel.timeslot)) return;
  Cas::CasEnable disable;
  std::memset(&disable, 0, sizeof disable);
  disable.channel.path = channel.path;
  disable.channel.timeslot = channel.timeslot;
  disable.disable = 1;
  const int result = CasRecord(Cas::kEnable, &disable);
  if (result < 0)
    SendCASSignal(channel.path, channel.timeslot, result, 0);
  else
    SendCASSignal(channel.path, channel.timeslot, -1, 1);
}

void E1Ctl::HandleCasSet(const cas_channel& channel, int value) {
  if (!IsCasOpen(channel.path)) return;
  cas_channel bits;
  std::memset(&bits, 0, sizeof bits);
  bits.path = channel.path;
  bits.timeslot = channel.timeslot;
  bits.tx = static_cast<std::uint8_t>(value & 15);
  const int result = CasRecord(Cas::kSetBits, &bits);
  if (result < 0) return SendCASSignal(channel.path, channel.timeslot, result, 0);
  HandleCasGet(channel);
}

void E1Ctl::HandleCasGet(const cas_channel& channel) {
  if (!IsCasOpen(channel.path)) return;
  cas_channel bits;
  std::memset(&bits, 0, sizeof bits);
  bits.path = channel.path;
  bits.timeslot = channel.timeslot;
  const int result = CasRecord(Cas::kGetBits, &bits);
  if (result < 0) return SendCASSignal(channel.path, channel.timeslot, result, 0);
  SendCASSignal(channel.path, channel.timeslot, bits.rx, bits.tx);
}

// One record per readiness event. A hang-up or error closes the device
// once what it still held is read; the status timer opens it again.
void E1Ctl::OnUpdateCas(int fd, short events) {
  bool took = false;
  if (events & POLLIN) {
    cas_channel record;
    const ssize_t n = ::read(fd, &record, sizeof record);
    if (n == static_cast<ssize_t>(sizeof record)) {
      took = true;
      SendCASSignal(record.path, record.timeslot, record.rx, record.tx);
    } else if (n > 0) {
      took = true;
      casLog.line(std::cerr) << ext::header(this) << "cas record of " << n << " bytes dropped" << std::endl;
    }
  }
  if (!took && (events & (POLLERR | POLLHUP | POLLNVAL))) {
    std::cerr << ext::header(this) << "cas interface closed" << std::endl;
    CloseCas();
  }
}

void E1Ctl::SendCASSignal(int path, int timeslot, int rx, int tx) {
  LGCP::Signal signal;
  LGCP::CasSignalling& cas = signal.select_cas();
  LGCP::CasChannel& channel = cas.set_channel();
  channel.set_path(path);
  channel.set_timeslot(timeslot);
  cas.set_rx(rx);
  cas.set_tx(tx);
  SendSignal(signal);
}

void E1Ctl::SendCASTrunkStatus(int trunk, int status) { SendCASSignal(trunk, 0, status, 0); }
