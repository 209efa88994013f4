// Decodes arbitrary octets as a controller message and as a CCP message.
// What decodes and re-encodes must decode again to an equal value with the
// same octets, and every decoded value must print.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <sstream>
#include <vector>

#include "asn1/coder_env.h"
#include "messages/CCP.h"
#include "messages/LGCP.h"

namespace {

bool encodePER(const ASN1::AbstractData& value, std::vector<char>& out) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  return ASN1::encode(value, &env, std::back_inserter(out));
}

bool decodePER(const std::vector<char>& in, ASN1::AbstractData& value) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  return ASN1::decode(in.data(), in.data() + in.size(), &env, value, true);
}

template <class Message>
void check(const std::vector<char>& input) {
  Message msg;
  bool decoded = decodePER(input, msg);
  // Traces print whatever arrived, also a value that failed half way.
  std::ostringstream trace;
  trace << msg;
  if (!decoded) return;
  // Values that only a decoder makes (an unknown alternative, a number past
  // its range) are refused by the encoder; that is no fault.
  std::vector<char> first;
  if (!encodePER(msg, first)) return;
  Message again;
  if (!decodePER(first, again)) std::abort();
  if (again != msg) std::abort();
  std::unique_ptr<ASN1::AbstractData> copy(again.clone());
  if (*copy != msg) std::abort();
  std::vector<char> second;
  if (!encodePER(again, second) || second != first) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<char> input(data, data + size);
  check<LGCP::Message>(input);
  check<CCP::Message>(input);
  return 0;
}
