#pragma once
// "/dev/dsp" of the simulated board: the interface version its version
// request answers, and per timeslot the state and id of each function (VAD,
// SD, BSS, noise gate, receive and transmit mute, tone filters) and the last
// configuration of each kind. Event records are injected by command.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "board/dsp.h"
#include "simboard/driver.h"

namespace SimBoard {

class Dsp : public Driver {
public:
  static constexpr std::uint32_t kTimeslots = 65536;
  static constexpr int kDefaultVersion = 2;

  struct Function {
    bool on = false;
    std::uint32_t id = 0;  // of the last enable
  };
  struct ToneFilter {
    std::uint8_t enable;
    std::uint16_t durationMs;
    std::uint8_t levelDB;
  };
  struct Slot {
    Function vad, sd, bss, ng, muteRx, muteTx, tones;
    // Configure requests of each type taken, and the last one's data.
    std::map<std::uint32_t, std::uint32_t> configured;
    Board::Dsp::Configure vad_{}, delays{}, rxGain{};
    int vadVersion = 0;                               // the driver's version when the VAD was configured
    std::map<std::uint16_t, ToneFilter> toneFilters;  // by frequency
  };

  Dsp();

  void reset() override;

  // What the version request answers; 0: it fails (ENOTTY).
  void set_version(int version) { version_ = version; }
  int version() const { return version_; }

  // Null for a timeslot no request has named.
  const Slot* slot(std::uint32_t ts) const;
  // Sends one event record to every open; how many took it.
  int inject(const Board::Dsp::Event& e);

  std::vector<std::string> describe(std::uint32_t ts) const;

private:
  Slot* at(std::uint32_t ts);
  int configure(void* arg);
  int enable(void* arg, bool on);

  int version_ = kDefaultVersion;
  std::map<std::uint32_t, Slot> slots_;
};

}  // namespace SimBoard
