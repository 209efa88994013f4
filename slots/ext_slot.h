#pragma once
// Ext slots: a pair of shared cross-connect channels the controller names by
// number (0..2047 each, channel + 8192 on the cross-connect). The transmit
// channel is a source; the receive output stays off until the slot is
// activated, and only then may a source feed it.
#include "slots/slot.h"

class ExtSlot : public Slot {
public:
  // Cross-connect numbers.
  ExtSlot(unsigned int tx, unsigned int rx);

  void IAfterCreate() override;
  bool IActivate(TERM::TermActivateParams const& params) override;
  bool IDeactivate() override;
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override;
  bool IOnInputStream() override;
  int IGetTransmitChannel() override;
  int IGetReceiveChannel() override;
  const char* GetName() const override;

private:
  int tx;
  int rx;
};

class ExtFactory : public SlotFactory {
public:
  static constexpr int kFirstChannel = 8192;
  static constexpr int kChannels = 2048;

  static ExtFactory& instance();

  const char* GetName() const override;
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;
};
