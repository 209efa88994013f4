#pragma once
// ASN.1 runtime: value classes driven by constant type records.
//
// Every value points to the record of its type. A record is a constant
// aggregate, complete at compile time (no start-up code fills any part of
// it); its first two members are the create function and the tag, and the
// record kinds extend that head:
//
//   ASN1::AbstractData::InfoType       {create, tag}
//   ASN1::ConstrainedObject::InfoType  + {constraintType, lowerLimit, upperLimit}
//   ASN1::ENUMERATED::InfoType         + {extendable, maximum, names, nameCount}
//   ASN1::CHOICE::InfoType             + {extendable, selectionInfos, numChoices,
//                                         totalChoices, tags, selectionNames}
//   ASN1::SEQUENCE::InfoType           + {extendable, fieldInfos, fieldIds, numFields,
//                                         knownExtensions, numOptional, extDefaults,
//                                         fieldTags, fieldNames}
//   ASN1::SEQUENCE_OF_Base::InfoType   constraint record + {elementInfo}
//
// A generated type is a thin class that adds no data and does nothing in its
// destructor: values of the scalar, CHOICE and SEQUENCE kinds are freed by
// their kind, without the class's destructor (the generated sources assert
// the sizes; a class written by hand must keep to it too). Its create function is
// ASN1::create_as<Class>, which makes an object of the class itself, so that
// fields, alternatives, clones and decoded values are really of that class.
// A SEQUENCE type:
//
//   class Message : public ASN1::SEQUENCE {
//    public:
//     static const InfoType theInfo;
//     static const ASN1::AbstractData::InfoType* const fieldInfos[3];
//     static const std::int32_t fieldIds[3];
//     static const char* const fieldNames[3];
//     Message() : ASN1::SEQUENCE(&theInfo) {}
//     ~Message() override {}
//   };
//
//   const ASN1::AbstractData::InfoType* const Message::fieldInfos[3] = {
//       &ASN1::INTEGER::theInfo,
//       &ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023>::theInfo,
//       &Message_pdu::theInfo};
//   const std::int32_t Message::fieldIds[3] = {0, 1, -1};
//   const char* const Message::fieldNames[3] = {"seq", "slot", "pdu"};
//   const ASN1::SEQUENCE::InfoType Message::theInfo = {
//       &ASN1::create_as<Message>, 0x10, false, fieldInfos, fieldIds,
//       3 /*root*/, 0 /*known ext*/, 2 /*optional*/, nullptr, nullptr, fieldNames};
//
// CHOICE: {&ASN1::create_as<C>, 0, extendable, selectionInfos, root count,
//          total count, nullptr, selectionNames}, constructor
//          C() : ASN1::CHOICE(&theInfo) {}.
// ENUMERATED: {&ASN1::create_as<E>, 10, extendable, maximum, E_enum_names__,
//          number of names}, constructor E() : ASN1::ENUMERATED(&theInfo) {}.
// Built-in field types use the runtime's classes and records directly
// (ASN1::Null, BOOLEAN, INTEGER, Constrained_INTEGER<...>, OCTET_STRING,
// IA5String, OBJECT_IDENTIFIER, SEQUENCE_OF<T>, SET_OF<T>); every
// SEQUENCE_OF<T>::theInfo is complete constant data as well.

#include "asn1/avn_decoder.h"
#include "asn1/avn_encoder.h"
#include "asn1/ber.h"
#include "asn1/coder_env.h"
#include "asn1/constructed.h"
#include "asn1/per_decoder.h"
#include "asn1/per_encoder.h"
#include "asn1/strings.h"
#include "asn1/valid_checker.h"
#include "asn1/value.h"
#include "asn1/visitor.h"
