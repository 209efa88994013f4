#include "simboard/testing/tshark.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <stdlib.h>
#include <unistd.h>

namespace SimBoard {

bool HaveTshark() { return std::system("tshark --version >/dev/null 2>&1") == 0; }

std::vector<std::string> TsharkFields(const std::string& file, const std::string& fields, const std::string& filter) {
  const std::string display = filter.empty() ? "" : " -Y '" + filter + "'";
  const std::string cmd =
      "tshark -n -r '" + file + "'" + display + " -T fields -E separator='|' " + fields + " 2>/dev/null";
  std::vector<std::string> lines;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return lines;
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  ::pclose(p);
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

bool HaveText2pcap() { return std::system("text2pcap -v >/dev/null 2>&1") == 0; }

std::vector<std::string> TsharkUdp(const std::vector<std::string>& packets, unsigned src, unsigned dst,
                                   const std::string& proto, const std::string& fields) {
  char dir[] = "/tmp/ulvarond-udp-XXXXXX";
  if (!::mkdtemp(dir)) return {};
  const std::string text = std::string(dir) + "/udp.txt", pcap = std::string(dir) + "/udp.pcap";
  if (std::FILE* f = std::fopen(text.c_str(), "w")) {
    for (const std::string& p : packets) {
      std::fprintf(f, "0000");
      for (unsigned char c : p) std::fprintf(f, " %02x", c);
      std::fprintf(f, "\n");
    }
    std::fclose(f);
  }
  std::vector<std::string> lines;
  const std::string ports = std::to_string(src) + "," + std::to_string(dst);
  const std::string make = "text2pcap -q -4 127.0.0.1,127.0.0.1 -u " + ports + " '" + text + "' '" + pcap + "'";
  // tshark takes the decode-as option anywhere on its line.
  if (std::system(make.c_str()) == 0)
    lines = TsharkFields(pcap, "-d udp.port==" + std::to_string(dst) + "," + proto + " " + fields);
  std::remove(text.c_str());
  std::remove(pcap.c_str());
  ::rmdir(dir);
  return lines;
}

}  // namespace SimBoard
