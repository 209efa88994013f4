#include "slots/slots.h"

#include <algorithm>
#include <iostream>

#include "foundation/mux_time.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "slots/connect.h"
#include "slots/slot.h"

Slots& Slots::instance() {
  static Slots theInstance;
  return theInstance;
}

Slots::Slots() : destroying(nullptr), releasedEarly(false) {}

Slots::~Slots() {
  orphanTimer.reset();
  orphans.clear();
  // Left by a controller that went at shut-down: nobody disconnects them now.
  while (!live.empty()) {
    Slot* slot = live.front();
    if (slot->factory) slot->factory->Remove(slot);
    int_destroy(slot);
  }
}

void Slots::OnConnect() {}

bool Slots::OnCommand(LGCP::Command const& command) {
  return IsSlotPresent() ? OnSlotCommand(command) : OnBaseCommand(command);
}

bool Slots::OnBaseCommand(LGCP::Command const& command) {
  if (!command.query_isSelected()) return false;
  CmdQuery();
  return true;
}

bool Slots::OnSlotCommand(LGCP::Command const& command) {
  if (command.connect_isSelected())
    CmdConnect(command.get_connect().getValue());
  else if (command.disconnect_isSelected())
    CmdDisconnect();
  else if (command.create_isSelected())
    CmdCreate(command.get_create());
  else if (command.destroy_isSelected())
    CmdDestroy();
  else if (command.activate_isSelected())
    CmdActivate(command.get_activate());
  else if (command.deactivate_isSelected())
    CmdDeactivate();
  else if (command.userData_isSelected())
    CmdUserData(command.get_userData());
  else if (command.ioctl_isSelected())
    CmdIoctl(command.get_ioctl());
  else
    return false;
  return true;
}

Slot* Slots::Current() const {
  const int n = GetSlot();
  return n >= 0 ? Find(unsigned(n)) : nullptr;
}

void Slots::CmdQuery() {
  Success();
  UpdateHardwareResources();
}

void Slots::CmdConnect(unsigned int target) {
  if (target >= kSlots) {
    Error(LGCP::ErrorCause::invalidSlot);
    return;
  }
  Slot* source = Current();
  Slot* receiver = Find(target);
  if (!source || !receiver) {
    Error(LGCP::ErrorCause::slotNotExists);
    return;
  }
  if (Connect(*source, *receiver))
    Success();
  else
    Error(LGCP::ErrorCause::connectFail);
}

void Slots::CmdDisconnect() {
  Slot* slot = Current();
  if (!slot) {
    Error(LGCP::ErrorCause::slotNotExists);
    return;
  }
  if (Disconnect(*slot))
    Success();
  else
    Error(LGCP::ErrorCause::disconnectFail);
}

void Slots::CmdCreate(LGCP::CreateParams const& params) {
  const unsigned n = unsigned(GetSlot());
  if (Slot* old = Find(n)) {
    if (old->releasing) {
      Error(LGCP::ErrorCause::destroyInProgress);
      return;
    }
    Destroy(old);
    if (Find(n)) {
      Error(LGCP::ErrorCause::slotIdBusy);
      return;
    }
  }

  std::unique_ptr<Slot> made;
  LGCP::ErrorCause::NamedNumber cause = LGCP::ErrorCause::insufficientResources;
  for (SlotFactory* f = firstFactory; f && !made; f = f->GetNext()) {
    made.reset(f->NewSlot(params));
    // Every factory's refusal is taken, so none is left for a later create.
    const LGCP::ErrorCause::NamedNumber refusal = f->TakeErrorCause(LGCP::ErrorCause::insufficientResources);
    if (!made && cause == LGCP::ErrorCause::insufficientResources) cause = refusal;
  }
  if (!made) {
    Error(cause);
    return;
  }
  Slot& slot = *made;
  slot.id = int32_t(n);
  slot.livePos = live.insert(live.end(), &slot);
  table[n] = std::move(made);
  Success();
  slot.IAfterCreate();
}

bool Slots::Destroy(Slot* slot) {
  Disconnect(*slot);
  const size_t n = slot->fed.size();
  for (size_t i = 0; i < n; ++i) {
    if (slot->fed.empty()) {
      std::cerr << "mux internal error: expected slots not exists." << std::endl;
      break;
    }
    Disconnect(*slot->fed.front());
  }
  if (!slot->fed.empty()) std::cerr << "mux internal error: unexpected slots exists." << std::endl;
  slot->releasing = true;

  Slot* const outer = destroying;
  const bool outerReleased = releasedEarly;
  destroying = slot;
  releasedEarly = false;
  const bool now = slot->BeforeDestroy() || releasedEarly;
  destroying = outer;
  releasedEarly = outerReleased;
  if (!now) return false;
  int_destroy(slot);
  return true;
}

void Slots::CmdDestroy() {
  Slot* slot = Current();
  if (!slot) {
    Error(LGCP::ErrorCause::slotNotExists);
    return;
  }
  if (slot->releasing) {
    Error(LGCP::ErrorCause::destroyInProgress);
    return;
  }
  if (Destroy(slot)) {
    Success();
    return;
  }
  slot->delayedSeq = uint32_t(delayResponse());
  slot->answerPending = true;
}

void Slots::on_release(Slot* slot) {
  // Released from inside its own IBeforeDestroy: Destroy deletes it.
  if (slot == destroying) {
    releasedEarly = true;
    return;
  }
  // A slot is in the live list exactly while the table holds it.
  if (Find(unsigned(slot->id)) != slot) {
    std::cerr << "slots: internal error! release of a slot not in the table" << std::endl;
    return;
  }
  ForgetOrphan(slot);
  if (slot->answerPending) delayedSuccess(unsigned(slot->id), slot->delayedSeq);
  int_destroy(slot);
}

void Slots::int_destroy(Slot* slot) {
  if (Find(unsigned(slot->id)) != slot) {
    std::cerr << "slots: internal error! destruction of a slot not in the table" << std::endl;
    return;
  }
  live.erase(slot->livePos);
  // Out of the table before its destructor runs, which may look the number up.
  const std::unique_ptr<Slot> gone = std::move(table[unsigned(slot->id)]);
}

void Slots::Answer(Slot& slot, bool done) {
  const int n = slot.id;
  // A hook may have ended the slot's deferred release, and with it the slot.
  if (n < 0 || Find(unsigned(n)) != &slot) {
    if (done)
      Success();
    else
      Error(LGCP::ErrorCause::unsupported);
    return;
  }
  const LGCP::ErrorCause::NamedNumber cause = slot.TakeErrorCause(LGCP::ErrorCause::unsupported);
  if (done)
    Success();
  else
    Error(cause);
}

void Slots::CmdActivate(TERM::TermActivateParams const& params) {
  Slot* slot = Current();
  if (!slot) {
    Error(LGCP::ErrorCause::slotNotExists);
    return;
  }
  Answer(*slot, slot->IActivate(params));
}

void Slots::CmdDeactivate() {
  Slot* slot = Current();
  if (!slot) {
    Error(LGCP::ErrorCause::slotNotExists);
    return;
  }
  Answer(*slot, slot->IDeactivate());
}

void Slots::CmdUserData(std::vector<char> const& data) {
  Slot* slot = Current();
  if (!slot) {
    Error(LGCP::ErrorCause::slotNotExists);
    return;
  }
  Answer(*slot, slot->IUserData(data));
}

void Slots::CmdIoctl(LGCP::IoctlParams const& params) {
  Slot* slot = Current();
  if (!slot) {
    Error(LGCP::ErrorCause::slotNotExists);
    return;
  }
  Answer(*slot, slot->Ioctl(params));
}

// The controller is gone: slots that agree die now; those that defer keep
// their numbers (create and destroy meet destroyInProgress) until they
// release themselves or, at the latest, until the orphan timer runs out.
// Their destroy answers belonged to the old controller.
void Slots::OnDisconnect() {
  const std::vector<Slot*> all(live.begin(), live.end());
  for (Slot* slot : all) slot->answerPending = false;
  const uint32_t due = Mux::milliseconds() + kOrphanMs;
  for (Slot* slot : all) {
    // A hook of an earlier slot may have ended this one.
    if (std::find(live.begin(), live.end(), slot) == live.end()) continue;
    if (!slot->releasing && Destroy(slot)) continue;
    const bool known = std::any_of(orphans.begin(), orphans.end(), [slot](const Orphan& o) { return o.slot == slot; });
    if (!known) orphans.push_back(Orphan{slot, due});
  }
  ArmOrphanTimer();
}

void Slots::ForgetOrphan(Slot* slot) {
  const size_t before = orphans.size();
  orphans.remove_if([slot](const Orphan& o) { return o.slot == slot; });
  if (orphans.size() != before) ArmOrphanTimer();
}

void Slots::ArmOrphanTimer() {
  if (orphans.empty()) {
    orphanTimer.reset();
    return;
  }
  const int32_t left = int32_t(orphans.front().due - Mux::milliseconds());
  orphanTimer.set<Slots>(left > 0 ? unsigned(left) : 0u, &Slots::OnOrphanTimer, this);
}

void Slots::OnOrphanTimer() {
  const uint32_t now = Mux::milliseconds();
  while (!orphans.empty() && int32_t(now - orphans.front().due) >= 0) {
    Slot* slot = orphans.front().slot;
    orphans.pop_front();
    std::clog << "slots: " << *slot << " did not release in time, deleted" << std::endl;
    if (slot->factory) slot->factory->Remove(slot);
    int_destroy(slot);
  }
  ArmOrphanTimer();
}

void Slots::OnSignal(LGCP::Signal const& signal) {
  if (!signal.trunkStatus_isSelected()) return;
  for (SlotFactory* f = firstFactory; f; f = f->GetNext()) f->SelfSignal(signal);
}

void Slots::UpdateHardwareResources() {
  LGCP::Signal signal;
  LGCP::Resources& r = signal.select_query();
  r.set_rtp_g729(0);
  r.set_rtp_g723(0);
  r.set_rtp_g711(0);
  r.set_rtp_g711mcc(0);
  r.set_modem(0);
  r.set_mcc_data(0);
  r.set_mcc_bri(0);
  r.set_mcc_trans(0);
  r.set_t38_instances(0);
  r.set_digital_modems(0);
  r.set_lin16(0);
  r.set_mux(true);
  r.set_echoBus().clear();
  r.set_mixer().clear();
  r.omit_drvVersion();
  for (SlotFactory* f = firstFactory; f; f = f->GetNext()) f->Query(r);
  bool connected = false;
  // Nobody to tell.
  if (CheckServerConnection(connected) && !connected) return;
  SendBoardSignal(signal);
}
