#pragma once
// Helpers of the generated message classes (messages/asn1gen.py).
//
// Every value of a generated type is created by its record's create function,
// which makes an object of the generated class itself, so the casts below are
// to the value's real class. The getters check presence and selection in every
// build: controller input decides what is there, so reading what is not throws
// ASN1::AccessError rather than touching a value that does not exist.

#include "asn1/access_error.h"
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

// type names the generated class for the error.
template <class T>
inline const T& presentAt(const ASN1::SEQUENCE& s, unsigned bit, unsigned index, const char* type) {
  const ASN1::AbstractData* field = s.hasOptionalField(bit) ? s.getField(index) : nullptr;
  if (field == nullptr) ASN1::AccessError::absent(type, s, index);
  return static_cast<const T&>(*field);
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
inline const T& selectedAt(const ASN1::CHOICE& c, int id, const char* type) {
  if (c.currentSelection() != id || c.getSelection() == nullptr) ASN1::AccessError::unselected(type, c, id);
  return static_cast<const T&>(*c.getSelection());
}

template <class T>
inline T& selectedAt(ASN1::CHOICE& c, int id, const char* type) {
  if (c.currentSelection() != id || c.getSelection() == nullptr) ASN1::AccessError::unselected(type, c, id);
  return static_cast<T&>(*c.getSelection());
}

template <class T, class V>
inline T& assigned(T& target, const V& v) {
  target = v;
  return target;
}

}  // namespace Messages
