#pragma once
// tshark reading back a capture of the simulated board's lines, for tests.
// A test without tshark on the machine skips what needs it.
#include <string>
#include <vector>

namespace SimBoard {

bool HaveTshark();

// tshark's fields of every frame of file that passes the display filter
// (none where empty), one line per frame, fields split by '|'; every line as
// tshark printed it, none where tshark could not run.
std::vector<std::string> TsharkFields(const std::string& file, const std::string& fields,
                                      const std::string& filter = "");

// Each packet as one UDP datagram from port src to dst on 127.0.0.1, written
// by text2pcap and read by tshark with the datagrams to dst decoded as proto
// (e.g. "rtp", "rtcp"); the fields as TsharkFields gives them, none when
// text2pcap or tshark could not run.
bool HaveText2pcap();
std::vector<std::string> TsharkUdp(const std::vector<std::string>& packets, unsigned src, unsigned dst,
                                   const std::string& proto, const std::string& fields);

}  // namespace SimBoard
