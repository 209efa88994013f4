// ISDN and QSIG D-channel slots on the daemon and the default simulated
// board: D-channels on their own HDLC controller channels and on the DSP data
// device, each pair joined to the cabled trunks 0 and 1 and talking Q.921 to
// each other, the QSIG link's B subslots, and what the daemon does when the
// devices refuse or hang up.
#include <functional>
#include <string>
#include <vector>

#include "control/testing/commands.h"
#include "daemon/tests/e2e/board_e2e.h"
#include "messages/ACP.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "simboard/testing/sim_client.h"

using namespace e2e;
using namespace CtrlTest;

namespace {

using Bytes = std::vector<char>;

// A SETUP with a call reference the user side chose, and the network's
// CALL PROCEEDING for it.
const Bytes kSetup = {0x08, 0x01, 0x01, 0x05, 0x04, 0x03, char(0x80), char(0x90), char(0xa3)};
const Bytes kProceeding = {0x08, 0x01, char(0x81), 0x02};

LGCP::Command Qsig(bool network) {
  LGCP::Command c;
  LGCP::AtsQsigParams& p = c.select_create().select_ats_qsig();
  if (network)
    p.set_side().select_network();
  else
    p.set_side().select_user();
  return c;
}

LGCP::Command QsigB(int slot, int subslot) {
  LGCP::Command c;
  LGCP::AtsQsigBParams& p = c.select_create().select_ats_qsig_b();
  p.set_slot(unsigned(slot));
  p.set_subslot(unsigned(subslot));
  return c;
}

class IsdnBoard : public BoardDaemon {
protected:
  // Slot a and trunk slot t, both ways.
  void Join(long a, long t) {
    EXPECT_EQ(kSuccess, Answer(ConnectTo(int(t)), a));
    EXPECT_EQ(kSuccess, Answer(ConnectTo(int(a)), t));
  }

  // The user side activated; the network side, not activated yet, answers
  // its establishment, and both report the link up with their link
  // information. The network side's own activate then finds the link up and
  // leaves it so: a Q.931 message given at once goes through, and one back.
  void LinkUpAndThrough(long user, long network) {
    EXPECT_EQ(kSuccess, Answer(Activate(), user));
    const auto info = [](LGCP::Signal const& s) {
      return s.ioctl_isSelected() && s.get_ioctl().isdnLinkInfo_isSelected();
    };
    ASSERT_TRUE(WaitFor(user, IsActivated)) << daemon.Err();
    ASSERT_TRUE(WaitFor(network, IsActivated)) << daemon.Err();
    // Each side reports the side it was created with.
    LGCP::Signal got;
    ASSERT_TRUE(WaitFor(user, info, &got));
    EXPECT_EQ(ACP::IsdnSide::user, int(got.get_ioctl().get_isdnLinkInfo().get_side().asInt()));
    ASSERT_TRUE(WaitFor(network, info, &got));
    EXPECT_EQ(ACP::IsdnSide::network, int(got.get_ioctl().get_isdnLinkInfo().get_side().asInt()));
    EXPECT_EQ(kSuccess, Answer(Activate(), network));
    EXPECT_EQ(kSuccess, Answer(UserData(kSetup), user));
    ASSERT_TRUE(WaitFor(network, IsActivated)) << daemon.Err();
    ASSERT_TRUE(WaitFor(network, IsUserData, &got)) << daemon.Err();
    EXPECT_EQ(kSetup, got.get_userData());
    EXPECT_EQ(kSuccess, Answer(UserData(kProceeding), network));
    ASSERT_TRUE(WaitFor(user, IsUserData, &got)) << daemon.Err();
    EXPECT_EQ(kProceeding, got.get_userData());
  }

  static int Count(std::string const& text, std::string const& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
};

TEST_F(IsdnBoard, IsdnUserAndNetworkSideOnTheirOwnChannels) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(kSuccess, Answer(Trunk(0, 16), 1));
  EXPECT_EQ(kSuccess, Answer(Trunk(1, 16), 2));
  EXPECT_EQ(kSuccess, Answer(Isdn(false, 1, false), 10));
  EXPECT_EQ(kSuccess, Answer(Isdn(false, 2, true), 11));
  Join(10, 1);
  Join(11, 2);
  EXPECT_EQ((std::vector<std::string>{"channel=256 mode=0", "channel=257 mode=0"}), Lines("mcc list"));
  EXPECT_EQ("state=fed source=256", Xc(16));
  EXPECT_EQ("state=fed source=16", Xc(256));
  ASSERT_NO_FATAL_FAILURE(LinkUpAndThrough(10, 11));

  // Basic rate: a BRI channel.
  EXPECT_EQ(kSuccess, Answer(Isdn(true, 8, false), 12));
  EXPECT_EQ("channel=258 mode=1", Lines("mcc list").back());
  EXPECT_EQ(kSuccess, Answer(Destroy(), 12));

  // Without its timeslot the channel is given back.
  Board("fail ioctl /dev/mcc/ctl 0x20004D02 EIO");
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(Isdn(false, 3, false), 12));
  EXPECT_TRUE(Eventually([&] { return Lines("mcc list").size() == 2; }));
  EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(Isdn(false, 5, false), 12));
  EXPECT_EQ(0, Stop());
  EXPECT_TRUE(contains(daemon.Err(), "mcc/isdn: MCC_TIMESLOT fail: ")) << daemon.Err();
  EXPECT_TRUE(contains(daemon.Err(), "mcc/isdn: invalid trunk number: 5, create refused")) << daemon.Err();
}

TEST_F(IsdnBoard, QsigLinkAndABChannelOnATrunk) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(kSuccess, Answer(Trunk(0, 17), 1));
  EXPECT_EQ(kSuccess, Answer(Trunk(1, 17), 2));
  EXPECT_EQ(kSuccess, Answer(Qsig(false), 10));
  EXPECT_EQ(kSuccess, Answer(Qsig(true), 11));
  Join(10, 1);
  Join(11, 2);
  EXPECT_EQ((std::vector<std::string>{"channel=320 b0=- b1=- b2=-", "channel=321 b0=- b1=- b2=-"}),
            Lines("dspdata list"));
  ASSERT_NO_FATAL_FAILURE(LinkUpAndThrough(10, 11));

  // Subslot 3 is the driver's subslot 2.
  EXPECT_EQ(kSuccess, Answer(QsigB(10, 3), 20));
  EXPECT_EQ("channel=320 b0=- b1=- b2=322", Lines("dspdata list")[0]);
  EXPECT_EQ(kSuccess, Answer(Trunk(0, 5), 3));
  Join(20, 3);
  EXPECT_EQ("state=fed source=5", Xc(322));
  EXPECT_EQ("state=fed source=322", Xc(5));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 20));
  EXPECT_EQ("channel=320 b0=- b1=- b2=-", Lines("dspdata list")[0]);
  EXPECT_EQ("state=constant byte=213", Xc(5));
  EXPECT_EQ(0, Stop());
}

TEST_F(IsdnBoard, ABSlotOutlivingItsSignallingSlotLeavesANewerOneAlone) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(kSuccess, Answer(Qsig(false), 10));
  EXPECT_EQ(kSuccess, Answer(QsigB(10, 2), 20));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 10));
  EXPECT_TRUE(Eventually([&] { return Lines("dspdata list").empty(); }));
  EXPECT_EQ(kSuccess, Answer(Qsig(false), 10));
  EXPECT_EQ(kSuccess, Answer(QsigB(10, 2), 21));
  const std::string taken = "channel=320 b0=- b1=322 b2=-";
  EXPECT_EQ(std::vector<std::string>{taken}, Lines("dspdata list"));

  const std::string line = "ats-qsig-b: Can't find signalling slot\n";
  EXPECT_FALSE(contains(daemon.Err(), line));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 20));
  EXPECT_EQ(1, Count(daemon.Err(), line)) << daemon.Err();
  EXPECT_EQ(std::vector<std::string>{taken}, Lines("dspdata list"));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 21));
  EXPECT_EQ(std::vector<std::string>{"channel=320 b0=- b1=- b2=-"}, Lines("dspdata list"));
  EXPECT_EQ(1, Count(daemon.Err(), line));
  EXPECT_EQ(0, Stop());
}

TEST_F(IsdnBoard, QsigRefusalsAndAHangUp) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const int refused = LGCP::ErrorCause::insufficientResources;
  // A failing timeslot request gives the channel back.
  Board("fail ioctl /dev/dsp-data 0x40044211 EIO");
  EXPECT_EQ(refused, Answer(Qsig(false), 10));
  EXPECT_TRUE(Eventually([&] { return Lines("dspdata list").empty(); }));
  EXPECT_EQ(kSuccess, Answer(Qsig(false), 10));
  EXPECT_EQ(kSuccess, Answer(Qsig(true), 11));
  // Two channels on the board.
  EXPECT_EQ(refused, Answer(Qsig(false), 12));

  EXPECT_EQ(kSuccess, Answer(Trunk(0, 17), 1));
  EXPECT_EQ(kSuccess, Answer(Isdn(false, 1, false), 2));
  struct Case {
    int slot;
    int subslot;
  } const cases[] = {{99, 1}, {1, 1}, {2, 1}};
  for (Case const& c : cases) EXPECT_EQ(refused, Answer(QsigB(c.slot, c.subslot), 20)) << c.slot;
  Board("fail ioctl /dev/dsp-data 0x8008420F EIO");
  EXPECT_EQ(refused, Answer(QsigB(10, 1), 20));
  EXPECT_EQ(kSuccess, Answer(QsigB(10, 1), 20));
  // The subslot is taken.
  EXPECT_EQ(refused, Answer(QsigB(10, 1), 21));

  Board("hangup /dev/dsp-data");
  const std::string line = "ats-qsig: 10:ATS-QSIG read fail: end of file, channel not read any more";
  EXPECT_TRUE(Eventually([&] { return contains(daemon.Err(), line); })) << daemon.Err();
  for (int i = 0; i < 20; ++i) {
    LGCP::Message answer;
    ASSERT_EQ(Controller::Ok, controller.Call(Controller::Ping(100 + i), answer, 5000));
  }
  EXPECT_EQ(kSuccess, Answer(Destroy(), 20));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 10));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 11));
  EXPECT_EQ(0, Stop());
  const std::string err = daemon.Err();
  EXPECT_EQ(1, Count(err, line)) << err;
  EXPECT_EQ(1, Count(err, "ats-qsig: 11:ATS-QSIG read fail: ")) << err;
  EXPECT_TRUE(contains(err, "mcc/isdn: fail to open dsp-data device: ")) << err;
  EXPECT_TRUE(contains(err, "mcc/isdn: dsp-data timeslot request fail: ")) << err;
  // The refused request and the subslot taken.
  EXPECT_EQ(2, Count(err, "ats-qsig: add B channel fail !!!")) << err;
}

}  // namespace
