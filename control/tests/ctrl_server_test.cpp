#include "control/ctrl_server.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "messages/TERM.h"
#include "server_fixture.h"

using srvtest::Activated;
using srvtest::Controller;
using srvtest::Destroy;
using srvtest::kNone;
using srvtest::Scripted;
using srvtest::ServerFixture;

namespace {

bool contains(std::string const& text, std::string const& part) { return text.find(part) != std::string::npos; }

size_t count(std::string const& text, std::string const& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::vector<std::string> only(std::vector<std::string> const& journal, std::string const& what) {
  std::vector<std::string> out;
  for (std::string const& line : journal)
    if (contains(line, what)) out.push_back(line);
  return out;
}

// A ping without seq and slot, encoded, with the slot field forced to a value
// the 16-bit field carries but the slot range does not.
std::string PingWithRawSlot(unsigned slot) {
  std::string payload;
  EXPECT_TRUE(Controller::Encode(Controller::Ping(kNone, 1023), payload));
  // Preamble (seq absent, slot present), then the aligned two-octet slot.
  EXPECT_EQ(std::string("\x40\x03\xFF", 3), payload.substr(0, 3));
  payload[1] = char((slot >> 8) & 0xFF);
  payload[2] = char(slot & 0xFF);
  return payload;
}

bool BitAt(std::string const& octets, size_t i) { return (uint8_t(octets[i / 8]) >> (7 - i % 8)) & 1u; }

void SetBit(std::string& octets, size_t i, bool on) {
  const uint8_t mask = uint8_t(0x80u >> (i % 8));
  octets[i / 8] = char(on ? uint8_t(octets[i / 8]) | mask : uint8_t(octets[i / 8]) & ~mask);
}

// The encoder refuses a value past its field's bound, so such a payload is
// made from two encodings inside it: where the octets for hi and for hi - 1
// last differ is the field's lowest bit, and adding delta there gives the
// field hi + delta with everything else unchanged.
std::string PastTheBound(std::function<LGCP::Message(unsigned)> const& make, unsigned hi, unsigned delta) {
  std::string top, below;
  EXPECT_TRUE(Controller::Encode(make(hi), top));
  EXPECT_TRUE(Controller::Encode(make(hi - 1), below));
  EXPECT_EQ(top.size(), below.size());
  size_t lowest = top.size() * 8;
  for (size_t i = top.size() * 8; i-- > 0;)
    if (BitAt(top, i) != BitAt(below, i)) {
      lowest = i;
      break;
    }
  EXPECT_LT(lowest, top.size() * 8);
  uint64_t carry = delta;
  for (size_t i = lowest + 1; i-- > 0 && carry != 0;) {
    const unsigned sum = unsigned(BitAt(top, i)) + unsigned(carry & 1u);
    SetBit(top, i, sum & 1u);
    carry = (carry >> 1) + (sum >> 1);
  }
  return top;
}

LGCP::Message Create(std::function<void(LGCP::CreateParams&)> const& fill, long seq, long slot = kNone) {
  LGCP::Command command;
  fill(command.select_create());
  return Controller::Make(command, seq, slot);
}

TERM::RtpParams& Rtp(LGCP::CreateParams& create) {
  TERM::RtpParams& rtp = create.select_rtp().set_codecRTP();
  rtp.set_dhost().set_iaddr("10.0.0.1");
  rtp.ref_dhost().set_port(5004);
  return rtp;
}

TERM::ED137RadioResponse& RadioAnswer(LGCP::Command& command) {
  return command.select_activate().select_signalling().select_answer().select_ed_137().select_radio();
}

LGCP::Message Activate(std::function<void(TERM::ED137RadioResponse&)> const& fill, long seq) {
  LGCP::Command command;
  fill(RadioAnswer(command));
  return Controller::Make(command, seq);
}

class CtrlServer : public ServerFixture {};

}  // namespace

TEST_F(CtrlServer, PingIsAnsweredWithTheCommandsSeqAndSlot) {
  const struct {
    long seq;
    long slot;
  } cases[] = {{kNone, kNone}, {0, kNone}, {7, 5}, {kNone, 1023}, {-5, 0}, {2147483647, kNone}, {-2147483647 - 1, 17}};
  for (const auto& c : cases) {
    const LGCP::Message answer = Call(Controller::Ping(c.seq, c.slot));
    EXPECT_TRUE(Controller::IsSuccess(answer)) << c.seq << "/" << c.slot;
    EXPECT_EQ(c.seq, Controller::SeqOf(answer));
    EXPECT_EQ(c.slot, Controller::SlotOf(answer));
  }
  EXPECT_TRUE(only(journal, "command").empty()) << "ping stops at the heartbeat";
}

TEST_F(CtrlServer, CommandNobodyTakesIsUnexpectedAndOfferedInBindOrder) {
  const LGCP::Message answer = Call(Controller::Make(Destroy(), 3, 12));
  EXPECT_EQ(LGCP::ErrorCause::unexpectedMsgType, Controller::ErrorOf(answer));
  EXPECT_EQ(3, Controller::SeqOf(answer));
  EXPECT_EQ(12, Controller::SlotOf(answer));
  EXPECT_EQ((std::vector<std::string>{"first command", "second command"}), journal);
  EXPECT_EQ(12, first.lastSlot);
  EXPECT_TRUE(second.lastSlotPresent);
}

TEST_F(CtrlServer, FirstTakerEndsTheOffer) {
  first.script = [](Scripted& s, const LGCP::Command&) {
    s.Success();
    return true;
  };
  const LGCP::Message answer = Call(Controller::Make(Destroy(), 1));
  EXPECT_TRUE(Controller::IsSuccess(answer));
  EXPECT_EQ((std::vector<std::string>{"first command"}), journal);
}

TEST_F(CtrlServer, CommandWithoutSlotShowsNoSlotToServices) {
  Call(Controller::Make(Destroy(), 1));
  EXPECT_EQ(-1, first.lastSlot);
  EXPECT_FALSE(first.lastSlotPresent);
  EXPECT_EQ(-1, server.GetSlot()) << "the slot lasts one payload";
}

TEST_F(CtrlServer, AnswersOfOneCommand) {
  typedef std::function<void(Scripted&)> Action;
  const struct {
    const char* name;
    Action action;
    std::vector<int> expected;  // 0 success, else the error cause
  } cases[] = {
      {"success twice",
       [](Scripted& s) {
         s.Success();
         s.Success();
       },
       {0}},
      {"success then errors",
       [](Scripted& s) {
         s.Success();
         s.Error(LGCP::ErrorCause::busError);
         s.Error(LGCP::ErrorCause::unsupported);
       },
       {0, LGCP::ErrorCause::busError}},
      {"second error",
       [](Scripted& s) {
         s.Error(LGCP::ErrorCause::unsupported);
         s.Error(LGCP::ErrorCause::busError);
         s.Success();
       },
       {LGCP::ErrorCause::unsupported}},
      {"deferred then error",
       [](Scripted& s) {
         s.delayResponse();
         s.Error(LGCP::ErrorCause::slotIdBusy);
       },
       {LGCP::ErrorCause::slotIdBusy}},
      {"deferred then success",
       [](Scripted& s) {
         s.delayResponse();
         s.Success();
       },
       {}},
  };
  long seq = 100;
  for (const auto& c : cases) {
    Action action = c.action;
    first.script = [action](Scripted& s, const LGCP::Command&) {
      action(s);
      return true;
    };
    ASSERT_TRUE(controller.Send(Controller::Make(Destroy(), ++seq, 9)));
    for (int expected : c.expected) {
      LGCP::Message answer;
      ASSERT_EQ(Controller::Ok, Next(answer)) << c.name;
      if (expected == 0)
        EXPECT_TRUE(Controller::IsSuccess(answer)) << c.name;
      else
        EXPECT_EQ(expected, Controller::ErrorOf(answer)) << c.name;
      EXPECT_EQ(seq, Controller::SeqOf(answer)) << c.name;
      EXPECT_EQ(9, Controller::SlotOf(answer)) << c.name;
    }
    ExpectNothingBefore();
    first.script = nullptr;
  }
  EXPECT_FALSE(contains(streams.err.text(), "do NOT send ack"));
}

TEST_F(CtrlServer, TakerThatDoesNotAnswerGetsInternal) {
  first.script = [](Scripted&, const LGCP::Command&) { return true; };
  const LGCP::Message answer = Call(Controller::Make(Destroy(), 8));
  EXPECT_EQ(LGCP::ErrorCause::internal, Controller::ErrorOf(answer));
  EXPECT_EQ(8, Controller::SeqOf(answer));
  EXPECT_TRUE(contains(streams.err.text(), "]: software error: server do NOT send ack!!!\n"));
}

TEST_F(CtrlServer, DeferredAnswersCarrySeqAndSlotOnlyWhenTheCommandDid) {
  struct Promise {
    int seq;
    int slot;
  };
  std::vector<Promise> promises;
  first.script = [&](Scripted& s, const LGCP::Command&) {
    promises.push_back(Promise{s.delayResponse(), s.GetSlot()});
    return true;
  };
  const struct {
    long seq;
    long slot;
  } commands[] = {{5, 40}, {kNone, 41}, {6, kNone}, {kNone, kNone}};
  for (const auto& c : commands) {
    ASSERT_TRUE(controller.Send(Controller::Make(Destroy(), c.seq, c.slot)));
    ExpectNothingBefore();
  }
  EXPECT_FALSE(contains(streams.err.text(), "do NOT send ack"));
  ASSERT_EQ(4u, promises.size());
  EXPECT_EQ(4u, server.GetDeferredCount());
  // Kept in any order; the last one fails.
  const size_t order[] = {2, 0, 3, 1};
  for (size_t i : order) {
    if (i == 1)
      first.delayedError(unsigned(promises[i].slot), unsigned(promises[i].seq), LGCP::ErrorCause::destroyInProgress);
    else
      first.delayedSuccess(unsigned(promises[i].slot), unsigned(promises[i].seq));
    LGCP::Message answer;
    ASSERT_EQ(Controller::Ok, Next(answer));
    EXPECT_EQ(commands[i].seq, Controller::SeqOf(answer)) << i;
    EXPECT_EQ(commands[i].slot, Controller::SlotOf(answer)) << i;
    if (i == 1)
      EXPECT_EQ(LGCP::ErrorCause::destroyInProgress, Controller::ErrorOf(answer));
    else
      EXPECT_TRUE(Controller::IsSuccess(answer)) << i;
  }
  EXPECT_EQ(0u, server.GetDeferredCount());
}

TEST_F(CtrlServer, DelayedAnswerWithoutPromiseUsesWhatItIsGiven) {
  second.delayedSuccess(77, 31);
  LGCP::Message answer;
  ASSERT_EQ(Controller::Ok, Next(answer));
  EXPECT_TRUE(Controller::IsSuccess(answer));
  EXPECT_EQ(31, Controller::SeqOf(answer));
  EXPECT_EQ(77, Controller::SlotOf(answer));
  second.delayedSuccess(unsigned(-1), 32);
  ASSERT_EQ(Controller::Ok, Next(answer));
  EXPECT_EQ(kNone, Controller::SlotOf(answer)) << "no slot number beyond the range";
}

TEST_F(CtrlServer, AnswersOutsideCommandHandlingAreNotSent) {
  first.script = [](Scripted& s, const LGCP::Command&) {
    s.Success();
    return true;
  };
  Call(Controller::Make(Destroy(), 1));
  first.Success();
  first.Error(LGCP::ErrorCause::internal);
  const std::string err = streams.err.text();
  EXPECT_EQ(2u, count(err, "software error:"));
  EXPECT_TRUE(contains(err, "outside command handling"));
  ExpectNothingBefore();
}

TEST_F(CtrlServer, ResponsesAndSignalsFromTheControllerAreUnexpected) {
  LGCP::Message response;
  response.set_seq(44);
  response.set_slot(3);
  response.set_pdu().select_response().select_success();
  LGCP::Message signal;
  signal.set_slot(3);
  signal.set_pdu().select_signal(Activated());
  for (LGCP::Message const* m : {&response, &signal}) {
    const LGCP::Message answer = Call(*m);
    EXPECT_EQ(LGCP::ErrorCause::unexpectedMsgType, Controller::ErrorOf(answer));
    EXPECT_EQ(kNone, Controller::SlotOf(answer));
  }
  EXPECT_TRUE(journal.empty()) << "no service sees them";
}

TEST_F(CtrlServer, UnexpectedResponseCarriesItsSeqOnlyWhenPresent) {
  LGCP::Message response;
  response.set_seq(44);
  response.set_pdu().select_response().select_success();
  EXPECT_EQ(44, Controller::SeqOf(Call(response)));
  response.omit_seq();
  EXPECT_EQ(kNone, Controller::SeqOf(Call(response)));
}

TEST_F(CtrlServer, SlotAboveTheRangeIsInvalidAndNotOffered) {
  for (unsigned slot : {1024u, 4096u, 65535u}) {
    ASSERT_TRUE(controller.SendPayload(PingWithRawSlot(slot)));
    LGCP::Message answer;
    ASSERT_EQ(Controller::Ok, Next(answer));
    EXPECT_EQ(LGCP::ErrorCause::invalidSlot, Controller::ErrorOf(answer)) << slot;
    EXPECT_EQ(kNone, Controller::SlotOf(answer));
  }
  EXPECT_TRUE(journal.empty());
  ASSERT_TRUE(controller.SendPayload(PingWithRawSlot(1023)));
  LGCP::Message answer;
  ASSERT_EQ(Controller::Ok, Next(answer));
  EXPECT_TRUE(Controller::IsSuccess(answer));
  EXPECT_EQ(1023, Controller::SlotOf(answer));
}

TEST_F(CtrlServer, GarbledPayloadGetsNoAnswerAndTheNextCommandWorks) {
  const std::string garbage("\xC0\x05\xFF", 3);
  ASSERT_TRUE(controller.SendPayload(garbage));
  ASSERT_TRUE(controller.SendPayload(""));
  ExpectNothingBefore(77);
  const std::string err = streams.err.text();
  EXPECT_EQ(2u, count(err, "]: receive fail: decode error!\n"));
  EXPECT_TRUE(contains(err, "receive fail: decode error!\n msg: C0 05 FF (3 octets)\n")) << err;
  EXPECT_TRUE(contains(err, "receive fail: decode error!\n msg: (0 octets)\n")) << err;
  EXPECT_TRUE(journal.empty());
}

TEST_F(CtrlServer, UndecodablePayloadIsShownByItsHeadAndLength) {
  // No seq, no slot, PDU alternative 3 of 3: fails on the first octet.
  std::string payload(200, '\x11');
  payload[0] = '\x30';
  ASSERT_TRUE(controller.SendPayload(payload));
  ExpectNothingBefore();
  std::string head = "30 ";
  for (int i = 1; i < 64; ++i) head += "11 ";
  const std::string err = streams.err.text();
  EXPECT_TRUE(contains(err, "receive fail: decode error!\n msg: " + head + "... (200 octets)\n")) << err;
  EXPECT_LT(err.size(), 300u);
}

// One row a command alternative that has a field whose next value past its
// bound still fits the field's bits. The others cannot carry one: query,
// disconnect, destroy, deactivate, userData and ping hold no bounded value;
// the ranges in testBpc, ioctl, trunkCfg and clockCfg fill their bits
// exactly, and protoLemz holds only extensible enumerations.
TEST_F(CtrlServer, ValuePastItsBoundIsRefusedBeforeAnyService) {
  typedef std::function<LGCP::Message(unsigned)> Make;
  typedef std::function<long(LGCP::Message const&)> Read;
  const struct {
    const char* name;
    Make make;
    unsigned hi;
    unsigned delta;
    Read read;  // the field as decoded
    int expected;
  } cases[] = {
      {"create ats-qsig-b subslot (1..3)",
       [](unsigned v) {
         return Create(
             [v](LGCP::CreateParams& c) {
               c.select_ats_qsig_b().set_slot(5);
               c.ref_ats_qsig_b().set_subslot(v);
             },
             1);
       },
       3, 1,
       [](LGCP::Message const& m) {
         return long(m.get_pdu().get_command().get_create().get_ats_qsig_b().get_subslot().getValue());
       },
       LGCP::ErrorCause::invalidParams},
      {"create ats-qsig-b slot (0..1023)",
       [](unsigned v) {
         return Create(
             [v](LGCP::CreateParams& c) {
               c.select_ats_qsig_b().set_slot(v);
               c.ref_ats_qsig_b().set_subslot(1);
             },
             2);
       },
       1023, 1,
       [](LGCP::Message const& m) {
         return long(m.get_pdu().get_command().get_create().get_ats_qsig_b().get_slot().getValue());
       },
       LGCP::ErrorCause::invalidParams},
      {"create rtp ttl (1..255)",
       [](unsigned v) { return Create([v](LGCP::CreateParams& c) { Rtp(c).set_ttl(v); }, 3); }, 255, 1,
       [](LGCP::Message const& m) {
         return long(m.get_pdu().get_command().get_create().get_rtp().get_codecRTP().get_ttl().getValue());
       },
       LGCP::ErrorCause::invalidParams},
      {"create rtp payload between ptG728(13) and ptR2S(123)",
       [](unsigned v) { return Create([v](LGCP::CreateParams& c) { Rtp(c).set_payload().setFromInt(int(v)); }, 4); },
       13, 1,
       [](LGCP::Message const& m) {
         return long(m.get_pdu().get_command().get_create().get_rtp().get_codecRTP().get_payload().asInt());
       },
       LGCP::ErrorCause::invalidParams},
      {"activate ed-137 sigtime (1..50)",
       [](unsigned v) { return Activate([v](TERM::ED137RadioResponse& r) { r.set_sigtime(v); }, 5); }, 50, 1,
       [](LGCP::Message const& m) {
         return long(m.get_pdu()
                         .get_command()
                         .get_activate()
                         .get_signalling()
                         .get_answer()
                         .get_ed_137()
                         .get_radio()
                         .get_sigtime()
                         .getValue());
       },
       LGCP::ErrorCause::invalidParams},
      {"activate ed-137 r2s-keepalive-period (20..1000)",
       [](unsigned v) { return Activate([v](TERM::ED137RadioResponse& r) { r.set_r2s_keepalive_period(v); }, 6); },
       1000, 1,
       [](LGCP::Message const& m) {
         return long(m.get_pdu()
                         .get_command()
                         .get_activate()
                         .get_signalling()
                         .get_answer()
                         .get_ed_137()
                         .get_radio()
                         .get_r2s_keepalive_period()
                         .getValue());
       },
       LGCP::ErrorCause::invalidParams},
      {"connect (0..1023)",
       [](unsigned v) {
         LGCP::Command c;
         c.select_connect(v);
         return Controller::Make(c, 7, 3);
       },
       1023, 1, [](LGCP::Message const& m) { return long(m.get_pdu().get_command().get_connect().getValue()); },
       LGCP::ErrorCause::invalidSlot},
      {"slot 1100", [](unsigned v) { return Controller::Make(Destroy(), 8, v); }, 1023, 77,
       [](LGCP::Message const& m) { return long(m.get_slot().getValue()); }, LGCP::ErrorCause::invalidSlot},
      // A closed enumeration's next index is kept by the decoder and refused here.
      {"display termCounter owner (5 names)",
       [](unsigned v) {
         LGCP::Command c;
         LGCP::TermCounter& counter = c.select_display().select_termCounter();
         counter.set_owner().setFromInt(int(v));
         counter.set_cnt(1);
         return Controller::Make(c, 9);
       },
       4, 1,
       [](LGCP::Message const& m) {
         return long(m.get_pdu().get_command().get_display().get_termCounter().get_owner().asInt());
       },
       LGCP::ErrorCause::invalidParams},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string payload = PastTheBound(c.make, c.hi, c.delta);
    LGCP::Message decoded;
    ASSERT_TRUE(Controller::Decode(payload, decoded));
    EXPECT_EQ(long(c.hi + c.delta), c.read(decoded));
    first.script = [](Scripted& s, const LGCP::Command&) {
      s.Success();
      return true;
    };
    ASSERT_TRUE(controller.SendPayload(payload));
    LGCP::Message refusal;
    ASSERT_EQ(Controller::Ok, Next(refusal));
    EXPECT_EQ(c.expected, Controller::ErrorOf(refusal));
    EXPECT_EQ(Controller::SeqOf(decoded), Controller::SeqOf(refusal));
    // A slot past the range is not echoed; a good one is.
    const long slot = Controller::SlotOf(decoded);
    EXPECT_EQ(slot == kNone || slot > 1023 ? kNone : slot, Controller::SlotOf(refusal));
    EXPECT_EQ(std::vector<std::string>{}, journal);
    journal.clear();
    // Inside the bound the same command is served.
    ASSERT_TRUE(controller.Send(c.make(c.hi)));
    LGCP::Message answer;
    ASSERT_EQ(Controller::Ok, Next(answer));
    EXPECT_TRUE(Controller::IsSuccess(answer));
    EXPECT_EQ((std::vector<std::string>{"first command"}), journal);
    journal.clear();
  }
}

TEST_F(CtrlServer, TrailingOctetsAfterAMessageAreIgnored) {
  std::string payload;
  ASSERT_TRUE(Controller::Encode(Controller::Ping(12, 4), payload));
  ASSERT_TRUE(controller.SendPayload(payload + std::string("\xDE\xAD\xBE\xEF", 4)));
  LGCP::Message answer;
  ASSERT_EQ(Controller::Ok, Next(answer));
  EXPECT_TRUE(Controller::IsSuccess(answer));
  EXPECT_EQ(12, Controller::SeqOf(answer));
  EXPECT_EQ(4, Controller::SlotOf(answer));
}

TEST_F(CtrlServer, SignalsAreShownToTheOtherServicesThenSent) {
  first.SendSignal(Activated());
  LGCP::Message m;
  ASSERT_EQ(Controller::Ok, Next(m));
  ASSERT_TRUE(m.get_pdu().signal_isSelected());
  EXPECT_EQ(kNone, Controller::SeqOf(m));
  EXPECT_EQ(kNone, Controller::SlotOf(m)) << "outside a command: no slot";
  EXPECT_EQ((std::vector<std::string>{"second signal 5"}), journal);

  journal.clear();
  second.SendSignal(300, Activated());
  ASSERT_EQ(Controller::Ok, Next(m));
  EXPECT_EQ(300, Controller::SlotOf(m));
  EXPECT_EQ((std::vector<std::string>{"first signal 5"}), journal);
}

TEST_F(CtrlServer, SignalDuringACommandCarriesItsSlotAndPrecedesTheAnswer) {
  first.script = [](Scripted& s, const LGCP::Command&) {
    s.SendSignal(Activated());
    s.Success();
    return true;
  };
  ASSERT_TRUE(controller.Send(Controller::Make(Destroy(), 50, 600)));
  LGCP::Message m;
  ASSERT_EQ(Controller::Ok, Next(m));
  ASSERT_TRUE(m.get_pdu().signal_isSelected());
  EXPECT_EQ(600, Controller::SlotOf(m));
  EXPECT_EQ(kNone, Controller::SeqOf(m)) << "signals carry no seq";
  ASSERT_EQ(Controller::Ok, Next(m));
  EXPECT_TRUE(Controller::IsSuccess(m));
  EXPECT_EQ(50, Controller::SeqOf(m));
}

TEST_F(CtrlServer, UnencodableMessageIsLoggedAndNotSent) {
  // A flood of them writes the limiter's few lines.
  for (int i = 0; i < 50; ++i) first.SendSignal(LGCP::Signal());
  EXPECT_EQ(Log::Limiter::kDefaultBurst, count(streams.err.text(), "]: send fail: encode error!"));
  EXPECT_TRUE(std::cerr.good()) << "the value that failed to encode must not silence later error lines";
  ExpectNothingBefore();
}

TEST_F(CtrlServer, MessageLongerThanAFrameIsLoggedAndNotSent) {
  // Five octets an element: length and four value octets.
  auto resources = [](unsigned n) {
    LGCP::Signal s;
    LGCP::Resources& r = s.select_query();
    for (unsigned i = 0; i < n; ++i) r.set_echoBus().push_back(ASN1::INTEGER(0x40000000));
    return s;
  };
  first.SendSignal(resources(14000));
  EXPECT_TRUE(contains(streams.err.text(), "octets do not fit one frame!!!")) << streams.err.text().substr(0, 300);
  first.SendSignal(resources(100));
  LGCP::Message m;
  ASSERT_EQ(Controller::Ok, Next(m));
  ASSERT_TRUE(m.get_pdu().signal_isSelected());
  EXPECT_EQ(100u, m.get_pdu().get_signal().get_query().get_echoBus().size());
  ExpectNothingBefore();
}

TEST_F(CtrlServer, ConnectAndDisconnectReachEveryServiceInBindOrder) {
  const std::string log = streams.log.text();
  EXPECT_TRUE(contains(log, "ctrl [127.0.0.1:")) << log;
  EXPECT_TRUE(contains(log, "]: controller connect.\n"));
  bool connected = false;
  EXPECT_TRUE(first.CheckServerConnection(connected));
  EXPECT_TRUE(connected);

  server.Deactivate();
  EXPECT_EQ((std::vector<std::string>{"first disconnect", "second disconnect"}), journal);
  EXPECT_TRUE(controller.WaitClosed(2000));
  EXPECT_EQ(nullptr, server.GetConnection());
  EXPECT_FALSE(first.CheckServerConnection(connected));
}

TEST_F(CtrlServer, ControllerClosingTellsTheServicesAndTheNextOneIsServed) {
  controller.Close();
  ASSERT_TRUE(linktest::run_until([&] { return journal.size() == 2; }));
  EXPECT_EQ((std::vector<std::string>{"first disconnect", "second disconnect"}), journal);
  bool connected = true;
  EXPECT_TRUE(first.CheckServerConnection(connected));
  EXPECT_FALSE(connected);

  journal.clear();
  ASSERT_TRUE(controller.Connect(port));
  ASSERT_TRUE(linktest::run_until([&] { return journal.size() == 2; }));
  EXPECT_EQ((std::vector<std::string>{"first connect", "second connect"}), journal);
  EXPECT_TRUE(Controller::IsSuccess(Call(Controller::Ping(1))));
}

TEST_F(CtrlServer, PromisesDieWithTheirController) {
  first.script = [](Scripted& s, const LGCP::Command&) {
    s.delayResponse();
    return true;
  };
  ASSERT_TRUE(controller.Send(Controller::Make(Destroy(), 5, 6)));
  ExpectNothingBefore();
  EXPECT_EQ(1u, server.GetDeferredCount());
  controller.Close();
  ASSERT_TRUE(linktest::run_until([&] { return server.GetDeferredCount() == 0; }));
}

TEST(CtrlServerAlone, HeaderTexts) {
  CtrlSrv::Server server;
  std::ostringstream none;
  server.PutHeader(none);
  EXPECT_EQ("ctrl [null]: ", none.str());
  linktest::Streams streams;
  server.Activate(new Control::AcceptorNetCheckConnection(0, false));
  std::ostringstream waiting;
  server.PutHeader(waiting);
  EXPECT_EQ("ctrl [not connected]: ", waiting.str());
}

TEST(CtrlServerAlone, SendingWithoutConnectionIsLogged) {
  linktest::Streams streams;
  CtrlSrv::Server server;
  Scripted a("a", nullptr);
  server.Bind(&a);
  a.SendSignal(Activated());
  EXPECT_EQ("ctrl [null]: send fail: Service not attached!\n", streams.err.text());
}

TEST(CtrlServerAlone, UnboundServiceDoesNothingAndSaysSo) {
  linktest::Streams streams;
  Scripted a("a", nullptr);
  a.Success();
  a.Error(LGCP::ErrorCause::internal);
  a.SendSignal(Activated());
  a.SendSignal(3, Activated());
  a.delayedSuccess(1, 2);
  a.delayedError(1, 2, LGCP::ErrorCause::internal);
  EXPECT_EQ(-1, a.GetSlot());
  EXPECT_FALSE(a.IsSlotPresent());
  EXPECT_EQ(-1, a.delayResponse());
  EXPECT_FALSE(a.CheckServer());
  const std::string line = "CtrlSrv::Service error! service not connected to server.\n";
  EXPECT_EQ(10u, count(streams.err.text(), line));
  bool connected = true;
  EXPECT_FALSE(a.CheckServerConnection(connected));
  EXPECT_EQ(10u, count(streams.err.text(), line)) << "the connection check is silent";
}

TEST(CtrlServerAlone, ActivateTwiceDeletesTheFirstConnection) {
  static int destroyed = 0;
  struct Counted : Control::AcceptorNetCheckConnection {
    Counted() : Control::AcceptorNetCheckConnection(0, false) {}
    ~Counted() override { ++destroyed; }
  };
  linktest::Streams streams;
  std::vector<std::string> journal;
  CtrlSrv::Server server;
  Scripted a("a", &journal);
  server.Bind(&a);
  Counted* one = new Counted;
  server.Activate(one);
  EXPECT_EQ(one, server.GetConnection());
  Counted* two = new Counted;
  server.Activate(two);
  EXPECT_EQ(1, destroyed);
  EXPECT_EQ(two, server.GetConnection());
  EXPECT_EQ((std::vector<std::string>{"a disconnect"}), journal);
  server.Deactivate();
  EXPECT_EQ(2, destroyed);
  server.Deactivate();
  EXPECT_EQ(2, destroyed);
}

TEST(CtrlServerAlone, ServicesLeaveTheServerWhenTheyDieAndBindOnce) {
  CtrlSrv::Server server;
  Scripted kept("kept", nullptr);
  server.Bind(&kept);
  server.Bind(&kept);
  {
    Scripted gone("gone", nullptr);
    server.Bind(&gone);
    EXPECT_EQ(2u, server.GetServices().size());
  }
  ASSERT_EQ(1u, server.GetServices().size());
  EXPECT_EQ(&kept, server.GetServices().front());
}

namespace {

// Reads what a signal does not hold.
class CarelessListener : public CtrlSrv::Service {
public:
  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(const LGCP::Command&) override { return false; }
  void OnSignal(const LGCP::Signal& signal) override { seen += int(signal.get_number().size()); }
  int seen = 0;
};

}  // namespace

TEST_F(CtrlServer, ReadingWhatTheCommandDoesNotHoldIsAnsweredInternal) {
  const struct {
    const char* name;
    Scripted::Script script;
    std::vector<int> answers;  // 0 success, else the error cause
    const char* line;
  } cases[] = {
      {"absent field",
       [](Scripted&, const LGCP::Command& c) {
         return c.get_create().get_rtp().get_codecRTP().get_ttl().getValue() > 0;
       },
       {LGCP::ErrorCause::internal},
       "]: software error: srvtest::Scripted failed on command create: TERM::RtpParams.ttl read but absent\n"},
      {"unselected alternative",
       [](Scripted&, const LGCP::Command& c) { return c.get_connect().getValue() > 0; },
       {LGCP::ErrorCause::internal},
       "]: software error: srvtest::Scripted failed on command create: LGCP::Command.connect read but create "
       "selected\n"},
      {"after the answer",
       [](Scripted& s, const LGCP::Command& c) {
         s.Success();
         return c.get_create().get_mixerOut().get_unit().getValue() > 0;
       },
       {0},
       "]: software error: srvtest::Scripted failed on command create: LGCP::CreateParams.mixerOut read but rtp "
       "selected\n"},
  };
  long seq = 30;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t mark = streams.err.text().size();
    first.script = c.script;
    ASSERT_TRUE(controller.Send(Create([](LGCP::CreateParams& p) { Rtp(p); }, ++seq, 12)));
    for (int expected : c.answers) {
      LGCP::Message answer;
      ASSERT_EQ(Controller::Ok, Next(answer));
      if (expected == 0)
        EXPECT_TRUE(Controller::IsSuccess(answer));
      else
        EXPECT_EQ(expected, Controller::ErrorOf(answer));
      EXPECT_EQ(seq, Controller::SeqOf(answer));
      EXPECT_EQ(12, Controller::SlotOf(answer));
    }
    ExpectNothingBefore();
    EXPECT_EQ((std::vector<std::string>{"first command"}), journal) << "the offer ends with the failing service";
    journal.clear();
    const std::string err = streams.err.text().substr(mark);
    EXPECT_EQ(1u, count(err, c.line)) << err;
    EXPECT_EQ(1u, count(err, "software error")) << err;
  }
}

TEST_F(CtrlServer, ServiceFailingOnASignalDoesNotStopIt) {
  CarelessListener careless;
  Scripted third{"third", &journal};
  server.Bind(&careless);
  server.Bind(&third);
  first.SendSignal(Activated());
  LGCP::Message m;
  ASSERT_EQ(Controller::Ok, Next(m));
  EXPECT_TRUE(m.get_pdu().signal_isSelected());
  EXPECT_EQ((std::vector<std::string>{"second signal 5", "third signal 5"}), journal);
  EXPECT_TRUE(
      contains(streams.err.text(),
               "CarelessListener failed on signal activated: LGCP::Signal.number read but activated selected\n"))
      << streams.err.text();
}

TEST_F(CtrlServer, AlternativeAddedByANewerControllerIsOfferedNotRefused) {
  // No seq, no slot, PDU command; Command's extension bit, addition 5 (20 in
  // all), then its open type: one octet of content.
  const std::string payload("\x08\x28\x01\x00", 4);
  LGCP::Message decoded;
  ASSERT_TRUE(Controller::Decode(payload, decoded));
  ASSERT_TRUE(decoded.get_pdu().get_command().isUnknownSelection());
  ASSERT_TRUE(controller.SendPayload(payload));
  LGCP::Message answer;
  ASSERT_EQ(Controller::Ok, Next(answer));
  EXPECT_EQ(LGCP::ErrorCause::unexpectedMsgType, Controller::ErrorOf(answer));
  EXPECT_EQ((std::vector<std::string>{"first command", "second command"}), journal);
}
