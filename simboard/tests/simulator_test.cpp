#include "simboard/simulator.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "foundation/mux_time.h"
#include "simboard/tests/sim_test_util.h"

namespace {

using SimBoard::Reply;
using SimBoard::Session;
using SimBoard::Simulator;
using simtest::Capture;
using simtest::Probe;

class SimulatorTest : public ::testing::Test {
protected:
  SimulatorTest() {
    probe = new Probe;
    bytes = new Probe("/dev/probe-bytes", SOCK_STREAM);
    sim.add(std::unique_ptr<SimBoard::Driver>(probe));
    sim.add(std::unique_ptr<SimBoard::Driver>(bytes));
  }

  Reply Run(const std::string& line) { return sim.execute(line); }
  void ExpectOk(const std::string& line) {
    const Reply r = Run(line);
    EXPECT_FALSE(r.failed()) << line << ": " << r.text();
  }

  int Get(const Fd& fd) {
    std::uint32_t word = 0;
    return sim.ioctl(fd.lowlevel_fd(), Probe::kGet, &word);
  }

  Simulator sim;
  Probe* probe;
  Probe* bytes;
};

TEST_F(SimulatorTest, DuplicatedDescriptorsReachTheSameOpen) {
  Fd fd = sim.open("/dev/probe", O_RDWR);
  ASSERT_TRUE(fd.is_valid());
  Fd other = sim.open("/dev/probe", O_RDWR);
  ASSERT_EQ(2u, probe->sessions().size());

  std::uint32_t word = 0;
  EXPECT_EQ(3, sim.ioctl(fd.lowlevel_fd(), Probe::kGet, &word));
  EXPECT_EQ(7u, word);
  Session* first = probe->last;
  ASSERT_NE(nullptr, first);

  const int dup = ::dup(fd.lowlevel_fd());
  EXPECT_EQ(0, sim.ioctl_value(dup, Probe::kSet, 42));
  EXPECT_EQ(first, probe->last);
  EXPECT_EQ(42u, probe->value);
  const Fd copy(fd);  // Fd copies hold duplicates too
  EXPECT_EQ(3, Get(copy));
  EXPECT_EQ(first, probe->last);
  EXPECT_EQ(first, sim.session_of(copy.lowlevel_fd()));

  EXPECT_EQ(3, Get(other));
  EXPECT_NE(first, probe->last);
  ::close(dup);
}

TEST_F(SimulatorTest, LastCloseReleasesTheOpen) {
  Fd fd = sim.open("/dev/probe", O_RDWR);
  Fd copy(fd);
  fd.close();
  sim.collect_closed();
  EXPECT_EQ(0, probe->closes);
  EXPECT_EQ(1u, probe->sessions().size());
  copy.close();
  sim.collect_closed();
  EXPECT_EQ(1, probe->closes);
  EXPECT_TRUE(probe->sessions().empty());
}

TEST_F(SimulatorTest, LoopNoticesTheLastCloseByItself) {
  Fd fd = sim.open("/dev/probe", O_RDWR);
  ASSERT_EQ(1u, probe->sessions().size());
  fd.close();
  EXPECT_TRUE(simtest::run_until([&] { return probe->closes == 1; }));
  EXPECT_TRUE(probe->sessions().empty());
}

TEST_F(SimulatorTest, WhatTheDaemonWritesReachesTheDriverBeforeTheClose) {
  Fd fd = sim.open("/dev/probe", O_RDWR);
  ASSERT_EQ(5, ::write(fd.lowlevel_fd(), "START", 5));
  ASSERT_EQ(4, ::write(fd.lowlevel_fd(), "STOP", 4));
  fd.close();
  sim.collect_closed();
  EXPECT_EQ((std::vector<std::string>{"START", "STOP"}), probe->received);
  EXPECT_EQ(1, probe->closes);
}

TEST_F(SimulatorTest, RequestsTheDriverDoesNotTakeFailWithEnottyAndALogLine) {
  Fd fd = sim.open("/dev/probe", O_RDWR);
  std::uint32_t word = 0;
  const struct {
    const char* what;
    std::function<int()> call;
    const char* line;
  } cases[] = {
      {"unknown pointer request", [&] { return sim.ioctl(fd.lowlevel_fd(), 0xC0045009, &word); },
       "simboard: /dev/probe: unknown request 0xC0045009 (rw, 4 bytes, 'P' 9): ENOTTY\n"},
      {"unknown value request", [&] { return sim.ioctl_value(fd.lowlevel_fd(), 0x4000500A, 1); },
       "simboard: /dev/probe: unknown request 0x4000500A (read, 0 bytes, 'P' 10): ENOTTY\n"},
      {"pointer request by value", [&] { return sim.ioctl_value(fd.lowlevel_fd(), Probe::kGet, 1); },
       "simboard: /dev/probe: request 0xC0045001 (rw, 4 bytes, 'P' 1) takes a pointer, called with a value: "
       "ENOTTY\n"},
      {"value request by pointer", [&] { return sim.ioctl(fd.lowlevel_fd(), Probe::kSet, &word); },
       "simboard: /dev/probe: request 0x40005002 (read, 0 bytes, 'P' 2) takes a value, called with a pointer: "
       "ENOTTY\n"},
  };
  for (const auto& c : cases) {
    Capture err(std::cerr);
    errno = 0;
    EXPECT_EQ(-1, c.call()) << c.what;
    EXPECT_EQ(ENOTTY, errno) << c.what;
    EXPECT_EQ(c.line, err.text()) << c.what;
  }
  EXPECT_EQ(nullptr, probe->last);
}

TEST_F(SimulatorTest, DescriptorOfNoDeviceGetsEnotty) {
  int p[2];
  ASSERT_EQ(0, ::pipe(p));
  Capture err(std::cerr);
  std::uint32_t word = 0;
  EXPECT_EQ(-1, sim.ioctl(p[0], Probe::kGet, &word));
  EXPECT_EQ(ENOTTY, errno);
  EXPECT_NE(std::string::npos, err.text().find("of no simulated device: ENOTTY")) << err.text();
  ::close(p[0]);
  ::close(p[1]);
  EXPECT_EQ(-1, sim.ioctl_value(p[0], Probe::kSet, 0));
  EXPECT_EQ(EBADF, errno);
}

TEST_F(SimulatorTest, DriverErrorsAndNullRecords) {
  Fd fd = sim.open("/dev/probe", O_RDWR);
  EXPECT_EQ(-1, sim.ioctl_value(fd.lowlevel_fd(), Probe::kFail, 0));
  EXPECT_EQ(EBUSY, errno);
  EXPECT_EQ(-1, sim.ioctl(fd.lowlevel_fd(), Probe::kGet, nullptr));
  EXPECT_EQ(EFAULT, errno);
}

TEST_F(SimulatorTest, UnknownDeviceDoesNotOpen) {
  Capture err(std::cerr);
  Fd fd = sim.open("/dev/nothing", O_RDWR);
  EXPECT_FALSE(fd.is_valid());
  EXPECT_EQ(ENOENT, errno);
  EXPECT_EQ("simboard: open /dev/nothing: no such simulated device\n", err.text());
}

TEST_F(SimulatorTest, DriverCanRefuseAnOpen) {
  probe->refuse = EBUSY;
  EXPECT_FALSE(sim.open("/dev/probe", O_RDWR).is_valid());
  EXPECT_EQ(EBUSY, errno);
  EXPECT_TRUE(probe->sessions().empty());
}

TEST_F(SimulatorTest, NonBlockingOpenGivesANonBlockingDescriptor) {
  Fd fd = sim.open("/dev/probe", O_RDWR | O_NONBLOCK);
  EXPECT_TRUE(::fcntl(fd.lowlevel_fd(), F_GETFL) & O_NONBLOCK);
  EXPECT_TRUE(::fcntl(fd.lowlevel_fd(), F_GETFD) & FD_CLOEXEC);
  Fd blocking = sim.open("/dev/probe", O_RDWR);
  EXPECT_FALSE(::fcntl(blocking.lowlevel_fd(), F_GETFL) & O_NONBLOCK);
}

TEST_F(SimulatorTest, FailOpenFailsTheNthOpenOnly) {
  ExpectOk("fail open /dev/probe EACCES");
  ExpectOk("fail open /dev/probe ENODEV 3");
  std::vector<int> results;
  for (int i = 0; i < 4; ++i) {
    errno = 0;
    Fd fd = sim.open("/dev/probe", O_RDWR);
    results.push_back(fd.is_valid() ? 0 : errno);
  }
  EXPECT_EQ((std::vector<int>{EACCES, 0, ENODEV, 0}), results);
  EXPECT_EQ(2, probe->opens);
}

TEST_F(SimulatorTest, FailIoctlFailsTheNthSuchRequest) {
  const struct {
    const char* command;
    std::vector<int> results;  // errno of five kGet requests, 0 for success
  } cases[] = {
      {"fail ioctl /dev/probe 0xC0045001 EIO", {EIO, 0, 0, 0, 0}},
      {"fail ioctl /dev/probe 0xC0045001 ETIMEDOUT 3", {0, 0, ETIMEDOUT, 0, 0}},
      {"fail ioctl /dev/probe 3221508097 5 2", {0, EIO, 0, 0, 0}},
      {"fail ioctl /dev/probe 0x40005002 EIO", {0, 0, 0, 0, 0}},  // another request
  };
  Fd fd = sim.open("/dev/probe", O_RDWR);
  for (const auto& c : cases) {
    ExpectOk(c.command);
    std::vector<int> results;
    for (int i = 0; i < 5; ++i) {
      errno = 0;
      results.push_back(Get(fd) == 3 ? 0 : errno);
    }
    EXPECT_EQ(c.results, results) << c.command;
    ExpectOk("fail clear");
  }
  // Only the request it names counts towards the n-th.
  ExpectOk("fail ioctl /dev/probe 0x40005002 EPERM 2");
  EXPECT_EQ(3, Get(fd));
  EXPECT_EQ(0, sim.ioctl_value(fd.lowlevel_fd(), Probe::kSet, 1));
  EXPECT_EQ(-1, sim.ioctl_value(fd.lowlevel_fd(), Probe::kSet, 2));
  EXPECT_EQ(EPERM, errno);
  EXPECT_EQ(1u, probe->value);
}

TEST_F(SimulatorTest, FailReadCutsOrEmptiesTheNextRecord) {
  Fd fd = sim.open("/dev/probe", O_RDWR | O_NONBLOCK);
  ASSERT_EQ(1u, probe->sessions().size());
  Session& s = *probe->sessions()[0];
  ExpectOk("fail read /dev/probe short");
  ExpectOk("fail read /dev/probe zero");
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(s.send("12345678", 8));
  char buf[16];
  EXPECT_EQ(4, ::read(fd.lowlevel_fd(), buf, sizeof buf));
  EXPECT_EQ("1234", std::string(buf, 4));
  EXPECT_EQ(0, ::read(fd.lowlevel_fd(), buf, sizeof buf));
  EXPECT_EQ(8, ::read(fd.lowlevel_fd(), buf, sizeof buf));
  EXPECT_EQ(-1, ::read(fd.lowlevel_fd(), buf, sizeof buf));
  EXPECT_EQ(EAGAIN, errno);
}

TEST_F(SimulatorTest, ByteChannelGetsShortReadsButNoZeroRead) {
  Fd fd = sim.open("/dev/probe-bytes", O_RDWR | O_NONBLOCK);
  ASSERT_EQ(1u, bytes->sessions().size());
  EXPECT_TRUE(Run("fail read /dev/probe-bytes zero").failed());
  ExpectOk("fail read /dev/probe-bytes short");
  EXPECT_TRUE(bytes->send_all("abcdef", 6) == 1);
  char buf[16];
  EXPECT_EQ(3, ::read(fd.lowlevel_fd(), buf, sizeof buf));
}

TEST_F(SimulatorTest, HangupEndsEveryOpenOfTheDevice) {
  Fd fd = sim.open("/dev/probe", O_RDWR | O_NONBLOCK);
  Fd other = sim.open("/dev/probe-bytes", O_RDWR | O_NONBLOCK);
  ExpectOk("hangup /dev/probe");
  EXPECT_EQ(1, probe->closes);
  EXPECT_TRUE(probe->sessions().empty());
  pollfd p = {fd.lowlevel_fd(), POLLIN, 0};
  ASSERT_EQ(1, ::poll(&p, 1, 0));
  EXPECT_TRUE(p.revents & POLLHUP);
  char c;
  EXPECT_EQ(0, ::read(fd.lowlevel_fd(), &c, 1));
  EXPECT_EQ(-1, Get(fd));
  EXPECT_EQ(EIO, errno);
  // Other devices and new opens are not touched.
  EXPECT_EQ(3, Get(other));
  Fd again = sim.open("/dev/probe", O_RDWR);
  EXPECT_EQ(3, Get(again));
  EXPECT_EQ(1u, probe->sessions().size());
}

TEST_F(SimulatorTest, ResetDropsFaultsAndResetsEveryDevice) {
  ExpectOk("fail open /dev/probe EIO");
  ExpectOk("fail ioctl /dev/probe 0xC0045001 EIO");
  ExpectOk("board reset");
  EXPECT_EQ(1, probe->resets);
  EXPECT_EQ(1, bytes->resets);
  Fd fd = sim.open("/dev/probe", O_RDWR);
  ASSERT_TRUE(fd.is_valid());
  EXPECT_EQ(3, Get(fd));
}

TEST_F(SimulatorTest, CommandsAnswerOkOrError) {
  const struct {
    const char* line;
    const char* text;
  } cases[] = {
      {"probe say hello", "hello\nok\n"},
      {"  probe   say   hello  ", "hello\nok\n"},
      {"probe say", "error usage: probe say <word>\n"},
      {"probe", "error unknown command \"probe\"; \"help\" lists the commands\n"},
      {"nonsense here", "error unknown command \"nonsense here\"; \"help\" lists the commands\n"},
      {"board devices", "/dev/probe opens=0\n/dev/probe-bytes opens=0\nok\n"},
      {"board devices now", "error usage: board devices\n"},
      {"fail open /dev/none EIO", "error no simulated device /dev/none\n"},
      {"fail open /dev/probe EWHAT", "error unknown errno EWHAT\n"},
      {"fail open /dev/probe EIO 0", "error bad count 0\n"},
      {"fail open /dev/probe", "error usage: fail open <dev> <errno> [n]\n"},
      {"fail ioctl /dev/probe 0xC0045009 EIO", "error /dev/probe knows no request 0xC0045009 (rw, 4 bytes, 'P' 9)\n"},
      {"fail ioctl /dev/probe 0x1G EIO", "error bad request 0x1G\n"},
      {"fail ioctl /dev/probe 0xC0045001 EIO x", "error bad count x\n"},
      {"fail read /dev/probe long", "error usage: fail read <dev> short|zero\n"},
      {"hangup", "error usage: hangup <dev>\n"},
      {"hangup /dev/none", "error no simulated device /dev/none\n"},
      {"board reset", "ok\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.text, Run(c.line).text()) << c.line;
  // Nothing was set by the refused ones.
  Fd fd = sim.open("/dev/probe", O_RDWR);
  EXPECT_TRUE(fd.is_valid());
  EXPECT_EQ(3, Get(fd));
}

TEST_F(SimulatorTest, HelpListsEveryCommand) {
  const Reply r = Run("help");
  ASSERT_FALSE(r.failed());
  const std::string text = r.text();
  for (const char* c : {"help - ", "board reset - ", "board devices - ", "fail open <dev> <errno> [n] - ",
                        "fail ioctl <dev> <request> <errno> [n] - ", "fail read <dev> short|zero - ", "fail clear - ",
                        "hangup <dev> - ", "probe say <word> - answers the word"})
    EXPECT_NE(std::string::npos, text.find(c)) << c;
}

TEST_F(SimulatorTest, BlankLineIsNoCommand) {
  const Reply r = Run("   ");
  EXPECT_FALSE(r.failed());
  EXPECT_TRUE(r.lines().empty());
}

TEST(SimulatorErrno, NamesAndNumbers) {
  EXPECT_EQ(EIO, SimBoard::ParseErrno("EIO"));
  EXPECT_EQ(ENOTTY, SimBoard::ParseErrno("ENOTTY"));
  EXPECT_EQ(22, SimBoard::ParseErrno("22"));
  EXPECT_EQ(0, SimBoard::ParseErrno("eio"));
  EXPECT_EQ(0, SimBoard::ParseErrno("0"));
  EXPECT_EQ("ENODEV", SimBoard::ErrnoName(ENODEV));
  EXPECT_EQ("E4000", SimBoard::ErrnoName(4000));
}

TEST(SimulatorNumbers, DecimalAndHexWithinBounds) {
  const struct {
    const char* text;
    bool ok;
    long long value;
  } cases[] = {
      {"0", true, 0},           {"9000", true, 9000},
      {"0x2328", true, 9000},   {"0XFF", true, 255},
      {"-1", false, 0},         {"", false, 0},
      {"0x", false, 0},         {"12a", false, 0},
      {"4294967296", false, 0}, {"99999999999999999999999", false, 0},
  };
  for (const auto& c : cases) {
    long long v = -7;
    EXPECT_EQ(c.ok, SimBoard::ParseNumber(c.text, 0, 0xFFFFFFFFll, v)) << c.text;
    EXPECT_EQ(c.ok ? c.value : -7, v) << c.text;
  }
}

// The open keeps the entry of its last request; a fault injected after it
// still counts, and a table that grows does not leave it pointing nowhere.
TEST_F(SimulatorTest, RepeatedRequestStillMeetsFaultsAndGrownTables) {
  Fd fd = sim.open("/dev/probe", O_RDWR);
  EXPECT_EQ(3, Get(fd));
  ExpectOk("fail ioctl /dev/probe 0xC0045001 EIO 2");
  EXPECT_EQ(3, Get(fd));
  EXPECT_EQ(-1, Get(fd));
  EXPECT_EQ(EIO, errno);
  EXPECT_EQ(3, Get(fd));
  probe->learn(0xC0045010, 64);
  EXPECT_EQ(3, Get(fd));
  std::uint32_t word = 0;
  EXPECT_EQ(3, sim.ioctl(fd.lowlevel_fd(), 0xC0045020, &word));
  EXPECT_EQ(7u, word);
}

// ioctl_each does what as many ioctl calls would, in and outside a loop pass:
// each case runs both ways and the two must agree.
TEST_F(SimulatorTest, EachRecordGetsTheRequestInTurn) {
  enum class During { Nothing, HangUp, ToStream };
  const struct {
    const char* what;
    const char* fault;                 // control command before the call, or null
    bool hungUp;                       // before the call
    During during;                     // what the driver does in the third request
    std::vector<std::uint32_t> words;  // 0: the request failed
    int error;                         // errno afterwards: the last failure's
  } cases[] = {
      {"every record", nullptr, false, During::Nothing, {7, 7, 7, 7, 7}, 0},
      {"third fails", "fail ioctl /dev/probe 0xC0045001 EIO 3", false, During::Nothing, {7, 7, 0, 7, 7}, EIO},
      {"first fails", "fail ioctl /dev/probe 0xC0045001 ENOMEM", false, During::Nothing, {0, 7, 7, 7, 7}, ENOMEM},
      {"last fails", "fail ioctl /dev/probe 0xC0045001 EBUSY 5", false, During::Nothing, {7, 7, 7, 7, 0}, EBUSY},
      {"another request's fault", "fail ioctl /dev/probe 0x40005002 EIO", false, During::Nothing, {7, 7, 7, 7, 7}, 0},
      {"hung up before", nullptr, true, During::Nothing, {0, 0, 0, 0, 0}, EIO},
      {"hung up in the third", nullptr, false, During::HangUp, {7, 7, 7, 0, 0}, EIO},
      {"a stream in its place in the third", nullptr, false, During::ToStream, {7, 7, 7, 7, 7}, 0},
  };
  for (const bool inPass : {false, true}) {
    for (const auto& c : cases) {
      for (const bool each : {true, false}) {
        const std::string what =
            std::string(c.what) + (inPass ? " in a pass" : "") + (each ? ", each" : ", one by one");
        if (inPass) Mux::begin_pass(0);
        Fd fd = sim.open("/dev/probe", O_RDWR);
        ASSERT_TRUE(fd.is_valid()) << what;
        Session* open = probe->sessions().back();
        int gets = 0;
        probe->on_get = [&](Session& s) {
          if (++gets != 3) return;
          if (c.during == During::HangUp) sim.hangup(s);
          if (c.during == During::ToStream) {
            EXPECT_TRUE(sim.to_stream(s)) << what;
          }
        };
        if (c.fault) ExpectOk(c.fault);
        if (c.hungUp) ExpectOk("hangup /dev/probe");
        std::vector<std::uint32_t> words(5, 0);
        errno = 0;
        if (each) {
          sim.ioctl_each(fd.lowlevel_fd(), Probe::kGet, words.data(), sizeof words[0], words.size());
        } else {
          for (std::uint32_t& w : words) sim.ioctl(fd.lowlevel_fd(), Probe::kGet, &w);
        }
        EXPECT_EQ(c.words, words) << what;
        EXPECT_EQ(c.error, errno) << what;
        EXPECT_EQ(open, sim.session_of(fd.lowlevel_fd())) << what;
        int type = 0;
        socklen_t len = sizeof type;
        ASSERT_EQ(0, ::getsockopt(fd.lowlevel_fd(), SOL_SOCKET, SO_TYPE, &type, &len)) << what;
        EXPECT_EQ(c.during == During::ToStream ? SOCK_STREAM : SOCK_SEQPACKET, type) << what;
        probe->on_get = nullptr;
        ExpectOk("fail clear");
        if (inPass) Mux::end_pass();
        fd.close();
        sim.reset();
      }
    }
  }
}

// A driver that takes every record at once gets them only when no fault
// waits and the open is live; otherwise the records go one by one, and the
// words are those of as many separate requests.
TEST_F(SimulatorTest, DriverTakesAllRecordsAtOnceOnlyWhenNothingComesBetween) {
  const struct {
    const char* what;
    const char* command;  // before the call, or null
    int bulk;
    std::vector<std::uint32_t> words;
    int error;
  } cases[] = {
      {"nothing pending", nullptr, 1, {1, 2, 3, 4, 5}, 0},
      {"a fault for the third", "fail ioctl /dev/probe 0xC0045004 EIO 3", 0, {1, 2, 0, 3, 4}, EIO},
      {"hung up", "hangup /dev/probe", 0, {0, 0, 0, 0, 0}, EIO},
  };
  for (const auto& c : cases) {
    Fd fd = sim.open("/dev/probe", O_RDWR);
    probe->counted = 0;
    probe->bulk = 0;
    if (c.command) ExpectOk(c.command);
    std::vector<std::uint32_t> words(5, 0);
    errno = 0;
    sim.ioctl_each(fd.lowlevel_fd(), Probe::kCount, words.data(), sizeof words[0], words.size());
    EXPECT_EQ(c.bulk, probe->bulk) << c.what;
    EXPECT_EQ(c.words, words) << c.what;
    EXPECT_EQ(c.error, errno) << c.what;
    ExpectOk("fail clear");
    fd.close();
    sim.reset();
  }
}

// A descriptor that reaches no open: every record stays as it was, with one
// log line for the whole call.
TEST_F(SimulatorTest, EachOnNoOpenLeavesTheRecords) {
  int pipes[2];
  ASSERT_EQ(0, ::pipe(pipes));
  Fd reader(pipes[0]);
  Fd writer(pipes[1]);
  Fd closed = sim.open("/dev/probe", O_RDWR);
  const int number = closed.lowlevel_fd();
  closed.close();
  const struct {
    const char* what;
    int fd;
    int error;
    std::size_t lines;
  } cases[] = {
      {"pipe", reader.lowlevel_fd(), ENOTTY, 1},
      {"closed descriptor", number, EBADF, 0},
  };
  for (const auto& c : cases) {
    std::vector<std::uint32_t> words(4, 5);
    Capture err(std::cerr);
    errno = 0;
    sim.ioctl_each(c.fd, Probe::kGet, words.data(), sizeof words[0], words.size());
    EXPECT_EQ(c.error, errno) << c.what;
    EXPECT_EQ(std::vector<std::uint32_t>(4, 5), words) << c.what;
    const std::string text = err.text();
    EXPECT_EQ(c.lines, static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'))) << c.what << ": " << text;
  }
}

}  // namespace
