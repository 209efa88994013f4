#pragma once
// Builds populated values of any message type by walking its type records,
// so that round trips reach every field, alternative and enumerator without a
// hand-written sample per type.
//
// Variant v of a type: every CHOICE on the way selects alternative v modulo
// its total count (extension alternatives included), optional fields are all
// present for even v and all absent for odd v, lists hold v modulo 3
// elements, and scalars take values that vary with v and stay inside their
// constraints.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "asn1/coder_env.h"

namespace SampleFiller {

inline int enumValue(const ASN1::ENUMERATED::InfoType& info, unsigned variant) {
  // Names table entries in declaration order; a value is the previous plus
  // one unless the entry carries "=value".
  std::vector<int> values;
  int next = 0;
  for (unsigned i = 0; i < info.nameCount; ++i) {
    std::string entry = info.names[i];
    std::string::size_type eq = entry.find('=');
    int value = eq == std::string::npos ? next : std::stoi(entry.substr(eq + 1));
    if (value >= 0 && value <= info.maximum) values.push_back(value);
    next = value + 1;
  }
  return values.empty() ? 0 : values[variant % values.size()];
}

inline void fill(ASN1::AbstractData& value, unsigned variant, unsigned depth = 0);

inline void fillSequence(ASN1::SEQUENCE& seq, unsigned variant, unsigned depth) {
  for (unsigned i = 0; i < seq.numFields(); ++i) {
    int bit = seq.getFieldId(i);
    if (bit >= 0) {
      if (variant % 2 != 0) continue;
      seq.includeOptionalField(static_cast<unsigned>(bit), i);
    }
    ASN1::AbstractData* field = seq.getOrCreateField(i);
    if (field != nullptr) fill(*field, variant + i, depth + 1);
  }
}

inline void fillChoice(ASN1::CHOICE& choice, unsigned variant, unsigned depth) {
  unsigned total = choice.getTotalChoices();
  if (total == 0) return;
  int id = static_cast<int>(variant % total);
  const ASN1::AbstractData::InfoType* alt = choice.info()->selectionInfos[id];
  ASN1::AbstractData* made = choice.setSelection(id, ASN1::AbstractData::create(alt));
  fill(*made, variant, depth + 1);
}

inline void fillInteger(ASN1::INTEGER& integer, unsigned variant) {
  if (integer.getConstraintType() == ASN1::FixedConstraint) {
    std::int64_t lb = integer.getLowerLimit();
    std::int64_t ub = lb < 0 ? static_cast<std::int32_t>(integer.getUpperLimit())
                             : static_cast<std::int64_t>(integer.getUpperLimit());
    std::int64_t picks[] = {ub, lb, lb + (ub - lb) / 2};
    integer.setValue(static_cast<int>(picks[variant % 3]));
    return;
  }
  const int picks[] = {-129, 0, 127, 128, 70000, -2147483647 - 1, 2147483647};
  integer.setValue(picks[variant % (sizeof picks / sizeof picks[0])]);
}

inline void fill(ASN1::AbstractData& value, unsigned variant, unsigned depth) {
  if (depth > 24) return;
  if (auto* seq = dynamic_cast<ASN1::SEQUENCE*>(&value)) {
    fillSequence(*seq, variant, depth);
  } else if (auto* choice = dynamic_cast<ASN1::CHOICE*>(&value)) {
    fillChoice(*choice, variant, depth);
  } else if (auto* list = dynamic_cast<ASN1::SEQUENCE_OF_Base*>(&value)) {
    const ASN1::AbstractData::InfoType* element = list->info()->elementInfo;
    for (unsigned i = 0; i < variant % 3; ++i) {
      std::unique_ptr<ASN1::AbstractData> item(ASN1::AbstractData::create(element));
      fill(*item, variant + i + 1, depth + 1);
      list->push_back(item.release());
    }
  } else if (auto* enumerated = dynamic_cast<ASN1::ENUMERATED*>(&value)) {
    enumerated->setFromInt(enumValue(*enumerated->info(), variant));
  } else if (auto* integer = dynamic_cast<ASN1::INTEGER*>(&value)) {
    fillInteger(*integer, variant);
  } else if (auto* boolean = dynamic_cast<ASN1::BOOLEAN*>(&value)) {
    *boolean = variant % 2 == 0;
  } else if (auto* text = dynamic_cast<ASN1::AbstractString*>(&value)) {
    const char* picks[] = {"10.0.0.1", "x", "radio-7 ~ 118.000"};
    text->assign(std::string(picks[variant % 3]));
  } else if (auto* octets = dynamic_cast<ASN1::OCTET_STRING*>(&value)) {
    octets->assign(variant % 4 + 1, static_cast<char>(0xA5));
  }
}

// A new value of the record's type, filled as variant v.
inline std::unique_ptr<ASN1::AbstractData> make(const ASN1::AbstractData::InfoType& info, unsigned variant) {
  std::unique_ptr<ASN1::AbstractData> value(ASN1::AbstractData::create(&info));
  fill(*value, variant);
  return value;
}

// The largest total alternative count of any CHOICE reachable from the record:
// that many variants select every alternative of every CHOICE at least once.
inline unsigned widestChoice(const ASN1::AbstractData::InfoType& info, unsigned depth = 0) {
  if (depth > 24) return 1;
  std::unique_ptr<ASN1::AbstractData> probe(ASN1::AbstractData::create(&info));
  unsigned widest = 1;
  if (auto* seq = dynamic_cast<ASN1::SEQUENCE*>(probe.get())) {
    for (unsigned i = 0; i < seq->numFields() + seq->knownExtensions(); ++i) {
      unsigned w = widestChoice(*seq->info()->fieldInfos[i], depth + 1);
      if (w > widest) widest = w;
    }
  } else if (auto* choice = dynamic_cast<ASN1::CHOICE*>(probe.get())) {
    widest = choice->getTotalChoices();
    for (unsigned i = 0; i < choice->getTotalChoices(); ++i) {
      unsigned w = widestChoice(*choice->info()->selectionInfos[i], depth + 1);
      if (w > widest) widest = w;
    }
  } else if (auto* list = dynamic_cast<ASN1::SEQUENCE_OF_Base*>(probe.get())) {
    widest = widestChoice(*list->info()->elementInfo, depth + 1);
  }
  return widest;
}

// Every record reachable from root, each once, in walk order.
inline void collect(const ASN1::AbstractData::InfoType& root, std::vector<const ASN1::AbstractData::InfoType*>& seen) {
  for (const ASN1::AbstractData::InfoType* s : seen)
    if (s == &root) return;
  seen.push_back(&root);
  std::unique_ptr<ASN1::AbstractData> probe(ASN1::AbstractData::create(&root));
  if (auto* seq = dynamic_cast<ASN1::SEQUENCE*>(probe.get())) {
    for (unsigned i = 0; i < seq->numFields() + seq->knownExtensions(); ++i) collect(*seq->info()->fieldInfos[i], seen);
  } else if (auto* choice = dynamic_cast<ASN1::CHOICE*>(probe.get())) {
    for (unsigned i = 0; i < choice->getTotalChoices(); ++i) collect(*choice->info()->selectionInfos[i], seen);
  } else if (auto* list = dynamic_cast<ASN1::SEQUENCE_OF_Base*>(probe.get())) {
    collect(*list->info()->elementInfo, seen);
  }
}

// How many variants reach every alternative or enumerator of the type itself,
// and both presence patterns of its optional fields.
inline unsigned variantsOf(const ASN1::AbstractData::InfoType& info) {
  std::unique_ptr<ASN1::AbstractData> probe(ASN1::AbstractData::create(&info));
  unsigned n = 2;
  if (auto* choice = dynamic_cast<ASN1::CHOICE*>(probe.get())) n = std::max(n, choice->getTotalChoices());
  if (auto* enumerated = dynamic_cast<ASN1::ENUMERATED*>(probe.get())) n = std::max(n, enumerated->info()->nameCount);
  return n;
}

inline bool encodePer(const ASN1::AbstractData& value, std::vector<char>& out) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  return ASN1::encode(value, &env, std::back_inserter(out));
}

inline bool decodePer(const std::vector<char>& in, ASN1::AbstractData& value) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  return ASN1::decode(in.data(), in.data() + in.size(), &env, value, true);
}

inline std::vector<char> octets(std::initializer_list<int> list) {
  std::vector<char> out;
  for (int o : list) out.push_back(static_cast<char>(static_cast<unsigned char>(o)));
  return out;
}

inline std::string hex(const std::vector<char>& octets) {
  std::string text;
  char buf[4];
  for (char c : octets) {
    std::snprintf(buf, sizeof buf, "%02X ", static_cast<unsigned>(static_cast<unsigned char>(c)));
    text += buf;
  }
  return text;
}

// Encodes, decodes into a fresh value of the same type, compares and encodes
// again, for every variant of every type reachable from root.
inline ::testing::AssertionResult roundTripsEverything(const ASN1::AbstractData::InfoType& root,
                                                       unsigned* types = nullptr) {
  std::vector<const ASN1::AbstractData::InfoType*> records;
  collect(root, records);
  if (types != nullptr) *types = 0;
  for (std::size_t r = 0; r < records.size(); ++r) {
    const ASN1::AbstractData::InfoType& info = *records[r];
    std::unique_ptr<ASN1::AbstractData> probe(ASN1::AbstractData::create(&info));
    bool constructed = dynamic_cast<ASN1::SEQUENCE*>(probe.get()) != nullptr ||
                       dynamic_cast<ASN1::CHOICE*>(probe.get()) != nullptr ||
                       dynamic_cast<ASN1::ENUMERATED*>(probe.get()) != nullptr;
    if (!constructed) continue;
    if (types != nullptr) ++*types;
    for (unsigned v = 0; v < variantsOf(info); ++v) {
      std::unique_ptr<ASN1::AbstractData> sample = make(info, v);
      std::vector<char> first;
      if (!encodePer(*sample, first))
        return ::testing::AssertionFailure() << "record " << r << " variant " << v << " does not encode";
      std::unique_ptr<ASN1::AbstractData> back(ASN1::AbstractData::create(&info));
      if (!decodePer(first, *back))
        return ::testing::AssertionFailure()
               << "record " << r << " variant " << v << " does not decode: " << hex(first);
      if (*back != *sample)
        return ::testing::AssertionFailure()
               << "record " << r << " variant " << v << " differs after decoding " << hex(first);
      std::vector<char> second;
      if (!encodePer(*back, second) || second != first)
        return ::testing::AssertionFailure()
               << "record " << r << " variant " << v << " re-encodes as " << hex(second) << "instead of " << hex(first);
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace SampleFiller
