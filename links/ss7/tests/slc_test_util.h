#pragma once
// Helpers of the signalling link tests: the owner of a link, signal units as
// octets and as readable text.
#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "links/ss7/slc.h"
#include "transport/protocol.h"

namespace ss7test {

using Bytes = std::vector<std::uint8_t>;

// The slot's part: a family with the link as its only layer, noting what
// the link reports.
class Owner : public ProtocolsFamily {
public:
  Owner() : link(*new SS7::SLC) { add_protocol_tail(&link); }
  void on_activated(Protocol*) override { ++activated; }
  void on_deactivated(Protocol*, Protocol_status st) override {
    ++deactivated;
    last_status = st->message();
  }
  void on_message(Packet& p) override {
    received.emplace_back(p.empty() ? nullptr : p.cdata(), p.empty() ? nullptr : p.cdata() + p.length());
  }
  // An MSU from above, prepared as the slot prepares it.
  void send(const Bytes& msu) {
    Packet p;
    prepare_head(p);
    if (!msu.empty()) std::copy(msu.begin(), msu.end(), p.put(static_cast<unsigned>(msu.size())));
    message(p);
  }

  SS7::SLC& link;
  int activated = 0;
  int deactivated = 0;
  std::string last_status;
  std::vector<Bytes> received;
};

// An MSU of n octets: SIO, then a SIF counting from tag.
inline Bytes Msu(unsigned n, std::uint8_t tag = 0) {
  Bytes b(n);
  b[0] = 0x83;
  for (unsigned i = 1; i < n; ++i) b[i] = static_cast<std::uint8_t>(tag + i);
  return b;
}

// A unit as the wire carries it; li < 0: the LI the link would send.
inline Bytes Unit(unsigned bsn, bool bib, unsigned fsn, bool fib, const Bytes& payload = Bytes(), int li = -1) {
  Bytes b(3 + payload.size());
  b[0] = static_cast<std::uint8_t>(bsn | (bib ? 0x80u : 0u));
  b[1] = static_cast<std::uint8_t>(fsn | (fib ? 0x80u : 0u));
  b[2] = static_cast<std::uint8_t>(li >= 0 ? unsigned(li) : (payload.size() < 63 ? payload.size() : 63));
  std::copy(payload.begin(), payload.end(), b.begin() + 3);
  return b;
}

inline Bytes Lssu(std::uint8_t status) { return Bytes{0xFF, 0xFF, 0x01, status}; }

// "SIO", "SIOS", "FISU 127.1 127.1", "MSU 127.1 0.1 li=5 n=5": BSN.BIB FSN.FIB.
inline std::string Render(const Bytes& u) {
  if (u.size() < 3) return "short";
  std::ostringstream os;
  const unsigned n = static_cast<unsigned>(u.size() - 3);
  if (n == 1 || n == 2) {
    static const char* const names[] = {"SIO", "SIN", "SIE", "SIOS"};
    if (u[3] < 4) return names[u[3]];
    os << "LSSU " << unsigned(u[3]);
    return os.str();
  }
  os << (n == 0 ? "FISU " : "MSU ") << (u[0] & 0x7F) << "." << (u[0] >> 7) << " " << (u[1] & 0x7F) << "."
     << (u[1] >> 7);
  if (n) os << " li=" << unsigned(u[2]) << " n=" << n;
  return os.str();
}

inline std::vector<std::string> Render(const std::vector<Bytes>& units, std::size_t from = 0) {
  std::vector<std::string> out;
  for (std::size_t i = from; i < units.size(); ++i) out.push_back(Render(units[i]));
  return out;
}

}  // namespace ss7test
