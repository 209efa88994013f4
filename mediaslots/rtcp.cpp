#include "mediaslots/rtcp.h"

#include <algorithm>
#include <cstring>

namespace RTPC {

namespace {

constexpr unsigned kMaxText = 255;

void Put32(char* p, std::uint32_t v) {
  p[0] = static_cast<char>(v >> 24);
  p[1] = static_cast<char>(v >> 16);
  p[2] = static_cast<char>(v >> 8);
  p[3] = static_cast<char>(v);
}

unsigned RoundUp4(unsigned n) { return (n + 3u) & ~3u; }

}  // namespace

unsigned Msg::encode(char* buf, unsigned int len) const {
  if (buf == nullptr || len <= 7) return 0;
  buf[0] = static_cast<char>(0x80u | (count() & 31u));
  buf[1] = static_cast<char>(pt());
  const unsigned body = encode_body(buf + 4, len - 4);
  if (body == 0) return 0;
  unsigned total = 4 + body;
  // The bodies end on a word already; never pad past the buffer.
  const unsigned padded = RoundUp4(total);
  if (padded > len) return 0;
  std::memset(buf + total, 0, padded - total);
  total = padded;
  const unsigned words = total / 4 - 1;
  buf[2] = static_cast<char>(words >> 8);
  buf[3] = static_cast<char>(words);
  return total;
}

unsigned SDES::encode_body(char* buf, unsigned int len) const {
  if (len <= 3) return 0;
  Put32(buf, ssrc_);
  unsigned pos = 4;
  // The chunk ends with at least one null octet, padded to a word; no room
  // for that word means no valid chunk at all.
  if (len < pos + 4) return 0;
  for (const Item& item : items_) {
    const unsigned n = std::min<std::size_t>(item.text().size(), kMaxText);
    if (RoundUp4(pos + 2 + n + 1) > len) break;
    buf[pos] = static_cast<char>(item.type());
    buf[pos + 1] = static_cast<char>(n);
    std::memcpy(buf + pos + 2, item.text().data(), n);
    pos += 2 + n;
  }
  const unsigned end = RoundUp4(pos + 1);
  std::memset(buf + pos, 0, end - pos);
  return end;
}

unsigned BYE::encode_body(char* buf, unsigned int len) const {
  if (len <= 3) return 0;
  Put32(buf, ssrc_);
  unsigned pos = 4;
  // Whole words only: the length octet, the text and its padding.
  const unsigned room = (len - pos) & ~3u;
  if (!reason_.empty() && room >= 4) {
    const unsigned n = std::min<std::size_t>({reason_.size(), kMaxText, room - 1});
    buf[pos] = static_cast<char>(n);
    std::memcpy(buf + pos + 1, reason_.data(), n);
    const unsigned end = RoundUp4(pos + 1 + n);
    std::memset(buf + pos + 1 + n, 0, end - (pos + 1 + n));
    pos = end;
  }
  return pos;
}

}  // namespace RTPC
