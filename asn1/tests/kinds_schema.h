#pragma once
// A test type with a field of every kind of value, built on the small test
// module of test_schema.h.

#include "asn1/tests/test_schema.h"

#include <cstdint>
#include <string>
#include <vector>

namespace KS {

typedef ASN1::SEQUENCE_OF<ASN1::INTEGER> Numbers;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u> Unsigned32;

// NumericString (SIZE (1..8))
inline const ASN1::AbstractString::InfoType Digits = {
    &ASN1::AbstractString::create, 18, ASN1::FixedConstraint, 1, 8, " 0123456789", 11, 4, 4, 4};

// SEQUENCE {
//   nothing NULL, flag BOOLEAN, number INTEGER, colour Colour,
//   cause ErrorCause OPTIONAL, oid OBJECT IDENTIFIER, bits BIT STRING,
//   octets OCTET STRING OPTIONAL, text IA5String, digits Digits OPTIONAL,
//   wide BMPString OPTIONAL, when GeneralizedTime OPTIONAL, pdu Pdu OPTIONAL,
//   numbers SEQUENCE OF INTEGER OPTIONAL, inner Message OPTIONAL,
//   big INTEGER (0..4294967295) OPTIONAL, ...,
//   late ErrorCause, blob OCTET STRING, params Params }
class Everything : public ASN1::SEQUENCE {
public:
  enum Field {
    nothing,
    flag,
    number,
    colour,
    cause,
    oid,
    bits,
    octets,
    text,
    digits,
    wide,
    when,
    pdu,
    numbers,
    inner,
    big,
    late,
    blob,
    params
  };
  static inline const ASN1::AbstractData::InfoType* const fieldInfos[19] = {
      &ASN1::Null::theInfo,       &ASN1::BOOLEAN::theInfo,
      &ASN1::INTEGER::theInfo,    &TS::Colour::theInfo,
      &TS::ErrorCause::theInfo,   &ASN1::OBJECT_IDENTIFIER::theInfo,
      &ASN1::BIT_STRING::theInfo, &ASN1::OCTET_STRING::theInfo,
      &ASN1::IA5String::theInfo,  &Digits,
      &ASN1::BMPString::theInfo,  &ASN1::GeneralizedTime::theInfo,
      &TS::Pdu::theInfo,          &Numbers::theInfo,
      &TS::Message::theInfo,      &Unsigned32::theInfo,
      &TS::ErrorCause::theInfo,   &ASN1::OCTET_STRING::theInfo,
      &TS::Params::theInfo};
  static inline const std::int32_t fieldIds[16] = {-1, -1, -1, -1, 0, -1, -1, 1, -1, 2, 3, 4, 5, 6, 7, 8};
  static inline const char* const fieldNames[19] = {"nothing", "flag", "number", "colour", "cause", "oid", "bits",
                                                    "octets",  "text", "digits", "wide",   "when",  "pdu", "numbers",
                                                    "inner",   "big",  "late",   "blob",   "params"};
  static inline const InfoType theInfo = {
      &ASN1::create_as<Everything>, 0x10, true, fieldInfos, fieldIds, 16, 3, 9, nullptr, nullptr, fieldNames};

  Everything() : ASN1::SEQUENCE(&theInfo) {}
  ~Everything() override {}

  // Field f made present when optional; bit is the optional or extension
  // bit of f.
  template <class T>
  T& ref(Field f) {
    const int id = f < 16 ? fieldIds[f] : 9 + (f - 16);
    if (id >= 0) includeOptionalField(unsigned(id), unsigned(f));
    return dynamic_cast<T&>(*getField(unsigned(f)));
  }
};

// Every mandatory field with a telling value, every optional field and
// every extension addition present.
inline void fillAll(Everything& v) {
  v.ref<ASN1::BOOLEAN>(Everything::flag) = true;
  v.ref<ASN1::INTEGER>(Everything::number) = -129;
  v.ref<TS::Colour>(Everything::colour).setFromInt(TS::Colour::blue);
  v.ref<TS::ErrorCause>(Everything::cause) = TS::ErrorCause::unexpected_command;
  ASN1::OBJECT_IDENTIFIER& oid = v.ref<ASN1::OBJECT_IDENTIFIER>(Everything::oid);
  for (unsigned arc : {1u, 2u, 840u, 113549u}) oid.append(arc);
  ASN1::BIT_STRING& bits = v.ref<ASN1::BIT_STRING>(Everything::bits);
  bits.resize(11);
  bits.set(0);
  bits.set(9);
  v.ref<ASN1::OCTET_STRING>(Everything::octets) = std::vector<char>{'\x00', '\x80', '\xff', '\x0a'};
  v.ref<ASN1::IA5String>(Everything::text) = "hello, world";
  v.ref<ASN1::AbstractString>(Everything::digits).assign(std::string("0123 9"));
  v.ref<ASN1::BMPString>(Everything::wide).assign(L"wide text", 9);
  v.ref<ASN1::GeneralizedTime>(Everything::when) = ASN1::GeneralizedTime(2024, 1, 2, 3, 4, 5, 7, 90, false);
  v.ref<TS::Pdu>(Everything::pdu).select_error(TS::ErrorCause::hardware);
  ASN1::SEQUENCE_OF_Base& numbers = v.ref<ASN1::SEQUENCE_OF_Base>(Everything::numbers);
  for (int n : {0, 127, 128, -1}) numbers.push_back(new ASN1::INTEGER(n));
  TS::Message& inner = v.ref<TS::Message>(Everything::inner);
  inner.set_seq(7);
  inner.set_slot(1023);
  inner.ref_pdu().select_command() = 300;
  v.ref<Unsigned32>(Everything::big) = 4000000000u;
  v.ref<TS::ErrorCause>(Everything::late) = TS::ErrorCause::fsm;
  v.ref<ASN1::OCTET_STRING>(Everything::blob) = std::vector<char>(300, '\x5a');
  TS::Params& params = v.ref<TS::Params>(Everything::params);
  params.set_x(-5);
  params.set_y({'\x01'});
}

}  // namespace KS
