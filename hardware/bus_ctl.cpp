#include "hardware/bus_ctl.h"

#include <fcntl.h>

#include <iostream>

#include "board/board.h"
#include "board/hal.h"
#include "foundation/ext_text.h"
#include "hardware/hang_up.h"
#include "hardware/spi_ctrl.h"
#include "messages/LGCP.h"

namespace {

const char* const kSourceNames[] = {"f0", "f1", "f2", "f3", "freerun", "X3", "?1", "?2"};

}  // namespace

BusCtl& BusCtl::instance() {
  static BusCtl theInstance;
  return theInstance;
}

BusCtl::BusCtl() : enabled(true) {}

BusCtl::~BusCtl() { device.close(); }

const char* BusCtl::SourceName(int source) {
  const int n = static_cast<int>(sizeof kSourceNames / sizeof kSourceNames[0]);
  return source >= 0 && source < n ? kSourceNames[source] : "?";
}

void BusCtl::PutHeader(std::ostream& os) const { os << "clkctl: "; }

void BusCtl::DisableControl() {
  std::clog << "clock control disabled." << std::endl;
  enabled = false;
}

void BusCtl::OnConnect() {
  if (enabled) SetDefaultClock();
}

void BusCtl::OnDisconnect() {
  if (enabled) SetDefaultClock();
}

bool BusCtl::OnCommand(const LGCP::Command& command) {
  if (!command.clockCfg_isSelected()) return false;
  if (!enabled) {
    Error(LGCP::ErrorCause::unsupported);
    return true;
  }
  switch (SetClockSrc(command.get_clockCfg())) {
    case Result::Selected:
      Success();
      break;
    case Result::Invalid:
      Error(LGCP::ErrorCause::invalidParams);
      break;
    case Result::Failed:
      Error(LGCP::ErrorCause::busError);
      break;
  }
  return true;
}

BusCtl::Result BusCtl::SetDefaultClock() {
  LGCP::ClockCfg cfg;
  cfg.set_clkSel0(LGCP::ClkSel0::internal);
  cfg.set_bextEn(LGCP::BExtEn::disabled);
  cfg.set_source(-1);
  return SetClockSrc(cfg);
}

BusCtl::Result BusCtl::SetClockSrc(const LGCP::ClockCfg& cfg) {
  if (!IsOpen()) {
    // Without the bus clock no framer may drive it either.
    spiCtrl::instance().clock(-1);
    std::cerr << ext::header(this) << "set clock source fail: code 1." << std::endl;
    return Result::Failed;
  }
  std::cerr << ext::header(this) << "set clock source cmd: " << cfg << std::endl;
  if (cfg.get_clkSel0().is_internal()) return DrvSetClkSrc(kFreerun) ? Result::Selected : Result::Failed;
  if (cfg.get_bextEn().is_disabled()) return DrvSetClkSrc(kBusExternal) ? Result::Selected : Result::Failed;
  const int source = cfg.get_source().getValue();
  if (source < 0) return Result::Invalid;
  return DrvSetClkSrc(source) ? Result::Selected : Result::Failed;
}

bool BusCtl::DrvSetClkSrc(int source) {
  if (!IsOpen()) {
    std::cerr << ext::header(this) << "device open error" << std::endl;
    return false;
  }
  std::int32_t arg = source;
  if (!Select(arg)) {
    std::cerr << ext::header(this) << "HW_CLOCK_SELECT fail." << std::endl;
    return false;
  }
  std::cerr << ext::header(this) << "clock source = " << SourceName(source) << std::endl;
  return true;
}

bool BusCtl::Select(std::int32_t& source) {
  if (Board::ioctl(device.lowlevel_fd(), Board::Hal::kClockSelect, &source) >= 0) return true;
  if (!Hardware::HungUp(device.lowlevel_fd())) return false;
  {
    Errno err;
    std::cerr << ext::header(this) << "device lost: " << err << std::endl;
  }
  device.close();
  return IsOpen() && Board::ioctl(device.lowlevel_fd(), Board::Hal::kClockSelect, &source) >= 0;
}

bool BusCtl::IsOpen() {
  if (device.is_valid()) return true;
  if (!enabled) return false;
  device = Board::open(Board::Hal::kDevice, O_RDWR | O_CLOEXEC);
  return device.is_valid();
}
