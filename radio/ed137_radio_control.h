#pragma once
// The ED-137 radio engine: the radio's R2S headers arrive in the RTP header
// extension of its voice stream and go to the controller as
// TERM::RtpRadioRequest; the controller's TERM::RadioStatus and
// TERM::RadioModifier go to the radio as headers. On its status tick the
// gateway sends a keep-alive when it has sent nothing for one interval and
// reports code 151 while the radio has been silent for the keep-alive
// period times the multiplier.
//
// "Radio" is the controller's side, "chan" the header-extension channel to
// the radio. The radio sends tx headers (its PTT towards the system), the
// gateway rx headers (its state, keep-alives) and a tx header for a tx
// modifier.
//
// Ages are taken by signed difference: a stamp made before the 32-bit
// millisecond clock wrapped is still old after it.
#include <cstdint>

#include "radio/r2s_proto.h"
#include "radio/radio_control.h"

namespace RTPSignalling {

// The radio parameters of the create command.
struct ED137RadioParams {
  std::uint32_t transmission_depend_on_squ = 0;
  std::uint32_t sigtime = 1;
  std::uint32_t r2s_keepalive_period = 200;  // ms
  std::uint32_t r2s_keepalive_multiplier = 10;
  std::uint32_t type = 2;      // TERM::ED137RadioType, radio-txrx
  std::uint32_t txrxmode = 2;  // TERM::ED137RadioTxRxMode, txrx

  void Init(TERM::ED137RadioResponse const& response);
};

struct ED137RadioState {
  // 0x1000 rx header, 0x2000 tx header, 0x0001 header present, 0x0002
  // signal quality present.
  enum : std::uint32_t { kRx = 0x1000, kTx = 0x2000, kHeader = 0x0001, kQuality = 0x0002, kDirection = 0xF000 };

  std::uint32_t command = 0;
  std::uint32_t ptt = 0;  // TERM::ED137RadioPTT
  std::uint32_t squ = 0;  // TERM::ED137RadioSQU
  std::uint32_t ptt_id = 0;
  std::uint32_t ptt_mute = 0;
  std::uint32_t ptt_summation = 0;
  std::uint32_t sct = 0;
  std::uint32_t bss_method = 0;  // TERM::ED137RadioBSSMethod
  std::uint32_t bss_quality = 0;
  std::uint32_t session_addr = 0;  // network byte order
  std::uint32_t session_ssrc = 0;

  bool IsEqual(ED137RadioState const& o) const;
  bool HasQuality() const { return (command & (kRx | kQuality)) == (kRx | kQuality); }
  // Controller values into the state; a status keeps the session.
  int DecodeASN(TERM::ED137RadioModifier const& v);
  int DecodeASN(TERM::ED137RadioStatus const& v);
  // rx or tx by the command; nothing selected for neither.
  int EncodeASN(TERM::ED137RadioModifierParams& params) const;
};

class ED137RadioControl : public RadioControl {
public:
  ED137RadioControl(int id, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
  explicit ED137RadioControl(rtp_ext_init_params const& init);
  ED137RadioControl(int id, Fd rtp, rtp_attach_session_params const& attach);
  ~ED137RadioControl() override;

  void SetParams(ED137RadioParams const& p) { params = p; }

  // False for a value of another protocol, for a modifier with PTT on
  // whose session-addr is no address (it would become the source filter),
  // and when the header could not be written (SendFailed()).
  bool SendASNToChan(TERM::RadioStatus const& v) override;
  bool SendASNToChan(TERM::RadioModifier const& v) override;
  // Squelch as the controller last set it.
  bool GetSQU() override;

  // A received record into a state; -1 for a kind that is neither rx nor tx.
  static int DecodeProto(r2s_proto const& p, ED137RadioState& s);
  static int EncodeStatusASN(ED137RadioState const& s, TERM::RtpRadioRequest& request);
  static int EncodeASN(ED137RadioState const& status, ED137RadioState const& s, TERM::RtpRadioRequest& request);

  const ED137RadioState& GetRadioState() const { return radioState; }
  const ED137RadioState& GetChanState() const { return chanState; }

protected:
  void OnRtpExtEvent(int fd, short revents) override;

  virtual int PutProtoFromRadioToChan(ED137RadioState const&) { return 0; }
  virtual int PutProtoFromChanToRadio(ED137RadioState const&) { return 0; }
  virtual bool AccessFormChanToRadio(ED137RadioState const&) { return true; }
  virtual int EncodeProto(ED137RadioState const&, r2s_proto&) { return 0; }

  int OnRtpProtoRXEvent(r2s_proto const& p);
  // -1 when the header was due and could not be written.
  int SendRadioStateToChan(ED137RadioState const& s);
  bool NeedSendProto(ED137RadioState const& s) const;
  // write's result, or 0 when the record did not pack.
  int SendProtoToChan(r2s_proto const& p);

  ED137RadioParams params;
  r2s_proto rxProto{};
  r2s_proto prevProto{};
  std::uint32_t lastSend = 0;
  std::uint32_t lastReport = 0;
  std::uint32_t lastReceive = 0;
  // What the radio last reported, and what the controller last set.
  ED137RadioState chanState;
  ED137RadioState radioState;

private:
  void Init();
  void Trace(std::uint32_t command, const char* what, TERM::RtpRadioRequest const& request);

  Log::Limiter refusals;
  Log::Limiter traceLines;
};

class ED137RadioGWControl : public ED137RadioControl {
public:
  using ED137RadioControl::ED137RadioControl;

protected:
  int PutProtoFromRadioToChan(ED137RadioState const& s) override;
  int PutProtoFromChanToRadio(ED137RadioState const& s) override;
  bool AccessFormChanToRadio(ED137RadioState const& s) override;
  int EncodeProto(ED137RadioState const& s, r2s_proto& p) override;
  std::uint32_t ProcessRadioStatus(std::uint32_t now, std::uint32_t interval) override;
};

}  // namespace RTPSignalling
