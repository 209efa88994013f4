// Frames read off a frame channel: one frame a read, and a frame longer
// than the buffer is told apart from one that fits instead of passing as
// whole.
#include "hardware/frame_io.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace {

class FrameIOTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0, fds)); }
  void TearDown() override {
    ::close(fds[0]);
    ::close(fds[1]);
  }
  void Send(std::size_t n, unsigned char fill) {
    const std::vector<unsigned char> frame(n, fill);
    ASSERT_EQ(static_cast<ssize_t>(n), ::send(fds[1], frame.data(), n, 0));
  }

  int fds[2] = {-1, -1};
};

TEST_F(FrameIOTest, AFrameLongerThanThePacketIsCutAndTheNextOneIsWhole) {
  const std::size_t longer = Packet::packet_max_size + 100;
  int sndbuf = int(longer) * 3;
  ASSERT_EQ(0, ::setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf));
  ASSERT_NO_FATAL_FAILURE(Send(longer, 0xA5));
  ASSERT_NO_FATAL_FAILURE(Send(3, 0x5A));
  int error = -1;
  std::size_t length = 0;
  Packet cut;
  EXPECT_EQ(FrameIO::Read::Cut, FrameIO::ReadFrame(fds[0], cut, error, length));
  EXPECT_EQ(longer, length);
  EXPECT_EQ(0u, cut.length());
  Packet whole;
  EXPECT_EQ(FrameIO::Read::Frame, FrameIO::ReadFrame(fds[0], whole, error, length));
  EXPECT_EQ(3u, length);
  ASSERT_EQ(3u, whole.length());
  EXPECT_EQ(0x5A, whole.cdata()[2]);
  Packet none;
  EXPECT_EQ(FrameIO::Read::Dry, FrameIO::ReadFrame(fds[0], none, error, length));
}

TEST_F(FrameIOTest, ReceiveFrameTellsTheWholeLengthOrReadsADriversDescriptor) {
  ASSERT_NO_FATAL_FAILURE(Send(20, 1));
  unsigned char buf[16];
  EXPECT_EQ(20, FrameIO::ReceiveFrame(fds[0], buf, sizeof buf));
  EXPECT_EQ(-1, FrameIO::ReceiveFrame(fds[0], buf, sizeof buf));
  EXPECT_EQ(EAGAIN, errno);

  // Not a socket: read as it comes.
  int pipefd[2];
  ASSERT_EQ(0, ::pipe(pipefd));
  ASSERT_EQ(4, ::write(pipefd[1], "abcd", 4));
  EXPECT_EQ(4, FrameIO::ReceiveFrame(pipefd[0], buf, sizeof buf));
  EXPECT_EQ('d', buf[3]);
  ::close(pipefd[0]);
  ::close(pipefd[1]);
}

}  // namespace
