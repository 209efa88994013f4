#pragma once
// "/dev/dtmf" of the simulated board. Per timeslot it keeps the DTMF and IVA
// detectors, DTMF rejection, the echo canceller, the last configuration
// records and a log of the tone generator's requests (SELCAL included) with
// the loop clock's times. Detector events are injected by command, or come
// from a loop: a DTMF key played on one timeslot is detected on another when
// its tone ends, if that one's DTMF detector is on.
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "board/dtmf.h"
#include "simboard/driver.h"

namespace SimBoard {

class Dtmf : public Driver {
public:
  static constexpr std::uint32_t kTimeslots = 65536;
  // The oldest generator records of a timeslot go beyond this many.
  static constexpr std::size_t kMaxLog = 1000;
  // The keys in the order of their event codes.
  static constexpr const char* kKeys = "0123456789*#ABCD";

  struct GenRecord {
    enum Kind : std::uint8_t { Tone, Silence, Off, Selcal };
    std::uint32_t ms;  // Mux::milliseconds() of the request
    Kind kind;
    Board::Dtmf::Dial dial;   // Tone, Silence, Off
    std::uint16_t amplitude;  // Selcal
    std::string signs;        // Selcal
  };

  struct Slot {
    bool detector = false;
    std::uint32_t id = 0;  // of the last detector enable
    bool iva = false;
    bool rejection = false;
    bool echoCanceller = false;
    bool configured = false;
    Board::Dtmf::ConfigureDetector config{};
    bool ivaConfigured = false;
    std::int32_t ivaLevelDB = 0;
    Board::Dtmf::Dial tone{};  // what the generator plays now
    std::deque<GenRecord> gen;
  };

  Dtmf();

  void reset() override;

  // Null for a timeslot no request has named.
  const Slot* slot(std::uint32_t ts) const;
  // Sends one event record to every open; how many took it.
  int inject(std::uint32_t ts, std::uint32_t code, std::uint32_t id);
  // Keys played on a are detected on b.
  void loop(std::uint32_t a, std::uint32_t b, bool on);
  // The key index (code) of a frequency pair, or -1.
  static int key(unsigned freq1, unsigned freq2);

  std::vector<std::string> describe(std::uint32_t ts) const;
  static std::string describe(const GenRecord& r);

private:
  Slot* at(unsigned long ts);
  void log(Slot& s, GenRecord r);
  int configure(void* arg);
  int enable(void* arg);
  int dial(void* arg);
  int ivaConfigure(void* arg);
  int selcal(void* arg);
  int flag(unsigned long ts, bool Slot::*member, bool on);

  std::map<std::uint32_t, Slot> slots_;
  std::set<std::pair<std::uint32_t, std::uint32_t>> loops_;
};

}  // namespace SimBoard
