#pragma once
// The creation steps every RTP-carrying slot shares: the payload numbers,
// the RTCP socket, the driver session with its record and TDM channel, and
// the probe of the codec resources. The RTP factory and the radio-gateway
// factories run the same steps; only the bss word of the add-channel request
// differs.
#include <netinet/in.h>

#include <cstdint>
#include <iosfwd>
#include <string>

#include "board/rtp.h"
#include "foundation/os.h"
#include "messages/LGCP_fwd.h"
#include "messages/TERM_fwd.h"

namespace RtpSetup {

// The RTP payload number of a payload; false for one the driver does not
// carry.
bool PayloadNumber(TERM::Payload::NamedNumber payload, int& number);
// The number of payload; but an override that differs and names one of the
// two G.711 laws wins. 0 for a payload the driver does not carry.
int TranslateCodec(TERM::Payload::NamedNumber payload, TERM::Payload::NamedNumber override);
// alaw 8, ulaw 0, lbrc the stream's own payload.
int TranslatePayload(LGCP::CodecMode const& mode, int defaultPayload);

// A fresh SSRC from a generator seeded once from the system's entropy.
std::uint32_t NextSsrc();

// The codec channel counts of "/dev/voice", in the order of the resource
// report: g729, g723, g711, g711mcc, universal.
struct Resources {
  std::uint32_t g729 = 0;
  std::uint32_t g723 = 0;
  std::uint32_t g711 = 0;
  std::uint32_t g711mcc = 0;
  std::uint32_t universal = 0;
};
// A device that cannot be opened leaves every count 0 (and says so on the
// error stream).
Resources Probe();

// What a created stream holds: its RTCP socket and peer, the driver session
// and its record and channel.
struct Session {
  Fd socket;
  sockaddr_in peer{};
  Fd device;
  rtp_connection_params params{};
  int tdm = -1;
};

// Runs the creation steps for the stream of params; every line goes to the
// log or the error stream after header. False leaves nothing open. Without
// reuseAddress the RTCP port must be free.
bool Create(const std::string& header, TERM::RtpParams const& params, TERM::Payload::NamedNumber txPayload,
            TERM::Payload::NamedNumber rxPayload, std::int32_t bss, Session& out, bool reuseAddress = true);

// Opens "/dev/rtp" without blocking, begins the session with the record and
// asks for the channel (kAny for any); the channel the driver gave, or -1 with
// what failed in `failed` and errno kept.
int Open(const rtp_connection_params& params, std::int32_t tdm, std::int32_t bss, Fd& device, std::string& failed);

}  // namespace RtpSetup
