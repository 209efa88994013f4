#pragma once
// Selects the board's TDM bus clock source on "/dev/hal" for the
// controller's clockCfg, and puts the board back on the free-running clock
// whenever a controller connects or disconnects. "--disable-clock" turns it
// off for the whole run. A device that hangs up is opened again by the
// selection that finds it so.
#include <cstdint>
#include <iosfwd>

#include "control/ctrl_server.h"
#include "foundation/os.h"

class BusCtl : public CtrlSrv::Service {
public:
  static constexpr int kFreerun = 4;
  static constexpr int kBusExternal = 5;

  enum class Result { Selected, Failed, Invalid };

  // The daemon's one; tests build their own.
  static BusCtl& instance();

  BusCtl();
  ~BusCtl() override;

  void DisableControl();
  bool IsEnabled() const { return enabled; }

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(const LGCP::Command& command) override;

  Result SetDefaultClock();
  Result SetClockSrc(const LGCP::ClockCfg& cfg);
  bool DrvSetClkSrc(int source);
  bool IsOpen();

  // The logged name of a source number; "?" outside the table.
  static const char* SourceName(int source);
  void PutHeader(std::ostream& os) const;

private:
  // The select request; when it finds the device hung up, it goes once more
  // to the device opened anew.
  bool Select(std::int32_t& source);

  Fd device;
  bool enabled;
};
