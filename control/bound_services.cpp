#include "control/bound_services.h"

#include "control/heartbeat.h"
#include "hardware/hw_tests.h"

namespace CtrlSrv {

// Every command is offered in this order: HeartBeatCtl, Slots, HwTests,
// BusCtl, E1Ctl, spiCtrl, MonitoringCtl (those not built yet are left out).
std::vector<Service*> BoundServices() { return {&HeartBeatCtl::instance(), &HwTests::instance()}; }

}  // namespace CtrlSrv
