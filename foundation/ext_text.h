#pragma once
// Stream helpers for diagnostic lines: object headers, quoting, hex dumps and
// text tables. Nothing is formatted until the helper is written.
#include <cstddef>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace ext {

template <class T>
struct OutObjHeader {
  const T* obj;
  void Put(std::ostream& out) const { obj->PutHeader(out); }
};

template <class T>
struct OutShortInfo {
  const T* obj;
  void Put(std::ostream& out) const { obj->PutShortInfo(out); }
};

template <class T>
struct OutQuoted {
  const T* value;
  void Put(std::ostream& out) const { out << '"' << *value << '"'; }
};

// Bytes as two upper-case hex digits, each followed by a blank.
struct OutBufInHex {
  const unsigned char* begin;
  const unsigned char* end;
  void Put(std::ostream& out) const;
};

// "0x" and upper-case hex digits, zero-padded to digits (0: no padding).
struct OutUnsignedInHex {
  unsigned value;
  unsigned digits;
  void Put(std::ostream& out) const;
};

template <class T>
OutObjHeader<T> header(const T* p) {
  return OutObjHeader<T>{p};
}

template <class T>
OutShortInfo<T> shortinfo(const T* p) {
  return OutShortInfo<T>{p};
}

template <class T>
OutQuoted<T> quoted(const T& v) {
  return OutQuoted<T>{&v};
}

inline OutBufInHex hex(const char* p, unsigned n) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(p);
  return OutBufInHex{b, b + n};
}

inline OutBufInHex hex(const unsigned char* b, const unsigned char* e) { return OutBufInHex{b, e}; }

inline OutUnsignedInHex hex(unsigned value, unsigned digits) { return OutUnsignedInHex{value, digits}; }

template <class T>
std::ostream& operator<<(std::ostream& out, const OutObjHeader<T>& h) {
  h.Put(out);
  return out;
}

template <class T>
std::ostream& operator<<(std::ostream& out, const OutShortInfo<T>& s) {
  s.Put(out);
  return out;
}

template <class T>
std::ostream& operator<<(std::ostream& out, const OutQuoted<T>& q) {
  q.Put(out);
  return out;
}

std::ostream& operator<<(std::ostream& out, const OutBufInHex& h);
std::ostream& operator<<(std::ostream& out, const OutUnsignedInHex& h);

// Octets as pairs of lower-case hex digits ("0a01"), sep between two pairs
// when it is not '\0': the simulated board's records and the tests' octets.
std::string hex_text(const unsigned char* p, std::size_t n, char sep = '\0');
inline std::string hex_text(const std::string& bytes, char sep = '\0') {
  return hex_text(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), sep);
}
// The octets of whole pairs of hex digits; false, out unchanged, for an odd
// count or anything but hex digits.
bool parse_hex(const std::string& text, std::string& out);

// Local time as "%d/%m %H:%M:%S"; nothing when the time cannot be had.
std::ostream& timestamp(std::ostream& out);

// Manipulators of a table sentry. nextrow ends the current cell; a row ends
// by itself after its last column.
enum TableManip { nextrow, beginrow, delimeter };

// A text table with centred cells. Each output statement on it gets a
// Sentry that collects one cell's text; a row left unfinished when the
// statement ends is completed with blank cells.
class Table {
public:
  class Sentry {
  public:
    Sentry(std::ostream& out, Table& table) : out_(&out), table_(&table) {}
    Sentry(const Sentry&) = delete;
    Sentry& operator=(const Sentry&) = delete;
    ~Sentry() { table_->finalize(*out_); }

    std::ostream& cell() const { return cell_; }
    void apply(TableManip m) const;

  private:
    std::ostream* out_;
    Table* table_;
    mutable std::ostringstream cell_;
  };

  template <class... W>
  explicit Table(W... widths) : widths_{widths...} {}

  void add(int width) { widths_.push_back(width); }
  int columns() const { return static_cast<int>(widths_.size()); }

  // Writes one cell of the current row.
  void row(std::ostream& out, const std::string& text);
  // Completes a started row with blank cells.
  void finalize(std::ostream& out);
  // A separator line "+---+-----+", after completing the current row.
  void delimeter(std::ostream& out);
  // A blank ruled line "|   |     |".
  void gap(std::ostream& out);
  void beginrow() {
    column_ = 0;
    started_ = false;
  }

private:
  void rule(std::ostream& out, char edge, char fill);

  std::vector<int> widths_;
  int column_ = 0;
  bool started_ = false;
};

inline Table::Sentry operator<<(std::ostream& out, Table& t) { return Table::Sentry(out, t); }

template <class V>
const Table::Sentry& operator<<(const Table::Sentry& s, const V& v) {
  s.cell() << v;
  return s;
}

inline const Table::Sentry& operator<<(const Table::Sentry& s, TableManip m) {
  s.apply(m);
  return s;
}

}  // namespace ext
