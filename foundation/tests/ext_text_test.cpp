#include "foundation/ext_text.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>

namespace {

struct Link {
  int number;
  void PutHeader(std::ostream& out) const { out << "link[" << number << "]: "; }
  void PutShortInfo(std::ostream& out) const { out << "link " << number; }
};

enum class State { idle, busy };
std::ostream& operator<<(std::ostream& out, State s) { return out << (s == State::idle ? "idle" : "busy"); }

// Stands in for the main loop's duration statistics.
struct Stats {
  unsigned min, max;
};
std::ostream& operator<<(std::ostream& out, const Stats& s) { return out << "min=" << s.min << " max=" << s.max; }

TEST(ExtText, HeaderShortInfoAndQuoted) {
  Link l{7};
  const char* name = "abc";
  std::ostringstream os;
  os << ext::header(&l) << "up; " << ext::shortinfo(&l) << ' ' << ext::quoted(name) << ' ' << ext::quoted(State::busy)
     << ' ' << ext::quoted("lit");
  EXPECT_EQ("link[7]: up; link 7 \"abc\" \"busy\" \"lit\"", os.str());
}

TEST(ExtText, HexBytes) {
  struct Case {
    std::string bytes;
    const char* text;
    const char* compact;
  };
  const Case cases[] = {
      {"", "", ""},
      {std::string("\x0a\xff", 2), "0A FF ", "0aff"},
      {std::string("\x00\x80\x7f", 3), "00 80 7F ", "00807f"},
  };
  for (const Case& c : cases) {
    std::ostringstream a, b;
    a << ext::hex(c.bytes.data(), static_cast<unsigned>(c.bytes.size()));
    const unsigned char* p = reinterpret_cast<const unsigned char*>(c.bytes.data());
    b << ext::hex(p, p + c.bytes.size());
    EXPECT_EQ(c.text, a.str());
    EXPECT_EQ(c.text, b.str());
    EXPECT_EQ(c.compact, ext::hex_text(c.bytes));
    std::string back = "x";
    EXPECT_TRUE(ext::parse_hex(c.compact, back));
    EXPECT_EQ(c.bytes, back);
  }
  EXPECT_EQ("0a ff", ext::hex_text(std::string("\x0a\xff", 2), ' '));
  std::string kept = "kept";
  for (const char* bad : {"0", "0g", "+1", " 1", "0aF"}) EXPECT_FALSE(ext::parse_hex(bad, kept)) << bad;
  EXPECT_EQ("kept", kept);
  EXPECT_TRUE(ext::parse_hex("0AfF", kept));
  EXPECT_EQ(std::string("\x0a\xff", 2), kept);
}

TEST(ExtText, HexRestoresFlagsButLeavesBlankFill) {
  std::ostringstream os;
  os.fill('*');
  const unsigned char b[] = {0xab};
  os << ext::hex(b, b + 1);
  EXPECT_EQ(' ', os.fill());
  os << 26;
  EXPECT_EQ("AB 26", os.str());
  std::ostringstream o2;
  o2 << std::oct << ext::hex(26u, 0) << ' ' << 8;
  EXPECT_EQ("0x1A 10", o2.str());
}

TEST(ExtText, HexNumber) {
  struct Case {
    unsigned value, digits;
    const char* text;
  };
  const Case cases[] = {
      {26, 0, "0x1A"}, {26, 4, "0x001A"}, {0x12345, 2, "0x12345"}, {0, 0, "0x0"}, {0xFFFFFFFFu, 0, "0xFFFFFFFF"},
  };
  for (const Case& c : cases) {
    std::ostringstream os;
    os << ext::hex(c.value, c.digits);
    EXPECT_EQ(c.text, os.str());
  }
}

TEST(ExtText, TimestampIsDayMonthAndTime) {
  std::ostringstream os;
  ext::timestamp(os);
  EXPECT_TRUE(std::regex_match(os.str(), std::regex("[0-3][0-9]/[01][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9]")))
      << os.str();
}

TEST(ExtTable, RulesAndGaps) {
  ext::Table t(3, 5);
  std::ostringstream os;
  os << t << ext::delimeter;
  t.gap(os);
  EXPECT_EQ("+---+-----+\n|   |     |\n", os.str());
  ext::Table none;
  std::ostringstream empty;
  empty << none << ext::delimeter;
  none.gap(empty);
  EXPECT_EQ("", empty.str());
  ext::Table added;
  added.add(2);
  EXPECT_EQ(1, added.columns());
  std::ostringstream one;
  one << added << ext::delimeter;
  EXPECT_EQ("+--+\n", one.str());
}

TEST(ExtTable, CellsAreCentredWithOddBlankOnTheRight) {
  struct Case {
    const char* text;
    const char* row;
  };
  const Case cases[] = {
      {"abcde", "|abcde|"},                              // exactly the width: no padding
      {"abcd", "|abcd |"},                               // width - 1: the one blank goes right
      {"ab", "| ab  |"},                                 // 3 blanks: 1 left, 2 right
      {"", "|     |"},      {"abcdefgh", "|abcdefgh|"},  // too long: written in full
  };
  for (const Case& c : cases) {
    ext::Table t(5);
    std::ostringstream os;
    os << t << ext::beginrow << c.text << ext::nextrow;
    EXPECT_EQ(std::string(c.row) + "\n", os.str()) << c.text;
  }
}

TEST(ExtTable, TypicalDump) {
  ext::Table t(6, 4, 12);
  std::ostringstream os;
  os << t << ext::delimeter;
  os << t << ext::beginrow << "name" << ext::nextrow << "fd" << ext::nextrow << "measure" << ext::nextrow
     << ext::delimeter;
  os << t << ext::beginrow << std::string("ev") << ext::nextrow << -1 << ext::nextrow << Stats{1, 20} << ext::nextrow;
  os << t << ext::beginrow << "tm" << ext::nextrow << 17u << ext::nextrow << "a" << 'b' << 3 << ext::nextrow;
  os << t << ext::delimeter;
  EXPECT_EQ(
      "+------+----+------------+\n"
      "| name | fd |  measure   |\n"
      "+------+----+------------+\n"
      "|  ev  | -1 |min=1 max=20|\n"
      "|  tm  | 17 |    ab3     |\n"
      "+------+----+------------+\n",
      os.str());
}

TEST(ExtTable, SecondRowWithoutBeginrowIsIgnored) {
  ext::Table t(2, 2);
  std::ostringstream os;
  os << t << ext::beginrow << "a" << ext::nextrow << "b" << ext::nextrow;
  os << t << "c" << ext::nextrow << "d" << ext::nextrow;
  EXPECT_EQ("|a |b |\n", os.str());
}

TEST(ExtTable, UnfinishedRowIsCompletedWithBlankCells) {
  ext::Table t(3, 3, 3);
  std::ostringstream os;
  os << t << ext::beginrow << "a" << ext::nextrow << "dropped";
  EXPECT_EQ("| a |   |   |\n", os.str());
  // A table that has not started a row writes nothing when the sentry ends.
  std::ostringstream quiet;
  quiet << t << ext::beginrow;
  EXPECT_EQ("", quiet.str());
}

TEST(ExtTable, DelimeterCompletesAHalfWrittenRowFirst) {
  ext::Table t(3, 3);
  std::ostringstream os;
  os << t << ext::beginrow << "x" << ext::nextrow << ext::delimeter;
  EXPECT_EQ("| x |   |\n+---+---+\n", os.str());
}

}  // namespace
