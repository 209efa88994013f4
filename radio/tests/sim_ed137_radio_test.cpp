// The ED-137 gateway engine on the simulated header-extension device, with
// the test's clock: silence supervision, keep-alives and the next delay, and
// the repeat limit of reports, before and across the wrap of the 32-bit
// millisecond clock; the controller's states, the source filter and the
// access rule.
#include "radio/ed137_radio_control.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "foundation/mux_time.h"
#include "messages/TERM.h"
#include "radio/tests/radio_sim_test.h"
#include "simboard/tests/sim_test_util.h"

namespace {

using namespace RTPSignalling;

class Probe : public ED137RadioGWControl {
public:
  using ED137RadioGWControl::ED137RadioGWControl;
  using ED137RadioGWControl::lastReceive;
  using ED137RadioGWControl::lastReport;
  using ED137RadioGWControl::lastSend;
  using ED137RadioGWControl::now;
  using ED137RadioGWControl::OnRtpProtoRXEvent;
  using ED137RadioGWControl::ProcessRadioStatus;
};

class ED137Sim : public radiotest::EngineSimTest, public IRadioControlNotify {
public:
  void RadioControlNotify(int code) override { codes.push_back(code); }
  void RadioControlNotify(TERM::RtpRadioRequest const&) override { ++reports; }

  // The init record's repetition and signalling counts decide whether an
  // unchanged state is written again.
  std::unique_ptr<Probe> Make(std::uint32_t repetition = 10, std::uint32_t signalling = 1) {
    rtp_ext_init_params init = {};
    init.etype = R2SProto::kProfile;
    init.param1 = 1;
    init.param2 = 123;
    init.param3 = repetition;
    init.param4 = signalling;
    auto e = std::make_unique<Probe>(7, Attach(rtp), init);
    e->Bind(this);
    e->SetTimerInterval(1000);
    Follow(*e);
    return e;
  }

  std::string Filter() { return Last("rtpext get " + std::to_string(tdm)); }

  std::vector<int> codes;
  int reports = 0;
};

void Header(TERM::ED137RadioHeader& h, TERM::ED137RadioPTT::NamedNumber ptt, bool squ_sct) {
  h.set_ptt(ptt);
  h.set_squ(squ_sct ? TERM::ED137RadioSQU::squ_on : TERM::ED137RadioSQU::squ_off);
  h.set_ptt_id(0);
  h.set_ptt_mute(false);
  h.set_ptt_summation(false);
  h.set_sct(squ_sct);
}

TERM::RadioModifier Tx(bool squ_sct) {
  TERM::RadioModifier m;
  TERM::ED137RadioModifier& e = m.select_ed_137();
  e.set_addr().set_session_addr("10.0.0.7");
  e.ref_addr().set_session_ssrc(5);
  Header(e.set_params().select_tx().set_header(), TERM::ED137RadioPTT::normal_ptt_on, squ_sct);
  return m;
}

// Squelch on, with the signal quality (agc, 9) when asked for.
TERM::RadioModifier Rx(bool sqi) {
  TERM::RadioModifier m;
  TERM::ED137RadioModifier& e = m.select_ed_137();
  e.set_addr().set_session_addr("10.0.0.7");
  e.ref_addr().set_session_ssrc(5);
  TERM::ED137RadioRxCommand& rx = e.set_params().select_rx();
  Header(rx.set_header(), TERM::ED137RadioPTT::ptt_off, false);
  rx.ref_header().set_squ(TERM::ED137RadioSQU::squ_on);
  if (sqi) {
    TERM::ED137RadioExtensionSQI& q = rx.set_sqi();
    q.set_bss_method(TERM::ED137RadioBSSMethod::agc);
    q.set_bss_quality(9);
  }
  return m;
}

// The radio's PTT with that id, from 10.0.0.9.
r2s_proto RadioPtt(std::uint32_t id) {
  r2s_proto p;
  r2s_proto_init(&p, R2SProto::kKindTx);
  r2s_proto_set_tx_header(&p, 1, id, 0, 0);
  p.source_addr = ::inet_addr("10.0.0.9");
  p.source_ssrc = 5;
  return p;
}

TEST_F(ED137Sim, StatusTickSupervisesAndKeepsAlive) {
  using V = std::vector<std::string>;
  // Stamps and now relative to a base; run once well inside the clock and
  // once with the stamps just before 2^32 and now past it.
  const struct {
    const char* name;
    std::uint32_t received, sent, now;
    bool abort;  // 151 reported
    V headers;
    std::uint32_t delay;
  } table[] = {
      {"fresh", 0, 0, 500, false, V{}, 510},
      {"silent 1999 ms, nothing sent for 1499", 0, 500, 1999, false, V{"00 00 00 00"}, 1000},
      {"silent 2000 ms, sent 500 ago", 0, 1500, 2000, true, V{}, 510},
      {"sent 999 ago", 1000, 1001, 2000, false, V{}, 11},
      {"stamps ahead of now", 100, 100, 0, false, V{}, 1000},
  };
  for (const std::uint32_t origin : {100000u, 0u - 1000u}) {
    for (const auto& row : table) {
      const std::string name = std::string(row.name) + " from " + std::to_string(origin);
      auto e = Make();
      e->lastReceive = origin + row.received;
      e->lastSend = origin + row.sent;
      codes.clear();
      EXPECT_EQ(row.delay, e->ProcessRadioStatus(origin + row.now, 1000)) << name;
      EXPECT_EQ(row.abort ? std::vector<int>{151} : std::vector<int>{}, codes) << name;
      EXPECT_EQ(row.headers, Sent()) << name;
      EXPECT_EQ(row.headers.empty() ? origin + row.sent : origin + row.now, e->lastSend) << name;
    }
  }
  // For as long as the silence lasts: ticks 2^29 ms apart, across the whole
  // clock and beyond; then the radio's unchanged header 2^31 ms after its
  // last report reaches the controller.
  auto e = Make();
  e->OnRtpProtoRXEvent(RadioPtt(5));
  std::uint32_t now = e->lastReceive;
  for (int tick = 1; tick <= 12; ++tick) {
    now += 1u << 29;
    codes.clear();
    e->ProcessRadioStatus(now, 1000);
    EXPECT_EQ(std::vector<int>{151}, codes) << tick;
  }
  reports = 0;
  e->now = now;
  e->OnRtpProtoRXEvent(RadioPtt(5));
  EXPECT_EQ(1, reports);
}

TEST_F(ED137Sim, KeepAlivesGoOnAfterATxModifier) {
  for (const std::uint32_t origin : {100000u, 0u - 500u}) {
    auto e = Make();
    ASSERT_TRUE(e->SendASNToChan(Tx(true)));
    EXPECT_EQ(std::vector<std::string>{"20 00 00 00"}, Sent());
    EXPECT_EQ("filter=10.0.0.7", Last("rtpext get " + std::to_string(tdm)));
    // The tx header leaves the send stamp alone: the tick after a full
    // interval sends the stored words as an rx header.
    e->lastSend = origin;
    e->ProcessRadioStatus(origin + 1000, 1000);
    EXPECT_EQ(std::vector<std::string>{"30 08 00 00"}, Sent()) << origin;
    e->ProcessRadioStatus(origin + 2000, 1000);
    EXPECT_EQ(std::vector<std::string>{"30 08 00 00"}, Sent()) << origin;
  }
}

TEST_F(ED137Sim, AControllerStateIsWrittenOnceAndFiltersOnlyAKnownSession) {
  const struct {
    std::uint32_t repetition, signalling;
    std::size_t writes;  // of the same state twice
  } table[] = {{10, 1, 1}, {0, 1, 2}, {10, 0, 2}};
  for (const auto& row : table) {
    auto e = Make(row.repetition, row.signalling);
    EXPECT_TRUE(e->SendASNToChan(Rx(true)));
    EXPECT_TRUE(e->SendASNToChan(Rx(true)));
    EXPECT_EQ(0x1003u, e->GetRadioState().command);
    EXPECT_EQ(std::vector<std::string>(row.writes, "10 01 11 49"), Sent()) << row.repetition << "/" << row.signalling;
  }
  // PTT on before any session is known: nothing to filter on, the radio is
  // heard.
  auto e = Make();
  TERM::RadioStatus status;
  Header(status.select_ed_137().set_header(), TERM::ED137RadioPTT::normal_ptt_on, false);
  EXPECT_TRUE(e->SendASNToChan(status));
  EXPECT_EQ("filter=off", Filter());
  Command("rtpext inject " + std::to_string(tdm) + " 5 10.0.0.9 21400000");
  EXPECT_TRUE(simtest::run_until([&] { return reports == 1; }, 2000));
}

TEST_F(ED137Sim, RadioHeadersReachTheControllerFromTheTypesAndModesThatReceive) {
  const struct {
    std::uint32_t type, txrxmode;
    int reports;
  } table[] = {
      {0, 2, 0}, {1, 2, 0}, {2, 2, 1}, {3, 2, 1}, {4, 2, 1}, {2, 0, 1}, {2, 1, 0}, {3, 0, 1}, {4, 1, 0},
  };
  for (const auto& row : table) {
    auto e = Make();
    ED137RadioParams params;
    params.type = row.type;
    params.txrxmode = row.txrxmode;
    e->SetParams(params);
    reports = 0;
    e->OnRtpProtoRXEvent(RadioPtt(5));
    EXPECT_EQ(row.reports, reports) << row.type << "/" << row.txrxmode;
  }
}

TEST_F(ED137Sim, AnUnchangedStateIsReportedAtMostOnceAnInterval) {
  const struct {
    const char* name;
    std::uint32_t id;  // the first report had 5
    std::uint32_t reported, now;
    int reports;
  } table[] = {
      {"changed at once", 6, 0, 0, 1},
      {"same, 999 ms on", 5, 0, 999, 0},
      {"same, 1000 ms on", 5, 0, 1000, 1},
      {"same, report stamp ahead", 5, 100, 0, 0},
  };
  for (const std::uint32_t origin : {100000u, 0u - 500u}) {
    for (const auto& row : table) {
      const std::string name = std::string(row.name) + " from " + std::to_string(origin);
      auto e = Make();
      e->now = origin;
      e->lastReport = origin - 5000;
      e->OnRtpProtoRXEvent(RadioPtt(5));
      reports = 0;
      e->now = origin + row.now;
      e->lastReport = origin + row.reported;
      e->OnRtpProtoRXEvent(RadioPtt(row.id));
      EXPECT_EQ(row.reports, reports) << name;
      EXPECT_EQ(row.reports ? e->now : origin + row.reported, e->lastReport) << name;
    }
  }
}

}  // namespace
