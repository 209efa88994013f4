#include "slots/ext_slot.h"

#include "hardware/hw_mux.h"
#include "messages/LGCP.h"

ExtSlot::ExtSlot(unsigned int tx, unsigned int rx) : tx(int(tx)), rx(int(rx)) {}

void ExtSlot::IAfterCreate() { OnChangeOutputStream(true); }

// The output idles until a source is connected. Activated again while a
// source feeds it, it keeps that connection in the hardware too.
bool ExtSlot::IActivate(TERM::TermActivateParams const&) {
  OnChangeInputStream(true);
  if (!GetSource()) HwMux::instance().Disconnect(rx);
  return true;
}

bool ExtSlot::IDeactivate() {
  OnChangeInputStream(false);
  HwMux::instance().Disable(rx);
  return true;
}

bool ExtSlot::IBeforeDestroy() {
  HwMux::instance().Disable(rx);
  return true;
}

bool ExtSlot::IOnOutputStream() { return true; }
// Only an activated slot takes a source.
bool ExtSlot::IOnInputStream() { return GetInputStream(); }
int ExtSlot::IGetTransmitChannel() { return tx; }
int ExtSlot::IGetReceiveChannel() { return rx; }
const char* ExtSlot::GetName() const { return "bri"; }

ExtFactory& ExtFactory::instance() {
  static ExtFactory theInstance;
  return theInstance;
}

const char* ExtFactory::GetName() const { return "Ext"; }

void ExtFactory::Query(LGCP::Resources&) {}

Slot* ExtFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.ext_isSelected()) return nullptr;
  const LGCP::ExtParams& p = params.get_ext();
  const int transmitter = p.get_transmitter().getValue();
  const int receiver = p.get_receiver().getValue();
  // Beyond the shared channels the numbers would name trunk timeslots or
  // nothing at all.
  if (transmitter < 0 || transmitter >= kChannels || receiver < 0 || receiver >= kChannels) return nullptr;
  return new ExtSlot(unsigned(kFirstChannel + transmitter), unsigned(kFirstChannel + receiver));
}
