#pragma once
// The version record of this build, scope tracing and execution-time points.
#include <iosfwd>

#include "foundation/measure.h"

class Version {
public:
  // A fixed underlying type: a record may carry any number, and the names
  // of unknown ones print as "unknown".
  enum Type : int { snapshot = 0, test = 1, release = 2, unit_test = 3 };

  constexpr Version(Type type, int number, const char* label, const char* builder, const char* built, const char* tag,
                    const char* cpu)
      : type_(type), number_(number), label_(label), builder_(builder), built_(built), tag_(tag), cpu_(cpu) {}

  void update() {}
  Type type() const { return type_; }
  int number() const { return number_; }
  const char* label() const { return label_; }
  const char* builder() const { return builder_; }
  const char* built() const { return built_; }
  const char* tag() const { return tag_; }
  const char* cpu() const { return cpu_; }
  // Writes the tag only.
  void put(std::ostream& out) const;

  // Constant-initialised, so it is usable from any static constructor.
  static Version current;

private:
  Type type_;
  int number_;
  const char* label_;
  const char* builder_;
  const char* built_;
  const char* tag_;
  const char* cpu_;
};

std::ostream& operator<<(std::ostream& out, const Version& v);
const char* version_string(Version::Type t);
const char* version_suffix(Version::Type t);
std::ostream& operator<<(std::ostream& out, Version::Type t);

namespace Trace {

// Writes "Enter name" and, at scope end, "Leave name" when on.
class Block {
public:
  Block(bool on, const char* name, std::ostream& out);
  ~Block();
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;

private:
  bool on_;
  const char* name_;
  std::ostream* out_;
};

}  // namespace Trace

namespace Profile {

// Duration statistics of a code section, kept in a global list (newest first)
// for the status dump. The name is not copied.
class Point {
public:
  explicit Point(const char* name);
  ~Point();
  Point(const Point&) = delete;
  Point& operator=(const Point&) = delete;

  void begin();
  void end();
  void put(std::ostream& out) const;

  Point* next() const { return next_; }
  const char* name() const { return name_; }
  unsigned min() const { return measure_.min(); }
  unsigned max() const { return measure_.max(); }
  unsigned last() const { return measure_.last(); }
  unsigned counter() const { return measure_.counter(); }

private:
  Point* next_;
  const char* name_;
  Measure measure_;
};

extern Point* mRoot;

std::ostream& operator<<(std::ostream& out, const Point& p);
void dump(std::ostream& out);

}  // namespace Profile
