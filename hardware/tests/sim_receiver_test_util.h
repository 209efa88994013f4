#pragma once
// Helpers of the receiver tests on the simulated board: control commands run
// in-process, and the loop run until a device's records are all read.
#include <gtest/gtest.h>
#include <poll.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "simboard/simulator.h"
#include "simboard/tests/sim_test_util.h"

namespace rxtest {

// The command's lines; a failed command fails the test.
inline std::vector<std::string> Cmd(const std::string& line) {
  const SimBoard::Reply r = SimBoard::Simulator::instance().execute(line);
  EXPECT_FALSE(r.failed()) << line << ": " << r.text();
  return r.lines();
}

// The value of "key=" in a line of key=value words, "" when absent.
inline std::string Field(const std::string& line, const std::string& key) {
  std::istringstream in(line);
  std::string word;
  while (in >> word)
    if (word.compare(0, key.size() + 1, key + "=") == 0) return word.substr(key.size() + 1);
  return "";
}

// The first line that starts with prefix, "" when none.
inline std::string Line(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& l : lines)
    if (l.compare(0, prefix.size(), prefix) == 0) return l;
  return "";
}

inline bool Readable(int fd) {
  pollfd p = {fd, POLLIN, 0};
  return fd >= 0 && ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

// Runs the loop until the descriptor holds nothing more to read.
inline bool DrainLoop(int fd) {
  return simtest::run_until([fd] { return !Readable(fd); });
}

// The text without the line the loop writes each time it ends.
inline std::string WithoutLoopEnd(std::string text) {
  const std::string line = "Mux: terminating...\n";
  for (std::size_t at; (at = text.find(line)) != std::string::npos;) text.erase(at, line.size());
  return text;
}

// How often part occurs in text.
inline int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

}  // namespace rxtest
