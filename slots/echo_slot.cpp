#include "slots/echo_slot.h"

#include <iostream>

#include "messages/LGCP.h"

EchoSlot::EchoSlot(unsigned int channel) : channel(int(channel)) {}

void EchoSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool EchoSlot::IBeforeDestroy() { return true; }
bool EchoSlot::IOnOutputStream() { return true; }
bool EchoSlot::IOnInputStream() { return true; }
int EchoSlot::IGetTransmitChannel() { return channel; }
int EchoSlot::IGetReceiveChannel() { return channel; }
const char* EchoSlot::GetName() const { return "echo"; }

EchoFactory& EchoFactory::instance() {
  static EchoFactory theInstance;
  return theInstance;
}

EchoFactory::EchoFactory() { Scan(); }

const char* EchoFactory::GetName() const { return "Echo"; }

void EchoFactory::Scan() {
  for (bool& p : present) p = false;
  std::clog << "Scanning echo channels ..." << std::endl;
}

Slot* EchoFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.echo_isSelected()) return nullptr;
  const LGCP::EchoParams& p = params.get_echo();
  const int bus = p.get_bus().getValue();
  if (bus < 0 || bus >= kBuses || !present[bus]) return nullptr;
  // The channel is not bounded: wrap rather than overflow.
  return new EchoSlot(unsigned(bus) * 32u + unsigned(p.get_channel().getValue()));
}

void EchoFactory::Query(LGCP::Resources& resources) {
  for (int bus = 0; bus < kBuses; ++bus)
    if (present[bus]) resources.set_echoBus().push_back(ASN1::INTEGER(bus));
}
