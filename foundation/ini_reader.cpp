#include "foundation/ini_reader.h"

namespace IniFile {

namespace Private {

bool TKeyValue<bool>::do_parse(const char* text) {
  static const struct {
    const char* text;
    bool value;
  } words[] = {{"true", true},      {"false", false}, {"yes", true},      {"no", false}, {"enabled", true},
               {"disabled", false}, {"enable", true}, {"disable", false}, {"1", true},   {"0", false}};
  for (const auto& w : words)
    if (std::strcmp(text, w.text) == 0) {
      *target = w.value;
      return true;
    }
  return false;
}

}  // namespace Private

bool Reader::readKey(SubSection& block, Private::KeyValue& kv, bool isRequired) {
  const char* kind = isRequired ? "required" : "optional";
  Key& key = block[kv.name()];
  const int n = key.GetCount();
  if (n == 0) {
    if (isRequired)
      *out << prefix << "required key \"" << kv.name() << "\" not present, line " << block.GetLineNo() << std::endl;
    return false;
  }
  if (n == 1) {
    SubKey& occurrence = *key.GetFirstSubKey();
    if (kv.parse(occurrence.GetStr())) return true;
    *out << prefix << kind << " key \"" << kv.name() << "\" has invalid value=\"" << occurrence.GetStr() << "\", line "
         << occurrence.GetLineNo();
    if (!isRequired) *out << ". Key will be ignored.";
    *out << std::endl;
    return false;
  }
  if (n == 2) {
    *out << prefix << kind << " key \"" << kv.name() << "\" is duplicated!" << std::endl;
    *out << prefix << " first occurence at " << key.GetFirstSubKey()->GetLineNo() << " line." << std::endl;
    *out << prefix << " second occurence at " << key.GetLastSubKey()->GetLineNo() << " line.";
    if (!isRequired) *out << " Both keys will be ignored.";
    *out << std::endl;
    return false;
  }
  *out << prefix << kind << " key \"" << kv.name() << "\" specified more than once:";
  for (Key::iterator i = key.begin(); i != key.end(); ++i) *out << " " << i->GetLineNo();
  *out << " lines";
  if (!isRequired) *out << ". All keys will be ignored.";
  *out << std::endl;
  return false;
}

bool Reader::parse(SubSection& block) {
  for (Private::KeyValue* kv : required.entries)
    if (!readKey(block, *kv, true)) return false;
  for (Private::KeyValue* kv : optional.entries) {
    kv->valid = false;
    readKey(block, *kv, false);
  }
  return true;
}

}  // namespace IniFile
