#include "foundation/ext_text.h"

#include <ctime>
#include <utility>

namespace ext {

void OutBufInHex::Put(std::ostream& out) const {
  std::ios_base::fmtflags saved = out.flags();
  out.fill('0');
  for (const unsigned char* p = begin; p != end; ++p) {
    out.flags(std::ios_base::hex | std::ios_base::right | std::ios_base::uppercase);
    out.width(2);
    out << static_cast<unsigned>(*p) << ' ';
  }
  out.fill(' ');
  out.flags(saved);
}

void OutUnsignedInHex::Put(std::ostream& out) const {
  std::ios_base::fmtflags saved = out.flags();
  out << "0x";
  out.flags(std::ios_base::hex | std::ios_base::right | std::ios_base::uppercase);
  out.fill('0');
  out.width(digits);
  out << value;
  out.fill(' ');
  out.flags(saved);
}

std::string hex_text(const unsigned char* p, std::size_t n, char sep) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(n * (sep ? 3 : 2));
  for (std::size_t i = 0; i < n; ++i) {
    if (sep && i) text += sep;
    text += digits[p[i] >> 4];
    text += digits[p[i] & 15];
  }
  return text;
}

bool parse_hex(const std::string& text, std::string& out) {
  if (text.size() % 2) return false;
  std::string bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int v = 0;
    for (std::size_t k = i; k < i + 2; ++k) {
      const unsigned char c = static_cast<unsigned char>(text[k]);
      const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) return false;
      v = v * 16 + d;
    }
    bytes += static_cast<char>(static_cast<unsigned char>(v));
  }
  out = std::move(bytes);
  return true;
}

std::ostream& operator<<(std::ostream& out, const OutBufInHex& h) {
  h.Put(out);
  return out;
}

std::ostream& operator<<(std::ostream& out, const OutUnsignedInHex& h) {
  h.Put(out);
  return out;
}

std::ostream& timestamp(std::ostream& out) {
  time_t now = ::time(nullptr);
  struct tm tm;
  if (now == static_cast<time_t>(-1) || !::localtime_r(&now, &tm)) return out;
  char buf[256];
  if (::strftime(buf, sizeof buf, "%d/%m %H:%M:%S", &tm) > 0) out << buf;
  return out;
}

void Table::Sentry::apply(TableManip m) const {
  switch (m) {
    case ext::nextrow:
      table_->row(*out_, cell_.str());
      cell_.str("");
      break;
    case ext::beginrow:
      table_->beginrow();
      break;
    case ext::delimeter:
      table_->delimeter(*out_);
      break;
  }
}

void Table::row(std::ostream& out, const std::string& text) {
  if (column_ >= columns()) return;
  started_ = true;
  int w = widths_[column_] > 0 ? widths_[column_] : 0;
  int n = static_cast<int>(text.size()) < w ? static_cast<int>(text.size()) : w;
  out << '|' << std::string((w - n) / 2, ' ') << text << std::string((w - n + 1) / 2, ' ');
  if (++column_ == columns()) {
    out << '|' << std::endl;
    started_ = false;
  }
}

void Table::finalize(std::ostream& out) {
  if (!started_) return;
  while (column_ < columns()) row(out, " ");
}

void Table::rule(std::ostream& out, char edge, char fill) {
  if (widths_.empty()) return;
  for (int w : widths_) out << edge << std::string(w > 0 ? w : 0, fill);
  out << edge << std::endl;
}

void Table::delimeter(std::ostream& out) {
  finalize(out);
  rule(out, '+', '-');
}

void Table::gap(std::ostream& out) {
  finalize(out);
  rule(out, '|', ' ');
}

}  // namespace ext
