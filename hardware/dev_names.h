#pragma once
// The board's device paths, the codec class names, the texts of RTP driver
// errors and the trace form of the RTP driver records, in one place so that
// every service opens the same device by the same name.
#include <iosfwd>

#include "board/rtp.h"
#include "board/rtp_ext.h"

const char* GetVoiceDevName();
const char* GetMixerDevName();
const char* GetDTMFDevName();
const char* GetDSPDevName();
const char* GetRtpDevName();
const char* GetRtpExtDevName();
const char* GetModemDevName();
const char* GetMaintenance();
const char* GetSpiTdmDevName();

// The codec classes of the traces, numbered from 0.
namespace TraceCodec {
enum : int { kUnknown, kG711, kG723, kG729, kTonec, kG711Rtp, kG729Rtp, kG723Rtp, kConf, kCount };
}

// "invalid" outside the classes.
const char* GetCodecAsStr(int codec);

// A failed RTP driver call: errno as it was when built, and the caller's code.
class RtpErr {
public:
  explicit RtpErr(int code);
  int error() const { return err_; }
  int code() const { return code_; }
  // The system's text of the captured errno; the code is not printed.
  void Put(std::ostream& out) const;

private:
  int err_;
  int code_;
};

std::ostream& operator<<(std::ostream& out, const RtpErr& e);

// An unknown code's text lives in one static buffer that the next unknown code
// overwrites.
const char* RTPStrError(int code);

// Block printers: name, "{", one line per field, "}", each line indented by
// two blanks. Numbers follow the stream's current base.
std::ostream& operator<<(std::ostream& out, const rtp_connection_params& p);
std::ostream& operator<<(std::ostream& out, const rtp_attach_session_params& p);
std::ostream& operator<<(std::ostream& out, const rtp_ext_attach_session_params& p);
std::ostream& operator<<(std::ostream& out, const rtp_ext_init_params& p);
// One line part, no indent and no line end.
std::ostream& operator<<(std::ostream& out, const rtp_channel_info& p);
