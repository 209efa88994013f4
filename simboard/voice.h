#pragma once
// "/dev/voice" of the simulated board: the codec driver's channel count per
// codec class and its version record.
#include <cstdint>
#include <map>

#include "board/voice.h"
#include "simboard/driver.h"

namespace SimBoard {

class Voice : public Driver {
public:
  using Counts = std::map<std::uint32_t, std::uint32_t>;

  Voice(Counts counts, Board::Voice::Version version);

  // The counts and version it was built with.
  void reset() override;

  std::uint32_t count(std::uint32_t codec_class) const;
  void set_count(std::uint32_t codec_class, std::uint32_t count) { counts_[codec_class] = count; }
  const Board::Voice::Version& version() const { return version_; }

private:
  Counts default_counts_;
  Board::Voice::Version default_version_;
  Counts counts_;
  Board::Voice::Version version_;
};

}  // namespace SimBoard
