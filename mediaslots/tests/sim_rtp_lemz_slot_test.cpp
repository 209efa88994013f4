// Radio slots in-process on the simulated board: the forms the factory does
// not build.
#include <gtest/gtest.h>

#include <iostream>
#include <memory>

#include "mediaslots/rtp_lemz_slot.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "simboard/simulator.h"
#include "simboard/tests/sim_test_util.h"

namespace {

class RadioSlotSim : public ::testing::Test {
public:
  void SetUp() override { sim.reset(); }
  void TearDown() override {
    sim.collect_closed();
    sim.reset();
  }

  // A begun G.729 session to a discard port.
  bool Session(RtpSetup::Session& session) {
    TERM::RtpParams codec;
    codec.set_payload(TERM::Payload::ptG729);
    codec.set_dhost().set_iaddr("127.0.0.1");
    codec.ref_dhost().set_port(9);
    simtest::Capture log(std::clog);
    return RtpSetup::Create("test: ", codec, TERM::Payload::ptG729, TERM::Payload::ptG729, 0, session);
  }

  SimBoard::Simulator& sim = SimBoard::Simulator::instance();
};

LGCP::IoctlParams WmFlags() {
  LGCP::IoctlParams p;
  TERM::LemzRadioModifier& m = p.select_rtpExt().select_lemz();
  m.set_addr().set_session_addr("10.0.0.5");
  m.ref_addr().set_session_ssrc(7);
  m.set_params().select_wm_flags().set_flags().set_prio(15);
  return p;
}

TEST_F(RadioSlotSim, WithoutEngineRtpExtIsNotTaken) {
  RtpSetup::Session session;
  ASSERT_TRUE(Session(session));
  rtp_ext_init_params init = {};
  RtpExtSlot slot(session.tdm, session.device, session.params, init);
  EXPECT_FALSE(slot.Ioctl(WmFlags()));
  EXPECT_STREQ("rtp ext", slot.GetName());
  EXPECT_TRUE(slot.IBeforeDestroy());
}

TEST_F(RadioSlotSim, WorkstationSlotSendsTheControllersCommands) {
  RtpSetup::Session session;
  ASSERT_TRUE(Session(session));
  rtp_ext_attach_session_params attach = {session.device.lowlevel_fd(), -1};
  rtp_ext_init_params init = {};
  init.etype = 0x1337;
  simtest::Capture log(std::clog);
  RtpLEMZRadioWSSlot slot(session.tdm, session.device, session.params, attach, init);
  session.device.close();
  EXPECT_STREQ("rtp ext LEMZ (WS)", slot.GetName());
  // The workstation's commands to the gateway are the gw- ones.
  LGCP::IoctlParams p;
  TERM::LemzRadioModifier& m = p.select_rtpExt().select_lemz();
  m.set_addr().set_session_addr("10.0.0.5");
  m.ref_addr().set_session_ssrc(7);
  m.set_params().select_gw_set_ptt().set_flags().set_prio(3);
  EXPECT_TRUE(slot.Ioctl(p));
  EXPECT_TRUE(slot.IBeforeDestroy());
}

}  // namespace
