#include "hardware/spi_ctrl.h"

#include <errno.h>
#include <fcntl.h>

#include <iostream>

#include "board/board.h"
#include "board/hal.h"
#include "hardware/hang_up.h"
#include "messages/ACP.h"
#include "messages/LGCP.h"

namespace {

const char* const kHeader = "spi: ";

// Register address and value pairs of each set-up operation.
struct RegWrite {
  unsigned address;
  unsigned value;
};
const RegWrite kInitChannel[] = {{50, 128}, {48, 8}, {87, 48}, {52, 96}, {53, 0}, {54, 0}, {55, 0}};
const RegWrite kEnableChannel[] = {{50, 0}};
const RegWrite kDisableChannel[] = {{50, 128}};
const unsigned kClockNone = 48;
const unsigned kClockMaster = 56;

// Channels set up at start: the eighth framer is polled and clocked like
// the others but never set up here.
const int kChannelsSetUp = 7;

ACP::TrunkState::NamedNumber StateOf(unsigned char v) {
  if (!(v & 0x01)) return ACP::TrunkState::lossCarrier;
  if (!(v & 0x04)) return ACP::TrunkState::lossBF;
  switch (v >> 6) {
    case 2:
      return ACP::TrunkState::rai;
    case 3:
      return ACP::TrunkState::normal;
    default:
      return ACP::TrunkState::ais;
  }
}

}  // namespace

spiCtrl& spiCtrl::instance() {
  static spiCtrl theInstance;
  return theInstance;
}

spiCtrl::spiCtrl() : present(true), setUp(false), reopenFailed(false) {
  for (bool& s : slip) s = false;
  init_device_and_channels();
}

spiCtrl::~spiCtrl() {
  if (!device.is_valid()) return;
  timer.reset();
  for (int ch = 0; ch < kChannels; ++ch) disable_channel(ch);
  clock(-1);
  device.close();
}

void spiCtrl::OnConnect() {
  if (present && (device.is_valid() || setUp)) timer.set<spiCtrl>(kStatusPeriodMs, &spiCtrl::status, this);
}

void spiCtrl::OnDisconnect() { timer.reset(); }

void spiCtrl::NoSpi() {
  present = false;
  timer.reset();
  std::clog << kHeader << "hal without spi" << std::endl;
}

bool spiCtrl::Usable() { return present && (device.is_valid() || (setUp && Reopen())); }

bool spiCtrl::Reopen() {
  device = Board::open(Board::Hal::kDevice, O_RDWR | O_CLOEXEC);
  if (device.is_valid()) {
    reopenFailed = false;
    return true;
  }
  // The status pass comes back every second: once is enough.
  if (!reopenFailed) std::clog << kHeader << Board::Hal::kDevice << " open fail" << std::endl;
  reopenFailed = true;
  return false;
}

int spiCtrl::Request(std::uint32_t request, Board::Hal::SpiAccess& rec) {
  const int result = Board::ioctl(device.lowlevel_fd(), request, &rec);
  if (result != -1 || !Hardware::HungUp(device.lowlevel_fd())) return result;
  {
    Errno err;
    std::clog << kHeader << Board::Hal::kDevice << " lost: " << err << std::endl;
  }
  device.close();
  return Reopen() ? Board::ioctl(device.lowlevel_fd(), request, &rec) : -1;
}

void spiCtrl::write(unsigned channel, unsigned address, unsigned value) {
  if (!Usable()) return;
  Board::Hal::SpiAccess rec = {};
  rec.channel = static_cast<std::uint8_t>(channel);
  rec.reg = static_cast<std::uint8_t>(address);
  rec.data = static_cast<std::uint8_t>(value);
  if (Request(Board::Hal::kSpiWrite, rec) != -1) return;
  if (errno == ENODEV) return NoSpi();
  std::clog << kHeader << "write error: channel=" << channel << " addr=" << address << " data=" << value << std::endl;
}

bool spiCtrl::ReadRegister(unsigned channel, unsigned address, unsigned char& value) {
  if (!Usable()) return false;
  Board::Hal::SpiAccess rec = {};
  rec.channel = static_cast<std::uint8_t>(channel);
  rec.reg = static_cast<std::uint8_t>(address);
  rec.data = 0xFF;
  const int result = Request(Board::Hal::kSpiRead, rec);
  if (result != -1) {
    value = static_cast<unsigned char>(result & 0xFF);
    return true;
  }
  if (errno == ENODEV) {
    NoSpi();
    return false;
  }
  std::clog << kHeader << "read error: channel=" << channel << " addr=" << address << std::endl;
  return false;
}

int spiCtrl::read(unsigned channel, unsigned address) {
  unsigned char value = 0;
  return ReadRegister(channel, address, value) ? value : 0;
}

void spiCtrl::init_device_and_channels() {
  if (device.is_valid() || !present) return;
  // A device lost after the set-up: the framers keep their registers.
  if (setUp) {
    Reopen();
    return;
  }
  std::clog << kHeader << "try init" << std::endl;
  device = Board::open(Board::Hal::kDevice, O_RDWR | O_CLOEXEC);
  if (!device.is_valid()) {
    std::clog << kHeader << Board::Hal::kDevice << " open fail" << std::endl;
    return;
  }
  setUp = true;
  for (int ch = 0; ch < kChannelsSetUp; ++ch) {
    init_channel(ch);
    enable_channel(ch);
  }
}

namespace {

template <std::size_t N>
bool SetUp(spiCtrl& spi, int channel, const RegWrite (&writes)[N], const char* what) {
  if (channel < 0 || channel >= spiCtrl::kChannels) {
    std::clog << kHeader << "bad channel for " << what << " " << channel << std::endl;
    return false;
  }
  spi.init_device_and_channels();
  for (const RegWrite& w : writes) spi.write(unsigned(channel), w.address, w.value);
  std::clog << kHeader << what << " channel " << channel << std::endl;
  return true;
}

}  // namespace

void spiCtrl::init_channel(int channel) {
  if (present) SetUp(*this, channel, kInitChannel, "init");
}

void spiCtrl::enable_channel(int channel) {
  if (present) SetUp(*this, channel, kEnableChannel, "enable");
}

void spiCtrl::disable_channel(int channel) {
  if (present) SetUp(*this, channel, kDisableChannel, "disable");
}

void spiCtrl::clock(int channel) {
  if (!present) return;
  if (channel < -1 || channel >= kChannels) {
    std::clog << kHeader << "bad channel for set clock master " << channel << std::endl;
    return;
  }
  init_device_and_channels();
  for (int ch = 0; ch < kChannels; ++ch) write(unsigned(ch), kClockRegister, kClockNone);
  if (channel == -1) {
    std::clog << kHeader << "clock master disabled" << std::endl;
    return;
  }
  write(unsigned(channel), kClockRegister, kClockMaster);
  std::clog << kHeader << "set clock master on channel " << channel << std::endl;
}

void spiCtrl::status() {
  if (!present) return;
  for (int ch = 0; ch < kChannels && present; ++ch) {
    unsigned char v = 0;
    const bool read = ReadRegister(unsigned(ch), kStatusRegister, v);
    // A register that cannot be read says nothing about the line.
    const ACP::TrunkState::NamedNumber state = read ? StateOf(v) : ACP::TrunkState::unknown;
    int slips = 0;
    if (read && (v & 0x20)) {
      slips = slip[ch] ? 0 : 1;
      slip[ch] = true;
    } else {
      slip[ch] = false;
    }
    if (!present) return;
    LGCP::Signal signal;
    ACP::TrunkStatus& ts = signal.select_trunkStatus();
    ts.set_trunk(ch);
    ts.set_state(state);
    ts.set_slips(slips);
    ts.set_lossBF(0);
    ts.set_lossCarrier(0);
    ts.set_lossAIS(0);
    ts.set_lossRAI(0);
    ts.set_type(ACP::TrunkType::bri);
    SendSignal(signal);
  }
  timer.set<spiCtrl>(kStatusPeriodMs, &spiCtrl::status, this);
}
