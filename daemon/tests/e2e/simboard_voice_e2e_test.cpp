// Voice players and recorders on the daemon and the default simulated board:
// a TCP peer run by the test feeds a network player or takes a recorder's
// stream, phrase files lie in the voice directory under the build's root,
// and the trunk timeslots the slots feed or hear are tapped and injected
// through the board's control socket.
#include <arpa/inet.h>
#include <poll.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "control/testing/commands.h"
#include "daemon/tests/e2e/board_e2e.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"
#include "simboard/testing/sim_client.h"

using namespace e2e;
using namespace CtrlTest;

namespace {

// A TCP peer on a free loopback port, one connection at a time.
class Peer {
public:
  Peer() {
    listener = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (::bind(listener.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), len) != 0 ||
        ::listen(listener.lowlevel_fd(), 4) != 0 ||
        ::getsockname(listener.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
      listener.close();
    port = ntohs(sa.sin_port);
  }

  // The next connection within the time.
  bool Accept(int ms) {
    if (!Ready(listener, ms)) return false;
    conn = Fd(::accept4(listener.lowlevel_fd(), nullptr, nullptr, SOCK_CLOEXEC));
    return conn.is_valid();
  }

  // What arrives until n bytes came, the daemon closed or the time is up.
  std::string Read(std::size_t n, int ms = 5000) {
    std::string bytes;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (bytes.size() < n) {
      const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
      if (!Ready(conn, left < 0 ? 0 : left)) break;
      char buf[4096];
      const ssize_t got = ::recv(conn.lowlevel_fd(), buf, std::min(sizeof buf, n - bytes.size()), 0);
      if (got <= 0) break;
      bytes.append(buf, std::size_t(got));
    }
    return bytes;
  }

  bool Send(const std::string& bytes) {
    return ::send(conn.lowlevel_fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
  }
  void Hangup() { conn.close(); }

  unsigned short port = 0;

private:
  static bool Ready(const Fd& fd, int ms) {
    pollfd p = {fd.lowlevel_fd(), POLLIN, 0};
    return ::poll(&p, 1, ms) == 1;
  }

  Fd listener;
  Fd conn;
};

std::string Pattern(std::size_t n, int seed) {
  std::string bytes;
  for (std::size_t i = 0; i < n; ++i) bytes.push_back(char((i * 7 + i / 251 + std::size_t(seed)) & 0xFF));
  return bytes;
}

void Host(TERM::HostAddress& host, unsigned short port, const char* address = "127.0.0.1") {
  host.set_iaddr(address);
  host.set_port(port);
}

LGCP::Command NetworkPlayer(unsigned short port, int id, const char* address = "127.0.0.1") {
  LGCP::Command c;
  LGCP::PlayerParams_network& p = c.select_create().select_voice().select_player().select_network();
  Host(p.set_host(), port, address);
  p.set_id(id);
  return c;
}

LGCP::Command Recorder(unsigned short port) {
  LGCP::Command c;
  Host(c.select_create().select_voice().select_record(), port);
  return c;
}

std::size_t linesWith(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

using Match = std::function<bool(const LGCP::Signal&)>;

bool Abort0(const LGCP::Signal& s) { return s.abort_isSelected() && s.get_abort().getValue() == 0; }
bool TxInactive(const LGCP::Signal& s) {
  return s.transmitter_isSelected() && s.get_transmitter().inactive_isSelected();
}
bool RxActive(const LGCP::Signal& s) { return s.receiver_isSelected() && s.get_receiver().active_isSelected(); }
bool StartPlaying(const LGCP::Signal& s) { return s.ioctl_isSelected() && s.get_ioctl().startPlaying_isSelected(); }
Match StopRecording(int cause) {
  return [cause](const LGCP::Signal& s) {
    return s.ioctl_isSelected() && s.get_ioctl().stopRecording_isSelected() &&
           s.get_ioctl().get_stopRecording().asInt() == cause;
  };
}

class VoiceBoard : public BoardDaemon {
protected:
  void SetUp() override {
    Daemon::SetUp();
    voiceDir = SysPaths::resolve(SysPaths::kVoiceDir);
    ::mkdir(SysPaths::resolve("/usr/local/").c_str(), 0755);
    ::mkdir(voiceDir.c_str(), 0755);
  }
  void TearDown() override {
    for (const std::string& p : written) std::remove(p.c_str());
    for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) ::rmdir(it->c_str());
  }

  // Waits for a signal of the slot that matches; every signal that arrives
  // is kept for Count.
  bool Await(long slot, const Match& match, int ms = 5000) {
    for (std::size_t i = 0; i < signals.size(); ++i)
      if (!taken[i] && Controller::SlotOf(signals[i]) == slot && match(signals[i].get_pdu().get_signal())) {
        taken[i] = true;
        return true;
      }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
      LGCP::Message m;
      if (left <= 0 || controller.ReceiveSignal(m, left) != Controller::Ok) return false;
      signals.push_back(m);
      const bool hit = Controller::SlotOf(m) == slot && match(m.get_pdu().get_signal());
      taken.push_back(hit);
      if (hit) return true;
    }
  }

  // The slot's signals that match, of all that came before a ping's answer.
  int Count(long slot, const Match& match) {
    LGCP::Message answer;
    EXPECT_EQ(Controller::Ok, controller.Call(Controller::Ping(++seq), answer, 5000));
    LGCP::Message m;
    while (controller.ReceiveSignal(m, 0) == Controller::Ok) {
      signals.push_back(m);
      taken.push_back(false);
    }
    int n = 0;
    for (const LGCP::Message& s : signals)
      if (Controller::SlotOf(s) == slot && match(s.get_pdu().get_signal())) ++n;
    return n;
  }

  // The position of the slot's first signal that matches, -1 for none.
  int First(long slot, const Match& match) const {
    for (std::size_t i = 0; i < signals.size(); ++i)
      if (Controller::SlotOf(signals[i]) == slot && match(signals[i].get_pdu().get_signal())) return int(i);
    return -1;
  }

  // What reached the tapped line end, until n bytes came (or 5 s went by);
  // then once more, so that bytes beyond n show too.
  std::string Tapped(int trunk, int timeslot, std::size_t n) {
    const std::string cmd = "line read " + std::to_string(trunk) + " " + std::to_string(timeslot);
    auto take = [&] {
      for (const std::string& line : Board(cmd).lines) tap += Unhex(line);
    };
    Eventually([&] {
      take();
      return tap.size() >= n;
    });
    take();
    std::string all;
    all.swap(tap);
    return all;
  }

  void Phrase(const std::string& path, const std::string& bytes) {
    const std::string full = voiceDir + path;
    std::FILE* f = std::fopen(full.c_str(), "wb");
    ASSERT_NE(nullptr, f) << full;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    written.push_back(full);
  }
  void Dir(const std::string& path) {
    ::mkdir(path.c_str(), 0755);
    dirs.push_back(path);
  }

  bool Logged(const std::string& text) {
    return Eventually([&] { return contains(daemon.Out() + daemon.Err(), text); });
  }

  std::string voiceDir;
  std::vector<std::string> written;
  std::vector<std::string> dirs;
  std::vector<LGCP::Message> signals;
  std::vector<bool> taken;
  std::string tap;
};

TEST_F(VoiceBoard, NetworkPlayerSendsItsIdThenPlaysThePeer) {
  ASSERT_NO_FATAL_FAILURE(Start());
  Peer peer;
  ASSERT_NE(0, peer.port);
  EXPECT_EQ(kSuccess, Answer(Trunk(2, 3), 1));
  Board("line tap 2 3");
  EXPECT_EQ(kSuccess, Answer(NetworkPlayer(peer.port, 0x01020304), 2));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(1), 2));
  ASSERT_TRUE(peer.Accept(5000));
  EXPECT_EQ(std::string("\x01\x02\x03\x04", 4), peer.Read(4));
  EXPECT_TRUE(Await(2, StartPlaying));

  const std::string voice = Pattern(5000, 1);
  ASSERT_TRUE(peer.Send(voice));
  EXPECT_EQ(voice, Tapped(2, 3, voice.size()));
  // Nothing of the daemon's own beyond the four bytes.
  EXPECT_EQ("", peer.Read(1, 0));

  // The play goes on across a new receiver; no second connection.
  EXPECT_EQ(kSuccess, Answer(Disconnect(), 1));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(1), 2));
  const std::string more = Pattern(700, 2);
  ASSERT_TRUE(peer.Send(more));
  EXPECT_EQ(more, Tapped(2, 3, more.size()));

  peer.Hangup();
  ASSERT_TRUE(Await(2, Abort0));
  const int inactive = First(2, TxInactive);
  EXPECT_GE(inactive, 0);
  EXPECT_LT(inactive, First(2, Abort0));
  EXPECT_TRUE(Logged("connection to 127.0.0.1:" + std::to_string(peer.port) + " closed."));
  EXPECT_FALSE(peer.Accept(0));
  EXPECT_EQ(1, Count(2, StartPlaying));
  EXPECT_EQ(1, Count(2, Abort0));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 2));
  EXPECT_EQ(0, Stop());
}

TEST_F(VoiceBoard, NetworkPlayerOfARefusingPeerAborts) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const unsigned short port = FreePort();
  EXPECT_EQ(kSuccess, Answer(Trunk(2, 3), 1));
  // A peer that refuses, and an address that fails before any packet goes
  // out: both only after the connection of the player was answered.
  long slot = 2;
  for (const char* address : {"127.0.0.1", "no-address"}) {
    SCOPED_TRACE(address);
    EXPECT_EQ(kSuccess, Answer(NetworkPlayer(port, 7, address), slot));
    EXPECT_EQ(kSuccess, Answer(ConnectTo(1), slot));
    ASSERT_TRUE(Await(slot, Abort0));
    EXPECT_TRUE(Logged("connection to " + std::string(address) + ":" + std::to_string(port) + " fail."));
    EXPECT_EQ(0, Count(slot, StartPlaying));
    EXPECT_EQ(1, Count(slot, Abort0));
    // The player let go of its receiver.
    const int inactive = First(slot, TxInactive);
    EXPECT_GE(inactive, 0);
    EXPECT_LT(inactive, First(slot, Abort0));
    EXPECT_EQ(kSuccess, Answer(Destroy(), slot));
    ++slot;
  }
  EXPECT_EQ(0, Stop());
}

TEST_F(VoiceBoard, RecorderSendsWhatTheTimeslotCarries) {
  ASSERT_NO_FATAL_FAILURE(Start());
  Peer peer;
  EXPECT_EQ(kSuccess, Answer(Trunk(2, 4), 1));
  EXPECT_EQ(kSuccess, Answer(Recorder(peer.port), 2));
  EXPECT_TRUE(Await(2, RxActive));
  // No connection before something feeds it.
  EXPECT_FALSE(peer.Accept(0));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(2), 1));
  ASSERT_TRUE(peer.Accept(5000));
  std::string sent;
  for (int i = 0; i < 3; ++i) {
    const std::string part = Pattern(300 + 100 * std::size_t(i), i);
    Board("line inject 2 4 " + Hex(part));
    sent += part;
  }
  EXPECT_EQ(sent, peer.Read(sent.size()));
  EXPECT_EQ(0, Count(2, StopRecording(LGCP::StopRecordingCause::connectionFail)));

  // A peer that went shows at the next writes; the recorder stays.
  peer.Hangup();
  bool stopped = false;
  for (int i = 0; i < 50 && !stopped; ++i) {
    Board("line inject 2 4 " + Hex(Pattern(100, i)));
    stopped = Await(2, StopRecording(LGCP::StopRecordingCause::connectionAborted), 100);
  }
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(Logged("record aborted"));
  EXPECT_EQ(1, Count(2, StopRecording(LGCP::StopRecordingCause::connectionAborted)));
  EXPECT_EQ(0, Count(2, Abort0));
  // A new source, a new connection.
  EXPECT_EQ(kSuccess, Answer(Disconnect(), 2));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(2), 1));
  ASSERT_TRUE(peer.Accept(5000));
  Board("line inject 2 4 C0FFEE");
  EXPECT_EQ("\xC0\xFF\xEE", peer.Read(3));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 2));
  EXPECT_EQ(0, Stop());
}

TEST_F(VoiceBoard, RecorderOfARefusingPeerStopsOnce) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const unsigned short port = FreePort();
  EXPECT_EQ(kSuccess, Answer(Trunk(2, 5), 1));
  EXPECT_EQ(kSuccess, Answer(Recorder(port), 2));
  EXPECT_EQ(kSuccess, Answer(ConnectTo(2), 1));
  ASSERT_TRUE(Await(2, StopRecording(LGCP::StopRecordingCause::connectionFail)));
  EXPECT_TRUE(Logged("connection to 127.0.0.1:" + std::to_string(port) + " fail."));
  EXPECT_EQ(1, Count(2, StopRecording(LGCP::StopRecordingCause::connectionFail)));
  // Still a recorder: no abort, the input stays active.
  EXPECT_EQ(0, Count(2, Abort0));
  EXPECT_EQ(kSuccess, Answer(Destroy(), 2));
  EXPECT_EQ(0, Stop());
}

TEST_F(VoiceBoard, FilePlayerCountsItsPasses) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const std::string b = Pattern(3000, 3);
  Phrase("e2e-b", b);
  Phrase("e2e-empty", "");
  struct Case {
    std::vector<std::string> names;
    int repeat;
    std::string expected;
  } cases[] = {
      {{"e2e-a", "e2e-b"}, 2, b + b},
      {{"e2e-b"}, -1, b},
      {{"e2e-b", "e2e-a"}, 1, b},
      {{"e2e-empty"}, 1, ""},
      {{"e2e-empty", "e2e-b", "e2e-empty"}, 2, b + b},
  };
  long slot = 10;
  int timeslot = 3;
  for (const Case& c : cases) {
    SCOPED_TRACE(slot);
    const long trunk = slot + 1;
    EXPECT_EQ(kSuccess, Answer(Trunk(2, timeslot), trunk));
    Board("line tap 2 " + std::to_string(timeslot));
    EXPECT_EQ(kSuccess, Answer(FilePlayer(c.names, c.repeat), slot));
    EXPECT_EQ(kSuccess, Answer(ConnectTo(trunk), slot));
    ASSERT_TRUE(Await(slot, Abort0));
    const int inactive = First(slot, TxInactive);
    EXPECT_GE(inactive, 0);
    EXPECT_LT(inactive, First(slot, Abort0));
    EXPECT_EQ(c.expected, Tapped(2, timeslot, c.expected.size()));
    EXPECT_EQ(1, Count(slot, Abort0));
    EXPECT_EQ(kSuccess, Answer(Destroy(), slot));
    EXPECT_EQ(kSuccess, Answer(Destroy(), trunk));
    slot += 2;
    ++timeslot;
  }
  EXPECT_FALSE(contains(daemon.Err(), "play failed"));
  EXPECT_EQ(0, Stop());
}

TEST_F(VoiceBoard, FilePlayerRefusesNamesOutsideTheVoiceDirectory) {
  ASSERT_NO_FATAL_FAILURE(Start());
  // Files the refused names would reach.
  Dir(voiceDir + "e2e-sub");
  Phrase("e2e-sub/x", "sub");
  Phrase("../e2e-x", "up");
  EXPECT_EQ(kSuccess, Answer(Trunk(2, 9), 1));
  long slot = 2;
  for (const std::string& name : {std::string("../e2e-x"), std::string(""), std::string("e2e-sub/x")}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(kSuccess, Answer(FilePlayer({name}, 1), slot));
    EXPECT_TRUE(Logged("phrase name refused: \"" + name + "\""));
    EXPECT_EQ(LGCP::ErrorCause::connectFail, Answer(ConnectTo(1), slot));
    ASSERT_TRUE(Await(slot, Abort0));
    EXPECT_EQ(1, Count(slot, Abort0));
    EXPECT_EQ(0, Count(slot, TxInactive));
    EXPECT_EQ(kSuccess, Answer(Destroy(), slot));
    ++slot;
  }
  EXPECT_EQ(0, Stop());
}

TEST_F(VoiceBoard, AChannelThatDoesNotOpenRefusesTheCreate) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const struct {
    LGCP::Command create;
    const char* logged;
  } cases[] = {
      {NetworkPlayer(FreePort(), 1), "fail to open /dev/mcc/ctl device for writing: "},
      {FilePlayer({"x"}, 1), "fail to open /dev/mcc/ctl device for writing: "},
      {Recorder(FreePort()), "fail to open /dev/mcc/ctl device for reading: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
    Board("fail open /dev/mcc/ctl ENOENT");
    EXPECT_EQ(LGCP::ErrorCause::insufficientResources, Answer(c.create, 2));
    EXPECT_TRUE(Logged(c.logged));
  }
  const std::string log = daemon.Out() + daemon.Err();
  EXPECT_EQ(2u, linesWith(log, "device for writing: "));
  EXPECT_EQ(1u, linesWith(log, "device for reading: "));
  EXPECT_EQ(0, Stop());
}

}  // namespace
