#include "links/isdn/q931_trace.h"

#include <cstring>

#include "links/isdn/q921_frame.h"

namespace ISDN {

// ---------------------------------------------------------------- TextWriter

TextWriter::TextWriter(char* out, std::size_t capacity)
    : buf(out), cap(capacity), len(0), last('\n'), overflow(false) {}

void TextWriter::put(char c) {
  if (overflow) return;
  // One place stays free for the NUL.
  if (cap == 0 || len >= cap - 1) {
    overflow = true;
    return;
  }
  buf[len++] = c;
  last = c;
}

void TextWriter::str(char const* s) {
  while (*s && !overflow) put(*s++);
}

void TextWriter::dec(long v) {
  char digits[24];
  unsigned n = 0;
  unsigned long u = v < 0 ? 0ul - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
  do {
    digits[n++] = char('0' + u % 10);
    u /= 10;
  } while (u);
  if (v < 0) put('-');
  while (n) put(digits[--n]);
}

void TextWriter::hex(unsigned v) {
  static char const lower[] = "0123456789abcdef";
  char digits[8];
  unsigned n = 0;
  do {
    digits[n++] = lower[v & 15];
    v >>= 4;
  } while (v);
  while (n) put(digits[--n]);
}

void TextWriter::hex_upper2(unsigned v) {
  static char const upper[] = "0123456789ABCDEF";
  if (v > 0xFF) {
    hex(v);  // wider than two digits: not padded, as printf would
    return;
  }
  put(upper[v >> 4]);
  put(upper[v & 15]);
}

void TextWriter::hex_pad2(unsigned v) {
  if (v < 16) put(' ');
  hex(v);
}

void TextWriter::text_char(uint8_t c) {
  if (c >= 0x20 && c < 0x7F) {
    put(char(c));
    return;
  }
  put('\\');
  put('x');
  hex_upper2(c);
}

std::size_t TextWriter::finish() {
  if (cap == 0) return 0;
  if (overflow) {
    std::size_t const mlen = sizeof truncation_marker - 1;
    std::size_t at = cap - 1 >= mlen ? cap - 1 - mlen : 0;
    if (at > len) at = len;
    std::size_t const n = cap - 1 - at < mlen ? cap - 1 - at : mlen;
    std::memcpy(buf + at, truncation_marker, n);
    len = at + n;
  }
  buf[len] = '\0';
  return len;
}

// ------------------------------------------------------------------- helpers

unsigned printbits(TextWriter& out, uint8_t octet, unsigned first, unsigned count) {
  if (first > 8) first = 8;
  if (count > first) count = first;
  for (unsigned i = 0; i < count; ++i) out.put((octet >> (first - 1 - i)) & 1 ? '1' : '0');
  return count;
}

bool skipext(Octets& o) {
  uint8_t c;
  while (o.take(c))
    if (c & 0x80) return true;
  return false;
}

namespace {

// An element shorter than what its decoder expected.
void cut_short(TextWriter& out) {
  if (!out.at_line_start()) out.put('\n');
  out.str("    ...(cut short)\n");
}

// Label, the bits of one octet taken from o, newline; false when o is empty.
bool octet_line(TextWriter& out, Octets& o, char const* label, uint8_t* taken = nullptr) {
  uint8_t c;
  if (!o.take(c)) {
    cut_short(out);
    return false;
  }
  out.str(label);
  printbits(out, c, 8, 8);
  out.put('\n');
  if (taken) *taken = c;
  return true;
}

void digits_line(TextWriter& out, Octets o) {
  out.str("    number digits ");
  uint8_t c;
  while (!out.full() && o.take(c)) out.text_char(c);
  out.put('\n');
}

// Bits 7-6 of an octet: the layer of a bearer capability octet 5, 6 or 7.
unsigned layer_bits(uint8_t c) { return (c >> 5) & 3; }

struct MessageType {
  uint8_t octet;
  char const* name;
};

constexpr MessageType message_types[] = {
    {0x01, "ALERTING"},
    {0x02, "CALL PROCEEDING"},
    {0x07, "CONNECT"},
    {0x0F, "CONNECT ACKNOWLEDGE"},
    {0x03, "PROGRESS"},
    {0x05, "SETUP"},
    {0x0D, "SETUP ACKNOWLEDGE"},
    {0x24, "HOLD"},
    {0x28, "HOLD ACKNOWLEDGE"},
    {0x30, "HOLD REJECT"},
    {0x31, "RETRIEVE"},
    {0x33, "RETRIEVE ACKNOWLEDGE"},
    {0x37, "RETRIEVE REJECT"},
    {0x26, "RESUME"},
    {0x2E, "RESUME ACKNOWLEDGE"},
    {0x22, "RESUME REJECT"},
    {0x25, "SUSPEND"},
    {0x2D, "SUSPEND ACKNOWLEDGE"},
    {0x21, "SUSPEND REJECT"},
    {0x20, "USER INFORMATION"},
    {0x45, "DISCONNECT"},
    {0x4D, "RELEASE"},
    {0x5A, "RELEASE COMPLETE"},
    {0x46, "RESTART"},
    {0x4E, "RESTART ACKNOWLEDGE"},
    {0x60, "SEGMENT"},
    {0x79, "CONGESTION CONTROL"},
    {0x7B, "INFORMATION"},
    {0x62, "FACILITY"},
    {0x6E, "NOTIFY"},
    {0x7D, "STATUS"},
    {0x75, "STATUS ENQUIRY"},
};
static_assert(sizeof message_types / sizeof message_types[0] == 32, "message type table");

using ElementDecoder = void (*)(TextWriter&, Octets);

struct Element {
  uint8_t id;
  char const* name;
  ElementDecoder decode;
};

constexpr Element elements[] = {
    {0x00, "Segmented message", general},
    {0x04, "Bearer capability", prbearer},
    {0x08, "Cause", prcause},
    {0x10, "Call identity", general},
    {0x14, "Call state", general},
    {0x18, "Channel identification", prchident},
    {0x1C, "Facility", prfacility},
    {0x1E, "Progress indicator", general},
    {0x20, "Network-specific facilities", general},
    {0x27, "Notification indicator", general},
    {0x28, "Display", display},
    {0x29, "Date/Time", general},
    {0x2C, "Keypad facility", general},
    {0x34, "Signal", general},
    {0x40, "Information rate", general},
    {0x42, "End-to-end delay", general},
    {0x43, "Transit delay selection and indication", general},
    {0x44, "Packet layer binary parameters", general},
    {0x45, "Packet layer window size", general},
    {0x46, "Packet size", general},
    {0x47, "Closed user group", general},
    {0x4A, "Reverse charge indication", general},
    {0x6C, "Calling party number", prcalling},
    {0x6D, "Calling party subaddress", general},
    {0x70, "Called party number", prcalled},
    {0x71, "Called party subaddress", general},
    {0x74, "Redirecting number", general},
    {0x78, "Transit network selection", general},
    {0x79, "Restart indicator", general},
    {0x7C, "Low layer compatibility", general},
    {0x7D, "High layer compatibility", general},
    {0x7E, "User-user", general},
    {0x7F, "Escape for extension", general},
};
static_assert(sizeof elements / sizeof elements[0] == 33, "element table");

struct Cause {
  uint8_t value;
  char const* text;
};

constexpr Cause causes[] = {
    {0x01, "Unallocated (unassigned) number"},
    {0x02, "No route to specified transit network"},
    {0x03, "No route to destination"},
    {0x04, "Send special information tone"},
    {0x05, "Misdialled trunk prefix"},
    {0x06, "Channel unacceptable"},
    {0x07, "Channel awarded and being delivered in an established channel"},
    {0x08, "Preemption"},
    {0x09, "Preemption - circuit reserved for reuse"},
    {0x10, "Normal call clearing"},
    {0x11, "User busy"},
    {0x12, "No user responding"},
    {0x13, "No answer from user (user alerted)"},
    {0x14, "Subscriber absent"},
    {0x15, "Call rejected"},
    {0x16, "Number changed"},
    {0x1A, "non-selected user clearing"},
    {0x1B, "Destination out of order"},
    {0x1C, "Invalid number format (address incomplete)"},
    {0x1D, "Facility rejected"},
    {0x1E, "Response to Status enquiry"},
    {0x1F, "Normal, unspecified"},
    {0x22, "No circuit/channel available"},
    {0x26, "Network out of order"},
    {0x27, "Permanent frame mode connection out-of-service"},
    {0x28, "Permanent frame mode connection operational"},
    {0x29, "Temporary failure"},
    {0x2A, "Switching equipment congestion"},
    {0x2B, "Access information discarded"},
    {0x2C, "Requested circuit/channel not available"},
    {0x2E, "Precedence call blocked"},
    {0x2F, "Resource unavailable, unspecified"},
    {0x31, "Quality of service unavailable"},
    {0x32, "Requested facility not subscribed"},
    {0x35, "Outgoing calls barred within CUG"},
    {0x37, "Incoming calls barred within CUG"},
    {0x39, "Bearer capability not authorized"},
    {0x3A, "Bearer capability not presently available"},
    {0x3E, "Inconsistency in designated outgoing access information and subscriber class "},
    {0x3F, "Service or option not available, unspecified"},
    {0x41, "Bearer capability not implemented"},
    {0x42, "Channel type not implemented"},
    {0x43, "Requested facility not implemented"},
    {0x44, "Only restricted digital information bearer capability is available"},
    {0x4F, "Service or option not implemented"},
    {0x51, "Invalid call reference value"},
    {0x52, "Identified channel does not exist"},
    {0x53, "A suspended call exists, but this call identity does not"},
    {0x54, "Call identity in use"},
    {0x55, "No call suspended"},
    {0x56, "Call having the requested call identity has been cleared"},
    {0x57, "User not member of CUG"},
    {0x58, "Incompatible destination"},
    {0x5A, "Non-existent CUG"},
    {0x5B, "Invalid transit network selection"},
    {0x5F, "Invalid message, unspecified"},
    {0x60, "Mandatory information element is missing"},
    {0x61, "Message type non-existent or not implemented"},
    {0x62, "Message not compatible with call state or message type non-existent or not implemented "},
    {0x63, "Information element/parameter non-existent or not implemented"},
    {0x64, "Invalid information element contents"},
    {0x65, "Message not compatible with call state"},
    {0x66, "Recovery on timer expiry"},
    {0x67, "Parameter non-existent or not implemented - passed on"},
    {0x6E, "Message with unrecognized parameter discarded"},
    {0x6F, "Protocol error, unspecified"},
    {0x7F, "Interworking, unspecified"},
};
static_assert(sizeof causes / sizeof causes[0] == 67, "cause table");

template <typename Row, std::size_t N>
Row const* lookup(Row const (&table)[N], uint8_t Row::*field, uint8_t key) {
  for (Row const& r : table)
    if (r.*field == key) return &r;
  return nullptr;
}

}  // namespace

// ---------------------------------------------------------- element decoders

void general(TextWriter& out, Octets o) {
  long number = 3;
  char letter = ' ';
  uint8_t c;
  while (!out.full() && o.take(c)) {
    out.str("    octet ");
    out.dec(number);
    out.put(letter);
    out.put(' ');
    printbits(out, c, 8, 8);
    out.put('\n');
    if (c & 0x80) {
      ++number;
      letter = ' ';
    } else {
      letter = letter == ' ' ? 'a' : letter == 'z' || letter == '?' ? '?' : char(letter + 1);
    }
  }
}

void prcause(TextWriter& out, Octets o) {
  uint8_t c;
  if (!o.peek(c)) return cut_short(out);
  out.str("    coding ");
  printbits(out, c, 7, 2);
  out.str(" location ");
  printbits(out, c, 4, 4);
  out.put('\n');
  if (!skipext(o) || !o.take(c)) return cut_short(out);
  uint8_t const value = c & 0x7F;
  if (Cause const* cause = lookup(causes, &Cause::value, value)) {
    out.str("  cause value ");
    out.hex(value);
    out.str(" : ");
    out.str(cause->text);
    out.str(" \n");
  } else {
    out.str("Unknown cause type ");
    out.hex(value);
    out.str("!\n");
  }
  while (!out.full() && o.take(c)) {
    out.str("    diag attribute ");
    out.dec(c & 0x7F);
    out.put(' ');
    if (!o.take(c)) return cut_short(out);
    out.str(" rej ");
    out.dec(c & 0x7F);
    out.put(' ');
    if (c & 0x80) {
      out.put('\n');
      return;
    }
    if (!o.take(c)) return cut_short(out);
    out.str(" av ");
    out.dec(c & 0x7F);
    out.put('\n');
  }
}

void prchident(TextWriter& out, Octets o) { octet_line(out, o, "    octet 3 "); }

void prcalled(TextWriter& out, Octets o) {
  if (!octet_line(out, o, "    octet 3 ")) return;
  digits_line(out, o);
}

void prcalling(TextWriter& out, Octets o) {
  uint8_t c;
  if (!octet_line(out, o, "    octet 3 ", &c)) return;
  if (!(c & 0x80) && !octet_line(out, o, "    octet 3a ")) return;
  digits_line(out, o);
}

void prbearer(TextWriter& out, Octets o) {
  uint8_t c;
  if (!octet_line(out, o, "    octet 3  ")) return;
  if (!octet_line(out, o, "    octet 4  ", &c)) return;
  if ((c & 0x1F) == 0x18 && !octet_line(out, o, "    octet 4.1 ")) return;
  if (o.peek(c) && layer_bits(c) == 1) {
    char letter = ' ';
    do {
      char label[] = "    octet 5  ";
      label[11] = letter;
      if (!octet_line(out, o, label, &c)) return;
      letter = letter == ' ' ? 'a' : letter == 'z' || letter == '?' ? '?' : char(letter + 1);
    } while (!(c & 0x80) && !out.full());
  }
  if (o.peek(c) && layer_bits(c) == 2) octet_line(out, o, "    octet 6  ");
  if (o.peek(c) && layer_bits(c) == 3) octet_line(out, o, "    octet 7  ");
}

void display(TextWriter& out, Octets o) {
  out.str("   \"");
  uint8_t c;
  while (!out.full() && o.take(c)) out.text_char(c);
  out.str("\"\n");
}

void prfacility(TextWriter& out, Octets o) {
  if (!octet_line(out, o, "    octet 3 ")) return;
  uint8_t c;
  while (!out.full() && !o.empty()) {
    if (!octet_line(out, o, "   octet 4 ")) return;
    if (!o.take(c)) return cut_short(out);
    unsigned const n = c & 0x7F;
    out.str("   octet 5 ");
    out.dec(n);
    out.put('\n');
    out.str("   contents ");
    for (unsigned i = 0; i < n; ++i) {
      if (!o.take(c)) return cut_short(out);
      out.hex_pad2(c);
      out.put(' ');
    }
    out.put('\n');
  }
}

// --------------------------------------------------------------- the frame

namespace {

void single_octet_element(TextWriter& out, uint8_t c) {
  switch ((c >> 4) & 7) {
    case 2:
      if (c == 0xA0) out.str("  More data\n");
      if (c == 0xA1) out.str("  Sending complete\n");
      break;
    case 1:
      out.str("  Shift ");
      out.hex(c & 0x0F);
      out.put('\n');
      break;
    case 3:
      out.str("  Congestion level ");
      out.hex(c & 0x0F);
      out.put('\n');
      break;
    case 5:
      out.str("  Repeat indicator ");
      out.hex(c & 0x0F);
      out.put('\n');
      break;
    default:
      out.str("  Reserved ");
      out.hex(c);
      out.put('\n');
      break;
  }
}

// The elements of a message, from the octet after the message type.
void elements_text(TextWriter& out, Octets o) {
  uint8_t id;
  while (!out.full() && o.take(id)) {
    if (id & 0x80) {
      single_octet_element(out, id);
      continue;
    }
    uint8_t len;
    if (!o.take(len)) {
      out.str("  element ");
      out.hex(id);
      out.str(" without length\n");
      return;
    }
    Element const* e = lookup(elements, &Element::id, id);
    if (e) {
      out.str("  ");
      out.str(e->name);
      out.put('\n');
      e->decode(out, o.first(len));
    } else {
      out.str("  attribute ");
      out.hex(id);
      out.str(" attribute size ");
      out.dec(len);
      out.put('\n');
    }
    if (len > o.size()) {
      out.str("  length ");
      out.dec(len);
      out.str(" runs past the end of the frame\n");
      return;
    }
    o.at += len;
  }
}

// Q.931 header (protocol discriminator, call reference, message type), then
// the elements.
void message_text(TextWriter& out, Octets o) {
  std::size_t const size = o.size();
  uint8_t c = 0;
  o.take(c);
  if (c != 0x08) {
    out.str("Unknown protocol ");
    out.hex(c);
    out.put('!');
    return;
  }
  uint8_t crlen;
  if (!o.take(crlen)) {
    out.str("message too short\n");
    return;
  }
  // One octet on basic rate, two on primary rate; the flag is bit 8 of the first.
  if (crlen > 2) {
    out.str("callref length ");
    out.dec(crlen);
    out.str(" unsupported!\n");
    return;
  }
  unsigned callref = 0;
  bool called = false;
  for (unsigned i = 0; i < crlen; ++i) {
    if (!o.take(c)) {
      out.str("message too short\n");
      return;
    }
    if (i == 0) {
      called = c & 0x80;
      c &= 0x7F;
    }
    callref = callref << 8 | c;
  }
  uint8_t type;
  if (!o.take(type)) {
    out.str("message too short\n");
    return;
  }
  out.str("callref ");
  out.dec(callref);
  out.str(called ? " called" : " caller");
  out.str(" size ");
  out.dec(long(size));
  if (MessageType const* t = lookup(message_types, &MessageType::octet, type)) {
    out.str(" message type ");
    out.str(t->name);
    out.put('\n');
  } else {
    out.str(" unknown message type ");
    out.hex(type);
    out.str("!\n");
  }
  elements_text(out, o);
}

}  // namespace

std::size_t dlogframe(unsigned char const* frame, unsigned int length, int network_to_user, char* out,
                      std::size_t capacity) {
  namespace F = Q921;
  TextWriter w(out, capacity);
  if (!frame || length <= 2) return w.finish();
  Octets const all{frame, frame + length};

  for (unsigned i = 0; i < length && !w.full(); ++i) {
    w.put(' ');
    w.hex_upper2(frame[i]);
  }
  w.put('\n');
  w.str("frame ");
  w.str(network_to_user ? "network->user" : "user->network");
  w.put(' ');

  unsigned const sapi = F::sapi_of(frame[F::addr_sapi_octet]);
  unsigned const tei = F::tei_of(frame[F::addr_tei_octet]);
  uint8_t const control = frame[F::control_octet];
  unsigned start;
  if (tei == F::group_tei) {
    if (sapi == F::sapi_tei_management) {
      w.str("tei management:\n");
      return w.finish();
    }
    if (sapi != F::sapi_call_control) {
      w.str("unknown sapi ");
      w.dec(sapi);
      w.str(" broadcast\n");
      return w.finish();
    }
    if (control != F::u_ui) {
      w.str("no UI broadcast\n");
      return w.finish();
    }
    w.str("broadcast\n");
    start = F::u_header_size;
  } else if (sapi != F::sapi_call_control) {
    w.str("unknown sapi = ");
    w.dec(sapi);
    w.str("; tei = ");
    w.dec(tei);
    w.put('\n');
    return w.finish();
  } else if (!F::is_i(control)) {
    w.str("SFrame tei = ");
    w.dec(tei);
    w.str(" (");
    for (unsigned i = F::control_octet; i < length && !w.full(); ++i) {
      w.hex_upper2(frame[i]);
      w.put(' ');
    }
    w.str(")\n");
    return w.finish();
  } else {
    w.str("IFrame tei = ");
    w.dec(tei);
    w.put('\n');
    start = F::is_header_size;
  }
  if (start >= length) {
    w.str("frame too short\n");
    return w.finish();
  }
  message_text(w, Octets{all.at + start, all.end});
  return w.finish();
}

}  // namespace ISDN
