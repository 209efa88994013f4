#pragma once
// The base of every radio-control engine. A radio-gateway RTP slot carries
// an in-band signalling channel beside its voice: the RTP header extension,
// which the RTP driver offers on "/dev/rtp_ext" as a session bound to the
// slot's "/dev/rtp" session (each read one received header extension, each
// write one to send). An engine owns such a session, reads the radio's
// signalling packets and writes its own; a status timer lets it repeat or
// supervise the signalling, and a source filter keeps the packets of other
// talkers out while one has the channel.
//
// Three shapes: 0, a session on "/dev/rtp_ext" initialised and bound to the
// slot's RTP session; 1, RTP-only, the header extensions travel through the
// slot's "/dev/rtp" session itself (no session of its own, nothing read);
// 2, a session initialised but never bound.
//
// Every log line starts with GetPrefix(); failures go to std::cerr through a
// repeat limiter (a device that keeps failing must not flood the log), traces
// to std::clog. A failure leaves the engine running with less (no session,
// no filter); nothing is reported to the controller from here.
#include <netinet/in.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "board/rtp.h"
#include "board/rtp_ext.h"
#include "foundation/event.h"
#include "foundation/log_limit.h"
#include "foundation/os.h"
#include "foundation/timer.h"
#include "messages/TERM_fwd.h"

namespace RTPSignalling {

// "/dev/rtp_ext".
const char* GetRtpExtDevName();

// The command side of an engine that its slot holds.
class IRadioController {
public:
  virtual ~IRadioController() = default;
  // True when the engine took the value (its protocol's alternative) and
  // wrote what it had to send.
  virtual bool SendASNToChan(TERM::RadioStatus const&) { return false; }
  virtual bool SendASNToChan(TERM::RadioModifier const&) { return false; }
  // The engine's squelch indication.
  virtual bool GetSQU() { return false; }
};

// The engine's own hooks, called from its event and its timer.
class IRadioIntController {
public:
  virtual ~IRadioIntController() = default;
  virtual void OnRtpExtEvent(int /*fd*/, short /*revents*/) {}
  // The delay in milliseconds until the status timer fires next.
  virtual std::uint32_t ProcessRadioStatus(std::uint32_t /*now*/, std::uint32_t interval) { return interval; }
};

// What the engine reports to its slot.
class IRadioControlNotify {
public:
  virtual ~IRadioControlNotify() = default;
  // A radio request or state report for the controller.
  virtual void RadioControlNotify(TERM::RtpRadioRequest const&) {}
  // An event code for the controller.
  virtual void RadioControlNotify(int /*code*/) {}
};

enum RadioControlType : int {
  RadioControlExtSession = 0,
  RadioControlRtpOnly = 1,
  RadioControlExtInitOnly = 2,
};

// The send flows stamp their send times only in the gateway mode.
enum RadioControlMode : int {
  RadioControlGateway = 0,
  RadioControlWorkstation = 1,
};

struct RadioStatistics {
  std::uint32_t notified;        // next-packet requests that reported a packet
  std::uint32_t decoded;         // packets decoded
  std::uint32_t written;         // packets written
  std::uint32_t bytesRead;
  std::uint32_t bytesWritten;
  std::uint32_t encoderError;    // the last one
  std::uint32_t decoderError;    // the last one
  std::uint32_t nextPacketErrno;  // of the last failed next-packet request
  std::uint32_t readErrno;        // of the last failed read
  std::uint32_t writeErrno;       // of the last failed write
};

class RadioControl : public IRadioController, private IRadioIntController {
public:
  // Shape 0: the session is bound to the RTP session that attach names.
  RadioControl(int id, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
  // Shape 1: keeps a duplicate of the slot's RTP descriptor and hands the
  // record to the RTP session ('R' 9).
  RadioControl(int id, Fd rtp, rtp_attach_session_params const& attach);
  // Shape 2: id 0.
  explicit RadioControl(rtp_ext_init_params const& init);
  // Releases members only: neither detaches nor unbinds (the slot does that
  // before).
  ~RadioControl() override;

  RadioControl(const RadioControl&) = delete;
  RadioControl& operator=(const RadioControl&) = delete;

  void Bind(IRadioControlNotify* notify) { this->notify = notify; }
  void UnBind() { notify = nullptr; }
  void SetDebug(bool on) { debug = on; }
  void SetRadioControlMode(RadioControlMode m) { mode = m; }
  // Takes effect at the next arming.
  void SetTimerInterval(std::uint32_t ms) { interval = ms; }
  // On arms the timer with the interval (a pending tick is replaced); off
  // cancels it.
  void SetTimerEnable(bool on);

  // Shape 0 opens, initialises and binds a session; shape 1 hands the record
  // to the RTP session; shape 2 opens and initialises one only when reopen
  // is true. False after logging what failed.
  bool RtpExtStart(bool reopen);
  // Shape 0 unbinds and closes the session; shape 1 lets go of its RTP
  // descriptor, so that a restarted RTP session is not kept open by it.
  // True.
  bool RtpExtStop();
  // The slot's current RTP descriptor, for the next RtpExtStart after the
  // RTP session was restarted: shape 0 binds to it, shape 1 keeps a
  // duplicate of it.
  void SetRtpDescriptor(const Fd& rtp);

  // Accepts header extensions from source only (enable) or from everyone
  // again; a source that is no unicast address (0.0.0.0: none known yet)
  // lets everyone in. Asks the driver only for a change; a request it
  // refused is asked again by the next call. Kept across a restart of the
  // session.
  void UpdateAccess(bool enable, in_addr const& source);

  // "rtp_ext[<id>] <local time>:", or "rtp_ext <local time>:" in shape 2.
  const std::string& GetPrefix();

  // Whether the last SendASNToChan took the value but could not write the
  // packet it meant (no session, a failed write): its false is then no
  // refusal.
  bool SendFailed() const { return sendFailed; }

  RadioControlType GetType() const { return type; }
  const RadioStatistics& GetStatistics() const { return stats; }

protected:
  // The age of a millisecond stamp; a stamp ahead of now counts as 0.
  static std::uint32_t Age(std::uint32_t now, std::uint32_t stamp) {
    const std::int32_t age = static_cast<std::int32_t>(now - stamp);
    return age < 0 ? 0 : static_cast<std::uint32_t>(age);
  }
  // Keeps a stamp that nothing renews within reach of Age: 2^31 ms after it
  // it would look fresh again. Called from the status tick, it changes no
  // decision of the engines' intervals and timeouts.
  static void KeepInReach(std::uint32_t now, std::uint32_t& stamp) {
    constexpr std::uint32_t kReach = 1u << 30;
    if (Age(now, stamp) > kReach) stamp = now - kReach;
  }

  // The base only traces a readable session.
  void OnRtpExtEvent(int fd, short revents) override;
  std::uint32_t ProcessRadioStatus(std::uint32_t now, std::uint32_t interval) override;

  // The device steps of the engines' receive and send flows, counted in the
  // statistics. The next-packet request fills nextPacket: its result (1 or
  // more: a packet is pending).
  int RequestNextPacket();
  // read's and write's results; the session is non-blocking, so a read with
  // nothing pending gives -1 with EAGAIN.
  ssize_t ReadPacket(unsigned char* buf, std::size_t size);
  ssize_t WritePacket(const unsigned char* data, std::size_t len);

  RadioControlType type;
  // Of the last next-packet request.
  rtp_ext_next_packet_params nextPacket{};
  RadioControlMode mode = RadioControlGateway;
  RadioStatistics stats{};
  // Mux::milliseconds() at the last timer tick, receive event or send.
  std::uint32_t now = 0;
  std::uint32_t interval = 1000;
  // The slot's RTP channel, shown in the prefix.
  std::uint32_t id = 0;
  bool debug = false;
  // Set by the engines' SendASNToChan.
  bool sendFailed = false;
  IRadioControlNotify* notify = nullptr;
  rtp_ext_init_params init{};

private:
  void Init(RadioControlType type);
  // Opens and initialises a session, binds it when asked to, and watches it.
  bool OpenSession(bool bind);
  // Hand the filter the engine wants to the session.
  void ApplyFilter();
  void SetTimer(std::uint32_t ms);
  void OnProcessStatus(Timer*);
  void OnSessionEvent(int fd, short revents);
  // "<prefix> <what> fail !!! (<error text>)"
  void Failure(const char* what);

  Fd rtpDevice;  // shape 1
  Fd session;
  Event event;
  Timer timer;
  rtp_attach_session_params rtpAttach{};
  rtp_ext_attach_session_params attach{};
  bool timerEnabled = false;
  // The filter the engine wants, and whether the session has it.
  bool filterActive = false;
  bool filterSet = false;
  rtp_ext_filter_params filter{};
  std::string prefix;
  Log::Limiter failures;
  Log::Limiter traces;
};

}  // namespace RTPSignalling
