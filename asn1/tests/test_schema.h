#pragma once
// A small hand-written module in the shape of the generated ones.

#include "asn1/asn1.h"

#include <cstdint>

namespace TS {

// ENUMERATED { ok, fsm(32), unexpected-command(64), hardware(128), ... }
class ErrorCause : public ASN1::ENUMERATED {
public:
  enum NamedNumber { ok = 0, fsm = 32, unexpected_command = 64, hardware = 128 };
  static const InfoType theInfo;
  ErrorCause() : ASN1::ENUMERATED(&theInfo) {}
  ErrorCause(NamedNumber v) : ASN1::ENUMERATED(&theInfo) { setFromInt(v); }
  ~ErrorCause() override {}
  operator NamedNumber() const { return NamedNumber(asInt()); }
};

// ENUMERATED { red, green, blue, crimson(0), violet(-3), indigo }
class Colour : public ASN1::ENUMERATED {
public:
  enum NamedNumber { red = 0, green, blue, crimson = 0, violet = -3, indigo = -2 };
  static const InfoType theInfo;
  Colour() : ASN1::ENUMERATED(&theInfo) {}
  ~Colour() override {}
};

typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023> SlotNumber;

// CHOICE { command INTEGER, error ErrorCause, signal NULL }
class Pdu : public ASN1::CHOICE {
public:
  static const InfoType theInfo;
  static const ASN1::AbstractData::InfoType* const selectionInfos[3];
  static const char* const selectionNames[3];
  enum { command_id = 0, error_id = 1, signal_id = 2 };

  Pdu() : ASN1::CHOICE(&theInfo) {}
  ~Pdu() override {}

  bool command_isSelected() const { return currentSelection() == command_id; }
  ASN1::INTEGER& select_command() {
    return static_cast<ASN1::INTEGER&>(*setSelection(command_id, AbstractData::create(selectionInfos[0])));
  }
  ErrorCause& select_error(ErrorCause::NamedNumber v) {
    ErrorCause& e = static_cast<ErrorCause&>(*setSelection(error_id, AbstractData::create(selectionInfos[1])));
    e = v;
    return e;
  }
  const ErrorCause& get_error() const { return static_cast<const ErrorCause&>(*getSelection()); }
};

// SEQUENCE { seq INTEGER OPTIONAL, slot INTEGER (0..1023) OPTIONAL, pdu Pdu }
class Message : public ASN1::SEQUENCE {
public:
  static const InfoType theInfo;
  static const ASN1::AbstractData::InfoType* const fieldInfos[3];
  static const std::int32_t fieldIds[3];
  static const char* const fieldNames[3];

  Message() : ASN1::SEQUENCE(&theInfo) {}
  ~Message() override {}

  bool seq_isPresent() const { return hasOptionalField(0); }
  const ASN1::INTEGER& get_seq() const { return static_cast<const ASN1::INTEGER&>(*getField(0)); }
  ASN1::INTEGER& set_seq(int v) {
    includeOptionalField(0, 0);
    ASN1::INTEGER& f = static_cast<ASN1::INTEGER&>(*getField(0));
    f = v;
    return f;
  }
  void omit_seq() { removeOptionalField(0); }
  bool slot_isPresent() const { return hasOptionalField(1); }
  const SlotNumber& get_slot() const { return static_cast<const SlotNumber&>(*getField(1)); }
  SlotNumber& set_slot(unsigned v) {
    includeOptionalField(1, 1);
    SlotNumber& f = static_cast<SlotNumber&>(*getField(1));
    f = v;
    return f;
  }
  const Pdu& get_pdu() const { return static_cast<const Pdu&>(*getField(2)); }
  Pdu& ref_pdu() { return static_cast<Pdu&>(*getField(2)); }
};

// SEQUENCE { a INTEGER OPTIONAL, b BOOLEAN, c IA5String OPTIONAL, ...,
//            x INTEGER, y OCTET STRING, z BOOLEAN }
class Params : public ASN1::SEQUENCE {
public:
  static const InfoType theInfo;
  static const ASN1::AbstractData::InfoType* const fieldInfos[6];
  static const std::int32_t fieldIds[6];
  static const char* const fieldNames[6];

  Params() : ASN1::SEQUENCE(&theInfo) {}
  ~Params() override {}

  ASN1::INTEGER& set_x(int v) {
    includeOptionalField(2, 3);
    ASN1::INTEGER& f = static_cast<ASN1::INTEGER&>(*getField(3));
    f = v;
    return f;
  }
  ASN1::OCTET_STRING& set_y(const std::vector<char>& v) {
    includeOptionalField(3, 4);
    ASN1::OCTET_STRING& f = static_cast<ASN1::OCTET_STRING&>(*getField(4));
    f = v;
    return f;
  }
};

// SEQUENCE { ... }
class Empty : public ASN1::SEQUENCE {
public:
  static const InfoType theInfo;
  Empty() : ASN1::SEQUENCE(&theInfo) {}
  ~Empty() override {}
};

// SEQUENCE { list SEQUENCE OF Message, set SET OF INTEGER }
class Batch : public ASN1::SEQUENCE {
public:
  typedef ASN1::SEQUENCE_OF<Message, ASN1::EmptyConstraint> MessageList;
  typedef ASN1::SET_OF<ASN1::INTEGER, ASN1::EmptyConstraint> NumberSet;
  static const InfoType theInfo;
  static const ASN1::AbstractData::InfoType* const fieldInfos[2];
  static const std::int32_t fieldIds[2];
  static const char* const fieldNames[2];

  Batch() : ASN1::SEQUENCE(&theInfo) {}
  ~Batch() override {}

  MessageList& ref_list() { return static_cast<MessageList&>(*getField(0)); }
  const MessageList& get_list() const { return static_cast<const MessageList&>(*getField(0)); }
  NumberSet& ref_set() { return static_cast<NumberSet&>(*getField(1)); }
};

}  // namespace TS
