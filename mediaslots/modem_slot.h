#pragma once
// Dial-in modem slots. A DSP modem of the board's modem driver ("/dev/mctl",
// its terminal "/dev/mdm<n>") runs pppd on its terminal, or a fax sender or
// receiver; a digital modem, one of the board's "hdlc<n>" network interfaces
// switched to PPP, runs pppd on the interface. pppd's plug-in authenticates
// through the factory's authentication link (mediaslots/auth_link.h): the
// user arrives as modemProceeding auth, activate admits it, accounting
// arrives as modemProceeding acct. A destroy waits for the child: SIGHUP,
// then SIGKILL after 5 s.
#include <cstdint>
#include <iosfwd>
#include <list>
#include <set>
#include <string>
#include <vector>

#include "foundation/child_wait.h"
#include "foundation/log_limit.h"
#include "foundation/os.h"
#include "foundation/timer.h"
#include "mediaslots/auth_link.h"
#include "messages/TERM.h"
#include "slots/slot.h"

namespace IniFile {
class Section;
}

class ModemFactory;

class ModemSlot : public Slot {
public:
  static constexpr unsigned kTerminateMs = 5000;
  // argv entries of pppd and of the fax sender, the closing null included.
  static constexpr unsigned kArgv = 64;

  ModemSlot(ModemFactory& factory, TERM::ModemParams const& params);
  // Ends a child still running; the factory forgets the slot.
  ~ModemSlot() override;

  const char* GetName() const override { return "generic-modem"; }
  bool IBeforeDestroy() override;
  bool IActivate(TERM::TermActivateParams const& params) override;

  // The authentication session: the modem number, -1 for a digital modem.
  virtual int modem_id() const = 0;
  // Out of the factory's lists; its authentication connection is closed.
  virtual void unbind();
  // A record of this slot's session.
  void OnAuth(const unsigned char* record, std::uint32_t length);
  int child() const { return pid; }
  bool pppd_executing() const { return pid != -1; }

  // The authentication connection bound to the slot, or null.
  AuthClient* client = nullptr;

protected:
  std::ostream& header(std::ostream& os) const;
  // Starts pppd on the line unless a child runs.
  void pppd_exec(std::string const& line, const char* optionFile);
  void pppd_kill();
  void on_terminate(int status);
  void on_terminate_timeout(Timer*);
  // The destroy completes: the slot is deleted inside.
  void Finish();
  std::string program(const char* fallback) const;

  ModemFactory& factory;
  TERM::ModemParams params;
  int pid = -1;
  ChildWait wait;
  Timer terminateTimer;
  bool unbound = false;
  Log::Limiter log;
};

class DspModemSlot : public ModemSlot {
public:
  DspModemSlot(ModemFactory& factory, TERM::ModemParams const& params);
  ~DspModemSlot() override;

  const char* GetName() const override { return "dsp-modem"; }
  bool IOnOutputStream() override;
  bool IOnInputStream() override;
  int IGetTransmitChannel() override { return timeslot; }
  int IGetReceiveChannel() override { return timeslot; }
  int modem_id() const override { return modem; }
  void unbind() override;
  // Whether the records of the session are this slot's: pppd runs on its
  // modem. A fax call's modem is its fax program's, also once it has ended.
  bool TakesSession(int id) const { return modem >= 0 && modem == id && !params.fax_isPresent(); }

private:
  void InitModem();
  void RunFaxSender();
  void RunFaxReceiver();
  void on_fax_terminate(int status);

  Fd fd;
  int timeslot = -1;
  int modem = -1;
  bool faxExecFailed = false;
  // The receiver's exec failure, told once it has ended.
  Fd faxReport;
  // The receiver's file, "" when none.
  std::string faxFile;
};

class HdlcModemSlot : public ModemSlot {
public:
  HdlcModemSlot(ModemFactory& factory, TERM::ModemParams const& params, std::string device);
  // Takes the interface back to raw HDLC, down.
  ~HdlcModemSlot() override;

  const char* GetName() const override { return "digital-modem"; }
  bool IOnOutputStream() override;
  bool IOnInputStream() override;
  int IGetTransmitChannel() override { return channel; }
  int IGetReceiveChannel() override { return channel; }
  int modem_id() const override { return -1; }
  void unbind() override;
  const std::string& deviceName() const { return device; }

private:
  void initModem();

  int channel = -1;
  std::string device;
};

class ModemFactory : public SlotFactory, public AuthLink::Owner {
public:
  static ModemFactory& instance();
  // A factory of its own, listening on port (tests).
  explicit ModemFactory(unsigned short port);
  ~ModemFactory() override;

  const char* GetName() const override { return "Modem"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;
  // Key "exec-dirs" of section "modem": the directories execfile may name.
  void Configure(IniFile::Section& section);
  void IQuery();

  void ReleaseModemSlot(DspModemSlot* slot);
  void ReleaseModemSlot(HdlcModemSlot* slot);
  ModemSlot* FindModemByDsp(int id) const;
  // The record to the slot's connection; false, logged, when it has none or
  // the write failed.
  bool SendAuth(ModemSlot& slot, const void* record, std::uint32_t length);
  void Disconnect(ModemSlot& slot);

  void OnAuthRecord(AuthClient& client, const unsigned char* record, std::uint32_t length) override;
  void OnAuthClientGone(AuthClient& client) override;

  // A name for a fax receiver's file, "/var/fax-%H-%M-%S.g3" made unique.
  std::string FaxFileName();
  void ForgetFaxFile(std::string const& name) { faxFiles.erase(name); }

  const std::list<std::string>& free_interfaces() const { return freeInterfaces; }
  AuthLink& link() { return auth; }
  // "modem[<count>,<slots>]: "
  std::ostream& PutHeader(std::ostream& os) const;

private:
  void update_modemDevices();
  void update_hdlcDevices();
  // Why an execfile may not be run, "" when it may.
  std::string CheckExecFile(std::string const& path) const;
  // The digital slot whose pppd holds the connection's socket, else the only
  // one with pppd running and no connection.
  ModemSlot* DigitalSlotOf(AuthClient& client) const;

  std::list<ModemSlot*> modems;
  std::list<DspModemSlot*> dspModems;
  std::list<HdlcModemSlot*> hdlcModems;
  int modemCount = 0;
  int pointToPoint = 0;
  std::list<std::string> freeInterfaces;
  std::vector<std::string> execDirs;
  std::set<std::string> faxFiles;
  AuthLink auth;
  Log::Limiter log;
};
