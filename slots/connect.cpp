#include "slots/connect.h"

#include <iostream>

#include "hardware/hw_mux.h"
#include "slots/slot.h"

bool MuxConnect(Slot& source, Slot& receiver) {
  const int from = source.GetTransmitChannel();
  const int output = receiver.GetReceiveChannel();
  if (!HwMux::instance().Connect(from, output)) return false;
  std::clog << "mux: slot " << source << " [" << from << "] -> " << receiver << " [" << output << "]" << std::endl;
  return true;
}

bool MuxDisconnect(Slot& receiver) {
  const int output = receiver.GetReceiveChannel();
  if (!HwMux::instance().Disconnect(output)) return false;
  std::clog << "mux: disconnect slot " << receiver << " [" << output << "]" << std::endl;
  return true;
}

// On equal priorities the receiver connects...
bool llConnect(Slot& source, Slot& receiver) {
  if (source.GetConnectionPriority() <= receiver.GetConnectionPriority()) return receiver.IHwConnectReceiver(source);
  return source.IHwConnectTransmitter(receiver);
}

// ...and the source disconnects.
bool llDisconnect(Slot& receiver) {
  Slot* source = receiver.GetSource();
  if (!source) return false;
  if (receiver.GetConnectionPriority() <= source->GetConnectionPriority())
    return source->IHwDisconnectTransmitter(receiver);
  return receiver.IHwDisconnectReceiver(*source);
}

namespace {

// Takes back what starting the source's output did in a connect that then
// failed: the stream, and its signal when the connect had raised it.
void UndoOutput(Slot& source, bool raised) {
  source.IOnOutputRelease();
  if (raised) source.OnChangeOutputStream(false);
}

}  // namespace

bool Connect(Slot& source, Slot& receiver) {
  if (&source == &receiver) {
    std::cerr << "slot " << source << " can't feed itself" << std::endl;
    return false;
  }
  if (receiver.GetSource() == &source) return true;

  bool outputStarted = false;
  bool outputRaised = false;
  if (source.GetFedSlots().empty()) {
    if (!source.IOnOutputStream()) {
      std::cerr << "slot " << source << " don't have output stream to " << receiver << std::endl;
      return false;
    }
    outputStarted = true;
    outputRaised = !source.GetOutputStream();
    source.OnChangeOutputStream(true);
  }

  Slot* old = receiver.GetSource();
  if (!old) {
    if (!receiver.IOnInputStream()) {
      std::cerr << "slot " << receiver << " don't have input stream from " << source << std::endl;
      if (outputStarted) UndoOutput(source, outputRaised);
      return false;
    }
    receiver.OnChangeInputStream(true);
  } else {
    // The logical link to the old source stays until the new one holds.
    llDisconnect(receiver);
  }

  if (!llConnect(source, receiver)) {
    if (!old) {
      receiver.IOnInputRelease();
    } else if (!llConnect(*old, receiver)) {
      // Neither link holds in the hardware: the slots are apart.
      receiver.LogicalDisconnect();
      receiver.IOnInputRelease();
      if (old->GetFedSlots().empty()) old->IOnOutputRelease();
    }
    if (outputStarted) UndoOutput(source, outputRaised);
    return false;
  }

  if (old) {
    receiver.LogicalDisconnect();
    if (old->GetFedSlots().empty()) old->IOnOutputRelease();
  }
  receiver.LogicalConnect(source);
  return true;
}

bool Disconnect(Slot& receiver) {
  Slot* source = receiver.GetSource();
  if (!source) return true;
  const bool done = llDisconnect(receiver);
  receiver.LogicalDisconnect();
  receiver.IOnInputRelease();
  if (source->GetFedSlots().empty()) source->IOnOutputRelease();
  return done;
}
