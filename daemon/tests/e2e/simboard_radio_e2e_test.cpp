// LEMZ radio-gateway streams on the daemon and the default simulated board:
// the RTP session on "/dev/rtp", the header-extension session on
// "/dev/rtp_ext" bound to it, the workstations' commands injected there and
// reported as rtpExt signals, the controller's commands and periodic items
// written there, and codec-mode restarts of both sessions.
#include <algorithm>
#include <string>
#include <vector>

#include "control/testing/commands.h"
#include "daemon/tests/e2e/board_e2e.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "simboard/testing/sim_client.h"

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

  // The value after "key=" in the lines of a board command.
  std::string Value(const std::string& command, const std::string& key) {
    const SimBoard::Answer a = board.Command(command);
    for (const std::string& line : a.lines) {
      const size_t at = (" " + line).find(" " + key + "=");
      if (at == std::string::npos) continue;
      const size_t from = at + key.size() + 1;
      return line.substr(from, line.find(' ', from) - from);
    }
    return "?";
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
        3000);
  }

  std::string Logs() const { return daemon.Out() + daemon.Err(); }

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

  // The controller hands the transmitter to a workstation.
  const std::size_t before = Sent().size();
  EXPECT_EQ(kSuccess, Answer(WmTrans("10.0.0.5"), 1));
  // The simulated device takes a write on its next turn of the loop.
  ASSERT_TRUE(Eventually([&] {
    sent = Sent();
    return sent.size() > before;
  })) << testing::PrintToString(sent);
  EXPECT_EQ("82 f4 00 00 05 00 00 0a 00 00 00 07", sent[before]);  // wm-trans with PTT, ip, ssrc
  EXPECT_EQ("10.0.0.5", Value("rtpext get " + kTs, "filter"));

  // A codec change restarts both sessions; the new one keeps the filter.
  const std::size_t logged = Log().size();
  EXPECT_EQ(kSuccess, Answer(Mode(LGCP::CodecMode::ulaw), 1));
  auto log = Log();
  const long stop = Find(log, "rtpext 1: 'E' 2", long(logged));
  const long restart = Find(log, "rtp 2: 'R' 0", stop);
  const long init = Find(log, "rtpext 2: 'E' 0", restart);
  const long attach = Find(log, "rtpext 2: 'E' 1", init);
  EXPECT_TRUE(stop >= 0 && restart > stop && init > restart && attach > init) << testing::PrintToString(log);
  EXPECT_EQ("2", Value("rtpext get " + kTs, "rtp"));
  EXPECT_EQ("10.0.0.5", Value("rtpext get " + kTs, "filter"));
  const SimBoard::Answer filtered = board.Command("rtpext inject " + kTs + " 1234 10.0.0.9 03340000");
  EXPECT_EQ("filtered", filtered.error) << filtered.text();
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
  EXPECT_FALSE(Items(1));
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

  Board("fail open /dev/rtp_ext ENOENT");
  ASSERT_EQ(kSuccess, Create(slot));
  EXPECT_TRUE(Eventually([&] { return contains(Logs(), "create rtp_ext session fail !!!"); })) << Logs();
  EXPECT_EQ(0, Stop());
}

TEST_F(RadioBoard, RequestsTakenElsewhereOrRefused) {
  // No radio part: a plain RTP stream, no header extension.
  ASSERT_EQ(kSuccess, Create(1, nullptr));
  EXPECT_FALSE(board.Command("rtpext get " + kTs).ok);
  EXPECT_EQ(LGCP::ErrorCause::unsupported, Answer(WmTrans("10.0.0.5"), 1));
  // An ED-137 status is not a LEMZ stream.
  EXPECT_NE(kSuccess, Answer(Rtp(receiver.port - 1, int(LocalPort(receiver.port)),
                                 [](LGCP::CreateRtpParams& p) {
                                   TERM::ED137RadioHeader& h =
                                       p.ref_codecRTP().set_radio().set_status().select_ed_137().set_header();
                                   h.set_ptt(TERM::ED137RadioPTT::ptt_off);
                                   h.set_squ(TERM::ED137RadioSQU::squ_off);
                                   h.set_ptt_id(0);
                                   h.set_ptt_mute(false);
                                   h.set_ptt_summation(false);
                                   h.set_sct(false);
                                 }),
                             2));

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

}  // namespace
