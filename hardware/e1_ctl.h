#pragma once
// The board's four E1 trunks: their synchronisation state and error
// counters go to the controller as trunkStatus (type e1) on connection and
// every second, the controller's trunkCfg sets the TCLK selection, and its
// cas ioctls open, set, read and close CAS channels, whose received-bit
// changes come back as cas signals. Works on the framer driver's
// maintenance device and "/dev/e1-cas"; either is opened again by its next
// use after it hung up.
#include <cstdint>
#include <iosfwd>

#include "board/e1_cas.h"
#include "control/ctrl_server.h"
#include "foundation/event.h"
#include "foundation/log_limit.h"
#include "foundation/os.h"
#include "foundation/timer.h"

using cas_channel = Board::E1Cas::CasChannel;

class E1Ctl : public CtrlSrv::Service {
public:
  static constexpr int kTrunks = 4;
  static constexpr unsigned kStatusPeriodMs = 1000;

  // The daemon's one; tests build their own.
  static E1Ctl& instance();

  E1Ctl();
  ~E1Ctl() override;

  void OnConnect() override;
  void OnDisconnect() override {}
  bool OnCommand(const LGCP::Command& command) override;

  void SendStatus();
  void SetTimer();
  void OnCheckStatus(Timer*);

  // False when the TCLK request could not be made or failed.
  bool SetMode(const LGCP::TrunkCfg& cfg);
  bool UpdateTclk();
  bool select_source(int source);

  bool IsOpen();
  bool CheckOpenCas();

  void HandleCas(const LGCP::IoctlParams& params);
  void HandleCasOpen(const cas_channel& channel, int value);
  void HandleCasClose(const cas_channel& channel);
  void HandleCasSet(const cas_channel& channel, int value);
  void HandleCasGet(const cas_channel& channel);
  void OnUpdateCas(int fd, short events);

  void SendCASSignal(int path, int timeslot, int rx, int tx);
  void SendCASTrunkStatus(int trunk, int status);

  void PutHeader(std::ostream& os) const;

  std::uint32_t Tclk() const { return tclk; }
  bool IsCasOpen(int trunk) const { return trunk >= 0 && trunk < kTrunks && casOpen[trunk] != 0; }
  bool IsCasPolled() const { return casEvent.IsActive(); }
  bool IsPolling() const { return statusTimer.is_running(); }

private:
  // A request on the device, with the record or else the value; a device
  // found hung up is opened anew and asked once more. ioctl's result.
  int MaintRequest(Board::Request request, void* record, unsigned long value = 0);
  int CasRequest(Board::Request request, void* record, unsigned long value);
  int CasValue(Board::Request request, int trunk);
  int CasRecord(Board::Request request, void* record);
  void CloseCas();

  Fd maintenance;
  Timer statusTimer;
  Fd cas;
  Event casEvent;
  int casOpen[kTrunks];
  // Bit n: trunk n is clock slave.
  std::uint32_t tclk;
  // Records of the CAS driver that are dropped.
  Log::Limiter casLog;
};

// Copies path and timeslot into the controller's form.
void Assign(LGCP::CasChannel& to, const cas_channel& from);
