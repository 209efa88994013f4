#pragma once
// One RTP media stream of the board. The RTP driver ("/dev/rtp") packetises
// the TDM channel it gave the stream and talks RTP with the remote host
// itself; the slot begins the session, joins the channel to the rest of the
// board through the cross-connect, reads the driver's events and sends the
// stream's RTCP SDES and BYE packets from a UDP socket of its own. The tone
// and voice-processing receivers of the channel give it its DTMF, tone, VAD,
// SD, BSS and tone-filter events.
//
// RtpFactory makes the slots of the create alternative rtp without a radio
// part and reports the codec resources; the radio-gateway factories run the
// same creation steps (mediaslots/rtp_setup.h and RtpSlot::Launch).
#include <netinet/in.h>

#include <cstdint>
#include <iosfwd>

#include "board/rtp.h"
#include "foundation/event.h"
#include "foundation/log_limit.h"
#include "foundation/os.h"
#include "mediaslots/rtp_setup.h"
#include "slots/receiver_slot.h"

namespace RTPC {
class Msg;
}

class RtpSlot : public ReceiverSlot<Slot> {
public:
  // Takes a copy of the descriptor of a begun session with its channel
  // added, and watches it for events.
  RtpSlot(int tdm, Fd device, rtp_connection_params const& params);
  // Sends the BYE, closes the RTCP socket and switches off what the
  // receivers switched on.
  ~RtpSlot() override;

  // The last creation steps every RTP factory shares: RTCP starts (the SDES
  // goes out) and the echo canceller follows the stream's echo request.
  void Launch(RtpSetup::Session& session, TERM::RtpParams const& params);

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  bool IOnOutputStream() override;
  bool IOnInputStream() override;
  void IOnOutputRelease() override;
  void IOnInputRelease() override;
  int IGetTransmitChannel() override { return tdm; }
  int IGetReceiveChannel() override { return tdm; }
  const char* GetName() const override { return "rtp"; }

  void startRTPC(Fd& socket, sockaddr_in const& peer);
  void send(RTPC::Msg const& msg);
  void OnRtpEvent(int fd, short revents);
  bool enablePD(LGCP::PDParams const& params);
  bool disablePD();
  // A new session with the stored record on the same channel.
  bool restart();
  int translate_payload(LGCP::CodecMode const& mode) const;
  void setTransmissionDependOnSQU(bool on) { dependOnSQU = on; }

  using Hardware::TonecReceiver::echoCancel;

  std::uint32_t ssrc() const { return params.ssrc; }
  const rtp_connection_params& connection() const { return params; }
  bool input_started() const { return inputStarted; }

protected:
  // "rtp[512]: "
  std::ostream& header(std::ostream& os) const;
  // The session's descriptor as it is now (a restart replaces it).
  const Fd& descriptor() const { return device; }
  bool transmissionDependsOnSQU() const { return dependOnSQU; }
  // Starts ('R' 4) or stops ('R' 5) the driver's input.
  void setInput(bool on);

private:
  std::uint32_t tonec_timeslot() const override { return static_cast<std::uint32_t>(tdm); }
  std::uint32_t dsproc_timeslot() const override { return static_cast<std::uint32_t>(tdm); }
  // encoder-mode and decoder-mode.
  bool changeMode(LGCP::IoctlParams const& command, LGCP::CodecMode const& mode, bool encoder);

  int tdm;
  Fd device;
  Event event;
  // The driver's events and read failures: a device that repeats one must not flood the log.
  Log::Limiter eventLog;
  rtp_connection_params params;
  sockaddr_in rtcpPeer{};
  Fd rtcpSocket;
  int defaultPayload;
  bool inputStarted = false;
  bool dependOnSQU = false;
};

// What the RTP stream factories share: the codec channel counts of
// "/dev/voice", which query reports and their log lines show.
class RtpCodecFactory : public SlotFactory {
public:
  void Query(LGCP::Resources& resources) override;
  // Probes "/dev/voice" for the codec channel counts.
  void IQuery();

  static int translateCodec(TERM::Payload::NamedNumber payload);
  static int translateCodec(TERM::Payload::NamedNumber payload, TERM::Payload::NamedNumber override);
  // "<prefix>[<g723>,<g729>,<g711>,<universal>]: "
  std::ostream& PutHeader(std::ostream& os) const;

protected:
  explicit RtpCodecFactory(const char* prefix);

private:
  const char* prefix;
  RtpSetup::Resources counts;
};

class RtpFactory : public RtpCodecFactory {
public:
  static RtpFactory& instance();

  const char* GetName() const override { return "RTP"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;

private:
  RtpFactory();
};
