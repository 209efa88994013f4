#include "foundation/version.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <sstream>
#include <string>

#include "build_info.h"
#include "foundation/mux_time.h"

namespace {

TEST(Version, CurrentDescribesThisBuild) {
  const Version& v = Version::current;
  EXPECT_EQ(Version::snapshot, v.type());
  EXPECT_EQ(0, v.number());
  EXPECT_STREQ("", v.label());
  EXPECT_STREQ(ULV_BUILD_CPU, v.cpu());
  EXPECT_STRNE("", v.cpu());
  EXPECT_STRNE("", v.builder());
  EXPECT_TRUE(std::regex_match(v.tag(), std::regex("T[0-9]{6}-[0-9]{4}"))) << v.tag();
  EXPECT_TRUE(std::regex_match(v.built(), std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}"))) << v.built();
  // Tag and stamp name the same minute: T230809-2031 and 2023-08-09 20:31.
  std::string built = v.built();
  std::string from_stamp = "T" + built.substr(2, 2) + built.substr(5, 2) + built.substr(8, 2) + "-" +
                           built.substr(11, 2) + built.substr(14, 2);
  EXPECT_EQ(from_stamp, v.tag());
}

TEST(Version, PrintsTheTagOnly) {
  Version v(Version::release, 3, "lbl", "me", "2023-08-09 20:31", "T230809-2031", "ppc");
  std::ostringstream os;
  os << v;
  EXPECT_EQ("T230809-2031", os.str());
  EXPECT_STREQ("T230809-2031", v.tag());
  v.update();
  EXPECT_STREQ("me", v.builder());
}

TEST(Version, TypeNamesAndSuffixes) {
  struct Case {
    int type;
    const char* name;
    const char* suffix;
  };
  const Case cases[] = {
      {0, "snapshot", "S"},  {1, "test", "T"},    {2, "release", "R"},
      {3, "unit-test", "T"}, {7, "unknown", "U"}, {-1, "unknown", "U"},
  };
  for (const Case& c : cases) {
    auto t = static_cast<Version::Type>(c.type);
    // Read back from memory, as a value kept in a record would be.
    const Version::Type kept[] = {t};
    EXPECT_STREQ(c.name, version_string(kept[0])) << c.type;
    EXPECT_STREQ(c.name, version_string(t)) << c.type;
    EXPECT_STREQ(c.suffix, version_suffix(t)) << c.type;
    std::ostringstream os;
    os << t;
    EXPECT_EQ(c.name, os.str());
  }
}

TEST(TraceBlock, EnterAndLeaveOnlyWhenOn) {
  std::ostringstream os;
  { Trace::Block b(true, "scope", os); }
  EXPECT_EQ("Enter scope\nLeave scope\n", os.str());
  std::ostringstream off;
  { Trace::Block b(false, "scope", off); }
  EXPECT_EQ("", off.str());
}

class ProfilePoint : public ::testing::Test {
protected:
  void TearDown() override { Mux::clear_cached_time(); }
  static void advance_us(unsigned us) {
    Mux::timevaladd(now_, Mux::make_from_usec(us));
    Mux::set_cached_time(now_);
  }
  void SetUp() override {
    now_ = Mux::timeval(100, 0);
    Mux::set_cached_time(now_);
  }
  static inline Mux::timeval now_;
};

std::string text(const Profile::Point& p) {
  std::ostringstream os;
  os << p;
  return os.str();
}

TEST_F(ProfilePoint, NeverMeasuredPrintsZeros) {
  Profile::Point p("idle");
  EXPECT_EQ("[idle]: min=0 max=0 avg=0 counter=0", text(p));
}

TEST_F(ProfilePoint, KeepsMinMaxAndLatest) {
  Profile::Point p("work");
  for (unsigned d : {250u, 100u, 900u, 300u}) {
    p.begin();
    advance_us(d);
    p.end();
  }
  EXPECT_EQ("[work]: min=100 max=900 avg=300 counter=4", text(p));
}

TEST_F(ProfilePoint, DurationSurvivesMicrosecondWrap) {
  // 4294.967295 s is the last microsecond before the counter wraps.
  now_ = Mux::timeval(4294, 967000);
  Mux::set_cached_time(now_);
  Profile::Point p("wrap");
  p.begin();
  advance_us(1000);
  p.end();
  EXPECT_EQ(1000u, p.last());
}

TEST_F(ProfilePoint, DumpListsLivePointsNewestFirst) {
  Profile::Point* before = Profile::mRoot;
  Profile::Point a("a");
  std::string dumped;
  {
    Profile::Point b("b");
    Profile::Point c("c");
    EXPECT_EQ(&c, Profile::mRoot);
    std::ostringstream os;
    Profile::dump(os);
    dumped = os.str();
    EXPECT_EQ(0u, dumped.find("[c]: min=0 max=0 avg=0 counter=0\n"
                              "[b]: min=0 max=0 avg=0 counter=0\n"
                              "[a]: min=0 max=0 avg=0 counter=0\n"));
  }
  EXPECT_EQ(&a, Profile::mRoot);
  {
    auto* d = new Profile::Point("d");
    Profile::Point e("e");
    delete d;
    EXPECT_EQ(&e, Profile::mRoot);
    EXPECT_EQ(&a, e.next());
  }
  EXPECT_EQ(&a, Profile::mRoot);
  EXPECT_EQ(before, a.next());
}

}  // namespace
