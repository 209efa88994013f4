#pragma once
// The radio engines in process on the simulated header-extension and RTP
// devices, with the main loop and a clock the test moves.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "board/board.h"
#include "board/rtp.h"
#include "board/rtp_ext.h"
#include "foundation/tests/loop_test_util.h"
#include "radio/radio_control.h"
#include "simboard/tests/default_board_test.h"
#include "simboard/tests/sim_test_util.h"

namespace radiotest {

class RadioSimTest : public simtest::DefaultBoardTest {
public:
  // An RTP session with its channel.
  int StartRtp(Fd& fd) {
    fd = Open(Board::Rtp::kDevice);
    rtp_connection_params p = {};
    EXPECT_EQ(0, Board::ioctl(fd.lowlevel_fd(), Board::Rtp::kBeginSession, &p));
    rtp_add_channel_params add = {{Board::Rtp::kAny, -1, -1}, 0};
    EXPECT_EQ(0, Board::ioctl(fd.lowlevel_fd(), Board::Rtp::kAddChannel, &add));
    return add.info.tdm;
  }
  static rtp_ext_init_params Init() {
    rtp_ext_init_params i = {};
    i.etype = 0x1337;
    return i;
  }
  static rtp_ext_attach_session_params Attach(const Fd& rtp) { return {rtp.lowlevel_fd(), ::getpid()}; }
  std::vector<std::string> Lines(const std::string& command) { return Command(command).lines(); }
  std::string Last(const std::string& command) {
    const std::vector<std::string> l = Lines(command);
    return l.empty() ? "" : l.back();
  }
  // Entries of the channel's log that start with the text, after the
  // session number.
  int Count(int tdm, const std::string& entry) {
    int n = 0;
    for (const std::string& l : Lines("rtpext log " + std::to_string(tdm)))
      n += l.find(": " + entry) != std::string::npos && l.compare(l.find(": ") + 2, entry.size(), entry) == 0;
    return n;
  }
  static in_addr Addr(const char* dotted) {
    in_addr a;
    a.s_addr = ::inet_addr(dotted);
    return a;
  }

  looptest::CachedClock clock;
};

// An engine at a time on an RTP session of the test's own; what it writes
// is read back from the device's send log.
class EngineSimTest : public RadioSimTest {
public:
  void SetUp() override {
    RadioSimTest::SetUp();
    tdm = StartRtp(rtp);
  }
  // From now on Sent() reads what e writes.
  void Follow(const RTPSignalling::RadioControl& e) {
    current = &e;
    base = seen = Lines("rtpext sent " + std::to_string(tdm)).size();
  }
  // The writes since the last call, once the device has them all.
  std::vector<std::string> Sent() {
    std::vector<std::string> all;
    simtest::run_until(
        [&] {
          all = Lines("rtpext sent " + std::to_string(tdm));
          return all.size() >= base + current->GetStatistics().written;
        },
        2000);
    std::vector<std::string> fresh(all.begin() + static_cast<long>(std::min(seen, all.size())), all.end());
    seen = all.size();
    return fresh;
  }

  Fd rtp;
  int tdm = 0;

private:
  const RTPSignalling::RadioControl* current = nullptr;
  std::size_t base = 0;
  std::size_t seen = 0;
};

}  // namespace radiotest
