#pragma once
// Helpers of the generated message classes (messages/asn1gen.py).
//
// Every value of a generated type is created by its record's create function,
// which makes an object of the generated class itself, so the casts below are
// to the value's real class. The getters assert presence and selection: asking
// for an absent field or an unselected alternative is a caller's error.

#include <cassert>

#include "asn1/asn1.h"

// Records are constant data; this makes the compiler refuse any record that
// would need code at start-up.
#if defined(__clang__)
#define MESSAGES_CONSTINIT [[clang::require_constant_initialization]]
#elif defined(__GNUC__)
#define MESSAGES_CONSTINIT __constinit
#else
#define MESSAGES_CONSTINIT
#endif

namespace Messages {

template <class T>
inline T& fieldAt(ASN1::SEQUENCE& s, unsigned index) {
  return static_cast<T&>(*s.getField(index));
}

template <class T>
inline const T& fieldAt(const ASN1::SEQUENCE& s, unsigned index) {
  return static_cast<const T&>(*s.getField(index));
}

template <class T>
inline const T& presentAt(const ASN1::SEQUENCE& s, unsigned bit, unsigned index) {
  assert(s.hasOptionalField(bit) && s.getField(index) != nullptr);
  (void)bit;
  return fieldAt<T>(s, index);
}

template <class T>
inline T& includeAt(ASN1::SEQUENCE& s, unsigned bit, unsigned index) {
  s.includeOptionalField(bit, index);
  return fieldAt<T>(s, index);
}

template <class T>
inline T& selectNew(ASN1::CHOICE& c, int id) {
  return static_cast<T&>(*c.setSelection(id, ASN1::AbstractData::create(&T::theInfo)));
}

// A new value of T holding v, for a CHOICE to own.
template <class T, class V>
inline ASN1::AbstractData* made(const V& v) {
  T* p = static_cast<T*>(ASN1::AbstractData::create(&T::theInfo));
  *p = v;
  return p;
}

// The new value is made before the old one goes: v may be part of it.
template <class T, class V>
inline T& selectMade(ASN1::CHOICE& c, int id, const V& v) {
  return static_cast<T&>(*c.setSelection(id, made<T>(v)));
}

template <class T>
inline const T& selectedAt(const ASN1::CHOICE& c, int id) {
  assert(c.currentSelection() == id && c.getSelection() != nullptr);
  (void)id;
  return static_cast<const T&>(*c.getSelection());
}

template <class T>
inline T& selectedAt(ASN1::CHOICE& c, int id) {
  assert(c.currentSelection() == id && c.getSelection() != nullptr);
  (void)id;
  return static_cast<T&>(*c.getSelection());
}

template <class T, class V>
inline T& assigned(T& target, const V& v) {
  target = v;
  return target;
}

}  // namespace Messages
