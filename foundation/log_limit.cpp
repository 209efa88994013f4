#include "foundation/log_limit.h"

#include <utility>

#include "foundation/mux_time.h"

namespace Log {

Limiter::Line::Line(Limiter& limiter, std::ostream& out) : std::ostream(nullptr), limiter_(limiter), out_(out) {
  rdbuf(&text_);
}

Limiter::Line::~Line() {
  std::string text = text_.str();
  while (!text.empty() && text.back() == '\n') text.pop_back();
  limiter_.put(out_, std::move(text));
}

void Limiter::put(std::ostream& out, std::string text) {
  uint32_t now = Mux::milliseconds();
  if (open_) {
    roll(now);
  } else {
    open_ = true;
    window_start_ = now;
  }
  if (written_ < burst_) {
    ++written_;
    out << text << '\n' << std::flush;
    return;
  }
  ++suppressed_;
  last_ = std::move(text);
  last_out_ = &out;
  if (!timer_.is_running()) {
    int32_t left = kWindowMs - static_cast<int32_t>(now - window_start_);
    timer_.set<Limiter>(left > 0 ? unsigned(left) : 1u, &Limiter::on_timer, this);
  }
}

bool Limiter::admits() const {
  if (!open_ || written_ < burst_) return true;
  int32_t age = static_cast<int32_t>(Mux::milliseconds() - window_start_);
  return age < 0 || age >= kWindowMs;
}

bool Limiter::roll(uint32_t now) {
  int32_t age = static_cast<int32_t>(now - window_start_);
  // A clock that went back opens a new window too.
  if (age >= 0 && age < kWindowMs) return false;
  if (suppressed_ > 0 && last_out_) {
    *last_out_ << suppressed_ << " more: " << last_ << '\n' << std::flush;
  }
  suppressed_ = 0;
  last_.clear();
  last_out_ = nullptr;
  window_start_ = now;
  written_ = 0;
  timer_.reset();
  return true;
}

void Limiter::on_timer() {
  uint32_t now = Mux::milliseconds();
  if (roll(now)) return;
  // Fired ahead of the window's end by the loop's pass clock.
  int32_t left = kWindowMs - static_cast<int32_t>(now - window_start_);
  timer_.set<Limiter>(left > 0 ? unsigned(left) : 1u, &Limiter::on_timer, this);
}

}  // namespace Log
