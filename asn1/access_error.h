#pragma once
// Reading an absent field or an alternative that is not selected. Controller
// input can lead a service there, so the generated getters check in every
// build and throw this instead of touching a value that is not there; the
// command server catches it around each service.
#include <stdexcept>
#include <string>

namespace ASN1 {

class SEQUENCE;
class CHOICE;

class AccessError : public std::logic_error {
public:
  AccessError(std::string type, std::string member, const std::string& what);

  // The C++ class read ("LGCP::Message") and the field or alternative asked for.
  const std::string& type() const { return type_; }
  const std::string& member() const { return member_; }

  [[noreturn]] static void absent(const char* type, const SEQUENCE& sequence, unsigned index);
  [[noreturn]] static void unselected(const char* type, const CHOICE& choice, int id);

private:
  std::string type_;
  std::string member_;
};

}  // namespace ASN1
