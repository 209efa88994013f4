#include "hardware/hw_mux.h"

#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "board/board.h"
#include "board/hal.h"
#include "foundation/ext_text.h"
#include "hardware/hang_up.h"

static_assert(HwMux::kFirstOutput == Board::Hal::kFirstBusOutput && HwMux::kOutputs == Board::Hal::kBusOutputs);

HwMux& HwMux::instance() {
  static HwMux theInstance;
  return theInstance;
}

HwMux::HwMux() : cursor(0) {
  for (Output& o : table) o = Output{State::Disabled, 0, 0};
  std::clog << "hwMux: init" << std::endl;
  // Bound first: opening activates it. It runs once the loop runs.
  refresh.Bind(this, &HwMux::OnDPC);
  IsOpened();
}

HwMux::~HwMux() { device.close(); }

bool HwMux::IsOpened() {
  if (device.is_valid()) return true;
  device = Board::open(Board::Hal::kDevice, O_RDWR);
  if (!device.is_valid()) {
    Errno err;
    std::clog << "hwMux: can't open device: " << err << std::endl;
    return false;
  }
  std::clog << "hwMux: device opened" << std::endl;
  // Nothing has changed the table before the first opening: this sweeps
  // every output to disabled.
  Apply();
  cursor = 0;
  refresh.Activate();
  ::usleep(500);
  return true;
}

void HwMux::Apply() {
  const int fd = device.lowlevel_fd();
  for (int i = 0; i < kOutputs; ++i) {
    const Output& o = table[i];
    const std::int32_t output = kFirstOutput + i;
    switch (o.state) {
      case State::Disabled: {
        std::int32_t request = output;
        Board::ioctl(fd, Board::Hal::kXcDisable, &request);
        break;
      }
      case State::Constant: {
        Board::Hal::XcByte request = {};
        request.channel = output;
        request.value = o.byte;
        Board::ioctl(fd, Board::Hal::kXcWrite, &request);
        break;
      }
      case State::Connected: {
        Board::Hal::XcConnect request = {};
        request.output = output;
        request.source = o.source;
        Board::ioctl(fd, Board::Hal::kXcConnect, &request);
        break;
      }
    }
  }
}

bool HwMux::Request(std::uint32_t request, void* record) {
  if (Board::ioctl(device.lowlevel_fd(), request, record) >= 0) return true;
  if (!Hardware::HungUp(device.lowlevel_fd())) return false;
  {
    Errno err;
    std::clog << "hwMux: device lost: " << err << std::endl;
  }
  device.close();
  refresh.Deactivate();
  return IsOpened() && Board::ioctl(device.lowlevel_fd(), request, record) >= 0;
}

HwMux::Output* HwMux::Entry(int output) {
  if (output < kFirstOutput || output >= kFirstOutput + kOutputs) return nullptr;
  return &table[output - kFirstOutput];
}

const HwMux::Output* HwMux::Find(int output) const { return const_cast<HwMux*>(this)->Entry(output); }

bool HwMux::Connect(int source, int output) {
  if (!IsOpened() || source < 0 || output < 0) {
    std::clog << "hwMux: ERROR not opened" << std::endl;
    return false;
  }
  // Recorded before the request, and kept even when it fails.
  if (Output* o = Entry(output)) *o = Output{State::Connected, 0, source};
  Board::Hal::XcConnect request = {};
  request.output = output;
  request.source = source;
  if (!Request(Board::Hal::kXcConnect, &request)) {
    Errno err;
    std::clog << "hwMux: connect " << source << " -> " << output << " failed: " << err << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Disconnect(int output) {
  if (!IsOpened() || output < 0) return false;
  if (Output* o = Entry(output)) *o = Output{State::Constant, Board::Hal::kIdleByte, 0};
  Board::Hal::XcByte request = {};
  request.channel = output;
  request.value = Board::Hal::kIdleByte;
  if (!Request(Board::Hal::kXcWrite, &request)) {
    Errno err;
    std::clog << "hwMux: disconnect failed " << output << " : " << err << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Disable(int output) {
  if (!IsOpened() || output < 0) return false;
  if (Output* o = Entry(output)) *o = Output{State::Disabled, 0, 0};
  std::int32_t request = output;
  if (!Request(Board::Hal::kXcDisable, &request)) {
    Errno err;
    std::clog << "hwMux: disable failed " << output << " : " << err << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Write(int output, unsigned char byte) {
  if (!IsOpened() || output < 0) return false;
  if (Output* o = Entry(output)) *o = Output{State::Constant, byte, 0};
  Board::Hal::XcByte request = {};
  request.channel = output;
  request.value = byte;
  if (!Request(Board::Hal::kXcWrite, &request)) {
    Errno err;
    std::clog << "hwMux: write failed " << output << " <- " << ext::hex(byte, 0) << " : " << err << std::endl;
    return false;
  }
  return true;
}

int HwMux::Read(int channel) {
  if (!IsOpened() || channel < 0) return 255;
  Board::Hal::XcByte request = {};
  request.channel = channel;
  request.value = 255;
  if (!Request(Board::Hal::kXcRead, &request)) {
    Errno err;
    std::clog << "hwMux: read failed " << channel << " -> " << ext::hex(static_cast<unsigned>(request.value), 0)
              << " : " << err << std::endl;
    return 255;
  }
  return request.value & 0xFF;
}

// The loop runs an active Dpc twice a pass, so a pass visits 256 outputs
// (at most 256 disable requests) and each disabled output is disabled again
// once every 8 passes (2048 / 256). The requests are RefreshChannel's, given
// to the seam in one call.
void HwMux::OnDPC() {
  if (!device.is_valid()) return;
  std::int32_t outputs[kRefreshPerRun];
  std::size_t n = 0;
  for (int i = 0; i < kRefreshPerRun; ++i) {
    cursor = cursor == kOutputs - 1 ? 0 : cursor + 1;
    if (table[cursor].state == State::Disabled) outputs[n++] = kFirstOutput + cursor;
  }
  Board::ioctlEach(device.lowlevel_fd(), Board::Hal::kXcDisable, outputs, sizeof outputs[0], n);
}

// Neither checked nor logged: it runs for ever.
void HwMux::RefreshChannel(int index) {
  if (index < 0 || index >= kOutputs || table[index].state != State::Disabled) return;
  std::int32_t output = kFirstOutput + index;
  Board::ioctl(device.lowlevel_fd(), Board::Hal::kXcDisable, &output);
}

void print_trace() {
  void* frames[10];
  const int n = ::backtrace(frames, 10);
  char** symbols = ::backtrace_symbols(frames, n);
  std::printf("Obtained %zd stack frames.\n", static_cast<ssize_t>(n));
  if (symbols) {
    for (int i = 0; i < n; ++i) std::printf("%s\n", symbols[i]);
    std::free(symbols);
  }
}
