#pragma once
// "/dev/dsp-data" of the simulated board: the DSP's signalling channels. Each
// open is one channel, served on the lowest free timeslot of the device's
// pool from the open on; when every channel is taken an open fails with
// EBUSY. Its frames travel the cross-connect and the lines as those of an
// HDLC controller channel do. Each channel has three B subslots; add-B gives
// one a timeslot of the B pool, remove-B frees it, and the close of the
// channel frees them all.
#include <cstdint>
#include <vector>

#include "simboard/driver.h"
#include "simboard/lines.h"

namespace SimBoard {

class DspData : public Driver, public FrameChannels {
public:
  // The channels' timeslots (as many channels as these) and the B subslots'.
  DspData(std::vector<int> channels, std::vector<int> bPool);
  ~DspData() override;

  void on_added(Simulator& sim) override { sim_ = &sim; }
  int on_open(Session& s) override;
  void on_data(Session& s, const std::uint8_t* data, std::size_t len) override;

  Lines::Handed deliver_frame(int output, const Lines::Frame& frame) override;

  // The open served on the timeslot, or null.
  Session* channel(int timeslot) const;
  // The timeslot of the channel's subslot, -1 when it has none.
  int subslot(int channel, unsigned subslot) const;
  // "channel=320 b0=- b1=- b2=322" for each open channel, oldest first.
  std::vector<std::string> describe() const;

private:
  class Channel;

  Channel* channel_of(Session& s) const;
  int timeslot(Session& s, unsigned long value);
  int add_b(Session& s, void* arg);
  int remove_b(Session& s, void* arg);
  bool b_taken(int timeslot) const;

  std::vector<int> channels_;
  std::vector<int> bPool_;
  Simulator* sim_ = nullptr;
};

}  // namespace SimBoard
