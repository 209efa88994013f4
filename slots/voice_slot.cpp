#include "slots/voice_slot.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>

#include "board/board.h"
#include "board/mcc.h"
#include "foundation/ext_text.h"
#include "foundation/sys_paths.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"

namespace Mcc = Board::Mcc;

namespace {

using CopyStatus = ASync::Copy::Status;
using ConnectStatus = ASync::Connect::Status;

ASync::Copy::EventsParams CopyEvents(std::uint32_t flush) {
  ASync::Copy::EventsParams e;
  e.src = POLLIN;
  e.dst = POLLOUT;
  e.flush = flush;
  return e;
}

}  // namespace

std::string dhost2str(TERM::HostAddress const& host) {
  return std::string(host.get_iaddr()) + ":" + std::to_string(host.get_port().getValue());
}

// VoiceConnect ----------------------------------------------------------------

VoiceConnect::VoiceConnect(Done d) : done(std::move(d)) { held.Bind(this, &VoiceConnect::OnHeld); }

void VoiceConnect::Start(const std::string& addr, unsigned timeout_ms) {
  Drop();
  connect.reset(new ASync::Connect);
  connect->Bind(&VoiceConnect::OnDone, this);
  starting = true;
  connect->Start(addr, timeout_ms);
  starting = false;
}

void VoiceConnect::Drop() {
  held.Deactivate();
  heldSocket.close();
  connect.reset();
}

void VoiceConnect::OnDone(ASync::Connect::Status::Type status, Fd socket) {
  if (starting) {
    heldStatus = status;
    heldSocket = std::move(socket);
    held.Activate();
    return;
  }
  connect.reset();
  done(status, std::move(socket));
}

void VoiceConnect::OnHeld() {
  held.Deactivate();
  connect.reset();
  Fd socket = std::move(heldSocket);
  done(heldStatus, std::move(socket));
}

// PlaySlotGeneric -------------------------------------------------------------

PlaySlotGeneric::PlaySlotGeneric(Fd channel, int ts) : timeslot(ts), device(std::move(channel)) {}

void PlaySlotGeneric::PutHeader(std::ostream& os) const { os << GetName() << "[" << timeslot << "]: "; }

bool PlaySlotGeneric::IBeforeDestroy() {
  VoiceFactory::instance().OnDestroy(this);
  return true;
}

// PlaySlotNetwork -------------------------------------------------------------

PlaySlotNetwork::PlaySlotNetwork(Fd channel, int ts, std::string address, std::int32_t streamId)
    : PlaySlotGeneric(std::move(channel), ts),
      addr(std::move(address)),
      id(streamId),
      connect([this](ConnectStatus::Type status, Fd socket) { OnConnect(status, std::move(socket)); }) {}

// The connection's answer reports the output active (connect.cpp), so the
// hook itself only starts the play.
bool PlaySlotNetwork::IOnOutputStream() {
  if (state == Idle) {
    state = Connecting;
    connect.Start(addr, kConnectTimeoutMs);
  }
  return IsTimeSlotValid();
}

void PlaySlotNetwork::OnConnect(ASync::Connect::Status::Type status, Fd socket) {
  if (status != ConnectStatus::Connected) {
    std::clog << ext::header(this) << "connection to " << addr << " fail." << std::endl;
    Release();
    return;
  }
  std::clog << ext::header(this) << "connected to " << addr << "." << std::endl;
  LGCP::IoctlResponse response;
  response.select_startPlaying();
  OnIoctlResponse(response);
  state = Playing;
  connect.Drop();
  copy.reset(new ASync::Copy);
  copy->set_events(CopyEvents(POLLWRNORM));
  copy->Bind(&PlaySlotNetwork::OnPlayComplete, this);
  const std::uint32_t v = static_cast<std::uint32_t>(id);
  const unsigned char head[4] = {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                                 static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
  // A fresh connection's send buffer takes four bytes.
  (void)::send(socket.lowlevel_fd(), head, sizeof head, MSG_NOSIGNAL | MSG_DONTWAIT);
  copy->Start(socket, device);
}

void PlaySlotNetwork::OnPlayComplete(ASync::Copy::Status::Type status) {
  if (status == CopyStatus::Done)
    std::clog << ext::header(this) << "connection to " << addr << " closed." << std::endl;
  else
    std::cerr << ext::header(this) << "play failed" << std::endl;
  Release();
}

void PlaySlotNetwork::Release() {
  state = Released;
  OnChangeOutputStream(false);
  copy.reset();
  connect.Drop();
  OnAbort(0);
}

// PlaySlotFile ----------------------------------------------------------------

PlaySlotFile::PlaySlotFile(Fd channel, int ts, std::vector<std::string> names, int plays)
    : PlaySlotGeneric(std::move(channel), ts), repeat(plays < 0 ? 1 : plays), files(std::move(names)) {
  abortDpc.Bind(this, &PlaySlotFile::OnAbortDpc);
}

bool PlaySlotFile::PhraseNameValid(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool PlaySlotFile::IOnOutputStream() {
  if (!started) {
    if (!Restart()) {
      abortDpc.Activate();
      return false;
    }
    started = true;
    // A phrase that failed at once has released the player already.
    if (released) return false;
  }
  return IsTimeSlotValid();
}

bool PlaySlotFile::Restart() {
  current = 0;
  return NextPhrase();
}

bool PlaySlotFile::NextPhrase() {
  const std::string dir = SysPaths::resolve(SysPaths::kVoiceDir);
  while (current < files.size()) {
    const std::string& name = files[current++];
    if (!PhraseNameValid(name)) continue;
    Fd phrase;
    if (!phrase.open((dir + name).c_str(), O_RDONLY | O_NONBLOCK)) continue;
    // A directory or a device opens too, but is no phrase.
    struct stat st;
    if (::fstat(phrase.lowlevel_fd(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    ::lseek(phrase.lowlevel_fd(), 0, SEEK_SET);
    file = std::move(phrase);
    ++played;
    copy.reset(new ASync::Copy);
    copy->set_bufsize(kBufSize);
    copy->set_events(CopyEvents(POLLWRNORM));
    copy->Bind(&PlaySlotFile::OnPlayComplete, this);
    // May complete (and release) inside; nothing of the slot's state is
    // touched after it.
    copy->Start(file, device);
    return true;
  }
  return false;
}

void PlaySlotFile::OnPlayComplete(ASync::Copy::Status::Type status) {
  file.close();
  if (status != CopyStatus::Done) {
    Release();
    return;
  }
  passBytes += copy ? copy->written() : 0;
  if (NextPhrase()) return;
  // A pass that played nothing would be started again at once, for ever
  // when repeat is 0.
  const bool silent = passBytes == 0;
  passBytes = 0;
  if (silent || (repeat != 0 && --repeat == 0)) {
    Release();
    return;
  }
  if (!Restart()) Release();
}

void PlaySlotFile::Release() {
  released = true;
  OnChangeOutputStream(false);
  copy.reset();
  file.close();
  OnAbort(0);
}

void PlaySlotFile::OnAbortDpc() {
  abortDpc.Deactivate();
  OnAbort(0);
}

// RecordSlot ------------------------------------------------------------------

RecordSlot::RecordSlot(Fd channel, int ts, std::string address)
    : timeslot(ts),
      device(std::move(channel)),
      addr(std::move(address)),
      connect([this](ConnectStatus::Type status, Fd socket) { OnConnect(status, std::move(socket)); }) {}

void RecordSlot::PutHeader(std::ostream& os) const { os << GetName() << "[" << timeslot << "]: "; }

void RecordSlot::IAfterCreate() { OnChangeInputStream(true); }

bool RecordSlot::IBeforeDestroy() {
  VoiceFactory::instance().OnDestroy(this);
  return true;
}

bool RecordSlot::IOnInputStream() {
  connect.Start(addr, kConnectTimeoutMs);
  return true;
}

void RecordSlot::OnConnect(ASync::Connect::Status::Type status, Fd socket) {
  if (status != ConnectStatus::Connected) {
    std::clog << ext::header(this) << "connection to " << addr << " fail." << std::endl;
    Stop(LGCP::StopRecordingCause::connectionFail);
    return;
  }
  std::clog << ext::header(this) << "connected to " << addr << "." << std::endl;
  connect.Drop();
  copy.reset(new ASync::Copy);
  copy->set_events(CopyEvents(0));
  copy->Bind(&RecordSlot::OnRecordComplete, this);
  copy->Start(device, socket);
}

void RecordSlot::OnRecordComplete(ASync::Copy::Status::Type status) {
  if (status == CopyStatus::Done) {
    std::clog << ext::header(this) << "connection to " << addr << " closed." << std::endl;
    Stop(LGCP::StopRecordingCause::userRequest);
  } else {
    std::cerr << ext::header(this) << "record aborted" << std::endl;
    Stop(LGCP::StopRecordingCause::connectionAborted);
  }
}

void RecordSlot::Stop(int cause) {
  copy.reset();
  connect.Drop();
  LGCP::IoctlResponse response;
  response.select_stopRecording(static_cast<LGCP::StopRecordingCause::NamedNumber>(cause));
  OnIoctlResponse(response);
}

// VoiceFactory ----------------------------------------------------------------

VoiceFactory& VoiceFactory::instance() {
  static VoiceFactory factory;
  return factory;
}

void VoiceFactory::PutHeader(std::ostream& os) const { os << "voice/mcc[" << 0 << "]: "; }

Slot* VoiceFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.voice_isSelected()) return nullptr;
  const LGCP::VoiceParams& voice = params.get_voice();
  if (voice.record_isSelected()) return CreateRecord(dhost2str(voice.get_record()));
  if (voice.player_isSelected()) return CreatePlay(voice.get_player());
  return nullptr;
}

Fd VoiceFactory::Allocate(bool player, int& timeslot) {
  Fd fd = Board::open(Mcc::kDevice, (player ? O_WRONLY : O_RDONLY) | O_NONBLOCK);
  if (!fd) {
    const Errno err;
    std::cerr << ext::header(this) << "fail to open /dev/mcc/ctl device for " << (player ? "writing" : "reading")
              << ": " << err << std::endl;
    return Fd();
  }
  // A player only transmits, a recorder only receives.
  Mcc::Allocate rec{Mcc::kTypeTransparent, kRxPacketSize, 0, player ? 0 : kThreshold, player ? kThreshold : 0};
  if (Board::ioctl(fd.lowlevel_fd(), Mcc::kAllocate, &rec) < 0) {
    const Errno err;
    std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << err << std::endl;
    return Fd();
  }
  timeslot = Board::ioctlValue(fd.lowlevel_fd(), Mcc::kTimeslot, 0);
  if (timeslot < 0) {
    std::cerr << ext::header(this) << "MCC_TIMESLOT request failed." << std::endl;
    return Fd();
  }
  return fd;
}

Slot* VoiceFactory::CreatePlay(LGCP::PlayerParams const& params) {
  if (!params.network_isSelected() && !params.file_isSelected()) return nullptr;
  int timeslot = -1;
  Fd fd = Allocate(true, timeslot);
  if (!fd) return nullptr;
  PlaySlotGeneric* slot = nullptr;
  if (params.network_isSelected()) {
    const LGCP::PlayerParams_network& p = params.get_network();
    slot = new PlaySlotNetwork(std::move(fd), timeslot, dhost2str(p.get_host()),
                               static_cast<std::int32_t>(p.get_id().getValue()));
  } else {
    const LGCP::PlayerParams_file& p = params.get_file();
    std::vector<std::string> names;
    for (const ASN1::IA5String& n : p.get_name()) {
      // Kept in the list, so that the plays follow the controller's
      // numbering, but never opened.
      if (!PlaySlotFile::PhraseNameValid(n))
        std::cerr << ext::header(this) << "phrase name refused: " << ext::quoted(static_cast<const std::string&>(n))
                  << std::endl;
      names.push_back(n);
    }
    slot = new PlaySlotFile(std::move(fd), timeslot, std::move(names), p.get_repeat().getValue());
  }
  playList.push_back(slot);
  return slot;
}

Slot* VoiceFactory::CreateRecord(std::string const& addr) {
  int timeslot = -1;
  Fd fd = Allocate(false, timeslot);
  if (!fd) return nullptr;
  RecordSlot* slot = new RecordSlot(std::move(fd), timeslot, addr);
  recordList.push_back(slot);
  return slot;
}

void VoiceFactory::OnDestroy(RecordSlot* slot) {
  recordList.erase(std::remove(recordList.begin(), recordList.end(), slot), recordList.end());
}

void VoiceFactory::OnDestroy(PlaySlotGeneric* slot) {
  playList.erase(std::remove(playList.begin(), playList.end(), slot), playList.end());
}
