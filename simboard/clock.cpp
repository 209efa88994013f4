#include "simboard/clock.h"

#include <errno.h>

#include <cstring>
#include <string>

#include "board/hal.h"
#include "simboard/hal.h"

namespace SimBoard {

void ClockSource::reset() {
  source_ = kFreerun;
  selections_.clear();
}

// Which numbers the driver takes is its own business; this one takes any
// source that is not negative.
int ClockSource::select(void* arg) {
  std::int32_t n;
  std::memcpy(&n, arg, sizeof n);
  if (n < 0) return -EINVAL;
  source_ = n;
  if (selections_.size() == kHistory) selections_.pop_front();
  selections_.push_back(n);
  return 0;
}

void ClockSource::install(Hal& hal) {
  hal.add_request(Board::Hal::kClockSelect, [this](Session&, void* arg) { return select(arg); });
  hal.add_command("clock", "get", "", "the clock source (4 freerun) and the selections since the reset, oldest first",
                  [this](const Args& a, Reply& r) {
                    if (!a.empty()) return r.fail("usage: clock get");
                    r.line("source=" + std::to_string(source_));
                    std::string past = "selections=";
                    for (std::size_t i = 0; i < selections_.size(); ++i)
                      past += (i ? "," : "") + std::to_string(selections_[i]);
                    r.line(past);
                  });
}

}  // namespace SimBoard
