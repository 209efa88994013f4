#pragma once
// A small module in the shape of the generated ones, covering every kind of
// value the coders handle; shared by the coder tests, the fuzzer and the
// benchmark. Header-only so that each of them can include it alone.
//
//   Cause ::= ENUMERATED { c0, c1, ..., c12, ... }
//   Mode ::= ENUMERATED { idle, busy, fault }
//   Item ::= SEQUENCE { name IA5String, value INTEGER OPTIONAL, flag BOOLEAN }
//   Body ::= CHOICE { number INTEGER, text IA5String, ..., flag BOOLEAN }
//   Envelope ::= SEQUENCE {
//     id INTEGER (0..1023) OPTIONAL, cause Cause, body Body,
//     items SEQUENCE (SIZE (0..16)) OF Item OPTIONAL, octets OCTET STRING OPTIONAL,
//     ..., mode Mode, note IA5String }
//   Kitchen ::= SEQUENCE {
//     s8 INTEGER (-128..127), u32 INTEGER (0..4294967295), lower INTEGER (1..MAX),
//     ranged INTEGER (0..15, ...), oid OBJECT IDENTIFIER, bits BIT STRING,
//     pair OCTET STRING (SIZE (2)), digits NumericString, bmp BMPString,
//     time GeneralizedTime OPTIONAL, open OPEN TYPE OPTIONAL, typed Item (open) OPTIONAL,
//     named INTEGER { zero(0), ten(10) }, mode Mode, small IA5String (SIZE (1..2)),
//     flags BIT STRING (SIZE (0..8, ...)) }
//   Top ::= CHOICE { envelope Envelope, kitchen Kitchen }

#include "asn1/asn1.h"

#include <cstdint>

namespace PT {

class Cause : public ASN1::ENUMERATED {
public:
  static const InfoType theInfo;
  Cause() : ASN1::ENUMERATED(&theInfo) {}
};

class Mode : public ASN1::ENUMERATED {
public:
  enum NamedNumber { idle, busy, fault };
  static const InfoType theInfo;
  Mode() : ASN1::ENUMERATED(&theInfo) {}
};

typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023> Slot;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u> U32;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, -128, 127> S8;
typedef ASN1::Constrained_INTEGER<ASN1::PartiallyConstrained, 1, 4294967295u> LowerOnly;
typedef ASN1::Constrained_INTEGER<ASN1::ExtendableConstraint, 0, 15> Ranged;

class Item : public ASN1::SEQUENCE {
public:
  enum { name, value, flag };
  static const InfoType theInfo;
  static const ASN1::AbstractData::InfoType* const fieldInfos[3];
  static const std::int32_t fieldIds[3];
  static const char* const fieldNames[3];
  Item() : ASN1::SEQUENCE(&theInfo) {}
};

class Body : public ASN1::CHOICE {
public:
  enum { number, text, flag };
  static const InfoType theInfo;
  static const ASN1::AbstractData::InfoType* const selectionInfos[3];
  static const char* const selectionNames[3];
  Body() : ASN1::CHOICE(&theInfo) {}
};

struct Items {
  static const ASN1::SEQUENCE_OF_Base::InfoType theInfo;
};

struct PairOctets {
  static const ASN1::ConstrainedObject::InfoType theInfo;
};
struct SmallText {
  static const ASN1::AbstractString::InfoType theInfo;
};
struct Flags {
  static const ASN1::ConstrainedObject::InfoType theInfo;
};
struct Named {
  static const ASN1::IntegerWithNamedNumber::NameEntry entries[2];
  static const ASN1::IntegerWithNamedNumber::InfoType theInfo;
};
struct TypedItem {
  static const ASN1::TypeConstrainedOpenData::InfoType theInfo;
};

class Envelope : public ASN1::SEQUENCE {
public:
  enum { id, cause, body, items, octets, mode, note };
  static const InfoType theInfo;
  static const ASN1::AbstractData::InfoType* const fieldInfos[7];
  static const std::int32_t fieldIds[5];
  static const char* const fieldNames[7];
  Envelope() : ASN1::SEQUENCE(&theInfo) {}
};

class Kitchen : public ASN1::SEQUENCE {
public:
  enum { s8, u32, lower, ranged, oid, bits, pair, digits, bmp, time, open, typed, named, mode, small, flags };
  static const InfoType theInfo;
  static const ASN1::AbstractData::InfoType* const fieldInfos[16];
  static const std::int32_t fieldIds[16];
  static const char* const fieldNames[16];
  Kitchen() : ASN1::SEQUENCE(&theInfo) {}
};

class Top : public ASN1::CHOICE {
public:
  enum { envelope, kitchen };
  static const InfoType theInfo;
  static const ASN1::AbstractData::InfoType* const selectionInfos[2];
  static const char* const selectionNames[2];
  Top() : ASN1::CHOICE(&theInfo) {}
};

inline const char* const Cause_names[] = {"c0", "c1", "c2", "c3",  "c4",  "c5", "c6",
                                          "c7", "c8", "c9", "c10", "c11", "c12"};
inline const ASN1::ENUMERATED::InfoType Cause::theInfo = {&ASN1::create_as<Cause>, 10, true, 12, Cause_names, 13};

inline const char* const Mode_names[] = {"idle", "busy", "fault"};
inline const ASN1::ENUMERATED::InfoType Mode::theInfo = {&ASN1::create_as<Mode>, 10, false, 2, Mode_names, 3};

inline const ASN1::AbstractData::InfoType* const Item::fieldInfos[3] = {
    &ASN1::IA5String::theInfo, &ASN1::INTEGER::theInfo, &ASN1::BOOLEAN::theInfo};
inline const std::int32_t Item::fieldIds[3] = {-1, 0, -1};
inline const char* const Item::fieldNames[3] = {"name", "value", "flag"};
inline const ASN1::SEQUENCE::InfoType Item::theInfo = {
    &ASN1::create_as<Item>, 0x10, false, fieldInfos, fieldIds, 3, 0, 1, nullptr, nullptr, fieldNames};

inline const ASN1::AbstractData::InfoType* const Body::selectionInfos[3] = {
    &ASN1::INTEGER::theInfo, &ASN1::IA5String::theInfo, &ASN1::BOOLEAN::theInfo};
inline const char* const Body::selectionNames[3] = {"number", "text", "flag"};
inline const ASN1::CHOICE::InfoType Body::theInfo = {&ASN1::create_as<Body>, 0, true, selectionInfos, 2, 3, nullptr,
                                                     selectionNames};

inline const ASN1::SEQUENCE_OF_Base::InfoType Items::theInfo = {
    &ASN1::SEQUENCE_OF_Base::create, 0x10, ASN1::FixedConstraint, 0, 16, &Item::theInfo};
inline const ASN1::ConstrainedObject::InfoType PairOctets::theInfo = {&ASN1::OCTET_STRING::create, 4,
                                                                      ASN1::FixedConstraint, 2, 2};
inline const ASN1::AbstractString::InfoType SmallText::theInfo = {
    &ASN1::AbstractString::create, 22, ASN1::FixedConstraint, 1, 2, ASN1::IA5StringSet, 128, 7, 7, 8};
inline const ASN1::ConstrainedObject::InfoType Flags::theInfo = {&ASN1::BIT_STRING::create, 3,
                                                                 ASN1::ExtendableConstraint, 0, 8};
inline const ASN1::IntegerWithNamedNumber::NameEntry Named::entries[2] = {{0, "zero"}, {10, "ten"}};
inline const ASN1::IntegerWithNamedNumber::InfoType Named::theInfo = {
    &ASN1::IntegerWithNamedNumber::create, 2, ASN1::Unconstrained, 0, 0xFFFFFFFFu, entries, 2};
inline const ASN1::TypeConstrainedOpenData::InfoType TypedItem::theInfo = {&ASN1::TypeConstrainedOpenData::create, 0,
                                                                           &Item::theInfo};

inline const ASN1::AbstractData::InfoType* const Envelope::fieldInfos[7] = {
    &Slot::theInfo, &Cause::theInfo,          &Body::theInfo, &Items::theInfo, &ASN1::OCTET_STRING::theInfo,
    &Mode::theInfo, &ASN1::IA5String::theInfo};
inline const std::int32_t Envelope::fieldIds[5] = {0, -1, -1, 1, 2};
inline const char* const Envelope::fieldNames[7] = {"id", "cause", "body", "items", "octets", "mode", "note"};
inline const ASN1::SEQUENCE::InfoType Envelope::theInfo = {
    &ASN1::create_as<Envelope>, 0x10, true, fieldInfos, fieldIds, 5, 2, 3, nullptr, nullptr, fieldNames};

inline const ASN1::AbstractData::InfoType* const Kitchen::fieldInfos[16] = {&S8::theInfo,
                                                                            &U32::theInfo,
                                                                            &LowerOnly::theInfo,
                                                                            &Ranged::theInfo,
                                                                            &ASN1::OBJECT_IDENTIFIER::theInfo,
                                                                            &ASN1::BIT_STRING::theInfo,
                                                                            &PairOctets::theInfo,
                                                                            &ASN1::NumericString::theInfo,
                                                                            &ASN1::BMPString::theInfo,
                                                                            &ASN1::GeneralizedTime::theInfo,
                                                                            &ASN1::OpenData::theInfo,
                                                                            &TypedItem::theInfo,
                                                                            &Named::theInfo,
                                                                            &Mode::theInfo,
                                                                            &SmallText::theInfo,
                                                                            &Flags::theInfo};
inline const std::int32_t Kitchen::fieldIds[16] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 2, -1, -1, -1, -1};
inline const char* const Kitchen::fieldNames[16] = {"s8",    "u32",    "lower", "ranged", "oid",  "bits",
                                                    "pair",  "digits", "bmp",   "time",   "open", "typed",
                                                    "named", "mode",   "small", "flags"};
inline const ASN1::SEQUENCE::InfoType Kitchen::theInfo = {
    &ASN1::create_as<Kitchen>, 0x10, false, fieldInfos, fieldIds, 16, 0, 3, nullptr, nullptr, fieldNames};

inline const ASN1::AbstractData::InfoType* const Top::selectionInfos[2] = {&Envelope::theInfo, &Kitchen::theInfo};
inline const char* const Top::selectionNames[2] = {"envelope", "kitchen"};
inline const ASN1::CHOICE::InfoType Top::theInfo = {&ASN1::create_as<Top>, 0, false, selectionInfos, 2, 2, nullptr,
                                                    selectionNames};

}  // namespace PT
