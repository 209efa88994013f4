#include "hardware/dev_names.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <sstream>
#include <string>

namespace {

struct NameCase {
  const char* (*getter)();
  const char* path;
};

TEST(DevNames, DevicePaths) {
  const NameCase cases[] = {
      {GetVoiceDevName, "/dev/voice"}, {GetMixerDevName, "/dev/mixer"},      {GetDTMFDevName, "/dev/dtmf"},
      {GetDSPDevName, "/dev/dsp"},     {GetRtpDevName, "/dev/rtp"},          {GetRtpExtDevName, "/dev/rtp_ext"},
      {GetModemDevName, "/dev/mctl"},  {GetMaintenance, "/dev/maintenance"}, {GetSpiTdmDevName, "/dev/spi_tdm"},
  };
  for (const NameCase& c : cases) EXPECT_STREQ(c.path, c.getter());
}

TEST(DevNames, CodecNames) {
  const struct {
    int codec;
    const char* name;
  } cases[] = {
      {0, "unknown"},  {1, "g711"},      {2, "g723"},          {3, "g729"},          {4, "tonec"},
      {5, "g711-rtp"}, {6, "g729-rtp"},  {7, "g723-rtp"},      {8, "conf"},          {9, "invalid"},
      {-1, "invalid"}, {100, "invalid"}, {INT_MIN, "invalid"}, {INT_MAX, "invalid"},
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
      {0x3000004, "Memory allocation failed"},
      {0x3000008, "Allocated buffer too small"},
      {0x3000101, "Maximum number of contexts exceeded"},
      {0x3000102, "Context destroyed or never created"},
      {0x3000103, "Socket not open for reading or writing"},
      {0x3000104, "Can't obtain a new socket"},
      {0x3000105, "Can't bind socket"},
      {0x3000106, "Unable to set socket option"},
      {0x3000107, "Unable to write to socket"},
      {0x3000108, "Unable to read from socket"},
      {0x3000109, "Socket does not belong to session"},
      {0x300010A, "Change not allowed during open session"},
      {0x300010B, "Invalid address specified"},
      {0x300010C, "Invalid port specified"},
      {0x300010E, "Unable to close session"},
      {0x300010F, "No such membership info"},
      {0x3000110, "Invalid rtpprofile specified"},
      {0x3000111, "no data to receive at socket"},
      {0x3000112, "Packet looped back"},
      {0x3000113, "CSRC list not yet set"},
      {0x3000114, "2 CSRCs on list have same SSRC"},
      {0x3000115, "Packet has incorrect format"},
      {0x3000116, "Person not session member"},
      {0x3000117, "Person data protected"},
      {0x3000118, "No such sender in current session"},
      {0x3000119, "No such SDES field"},
      {0x300011A, "Encryption / decryption function not set"},
      {0x300011B, "Packet was unsuccessfully decrypted"},
      {0x300011C, "End of iterating list"},
      {0x300011D, "Not allowed to recurse"},
      {0x300011E, "SSRC in use"},
      {0x300011F, "Couldn't get socket name"},
      {0x3000120, "No such contributor"},
      {0x3000121, "CSRC list full"},
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

TEST(DevNames, ConnectionParamsPrinter) {
  rtp_connection_params p = {};
  p.packet_factor = 2;
  p.rx_pt = 8;
  p.tx_pt = 65535;
  p.ssrc = 0xFFFFFFFFu;
  EXPECT_EQ(
      "  rtp_connection_params\n"
      "  {\n"
      "   packet_factor = 2\n"
      "   rx_pt = 8\n"
      "   tx_pt = 65535\n"
      "   ssrc = 4294967295\n"
      "  }\n",
      Print(p));
  // The stream's base is kept.
  EXPECT_EQ(
      "  rtp_connection_params\n"
      "  {\n"
      "   packet_factor = 2\n"
      "   rx_pt = 8\n"
      "   tx_pt = ffff\n"
      "   ssrc = ffffffff\n"
      "  }\n",
      Print(p, std::hex));
}

TEST(DevNames, AttachAndInitPrinters) {
  rtp_attach_session_params a = {};
  a.fd_rtp = 12;
  a.pid_rtp = -1;
  EXPECT_EQ(
      "  rtp_attach_session_params\n"
      "  {\n"
      "   fd_rtp = 12\n"
      "   pid_rtp = -1\n"
      "  }\n",
      Print(a));
  rtp_ext_attach_session_params x = {};
  x.fd_rtp = 3;
  x.pid_rtp = 4711;
  EXPECT_EQ(
      "  rtp_ext_attach_session_params\n"
      "  {\n"
      "   fd_rtp = 3\n"
      "   pid_rtp = 4711\n"
      "  }\n",
      Print(x));
  rtp_ext_init_params i = {};
  i.etype = 0xFFFF;
  i.param1 = 99;
  EXPECT_EQ(
      "  rtp_ext_init_params\n"
      "  {\n"
      "   etype = 65535\n"
      "  }\n",
      Print(i));
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
