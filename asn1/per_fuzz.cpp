// Arbitrary octets into the coder test module, read as aligned PER, as BER
// and as value notation: whatever decodes must encode to octets that decode
// again, in PER to the very same octets, in BER to an equal value.

#include "asn1/testing/per_schema.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

namespace {

bool encodeBy(ASN1::CoderEnv::EncodingRules rule, const ASN1::AbstractData& value, std::vector<char>& out) {
  ASN1::CoderEnv env;
  env.set_encodingRule(rule);
  return ASN1::encode(value, &env, std::back_inserter(out));
}

bool decodeBy(ASN1::CoderEnv::EncodingRules rule, const char* begin, const char* end, ASN1::AbstractData& value) {
  ASN1::CoderEnv env;
  env.set_encodingRule(rule);
  return ASN1::decode(begin, end, &env, value, true);
}

void perRoundTrip(const char* begin, const char* end) {
  PT::Top first;
  if (!decodeBy(ASN1::CoderEnv::per, begin, end, first)) return;
  // The text of a decoded value need not read back (an open type's decoded
  // value prints as that value, not as octets); where it does, it must read
  // back to a value that prints the same.
  const std::string written = first.asValueNotation();
  PT::Top text;
  if (text.setFromValueNotation(written) && text.asValueNotation() != written) std::abort();

  // A decoded value may hold what cannot go out again (an unknown
  // alternative, a length beyond its constraint): that fails cleanly.
  std::vector<char> wire;
  if (!encodeBy(ASN1::CoderEnv::per, first, wire)) return;

  PT::Top second;
  if (!decodeBy(ASN1::CoderEnv::per, wire.data(), wire.data() + wire.size(), second)) std::abort();
  std::vector<char> again;
  if (!encodeBy(ASN1::CoderEnv::per, second, again) || again != wire) std::abort();
}

// BER accepts several encodings of one value (long lengths, padded
// integers), so what must hold is the value, not the octets.
void berRoundTrip(const char* begin, const char* end) {
  PT::Top first;
  if (!decodeBy(ASN1::CoderEnv::ber, begin, end, first)) return;
  (void)first.asValueNotation();

  std::vector<char> wire;
  if (!encodeBy(ASN1::CoderEnv::ber, first, wire)) return;

  PT::Top second;
  if (!decodeBy(ASN1::CoderEnv::ber, wire.data(), wire.data() + wire.size(), second) || second != first) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* begin = reinterpret_cast<const char*>(data);
  perRoundTrip(begin, begin + size);
  berRoundTrip(begin, begin + size);
  PT::Top text;
  (void)decodeBy(ASN1::CoderEnv::avn, begin, begin + size, text);
  return 0;
}
