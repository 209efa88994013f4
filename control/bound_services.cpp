#include "control/bound_services.h"

#include "control/heartbeat.h"

namespace CtrlSrv {

// Still to come, in this order after the heartbeat: Slots, HwTests, BusCtl,
// E1Ctl, spiCtrl, MonitoringCtl.
std::vector<Service*> BoundServices() { return {&HeartBeatCtl::instance()}; }

}  // namespace CtrlSrv
