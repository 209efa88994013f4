// LEMZ and ED-137 radio-gateway streams on the daemon and the default
// simulated board: the RTP session on "/dev/rtp", the header-extension
// session on "/dev/rtp_ext" bound to it, the far end's headers injected there
// and reported as rtpExt signals, the controller's commands, periodic items
// and keep-alives written there, and codec-mode restarts of both sessions.
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <string>
#include <vector>

#include "control/testing/commands.h"
#include "daemon/tests/e2e/board_e2e.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "simboard/testing/sim_client.h"
#include "simboard/testing/tshark.h"

using namespace e2e;
using namespace CtrlTest;

namespace {

const int kTdm = 512;
const std::string kTs = std::to_string(kTdm);

// The create's radio part: prio 15, flags clear, channel 3 at 145.5,
// remote {1, 2}, standby active in group 0, active receiver.
void Flags(TERM::RadioFlags& f, int prio, bool ptt) {
  f.set_prio(prio);
  f.set_ptt(ptt);
  f.set_bss(false);
  f.set_vad_rx(false);
  f.set_vad_tx(false);
  f.set_sql(false);
  f.set_sh(false);
  f.set_pwr(false);
  f.set_rv(false);
  f.set_resv(false);
  f.set_selcall(0);
  f.set_li(0);
}

TERM::RtpRadioRequest& Lemz(LGCP::CreateRtpParams& p) {
  TERM::RtpRadioRequest& radio = p.ref_codecRTP().set_radio();
  TERM::LemzRadioStatus& s = radio.set_status().select_lemz();
  Flags(s.set_flags(), 15, false);
  s.set_freq().set_channel(3);
  s.ref_freq().set_frequency("145.5");
  s.set_remote().set_no(1);
  s.ref_remote().set_ch(2);
  s.set_squelshe(TERM::RadioSquelshe::no_config);
  s.set_rte(TERM::RadioRTE::no_config);
  s.set_standby_state_channel(TERM::RadioStandby::active);
  s.set_standby_group(0);
  s.set_standby_state_receiver(TERM::RadioStandby::active);
  return radio;
}

LGCP::Command WmTrans(const char* ip) {
  return Ioctl([ip](LGCP::IoctlParams& p) {
    TERM::LemzRadioModifier& m = p.select_rtpExt().select_lemz();
    m.set_addr().set_session_addr(ip);
    m.ref_addr().set_session_ssrc(7);
    TERM::RadioCommandWMTrans& t = m.set_params().select_wm_trans();
    Flags(t.set_flags(), 15, true);
    t.set_ip(ip);
    t.set_ssrc(7);
  });
}

void Header(TERM::ED137RadioHeader& h, TERM::ED137RadioPTT::NamedNumber ptt = TERM::ED137RadioPTT::ptt_off,
            bool squ = false, bool sct = false) {
  h.set_ptt(ptt);
  h.set_squ(squ ? TERM::ED137RadioSQU::squ_on : TERM::ED137RadioSQU::squ_off);
  h.set_ptt_id(0);
  h.set_ptt_mute(false);
  h.set_ptt_summation(false);
  h.set_sct(sct);
}

// The create's radio part: an ED-137 status, every header bit off.
TERM::ED137RadioStatus& Ed137(LGCP::CreateRtpParams& p) {
  TERM::ED137RadioStatus& s = p.ref_codecRTP().set_radio().set_status().select_ed_137();
  Header(s.set_header());
  return s;
}

// The status built goes to status when asked for.
TERM::ED137RadioResponse& Response(LGCP::CreateRtpParams& p, TERM::ED137RadioType::NamedNumber type,
                                   TERM::ED137RadioTxRxMode::NamedNumber mode,
                                   TERM::ED137RadioStatus** status = nullptr) {
  TERM::ED137RadioStatus& s = Ed137(p);
  if (status) *status = &s;
  TERM::ED137RadioResponse& r = s.set_radio_response();
  r.set_type(type);
  r.set_txrxmode(mode);
  r.set_ptt_id(0);
  return r;
}

LGCP::Command Ed137Modifier(const char* addr, bool tx, TERM::ED137RadioPTT::NamedNumber ptt, bool squ = false,
                            bool sct = false) {
  return Ioctl([=](LGCP::IoctlParams& p) {
    TERM::ED137RadioModifier& m = p.select_rtpExt().select_ed_137();
    m.set_addr().set_session_addr(addr);
    m.ref_addr().set_session_ssrc(7);
    if (tx)
      Header(m.set_params().select_tx().set_header(), ptt, squ, sct);
    else
      Header(m.set_params().select_rx().set_header(), ptt, squ, sct);
  });
}

bool IsRtpExt(const LGCP::Signal& s) { return s.rtpExt_isSelected(); }
bool IsAbort(const LGCP::Signal& s) { return s.abort_isSelected(); }

LGCP::Command Mode(LGCP::CodecMode::NamedNumber mode) {
  return Ioctl([mode](LGCP::IoctlParams& p) { p.select_encoder_mode(mode); });
}

class RadioBoard : public BoardDaemon {
protected:
  void SetUp() override {
    BoardDaemon::SetUp();
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(receiver.Bind());
  }

  // Creates slot n as a radio stream; its two stream signals are taken.
  int Create(long slot, const RtpTweak& tweak = Lemz) {
    const int a = Answer(Rtp(receiver.port - 1, int(LocalPort(receiver.port)), tweak), slot);
    if (a == kSuccess) {
      EXPECT_TRUE(WaitFor(slot, [](const LGCP::Signal& s) { return s.transmitter_isSelected(); }));
      EXPECT_TRUE(WaitFor(slot, [](const LGCP::Signal& s) { return s.receiver_isSelected(); }));
    }
    return a;
  }

  std::vector<std::string> Sent() { return board.Command("rtpext sent " + kTs).lines; }
  std::vector<std::string> Log() { return board.Command("rtpext log " + kTs).lines; }
  // The index of the first log line that starts with text, at or after from.
  long Find(const std::vector<std::string>& log, const std::string& text, long from = 0) {
    for (long i = from; i < long(log.size()); ++i)
      if (log[std::size_t(i)].rfind(text, 0) == 0) return i;
    return -1;
  }
  // Whether the items of that many periods went out (counted by the last,
  // standby; the first is the flags item, or the transmitter's while PTT is
  // held).
  bool Items(std::size_t periods) {
    return Eventually(
        [&] {
          const auto sent = Sent();
          return std::count_if(sent.begin(), sent.end(), [](const std::string& l) { return l.rfind("87 ", 0) == 0; }) >=
                 long(periods);
        },
        10000);
  }

  std::string Logs() const { return daemon.Out() + daemon.Err(); }

  // Signals of the slot that match, kept aside by WaitFor.
  long Kept(long slot, bool (*match)(const LGCP::Signal&)) const {
    return std::count_if(seen.begin(), seen.end(), [&](const LGCP::Message& m) {
      return Controller::SlotOf(m) == slot && match(m.get_pdu().get_signal());
    });
  }
  // The writes after the first `from`, once there are at least `count` more.
  std::vector<std::string> SentAfter(std::size_t from, std::size_t count = 1) {
    std::vector<std::string> all;
    Eventually([&] {
      all = Sent();
      return all.size() >= from + count;
    });
    return std::vector<std::string>(all.begin() + long(std::min(from, all.size())), all.end());
  }
  // The writes after the first `from` up to the first that is `write`, once
  // there is one: the periodic ones may come before a command's.
  std::vector<std::string> SentUntil(std::size_t from, const std::string& write) {
    std::vector<std::string> all;
    Eventually([&] {
      all = Sent();
      return std::find(all.begin() + long(std::min(from, all.size())), all.end(), write) != all.end();
    });
    const auto first = all.begin() + long(std::min(from, all.size()));
    const auto last = std::find(first, all.end(), write);
    return std::vector<std::string>(first, last == all.end() ? last : last + 1);
  }
  bool InputStarted() {
    const auto log = board.Command("rtp log " + kTs).lines;
    return std::any_of(log.begin(), log.end(), [](const std::string& l) { return contains(l, "'R' 4"); });
  }

  UdpReceiver receiver;
};

TEST_F(RadioBoard, GatewayReportsCommandsSendsItemsAndFollowsRestarts) {
  ASSERT_EQ(kSuccess, Create(1));
  EXPECT_EQ("0x1337", Value("rtpext get " + kTs, "etype"));
  EXPECT_EQ("0,0,0,0", Value("rtpext get " + kTs, "words"));
  EXPECT_EQ(Value("rtp get " + kTs, "session"), Value("rtpext get " + kTs, "rtp"));
  EXPECT_EQ(std::to_string(daemon.Pid()), Value("rtpext get " + kTs, "pid"));
  EXPECT_TRUE(Sent().empty());

  // The periodic items: flags, channel, remote-control channel, standby.
  ASSERT_TRUE(Items(1)) << testing::PrintToString(Sent());
  auto sent = Sent();
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ("81 f0 00 00", sent[0]);
  EXPECT_EQ("84 f0 00 00 00 00 00 03 43 11 80 00 00 00 00 00", sent[1]);  // channel 3 at 145.5
  EXPECT_EQ("86 f0 00 00 01 02 00 00", sent[2]);
  EXPECT_EQ("87 f0 00 00 00 00 00 00", sent[3]);
  EXPECT_TRUE(Items(2));

  // A workstation's PTT command.
  EXPECT_TRUE(board.Command("rtpext inject " + kTs + " 1234 10.0.0.9 03340000").ok);
  LGCP::Signal s;
  ASSERT_TRUE(WaitFor(1, [](const LGCP::Signal& x) { return x.rtpExt_isSelected(); }, &s));
  const TERM::RtpRadioRequest& r = s.get_rtpExt();
  ASSERT_TRUE(r.request_isPresent() && r.get_request().lemz_isSelected()) << s;
  const TERM::LemzRadioModifier& m = r.get_request().get_lemz();
  ASSERT_TRUE(m.get_params().gw_set_ptt_isSelected()) << s;
  EXPECT_EQ(3, m.get_params().get_gw_set_ptt().get_flags().get_prio().getValue());
  EXPECT_TRUE(m.get_params().get_gw_set_ptt().get_flags().get_ptt());
  EXPECT_EQ("10.0.0.9", m.get_addr().get_session_addr());
  EXPECT_EQ(1234u, m.get_addr().get_session_ssrc().getValue());
  // The stored status, its frequency as the engine prints it.
  LGCP::Command created = Rtp(0, -1, [](LGCP::CreateRtpParams& p) {
    Lemz(p).ref_status().ref_lemz().ref_freq().set_frequency("145.500000");
  });
  EXPECT_EQ(created.get_create().get_rtp().get_codecRTP().get_radio().get_status(), r.get_status()) << s;

  // A standby state the controller protocol cannot carry goes as active.
  EXPECT_TRUE(board.Command("rtpext inject " + kTs + " 1234 10.0.0.9 0df00000ff000000").ok);
  ASSERT_TRUE(WaitFor(1, [](const LGCP::Signal& x) { return x.rtpExt_isSelected(); }, &s));
  ASSERT_TRUE(s.get_rtpExt().get_request().get_lemz().get_params().gw_set_standby_isSelected()) << s;
  EXPECT_EQ(TERM::RadioStandby::active,
            s.get_rtpExt().get_request().get_lemz().get_params().get_gw_set_standby().get_state().asInt());
  EXPECT_TRUE(Eventually([&] { return contains(Logs(), "out of range, sent as 0: standby state 255"); })) << Logs();

  // The controller hands the transmitter to a workstation; its lock, not the
  // device, keeps the others out.
  const std::size_t before = Sent().size();
  EXPECT_EQ(kSuccess, Answer(WmTrans("10.0.0.5"), 1));
  // The simulated device takes a write on its next turn of the loop, after
  // the items of a period that may have begun meanwhile.
  const std::string trans = "82 f4 00 00 05 00 00 0a 00 00 00 07";  // wm-trans with PTT, ip, ssrc
  sent = SentUntil(before, trans);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(trans, sent.back()) << testing::PrintToString(sent);
  for (std::size_t i = 0; i + 1 < sent.size(); ++i)
    EXPECT_NE(std::string::npos, std::string(" 81 84 86 87").find(" " + sent[i].substr(0, 2))) << sent[i];
  EXPECT_EQ("off", Value("rtpext get " + kTs, "filter"));

  // A codec change restarts both sessions.
  const std::size_t logged = Log().size();
  EXPECT_EQ(kSuccess, Answer(Mode(LGCP::CodecMode::ulaw), 1));
  auto log = Log();
  const long stop = Find(log, "rtpext 1: 'E' 2", long(logged));
  const long restart = Find(log, "rtp 2: 'R' 0", stop);
  const long init = Find(log, "rtpext 2: 'E' 0", restart);
  const long attach = Find(log, "rtpext 2: 'E' 1", init);
  EXPECT_TRUE(stop >= 0 && restart > stop && init > restart && attach > init) << testing::PrintToString(log);
  EXPECT_EQ("2", Value("rtpext get " + kTs, "rtp"));
  // Another station's flags are refused while 10.0.0.5 holds the
  // transmitter; its stronger PTT is reported.
  EXPECT_TRUE(board.Command("rtpext inject " + kTs + " 1234 10.0.0.9 01f00000").ok);
  EXPECT_TRUE(board.Command("rtpext inject " + kTs + " 1234 10.0.0.9 03340000").ok);
  ASSERT_TRUE(WaitFor(1, IsRtpExt, &s));
  EXPECT_TRUE(s.get_rtpExt().get_request().get_lemz().get_params().gw_set_ptt_isSelected()) << s;
  EXPECT_TRUE(Items(3));

  // The same mode again leaves RTP alone but still restarts the engine.
  EXPECT_EQ(kSuccess, Answer(Mode(LGCP::CodecMode::ulaw), 1));
  log = Log();
  EXPECT_GE(Find(log, "rtpext 3: 'E' 1"), 0) << testing::PrintToString(log);
  EXPECT_LT(Find(log, "rtp 3:"), 0);

  // Destroy: the header-extension session goes before the RTP one.
  EXPECT_EQ(kSuccess, Answer(Destroy(), 1));
  log = Log();
  const long detach = Find(log, "rtpext 3: 'E' 2");
  EXPECT_TRUE(detach >= 0 && Find(log, "rtp 2: 'R' 10") > detach) << testing::PrintToString(log);
  EXPECT_EQ(0, Stop());
}

TEST_F(RadioBoard, RtpOnlyModeAndBothDevices) {
  ASSERT_EQ(kSuccess, Create(1, [](LGCP::CreateRtpParams& p) {
              Lemz(p);
              TERM::RtpE2M& e = p.ref_codecRTP().set_rtp_e2m();
              e.set_slot(0);
              e.set_channel(0);
              TERM::RtpExtDescription& d = e.set_mode().select_only_rtp();
              d.set_fd(9);
              d.set_pid(77);
            }));
  EXPECT_EQ("9,77", Value("rtp get " + kTs, "attach"));
  EXPECT_FALSE(board.Command("rtpext get " + kTs).ok);
  EXPECT_EQ(kSuccess, Answer(Mode(LGCP::CodecMode::ulaw), 1));
  const auto log = Log();
  const long closed = Find(log, "rtp 1: close");
  const long added = Find(log, "rtp 2: 'R' 2");
  EXPECT_TRUE(closed >= 0 && added > closed) << testing::PrintToString(log);
  EXPECT_GE(Find(log, "rtp 2: 'R' 9", added), 0) << testing::PrintToString(log);
  // Nor after the restart: no session to send items on.
  EXPECT_FALSE(board.Command("rtpext get " + kTs).ok);
  EXPECT_EQ(kSuccess, Answer(Destroy(), 1));

  // rtp-e2m without a mode: both devices, the timer on.
  ASSERT_EQ(kSuccess, Create(2, [](LGCP::CreateRtpParams& p) {
              Lemz(p);
              TERM::RtpE2M& e = p.ref_codecRTP().set_rtp_e2m();
              e.set_slot(0);
              e.set_channel(0);
            }));
  EXPECT_EQ("0x1337", Value("rtpext get " + kTs, "etype"));
  EXPECT_TRUE(Items(1));
  EXPECT_EQ(0, Stop());
}

TEST_F(RadioBoard, RadioExtrasAndAMissingHeaderExtensionDevice) {
  struct Case {
    const char* what;
    RtpTweak tweak;
    const char* bss;
    const char* dsp;
  };
  const Case cases[] = {
      {"bss on",
       [](LGCP::CreateRtpParams& p) {
         Lemz(p).set_bss_enable(true);
       },
       "1", " bss=on"},
      {"bss off",
       [](LGCP::CreateRtpParams& p) {
         Lemz(p).set_bss_enable(false);
       },
       "0", " bss=off"},
      {"tx delay",
       [](LGCP::CreateRtpParams& p) {
         Lemz(p).set_tx_delay(40);
       },
       "0", "delays-config rx=0 tx=40"},
  };
  long slot = 1;
  for (const Case& c : cases) {
    ASSERT_EQ(kSuccess, Create(slot, c.tweak)) << c.what;
    EXPECT_EQ(c.bss, Value("rtp get " + kTs, "bss")) << c.what;
    const SimBoard::Answer dsp = board.Command("dsp get " + kTs);
    EXPECT_NE("", dsp.find(c.dsp)) << c.what << "\n" << dsp.text();
    EXPECT_EQ(kSuccess, Answer(Destroy(), slot++));
  }

  // Without its session nothing reaches the workstations: no success.
  Board("fail open /dev/rtp_ext ENOENT");
  ASSERT_EQ(kSuccess, Create(slot));
  EXPECT_TRUE(Eventually([&] { return contains(Logs(), "create rtp_ext session fail !!!"); })) << Logs();
  EXPECT_EQ(LGCP::ErrorCause::internal, Answer(WmTrans("10.0.0.5"), slot));
  EXPECT_EQ(0, Stop());
}

TEST_F(RadioBoard, RequestsTakenElsewhereOrRefused) {
  // No radio part: a plain RTP stream, no header extension.
  ASSERT_EQ(kSuccess, Create(1, nullptr));
  EXPECT_FALSE(board.Command("rtpext get " + kTs).ok);
  EXPECT_EQ(LGCP::ErrorCause::unsupported, Answer(WmTrans("10.0.0.5"), 1));
  // An ED-137 status is not a LEMZ stream.
  ASSERT_EQ(kSuccess, Create(2, [](LGCP::CreateRtpParams& p) { Ed137(p); }));
  EXPECT_TRUE(Eventually([&] { return contains(Logs(), "do create rtp ext ED137: "); })) << Logs();
  EXPECT_FALSE(contains(Logs(), "do create rtp ext LEMZ: ")) << Logs();
  EXPECT_EQ(kSuccess, Answer(Destroy(), 2));

  ASSERT_EQ(kSuccess, Create(3));
  EXPECT_EQ(LGCP::ErrorCause::unsupported, Answer(Ioctl([](LGCP::IoctlParams& p) {
                                                    TERM::ED137RadioModifier& m = p.select_rtpExt().select_ed_137();
                                                    m.set_addr().set_session_addr("10.0.0.5");
                                                    m.ref_addr().set_session_ssrc(7);
                                                    TERM::ED137RadioHeader& h = m.set_params().select_tx().set_header();
                                                    h.set_ptt(TERM::ED137RadioPTT::ptt_off);
                                                    h.set_squ(TERM::ED137RadioSQU::squ_off);
                                                    h.set_ptt_id(0);
                                                    h.set_ptt_mute(false);
                                                    h.set_ptt_summation(false);
                                                    h.set_sct(false);
                                                  }),
                                                  3));

  EXPECT_EQ(LGCP::ErrorCause::insufficientResources,
            Answer(Rtp(receiver.port - 1, int(LocalPort(receiver.port)),
                       [](LGCP::CreateRtpParams& p) {
                         Lemz(p);
                         p.ref_codecRTP().set_payload(TERM::Payload::ptT38_UDP_TL);
                       }),
                   4));
  EXPECT_TRUE(Eventually([&] { return contains(Logs(), "not found"); })) << Logs();
  EXPECT_TRUE(contains(Logs(), "rtp ext LEMZ[")) << Logs();
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(Rtp(65535, -1, Lemz), 4));
  EXPECT_EQ(0, Stop());
}

TEST_F(RadioBoard, Ed137RecordsKeepAlivesSupervisionAndReports) {
  struct Row {
    const char* name;
    RtpTweak tweak;
    const char* words;  // the init record from offset 4
    bool reports;
  };
  const Row rows[] = {
      {"defaults", [](LGCP::CreateRtpParams& p) { Ed137(p); }, "1,123,10,1", true},
      {"pfactor 4, period 200, sigtime 3",
       [](LGCP::CreateRtpParams& p) {
         p.ref_codecRTP().set_pfactor(4);
         TERM::ED137RadioResponse& r = Response(p, TERM::ED137RadioType::radio_txrx, TERM::ED137RadioTxRxMode::txrx);
         r.set_r2s_keepalive_period(200);
         r.set_sigtime(3);
       },
       "1,123,15,3", true},
      {"pfactor 3, period 20",
       [](LGCP::CreateRtpParams& p) {
         p.ref_codecRTP().set_pfactor(3);
         Response(p, TERM::ED137RadioType::radio_txrx, TERM::ED137RadioTxRxMode::txrx).set_r2s_keepalive_period(20);
       },
       "1,123,0,1", true},
      {"radio-idle",
       [](LGCP::CreateRtpParams& p) { Response(p, TERM::ED137RadioType::radio_idle, TERM::ED137RadioTxRxMode::txrx); },
       "1,123,10,1", false},
      {"rx only",
       [](LGCP::CreateRtpParams& p) { Response(p, TERM::ED137RadioType::radio_txrx, TERM::ED137RadioTxRxMode::rx); },
       "1,123,10,1", false},
  };
  long slot = 1;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    seen.clear();
    const std::size_t before = Sent().size();
    ASSERT_EQ(kSuccess, Create(slot, row.tweak));
    EXPECT_EQ("0x0167", Value("rtpext get " + kTs, "etype"));
    EXPECT_EQ(row.words, Value("rtpext get " + kTs, "words"));
    EXPECT_EQ(Value("rtp get " + kTs, "session"), Value("rtpext get " + kTs, "rtp"));
    EXPECT_EQ("-1", Value("rtpext get " + kTs, "pid"));
    if (slot == 1) {
      // The state at creation, then a keep-alive each second; 151 on each
      // tick from the one 2000 ms after creation, while the radio is silent.
      const auto sent = SentAfter(before, 3);
      EXPECT_EQ(std::vector<std::string>(3, "00 00 00 00"), std::vector<std::string>(sent.begin(), sent.begin() + 3));
      LGCP::Signal s;
      ASSERT_TRUE(WaitFor(slot, IsAbort, &s));
      EXPECT_EQ(151, s.get_abort().getValue());
      ASSERT_TRUE(WaitFor(slot, IsAbort));
    }

    // The radio's PTT: a tx header.
    EXPECT_TRUE(board.Command("rtpext inject " + kTs + " 5 10.0.0.9 21400000").ok);
    LGCP::Signal s;
    if (!row.reports) {
      // Silence again after it; nothing was reported meanwhile.
      ASSERT_TRUE(WaitFor(slot, IsAbort));
      EXPECT_EQ(0, Kept(slot, IsRtpExt));
      EXPECT_EQ(kSuccess, Answer(Destroy(), slot++));
      continue;
    }
    ASSERT_TRUE(WaitFor(slot, IsRtpExt, &s));
    const TERM::RtpRadioRequest& r = s.get_rtpExt();
    ASSERT_TRUE(r.request_isPresent() && r.get_request().ed_137_isSelected()) << s;
    const TERM::ED137RadioModifier& m = r.get_request().get_ed_137();
    ASSERT_TRUE(m.get_params().tx_isSelected()) << s;
    EXPECT_EQ(TERM::ED137RadioPTT::normal_ptt_on, m.get_params().get_tx().get_header().get_ptt().asInt());
    EXPECT_EQ(5u, m.get_params().get_tx().get_header().get_ptt_id().getValue());
    EXPECT_EQ("10.0.0.9", m.get_addr().get_session_addr());
    EXPECT_EQ(5u, m.get_addr().get_session_ssrc().getValue());
    // The status is the state the controller last set: all off, no quality.
    LGCP::Command created = Rtp(0, -1, [](LGCP::CreateRtpParams& p) {
      TERM::ED137RadioExtensionSQI& q = Ed137(p).set_sqi();
      q.set_bss_method(TERM::ED137RadioBSSMethod::rssi);
      q.set_bss_quality(0);
    });
    EXPECT_EQ(created.get_create().get_rtp().get_codecRTP().get_radio().get_status(), r.get_status()) << s;

    if (slot == 1) {
      // A burst from one source reaches the controller as its last header;
      // one that does not unpack is dropped.
      EXPECT_TRUE(board.Command("rtpext inject " + kTs + " 5 10.0.0.9 21800000,21c00000,22000000").ok);
      EXPECT_TRUE(board.Command("rtpext inject " + kTs + " 6 10.0.0.8 20").ok);
      EXPECT_TRUE(board.Command("rtpext inject " + kTs + " 7 10.0.0.7 21400000").ok);
      std::vector<std::string> got;
      for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(WaitFor(slot, IsRtpExt, &s));
        const TERM::ED137RadioModifier& x = s.get_rtpExt().get_request().get_ed_137();
        got.push_back(x.get_addr().get_session_addr() + " " +
                      std::to_string(x.get_params().get_tx().get_header().get_ptt_id().getValue()));
      }
      EXPECT_EQ((std::vector<std::string>{"10.0.0.9 8", "10.0.0.7 5"}), got);
      EXPECT_EQ(0, Kept(slot, IsRtpExt));
    }
    EXPECT_EQ(kSuccess, Answer(Destroy(), slot++));
  }
  EXPECT_EQ(0, Stop());
}

TEST_F(RadioBoard, Ed137ControllerStateFilterAndSquelch) {
  ASSERT_EQ(kSuccess, Create(1, [](LGCP::CreateRtpParams& p) {
              TERM::ED137RadioStatus* s = nullptr;
              Response(p, TERM::ED137RadioType::radio_txrx, TERM::ED137RadioTxRxMode::txrx, &s)
                  .set_transmission_depend_on_squ(true);
              Header(s->ref_header(), TERM::ED137RadioPTT::ptt_off, true);
              TERM::ED137RadioExtensionSQI& q = s->set_sqi();
              q.set_bss_method(TERM::ED137RadioBSSMethod::agc);
              q.set_bss_quality(9);
            }));
  ASSERT_EQ(kSuccess, Answer(Trunk(0, 5), 2));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(2), 1));
  ASSERT_EQ(kSuccess, Answer(ConnectTo(1), 2));
  // The squelch, not the connection, starts the input: at the next ioctl.
  EXPECT_FALSE(InputStarted());
  // The state at creation, then keep-alives that repeat it.
  std::vector<std::string> sent = SentAfter(0, 2);
  EXPECT_EQ(std::vector<std::string>(2, "10 01 11 49"), std::vector<std::string>(sent.begin(), sent.begin() + 2));
  EXPECT_EQ(LGCP::ErrorCause::unsupported, Answer(WmTrans("10.0.0.5"), 1));
  EXPECT_TRUE(InputStarted());
  EXPECT_EQ("1", Value("rtp get " + kTs, "input"));
  EXPECT_EQ(kSuccess, Answer(Ed137Modifier("10.0.0.7", false, TERM::ED137RadioPTT::ptt_off), 1));
  EXPECT_EQ("0", Value("rtp get " + kTs, "input"));
  const auto log = board.Command("rtp log " + kTs).lines;
  EXPECT_TRUE(contains(log.back(), "'R' 5")) << testing::PrintToString(log);

  // PTT to the radio: a tx header, the filter on the session; keep-alives go
  // on as rx headers of the words the modifier stored.
  const std::vector<std::string> stored = Sent();
  ASSERT_FALSE(stored.empty());
  std::size_t before = stored.size();
  EXPECT_EQ(kSuccess, Answer(Ed137Modifier("10.0.0.7", true, TERM::ED137RadioPTT::normal_ptt_on, true, true), 1));
  EXPECT_EQ("10.0.0.7", Value("rtpext get " + kTs, "filter"));
  EXPECT_EQ("1", Value("rtp get " + kTs, "input"));
  // Before it only keep-alives of the words stored before, if a tick came.
  sent = SentUntil(before, "20 00 00 00");
  ASSERT_FALSE(sent.empty());
  const std::string tx = sent.back();
  EXPECT_EQ("20 00 00 00", tx);
  EXPECT_EQ(std::vector<std::string>(sent.size() - 1, stored.back()),
            std::vector<std::string>(sent.begin(), sent.end() - 1));
  ASSERT_TRUE(Eventually([&] {
    sent = Sent();
    return sent.back() == "30 08 00 00";
  })) << testing::PrintToString(sent);

  // A session that is no address is refused while PTT is on, taken with it
  // off (which lets every source in again).
  before = Sent().size();
  EXPECT_EQ(LGCP::ErrorCause::unsupported, Answer(Ed137Modifier("radio-a", true, TERM::ED137RadioPTT::normal_ptt_on), 1));
  EXPECT_EQ("10.0.0.7", Value("rtpext get " + kTs, "filter"));
  EXPECT_TRUE(Eventually([&] { return contains(Logs(), "\"radio-a\", which is no address: refused"); })) << Logs();
  EXPECT_EQ(kSuccess, Answer(Ed137Modifier("radio-a", true, TERM::ED137RadioPTT::ptt_off), 1));
  EXPECT_EQ("off", Value("rtpext get " + kTs, "filter"));
  // The refused one wrote nothing; the taken one a tx header with PTT off,
  // after keep-alives of the words stored before, if a tick came.
  sent = SentUntil(before, "00 00 00 00");
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ("00 00 00 00", sent.back()) << testing::PrintToString(sent);
  EXPECT_EQ(std::vector<std::string>(sent.size() - 1, "30 08 00 00"),
            std::vector<std::string>(sent.begin(), sent.end() - 1));
  // A header the device no longer takes is no success.
  Board("hangup /dev/rtp_ext");
  EXPECT_EQ(LGCP::ErrorCause::internal,
            Answer(Ed137Modifier("10.0.0.7", false, TERM::ED137RadioPTT::ptt_off, true), 1));

  // Read independently: the headers in the extension of RTP packets.
  if (SimBoard::HaveTshark() && SimBoard::HaveText2pcap()) {
    std::vector<std::string> packets;
    for (const std::string& hex : {std::string("10 01 11 49"), tx}) {
      std::string ext = Unhex(hex.substr(0, 2) + hex.substr(3, 2) + hex.substr(6, 2) + hex.substr(9, 2));
      std::string rtp = {'\x90', '\x08', '\x00', '\x01', 0, 0, 0, 0, '\x12', '\x34', '\x56', '\x78',
                         '\x01', '\x67', 0,      1};
      packets.push_back(rtp + ext + std::string(160, '\xd5'));
    }
    const auto lines = SimBoard::TsharkUdp(packets, 40000, 40002, "rtp",
                                           "-e rtp.ext.ed137a.squ -e rtp.ext.ed137a.x -e rtp.ext.ed137a.ft.sqi.qidx "
                                           "-e rtp.ext.ed137a.ft.sqi.qidx-ml -e rtp.ext.ed137a.ptt_type");
    EXPECT_EQ((std::vector<std::string>{"1|1|9|1|0", "0|0|||1"}), lines);
  }

  EXPECT_EQ(LGCP::ErrorCause::insufficientResources,
            Answer(Rtp(receiver.port - 1, int(LocalPort(receiver.port)),
                       [](LGCP::CreateRtpParams& p) {
                         Ed137(p);
                         p.ref_codecRTP().set_payload(TERM::Payload::ptT38_UDP_TL);
                       }),
                   3));
  EXPECT_TRUE(Eventually([&] { return contains(Logs(), "rtp ext ED137["); })) << Logs();
  EXPECT_TRUE(contains(Logs(), "rtp do not created: payload ")) << Logs();

  // Its RTCP port must be free: a socket that allows reuse does not make
  // room for it, as it does for a LEMZ stream.
  const unsigned local = LocalPort(receiver.port);
  Fd held(::socket(AF_INET, SOCK_DGRAM, 0));
  const int on = 1;
  ASSERT_EQ(0, ::setsockopt(held.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on));
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(local + 1));
  ASSERT_EQ(0, ::bind(held.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a));
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources,
            Answer(Rtp(receiver.port - 1, int(local), [](LGCP::CreateRtpParams& p) { Ed137(p); }), 3));
  EXPECT_TRUE(Eventually([&] { return contains(Logs(), "can not bind socket"); })) << Logs();
  EXPECT_EQ(kSuccess, Answer(Rtp(receiver.port - 1, int(local), Lemz), 3));
  EXPECT_EQ(0, Stop());
}

}  // namespace
