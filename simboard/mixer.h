#pragma once
// "/dev/mixer" of the simulated board: the mixer units in enumeration order,
// each with its TDM channels, its mixer inputs and, per receiving channel,
// the routes summed into it (sending channel and gain). Every channel is
// carried on a cross-connect number of its own, from a range no other device
// uses. Every request is logged for "mixer log".
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "board/mixer.h"
#include "simboard/driver.h"

namespace SimBoard {

class Mixer : public Driver {
public:
  // Channel c of unit d is carried on kFirstTimeslot + d * kUnitTimeslots + c.
  static constexpr int kFirstTimeslot = 16384;
  static constexpr int kUnitTimeslots = 128;
  static constexpr int kMaxUnit = 300;
  static constexpr std::size_t kMaxLog = 10000;

  struct Route {
    std::int32_t tx;
    std::int32_t gain;
  };
  struct Unit {
    std::int32_t dev;
    std::int32_t channels;
    std::int32_t inputs;
    std::map<std::int32_t, std::vector<Route>> routes;  // by receiving channel
  };
  struct UnitSpec {
    std::int32_t dev;
    std::int32_t channels;
    std::int32_t inputs;
  };

  explicit Mixer(std::vector<UnitSpec> units);

  void reset() override;

  // Null when there is no such unit.
  const Unit* unit(std::int32_t dev) const;
  bool add_unit(const UnitSpec& spec, std::string& why);
  bool remove_unit(std::int32_t dev);
  const std::deque<std::string>& log() const { return log_; }
  static int timeslot(std::int32_t dev, std::int32_t channel) {
    return kFirstTimeslot + dev * kUnitTimeslots + channel;
  }

private:
  Unit* find(std::int32_t dev);
  // The unit when the slot names one of its TDM channels.
  Unit* channel_of(const Board::Mixer::mix_slot& s);
  void note(std::string line);
  int info(void* arg);
  int rx_clear(void* arg);
  int rx_add(void* arg);
  int rx_remove(void* arg);
  int tdm(void* arg);

  std::vector<UnitSpec> defaults_;
  std::vector<Unit> units_;
  std::deque<std::string> log_;
};

}  // namespace SimBoard
