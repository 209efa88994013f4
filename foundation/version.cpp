#include "foundation/version.h"

#include <ostream>

#include "build_info.h"

Version Version::current(Version::snapshot, 0, "", ULV_BUILD_USER, ULV_BUILD_STAMP, ULV_BUILD_TAG, ULV_BUILD_CPU);

void Version::put(std::ostream& out) const { out << tag_; }

std::ostream& operator<<(std::ostream& out, const Version& v) {
  v.put(out);
  return out;
}

const char* version_string(Version::Type t) {
  switch (t) {
    case Version::snapshot:
      return "snapshot";
    case Version::test:
      return "test";
    case Version::release:
      return "release";
    case Version::unit_test:
      return "unit-test";
  }
  return "unknown";
}

const char* version_suffix(Version::Type t) {
  switch (t) {
    case Version::snapshot:
      return "S";
    case Version::test:
    case Version::unit_test:
      return "T";
    case Version::release:
      return "R";
  }
  return "U";
}

std::ostream& operator<<(std::ostream& out, Version::Type t) { return out << version_string(t); }

namespace Trace {

Block::Block(bool on, const char* name, std::ostream& out) : on_(on), name_(name), out_(&out) {
  if (on_) *out_ << "Enter " << name_ << std::endl;
}

Block::~Block() {
  if (on_) *out_ << "Leave " << name_ << std::endl;
}

}  // namespace Trace

namespace Profile {

Point* mRoot = nullptr;

Point::Point(const char* name) : next_(mRoot), name_(name) { mRoot = this; }

Point::~Point() {
  for (Point** p = &mRoot; *p; p = &(*p)->next_) {
    if (*p == this) {
      *p = next_;
      break;
    }
  }
}

void Point::begin() { measure_.begin(); }

void Point::end() { measure_.end(); }

void Point::put(std::ostream& out) const {
  out << "[" << name_ << "]: ";
  measure_.put(out);
}

std::ostream& operator<<(std::ostream& out, const Point& p) {
  p.put(out);
  return out;
}

void dump(std::ostream& out) {
  for (Point* p = mRoot; p; p = p->next()) out << *p << std::endl;
}

}  // namespace Profile
