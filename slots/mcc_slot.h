#pragma once
// The MCC data-channel slot: a raw channel of the multichannel controller
// ("/dev/mcc/ctl") on a TDM timeslot of its own. What the channel receives
// goes to the controller as userData signals; the controller's userData
// commands are written to it. Its factory also reports the controller's
// channel counts in the resource query.
#include <cstdint>
#include <iosfwd>
#include <vector>

#include "foundation/event.h"
#include "foundation/log_limit.h"
#include "foundation/os.h"
#include "slots/slot.h"

class MccSlot : public Slot {
public:
  // The most one read takes; each read that returns data is one signal.
  static constexpr std::size_t kReadSize = 1024;

  // Takes the descriptor of an allocated channel: a frame channel carries
  // frames of at most frameSize octets, a byte channel (frameSize 0) bytes.
  MccSlot(Fd channel, std::size_t frameSize);

  bool IUserData(std::vector<char> const& data) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return timeslot; }
  int IGetReceiveChannel() override { return timeslot; }
  const char* GetName() const override { return "MCC"; }

  void OnEvent(int fd, short revents);
  // One pass over what the channel holds; true when the channel has ended
  // (a read of 0 bytes or a read error other than running dry).
  bool DoRead(int fd);

  int get_timeslot() const { return timeslot; }
  std::size_t frame_size() const { return frameSize; }
  // Received frames longer than a read takes, dropped.
  std::uint32_t cut() const { return cutFrames; }
  bool polling() const { return event.IsActive(); }

  // "mcc[256]: "
  void PutHeader(std::ostream& os) const;

private:
  int timeslot;
  std::size_t frameSize;
  std::uint32_t cutFrames = 0;
  // Writes go here; the event watches a duplicate and lets go of it when
  // the channel hangs up.
  Fd device;
  Event event;
  // Log lines, bounded: the line and the controller may bring them about at
  // any rate.
  Log::Limiter notes;
};

class MccFactory : public SlotFactory {
public:
  // What the slot asks of a channel.
  static constexpr std::int32_t kRxPacketSize = 512;
  static constexpr std::int32_t kRxThreshold = 1;
  static constexpr std::int32_t kTxThreshold = 1;

  static MccFactory& instance();

  const char* GetName() const override { return "MCC"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;

  // The driver's channel type for the create parameters' type and mode.
  static std::int32_t ChannelType(int type, int mode);

  // "mcc: "
  void PutHeader(std::ostream& os) const;

private:
  MccFactory() = default;
};
