#include "hardware/frame_io.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <iostream>

#include "board/board.h"

namespace FrameIO {

Read ReadFrame(int fd, Packet& frame, int& error) {
  error = 0;
  ssize_t n;
  if (frame.try_reserve_head(0)) {
    do {
      n = ::read(fd, frame.tail(), frame._tailroom());
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
      frame.put(static_cast<unsigned>(n));
      return Read::Frame;
    }
  } else {
    // The rest of the record goes with its first octet; left there, the
    // frame would wake the loop at once again.
    unsigned char scrap[1];
    do {
      n = ::read(fd, scrap, sizeof scrap);
    } while (n < 0 && errno == EINTR);
    if (n > 0) return Read::Dropped;
  }
  if (n == 0) return Read::Ended;
  if (errno == EAGAIN || errno == EWOULDBLOCK) return Read::Dry;
  error = errno;
  return Read::Ended;
}

Write WriteFrame(int fd, const Packet& frame) {
  const unsigned len = frame.length();
  ssize_t n;
  do {
    n = ::write(fd, frame.cdata(), len);
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(len)) return Write::Sent;
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Write::Busy;
  return Write::Failed;
}

Fd OpenMccChannel(const Board::Mcc::Allocate& rec, const std::string& header) {
  Fd fd = Board::open(Board::Mcc::kDevice, O_RDWR | O_NONBLOCK);
  if (!fd.is_valid()) {
    const Errno err;
    std::cerr << header << "fail to open MCC device: " << err << std::endl;
    return Fd();
  }
  Board::Mcc::Allocate arg = rec;
  if (Board::ioctl(fd.lowlevel_fd(), Board::Mcc::kAllocate, &arg) < 0) {
    const Errno err;
    std::cerr << header << "MCC_ALLOCATE fail: " << err << std::endl;
    return Fd();
  }
  return fd;
}

}  // namespace FrameIO
