// Unpacks any octets as a LEMZ packet. What decodes must pack again and
// unpack to the very same record; what does not must leave the record as it
// was (but for the type of an unknown one). The dump and the comparisons run
// on every record, into buffers of every small size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "radio/sig_proto.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  // An exact copy, so that any read past the input is caught (one octet
  // for an empty input, which must not be read at all).
  std::vector<unsigned char> in(size ? size : 1);
  if (size) std::memcpy(in.data(), data, size);
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
