#include "control/testing/commands.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <vector>

#include "foundation/ext_text.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "transport/testing/free_port.h"

namespace CtrlTest {

LGCP::Command Trunk(int trunk, int timeslot, bool bri) {
  LGCP::Command c;
  LGCP::TrunkParams& p = bri ? c.select_create().select_trunk_bri() : c.select_create().select_trunk();
  p.set_trunk(unsigned(trunk));
  p.set_timeslot(unsigned(timeslot));
  return c;
}

LGCP::Command Map(int txBus, int txChannel, int rxBus, int rxChannel) {
  LGCP::Command c;
  LGCP::MapParams& p = c.select_create().select_map();
  if (txBus >= 0) {
    p.set_transmitter().set_bus(unsigned(txBus));
    p.set_transmitter().set_channel(unsigned(txChannel));
  }
  if (rxBus >= 0) {
    p.set_receiver().set_bus(unsigned(rxBus));
    p.set_receiver().set_channel(unsigned(rxChannel));
  }
  return c;
}

LGCP::Command ClockCfg(LGCP::ClkSel0::NamedNumber sel, LGCP::BExtEn::NamedNumber ext, int source) {
  LGCP::Command c;
  LGCP::ClockCfg& cfg = c.select_clockCfg();
  cfg.set_clkSel0(sel);
  cfg.set_bextEn(ext);
  cfg.set_source(source);
  return c;
}

LGCP::Command Ss7(int trunk, bool emergency) {
  LGCP::Command c;
  LGCP::SS7Params& p = c.select_create().select_pstn().select_ss7();
  p.set_trunk(trunk);
  p.set_slc(0);
  p.set_dpc(1);
  p.set_opc(2);
  p.set_emergency(emergency);
  return c;
}

LGCP::Command PstnIsdn(bool bri, int trunk, bool network, int log) {
  LGCP::Command c;
  LGCP::IsdnParams params = Isdn(bri, trunk, network).get_create().get_isdn();
  params.set_log(log);
  c.select_create().select_pstn().select_isdn(params);
  return c;
}

LGCP::Command Mcc(LGCP::MccType::NamedNumber type, LGCP::MccMode::NamedNumber mode) {
  LGCP::Command c;
  LGCP::MccParams& p = c.select_create().select_mcc();
  p.set_type(type);
  p.set_mode(mode);
  return c;
}

LGCP::Command Mcc() { return Mcc(LGCP::MccType::data, LGCP::MccMode::standard); }

LGCP::Command MixerIn(int unit, int channel, int summator) {
  LGCP::Command c;
  LGCP::MixerInParams& p = c.select_create().select_mixerIn();
  p.set_unit(unit);
  p.set_channel().select_tdm(channel);
  if (summator == -2)
    p.set_summator().select_rtp(1);
  else if (summator >= 0)
    p.set_summator().select_tdm(summator);
  return c;
}

LGCP::Command MixerOut(int unit, int channel, std::vector<std::pair<int, int>> const& inputs) {
  LGCP::Command c;
  LGCP::MixerOutParams& p = c.select_create().select_mixerOut();
  p.set_unit(unit);
  p.set_channel().select_tdm(channel);
  p.set_inputs().clear();
  for (const auto& in : inputs) {
    LGCP::MixerInput input;
    input.set_channel().select_tdm(in.first);
    input.set_gain(in.second);
    p.set_inputs().push_back(input);
  }
  return c;
}

LGCP::Command Isdn(bool bri, int trunk, bool network) {
  LGCP::Command c;
  LGCP::IsdnParams& p = c.select_create().select_isdn();
  p.set_type(bri ? LGCP::IsdnType::bri : LGCP::IsdnType::pri);
  p.set_trunk(trunk);
  p.set_log(0);
  if (network)
    p.set_side().select_network();
  else
    p.set_side().select_user();
  return c;
}

LGCP::Command FilePlayer(std::vector<std::string> const& names, int repeat) {
  LGCP::Command c;
  LGCP::PlayerParams_file& p = c.select_create().select_voice().select_player().select_file();
  for (std::string const& n : names) p.set_name().push_back(new ASN1::IA5String(n));
  p.set_repeat(repeat);
  return c;
}

LGCP::Command ConnectTo(long target) {
  LGCP::Command c;
  c.select_connect(unsigned(target));
  return c;
}

LGCP::Command Disconnect() {
  LGCP::Command c;
  c.select_disconnect();
  return c;
}

LGCP::Command Destroy() {
  LGCP::Command c;
  c.select_destroy();
  return c;
}

LGCP::Command Query() {
  LGCP::Command c;
  c.select_query();
  return c;
}

LGCP::Command Activate() {
  LGCP::Command c;
  c.select_activate().select_empty();
  return c;
}

LGCP::Command Deactivate() {
  LGCP::Command c;
  c.select_deactivate();
  return c;
}

LGCP::Command UserData(std::vector<char> const& bytes) {
  LGCP::Command c;
  c.select_userData(bytes);
  return c;
}

LGCP::Command UserData(std::string const& bytes) { return UserData(std::vector<char>(bytes.begin(), bytes.end())); }

LGCP::Command Ioctl(std::function<void(LGCP::IoctlParams&)> const& fill) {
  LGCP::Command c;
  fill(c.select_ioctl());
  return c;
}

LGCP::Command Rtp(unsigned remote, int local, RtpTweak const& tweak) {
  LGCP::Command c;
  LGCP::CreateRtpParams& p = c.select_create().select_rtp();
  TERM::RtpParams& codec = p.set_codecRTP();
  codec.set_payload(TERM::Payload::ptG711_Alaw);
  TERM::HostAddress& d = codec.set_dhost();
  d.set_iaddr("127.0.0.1");
  d.set_port(remote);
  if (local >= 0) {
    TERM::HostAddress& s = codec.set_shost();
    s.set_iaddr("127.0.0.1");
    s.set_port(unsigned(local));
  }
  p.set_txPayload(TERM::Payload::ptG711_Alaw);
  p.set_rxPayload(TERM::Payload::ptG711_Alaw);
  if (tweak) tweak(p);
  return c;
}

bool UdpReceiver::Bind() {
  fd = Fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
  socklen_t len = sizeof a;
  ::getsockname(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return true;
}

std::string UdpReceiver::Receive(int timeout_ms) {
  pollfd p = {fd.lowlevel_fd(), POLLIN, 0};
  if (::poll(&p, 1, timeout_ms) != 1) return "";
  char buf[2048];
  const ssize_t n = ::recv(fd.lowlevel_fd(), buf, sizeof buf, 0);
  return n > 0 ? std::string(buf, std::size_t(n)) : "";
}

bool UdpPortFree(unsigned port) { return porttest::BindAny(SOCK_DGRAM, port).is_valid(); }

unsigned LocalPort(unsigned avoid) {
  // A block that touches avoid stays taken until another came, or the next
  // hand-out would be that block again.
  std::vector<unsigned short> touching;
  unsigned short p = 0;
  while ((p = porttest::Reserve(SOCK_DGRAM, 2)) != 0 && (p == avoid || p + 1u == avoid)) touching.push_back(p);
  for (unsigned short t : touching) porttest::Release(t);
  return p;
}

bool IsActivated(LGCP::Signal const& s) { return s.activated_isSelected(); }

bool IsUserData(LGCP::Signal const& s) { return s.userData_isSelected(); }

std::string Hex(std::string const& bytes) { return ext::hex_text(bytes); }

std::string Hex(std::vector<char> const& bytes) { return Hex(std::string(bytes.begin(), bytes.end())); }

std::string Unhex(std::string const& text) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2)
    bytes += static_cast<char>(std::stoul(text.substr(i, 2), nullptr, 16));
  return bytes;
}

}  // namespace CtrlTest
