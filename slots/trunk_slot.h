#pragma once
// Trunk slots: one timeslot of an E1 trunk (32 per trunk) or one channel of
// a BRI trunk (4 per trunk). The timeslot's cross-connect number is both the
// source of what comes from the line and the output towards it. The factories
// are static objects, one per trunk; a second slot on a timeslot pushes the
// first one out.
#include "slots/slot.h"

class TrunkSlot : public Slot {
public:
  explicit TrunkSlot(int channel);

  int GetTrunk() override;
  int GetTrunkTimeSlot() override;
  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override;
  bool IOnInputStream() override;
  int IGetTransmitChannel() override;
  int IGetReceiveChannel() override;
  const char* GetName() const override;
  virtual int GetTimeSlot();

protected:
  int channel;
};

class TrunkBRISlot : public TrunkSlot {
public:
  explicit TrunkBRISlot(int channel);

  int GetTrunk() override;
  int GetTrunkTimeSlot() override;
  int GetTimeSlot() override;
  const char* GetName() const override;
};

class TrunkFactory : public SlotFactory {
public:
  static constexpr unsigned kTimeSlots = 32;

  TrunkFactory(unsigned int trunk, unsigned int firstChannel);

  const char* GetName() const override;
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;
  virtual void ReleaseTrunkSlot(TrunkSlot* slot);

  TrunkSlot* GetTrunkSlot(unsigned int timeslot) const { return timeslot < kTimeSlots ? slots[timeslot] : nullptr; }

protected:
  // Pushes out the slot that holds the timeslot, then puts slot there.
  void Take(unsigned int timeslot, TrunkSlot* slot);

  TrunkSlot* slots[kTimeSlots];
  unsigned int trunk;
  unsigned int firstChannel;
};

class TrunkBRIFactory : public TrunkFactory {
public:
  static constexpr unsigned kChannels = 4;

  TrunkBRIFactory(unsigned int trunk, unsigned int firstChannel);

  const char* GetName() const override;
  Slot* INewSlot(LGCP::CreateParams const& params) override;
};
