#include "asn1/coder_env.h"

#include "asn1/avn_decoder.h"
#include "asn1/avn_encoder.h"
#include "asn1/ber.h"
#include "asn1/per_decoder.h"
#include "asn1/per_encoder.h"

#include <sstream>

namespace ASN1 {

namespace {
thread_local std::vector<char> scratchOctets;
thread_local bool scratchLent = false;
// A rare large message does not pin its buffer for good.
const std::size_t kScratchKept = 65536;
}  // namespace

CoderEnv::Scratch::Scratch() : octets_(&own_) {
  if (!scratchLent) {
    scratchLent = true;
    octets_ = &scratchOctets;
  }
}

CoderEnv::Scratch::~Scratch() {
  if (octets_ != &scratchOctets) return;
  if (scratchOctets.capacity() > kScratchKept) std::vector<char>().swap(scratchOctets);
  scratchLent = false;
}

CoderEnv::Encoded CoderEnv::encodePER(const AbstractData& value) {
  Encoded e;
  e.ok = encodePERTo(value, e.octets);
  return e;
}

bool CoderEnv::encodePERTo(const AbstractData& value, std::vector<char>& octets) {
  PEREncoder encoder(octets, true);
  return value.accept(encoder);
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
