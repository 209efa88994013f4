#include "foundation/ini_reader.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

enum AgentKind { kNone = 0, kPlain = 1, kLemz = 2, kWide = 300 };
const IniFile::Symbol<AgentKind> kKinds[] = {{"plain", kPlain}, {"lemzgw", kLemz}, {nullptr, kNone}};

// The first block of section "s" of the given text.
class Block {
public:
  explicit Block(const std::string& text) {
    std::istringstream in(text);
    in >> file;
    block = &*file["s"].begin();
  }
  IniFile::SubSection& operator*() { return *block; }

private:
  IniFile::File file;
  IniFile::SubSection* block;
};

TEST(IniReader, RequiredKeyMissing) {
  Block b("# c\n[s]\nother = 1\n");
  std::ostringstream log;
  IniFile::Reader r("snmpagent: ", log);
  std::string host = "keep";
  r.required.add(&host, "host");
  EXPECT_FALSE(r(*b));
  EXPECT_EQ("snmpagent: required key \"host\" not present, line 2\n", log.str());
  EXPECT_EQ("keep", host);
  EXPECT_EQ(0, (*b)["host"].GetCount());
  EXPECT_EQ(2, (*b).GetKeyCount());
}

TEST(IniReader, RequiredStringMayBeEmpty) {
  Block b("[s]\nhost =\n");
  std::ostringstream log;
  IniFile::Reader r("p: ", log);
  std::string host = "x";
  bool& ok = r.required.add(&host, "host");
  EXPECT_TRUE(r.parse(*b));
  EXPECT_TRUE(ok);
  EXPECT_EQ("", host);
  EXPECT_EQ("", log.str());
}

TEST(IniReader, Messages) {
  const struct {
    const char* name;
    const char* text;
    bool required;
    bool result;
    const char* log;
  } cases[] = {
      {"required invalid", "[s]\nk = maybe\n", true, false,
       "traces: required key \"k\" has invalid value=\"maybe\", line 2\n"},
      {"optional invalid", "[s]\nk = on\n", false, true,
       "traces: optional key \"k\" has invalid value=\"on\", line 2. Key will be ignored.\n"},
      {"required twice, both valid", "[s]\nk = yes\nx=1\nk = no\n", true, false,
       "traces: required key \"k\" is duplicated!\n"
       "traces:  first occurence at 2 line.\n"
       "traces:  second occurence at 4 line.\n"},
      {"optional twice", "[s]\n\nk = yes\n\n\n\nk = no\n", false, true,
       "traces: optional key \"k\" is duplicated!\n"
       "traces:  first occurence at 3 line.\n"
       "traces:  second occurence at 7 line. Both keys will be ignored.\n"},
      {"required three times", "[s]\nk=1\nk=1\nk=0\n", true, false,
       "traces: required key \"k\" specified more than once: 2 3 4 lines\n"},
      {"optional four times", "[s]\nk=1\nk=1\nk=0\nk=0\n", false, true,
       "traces: optional key \"k\" specified more than once: 2 3 4 5 lines. All keys will be ignored.\n"},
      {"optional missing", "[s]\n", false, true, ""},
  };
  for (const auto& c : cases) {
    Block b(c.text);
    std::ostringstream log;
    IniFile::Reader r("traces: ", log);
    bool target = true;
    bool& flag = (c.required ? r.required : r.optional).add(&target, "k");
    flag = true;
    EXPECT_EQ(c.result, r(*b)) << c.name;
    EXPECT_EQ(c.log, log.str()) << c.name;
    EXPECT_TRUE(target) << c.name;
    if (!c.required) {
      EXPECT_FALSE(flag) << c.name;
    }
  }
}

TEST(IniReader, BoolWords) {
  const struct {
    const char* text;
    bool valid;
    bool value;
  } cases[] = {{"true", true, true},    {"false", true, false},    {"yes", true, true},    {"no", true, false},
               {"enabled", true, true}, {"disabled", true, false}, {"enable", true, true}, {"disable", true, false},
               {"1", true, true},       {"0", true, false},        {"on", false, false},   {"off", false, false},
               {"Yes", false, false},   {"", false, false}};
  for (const auto& c : cases) {
    Block b(std::string("[s]\nk=") + c.text + "\n");
    std::ostringstream log;
    IniFile::Reader r("", log);
    bool initial = !c.value;
    bool target = initial;
    bool& flag = r.optional.add(&target, "k");
    EXPECT_TRUE(r(*b));
    EXPECT_EQ(c.valid, flag) << c.text;
    EXPECT_EQ(c.valid ? c.value : initial, target) << c.text;
  }
}

TEST(IniReader, EnumerationWritesOnlyOnSuccess) {
  const struct {
    const char* text;
    bool valid;
    AgentKind value;
  } cases[] = {{"lemzgw", true, kLemz},     {"plain", true, kPlain},
               {"4", true, AgentKind(4)},   {"0x2", true, kLemz},
               {"010", true, AgentKind(8)}, {"4x", false, kWide},
               {"", false, kWide},          {"LEMZGW", false, kWide},
               {"-1", false, kWide},        {"99999999999999999999", false, kWide},
               {"4294967296", false, kWide}};
  for (const auto& c : cases) {
    Block b(std::string("[s]\nname=") + c.text + "\n");
    std::ostringstream log;
    IniFile::Reader r("snmpagent: ", log);
    AgentKind kind = kWide;
    r.required.add(&kind, "name", kKinds);
    EXPECT_EQ(c.valid, r(*b)) << c.text;
    EXPECT_EQ(c.value, kind) << c.text;
    if (!c.valid) {
      EXPECT_EQ(std::string("snmpagent: required key \"name\" has invalid value=\"") + c.text + "\", line 2\n",
                log.str());
    }
  }
}

TEST(IniReader, SmallTargetsRejectOutOfRange) {
  Block b("[s]\na=255\nb=256\nc=-1\n");
  std::ostringstream log;
  IniFile::Reader r("", log);
  unsigned char a = 0, bb = 7, c = 7;
  bool& fa = r.optional.add(&a, "a");
  bool& fb = r.optional.add(&bb, "b");
  bool& fc = r.optional.add(&c, "c");
  EXPECT_TRUE(r(*b));
  EXPECT_TRUE(fa);
  EXPECT_EQ(255, a);
  EXPECT_FALSE(fb);
  EXPECT_EQ(7, bb);
  EXPECT_FALSE(fc);
  EXPECT_EQ(7, c);
}

TEST(IniReader, FirstFailingRequiredKeyStopsEverything) {
  Block b("[s]\nname = lemzgw\nopt = yes\n");
  std::ostringstream log;
  IniFile::Reader r("snmpagent: ", log);
  std::string host = "h", name = "n";
  bool opt = false;
  bool& nameFlag = r.required.add(&name, "name");
  r.required.add(&host, "host");
  bool& optFlag = r.optional.add(&opt, "opt");
  optFlag = true;
  EXPECT_FALSE(r(*b));
  EXPECT_TRUE(nameFlag);
  EXPECT_EQ("lemzgw", name);
  EXPECT_FALSE(opt);
  EXPECT_TRUE(optFlag);
  EXPECT_EQ("snmpagent: required key \"host\" not present, line 1\n", log.str());
}

TEST(IniReader, SameKeyRegisteredTwice) {
  std::ostringstream log;
  IniFile::Reader r("snmpagent: ", log);
  std::string host, name;
  AgentKind kind = kNone;
  r.required.add(&host, "host");
  r.required.add(&name, "name");
  r.required.add(&kind, "name", kKinds);
  IniFile::File f;
  std::istringstream text("[snmpagent]\nhost = 192.0.2.1\nname = lemzgw\n");
  text >> f;
  EXPECT_TRUE(r(*f["snmpagent"].begin()));
  EXPECT_EQ("192.0.2.1", host);
  EXPECT_EQ("lemzgw", name);
  EXPECT_EQ(kLemz, kind);
  EXPECT_EQ("", log.str());
}

}  // namespace
