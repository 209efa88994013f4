#pragma once
// Map slots: up to two channels of the shared inter-processor bus, which the
// cross-connect reaches as its outputs and sources 8192..10239. The transmit
// channel is a source the slot's output is taken from; the receive channel an
// output its source feeds. A channel belongs to one map slot at most, in
// either direction; a later slot naming it pushes the owner out.
#include "slots/slot.h"

// 8192 + bus * 128 + channel.
int GetMapTimeSlot(LGCP::SharedChannel const& channel);

class MapSlot : public Slot {
public:
  // -1: no such channel.
  MapSlot(int tx, int rx);

  bool IsTxExists() const { return tx >= 0; }
  bool IsRxExists() const { return rx >= 0; }
  int GetTxLogChannel() const { return tx - kFirstChannel; }
  int GetRxLogChannel() const { return rx - kFirstChannel; }

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override;
  bool IOnInputStream() override;
  int IGetTransmitChannel() override;
  int IGetReceiveChannel() override;
  const char* GetName() const override;

  static constexpr int kFirstChannel = 8192;
  static constexpr int kChannels = 2048;

private:
  int tx;
  int rx;
};

class MapFactory : public SlotFactory {
public:
  static MapFactory& instance();

  MapFactory();

  const char* GetName() const override;
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;

  void AllocateMapSlot(MapSlot* slot);
  void ReleaseMapSlot(MapSlot* slot);

  // The owner of a logical channel 0..2047, or null.
  MapSlot* Owner(int logical) const { return logical >= 0 && logical < MapSlot::kChannels ? owners[logical] : nullptr; }

private:
  void Claim(int logical, MapSlot* slot);

  MapSlot* owners[MapSlot::kChannels];
};
