// Writes the codec benchmark's data: a ping, a "create rtp" and random valid
// LGCP messages drawn from the type records, one "<kind> <hex>" line each.
// Usage: lgcp_sample_gen [count] [seed] > lgcp_messages.txt
#include "asn1/coder_env.h"
#include "asn1/testing/random_filler.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <vector>

namespace {

bool encode(const LGCP::Message& m, std::vector<char>& wire) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  wire.clear();
  return ASN1::encode(m, &env, std::back_inserter(wire));
}

// Valid, encodable, and read back as the same value.
bool usable(const LGCP::Message& m, std::vector<char>& wire) {
  if (!m.isValid() || !encode(m, wire)) return false;
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  LGCP::Message back;
  return ASN1::decode(wire.data(), wire.data() + wire.size(), &env, back) && back == m;
}

void print(const char* kind, const std::vector<char>& wire) {
  std::printf("%s ", kind);
  for (char c : wire) std::printf("%02x", static_cast<unsigned char>(c));
  std::printf("\n");
}

LGCP::Message ping() {
  LGCP::Message m;
  m.set_seq(4711);
  m.set_pdu().select_command().select_ping();
  return m;
}

LGCP::Message createRtp() {
  LGCP::Message m;
  m.set_seq(4712);
  m.set_slot(17);
  LGCP::CreateRtpParams& p = m.set_pdu().select_command().select_create().select_rtp();
  TERM::RtpParams& rtp = p.set_codecRTP();
  rtp.set_payload(TERM::Payload::ptG729);
  rtp.set_dhost().set_iaddr("192.168.100.21");
  rtp.ref_dhost().set_port(20004);
  TERM::HostAddress& shost = rtp.set_shost();
  shost.set_iaddr("192.168.100.7");
  shost.set_port(30010);
  TERM::RtpJitter& jitter = rtp.set_jitter();
  jitter.set_start(40);
  jitter.set_max(120);
  rtp.set_pfactor(2);
  rtp.set_vad(true);
  rtp.set_ssrc(0x1234567u);
  rtp.set_ttl(64);
  p.set_txPayload(TERM::Payload::ptG729);
  p.set_rxPayload(TERM::Payload::ptG729);
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned count = argc > 1 ? unsigned(std::strtoul(argv[1], nullptr, 10)) : 2000;
  const unsigned seed = argc > 2 ? unsigned(std::strtoul(argv[2], nullptr, 10)) : 1;
  std::vector<char> wire;
  if (!usable(ping(), wire)) return 1;
  print("ping", wire);
  if (!usable(createRtp(), wire)) return 1;
  print("create-rtp", wire);
  // Odds that give about 16 octets a message, as a controller's mix does.
  ASN1::RandomFiller::Odds odds;
  odds.optional = 0.8;
  odds.maxList = 4;
  odds.maxString = 16;
  ASN1::RandomFiller filler(seed, odds);
  unsigned made = 0;
  unsigned refused = 0;
  while (made < count) {
    LGCP::Message m;
    if (!filler.fill(m) || !usable(m, wire) || wire.size() > 256) {
      if (++refused > count * 20) return 1;
      continue;
    }
    print("random", wire);
    ++made;
  }
  std::fprintf(stderr, "%u messages, %u refused\n", made, refused);
  return 0;
}
