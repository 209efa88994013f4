// Every message type also goes through value notation and BER and comes
// back equal, and the sample values keep their constraints.

#include "messages/tests/sample_filler.h"

#include "messages/LGCP.h"
#include "messages/MON.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

::testing::AssertionResult textAndBerRoundTrip(const ASN1::AbstractData::InfoType& root) {
  std::vector<const ASN1::AbstractData::InfoType*> records;
  SampleFiller::collect(root, records);
  ASN1::CoderEnv ber;
  ber.set_encodingRule(ASN1::CoderEnv::ber);
  for (const ASN1::AbstractData::InfoType* info : records) {
    const unsigned variants = 2 * std::max(SampleFiller::variantsOf(*info), SampleFiller::widestChoice(*info));
    for (unsigned v = 0; v < variants; ++v) {
      const std::unique_ptr<ASN1::AbstractData> value = SampleFiller::make(*info, v);
      const std::string text = value->asValueNotation();
      std::ostringstream invalid;
      if (!ASN1::trace_invalid(invalid, "invalid sample", *value))
        return ::testing::AssertionFailure() << invalid.str();

      std::unique_ptr<ASN1::AbstractData> read(ASN1::AbstractData::create(info));
      if (!read->setFromValueNotation(text) || read->asValueNotation() != text || *read != *value)
        return ::testing::AssertionFailure() << "value notation does not read back: " << text;

      std::vector<char> octets;
      std::unique_ptr<ASN1::AbstractData> decoded(ASN1::AbstractData::create(info));
      if (!ASN1::encode(*value, &ber, std::back_inserter(octets)) ||
          !ASN1::decode(octets.data(), octets.data() + octets.size(), &ber, *decoded, true) || *decoded != *value)
        return ::testing::AssertionFailure() << "BER does not decode back: " << text << "\n"
                                             << SampleFiller::hex(octets);
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(TextAndBer, EveryControllerAndAgentMessageTypeComesBack) {
  EXPECT_TRUE(textAndBerRoundTrip(LGCP::Message::theInfo));
  EXPECT_TRUE(textAndBerRoundTrip(MON::Message::theInfo));
}

}  // namespace
