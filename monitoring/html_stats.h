#pragma once
// Statistics pages: an HTML template expanded against a tree of statistics
// objects.
//
// Template syntax: "%name%" is replaced by the first value "name" found in
// the current object or an enclosing one (kept as it is when none has it);
// "%%" stays "%%". "<!--GEN.name-->" ... "<!--GEN.end-->" expands its body
// once for the sub-object "name", or once per element of the collection
// "name", and drops it when the name finds neither; "<!--GEN.end-->" at the
// top level ends the page. Inside an ordinary tag nothing is recognised.
// Values are written as they are, without HTML quoting.
#include <istream>
#include <list>
#include <memory>
#include <ostream>
#include <string>

namespace Stat {

class Value {
public:
  Value() = default;
  explicit Value(std::string text) : exists_(true), text_(std::move(text)) {}

  bool exists() const { return exists_; }
  const std::string& text() const { return text_; }
  explicit operator bool() const { return exists_; }

private:
  bool exists_ = false;
  std::string text_;
};

class Object;

// A walk over a collection of objects; its owner destroys it.
class IteratorBase {
public:
  virtual ~IteratorBase() = default;
  // Whether it stands on an element.
  virtual bool valid() const = 0;
  // Advances; whether it still stands on an element.
  virtual bool next() = 0;
  virtual const Object& object() const = 0;
};

// What a statistics provider implements. Names no object knows are no
// error: the lookups then give no value, null and null.
class Object {
public:
  virtual ~Object() = default;
  virtual Value statistics_value(const std::string& name) const = 0;
  virtual const Object* statistics_object(const std::string& name) const = 0;
  virtual std::unique_ptr<IteratorBase> statistics_iterator(const std::string& name) const = 0;
};

namespace Html {

// One pass over a seekable template: a collection's body is read again for
// each element. Sections are expanded at most kMaxNesting deep; a deeper one
// is dropped with its body, and dropped bodies are skipped by counting their
// markers, so no template nests the generator deeper than that.
class GeneratorV1 {
public:
  static constexpr int kMaxNesting = 64;

  GeneratorV1(const Object& root, std::ostream& out, std::istream& in);
  GeneratorV1(const GeneratorV1&) = delete;
  GeneratorV1& operator=(const GeneratorV1&) = delete;

  bool generate();

private:
  struct Token {
    enum Type { kSection = 0, kValue = 1, kEnd = 2 };
    Type type = kEnd;
    std::string name;
    bool complete = false;
  };
  using State = void (GeneratorV1::*)(char c);

  bool generate_body();
  // Reads up to the next complete marker, copying what lies before it.
  void parse();
  void section(const std::string& name);
  void value(const std::string& name);
  void sub_object(const Object& object);
  void sub_object(const std::string& name);
  // Reads past the body of a section (up to its end marker) writing nothing.
  void ignore_object();

  void put(char c);
  void put(const std::string& s);
  void next_input(State s);
  void next_output(State s);
  void next_state(State input, State output);

  void pinput_initial(char c);
  void pinput_section_open(char c);
  void pinput_section_body(char c);
  void pinput_section_comment1(char c);
  void pinput_section_comment2(char c);
  void pinput_section_obj_begin1(char c);
  void pinput_section_obj_begin2(char c);
  void pinput_section_obj_begin3(char c);
  void pinput_section_obj_begin4(char c);
  void pinput_section_obj_name(char c);
  void pinput_section_obj_name_end1(char c);
  void pinput_section_obj_name_end2(char c);
  void pinput_value_open(char c);
  void pinput_value_body(char c);
  void pinput_delayed_initial(char c);
  // Leaves a comment that is no section marker as the text it was.
  void section_abandon();

  void poutput_pass(char c);
  void poutput_capture(char c);

  const Object& root_;
  std::ostream& out_;
  std::istream& in_;
  std::list<const Object*> stack_;
  const Object* current_;
  int ignore_depth_ = 0;
  State input_;
  State output_;
  Token token_;
  std::string capture_;
};

// Always true.
bool generateV1(const Object& object, std::ostream& out, std::istream& in);

}  // namespace Html
}  // namespace Stat
