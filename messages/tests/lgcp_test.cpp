#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "messages/LGCP.h"
#include "sample_filler.h"
#include "wire_codec.h"

using WireCodec::encodedHex;
using WireCodec::make;
using WireCodec::octets;
using WireCodec::Value;
using WireCodec::WireCase;

namespace {

template <class Fill>
Value message(Fill fill) {
  return make<LGCP::Message>(fill);
}

class LgcpWire : public ::testing::TestWithParam<WireCase> {};

TEST_P(LgcpWire, EncodesToTheOctetsAndDecodesBack) { WireCodec::expectWire(GetParam()); }

LGCP::Resources minimalResources() {
  LGCP::Resources r;
  r.set_boardMajor(1);
  r.set_boardMinor(2);
  return r;
}

INSTANTIATE_TEST_SUITE_P(
    Envelope, LgcpWire,
    ::testing::Values(
        // Two absent presence bits, PDU index 0 in two bits, the Command
        // extension bit and index 12 in four bits.
        WireCase{"ping without seq and slot",
                 [] { return message([](LGCP::Message& m) { m.set_pdu().select_command().select_ping(); }); }, "06 00"},
        // slot has 1024 values: an aligned two-octet field.
        WireCase{"ping to slot 5",
                 [] {
                   return message([](LGCP::Message& m) {
                     m.set_slot(5);
                     m.set_pdu().select_command().select_ping();
                   });
                 },
                 "40 00 05 18"},
        WireCase{"seq and highest slot",
                 [] {
                   return message([](LGCP::Message& m) {
                     m.set_seq(1);
                     m.set_slot(1023);
                     m.set_pdu().select_command().select_ping();
                   });
                 },
                 "C0 01 01 03 FF 18"},
        // Response index in one bit, the enumeration's extension bit, 12 in four bits.
        WireCase{"error destroyInProgress",
                 [] {
                   return message([](LGCP::Message& m) {
                     m.set_pdu().select_response().select_error(LGCP::ErrorCause::destroyInProgress);
                   });
                 },
                 "1B 00"},
        WireCase{"success answering seq 300",
                 [] {
                   return message([](LGCP::Message& m) {
                     m.set_seq(300);
                     m.set_pdu().select_response().select_success();
                   });
                 },
                 "80 02 01 2C 40"},
        WireCase{"connect to slot 1023",
                 [] {
                   return message([](LGCP::Message& m) {
                     m.set_slot(7);
                     m.set_pdu().select_command().select_connect(1023);
                   });
                 },
                 "40 00 07 04 03 FF"},
        WireCase{"userData of three octets",
                 [] {
                   return message([](LGCP::Message& m) {
                     m.set_pdu().select_command().select_userData(std::vector<char>{1, 2, 3});
                   });
                 },
                 "04 00 03 01 02 03"},
        // A cause beyond the root: small number v + 1, then v in 0..v.
        WireCase{"error cause from a newer controller",
                 [] {
                   return message(
                       [](LGCP::Message& m) { m.set_pdu().select_response().select_error().setFromInt(13); });
                 },
                 "1C 76 80"},
        WireCase{"signal deactivated from slot 9",
                 [] {
                   return message([](LGCP::Message& m) {
                     m.set_slot(9);
                     m.set_pdu().select_signal().select_deactivated(LGCP::DeactivateCause::otherError);
                   });
                 },
                 "40 00 09 86 40"}));

INSTANTIATE_TEST_SUITE_P(
    Create, LgcpWire,
    ::testing::Values(
        // trunk 0..255 is one aligned octet, timeslot 0..31 five bits; the two
        // alternatives differ only by their index.
        WireCase{"trunk",
                 [] {
                   return make<LGCP::CreateParams>([](LGCP::CreateParams& c) {
                     LGCP::TrunkParams& t = c.select_trunk();
                     t.set_trunk(5);
                     t.set_timeslot(17);
                   });
                 },
                 "1C 05 88"},
        WireCase{"trunk_bri",
                 [] {
                   return make<LGCP::CreateParams>([](LGCP::CreateParams& c) {
                     LGCP::TrunkParams& t = c.select_trunk_bri();
                     t.set_trunk(5);
                     t.set_timeslot(17);
                   });
                 },
                 "20 05 88"},
        WireCase{"shared channel bit fields",
                 [] {
                   return make<LGCP::SharedChannel>([](LGCP::SharedChannel& s) {
                     s.set_bus(3);
                     s.set_channel(100);
                   });
                 },
                 "3C 80"},
        WireCase{"map with receiver only",
                 [] {
                   return make<LGCP::MapParams>([](LGCP::MapParams& m) {
                     m.set_receiver().set_bus(15);
                     m.set_receiver().set_channel(127);
                   });
                 },
                 "7F F8"},
        // slot in two aligned octets, subslot as its offset from 1 in two bits.
        WireCase{"ats-qsig-b slot and subslot",
                 [] {
                   return make<LGCP::AtsQsigBParams>([](LGCP::AtsQsigBParams& p) {
                     p.set_slot(1000);
                     p.set_subslot(3);
                   });
                 },
                 "00 03 E8 80"},
        WireCase{"isdn side user", [] { return make<LGCP::IsdnSide>([](LGCP::IsdnSide& s) { s.select_user(); }); },
                 "00"},
        WireCase{"isdn side network",
                 [] { return make<LGCP::IsdnSide>([](LGCP::IsdnSide& s) { s.select_network(); }); }, "80"},
        WireCase{"isdn link",
                 [] {
                   return make<LGCP::IsdnParams>([](LGCP::IsdnParams& p) {
                     p.set_type(LGCP::IsdnType::pri);
                     p.set_trunk(2);
                     p.set_log(5);
                     p.set_side().select_network();
                   });
                 },
                 "40 01 02 01 05 80"},
        // The extension bit comes first even without optional fields.
        WireCase{"spi-tdm channel",
                 [] { return make<LGCP::CreateSpiTdmParams>([](LGCP::CreateSpiTdmParams& p) { p.set_channel(3); }); },
                 "00 01 03"}));

INSTANTIATE_TEST_SUITE_P(
    Ioctl, LgcpWire,
    ::testing::Values(
        // 38 root alternatives: the extension bit, then a 6-bit index.
        WireCase{"sd-params carries no value",
                 [] { return make<LGCP::IoctlParams>([](LGCP::IoctlParams& p) { p.select_sd_params(); }); }, "2E"},
        WireCase{"tone-gen-disable",
                 [] { return make<LGCP::IoctlParams>([](LGCP::IoctlParams& p) { p.select_tone_gen_disable(); }); },
                 "48"},
        WireCase{"activateTonec set of two masks",
                 [] {
                   return make<LGCP::IoctlParams>([](LGCP::IoctlParams& p) {
                     auto& masks = p.select_activateTonec();
                     LGCP::TonecMask m;
                     m.select_dtmf();
                     masks.push_back(m);
                     m.select_r1();
                     masks.push_back(m);
                   });
                 },
                 "04 02 40"},
        // Each threshold is an aligned two-octet field.
        WireCase{"dtmf-params",
                 [] {
                   return make<LGCP::IoctlParams>([](LGCP::IoctlParams& p) {
                     LGCP::DTMFParams& d = p.select_dtmf_params();
                     d.set_threshold().set_twist(1);
                     d.set_threshold().set_ratio(2);
                     d.set_threshold().set_noise(3);
                     d.set_level().set_silence(4);
                   });
                 },
                 "14 00 01 00 02 00 03 00 04"},
        WireCase{"delays without fields", [] { return make<LGCP::Delays>([](LGCP::Delays&) {}); }, "00"},
        WireCase{"delays with rx only", [] { return make<LGCP::Delays>([](LGCP::Delays& d) { d.set_rx(-1); }); },
                 "40 01 FF"},
        WireCase{"cas set on a channel",
                 [] {
                   return make<LGCP::IoctlParams>([](LGCP::IoctlParams& p) {
                     LGCP::CasCommand& c = p.select_cas();
                     c.set_channel().set_path(1);
                     c.set_channel().set_timeslot(16);
                     c.set_cmd().select_set(9);
                   });
                 },
                 "1E 01 01 01 10 80 01 09"},
        WireCase{"response stopRecording",
                 [] {
                   return make<LGCP::IoctlResponse>([](LGCP::IoctlResponse& r) {
                     r.select_stopRecording(LGCP::StopRecordingCause::alreadyStopped);
                   });
                 },
                 "1C"}));

INSTANTIATE_TEST_SUITE_P(
    Signals, LgcpWire,
    ::testing::Values(
        // An extension addition: bit 1, its position among the additions as a
        // small number, the empty value as a one-octet open type.
        WireCase{"tonec dtmfDone",
                 [] { return make<LGCP::TonecCode>([](LGCP::TonecCode& t) { t.select_dtmfDone(); }); }, "80 01 00"},
        WireCase{"tonec dtmf digit", [] { return make<LGCP::TonecCode>([](LGCP::TonecCode& t) { t.select_dtmf(5); }); },
                 "00 A0"},
        WireCase{"tonec cng", [] { return make<LGCP::TonecCode>([](LGCP::TonecCode& t) { t.select_cng(); }); }, "30"},
        WireCase{"tonec iva code 21",
                 [] { return make<LGCP::TonecCode>([](LGCP::TonecCode& t) { t.select_iva().select_code(21); }); },
                 "45 00"},
        WireCase{"tonec event with tone presence",
                 [] {
                   return make<LGCP::TonecEvent>([](LGCP::TonecEvent& e) {
                     e.set_timestamp(1000);
                     LGCP::TonePresence& p = e.set_event().select_tone_presence();
                     p.set_freq(1100);
                     p.set_presence(true);
                   });
                 },
                 "02 03 E8 50 02 04 4C 80"},
        WireCase{"sd event without sd-rx", [] { return make<LGCP::SDEvent>([](LGCP::SDEvent&) {}); }, "00"},
        WireCase{"sd event with sd-rx", [] { return make<LGCP::SDEvent>([](LGCP::SDEvent& e) { e.set_sd_rx(true); }); },
                 "C0"},
        WireCase{"vad event with vad-tx only",
                 [] { return make<LGCP::VADEvent>([](LGCP::VADEvent& e) { e.set_vad_tx(false); }); }, "40"},
        WireCase{"stream inactive", [] { return make<LGCP::Stream>([](LGCP::Stream& s) { s.select_inactive(); }); },
                 "00"},
        WireCase{"stream active", [] { return make<LGCP::Stream>([](LGCP::Stream& s) { s.select_active(7); }); },
                 "80 01 07"},
        WireCase{"power both",
                 [] { return make<LGCP::Signal>([](LGCP::Signal& s) { s.select_power(LGCP::POWERStatus::both); }); },
                 "47"},
        // No driver version, empty lists with unconstrained lengths.
        WireCase{"minimal resources",
                 [] { return make<LGCP::Resources>([](LGCP::Resources& r) { r = minimalResources(); }); },
                 "00 01 01 01 02 01 00 01 00 01 00 01 00 01 00 00 00 01 00 01 00 01 00 00 01 00 01 00 01 00 01 00"}));

INSTANTIATE_TEST_SUITE_P(
    Display, LgcpWire,
    ::testing::Values(
        // Extension bit, e1 in two bits, then the inner CHOICE's extension bit and index.
        WireCase{"framer link up",
                 [] {
                   return make<LGCP::FramerInfo>([](LGCP::FramerInfo& f) {
                     f.set_e1(2);
                     f.set_info().select_link(true);
                   });
                 },
                 "4C"},
        WireCase{"bpc test mode disconnect",
                 [] { return make<LGCP::BpcTestMode>([](LGCP::BpcTestMode& m) { m.select_disconnect(); }); }, "80"},
        WireCase{"bpc test over the widest range",
                 [] {
                   return make<LGCP::BpcTestParams>([](LGCP::BpcTestParams& p) {
                     p.set_bus(15);
                     p.set_seed(0);
                     p.set_mode().select_write();
                     p.set_timeslot_start(127);
                     p.set_timeslot_length(0);
                   });
                 },
                 "F0 01 00 7F 80"},
        WireCase{"clock internal with external bus enabled",
                 [] {
                   return make<LGCP::ClockCfg>([](LGCP::ClockCfg& c) {
                     c.set_clkSel0(LGCP::ClkSel0::internal);
                     c.set_bextEn(LGCP::BExtEn::enabled);
                     c.set_source(3);
                   });
                 },
                 "80 01 03"},
        WireCase{"term counter without owner id",
                 [] {
                   return make<LGCP::TermCounter>([](LGCP::TermCounter& t) {
                     t.set_owner(LGCP::TermCounterOwner::controller);
                     t.set_cnt(7);
                   });
                 },
                 "10 01 07"},
        WireCase{"term counter with owner id",
                 [] {
                   return make<LGCP::TermCounter>([](LGCP::TermCounter& t) {
                     t.set_owner(LGCP::TermCounterOwner::controller);
                     t.set_ownerId(2);
                     t.set_cnt(7);
                   });
                 },
                 "50 01 02 01 07"}));

TEST(LgcpEnvelope, SlotAboveTheRangeDecodesAsRead) {
  // The field is sixteen bits wide; the command server, not the decoder,
  // refuses such a slot.
  for (auto [hex, slot] : {std::pair<const char*, unsigned>{"40 04 00 18", 1024}, {"40 FF FF 18", 65535}}) {
    LGCP::Message m;
    ASSERT_TRUE(WireCodec::decode(octets(hex), m)) << hex;
    ASSERT_TRUE(m.slot_isPresent());
    EXPECT_EQ(m.get_slot().getValue(), slot);
    EXPECT_TRUE(m.get_pdu().get_command().ping_isSelected());
  }
}

TEST(LgcpEnvelope, OmittedSeqLeavesTheWireAndComesBack) {
  LGCP::Message m;
  EXPECT_FALSE(m.seq_isPresent());
  EXPECT_FALSE(m.slot_isPresent());
  EXPECT_EQ(m.get_pdu().currentSelection(), -1);

  m.set_pdu().select_command().select_ping();
  m.set_seq(5);
  EXPECT_EQ(encodedHex(m), "80 01 05 18");
  m.omit_seq();
  EXPECT_EQ(encodedHex(m), "06 00");
  m.set_seq(7);
  EXPECT_EQ(encodedHex(m), "80 01 07 18");
}

TEST(LgcpEnvelope, ResponseSelectionReplacesTheCause) {
  LGCP::Response r;
  r.select_error(LGCP::ErrorCause::slotNotExists);
  EXPECT_EQ(r.currentSelection(), 1);
  EXPECT_EQ(r.get_error(), LGCP::ErrorCause::slotNotExists);
  EXPECT_EQ(r.get_error().asInt(), 3);
  r.select_success();
  EXPECT_TRUE(r.success_isSelected());
  EXPECT_EQ(encodedHex(r), "00");
}

TEST(LgcpEnvelope, OutOfRangeOrIncompleteValuesDoNotEncode) {
  LGCP::Message m;
  EXPECT_EQ(encodedHex(m), "encoding failed") << "nothing selected in pdu";

  m.set_slot(1024);
  m.set_pdu().select_command().select_ping();
  EXPECT_EQ(encodedHex(m), "encoding failed");

  m.set_slot(3);
  m.ref_pdu().ref_command().select_connect(1024);
  EXPECT_EQ(encodedHex(m), "encoding failed");
}

TEST(LgcpEnvelope, TruncatedInputFails) {
  for (const char* hex : {"", "06", "40 00", "C0 01", "1B"}) {
    LGCP::Message m;
    EXPECT_FALSE(WireCodec::decode(octets(hex), m)) << '"' << hex << '"';
  }
}

TEST(LgcpEnvelope, CommandFromANewerControllerIsSkippedWhole) {
  // Command extension bit 1, addition 0, a one-octet open type; the decoder
  // keeps an unknown selection that cannot be encoded again.
  LGCP::Message m;
  ASSERT_TRUE(WireCodec::decode(octets("08 00 01 00"), m));
  ASSERT_TRUE(m.get_pdu().command_isSelected());
  EXPECT_TRUE(m.get_pdu().get_command().isUnknownSelection());
  EXPECT_EQ(encodedHex(m), "encoding failed");
}

TEST(LgcpLists, DecoderStopsAt128ElementsWhileTheEncoderBuildsMore) {
  for (unsigned count : {128u, 129u}) {
    LGCP::IoctlResponse r;
    auto& packages = r.select_hdlcPackages();
    LGCP::HdlcPackage p;
    p.set_body(std::vector<char>{0x7E});
    for (unsigned i = 0; i < count; ++i) packages.push_back(p);

    std::optional<WireCodec::Octets> wire = WireCodec::encode(r);
    ASSERT_TRUE(wire) << count;
    LGCP::IoctlResponse decoded;
    EXPECT_EQ(WireCodec::decode(*wire, decoded), count <= 128) << count;
  }
}

TEST(LgcpNotation, NamesPrintAsTheProtocolSpellsThem) {
  LGCP::IoctlParams ioctl;
  ioctl.select_sd_params();
  EXPECT_EQ(WireCodec::notation(ioctl), "sd-params : NULL");

  LGCP::CreateParams create;
  create.select_ats_qsig_b();
  EXPECT_NE(WireCodec::notation(create).find("ats-qsig-b : "), std::string::npos) << WireCodec::notation(create);

  LGCP::TonecCode tonec;
  tonec.select_dtmfDone();
  EXPECT_EQ(WireCodec::notation(tonec), "dtmfDone : NULL");

  LGCP::Signal power;
  power.select_power(LGCP::POWERStatus::main);
  EXPECT_EQ(WireCodec::notation(power), "power : main");
}

TEST(LgcpEnumerations, ValuesAreTheDeclaredOnes) {
  EXPECT_EQ(LGCP::BExtEn::enabled, 0);
  EXPECT_EQ(LGCP::BExtEn::disabled, 1);
  EXPECT_EQ(LGCP::ErrorCause::destroyInProgress, 12);
  EXPECT_EQ(LGCP::ErrorCause::theInfo.maximum, 12);
  EXPECT_TRUE(LGCP::ErrorCause::theInfo.extendable);
  EXPECT_TRUE(LGCP::DeactivateCause::theInfo.extendable);
  EXPECT_FALSE(LGCP::POWERStatus::theInfo.extendable);
}

// Every alternative of Command and Signal, populated in several variants
// (optional fields present and absent, different nested selections), comes
// back equal and prints the same value notation.
LGCP::Message populated(int pduAlternative, int alternative, unsigned variant) {
  LGCP::Message m;
  if (variant % 2 == 0) m.set_seq(static_cast<int>(variant) - 1);
  m.set_slot(1023 - variant);
  ASN1::CHOICE& body = pduAlternative == 0 ? static_cast<ASN1::CHOICE&>(m.set_pdu().select_command())
                                           : static_cast<ASN1::CHOICE&>(m.set_pdu().select_signal());
  ASN1::AbstractData* value =
      body.setSelection(alternative, ASN1::AbstractData::create(body.info()->selectionInfos[alternative]));
  SampleFiller::fill(*value, variant);
  return m;
}

void expectRoundTrip(int pduAlternative, int alternative) {
  const ASN1::CHOICE::InfoType& info = pduAlternative == 0 ? LGCP::Command::theInfo : LGCP::Signal::theInfo;
  unsigned variants = SampleFiller::widestChoice(*info.selectionInfos[alternative]) + 2;
  for (unsigned variant = 0; variant < variants; ++variant) {
    SCOPED_TRACE(::testing::Message() << info.selectionNames[alternative] << " variant " << variant);
    LGCP::Message m = populated(pduAlternative, alternative, variant);
    std::optional<WireCodec::Octets> wire = WireCodec::encode(m);
    ASSERT_TRUE(wire) << WireCodec::notation(m);

    LGCP::Message decoded;
    ASSERT_TRUE(WireCodec::decode(*wire, decoded)) << WireCodec::hex(*wire);
    EXPECT_TRUE(decoded == m) << WireCodec::notation(decoded);
    EXPECT_EQ(WireCodec::notation(decoded), WireCodec::notation(m));
    const ASN1::CHOICE& body = pduAlternative == 0 ? static_cast<const ASN1::CHOICE&>(decoded.get_pdu().get_command())
                                                   : static_cast<const ASN1::CHOICE&>(decoded.get_pdu().get_signal());
    EXPECT_EQ(body.currentSelection(), alternative);
  }
}

class LgcpCommandRoundTrip : public ::testing::TestWithParam<int> {};
class LgcpSignalRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(LgcpCommandRoundTrip, ComesBackEqual) { expectRoundTrip(0, GetParam()); }
TEST_P(LgcpSignalRoundTrip, ComesBackEqual) { expectRoundTrip(2, GetParam()); }

INSTANTIATE_TEST_SUITE_P(EveryAlternative, LgcpCommandRoundTrip, ::testing::Range(0, 15));
INSTANTIATE_TEST_SUITE_P(EveryAlternative, LgcpSignalRoundTrip, ::testing::Range(0, 23));

TEST(LgcpAlternatives, CountsAreThoseOfTheProtocol) {
  EXPECT_EQ(LGCP::Command::theInfo.numChoices, 15u);
  EXPECT_EQ(LGCP::Command::theInfo.totalChoices, 15u);
  EXPECT_EQ(LGCP::Signal::theInfo.numChoices, 23u);
  EXPECT_EQ(LGCP::Signal::theInfo.totalChoices, 23u);
  EXPECT_EQ(LGCP::IoctlParams::theInfo.numChoices, 38u);
  EXPECT_EQ(LGCP::CreateParams::theInfo.numChoices, 19u);
  EXPECT_EQ(LGCP::TonecCode::theInfo.numChoices, 6u);
  EXPECT_EQ(LGCP::TonecCode::theInfo.totalChoices, 7u);
}

// Seed corpus of the controller-message fuzz target: one encoded message per
// Command and Signal alternative, named after it. Regenerate with
//   messages_tests --gtest_also_run_disabled_tests --gtest_filter='*WriteSeedCorpus*'
std::filesystem::path seedDirectory() {
  return std::filesystem::path(__FILE__).parent_path().parent_path() / "fuzz" / "lgcp_message_fuzz";
}

std::string seedName(int pduAlternative, int alternative) {
  const ASN1::CHOICE::InfoType& info = pduAlternative == 0 ? LGCP::Command::theInfo : LGCP::Signal::theInfo;
  return std::string(pduAlternative == 0 ? "command-" : "signal-") + info.selectionNames[alternative];
}

TEST(LgcpFuzzSeeds, OneDecodableMessagePerAlternative) {
  for (int pduAlternative : {0, 2}) {
    const ASN1::CHOICE::InfoType& info = pduAlternative == 0 ? LGCP::Command::theInfo : LGCP::Signal::theInfo;
    for (int alternative = 0; alternative < static_cast<int>(info.totalChoices); ++alternative) {
      std::filesystem::path file = seedDirectory() / seedName(pduAlternative, alternative);
      std::ifstream in(file, std::ios::binary);
      ASSERT_TRUE(in) << file;
      WireCodec::Octets seed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      LGCP::Message m;
      ASSERT_TRUE(WireCodec::decode(seed, m)) << file;
      const ASN1::CHOICE& body = pduAlternative == 0 ? static_cast<const ASN1::CHOICE&>(m.get_pdu().get_command())
                                                     : static_cast<const ASN1::CHOICE&>(m.get_pdu().get_signal());
      EXPECT_EQ(m.get_pdu().currentSelection(), pduAlternative) << file;
      EXPECT_EQ(body.currentSelection(), alternative) << file;
    }
  }
}

TEST(LgcpFuzzSeeds, DISABLED_WriteSeedCorpus) {
  std::filesystem::create_directories(seedDirectory());
  for (int pduAlternative : {0, 2}) {
    const ASN1::CHOICE::InfoType& info = pduAlternative == 0 ? LGCP::Command::theInfo : LGCP::Signal::theInfo;
    for (int alternative = 0; alternative < static_cast<int>(info.totalChoices); ++alternative) {
      std::optional<WireCodec::Octets> wire = WireCodec::encode(populated(pduAlternative, alternative, 0));
      ASSERT_TRUE(wire);
      std::ofstream out(seedDirectory() / seedName(pduAlternative, alternative), std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(wire->data()), static_cast<std::streamsize>(wire->size()));
      ASSERT_TRUE(out);
    }
  }
}

}  // namespace
