#include "control/trace_ctl.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "foundation/ini_file.h"
#include "transport/testing/link_test_util.h"

namespace {

struct Flags {
  bool hdlc, lemzgw, events, internal;
};

Flags Read(std::string const& text, TraceCtl& t) {
  IniFile::File file;
  std::istringstream in(text);
  in >> file;
  t.Configure(file["traces"]);
  return Flags{t.signalling.hdlc, t.signalling.lemzgw, t.signalling.events, t.monitoring.internal};
}

}  // namespace

TEST(TraceCtl, SwitchesFromTheConfiguration) {
  const struct {
    const char* text;
    Flags expected;
  } cases[] = {
      {"", {false, false, false, false}},
      {"[traces]\n", {false, false, false, false}},
      {"[traces]\nsignalling.hdlc=true\nsignalling.lemzgw=yes\nsignalling.events=1\nmonitoring.internal=enabled\n",
       {true, true, true, true}},
      {"[traces]\nsignalling.events=true\n", {false, false, true, false}},
      {"[other]\nsignalling.hdlc=true\n", {false, false, false, false}},
      // The second occurrence decides all but the events switch it lacks.
      {"[traces]\nsignalling.hdlc=true\nsignalling.events=true\nmonitoring.internal=true\n"
       "[traces]\nsignalling.lemzgw=true\n",
       {false, true, true, false}},
      {"[traces]\nsignalling.events=true\n[traces]\nsignalling.events=false\n", {false, false, false, false}},
  };
  for (const auto& c : cases) {
    TraceCtl t = {};
    const Flags f = Read(c.text, t);
    EXPECT_EQ(c.expected.hdlc, f.hdlc) << c.text;
    EXPECT_EQ(c.expected.lemzgw, f.lemzgw) << c.text;
    EXPECT_EQ(c.expected.events, f.events) << c.text;
    EXPECT_EQ(c.expected.internal, f.internal) << c.text;
  }
}

TEST(TraceCtl, BadAndRepeatedKeysAreReportedAndLeaveTheSwitchOff) {
  linktest::Streams streams;
  TraceCtl t = {};
  t.signalling.hdlc = true;
  const Flags f = Read("[traces]\nsignalling.hdlc=maybe\nmonitoring.internal=true\nmonitoring.internal=true\n", t);
  EXPECT_FALSE(f.hdlc);
  EXPECT_FALSE(f.internal);
  const std::string err = streams.err.text();
  EXPECT_NE(std::string::npos, err.find("traces: optional key \"signalling.hdlc\" has invalid value=\"maybe\""));
  EXPECT_NE(std::string::npos, err.find("traces: optional key \"monitoring.internal\" is duplicated!"));
}

TEST(TraceCtl, ResetAndTheGlobalStartOff) {
  TraceCtl t = {};
  t.signalling = {true, true, true};
  t.monitoring.internal = true;
  t.Reset();
  EXPECT_FALSE(t.signalling.hdlc || t.signalling.lemzgw || t.signalling.events || t.monitoring.internal);
  EXPECT_FALSE(traces.signalling.hdlc || traces.signalling.lemzgw || traces.signalling.events ||
               traces.monitoring.internal);
}
