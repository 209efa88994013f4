#include "foundation/ini_file.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>

namespace IniFile {

bool SubKey::GetBool(bool def) {
  static const struct {
    const char* text;
    bool value;
  } words[] = {{"true", true}, {"false", false}, {"yes", true}, {"no", false},
               {"1", true},    {"0", false},     {"on", true},  {"off", false}};
  for (const auto& w : words)
    if (mValue == w.text) return w.value;
  return def;
}

void SubKey::SetBool(bool value) { mValue = value ? "yes" : "no"; }

int SubKey::GetInt(int def) {
  const char* text = mValue.c_str();
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (end == text || errno == ERANGE || v < INT_MIN || v > INT_MAX) return def;
  return static_cast<int>(v);
}

float SubKey::GetFloat(float def) {
  const char* text = mValue.c_str();
  char* end = nullptr;
  errno = 0;
  float v = std::strtof(text, &end);
  if (end == text || (errno == ERANGE && std::isinf(v))) return def;
  return v;
}

void SubKey::SetInt(int value) {
  std::ostringstream s;
  s << value;
  mValue = s.str();
}

void SubKey::SetFloat(float value) {
  std::ostringstream s;
  s << value;
  mValue = s.str();
}

void SubKey::Dump(std::ostream& out) const {
  out << "dumping IniFile::SubKey\n"
      << "mValue=\"" << mValue << "\"\n"
      << "mLineNo=" << mLineNo << "\n";
}

SubKey* Key::NewSubKey(const std::string& value, int line) { return mSubKeys.append(new SubKey(value, line)); }

void Key::CheckEmpty() {
  if (mSubKeys.count() == 0) NewSubKey(std::string(), -1);
}

SubKey* Key::GetFirstSubKey() {
  CheckEmpty();
  return mSubKeys.first();
}

SubKey* Key::GetLastSubKey() {
  CheckEmpty();
  return mSubKeys.last();
}

void Key::Dump(std::ostream& out) const {
  out << "dumping IniFile::Key\n"
      << "mName=\"" << mName << "\"\n"
      << "mSubKeyCount=" << mSubKeys.count() << "\n";
  for (iterator i = begin(); i != end(); ++i) i->Dump(out);
}

Key& SubSection::operator[](const std::string& name) {
  auto found = mKeyMap.find(name);
  if (found != mKeyMap.end()) return *found->second;
  Key* key = mKeys.append(new Key(name));
  mKeyMap.emplace(name, key);
  return *key;
}

SubKey* SubSection::NewSubKey(const std::string& name, const std::string& value, int line) {
  return (*this)[name].NewSubKey(value, line);
}

void SubSection::Dump(std::ostream& out) const {
  out << "dumping IniFile::SubSection\n"
      << "mLineNo=\"" << mLineNo << "\"\n"
      << "mKeyCount=" << mKeys.count() << "\n";
  for (iterator i = begin(); i != end(); ++i) i->Dump(out);
}

SubSection* Section::NewSubSection(int line) { return mSubSections.append(new SubSection(line)); }

void Section::CheckEmpty() {
  if (mSubSections.count() == 0) NewSubSection(-1);
}

void Section::Dump(std::ostream& out) const {
  out << "dumping IniFile::Section\n"
      << "mName=\"" << mName << "\"\n"
      << "mSubSectionCount=" << mSubSections.count() << "\n";
  for (iterator i = begin(); i != end(); ++i) i->Dump(out);
}

File::~File() {
  Close();
  clear();
}

void File::clear() {
  mSectionMap.clear();
  mSections.clear();
}

bool File::Open(const std::string& name) {
  Close();
  mFileName = name;
  std::ifstream in(name.c_str(), std::ios::in | std::ios::binary);
  if (in.is_open()) parse(in);
  return mOpen;
}

void File::Close() {
  if (!mOpen) return;
  clear();
  mOpen = false;
}

Section& File::operator[](const std::string& name) {
  auto found = mSectionMap.find(name);
  if (found != mSectionMap.end()) return *found->second;
  Section* section = mSections.append(new Section(name));
  mSectionMap.emplace(name, section);
  return *section;
}

SubSection* File::NewSubSection(const std::string& name, int line) { return (*this)[name].NewSubSection(line); }

void File::Dump(std::ostream& out) const {
  out << "dumping IniFile::File\n"
      << "mFileName=\"" << mFileName << "\"\n"
      << "\n"
      << "mSectionCount=" << mSections.count() << "\n";
  for (iterator i = begin(); i != end(); ++i) i->Dump(out);
}

std::istream& operator>>(std::istream& in, File& file) {
  file.Close();
  file.mFileName.clear();
  file.parse(in);
  return in;
}

void File::parse(std::istream& in) {
  enum State { Outside, Header, AfterHeader, LineStart, InKey, AfterEquals, Value };

  mOpen = true;
  State state = Outside;
  SubSection* current = nullptr;
  std::string header, key, value;
  int blanks = 0;
  bool comment = false;
  int line = 1;

  auto commit = [&] {
    if (current) current->NewSubKey(key, value, line);
    key.clear();
  };

  for (int c = in.get(); c != std::char_traits<char>::eof(); c = in.get()) {
    if (c == '\r') continue;
    if (comment) {
      if (c != '\n') continue;
      comment = false;
    }
    const char ch = static_cast<char>(c);
    switch (state) {
      case Outside:
        if (c == '#') {
          comment = true;
        } else if (c == '[') {
          header.clear();
          state = Header;
        }
        break;
      case Header:
        if (c == '\n') {
          state = Outside;
        } else if (c == ']') {
          current = NewSubSection(header, line);
          state = AfterHeader;
        } else {
          header += ch;
        }
        break;
      case AfterHeader:
        if (c == '\n')
          state = LineStart;
        else if (c == '#')
          comment = true;
        break;
      case LineStart:
        if (c == '#') {
          comment = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
        } else if (c == '[') {
          header.clear();
          state = Header;
        } else {
          key.assign(1, ch);
          blanks = 0;
          state = InKey;
        }
        break;
      case InKey:
        if (c == ' ') {
          ++blanks;
        } else if (c == '=') {
          value.clear();
          state = AfterEquals;
        } else if (c == '\n') {
          key.clear();
          blanks = 0;
          state = LineStart;
        } else {
          key.append(blanks, ' ');
          blanks = 0;
          key += ch;
        }
        break;
      case AfterEquals:
        if (c == ' ') {
        } else if (c == '#') {
          comment = true;
        } else if (c == '\n') {
          commit();
          state = LineStart;
        } else {
          value += ch;
          blanks = 0;
          state = Value;
        }
        break;
      case Value:
        if (c == ' ') {
          ++blanks;
        } else if (c == '#' && blanks > 0) {
          blanks = 0;
          comment = true;
        } else if (c == '\n') {
          commit();
          state = LineStart;
        } else {
          value.append(blanks, ' ');
          blanks = 0;
          value += ch;
        }
        break;
    }
    if (c == '\n') ++line;
  }
  if (state == AfterEquals || state == Value) commit();
}

}  // namespace IniFile
