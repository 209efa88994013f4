#pragma once
// The slot manager: the controller's service for everything about slots. It
// owns the table of slots by number, runs create, destroy, connect,
// disconnect, activate, deactivate, userData and ioctl, answers the resource
// query, hands trunk status to the factories and takes every slot down when
// the controller goes. Slot signals reach the controller only through it.
#include <array>
#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include "control/ctrl_server.h"
#include "foundation/timer.h"
#include "messages/LGCP_fwd.h"
#include "messages/TERM_fwd.h"

class Slot;

class Slots : public CtrlSrv::Service {
public:
  static constexpr unsigned kSlots = 1024;
  // How long slots that deferred their release outlive their controller.
  static constexpr unsigned kOrphanMs = 1000;

  static Slots& instance();

  Slots();
  // Deletes what is left.
  ~Slots() override;

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(LGCP::Command const& command) override;
  void OnSignal(LGCP::Signal const& signal) override;

  // Starts the destruction of the slot: true when it is gone, false when it
  // deferred it (it stays in the table, releasing, until on_release).
  bool Destroy(Slot* slot);
  // Completes a deferred destruction: answers the destroy that waits for
  // it, if one does, and deletes the slot.
  void on_release(Slot* slot);
  // Sends the board's resources as the query signal.
  void UpdateHardwareResources();
  static bool CheckSlot(unsigned int n) { return n < kSlots; }

  // The slot under a number, or null.
  Slot* Find(unsigned int n) const { return n < kSlots ? table[n].get() : nullptr; }
  size_t Count() const { return live.size(); }
  size_t OrphanCount() const { return orphans.size(); }

  // For the slots' reporters.
  void SendSlotSignal(unsigned int slot, LGCP::Signal const& signal) { SendSignal(slot, signal); }

private:
  struct Orphan {
    Slot* slot;
    uint32_t due;
  };

  bool OnBaseCommand(LGCP::Command const& command);
  bool OnSlotCommand(LGCP::Command const& command);
  void CmdQuery();
  void CmdConnect(unsigned int target);
  void CmdDisconnect();
  void CmdCreate(LGCP::CreateParams const& params);
  void CmdDestroy();
  void CmdActivate(TERM::TermActivateParams const& params);
  void CmdDeactivate();
  void CmdUserData(std::vector<char> const& data);
  void CmdIoctl(LGCP::IoctlParams const& params);
  // Answers a command hook's result.
  void Answer(Slot& slot, bool done);
  Slot* Current() const;

  void int_destroy(Slot* slot);
  void ForgetOrphan(Slot* slot);
  void OnOrphanTimer();
  void ArmOrphanTimer();

  // Owns the slots, deferred ones included, until int_destroy.
  std::array<std::unique_ptr<Slot>, kSlots> table;
  // The slots of the table in order of creation.
  std::list<Slot*> live;
  // Deferred slots of a controller that went away, deleted when due.
  std::list<Orphan> orphans;
  Timer orphanTimer;
  // The slot whose IBeforeDestroy runs, and whether it released itself
  // meanwhile.
  Slot* destroying;
  bool releasedEarly;
};
