#pragma once
// A LAPD link in a slot-like owner that records what comes up, and a
// transcript of the frames the links write, in the order they write them.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "hardware/testing/fake_hdlc.h"
#include "links/isdn/lapd.h"
#include "transport/protocol.h"

namespace lapdtest {

using HdlcTesting::Bytes;

// One frame as "<name> [N(S)/]N(R) cmd|rsp [P|F]", its role taken from the
// C/R bit and the sender's side; a SAPI other than 0 is shown in front.
inline std::string Describe(Bytes const& f, bool from_network) {
  std::ostringstream o;
  if (f.size() < 3) return "short frame";
  if (f[0] >> 2) o << "sapi " << (f[0] >> 2) << " ";
  bool const cr = (f[0] & 0x02) != 0;
  bool const command = from_network ? cr : !cr;
  char const* role = command ? " cmd" : " rsp";
  char const* bit = command ? " P" : " F";
  uint8_t const c = f[2];
  if ((c & 1) == 0 || (c & 3) == 1) {
    if (f.size() < 4) return "short frame";
    if ((c & 1) == 0)
      o << "I " << (c >> 1) << "/";
    else
      o << ((c >> 2 & 3) == 0 ? "RR " : (c >> 2 & 3) == 1 ? "RNR " : (c >> 2 & 3) == 2 ? "REJ " : "S? ");
    o << (f[3] >> 1) << role << (f[3] & 1 ? bit : "");
    return o.str();
  }
  switch (c & 0xEF) {
    case 0x6F:
      o << "SABME";
      break;
    case 0x43:
      o << "DISC";
      break;
    case 0x63:
      o << "UA";
      break;
    case 0x0F:
      o << "DM";
      break;
    case 0x87:
      o << "FRMR";
      break;
    case 0x03:
      o << "UI";
      break;
    default:
      o << "U?";
      break;
  }
  o << role << (c & 0x10 ? bit : "");
  return o.str();
}

// Sits between a link and its channel and notes every frame that went out.
class Tap : public GenericHDLC {
public:
  Tap(GenericHDLC& to, std::vector<std::string>& log, bool network) : to_(to), log_(log), network_(network) {}
  bool hdlc_transmit(Packet& frame) override {
    bool const ok = to_.hdlc_transmit(frame);
    if (ok && !frame.empty()) {
      log_.push_back(std::string(network_ ? "n " : "u ") + Describe(HdlcTesting::ToBytes(frame), network_));
      frames.push_back(HdlcTesting::ToBytes(frame));
    }
    return ok;
  }
  bool is_open() const override { return to_.is_open(); }
  bool is_ready() const override { return to_.is_ready(); }

  std::vector<Bytes> frames;

private:
  GenericHDLC& to_;
  std::vector<std::string>& log_;
  bool network_;
};

// What the owning slot sees of its link.
class Slot : public ProtocolsFamily, public ISDN::LAPD::Notify {
public:
  Slot(ISDN::Side::type side, GenericHDLC& channel, std::vector<std::string>& transcript, unsigned log = 0)
      : tap(channel, transcript, side == ISDN::Side::network) {
    // As the slots do: built with the defaults, then configured.
    link = new ISDN::LAPD(ISDN::Side::user, 0);
    link->hdlc(&tap);
    link->set_side(side);
    link->set_linkno(side == ISDN::Side::network ? 2 : 1);
    link->set_log(log);
    link->BindNotify(this);
    add_protocol_tail(link);
  }

  void send(std::string const& text) {
    Packet p;
    prepare_head(p);
    for (char ch : text) p.put8(static_cast<unsigned char>(ch));
    message(p);
  }

  void on_message(Packet& p) override {
    Bytes b = HdlcTesting::ToBytes(p);
    received.emplace_back(b.begin(), b.end());
  }
  void on_activated(Protocol*) override { events.push_back("up"); }
  void on_deactivated(Protocol*, Protocol_status st) override { events.push_back("down: " + st->message()); }
  void on_status(Protocol_status st) override {
    events.push_back("status: " + st->message());
    statuses.push_back(st);
  }
  void OnLAPD_FlowStatusChange(ISDN::LAPD* l) override {
    flow.push_back(std::to_string(l->GetFlowStatus()) + " at " + std::to_string(l->queued_out()));
  }

  Tap tap;
  ISDN::LAPD* link;
  std::vector<std::string> received;
  std::vector<std::string> events;
  std::vector<std::string> flow;
  std::vector<Protocol_status> statuses;
};

}  // namespace lapdtest
