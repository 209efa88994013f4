#include "simboard/testing/tshark.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

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

}  // namespace SimBoard
