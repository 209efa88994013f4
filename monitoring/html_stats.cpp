#include "monitoring/html_stats.h"

#include <cstddef>

namespace Stat {
namespace Html {

GeneratorV1::GeneratorV1(const Object& root, std::ostream& out, std::istream& in)
    : root_(root),
      out_(out),
      in_(in),
      stack_{&root},
      current_(&root),
      input_(&GeneratorV1::pinput_initial),
      output_(&GeneratorV1::poutput_pass) {}

bool GeneratorV1::generate() {
  ignore_depth_ = 0;
  stack_.assign(1, &root_);
  current_ = &root_;
  generate_body();
  return true;
}

bool GeneratorV1::generate_body() {
  for (;;) {
    parse();
    switch (token_.type) {
      case Token::kEnd:
        return true;
      case Token::kSection: {
        if (token_.name == "end") return true;
        const std::string name = token_.name;
        section(name);
        break;
      }
      case Token::kValue: {
        const std::string name = token_.name;
        value(name);
        break;
      }
    }
  }
}

void GeneratorV1::section(const std::string& name) {
  if (stack_.size() > static_cast<std::size_t>(kMaxNesting)) {
    ignore_object();
    return;
  }
  const std::unique_ptr<IteratorBase> it = current_->statistics_iterator(name);
  if (!it) {
    sub_object(name);
    return;
  }
  if (!it->valid()) {
    ignore_object();
    return;
  }
  const std::istream::pos_type body = in_.tellg();
  sub_object(it->object());
  if (!it->next()) return;
  while (it->valid()) {
    // A body without its end marker ran into the end of the input.
    in_.clear();
    in_.seekg(body);
    sub_object(it->object());
    it->next();
  }
}

void GeneratorV1::value(const std::string& name) {
  for (auto o = stack_.rbegin(); o != stack_.rend(); ++o) {
    const Value v = (*o)->statistics_value(name);
    if (v) {
      put(v.text());
      return;
    }
  }
  put(capture_);
}

void GeneratorV1::sub_object(const Object& object) {
  stack_.push_back(&object);
  current_ = &object;
  generate_body();
  stack_.pop_back();
  current_ = stack_.back();
}

void GeneratorV1::sub_object(const std::string& name) {
  const Object* object = current_->statistics_object(name);
  if (object)
    sub_object(*object);
  else
    ignore_object();
}

void GeneratorV1::ignore_object() {
  ++ignore_depth_;
  std::size_t open = 0;
  for (;;) {
    parse();
    if (token_.type == Token::kEnd) break;
    if (token_.type != Token::kSection) continue;
    if (token_.name != "end")
      ++open;
    else if (open-- == 0)
      break;
  }
  --ignore_depth_;
}

void GeneratorV1::parse() {
  input_ = &GeneratorV1::pinput_initial;
  output_ = &GeneratorV1::poutput_pass;
  token_ = Token();
  capture_.clear();
  std::streambuf* buf = in_.rdbuf();
  if (buf == nullptr) return;
  for (;;) {
    const std::streambuf::int_type ch = buf->sbumpc();
    if (std::streambuf::traits_type::eq_int_type(ch, std::streambuf::traits_type::eof())) break;
    const char c = std::streambuf::traits_type::to_char_type(ch);
    (this->*input_)(c);
    (this->*output_)(c);
    if (token_.complete) return;
  }
  token_ = Token();
}

void GeneratorV1::put(char c) {
  if (ignore_depth_ == 0) out_.put(c);
}

void GeneratorV1::put(const std::string& s) {
  if (ignore_depth_ == 0) out_.write(s.data(), static_cast<std::streamsize>(s.size()));
}

void GeneratorV1::next_input(State s) { input_ = s; }

void GeneratorV1::next_output(State s) {
  if (s == output_) return;
  output_ = s;
  if (s == &GeneratorV1::poutput_capture) capture_.clear();
}

void GeneratorV1::next_state(State input, State output) {
  next_input(input);
  next_output(output);
}

void GeneratorV1::pinput_initial(char c) {
  if (c == '<')
    next_state(&GeneratorV1::pinput_section_open, &GeneratorV1::poutput_capture);
  else if (c == '%')
    next_state(&GeneratorV1::pinput_value_open, &GeneratorV1::poutput_capture);
}

void GeneratorV1::section_abandon() {
  put(capture_);
  next_state(&GeneratorV1::pinput_section_body, &GeneratorV1::poutput_pass);
}

void GeneratorV1::pinput_section_open(char c) {
  if (c == '!')
    next_input(&GeneratorV1::pinput_section_comment1);
  else
    section_abandon();
}

void GeneratorV1::pinput_section_body(char c) {
  if (c == '>') next_input(&GeneratorV1::pinput_initial);
}

void GeneratorV1::pinput_section_comment1(char c) {
  if (c == '-')
    next_input(&GeneratorV1::pinput_section_comment2);
  else
    section_abandon();
}

void GeneratorV1::pinput_section_comment2(char c) {
  if (c != '-') {
    section_abandon();
    return;
  }
  token_.type = Token::kSection;
  token_.name.clear();
  next_input(&GeneratorV1::pinput_section_obj_begin1);
}

void GeneratorV1::pinput_section_obj_begin1(char c) {
  if (c == 'G')
    next_input(&GeneratorV1::pinput_section_obj_begin2);
  else
    section_abandon();
}

void GeneratorV1::pinput_section_obj_begin2(char c) {
  if (c == 'E')
    next_input(&GeneratorV1::pinput_section_obj_begin3);
  else
    section_abandon();
}

void GeneratorV1::pinput_section_obj_begin3(char c) {
  if (c == 'N')
    next_input(&GeneratorV1::pinput_section_obj_begin4);
  else
    section_abandon();
}

void GeneratorV1::pinput_section_obj_begin4(char c) {
  if (c == '.')
    next_input(&GeneratorV1::pinput_section_obj_name);
  else
    section_abandon();
}

void GeneratorV1::pinput_section_obj_name(char c) {
  if (c == '-')
    next_input(&GeneratorV1::pinput_section_obj_name_end1);
  else
    token_.name += c;
}

void GeneratorV1::pinput_section_obj_name_end1(char c) {
  if (c == '-') {
    next_input(&GeneratorV1::pinput_section_obj_name_end2);
    return;
  }
  token_.name += '-';
  token_.name += c;
  next_input(&GeneratorV1::pinput_section_obj_name);
}

void GeneratorV1::pinput_section_obj_name_end2(char c) {
  if (c != '>') return;
  token_.complete = true;
  next_input(&GeneratorV1::pinput_delayed_initial);
}

void GeneratorV1::pinput_value_open(char c) {
  if (c == '%') {
    // The pass state writes the second one.
    put('%');
    next_state(&GeneratorV1::pinput_initial, &GeneratorV1::poutput_pass);
    return;
  }
  token_.type = Token::kValue;
  token_.name.assign(1, c);
  next_input(&GeneratorV1::pinput_value_body);
}

void GeneratorV1::pinput_value_body(char c) {
  if (c != '%') {
    token_.name += c;
    return;
  }
  token_.complete = true;
  next_input(&GeneratorV1::pinput_delayed_initial);
}

void GeneratorV1::pinput_delayed_initial(char c) {
  next_state(&GeneratorV1::pinput_initial, &GeneratorV1::poutput_pass);
  pinput_initial(c);
}

void GeneratorV1::poutput_pass(char c) { put(c); }

void GeneratorV1::poutput_capture(char c) { capture_ += c; }

bool generateV1(const Object& object, std::ostream& out, std::istream& in) {
  GeneratorV1 generator(object, out, in);
  return generator.generate();
}

}  // namespace Html
}  // namespace Stat
