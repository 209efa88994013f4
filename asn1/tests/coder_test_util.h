#pragma once
// Hex helpers and one-call PER coding for the coder tests.

#include "asn1/asn1.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace coder_test {

inline std::string hexOf(const std::vector<char>& octets) {
  std::string text;
  char buf[4];
  for (std::size_t i = 0; i < octets.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", unsigned(static_cast<unsigned char>(octets[i])));
    text += buf;
  }
  return text;
}

inline std::vector<char> bytesOf(const std::string& hex) {
  std::vector<char> octets;
  std::istringstream in(hex);
  std::string token;
  while (in >> token) octets.push_back(static_cast<char>(std::strtoul(token.c_str(), nullptr, 16)));
  return octets;
}

inline bool perEncode(const ASN1::AbstractData& value, std::vector<char>& out) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  return ASN1::encode(value, &env, std::back_inserter(out));
}

// The encoding in hex, or "FAILED".
inline std::string perHex(const ASN1::AbstractData& value) {
  std::vector<char> out;
  if (!perEncode(value, out)) return "FAILED";
  return hexOf(out);
}

inline bool perDecodeBytes(const std::vector<char>& octets, ASN1::AbstractData& value) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  return ASN1::decode(octets.data(), octets.data() + octets.size(), &env, value, true);
}

inline bool perDecode(const std::string& hex, ASN1::AbstractData& value) { return perDecodeBytes(bytesOf(hex), value); }

template <class T>
T& field(ASN1::SEQUENCE& seq, unsigned index) {
  return dynamic_cast<T&>(*seq.getOrCreateField(index));
}

template <class T>
T& include(ASN1::SEQUENCE& seq, unsigned bit, unsigned index) {
  seq.includeOptionalField(bit, index);
  return dynamic_cast<T&>(*seq.getField(index));
}

template <class T>
T& choose(ASN1::CHOICE& choice, int index) {
  EXPECT_TRUE(choice.select(index));
  return dynamic_cast<T&>(*choice.getSelection());
}

}  // namespace coder_test
