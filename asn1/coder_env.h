#pragma once
// The one entry point that turns values into octets and back: the encoding
// rule picks the coder. ASN1::encode and ASN1::decode forward to it.

#include "asn1/value.h"

#include <loki/AssocVector.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace ASN1 {

class Module;

class CoderEnv {
public:
  enum EncodingRules : std::int32_t {
    avn = 0,  // value notation text
    ber = 1,
    per = 2  // aligned PER, the wire of the controller and monitoring links
  };

  struct StringListeralCmp {
    typedef const char* first_argument_type;
    typedef const char* second_argument_type;
    typedef bool result_type;
    bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) < 0; }
  };
  // Modules by name; the environment does not own them.
  typedef Loki::AssocVector<const char*, Module*, StringListeralCmp> ModuleRegistry;

  CoderEnv() : rule_(static_cast<EncodingRules>(-1)) {}

  void set_encodingRule(EncodingRules rule) { rule_ = rule; }
  EncodingRules get_encodingRule() const { return rule_; }

  void registerModule(const char* name, Module* module) { modules_[name] = module; }
  Module* findModule(const char* name) const {
    ModuleRegistry::const_iterator it = modules_.find(name);
    return it == modules_.end() ? nullptr : it->second;
  }

  // On failure nothing reaches out.
  template <class OutputIterator>
  bool encode(const AbstractData& value, OutputIterator out) {
    switch (rule_) {
      case per:
        return encodePER(value, out);
      case ber:
        return encodeBER(value, out);
      case avn:
        return encodeAVN(value, out);
      default:
        return false;
    }
  }
  template <class OutputIterator>
  bool encodePER(const AbstractData& value, OutputIterator out) {
    Scratch scratch;
    if (!encodePERTo(value, scratch.octets())) return false;
    std::copy(scratch.octets().begin(), scratch.octets().end(), out);
    return true;
  }
  template <class OutputIterator>
  bool encodeBER(const AbstractData& value, OutputIterator out) {
    return copyOut(encodeBER(value), out);
  }
  template <class OutputIterator>
  bool encodeAVN(const AbstractData& value, OutputIterator out) {
    return copyOut(encodeAVN(value), out);
  }

  // Octets after a complete value are left unread and do not fail it.
  // withoutEnv hands the coder a null environment.
  bool decode(const char* begin, const char* end, AbstractData& value, bool withoutEnv = true);

private:
  struct Encoded {
    bool ok;
    std::vector<char> octets;
  };
  // The thread's encoding buffer, reused from one encoding to the next so
  // that a message costs no allocation; an encoding started while it is
  // lent out gets one of its own.
  class Scratch {
  public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    std::vector<char>& octets() { return *octets_; }

  private:
    std::vector<char>* octets_;
    std::vector<char> own_;
  };

  Encoded encodePER(const AbstractData& value);
  bool encodePERTo(const AbstractData& value, std::vector<char>& octets);
  Encoded encodeBER(const AbstractData& value);
  Encoded encodeAVN(const AbstractData& value);

  template <class OutputIterator>
  static bool copyOut(const Encoded& e, OutputIterator out) {
    if (!e.ok) return false;
    std::copy(e.octets.begin(), e.octets.end(), out);
    return true;
  }

  EncodingRules rule_;
  ModuleRegistry modules_;
};

template <class OutputIterator>
bool encode(const AbstractData& value, CoderEnv* env, OutputIterator out) {
  return env != nullptr && env->encode(value, out);
}

inline bool decode(const char* begin, const char* end, CoderEnv* env, AbstractData& value, bool withoutEnv = true) {
  return env != nullptr && env->decode(begin, end, value, withoutEnv);
}

}  // namespace ASN1
