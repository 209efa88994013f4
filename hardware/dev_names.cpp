#include "hardware/dev_names.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <ostream>

#include "board/dsp.h"
#include "board/dtmf.h"
#include "board/maintenance.h"
#include "board/mctl.h"
#include "board/mixer.h"
#include "board/voice.h"

const char* GetVoiceDevName() { return Board::Voice::kDevice; }
const char* GetMixerDevName() { return Board::Mixer::kDevice; }
const char* GetDTMFDevName() { return Board::Dtmf::kDevice; }
const char* GetDSPDevName() { return Board::Dsp::kDevice; }
const char* GetRtpDevName() { return Board::Rtp::kDevice; }
const char* GetRtpExtDevName() { return Board::RtpExt::kDevice; }
const char* GetModemDevName() { return Board::Mctl::kDevice; }
const char* GetMaintenance() { return Board::Maintenance::kDevice; }
const char* GetSpiTdmDevName() { return "/dev/spi_tdm"; }

namespace {

constexpr const char* codecNames[] = {"unknown",  "g711",     "g723",     "g729", "tonec",
                                      "g711-rtp", "g729-rtp", "g723-rtp", "conf"};
static_assert(std::size(codecNames) == TraceCodec::kCount);

struct RtpErrorText {
  int code;
  const char* text;
};

constexpr RtpErrorText rtpErrors[] = {
    {0, "No error"},
    {0x3000002, "Parameter out of range"},
    {0x3000004, "Memory allocation failed"},
    {0x3000008, "Allocated buffer too small"},
    {0x3000101, "Maximum number of contexts exceeded"},
    {0x3000102, "Context destroyed or never created"},
    {0x3000103, "Socket not open for reading or writing"},
    {0x3000104, "Can't obtain a new socket"},
    {0x3000105, "Can't bind socket"},
    {0x3000106, "Unable to set socket option"},
    {0x3000107, "Unable to write to socket"},
    {0x3000108, "Unable to read from socket"},
    {0x3000109, "Socket does not belong to session"},
    {0x300010A, "Change not allowed during open session"},
    {0x300010B, "Invalid address specified"},
    {0x300010C, "Invalid port specified"},
    {0x300010E, "Unable to close session"},
    {0x300010F, "No such membership info"},
    {0x3000110, "Invalid rtpprofile specified"},
    {0x3000111, "no data to receive at socket"},
    {0x3000112, "Packet looped back"},
    {0x3000113, "CSRC list not yet set"},
    {0x3000114, "2 CSRCs on list have same SSRC"},
    {0x3000115, "Packet has incorrect format"},
    {0x3000116, "Person not session member"},
    {0x3000117, "Person data protected"},
    {0x3000118, "No such sender in current session"},
    {0x3000119, "No such SDES field"},
    {0x300011A, "Encryption / decryption function not set"},
    {0x300011B, "Packet was unsuccessfully decrypted"},
    {0x300011C, "End of iterating list"},
    {0x300011D, "Not allowed to recurse"},
    {0x300011E, "SSRC in use"},
    {0x300011F, "Couldn't get socket name"},
    {0x3000120, "No such contributor"},
    {0x3000121, "CSRC list full"},
    {0x3000122, "Don't send this packet now"},
};

// The library's codes: 0, three of the general ones, and 0x101 to 0x122 of
// the session's but 0x10D, each once.
constexpr bool Ascending() {
  for (std::size_t i = 1; i < std::size(rtpErrors); ++i)
    if (rtpErrors[i - 1].code >= rtpErrors[i].code) return false;
  return true;
}
static_assert(Ascending());
static_assert(std::size(rtpErrors) == 1 + 3 + (0x122 - 0x101 + 1) - 1);
static_assert(rtpErrors[std::size(rtpErrors) - 1].code == 0x3000122);

char unknownRtpError[64];

}  // namespace

const char* GetCodecAsStr(int codec) {
  if (codec < 0 || codec >= TraceCodec::kCount) return "invalid";
  return codecNames[codec];
}

RtpErr::RtpErr(int code) : err_(errno), code_(code) {}

void RtpErr::Put(std::ostream& out) const { out << std::strerror(err_); }

std::ostream& operator<<(std::ostream& out, const RtpErr& e) {
  e.Put(out);
  return out;
}

const char* RTPStrError(int code) {
  for (const RtpErrorText& e : rtpErrors)
    if (e.code == code) return e.text;
  std::snprintf(unknownRtpError, sizeof unknownRtpError, "Unknown RTP Error %d", code);
  return unknownRtpError;
}

std::ostream& operator<<(std::ostream& out, const rtp_connection_params& p) {
  out << "  rtp_connection_params\n"
      << "  {\n"
      << "   packet_factor = " << p.packet_factor << "\n"
      << "   rx_pt = " << p.rx_pt << "\n"
      << "   tx_pt = " << p.tx_pt << "\n"
      << "   ssrc = " << p.ssrc << "\n"
      << "  }\n";
  return out;
}

namespace {

template <class Params>
std::ostream& PutAttach(std::ostream& out, const char* name, const Params& p) {
  out << "  " << name << "\n"
      << "  {\n"
      << "   fd_rtp = " << p.fd_rtp << "\n"
      << "   pid_rtp = " << p.pid_rtp << "\n"
      << "  }\n";
  return out;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const rtp_attach_session_params& p) {
  return PutAttach(out, "rtp_attach_session_params", p);
}

std::ostream& operator<<(std::ostream& out, const rtp_ext_attach_session_params& p) {
  return PutAttach(out, "rtp_ext_attach_session_params", p);
}

std::ostream& operator<<(std::ostream& out, const rtp_ext_init_params& p) {
  out << "  rtp_ext_init_params\n"
      << "  {\n"
      << "   etype = " << p.etype << "\n"
      << "  }\n";
  return out;
}

std::ostream& operator<<(std::ostream& out, const rtp_channel_info& p) {
  return out << "rtp_channel_info"
             << " {"
             << " tdm=" << p.tdm << " dev_no=" << p.dev_no << " chn=" << p.chn << " }";
}
