#pragma once
// Watches the controller for silence and answers its ping. Bound first, it
// sees every command the server offers; a controller that says nothing for
// the time-out loses its connection.
#include "control/ctrl_server.h"
#include "foundation/timer.h"

class HeartBeatCtl : public CtrlSrv::Service {
public:
  static constexpr unsigned timeout_ms = 120000;

  // The daemon's one; tests build their own.
  static HeartBeatCtl& instance();

  HeartBeatCtl();

  // A controller that connects and never speaks is timed out as well.
  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(const LGCP::Command& command) override;

  void ResetTimeOut();
  bool IsWatching() const { return timeoutTimer.is_running(); }

private:
  void OnHeartbeatTimeout(Timer*);

  Timer timeoutTimer;
};
