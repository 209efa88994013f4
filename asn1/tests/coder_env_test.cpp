#include "asn1/testing/per_schema.h"
#include "asn1/tests/coder_test_util.h"

#include <gtest/gtest.h>

#include <iterator>

namespace {

using namespace coder_test;

ASN1::CoderEnv envFor(int rule) {
  ASN1::CoderEnv env;
  env.set_encodingRule(static_cast<ASN1::CoderEnv::EncodingRules>(rule));
  return env;
}

TEST(CoderEnv, RuleIsStored) {
  ASN1::CoderEnv env = envFor(ASN1::CoderEnv::per);
  EXPECT_EQ(env.get_encodingRule(), ASN1::CoderEnv::per);
}

TEST(CoderEnv, UnknownRuleFailsBothWaysWithoutTouchingAnything) {
  ASN1::CoderEnv env = envFor(3);
  std::vector<char> out{'x'};
  EXPECT_FALSE(ASN1::encode(ASN1::INTEGER(1), &env, std::back_inserter(out)));
  EXPECT_EQ(out, std::vector<char>{'x'});
  const std::vector<char> in = bytesOf("01 05");
  ASN1::INTEGER v(9);
  EXPECT_FALSE(ASN1::decode(in.data(), in.data() + in.size(), &env, v, true));
  EXPECT_EQ(v.getValue(), 9);
  EXPECT_FALSE(ASN1::encode(ASN1::INTEGER(1), static_cast<ASN1::CoderEnv*>(nullptr), std::back_inserter(out)));
}

TEST(CoderEnv, FailedEncodingLeavesTheCallersVectorAsItWas) {
  ASN1::CoderEnv env = envFor(ASN1::CoderEnv::per);
  std::vector<char> out{'\x12', '\x34'};
  ASN1::SEQUENCE_OF_Base slots(&ASN1::SEQUENCE_OF<PT::Slot>::theInfo);
  slots.push_back(new PT::Slot(7));
  slots.push_back(new PT::Slot(4000));
  EXPECT_FALSE(ASN1::encode(slots, &env, std::back_inserter(out)));
  EXPECT_EQ(hexOf(out), "12 34");
  EXPECT_TRUE(ASN1::encode(ASN1::INTEGER(5), &env, std::back_inserter(out)));
  EXPECT_EQ(hexOf(out), "12 34 01 05");
}

TEST(CoderEnv, EmptyInputAndEmptyEncodings) {
  ASN1::CoderEnv env = envFor(ASN1::CoderEnv::per);
  ASN1::Null null;
  ASN1::BOOLEAN flag;
  const char* none = nullptr;
  EXPECT_TRUE(ASN1::decode(none, none, &env, null, true));
  EXPECT_FALSE(ASN1::decode(none, none, &env, flag, true));
  std::vector<char> out;
  EXPECT_TRUE(ASN1::encode(null, &env, std::back_inserter(out)));
  EXPECT_TRUE(out.empty());
}

TEST(CoderEnv, ExtraOctetsAfterTheValueAreIgnored) {
  ASN1::CoderEnv env = envFor(ASN1::CoderEnv::per);
  const std::vector<char> in = bytesOf("01 05 99 99");
  ASN1::INTEGER v;
  EXPECT_TRUE(env.decode(in.data(), in.data() + in.size(), v, false));
  EXPECT_EQ(v.getValue(), 5);
}

TEST(CoderEnv, ValueNotationRuleWritesText) {
  ASN1::CoderEnv avn = envFor(ASN1::CoderEnv::avn);
  std::vector<char> out;
  EXPECT_TRUE(ASN1::encode(ASN1::BOOLEAN(true), &avn, std::back_inserter(out)));
  EXPECT_EQ(std::string(out.begin(), out.end()), "TRUE");
  EXPECT_FALSE(ASN1::encode(ASN1::CHOICE(&PT::Body::theInfo), &avn, std::back_inserter(out)));
  EXPECT_EQ(std::string(out.begin(), out.end()), "TRUE");
}

TEST(CoderEnv, ModuleRegistryComparesNamesByText) {
  ASN1::CoderEnv env;
  // Any address will do: the registry never looks behind it.
  ASN1::Module* const lgcp = reinterpret_cast<ASN1::Module*>(&env);
  char name[] = "LGCP";
  env.registerModule(name, lgcp);
  EXPECT_EQ(env.findModule("LGCP"), lgcp);
  EXPECT_EQ(env.findModule("MON"), nullptr);
}

}  // namespace
