#pragma once
// The line-interface framers of the eight BRI trunks, on the SPI bus behind
// "/dev/hal": sets them up at start, chooses the clock master, and while a
// controller is connected reports every framer's line status once a second
// as trunkStatus (type bri). A HAL without SPI bus answers ENODEV; the
// service then keeps quiet for the rest of the run. A device that hangs up
// is opened again by its next use; the framers keep their set-up.
#include <cstdint>

#include "board/hal.h"
#include "control/ctrl_server.h"
#include "foundation/os.h"
#include "foundation/timer.h"

class spiCtrl : public CtrlSrv::Service {
public:
  static constexpr int kChannels = 8;
  static constexpr unsigned kStatusPeriodMs = 1000;
  static constexpr unsigned kStatusRegister = 51;
  static constexpr unsigned kClockRegister = 87;

  // The daemon's one; tests build their own.
  static spiCtrl& instance();

  // Opens the device and sets the framers up.
  spiCtrl();
  ~spiCtrl() override;

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(const LGCP::Command&) override { return false; }

  void write(unsigned channel, unsigned address, unsigned value);
  // 0..255; 0 when it cannot be read.
  int read(unsigned channel, unsigned address);

  void init_device_and_channels();
  void init_channel(int channel);
  void enable_channel(int channel);
  void disable_channel(int channel);
  // The channel becomes clock master; -1: none.
  void clock(int channel);
  // One status pass: a trunkStatus per channel.
  void status();

  bool IsOpen() const { return device.is_valid(); }
  bool IsPresent() const { return present; }
  bool IsPolling() const { return timer.is_running(); }

private:
  // False on failure; ENODEV switches the service off.
  bool ReadRegister(unsigned channel, unsigned address, unsigned char& value);
  void NoSpi();
  // SPI present and the device open, or opened again after a loss.
  bool Usable();
  bool Reopen();
  // ioctl's result; a device found hung up is opened anew and asked once more.
  int Request(std::uint32_t request, Board::Hal::SpiAccess& rec);

  Fd device;
  Timer timer;
  bool present;
  // The device was opened once and the framers set up.
  bool setUp;
  // The last opening after a loss failed, and said so.
  bool reopenFailed;
  // Per channel: slip seen in the previous pass.
  bool slip[kChannels];
};
