#include "mediaslots/rtp_setup.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/socket.h>

#include <iostream>
#include <random>

#include "board/board.h"
#include "board/voice.h"
#include "hardware/dev_names.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"

namespace RtpSetup {

namespace {

struct PayloadRow {
  TERM::Payload::NamedNumber payload;
  int number;
};

const PayloadRow kPayloads[] = {
    {TERM::Payload::ptG711_Alaw, 8}, {TERM::Payload::ptG711_Ulaw, 0},      {TERM::Payload::ptG723, 4},
    {TERM::Payload::ptG729, 18},     {TERM::Payload::ptG711mcc_Alaw, 136}, {TERM::Payload::ptG711mcc_Ulaw, 128},
    {TERM::Payload::ptG728, 15},
};

// The dotted address as inet_addr gives it; false for one that is none.
bool Address(const std::string& text, std::uint32_t& addr) {
  in_addr a;
  if (::inet_aton(text.c_str(), &a) == 0) return false;
  addr = a.s_addr;
  return true;
}

}  // namespace

bool PayloadNumber(TERM::Payload::NamedNumber payload, int& number) {
  for (const PayloadRow& r : kPayloads)
    if (r.payload == payload) {
      number = r.number;
      return true;
    }
  return false;
}

int TranslateCodec(TERM::Payload::NamedNumber payload, TERM::Payload::NamedNumber override) {
  int number = 0;
  if (override != payload && (override == TERM::Payload::ptG711_Alaw || override == TERM::Payload::ptG711_Ulaw))
    payload = override;
  return PayloadNumber(payload, number) ? number : 0;
}

int TranslatePayload(LGCP::CodecMode const& mode, int defaultPayload) {
  switch (mode.asInt()) {
    case LGCP::CodecMode::alaw:
      return 8;
    case LGCP::CodecMode::ulaw:
      return 0;
    default:
      return defaultPayload;
  }
}

std::uint32_t NextSsrc() {
  static std::mt19937 generator = [] {
    std::uint32_t seed[4] = {};
    // Without entropy the clock still tells two daemons apart.
    if (::getrandom(seed, sizeof seed, 0) != static_cast<ssize_t>(sizeof seed)) {
      std::random_device device;
      for (auto& s : seed) s = device();
    }
    std::seed_seq seq(std::begin(seed), std::end(seed));
    return std::mt19937(seq);
  }();
  return static_cast<std::uint32_t>(generator());
}

Resources Probe() {
  Resources r;
  Fd device = Board::open(GetVoiceDevName(), O_RDONLY);
  if (!device) {
    const Errno err;
    std::cerr << "device \"" << GetVoiceDevName() << "\" open fail: " << err << std::endl;
    return r;
  }
  const struct {
    std::uint32_t codec_class;
    std::uint32_t Resources::*count;
  } classes[] = {
      {Board::Voice::kClassG729, &Resources::g729},           {Board::Voice::kClassG723, &Resources::g723},
      {Board::Voice::kClassG711, &Resources::g711},           {Board::Voice::kClassG711Mcc, &Resources::g711mcc},
      {Board::Voice::kClassUniversal, &Resources::universal},
  };
  for (const auto& c : classes) {
    std::uint32_t word = c.codec_class;
    if (Board::ioctl(device.lowlevel_fd(), Board::Voice::kClassCount, &word) < 0) continue;
    // The driver's word is a signed count.
    if (static_cast<std::int32_t>(word) > 0) r.*c.count = word;
  }
  return r;
}

int Open(const rtp_connection_params& params, std::int32_t tdm, std::int32_t bss, Fd& device, std::string& failed) {
  // The loop reads events until EAGAIN.
  device = Board::open(GetRtpDevName(), O_RDONLY | O_NONBLOCK);
  if (!device) {
    failed = "open";
    return -1;
  }
  rtp_connection_params record = params;
  if (Board::ioctl(device.lowlevel_fd(), Board::Rtp::kBeginSession, &record) < 0) {
    failed = "begin session";
    const int error = errno;
    device.close();
    errno = error;
    return -1;
  }
  rtp_add_channel_params add = {};
  add.info.tdm = tdm;
  add.info.dev_no = Board::Rtp::kAny;
  add.info.chn = Board::Rtp::kAny;
  add.bss = bss;
  if (Board::ioctl(device.lowlevel_fd(), Board::Rtp::kAddChannel, &add) < 0 || add.info.tdm < 0) {
    failed = "add channel";
    const int error = errno;
    device.close();
    errno = error;
    return -1;
  }
  return add.info.tdm;
}

bool Create(const std::string& header, TERM::RtpParams const& params, TERM::Payload::NamedNumber txPayload,
            TERM::Payload::NamedNumber rxPayload, std::int32_t bss, Session& out, bool reuseAddress) {
  const auto payload = static_cast<TERM::Payload::NamedNumber>(params.get_payload().asInt());
  int number = 0;
  if (!PayloadNumber(payload, number)) {
    std::clog << header << "rtp do not created: payload " << params.get_payload() << " not found" << std::endl;
    return false;
  }
  const TERM::HostAddress& remote = params.get_dhost();
  const TERM::HostAddress& local = params.shost_isPresent() ? params.get_shost() : remote;
  const unsigned remote_port = static_cast<unsigned>(remote.get_port().getValue());
  const unsigned local_port = static_cast<unsigned>(local.get_port().getValue());
  // RTCP goes from the port above the local one to the port above the
  // remote one; the top port has none above it.
  if (remote_port >= 65535 || local_port >= 65535) {
    std::clog << header << "rtp do not created: no RTCP port above " << (remote_port >= 65535 ? "remote" : "local")
              << " port " << (remote_port >= 65535 ? remote_port : local_port) << std::endl;
    return false;
  }
  std::uint32_t remote_addr = 0, local_addr = 0;
  const std::string* bad = nullptr;
  if (!Address(remote.get_iaddr(), remote_addr))
    bad = &remote.get_iaddr();
  else if (params.shost_isPresent() && !Address(params.get_shost().get_iaddr(), local_addr))
    bad = &params.get_shost().get_iaddr();
  if (bad) {
    std::clog << header << "rtp do not created: bad address \"" << *bad << "\"" << std::endl;
    return false;
  }

  Fd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
  if (!socket) {
    const Errno err;
    std::clog << header << "rtp do not created: can not create socket [errno=" << err << "]" << std::endl;
    return false;
  }
  const int on = 1;
  if (reuseAddress) ::setsockopt(socket.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in bound = {};
  bound.sin_family = AF_INET;
  bound.sin_addr.s_addr = htonl(INADDR_ANY);
  bound.sin_port = htons(static_cast<std::uint16_t>(local_port + 1));
  if (::bind(socket.lowlevel_fd(), reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0) {
    const Errno err;
    std::clog << header << "rtp do not created: can not bind socket [errno=" << err << ", port=" << local_port + 1
              << "]" << std::endl;
    return false;
  }

  rtp_connection_params& p = out.params;
  p = rtp_connection_params{};
  p.remote_addr = remote_addr;
  p.remote_port = static_cast<std::uint16_t>(remote_port);
  p.local_addr = local_addr;
  p.local_port = static_cast<std::uint16_t>(local_port);
  p.rx_pt = static_cast<std::uint16_t>(TranslateCodec(payload, rxPayload));
  p.tx_pt = static_cast<std::uint16_t>(TranslateCodec(payload, txPayload));
  p.packet_factor = params.pfactor_isPresent() ? static_cast<std::uint16_t>(params.get_pfactor().getValue()) : 0;
  p.vad = params.vad_isPresent() && params.get_vad() ? 1 : 0;
  p.crate = params.crate_isPresent() && params.get_crate().getValue() != 0 ? 1 : 0;
  p.ssrc = params.ssrc_isPresent() ? static_cast<std::uint32_t>(params.get_ssrc().getValue()) : NextSsrc();
  p.ttl = params.ttl_isPresent() ? static_cast<std::uint32_t>(params.get_ttl().getValue()) : 0;
  p.tos = params.qos_dscp_isPresent() ? (params.get_qos_dscp().asInt() & 63) * 4 : -1;

  std::string failed;
  Fd device;
  const int tdm = Open(p, Board::Rtp::kAny, bss, device, failed);
  if (tdm < 0) {
    const Errno err;
    if (failed == "open")
      std::cerr << header << "device \"" << GetRtpDevName() << "\" open fail: " << err << std::endl;
    else if (failed == "begin session")
      std::cerr << header << "begin session fail !!! " << err << std::endl;
    else
      std::cerr << header << "add channel fail !!!"
                << " " << err << std::endl;
    return false;
  }

  out.socket = std::move(socket);
  out.device = std::move(device);
  out.tdm = tdm;
  out.peer = sockaddr_in{};
  out.peer.sin_family = AF_INET;
  out.peer.sin_addr.s_addr = remote_addr;
  out.peer.sin_port = htons(static_cast<std::uint16_t>(remote_port + 1));
  return true;
}

}  // namespace RtpSetup
