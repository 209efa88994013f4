// The LEMZ engines in process on the simulated header-extension device:
// packets injected through the sim, the writes read back from its send log.
#include "radio/lemz_radio_control.h"
#include "radio/lemz_radio_engines.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/multiplexer.h"
#include "foundation/mux_time.h"
#include "messages/TERM.h"
#include "radio/tests/octets.h"
#include "radio/tests/radio_sim_test.h"
#include "simboard/tests/sim_test_util.h"

namespace {

using namespace RTPSignalling;
using Params = TERM::LemzRadioModifierParams;

// The engine's protected steps, for the cases a device cannot produce.
template <class Engine>
class Probe : public Engine {
public:
  using Engine::Engine;
  using Engine::itemTime;
  using Engine::OnRtpExtEvent;
  using Engine::OnRtpProtoRXEvent;
  using Engine::PutProtoFromChanToRadio;
  using Engine::PutProtoFromRadioToChan;
  using Engine::radioState;
  using Engine::chanState;
  using Engine::EncodeProto;
  using Engine::ProcessRadioStatus;
};

std::string Dump(const LemzRadioState& s) {
  char addr[2][16];
  in_addr a;
  a.s_addr = s.session_addr;
  ::inet_ntop(AF_INET, &a, addr[0], sizeof addr[0]);
  a.s_addr = s.source_addr;
  ::inet_ntop(AF_INET, &a, addr[1], sizeof addr[1]);
  std::ostringstream o;
  o << "command=" << s.command << " prio=" << s.priority << " ptt=" << s.ptt << " session=" << addr[0] << "/"
    << s.session_ssrc << " cid=" << s.caller_id << " bss=" << s.bss << " vad=" << s.vad_rx << s.vad_tx
    << " sql=" << s.sql << " sh=" << s.sh << " pwr=" << s.pwr << " rv=" << s.rv << " resv=" << s.resv
    << " selcall=" << s.selcall << " li=" << s.li << " remote=" << s.remote_no << "/" << s.remote_ch
    << " chan=" << s.channel << "/" << s.frequency << " squelshe=" << s.squelshe << " rte=" << s.rte
    << " standby=" << s.standby_state_channel << "/" << s.standby_group << "/" << s.standby_state_receiver
    << " quality=" << s.quality << " source=" << addr[1] << "/" << s.source_ssrc;
  return o.str();
}

// Field groups of the correspondence table.
enum : unsigned {
  PRIO = 1u << 0, PTT = 1u << 1, BSS = 1u << 2, VAD = 1u << 3, SQL = 1u << 4, SH = 1u << 5, PWR = 1u << 6,
  RV = 1u << 7, RESV = 1u << 8, SELCALL = 1u << 9, LI = 1u << 10, FREQ = 1u << 11, SQUELSHE = 1u << 12,
  RTE = 1u << 13, REMOTE = 1u << 14, SESSION = 1u << 15, CID = 1u << 16, QUALITY = 1u << 17, STBY = 1u << 18,
  STBYX = 1u << 19, SOURCE = 1u << 20,
  F = PRIO | PTT | BSS | VAD | SQL | SH | PWR | RV | RESV | SELCALL | LI,
};

// A state in which every field differs from its default.
LemzRadioState Full(int command) {
  LemzRadioState s;
  s.command = command;
  s.priority = 3;
  s.ptt = s.bss = s.vad_tx = s.sql = s.pwr = s.resv = 1;
  s.selcall = 2;
  s.li = 300;
  s.session_addr = ::inet_addr("192.168.1.10");
  s.session_ssrc = 0x1234;
  std::strcpy(s.caller_id, "4711");
  s.remote_no = 4;
  s.remote_ch = 5;
  s.channel = 7;
  s.frequency = 145.5f;
  s.squelshe = 2;
  s.rte = 3;
  s.standby_state_channel = 1;
  s.standby_group = 9;
  s.standby_state_receiver = 0;
  s.quality = 0.25f;
  s.source_addr = ::inet_addr("10.0.0.1");
  s.source_ssrc = 99;
  return s;
}

// The fields of groups taken from `from` into `to`, with from's command.
LemzRadioState Project(LemzRadioState to, const LemzRadioState& from, unsigned groups) {
  to.command = from.command;
  if (groups & PRIO) to.priority = from.priority;
  if (groups & PTT) to.ptt = from.ptt;
  if (groups & BSS) to.bss = from.bss;
  if (groups & VAD) to.vad_rx = from.vad_rx, to.vad_tx = from.vad_tx;
  if (groups & SQL) to.sql = from.sql;
  if (groups & SH) to.sh = from.sh;
  if (groups & PWR) to.pwr = from.pwr;
  if (groups & RV) to.rv = from.rv;
  if (groups & RESV) to.resv = from.resv;
  if (groups & SELCALL) to.selcall = from.selcall;
  if (groups & LI) to.li = from.li;
  if (groups & FREQ) to.channel = from.channel, to.frequency = from.frequency;
  if (groups & SQUELSHE) to.squelshe = from.squelshe;
  if (groups & RTE) to.rte = from.rte;
  if (groups & REMOTE) to.remote_no = from.remote_no, to.remote_ch = from.remote_ch;
  if (groups & SESSION) to.session_addr = from.session_addr, to.session_ssrc = from.session_ssrc;
  if (groups & CID) std::memcpy(to.caller_id, from.caller_id, sizeof to.caller_id);
  if (groups & QUALITY) to.quality = from.quality;
  if (groups & STBY) to.standby_state_channel = from.standby_state_channel;
  if (groups & STBYX) to.standby_group = from.standby_group, to.standby_state_receiver = from.standby_state_receiver;
  if (groups & SOURCE) to.source_addr = from.source_addr, to.source_ssrc = from.source_ssrc;
  return to;
}

// What each command carries: as a modifier alternative, and in a packet.
struct CommandRow {
  int command;
  const char* alternative;
  unsigned asn;
  unsigned wire;
};
const CommandRow kCommands[] = {
    {1, "gw-set-flags", F, 0},           {2, "gw-set-freq", FREQ, FREQ},
    {3, "gw-set-ptt", F, 0},             {4, "gw-set-bss", F, 0},
    {5, "gw-set-rv", F, 0},              {6, "gw-set-sh", F, 0},
    {7, "gw-set-pwr", F, 0},             {8, "gw-set-resv", F, 0},
    {9, "gw-set-selcall", F | SESSION | CID, CID},
    {10, "gw-set-remote", REMOTE, REMOTE},
    {11, "gw-set-squelshe", SQUELSHE, SQUELSHE},
    {12, "gw-set-rte", RTE, RTE},        {13, "gw-set-standby", STBY, STBY},
    {129, "wm-flags", F, 0},             {130, "wm-trans", F | SESSION, SESSION},
    {131, "wm-quality", QUALITY, QUALITY},
    {132, "wm-chan", FREQ | SQUELSHE | RTE, FREQ | SQUELSHE | RTE},
    {133, "wm-selcall", F | SESSION | CID, SESSION | CID},
    {134, "wm-remote", REMOTE, REMOTE},  {135, "wm-standby", STBY | STBYX, STBY | STBYX},
};

// The fields each engine's hooks store, from the controller (radio) and from
// the channel (chan), by command; 0 is the default-init command.
struct HookRow {
  int command;
  unsigned gwRadio, gwChan, wsRadio, wsChan;
};
const unsigned kGwChanAll = PRIO | PTT | BSS | SH | RV | PWR | RESV | FREQ | CID | REMOTE | SQUELSHE | RTE | STBY;
const HookRow kHooks[] = {
    {0, F | FREQ | SQUELSHE | RTE | REMOTE | SESSION | QUALITY | STBY | STBYX, kGwChanAll, kGwChanAll,
     F | FREQ | SQUELSHE | RTE | REMOTE | SESSION | QUALITY | STBY | STBYX},
    {1, F, PRIO | PTT | BSS | SH | RV | PWR | RESV, PRIO | PTT | BSS | SH | RV | PWR | RESV, F},
    {2, F, PRIO | FREQ, PRIO | FREQ, F},
    {3, F, PRIO | PTT, PRIO | PTT, F},
    {4, F, PRIO | BSS, PRIO | BSS, F},
    {5, F, PRIO | RV, PRIO | RV, F},
    {6, F, PRIO | SH, PRIO | SH, F},
    {7, F, PRIO | PWR, PRIO | PWR, F},
    {8, F, PRIO | RESV, PRIO | RESV, F},
    {9, F, PRIO | CID, PRIO | CID, F},
    {10, F, PRIO | REMOTE, PRIO | REMOTE, F},
    {11, F, PRIO | SQUELSHE, PRIO | SQUELSHE, F},
    {12, F, PRIO | RTE, PRIO | RTE, F},
    {13, F, PRIO | STBY, PRIO | STBY, F},
    {129, F, PRIO, PRIO, F},
    {130, F | SESSION, PRIO, PRIO, F},
    {131, F | QUALITY, PRIO, PRIO, F | QUALITY},
    {132, F | FREQ | SQUELSHE | RTE, PRIO, PRIO, F | FREQ | SQUELSHE | RTE},
    {133, F | SESSION, PRIO, PRIO, F | SESSION},
    {134, F | REMOTE, PRIO, PRIO, F | REMOTE},
    {135, F | STBY | STBYX, PRIO, PRIO, F | STBY | STBYX},
};

// What a hook stored: radio fields as they are; chan fields with the
// session from the packet's source, unless the command carries one.
template <class Engine>
void ExpectHooks(unsigned HookRow::*radio, unsigned HookRow::*chan) {
  for (const HookRow& row : kHooks) {
    Probe<Engine> e(radiotest::RadioSimTest::Init());
    const LemzRadioState full = Full(row.command);
    EXPECT_EQ(row.command > 0 ? 0 : -1, e.PutProtoFromRadioToChan(full));
    EXPECT_EQ(Dump(Project(LemzRadioState(), full, row.*radio)), Dump(e.radioState)) << row.command;
    EXPECT_EQ(row.command > 0 ? 0 : -1, e.PutProtoFromChanToRadio(full));
    LemzRadioState fromSource = full;
    fromSource.session_addr = full.source_addr;
    fromSource.session_ssrc = full.source_ssrc;
    LemzRadioState want = Project(LemzRadioState(), fromSource, row.*chan | SESSION);
    want = Project(want, full, row.*chan & SESSION);
    EXPECT_EQ(Dump(want), Dump(e.chanState)) << row.command;
  }
}

// The packets each engine sends: through the wire and back, with the fields
// the type carries.
template <class Engine>
void ExpectPackets(int first, int last) {
  for (const CommandRow& row : kCommands) {
    Probe<Engine> e(radiotest::RadioSimTest::Init());
    const LemzRadioState full = Full(row.command);
    sig_proto p;
    const bool sends = row.command >= first && row.command <= last;
    ASSERT_EQ(sends ? 0 : -1, e.EncodeProto(full, p)) << row.command;
    if (!sends) continue;
    unsigned char wire[Board::RtpExt::kMaxPacket];
    const int len = sig_proto_pack(&p, wire, sizeof wire);
    sig_proto q;
    sig_proto_init(&q);
    ASSERT_EQ(0, sig_proto_unpack(&q, wire, len));
    q.source_addr = full.source_addr;
    q.source_ssrc = full.source_ssrc;
    LemzRadioState back;
    LemzRadioControl::DecodeProto(q, back);
    EXPECT_EQ(Dump(Project(LemzRadioState(), full, F | SOURCE | row.wire)), Dump(back)) << row.command;
  }
}

std::string Alternative(const TERM::RtpRadioRequest& r) {
  if (!r.request_isPresent() || !r.get_request().lemz_isSelected()) return "?";
  const char* name = r.get_request().get_lemz().get_params().getSelectionName();
  return name ? name : "none";
}

// Value notation on one line.
std::string Text(const ASN1::AbstractData& v) {
  std::ostringstream o;
  o << v;
  std::string one;
  for (char c : o.str()) {
    if (c == '\n') c = ' ';
    if (!(c == ' ' && !one.empty() && one.back() == ' ')) one += c;
  }
  return one;
}

TEST(LemzRadioConversion, CommandsTravelByTheCorrespondenceTable) {
  for (const CommandRow& row : kCommands) {
    const LemzRadioState full = Full(row.command);
    TERM::RtpRadioRequest request;
    LemzRadioControl::EncodeASN(LemzRadioState(), full, request);
    EXPECT_EQ(row.alternative, Alternative(request)) << row.command;
    // Back from the modifier: the fields it carries and its source.
    LemzRadioState back;
    EXPECT_EQ(0, LemzRadioControl::DecodeASN(request.get_request().get_lemz(), back));
    EXPECT_EQ(Dump(Project(LemzRadioState(), full, row.asn | SOURCE)), Dump(back)) << row.alternative;
  }
  // The texts: flags, frequency, address and SSRC as the controller reads them.
  TERM::RtpRadioRequest request;
  LemzRadioControl::EncodeASN(LemzRadioState(), Full(9), request);
  EXPECT_EQ(
      "lemz : { addr { session-addr \"10.0.0.1\", session-ssrc 99 }, params gw-set-selcall : { flags { prio 3, "
      "ptt TRUE, bss TRUE, vad-rx FALSE, vad-tx TRUE, sql TRUE, sh FALSE, pwr TRUE, rv FALSE, resv TRUE, "
      "selcall 2, li 300 }, ip \"192.168.1.10\", ssrc 4660, cid \"4711\" } }",
      Text(request.get_request()));
  LemzRadioControl::EncodeASN(Full(0), Full(131), request);
  EXPECT_EQ("wm-quality : { bss-val \"0.250000\" }", Text(request.get_request().get_lemz().get_params()));
  EXPECT_EQ(
      "lemz : { flags { prio 3, ptt TRUE, bss TRUE, vad-rx FALSE, vad-tx TRUE, sql TRUE, sh FALSE, pwr TRUE, rv "
      "FALSE, resv TRUE, selcall 2, li 300 }, freq { channel 7, frequency \"145.500000\" }, remote { no 4, ch 5 }, "
      "squelshe on, rte f1b, standby-state-channel standby, standby-group 9, standby-state-receiver active }",
      Text(request.get_status()));
  // A session-addr that is no address becomes inet_addr's 255.255.255.255.
  request.set_request().ref_lemz().ref_addr().set_session_addr("x");
  LemzRadioState back;
  LemzRadioControl::DecodeASN(request.get_request().get_lemz(), back);
  EXPECT_EQ(0xFFFFFFFFu, back.source_addr);
  // A status stands for every field it has, and keeps the others.
  LemzRadioState stored = Full(5);
  LemzRadioControl::DecodeASN(request.get_status().get_lemz(), stored);
  EXPECT_EQ(Dump(Project(Full(0), LemzRadioState(), 0)), Dump(stored));
}

class LemzSim : public radiotest::EngineSimTest, public IRadioControlNotify {
public:
  void RadioControlNotify(TERM::RtpRadioRequest const& r) override { requests.push_back(r); }

  template <class Engine>
  std::unique_ptr<Probe<Engine>> Make() {
    auto e = std::make_unique<Probe<Engine>>(7, Attach(rtp), Init());
    e->Bind(this);
    Follow(*e);
    return e;
  }
  struct Packets {
    unsigned ssrc;
    const char* addr;
    const char* hex;  // comma-separated packets
  };
  // Queues every group before the loop runs, so that one event finds them
  // all, and runs it until the engine has read them.
  void Inject(const RadioControl& e, const std::vector<Packets>& groups) {
    for (const Packets& g : groups)
      Command("rtpext inject " + std::to_string(tdm) + " " + std::to_string(g.ssrc) + " " + g.addr + " " + g.hex);
    const std::uint32_t before = e.GetStatistics().notified;
    ASSERT_TRUE(simtest::run_until([&] { return e.GetStatistics().notified > before; }, 2000));
  }
  std::string Filter() { return Last("rtpext get " + std::to_string(tdm)); }
  // "<alternative> <ssrc>[ ptt]"
  std::vector<std::string> Reports() {
    std::vector<std::string> out;
    for (const TERM::RtpRadioRequest& r : requests) {
      const TERM::LemzRadioModifier& m = r.get_request().get_lemz();
      out.push_back(Alternative(r) + " " + std::to_string(m.get_addr().get_session_ssrc().getValue()) +
                    (Text(m).find("ptt TRUE") != std::string::npos ? " ptt" : ""));
    }
    requests.clear();
    return out;
  }

  std::vector<TERM::RtpRadioRequest> requests;
};

TERM::RadioModifier Modifier(const LemzRadioState& s) {
  TERM::RtpRadioRequest r;
  LemzRadioControl::EncodeASN(LemzRadioState(), s, r);
  return r.get_request();
}

TERM::RadioStatus Status(const LemzRadioState& s) {
  TERM::RtpRadioRequest r;
  LemzRadioControl::EncodeStatusASN(s, r);
  return r.get_status();
}

LemzRadioState Trans(int ptt, int priority, const char* ip) {
  LemzRadioState s;
  s.command = SigProto::WM_TRANS;
  s.ptt = ptt;
  s.priority = priority;
  s.session_addr = ::inet_addr(ip);
  s.session_ssrc = 0x1234;
  return s;
}

TEST_F(LemzSim, GatewayHooksFollowTheirTables) {
  ExpectHooks<LemzRadioGWControl>(&HookRow::gwRadio, &HookRow::gwChan);
  ExpectPackets<LemzRadioGWControl>(129, 135);
}

TEST_F(LemzSim, ReceivedBurstsReachTheControllerAsTheirLastMember) {
  using V = std::vector<std::string>;
  const struct {
    const char* name;
    std::vector<Packets> groups;
    V reports;
    std::uint32_t dropped;
    int decoderError;
  } table[] = {
      {"one source", {{9, "10.0.0.1", "01f00000,01f40000,02f000000000000743118000"}},
       V{"gw-set-flags 9 ptt", "gw-set-freq 9"}, 0, 0},
      {"two streams", {{9, "10.0.0.1", "01f00000"}, {10, "10.0.0.1", "01f00000"}},
       V{"gw-set-flags 9", "gw-set-flags 10"}, 0, 0},
      {"last does not unpack", {{9, "10.0.0.1", "01f00000,02f00000"}}, V{"gw-set-flags 9"}, 1, -9},
      {"unknown type", {{9, "10.0.0.1", "c8000000"}}, V{}, 1, -8},
  };
  // The controller's state, with the transmitter free: stored whole, sent
  // with the periodic items only, and the status of every report.
  LemzRadioState set = Full(0);
  set.ptt = 0;
  set.frequency = 145.5f;
  const TERM::RadioStatus status = Status(set);
  ASSERT_EQ("145.500000", status.get_lemz().get_freq().get_frequency());
  for (const auto& row : table) {
    auto e = Make<LemzRadioGWControl>();
    EXPECT_TRUE(e->SendASNToChan(status));
    EXPECT_EQ(Dump(Project(LemzRadioState(), set, F | FREQ | REMOTE | SQUELSHE | RTE | STBY | STBYX)),
              Dump(e->radioState));
    EXPECT_TRUE(Sent().empty());
    Inject(*e, row.groups);
    for (const TERM::RtpRadioRequest& r : requests) EXPECT_EQ(Text(status), Text(r.get_status())) << row.name;
    EXPECT_EQ(row.reports, Reports()) << row.name;
    EXPECT_EQ(row.dropped, e->GetDropped()) << row.name;
    EXPECT_EQ(std::uint32_t(row.decoderError), e->GetStatistics().decoderError) << row.name;
  }
  // Readable with nothing to read: nothing to report.
  auto e = Make<LemzRadioGWControl>();
  e->OnRtpExtEvent(-1, POLLIN);
  EXPECT_TRUE(requests.empty());
}

TEST_F(LemzSim, ValuesOfAnotherProtocolAreRefused) {
  auto e = Make<LemzRadioControl>();
  TERM::RadioStatus status;
  status.select_ed_137();
  TERM::RadioModifier modifier;
  modifier.select_ed_137();
  EXPECT_FALSE(e->SendASNToChan(status));
  EXPECT_FALSE(e->SendASNToChan(modifier));
  EXPECT_TRUE(Sent().empty());
}

TEST_F(LemzSim, GatewayTransmitLockAdmitsTheHolderAndStrongerPtt) {
  const struct {
    bool held;
    unsigned type, priority, ptt;
    const char* from;
    bool admitted;
  } table[] = {
      {false, 1, 15, 0, "10.0.0.9", true}, {false, 2, 15, 0, "10.0.0.9", true},
      {true, 3, 3, 1, "10.0.0.9", true},   {true, 3, 5, 1, "10.0.0.9", false},
      {true, 3, 7, 1, "10.0.0.9", false},  {true, 3, 3, 0, "10.0.0.9", false},
      {true, 2, 0, 1, "10.0.0.9", false},  {true, 1, 7, 0, "10.0.0.5", true},
      {true, 2, 15, 0, "10.0.0.5", true},
  };
  for (const auto& row : table) {
    auto e = Make<LemzRadioGWControl>();
    if (row.held) {
      EXPECT_TRUE(e->SendASNToChan(Modifier(Trans(1, 5, "10.0.0.5"))));
    }
    // The lock decides, not the device: every station's packet gets in.
    EXPECT_EQ("filter=off", Filter());
    sig_proto p;
    sig_proto_init(&p);
    p.type = row.type;
    p.priority = row.priority;
    p.flag_p = row.ptt;
    unsigned char wire[Board::RtpExt::kMaxPacket];
    const std::string hex = radiotest::Hex(wire, sig_proto_pack(&p, wire, sizeof wire));
    Inject(*e, {{9, row.from, hex.c_str()}});
    EXPECT_EQ(row.admitted ? 1u : 0u, Reports().size()) << row.type << "/" << row.priority << " from " << row.from;
  }
}

TEST_F(LemzSim, GatewayRepeatsItsDueItemsEverySecond) {
  using V = std::vector<std::string>;
  const std::uint32_t wrap = 0;  // 2^32 as the clock counts
  const struct {
    const char* name;
    int ptt;
    float frequency;
    int standby;
    std::uint32_t stamps[4];
    std::uint32_t now;
    V types;  // first octet of each packet sent
    std::uint32_t delay;
  } table[] = {
      {"fresh", 0, 0.0f, -1, {100600, 100600, 100600, 100600}, 101000, V{}, 610},
      {"stale", 0, 0.0f, -1, {96000, 96000, 96000, 96000}, 101000, V{"81", "84", "86"}, 1000},
      {"transmitting", 1, 0.0f, -1, {96000, 96000, 96000, 96000}, 101000, V{"82", "84", "86"}, 1000},
      {"no frequency", 0, -1.0f, -1, {96000, 96000, 96000, 96000}, 101000, V{"81", "86"}, 1000},
      {"standby", 0, 0.0f, 0, {96000, 96000, 96000, 96000}, 101000, V{"81", "84", "86", "87"}, 1000},
      // Stamped before the clock wrapped: the Part's unsigned compare would
      // take their ages for 0 and send nothing for about 49 days.
      {"wrapped", 0, 0.0f, -1, {wrap - 500, wrap - 500, wrap - 500, wrap - 500}, 1100, V{"81", "84", "86"}, 1000},
      // The oldest stamp is the largest age (300 ms), not the smallest
      // number (the fresh ones at 100).
      {"wrapped oldest", 0, 0.0f, 0, {wrap - 1500, wrap - 1500, wrap - 1500, wrap - 200}, 100,
       V{"81", "84", "86"}, 710},
  };
  for (const auto& row : table) {
    auto e = Make<LemzRadioGWControl>();
    e->radioState.ptt = row.ptt;
    e->radioState.frequency = row.frequency;
    e->radioState.standby_state_channel = e->radioState.standby_group = e->radioState.standby_state_receiver =
        row.standby;
    std::memcpy(e->itemTime, row.stamps, sizeof row.stamps);
    EXPECT_EQ(row.delay, e->ProcessRadioStatus(row.now, 1000)) << row.name;
    V types;
    for (const std::string& packet : Sent()) types.push_back(packet.substr(0, 2));
    EXPECT_EQ(row.types, types) << row.name;
  }
  // Standby unset for one and a half turns of the clock (ticks 2^29 ms
  // apart), then set: its item goes at the next tick.
  auto e = Make<LemzRadioGWControl>();
  std::uint32_t now = 0;
  e->itemTime[3] = now;
  for (int tick = 1; tick <= 12; ++tick) e->ProcessRadioStatus(now += 1u << 29, 1000);
  Sent();
  e->radioState.standby_state_channel = e->radioState.standby_group = e->radioState.standby_state_receiver = 0;
  e->ProcessRadioStatus(now + 1, 1000);
  V types;
  for (const std::string& packet : Sent()) types.push_back(packet.substr(0, 2));
  EXPECT_EQ(V{"87"}, types);
}

TEST_F(LemzSim, GatewaySendsTheControllersCommandsAtOnce) {
  auto e = Make<LemzRadioGWControl>();
  e->SetTimerEnable(true);
  clock.advance(500);
  // Sent at once, the address octets reversed.
  EXPECT_TRUE(e->SendASNToChan(Modifier(Trans(1, 5, "10.0.0.5"))));
  EXPECT_EQ(std::vector<std::string>{"82 54 00 00 05 00 00 0a 00 00 12 34"}, Sent());
  // The next tick does not repeat item 0, which was just sent.
  clock.advance(500);
  multiplexer.timers_schedule();
  const std::vector<std::string> tick = Sent();
  ASSERT_EQ(2u, tick.size());
  EXPECT_EQ("84", tick[0].substr(0, 2));
  EXPECT_EQ("86", tick[1].substr(0, 2));
  // Squelch follows the controller, not what workstations report.
  EXPECT_FALSE(e->GetSQU());
  sig_proto p;
  sig_proto_init(&p);
  p.type = SigProto::GW_FLAG;
  p.flag_s = 1;
  p.source_addr = ::inet_addr("10.0.0.5");
  e->OnRtpProtoRXEvent(p);
  EXPECT_EQ(1u, Reports().size());
  EXPECT_FALSE(e->GetSQU());
  LemzRadioState sql = Trans(1, 5, "10.0.0.5");
  sql.sql = 1;
  e->SendASNToChan(Modifier(sql));
  EXPECT_TRUE(e->GetSQU());
}

TEST_F(LemzSim, AReportTheControllerForcesPostponesItsItem) {
  using V = std::vector<std::string>;
  const struct {
    int command;
    RadioControlMode mode;
    V types;  // first octet of each packet: the forced one, then the tick's
  } table[] = {
      {SigProto::WM_FLAG, RadioControlGateway, V{"81", "84", "86", "87"}},
      {SigProto::WM_TRANS, RadioControlGateway, V{"82", "84", "86", "87"}},
      {SigProto::WM_SEL_CALL_TRANS, RadioControlGateway, V{"85", "84", "86", "87"}},
      {SigProto::WM_CHAN, RadioControlGateway, V{"84", "81", "86", "87"}},
      {SigProto::WM_SELECT_RC_CHAN, RadioControlGateway, V{"86", "81", "84", "87"}},
      {SigProto::WM_STANDBY, RadioControlGateway, V{"87", "81", "84", "86"}},
      // Only the gateway mode stamps its sends.
      {SigProto::WM_CHAN, RadioControlWorkstation, V{"84", "81", "84", "86", "87"}},
  };
  for (const auto& row : table) {
    auto e = Make<LemzRadioGWControl>();
    e->SetRadioControlMode(row.mode);
    e->radioState.standby_state_channel = e->radioState.standby_group = e->radioState.standby_state_receiver = 0;
    const std::uint32_t now = Mux::milliseconds();
    for (std::uint32_t& t : e->itemTime) t = now - 5000;
    EXPECT_TRUE(e->SendASNToChan(Modifier(Full(row.command))));
    e->ProcessRadioStatus(now, 1000);
    V types;
    for (const std::string& packet : Sent()) types.push_back(packet.substr(0, 2));
    EXPECT_EQ(row.types, types) << row.command << " mode " << row.mode;
  }
}

TEST_F(LemzSim, TransmitterForAnIpThatIsNoAddressIsRefused) {
  // With PTT clear too: the ip is kept as the owner for the next PTT.
  for (const int command : {SigProto::WM_TRANS, SigProto::WM_SEL_CALL_TRANS}) {
    for (const int ptt : {1, 0}) {
      auto e = Make<LemzRadioGWControl>();
      LemzRadioState s = Trans(ptt, 15, "10.0.0.5");
      s.command = command;
      TERM::RadioModifier m = Modifier(s);
      Params& params = m.ref_lemz().ref_params();
      if (command == SigProto::WM_TRANS)
        params.ref_wm_trans().set_ip("radio-a");
      else
        params.ref_wm_selcall().set_ip("radio-a");
      const std::string before = Dump(e->radioState);
      simtest::Capture err(std::cerr);
      EXPECT_FALSE(e->SendASNToChan(m)) << command << " ptt " << ptt;
      EXPECT_FALSE(e->SendFailed());
      EXPECT_TRUE(Sent().empty());
      EXPECT_EQ(before, Dump(e->radioState));
      const std::string text = err.text();
      EXPECT_EQ(1, std::count(text.begin(), text.end(), '\n')) << text;
      EXPECT_NE(std::string::npos, text.find(" wm-")) << text;
      EXPECT_NE(std::string::npos, text.find("\"radio-a\"")) << text;
    }
  }
}

TEST_F(LemzSim, WorkstationSendsCommandsAndAdmitsEveryReport) {
  ExpectHooks<LemzRadioWSControl>(&HookRow::wsRadio, &HookRow::wsChan);
  ExpectPackets<LemzRadioWSControl>(1, 13);
  auto e = Make<LemzRadioWSControl>();
  e->SetRadioControlMode(RadioControlWorkstation);
  e->SetTimerEnable(true);
  // A report is stored and not sent; a command goes out at once, with the
  // priority the report left.
  EXPECT_TRUE(e->SendASNToChan(Modifier(Trans(0, 5, "10.0.0.5"))));
  EXPECT_EQ(SigProto::WM_TRANS, e->radioState.command);
  EXPECT_TRUE(Sent().empty());
  LemzRadioState freq = Full(SigProto::GW_ADJUST_CHAN);
  freq.ptt = 0;
  EXPECT_TRUE(e->SendASNToChan(Modifier(freq)));
  EXPECT_EQ(std::vector<std::string>{"02 50 00 00 00 00 00 07 43 11 80 00"}, Sent());
  // Whoever reports, and however weak: the controller hears it.
  e->radioState.ptt = 1;
  e->radioState.priority = 0;
  sig_proto p;
  sig_proto_init(&p);
  p.type = SigProto::WM_FLAG;
  p.priority = 15;
  p.source_addr = ::inet_addr("10.0.0.9");
  e->OnRtpProtoRXEvent(p);
  EXPECT_EQ(std::vector<std::string>{"wm-flags 0"}, Reports());
  // No periodic items.
  clock.advance(5000);
  multiplexer.timers_schedule();
  EXPECT_TRUE(Sent().empty());
}

}  // namespace
