#include "board/request_text.h"

#include <gtest/gtest.h>

#include "board/hal.h"

namespace {

using namespace Board;

// Every request of "/dev/hal" against the driver's own table.
TEST(BoardRequest, HalRequestsDecodeAsTheDriverDefinesThem) {
  const struct {
    Request request;
    Request literal;
    const char* direction;
    Request size;
    char type;
    Request number;
  } cases[] = {
      {Hal::kXcConnect, 0x80084D02, "write", 8, 'M', 2},   {Hal::kXcDisable, 0x80044D03, "write", 4, 'M', 3},
      {Hal::kXcWrite, 0xC0084D04, "rw", 8, 'M', 4},        {Hal::kXcRead, 0xC0084D05, "rw", 8, 'M', 5},
      {Hal::kClockSelect, 0x80044301, "write", 4, 'C', 1}, {Hal::kSpiRead, 0xC0034203, "rw", 3, 'B', 3},
      {Hal::kSpiWrite, 0xC0034204, "rw", 3, 'B', 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(describe(c.request));
    EXPECT_EQ(c.literal, c.request);
    EXPECT_EQ(c.direction, directionName(c.request));
    EXPECT_EQ(c.size, Ppc::size(c.request));
    EXPECT_EQ(static_cast<unsigned char>(c.type), Ppc::type(c.request));
    EXPECT_EQ(c.number, Ppc::number(c.request));
    EXPECT_EQ(c.request, Ppc::encode(Ppc::direction(c.request), c.size, c.type, c.number));
  }
}

TEST(BoardRequest, DescribeGivesNumberDirectionSizeTypeAndNumber) {
  const struct {
    Request request;
    const char* text;
  } cases[] = {
      {0x80084D02, "0x80084D02 (write, 8 bytes, 'M' 2)"}, {0xC0034204, "0xC0034204 (rw, 3 bytes, 'B' 4)"},
      {0x40044206, "0x40044206 (read, 4 bytes, 'B' 6)"},  {Ppc::io('M', 7), "0x20004D07 (none, 0 bytes, 'M' 7)"},
      {0x80010001, "0x80010001 (write, 1 byte, 0x00 1)"}, {0x00000000, "0x00000000 (dir 0, 0 bytes, 0x00 0)"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.text, describe(c.request));
}

// The board's numbers differ from what the host's _IOW would give.
TEST(BoardRequest, PowerPcHelpersGiveTheBoardsNumbers) {
  EXPECT_EQ(0x80084D02u, Ppc::iow('M', 2, 8));
  EXPECT_EQ(0x40044206u, Ppc::ior('B', 6, 4));
  EXPECT_EQ(0xC0084D05u, Ppc::iowr('M', 5, 8));
  EXPECT_EQ(0x20004D07u, Ppc::io('M', 7));
}

}  // namespace
