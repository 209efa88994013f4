#include "simboard/watchdog.h"

#include <sys/socket.h>

#include <cstdio>

#include "foundation/mux_time.h"

namespace SimBoard {

Watchdog::Watchdog(const char* path) : Driver(path, SOCK_SEQPACKET) {
  add_command("wd", "log", "", "what the loop wrote to the watchdog, each with its loop-clock time in ms",
              [this](const Args& a, Reply& r) {
                if (!a.empty()) return r.fail("usage: wd log");
                if (records().empty()) r.line("(nothing)");
                if (dropped_) r.line(std::to_string(dropped_) + " older records dropped");
                for (const Record& rec : records_) r.line(std::to_string(rec.ms) + " " + rec.what);
              });
}

void Watchdog::on_data(Session&, const std::uint8_t* data, std::size_t len) {
  std::string what;
  bool printable = len > 0 && len <= 32;
  for (std::size_t i = 0; printable && i < len; ++i) printable = data[i] >= 0x21 && data[i] < 0x7F;
  if (printable) {
    what.assign(reinterpret_cast<const char*>(data), len);
  } else {
    what = "? " + std::to_string(len) + " bytes";
    for (std::size_t i = 0; i < len && i < 16; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02X", data[i]);
      what += hex;
    }
  }
  if (records_.size() >= kMaxRecords) {
    records_.pop_front();
    ++dropped_;
  }
  records_.push_back(Record{Mux::milliseconds(), std::move(what)});
}

void Watchdog::reset() {
  records_.clear();
  dropped_ = 0;
}

const std::deque<Watchdog::Record>& Watchdog::records() {
  drain();
  return records_;
}

}  // namespace SimBoard
