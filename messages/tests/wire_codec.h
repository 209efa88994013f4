#pragma once
// Aligned PER and value-notation helpers of the message wire tests: octets as
// unsigned bytes, written and compared as hex text ("06 00").

#include <cstdint>
#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "asn1/coder_env.h"

namespace WireCodec {

using Octets = std::vector<std::uint8_t>;

inline std::optional<Octets> encode(const ASN1::AbstractData& value) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> out;
  if (!ASN1::encode(value, &env, std::back_inserter(out))) return std::nullopt;
  Octets octets;
  for (char c : out) octets.push_back(static_cast<std::uint8_t>(c));
  return octets;
}

inline bool decode(const Octets& octets, ASN1::AbstractData& value) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> in(octets.begin(), octets.end());
  return ASN1::decode(in.data(), in.data() + in.size(), &env, value, true);
}

inline std::string hex(const Octets& octets) {
  std::string text;
  char buf[4];
  for (std::uint8_t b : octets) {
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(b));
    if (!text.empty()) text += ' ';
    text += buf;
  }
  return text;
}

inline Octets octets(const std::string& hexText) {
  Octets out;
  std::istringstream is(hexText);
  std::string pair;
  while (is >> pair) out.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
  return out;
}

// Hex of the encoding, or "encoding failed".
inline std::string encodedHex(const ASN1::AbstractData& value) {
  std::optional<Octets> o = encode(value);
  return o ? hex(*o) : std::string("encoding failed");
}

inline std::string notation(const ASN1::AbstractData& value) {
  std::ostringstream os;
  value.print_on(os);
  return os.str();
}

// A fresh value of the same type as the given one.
inline std::unique_ptr<ASN1::AbstractData> blankLike(const ASN1::AbstractData& value) {
  return std::unique_ptr<ASN1::AbstractData>(ASN1::AbstractData::create(value.info()));
}

using Value = std::unique_ptr<ASN1::AbstractData>;

template <class T, class Fill>
Value make(Fill fill) {
  auto v = std::make_unique<T>();
  fill(*v);
  return v;
}

// A value and its expected octets, for table-driven wire tests.
struct WireCase {
  const char* name;
  std::function<Value()> build;
  const char* hex;
};

inline std::ostream& operator<<(std::ostream& os, const WireCase& c) { return os << c.name; }

// The value encodes to exactly the octets, and the octets decode to an equal value.
inline void expectWire(const WireCase& c) {
  Value value = c.build();
  EXPECT_EQ(encodedHex(*value), c.hex);

  Value decoded = blankLike(*value);
  ASSERT_TRUE(decode(octets(c.hex), *decoded));
  EXPECT_TRUE(*decoded == *value) << notation(*decoded);
}

}  // namespace WireCodec
