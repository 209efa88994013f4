#pragma once
// Voice slots on a transparent channel of "/dev/mcc/ctl": a player writes
// voice onto the channel's timeslot, from a TCP peer (network player) or from
// phrase files (file player); a recorder sends everything the timeslot
// carries to a TCP peer. The bytes are moved by ASync::Copy unchanged; the
// slots only choose the ends and report what happened.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "foundation/async.h"
#include "foundation/dpc.h"
#include "foundation/os.h"
#include "slots/slot.h"

// A connection whose result never comes from inside Start. An address that
// does not parse, or a connect that fails at once, ends the connection
// inside it; the hook that started the connection must return before the
// slot acts on that, so such a result is handed over on the next pass of the
// loop.
class VoiceConnect {
public:
  using Done = std::function<void(ASync::Connect::Status::Type, Fd)>;

  explicit VoiceConnect(Done done);
  VoiceConnect(const VoiceConnect&) = delete;
  VoiceConnect& operator=(const VoiceConnect&) = delete;

  // Drops an earlier connection first.
  void Start(const std::string& addr, unsigned timeout_ms);
  // Nothing more is reported; may be called from the result's handler.
  void Drop();
  bool pending() const { return connect != nullptr || held.IsActive(); }

private:
  void OnDone(ASync::Connect::Status::Type status, Fd socket);
  void OnHeld();

  Done done;
  std::unique_ptr<ASync::Connect> connect;
  bool starting = false;
  ASync::Connect::Status::Type heldStatus = ASync::Connect::Status::Idle;
  Fd heldSocket;
  Dpc held;
};

class VoiceSlot : public Slot {
public:
  static constexpr unsigned kConnectTimeoutMs = 5000;
};

class PlaySlotGeneric : public VoiceSlot {
public:
  // Takes the descriptor of an allocated channel and its timeslot.
  PlaySlotGeneric(Fd device, int timeslot);

  bool IBeforeDestroy() override;
  int IGetTransmitChannel() override { return timeslot; }
  const char* GetName() const override { return "player"; }

  bool IsTimeSlotValid() const { return timeslot >= 0; }
  const Fd& RefDeviceFd() const { return device; }

  // "player[256]: "
  void PutHeader(std::ostream& os) const;

protected:
  std::int32_t timeslot;
  Fd device;
};

class PlaySlotNetwork : public PlaySlotGeneric {
public:
  enum State { Idle = 0, Connecting = 1, Playing = 2, Released = 3 };

  PlaySlotNetwork(Fd device, int timeslot, std::string addr, std::int32_t id);

  bool IOnOutputStream() override;
  void OnConnect(ASync::Connect::Status::Type status, Fd socket);
  void OnPlayComplete(ASync::Copy::Status::Type status);

  int get_state() const { return state; }
  const std::string& get_addr() const { return addr; }

private:
  void Release();

  std::string addr;
  std::int32_t id;
  std::int32_t state = Idle;
  std::unique_ptr<ASync::Copy> copy;
  VoiceConnect connect;
};

class PlaySlotFile : public PlaySlotGeneric {
public:
  static constexpr unsigned kBufSize = 8192;

  // A negative repeat counts as 1, 0 plays the list without end.
  PlaySlotFile(Fd device, int timeslot, std::vector<std::string> files, int repeat);

  bool IOnOutputStream() override;
  void OnPlayComplete(ASync::Copy::Status::Type status);

  // A name that stays inside the voice directory: not empty, no "/", not
  // "." or "..".
  static bool PhraseNameValid(const std::string& name);

  int get_repeat() const { return repeat; }
  bool is_started() const { return started; }
  // Phrases started since the slot was built.
  unsigned plays() const { return played; }

private:
  bool Restart();
  bool NextPhrase();
  void Release();
  void OnAbortDpc();

  std::unique_ptr<ASync::Copy> copy;
  Fd file;
  std::int32_t repeat;
  bool started = false;
  // A failure released the player while its output was being started.
  bool released = false;
  Dpc abortDpc;
  std::vector<std::string> files;
  std::size_t current = 0;
  unsigned played = 0;
  // Bytes the phrases of the running pass played.
  unsigned passBytes = 0;
};

class RecordSlot : public VoiceSlot {
public:
  RecordSlot(Fd device, int timeslot, std::string addr);

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnInputStream() override;
  int IGetReceiveChannel() override { return timeslot; }
  const char* GetName() const override { return "recorder"; }

  void OnConnect(ASync::Connect::Status::Type status, Fd socket);
  void OnRecordComplete(ASync::Copy::Status::Type status);

  const std::string& get_addr() const { return addr; }

  // "recorder[256]: "
  void PutHeader(std::ostream& os) const;

private:
  void Stop(int cause);

  std::int32_t timeslot;
  Fd device;
  std::string addr;
  std::unique_ptr<ASync::Copy> copy;
  VoiceConnect connect;
};

class VoiceFactory : public SlotFactory {
public:
  // The transparent channel a player or recorder asks for.
  static constexpr std::int32_t kRxPacketSize = 1024;
  static constexpr std::int32_t kThreshold = 5;

  static VoiceFactory& instance();

  const char* GetName() const override { return "Voice/mcc"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  // Voice slots add nothing to the resources.
  void Query(LGCP::Resources&) override {}

  Slot* CreatePlay(LGCP::PlayerParams const& params);
  Slot* CreateRecord(std::string const& addr);
  void OnDestroy(RecordSlot* slot);
  void OnDestroy(PlaySlotGeneric* slot);

  const std::vector<RecordSlot*>& recorders() const { return recordList; }
  const std::vector<PlaySlotGeneric*>& players() const { return playList; }

  // "voice/mcc[0]: "
  void PutHeader(std::ostream& os) const;

private:
  VoiceFactory() = default;
  // An allocated transparent channel and its timeslot, or an empty Fd.
  Fd Allocate(bool player, int& timeslot);

  std::vector<RecordSlot*> recordList;
  std::vector<PlaySlotGeneric*> playList;
};

// "10.0.0.1:5000"
std::string dhost2str(TERM::HostAddress const& host);
