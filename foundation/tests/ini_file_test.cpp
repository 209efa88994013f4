#include "foundation/ini_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

// The model in one line: "[section:line] key:line=<value> ..." in iteration order.
std::string render(const IniFile::File& f) {
  std::string out;
  for (auto s = f.begin(); s != f.end(); ++s)
    for (auto b = s->begin(); b != s->end(); ++b) {
      if (!out.empty()) out += ' ';
      out += "[" + s->GetName() + ":" + std::to_string(b->GetLineNo()) + "]";
      for (auto k = b->begin(); k != b->end(); ++k)
        for (auto o = k->begin(); o != k->end(); ++o)
          out += " " + k->GetName() + ":" + std::to_string(o->GetLineNo()) + "=<" + o->GetStr() + ">";
    }
  return out;
}

std::string parse(const std::string& text) {
  IniFile::File f;
  std::istringstream in(text);
  in >> f;
  EXPECT_TRUE(f.IsOpen());
  return render(f);
}

struct ParseCase {
  const char* name;
  const char* text;
  const char* model;
};

const ParseCase kParseCases[] = {
    {"empty", "", ""},
    {"text before first header is skipped", "k=v\n[a]\nx=1\n", "[a:2] x:3=<1>"},
    {"blanks around equals and value trimmed", "[a]\n  key =   v  \n", "[a:1] key:2=<v>"},
    {"inner blanks kept", "[a]\nkey = a  b   \n", "[a:1] key:2=<a  b>"},
    {"tab inside value kept", "[a]\nkey = a\tb\n", "[a:1] key:2=<a\tb>"},
    {"tab after equals is a value byte", "[a]\nkey =\tb\n", "[a:1] key:2=<\tb>"},
    {"inner blanks in key kept", "[a]\nk e  y = v\n", "[a:1] k e  y:2=<v>"},
    {"key may hold [ and # after its first byte", "[a]\nk[#x = v\n", "[a:1] k[#x:2=<v>"},
    {"comment after value needs a blank", "[a]\nk = a#b\nj = a #b\n", "[a:1] k:2=<a#b> j:3=<a>"},
    {"comment right after equals gives empty value", "[a]\nk =# c\n", "[a:1] k:2=<>"},
    {"comment lines", "# top\n[a] # c\n  # x = 1\nk=v\n", "[a:2] k:4=<v>"},
    {"line without equals dropped, next header opens", "[a]\nkey\n  [next]\nx=1\n", "[a:1] [next:3] x:4=<1>"},
    {"text after ] ignored", "[a] x = 1\ny=2\n", "[a:1] y:2=<2>"},
    {"header name kept untrimmed", "[ a ]\nk=v\n", "[ a :1] k:2=<v>"},
    {"unterminated header skips until a [", "[abc\nk=v\nfoo [b]\nx=1\n", "[b:3] x:4=<1>"},
    {"unterminated header at end of file dropped", "[a]\nk=v\n[b", "[a:1] k:2=<v>"},
    {"leading = starts the key name", "[a]\n=a=b\n= b\n", "[a:1] =a:2=<b>"},
    {"CR LF reads like LF", "[a]\r\nk = v \r\nj=w\r\n", "[a:1] k:2=<v> j:3=<w>"},
    {"lone CR inside value disappears", "[a]\nk = a\rb\n", "[a:1] k:2=<ab>"},
    {"empty value at end of file", "[a]\nkey =", "[a:1] key:2=<>"},
    {"value at end of file", "[a]\nkey = v", "[a:1] key:2=<v>"},
    {"key without equals at end of file dropped", "[a]\nkey", "[a:1]"},
    {"repeated sections and keys keep every occurrence", "[a]\nk=1\nj=2\nk=3\n[b]\n[a]\nk=4\n",
     "[a:1] k:2=<1> k:4=<3> j:3=<2> [a:6] k:7=<4> [b:5]"},
    {"example configuration",
     "#global settings\n[traces]\nsignalling.hdlc = yes   # on\n[snmpagent]\nhost=192.0.2.1:7000\n"
     "name = lemzgw\n[snmpagent]\nhost = 192.0.2.2\n",
     "[traces:2] signalling.hdlc:3=<yes> [snmpagent:4] host:5=<192.0.2.1:7000> name:6=<lemzgw> "
     "[snmpagent:7] host:8=<192.0.2.2>"},
};

class IniParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(IniParse, Model) { EXPECT_EQ(GetParam().model, parse(GetParam().text)) << GetParam().name; }

INSTANTIATE_TEST_SUITE_P(Cases, IniParse, ::testing::ValuesIn(kParseCases));

TEST(IniFile, MissingFileIsNotOpenAndEmpty) {
  IniFile::File f;
  EXPECT_FALSE(f.Open("/nonexistent/dir/server.conf"));
  EXPECT_EQ(0, f.GetSectionCount());
  EXPECT_EQ(0, f["traces"].GetSubSectionCount());
}

TEST(IniFile, OpenReadsFileAndCloseEmptiesIt) {
  char path[] = "/tmp/ini_file_testXXXXXX";
  int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  std::ofstream(path) << "[a]\nk = v\n";
  IniFile::File f(path);
  EXPECT_TRUE(f.IsOpen());
  EXPECT_EQ("[a:1] k:2=<v>", render(f));
  f.Close();
  EXPECT_EQ(0, f.GetSectionCount());
  EXPECT_FALSE(f.IsOpen());
  std::remove(path);
  EXPECT_FALSE(f.Open(path));
  EXPECT_EQ(0, f.GetSectionCount());
}

TEST(IniFile, AbsentLookupsLeaveEmptyEntries) {
  IniFile::File f;
  std::istringstream in("[a]\nk=v\n");
  in >> f;
  IniFile::SubSection& block = *f["a"].begin();
  EXPECT_EQ(0, block["absent"].GetCount());
  EXPECT_EQ(2, block.GetKeyCount());
  EXPECT_EQ("", block["absent"].GetStr());
  EXPECT_EQ(1, block["absent"].GetCount());
  EXPECT_EQ(-1, block["absent"].GetFirstSubKey()->GetLineNo());

  IniFile::Section& none = f["none"];
  EXPECT_EQ(0, none.GetSubSectionCount());
  none.CheckEmpty();
  ASSERT_EQ(1, none.GetSubSectionCount());
  EXPECT_EQ(-1, none.begin()->GetLineNo());
}

TEST(IniFile, FirstAndLastOccurrence) {
  IniFile::File f;
  std::istringstream in("[a]\nk=1\nk=2\nk=3\n");
  in >> f;
  IniFile::Key& k = (*f["a"].begin())["k"];
  EXPECT_EQ(3, k.GetCount());
  EXPECT_EQ("1", k.GetStr());
  EXPECT_EQ(4, k.GetLastSubKey()->GetLineNo());
  EXPECT_EQ("3", k.GetLastSubKey()->GetStr());
}

TEST(IniSubKey, GetBool) {
  const struct {
    const char* text;
    bool def;
    bool expected;
  } cases[] = {{"true", false, true}, {"false", true, false}, {"yes", false, true}, {"no", true, false},
               {"1", false, true},    {"0", true, false},     {"on", false, true},  {"off", true, false},
               {"Yes", false, false}, {"Yes", true, true},    {"", true, true},     {"enabled", false, false}};
  for (const auto& c : cases) {
    IniFile::SubKey k(c.text, 1);
    EXPECT_EQ(c.expected, k.GetBool(c.def)) << c.text;
  }
}

TEST(IniSubKey, GetInt) {
  const struct {
    const char* text;
    int expected;
  } cases[] = {{"12", 12},
               {"12abc", 12},
               {"  -7", -7},
               {"0x10", 0},
               {"abc", 99},
               {"", 99},
               {"2147483647", 2147483647},
               {"-2147483648", -2147483647 - 1},
               {"2147483648", 99},
               {"-99999999999999999999", 99}};
  for (const auto& c : cases) {
    IniFile::SubKey k(c.text, 1);
    EXPECT_EQ(c.expected, k.GetInt(99)) << c.text;
  }
}

TEST(IniSubKey, GetFloatAndSetters) {
  IniFile::SubKey k("2.5x", 1);
  EXPECT_FLOAT_EQ(2.5f, k.GetFloat(1.0f));
  k.GetStr() = "x";
  EXPECT_FLOAT_EQ(1.0f, k.GetFloat(1.0f));
  k.GetStr() = "1e99";
  EXPECT_FLOAT_EQ(1.0f, k.GetFloat(1.0f));

  k.SetFloat(3.14159265f);
  EXPECT_EQ("3.14159", k.GetStr());
  k.SetInt(-42);
  EXPECT_EQ("-42", k.GetStr());
  k.SetBool(true);
  EXPECT_EQ("yes", k.GetStr());
  k.SetBool(false);
  EXPECT_EQ("no", k.GetStr());
}

TEST(IniFile, Dump) {
  IniFile::File f;
  std::istringstream in("[a]\nk = v\n");
  in >> f;
  std::ostringstream out;
  f.Dump(out);
  EXPECT_EQ(
      "dumping IniFile::File\nmFileName=\"\"\n\nmSectionCount=1\n"
      "dumping IniFile::Section\nmName=\"a\"\nmSubSectionCount=1\n"
      "dumping IniFile::SubSection\nmLineNo=\"1\"\nmKeyCount=1\n"
      "dumping IniFile::Key\nmName=\"k\"\nmSubKeyCount=1\n"
      "dumping IniFile::SubKey\nmValue=\"v\"\nmLineNo=2\n",
      out.str());
}

}  // namespace
