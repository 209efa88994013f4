#pragma once
// Helpers of the bus test checks: the controller's request and the pattern
// the board writes and expects.
#include <cstdlib>
#include <string>
#include <vector>

#include "control/testing/test_controller.h"
#include "messages/LGCP.h"

namespace bustest {

enum Mode { Read, Write, Disconnect };

inline LGCP::Message TestBpc(int bus, int start, int length, int seed, Mode mode, long seq = 7) {
  LGCP::Command command;
  LGCP::BpcTestParams& p = command.select_testBpc();
  p.set_bus(static_cast<unsigned>(bus));
  p.set_seed(seed);
  p.set_timeslot_start(static_cast<unsigned>(start));
  p.set_timeslot_length(static_cast<unsigned>(length));
  LGCP::BpcTestMode& m = p.set_mode();
  if (mode == Read) m.select_read();
  if (mode == Write) m.select_write();
  if (mode == Disconnect) m.select_disconnect();
  return CtrlTest::Controller::Make(command, seq);
}

// What the C library's random() gives after srandom(seed), low 8 bits.
inline std::vector<unsigned char> LibraryPattern(int seed, int n) {
  ::srandom(static_cast<unsigned>(seed));
  std::vector<unsigned char> bytes;
  for (int i = 0; i < n; ++i) bytes.push_back(static_cast<unsigned char>(::random() & 0xFF));
  return bytes;
}

// An octet as the bus test's log lines write it.
inline std::string Hex(unsigned char b) {
  static const char digits[] = "0123456789ABCDEF";
  return std::string{digits[b >> 4], digits[b & 15], ' '};
}

}  // namespace bustest
