#pragma once
// Soft T.38 fax slots. The daemon does not speak T.38: each slot takes a
// transparent channel of "/dev/mcc/ctl", whose timeslot other slots connect
// to, and runs "/usr/local/sbin/t38 --child" with the channel as its
// descriptor 0. The child's end is reported as abort; a destroy sends it
// SIGTERM and does not wait (the child-wait service reaps it).
#include "foundation/child_wait.h"
#include "foundation/log_limit.h"
#include "slots/slot.h"

class T38SoftSlot : public Slot {
public:
  T38SoftSlot(int pid, int timeslot);

  const char* GetName() const override { return "t38 soft"; }
  void IAfterCreate() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return timeslot; }
  int IGetReceiveChannel() override { return timeslot; }
  bool IBeforeDestroy() override;

  // -1 once the child has ended.
  int child() const { return pid; }

private:
  void OnT38Terminate(int status);

  int pid;
  int timeslot;
  ChildWait wait;
  Log::Limiter log;
};

class T38SoftFactory : public SlotFactory {
public:
  // The remote text "<dhost iaddr>/<dhost port>/<shost port>" fits this,
  // its terminating null included.
  static constexpr unsigned kRemoteSize = 72;
  // argv entries, the closing null included: at most 27 of the create's
  // args follow the four fixed ones.
  static constexpr unsigned kArgv = 32;
  // How long QueryNumOfInstances waits for the program's line.
  static constexpr int kQueryTimeoutMs = 1000;

  static T38SoftFactory& instance();

  const char* GetName() const override { return "T.38 soft"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;
  // What "t38 --num-of-instances" prints; 0 when it cannot be run or prints
  // no line within kQueryTimeoutMs (it is ended then).
  int QueryNumOfInstances();

private:
  Log::Limiter log;
};
