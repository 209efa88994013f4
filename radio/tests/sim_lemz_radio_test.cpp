// The LEMZ engines in process on the simulated header-extension device:
// packets injected through the sim, the writes read back from its send log.
#include "radio/lemz_radio_control.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "messages/TERM.h"
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
  // A status stands for every field it has, and keeps the others.
  LemzRadioState stored = Full(5);
  LemzRadioControl::DecodeASN(request.get_status().get_lemz(), stored);
  EXPECT_EQ(Dump(Project(Full(0), LemzRadioState(), 0)), Dump(stored));
}

class LemzSim : public radiotest::RadioSimTest, public IRadioControlNotify {
public:
  void SetUp() override {
    RadioSimTest::SetUp();
    tdm = StartRtp(rtp);
  }
  void RadioControlNotify(TERM::RtpRadioRequest const& r) override { requests.push_back(r); }

  template <class Engine>
  std::unique_ptr<Probe<Engine>> Make() {
    auto e = std::make_unique<Probe<Engine>>(7, Attach(rtp), Init());
    e->Bind(this);
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
  // The writes since the last call, as hex.
  std::vector<std::string> Sent() {
    const std::vector<std::string> all = Lines("rtpext sent " + std::to_string(tdm));
    std::vector<std::string> fresh(all.begin() + static_cast<long>(std::min(seen, all.size())), all.end());
    seen = all.size();
    return fresh;
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

  Fd rtp;
  int tdm = 0;
  std::size_t seen = 0;
  std::vector<TERM::RtpRadioRequest> requests;
};

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
  for (const auto& row : table) {
    auto e = Make<LemzRadioControl>();
    Inject(*e, row.groups);
    EXPECT_EQ(row.reports, Reports()) << row.name;
    EXPECT_EQ(row.dropped, e->GetDropped()) << row.name;
    EXPECT_EQ(std::uint32_t(row.decoderError), e->GetStatistics().decoderError) << row.name;
  }
  // Readable with nothing to read: nothing to report.
  auto e = Make<LemzRadioControl>();
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

}  // namespace
