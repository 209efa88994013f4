#include "asn1/coder_env.h"

#include "asn1/avn_decoder.h"
#include "asn1/avn_encoder.h"
#include "asn1/ber.h"
#include "asn1/per_decoder.h"
#include "asn1/per_encoder.h"

#include <sstream>

namespace ASN1 {

CoderEnv::Encoded CoderEnv::encodePER(const AbstractData& value) {
  Encoded e;
  PEREncoder encoder(e.octets, true);
  e.ok = value.accept(encoder);
  return e;
}

CoderEnv::Encoded CoderEnv::encodeBER(const AbstractData& value) {
  Encoded e;
  BEREncoder encoder(e.octets);
  e.ok = value.accept(encoder);
  return e;
}

CoderEnv::Encoded CoderEnv::encodeAVN(const AbstractData& value) {
  Encoded e;
  std::ostringstream text;
  AVNEncoder writer(text);
  e.ok = value.accept(writer) && text.good();
  if (e.ok) {
    const std::string s = text.str();
    e.octets.assign(s.begin(), s.end());
  }
  return e;
}

bool CoderEnv::decode(const char* begin, const char* end, AbstractData& value, bool withoutEnv) {
  if ((begin == nullptr) != (end == nullptr) || end < begin) return false;
  switch (rule_) {
    case per: {
      PERDecoder decoder(begin, end, withoutEnv ? nullptr : this, true);
      return value.accept(decoder);
    }
    case ber: {
      BERDecoder decoder(begin, end, withoutEnv ? nullptr : this);
      return value.accept(decoder);
    }
    case avn: {
      // The reader never gets an environment.
      std::istringstream text(std::string(begin, end));
      AVNDecoder reader(text);
      return value.accept(reader);
    }
    default:
      return false;
  }
}

}  // namespace ASN1
