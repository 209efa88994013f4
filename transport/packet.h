#pragma once

#include "transport/list_allocator.h"
#include "transport/smart_pointer.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

// One pooled buffer: data lies between `fdata` and `ftail`, with free room in
// front of it (head room) and behind it (tail room).
class _Packet {
public:
  static constexpr unsigned buffer_size = 65536;
  static constexpr bool copy_on_write = true;

  _Packet() : ref_count(0), fdata(buffer + buffer_size), ftail(buffer + buffer_size) {}
  // Same head room and length as the source; only the data bytes are copied.
  _Packet(_Packet const& other);
  _Packet& operator=(_Packet const&) = delete;
  ~_Packet() {}

  // Buffers come only from the pool; an empty pool throws std::bad_alloc.
  static void* operator new(std::size_t);
  static void operator delete(void* p);

  unsigned char* begin() { return buffer; }
  unsigned char* end() { return buffer + buffer_size; }
  unsigned char const* begin() const { return buffer; }
  unsigned char const* end() const { return buffer + buffer_size; }
  bool consistent() const {
    return fdata >= begin() && fdata <= end() && ftail >= begin() && ftail <= end() && fdata <= ftail;
  }

  uint32_t ref_count;
  unsigned char* fdata;
  unsigned char* ftail;
  unsigned char buffer[buffer_size];
};

using Packet_pool = List_allocator<_Packet, 1024, Dummy_critical_section>;

// Reference-counted, copy-on-write handle on a pooled buffer. Misuse (null
// handle, more bytes than the room, an index outside the data) is a programming
// error: it prints a diagnostic and ends the process. Callers check lengths of
// outside input before they pull, trim, push or put.
class Packet {
public:
  static constexpr unsigned packet_max_size = _Packet::buffer_size;

  Packet() = default;

  void clear() { p.clean(); }
  bool null() const { return p.null(); }
  unsigned length() const { return p.null() ? 0 : _length(); }
  bool empty() const { return length() == 0; }
  bool operator<(unsigned n) const { return length() < n; }

  unsigned _length() const { return unsigned(p->ftail - p->fdata); }
  unsigned _headroom() const { return unsigned(p->fdata - p->begin()); }
  unsigned _tailroom() const { return unsigned(p->end() - p->ftail); }

  unsigned tailroom() const;
  unsigned char* data();
  unsigned char* tail();
  // Read-only view of the data; never copies a shared buffer.
  unsigned char const* cdata() const;

  void reserve_head(unsigned len);
  void reserve_tail(unsigned len);
  // As reserve_head/reserve_tail, but false instead of std::bad_alloc when the
  // pool has no buffer left: the way for packets made from outside input.
  bool try_reserve_head(unsigned len) noexcept;
  bool try_reserve_tail(unsigned len) noexcept;
  static unsigned pool_free() { return Packet_pool::free_count(); }
  static constexpr unsigned pool_size() { return Packet_pool::capacity(); }

  unsigned char* put(unsigned len);
  unsigned char* put8(unsigned char v);
  void put16(unsigned short v);
  void put16_b(unsigned short v);
  void put(Packet const& other);
  // One length byte, then the characters; false (and nothing appended) for a
  // string longer than 255 characters.
  bool put(std::string const& s);

  unsigned char* push(unsigned len);
  unsigned char* push8(unsigned char v);
  void push16_b(unsigned short v);

  unsigned char* pull(unsigned len);
  unsigned char pull8();
  unsigned short pull16();
  unsigned short pull16_l();
  unsigned short pull16_b();
  std::string pull_string();

  unsigned char* trim(unsigned len);

  unsigned char& operator[](int i);
  unsigned char operator[](int i) const;

  Packet sub(unsigned start, unsigned len) const;

  std::string text() const;
  bool dump(std::ostream& os) const;
  bool dump_context(std::ostream& os) const;

  // Number of handles sharing this buffer (0 for a null handle).
  unsigned use_count() const { return p.use_count(); }
  bool shares_buffer_with(Packet const& other) const { return !null() && p.get() == other.p.get(); }

  void passert(bool condition, char const* text) const;
  void check(char const* op) const;
  [[noreturn]] static void check_fail(char const* fmt, ...) __attribute__((format(printf, 1, 2)));

private:
  _Packet const* cbuf() const { return p.operator->(); }
  void take_buffer(unsigned headroom);

  Smart_pointer<_Packet> p;

  friend class PacketInfo;
};

std::ostream& operator<<(std::ostream& os, Packet const& packet);

// Snapshot of a packet for a diagnostic. The copy of the data lives on the
// heap: a full buffer is 64 KiB.
class PacketInfo {
public:
  explicit PacketInfo(Packet const& packet);
  void put(std::ostream& os) const;

private:
  bool is_null;
  bool consistent;
  uint32_t head;
  uint32_t length;
  uint32_t tail;
  std::vector<unsigned char> bytes;
};

std::ostream& operator<<(std::ostream& os, PacketInfo const& info);
