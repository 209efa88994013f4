#pragma once
// Renders one LAPD frame (Q.921 address and control, and the Q.931 message of
// an I frame or a broadcast UI frame) as trace text. Plain functions over
// constant tables; nothing is kept between calls and nothing is allocated.
//
// Everything read from the frame is checked against its end first, and the
// text never passes the capacity of the buffer it is written to: text that
// does not fit is cut and ends in the truncation marker.
#include <cstddef>
#include <cstdint>

namespace ISDN {

// Text into a caller's buffer of fixed capacity, the terminating NUL
// included. Writes beyond the capacity are dropped; finish() then replaces
// the end of the text with the truncation marker.
class TextWriter {
public:
  static constexpr char truncation_marker[] = "...(truncated)";

  TextWriter(char* out, std::size_t capacity);

  void put(char c);
  void str(char const* s);
  void dec(long v);             // %d
  void hex(unsigned v);         // %x
  void hex_upper2(unsigned v);  // %02X
  void hex_pad2(unsigned v);    // %2x
  // An octet as a character; octets outside printable ASCII as \xNN, so that
  // nothing from the line can end or split a log line.
  void text_char(uint8_t c);

  // Something did not fit: everything written from now on is dropped.
  bool full() const { return overflow; }
  bool at_line_start() const { return len == 0 || last == '\n'; }
  std::size_t length() const { return len; }
  // Terminates the text (with the marker when it was cut) and returns its
  // length without the NUL.
  std::size_t finish();

private:
  char* buf;
  std::size_t cap;
  std::size_t len;
  char last;
  bool overflow;
};

// The part of a frame still to be read: [at, end).
struct Octets {
  uint8_t const* at;
  uint8_t const* end;

  bool empty() const { return at >= end; }
  std::size_t size() const { return empty() ? 0 : std::size_t(end - at); }
  // The next octet; false (and nothing taken) at the end.
  bool take(uint8_t& o) {
    if (empty()) return false;
    o = *at++;
    return true;
  }
  bool peek(uint8_t& o) const {
    if (empty()) return false;
    o = *at;
    return true;
  }
  // The first n octets as a view of their own (fewer when the end comes first).
  Octets first(std::size_t n) const { return Octets{at, n < size() ? at + n : end}; }
};

// Writes count characters '0'/'1' for the bits of octet from bit `first` down,
// bits numbered 8 (most significant) to 1. Returns the number written.
unsigned printbits(TextWriter& out, uint8_t octet, unsigned first, unsigned count);

// Moves past the first octet whose extension bit (bit 8) is 1. False when the
// octets end before one is found; everything is taken then.
bool skipext(Octets& o);

// Element decoders: each gets the contents octets of one element (octet 3
// onwards in Q.931 numbering) and writes its lines. An element shorter than
// its decoder expects ends in the cut-short line.
void general(TextWriter& out, Octets contents);
void prcause(TextWriter& out, Octets contents);
void prchident(TextWriter& out, Octets contents);
void prcalled(TextWriter& out, Octets contents);
void prcalling(TextWriter& out, Octets contents);
void prbearer(TextWriter& out, Octets contents);
void display(TextWriter& out, Octets contents);
void prfacility(TextWriter& out, Octets contents);

// frame: the LAPD frame from its first address octet (no flags, no FCS).
// network_to_user selects the direction word. Writes at most `capacity`
// characters into out, NUL included, and returns the text's length.
std::size_t dlogframe(unsigned char const* frame, unsigned int length, int network_to_user, char* out,
                      std::size_t capacity);

template <std::size_t N>
std::size_t dlogframe(unsigned char const* frame, unsigned int length, int network_to_user, char (&out)[N]) {
  return dlogframe(frame, length, network_to_user, out, N);
}

}  // namespace ISDN
