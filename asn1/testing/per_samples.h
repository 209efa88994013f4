#pragma once
// Filled values of the coder test module, for round trips, seeds and timing.

#include "asn1/testing/per_schema.h"

#include <string>
#include <vector>

namespace PT {

inline ASN1::AbstractData& fieldOf(ASN1::SEQUENCE& seq, unsigned index) { return *seq.getOrCreateField(index); }

// Every root and extension field present, items elements in the list.
inline void fillEnvelope(Envelope& e, unsigned items) {
  e.includeOptionalField(0, Envelope::id);
  static_cast<ASN1::INTEGER&>(fieldOf(e, Envelope::id)).setValue(1023);
  static_cast<ASN1::ENUMERATED&>(fieldOf(e, Envelope::cause)).setFromInt(7);
  Body& body = static_cast<Body&>(fieldOf(e, Envelope::body));
  body.select(Body::text);
  static_cast<ASN1::AbstractString&>(*body.getSelection()) = std::string("dial tone on trunk 3");
  e.includeOptionalField(1, Envelope::items);
  ASN1::SEQUENCE_OF_Base& list = static_cast<ASN1::SEQUENCE_OF_Base&>(fieldOf(e, Envelope::items));
  list.resize(items);
  unsigned n = 0;
  for (ASN1::AbstractData* element : list) {
    Item& item = static_cast<Item&>(*element);
    static_cast<ASN1::AbstractString&>(fieldOf(item, Item::name)) = "slot-" + std::to_string(n);
    if (n % 2 == 0) {
      item.includeOptionalField(0, Item::value);
      static_cast<ASN1::INTEGER&>(fieldOf(item, Item::value)).setValue(int(n * 1000) - 3000);
    }
    static_cast<ASN1::BOOLEAN&>(fieldOf(item, Item::flag)) = n % 3 == 0;
    ++n;
  }
  e.includeOptionalField(2, Envelope::octets);
  static_cast<ASN1::OCTET_STRING&>(fieldOf(e, Envelope::octets)) = std::vector<char>{'\x00', '\x80', '\xff', '\x10'};
  e.includeOptionalField(3, Envelope::mode);
  static_cast<ASN1::ENUMERATED&>(fieldOf(e, Envelope::mode)).setFromInt(Mode::busy);
  e.includeOptionalField(4, Envelope::note);
  static_cast<ASN1::AbstractString&>(fieldOf(e, Envelope::note)) = std::string("from the agent");
}

inline void fillKitchen(Kitchen& k) {
  static_cast<ASN1::INTEGER&>(fieldOf(k, Kitchen::s8)).setValue(-5);
  static_cast<ASN1::INTEGER&>(fieldOf(k, Kitchen::u32)).setValue(int(3000000000u));
  static_cast<ASN1::INTEGER&>(fieldOf(k, Kitchen::lower)).setValue(200);
  static_cast<ASN1::INTEGER&>(fieldOf(k, Kitchen::ranged)).setValue(20);
  static_cast<ASN1::OBJECT_IDENTIFIER&>(fieldOf(k, Kitchen::oid)).assign({1, 2, 840, 113549});
  ASN1::BIT_STRING& bits = static_cast<ASN1::BIT_STRING&>(fieldOf(k, Kitchen::bits));
  bits.resize(12);
  for (unsigned i = 0; i < 12; i += 3) bits.set(i);
  static_cast<ASN1::OCTET_STRING&>(fieldOf(k, Kitchen::pair)) = std::vector<char>{'\x00', '\x80'};
  static_cast<ASN1::AbstractString&>(fieldOf(k, Kitchen::digits)) = std::string("0123 45");
  static_cast<std::wstring&>(static_cast<ASN1::BMPString&>(fieldOf(k, Kitchen::bmp))) = L"Hi\x0416";
  k.includeOptionalField(0, Kitchen::time);
  static_cast<ASN1::GeneralizedTime&>(fieldOf(k, Kitchen::time)) =
      ASN1::GeneralizedTime(2024, 1, 2, 3, 4, 5, 0, 0, true);
  k.includeOptionalField(1, Kitchen::open);
  static_cast<ASN1::OpenData&>(fieldOf(k, Kitchen::open)).grab(new std::vector<char>{'\x01', '\x02', '\x03'});
  k.includeOptionalField(2, Kitchen::typed);
  ASN1::OpenData& typed = static_cast<ASN1::OpenData&>(fieldOf(k, Kitchen::typed));
  Item& item = static_cast<Item&>(typed.get_data());
  static_cast<ASN1::AbstractString&>(fieldOf(item, Item::name)) = std::string("typed");
  static_cast<ASN1::INTEGER&>(fieldOf(k, Kitchen::named)).setValue(10);
  static_cast<ASN1::ENUMERATED&>(fieldOf(k, Kitchen::mode)).setFromInt(Mode::fault);
  static_cast<ASN1::AbstractString&>(fieldOf(k, Kitchen::small)) = std::string("ok");
  ASN1::BIT_STRING& flags = static_cast<ASN1::BIT_STRING&>(fieldOf(k, Kitchen::flags));
  flags.resize(5);
  flags.set(1);
  flags.set(4);
}

}  // namespace PT
