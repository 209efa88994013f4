#include "slots/trunk_slot.h"

#include <iostream>

#include "messages/LGCP.h"
#include "slots/slots.h"

// TrunkSlot -------------------------------------------------------------------

TrunkSlot::TrunkSlot(int channel) : channel(channel) {}

int TrunkSlot::GetTrunk() { return channel >> 5; }
int TrunkSlot::GetTrunkTimeSlot() { return GetTimeSlot(); }
int TrunkSlot::GetTimeSlot() { return channel & 31; }

void TrunkSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool TrunkSlot::IBeforeDestroy() {
  if (TrunkFactory* f = dynamic_cast<TrunkFactory*>(GetSlotFactory())) f->ReleaseTrunkSlot(this);
  return true;
}

bool TrunkSlot::IOnOutputStream() { return true; }
bool TrunkSlot::IOnInputStream() { return true; }
int TrunkSlot::IGetTransmitChannel() { return channel; }
int TrunkSlot::IGetReceiveChannel() { return channel; }
const char* TrunkSlot::GetName() const { return "trunk"; }

TrunkBRISlot::TrunkBRISlot(int channel) : TrunkSlot(channel) {}

int TrunkBRISlot::GetTrunk() { return channel >> 2; }
int TrunkBRISlot::GetTrunkTimeSlot() { return GetTimeSlot(); }
int TrunkBRISlot::GetTimeSlot() { return channel & 3; }
const char* TrunkBRISlot::GetName() const { return "trunkBRI"; }

// TrunkFactory ----------------------------------------------------------------

TrunkFactory::TrunkFactory(unsigned int trunk, unsigned int firstChannel) : trunk(trunk), firstChannel(firstChannel) {
  for (TrunkSlot*& s : slots) s = nullptr;
}

const char* TrunkFactory::GetName() const { return "Trunks"; }

void TrunkFactory::Query(LGCP::Resources&) {}

void TrunkFactory::ReleaseTrunkSlot(TrunkSlot* slot) {
  const int ts = slot->GetTimeSlot();
  if (ts >= 0 && unsigned(ts) < kTimeSlots && slots[ts] == slot) slots[ts] = nullptr;
}

void TrunkFactory::Take(unsigned int timeslot, TrunkSlot* slot) {
  if (TrunkSlot* old = slots[timeslot]) {
    std::cerr << "trunk-slot: two slots require the same timeslot, remove old." << std::endl;
    std::cerr << " old slot " << *old << std::endl;
    // Its IBeforeDestroy clears the entry.
    Slots::instance().Destroy(old);
  }
  slots[timeslot] = slot;
}

Slot* TrunkFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.trunk_isSelected()) return nullptr;
  const LGCP::TrunkParams& p = params.get_trunk();
  const unsigned ts = p.get_timeslot().getValue();
  if (p.get_trunk().getValue() != trunk || ts >= kTimeSlots) return nullptr;
  TrunkSlot* slot = new TrunkSlot(int(firstChannel + ts));
  Take(ts, slot);
  return slot;
}

TrunkBRIFactory::TrunkBRIFactory(unsigned int trunk, unsigned int firstChannel) : TrunkFactory(trunk, firstChannel) {}

const char* TrunkBRIFactory::GetName() const { return "TrunksBRI"; }

Slot* TrunkBRIFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.trunk_bri_isSelected()) return nullptr;
  const LGCP::TrunkParams& p = params.get_trunk_bri();
  const unsigned ts = p.get_timeslot().getValue();
  if (p.get_trunk().getValue() != trunk || ts >= kChannels) return nullptr;
  TrunkSlot* slot = new TrunkBRISlot(int(firstChannel + ts));
  Take(ts, slot);
  return slot;
}

// Built before main, in this order, each at the head of the chain: the
// singletons that start-up creates are asked before them, trunk_bri7 first
// of them and trunk0 last.
TrunkFactory trunk0(0, 0), trunk1(1, 32), trunk2(2, 64), trunk3(3, 96);
TrunkBRIFactory trunk_bri0(0, 0), trunk_bri1(1, 4), trunk_bri2(2, 8), trunk_bri3(3, 12), trunk_bri4(4, 16),
    trunk_bri5(5, 20), trunk_bri6(6, 24), trunk_bri7(7, 28);
