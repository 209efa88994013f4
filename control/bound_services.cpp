#include "control/bound_services.h"

#include "control/heartbeat.h"
#include "hardware/bus_ctl.h"
#include "hardware/e1_ctl.h"
#include "hardware/spi_ctrl.h"

namespace CtrlSrv {

// Still to come: Slots and HwTests between the heartbeat and BusCtl, and
// MonitoringCtl last.
std::vector<Service*> BoundServices() {
  return {&HeartBeatCtl::instance(), &BusCtl::instance(), &E1Ctl::instance(), &spiCtrl::instance()};
}

}  // namespace CtrlSrv
