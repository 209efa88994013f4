#pragma once
// Typed reading of one [name] block: the caller registers its targets as
// required or optional keys, parse() converts them and reports every missing,
// invalid or repeated key on the given stream.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <list>
#include <ostream>
#include <string>
#include <type_traits>

#include "foundation/ini_file.h"

namespace IniFile {

// One row of a name -> value table; a table ends with a row whose name is null.
template <class T>
struct Symbol {
  const char* name;
  T value;
};

namespace Private {

class KeyValue {
public:
  KeyValue() = default;
  KeyValue(const KeyValue&) = delete;
  KeyValue& operator=(const KeyValue&) = delete;
  virtual ~KeyValue() = default;
  virtual const char* name() const = 0;
  virtual bool do_parse(const char* text) = 0;

  bool parse(const std::string& text) { return valid = do_parse(text.c_str()); }

  bool valid = false;
};

template <class T, bool = std::is_enum<T>::value>
struct NumberOf {
  typedef std::underlying_type_t<T> type;
};
template <class T>
struct NumberOf<T, false> {
  typedef T type;
};

// Enumerations and integers: a table name, or a whole C number
// (decimal, 0x hexadecimal, leading-0 octal) that fits the target.
template <class T>
class TKeyValue : public KeyValue {
public:
  TKeyValue(T* target, const char* name, const Symbol<T>* symbols) : target(target), keyName(name), symbols(symbols) {}
  const char* name() const override { return keyName; }

  bool do_parse(const char* text) override {
    if (symbols)
      for (const Symbol<T>* s = symbols; s->name; ++s)
        if (std::strcmp(s->name, text) == 0) {
          *target = s->value;
          return true;
        }
    typedef typename NumberOf<T>::type Number;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 0);
    if (*text == '\0' || *end != '\0' || errno == ERANGE) return false;
    if (v < 0
            ? !std::numeric_limits<Number>::is_signed ||
                  static_cast<long long>(v) < static_cast<long long>(std::numeric_limits<Number>::min())
            : static_cast<unsigned long long>(v) > static_cast<unsigned long long>(std::numeric_limits<Number>::max()))
      return false;
    *target = static_cast<T>(static_cast<Number>(v));
    return true;
  }

private:
  T* target;
  const char* keyName;
  const Symbol<T>* symbols;
};

template <>
class TKeyValue<bool> : public KeyValue {
public:
  TKeyValue(bool* target, const char* name, const Symbol<bool>*) : target(target), keyName(name) {}
  const char* name() const override { return keyName; }
  bool do_parse(const char* text) override;

private:
  bool* target;
  const char* keyName;
};

template <>
class TKeyValue<std::string> : public KeyValue {
public:
  TKeyValue(std::string* target, const char* name, const Symbol<std::string>*) : target(target), keyName(name) {}
  const char* name() const override { return keyName; }
  bool do_parse(const char* text) override {
    *target = text;
    return true;
  }

private:
  std::string* target;
  const char* keyName;
};

}  // namespace Private

class Reader {
public:
  class Field {
  public:
    Field() = default;
    Field(const Field&) = delete;
    Field& operator=(const Field&) = delete;
    ~Field() {
      for (Private::KeyValue* kv : entries) delete kv;
    }

    // The returned flag tells after parse() whether the key was given and accepted.
    template <class T>
    bool& add(T* target, const char* name, const Symbol<T>* symbols = nullptr) {
      return add(new Private::TKeyValue<T>(target, name, symbols));
    }
    bool& add(Private::KeyValue* kv) {
      entries.push_back(kv);
      return kv->valid;
    }

  private:
    friend class Reader;
    std::list<Private::KeyValue*> entries;
  };

  Reader(const std::string& prefix, std::ostream& out) : prefix(prefix), out(&out) {}

  bool parse(SubSection& block);
  bool operator()(SubSection& block) { return parse(block); }

  Field required;
  Field optional;

private:
  // False when the key is missing, invalid or repeated.
  bool readKey(SubSection& block, Private::KeyValue& kv, bool isRequired);

  std::string prefix;
  std::ostream* out;
};

}  // namespace IniFile
