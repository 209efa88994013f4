#include "transport/packet.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <ios>
#include <iostream>
#include <new>

// Handles are passed and queued by value.
static_assert(sizeof(Packet) == sizeof(void*), "a packet handle is one pointer");

namespace {

// Leaves the stream's format as the caller had it.
class FormatKeeper {
public:
  explicit FormatKeeper(std::ostream& os) : os(os), flags(os.flags()), fill(os.fill()) {}
  ~FormatKeeper() {
    os.flags(flags);
    os.fill(fill);
  }

private:
  std::ostream& os;
  std::ios_base::fmtflags flags;
  char fill;
};

// The pool is built before main runs, not on the first packet.
const unsigned pool_at_start = Packet::pool_free();

}  // namespace

_Packet::_Packet(_Packet const& other) : ref_count(0) {
  std::size_t headroom = other.fdata - other.buffer;
  std::size_t length = other.ftail - other.fdata;
  fdata = buffer + headroom;
  ftail = fdata + length;
  std::memcpy(fdata, other.fdata, length);
}

void* _Packet::operator new(std::size_t) {
  _Packet* block = Packet_pool::allocate();
  if (!block) throw std::bad_alloc();
  return block;
}

void _Packet::operator delete(void* p) {
  if (p) Packet_pool::deallocate(static_cast<_Packet*>(p));
}

void Packet::passert(bool condition, char const* text) const {
  if (condition) return;
  std::clog << "PACKET ASSERTION FAILED!" << std::endl;
  std::clog << text << std::endl;
  std::clog << PacketInfo(*this);
  std::clog << std::endl;
  std::terminate();
}

void Packet::check_fail(char const* fmt, ...) {
  char message[256];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(message, sizeof message, fmt, args);
  va_end(args);
  std::clog << "packet check fail" << std::endl;
  std::clog << message << std::endl;
  std::clog << "terminate." << std::endl;
  std::terminate();
}

void Packet::check(char const* op) const {
  if (p.null()) check_fail("after \"%s\" packet is null", op);
  _Packet const* b = p.get();
  if (b->fdata < b->begin() || b->fdata > b->end()) check_fail("after \"%s\" fdata invalid", op);
  if (b->ftail < b->begin() || b->ftail > b->end()) check_fail("after \"%s\" ftail invalid", op);
  if (b->fdata > b->ftail) check_fail("after \"%s\" fdata>ftail", op);
}

unsigned Packet::tailroom() const {
  passert(!null(), "null packet");
  return _tailroom();
}

unsigned char* Packet::data() {
  passert(!null(), "null packet");
  return p->fdata;
}

unsigned char* Packet::tail() {
  passert(!null(), "null packet");
  return p->ftail;
}

unsigned char const* Packet::cdata() const {
  passert(!null(), "null packet");
  return cbuf()->fdata;
}

void Packet::take_buffer(unsigned headroom) {
  p = new _Packet;
  _Packet* b = p.get();
  b->fdata = b->ftail = b->buffer + headroom;
}

void Packet::reserve_head(unsigned len) {
  passert(len <= packet_max_size, "length>packet_max_size");
  if (null()) {
    take_buffer(len);
    return;
  }
  passert(len <= _tailroom(), "new_len>packet_max_size");
  _Packet* b = p.operator->();
  b->fdata += len;
  b->ftail += len;
}

void Packet::reserve_tail(unsigned len) {
  passert(len <= packet_max_size, "len>packet_max_size");
  if (null()) {
    take_buffer(packet_max_size - len);
    return;
  }
  passert(len <= _headroom(), "_tailroom()+len <= packet_max_size");
  _Packet* b = p.operator->();
  b->fdata -= len;
  b->ftail -= len;
}

bool Packet::try_reserve_head(unsigned len) noexcept {
  try {
    reserve_head(len);
    return true;
  } catch (std::bad_alloc const&) {
    return false;
  }
}

bool Packet::try_reserve_tail(unsigned len) noexcept {
  try {
    reserve_tail(len);
    return true;
  } catch (std::bad_alloc const&) {
    return false;
  }
}

unsigned char* Packet::put(unsigned len) {
  passert(!null(), "null packet");
  passert(len <= _tailroom(), "len<=_tailroom()");
  _Packet* b = p.operator->();
  unsigned char* at = b->ftail;
  b->ftail += len;
  check("put");
  return at;
}

unsigned char* Packet::put8(unsigned char v) {
  passert(!null(), "null packet");
  unsigned char* at = put(1);
  *at = v;
  return at;
}

void Packet::put16(unsigned short v) {
  passert(!null(), "null packet");
  put8(static_cast<unsigned char>(v & 0xFF));
  put8(static_cast<unsigned char>(v >> 8));
}

void Packet::put16_b(unsigned short v) {
  passert(!null(), "null packet");
  put8(static_cast<unsigned char>(v >> 8));
  put8(static_cast<unsigned char>(v & 0xFF));
}

void Packet::put(Packet const& other) {
  unsigned n = other.length();
  for (unsigned i = 0; i < n; ++i) put8(other[int(i)]);
}

bool Packet::put(std::string const& s) {
  if (s.size() > 255) return false;
  put8(static_cast<unsigned char>(s.size()));
  for (char c : s) put8(static_cast<unsigned char>(c));
  return true;
}

unsigned char* Packet::push(unsigned len) {
  passert(!null(), "null packet");
  passert(len <= _headroom(), "len<=_headroom()");
  _Packet* b = p.operator->();
  b->fdata -= len;
  check("push");
  return b->fdata;
}

unsigned char* Packet::push8(unsigned char v) {
  passert(!null(), "null packet");
  unsigned char* at = push(1);
  *at = v;
  return at;
}

void Packet::push16_b(unsigned short v) {
  passert(!null(), "null packet");
  push8(static_cast<unsigned char>(v & 0xFF));
  push8(static_cast<unsigned char>(v >> 8));
}

unsigned char* Packet::pull(unsigned len) {
  passert(!null(), "null packet");
  passert(len <= _length(), "len<=_length()");
  _Packet* b = p.operator->();
  unsigned char* at = b->fdata;
  b->fdata += len;
  return at;
}

unsigned char Packet::pull8() {
  passert(!null(), "null packet");
  if (empty()) return 0;
  return *pull(1);
}

unsigned short Packet::pull16() { return pull16_l(); }

unsigned short Packet::pull16_l() {
  passert(!null(), "null packet");
  unsigned low = pull8();
  unsigned high = pull8();
  return static_cast<unsigned short>(low | high << 8);
}

unsigned short Packet::pull16_b() {
  passert(!null(), "null packet");
  unsigned high = pull8();
  unsigned low = pull8();
  return static_cast<unsigned short>(high << 8 | low);
}

std::string Packet::pull_string() {
  unsigned n = pull8();
  std::string s;
  s.reserve(n);
  for (unsigned i = 0; i < n; ++i) s.push_back(static_cast<char>(pull8()));
  return s;
}

unsigned char* Packet::trim(unsigned len) {
  passert(!null(), "null packet");
  passert(len <= _length(), "len<=_length()");
  _Packet* b = p.operator->();
  b->ftail -= len;
  check("trim");
  return b->ftail;
}

unsigned char& Packet::operator[](int i) {
  passert(!null(), "null packet");
  passert(i >= 0 && unsigned(i) < _length(), "index out of range");
  return p->fdata[i];
}

unsigned char Packet::operator[](int i) const {
  passert(!null(), "null packet");
  passert(i >= 0 && unsigned(i) < _length(), "index out of range");
  return cbuf()->fdata[i];
}

Packet Packet::sub(unsigned start, unsigned len) const {
  passert(!null(), "null packet");
  passert(start <= _length(), "start<=_length()");
  // Compared as a difference: start + len may not fit in an unsigned.
  passert(len <= _length() - start, "start+len<=_length()");
  Packet part(*this);
  part.p.prepare_for_modify();
  part.pull(start);
  part.trim(part._length() - len);
  return part;
}

std::string Packet::text() const {
  if (null()) return "(null)";
  _Packet const* b = cbuf();
  if (!b->consistent()) return "(bad)";
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(std::size_t(b->ftail - b->fdata) * 3);
  for (unsigned char const* c = b->fdata; c != b->ftail; ++c) {
    if (c != b->fdata) out.push_back(' ');
    out.push_back(digits[*c >> 4]);
    out.push_back(digits[*c & 0x0F]);
  }
  return out;
}

std::ostream& operator<<(std::ostream& os, Packet const& packet) { return os << packet.text(); }

bool Packet::dump(std::ostream& os) const {
  if (null()) return false;
  FormatKeeper keep(os);
  os << std::dec << "head=" << _headroom() << ", "
     << "data=" << _length() << ", "
     << "tail=" << _tailroom();
  return true;
}

bool Packet::dump_context(std::ostream& os) const {
  if (null() || !cbuf()->consistent()) return false;
  if (empty()) return true;
  FormatKeeper keep(os);
  os << "dump:" << std::hex;
  for (unsigned char const* c = cbuf()->fdata; c != cbuf()->ftail; ++c) os << ' ' << unsigned(*c);
  return true;
}

PacketInfo::PacketInfo(Packet const& packet) : is_null(packet.null()), consistent(false), head(0), length(0), tail(0) {
  if (is_null) return;
  _Packet const* b = packet.p.get();
  head = uint32_t(b->fdata - b->begin());
  length = uint32_t(b->ftail - b->fdata);
  tail = uint32_t(b->end() - b->ftail);
  consistent = b->consistent();
  if (consistent) bytes.assign(b->fdata, b->ftail);
}

void PacketInfo::put(std::ostream& os) const {
  if (is_null) {
    os << "(null)" << std::endl;
    return;
  }
  FormatKeeper keep(os);
  os << std::dec << "head=" << head << ", "
     << "data=" << length << ", "
     << "tail=" << tail << std::endl;
  if (!consistent) {
    os << "can't dump packet: wrong pointers" << std::endl;
    return;
  }
  if (bytes.empty()) return;
  os << "dump:" << std::endl << std::hex;
  for (unsigned char c : bytes) os << ' ' << unsigned(c);
  os << std::endl;
}

std::ostream& operator<<(std::ostream& os, PacketInfo const& info) {
  info.put(os);
  return os;
}
