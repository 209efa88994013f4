#include "daemon/bound_services.h"

#include "control/heartbeat.h"
#include "hardware/bus_ctl.h"
#include "hardware/e1_ctl.h"
#include "hardware/hw_tests.h"
#include "hardware/spi_ctrl.h"
#include "monitoring/monitoring_ctl.h"
#include "slots/slots.h"

namespace CtrlSrv {

// Every command is offered in this order: HeartBeatCtl, Slots, HwTests,
// BusCtl, E1Ctl, spiCtrl, MonitoringCtl.
std::vector<Service*> BoundServices() {
  return {&HeartBeatCtl::instance(), &Slots::instance(), &HwTests::instance(),
          &BusCtl::instance(),       &E1Ctl::instance(), &spiCtrl::instance(),
          &MonitoringCtl::instance()};
}

}  // namespace CtrlSrv
