#pragma once
// The daemon's command services, in the order every command is offered to
// them. The daemon binds this list to ctrlServer and the full-path fuzz
// target to its own server, so a service added here is fuzzed as well; its
// library joins DAEMON_BOUND_LIBS in daemon/CMakeLists.txt.
#include <vector>

#include "control/ctrl_server.h"

namespace CtrlSrv {

std::vector<Service*> BoundServices();

}  // namespace CtrlSrv
