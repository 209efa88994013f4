#include "control/testing/commands.h"

#include "messages/LGCP.h"
#include "messages/TERM.h"

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

bool IsActivated(LGCP::Signal const& s) { return s.activated_isSelected(); }

bool IsUserData(LGCP::Signal const& s) { return s.userData_isSelected(); }

std::string Hex(std::string const& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

std::string Hex(std::vector<char> const& bytes) { return Hex(std::string(bytes.begin(), bytes.end())); }

std::string Unhex(std::string const& text) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2)
    bytes += static_cast<char>(std::stoul(text.substr(i, 2), nullptr, 16));
  return bytes;
}

}  // namespace CtrlTest
