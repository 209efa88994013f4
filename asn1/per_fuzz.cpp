// Arbitrary octets into the coder test module: whatever decodes must encode
// to octets that decode and encode to the very same octets again.

#include "asn1/testing/per_schema.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <vector>

namespace {

bool encodePer(const ASN1::AbstractData& value, std::vector<char>& out) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  return ASN1::encode(value, &env, std::back_inserter(out));
}

bool decodePer(const char* begin, const char* end, ASN1::AbstractData& value) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  return ASN1::decode(begin, end, &env, value, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* begin = reinterpret_cast<const char*>(data);
  PT::Top first;
  if (!decodePer(begin, begin + size, first)) return 0;
  (void)first.asValueNotation();

  // A decoded value may hold what cannot go out again (an unknown
  // alternative, a length beyond its constraint): that fails cleanly.
  std::vector<char> wire;
  if (!encodePer(first, wire)) return 0;

  PT::Top second;
  if (!decodePer(wire.data(), wire.data() + wire.size(), second)) std::abort();
  std::vector<char> again;
  if (!encodePer(second, again) || again != wire) std::abort();
  return 0;
}
