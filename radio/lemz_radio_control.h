#pragma once
// The LEMZ radio engine: the radio state, the receive flow that reads and
// coalesces LEMZ packets and reports them as TERM::RtpRadioRequest, the
// transmit flow that turns the controller's TERM::RadioStatus and
// TERM::RadioModifier into packets, and the conversions between the state,
// the packet record and the TERM values.
//
// "Radio" is the controller's side (it stands for the radio equipment),
// "chan" the header-extension channel to the LEMZ peer. The gateway and
// workstation engines fill the four protocol hooks; this class alone admits
// every packet and sends nothing.
//
// Device and codec errors are counted in the statistics, never logged: the
// peer decides how many there are.
#include <netinet/in.h>

#include <cstdint>

#include "radio/radio_control.h"
#include "radio/sig_proto.h"

namespace RTPSignalling {

// True for the PTT commands: 1, 3, 9, 129, 130, 133.
bool isPTTCommand(int command);
// True for 0 and every negative value: the state stands for all its fields.
bool isDefaultInitCommand(int command);

struct LemzRadioState {
  std::int32_t command = 0;  // LEMZ packet type, or the default-init command
  std::int32_t priority = 15;  // lower is stronger
  std::int32_t ptt = 0;
  std::uint32_t session_addr = 0;  // network byte order
  std::uint32_t session_ssrc = 0;
  char caller_id[SigProto::kCallerId] = {};  // zero-terminated
  std::int32_t bss = 0;
  std::int32_t vad_rx = 0;
  std::int32_t vad_tx = 0;
  std::int32_t sql = 0;
  std::int32_t sh = 0;
  std::int32_t pwr = 0;
  std::int32_t rv = 0;
  std::int32_t resv = 0;
  std::int32_t selcall = 0;  // 0..3
  std::int32_t li = 0;       // 0..511
  std::int32_t remote_no = 0;
  std::int32_t remote_ch = 0;
  std::int32_t channel = 0;
  float frequency = 0.0f;
  std::int32_t squelshe = -1;  // TERM::RadioSquelshe, -1 not set
  std::int32_t rte = -1;       // TERM::RadioRTE, -1 not set
  std::int32_t standby_state_channel = -1;  // TERM::RadioStandby, -1 not used
  std::int32_t standby_group = -1;
  std::int32_t standby_state_receiver = -1;
  float quality = 0.0f;
  std::uint32_t source_addr = 0;  // network byte order
  std::uint32_t source_ssrc = 0;
};

class LemzRadioControl : public RadioControl {
public:
  // The three shapes of the base.
  LemzRadioControl(int id, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
  explicit LemzRadioControl(rtp_ext_init_params const& init);
  LemzRadioControl(int id, Fd rtp, rtp_attach_session_params const& attach);
  ~LemzRadioControl() override;

  // False for a value of another protocol, for a wm-trans or wm-selcall
  // whose ip is no address, and when the packet could not be written
  // (SendFailed()).
  bool SendASNToChan(TERM::RadioStatus const& v) override;
  bool SendASNToChan(TERM::RadioModifier const& v) override;
  // Squelch as the controller last set it.
  bool GetSQU() override;

  // Controller values into a state: a status stands for all its fields
  // (command 0), a modifier for the one command it selects.
  static int DecodeASN(TERM::LemzRadioStatus const& v, LemzRadioState& s);
  static int DecodeASN(TERM::LemzRadioModifier const& v, LemzRadioState& s);
  // A packet into a state; -1 for a type outside the table.
  static int DecodeProto(sig_proto const& p, LemzRadioState& s);
  // The request: status from the first state, the command of the second.
  static int EncodeASN(LemzRadioState const& status, LemzRadioState const& s, TERM::RtpRadioRequest& request);
  static int EncodeStatusASN(LemzRadioState const& s, TERM::RtpRadioRequest& request);

  const LemzRadioState& GetRadioState() const { return radioState; }
  const LemzRadioState& GetChanState() const { return chanState; }
  // Received packets that did not unpack.
  std::uint32_t GetDropped() const { return dropped; }

protected:
  void OnRtpExtEvent(int fd, short revents) override;

  // Stores the controller's state; 0 when the command is to be sent.
  virtual int PutProtoFromRadioToChan(LemzRadioState const&) { return 0; }
  // Stores a received packet's state.
  virtual int PutProtoFromChanToRadio(LemzRadioState const&) { return 0; }
  // Non-zero to pass a received packet on to the controller.
  virtual int AccessFormChanToRadio(LemzRadioState const&) { return 1; }
  // 0 when the engine sends the command, p filled.
  virtual int EncodeProto(LemzRadioState const&, sig_proto&) { return 0; }

  int OnRtpProtoRXEvent(sig_proto const& p);
  // -1 when the packet was due and could not be written.
  int SendRadioStateToChan(LemzRadioState const& s);
  // write's result, or 0 when the record did not pack.
  int SendProtoToChan(sig_proto const& p);
  // The source filter on the transmitter's owner while PTT is on.
  virtual void ApplyAccess();
  // The start every EncodeProto makes: type, source and header fields.
  static void EncodeHeader(LemzRadioState const& s, sig_proto& p);

  // When the four periodic items of a gateway were last sent: flags or
  // transmitter, channel, remote-control channel, standby.
  enum { kItemFlags, kItemChannel, kItemRemote, kItemStandby, kItems };
  std::uint32_t itemTime[kItems] = {};
  // What the peer last reported, and what the controller last set.
  LemzRadioState chanState;
  LemzRadioState radioState;

private:
  int Init();
  // "<prefix> command=0x<c> <what>: <request>" when debug is on.
  void Trace(int command, const char* what, TERM::RtpRadioRequest const& request);

  sig_proto rxProto{};
  sig_proto prevProto{};
  std::uint32_t dropped = 0;
  Log::Limiter refusals;
  Log::Limiter traceLines;
};

}  // namespace RTPSignalling
