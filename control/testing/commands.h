#pragma once
// Commands of the controller and readings of its signals as the tests write
// them: one builder per command, a default where the tests differ by a field.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/os.h"
#include "messages/LGCP.h"

namespace CtrlTest {

// create trunk (trunk_bri when bri) on a timeslot of the trunk.
LGCP::Command Trunk(int trunk, int timeslot, bool bri = false);
// create map: a bus of -1 leaves that direction out.
LGCP::Command Map(int txBus, int txChannel, int rxBus = -1, int rxChannel = 0);
// create isdn: a D-channel of a PRI or BRI trunk, the user or the network side.
LGCP::Command Isdn(bool bri, int trunk, bool network);
// clockCfg: the clock selection, external enable and source.
LGCP::Command ClockCfg(LGCP::ClkSel0::NamedNumber sel, LGCP::BExtEn::NamedNumber ext, int source);
// create pstn ss7 on the trunk's signalling timeslot (emergency: short proving).
LGCP::Command Ss7(int trunk, bool emergency = true);
// create pstn isdn: the isdn parameters as Isdn() makes them, traced at log.
LGCP::Command PstnIsdn(bool bri, int trunk, bool network, int log = 0);
// create mcc.
LGCP::Command Mcc(LGCP::MccType::NamedNumber type, LGCP::MccMode::NamedNumber mode);
LGCP::Command Mcc();  // a standard data channel
// create mixerIn on a TDM channel; summator -1: none, -2: an rtp one.
LGCP::Command MixerIn(int unit, int channel, int summator = -1);
// create mixerOut on a TDM channel, mixing (TDM channel, gain) inputs.
LGCP::Command MixerOut(int unit, int channel, std::vector<std::pair<int, int>> const& inputs = {});
// create voice player file: the phrases in turn, repeat times.
LGCP::Command FilePlayer(std::vector<std::string> const& names, int repeat);
LGCP::Command ConnectTo(long target);
LGCP::Command Disconnect();
LGCP::Command Destroy();
LGCP::Command Query();
// activate with no parameters.
LGCP::Command Activate();
LGCP::Command Deactivate();
LGCP::Command UserData(std::vector<char> const& bytes);
LGCP::Command UserData(std::string const& bytes);
// ioctl whose parameters fill chooses.
LGCP::Command Ioctl(std::function<void(LGCP::IoctlParams&)> const& fill);
// create rtp: an A-law stream to 127.0.0.1 port remote, from local when
// local is not negative (no shost otherwise); tweak changes the rest.
using RtpTweak = std::function<void(LGCP::CreateRtpParams&)>;
LGCP::Command Rtp(unsigned remote, int local, RtpTweak const& tweak = nullptr);

// A UDP socket on 127.0.0.1 that takes what the daemon sends (RTCP).
class UdpReceiver {
public:
  // An ephemeral port of its own.
  bool Bind();
  // One datagram, "" when none came in time.
  std::string Receive(int timeout_ms = 3000);

  Fd fd;
  unsigned port = 0;
};
// Whether a UDP port can be bound now.
bool UdpPortFree(unsigned port);
// A local RTP port: it and the port above are free now and kept from other
// test processes until porttest::Release(port), and neither is avoid.
unsigned LocalPort(unsigned avoid);

bool IsActivated(LGCP::Signal const& s);
bool IsUserData(LGCP::Signal const& s);

// Two lowercase hex digits an octet.
std::string Hex(std::string const& bytes);
std::string Hex(std::vector<char> const& bytes);
// The octets of pairs of hex digits; an odd last digit is ignored.
std::string Unhex(std::string const& text);

}  // namespace CtrlTest
