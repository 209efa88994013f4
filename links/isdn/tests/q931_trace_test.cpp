#include "links/isdn/q931_trace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "links/isdn/logbuf.h"
#include "links/isdn/tests/frame_util.h"

using isdntest::cat;
using isdntest::decode;
using isdntest::ExactFrame;
using Bytes = std::vector<uint8_t>;

namespace {

// SAPI 0, TEI 0, I frame N(S) 0 N(R) 0.
Bytes const iframe = {0x00, 0x01, 0x00, 0x00};

std::string dump(Bytes const& f) {
  std::string s;
  char hex[4];
  for (uint8_t o : f) {
    std::snprintf(hex, sizeof hex, " %02X", o);
    s += hex;
  }
  return s + "\n";
}

// The text of an I frame from user to network up to the message-type line.
std::string iframe_head(Bytes const& f) { return dump(f) + "frame user->network IFrame tei = 0\n"; }

std::string const marker = ISDN::TextWriter::truncation_marker;

bool ends_with(std::string const& s, std::string const& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// ---------------------------------------------------------------- the edge cases

TEST(Q931Trace, TwoOctetFrameGivesEmptyText) {
  std::memset(ISDN::logbuf, 'x', sizeof ISDN::logbuf);
  EXPECT_EQ("", decode({0x02, 0x01}));
  EXPECT_EQ('\0', ISDN::logbuf[0]);
  EXPECT_EQ("", decode({0x02}));
  EXPECT_EQ(0u, ISDN::dlogframe(nullptr, 0, 0, ISDN::logbuf));
}

TEST(Q931Trace, SabmeIsShownAsSFrame) {
  EXPECT_EQ(" 02 01 7F\nframe user->network SFrame tei = 0 (7F )\n", decode({0x02, 0x01, 0x7F}));
}

TEST(Q931Trace, BroadcastSetup) {
  Bytes f = {0x02, 0xFF, 0x03, 0x08, 0x01, 0x01, 0x05};
  EXPECT_EQ(dump(f) + "frame network->user broadcast\ncallref 1 caller size 4 message type SETUP\n", decode(f, 1));
}

TEST(Q931Trace, UnknownProtocolHasNoNewline) {
  Bytes f = cat({iframe, {0x41, 0x01, 0x01, 0x05}});
  EXPECT_EQ(iframe_head(f) + "Unknown protocol 41!", decode(f));
}

TEST(Q931Trace, SendingCompleteAndOtherType2Octets) {
  Bytes f = cat({iframe, {0x08, 0x01, 0x81, 0x7B, 0xA1, 0xA2, 0xA0}});
  EXPECT_EQ(iframe_head(f) + "callref 1 called size 7 message type INFORMATION\n  Sending complete\n  More data\n",
            decode(f));
}

TEST(Q931Trace, CauseNormalCallClearing) {
  Bytes f = cat({iframe, {0x08, 0x01, 0x01, 0x45, 0x08, 0x02, 0x80, 0x90}});
  EXPECT_EQ(iframe_head(f) +
                "callref 1 caller size 8 message type DISCONNECT\n"
                "  Cause\n"
                "    coding 00 location 0000\n"
                "  cause value 10 : Normal call clearing \n",
            decode(f));
}

TEST(Q931Trace, UnknownElementIsSkippedByItsLength) {
  Bytes f = cat({iframe, {0x08, 0x01, 0x01, 0x05, 0x4B, 0x03, 0x11, 0x22, 0x33, 0x18, 0x01, 0x89}});
  EXPECT_EQ(iframe_head(f) +
                "callref 1 caller size 12 message type SETUP\n"
                "  attribute 4b attribute size 3\n"
                "  Channel identification\n"
                "    octet 3 10001001\n",
            decode(f));
}

TEST(Q931Trace, TwoOctetCallReferenceIsFollowedByTheMessageType) {
  Bytes f = cat({iframe, {0x08, 0x02, 0x81, 0x23, 0x5A, 0x08, 0x02, 0x82, 0x91}});
  EXPECT_EQ(iframe_head(f) +
                "callref 291 called size 9 message type RELEASE COMPLETE\n"
                "  Cause\n"
                "    coding 00 location 0010\n"
                "  cause value 11 : User busy \n",
            decode(f));
}

TEST(Q931Trace, DummyCallReference) {
  Bytes f = cat({iframe, {0x08, 0x00, 0x62}});
  EXPECT_EQ(iframe_head(f) + "callref 0 caller size 3 message type FACILITY\n", decode(f));
}

// ---------------------------------------------------------- frame header forms

struct HeaderCase {
  char const* what;
  Bytes frame;
  int network_to_user;
  std::string after_dump;
};

void PrintTo(HeaderCase const& c, std::ostream* os) { *os << c.what; }

class Header : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(Header, Text) {
  HeaderCase const& c = GetParam();
  EXPECT_EQ(dump(c.frame) + c.after_dump, decode(c.frame, c.network_to_user)) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Q931Trace, Header,
    ::testing::Values(
        HeaderCase{"tei management", {0xFC, 0xFF, 0x03, 0x0F}, 0, "frame user->network tei management:\n"},
        HeaderCase{"other sapi broadcast", {0x40, 0xFF, 0x03}, 1, "frame network->user unknown sapi 16 broadcast\n"},
        HeaderCase{"broadcast not UI", {0x02, 0xFF, 0x13, 0x08}, 0, "frame user->network no UI broadcast\n"},
        HeaderCase{
            "broadcast UI without message", {0x02, 0xFF, 0x03}, 0, "frame user->network broadcast\nframe too short\n"},
        HeaderCase{"other sapi", {0x40, 0x05, 0x00, 0x00}, 0, "frame user->network unknown sapi = 16; tei = 2\n"},
        HeaderCase{"RR", {0x00, 0x01, 0x01, 0x05}, 0, "frame user->network SFrame tei = 0 (01 05 )\n"},
        HeaderCase{
            "I frame of 3 octets", {0x00, 0x01, 0x00}, 0, "frame user->network IFrame tei = 0\nframe too short\n"},
        HeaderCase{"I frame without message",
                   {0x00, 0x03, 0x02, 0x04},
                   1,
                   "frame network->user IFrame tei = 1\nframe too short\n"},
        HeaderCase{"unknown message type",
                   {0x00, 0x01, 0x00, 0x00, 0x08, 0x01, 0x02, 0x7E},
                   0,
                   "frame user->network IFrame tei = 0\ncallref 2 caller size 4 unknown message type 7e!\n"}));

// ------------------------------------------------- frames cut short or lying

struct CutCase {
  char const* what;
  Bytes message;     // after the I frame header
  std::string tail;  // what the text ends with
};

void PrintTo(CutCase const& c, std::ostream* os) { *os << c.what; }

class Cut : public ::testing::TestWithParam<CutCase> {};

TEST_P(Cut, StaysInsideTheFrame) {
  CutCase const& c = GetParam();
  std::string text = decode(cat({iframe, c.message}));
  EXPECT_TRUE(ends_with(text, c.tail)) << c.what << ":\n" << text;
}

INSTANTIATE_TEST_SUITE_P(
    Q931Trace, Cut,
    ::testing::Values(
        CutCase{"discriminator only", {0x08}, "message too short\n"},
        CutCase{"call reference missing", {0x08, 0x02, 0x81}, "message too short\n"},
        CutCase{"message type missing", {0x08, 0x01, 0x81}, "message too short\n"},
        CutCase{"call reference too long", {0x08, 0x03, 0x00, 0x00, 0x01, 0x05}, "callref length 3 unsupported!\n"},
        CutCase{"element without length", {0x08, 0x01, 0x01, 0x05, 0x70}, "  element 70 without length\n"},
        CutCase{"called number of length 0",
                {0x08, 0x01, 0x01, 0x05, 0x70, 0x00},
                "  Called party number\n    ...(cut short)\n"},
        CutCase{"called number past the end",
                {0x08, 0x01, 0x01, 0x05, 0x70, 0x05, 0x81, 0x31, 0x32},
                "  Called party number\n    octet 3 10000001\n    number digits 12\n"
                "  length 5 runs past the end of the frame\n"},
        CutCase{"unknown element past the end",
                {0x08, 0x01, 0x01, 0x05, 0x4B, 0xFF, 0x00},
                "  attribute 4b attribute size 255\n  length 255 runs past the end of the frame\n"},
        CutCase{"cause cut after octet 3",
                {0x08, 0x01, 0x01, 0x45, 0x08, 0x01, 0x80},
                "  Cause\n    coding 00 location 0000\n    ...(cut short)\n"},
        CutCase{"cause octet 3 without end of extension",
                {0x08, 0x01, 0x01, 0x45, 0x08, 0x02, 0x00, 0x00},
                "    coding 00 location 0000\n    ...(cut short)\n"},
        CutCase{"cause of length 0", {0x08, 0x01, 0x01, 0x45, 0x08, 0x00}, "  Cause\n    ...(cut short)\n"},
        CutCase{"cause diagnostic cut",
                {0x08, 0x01, 0x01, 0x45, 0x08, 0x03, 0x80, 0x90, 0x05},
                "Normal call clearing \n    diag attribute 5 \n    ...(cut short)\n"},
        CutCase{"cause diagnostic without available",
                {0x08, 0x01, 0x01, 0x45, 0x08, 0x04, 0x80, 0x90, 0x05, 0x03},
                "    diag attribute 5  rej 3 \n    ...(cut short)\n"},
        CutCase{"cause of unknown value",
                {0x08, 0x01, 0x01, 0x45, 0x08, 0x02, 0x80, 0xB0},
                "    coding 00 location 0000\nUnknown cause type 30!\n"},
        CutCase{"bearer with octet 3 only",
                {0x08, 0x01, 0x01, 0x05, 0x04, 0x01, 0x80},
                "  Bearer capability\n    octet 3  10000000\n    ...(cut short)\n"},
        CutCase{"bearer multirate without octet 4.1",
                {0x08, 0x01, 0x01, 0x05, 0x04, 0x02, 0x88, 0x18},
                "    octet 4  00011000\n    ...(cut short)\n"},
        CutCase{"bearer octet 5 extended at the end",
                {0x08, 0x01, 0x01, 0x05, 0x04, 0x03, 0x80, 0x90, 0x21},
                "    octet 5  00100001\n    ...(cut short)\n"},
        CutCase{"bearer element shorter than the frame",
                {0x08, 0x01, 0x01, 0x05, 0x04, 0x02, 0x88, 0x90, 0xA2, 0x18, 0x01, 0x89},
                "    octet 4  10010000\n  Channel identification\n    octet 3 10001001\n"},
        CutCase{"calling number without octet 3a",
                {0x08, 0x01, 0x01, 0x05, 0x6C, 0x01, 0x01},
                "  Calling party number\n    octet 3 00000001\n    ...(cut short)\n"},
        CutCase{"channel identification empty",
                {0x08, 0x01, 0x01, 0x05, 0x18, 0x00},
                "  Channel identification\n    ...(cut short)\n"},
        CutCase{"facility component past its element",
                {0x08, 0x01, 0x01, 0x62, 0x1C, 0x04, 0x91, 0xA1, 0x05, 0x02},
                "   octet 5 5\n   contents  2 \n    ...(cut short)\n"},
        CutCase{"facility without component length",
                {0x08, 0x01, 0x01, 0x62, 0x1C, 0x02, 0x91, 0xA1},
                "   octet 4 10100001\n    ...(cut short)\n"}));

// ------------------------------------------------------------- whole messages

TEST(Q931Trace, SetupWithItsElements) {
  Bytes f = cat({iframe, {0x08, 0x02, 0x00, 0x05, 0x05,        // SETUP, call reference 5
                          0x04, 0x03, 0x80, 0x90, 0xA3,        // bearer: speech, 64k, A-law
                          0x18, 0x03, 0xA9, 0x83, 0x81,        // channel 1, exclusive
                          0x6C, 0x04, 0x01, 0x81, 0x35, 0x36,  // calling, octet 3a
                          0x70, 0x04, 0x81, 0x31, 0x32, 0x33,  // called
                          0x28, 0x03, 0x41, 0x0A, 0x42,        // display with a line feed
                          0x1E, 0x02, 0x82, 0x83,              // progress
                          0x96, 0xB2, 0xD1, 0x80}});           // shift, congestion, repeat, reserved
  EXPECT_EQ(iframe_head(f) +
                "callref 5 caller size 40 message type SETUP\n"
                "  Bearer capability\n"
                "    octet 3  10000000\n"
                "    octet 4  10010000\n"
                "    octet 5  10100011\n"
                "  Channel identification\n"
                "    octet 3 10101001\n"
                "  Calling party number\n"
                "    octet 3 00000001\n"
                "    octet 3a 10000001\n"
                "    number digits 56\n"
                "  Called party number\n"
                "    octet 3 10000001\n"
                "    number digits 123\n"
                "  Display\n"
                "   \"A\\x0AB\"\n"
                "  Progress indicator\n"
                "    octet 3  10000010\n"
                "    octet 4  10000011\n"
                "  Shift 6\n"
                "  Congestion level 2\n"
                "  Repeat indicator 1\n"
                "  Reserved 80\n",
            decode(f));
}

TEST(Q931Trace, BearerWithAllLayers) {
  Bytes f = cat({iframe, {0x08, 0x01, 0x01, 0x05, 0x04, 0x09, 0x88, 0x18, 0x82, 0x21, 0x0F, 0x90, 0xC2, 0xE6, 0x00}});
  EXPECT_EQ(iframe_head(f) +
                "callref 1 caller size 15 message type SETUP\n"
                "  Bearer capability\n"
                "    octet 3  10001000\n"
                "    octet 4  00011000\n"
                "    octet 4.1 10000010\n"
                "    octet 5  00100001\n"
                "    octet 5a 00001111\n"
                "    octet 5b 10010000\n"
                "    octet 6  11000010\n"
                "    octet 7  11100110\n",
            decode(f));
}

TEST(Q931Trace, GeneralOctetLabels) {
  Bytes f = cat({iframe, {0x08, 0x01, 0x01, 0x7D, 0x14, 0x01, 0x0A, 0x7E, 0x04, 0x04, 0x00, 0x00, 0x80}});
  EXPECT_EQ(iframe_head(f) +
                "callref 1 caller size 13 message type STATUS\n"
                "  Call state\n"
                "    octet 3  00001010\n"
                "  User-user\n"
                "    octet 3  00000100\n"
                "    octet 3a 00000000\n"
                "    octet 3b 00000000\n"
                "    octet 3c 10000000\n",
            decode(f));
}

TEST(Q931Trace, FacilityComponents) {
  Bytes f = cat({iframe, {0x08, 0x01, 0x01, 0x62, 0x1C, 0x07, 0x91, 0xA1, 0x02, 0x02, 0x1F, 0xA2, 0x00}});
  EXPECT_EQ(iframe_head(f) +
                "callref 1 caller size 13 message type FACILITY\n"
                "  Facility\n"
                "    octet 3 10010001\n"
                "   octet 4 10100001\n"
                "   octet 5 2\n"
                "   contents  2 1f \n"
                "   octet 4 10100010\n"
                "   octet 5 0\n"
                "   contents \n",
            decode(f));
}

TEST(Q931Trace, CauseDiagnostics) {
  Bytes f = cat({iframe, {0x08, 0x01, 0x01, 0x4D, 0x08, 0x08, 0x02, 0x81, 0xE0, 0x01, 0x02, 0x03, 0x04, 0x85}});
  EXPECT_EQ(iframe_head(f) +
                "callref 1 caller size 14 message type RELEASE\n"
                "  Cause\n"
                "    coding 00 location 0010\n"
                "  cause value 60 : Mandatory information element is missing \n"
                "    diag attribute 1  rej 2  av 3\n"
                "    diag attribute 4  rej 5 \n",
            decode(f));
}

// ----------------------------------------------------------------- the buffer

TEST(Q931Trace, LongFramesEndInTheMarkerInsideTheBuffer) {
  for (unsigned size : {400u, 65536u}) {
    Bytes f(size, 0x41);
    f[0] = 0x00;
    f[1] = 0x01;
    f[2] = 0x00;
    f[3] = 0x00;
    std::memset(ISDN::logbuf, 'x', sizeof ISDN::logbuf);
    ExactFrame e(f);
    std::size_t n = ISDN::dlogframe(e.get(), e.size(), 0, ISDN::logbuf);
    EXPECT_EQ(ISDN::logbuf_size - 1, n) << size;
    EXPECT_EQ(n, std::strlen(ISDN::logbuf)) << size;
    EXPECT_TRUE(ends_with(ISDN::logbuf, marker)) << size;
    EXPECT_EQ(0, std::strncmp(ISDN::logbuf, " 00 01 00 00 41 41", 18)) << size;
  }
}

TEST(Q931Trace, ManyElementsAreCutAtTheBuffer) {
  // Short enough to dump, long enough that the element lines overflow.
  Bytes f = cat({iframe, {0x08, 0x01, 0x01, 0x05}});
  for (int i = 0; i < 40; ++i) f.insert(f.end(), {0x1E, 0x02, 0x82, 0x83});
  char out[ISDN::logbuf_size + 16];
  std::memset(out, 'x', sizeof out);
  ExactFrame e(f);
  std::size_t n = ISDN::dlogframe(e.get(), e.size(), 0, out, ISDN::logbuf_size);
  EXPECT_EQ(ISDN::logbuf_size - 1, n);
  EXPECT_EQ('\0', out[n]);
  EXPECT_TRUE(ends_with(std::string(out, n), marker));
  for (std::size_t i = ISDN::logbuf_size; i < sizeof out; ++i) EXPECT_EQ('x', out[i]);
}

TEST(Q931Trace, TextThatFitsExactlyIsNotMarked) {
  Bytes f = {0x02, 0x01, 0x7F};
  std::string const full = decode(f);
  ExactFrame e(f);
  std::vector<char> out(full.size() + 1);
  EXPECT_EQ(full.size(), ISDN::dlogframe(e.get(), e.size(), 0, out.data(), out.size()));
  EXPECT_EQ(full, std::string(out.data()));
  out.resize(full.size());
  std::size_t n = ISDN::dlogframe(e.get(), e.size(), 0, out.data(), out.size());
  EXPECT_EQ(full.size() - 1, n);
  EXPECT_EQ(full.substr(0, n - marker.size()) + marker, std::string(out.data()));
}

// ----------------------------------------------------------------- the pieces

TEST(TextWriter, TinyCapacities) {
  char out[8];
  std::memset(out, 'x', sizeof out);
  ISDN::TextWriter none(out, 0);
  none.str("abc");
  EXPECT_EQ(0u, none.finish());
  EXPECT_EQ('x', out[0]);

  ISDN::TextWriter one(out, 1);
  one.put('a');
  EXPECT_TRUE(one.full());
  EXPECT_EQ(0u, one.finish());
  EXPECT_EQ('\0', out[0]);

  ISDN::TextWriter small(out, 6);
  small.str("abcdefgh");
  EXPECT_EQ(5u, small.finish());
  EXPECT_EQ(std::string("...(t"), out);
  EXPECT_EQ('x', out[6]);
}

TEST(TextWriter, Numbers) {
  char out[64];
  ISDN::TextWriter w(out, sizeof out);
  w.dec(0);
  w.put(' ');
  w.dec(-127);
  w.put(' ');
  w.hex(0x4b);
  w.put(' ');
  w.hex_upper2(0x0a);
  w.put(' ');
  w.hex_pad2(0x2);
  w.put(' ');
  w.hex_pad2(0x1f);
  w.put(' ');
  w.text_char(0x7F);
  w.finish();
  EXPECT_EQ(std::string("0 -127 4b 0A  2 1f \\x7F"), out);
}

TEST(Q931Trace, PrintBits) {
  struct Case {
    uint8_t octet;
    unsigned first, count;
    char const* bits;
  } const cases[] = {
      {0xA5, 8, 8, "10100101"}, {0xA5, 7, 2, "01"}, {0xA5, 4, 4, "0101"}, {0xA5, 1, 1, "1"}, {0xFF, 3, 5, "111"},
  };
  for (Case const& c : cases) {
    char out[16];
    ISDN::TextWriter w(out, sizeof out);
    EXPECT_EQ(std::strlen(c.bits), ISDN::printbits(w, c.octet, c.first, c.count));
    w.finish();
    EXPECT_EQ(std::string(c.bits), out);
  }
}

TEST(Q931Trace, SkipExt) {
  uint8_t const octets[] = {0x01, 0x02, 0x83, 0x04};
  ISDN::Octets o{octets, octets + 4};
  EXPECT_TRUE(ISDN::skipext(o));
  EXPECT_EQ(octets + 3, o.at);
  EXPECT_FALSE(ISDN::skipext(o));
  EXPECT_TRUE(o.empty());
  ISDN::Octets none{octets, octets};
  EXPECT_FALSE(ISDN::skipext(none));
}

}  // namespace
