#pragma once
// A board device that the daemon holds open can go away under it (see
// HungUp in foundation/os.h, which the main loop's watchdog uses too).
#include "foundation/os.h"

namespace Hardware {

using ::HungUp;

}  // namespace Hardware
