#include "slots/map_slot.h"

#include <iostream>

#include "hardware/hw_mux.h"
#include "messages/LGCP.h"
#include "slots/slots.h"

int GetMapTimeSlot(LGCP::SharedChannel const& channel) {
  return MapSlot::kFirstChannel + int(channel.get_bus().getValue()) * 128 + int(channel.get_channel().getValue());
}

// MapSlot -----------------------------------------------------------------------

MapSlot::MapSlot(int tx, int rx) : tx(tx), rx(rx) {}

// Input first, unlike the trunk slot.
void MapSlot::IAfterCreate() {
  if (IsRxExists()) OnChangeInputStream(true);
  if (IsTxExists()) OnChangeOutputStream(true);
}

bool MapSlot::IBeforeDestroy() {
  if (MapFactory* f = dynamic_cast<MapFactory*>(GetSlotFactory())) f->ReleaseMapSlot(this);
  return true;
}

bool MapSlot::IOnOutputStream() { return IsTxExists(); }
bool MapSlot::IOnInputStream() { return IsRxExists(); }
int MapSlot::IGetTransmitChannel() { return tx; }
int MapSlot::IGetReceiveChannel() { return rx; }
const char* MapSlot::GetName() const { return "map"; }

// MapFactory --------------------------------------------------------------------

MapFactory& MapFactory::instance() {
  static MapFactory theInstance;
  return theInstance;
}

MapFactory::MapFactory() {
  for (MapSlot*& o : owners) o = nullptr;
}

const char* MapFactory::GetName() const { return "Map"; }

void MapFactory::Query(LGCP::Resources&) {}

// Neither channel is required: a slot without any sends no signal and
// refuses every connection.
Slot* MapFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.map_isSelected()) return nullptr;
  const LGCP::MapParams& p = params.get_map();
  const int tx = p.transmitter_isPresent() ? GetMapTimeSlot(p.get_transmitter()) : -1;
  const int rx = p.receiver_isPresent() ? GetMapTimeSlot(p.get_receiver()) : -1;
  MapSlot* slot = new MapSlot(tx, rx);
  AllocateMapSlot(slot);
  return slot;
}

void MapFactory::Claim(int logical, MapSlot* slot) {
  MapSlot* old = owners[logical];
  if (old && old != slot) {
    std::cerr << "map-slot: two slots require the same ipc-slot, remove old." << std::endl;
    std::cerr << "new slot " << *slot << " <-> old slot " << *old << std::endl;
    // Its release clears every entry it held.
    Slots::instance().Destroy(old);
  }
  owners[logical] = slot;
}

void MapFactory::AllocateMapSlot(MapSlot* slot) {
  if (slot->IsRxExists()) Claim(slot->GetRxLogChannel(), slot);
  if (slot->IsTxExists()) Claim(slot->GetTxLogChannel(), slot);
}

void MapFactory::ReleaseMapSlot(MapSlot* slot) {
  if (slot->IsRxExists()) {
    const int logical = slot->GetRxLogChannel();
    std::clog << "map: disable map channel " << logical << std::endl;
    HwMux::instance().Disable(slot->IGetReceiveChannel());
    if (owners[logical] != slot)
      std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 1" << std::endl;
    owners[logical] = nullptr;
  }
  if (slot->IsTxExists()) {
    const int logical = slot->GetTxLogChannel();
    // One channel in both directions: its entry went with the receive side.
    const bool shared = slot->IsRxExists() && logical == slot->GetRxLogChannel();
    if (owners[logical] != slot && !shared)
      std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 2" << std::endl;
    owners[logical] = nullptr;
  }
}
