#include "control/heartbeat.h"

#include <iostream>

#include "messages/LGCP.h"

HeartBeatCtl& HeartBeatCtl::instance() {
  static HeartBeatCtl theInstance;
  return theInstance;
}

HeartBeatCtl::HeartBeatCtl() {}

void HeartBeatCtl::OnConnect() { ResetTimeOut(); }

void HeartBeatCtl::OnDisconnect() { timeoutTimer.reset(); }

bool HeartBeatCtl::OnCommand(const LGCP::Command& command) {
  ResetTimeOut();
  if (!command.ping_isSelected()) return false;
  Success();
  return true;
}

void HeartBeatCtl::ResetTimeOut() {
  timeoutTimer.set<HeartBeatCtl>(timeout_ms, &HeartBeatCtl::OnHeartbeatTimeout, this);
}

void HeartBeatCtl::OnHeartbeatTimeout(Timer*) {
  std::clog << "heartbeat timeout!!!" << std::endl;
  if (server) server->OnHeartbeatTimeout();
}
