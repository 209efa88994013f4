// Unpacks any octets as an R2S header both ways: what decodes packs and
// unpacks to the same header and features, and no octet outside the input
// is read.
//
// Unpacks any octets as a LEMZ packet. What decodes must pack again and
// unpack to the very same record; what does not must leave the record as it
// was (but for the type of an unknown one). The dump and the comparisons run
// on every record, into buffers of every small size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "radio/r2s_proto.h"
#include "radio/sig_proto.h"

namespace {

bool SameR2S(const r2s_proto& a, const r2s_proto& b) {
  if (a.kind != b.kind || a.count != b.count || std::memcmp(&a.rx, &b.rx, sizeof a.rx) != 0) return false;
  return std::memcmp(a.features, b.features, a.count * sizeof a.features[0]) == 0;
}

void CheckR2S(const std::vector<unsigned char>& in, std::size_t size) {
  for (bool rx : {true, false}) {
    r2s_proto p;
    r2s_proto_init(&p, R2SProto::kKindNone);
    const int len = static_cast<int>(size);
    const int rc = rx ? r2s_proto_unpack_rx(&p, in.data(), len) : r2s_proto_unpack_tx(&p, in.data(), len);
    if (rc != 0 && rc != R2SProto::kShort) std::abort();
    if (p.count > static_cast<std::uint32_t>(R2SProto::kMaxFeatures)) std::abort();
    if (size < 2) {
      if (p.kind != R2SProto::kKindNone) std::abort();
      continue;
    }
    // 16 features of 13 octets at most after the header.
    unsigned char packed[2 + 16 * 13 + 2];
    const int n = r2s_proto_pack(&p, packed, sizeof packed);
    if (n < 4) std::abort();
    r2s_proto again;
    r2s_proto_init(&again, R2SProto::kKindNone);
    const int back = rx ? r2s_proto_unpack_rx(&again, packed, n) : r2s_proto_unpack_tx(&again, packed, n);
    if (back != 0 || !SameR2S(p, again)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  // An exact copy, so that any read past the input is caught (one octet
  // for an empty input, which must not be read at all).
  std::vector<unsigned char> in(size ? size : 1);
  if (size) std::memcpy(in.data(), data, size);
  CheckR2S(in, size);
  sig_proto p;
  std::memset(&p, 0xA5, sizeof p);
  sig_proto before;
  std::memcpy(&before, &p, sizeof p);
  const int rc = sig_proto_unpack(&p, in.data(), static_cast<int>(in.size()));
  if (rc != 0) {
    if (rc != SigProto::kShort && rc != SigProto::kUnknownType) std::abort();
    if (rc == SigProto::kUnknownType) {
      if (p.type != in[0]) std::abort();
      p.type = before.type;
    }
    if (std::memcmp(&p, &before, sizeof p) != 0) std::abort();
    return 0;
  }

  unsigned char packed[512];
  const int n = sig_proto_pack(&p, packed, sizeof packed);
  if (n < SigProto::kHeader || n % 4 != 0 || static_cast<std::size_t>(n) > ((size + 3) & ~std::size_t(3))) std::abort();
  sig_proto again;
  std::memset(&again, 0xA5, sizeof again);
  if (sig_proto_unpack(&again, packed, n) != 0) std::abort();
  if (std::memcmp(&p, &again, sizeof p) != 0) std::abort();
  if (cmp_sig_proto(&p, &again) != 0 || cmp_sig_proto_header(&p, &again) != 0) std::abort();

  // Every buffer too small for the body still gets its header and nothing
  // past its end.
  for (int room = 1; room < n; ++room) {
    std::vector<unsigned char> small(static_cast<std::size_t>(room));
    const int r = sig_proto_pack(&p, small.data(), room);
    if (r != SigProto::kShort) std::abort();
  }
  static const int kModes[] = {0, 1, 2, 3, 4, 7};
  for (int mode : kModes) {
    const std::size_t room = in[size - 1] % 64 + 1;
    std::vector<char> text(room);
    const int w = sprintf_sig_proto(text.data(), static_cast<long>(room), &p, mode);
    if (w < 0 || static_cast<std::size_t>(w) >= room || text[static_cast<std::size_t>(w)] != '\0') std::abort();
  }
  return 0;
}
