#pragma once
// Log-repeat limiter: bounds the log lines one source (a call site, or an
// object's member) writes when line, peer or device input repeats a fault.
//
//   lim.line(std::cerr) << ext::header(this) << "bad frame " << n << std::endl;
//   LOG_LIMITED(std::cerr) << "bad frame " << n << std::endl;
//
// A source writes at most `burst` lines in a one-second window; further lines
// in the window are counted and the last of them kept. Once the window is
// over, one line "N more: <last suppressed line>" goes to the stream that
// line was meant for: with the source's next line, or from a timer of the
// main loop, so that a flood which stops still gets its count out about a
// second later. The stream must outlive the limiter.
#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>

#include "foundation/multiplexer.h"
#include "foundation/timer.h"

namespace Log {

class Limiter {
public:
  static constexpr unsigned kDefaultBurst = 5;
  static constexpr int32_t kWindowMs = 1000;

  // Collects one line; the line is written or counted when it is destroyed.
  // A stream of its own, so that the standard rvalue-stream insertion takes
  // inserters that want a std::ostream& (headers, strings, std::endl).
  class Line : public std::ostream {
  public:
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;
    ~Line() override;

  private:
    friend class Limiter;
    Line(Limiter& limiter, std::ostream& out);
    Limiter& limiter_;
    std::ostream& out_;
    std::stringbuf text_;
  };

  explicit Limiter(unsigned burst = kDefaultBurst) : burst_(burst) {}
  Limiter(const Limiter&) = delete;
  Limiter& operator=(const Limiter&) = delete;
  // Drops a count not yet written: its stream may be gone, and no timer may
  // be armed from here.
  ~Limiter() = default;

  Line line(std::ostream& out) { return Line(*this, out); }

  // Whether a line given now would be written rather than counted: a source
  // whose lines carry counts of their own keeps them for a later line instead.
  bool admits() const;

  unsigned burst() const { return burst_; }
  // Lines counted and not yet summarised.
  unsigned suppressed() const { return suppressed_; }

private:
  void put(std::ostream& out, std::string text);
  // Writes the summary of a window that is over and opens a new one.
  bool roll(uint32_t now);
  void on_timer();

  // The timer below goes back to the global loop: keep the loop alive for as
  // long as this limiter, whatever order static objects die in.
  Multiplexer::Init keep_loop_;
  unsigned burst_;
  bool open_ = false;
  uint32_t window_start_ = 0;
  unsigned written_ = 0;
  unsigned suppressed_ = 0;
  std::string last_;
  std::ostream* last_out_ = nullptr;
  Timer timer_;
};

// The limiter a call site's lambda keeps.
template <class Site>
Limiter& call_site(Site site) {
  return site();
}

}  // namespace Log

// A limiter of its own for each call site.
#define LOG_LIMITED(out)                      \
  (::Log::call_site([]() -> ::Log::Limiter& { \
     static ::Log::Limiter lim;               \
     return lim;                              \
   }).line(out))
