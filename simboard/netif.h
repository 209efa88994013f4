#pragma once
// The board's HDLC network interfaces as the simulated board answers the
// interface requests of the seam (Board::netif): a table of {name, index,
// flags, channel, protocol}; the default board has lo (1) and eth0 (2), up and
// running, then hdlc0..hdlc3 (10..13), point-to-point, raw HDLC. SIOCGIFNAME
// finds a row by index; SIOCGIFINDEX and SIOCGIFFLAGS read a row by name,
// SIOCSIFFLAGS writes its flags, SIOCWANDEV reads the channel (IF_GET_IFACE:
// the fourth word of the 128-byte block) or switches the protocol
// (IF_PROTO_PPP, IF_PROTO_HDLC). An unknown name fails with ENODEV. It is a
// driver of the registry only for its commands; nothing opens it.
#include <string>
#include <vector>

#include "simboard/driver.h"

namespace SimBoard {

class NetIf : public Driver {
public:
  static constexpr const char* kName = "netif";

  struct Row {
    std::string name;
    int index;
    unsigned flags;
    int channel;
    std::string protocol;  // "hdlc", "ppp"
  };

  NetIf();
  void reset() override;

  // One request with its ifreq record: ioctl's result, -1 with errno.
  int request(unsigned long request, void* ifreq);
  const Row* find(const std::string& name) const;
  static std::string describe(const Row& row);

private:
  Row* row(const std::string& name);
  std::vector<Row> rows_;
};

}  // namespace SimBoard
