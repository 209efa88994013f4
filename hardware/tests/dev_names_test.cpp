#include "hardware/dev_names.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <sstream>
#include <string>

namespace {

// The paths nothing else in the daemon opens; the others are the board
// headers' own constants.
TEST(DevNames, DevicePaths) {
  EXPECT_STREQ("/dev/spi_tdm", GetSpiTdmDevName());
  EXPECT_STREQ("/dev/rtp_ext", GetRtpExtDevName());
}

// The tables' sizes are checked where they are written; these are the edges.
TEST(DevNames, CodecNames) {
  const struct {
    int codec;
    const char* name;
  } cases[] = {
      {TraceCodec::kUnknown, "unknown"}, {TraceCodec::kG711, "g711"}, {TraceCodec::kConf, "conf"},
      {TraceCodec::kCount, "invalid"},   {-1, "invalid"},             {INT_MIN, "invalid"},
      {INT_MAX, "invalid"},
  };
  for (const auto& c : cases) EXPECT_STREQ(c.name, GetCodecAsStr(c.codec)) << c.codec;
}

TEST(DevNames, RtpErrorTexts) {
  const struct {
    int code;
    const char* text;
  } cases[] = {
      {0, "No error"},
      {0x3000002, "Parameter out of range"},
      {0x3000101, "Maximum number of contexts exceeded"},
      {0x3000107, "Unable to write to socket"},
      {0x3000122, "Don't send this packet now"},
      // Unknown codes, among them the one gap in the numbering.
      {0x300010D, "Unknown RTP Error 50331917"},
      {1, "Unknown RTP Error 1"},
      {0x3000123, "Unknown RTP Error 50331939"},
      {-5, "Unknown RTP Error -5"},
      {INT_MIN, "Unknown RTP Error -2147483648"},
  };
  for (const auto& c : cases) EXPECT_STREQ(c.text, RTPStrError(c.code)) << std::hex << c.code;
}

TEST(DevNames, UnknownRtpErrorTextIsOverwrittenByTheNext) {
  const char* first = RTPStrError(7);
  EXPECT_STREQ("Unknown RTP Error 7", first);
  const char* second = RTPStrError(8);
  EXPECT_EQ(first, second);
  EXPECT_STREQ("Unknown RTP Error 8", first);
}

TEST(DevNames, RtpErrPrintsTheErrnoOfItsMakingNotItsCode) {
  errno = EBADF;
  const RtpErr e(0x3000107);
  errno = ENOENT;
  EXPECT_EQ(EBADF, e.error());
  EXPECT_EQ(0x3000107, e.code());
  std::ostringstream out;
  out << e;
  EXPECT_EQ(std::strerror(EBADF), out.str());
}

template <class T>
std::string Print(const T& value, std::ios_base& (*base)(std::ios_base&) = std::dec) {
  std::ostringstream out;
  out << base << value;
  return out.str();
}

// "  name\n  {\n", a line per field, "  }\n".
std::string Block(const char* name, std::initializer_list<const char*> fields) {
  std::string text = std::string("  ") + name + "\n  {\n";
  for (const char* f : fields) text += std::string("   ") + f + "\n";
  return text + "  }\n";
}

TEST(DevNames, ConnectionParamsPrinter) {
  rtp_connection_params p = {};
  p.packet_factor = 2;
  p.rx_pt = 8;
  p.tx_pt = 65535;
  p.ssrc = 0xFFFFFFFFu;
  EXPECT_EQ(Block("rtp_connection_params", {"packet_factor = 2", "rx_pt = 8", "tx_pt = 65535", "ssrc = 4294967295"}),
            Print(p));
  // The stream's base is kept.
  EXPECT_EQ(Block("rtp_connection_params", {"packet_factor = 2", "rx_pt = 8", "tx_pt = ffff", "ssrc = ffffffff"}),
            Print(p, std::hex));
}

TEST(DevNames, AttachAndInitPrinters) {
  rtp_attach_session_params a = {};
  a.fd_rtp = 12;
  a.pid_rtp = -1;
  EXPECT_EQ(Block("rtp_attach_session_params", {"fd_rtp = 12", "pid_rtp = -1"}), Print(a));
  rtp_ext_attach_session_params x = {};
  x.fd_rtp = 3;
  x.pid_rtp = 4711;
  EXPECT_EQ(Block("rtp_ext_attach_session_params", {"fd_rtp = 3", "pid_rtp = 4711"}), Print(x));
  rtp_ext_init_params i = {};
  i.etype = 0xFFFF;
  i.param1 = 99;
  EXPECT_EQ(Block("rtp_ext_init_params", {"etype = 65535"}), Print(i));
}

TEST(DevNames, ChannelInfoPrinter) {
  rtp_channel_info c = {};
  c.tdm = -1;
  c.dev_no = 2;
  c.chn = 31;
  EXPECT_EQ("rtp_channel_info { tdm=-1 dev_no=2 chn=31 }", Print(c));
  EXPECT_EQ("rtp_channel_info { tdm=ffffffff dev_no=2 chn=1f }", Print(c, std::hex));
}

TEST(DevNames, PrintersReturnTheStream) {
  std::ostringstream out;
  rtp_channel_info c = {};
  rtp_ext_init_params i = {};
  out << c << "|" << i << "end";
  EXPECT_EQ("rtp_channel_info { tdm=0 dev_no=0 chn=0 }|  rtp_ext_init_params\n  {\n   etype = 0\n  }\nend", out.str());
}

}  // namespace
