#pragma once
// Value-notation writer: what operator<< prints for every value in traces.

#include "asn1/visitor.h"

#include <ios>
#include <new>
#include <ostream>
#include <vector>

namespace ASN1 {

class AVNEncoder : public ConstVisitor {
public:
  explicit AVNEncoder(std::ostream& os) : os_(os), indent_(0) {}

protected:
  bool do_visit(const Null& v) override;
  bool do_visit(const BOOLEAN& v) override;
  bool do_visit(const INTEGER& v) override;
  bool do_visit(const IntegerWithNamedNumber& v) override;
  bool do_visit(const ENUMERATED& v) override;
  bool do_visit(const OBJECT_IDENTIFIER& v) override;
  bool do_visit(const BIT_STRING& v) override;
  bool do_visit(const OCTET_STRING& v) override;
  bool do_visit(const AbstractString& v) override;
  bool do_visit(const BMPString& v) override;
  bool do_visit(const CHOICE& v) override;
  bool do_visit(const OpenData& v) override;
  bool do_visit(const GeneralizedTime& v) override;
  bool do_visit(const SEQUENCE_OF_Base& v) override;

  bool preVisitExtensionRoots(const SEQUENCE& seq) override;
  bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
  bool visitKnownExtension(const SEQUENCE& seq, int index) override;
  bool afterVisitSequence(const SEQUENCE& seq) override;

private:
  bool writeOctets(const char* p, std::size_t n);
  // Between double quotes.
  bool writeText(const char* p, std::size_t n);

  std::ostream& os_;
  int indent_;
  std::vector<bool> fieldWritten_;  // one per SEQUENCE whose braces are open
};

// Runs a stream operation and turns its result, or an exception leaving it,
// into the stream's state, honouring the stream's exception mask.
template <class CharT, class Traits>
class IOWrapper {
public:
  virtual ~IOWrapper() {}

  void do_it(std::basic_ios<CharT, Traits>& ios) {
    std::ios_base::iostate state = std::ios_base::goodbit;
    try {
      state = do_real_io();
    } catch (std::bad_alloc&) {
      state |= std::ios_base::badbit;
      const std::ios_base::iostate mask = ios.exceptions();
      if ((mask & std::ios_base::failbit) && !(mask & std::ios_base::badbit)) {
        ios.setstate(state);
        return;
      }
      if (mask & std::ios_base::badbit) {
        try {
          ios.setstate(state);
        } catch (std::ios_base::failure&) {
        }
        throw;
      }
    } catch (...) {
      state |= std::ios_base::failbit;
      const std::ios_base::iostate mask = ios.exceptions();
      if ((mask & std::ios_base::badbit) && (state & std::ios_base::badbit)) {
        ios.setstate(state);
        return;
      }
      if (mask & std::ios_base::failbit) {
        try {
          ios.setstate(state);
        } catch (std::ios_base::failure&) {
        }
        throw;
      }
    }
    if (state != std::ios_base::goodbit) ios.setstate(state);
  }

protected:
  virtual std::ios_base::iostate do_real_io() = 0;
};

template <class CharT, class Traits, class T>
class InserterWrapper : public IOWrapper<CharT, Traits> {
public:
  InserterWrapper(std::basic_ostream<CharT, Traits>& os, const T& value) : os_(os), value_(value) {}

protected:
  std::ios_base::iostate do_real_io() override {
    typename std::basic_ostream<CharT, Traits>::sentry ok(os_);
    if (ok) return value_.print_on(os_);
    return std::ios_base::goodbit;
  }

private:
  std::basic_ostream<CharT, Traits>& os_;
  const T& value_;
};

template <class CharT, class Traits, class T>
std::basic_ostream<CharT, Traits>& g_inserter(std::basic_ostream<CharT, Traits>& os, const T& value) {
  if (!os.good()) return os;
  InserterWrapper<CharT, Traits, T> wrapper(os, value);
  wrapper.do_it(os);
  return os;
}

}  // namespace ASN1
