// Differential test: hand-made LAPD frames are written to a capture file and
// read back by tshark; message types, element identifiers, cause values,
// numbers and call references must agree with what the decoder shows.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "links/isdn/q931_trace.h"
#include "links/isdn/tests/frame_util.h"

using isdntest::cat;
using isdntest::decode;
using Bytes = std::vector<uint8_t>;

namespace {

// What either side found in one frame, in the order of the frame.
struct Seen {
  std::string message_type;  // two lower-case hex digits, empty when none
  std::vector<unsigned> elements;
  std::vector<unsigned> causes;
  std::vector<std::string> called_digits;
  std::vector<std::string> calling_digits;
  long call_ref = -1;  // without the flag; -1 when none
  int call_ref_flag = -1;
  bool sending_complete = false;
};

bool operator==(Seen const& a, Seen const& b) {
  return a.message_type == b.message_type && a.elements == b.elements && a.causes == b.causes &&
         a.called_digits == b.called_digits && a.calling_digits == b.calling_digits && a.call_ref == b.call_ref &&
         a.call_ref_flag == b.call_ref_flag && a.sending_complete == b.sending_complete;
}

std::ostream& operator<<(std::ostream& os, Seen const& s) {
  os << "type=" << s.message_type << " ref=" << s.call_ref << "/" << s.call_ref_flag << " elements=";
  for (unsigned e : s.elements) os << std::hex << e << std::dec << ",";
  os << " causes=";
  for (unsigned c : s.causes) os << c << ",";
  os << " called=";
  for (auto const& d : s.called_digits) os << d << ",";
  os << " calling=";
  for (auto const& d : s.calling_digits) os << d << ",";
  if (s.sending_complete) os << " sending complete";
  return os;
}

// ------------------------------------------------------------- the capture

void put16(std::ofstream& f, uint16_t v) {
  char b[2] = {char(v >> 8), char(v & 0xFF)};
  f.write(b, 2);
}

void put32le(std::ofstream& f, uint32_t v) {
  char b[4] = {char(v & 0xFF), char(v >> 8 & 0xFF), char(v >> 16 & 0xFF), char(v >> 24)};
  f.write(b, 4);
}

// A pcap file of link type 203: plain LAPD frames from the address field on
// (no pseudo-header; that is link type 177).
void write_pcap(std::string const& path, std::vector<Bytes> const& frames) {
  std::ofstream f(path, std::ios::binary);
  put32le(f, 0xA1B2C3D4);
  put16(f, 0x0200);  // version 2.4, little-endian like the rest of the header
  put16(f, 0x0400);
  put32le(f, 0);
  put32le(f, 0);
  put32le(f, 65535);
  put32le(f, 203);
  uint32_t sec = 1700000000;
  for (Bytes const& frame : frames) {
    uint32_t const len = uint32_t(frame.size());
    put32le(f, sec++);
    put32le(f, 0);
    put32le(f, len);
    put32le(f, len);
    f.write(reinterpret_cast<char const*>(frame.data()), std::streamsize(frame.size()));
  }
}

// ------------------------------------------------------------ tshark's view

std::vector<std::string> split(std::string const& s, char sep) {
  std::vector<std::string> out;
  std::string cur;
  std::istringstream in(s);
  while (std::getline(in, cur, sep)) out.push_back(cur);
  if (!s.empty() && s.back() == sep) out.push_back("");
  return out;
}

std::string hex2(unsigned v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02x", v);
  return b;
}

std::vector<Seen> tshark_view(std::string const& path) {
  std::string const cmd = "tshark -n -r '" + path +
                          "' -T fields -E separator='|' -E occurrence=a -E aggregator=',' "
                          "-e q931.message_type -e q931.information_element -e q931.cause_value "
                          "-e q931.called_party_number.digits -e q931.calling_party_number.digits "
                          "-e q931.call_ref -e q931.call_ref_flag -e q931.sending_complete 2>/dev/null";
  std::vector<Seen> out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  pclose(p);
  for (std::string const& line : split(text, '\n')) {
    if (line.empty()) continue;
    std::vector<std::string> f = split(line, '|');
    f.resize(8);
    Seen s;
    if (!f[0].empty()) s.message_type = hex2(unsigned(std::strtoul(f[0].c_str(), nullptr, 0)));
    for (auto const& e : split(f[1], ','))
      if (!e.empty()) s.elements.push_back(unsigned(std::strtoul(e.c_str(), nullptr, 0)));
    for (auto const& c : split(f[2], ','))
      if (!c.empty()) s.causes.push_back(unsigned(std::strtoul(c.c_str(), nullptr, 0)));
    for (auto const& d : split(f[3], ','))
      if (!d.empty()) s.called_digits.push_back(d);
    for (auto const& d : split(f[4], ','))
      if (!d.empty()) s.calling_digits.push_back(d);
    if (!f[5].empty()) {
      std::string hex;
      for (char c : f[5])
        if (c != ':') hex += c;
      unsigned long v = std::strtoul(hex.c_str(), nullptr, 16);
      // The flag is bit 8 of the first octet.
      s.call_ref = long(v & ~(0x80ul << (4 * (hex.size() - 2))));
    }
    if (!f[6].empty()) s.call_ref_flag = f[6] == "1" || f[6] == "True" ? 1 : 0;
    // The dummy call reference (length 0) has no value; the decoder shows it as 0.
    if (!s.message_type.empty() && f[5].empty()) s.call_ref = s.call_ref_flag = 0;
    // A single-octet element, not counted among the identifiers.
    s.sending_complete = !f[7].empty();
    out.push_back(s);
  }
  return out;
}

// ----------------------------------------------------------- decoder's view

// Names of the elements used here, as the decoder writes them, with the
// identifiers of the standard.
std::map<std::string, unsigned> const element_ids = {
    {"Bearer capability", 0x04},    {"Cause", 0x08},
    {"Call state", 0x14},           {"Channel identification", 0x18},
    {"Progress indicator", 0x1E},   {"Display", 0x28},
    {"Calling party number", 0x6C}, {"Called party number", 0x70},
    {"Restart indicator", 0x79},    {"Sending complete", 0xA1},
    {"Keypad facility", 0x2C},      {"High layer compatibility", 0x7D},
};

std::map<std::string, unsigned> const message_ids = {
    {"ALERTING", 0x01}, {"CALL PROCEEDING", 0x02}, {"CONNECT", 0x07},     {"CONNECT ACKNOWLEDGE", 0x0F},
    {"SETUP", 0x05},    {"DISCONNECT", 0x45},      {"RELEASE", 0x4D},     {"RELEASE COMPLETE", 0x5A},
    {"STATUS", 0x7D},   {"RESTART", 0x46},         {"INFORMATION", 0x7B}, {"PROGRESS", 0x03},
};

bool starts(std::string const& s, char const* p, std::string* rest = nullptr) {
  std::size_t const n = std::char_traits<char>::length(p);
  if (s.compare(0, n, p) != 0) return false;
  if (rest) *rest = s.substr(n);
  return true;
}

Seen decoder_view(Bytes const& frame) {
  Seen s;
  std::string element;
  for (std::string const& line : split(decode(frame), '\n')) {
    std::string rest;
    if (starts(line, "callref ", &rest)) {
      char flag[16] = {};
      long ref = 0;
      if (std::sscanf(rest.c_str(), "%ld %15s", &ref, flag) == 2) {
        s.call_ref = ref;
        s.call_ref_flag = std::string(flag) == "called";
      }
      std::size_t at = line.find(" message type ");
      if (at != std::string::npos) {
        auto m = message_ids.find(line.substr(at + 14));
        s.message_type = m == message_ids.end() ? "?" + line.substr(at + 14) : hex2(m->second);
      } else if ((at = line.find(" unknown message type ")) != std::string::npos) {
        s.message_type = hex2(unsigned(std::strtoul(line.c_str() + at + 22, nullptr, 16)));
      }
    } else if (starts(line, "  cause value ", &rest) || starts(line, "Unknown cause type ", &rest)) {
      s.causes.push_back(unsigned(std::strtoul(rest.c_str(), nullptr, 16)));
    } else if (starts(line, "  attribute ", &rest)) {
      element.clear();
      s.elements.push_back(unsigned(std::strtoul(rest.c_str(), nullptr, 16)));
    } else if (line == "  Sending complete") {
      s.sending_complete = true;
    } else if (starts(line, "    number digits ", &rest)) {
      (element == "Called party number" ? s.called_digits : s.calling_digits).push_back(rest);
    } else if (line.size() > 2 && starts(line, "  ") && line[2] != ' ') {
      element = line.substr(2);
      auto e = element_ids.find(element);
      s.elements.push_back(e == element_ids.end() ? 0x100 : e->second);
    }
  }
  return s;
}

// ------------------------------------------------------------------ frames

Bytes const user_i = {0x00, 0x01, 0x00, 0x00};     // user to network, I command
Bytes const network_i = {0x02, 0x01, 0x00, 0x02};  // network to user, I command

std::vector<Bytes> frames() {
  return {
      // SETUP with a two-octet call reference, bearer, channel, calling and called numbers.
      cat({user_i, {0x08, 0x02, 0x00, 0x01, 0x05, 0xA1, 0x04, 0x03, 0x80, 0x90, 0xA3, 0x18, 0x03, 0xA9, 0x83, 0x81,
                    0x6C, 0x06, 0x01, 0x81, 0x35, 0x35, 0x35, 0x31, 0x70, 0x05, 0x81, 0x31, 0x32, 0x33, 0x34}}),
      cat({network_i, {0x08, 0x02, 0x80, 0x01, 0x02, 0x18, 0x03, 0xA9, 0x83, 0x81}}),
      cat({network_i, {0x08, 0x02, 0x80, 0x01, 0x01, 0x1E, 0x02, 0x82, 0x88}}),
      cat({network_i, {0x08, 0x02, 0x80, 0x01, 0x07}}),
      cat({user_i, {0x08, 0x02, 0x00, 0x01, 0x0F}}),
      // Clearing with causes.
      cat({user_i, {0x08, 0x02, 0x00, 0x01, 0x45, 0x08, 0x02, 0x80, 0x90}}),
      cat({network_i, {0x08, 0x02, 0x80, 0x01, 0x4D, 0x08, 0x02, 0x82, 0x9F}}),
      cat({user_i, {0x08, 0x02, 0x00, 0x01, 0x5A, 0x08, 0x02, 0x82, 0x91}}),
      cat({network_i, {0x08, 0x02, 0xFF, 0xFE, 0x5A, 0x08, 0x02, 0x83, 0xA2}}),
      cat({network_i, {0x08, 0x02, 0x80, 0x07, 0x45, 0x08, 0x02, 0x8A, 0xAF, 0x1E, 0x02, 0x81, 0x88}}),
      // A cause value the decoder has no text for.
      cat({user_i, {0x08, 0x02, 0x00, 0x09, 0x5A, 0x08, 0x02, 0x80, 0xB0}}),
      // One-octet call reference and an element the decoder does not know.
      cat({user_i,
           {0x08, 0x01, 0x03, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA3, 0x4B, 0x03, 0x11, 0x22, 0x33, 0x70, 0x03, 0x80, 0x39,
            0x39}}),
      // Broadcast SETUP.
      {0x02, 0xFF, 0x03, 0x08, 0x01, 0x04, 0x05, 0x04, 0x03, 0x80, 0x90,
       0xA3, 0x18, 0x01, 0x89, 0x70, 0x04, 0x81, 0x35, 0x36, 0x37},
      // STATUS, answer to an enquiry, with the call state.
      cat({user_i, {0x08, 0x01, 0x85, 0x7D, 0x08, 0x02, 0x80, 0x9E, 0x14, 0x01, 0x0A}}),
      // RESTART on the dummy call reference.
      cat({network_i, {0x08, 0x00, 0x46, 0x79, 0x01, 0x87}}),
      // Overlap sending.
      cat({user_i, {0x08, 0x01, 0x06, 0x7B, 0xA1, 0x70, 0x02, 0x81, 0x35, 0x2C, 0x01, 0x23}}),
      cat({network_i, {0x08, 0x01, 0x86, 0x03, 0x1E, 0x02, 0x82, 0x82, 0x7D, 0x02, 0x91, 0x81}}),
  };
}

bool have_tshark() { return std::system("tshark -v >/dev/null 2>&1") == 0; }

TEST(Q931Tshark, AgreesOnHandMadeFrames) {
  if (!have_tshark()) GTEST_SKIP() << "tshark is not installed";
  std::string const path = ::testing::TempDir() + "q931_tshark_" + std::to_string(getpid()) + ".pcap";
  std::vector<Bytes> const fs = frames();
  write_pcap(path, fs);
  std::vector<Seen> const theirs = tshark_view(path);
  std::remove(path.c_str());
  ASSERT_EQ(fs.size(), theirs.size());
  for (std::size_t i = 0; i < fs.size(); ++i) {
    Seen const ours = decoder_view(fs[i]);
    EXPECT_FALSE(ours.message_type.empty()) << "frame " << i;
    EXPECT_EQ(theirs[i], ours) << "frame " << i << ":\n" << decode(fs[i]);
  }
}

}  // namespace
