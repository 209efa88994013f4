#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "messages/TERM.h"
#include "sample_filler.h"

namespace {

using SampleFiller::decodePer;
using SampleFiller::encodePer;
using SampleFiller::hex;
using SampleFiller::octets;

TERM::LemzRadioStatus lemzStatus() {
  TERM::LemzRadioStatus status;
  status.set_flags().set_selcall(3);
  status.set_freq().set_frequency("118.000");
  status.set_remote().set_no(1);
  status.set_squelshe(TERM::RadioSquelshe::on);
  status.set_rte(TERM::RadioRTE::a1b);
  status.set_standby_state_channel(TERM::RadioStandby::active);
  status.set_standby_group(255);
  status.set_standby_state_receiver(TERM::RadioStandby::standby);
  return status;
}

TERM::RtpRadioRequest requestWith(const TERM::LemzRadioStatus& status) {
  TERM::RtpRadioRequest request;
  request.set_status(TERM::RadioStatus(TERM::RadioStatus::lemz::Id(), status));
  return request;
}

TEST(TermRadioWire, ValuesOutsideTheirRangeFailTheWholeMessageCleanly) {
  struct Case {
    const char* what;
    std::function<void(TERM::LemzRadioStatus&)> change;
    bool encodes;
  };
  const Case cases[] = {
      {"as built", [](TERM::LemzRadioStatus&) {}, true},
      {"channel not-use", [](TERM::LemzRadioStatus& s) { s.set_standby_state_channel(TERM::RadioStandby::not_use); },
       false},
      {"receiver not-use", [](TERM::LemzRadioStatus& s) { s.set_standby_state_receiver(TERM::RadioStandby::not_use); },
       false},
      {"squelshe -1", [](TERM::LemzRadioStatus& s) { s.ref_squelshe().setFromInt(-1); }, false},
      {"rte -1", [](TERM::LemzRadioStatus& s) { s.ref_rte().setFromInt(-1); }, false},
      {"rte 8", [](TERM::LemzRadioStatus& s) { s.ref_rte().setFromInt(8); }, false},
      {"standby-group 4294967295", [](TERM::LemzRadioStatus& s) { s.set_standby_group(4294967295u); }, false},
      {"standby-group 256", [](TERM::LemzRadioStatus& s) { s.set_standby_group(256); }, false},
      {"li 512", [](TERM::LemzRadioStatus& s) { s.ref_flags().set_li(512); }, false},
  };
  for (const Case& c : cases) {
    TERM::LemzRadioStatus status = lemzStatus();
    c.change(status);
    TERM::RtpRadioRequest request = requestWith(status);
    std::vector<char> out = octets({0x55});
    EXPECT_EQ(encodePer(request, out), c.encodes) << c.what;
    if (!c.encodes) {
      EXPECT_EQ(hex(out), "55 ") << c.what;
    }
  }

  TERM::RadioCommandGWSetStandby standby;
  standby.set_state(TERM::RadioStandby::not_use);
  TERM::LemzRadioModifierParams params(TERM::LemzRadioModifierParams::gw_set_standby::Id(), standby);
  std::vector<char> out;
  EXPECT_FALSE(encodePer(params, out));
  EXPECT_TRUE(out.empty());
}

TEST(TermRadioWire, StandbyStatesAreOneBitEach) {
  TERM::RadioCommandWMStandby standby;
  standby.set_state_channel(TERM::RadioStandby::standby);
  standby.set_group(7);
  standby.set_state_receiver(TERM::RadioStandby::active);
  TERM::LemzRadioModifierParams params(TERM::LemzRadioModifierParams::wm_standby::Id(), standby);

  std::vector<char> out;
  ASSERT_TRUE(encodePer(params, out));
  // Extension bit, index 19 in five bits, the command's extension bit, then
  // standby (1), the group in an aligned octet, active (0).
  EXPECT_EQ(hex(out), hex(octets({0x4D, 0x07, 0x00})));

  TERM::LemzRadioModifierParams back;
  ASSERT_TRUE(decodePer(out, back));
  ASSERT_TRUE(back.wm_standby_isSelected());
  EXPECT_EQ(static_cast<TERM::RadioStandby::NamedNumber>(back.get_wm_standby().get_state_channel()), 1);
  EXPECT_EQ(static_cast<TERM::RadioStandby::NamedNumber>(back.get_wm_standby().get_state_receiver()), 0);

  // Five index bits reach 31; the twenty commands end at 19.
  TERM::LemzRadioModifierParams unknown;
  EXPECT_FALSE(decodePer(octets({0x50, 0x07, 0x00}), unknown));
}

TEST(TermRadioWire, LemzModifierHasNoExtensionBitWhileTheEd137OneHas) {
  TERM::RadioModifierAddr addr;
  addr.set_session_addr("a");
  addr.set_session_ssrc(0);

  TERM::RadioCommandGWSetRTE rte;
  rte.set_rte(TERM::RadioRTE::j3e);
  TERM::LemzRadioModifier lemz;
  lemz.set_addr(addr);
  lemz.set_params(TERM::LemzRadioModifierParams(TERM::LemzRadioModifierParams::gw_set_rte::Id(), rte));

  TERM::ED137RadioModifier ed137;
  ed137.set_addr(addr);
  ed137.set_params().select_tx();

  std::vector<char> out;
  ASSERT_TRUE(encodePer(lemz, out));
  // Address string, ssrc 0 as a one-octet count and octet, then extension bit
  // 0, index 11 in five bits and j3e (7) in three.
  EXPECT_EQ(hex(out), hex(octets({0x01, 0x61, 0x00, 0x00, 0x2F, 0x80})));

  out.clear();
  ASSERT_TRUE(encodePer(ed137, out));
  ASSERT_GE(out.size(), 5u);
  EXPECT_EQ(hex(std::vector<char>(out.begin(), out.begin() + 5)), hex(octets({0x00, 0x01, 0x61, 0x00, 0x00})));
}

TEST(TermRadioWire, RequestWithOnlyStatusHasFiveZeroPresenceBits) {
  TERM::ED137RadioStatus ed137;
  TERM::ED137RadioHeader& header = ed137.set_header();
  header.set_ptt(TERM::ED137RadioPTT::normal_ptt_on);
  header.set_squ(TERM::ED137RadioSQU::squ_on);
  header.set_ptt_id(5);
  header.set_ptt_mute(true);
  header.set_ptt_summation(false);
  header.set_sct(true);
  TERM::RtpRadioRequest request;
  request.set_status(TERM::RadioStatus(TERM::RadioStatus::ed_137::Id(), ed137));

  std::vector<char> out;
  ASSERT_TRUE(encodePer(request, out));
  EXPECT_EQ(hex(out), hex(octets({0x01, 0x01, 0x45, 0xA0})));
}

TEST(TermRadioWire, FidIsCodedAsItsOffsetFrom112000) {
  struct Case {
    unsigned fid;
    bool encodes;
    std::vector<char> wire;
  };
  const Case cases[] = {
      {112000, true, octets({0x00, 0x80, 0x48, 0x00, 0x14})},
      // Offset 300 in two octets: the count 2 as the two bits 01.
      {112300, true, octets({0x00, 0x80, 0x49, 0x01, 0x2C, 0x14})},
      {399975, true, octets({0x00, 0x80, 0x4A, 0x04, 0x64, 0xE7, 0x14})},
      {111999, false, {}},
      {399976, false, {}},
  };
  for (const Case& c : cases) {
    TERM::ED137RadioResponse response;
    response.set_type(TERM::ED137RadioType::radio_txrx);
    response.set_txrxmode(TERM::ED137RadioTxRxMode::txrx);
    response.set_ptt_id(5);
    response.set_fid(c.fid);
    std::vector<char> out;
    ASSERT_EQ(encodePer(response, out), c.encodes) << c.fid;
    if (!c.encodes) continue;
    EXPECT_EQ(hex(out), hex(c.wire)) << c.fid;
    TERM::ED137RadioResponse back;
    ASSERT_TRUE(decodePer(out, back)) << c.fid;
    EXPECT_TRUE(back == response) << c.fid;
  }
}

TEST(TermRadioWire, CauseCodesAreSixteenAlignedBitsAfterTheExtensionBit) {
  const ASN1::ENUMERATED::InfoType& info = TERM::ED137CauseCode::theInfo;
  EXPECT_EQ(info.maximum, 2099);
  EXPECT_STREQ(info.names[0], "radio-session-pre-emption=2000");
  EXPECT_STREQ(info.names[15], "radio-invalid-multicast-values");
  EXPECT_STREQ(info.names[16], "radio-no-permissions=2099");

  struct Case {
    TERM::ED137CauseCode::NamedNumber code;
    std::vector<char> wire;
  };
  const Case cases[] = {
      {TERM::ED137CauseCode::radio_session_pre_emption, octets({0x00, 0x07, 0xD0})},
      {TERM::ED137CauseCode::radio_invalid_multicast_values, octets({0x00, 0x07, 0xDF})},
      {TERM::ED137CauseCode::radio_no_permissions, octets({0x00, 0x08, 0x33})},
  };
  for (const Case& c : cases) {
    TERM::ED137CauseCode code(c.code);
    std::vector<char> out;
    ASSERT_TRUE(encodePer(code, out));
    EXPECT_EQ(hex(out), hex(c.wire)) << c.code;
    TERM::ED137CauseCode back;
    ASSERT_TRUE(decodePer(out, back));
    EXPECT_EQ(back.asInt(), c.code);
  }
}

TEST(TermRadioWire, EveryTypeRoundTrips) {
  EXPECT_TRUE(SampleFiller::roundTripsEverything(TERM::RtpRadioRequest::theInfo));
  EXPECT_TRUE(SampleFiller::roundTripsEverything(TERM::ED137Response::theInfo));
}

}  // namespace
