// The event converters and reporters of a slot: device records in, the
// signals the controller sees out.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "board/rtp.h"
#include "slots/tests/slots_fixture.h"

namespace {

using namespace slottest;

class ConvertersTest : public SlotsServerTest {
protected:
  void SetUp() override {
    SlotsServerTest::SetUp();
    ASSERT_EQ(-1, Answer(CreateTest(), 1, 42));
    slot = Created(42);
  }

  // The signals since the last call, in value notation, each with slot 42.
  std::vector<std::string> Sent() {
    std::vector<std::string> out;
    for (const LGCP::Message& m : Signals()) {
      EXPECT_EQ(42, Controller::SlotOf(m));
      std::ostringstream os;
      os << m.get_pdu().get_signal();
      std::string text = os.str();
      text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\n'; }), text.end());
      out.push_back(text);
    }
    return out;
  }

  TestSlot* slot = nullptr;
};

TEST_F(ConvertersTest, ToneCodes) {
  struct Case {
    int code;
    const char* sent;  // "" when nothing is
  } cases[] = {
      {17, "tonec:{timestamp9,eventced:NULL}"},
      {18, "tonec:{timestamp9,eventcng:NULL}"},
      {0, "tonec:{timestamp9,eventdtmf:0}"},
      {127, "tonec:{timestamp9,eventdtmf:127}"},
      {0x0100, "tonec:{timestamp9,eventiva:code:1}"},
      {0x0500, "tonec:{timestamp9,eventiva:code:5}"},
      {0x14FF, "tonec:{timestamp9,eventiva:code:20}"},
      {0x1500, "tonec:{timestamp9,eventiva:ringoff:NULL}"},
      {0x1600, ""},
      {128, ""},
      {-1, ""},
  };
  for (const Case& c : cases) {
    streams.err.text();
    slot->processTonecEvent(c.code, 9);
    const std::vector<std::string> sent = Sent();
    if (*c.sent) {
      EXPECT_EQ(std::vector<std::string>{c.sent}, sent) << c.code;
    } else {
      EXPECT_TRUE(sent.empty()) << c.code;
    }
  }
  // One line per bad code.
  const std::string err = streams.err.text();
  size_t lines = 0;
  for (size_t at = err.find("bad DTMF code, ignored.\n"); at != std::string::npos;
       at = err.find("bad DTMF code, ignored.\n", at + 1))
    ++lines;
  EXPECT_EQ(3u, lines) << err;
}

TEST_F(ConvertersTest, VoiceActivityAndSignalDetection) {
  slot->processVADEvent(1, 0);
  slot->processVADEvent(-1, 5);
  slot->processVADEvent(0, -1);
  slot->processVADEvent(-1, -1);
  slot->processSDEvent(2);
  slot->processSDEvent(0);
  slot->processSDEvent(-1);
  EXPECT_EQ((std::vector<std::string>{"vad:{vad-rxTRUE,vad-txFALSE}", "vad:{vad-txTRUE}", "vad:{vad-rxFALSE}",
                                      "sd:{sd-rxTRUE}", "sd:{sd-rxFALSE}"}),
            Sent());
  EXPECT_EQ("bad VAD event, ignored.\nbad SD event, ignored.\n", streams.err.text());
}

TEST_F(ConvertersTest, FlagsGiveVadThenSelcal) {
  const std::uint32_t b29 = 1u << 29, b30 = 1u << 30, b31 = 1u << 31;
  slot->processFlagsEvent(b29, b29 | b30 | b31);
  slot->processFlagsEvent(b30 | b31, b30);
  slot->processFlagsEvent(b31, b31);
  slot->processFlagsEvent(b29 | b30 | b31, 0);
  EXPECT_EQ((std::vector<std::string>{"vad:{vad-rxTRUE,vad-txFALSE}", "selcal:{in-progressFALSE}", "vad:{vad-txTRUE}",
                                      "selcal:{in-progressTRUE}"}),
            Sent());
}

TEST_F(ConvertersTest, ToneGeneratorToneFilterBssAndRtp) {
  slot->processToneGenEvent();
  slot->processToneFltEvent(2100, 1);
  slot->processToneFltEvent(400, 0);
  slot->processBSSEvent(3.25f);
  // Longer than the 30 characters the text may have.
  slot->processBSSEvent(1e30f);
  rtp_event e;
  std::memset(&e, 0, sizeof e);
  e.type = 1;
  e.value = 8;
  e.timeout = 300;
  slot->processRtpEvent(e);
  e.type = 2;
  slot->processRtpEvent(e);
  const std::vector<std::string> sent = Sent();
  ASSERT_EQ(6u, sent.size());
  EXPECT_EQ("tonec:{timestamp0,eventdtmfDone:NULL}", sent[0]);
  EXPECT_EQ("tonec:{timestamp0,eventtone-presence:{freq2100,presenceTRUE}}", sent[1]);
  EXPECT_EQ("tonec:{timestamp0,eventtone-presence:{freq400,presenceFALSE}}", sent[2]);
  EXPECT_EQ("bss:{score\"3.250000\"}", sent[3]);
  EXPECT_EQ("bss:{score\"" + std::string("1000000015047466219876688855040").substr(0, 30) + "\"}", sent[4]);
  EXPECT_EQ("rtp:pd:{value8,timeout300}", sent[5]);
}

TEST_F(ConvertersTest, ReportersCarryTheirValue) {
  slot->OnNumber("123");
  slot->OnDeactivated();
  slot->OnAbort(-4);
  slot->OnUserData(std::vector<char>{'\x01', '\xFF'});
  slot->OnActivated();
  const std::vector<std::string> sent = Sent();
  ASSERT_EQ(5u, sent.size());
  EXPECT_EQ("number:\"123\"", sent[0]);
  EXPECT_EQ("deactivated:networkError", sent[1]);
  EXPECT_EQ("abort:-4", sent[2]);
  EXPECT_EQ("userData:'01ff'H", sent[3]);
  EXPECT_EQ("activated:NULL", sent[4]);
}

TEST_F(ConvertersTest, StreamSignalsOnlyOnChange) {
  slot->OnChangeInputStream(true);
  slot->OnChangeInputStream(true);
  slot->OnChangeOutputStream(true);
  slot->OnChangeOutputStream(false);
  slot->OnChangeInputStream(false);
  EXPECT_EQ((std::vector<std::string>{"receiver:active:200", "transmitter:active:100", "transmitter:inactive:NULL",
                                      "receiver:inactive:NULL"}),
            Sent());
}

}  // namespace
