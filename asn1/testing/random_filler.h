#pragma once
// Fills a value with random contents that keep its type's constraints, led
// by the type records alone: every choice, optional field, length and number
// is drawn inside the root of its constraint. Used to make sample data for
// the coders' benchmarks. Check the result (isValid) before use all the
// same: the filler knows nothing of constraints that no record carries.

#include "asn1/constructed.h"
#include "asn1/strings.h"
#include "asn1/visitor.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace ASN1 {

class RandomFiller : public Visitor {
public:
  struct Odds {
    double optional = 0.4;   // an optional root field is present
    double extension = 0.1;  // a value carries its known extensions
    unsigned maxList = 3;    // elements of a list beyond its lower bound
    unsigned maxString = 8;  // characters or octets beyond the lower bound
    unsigned maxDepth = 12;  // nesting beyond which lists stay short
  };

  explicit RandomFiller(std::uint32_t seed) : rng_(seed) {}
  RandomFiller(std::uint32_t seed, const Odds& odds) : rng_(seed), odds_(odds) {}

  bool fill(AbstractData& v) {
    depth_ = 0;
    return v.accept(*this);
  }

protected:
  bool do_visit(Null&) override { return true; }
  bool do_visit(BOOLEAN& v) override {
    v = coin(0.5);
    return true;
  }
  bool do_visit(INTEGER& v) override {
    const std::int64_t lo = v.getLowerLimit();
    switch (v.getConstraintType()) {
      case FixedConstraint:
      case ExtendableConstraint: {
        const std::int64_t hi =
            lo < 0 ? std::int64_t(std::int32_t(v.getUpperLimit())) : std::int64_t(v.getUpperLimit());
        // Small values are the common case on the wire; draw them often.
        std::int64_t top = hi;
        if (coin(0.7) && hi - lo > 300) top = lo + 300;
        v.setValue(static_cast<int>(static_cast<std::uint32_t>(between(lo, top))));
        return true;
      }
      case PartiallyConstrained:
        v.setValue(static_cast<int>(lo + between(0, coin(0.8) ? 200 : 100000)));
        return true;
      default:
        v.setValue(static_cast<int>(between(coin(0.8) ? -10 : -100000, coin(0.8) ? 500 : 100000)));
        return true;
    }
  }
  bool do_visit(ENUMERATED& v) override {
    const ENUMERATED::InfoType* info = v.info();
    if (info->names == nullptr || info->nameCount == 0) {
      v.setFromInt(int(between(0, info->maximum)));
      return true;
    }
    const char* entry = info->names[between(0, info->nameCount - 1)];
    return entry != nullptr && v.setFromName(ENUMERATED::entryName(entry));
  }
  bool do_visit(OBJECT_IDENTIFIER& v) override {
    std::vector<unsigned> arcs{unsigned(between(0, 2)), unsigned(between(0, 39))};
    for (std::int64_t n = between(0, 4); n > 0; --n) arcs.push_back(unsigned(between(0, 100000)));
    v.assign(arcs);
    return true;
  }
  bool do_visit(OCTET_STRING& v) override {
    v.resize(length(v));
    for (char& c : v) c = static_cast<char>(between(0, 255));
    return true;
  }
  bool do_visit(BIT_STRING& v) override {
    const unsigned n = length(v);
    v.resize(n);
    for (unsigned i = 0; i < n; ++i) v.set(i, coin(0.5));
    return true;
  }
  bool do_visit(AbstractString& v) override {
    const unsigned n = length(v);
    std::string text(n, ' ');
    const char* set = v.getCharacterSet();
    const unsigned size = v.getCharacterSetSize();
    for (char& c : text) c = set != nullptr && size > 0 ? set[between(0, size - 1)] : char(between(0x20, 0x7E));
    v.assign(text);
    return true;
  }
  bool do_visit(BMPString& v) override {
    const unsigned n = length(v);
    std::wstring text(n, L' ');
    for (wchar_t& c : text) c = static_cast<wchar_t>(between(0x20, 0x7E));
    static_cast<std::wstring&>(v) = text;
    return true;
  }
  bool do_visit(CHOICE& v) override {
    if (v.getNumChoices() == 0) return false;
    if (!v.select(int(between(0, v.getNumChoices() - 1)))) return false;
    return nested(*v.getSelection());
  }
  bool do_visit(SEQUENCE_OF_Base& v) override {
    unsigned lo = 0;
    unsigned hi = odds_.maxList;
    if (v.getConstraintType() == FixedConstraint || v.getConstraintType() == ExtendableConstraint) {
      lo = unsigned(v.getLowerLimit());
      hi = std::min<std::uint64_t>(v.getUpperLimit(), lo + odds_.maxList);
    } else if (v.getConstraintType() == PartiallyConstrained) {
      lo = unsigned(v.getLowerLimit());
      hi = lo + odds_.maxList;
    }
    if (depth_ > odds_.maxDepth) hi = lo;
    v.resize(between(lo, hi));
    for (AbstractData* e : v)
      if (!nested(*e)) return false;
    return true;
  }
  // Octets of no known type: held as they are.
  bool do_visit(OpenData& v) override {
    std::vector<char>* octets = new std::vector<char>(std::size_t(between(1, 8)));
    for (char& c : *octets) c = static_cast<char>(between(0, 255));
    v.grab(octets);
    return true;
  }
  bool do_revisit(OpenData&) override { return true; }
  bool do_visit(TypeConstrainedOpenData& v) override {
    if (!v.has_data()) {
      AbstractData* made = AbstractData::create(v.info()->typeInfo);
      if (made == nullptr) return false;
      v.set_data(made);
    }
    return nested(v.get_data());
  }
  bool do_visit(GeneralizedTime& v) override { return v.set("20261207065700.5Z") >= 0; }

  int preVisitExtensionRoots(SEQUENCE& seq) override {
    for (unsigned bit = 0; bit < seq.numOptional(); ++bit) seq.removeOptionalField(bit);
    if (seq.knownExtensions() > 0 && coin(odds_.extension)) return CONTINUE;
    seq.extensionMap().resize(0);
    return NO_EXTENSION;
  }
  int visitExtensionRoot(SEQUENCE& seq, int index, int optionalBit) override {
    if (optionalBit >= 0) {
      if (depth_ > odds_.maxDepth || !coin(odds_.optional)) return CONTINUE;
      seq.includeOptionalField(unsigned(optionalBit), unsigned(index));
    }
    AbstractData* field = seq.getOrCreateField(unsigned(index));
    return field != nullptr && nested(*field) ? CONTINUE : FAIL;
  }
  int preVisitExtensions(SEQUENCE& seq) override {
    seq.extensionMap().resize(seq.knownExtensions());
    return CONTINUE;
  }
  int visitKnownExtension(SEQUENCE& seq, int index, int bit) override {
    if (!coin(0.5)) return CONTINUE;
    seq.includeOptionalField(unsigned(bit), unsigned(index));
    AbstractData* field = seq.getOrCreateField(unsigned(index));
    return field != nullptr && nested(*field) ? CONTINUE : FAIL;
  }

private:
  bool coin(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
  std::int64_t between(std::int64_t lo, std::int64_t hi) {
    return hi <= lo ? lo : std::uniform_int_distribution<std::int64_t>(lo, hi)(rng_);
  }
  unsigned length(const ConstrainedObject& v) {
    std::uint64_t lo = 0;
    std::uint64_t hi = odds_.maxString;
    if (v.getConstraintType() == FixedConstraint || v.getConstraintType() == ExtendableConstraint) {
      lo = std::uint64_t(v.getLowerLimit());
      hi = std::min<std::uint64_t>(v.getUpperLimit(), lo + odds_.maxString);
    } else if (v.getConstraintType() == PartiallyConstrained) {
      lo = std::uint64_t(v.getLowerLimit());
      hi = lo + odds_.maxString;
    }
    return unsigned(between(std::int64_t(lo), std::int64_t(hi)));
  }
  bool nested(AbstractData& v) {
    ++depth_;
    const bool ok = v.accept(*this);
    --depth_;
    return ok;
  }

  std::mt19937 rng_;
  Odds odds_;
  unsigned depth_ = 0;
};

}  // namespace ASN1
