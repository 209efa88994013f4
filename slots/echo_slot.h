#pragma once
// Echo slots: one channel of an echo-canceller bus. Only buses the scan
// found present are served, and the scan detects none, so every create is
// refused and the resource report lists no bus.
#include "slots/slot.h"

class EchoSlot : public Slot {
public:
  // bus * 32 + channel.
  explicit EchoSlot(unsigned int channel);

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override;
  bool IOnInputStream() override;
  int IGetTransmitChannel() override;
  int IGetReceiveChannel() override;
  const char* GetName() const override;

private:
  int channel;
};

class EchoFactory : public SlotFactory {
public:
  static constexpr int kBuses = 16;

  static EchoFactory& instance();

  EchoFactory();

  const char* GetName() const override;
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;
  // Where a detection of the buses would set the flags.
  void Scan();

private:
  bool present[kBuses];
};
